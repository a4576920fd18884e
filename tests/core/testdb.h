// Test databases: the backends the data-access tests run against and their connection strings.
//
// SQLite is always available (a temporary database file through the "SQLite3" ODBC driver).
// PostgreSQL and MariaDB are the servers tests/dbservers.sh starts; it exports
//   ORVANTA_TEST_PG_PORT, ORVANTA_TEST_MARIA_PORT, ORVANTA_TEST_USER, ORVANTA_TEST_PASSWORD,
//   ORVANTA_TEST_DB.
// A backend whose variables are absent is listed with `available` false and a `skipReason`, so
// tests can GTEST_SKIP() it.
#pragma once

#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace testdb {

enum class Kind { SQLite, PostgreSQL, PostgreSQLAnsi, MariaDB };

struct Backend {
    Kind kind;
    std::string name;               // test-name friendly: SQLite, PostgreSQL, PostgreSQLAnsi, MariaDB
    std::wstring connectionString;  // ODBC connection string (empty when not available)
    bool available = false;
    std::string skipReason;
};

inline std::wstring Widen(const std::string& s) { return std::wstring(s.begin(), s.end()); }

inline std::string Env(const char* name) {
    const char* v = std::getenv(name);
    return v ? std::string(v) : std::string();
}

// A new, not yet existing SQLite database file under the temporary directory; removed at exit.
inline std::string NewSqliteFile() {
    static std::atomic<int> counter{0};
    struct Cleaner {
        std::vector<std::string> files;
        ~Cleaner() {
            std::error_code ec;
            for (const auto& f : files) std::filesystem::remove(f, ec);
        }
    };
    static Cleaner cleaner;
    std::string path = (std::filesystem::temp_directory_path() /
                        ("orvanta_test_" + std::to_string(getpid()) + "_" + std::to_string(counter++) + ".db"))
                           .string();
    std::error_code ec;
    std::filesystem::remove(path, ec);
    cleaner.files.push_back(path);
    return path;
}

inline std::wstring SqliteConnectionString(const std::string& file) {
    return L"Driver={SQLite3};Database=" + Widen(file) + L";";
}

inline std::wstring ServerConnectionString(const char* driver, const std::string& port) {
    return L"Driver={" + Widen(driver) + L"};Server=127.0.0.1;Port=" + Widen(port) + L";Database=" +
           Widen(Env("ORVANTA_TEST_DB")) + L";Uid=" + Widen(Env("ORVANTA_TEST_USER")) + L";Pwd=" +
           Widen(Env("ORVANTA_TEST_PASSWORD")) + L";";
}

// One entry per backend; SQLite gets a fresh database file per call.
inline std::vector<Backend> Backends() {
    std::vector<Backend> list;
    list.push_back({Kind::SQLite, "SQLite", SqliteConnectionString(NewSqliteFile()), true, ""});
    const bool haveUser = !Env("ORVANTA_TEST_USER").empty() && !Env("ORVANTA_TEST_DB").empty();
    const std::string pg = Env("ORVANTA_TEST_PG_PORT"), maria = Env("ORVANTA_TEST_MARIA_PORT");
    const std::string noServer = " is not running (start it with tests/dbservers.sh, as scripts/test.sh does)";
    if (haveUser && !pg.empty()) {
        list.push_back({Kind::PostgreSQL, "PostgreSQL", ServerConnectionString("PostgreSQL Unicode", pg), true, ""});
        list.push_back(
            {Kind::PostgreSQLAnsi, "PostgreSQLAnsi", ServerConnectionString("PostgreSQL ANSI", pg), true, ""});
    } else {
        list.push_back({Kind::PostgreSQL, "PostgreSQL", L"", false, "PostgreSQL" + noServer});
        list.push_back({Kind::PostgreSQLAnsi, "PostgreSQLAnsi", L"", false, "PostgreSQL" + noServer});
    }
    if (haveUser && !maria.empty())
        list.push_back({Kind::MariaDB, "MariaDB", ServerConnectionString("MariaDB Unicode", maria), true, ""});
    else list.push_back({Kind::MariaDB, "MariaDB", L"", false, "MariaDB" + noServer});
    return list;
}

// For GoogleTest's parameter printing.
inline void PrintTo(const Backend& backend, std::ostream* os) { *os << backend.name; }

inline bool IsPostgres(Kind k) { return k == Kind::PostgreSQL || k == Kind::PostgreSQLAnsi; }

