// SHOW and DESC against real databases: SQLite always, PostgreSQL and MariaDB when
// tests/dbservers.sh runs them. The shell's output is redirected to a memory file and the printed
// text is checked.
#include <unistd.h>

#include <string>

#include "commands.h"
#include "reader.h"
#include "run_orva.h"
#include "schema.h"

namespace {

using orva::CSchemaShow;
using orva::FieldMapArray;
using orva::State;
using zentra::CADOConnection;
using zentra::CADORecordSet;

constexpr zentra::DbmsType kSqlite = zentra::kDbmsSqlite3;
constexpr zentra::DbmsType kMySql = zentra::kDbmsMySql;
constexpr zentra::DbmsType kPostgres = zentra::kDbmsPostgreSql;
constexpr zentra::DbmsType kOdbcDsn = zentra::kDbmsOdbcDsn;

// Exposes the per-object operations, so that names the word splitter could never deliver reach
// the native queries.
class OpenSchemaShow : public CSchemaShow {
public:
    using CSchemaShow::CSchemaShow;
    using CSchemaShow::ShowColumns;
    using CSchemaShow::ShowIndexes;
};

// The shell's state of orvatest::ShellSession with SHOW run through its handler.
class ShellSession : public orvatest::ShellSession {
public:
    // Runs a SHOW command line through the handler and returns what it printed; the handler
    // must return `expected` unless that is -1.
    std::string Show(const std::wstring& line, int expected = -1) {
        const int result = orva::ShowCommand(line);
        std::string out = Take();
        if (expected != -1) {
            EXPECT_EQ(result, expected) << zentra::WideToUtf8(line) << "\n" << out;
        }
        return out;
    }
};

using orvatest::Contains;

// The table row that holds `cell` as one of its cells ("| cell ").
bool HasCell(const std::string& text, const std::string& cell) { return Contains(text, "| " + cell + " "); }

// `text` holds every one of `parts`, or every one of `cells` as a table cell.
void ExpectHas(const std::string& text, std::initializer_list<std::string> parts) {
    for (const auto& part : parts) EXPECT_TRUE(Contains(text, part)) << part << "\n" << text;
}
void ExpectCells(const std::string& text, std::initializer_list<std::string> cells) {
    for (const auto& cell : cells) EXPECT_TRUE(HasCell(text, cell)) << cell << "\n" << text;
}

// The table part of a listing: what comes before "Query Okay".
std::string Listing(const std::string& out) { return out.substr(0, out.find("Query Okay")); }

// A name unique to this process, so that parallel test processes sharing a server database do
// not meet.
std::string Unique(const std::string& stem) { return "sch" + std::to_string(getpid()) + "_" + stem; }

std::wstring W(const std::string& s) { return zentra::Utf8ToWide(s); }

// The record count of ShowColumns (indexes false) or ShowIndexes (true) for `table` on the
// shell's connection; -1 when the query failed.
long RowsFor(zentra::DbmsType type, const std::wstring& table, bool indexes) {
    OpenSchemaShow show(State().output.get(), type);
    CADORecordSet recordset(State().connection.get(), 1);
    FieldMapArray map;
    const int ok = indexes ? show.ShowIndexes(recordset, map, L"", table) : show.ShowColumns(recordset, map, table);
    if (!ok) return -1;
    return static_cast<long>(recordset.GetRecordCount()) - show.GetSkippedRows();
}

// Names and command forms

TEST(SchemaStripQuotes, RemovesOnePairOfBracketsDoubleQuotesOrBackquotes) {
    EXPECT_EQ(CSchemaShow::StripQuotes(L"[Order Details]"), L"Order Details");
    EXPECT_EQ(CSchemaShow::StripQuotes(L"\"orders\""), L"orders");
    EXPECT_EQ(CSchemaShow::StripQuotes(L"`orders`"), L"orders");
    EXPECT_EQ(CSchemaShow::StripQuotes(L"[[x]]"), L"[x]");
    EXPECT_EQ(CSchemaShow::StripQuotes(L"[]"), L"");
    // Apostrophes, unmatched pairs, mixed pairs and single characters stay.
    EXPECT_EQ(CSchemaShow::StripQuotes(L"'orders'"), L"'orders'");
    EXPECT_EQ(CSchemaShow::StripQuotes(L"[orders"), L"[orders");
    EXPECT_EQ(CSchemaShow::StripQuotes(L"\"orders`"), L"\"orders`");
    EXPECT_EQ(CSchemaShow::StripQuotes(L"]x["), L"]x[");
    EXPECT_EQ(CSchemaShow::StripQuotes(L"\""), L"\"");
    EXPECT_EQ(CSchemaShow::StripQuotes(L""), L"");
}

TEST(SchemaCommandForms, LinesThatAreNotTheShellsShowBelongToTheServer) {
    ShellSession session;
    CSchemaShow show(State().output.get(), kSqlite);
    // No connection: a form that were accepted would fail (0) instead of answering 2.
    for (const wchar_t* line :
         {L"SHOW STATUS", L"SHOW CREATE TABLE t", L"SHOW COLUMNS orders", L"SHOW COLUMNS FROM", L"SHOW INDEX ON t",
          L"SHOW TABLE", L"SHOW COLUMN FROM t", L"SHOW DATABASE", L"SHOW VIEW", L"SHOW tabl", L"SHOW FULL TABLES"}) {
        CADORecordSet recordset(1);
        FieldMapArray map;
        EXPECT_EQ(show.Show(line, recordset, map, L"", L""), 2) << zentra::WideToUtf8(line);
        EXPECT_TRUE(map.empty()) << zentra::WideToUtf8(line);
    }
    EXPECT_EQ(session.Take(), "");

    CADORecordSet recordset(1);
    FieldMapArray map;
    EXPECT_EQ(show.Show(L"SHOW", recordset, map, L"", L""), 2);
    EXPECT_EQ(session.Take(), "Object no specified.\r\n\r\n");
    EXPECT_EQ(show.Show(L"show ; ", recordset, map, L"", L""), 2);
    EXPECT_EQ(session.Take(), "Object no specified.\r\n\r\n");
}

TEST(SchemaCommandForms, DefaultMapsHaveASchemaColumnOnlyWhereSchemasMatter) {
    ShellSession session;
    // MS SQL, PostgreSQL, Oracle and DB2 head the listings with a Schema column; the others do not. The
    // recordset has no connection: the map is filled before the query fails.
    const struct {
        zentra::DbmsType type;
        const wchar_t* line;
        std::vector<std::wstring> captions;
    } cases[] = {
        {zentra::kDbmsMsSql, L"SHOW TABLES", {L"Schema", L"Table"}},
        {kSqlite, L"SHOW tab", {L"Table"}},
        {zentra::kDbmsDb2, L"SHOW VIEWS", {L"Schema", L"View"}},
        {kOdbcDsn, L"SHOW vie", {L"View"}},
        {zentra::kDbmsOracle, L"SHOW FUNC", {L"Schema", L"Procedure"}},
        {kSqlite, L"SHOW procedures", {L"Procedure"}},
        {zentra::kDbmsMsSql, L"SHOW ind from t", {L"Index", L"Field", L"Clustered", L"Unique", L"Null"}},
    };
    for (const auto& c : cases) {
        CSchemaShow show(State().output.get(), c.type);
        CADORecordSet recordset(1);
        FieldMapArray map;
        EXPECT_EQ(show.Show(c.line, recordset, map, L"db", L"dbo"), 0);
        std::vector<std::wstring> captions;
        for (const auto& entry : map) captions.push_back(entry.strCaption);
        EXPECT_EQ(captions, c.captions) << zentra::WideToUtf8(c.line);
    }
}

// SQLite (schema rowsets)

class SchemaSqlite : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.Connect(testdb::SqliteConnectionString(testdb::NewSqliteFile()), kSqlite));
        session.Exec(
            L"CREATE TABLE customers (id INTEGER PRIMARY KEY, name VARCHAR(40) NOT NULL DEFAULT 'nobody', "
            L"balance NUMERIC(10,2))");
        session.Exec(L"CREATE UNIQUE INDEX customers_by_name ON customers (name)");
        session.Exec(L"CREATE TABLE invoices (number INTEGER, customer INTEGER)");
        session.Exec(L"CREATE TABLE \"Order Details\" (line_number INTEGER, quantity INTEGER)");
        session.Exec(L"CREATE VIEW rich_customers AS SELECT name FROM customers WHERE balance > 1000");
        session.Take();
    }
    ShellSession session;
};

