// Display widths and grapheme clusters, from utf8proc's Unicode tables.
#include <utf8proc.h>

#include <cstdint>

#include "zentra/values.h"

namespace zentra {

namespace {

constexpr std::uint32_t kVariationSelector16 = 0xFE0F;  // emoji presentation

bool IsRegionalIndicator(std::uint32_t c) { return c >= 0x1F1E6 && c <= 0x1F1FF; }

bool IsValid(std::uint32_t c) { return c <= 0x10FFFF && !(c >= 0xD800 && c <= 0xDFFF); }

// The width of one cluster text[from, end).
int ClusterWidth(std::wstring_view text, size_t from, size_t end) {
    const auto first = static_cast<std::uint32_t>(text[from]);
    if (end - from > 1) {
        // CR LF is one cluster of two characters.
        if (first == L'\r') return 2;
        // A flag is a pair of regional indicators; a character with VS16 shows as an emoji.
        if (IsRegionalIndicator(first)) return 2;
        for (size_t i = from + 1; i < end; ++i)
            if (static_cast<std::uint32_t>(text[i]) == kVariationSelector16) return 2;
    }
    return CharDisplayWidth(text[from]);
}

}  // namespace

int CharDisplayWidth(wchar_t ch) {
    const auto c = static_cast<std::uint32_t>(ch);
    if (c >= 0x20 && c < 0x7F) return 1;
    if (!IsValid(c)) return 1;
    const auto cp = static_cast<utf8proc_int32_t>(c);
    // Control characters keep one column: they are shown as escapes or replaced before display.
    if (utf8proc_category(cp) == UTF8PROC_CATEGORY_CC) return 1;
    return utf8proc_charwidth(cp);
}

size_t NextGraphemeBreak(std::wstring_view text, size_t from) {
    if (from >= text.size()) return text.size();
    utf8proc_int32_t state = 0;
    size_t i = from + 1;
    for (; i < text.size(); ++i) {
        const auto a = static_cast<std::uint32_t>(text[i - 1]);
        const auto b = static_cast<std::uint32_t>(text[i]);
        if (!IsValid(a) || !IsValid(b)) break;
        if (utf8proc_grapheme_break_stateful(static_cast<utf8proc_int32_t>(a), static_cast<utf8proc_int32_t>(b),
                                             &state))
            break;
    }
    return i;
}

int DisplayWidth(std::wstring_view text) {
    int width = 0;
    for (size_t i = 0; i < text.size();) {
        // Printable ASCII followed by more of it is one cluster of one column.
        const wchar_t c = text[i];
        if (c >= 0x20 && c < 0x7F && (i + 1 == text.size() || (text[i + 1] >= 0x20 && text[i + 1] < 0x7F))) {
            ++width;
            ++i;
            continue;
        }
        const size_t end = NextGraphemeBreak(text, i);
        width += ClusterWidth(text, i, end);
        i = end;
    }
    return width;
}

}  // namespace zentra
