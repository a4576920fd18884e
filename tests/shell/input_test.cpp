// Hostile and generated input through a pipe into the real orva program: many statements on one
// line, closed standard input, NUL bytes, comments, huge lines, REDO fan-out, generated files.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <random>
#include <string>

#include "../core/testdb.h"
#include "run_orva.h"

using orvatest::Ask;
using orvatest::Contains;
using orvatest::RunOrva;

namespace {

std::string Sqlite(const std::string& sql = "create table m(k integer);") { return orvatest::NewSqlite(sql); }

size_t Count(const std::string& text, const std::string& what) {
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
    return n;
}

TEST(InputLines, ManyStatementsOnOneLineRunInOrder) {
    const std::string db = Sqlite();
    // 20,000 empty statements, then 3,000 inserts and a select, all on one line.
    std::string line = "pragma synchronous = off;" + std::string(20000, ';');
    for (int i = 1; i <= 3000; ++i) line += " insert into m values (" + std::to_string(i) + ");";
    line += " select max(k) as top from m;\n";
    auto run = RunOrva({"-t", "sqlite3", "-d", db}, line);
    EXPECT_EQ(run.exitCode, 0) << run.out.substr(0, 2000);
    EXPECT_EQ(Count(run.out, "1 row affected"), 3000u);
    EXPECT_TRUE(Contains(run.out, "    top |\r\n+---+--------+\r\n| 1 |   3000 |"))
        << run.out.substr(run.out.size() > 2000 ? run.out.size() - 2000 : 0);
    EXPECT_TRUE(Contains(run.out, "Aborted\r\n\r\nBye\r\n"));
    // In order: the last insert is the 3000th row.
    EXPECT_EQ(Ask(db, "select count(*), max(rowid) from m where k = rowid"), "3000|3000");
}

}  // namespace

namespace {

// SQLite without a database file works in memory, as the sqlite3 client does, and leaves no file.
TEST(InputLines, SqliteWithoutAFileWorksInMemory) {
    const auto strayFiles = [] {
        int n = 0;
        for (const auto& entry : std::filesystem::directory_iterator("."))
            n += entry.path().filename().string().rfind("Driver=", 0) == 0;
        return n;
    };
    const int before = strayFiles();
    auto run = RunOrva({"-t", "sqlite3"}, "create table t(x);\ninsert into t values (42);\nselect x from t;\n");
    EXPECT_TRUE(Contains(run.out, "| 1 |     42 |")) << run.out;
    EXPECT_EQ(strayFiles(), before);
}

TEST(InputLines, ClosedInputEndsAsEndOfInput) {
    orvatest::RunOptions closed;
    closed.closeInput = true;
    closed.limitMs = 20000;
    auto run = RunOrva({"-t", "sqlite3", "-d", Sqlite()}, "", {}, closed);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "SQL> \r\nAborted\r\n\r\nBye\r\n")) << run.out;
}

}  // namespace

namespace {

TEST(InputLines, RedoOfRedosIsBounded) {
    // The entry stored in the history runs 35 REDOs of itself before its select.
    std::string entry;
    for (int i = 0; i < 35; ++i) entry += "redo 1; ";
    entry += "select 7 as seven;\n";
    orvatest::RunOptions limit;
    limit.limitMs = 60000;
    auto run = RunOrva({"-t", "sqlite3", "-d", Sqlite()}, entry + "redo 1\nselect 8 as eight;\n", {}, limit);
    EXPECT_EQ(run.exitCode, 0) << run.out.substr(0, 3000);
    EXPECT_EQ(Count(run.out, "REDO stopped: more than 256 history entries run for one line."), 1u);
    // The line after the REDO still runs.
    EXPECT_TRUE(Contains(run.out, "  eight |")) << run.out.substr(run.out.size() > 2000 ? run.out.size() - 2000 : 0);
    EXPECT_LT(Count(run.out, "  seven |"), 300u);
}

}  // namespace

