#include "update_sql.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <cwctype>
#include <map>
#include <tuple>

#include "zentra/codepage.h"
#include "zentra/dataaccess.h"
#include "zentra/format.h"
#include "zentra/text.h"
#include "zentra/values.h"

namespace zentra {

const wchar_t* const kRowNotFound =
    L"Row cannot be located for updating. Some values may have been changed since it was last read.";
const wchar_t* const kNoBaseTable = L"Insufficient base table information for updating or refreshing.";

namespace {

const wchar_t* const kTooManyRows = L"Insufficient key column information for updating or refreshing.";

std::wstring Unquote(std::wstring part) {
    part = Trim(part);
    if (part.size() >= 2 &&
        ((part.front() == L'"' && part.back() == L'"') || (part.front() == L'`' && part.back() == L'`') ||
         (part.front() == L'[' && part.back() == L']'))) {
        const wchar_t q = part.back();
        part = part.substr(1, part.size() - 2);
        ReplaceAll(part, std::wstring(2, q), std::wstring(1, q));
    }
    return part;
}

// "table", "schema.table" or "catalog.schema.table", each part optionally quoted.
std::vector<std::wstring> SplitQualified(const std::wstring& name) {
    std::vector<std::wstring> parts(1);
    wchar_t open = 0;
    for (wchar_t ch : name) {
        if (open) {
            if ((open == L'[' && ch == L']') || (open != L'[' && ch == open)) open = 0;
        } else if (ch == L'"' || ch == L'`' || ch == L'[') {
            open = ch;
        } else if (ch == L'.') {
            parts.emplace_back();
            continue;
        }
        parts.back() += ch;
    }
    for (auto& p : parts) p = Unquote(p);
    return parts;
}

std::wstring InfoText(SQLHDBC dbc, SQLUSMALLINT info) {
    SQLWCHAR buffer[256] = {};
    SQLSMALLINT length = 0;
    if (!Succeeded(Traced("SQLGetInfoW", SQLGetInfoW(dbc, info, buffer, sizeof buffer, &length))))
        return std::wstring();
    return FromSqlW(buffer, std::min<std::size_t>(
                                static_cast<std::size_t>(std::max<SQLSMALLINT>(length, 0)) / sizeof(SQLWCHAR), 255));
}

SQLUINTEGER InfoMask(SQLHDBC dbc, SQLUSMALLINT info) {
    SQLUINTEGER value = 0;
    if (!Succeeded(Traced("SQLGetInfoW", SQLGetInfoW(dbc, info, &value, sizeof value, nullptr)))) return 0;
    return value;
}

// Result column whose base column is `name`, or -1.
long FindBase(const TableTarget& t, const std::wstring& name) {
    for (std::size_t i = 0; i < t.base.size(); ++i)
        if (t.base[i] == name) return static_cast<long>(i);
    for (std::size_t i = 0; i < t.base.size(); ++i)
        if (!t.base[i].empty() && EqualsNoCase(t.base[i], name)) return static_cast<long>(i);
    return -1;
}

// Key columns from a catalog result: `nameColumn` holds the column name; rows that `skip`
// rejects are left out. Empty when a key column is not in the result.
template <class Skip>
std::vector<std::size_t> KeyFrom(RowSet& rows, std::size_t nameColumn, const TableTarget& t, Skip skip) {
    std::vector<std::size_t> key;
    for (std::size_t r = 0; r < rows.RowCount(); ++r) {
        rows.Load(r);
        if (skip(rows)) continue;
        long index = FindBase(t, rows.Text(nameColumn));
        if (index < 0) return {};
        key.push_back(static_cast<std::size_t>(index));
    }
    return key;
}

// ---- parameters ----

struct Param {
    SQLSMALLINT cType = SQL_C_CHAR;
    SQLSMALLINT sqlType = SQL_VARCHAR;
    SQLULEN size = 0;
    SQLSMALLINT digits = 0;
    std::vector<unsigned char> data;
    SQLLEN ind = 0;
};

template <class T>
void Put(Param& p, const T& value) {
    p.data.resize(sizeof value);
    std::memcpy(p.data.data(), &value, sizeof value);
    p.ind = static_cast<SQLLEN>(sizeof value);
}

bool IsTextType(SQLSMALLINT t) {
    switch (t) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR:
    case SQL_GUID: return true;
    default: return false;
    }
}

// The parameter's value for each kind of column (`null`: the value is NULL, and only the types are set).
void PutWhole(Param& p, const ColumnInfo& c, const _variant_t& v, bool null) {
    if (!null && (v.vt() == VT_R8 || v.vt() == VT_R4)) {
        // A value of another type than the column's (SQLite's REAL in an integer column).
        p.cType = SQL_C_DOUBLE;
        p.sqlType = SQL_DOUBLE;
        Put(p, v.dblVal());
        return;
    }
    if (c.kind == ValueKind::UInt) {
        p.cType = SQL_C_UBIGINT;
        if (!null) Put(p, static_cast<std::uint64_t>(v.uintVal()));
        return;
    }
    p.cType = SQL_C_SBIGINT;
    if (!null) Put(p, static_cast<std::int64_t>(v.intVal()));
}

void PutDecimal(Param& p, const _variant_t& v, bool null) {
    p.cType = SQL_C_CHAR;
    if (null) return;
    std::wstring text = v.vt() == VT_DECIMAL ? DecimalToText(v.decVal()) : v.bstrVal();
    std::string ascii = WideToUtf8(text);
    p.data.assign(ascii.begin(), ascii.end());
    p.ind = static_cast<SQLLEN>(ascii.size());
    p.size = std::max<SQLULEN>(p.size, ascii.size());
}

void PutText(Param& p, const ColumnInfo& c, const _variant_t& v, bool null, bool wideText) {
    if (!IsTextType(p.sqlType)) p.sqlType = wideText ? SQL_WVARCHAR : SQL_VARCHAR;
    p.cType = wideText ? SQL_C_WCHAR : SQL_C_CHAR;
    if (null) return;
    std::wstring text = v.vt() == VT_BSTR ? v.bstrVal() : std::wstring();
    if (wideText) {
        SqlWString units = ToSqlW(text);
        p.data.resize(units.size() * sizeof(SQLWCHAR));
        if (!units.empty()) std::memcpy(p.data.data(), units.data(), p.data.size());
        p.size = std::max<SQLULEN>(units.size(), 1);
    } else {
        std::string bytes = WideToMultiByte(text, CP_ACP);
        p.data.assign(bytes.begin(), bytes.end());
        p.size = std::max<SQLULEN>(bytes.size(), 1);
    }
    p.ind = static_cast<SQLLEN>(p.data.size());
    if (p.sqlType == SQL_CHAR || p.sqlType == SQL_WCHAR) p.size = std::max<SQLULEN>(p.size, c.columnSize);
}

void PutBytes(Param& p, const _variant_t& v, bool null) {
    p.cType = SQL_C_BINARY;
    if (null) return;
    const SAFEARRAY* a = v.parray();
    if (a) p.data = a->bytes;
    p.ind = static_cast<SQLLEN>(p.data.size());
    p.size = std::max<SQLULEN>(p.data.size(), 1);
}

void PutTemporal(Param& p, const ColumnInfo& c, const _variant_t& v, bool null) {
    SYSTEMTIME st;
    if (!null) VariantToSystemTimeWithMilliseconds(v.dblVal(), st);
    if (c.kind == ValueKind::Date) {
        p.cType = SQL_C_TYPE_DATE;
        p.sqlType = SQL_TYPE_DATE;
        p.size = 10;
        p.digits = 0;
        if (!null) Put(p, SQL_DATE_STRUCT{static_cast<SQLSMALLINT>(st.wYear), st.wMonth, st.wDay});
        return;
    }
    if (c.kind == ValueKind::Time) {
        p.cType = SQL_C_TYPE_TIME;
        p.sqlType = SQL_TYPE_TIME;
        p.size = 8;
        p.digits = 0;
        if (!null) Put(p, SQL_TIME_STRUCT{st.wHour, st.wMinute, st.wSecond});
        return;
    }
    p.cType = SQL_C_TYPE_TIMESTAMP;
    p.sqlType = SQL_TYPE_TIMESTAMP;
    p.digits = static_cast<SQLSMALLINT>(std::clamp<int>(c.digits, 0, 9));
    p.size = p.digits > 0 ? 20u + static_cast<SQLULEN>(p.digits) : 19u;
    if (null) return;
    // Milliseconds, cut to the precision the column keeps.
    std::uint32_t fraction = static_cast<std::uint32_t>(st.wMilliseconds) * 1000000u;
    std::uint32_t unit = 1;
    for (int d = p.digits; d < 9; ++d) unit *= 10;
    fraction -= fraction % unit;
    Put(p, SQL_TIMESTAMP_STRUCT{static_cast<SQLSMALLINT>(st.wYear), st.wMonth, st.wDay, st.wHour, st.wMinute,
                                st.wSecond, fraction});
}

// A value of column `c` (in the form RowSet::Coerce gives) as a parameter.
Param MakeParam(const ColumnInfo& c, const _variant_t& v, bool wideText) {
    Param p;
    p.sqlType = c.sqlType;
    p.size = c.columnSize;
    p.digits = c.digits;
    const bool null = v.vt() == VT_EMPTY || v.vt() == VT_NULL;
    if (v.vt() == VT_BSTR && c.kind != ValueKind::Text && c.kind != ValueKind::Decimal) {
        // A value kept as its text (a whole stored time stamp, a value its column's type does not
        // hold): the text goes, for the database to read as the column's type.
        ColumnInfo text = c;
        text.kind = ValueKind::Text;
        text.sqlType = SQL_VARCHAR;
        p = MakeParam(text, v, wideText);
        p.sqlType = c.sqlType == SQL_UNKNOWN_TYPE ? p.sqlType : c.sqlType;
        return p;
    }
    switch (c.kind) {
    case ValueKind::Int:
    case ValueKind::UInt: PutWhole(p, c, v, null); break;
    case ValueKind::Float:
        p.cType = SQL_C_FLOAT;
        if (!null) Put(p, v.fltVal());
        break;
    case ValueKind::Double:
        p.cType = SQL_C_DOUBLE;
        if (!null) Put(p, v.dblVal());
        break;
    case ValueKind::Bool:
        p.cType = SQL_C_BIT;
        if (!null) Put(p, static_cast<unsigned char>(v.boolVal() ? 1 : 0));
        break;
    case ValueKind::Decimal: PutDecimal(p, v, null); break;
    case ValueKind::Text: PutText(p, c, v, null, wideText); break;
    case ValueKind::Bytes: PutBytes(p, v, null); break;
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::Timestamp: PutTemporal(p, c, v, null); break;
    }
    if (null) {
        p.ind = SQL_NULL_DATA;
        if (p.size == 0) p.size = 1;
    }
    if (p.sqlType == SQL_UNKNOWN_TYPE) p.sqlType = wideText ? SQL_WVARCHAR : SQL_VARCHAR;
    if (p.data.empty()) p.data.resize(2, 0);  // a valid address even for an empty value
    return p;
}

// How a column takes part in finding a row again.
enum class Compare {
    Exact,  // equal exactly when the stored value is the one read
    Loose,  // narrows the rows down, but unequal stored values may pass as equal
    None,   // left out: the value in memory is not the stored one
};

bool IsInteger(const ColumnInfo& c) { return c.kind == ValueKind::Int || c.kind == ValueKind::UInt; }
bool IsFloating(const ColumnInfo& c) { return c.kind == ValueKind::Float || c.kind == ValueKind::Double; }

bool IsTemporal(const ColumnInfo& c) {
    return c.kind == ValueKind::Date || c.kind == ValueKind::Time || c.kind == ValueKind::Timestamp;
}

// SQLite's driver reads a value its column's type can't take (a text in an integer or a date
// column) as NULL: the stored values that read so, besides NULL ("" for columns that read every
// value).
std::wstring SqliteNullTest(const ColumnInfo& c) {
    switch (c.kind) {
    case ValueKind::Int:
    case ValueKind::UInt:
    case ValueKind::Bool:
    case ValueKind::Float:
    case ValueKind::Double: return L"typeof(%s) IN ('text', 'blob')";
    case ValueKind::Date:
    case ValueKind::Time:
    case ValueKind::Timestamp: return L"julianday(%s) IS NULL";
    default: return std::wstring();
    }
}

// How column `c` holding `v` (as read) is compared on the target's DBMS. Times and timestamps
// finer than the milliseconds the variant keeps are exact only with the whole stored value (given
// as text); SQLite keeps dates as texts in whatever form they were written, and the comparison
// through strftime only narrows; a type the driver reports by its own code has no known equality.
Compare HowCompared(const ColumnInfo& c, const TableTarget& t, const _variant_t& v) {
    if (v.vt() == VT_EMPTY || v.vt() == VT_NULL)
        return SqliteNullTest(c).empty() || !t.dialect->valueTyped ? Compare::Exact : Compare::Loose;
    if (IsTemporal(c)) {
        if (v.vt() == VT_BSTR) return Compare::Exact;  // the stored text or the whole stored value
        if (t.dialect->valueTyped) return Compare::Loose;
        if (c.kind == ValueKind::Timestamp) return c.digits <= 3 ? Compare::Exact : Compare::None;
        if (c.kind == ValueKind::Time) return c.digits <= 0 ? Compare::Exact : Compare::None;
        return Compare::Exact;
    }
    if (c.kind == ValueKind::Text) return IsTextType(c.sqlType) ? Compare::Exact : Compare::None;
    // SQLite types values, not columns: a text or numeric column may hold a REAL value, which the
    // driver gives as its text to fifteen digits.
    if (t.dialect->valueTyped && (IsFloating(c) || c.kind == ValueKind::Decimal || c.kind == ValueKind::Text))
        return Compare::Loose;
    // Its integer columns may hold REAL values too, except the row id.
    if (t.dialect->valueTyped && IsInteger(c) && !c.autoIncrement) return Compare::Loose;
    return Compare::Exact;
}

struct Statement {
    std::wstring text;
    std::vector<Param> params;
};

bool Execute(ConnectionCore& connection, Statement& s, RowSet* rows, long* affected, const void* owner,
             OdbcError& error) {
    const bool wide = connection.caps().wideCalls;
    return connection.Run(
        [&](SQLHSTMT h) -> SQLRETURN {
            for (std::size_t i = 0; i < s.params.size(); ++i) {
                Param& p = s.params[i];
                SQLRETURN rc =
                    Traced("SQLBindParameter", SQLBindParameter(h, static_cast<SQLUSMALLINT>(i + 1), SQL_PARAM_INPUT,
                                                                p.cType, p.sqlType, p.size, p.digits, p.data.data(),
                                                                static_cast<SQLLEN>(p.data.size()), &p.ind));
                if (!Succeeded(rc)) return rc;
            }
            return ExecDirect(h, s.text, wide);
        },
        rows, affected, owner, error);
}

// The condition that finds column `i` holding `v`: "col IS NULL", "col = ?", and where `=`
// folds case or trailing blanks (MySQL's usual collations) or the stored form varies (SQLite's
// dates), a comparison that is exact, or as close as the DBMS allows.
// `folded`: `=` as the column's collation has it (MySQL), for values the database converted.
// A text parameter, compared as text.
Param TextParam(const std::wstring& text, bool wideText) {
    ColumnInfo shape;
    shape.kind = ValueKind::Text;
    shape.sqlType = SQL_VARCHAR;
    return MakeParam(shape, _variant_t::Bstr(text), wideText);
}

// SQLite: the form a date was written in is unknown: compare what it stands for, to the millisecond.
void AppendSqliteTimeCondition(const ColumnInfo& c, const TableTarget& t, const std::wstring& column,
                               const _variant_t& v, Statement& s) {
    SYSTEMTIME st{};
    VariantToSystemTimeWithMilliseconds(v.dblVal(), st);
    std::wstring text, format;
    if (c.kind == ValueKind::Date) {
        format = L"%Y-%m-%d";
        text = Format(L"%04d-%02d-%02d", st.wYear, st.wMonth, st.wDay);
    } else if (c.kind == ValueKind::Time) {
        format = L"%H:%M:%f";
        text = Format(L"%02d:%02d:%02d.%03d", st.wHour, st.wMinute, st.wSecond, st.wMilliseconds);
    } else {
        format = L"%Y-%m-%d %H:%M:%f";
        text = Format(L"%04d-%02d-%02d %02d:%02d:%02d.%03d", st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute,
                      st.wSecond, st.wMilliseconds);
    }
    s.text += L"strftime('" + format + L"', " + column + L") = ?";
    s.params.push_back(TextParam(text, t.wideText));
}

// SQLite: the driver hands REAL values over to fifteen digits: compare to fifteen digits.
void AppendSqliteRealCondition(const TableTarget& t, const std::wstring& column, const _variant_t& v, Statement& s) {
    const double d = v.dblVal();
    if (std::isinf(d)) {
        // Infinite, or the largest values read to fifteen digits, which overflow.
        s.text += column + (d > 0 ? L" >= 1.79769313486231e308" : L" <= -1.79769313486231e308");
        return;
    }
    char text[40];
    const auto end = std::to_chars(text, text + sizeof text, d, std::chars_format::general, 15).ptr;
    s.text += L"printf('%.15g', " + column + L") = ?";
    s.params.push_back(TextParam(Utf8ToWide(std::string_view(text, end - text)), t.wideText));
}

void AppendCondition(const ColumnInfo& c, const TableTarget& t, std::size_t i, const _variant_t& v, Statement& s,
                     bool folded = false) {
    const std::wstring column = t.Quote(t.base[i]);
    if (v.vt() == VT_EMPTY || v.vt() == VT_NULL) {
        const std::wstring other = t.dialect->valueTyped ? SqliteNullTest(c) : std::wstring();
        if (other.empty()) s.text += column + L" IS NULL";
        else s.text += L"(" + column + L" IS NULL OR " + Format(other, column) + L")";
        return;
    }
    if (t.dialect->valueTyped && IsTemporal(c) && v.vt() != VT_BSTR) {
        AppendSqliteTimeCondition(c, t, column, v, s);
        return;
    }
    if (t.dialect->valueTyped && IsFloating(c) && v.vt() != VT_BSTR) {
        AppendSqliteRealCondition(t, column, v, s);
        return;
    }
    if (t.dialect->valueTyped &&
        (c.kind == ValueKind::Decimal || c.kind == ValueKind::Text || (IsFloating(c) && v.vt() == VT_BSTR))) {
        // The value as the driver gave it: the stored text, the digits of an integer, a REAL
        // value to fifteen digits (also one beyond a double, which arrives as that text).
        // Compared as text, with no conversion by the column's type.
        std::wstring text;
        if (v.vt() == VT_DECIMAL) text = DecimalToText(v.decVal());
        else if (v.vt() == VT_BSTR) text = v.bstrVal();
        else VariantToText(v, text);
        s.text += L"CAST(" + column + L" AS TEXT) = ? COLLATE BINARY";
        s.params.push_back(TextParam(text, t.wideText));
        return;
    }
    if (t.dialect->valueTyped && IsInteger(c) && !c.autoIncrement && v.vt() != VT_R8 && v.vt() != VT_R4) {
        // A REAL value in an integer column reads as its whole part: compare that part.
        s.text += L"CAST(" + column + L" AS INTEGER) = ?";
        s.params.push_back(MakeParam(c, v, t.wideText));
        return;
    }
    s.text += column + L" = ?";
    s.params.push_back(MakeParam(c, v, t.wideText));
    if (c.kind != ValueKind::Text) return;
    if (t.dialect->type == kDbmsMySql && !folded) {
        // `=` above finds the row by the column's index; this makes the comparison exact.
        s.text +=
            L" AND CAST(CONVERT(" + column + L" USING utf8mb4) AS BINARY) = CAST(CONVERT(? USING utf8mb4) AS BINARY)";
        s.params.push_back(MakeParam(c, v, t.wideText));
    }
}

// What finds the row: the columns compared, and what the comparison guarantees.
struct Match {
    std::vector<std::size_t> columns;
    // The table's key, compared exactly: no other row can match.
    bool unique = false;
    // Without a key, every column of the table compared exactly: the rows that match are copies
    // of each other, and changing any one of them is changing the row asked for.
    bool copies = false;
    // The first column left out of the comparison or compared only loosely ("" none).
    std::wstring loose;
    // The first key column holding NULL ("" none): NULLs don't tell rows apart, even in a unique key.
    std::wstring nullKey;
    // Without a key, every column of the table compared, some loosely (SQLite's dates).
    bool sqliteCopies = false;
};

// The key and the changed columns, or, without a key that can be compared exactly, every column
// that can be compared.
Match MatchColumns(const std::vector<ColumnInfo>& columns, const TableTarget& t,
                   const std::vector<_variant_t>& original, const std::vector<bool>& changed, int criteria) {
    Match m;
    auto how = [&](std::size_t i) { return HowCompared(columns[i], t, original[i]); };
    auto note = [&](std::size_t i) {
        if (m.loose.empty()) m.loose = columns[i].name;
    };
    auto isNull = [&](std::size_t i) { return original[i].vt() == VT_EMPTY || original[i].vt() == VT_NULL; };
    for (std::size_t i : t.key)
        if (isNull(i) && m.nullKey.empty()) m.nullKey = columns[i].name;
    const bool keyExact =
        !t.key.empty() && m.nullKey.empty() &&
        std::all_of(t.key.begin(), t.key.end(), [&](std::size_t i) { return how(i) == Compare::Exact; });
    const bool keyUsable = !t.key.empty() && std::all_of(t.key.begin(), t.key.end(),
                                                         [&](std::size_t i) { return how(i) != Compare::None; });
    if (keyUsable && criteria != kCriteriaAllColumns) {
        // A key compared loosely still finds the row, but may find others: the count decides.
        m.columns = t.key;
        m.unique = keyExact;
        for (std::size_t i : t.key)
            if (how(i) != Compare::Exact && !isNull(i)) note(i);
        if (criteria == kCriteriaKey) return m;
        for (std::size_t i = 0; i < changed.size(); ++i)
            if (changed[i] && !t.base[i].empty() && how(i) != Compare::None &&
                std::find(m.columns.begin(), m.columns.end(), i) == m.columns.end())
                m.columns.push_back(i);
        return m;
    }
    for (std::size_t i = 0; i < columns.size(); ++i) {
        if (t.base[i].empty()) continue;
        const Compare c = how(i);
        if (c != Compare::Exact) note(i);
        if (c != Compare::None) m.columns.push_back(i);
    }
    if (keyExact) {
        m.unique = true;
    } else if (m.loose.empty() && t.allColumns) {
        m.copies = true;
    } else if (t.dialect->valueTyped && t.allColumns) {
        m.sqliteCopies =
            m.columns.size() == static_cast<std::size_t>(std::count_if(
                                    t.base.begin(), t.base.end(), [](const std::wstring& b) { return !b.empty(); }));
    }
    return m;
}

// Limits a statement that may reach several copies of one row to one of them where the DBMS
// allows it. False when it could not be limited.
bool LimitToOneRow(const TableTarget& t, Statement& s, std::size_t whereAt) {
    switch (t.dialect->oneRow) {
    case OneRowLimit::LimitClause: s.text += L" LIMIT 1"; return true;
    case OneRowLimit::RowIdSubquery: {
        if (!t.rowIdentifier) return false;
        const std::wstring id = t.dialect->rowId;
        std::wstring where = s.text.substr(whereAt);
        s.text.erase(whereAt);
        s.text += L" WHERE " + id + L" = (SELECT " + id + L" FROM " + t.name + where + L" LIMIT 1)";
        return true;
    }
    case OneRowLimit::None: break;
    }
    return false;
}

bool SetAutoCommit(ConnectionCore& connection, bool on, OdbcError& error) {
    SQLHDBC dbc = connection.dbc();
    return Check(
        Traced("SQLSetConnectAttrW",
               SQLSetConnectAttrW(dbc, SQL_ATTR_AUTOCOMMIT,
                                  reinterpret_cast<SQLPOINTER>(on ? SQL_AUTOCOMMIT_ON : SQL_AUTOCOMMIT_OFF), 0)),
        SQL_HANDLE_DBC, dbc, error);
}

// Makes one statement undoable: a transaction of its own, or, inside the caller's transaction,
// a savepoint, so that a statement that reached the wrong number of rows leaves nothing behind.
class RowGuard {
public:
    RowGuard(ConnectionCore& connection, const void* owner) : connection_(connection), owner_(owner) {}
    RowGuard(const RowGuard&) = delete;
    RowGuard& operator=(const RowGuard&) = delete;
    ~RowGuard() {
        OdbcError ignored;
        if (active_) End(false, ignored);
    }

