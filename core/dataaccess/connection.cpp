#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <new>
#include <thread>

#include "messages.h"
#include "connection_core.h"
#include "zentra/dataaccess.h"
#include "zentra/text.h"

namespace zentra {

namespace {

// One ODBC environment for the process, created on first use; every connection keeps it alive.
std::shared_ptr<EnvHandle> SharedEnvironment(OdbcError& error) {
    static std::mutex mutex;
    static std::weak_ptr<EnvHandle> shared;
    std::lock_guard<std::mutex> lock(mutex);
    if (auto env = shared.lock()) return env;
    auto env = std::make_shared<EnvHandle>();
    if (!env->Alloc(error)) return nullptr;
    shared = env;
    return env;
}

struct TextProperty {
    const wchar_t* name;
    SQLUSMALLINT info;
};
const TextProperty kTextProperties[] = {
    {L"DBMS Name", SQL_DBMS_NAME},
    {L"DBMS Version", SQL_DBMS_VER},
    {L"Driver Name", SQL_DRIVER_NAME},
    {L"Driver Version", SQL_DRIVER_VER},
    {L"Server Name", SQL_SERVER_NAME},
    {L"Data Source Name", SQL_DATA_SOURCE_NAME},
    {L"User Name", SQL_USER_NAME},
    {L"Read-Only Data Source", SQL_DATA_SOURCE_READ_ONLY},
    {L"Accessible Procedures", SQL_ACCESSIBLE_PROCEDURES},
    {L"Accessible Tables", SQL_ACCESSIBLE_TABLES},
};
const wchar_t* const kCurrentCatalog = L"Current Catalog";

// Whether the driver converts text to SQL_C_WCHAR: reads a type name from SQLGetTypeInfo (which
// every driver answers) as wide text. Only a "restricted data type" refusal counts as no.
bool ProbeWideText(SQLHDBC dbc) {
    StmtHandle stmt;
    OdbcError error;
    if (!stmt.Alloc(dbc, error)) return true;
    if (!Succeeded(Traced("SQLGetTypeInfoW", SQLGetTypeInfoW(stmt.get(), SQL_ALL_TYPES))) ||
        !Succeeded(Traced("SQLFetch", SQLFetch(stmt.get()))))
        return true;
    SQLWCHAR buffer[256];
    SQLLEN ind = 0;
    SQLRETURN rc = Traced("SQLGetData", SQLGetData(stmt.get(), 1, SQL_C_WCHAR, buffer, sizeof buffer, &ind));
    if (Succeeded(rc)) return true;
    ReadDiagnostics(SQL_HANDLE_STMT, stmt.get(), error);
    return !(error.state == "07006" || error.state == "HY003" || error.state == "HYC00");
}

// Whether the driver has wide entry points. The driver manager answers SQLGetFunctions for a
// function in either form, so the driver is asked instead whether it has wide character types
// at all: a driver that lists none in SQLGetTypeInfo and converts to none is an ANSI build.
bool ProbeWideCalls(SQLHDBC dbc) {
    SQLUINTEGER conversions = 0;
    const SQLUINTEGER wideTypes = SQL_CVT_WCHAR | SQL_CVT_WVARCHAR | SQL_CVT_WLONGVARCHAR;
    if (Succeeded(
            Traced("SQLGetInfo", SQLGetInfo(dbc, SQL_CONVERT_VARCHAR, &conversions, sizeof conversions, nullptr))) &&
        (conversions & wideTypes) != 0)
        return true;
    for (SQLSMALLINT type : {SQL_WVARCHAR, SQL_WCHAR, SQL_WLONGVARCHAR}) {
        StmtHandle stmt;
        OdbcError error;
        if (!stmt.Alloc(dbc, error)) return true;
        if (!Succeeded(Traced("SQLGetTypeInfo", SQLGetTypeInfo(stmt.get(), type))))
            return true;  // no answer: keep the wide calls
        if (Succeeded(Traced("SQLFetch", SQLFetch(stmt.get())))) return true;
    }
    return false;
}

// One SQLDriverConnect on a thread of its own, so that a server that accepts the connection and
// never answers cannot hold the caller beyond the login timeout, whatever the driver makes of
// SQL_ATTR_LOGIN_TIMEOUT. An attempt given up on finishes (and frees its handle) by itself.
struct ConnectAttempt {
    std::shared_ptr<EnvHandle> env;  // kept alive for the handle
    DbcHandle dbc;
    SqlWString connectionString;
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    SQLRETURN rc = SQL_ERROR;
    OdbcError error;

