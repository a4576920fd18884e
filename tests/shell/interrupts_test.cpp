// Interrupts, the front-end link and the settings kept between runs, on the real orva program:
// in a pseudo-terminal (Ctrl+C, hidden entry, line editing, hang-up), through a pipe (settings
// and history across two runs) and under a control block (the front end's requests).
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "../core/testdb.h"
#include "../core/tempdir.h"
#include "run_orva.h"
#include "terminal.h"
#include "zentra/codepage.h"
#include "zentra/pipe.h"

using orvatest::EnvVar;
using orvatest::kWelcome;
using orvatest::ReadFile;
using orvatest::RunOrva;
using orvatest::Terminal;

namespace {

std::string SqliteDb() {
    return orvatest::NewSqlite("create table t(id integer); insert into t values (1), (2), (3);");
}

TEST(InterruptsTerminal, PasswordIsAskedWithoutEcho) {
    const testdb::TempDir configDir("orvanta_intr");
    const std::string config = configDir.str();
    Terminal term({"-t", "sqlite3", "-d", SqliteDb(), "-u", "tester", "-p"}, {"XDG_CONFIG_HOME=" + config});
    ASSERT_TRUE(term.Started());
    ASSERT_TRUE(term.WaitFor("Password for user 'tester': ")) << term.Output();
    size_t asked = term.Output().size();
    term.Send("s3cretWord\r");
    ASSERT_TRUE(term.WaitFor("SQL> ", asked)) << term.Output();
    EXPECT_EQ(term.Output().find("s3cretWord"), std::string::npos) << "the password was echoed: " << term.Output();
    // The line break that the unechoed Enter did not give comes right after the prompt (the
    // terminal turns its "\n" into "\r\n").
    EXPECT_EQ(term.Output().compare(asked, 3, "\r\r\n"), 0) << term.Output();
    term.Send("select count(*) as n from t;\r");
    ASSERT_TRUE(term.WaitFor("Query Okay", asked)) << term.Output();
    // Echo is back for ordinary lines.
    EXPECT_NE(term.Output().find("select count(*) as n from t;", asked), std::string::npos) << term.Output();
    EXPECT_TRUE(term.Exit()) << term.Output();
    EXPECT_NE(term.Output().find("Bye"), std::string::npos);
}

TEST(InterruptsTerminal, PasswordsLeaveTheCommandLineAndTheEnvironment) {
    const testdb::TempDir configDir("orvanta_intr");
    const std::string config = configDir.str();
    for (const std::vector<std::string>& form :
         {std::vector<std::string>{"-p", "Secr3tPw"}, {"-pSecr3tPw"}, {"--password=Secr3tPw"}}) {
        std::vector<std::string> args{"-t", "sqlite3", "-d", SqliteDb(), "-u", "tester"};
        args.insert(args.end(), form.begin(), form.end());
        Terminal term(args, {"XDG_CONFIG_HOME=" + config, "ORVANTA_PASSWORD=EnvPw9876"});
        ASSERT_TRUE(term.Started());
        ASSERT_TRUE(term.Ready()) << term.Output();
        // What every user of the machine can read while the session runs.
        const std::string proc = "/proc/" + std::to_string(term.Pid());
        const std::string cmdline = ReadFile(proc + "/cmdline"), environ = ReadFile(proc + "/environ");
        EXPECT_NE(cmdline.find("tester"), std::string::npos);
        EXPECT_EQ(cmdline.find("Secr3tPw"), std::string::npos) << form[0];
        EXPECT_EQ(environ.find("EnvPw9876"), std::string::npos);
        EXPECT_EQ(environ.find("ORVANTA_PASSWORD"), std::string::npos);
        EXPECT_NE(environ.find("XDG_CONFIG_HOME="), std::string::npos);
        EXPECT_TRUE(term.Exit());
    }
}

TEST(InterruptsTerminal, CtrlCAtThePromptEndsTheShell) {
    const testdb::TempDir configDir("orvanta_intr");
    const std::string config = configDir.str();
    for (const std::string typed : {"", "select 1 fr"}) {
        Terminal term({"-t", "sqlite3", "-d", SqliteDb()}, {"XDG_CONFIG_HOME=" + config});
        ASSERT_TRUE(term.Ready()) << term.Output();
        // A half-typed line is dropped, as a terminal drops it: the shell still ends.
        if (!typed.empty()) {
            term.Send(typed);
            ASSERT_TRUE(term.WaitFor(typed)) << term.Output();
        }
        size_t before = term.Output().size();
        term.Send("\x03");
        int status = term.Wait();
        ASSERT_TRUE(WIFEXITED(status)) << "still running after Ctrl+C with '" << typed << "': " << term.Output();
        EXPECT_EQ(WEXITSTATUS(status), 0);
        std::string tail = term.Output().substr(before);
        size_t aborted = tail.find("Aborted");
        ASSERT_NE(aborted, std::string::npos) << tail;
        EXPECT_NE(tail.find("Bye", aborted), std::string::npos) << tail;
        EXPECT_EQ(tail.find("~ 2"), std::string::npos) << "the line was continued: " << tail;
    }
    // The orderly end saved the settings.
    EXPECT_TRUE(std::filesystem::exists(config + "/orvanta/registry.reg"));
}

TEST(InterruptsTerminal, CtrlCDuringAHostCommandIsTheCommands) {
    // The terminal sends Ctrl+C to the whole process group: it ends the program that HOST runs,
    // and the shell goes on at its prompt.
    const testdb::TempDir configDir("orvanta_intr");
    const std::string config = configDir.str();
    Terminal term({"-t", "sqlite3", "-d", SqliteDb()}, {"XDG_CONFIG_HOME=" + config});
    ASSERT_TRUE(term.Ready()) << term.Output();
    // The program's own output, not the echo of the typed line: "mark-42".
    term.Send("host echo mark-$((6 * 7)) && sleep 30\r");
    ASSERT_TRUE(term.WaitFor("mark-42")) << term.Output();
    usleep(300 * 1000);  // let the shell start the sleep
    size_t before = term.Output().size();
    term.Send("\x03");
    ASSERT_TRUE(term.WaitFor("SQL> ", before)) << term.Output();
    term.Send("select 6 * 7;\r");
    ASSERT_TRUE(term.WaitFor("42", before)) << term.Output();
    EXPECT_EQ(term.Output().find("Aborted", before), std::string::npos) << term.Output();
    EXPECT_TRUE(term.Exit()) << term.Output();
}

TEST(InterruptsTerminal, LineEditingRecallAndRedraw) {
    const testdb::TempDir configDir("orvanta_intr");
    const std::string config = configDir.str();
    // A first run through a pipe leaves a statement in the history.
    auto first =
        RunOrva({"-t", "sqlite3", "-d", SqliteDb()}, "select 40 + 2 as answer;\nexit\n", {"XDG_CONFIG_HOME=" + config});
    ASSERT_EQ(first.exitCode, 0) << first.out;

    Terminal term({"-t", "sqlite3", "-d", SqliteDb()}, {"XDG_CONFIG_HOME=" + config});
    ASSERT_TRUE(term.Ready()) << term.Output();
    // Up arrow recalls the saved statement; Enter runs it.
    size_t mark = term.Output().size();
    term.Send("\x1b[A");
    ASSERT_TRUE(term.WaitFor("select 40 + 2 as answer;", mark)) << term.Output();
    term.Send("\r");
    ASSERT_TRUE(term.WaitFor("Query Okay", mark)) << term.Output();
    EXPECT_NE(term.Output().find(" 42 |", mark), std::string::npos) << term.Output().substr(mark);

    // A redraw (Ctrl+L clears the screen) shows the prompt again before the text.
    ASSERT_TRUE(term.WaitFor("SQL> ", term.Output().find("Query Okay", mark))) << term.Output();
    term.Send("sel");
    ASSERT_TRUE(term.WaitFor("sel", mark + 1)) << term.Output();
    mark = term.Output().size();
    term.Send("\x0c");
    EXPECT_TRUE(term.WaitFor("SQL> sel", mark)) << term.Output().substr(mark);
    term.Send("\x15");
    EXPECT_TRUE(term.Exit()) << term.Output();
}

TEST(InterruptsTerminal, CtrlCCancelsARunningStatementOnPostgreSQL) {
    const char* port = std::getenv("ORVANTA_TEST_PG_PORT");
    if (!port) GTEST_SKIP() << "PostgreSQL is not running (tests/dbservers.sh)";
    const testdb::TempDir configDir("orvanta_intr");
    const std::string config = configDir.str();
    Terminal term({"-t", "pgsql", "-h", "127.0.0.1", "-P", port, "-u", testdb::Env("ORVANTA_TEST_USER"), "-d",
                   testdb::Env("ORVANTA_TEST_DB")},
                  {"XDG_CONFIG_HOME=" + config, "ORVANTA_PASSWORD=" + testdb::Env("ORVANTA_TEST_PASSWORD")});
    ASSERT_TRUE(term.Ready()) << term.Output();
    size_t mark = term.Output().size();
    term.Send("select pg_sleep(30);\r");
    ASSERT_TRUE(term.WaitFor("select pg_sleep(30);", mark)) << term.Output();
    // Give the statement time to reach the server before it is cancelled.
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    term.Send("\x03");
    // Far sooner than the 30 seconds of the statement: the cancel error, then the prompt.
    ASSERT_TRUE(term.WaitFor("cancel", mark, 10000)) << term.Output().substr(mark);
    ASSERT_TRUE(term.WaitFor("SQL> ", term.Output().find("cancel", mark), 5000)) << term.Output().substr(mark);
    // The terminal's echo of the key stands on a line of its own, before the cancel message.
    EXPECT_NE(term.Output().find("^C\r", mark), std::string::npos) << term.Output().substr(mark);
    EXPECT_EQ(term.Output().find("Aborted", mark), std::string::npos) << term.Output().substr(mark);
    // The shell goes on.
    mark = term.Output().size();
    term.Send("select 5 as five;\r");
    ASSERT_TRUE(term.WaitFor("Query Okay", mark)) << term.Output().substr(mark);
    EXPECT_TRUE(term.Exit()) << term.Output();
}

TEST(InterruptsTerminal, HangupEndsAtOnceWithoutSaving) {
    const testdb::TempDir configDir("orvanta_intr");
    const std::string config = configDir.str();
    Terminal term({"-t", "sqlite3", "-d", SqliteDb()}, {"XDG_CONFIG_HOME=" + config});
    ASSERT_TRUE(term.WaitFor(kWelcome)) << term.Output();
    size_t mark = term.Output().size();
    term.Send("select 4242 as marker;\r");
    ASSERT_TRUE(term.WaitFor("Query Okay", mark)) << term.Output();
    ASSERT_TRUE(term.WaitFor("SQL> ", term.Output().find("Query Okay", mark))) << term.Output();
    term.Hangup();
    int status = term.Wait();
    ASSERT_NE(status, -1) << "still running after the hang-up";
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGHUP) << status;
    // Neither the history nor the settings were written.
    EXPECT_EQ(ReadFile(config + "/orvanta/registry.reg").find("4242"), std::string::npos);
}

