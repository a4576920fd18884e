// The command line, the catalogue look-ups, the connection-string builder and the statement
// splitter of the shell.
#include <fcntl.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "helper.h"
#include "options.h"
#include "reader.h"
#include "resources.h"
#include "sqltext.h"
#include "state.h"
#include "zentra/catalogue.h"
#include "zentra/codepage.h"
#include "zentra/console.h"

using namespace orva;

namespace {

class ShellOptions : public ::testing::Test {
protected:
    void SetUp() override { RegisterResources(); }

    // Parses the arguments after a program name; what was printed goes to `printed`.
    ParsedOptions Parse(std::vector<CString> args, ShellState& state) {
        args.insert(args.begin(), L"orva");
        char path[] = "/tmp/orva-options-XXXXXX";
        int fd = mkstemp(path);
        unlink(path);
        zentra::COutput out(nullptr, fd);
        ParsedOptions parsed = ParseCommandLine(args, state, out);
        lseek(fd, 0, SEEK_SET);
        printed.clear();
        char buffer[4096];
        ssize_t n;
        while ((n = read(fd, buffer, sizeof buffer)) > 0) printed.append(buffer, static_cast<size_t>(n));
        close(fd);
        return parsed;
    }

    std::string printed;
};

TEST_F(ShellOptions, ShortAndLongFormsGiveTheSameParameters) {
    ShellState a, b, c;
    EXPECT_FALSE(Parse({L"-tmysql", L"-uroot"}, a).exitCode);
    EXPECT_FALSE(Parse({L"--type=mysql", L"--user", L"root"}, b).exitCode);
    EXPECT_FALSE(Parse({L"--type", L" MySQL "}, c).exitCode);
    for (ShellState* s : {&a, &b, &c}) {
        EXPECT_EQ(s->connectInfo.type, 2);
        EXPECT_EQ(s->connectInfo.user, L"root");
        // The catalogue's defaults fill what was not given.
        EXPECT_EQ(s->connectInfo.host, L"localhost");
        EXPECT_EQ(s->connectInfo.port, 3306);
    }
}

TEST_F(ShellOptions, ValuesQuotesAndDefaults) {
    ShellState s;
    Parse({L"-t", L"pgsql", L"--user='admin'", L"-P", L"0", L"--password=\"x'", L"-c", L"  select 1;  ", L"--prompt",
           L"$_DB.> ", L"-s", L"public", L"-f", L" a b.sql "},
          s);
    EXPECT_EQ(s.connectInfo.type, 3);
    EXPECT_EQ(s.connectInfo.user, L"admin");     // one pair of matching quotes removed
    EXPECT_EQ(s.connectInfo.password, L"\"x'");  // mismatched quotes kept
    EXPECT_EQ(s.connectInfo.port, 5432);         // an explicit 0 takes the default
    EXPECT_EQ(s.startupCommand, L"select 1;");
    EXPECT_EQ(s.startupScript, L"a b.sql");
    EXPECT_EQ(s.prompt, L"$_DB.> ");
    EXPECT_EQ(s.connectInfo.schema, L"public");

    ShellState port;
    Parse({L"-t", L"mysql", L"-P", L"3307abc"}, port);
    EXPECT_EQ(port.connectInfo.port, 3307);  // leading digits
}

TEST_F(ShellOptions, SingleDashHelpIsTheHostOption) {
    ShellState s;
    ParsedOptions p = Parse({L"-help"}, s);
    EXPECT_FALSE(p.exitCode);
    EXPECT_EQ(s.connectInfo.host, L"elp");
}

TEST_F(ShellOptions, UnknownOptionsEndWithExitCode1) {
    // No leading dash, a long option that does not exist, a percent sign printed once as typed.
    for (const CString bad : {L"--username=x", L"mysql", L"--hostname", L"--x%s%d"}) {
        ShellState s;
        ParsedOptions p = Parse({L"-t", L"mysql", bad}, s);
        ASSERT_TRUE(p.exitCode) << zentra::WideToUtf8(bad);
        EXPECT_EQ(*p.exitCode, 1);
        EXPECT_EQ(printed, "Orvanta: unknow option '" + zentra::WideToUtf8(bad) + "'.\r\n\r\n");
    }
}

TEST_F(ShellOptions, VersionAndHelp) {
    ShellState s;
    ParsedOptions p = Parse({L"-v"}, s);
    ASSERT_TRUE(p.exitCode);
    EXPECT_EQ(*p.exitCode, 1);
    EXPECT_EQ(printed, "Orvanta 3.0.01\r\n\r\n");

    p = Parse({L"--help"}, s);
    ASSERT_TRUE(p.exitCode);
    EXPECT_EQ(printed.rfind("Orvanta ver 3.0.01, for Linux.\r\n\r\nUsage: orva -t type [OPTIONS]\r\n", 0), 0u);
    // One line per catalogue row, in stored order.
    EXPECT_NE(printed.find("                      4d\t->  4D Server\r\n  "), std::string::npos);
    ASSERT_NE(printed.find(" csv\t"), std::string::npos);
    EXPECT_LT(printed.find(" dbf\t"), printed.find(" csv\t"));  // stored order, not sorted
    EXPECT_NE(printed.find("                      xlsx\t->  MS Excel 2007 (*.xls?)\r\n"
                           "  -u, --user[=name]   User for login if not current user.\r\n"
                           "  -v, --version       Display program version\r\n"),
              std::string::npos);
    size_t rows = 0;
    for (size_t at = 0; (at = printed.find("\t->  ", at)) != std::string::npos; ++at) ++rows;
    EXPECT_EQ(rows, 25u);
}

TEST_F(ShellOptions, PasswordWithoutValueIsAskedFor) {
    ShellState a, b, c;
    EXPECT_TRUE(Parse({L"-t", L"pgsql", L"-p"}, a).askPassword);
    ParsedOptions p = Parse({L"-t", L"pgsql", L"-p", L"-d", L"db"}, b);
    EXPECT_TRUE(p.askPassword);
    EXPECT_EQ(b.connectInfo.database, L"db");
    p = Parse({L"-t", L"pgsql", L"-psecret", L"-d", L"db"}, c);
    EXPECT_FALSE(p.askPassword);
    EXPECT_EQ(c.connectInfo.password, L"secret");
}

TEST_F(ShellOptions, TypeKeys) {
    EXPECT_EQ(LookupTypeByKey(L"gdb"), 18);
    EXPECT_EQ(LookupTypeByKey(L"FDB"), 18);
    EXPECT_EQ(LookupTypeByKey(L"  mysql "), 2);
    EXPECT_EQ(LookupTypeByKey(L"my"), 0);
    EXPECT_EQ(LookupTypeByKey(L""), 0);
    ShellState s;
    EXPECT_FALSE(Parse({L"-t", L"nosuch"}, s).exitCode);
    EXPECT_EQ(s.connectInfo.type, 0);
}

TEST_F(ShellOptions, BannerUsesEnglishNames) {
    struct tm t {};
    t.tm_year = 2026 - 1900, t.tm_mon = 11, t.tm_mday = 7, t.tm_wday = 1;
    t.tm_hour = 9, t.tm_min = 5, t.tm_sec = 3;
    EXPECT_EQ(BannerText(t), L"Orvanta: Release 3.0.01 - Production on Monday, Dec 07 09:05:03, 2026");
}

CONNECT_INFO Info(zentra::DbmsType type, CString host, int port, CString user, CString password, CString db) {
    CONNECT_INFO info;
    info.type = type;
    info.host = std::move(host);
    info.port = port;
    info.user = std::move(user);
    info.password = std::move(password);
    info.database = std::move(db);
    return info;
}

TEST(ShellConnectionString, TemplatesAndSpecialRows) {
    CCommandHelper helper;
    CONNECT_INFO mssql = Info(zentra::kDbmsMsSql, L"localhost", 1433, L"sa", L"pw", L"master");
    mssql.driver = L"SQL Server";
    EXPECT_EQ(helper.BuildConnectionString(mssql).rfind(L"Driver={SQL Server};Server=127.0.0.1,1433;", 0), 0u);

    CONNECT_INFO unresolved = Info(zentra::kDbmsMsSql, L"no-such-host.invalid", 1433, L"sa", L"", L"");
    EXPECT_NE(helper.BuildConnectionString(unresolved).find(L"Server=,1433;"), CString::npos);

    CONNECT_INFO fileDsn = Info(zentra::kDbmsOdbcDsn, L"", 0, L"u", L"p", L"C:\\dsn\\x.dsn");
    EXPECT_EQ(helper.BuildConnectionString(fileDsn), L"FILEDSN=C:\\dsn\\x.dsn;Uid=u;Pwd=p;");
    CONNECT_INFO dsn = Info(zentra::kDbmsOdbcDsn, L"", 0, L"", L"", L"Sales");
    EXPECT_EQ(helper.BuildConnectionString(dsn), L"DSN=Sales;Uid=;Pwd=;");

    CONNECT_INFO none = Info(zentra::kDbmsNone, L"h", 1, L"u", L"p", L"d");
    EXPECT_EQ(helper.BuildConnectionString(none), L"");
}

// The keyword=value pairs of an ODBC connection string; a value may be in braces ("}}" for a
// brace) or double quotes. An empty list when the text does not parse.
std::vector<std::pair<std::wstring, std::wstring>> Pairs(const std::wstring& text) {
    std::vector<std::pair<std::wstring, std::wstring>> pairs;
    for (size_t i = 0; i < text.size();) {
        const size_t eq = text.find(L'=', i);
        if (eq == std::wstring::npos || text.find(L';', i) < eq) return {};
        std::wstring key = text.substr(i, eq - i), value;
        size_t end = eq + 1;
        if (end < text.size() && (text[end] == L'{' || text[end] == L'"')) {
            const wchar_t close = text[end] == L'{' ? L'}' : L'"';
            for (++end;; ++end) {
                if (end >= text.size()) return {};
                if (text[end] != close) value += text[end];
                else if (close == L'}' && end + 1 < text.size() && text[end + 1] == L'}') value += text[end++];
                else break;
            }
            ++end;
        } else {
            end = std::min(text.find(L';', end), text.size());
            value = text.substr(eq + 1, end - eq - 1);
        }
        if (end < text.size() && text[end] != L';') return {};
        key.erase(0, key.find_first_not_of(L' '));
        if (key.empty()) return {};
        pairs.emplace_back(key, value);
        i = end + 1;
    }
    return pairs;
}

// Every catalogue row's template, filled in, is a connection string of keyword=value pairs with
// no placeholder left, its user and password in keywords of their own.
TEST(ShellConnectionString, EveryTemplateBuildsAParseableString) {
    CCommandHelper helper;
    for (const auto& row : zentra::g_ConnConfs) {
        SCOPED_TRACE(zentra::WideToUtf8(row.strKey));
        CONNECT_INFO info =
            Info(static_cast<zentra::DbmsType>(row.nType), L"localhost", row.nPort, L"the user", L"pw;x", L"the db");
        info.driver = row.strDriver;
        const CString text = helper.BuildConnectionString(info);
        EXPECT_EQ(text.find(L'%'), CString::npos) << zentra::WideToUtf8(text);
        const auto pairs = Pairs(text);
        ASSERT_FALSE(pairs.empty()) << zentra::WideToUtf8(text);
        bool password = false;
        for (const auto& [key, value] : pairs) password = password || value == L"pw;x";
        EXPECT_TRUE(password || row.strConnectString.find(L"%pwd") == CString::npos) << zentra::WideToUtf8(text);
    }
}

TEST(ShellConnectionString, ValuesCannotInjectKeywords) {
    CCommandHelper helper;
    // A password holding a later placeholder reaches the driver as typed.
    CONNECT_INFO pg = Info(zentra::kDbmsPostgreSql, L"127.0.0.1", 5432, L"me", L"a%dbc%user", L"sales");
    pg.driver = L"PostgreSQL Unicode";
    EXPECT_EQ(helper.BuildConnectionString(pg),
              L"Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=5432;Database=sales;Uid=me;Pwd=a%dbc%user;");

    // ';', braces and leading blanks are quoted so they cannot start a keyword of their own.
    CONNECT_INFO evil = Info(zentra::kDbmsPostgreSql, L"127.0.0.1", 5432, L"me;Driver=x", L"  p}w;", L"d{b");
    evil.driver = L"PostgreSQL Unicode";
    CString s = helper.BuildConnectionString(evil);
    EXPECT_NE(s.find(L"Uid={me;Driver=x};"), CString::npos) << s;
    EXPECT_NE(s.find(L"Pwd={  p}}w;}"), CString::npos) << s;
    EXPECT_NE(s.find(L"Database={d{b};"), CString::npos) << s;

    // A user with leading blanks loses them (trimmed), a password keeps them.
    CONNECT_INFO blanks = Info(zentra::kDbmsMySql, L" localhost ", 3306, L"  root", L"  pw", L"");
    blanks.driver = L"MariaDB Unicode";
    s = helper.BuildConnectionString(blanks);
    EXPECT_NE(s.find(L"User=root;Password={  pw};"), CString::npos) << s;
    EXPECT_EQ(blanks.user, L"root");
    EXPECT_EQ(blanks.host, L"localhost");
}

TEST(ShellDriverSearch, FindsInstalledDriversOrNamesTheDownloadPage) {
    CCommandHelper helper;
    CString driver, error;
    auto find = [&](zentra::DbmsType type) {
        CONNECT_INFO info;
        info.type = type;
        return helper.FindDriver(driver, error, info);
    };
    ASSERT_EQ(find(zentra::kDbmsSqlite3), 1) << error;  // SQLite3
    EXPECT_NE(zentra::ToUpper(driver).find(L"SQLITE3"), CString::npos);
    EXPECT_EQ(find(zentra::kDbmsDb2), 0);  // IBM DB2: no such driver here
    EXPECT_EQ(error.rfind(L"ODBC Driver is not found!\r\nPlease visit: http", 0), 0u) << error;
    EXPECT_EQ(find(zentra::kDbmsIndexServer), 1);  // an OLE DB provider row: no driver needed
    EXPECT_TRUE(driver.empty());
    EXPECT_EQ(find(static_cast<zentra::DbmsType>(99)), 0);
    EXPECT_EQ(error, L"Server type has not existed!");
}

TEST(ShellDispatch, CommandWords) {
    CCommandHelper h;
    EXPECT_EQ(h.ClassifyCommand(L"help;"), CMD_HELP);
    EXPECT_EQ(h.ClassifyCommand(L"  EXIT"), CMD_EXIT);
    EXPECT_EQ(h.ClassifyCommand(L"Quit;"), CMD_EXIT);
    EXPECT_EQ(h.ClassifyCommand(L"@ file.sql"), CMD_START);
    EXPECT_EQ(h.ClassifyCommand(L"@file.sql"), CMD_NONE);
    EXPECT_EQ(h.ClassifyCommand(L"edi"), CMD_NONE);
    EXPECT_EQ(h.ClassifyCommand(L"decla x"), CMD_NONE);
    EXPECT_EQ(h.ClassifyCommand(L". select 1"), CMD_SERVER);
    EXPECT_EQ(h.ClassifyCommand(L"go"), CMD_RUN);
    EXPECT_EQ(h.ClassifyCommand(L"/"), CMD_RUN);
    EXPECT_EQ(h.ClassifyCommand(L"select 1"), CMD_NONE);
    EXPECT_EQ(h.ClassifyCommand(L""), CMD_NONE);
}

TEST(ShellDispatch, OnePassSplitMatchesASplitFromEveryStart) {
    // Random texts of the characters that matter: one splitter over the whole text must cut the
    // same statements as a fresh split of each remainder, and account for every character.
    std::mt19937 random(7);
    const std::wstring alphabet = L";;/'\"-*\\\n\r a";
    for (int round = 0; round < 2000; ++round) {
        CString text;
        const size_t length = random() % 40;
        for (size_t i = 0; i < length; ++i) text += alphabet[random() % alphabet.size()];
        CStatementSplitter whole(text);
        CString rest = text, piece, expected;
        size_t consumed = 0;
        while (whole.Next(piece)) {
            CStatementSplitter fresh(rest);
            ASSERT_TRUE(fresh.Next(expected)) << zentra::WideToUtf8(text);
            EXPECT_EQ(piece, expected) << zentra::WideToUtf8(text);
            consumed += fresh.Consumed();
            rest.erase(0, fresh.Consumed());
            EXPECT_EQ(whole.Consumed(), consumed) << zentra::WideToUtf8(text);
        }
        EXPECT_TRUE(zentra::Trim(rest).empty() || rest.find_first_not_of(L" \r\n\t") == CString::npos)
            << zentra::WideToUtf8(text);
    }
}

using zentra::SqlLexis;

// The statements a text splits into under a lexis.
std::vector<CString> SplitUnder(const SqlLexis& lexis, const CString& text) {
    const SqlLexis saved = CurrentSqlLexis();
    SetSqlLexis(lexis);
    std::vector<CString> pieces;
    CStatementSplitter splitter(text);
    for (CString piece; splitter.Next(piece);) pieces.push_back(zentra::Trim(piece));
    SetSqlLexis(saved);
    return pieces;
}

TEST(ShellDispatch, EachDbmsQuotesAndCommentsHideTerminators) {
    const SqlLexis pg = zentra::DialectOfType(zentra::kDbmsPostgreSql).lexis;
    const SqlLexis my = zentra::DialectOfType(zentra::kDbmsMySql).lexis;
    const SqlLexis lite = zentra::DialectOfType(zentra::kDbmsSqlite3).lexis;
    using V = std::vector<CString>;
    // Every DBMS: a quote closes only at its own character, so JSON in a string or an apostrophe in
    // a name hides nothing that follows.
    for (const SqlLexis& lexis : {SqlLexis{}, pg, my, lite}) {
        EXPECT_EQ(SplitUnder(lexis, L"select '{\"a\":1}' as j; select 'note; delete from x' as n; select \"it's\";"),
                  (V{L"select '{\"a\":1}' as j", L"select 'note; delete from x' as n", L"select \"it's\""}));
        EXPECT_EQ(SplitUnder(lexis, L"select 'it''s; fine', \"a\"\"b;\"; x"),
                  (V{L"select 'it''s; fine', \"a\"\"b;\"", L"x"}));
    }
    // PostgreSQL: a function body between dollar quotes is one statement, tags must match; a
    // backslash is a plain character but in E'' strings; /* */ comments nest.
    EXPECT_EQ(SplitUnder(pg, L"create function f() returns int as $$ select 1; $$ language sql; select 2;"),
              (V{L"create function f() returns int as $$ select 1; $$ language sql", L"select 2"}));
    EXPECT_EQ(SplitUnder(pg, L"do $body$ begin perform '$$;'; end $body$; select 3"),
              (V{L"do $body$ begin perform '$$;'; end $body$", L"select 3"}));
    EXPECT_EQ(SplitUnder(pg, L"select $1; select a$b$; select $q$\\$q$; x"),
              (V{L"select $1", L"select a$b$", L"select $q$\\$q$", L"x"}));
    EXPECT_EQ(SplitUnder(pg, L"select 'C:\\'; select E'a\\';b'; select 'x'"),
              (V{L"select 'C:\\'", L"select E'a\\';b'", L"select 'x'"}));
    EXPECT_EQ(SplitUnder(pg, L"select 1 /* a /* b */ ; delete */ as one; x"),
              (V{L"select 1 /* a /* b */ ; delete */ as one", L"x"}));
    // Elsewhere a dollar sign is plain text, and a backslash escapes (the rule kept for the others).
    EXPECT_EQ(SplitUnder(SqlLexis{}, L"select $$;$$"), (V{L"select $$", L"$$"}));
    EXPECT_EQ(SplitUnder(SqlLexis{}, L"select 'a\\';b'; c"), (V{L"select 'a\\';b'", L"c"}));
    // MySQL: "#" comments to the end of the line, `names` quoted, "--" a comment only before a blank.
    EXPECT_EQ(SplitUnder(my, L"select 1 # it's; a comment\n, 2; select `a;``b`; select 3"),
              (V{L"select 1 # it's; a comment\n, 2", L"select `a;``b`", L"select 3"}));
    EXPECT_EQ(SplitUnder(my, L"select 1--1; select 2 -- x; y\n; z"), (V{L"select 1--1", L"select 2 -- x; y", L"z"}));
    EXPECT_EQ(SplitUnder(my, L"select 'a\\';b'; c"), (V{L"select 'a\\';b'", L"c"}));
    EXPECT_EQ(SplitUnder(SqlLexis{}, L"select 1 # x; y"), (V{L"select 1 # x", L"y"}));
    // SQLite: [names] and `names`; a backslash is plain.
    EXPECT_EQ(SplitUnder(lite, L"select 1 as [a'b;c], `d;e`, 'f\\'; g"),
              (V{L"select 1 as [a'b;c], `d;e`, 'f\\'", L"g"}));
    // The same for the batch splitter and the comment trimmer.
    SetSqlLexis(my);
    EXPECT_EQ(SplitBatch(L"select 1; # two; three\nselect `;`"), (V{L"select 1", L"select `;`"}));
    EXPECT_EQ(WithoutEdgeComments(L"# lead\nselect 1 # tail"), L"select 1");
    EXPECT_TRUE(IsOnlyComments(L"# only ; this\n"));
    SetSqlLexis(SqlLexis{});
    // The lexis follows the connection's type, or the server's name behind a data source.
    EXPECT_TRUE(SqlLexisOf(zentra::kDbmsPostgreSql, L"").dollarQuotes);
    EXPECT_TRUE(SqlLexisOf(zentra::kDbmsMySql, L"").hashComments);
    EXPECT_TRUE(SqlLexisOf(zentra::kDbmsOdbcDsn, L"MariaDB").hashComments);
    EXPECT_TRUE(SqlLexisOf(zentra::kDbmsOdbcDsn, L"PostgreSQL").dollarQuotes);
    EXPECT_FALSE(SqlLexisOf(zentra::kDbmsSqlite3, L"").hashComments);
    EXPECT_FALSE(SqlLexisOf(zentra::kDbmsMsSql, L"PostgreSQL").dollarQuotes);
}

TEST(ShellDispatch, ClientCopyIsFoundByItsWords) {
    EXPECT_TRUE(IsClientCopy(L"copy t from stdin"));
    EXPECT_TRUE(IsClientCopy(L"-- load\nCOPY t (a, b) FROM /* here */ STDIN with csv"));
    EXPECT_TRUE(IsClientCopy(L"copy (select 1) to stdout"));
    EXPECT_FALSE(IsClientCopy(L"copy (select 'from stdin') to '/tmp/x'"));
    EXPECT_FALSE(IsClientCopy(L"copy t /* to stdout */ from '/data/f'"));
    EXPECT_FALSE(IsClientCopy(L"select 'copy t from stdin'"));
    EXPECT_FALSE(IsClientCopy(L"copy_t from stdin"));
}

TEST(ShellDispatch, TerminatorsOutsideQuotes) {
    CCommandHelper h;
    EXPECT_EQ(h.FindOutsideQuotes(L"select 'a;b';", L';', 0), 12);
    EXPECT_EQ(h.FindOutsideQuotes(L"a\\;b", L';', 0), -1);
    EXPECT_EQ(h.FindOutsideQuotes(L"\"it's\";", L';', -5), 6);  // a ' inside "..." is text
    // Comments open no quote and hide a ';'.
    EXPECT_EQ(h.FindOutsideQuotes(L"-- don't;\n;", L';', 0), 10);
    EXPECT_EQ(h.FindOutsideQuotes(L"/* ';' */ x;", L';', 0), 11);
    EXPECT_EQ(WithoutEdgeComments(L"/* a */ select 1 -- b\r\n/* c */"), L"select 1");
    EXPECT_EQ(WithoutEdgeComments(L"/*!40101 SET x=1 */"), L"/*!40101 SET x=1 */");
    EXPECT_TRUE(IsOnlyComments(L" -- x\n/* y */ "));
    EXPECT_FALSE(IsOnlyComments(L"/*+ hint */"));
    // A batch splits at each ';' but inside the body of a CREATE.
    EXPECT_EQ(
        SplitBatch(L"create trigger t after insert on a begin insert into b values (case when 1 then 2 end); "
                   L"if x then y; end if; end; select 1; -- z"),
        (std::vector<CString>{L"create trigger t after insert on a begin insert into b values (case when 1 then 2 "
                              L"end); if x then y; end if; end",
                              L"select 1"}));

    CString text = L"select 1; select 2;";
    EXPECT_EQ(TakeNextStatement(text), L"select 1");
    EXPECT_EQ(text, L" select 2;");
    text = L"select 4/2;";
    EXPECT_EQ(TakeNextStatement(text), L"select 4/2");
    text = L"begin x; end;\r\n/\r\nselect 3";
    EXPECT_EQ(TakeNextStatement(text), L"begin x; end;\r\n");
    EXPECT_EQ(text, L"\r\nselect 3");
    text = L"no terminator";
    EXPECT_EQ(TakeNextStatement(text), L"no terminator");
    EXPECT_TRUE(text.empty());
}

}  // namespace