    bool Begin(OdbcError& error) {
        if (connection_.inTransaction) {
            Statement save{L"SAVEPOINT orvanta_row", {}};
            if (!Execute(connection_, save, nullptr, nullptr, owner_, error)) {
                error.Set(Format(L"The change cannot be made undoable inside the transaction, so it was not made: %s",
                                 error.text),
                          ZE_FAIL);
                return false;
            }
            savepoint_ = true;
        } else {
            if (!SetAutoCommit(connection_, false, error)) return false;
            connection_.inTransaction = true;
        }
        active_ = true;
        return true;
    }

    bool End(bool commit, OdbcError& error) {
        active_ = false;
        if (savepoint_) {
            Statement end{commit ? L"RELEASE SAVEPOINT orvanta_row" : L"ROLLBACK TO SAVEPOINT orvanta_row", {}};
            bool ok = Execute(connection_, end, nullptr, nullptr, owner_, error);
            if (!commit && ok) {
                Statement release{L"RELEASE SAVEPOINT orvanta_row", {}};
                OdbcError ignored;
                Execute(connection_, release, nullptr, nullptr, owner_, ignored);
            }
            return ok;
        }
        SQLHDBC dbc = connection_.dbc();
        bool ok = Check(Traced("SQLEndTran", SQLEndTran(SQL_HANDLE_DBC, dbc, commit ? SQL_COMMIT : SQL_ROLLBACK)),
                        SQL_HANDLE_DBC, dbc, error);
        if (!ok && commit) Traced("SQLEndTran", SQLEndTran(SQL_HANDLE_DBC, dbc, SQL_ROLLBACK));
        OdbcError ignored;
        SetAutoCommit(connection_, true, ignored);
        connection_.inTransaction = false;
        return ok;
    }

private:
    ConnectionCore& connection_;
    const void* owner_;
    bool active_ = false;
    bool savepoint_ = false;
};

// The stored form of the values a database gave back for `columns` of the table.
void TakeBack(const std::vector<ColumnInfo>& columns, const std::vector<std::size_t>& which, RowSet& back,
              std::vector<_variant_t>& values) {
    if (back.RowCount() == 0 || back.columns.size() < which.size()) return;
    back.Load(0);
    for (std::size_t k = 0; k < which.size(); ++k) {
        _variant_t out;
        std::wstring ignored;
        RowSet shape;
        shape.columns.push_back(columns[which[k]]);
        if (shape.Coerce(0, back.Value(k), out, ignored)) values[which[k]] = out;
    }
}

}  // namespace

