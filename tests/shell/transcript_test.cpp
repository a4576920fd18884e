// Whole sessions of the orva program: start-up, statements typed through a pipe, the end.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "../core/testdb.h"
#include "../core/tempdir.h"
#include "run_orva.h"

using orvatest::Masked;
using orvatest::ReadFile;
using orvatest::RunOrva;

namespace {

const std::string kHead =
    "Orvanta: Release 3.0.01 - Production on DATE\r\n\r\n"
    "SQLite 3.";

std::string SqliteFile() {
    return orvatest::NewSqlite(
        "create table t(id integer primary key, name text); insert into t values (1, 'héllo'), (2, '中文'), (3, NULL);");
}

// The transcript after the welcome line.
std::string Session(const std::string& out) {
    std::string masked = Masked(out);
    const std::string welcome = "Commands end with ';'. Type 'help;' or '?' for help.\r\n\r\n";
    size_t at = masked.find(welcome);
    return at == std::string::npos ? "NO WELCOME IN: " + masked : masked.substr(at + welcome.size());
}

TEST(TranscriptStart, UsageVersionAndBadOptions) {
    auto run = RunOrva({}, "");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out.rfind("Orvanta ver 3.0.01, for Linux.\r\n\r\nUsage: orva -t type [OPTIONS]\r\n", 0), 0u);

    run = RunOrva({"-t", "nosuch"}, "");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out.rfind("Orvanta ver 3.0.01", 0), 0u);

    run = RunOrva({"-v"}, "");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Orvanta 3.0.01\r\n\r\n");

    run = RunOrva({"--username=x"}, "");
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.out, "Orvanta: unknow option '--username=x'.\r\n\r\n");
}

TEST(TranscriptStart, MissingDriverAndFailedLogin) {
    auto run = RunOrva({"-t", "db2"}, "");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out.rfind("ODBC Driver is not found!\r\nPlease visit: https://", 0), 0u) << run.out;
    EXPECT_NE(run.out.find("\r\n\r\nLogin failed, exit now!\r\n\r\n"), std::string::npos) << run.out;

    // A database file in a folder that does not exist cannot be opened.
    run = RunOrva({"-t", "sqlite3", "-d", "/nonexistent/dir/x.db"}, "");
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.out.find("Login failed, exit now!"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find('['), std::string::npos) << "bracketed tags left in: " << run.out;
}

