// Editing recordsets against real databases: changes made through a recordset must reach the
// table (seen through a fresh query or a second connection), conflicts must fail instead of
// overwriting, and results that are not rows of one table must be refused.
#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <string>
#include <vector>

#include "../../core/dataaccess/update_sql.h"
#include "backend_test.h"
#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/text.h"

using namespace zentra;
using testdb::BackendName;
using testdb::Kind;
using testdb::U8;
using testdb::VariantArray;

namespace {

const wchar_t* const kRowNotFound =
    L"Row cannot be located for updating. Some values may have been changed since it was last read.";

template <class Key>
_variant_t Field(CADORecordSet& rs, Key key) {
    _variant_t v;
    EXPECT_EQ(1, rs.GetFieldValue(key, v)) << U8(rs.m_strLastError);
    return v;
}

template <class Key>
std::wstring Text(CADORecordSet& rs, Key key) {
    _variant_t v = Field(rs, key);
    if (v.vt() == VT_NULL) return L"<null>";
    std::wstring text;
    VariantToText(v, text);
    return text;
}

long long Number(CADORecordSet& rs, const wchar_t* name) {
    const std::wstring text = Text(rs, name);
    return text == L"<null>" ? -999999 : std::stoll(text);
}

// Starts an edit of the current record and sets one field in it.
template <class V>
void EditField(CADORecordSet& rs, const wchar_t* field, const V& value) {
    ASSERT_EQ(1, rs.Edit()) << U8(rs.m_strLastError);
    ASSERT_EQ(1, rs.SetFieldValue(field, value)) << U8(field) << ": " << U8(rs.m_strLastError);
}

// Changes one field of the current record and saves it: Update's result.
template <class V>
int Change(CADORecordSet& rs, const wchar_t* field, const V& value) {
    EditField(rs, field, value);
    return rs.Update();
}

// ---- without a database ----

TEST(EditingClosed, OperationsOnAClosedRecordsetFailOrDoNothing) {
    CADORecordSet rs;
    rs.m_strLastError = L"untouched";
    EXPECT_EQ(0, rs.SetFieldValue(0, CString(L"x")));  // no edit: 0, nothing recorded
    EXPECT_EQ(L"untouched", rs.m_strLastError);
    EXPECT_EQ(1, rs.Update());   // nothing pending
    EXPECT_EQ(1, rs.Requery());  // not open
    EXPECT_EQ(1, rs.CanUpdate());
    EXPECT_EQ(0, rs.Edit());
    EXPECT_EQ(0, rs.GetEditMode());
    EXPECT_EQ(0, rs.AddNew());
    EXPECT_EQ(0, rs.Delete());
    EXPECT_EQ(0, rs.DeleteAll());
    EXPECT_EQ(0, rs.UpdateBatch());
    EXPECT_EQ(0, rs.CancelBatch());
    EXPECT_EQ(0, rs.AppendChunk(0, "ab", 2));
    EXPECT_EQ(ZE_POINTER, rs.m_dwLastError);
}

// The table of a plain select, for drivers that describe no column's table.
TEST(EditingPlainSelect, NamesTheTableAndTheColumnsOfOneTableSelects) {
    PlainSelect p;
    ASSERT_TRUE(ParsePlainSelect(L"select * from items", p));
    EXPECT_EQ((std::vector<std::wstring>{L"items"}), p.table);
    EXPECT_TRUE(p.star);

    ASSERT_TRUE(
        ParsePlainSelect(L"SELECT i.id, name AS n, qty q, qty * 2 AS twice, f(x), 'k', 1, NULL, \"od\"\"d\" "
                         L"FROM main.\"my items\" AS i WHERE id IN (SELECT id FROM other, more) ORDER BY 1 LIMIT 5;",
                         p));
    EXPECT_EQ((std::vector<std::wstring>{L"main", L"my items"}), p.table);
    EXPECT_FALSE(p.star);
    EXPECT_EQ((std::vector<std::wstring>{L"id", L"name", L"qty", L"", L"", L"", L"", L"", L"od\"d"}), p.columns);

    ASSERT_TRUE(ParsePlainSelect(L"select `a` from db.sch.`t` -- comment, with a comma\n /* and, this */", p));
    EXPECT_EQ((std::vector<std::wstring>{L"db", L"sch", L"t"}), p.table);
    EXPECT_EQ((std::vector<std::wstring>{L"a"}), p.columns);

    for (const wchar_t* refused :
         {L"select a from t1, t2", L"select a from t1 join t2 on t1.x = t2.x",
          L"select a from t1 left join t2 using (x)", L"select distinct a from t", L"select a from (select a from t) s",
          L"select count(*) from t group by a", L"select a from t union select a from u", L"select 1",
          L"insert into t values (1)", L"select a from t; drop table t", L"select a, * from t",
          L"select a from t where b = 'unclosed", L"select a from a.b.c.d", L"select a from t x y"})
        EXPECT_FALSE(ParsePlainSelect(refused, p)) << U8(refused);
}

// ---- on every backend ----

class EditingBackend : public testdb::BackendTest {
protected:
    EditingBackend() : BackendTest(L"ed_") {}
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        ASSERT_EQ(1, other.Open(GetParam().connectionString.c_str())) << U8(other.m_strLastError);
    }
    void TearDown() override {
        other.Close();
        BackendTest::TearDown();
    }

