// The connection string: the installed driver of a catalogue type and the catalogue's template
// filled with the login data.
#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>

#include "helper.h"
#include "zentra/catalogue.h"
#include "zentra/codepage.h"
#include "zentra/format.h"
#include "zentra/odbcenum.h"
#include "zentra/words.h"

namespace orva {

namespace {

const zentra::CONNECT_STRING_CONFIG* RowOfType(int type) {
    for (const auto& row : zentra::g_ConnConfs)
        if (row.nType == type) return &row;
    return nullptr;
}

bool NeedsBraces(const CString& value) {
    if (value.empty()) return false;
    if (zentra::IsBlank(value.front()) || zentra::IsBlank(value.back())) return true;
    return value.find_first_of(L";{}") != CString::npos;
}

// ODBC's quoting of an attribute value: enclosed in braces, a closing brace doubled.
CString BraceQuote(const CString& value) {
    CString out = L"{";
    for (wchar_t ch : value) {
        out.push_back(ch);
        if (ch == L'}') out.push_back(L'}');
    }
    out.push_back(L'}');
    return out;
}

}  // namespace

int CCommandHelper::FindDriver(CString& driver, CString& error, const CONNECT_INFO& info) {
    driver.clear();
    const zentra::CONNECT_STRING_CONFIG* row = RowOfType(info.type);
    if (!row) {
        error = L"Server type has not existed!";
        return 0;
    }
    if (row->strDriver.empty()) return 1;

    std::vector<CString> installed;
    {
        zentra::CDataSourceEnum drivers(zentra::DSN_ALL);
        CString name, attributes;
        for (int ok = drivers.GetFirstDriver(name, attributes); ok; ok = drivers.GetNextDriver(name, attributes))
            installed.push_back(name);
    }
    std::vector<CString> wanted{row->strDriver};
    for (const auto& alternative : zentra::LinuxDriverFallbacks(info.type)) wanted.push_back(alternative);
    for (const auto& want : wanted) {
        CString upper = zentra::ToUpper(want);
        for (const auto& name : installed) {
            if (zentra::ToUpper(name).find(upper) != CString::npos) {
                driver = name;
                return 1;
            }
        }
    }
    error = L"ODBC Driver is not found!";
    if (!row->strDownloadPage.empty()) error += L"\r\nPlease visit: " + row->strDownloadPage;
    return 0;
}

CString CCommandHelper::ResolveHost(const wchar_t* host) {
    if (!host || !*host) return L"";
    std::string name = zentra::WideToMultiByte(host, zentra::CP_ACP);
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name.c_str(), nullptr, &hints, &found) != 0 || !found) return L"";
    CString result;
    for (addrinfo* a = found; a; a = a->ai_next) {
        if (a->ai_family != AF_INET) continue;
        char text[INET_ADDRSTRLEN] = {};
        const auto* in = reinterpret_cast<const sockaddr_in*>(a->ai_addr);
        if (inet_ntop(AF_INET, &in->sin_addr, text, sizeof text)) {
            result = zentra::AsciiToWide(text);
            break;
        }
    }
    freeaddrinfo(found);
    return result;
}

CString CCommandHelper::BuildConnectionString(CONNECT_INFO& info) {
    const zentra::CONNECT_STRING_CONFIG* row = RowOfType(info.type);
    CString pattern = row ? row->strConnectString : CString();
    if (info.type == zentra::kDbmsNone) return pattern;
    if (zentra::DialectOfType(info.type).namesDataSource) {
        pattern = zentra::szDsn;
        info.driver = info.database.find(L":\\") != CString::npos ? L"FILEDSN" : L"DSN";
    }
    info.database = zentra::Trim(info.database);
    info.host = zentra::Trim(info.host);
    info.user = zentra::Trim(info.user);
    info.driver = zentra::Trim(info.driver);
    // SQLite without a file: a database in memory, as the sqlite3 client opens (the driver would
    // otherwise create a file named after the whole connection string).
    if (info.type == zentra::kDbmsSqlite3 && info.database.empty()) info.database = L":memory:";

    struct Placeholder {
        const wchar_t* name;
        CString value;
        bool quotable;  // user input that may need ODBC quoting
    };
    const Placeholder placeholders[] = {
        {L"%drv", info.driver, false},
        {L"%host", info.host, true},
        {L"%addr", ResolveHost(info.host.c_str()), false},
        {L"%port", zentra::Format(L"%d", info.port), false},
        {L"%user", info.user, true},
        {L"%pwd", info.password, true},
        {L"%db", info.database, true},
    };

    CString out;
    out.reserve(pattern.size() + 64);
    size_t i = 0;
    while (i < pattern.size()) {
        const Placeholder* hit = nullptr;
        if (pattern[i] == L'%') {
            for (const auto& p : placeholders) {
                if (pattern.compare(i, std::wcslen(p.name), p.name) == 0) {
                    hit = &p;
                    break;
                }
            }
        }
        if (!hit) {
            out.push_back(pattern[i++]);
            continue;
        }
        size_t end = i + std::wcslen(hit->name);
        // Quote only a value that is a keyword's whole value: "=%pwd;" or "=%pwd" at the end.
        bool wholeValue = i > 0 && pattern[i - 1] == L'=' && (end == pattern.size() || pattern[end] == L';');
        if (hit->quotable && wholeValue && NeedsBraces(hit->value)) out += BraceQuote(hit->value);
        else out += hit->value;
        i = end;
    }
    return out;
}

}  // namespace orva
