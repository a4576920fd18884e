// Typed field values, variant conversions, paging, properties, chunks, text export and the field
// wrapper: the conversions on their own, the rest against SQLite always and PostgreSQL and
// MariaDB when tests/dbservers.sh runs them.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "backend_test.h"
#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/text.h"

using namespace zentra;
using testdb::BackendName;
using testdb::Kind;
using testdb::U8;

namespace {

constexpr VARTYPE kDispatch = 9;  // VT_DISPATCH
constexpr VARTYPE kUnknown = 13;  // VT_UNKNOWN
const wchar_t* const kNoItem =
    L"Item cannot be found in the collection corresponding to the requested name or ordinal.";

DECIMAL Dec(std::uint64_t mantissa, std::uint8_t scale, bool negative = false) {
    DECIMAL d;
    d.Lo64 = mantissa;
    d.scale = scale;
    d.sign = negative ? DECIMAL_NEG : 0;
    return d;
}

_variant_t Cy(std::int64_t tenThousandths) { return _variant_t::Currency(CY{tenThousandths}); }

// A field read through the typed getter for T, starting from `start` so an unwritten target shows.
template <class T, class Key>
T Got(CADORecordSet& rs, Key field, T start = T()) {
    EXPECT_EQ(1, rs.GetFieldValue(field, start)) << U8(rs.m_strLastError);
    return start;
}

// ---- conversions ----

TEST(VariantConversion, ToBoolAndToIntTakeTheirOwnForms) {
    VARIANT_BOOL target = VARIANT_FALSE;
    // A failure leaves the target as it was (true).
    struct BoolCase {
        _variant_t value;
        int ok;
        bool expected;
    };
    for (const BoolCase& c : {BoolCase{_variant_t(), 1, false},
                              {_variant_t::Null(), 1, false},
                              {_variant_t::Bool(true), 1, true},
                              {_variant_t::ByRef(VT_BOOL, &target), 1, false},
                              {_variant_t::I4(1), 0, true},
                              {_variant_t::Bstr(L"true"), 0, true},
                              {_variant_t::R8(1), 0, true},
                              {_variant_t::Int(0), 0, true}}) {
        SCOPED_TRACE(c.value.vt());
        bool b = c.ok ? !c.expected : true;
        EXPECT_EQ(c.ok, VariantToBool(c.value, b));
        EXPECT_EQ(c.expected, b);
    }
    struct IntCase {
        _variant_t value;
        int ok;
        int expected;
    };  // a failure leaves 0
    for (const IntCase& c : {IntCase{_variant_t::Null(), 1, 0},
                             {_variant_t::Bool(true), 1, 1},
                             {_variant_t::Bool(false), 1, 0},
                             {_variant_t::Int(-2000000000), 1, -2000000000},
                             {_variant_t::I2(-32768), 1, -32768},
                             {_variant_t::I4(70000), 1, 70000},
                             {_variant_t::R8(2.5), 1, 2} /* half to even */,
                             {_variant_t::Bstr(L" 41 "), 1, 41},
                             {_variant_t::I8(5000000000LL), 0, 0},
                             {_variant_t::Bstr(L"forty"), 0, 0}}) {
        SCOPED_TRACE(c.value.vt());
        int i = 7;
        EXPECT_EQ(c.ok, VariantToInt(c.value, i));
        EXPECT_EQ(c.expected, i);
    }
}

TEST(VariantConversion, ToLongAndULongFollowTheVariantCoercion) {
    struct Case {
        _variant_t value;
        bool longOk;
        long asLong;
        bool ulongOk;
        unsigned long asULong;
    };
    std::int32_t target = 123;
    const Case cases[] = {
        {_variant_t(), true, 0, true, 0},
        {_variant_t::ByRef(VT_I4, &target), true, 123, true, 123},
        {_variant_t::I4(-5), true, -5, false, 0},
        {_variant_t::UI4(4000000000u), false, 0, true, 4000000000ul},
        {_variant_t::I8(2147483647LL), true, 2147483647L, true, 2147483647ul},
        {_variant_t::I8(2147483648LL), false, 0, true, 2147483648ul},
        {_variant_t::I8(-2147483648LL), true, -2147483648L, false, 0},
        {_variant_t::UI8(5000000000ull), false, 0, false, 0},
        {_variant_t::I1(-3), true, -3, false, 0},
        {_variant_t::UI1(200), true, 200, true, 200},
        {_variant_t::R8(2.5), true, 2, true, 2},
        {_variant_t::R8(3.5), true, 4, true, 4},
        {_variant_t::R8(-2.5), true, -2, false, 0},
        {_variant_t::R8(-0.4), true, 0, true, 0},
        {_variant_t::R8(2.5000001), true, 3, true, 3},
        {_variant_t::R4(1.5f), true, 2, true, 2},
        {_variant_t::R8(1e300), false, 0, false, 0},
        {_variant_t::R8(NAN), false, 0, false, 0},
        {_variant_t::Date(1.75), true, 2, true, 2},
        {_variant_t::Bool(true), true, -1, true, 4294967295ul},
        {_variant_t::Bool(false), true, 0, true, 0},
        {Cy(25000), true, 2, true, 2},
        {Cy(35000), true, 4, true, 4},
        {Cy(-25001), true, -3, false, 0},
        {_variant_t::Decimal(Dec(125, 1)), true, 12, true, 12},
        {_variant_t::Decimal(Dec(135, 1)), true, 14, true, 14},
        {_variant_t::Decimal(Dec(123456781234ull, 4, true)), true, -12345678, false, 0},
        {_variant_t::Decimal(Dec(50000000000ull, 0)), false, 0, false, 0},
        {_variant_t::Bstr(L"1,234.5"), true, 1234, true, 1234},
        {_variant_t::Bstr(L"  -17  "), true, -17, false, 0},
        {_variant_t::Bstr(L"(42)"), true, -42, false, 0},
        {_variant_t::Bstr(L"12-"), true, -12, false, 0},
        {_variant_t::Bstr(L"$7"), true, 7, true, 7},
        {_variant_t::Bstr(L"1.5E3"), true, 1500, true, 1500},
        {_variant_t::Bstr(L"2.5e-1"), true, 0, true, 0},
        {_variant_t::Bstr(L"0.5000001"), true, 1, true, 1},
        {_variant_t::Bstr(L"4294967295"), false, 0, true, 4294967295ul},
        {_variant_t::Bstr(L"99999999999999999999999"), false, 0, false, 0},
        {_variant_t::Bstr(L""), false, 0, false, 0},
        {_variant_t::Bstr(L"12abc"), false, 0, false, 0},
        {_variant_t::Bstr(L"1.2.3"), false, 0, false, 0},
        {_variant_t::Bstr(L"-"), false, 0, false, 0},
        {_variant_t::Null(), false, 0, false, 0},
        {_variant_t::Error(DISP_E_PARAMNOTFOUND), false, 0, false, 0},
        {_variant_t::Bytes("ab", 2), false, 0, false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.vt());
        long l = 99;
        unsigned long u = 99;
        EXPECT_EQ(c.longOk ? 1 : 0, VariantToLong(c.value, l));
        EXPECT_EQ(c.asLong, l);
        EXPECT_EQ(c.ulongOk ? 1 : 0, VariantToULong(c.value, u));
        EXPECT_EQ(c.asULong, u);
    }
}

TEST(VariantConversion, ToDoubleReadsEveryNumericForm) {
    struct Case {
        _variant_t value;
        int ok;
        double expected;
    };  // a failure leaves 0
    const Case cases[] = {
        {_variant_t(), 1, 0.0},
        {_variant_t::Null(), 1, 0.0},
        {_variant_t::R8(0.1), 1, 0.1},
        {_variant_t::R4(0.5f), 1, 0.5},
        {_variant_t::I2(-7), 1, -7.0},
        {_variant_t::I4(123456), 1, 123456.0},
        {_variant_t::Int(-1), 1, -1.0},
        {_variant_t::UI1(255), 1, 255.0},
        {_variant_t::Decimal(Dec(1234567890125ull, 2)), 1, 12345678901.25},  // mantissa beyond 32 bits
        {_variant_t::Decimal(Dec(5, 1, true)), 1, -0.5},
        {_variant_t::Date(40178.5), 1, 40178.5},
        {_variant_t::I8(9007199254740993LL), 1, 9007199254740992.0},
        {_variant_t::UI4(4000000000u), 1, 4000000000.0},
        {Cy(-12345), 1, -1.2345},
        {_variant_t::Bool(true), 1, -1.0},
        {_variant_t::Bstr(L"2.5E-1"), 1, 0.25},
        {_variant_t::Bstr(L"-1,000.125"), 1, -1000.125},
        {_variant_t::Bstr(L"-123456789012345678901234567890123456789"), 1, -1.2345678901234568e38},
        {_variant_t::Bstr(L"abc"), 0, 0.0},
        {_variant_t::Error(0), 0, 0.0},
        {_variant_t::Bytes("x", 1), 0, 0.0},
        {_variant_t::Bstr(L"1e999"), 0, 0.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value.vt());
        double d = 5;
        EXPECT_EQ(c.ok, VariantToDouble(c.value, d));
        EXPECT_DOUBLE_EQ(c.expected, d);
    }
}

TEST(VariantConversion, ToDateTimeAndCurrencyTakeTheirOwnTypeOnly) {
    for (const _variant_t& v : {_variant_t::Date(40178.25), _variant_t::Null(), _variant_t(), _variant_t::R8(40178.25),
                                _variant_t::Bstr(L"12/31/2009")}) {
        SCOPED_TRACE(v.vt());
        COleDateTime dt;
        dt.m_dt = 3;
        const int ok = VariantToDateTime(v, dt);
        if (v.vt() == VT_DATE) {
            EXPECT_EQ(1, ok);
            EXPECT_EQ(COleDateTime::valid, dt.m_status);
            EXPECT_EQ(40178.25, dt.m_dt);
        } else if (v.vt() == VT_NULL || v.vt() == VT_EMPTY) {
            EXPECT_EQ(1, ok);
            EXPECT_EQ(COleDateTime::null, dt.m_status);
        } else {
            EXPECT_EQ(0, ok);
            EXPECT_EQ(COleDateTime::valid, dt.m_status);
            EXPECT_EQ(3.0, dt.m_dt) << "left as it was";
        }
    }

    COleCurrency cy;
    EXPECT_EQ(1, VariantToCurrency(Cy(125000), cy));
    EXPECT_EQ(COleCurrency::valid, cy.m_status);
    EXPECT_EQ(125000, cy.m_cur.int64);
    EXPECT_EQ(1, VariantToCurrency(_variant_t::Null(), cy));
    EXPECT_EQ(COleCurrency::null, cy.m_status);
    EXPECT_EQ(0, cy.m_cur.int64);
    cy.m_cur.int64 = 9;
    cy.m_status = COleCurrency::valid;
    EXPECT_EQ(0, VariantToCurrency(_variant_t::I4(12), cy));
    EXPECT_EQ(0, VariantToCurrency(_variant_t::Decimal(Dec(125, 1)), cy));
    EXPECT_EQ(9, cy.m_cur.int64);
}

TEST(VariantConversion, ToStringFollowsTheTypeTable) {
    struct Case {
        _variant_t value;
        int result;
        std::wstring text;
    };
    std::vector<Case> cases = {
        {_variant_t(), 1, L""},
        {_variant_t::Null(), 1, L""},
        {_variant_t::I2(-5), 1, L"-5"},
        {_variant_t::UI2(65535), 1, L"65535"},
        {_variant_t::Int(-2147483647), 1, L"-2147483647"},
        {_variant_t::UInt(4294967295u), 1, L"4294967295"},
        {_variant_t::I4(-2147483647 - 1), 1, L"-2147483648"},
        {_variant_t::UI4(4294967295u), 1, L"4294967295"},
        {_variant_t::I8(INT64_MIN), 1, L"-9223372036854775808"},
        {_variant_t::UI8(UINT64_MAX), 1, L"18446744073709551615"},
        {_variant_t::R4(0.1f), 1, L"0.1"},
        {_variant_t::R8(0.1), 1, L"0.1"},
        {_variant_t::R8(-1.5e20), 1, L"-1.5E+20"},
        {_variant_t::Decimal(Dec(12500, 3)), 1, L"12.5"},
        {Cy(125000), 1, L"12.5"},
        {Cy(-1), 1, L"-0.0001"},
        {_variant_t::Bstr(L"t\u00e9xt"), 1, L"t\u00e9xt"},
        {_variant_t::Bool(true), 1, L"1"},
        {_variant_t::Bool(false), 1, L"0"},
        {_variant_t::UI1(65), 1, L"A"},
        {_variant_t::I1(66), 1, L"B"},
        {_variant_t::UI1(0), 1, L""},
        {_variant_t::Bytes("AB", 2), 1, L"AB"},
        {_variant_t::Date(40178.5), 1, L""},  // dates are formatted by whoever shows them
        {_variant_t::Error(0), 0, L""},
        {_variant_t::Array(nullptr), 0, L""},
    };
    std::int8_t text[] = {'a', 'b', 'c', 0};
    cases.push_back({_variant_t::ByRef(VT_I1, text), 1, L"abc"});
    std::uint8_t byte = 67;
    cases.push_back({_variant_t::ByRef(VT_UI1, &byte), 1, L"C"});
    std::int32_t number = -12;
    cases.push_back({_variant_t::ByRef(VT_I4, &number), 1, L"-12"});
    double date = 40178.0;
    cases.push_back({_variant_t::ByRef(VT_DATE, &date), 1, L""});
    SAFEARRAY bytes;
    bytes.elementType = VT_UI1;
    bytes.bytes = {'x', 'y'};
    cases.push_back({_variant_t::ByRef(VT_ARRAY | VT_UI1, &bytes), 1, L"xy"});
    _variant_t inner = _variant_t::Bool(true);
    cases.push_back({_variant_t::ByRef(VT_VARIANT, &inner), 1, L"1"});
    int object = 0;  // an object reference: no text
    cases.push_back({_variant_t::ByRef(kDispatch, &object), 0, L""});
    cases.push_back({_variant_t::ByRef(kUnknown, &object), 0, L""});
    for (const Case& c : cases) {
        CString out = L"junk";
        SCOPED_TRACE(c.value.vt());
        EXPECT_EQ(c.result, VariantToString(c.value, out, 0));
        EXPECT_EQ(c.text, out);
    }
}

// ---- against the databases ----

class FieldValuesBackend : public testdb::BackendTest {
protected:
    FieldValuesBackend() : BackendTest(L"va_") {}
    bool pg() const { return postgres(); }
    std::wstring Hex(const std::string& hex) const {
        return pg() ? L"'\\x" + testdb::Widen(hex) + L"'::bytea" : L"x'" + testdb::Widen(hex) + L"'";
    }
    // Records n = 1..25, narrowed by `where`.
    std::wstring Numbers(const wchar_t* where = L"") const {
        return L"with recursive g(n) as (select 1 union all select n + 1 from g where n < 25) select n from g " +
               std::wstring(where) + L" order by n";
    }
};

TEST_P(FieldValuesBackend, TypedGettersReadEachKindOfColumn) {
    const std::wstring t = T(L"kinds");
    const std::wstring numeric = DecimalType(16, 4);
    const std::wstring stamp = Pick(L"timestamp", L"timestamp(0)", L"datetime");
    const std::wstring dbl = pg() ? L"double precision" : L"double";
    Recreate(t, L"id integer, i integer, s smallint, b bigint, d " + dbl + L", n " + numeric + L", v varchar(40), ts " +
                    stamp + L", bl " + BlobType());
    Exec(L"insert into " + t +
         L" values (1, 123456, -12, 9007199254740993, 2.5, 12345678.1234, 'text', "
         L"'2009-12-31 23:59:58', " +
         Hex("414243") + L")");
    Exec(L"insert into " + t + L" values (2, null, null, null, null, null, null, null, null)");
    CADORecordSet rs(&conn, 1);
    Query(rs, L"select i, s, b, d, n, v, ts, bl from " + t + L" order by id");

    // Each getter, by name and by position, over what the columns hold; the conversions themselves
    // are the VariantConversion cases.
    EXPECT_EQ(123456, Got<long>(rs, L"i"));
    EXPECT_EQ(123456u, Got<unsigned long>(rs, 0));
    EXPECT_EQ(123456, Got<int>(rs, L"i"));
    EXPECT_EQ(123456.0, Got<double>(rs, L"i"));
    EXPECT_EQ(L"123456", Got<CString>(rs, L"i"));
    EXPECT_EQ(-12, Got<long>(rs, 1));
    unsigned long ul = 77;
    EXPECT_EQ(0, rs.GetFieldValue(L"s", ul)) << "a negative number has no unsigned form";
    EXPECT_EQ(L"Type mismatch.", rs.m_strLastError);
    EXPECT_EQ(L"9007199254740993", Got<CString>(rs, L"b"));
    EXPECT_EQ(L"2.5", Got<CString>(rs, 3));
    EXPECT_NEAR(12345678.1234, Got<double>(rs, L"n"), 1e-6) << "the whole mantissa of the decimal";
    EXPECT_EQ(L"12345678.1234", Got<CString>(rs, L"n"));
    EXPECT_EQ(L"text", Got<CString>(rs, L"v"));
    const COleDateTime dt = Got<COleDateTime>(rs, L"ts");
    EXPECT_EQ(COleDateTime::valid, dt.m_status);
    EXPECT_NEAR(40178.0 + (23 * 3600 + 59 * 60 + 58) / 86400.0, dt.m_dt, 1e-6);
    EXPECT_EQ(L"ABC", Got<CString>(rs, L"bl"));
    EXPECT_EQ(0, rs.IsFieldNull(L"i"));
    EXPECT_EQ(0, rs.IsFieldEmpty(0));
    long l = 0;
    EXPECT_EQ(0, rs.GetFieldValue(L"nosuch", l));
    EXPECT_EQ(kNoItem, rs.m_strLastError);

    rs.MoveNext();
    for (int col = 0; col < 8; ++col) {
        SCOPED_TRACE(col);
        EXPECT_EQ(1, rs.IsFieldNull(col));
        EXPECT_EQ(1, rs.IsFieldEmpty(col));
        EXPECT_EQ(0, Got<long>(rs, col, 5));
        EXPECT_EQ(0u, Got<unsigned long>(rs, col, 5));
        EXPECT_EQ(0, Got<int>(rs, col, 5));
        EXPECT_FALSE(Got<bool>(rs, col, true));
        EXPECT_EQ(0.0, Got<double>(rs, col, 5.0));
        EXPECT_EQ(L"", Got<CString>(rs, col, L"junk"));
        EXPECT_EQ(COleDateTime::null, Got<COleDateTime>(rs, col).m_status);
        EXPECT_EQ(COleCurrency::null, Got<COleCurrency>(rs, col).m_status);
    }
    rs.MoveNext();
    EXPECT_EQ(0, rs.GetFieldValue(0, l)) << "no current record at EOF";
    EXPECT_EQ(0, rs.IsFieldNull(0));
}

TEST_P(FieldValuesBackend, BoolGetterLeavesTextAloneAndReadsNullAsFalse) {
    CADORecordSet rs(&conn, 1);
    Query(rs, L"select 'yes' as t, null as z");
    bool b = true;
    EXPECT_EQ(0, rs.GetFieldValue(L"t", b));
    EXPECT_TRUE(b) << "left as it was";
    EXPECT_FALSE(Got<bool>(rs, L"z", true));
}

TEST_P(FieldValuesBackend, PagesHoldPageSizeRecords) {
    CADORecordSet rs(&conn, 1);
    EXPECT_EQ(-1, rs.GetPageCount()) << "closed";
    EXPECT_EQ(-1, rs.GetPageSize());
    EXPECT_EQ(-1, rs.GetAbsolutePage());
    EXPECT_EQ(0, rs.SetPageSize(5));
    Query(rs, Numbers());
    ASSERT_EQ(25u, rs.GetRecordCount());
    EXPECT_EQ(10, rs.GetPageSize());
    EXPECT_EQ(3, rs.GetPageCount());
    EXPECT_EQ(1, rs.GetAbsolutePage());

    ASSERT_EQ(1, rs.SetAbsolutePage(3)) << U8(rs.m_strLastError);
    EXPECT_EQ(21, rs.GetAbsolutePosition());
    EXPECT_EQ(3, rs.GetAbsolutePage());
    EXPECT_EQ(21, Got<long>(rs, 0));
    EXPECT_EQ(0, rs.SetAbsolutePage(4));
    EXPECT_EQ(0, rs.SetAbsolutePage(0));
    EXPECT_EQ(21, rs.GetAbsolutePosition()) << "a page that does not exist does not move";

    ASSERT_EQ(1, rs.SetPageSize(7));
    EXPECT_EQ(0, rs.SetPageSize(0));
    EXPECT_EQ(7, rs.GetPageSize());
    EXPECT_EQ(4, rs.GetPageCount());
    EXPECT_EQ(3, rs.GetAbsolutePage()) << "record 21 is the last of page 3";
    ASSERT_EQ(1, rs.SetAbsolutePage(4));
    EXPECT_EQ(22, Got<long>(rs, 0));

    rs.MoveLast();
    rs.MoveNext();
    EXPECT_EQ(adPosEOF, rs.GetAbsolutePage());
    rs.MoveFirst();
    rs.MovePrevious();
    EXPECT_EQ(adPosBOF, rs.GetAbsolutePage());

    Query(rs, Numbers(L"where n > 100"));
    EXPECT_EQ(0, rs.GetPageCount());
    EXPECT_EQ(adPosBOF, rs.GetAbsolutePage());
    EXPECT_EQ(0, rs.SetAbsolutePage(1));
    rs.Close();
    EXPECT_EQ(-1, rs.GetPageCount());
}

TEST_P(FieldValuesBackend, FieldAndRecordsetProperties) {
    const std::wstring t = T(L"props");
    Recreate(t, L"id integer, amount " + DecimalType(10, 3));
    Exec(L"insert into " + t + L" values (1, 2.5)");
    CADORecordSet rs(&conn, 1);
    CString text;
    EXPECT_EQ(0, rs.GetProperties(L"Unique Table", text)) << "closed";
    Query(rs, L"select id, amount from " + t);
    // A property read as T; a failed read fails the test.
    auto prop = [&]<class T>(const wchar_t* name, T value) {
        EXPECT_EQ(1, rs.GetProperties(name, value)) << U8(name) << ": " << U8(rs.m_strLastError);
        return value;
    };
    auto fieldProp = [&]<class T>(const wchar_t* field, const wchar_t* name, T value) {
        EXPECT_EQ(1, rs.GetFieldProperties(field, name, value)) << U8(name) << ": " << U8(rs.m_strLastError);
        return value;
    };

    CADOFieldInfo info;
    ASSERT_EQ(1, rs.GetFieldInfo(L"amount", &info));
    long precision = 0, scale = 0, attributes = 0;
    ASSERT_EQ(1, rs.GetFieldPrecision(L"amount", precision));
    ASSERT_EQ(1, rs.GetFieldNumScale(L"AMOUNT", scale));
    ASSERT_EQ(1, rs.GetFieldAttributes(L"amount", attributes));
    EXPECT_EQ(info.m_nPrecision, precision);
    EXPECT_EQ(info.m_nNumericScale, scale);
    EXPECT_EQ(info.m_lAttributes, attributes);
    if (kind() != Kind::SQLite) {
        EXPECT_EQ(10, precision);
        EXPECT_EQ(3, scale);
    }
    EXPECT_EQ(0, rs.GetFieldPrecision(L"nosuch", precision));
    EXPECT_EQ(kNoItem, rs.m_strLastError);

    int flag = 5;
    fieldProp(L"id", L"BASECOLUMNNAME", text);
    fieldProp(L"id", L"basetablename", text);
    EXPECT_EQ(0, fieldProp(L"id", L"ISAUTOINCREMENT", 5));
    EXPECT_EQ(0, rs.GetFieldProperties(L"id", L"BASECOLUMNNAME", flag)) << "a text has no Boolean form";
    EXPECT_EQ(0, rs.SetFieldProperties(L"id", L"BASECOLUMNNAME", L"x")) << "read-only";
    EXPECT_EQ(0, fieldProp(L"id", L"Optimize", 5));
    ASSERT_EQ(1, rs.SetFieldProperties(L"id", L"Optimize", 1));
    EXPECT_EQ(-1, fieldProp(L"id", L"optimize", 5));
    EXPECT_EQ(L"True", fieldProp(L"id", L"Optimize", CString()));
    EXPECT_EQ(0, fieldProp(L"amount", L"Optimize", 5)) << "per field";
    ASSERT_EQ(1, rs.SetFieldProperties(L"id", L"Optimize", L"false"));
    EXPECT_EQ(0, fieldProp(L"id", L"Optimize", 5));
    EXPECT_EQ(0, rs.SetFieldProperties(L"id", L"Optimize", L"maybe"));
    EXPECT_EQ(0, rs.GetFieldProperties(L"id", L"No Such Property", text));
    EXPECT_EQ(kNoItem, rs.m_strLastError);
    EXPECT_EQ(0, rs.GetFieldProperties(L"nosuch", L"Optimize", text));

    EXPECT_EQ(L"", prop(L"Unique Table", CString(L"junk")));
    ASSERT_EQ(1, rs.SetProperties(L"unique table", t.c_str()));
    EXPECT_EQ(t, prop(L"Unique Table", CString()));
    CADORecordSet copy(rs);
    ASSERT_EQ(1, copy.GetProperties(L"UNIQUE TABLE", text));
    EXPECT_EQ(t, text) << "copies share the result and its properties";
    EXPECT_EQ(0, rs.GetProperties(L"Unique Table", flag)) << "a text has no Boolean form";
    EXPECT_EQ(0, rs.SetProperties(L"Unique Schema", 1));

    EXPECT_EQ(2, prop(L"Update Criteria", 5));
    EXPECT_EQ(0, rs.SetProperties(L"Update Criteria", L"9"));
    EXPECT_EQ(0, rs.SetProperties(L"Update Criteria", L"all"));
    ASSERT_EQ(1, rs.SetProperties(L"Update Criteria", L"1"));
    EXPECT_EQ(1, prop(L"Update Criteria", 5));
    EXPECT_EQ(0, rs.SetProperties(L"Update Criteria", 3)) << "time stamps are not used to find rows";
    EXPECT_EQ(L"1", prop(L"Update Criteria", CString()));
    EXPECT_EQ(-1, prop(L"Bookmarkable", 5));
    EXPECT_EQ(L"False", prop(L"Server Cursor", CString()));
    EXPECT_EQ(0, rs.SetProperties(L"Bookmarkable", 0)) << "read-only";
    EXPECT_EQ(0, rs.SetProperties(L"Maximum Rows", L"10"));
    EXPECT_EQ(0, prop(L"Maximum Rows", 5));
    EXPECT_EQ(0, rs.GetProperties(L"No Such Property", text));
    EXPECT_EQ(kNoItem, rs.m_strLastError);
    EXPECT_EQ(0, rs.SetProperties(nullptr, L"x"));
}

TEST_P(FieldValuesBackend, GetStringExportsFromTheCurrentRecord) {
    CADORecordSet rs(&conn, 1);
    Query(rs,
          L"select 1 as a, 'x' as b, null as c union all select 2, 'y', 'z' union all select 3, 'w', null order by 1");
    EXPECT_EQ(L"1\tx\t\r2\ty\tz\r3\tw\t\r", rs.GetString(L"", L"", L"", 0)) << "tab and carriage return";
    EXPECT_EQ(1, rs.IsEOF()) << "the position ends after what was read";
    EXPECT_EQ(L"", rs.GetString(L"", L"", L"", 0));
    EXPECT_FALSE(rs.m_strLastError.empty());

    rs.MoveFirst();
    EXPECT_EQ(L"1;x;<null>|", rs.GetString(L";", L"|", L"<null>", 1));
    EXPECT_EQ(2, rs.GetAbsolutePosition());
    EXPECT_EQ(L"2, y, z\n3, w, NULL\n", rs.GetString(L", ", L"\n", L"NULL", 10)) << "as many as there are";
    EXPECT_EQ(1, rs.IsEOF());
    rs.MoveFirst();
    rs.MoveNext();
    EXPECT_EQ(L"2,y,z\n", rs.GetString(L",", L"\n", nullptr, 1));
    EXPECT_EQ(L"3,w,\n", rs.GetString(L",", L"\n", nullptr, -1));
    rs.Close();
    EXPECT_EQ(L"", rs.GetString(L"", L"", L"", 0));
}

TEST_P(FieldValuesBackend, GetChunkCopiesWholeValuesInPieces) {
    const std::wstring t = T(L"chunks");
    Recreate(t, L"id integer, b " + BlobType() + L", t " + TextType() + L", n integer");
    std::string hex;
    std::vector<std::uint8_t> bytes;
    for (int i = 0; i < 250; ++i) {
        bytes.push_back(static_cast<std::uint8_t>(i));
        static const char digits[] = "0123456789abcdef";
        hex += digits[i >> 4];
        hex += digits[i & 15];
    }
    std::wstring text;
    for (int i = 0; i < 30; ++i) text += L"abc\u00e9\u20ac";  // 150 characters, 300 bytes as UTF-16
    Exec(L"insert into " + t + L" values (1, " + Hex(hex) + L", '" + text + L"', 7)");
    Exec(L"insert into " + t + L" values (2, null, null, null)");
    CADORecordSet rs(&conn, 1);
    Query(rs, L"select b, t, n from " + t + L" order by id");

    constexpr std::size_t kGuard = 16;
    ASSERT_EQ(250, rs.GetChunkSize(L"b"));
    std::vector<std::uint8_t> buffer(250 + kGuard, 0xEE);
    ASSERT_EQ(1, rs.GetChunk(L"b", buffer.data())) << U8(rs.m_strLastError);
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), buffer.begin()));
    for (std::size_t i = 250; i < buffer.size(); ++i) ASSERT_EQ(0xEE, buffer[i]) << "written past the value at " << i;
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    ASSERT_EQ(1, rs.GetChunk(0, buffer.data()));
    EXPECT_TRUE(std::equal(bytes.begin(), bytes.end(), buffer.begin()));

    // Text arrives as UTF-16 code units, never more bytes than GetChunkSize promises.
    const long room = rs.GetChunkSize(L"t");
    ASSERT_GT(room, 0);
    std::vector<std::uint8_t> textBuffer(static_cast<std::size_t>(room) + kGuard, 0xEE);
    const int got = rs.GetChunk(L"t", textBuffer.data());
    for (std::size_t i = static_cast<std::size_t>(room); i < textBuffer.size(); ++i)
        ASSERT_EQ(0xEE, textBuffer[i]) << "written past GetChunkSize at " << i;
    const std::u16string units = WideToUtf16(text);
    if (room >= static_cast<long>(units.size() * 2)) {
        ASSERT_EQ(1, got) << U8(rs.m_strLastError);
        EXPECT_EQ(0, std::memcmp(units.data(), textBuffer.data(), units.size() * 2));
    } else {
        EXPECT_EQ(0, got) << "a text that does not fit fails";
        EXPECT_FALSE(rs.m_strLastError.empty());
    }

    EXPECT_EQ(0, rs.GetChunk(L"n", buffer.data())) << "a number is not long data";
    EXPECT_EQ(0, rs.GetChunk(L"nosuch", buffer.data()));
    rs.MoveNext();
    std::fill(buffer.begin(), buffer.end(), 0xEE);
    EXPECT_EQ(1, rs.GetChunk(L"b", buffer.data())) << "a null value copies nothing";
    EXPECT_EQ(0xEE, buffer[0]);
    EXPECT_EQ(1, rs.GetChunk(L"t", nullptr));
}

