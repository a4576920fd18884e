// Lists the installed ODBC drivers and the defined data sources through the ODBC driver manager.
//
// Calling order: GetFirstDriver (or GetFirstDataSource), then GetNextDriver (GetNextDataSource)
// until one returns 0. Both listings share one environment, so starting one ends the other. Every
// driver-manager failure, the end of a list included, is reported only by the result 0; the
// out-strings are then left unchanged. A listing that has returned 0 stays ended until it is
// started again (the driver manager itself would start over from the first entry), and a Next
// call of the kind that is not under way returns 0.
#pragma once

#include <memory>

#include "zentra/text.h"

namespace zentra {

// A fixed underlying type, so that any int is a valid DSNTYPE (values other than 0 and 1 select
// the system sources).
enum DSNTYPE : int {
    DSN_ALL = 0,     // user and system data sources
    DSN_USER = 1,    // user data sources only
    DSN_SYSTEM = 2,  // system data sources only (also any other value)
};

class CDataSourceEnum {
public:
    explicit CDataSourceEnum(DSNTYPE type = DSN_ALL);
    virtual ~CDataSourceEnum();

    CDataSourceEnum(const CDataSourceEnum&) = delete;
    CDataSourceEnum& operator=(const CDataSourceEnum&) = delete;

    // name: the driver description; attributes: its first keyword=value pair. 1 = an entry was
    // returned, 0 = none or failure.
    int GetFirstDriver(CString& name, CString& attributes);
    int GetNextDriver(CString& name, CString& attributes);

    // name: the data-source name; description: the description of its driver.
    int GetFirstDataSource(CString& name, CString& description);
    int GetNextDataSource(CString& name, CString& description);

private:
    // Frees an ODBC environment handle (SQLHENV).
    struct FreeEnv {
        void operator()(void* env) const noexcept;
    };
    // Allocates a fresh environment; false on failure.
    bool AllocEnvironment() noexcept;
    enum class Listing { None, Drivers, DataSources };
    int FetchDriver(unsigned short direction, CString& name, CString& attributes);
    int FetchDataSource(unsigned short direction, CString& name, CString& description);

    std::unique_ptr<void, FreeEnv> m_env;  // the ODBC environment handle (SQLHENV)
    DSNTYPE m_nType;
    Listing m_listing = Listing::None;  // the listing under way; None once it has returned 0
};

}  // namespace zentra
