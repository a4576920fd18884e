// A property of editing through a recordset, on every backend: random small tables full of rows
// that are equal or nearly equal (case, trailing blanks, fractions below the millisecond, float
// neighbours), random changes and deletes, and after each step the table, read through the
// native client, equals a model in which exactly the row asked for changed, or nothing did.
// A refusal is right exactly when another row can't be told apart from the one asked for.
#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

#include "backend_test.h"
#include "zentra/dataaccess.h"

using namespace zentra;
using testdb::BackendName;
using testdb::Kind;
using testdb::U8;

namespace {

class EditProperty : public testdb::BackendTest {
protected:
    EditProperty() : BackendTest(L"prop_") {}
};

// Value pools: indexes into them make the model's rows. `Similar` tells which entries the
// backend can't compare exactly (SQLite dates to the millisecond, its REAL values to fifteen
// digits); every other pair of entries differs in the table.
const wchar_t* const kTexts[] = {L"'a'", L"'A'", L"'a '", L"'b'", L"null"};
const wchar_t* const kStamps[] = {L"'2024-01-01 00:00:00'", L"'2024-01-01 00:00:00.000100'",
                                  L"'2024-01-01 00:00:00.000200'", L"'2024-01-01 00:00:00.001'"};
const wchar_t* const kDoubles[] = {L"0.1", L"0.30000000000000004", L"0.3", L"2.5"};

struct Row {
    int v, s, x;
    long n;
};

bool Similar(Kind kind, const Row& a, const Row& b) {
    const bool sqlite = kind == Kind::SQLite;
    auto stamp = [&](int i) { return sqlite && i < 3 ? 0 : i; };  // equal to the millisecond
    auto real = [&](int i) { return sqlite && i == 2 ? 1 : i; };  // equal to fifteen digits
    return a.v == b.v && stamp(a.s) == stamp(b.s) && real(a.x) == real(b.x) && a.n == b.n;
}

TEST_P(EditProperty, EachEditChangesTheRowAskedForOrNothing) {
    const std::wstring table = T(L"t");
    const std::wstring stamp = StampType(6);
    const std::wstring dbl = DoubleType();
    std::mt19937 random(20241207);
    auto pick = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    int changed = 0, refused = 0;
    for (int round = 0; round < 3; ++round) {
        // A hidden tag tells the rows apart for the check; the recordset doesn't see it.
        Recreate(table, L"tag integer, v varchar(8), s " + stamp + L", x " + dbl + L", n integer");
        std::map<int, Row> model;
        std::wstring values;
        for (int tag = 1; tag <= 8; ++tag) {
            // Few distinct values per column, so that equal and nearly equal rows abound.
            Row row{pick(round == 0 ? 5 : 2), pick(round == 1 ? 4 : 2), pick(round == 2 ? 4 : 2), pick(2)};
            model[tag] = row;
            values += (values.empty() ? L"(" : L", (") + std::to_wstring(tag) + L", " + kTexts[row.v] + L", " +
                      kStamps[row.s] + L", " + kDoubles[row.x] + L", " + std::to_wstring(row.n) + L")";
        }
        Exec(L"insert into " + table + L" values " + values);
        // One recordset for the round: its records follow the tags, deleted ones skipped.
        CADORecordSet rs(&conn, 0);
        ASSERT_EQ(1, rs.Open(conn.GetConnection(), (L"select v, s, x, n from " + table + L" order by tag").c_str(), 1))
            << U8(rs.m_strLastError);
        for (int step = 0; step < 8 && !model.empty(); ++step) {
            const int at = pick(static_cast<int>(model.size()));
            auto target = std::next(model.begin(), at);
            rs.MoveFirst();
            for (int k = 0; k < at; ++k) rs.MoveNext();
            const bool ambiguous = std::any_of(model.begin(), model.end(), [&](const auto& other) {
                return other.first != target->first && Similar(kind(), other.second, target->second);
            });
            const bool inTransaction = pick(3) == 0;
            if (inTransaction) {
                ASSERT_EQ(1, conn.BeginTrans());
            }
            const bool remove = pick(3) == 0;
            const long fresh = 100 + round * 100 + step;
            int result;
            if (remove) {
                result = rs.Delete();
            } else {
                result = rs.Edit() == 1 && rs.SetFieldValue(L"n", _variant_t::I4(static_cast<std::int32_t>(fresh))) == 1
                             ? rs.Update()
                             : -1;
            }
            if (inTransaction) conn.CommitTrans();
            const std::string what = "round " + std::to_string(round) + " step " + std::to_string(step) + " tag " +
                                     std::to_string(target->first) + (remove ? " delete" : " update") + ": " +
                                     U8(rs.m_strLastError);
            // A row the model cannot tell apart from another may still be told apart by the values
            // the driver gives exactly; the table check below shows it was the row asked for.
            if (!ambiguous) {
                EXPECT_EQ(1, result) << what;
            }
            if (result == 1) {
                ++changed;
                if (remove) model.erase(target);
                else target->second.n = fresh;
            } else {
                ++refused;
            }
            std::vector<std::string> expected;
            for (const auto& [tag, row] : model) expected.push_back(std::to_string(tag) + "|" + std::to_string(row.n));
            ASSERT_EQ(expected, testdb::NativeRows(GetParam(), U8(L"select tag, n from " + table + L" order by tag")))
                << what;
        }
    }
    // Both outcomes were exercised.
    EXPECT_GT(changed, 5);
    EXPECT_GT(refused, 2);
}

INSTANTIATE_TEST_SUITE_P(Backends, EditProperty, ::testing::ValuesIn(testdb::Backends()), BackendName);

}  // namespace
