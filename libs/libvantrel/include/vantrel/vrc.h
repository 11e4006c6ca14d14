/* Return codes: the library's general codes.  The C-library error numbers
 * (1..9999) keep their <errno.h> names. */
#ifndef VANTREL_VRC_H
#define VANTREL_VRC_H

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

#define VRC_OK 0
#define VRC_INTERNAL_ERROR (-16)
#define VRC_UNSUPPORTED (-17)
#define VRC_TIMEOUT (-18)
#define VRC_FAILURE (-19)
#define VRC_CURSOR_FINISHED (-20)
#define VRC_PARSE_FAILURE (-21)
#define VRC_NOT_FOUND (-22)
#define VRC_EXISTS (-23)
#define VRC_TYPE_MISMATCH (-24)
#define VRC_INVALID_DATATYPE (-25)
#define VRC_INVALID_MODULE (-26)
#define VRC_CONNECTION_CLOSED (-27)
#define VRC_EXCEPTION (-28)
#define VRC_OPEN_FAILED (-29)
#define VRC_READ_FAILED (-30)
#define VRC_WRITE_FAILED (-31)
#define VRC_NOT_READY (-32)

VANTREL_END_DECLS

#endif /* VANTREL_VRC_H */
