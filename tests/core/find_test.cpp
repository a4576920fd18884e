// Searching, bookmarks, filters, sort orders and clones of recordsets, on every backend.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <string>
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

const wchar_t* const kBadArguments =
    L"Arguments are of the wrong type, are out of acceptable range, or are in conflict with one another.";
const wchar_t* const kNoItem =
    L"Item cannot be found in the collection corresponding to the requested name or ordinal.";

TEST(FindClosed, OperationsOnAClosedRecordsetFailCleanly) {
    CADORecordSet rs;
    EXPECT_EQ(0, rs.Find(L"id = 1"));
    EXPECT_EQ(ZE_POINTER, rs.m_dwLastError);
    EXPECT_EQ(0, rs.FindFirst(L"id = 1"));
    EXPECT_EQ(0, rs.FindNext());
    EXPECT_EQ(0, rs.SetFilter(L"id = 1"));
    EXPECT_EQ(0, rs.SetSort(L"id"));
    EXPECT_EQ(0, rs.SetBookmark()) << "nothing saved";
    EXPECT_TRUE(rs.GetCurrentBookmark().IsEmpty());
    CADORecordSet other;
    EXPECT_EQ(0, rs.Clone(other));
    EXPECT_EQ(0, rs.SaveAsXML(L"/tmp/never-written.xml"));
}

using Ids = std::vector<long>;

class FindBackend : public testdb::BackendTest {
protected:
    FindBackend() : BackendTest(L"se_") {}
    void SetUp() override {
        BackendTest::SetUp();
        if (IsSkipped() || HasFatalFailure()) return;
        table = T(L"find");
        const std::wstring numeric = kind() == Kind::MariaDB ? L"decimal(12,2)" : L"numeric(12,2)";
        const std::wstring dbl = DoubleType();
        Recreate(table, L"id integer, name varchar(40), amount " + numeric + L", born date, score " + dbl);
        Exec(
            L"insert into " + table +
            L" values (1, 'Alpha', 10.50, '2024-01-31', 1.5), (2, 'beta', 20.00, '2023-06-15', null), "
            L"(3, 'Gamma', null, null, 3.25), (4, 'alpha two', 10.50, '2024-02-01', -1), (5, 'O''Brien', 5.25, '1999-12-31', 2.0)");
        Query(rs, L"select * from " + table + L" order by id");
    }
    void TearDown() override {
        rs.Close();
        BackendTest::TearDown();
    }

    static long Id(CADORecordSet& r) {
        _variant_t v;
        if (r.IsEOF() || r.IsBOF() || !r.GetFieldValue(L"id", v) || v.IsNull()) return -1;
        return static_cast<long>(v.intVal());
    }
    // The ids of the visible records, first to last.
    static Ids Visible(CADORecordSet& r) {
        Ids ids;
        r.MoveFirst();
        while (!r.IsEOF()) {
            ids.push_back(Id(r));
            r.MoveNext();
        }
        return ids;
    }
    // The id FindNext moves to, or 0 when it finds nothing.
    long Next() { return rs.FindNext() ? Id(rs) : 0; }
    // The visible ids after a sort or a filter that must be accepted.
    Ids SortedBy(const wchar_t* sort) {
        EXPECT_EQ(1, rs.SetSort(sort)) << U8(sort) << ": " << U8(rs.m_strLastError);
        return Visible(rs);
    }
    Ids FilteredBy(const wchar_t* filter) {
        EXPECT_EQ(1, rs.SetFilter(filter)) << U8(filter) << ": " << U8(rs.m_strLastError);
        return Visible(rs);
    }
    // The ids of every record meeting a Find criteria, walking forward with FindNext.
    Ids Found(const wchar_t* criteria) {
        Ids ids;
        if (!rs.FindFirst(criteria)) return ids;
        do ids.push_back(Id(rs));
        while (rs.FindNext());
        return ids;
    }

    CADORecordSet rs{&conn, 1};
    std::wstring table;
};

TEST_P(FindBackend, FindStartsAtTheCurrentRecordAndFindNextMovesPastIt) {
    rs.MoveFirst();
    EXPECT_EQ(1, rs.Find(L"id = 1")) << "the current record itself is searched first";
    EXPECT_EQ(1, Id(rs));
    ASSERT_EQ(1, rs.FindFirst(L"id >= 2"));
    EXPECT_EQ(2, Id(rs));
    EXPECT_EQ(3, Next()) << "the next match after the found one, not the same record";
    // FindNext continues from where the last search stopped, wherever the position went since.
    rs.MoveFirst();
    EXPECT_EQ(4, Next());
    EXPECT_EQ(5, Next());
    EXPECT_EQ(0, rs.FindNext());
    EXPECT_EQ(1, rs.IsEOF());
    EXPECT_EQ(0, rs.Find(L"id = 1")) << "forward from EOF finds nothing";
    EXPECT_EQ(1, rs.IsEOF());
}

