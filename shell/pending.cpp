// TEMPORARY while the shell's commands are being built: definitions that let the shell link.
// Each function here is removed when its real implementation lands; this file must be empty and
// deleted before the work is finished.
#include "commands.h"

namespace orva {

}  // namespace orva
