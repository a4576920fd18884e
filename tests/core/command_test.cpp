// Commands with parameters against real databases: SQLite always, PostgreSQL (Unicode and ANSI
// drivers) and MariaDB when tests/dbservers.sh runs them.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>

#include "../../core/dataaccess/parameter_core.h"
#include "backend_test.h"
#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/text.h"
#include "zentra/values.h"

using namespace zentra;
using testdb::BackendName;
using testdb::Kind;
using testdb::U8;

namespace {

DATE MakeDate(std::uint16_t y, std::uint16_t mo, std::uint16_t d, std::uint16_t h = 0, std::uint16_t mi = 0,
              std::uint16_t s = 0, std::uint16_t ms = 0) {
    const SYSTEMTIME st{y, mo, 0, d, h, mi, s, ms};
    DATE date = 0;
    EXPECT_EQ(1, SystemTimeToVariantTimeWithMilliseconds(st, date));
    return date;
}

std::wstring Text(const _variant_t& v) {
    std::wstring text;
    VariantToText(v, text);
    return text;
}

// A parameter's value; a failed read fails the test.
template <class Key>
_variant_t Param(CADOCommand& cmd, Key key) {
    _variant_t v = _variant_t::Error(0);
    EXPECT_EQ(1, cmd.GetParameterValue(key, v)) << U8(cmd.m_strLastError);
    return v;
}

// A field of the current record; a failed read fails the test.
_variant_t Value(CADORecordSet& rs, const wchar_t* field) {
    _variant_t v = _variant_t::Error(0);
    EXPECT_EQ(1, rs.GetFieldValue(field, v)) << U8(field) << ": " << U8(rs.m_strLastError);
    return v;
}

// ---- without a database ----

TEST(CommandParameters, NullParameterIsVariableTextOfSeventeenHoldingNull) {
    CADOCommand cmd(nullptr, L"select ?");
    ASSERT_EQ(1, cmd.AddNullParameter(L"nothing", adParamInput));
    ASSERT_EQ(1, cmd.AddEmptyParameter(L"blank", adParamInputOutput));
    ASSERT_EQ(2, cmd.GetParameterCount());

    _ParameterPtr p = cmd.GetParameter(L"nothing");
    ASSERT_NE(nullptr, p);
    EXPECT_EQ(adVarChar, p->type);
    EXPECT_EQ(17, p->size);
    EXPECT_EQ(adParamInput, p->direction);
    EXPECT_EQ(VT_NULL, p->value.vt());

    _ParameterPtr e = cmd.GetParameter(1);
    ASSERT_NE(nullptr, e);
    EXPECT_EQ(L"blank", e->name);
    EXPECT_EQ(adChar, e->type);
    EXPECT_EQ(1, e->size);
    EXPECT_EQ(adParamInputOutput, e->direction);
    ASSERT_EQ(VT_BSTR, e->value.vt());
    EXPECT_EQ(L"", e->value.bstrVal());
}

TEST(CommandParameters, TypedFormsBuildTheirVariants) {
    CADOCommand cmd(nullptr, L"x");
    ASSERT_EQ(1, cmd.AddParameter(L"i", adInteger, adParamInput, 0, 7));
    ASSERT_EQ(1, cmd.AddParameter(L"l", adBigInt, adParamInput, 0, 5000000000L));
    ASSERT_EQ(1, cmd.AddParameter(L"d", adNumeric, adParamInput, 0, 2.5, 10, 3));
    ASSERT_EQ(1, cmd.AddParameter(L"t", adVarWChar, adParamInput, 20, L"abc"));
    ASSERT_EQ(1, cmd.AddParameter(L"n", adVarWChar, adParamInput, 20, static_cast<const wchar_t*>(nullptr)));
    COleDateTime when;
    when.m_dt = MakeDate(2024, 2, 29, 13, 45, 0);
    ASSERT_EQ(1, cmd.AddParameter(L"w", adDBTimeStamp, adParamInput, 0, when));
    COleDateTime none;
    none.m_status = COleDateTime::null;
    ASSERT_EQ(1, cmd.AddParameter(L"nw", adDBTimeStamp, adParamInput, 0, none));

    EXPECT_EQ(VT_I4, Param(cmd, L"I").vt()) << "names compare without case";
    EXPECT_EQ(7, Param(cmd, L"i").intVal());
    EXPECT_EQ(VT_I8, Param(cmd, 1).vt());
    EXPECT_EQ(5000000000LL, Param(cmd, 1).intVal());
    EXPECT_EQ(VT_R8, Param(cmd, L"d").vt());
    EXPECT_EQ(10, cmd.GetParameter(L"d")->precision);
    EXPECT_EQ(3, cmd.GetParameter(L"d")->scale);
    EXPECT_EQ(L"abc", Param(cmd, L"t").bstrVal());
    EXPECT_EQ(VT_NULL, Param(cmd, L"n").vt());
    EXPECT_EQ(VT_DATE, Param(cmd, L"w").vt());
    EXPECT_EQ(when.m_dt, Param(cmd, L"w").dblVal());
    EXPECT_EQ(VT_NULL, Param(cmd, L"nw").vt());

    ASSERT_EQ(1, cmd.SetParameterValue(L"i", 9L));
    ASSERT_EQ(1, cmd.SetParameterValue(L"t", L"xyz"));
    ASSERT_EQ(1, cmd.SetParameterValue(L"d", 1.25));
    ASSERT_EQ(1, cmd.SetParameterValue(0, _variant_t::I2(3)));
    EXPECT_EQ(VT_I2, Param(cmd, L"i").vt());
    EXPECT_EQ(L"xyz", Param(cmd, L"t").bstrVal());
}

TEST(CommandParameters, UnknownKeysAndBadArgumentsFailAndAreRecorded) {
    CADOCommand cmd(nullptr, L"x");
    ASSERT_EQ(1, cmd.AddParameter(L"a", adInteger, adParamInput, 0, 1));
    _variant_t v;
    EXPECT_EQ(nullptr, cmd.GetParameter(L"b"));
    EXPECT_EQ(ZE_INVALIDARG, cmd.m_dwLastError);
    EXPECT_EQ(L"Item cannot be found in the collection corresponding to the requested name or ordinal.",
              cmd.m_strLastError);
    cmd.m_dwLastError = 0;
    EXPECT_EQ(nullptr, cmd.GetParameter(1));
    EXPECT_EQ(ZE_INVALIDARG, cmd.m_dwLastError);
    EXPECT_EQ(nullptr, cmd.GetParameter(-1));
    EXPECT_EQ(nullptr, cmd.GetParameter(static_cast<const wchar_t*>(nullptr)));
    EXPECT_EQ(0, cmd.GetParameterValue(3, v));
    EXPECT_EQ(0, cmd.GetParameterValue(L"zz", v));
    EXPECT_EQ(0, cmd.SetParameterValue(L"zz", 1));
    EXPECT_EQ(0, cmd.SetParameterValue(1, _variant_t::I4(1)));

    // Not a DataTypeEnum value, not a direction, a negative size: nothing is appended.
    EXPECT_EQ(0, cmd.AddParameter(L"x", 999, adParamInput, 0, 1));
    EXPECT_EQ(0, cmd.AddParameter(L"x", adInteger, 7, 0, 1));
    EXPECT_EQ(0, cmd.AddParameter(L"x", adVarChar, adParamInput, -1, L"a"));
    EXPECT_EQ(ZE_INVALIDARG, cmd.m_dwLastError);
    EXPECT_EQ(0, cmd.AddParameter(static_cast<CADOParameter*>(nullptr)));
    EXPECT_EQ(0, cmd.AddParameter(_ParameterPtr()));
    EXPECT_EQ(1, cmd.GetParameterCount());
}

TEST(CommandParameters, ParameterObjectsAreSharedWithTheCommand) {
    CADOParameter param(adVarWChar, 30, adParamInput, L"who");
    EXPECT_EQ(L"who", param.GetName());
    ASSERT_EQ(1, param.SetValue(_variant_t::Bstr(L"first")));
    param.SetPrecision(8);
    param.SetScale(2);
    CADOCommand cmd(nullptr, L"x");
    ASSERT_EQ(1, cmd.AddParameter(&param));
    ASSERT_EQ(1, cmd.AddParameter(CADOParameter(adInteger, 0, adParamOutput, L"out").GetParameter()));
    EXPECT_EQ(2, cmd.GetParameterCount());
    EXPECT_EQ(param.GetParameter(), cmd.GetParameter(L"who"));
    EXPECT_EQ(8, cmd.GetParameter(0)->precision);
    EXPECT_EQ(2, cmd.GetParameter(0)->scale);

    ASSERT_EQ(1, cmd.SetParameterValue(L"who", L"second"));
    _variant_t v;
    ASSERT_EQ(1, param.GetValue(v));
    EXPECT_EQ(L"second", v.bstrVal());
    EXPECT_EQ(adParamOutput, cmd.GetParameter(L"out")->direction);
}

// ---- on every backend ----

class CommandBackend : public testdb::BackendTest {
protected:
    CommandBackend() : BackendTest(L"cm_") {}

