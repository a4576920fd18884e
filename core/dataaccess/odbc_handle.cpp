#include "odbc_handle.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/text.h"

namespace zentra {

SqlWString ToSqlW(std::wstring_view text) {
    std::u16string u16 = WideToUtf16(text);
    return SqlWString(u16.begin(), u16.end());
}

std::wstring FromSqlW(const SQLWCHAR* text, std::size_t length) {
    std::u16string u16(text, text + length);
    return Utf16ToWide(u16);
}

namespace {

// Where ORVANTA_ODBC_TRACE sends the trace: nowhere, standard error, or a file opened once.
struct TraceSink {
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file{nullptr, &std::fclose};
    std::FILE* out = nullptr;
    std::mutex mutex;
    TraceSink() {
        const char* setting = std::getenv("ORVANTA_ODBC_TRACE");
        if (!setting || !*setting || std::strcmp(setting, "0") == 0) return;
        if (std::strcmp(setting, "1") == 0) {
            out = stderr;
            return;
        }
        file.reset(std::fopen(setting, "ae"));
        out = file.get();
    }
};

TraceSink& Sink() {
    static TraceSink sink;
    return sink;
}

const char* ReturnName(SQLRETURN rc) {
    switch (rc) {
    case SQL_SUCCESS: return "SQL_SUCCESS";
    case SQL_SUCCESS_WITH_INFO: return "SQL_SUCCESS_WITH_INFO";
    case SQL_NO_DATA: return "SQL_NO_DATA";
    case SQL_ERROR: return "SQL_ERROR";
    case SQL_INVALID_HANDLE: return "SQL_INVALID_HANDLE";
    case SQL_NEED_DATA: return "SQL_NEED_DATA";
    case SQL_STILL_EXECUTING: return "SQL_STILL_EXECUTING";
    default: return "?";
    }
}

}  // namespace

SQLRETURN Traced(const char* call, SQLRETURN rc) noexcept {
    TraceSink& sink = Sink();
    if (sink.out) {
        std::lock_guard<std::mutex> lock(sink.mutex);
        std::fprintf(sink.out, "%s %d %s\n", call, static_cast<int>(rc), ReturnName(rc));
        std::fflush(sink.out);
    }
    return rc;
}

namespace {

// The handles (connections and their statements) of drivers without wide entry points, so that
// their diagnostics are read in the driver's own form.
std::mutex narrowMutex;
std::unordered_set<SQLHANDLE> narrowHandles;

void MarkNarrow(SQLHANDLE handle, bool narrow) {
    std::lock_guard<std::mutex> lock(narrowMutex);
    if (narrow) narrowHandles.insert(handle);
    else narrowHandles.erase(handle);
}

bool IsNarrow(SQLHANDLE handle) {
    std::lock_guard<std::mutex> lock(narrowMutex);
    return narrowHandles.count(handle) != 0;
}

}  // namespace

DriverText::DriverText(std::wstring_view text, bool wide) : wide_form_(wide) {
    if (wide) wide_ = ToSqlW(text);
    else narrow_ = WideToUtf8(text);
}

DriverText::DriverText(const std::optional<std::wstring>& text, bool wide)
    : present_(text.has_value()), wide_form_(wide) {
    if (!present_) return;
    if (wide) wide_ = ToSqlW(*text);
    else narrow_ = WideToUtf8(*text);
}

SQLINTEGER DriverText::Length() const {
    if (!present_) return 0;
    return static_cast<SQLINTEGER>(wide_form_ ? wide_.size() : narrow_.size());
}

std::wstring FromDriver(const void* buffer, std::size_t length, std::size_t capacity, bool wide) {
    length = std::min(length, capacity);
    if (wide) {
        const auto* units = static_cast<const SQLWCHAR*>(buffer);
        std::size_t n = 0;
        while (n < length && units[n] != 0) ++n;
        return FromSqlW(units, n);
    }
    const char* bytes = static_cast<const char*>(buffer);
    const std::size_t n = static_cast<std::size_t>(std::find(bytes, bytes + length, '\0') - bytes);
    return DecodeNarrow(std::string_view(bytes, n));
}

SQLRETURN ExecDirect(SQLHSTMT stmt, std::wstring_view sql, bool wide) {
    DriverText text(sql, wide);
    return wide ? Traced("SQLExecDirectW", SQLExecDirectW(stmt, text.W(), text.Length()))
                : Traced("SQLExecDirect", SQLExecDirect(stmt, text.A(), text.Length()));
}

bool GetInfoText(SQLHDBC dbc, SQLUSMALLINT info, bool wide, std::wstring& text, OdbcError& error) {
    std::vector<SQLWCHAR> buffer(1024);  // also holds the narrow form
    const SQLSMALLINT size = static_cast<SQLSMALLINT>(buffer.size() * sizeof(SQLWCHAR));
    SQLSMALLINT length = 0;
    SQLRETURN rc = wide ? Traced("SQLGetInfoW", SQLGetInfoW(dbc, info, buffer.data(), size, &length))
                        : Traced("SQLGetInfo", SQLGetInfo(dbc, info, buffer.data(), size, &length));
    if (!Check(rc, SQL_HANDLE_DBC, dbc, error)) return false;
    const std::size_t n = static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0));
    text = wide ? FromDriver(buffer.data(), n / sizeof(SQLWCHAR), buffer.size() - 1, true)
                : FromDriver(buffer.data(), n, static_cast<std::size_t>(size) - 1, false);
    return true;
}

