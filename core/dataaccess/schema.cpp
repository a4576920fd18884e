#include "schema.h"

#include <algorithm>
#include <map>
#include <optional>
#include <set>

#include "zentra/dataaccess.h"
#include "zentra/text.h"

namespace zentra {

namespace {

using Row = std::vector<_variant_t>;
using OptText = std::optional<std::wstring>;

// ---- restrictions ----

struct Restrictions {
    std::vector<_variant_t> values;

    // A text restriction; absent, null, empty and empty-text elements mean none.
    OptText Text(std::size_t i) const {
        if (i >= values.size()) return std::nullopt;
        const _variant_t& v = values[i];
        if (v.vt() == VT_EMPTY || v.vt() == VT_NULL || v.vt() == VT_ERROR) return std::nullopt;
        std::wstring text;
        if (v.vt() == VT_BSTR) text = v.bstrVal();
        else if (!VariantToText(v, text)) return std::nullopt;
        if (text.empty()) return std::nullopt;
        return text;
    }
};

Restrictions ReadRestrictions(const _variant_t& value) {
    Restrictions r;
    if ((value.vt() & VT_ARRAY) && value.parray() && value.parray()->elementType == VT_VARIANT)
        r.values = value.parray()->variants;
    return r;
}

// ---- values ----

OptText VText(const _variant_t& v) {
    if (v.vt() == VT_EMPTY || v.vt() == VT_NULL) return std::nullopt;
    if (v.vt() == VT_BSTR) return v.bstrVal();
    std::wstring text;
    if (!VariantToText(v, text)) return std::nullopt;
    return text;
}

std::optional<std::int64_t> VInt(const _variant_t& v) {
    switch (v.vt()) {
    case VT_I1:
    case VT_I2:
    case VT_I4:
    case VT_I8:
    case VT_INT:
    case VT_UI1:
    case VT_UI2:
    case VT_UI4:
    case VT_UI8:
    case VT_UINT: return v.intVal();
    case VT_BOOL: return v.boolVal() ? 1 : 0;
    case VT_R4:
    case VT_R8: return static_cast<std::int64_t>(v.dblVal());
    case VT_DECIMAL: return static_cast<std::int64_t>(DecimalToDouble(v.decVal()));
    case VT_BSTR: try { return std::stoll(v.bstrVal());
        } catch (const std::exception&) {
            return std::nullopt;
        }
    default: return std::nullopt;
    }
}

_variant_t Txt(const OptText& t) { return t ? _variant_t::Bstr(*t) : _variant_t::Null(); }
_variant_t Num(std::optional<std::int64_t> n) { return n ? _variant_t::I8(*n) : _variant_t::Null(); }
_variant_t Flag(std::optional<bool> b) { return b ? _variant_t::Bool(*b) : _variant_t::Null(); }

// An argument of a catalog function: null pointer for "any".
// A catalog-function argument in the driver's form; a null pointer when absent.
struct Arg : DriverText {
    Arg(const OptText& t, bool wide) : DriverText(t, wide) {}
    SQLSMALLINT len() const { return ShortLength(); }
};

// Runs a catalog function and gives its rows as variants.
bool CatalogRows(ConnectionCore& core, const std::function<SQLRETURN(SQLHSTMT)>& call, std::vector<Row>& rows,
                 const void* owner, OdbcError& error) {
    RowSet raw;
    if (!core.Run(call, &raw, nullptr, owner, error)) return false;
    for (std::size_t r = 0; r < raw.RowCount(); ++r) {
        raw.Load(r);
        Row row(raw.columns.size());
        for (std::size_t c = 0; c < raw.columns.size(); ++c) row[c] = raw.Value(c);
        rows.push_back(std::move(row));
    }
    return true;
}

const _variant_t& At(const Row& row, std::size_t i) {
    static const _variant_t null = _variant_t::Null();
    return i < row.size() ? row[i] : null;
}

// The output of one schema rowset before it is stored.
struct Output {
    std::vector<ColumnInfo> columns;
    std::vector<Row> rows;

