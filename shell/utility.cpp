// The shell's own environment commands: HELP, SET, REDO/HI, PAUSE and SPOOL.
#include "utility.h"

#include <climits>
#include <initializer_list>

#include "commands.h"
#include "resources.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/history.h"
#include "zentra/strtable.h"
#include "zentra/words.h"

namespace orva {

using zentra::COutput;
using zentra::CWordPaster;
using zentra::EqualsNoCase;
using zentra::LoadString;

namespace {

constexpr wchar_t kDefaultPrompt[] = L"SQL> ";

// History entries longer than this are listed shortened.
constexpr size_t kListedLength = 30;
constexpr size_t kListedPrefix = 27;

// A REDO re-runs its entry through the dispatcher, and that entry may itself be a REDO (a history
// edited by hand, for example); nesting beyond this depth is refused instead of recursing without
// end.
constexpr int kMaxRedoDepth = 8;
int g_redoDepth = 0;
// Breadth is bounded too: one REDO runs at most this many history entries in all, nested ones
// included (an entry of several REDOs would otherwise multiply at every level).
constexpr int kMaxRedoRuns = 256;
int g_redoRuns = 0;
bool g_redoLimitHit = false;

constexpr const wchar_t* kHelpLines[] = {
    L"Note that all SQL statements must be first on line and end with ';'",
    L"A slash '/' on a line by itself also tells Orvanta to run the command.",
    L"List of all Orvanta commands:",
    L"",
    L"/                 Run SQL statement immediately.",
    L"ED[IT] [file]     Edit SQL script file.",
    L"DECL[ARE]         Declare SQL statement. ",
    L"                  Put slash '/' on a line to run immediately.",
    L"DESC <table>      Show table columns information.",
    L"EXIT|QUIT         Disconnect from the database and terminate Orvanta.",
    L"GO                Same as slash '/'.",
    L"HELP|?            Display this help.",
    L"PAU[SE] [hint]    Waiting until press RETURN key.",
    L"HOST|!            Issue an operating system command.",
    L"REDO|HI {n|FIRST|LAST}",
    L"                  Redo or view the Command Buffer command.",
    L"SERVER|. <DBMS command>",
    L"                  Indicated it is a DBMS command",
    L"SET [OPTION]      Modify the Orvanta environment.",
    L"          ED[ITOR]      Set command editor.",
    L"          [ERR]BEEP {ON|OFF}",
    L"                        Beep when command error.",
    L"          IND[EX] {ON|OFF}",
    L"                        Enable/disable dispaly record index.",
    L"          TAB[LE] {ON|OFF}",
    L"                        Display recrods as table(ON) or list(OFF).",
    L"          [SQL]PROMPT   Change Orvanta prompt.",
    L"          TRUNC[ATE] {ON|OFF}",
    L"                        Enable/disable truncate values.",
    L"SHOW [OPTIONS]    Show object schemas.",
    L"          COL[UMNS] FROM <table>",
    L"                        Show table columns information.",
    L"          DAT[ABASES]   Show databases.",
    L"          FUNC[TIONS]   Show functions information.",
    L"          IND[EX] FROM <table>",
    L"                        Show table indexes information.",
    L"          PROC[EDURES]  Show procedures information.",
    L"          TAB[LES]      Show tables defined in the database.",
    L"          VIE[WS]       Show views defined in the database.",
    L"START|@ <file>    Execute a SQL script file.",
    L"SPOOL {file|OFF}  Append screen context into given file.",
    L"USE [database]    Use another database or view current database.",
};

bool IsOneOf(const CString& word, std::initializer_list<const wchar_t*> names) {
    for (const wchar_t* name : names)
        if (EqualsNoCase(word, name)) return true;
    return false;
}

// The options that take ON or OFF.
struct Switch {
    int* value;
    unsigned message;
    int onValue;       // the value ON stores; OFF stores the other of 0 and 1
    unsigned onText;   // the message argument for the ON state
    unsigned offText;  // and for the OFF state
    int queryResult;   // the result of a query (no word 2)
};

int ApplySwitch(const CWordPaster& words, const Switch& sw) {
    COutput& out = *State().output;
    const int count = words.GetWordCount();
    const auto text = [&](bool on) { return LoadString(on ? sw.onText : sw.offText); };
    if (count == 2) {
        const bool on = sw.onValue ? *sw.value != 0 : *sw.value == 0;
        out.PrintMessage(sw.message, text(on));
        return sw.queryResult;
    }
    const CString word = words.GetWord(2);
    if (EqualsNoCase(word, L"ON")) {
        *sw.value = sw.onValue;
        out.PrintMessage(sw.message, text(true));
        return 1;
    }
    if (EqualsNoCase(word, L"OFF")) {
        *sw.value = 1 - sw.onValue;
        out.PrintMessage(sw.message, text(false));
        return 1;
    }
    out.PrintMessage(IDS_UNKNOWN_SET_OPTION, word);
    return 0;
}

// The decimal number at the start of `word` (optional blanks and sign, then digits; 0 when there
// are none), held within the range of int.
int LeadingNumber(const CString& word) {
    size_t i = 0;
    while (i < word.size() && zentra::IsBlank(word[i])) ++i;
    bool negative = false;
    if (i < word.size() && (word[i] == L'+' || word[i] == L'-')) negative = word[i++] == L'-';
    long long value = 0;
    for (; i < word.size() && word[i] >= L'0' && word[i] <= L'9'; ++i) {
        value = value * 10 + (word[i] - L'0');
        if (value > static_cast<long long>(INT_MAX) + 1) value = static_cast<long long>(INT_MAX) + 1;
    }
    if (negative) value = -value;
    if (value > INT_MAX) value = INT_MAX;
    return static_cast<int>(value);
}

}  // namespace

void ShowHelp() {
    CString text;
    for (const wchar_t* line : kHelpLines) {
        text += line;
        text += L"\r\n";
    }
    text += L"\r\n";
    State().output->Print(L"%s", text);
}

int SetOption(const CString& text) {
    ShellState& st = State();
    COutput& out = *st.output;
    CWordPaster words(text.c_str(), nullptr, nullptr);
    const int count = words.GetWordCount();
    if (count < 2) {
        out.PrintError(IDS_NO_OPTIONS);
        return 0;
    }
    const CString option = words.GetWord(1);

    if (IsOneOf(option, {L"SQLPROMPT", L"PROMPT"})) {
        if (count == 2) {
            st.prompt = kDefaultPrompt;
            out.PrintMessage(IDS_DEFAULT_PROMPT, st.prompt);
        } else {
            st.prompt = words.GetWord(2);
            out.PrintMessage(IDS_PROMPT_SET, st.prompt);
        }
        return 1;
    }
    if (IsOneOf(option, {L"TABLE", L"TAB"}))
        return ApplySwitch(words, {&st.resultViewType, IDS_DISPLAY_AS, 0, IDS_TABLE, IDS_LIST, 0});
    if (IsOneOf(option, {L"TRUNCATE", L"TRUNC"}))
        return ApplySwitch(words, {&st.truncValue, IDS_TRUNCATE, 1, IDS_ON, IDS_OFF, 0});
    if (IsOneOf(option, {L"BEEP", L"ERRBEEP"}))
        return ApplySwitch(words, {&st.errorBeep, IDS_ERROR_BEEP, 1, IDS_ON, IDS_OFF, 0});
    if (IsOneOf(option, {L"INDEX", L"IND"})) {
        if (count > 3) {
            out.PrintMessage(IDS_UNKNOWN_SET_OPTION, words.GetWord(3));
            return 0;
        }
        return ApplySwitch(words, {&st.displayRecordNum, IDS_RECORD_INDEX, 1, IDS_ON, IDS_OFF, 1});
    }
    if (IsOneOf(option, {L"EDITOR", L"ED"})) {
        if (count == 2) {
            out.PrintMessage(IDS_CURRENT_EDITOR, EditorCommand(st.editor));
            return 0;
        }
        if (count > 3) {
            out.PrintMessage(IDS_UNKNOWN_SET_OPTION, words.GetWord(3));
            return 0;
        }
        st.editor = words.GetWord(2);
        out.PrintMessage(IDS_CURRENT_EDITOR, EditorCommand(st.editor));
        return 1;
    }

    // Not one of ours (SET NAMES utf8, SET AUTOCOMMIT OFF, ...): the server's.
    if (st.connection && st.connection->IsConnect()) {
        zentra::CADORecordSet recordset(st.connection.get(), 1);
        return ExecuteStatement(st.connection.get(), text, recordset);
    }
    out.PrintError(IDS_NO_DATABASE);
    return 0;
}

int RedoCommand(const CString* word) {
    ShellState& st = State();
    COutput& out = *st.output;
    zentra::CSQLBuffer& history = *st.history;
    const int count = history.GetCommandCount();

    if (!word) {
        if (count == 0) {
            out.PrintMessage(IDS_BUFFER_EMPTY);
            return 2;
        }
        for (int i = 1; i <= count; ++i) {
            CString entry = history.GetCommandText(i - 1);
            if (entry.size() > kListedLength) entry = entry.substr(0, kListedPrefix) + L"...";
            out.Print(L"  %d. %s\r\n", i, entry);
        }
        out.Print(L"\r\n");
        return 2;
    }

    int number;
    if (EqualsNoCase(*word, L"LAST")) number = count;
    else if (EqualsNoCase(*word, L"FIRST")) number = 1;
    else number = LeadingNumber(*word);
    if (number < 1 || number > count || g_redoDepth >= kMaxRedoDepth) {
        out.PrintError(IDS_BUFFER_NOT_FOUND, number);
        return 2;
    }
    const bool outermost = g_redoDepth == 0;
    if (outermost) {
        g_redoRuns = 0;
        g_redoLimitHit = false;
        st.redoStop.store(0);
        st.redoRunning.store(1);
    }
    if (RedoStopped()) return 2;
    if (++g_redoRuns > kMaxRedoRuns) {
        g_redoLimitHit = true;
        out.PrintError(IDS_REDO_LIMIT, kMaxRedoRuns);
        ErrorBeep();
        return 2;
    }
    const CString entry = history.GetCommandText(number - 1);
    ++g_redoDepth;
    ProcessLine(entry, 1);
    --g_redoDepth;
    if (outermost) {
        st.redoRunning.store(0);
        // Stopped by Ctrl+C: said as a stopped printout says it.
        if (st.redoStop.exchange(0) != 0) out.PrintMessage(L"\r\n%s", LoadString(IDS_ABORTED));
    }
    return 2;
}

bool RedoStopped() {
    return g_redoDepth > 0 && (g_redoLimitHit || State().redoStop.load() != 0);
}

void PauseShell(const CString& hint) {
    ShellState& st = State();
    if (!hint.empty()) st.output->Print(L"%s", hint);
    else st.output->Print(IDS_PRESS_ENTER);
    st.input->WaitForChar(13);
    st.output->Print(L"\r\n");
}

void ReportSpoolWriteError() {
    ShellState& st = State();
    if (!st.spool || !st.output) return;
    st.output->Flush();
    CString path, reason;
    if (st.spool->TakeWriteError(path, reason))
        st.output->PrintError(L"Can't write the spool file %s (%s): the transcript is incomplete and spooling is off.",
                              path, reason);
}

int SpoolCommand(int wordCount, const CString& word1, const CString& rest) {
    ShellState& st = State();
    ReportSpoolWriteError();
    COutput& out = *st.output;
    zentra::CSpoolFile& spool = *st.spool;
    if (wordCount < 2) {
        const CString name = spool.GetFileName();
        if (name.empty()) out.PrintMessage(IDS_TAKES_FILE_NAME);
        else out.PrintMessage(IDS_SPOOL_FILE_IS, name);
        return 0;
    }
    if (wordCount == 2 && EqualsNoCase(word1, L"OFF")) {
        // Said before the file closes, so the transcript ends with it.
        out.PrintMessage(IDS_SPOOL_DISABLED);
        out.Flush();
        spool.Close();
        return 1;
    }
    // What is still pending belongs to the old transcript (or to none).
    out.Flush();
    if (!spool.Open(rest.c_str())) {
        out.PrintError(IDS_CANT_WRITE_FILE, rest);
        return 0;
    }
    out.PrintMessage(IDS_SPOOL_TO, rest);
    return 1;
}

}  // namespace orva
