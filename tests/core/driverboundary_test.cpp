// What crosses the ODBC boundary, checked on every backend: statement text as typed, values as
// the database stores them, whatever the driver exports and however it lays out its buffers.
#include <gtest/gtest.h>

#include <clocale>
#include <cmath>
#include <string>

#include "backend_test.h"
#include "zentra/dataaccess.h"
#include "zentra/values.h"

using namespace zentra;
using testdb::BackendName;
using testdb::Kind;
using testdb::U8;

namespace {

// A value as text: dates as "YYYY-MM-DD HH:MM:SS", booleans as 1 and 0, the rest as VariantToText.
std::wstring Plain(const _variant_t& v) {
    if (v.vt() == VT_BOOL) return v.boolVal() ? L"1" : L"0";
    std::wstring text;
    if (v.vt() == VT_DATE) {
        SYSTEMTIME st{};
        VariantToSystemTimeWithMilliseconds(v.dblVal(), st);
        wchar_t buffer[64];
        swprintf(buffer, 64, L"%04d-%02d-%02d %02d:%02d:%02d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                 st.wSecond);
        return buffer;
    }
    VariantToText(v, text);
    return text;
}

class DriverBoundary : public testdb::BackendTest {
protected:
    DriverBoundary() : BackendTest(L"db_") {}
};

// A FLOAT result in bound blocks (no long column in it) holds every row at its own place, and
// the driver writes nothing past the buffers (the sanitizer build checks the latter).
TEST_P(DriverBoundary, SinglePrecisionColumnsInBlocks) {
    const std::wstring t = T(L"floats");
    const bool maria = kind() == Kind::MariaDB;
    Recreate(t, maria ? L"id int, f float, d double, b bit(1), dt date, tm time"
                      : L"id int, f real, d double precision, b boolean, dt date, tm time");
    const int rows = 3000;
    std::wstring insert = L"insert into " + t + L" values ";
    for (int i = 1; i <= rows; ++i)
        insert += (i > 1 ? L"," : L"") + std::wstring(L"(") + std::to_wstring(i) + L"," + std::to_wstring(i) + L".5," +
                  std::to_wstring(i) + L".25," + (i % 2 ? L"true" : L"false") + L",'2001-02-" + std::to_wstring(i % 28 + 1) +
                  L"','10:20:" + std::to_wstring(i % 60) + L"')";
    Exec(insert);
    CADORecordSet rs(&conn, 1);
    Query(rs, L"select id, f, d, b, dt, tm from " + t + L" order by id");
    ASSERT_EQ(static_cast<unsigned long>(rows), rs.GetRecordCount());
    int mismatches = 0;
    for (int i = 1; !rs.IsEOF(); rs.MoveNext(), ++i) {
        std::wstring got, want = std::to_wstring(i) + L" " + std::to_wstring(i) + L".5 " + std::to_wstring(i) + L".25 " +
                                 (i % 2 ? L"1" : L"0") + L" 2001-02-" + (i % 28 + 1 < 10 ? L"0" : L"") +
                                 std::to_wstring(i % 28 + 1) + L" 10:20:" + (i % 60 < 10 ? L"0" : L"") + std::to_wstring(i % 60);
        for (int c = 0; c < 6; ++c) {
            _variant_t v;
            ASSERT_EQ(1, rs.GetFieldValue(c, v));
            std::wstring text = Plain(v);
            if (c == 4) text = text.substr(0, 10);
            if (c == 5) text = text.substr(text.size() - 8);
            got += (c ? L" " : L"") + text;
        }
        if (got != want && ++mismatches <= 3) ADD_FAILURE() << "row " << i << ": " << U8(got) << " instead of " << U8(want);
    }
    EXPECT_EQ(0, mismatches);
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Backends, DriverBoundary, ::testing::ValuesIn(testdb::Backends()), BackendName);