std::wstring TableTarget::Quote(const std::wstring& identifier) const {
    if (quote.empty()) return identifier;
    std::wstring text = identifier;
    ReplaceAll(text, quote, quote + quote);
    return quote + text + quote;
}

namespace {

struct Token {
    enum Kind { Word, Quoted, Text, Number, Symbol } kind;
    std::wstring text;  // a quoted identifier without its quotes
    int depth;          // parentheses around it
};

// Splits a statement into words, quoted identifiers, literals and symbols; comments go.
bool Tokenize(const std::wstring& sql, std::vector<Token>& tokens) {
    int depth = 0;
    for (std::size_t i = 0; i < sql.size();) {
        const wchar_t ch = sql[i];
        if (std::iswspace(ch)) {
            ++i;
        } else if (ch == L'-' && i + 1 < sql.size() && sql[i + 1] == L'-') {
            while (i < sql.size() && sql[i] != L'\n') ++i;
        } else if (ch == L'/' && i + 1 < sql.size() && sql[i + 1] == L'*') {
            std::size_t end = sql.find(L"*/", i + 2);
            if (end == std::wstring::npos) return false;
            i = end + 2;
        } else if (ch == L'"' || ch == L'`' || ch == L'[' || ch == L'\'') {
            const wchar_t close = ch == L'[' ? L']' : ch;
            std::wstring text;
            std::size_t j = i + 1;
            for (;; ++j) {
                if (j >= sql.size()) return false;
                if (sql[j] == close) {
                    if (close != L']' && j + 1 < sql.size() && sql[j + 1] == close) {
                        text += close;
                        ++j;
                        continue;
                    }
                    break;
                }
                text += sql[j];
            }
            tokens.push_back({ch == L'\'' ? Token::Text : Token::Quoted, text, depth});
            i = j + 1;
        } else if (std::iswalnum(ch) || ch == L'_' || ch == L'$' || ch > 0x7F) {
            std::size_t j = i;
            while (j < sql.size() && (std::iswalnum(sql[j]) || sql[j] == L'_' || sql[j] == L'$' || sql[j] > 0x7F)) ++j;
            const bool number = std::iswdigit(ch) != 0;
            tokens.push_back({number ? Token::Number : Token::Word, sql.substr(i, j - i), depth});
            i = j;
        } else {
            if (ch == L')') --depth;
            tokens.push_back({Token::Symbol, std::wstring(1, ch), depth});
            if (ch == L'(') ++depth;
            ++i;
        }
    }
    return depth == 0;
}

bool Is(const Token& t, const wchar_t* word) { return t.kind == Token::Word && EqualsNoCase(t.text, word); }
bool IsName(const Token& t) { return t.kind == Token::Word || t.kind == Token::Quoted; }

// Words after the table that end it (anything else at the top level means a plain select it is not).
bool EndsTable(const Token& t) {
    for (const wchar_t* w : {L"WHERE", L"ORDER", L"LIMIT", L"OFFSET", L"FETCH", L"FOR"})
        if (Is(t, w)) return true;
    return false;
}

// The aggregate functions of the DBMSs.
const wchar_t* const kAggregates[] = {L"COUNT",
                                      L"SUM",
                                      L"AVG",
                                      L"MIN",
                                      L"MAX",
                                      L"GROUP_CONCAT",
                                      L"STRING_AGG",
                                      L"ARRAY_AGG",
                                      L"JSON_AGG",
                                      L"JSONB_AGG",
                                      L"JSON_OBJECT_AGG",
                                      L"JSONB_OBJECT_AGG",
                                      L"XMLAGG",
                                      L"BOOL_AND",
                                      L"BOOL_OR",
                                      L"EVERY",
                                      L"BIT_AND",
                                      L"BIT_OR",
                                      L"BIT_XOR",
                                      L"STDDEV",
                                      L"STDDEV_POP",
                                      L"STDDEV_SAMP",
                                      L"VARIANCE",
                                      L"VAR_POP",
                                      L"VAR_SAMP",
                                      L"TOTAL",
                                      L"JSON_GROUP_ARRAY",
                                      L"JSON_GROUP_OBJECT",
                                      L"JSON_ARRAYAGG",
                                      L"JSON_OBJECTAGG",
                                      L"PERCENTILE_CONT",
                                      L"PERCENTILE_DISC",
                                      L"MODE",
                                      L"CORR",
                                      L"COVAR_POP",
                                      L"COVAR_SAMP",
                                      L"MEDIAN"};

// The word at `i` calls an aggregate function.
bool IsAggregateCall(const std::vector<Token>& tokens, std::size_t i) {
    const Token& t = tokens[i];
    if (i + 1 >= tokens.size() || tokens[i + 1].kind != Token::Symbol || tokens[i + 1].text != L"(") return false;
    for (const wchar_t* a : kAggregates) {
        if (!Is(t, a)) continue;
        // min(a, b) and max(a, b) of SQLite and MySQL's greatest/least kind are not aggregates.
        bool arguments = false;
        const int depth = tokens[i + 1].depth;
        for (std::size_t k = i + 2; k < tokens.size() && tokens[k].depth > depth; ++k)
            if (tokens[k].depth == depth + 1 && tokens[k].kind == Token::Symbol && tokens[k].text == L",")
                arguments = true;
        return !(arguments && (Is(t, L"MIN") || Is(t, L"MAX")));
    }
    return false;
}

}  // namespace