    void Run() {
        SQLWCHAR out[1024];
        SQLSMALLINT outLength = 0;
        SQLRETURN result =
            Traced("SQLDriverConnectW", SQLDriverConnectW(dbc.get(), nullptr, connectionString.data(),
                                                          static_cast<SQLSMALLINT>(connectionString.size()), out, 1024,
                                                          &outLength, SQL_DRIVER_NOPROMPT));
        std::lock_guard<std::mutex> lock(mutex);
        rc = result;
        if (Succeeded(rc)) dbc.SetConnected(true);
        else if (rc != SQL_NO_DATA) Check(rc, SQL_HANDLE_DBC, dbc.get(), error);
        else error.Set(L"The connection was not opened.", ZE_FAIL);
        done = true;
        finished.notify_all();
    }
};

}  // namespace

// ---- ConnectionCore ----

ConnectionCore::~ConnectionCore() noexcept { Disconnect(); }

bool ConnectionCore::Connect(const std::wstring& connectionString, long loginTimeout, OdbcError& error) {
    Disconnect();
    lost_ = false;
    if (!env_) env_ = SharedEnvironment(error);
    if (!env_) return false;
    auto attempt = std::make_shared<ConnectAttempt>();
    attempt->env = env_;
    attempt->connectionString = ToSqlW(connectionString);
    if (!attempt->dbc.Alloc(env_->get(), error)) return false;
    if (loginTimeout > 0) {
        Traced("SQLSetConnectAttrW",
               SQLSetConnectAttrW(attempt->dbc.get(), SQL_ATTR_LOGIN_TIMEOUT,
                                  reinterpret_cast<SQLPOINTER>(static_cast<SQLULEN>(loginTimeout)), 0));
        try {
            std::thread([attempt] { attempt->Run(); }).detach();
        } catch (const std::system_error&) {
            attempt->Run();
        }
        std::unique_lock<std::mutex> lock(attempt->mutex);
        // A second more than the driver's own limit, so that a driver that keeps it reports first.
        if (!attempt->finished.wait_for(lock, std::chrono::seconds(loginTimeout) + std::chrono::seconds(1),
                                        [&] { return attempt->done; })) {
            error.Set(L"Login timeout expired.", ZE_FAIL);
            return false;
        }
    } else {
        attempt->Run();
    }
    std::lock_guard<std::mutex> lock(attempt->mutex);
    if (!Succeeded(attempt->rc)) {
        error = attempt->error;
        return false;
    }
    dbc_.Swap(attempt->dbc);
    inTransaction = false;
    SQLUINTEGER extensions = 0;
    if (Succeeded(Traced("SQLGetInfoW",
                         SQLGetInfoW(dbc_.get(), SQL_GETDATA_EXTENSIONS, &extensions, sizeof extensions, nullptr)))) {
        caps_.getDataBlock = (extensions & SQL_GD_BLOCK) != 0;
        caps_.getDataBound = (extensions & SQL_GD_BOUND) != 0;
    }
    caps_.wideText = ProbeWideText(dbc_.get());
    caps_.wideCalls = ProbeWideCalls(dbc_.get());
    dbc_.SetWideCalls(caps_.wideCalls);
    // The DBMS's dialect, once for the connection: its quirks (SQLite keeps a type per value, its
    // columns' types only describe the first value or the declaration) and how its rows are edited.
    caps_.dialect = &DialectOfDbms(InfoText(dbc_.get(), SQL_DBMS_NAME, caps_.wideCalls));
    caps_.valueTyped = caps_.dialect->valueTyped;
    caps_.utf8Text = caps_.wideText && ProbeUtf8Text(dbc_.get(), *caps_.dialect, caps_.wideCalls);
    caps_.splitsAtSemicolons = SplitsBatches(*caps_.dialect, InfoText(dbc_.get(), SQL_DRIVER_NAME, caps_.wideCalls));
    return true;
}

void ConnectionCore::Disconnect() noexcept {
    dbc_.Reset();
    inTransaction = false;
}

bool ConnectionCore::Run(const std::function<SQLRETURN(SQLHSTMT)>& start, RowSet* rows, long* affected,
                         const void* owner, OdbcError& error, bool oneResult) {
    if (affected) *affected = -1;
    if (!IsOpen()) {
        error.Set(lost_ ? kConnectionLost : kNotOpen, ZE_POINTER);
        return false;
    }
    if (RunStatement(start, rows, affected, owner, error, oneResult)) return true;
    // A failure that took the link with it (SQLSTATE class 08, or the driver says the connection
    // is dead) leaves the connection closed, so that IsConnect tells it and the next statement
    // says so.
    SQLUINTEGER dead = SQL_CD_FALSE;
    const bool linkGone = error.state.rfind("08", 0) == 0 ||
                          (Succeeded(Traced("SQLGetConnectAttr", SQLGetConnectAttr(dbc_.get(), SQL_ATTR_CONNECTION_DEAD,
                                                                                   &dead, 0, nullptr))) &&
                           dead == SQL_CD_TRUE);
    if (linkGone && IsOpen()) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (running_.empty()) {
            dbc_.Reset();
            inTransaction = false;
            lost_ = true;
        }
    }
    return false;
}

