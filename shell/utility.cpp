// The shell's own environment commands: HELP, REDO/HI, PAUSE and SPOOL.
#include "utility.h"

#include <climits>

#include "commands.h"
#include "reader.h"
#include "resources.h"
#include "settings.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/history.h"
#include "zentra/strtable.h"

namespace orva {

using zentra::COutput;
using zentra::EqualsNoCase;
using zentra::LoadString;

namespace {

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
};

// After the SET options.
constexpr const wchar_t* kHelpLinesAfterSet[] = {
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
    for (const wchar_t* line : kHelpLines) text += CString(line) + L"\r\n";
    text += SettingsHelp();
    for (const wchar_t* line : kHelpLinesAfterSet) text += CString(line) + L"\r\n";
    text += L"\r\n";
    State().output->Print(L"%s", text);
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

bool RedoStopped() { return g_redoDepth > 0 && (g_redoLimitHit || State().redoStop.load() != 0); }

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
