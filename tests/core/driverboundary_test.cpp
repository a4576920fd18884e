// What crosses the ODBC boundary, checked on every backend: statement text as typed, values as
// the database stores them, whatever the driver exports and however it lays out its buffers.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

#include <algorithm>
#include <clocale>
#include <memory>
#include <cmath>
#include <string>
#include <vector>

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
    auto two = [](int n) { return (n < 10 ? L"0" : L"") + std::to_wstring(n); };
    std::wstring insert = L"insert into " + t + L" values ";
    for (int i = 1; i <= rows; ++i)
        insert += (i > 1 ? L"," : L"") + std::wstring(L"(") + std::to_wstring(i) + L"," + std::to_wstring(i) + L".5," +
                  std::to_wstring(i) + L".25," + (i % 2 ? L"true" : L"false") + L",'2001-02-" + two(i % 28 + 1) +
                  L"','10:20:" + two(i % 60) + L"')";
    Exec(insert);
    CADORecordSet rs(&conn, 1);
    Query(rs, L"select id, f, d, b, dt, tm from " + t + L" order by id");
    ASSERT_EQ(static_cast<unsigned long>(rows), rs.GetRecordCount());
    int mismatches = 0;
    for (int i = 1; !rs.IsEOF(); rs.MoveNext(), ++i) {
        std::wstring got, want = std::to_wstring(i) + L" " + std::to_wstring(i) + L".5 " + std::to_wstring(i) +
                                 L".25 " + (i % 2 ? L"1" : L"0") + L" 2001-02-" + two(i % 28 + 1) + L" 10:20:" +
                                 two(i % 60);
        for (int c = 0; c < 6; ++c) {
            _variant_t v;
            ASSERT_EQ(1, rs.GetFieldValue(c, v));
            std::wstring text = Plain(v);
            if (c == 4) text = text.substr(0, 10);
            if (c == 5) text = text.substr(text.size() - 8);
            got += (c ? L" " : L"") + text;
        }
        if (got != want && ++mismatches <= 3)
            ADD_FAILURE() << "row " << i << ": " << U8(got) << " instead of " << U8(want);
    }
    EXPECT_EQ(0, mismatches);
}

// Statement text, identifiers and catalogue arguments reach the driver exactly as typed, in a
// UTF-8 locale and in the C locale, whether or not the driver has wide entry points; the native
// client checks what the database did and holds.
TEST_P(DriverBoundary, TextReachesTheDriverAsTyped) {
    const bool maria = kind() == Kind::MariaDB;
    const std::wstring t = T(L"typed");
    // MariaDB keeps identifiers in a three-byte form: no character beyond the BMP in them.
    const std::wstring column = maria ? L"ключ" : L"ключ😀";
    const std::wstring quoted = maria ? L"`" + column + L"`" : L"\"" + column + L"\"";
    for (const char* locale : {"C.UTF-8", "C"}) {
        SCOPED_TRACE(locale);
        ASSERT_NE(nullptr, std::setlocale(LC_ALL, locale));
        Recreate(t, maria ? L"id int, name varchar(40) character set utf8mb4" : L"id int, name varchar(40)");
        Exec(L"insert into " + t + L" values (1, 'a'), (2, 'b'), (3, 'c')");
        // A comment with a character beyond the BMP must not swallow the next line.
        Exec(L"delete from " + t + L" -- 😀\nwhere id = 1");
        EXPECT_EQ("2", testdb::NativeText(GetParam(), "select count(*) from " + U8(t)));
        Exec(L"insert into " + t + L" values (10, 'ключ😀é\u00e0\u4e2d')");
        EXPECT_EQ(U8(L"ключ😀é\u00e0\u4e2d"),
                  testdb::NativeText(GetParam(), "select name from " + U8(t) + " where id = 10"));

        CADORecordSet rs(&conn, 1);
        Query(rs, L"select name as " + quoted + L" from " + t + L" where id = 10");
        CADOFieldInfo info;
        ASSERT_EQ(1, rs.GetFieldInfo(0L, &info));
        EXPECT_EQ(U8(column), U8(info.m_strName));
        _variant_t v;
        ASSERT_EQ(1, rs.GetFieldValue(0, v));
        EXPECT_EQ(U8(L"ключ😀é\u00e0\u4e2d"), U8(v.vt() == VT_BSTR ? v.bstrVal() : L"?"));
        // A catalogue argument with such characters finds its table.
        Recreate(t + L"_ключ", L"x int");
        CADORecordSet schema(&conn, 1);
        ASSERT_EQ(1, schema.OpenSchema(adSchemaTables, testdb::Restriction(4, 2, _variant_t::Bstr(t + L"_ключ"))))
            << U8(schema.m_strLastError);
        ASSERT_EQ(1u, schema.GetRecordCount());
        _variant_t name;
        ASSERT_EQ(1, schema.GetFieldValue(L"TABLE_NAME", name));
        EXPECT_EQ(U8(t + L"_ключ"), U8(name.vt() == VT_BSTR ? name.bstrVal() : L"?"));
        Exec(L"drop table " + t + L"_ключ");
    }
}

