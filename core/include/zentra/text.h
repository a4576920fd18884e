// Wide-text helpers over std::wstring (wchar_t is UTF-32 here: one element is one character).
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace zentra {

using CString = std::wstring;
using CStringArray = std::vector<std::wstring>;

// The white space that trimming removes: blank, tab, CR, LF, vertical tab, form feed.
bool IsBlank(wchar_t ch);

std::wstring TrimLeft(std::wstring_view text);
std::wstring TrimRight(std::wstring_view text);
std::wstring Trim(std::wstring_view text);

// Trim only the characters listed in `chars`.
std::wstring Trim(std::wstring_view text, std::wstring_view chars);

wchar_t ToUpper(wchar_t ch);
wchar_t ToLower(wchar_t ch);
std::wstring ToUpper(std::wstring_view text);
std::wstring ToLower(std::wstring_view text);

// Case-insensitive comparison: <0, 0, >0.
int CompareNoCase(std::wstring_view a, std::wstring_view b);
bool EqualsNoCase(std::wstring_view a, std::wstring_view b);

// Case-insensitive find; std::wstring::npos when absent.
size_t FindNoCase(std::wstring_view text, std::wstring_view what, size_t from = 0);

// Replace every occurrence of `what` (non-empty) by `with`, left to right, never rescanning the
// inserted text. Returns the number of replacements.
size_t ReplaceAll(std::wstring& text, std::wstring_view what, std::wstring_view with);

// Split at every occurrence of `separator`.
std::vector<std::wstring> Split(std::wstring_view text, wchar_t separator);

// ASCII-only conversion for texts known to be plain ASCII (literals, numbers).
std::wstring AsciiToWide(std::string_view text);
std::string WideToAscii(std::wstring_view text);

// Writes the characters a terminal would act on (C0 but line feeds and the carriage returns
// before them, DEL, C1, and the bidirectional overrides and isolates and the line and paragraph
// separators, which reorder or break what follows) as visible escapes: a Tab as "\t", a C0, DEL
// or C1 character as "\x" and two hex digits, the others as "\u" and four.
void EscapeControls(std::wstring& text);

}  // namespace zentra
