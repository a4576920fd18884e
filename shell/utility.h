// The environment and utility commands (HELP, REDO, HOST, EDIT, PAUSE, START, SPOOL) and their
// helpers.
#pragma once

#include "state.h"

namespace zentra {
class CADOConnection;
}  // namespace zentra

namespace orva {

// ---- The commands (utility.cpp, process.cpp, script.cpp) ----

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

// ---- Running a command through the shell (process.cpp) ----

// `text` as one word for /bin/sh: enclosed in apostrophes, each apostrophe inside written as '\''.
CString QuoteForShell(const CString& text);

// Runs `command` with "/bin/sh -c" in the foreground and waits for it without limit. The child
// inherits the terminal (standard input and error) and writes its standard output to `outFd`;
// the shell's other descriptors are closed in it, its signal mask is empty and the signals the
// shell may have blocked or ignored are back at their defaults. Returns the child's exit status
// (128 + the signal number when a signal ended it), or -1 when it could not be started, with the
// errno value in `error`.
int RunShellCommand(const CString& command, int outFd, int& error);

// The editor command EDIT starts. The stored default "notepad" (and an empty setting) stands for
// the user's editor: $VISUAL, then $EDITOR, then "vi". Any other setting is used as it is: it is
// a command for the shell and may carry arguments of its own.
CString EditorCommand(const CString& setting);

// The per-user state directory: $XDG_STATE_HOME/orvanta, or ~/.local/state/orvanta when
// XDG_STATE_HOME is unset, empty or not absolute. "" when neither it nor HOME can be found.
CString StateDirectory();

// The path of the file EDIT works on: a name that is an absolute path as it is, any other name in
// StateDirectory(), which is created (mode 0700) when missing. "" with `error` (errno) set when
// the directory cannot be created.
CString EditFilePath(const CString& name, int& error);

}  // namespace orva
