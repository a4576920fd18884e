// Console signals (Ctrl+C, Ctrl+Break, hang-up, termination) and the front-end link.
#pragma once

namespace orva {

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