TEST_P(FindBackend, BackwardSearchesAndTheStoredDirection) {
    rs.MoveLast();
    ASSERT_EQ(1, rs.Find(L"amount = 10.5", adSearchBackward));
    EXPECT_EQ(4, Id(rs));
    EXPECT_EQ(1, Next()) << "FindNext keeps the backward direction";
    EXPECT_EQ(0, rs.FindNext());
    EXPECT_EQ(1, rs.IsBOF());
    EXPECT_EQ(0, rs.Find(L"id = 1", adSearchBackward)) << "backward from BOF finds nothing";

    // Any other direction fails and makes the stored direction forward again.
    rs.MoveLast();
    ASSERT_EQ(1, rs.Find(L"id = 3", adSearchBackward));
    EXPECT_EQ(0, rs.Find(L"id > 0", 2));
    EXPECT_EQ(kBadArguments, rs.m_strLastError);
    EXPECT_EQ(3, Id(rs)) << "a failed Find does not move";
    EXPECT_EQ(4, Next()) << "forward from record 3 with the criteria given to the failed Find";
}

TEST_P(FindBackend, CriteriaCompareByTheColumnsType) {
    EXPECT_EQ((Ids{1}), Found(L"name = 'ALPHA'"));
    EXPECT_EQ((Ids{4}), Found(L"name = 'Alpha Two'"));
    EXPECT_EQ((Ids{5}), Found(L"name = 'O''Brien'")) << "a doubled quote inside the text";
    EXPECT_EQ((Ids{2}), Found(L"[name] = 'beta'")) << "a bracketed column name";
    EXPECT_EQ((Ids{1, 2, 4}), Found(L"name < 'c'")) << "text compares without regard to case";
    // Numbers by value: 10.50 equals 10.5; an integer column against a fraction.
    EXPECT_EQ((Ids{1, 4}), Found(L"amount = 10.5"));
    EXPECT_EQ((Ids{1, 4}), Found(L"amount = 1.05E1"));
    EXPECT_EQ((Ids{3, 4, 5}), Found(L"id > 2.5"));
    EXPECT_EQ((Ids{1, 2}), Found(L"id <= 2"));
    EXPECT_EQ((Ids{2, 5}), Found(L"amount <> 10.5")) << "NULL meets no comparison";
    EXPECT_EQ((Ids{4}), Found(L"score < 0"));
    EXPECT_EQ((Ids{3, 5}), Found(L"score >= 2"));
    // Dates in #...# (ISO or month/day/year) or quotes, compared as dates.
    EXPECT_EQ((Ids{1}), Found(L"born = #2024-01-31#"));
    EXPECT_EQ((Ids{1}), Found(L"born = #1/31/2024#"));
    EXPECT_EQ((Ids{1, 4}), Found(L"born > '2023-12-31'"));
    EXPECT_EQ((Ids{5}), Found(L"born < #2000-01-01#"));
    EXPECT_EQ((Ids{3}), Found(L"amount = NULL"));
    EXPECT_EQ((Ids{3}), Found(L"born IS NULL"));
    EXPECT_EQ((Ids{1, 3, 4, 5}), Found(L"score is not null"));
    EXPECT_EQ((Ids{1, 2, 4, 5}), Found(L"amount <> NULL"));
    // LIKE with wildcards at the end or at both ends.
    EXPECT_EQ((Ids{1, 4}), Found(L"name LIKE 'al*'"));
    EXPECT_EQ((Ids{1, 4}), Found(L"name like '%PH%'"));
    EXPECT_EQ((Ids{2}), Found(L"name LIKE 'BETA'"));
    EXPECT_EQ((Ids{1, 2, 3, 4, 5}), Found(L"name LIKE '*'"));
    EXPECT_EQ((Ids{}), Found(L"name = 'nobody'"));
}

