// The environment and utility commands against the real shell state: HELP, SET, REDO, HOST,
// EDIT, PAUSE, START and SPOOL, on real SQLite files through the ODBC driver and real processes.
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "commands.h"
#include "reader.h"
#include "../core/tempdir.h"
#include "run_orva.h"
#include "settings.h"
#include "utility.h"
#include "zentra/variant.h"

namespace {

namespace fs = std::filesystem;
using orva::State;
using orvatest::Contains;
using orvatest::EnvVar;
using orvatest::ReadFile;
using orvatest::WriteFile;

void WriteScript(const fs::path& path, const std::string& body) {
    WriteFile(path, "#!/bin/sh\n" + body);
    fs::permissions(path, fs::perms::owner_all);
}

std::wstring W(const fs::path& path) { return zentra::Utf8ToWide(path.string()); }

// The shell state of orvatest::ShellSession with a temporary HOME and XDG_STATE_HOME and no
// editor variables.
class UtilityShell : public ::testing::Test, public orvatest::ShellSession {
protected:
    void SetUp() override { fs::create_directories(dir_ / "home"); }

    // The first column of every row of `sql`, as text.
    std::vector<std::wstring> Column(const std::wstring& sql) {
        std::vector<std::wstring> values;
        zentra::CADORecordSet rs(State().connection.get(), 1);
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
    // The handler's return value and what it printed: "<value> <text>".
    std::string Result(int value) { return std::to_string(value) + " " + Take(); }
    std::string Line(const std::wstring& line) { return Result(orva::ProcessLine(line, 1)); }
    std::string Set(const std::wstring& line) { return Result(orva::SetOption(line)); }
    std::string Redo(const wchar_t* word) {
        const std::wstring text = word ? word : L"";
        return Result(orva::RedoCommand(word ? &text : nullptr));
    }
    // Runs a script file of `body` on the shell's connection: "<result> <printed text>".
    std::string Script(const std::string& body) {
        WriteFile(dir_ / "script.sql", body);
        return Result(orva::RunScript(State().connection.get(), W(dir_ / "script.sql")));
    }
    void SetHistory(const std::vector<std::wstring>& entries) {
        zentra::CStringArray array(entries.begin(), entries.end());
        State().history->SetCommandArray(&array);
    }

private:
    testdb::TempDir tmp_{"orvanta_utility"};

protected:
    const fs::path dir_ = tmp_.path();

private:
    EnvVar home_{"HOME", (dir_ / "home").string()}, state_{"XDG_STATE_HOME", (dir_ / "state").string()};
    EnvVar visual_{"VISUAL", nullptr}, editor_{"EDITOR", nullptr};
};

using UtilityHelp = UtilityShell;
using UtilitySet = UtilityShell;
using UtilityRedo = UtilityShell;
using UtilityPause = UtilityShell;
using UtilitySpool = UtilityShell;
using UtilityHost = UtilityShell;
using UtilityEdit = UtilityShell;
using UtilityScript = UtilityShell;

TEST_F(UtilityHelp, PrintsTheCommandListThroughTheDispatcher) {
    const std::string help = Line(L"help;");
    ASSERT_EQ(help.substr(0, 2), "1 ");
    const std::string text = help.substr(2);
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
    EXPECT_EQ(Line(L"?"), "1 " + text);
}

TEST_F(UtilitySet, TableSwitchesTheLayoutOfLaterResults) {
    ConnectSqlite();
    EXPECT_EQ(Set(L"SET TABLE OFF"), "1 Display result as LIST.\r\n\r\n");
    EXPECT_EQ(State().print.layout, orva::PrintLayout::List);
    EXPECT_EQ(Set(L"set tab"), "0 Display result as LIST.\r\n\r\n");
    std::string list = Line(L"select 42 as answer;");
    EXPECT_TRUE(Contains(list, "answer") && Contains(list, "42")) << list;
    EXPECT_FALSE(Contains(list, "+-")) << list;

    EXPECT_EQ(Set(L"SET TAB on extra words"), "1 Display result as TABLE.\r\n\r\n");
    EXPECT_EQ(State().print.layout, orva::PrintLayout::Table);
    EXPECT_TRUE(Contains(Line(L"select 42 as answer;"), "+-"));
}

TEST_F(UtilitySet, PromptSetAndReset) {
    EXPECT_EQ(Set(L"SET PROMPT \"$_DB.> \""), "1 PROMPT set to '$_DB.> '\r\n\r\n");
    EXPECT_EQ(State().prompt, L"$_DB.> ");
    EXPECT_EQ(Set(L"SET SQLPROMPT abc def").substr(0, 2), "1 ");
    EXPECT_EQ(State().prompt, L"abc");
    EXPECT_EQ(Set(L"SET PROMPT"), "1 Returning to default PROMPT of 'SQL> '\r\n\r\n");
    EXPECT_EQ(State().prompt, L"SQL> ");
}

TEST_F(UtilitySet, SwitchesReportAndRejectUnknownWords) {
    EXPECT_EQ(Set(L"SET TRUNC MAYBE"), "0 Unknow option 'MAYBE'\r\n\r\n");
    EXPECT_FALSE(State().print.truncate);
    EXPECT_EQ(Set(L"SET BEEP OFF"), "1 Error beep OFF.\r\n\r\n");
    EXPECT_EQ(Set(L"SET TRUNC ON"), "1 Truncate record value ON.\r\n\r\n");
    EXPECT_EQ(State().errorBeep, 0);
    EXPECT_TRUE(State().print.truncate);
    EXPECT_EQ(Set(L"SET ERRBEEP"), "0 Error beep OFF.\r\n\r\n");
    EXPECT_EQ(Set(L"SET TRUNCATE"), "0 Truncate record value ON.\r\n\r\n");

    // INDEX takes at most one word after the option; its query counts as a change.
    EXPECT_EQ(Set(L"SET IND on"), "1 Display record index ON.\r\n\r\n");
    EXPECT_TRUE(State().print.showIndex);
    EXPECT_EQ(Set(L"SET INDEX OFF please"), "0 Unknow option 'please'\r\n\r\n");
    EXPECT_TRUE(State().print.showIndex);
    EXPECT_EQ(Set(L"SET INDEX"), "1 Display record index ON.\r\n\r\n");

    // Whole words only: TABL is nobody's option and goes to the server (none here).
    EXPECT_EQ(Set(L"SET TABL OFF"), "0 No database selected.\r\n\r\n");
    EXPECT_EQ(State().print.layout, orva::PrintLayout::Table);
}

TEST_F(UtilitySet, EditorSettingAndItsDefault) {
    EnvVar editor("EDITOR", "nano -w");
    EXPECT_EQ(Set(L"SET EDITOR"), "0 Current editor is 'nano -w'.\r\n\r\n");
    {
        EnvVar visual("VISUAL", "emacs");
        EXPECT_EQ(Set(L"SET ED"), "0 Current editor is 'emacs'.\r\n\r\n");
        EnvVar none("EDITOR", nullptr);
        EnvVar noVisual("VISUAL", nullptr);
        EXPECT_EQ(orva::EditorCommand(L"notepad"), L"vi");
    }
    EXPECT_EQ(Set(L"SET ED \"code --wait\""), "1 Current editor is 'code --wait'.\r\n\r\n");
    EXPECT_EQ(Set(L"SET EDITOR joe now please"), "0 Unknow option 'now'\r\n\r\n");
    EXPECT_EQ(State().editor, L"code --wait");
}

TEST_F(UtilitySet, OtherOptionsGoToTheServer) {
    ConnectSqlite();
    // SQLite has no SET statement: its syntax error shows the line reached it unchanged.
    const std::string error = Set(L"SET AUTOCOMMIT OFF");
    EXPECT_EQ(error.substr(0, 2), "0 ");
    EXPECT_TRUE(Contains(error, "syntax error") && Contains(error, "SET")) << error;
    // Through the dispatcher: fewer than two words never reach the handler.
    EXPECT_EQ(Line(L"SET"), "0 No OPTIONS specified.\r\n\r\n");
}

TEST_F(UtilityRedo, ListsTheHistoryShorteningLongEntries) {
    EXPECT_EQ(Line(L"HI"), "2 Command Buffer is empty.\r\n\r\n");
    EXPECT_EQ(Line(L"REDO LAST"), "2 Command Buffer (0) not found.\r\n\r\n");
    SetHistory({L"select 1;", L"select * from orders where id = 42", L"123456789012345678901234567890"});
    EXPECT_EQ(Redo(nullptr),
              "2   1. select 1;\r\n"
              "  2. select * from orders where ...\r\n"
              "  3. 123456789012345678901234567890\r\n"
              "\r\n");
}

TEST_F(UtilityRedo, RunsTheChosenEntryAgain) {
    SetHistory({L"set tab off", L"set trunc on", L"set beep off"});
    EXPECT_EQ(Redo(L"FIRST"), "2 Display result as LIST.\r\n\r\n");
    EXPECT_EQ(Redo(L"last"), "2 Error beep OFF.\r\n\r\n");
    EXPECT_EQ(Redo(L"2nd"), "2 Truncate record value ON.\r\n\r\n");  // the number at the start of the word
    EXPECT_EQ(State().lastStatement, L"set trunc on");
    for (auto [word, number] : {std::pair{L"0", "0"}, {L"4", "4"}, {L"-1", "-1"}, {L"abc", "0"}})
        EXPECT_EQ(Redo(word), std::string("2 Command Buffer (") + number + ") not found.\r\n\r\n");
    // REDO is never stored itself.
    EXPECT_EQ(State().history->GetCommandCount(), 3);
}

TEST_F(UtilityRedo, AnEntryThatRedoesItselfEnds) {
    SetHistory({L"redo 1"});
    EXPECT_TRUE(Contains(Redo(L"1"), "Command Buffer (1) not found."));
}

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
    EXPECT_EQ(Line(L"PAUSE  100% done "), "0 100% done\r\n");
}
TEST_F(UtilitySpool, CapturesPromptsInputAndOutputUntilOff) {
    ConnectSqlite();
    const fs::path file = dir_ / "session.log";
    EXPECT_EQ(Line(L"SPOOL"), "0 Takes a file name as argument.\r\n\r\n");
    // SPOOL OFF without a file still says so.
    EXPECT_EQ(Line(L"spool off"), "1 Spool disabled.\r\n\r\n");
    EXPECT_EQ(Line(L"SPOOL " + W(file)), "1 Spool to '" + file.string() + "'.\r\n\r\n");
    EXPECT_EQ(Line(L"spool"), "0 Spool file is 'session.log'\r\n\r\n");

    Type("select 7 as seven\n;\n");
    const std::wstring statement = orva::ReadStatement();
    EXPECT_EQ(statement, L"select 7 as seven\n;");
    EXPECT_EQ(Take(), "SQL>   ~ 2 ");
    const std::string shown = Line(statement).substr(2);
    EXPECT_TRUE(Contains(shown, "seven"));
    EXPECT_EQ(Line(L"SPOOL OFF"), "1 Spool disabled.\r\n\r\n");
    State().output->PrintMessage(L"not in the transcript");
    Take();

    const std::string log = ReadFile(file);
    EXPECT_EQ(log.rfind("Spool to '" + file.string() + "'.\r\n\r\nSpool file is 'session.log'", 0), 0u) << log;
    EXPECT_TRUE(Contains(log, "SQL> select 7 as seven\r\n  ~ 2 ;\r\n" + shown + "Spool disabled.\r\n\r\n")) << log;
    EXPECT_EQ(log.substr(log.size() - 19), "Spool disabled.\r\n\r\n");
    EXPECT_EQ(Line(L"SPOOL"), "0 Takes a file name as argument.\r\n\r\n");
}

TEST_F(UtilitySpool, AFileThatCannotBeWrittenKeepsTheOldOne) {
    const fs::path first = dir_ / "first.log";
    EXPECT_EQ(Result(orva::SpoolCommand(2, L"x", W(first))).substr(0, 2), "1 ");
    const fs::path bad = dir_ / "missing" / "x.log";
    EXPECT_EQ(Result(orva::SpoolCommand(2, L"x", W(bad))),
              "0 ERROR:  Can't create/write to file '" + bad.string() + "'.\r\n\r\n");
    EXPECT_EQ(Result(orva::SpoolCommand(1, L"", L"")), "0 Spool file is 'first.log'\r\n\r\n");
    EXPECT_TRUE(Contains(ReadFile(first), "Can't create/write to file"));
}

TEST_F(UtilityHost, RunsTheCommandWithItsQuotesAfterThePendingOutput) {
    const fs::path spool = dir_ / "host.log";
    ASSERT_EQ(orva::SpoolCommand(2, L"x", W(spool)), 1);
    Take();
    {
        zentra::COutputBuffer buffered(*State().output);
        State().output->Print(L"before\n");
        EXPECT_EQ(orva::ProcessLine(L"HOST printf '%s|\\n' \"it's\" 'a \"b\"' && exit 3", 1), 1);
    }
    EXPECT_EQ(Take(), "before\nit's|\na \"b\"|\n");
    // The command's output is not part of the transcript.
    EXPECT_FALSE(Contains(ReadFile(spool), "it's"));

    const std::wstring target = orva::QuoteForShell(W(dir_ / "out's.txt"));
    EXPECT_EQ(orva::ProcessLine(L"! echo \"two  blanks\" > " + target, 1), 1);
    EXPECT_EQ(ReadFile(dir_ / "out's.txt"), "two  blanks\n");

    EXPECT_EQ(Line(L"HOST"), "0 Taken an operating system command as argument.\r\n\r\n");
}

TEST_F(UtilityHost, TheChildGetsNoSignalMaskAndNoExtraDescriptors) {
    int leaked[2];
    ASSERT_EQ(pipe(leaked), 0);  // without close-on-exec
    sigset_t block, old;
    sigemptyset(&block);
    sigaddset(&block, SIGINT);
    ASSERT_EQ(pthread_sigmask(SIG_BLOCK, &block, &old), 0);
    const std::wstring command = L"grep SigBlk /proc/self/status; test -e /proc/self/fd/" + std::to_wstring(leaked[1]) +
                                 L" && echo leaked || echo closed";
    EXPECT_EQ(orva::RunHostCommand(command), 1);
    pthread_sigmask(SIG_SETMASK, &old, nullptr);
    close(leaked[0]);
    close(leaked[1]);
    const std::string text = Take();
    EXPECT_TRUE(Contains(text, "SigBlk:\t0000000000000000\n") && Contains(text, "closed\n")) << text;
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

TEST_F(UtilityEdit, TheEditorChangesTheLastStatement) {
    const fs::path editor = dir_ / "append.sh";
    const fs::path seen = dir_ / "seen.txt";
    WriteScript(editor, "cp \"$1\" '" + seen.string() + "'\necho 'where a = 1;' >> \"$1\"\n");
    EnvVar variable("EDITOR", editor.c_str());

    State().lastStatement = L"select a\r\nfrom t";
    EXPECT_EQ(Line(L"ED"), "1 All commands must end with ';'.\r\n\r\n");
    // The editor saw the statement as lines of this system's text files.
    EXPECT_EQ(ReadFile(seen), "select a\nfrom t\n");
    EXPECT_EQ(State().lastStatement, L"select a\nfrom t\nwhere a = 1;");
    const fs::path file = dir_ / "state" / "orvanta" / "buf.sql";
    EXPECT_EQ(ReadFile(file), "select a\nfrom t\nwhere a = 1;\n");
    EXPECT_EQ(fs::status(file.parent_path()).permissions() & fs::perms::all, fs::perms::owner_all);

    // A following "/" runs the edited text.
    ConnectSqlite();
    Exec(L"create table t(a int)");
    Exec(L"insert into t values(1)");
    Type("/\n");
    EXPECT_EQ(orva::ReadStatement(), L"select a\nfrom t\nwhere a = 1;");
}

TEST_F(UtilityEdit, NamedFilesAndQuotedPaths) {
    // A state directory with a blank and an apostrophe in its name reaches the editor whole.
    EnvVar state("XDG_STATE_HOME", (dir_ / "my state's").c_str());
    const fs::path editor = dir_ / "replace.sh";
    WriteScript(editor, "printf 'select 2;\\n\\n' > \"$1\"\n");
    State().editor = W(editor);
    State().lastStatement = L"select 1;";
    const std::wstring name = L"q.sql";
    EXPECT_EQ(orva::EditBuffer(&name), 1);
    EXPECT_EQ(State().lastStatement, L"select 2;");
    EXPECT_EQ(ReadFile(dir_ / "my state's" / "orvanta" / "q.sql"), "select 2;\n\n");

    // An absolute name is used as it is.
    const std::wstring absolute = W(dir_ / "abs.sql");
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
    State().editor = W(editor);
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
    State().editor = W(editor);
    EXPECT_EQ(orva::EditBuffer(nullptr), 0);
    EXPECT_EQ(Take(), (dir_ / "plain" / "sub" / "orvanta").string() + " contains an incorrect path.\r\n\r\n");
    EXPECT_EQ(State().lastStatement, L"select 1;");
}

TEST_F(UtilityScript, BatchesCommitOneByOneAndAFailingBatchRollsBackOnlyItself) {
    ConnectSqlite();
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
    EXPECT_EQ(orva::ProcessLine(L"@ " + W(script), 1), 0);
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
    ConnectSqlite();
    const fs::path script = dir_ / "two.sql";
    WriteFile(script, "create table t(a int)\n/\n\ninsert into t\nvalues (1);\n");
    const std::string text = Line(L"START " + W(script) + L";");
    EXPECT_EQ(text.rfind("1 Execute script success. (", 0), 0u) << text;
    EXPECT_EQ(text.substr(text.size() - 9), " sec)\r\n\r\n");
    EXPECT_EQ(Column(L"select a from t"), std::vector<std::wstring>{L"1"});

    // Blank lines after the last separator are no batch of their own.
    EXPECT_EQ(Script("insert into t values (2)\nGO\n\n\n").substr(0, 2), "1 ");
    EXPECT_EQ(Column(L"select count(*) from t"), std::vector<std::wstring>{L"2"});

    // Both lines go to the server as one text; this driver takes one statement at a time, so the
    // text runs again statement by statement.
    const std::string split = Script("insert into t values (3);\ninsert into t values (4);\n");
    EXPECT_EQ(split.substr(0, 2), "1 ") << split;
    EXPECT_EQ(Column(L"select count(*) from t"), std::vector<std::wstring>{L"4"});
}

TEST_F(UtilityScript, TwoSeparatorsInARowFailAtTheSecond) {
    ConnectSqlite();
    const std::string text = Script("create table t(a int)\nGO\nGO\ninsert into t values (1)\n");
    EXPECT_EQ(text.substr(0, 2), "0 ");
    EXPECT_FALSE(Contains(text, "Execute script success"));
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
    ConnectSqlite();
    const std::wstring body = L"create table u(s text)\r\nGO\r\ninsert into u values ('Grüße, 東京 ✓')\r\n";
    const std::u16string units = zentra::WideToUtf16(body);
    std::string bytes = "\xFF\xFE";
    for (char16_t unit : units) {
        bytes += static_cast<char>(unit & 0xFF);
        bytes += static_cast<char>(unit >> 8);
    }
    const std::string text = Script(bytes);
    EXPECT_EQ(text.substr(0, 2), "1 ") << text;
    EXPECT_EQ(Column(L"select s from u"), std::vector<std::wstring>{L"Grüße, 東京 ✓"});
}

TEST_F(UtilityScript, MissingNamesAndFiles) {
    ConnectSqlite();
    EXPECT_EQ(Line(L"START"), "0 Script file no specified.\r\n\r\n");
    EXPECT_EQ(Result(orva::RunScript(State().connection.get(), L"  ; ")), "0 Script file no specified.\r\n\r\n");
    const fs::path missing = dir_ / "none.sql";
    EXPECT_EQ(Result(orva::RunScript(State().connection.get(), W(missing) + L"; more")),
              "0 Failed to open file '" + missing.string() + "'.\r\n\r\n");
    // A directory is no script.
    EXPECT_EQ(Result(orva::RunScript(State().connection.get(), W(dir_))),
              "0 Failed to open file '" + dir_.string() + "'.\r\n\r\n");
    // No connection.
    WriteFile(dir_ / "ok.sql", "select 1\n");
    EXPECT_EQ(Result(orva::RunScript(nullptr, W(dir_ / "ok.sql"))), "0 No database selected.\r\n\r\n");
}

TEST_F(UtilityScript, AFailedCommitIsAFailure) {
    ConnectSqlite();
    Exec(L"PRAGMA foreign_keys = ON");
    Exec(L"create table p(id int primary key)");
    Exec(L"create table c(pid int references p(id) deferrable initially deferred)");
    // The deferred key is checked only when the batch commits.
    const std::string text = Script("insert into c values (5)\nGO\ninsert into p values (1)\n");
    EXPECT_EQ(text.substr(0, 2), "0 ");
    EXPECT_TRUE(Contains(text, "FOREIGN KEY constraint failed")) << text;
    EXPECT_FALSE(Contains(text, "Execute script success")) << text;
    EXPECT_EQ(Column(L"select count(*) from c"), std::vector<std::wstring>{L"0"});
    EXPECT_EQ(Column(L"select count(*) from p"), std::vector<std::wstring>{L"0"});
    Exec(L"insert into p values (2)");
    EXPECT_EQ(Column(L"select count(*) from p"), std::vector<std::wstring>{L"1"});
}

}  // namespace

// ORVANTA_ODBC_TRACE names a file that gets one line per ODBC call: its name and return code.
TEST(OdbcTrace, EveryCallAndItsReturnCodeGoToTheNamedFile) {
    const std::string db = "/tmp/orva-trace-" + std::to_string(getpid()) + ".db";
    const std::string trace = db + ".trace";
    std::remove(trace.c_str());
    const auto run = orvatest::RunOrva({"-t", "sqlite3", "-d", db}, "select 1 as x;\nselect * from nosuch;\nexit\n",
                                       {"ORVANTA_ODBC_TRACE=" + trace});
    EXPECT_NE(std::string::npos, run.out.find("Query Okay")) << run.out;
    const std::string text = ReadFile(trace);
    EXPECT_NE(std::string::npos, text.find("SQLDriverConnectW 0 SQL_SUCCESS\n")) << text;
    EXPECT_NE(std::string::npos, text.find("SQLFetch 100 SQL_NO_DATA\n")) << text;
    EXPECT_NE(std::string::npos, text.find("SQLExecDirect -1 SQL_ERROR\n")) << "the failed statement: " << text;
    EXPECT_EQ(std::string::npos, run.out.find("SQLFetch")) << "nothing on the console";
    std::remove(trace.c_str());
    std::remove(db.c_str());
}
