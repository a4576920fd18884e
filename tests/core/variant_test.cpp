#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <memory>
#include <string>
#include <tuple>

#include "zentra/variant.h"

using namespace zentra;

namespace {

std::wstring Text(const _variant_t& v) {
    std::wstring text = L"<unchanged>";
    EXPECT_TRUE(VariantToText(v, text)) << "type " << v.vt();
    return text;
}

bool Fails(const _variant_t& v) {
    std::wstring text;
    return !VariantToText(v, text);
}

SYSTEMTIME Time(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    auto u = [](int v) { return static_cast<std::uint16_t>(v); };
    SYSTEMTIME st;
    st.wYear = u(y), st.wMonth = u(mo), st.wDay = u(d), st.wHour = u(h), st.wMinute = u(mi), st.wSecond = u(s);
    return st;
}

// Every field of a SYSTEMTIME in one text: "year-month-day hour:minute:second.ms weekday".
std::string Fields(const SYSTEMTIME& st) {
    return std::to_string(st.wYear) + "-" + std::to_string(st.wMonth) + "-" + std::to_string(st.wDay) + " " +
           std::to_string(st.wHour) + ":" + std::to_string(st.wMinute) + ":" + std::to_string(st.wSecond) + "." +
           std::to_string(st.wMilliseconds) + " " + std::to_string(st.wDayOfWeek);
}

DECIMAL Dec(const wchar_t* text) {
    DECIMAL d;
    EXPECT_TRUE(DecimalFromText(text, d)) << "text " << std::string(text, text + wcslen(text));
    return d;
}

}  // namespace

TEST(VariantCopy, ArraysAreCopiedDeeply) {
    auto inner = std::make_shared<SAFEARRAY>();
    inner->elementType = VT_VARIANT;
    inner->variants = {_variant_t::Bstr(L"a"), _variant_t::Bytes("\x01\x02", 2)};
    auto outer = std::make_shared<SAFEARRAY>();
    outer->elementType = VT_VARIANT;
    outer->variants = {_variant_t::Int(7), _variant_t::Array(inner)};
    const _variant_t original = _variant_t::Array(outer);
    EXPECT_EQ(original.vt(), VT_ARRAY | VT_VARIANT);

    _variant_t copy = original;
    ASSERT_NE(copy.parray(), original.parray());
    EXPECT_TRUE(copy == original);
    // Change the copy at every level; the original must keep its values.
    copy.parray()->variants[0] = _variant_t::Int(8);
    SAFEARRAY* nested = copy.parray()->variants[1].parray();
    ASSERT_NE(nested, nullptr);
    ASSERT_NE(nested, inner.get());
    nested->variants[0] = _variant_t::Bstr(L"changed");
    nested->variants[1].parray()->bytes[0] = 0xFF;
    EXPECT_FALSE(copy == original);
    EXPECT_EQ(original.parray()->variants[0].intVal(), 7);
    EXPECT_EQ(inner->variants[0].bstrVal(), L"a");
    EXPECT_EQ(inner->variants[1].parray()->bytes[0], 0x01);

    // Copy assignment replaces an existing array with its own copy as well.
    _variant_t assigned = _variant_t::Bytes("xyz", 3);
    assigned = original;
    ASSERT_NE(assigned.parray(), original.parray());
    EXPECT_TRUE(assigned == original);
    assigned = assigned;  // self-assignment keeps the value
    EXPECT_TRUE(assigned == original);
}

TEST(VariantCopy, MoveLeavesTheSourceEmpty) {
    _variant_t source = _variant_t::Bstr(L"text");
    _variant_t target = std::move(source);
    EXPECT_EQ(target.vt(), VT_BSTR);
    EXPECT_EQ(target.bstrVal(), L"text");
    EXPECT_TRUE(source.IsEmpty());  // NOLINT(bugprone-use-after-move)

    _variant_t bytes = _variant_t::Bytes("ab", 2);
    const SAFEARRAY* storage = bytes.parray();
    _variant_t other;
    other = std::move(bytes);
    EXPECT_EQ(other.parray(), storage);  // moved, not copied
    EXPECT_TRUE(bytes.IsEmpty());        // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(bytes.parray(), nullptr);

    other.Clear();
    EXPECT_TRUE(other.IsEmpty());
    EXPECT_EQ(other.parray(), nullptr);
}