// ---- CADOField ----

// A field's value read as T; a failed read fails the test.
template <class T>
T Val(CADOField& field, T start = T()) {
    EXPECT_EQ(1, field.GetValue(start)) << U8(field.GetLastErrorString());
    return start;
}

class ADOFieldBackend : public FieldValuesBackend {
protected:
    void SetUp() override {
        FieldValuesBackend::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        Recreate(T(L"fields"),
                 std::wstring(L"id integer, name varchar(20), amount ") + (pg() ? L"double precision" : L"double"));
        Exec(L"insert into " + T(L"fields") + L" values (1, 'one', 1.5), (2, null, 2.5)");
    }
    void Open(CADORecordSet& rs) { Query(rs, L"select id, name, amount from " + T(L"fields") + L" order by id"); }
};

TEST_P(ADOFieldBackend, ReadsTheCurrentRecordOfItsRecordset) {
    CADORecordSet rs(&conn, 1);
    Open(rs);
    CADOField id, name, amount;
    id.Attach(rs.GetField(0));
    name.Attach(rs.GetField(L"NAME"));
    amount.Attach(rs.GetField(2));
    ASSERT_TRUE(id.GetFieldPtr() && name.GetFieldPtr() && amount.GetFieldPtr());

    EXPECT_EQ(L"name", name.GetName());
    EXPECT_TRUE(name.GetType() == adVarChar || name.GetType() == adVarWChar) << name.GetType();
    EXPECT_EQ(adInteger, id.GetType());
    EXPECT_EQ(20, name.GetDefinedSize());
    EXPECT_EQ(3, name.GetActualSize());
    CADOFieldInfo info;
    ASSERT_EQ(1, rs.GetFieldInfo(1L, &info));
    EXPECT_EQ(info.m_lAttributes, name.GetAttributes());

    int i = 5;
    double d = 0;
    float f = 0;
    CString text;
    COleDateTime dt;
    _variant_t v;
    EXPECT_EQ(1, Val<long>(id));
    EXPECT_EQ(0, id.GetValue(i)) << "an integer column is not a 16-bit value";
    EXPECT_EQ(5, i);
    EXPECT_EQ(L"[80020005] Type mismatch.", id.GetLastErrorString());
    EXPECT_EQ(0x80020005u, id.GetLastError());
    EXPECT_EQ(0, id.GetValue(d));
    EXPECT_EQ(0, id.GetValue(text));
    EXPECT_EQ(L"one", Val<CString>(name));
    EXPECT_EQ(1.5, Val<double>(amount));
    EXPECT_EQ(0, amount.GetValue(f));
    EXPECT_EQ(0, amount.GetValue(dt));
    EXPECT_EQ(VT_R8, Val<_variant_t>(amount).vt());
    EXPECT_EQ(L"one", name.GetOriginalVal());
    EXPECT_EQ(L"1", id.GetUnderlyingValue());

    CString property;
    bool flag = true;
    EXPECT_EQ(1, id.GetProperties(L"BASECOLUMNNAME", property)) << U8(id.GetLastErrorString());
    ASSERT_EQ(1, id.GetProperties(L"ISAUTOINCREMENT", flag));
    EXPECT_FALSE(flag);
    EXPECT_EQ(0, id.GetProperties(L"BASETABLENAME", flag)) << "a text is not a Boolean";
    EXPECT_EQ(0, id.GetProperties(L"No Such Property", property));
    EXPECT_EQ(L"[80070057] " + std::wstring(kNoItem), id.GetLastErrorString());

    EXPECT_EQ(0, name.SetValue(CString(L"uno"))) << "only during Edit or AddNew";
    EXPECT_EQ(L"[800A0C93] Operation is not allowed in this context.", name.GetLastErrorString());
    EXPECT_EQ(L"one", Val<CString>(name));

    rs.MoveNext();
    EXPECT_EQ(2, Val<long>(id)) << "the field follows the recordset's position";
    EXPECT_EQ(0, name.GetValue(text)) << "null is not a text";
    EXPECT_EQ(VT_NULL, Val<_variant_t>(name).vt());
    EXPECT_EQ(0, name.GetActualSize());
    EXPECT_EQ(L"", name.GetOriginalVal());
    rs.MoveNext();
    long l = 0;
    EXPECT_EQ(0, id.GetValue(l)) << "EOF";
    EXPECT_EQ(-1, name.GetActualSize());
    EXPECT_EQ(L"", name.GetOriginalVal());
    EXPECT_FALSE(name.GetLastErrorString().empty());

    EXPECT_EQ(nullptr, rs.GetField(3));
    EXPECT_EQ(kNoItem, rs.m_strLastError);
    EXPECT_EQ(nullptr, rs.GetField(L"nosuch"));
    CADOField empty;
    EXPECT_EQ(L"", empty.GetName());
    EXPECT_EQ(L"[80004003] No field is attached.", empty.GetLastErrorString());
    EXPECT_EQ(0, empty.GetValue(v));
}