TEST_F(SchemaSqlite, ShowTablesAndViewsKeepTheTwoApart) {
    const std::string out = session.Show(L"SHOW TABLES", 1);
    ExpectCells(out, {"Table", "customers", "invoices", "Order Details"});
    EXPECT_FALSE(Contains(out, "Schema") || Contains(out, "rich_customers")) << out;
    EXPECT_TRUE(Contains(out, "Query Okay, 3 rows in set (")) << out;
    // The short form and a trailing ';' give the same listing.
    EXPECT_EQ(Listing(session.Show(L"show tab;")), Listing(out));

    // A text column is one wider than its longest value.
    const std::string views = session.Show(L"SHOW VIEWS", 1);
    EXPECT_EQ(views,
              "+-----------------+\r\n"
              "| View            |\r\n"
              "+-----------------+\r\n"
              "| rich_customers  |\r\n"
              "+-----------------+\r\n"
              "Query Okay, 1 row in set (" +
                  views.substr(views.find(" in set (") + 9));

    State().print.layout = orva::PrintLayout::List;
    EXPECT_EQ(Listing(session.Show(L"SHOW VIEWS")),
              "*************************** 1. row ***************************\r\n"
              "View: rich_customers\r\n");
}

TEST_F(SchemaSqlite, ColumnSelectionPrintsJustThoseSchemaColumns) {
    // Headed by the column names, each cut to its column's width ("TABLE" is 6 wide).
    const std::string out = session.Show(L"SHOW TABLES TABLE_TYPE TABLE_NAME");
    EXPECT_EQ(Listing(out),
              "+--------+----------------+\r\n"
              "| TABLE_ | TABLE_NAME     |\r\n"
              "+--------+----------------+\r\n"
              "| TABLE  | customers      |\r\n"
              "| TABLE  | invoices       |\r\n"
              "| TABLE  | Order Details  |\r\n"
              "+--------+----------------+\r\n");
}