    using BackendTest::Exec;
    void Exec(CADOConnection& c, const std::wstring& sql) {
        ASSERT_EQ(1, c.Execute(sql.c_str())) << U8(sql) << ": " << U8(c.m_strLastError);
    }
    void Open(CADORecordSet& rs, const std::wstring& sql) {
        ASSERT_EQ(1, rs.Open(conn.GetConnection(), sql.c_str(), 1)) << U8(sql) << ": " << U8(rs.m_strLastError);
    }
    // The items table: id 1..3 named a, b, c with quantities 10, 20, 30.
    void Items() {
        Recreate(T(L"items"), L"id integer primary key, name varchar(40), qty integer, note varchar(40)");
        Exec(L"insert into " + T(L"items") + L" values (1, 'a', 10, 'n1'), (2, 'b', 20, 'n2'), (3, 'c', 30, 'n3')");
    }
    // Every record of `rs`, first to last, one text per record; the position ends at EOF.
    static std::vector<std::wstring> RowsOf(CADORecordSet& rs) {
        std::vector<std::wstring> rows;
        for (rs.MoveFirst(); !rs.IsEOF(); rs.MoveNext()) {
            std::wstring row;
            for (int i = 0; i < rs.GetFieldCount(); ++i) row += (i ? L"|" : L"") + Text(rs, i);
            rows.push_back(row);
        }
        return rows;
    }
    // What a fresh query on the second connection sees.
    std::vector<std::wstring> Seen(const std::wstring& sql) {
        CADORecordSet rs(&other, 1);
        if (rs.Open(other.GetConnection(), sql.c_str(), 1)) return RowsOf(rs);
        ADD_FAILURE() << U8(sql) << ": " << U8(rs.m_strLastError);
        return {};
    }
    std::vector<std::wstring> SeenItems() {
        return Seen(L"select id, name, qty, note from " + T(L"items") + L" order by id");
    }

    CADOConnection other;
};

using Rows = std::vector<std::wstring>;

TEST_P(EditingBackend, ValuesAreStoredOnlyDuringAnEdit) {
    Items();
    CADORecordSet rs(&conn, 0);
    Open(rs, L"select id, name, qty from " + T(L"items") + L" order by id");
    rs.m_strLastError = L"untouched";
    EXPECT_EQ(0, rs.SetFieldValue(L"name", CString(L"zz")));
    EXPECT_EQ(0, rs.SetFieldValue(2, 5L));
    EXPECT_EQ(0, rs.SetFieldEmpty(L"name"));
    EXPECT_EQ(L"untouched", rs.m_strLastError);
    EXPECT_EQ(L"a", Text(rs, L"name"));
    EXPECT_EQ(0, rs.GetEditMode());

    ASSERT_EQ(1, rs.Edit());
    EXPECT_EQ(2, rs.GetEditMode());
    EXPECT_EQ(1, rs.SetFieldValue(L"name", CString(L"renamed")));
    EXPECT_EQ(1, rs.SetFieldValue(2, 100000));  // beyond 16 bits keeps its value
    EXPECT_EQ(L"renamed", Text(rs, L"name"));
    // A value the column cannot hold fails, is recorded and leaves the pending value alone.
    EXPECT_EQ(0, rs.SetFieldValue(L"qty", CString(L"many")));
    EXPECT_NE(std::wstring::npos, rs.m_strLastError.find(L"qty")) << U8(rs.m_strLastError);
    EXPECT_EQ(100000, Number(rs, L"qty"));
    EXPECT_EQ(0, rs.SetFieldValue(L"no_such_field", 1L));
    EXPECT_EQ(1, rs.Update());
    EXPECT_EQ(0, rs.GetEditMode());
    EXPECT_EQ(1, rs.Update());  // nothing pending
    EXPECT_EQ((Rows{L"1|renamed|100000|n1", L"2|b|20|n2", L"3|c|30|n3"}), SeenItems());

    // Typed setters, a NULL, and the edit cancelled.
    rs.MoveNext();
    ASSERT_EQ(1, rs.Edit());
    EXPECT_EQ(1, rs.SetFieldValue(L"qty", 7.0));
    EXPECT_EQ(1, rs.SetFieldEmpty(L"name"));
    EXPECT_EQ(1, rs.Update());
    ASSERT_EQ(1, rs.Edit());
    EXPECT_EQ(1, rs.SetFieldValue(L"qty", 99UL));
    EXPECT_EQ(1, rs.CancelUpdate());
    EXPECT_EQ(0, rs.GetEditMode());
    EXPECT_EQ(7, Number(rs, L"qty"));
    EXPECT_EQ((Rows{L"1|renamed|100000|n1", L"2|<null>|7|n2", L"3|c|30|n3"}), SeenItems());
}

TEST_P(EditingBackend, MovingOffAnEditedRecordSavesIt) {
    Items();
    CADORecordSet rs(&conn, 0);
    Open(rs, L"select * from " + T(L"items") + L" order by id");
    EditField(rs, L"note", L"moved");
    rs.MoveNext();
    EXPECT_EQ(0, rs.GetEditMode());
    EXPECT_EQ(2, Number(rs, L"id"));
    EXPECT_EQ((Rows{L"1|a|10|moved", L"2|b|20|n2", L"3|c|30|n3"}), SeenItems());
}

