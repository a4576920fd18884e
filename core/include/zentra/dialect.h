// What the programs know of each DBMS: the catalogue's type ids, and one dialect record per DBMS
// (driver names on Linux, the native catalogue queries of SHOW and DESC, how USE changes the
// database, how names are quoted, how one row of several equal ones is reached for editing, and
// the quirks of its drivers). A connection finds its record once, from the driver's DBMS name;
// the shell finds it from the catalogue type it connects with.
#pragma once

#include <cstdint>
#include <vector>

#include "zentra/text.h"

namespace zentra {

// The type ids of the catalogue (CONNECT_STRING_CONFIG::nType).
enum DbmsType : std::int32_t {
    kDbmsNone = 0,
    kDbmsMsSql = 1,
    kDbmsMySql = 2,
    kDbmsPostgreSql = 3,
    kDbmsOracle = 4,
    kDbmsMdb = 5,
    kDbmsAccdb = 6,
    kDbmsXls = 7,
    kDbmsXlsx = 8,
    kDbmsFoxpro = 9,
    kDbmsDbase = 10,
    kDbmsDb2 = 11,
    kDbmsInformix = 12,
    kDbmsCsv = 13,
    kDbmsLotus = 14,
    kDbmsOdbcDsn = 15,
    kDbmsTeradata = 16,
    kDbmsSybase = 17,
    kDbmsFirebird = 18,
    kDbmsIngres = 19,
    kDbmsMimer = 20,
    kDbmsNetezza = 21,
    kDbmsSqlite3 = 22,
    kDbmsOlap = 23,
    kDbmsIndexServer = 24,
    kDbms4D = 25,
    // The highest id: the catalogue has one row for each id from 1 to this one.
    kDbmsLastType = kDbms4D,
};

// How a statement that may reach several equal rows is limited to one of them.
enum class OneRowLimit {
    None,           // it can't be
    LimitClause,    // "... LIMIT 1"
    RowIdSubquery,  // "WHERE <row id> = (SELECT <row id> FROM ... LIMIT 1)"
};

// How the table name goes into a native catalogue query.
enum class TableNameForm {
    Literal,      // inside '...', quotes doubled
    Backquoted,   // inside `...`, backquotes doubled
    PgCondition,  // a condition on the pg_class row "t" and its namespace "nsp"
};

// How a DBMS's SQL text reads beyond what every DBMS shares: '...' strings, "..." names or
// strings, "--" comments to the end of the line and "/* */" comments.
struct SqlLexis {
    // A backslash takes the next character as it is, in strings and in plain text (MySQL's
    // strings; the rule kept for the DBMSs not described here).
    bool backslashEscapes = true;
    // E'...' strings take backslash escapes although others do not (PostgreSQL).
    bool escapeStrings = false;
    // $$...$$ and $tag$...$tag$ are strings (PostgreSQL).
    bool dollarQuotes = false;
    // `name` and [name] are quoted names.
    bool backtickQuotes = false;
    bool bracketQuotes = false;
    // "#" opens a comment to the end of the line (MySQL).
    bool hashComments = false;
    // "--" opens a comment only before a blank, a control character or the end (MySQL).
    bool dashCommentNeedsBlank = false;
    // "/* /* */ */" is one comment (PostgreSQL).
    bool nestedComments = false;
};

struct DbmsDialect {
    DbmsType type;
    // '|'-separated parts of the DBMS name a driver reports (any letter case); null: not found
    // from the name.
    const wchar_t* dbmsNames;
    // '|'-separated driver names that Linux packages register for the type when the catalogue's
    // driver name is not found (matched as the catalogue's: upper-cased containment).
    const wchar_t* linuxDrivers;
    // '|'-separated parts of driver file names that run a batch of statements parted by
    // semicolons as several statements, one result each.
    const wchar_t* batchSplittingDrivers;
    // The DBMS keeps a type per value: a column's type only describes its declaration.
    bool valueTyped;
    OneRowLimit oneRow;
    const wchar_t* rowId;  // the row id of OneRowLimit::RowIdSubquery
    // The opening and closing quote of a name that is not a plain word.
    wchar_t quoteOpen, quoteClose;
    // USE runs "use <database>" on the connection; otherwise it opens a new connection.
    bool useByStatement;
    // The database named at login is a data source name.
    bool namesDataSource;
    // SHOW lists the objects with their schemas; tables, views, procedures and indexes are
    // restricted to the current database (the schema rowsets' catalog).
    bool hasSchemas;
    bool catalogRestricted;
    // Native queries (null: the schema rowsets). The column and index queries take the table
    // name, in `tableName` form, for their "%s".
    const wchar_t* databasesQuery;
    const wchar_t* columnsQuery;
    const wchar_t* indexesQuery;
    TableNameForm tableName;
    SqlLexis lexis{};
    // A query whose one value names the character set the server sends text in. When it names
    // UTF-8, text columns are read as SQL_C_CHAR bytes, which are UTF-8 as they come: the
    // driver's own conversion to UTF-16 costs more than the rest of the fetch (MariaDB
    // Connector/ODBC opens a converter for every value). Null: text is read as SQL_C_WCHAR.
    const wchar_t* textCharsetQuery = nullptr;
};

// The record of a catalogue type; a plain record (nothing special) for the others.
const DbmsDialect& DialectOfType(std::int32_t type);

// The record of the DBMS a driver reports (SQL_DBMS_NAME); the plain record when none matches.
const DbmsDialect& DialectOfDbms(const CString& dbmsName);

// Whether `driverName` (SQL_DRIVER_NAME) is one of `dialect`'s batch-splitting drivers.
bool SplitsBatches(const DbmsDialect& dialect, const CString& driverName);

}  // namespace zentra
