// The values of a wide type matrix, filled by each backend's own client, read through the library
// and printed by orva, compared with what that client prints for the same rows. Where orva's text
// differs on purpose, the comparison names the printer's rule.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <zentra/codepage.h>
#include <zentra/text.h>

#include "../core/testdb.h"
#include "run_orva.h"

using testdb::Kind;

namespace {

std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> parts;
    std::size_t start = 0;
    for (;;) {
        std::size_t at = text.find(separator, start);
        parts.push_back(text.substr(start, at - start));
        if (at == std::string::npos) return parts;
        start = at + 1;
    }
}

// The values orva printed in list layout, row by row: the text after "name: ".
std::vector<std::vector<std::string>> ListValues(const std::string& out, std::size_t columns) {
    std::vector<std::vector<std::string>> rows;
    for (const std::string& raw : Split(out, '\n')) {
        std::string line = raw;
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.find(". row ***") != std::string::npos) {
            rows.emplace_back();
            continue;
        }
        if (rows.empty() || rows.back().size() >= columns) continue;
        const std::size_t colon = line.find(": ");
        if (colon != std::string::npos) rows.back().push_back(line.substr(colon + 2));
    }
    return rows;
}

bool IsNumber(const std::string& text, double& value) {
    if (text.empty()) return false;
    char* end = nullptr;
    value = std::strtod(text.c_str(), &end);
    return end == text.c_str() + text.size();
}

// Whether orva's `shown` is the native `native` under the printer's rules; `rule` names the rule
// that made them differ.
bool Matches(const std::string& native, const std::string& shown, std::string& rule) {
    if (native == shown) return true;
    std::wstring escaped = zentra::Utf8ToWide(native);
    zentra::EscapeControls(escaped);
    if (zentra::WideToUtf8(escaped) == shown) {
        rule = "control characters show as visible escapes (a Tab as \\t)";
        return true;
    }
    double a = 0, b = 0;
    if (IsNumber(native, a) && IsNumber(shown, b) && (a == b || std::fabs(a - b) <= 5e-15 * std::fabs(a))) {
        rule = "doubles show 15 significant digits (DblToStr), numbers without the client's padding";
        return true;
    }
    if (IsNumber(native, a)) {
        char digits[64];
        std::snprintf(digits, sizeof digits, "%.15G", a);
        if (shown == digits) {
            rule = "doubles show 15 significant digits (DblToStr)";
            return true;
        }
    }
    if (shown == "<BLOB>" && native != "NULL") {
        rule = "long binary values print <BLOB>";
        return true;
    }
    {
        // Binary values: each byte as the character of that code, control characters escaped.
        std::wstring bytes;
        for (unsigned char ch : native) bytes += static_cast<wchar_t>(ch);
        zentra::EscapeControls(bytes);
        if (zentra::WideToUtf8(bytes) == shown) {
            rule = "bytes show as the characters of their codes, control characters escaped";
            return true;
        }
    }
    if ((native.size() > 1 && native[0] == '$') || native.rfind("-$", 0) == 0) {
        // Money: the number without the currency sign, the group separators and trailing zeros.
        std::string plain;
        for (char ch : native)
            if (ch != '$' && ch != ',') plain += ch;
        while (plain.find('.') != std::string::npos && (plain.back() == '0' || plain.back() == '.')) plain.pop_back();
        if (plain == shown) {
            rule = "money prints as an exact plain number";
            return true;
        }
    }
    if ((native == "\x01" && shown == "YES") || (native == std::string(1, '\0') && shown == "NO")) {
        rule = "a BIT(1) prints YES/NO (the client shows its byte)";
        return true;
    }
    if (((native == "t" || native == "1") && shown == "YES") || ((native == "f" || native == "0") && shown == "NO")) {
        rule = "booleans print YES/NO";
        return true;
    }
    if ((native == "t" && shown == "1") || (native == "f" && shown == "0")) {
        rule = "PostgreSQL's driver describes booleans as text 1/0 unless BoolsAsChar=0";
        return true;
    }
    // Dates: midnight prints the date only; milliseconds as three digits, none when zero.
    if (native.size() >= 19 && native[4] == '-' && native[13] == ':') {
        std::string expect = native.substr(0, 19);
        if (native.size() > 20 && native[19] == '.') {
            const std::string ms = (native.substr(20) + "000").substr(0, 3);
            if (ms != "000") expect += "." + ms;
        }
        if (expect.size() == 19 && expect.substr(11) == "00:00:00") expect = expect.substr(0, 10);
        if (expect == shown) {
            rule = "date-time text layout";
            return true;
        }
    }
    return false;
}

