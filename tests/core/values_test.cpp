#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <limits>
#include <string>

#include "zentra/values.h"

using namespace zentra;

namespace {

std::vector<std::wstring> Lines(const CValue& v) {
    std::vector<std::wstring> lines;
    for (int i = 0; i < v.GetLineCount(); ++i) lines.push_back(v.GetLineSring(i));
    return lines;
}

SYSTEMTIME Time(int y, int mo, int d, int h, int mi, int s, int ms) {
    auto u = [](int v) { return static_cast<std::uint16_t>(v); };
    SYSTEMTIME st;
    st.wYear = u(y), st.wMonth = u(mo), st.wDay = u(d), st.wHour = u(h), st.wMinute = u(mi), st.wSecond = u(s);
    st.wMilliseconds = u(ms);
    return st;
}

// Restores the process locale when a test ends, however it ends.
class LocaleGuard {
public:
    LocaleGuard() : saved_(std::setlocale(LC_ALL, nullptr)) {}
    ~LocaleGuard() { std::setlocale(LC_ALL, saved_.c_str()); }

private:
    std::string saved_;
};

}  // namespace

TEST(ValuesLines, SplitsAtWidthAndLineFeeds) {
    using L = std::vector<std::wstring>;
    EXPECT_EQ(Lines(CValue(L"abcdefghij", 4)), (L{L"abcd", L"efgh", L"ij"}));
    EXPECT_EQ(Lines(CValue(L"abcd", 4)), (L{L"abcd"}));
    EXPECT_EQ(Lines(CValue(L"one\r\ntwo\n\nthree", 10)), (L{L"one", L"two", L"three"}));
    // Only a carriage return before a line feed goes; one at the very end stays.
    EXPECT_EQ(Lines(CValue(L"a\r\r\nb\r", 10)), (L{L"a\r", L"b\r"}));
    EXPECT_EQ(Lines(CValue(L"\n\n\r\n", 10)), L{});
    EXPECT_EQ(Lines(CValue(L"abcdef\nxy", 3)), (L{L"abc", L"def", L"xy"}));
    EXPECT_EQ(Lines(CValue(L"a\tb", 1)), (L{L"a", L"\t", L"b"}));

    const CValue empty(L"", 5);
    EXPECT_EQ(empty.GetLineCount(), 0);
    EXPECT_EQ(empty.GetLineSring(0), L"");
    EXPECT_EQ(empty.GetLineSring(-1), L"");

    const CValue null(static_cast<const wchar_t*>(nullptr), 5);
    EXPECT_EQ(null.GetString(), L"");
    EXPECT_EQ(null.GetLineCount(), 0);

    const CValue defaults;
    EXPECT_EQ(defaults.GetColumnWidth(), 10);
    EXPECT_EQ(defaults.GetLineCount(), 0);
}

TEST(ValuesLines, ResplitsWhenTextOrWidthChanges) {
    CValue v(L"abcdefghij", 4);
    EXPECT_EQ(v.GetLineCount(), 3);
    v.SetColumnWidth(5);
    EXPECT_EQ(v.GetLineCount(), 2);
    EXPECT_EQ(v.GetLineSring(1), L"fghij");
    EXPECT_EQ(v.GetString(), L"abcdefghij");
    v.SetString(L"xy");
    EXPECT_EQ(v.GetLineCount(), 1);
    EXPECT_EQ(v.GetColumnWidth(), 5);
    v.SetString(v.GetString() + L"z\nw");
    EXPECT_EQ(v.GetLineSring(0), L"xyz");
    EXPECT_EQ(v.GetLineSring(1), L"w");
    EXPECT_EQ(v.GetLineSring(2), L"");
    // A width below 1 is taken as 1 rather than never finishing.
    v.Set(L"abc", 0);
    EXPECT_EQ(v.GetColumnWidth(), 1);
    EXPECT_EQ(v.GetLineCount(), 3);
    v.Set(L"abc", -3);
    EXPECT_EQ(v.GetLineCount(), 3);
}

