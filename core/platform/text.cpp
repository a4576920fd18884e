#include "zentra/text.h"

#include <locale.h>

#include <cwctype>

namespace zentra {

namespace {

// Case mapping of non-ASCII letters must not depend on the process locale.
locale_t CaseLocale() {
    static locale_t loc = [] {
        locale_t l = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
        return l ? l : newlocale(LC_CTYPE_MASK, "C", static_cast<locale_t>(0));
    }();
    return loc;
}

}  // namespace

bool IsBlank(wchar_t ch) {
    return ch == L' ' || ch == L'\t' || ch == L'\r' || ch == L'\n' || ch == L'\v' || ch == L'\f';
}

std::wstring TrimLeft(std::wstring_view text) {
    size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    return std::wstring(text.substr(i));
}

std::wstring TrimRight(std::wstring_view text) {
    size_t n = text.size();
    while (n > 0 && IsBlank(text[n - 1])) --n;
    return std::wstring(text.substr(0, n));
}

std::wstring Trim(std::wstring_view text) {
    size_t b = 0, e = text.size();
    while (b < e && IsBlank(text[b])) ++b;
    while (e > b && IsBlank(text[e - 1])) --e;
    return std::wstring(text.substr(b, e - b));
}

std::wstring Trim(std::wstring_view text, std::wstring_view chars) {
    size_t b = 0, e = text.size();
    while (b < e && chars.find(text[b]) != std::wstring_view::npos) ++b;
    while (e > b && chars.find(text[e - 1]) != std::wstring_view::npos) --e;
    return std::wstring(text.substr(b, e - b));
}

wchar_t ToUpper(wchar_t ch) {
    if (ch < 0x80) return (ch >= L'a' && ch <= L'z') ? wchar_t(ch - 32) : ch;
    return static_cast<wchar_t>(towupper_l(static_cast<wint_t>(ch), CaseLocale()));
}

wchar_t ToLower(wchar_t ch) {
    if (ch < 0x80) return (ch >= L'A' && ch <= L'Z') ? wchar_t(ch + 32) : ch;
    return static_cast<wchar_t>(towlower_l(static_cast<wint_t>(ch), CaseLocale()));
}

std::wstring ToUpper(std::wstring_view text) {
    std::wstring out(text);
    for (auto& ch : out) ch = ToUpper(ch);
    return out;
}

std::wstring ToLower(std::wstring_view text) {
    std::wstring out(text);
    for (auto& ch : out) ch = ToLower(ch);
    return out;
}

int CompareNoCase(std::wstring_view a, std::wstring_view b) {
    size_t n = a.size() < b.size() ? a.size() : b.size();
    for (size_t i = 0; i < n; ++i) {
        wchar_t x = ToLower(a[i]), y = ToLower(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool EqualsNoCase(std::wstring_view a, std::wstring_view b) { return a.size() == b.size() && CompareNoCase(a, b) == 0; }

size_t FindNoCase(std::wstring_view text, std::wstring_view what, size_t from) {
    if (what.empty()) return from <= text.size() ? from : std::wstring::npos;
    if (what.size() > text.size()) return std::wstring::npos;
    for (size_t i = from; i + what.size() <= text.size(); ++i) {
        size_t k = 0;
        while (k < what.size() && ToLower(text[i + k]) == ToLower(what[k])) ++k;
        if (k == what.size()) return i;
    }
    return std::wstring::npos;
}

size_t ReplaceAll(std::wstring& text, std::wstring_view what, std::wstring_view with) {
    if (what.empty()) return 0;
    size_t count = 0;
    std::wstring out;
    size_t pos = 0;
    for (;;) {
        size_t hit = text.find(what, pos);
        if (hit == std::wstring::npos) break;
        out.append(text, pos, hit - pos);
        out.append(with);
        pos = hit + what.size();
        ++count;
    }
    if (count == 0) return 0;
    out.append(text, pos, std::wstring::npos);
    text.swap(out);
    return count;
}

std::vector<std::wstring> Split(std::wstring_view text, wchar_t separator) {
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (;;) {
        size_t hit = text.find(separator, start);
        if (hit == std::wstring_view::npos) {
            parts.emplace_back(text.substr(start));
            return parts;
        }
        parts.emplace_back(text.substr(start, hit - start));
        start = hit + 1;
    }
}

std::wstring AsciiToWide(std::string_view text) {
    std::wstring out;
    out.reserve(text.size());
    for (unsigned char ch : text) out.push_back(static_cast<wchar_t>(ch));
    return out;
}

std::string WideToAscii(std::wstring_view text) {
    std::string out;
    out.reserve(text.size());
    for (wchar_t ch : text) out.push_back(ch < 0x80 ? static_cast<char>(ch) : '?');
    return out;
}

namespace {

bool IsControl(wchar_t ch) {
    return ch < 0x20 || (ch >= 0x7F && ch <= 0x9F) || (ch >= 0x202A && ch <= 0x202E) ||
           (ch >= 0x2066 && ch <= 0x2069) || ch == 0x2028 || ch == 0x2029;
}

bool KeptAt(std::wstring_view text, size_t i) {
    const wchar_t ch = text[i];
    return !IsControl(ch) || ch == L'\n' || (ch == L'\r' && i + 1 < text.size() && text[i + 1] == L'\n');
}

}  // namespace

void EscapeControls(std::wstring& text) {
    size_t i = 0;
    // Printable ASCII, the common case, is passed over without the full test.
    while (i < text.size() && ((text[i] >= 0x20 && text[i] < 0x7F) || KeptAt(text, i))) ++i;
    if (i == text.size()) return;
    std::wstring out(text, 0, i);
    out.reserve(text.size() + 16);
    static const wchar_t kHex[] = L"0123456789ABCDEF";
    for (; i < text.size(); ++i) {
        const wchar_t ch = text[i];
        if (KeptAt(text, i)) {
            out += ch;
        } else if (ch == L'\t') {
            out += L"\\t";
        } else if (ch <= 0xFF) {
            out += L"\\x";
            out += kHex[(ch >> 4) & 0xF];
            out += kHex[ch & 0xF];
        } else {
            out += L"\\u";
            for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(ch >> shift) & 0xF];
        }
    }
    text.swap(out);
}

}  // namespace zentra
