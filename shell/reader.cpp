// The read and the dispatch of the read–process loop.
#include "reader.h"

#include "commands.h"
#include "helper.h"
#include "resources.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/words.h"

namespace orva {

namespace {

CString TextAfterFirstBlank(const CString& text) {
    size_t blank = text.find(L' ');
    return blank == CString::npos ? CString() : text.substr(blank + 1);
}

int RunServerStatement(const CString& statement) {
    ShellState& st = State();
    if (st.connection && st.connection->IsConnect()) {
        zentra::CADORecordSet recordset(st.connection.get(), 1);
        return ExecuteStatement(st.connection.get(), statement, recordset);
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
    CCommandHelper helper;
    int at = -1;
    int slash = helper.FindOutsideQuotes(text, L'/', 0);
    if (slash == 0 || (slash > 0 && (text[slash - 1] == L'\r' || text[slash - 1] == L'\n'))) at = slash;
    if (at < 0) at = helper.FindOutsideQuotes(text, L';', 0);
    if (at < 0) {
        CString statement;
        statement.swap(text);
        return statement;
    }
    CString statement = text.substr(0, static_cast<size_t>(at));
    text.erase(0, static_cast<size_t>(at) + 1);
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

CString ReadStatement() {
    ShellState& st = State();
    CCommandHelper helper;
    CString result;
    bool block = false;
    int line = 1;
    PrintPrompt(line);
    for (;;) {
        CString text = st.input->GetString(0);
        // Ctrl+C at a continuation line ends the shell as it does at the first.
        if (st.exitRequested.load() != 0) return CString();
        // End of input: the statement gathered so far is returned (and run) as it stands.
        if (st.input->IsEof() && text.empty()) break;
        CommandKind kind = helper.ClassifyCommand(text);
        if (line == 1) {
            if (kind == CMD_DECLARE) {
                result += text + L"\r\n";
                block = true;
            } else if (kind == CMD_RUN) {
                result = st.lastStatement;
                break;
            } else if (kind != CMD_NONE) {
                result = text;
                break;
            } else if (zentra::Trim(text).empty()) {
                break;
            } else {
                result += text + L"\r\n";
                if (helper.FindOutsideQuotes(result, L';', 0) >= 0) break;
            }
        } else {
            if (kind == CMD_RUN) break;
            result += text + L"\r\n";
            if (!block && helper.FindOutsideQuotes(result, L';', 0) >= 0) break;
        }
        if (st.input->IsEof()) break;
        ++line;
        PrintPrompt(line);
    }
    return zentra::Trim(result);
}

int ProcessLine(CString text, int split) {
    ShellState& st = State();
    CCommandHelper helper;
    text = zentra::Trim(text);
    if (text.empty()) return 0;

    if (helper.ClassifyCommand(text) == CMD_DECLARE) {
        size_t lineFeed = text.find(L'\n');
        // A block without a line break has no body of its own: it goes to the server as it is.
        if (lineFeed == CString::npos) {
            st.lastStatement = text;
            return RunServerStatement(text);
        }
        return ProcessLine(text.substr(lineFeed + 1), 0);
    }

    CString statement;
    if (split == 1) {
        statement = TakeNextStatement(text);
        if (!zentra::Trim(text).empty()) {
            int r = ProcessLine(statement, 0);
            if (r == -1) return -1;
            return ProcessLine(text, 1);
        }
    } else {
        statement = text;
    }

    statement = zentra::Trim(statement);
    if (statement.empty()) return 0;
    CommandKind kind = helper.ClassifyCommand(statement);
    if (kind != CMD_EDIT) st.lastStatement = statement;

    if (kind == CMD_SERVER) {
        // The command word is the statement's first word: "server" or a lone "." (a later
        // "server" inside the statement is the statement's own text).
        CString rest;
        if (zentra::FindNoCase(statement, L"server") == 0) rest = statement.substr(6);
        else if (size_t dot = statement.find(L'.'); dot != CString::npos) rest = statement.substr(dot + 1);
        rest = zentra::TrimLeft(rest);
        if (rest.empty()) return 0;
        return RunServerStatement(rest);
    }
    if (kind != CMD_NONE) return Dispatch(kind, statement);
    return RunServerStatement(statement);
}

}  // namespace orva
