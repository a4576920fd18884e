// Statement execution and result printing against real databases: SQLite through its ODBC driver
// always, PostgreSQL and MariaDB when tests/dbservers.sh runs them. The whole printed text is
// compared.
#include <unistd.h>

#include <clocale>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "commands.h"
#include "printer.h"
#include "run_orva.h"
#include "zentra/values.h"

namespace {

using orva::CPrintRecords;
using orva::FIELD_MAP;
using orva::FieldMapArray;
using orva::Printer;
using orva::State;
using zentra::_variant_t;
using zentra::CADORecordSet;

// Joins lines with "\r\n" after each.
std::string Lines(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) text += line + "\r\n";
    return text;
}

std::string Okay(const std::string& what) { return what + " (T sec)\r\n\r\n"; }

// The shell's state of orvatest::ShellSession, without the error beep, in a UTF-8 locale.
class PrinterSession : public orvatest::ShellSession {
public:
    PrinterSession() {
        std::setlocale(LC_ALL, "C.UTF-8");
        State().errorBeep = 0;
    }
    // Runs `sql` through ExecuteStatement and returns what it printed, the elapsed time as "T".
    std::string Run(const std::wstring& sql, int* result = nullptr) {
        Take();
        CADORecordSet recordset(&Connection(), 1);
        const int ran = orva::ExecuteStatement(&Connection(), sql, recordset);
        if (result) *result = ran;
        return orvatest::Masked(Take());
    }
    // Connected to a new SQLite database where `sql` has run.
    explicit PrinterSession(std::initializer_list<std::wstring> sql) : PrinterSession() {
        ConnectSqlite();
        for (const auto& statement : sql) Exec(statement);
    }
    zentra::CADOConnection& Connection() { return *State().connection; }
};

// Table layout and "Query Okay" lines

TEST(PrinterTable, PrintsBorderedTableWithTypeWidthsAndAlignment) {
    PrinterSession s({L"create table t(id integer, name varchar(20), price double)",
                      L"insert into t values(1, 'apple', 1.5), (22, 'kiwi', NULL)"});
    // integer: 4 bytes + 1 + 1; varchar: longest value + 1; double: 8 bytes + 1 + 2.
    EXPECT_EQ(s.Run(L"select id, name, price from t"),
              Lines({"+--------+--------+-------------+", "|     id | name   |       price |",
                     "+--------+--------+-------------+", "|      1 | apple  |         1.5 |",
                     "|     22 | kiwi   |        NULL |", "+--------+--------+-------------+"}) +
                  Okay("Query Okay, 2 rows in set"));
}

TEST(PrinterTable, EmptyResultPrintsNoTableOnlyQueryOkay) {
    PrinterSession s({L"create table t(id integer)"});
    EXPECT_EQ(s.Run(L"select * from t"), Okay("Query Okay, 0 row in set"));
}

TEST(PrinterTable, AffectedRowCountsAndFailures) {
    PrinterSession s({L"create table t(id integer)"});
    int ran = -1;
    EXPECT_EQ(s.Run(L"insert into t values(1)", &ran), Okay("Query Okay, 1 row affected"));
    EXPECT_EQ(ran, 1);
    s.Exec(L"insert into t values(2)");
    EXPECT_EQ(s.Run(L"update t set id = id + 10"), Okay("Query Okay, 2 rows affected"));
    EXPECT_EQ(s.Run(L"delete from t where id > 100"), Okay("Query Okay, 0 row affected"));

    // A failing statement prints the recordset's error text as a message and no "Query Okay".
    const std::string failed = s.Run(L"select * from no_such_table", &ran);
    EXPECT_EQ(ran, 0);
    EXPECT_NE(failed.find("no such table"), std::string::npos) << failed;
    EXPECT_EQ(failed.find("Query Okay"), std::string::npos) << failed;
    ASSERT_GE(failed.size(), 4u);
    EXPECT_EQ(failed.substr(failed.size() - 4), "\r\n\r\n");
    EXPECT_EQ(failed.find('['), std::string::npos) << "bracketed driver tags are removed: " << failed;
}

