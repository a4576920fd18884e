// The in-memory result of a statement: column descriptions and compactly stored rows, and the
// code that fetches them from an ODBC statement.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "odbc_handle.h"
#include "zentra/dataaccess.h"
#include "zentra/dialect.h"
#include "zentra/variant.h"

namespace zentra {

// How a column's values are stored.
enum class ValueKind : std::uint8_t { Int, UInt, Float, Double, Bool, Decimal, Text, Bytes, Date, Time, Timestamp };

struct ColumnInfo {
    std::wstring name;
    // ODBC description.
    SQLSMALLINT sqlType = SQL_UNKNOWN_TYPE;
    SQLULEN columnSize = 0;
    SQLSMALLINT digits = 0;
    bool nullable = true;
    bool isUnsigned = false;
    // Derived ADO description.
    int adoType = 0;
    long definedSize = 0;
    int precision = 255;
    int scale = 255;
    long attributes = 0;
    ValueKind kind = ValueKind::Text;
    bool isLong = false;  // read piecewise with SQLGetData, never bound
    // Where the column comes from, for statements that change rows ("" unknown; an expression
    // or a column of a join has no single base table).
    std::wstring baseCatalog;
    std::wstring baseSchema;
    std::wstring baseTable;
    std::wstring baseColumn;
    bool autoIncrement = false;
    // The values carry their own types (SQLite types values, not columns): each is stored with a
    // tag that says whether it is in the column's form or arrived as text, a double or an integer.
    bool valueTyped = false;
    // A money column that the driver describes as floating point: read as the server's text
    // (currency symbol, grouping) and kept as an exact decimal.
    bool money = false;
};

// Fills the ADO description and the value kind of `column` from its ODBC description.
void DeriveColumn(ColumnInfo& column);
// The ODBC type that stands for ADO type `adoType` (text for types without one of their own);
// `isUnsigned` tells the unsigned integer types.
SQLSMALLINT SqlTypeOfAdo(int adoType, bool& isUnsigned);
// A column of a schema rowset: `adoType` one of adVarWChar, adSmallInt, adInteger,
// adUnsignedSmallInt, adUnsignedInt, adBigInt, adUnsignedBigInt, adBoolean.
ColumnInfo SchemaColumn(const wchar_t* name, int adoType);

// Rows are kept in batches of bytes; each value is a length header (LEB128 of length + 1, 0 for
// NULL) followed by its bytes: integers in as few little-endian bytes as hold them, floats and
// doubles in their binary form, numerics as their ASCII text, text as UTF-8, binary as is, dates
// and times as packed fields (a timestamp without its four bytes of fraction when that is zero).
class RowSet {
public:
    std::vector<ColumnInfo> columns;
    long affected = -1;  // rows changed by the statement, -1 unknown

    // ---- building ----
    void AddNull();
    void AddInt(std::int64_t value);
    void AddUInt(std::uint64_t value);
    void AddDouble(double value);
    void AddFloat(float value);
    void AddBool(bool value);
    void AddAscii(std::string_view text);  // numerics
    void AddText(std::wstring_view text);
    void AddBytes(const void* data, std::size_t length);
    void AddDate(const SQL_DATE_STRUCT& date);
    void AddTime(const SQL_TIME_STRUCT& time);
    void AddTimestamp(const SQL_TIMESTAMP_STRUCT& stamp);
    // Stores `value` in the form of column kind `kind` (schema rowsets).
    void AddVariant(const _variant_t& value, ValueKind kind);
    // The tags of the values of value-typed columns; the next Add* stores its value with `tag`.
    enum ValueTag : std::uint8_t { AsColumn = 0, AsText = 1, AsDouble = 2, AsInteger = 3 };
    void Tag(ValueTag tag) { pendingTag_ = tag; }
    void EndRow();
    void Finish();  // releases spare capacity once all rows are in

    // ---- reading ----
    std::size_t RowCount() const { return rowCount_; }
    // Makes `row` the row that the accessors below read.
    void Load(std::size_t row);
    bool IsNull(std::size_t column) const;
    _variant_t Value(std::size_t column) const;
    long ActualSize(std::size_t column) const;
    // The value as text: text columns as they are, other kinds through their variant.
    std::wstring Text(std::size_t column) const;
    // The value as stored, where it has a form that Value gives back unchanged (see StoredField).
    void Stored(std::size_t column, StoredField& field) const;
    std::size_t StorageSize() const;
    // Every value of `row`, as Value gives them.
    std::vector<_variant_t> RowValues(std::size_t row);
    // The timestamp of `column` of the loaded row as fetched, with its whole fraction (Value keeps
    // milliseconds): statements that find a row again compare it with this. False when the value
    // is null or not kept as such a timestamp.
    bool StoredTimestamp(std::size_t column, SQL_TIMESTAMP_STRUCT& out) const;

    // ---- changing rows ----
    // Converts `in` to the form column `column` stores and Value gives back (VT_NULL for empty
    // and null). False, with a message in `error`, when the column cannot hold the value. An
    // integer wider than the column's type is kept whole (the database checks its own range),
    // unless `fitType` asks for the type's width, as a bound parameter of that type needs.
    bool Coerce(std::size_t column, const _variant_t& in, _variant_t& out, std::wstring& error,
                bool fitType = false) const;
    // Adds a row of coerced values (one per column) after the others; returns its row id.
    std::size_t AppendRow(const std::vector<_variant_t>& values);
    // Replaces the values of `row` with coerced values (the old bytes stay unused).
    void ReplaceRow(std::size_t row, const std::vector<_variant_t>& values);