bool ConnectionCore::RunStatement(const std::function<SQLRETURN(SQLHSTMT)>& start, RowSet* rows, long* affected,
                                  const void* owner, OdbcError& error, bool oneResult) {
    StmtHandle stmt;
    if (!stmt.Alloc(dbc_.get(), error)) return false;
    Running running{stmt.get(), owner};
    {
        std::lock_guard<std::mutex> lock(mutex_);
        running_.push_back(&running);
    }
    // Leaves the running list before the statement handle is freed (declared after `stmt`).
    struct Unregister {
        ConnectionCore* core;
        Running* running;
        ~Unregister() {
            std::lock_guard<std::mutex> lock(core->mutex_);
            core->running_.erase(std::remove(core->running_.begin(), core->running_.end(), running),
                                 core->running_.end());
        }
    } unregister{this, &running};

    SQLHSTMT h = stmt.get();
    SQLRETURN rc = start(h);
    if (rc == SQL_NO_DATA) {
        // A searched UPDATE or DELETE that touched no row.
        if (affected) *affected = 0;
        if (rows) rows->affected = 0;
        return true;
    }
    if (!Check(rc, SQL_HANDLE_STMT, h, error)) return false;
    long total = -1;
    for (;;) {
        SQLSMALLINT columns = 0;
        if (!Check(Traced("SQLNumResultCols", SQLNumResultCols(h, &columns)), SQL_HANDLE_STMT, h, error)) return false;
        if (columns > 0 && rows) {
            if (!FetchResult(h, caps_, *rows, running.cancelled, error)) return false;
            break;
        }
        if (columns == 0) {
            SQLLEN count = -1;
            if (Succeeded(Traced("SQLRowCount", SQLRowCount(h, &count))) && count >= 0)
                total = (total < 0 ? 0 : total) + static_cast<long>(count);
        }
        if (oneResult && columns == 0) break;
        rc = Traced("SQLMoreResults", SQLMoreResults(h));
        if (rc == SQL_NO_DATA) break;
        if (!Check(rc, SQL_HANDLE_STMT, h, error)) return false;
    }
    if (affected) *affected = total;
    if (rows) rows->affected = total;
    return true;
}

void ConnectionCore::Cancel(const void* owner) {
    std::lock_guard<std::mutex> lock(mutex_);
    for (Running* r : running_) {
        if (owner && r->owner != owner) continue;
        r->cancelled.store(true);
        Traced("SQLCancel", SQLCancel(r->stmt));
    }
}

bool ConnectionCore::IsExecuting() {
    std::lock_guard<std::mutex> lock(mutex_);
    return !running_.empty();
}

