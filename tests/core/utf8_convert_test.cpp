// The UTF-8 converters against a plain character-by-character reference, on random texts that
// mix ASCII runs of every length with two-, three- and four-byte characters and broken ones.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "zentra/codepage.h"

namespace {

// UTF-8 of one character; surrogates and values beyond Unicode become U+FFFD.
void Encode(std::string& out, char32_t c) {
    if (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) c = 0xFFFD;
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// Lead and continuation bytes checked one character at a time.
bool FormedAsUtf8(const std::string& bytes) {
    for (std::size_t i = 0; i < bytes.size();) {
        const auto b = static_cast<unsigned char>(bytes[i]);
        const std::size_t len = b < 0x80                ? 1
                                : b >= 0xC0 && b < 0xE0 ? 2
                                : b >= 0xE0 && b < 0xF0 ? 3
                                : b >= 0xF0 && b < 0xF8 ? 4
                                                        : 0;
        if (len == 0 || i + len > bytes.size()) return false;
        for (std::size_t k = 1; k < len; ++k)
            if ((static_cast<unsigned char>(bytes[i + k]) & 0xC0) != 0x80) return false;
        i += len;
    }
    return true;
}

TEST(Utf8Convert, RandomTextsMatchTheReference) {
    std::mt19937 random(20261207);
    const char32_t samples[] = {0x7F, 0x80, 0xE9, 0x7FF, 0x800, 0x20AC, 0xD800, 0xDFFF, 0xFFFF, 0x1F600, 0x10FFFF};
    for (int round = 0; round < 3000; ++round) {
        std::wstring text;
        const int pieces = static_cast<int>(random() % 12);
        for (int k = 0; k < pieces; ++k) {
            // Runs shorter and longer than the converters' eight- and sixteen-character steps.
            const int ascii = static_cast<int>(random() % 40);
            for (int a = 0; a < ascii; ++a) text += static_cast<wchar_t>(0x20 + random() % 0x5F);
            if (random() % 3) text += static_cast<wchar_t>(samples[random() % std::size(samples)]);
            if (random() % 17 == 0) text += static_cast<wchar_t>(0x110000 + random() % 100);
            if (random() % 29 == 0) text += static_cast<wchar_t>(-1 - static_cast<int>(random() % 5));
        }
        std::string expected;
        std::wstring back;
        for (wchar_t ch : text) {
            const char32_t c = static_cast<char32_t>(ch);
            Encode(expected, c);
            back += (c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) ? L'\uFFFD' : ch;
        }
        const std::string utf8 = zentra::WideToUtf8(text);
        ASSERT_EQ(expected, utf8) << round;
        ASSERT_EQ(back, zentra::Utf8ToWide(utf8)) << round;
        std::wstring appended = L"ab";
        zentra::AppendUtf8ToWide(appended, utf8);
        ASSERT_EQ(L"ab" + back, appended) << round;
        // Cut anywhere, the broken end becomes replacement characters, the whole start stays.
        const std::size_t cut = utf8.empty() ? 0 : random() % utf8.size();
        const std::wstring start = zentra::Utf8ToWide(std::string_view(utf8).substr(0, cut));
        ASSERT_LE(start.size(), cut);
        std::size_t whole = 0;
        while (whole < start.size() && start[whole] == back[whole]) ++whole;
        for (std::size_t i = whole; i < start.size(); ++i) ASSERT_EQ(L'\uFFFD', start[i]) << round;
        // The check of a driver's bytes: whole text passes; a cut one, or one with a byte
        // changed anywhere (inside a run of ASCII too), passes exactly when it is still formed.
        ASSERT_TRUE(zentra::IsValidUtf8(utf8)) << round;
        std::string broken = utf8.substr(0, cut);
        ASSERT_EQ(FormedAsUtf8(broken), zentra::IsValidUtf8(broken)) << round;
        if (!utf8.empty()) {
            broken = utf8;
            broken[random() % broken.size()] = static_cast<char>(0x80 + random() % 0x80);
            ASSERT_EQ(FormedAsUtf8(broken), zentra::IsValidUtf8(broken)) << round;
        }
    }
}

}  // namespace