TEST_F(SchemaSqlite, ShowColumnsAndDescDescribeTheTable) {
    const std::string out = session.Show(L"SHOW COLUMNS FROM customers", 1);
    // Narrow numeric columns cut their headings; Size is right-aligned.
    ExpectHas(out, {"| Field ", "| Type | ", " Size | Prec | Scal | Null | Default |"});
    ExpectCells(out, {"id", "name", "balance"});
    ExpectHas(out, {"nobody", "Query Okay, 3 rows in set ("});
    EXPECT_FALSE(Contains(out, "number")) << out;  // a column of another table
    // DESC goes through the dispatcher and is the same command.
    EXPECT_EQ(orva::ProcessLine(L"DESC customers", 1), 1);
    EXPECT_EQ(Listing(session.Take()), Listing(out));
}

TEST_F(SchemaSqlite, QuotedTableNamesLookUpTheNameInside) {
    for (const wchar_t* line : {L"SHOW COLUMNS FROM [Order Details]", L"SHOW COLUMNS FROM `Order Details`",
                                L"SHOW COLUMNS FROM \"Order Details\"", L"DESC [Order Details]"}) {
        EXPECT_EQ(orva::ProcessLine(line, 1), 1) << zentra::WideToUtf8(line);
        const std::string out = session.Take();
        ExpectCells(out, {"line_number", "quantity"});
        EXPECT_TRUE(Contains(out, "Query Okay, 2 rows in set (")) << out;
    }
}

