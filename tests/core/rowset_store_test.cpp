// The row store keeps rows one after the other in large blocks and finds a row from a mark every
// few rows: every row must read back as it went in, in any order of reading, across block
// boundaries, with rows larger than a block, and after rows are given new values or added.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "../../core/dataaccess/rowset.h"

using namespace zentra;

namespace {

struct Expected {
    bool idNull = false;
    std::int64_t id = 0;
    bool textNull = false;
    std::wstring text;
};

class RowStore : public ::testing::Test {
protected:
    RowStore() {
        ColumnInfo id;
        id.name = L"id";
        id.kind = ValueKind::Int;
        ColumnInfo text;
        text.name = L"text";
        text.kind = ValueKind::Text;
        rows.columns = {id, text};
    }

    void Add(const Expected& row) {
        if (row.idNull) rows.AddNull();
        else rows.AddInt(row.id);
        if (row.textNull) rows.AddNull();
        else rows.AddText(row.text);
        rows.EndRow();
        expected.push_back(row);
    }

    static std::vector<_variant_t> Values(const Expected& row) {
        return {row.idNull ? _variant_t::Null() : _variant_t::I8(row.id),
                row.textNull ? _variant_t::Null() : _variant_t::Bstr(row.text)};
    }

    // Reads row `row` and compares it with what went in.
    void Check(std::size_t row) {
        rows.Load(row);
        const Expected& want = expected[row];
        ASSERT_EQ(want.idNull, rows.IsNull(0)) << "row " << row;
        if (!want.idNull) {
            ASSERT_EQ(want.id, rows.Value(0).intVal()) << "row " << row;
        }
        ASSERT_EQ(want.textNull, rows.IsNull(1)) << "row " << row;
        if (!want.textNull) {
            ASSERT_EQ(want.text, rows.Value(1).bstrVal()) << "row " << row;
        }
    }

    void CheckAll(std::mt19937& random) {
        ASSERT_EQ(expected.size(), rows.RowCount());
        for (std::size_t row = 0; row < expected.size(); ++row) ASSERT_NO_FATAL_FAILURE(Check(row));
        for (std::size_t row = expected.size(); row-- > 0;) ASSERT_NO_FATAL_FAILURE(Check(row));
        std::vector<std::size_t> order(expected.size());
        for (std::size_t i = 0; i < order.size(); ++i) order[i] = i;
        std::shuffle(order.begin(), order.end(), random);
        for (std::size_t row : order) ASSERT_NO_FATAL_FAILURE(Check(row));
        // Past the last row every value reads as NULL.
        rows.Load(expected.size());
        EXPECT_TRUE(rows.IsNull(0));
        EXPECT_TRUE(rows.IsNull(1));
    }

    RowSet rows;
    std::vector<Expected> expected;
};

TEST_F(RowStore, RowsReadBackInAnyOrderAcrossBlocksAndAfterChanges) {
    std::mt19937 random(20261208);
    // Mostly short rows, some long enough that a block's room runs out in the middle of them,
    // two larger than a whole block, NULLs in both columns.
    for (int i = 0; i < 6000; ++i) {
        Expected row;
        row.idNull = i % 37 == 5;
        row.id =
            static_cast<std::int64_t>(random()) - (std::int64_t{1} << 31) + (i % 11 == 0 ? (std::int64_t{1} << 40) : 0);
        row.textNull = i % 13 == 3;
        const std::size_t length = i == 2500 || i == 2501 ? (1u << 20) + 77
                                   : i % 50 == 7          ? 200000 + random() % 5000
                                                          : random() % 40;
        for (std::size_t k = 0; k < length; ++k) row.text += static_cast<wchar_t>(L'a' + (k + i) % 26);
        if (i % 7 == 0) row.text += L"ж😀";
        Add(row);
    }
    rows.Finish();
    ASSERT_NO_FATAL_FAILURE(CheckAll(random));

    // New values for rows at and next to the marks, the first and the last row, then rows added
    // after them: the rows around keep their own values.
    for (std::size_t row : {std::size_t{0}, std::size_t{15}, std::size_t{16}, std::size_t{17}, std::size_t{2500},
                            std::size_t{2501}, expected.size() - 1, std::size_t{16}}) {
        Expected changed;
        changed.id = static_cast<std::int64_t>(row) * 1000 + 1;
        changed.text = L"changed " + std::to_wstring(row) + std::wstring(row % 3 == 0 ? 300 : 2, L'x');
        changed.textNull = row == 17;
        rows.ReplaceRow(row, Values(changed));
        expected[row] = changed;
        // The row just changed is read at once, as an edit's refresh does.
        ASSERT_NO_FATAL_FAILURE(Check(row));
    }
    for (int i = 0; i < 40; ++i) {
        Expected added;
        added.id = -i;
        added.text = L"added " + std::to_wstring(i);
        const std::size_t id = rows.AppendRow(Values(added));
        expected.push_back(added);
        ASSERT_EQ(expected.size() - 1, id);
    }
    rows.ReplaceRow(expected.size() - 3, Values(expected[5]));
    expected[expected.size() - 3] = expected[5];
    ASSERT_NO_FATAL_FAILURE(CheckAll(random));
}

}  // namespace
