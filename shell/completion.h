// Tab completion at the prompt: what the word before the cursor may become.
//
// Candidates are the shell's command words and their option words, SQL keywords, and the table,
// view and column names of the current database. Names are read through the catalogue rowsets
// on first use and kept until the connection or its database changes, or a statement creates,
// drops or alters something. A connection whose driver does not answer the catalogue rowsets
// gives no names; everything else still completes.
#pragma once

#include <map>
#include <vector>

#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/dialect.h"

namespace orva {

using zentra::CString;
using zentra::CStringArray;

class CCompleter {
public:
    // `dbmsType` and `schema` are those of the connection (schema restricts the table list on
    // DBMS types with schemas).
    void SetConnection(zentra::CADOConnection* connection, zentra::DbmsType dbmsType, const CString& database,
                       const CString& schema);
    // The lines of the statement read before the current one ("\n" after each), kept by the caller
    // for as long as completion may be asked for (null: none). Not copied: a statement of many lines
    // would otherwise be copied once per line.
    void SetPending(const CString* text) { m_pending = text; }
    // Drops the names read when `statement` creates, drops or alters something.
    void NoteStatement(const CString& statement);
    void Forget();

    // The answer to a Tab with `beforeCursor` the text of the current line before the cursor.
    void Complete(const CString& beforeCursor, zentra::COMPLETION& result);

private:
    struct Table {
        CString name;
        CString schema;
    };
    const std::vector<Table>& Tables();
    const CStringArray& Columns(const CString& table);
    void AddTables(const CString& prefix, CStringArray& out);
    void AddColumns(const CStringArray& tables, const CString& prefix, CStringArray& out);
    CString Quoted(const CString& name) const;
    // The words of the shell's commands: true when `tokens` start one (its candidates are in
    // `out`); SERVER and '.' are taken off the statement they run.
    bool CompleteCommand(std::vector<CString>& tokens, const CString& prefix, CStringArray& out);
    // SQL: columns of the tables the statement names, tables where one is expected, keywords.
    void CompleteSql(const std::vector<CString>& tokens, const CString& qualifier, const CString& prefix,
                     CStringArray& out);

    zentra::CADOConnection* m_connection = nullptr;
    zentra::DbmsType m_type = zentra::kDbmsNone;
    CString m_database;
    CString m_schema;
    const CString* m_pending = nullptr;
    bool m_haveTables = false;
    std::vector<Table> m_tables;
    std::map<CString, CStringArray> m_columns;  // by lower-case table name
};

}  // namespace orva