TEST_P(EditingBackend, AddNewShowsTheGeneratedKey) {
    const std::wstring table = T(L"auto");
    Recreate(table, AutoKey() + L", name varchar(20), qty integer");
    Exec(L"insert into " + table + L" (name, qty) values ('first', 1)");
    CADORecordSet rs(&conn, 0);
    Open(rs, L"select id, name, qty from " + table + L" order by id");
    ASSERT_EQ(1u, rs.GetRecordCount());

    ASSERT_EQ(1, rs.AddNew());
    EXPECT_EQ(1, rs.GetEditMode());
    EXPECT_EQ(VT_NULL, Field(rs, L"id").vt());
    ASSERT_EQ(1, rs.SetFieldValue(L"name", CString(L"second")));
    ASSERT_EQ(1, rs.Update()) << U8(rs.m_strLastError);
    EXPECT_EQ(0, rs.GetEditMode());
    EXPECT_EQ(2u, rs.GetRecordCount());
    EXPECT_EQ(L"second", Text(rs, L"name"));  // positioned on the new record
    EXPECT_EQ(2, Number(rs, L"id"));
    EXPECT_EQ(2, rs.GetAbsolutePosition());

    // Fields and values as arrays, then as a single pair.
    ASSERT_EQ(1, rs.AddNew(VariantArray({_variant_t::Bstr(L"name"), _variant_t::I4(2)}),
                           VariantArray({_variant_t::Bstr(L"third"), _variant_t::I4(33)})))
        << U8(rs.m_strLastError);
    ASSERT_EQ(1, rs.Update()) << U8(rs.m_strLastError);
    EXPECT_EQ(3, Number(rs, L"id"));
    ASSERT_EQ(1, rs.AddNew(_variant_t::Bstr(L"name"), _variant_t::Bstr(L"fourth")));
    ASSERT_EQ(1, rs.Update()) << U8(rs.m_strLastError);
    EXPECT_EQ(4, Number(rs, L"id"));
    EXPECT_EQ(0, rs.AddNew(VariantArray({_variant_t::Bstr(L"name")}), VariantArray({})));
    EXPECT_EQ(0, rs.GetEditMode());

    // In batch mode the key arrives with UpdateBatch.
    CADORecordSet batch(&conn, 1);
    Open(batch, L"select id, name, qty from " + table + L" order by id");
    ASSERT_EQ(1, batch.AddNew());
    ASSERT_EQ(1, batch.SetFieldValue(L"name", CString(L"fifth")));
    ASSERT_EQ(1, batch.Update());
    EXPECT_EQ(VT_NULL, Field(batch, L"id").vt());
    EXPECT_EQ(4u, Seen(L"select id from " + table).size());
    ASSERT_EQ(1, batch.UpdateBatch()) << U8(batch.m_strLastError);
    EXPECT_EQ(5, Number(batch, L"id"));
    EXPECT_EQ((Rows{L"1|first|1", L"2|second|<null>", L"3|third|33", L"4|fourth|<null>", L"5|fifth|<null>"}),
              Seen(L"select id, name, qty from " + table + L" order by id"));
}

TEST_P(EditingBackend, DeleteAndDeleteAllRemoveEveryRow) {
    const std::wstring table = T(L"del");
    Recreate(table, L"id integer primary key, name varchar(10)");
    for (int i = 1; i <= 5; ++i) Exec(L"insert into " + table + L" values (" + std::to_wstring(i) + L", 'r')");
    const std::wstring count = L"select count(*) from " + table;

    CADORecordSet rs(&conn, 0);
    Open(rs, L"select * from " + table + L" order by id");
    rs.MoveNext();
    ASSERT_EQ(1, rs.Delete()) << U8(rs.m_strLastError);
    EXPECT_EQ((Rows{L"4"}), Seen(count));
    EXPECT_EQ(4u, rs.GetRecordCount());
    _variant_t v;
    EXPECT_EQ(0, rs.GetFieldValue(L"id", v));  // the deleted record is no current record
    EXPECT_EQ(0, rs.Delete());
    rs.MoveNext();
    EXPECT_EQ(3, Number(rs, L"id"));
    ASSERT_EQ(1, rs.DeleteAll()) << U8(rs.m_strLastError);
    EXPECT_EQ((Rows{L"0"}), Seen(count));
    EXPECT_EQ(0u, rs.GetRecordCount());
    EXPECT_EQ(1, rs.IsEOF());

    // Batch mode: the rows go at UpdateBatch.
    for (int i = 1; i <= 4; ++i) Exec(L"insert into " + table + L" values (" + std::to_wstring(i) + L", 'r')");
    CADORecordSet batch(&conn, 1);
    Open(batch, L"select * from " + table + L" order by id");
    ASSERT_EQ(1, batch.DeleteAll());
    EXPECT_EQ(0u, batch.GetRecordCount());
    EXPECT_EQ((Rows{L"4"}), Seen(count));
    ASSERT_EQ(1, batch.UpdateBatch()) << U8(batch.m_strLastError);
    EXPECT_EQ((Rows{L"0"}), Seen(count));
}