TEST(InterruptsSettings, HistoryAndSettingsComeBackInTheNextRun) {
    const testdb::TempDir configDir("orvanta_intr");
    const std::string config = configDir.str();
    std::string db = SqliteDb();
    auto first = RunOrva({"-t", "sqlite3", "-d", db},
                         "select id from t where id = 2;\n"
                         "set table off\n"
                         "set errbeep off\n"
                         "set index on\n"
                         "set truncate on\n"
                         "set editor myeditor\n"
                         "exit\n",
                         {"XDG_CONFIG_HOME=" + config});
    ASSERT_EQ(first.exitCode, 0) << first.out;

    auto second = RunOrva({"-t", "sqlite3", "-d", db},
                          "redo\nset table\nset errbeep\nset index\nset truncate\nset editor\nexit\n",
                          {"XDG_CONFIG_HOME=" + config});
    ASSERT_EQ(second.exitCode, 0) << second.out;
    const std::string& out = second.out;
    EXPECT_NE(out.find("  1. select id from t where id = 2;\r\n"
                       "  2. set table off\r\n"
                       "  3. set errbeep off\r\n"
                       "  4. set index on\r\n"
                       "  5. set truncate on\r\n"
                       "  6. set editor myeditor\r\n"),
              std::string::npos)
        << out;
    EXPECT_NE(out.find("Display result as LIST."), std::string::npos) << out;
    EXPECT_NE(out.find("Error beep OFF."), std::string::npos) << out;
    EXPECT_NE(out.find("Truncate record value ON."), std::string::npos) << out;
    EXPECT_NE(out.find("myeditor"), std::string::npos) << out;

    // A run that ends at end of input ("Aborted") saves as well: its statements join the history.
    auto third = RunOrva({"-t", "sqlite3", "-d", db}, "select 99 as last_one;\n", {"XDG_CONFIG_HOME=" + config});
    EXPECT_NE(third.out.find("Aborted"), std::string::npos) << third.out;
    auto fourth = RunOrva({"-t", "sqlite3", "-d", db}, "redo\n", {"XDG_CONFIG_HOME=" + config});
    // (Entry 7 is the second run's "set index", a query that is stored too.)
    EXPECT_NE(fourth.out.find("  8. select 99 as last_one;\r\n\r\n"), std::string::npos) << fourth.out;
}