std::wstring InfoText(SQLHDBC dbc, SQLUSMALLINT info, bool wide) {
    std::wstring text;
    OdbcError ignored;
    return GetInfoText(dbc, info, wide, text, ignored) ? text : std::wstring();
}

bool CurrentCatalog(SQLHDBC dbc, bool wide, std::wstring& catalog, OdbcError& error) {
    std::vector<SQLWCHAR> buffer(1024);
    const SQLINTEGER size = static_cast<SQLINTEGER>(buffer.size() * sizeof(SQLWCHAR));
    SQLINTEGER length = 0;
    SQLRETURN rc = wide ? Traced("SQLGetConnectAttrW",
                                 SQLGetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, buffer.data(), size, &length))
                        : Traced("SQLGetConnectAttr",
                                 SQLGetConnectAttr(dbc, SQL_ATTR_CURRENT_CATALOG, buffer.data(), size, &length));
    if (!Check(rc, SQL_HANDLE_DBC, dbc, error)) return false;
    const std::size_t n = static_cast<std::size_t>(std::max<SQLINTEGER>(length, 0));
    catalog = wide ? FromDriver(buffer.data(), n / sizeof(SQLWCHAR), buffer.size() - 1, true)
                   : FromDriver(buffer.data(), n, static_cast<std::size_t>(size) - 1, false);
    return true;
}

CString TrimErrorTags(const CString& text) {
    CString result = text;
    while (result.size() >= 2 && result[0] == L'[') {
        size_t close = result.find(L']');
        if (close == CString::npos) break;
        result = Trim(std::wstring_view(result).substr(close + 1));
    }
    return result;
}

void ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, OdbcError& error, const wchar_t* fallback) {
    std::wstring text;
    std::uint32_t code = 0;
    std::string firstState;
    if (handle != SQL_NULL_HANDLE) {
        const bool wide = !IsNarrow(handle);
        for (SQLSMALLINT record = 1;; ++record) {
            SQLWCHAR state[6] = {};
            SQLCHAR narrowState[6] = {};
            SQLINTEGER native = 0;
            // Wide units, or the driver's bytes for a driver without wide entry points. The
            // length the driver manager returns is in the driver's units either way.
            std::vector<SQLWCHAR> message(1024);
            SQLSMALLINT length = 0;
            auto read = [&]() {
                const SQLSMALLINT room =
                    static_cast<SQLSMALLINT>(wide ? message.size() : message.size() * sizeof(SQLWCHAR));
                return wide ? Traced("SQLGetDiagRecW", SQLGetDiagRecW(handleType, handle, record, state, &native,
                                                                      message.data(), room, &length))
                            : Traced("SQLGetDiagRec",
                                     SQLGetDiagRec(handleType, handle, record, narrowState, &native,
                                                   reinterpret_cast<SQLCHAR*>(message.data()), room, &length));
            };
            SQLRETURN rc = read();
            const std::size_t capacity = wide ? message.size() - 1 : message.size() * sizeof(SQLWCHAR) - 1;
            if (rc == SQL_SUCCESS_WITH_INFO && static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) >= capacity &&
                length < 32000) {
                message.resize(static_cast<size_t>(length) + 1);
                rc = read();
            }
            if (!Succeeded(rc)) break;
            if (!wide)
                for (int i = 0; i < 5; ++i) state[i] = narrowState[i];
            const std::size_t room = wide ? message.size() - 1 : message.size() * sizeof(SQLWCHAR) - 1;
            std::wstring one = TrimErrorTags(Trim(
                FromDriver(message.data(), static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)), room, wide)));
            if (record == 1) {
                for (int i = 0; i < 5 && state[i]; ++i) firstState.push_back(static_cast<char>(state[i]));
            }
            if (code == 0 && native != 0) code = static_cast<std::uint32_t>(native);
            if (one.empty()) continue;
            // Drivers sometimes repeat one message; keep it once.
            if (text == one || text.find(L"\r\n" + one) != std::wstring::npos || text.rfind(one + L"\r\n", 0) == 0)
                continue;
            if (!text.empty()) text += L"\r\n";
            text += one;
        }
    }
    if (text.empty()) text = fallback;
    if (code == 0) code = ZE_FAIL;
    error.Set(std::move(text), code, std::move(firstState));
}

