// ODBC handle owners, the checked-call path that collects diagnostics, and UTF-16 helpers.
// Private to the library: nothing here reaches the public headers.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace zentra {

using SqlWString = std::basic_string<SQLWCHAR>;

// Converts between the library's wide text (UTF-32) and ODBC's SQLWCHAR (UTF-16 on unixODBC).
SqlWString ToSqlW(std::wstring_view text);
std::wstring FromSqlW(const SQLWCHAR* text, std::size_t length);

// The last failure of an operation: cleaned message and code.
struct OdbcError {
    std::wstring text;
    std::uint32_t code = 0;
    void Set(std::wstring message, std::uint32_t errorCode) {
        text = std::move(message);
        code = errorCode;
    }
};

// Reads every diagnostic record of `handle` into `error` (messages trimmed of their bracketed
// tags, joined by "\r\n"; code: first nonzero native error, else E_FAIL). `fallback` is used when
// the driver gives no record at all. Also returns the SQLSTATE of the first record.
std::string ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, OdbcError& error,
                            const wchar_t* fallback = L"The ODBC call failed.");

// The one checked path for ODBC calls: true for SQL_SUCCESS, SQL_SUCCESS_WITH_INFO and
// SQL_NO_DATA (callers that care test the code themselves); otherwise the diagnostics of
// `handle` are recorded in `error` and false is returned.
bool Check(SQLRETURN rc, SQLSMALLINT handleType, SQLHANDLE handle, OdbcError& error);

inline bool Succeeded(SQLRETURN rc) { return rc == SQL_SUCCESS || rc == SQL_SUCCESS_WITH_INFO; }

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
    // Rolls back an open transaction, disconnects and frees; never fails.
    void Reset() noexcept;
    SQLHDBC get() const { return handle_; }

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
