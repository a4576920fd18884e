// The printer reads most values in the form the record set stores them, without a variant. Its
// text must be the one the value read as a variant prints as, for every value a database gives:
// random integers, decimals, dates, times, timestamps and texts on every backend, and the ones
// at the edges of their ranges.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "../core/backend_test.h"
#include "printer.h"

using namespace zentra;
using orva::CPrintRecords;
using testdb::BackendName;
using testdb::Kind;
using testdb::U8;

namespace {

class PrinterStored : public testdb::BackendTest {
protected:
    PrinterStored() : BackendTest(L"ps_") {}
};

std::wstring Digits(std::mt19937_64& random, int count, bool leadingNonZero) {
    std::wstring digits;
    for (int i = 0; i < count; ++i) {
        const int low = i == 0 && leadingNonZero ? 1 : 0;
        digits += static_cast<wchar_t>(L'0' + low + static_cast<int>(random() % static_cast<unsigned>(10 - low)));
    }
    return digits;
}

std::wstring Padded(unsigned value, int width) {
    std::wstring text = std::to_wstring(value);
    return std::wstring(static_cast<size_t>(std::max(0, width - static_cast<int>(text.size()))), L'0') + text;
}

// A decimal of up to 20 whole and 8 fraction digits, often with zeros ending the fraction.
std::wstring RandomDecimal(std::mt19937_64& random) {
    std::wstring text = random() % 3 == 0 ? L"-" : L"";
    const int whole = static_cast<int>(random() % 21);
    text += whole == 0 ? L"0" : Digits(random, whole, true);
    const int fraction = static_cast<int>(random() % 9);
    if (fraction > 0) {
        std::wstring digits = Digits(random, fraction, false);
        if (random() % 2)
            digits.replace(digits.size() / 2, std::wstring::npos, digits.size() - digits.size() / 2, L'0');
        text += L"." + digits;
    }
    return text;
}

// A valid date of years `first` to 9999.
std::wstring RandomDate(std::mt19937_64& random, unsigned first) {
    const unsigned year = first + static_cast<unsigned>(random() % (10000 - first));
    const unsigned month = 1 + static_cast<unsigned>(random() % 12);
    const unsigned day = 1 + static_cast<unsigned>(random() % 28);
    return Padded(year, 4) + L"-" + Padded(month, 2) + L"-" + Padded(day, 2);
}

// A time of day; often midnight or whole seconds, with a fraction of up to six digits.
std::wstring RandomTime(std::mt19937_64& random, bool fraction) {
    const bool midnight = random() % 5 == 0;
    std::wstring text = midnight ? L"00:00:00"
                                 : Padded(static_cast<unsigned>(random() % 24), 2) + L":" +
                                       Padded(static_cast<unsigned>(random() % 60), 2) + L":" +
                                       Padded(static_cast<unsigned>(random() % 60), 2);
    if (fraction && random() % 3 != 0) {
        // Below a millisecond, whole milliseconds, the last microsecond of a second.
        static const wchar_t* const kFractions[] = {L".000400", L".001000", L".999999", L".500000"};
        text += random() % 2 ? kFractions[random() % 4] : L"." + Digits(random, 6, false);
    }
    return text;
}

std::wstring RandomText(std::mt19937_64& random) {
    static const wchar_t* const kPieces[] = {L"a", L"Z", L"é", L"中", L"😀", L" ", L"\t", L"x\ny", L"''", L"\\", L"0"};
    std::wstring text;
    const int count = static_cast<int>(random() % 8);
    for (int i = 0; i < count; ++i) text += kPieces[random() % (sizeof kPieces / sizeof kPieces[0])];
    return text;
}

TEST_P(PrinterStored, StoredTextIsTheVariantText) {
    const std::wstring t = T(L"values");
    Recreate(t, Pick(L"id integer, si smallint, bi bigint, d decimal(30,8), ts timestamp, dt date, tm time, "
                     L"tx varchar(80)",
                     L"id integer, si smallint, bi bigint, d numeric(30,8), ts timestamp(6), dt date, tm time(6), "
                     L"tx varchar(80)",
                     L"id integer, si smallint, bi bigint, d decimal(30,8), ts datetime(6), dt date, tm time(6), "
                     L"tx varchar(80) character set utf8mb4"));
    std::mt19937_64 random(20261207);
    const unsigned firstYear = kind() == Kind::MariaDB ? 1000 : 100;
    // The edges first, then random rows.
    std::wstring rows = L"(0, -32768, -9223372036854775808, '-0.00000000', '" + std::to_wstring(firstYear) +
                        L"-01-01 00:00:00', '9999-12-31', '23:59:59.999999', ''), "
                        L"(1, 32767, 9223372036854775807, '9999999999999999999999.99999999', "
                        L"'9999-12-31 23:59:59.999999', '2000-02-29', '00:00:00', NULL), "
                        L"(2, NULL, NULL, NULL, NULL, NULL, NULL, 'NULL')";
    for (int id = 3; id < 400; ++id) {
        rows += L", (" + std::to_wstring(id) + L", " + std::to_wstring(static_cast<int>(random() % 65536) - 32768) +
                L", " + std::to_wstring(static_cast<std::int64_t>(random())) + L", '" + RandomDecimal(random) +
                L"', '" + RandomDate(random, firstYear) + L" " + RandomTime(random, true) + L"', '" +
                RandomDate(random, firstYear) + L"', '" + RandomTime(random, kind() != Kind::SQLite) + L"', '" +
                RandomText(random) + L"')";
    }
    // Texts with a backslash are taken as they stand.
    if (kind() == Kind::MariaDB) Exec(L"set session sql_mode = concat(@@sql_mode, ',NO_BACKSLASH_ESCAPES')");
    Exec(L"insert into " + t + L" values " + rows);

    CADORecordSet rs(&conn, 1);
    // Each column also as an expression, which SQLite types by its value.
    Query(rs, L"select id, si, bi, d, ts, dt, tm, tx, bi + 0, d * 1, tx || '' from " + t + L" order by id");
    ASSERT_EQ(400u, rs.GetRecordCount());
    const long count = rs.GetFieldCount();
    std::vector<int> types(static_cast<size_t>(count));
    for (long i = 0; i < count; ++i) {
        CADOFieldInfo info;
        ASSERT_EQ(1, rs.GetFieldInfo(i, &info));
        types[static_cast<size_t>(i)] = info.m_nType;
    }
    std::vector<int> stored(static_cast<size_t>(count), 0);
    _variant_t scratch;
    for (; !rs.IsEOF(); rs.MoveNext()) {
        for (long i = 0; i < count; ++i) {
            CString direct, viaVariant;
            CPrintRecords::VariantText(rs, i, types[static_cast<size_t>(i)], scratch, viaVariant);
            if (!CPrintRecords::StoredText(rs, i, types[static_cast<size_t>(i)], direct)) continue;
            ++stored[static_cast<size_t>(i)];
            _variant_t id;
            rs.GetFieldValue(0, id);
            ASSERT_EQ(U8(viaVariant), U8(direct)) << "row id " << id.intVal() << ", column " << i;
        }
    }
    // The stored form serves the plain columns of every row (a timestamp or time beyond a
    // database's structures arrives as text, which has one too), but the decimal of 30 digits
    // where the database keeps it exact.
    for (long i = 0; i < 8; ++i) EXPECT_LE(399, stored[static_cast<size_t>(i)]) << "column " << i;
}

INSTANTIATE_TEST_SUITE_P(Backends, PrinterStored, ::testing::ValuesIn(testdb::Backends()), BackendName);

}  // namespace