TEST_F(SchemaSqlite, ColumnsOfAnUnknownTableOrSchemaAreNone) {
    // SQLite's one schema has no name, so "other." names none.
    for (const wchar_t* line : {L"SHOW COLUMNS FROM no_such_table", L"SHOW COLUMNS FROM other.customers"}) {
        const std::string out = session.Show(line, 1);
        EXPECT_EQ(out.rfind("Query Okay, 0 row in set (", 0), 0u) << out;
    }
}

TEST_F(SchemaSqlite, ShowIndexListsRealIndexesWithoutTheStatisticsRow) {
    const std::string out = session.Show(L"SHOW INDEX FROM customers", 1);
    ExpectHas(out, {"| Index", "| customers_by_name "});
    // Each printed row is a real index: the statistics row would be one without index name.
    size_t rows = 0;
    for (size_t at = out.find("\r\n| "); at != std::string::npos; at = out.find("\r\n| ", at + 2)) {
        const std::string line = out.substr(at + 2, out.find("\r\n", at + 2) - at - 2);
        if (Contains(line, "| Index")) continue;
        ++rows;
        EXPECT_FALSE(line.rfind("| NULL ", 0) == 0) << "statistics row printed:\n" << out;
    }
    EXPECT_GE(rows, 1u) << out;
    EXPECT_TRUE(Contains(out, "Query Okay, " + std::to_string(rows) + (rows > 1 ? " rows" : " row") + " in set ("))
        << out;
    // A table without indexes prints no table at all.
    const std::string none = session.Show(L"SHOW INDEX FROM invoices");
    EXPECT_EQ(none.rfind("Query Okay, 0 row in set (", 0), 0u) << none;
}

TEST_F(SchemaSqlite, OnlyTheStatisticsRowIsSteppedOver) {
    // Only the statistics row is stepped over: the recordset is positioned on the first index.
    OpenSchemaShow show(State().output.get(), kSqlite);
    CADORecordSet recordset(State().connection.get(), 1);
    FieldMapArray map;
    ASSERT_EQ(show.ShowIndexes(recordset, map, L"", L"customers"), 1);
    ASSERT_FALSE(recordset.IsEOF());
    zentra::_variant_t name;
    ASSERT_TRUE(recordset.GetFieldValue(L"INDEX_NAME", name));
    ASSERT_EQ(name.vt(), zentra::VT_BSTR);
    EXPECT_FALSE(name.bstrVal().empty());
    EXPECT_EQ(show.GetSkippedRows(), 1);
}

TEST_F(SchemaSqlite, ShowDatabasesListsTheCatalog) {
    ExpectHas(session.Show(L"SHOW DATABASES", 1), {"| Database", "Query Okay, 1 row in set ("});
}

TEST_F(SchemaSqlite, NamesWithQuotesAreLookedUpNotInterpreted) {
    session.Exec(L"CREATE TABLE \"it's\" (apostrophe_column INTEGER)");
    session.Exec(L"CREATE TABLE \"we`ird\" (backquote_column INTEGER)");
    EXPECT_EQ(RowsFor(kSqlite, L"it's", false), 1);
    ExpectCells(session.Show(L"SHOW COLUMNS FROM we`ird"), {"backquote_column"});
}

TEST_F(SchemaSqlite, OtherShowFormsGoToTheServerAsTyped) {
    // SQLite has no SHOW statement: the server's own error is printed and nothing is listed.
    const std::string out = session.Show(L"SHOW STATUS", 0);
    EXPECT_FALSE(Contains(out, "Query Okay")) << out;
    EXPECT_TRUE(Contains(out, "SHOW")) << out;  // the driver quotes the statement's text near the error
    EXPECT_EQ(State().lastStatement.find(L"SHOW STATUS") != std::wstring::npos, true);

    // Without an object the message comes first, then the server's answer.
    const std::string bare = session.Show(L"SHOW", 0);
    EXPECT_EQ(bare.rfind("Object no specified.\r\n\r\n", 0), 0u) << bare;
    EXPECT_GT(bare.size(), std::string("Object no specified.\r\n\r\n").size()) << bare;
}

