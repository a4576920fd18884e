#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <tuple>

#include "zentra/catalogue.h"
#include "zentra/dialect.h"
#include "zentra/text.h"

using namespace zentra;

namespace {

// The row with `key` as its key or as one of its '|'-separated keys.
const CONNECT_STRING_CONFIG& RowByKey(const std::wstring& key) {
    for (int i = 0; i < kConnConfCount; ++i)
        for (const std::wstring& alternative : Split(g_ConnConfs[i].strKey, L'|'))
            if (alternative == key) return g_ConnConfs[i];
    ADD_FAILURE() << "no row for key";
    return g_ConnConfs[0];
}

}  // namespace

// Each type 1 to 25 once; each key (and each '|'-separated alternative) names one row only, in
// lower case without blanks; every row has a name and no stored database.
TEST(Catalogue, IdsAndKeysAreUniqueAndEveryKeyFindsItsRow) {
    static_assert(kConnConfCount == 25);
    static_assert(sizeof(g_ConnConfs) / sizeof(g_ConnConfs[0]) == 25);
    std::set<std::int32_t> ids;
    std::set<std::wstring> keys;
    for (const auto& row : g_ConnConfs) {
        SCOPED_TRACE(row.nType);
        ids.insert(row.nType);
        EXPECT_TRUE(row.nType >= kDbmsMsSql && row.nType <= kDbms4D);
        for (const std::wstring& key : Split(row.strKey, L'|')) {
            EXPECT_TRUE(keys.insert(key).second) << "key used twice";
            EXPECT_EQ(key, ToLower(key));
            EXPECT_EQ(key.find_first_of(L" \t"), std::wstring::npos);
            EXPECT_EQ(&RowByKey(key), &row);
        }
        EXPECT_FALSE(row.strName.empty());
        EXPECT_TRUE(row.strDatabase.empty());
        EXPECT_TRUE(row.bFileDatabase == 0 || row.bFileDatabase == 1);
    }
    EXPECT_EQ(ids.size(), static_cast<size_t>(kConnConfCount));
    EXPECT_EQ(*ids.begin(), 1);
    EXPECT_EQ(*ids.rbegin(), kConnConfCount);
}

TEST(Catalogue, RowFieldsAsStored) {
    const CONNECT_STRING_CONFIG& fb = RowByKey(L"gdb");
    EXPECT_EQ(fb.strName, L"Firebird/Interbase Database (*.fdb;*.gdb)");
    EXPECT_EQ(fb.strDriver, L"Firebird");
    EXPECT_EQ(fb.strUser, L"SYSDBA");
    EXPECT_EQ(fb.strPassword, L"plumewind");
    EXPECT_EQ(fb.strFileFilter, L"Firebird/Interbase Database (*.fdb; *.gdb)\t*.fdb;*.gdb\t");
    EXPECT_EQ(fb.bFileDatabase, 1);

    // Driver, host, port and whether the database is a file.
    auto fields = [](const CONNECT_STRING_CONFIG& row) {
        return std::tuple(row.strDriver, row.strHost, row.nPort, row.bFileDatabase);
    };
    EXPECT_EQ(fields(RowByKey(L"mssql")), std::tuple(CString(L"SQL Server"), CString(L"localhost"), 1433, 0));
    EXPECT_EQ(RowByKey(L"mssql").strUser, L"sa");
    EXPECT_TRUE(RowByKey(L"mssql").strPassword.empty() && RowByKey(L"mssql").strDownloadPage.empty());
    EXPECT_EQ(fields(RowByKey(L"informix")), std::tuple(CString(), CString(L"turbo"), 0, 0));
    const CONNECT_STRING_CONFIG& lotus = RowByKey(L"lotus");
    EXPECT_EQ(std::tuple(lotus.strHost, lotus.nPort, lotus.bFileDatabase), std::tuple(CString(L"localhost"), 0, 1));

    const CONNECT_STRING_CONFIG& teradata = RowByKey(L"teradata");
    EXPECT_EQ(teradata.strUser, L"dbc");
    ASSERT_EQ(teradata.strPassword.size(), 3u);
    EXPECT_TRUE(std::all_of(teradata.strPassword.begin(), teradata.strPassword.end(),
                            [](wchar_t c) { return c >= L'a' && c <= L'z'; }));

    EXPECT_EQ(RowByKey(L"sybase").strUser, L"SYSDBA");
    EXPECT_EQ(RowByKey(L"4d").nPort, 19813);
    EXPECT_EQ(RowByKey(L"ingres").nPort, 21071);
    EXPECT_EQ(RowByKey(L"pgsql").strDriver, L"POSTGRES");
    EXPECT_EQ(RowByKey(L"xlsx").strDriver, L"Microsoft Excel Driver (*.xls, *.xlsx, *.xlsm, *.xlsb)");
}