TEST(VariantCopy, EqualityComparesTypeAndValue) {
    EXPECT_TRUE(_variant_t() == _variant_t());
    EXPECT_FALSE(_variant_t() == _variant_t::Null());
    EXPECT_FALSE(_variant_t::I2(1) == _variant_t::I4(1));
    EXPECT_FALSE(_variant_t::Int(1) == _variant_t::Int(2));
    EXPECT_TRUE(_variant_t::Bool(true) == _variant_t::Bool(true));
    EXPECT_FALSE(_variant_t::Bool(true) == _variant_t::Bool(false));
    EXPECT_FALSE(_variant_t::Decimal(Dec(L"1.0")) == _variant_t::Decimal(Dec(L"1.00")));
    EXPECT_TRUE(_variant_t::Bytes("ab", 2) == _variant_t::Bytes("ab", 2));
    EXPECT_FALSE(_variant_t::Bytes("ab", 2) == _variant_t::Bytes("ac", 2));
    EXPECT_EQ(_variant_t::Bool(true).intVal(), VARIANT_TRUE);
    EXPECT_EQ(_variant_t::Error(DISP_E_PARAMNOTFOUND).scode(), DISP_E_PARAMNOTFOUND);
}

TEST(VariantText, IntegersBooleansTextAndEmpty) {
    EXPECT_EQ(Text(_variant_t::I1(-128)), L"-128");
    EXPECT_EQ(Text(_variant_t::UI1(255)), L"255");
    EXPECT_EQ(Text(_variant_t::I2(-32768)), L"-32768");
    EXPECT_EQ(Text(_variant_t::UI2(65535)), L"65535");
    EXPECT_EQ(Text(_variant_t::I4(std::numeric_limits<std::int32_t>::min())), L"-2147483648");
    EXPECT_EQ(Text(_variant_t::UI4(4294967295u)), L"4294967295");
    EXPECT_EQ(Text(_variant_t::Int(-5)), L"-5");
    EXPECT_EQ(Text(_variant_t::UInt(4000000000u)), L"4000000000");
    EXPECT_EQ(Text(_variant_t::I8(std::numeric_limits<std::int64_t>::min())), L"-9223372036854775808");
    EXPECT_EQ(Text(_variant_t::UI8(std::numeric_limits<std::uint64_t>::max())), L"18446744073709551615");
    EXPECT_EQ(Text(_variant_t::Bool(true)), L"True");
    EXPECT_EQ(Text(_variant_t::Bool(false)), L"False");
    EXPECT_EQ(Text(_variant_t::Bstr(L"a\tb")), L"a\tb");
    EXPECT_EQ(Text(_variant_t()), L"");
    EXPECT_TRUE(Fails(_variant_t::Null()));
    EXPECT_TRUE(Fails(_variant_t::Error(DISP_E_PARAMNOTFOUND)));
}

TEST(VariantText, RealsUseFifteenOrSevenDigits) {
    EXPECT_EQ(Text(_variant_t::R8(0.5)), L"0.5");
    EXPECT_EQ(Text(_variant_t::R8(-2.25)), L"-2.25");
    EXPECT_EQ(Text(_variant_t::R8(0.1 + 0.2)), L"0.3");
    EXPECT_EQ(Text(_variant_t::R8(1.0 / 3)), L"0.333333333333333");
    EXPECT_EQ(Text(_variant_t::R8(123456789012345.0)), L"123456789012345");
    EXPECT_EQ(Text(_variant_t::R8(1e15)), L"1E+15");
    EXPECT_EQ(Text(_variant_t::R8(1e20)), L"1E+20");
    EXPECT_EQ(Text(_variant_t::R8(1.5e-7)), L"1.5E-07");
    EXPECT_EQ(Text(_variant_t::R8(0.0001)), L"0.0001");
    EXPECT_EQ(Text(_variant_t::R8(0.00001)), L"1E-05");
    EXPECT_EQ(Text(_variant_t::R8(-1.7976931348623157e308)), L"-1.79769313486232E+308");
    EXPECT_EQ(Text(_variant_t::R8(-0.0)), L"0");
    EXPECT_EQ(Text(_variant_t::R4(0.1f)), L"0.1");
    EXPECT_EQ(Text(_variant_t::R4(1.0f / 3)), L"0.3333333");
    EXPECT_EQ(Text(_variant_t::R4(16777217.0f)), L"1.677722E+07");
    EXPECT_EQ(Text(_variant_t::R4(-0.0f)), L"0");
}

