// The real orva in a pseudo-terminal under conditions a terminal user meets: Tabs typed and
// pasted, Ctrl+C at the login, a server that stops answering, output without a line end.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>

#include "../core/testdb.h"
#include "../core/tempdir.h"
#include "run_orva.h"
#include "terminal.h"

using orvatest::Ask;
using orvatest::Terminal;

namespace {

std::vector<std::string> Env(const std::string& dir) {
    return {"XDG_CONFIG_HOME=" + dir + "/config", "XDG_STATE_HOME=" + dir + "/state"};
}

void Pause(int ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

TEST(TerminalInput, TabsReachTheStatement) {
    const std::string db = orvatest::NewSqlite("create table m(v text)");
    const testdb::TempDir dir("orva-term");
    Terminal term({"-t", "sqlite3", "-d", db}, Env(dir.str()));
    ASSERT_TRUE(term.Ready()) << term.Output();
    size_t mark = term.Output().size();
    term.Send("insert into m values ('a\tb');\r");
    ASSERT_TRUE(term.WaitFor("1 row affected", mark)) << term.Output().substr(mark);
    mark = term.Output().size();
    term.Send("select\t40 + 2 as v;\r");
    ASSERT_TRUE(term.WaitFor("Query Okay", mark)) << term.Output().substr(mark);
    EXPECT_NE(term.Output().find("42 |", mark), std::string::npos) << term.Output().substr(mark);
    EXPECT_TRUE(term.Exit()) << term.Output();
    EXPECT_EQ(Ask(db, "select length(v), instr(v, char(9)) from m"), "3|2");
}

// Ctrl+D on a continuation line gives the half-typed statement up: it is not run.
TEST(TerminalInput, EndOfInputOnAContinuationLineRunsNothing) {
    const std::string db = orvatest::NewSqlite("create table m(v text); insert into m values (1), (2)");
    const testdb::TempDir dir("orva-term");
    Terminal term({"-t", "sqlite3", "-d", db}, Env(dir.str()));
    ASSERT_TRUE(term.Ready()) << term.Output();
    const size_t mark = term.Output().size();
    term.Send("delete from m\r");
    // The continuation line's own read has started (keys sent before it would be flushed).
    ASSERT_TRUE(term.WaitFor("\x1b[?2004h", mark)) << term.Output().substr(mark);
    Pause(100);
    term.Send("\x04");
    const int status = term.Wait(10000);
    EXPECT_TRUE(WIFEXITED(status)) << term.Output().substr(mark);
    EXPECT_EQ(term.Output().find("Query Okay", mark), std::string::npos) << term.Output().substr(mark);
    EXPECT_EQ(Ask(db, "select count(*) from m"), "2");
}

// A MariaDB session killed on the server: the next statement says so, and USE connects again.
TEST(TerminalServer, UseConnectsAgainAfterALostMariaDbConnection) {
    if (!std::getenv("ORVANTA_TEST_MARIA_PORT")) GTEST_SKIP() << "MariaDB is not running (tests/dbservers.sh)";
    const std::string db = testdb::Env("ORVANTA_TEST_DB");
    const testdb::TempDir dir("orva-term");
    std::vector<std::string> env = Env(dir.str());
    env.push_back("ORVANTA_PASSWORD=" + testdb::Env("ORVANTA_TEST_PASSWORD"));
    Terminal term({"-t", "mysql", "-h", "127.0.0.1", "-P", testdb::Env("ORVANTA_TEST_MARIA_PORT"), "-u",
                   testdb::Env("ORVANTA_TEST_USER"), "-d", db, "-c", "set table off"},
                  env);
    ASSERT_TRUE(term.Ready()) << term.Output();
    size_t mark = term.Output().size();
    term.Send("select connection_id() as cid;\r");
    ASSERT_TRUE(term.WaitFor("Query Okay", mark)) << term.Output().substr(mark);
    std::smatch id;
    const std::string shown = term.Output().substr(mark);
    ASSERT_TRUE(std::regex_search(shown, id, std::regex("cid: ([0-9]+)"))) << shown;
    EXPECT_EQ(orvatest::AskServer(testdb::Kind::MariaDB, "kill " + id[1].str()), "");
    mark = term.Output().size();
    term.Send("select 1 as one;\r");
    ASSERT_TRUE(term.WaitFor("SQL> ", mark + 1)) << term.Output().substr(mark);
    mark = term.Output().size();
    term.Send("use " + db + ";\r");
    ASSERT_TRUE(term.WaitFor("Database changed.", mark)) << term.Output().substr(mark);
    mark = term.Output().size();
    term.Send("select 40 + 2 as v;\r");
    ASSERT_TRUE(term.WaitFor("Query Okay", mark)) << term.Output().substr(mark);
    EXPECT_NE(term.Output().find("v: 42", mark), std::string::npos) << term.Output().substr(mark);
    EXPECT_TRUE(term.Exit()) << term.Output();
}

TEST(TerminalLogin, CtrlCAtTheLoginPromptGivesUp) {
    const testdb::TempDir dir("orva-term");
    Terminal term({"-t", "sqlite3", "-d", "/nonexistent/dir/x.db"}, Env(dir.str()));
    ASSERT_TRUE(term.WaitFor("User: ")) << term.Output();
    const size_t mark = term.Output().size();
    term.Send("\x03");
    const int status = term.Wait(10000);
    ASSERT_TRUE(WIFEXITED(status)) << term.Output();
    EXPECT_EQ(WEXITSTATUS(status), 2);
    EXPECT_NE(term.Output().find("Login failed, exit now!", mark), std::string::npos) << term.Output();
    EXPECT_EQ(term.Output().find("Password for user", mark), std::string::npos) << term.Output();
}

// The parent process id of `pid`, from /proc.
pid_t ParentOf(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream rest(text.substr(close + 2));
    char state = 0;
    pid_t parent = -1;
    rest >> state >> parent;
    return parent;
}

// Server processes stopped while the object lives.
class Frozen {
public:
    void Stop(pid_t pid) {
        if (pid > 1 && kill(pid, SIGSTOP) == 0) pids_.push_back(pid);
    }
    ~Frozen() {
        for (pid_t pid : pids_) kill(pid, SIGCONT);
    }

private:
    std::vector<pid_t> pids_;
};

// A PostgreSQL session in a terminal, in list layout; the process id of its server backend.
pid_t StartSession(Terminal& term) {
    if (!term.Ready()) return -1;
    const size_t mark = term.Output().size();
    term.Send("set table off\rselect pg_backend_pid() as backend;\r");
    if (!term.WaitFor("Query Okay", mark)) return -1;
    static const std::regex backend("backend: (\\d+)");
    std::smatch match;
    const std::string out = term.Output().substr(mark);
    return std::regex_search(out, match, backend) ? static_cast<pid_t>(std::stol(match[1])) : -1;
}

TEST(TerminalServer, AFrozenServerHoldsNeitherTerminationNorASecondCtrlC) {
    const char* port = std::getenv("ORVANTA_TEST_PG_PORT");
    if (!port) GTEST_SKIP() << "PostgreSQL is not running (tests/dbservers.sh)";
    const testdb::TempDir dir("orva-term");
    std::vector<std::string> env = Env(dir.str());
    env.push_back("ORVANTA_PASSWORD=" + testdb::Env("ORVANTA_TEST_PASSWORD"));
    const std::vector<std::string> args{"-t", "pgsql",
                                        "-h", "127.0.0.1",
                                        "-P", port,
                                        "-u", testdb::Env("ORVANTA_TEST_USER"),
                                        "-d", testdb::Env("ORVANTA_TEST_DB")};
    Terminal ended(args, env), interrupted(args, env);
    const pid_t first = StartSession(ended), second = StartSession(interrupted);
    ASSERT_GT(first, 0) << ended.Output();
    ASSERT_GT(second, 0) << interrupted.Output();
    {
        Frozen frozen;
        frozen.Stop(ParentOf(first));  // the postmaster: a cancel request gets no answer either
        frozen.Stop(first);
        frozen.Stop(second);
        ended.Send("select 1 as one;\r");
        interrupted.Send("select 2 as two;\r");
        Pause(1000);

        // SIGTERM ends the shell at once, whatever the driver waits for.
        kill(ended.Pid(), SIGTERM);
        const int status = ended.Wait(5000);
        ASSERT_NE(status, -1) << "still running after SIGTERM: " << ended.Output();
        EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGTERM) << status;

        // Ctrl+C asks the server to cancel; a second one while it does not answer gives up.
        const size_t mark = interrupted.Output().size();
        interrupted.Send("\x03");
        Pause(1000);
        interrupted.Send("\x03");
        ASSERT_TRUE(interrupted.WaitFor("Statement given up: the server does not answer; the connection is closed.",
                                        mark, 5000))
            << interrupted.Output().substr(mark);
        ASSERT_TRUE(interrupted.WaitFor("SQL> ", mark, 5000)) << interrupted.Output().substr(mark);
    }
    EXPECT_TRUE(interrupted.Exit()) << interrupted.Output();
}

}  // namespace

