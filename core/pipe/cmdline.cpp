#include "zentra/pipe.h"

namespace zentra {

namespace {

bool IsSeparator(wchar_t ch) { return ch == L' ' || ch == L'\t' || ch == L'\n'; }

// The characters a backslash escapes inside double quotes.
bool IsQuotedEscape(wchar_t ch) { return ch == L'"' || ch == L'\\' || ch == L'$' || ch == L'`'; }

}  // namespace

CStringArray SplitCommandLine(std::wstring_view commandLine) {
    CStringArray args;
    CString word;
    bool inWord = false;  // a word has started (it may still be empty: "")
    bool quoted = false;
    const size_t n = commandLine.size();
    for (size_t i = 0; i < n; ++i) {
        const wchar_t ch = commandLine[i];
        if (ch == L'\\') {
            if (i + 1 >= n) {  // a trailing backslash stays as it is
                word.push_back(ch);
                inWord = true;
                continue;
            }
            const wchar_t next = commandLine[i + 1];
            if (next == L'\n') {  // line continuation: both go
                ++i;
                continue;
            }
            if (!quoted || IsQuotedEscape(next)) {
                word.push_back(next);
                ++i;
            } else {
                word.push_back(ch);
            }
            inWord = true;
            continue;
        }
        if (ch == L'"') {
            quoted = !quoted;
            inWord = true;
            continue;
        }
        if (!quoted && IsSeparator(ch)) {
            if (inWord) {
                args.push_back(std::move(word));
                word.clear();
                inWord = false;
            }
            continue;
        }
        word.push_back(ch);
        inWord = true;
    }
    if (inWord) args.push_back(std::move(word));
    return args;
}

}  // namespace zentra