TEST(Catalogue, FileFiltersEndEveryPartWithATab) {
    EXPECT_EQ(RowByKey(L"accdb").strFileFilter, L"MS Access 2007 file (*.mdb;*.accd?)\t*.mdb;*.accd?\t");
    EXPECT_EQ(RowByKey(L"sqlite3").strFileFilter, L"SQLite3 Database (*.db;*.db3)\t*.db;*.db3\t");
    EXPECT_EQ(RowByKey(L"dsn").strFileFilter, L"File ODBC DSN (*.dsn)\t*.dsn\t");
    for (int i = 0; i < kConnConfCount; ++i) {
        const CString& filter = g_ConnConfs[i].strFileFilter;
        if (filter.empty()) continue;
        SCOPED_TRACE(g_ConnConfs[i].strKey);
        // Pairs of description and pattern, each part followed by a tab.
        EXPECT_EQ(filter.back(), L'\t');
        EXPECT_EQ(std::count(filter.begin(), filter.end(), L'\t') % 2, 0);
        EXPECT_EQ(g_ConnConfs[i].bFileDatabase, 1);
    }
}

TEST(Catalogue, TemplatesKeepTheirQuirks) {
    EXPECT_EQ(std::wstring(szFireBird), L"Driver={%drv};UID=%user;PWD=%pwd; DBNAME=%db;");
    EXPECT_EQ(std::wstring(szInformix), L"Provider=Ifxoledbc; Data Source=%db@%host; User ID=%user;Password=%pwd;");
    EXPECT_EQ(std::wstring(szLotus), L"Driver={%drv}; Server=%host; Database=%db; Uid=%user; Pwd=%pwd;");
    EXPECT_EQ(std::wstring(szIngres),
              L"Driver={%drv};SRVR=%host;DB=%db;Persist Security Info=False;Uid=%user;Pwd=%pwd;"
              L"SELECTLOOPS=N;Extended Properties=\"SERVER=%host;DATABASE=%db;"
              L"SERVERTYPE=INGRES\";");
    EXPECT_EQ(std::wstring(szXlsx),
              L"Driver={%drv};Dbq=%db;Extended Properties=\"Excel 12.0;"
              L"HDR=YES\";");
    EXPECT_EQ(std::wstring(szDsn), L"%drv=%db;Uid=%user;Pwd=%pwd;");
    EXPECT_EQ(std::wstring(szMssql),
              L"Driver={%drv};Server=%addr,%port;Database=%db;Uid=%user;"
              L"Pwd=%pwd;");
    const std::wstring teradata = szTeradata;
    EXPECT_EQ(teradata.substr(teradata.size() - 20), L";MaxRespSize=1048576");
    EXPECT_NE(teradata.find(L"DateTimeForMat=AAA;"), std::wstring::npos);

    // Every row's template is the text of its exported constant.
    const wchar_t* const constants[] = {sz4D,        szAccdb,    szDb2,      szDbc,    szDbf,    szCSV,   szDsn,
                                        szFireBird,  szMSIDXS,   szInformix, szIngres, szLotus,  szMdb,   szMimer,
                                        szMssql,     szMysql,    szNetezza,  szOLAP,   szOracle, szPgsql, szSQLite3,
                                        szSybaseASE, szTeradata, szXls,      szXlsx};
    for (int i = 0; i < kConnConfCount; ++i) {
        SCOPED_TRACE(g_ConnConfs[i].strKey);
        EXPECT_EQ(g_ConnConfs[i].strConnectString, constants[i]);
    }
}

TEST(Catalogue, DownloadPagesOnTheMarkedRows) {
    const std::set<std::wstring> withPage = {L"4d",     L"accdb",   L"db2",      L"dbc",   L"fdb|gdb",
                                             L"ingres", L"lotus",   L"mimer",    L"mysql", L"netezza",
                                             L"pgsql",  L"sqlite3", L"teradata", L"xlsx"};
    EXPECT_EQ(withPage.size(), 14u);
    for (int i = 0; i < kConnConfCount; ++i) {
        const CONNECT_STRING_CONFIG& row = g_ConnConfs[i];
        SCOPED_TRACE(row.strKey);
        if (withPage.count(row.strKey)) {
            EXPECT_EQ(row.strDownloadPage.rfind(L"https://", 0), 0u);
            EXPECT_EQ(row.strDownloadPage.find_first_of(L" \t\r\n"), std::wstring::npos);
        } else {
            EXPECT_TRUE(row.strDownloadPage.empty());
        }
    }
}