TEST(SchemaNoConnection, ASchemaCommandWithoutConnectionFailsWithAMessage) {
    ShellSession session;
    State().connection.reset();
    State().connectInfo.type = kSqlite;
    EXPECT_EQ(session.Show(L"SHOW TABLES", 0), "No database selected.\r\n\r\n");
}

// PostgreSQL (native catalogue queries, schema restriction)

class SchemaPostgres : public ::testing::Test {
protected:
    void SetUp() override {
        const testdb::Backend backend = testdb::BackendOf(testdb::Kind::PostgreSQL);
        if (!backend.available) GTEST_SKIP() << backend.skipReason;
        ASSERT_TRUE(session.Connect(backend.connectionString, kPostgres));
        schema = Unique("ns");
        table = Unique("accounts");
        session.Exec(W("CREATE SCHEMA " + schema));
        session.Exec(W("CREATE TABLE " + schema + "." + table +
                       " (id serial PRIMARY KEY, owner varchar(30) NOT NULL DEFAULT 'bank', amount numeric(12,2))"));
        session.Exec(W("CREATE INDEX " + table + "_by_owner ON " + schema + "." + table + " (owner)"));
        session.Exec(W("CREATE VIEW " + schema + "." + Unique("big_accounts") + " AS SELECT id FROM " + schema + "." +
                       table + " WHERE amount > 100"));
        session.Take();
        created = true;
    }
    void TearDown() override {
        if (created) session.Exec(W("DROP SCHEMA " + schema + " CASCADE"));
    }
    ShellSession session;
    std::string schema, table;
    bool created = false;
};

TEST_F(SchemaPostgres, ShowTablesRestrictsToTheConnectionsSchema) {
    State().connectInfo.schema = W(schema);
    const std::string out = session.Show(L"SHOW TABLES", 1);
    ExpectHas(out, {"| Schema", "| Table", "| " + schema + " ", "| " + table + " ", "Query Okay, 1 row in set ("});
    EXPECT_FALSE(Contains(out, "big_accounts")) << out;

    // Another schema name finds none of these tables.
    State().connectInfo.schema = W(Unique("empty"));
    const std::string other = session.Show(L"SHOW TABLES");
    EXPECT_FALSE(Contains(other, table)) << other;
    EXPECT_TRUE(Contains(other, "Query Okay, 0 row in set (")) << other;

    // Views are never restricted to the schema.
    const std::string views = session.Show(L"SHOW VIEWS");
    EXPECT_TRUE(HasCell(views, Unique("big_accounts")) && !HasCell(views, table)) << views;

    // On an ODBC DSN connection the schema is neither passed on nor restricted.
    State().connectInfo.type = kOdbcDsn;
    const std::string dsn = session.Show(L"SHOW TABLES");
    EXPECT_TRUE(HasCell(dsn, table) && !Contains(dsn, "| Schema")) << dsn;
}

TEST_F(SchemaPostgres, ShowFunctionsAndProceduresListRoutines) {
    const std::string function = Unique("f1"), procedure = Unique("p1");
    session.Exec(
        W("CREATE FUNCTION " + schema + "." + function + "(x int) RETURNS int LANGUAGE sql AS 'SELECT x + 1'"));
    session.Exec(W("CREATE PROCEDURE " + schema + "." + procedure + "() LANGUAGE sql AS 'SELECT 1'"));
    session.Take();
    // The PostgreSQL driver reports every routine as a function.
    const std::string functions = session.Show(L"SHOW FUNCTIONS", 1);
    EXPECT_EQ(functions.rfind("+", 0), 0u) << functions.substr(0, 400);
    EXPECT_TRUE(Contains(functions.substr(0, functions.find("\r\n", functions.find("\r\n") + 2)), "| Schema"));
    // Far down the list: the schema column, measured on the first records, may wrap our schema.
    ExpectCells(functions, {function, procedure});
    EXPECT_FALSE(Contains(session.Show(L"SHOW PROC", 1), function));
}