// A value the driver cannot deliver: orva's text for the native one, and why.
struct Limit {
    std::string native, shown, why;
};

struct Matrix {
    std::string create;  // through the native client
    std::string select;  // the same statement for both
    std::size_t columns;
    std::string nativeSelect = "";  // when the client needs another spelling of the same values
    std::vector<Limit> limits = {};
};

// PostgreSQL's driver writes a DATE by its year, month and day alone (the era and anything
// beyond four digits lost, infinity as zeros), and an infinite TIMESTAMP as its own stand-ins;
// no driver option, C type or DateStyle gives the server's text instead.
const std::vector<Limit> kPostgresDateLimits = {
    {"0044-03-15 BC", "0044-03-15", "the driver drops the era of a DATE"},
    {"infinity", "0000-00-00", "the driver writes an infinite DATE as zeros"},
    {"-infinity", "0000-00-00", "the driver writes an infinite DATE as zeros"},
    {"12345-01-02", "1234-00-00", "the driver keeps four digits of a DATE's year"},
    {"infinity", "9999-12-31 23:59:59", "the driver writes an infinite TIMESTAMP as its largest"},
    {"-infinity", "9999-01-01 00:00:00 BC", "the driver writes a -infinite TIMESTAMP as 9999 BC"},
    {"12345-01-02 03:04:05", "0000-00-00 00:00:00", "the driver writes a TIMESTAMP after 9999 as zeros"},
};

// The bytes of SQLite's quote() of a blob (X'00FF41'); other values unchanged.
std::string Unquote(const std::string& value) {
    if (value.size() < 3 || value.compare(0, 2, "X'") != 0 || value.back() != '\'') return value;
    std::string bytes;
    for (std::size_t i = 2; i + 2 < value.size(); i += 2)
        bytes += static_cast<char>(std::stoi(value.substr(i, 2), nullptr, 16));
    return bytes;
}

