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

INSTANTIATE_TEST_SUITE_P(Backends, RowsetText, ::testing::ValuesIn(testdb::Backends()), BackendName);

}  // namespace