// A value and its variant type, e.g. "3:1" (VT_I4), "5:2.5" (VT_R8), "8:hello" (VT_BSTR).
std::string Typed(CADORecordSet& rs, int field) {
    _variant_t v;
    if (!rs.GetFieldValue(field, v)) return "<" + U8(rs.m_strLastError) + ">";
    return std::to_string(v.vt()) + ":" + U8(Plain(v));
}

// SQLite types values, not columns: each value arrives as stored, whatever the column's
// declared type or the type of the first value, never as NULL or cut.
TEST_P(DriverBoundary, SqliteValuesArriveByStorageClass) {
    if (kind() != Kind::SQLite) GTEST_SKIP() << "only SQLite types values rather than columns";
    CADORecordSet rs(&conn, 1);
    Query(rs, L"select 1 as x union all select 2.5 union all select 'hello'");
    std::vector<std::string> got;
    for (; !rs.IsEOF(); rs.MoveNext()) got.push_back(Typed(rs, 0));
    EXPECT_EQ((std::vector<std::string>{"3:1", "5:2.5", "8:hello"}), got);

    const std::wstring t = T(L"classes");
    Recreate(t, L"k int, i integer, d date, r real, n numeric, ts timestamp");
    Exec(
        L"insert into " + t +
        L" values (1, 7, '2001-02-03', 1.5, 12.25, '2001-02-03 04:05:06'),"
        L"(2, 'abc', 'yesterday', 'txt', 'n/a', 'later'), (3, 1.5, '2001-13-45', 1.7976931348623157e308, 1e300, 20010101),"
        L"(4, 9223372036854775807, 20010101, -2, -7, '2001-02-03 04:05:06.5')");
    Query(rs, L"select i, d, r, n, ts from " + t + L" order by k");
    const std::vector<std::vector<std::string>> want = {
        {"3:7", "7:2001-02-03 00:00:00", "5:1.5", "5:12.25", "7:2001-02-03 04:05:06"},
        {"8:abc", "8:yesterday", "8:txt", "8:n/a", "8:later"},
        // The driver gives REAL values with 15 significant digits, as sqlite3 prints them; the
        // rounded maximum no longer fits a double and stays the driver's text.
        {"5:1.5", "8:2001-13-45", "8:1.79769313486232e+308", "5:1E+300", "3:20010101"},
        {"20:9223372036854775807", "3:20010101", "5:-2", "5:-7", "7:2001-02-03 04:05:06"}};
    for (std::size_t row = 0; row < want.size() && !rs.IsEOF(); ++row, rs.MoveNext())
        for (int f = 0; f < 5; ++f) EXPECT_EQ(want[row][f], Typed(rs, f)) << "row " << row + 1 << " field " << f;
    // The same values as sqlite3 shows them.
    EXPECT_EQ(
        "7|2001-02-03|1.5|12.25\nabc|yesterday|txt|n/a\n1.5|2001-13-45|1.79769313486232e+308|1.0e+300\n"
        "9223372036854775807|20010101|-2.0|-7",
        testdb::NativeText(GetParam(), "select i, d, r, n from " + U8(t) + " order by k"));
}

// Splits the first line of NativeText output into its values.
std::vector<std::string> Cells(const std::string& output) {
    std::vector<std::string> cells;
    std::string line = output.substr(0, output.find('\n'));
    for (std::size_t start = 0;;) {
        std::size_t bar = line.find('|', start);
        cells.push_back(line.substr(start, bar - start));
        if (bar == std::string::npos) break;
        start = bar + 1;
    }
    return cells;
}

