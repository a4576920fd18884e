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
#include <cstdlib>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace testdb {

enum class Kind { SQLite, PostgreSQL, PostgreSQLAnsi, MariaDB };

struct Backend {
    Kind kind;
    std::string name;                // test-name friendly: SQLite, PostgreSQL, PostgreSQLAnsi, MariaDB
    std::wstring connectionString;   // ODBC connection string (empty when not available)
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
        list.push_back({Kind::PostgreSQLAnsi, "PostgreSQLAnsi", ServerConnectionString("PostgreSQL ANSI", pg), true, ""});
    } else {
        list.push_back({Kind::PostgreSQL, "PostgreSQL", L"", false, "PostgreSQL" + noServer});
        list.push_back({Kind::PostgreSQLAnsi, "PostgreSQLAnsi", L"", false, "PostgreSQL" + noServer});
    }
    if (haveUser && !maria.empty())
        list.push_back({Kind::MariaDB, "MariaDB", ServerConnectionString("MariaDB Unicode", maria), true, ""});
    else
        list.push_back({Kind::MariaDB, "MariaDB", L"", false, "MariaDB" + noServer});
    return list;
}

// For GoogleTest's parameter printing.
inline void PrintTo(const Backend& backend, std::ostream* os) { *os << backend.name; }

inline bool IsPostgres(Kind k) { return k == Kind::PostgreSQL || k == Kind::PostgreSQLAnsi; }

}  // namespace testdb