TEST_F(SchemaPostgres, ShowColumnsRunsTheCatalogueQuery) {
    const std::string out = session.Show(W("SHOW COLUMNS FROM " + table), 1);
    // The query's own column names (in PostgreSQL's lower case), cut to the column widths.
    // The serial column's default is "nextval(...)".
    ExpectHas(out, {"| field_n | field_ty | length |       ispk | isau | null | defaultvalue ", "nextval(", "'bank'",
                    "Query Okay, 3 rows in set ("});
    ExpectCells(out, {"id", "owner", "amount"});

    // Letter case of the name does not matter; DESC is the same command.
    std::string upper = table;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(orva::ProcessLine(W("desc " + upper), 1), 1);
    EXPECT_EQ(Listing(session.Take()), Listing(out));
}

TEST_F(SchemaPostgres, SchemaDotTableRestrictsSchemaAndTableOnTheSchemaRowset) {
    // An ODBC DSN connection uses the schema rowsets; the name splits at its first '.'.
    State().connectInfo.type = kOdbcDsn;
    const std::string out = session.Show(W("SHOW COLUMNS FROM " + schema + "." + table), 1);
    ExpectCells(out, {"id", "owner", "amount"});
    EXPECT_TRUE(Contains(out, "Query Okay, 3 rows in set (")) << out;

    EXPECT_TRUE(Contains(session.Show(W("SHOW COLUMNS FROM public." + table), 1), "Query Okay, 0 row in set ("));
}

TEST_F(SchemaPostgres, ShowIndexRunsTheCatalogueQuery) {
    const std::string out = session.Show(W("SHOW INDEX FROM " + table), 1);
    ExpectHas(out,
              {"| index_name", "| " + table + "_pkey ", "| " + table + "_by_owner ", "Query Okay, 2 rows in set ("});
}

TEST_F(SchemaPostgres, TheSameTableNameInTwoSchemas) {
    // public is on the search path: its table is the one an unqualified name means.
    session.Exec(W("CREATE TABLE public." + table + " (public_only int)"));
    const std::string plain = session.Show(W("SHOW COLUMNS FROM " + table), 1);
    ExpectCells(plain, {"public_only"});
    EXPECT_FALSE(HasCell(plain, "owner")) << plain;
    const std::string qualified = session.Show(W("SHOW COLUMNS FROM " + schema + "." + table), 1);
    ExpectCells(qualified, {"id", "owner", "amount"});
    EXPECT_FALSE(HasCell(qualified, "public_only")) << qualified;
    // A table without an index has no index rows.
    EXPECT_TRUE(Contains(session.Show(W("SHOW INDEX FROM " + table), 1), "Query Okay, 0 row in set ("));
    ExpectHas(session.Show(W("SHOW INDEX FROM " + schema + "." + table), 1), {"Query Okay, 2 rows in set ("});
    session.Exec(W("DROP TABLE public." + table));
}

// A name with capitals beyond ASCII: the catalogue's names are of collation "C", so both sides of
// the comparison must fold alike (the default collation folded only the typed name).
TEST_F(SchemaPostgres, NamesWithNonAsciiCapitalsAreFound) {
    const std::string name = schema + ".\"Ünïcode_表\"";
    session.Exec(W("CREATE TABLE " + name + " (名前 int, größe text)"));
    ExpectCells(session.Show(W("SHOW COLUMNS FROM " + schema + ".Ünïcode_表"), 1), {"名前", "größe"});
    State().connectInfo.schema = W(schema);
    session.Exec(W("SET search_path TO " + schema));
    ExpectCells(session.Show(W("SHOW COLUMNS FROM \"Ünïcode_表\""), 1), {"名前", "größe"});
    session.Exec(W("SET search_path TO DEFAULT"));
}