TEST(PrinterTable, WideIntegersWrapInTheirCellOrAreCutWithTrunc) {
    PrinterSession s({L"create table w(n integer)", L"insert into w values(1234567890), (5)"});
    EXPECT_EQ(s.Run(L"select n from w"), Lines({"+--------+", "|      n |", "+--------+", "| 123456 |", "|   7890 |",
                                                "|      5 |", "+--------+"}) +
                                             Okay("Query Okay, 2 rows in set"));

    State().print.truncate = true;
    EXPECT_EQ(s.Run(L"select n from w"),
              Lines({"+--------+", "|      n |", "+--------+", "| 123456 |", "|      5 |", "+--------+"}) +
                  Okay("Query Okay, 2 rows in set"));

    // The index column keeps its place on the continuation lines.
    State().print.truncate = false;
    State().print.showIndex = true;
    EXPECT_EQ(s.Run(L"select n from w"), Lines({"+---+--------+", "|   |      n |", "+---+--------+", "| 1 | 123456 |",
                                                "|   |   7890 |", "| 2 |      5 |", "+---+--------+"}) +
                                             Okay("Query Okay, 2 rows in set"));
}

TEST(PrinterTable, HeadingsAreCutToTheColumnWidthAndValuesHaveTheirTexts) {
    PrinterSession s({L"create table f(is_active bit, ti tinyint, x longvarbinary, t text)",
                      L"insert into f values(0, 7, x'00ff', NULL), (1, NULL, NULL, 'hi')"});
    // A bit column is 4 wide; a long binary 6; a NULL long text prints NULL, not an empty text.
    EXPECT_EQ(s.Run(L"select * from f"), Lines({"+------+------+--------+------+", "| is_a |   ti | x      | t    |",
                                                "+------+------+--------+------+", "| NO   |    7 | <BLOB> | NULL |",
                                                "| YES  | NULL | NULL   | hi   |", "+------+------+--------+------+"}) +
                                             Okay("Query Okay, 2 rows in set"));
}

TEST(PrinterTable, LongTextsWrapAtThirtyAndLineBreaksMakeLines) {
    PrinterSession s(
        {L"create table l(s varchar(100))",
         L"insert into l values('abcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghijabcdefghij')"});
    const std::string dashes(32, '-');
    EXPECT_EQ(s.Run(L"select s from l"),
              Lines({"+" + dashes + "+", "| s" + std::string(29, ' ') + " |", "+" + dashes + "+",
                     "| abcdefghijabcdefghijabcdefghij |", "| abcdefghijabcdefghijabcdefghij |",
                     "| abcdefghij" + std::string(20, ' ') + " |", "+" + dashes + "+"}) +
                  Okay("Query Okay, 1 row in set"));

    s.Exec(L"create table b(s varchar(40))");
    s.Exec(L"insert into b values('one' || char(13, 10) || 'two' || char(10, 10) || 'three')");
    // 15 characters: a 16 wide column; the blank line is dropped.
    EXPECT_EQ(s.Run(L"select s from b"),
              Lines({"+------------------+", "| s                |", "+------------------+", "| one              |",
                     "| two              |", "| three            |", "+------------------+"}) +
                  Okay("Query Okay, 1 row in set"));
    State().print.truncate = true;
    EXPECT_EQ(s.Run(L"select s from b"), Lines({"+------------------+", "| s                |", "+------------------+",
                                                "| one              |", "+------------------+"}) +
                                             Okay("Query Okay, 1 row in set"));
}

TEST(PrinterTable, RowOfEmptyTextsPrintsNoLine) {
    PrinterSession s({L"create table e(a varchar(5), b varchar(5))", L"insert into e values('', '')"});
    EXPECT_EQ(s.Run(L"select * from e"),
              Lines({"+------+------+", "| a    | b    |", "+------+------+", "+------+------+"}) +
                  Okay("Query Okay, 1 row in set"));
}