// ---- CADOConnection ----

CADOConnection::CADOConnection() {
    try {
        m_pConnection = std::make_shared<ConnectionCore>();
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
    }
}

CADOConnection::~CADOConnection() {
    if (m_pConnection) m_pConnection->Disconnect();
}

void CADOConnection::Record(const CString& text, std::uint32_t code) {
    m_strLastError = text;
    m_dwLastError = code;
    m_strSqlState.clear();
}

void CADOConnection::Record(const OdbcError& error) {
    m_strLastError = error.text;
    m_dwLastError = error.code;
    m_strSqlState = error.state;
}

int CADOConnection::Open(const wchar_t* connectionString, const wchar_t* user, const wchar_t* password,
                         ConnectModeEnum mode, long /*options*/) {
    try {
        if (!m_pConnection) m_pConnection = std::make_shared<ConnectionCore>();
        if (IsConnect()) Close();
        m_mode = mode;  // kept only: the shell writes through its connection
        CString text = connectionString && *connectionString ? CString(connectionString) : m_strConnectionString;
        m_strConnectionString = text;
        if (user && *user) {
            if (!text.empty() && text.back() != L';') text += L';';
            text += L"UID=" + CString(user) + L';';
        }
        if (password && *password) {
            if (!text.empty() && text.back() != L';') text += L';';
            text += L"PWD=" + CString(password) + L';';
        }
        OdbcError error;
        if (!m_pConnection->Connect(text, m_lConnectionTimeout, error)) {
            Record(error);
            return 0;
        }
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADOConnection::IsConnect() { return m_pConnection && m_pConnection->IsOpen() ? 1 : 0; }

void CADOConnection::Close() {
    if (IsConnect()) m_pConnection->Disconnect();
}

int CADOConnection::Execute(const wchar_t* sql, long /*options*/) {
    try {
        if (!m_pConnection) {
            Record(L"", ZE_POINTER);
            return 0;
        }
        const std::wstring text = sql ? sql : L"";
        const bool wide = m_pConnection->caps().wideCalls;
        OdbcError error;
        bool ok =
            m_pConnection->Run([&](SQLHSTMT h) { return ExecDirect(h, text, wide); }, nullptr, nullptr, this, error);
        if (!ok) Record(error);
        return ok ? 1 : 0;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

long CADOConnection::BeginTrans() {
    if (!IsConnect()) {
        Record(kNotOpen, ZE_POINTER);
        return -1;
    }
    if (m_pConnection->inTransaction) {
        Record(L"Nested transactions are not supported.", ZE_FAIL);
        return -1;
    }
    OdbcError error;
    SQLHDBC dbc = m_pConnection->dbc();
    if (!Check(Traced("SQLSetConnectAttrW", SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT,
                                                               reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_OFF), 0)),
               SQL_HANDLE_DBC, dbc, error)) {
        Record(error);
        return -1;
    }
    m_pConnection->inTransaction = true;
    return 1;
}

void CADOConnection::CommitTrans() { EndTrans(true); }

void CADOConnection::RollbackTrans() { EndTrans(false); }

void CADOConnection::EndTrans(bool commit) {
    if (!IsConnect()) return Record(kNotOpen, ZE_POINTER);
    if (!m_pConnection->inTransaction) return Record(L"No transaction is active.", ZE_FAIL);
    OdbcError error;
    SQLHDBC dbc = m_pConnection->dbc();
    if (!Check(Traced("SQLEndTran", SQLEndTran(SQL_HANDLE_DBC, dbc, commit ? SQL_COMMIT : SQL_ROLLBACK)),
               SQL_HANDLE_DBC, dbc, error))
        Record(error);
    m_pConnection->inTransaction = false;
    if (!Check(Traced("SQLSetConnectAttrW",
                      SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT, reinterpret_cast<SQLPOINTER>(SQL_AUTOCOMMIT_ON), 0)),
               SQL_HANDLE_DBC, dbc, error))
        Record(error);
}

void CADOConnection::Cancel() {
    if (m_pConnection) m_pConnection->Cancel(nullptr);
}

int CADOConnection::IsExecuting() { return m_pConnection && m_pConnection->IsExecuting() ? 1 : 0; }

void CADOConnection::SetConnectionTimeout(long seconds) { m_lConnectionTimeout = seconds; }

long CADOConnection::GetConnectionTimeout() { return m_lConnectionTimeout; }

void CADOConnection::SetConectionString(const wchar_t* connectionString) {
    m_strConnectionString = connectionString ? connectionString : L"";
}

const wchar_t* CADOConnection::GetConectionString() { return m_strConnectionString.c_str(); }

int CADOConnection::GetInfoText(const wchar_t* name, CString& value) {
    if (!name) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    if (!IsConnect()) {
        Record(kNotOpen, ZE_POINTER);
        return 0;
    }
    SQLHDBC dbc = m_pConnection->dbc();
    OdbcError error;
    const bool wide = m_pConnection->caps().wideCalls;
    if (EqualsNoCase(name, kCurrentCatalog)) {
        if (!CurrentCatalog(dbc, wide, value, error)) {
            Record(error);
            return 0;
        }
        return 1;
    }
    for (const auto& p : kTextProperties) {
        if (!EqualsNoCase(name, p.name)) continue;
        if (!zentra::GetInfoText(dbc, p.info, wide, value, error)) {
            Record(error);
            return 0;
        }
        return 1;
    }
    Record(kNoItem, ZE_INVALIDARG);
    return 0;
}

int CADOConnection::GetProperties(const wchar_t* name, CString& value) {
    try {
        return GetInfoText(name, value);
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADOConnection::GetProperties(const wchar_t* name, int& value) {
    CString text;
    if (!GetProperties(name, text)) return 0;
    if (EqualsNoCase(text, L"Y") || EqualsNoCase(text, L"true") || text == L"1" || text == L"-1") value = -1;
    else if (EqualsNoCase(text, L"N") || EqualsNoCase(text, L"false") || text == L"0") value = 0;
    else {
        Record(L"The property is not a Boolean.", ZE_INVALIDARG);
        return 0;
    }
    return 1;
}

int CADOConnection::GetProperties(const wchar_t* name, long& value) {
    CString text;
    if (!GetProperties(name, text)) return 0;
    try {
        size_t used = 0;
        long long v = std::stoll(text, &used, 10);
        if (used != text.size()) throw std::invalid_argument("text");
        value = static_cast<long>(static_cast<std::int32_t>(v));
        return 1;
    } catch (const std::exception&) {
        Record(L"The property is not a number.", ZE_INVALIDARG);
        return 0;
    }
}

int CADOConnection::SetProperties(const wchar_t* name, const wchar_t* value) {
    if (!name || !EqualsNoCase(name, kCurrentCatalog)) {
        Record(kNoItem, ZE_INVALIDARG);
        return 0;
    }
    if (!IsConnect()) {
        Record(kNotOpen, ZE_POINTER);
        return 0;
    }
    try {
        const bool wide = m_pConnection->caps().wideCalls;
        DriverText text(std::wstring_view(value ? value : L""), wide);
        SQLHDBC dbc = m_pConnection->dbc();
        OdbcError error;
        const SQLINTEGER bytes = wide ? text.Length() * static_cast<SQLINTEGER>(sizeof(SQLWCHAR)) : text.Length();
        if (!Check(
                wide ? Traced("SQLSetConnectAttrW", SQLSetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, text.W(), bytes))
                     : Traced("SQLSetConnectAttr", SQLSetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, text.A(), bytes)),
                SQL_HANDLE_DBC, dbc, error)) {
            Record(error);
            return 0;
        }
        return 1;
    } catch (...) {
        RecordException([this](const wchar_t* text, std::uint32_t code) { Record(text, code); });
        return 0;
    }
}

int CADOConnection::SetProperties(const wchar_t* /*name*/, int /*value*/) {
    Record(kNoItem, ZE_INVALIDARG);
    return 0;
}

int CADOConnection::SetProperties(const wchar_t* /*name*/, long /*value*/) {
    Record(kNoItem, ZE_INVALIDARG);
    return 0;
}

}  // namespace zentra
