// Running a statement on the server: the refusals made before it is sent, the timing, the
// result printed or the rows affected.
#include "commands.h"

#include "printer.h"
#include "resources.h"
#include "sqltext.h"
#include "zentra/console.h"
#include "zentra/dataaccess.h"
#include "zentra/values.h"

namespace orva {

using zentra::CADORecordSet;
using zentra::COutput;

int ExecuteStatement(zentra::CADOConnection* connection, const CString& statement, CADORecordSet& recordset) {
    ShellState& state = State();
    COutput* out = state.output.get();
    zentra::CTimeStat timer(1);

    // The recordset runs on the shell's current connection (USE may have replaced it).
    if (connection && connection->GetConnection() && recordset.GetConnection() != connection->GetConnection())
        recordset.SetConnection(connection->GetConnection());

    // PostgreSQL's driver spins for ever, deaf to Ctrl+C, on a COPY that streams through the
    // client: refused before it is sent.
    if (state.connectInfo.type == zentra::kDbmsPostgreSql && IsClientCopy(statement)) {
        if (out) out->PrintMessage(IDS_COPY_STREAM_REFUSED);
        if (state.errorBeep) ErrorBeep();
        return 0;
    }
    int affected = 0;
    if (!recordset.Execute(statement.c_str(), &affected)) {
        if (out) out->PrintMessage(L"%s", recordset.GetLastErrorString());
        if (state.errorBeep) ErrorBeep();
        return 0;
    }
    // The time of the statement itself, without the printing.
    const CString elapsed = timer.GetTotalTime();

    if (recordset.GetFieldCount() > 0) {
        CPrintRecords& printer = Printer();
        printer.Attach(&recordset, nullptr);
        printer.PrintResult(CurrentPrintOptions());
        if (out) PrintQueryOkay(*out, QueryOkay::InSet, static_cast<long>(recordset.GetRecordCount()), elapsed);
    } else if (out) {
        PrintQueryOkay(*out, QueryOkay::Affected, affected, elapsed);
    }
    return 1;
}

}  // namespace orva
