// SHOW and DESC against real databases: SQLite always, PostgreSQL and MariaDB when
// tests/dbservers.sh runs them. The shell's output is redirected to a memory file and the printed
// text is checked.
#include <sys/mman.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "../core/testdb.h"
#include "commands.h"
#include "resources.h"
#include "schema.h"
#include "state.h"
#include "zentra/codepage.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"

namespace {

using orva::CSchemaShow;
using orva::FieldMapArray;
using orva::State;
using zentra::CADOConnection;
using zentra::CADORecordSet;

constexpr int kSqlite = 22;
constexpr int kMySql = 2;
constexpr int kPostgres = 3;
constexpr int kOdbcDsn = 15;

// Exposes the per-object operations, so that names the word splitter could never deliver reach
// the native queries.
class OpenSchemaShow : public CSchemaShow {
public:
    using CSchemaShow::CSchemaShow;
    using CSchemaShow::ShowColumns;
    using CSchemaShow::ShowIndexes;
};

// Points the shell's output at a memory file and owns the shell's connection for one test;
// restores both afterwards.
class ShellSession {
public:
    ShellSession() : savedInfo_(State().connectInfo), savedView_(State().resultViewType) {
        orva::RegisterResources();
        fd_ = memfd_create("schema_test_output", 0);
        EXPECT_GE(fd_, 0);
        savedOutput_ = std::move(State().output);
        State().output = std::make_unique<zentra::COutput>(State().spool.get(), fd_);
        State().resultViewType = 0;
    }
    ~ShellSession() {
        State().connection.reset();
        State().output = std::move(savedOutput_);
        State().connectInfo = savedInfo_;
        State().resultViewType = savedView_;
        if (fd_ >= 0) close(fd_);
    }
    ShellSession(const ShellSession&) = delete;
    ShellSession& operator=(const ShellSession&) = delete;

    bool Connect(const std::wstring& connectionString, int type) {
        State().connection = std::make_unique<CADOConnection>();
        State().connectInfo = orva::CONNECT_INFO{};
        State().connectInfo.type = type;
        if (!State().connection->Open(connectionString.c_str())) {
            ADD_FAILURE() << "connect failed: " << zentra::WideToUtf8(State().connection->GetLastErrorString());
            return false;
        }
        return true;
    }

    void Exec(const std::wstring& sql) {
        if (!State().connection->Execute(sql.c_str()))
            ADD_FAILURE() << zentra::WideToUtf8(sql) << ": "
                          << zentra::WideToUtf8(State().connection->GetLastErrorString());
    }

    // Everything printed since the last call.
    std::string Take() {
        std::string text;
        char buffer[4096];
        lseek(fd_, 0, SEEK_SET);
        for (ssize_t n; (n = read(fd_, buffer, sizeof buffer)) > 0;) text.append(buffer, static_cast<size_t>(n));
        EXPECT_EQ(ftruncate(fd_, 0), 0);
        lseek(fd_, 0, SEEK_SET);
        return text;
    }