bool Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, OdbcError& error) {
    if (rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO || rc == SQL_NO_DATA) return true;
    if (rc == SQL_INVALID_HANDLE) {
        error.Set(L"Invalid ODBC handle.", ZE_POINTER);
        return false;
    }
    if (rc == SQL_NEED_DATA) {
        error.Set(L"The statement needs parameter data, which is not supported.", ZE_FAIL);
        return false;
    }
    ReadDiagnostics(handleType, handle, error);
    return false;
}

EnvHandle::~EnvHandle() noexcept {
    if (handle_ != SQL_NULL_HENV) Traced("SQLFreeHandle", SQLFreeHandle(SQL_HANDLE_ENV, handle_));
}

bool EnvHandle::Alloc(OdbcError& error) {
    if (handle_ != SQL_NULL_HENV) return true;
    if (!Succeeded(Traced("SQLAllocHandle", SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle_)))) {
        handle_ = SQL_NULL_HENV;
        error.Set(L"The ODBC environment could not be allocated.", ZE_OUTOFMEMORY);
        return false;
    }
    return Check(Traced("SQLSetEnvAttr",
                        SQLSetEnvAttr(handle_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0)),
                 SQL_HANDLE_ENV, handle_, error);
}

DbcHandle::~DbcHandle() noexcept { Reset(); }

bool DbcHandle::Alloc(SQLHENV env, OdbcError& error) {
    Reset();
    return Check(Traced("SQLAllocHandle", SQLAllocHandle(SQL_HANDLE_DBC, env, &handle_)), SQL_HANDLE_ENV, env, error);
}

void DbcHandle::SetWideCalls(bool wide) {
    if (handle_ != SQL_NULL_HDBC) MarkNarrow(handle_, !wide);
}

void DbcHandle::Reset() noexcept {
    if (handle_ == SQL_NULL_HDBC) return;
    if (connected_) {
        if (!Succeeded(Traced("SQLDisconnect", SQLDisconnect(handle_)))) {
            // An open transaction blocks the disconnect: roll it back and try again.
            Traced("SQLEndTran", SQLEndTran(SQL_HANDLE_DBC, handle_, SQL_ROLLBACK));
            Traced("SQLDisconnect", SQLDisconnect(handle_));
        }
        connected_ = false;
    }
    MarkNarrow(handle_, false);
    Traced("SQLFreeHandle", SQLFreeHandle(SQL_HANDLE_DBC, handle_));
    handle_ = SQL_NULL_HDBC;
}

StmtHandle::~StmtHandle() noexcept { Reset(); }

bool StmtHandle::Alloc(SQLHDBC dbc, OdbcError& error) {
    Reset();
    if (!Check(Traced("SQLAllocHandle", SQLAllocHandle(SQL_HANDLE_STMT, dbc, &handle_)), SQL_HANDLE_DBC, dbc, error)) {
        handle_ = SQL_NULL_HSTMT;
        return false;
    }
    if (IsNarrow(dbc)) MarkNarrow(handle_, true);
    return true;
}

void StmtHandle::Reset() noexcept {
    if (handle_ == SQL_NULL_HSTMT) return;
    MarkNarrow(handle_, false);
    Traced("SQLFreeHandle", SQLFreeHandle(SQL_HANDLE_STMT, handle_));
    handle_ = SQL_NULL_HSTMT;
}

}  // namespace zentra