TEST_P(ADOFieldBackend, ClosedReopenedOrDestroyedRecordsetFailsCleanly) {
    CADORecordSet rs(&conn, 1);
    Open(rs);
    CADOField field;
    field.Attach(rs.GetField(1));
    CString text;
    ASSERT_EQ(L"one", Val<CString>(field));

    rs.Close();
    EXPECT_EQ(nullptr, rs.GetField(0));
    EXPECT_EQ(L"", field.GetName());
    EXPECT_NE(CString::npos, field.GetLastErrorString().find(L"closed or reopened")) << U8(field.GetLastErrorString());
    EXPECT_EQ(0, field.GetValue(text));
    EXPECT_EQ(-1, field.GetActualSize());
    EXPECT_EQ(-1, field.GetDefinedSize());
    EXPECT_EQ(adEmpty, field.GetType());
    EXPECT_EQ(L"", field.GetOriginalVal());
    EXPECT_EQ(0, field.SetValue(1.5));

    Open(rs);
    EXPECT_EQ(L"", field.GetName()) << "a new result is not the field's";
    EXPECT_EQ(0, field.GetValue(text));
    CADOField again;
    again.Attach(rs.GetField(1));
    EXPECT_EQ(L"one", Val<CString>(again));

    // The owner goes while a copy keeps its result alive: the field must not reach the owner.
    auto owner = std::make_unique<CADORecordSet>(&conn, 1);
    Open(*owner);
    CADOField orphan, fromCopy;
    orphan.Attach(owner->GetField(L"name"));
    CADORecordSet copy(*owner);
    fromCopy.Attach(copy.GetField(L"name"));
    owner.reset();
    EXPECT_EQ(L"", orphan.GetName());
    EXPECT_NE(CString::npos, orphan.GetLastErrorString().find(L"no longer exists")) << U8(orphan.GetLastErrorString());
    EXPECT_EQ(0, orphan.GetValue(text));
    EXPECT_EQ(L"one", Val<CString>(fromCopy));
}