TEST_P(EditingBackend, BatchChangesWaitForUpdateBatchAndCancelBatchRestores) {
    Items();
    CADORecordSet rs(&conn, 1);
    Open(rs, L"select id, name, qty, note from " + T(L"items") + L" order by id");
    const Rows before = SeenItems();
    ASSERT_EQ(1, Change(rs, L"name", CString(L"A")));
    rs.MoveNext();
    ASSERT_EQ(1, rs.Delete());
    rs.MoveNext();
    ASSERT_EQ(1, Change(rs, L"qty", 31L));
    ASSERT_EQ(1, rs.AddNew(VariantArray({_variant_t::Bstr(L"id"), _variant_t::Bstr(L"name")}),
                           VariantArray({_variant_t::I4(4), _variant_t::Bstr(L"d")})));
    ASSERT_EQ(1, rs.Update());
    EXPECT_EQ(3u, rs.GetRecordCount());
    EXPECT_EQ(before, SeenItems());  // nothing sent yet
    // A saved file holds rows, not changes: it would lose them, so it is refused.
    const std::string saved = "/tmp/orvanta_pending_" + std::to_string(getpid()) + ".xml";
    std::remove(saved.c_str());
    EXPECT_EQ(0, rs.SaveAsXML(std::wstring(saved.begin(), saved.end()).c_str()));
    EXPECT_NE(std::wstring::npos, rs.m_strLastError.find(L"changes that were not sent")) << U8(rs.m_strLastError);
    EXPECT_NE(0, access(saved.c_str(), F_OK));

    // CancelBatch brings back what was read and drops the added record.
    ASSERT_EQ(1, rs.CancelBatch());
    EXPECT_EQ(3u, rs.GetRecordCount());
    EXPECT_EQ(before, RowsOf(rs));
    ASSERT_EQ(1, rs.UpdateBatch());  // nothing pending any more
    EXPECT_EQ(before, SeenItems());

    rs.MoveFirst();
    EditField(rs, L"name", CString(L"A"));
    rs.MoveNext();  // saves the edit into the batch
    ASSERT_EQ(1, rs.Delete());
    rs.MoveNext();
    EditField(rs, L"qty", 31L);
    ASSERT_EQ(1, rs.AddNew(VariantArray({_variant_t::Bstr(L"id"), _variant_t::Bstr(L"name")}),
                           VariantArray({_variant_t::I4(4), _variant_t::Bstr(L"d")})));
    ASSERT_EQ(1, rs.UpdateBatch()) << U8(rs.m_strLastError);  // also saves the record being added
    EXPECT_EQ((Rows{L"1|A|10|n1", L"3|c|31|n3", L"4|d|<null>|<null>"}), SeenItems());
    ASSERT_EQ(1, rs.CancelBatch());  // nothing left to restore
    rs.MoveFirst();
    EXPECT_EQ(L"A", Text(rs, L"name"));
}

TEST_P(EditingBackend, AChangeFromAnotherConnectionMakesTheUpdateFail) {
    Items();
    CADORecordSet rs(&conn, 0);
    Open(rs, L"select id, name, qty, note from " + T(L"items") + L" order by id");
    Exec(other, L"update " + T(L"items") + L" set name = 'theirs' where id = 1");
    EXPECT_EQ(0, Change(rs, L"name", CString(L"mine")));
    EXPECT_EQ(kRowNotFound, rs.m_strLastError);
    EXPECT_EQ(0, rs.GetEditMode());
    EXPECT_EQ(L"theirs", SeenItems()[0].substr(2, 6));

    // A change of another column does not stand in the way, and is kept.
    rs.MoveNext();
    Exec(other, L"update " + T(L"items") + L" set note = 'their note' where id = 2");
    ASSERT_EQ(1, Change(rs, L"qty", 21L)) << U8(rs.m_strLastError);
    EXPECT_EQ(L"2|b|21|their note", SeenItems()[1]);

    // A row deleted meanwhile can't be updated or deleted.
    rs.MoveNext();
    Exec(other, L"delete from " + T(L"items") + L" where id = 3");
    EXPECT_EQ(0, Change(rs, L"qty", 1L));
    EXPECT_EQ(0, rs.Delete());
    EXPECT_EQ(kRowNotFound, rs.m_strLastError);

    // In batch mode the failed rows keep their change, nothing of the batch is written, and
    // CancelBatch gives back what was read.
    Items();
    CADORecordSet batch(&conn, 1);
    Open(batch, L"select id, name, qty, note from " + T(L"items") + L" order by id");
    EditField(batch, L"qty", 11L);
    batch.MoveNext();
    ASSERT_EQ(1, Change(batch, L"name", CString(L"mine")));
    Exec(other, L"update " + T(L"items") + L" set name = 'theirs' where id = 2");
    EXPECT_EQ(0, batch.UpdateBatch());
    EXPECT_EQ(kRowNotFound, batch.m_strLastError);
    EXPECT_EQ((Rows{L"1|a|10|n1", L"2|theirs|20|n2", L"3|c|30|n3"}), SeenItems());
    EXPECT_EQ(L"mine", Text(batch, L"name"));
    ASSERT_EQ(1, batch.CancelBatch());
    EXPECT_EQ(L"b", Text(batch, L"name"));

    // Inside the caller's transaction too, a batch that fails leaves nothing of itself behind.
    if (kind() == testdb::Kind::SQLite) return;  // another writer would wait for the transaction
    Items();
    CADORecordSet inside(&conn, 1);
    Open(inside, L"select id, name, qty, note from " + T(L"items") + L" order by id");
    ASSERT_EQ(1, conn.BeginTrans());
    EditField(inside, L"qty", 11L);
    inside.MoveNext();
    ASSERT_EQ(1, Change(inside, L"name", CString(L"mine")));
    Exec(other, L"update " + T(L"items") + L" set name = 'theirs' where id = 2");
    EXPECT_EQ(0, inside.UpdateBatch());
    EXPECT_EQ(kRowNotFound, inside.m_strLastError);
    conn.CommitTrans();
    EXPECT_EQ((std::vector<std::string>{"1|a|10|n1", "2|theirs|20|n2", "3|c|30|n3"}),
              testdb::NativeRows(GetParam(), U8(L"select id, name, qty, note from " + T(L"items") + L" order by id")));
}