// `text` quoted for /bin/sh.
inline std::string ShellQuote(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

// The entry of Backends() for `kind`.
inline Backend BackendOf(Kind kind) {
    for (Backend& backend : Backends())
        if (backend.kind == kind) return backend;
    return {kind, "", L"", false, "no such backend"};
}

// The SQLite backend on the database file `path`, for the native client.
inline Backend SqliteAt(const std::string& path) {
    return {Kind::SQLite, "SQLite", SqliteConnectionString(path), true, ""};
}

// What the backend really holds: the rows `sql` (UTF-8, one or more statements) gives through the
// DBMS's own command-line client (sqlite3, psql, mariadb) rather than through the library under
// test. One text per row, fields separated by '|', NULL as "NULL", no headings; MariaDB's batch
// escapes (\n, \t, \0, \\) are undone. A client that fails gives a first row "error: <its message>".
inline std::vector<std::string> NativeRows(const Backend& backend, const std::string& sql) {
    const std::string base = std::filesystem::temp_directory_path() / ("orvanta_native_" + std::to_string(getpid()));
    const std::string script = base + ".sql", errors = base + ".err";
    {
        std::ofstream out(script, std::ios::binary);
        if (backend.kind == Kind::SQLite) out << ".nullvalue NULL\n.separator |\n";
        const std::size_t last = sql.find_last_not_of(" \t\r\n");
        out << sql << (last != std::string::npos && sql[last] == ';' ? "\n" : ";\n");
    }
    std::string command;
    if (backend.kind == Kind::SQLite) {
        const std::string cs(backend.connectionString.begin(), backend.connectionString.end());
        const std::size_t at = cs.find("Database=") + 9;
        command = "sqlite3 -batch -bail -noheader " + ShellQuote(cs.substr(at, cs.find(';', at) - at));
    } else if (IsPostgres(backend.kind)) {
        command = "PGPASSWORD=" + ShellQuote(Env("ORVANTA_TEST_PASSWORD")) +
                  " psql -X -q -A -t -F '|' -v ON_ERROR_STOP=1 -P null=NULL -h 127.0.0.1 -p " +
                  Env("ORVANTA_TEST_PG_PORT") + " -U " + ShellQuote(Env("ORVANTA_TEST_USER")) + " -d " +
                  ShellQuote(Env("ORVANTA_TEST_DB"));
    } else {
        command = "MYSQL_PWD=" + ShellQuote(Env("ORVANTA_TEST_PASSWORD")) +
                  " mariadb --no-defaults --default-character-set=utf8mb4 -N -B -h 127.0.0.1 -P " +
                  Env("ORVANTA_TEST_MARIA_PORT") + " -u " + ShellQuote(Env("ORVANTA_TEST_USER")) + " " +
                  ShellQuote(Env("ORVANTA_TEST_DB"));
    }
    std::string output;
    int status = -1;
    if (FILE* pipe = popen(
            ("LC_ALL=C.UTF-8 " + command + " < " + ShellQuote(script) + " 2> " + ShellQuote(errors)).c_str(), "r")) {
        char buffer[4096];
        for (std::size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;) output.append(buffer, n);
        status = pclose(pipe);
    }
    std::vector<std::string> rows;
    for (std::size_t start = 0; start < output.size();) {
        std::size_t end = output.find('\n', start);
        if (end == std::string::npos) end = output.size();
        std::string row;
        for (std::size_t i = start; i < end; ++i) {
            const char c = output[i];
            if (backend.kind != Kind::MariaDB) row += c;
            else if (c == '\t') row += '|';
            else if (c == '\\' && i + 1 < end) {
                const char next = output[++i];
                row += next == 't' ? '\t' : next == 'n' ? '\n' : next == '0' ? '\0' : next;
            } else row += c;
        }
        rows.push_back(row);
        start = end + 1;
    }
    if (status != 0) {
        std::ifstream in(errors, std::ios::binary);
        rows.insert(rows.begin(), "error: " + std::string(std::istreambuf_iterator<char>(in), {}));
    }
    std::filesystem::remove(script);
    std::filesystem::remove(errors);
    return rows;
}

// The rows of NativeRows joined by line feeds.
inline std::string NativeText(const Backend& backend, const std::string& sql) {
    const std::vector<std::string> rows = NativeRows(backend, sql);
    std::string text;
    for (std::size_t i = 0; i < rows.size(); ++i) text += (i ? "\n" : "") + rows[i];
    return text;
}

}  // namespace testdb