TEST(ValuesLines, RowOfCells) {
    CValueArray row;
    EXPECT_EQ(row.GetLineCount(), 0);
    row.AddValue(L"one", 10);
    row.AddValue(L"a\nb\nc", 10);
    row.AddValue(L"", 7);
    EXPECT_EQ(row.GetValueCount(), 3);
    EXPECT_EQ(row.GetLineCount(), 3);
    EXPECT_EQ(row.GetValueString(0, 0), L"one");
    EXPECT_EQ(row.GetValueString(2, 0), L"");
    EXPECT_EQ(row.GetValueString(2, 1), L"c");
    EXPECT_EQ(row.GetValueString(0, 2), L"");
    EXPECT_EQ(row.GetValueString(3, 1), L"");
    EXPECT_EQ(row.GetValueString(-1, 1), L"");
    EXPECT_EQ(row.GetValueString(0, 3), L"");
    EXPECT_EQ(row.GetValueString(0, -1), L"");
    EXPECT_EQ(row.GetValueColumnWidth(2), 7);
    EXPECT_EQ(row.GetValueColumnWidth(5), 1);
    EXPECT_EQ(row.GetValueColumnWidth(-1), 1);

    row.RemoveAll();
    EXPECT_EQ(row.GetValueCount(), 0);
    EXPECT_EQ(row.GetLineCount(), 0);
    row.AddValue(L"x", 1);
    EXPECT_EQ(row.GetLineCount(), 1);

    CValueArray moved = std::move(row);
    EXPECT_EQ(moved.GetValueCount(), 1);
    EXPECT_EQ(row.GetValueCount(), 0);  // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(row.GetLineCount(), 0);
}

TEST(ValuesNumbers, IntegersOverTheirFullRange) {
    EXPECT_EQ(IntToStr(std::numeric_limits<int>::min()), L"-2147483648");
    EXPECT_EQ(IntToStr(0), L"0");
    EXPECT_EQ(IntToStr(4294967295u), L"4294967295");
    EXPECT_EQ(LongToStr(-2147483647L - 1), L"-2147483648");
    EXPECT_EQ(ULongToStr(4294967295ul), L"4294967295");
    EXPECT_EQ(LongLongToStr(std::numeric_limits<std::int64_t>::min()), L"-9223372036854775808");
    EXPECT_EQ(LongLongToStr(std::numeric_limits<std::int64_t>::max()), L"9223372036854775807");
    EXPECT_EQ(LongLongToStr(-1), L"-1");
    EXPECT_EQ(ULongLongToStr(std::numeric_limits<std::uint64_t>::max()), L"18446744073709551615");
}

TEST(ValuesNumbers, RealsUseAPointWhateverTheLocale) {
    LocaleGuard guard;
    ASSERT_NE(std::setlocale(LC_ALL, "de_DE.UTF-8"), nullptr) << "locale de_DE.UTF-8 missing";
    EXPECT_EQ(DblToStr(0.5), L"0.5");
    EXPECT_EQ(DblToStr(1234567.25), L"1234567.25");  // no grouping either
    EXPECT_EQ(DblToStr(0.1f), L"0.1");               // a float's own digits
    EXPECT_EQ(DblToStr(static_cast<double>(0.1f)), L"0.100000001490116");
    EXPECT_EQ(DblToStr(-1e-10), L"-1E-10");
    DECIMAL d;
    ASSERT_TRUE(DecimalFromText(L"-12.50", d));
    EXPECT_EQ(DecToStr(_variant_t::Decimal(d)), L"-12.5");
    EXPECT_EQ(DecToStr(_variant_t::Currency(CY{-12345678})), L"-1234.5678");
}

TEST(ValuesNumbers, DecToStrGivesEmptyTextWhenNoTextForm) {
    EXPECT_EQ(DecToStr(_variant_t::Null()), L"");
    EXPECT_EQ(DecToStr(_variant_t::Error(DISP_E_PARAMNOTFOUND)), L"");
    EXPECT_EQ(DecToStr(_variant_t::I8(-42)), L"-42");
    EXPECT_EQ(DecToStr(_variant_t::Bstr(L"as is")), L"as is");
    EXPECT_EQ(DecToStr(_variant_t::Date(45293.5)), L"1/2/2024 12:00:00 PM");
    // A Boolean converts without the alphabetic form: its number.
    EXPECT_EQ(DecToStr(_variant_t::Bool(true)), L"-1");
    EXPECT_EQ(DecToStr(_variant_t::Bool(false)), L"0");
    VARIANT_BOOL flag = VARIANT_TRUE;
    EXPECT_EQ(DecToStr(_variant_t::ByRef(VT_BOOL, &flag)), L"-1");
}

// The time of a date as "year-month-day hour:minute:second.ms", or "failed".
std::string At(double date) {
    SYSTEMTIME st;
    if (!VariantToSystemTimeWithMilliseconds(date, st)) return "failed";
    char text[64];
    std::snprintf(text, sizeof text, "%d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear, st.wMonth, st.wDay, st.wHour,
                  st.wMinute, st.wSecond, st.wMilliseconds);
    return text;
}

// The date of a time given as its fields; NAN when the conversion fails.
double Date(int y, int mo, int d, int h, int mi, int s, int ms) {
    double date = 0;
    return SystemTimeToVariantTimeWithMilliseconds(Time(y, mo, d, h, mi, s, ms), date) ? date : NAN;
}

