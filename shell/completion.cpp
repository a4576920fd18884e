#include "completion.h"

#include <cwctype>
#include <initializer_list>
#include <span>

#include "schema.h"
#include "settings.h"
#include "sqltext.h"
#include "zentra/values.h"

namespace orva {

namespace {

using zentra::CADORecordSet;
using zentra::EqualsNoCase;

// The shell's own commands, by their full words.
constexpr const wchar_t* kCommands[] = {L"DECLARE", L"DESC",   L"EDIT", L"EXIT", L"HELP",  L"HOST",  L"PAUSE", L"QUIT",
                                        L"REDO",    L"SERVER", L"SET",  L"SHOW", L"SPOOL", L"START", L"USE"};
constexpr const wchar_t* kShowObjects[] = {L"COLUMNS",    L"DATABASES", L"FUNCTIONS", L"INDEX",
                                           L"PROCEDURES", L"TABLES",    L"VIEWS"};

// Words that begin a statement.
constexpr const wchar_t* kStatementWords[] = {L"ALTER",  L"BEGIN",    L"CALL",    L"COMMIT",   L"CREATE",
                                              L"DELETE", L"DROP",     L"EXPLAIN", L"GRANT",    L"INSERT",
                                              L"MERGE",  L"REPLACE",  L"REVOKE",  L"ROLLBACK", L"SAVEPOINT",
                                              L"SELECT", L"TRUNCATE", L"UPDATE",  L"VALUES",   L"WITH"};
// Words met inside statements.
constexpr const wchar_t* kKeywords[] = {
    L"ADD",     L"ALL",     L"AND",    L"ANY",     L"AS",      L"ASC",       L"AVG",      L"BETWEEN",    L"BIGINT",
    L"BY",      L"CASCADE", L"CASE",   L"CAST",    L"CHAR",    L"CHECK",     L"COALESCE", L"COLUMN",     L"CONSTRAINT",
    L"COUNT",   L"CROSS",   L"DATE",   L"DECIMAL", L"DEFAULT", L"DESC",      L"DISTINCT", L"DOUBLE",     L"ELSE",
    L"END",     L"EXCEPT",  L"EXISTS", L"FALSE",   L"FOREIGN", L"FROM",      L"FULL",     L"GROUP",      L"HAVING",
    L"IF",      L"IN",      L"INDEX",  L"INNER",   L"INTEGER", L"INTERSECT", L"INTO",     L"IS",         L"JOIN",
    L"KEY",     L"LEFT",    L"LIKE",   L"LIMIT",   L"MAX",     L"MIN",       L"NATURAL",  L"NOT",        L"NULL",
    L"NUMERIC", L"OFFSET",  L"ON",     L"OR",      L"ORDER",   L"OUTER",     L"PRIMARY",  L"REFERENCES", L"RIGHT",
    L"SET",     L"SUM",     L"TABLE",  L"TEXT",    L"THEN",    L"TIMESTAMP", L"TRUE",     L"UNION",      L"UNIQUE",
    L"USING",   L"VARCHAR", L"VIEW",   L"WHEN",    L"WHERE"};

bool StartsNoCase(const CString& text, const CString& prefix) {
    return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

CString Lower(CString text) {
    for (wchar_t& c : text) c = static_cast<wchar_t>(std::towlower(c));
    return text;
}

bool IsOneOf(const CString& word, std::initializer_list<const wchar_t*> words) {
    for (const wchar_t* w : words)
        if (word == w) return true;
    return false;
}

// Adds the `words` that start with `prefix`, in the letter case the prefix was typed in (capitals
// when it is empty or starts with one).
void AddWords(std::span<const wchar_t* const> words, const CString& prefix, CStringArray& out) {
    const bool upper = prefix.empty() || std::iswupper(prefix[0]);
    for (const wchar_t* w : words) {
        const CString word = w;
        if (StartsNoCase(word, prefix)) out.push_back(upper ? word : Lower(word));
    }
}

// The words and signs of a statement's plain text, in lower case.
std::vector<CString> Tokens(const CString& text) {
    std::vector<CString> tokens;
    for (size_t i = 0; i < text.size();) {
        if (std::iswspace(text[i])) {
            ++i;
        } else if (IsNameChar(text[i]) || text[i] == L'.') {
            size_t j = i;
            while (j < text.size() && (IsNameChar(text[j]) || text[j] == L'.')) ++j;
            tokens.push_back(Lower(text.substr(i, j - i)));
            i = j;
        } else {
            tokens.push_back(CString(1, text[i]));
            ++i;
        }
    }
    return tokens;
}

bool IsTableIntroducer(const CString& token) {
    return IsOneOf(token, {L"from", L"join", L"into", L"update", L"table", L"truncate"});
}

bool IsClauseWord(const CString& token) {
    return IsTableIntroducer(token) || IsOneOf(token, {L"select", L"where", L"on", L"by", L"having", L"set", L"values",
                                                       L"limit", L"and", L"or", L"using"});
}

}  // namespace

void CCompleter::SetConnection(zentra::CADOConnection* connection, zentra::DbmsType dbmsType, const CString& database,
                               const CString& schema) {
    if (connection == m_connection && dbmsType == m_type && database == m_database && schema == m_schema) return;
    m_connection = connection;
    m_type = dbmsType;
    m_database = database;
    m_schema = schema;
    Forget();
}

void CCompleter::NoteStatement(const CString& statement) {
    const std::vector<CString> tokens = Tokens(statement.substr(0, 64));
    // Statements after which the names read are out of date.
    if (!tokens.empty() && IsOneOf(tokens[0], {L"create", L"drop", L"alter", L"rename"})) Forget();
}

void CCompleter::Forget() {
    m_haveTables = false;
    m_tables.clear();
    m_columns.clear();
}

const std::vector<CCompleter::Table>& CCompleter::Tables() {
    if (m_haveTables || !m_connection) return m_tables;
    m_haveTables = true;
    CSchemaShow show(nullptr, m_type);
    for (int views = 0; views < 2; ++views) {
        CADORecordSet recordset(m_connection, 1);
        FieldMapArray fieldMap;
        // The same catalogue rowsets as SHOW TABLES and SHOW VIEWS.
        const int opened = show.Show(views ? L"SHOW VIEWS" : L"SHOW TABLES", recordset, fieldMap, m_database, m_schema);
        if (opened != 1) continue;  // a driver without the catalogue function: no names
        for (; !recordset.IsEOF(); recordset.MoveNext()) {
            Table table;
            if (!recordset.GetFieldValue(L"TABLE_NAME", table.name) || table.name.empty()) continue;
            recordset.GetFieldValue(L"TABLE_SCHEMA", table.schema);
            // The system's own catalogue is not the user's tables.
            if (IsOneOf(Lower(table.schema), {L"pg_catalog", L"information_schema", L"sys"})) continue;
            m_tables.push_back(table);
        }
    }
    return m_tables;
}

const CStringArray& CCompleter::Columns(const CString& table) {
    const CString key = Lower(table);
    auto found = m_columns.find(key);
    if (found != m_columns.end()) return found->second;
    CStringArray& columns = m_columns[key];
    if (!m_connection) return columns;
    // The name as the catalogue spells it; "schema.table" names both.
    CString schema, name = table;
    const size_t dot = table.find(L'.');
    if (dot != CString::npos) {
        schema = table.substr(0, dot);
        name = table.substr(dot + 1);
    }
    bool known = false;
    for (const Table& t : Tables()) {
        if (EqualsNoCase(t.name, name) && (schema.empty() || EqualsNoCase(t.schema, schema))) {
            name = t.name;
            schema = t.schema;
            known = true;
            break;
        }
    }
    if (!known) return columns;
    zentra::CSafeArray restrictions(4);
    if (!schema.empty()) restrictions.SetAt(1, schema);
    restrictions.SetAt(2, name);
    CADORecordSet recordset(m_connection, 1);
    if (!recordset.OpenSchema(zentra::adSchemaColumns, restrictions.GetArray())) return columns;
    for (; !recordset.IsEOF(); recordset.MoveNext()) {
        CString column;
        if (recordset.GetFieldValue(L"COLUMN_NAME", column) && !column.empty()) columns.push_back(column);
    }
    return columns;
}

CString CCompleter::Quoted(const CString& name) const {
    bool plain = !name.empty() && !std::iswdigit(name[0]);
    for (wchar_t c : name) plain = plain && IsNameChar(c);
    if (plain) return name;
    const zentra::DbmsDialect& dialect = zentra::DialectOfType(m_type);
    return dialect.quoteOpen + name + dialect.quoteClose;
}

void CCompleter::AddTables(const CString& prefix, CStringArray& out) {
    for (const Table& t : Tables())
        if (StartsNoCase(t.name, prefix)) out.push_back(Quoted(t.name));
}

void CCompleter::AddColumns(const CStringArray& tables, const CString& prefix, CStringArray& out) {
    for (const CString& table : tables)
        for (const CString& column : Columns(table))
            if (StartsNoCase(column, prefix)) out.push_back(Quoted(column));
}

namespace {

// The plain text of `text` (quoted text and comments become blanks), where its last statement
// starts, and where the last double quote opened.
CString PlainText(const CString& text, CSqlScanner& scanner, size_t& statementStart, size_t& quoteStart) {
    CString plain(text.size(), L' ');
    statementStart = quoteStart = 0;
    for (size_t i = 0; i < text.size();) {
        bool isPlain = false;
        const size_t next = scanner.Step(text, i, isPlain);
        if (isPlain) {
            for (size_t k = i; k < next; ++k) plain[k] = text[k];
            if (text[i] == L';') statementStart = next;
        } else if (text[i] == L'"' && scanner.GetMode() == CSqlScanner::kDouble) {
            quoteStart = next;
        }
        i = next;
    }
    return plain;
}

// The tables a statement's tokens name so far (`named`), and each alias's table (`aliases`,
// every table under its own name too).
void NamedTables(const std::vector<CString>& tokens, std::map<CString, CString>& aliases, CStringArray& named) {
    for (size_t i = 0; i + 1 < tokens.size(); ++i) {
        if (!IsTableIntroducer(tokens[i])) continue;
        for (size_t j = i + 1; j < tokens.size(); j += 2) {
            const CString& table = tokens[j];
            if (!IsNameChar(table[0]) || IsClauseWord(table)) break;
            named.push_back(table);
            aliases[table] = table;
            size_t k = j + 1;
            if (k < tokens.size() && tokens[k] == L"as") ++k;
            if (k < tokens.size() && IsNameChar(tokens[k][0]) && !IsClauseWord(tokens[k]) &&
                !IsOneOf(tokens[k], {L"inner", L"left", L"right", L"full", L"cross", L"natural", L"join", L"group",
                                     L"order", L"values"})) {
                aliases[tokens[k]] = table;
                j = k;
            }
            // "from a, b": the next table follows a comma.
            if (j + 1 >= tokens.size() || tokens[j + 1] != L",") break;
            ++j;
        }
    }
}

}  // namespace

bool CCompleter::CompleteCommand(std::vector<CString>& tokens, const CString& prefix, CStringArray& out) {
    const CString& first = tokens[0];
    const size_t n = tokens.size();
    if (first == L"show") {
        if (n == 1) AddWords(kShowObjects, prefix, out);
        else if (n == 2 && IsOneOf(tokens[1], {L"columns", L"col", L"index", L"ind"})) {
            constexpr const wchar_t* kFrom[] = {L"FROM"};
            AddWords(kFrom, prefix, out);
        } else if (n == 3 && tokens[2] == L"from") {
            AddTables(prefix, out);
        }
        return true;
    }
    if (first == L"desc") {
        if (n == 1) AddTables(prefix, out);
        return true;
    }
    if (first == L"set") {
        const SettingDef* setting = n == 2 ? FindSetting(tokens[1]) : nullptr;
        if (n == 1) {
            AddWords(SettingWords(), prefix, out);
        } else if (setting && setting->kind == SettingKind::Switch) {
            constexpr const wchar_t* kSwitch[] = {L"OFF", L"ON"};
            AddWords(kSwitch, prefix, out);
        }
        return true;
    }
    if (first == L"server" || first == L".") {
        tokens.erase(tokens.begin());
        return false;
    }
    return IsOneOf(first, {L"use", L"quit", L"exit", L"help", L"?", L"redo", L"hi", L"start", L"@", L"spool", L"host",
                           L"!", L"edit", L"ed", L"pause", L"pau", L"/", L"go"});
}

void CCompleter::CompleteSql(const std::vector<CString>& tokens, const CString& qualifier, const CString& prefix,
                             CStringArray& out) {
    // The tables the statement names so far, by name and by alias.
    std::map<CString, CString> aliases;
    CStringArray named;
    NamedTables(tokens, aliases, named);
    if (!qualifier.empty()) {
        const auto alias = aliases.find(qualifier);
        AddColumns({alias != aliases.end() ? alias->second : qualifier}, prefix, out);
        // "schema.": the tables of that schema.
        for (const Table& t : Tables())
            if (EqualsNoCase(t.schema, qualifier) && StartsNoCase(t.name, prefix)) out.push_back(Quoted(t.name));
        return;
    }
    // A table name where a table is expected: after FROM, JOIN, INTO, ... or a comma in their list.
    size_t clause = tokens.size();
    while (clause > 0 && !IsClauseWord(tokens[clause - 1]) && !IsTableIntroducer(tokens[clause - 1])) --clause;
    const CString& last = tokens.back();
    if (IsTableIntroducer(last) ||
        (clause > 0 && IsTableIntroducer(tokens[clause - 1]) && (last == L"," || last == L"exists"))) {
        AddTables(prefix, out);
        return;
    }
    // Elsewhere the columns of those tables come first; keywords and table names when no column fits.
    AddColumns(named, prefix, out);
    if (!out.empty() || prefix.empty()) return;
    AddWords(kKeywords, prefix, out);
    AddWords(kStatementWords, prefix, out);
    AddTables(prefix, out);
}

void CCompleter::Complete(const CString& beforeCursor, zentra::COMPLETION& result) {
    result = zentra::COMPLETION{};
    const CString text = (m_pending ? *m_pending : CString()) + beforeCursor;
    // The plain text of the statement at the cursor: quoted text and comments become blanks.
    CSqlScanner scanner;
    size_t statementStart = 0, quoteStart = 0;
    const CString plain = PlainText(text, scanner, statementStart, quoteStart);
    switch (scanner.GetMode()) {
    case CSqlScanner::kPlain: break;
    case CSqlScanner::kDouble: {
        // A quoted name: completed with its closing quote.
        const CString prefix = text.substr(quoteStart);
        if (prefix.find_first_of(L"\r\n") != CString::npos) return;
        result.wordLength = prefix.size();
        for (const Table& t : Tables())
            if (StartsNoCase(t.name, prefix)) result.candidates.push_back(t.name + L"\"");
        return;
    }
    default:
        // Inside a literal or a comment a Tab is text.
        result.insertTab = 1;
        return;
    }

    // The word at the cursor, with its qualifier ("t." in "t.na").
    size_t wordStart = text.size();
    while (wordStart > statementStart && (IsNameChar(text[wordStart - 1]) || text[wordStart - 1] == L'.')) --wordStart;
    const CString word = text.substr(wordStart);
    const size_t dot = word.rfind(L'.');
    const CString qualifier = dot == CString::npos ? CString() : Lower(word.substr(0, dot));
    const CString prefix = dot == CString::npos ? word : word.substr(dot + 1);
    result.wordLength = prefix.size();
    CStringArray& out = result.candidates;

    std::vector<CString> tokens = Tokens(plain.substr(statementStart, wordStart - statementStart));
    if (tokens.empty()) {
        if (!qualifier.empty()) return;
        AddWords(kCommands, prefix, out);
        AddWords(kStatementWords, prefix, out);
        return;
    }
    // The shell's commands and their option words, else SQL.
    if (CompleteCommand(tokens, prefix, out)) return;
    if (tokens.empty()) {  // "SERVER sel": a statement starts
        if (qualifier.empty()) AddWords(kStatementWords, prefix, out);
        return;
    }
    CompleteSql(tokens, qualifier, prefix, out);
}

}  // namespace orva