TEST_P(EditingBackend, UpdateBatchOfTheCurrentRecordLeavesTheOthersPending) {
    Items();
    CADORecordSet rs(&conn, 1);
    Open(rs, L"select id, name, qty, note from " + T(L"items") + L" order by id");
    EditField(rs, L"qty", 11L);
    rs.MoveNext();
    EditField(rs, L"qty", 22L);
    ASSERT_EQ(1, rs.UpdateBatch(adAffectCurrent)) << U8(rs.m_strLastError);
    EXPECT_EQ((Rows{L"1|a|10|n1", L"2|b|22|n2", L"3|c|30|n3"}), SeenItems());
    ASSERT_EQ(1, rs.UpdateBatch(adAffectAll)) << U8(rs.m_strLastError);
    EXPECT_EQ((Rows{L"1|a|11|n1", L"2|b|22|n2", L"3|c|30|n3"}), SeenItems());
}

TEST_P(EditingBackend, UpdateBatchWritesInsideTheCallersTransaction) {
    Items();
    CADORecordSet rs(&conn, 1);
    Open(rs, L"select id, name, qty, note from " + T(L"items") + L" order by id");
    EditField(rs, L"qty", 12L);
    ASSERT_EQ(1, conn.BeginTrans());
    ASSERT_EQ(1, rs.UpdateBatch()) << U8(rs.m_strLastError);
    conn.RollbackTrans();
    EXPECT_EQ(L"1|a|10|n1", SeenItems()[0]);  // the caller's rollback undid it
    EditField(rs, L"name", CString(L"kept"));
    ASSERT_EQ(1, conn.BeginTrans());
    ASSERT_EQ(1, rs.UpdateBatch()) << U8(rs.m_strLastError);
    conn.CommitTrans();
    // The rows in memory don't follow the caller's rollback: the quantity counts as sent.
    EXPECT_EQ(L"1|kept|10|n1", SeenItems()[0]);
}

TEST_P(EditingBackend, UpdateCriteriaChooseWhatFindsTheRow) {
    Items();
    CADORecordSet rs(&conn, 0);
    Open(rs, L"select id, name, qty, note from " + T(L"items") + L" order by id");
    // The key alone: the other connection's change of the same column is overwritten.
    ASSERT_EQ(1, rs.SetProperties(L"Update Criteria", 0)) << U8(rs.m_strLastError);
    Exec(other, L"update " + T(L"items") + L" set name = 'theirs' where id = 1");
    ASSERT_EQ(1, Change(rs, L"name", CString(L"mine"))) << U8(rs.m_strLastError);
    EXPECT_EQ(L"1|mine|10|n1", SeenItems()[0]);
    // All columns: a change of any column is a conflict.
    ASSERT_EQ(1, rs.SetProperties(L"Update Criteria", 1));
    rs.MoveNext();
    Exec(other, L"update " + T(L"items") + L" set note = 'theirs' where id = 2");
    EXPECT_EQ(0, Change(rs, L"qty", 1L));
    EXPECT_EQ(kRowNotFound, rs.m_strLastError);
}

TEST_P(EditingBackend, AValueTheColumnAlreadyHoldsIsNoConflict) {
    // A fixed-length text padded by the column ends up as it was: MySQL-type servers count no
    // changed row, which must not read as a row that is gone.
    const std::wstring table = T(L"padded");
    Recreate(table, L"id integer primary key, code char(5)");
    Exec(L"insert into " + table + L" values (1, 'a')");
    CADORecordSet rs(&conn, 0);
    Open(rs, L"select * from " + table);
    EXPECT_EQ(1, Change(rs, L"code", CString(L"a "))) << U8(rs.m_strLastError);
    EXPECT_EQ((Rows{L"1"}), Seen(L"select count(*) from " + table));
}