namespace {

using orvatest::ReadFile;
using orvatest::WriteFile;

TEST(InputLines, NulBytesAreRefusedAndTheNextStatementsRun) {
    const std::string db = Sqlite();
    std::string input("\0\0\0\n", 4);
    input += "insert into m values (1); select 'a";
    input += std::string(1, '\0');
    input += "b' as v; insert into m values (2);\n";
    input += "insert into m values (3);\n";
    auto run = RunOrva({"-t", "sqlite3", "-d", db}, input);
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(Count(run.out, "Statement refused: it holds a NUL character.\r\n\r\n"), 2u) << run.out;
    EXPECT_EQ(Ask(db, "select group_concat(k) from m"), "1,2,3");
}

TEST(InputLines, CommentsHideNoStatementEndAndOpenNoQuote) {
    const std::string db = Sqlite();
    auto run = RunOrva({"-t", "sqlite3", "-d", db},
                       "insert into m values (1); -- don't stop here\n"
                       "insert into m values (2); /* it's; fine */ insert into m values (3);\n"
                       "insert into m values (4) -- a ';' in a comment ends nothing\n"
                       ";\n"
                       "insert into m /* 'a\n quote */ values (5);\n");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_EQ(Ask(db, "select group_concat(k) from m"), "1,2,3,4,5") << run.out;
    EXPECT_FALSE(Contains(run.out, "error")) << run.out;
}

TEST(InputLines, HugeLinesAreRefusedAndTheShellGoesOn) {
    const std::string db = Sqlite();
    const std::string huge = "insert into m values (9); --" + std::string(33u << 20, 'x');
    const std::string script = testdb::NewSqliteFile() + ".sql";
    WriteFile(script, "insert into m values (8);\n" + huge + "\nGO\n");
    auto run = RunOrva({"-t", "sqlite3", "-d", db}, huge + "\ninsert into m values (1);\n@ " + script + "\n");
    EXPECT_EQ(run.exitCode, 0) << run.out.substr(0, 2000);
    EXPECT_EQ(Count(run.out, "Input refused: a line or statement longer than 33554432 bytes.\r\n\r\n"), 2u)
        << run.out.substr(0, 2000);
    EXPECT_EQ(Ask(db, "select group_concat(k) from m"), "1");
    std::remove(script.c_str());
}

TEST(InputScripts, BatchesOfSeveralStatementsRunWhereTheDriverTakesOne) {
    const std::string db = Sqlite();
    const std::string script = testdb::NewSqliteFile() + ".sql";
    WriteFile(script,
              "create table s(k integer); -- first; of three\n"
              "insert into s values (1); insert into s values ('a;b');\n"
              "create trigger tr after insert on s begin\n"
              "  insert into m values (case when new.k = 3 then 30 else 0 end);\n"
              "  insert into m values (new.k);\n"
              "end;\n"
              "insert into s values (3);\n"
              "GO\n"
              "insert into s values (4); insert into s valuez (5);\n"
              "GO\n");
    auto run = RunOrva({"-t", "sqlite3", "-d", db}, "@ " + script + "\n");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    EXPECT_TRUE(Contains(run.out, "syntax error")) << run.out;
    EXPECT_FALSE(Contains(run.out, "Execute script success")) << run.out;
    // The first batch is committed whole; the failing second one left nothing.
    EXPECT_EQ(Ask(db, "select group_concat(k) from s"), "1,a;b,3");
    EXPECT_EQ(Ask(db, "select group_concat(k) from m"), "30,3");
    std::remove(script.c_str());
}

TEST(InputData, ControlCharactersInValuesAreShownAsEscapes) {
    const std::string db = Sqlite(
        "create table c(v text); insert into c values ('a' || char(27) || '[2J' || char(7)), "
        "('x' || char(9) || 'y' || char(13) || 'z'), ('two' || char(10) || 'lines'), ('d' || char(127));");
    const std::string spool = testdb::NewSqliteFile() + ".lst";
    auto run = RunOrva({"-t", "sqlite3", "-d", db},
                       "spool " + spool +
                           "\nselect v from c;\nset table off\nselect v from c;\n"
                           "select * from \"no\x1b]2;T\x07tab\";\nselect char(8238) || 'ab' || char(8233) as w;\n"
                           "spool off\n");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    for (char control : {'\x1b', '\x07', '\x09', '\x7f'})
        EXPECT_EQ(run.out.find(control), std::string::npos) << run.out;
    EXPECT_TRUE(Contains(run.out,
                         "| 1 | a\\x1B[2J\\x07  |\r\n| 2 | x\\ty\\x0Dz     |\r\n| 3 | two           |\r\n"
                         "|   | lines         |\r\n| 4 | d\\x7F         |\r\n"))
        << run.out;
    EXPECT_TRUE(Contains(run.out, "v: a\\x1B[2J\\x07\r\n")) << run.out;
    EXPECT_TRUE(Contains(run.out, "v: d\\x7F\r\n")) << run.out;
    // Driver error texts and echoes of the input, bidirectional overrides and separators too.
    EXPECT_TRUE(Contains(run.out, "no such table: no\\x1B]2;T\\x07tab")) << run.out;
    EXPECT_TRUE(Contains(run.out, "w: \\u202Eab\\u2029\r\n")) << run.out;
    // The transcript holds what the screen shows.
    const std::string transcript = ReadFile(spool);
    EXPECT_TRUE(Contains(transcript, "| 1 | a\\x1B[2J\\x07  |\r\n")) << transcript;
    EXPECT_EQ(transcript.find('\x1b'), std::string::npos);
    std::remove(spool.c_str());
}

}  // namespace