std::wstring NotOneRowEach(const std::wstring& sql, bool joinNamed) {
    std::vector<Token> tokens;
    if (!Tokenize(sql, tokens)) return std::wstring();
    enum class Clause { None, Select, From, Other };
    struct Frame {
        bool query;    // a parenthesised query (or the statement itself)
        bool defines;  // its rows are the result's rows
        Clause clause;
    };
    std::vector<Frame> stack{{true, true, Clause::None}};
    auto query = [&]() -> Frame& {
        for (auto it = stack.rbegin(); it != stack.rend(); ++it)
            if (it->query) return *it;
        return stack.front();
    };
    for (std::size_t i = 0; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        const bool next = i + 1 < tokens.size();
        if (t.kind == Token::Symbol && t.text == L"(") {
            const bool sub = next && (Is(tokens[i + 1], L"SELECT") || Is(tokens[i + 1], L"WITH"));
            const Frame& outer = query();
            // A query in FROM, in WITH or around the statement gives rows; one in a condition or
            // in the select list gives a value.
            const bool defines = sub && outer.defines && (outer.clause == Clause::From || outer.clause == Clause::None);
            stack.push_back({sub, defines, Clause::None});
            continue;
        }
        if (t.kind == Token::Symbol && t.text == L")") {
            if (stack.size() > 1) stack.pop_back();
            continue;
        }
        Frame& q = query();
        if (!q.defines) continue;
        const bool own = &q == &stack.back();  // not inside a function's parentheses
        if (t.kind == Token::Symbol) {
            if (t.text == L"," && own && q.clause == Clause::From && !joinNamed) return L"a join";
            continue;
        }
        if (t.kind != Token::Word) continue;
        if (Is(t, L"SELECT")) {
            q.clause = Clause::Select;
            if (next && (Is(tokens[i + 1], L"DISTINCT") || Is(tokens[i + 1], L"DISTINCTROW"))) return L"DISTINCT";
        } else if (Is(t, L"FROM") && own) {
            q.clause = Clause::From;
        } else if (own &&
                   (Is(t, L"WHERE") || Is(t, L"ORDER") || Is(t, L"LIMIT") || Is(t, L"OFFSET") || Is(t, L"FETCH"))) {
            q.clause = Clause::Other;
        } else if (Is(t, L"WITH") && own) {
            q.clause = Clause::None;  // the queries it names give rows
        } else if (Is(t, L"GROUP") && next && Is(tokens[i + 1], L"BY")) {
            return L"GROUP BY";
        } else if (Is(t, L"HAVING")) {
            return L"HAVING";
        } else if (Is(t, L"UNION") || Is(t, L"INTERSECT") || Is(t, L"EXCEPT") || Is(t, L"MINUS")) {
            return ToUpper(t.text);
        } else if (Is(t, L"OVER") || Is(t, L"WINDOW")) {
            return L"a window function";
        } else if (Is(t, L"JOIN") && own && !joinNamed) {
            return L"a join";
        } else if (IsAggregateCall(tokens, i)) {
            return L"the aggregate function " + ToUpper(t.text);
        }
    }
    return std::wstring();
}

