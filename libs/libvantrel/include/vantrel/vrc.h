/* Return codes: the library's general codes, code tables and the texts of
 * codes.  The C-library error numbers (1..9999) keep their <errno.h> names.
 *
 * Texts of codes outside 1..9999 are produced into the calling thread's
 * error buffer, so turning a code into text allocates nothing; a text stays
 * valid until the same thread asks for the next one. */
#ifndef VANTREL_VRC_H
#define VANTREL_VRC_H

#include "vantrel/vbase.h"
#include "vantrel/vi18n.h"

VANTREL_BEGIN_DECLS

/* The library's own codes, made from the list in vrc_codes.h.  They are
 * enumeration constants (of type int), not macros. */
enum {
#define VRC_GENERAL_CODE(name, code, message_number, default_text) \
  name = (code),
#define VRC_SUBSYSTEM_CODE(name, code) name = (code),
#include "vantrel/vrc_codes.h"
};

/* One row of a code table: the code, and the message set, number and
 * default text of its text in the registering catalog. */
typedef struct VRCEntry {
  VRC code;         /* the code */
  int32_t set;      /* message set of its text in the catalog */
  int32_t number;   /* message number of its text */
  const char *text; /* the default text */
} VRCEntry;

/* Appends a table of `count` rows, looked up through `catalog` (may be
 * null: the rows' default texts are used).  Only the pointer is kept: the
 * table must live as long as the process.  When several tables hold a
 * code, the one registered first wins.  Registering belongs to start-up,
 * before other threads ask for texts.
 * Returns 0, or VRC_FAILURE (-19) when 64 tables are registered already. */
VANTREL_API VRC VRCRegister(VI18nCatalog catalog, int count,
                            const VRCEntry *table);

/* The text of any code: the C library's text for 1..9999; otherwise the
 * first registered row's text, or "Unknown error " and the code, in the
 * calling thread's error buffer.  Never null; the caller does not free it.
 */
VANTREL_API const char *VRCToString(VRC code);

/* Writes the system's text for an operating-system error code into
 * buffer (`size` bytes, all zeroed first), cut to fit and without a final
 * line end.  Returns 0, or VRC_FAILURE (-19) when the system has no text
 * for the code (the buffer is then all zero bytes). */
VANTREL_API VRC VRCFormatWin32Message(uint32_t code, char *buffer,
                                      uint32_t size);

/* VRCFormatWin32Message into the calling thread's error buffer, or
 * "Unknown error " and the code there when the system has no text.
 * Returns the buffer. */
VANTREL_API char *VRCWin32ErrorCodeToString(uint32_t code);

VANTREL_END_DECLS

#endif /* VANTREL_VRC_H */