    // The change state of each row, for batch updates: rows start Unchanged.
    enum RowStatus : std::uint8_t { Unchanged = 0, Modified = 1, Added = 2, Deleted = 4 };
    std::uint8_t Status(std::size_t row) const { return row < status_.size() ? status_[row] : std::uint8_t{Unchanged}; }
    void SetStatus(std::size_t row, std::uint8_t status);
    bool IsDeleted(std::size_t row) const { return (Status(row) & Deleted) != 0; }
    bool AnyDeleted() const { return deletedCount_ > 0; }
    // The values of changed rows as they were read from the database, kept until the change is
    // sent or dropped (row id -> values).
    std::map<std::size_t, std::vector<_variant_t>> originals;

private:
    void AddStored(const _variant_t& value, const ColumnInfo& column);
    std::vector<std::uint8_t> status_;
    std::size_t deletedCount_ = 0;
    struct Cell {
        const std::uint8_t* data = nullptr;
        std::uint32_t length = 0;
        bool null = true;
        std::uint8_t tag = AsColumn;
    };
    // The fields of a stored timestamp.
    static SQL_TIMESTAMP_STRUCT TimestampAt(const Cell& cell);
    int pendingTag_ = -1;
    void Header(std::size_t length);
    // Where a row's bytes start: a batch and an offset in it.
    struct Place {
        std::uint32_t batch = 0;
        std::uint32_t offset = 0;
    };
    // The place of the row that starts at `end` in batch `batch` (or at the start of the next batch).
    Place PlaceAt(std::uint32_t batch, const std::uint8_t* end) const;
    // Rows lie one after the other in the batches, each whole in one batch, so that the place of
    // every kRowsPerMark-th row is enough to find any row: the others are found by reading past
    // the rows before them.
    static constexpr std::size_t kRowsPerMark = 16;
    std::vector<std::vector<std::uint8_t>> batches_;
    std::vector<Place> marks_;
    std::size_t rowCount_ = 0;
    // Rows given new values (ReplaceRow): their bytes, outside the batches.
    std::map<std::size_t, std::vector<std::uint8_t>> replaced_;
    std::vector<std::uint8_t> pending_;
    std::vector<Cell> cells_;
    std::size_t loaded_ = static_cast<std::size_t>(-1);
    // Whether the loaded row was read from the batches, and where the row after it starts then.
    bool loadedInBatches_ = false;
    Place nextPlace_;
};

// What the driver lets the fetch code do.
struct DriverCaps {
    bool getDataBlock = false;  // SQLGetData on a row of a block after SQLSetPos
    bool getDataBound = false;  // SQLGetData on a bound column
    // Text as SQL_C_WCHAR; false for drivers that can't convert to it (ANSI builds such as
    // psqlodbca), whose text is then read as SQL_C_CHAR bytes.
    bool wideText = true;
    // Text is fetched as SQL_C_CHAR bytes although the driver converts to SQL_C_WCHAR: the
    // connection's text is UTF-8 and the driver's conversion is slow (see
    // DbmsDialect::textCharsetQuery).
    bool utf8Text = false;
    // The database types values rather than columns (SQLite): every value is read as the text
    // the database gives for it and kept in the column's form only when that form holds it.
    bool valueTyped = false;
    // Text arguments (statements, names, patterns) through the wide entry points; false for
    // drivers without them, which then get UTF-8 bytes through the narrow ones.
    bool wideCalls = true;
    // The driver splits a text at its ';' itself (MariaDB Connector/ODBC), also inside a
    // BEGIN ... END body that the server runs as one statement; asking it for a next result then
    // reads a sub-statement it never prepared and crashes.
    bool splitsAtSemicolons = false;
    // The dialect of the DBMS the driver reports, found when the connection opens.
    const DbmsDialect* dialect = &DialectOfType(kDbmsNone);
};

// Whether the connection's text comes as UTF-8 bytes by the dialect's character set query (false
// for a dialect without one and when the query fails).
bool ProbeUtf8Text(SQLHDBC dbc, const DbmsDialect& dialect, bool wideCalls);

// Describes the result of `stmt` and fetches all its rows into `rows`. Stops with an error when
// `cancelled` becomes true.
bool FetchResult(SQLHSTMT stmt, const DriverCaps& caps, RowSet& rows, const std::atomic<bool>& cancelled,
                 OdbcError& error);

// The ODBC timestamp of `st`, to the millisecond.
inline SQL_TIMESTAMP_STRUCT TimestampOf(const SYSTEMTIME& st) {
    return SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(st.wYear),
                                st.wMonth,
                                st.wDay,
                                st.wHour,
                                st.wMinute,
                                st.wSecond,
                                static_cast<SQLUINTEGER>(st.wMilliseconds) * 1000000u};
}

// Days since 1899-12-30 plus the time of day, as an OLE date.
DATE MakeOleDate(int year, int month, int day, int hour, int minute, int second, int millisecond);

}  // namespace zentra