TEST_P(EditingBackend, ResultsThatAreNotRowsOfOneTableAreRefused) {
    Items();
    const std::wstring tags = T(L"tags");
    Recreate(tags, L"item integer primary key, tag varchar(10)");
    Exec(L"insert into " + tags + L" values (1, 'red')");
    CADORecordSet join(&conn, 0);
    Open(join, L"select i.id, i.name, t.tag from " + T(L"items") + L" i join " + tags + L" t on t.item = i.id");
    EXPECT_EQ(0, Change(join, L"tag", CString(L"blue")));
    EXPECT_NE(std::wstring::npos, join.m_strLastError.find(L"Insufficient base table information"))
        << U8(join.m_strLastError);
    EXPECT_EQ((Rows{L"red"}), Seen(L"select tag from " + tags));

    // Naming the table to change makes the join writable for that table's columns.
    ASSERT_EQ(1, join.SetProperties(L"Unique Table", tags.c_str())) << U8(join.m_strLastError);
    ASSERT_EQ(1, Change(join, L"tag", CString(L"blue"))) << U8(join.m_strLastError);
    EXPECT_EQ((Rows{L"blue"}), Seen(L"select tag from " + tags));
    EXPECT_EQ(0, Change(join, L"name", CString(L"x")));
    EXPECT_NE(std::wstring::npos, join.m_strLastError.find(L"\"name\" cannot be updated")) << U8(join.m_strLastError);

    // An expression can't be set; the table's columns of the same result can.
    CADORecordSet rs(&conn, 0);
    Open(rs, L"select id, name, qty * 2 as twice from " + T(L"items") + L" order by id");
    EXPECT_EQ(0, Change(rs, L"twice", 4L));
    EXPECT_NE(std::wstring::npos, rs.m_strLastError.find(L"\"twice\" cannot be updated")) << U8(rs.m_strLastError);
    ASSERT_EQ(1, Change(rs, L"name", CString(L"ok"))) << U8(rs.m_strLastError);
    EXPECT_EQ(L"1|ok|10|n1", SeenItems()[0]);

    // A result of no table at all.
    CADORecordSet constant(&conn, 0);
    Open(constant, L"select 1 as one");
    EXPECT_EQ(0, Change(constant, L"one", 2L));
    EXPECT_NE(std::wstring::npos, constant.m_strLastError.find(L"Insufficient base table information"));
}

TEST_P(EditingBackend, ATableWithoutKeyIsChangedByItsOriginalValuesOneRowAtATime) {
    const std::wstring table = T(L"nokey");
    // Times finer than milliseconds, which the rows in memory don't keep exactly.
    const std::wstring stamp = StampType(6);
    Recreate(table, L"a integer, b varchar(10), r real, d date, s " + stamp);
    const std::wstring row = L"(1, 'x', 1.5, '2024-02-29', '2024-01-02 03:04:05.123456')";
    Exec(L"insert into " + table + L" values " + row + L", " + row + L", (2, null, 0.1, null, null)");
    const std::wstring all = L"select a, b from " + table + L" order by a, b";

    CADORecordSet rs(&conn, 0);
    Open(rs, L"select * from " + table + L" order by a");
    ASSERT_EQ(1, Change(rs, L"b", CString(L"y"))) << U8(rs.m_strLastError);
    EXPECT_EQ((Rows{L"1|x", L"1|y", L"2|<null>"}), Seen(all));  // one of the two equal rows
    rs.MoveNext();
    ASSERT_EQ(1, rs.Delete()) << U8(rs.m_strLastError);
    EXPECT_EQ((Rows{L"1|y", L"2|<null>"}), Seen(all));
    rs.MoveNext();  // NULLs and a real number among the original values
    ASSERT_EQ(1, Change(rs, L"b", CString(L"z"))) << U8(rs.m_strLastError);
    EXPECT_EQ((Rows{L"1|y", L"2|z"}), Seen(all));

    // Someone else's change of any column is a conflict here.
    Exec(other, L"update " + table + L" set r = 7 where a = 2");
    EXPECT_EQ(0, Change(rs, L"b", CString(L"lost")));
    EXPECT_EQ(kRowNotFound, rs.m_strLastError);
    EXPECT_EQ((Rows{L"1|y", L"2|z"}), Seen(all));
}

TEST_P(EditingBackend, EqualRowsOfAViewAreNeverChangedTogether) {
    const std::wstring table = T(L"viewbase"), view = T(L"view");
    Exec(L"drop view if exists " + view);
    Recreate(table, L"a integer, b varchar(10)");
    Exec(L"create view " + view + L" as select a, b from " + table);
    Exec(L"insert into " + table + L" values (1, 'x'), (1, 'x'), (2, 'y')");
    const std::wstring all = L"select a, b from " + table + L" order by a, b";
    CADORecordSet rs(&conn, 0);
    Open(rs, L"select * from " + view + L" order by a");
    EditField(rs, L"b", CString(L"z"));
    if (testdb::IsPostgres(kind())) {
        // A view has no row id to pick one of the two: the change is refused and undone.
        EXPECT_EQ(0, rs.Update());
        EXPECT_EQ(0u, rs.m_strLastError.find(L"Insufficient key column information for updating or refreshing. 2 rows"))
            << U8(rs.m_strLastError);
        EXPECT_EQ((Rows{L"1|x", L"1|x", L"2|y"}), Seen(all));
    } else {
        ASSERT_EQ(1, rs.Update()) << U8(rs.m_strLastError);
        EXPECT_EQ((Rows{L"1|x", L"1|z", L"2|y"}), Seen(all));
    }
    // A row that is one of a kind is changed through the view everywhere.
    rs.MoveLast();
    ASSERT_EQ(1, Change(rs, L"b", CString(L"w"))) << U8(rs.m_strLastError);
    EXPECT_EQ(L"2|w", Seen(all).back());
    Exec(L"drop view " + view);
}

