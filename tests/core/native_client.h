// What a table really holds, read through the DBMS's own command-line client (sqlite3, psql,
// mariadb) rather than through the library under test.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "testdb.h"

namespace testdb {

// The rows `sql` gives, one text per row, fields separated by '|', NULL as "NULL". A client that
// fails gives one row starting with "error:".
inline std::vector<std::string> NativeRows(const Backend& backend, const std::string& sql) {
    std::string command;
    switch (backend.kind) {
    case Kind::SQLite: {
        const std::wstring& cs = backend.connectionString;
        const std::size_t at = cs.find(L"Database=") + 9;
        const std::wstring file = cs.substr(at, cs.find(L';', at) - at);
        command = "sqlite3 -bail -separator '|' -nullvalue NULL " + ShellQuote(std::string(file.begin(), file.end())) +
                  " " + ShellQuote(sql);
        break;
    }
    case Kind::PostgreSQL:
    case Kind::PostgreSQLAnsi:
        command = "PGPASSWORD=" + ShellQuote(Env("ORVANTA_TEST_PASSWORD")) +
                  " psql -X -q -At -F '|' -P null=NULL -v ON_ERROR_STOP=1 " + "-h 127.0.0.1 -p " +
                  Env("ORVANTA_TEST_PG_PORT") + " -U " + ShellQuote(Env("ORVANTA_TEST_USER")) + " -d " +
                  ShellQuote(Env("ORVANTA_TEST_DB")) + " -c " + ShellQuote(sql);
        break;
    case Kind::MariaDB:
        command = "MYSQL_PWD=" + ShellQuote(Env("ORVANTA_TEST_PASSWORD")) + " mariadb -N -B -h 127.0.0.1 -P " +
                  Env("ORVANTA_TEST_MARIA_PORT") + " -u " + ShellQuote(Env("ORVANTA_TEST_USER")) + " " +
                  ShellQuote(Env("ORVANTA_TEST_DB")) + " -e " + ShellQuote(sql);
        break;
    }
    std::vector<std::string> rows;
    FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
    if (!pipe) return {"error: popen"};
    std::string out;
    char buffer[4096];
    for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;) out.append(buffer, n);
    const int status = ::pclose(pipe);
    for (std::size_t start = 0; start < out.size();) {
        std::size_t end = out.find('\n', start);
        if (end == std::string::npos) end = out.size();
        std::string row = out.substr(start, end - start);
        if (backend.kind == Kind::MariaDB)
            for (char& ch : row)
                if (ch == '\t') ch = '|';
        rows.push_back(row);
        start = end + 1;
    }
    if (status != 0) rows.insert(rows.begin(), "error: " + out);
    return rows;
}

}  // namespace testdb
