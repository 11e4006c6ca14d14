/* The library's own return codes, one line each.  This list makes the
 * VRC_... names of vrc.h and the built-in texts of the general codes, so a
 * new code is one line here and nowhere else.
 *
 * It is a list to expand, not a header to include for its declarations:
 * define either or both of these macros, include this file, and it
 * undefines them again (a macro left undefined expands to nothing):
 *
 *   VRC_GENERAL_CODE(name, code, message_number, default_text)
 *     a general code with a text: message `message_number` of message set
 *     1 of the library's catalog, `default_text` when the catalog has none.
 *   VRC_SUBSYSTEM_CODE(name, code)
 *     a subsystem's code without a text of its own: VRCToString renders
 *     it as "Unknown error" and the number.
 *
 * The C-library error numbers (1..9999) keep their <errno.h> names and the
 * socket-layer numbers (10000 and above) are not named here. */

#include "vantrel/vbase.h"

#ifndef VRC_GENERAL_CODE
#define VRC_GENERAL_CODE(name, code, message_number, default_text)
#endif
#ifndef VRC_SUBSYSTEM_CODE
#define VRC_SUBSYSTEM_CODE(name, code)
#endif

VRC_GENERAL_CODE(VRC_OK, 0, 2, "No error")
VRC_GENERAL_CODE(VRC_INTERNAL_ERROR, -16, 3,
                 "Internal Error: Please contact support")
VRC_GENERAL_CODE(VRC_UNSUPPORTED, -17, 4, "Unsupported")
VRC_GENERAL_CODE(VRC_TIMEOUT, -18, 5, "Timeout")
VRC_GENERAL_CODE(VRC_FAILURE, -19, 6, "General failure")
VRC_GENERAL_CODE(VRC_CURSOR_FINISHED, -20, 7, "Cursor finished successfully")
VRC_GENERAL_CODE(VRC_PARSE_FAILURE, -21, 8, "Parse failure")
VRC_GENERAL_CODE(VRC_NOT_FOUND, -22, 9, "Object not found")
VRC_GENERAL_CODE(VRC_EXISTS, -23, 10, "Object exists")
VRC_GENERAL_CODE(VRC_TYPE_MISMATCH, -24, 11, "Type mismatch")
VRC_GENERAL_CODE(VRC_INVALID_DATATYPE, -25, 12, "Invalid datatype")
VRC_GENERAL_CODE(VRC_INVALID_MODULE, -26, 13, "Invalid module")
VRC_GENERAL_CODE(VRC_CONNECTION_CLOSED, -27, 14, "Connection closed")
VRC_GENERAL_CODE(VRC_EXCEPTION, -28, 15, "Exception")
VRC_GENERAL_CODE(VRC_OPEN_FAILED, -29, 29, "Open Failed")
VRC_GENERAL_CODE(VRC_READ_FAILED, -30, 30, "Read Failed")
VRC_GENERAL_CODE(VRC_WRITE_FAILED, -31, 31, "Write Failed")
VRC_GENERAL_CODE(VRC_NOT_READY, -32, 34, "Not ready")

/* Properties (vprop.h): no such property (or no callback list), a name
 * already used by a property or an alias, a read-only property, include
 * files nested too deeply. */
VRC_SUBSYSTEM_CODE(VRC_PROP_NOT_FOUND, -40)
VRC_SUBSYSTEM_CODE(VRC_PROP_EXISTS, -41)
VRC_SUBSYSTEM_CODE(VRC_PROP_READ_ONLY, -42)
VRC_SUBSYSTEM_CODE(VRC_PROP_INCLUDE_DEPTH, -43)

/* Command-line arguments (vargs.h): an option that takes a value is the
 * last argument; an option text defined twice. */
VRC_SUBSYSTEM_CODE(VRC_ARG_NO_VALUE, -50)
VRC_SUBSYSTEM_CODE(VRC_ARG_EXISTS, -51)

/* The module loader refused a module file, or its release. */
VRC_SUBSYSTEM_CODE(VRC_MODULE_LOAD_FAILED, -60)
VRC_SUBSYSTEM_CODE(VRC_MODULE_UNLOAD_FAILED, -61)
/* Regular expressions (vregexp.h): a pattern that is not a valid
 * expression, a substitution that found its subject shorter than the
 * recorded match, and no match. */
VRC_SUBSYSTEM_CODE(VRC_REGEXP_BAD_PATTERN, -70)
VRC_SUBSYSTEM_CODE(VRC_REGEXP_SUBJECT_SHORTENED, -72)
VRC_SUBSYSTEM_CODE(VRC_REGEXP_NO_MATCH, -73)

/* Returned by VMutexTryLock when another thread holds the mutex. */
VRC_SUBSYSTEM_CODE(VRC_MUTEX_BUSY, -80)

/* Data encryption (vdatacrypt.h). */
VRC_SUBSYSTEM_CODE(VRC_CRYPT_NO_KEY, -121)
VRC_SUBSYSTEM_CODE(VRC_CRYPT_FILE_OPEN, -122)
VRC_SUBSYSTEM_CODE(VRC_CRYPT_FILE_SHORT, -123)
VRC_SUBSYSTEM_CODE(VRC_CRYPT_KEY_LENGTH, -124)
VRC_SUBSYSTEM_CODE(VRC_CRYPT_KEY_NO_SEPARATOR, -125)
VRC_SUBSYSTEM_CODE(VRC_CRYPT_FILE_EMPTY, -126)
VRC_SUBSYSTEM_CODE(VRC_CRYPT_NOT_ENCRYPTED, -127)
VRC_SUBSYSTEM_CODE(VRC_CRYPT_NO_ALGORITHM, -128)
VRC_SUBSYSTEM_CODE(VRC_CRYPT_KEY_NOT_NUMERIC, -129)

#undef VRC_GENERAL_CODE
#undef VRC_SUBSYSTEM_CODE