    // The first field of the first row of `cmd`'s result.
    _variant_t Single(CADOCommand& cmd) {
        CADORecordSet rs(&conn, 1);
        _variant_t v = _variant_t::Error(0);
        EXPECT_EQ(1, rs.Execute(&cmd, nullptr)) << U8(cmd.GetText()) << ": " << U8(rs.m_strLastError);
        if (rs.IsOpen() && !rs.IsEOF()) {
            EXPECT_EQ(1, rs.GetFieldValue(0, v));
        }
        return v;
    }
    // The procedure `proc`(in a, out b, out c numeric, out d timestamp, inout e) and a command that
    // calls it with a = "xé" and e = 21: psqlodbc runs {call} as a SELECT, which PostgreSQL refuses for
    // a procedure, so a CALL statement returns the output values there; MariaDB's driver takes the ODBC call.
    CADOCommand Outs(const std::wstring& proc) {
        if (postgres())
            CreateProcedure(proc, L"in a text, out b text, out c numeric, out d timestamp, inout e integer",
                            L"$$ begin b := a || 'ü東'; c := 12.5; d := '2020-01-02 03:04:05.678'; e := e * 2; end $$",
                            L"plpgsql");
        else
            CreateProcedure(proc,
                            L"in a varchar(20), out b varchar(20), out c decimal(10,2), out d datetime(3), inout e int",
                            L"begin select a as echoed; set b = concat(a, 'ü東'); set c = 12.5; "
                            L"set d = '2020-01-02 03:04:05.678'; set e = e * 2; end");
        const std::wstring callText = postgres() ? L"call " + proc + L"(?, ?, ?, ?, ?)" : proc;
        CADOCommand outs(&conn, callText, postgres() ? adCmdText : adCmdStoredProc);
        EXPECT_EQ(1, outs.AddParameter(L"a", adVarWChar, adParamInput, 20, L"xé"));
        EXPECT_EQ(1, outs.AddParameter(L"b", adVarWChar, adParamOutput, 20, _variant_t()));
        EXPECT_EQ(1, outs.AddParameter(L"c", adNumeric, adParamOutput, 0, _variant_t(), 10, 2));
        EXPECT_EQ(1, outs.AddParameter(L"d", adDBTimeStamp, adParamOutput, 0, _variant_t()));
        EXPECT_EQ(1, outs.AddParameter(L"e", adInteger, adParamInputOutput, 0, 21));
        return outs;
    }
};

TEST_P(CommandBackend, SelectMarkerReturnsEachInputValue) {
    // A cast tells every DBMS the result type of the marker.
    auto cast = [&](const wchar_t* sqlType, const wchar_t* mariaType) {
        if (kind() == Kind::SQLite) return std::wstring(L"select ?");
        return L"select cast(? as " + std::wstring(kind() == Kind::MariaDB ? mariaType : sqlType) + L")";
    };
    const std::wstring text = L"Grüße, 東京 — ąčę 🙂";
    struct Case {
        const wchar_t* sqlType;
        const wchar_t* mariaType;
        int type;
        long size;
        _variant_t value;
        int precision, scale;
        std::wstring expected;
    };
    const Case cases[] = {
        {L"integer", L"signed", adInteger, 0, _variant_t::I4(-123456), 0, 0, L"-123456"},
        {L"bigint", L"signed", adBigInt, 0, _variant_t::I8(-9000000000123LL), 0, 0, L"-9000000000123"},
        {L"double precision", L"double", adDouble, 0, _variant_t::R8(0.125), 0, 0, L"0.125"},
        {L"numeric(12,4)", L"decimal(12,4)", adNumeric, 0, _variant_t::Bstr(L"-12345678.9012"), 12, 4,
         L"-12345678.9012"},
        {L"varchar(100)", L"char(100)", adVarWChar, 100, _variant_t::Bstr(text), 0, 0, text},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(U8(c.sqlType));
        // SQLite's driver describes an expression as a 32-bit integer.
        if (c.type == adBigInt && kind() == Kind::SQLite) continue;
        CADOCommand cmd(&conn, cast(c.sqlType, c.mariaType));
        ASSERT_EQ(1, cmd.AddParameter(L"v", c.type, adParamInput, c.size, c.value, c.precision, c.scale));
        const _variant_t v = Single(cmd);
        EXPECT_EQ(c.expected, Text(v));
        if (c.type == adVarWChar) {
            EXPECT_EQ(VT_BSTR, v.vt());
        }
    }
    for (bool truth : {true, false}) {
        CADOCommand cmd(&conn, L"select case when ? then 'yes' else 'no' end");
        ASSERT_EQ(1, cmd.AddParameter(L"v", adBoolean, adParamInput, 0, _variant_t::Bool(truth)));
        EXPECT_EQ(truth ? L"yes" : L"no", Text(Single(cmd)));
    }
    CADOCommand null(&conn, cast(L"varchar(10)", L"char(10)")), empty(&conn, cast(L"varchar(10)", L"char(10)"));
    ASSERT_EQ(1, null.AddNullParameter(L"v", adParamInput));
    EXPECT_EQ(VT_NULL, Single(null).vt());
    ASSERT_EQ(1, empty.AddEmptyParameter(L"v", adParamInput));
    const _variant_t v = Single(empty);
    ASSERT_EQ(VT_BSTR, v.vt()) << "an empty text, not a null as Oracle-style DBMSs would make it";
    EXPECT_EQ(L"", v.bstrVal());
}

TEST_P(CommandBackend, InsertedParametersReadBackWithTheirTypes) {
    const std::wstring table = T(L"types");
    const std::wstring binary = Pick(L"blob", L"bytea", L"varbinary(64)");
    const std::wstring dbl = Pick(L"double precision", L"double precision", L"double");
    const std::wstring stamp = Pick(L"timestamp", L"timestamp", L"datetime(3)");
    Recreate(table, L"id integer, i integer, b bigint, d " + dbl +
                        L", n numeric(12,4), t varchar(60), dt date, tm time, ts " + stamp + L", bin " + binary +
                        L", flag smallint");

    CADOCommand insert(&conn, L"insert into " + table + L" values (?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)");
    const unsigned char bytes[] = {0, 1, 2, 0x7f, 0x80, 0xfe, 0xff, 0, 39, 92};
    ASSERT_EQ(1, insert.AddParameter(L"id", adInteger, adParamInput, 0, 1));
    ASSERT_EQ(1, insert.AddParameter(L"i", adInteger, adParamInput, 0, 2147483647));
    ASSERT_EQ(1, insert.AddParameter(L"b", adBigInt, adParamInput, 0, _variant_t::I8(-9223372036854775807LL)));
    ASSERT_EQ(1, insert.AddParameter(L"d", adDouble, adParamInput, 0, 1.0 / 3.0));
    ASSERT_EQ(1, insert.AddParameter(L"n", adNumeric, adParamInput, 0, 1234.5678, 12, 4));
    ASSERT_EQ(1, insert.AddParameter(L"t", adVarWChar, adParamInput, 60, L"naïve café ½ 中文"));
    ASSERT_EQ(1, insert.AddParameter(L"dt", adDBDate, adParamInput, 0, _variant_t::Date(MakeDate(1999, 12, 31))));
    ASSERT_EQ(
        1, insert.AddParameter(L"tm", adDBTime, adParamInput, 0, _variant_t::Date(MakeDate(1899, 12, 30, 23, 59, 58))));
    ASSERT_EQ(1, insert.AddParameter(L"ts", adDBTimeStamp, adParamInput, 0,
                                     _variant_t::Date(MakeDate(2024, 2, 29, 13, 45, 30, 250))));
    ASSERT_EQ(1, insert.AddParameter(L"bin", adVarBinary, adParamInput, 64, _variant_t::Bytes(bytes, sizeof bytes)));
    ASSERT_EQ(1, insert.AddParameter(L"flag", adSmallInt, adParamInput, 0, _variant_t::Bool(true)));
    ASSERT_EQ(1, insert.Execute()) << U8(insert.m_strLastError);
    EXPECT_EQ(1, insert.GetRecordsAffected());

    ASSERT_EQ(1, insert.SetParameterValue(0, _variant_t::I4(2)));
    for (int i = 1; i < insert.GetParameterCount(); ++i) ASSERT_EQ(1, insert.SetParameterValue(i, _variant_t::Null()));
    ASSERT_EQ(1, insert.Execute()) << U8(insert.m_strLastError);

    CADORecordSet rs(&conn, 1);
    ASSERT_EQ(1, rs.Execute((L"select * from " + table + L" order by id").c_str(), nullptr)) << U8(rs.m_strLastError);
    ASSERT_EQ(2u, rs.GetRecordCount());
    EXPECT_EQ(2147483647, Value(rs, L"i").intVal());
    EXPECT_EQ(L"-9223372036854775807", Text(Value(rs, L"b")));
    // SQLite's driver reads doubles through 15-digit text; the stored value itself is exact.
    double d = 0;
    ASSERT_EQ(1, rs.GetFieldValue(L"d", d));
    EXPECT_NEAR(1.0 / 3.0, d, 1e-15);
    EXPECT_EQ(L"1234.5678", Text(Value(rs, L"n")));
    EXPECT_EQ(L"naïve café ½ 中文", Text(Value(rs, L"t")));
    EXPECT_EQ(L"1", Text(Value(rs, L"flag")));
    const _variant_t bin = Value(rs, L"bin");
    ASSERT_EQ(VT_ARRAY | VT_UI1, bin.vt()) << U8(Text(bin));
    EXPECT_EQ(std::vector<std::uint8_t>(bytes, bytes + sizeof bytes), bin.parray()->bytes);
    auto date = [&](const wchar_t* field) {
        const _variant_t value = Value(rs, field);
        EXPECT_EQ(VT_DATE, value.vt()) << U8(field) << ": " << U8(Text(value));
        return value.vt() == VT_DATE ? value.dblVal() : -1.0;
    };
    EXPECT_DOUBLE_EQ(MakeDate(1999, 12, 31), date(L"dt"));
    EXPECT_NEAR(MakeDate(1899, 12, 30, 23, 59, 58), date(L"tm"), 1e-9);
    EXPECT_NEAR(MakeDate(2024, 2, 29, 13, 45, 30, 250), date(L"ts"), 1e-9);

    CADOCommand exact(&conn, L"select count(*) from " + table + L" where d * 3 = 1 and n = ?");
    ASSERT_EQ(1, exact.AddParameter(L"n", adNumeric, adParamInput, 0, _variant_t::Bstr(L"1234.5678"), 12, 4));
    EXPECT_EQ(L"1", Text(Single(exact)));

    rs.MoveNext();
    ASSERT_FALSE(rs.IsEOF());
    for (const wchar_t* field : {L"i", L"b", L"d", L"n", L"t", L"dt", L"tm", L"ts", L"bin", L"flag"})
        EXPECT_EQ(1, rs.IsFieldNull(field)) << U8(field);
}

TEST_P(CommandBackend, NewValuesRunAgainAndRowsAffectedAreCounted) {
    const std::wstring table = T(L"again");
    Recreate(table, L"k integer, name varchar(40)");
    CADOCommand insert(&conn, L"insert into " + table + L" values (?, ?)");
    ASSERT_EQ(1, insert.AddParameter(L"k", adInteger, adParamInput, 0, 0));
    ASSERT_EQ(1, insert.AddParameter(L"name", adVarWChar, adParamInput, 40, L""));
    const wchar_t* names[] = {L"alpha", L"beta", L"gamma", L"beta"};
    for (int k = 0; k < 4; ++k) {
        ASSERT_EQ(1, insert.SetParameterValue(L"k", k));
        ASSERT_EQ(1, insert.SetParameterValue(L"name", names[k]));
        ASSERT_EQ(1, insert.Execute()) << U8(insert.m_strLastError);
    }

    CADOCommand count(&conn, L"select count(*) from " + table + L" where name = ?");
    ASSERT_EQ(1, count.AddParameter(L"name", adVarWChar, adParamInput, 40, L"beta"));
    EXPECT_EQ(L"2", Text(Single(count)));
    ASSERT_EQ(1, count.SetParameterValue(0, _variant_t::Bstr(L"gamma")));
    EXPECT_EQ(L"1", Text(Single(count)));
    ASSERT_EQ(1, count.SetParameterValue(L"name", L"delta"));
    EXPECT_EQ(L"0", Text(Single(count)));

    CADOCommand update(&conn, L"update " + table + L" set name = ? where k >= ?");
    ASSERT_EQ(1, update.AddParameter(L"name", adVarWChar, adParamInput, 40, L"many"));
    ASSERT_EQ(1, update.AddParameter(L"k", adInteger, adParamInput, 0, 1));
    ASSERT_EQ(1, update.Execute()) << U8(update.m_strLastError);
    EXPECT_EQ(3, update.GetRecordsAffected());
    CADORecordSet rs(&conn, 1);
    int affected = -5;
    ASSERT_EQ(1, update.SetParameterValue(L"k", 3));
    ASSERT_EQ(1, update.SetParameterValue(L"name", L"last"));
    ASSERT_EQ(1, rs.Execute(&update, &affected)) << U8(rs.m_strLastError);
    EXPECT_EQ(1, affected);
    EXPECT_EQ(0, rs.GetFieldCount());
}

TEST_P(CommandBackend, QuotesInValuesAreDataNeverStatementText) {
    const std::wstring table = T(L"quotes");
    Recreate(table, L"k integer, name varchar(80)");
    const std::wstring evil = L"O'Brien'); drop table " + table + L"; -- \\' \"x\"";
    CADOCommand insert(&conn, L"insert into " + table + L" values (?, ?)");
    ASSERT_EQ(1, insert.AddParameter(L"k", adInteger, adParamInput, 0, 1));
    ASSERT_EQ(1, insert.AddParameter(L"name", adVarWChar, adParamInput, 80, evil.c_str()));
    ASSERT_EQ(1, insert.Execute()) << U8(insert.m_strLastError);

    CADOCommand select(&conn, L"select name from " + table + L" where name = ?");
    ASSERT_EQ(1, select.AddParameter(L"name", adVarWChar, adParamInput, 80, evil.c_str()));
    _variant_t v = Single(select);
    ASSERT_EQ(VT_BSTR, v.vt());
    EXPECT_EQ(evil, v.bstrVal());
    // A condition spliced in as text would match every row.
    ASSERT_EQ(1, select.SetParameterValue(L"name", L"x' or '1'='1"));
    CADORecordSet rs(&conn, 1);
    ASSERT_EQ(1, rs.Execute(&select, nullptr)) << U8(rs.m_strLastError);
    EXPECT_EQ(0u, rs.GetRecordCount());
}

TEST_P(CommandBackend, ValuesTheTypeCannotHoldFailBeforeAnythingRuns) {
    const std::wstring table = T(L"convert");
    Recreate(table, L"k integer");
    CADOCommand insert(&conn, L"insert into " + table + L" values (?)");
    ASSERT_EQ(1, insert.AddParameter(L"k", adInteger, adParamInput, 0, _variant_t::Bstr(L"twelve")));
    EXPECT_EQ(0, insert.Execute());
    EXPECT_EQ(ZE_INVALIDARG, insert.m_dwLastError);
    EXPECT_EQ(L"The value \"twelve\" cannot be converted to the type of parameter \"k\".", insert.m_strLastError);
    ASSERT_EQ(1, insert.SetParameterValue(L"k", _variant_t::I8(5000000000LL)));  // beyond 32 bits
    EXPECT_EQ(0, insert.Execute());
    ASSERT_EQ(1, insert.SetParameterValue(L"k", L" 42 "));
    ASSERT_EQ(1, insert.Execute()) << U8(insert.m_strLastError);
    CADOCommand all(&conn, L"select count(*) from " + table);
    EXPECT_EQ(L"1", Text(Single(all)));

    // Fewer parameters than markers: the driver's own error.
    CADOCommand missing(&conn, L"insert into " + table + L" values (?)");
    EXPECT_EQ(0, missing.Execute());
    EXPECT_FALSE(missing.m_strLastError.empty());
}

// SQLite has no stored procedures: the call is the driver's syntax error.
TEST_P(CommandBackend, StoredProcedureCallIsTheSqliteDriversSyntaxError) {
    if (kind() != Kind::SQLite) GTEST_SKIP() << "the servers have stored procedures";
    CADOCommand call(&conn, L"cm_nothing", adCmdStoredProc);
    ASSERT_EQ(1, call.AddParameter(L"a", adInteger, adParamInput, 0, 1));
    EXPECT_EQ(0, call.Execute());
    EXPECT_NE(std::wstring::npos, call.m_strLastError.find(L"syntax error")) << U8(call.m_strLastError);
    CADORecordSet rs(&conn, 1);
    EXPECT_EQ(0, rs.Execute(&call, nullptr));
    EXPECT_FALSE(rs.m_strLastError.empty());
    EXPECT_EQ(0, rs.Open(L"cm_nothing", 3));
}

// A procedure (MariaDB) or set-returning function (PostgreSQL) gives its rows to a recordset.
TEST_P(CommandBackend, StoredProcedureRowsReachARecordset) {
    if (kind() == Kind::SQLite) GTEST_SKIP() << "SQLite has no stored procedures";
    const std::wstring rowsFn = T(L"rows");
    if (postgres())
        Exec(L"create or replace function " + rowsFn +
             L"(n integer) returns table(k integer, name text) as 'select g, ''n'' || g from generate_series(1, n) g' "
             L"language sql");
    else
        CreateProcedure(rowsFn, L"n int",
                        L"select seq as k, concat('n', seq) as name from seq_1_to_100 where seq <= n");
    CADOCommand rowsCall(&conn, rowsFn, adCmdStoredProc);
    ASSERT_EQ(1, rowsCall.AddParameter(L"n", adInteger, adParamInput, 0, 3));
    CADORecordSet rs(&conn, 1);
    ASSERT_EQ(1, rs.Execute(&rowsCall, nullptr)) << U8(rs.m_strLastError);
    ASSERT_EQ(3u, rs.GetRecordCount());
    rs.MoveLast();
    EXPECT_EQ(L"n3", Text(Value(rs, L"name")));
    ASSERT_EQ(1, rs.Open((rowsFn + L"(2)").c_str(), 3)) << U8(rs.m_strLastError);
    EXPECT_EQ(2u, rs.GetRecordCount());
}

// Output, input-output and numeric output parameters come back typed, each call anew.
TEST_P(CommandBackend, StoredProcedureOutputParametersComeBackTyped) {
    if (kind() == Kind::SQLite) GTEST_SKIP() << "SQLite has no stored procedures";
    const std::wstring proc = T(L"outs");
    CADOCommand outs = Outs(proc);
    ASSERT_EQ(1, outs.Execute()) << U8(outs.m_strLastError);
    EXPECT_EQ(VT_BSTR, Param(outs, L"b").vt());
    EXPECT_EQ(L"xéü東", Text(Param(outs, L"b")));
    EXPECT_EQ(VT_DECIMAL, Param(outs, L"c").vt());
    EXPECT_EQ(L"12.5", Text(Param(outs, L"c")));
    ASSERT_EQ(VT_DATE, Param(outs, L"d").vt());
    EXPECT_NEAR(MakeDate(2020, 1, 2, 3, 4, 5, 678), Param(outs, L"d").dblVal(), 1e-9);
    EXPECT_EQ(VT_I4, Param(outs, L"e").vt());
    EXPECT_EQ(42, Param(outs, L"e").intVal());
    ASSERT_EQ(1, outs.Execute()) << U8(outs.m_strLastError);
    EXPECT_EQ(84, Param(outs, L"e").intVal()) << "the input-output value goes in as it came out";
    outs.GetParameter(L"c")->type = adCurrency;
    ASSERT_EQ(1, outs.Execute()) << U8(outs.m_strLastError);
    ASSERT_EQ(VT_CY, Param(outs, L"c").vt());
    EXPECT_EQ(125000, Param(outs, L"c").cyVal().int64);
    if (kind() != Kind::MariaDB) return;

    // Through a recordset the procedure's own result set arrives; the output values come after it,
    // so they stay as they were.
    ASSERT_EQ(1, outs.SetParameterValue(L"b", _variant_t::Bstr(L"before")));
    CADORecordSet rs(&conn, 1);
    ASSERT_EQ(1, rs.Execute(&outs, nullptr)) << U8(rs.m_strLastError);
    ASSERT_EQ(1u, rs.GetRecordCount());
    EXPECT_EQ(L"xé", Text(Value(rs, L"echoed")));
    EXPECT_EQ(L"before", Text(Param(outs, L"b")));
}

// A function's value: through the ODBC return-value call on PostgreSQL, in a statement on MariaDB.
TEST_P(CommandBackend, StoredFunctionReturnValueAsEachDriverSupportsIt) {
    if (kind() == Kind::SQLite) GTEST_SKIP() << "SQLite has no stored procedures";
    const std::wstring fn = T(L"addone");
    CreateAddOne(fn);
    if (postgres()) {
        CADOCommand ret(&conn, fn, adCmdStoredProc);
        ASSERT_EQ(1, ret.AddParameter(L"RETURN_VALUE", adInteger, adParamReturnValue, 0, _variant_t()));
        ASSERT_EQ(1, ret.AddParameter(L"a", adInteger, adParamInput, 0, 41));
        ASSERT_EQ(1, ret.Execute()) << U8(ret.m_strLastError);
        EXPECT_EQ(VT_I4, Param(ret, 0).vt());
        EXPECT_EQ(42, Param(ret, 0).intVal());

        CADOCommand outs = Outs(T(L"outs"));
        CADOCommand asProc(&conn, T(L"outs"), adCmdStoredProc);
        for (int i = 0; i < 5; ++i) ASSERT_EQ(1, asProc.AddParameter(outs.GetParameter(i)));
        EXPECT_EQ(0, asProc.Execute());
        EXPECT_NE(std::wstring::npos, asProc.m_strLastError.find(L"is a procedure")) << U8(asProc.m_strLastError);
    } else {
        // Connector/ODBC passes "{? = call ...}" to the server, which has no such syntax; a
        // function is called in a statement.
        CADOCommand ret(&conn, fn, adCmdStoredProc);
        ASSERT_EQ(1, ret.AddParameter(L"RETURN_VALUE", adInteger, adParamReturnValue, 0, _variant_t()));
        ASSERT_EQ(1, ret.AddParameter(L"a", adInteger, adParamInput, 0, 41));
        EXPECT_EQ(0, ret.Execute());
        EXPECT_EQ(VT_EMPTY, Param(ret, 0).vt());
        CADOCommand select(&conn, L"select " + fn + L"(?)");
        ASSERT_EQ(1, select.AddParameter(L"a", adInteger, adParamInput, 0, 41));
        EXPECT_EQ(L"42", Text(Single(select)));
    }
}

TEST_P(CommandBackend, TimeoutStopsALongStatement) {
    if (kind() == Kind::SQLite) GTEST_SKIP() << "SQLite has no sleeping statement";
    CADOCommand sleep(&conn, SleepStatement(L"?"));
    ASSERT_EQ(1, sleep.AddParameter(L"seconds", adInteger, adParamInput, 0, 20));
    sleep.SetTimeout(1);
    EXPECT_EQ(0, sleep.Execute());
    EXPECT_FALSE(sleep.m_strLastError.empty());
    CADOCommand one(&conn, L"select 1");
    EXPECT_EQ(L"1", Text(Single(one))) << "the connection stays usable";
}

INSTANTIATE_TEST_SUITE_P(Backends, CommandBackend, ::testing::ValuesIn(testdb::Backends()), BackendName);

}  // namespace
