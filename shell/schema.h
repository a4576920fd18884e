// SHOW and DESC: the objects of the connected database (databases, tables, views, procedures,
// functions, the columns and the indexes of a table), listed the same way on every DBMS through
// the schema rowsets of the data-access layer, or through a fixed catalogue query on the DBMS
// types that have one.
#pragma once

#include "printer.h"
#include "state.h"
#include "zentra/dialect.h"

namespace zentra {
class COutput;
class CADORecordSet;
}  // namespace zentra

namespace orva {

// Produces the result of one SHOW command in a recordset, together with the field map that picks
// and names the columns to print. Created for one command and destroyed after it.
class CSchemaShow {
public:
    CSchemaShow(zentra::COutput* output, zentra::DbmsType dbmsType);
    virtual ~CSchemaShow();
    CSchemaShow(const CSchemaShow&) = delete;
    CSchemaShow& operator=(const CSchemaShow&) = delete;

    // Runs the SHOW command `text` on `recordset` (bound to the connection). 1: the recordset
    // holds the result to print with `fieldMap`; 0: the query failed and the recordset holds the
    // error text; 2: the text is not one of the shell's SHOW forms and belongs to the server.
    int Show(const CString& text, zentra::CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database,
             const CString& schema);

    // Records at the start of the recordset that were stepped over and are not part of the
    // result (the table-statistics row of an index rowset).
    long GetSkippedRows() const { return skippedRows; }

    // Removes one pair of enclosing [], "" or `` from a name.
    static CString StripQuotes(const CString& text);
    // `text` made safe inside a '...' literal: apostrophes doubled.
    static CString EscapeLiteral(const CString& text);
    // `text` made safe inside a PostgreSQL '...' literal whatever standard_conforming_strings
    // says: apostrophes doubled, each backslash spliced in as chr(92).
    static CString EscapePgLiteral(const CString& text);
    // `text` made safe inside a `...` identifier: backquotes doubled.
    static CString EscapeBackquoted(const CString& text);

protected:
    int ShowDatabases(zentra::CADORecordSet& recordset, FieldMapArray& fieldMap);
    int ShowTables(zentra::CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database,
                   const CString& schema);
    int ShowViews(zentra::CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database);
    int ShowProcedures(zentra::CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database);
    int ShowFunctions(zentra::CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database);
    int ShowColumns(zentra::CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& table);
    int ShowIndexes(zentra::CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database,
                    const CString& table);

private:
    int ShowRoutines(zentra::CADORecordSet& recordset, FieldMapArray& fieldMap, const CString& database,
                     int procedureType);
    // 1 for the DBMS types whose schema rowsets carry a meaningful schema column.
    int HasSchemas() const;
    // The native query `query` of the dialect with the table name in its form.
    CString NativeQuery(const wchar_t* query, const CString& table) const;
    // Steps over the table-statistics row when the index rowset starts with one.
    void SkipTableStatistics(zentra::CADORecordSet& recordset);

    zentra::COutput* output;
    const zentra::DbmsDialect& dialect;
    long skippedRows = 0;
};

// SHOW: 1 when a result was printed, 0 on error, otherwise the result of the text processed as a
// server statement.
int ShowCommand(const CString& text);

}  // namespace orva