bool ParsePlainSelect(const std::wstring& sql, PlainSelect& out) {
    out = PlainSelect();
    std::vector<Token> tokens;
    if (!Tokenize(sql, tokens)) return false;
    while (!tokens.empty() && tokens.back().kind == Token::Symbol && tokens.back().text == L";") tokens.pop_back();
    std::size_t i = 0;
    if (tokens.empty() || !Is(tokens[0], L"SELECT")) return false;
    ++i;
    if (i < tokens.size() && Is(tokens[i], L"ALL")) ++i;
    // The list, item by item, up to FROM.
    std::vector<std::vector<const Token*>> items(1);
    for (; i < tokens.size() && !(tokens[i].depth == 0 && Is(tokens[i], L"FROM")); ++i) {
        const Token& t = tokens[i];
        if (t.depth == 0 && (Is(t, L"DISTINCT") || Is(t, L"TOP") || Is(t, L"INTO"))) return false;
        if (t.depth == 0 && t.kind == Token::Symbol && t.text == L",") items.emplace_back();
        else items.back().push_back(&t);
    }
    if (i >= tokens.size()) return false;
    ++i;  // FROM
    for (const auto& item : items) {
        if (item.empty()) return false;
        if (item.size() == 1 && item[0]->kind == Token::Symbol && item[0]->text == L"*") {
            if (items.size() != 1) return false;
            out.star = true;
            break;
        }
        // name[.name...] [[AS] alias]
        std::size_t k = 0;
        std::wstring column;
        while (k < item.size() && IsName(*item[k])) {
            column = item[k]->text;
            ++k;
            if (k < item.size() && item[k]->kind == Token::Symbol && item[k]->text == L".") ++k;
            else break;
        }
        if (k < item.size() && Is(*item[k], L"AS")) ++k;
        if (k < item.size() && IsName(*item[k])) ++k;
        bool plain = k == item.size() && !column.empty();
        // Words that read like a column but are values.
        if (plain && item[0]->kind == Token::Word)
            for (const wchar_t* w : {L"NULL", L"TRUE", L"FALSE", L"CURRENT_DATE", L"CURRENT_TIME", L"CURRENT_TIMESTAMP",
                                     L"CURRENT_USER", L"SESSION_USER", L"USER", L"LOCALTIME", L"LOCALTIMESTAMP"})
                if (Is(*item[0], w)) plain = false;
        out.columns.push_back(plain ? column : std::wstring());
    }
    // The table: name[.name[.name]], an optional alias, then the end or a clause that ends it.
    while (i < tokens.size() && IsName(tokens[i]) && !EndsTable(tokens[i])) {
        out.table.push_back(tokens[i].text);
        ++i;
        if (i < tokens.size() && tokens[i].kind == Token::Symbol && tokens[i].text == L".") ++i;
        else break;
    }
    if (out.table.empty() || out.table.size() > 3) return false;
    if (i < tokens.size() && Is(tokens[i], L"AS")) ++i;
    if (i < tokens.size() && IsName(tokens[i]) && !EndsTable(tokens[i])) {
        for (const wchar_t* w : {L"JOIN", L"INNER", L"LEFT", L"RIGHT", L"FULL", L"CROSS", L"NATURAL", L"GROUP",
                                 L"HAVING", L"UNION", L"INTERSECT", L"EXCEPT", L"WINDOW"})
            if (Is(tokens[i], w)) return false;
        ++i;
    }
    if (i < tokens.size() && !EndsTable(tokens[i])) return false;
    for (; i < tokens.size(); ++i) {
        const Token& t = tokens[i];
        if (t.depth != 0) continue;
        if (t.kind == Token::Symbol && (t.text == L";" || t.text == L",")) return false;
        for (const wchar_t* w : {L"JOIN", L"GROUP", L"HAVING", L"UNION", L"INTERSECT", L"EXCEPT", L"WINDOW", L"INTO"})
            if (Is(t, w)) return false;
    }
    return true;
}

// Some drivers (SQLite's) give a column's label as its base column: `select a as b` would name b,
// and so would `select upper(a) as b`. Where the statement is a plain select, the column each item
// names is the base column, and an item that is an expression has none.
void BaseColumnsFromSelect(const std::wstring& source, std::size_t count, TableTarget& t) {
    PlainSelect plain;
    if (!ParsePlainSelect(source, plain) || plain.star || plain.columns.size() != count) return;
    for (std::size_t i = 0; i < count; ++i) {
        if (plain.columns[i].empty()) t.base[i].clear();
        else if (!t.base[i].empty()) t.base[i] = plain.columns[i];
    }
}

