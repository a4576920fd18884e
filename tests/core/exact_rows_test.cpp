// Editing through a recordset changes exactly the row it was asked to, or nothing: rows that
// differ only where memory is coarser than the table (fractions below the millisecond, SQLite's
// date texts) or where the DBMS's `=` folds (case, trailing blanks), writes that reach several
// rows inside and outside the caller's transaction, and results that are not one table row each.
// Every outcome is checked through the DBMS's own client.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "backend_test.h"
#include "native_client.h"
#include "zentra/dataaccess.h"

using namespace zentra;
using testdb::BackendName;
using testdb::Kind;
using testdb::U8;

namespace {

using Lines = std::vector<std::string>;

class ExactRows : public testdb::BackendTest {
protected:
    ExactRows() : BackendTest(L"ex_") {}

    // The table as the native client shows it.
    Lines Native(const std::wstring& sql) { return testdb::NativeRows(GetParam(), U8(sql)); }
    void Open(CADORecordSet& rs, const std::wstring& sql) {
        ASSERT_EQ(1, rs.Open(conn.GetConnection(), sql.c_str(), 1)) << U8(sql) << ": " << U8(rs.m_strLastError);
    }
    // Moves to the record whose field `field` reads `text`.
    void Seek(CADORecordSet& rs, const wchar_t* field, const std::wstring& text) {
        for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
            CString value;
            rs.GetFieldValue(field, value, 0);
            if (value == text) return;
        }
        FAIL() << "no record with " << U8(field) << " = " << U8(text);
    }
    int Set(CADORecordSet& rs, const wchar_t* field, const _variant_t& value) {
        if (rs.Edit() != 1 || rs.SetFieldValue(field, value) != 1) return -1;
        return rs.Update();
    }
    bool maria() const { return kind() == Kind::MariaDB; }
    std::wstring Stamp6() const { return maria() ? L"datetime(6)" : L"timestamp(6)"; }
};

const wchar_t* const kSeveral = L"Insufficient key column information for updating or refreshing.";

TEST_P(ExactRows, AWriteThatReachesSeveralRowsIsUndoneInsideAndOutsideTheCallersTransaction) {
    // Two rows that only a column memory holds coarsely tells apart.
    const std::wstring table = T(L"several");
    if (kind() == Kind::SQLite) {
        Recreate(table, L"a integer, d date");
        Exec(L"insert into " + table + L" values (1, '2024-12-31'), (1, '2024-12-31 00:00:00'), (2, '2024-01-01')");
    } else {
        Recreate(table, L"a integer, d time(6)");
        Exec(L"insert into " + table + L" values (1, '10:00:00.1'), (1, '10:00:00.2'), (2, '11:00:00')");
    }
    const std::wstring all = L"select a, d from " + table + L" order by d";
    const Lines before = Native(all);
    ASSERT_EQ(3u, before.size()) << before[0];

    CADORecordSet rs(&conn, 0);
    Open(rs, L"select a, d from " + table + L" order by a");
    EXPECT_EQ(0, Set(rs, L"a", _variant_t::I4(5)));
    EXPECT_EQ(0u, rs.m_strLastError.find(kSeveral)) << U8(rs.m_strLastError);
    EXPECT_EQ(before, Native(all));

    ASSERT_EQ(1, conn.BeginTrans());
    rs.MoveFirst();
    EXPECT_EQ(0, Set(rs, L"a", _variant_t::I4(6)));
    EXPECT_EQ(0u, rs.m_strLastError.find(kSeveral)) << U8(rs.m_strLastError);
    EXPECT_EQ(0, rs.Delete());
    // The row that is one of a kind is changed, inside the same transaction.
    rs.MoveLast();
    EXPECT_EQ(1, Set(rs, L"a", _variant_t::I4(3))) << U8(rs.m_strLastError);
    conn.CommitTrans();
    Lines after = before;
    for (auto& line : after)
        if (line[0] == '2') line[0] = '3';
    EXPECT_EQ(after, Native(all));

    if (!testdb::IsPostgres(kind())) return;
    // A view has no row id: equal rows through it can't be told apart, in a transaction too.
    const std::wstring view = T(L"several_view");
    Exec(L"drop view if exists " + view);
    Recreate(table, L"a integer, b varchar(10)");
    Exec(L"create view " + view + L" as select a, b from " + table);
    Exec(L"insert into " + table + L" values (1, 'x'), (1, 'x')");
    CADORecordSet viewed(&conn, 0);
    Open(viewed, L"select * from " + view);
    ASSERT_EQ(1, conn.BeginTrans());
    EXPECT_EQ(0, Set(viewed, L"b", _variant_t::Bstr(L"y")));
    conn.CommitTrans();
    EXPECT_EQ((Lines{"1|x", "1|x"}), Native(L"select a, b from " + table));
    Exec(L"drop view " + view);
}

INSTANTIATE_TEST_SUITE_P(Backends, ExactRows, ::testing::ValuesIn(testdb::Backends()), BackendName);

}  // namespace
