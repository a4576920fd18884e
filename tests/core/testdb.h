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
#include <fstream>
#include <filesystem>
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

// Runs `sql` (UTF-8) through the backend's own command-line client (sqlite3, psql, mariadb) and
// gives its output: one line per row, the values separated by '|', NULL as "NULL", no headings.
// MariaDB's batch mode escapes line feeds, tabs and backslashes in values as \n, \t and \\.
inline std::string NativeQuery(const Backend& backend, const std::string& sql) {
    const std::string script =
        std::filesystem::temp_directory_path() / ("orvanta_native_" + std::to_string(getpid()) + ".sql");
    {
        std::ofstream out(script, std::ios::binary);
        if (backend.kind == Kind::SQLite) out << ".nullvalue NULL\n.separator |\n";
        out << sql << "\n";
    }
    std::string command;
    if (backend.kind == Kind::SQLite) {
        const std::string cs(backend.connectionString.begin(), backend.connectionString.end());
        const std::size_t at = cs.find("Database=") + 9;
        command =
            "sqlite3 -batch -noheader " + ShellQuote(cs.substr(at, cs.find(';', at) - at)) + " < " + ShellQuote(script);
    } else if (IsPostgres(backend.kind)) {
        command = "PGPASSWORD=" + ShellQuote(Env("ORVANTA_TEST_PASSWORD")) + " psql -X -q -A -t -v ON_ERROR_STOP=1 " +
                  "-P null=NULL -h 127.0.0.1 -p " + Env("ORVANTA_TEST_PG_PORT") + " -U " +
                  ShellQuote(Env("ORVANTA_TEST_USER")) + " -d " + ShellQuote(Env("ORVANTA_TEST_DB")) + " -f " +
                  ShellQuote(script);
    } else {
        command = "MYSQL_PWD=" + ShellQuote(Env("ORVANTA_TEST_PASSWORD")) +
                  " mariadb --default-character-set=utf8mb4 -N -B -h 127.0.0.1 -P " + Env("ORVANTA_TEST_MARIA_PORT") +
                  " -u " + ShellQuote(Env("ORVANTA_TEST_USER")) + " " + ShellQuote(Env("ORVANTA_TEST_DB")) + " < " +
                  ShellQuote(script) + " | tr '\\t' '|'";
    }
    std::string output;
    if (FILE* pipe = popen(("LC_ALL=C.UTF-8 " + command + " 2>&1").c_str(), "r")) {
        char buffer[4096];
        std::size_t n;
        while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
        pclose(pipe);
    }
    std::filesystem::remove(script);
    return output;
}

}  // namespace testdb