TEST(TranscriptSession, StatementsOnePerLineAndSeveralOnALine) {
    std::string db = SqliteFile();
    auto run = RunOrva({"-t", "sqlite3", "-d", db, "-c", "set index off"},
                       "select 1;\n"
                       "select id, name from t where id < 3; select 2;\n"
                       "select 3\n"
                       ";\n"
                       "exit\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Masked(run.out).rfind(kHead, 0), 0u) << run.out;
    EXPECT_EQ(Session(run.out),
              "Display record index OFF.\r\n\r\n"
              "SQL> +--------+\r\n"
              "|      1 |\r\n"
              "+--------+\r\n"
              "|      1 |\r\n"
              "+--------+\r\n"
              "Query Okay, 1 row in set (T sec)\r\n\r\n"
              "SQL> +--------+--------+\r\n"
              "|     id | name   |\r\n"
              "+--------+--------+\r\n"
              "|      1 | héllo  |\r\n"
              "|      2 | 中文   |\r\n"
              "+--------+--------+\r\n"
              "Query Okay, 2 rows in set (T sec)\r\n\r\n"
              "+--------+\r\n"
              "|      2 |\r\n"
              "+--------+\r\n"
              "|      2 |\r\n"
              "+--------+\r\n"
              "Query Okay, 1 row in set (T sec)\r\n\r\n"
              "SQL>   ~ 2 +--------+\r\n"
              "|      3 |\r\n"
              "+--------+\r\n"
              "|      3 |\r\n"
              "+--------+\r\n"
              "Query Okay, 1 row in set (T sec)\r\n\r\n"
              "SQL> Bye\r\n");
}

TEST(TranscriptSession, EndOfInputAbortsAndStartupCommandExitDoesNot) {
    std::string db = SqliteFile();
    auto run = RunOrva({"-t", "sqlite3", "-d", db}, "");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Session(run.out), "SQL> \r\nAborted\r\n\r\nBye\r\n");

    // End of input inside a statement: what was gathered still runs, then the shell ends.
    run = RunOrva({"-t", "sqlite3", "-d", db}, "select count(*)\nfrom t");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(Session(run.out).find("|      3 |\r\n"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("\r\nAborted\r\n\r\nBye\r\n"), std::string::npos);

    run = RunOrva({"-t", "sqlite3", "-d", db, "-c", "exit", "-f", "/nonexistent.sql"}, "select 1;\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(Session(run.out), "Bye\r\n");
}

TEST(TranscriptSession, FullSpoolDiskIsToldOnceAndSpoolingStops) {
    if (access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not available";
    std::string db = SqliteFile();
    auto run = RunOrva({"-t", "sqlite3", "-d", db}, "spool /dev/full\nselect 1;\nselect 2;\nspool off\nexit\n");
    EXPECT_EQ(run.exitCode, 0);
    const std::string told =
        "Can't write the spool file /dev/full (No space left on device): "
        "the transcript is incomplete and spooling is off.\r\n\r\n";
    size_t at = run.out.find(told);
    ASSERT_NE(at, std::string::npos) << run.out;
    EXPECT_EQ(run.out.find(told, at + 1), std::string::npos) << run.out;
    // The shell went on with the next statement.
    EXPECT_NE(run.out.find("|      2 |", at), std::string::npos) << run.out;
}

TEST(TranscriptSession, UnusableSettingsFileIsToldOnce) {
    std::string db = SqliteFile();
    const testdb::TempDir dir("orva-cfg");
    const std::string config = dir.str(), file = config + "/orvanta/registry.reg";
    std::filesystem::create_directories(config + "/orvanta");
    auto count = [](const std::string& text, const std::string& what) {
        int n = 0;
        for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
        return n;
    };
    // A FIFO in the file's place: start-up goes on at once with the defaults and says so once.
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    auto run = RunOrva({"-t", "sqlite3", "-d", db}, "select 1;\nexit\n", {"XDG_CONFIG_HOME=" + config});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(count(run.out, "is not a regular file"), 1) << run.out;
    EXPECT_EQ(count(run.out, "Settings were not saved"), 0) << run.out;
    ASSERT_EQ(unlink(file.c_str()), 0);

    // A link to another file: read, but the save at exit refuses to write through it, once.
    const std::string other = config + "/other.reg";
    orvatest::WriteFile(other, "Windows Registry Editor Version 5.00\n");
    ASSERT_EQ(symlink(other.c_str(), file.c_str()), 0);
    run = RunOrva({"-t", "sqlite3", "-d", db}, "select 1;\nexit\n", {"XDG_CONFIG_HOME=" + config});
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_EQ(count(run.out, "Settings were not saved: the settings file " + file + " is a symbolic link"), 1)
        << run.out;
    EXPECT_EQ(ReadFile(other), "Windows Registry Editor Version 5.00\n");
}

TEST(TranscriptSession, DeclareBlocksAndLoneSlash) {
    std::string db = SqliteFile();
    // The DECLARE line opens a block; its body goes to the server as one statement at '/'.
    // A one-line DECLARE cannot loop: it goes to the server as it is.
    auto run = RunOrva({"-t", "sqlite3", "-d", db},
                       "declare\n"
                       "insert into t values (7, 'x');\n"
                       "/\n"
                       "select count(*) from t;\n"
                       "/\n"
                       "exit\n");
    EXPECT_EQ(run.exitCode, 0);
    std::string s = Session(run.out);
    EXPECT_NE(s.find("Query Okay, 1 row affected (T sec)"), std::string::npos) << s;
    // The lone '/' runs the last statement again: the count is printed twice.
    size_t first = s.find("|      4 |");
    ASSERT_NE(first, std::string::npos) << s;
    EXPECT_NE(s.find("|      4 |", first + 1), std::string::npos) << s;

    run = RunOrva({"-t", "sqlite3", "-d", db, "-c", "declare"}, "exit\n");
    EXPECT_EQ(run.exitCode, 0);
    EXPECT_NE(run.out.find("Bye"), std::string::npos);
}

TEST(TranscriptSession, ServerWordAndMissingConnection) {
    std::string db = SqliteFile();
    auto run =
        RunOrva({"-t", "sqlite3", "-d", db}, "server select 5;\n. select 6;\n. select 'server' as w;\nuse\nexit\n");
    std::string s = Session(run.out);
    EXPECT_NE(s.find("|      5 |"), std::string::npos) << s;
    EXPECT_NE(s.find("|      6 |"), std::string::npos) << s;
    EXPECT_NE(s.find("| server  |"), std::string::npos) << s;
    EXPECT_NE(s.find("Current database: " + db + "\r\n\r\n"), std::string::npos) << s;
}

TEST(TranscriptSession, PasswordFromTheEnvironmentOnPostgreSQL) {
    const char* port = std::getenv("ORVANTA_TEST_PG_PORT");
    if (!port) GTEST_SKIP() << "PostgreSQL is not running (tests/dbservers.sh)";
    std::string user = testdb::Env("ORVANTA_TEST_USER"), db = testdb::Env("ORVANTA_TEST_DB");
    std::string password = testdb::Env("ORVANTA_TEST_PASSWORD");
    auto run = RunOrva({"-t", "pgsql", "-h", "127.0.0.1", "-P", port, "-u", user, "-d", db}, "select 'é中' as v;\n",
                       {"ORVANTA_PASSWORD=" + password});
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_NE(run.out.find("\r\n\r\nPostgreSQL "), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("| é中 "), std::string::npos) << run.out;

    run = RunOrva({"-t", "pgsql", "-h", "127.0.0.1", "-P", port, "-u", user, "-d", db}, "", {"ORVANTA_PASSWORD=wrong"});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_NE(run.out.find("password authentication failed"), std::string::npos) << run.out;
    EXPECT_EQ(run.out.find("[unixODBC]"), std::string::npos) << run.out;
    EXPECT_NE(run.out.find("Login failed, exit now!"), std::string::npos);
}

TEST(TranscriptSession, MariaDBLoginAndUse) {
    const char* port = std::getenv("ORVANTA_TEST_MARIA_PORT");
    if (!port) GTEST_SKIP() << "MariaDB is not running (tests/dbservers.sh)";
    std::string user = testdb::Env("ORVANTA_TEST_USER"), db = testdb::Env("ORVANTA_TEST_DB");
    auto run = RunOrva({"-t", "mysql", "-h", "127.0.0.1", "-P", port, "-u", user,
                        "-p" + testdb::Env("ORVANTA_TEST_PASSWORD"), "-d", db},
                       "use information_schema\nselect database();\nuse no_such_db\nexit\n");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    std::string s = Session(run.out);
    EXPECT_NE(run.out.find("\r\n\r\nMariaDB "), std::string::npos) << run.out;
    EXPECT_NE(s.find("Database changed.\r\n\r\n"), std::string::npos) << s;
    EXPECT_NE(s.find("| information_schema "), std::string::npos) << s;
    // A failed USE prints the server's message and keeps the current database.
    EXPECT_NE(s.find("no_such_db'\r\n\r\nSQL> "), std::string::npos) << s;
}

}  // namespace