// Two tables whose names differ in case only: each name picks one table, never both: the name as
// typed first, then the name PostgreSQL folds an unquoted one to.
TEST_F(SchemaPostgres, NamesDifferingInCaseOnlyPickOneTable) {
    session.Exec(W("CREATE TABLE " + schema + ".\"MixedCase\" (id int primary key, \"Col A\" text)"));
    session.Exec(W("CREATE TABLE " + schema + ".mixedcase (zz int)"));
    session.Exec(W("CREATE INDEX " + table + "_zz ON " + schema + ".mixedcase (zz)"));
    for (const std::string& prefix : {schema + ".", std::string()}) {
        if (prefix.empty()) session.Exec(W("SET search_path TO " + schema));
        const std::string mixed = session.Show(W("SHOW COLUMNS FROM " + prefix + "\"MixedCase\""), 1);
        ExpectCells(mixed, {"id", "Col A"});
        EXPECT_FALSE(HasCell(mixed, "zz")) << mixed;
        const std::string folded = session.Show(W("SHOW COLUMNS FROM " + prefix + "MIXEDCASE"), 1);
        ExpectCells(folded, {"zz"});
        EXPECT_FALSE(HasCell(folded, "id")) << folded;
        const std::string index = session.Show(W("SHOW INDEX FROM " + prefix + "\"MixedCase\""), 1);
        EXPECT_TRUE(Contains(index, "Query Okay, 1 row in set (")) << index;
        EXPECT_FALSE(Contains(index, table + "_zz")) << index;
    }
    session.Exec(W("SET search_path TO DEFAULT"));
}

TEST_F(SchemaPostgres, ShowDatabasesListsOnlyConnectableDatabasesInOrder) {
    const std::string out = session.Show(L"SHOW DATABASES", 1);
    const size_t test = out.find("| " + testdb::Env("ORVANTA_TEST_DB") + " ");
    const size_t postgres = out.find("| postgres ");
    const size_t template1 = out.find("| template1 ");
    ASSERT_TRUE(test != std::string::npos && postgres != std::string::npos && template1 != std::string::npos) << out;
    EXPECT_LT(test, postgres);
    EXPECT_LT(postgres, template1);
    EXPECT_FALSE(Contains(out, "template0")) << out;
}

TEST_F(SchemaPostgres, NamesWithQuotesAndBackslashesCannotChangeTheQuery) {
    const std::string odd = Unique("it's\\odd");
    session.Exec(W("CREATE TABLE " + schema + ".\"" + odd + "\" (quoted_column int PRIMARY KEY)"));
    EXPECT_EQ(RowsFor(kPostgres, W(odd), false), 1);
    EXPECT_EQ(RowsFor(kPostgres, W(odd), true), 1);
    // A name written to widen the condition finds nothing instead of every table's rows.
    EXPECT_EQ(RowsFor(kPostgres, W("x') or lower(t.relname)=lower('" + table), false), 0);
    EXPECT_EQ(RowsFor(kPostgres, W("x') or lower(t.relname)=lower('" + table), true), 0);
    // With standard_conforming_strings off a backslash in a literal escapes; the name still matches.
    session.Exec(L"SET standard_conforming_strings = off");
    EXPECT_EQ(RowsFor(kPostgres, W(odd), false), 1);
    session.Exec(L"SET standard_conforming_strings = on");

    // The same kind of name typed at the prompt: the word splitter keeps a backslash and the quote
    // after it.
    const std::string typed = Unique("o\\'k");
    session.Exec(W("CREATE TABLE " + schema + ".\"" + typed + "\" (typed_column int)"));
    ExpectCells(session.Show(W("SHOW COLUMNS FROM " + typed)), {"typed_column"});
}

// MariaDB (native SHOW statements)

class SchemaMariaDB : public ::testing::Test {
protected:
    void SetUp() override {
        const testdb::Backend backend = testdb::BackendOf(testdb::Kind::MariaDB);
        if (!backend.available) GTEST_SKIP() << backend.skipReason;
        ASSERT_TRUE(session.Connect(backend.connectionString, kMySql));
        State().connectInfo.database = W(testdb::Env("ORVANTA_TEST_DB"));
        table = Unique("orders");
        session.Exec(W("CREATE TABLE " + table +
                       " (id INT AUTO_INCREMENT PRIMARY KEY, item VARCHAR(30) NOT NULL DEFAULT 'widget', "
                       "qty INT, INDEX by_item (item))"));
        session.Take();
        created = true;
    }
    void TearDown() override {
        for (const std::string& t : dropLater) session.Exec(W("DROP TABLE IF EXISTS `" + t + "`"));
        if (created) session.Exec(W("DROP TABLE IF EXISTS " + table));
    }
    ShellSession session;
    std::string table;
    std::vector<std::string> dropLater;
    bool created = false;
};

