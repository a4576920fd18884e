#include "odbc_handle.h"

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

CString TrimErrorTags(const CString& text) {
    CString result = text;
    while (result.size() >= 2 && result[0] == L'[') {
        size_t close = result.find(L']');
        if (close == CString::npos) break;
        result = Trim(std::wstring_view(result).substr(close + 1));
    }
    return result;
}

std::string ReadDiagnostics(SQLSMALLINT handleType, SQLHANDLE handle, OdbcError& error, const wchar_t* fallback) {
    std::wstring text;
    std::uint32_t code = 0;
    std::string firstState;
    if (handle != SQL_NULL_HANDLE) {
        for (SQLSMALLINT record = 1;; ++record) {
            SQLWCHAR state[6] = {};
            SQLINTEGER native = 0;
            std::vector<SQLWCHAR> message(1024);
            SQLSMALLINT length = 0;
            SQLRETURN rc = SQLGetDiagRecW(handleType, handle, record, state, &native, message.data(),
                                          static_cast<SQLSMALLINT>(message.size()), &length);
            if (rc == SQL_SUCCESS_WITH_INFO && length >= static_cast<SQLSMALLINT>(message.size())) {
                message.resize(static_cast<size_t>(length) + 1);
                rc = SQLGetDiagRecW(handleType, handle, record, state, &native, message.data(),
                                    static_cast<SQLSMALLINT>(message.size()), &length);
            }
            if (!Succeeded(rc)) break;
            size_t used = std::min<size_t>(static_cast<size_t>(std::max<SQLSMALLINT>(length, 0)), message.size() - 1);
            std::wstring one = TrimErrorTags(Trim(FromSqlW(message.data(), used)));
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
    error.Set(std::move(text), code);
    return firstState;
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
    if (handle_ != SQL_NULL_HENV) SQLFreeHandle(SQL_HANDLE_ENV, handle_);
}

bool EnvHandle::Alloc(OdbcError& error) {
    if (handle_ != SQL_NULL_HENV) return true;
    if (!Succeeded(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &handle_))) {
        handle_ = SQL_NULL_HENV;
        error.Set(L"The ODBC environment could not be allocated.", ZE_OUTOFMEMORY);
        return false;
    }
    return Check(SQLSetEnvAttr(handle_, SQL_ATTR_ODBC_VERSION, reinterpret_cast<SQLPOINTER>(SQL_OV_ODBC3), 0),
                 SQL_HANDLE_ENV, handle_, error);
}

DbcHandle::~DbcHandle() noexcept { Reset(); }

bool DbcHandle::Alloc(SQLHENV env, OdbcError& error) {
    Reset();
    return Check(SQLAllocHandle(SQL_HANDLE_DBC, env, &handle_), SQL_HANDLE_ENV, env, error);
}

void DbcHandle::Reset() noexcept {
    if (handle_ == SQL_NULL_HDBC) return;
    if (connected_) {
        if (!Succeeded(SQLDisconnect(handle_))) {
            // An open transaction blocks the disconnect: roll it back and try again.
            SQLEndTran(SQL_HANDLE_DBC, handle_, SQL_ROLLBACK);
            SQLDisconnect(handle_);
        }
        connected_ = false;
    }
    SQLFreeHandle(SQL_HANDLE_DBC, handle_);
    handle_ = SQL_NULL_HDBC;
}

StmtHandle::~StmtHandle() noexcept { Reset(); }

bool StmtHandle::Alloc(SQLHDBC dbc, OdbcError& error) {
    Reset();
    if (!Check(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &handle_), SQL_HANDLE_DBC, dbc, error)) {
        handle_ = SQL_NULL_HSTMT;
        return false;
    }
    return true;
}

void StmtHandle::Reset() noexcept {
    if (handle_ == SQL_NULL_HSTMT) return;
    SQLFreeHandle(SQL_HANDLE_STMT, handle_);
    handle_ = SQL_NULL_HSTMT;
}

}  // namespace zentra