    // Runs a SHOW command line through the handler; `result` receives its return value.
    std::string Show(const std::wstring& line, int* result = nullptr) {
        const int r = orva::ShowCommand(line);
        if (result) *result = r;
        return Take();
    }

private:
    int fd_ = -1;
    std::unique_ptr<zentra::COutput> savedOutput_;
    orva::CONNECT_INFO savedInfo_;
    int savedView_;
};

bool Contains(const std::string& text, const std::string& what) { return text.find(what) != std::string::npos; }

// The table row that holds `cell` as one of its cells ("| cell ").
bool HasCell(const std::string& text, const std::string& cell) { return Contains(text, "| " + cell + " "); }

// A name unique to this process, so that parallel test processes sharing a server database do
// not meet.
std::string Unique(const std::string& stem) { return "sch" + std::to_string(getpid()) + "_" + stem; }

std::wstring W(const std::string& s) { return zentra::Utf8ToWide(s); }

testdb::Backend FindBackend(testdb::Kind kind) {
    for (const auto& b : testdb::Backends())
        if (b.kind == kind) return b;
    return {kind, "", L"", false, "unknown backend"};
}

// The record count of ShowColumns (indexes false) or ShowIndexes (true) for `table` on the
// shell's connection; -1 when the query failed.
long RowsFor(int type, const std::wstring& table, bool indexes) {
    OpenSchemaShow show(State().output.get(), type);
    CADORecordSet recordset(State().connection.get(), 1);
    FieldMapArray map;
    const int ok = indexes ? show.ShowIndexes(recordset, map, L"", table) : show.ShowColumns(recordset, map, table);
    if (!ok) return -1;
    return static_cast<long>(recordset.GetRecordCount()) - show.GetSkippedRows();
}

// ---------------------------------------------------------------------------------------------
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
    for (const wchar_t* line : {L"SHOW STATUS", L"SHOW CREATE TABLE t", L"SHOW COLUMNS orders",
                                L"SHOW COLUMNS FROM", L"SHOW INDEX ON t", L"SHOW TABLE", L"SHOW COLUMN FROM t",
                                L"SHOW DATABASE", L"SHOW VIEW", L"SHOW tabl", L"SHOW FULL TABLES"}) {
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
    // Types 1, 3, 4 and 11 head the listings with a Schema column; the others do not. The
    // recordset has no connection: the map is filled before the query fails.
    const struct {
        int type;
        const wchar_t* line;
        std::vector<std::wstring> captions;
    } cases[] = {
        {1, L"SHOW TABLES", {L"Schema", L"Table"}},           {kSqlite, L"SHOW tab", {L"Table"}},
        {11, L"SHOW VIEWS", {L"Schema", L"View"}},            {kOdbcDsn, L"SHOW vie", {L"View"}},
        {4, L"SHOW FUNC", {L"Schema", L"Procedure"}},         {kSqlite, L"SHOW procedures", {L"Procedure"}},
        {1, L"SHOW ind from t", {L"Index", L"Field", L"Clustered", L"Unique", L"Null"}},
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

// ---------------------------------------------------------------------------------------------
// SQLite (schema rowsets)

class SchemaSqlite : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(session.Connect(testdb::SqliteConnectionString(testdb::NewSqliteFile()), kSqlite));
        session.Exec(L"CREATE TABLE customers (id INTEGER PRIMARY KEY, name VARCHAR(40) NOT NULL DEFAULT 'nobody', "
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
    int result = -1;
    const std::string out = session.Show(L"SHOW TABLES", &result);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(HasCell(out, "Table")) << out;
    EXPECT_FALSE(Contains(out, "Schema")) << out;
    for (const char* name : {"customers", "invoices", "Order Details"}) EXPECT_TRUE(HasCell(out, name)) << out;
    EXPECT_FALSE(Contains(out, "rich_customers")) << out;
    EXPECT_TRUE(Contains(out, "Query Okay, 3 rows in set (")) << out;
    // The short form and a trailing ';' give the same listing.
    EXPECT_EQ(session.Show(L"show tab;").substr(0, out.find("Query Okay")), out.substr(0, out.find("Query Okay")));

    // A text column is one wider than its longest value.
    const std::string views = session.Show(L"SHOW VIEWS", &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(views,
              "+-----------------+\r\n"
              "| View            |\r\n"
              "+-----------------+\r\n"
              "| rich_customers  |\r\n"
              "+-----------------+\r\n" +
                  views.substr(views.find("Query Okay")));
    EXPECT_EQ(views.rfind("Query Okay, 1 row in set (") != std::string::npos, true) << views;

    State().resultViewType = 1;
    const std::string list = session.Show(L"SHOW VIEWS");
    EXPECT_EQ(list.substr(0, list.find("Query Okay")),
              "*************************** 1. row ***************************\r\n"
              "View: rich_customers\r\n");
}

TEST_F(SchemaSqlite, ColumnSelectionPrintsJustThoseSchemaColumns) {
    // Headed by the column names, each cut to its column's width ("TABLE" is 6 wide).
    const std::string out = session.Show(L"SHOW TABLES TABLE_TYPE TABLE_NAME");
    EXPECT_EQ(out.substr(0, out.find("Query Okay")),
              "+--------+----------------+\r\n"
              "| TABLE_ | TABLE_NAME     |\r\n"
              "+--------+----------------+\r\n"
              "| TABLE  | customers      |\r\n"
              "| TABLE  | invoices       |\r\n"
              "| TABLE  | Order Details  |\r\n"
              "+--------+----------------+\r\n");
}

TEST_F(SchemaSqlite, ShowColumnsAndDescDescribeTheTable) {
    int result = -1;
    const std::string out = session.Show(L"SHOW COLUMNS FROM customers", &result);
    EXPECT_EQ(result, 1);
    // Narrow numeric columns cut their headings; Size is right-aligned.
    EXPECT_TRUE(Contains(out, "| Field ")) << out;
    EXPECT_TRUE(Contains(out, "| Type | ")) << out;
    EXPECT_TRUE(Contains(out, " Size | Prec | Scal | Null | Default |")) << out;
    EXPECT_TRUE(HasCell(out, "id")) << out;
    EXPECT_TRUE(HasCell(out, "name")) << out;
    EXPECT_TRUE(HasCell(out, "balance")) << out;
    EXPECT_TRUE(Contains(out, "nobody")) << out;
    EXPECT_FALSE(Contains(out, "number")) << out;  // a column of another table
    EXPECT_TRUE(Contains(out, "Query Okay, 3 rows in set (")) << out;

    // DESC goes through the dispatcher and is the same command.
    EXPECT_EQ(orva::ProcessLine(L"DESC customers", 1), 1);
    const std::string desc = session.Take();
    EXPECT_EQ(desc.substr(0, desc.find("Query Okay")), out.substr(0, out.find("Query Okay")));
}

TEST_F(SchemaSqlite, QuotedTableNamesLookUpTheNameInside) {
    for (const wchar_t* line : {L"SHOW COLUMNS FROM [Order Details]", L"SHOW COLUMNS FROM `Order Details`",
                                L"SHOW COLUMNS FROM \"Order Details\"", L"DESC [Order Details]"}) {
        const int result = orva::ProcessLine(line, 1);
        const std::string out = session.Take();
        EXPECT_EQ(result, 1) << zentra::WideToUtf8(line);
        EXPECT_TRUE(HasCell(out, "line_number")) << zentra::WideToUtf8(line) << "\n" << out;
        EXPECT_TRUE(HasCell(out, "quantity")) << zentra::WideToUtf8(line) << "\n" << out;
        EXPECT_TRUE(Contains(out, "Query Okay, 2 rows in set (")) << out;
    }
}

TEST_F(SchemaSqlite, ColumnsOfAnUnknownTableOrSchemaAreNone) {
    // SQLite's one schema has no name, so "other." names none.
    for (const wchar_t* line : {L"SHOW COLUMNS FROM no_such_table", L"SHOW COLUMNS FROM other.customers"}) {
        int result = -1;
        const std::string out = session.Show(line, &result);
        EXPECT_EQ(result, 1);
        EXPECT_EQ(out.substr(0, out.find("Query Okay")), "") << out;
        EXPECT_TRUE(Contains(out, "Query Okay, 0 row in set (")) << out;
    }
}

TEST_F(SchemaSqlite, ShowIndexListsRealIndexesWithoutTheStatisticsRow) {
    int result = -1;
    const std::string out = session.Show(L"SHOW INDEX FROM customers", &result);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(Contains(out, "| Index")) << out;
    EXPECT_TRUE(HasCell(out, "customers_by_name")) << out;
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
    EXPECT_EQ(none.substr(0, none.find("Query Okay")), "") << none;
    EXPECT_TRUE(Contains(none, "Query Okay, 0 row in set (")) << none;
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
    int result = -1;
    const std::string out = session.Show(L"SHOW DATABASES", &result);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(Contains(out, "| Database")) << out;
    EXPECT_TRUE(Contains(out, "Query Okay, 1 row in set (")) << out;
}

TEST_F(SchemaSqlite, NamesWithQuotesAreLookedUpNotInterpreted) {
    session.Exec(L"CREATE TABLE \"it's\" (apostrophe_column INTEGER)");
    session.Exec(L"CREATE TABLE \"we`ird\" (backquote_column INTEGER)");
    EXPECT_EQ(RowsFor(kSqlite, L"it's", false), 1);
    const std::string out = session.Show(L"SHOW COLUMNS FROM we`ird");
    EXPECT_TRUE(HasCell(out, "backquote_column")) << out;
}

TEST_F(SchemaSqlite, OtherShowFormsGoToTheServerAsTyped) {
    // SQLite has no SHOW statement: the server's own error is printed and nothing is listed.
    int result = -1;
    const std::string out = session.Show(L"SHOW STATUS", &result);
    EXPECT_EQ(result, 0);
    EXPECT_FALSE(Contains(out, "Query Okay")) << out;
    EXPECT_TRUE(Contains(out, "SHOW")) << out;  // the driver quotes the statement's text near the error
    EXPECT_EQ(State().lastStatement.find(L"SHOW STATUS") != std::wstring::npos, true);

    // Without an object the message comes first, then the server's answer.
    const std::string bare = session.Show(L"SHOW", &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(bare.rfind("Object no specified.\r\n\r\n", 0), 0u) << bare;
    EXPECT_GT(bare.size(), std::string("Object no specified.\r\n\r\n").size()) << bare;
}

TEST(SchemaNoConnection, ASchemaCommandWithoutConnectionFailsWithAMessage) {
    ShellSession session;
    State().connection.reset();
    State().connectInfo.type = kSqlite;
    int result = -1;
    const std::string out = session.Show(L"SHOW TABLES", &result);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(out, "No database selected.\r\n\r\n");
}

// ---------------------------------------------------------------------------------------------
// PostgreSQL (native catalogue queries, schema restriction)

class SchemaPostgres : public ::testing::Test {
protected:
    void SetUp() override {
        const testdb::Backend backend = FindBackend(testdb::Kind::PostgreSQL);
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
    int result = -1;
    const std::string out = session.Show(L"SHOW TABLES", &result);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(Contains(out, "| Schema")) << out;
    EXPECT_TRUE(Contains(out, "| Table")) << out;
    EXPECT_TRUE(HasCell(out, schema)) << out;
    EXPECT_TRUE(HasCell(out, table)) << out;
    EXPECT_FALSE(Contains(out, "big_accounts")) << out;
    EXPECT_TRUE(Contains(out, "Query Okay, 1 row in set (")) << out;

    // Another schema name finds none of these tables.
    State().connectInfo.schema = W(Unique("empty"));
    const std::string other = session.Show(L"SHOW TABLES");
    EXPECT_FALSE(Contains(other, table)) << other;
    EXPECT_TRUE(Contains(other, "Query Okay, 0 row in set (")) << other;

    // Views are never restricted to the schema.
    const std::string views = session.Show(L"SHOW VIEWS");
    EXPECT_TRUE(HasCell(views, Unique("big_accounts"))) << views;
    EXPECT_FALSE(HasCell(views, table)) << views;

    // On an ODBC DSN connection the schema is neither passed on nor restricted.
    State().connectInfo.type = kOdbcDsn;
    const std::string dsn = session.Show(L"SHOW TABLES");
    EXPECT_TRUE(HasCell(dsn, table)) << dsn;
    EXPECT_FALSE(Contains(dsn, "| Schema")) << dsn;
}

TEST_F(SchemaPostgres, ShowFunctionsAndProceduresListRoutines) {
    const std::string function = Unique("f1"), procedure = Unique("p1");
    session.Exec(W("CREATE FUNCTION " + schema + "." + function +
                   "(x int) RETURNS int LANGUAGE sql AS 'SELECT x + 1'"));
    session.Exec(W("CREATE PROCEDURE " + schema + "." + procedure + "() LANGUAGE sql AS 'SELECT 1'"));
    session.Take();
    // The PostgreSQL driver reports every routine as a function.
    int result = -1;
    const std::string functions = session.Show(L"SHOW FUNCTIONS", &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(functions.rfind("+", 0), 0u) << functions.substr(0, 400);
    EXPECT_TRUE(Contains(functions.substr(0, functions.find("\r\n", functions.find("\r\n") + 2)), "| Schema"));
    // Far down the list: the schema column, measured on the first records, may wrap our schema.
    EXPECT_TRUE(HasCell(functions, function)) << function;
    EXPECT_TRUE(HasCell(functions, procedure)) << procedure;
    const std::string procedures = session.Show(L"SHOW PROC", &result);
    EXPECT_EQ(result, 1);
    EXPECT_FALSE(Contains(procedures, function)) << procedures;
}

TEST_F(SchemaPostgres, ShowColumnsRunsTheCatalogueQuery) {
    int result = -1;
    const std::string out = session.Show(W("SHOW COLUMNS FROM " + table), &result);
    ASSERT_EQ(result, 1) << out;
    // The query's own column names (in PostgreSQL's lower case), cut to the column widths.
    EXPECT_TRUE(Contains(out, "| field_n | field_ty | length |       ispk | isau | null | defaultvalue ")) << out;
    EXPECT_TRUE(HasCell(out, "id")) << out;
    EXPECT_TRUE(HasCell(out, "owner")) << out;
    EXPECT_TRUE(HasCell(out, "amount")) << out;
    EXPECT_TRUE(Contains(out, "nextval(")) << out;  // the serial column's default
    EXPECT_TRUE(Contains(out, "'bank'")) << out;
    EXPECT_TRUE(Contains(out, "Query Okay, 3 rows in set (")) << out;

    // Letter case of the name does not matter; DESC is the same command.
    std::string upper = table;
    for (char& c : upper) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    EXPECT_EQ(orva::ProcessLine(W("desc " + upper), 1), 1);
    const std::string desc = session.Take();
    EXPECT_EQ(desc.substr(0, desc.find("Query Okay")), out.substr(0, out.find("Query Okay")));
}

TEST_F(SchemaPostgres, SchemaDotTableRestrictsSchemaAndTableOnTheSchemaRowset) {
    // An ODBC DSN connection uses the schema rowsets; the name splits at its first '.'.
    State().connectInfo.type = kOdbcDsn;
    int result = -1;
    const std::string out = session.Show(W("SHOW COLUMNS FROM " + schema + "." + table), &result);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(HasCell(out, "id")) << out;
    EXPECT_TRUE(HasCell(out, "owner")) << out;
    EXPECT_TRUE(HasCell(out, "amount")) << out;
    EXPECT_TRUE(Contains(out, "Query Okay, 3 rows in set (")) << out;

    const std::string elsewhere = session.Show(W("SHOW COLUMNS FROM public." + table), &result);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(Contains(elsewhere, "Query Okay, 0 row in set (")) << elsewhere;
}

TEST_F(SchemaPostgres, ShowIndexRunsTheCatalogueQuery) {
    int result = -1;
    const std::string out = session.Show(W("SHOW INDEX FROM " + table), &result);
    ASSERT_EQ(result, 1) << out;
    EXPECT_TRUE(Contains(out, "| index_name")) << out;
    EXPECT_TRUE(HasCell(out, table + "_pkey")) << out;
    EXPECT_TRUE(HasCell(out, table + "_by_owner")) << out;
    EXPECT_TRUE(Contains(out, "Query Okay, 2 rows in set (")) << out;
}

TEST_F(SchemaPostgres, ShowDatabasesListsOnlyConnectableDatabasesInOrder) {
    int result = -1;
    const std::string out = session.Show(L"SHOW DATABASES", &result);
    ASSERT_EQ(result, 1) << out;
    const size_t test = out.find("| " + testdb::Env("ORVANTA_TEST_DB") + " ");
    const size_t postgres = out.find("| postgres ");
    const size_t template1 = out.find("| template1 ");
    ASSERT_NE(test, std::string::npos) << out;
    ASSERT_NE(postgres, std::string::npos) << out;
    ASSERT_NE(template1, std::string::npos) << out;
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
    EXPECT_EQ(RowsFor(kPostgres, W("x') or lower(tbl.relname)=lower('" + table), false), 0);
    EXPECT_EQ(RowsFor(kPostgres, W("x') or lower(t.relname)=lower('" + table), true), 0);
    // With standard_conforming_strings off a backslash in a literal escapes; the name still matches.
    session.Exec(L"SET standard_conforming_strings = off");
    EXPECT_EQ(RowsFor(kPostgres, W(odd), false), 1);
    session.Exec(L"SET standard_conforming_strings = on");

    // The same kind of name typed at the prompt: the word splitter keeps a backslash and the quote
    // after it.
    const std::string typed = Unique("o\\'k");
    session.Exec(W("CREATE TABLE " + schema + ".\"" + typed + "\" (typed_column int)"));
    const std::string out = session.Show(W("SHOW COLUMNS FROM " + typed));
    EXPECT_TRUE(HasCell(out, "typed_column")) << out;
}

// ---------------------------------------------------------------------------------------------
// MariaDB (native SHOW statements)

class SchemaMariaDB : public ::testing::Test {
protected:
    void SetUp() override {
        const testdb::Backend backend = FindBackend(testdb::Kind::MariaDB);
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
    int result = -1;
    const std::string out = session.Show(L"show tables;", &result);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(Contains(out, "| Table")) << out;
    EXPECT_FALSE(Contains(out, "| Schema")) << out;
    EXPECT_TRUE(HasCell(out, table)) << out;

    const std::string databases = session.Show(L"SHOW DATABASES");
    EXPECT_TRUE(Contains(databases, "| Database")) << databases;
    EXPECT_TRUE(HasCell(databases, testdb::Env("ORVANTA_TEST_DB"))) << databases;
}

TEST_F(SchemaMariaDB, ShowColumnsDescAndIndexRunTheServersStatements) {
    int result = -1;
    const std::string out = session.Show(W("SHOW COLUMNS FROM " + table), &result);
    ASSERT_EQ(result, 1) << out;
    for (const char* heading : {"Field", "Type", "Null", "Key", "Default", "Extra"})
        EXPECT_TRUE(Contains(out, std::string("| ") + heading)) << heading << "\n" << out;
    EXPECT_TRUE(HasCell(out, "item")) << out;
    EXPECT_TRUE(Contains(out, "widget")) << out;
    EXPECT_TRUE(Contains(out, "auto_increment")) << out;

    EXPECT_EQ(orva::ProcessLine(W("DESC " + table), 1), 1);
    const std::string desc = session.Take();
    EXPECT_EQ(desc.substr(0, desc.find("Query Okay")), out.substr(0, out.find("Query Okay")));

    const std::string index = session.Show(W("SHOW INDEX FROM " + table), &result);
    ASSERT_EQ(result, 1) << index;
    EXPECT_TRUE(Contains(index, "| Key_name")) << index;
    EXPECT_TRUE(HasCell(index, "PRIMARY")) << index;
    EXPECT_TRUE(HasCell(index, "by_item")) << index;
    EXPECT_TRUE(Contains(index, "Query Okay, 2 rows in set (")) << index;
}

TEST_F(SchemaMariaDB, OtherShowStatementsGoToTheServerUnchanged) {
    int result = -1;
    std::string out = session.Show(W("SHOW CREATE TABLE " + table), &result);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(Contains(out, "CREATE TABLE `" + table + "`")) << out;

    out = session.Show(L"SHOW STATUS", &result);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(Contains(out, "| Variable_name")) << out.substr(0, 400);
    EXPECT_TRUE(HasCell(out, "Uptime")) << out.substr(0, 400);

    // The statement text holds the word "server": it still reaches the server whole.
    out = session.Show(L"SHOW VARIABLES LIKE 'server_id'", &result);
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(HasCell(out, "server_id")) << out;
    EXPECT_TRUE(Contains(out, "Query Okay, 1 row in set (")) << out;

    // COLUMNS without FROM is the server's (and a syntax error there).
    out = session.Show(W("SHOW COLUMNS " + table), &result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(Contains(out, "SQL syntax")) << out;
}

TEST_F(SchemaMariaDB, BackquotesInNamesCannotChangeTheStatement) {
    const std::string odd = Unique("we`ird");
    dropLater.push_back(Unique("we``ird"));  // the name as written inside backquotes
    session.Exec(W("CREATE TABLE `" + Unique("we``ird") + "` (odd_column INT, INDEX odd_index (odd_column))"));
    int result = -1;
    const std::string out = session.Show(W("SHOW COLUMNS FROM " + odd), &result);
    ASSERT_EQ(result, 1) << out;
    EXPECT_TRUE(HasCell(out, "odd_column")) << out;
    const std::string index = session.Show(W("SHOW INDEX FROM `" + odd + "`"), &result);
    ASSERT_EQ(result, 1) << index;
    EXPECT_TRUE(HasCell(index, "odd_index")) << index;

    // A name written to close the quotes and go on names a table that does not exist.
    EXPECT_EQ(RowsFor(kMySql, W(table + "` WHERE Field='id' #"), false), -1);
    EXPECT_EQ(RowsFor(kMySql, W(table + "` WHERE Key_name='PRIMARY' #"), true), -1);
}

}  // namespace