// Dates and times that no ODBC structure holds arrive as the server's text, the same as its own
// client prints; the others as dates. No odd value costs the other rows.
TEST_P(DriverBoundary, DatesAndTimesOutsideTheStructuresArriveAsText) {
    if (kind() == Kind::SQLite) GTEST_SKIP() << "SQLite dates are texts or numbers (see the storage-class test)";
    const std::wstring t = T(L"odd_dates");
    std::vector<std::string> odd;  // the values that stay text
    if (kind() == Kind::MariaDB) {
        Recreate(t, L"k int, d date, tm time(6), ts datetime(6)");
        Exec(
            L"insert into " + t +
            L" values (1, '0000-00-00', '100:00:00', '2001-02-03 04:05:06.123456'),"
            L"(2, '2001-02-03', '-838:59:59.5', '0000-00-00 00:00:00'), (3, '2001-02-03', '10:20:30.25', '2001-02-03 04:05:06')");
        odd = {"0000-00-00",        "100:00:00.000000",           "2001-02-03 04:05:06.123456",
               "-838:59:59.500000", "0000-00-00 00:00:00.000000", "10:20:30.250000"};
    } else {
        Recreate(t, L"k int, d date, tm time(6), ts timestamp(6)");
        Exec(
            L"insert into " + t +
            L" values (1, '2001-02-03', '24:00:00', '2001-02-03 04:05:06.123456'),"
            L"(2, '9999-12-31', '10:20:30.25', '1899-12-30 00:00:00.5'), (3, '1850-03-15', '10:20:30', '2001-02-03 04:05:06')");
        odd = {"24:00:00", "2001-02-03 04:05:06.123456", "10:20:30.25"};
    }
    CADORecordSet rs(&conn, 1);
    Query(rs, L"select d, tm, ts from " + t + L" order by k");
    ASSERT_EQ(3u, rs.GetRecordCount());
    for (int k = 1; !rs.IsEOF(); rs.MoveNext(), ++k) {
        const std::vector<std::string> native =
            Cells(testdb::NativeText(GetParam(), "select d, tm, ts from " + U8(t) + " where k = " + std::to_string(k)));
        ASSERT_EQ(3u, native.size());
        for (int f = 0; f < 3; ++f) {
            _variant_t v;
            ASSERT_EQ(1, rs.GetFieldValue(f, v));
            SCOPED_TRACE("row " + std::to_string(k) + " field " + std::to_string(f) + ": " + native[f]);
            if (std::find(odd.begin(), odd.end(), native[f]) != odd.end()) {
                EXPECT_EQ(VT_BSTR, v.vt());
                EXPECT_EQ(native[f], U8(Plain(v)));
            } else {
                // Within the structures: a date with the native text's date and time.
                EXPECT_EQ(VT_DATE, v.vt());
                std::string plain = U8(Plain(v));
                if (native[f].size() > 19) plain += native[f].substr(19);  // the fraction, checked below
                EXPECT_EQ(native[f], f == 0 ? plain.substr(0, 10) : f == 1 ? plain.substr(11) : plain);
                if (native[f].size() > 19) {
                    SYSTEMTIME st{};
                    VariantToSystemTimeWithMilliseconds(v.dblVal(), st);
                    EXPECT_EQ(std::stoi((native[f].substr(20) + "000").substr(0, 3)), st.wMilliseconds);
                }
            }
        }
    }
    if (kind() == Kind::MariaDB) return;
    // PostgreSQL's driver writes dates outside its structure in its own way (infinity as
    // 0000-00-00, 10000-01-01 as 1000-00-00): such a value arrives as that text, not as a date.
    Query(rs, L"select date 'infinity', date '10000-01-01', timestamp '-infinity', 1");
    for (int f = 0; f < 3; ++f) {
        _variant_t v;
        ASSERT_EQ(1, rs.GetFieldValue(f, v));
        EXPECT_EQ(VT_BSTR, v.vt()) << f << ": " << U8(Plain(v));
    }
}

// A string of bits keeps its digits, a single bit is a boolean or its digit; a date before the year 100 (beyond a
// variant date) arrives as its text.
TEST_P(DriverBoundary, BitsKeepTheirDigitsAndEarlyDatesTheirText) {
    if (kind() == Kind::SQLite) GTEST_SKIP() << "SQLite has neither bit strings nor a date type";
    const std::wstring t = T(L"bits");
    Recreate(t, L"k int, b1 bit(1), b5 bit(5), d date");
    Exec(L"insert into " + t + L" values (1, b'1', b'10101', '0050-06-07'), (2, b'0', b'00000', '2001-02-03')");
    CADORecordSet rs(&conn, 1);
    Query(rs, L"select b1, b5, d from " + t + L" order by k");
    const std::vector<std::vector<std::string>> expected = {{"YES", "10101", "0050-06-07"},
                                                            {"NO", "00000", "2001-02-03"}};
    for (const auto& row : expected) {
        ASSERT_FALSE(rs.IsEOF());
        _variant_t b1, b5, d;
        ASSERT_EQ(1, rs.GetFieldValue(0, b1));
        ASSERT_EQ(1, rs.GetFieldValue(1, b5));
        ASSERT_EQ(1, rs.GetFieldValue(2, d));
        if (kind() == Kind::MariaDB) {
            // MariaDB's driver describes BIT(1) as a bit and BIT(5) as binary.
            EXPECT_EQ(VT_BOOL, b1.vt());
            EXPECT_EQ(row[0], b1.boolVal() ? "YES" : "NO");
        } else {
            // PostgreSQL's describes BIT(1) as text and BIT(5) as a bit.
            EXPECT_EQ(row[0] == "YES" ? "1" : "0", U8(Plain(b1)));
            EXPECT_EQ(row[1], U8(Plain(b5)));
        }
        EXPECT_EQ(row[2], U8(Plain(d)).substr(0, 10));
        rs.MoveNext();
    }
}

