// Reading statements and dispatching them.
#pragma once

#include "state.h"

namespace orva {

// Reads one statement, command or block from the console, trimmed.
CString ReadStatement();
// Processes a text: -1 ends the shell, 1 stores it in the history, 0 or 2 do not.
int ProcessLine(CString text, int split);

// Takes the first statement off `text` (up to a '/' at the start of a line, else a ';', both
// outside quotes) and returns it without its terminator; `text` keeps the rest.
CString TakeNextStatement(CString& text);

// Shows the primary prompt (line 0 or 1, with its $_USER., $_HOST. and $_DB. variables) or the
// continuation prompt "  ~ N ".
void PrintPrompt(int line);

}  // namespace orva
