// The read and the dispatch of the read–process loop.
#include "reader.h"

#include <unistd.h>

#include "commands.h"
#include "completion.h"
#include "connect.h"
#include "helper.h"
#include "resources.h"
#include "schema.h"
#include "settings.h"
#include "sqltext.h"
#include "utility.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/words.h"

namespace orva {

namespace {

CString TextAfterFirstBlank(const CString& text) {
    size_t blank = text.find(L' ');
    return blank == CString::npos ? CString() : text.substr(blank + 1);
}

CString Without(CString text, wchar_t ch) {
    std::erase(text, ch);
    return text;
}

int RunServerStatement(const CString& statement) {
    ShellState& st = State();
    if (st.connection && st.connection->IsConnect()) {
        zentra::CADORecordSet recordset(st.connection.get(), 1);
        const int result = ExecuteStatement(st.connection.get(), statement, recordset);
        st.completer->NoteStatement(statement);
        return result;
    }
    st.output->PrintError(IDS_NO_DATABASE);
    return 0;
}

int Dispatch(CommandKind kind, const CString& statement) {
    ShellState& st = State();
    zentra::CWordPaster words(statement.c_str(), nullptr, nullptr);
    const int count = words.GetWordCount();
    switch (kind) {
    case CMD_EXIT: return -1;
    case CMD_HELP: ShowHelp(); return 1;
    case CMD_USE:
        if (count > 1) {
            CString name = words.GetWord(1);
            return ChangeDatabase(&st.connection, st.connectInfo, name.c_str(), st.connectInfo.type);
        }
        st.output->PrintMessage(IDS_CURRENT_DATABASE,
                                st.connectInfo.database.empty() ? CString(L"(none)") : st.connectInfo.database);
        return 1;
    case CMD_REDO: {
        if (count > 1) {
            CString word = words.GetWord(1);
            RedoCommand(&word);
        } else {
            RedoCommand(nullptr);
        }
        return 2;
    }
    case CMD_SET:
        if (count < 2) {
            st.output->PrintError(IDS_NO_OPTIONS);
            return 0;
        }
        return SetOption(statement);
    case CMD_START: return RunScript(st.connection.get(), TextAfterFirstBlank(statement));
    case CMD_SPOOL:
        return SpoolCommand(count, count > 1 ? words.GetWord(1) : CString(), TextAfterFirstBlank(statement));
    case CMD_HOST:
        if (count < 2) {
            st.output->PrintError(IDS_TAKES_OS_COMMAND);
            return 0;
        }
        return RunHostCommand(TextAfterFirstBlank(statement));
    case CMD_SHOW: return ShowCommand(statement);
    case CMD_DESC: {
        size_t at = zentra::FindNoCase(statement, L"desc");
        CString rest = at == CString::npos ? CString() : statement.substr(at + 4);
        return ProcessLine(L"SHOW COLUMNS FROM " + rest, 1);
    }
    case CMD_EDIT: {
        if (count > 2) {
            st.output->PrintError(IDS_UNKNOWN_SET_OPTION, words.GetWord(2));
            return 0;
        }
        if (count > 1) {
            CString word = words.GetWord(1);
            return EditBuffer(&word);
        }
        return EditBuffer(nullptr);
    }
    case CMD_PAUSE: {
        size_t at = zentra::FindNoCase(statement, L"pause");
        size_t length = 5;
        if (at == CString::npos) {
            at = zentra::FindNoCase(statement, L"pau");
            length = 3;
        }
        CString hint = at == CString::npos ? CString() : zentra::Trim(statement.substr(at + length));
        PauseShell(hint);
        return 0;
    }
    case CMD_RUN: return 0;
    default: return 0;
    }
}

}  // namespace

CString TakeNextStatement(CString& text) {
    CStatementSplitter splitter(text);
    CString statement;
    splitter.Next(statement);
    text.erase(0, splitter.Consumed());
    return statement;
}

void PrintPrompt(int line) {
    ShellState& st = State();
    if (line > 1) {
        st.output->Print(L"  ~ %d ", line);
        return;
    }
    CString prompt = st.prompt;
    zentra::ReplaceAll(prompt, L"$_USER.", st.connectInfo.user);
    zentra::ReplaceAll(prompt, L"$_HOST.", st.connectInfo.host);
    zentra::ReplaceAll(prompt, L"$_DB.", st.connectInfo.database);
    st.output->Print(L"%s", prompt);
}

namespace {

// The text of the statement read so far; each line is scanned once.
struct StatementText {
    CString text;
    CSqlScanner scanner;
    // Appends a line and tells whether the text read so far is complete: the line holds a ';' in
    // plain text and leaves no quote or comment open (one opened after the ';' runs on into the
    // next lines, up to a line with a ';' of its own after it closes).
    bool AddLine(const CString& line) {
        bool ended = false;
        const size_t from = text.size();
        text += line + L"\n";
        for (size_t at = from; at < text.size();) {
            const size_t semicolon = scanner.Find(text, at, L';');
            if (semicolon == CString::npos) break;
            ended = true;
            at = semicolon + 1;
        }
        return ended && scanner.GetMode() == CSqlScanner::kPlain;
    }
};

// The first line of a statement (a command of `kind`, or CMD_NONE): true when the statement ends
// with it; `block` is set when it opens a DECLARE block.
bool FirstLineEnds(CommandKind kind, const CString& line, StatementText& statement, bool& block) {
    ShellState& st = State();
    if (kind == CMD_DECLARE) {
        statement.text += line + L"\n";
        block = true;
        return false;
    }
    if (kind == CMD_RUN) {
        statement.text = st.lastStatement;
        return true;
    }
    if (kind != CMD_NONE) {
        statement.text = line;
        return true;
    }
    return zentra::Trim(line).empty() || statement.AddLine(line);
}

}  // namespace

CString ReadStatement() {
    ShellState& st = State();
    CCommandHelper helper;
    StatementText statement;
    CString& result = statement.text;
    bool block = false;
    bool tooLong = false;
    int line = 1;
    // Completion sees the lines of the statement before the current one.
    struct PendingText {
        CCompleter& completer;
        ~PendingText() { completer.SetPending(nullptr); }
    } pending{*st.completer};
    st.completer->SetPending(&result);
    PrintPrompt(line);
    for (;;) {
        CString text = st.input->GetString(0);
        // Ctrl+C at a continuation line ends the shell as it does at the first.
        if (st.exitRequested.load() != 0) return CString();
        if (st.input->IsLineTooLong()) {
            // What the line held is unknown: it ends the statement, which is not run.
            st.output->PrintError(IDS_INPUT_TOO_LONG, static_cast<int>(zentra::kMaxInputLine));
            return CString();
        }
        // End of input: the statement gathered so far is returned (and run) as it stands, as a
        // script's last statement without its ';'. On a terminal, Ctrl+D on a continuation line
        // gives the statement up instead: a half-typed DELETE must not run.
        if (st.input->IsEof() && text.empty()) {
            if (line > 1 && isatty(STDIN_FILENO)) return CString();
            break;
        }
        if (text.find(L'\0') != CString::npos && zentra::Trim(Without(text, L'\0')).empty()) {
            // A line of nothing but NUL characters carries no text: dropped by itself.
            st.output->PrintError(IDS_NUL_REFUSED);
            if (line == 1) return CString();
            PrintPrompt(line);
            continue;
        }
        if (result.size() + text.size() > zentra::kMaxInputLine) tooLong = true;
        if (tooLong) {
            // The statement is read to its end, but not kept.
            result.clear();
        }
        CommandKind kind = helper.ClassifyStart(text, 0);
        if (line == 1) {
            if (FirstLineEnds(kind, text, statement, block)) break;
        } else {
            // A "/" or GO line inside a string or comment is text of the statement.
            if (kind == CMD_RUN && statement.scanner.GetMode() == CSqlScanner::kPlain) break;
            if (statement.AddLine(text) && !block) break;
        }
        if (st.input->IsEof()) break;
        ++line;
        PrintPrompt(line);
    }
    if (tooLong) {
        st.output->PrintError(IDS_INPUT_TOO_LONG, static_cast<int>(zentra::kMaxInputLine));
        return CString();
    }
    return zentra::Trim(result);
}

namespace {

// Steps of one statement: the command or the server statement it is.
int ProcessStatement(CString statement) {
    ShellState& st = State();
    CCommandHelper helper;
    statement = zentra::Trim(statement);
    // Nothing but comments is no statement either.
    if (statement.empty() || IsOnlyComments(statement)) return 0;
    if (statement.find(L'\0') != CString::npos) {
        st.output->PrintError(IDS_NUL_REFUSED);
        ErrorBeep();
        return 0;
    }
    CommandKind kind = helper.ClassifyStart(statement, 0);
    if (kind != CMD_EDIT) st.lastStatement = statement;

    if (kind == CMD_SERVER) {
        // The command word is the statement's first word: "server" or a lone "." (a later
        // "server" inside the statement is the statement's own text).
        CString rest;
        if (zentra::FindNoCase(statement, L"server") == 0) rest = statement.substr(6);
        else if (size_t dot = statement.find(L'.'); dot != CString::npos) rest = statement.substr(dot + 1);
        rest = WithoutEdgeComments(zentra::TrimLeft(rest));
        if (rest.empty()) return 0;
        return RunServerStatement(rest);
    }
    if (kind != CMD_NONE) return Dispatch(kind, statement);
    return RunServerStatement(WithoutEdgeComments(statement));
}

// A DECLARE block: its first line dropped, the body goes to the server as one statement.
int ProcessBlock(const CString& text) {
    ShellState& st = State();
    size_t lineFeed = text.find(L'\n');
    // A block without a line break has no body of its own: it goes to the server as it is.
    if (lineFeed == CString::npos) {
        st.lastStatement = text;
        return RunServerStatement(text);
    }
    CString body = zentra::Trim(text.substr(lineFeed + 1));
    if (body.empty()) return 0;
    // A body that starts with DECLARE again is still one statement for the server.
    if (CCommandHelper().ClassifyCommand(body) == CMD_DECLARE) {
        st.lastStatement = body;
        return RunServerStatement(body);
    }
    return ProcessStatement(body);
}

}  // namespace

int ProcessLine(CString text, int split) {
    CCommandHelper helper;
    text = zentra::Trim(text);
    if (text.empty()) return 0;
    if (split != 1) {
        if (helper.ClassifyCommand(text) == CMD_DECLARE) return ProcessBlock(text);
        return ProcessStatement(text);
    }
    // The statements in order, one after the other; an EXIT among them ends the rest.
    CStatementSplitter splitter(text);
    int result = 0;
    for (;;) {
        if (RedoStopped()) break;
        const size_t start = splitter.Position();
        if (start >= text.size()) break;
        if (helper.ClassifyStart(text, start) == CMD_DECLARE) return ProcessBlock(text.substr(start));
        CString statement;
        splitter.Next(statement);
        // A piece of nothing but comments leaves the result of the statement before it.
        if (IsOnlyComments(statement)) continue;
        result = ProcessStatement(std::move(statement));
        if (result == -1) return -1;
    }
    return result;
}

}  // namespace orva