TEST_F(SchemaMariaDB, ShowTablesAndDatabasesUseTheServersStatements) {
    const std::string out = session.Show(L"show tables;", 1);
    ExpectHas(out, {"| Table", "| " + table + " "});
    EXPECT_FALSE(Contains(out, "| Schema")) << out;
    ExpectHas(session.Show(L"SHOW DATABASES"), {"| Database", "| " + testdb::Env("ORVANTA_TEST_DB") + " "});
}

// SHOW TABLES lists the current database's tables only, as the server's SHOW TABLES does (the
// driver's default added performance_schema tables), and follows the database USE chose.
TEST_F(SchemaMariaDB, ShowTablesListsTheCurrentDatabaseOnly) {
    // (Other tests make tables side by side: the count is not compared.)
    const std::string out = session.Show(L"show tables", 1);
    EXPECT_TRUE(Contains(out, "| " + table + " ")) << out;
    EXPECT_FALSE(Contains(out, "| session_status ")) << out;
    // information_schema holds system views only (the test user reaches no other database).
    ASSERT_EQ(orva::ProcessLine(L"use information_schema", 1), 1);
    const std::string other = session.Show(L"show tables", 1);
    EXPECT_TRUE(Contains(other, "Query Okay, 0 row in set (")) << other;
    EXPECT_EQ(orva::ProcessLine(W("use " + testdb::Env("ORVANTA_TEST_DB")), 1), 1);
}

TEST_F(SchemaMariaDB, ShowColumnsDescAndIndexRunTheServersStatements) {
    const std::string out = session.Show(W("SHOW COLUMNS FROM " + table), 1);
    ExpectHas(out,
              {"| Field", "| Type", "| Null", "| Key", "| Default", "| Extra", "| item ", "widget", "auto_increment"});
    EXPECT_EQ(orva::ProcessLine(W("DESC " + table), 1), 1);
    EXPECT_EQ(Listing(session.Take()), Listing(out));
    ExpectHas(session.Show(W("SHOW INDEX FROM " + table), 1),
              {"| Key_name", "| PRIMARY ", "| by_item ", "Query Okay, 2 rows in set ("});
}

TEST_F(SchemaMariaDB, OtherShowStatementsGoToTheServerUnchanged) {
    ExpectHas(session.Show(W("SHOW CREATE TABLE " + table), 1), {"CREATE TABLE `" + table + "`"});
    ExpectHas(session.Show(L"SHOW STATUS", 1), {"| Variable_name", "| Uptime "});
    // The statement text holds the word "server": it still reaches the server whole.
    ExpectHas(session.Show(L"SHOW VARIABLES LIKE 'server_id'", 1), {"| server_id ", "Query Okay, 1 row in set ("});
    // COLUMNS without FROM is the server's (and a syntax error there).
    ExpectHas(session.Show(W("SHOW COLUMNS " + table), 0), {"SQL syntax"});
}

TEST_F(SchemaMariaDB, BackquotesInNamesCannotChangeTheStatement) {
    const std::string odd = Unique("we`ird");
    dropLater.push_back(Unique("we``ird"));  // the name as written inside backquotes
    session.Exec(W("CREATE TABLE `" + Unique("we``ird") + "` (odd_column INT, INDEX odd_index (odd_column))"));
    ExpectCells(session.Show(W("SHOW COLUMNS FROM " + odd), 1), {"odd_column"});
    ExpectCells(session.Show(W("SHOW INDEX FROM `" + odd + "`"), 1), {"odd_index"});

    // A name written to close the quotes and go on names a table that does not exist.
    EXPECT_EQ(RowsFor(kMySql, W(table + "` WHERE Field='id' #"), false), -1);
    EXPECT_EQ(RowsFor(kMySql, W(table + "` WHERE Key_name='PRIMARY' #"), true), -1);
}

}  // namespace
