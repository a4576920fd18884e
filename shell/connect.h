// Connecting: the login, the server line and USE.
#pragma once

#include <memory>

#include "state.h"

namespace zentra {
class CADOConnection;
}  // namespace zentra

namespace orva {

// Finds the driver, builds the connection string and opens `connection`. Nonzero when connected.
int Connect(zentra::CADOConnection* connection, CONNECT_INFO& info);
// Prints "<DBMS name> <DBMS version>" when both properties can be read.
void PrintServerInfo(zentra::CADOConnection* connection);
// USE: changes the current database; 1 changed, 0 not.
int ChangeDatabase(std::unique_ptr<zentra::CADOConnection>* connection, CONNECT_INFO& info, const wchar_t* name,
                   zentra::DbmsType type);

}  // namespace orva