TEST(VariantText, CurrencyAndDecimal) {
    EXPECT_EQ(Text(_variant_t::Currency(CY{125000})), L"12.5");
    EXPECT_EQ(Text(_variant_t::Currency(CY{-1})), L"-0.0001");
    EXPECT_EQ(Text(_variant_t::Currency(CY{0})), L"0");
    EXPECT_EQ(Text(_variant_t::Currency(CY{-50000})), L"-5");
    EXPECT_EQ(CurrencyToText(CY{std::numeric_limits<std::int64_t>::min()}), L"-922337203685477.5808");
    EXPECT_EQ(CurrencyToText(CY{std::numeric_limits<std::int64_t>::max()}), L"922337203685477.5807");
    EXPECT_EQ(CurrencyToText(CY{10010}), L"1.001");

    // The stored digits without the zeros that end the fraction.
    EXPECT_EQ(Text(_variant_t::Decimal(Dec(L"-123.4500"))), L"-123.45");
    EXPECT_EQ(Text(_variant_t::Decimal(Dec(L"12.000"))), L"12");
    EXPECT_EQ(Text(_variant_t::Decimal(Dec(L"1200"))), L"1200");
    EXPECT_EQ(Text(_variant_t::Decimal(Dec(L"-0.000"))), L"0");
    EXPECT_EQ(Text(_variant_t::Decimal(Dec(L"0.0000000000000000000000000001"))), L"0.0000000000000000000000000001");
    DECIMAL bad{};
    bad.scale = 29;
    EXPECT_TRUE(Fails(_variant_t::Decimal(bad)));
}

TEST(VariantText, DatesInUsEnglish) {
    EXPECT_EQ(Text(_variant_t::Date(0)), L"12:00:00 AM");  // day 0 shows its time only
    EXPECT_EQ(Text(_variant_t::Date(1)), L"12/31/1899");
    EXPECT_EQ(Text(_variant_t::Date(45293)), L"1/2/2024");
    EXPECT_EQ(Text(_variant_t::Date(45293 + (10 * 3600 + 20 * 60 + 30) / 86400.0)), L"1/2/2024 10:20:30 AM");
    EXPECT_EQ(Text(_variant_t::Date(45293.75)), L"1/2/2024 6:00:00 PM");
    EXPECT_EQ(Text(_variant_t::Date(45293.5)), L"1/2/2024 12:00:00 PM");
    EXPECT_EQ(Text(_variant_t::Date((10 * 3600 + 20 * 60 + 30) / 86400.0)), L"10:20:30 AM");
    EXPECT_EQ(Text(_variant_t::Date(-1.25)), L"12/29/1899 6:00:00 AM");
    EXPECT_EQ(Text(_variant_t::Date(-657434)), L"1/1/0100");
    EXPECT_TRUE(Fails(_variant_t::Date(-657435)));
    EXPECT_TRUE(Fails(_variant_t::Date(2958466)));
    EXPECT_TRUE(Fails(_variant_t::Date(std::nan(""))));
}

