// Text values arrive exactly as the database holds them, whichever way the fetch reads them from
// the driver (UTF-16, or the connection's UTF-8 bytes where the driver's conversion is slow), in
// bound blocks and in values read whole; the native client says what the table holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend_test.h"
#include "zentra/dataaccess.h"

using namespace zentra;
using testdb::BackendName;
using testdb::Kind;
using testdb::U8;

namespace {

std::string Hex(const std::string& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char b : bytes) hex += {digits[b >> 4], digits[b & 15]};
    return hex;
}

class RowsetText : public testdb::BackendTest {
protected:
    RowsetText() : BackendTest(L"rt_") {}
};

TEST_P(RowsetText, TextArrivesAsStored) {
    const bool maria = kind() == Kind::MariaDB;
    const std::wstring t = T(L"text");
    // A long text well beyond any block buffer, of two-byte characters.
    const std::wstring longText = std::wstring(5000, L'ж') + L"😀";
    Recreate(t, maria ? L"id int, a varchar(20) character set utf8mb4, b mediumtext character set utf8mb4, "
                        L"c char(5) character set utf8mb4"
                      : L"id int, a varchar(20), b text, c char(5)");
    Exec(L"insert into " + t + L" values (1, 'é€😀', 'ключ😀', ' x'), (2, NULL, '', NULL), (3, 'ÿ中', 'a', '中')");
    Exec(L"insert into " + t + L" values (4, '" + std::wstring(20, L'😀') + L"', '" + longText + L"', 'abcde')");
    const std::string select = "select id, a, b, c from " + U8(t) + " order by id";
    // The mariadb client shows characters beyond three bytes as '?': it is asked for the bytes.
    const std::vector<std::string> native = testdb::NativeRows(
        GetParam(), maria ? "select id, hex(a), hex(b), hex(c) from " + U8(t) + " order by id" : select);
    ASSERT_EQ(4u, native.size()) << (native.empty() ? "" : native[0]);

    CADORecordSet rs(&conn, 1);
    Query(rs, testdb::Widen(select));
    std::vector<std::string> rows;
    for (; !rs.IsEOF(); rs.MoveNext()) {
        std::string row;
        for (int i = 0; i < 4; ++i) {
            _variant_t v;
            ASSERT_EQ(1, rs.GetFieldValue(i, v)) << U8(rs.m_strLastError);
            std::wstring text;
            if (v.vt() == VT_NULL) text = L"NULL";
            else VariantToText(v, text);
            row += (i ? "|" : "") + (maria && i > 0 && v.vt() != VT_NULL ? Hex(U8(text)) : U8(text));
        }
        rows.push_back(row);
    }
    EXPECT_EQ(native, rows);
}

// The rows of `select` as VariantToText writes their values, fields joined by '|'.
std::vector<std::string> TextRows(CADOConnection& conn, const std::string& select) {
    std::vector<std::string> rows;
    CADORecordSet rs(&conn, 1);
    EXPECT_EQ(1, rs.Execute(testdb::Widen(select).c_str(), nullptr)) << U8(rs.m_strLastError);
    for (; !rs.IsEOF(); rs.MoveNext()) {
        std::string row;
        for (long i = 0; i < rs.GetFieldCount(); ++i) {
            _variant_t v;
            EXPECT_EQ(1, rs.GetFieldValue(static_cast<int>(i), v)) << U8(rs.m_strLastError);
            std::wstring text;
            VariantToText(v, text);
            row += (i ? "|" : "") + U8(text);
        }
        rows.push_back(row);
    }
    return rows;
}

// SQLite keeps a type per value: an integer in a column its driver describes as floating point
// (numeric, an expression whose first value is real) keeps every digit; an empty text in a
// boolean column stays an empty text.
TEST(RowsetTextSqlite, ValuesKeepTheirOwnType) {
    const testdb::Backend backend = testdb::BackendOf(Kind::SQLite);
    CADOConnection conn;
    ASSERT_EQ(1, conn.Open(backend.connectionString.c_str())) << U8(conn.m_strLastError);
    CADORecordSet setup(&conn, 1);
    for (const wchar_t* sql : {L"create table m(id integer, n numeric, b boolean)",
                               L"insert into m values (1, 123456789012345678, ''), (2, -9007199254740993, 1),"
                               L" (3, 10000000000000000, 0), (4, 0.5, 'x'), (5, 9223372036854775807, '')"})
        ASSERT_EQ(1, setup.Execute(sql, nullptr)) << U8(setup.m_strLastError);
    EXPECT_EQ((std::vector<std::string>{"1|123456789012345678|", "2|-9007199254740993|True",
                                        "3|10000000000000000|False", "4|0.5|x", "5|9223372036854775807|"}),
              TextRows(conn, "select id, n, b from m order by id"));
    const std::string select = "select id, n from m order by id";
    EXPECT_EQ(testdb::NativeRows(backend, select), TextRows(conn, select));
    const std::string expression =
        "select o, v from (select 1 o, 0.5 v union all select 2, 9007199254740993 union all select 3, "
        "-12345678901234567) order by o";
    EXPECT_EQ(testdb::NativeRows(backend, expression), TextRows(conn, expression));
}

INSTANTIATE_TEST_SUITE_P(Backends, RowsetText, ::testing::ValuesIn(testdb::Backends()), BackendName);

}  // namespace