TEST(PrinterTable, DateTimeTexts) {
    PrinterSession s(
        {L"create table d(ts timestamp, dt date, tm time)",
         L"insert into d values('2009-12-31 23:59:58.120', '2009-12-31', '08:15:00'), "
         L"('2009-01-01 00:00:00', '2009-01-01', '00:00:00'), ('2009-01-01 00:00:00.500', '2009-01-02', '10:20:30')"});
    State().print.layout = orva::PrintLayout::List;
    // Midnight shows the date alone, milliseconds never without a time; a time column shows its
    // time only, midnight included.
    EXPECT_EQ(s.Run(L"select * from d"),
              Lines({"*************************** 1. row ***************************", "ts: 2009-12-31 23:59:58.120",
                     "dt: 2009-12-31", "tm: 08:15:00", "*************************** 2. row ***************************",
                     "ts: 2009-01-01", "dt: 2009-01-01", "tm: 00:00:00",
                     "*************************** 3. row ***************************", "ts: 2009-01-01",
                     "dt: 2009-01-02", "tm: 10:20:30"}) +
                  Okay("Query Okay, 3 rows in set"));

    // A timestamp column is 16 + 1 + 3 wide: a text with milliseconds continues on a second line.
    State().print.layout = orva::PrintLayout::Table;
    EXPECT_EQ(s.Run(L"select ts from d"),
              Lines({"+----------------------+", "| ts                   |", "+----------------------+",
                     "| 2009-12-31 23:59:58. |", "| 120                  |", "| 2009-01-01           |",
                     "| 2009-01-01           |", "+----------------------+"}) +
                  Okay("Query Okay, 3 rows in set"));
}

TEST(PrinterTable, RecordIndexOfAThousandRowsIsFourWideAndRightAligned) {
    PrinterSession s({L"create table r(v integer)",
                      L"insert into r with recursive c(x) as (select 1 union all select x + 1 from c where x < 1000) "
                      L"select x from c"});
    State().print.showIndex = true;
    const std::string text = s.Run(L"select v from r");
    std::vector<std::string> lines;
    for (size_t start = 0, end; (end = text.find("\r\n", start)) != std::string::npos; start = end + 2)
        lines.push_back(text.substr(start, end - start));
    ASSERT_EQ(lines.size(), 1000u + 4 + 2);  // rows, 3 separators and the heading, message + blank
    EXPECT_EQ(lines[0], "+------+--------+");
    EXPECT_EQ(lines[1], "|      |      v |");
    EXPECT_EQ(lines[3], "|    1 |      1 |");
    EXPECT_EQ(lines[11], "|    9 |      9 |");
    EXPECT_EQ(lines[102], "|  100 |    100 |");
    EXPECT_EQ(lines[1002], "| 1000 |   1000 |");
    EXPECT_EQ(lines[1003], "+------+--------+");
    EXPECT_EQ(lines[1004], "Query Okay, 1000 rows in set (T sec)");
}

// Column widths come from the first 256 records and the last is not measured: a wide value in a
// later row wraps instead of widening the column.
TEST(PrinterTable, WidthsAreMeasuredOnTheFirstRecordsOnly) {
    PrinterSession s({L"create table m(k integer, s varchar(50))",
                      L"insert into m with recursive c(x) as (select 1 union all select x + 1 from c where x < 300) "
                      L"select x, 'ab' from c",
                      L"update m set s = 'abcdefgh' where k = 256",
                      L"update m set s = 'abcdefghijklmnop' where k = 257"});
    State().print.truncate = true;
    const std::string text = s.Run(L"select s from m");
    // Record 256 is measured (9 wide), record 257 is not: it is cut at 9.
    EXPECT_NE(text.find("| abcdefgh  |\r\n| abcdefghi |\r\n"), std::string::npos) << text.substr(0, 300);
    EXPECT_EQ(text.find("abcdefghij"), std::string::npos);
}

TEST(PrinterList, NamesRightAlignedValuesLiteral) {
    PrinterSession s({L"create table k(id integer, note varchar(30))",
                      L"insert into k values(1, '100%s done %d'), (2, 'a' || char(13, 10) || 'b'), (3, NULL)"});
    State().print.layout = orva::PrintLayout::List;
    State().print.truncate = true;  // the list never cuts values
    EXPECT_EQ(s.Run(L"select id, note from k"),
              Lines({"*************************** 1. row ***************************", "  id: 1", "note: 100%s done %d",
                     "*************************** 2. row ***************************", "  id: 2", "note: a", "b",
                     "*************************** 3. row ***************************", "  id: 3", "note: NULL"}) +
                  Okay("Query Okay, 3 rows in set"));
}

// Wide characters

std::string Utf8(const std::wstring& text) { return zentra::WideToUtf8(text); }

// Every line of the table part (up to the message) has the same display width.
void ExpectAligned(const std::string& printed) {
    const std::wstring text = zentra::Utf8ToWide(printed);
    int width = -1;
    size_t start = 0;
    for (size_t end; (end = text.find(L"\r\n", start)) != std::wstring::npos; start = end + 2) {
        const std::wstring line = text.substr(start, end - start);
        if (line.empty() || (line[0] != L'+' && line[0] != L'|')) break;
        if (width < 0) width = zentra::DisplayWidth(line);
        EXPECT_EQ(zentra::DisplayWidth(line), width) << Utf8(line);
    }
    EXPECT_GT(width, 0);
}