TEST(Catalogue, LinuxDriverFallbacks) {
    EXPECT_EQ(LinuxDriverFallbacks(2), std::vector<CString>{L"MariaDB"});   // mysql
    EXPECT_EQ(LinuxDriverFallbacks(1), std::vector<CString>{L"FreeTDS"});   // mssql
    EXPECT_EQ(LinuxDriverFallbacks(17), std::vector<CString>{L"FreeTDS"});  // sybase
    EXPECT_EQ(LinuxDriverFallbacks(5), std::vector<CString>{L"MDBTools"});  // mdb
    EXPECT_EQ(LinuxDriverFallbacks(6), std::vector<CString>{L"MDBTools"});  // accdb
    EXPECT_EQ(LinuxDriverFallbacks(4), std::vector<CString>{L"Oracle"});    // oracle
    EXPECT_EQ(LinuxDriverFallbacks(3), std::vector<CString>{L"PostgreSQL"});
    EXPECT_EQ(LinuxDriverFallbacks(22), std::vector<CString>{L"SQLite3"});
    EXPECT_TRUE(LinuxDriverFallbacks(0).empty());
    EXPECT_TRUE(LinuxDriverFallbacks(26).empty());
    EXPECT_TRUE(LinuxDriverFallbacks(25).empty());  // 4d

    // Debian's drivers: the PostgreSQL and SQLite3 rows are already found by containment of the
    // upper-cased catalogue name; MariaDB needs its fallback.
    EXPECT_NE(ToUpper(L"PostgreSQL Unicode").find(ToUpper(RowByKey(L"pgsql").strDriver)), std::wstring::npos);
    EXPECT_EQ(ToUpper(L"MariaDB Unicode").find(ToUpper(RowByKey(L"mysql").strDriver)), std::wstring::npos);
    EXPECT_NE(ToUpper(L"MariaDB Unicode").find(ToUpper(LinuxDriverFallbacks(2)[0])), std::wstring::npos);
}

// The dialect records belong to catalogue types;
// a driver's DBMS name finds the record that edits and fetches its way.
TEST(Catalogue, DialectRecords) {
    for (const auto& row : g_ConnConfs) {
        // A record found by type is that type's or the plain one.
        const DbmsType found = DialectOfType(row.nType).type;
        EXPECT_TRUE(found == row.nType || found == kDbmsNone) << row.nType;
    }

    EXPECT_EQ(DialectOfDbms(L"SQLite").type, kDbmsSqlite3);
    EXPECT_TRUE(DialectOfDbms(L"SQLite").valueTyped);
    EXPECT_EQ(DialectOfDbms(L"PostgreSQL").oneRow, OneRowLimit::RowIdSubquery);
    EXPECT_EQ(CString(DialectOfDbms(L"PostgreSQL").rowId), L"ctid");
    EXPECT_EQ(DialectOfDbms(L"MariaDB").type, kDbmsMySql);
    EXPECT_EQ(DialectOfDbms(L"MySQL").oneRow, OneRowLimit::LimitClause);
    EXPECT_EQ(DialectOfDbms(L"Microsoft SQL Server").type, kDbmsNone);
    EXPECT_FALSE(DialectOfDbms(L"Microsoft SQL Server").valueTyped);
    EXPECT_TRUE(SplitsBatches(DialectOfDbms(L"MariaDB"), L"libmaodbc.so"));
    EXPECT_FALSE(SplitsBatches(DialectOfDbms(L"MySQL"), L"libmyodbc8w.so"));
    EXPECT_FALSE(SplitsBatches(DialectOfDbms(L"PostgreSQL"), L"libmaodbc.so"));

    // The native catalogue queries take the table in one "%s".
    for (const auto& row : g_ConnConfs) {
        const DbmsDialect& d = DialectOfType(row.nType);
        for (const wchar_t* query : {d.columnsQuery, d.indexesQuery}) {
            if (!query) continue;
            const CString text = query;
            const size_t at = text.find(L'%');
            EXPECT_EQ(text.substr(at, 2), L"%s") << row.nType;
            EXPECT_EQ(text.find(L'%', at + 1), CString::npos) << row.nType;
        }
    }
}