// Money beyond what a double holds keeps its cents; a uuid comes in the server's lower case.
TEST_P(DriverBoundary, PostgresMoneyAndUuidExact) {
    if (!testdb::IsPostgres(kind())) GTEST_SKIP() << "money and uuid are PostgreSQL types here";
    CADORecordSet rs(&conn, 1);
    Query(rs, L"select 92233720368547758.07::money, (-1234.5)::money, '6ba7b810-9dad-11d1-80b4-00c04fd430c8'::uuid");
    _variant_t large, negative, uuid;
    ASSERT_EQ(1, rs.GetFieldValue(0, large));
    EXPECT_EQ("92233720368547758.07", U8(Plain(large)));
    ASSERT_EQ(1, rs.GetFieldValue(1, negative));
    ASSERT_EQ(1, rs.GetFieldValue(2, uuid));
    EXPECT_EQ("-1234.5", U8(Plain(negative)));
    EXPECT_EQ("6ba7b810-9dad-11d1-80b4-00c04fd430c8", U8(Plain(uuid)));
}

// Error texts with non-ASCII characters arrive whole: no NUL, the name as typed, in either locale.
TEST_P(DriverBoundary, ErrorTextsArriveWhole) {
    const std::wstring missing = L"нет_такой_таблицы_ü";
    for (const char* locale : {"C.UTF-8", "C"}) {
        SCOPED_TRACE(locale);
        ASSERT_NE(nullptr, std::setlocale(LC_ALL, locale));
        CADORecordSet rs(&conn, 1);
        EXPECT_EQ(0, rs.Execute((L"select * from " + missing).c_str(), nullptr));
        const std::wstring text = rs.m_strLastError;
        EXPECT_EQ(std::wstring::npos, text.find(L'\0')) << U8(text);
        EXPECT_NE(std::wstring::npos, text.find(missing)) << U8(text);
        // The driver's SQLSTATE is kept beside the text: syntax or access class 42, except
        // SQLite's driver, which gives the general HY000.
        EXPECT_EQ(kind() == Kind::SQLite ? "HY" : "42", rs.m_strSqlState.substr(0, 2)) << rs.m_strSqlState;
        EXPECT_EQ(5u, rs.m_strSqlState.size());
        // An error of the library's own has none.
        EXPECT_EQ(0, rs.SetSort(L"nosuch"));
        EXPECT_EQ("", rs.m_strSqlState);
    }
}

// A server that accepts the connection and never answers costs Open no more than its login
// timeout, on every server driver.
TEST(DriverBoundaryLogin, TimeoutHoldsAgainstASilentServer) {
    int listener = socket(AF_INET, SOCK_STREAM, 0);
    ASSERT_GE(listener, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof address;
    ASSERT_EQ(0, bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address));
    ASSERT_EQ(0, listen(listener, 16));  // the kernel completes the handshakes; nobody answers
    ASSERT_EQ(0, getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length));
    const std::string port = std::to_string(ntohs(address.sin_port));
    for (const char* driver : {"MariaDB Unicode", "PostgreSQL Unicode", "PostgreSQL ANSI"}) {
        SCOPED_TRACE(driver);
        CADOConnection silent;
        silent.SetConnectionTimeout(2);
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(0, silent.Open(testdb::ServerConnectionString(driver, port).c_str()));
        const auto seconds =
            std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - start).count();
        EXPECT_LE(seconds, 4);
        EXPECT_FALSE(silent.m_strLastError.empty());
    }
    close(listener);
}

}  // namespace

INSTANTIATE_TEST_SUITE_P(Backends, DriverBoundary, ::testing::ValuesIn(testdb::Backends()), BackendName);