void DescribeTarget(const std::vector<ColumnInfo>& columns, const std::wstring& uniqueCatalog,
                    const std::wstring& uniqueSchema, const std::wstring& uniqueTable, const std::wstring& source,
                    TableTarget& t) {
    t = TableTarget();
    t.base.assign(columns.size(), std::wstring());
    const std::wstring what = NotOneRowEach(source, !Trim(uniqueTable).empty());
    if (!what.empty()) {
        t.refusal = Format(
            L"%s The rows of the result are not rows of one table each (%s): a change could reach other rows "
            L"than the one asked for.",
            std::wstring(kNoBaseTable), what);
        return;
    }
    if (!Trim(uniqueTable).empty()) {
        std::vector<std::wstring> parts = SplitQualified(uniqueTable);
        if (!Trim(uniqueSchema).empty()) {
            if (parts.size() < 2) parts.insert(parts.begin(), std::wstring());
            parts[parts.size() - 2] = Unquote(uniqueSchema);
        }
        if (!Trim(uniqueCatalog).empty()) {
            while (parts.size() < 3) parts.insert(parts.begin(), std::wstring());
            parts[0] = Unquote(uniqueCatalog);
        }
        t.table = parts.back();
        if (parts.size() >= 2) t.schema = parts[parts.size() - 2];
        if (parts.size() >= 3) t.catalog = parts[parts.size() - 3];
        bool any = false;
        for (std::size_t i = 0; i < columns.size(); ++i) {
            const ColumnInfo& c = columns[i];
            if (c.baseColumn.empty() || !EqualsNoCase(c.baseTable, t.table)) continue;
            if (parts.size() >= 2 && !c.baseSchema.empty() && !EqualsNoCase(c.baseSchema, t.schema)) continue;
            if (!any) {
                if (parts.size() < 2) t.schema = c.baseSchema;
                if (parts.size() < 3) t.catalog = c.baseCatalog;
                t.table = c.baseTable;
            }
            any = true;
            t.base[i] = c.baseColumn;
        }
        if (!any)
            t.refusal = Format(L"%s The table \"%s\" of the \"Unique Table\" property gives no column of the result.",
                               std::wstring(kNoBaseTable), uniqueTable);
        else BaseColumnsFromSelect(source, columns.size(), t);
        return;
    }
    std::vector<std::tuple<std::wstring, std::wstring, std::wstring>> tables;
    for (const ColumnInfo& c : columns) {
        if (c.baseTable.empty()) continue;
        auto key = std::make_tuple(c.baseCatalog, c.baseSchema, c.baseTable);
        if (std::find(tables.begin(), tables.end(), key) == tables.end()) tables.push_back(key);
    }
    if (tables.empty()) {
        // The driver tells nothing: a plain select of one table says it.
        PlainSelect plain;
        const bool described =
            std::any_of(columns.begin(), columns.end(), [](const ColumnInfo& c) { return !c.baseColumn.empty(); });
        if (!described && ParsePlainSelect(source, plain) && (plain.star || plain.columns.size() == columns.size())) {
            t.table = plain.table.back();
            if (plain.table.size() >= 2) t.schema = plain.table[plain.table.size() - 2];
            if (plain.table.size() >= 3) t.catalog = plain.table[0];
            for (std::size_t i = 0; i < columns.size(); ++i)
                t.base[i] = plain.star ? columns[i].name : plain.columns[i];
            return;
        }
        t.refusal = Format(L"%s The result has no column of a table.", std::wstring(kNoBaseTable));
        return;
    }
    if (tables.size() > 1) {
        t.refusal = Format(
            L"%s The rows come from more than one table (\"%s\", \"%s\"); the \"Unique Table\" property "
            L"can name the one to change.",
            std::wstring(kNoBaseTable), std::get<2>(tables[0]), std::get<2>(tables[1]));
        return;
    }
    std::tie(t.catalog, t.schema, t.table) = tables[0];
    for (std::size_t i = 0; i < columns.size(); ++i)
        if (!columns[i].baseTable.empty()) t.base[i] = columns[i].baseColumn;
    BaseColumnsFromSelect(source, columns.size(), t);
}

namespace {

// The current catalog of the connection ("" when the driver does not tell).
std::wstring CurrentCatalog(SQLHDBC dbc) {
    SQLWCHAR buffer[256] = {};
    SQLINTEGER length = 0;
    if (!Succeeded(Traced("SQLGetConnectAttrW",
                          SQLGetConnectAttrW(dbc, SQL_ATTR_CURRENT_CATALOG, buffer, sizeof buffer, &length))))
        return std::wstring();
    return FromSqlW(buffer, std::min<std::size_t>(
                                static_cast<std::size_t>(std::max<SQLINTEGER>(length, 0)) / sizeof(SQLWCHAR), 255));
}

// The name statements give the table: the catalog only when it is not the current one (some
// servers take no other), the schema where the driver takes one in a statement.
std::wstring QualifiedName(SQLHDBC dbc, const TableTarget& t) {
    const std::wstring current = CurrentCatalog(dbc);
    std::wstring name;
    if (!t.catalog.empty() && (InfoMask(dbc, SQL_CATALOG_USAGE) & SQL_CU_DML_STATEMENTS) && t.catalog != current) {
        std::wstring separator = InfoText(dbc, SQL_CATALOG_NAME_SEPARATOR);
        name = t.Quote(t.catalog) + (separator.empty() ? L"." : separator);
    }
    if (!t.schema.empty() && (InfoMask(dbc, SQL_SCHEMA_USAGE) & SQL_SU_DML_STATEMENTS))
        name += t.Quote(t.schema) + L".";
    return name + t.Quote(t.table);
}

// The table's name as the catalog functions take it.
struct CatalogName {
    CatalogName(const TableTarget& t, bool wideCalls)
        : wide(wideCalls),
          catalog(Optional(t.catalog), wideCalls),
          schema(Optional(t.schema), wideCalls),
          table(std::wstring_view(t.table), wideCalls) {}
    static std::optional<std::wstring> Optional(const std::wstring& s) {
        return s.empty() ? std::nullopt : std::optional<std::wstring>(s);
    }
    bool wide;
    DriverText catalog, schema, table;
};

// The primary key, when all its columns are in the result (in key order).
void FindPrimaryKey(ConnectionCore& connection, TableTarget& t, CatalogName& n, const void* owner) {
    RowSet keys;
    OdbcError ignored;
    if (!connection.Run(
            [&](SQLHSTMT h) {
                return n.wide ? Traced("SQLPrimaryKeysW",
                                       SQLPrimaryKeysW(h, n.catalog.W(), n.catalog.ShortLength(), n.schema.W(),
                                                       n.schema.ShortLength(), n.table.W(), n.table.ShortLength()))
                              : Traced("SQLPrimaryKeys",
                                       SQLPrimaryKeys(h, n.catalog.A(), n.catalog.ShortLength(), n.schema.A(),
                                                      n.schema.ShortLength(), n.table.A(), n.table.ShortLength()));
            },
            &keys, nullptr, owner, ignored) ||
        keys.columns.size() < 5)
        return;
    // In key order (KEY_SEQ).
    std::map<long, std::wstring> ordered;
    for (std::size_t r = 0; r < keys.RowCount(); ++r) {
        keys.Load(r);
        ordered[static_cast<long>(keys.Value(4).intVal())] = keys.Text(3);
    }
    for (const auto& [seq, column] : ordered) {
        long index = FindBase(t, column);
        if (index < 0) {
            t.key.clear();
            return;
        }
        t.key.push_back(static_cast<std::size_t>(index));
    }
}

// The best row identifier, when all its columns are in the result.
void FindBestRowIdentifier(ConnectionCore& connection, TableTarget& t, CatalogName& n, const void* owner) {
    RowSet special;
    OdbcError ignored;
    if (connection.Run(
            [&](SQLHSTMT h) {
                return n.wide ? Traced("SQLSpecialColumnsW",
                                       SQLSpecialColumnsW(h, SQL_BEST_ROWID, n.catalog.W(), n.catalog.ShortLength(),
                                                          n.schema.W(), n.schema.ShortLength(), n.table.W(),
                                                          n.table.ShortLength(), SQL_SCOPE_CURROW, SQL_NULLABLE))
                              : Traced("SQLSpecialColumns",
                                       SQLSpecialColumns(h, SQL_BEST_ROWID, n.catalog.A(), n.catalog.ShortLength(),
                                                         n.schema.A(), n.schema.ShortLength(), n.table.A(),
                                                         n.table.ShortLength(), SQL_SCOPE_CURROW, SQL_NULLABLE));
            },
            &special, nullptr, owner, ignored) &&
        special.columns.size() >= 8)
        t.key = KeyFrom(special, 1, t, [](RowSet& r) { return !r.IsNull(7) && r.Value(7).intVal() == SQL_PC_PSEUDO; });
}

// Whether the result holds every column of the table: only then are rows equal in the result
// copies of each other in the table.
bool HoldsAllColumns(ConnectionCore& connection, const TableTarget& t, CatalogName& n, const void* owner) {
    RowSet tableColumns;
    OdbcError ignored;
    if (!connection.Run(
            [&](SQLHSTMT h) {
                return n.wide ? Traced("SQLColumnsW", SQLColumnsW(h, n.catalog.W(), n.catalog.ShortLength(),
                                                                  n.schema.W(), n.schema.ShortLength(), n.table.W(),
                                                                  n.table.ShortLength(), nullptr, 0))
                              : Traced("SQLColumns", SQLColumns(h, n.catalog.A(), n.catalog.ShortLength(), n.schema.A(),
                                                                n.schema.ShortLength(), n.table.A(),
                                                                n.table.ShortLength(), nullptr, 0));
            },
            &tableColumns, nullptr, owner, ignored) ||
        tableColumns.columns.size() < 4 || tableColumns.RowCount() == 0)
        return false;
    // The name is a pattern: rows of other tables it matches are skipped.
    bool all = true;
    for (std::size_t r = 0; r < tableColumns.RowCount() && all; ++r) {
        tableColumns.Load(r);
        if (tableColumns.Text(2) == t.table) all = FindBase(t, tableColumns.Text(3)) >= 0;
    }
    return all;
}

// Without a key, PostgreSQL finds one row of equal ones by its ctid, which only plain tables
// have (a view has none, and in a partitioned table it is unique only per partition).
bool IsPlainPostgreSqlTable(ConnectionCore& connection, const TableTarget& t, const void* owner) {
    Statement kind{
        L"SELECT c.relkind FROM pg_catalog.pg_class c JOIN pg_catalog.pg_namespace n ON n.oid = "
        L"c.relnamespace WHERE c.relname = ? AND n.nspname = " +
            std::wstring(t.schema.empty() ? L"current_schema()" : L"?"),
        {}};
    ColumnInfo text;
    text.kind = ValueKind::Text;
    text.sqlType = SQL_VARCHAR;
    text.columnSize = 128;
    kind.params.push_back(MakeParam(text, _variant_t::Bstr(t.table), t.wideText));
    if (!t.schema.empty()) kind.params.push_back(MakeParam(text, _variant_t::Bstr(t.schema), t.wideText));
    RowSet found;
    OdbcError ignored;
    if (!Execute(connection, kind, &found, nullptr, owner, ignored) || found.RowCount() != 1) return false;
    found.Load(0);
    return found.Text(0) == L"r";
}

}  // namespace

