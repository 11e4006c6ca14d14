// How the thread manager's diagnostics reach the log manager, which sits
// above it: the log layer installs its entry point when it starts, and
// until then the lines go where the log manager's own lines go before it
// is started.
#ifndef VANTREL_THREADS_LOG_HOOK_H
#define VANTREL_THREADS_LOG_HOOK_H

#include <stdarg.h>

#include "vantrel/vbase.h"
#include "vantrel/vi18n.h"

namespace vantrel::internal {

// The shape of VLogAP.
using LogHookFunc = VRC (*)(int level, int facility, VI18nCatalog catalog,
                            int set, int number, const char *format,
                            va_list args);

// Installs the log layer's entry point; null goes back to the fallback.
void SetLogHook(LogHookFunc hook);

// Writes one message as VLog would.  Without a hook it is written as the
// log manager writes before it is started: dropped below level 3, else
// one line "word: L-COMP-SET-NUM: text" on
// standard error (the text cut to 2047 bytes), and a level 5 message ends
// the process with status 1.
[[gnu::format(printf, 6, 7)]] void LogThroughHook(int level, int facility,
                                                  VI18nCatalog catalog, int set,
                                                  int number,
                                                  const char *format, ...);

}  // namespace vantrel::internal

#endif  // VANTREL_THREADS_LOG_HOOK_H
