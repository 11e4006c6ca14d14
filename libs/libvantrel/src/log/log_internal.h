// The log manager's entry points for the rest of the library.
#ifndef VANTREL_LOG_LOG_INTERNAL_H
#define VANTREL_LOG_LOG_INTERNAL_H

#include "vantrel/vbase.h"

namespace vantrel::internal {

// Brings up the process's log with the caller's destination (or the one
// VDE_FORCE_LOG_MODULE names): its lock "LogFileSubsystem", threshold 3 or
// VDE_DEFAULT_LOG_LEVEL, the destination (a destination that cannot be
// opened leaves standard error in place), the close at exit and the header
// list.  Returns 0; the lock's code; VRC_FAILURE when the header list cannot be
// made ("Failed to create log header list" on standard error).  A repeated
// call keeps the lock, the header list and the exit handler it already has
// and switches to the destination again.  From then on the thread
// manager's lines go through the log too.
VRC LogMgrInitialise(const char *destination);

}  // namespace vantrel::internal

#endif  // VANTREL_LOG_LOG_INTERNAL_H