TEST_P(EditingBackend, OddTableAndColumnNamesAreQuoted) {
    const std::wstring quote = Pick(L"\"", L"\"", L"`");
    const std::wstring table = L"ed odd " + quote + L"t" + quote + L" " + testdb::Widen(GetParam().name);
    const std::wstring weird = L"we" + quote + L"ird col";
    Exec(L"drop table if exists " + Quoted(table));
    Exec(L"create table " + Quoted(table) + L" (" + Quoted(L"order") + L" integer primary key, " + Quoted(weird) +
         L" varchar(20))");
    Exec(L"insert into " + Quoted(table) + L" values (1, 'x')");
    CADORecordSet rs(&conn, 0);
    Open(rs, L"select * from " + Quoted(table));
    ASSERT_EQ(1, Change(rs, weird.c_str(), CString(L"it's; drop"))) << U8(rs.m_strLastError);
    ASSERT_EQ(1, rs.AddNew());
    ASSERT_EQ(1, rs.SetFieldValue(L"order", 2L));
    ASSERT_EQ(1, rs.SetFieldValue(weird.c_str(), CString(L"\u00e9t\u00e9 \U0001F600")));
    ASSERT_EQ(1, rs.Update()) << U8(rs.m_strLastError);
    rs.MoveFirst();
    ASSERT_EQ(1, rs.Delete()) << U8(rs.m_strLastError);
    EXPECT_EQ((Rows{L"2|\u00e9t\u00e9 \U0001F600"}), Seen(L"select * from " + Quoted(table)));
    Exec(L"drop table " + Quoted(table));
}

struct Item : CADORecordBinding {
    std::int32_t id = 0;
    wchar_t name[8] = {};
    char note[4] = {};
    double price = 0;
    VARIANT_BOOL flag = 0;
    DATE when = 0;
    std::int16_t small = 0;
    CY cost{};
    DECIMAL exact{};
    VARIANT_BOOL positive = 0;
    std::uint8_t byte = 0;
    long byteStatus = -1;
    long idStatus = -1, nameStatus = -1, noteStatus = -1, priceStatus = -1, whenStatus = -1, smallStatus = -1;
    long nameLength = 0, noteLength = 0;
    std::vector<Entry> GetBindingEntries() override {
        return {
            {1, adInteger, &id, sizeof id, nullptr, &idStatus, true},
            {2, adVarWChar, name, sizeof name, &nameLength, &nameStatus, true},
            {3, adVarChar, note, sizeof note, &noteLength, &noteStatus, true},
            {4, adDouble, &price, sizeof price, nullptr, &priceStatus, true},
            {5, adDate, &when, sizeof when, nullptr, &whenStatus, true},
            {6, adSmallInt, &small, sizeof small, nullptr, &smallStatus, true},
            // The same fields again in other forms, read only.
            {4, adCurrency, &cost, sizeof cost, nullptr, nullptr, false},
            {4, adDecimal, &exact, sizeof exact, nullptr, nullptr, false},
            {1, adBoolean, &positive, sizeof positive, nullptr, nullptr, false},
            {6, adUnsignedTinyInt, &byte, sizeof byte, nullptr, &byteStatus, false},
        };
    }
};

TEST_P(EditingBackend, RecordBindingFollowsTheRecordAndAddsRecords) {
    const std::wstring table = T(L"bound");
    Recreate(table,
             L"id integer primary key, name varchar(20), note varchar(20), price double precision, "
             L"happened date, big integer");
    Exec(L"insert into " + table +
         L" values (1, 'short', 'abc', 2.5, '2024-01-02', 7), "
         L"(2, 'much too long', 'abcd', null, null, 100000)");
    CADORecordSet rs(&conn, 0);
    Open(rs, L"select * from " + table + L" order by id");
    Item item;
    ASSERT_EQ(1, rs.RecordBinding(item)) << U8(rs.m_strLastError);
    EXPECT_EQ(1, item.id);
    EXPECT_EQ(std::wstring(L"short"), item.name);
    EXPECT_EQ(adFldOK, item.nameStatus);
    EXPECT_EQ(static_cast<long>(5 * sizeof(wchar_t)), item.nameLength);
    EXPECT_STREQ("abc", item.note);
    EXPECT_EQ(2.5, item.price);
    EXPECT_EQ(adFldOK, item.whenStatus);
    EXPECT_NEAR(45293.0, item.when, 1e-9);  // 2024-01-02
    EXPECT_EQ(7, item.small);
    EXPECT_EQ(25000, item.cost.int64);
    EXPECT_EQ(L"2.5", DecimalToText(item.exact));
    EXPECT_EQ(VARIANT_TRUE, item.positive);
    EXPECT_EQ(7, item.byte);
    EXPECT_EQ(adFldOK, item.byteStatus);

    rs.MoveNext();
    EXPECT_EQ(2, item.id);
    EXPECT_EQ(adFldTruncated, item.nameStatus);
    EXPECT_EQ(std::wstring(L"much to"), item.name);
    EXPECT_EQ(static_cast<long>(13 * sizeof(wchar_t)), item.nameLength);
    EXPECT_EQ(adFldTruncated, item.noteStatus);
    EXPECT_STREQ("abc", item.note);
    EXPECT_EQ(adFldNull, item.priceStatus);
    EXPECT_EQ(adFldNull, item.whenStatus);
    EXPECT_EQ(adFldDataOverflow, item.smallStatus);
    EXPECT_EQ(adFldDataOverflow, item.byteStatus);

    item.id = 3;
    std::wcscpy(item.name, L"new");
    std::strcpy(item.note, "xy");
    item.nameLength = item.noteLength = -1;
    item.price = 9.25;
    item.when = 45294.0;
    item.small = 12;
    item.priceStatus = item.whenStatus = item.smallStatus = adFldOK;
    ASSERT_EQ(1, rs.AddNew(item)) << U8(rs.m_strLastError);
    EXPECT_EQ(0, rs.GetEditMode());
    EXPECT_EQ(3, Number(rs, L"id"));
    EXPECT_EQ((Rows{L"3|new|xy|9.25|12"}), Seen(L"select id, name, note, price, big from " + table + L" where id = 3"));
    EXPECT_EQ((Rows{L"1/3/2024"}), Seen(L"select happened from " + table + L" where id = 3"));

    struct Bad : CADORecordBinding {
        int x = 0;
        std::vector<Entry> GetBindingEntries() override {
            return {{9, adInteger, &x, sizeof x, nullptr, nullptr, true}};
        }
    } bad;
    EXPECT_EQ(0, rs.RecordBinding(bad));
}

