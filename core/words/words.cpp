#include "zentra/words.h"

namespace zentra {

CWordPaster::CWordPaster(const wchar_t* text, const wchar_t* keys, const wchar_t* quotes) { Paste(text, keys, quotes); }

void CWordPaster::Paste(const wchar_t* text, const wchar_t* keys, const wchar_t* quotes) {
    m_strKeys = keys && *keys ? keys : kDefaultKeys;
    m_strQuotes = quotes && *quotes ? quotes : kDefaultQuotes;
    m_strText = text ? text : L"";
    m_arrWords.clear();

    // The rest of the text is [pos, end). Its end only ever loses white space, so trimming it
    // once is the same as trimming it before every word.
    const CString& s = m_strText;
    size_t end = s.size();
    while (end > 0 && IsBlank(s[end - 1])) --end;
    size_t pos = 0;
    while (pos < end) {
        while (pos < end && IsBlank(s[pos])) ++pos;
        if (pos == end) break;

        CString word;
        wchar_t open = 0;  // the open quote, 0 for none
        size_t i = pos;
        bool stopped = false;
        while (i < end) {
            const wchar_t ch = s[i];
            if (ch == L'\\') {
                word += ch;
                if (i + 1 < end) word += s[++i];
                ++i;
                continue;
            }
            if (IsQuotes(ch)) {
                if (open == ch) {
                    stopped = true;
                    break;
                }
                if (open) {
                    word += ch;
                } else {
                    open = ch;
                }
                ++i;
                continue;
            }
            if (!open && IsKeys(ch)) {
                stopped = true;
                break;
            }
            word += ch;
            ++i;
        }
        if (!word.empty()) m_arrWords.push_back(std::move(word));
        pos = stopped ? i + 1 : end;
    }
}

CString CWordPaster::GetWord(int index) const {
    if (index < 0 || index >= GetWordCount()) return CString();
    return m_arrWords[static_cast<size_t>(index)];
}

int CWordPaster::IsKeys(wchar_t ch) const { return m_strKeys.find(ch) != CString::npos ? 1 : 0; }

int CWordPaster::IsQuotes(wchar_t ch) const { return m_strQuotes.find(ch) != CString::npos ? 1 : 0; }

CDelimiter::CDelimiter() : m_map(257) {}

void CDelimiter::Add(const wchar_t* key, const wchar_t* value) { m_map[key ? key : L""] = value ? value : L""; }

CString CDelimiter::GetValue(const wchar_t* key) const {
    const auto it = m_map.find(key ? key : L"");
    return it == m_map.end() ? CString() : it->second;
}

void CDelimiter::Remove(const wchar_t* key) { m_map.erase(key ? key : L""); }

void CDelimiter::RemoveAll() { m_map.clear(); }

}  // namespace zentra