namespace {

TEST(InputData, EmojiRowsStayAligned) {
    const std::string db = Sqlite(
        "create table e(v text); insert into e values ('a😀b'), ('🚀'), ('🇩🇪x'), "
        "('👨‍👩‍👧'), ('plain');");
    auto run = RunOrva({"-t", "sqlite3", "-d", db, "-c", "set index off"}, "select v from e;\n");
    EXPECT_EQ(run.exitCode, 0) << run.out;
    const size_t start = run.out.find("+-");
    ASSERT_NE(start, std::string::npos) << run.out;
    // Every line of the table is as wide on the screen as its border (8 columns).
    const std::string border = run.out.substr(start, run.out.find("\r\n", start) - start);
    const std::vector<std::string> rows{"| a😀b   |", "| 🚀     |", "| 🇩🇪x    |", "| 👨‍👩‍👧     |",
                                        "| plain  |"};
    for (const std::string& row : rows) EXPECT_TRUE(Contains(run.out, "\r\n" + row + "\r\n")) << row << "\n" << run.out;
    EXPECT_EQ(border, "+--------+");
}

}  // namespace

namespace {

// Generated input: random lines of statements, quotes, comments, NULs, Tabs and very long lines.
// Each marker insert must run exactly once, whatever surrounds it; nothing crashes or hangs.
// (A statement read from a line ends with that line once the line brings a ';', so text that
// spans lines starts on a line of its own.)
// A quote or comment opened after a finished statement runs on into the next lines.
TEST(InputLines, QuotesAndCommentsOpenedAfterAStatementEndSpanLines) {
    const std::string db = Sqlite("create table m(k integer, t text);");
    auto run = RunOrva({"-t", "sqlite3", "-d", db},
                       "insert into m values (1, 'a'); /* multi\nline ; */ insert into m values (2, 'b');\n"
                       "insert into m values (3, 'c'); insert into m values (4, 'x;\ny');\n"
                       "insert into m values (5, 'd'); /* unterminated\ninsert into m values (6, 'lost');\n");
    EXPECT_EQ(Ask(db, "select group_concat(k || '=' || replace(t, char(13), ''), ',') from m"),
              "1=a,2=b,3=c,4=x;\ny,5=d")
        << run.out;
}

TEST(InputGenerated, NoStatementIsLostOrRunTwice) {
    std::mt19937 random(20261207);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    const std::vector<std::string> noise{"-- don't; stop \"here\"\n",
                                         "/* it's; */",
                                         "\t",
                                         "select 'a;b' as q, \"x\" || ';' as r from m where 0;",
                                         "select 'it''s' as s where 0;",
                                         "/* multi\n line ' ; */ select 2 where 0;",
                                         std::string("select 'x\0y';", 13),
                                         std::string("\0\0\n", 3),
                                         "-- " + std::string(200000, 'z') + "\n",
                                         "select 1 where 0; -- tail ' \n"};
    std::string input = "pragma synchronous = off;\n";
    // A statement over several lines starts a line (a line with a ';' ends the reading); a comment
    // running over lines may follow other statements on its line.
    auto add = [&](const std::string& text) {
        const size_t lineFeed = text.find('\n');
        if (lineFeed != std::string::npos && lineFeed + 1 < text.size() && text.rfind("/*", 0) != 0 &&
            input.back() != '\n')
            input += '\n';
        input += text;
    };
    int markers = 0;
    for (int line = 0; line < 400; ++line) {
        const int parts = 1 + pick(4);
        for (int p = 0; p < parts; ++p) {
            if (pick(3) == 0) {
                add(noise[static_cast<size_t>(pick(static_cast<int>(noise.size())))]);
                continue;
            }
            const std::string k = std::to_string(++markers);
            switch (pick(4)) {
            case 0: add("insert into m values (" + k + ");"); break;
            case 1: add("insert\tinto m\nvalues (" + k + ") ;"); break;
            // (A ';' in a comment inside a statement is refused by the SQLite driver itself.)
            case 2: add("/* ' ; */ insert into m /* ' */ values (" + k + ") -- ;\n;"); break;
            default: add(" insert into m select " + k + " where 'a;' <> ';';"); break;
            }
            input += pick(2) ? " " : "\n";
        }
        input += "\n";
    }
    orvatest::RunOptions limit;
    limit.limitMs = 60000;
    const std::string db = Sqlite();
    auto run = RunOrva({"-t", "sqlite3", "-d", db}, input, {}, limit);
    EXPECT_EQ(run.exitCode, 0) << run.out.substr(run.out.size() > 3000 ? run.out.size() - 3000 : 0);
    EXPECT_EQ(Ask(db, "select count(*), count(distinct k), min(k), max(k) from m"),
              std::to_string(markers) + "|" + std::to_string(markers) + "|1|" + std::to_string(markers));
    EXPECT_TRUE(Contains(run.out, "Bye\r\n"));
}

}  // namespace