TEST(PrinterWideText, ChineseAndJapaneseColumnsStayAligned) {
    PrinterSession s({L"create table c(name varchar(10), city varchar(10))",
                      L"insert into c values('张伟', '北京市'), ('Ann', 'Tokyo'), ('山田太郎', '東京')"});
    const std::string text = s.Run(L"select * from c");
    EXPECT_EQ(text, Utf8(L"+-----------+---------+\r\n"
                         L"| name      | city    |\r\n"
                         L"+-----------+---------+\r\n"
                         L"| 张伟      | 北京市  |\r\n"
                         L"| Ann       | Tokyo   |\r\n"
                         L"| 山田太郎  | 東京    |\r\n"
                         L"+-----------+---------+\r\n") +
                        Okay("Query Okay, 3 rows in set"));
    ExpectAligned(text);
}

TEST(PrinterWideText, WrappingNeverSplitsAWideCharacter) {
    PrinterSession s({L"create table c(s varchar(40), n integer)"});
    // 1 + 2 * 20 = 41 columns: a 30 wide cell takes "a" and 14 characters (29 columns), then 6.
    const std::wstring wide = L"一二三四五六七八九十一二三四五六七八九十";
    s.Exec(L"insert into c values('a" + wide + L"', 1)");
    s.Exec(L"insert into c values('日本語' || char(10) || 'テキスト', 2)");
    const std::string text = s.Run(L"select s, n from c");
    const std::wstring dashes(32, L'-');
    EXPECT_EQ(text, Utf8(L"+" + dashes +
                         L"+--------+\r\n"
                         L"| s                              |      n |\r\n"
                         L"+" +
                         dashes +
                         L"+--------+\r\n"
                         L"| a一二三四五六七八九十一二三四  |      1 |\r\n"
                         L"| 五六七八九十                   |        |\r\n"
                         L"| 日本語                         |      2 |\r\n"
                         L"| テキスト                       |        |\r\n"
                         L"+" +
                         dashes + L"+--------+\r\n") +
                        Okay("Query Okay, 2 rows in set"));
    ExpectAligned(text);

    State().print.truncate = true;
    const std::string cut = s.Run(L"select s, n from c");
    EXPECT_NE(cut.find(Utf8(L"| a一二三四五六七八九十一二三四  |      1 |\r\n| 日本語 ")), std::string::npos) << cut;
    ExpectAligned(cut);
}

TEST(PrinterWideText, PrintCellCountsDisplayColumns) {
    const struct {
        const wchar_t* text;
        int width, alignment, trunc;
        const wchar_t* cell;
    } cases[] = {
        {L"漢字", 6, 2, 0, L"  漢字"},
        {L"漢字", 6, 3, 0, L" 漢字 "},
        // Five columns hold two wide characters; the third goes to the next line.
        {L"漢字です", 5, 1, 0, L"漢字 \r\nです "},
        {L"漢字です", 5, 1, 1, L"漢字 "},
        // A combining mark stays with its letter and takes no column.
        {L"e\u0301te\u0301", 5, 2, 0, L"  e\u0301te\u0301"},
        // Narrow text: cut every `width` characters; unknown alignments print the text as it is.
        {L"abcdefghij", 4, 2, 0, L"abcd\r\nefgh\r\n  ij"},
        {L"abcdefghij", 4, 0, 1, L"abcdefghij"},
    };
    for (const auto& c : cases) {
        std::wstring out;
        CPrintRecords::PrintCell(out, c.text, c.width, c.alignment, c.trunc);
        EXPECT_EQ(out, c.cell) << Utf8(c.text) << " " << c.width << " " << c.alignment;
    }
}

// Field maps, stop requests, the spool copy

