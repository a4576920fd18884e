// One dialect record per DBMS that needs one; every other type shares the plain record.
#include "zentra/dialect.h"

#include "zentra/catalogue.h"

namespace zentra {

namespace {

// The column default is read with pg_get_expr: pg_attrdef.adsrc no longer exists from
// PostgreSQL 12 on, and pg_get_expr gives the same text on every version.
constexpr const wchar_t* kPgColumns =
    L"select col.attname as Field_Name, pg_type.typname as Field_Type, (case when col.attlen<0 then "
    L"col.atttypmod else col.attlen end) as Length, (select count(*) from pg_constraint ct where "
    L"ct.contype='p'::char and col.attnum = any (conkey) and ct.conrelid=t.oid) as IsPk, (case when "
    L"seq.oid is null then 'No' else 'Yes' end) as IsAutoIncrease, (case when col.attnotnull=false then "
    L"'Yes' else 'No' end) as Nullable, pg_get_expr(pg_attrdef.adbin, pg_attrdef.adrelid) as DefaultValue "
    L"from pg_attribute col inner join pg_class t on col.attrelid=t.oid and (t.relkind='r'::char or "
    L"t.relkind='v'::char) left join pg_depend dp on t.oid=dp.refobjid and col.attnum=dp.refobjsubid "
    L"and deptype='i'::char left join pg_class seq on dp.objid=seq.oid and seq.relkind='S'::char left join "
    L"pg_type on col.atttypid=pg_type.oid  left join pg_attrdef on pg_attrdef.adrelid=t.oid and "
    L"pg_attrdef.adnum=col.attnum left join pg_namespace nsp on nsp.oid=t.relnamespace where "
    L"col.attnum>0 and %s order by t.relname, col.attnum";

constexpr const wchar_t* kPgIndexes =
    L"SELECT f.relname AS index_name, a.attname AS column_name, CASE WHEN i.indisprimary THEN 'YES' ELSE "
    L"'NO' END AS primary, CASE WHEN i.indisunique THEN 'YES' ELSE 'NO' END AS unique, CASE WHEN "
    L"a.attnotnull THEN 'YES' ELSE 'NO'END AS isnotnull FROM pg_class t JOIN pg_index i ON "
    L"i.indrelid=t.oid LEFT JOIN pg_attribute a ON a.attrelid=t.oid AND a.attnum=ANY(i.indkey) JOIN "
    L"pg_class f ON i.indexrelid=f.oid LEFT JOIN pg_namespace nsp ON t.relnamespace=nsp.oid WHERE %s";

constexpr const wchar_t* kOracleColumns =
    L"SELECT COLUMN_NAME as name, DATA_TYPE as type, DATA_LENGTH as length, NULLABLE as nullable, "
    L"DATA_DEFAULT as defvalue FROM ALL_TAB_COLUMNS where UPPER(TABLE_NAME)=UPPER('%s') ORDER BY COLUMN_ID";

constexpr const wchar_t* kOracleIndexes =
    L"SELECT b.INDEX_NAME as iname, c.COLUMN_NAME as cname, "
    L"DECODE(d.CONSTRAINT_NAME, NULL, 'N', 'Y') as prk, "
    L"DECODE(b.UNIQUENESS,'UNIQUE', 'Y', 'N') as uni "
    L"FROM USER_INDEXES b, USER_IND_COLUMNS c, "
    L"(SELECT CONSTRAINT_NAME FROM USER_CONSTRAINTS WHERE CONSTRAINT_TYPE='P') d "
    L"WHERE b.INDEX_NAME=c.INDEX_NAME AND b.INDEX_NAME=d.CONSTRAINT_NAME(+) "
    L"AND b.TABLE_NAME=UPPER('%s') ORDER BY c.COLUMN_POSITION";

// The lexis of the DBMSs whose backslash is a plain character.
constexpr SqlLexis kLiteralBackslash{.backslashEscapes = false};
constexpr SqlLexis kBracketNames{.backslashEscapes = false, .bracketQuotes = true};
constexpr SqlLexis kSqliteLexis{.backslashEscapes = false, .backtickQuotes = true, .bracketQuotes = true};
constexpr SqlLexis kPostgresLexis{
    .backslashEscapes = false, .escapeStrings = true, .dollarQuotes = true, .nestedComments = true};
constexpr SqlLexis kMysqlLexis{.backtickQuotes = true, .hashComments = true, .dashCommentNeedsBlank = true};

// A record that sets only the type: plain in every other respect.
constexpr DbmsDialect Plain(DbmsType type, const wchar_t* linuxDrivers = nullptr, SqlLexis lexis = SqlLexis{}) {
    return {type,  nullptr, linuxDrivers, nullptr, false,   OneRowLimit::None,      nullptr, L'"', L'"', false, false,
            false, false,   nullptr,      nullptr, nullptr, TableNameForm::Literal, lexis};
}

constexpr DbmsDialect kPlain = Plain(kDbmsNone);

// Field order: type, DBMS names, Linux drivers, batch-splitting drivers, value typed, one-row
// limit, row id, quotes, USE by statement, names a data source, schemas, catalog restricted,
// databases, columns and indexes queries, table name form, lexis, text character set query. A DBMS name is looked for
// in this order.
const DbmsDialect kDialects[] = {
    {kDbmsMsSql, nullptr, L"FreeTDS", nullptr, false, OneRowLimit::None, nullptr, L'"', L'"', false, false, true, true,
     nullptr, L"sp_columns '%s'", nullptr, TableNameForm::Literal, kBracketNames},
    {kDbmsSqlite3, L"sqlite", L"SQLite3", nullptr, true, OneRowLimit::RowIdSubquery, L"rowid", L'"', L'"', false, false,
     false, false, nullptr, nullptr, nullptr, TableNameForm::Literal, kSqliteLexis},
    // Debian registers "PostgreSQL Unicode" and "PostgreSQL ANSI".
    {kDbmsPostgreSql, L"postgres", L"PostgreSQL", nullptr, false, OneRowLimit::RowIdSubquery, L"ctid", L'"', L'"',
     false, false, true, false, L"SELECT datname FROM pg_database WHERE datallowconn ORDER BY datname", kPgColumns,
     kPgIndexes, TableNameForm::PgCondition, kPostgresLexis},
    {kDbmsMySql, L"mariadb|mysql", L"MariaDB", L"maodbc", false, OneRowLimit::LimitClause, nullptr, L'`', L'`', true,
     false, false, true, L"SHOW DATABASES", L"SHOW COLUMNS FROM `%s`", L"SHOW INDEX FROM `%s`",
     TableNameForm::Backquoted, kMysqlLexis, L"SELECT @@character_set_results"},
    // Oracle's Instant Client registers "Oracle 21 ODBC driver" and alike.
    {kDbmsOracle, nullptr, L"Oracle", nullptr, false, OneRowLimit::None, nullptr, L'"', L'"', false, false, true, false,
     L"SELECT NAME FROM V$DATABASE", kOracleColumns, kOracleIndexes, TableNameForm::Literal, kLiteralBackslash},
    Plain(kDbmsMdb, L"MDBTools", kBracketNames),
    Plain(kDbmsAccdb, L"MDBTools", kBracketNames),
    {kDbmsDb2, nullptr, nullptr, nullptr, false, OneRowLimit::None, nullptr, L'"', L'"', false, false, true, false,
     nullptr, nullptr, nullptr, TableNameForm::Literal, kLiteralBackslash},
    {kDbmsOdbcDsn, nullptr, nullptr, nullptr, false, OneRowLimit::None, nullptr, L'"', L'"', false, true, false, false,
     nullptr, nullptr, nullptr, TableNameForm::Literal},
    Plain(kDbmsSybase, L"FreeTDS", kBracketNames),
};

bool AnyPartIn(const wchar_t* parts, const CString& text) {
    if (!parts) return false;
    for (const auto& part : Split(parts, L'|'))
        if (FindNoCase(text, part) != CString::npos) return true;
    return false;
}

}  // namespace

const DbmsDialect& DialectOfType(std::int32_t type) {
    for (const DbmsDialect& d : kDialects)
        if (d.type == type) return d;
    return kPlain;
}

const DbmsDialect& DialectOfDbms(const CString& dbmsName) {
    for (const DbmsDialect& d : kDialects)
        if (AnyPartIn(d.dbmsNames, dbmsName)) return d;
    return kPlain;
}

bool SplitsBatches(const DbmsDialect& dialect, const CString& driverName) {
    return AnyPartIn(dialect.batchSplittingDrivers, driverName);
}

std::vector<CString> LinuxDriverFallbacks(int type) {
    const DbmsDialect& d = DialectOfType(type);
    std::vector<CString> names;
    if (d.linuxDrivers)
        for (const auto& name : Split(d.linuxDrivers, L'|')) names.emplace_back(name);
    return names;
}

}  // namespace zentra