    void Add(const wchar_t* name, int adoType) { columns.push_back(SchemaColumn(name, adoType)); }
    std::size_t Index(const wchar_t* name) const {
        for (std::size_t i = 0; i < columns.size(); ++i)
            if (columns[i].name == name) return i;
        return columns.size();
    }
    // Keeps the rows whose column `name` equals the restriction (exactly, or ignoring case).
    void Filter(const OptText& restriction, const wchar_t* name, bool ignoreCase = false) {
        if (!restriction) return;
        std::size_t c = Index(name);
        std::erase_if(rows, [&](const Row& row) {
            OptText value = VText(At(row, c));
            if (!value) return true;
            return ignoreCase ? !EqualsNoCase(*value, *restriction) : *value != *restriction;
        });
    }
    void FilterNumber(const Restrictions& r, std::size_t i, const wchar_t* name) {
        if (i >= r.values.size()) return;
        const _variant_t& v = r.values[i];
        if (v.vt() == VT_EMPTY || v.vt() == VT_NULL || v.vt() == VT_ERROR) return;
        if (v.vt() == VT_BSTR && v.bstrVal().empty()) return;
        std::optional<std::int64_t> want = VInt(v);
        std::size_t c = Index(name);
        std::erase_if(rows, [&](const Row& row) { return !want || VInt(At(row, c)) != want; });
    }
    void Store(RowSet& out) const {
        out.columns = columns;
        for (const Row& row : rows) {
            for (std::size_t c = 0; c < columns.size(); ++c) out.AddVariant(At(row, c), columns[c].kind);
            out.EndRow();
        }
        out.Finish();
    }
};

// ---- the rowsets ----

bool Catalogs(ConnectionCore& core, const Restrictions& r, Output& out, const void* owner, OdbcError& error) {
    out.Add(L"CATALOG_NAME", adVarWChar);
    out.Add(L"DESCRIPTION", adVarWChar);
    std::vector<Row> raw;
    const bool wide = core.caps().wideCalls;
    Arg all(OptText(L"%"), wide), empty(OptText(L""), wide);
    if (!CatalogRows(
            core,
            [&](SQLHSTMT h) {
                return wide ? Traced("SQLTablesW",
                                     SQLTablesW(h, all.W(), all.len(), empty.W(), 0, empty.W(), 0, nullptr, 0))
                            : Traced("SQLTables",
                                     SQLTables(h, all.A(), all.len(), empty.A(), 0, empty.A(), 0, nullptr, 0));
            },
            raw, owner, error))
        return false;
    std::set<std::wstring> seen;
    for (const Row& row : raw) {
        OptText name = VText(At(row, 0));
        if (!name || name->empty() || !seen.insert(*name).second) continue;
        out.rows.push_back({Txt(name), Txt(VText(At(row, 4)))});
    }
    if (out.rows.empty()) {
        // A driver without catalog enumeration: the database of the connection is the one catalog.
        std::wstring database = InfoText(core.dbc(), SQL_DATABASE_NAME, wide);
        if (!database.empty()) out.rows.push_back({_variant_t::Bstr(database), _variant_t::Null()});
    }
    out.Filter(r.Text(0), L"CATALOG_NAME");
    return true;
}

bool Tables(ConnectionCore& core, const Restrictions& r, Output& out, const void* owner, OdbcError& error) {
    out.Add(L"TABLE_CATALOG", adVarWChar);
    out.Add(L"TABLE_SCHEMA", adVarWChar);
    out.Add(L"TABLE_NAME", adVarWChar);
    out.Add(L"TABLE_TYPE", adVarWChar);
    out.Add(L"DESCRIPTION", adVarWChar);
    const bool wide = core.caps().wideCalls;
    Arg cat(r.Text(0), wide), schema(r.Text(1), wide), name(r.Text(2), wide), type(r.Text(3), wide);
    std::vector<Row> raw;
    if (!CatalogRows(
            core,
            [&](SQLHSTMT h) {
                return wide ? Traced("SQLTablesW", SQLTablesW(h, cat.W(), cat.len(), schema.W(), schema.len(), name.W(),
                                                              name.len(), type.W(), type.len()))
                            : Traced("SQLTables", SQLTables(h, cat.A(), cat.len(), schema.A(), schema.len(), name.A(),
                                                            name.len(), type.A(), type.len()));
            },
            raw, owner, error))
        return false;
    for (const Row& row : raw)
        out.rows.push_back({Txt(VText(At(row, 0))), Txt(VText(At(row, 1))), Txt(VText(At(row, 2))),
                            Txt(VText(At(row, 3))), Txt(VText(At(row, 4)))});
    // Schema and table names are patterns to the driver; OLE DB restrictions are exact names.
    out.Filter(r.Text(0), L"TABLE_CATALOG");
    out.Filter(r.Text(1), L"TABLE_SCHEMA");
    out.Filter(r.Text(2), L"TABLE_NAME");
    out.Filter(r.Text(3), L"TABLE_TYPE", true);
    return true;
}

bool Columns(ConnectionCore& core, const Restrictions& r, Output& out, const void* owner, OdbcError& error) {
    out.Add(L"TABLE_CATALOG", adVarWChar);
    out.Add(L"TABLE_SCHEMA", adVarWChar);
    out.Add(L"TABLE_NAME", adVarWChar);
    out.Add(L"COLUMN_NAME", adVarWChar);
    out.Add(L"ORDINAL_POSITION", adUnsignedInt);
    out.Add(L"COLUMN_HASDEFAULT", adBoolean);
    out.Add(L"COLUMN_DEFAULT", adVarWChar);
    out.Add(L"IS_NULLABLE", adBoolean);
    out.Add(L"DATA_TYPE", adUnsignedSmallInt);
    out.Add(L"TYPE_NAME", adVarWChar);
    out.Add(L"CHARACTER_MAXIMUM_LENGTH", adUnsignedInt);
    out.Add(L"CHARACTER_OCTET_LENGTH", adUnsignedInt);
    out.Add(L"NUMERIC_PRECISION", adUnsignedSmallInt);
    out.Add(L"NUMERIC_SCALE", adSmallInt);
    out.Add(L"DATETIME_PRECISION", adUnsignedInt);
    out.Add(L"DESCRIPTION", adVarWChar);
    const bool wide = core.caps().wideCalls;
    Arg cat(r.Text(0), wide), schema(r.Text(1), wide), table(r.Text(2), wide), column(r.Text(3), wide);
    std::vector<Row> raw;
    if (!CatalogRows(
            core,
            [&](SQLHSTMT h) {
                return wide ? Traced("SQLColumnsW", SQLColumnsW(h, cat.W(), cat.len(), schema.W(), schema.len(),
                                                                table.W(), table.len(), column.W(), column.len()))
                            : Traced("SQLColumns", SQLColumns(h, cat.A(), cat.len(), schema.A(), schema.len(),
                                                              table.A(), table.len(), column.A(), column.len()));
            },
            raw, owner, error))
        return false;
    for (const Row& row : raw) {
        ColumnInfo c;
        c.sqlType = static_cast<SQLSMALLINT>(VInt(At(row, 4)).value_or(SQL_UNKNOWN_TYPE));
        std::optional<std::int64_t> size = VInt(At(row, 6)), digits = VInt(At(row, 8));
        c.columnSize = static_cast<SQLULEN>(std::max<std::int64_t>(size.value_or(0), 0));
        c.digits = static_cast<SQLSMALLINT>(digits.value_or(0));
        OptText typeName = VText(At(row, 5));
        c.isUnsigned = typeName && FindNoCase(*typeName, L"unsigned") != std::wstring::npos;
        DeriveColumn(c);
        const bool character = (c.kind == ValueKind::Text || c.kind == ValueKind::Bytes) && c.adoType != adGUID;
        const bool numeric = c.kind == ValueKind::Int || c.kind == ValueKind::UInt || c.kind == ValueKind::Float ||
                             c.kind == ValueKind::Double || c.kind == ValueKind::Decimal;
        const bool datetime = c.kind == ValueKind::Timestamp || c.kind == ValueKind::Time;
        OptText def = VText(At(row, 12));
        std::optional<std::int64_t> nullable = VInt(At(row, 10));
        out.rows.push_back({
            Txt(VText(At(row, 0))),
            Txt(VText(At(row, 1))),
            Txt(VText(At(row, 2))),
            Txt(VText(At(row, 3))),
            Num(VInt(At(row, 16))),
            Flag(def.has_value()),
            Txt(def),
            Flag(nullable.value_or(SQL_NULLABLE_UNKNOWN) != SQL_NO_NULLS),
            _variant_t::I8(c.adoType),
            Txt(typeName),
            character ? Num(size) : _variant_t::Null(),
            character ? Num(VInt(At(row, 15)).has_value() ? VInt(At(row, 15)) : size) : _variant_t::Null(),
            numeric ? Num(size) : _variant_t::Null(),
            c.kind == ValueKind::Decimal ? Num(digits) : _variant_t::Null(),
            datetime ? Num(digits) : _variant_t::Null(),
            Txt(VText(At(row, 11))),
        });
    }
    out.Filter(r.Text(0), L"TABLE_CATALOG");
    out.Filter(r.Text(1), L"TABLE_SCHEMA");
    out.Filter(r.Text(2), L"TABLE_NAME");
    out.Filter(r.Text(3), L"COLUMN_NAME");
    return true;
}

bool Procedures(ConnectionCore& core, const Restrictions& r, Output& out, const void* owner, OdbcError& error) {
    out.Add(L"PROCEDURE_CATALOG", adVarWChar);
    out.Add(L"PROCEDURE_SCHEMA", adVarWChar);
    out.Add(L"PROCEDURE_NAME", adVarWChar);
    out.Add(L"PROCEDURE_TYPE", adSmallInt);
    out.Add(L"PROCEDURE_DEFINITION", adVarWChar);
    out.Add(L"DESCRIPTION", adVarWChar);
    const bool wide = core.caps().wideCalls;
    Arg cat(r.Text(0), wide), schema(r.Text(1), wide), name(r.Text(2), wide);
    std::vector<Row> raw;
    if (!CatalogRows(
            core,
            [&](SQLHSTMT h) {
                return wide ? Traced("SQLProceduresW", SQLProceduresW(h, cat.W(), cat.len(), schema.W(), schema.len(),
                                                                      name.W(), name.len()))
                            : Traced("SQLProcedures", SQLProcedures(h, cat.A(), cat.len(), schema.A(), schema.len(),
                                                                    name.A(), name.len()));
            },
            raw, owner, error))
        return false;
    for (const Row& row : raw) {
        // ODBC's SQL_PT_UNKNOWN/PROCEDURE/FUNCTION (0, 1, 2) are OLE DB's DB_PT_* (1, 2, 3).
        std::optional<std::int64_t> type = VInt(At(row, 7));
        out.rows.push_back({Txt(VText(At(row, 0))), Txt(VText(At(row, 1))), Txt(VText(At(row, 2))),
                            _variant_t::I8(type.value_or(SQL_PT_UNKNOWN) + 1), _variant_t::Null(),
                            Txt(VText(At(row, 6)))});
    }
    out.Filter(r.Text(0), L"PROCEDURE_CATALOG");
    out.Filter(r.Text(1), L"PROCEDURE_SCHEMA");
    out.Filter(r.Text(2), L"PROCEDURE_NAME");
    out.FilterNumber(r, 3, L"PROCEDURE_TYPE");
    return true;
}

struct TableRef {
    OptText catalog, schema;
    std::wstring name;
};

void AddIndexColumns(Output& out) {
    const wchar_t* names[] = {L"TABLE_CATALOG", L"TABLE_SCHEMA", L"TABLE_NAME",
                              L"INDEX_CATALOG", L"INDEX_SCHEMA", L"INDEX_NAME"};
    for (const wchar_t* n : names) out.Add(n, adVarWChar);
    out.Add(L"PRIMARY_KEY", adBoolean);
    out.Add(L"UNIQUE", adBoolean);
    out.Add(L"CLUSTERED", adBoolean);
    out.Add(L"TYPE", adUnsignedSmallInt);
    out.Add(L"FILL_FACTOR", adInteger);
    out.Add(L"INITIAL_SIZE", adInteger);
    out.Add(L"NULLS", adInteger);
    out.Add(L"SORT_BOOKMARKS", adBoolean);
    out.Add(L"AUTO_UPDATE", adBoolean);
    out.Add(L"NULL_COLLATION", adInteger);
    out.Add(L"ORDINAL_POSITION", adUnsignedInt);
    out.Add(L"COLUMN_NAME", adVarWChar);
    out.Add(L"COLLATION", adSmallInt);
    out.Add(L"CARDINALITY", adUnsignedBigInt);
    out.Add(L"PAGES", adInteger);
    out.Add(L"FILTER_CONDITION", adVarWChar);
    out.Add(L"INTEGRATED", adBoolean);
}

// The tables whose indexes are described: the restricted one, or every table.
bool IndexedTables(ConnectionCore& core, const Restrictions& r, std::vector<TableRef>& tables, const void* owner,
                   OdbcError& error) {
    if (OptText table = r.Text(4)) {
        tables.push_back({r.Text(0), r.Text(1), *table});
        return true;
    }
    Output list;
    if (!Tables(core,
                Restrictions{{r.Text(0) ? _variant_t::Bstr(*r.Text(0)) : _variant_t(),
                              r.Text(1) ? _variant_t::Bstr(*r.Text(1)) : _variant_t(), _variant_t(),
                              _variant_t::Bstr(L"TABLE")}},
                list, owner, error))
        return false;
    for (const Row& row : list.rows)
        if (OptText name = VText(At(row, 2))) tables.push_back({VText(At(row, 0)), VText(At(row, 1)), *name});
    return true;
}

// What decides PRIMARY_KEY: the primary key's columns and name, and each index's columns.
struct KeyFacts {
    std::set<std::wstring> keyColumns;
    OptText keyName;
    std::map<std::wstring, std::set<std::wstring>> indexColumns;
};

KeyFacts KeyFactsOf(const std::vector<Row>& keys, const std::vector<Row>& stats) {
    KeyFacts facts;
    for (const Row& k : keys) {
        if (OptText c = VText(At(k, 3))) facts.keyColumns.insert(*c);
        if (!facts.keyName) facts.keyName = VText(At(k, 5));
    }
    for (const Row& s : stats) {
        OptText index = VText(At(s, 5)), column = VText(At(s, 8));
        if (index && column && VInt(At(s, 6)).value_or(0) != SQL_TABLE_STAT) facts.indexColumns[*index].insert(*column);
    }
    return facts;
}

// The index columns of an SQLStatistics row (not the table statistics row) into `row`.
void FillIndexRow(Output& out, const Row& s, KeyFacts& facts, Row& row) {
    const std::int64_t type = VInt(At(s, 6)).value_or(SQL_INDEX_OTHER);
    OptText index = VText(At(s, 5));
    const bool unique = VInt(At(s, 3)).value_or(1) == 0;
    bool primary = false;
    if (index) {
        if (facts.keyName && !facts.keyName->empty()) primary = *index == *facts.keyName;
        else primary = unique && !facts.keyColumns.empty() && facts.indexColumns[*index] == facts.keyColumns;
    }
    row[3] = Txt(VText(At(s, 4)));
    row[5] = Txt(index);
    row[out.Index(L"PRIMARY_KEY")] = _variant_t::Bool(primary);
    row[out.Index(L"UNIQUE")] = _variant_t::Bool(unique);
    row[out.Index(L"CLUSTERED")] = _variant_t::Bool(type == SQL_INDEX_CLUSTERED);
    // OLE DB index types: 1 B-tree, 2 hash, 4 other.
    row[out.Index(L"TYPE")] = _variant_t::I8(type == SQL_INDEX_HASHED ? 2 : type == SQL_INDEX_CLUSTERED ? 1 : 4);
    row[out.Index(L"ORDINAL_POSITION")] = Num(VInt(At(s, 7)));
    row[out.Index(L"COLUMN_NAME")] = Txt(VText(At(s, 8)));
    OptText order = VText(At(s, 9));
    row[out.Index(L"COLLATION")] = order ? _variant_t::I8(*order == L"D" ? 2 : 1) : _variant_t::Null();
    row[out.Index(L"FILTER_CONDITION")] = Txt(VText(At(s, 12)));
}

// The rows of one table: its statistics row first (INDEX_NAME and TYPE null; one is made when the
// driver gives none, so every table's rows start with it), then its index columns.
bool AddTableIndexes(ConnectionCore& core, const TableRef& t, Output& out, const void* owner, OdbcError& error) {
    const bool wide = core.caps().wideCalls;
    Arg cat(t.catalog, wide), schema(t.schema, wide), name(OptText(t.name), wide);
    std::vector<Row> stats, keys;
    if (!CatalogRows(
            core,
            [&](SQLHSTMT h) {
                return wide ? Traced("SQLStatisticsW", SQLStatisticsW(h, cat.W(), cat.len(), schema.W(), schema.len(),
                                                                      name.W(), name.len(), SQL_INDEX_ALL, SQL_QUICK))
                            : Traced("SQLStatistics", SQLStatistics(h, cat.A(), cat.len(), schema.A(), schema.len(),
                                                                    name.A(), name.len(), SQL_INDEX_ALL, SQL_QUICK));
            },
            stats, owner, error))
        return false;
    // Primary-key columns decide PRIMARY_KEY; a driver that can't list them leaves it false.
    OdbcError ignored;
    CatalogRows(
        core,
        [&](SQLHSTMT h) {
            return wide ? Traced("SQLPrimaryKeysW",
                                 SQLPrimaryKeysW(h, cat.W(), cat.len(), schema.W(), schema.len(), name.W(), name.len()))
                        : Traced("SQLPrimaryKeys",
                                 SQLPrimaryKeys(h, cat.A(), cat.len(), schema.A(), schema.len(), name.A(), name.len()));
        },
        keys, owner, ignored);
    KeyFacts facts = KeyFactsOf(keys, stats);
    std::vector<Row> statRows, indexRows;
    for (const Row& s : stats) {
        Row row(out.columns.size(), _variant_t::Null());
        row[0] = Txt(VText(At(s, 0)) ? VText(At(s, 0)) : t.catalog);
        row[1] = Txt(VText(At(s, 1)) ? VText(At(s, 1)) : t.schema);
        row[2] = Txt(VText(At(s, 2)).value_or(t.name));
        row[out.Index(L"CARDINALITY")] = Num(VInt(At(s, 10)));
        row[out.Index(L"PAGES")] = Num(VInt(At(s, 11)));
        if (VInt(At(s, 6)).value_or(SQL_INDEX_OTHER) == SQL_TABLE_STAT) {
            statRows.push_back(std::move(row));
            continue;
        }
        FillIndexRow(out, s, facts, row);
        indexRows.push_back(std::move(row));
    }
    if (statRows.empty()) {
        Row row(out.columns.size(), _variant_t::Null());
        row[0] = Txt(t.catalog);
        row[1] = Txt(t.schema);
        row[2] = _variant_t::Bstr(t.name);
        statRows.push_back(std::move(row));
    }
    for (auto& row : statRows) out.rows.push_back(std::move(row));
    for (auto& row : indexRows) out.rows.push_back(std::move(row));
    return true;
}

bool Indexes(ConnectionCore& core, const Restrictions& r, Output& out, const void* owner, OdbcError& error) {
    AddIndexColumns(out);
    std::vector<TableRef> tables;
    if (!IndexedTables(core, r, tables, owner, error)) return false;
    for (const TableRef& t : tables)
        if (!AddTableIndexes(core, t, out, owner, error)) return false;
    out.Filter(r.Text(2), L"INDEX_NAME");
    out.FilterNumber(r, 3, L"TYPE");
    return true;
}

}  // namespace

bool BuildSchemaRowset(ConnectionCore& core, int schema, const _variant_t& restrictions, RowSet& rows,
                       const void* owner, OdbcError& error) {
    Restrictions r = ReadRestrictions(restrictions);
    Output out;
    bool ok = false;
    switch (schema) {
    case adSchemaCatalogs: ok = Catalogs(core, r, out, owner, error); break;
    case adSchemaTables: ok = Tables(core, r, out, owner, error); break;
    case adSchemaColumns: ok = Columns(core, r, out, owner, error); break;
    case adSchemaProcedures: ok = Procedures(core, r, out, owner, error); break;
    case adSchemaIndexes: ok = Indexes(core, r, out, owner, error); break;
    default: error.Set(L"The schema rowset is not supported.", ZE_INVALIDARG); return false;
    }
    if (!ok) return false;
    out.Store(rows);
    return true;
}

}  // namespace zentra