// The front end's side: orva started through a pipe with a control block.
class FrontEnd : public zentra::CPipe {
public:
    ~FrontEnd() override { Close(); }
    void OnReadData(const wchar_t* text, int length) override {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_text.append(text, static_cast<size_t>(length));
    }
    std::string Text() {
        std::lock_guard<std::mutex> lock(m_mutex);
        return zentra::WideToUtf8(m_text);
    }
    bool WaitFor(const std::string& text, size_t from = 0, int limitMs = 20000) {
        for (int waited = 0; waited < limitMs; waited += 20) {
            if (Text().find(text, from) != std::string::npos) return true;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    bool WaitForEnd(int limitMs = 20000) {
        for (int waited = 0; waited < limitMs && IsRunning(); waited += 20)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        return !IsRunning();
    }

private:
    std::mutex m_mutex;
    std::wstring m_text;
};

TEST(InterruptsLink, KeysCancelAndCtrlCFromTheFrontEnd) {
    const testdb::TempDir configDir("orvanta_intr");
    EnvVar config("XDG_CONFIG_HOME", configDir.str());
    FrontEnd front;
    std::string command = std::string(ORVA_BINARY) + " -t sqlite3 -d \"" + SqliteDb() + "\"";
    ASSERT_TRUE(front.Start(zentra::Utf8ToWide(command).c_str()));
    ASSERT_TRUE(front.WaitFor(kWelcome)) << front.Text();
    ASSERT_TRUE(front.WriteData(L"select 31 as thirty_one;\r\n"));
    ASSERT_TRUE(front.WaitFor("Query Okay")) << front.Text();

    // Keys: H, I and Enter type the history command; Left arrow (37) has no character.
    size_t mark = front.Text().size();
    // The block holds one key at a time: each is given time to be taken (polled every 100 ms).
    for (int key : {int('H'), 37, int('I'), 13}) {
        front.KeyDown(key);
        std::this_thread::sleep_for(std::chrono::milliseconds(400));
    }
    ASSERT_TRUE(front.WaitFor("  1. select 31 as thirty_one;", mark)) << front.Text().substr(mark);

    // A cancel with nothing running changes nothing: the shell goes on.
    front.Disconnect();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    mark = front.Text().size();
    ASSERT_TRUE(front.WriteData(L"select 32 as thirty_two;\r\n"));
    ASSERT_TRUE(front.WaitFor("Query Okay", mark)) << front.Text().substr(mark);
    EXPECT_TRUE(front.IsRunning());

    // Ctrl+C at the prompt ends the shell in order.
    mark = front.Text().size();
    front.Abort();
    ASSERT_TRUE(front.WaitForEnd()) << front.Text().substr(mark);
    std::string tail = front.Text().substr(mark);
    EXPECT_NE(tail.find("\r\nAborted\r\n\r\nBye\r\n"), std::string::npos) << tail;
}

TEST(InterruptsLink, CancelStopsAStatementOnPostgreSQL) {
    const char* port = std::getenv("ORVANTA_TEST_PG_PORT");
    if (!port) GTEST_SKIP() << "PostgreSQL is not running (tests/dbservers.sh)";
    const testdb::TempDir configDir("orvanta_intr");
    EnvVar config("XDG_CONFIG_HOME", configDir.str());
    EnvVar password("ORVANTA_PASSWORD", testdb::Env("ORVANTA_TEST_PASSWORD"));
    FrontEnd front;
    std::string command = std::string(ORVA_BINARY) + " -t pgsql -h 127.0.0.1 -P " + port + " -u " +
                          testdb::Env("ORVANTA_TEST_USER") + " -d " + testdb::Env("ORVANTA_TEST_DB");
    ASSERT_TRUE(front.Start(zentra::Utf8ToWide(command).c_str()));
    ASSERT_TRUE(front.WaitFor(kWelcome)) << front.Text();
    size_t mark = front.Text().size();
    ASSERT_TRUE(front.WriteData(L"select pg_sleep(30);\r\n"));
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    front.Disconnect();
    ASSERT_TRUE(front.WaitFor("cancel", mark, 10000)) << front.Text().substr(mark);
    mark = front.Text().size();
    ASSERT_TRUE(front.WriteData(L"select 6 as six;\r\nexit\r\n"));
    ASSERT_TRUE(front.WaitForEnd()) << front.Text().substr(mark);
    EXPECT_NE(front.Text().find("Query Okay", mark), std::string::npos) << front.Text().substr(mark);
}

}  // namespace