std::vector<Matrix> MatricesFor(Kind kind, const std::string& t) {
    if (kind == Kind::SQLite)
        return {
            {"drop table if exists " + t + "; create table " + t +
                 " (k integer, i integer, r real, n numeric, s text, d date, b blob);"
                 "insert into " +
                 t +
                 " values (1, 9223372036854775807, 1.5, 12.25, 'äöü 中文 😀', '2001-02-03', null),"
                 "(2, -9223372036854775808, -2.5e-300, 'n/a', 'tab\there', 'yesterday', null),"
                 "(3, 'abc', 'txt', 7, 42, 20010101, null), (4, 1.25, 1e300, -0.5, '', '2001-02-03 04:05:06', null);",
             "select k, i, r, n, s, d from " + t + " order by k", 6},
            // Blobs with NUL and 0xFF (the client shows them quoted), booleans, dates before 100 and after 9999.
            {"drop table if exists " + t + "b; create table " + t +
                 "b (k integer, b blob, bo boolean, d date);"
                 "insert into " +
                 t +
                 "b values (1, x'00ff41', 1, '0044-03-15'), (2, x'', 0, '12345-01-02'),"
                 " (3, x'41ff09', 'true', '-0044-03-15'), (4, null, null, null);",
             "select k, b, bo, d from " + t + "b order by k", 4,
             "select k, quote(b), bo, d from " + t + "b order by k"}};
    if (testdb::IsPostgres(kind))
        return {
            {"set client_min_messages = warning; drop table if exists " + t + "; create table " + t +
                 " (k int, sm smallint, bi bigint, nu numeric(38,10), big numeric, re real, dp double precision, bo boolean,"
                 " tx text, vc varchar(20), d date, ts timestamp, tm time, iv interval, js json);"
                 "insert into " +
                 t +
                 " values (1, -32768, -9223372036854775808, 1234567890123456789012345678.1234567890,"
                 " 123456789012345678901234567890123456789012345, 3.25, 1.7976931348623157e308, true, 'äöü 中文 😀',"
                 " 'tab\there', '2001-02-03', '2001-02-03 04:05:06.5', '10:20:30', '1 day 02:00:00', '{\"a\": [1, 2]}'),"
                 " (2, 32767, 9223372036854775807, -0.0000000001, -1, -0.5, 5e-324, false, 'x''y', '', '1900-01-01',"
                 " '1899-12-31 23:59:59', '23:59:59', '-3 mons', 'null'),"
                 " (3, null, null, null, null, null, null, null, null, null, null, null, null, null, null);",
             "select * from " + t + " order by k", 15},
            {"set client_min_messages = warning; drop table if exists " + t + "b; create table " + t +
                 "b (k int, by bytea,"
                 " b1 bit(1), b5 bit(5), vb varbit(8), mo money, u uuid, d date, ts timestamp(6), tm time(6));"
                 "insert into " +
                 t +
                 "b values (1, '\\x00ff41', B'1', B'10101', B'1', 92233720368547758.07,"
                 " '6ba7b810-9dad-11d1-80b4-00c04fd430c8', '0050-06-07', '0044-03-15 10:00:00.5 BC', '10:20:30.123456'),"
                 " (2, '', B'0', B'00000', B'', -92233720368547758.08, null, '0044-03-15 BC', '9999-12-31 23:59:59.999', '23:59:59.999999'),"
                 " (3, null, null, B'01000', null, 0.01, null, 'infinity', 'infinity', null),"
                 " (4, null, null, null, null, -1234.5, null, '-infinity', '-infinity', null),"
                 " (5, null, null, null, null, null, null, '12345-01-02', '12345-01-02 03:04:05', null);",
             "select * from " + t + "b order by k", 10, "", kPostgresDateLimits}};
    return {
        {"drop table if exists " + t + "; create table " + t +
             " (k int, ti tinyint, tu tinyint unsigned, bu bigint unsigned, bi bigint, de decimal(38,10), fl float,"
             " db double, tx varchar(40) character set utf8mb4, d date, dt datetime(3), tm time, yr year,"
             " en enum('a','bé'), st set('x','y'));"
             "insert into " +
             t +
             " values (1, -128, 255, 18446744073709551615, -9223372036854775808,"
             " 1234567890123456789012345678.1234567890, 3.25, 1.7976931348623157e308, 'äöü 中文 😀', '2001-02-03',"
             " '2001-02-03 04:05:06.500', '100:00:00', 2001, 'bé', 'x,y'),"
             " (2, 127, 0, 0, 9223372036854775807, -0.0000000001, -0.5, 5e-324, 'tab\there', '0000-00-00',"
             " '1900-01-01 00:00:00', '-10:20:30', 1901, 'a', ''),"
             " (3, null, null, null, null, null, null, null, null, null, null, null, null, null, null);",
         "select * from " + t + " order by k", 15},
        // Binary with NUL and 0xFF, bits, zero dates and TIME beyond a day with fractions.
        {"drop table if exists " + t + "b; create table " + t +
             "b (k int, vb varbinary(10), bl blob, b1 bit(1), b5 bit(5),"
             " bo boolean, tm time(3), d date, dt datetime);"
             "insert into " +
             t +
             "b values (1, x'00ff41', x'00ff41', b'1', b'10101', true, '838:59:59.999', '0000-00-00',"
             " '0000-00-00 00:00:00'), (2, '', '', b'0', b'00000', false, '-100:00:00.5', '2001-00-00', '2001-02-00 10:00:00'),"
             " (3, null, null, null, null, null, '24:00:00.001', '0050-06-07', '1000-01-01 00:00:00');",
         "select * from " + t + "b order by k", 9}};
}