TEST_P(FindBackend, MalformedCriteriaFailWithoutMoving) {
    const wchar_t* bad[] = {L"name",
                            L"name =",
                            L"= 'x'",
                            L"name = 'unterminated",
                            L"name ~ 'x'",
                            L"id = 'abc'",
                            L"born = #not a date#",
                            L"born = #2024-01-31",
                            L"name LIKE 'a*b'",
                            L"name LIKE '*a'",
                            L"name LIKE 5",
                            L"id = 1 AND id = 2",
                            L"name = beta",
                            L"[name = 'x'",
                            L"id = 1)",
                            L"id < NULL",
                            L"id IS 5",
                            L""};
    rs.MoveFirst();
    rs.MoveNext();
    for (const wchar_t* criteria : bad) {
        EXPECT_EQ(0, rs.Find(criteria)) << U8(criteria);
        EXPECT_EQ(kBadArguments, rs.m_strLastError) << U8(criteria);
        EXPECT_EQ(2, Id(rs)) << U8(criteria);
    }
    EXPECT_EQ(0, rs.Find(L"nosuch = 1"));
    EXPECT_EQ(kNoItem, rs.m_strLastError);
    EXPECT_EQ(2, Id(rs));
}

TEST_P(FindBackend, FiltersAndSortsCombine) {
    EXPECT_EQ((Ids{1, 2, 4}), FilteredBy(L"amount >= 10 OR score < 0"));
    EXPECT_EQ(3u, rs.GetRecordCount());
    ASSERT_EQ(1, rs.SetSort(L"amount DESC, name"));
    EXPECT_EQ(2, Id(rs)) << "after a sort the first record is current";
    EXPECT_EQ((Ids{2, 1, 4}), Visible(rs)) << "ties on amount ordered by name, without regard to case";
    EXPECT_EQ((Ids{4, 1, 2}), SortedBy(L"[amount] ASC, [name] DESC"));
    EXPECT_EQ((Ids{1, 2, 4}), SortedBy(L"")) << "no sort: the stored order, still filtered";

    EXPECT_EQ((Ids{5}), FilteredBy(L"(id = 1 OR id = 5) AND name LIKE 'O*'"));
    EXPECT_EQ((Ids{2, 3, 5}), FilteredBy(L"id > 1 AND id < 4 OR id = 5")) << "AND binds tighter than OR";
    // Find and FindNext search the visible records only.
    EXPECT_EQ((Ids{3, 5}), Found(L"score > 0"));

    ASSERT_EQ(1, rs.SetFilter(L"id > 100"));
    EXPECT_EQ(0u, rs.GetRecordCount());
    EXPECT_EQ(1, rs.IsEOF());
    EXPECT_EQ(1, rs.IsBOF());

    // A bad filter or sort fails and leaves the view as it was.
    ASSERT_EQ(1, rs.SetFilter(L"id <> 3"));
    EXPECT_EQ(0, rs.SetFilter(L"id = = 3"));
    EXPECT_EQ(kBadArguments, rs.m_strLastError);
    EXPECT_EQ(0, rs.SetSort(L"nosuch"));
    EXPECT_EQ(kNoItem, rs.m_strLastError);
    EXPECT_EQ(0, rs.SetSort(L"id sideways"));
    EXPECT_EQ(0, rs.SetSort(L"id,"));
    EXPECT_EQ((Ids{1, 2, 4, 5}), Visible(rs));

    // Filters nested or chained beyond reason are refused, not followed into a stack overflow.
    std::wstring deep = std::wstring(100000, L'(') + L"id = 1" + std::wstring(100000, L')');
    EXPECT_EQ(0, rs.SetFilter(deep.c_str()));
    std::wstring chain = L"id = 1";
    for (int i = 0; i < 100000; ++i) chain += L" OR id = 1";
    EXPECT_EQ(0, rs.SetFilter(chain.c_str()));
    std::wstring fine = L"((id = 1))";
    for (int i = 0; i < 50; ++i) fine += L" OR id = 5";
    ASSERT_EQ(1, rs.SetFilter(fine.c_str()));
    EXPECT_EQ((Ids{1, 5}), Visible(rs));

    EXPECT_EQ((Ids{1, 2, 3, 4, 5}), FilteredBy(L""));
}

