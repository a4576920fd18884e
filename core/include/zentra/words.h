// Splitting a command line into words, and a small string-to-string map.
#pragma once

#include <unordered_map>

#include "zentra/text.h"

namespace zentra {

// Splits a text into words at delimiter characters. A quote character starts a stretch that is
// one word with its delimiters kept; the closing quote ends the word, and the quotes themselves
// are dropped. A backslash keeps the next character from acting as a delimiter or quote; both
// stay in the word. Runs of delimiters and white space give no empty words.
class CWordPaster {
public:
    // Null or empty keys/quotes take the defaults.
    static constexpr const wchar_t* kDefaultKeys = L" \t\r\n;";
    static constexpr const wchar_t* kDefaultQuotes = L"'\"";

    explicit CWordPaster(const wchar_t* text = nullptr, const wchar_t* keys = nullptr, const wchar_t* quotes = nullptr);
    virtual ~CWordPaster() = default;
    CWordPaster(const CWordPaster&) = default;
    CWordPaster& operator=(const CWordPaster&) = default;

    // Replaces the text, the character sets and the words.
    void Paste(const wchar_t* text, const wchar_t* keys = nullptr, const wchar_t* quotes = nullptr);

    int GetWordCount() const { return static_cast<int>(m_arrWords.size()); }
    // The word at `index` (from 0); an empty string for an index outside 0 .. count-1.
    CString GetWord(int index) const;
    CString GetText() const { return m_strText; }

protected:
    int IsKeys(wchar_t ch) const;
    int IsQuotes(wchar_t ch) const;

private:
    CString m_strText;
    CStringArray m_arrWords;
    CString m_strKeys;
    CString m_strQuotes;
};

// A string-to-string map; keys compare with regard to case.
class CDelimiter {
public:
    CDelimiter();
    virtual ~CDelimiter() = default;
    CDelimiter(const CDelimiter&) = default;
    CDelimiter& operator=(const CDelimiter&) = default;

    // Sets or replaces the value of `key`. Null texts are taken as empty.
    void Add(const wchar_t* key, const wchar_t* value);
    // The value of `key`, or "" when the key is absent.
    CString GetValue(const wchar_t* key) const;
    void Remove(const wchar_t* key);
    void RemoveAll();

private:
    std::unordered_map<CString, CString> m_map;
};

}  // namespace zentra
