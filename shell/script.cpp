// START and @: running a script file batch by batch, each batch in a transaction of its own.
#include "commands.h"
#include "resources.h"
#include "sqltext.h"
#include "utility.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/strtable.h"
#include "zentra/textfile.h"
#include "zentra/words.h"

namespace orva {

using zentra::CADOCommand;
using zentra::CADOConnection;
using zentra::CFileException;
using zentra::CStdioFileEx;

namespace {

// The transaction around one batch. A connection that can't begin one (a driver without
// transactions) runs the batches in auto-commit mode instead.
class BatchTransaction {
public:
    explicit BatchTransaction(CADOConnection& connection) : m_connection(connection) {}
    ~BatchTransaction() { Rollback(); }
    BatchTransaction(const BatchTransaction&) = delete;
    BatchTransaction& operator=(const BatchTransaction&) = delete;

    void Begin() { m_open = m_connection.BeginTrans() > 0; }

    // Commits the open transaction. 0 when the commit failed, with `error` set; the batch's work
    // is then rolled back.
    int Commit(CString& error) {
        if (!m_open) return 1;
        m_open = false;
        // CommitTrans reports a failure only through the connection's last error.
        m_connection.m_strLastError.clear();
        m_connection.m_dwLastError = 0;
        m_connection.CommitTrans();
        if (m_connection.m_dwLastError == 0 && m_connection.m_strLastError.empty()) return 1;
        error = m_connection.m_strLastError;
        // A failed commit can leave the server's transaction open (SQLite keeps it after a
        // deferred constraint fails): end it.
        if (m_connection.BeginTrans() > 0) m_connection.RollbackTrans();
        return 0;
    }

    void Rollback() {
        if (!m_open) return;
        m_open = false;
        m_connection.RollbackTrans();
    }

private:
    CADOConnection& m_connection;
    bool m_open = false;
};

// Runs one batch as a command without records. 1 ran; 0 with `error` set.
int ExecuteBatch(CADOConnection& connection, const CString& text, CString& error) {
    CADOCommand command(&connection, text, zentra::adCmdText);
    if (command.Execute(zentra::adCmdText | zentra::adExecuteNoRecords)) return 1;
    error = command.GetLastErrorString();
    return 0;
}

CString TooLongText() {
    return zentra::Format(zentra::LoadString(IDS_INPUT_TOO_LONG), static_cast<int>(zentra::kMaxInputLine));
}

// Whether the driver refused the text for holding more than one statement: SQLite's driver says
// so; MariaDB and MySQL without their multi-statement option report a syntax error.
bool RefusedSeveralStatements(const CString& error) {
    return zentra::FindNoCase(error, L"only one SQL statement") != CString::npos ||
           zentra::FindNoCase(error, L"You have an error in your SQL syntax") != CString::npos;
}

// Runs one batch. A text that the driver refuses for holding several statements runs again
// statement by statement, in a fresh transaction (the refused text ran nothing). 1 ran; 0 with
// `error` set.
int RunBatch(CADOConnection& connection, BatchTransaction& transaction, const CString& text, CString& error) {
    if (text.find(L'\0') != CString::npos) {
        error = zentra::LoadString(IDS_NUL_REFUSED);
        return 0;
    }
    if (text.size() > zentra::kMaxInputLine) {
        error = TooLongText();
        return 0;
    }
    const std::vector<CString> statements = SplitBatch(text);
    // A COPY that streams through the client would leave PostgreSQL's driver spinning: the batch
    // is refused before any of it runs.
    if (State().connectInfo.type == zentra::kDbmsPostgreSql)
        for (const CString& statement : statements)
            if (IsClientCopy(statement)) {
                error = zentra::LoadString(IDS_COPY_STREAM_REFUSED);
                return 0;
            }
    if (ExecuteBatch(connection, text, error)) return 1;
    if (!RefusedSeveralStatements(error)) return 0;
    if (statements.size() < 2) return 0;
    transaction.Rollback();
    transaction.Begin();
    for (const CString& statement : statements)
        if (!ExecuteBatch(connection, statement, error)) return 0;
    return 1;
}

bool IsBatchEnd(const CString& line) { return line == L"/" || zentra::EqualsNoCase(line, L"GO"); }

int Fail(const CString& text) {
    State().output->PrintMessage(L"%s", text);
    ErrorBeep();
    return 0;
}

}  // namespace

int RunScript(CADOConnection* connection, const CString& arguments) {
    ShellState& st = State();
    zentra::CTimeStat timer(1);

    // The file name is the first piece before any ';'.
    zentra::CWordPaster pieces(zentra::Trim(arguments).c_str(), L";", nullptr);
    const CString name = zentra::Trim(pieces.GetWord(0));
    if (name.empty()) {
        st.output->PrintMessage(IDS_NO_SCRIPT);
        ErrorBeep();
        return 0;
    }

    CStdioFileEx file;
    if (!file.Open(name.c_str(), CStdioFileEx::modeRead, nullptr)) {
        st.output->PrintMessage(IDS_OPEN_FILE_FAILED, name);
        ErrorBeep();
        return 0;
    }
    if (!connection || !connection->IsConnect()) {
        st.output->PrintError(IDS_NO_DATABASE);
        ErrorBeep();
        return 0;
    }

    BatchTransaction transaction(*connection);
    transaction.Begin();
    CString batch, line, error;
    file.SetMaxLineLength(zentra::kMaxInputLine);
    // The batch's text as far as it is read: a "/" or GO line inside a string or comment is text.
    CSqlScanner scanner;
    while (file.ReadString(line)) {
        if (file.LineTooLong()) {
            transaction.Rollback();
            return Fail(TooLongText());
        }
        // Lines go to the server as they stand: blanks inside a string that spans lines are data.
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        if (scanner.GetMode() != CSqlScanner::kPlain || !IsBatchEnd(zentra::Trim(line))) {
            const size_t from = batch.size();
            batch += line;
            batch += L"\n";
            scanner.Find(batch, from, L'\0');
            // A batch too large to hold is refused as it grows, not once it is all read.
            if (batch.size() > zentra::kMaxInputLine) {
                transaction.Rollback();
                return Fail(TooLongText());
            }
            continue;
        }
        // A separator runs what was collected, even nothing (the server then reports the error).
        if (!RunBatch(*connection, transaction, batch, error)) {
            transaction.Rollback();
            return Fail(error);
        }
        batch.clear();
        scanner = CSqlScanner();
        if (!transaction.Commit(error)) return Fail(error);
        transaction.Begin();
    }
    if (file.GetLastException().m_cause != CFileException::none) {
        transaction.Rollback();
        return Fail(file.GetLastException().GetErrorMessage());
    }
    // Blank lines after the last separator make no batch of their own.
    if (!zentra::Trim(batch).empty() && !RunBatch(*connection, transaction, batch, error)) {
        transaction.Rollback();
        return Fail(error);
    }
    if (!transaction.Commit(error)) return Fail(error);

    st.output->Enable(1);
    st.output->PrintMessage(IDS_SCRIPT_SUCCESS, timer.GetTotalTime());
    return 1;
}

}  // namespace orva
