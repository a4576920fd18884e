// The DBMS catalogue: the fixed list of the 25 database systems Orvanta connects to.
//
// `g_ConnConfs` holds exactly kConnConfCount rows in stored order (there is no end marker); the rows
// are built when libzentra is loaded and never change afterwards. Each user of the catalogue does its
// own scan (key -> type id, type id -> row, listing); the library offers no look-up function.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "zentra/dialect.h"
#include "zentra/text.h"

namespace zentra {

struct CONNECT_STRING_CONFIG {
    CString strKey;              // type key(s); alternatives separated by '|' ("fdb|gdb")
    CString strName;             // display name (usage text, type list)
    std::int32_t nType;          // DBMS type id, unique, 1..25
    CString strDriver;           // ODBC driver name to look for; empty for providers and DSNs
    CString strDownloadPage;     // where the driver can be obtained; may be empty
    CString strConnectString;    // template with %drv %host %addr %port %user %pwd %db
    CString strHost;             // default host
    std::int32_t nPort;          // default port; 0 = none
    CString strUser;             // default user
    CString strPassword;         // default password
    CString strDatabase;         // default database (empty in every row)
    CString strFileFilter;       // open-file filter: description and pattern, each followed by a tab
    std::int32_t bFileDatabase;  // 1 when the database is named by a file or folder path
};

constexpr int kConnConfCount = kDbmsLastType;

extern const CONNECT_STRING_CONFIG g_ConnConfs[kConnConfCount];

// Connection-string templates, one per row (a type added later may keep its template to the
// catalogue's own file).
extern const wchar_t sz4D[];
extern const wchar_t szAccdb[];
extern const wchar_t szDb2[];
extern const wchar_t szDbc[];
extern const wchar_t szDbf[];
extern const wchar_t szCSV[];
extern const wchar_t szDsn[];
extern const wchar_t szFireBird[];
extern const wchar_t szMSIDXS[];
extern const wchar_t szInformix[];
extern const wchar_t szIngres[];
extern const wchar_t szLotus[];
extern const wchar_t szMdb[];
extern const wchar_t szMimer[];
extern const wchar_t szMssql[];
extern const wchar_t szMysql[];
extern const wchar_t szNetezza[];
extern const wchar_t szOLAP[];
extern const wchar_t szOracle[];
extern const wchar_t szPgsql[];
extern const wchar_t szSQLite3[];
extern const wchar_t szSybaseASE[];
extern const wchar_t szTeradata[];
extern const wchar_t szXls[];
extern const wchar_t szXlsx[];

// Driver names that Linux packages register for a row whose catalogue driver name is not found by
// the containment search (for example Debian's MariaDB driver for the "mysql" row, FreeTDS for
// "mssql" and "sybase"). Each is matched the same way as `strDriver` (upper-cased containment).
// Empty for a type id without fallbacks or out of range.
std::vector<CString> LinuxDriverFallbacks(int type);

}  // namespace zentra