TEST(PrinterFieldMap, ChoosesRenamesAndReordersColumnsFetchedByName) {
    PrinterSession s(
        {L"create table p(id integer, name varchar(10), extra varchar(10))", L"insert into p values(7, 'seven', 'x')"});
    CADORecordSet recordset(&s.Connection(), 1);
    ASSERT_TRUE(recordset.Execute(L"select * from p", nullptr));
    const FieldMapArray map = {FIELD_MAP(L"name", L"NAME"), FIELD_MAP(L"missing", L"GONE"),
                               FIELD_MAP(L"id", L"Identifier")};
    Printer().Attach(&recordset, &map);
    Printer().PrintResult({});
    EXPECT_EQ(s.Take(), Lines({"+--------+--------+", "| NAME   | Identi |", "+--------+--------+",
                               "| seven  |      7 |", "+--------+--------+"}));
    recordset.MoveFirst();
    Printer().PrintResult({orva::PrintLayout::List});
    EXPECT_EQ(s.Take(), Lines({"*************************** 1. row ***************************", "      NAME: seven",
                               "Identifier: 7"}));
    EXPECT_FALSE(Printer().IsPrinting());
    Printer().Attach(nullptr, nullptr);
}

// A stop request from another thread ends the printout at the next row: the closing separator,
// then "Aborted"; the "Query Okay" line still follows.
TEST(PrinterStop, StopFromAnotherThreadPrintsClosingSeparatorAndAborted) {
    PrinterSession s(
        {L"create table big(v integer, s varchar(40))",
         L"insert into big with recursive c(x) as (select 1 union all select x + 1 from c where x < 200000) "
         L"select x, 'some text to fill the output pipe' from c"});

    // The output is a pipe that this test drains: the printer cannot get ahead of the reader by
    // more than the pipe and the output buffer hold, so the stop comes long before the end.
    int fds[2];
    ASSERT_EQ(pipe(fds), 0);
    auto pipeOutput = std::make_unique<zentra::COutput>(nullptr, fds[1]);
    std::swap(State().output, pipeOutput);

    CPrintRecords& printer = Printer();
    std::string received;
    std::thread reader([&] {
        char buffer[4096];
        bool stopped = false;
        for (;;) {
            const ssize_t n = read(fds[0], buffer, sizeof buffer);
            if (n <= 0) break;
            received.append(buffer, static_cast<size_t>(n));
            if (!stopped && printer.IsPrinting()) {
                printer.Stop();
                stopped = true;
            }
        }
    });
    CADORecordSet recordset(&s.Connection(), 1);
    const int ran = orva::ExecuteStatement(&s.Connection(), L"select * from big", recordset);
    std::swap(State().output, pipeOutput);
    pipeOutput.reset();
    close(fds[1]);
    reader.join();
    close(fds[0]);

    EXPECT_EQ(ran, 1);
    EXPECT_FALSE(Printer().IsPrinting());
    const std::string separator = "+" + std::string(8, '-') + "+" + std::string(32, '-') + "+\r\n";
    const std::string ending = separator + "\r\nAborted\r\n\r\nQuery Okay, 200000 rows in set (T sec)\r\n\r\n";
    const std::string text = orvatest::Masked(received);
    ASSERT_GE(text.size(), ending.size());
    EXPECT_EQ(text.substr(text.size() - ending.size()), ending);
    EXPECT_EQ(text.find("| 200000 |"), std::string::npos) << "the printout ran to its end";
    // The printout stopped between rows: the text before the ending is whole lines of the table.
    const std::string table = text.substr(0, text.size() - ending.size());
    EXPECT_EQ(table.substr(0, separator.size()), separator);
    EXPECT_EQ(table.substr(table.size() - 2), "\r\n");
}

TEST(PrinterStop, StopWhileIdleDoesNotAbortTheNextPrintout) {
    PrinterSession s({L"create table t(id integer)", L"insert into t values(1)"});
    Printer().Stop();
    const std::string text = s.Run(L"select * from t");
    EXPECT_EQ(text.find("Aborted"), std::string::npos) << text;
    EXPECT_NE(text.find("|      1 |"), std::string::npos) << text;
}

TEST(PrinterSpool, TranscriptReceivesTheSameBytes) {
    PrinterSession s({L"create table t(id integer, name varchar(20))",
                      L"insert into t with recursive c(x) as (select 1 union all select x + 1 from c where x < 3000) "
                      L"select x, '名前 ' || x from c"});
    const std::string path = testdb::NewSqliteFile() + ".spool";
    zentra::CSpoolFile spool;
    ASSERT_TRUE(spool.Open(zentra::Utf8ToWide(path).c_str()));
    *State().output = zentra::COutput(&spool, s.Fd());
    const std::string printed = s.Run(L"select * from t");
    spool.Close();
    EXPECT_GT(printed.size(), 3000u * 20);
    EXPECT_EQ(orvatest::Masked(orvatest::ReadFile(path)), printed);
    std::remove(path.c_str());
}