TEST_P(EditingBackend, RequeryRunsTheStatementAgain) {
    Items();
    CADORecordSet rs(&conn, 1);
    Open(rs, L"select id, name from " + T(L"items") + L" order by id");
    Exec(other, L"update " + T(L"items") + L" set name = 'fresh' where id = 1");
    Exec(other, L"insert into " + T(L"items") + L" (id, name) values (4, 'd')");
    EXPECT_EQ(L"a", Text(rs, L"name"));
    EditField(rs, L"name", CString(L"pending"));
    EXPECT_EQ(0, rs.Requery());  // an edit in progress is not thrown away
    ASSERT_EQ(1, rs.Update());
    EXPECT_EQ(0, rs.Requery());  // nor a change waiting for UpdateBatch
    ASSERT_EQ(1, rs.CancelBatch());
    ASSERT_EQ(1, rs.Requery()) << U8(rs.m_strLastError);
    EXPECT_EQ(4u, rs.GetRecordCount());
    EXPECT_EQ(L"fresh", Text(rs, L"name"));

    ASSERT_EQ(1, rs.SetFilter(L"id > 2")) << U8(rs.m_strLastError);
    EXPECT_EQ(2u, rs.GetRecordCount());
    Exec(other, L"insert into " + T(L"items") + L" (id, name) values (5, 'e'), (0, 'z')");
    ASSERT_EQ(1, rs.Requery()) << U8(rs.m_strLastError);
    EXPECT_EQ(3u, rs.GetRecordCount()) << "the filter stays";
    EXPECT_EQ(3, Number(rs, L"id"));
}

TEST_P(EditingBackend, ChunksAppendToTheValueBeingEdited) {
    const std::wstring table = T(L"chunks");
    Recreate(table, L"id integer primary key, data " + BlobType() + L", body varchar(200)");
    Exec(L"insert into " + table + L" (id) values (1)");
    CADORecordSet rs(&conn, 0);
    Open(rs, L"select * from " + table);
    EXPECT_EQ(0, rs.AppendChunk(L"data", "ab", 2));  // no edit
    ASSERT_EQ(1, rs.Edit());
    const unsigned char first[] = {0x00, 0xFF, 0x10};
    const unsigned char second[] = {0x7F};
    ASSERT_EQ(1, rs.AppendChunk(L"data", first, 3));
    ASSERT_EQ(1, rs.AppendChunk(L"data", second, 1));
    // Text as UTF-16 code units; a surrogate pair split between two chunks.
    const std::u16string text = u"h\u00e9\U0001F600!";
    const auto* units = reinterpret_cast<const char*>(text.data());
    ASSERT_EQ(1, rs.AppendChunk(L"body", units, 6));  // "h", "é", high surrogate
    ASSERT_EQ(1, rs.AppendChunk(L"body", units + 6, 4));
    EXPECT_EQ(0, rs.AppendChunk(L"body", units, 3));
    EXPECT_EQ(0, rs.AppendChunk(L"id", first, 1));
    ASSERT_EQ(1, rs.Update()) << U8(rs.m_strLastError);

    CADORecordSet fresh(&other, 0);
    ASSERT_EQ(1, fresh.Open(other.GetConnection(), (L"select data, body from " + table).c_str(), 1));
    _variant_t data = Field(fresh, L"data");
    ASSERT_EQ(VT_ARRAY | VT_UI1, data.vt());
    EXPECT_EQ((std::vector<std::uint8_t>{0x00, 0xFF, 0x10, 0x7F}), data.parray()->bytes);
    EXPECT_EQ(L"h\u00e9\U0001F600!", Text(fresh, L"body"));

    // The first chunk of a new edit replaces the value.
    ASSERT_EQ(1, rs.Edit());
    ASSERT_EQ(1, rs.AppendChunk(L"data", second, 1));
    ASSERT_EQ(1, rs.Update());
    EXPECT_EQ((Rows{L"1"}), Seen(L"select count(*) from " + table + L" where data is not null"));
    _variant_t now = Field(rs, L"data");
    ASSERT_EQ(VT_ARRAY | VT_UI1, now.vt());
    EXPECT_EQ(1u, now.parray()->bytes.size());
}

INSTANTIATE_TEST_SUITE_P(Backends, EditingBackend, ::testing::ValuesIn(testdb::Backends()), BackendName);

}  // namespace
