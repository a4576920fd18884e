// The DBMS catalogue rows and their connection-string templates.
#include "zentra/catalogue.h"

namespace zentra {

// Templates. Their exact text matters: the teradata template has no closing semicolon, the
// Firebird one has a blank before "DBNAME", and the Informix and Lotus ones have blanks after some
// semicolons.
const wchar_t sz4D[] = L"Driver={%drv};Server=%host;Port=%port;UID=%user;PWD=%pwd;CharsEncoding=UTF-8;";
const wchar_t szAccdb[] = L"Driver={%drv};Dbq=%db;Jet OLEDB:Database Password=%pwd;ReadOnly=0;";
const wchar_t szDb2[] = L"Driver={%drv};Database=%db;Hostname=%host;Port=%port;Protocol=TCPIP;Uid=%user;Pwd=%pwd;";
const wchar_t szDbc[] = L"Driver={%drv};Dbq=%db;SourceType=DBC;NULL=NO;DELETED=NO;";
const wchar_t szDbf[] = L"Driver={%drv};Dbq=%db;SourceType=DBF;NULL=NO;DELETED=NO;";
const wchar_t szCSV[] = L"Driver={%drv};Dbq=%db;Extensions=asc,csv,tab,txt;";
const wchar_t szDsn[] = L"%drv=%db;Uid=%user;Pwd=%pwd;";
const wchar_t szFireBird[] = L"Driver={%drv};UID=%user;PWD=%pwd; DBNAME=%db;";
const wchar_t szMSIDXS[] = L"Provider=MSIDXS;Data source=%db;";
const wchar_t szInformix[] = L"Provider=Ifxoledbc; Data Source=%db@%host; User ID=%user;Password=%pwd;";
const wchar_t szIngres[] =
    L"Driver={%drv};SRVR=%host;DB=%db;Persist Security Info=False;Uid=%user;Pwd=%pwd;"
    L"SELECTLOOPS=N;Extended Properties=\"SERVER=%host;DATABASE=%db;SERVERTYPE=INGRES\";";
const wchar_t szLotus[] = L"Driver={%drv}; Server=%host; Database=%db; Uid=%user; Pwd=%pwd;";
const wchar_t szMdb[] = L"Driver={%drv};Dbq=%db;Uid=%user;Pwd=%pwd;ExtendedAnsiSQL=1;ReadOnly=0;";
const wchar_t szMimer[] = L"Driver={%drv};Host=%host;Port=%port;Database=%db;User=%user;Password=%pwd;";
const wchar_t szMssql[] = L"Driver={%drv};Server=%addr,%port;Database=%db;Uid=%user;Pwd=%pwd;";
const wchar_t szMysql[] = L"Driver={%drv};Server=%host;Port=%port;Database=%db;User=%user;Password=%pwd;Option=3;";
const wchar_t szNetezza[] = L"Driver={%drv};servername=%host;port=%port;database=%db;username=%user;password=%pwd;";
const wchar_t szOLAP[] = L"Provider=MSOLAP;Data Source=%host;Initial Catalog=%db;";
const wchar_t szOracle[] = L"Driver={%drv};Server=%host:%port/%db;Uid=%user;Pwd=%pwd;";
const wchar_t szPgsql[] = L"Driver={%drv};Server=%host;Port=%port;Database=%db;Uid=%user;Pwd=%pwd;";
const wchar_t szSQLite3[] = L"Driver={%drv};Database=%db;LongNames=0;Timeout=1000;NoTXN=0;SyncPragma=NORMAL;StepAPI=0;";
const wchar_t szSybaseASE[] =
    L"Provider=Sybase.ASEOLEDBProvider;Srvr=%host,%port;Catalog=%db;User Id=%user;"
    L"Password=%pwd;";
const wchar_t szTeradata[] =
    L"Driver={%drv};DBCName=%host;TDMSTPortNumber=%port;Database=%db;UID=%user;PWD=%pwd;"
    L"AppCatalogDB=%db;RunInQuietMode=Yes;EnableReconnect=Yes;TCPNoDelay=Yes;SessionMode=ANSI;"
    L"CharSet=UTF8;UseNativeLOBSupport=Yes;DateTimeForMat=AAA;MaxRespSize=1048576";
const wchar_t szXls[] = L"Driver={%drv};DriverId=790;Dbq=%db;ReadOnly=0;";
const wchar_t szXlsx[] = L"Driver={%drv};Dbq=%db;Extended Properties=\"Excel 12.0;HDR=YES\";";

namespace {

// Where the ODBC drivers can be obtained.
constexpr const wchar_t* kPage4D = L"https://us.4d.com/product-download";
// The Access Database Engine redistributable carries both the Access and the Excel drivers.
constexpr const wchar_t* kPageAce = L"https://www.microsoft.com/en-us/download/details.aspx?id=54920";
constexpr const wchar_t* kPageDb2 =
    L"https://www.ibm.com/support/pages/db2-odbc-cli-driver-download-and-installation-information";
constexpr const wchar_t* kPageFoxpro =
    L"https://learn.microsoft.com/en-us/previous-versions/visualstudio/foxpro/mt490121(v=msdn.10)";
constexpr const wchar_t* kPageFirebird = L"https://firebirdsql.org/en/odbc-driver/";
constexpr const wchar_t* kPageIngres = L"https://esd.actian.com/";
constexpr const wchar_t* kPageNotesSql = L"https://my.hcltechsw.com/downloads";
constexpr const wchar_t* kPageMimer = L"https://developer.mimer.com/products/downloads/";
constexpr const wchar_t* kPageMysql = L"https://dev.mysql.com/downloads/connector/odbc/";
constexpr const wchar_t* kPageNetezza = L"https://www.ibm.com/support/fixcentral/";
constexpr const wchar_t* kPagePgsql = L"https://odbc.postgresql.org/";
constexpr const wchar_t* kPageSqlite = L"https://www.ch-werner.de/sqliteodbc/";
constexpr const wchar_t* kPageTeradata = L"https://downloads.teradata.com/download/connectivity/odbc-driver/windows";

}  // namespace

// Built once when the library is loaded, in stored order (not sorted: "csv" follows "dbf").
// Field order: key, name, type, driver, download page, template, host, port, user, password,
// database, file filter, file database.
const CONNECT_STRING_CONFIG g_ConnConfs[kConnConfCount] = {
    {L"4d", L"4D Server", 25, L"4D", kPage4D, sz4D, L"localhost", 19813, L"Administrator", L"", L"", L"", 0},
    {L"accdb", L"MS Access 2007 Database(*.accd?)", 6, L"Microsoft Access Driver (*.mdb, *.accdb)", kPageAce, szAccdb,
     L"", 0, L"Administrator", L"", L"", L"MS Access 2007 file (*.mdb;*.accd?)\t*.mdb;*.accd?\t", 1},
    {L"db2", L"IBM DB2 Server", 11, L"IBM DB2 ODBC DRIVER", kPageDb2, szDb2, L"localhost", 50000, L"db2admin", L"", L"",
     L"", 0},
    {L"dbc", L"Visual Foxpro Database (*.dbc)", 9, L"Microsoft Visual Foxpro Driver", kPageFoxpro, szDbc, L"", 0, L"",
     L"", L"", L"MS Visual Foxpro Database file (*.dbc)\t*.dbc\t", 1},
    {L"dbf", L"dBase Table (*.dbf)", 10, L"Microsoft dBase Driver", L"", szDbf, L"", 0, L"", L"", L"", L"", 1},
    {L"csv", L"CSV/Text (*.txt; *.csv)", 13, L"Microsoft Text Driver (*.txt; *.csv)", L"", szCSV, L"", 0, L"", L"", L"",
     L"", 1},
    {L"dsn", L"ODBC DSN", 15, L"", L"", szDsn, L"", 0, L"", L"", L"", L"File ODBC DSN (*.dsn)\t*.dsn\t", 1},
    {L"fdb|gdb", L"Firebird/Interbase Database (*.fdb;*.gdb)", 18, L"Firebird", kPageFirebird, szFireBird, L"", 0,
     L"SYSDBA", L"plumewind", L"", L"Firebird/Interbase Database (*.fdb; *.gdb)\t*.fdb;*.gdb\t", 1},
    {L"idxs", L"MS Index Server", 24, L"", L"", szMSIDXS, L"", 0, L"", L"", L"", L"", 0},
    {L"informix", L"IBM Informix Server", 12, L"", L"", szInformix, L"turbo", 0, L"informix", L"", L"", L"", 0},
    {L"ingres", L"Ingres Server", 19, L"Ingres", kPageIngres, szIngres, L"localhost", 21071, L"ingres", L"", L"", L"",
     0},
    {L"lotus", L"Lotus Notes (*.nsf)", 14, L"Lotus NotesSQL", kPageNotesSql, szLotus, L"localhost", 0, L"", L"", L"",
     L"Lotus Notes (*.nsf)\t*.nsf\t", 1},
    {L"mdb", L"MS Access Database(*.mdb)", 5, L"Microsoft Access Driver (*.mdb)", L"", szMdb, L"", 0, L"Administrator",
     L"", L"", L"MS Access file (*.mdb)\t*.mdb\t", 1},
    {L"mimer", L"Mimer Database", 20, L"Mimer", kPageMimer, szMimer, L"localhost", 1360, L"SYSADM", L"", L"", L"", 0},
    {L"mssql", L"MS SQL Server", 1, L"SQL Server", L"", szMssql, L"localhost", 1433, L"sa", L"", L"", L"", 0},
    {L"mysql", L"MySQL Server", 2, L"MySQL ODBC", kPageMysql, szMysql, L"localhost", 3306, L"root", L"", L"", L"", 0},
    {L"netezza", L"NetezzaSQL", 21, L"Netezza", kPageNetezza, szNetezza, L"localhost", 5480, L"netezza", L"", L"", L"",
     0},
    {L"olap", L"OLAP", 23, L"", L"", szOLAP, L"localhost", 0, L"Administrator", L"", L"", L"", 0},
    {L"oracle", L"Oracle Server", 4, L"Microsoft ODBC for Oracle", L"", szOracle, L"localhost", 1521, L"SYSTEM", L"",
     L"", L"", 0},
    {L"pgsql", L"PostgreSQL Server", 3, L"POSTGRES", kPagePgsql, szPgsql, L"localhost", 5432, L"postgres", L"", L"",
     L"", 0},
    {L"sqlite3", L"SQLite3 Database (*.db)", 22, L"SQLite3", kPageSqlite, szSQLite3, L"", 0, L"", L"", L"",
     L"SQLite3 Database (*.db;*.db3)\t*.db;*.db3\t", 1},
    {L"sybase", L"Sybase ASE", 17, L"", L"", szSybaseASE, L"localhost", 5000, L"SYSDBA", L"", L"", L"", 0},
    {L"teradata", L"Teradata Server", 16, L"Teradata", kPageTeradata, szTeradata, L"localhost", 1025, L"dbc", L"dbc",
     L"", L"", 0},
    {L"xls", L"MS Excel (*.xls)", 7, L"Microsoft Excel Driver (*.xls)", L"", szXls, L"", 0, L"", L"", L"",
     L"MS Excel file (*.xls)\t*.xls\t", 1},
    {L"xlsx", L"MS Excel 2007 (*.xls?)", 8, L"Microsoft Excel Driver (*.xls, *.xlsx, *.xlsm, *.xlsb)", kPageAce, szXlsx,
     L"", 0, L"", L"", L"", L"MS Excel 2007 file (*.xls?)\t*.xls?\t", 1},
};

}  // namespace zentra
