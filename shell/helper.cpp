#include "helper.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>

#include <algorithm>
#include <cwctype>

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

struct CommandWord {
    const wchar_t* word;
    CommandKind kind;
};

constexpr CommandWord kCommandWords[] = {
    {L"use", CMD_USE},         {L"quit", CMD_EXIT},    {L"exit", CMD_EXIT},
    {L"help", CMD_HELP},       {L"?", CMD_HELP},       {L"redo", CMD_REDO},
    {L"hi", CMD_REDO},         {L"set", CMD_SET},      {L"start", CMD_START},
    {L"@", CMD_START},         {L"spool", CMD_SPOOL},  {L"declare", CMD_DECLARE},
    {L"decl", CMD_DECLARE},    {L"host", CMD_HOST},    {L"!", CMD_HOST},
    {L"show", CMD_SHOW},       {L"desc", CMD_DESC},    {L"server", CMD_SERVER},
    {L".", CMD_SERVER},        {L"edit", CMD_EDIT},    {L"ed", CMD_EDIT},
    {L"/", CMD_RUN},           {L"go", CMD_RUN},       {L"pause", CMD_PAUSE},
    {L"pau", CMD_PAUSE},
};

}  // namespace

CommandKind CCommandHelper::ClassifyCommand(const CString& text) const {
    zentra::CWordPaster words(text.c_str(), nullptr, nullptr);
    if (words.GetWordCount() == 0) return CMD_NONE;
    CString first = words.GetWord(0);
    for (const auto& entry : kCommandWords)
        if (zentra::EqualsNoCase(first, entry.word)) return entry.kind;
    return CMD_NONE;
}

size_t CSqlScanner::Step(const CString& text, size_t i, bool& plain) {
    plain = false;
    const wchar_t c = text[i];
    const wchar_t next = i + 1 < text.size() ? text[i + 1] : L'\0';
    switch (m_mode) {
        case kLineComment:
            if (c == L'\n') m_mode = kPlain;
            return i + 1;
        case kBlockComment:
            if (c == L'*' && next == L'/') {
                m_mode = kPlain;
                return i + 2;
            }
            return i + 1;
        default: break;
    }
    if (c == L'\\') {
        m_onlyComments = false;
        return i + 2;
    }
    if (m_mode == kPlain) {
        if (c == L'-' && next == L'-') {
            m_mode = kLineComment;
            return i + 2;
        }
        if (c == L'/' && next == L'*') {
            m_mode = kBlockComment;
            // "/*!" (MySQL's versioned code) and "/*+" (optimizer hints) are statement text.
            const wchar_t third = i + 2 < text.size() ? text[i + 2] : L'\0';
            m_codeComment = third == L'!' || third == L'+';
            if (m_codeComment) m_onlyComments = false;
            return i + 2;
        }
    }
    if (!zentra::IsBlank(c) && c != L'\r' && c != L'\n') m_onlyComments = false;
    if (c == L'\'') {
        m_mode = m_mode == kApostrophe ? kPlain : kApostrophe;
    } else if (c == L'"') {
        m_mode = m_mode == kDouble ? kPlain : kDouble;
    } else {
        plain = m_mode == kPlain;
    }
    return i + 1;
}

size_t CSqlScanner::Find(const CString& text, size_t from, wchar_t ch, size_t end) {
    end = std::min(end, text.size());
    bool plain = false;
    for (size_t i = from; i < end;) {
        const size_t next = Step(text, i, plain);
        if (plain && ch != L'\0' && text[i] == ch) return i;
        i = next;
    }
    return CString::npos;
}

