// The command handlers that the dispatcher calls, and the shell's shared services. Each group is
// implemented in its own file: executor and printer (printer.cpp), schema commands (schema.cpp),
// environment and utility commands (utility.cpp), interrupts and link (interrupts.cpp), settings
// and SET (settings.h),
// connecting (connect.cpp), reading and dispatch (reader.cpp).
#pragma once

#include "state.h"

namespace zentra {
class CADOConnection;
class CADORecordSet;
}  // namespace zentra

namespace orva {

// ---- Reading and dispatch (reader.cpp) ----

// Reads one statement, command or block from the console, trimmed.
CString ReadStatement();
// Processes a text: -1 ends the shell, 1 stores it in the history, 0 or 2 do not.
int ProcessLine(CString text, int split);

// ---- Connecting (connect.cpp) ----

// Finds the driver, builds the connection string and opens `connection`. Nonzero when connected.
int Connect(zentra::CADOConnection* connection, CONNECT_INFO& info);
// Prints "<DBMS name> <DBMS version>" when both properties can be read.
void PrintServerInfo(zentra::CADOConnection* connection);
// USE: changes the current database; 1 changed, 0 not.
int ChangeDatabase(std::unique_ptr<zentra::CADOConnection>* connection, CONNECT_INFO& info,
                   const wchar_t* name, zentra::DbmsType type);

// ---- Query execution (printer.cpp) ----

// Runs a statement, prints its rows and the "Query Okay" line. 1 ran, 0 failed.
int ExecuteStatement(zentra::CADOConnection* connection, const CString& statement,
                     zentra::CADORecordSet& recordset);

// ---- Schema commands (schema.cpp) ----

// SHOW: 1 when a result was printed, 0 on error, otherwise the result of the text processed as a
// server statement.
int ShowCommand(const CString& text);

// ---- Environment and utility commands (utility.cpp) ----

void ShowHelp();
// `word` is null when the command has no argument.
int RedoCommand(const CString* word);
// True inside a REDO that has been stopped (Ctrl+C, or too many entries run): what it runs ends.
bool RedoStopped();
int RunHostCommand(const CString& command);
int EditBuffer(const CString* word);
void PauseShell(const CString& hint);
int RunScript(zentra::CADOConnection* connection, const CString& arguments);
int SpoolCommand(int wordCount, const CString& word1, const CString& rest);
// Tells, once, that a write to the spool file failed and spooling stopped.
void ReportSpoolWriteError();
// The error beep (789 Hz, 100 ms on Windows): BEL to the terminal when ERRBEEP is on.
void ErrorBeep();

// ---- Interrupts and front-end link (interrupts.cpp) ----

// When the process is being ended by a hang-up or termination, waits for that end (no return).
void AwaitShutdownIfUnderway();
// Starts the thread that waits for console signals (Ctrl+C, Ctrl+Break, hang-up, termination).
void InstallConsoleControlHandler();
// Starts the front-end link thread over the control block named by `linkName`.
void StartLinkThread();
// Around a program that runs in the foreground (HOST, EDIT): meanwhile Ctrl+C and Ctrl+Break are
// the program's, not the shell's. `interrupted`: the program ended by such a key, whose signal the
// shell may not have taken yet; it is not taken as the shell's own.
void BeginForegroundProgram();
void EndForegroundProgram(bool interrupted);

}  // namespace orva