namespace {

// The answers of the mariadb and psql clients to `sql` on the test database.
std::string AskMaria(const std::string& sql) { return orvatest::AskServer(testdb::Kind::MariaDB, sql); }
std::string AskPg(const std::string& sql) { return orvatest::AskServer(testdb::Kind::PostgreSQL, sql); }

orvatest::Run RunMaria(const std::vector<std::string>& extra, const std::string& input) {
    std::vector<std::string> args{"-t", "mysql",
                                  "-h", "127.0.0.1",
                                  "-P", testdb::Env("ORVANTA_TEST_MARIA_PORT"),
                                  "-u", testdb::Env("ORVANTA_TEST_USER"),
                                  "-d", testdb::Env("ORVANTA_TEST_DB")};
    args.insert(args.end(), extra.begin(), extra.end());
    return RunOrva(args, input, {"ORVANTA_PASSWORD=" + testdb::Env("ORVANTA_TEST_PASSWORD")});
}

TEST(InputScripts, MariaDbWithoutMultiStatementsRunsTheBatchStatementByStatement) {
    if (!std::getenv("ORVANTA_TEST_MARIA_PORT")) GTEST_SKIP() << "MariaDB is not running (tests/dbservers.sh)";
    const std::string table = "split_" + std::to_string(getpid());
    const std::string script = testdb::NewSqliteFile() + ".sql";
    orvatest::WriteFile(script, "create table " + table + "(k int); -- two; more\ninsert into " + table +
                                    " values (1); insert into " + table + " values (2);\nGO\n");
    auto run = RunMaria({}, "@ " + script + "\n");
    EXPECT_TRUE(Contains(run.out, "Execute script success.")) << run.out;
    EXPECT_EQ(AskMaria("select count(*) from " + table + "; drop table " + table), "2");
    std::remove(script.c_str());
}

// "#" comments and `quoted names` hide a ';' from the statement's end, typed or piped.
TEST(InputLines, MariaDbHashCommentsAndBackticksHideTheEnd) {
    if (!std::getenv("ORVANTA_TEST_MARIA_PORT")) GTEST_SKIP() << "MariaDB is not running (tests/dbservers.sh)";
    const std::string t = "hash_" + std::to_string(getpid());
    AskMaria("drop table if exists " + t + "; create table " + t + "(`a;b` int)");
    auto run = RunMaria({}, "insert into " + t + " # it's one; row\n(`a;b`) values (1);\ninsert into " + t +
                                " values (2); # done; really\nselect count(*) as n from " + t + ";\n");
    EXPECT_TRUE(Contains(run.out, "| 1 |          2 |")) << run.out;
    EXPECT_FALSE(Contains(run.out, "error")) << run.out;
    EXPECT_EQ(AskMaria("select group_concat(`a;b` order by 1) from " + t + "; drop table " + t), "1,2");
}

// A trigger whose body holds several ';' runs as one statement, from -f and from @ alike.
TEST(InputScripts, MariaDbTriggerBodyScriptCreatesTheTrigger) {
    if (!std::getenv("ORVANTA_TEST_MARIA_PORT")) GTEST_SKIP() << "MariaDB is not running (tests/dbservers.sh)";
    const std::string t = "trg_" + std::to_string(getpid()), lg = "trl_" + std::to_string(getpid());
    const std::string script = testdb::NewSqliteFile() + ".sql";
    orvatest::WriteFile(script, "create trigger " + t + " after insert on " + t +
                                    " for each row\nbegin\n  insert into " + lg + " values (1);\n  insert into " + lg +
                                    " values (2);\nend;\n");
    for (const bool atSign : {false, true}) {
        AskMaria("drop table if exists " + t + ", " + lg + "; create table " + t + "(x int); create table " + lg +
                 "(x int)");
        auto run = atSign ? RunMaria({}, "@ " + script + "\n") : RunMaria({"-f", script}, "");
        EXPECT_NE(run.exitCode, 128 + SIGSEGV) << run.out;
        EXPECT_TRUE(Contains(run.out, "Execute script success.")) << run.out;
        EXPECT_EQ(AskMaria("insert into " + t + " values (7); select count(*), sum(x) from " + lg), "2|3");
    }
    AskMaria("drop table " + t + ", " + lg);
    std::remove(script.c_str());
}

}  // namespace