namespace {

// What a terminal of `columns` columns shows after `bytes`: line feed, return, erase to the end of
// the line, automatic margins; other escape sequences move nothing. Characters as UTF-8 bytes.
std::vector<std::string> Screen(const std::string& bytes, size_t columns) {
    std::vector<std::vector<std::string>> rows(1, std::vector<std::string>(columns));
    size_t row = 0, col = 0;
    for (size_t i = 0; i < bytes.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(bytes[i]);
        if (c == '\x1b' && i + 1 < bytes.size() && bytes[i + 1] == '[') {
            size_t end = i + 2;
            while (end < bytes.size() && !(bytes[end] >= '@' && bytes[end] <= '~')) ++end;
            if (end < bytes.size() && bytes[end] == 'K')
                for (size_t k = std::min(col, columns); k < columns; ++k) rows[row][k].clear();
            i = end;
            continue;
        }
        if (c == '\r') col = 0;
        else if (c == '\n') ++row;
        else if (c == '\b') col = col > 0 ? col - 1 : 0;
        else if (c >= 0x20 && (c & 0xC0) != 0x80) {
            if (col >= columns) {
                col = 0;
                ++row;
            }
            if (row >= rows.size()) rows.resize(row + 1, std::vector<std::string>(columns));
            rows[row][col++] = std::string(1, static_cast<char>(c));
        }
        if (row >= rows.size()) rows.resize(row + 1, std::vector<std::string>(columns));
    }
    std::vector<std::string> lines;
    for (const auto& cells : rows) {
        std::string line;
        for (const auto& cell : cells) line += cell.empty() ? " " : cell;
        while (!line.empty() && line.back() == ' ') line.pop_back();
        lines.push_back(line);
    }
    return lines;
}

TEST(TerminalScreen, OutputIsNotOverdrawnByThePrompt) {
    const std::string db = testdb::NewSqliteFile();
    const testdb::TempDir dir("orva-term");
    Terminal term({"-t", "sqlite3", "-d", db}, Env(dir.str()));
    ASSERT_TRUE(term.Ready()) << term.Output();
    // A program's output without a line end keeps its line; the prompt comes on the next.
    size_t mark = term.Output().size();
    term.Send("host printf abc-$((6 * 7))\r");
    ASSERT_TRUE(term.WaitFor("abc-42", mark)) << term.Output();
    ASSERT_TRUE(term.WaitFor("SQL> ", term.Output().find("abc-42", mark))) << term.Output();
    Pause(200);
    std::vector<std::string> screen = Screen(term.Output(), 100);
    bool kept = false;
    for (const auto& line : screen) kept = kept || line.rfind("abc-42", 0) == 0;
    EXPECT_TRUE(kept) << term.Output();

    // A recalled entry of two lines shows its second line after the continuation prompt.
    mark = term.Output().size();
    term.Send("select 40 +\r2 as v;\r");
    ASSERT_TRUE(term.WaitFor("Query Okay", mark)) << term.Output().substr(mark);
    mark = term.Output().size();
    term.Send("\x1b[A\r");
    ASSERT_TRUE(term.WaitFor("Query Okay", mark)) << term.Output().substr(mark);
    screen = Screen(term.Output(), 100);
    // Typed and recalled: both times the line after the prompt, then the table.
    size_t shown = 0;
    for (size_t i = 0; i + 1 < screen.size(); ++i) {
        if (screen[i] != "  ~ 2 2 as v;") continue;
        ++shown;
        EXPECT_EQ(screen[i + 1].rfind("+--", 0), 0u) << screen[i + 1];
    }
    EXPECT_EQ(shown, 2u) << term.Output().substr(mark);
    EXPECT_TRUE(term.Exit()) << term.Output();
}

}  // namespace