TEST_P(FindBackend, SortPutsNullsFirstAndKeepsTiesInOrder) {
    EXPECT_EQ((Ids{3, 5, 1, 4, 2}), SortedBy(L"amount")) << "NULL first; 1 and 4 tie and keep their order";
    EXPECT_EQ((Ids{2, 1, 4, 5, 3}), SortedBy(L"amount DESC")) << "descending: NULL last, ties still in stored order";
    EXPECT_EQ((Ids{4, 1, 2, 5, 3}), SortedBy(L"born DESC"));
    EXPECT_EQ((Ids{2, 4, 1, 5, 3}), SortedBy(L"score"));
    EXPECT_EQ((Ids{1, 4, 2, 3, 5}), SortedBy(L"name"));
    // The filter applies before the sort, whichever was set first.
    EXPECT_EQ((Ids{1, 4, 2, 5}), FilteredBy(L"amount IS NOT NULL"));
}

// Texts are folded to lower case once per value; the order must stay the one a case-blind
// comparison of each pair gives: NULL first, ties in stored order, non-ASCII letters folded too.
TEST_P(FindBackend, ALargeTextSortMatchesACaseBlindReferenceSort) {
    if (kind() != Kind::SQLite) GTEST_SKIP() << "one backend is enough for the order of rows already read";
    const std::wstring big = T(L"sortbig");
    Recreate(big, L"id integer, name varchar(40)");
    Exec(
        L"insert into " + big +
        L" with recursive n(x) as (select 1 union all select x + 1 from n where x < 6000) "
        L"select x, case x % 9 when 0 then null when 1 then 'Äpfel' when 2 then 'äpfel' when 3 then 'ÖL' when 4 then 'öl' "
        L"when 5 then 'Ωmega ' || (x % 7) when 6 then 'ωMEGA ' || (x % 5) when 7 then '中文' || (x % 3) else 'Zebra' || (x % 11) end from n");
    CADORecordSet big_rs(&conn, 1);
    Query(big_rs, L"select * from " + big + L" order by id");
    struct Row {
        long id;
        bool null;
        std::wstring name;
    };
    std::vector<Row> reference;
    for (big_rs.MoveFirst(); !big_rs.IsEOF(); big_rs.MoveNext()) {
        _variant_t v;
        ASSERT_TRUE(big_rs.GetFieldValue(L"name", v));
        reference.push_back({Id(big_rs), v.IsNull(), v.IsNull() ? L"" : std::wstring(v.bstrVal())});
    }
    ASSERT_EQ(6000u, reference.size());
    std::stable_sort(reference.begin(), reference.end(), [](const Row& a, const Row& b) {
        if (a.null || b.null) return a.null && !b.null;
        return CompareNoCase(a.name, b.name) < 0;
    });
    Ids expected;
    for (const Row& r : reference) expected.push_back(r.id);
    ASSERT_EQ(1, big_rs.SetSort(L"name")) << U8(big_rs.m_strLastError);
    EXPECT_EQ(expected, Visible(big_rs));
    std::reverse(reference.begin(), reference.end());
    ASSERT_EQ(1, big_rs.SetSort(L"name DESC, id DESC"));
    expected.clear();
    for (const Row& r : reference) expected.push_back(r.id);
    EXPECT_EQ(expected, Visible(big_rs)) << "descending on both keys is the exact reverse";
}

TEST_P(FindBackend, BookmarksFollowTheirRecordThroughSortAndFilter) {
    CADORecordSet fresh(&conn, 1);
    ASSERT_EQ(1, fresh.Execute((L"select id from " + table).c_str(), nullptr));
    EXPECT_EQ(0, fresh.SetBookmark()) << "no bookmark saved yet";

    rs.MoveFirst();
    rs.Move(3);
    ASSERT_EQ(4, Id(rs));
    const _variant_t mark = rs.GetCurrentBookmark();
    ASSERT_EQ(VT_R8, mark.vt());
    rs.GetBookmark();
    ASSERT_EQ(1, rs.SetSort(L"name DESC"));
    EXPECT_NE(4, Id(rs));
    ASSERT_EQ(1, rs.SetBookmark());
    EXPECT_EQ(4, Id(rs));
    EXPECT_EQ(mark, rs.GetCurrentBookmark()) << "a bookmark names a record, not a position";
    rs.MoveNext();
    rs.MoveNext();
    EXPECT_NE(mark, rs.GetCurrentBookmark());

    ASSERT_EQ(1, rs.SetFilter(L"id <> 4"));
    EXPECT_EQ(0, rs.SetBookmark()) << "the record is hidden by the filter";
    EXPECT_FALSE(rs.m_strLastError.empty());
    ASSERT_EQ(1, rs.SetFilter(L""));
    ASSERT_EQ(1, rs.SetBookmark());
    EXPECT_EQ(4, Id(rs));

    rs.MoveLast();
    rs.MoveNext();
    EXPECT_TRUE(rs.GetCurrentBookmark().IsEmpty()) << "no bookmark at EOF";
    rs.GetBookmark();
    EXPECT_FALSE(rs.m_strLastError.empty());
    ASSERT_EQ(1, rs.SetBookmark()) << "the saved bookmark stays when GetBookmark fails";
    EXPECT_EQ(4, Id(rs));
}

