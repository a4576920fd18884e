// ODBC handle owners, the checked-call path that collects diagnostics, and UTF-16 helpers.
// Private to the library: nothing here reaches the public headers.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

namespace zentra {

using SqlWString = std::basic_string<SQLWCHAR>;

// Converts between the library's wide text (UTF-32) and ODBC's SQLWCHAR (UTF-16 on unixODBC).
SqlWString ToSqlW(std::wstring_view text);
std::wstring FromSqlW(const SQLWCHAR* text, std::size_t length);

// Every ODBC call of the library goes through here and gives back its return code. With the
// environment variable ORVANTA_ODBC_TRACE set (a file to append to, or 1 for standard error), each
// call's name and return code are written there, one line each.
SQLRETURN Traced(const char* call, SQLRETURN rc) noexcept;

// The last failure of an operation: cleaned message, code, and the SQLSTATE of the driver's
// first diagnostic record ("" when the failure is the library's own).
struct OdbcError {
    std::wstring text;
    std::uint32_t code = 0;
    std::string state;
    void Set(std::wstring message, std::uint32_t errorCode, std::string sqlState = {}) {
        text = std::move(message);
        code = errorCode;
        state = std::move(sqlState);
    }
};

// The one reader of diagnostics: every record of `handle` into `error` (messages trimmed of their
// bracketed tags, joined by "\r\n"; code: first nonzero native error, else E_FAIL; state: the
// SQLSTATE of the first record). `fallback` is used when the driver gives no record at all.
void ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, OdbcError& error,
                     const wchar_t* fallback = L"The ODBC call failed.");

// The one checked path for ODBC calls: true for SQL_SUCCESS, SQL_SUCCESS_WITH_INFO and
// SQL_NO_DATA (callers that care test the code themselves); otherwise the diagnostics of
// `handle` are recorded in `error` and false is returned.
bool Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, OdbcError& error);

inline bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

// Text on its way to a driver, in the form its entry points take: UTF-16 for a driver with wide
// entry points, UTF-8 bytes for the others. The driver manager would narrow UTF-16 for those one
// unit at a time, which cuts characters outside the Basic Multilingual Plane and, in the C
// locale, turns every other non-ASCII character into one Latin-1 byte.
class DriverText {
public:
    DriverText(std::wstring_view text, bool wide);
    // No text at all (a null argument of a catalog function) when `text` is empty.
    DriverText(const std::optional<std::wstring>& text, bool wide);
    SQLWCHAR* W() { return present_ ? wide_.data() : nullptr; }
    SQLCHAR* A() { return present_ ? reinterpret_cast<SQLCHAR*>(narrow_.data()) : nullptr; }
    // Length in the driver's units (UTF-16 units or bytes); 0 for no text.
    SQLINTEGER Length() const;
    SQLSMALLINT ShortLength() const { return static_cast<SQLSMALLINT>(Length()); }

private:
    bool present_ = true;
    bool wide_form_ = true;
    SqlWString wide_;
    std::string narrow_;
};

// Decodes text a driver gave as bytes: UTF-8 when the bytes are valid UTF-8, else the locale's
// character set.
std::wstring DecodeNarrow(std::string_view bytes);

// Text a driver gave back: `length` UTF-16 units of `buffer` (wide) or bytes (narrow, decoded as
// DecodeNarrow does), cut at the first NUL and at `capacity` units.
std::wstring FromDriver(const void* buffer, std::size_t length, std::size_t capacity, bool wide);

// SQLExecDirect with `sql` in the driver's form.
SQLRETURN ExecDirect(SQLHSTMT stmt, std::wstring_view sql, bool wide);
// A text answer of SQLGetInfo in the driver's form; false with the diagnostics in `error`.
bool GetInfoText(SQLHDBC dbc, SQLUSMALLINT info, bool wide, std::wstring& text, OdbcError& error);
// The same, empty when the driver gives none.
std::wstring InfoText(SQLHDBC dbc, SQLUSMALLINT info, bool wide);
// The current catalog of `dbc` (SQLGetConnectAttr); false with the diagnostics in `error`.
bool CurrentCatalog(SQLHDBC dbc, bool wide, std::wstring& catalog, OdbcError& error);

// ---- Handle owners: one per handle kind, freed in a noexcept destructor. ----

class EnvHandle {
public:
    EnvHandle() = default;
    ~EnvHandle() noexcept;
    EnvHandle(const EnvHandle&) = delete;
    EnvHandle& operator=(const EnvHandle&) = delete;
    // Allocates the environment and selects ODBC 3 behaviour.
    bool Alloc(OdbcError& error);
    SQLHENV get() const { return handle_; }

private:
    SQLHENV handle_ = SQL_NULL_HENV;
};

class DbcHandle {
public:
    DbcHandle() = default;
    ~DbcHandle() noexcept;
    DbcHandle(const DbcHandle&) = delete;
    DbcHandle& operator=(const DbcHandle&) = delete;
    bool Alloc(SQLHENV env, OdbcError& error);
    // Marks the handle connected, so that it is disconnected before it is freed.
    void SetConnected(bool connected) { connected_ = connected; }
    bool connected() const { return connected_; }
    // Whether the driver takes wide calls; its statement handles and diagnostics follow it.
    void SetWideCalls(bool wide);
    // Rolls back an open transaction, disconnects and frees; never fails.
    void Reset() noexcept;
    SQLHDBC get() const { return handle_; }
    // Exchanges the handles (and their connected marks) of two owners.
    void Swap(DbcHandle& other) noexcept {
        std::swap(handle_, other.handle_);
        std::swap(connected_, other.connected_);
    }

private:
    SQLHDBC handle_ = SQL_NULL_HDBC;
    bool connected_ = false;
};

class StmtHandle {
public:
    StmtHandle() = default;
    ~StmtHandle() noexcept;
    StmtHandle(const StmtHandle&) = delete;
    StmtHandle& operator=(const StmtHandle&) = delete;
    bool Alloc(SQLHDBC dbc, OdbcError& error);
    void Reset() noexcept;
    SQLHSTMT get() const { return handle_; }

private:
    SQLHSTMT handle_ = SQL_NULL_HSTMT;
};

}  // namespace zentra
