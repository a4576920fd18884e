// ODBC driver and data-source enumeration over the driver manager (unixODBC).
#include "zentra/odbcenum.h"

#include <sql.h>
#include <sqlext.h>

#include <algorithm>
#include <string>

#include "../dataaccess/odbc_handle.h"
#include "../platform/fallback.h"
#include "zentra/codepage.h"

namespace zentra {

namespace {

// Each name and description is read into a buffer of this many characters; longer texts are cut
// by the driver manager.
constexpr SQLSMALLINT kTextChars = 255;

// unixODBC's SQLDriversW garbles a driver description that does not fit the caller's buffer (it
// copies the 8-bit text into the wide buffer as it is). Its configuration reader keeps names to
// 1000 characters, so the description is fetched whole into a buffer of this size and then cut to
// what a kTextChars buffer holds.
constexpr SQLSMALLINT kDriverNameChars = 1024;

// The text of a byte buffer up to its first NUL, and at most `maxChars` UTF-16 units (a
// surrogate pair is not split). The names come from the configuration files as they are: UTF-8,
// or the locale's character set when they are not valid UTF-8. (The wide calls would widen the
// bytes one by one.)
CString BufferText(const char* buffer, size_t capacity, size_t maxChars = kTextChars - 1) {
    const char* end = std::find(buffer, buffer + capacity, '\0');
    const std::string bytes(buffer, end);
    std::wstring wide = Utf8ToWide(bytes);
    if (WideToUtf8(wide) != bytes) wide = MultiByteToWide(bytes, CP_ACP);
    std::u16string utf16 = WideToUtf16(wide);
    if (utf16.size() > maxChars) {
        utf16.resize(maxChars);
        if (!utf16.empty() && utf16.back() >= 0xD800 && utf16.back() <= 0xDBFF) utf16.pop_back();
    }
    return Utf16ToWide(utf16);
}

}  // namespace

CDataSourceEnum::CDataSourceEnum(DSNTYPE type) : m_nType(type) {}

CDataSourceEnum::~CDataSourceEnum() = default;

void CDataSourceEnum::FreeEnv::operator()(void* env) const noexcept {
    Traced("SQLFreeHandle", SQLFreeHandle(SQL_HANDLE_ENV, static_cast<SQLHENV>(env)));
}

bool CDataSourceEnum::AllocEnvironment() noexcept {
    m_env.reset();
    m_listing = Listing::None;
    // The ODBC 2 allocation: enumeration needs no ODBC 3 behaviour, and unixODBC records the
    // environment as an ODBC 2 one, which SQLDrivers and SQLDataSources accept.
    SQLHENV env = SQL_NULL_HENV;
    if (!Succeeded(Traced("SQLAllocEnv", SQLAllocEnv(&env))) || env == SQL_NULL_HENV) return false;
    m_env.reset(env);
    return true;
}

int CDataSourceEnum::FetchDriver(unsigned short direction, CString& name, CString& attributes) {
    if (!m_env || m_listing != Listing::Drivers) return 0;
    return OrFallback([&]() -> int {
        SQLCHAR desc[kDriverNameChars * 4 + 1] = {};
        SQLCHAR attr[kTextChars * 4 + 1] = {};
        SQLSMALLINT descLen = 0;
        SQLSMALLINT attrLen = 0;
        SQLRETURN rc = Traced("SQLDrivers", SQLDrivers(static_cast<SQLHENV>(m_env.get()), direction, desc,
                                                       sizeof desc - 1, &descLen, attr, sizeof attr - 1, &attrLen));
        if (!Succeeded(rc)) {
            m_listing = Listing::None;
            return 0;
        }
        // The attributes arrive as keyword=value pairs each ended by a NUL: keep the first pair.
        CString newName = BufferText(reinterpret_cast<const char*>(desc), sizeof desc);
        CString newAttributes = BufferText(reinterpret_cast<const char*>(attr), sizeof attr);
        name.swap(newName);
        attributes.swap(newAttributes);
        return 1;
    });
}

int CDataSourceEnum::FetchDataSource(unsigned short direction, CString& name, CString& description) {
    if (!m_env || m_listing != Listing::DataSources) return 0;
    return OrFallback([&]() -> int {
        SQLCHAR dsn[kTextChars * 4 + 1] = {};
        SQLCHAR desc[kTextChars * 4 + 1] = {};
        SQLSMALLINT dsnLen = 0;
        SQLSMALLINT descLen = 0;
        SQLRETURN rc =
            Traced("SQLDataSources", SQLDataSources(static_cast<SQLHENV>(m_env.get()), direction, dsn, sizeof dsn - 1,
                                                    &dsnLen, desc, sizeof desc - 1, &descLen));
        if (!Succeeded(rc)) {
            m_listing = Listing::None;
            return 0;
        }
        CString newName = BufferText(reinterpret_cast<const char*>(dsn), sizeof dsn);
        CString newDescription = BufferText(reinterpret_cast<const char*>(desc), sizeof desc);
        name.swap(newName);
        description.swap(newDescription);
        return 1;
    });
}

int CDataSourceEnum::GetFirstDriver(CString& name, CString& attributes) {
    if (!AllocEnvironment()) return 0;
    m_listing = Listing::Drivers;
    return FetchDriver(SQL_FETCH_FIRST, name, attributes);
}

int CDataSourceEnum::GetNextDriver(CString& name, CString& attributes) {
    return FetchDriver(SQL_FETCH_NEXT, name, attributes);
}

int CDataSourceEnum::GetFirstDataSource(CString& name, CString& description) {
    if (!AllocEnvironment()) return 0;
    m_listing = Listing::DataSources;
    SQLUSMALLINT direction = SQL_FETCH_FIRST_SYSTEM;
    if (m_nType == DSN_ALL) {
        direction = SQL_FETCH_FIRST;
    } else if (m_nType == DSN_USER) {
        direction = SQL_FETCH_FIRST_USER;
    }
    return FetchDataSource(direction, name, description);
}

int CDataSourceEnum::GetNextDataSource(CString& name, CString& description) {
    return FetchDataSource(SQL_FETCH_NEXT, name, description);
}

}  // namespace zentra
