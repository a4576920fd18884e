#include <unistd.h>

#include "commands.h"

namespace orva {

void ErrorBeep() {
    // The terminal's bell stands in for the 789 Hz tone; nothing when output is not a terminal.
    if (State().errorBeep && isatty(STDOUT_FILENO)) {
        ssize_t written = write(STDOUT_FILENO, "\a", 1);
        (void)written;
    }
}

}  // namespace orva
