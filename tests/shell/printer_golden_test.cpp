// The printer's bytes pinned: a large printout of the demo database and of a matrix of each
// backend's value types (NULLs, wide characters, long and multi-line texts, decimals, dates, control
// characters) in the table layout, the list layout and the truncated layout with record indexes,
// compared byte for byte with the files under tests/shell/golden/. The files were written by the
// printer before its output path was rewritten for speed, and checked against sqlite3, psql and
// mariadb. ORVANTA_UPDATE_GOLDEN=1 rewrites them (only after checking a difference by hand).
#include <clocale>
#include <cstdlib>
#include <string>
#include <vector>

#include "commands.h"
#include "run_orva.h"

namespace {

using orva::State;

const std::string kGoldenDir = std::string(ORVANTA_SOURCE_DIR) + "/tests/shell/golden/";

class GoldenSession : public orvatest::ShellSession {
public:
    GoldenSession() {
        std::setlocale(LC_ALL, "C.UTF-8");
        State().errorBeep = 0;
    }
    // Prints `sql` in the three layouts, each after a heading line naming it.
    void PrintAll(const std::wstring& sql) {
        struct Layout {
            const char* name;
            int list, truncate, index;
        };
        for (const Layout& l :
             {Layout{"table", 0, 0, 0}, Layout{"list", 1, 0, 0}, Layout{"table trunc index", 0, 1, 1}}) {
            State().print.layout = l.list ? orva::PrintLayout::List : orva::PrintLayout::Table;
            State().print.truncate = l.truncate;
            State().print.showIndex = l.index;
            Take();
            zentra::CADORecordSet recordset(State().connection.get(), 1);
            orva::ExecuteStatement(State().connection.get(), sql, recordset);
            text_ += "=== " + std::string(l.name) + ": " + zentra::WideToUtf8(sql) + "\n" + orvatest::Masked(Take());
        }
    }
    // Compares everything printed with the golden file `name`.
    void Compare(const std::string& name) {
        const std::string path = kGoldenDir + name;
        if (const char* update = std::getenv("ORVANTA_UPDATE_GOLDEN"); update && std::string(update) == "1") {
            orvatest::WriteFile(path, text_);
            return;
        }
        const std::string golden = orvatest::ReadFile(path);
        ASSERT_FALSE(golden.empty()) << path << " is missing";
        if (golden == text_) return;
        size_t at = 0;
        while (at < golden.size() && at < text_.size() && golden[at] == text_[at]) ++at;
        const size_t from = golden.rfind('\n', at) == std::string::npos ? 0 : golden.rfind('\n', at) + 1;
        const std::string actual = "/tmp/" + name + ".actual";
        orvatest::WriteFile(actual, text_);
        ADD_FAILURE() << name << " differs at byte " << at << " (printed text in " << actual
                      << ")\nexpected: " << golden.substr(from, at - from + 80)
                      << "\nprinted:  " << text_.substr(from, at - from + 80);
    }

private:
    std::string text_;
};

TEST(PrinterGolden, DemoDatabaseAndSqliteTypes) {
    GoldenSession s;
    const std::string file = testdb::NewSqliteFile();
    ASSERT_EQ(std::system(("sqlite3 -bail '" + file + "' < '" ORVANTA_SOURCE_DIR "/demo/demo.sql'").c_str()), 0);
    ASSERT_TRUE(s.Connect(testdb::SqliteConnectionString(file)));
    for (const wchar_t* table : {L"customers", L"products", L"orders", L"order_lines"})
        s.PrintAll(std::wstring(L"select * from ") + table);
    s.PrintAll(
        L"select o.id, c.name, o.placed_at, sum(l.quantity * l.unit_price) as total from orders o join "
        L"customers c on c.id = o.customer_id join order_lines l on l.order_id = o.id group by o.id "
        L"order by o.id");

    s.Exec(
        L"create table m(i integer, bi bigint, si smallint, r real, d double, dc decimal(12,2), "
        L"num numeric(20,6), dt date, tm time, ts timestamp, vc varchar(20), tx text, b blob, bo boolean)");
    s.Exec(
        L"insert into m values(1, 1234567890123, 7, 0.5, 3.14159, 12.50, 0.000001, '2024-02-29', "
        L"'12:34:56', '2024-02-29 12:34:56', 'plain', 'short', x'41', 1)");
    s.Exec(L"insert into m values(null, null, null, null, null, null, null, null, null, null, null, null, null, null)");
    s.Exec(
        L"insert into m values(-2147483648, -9223372036854775808, -32768, -0.1, 1.5e300, -0.05, "
        L"123456789012.345678, '0001-01-01', '00:00:00', '1999-12-31 23:59:59.123', '中文字符テスト', "
        L"'a long text that is far wider than the thirty columns of a cell' || char(10) || 'second line', "
        L"x'00ff10', 0)");
    s.Exec(
        L"insert into m values(2147483647, 9223372036854775807, 32767, 1e-10, -2.5e-300, 9999999999.99, "
        L"-1, '9999-12-31', '23:59:59', '2024-01-01 00:00:00', 'tab' || char(9) || 'bell' || char(7), "
        L"'crlf' || char(13) || char(10) || 'after' || char(13) || char(10) || char(10) || 'blank', "
        L"zeroblob(0), 0)");
    s.Exec(
        L"insert into m values(0, 0, 0, 0, 0, 0, 0, '', '', '', 'é😀👍🏽', 'Ｆｕｌｌ　ｗｉｄｔｈ　ｔｅｘｔ　"
        L"ａｎｄ　ｍｏｒｅ', '', 2)");
    s.PrintAll(L"select * from m");
    s.PrintAll(L"select count(*), sum(i), avg(d), max(ts), min(vc), 1.25, 'x', null, 10/3, 10.0/3 from m");

    s.PrintAll(
        L"with recursive c(x) as (select 1 union all select x + 1 from c where x < 2500) select x, "
        L"'customer-' || x as name, (x % 1000) / 4.0 as amount, datetime(1700000000 + x * 37, 'unixepoch') "
        L"as ts, case when x % 3 = 0 then null else 'note ' || (x * 7919 % 100003) end as note from c");
    s.Compare("printer_sqlite.txt");
}

// The same for each server: its own type matrix and a generated table of 1,500 rows.
class PrinterGoldenServer : public ::testing::TestWithParam<testdb::Backend> {};

TEST_P(PrinterGoldenServer, TypeMatrixAndManyRows) {
    const testdb::Backend& backend = GetParam();
    if (!backend.available) GTEST_SKIP() << backend.skipReason;
    GoldenSession s;
    ASSERT_TRUE(s.Connect(backend.connectionString));
    const bool ansi = backend.kind == testdb::Kind::PostgreSQLAnsi;
    const std::wstring table = L"golden_" + testdb::Widen(backend.name);
    State().connection->Execute((L"drop table if exists " + table).c_str());
    const std::wstring wide = ansi ? L"'wide'" : L"'中文字符テスト'";
    // The columns, then the rows: typical values, NULLs, the lowest values and long texts, the
    // highest values and control characters.
    const bool pg = testdb::IsPostgres(backend.kind);
    const std::vector<std::wstring> matrix =
        pg ? std::vector<std::wstring>{
                 L"i integer, bi bigint, si smallint, r real, d double precision, dc numeric(12,2), num numeric, "
                 L"dt date, tm time, ts timestamp(3), vc varchar(20), ch char(5), tx text, b bytea, bo boolean, u uuid",
                 L"1, 1234567890123, 7, 0.5, 3.14159, 12.50, 0.000001, '2024-02-29', '12:34:56', "
                 L"'2024-02-29 12:34:56', 'plain', 'ab', 'short', '\\x41', true, 'a0eebc99-9c0b-4ef8-bb6d-6bb9bd380a11'",
                 L"null, null, null, null, null, null, null, null, null, null, null, null, null, null, null, null",
                 L"-2147483648, -9223372036854775808, -32768, -0.1, 1.5e300, -0.05, "
                 L"123456789012345678901234567890.123456789, '0001-01-01', '00:00:00', '1999-12-31 23:59:59.123', " +
                     wide + L", 'x', 'a long text that is far wider than the thirty columns of a cell' || chr(10) || "
                     L"'second line', '\\x00ff10', false, null",
                 L"2147483647, 9223372036854775807, 32767, 1e-10, -2.5e-300, 9999999999.99, -1, '9999-12-31', "
                 L"'23:59:59.5', '2024-01-01 00:00:00', 'tab' || chr(9) || 'bell' || chr(7), '', 'crlf' || chr(13) || "
                 L"chr(10) || 'after', '', false, null"}
           : std::vector<std::wstring>{
                 L"i int, bi bigint, si smallint, ti tinyint, r float, d double, dc decimal(12,2), num decimal(38,10), "
                 L"dt date, tm time, ts datetime(3), vc varchar(20), ch char(5), tx text, b blob, bo boolean, y year, "
                 L"e enum('red','green')",
                 L"1, 1234567890123, 7, 1, 0.5, 3.14159, 12.50, 0.000001, '2024-02-29', '12:34:56', "
                 L"'2024-02-29 12:34:56', 'plain', 'ab', 'short', x'41', true, 2024, 'red'",
                 L"null, null, null, null, null, null, null, null, null, null, null, null, null, null, null, null, "
                 L"null, null",
                 L"-2147483648, -9223372036854775808, -32768, -128, -0.1, 1.5e300, -0.05, "
                 L"1234567890123456789012345678.1234567891, '1000-01-01', '-838:59:59', '1999-12-31 23:59:59.123', " +
                     wide + L", 'x', concat('a long text that is far wider than the thirty columns of a cell', "
                     L"char(10), 'second line'), x'00ff10', false, 1901, 'green'",
                 L"2147483647, 9223372036854775807, 32767, 127, 1e-10, -2.5e-300, 9999999999.99, -1, '9999-12-31', "
                 L"'23:59:59', '2024-01-01 00:00:00', concat('tab', char(9), 'bell', char(7)), '', concat('crlf', "
                 L"char(13), char(10), 'after'), '', false, 2155, 'green'"};
    s.Exec(L"create table " + table + L"(" + matrix.front() + L")");
    for (size_t row = 1; row < matrix.size(); ++row) s.Exec(L"insert into " + table + L" values(" + matrix[row] + L")");
    s.PrintAll(L"select * from " + table + L" order by i");
    s.PrintAll(pg ? L"select x, 'customer-' || x as name, ((x % 1000) / 4.0)::numeric(12,2) as amount, "
                    L"timestamp '2023-11-14 22:13:20' + x * interval '37 seconds' as ts, case when x % 3 = 0 "
                    L"then null else 'note ' || (x * 7919 % 100003) end as note from generate_series(1, 1500) x"
                  : L"select seq as x, concat('customer-', seq) as name, cast((seq % 1000) / 4.0 as "
                    L"decimal(12,2)) as amount, timestamp '2023-11-14 22:13:20' + interval seq * 37 second as ts, "
                    L"case when seq % 3 = 0 then null else concat('note ', seq * 7919 % 100003) end as note "
                    L"from seq_1_to_1500");
    State().connection->Execute((L"drop table " + table).c_str());
    s.Compare("printer_" + backend.name + ".txt");
}

std::vector<testdb::Backend> Servers() {
    std::vector<testdb::Backend> list = testdb::Backends();
    std::erase_if(list, [](const testdb::Backend& b) { return b.kind == testdb::Kind::SQLite; });
    return list;
}

INSTANTIATE_TEST_SUITE_P(Backends, PrinterGoldenServer, ::testing::ValuesIn(Servers()),
                         [](const ::testing::TestParamInfo<testdb::Backend>& instance) { return instance.param.name; });

}  // namespace