bool ResolveTarget(ConnectionCore& connection, TableTarget& t, const void* owner, OdbcError& error) {
    if (!connection.IsOpen()) {
        error.Set(L"The connection is not open.", ZE_POINTER);
        return false;
    }
    SQLHDBC dbc = connection.dbc();
    std::wstring quote = InfoText(dbc, SQL_IDENTIFIER_QUOTE_CHAR);
    t.quote = quote == L" " ? std::wstring() : quote;
    t.dialect = connection.caps().dialect;
    t.wideText = connection.caps().wideText;
    t.name = QualifiedName(dbc, t);

    // The key: the primary key, else the best row identifier, when all its columns are in the result.
    CatalogName name(t, connection.caps().wideCalls);
    t.key.clear();
    FindPrimaryKey(connection, t, name, owner);
    if (t.key.empty()) FindBestRowIdentifier(connection, t, name, owner);
    t.allColumns = HoldsAllColumns(connection, t, name, owner);
    t.rowIdentifier =
        !t.key.empty() || t.dialect->type != kDbmsPostgreSql || IsPlainPostgreSqlTable(connection, t, owner);
    t.resolved = true;
    return true;
}

namespace {

// What one row's write works with.
struct RowJob {
    ConnectionCore& connection;
    const std::vector<ColumnInfo>& columns;
    const TableTarget& t;
    RowWrite kind;
    const std::vector<_variant_t>& original;
    std::vector<_variant_t>& values;
    const std::vector<bool>& write;
    int criteria;
    const void* owner;
};

// The table's columns as a list of quoted names (`which` gets their indexes).
std::wstring BaseColumnList(const RowJob& job, std::vector<std::size_t>& which) {
    std::wstring list;
    for (std::size_t i = 0; i < job.columns.size(); ++i) {
        if (job.t.base[i].empty()) continue;
        list += (list.empty() ? L"" : L", ") + job.t.Quote(job.t.base[i]);
        which.push_back(i);
    }
    return list;
}

// The INSERT of the written values; on PostgreSQL it returns every column (`returned`).
Statement InsertStatement(const RowJob& job, std::vector<std::size_t>& returned) {
    const TableTarget& t = job.t;
    Statement s;
    std::wstring names, marks;
    for (std::size_t i = 0; i < job.columns.size(); ++i) {
        if (!job.write[i] || t.base[i].empty()) continue;
        names += (names.empty() ? L"" : L", ") + t.Quote(t.base[i]);
        marks += marks.empty() ? L"?" : L", ?";
        s.params.push_back(MakeParam(job.columns[i], job.values[i], t.wideText));
    }
    if (names.empty())
        s.text = L"INSERT INTO " + t.name + (t.dialect->type == kDbmsMySql ? L" () VALUES ()" : L" DEFAULT VALUES");
    else s.text = L"INSERT INTO " + t.name + L" (" + names + L") VALUES (" + marks + L")";
    if (t.dialect->type == kDbmsPostgreSql) {
        const std::wstring list = BaseColumnList(job, returned);
        if (!list.empty()) s.text += L" RETURNING " + list;
    }
    return s;
}

// After an insert that returned nothing: the values the database generated, read back where the
// DBMS can tell them (failures leave the values as given).
void ReadGeneratedValues(const RowJob& job) {
    const TableTarget& t = job.t;
    if (t.dialect->valueTyped) {
        // The whole new row (rowid tables; a table without rowid keeps the values it was given).
        std::vector<std::size_t> all;
        const std::wstring list = BaseColumnList(job, all);
        Statement again{L"SELECT " + list + L" FROM " + t.name + L" WHERE rowid = last_insert_rowid()", {}};
        RowSet row;
        OdbcError ignored;
        if (!list.empty() && Execute(job.connection, again, &row, nullptr, job.owner, ignored))
            TakeBack(job.columns, all, row, job.values);
    } else if (t.dialect->type == kDbmsMySql) {
        for (std::size_t i = 0; i < job.columns.size(); ++i) {
            if (!job.columns[i].autoIncrement || t.base[i].empty()) continue;
            const _variant_t& given = job.values[i];
            if (job.write[i] && given.vt() != VT_NULL && given.vt() != VT_EMPTY && given.intVal() != 0) continue;
            Statement id{L"SELECT LAST_INSERT_ID()", {}};
            RowSet row;
            OdbcError ignored;
            if (Execute(job.connection, id, &row, nullptr, job.owner, ignored))
                TakeBack(job.columns, {i}, row, job.values);
            break;
        }
    }
}

// The insert, and the values the database generated.
bool InsertRow(const RowJob& job, OdbcError& error) {
    std::vector<std::size_t> returned;  // columns a PostgreSQL insert gives back
    Statement s = InsertStatement(job, returned);
    RowSet back;
    if (!Execute(job.connection, s, returned.empty() ? nullptr : &back, nullptr, job.owner, error)) return false;
    if (!returned.empty()) {
        TakeBack(job.columns, returned, back, job.values);
        return true;
    }
    ReadGeneratedValues(job);
    return true;
}

// The UPDATE ... SET or DELETE FROM before the WHERE; false when an update has nothing to change.
bool ChangeStatementHead(const RowJob& job, Statement& s) {
    const TableTarget& t = job.t;
    if (job.kind != RowWrite::Update) {
        s.text = L"DELETE FROM " + t.name;
        return true;
    }
    s.text = L"UPDATE " + t.name + L" SET ";
    bool first = true;
    for (std::size_t i = 0; i < job.columns.size(); ++i) {
        if (!job.write[i] || t.base[i].empty()) continue;
        s.text += (first ? L"" : L", ") + t.Quote(t.base[i]) + L" = ?";
        first = false;
        s.params.push_back(MakeParam(job.columns[i], job.values[i], t.wideText));
    }
    return !first;
}

// " WHERE a = ? AND ..." for the matched columns holding `row`'s values.
void AppendWhere(const RowJob& job, const Match& match, const std::vector<_variant_t>& row, Statement& s,
                 bool folded = false) {
    for (std::size_t k = 0; k < match.columns.size(); ++k) {
        s.text += k == 0 ? L" WHERE " : L" AND ";
        AppendCondition(job.columns[match.columns[k]], job.t, match.columns[k], row[match.columns[k]], s, folded);
    }
}

// SELECT COUNT(*) `extra` with the WHERE of `s` and its parameters.
Statement CountWhere(const RowJob& job, const Statement& s, std::size_t whereAt, std::size_t setParams,
                     const std::wstring& extra = std::wstring()) {
    return Statement{L"SELECT COUNT(*)" + extra + L" FROM " + job.t.name + s.text.substr(whereAt),
                     std::vector<Param>(s.params.begin() + static_cast<std::ptrdiff_t>(setParams), s.params.end())};
}

// SQLite: the rows that match are copies when each loosely compared column holds one stored value
// among them.
bool MatchesOnlyCopies(const RowJob& job, const Match& match, const Statement& s, std::size_t whereAt,
                       std::size_t setParams, bool& copies, OdbcError& error) {
    std::wstring distinct;
    for (std::size_t i : match.columns)
        if (HowCompared(job.columns[i], job.t, job.original[i]) != Compare::Exact)
            distinct += L", COUNT(DISTINCT quote(" + job.t.Quote(job.t.base[i]) + L"))";
    Statement count = CountWhere(job, s, whereAt, setParams, distinct);
    RowSet counts;
    if (!Execute(job.connection, count, &counts, nullptr, job.owner, error)) return false;
    copies = counts.RowCount() == 1;
    if (copies) {
        counts.Load(0);
        for (std::size_t k = 1; k < counts.columns.size(); ++k) copies = copies && counts.Value(k).intVal() <= 1;
    }
    return true;
}

// The refusal when `count` rows match the one row asked for.
std::wstring SeveralRowsText(const Match& match, long count) {
    std::wstring why = !match.nullKey.empty()
                           ? Format(L"the key column \"%s\" holds NULL, which does not tell rows apart", match.nullKey)
                       : match.loose.empty() ? std::wstring(L"the table has no key and the rows hold the same values")
                                             : Format(L"the column \"%s\" cannot be compared exactly", match.loose);
    return Format(L"%s %ld rows of the table match this row (%s); nothing was changed.", std::wstring(kTooManyRows),
                  count, why);
}

// MySQL: tables of engines without transactions can't be undone: count first, then write one row
// at most.
bool LimitMySqlToOneRow(const RowJob& job, const Match& match, Statement& s, std::size_t whereAt, std::size_t setParams,
                        OdbcError& error) {
    Statement check = CountWhere(job, s, whereAt, setParams);
    RowSet count;
    if (!Execute(job.connection, check, &count, nullptr, job.owner, error)) return false;
    count.Load(0);
    const long found = count.RowCount() ? static_cast<long>(count.Value(0).intVal()) : 0;
    if (found > 1) {
        error.Set(SeveralRowsText(match, found), ZE_FAIL);
        return false;
    }
    s.text += L" LIMIT 1";
    return true;
}

// MySQL counts changed rows, not found ones: a row that already holds the new values counts 0.
// Look for it with the new values in place of the old.
bool HoldsNewValues(const RowJob& job, const Match& match, bool& holds, OdbcError& error) {
    std::vector<_variant_t> now = job.original;
    for (std::size_t i = 0; i < job.columns.size(); ++i)
        if (job.write[i]) now[i] = job.values[i];
    Statement check{L"SELECT COUNT(*) FROM " + job.t.name, {}};
    // The column may have stored the new text otherwise (a CHAR column drops the trailing blanks):
    // the collation's equality says whether it holds it.
    AppendWhere(job, match, now, check, true);
    RowSet count;
    if (!Execute(job.connection, check, &count, nullptr, job.owner, error)) return false;
    holds = false;
    if (count.RowCount() > 0) {
        count.Load(0);
        holds = count.Value(0).intVal() > 0;
    }
    return true;
}

// An UPDATE or DELETE that must reach the one row `original` was read as.
bool ChangeRow(const RowJob& job, bool& conflict, OdbcError& error) {
    const TableTarget& t = job.t;
    Statement s;
    std::vector<bool> changed = job.kind == RowWrite::Update ? job.write : std::vector<bool>(job.columns.size(), false);
    if (!ChangeStatementHead(job, s)) return true;  // nothing to change
    const Match match = MatchColumns(job.columns, t, job.original, changed, job.criteria);
    if (match.columns.empty()) {
        error.Set(kTooManyRows, ZE_FAIL);
        return false;
    }
    const std::size_t whereAt = s.text.size(), setParams = s.params.size();
    AppendWhere(job, match, job.original, s);
    // How sure the statement is to reach one row: a key compared exactly, or copies of one row
    // of which the DBMS picks one. Otherwise it must be undoable, and is undone unless it reached
    // exactly one row.
    bool limited = match.unique || (match.copies && LimitToOneRow(t, s, whereAt));
    if (!limited && match.sqliteCopies && t.rowIdentifier) {
        bool copies = false;
        if (!MatchesOnlyCopies(job, match, s, whereAt, setParams, copies, error)) return false;
        limited = copies && LimitToOneRow(t, s, whereAt);
    }
    RowGuard guard(job.connection, job.owner);
    if (!limited) {
        if (!guard.Begin(error)) return false;
        if (t.dialect->type == kDbmsMySql && !LimitMySqlToOneRow(job, match, s, whereAt, setParams, error))
            return false;
    }
    long affected = -1;
    if (!Execute(job.connection, s, nullptr, &affected, job.owner, error)) return false;
    if (affected > 1) {
        OdbcError ignored;
        if (limited || !guard.End(false, ignored)) {
            // Nothing could undo it (a caller's transaction without savepoints).
            error.Set(Format(L"%s %ld rows were changed instead of one.", std::wstring(kTooManyRows), affected),
                      ZE_FAIL);
            return false;
        }
        error.Set(SeveralRowsText(match, affected), ZE_FAIL);
        return false;
    }
    if (!limited && !guard.End(true, error)) return false;
    if (affected == 0 && job.kind == RowWrite::Update && t.dialect->type == kDbmsMySql) {
        bool holds = false;
        if (!HoldsNewValues(job, match, holds, error)) return false;
        if (holds) affected = 1;
    }
    if (affected == 0) {
        conflict = true;
        error.Set(kRowNotFound, ZE_FAIL);
        return false;
    }
    return true;
}

}  // namespace

bool WriteRow(ConnectionCore& connection, const std::vector<ColumnInfo>& columns, const TableTarget& t, RowWrite kind,
              const std::vector<_variant_t>& original, std::vector<_variant_t>& values, const std::vector<bool>& write,
              int criteria, const void* owner, bool& conflict, OdbcError& error) {
    conflict = false;
    const RowJob job{connection, columns, t, kind, original, values, write, criteria, owner};
    return kind == RowWrite::Insert ? InsertRow(job, error) : ChangeRow(job, conflict, error);
}

bool RunStatement(ConnectionCore& connection, const std::wstring& text, const void* owner, OdbcError& error) {
    Statement s{text, {}};
    return Execute(connection, s, nullptr, nullptr, owner, error);
}

}  // namespace zentra