std::vector<CString> SplitBatch(const CString& text) {
    std::vector<CString> statements;
    CSqlScanner scanner;
    size_t start = 0;
    // Words of plain text of the current statement: its first, and the depth of BEGIN/CASE
    // blocks in a CREATE statement (a trigger or routine body), where a ';' ends no statement.
    CString word, first;
    int depth = 0;
    bool pendingEnd = false;
    auto endWord = [&] {
        if (word.empty()) return;
        const CString upper = zentra::ToUpper(word);
        word.clear();
        if (first.empty()) first = upper;
        if (first != L"CREATE") return;
        if (pendingEnd) {
            pendingEnd = false;
            // END IF, END LOOP, END WHILE and END REPEAT close blocks that opened no depth.
            if (upper == L"IF" || upper == L"LOOP" || upper == L"WHILE" || upper == L"REPEAT") return;
            if (depth > 0) --depth;
        }
        if (upper == L"BEGIN" || upper == L"CASE") ++depth;
        else if (upper == L"END") pendingEnd = true;
    };
    auto add = [&](size_t end) {
        CString statement = WithoutEdgeComments(zentra::Trim(text.substr(start, end - start)));
        if (!statement.empty()) statements.push_back(std::move(statement));
    };
    bool plain = false;
    for (size_t i = 0; i < text.size();) {
        const size_t next = scanner.Step(text, i, plain);
        const wchar_t c = text[i];
        if (plain && (std::iswalnum(c) || c == L'_')) {
            word += c;
        } else {
            endWord();
            if (plain && c == L';') {
                if (pendingEnd) {
                    pendingEnd = false;
                    if (depth > 0) --depth;
                }
                if (depth == 0) {
                    add(i);
                    start = i + 1;
                    first.clear();
                }
            }
        }
        i = next;
    }
    add(text.size());
    return statements;
}

CString WithoutEdgeComments(const CString& text) {
    CSqlScanner scanner;
    size_t codeStart = CString::npos, codeEnd = 0;
    bool plain = false;
    const auto isComment = [&](CSqlScanner::Mode m) {
        return m == CSqlScanner::kLineComment || (m == CSqlScanner::kBlockComment && !scanner.InCodeComment());
    };
    for (size_t i = 0; i < text.size();) {
        const bool before = isComment(scanner.GetMode());
        const size_t next = scanner.Step(text, i, plain);
        const bool after = isComment(scanner.GetMode());
        if (!before && !after && !zentra::IsBlank(text[i]) && text[i] != L'\r' && text[i] != L'\n') {
            if (codeStart == CString::npos) codeStart = i;
            codeEnd = std::min(next, text.size());
        }
        i = next;
    }
    return codeStart == CString::npos ? CString() : text.substr(codeStart, codeEnd - codeStart);
}

bool IsOnlyComments(const CString& text) {
    CSqlScanner scanner;
    scanner.Find(text, 0, L'\0');
    return scanner.OnlyComments();
}

size_t CStatementSplitter::Position() {
    while (m_pos < m_text.size() && (zentra::IsBlank(m_text[m_pos]) || m_text[m_pos] == L'\r' || m_text[m_pos] == L'\n'))
        ++m_pos;
    return m_pos;
}

bool CStatementSplitter::Next(CString& statement) {
    const size_t start = Position();
    if (start >= m_text.size()) return false;
    // Each statement starts in plain text, so one scan serves every later statement that starts
    // before the '/' it found.
    if (m_slashFrom == CString::npos || m_slash < start) {
        CSqlScanner scanner;
        m_slash = scanner.Find(m_text, start, L'/');
        m_slashFrom = start;
    }
    size_t at = CString::npos;
    if (m_slash != CString::npos &&
        (m_slash == start || m_text[m_slash - 1] == L'\r' || m_text[m_slash - 1] == L'\n'))
        at = m_slash;
    if (at == CString::npos) {
        CSqlScanner scanner;
        at = scanner.Find(m_text, start, L';');
    }
    if (at == CString::npos) {
        statement = m_text.substr(start);
        m_pos = m_text.size();
    } else {
        statement = m_text.substr(start, at - start);
        m_pos = at + 1;
    }
    return true;
}

int CCommandHelper::FindOutsideQuotes(const CString& text, wchar_t ch, int start) const {
    CSqlScanner scanner;
    const size_t at = scanner.Find(text, start < 0 ? 0 : static_cast<size_t>(start), ch);
    return at == CString::npos ? -1 : static_cast<int>(at);
}

CommandKind CCommandHelper::ClassifyStart(const CString& text, size_t from) const {
    // No command word is longer than 7 characters; a longer first word is no command.
    constexpr size_t kLook = 64;
    return ClassifyCommand(text.substr(std::min(from, text.size()), kLook));
}

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
        for (int ok = drivers.GetFirstDriver(name, attributes); ok;
             ok = drivers.GetNextDriver(name, attributes))
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