std::vector<std::string> OrvaArgs(const testdb::Backend& b) {
    if (b.kind == Kind::SQLite) {
        const std::string cs(b.connectionString.begin(), b.connectionString.end());
        const std::size_t at = cs.find("Database=") + 9;
        return {"-t", "sqlite3", "-d", cs.substr(at, cs.find(';', at) - at)};
    }
    const bool pg = testdb::IsPostgres(b.kind);
    return {"-t", pg ? "pgsql" : "mysql",
            "-h", "127.0.0.1",
            "-P", testdb::Env(pg ? "ORVANTA_TEST_PG_PORT" : "ORVANTA_TEST_MARIA_PORT"),
            "-u", testdb::Env("ORVANTA_TEST_USER"),
            "-d", testdb::Env("ORVANTA_TEST_DB")};
}

class NativeComparison : public ::testing::TestWithParam<testdb::Backend> {};

TEST_P(NativeComparison, OrvaPrintsWhatTheNativeClientPrints) {
    const testdb::Backend& b = GetParam();
    if (!b.available) GTEST_SKIP() << b.skipReason;
    if (b.kind == Kind::PostgreSQLAnsi) GTEST_SKIP() << "orva's pgsql picks one PostgreSQL driver; run once";
    const std::string t = "cmp_matrix_" + b.name;
    for (const Matrix& m : MatricesFor(b.kind, t)) {
        SCOPED_TRACE(m.select);
        ASSERT_EQ(std::vector<std::string>(), testdb::NativeRows(b, m.create));
        const std::vector<std::string> native =
            testdb::NativeRows(b, m.nativeSelect.empty() ? m.select : m.nativeSelect);
        const std::vector<std::string> env = {"ORVANTA_PASSWORD=" + testdb::Env("ORVANTA_TEST_PASSWORD")};
        for (const char* locale : {"C.UTF-8", "C"}) {
            SCOPED_TRACE(locale);
            std::vector<std::string> localeEnv = env;
            localeEnv.push_back(std::string("LC_ALL=") + locale);
            const auto run = orvatest::RunOrva(OrvaArgs(b), "set table off\n" + m.select + ";\nexit\n", localeEnv);
            const auto rows = ListValues(run.out, m.columns);
            ASSERT_GE(native.size(), rows.size());
            ASSERT_FALSE(rows.empty()) << run.out;
            for (std::size_t r = 0; r < rows.size(); ++r) {
                std::vector<std::string> cells = Split(native[r], '|');
                ASSERT_EQ(m.columns, cells.size()) << native[r];
                ASSERT_EQ(m.columns, rows[r].size()) << run.out;
                for (std::size_t c = 0; c < m.columns; ++c) {
                    std::string& cell = cells[c];
                    if (b.kind == Kind::SQLite) cell = Unquote(cell);
                    std::string rule;
                    const bool ascii = std::all_of(cell.begin(), cell.end(), [](char ch) { return (ch & 0x80) == 0; });
                    // In the C locale the console shows only ASCII; the other values are checked above.
                    if (std::string(locale) == "C" && !ascii) continue;
                    const bool limited = std::any_of(m.limits.begin(), m.limits.end(), [&](const Limit& l) {
                        return l.native == cell && l.shown == rows[r][c];
                    });
                    EXPECT_TRUE(limited || Matches(cell, rows[r][c], rule))
                        << "row " << r + 1 << " column " << c + 1 << ": native [" << cell << "] orva [" << rows[r][c]
                        << "]";
                }
            }
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Backends, NativeComparison, ::testing::ValuesIn(testdb::Backends()),
                         [](const auto& instance) { return instance.param.name; });

}  // namespace