TEST_P(FindBackend, ClonesShareRowsButNotThePosition) {
    ASSERT_EQ(1, rs.SetFilter(L"id <> 2"));
    ASSERT_EQ(1, rs.SetSort(L"id DESC"));
    rs.MoveNext();
    ASSERT_EQ(4, Id(rs));
    CADORecordSet clone;
    ASSERT_EQ(1, rs.Clone(clone));
    EXPECT_EQ(5, Id(clone)) << "a clone starts at its first record";
    EXPECT_EQ(4, Id(rs)) << "cloning does not move the original";
    EXPECT_EQ((Ids{5, 4, 3, 1}), Visible(clone)) << "with the same filter and sort";
    EXPECT_EQ(clone.GetConnection(), rs.GetConnection());
    EXPECT_EQ(clone.GetQuery(), rs.GetQuery());

    // Positions and views are the clone's own.
    clone.MoveLast();
    rs.MoveFirst();
    EXPECT_EQ(1, Id(clone));
    EXPECT_EQ(5, Id(rs));
    ASSERT_EQ(1, clone.SetFilter(L""));
    ASSERT_EQ(1, clone.SetSort(L""));
    EXPECT_EQ((Ids{1, 2, 3, 4, 5}), Visible(clone));
    EXPECT_EQ((Ids{5, 4, 3, 1}), Visible(rs));

    // Bookmarks of one are bookmarks of the other: they share the rows.
    ASSERT_EQ(1, clone.FindFirst(L"id = 3"));
    ASSERT_EQ(1, rs.FindFirst(L"id = 3"));
    EXPECT_EQ(clone.GetCurrentBookmark(), rs.GetCurrentBookmark());

    // A change made through one is seen through the other.
    ASSERT_EQ(1, rs.Edit());
    ASSERT_EQ(1, rs.SetFieldValue(L"name", CString(L"changed")));
    ASSERT_EQ(1, rs.Update()) << U8(rs.m_strLastError);
    _variant_t v;
    ASSERT_EQ(1, clone.GetFieldValue(L"name", v));
    ASSERT_EQ(VT_BSTR, v.vt());
    EXPECT_EQ(L"changed", v.bstrVal());

    // Closing the original leaves the clone working.
    rs.Close();
    EXPECT_EQ((Ids{1, 2, 3, 4, 5}), Visible(clone));
}

TEST_P(FindBackend, DeletedRecordsAreNeitherFoundNorBookmarked) {
    ASSERT_EQ(1, rs.FindFirst(L"id = 2"));
    rs.GetBookmark();
    ASSERT_EQ(1, rs.Delete()) << U8(rs.m_strLastError);  // batch mode: marked, kept in memory
    EXPECT_EQ((Ids{1, 3, 4, 5}), Found(L"id > 0"));
    rs.MoveLast();
    ASSERT_EQ(1, rs.Find(L"id < 4", adSearchBackward));
    EXPECT_EQ(3, Id(rs));
    EXPECT_EQ(1, Next());
    EXPECT_EQ(0, rs.SetBookmark()) << "the bookmarked record is deleted";
    EXPECT_FALSE(rs.m_strLastError.empty());
    EXPECT_EQ((Ids{1, 4, 5, 3}), SortedBy(L"amount DESC"));
    EXPECT_EQ(4u, rs.GetRecordCount());
}

TEST_P(FindBackend, SearchingSavesAPendingEditFirst) {
    ASSERT_EQ(1, rs.FindFirst(L"id = 2"));
    ASSERT_EQ(1, rs.Edit());
    ASSERT_EQ(1, rs.SetFieldValue(L"name", CString(L"edited")));
    ASSERT_EQ(1, rs.FindFirst(L"name = 'EDITED'")) << U8(rs.m_strLastError);
    EXPECT_EQ(2, Id(rs)) << "the edit was saved before the search read the rows";
    EXPECT_EQ(0, rs.GetEditMode());
}

INSTANTIATE_TEST_SUITE_P(Backends, FindBackend, ::testing::ValuesIn(testdb::Backends()), BackendName);

}  // namespace