TEST(ValuesDates, MillisecondsSurviveBothWays) {
    const double date = Date(2024, 1, 2, 10, 20, 30, 250);
    EXPECT_NEAR(date, 45293 + (37230.25 / 86400), 1e-9);
    EXPECT_EQ(At(date), "2024-01-02 10:20:30.250");
    // Every millisecond of a second comes back as it went in.
    for (int ms = 0; ms < 1000; ++ms) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "2024-12-31 23:59:59.%03d", ms);
        ASSERT_EQ(At(Date(2024, 12, 31, 23, 59, 59, ms)), expected);
    }
}

TEST(ValuesDates, FractionsNearWholeSecondsRoundToTheSecond) {
    const double second = 1.0 / 86400;
    const double base = 45293 + 37230 * second;  // 2024-01-02 10:20:30
    EXPECT_EQ(At(base + 0.0003 * second), "2024-01-02 10:20:30.000");
    EXPECT_EQ(At(base + 0.9997 * second), "2024-01-02 10:20:31.000");
    // 23:59:59.9997 goes to the next day.
    EXPECT_EQ(At(45293 + (86399 + 0.9997) * second), "2024-01-03 00:00:00.000");
}

TEST(ValuesDates, DatesBefore1899KeepTheirMilliseconds) {
    // 1899-12-29 06:00:00.250: the time counts away from zero.
    const double date = Date(1899, 12, 29, 6, 0, 0, 250);
    EXPECT_LT(date, -1.25);
    EXPECT_EQ(At(date), "1899-12-29 06:00:00.250");
    // Just after midnight the shift back by half a second must not cross into another day; the
    // same just after midnight of 1899-12-30 and 1899-12-31.
    for (int day : {28, 29, 30, 31}) {
        for (int ms : {1, 9, 400, 499, 501}) {
            char expected[32];
            std::snprintf(expected, sizeof expected, "1899-12-%02d 00:00:00.%03d", day, ms);
            EXPECT_EQ(At(Date(1899, 12, day, 0, 0, 0, ms)), expected);
        }
    }
    EXPECT_EQ(At(Date(1066, 10, 14, 9, 30, 15, 999)), "1066-10-14 09:30:15.999");
    // The first and last seconds of the calendar convert both ways.
    EXPECT_EQ(At(Date(100, 1, 1, 0, 0, 0, 0)), "100-01-01 00:00:00.000");
    for (int ms : {1, 250, 499, 500, 501, 999}) {
        char expected[32];
        std::snprintf(expected, sizeof expected, "100-01-01 00:00:00.%03d", ms);
        EXPECT_EQ(At(Date(100, 1, 1, 0, 0, 0, ms)), expected);
    }
    EXPECT_EQ(At(Date(9999, 12, 31, 23, 59, 59, 999)), "9999-12-31 23:59:59.999");
}

TEST(ValuesDates, InvalidInputFails) {
    double date = 7;
    EXPECT_EQ(SystemTimeToVariantTimeWithMilliseconds(Time(2024, 2, 30, 0, 0, 0, 0), date), 0);
    EXPECT_EQ(SystemTimeToVariantTimeWithMilliseconds(Time(2024, 2, 1, 0, 0, 0, 1000), date), 0);
    EXPECT_EQ(date, 7);
    EXPECT_EQ(At(3e6), "failed");
    EXPECT_EQ(At(-700000), "failed");
}

TEST(ValuesSafeArray, RestrictionElements) {
    CSafeArray restrictions(4);
    EXPECT_EQ(restrictions.SetAt(0, L""), 1);
    EXPECT_EQ(restrictions.SetAt(1, static_cast<const wchar_t*>(nullptr)), 1);
    EXPECT_EQ(restrictions.SetAt(2, std::wstring(L"orders")), 1);
    EXPECT_EQ(restrictions.SetAt(3, 2), 1);
    EXPECT_EQ(restrictions.SetAt(4, 1), 0);
    EXPECT_EQ(restrictions.SetAt(-1, L"x"), 0);

    const _variant_t array = restrictions.GetArray();
    ASSERT_EQ(array.vt(), VT_ARRAY | VT_VARIANT);
    ASSERT_EQ(array.parray()->Count(), 4u);
    EXPECT_EQ(array.parray()->variants[0].vt(), VT_EMPTY);  // not an empty string
    EXPECT_EQ(array.parray()->variants[1].vt(), VT_EMPTY);
    EXPECT_EQ(array.parray()->variants[2].vt(), VT_BSTR);
    EXPECT_EQ(array.parray()->variants[2].bstrVal(), L"orders");
    EXPECT_EQ(array.parray()->variants[3].vt(), VT_INT);
    EXPECT_EQ(array.parray()->variants[3].intVal(), 2);

    // GetArray hands out a copy: changing the holder afterwards does not reach it.
    restrictions.SetAt(2, L"items");
    EXPECT_EQ(array.parray()->variants[2].bstrVal(), L"orders");
    EXPECT_EQ(restrictions.GetArray().parray()->variants[2].bstrVal(), L"items");
    // Copies of the holder are independent too.
    CSafeArray copy = restrictions;
    copy.SetAt(2, L"other");
    EXPECT_EQ(restrictions.GetArray().parray()->variants[2].bstrVal(), L"items");

    EXPECT_EQ(restrictions.ToString(), L"");  // a variant array has no text form
    EXPECT_EQ(CSafeArray(0u).GetArray().parray()->Count(), 0u);
}