TEST(VariantText, ArraysAndReferences) {
    const unsigned char raw[] = {'a', 0x00, 0xFF, 'z'};
    const std::wstring expected{L'a', L'\0', static_cast<wchar_t>(0xFF), L'z'};
    EXPECT_EQ(Text(_variant_t::Bytes(raw, sizeof raw)), expected);
    EXPECT_EQ(Text(_variant_t::Bytes(nullptr, 0)), L"");

    auto variants = std::make_shared<SAFEARRAY>();
    variants->variants.resize(2);
    EXPECT_TRUE(Fails(_variant_t::Array(variants)));

    double real = 2.5;
    std::wstring text = L"referred";
    std::int16_t small = -7;
    VARIANT_BOOL flag = VARIANT_TRUE;
    _variant_t inner = _variant_t::Currency(CY{15000});
    SAFEARRAY bytes;
    bytes.elementType = VT_UI1;
    bytes.bytes = {'h', 'i'};
    EXPECT_EQ(Text(_variant_t::ByRef(VT_R8, &real)), L"2.5");
    EXPECT_EQ(Text(_variant_t::ByRef(VT_BSTR, &text)), L"referred");
    EXPECT_EQ(Text(_variant_t::ByRef(VT_I2, &small)), L"-7");
    EXPECT_EQ(Text(_variant_t::ByRef(VT_BOOL, &flag)), L"True");
    EXPECT_EQ(Text(_variant_t::ByRef(VT_VARIANT, &inner)), L"1.5");
    EXPECT_EQ(Text(_variant_t::ByRef(VT_ARRAY | VT_UI1, &bytes)), L"hi");
    EXPECT_TRUE(Fails(_variant_t::ByRef(VT_R8, nullptr)));

    // A reference sees the value as it is when converted.
    const _variant_t ref = _variant_t::ByRef(VT_R8, &real);
    real = 4.0;
    EXPECT_EQ(Text(ref), L"4");
    const _variant_t plain = ref.ByValue();
    EXPECT_EQ(plain.vt(), VT_R8);
    real = 5.0;
    EXPECT_EQ(plain.dblVal(), 4.0);
}

TEST(VariantDate, CalendarConversionsBothWays) {
    struct Case {
        DATE date;
        SYSTEMTIME time;
        int dayOfWeek;
    } cases[] = {
        {0, Time(1899, 12, 30), 6},         {2, Time(1900, 1, 1), 1},
        {61, Time(1900, 3, 1), 4},          {36585, Time(2000, 2, 29), 2},
        {45293.25, Time(2024, 1, 2, 6), 2}, {-1.25, Time(1899, 12, 29, 6), 5},
        {-657434, Time(100, 1, 1), 5},      {2958465 + 86399 / 86400.0, Time(9999, 12, 31, 23, 59, 59), 5},
    };
    for (Case c : cases) {
        SYSTEMTIME st;
        ASSERT_TRUE(VariantTimeToSystemTime(c.date, st)) << c.date;
        c.time.wDayOfWeek = static_cast<std::uint16_t>(c.dayOfWeek);
        EXPECT_EQ(Fields(st), Fields(c.time)) << c.date;
        DATE back = 12345;
        ASSERT_TRUE(SystemTimeToVariantTime(c.time, back)) << c.date;
        EXPECT_NEAR(back, c.date, 1e-9) << c.date;
    }
}

TEST(VariantDate, RoundsToTheNearestSecond) {
    const double second = 1.0 / 86400;
    const double base = 45293 + (23 * 3600 + 59 * 60 + 58) * second;  // 2024-01-02 23:59:58
    auto at = [](double date) {
        SYSTEMTIME st;
        EXPECT_TRUE(VariantTimeToSystemTime(date, st)) << date;
        return Fields(st);
    };
    EXPECT_EQ(at(base + 0.4 * second), "2024-1-2 23:59:58.0 2");
    EXPECT_EQ(at(base + 0.6 * second), "2024-1-2 23:59:59.0 2");
    // Rounding up the last second of a day moves to the next day.
    EXPECT_EQ(at(base + 1.7 * second), "2024-1-3 0:0:0.0 3");
    // Before 1899-12-30 the time counts away from zero, and so does its rounding.
    EXPECT_EQ(at(-2 - (6 * 3600 + 0.6) * second), "1899-12-28 6:0:1.0 4");
}