namespace {

TEST(TerminalRedo, CtrlCStopsAWholeRedoAndTheShellGoesOn) {
    const std::string db = orvatest::NewSqlite("create table big(n integer)");
    const testdb::TempDir dir("orva-term");
    // A first run leaves two entries: a join of the (still empty) table, and a line that runs it
    // five times before its own select.
    auto first = orvatest::RunOrva({"-t", "sqlite3", "-d", db},
                                   "select count(*) as pairs from big a, big b;\n"
                                   "redo 1; redo 1; redo 1; redo 1; redo 1; select 2 as done;\n",
                                   Env(dir.str()));
    ASSERT_EQ(first.exitCode, 0) << first.out;
    // Now each run of the first entry takes a while.
    ASSERT_EQ(Ask(db,
                  "with recursive c(x) as (select 1 union all select x + 1 from c where x < 8000) "
                  "insert into big select x from c"),
              "");
    Terminal term({"-t", "sqlite3", "-d", db}, Env(dir.str()));
    ASSERT_TRUE(term.Ready()) << term.Output();
    size_t mark = term.Output().size();
    term.Send("redo 2\r");
    ASSERT_TRUE(term.WaitFor("redo 2", mark)) << term.Output();
    Pause(700);
    term.Send("\x03");
    ASSERT_TRUE(term.WaitFor("Aborted", mark, 15000)) << term.Output().substr(mark);
    ASSERT_TRUE(term.WaitFor("SQL> ", term.Output().find("Aborted", mark))) << term.Output().substr(mark);
    EXPECT_EQ(term.Output().find("done", mark), std::string::npos) << term.Output().substr(mark);
    EXPECT_EQ(term.Output().find("Bye", mark), std::string::npos) << term.Output().substr(mark);
    mark = term.Output().size();
    term.Send("select 5 as five;\r");
    ASSERT_TRUE(term.WaitFor("Query Okay", mark)) << term.Output().substr(mark);
    EXPECT_TRUE(term.Exit()) << term.Output();
}

}  // namespace