// Output buffering

// Pending output is written before the input is read, so a prompt never overtakes it.
TEST(PrinterOutputBuffer, InputFlushesPendingOutputFirst) {
    int out[2], in[2];
    ASSERT_EQ(pipe(out), 0);
    ASSERT_EQ(pipe(in), 0);
    ASSERT_EQ(write(in[1], "answer\n", 7), 7);
    {
        zentra::COutput output(nullptr, out[1]);
        zentra::CInput input(nullptr, in[0], out[1]);
        zentra::COutputBuffer buffer(output);
        output.Print(L"%s", L"pending ");
        EXPECT_EQ(input.Prompt(L"SQL> ", 0), L"answer");
        output.Print(L"%s", L"after");
    }
    close(out[1]);
    std::string text;
    char chunk[256];
    for (ssize_t n; (n = read(out[0], chunk, sizeof chunk)) > 0;) text.append(chunk, static_cast<size_t>(n));
    EXPECT_EQ(text, "pending SQL> after");
    close(out[0]);
    close(in[0]);
    close(in[1]);
}

TEST(PrinterOutputBuffer, NestedBuffersWriteAtTheOutermostEnd) {
    PrinterSession s;
    zentra::COutput& output = *State().output;
    output.BeginBuffer();
    output.BeginBuffer();
    output.Print(L"%d-", 1);
    output.EndBuffer();
    EXPECT_TRUE(output.IsBuffering());
    output.PrintMessage(L"%s", L"two");
    output.EndBuffer();
    EXPECT_FALSE(output.IsBuffering());
    EXPECT_EQ(s.Peek(), "1-two\r\n\r\n");
    output.Print(L"x");
    EXPECT_EQ(s.Peek(), "1-two\r\n\r\nx");
}

// Value texts and widths

TEST(PrinterValues, FormatValueByVariantType) {
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t()), L"");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::Null()), L"");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::UI1(200)), L"200");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::I1(-5)), L"-5");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::I4(-2147483647 - 1)), L"-2147483648");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::UI4(4294967295u)), L"4294967295");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::UInt(4294967295u)), L"4294967295");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::I8(INT64_MIN)), L"-9223372036854775808");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::UI8(UINT64_MAX)), L"18446744073709551615");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::R4(0.1f)), L"0.1");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::R8(0.5)), L"0.5");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::Currency(zentra::CY{125000})), L"12.5");
    zentra::DECIMAL dec;
    ASSERT_TRUE(zentra::DecimalFromText(L"-123.4500", dec));
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::Decimal(dec)), L"-123.45");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::Bool(true)), L"YES");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::Bool(false)), L"NO");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::Bstr(L"%s 100%")), L"%s 100%");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::Bytes("AB", 2)), L"AB");
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::Error(5)), L"<LOB>");

    // By reference: formatted from the value referred to.
    std::int32_t i4 = -42;
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::ByRef(zentra::VT_I4, &i4)), L"-42");
    zentra::VARIANT_BOOL b = zentra::VARIANT_TRUE;
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::ByRef(zentra::VT_BOOL, &b)), L"YES");
    std::wstring text = L"by ref";
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::ByRef(zentra::VT_BSTR, &text)), L"by ref");

    // Dates: 2009-12-31 23:59:58.120, midnight, and 00:00:00.500 (no time part: no milliseconds).
    zentra::SYSTEMTIME st;
    st.wYear = 2009, st.wMonth = 12, st.wDay = 31, st.wHour = 23, st.wMinute = 59, st.wSecond = 58;
    st.wMilliseconds = 120;
    double date = 0;
    ASSERT_TRUE(zentra::SystemTimeToVariantTimeWithMilliseconds(st, date));
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::Date(date)), L"2009-12-31 23:59:58.120");
    st.wHour = st.wMinute = st.wSecond = 0;
    st.wMilliseconds = 500;
    ASSERT_TRUE(zentra::SystemTimeToVariantTimeWithMilliseconds(st, date));
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::Date(date)), L"2009-12-31");
    // Every field zero-padded to its width: the first year an OLE date holds.
    st.wYear = 100, st.wMonth = 1, st.wDay = 2, st.wHour = 3, st.wMinute = 4, st.wSecond = 5;
    st.wMilliseconds = 7;
    ASSERT_TRUE(zentra::SystemTimeToVariantTimeWithMilliseconds(st, date));
    EXPECT_EQ(CPrintRecords::FormatValue(_variant_t::Date(date)), L"0100-01-02 03:04:05.007");
}