TEST(ValuesSafeArray, ByteArraysAsText) {
    const unsigned char raw[] = {'A', 0xE9, 0x00, 'b'};
    const CSafeArray bytes(_variant_t::Bytes(raw, sizeof raw));
    const std::wstring expected{L'A', static_cast<wchar_t>(0xE9), L'\0', L'b'};
    EXPECT_EQ(bytes.ToString(), expected);
    // An array value holder takes no elements.
    CSafeArray holder(_variant_t::Bytes(raw, sizeof raw));
    EXPECT_EQ(holder.SetAt(0, 1), 0);
    EXPECT_EQ(CSafeArray(_variant_t::Null()).ToString(), L"");
}

TEST(ValuesTypeNames, ColumnsPerDbmsType) {
    EXPECT_EQ(Type2Name(1, 24), L"timestamp");
    EXPECT_EQ(Type2Name(1, 0), L"sql_variant");
    EXPECT_EQ(Type2Name(1, 13), L"numeric");
    EXPECT_EQ(Type2Name(1, 34), L"image");
    EXPECT_EQ(Type2Name(1, 39), L"sql_variant");
    EXPECT_EQ(Type2Name(1, 40), L"");
    EXPECT_EQ(Type2Name(2, 24), L"");
    EXPECT_EQ(Type2Name(12, 1), L"");
    EXPECT_EQ(Type2Name(3, 2), L"smallint");
    EXPECT_EQ(Type2Name(0, 1), L"");
    EXPECT_EQ(Type2Name(15, 1), L"");
    for (unsigned type : {2u, 3u, 4u, 5u, 6u, 7u, 8u, 9u, 10u, 11u, 13u, 14u}) {
        EXPECT_EQ(Type2Name(type, 1), L"tinyint") << type;
        EXPECT_EQ(Type2Name(type, 3), L"int") << type;
        EXPECT_EQ(Type2Name(type, 0), L"") << type;
        EXPECT_EQ(Type2Name(type, 4), L"") << type;
    }
}

TEST(ValuesDisplayWidth, WideCharactersTakeTwoColumns) {
    EXPECT_EQ(DisplayWidth(L""), 0);
    EXPECT_EQ(DisplayWidth(L"abc"), 3);
    EXPECT_EQ(DisplayWidth(L"日本語"), 6);
    EXPECT_EQ(DisplayWidth(L"한국"), 4);
    EXPECT_EQ(DisplayWidth(L"ＡＢ"), 4);     // full-width forms
    EXPECT_EQ(DisplayWidth(L"ｱｲ"), 2);       // half-width katakana
    EXPECT_EQ(DisplayWidth(L"e\u0301"), 1);  // combining accent
    EXPECT_EQ(DisplayWidth(L"\u303F"), 1);
    EXPECT_EQ(DisplayWidth(L"\U00020000"), 2);
    EXPECT_EQ(DisplayWidth(L"Ä€"), 2);
}

TEST(ValuesDisplayWidth, EmojiAndClustersFromUnicodeData) {
    EXPECT_EQ(DisplayWidth(L"\U0001F600"), 2);                                  // grinning face
    EXPECT_EQ(DisplayWidth(L"a\U0001F680b"), 4);                                // rocket
    EXPECT_EQ(DisplayWidth(L"\U0001F468\u200D\U0001F469\u200D\U0001F467"), 2);  // family: one ZWJ sequence
    EXPECT_EQ(DisplayWidth(L"\U0001F1E9\U0001F1EA"), 2);                        // a flag
    EXPECT_EQ(DisplayWidth(L"\u2764\uFE0F"), 2);                                // heart in emoji presentation
    // Cluster ends: a character with its marks, a ZWJ sequence and a flag are one each.
    const std::wstring text = L"e\u0301\U0001F468\u200D\U0001F469\U0001F1E9\U0001F1EAx";
    EXPECT_EQ(NextGraphemeBreak(text, 0), 2u);
    EXPECT_EQ(NextGraphemeBreak(text, 2), 5u);
    EXPECT_EQ(NextGraphemeBreak(text, 5), 7u);
    EXPECT_EQ(NextGraphemeBreak(text, 7), 8u);
    EXPECT_EQ(NextGraphemeBreak(text, 8), 8u);
}
