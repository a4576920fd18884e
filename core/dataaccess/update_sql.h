// The statements that write a recordset's changes back: which table its rows come from, how a
// row is found again, and INSERT / UPDATE / DELETE with every value bound as a parameter.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "connection_core.h"
#include "rowset.h"
#include "zentra/variant.h"

namespace zentra {

// The table that the changes of one result go to.
struct TableTarget {
    // From the column descriptions (and the "Unique Table" property).
    std::wstring catalog, schema, table;
    std::vector<std::wstring> base;  // per result column: its column in the table, "" when it is none
    std::wstring refusal;            // why the result cannot be written, "" when it can

    // From the database, on the first write.
    bool resolved = false;
    std::wstring name;                                       // the qualified, quoted table name
    std::wstring quote;                                      // the identifier quote ("" when the driver has none)
    const DbmsDialect* dialect = &DialectOfType(kDbmsNone);  // the connection's
    bool wideText = true;                                    // text goes as SQL_C_WCHAR, else as SQL_C_CHAR bytes
    std::vector<std::size_t> key;  // result columns of the table's key; empty: match all values
    bool rowIdentifier = true;     // without a key: the DBMS's row id (ctid, rowid) picks one row
    bool allColumns = false;       // every column of the table is a column of the result

    std::wstring Quote(const std::wstring& identifier) const;
};

// Finds the table from the result's columns. `uniqueTable` ("" none; may be qualified) names it
// when set, in the schema and catalog given (when not ""). When the driver describes no column's
// table, a plain single-table `source` statement (see ParsePlainSelect) names it.
void DescribeTarget(const std::vector<ColumnInfo>& columns, const std::wstring& uniqueCatalog,
                    const std::wstring& uniqueSchema, const std::wstring& uniqueTable, const std::wstring& source,
                    TableTarget& target);

// A statement of the form "SELECT list FROM table [[AS] alias] [WHERE ...] [ORDER BY ...] ...":
// the table's name parts (catalog, schema, table as written, unquoted) and, per item of the
// list, the column it reads ("" for an expression) or `star` for "*". False for anything else:
// DISTINCT, several tables, joins, subqueries in FROM, GROUP BY, HAVING, UNION, ...
struct PlainSelect {
    std::vector<std::wstring> table;
    bool star = false;
    std::vector<std::wstring> columns;
};
bool ParsePlainSelect(const std::wstring& sql, PlainSelect& out);

// What makes the rows of `sql` other than one table row each ("" nothing): DISTINCT, GROUP BY,
// HAVING, aggregate functions, UNION / INTERSECT / EXCEPT, window functions, and joins unless
// `joinNamed` (the "Unique Table" property names the table to change) - in the statement itself
// or in a query it selects from, not in subqueries that give a value or a condition.
std::wstring NotOneRowEach(const std::wstring& sql, bool joinNamed);

// Completes `target` from the database: quoting, DBMS, table name and key.
bool ResolveTarget(ConnectionCore& connection, TableTarget& target, const void* owner, OdbcError& error);

enum class RowWrite { Insert, Update, Delete };

// Which values find a changed row (the "Update Criteria" property): the key alone, the key and
// every column, or the key and the changed columns (the default; also for 3, time stamps, which
// no table here has). Without a key (or one whose values memory does not hold exactly), every
// column that can be compared. Each value is compared exactly: texts byte for byte where the
// collation folds (MySQL), time stamps finer than milliseconds by their whole fetched value;
// where that is impossible (SQLite's date texts and REAL values, times finer than seconds) the
// column narrows loosely or is left out, and the write is undone unless it reached one row.
constexpr int kCriteriaKey = 0;
constexpr int kCriteriaAllColumns = 1;
constexpr int kCriteriaChangedColumns = 2;

// Writes one row. `original`: the row as read (Update, Delete); `values`: the row as it should be
// (Insert, Update), which for an Insert receives the values the database generated when it can
// tell them; a time stamp of `original` may be the text of its whole stored value. `columns`
// marks the columns to write (Insert: those to give a value; Update: the changed ones).
// `criteria`: see above. `conflict` is set when the row was not found (0 rows affected). A write
// that reached several rows is undone and fails.
bool WriteRow(ConnectionCore& connection, const std::vector<ColumnInfo>& columns, const TableTarget& target,
              RowWrite kind, const std::vector<_variant_t>& original, std::vector<_variant_t>& values,
              const std::vector<bool>& write, int criteria, const void* owner, bool& conflict, OdbcError& error);

// Runs `text`, a statement without parameters or rows (a savepoint's).
bool RunStatement(ConnectionCore& connection, const std::wstring& text, const void* owner, OdbcError& error);

extern const wchar_t* const kRowNotFound;
extern const wchar_t* const kNoBaseTable;

}  // namespace zentra