TEST(PrinterValues, DisplayWidthRules) {
    zentra::CADOFieldInfo info;
    auto width = [&](int type, long actual, long defined = 0, int precision = 0, short scale = 0) {
        info.m_nType = type;
        info.m_lActualSize = actual;
        info.m_lDefinedSize = defined;
        info.m_nPrecision = precision;
        info.m_nNumericScale = scale;
        return CPrintRecords::GetDisplayWidth(info);
    };
    EXPECT_EQ(width(zentra::adInteger, 4), 6);
    EXPECT_EQ(width(zentra::adNumeric, 6), 9);
    EXPECT_EQ(width(zentra::adDBTimeStamp, 16), 20);
    EXPECT_EQ(width(zentra::adBoolean, 50), 4);
    EXPECT_EQ(width(zentra::adVarBinary, 500), 6);
    EXPECT_EQ(width(zentra::adVarChar, 0), 4);            // at least 4
    EXPECT_EQ(width(zentra::adVarChar, -1, 12), 12);      // no actual size: the defined size
    EXPECT_EQ(width(zentra::adVarChar, -1, 0, 7, 2), 9);  // then precision + scale
    EXPECT_EQ(width(zentra::adVarChar, -1), 8);           // nothing known
    EXPECT_EQ(width(zentra::adDouble, -1), 4);            // 0 + 2 is positive, raised to 4
    EXPECT_EQ(CPrintRecords::GetAlignment(zentra::adUnsignedBigInt), 2);
    EXPECT_EQ(CPrintRecords::GetAlignment(zentra::adVarNumeric), 2);
    EXPECT_EQ(CPrintRecords::GetAlignment(zentra::adBoolean), 1);
    EXPECT_EQ(CPrintRecords::GetAlignment(zentra::adDBTimeStamp), 1);
}

// The server backends

class PrinterBackend : public ::testing::TestWithParam<testdb::Backend> {};

TEST_P(PrinterBackend, TablesOfServerTypesStayAlignedAndCountRows) {
    const testdb::Backend& backend = GetParam();
    if (!backend.available) GTEST_SKIP() << backend.skipReason;
    // A table of this backend's own: both PostgreSQL drivers reach one database, and the cases
    // run side by side.
    const std::wstring table = L"printer_" + testdb::Widen(backend.name);
    PrinterSession s;
    ASSERT_TRUE(s.Connect(backend.connectionString));
    const bool ansi = backend.kind == testdb::Kind::PostgreSQLAnsi;
    s.Run(L"drop table if exists " + table);
    s.Exec(L"create table " + table + L"(id integer, amount numeric(10,2), name varchar(20), flag smallint)");
    EXPECT_EQ(s.Run(L"insert into " + table + L" values(1, 12.50, 'plain', NULL)"), Okay("Query Okay, 1 row affected"));
    s.Exec(ansi ? L"insert into " + table + L" values(22, -3.25, 'wide', 5)"
                : L"insert into " + table + L" values(22, -3.25, '中文字符', 5)");

    const std::string text = s.Run(L"select id, amount, name, flag from " + table + L" order by id");
    ExpectAligned(text);
    for (const std::string& part : {std::string("12.5 |"), std::string("-3.25 |"), std::string(" NULL |"),
                                    ansi ? std::string("| wide ") : Utf8(L"| 中文字符 "),
                                    std::string("Query Okay, 2 rows in set (T sec)\r\n\r\n")})
        EXPECT_TRUE(orvatest::Contains(text, part)) << part << "\n" << text;

    EXPECT_EQ(s.Run(L"update " + table + L" set flag = 1"), Okay("Query Okay, 2 rows affected"));
    EXPECT_EQ(s.Run(L"select * from " + table + L" where id < 0"), Okay("Query Okay, 0 row in set"));
    s.Run(L"drop table " + table);
}

INSTANTIATE_TEST_SUITE_P(Backends, PrinterBackend, ::testing::ValuesIn(testdb::Backends()),
                         [](const ::testing::TestParamInfo<testdb::Backend>& instance) { return instance.param.name; });

}  // namespace
