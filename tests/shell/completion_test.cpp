// Tab completion: the candidates for a text before the cursor, and the real orva in a
// pseudo-terminal on SQLite, PostgreSQL and MariaDB, checked through the native clients.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <cstdio>
#include <filesystem>
#include <string>

#include "../core/testdb.h"
#include "completion.h"
#include "../core/tempdir.h"
#include "run_orva.h"
#include "terminal.h"

using orva::CCompleter;
using zentra::COMPLETION;
using zentra::CString;
using zentra::CStringArray;

namespace {

COMPLETION Ask(CCompleter& completer, const CString& before) {
    COMPLETION result;
    completer.Complete(before, result);
    std::sort(result.candidates.begin(), result.candidates.end());
    return result;
}

CStringArray Candidates(CCompleter& completer, const CString& before) { return Ask(completer, before).candidates; }

TEST(CompletionCandidates, WordsWithoutAConnection) {
    CCompleter c;
    EXPECT_EQ(Candidates(c, L"sh"), (CStringArray{L"show"}));
    EXPECT_EQ(Candidates(c, L"SE"), (CStringArray{L"SELECT", L"SERVER", L"SET"}));
    EXPECT_EQ(Ask(c, L"sh").wordLength, 2u);
    EXPECT_EQ(Candidates(c, L"show col"), (CStringArray{L"columns"}));
    EXPECT_EQ(Candidates(c, L"SHOW COLUMNS F"), (CStringArray{L"FROM"}));
    EXPECT_EQ(Candidates(c, L"set t"), (CStringArray{L"table", L"truncate"}));
    EXPECT_EQ(Candidates(c, L"set table o"), (CStringArray{L"off", L"on"}));
    // Statements after a ';' start again; a qualifier names no table here.
    EXPECT_EQ(Candidates(c, L"select 1; sho"), (CStringArray{L"show"}));
    // SERVER and '.' run the statement after them on the server: it starts with a statement word.
    EXPECT_EQ(Candidates(c, L"server sel"), (CStringArray{L"select"}));
    EXPECT_EQ(Candidates(c, L". upd"), (CStringArray{L"update"}));
    EXPECT_TRUE(Candidates(c, L"select x.").empty());
    // Keywords inside a statement, in the case typed.
    EXPECT_EQ(Candidates(c, L"select * fr"), (CStringArray{L"from"}));
    // Arguments of commands that take a file or a name complete nothing.
    EXPECT_TRUE(Candidates(c, L"spool o").empty());
}

TEST(CompletionCandidates, ATabInALiteralOrACommentIsText) {
    CCompleter c;
    EXPECT_EQ(Ask(c, L"insert into t values ('a").insertTab, 1);
    EXPECT_EQ(Ask(c, L"select 1 -- note").insertTab, 1);
    EXPECT_EQ(Ask(c, L"select /* sh").insertTab, 1);
    EXPECT_EQ(Ask(c, L"select 'it''s' fr").insertTab, 0);
    // A literal opened on an earlier line of the statement.
    const CString firstLine = L"insert into t values ('first\n";
    c.SetPending(&firstLine);
    EXPECT_EQ(Ask(c, L"second").insertTab, 1);
    const CString firstTwo = L"insert into t values ('first',\n";
    c.SetPending(&firstTwo);
    EXPECT_EQ(Ask(c, L"'x', 'y') ; sh").insertTab, 0);
    EXPECT_EQ(Candidates(c, L"'x', 'y') ; sh"), (CStringArray{L"show"}));
}

TEST(CompletionCandidates, NamesFromTheCatalogue) {
    zentra::CADOConnection connection;
    ASSERT_EQ(connection.Open(testdb::SqliteConnectionString(testdb::NewSqliteFile()).c_str()), 1);
    ASSERT_EQ(connection.Execute(L"create table orders(id int, customer text, amount real)"), 1);
    ASSERT_EQ(connection.Execute(L"create table order_lines(order_id int, item text)"), 1);
    ASSERT_EQ(connection.Execute(L"create view big_orders as select * from orders where amount > 100"), 1);
    CCompleter c;
    c.SetConnection(&connection, zentra::kDbmsXls, L"", L"");
    EXPECT_EQ(Candidates(c, L"select * from ord"), (CStringArray{L"order_lines", L"orders"}));
    EXPECT_EQ(Candidates(c, L"select * from orders, b"), (CStringArray{L"big_orders"}));
    EXPECT_EQ(Candidates(c, L"desc order_"), (CStringArray{L"order_lines"}));
    EXPECT_EQ(Candidates(c, L"show columns from big"), (CStringArray{L"big_orders"}));
    // Columns of the tables the statement names, by name and by alias.
    EXPECT_EQ(Candidates(c, L"select * from orders where "), (CStringArray{L"amount", L"customer", L"id"}));
    EXPECT_EQ(Candidates(c, L"select * from ORDERS where cu"), (CStringArray{L"customer"}));
    EXPECT_EQ(Candidates(c, L"select * from orders o join order_lines l on l.o"), (CStringArray{L"order_id"}));
    EXPECT_EQ(Ask(c, L"select * from orders o where o.am").wordLength, 2u);
    EXPECT_EQ(Candidates(c, L"update orders set a"), (CStringArray{L"amount"}));
    // No column fits: keywords and table names.
    EXPECT_EQ(Candidates(c, L"select * from orders where id in (select order_id fro"), (CStringArray{L"from"}));
    // The names are kept until a statement changes them.
    ASSERT_EQ(connection.Execute(L"create table orders_archive(id int)"), 1);
    EXPECT_EQ(Candidates(c, L"select * from orders_"), CStringArray{});
    c.NoteStatement(L"select 1");
    EXPECT_EQ(Candidates(c, L"select * from orders_"), CStringArray{});
    c.NoteStatement(L"  CREATE table orders_archive(id int)");
    EXPECT_EQ(Candidates(c, L"select * from orders_"), (CStringArray{L"orders_archive"}));
    // A name that is not a plain identifier comes quoted.
    ASSERT_EQ(connection.Execute(L"create table \"Order Details\"(x int)"), 1);
    c.Forget();
    EXPECT_EQ(Candidates(c, L"select * from \"Order D"), (CStringArray{L"Order Details\""}));
    // A connection that is gone gives no names, and the words still complete.
    c.SetConnection(nullptr, zentra::kDbmsXls, L"", L"");
    EXPECT_TRUE(Candidates(c, L"select * from ord").empty());
    EXPECT_EQ(Candidates(c, L"sel"), (CStringArray{L"select"}));
}

// Letters beyond ASCII are name letters whatever the locale, as they are to the servers: the
// word before the cursor runs back over them and such a name comes without quotes.
TEST(CompletionCandidates, NonAsciiNamesInAnyLocale) {
    const std::string saved = std::setlocale(LC_CTYPE, nullptr);
    zentra::CADOConnection connection;
    ASSERT_EQ(connection.Open(testdb::SqliteConnectionString(testdb::NewSqliteFile()).c_str()), 1);
    ASSERT_EQ(connection.Execute(L"create table caf\u00e9_menu(pr\u00eds int)"), 1);
    ASSERT_EQ(connection.Execute(L"create table \u65e5\u672c(x int)"), 1);
    for (const char* locale : {"C", "C.UTF-8"}) {
        SCOPED_TRACE(locale);
        ASSERT_NE(std::setlocale(LC_CTYPE, locale), nullptr);
        CCompleter c;
        c.SetConnection(&connection, zentra::kDbmsXls, L"", L"");
        EXPECT_EQ(Candidates(c, L"select * from caf"), (CStringArray{L"caf\u00e9_menu"}));
        EXPECT_EQ(Ask(c, L"select * from caf\u00e9_m").wordLength, 6u);
        EXPECT_EQ(Candidates(c, L"select * from caf\u00e9_m"), (CStringArray{L"caf\u00e9_menu"}));
        EXPECT_EQ(Candidates(c, L"select * from \u65e5"), (CStringArray{L"\u65e5\u672c"}));
        EXPECT_EQ(Candidates(c, L"select * from caf\u00e9_menu where pr"), (CStringArray{L"pr\u00eds"}));
    }
    std::setlocale(LC_CTYPE, saved.c_str());
}

// ---- In a pseudo-terminal ----

struct Session {
    std::vector<std::string> args;
    std::vector<std::string> env;
    std::string sqliteFile;
};

// The orva arguments for `backend`, or an empty session when its server is not running.
Session Open(const testdb::Backend& backend) {
    Session s;
    const std::string user = testdb::Env("ORVANTA_TEST_USER"), db = testdb::Env("ORVANTA_TEST_DB");
    s.env = {"ORVANTA_PASSWORD=" + testdb::Env("ORVANTA_TEST_PASSWORD")};
    switch (backend.kind) {
    case testdb::Kind::SQLite:
        s.sqliteFile = testdb::NewSqliteFile();
        s.args = {"-t", "sqlite3", "-d", s.sqliteFile};
        break;
    case testdb::Kind::PostgreSQL:
        s.args = {"-t", "pgsql", "-h", "127.0.0.1", "-P", testdb::Env("ORVANTA_TEST_PG_PORT"), "-u", user, "-d", db};
        break;
    default:
        s.args = {"-t", "mysql", "-h", "127.0.0.1", "-P", testdb::Env("ORVANTA_TEST_MARIA_PORT"), "-u", user, "-d", db};
        break;
    }
    return s;
}

// The native client's answer to `sql` (raw values, '|' between columns, no headings).
std::string Native(const testdb::Backend& backend, const Session& s, const std::string& sql) {
    return testdb::NativeText(backend.kind == testdb::Kind::SQLite ? testdb::SqliteAt(s.sqliteFile) : backend, sql);
}

class TerminalCompletion : public testing::TestWithParam<testdb::Kind> {};

TEST_P(TerminalCompletion, TabCompletesAndPastedTabsStay) {
    const testdb::Backend backend = testdb::BackendOf(GetParam());
    if (!backend.available) GTEST_SKIP() << backend.skipReason;
    const Session s = Open(backend);
    // A table name that no other table starts with.
    const std::string table = "tabcompl_" + std::to_string(getpid()) + "_orders";
    Native(backend, s, "create table " + table + " (id int, customer_name varchar(20), note varchar(20))");
    const testdb::TempDir dir("orva-compl");
    std::vector<std::string> env = s.env;
    env.push_back("XDG_CONFIG_HOME=" + dir.str());
    env.push_back("XDG_STATE_HOME=" + dir.str());
    orvatest::Terminal term(s.args, env);
    ASSERT_TRUE(term.Ready() && term.WaitFor(orvatest::kNextPrompt)) << term.Output();

    // Types `keys` and waits for the next prompt; the output from there on.
    auto run = [&](const std::string& keys) {
        const size_t mark = term.Output().size();
        term.Send(keys);
        EXPECT_TRUE(term.WaitFor(orvatest::kNextPrompt, mark)) << term.Output().substr(mark);
        return term.Output().substr(mark);
    };
    const std::string pid = std::to_string(getpid());

    // A partial table name becomes the whole name; a Tab in a literal is stored as a Tab.
    std::string out = run("insert into tabcompl_" + pid + "\t(id, customer_name, note) values (1, 'c1', 'a\tb');\r");
    EXPECT_EQ(Native(backend, s, "select note from " + table + " where id = 1"), "a\tb") << out;

    // After "select * from t where " a column name.
    out = run("select id * 10 as tens from " + table + " where cust\t= 'c1';\r");
    EXPECT_NE(out.find("Query Okay"), std::string::npos) << out;
    EXPECT_NE(out.find("10 |"), std::string::npos) << out;

    // "sh" becomes "show" and "tab" "tables".
    out = run("sh\ttab\t\r");
    EXPECT_NE(out.find("Query Okay"), std::string::npos) << out;
    EXPECT_NE(out.find(table), std::string::npos) << out;

    // A pasted line arrives as it is: the Tab after "n" would complete to the column "note".
    out = run("\x1b[200~insert into " + table + " (id, note) select 2, n\tfrom (select 'p\tq' as n) s;\x1b[201~\r");
    EXPECT_EQ(Native(backend, s, "select note from " + table + " where id = 2"), "p\tq") << out;

    // A table created in the session is offered afterwards.
    run("create table " + table + "_later (k int);\r");
    out = run("insert into " + table + "_l\t values (5);\r");
    EXPECT_EQ(Native(backend, s, "select k from " + table + "_later"), "5") << out;
    EXPECT_TRUE(term.Exit()) << term.Output();

    Native(backend, s, "drop table " + table + "_later");
    Native(backend, s, "drop table " + table);
}

INSTANTIATE_TEST_SUITE_P(Backends, TerminalCompletion,
                         testing::Values(testdb::Kind::SQLite, testdb::Kind::PostgreSQL, testdb::Kind::MariaDB),
                         [](const testing::TestParamInfo<testdb::Kind>& instance) {
                             return instance.param == testdb::Kind::SQLite       ? std::string("SQLite")
                                    : instance.param == testdb::Kind::PostgreSQL ? std::string("PostgreSQL")
                                                                                 : std::string("MariaDB");
                         });

}  // namespace
