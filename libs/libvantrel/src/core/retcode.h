// Return-code registry internals used by library initialisation.
#ifndef VANTREL_CORE_RETCODE_H
#define VANTREL_CORE_RETCODE_H

#include <stddef.h>

#include "vantrel/vi18n.h"
#include "vantrel/vrc.h"

namespace vantrel::internal {

// Registers the built-in code table once per process with `catalog` and
// fills the "Unknown error" fallback format.  Returns 0, or VRCRegister's
// failure on the first call; later calls return 0 and change nothing.
VRC RegisterBuiltinReturnCodes(VI18nCatalog catalog);

// The library's own message catalog: null until initialisation opens it.
VI18nCatalog LibraryCatalog();
void SetLibraryCatalog(VI18nCatalog catalog);

// Removes one line end from a system message: a final carriage return and
// line feed (any character after the carriage return goes with it), else a
// final line feed.  Texts of two characters or fewer stay.  Returns the new
// length.
size_t RemoveOneLineEnd(char *text);

}  // namespace vantrel::internal

#endif  // VANTREL_CORE_RETCODE_H