TEST(VariantDate, RejectsInvalidCalendarTimes) {
    DATE date = 0;
    for (const SYSTEMTIME& bad : {Time(2023, 2, 29), Time(1900, 2, 29), Time(2024, 4, 31), Time(2024, 13, 1),
                                  Time(2024, 0, 1), Time(2024, 1, 0), Time(2024, 1, 1, 24), Time(2024, 1, 1, 0, 60),
                                  Time(2024, 1, 1, 0, 0, 60), Time(99, 12, 31), Time(10000, 1, 1)})
        EXPECT_FALSE(SystemTimeToVariantTime(bad, date)) << Fields(bad);
    EXPECT_EQ(date, 0);
    EXPECT_TRUE(SystemTimeToVariantTime(Time(2000, 2, 29), date));

    SYSTEMTIME st;
    EXPECT_FALSE(VariantTimeToSystemTime(-657435, st));
    EXPECT_FALSE(VariantTimeToSystemTime(2958466, st));
    EXPECT_FALSE(VariantTimeToSystemTime(std::numeric_limits<double>::infinity(), st));
}

TEST(VariantDecimal, TextRoundTripsAtThe96BitLimit) {
    const wchar_t* texts[] = {
        L"79228162514264337593543950335",
        L"-79228162514264337593543950335",
        L"7.9228162514264337593543950335",
        L"-0.0000000000000000000000000001",
        L"18446744073709551616",
        L"18446744073709551615",
        L"-123.4500",
        L"0",
        L"0.000",
        L"1.0000000000000000000000000000",
    };
    for (const wchar_t* text : texts) {
        const DECIMAL d = Dec(text);
        EXPECT_EQ(DecimalToText(d), text);
    }
    auto parts = [](const DECIMAL& d) { return std::tuple(d.Hi32, d.Lo64, d.scale, d.sign); };
    EXPECT_EQ(parts(Dec(L"79228162514264337593543950335")), parts(DECIMAL{0, 0, 0xFFFFFFFFu, 0xFFFFFFFFFFFFFFFFull}));
    EXPECT_EQ(parts(Dec(L"18446744073709551616")), parts(DECIMAL{0, 0, 1, 0}));
    EXPECT_EQ(parts(Dec(L"-7.9228162514264337593543950335")),
              parts(DECIMAL{28, DECIMAL_NEG, 0xFFFFFFFFu, 0xFFFFFFFFFFFFFFFFull}));
}

TEST(VariantDecimal, ParsingNeverRounds) {
    DECIMAL d;
    EXPECT_FALSE(DecimalFromText(L"79228162514264337593543950336", d));
    EXPECT_FALSE(DecimalFromText(L"100000000000000000000000000000", d));
    EXPECT_FALSE(DecimalFromText(L"0.00000000000000000000000000001", d));  // 29 decimals
    EXPECT_FALSE(DecimalFromText(L"7.92281625142643375935439503351", d));  // 97 bits at scale 29
    // Zeros that end the fraction give way when the value would not fit otherwise.
    ASSERT_TRUE(DecimalFromText(L"79228162514264337593543950335.000", d));
    EXPECT_EQ(DecimalToText(d), L"79228162514264337593543950335");
    ASSERT_TRUE(DecimalFromText(L"1.50000000000000000000000000000000", d));
    EXPECT_EQ(d.scale, 28);
    ASSERT_TRUE(DecimalFromText(L" +001.50 ", d));
    EXPECT_EQ(DecimalToText(d), L"1.50");
    ASSERT_TRUE(DecimalFromText(L"1.5E+3", d));
    EXPECT_EQ(DecimalToText(d), L"1500");
    ASSERT_TRUE(DecimalFromText(L".5", d));
    EXPECT_EQ(DecimalToText(d), L"0.5");
    for (const wchar_t* bad : {L"", L"-", L".", L"1.2.3", L"abc", L"1e", L"12x", L"1,5", L"--1"})
        EXPECT_FALSE(DecimalFromText(bad, d)) << std::string(bad, bad + wcslen(bad));
}

TEST(VariantDecimal, ToDoubleIsTheNearestDouble) {
    EXPECT_EQ(DecimalToDouble(Dec(L"0.1")), 0.1);
    EXPECT_EQ(DecimalToDouble(Dec(L"-123.4500")), -123.45);
    EXPECT_EQ(DecimalToDouble(Dec(L"79228162514264337593543950335")), 7.922816251426434e28);
    EXPECT_EQ(DecimalToDouble(Dec(L"0.0000000000000000000000000001")), 1e-28);
    EXPECT_EQ(DecimalToDouble(Dec(L"9007199254740993")), 9007199254740992.0);
}
