// SQL text as the shell reads it: the scanner of quotes and comments, and the splitting of a text
// into statements.
#include "sqltext.h"

#include <algorithm>

#include "helper.h"
#include "zentra/words.h"

namespace orva {

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

}  // namespace orva