namespace {

orvatest::Run RunPg(const std::string& input) {
    return RunOrva({"-t", "pgsql", "-h", "127.0.0.1", "-P", testdb::Env("ORVANTA_TEST_PG_PORT"), "-u",
                    testdb::Env("ORVANTA_TEST_USER"), "-d", testdb::Env("ORVANTA_TEST_DB")},
                   input, {"ORVANTA_PASSWORD=" + testdb::Env("ORVANTA_TEST_PASSWORD")});
}

// A result that fails part way leaves the user's transaction to the user: the driver rolls back
// the failed statement only, and ROLLBACK takes back the rows before and after it. (Read through a
// cursor, the failure came at a later fetch and the driver ended the transaction: the row before
// was lost and the one after committed at once.) A data-modifying WITH runs.
TEST(InputLines, PostgreSqlResultFailingPartWayKeepsTheTransaction) {
    if (!std::getenv("ORVANTA_TEST_PG_PORT")) GTEST_SKIP() << "PostgreSQL is not running (tests/dbservers.sh)";
    const std::string t = "txr_" + std::to_string(getpid());
    AskPg("drop table if exists " + t + "; create table " + t + "(id int primary key); insert into " + t +
          " values (1), (2)");
    auto run = RunPg("begin;\ninsert into " + t + " values (3);\nselect 1/(g-5000) from generate_series(1,10000) g;\n" +
                     "insert into " + t + " values (4);\nrollback;\n" + "with x as (insert into " + t +
                     " values (5) returning id) select id from x;\n");
    EXPECT_TRUE(Contains(run.out, "division by zero")) << run.out;
    EXPECT_TRUE(Contains(run.out, "| 1 |      5 |")) << run.out;
    EXPECT_EQ(AskPg("select string_agg(id::text, ',' order by id) from " + t + "; drop table " + t), "1,2,5");
}

// A function body between dollar quotes, typed over several lines, is one statement.
TEST(InputLines, PostgreSqlDollarQuotedBodiesAreOneStatement) {
    const char* port = std::getenv("ORVANTA_TEST_PG_PORT");
    if (!port) GTEST_SKIP() << "PostgreSQL is not running (tests/dbservers.sh)";
    const std::string f = "dq_" + std::to_string(getpid());
    auto run = RunOrva({"-t", "pgsql", "-h", "127.0.0.1", "-P", port, "-u", testdb::Env("ORVANTA_TEST_USER"), "-d",
                        testdb::Env("ORVANTA_TEST_DB")},
                       "create function " + f +
                           "(x int) returns int as $fn$\nbegin\n  x := x + 1;\n  return x * 2;"
                           "\nend;\n$fn$ language plpgsql;\nselect " +
                           f + "(4) as v;\n",
                       {"ORVANTA_PASSWORD=" + testdb::Env("ORVANTA_TEST_PASSWORD")});
    EXPECT_TRUE(Contains(run.out, "| 1 |     10 |")) << run.out;
    EXPECT_EQ(AskPg("select " + f + "(4)"), "10");
    AskPg("drop function " + f);
}

// What a string holds stays in it: JSON with double quotes, a backslash, a "/" or GO line and
// indented lines inside a multi-line string; lines reach the server with the line ends of this
// system. Checked with psql, typed through a pipe and from a script.
TEST(InputLines, PostgreSqlStringsHideStatementEndsAndKeepTheirLines) {
    const char* port = std::getenv("ORVANTA_TEST_PG_PORT");
    if (!port) GTEST_SKIP() << "PostgreSQL is not running (tests/dbservers.sh)";
    const std::string t = "strs_" + std::to_string(getpid());
    AskPg("create table " + t + "(k int, v text); insert into " + t + " values (0, null)");
    const std::vector<std::string> args{"-t", "pgsql",
                                        "-h", "127.0.0.1",
                                        "-P", port,
                                        "-u", testdb::Env("ORVANTA_TEST_USER"),
                                        "-d", testdb::Env("ORVANTA_TEST_DB")};
    const std::string statements = "select '{\"a\":1}' as j;\nselect 'note; delete from " + t +
                                   "; ' as note;\nselect 'C:\\' as p;\n"
                                   "insert into " +
                                   t + " values (1, 'x;y');\ninsert into " + t +
                                   " values (2, 'l1\n   l2\n/\ngo\nl3');\n";
    const std::string script = testdb::NewSqliteFile() + ".sql";
    orvatest::WriteFile(script, "insert into " + t + " values (3, $$a\n/\n  b$$);\nGO\n");
    auto run =
        RunOrva(args, statements + "@ " + script + "\n", {"ORVANTA_PASSWORD=" + testdb::Env("ORVANTA_TEST_PASSWORD")});
    EXPECT_TRUE(Contains(run.out, "Execute script success.")) << run.out;
    EXPECT_EQ(
        AskPg("select k, replace(replace(coalesce(v, '-'), chr(13), '<CR>'), chr(10), '|') from " + t + " order by k"),
        "0|-\n1|x;y\n2|l1|   l2|/|go|l3\n3|a|/|  b");
    AskPg("drop table " + t);
    std::remove(script.c_str());
}

// A COPY that streams through the client would hang the driver: refused, and the shell goes on.
TEST(InputLines, PostgreSqlCopyThroughTheClientIsRefused) {
    const char* port = std::getenv("ORVANTA_TEST_PG_PORT");
    if (!port) GTEST_SKIP() << "PostgreSQL is not running (tests/dbservers.sh)";
    orvatest::RunOptions limit;
    limit.limitMs = 30000;
    auto run =
        RunOrva({"-t", "pgsql", "-h", "127.0.0.1", "-P", port, "-u", testdb::Env("ORVANTA_TEST_USER"), "-d",
                 testdb::Env("ORVANTA_TEST_DB")},
                "copy (select 1) to stdout;\ncreate temp table cp(x int);\ncopy cp from\n stdin;\nselect 3 as z;\n",
                {"ORVANTA_PASSWORD=" + testdb::Env("ORVANTA_TEST_PASSWORD")}, limit);
    EXPECT_EQ(Count(run.out, "COPY FROM STDIN and COPY TO STDOUT are not run"), 2u) << run.out;
    EXPECT_TRUE(Contains(run.out, "|      3 |")) << run.out;

    // In a script the whole batch is refused before any of it runs, and the shell goes on.
    const std::string table = "cps_" + std::to_string(getpid());
    const std::string script = testdb::NewSqliteFile() + ".sql";
    orvatest::WriteFile(script, "create table " + table + "(x int);\ncopy " + table + " from stdin;\n");
    run = RunOrva({"-t", "pgsql", "-h", "127.0.0.1", "-P", port, "-u", testdb::Env("ORVANTA_TEST_USER"), "-d",
                   testdb::Env("ORVANTA_TEST_DB")},
                  "@ " + script + "\nselect 4 as z;\n", {"ORVANTA_PASSWORD=" + testdb::Env("ORVANTA_TEST_PASSWORD")},
                  limit);
    EXPECT_TRUE(Contains(run.out, "COPY FROM STDIN and COPY TO STDOUT are not run")) << run.out;
    EXPECT_TRUE(Contains(run.out, "|      4 |")) << run.out;
    EXPECT_EQ(AskPg("select count(*) from pg_tables where tablename = '" + table + "'"), "0");
    std::remove(script.c_str());
}

}  // namespace
