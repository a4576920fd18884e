#include <gtest/gtest.h>

#include <clocale>
#include <cstdint>
#include <limits>

#include "zentra/codepage.h"
#include "zentra/format.h"
#include "zentra/text.h"

using namespace zentra;

TEST(Text, TrimCompareFindReplace) {
    EXPECT_EQ(Trim(L" \t\r\n abc \v\f"), L"abc");
    EXPECT_EQ(Trim(L"   "), L"");
    EXPECT_EQ(TrimLeft(L"  a b "), L"a b ");
    EXPECT_EQ(TrimRight(L"  a b "), L"  a b");
    EXPECT_EQ(Trim(L"xxaxx", L"x"), L"a");
    EXPECT_TRUE(EqualsNoCase(L"MySQL", L"mysql"));
    EXPECT_FALSE(EqualsNoCase(L"mysq", L"mysql"));
    EXPECT_TRUE(EqualsNoCase(L"ÉCOLE", L"école"));
    EXPECT_LT(CompareNoCase(L"abc", L"ABD"), 0);
    EXPECT_EQ(FindNoCase(L"MySQL ODBC 8.0 Unicode Driver", L"mysql odbc"), 0u);
    EXPECT_EQ(FindNoCase(L"abc", L"x"), std::wstring::npos);

    std::wstring s = L"%db and %db";
    EXPECT_EQ(ReplaceAll(s, L"%db", L"x%db"), 2u);  // inserted text is not rescanned
    EXPECT_EQ(s, L"x%db and x%db");
    EXPECT_EQ(ReplaceAll(s, L"", L"y"), 0u);

    auto parts = Split(L"fdb|gdb||", L'|');
    ASSERT_EQ(parts.size(), 4u);
    EXPECT_EQ(parts[1], L"gdb");
    EXPECT_EQ(parts[3], L"");
}

TEST(Format, ConversionsOfTheStringTables) {
    EXPECT_EQ(Format(L"%s %s", L"a", std::wstring(L"b")), L"a b");
    EXPECT_EQ(Format(L"%d|%ld|%u|%lu", -5, 7L, 3u, 4ul), L"-5|7|3|4");
    EXPECT_EQ(Format(L"%03d", 7), L"007");
    EXPECT_EQ(Format(L"%02X", 0x0b), L"0B");
    EXPECT_EQ(Format(L"%02X%02X", 4, 0xB0), L"04B0");
    EXPECT_EQ(Format(L"100%%"), L"100%");
    EXPECT_EQ(Format(L"%ld.%03d", 61L, 234), L"61.234");
    EXPECT_EQ(
        Format(L"%I64d %I64u", std::numeric_limits<std::int64_t>::min(), std::numeric_limits<std::uint64_t>::max()),
        L"-9223372036854775808 18446744073709551615");
    EXPECT_EQ(Format(L"%-5s|%5s", L"ab", L"cd"), L"ab   |   cd");
    EXPECT_EQ(Format(L"%.2s", L"abcdef"), L"ab");
    EXPECT_EQ(Format(L"%u", -1), L"4294967295");  // reinterpreted at the argument's own width
    EXPECT_EQ(Format(L"%hd", 65537), L"1");
    EXPECT_EQ(Format(L"%c%c", L'o', L'k'), L"ok");
}

TEST(Format, ArgumentsNeverReformatAndNeverOverrun) {
    // A percent sign inside an argument is text, not a conversion.
    EXPECT_EQ(Format(L"%s", L"50% %d %s"), L"50% %d %s");
    // More conversions than arguments: the extra ones format as nothing.
    EXPECT_EQ(Format(L"a%sb%dc"), L"abc");
    EXPECT_EQ(Format(L"%s", static_cast<const wchar_t*>(nullptr)), L"(null)");
    // An unknown or incomplete conversion is kept as written.
    EXPECT_EQ(Format(L"%y and %", 1), L"%y and %");
    // Absurd widths are capped instead of allocating without bound.
    EXPECT_EQ(Format(L"%99999999d", 1).size(), 4096u);
}

TEST(Format, NumbersUseAPointWhateverTheLocale) {
    const char* old = setlocale(LC_NUMERIC, nullptr);
    std::string saved = old ? old : "C";
    bool german = setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr || setlocale(LC_NUMERIC, "fr_FR.UTF-8") != nullptr;
    EXPECT_EQ(Format(L"%.3f", 1.5), L"1.500");
    EXPECT_EQ(Format(L"%g", 0.25), L"0.25");
    EXPECT_EQ(Format(L"%8.2f|%-8.1f|", -3.14159, 2.0), L"   -3.14|2.0     |");
    EXPECT_EQ(Format(L"%e", 12345.0), L"1.234500e+04");
    setlocale(LC_NUMERIC, saved.c_str());
    if (!german) GTEST_LOG_(INFO) << "no comma locale installed; checked under the C locale only";
}

TEST(CodePage, RoundTripsAndDefaultCharacter) {
    const std::wstring text = L"Grüße, 中文, \U0001F600";
    EXPECT_EQ(Utf8ToWide(WideToUtf8(text)), text);
    EXPECT_EQ(MultiByteToWide(WideToMultiByte(text, CP_UTF8), CP_UTF8), text);
    EXPECT_EQ(Utf16ToWide(WideToUtf16(text)), text);
    EXPECT_EQ(WideToUtf16(L"\U0001F600").size(), 2u);  // a surrogate pair

    // Windows-1252: ü is 0xFC; Chinese is not in the code page and becomes '?'.
    EXPECT_EQ(WideToMultiByte(L"Grüße", 1252), std::string("Gr\xFC\xDF"
                                                           "e"));
    EXPECT_EQ(WideToMultiByte(L"a中b", 1252), "a?b");
    EXPECT_EQ(MultiByteToWide("Gr\xFC\xDF"
                              "e",
                              1252),
              L"Grüße");

    // Double-byte code pages.
    EXPECT_EQ(MultiByteToWide(WideToMultiByte(L"中文", 936), 936), L"中文");
    EXPECT_EQ(WideToMultiByte(L"中文", 936).size(), 4u);
    EXPECT_EQ(MultiByteToWide(WideToMultiByte(L"日本語", 932), 932), L"日本語");
    for (int cp : {949, 950, 1250, 1251, 1253, 1254, 1255, 1256, 1257, 1258})
        EXPECT_FALSE(CodePageName(cp).empty()) << cp;
    EXPECT_EQ(CodePageName(12345), "");
    EXPECT_EQ(WideToMultiByte(L"abc", 12345), "");
}

TEST(CodePage, BrokenInputBecomesReplacementCharacters) {
    // A stray continuation byte and a truncated sequence never swallow the following text.
    EXPECT_EQ(Utf8ToWide("a\x80"
                         "b\xE4\xB8"),
              L"a\uFFFDb\uFFFD\uFFFD");
    // An overlong encoding of '/' is rejected.
    EXPECT_EQ(Utf8ToWide("\xC0\xAF"), L"\uFFFD\uFFFD");
    // A lone surrogate in UTF-16 input.
    std::u16string lone;
    lone.push_back(static_cast<char16_t>(0xD800));
    lone.push_back(u'x');
    EXPECT_EQ(Utf16ToWide(lone), L"\uFFFDx");
    EXPECT_EQ(MultiByteToWide("\x81", 932), L"\uFFFD");
}
