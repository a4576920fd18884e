// SQL text as the shell reads it: the scanner of quotes and comments, and the splitting of a text
// into statements.
#include "sqltext.h"

#include <algorithm>
#include <cwctype>

#include "helper.h"
#include "zentra/words.h"

namespace orva {

namespace {

zentra::SqlLexis g_sqlLexis;

bool IsDollarTagChar(wchar_t c, bool first) {
    if (c == L'_' || (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || c >= 0x80) return true;
    return !first && c >= L'0' && c <= L'9';
}

}  // namespace

bool IsNameChar(wchar_t c) { return c == L'_' || c == L'$' || std::iswalnum(c) || c >= 0x80; }

const zentra::SqlLexis& CurrentSqlLexis() { return g_sqlLexis; }
void SetSqlLexis(const zentra::SqlLexis& lexis) { g_sqlLexis = lexis; }

zentra::SqlLexis SqlLexisOf(zentra::DbmsType type, const CString& dbmsName) {
    return (type == zentra::kDbmsOdbcDsn ? zentra::DialectOfDbms(dbmsName) : zentra::DialectOfType(type)).lexis;
}

size_t CSqlScanner::DollarTagLength(const CString& text, size_t i) {
    // Not inside a name: "a$b$" is a name, "$1" a parameter.
    if (i > 0 && IsNameChar(text[i - 1])) return 0;
    size_t k = i + 1;
    while (k < text.size() && IsDollarTagChar(text[k], k == i + 1)) ++k;
    return k < text.size() && text[k] == L'$' ? k + 1 - i : 0;
}

size_t CSqlScanner::Step(const CString& text, size_t i, bool& plain) {
    plain = false;
    const wchar_t c = text[i];
    const wchar_t next = i + 1 < text.size() ? text[i + 1] : L'\0';
    switch (m_mode) {
    case kPlain: return StepPlain(text, i, plain);
    case kLineComment:
        if (c == L'\n') m_mode = kPlain;
        return i + 1;
    case kBlockComment:
        if (c == L'*' && next == L'/') {
            if (--m_commentDepth <= 0) m_mode = kPlain;
            return i + 2;
        }
        if (c == L'/' && next == L'*' && m_lexis.nestedComments) {
            ++m_commentDepth;
            return i + 2;
        }
        return i + 1;
    case kDollar:
        // Nothing is special in a dollar quote but its own closing delimiter.
        if (c == L'$' && text.compare(i, m_dollarTag.size(), m_dollarTag) == 0) {
            m_mode = kPlain;
            return i + m_dollarTag.size();
        }
        return i + 1;
    case kBacktick:
        if (c == L'`') m_mode = kPlain;
        return i + 1;
    case kBracket:
        if (c == L']' && next == L']') return i + 2;  // "]]" stands for one
        if (c == L']') m_mode = kPlain;
        return i + 1;
    case kApostrophe:
    case kDouble:
        if (c == L'\\' && m_escapes) return i + 2;
        if (c == (m_mode == kApostrophe ? L'\'' : L'"')) m_mode = kPlain;
        return i + 1;
    }
    return i + 1;
}

size_t CSqlScanner::StepPlain(const CString& text, size_t i, bool& plain) {
    const wchar_t c = text[i];
    const wchar_t next = i + 1 < text.size() ? text[i + 1] : L'\0';
    const wchar_t third = i + 2 < text.size() ? text[i + 2] : L'\0';
    if (c == L'\\' && m_lexis.backslashEscapes) {
        m_onlyComments = false;
        return i + 2;
    }
    if (c == L'-' && next == L'-' &&
        (!m_lexis.dashCommentNeedsBlank || third == L'\0' || third <= L' ' || std::iswspace(third))) {
        m_mode = kLineComment;
        return i + 2;
    }
    if (c == L'#' && m_lexis.hashComments) {
        m_mode = kLineComment;
        return i + 1;
    }
    if (c == L'/' && next == L'*') {
        m_mode = kBlockComment;
        m_commentDepth = 1;
        // "/*!" (MySQL's versioned code) and "/*+" (optimizer hints) are statement text.
        m_codeComment = third == L'!' || third == L'+';
        if (m_codeComment) m_onlyComments = false;
        return i + 2;
    }
    if (!zentra::IsBlank(c) && c != L'\r' && c != L'\n') m_onlyComments = false;
    switch (c) {
    case L'\'':
        m_mode = kApostrophe;
        // E'...' takes backslash escapes where other strings do not.
        m_escapes = m_lexis.backslashEscapes ||
                    (m_lexis.escapeStrings && i > 0 && (text[i - 1] == L'E' || text[i - 1] == L'e') &&
                     (i == 1 || !IsNameChar(text[i - 2])));
        return i + 1;
    case L'"':
        m_mode = kDouble;
        m_escapes = m_lexis.backslashEscapes;
        return i + 1;
    case L'`':
        if (!m_lexis.backtickQuotes) break;
        m_mode = kBacktick;
        return i + 1;
    case L'[':
        if (!m_lexis.bracketQuotes) break;
        m_mode = kBracket;
        return i + 1;
    case L'$':
        if (!m_lexis.dollarQuotes) break;
        if (const size_t length = DollarTagLength(text, i); length > 0) {
            m_dollarTag = text.substr(i, length);
            m_mode = kDollar;
            return i + length;
        }
        break;
    default: break;
    }
    plain = true;
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

bool IsClientCopy(const CString& statement) {
    CSqlScanner scanner;
    std::vector<CString> words;
    CString word;
    bool plain = false;
    for (size_t i = 0; i <= statement.size();) {
        const size_t next = i < statement.size() ? scanner.Step(statement, i, plain) : i + 1;
        if (i < statement.size() && plain && (std::iswalnum(statement[i]) || statement[i] == L'_')) {
            word += statement[i];
        } else if (!word.empty()) {
            words.push_back(zentra::ToUpper(word));
            word.clear();
            if (words.front() != L"COPY") return false;
        }
        i = next;
    }
    for (size_t k = 1; k + 1 < words.size(); ++k)
        if ((words[k] == L"FROM" && words[k + 1] == L"STDIN") || (words[k] == L"TO" && words[k + 1] == L"STDOUT"))
            return true;
    return false;
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
    while (m_pos < m_text.size() &&
           (zentra::IsBlank(m_text[m_pos]) || m_text[m_pos] == L'\r' || m_text[m_pos] == L'\n'))
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
    if (m_slash != CString::npos && (m_slash == start || m_text[m_slash - 1] == L'\r' || m_text[m_slash - 1] == L'\n'))
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
