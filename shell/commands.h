// Running a statement on the server and printing what it gives (execute.cpp), and the error beep
// (beep.cpp). The other commands are declared by their areas: reading and dispatch (reader.h),
// connecting (connect.h), SHOW and DESC (schema.h), SET and the settings (settings.h), the
// environment and utility commands (utility.h), interrupts and the front-end link (interrupts.h).
#pragma once

#include "state.h"

namespace zentra {
class CADOConnection;
class CADORecordSet;
}  // namespace zentra

namespace orva {

// Runs a statement, prints its rows and the "Query Okay" line. 1 ran, 0 failed.
int ExecuteStatement(zentra::CADOConnection* connection, const CString& statement, zentra::CADORecordSet& recordset);

// The error beep (789 Hz, 100 ms on Windows): BEL to the terminal when ERRBEEP is on.
void ErrorBeep();

}  // namespace orva
