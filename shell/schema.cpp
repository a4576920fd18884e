#include "schema.h"

#include <cstdint>
#include <initializer_list>

#include "commands.h"
#include "printer.h"
#include "reader.h"
#include "resources.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/values.h"
#include "zentra/words.h"

namespace orva {

namespace {

using zentra::CADORecordSet;
using zentra::CSafeArray;
using zentra::EqualsNoCase;

// String-table text 32.
constexpr wchar_t kIds32ObjectNotSpecified[] = L"Object no specified.";

// Delimiters of a SHOW command line.
constexpr const wchar_t* kShowDelimiters = L", \t\r\n;";

// The index type of the table-statistics row as SQLStatistics gives it (SQL_TABLE_STAT); the
// index rowset leaves the type of that row null.
constexpr std::int64_t kTableStatType = 0;

void AddDefault(FieldMapArray& fieldMap, std::initializer_list<FIELD_MAP> entries) {
    if (!fieldMap.empty()) return;
    fieldMap.assign(entries);
}

int Execute(CADORecordSet& recordset, const CString& sql) { return recordset.Execute(sql.c_str(), nullptr); }

int OpenSchema(CADORecordSet& recordset, zentra::SchemaEnum schema, const CSafeArray& restrictions) {
    return recordset.OpenSchema(schema, restrictions.GetArray());
}

// The index of the column `name` (without regard to case), or -1. Looks the columns up one by
// one so that a missing column leaves no error behind in the recordset.
long FindColumn(CADORecordSet& recordset, const wchar_t* name) {
    const long count = recordset.GetFieldCount();
    for (long i = 0; i < count; ++i) {
        zentra::CADOFieldInfo info;
        if (recordset.GetFieldInfo(i, &info) && EqualsNoCase(info.m_strName, name)) return i;
    }
    return -1;
}

bool IsIntegerType(zentra::VARTYPE vt) {
    switch (vt) {
    case zentra::VT_I1:
    case zentra::VT_UI1:
    case zentra::VT_I2:
    case zentra::VT_UI2:
    case zentra::VT_I4:
    case zentra::VT_UI4:
    case zentra::VT_I8:
    case zentra::VT_UI8:
    case zentra::VT_INT:
    case zentra::VT_UINT: return true;
    default: return false;
    }
}

}  // namespace

CSchemaShow::CSchemaShow(zentra::COutput* out, zentra::DbmsType type)
    : output(out), dialect(zentra::DialectOfType(type)) {}

CSchemaShow::~CSchemaShow() = default;

CString CSchemaShow::StripQuotes(const CString& text) {
    if (text.size() < 2) return text;
    const wchar_t first = text.front();
    const wchar_t last = text.back();
    if ((first == L'[' && last == L']') || (first == last && (first == L'"' || first == L'`')))
        return text.substr(1, text.size() - 2);
    return text;
}

CString CSchemaShow::EscapeLiteral(const CString& text) {
    CString result = text;
    zentra::ReplaceAll(result, L"'", L"''");
    return result;
}

CString CSchemaShow::EscapePgLiteral(const CString& text) {
    // With standard_conforming_strings off a backslash escapes the next character, with it on it
    // is an ordinary character; spliced in as chr(92) it is the same character either way.
    CString result = EscapeLiteral(text);
    zentra::ReplaceAll(result, L"\\", L"' || chr(92) || '");
    return result;
}

CString CSchemaShow::EscapeBackquoted(const CString& text) {
    CString result = text;
    zentra::ReplaceAll(result, L"`", L"``");
    return result;
}

int CSchemaShow::HasSchemas() const { return dialect.hasSchemas ? 1 : 0; }

// The condition that picks the table `name` for the PostgreSQL catalogue queries (on the table's
// pg_class "t"): one table, never several. "schema.table" names both; a table name alone means the
// table that the search path finds or, when the path finds none, the only table of that name.
// Names match with ASCII letters folded; among tables whose names differ in case only ("MixedCase"
// and mixedcase), the name as typed wins, then the name PostgreSQL folds an unquoted one to. The
// catalogue's names are of collation "C", so the typed text must be too, or lower() folds only one
// side.
static CString PgTableCondition(const CString& name) {
    const size_t dot = name.find(L'.');
    const CString table = CSchemaShow::EscapePgLiteral(dot == CString::npos ? name : name.substr(dot + 1));
    auto named = [&](const wchar_t* a) {
        return zentra::Format(L"lower(%s.relname)=lower('%s' collate \"C\") and %s.relkind in ('r','v','m','p','f')", a,
                              table, a);
    };
    const CString byCase =
        zentra::Format(L"(c.relname='%s') desc, (c.relname=lower('%s' collate \"C\")) desc", table, table);
    if (dot != CString::npos) {
        const CString schema = CSchemaShow::EscapePgLiteral(name.substr(0, dot));
        return zentra::Format(
            L"t.oid=(select c.oid from pg_class c join pg_namespace n on n.oid=c.relnamespace where %s and "
            L"lower(n.nspname)=lower('%s' collate \"C\") order by (n.nspname='%s') desc, "
            L"(n.nspname=lower('%s' collate \"C\")) desc, %s limit 1)",
            named(L"c"), schema, schema, schema, byCase);
    }
    return zentra::Format(
        L"t.oid=(select c.oid from pg_class c where %s and (pg_catalog.pg_table_is_visible(c.oid) or "
        L"(select count(*) from pg_class d where %s)=1) order by %s, pg_catalog.pg_table_is_visible(c.oid) "
        L"desc limit 1)",
        named(L"c"), named(L"d"), byCase);
}

CString CSchemaShow::NativeQuery(const wchar_t* query, const CString& table) const {
    switch (dialect.tableName) {
    case zentra::TableNameForm::Literal: return zentra::Format(query, EscapeLiteral(table));
    case zentra::TableNameForm::Backquoted: return zentra::Format(query, EscapeBackquoted(table));
    case zentra::TableNameForm::PgCondition: return zentra::Format(query, PgTableCondition(table));
    }
    return CString();
}

int CSchemaShow::Show(const CString& text, CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database,
                      const CString& schema) {
    skippedRows = 0;
    zentra::CWordPaster words(text.c_str(), kShowDelimiters);
    const int count = words.GetWordCount();
    if (count < 2) {
        if (output) output->PrintMessage(kIds32ObjectNotSpecified);
        return 2;
    }

    enum class Object { Databases, Tables, Views, Procedures, Functions, Columns, Indexes };
    const CString word = words.GetWord(1);
    auto is = [&word](const wchar_t* full, const wchar_t* shortForm) {
        return EqualsNoCase(word, full) || EqualsNoCase(word, shortForm);
    };
    Object object;
    if (is(L"databases", L"dat")) object = Object::Databases;
    else if (is(L"tables", L"tab")) object = Object::Tables;
    else if (is(L"views", L"vie")) object = Object::Views;
    else if (is(L"procedures", L"proc")) object = Object::Procedures;
    else if (is(L"functions", L"func")) object = Object::Functions;
    else if (is(L"columns", L"col")) object = Object::Columns;
    else if (is(L"index", L"ind")) object = Object::Indexes;
    else return 2;

    CString table;
    if (object == Object::Columns || object == Object::Indexes) {
        if (count < 4 || !EqualsNoCase(words.GetWord(2), L"from")) return 2;
        table = words.GetWord(3);
        for (int i = 4; i < count; ++i) table += L" " + words.GetWord(i);
    } else {
        for (int i = 2; i < count; ++i) fieldMap.emplace_back(words.GetWord(i), CString());
    }

    const CString db = StripQuotes(database);
    const CString sch = StripQuotes(schema);
    table = StripQuotes(table);

    switch (object) {
    case Object::Databases: return ShowDatabases(recordset, fieldMap);
    case Object::Tables: return ShowTables(recordset, fieldMap, db, sch);
    case Object::Views: return ShowViews(recordset, fieldMap, db);
    case Object::Procedures: return ShowProcedures(recordset, fieldMap, db);
    case Object::Functions: return ShowFunctions(recordset, fieldMap, db);
    case Object::Columns: return ShowColumns(recordset, fieldMap, table);
    case Object::Indexes: return ShowIndexes(recordset, fieldMap, db, table);
    }
    return 2;
}

int CSchemaShow::ShowDatabases(CADORecordSet& recordset, FieldMapArray& fieldMap) {
    if (dialect.databasesQuery) return Execute(recordset, dialect.databasesQuery);
    AddDefault(fieldMap, {{L"CATALOG_NAME", L"Database"}});
    return recordset.OpenSchema(zentra::adSchemaCatalogs);
}

int CSchemaShow::ShowTables(CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database,
                            const CString& schema) {
    if (HasSchemas()) AddDefault(fieldMap, {{L"TABLE_SCHEMA", L"Schema"}, {L"TABLE_NAME", L"Table"}});
    else AddDefault(fieldMap, {{L"TABLE_NAME", L"Table"}});
    CSafeArray restrictions(4);
    if (dialect.catalogRestricted) restrictions.SetAt(0, database);
    if (HasSchemas()) restrictions.SetAt(1, schema);
    restrictions.SetAt(3, L"TABLE");
    return OpenSchema(recordset, zentra::adSchemaTables, restrictions);
}

int CSchemaShow::ShowViews(CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database) {
    if (HasSchemas()) AddDefault(fieldMap, {{L"TABLE_SCHEMA", L"Schema"}, {L"TABLE_NAME", L"View"}});
    else AddDefault(fieldMap, {{L"TABLE_NAME", L"View"}});
    CSafeArray restrictions(4);
    if (dialect.catalogRestricted) restrictions.SetAt(0, database);
    restrictions.SetAt(3, L"VIEW");
    return OpenSchema(recordset, zentra::adSchemaTables, restrictions);
}

int CSchemaShow::ShowRoutines(CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database,
                              int procedureType) {
    if (HasSchemas()) AddDefault(fieldMap, {{L"PROCEDURE_SCHEMA", L"Schema"}, {L"PROCEDURE_NAME", L"Procedure"}});
    else AddDefault(fieldMap, {{L"PROCEDURE_NAME", L"Procedure"}});
    CSafeArray restrictions(4);
    if (dialect.catalogRestricted) restrictions.SetAt(0, database);
    restrictions.SetAt(3, procedureType);
    return OpenSchema(recordset, zentra::adSchemaProcedures, restrictions);
}

int CSchemaShow::ShowProcedures(CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database) {
    return ShowRoutines(recordset, fieldMap, database, 2);
}

int CSchemaShow::ShowFunctions(CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database) {
    return ShowRoutines(recordset, fieldMap, database, 3);
}

int CSchemaShow::ShowColumns(CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& table) {
    if (dialect.columnsQuery) return Execute(recordset, NativeQuery(dialect.columnsQuery, table));
    AddDefault(fieldMap, {{L"COLUMN_NAME", L"Field"},
                          {L"DATA_TYPE", L"Type"},
                          {L"CHARACTER_MAXIMUM_LENGTH", L"Size"},
                          {L"NUMERIC_PRECISION", L"Precision"},
                          {L"NUMERIC_SCALE", L"Scale"},
                          {L"IS_NULLABLE", L"Null"},
                          {L"COLUMN_DEFAULT", L"Default"}});
    CSafeArray restrictions(4);
    const size_t dot = table.find(L'.');
    if (dot != CString::npos) {
        restrictions.SetAt(1, table.substr(0, dot));
        restrictions.SetAt(2, table.substr(dot + 1));
    } else {
        restrictions.SetAt(2, table);
    }
    return OpenSchema(recordset, zentra::adSchemaColumns, restrictions);
}

int CSchemaShow::ShowIndexes(CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database,
                             const CString& table) {
    if (dialect.indexesQuery) return Execute(recordset, NativeQuery(dialect.indexesQuery, table));
    AddDefault(fieldMap, {{L"INDEX_NAME", L"Index"},
                          {L"COLUMN_NAME", L"Field"},
                          {L"CLUSTERED", L"Clustered"},
                          {L"UNIQUE", L"Unique"},
                          {L"NULLS", L"Null"}});
    CSafeArray restrictions(5);
    if (dialect.catalogRestricted) restrictions.SetAt(0, database);
    restrictions.SetAt(4, table);
    const int result = OpenSchema(recordset, zentra::adSchemaIndexes, restrictions);
    if (result) SkipTableStatistics(recordset);
    return result;
}

void CSchemaShow::SkipTableStatistics(CADORecordSet& recordset) {
    // The statistics of the table come first when they are there at all: a row without index
    // name whose type is null or SQL_TABLE_STAT. Every real index has a name and a type.
    if (recordset.IsEOF()) return;
    const long nameColumn = FindColumn(recordset, L"INDEX_NAME");
    if (nameColumn < 0) return;
    zentra::_variant_t name;
    if (!recordset.GetFieldValue(static_cast<int>(nameColumn), name)) return;
    const bool unnamed = name.IsNull() || name.IsEmpty() || (name.vt() == zentra::VT_BSTR && name.bstrVal().empty());
    if (!unnamed) return;
    const long typeColumn = FindColumn(recordset, L"TYPE");
    if (typeColumn >= 0) {
        zentra::_variant_t type;
        if (!recordset.GetFieldValue(static_cast<int>(typeColumn), type)) return;
        const bool statType =
            type.IsNull() || type.IsEmpty() || (IsIntegerType(type.vt()) && type.intVal() == kTableStatType);
        if (!statType) return;
    }
    recordset.MoveNext();
    skippedRows = 1;
}

int ShowCommand(const CString& text) {
    ShellState& state = State();
    zentra::COutput* output = state.output.get();
    CSchemaShow show(output, state.connectInfo.type);
    CADORecordSet recordset(state.connection.get(), 1);
    FieldMapArray fieldMap;
    zentra::CTimeStat timer(1);

    CString database;
    CString schema;
    if (!zentra::DialectOfType(state.connectInfo.type).namesDataSource) {
        database = state.connectInfo.database;
        schema = state.connectInfo.schema;
    }

    const int result = show.Show(text, recordset, fieldMap, database, schema);
    if (result == 1) {
        const CString elapsed = timer.GetTotalTime();
        CPrintRecords& printer = Printer();
        printer.Attach(&recordset, &fieldMap);
        printer.PrintResult(CurrentPrintOptions());
        // The recordset and the map end with this command: leave the printer pointing at neither.
        printer.Attach(nullptr, nullptr);
        long count = static_cast<long>(recordset.GetRecordCount()) - show.GetSkippedRows();
        if (count < 0) count = 0;
        PrintQueryOkay(*output, QueryOkay::InSet, count, elapsed);
        return 1;
    }
    if (result == 0) {
        // Without a connection the recordset has no text to give: say why instead of nothing.
        if (!state.connection || !state.connection->IsConnect()) output->PrintError(IDS_NO_DATABASE);
        else output->PrintMessage(L"%s", recordset.GetLastErrorString());
        return 0;
    }
    // Not the shell's SHOW: the line goes to the server as typed. The "server" prefix is the
    // first occurrence of that word in the text, so nothing of the statement is taken for it.
    return ProcessLine(L"server " + text, 0);
}

}  // namespace orva