TEST_P(ADOFieldBackend, PendingValuesDuringAnEdit) {
    CADORecordSet rs(&conn, 1);
    Open(rs);
    CADOField name, id;
    name.Attach(rs.GetField(1));
    id.Attach(rs.GetField(0));
    ASSERT_EQ(1, rs.Edit());
    ASSERT_EQ(1, name.SetValue(CString(L"uno"))) << U8(name.GetLastErrorString());
    ASSERT_EQ(1, id.SetValue(70000)) << "an int beyond 16 bits keeps its value";
    EXPECT_EQ(L"uno", Val<CString>(name));
    EXPECT_EQ(70000, Got<long>(rs, L"id"));
    EXPECT_EQ(L"one", name.GetOriginalVal()) << "as read from the database";
    EXPECT_EQ(L"uno", Got<CString>(rs, L"name")) << "the typed getters see the pending value";
    ASSERT_EQ(1, rs.CancelUpdate()) << U8(rs.m_strLastError);
    EXPECT_EQ(L"one", Val<CString>(name));

    // A batch change kept in the recordset: the original stays what the database holds.
    ASSERT_EQ(1, rs.Edit());
    ASSERT_EQ(1, name.SetValue(CString(L"eins")));
    ASSERT_EQ(1, rs.Update()) << U8(rs.m_strLastError);
    EXPECT_EQ(L"eins", Val<CString>(name));
    EXPECT_EQ(L"one", name.GetOriginalVal());
    EXPECT_EQ(L"one", name.GetUnderlyingValue());
    ASSERT_EQ(1, rs.CancelBatch()) << U8(rs.m_strLastError);
    EXPECT_EQ(L"one", Val<CString>(name));
    EXPECT_EQ(L"one", name.GetOriginalVal());
}

INSTANTIATE_TEST_SUITE_P(Backends, FieldValuesBackend, ::testing::ValuesIn(testdb::Backends()), BackendName);
INSTANTIATE_TEST_SUITE_P(Backends, ADOFieldBackend, ::testing::ValuesIn(testdb::Backends()), BackendName);

}  // namespace
