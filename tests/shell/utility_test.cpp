// The environment and utility commands against the real shell state: HELP, SET, REDO, HOST,
// EDIT, PAUSE, START and SPOOL. The shell's output goes to a memory file, its input comes from a
// pipe; databases are real SQLite files through the ODBC driver, and HOST and EDIT start real
// processes.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <clocale>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "../core/testdb.h"
#include "commands.h"
#include "reader.h"
#include "resources.h"
#include "state.h"
#include "utility.h"
#include "zentra/codepage.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/history.h"
#include "zentra/variant.h"

namespace {

namespace fs = std::filesystem;
using orva::State;
using zentra::CADOConnection;
using zentra::CADORecordSet;

bool Contains(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void WriteFile(const fs::path& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
}

void WriteScript(const fs::path& path, const std::string& body) {
    WriteFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all);
}

// An environment variable set (or unset) for the lifetime of the object.
class EnvVar {
public:
    EnvVar(const char* name, const char* value) : name_(name) {
        if (const char* old = std::getenv(name)) old_ = old;
        if (value) setenv(name, value, 1);
        else unsetenv(name);
    }
    ~EnvVar() {
        if (old_) setenv(name_.c_str(), old_->c_str(), 1);
        else unsetenv(name_.c_str());
    }
    EnvVar(const EnvVar&) = delete;
    EnvVar& operator=(const EnvVar&) = delete;

private:
    std::string name_;
    std::optional<std::string> old_;
};

// The shell state for one test: output to a memory file, input from a pipe, an empty history,
// a temporary HOME and XDG_STATE_HOME, no editor variables; everything restored afterwards.
class UtilityShell : public ::testing::Test {
protected:
    void SetUp() override {
        orva::RegisterResources();
        char pattern[] = "/tmp/orvanta_utility_XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        fs::create_directories(dir_ / "home");
        home_.emplace("HOME", (dir_ / "home").c_str());
        state_.emplace("XDG_STATE_HOME", (dir_ / "state").c_str());
        visual_.emplace("VISUAL", nullptr);
        editorVar_.emplace("EDITOR", nullptr);

        outFd_ = memfd_create("utility_test_output", 0);
        ASSERT_GE(outFd_, 0);
        int fds[2];
        ASSERT_EQ(pipe2(fds, O_CLOEXEC), 0);
        inRead_ = fds[0];
        inWrite_ = fds[1];

        ShellStateSave();
        State().output = std::make_unique<zentra::COutput>(State().spool.get(), outFd_);
        State().input = std::make_unique<zentra::CInput>(State().spool.get(), inRead_, outFd_);
    }

    void TearDown() override {
        State().spool->Close();
        State().connection.reset();
        State().output = std::move(saved_.output);
        State().input = std::move(saved_.input);
        State().connection = std::move(saved_.connection);
        State().prompt = saved_.prompt;
        State().editor = saved_.editor;
        State().lastStatement = saved_.lastStatement;
        State().resultViewType = saved_.resultViewType;
        State().truncValue = saved_.truncValue;
        State().displayRecordNum = saved_.displayRecordNum;
        State().errorBeep = saved_.errorBeep;
        State().history->SetCommandArray(&saved_.history);
        for (int fd : {outFd_, inRead_, inWrite_})
            if (fd >= 0) close(fd);
        editorVar_.reset();
        visual_.reset();
        state_.reset();
        home_.reset();
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }

    // Everything printed since the last call.
    std::string Take() {
        std::string text;
        char buffer[4096];
        lseek(outFd_, 0, SEEK_SET);
        for (ssize_t n; (n = read(outFd_, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(ftruncate(outFd_, 0), 0);
        lseek(outFd_, 0, SEEK_SET);
        return text;
    }

    // Text the shell will read as typed input.
    void Type(const std::string& text) {
        ASSERT_EQ(write(inWrite_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
    }

    // A new SQLite database as the shell's connection.
    void Connect() {
        State().connection = std::make_unique<CADOConnection>();
        const std::wstring cs = testdb::SqliteConnectionString(testdb::NewSqliteFile());
        ASSERT_TRUE(State().connection->Open(cs.c_str()))
            << zentra::WideToUtf8(State().connection->GetLastErrorString());
    }

    void Exec(const std::wstring& sql) {
        EXPECT_TRUE(State().connection->Execute(sql.c_str()))
            << zentra::WideToUtf8(sql) << ": " << zentra::WideToUtf8(State().connection->GetLastErrorString());
    }

    // The first column of every row of `sql`, as text.
    std::vector<std::wstring> Column(const std::wstring& sql) {
        std::vector<std::wstring> values;
        CADORecordSet rs(State().connection.get(), 1);
        if (!rs.Execute(sql.c_str(), nullptr)) {
            ADD_FAILURE() << zentra::WideToUtf8(sql) << ": " << zentra::WideToUtf8(rs.GetLastErrorString());
            return values;
        }
        for (; !rs.IsEOF(); rs.MoveNext()) {
            zentra::_variant_t value;
            std::wstring text;
            EXPECT_TRUE(rs.GetFieldValue(0, value));
            EXPECT_TRUE(zentra::VariantToText(value, text));
            values.push_back(text);
        }
        return values;
    }

    void SetHistory(const std::vector<std::wstring>& entries) {
        zentra::CStringArray array(entries.begin(), entries.end());
        State().history->SetCommandArray(&array);
    }

    fs::path dir_;

private:
    void ShellStateSave() {
        ShellState_& s = saved_;
        s.output = std::move(State().output);
        s.input = std::move(State().input);
        s.connection = std::move(State().connection);
        s.prompt = State().prompt;
        s.editor = State().editor;
        s.lastStatement = State().lastStatement;
        s.resultViewType = State().resultViewType;
        s.truncValue = State().truncValue;
        s.displayRecordNum = State().displayRecordNum;
        s.errorBeep = State().errorBeep;
        s.history = *State().history->GetCommandArray();
        State().history->SetCommandArray(nullptr);
        State().prompt = L"SQL> ";
        State().editor = L"notepad";
        State().lastStatement.clear();
        State().resultViewType = 0;
        State().truncValue = 0;
        State().displayRecordNum = 0;
        State().errorBeep = 1;
    }

    struct ShellState_ {
        std::unique_ptr<zentra::COutput> output;
        std::unique_ptr<zentra::CInput> input;
        std::unique_ptr<CADOConnection> connection;
        std::wstring prompt, editor, lastStatement;
        int resultViewType = 0, truncValue = 0, displayRecordNum = 0, errorBeep = 1;
        zentra::CStringArray history;
    } saved_;
    std::optional<EnvVar> home_, state_, visual_, editorVar_;
    int outFd_ = -1, inRead_ = -1, inWrite_ = -1;
};

// ---------------------------------------------------------------------------------------------
// HELP

using UtilityHelp = UtilityShell;

TEST_F(UtilityHelp, PrintsTheCommandListThroughTheDispatcher) {
    EXPECT_EQ(orva::ProcessLine(L"help;", 1), 1);
    const std::string text = Take();
    EXPECT_EQ(text.rfind("Note that all SQL statements must be first on line and end with ';'\r\n", 0), 0u);
    EXPECT_TRUE(Contains(text, "\r\nDECL[ARE]         Declare SQL statement. \r\n"));
    EXPECT_TRUE(Contains(text, "\r\n          [SQL]PROMPT   Change Orvanta prompt.\r\n"));
    const std::string last = "USE [database]    Use another database or view current database.\r\n\r\n";
    ASSERT_GE(text.size(), last.size());
    EXPECT_EQ(text.substr(text.size() - last.size()), last);
    // 42 lines and the empty one at the end.
    size_t lines = 0;
    for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos; at += 2) ++lines;
    EXPECT_EQ(lines, 43u);
    EXPECT_EQ(orva::ProcessLine(L"?", 1), 1);
    EXPECT_EQ(Take(), text);
}

// ---------------------------------------------------------------------------------------------
// SET

using UtilitySet = UtilityShell;

TEST_F(UtilitySet, TableSwitchesTheLayoutOfLaterResults) {
    Connect();
    EXPECT_EQ(orva::SetOption(L"SET TABLE OFF"), 1);
    EXPECT_EQ(Take(), "Display result as LIST.\r\n\r\n");
    EXPECT_EQ(State().resultViewType, 1);
    EXPECT_EQ(orva::SetOption(L"set tab"), 0);
    EXPECT_EQ(Take(), "Display result as LIST.\r\n\r\n");

    EXPECT_EQ(orva::ProcessLine(L"select 42 as answer;", 1), 1);
    std::string list = Take();
    EXPECT_TRUE(Contains(list, "answer")) << list;
    EXPECT_TRUE(Contains(list, "42")) << list;
    EXPECT_FALSE(Contains(list, "+-")) << list;

    EXPECT_EQ(orva::SetOption(L"SET TAB on extra words"), 1);
    EXPECT_EQ(Take(), "Display result as TABLE.\r\n\r\n");
    EXPECT_EQ(State().resultViewType, 0);
    EXPECT_EQ(orva::ProcessLine(L"select 42 as answer;", 1), 1);
    EXPECT_TRUE(Contains(Take(), "+-"));
}

TEST_F(UtilitySet, PromptSetAndReset) {
    EXPECT_EQ(orva::SetOption(L"SET PROMPT \"$_DB.> \""), 1);
    EXPECT_EQ(Take(), "PROMPT set to '$_DB.> '\r\n\r\n");
    EXPECT_EQ(State().prompt, L"$_DB.> ");
    EXPECT_EQ(orva::SetOption(L"SET SQLPROMPT abc def"), 1);
    EXPECT_EQ(State().prompt, L"abc");
    Take();
    EXPECT_EQ(orva::SetOption(L"SET PROMPT"), 1);
    EXPECT_EQ(Take(), "Returning to default PROMPT of 'SQL> '\r\n\r\n");
    EXPECT_EQ(State().prompt, L"SQL> ");
}

TEST_F(UtilitySet, SwitchesReportAndRejectUnknownWords) {
    EXPECT_EQ(orva::SetOption(L"SET TRUNC MAYBE"), 0);
    EXPECT_EQ(Take(), "Unknow option 'MAYBE'\r\n\r\n");
    EXPECT_EQ(State().truncValue, 0);

    EXPECT_EQ(orva::SetOption(L"SET BEEP OFF"), 1);
    EXPECT_EQ(orva::SetOption(L"SET TRUNC ON"), 1);
    EXPECT_EQ(Take(), "Error beep OFF.\r\n\r\nTruncate record value ON.\r\n\r\n");
    EXPECT_EQ(State().errorBeep, 0);
    EXPECT_EQ(State().truncValue, 1);
    EXPECT_EQ(orva::SetOption(L"SET ERRBEEP"), 0);
    EXPECT_EQ(Take(), "Error beep OFF.\r\n\r\n");
    EXPECT_EQ(orva::SetOption(L"SET TRUNCATE"), 0);
    EXPECT_EQ(Take(), "Truncate record value ON.\r\n\r\n");

    // INDEX takes at most one word after the option; its query counts as a change.
    EXPECT_EQ(orva::SetOption(L"SET IND on"), 1);
    EXPECT_EQ(State().displayRecordNum, 1);
    EXPECT_EQ(orva::SetOption(L"SET INDEX OFF please"), 0);
    EXPECT_EQ(State().displayRecordNum, 1);
    EXPECT_EQ(orva::SetOption(L"SET INDEX"), 1);
    EXPECT_EQ(Take(), "Display record index ON.\r\n\r\nUnknow option 'please'\r\n\r\nDisplay record index ON.\r\n\r\n");

    // Whole words only: TABL is nobody's option and goes to the server (none here).
    EXPECT_EQ(orva::SetOption(L"SET TABL OFF"), 0);
    EXPECT_EQ(Take(), "No database selected.\r\n\r\n");
    EXPECT_EQ(State().resultViewType, 0);
}

TEST_F(UtilitySet, EditorSettingAndItsDefault) {
    EnvVar editor("EDITOR", "nano -w");
    EXPECT_EQ(orva::SetOption(L"SET EDITOR"), 0);
    EXPECT_EQ(Take(), "Current editor is 'nano -w'.\r\n\r\n");
    {
        EnvVar visual("VISUAL", "emacs");
        EXPECT_EQ(orva::SetOption(L"SET ED"), 0);
        EXPECT_EQ(Take(), "Current editor is 'emacs'.\r\n\r\n");
    }
    {
        EnvVar none("EDITOR", nullptr);
        EXPECT_EQ(orva::EditorCommand(L"notepad"), L"vi");
    }
    EXPECT_EQ(orva::SetOption(L"SET ED \"code --wait\""), 1);
    EXPECT_EQ(Take(), "Current editor is 'code --wait'.\r\n\r\n");
    EXPECT_EQ(State().editor, L"code --wait");
    EXPECT_EQ(orva::SetOption(L"SET EDITOR joe now please"), 0);
    EXPECT_EQ(Take(), "Unknow option 'now'\r\n\r\n");
    EXPECT_EQ(State().editor, L"code --wait");
}

TEST_F(UtilitySet, OtherOptionsGoToTheServer) {
    Connect();
    // SQLite has no SET statement: its syntax error shows the line reached it unchanged.
    EXPECT_EQ(orva::SetOption(L"SET AUTOCOMMIT OFF"), 0);
    const std::string error = Take();
    EXPECT_TRUE(Contains(error, "syntax error")) << error;
    EXPECT_TRUE(Contains(error, "SET")) << error;
    // Through the dispatcher: fewer than two words never reach the handler.
    EXPECT_EQ(orva::ProcessLine(L"SET", 1), 0);
    EXPECT_EQ(Take(), "No OPTIONS specified.\r\n\r\n");
}

// ---------------------------------------------------------------------------------------------
// REDO and HI

using UtilityRedo = UtilityShell;

TEST_F(UtilityRedo, ListsTheHistoryShorteningLongEntries) {
    EXPECT_EQ(orva::ProcessLine(L"HI", 1), 2);
    EXPECT_EQ(Take(), "Command Buffer is empty.\r\n\r\n");
    EXPECT_EQ(orva::ProcessLine(L"REDO LAST", 1), 2);
    EXPECT_EQ(Take(), "Command Buffer (0) not found.\r\n\r\n");

    SetHistory({L"select 1;", L"select * from orders where id = 42", L"123456789012345678901234567890"});
    EXPECT_EQ(orva::RedoCommand(nullptr), 2);
    EXPECT_EQ(Take(),
              "  1. select 1;\r\n"
              "  2. select * from orders where ...\r\n"
              "  3. 123456789012345678901234567890\r\n"
              "\r\n");
}

TEST_F(UtilityRedo, RunsTheChosenEntryAgain) {
    SetHistory({L"set tab off", L"set trunc on", L"set beep off"});
    const std::wstring first = L"FIRST", last = L"last", second = L"2nd", zero = L"0", big = L"4",
                       negative = L"-1", word = L"abc";
    EXPECT_EQ(orva::RedoCommand(&first), 2);
    EXPECT_EQ(Take(), "Display result as LIST.\r\n\r\n");
    EXPECT_EQ(orva::RedoCommand(&last), 2);
    EXPECT_EQ(Take(), "Error beep OFF.\r\n\r\n");
    EXPECT_EQ(orva::RedoCommand(&second), 2);  // the number at the start of the word
    EXPECT_EQ(Take(), "Truncate record value ON.\r\n\r\n");
    EXPECT_EQ(State().lastStatement, L"set trunc on");

    EXPECT_EQ(orva::RedoCommand(&zero), 2);
    EXPECT_EQ(orva::RedoCommand(&big), 2);
    EXPECT_EQ(orva::RedoCommand(&negative), 2);
    EXPECT_EQ(orva::RedoCommand(&word), 2);
    EXPECT_EQ(Take(),
              "Command Buffer (0) not found.\r\n\r\nCommand Buffer (4) not found.\r\n\r\n"
              "Command Buffer (-1) not found.\r\n\r\nCommand Buffer (0) not found.\r\n\r\n");
    // REDO is never stored itself.
    EXPECT_EQ(State().history->GetCommandCount(), 3);
}

TEST_F(UtilityRedo, AnEntryThatRedoesItselfEnds) {
    SetHistory({L"redo 1"});
    const std::wstring one = L"1";
    EXPECT_EQ(orva::RedoCommand(&one), 2);
    EXPECT_TRUE(Contains(Take(), "Command Buffer (1) not found."));
}

// ---------------------------------------------------------------------------------------------
// PAUSE

using UtilityPause = UtilityShell;

TEST_F(UtilityPause, WaitsForOneLineWithTheHintOrTheDefaultText) {
    Type("\nskipped words\nnext line\n");
    orva::PauseShell(L"Insert the tape");
    EXPECT_EQ(Take(), "Insert the tape\r\n");
    orva::PauseShell(L"");
    EXPECT_EQ(Take(), "Press 'enter' to continue ...\r\n\r\n");
    // Each pause took exactly one line.
    EXPECT_EQ(State().input->GetString(0), L"next line");
    // The dispatcher passes the text after the keyword; a hint may hold a '%'.
    Type("\n");
    EXPECT_EQ(orva::ProcessLine(L"PAUSE  100% done ", 1), 0);
    EXPECT_EQ(Take(), "100% done\r\n");
}

// ---------------------------------------------------------------------------------------------
// SPOOL

using UtilitySpool = UtilityShell;

TEST_F(UtilitySpool, CapturesPromptsInputAndOutputUntilOff) {
    Connect();
    const fs::path file = dir_ / "session.log";
    EXPECT_EQ(orva::ProcessLine(L"SPOOL", 1), 0);
    EXPECT_EQ(Take(), "Takes a file name as argument.\r\n\r\n");
    // SPOOL OFF without a file still says so.
    EXPECT_EQ(orva::ProcessLine(L"spool off", 1), 1);
    EXPECT_EQ(Take(), "Spool disabled.\r\n\r\n");

    const std::wstring name = zentra::Utf8ToWide(file.string());
    EXPECT_EQ(orva::ProcessLine(L"SPOOL " + name, 1), 1);
    EXPECT_EQ(Take(), "Spool to '" + file.string() + "'.\r\n\r\n");
    EXPECT_EQ(orva::ProcessLine(L"spool", 1), 0);
    EXPECT_EQ(Take(), "Spool file is 'session.log'\r\n\r\n");

    Type("select 7 as seven\n;\n");
    const std::wstring statement = orva::ReadStatement();
    EXPECT_EQ(statement, L"select 7 as seven\r\n;");
    EXPECT_EQ(Take(), "SQL>   ~ 2 ");
    EXPECT_EQ(orva::ProcessLine(statement, 1), 1);
    const std::string shown = Take();
    EXPECT_TRUE(Contains(shown, "seven"));

    EXPECT_EQ(orva::ProcessLine(L"SPOOL OFF", 1), 1);
    EXPECT_EQ(Take(), "Spool disabled.\r\n\r\n");
    State().output->PrintMessage(L"not in the transcript");
    Take();

    const std::string log = ReadFile(file);
    EXPECT_EQ(log.rfind("Spool to '" + file.string() + "'.\r\n\r\n", 0), 0u) << log;
    EXPECT_TRUE(Contains(log, "Spool file is 'session.log'"));
    EXPECT_TRUE(Contains(log, "SQL> select 7 as seven\r\n  ~ 2 ;\r\n")) << log;
    EXPECT_TRUE(Contains(log, shown)) << log;
    const std::string tail = "Spool disabled.\r\n\r\n";
    ASSERT_GE(log.size(), tail.size());
    EXPECT_EQ(log.substr(log.size() - tail.size()), tail);
    EXPECT_FALSE(Contains(log, "not in the transcript"));
    EXPECT_EQ(orva::ProcessLine(L"SPOOL", 1), 0);
    EXPECT_EQ(Take(), "Takes a file name as argument.\r\n\r\n");
}

TEST_F(UtilitySpool, AFileThatCannotBeWrittenKeepsTheOldOne) {
    const fs::path first = dir_ / "first.log";
    EXPECT_EQ(orva::SpoolCommand(2, L"x", zentra::Utf8ToWide(first.string())), 1);
    Take();
    const std::string bad = (dir_ / "missing" / "x.log").string();
    EXPECT_EQ(orva::SpoolCommand(2, L"x", zentra::Utf8ToWide(bad)), 0);
    EXPECT_EQ(Take(), "ERROR:  Can't create/write to file '" + bad + "'.\r\n\r\n");
    EXPECT_EQ(orva::SpoolCommand(1, L"", L""), 0);
    EXPECT_EQ(Take(), "Spool file is 'first.log'\r\n\r\n");
    EXPECT_TRUE(Contains(ReadFile(first), "Can't create/write to file"));
}

// ---------------------------------------------------------------------------------------------
// HOST

using UtilityHost = UtilityShell;

TEST_F(UtilityHost, RunsTheCommandWithItsQuotesAfterThePendingOutput) {
    const fs::path spool = dir_ / "host.log";
    ASSERT_EQ(orva::SpoolCommand(2, L"x", zentra::Utf8ToWide(spool.string())), 1);
    Take();
    {
        zentra::COutputBuffer buffered(*State().output);
        State().output->Print(L"before\n");
        EXPECT_EQ(orva::ProcessLine(L"HOST printf '%s|\\n' \"it's\" 'a \"b\"' && exit 3", 1), 1);
    }
    EXPECT_EQ(Take(), "before\nit's|\na \"b\"|\n");
    // The command's output is not part of the transcript.
    EXPECT_FALSE(Contains(ReadFile(spool), "it's"));

    const std::wstring target = orva::QuoteForShell(zentra::Utf8ToWide((dir_ / "out's.txt").string()));
    EXPECT_EQ(orva::ProcessLine(L"! echo \"two  blanks\" > " + target, 1), 1);
    EXPECT_EQ(ReadFile(dir_ / "out's.txt"), "two  blanks\n");

    EXPECT_EQ(orva::ProcessLine(L"HOST", 1), 0);
    EXPECT_EQ(Take(), "Taken an operating system command as argument.\r\n\r\n");
}

TEST_F(UtilityHost, TheChildGetsNoSignalMaskAndNoExtraDescriptors) {
    int leaked[2];
    ASSERT_EQ(pipe(leaked), 0);  // without close-on-exec
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &old), 0);
    const std::wstring command = L"grep SigBlk /proc/self/status; test -e /proc/self/fd/" +
                                 std::to_wstring(leaked[1]) + L" && echo leaked || echo closed";
    EXPECT_EQ(orva::RunHostCommand(command), 1);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    close(leaked[0]);
    close(leaked[1]);
    const std::string text = Take();
    EXPECT_TRUE(Contains(text, "SigBlk:\t0000000000000000\n")) << text;
    EXPECT_TRUE(Contains(text, "closed\n")) << text;
}

TEST(UtilityQuote, ApostrophesSurviveTheShell) {
    EXPECT_EQ(orva::QuoteForShell(L"plain"), L"'plain'");
    EXPECT_EQ(orva::QuoteForShell(L"it's"), L"'it'\\''s'");
    EXPECT_EQ(orva::QuoteForShell(L""), L"''");
    // What the shell makes of it is the text itself.
    const std::wstring tricky = L"a'b \"c\" $HOME `x` \\n ''";
    char pattern[] = "/tmp/orvanta_quote_XXXXXX";
    const int fd = mkstemp(pattern);
    ASSERT_GE(fd, 0);
    int error = 0;
    EXPECT_EQ(orva::RunShellCommand(L"printf %s " + orva::QuoteForShell(tricky), fd, error), 0);
    close(fd);
    EXPECT_EQ(ReadFile(pattern), zentra::WideToUtf8(tricky));
    unlink(pattern);
    EXPECT_EQ(orva::RunShellCommand(L"exit 7", STDOUT_FILENO, error), 7);
}

// ---------------------------------------------------------------------------------------------
// EDIT

using UtilityEdit = UtilityShell;

TEST_F(UtilityEdit, TheEditorChangesTheLastStatement) {
    const fs::path editor = dir_ / "append.sh";
    const fs::path seen = dir_ / "seen.txt";
    WriteScript(editor, "cp \"$1\" '" + seen.string() + "'\necho 'where a = 1;' >> \"$1\"\n");
    EnvVar variable("EDITOR", editor.c_str());

    State().lastStatement = L"select a\r\nfrom t";
    EXPECT_EQ(orva::ProcessLine(L"ED", 1), 1);
    EXPECT_EQ(Take(), "All commands must end with ';'.\r\n\r\n");
    // The editor saw the statement as lines of this system's text files.
    EXPECT_EQ(ReadFile(seen), "select a\nfrom t\n");
    EXPECT_EQ(State().lastStatement, L"select a\r\nfrom t\r\nwhere a = 1;");
    const fs::path file = dir_ / "state" / "orvanta" / "buf.sql";
    EXPECT_EQ(ReadFile(file), "select a\nfrom t\nwhere a = 1;\n");
    EXPECT_EQ(fs::status(file.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);

    // A following "/" runs the edited text.
    Connect();
    Exec(L"create table t(a int)");
    Exec(L"insert into t values(1)");
    Type("/\n");
    EXPECT_EQ(orva::ReadStatement(), L"select a\r\nfrom t\r\nwhere a = 1;");
}

TEST_F(UtilityEdit, NamedFilesAndQuotedPaths) {
    // A state directory with a blank and an apostrophe in its name reaches the editor whole.
    EnvVar state("XDG_STATE_HOME", (dir_ / "my state's").c_str());
    const fs::path editor = dir_ / "replace.sh";
    WriteScript(editor, "printf 'select 2;\\n\\n' > \"$1\"\n");
    State().editor = zentra::Utf8ToWide(editor.string());
    State().lastStatement = L"select 1;";
    const std::wstring name = L"q.sql";
    EXPECT_EQ(orva::EditBuffer(&name), 1);
    EXPECT_EQ(State().lastStatement, L"select 2;");
    EXPECT_EQ(ReadFile(dir_ / "my state's" / "orvanta" / "q.sql"), "select 2;\n\n");

    // An absolute name is used as it is.
    const std::wstring absolute = zentra::Utf8ToWide((dir_ / "abs.sql").string());
    State().lastStatement = L"select 3;";
    EXPECT_EQ(orva::EditBuffer(&absolute), 1);
    EXPECT_EQ(ReadFile(dir_ / "abs.sql"), "select 2;\n\n");

    // Without XDG_STATE_HOME the file lives under ~/.local/state.
    EnvVar none("XDG_STATE_HOME", nullptr);
    EXPECT_EQ(orva::EditBuffer(nullptr), 1);
    EXPECT_TRUE(fs::exists(dir_ / "home" / ".local" / "state" / "orvanta" / "buf.sql"));
}

TEST_F(UtilityEdit, EmptyResultKeepsTheStatementAndAMissingEditorIsReported) {
    const fs::path editor = dir_ / "empty.sh";
    WriteScript(editor, ": > \"$1\"\n");
    State().editor = zentra::Utf8ToWide(editor.string());
    State().lastStatement = L"select 1;";
    EXPECT_EQ(orva::EditBuffer(nullptr), 1);
    EXPECT_EQ(State().lastStatement, L"select 1;");
    Take();

    State().editor = L"orvanta-no-such-editor";
    EXPECT_EQ(orva::EditBuffer(nullptr), 0);
    const std::string text = Take();
    EXPECT_TRUE(Contains(text, "Can not start 'orvanta-no-such-editor'.\r\n\r\n")) << text;
    EXPECT_EQ(State().lastStatement, L"select 1;");

    // A state directory that can't be made: the editor never starts.
    WriteFile(dir_ / "plain", "");
    EnvVar state("XDG_STATE_HOME", (dir_ / "plain" / "sub").c_str());
    State().editor = zentra::Utf8ToWide(editor.string());
    EXPECT_EQ(orva::EditBuffer(nullptr), 0);
    EXPECT_EQ(Take(), (dir_ / "plain" / "sub" / "orvanta").string() + " contains an incorrect path.\r\n\r\n");
    EXPECT_EQ(State().lastStatement, L"select 1;");
}

// ---------------------------------------------------------------------------------------------
// START and @

using UtilityScript = UtilityShell;

TEST_F(UtilityScript, BatchesCommitOneByOneAndAFailingBatchRollsBackOnlyItself) {
    Connect();
    const fs::path script = dir_ / "load.sql";
    // INSERT OR FAIL keeps the rows it inserted before the failing one: only the batch's rollback
    // takes 10 and 11 away again.
    WriteFile(script,
              "create table t(a integer unique)\n"
              "go\n"
              "insert into t values (1)\r\n"
              "  /  \n"
              "insert or fail into t values (10), (11), (1)\n"
              "GO\n"
              "insert into t values (2)\n");
    EXPECT_EQ(orva::ProcessLine(L"@ " + zentra::Utf8ToWide(script.string()), 1), 0);
    const std::string text = Take();
    EXPECT_TRUE(Contains(text, "UNIQUE constraint failed")) << text;
    EXPECT_FALSE(Contains(text, "Execute script success")) << text;
    EXPECT_EQ(Column(L"select a from t order by a"), std::vector<std::wstring>{L"1"});

    // The connection is back in auto-commit mode: a later statement stays.
    Exec(L"insert into t values (5)");
    Exec(L"create table other(x int)");
    EXPECT_EQ(Column(L"select count(*) from t"), std::vector<std::wstring>{L"2"});
}

TEST_F(UtilityScript, LastBatchWithoutGoAndTheSuccessMessage) {
    Connect();
    const fs::path script = dir_ / "two.sql";
    WriteFile(script, "create table t(a int)\n/\n\ninsert into t\nvalues (1);\n");
    EXPECT_EQ(orva::ProcessLine(L"START " + zentra::Utf8ToWide(script.string()) + L";", 1), 1);
    const std::string text = Take();
    EXPECT_EQ(text.rfind("Execute script success. (", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 9), " sec)\r\n\r\n");
    EXPECT_EQ(Column(L"select a from t"), std::vector<std::wstring>{L"1"});

    // Blank lines after the last separator are no batch of their own.
    WriteFile(script, "insert into t values (2)\nGO\n\n\n");
    EXPECT_EQ(orva::RunScript(State().connection.get(), zentra::Utf8ToWide(script.string())), 1);
    EXPECT_EQ(Column(L"select count(*) from t"), std::vector<std::wstring>{L"2"});

    // ';' separates nothing: both lines go to the server as one text, which this driver refuses.
    WriteFile(script, "insert into t values (3);\ninsert into t values (4);\n");
    EXPECT_EQ(orva::RunScript(State().connection.get(), zentra::Utf8ToWide(script.string())), 0);
    EXPECT_TRUE(Contains(Take(), "only one SQL statement allowed"));
    EXPECT_EQ(Column(L"select count(*) from t"), std::vector<std::wstring>{L"2"});
}

TEST_F(UtilityScript, TwoSeparatorsInARowFailAtTheSecond) {
    Connect();
    const fs::path script = dir_ / "gogo.sql";
    WriteFile(script, "create table t(a int)\nGO\nGO\ninsert into t values (1)\n");
    EXPECT_EQ(orva::RunScript(State().connection.get(), zentra::Utf8ToWide(script.string())), 0);
    EXPECT_FALSE(Contains(Take(), "Execute script success"));
    // The first batch stays, the rest of the file was not run.
    EXPECT_EQ(Column(L"select count(*) from t"), std::vector<std::wstring>{L"0"});
}

TEST_F(UtilityScript, Utf16ScriptWithByteOrderMark) {
    // The SQLite driver stores wide text in the locale's character set: make that UTF-8, as orva
    // does on a normal system.
    const std::string savedLocale = setlocale(LC_CTYPE, nullptr);
    ASSERT_NE(setlocale(LC_CTYPE, "C.UTF-8"), nullptr);
    struct RestoreLocale {
        std::string name;
        ~RestoreLocale() { setlocale(LC_CTYPE, name.c_str()); }
    } restore{savedLocale};
    Connect();
    const std::wstring body = L"create table u(s text)\r\nGO\r\ninsert into u values ('Grüße, 東京 ✓')\r\n";
    const std::u16string units = zentra::WideToUtf16(body);
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : units) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    const fs::path script = dir_ / "wide.sql";
    WriteFile(script, bytes);
    EXPECT_EQ(orva::RunScript(State().connection.get(), zentra::Utf8ToWide(script.string())), 1) << Take();
    EXPECT_EQ(Column(L"select s from u"), std::vector<std::wstring>{L"Grüße, 東京 ✓"});
}

TEST_F(UtilityScript, MissingNamesAndFiles) {
    Connect();
    EXPECT_EQ(orva::ProcessLine(L"START", 1), 0);
    EXPECT_EQ(orva::RunScript(State().connection.get(), L"  ; "), 0);
    EXPECT_EQ(Take(), "Script file no specified.\r\n\r\nScript file no specified.\r\n\r\n");
    const std::string missing = (dir_ / "none.sql").string();
    EXPECT_EQ(orva::RunScript(State().connection.get(), zentra::Utf8ToWide(missing + "; more")), 0);
    EXPECT_EQ(Take(), "Failed to open file '" + missing + "'.\r\n\r\n");

    // A directory is no script.
    EXPECT_EQ(orva::RunScript(State().connection.get(), zentra::Utf8ToWide(dir_.string())), 0);
    EXPECT_EQ(Take(), "Failed to open file '" + dir_.string() + "'.\r\n\r\n");

    // No connection.
    const fs::path script = dir_ / "ok.sql";
    WriteFile(script, "select 1\n");
    EXPECT_EQ(orva::RunScript(nullptr, zentra::Utf8ToWide(script.string())), 0);
    EXPECT_EQ(Take(), "No database selected.\r\n\r\n");
}

TEST_F(UtilityScript, AFailedCommitIsAFailure) {
    Connect();
    Exec(L"PRAGMA foreign_keys = ON");
    Exec(L"create table p(id int primary key)");
    Exec(L"create table c(pid int references p(id) deferrable initially deferred)");
    const fs::path script = dir_ / "fk.sql";
    // The deferred key is checked only when the batch commits.
    WriteFile(script, "insert into c values (5)\nGO\ninsert into p values (1)\n");
    EXPECT_EQ(orva::RunScript(State().connection.get(), zentra::Utf8ToWide(script.string())), 0);
    const std::string text = Take();
    EXPECT_TRUE(Contains(text, "FOREIGN KEY constraint failed")) << text;
    EXPECT_FALSE(Contains(text, "Execute script success")) << text;
    EXPECT_EQ(Column(L"select count(*) from c"), std::vector<std::wstring>{L"0"});
    EXPECT_EQ(Column(L"select count(*) from p"), std::vector<std::wstring>{L"0"});
    Exec(L"insert into p values (2)");
    EXPECT_EQ(Column(L"select count(*) from p"), std::vector<std::wstring>{L"1"});
}

}  // namespace
