/* Command-line arguments bound to properties.
 *
 * A VArgMgr maps option texts (case-sensitive: "-Port" is not "-port") to
 * properties of a VPropMgr.  A switch sets its property to a fixed value;
 * a value option takes the next argument, converted to the property's
 * type.  VArgMgrProcess applies, in this order: the "-name" interlock, the
 * properties file named by "-propsfile" (when that option is defined), the
 * command line, and the decryption of encrypted text values; so the command
 * line wins over the file.
 *
 * Built-in options, recognised whether or not the program defines them:
 *   -name VALUE      sets the property "Name" without running its
 *                    callbacks (a failure is ignored);
 *   -propsfile PATH  names the properties file (applied first);
 *   -advanced        shows advanced options in VArgHelp (only when an
 *                    advanced option exists, else it is undefined);
 *   -dumpprops       writes every property to standard error and ends the
 *                    process with status 0 after processing;
 *   --               ends the options; what follows is the program's.
 * A "-name" or "-propsfile" that is the last argument has no value: it is
 * ignored by the main pass (and gives VRC_ARG_NO_VALUE (-50) when the
 * option is defined and processed first, for the interlock or the
 * properties file).
 *
 * An argument that names no option is not an error: processing goes on,
 * the word is logged as a warning ("Undefined argument: WORD") and added to
 * the calling thread's exception chain "UndefinedArgument" (vexcept.h), one
 * entry "Undefined argument" with the word per undefined argument.
 *
 * Threads: nothing here locks; process once, on the start-up thread. */
#ifndef VANTREL_VARGS_H
#define VANTREL_VARGS_H

#include "vantrel/vbase.h"
#include "vantrel/vprop.h"
#include "vantrel/vrc.h"
#include "vantrel/vstrbuf.h"
#include "vantrel/vvalue.h"

VANTREL_BEGIN_DECLS

/* Handle of an argument manager. */
typedef struct VArgMgrData *VArgMgr;

/* Option kinds. */
/* Sets the property to the option's fixed value; takes no argument. */
#define VARG_KIND_SWITCH 1
/* Takes the next argument as the property's value. */
#define VARG_KIND_VALUE 2

/* Option flags. */
/* Left out of the usage text unless "-advanced" was given. */
#define VARG_FLAG_ADVANCED 1u

/* Called by processing with the value that follows "-name". */
typedef VRC (*VArgInterlockCallback)(VArgMgr manager, const char *name,
                                     void *argument);

/* One row of VArgMgrTableDefine: the fixed value is read under type from
 * value (null: the type's zero value, the empty text for VDT_STRING). */
typedef struct VArgTableRow {
  const char *option;       /* the option's name */
  const char *propertyName; /* the property it sets */
  const char *help;         /* its line of the usage text */
  int32_t kind;             /* VARG_KIND_SWITCH or VARG_KIND_VALUE */
  VDataType type;           /* the type of value */
  const VValue *value;      /* a switch's fixed value */
  uint32_t flags;           /* VARG_FLAG_... bits */
} VArgTableRow;

/* Creates a manager whose options set properties of `properties` (which
 * must outlive it) and stores it in *out (null on failure).  Returns 0 or
 * ENOMEM (12). */
VANTREL_API VRC VArgMgrCreate(VPropMgr properties, VArgMgr *out);

/* Releases the options and the manager.  Returns 0; null does nothing. */
VANTREL_API VRC VArgMgrDestroy(VArgMgr manager);

/* Defines an option bound to the property propertyName.  help is a printf
 * format applied to the property's current value in the usage text (an
 * int for SHORT, INTEGER and UNSIGNED, the text "TRUE" or "FALSE" for
 * BOOLEAN, a double for REAL, the date text for UTC, the text for STRING,
 * an int64_t for INTEGER64; BINARY and UNSIGNED64 show help unformatted);
 * a null help leaves the option out of the usage text.  kind is
 * VARG_KIND_SWITCH, whose *fixedValue is copied (text duplicated), or
 * VARG_KIND_VALUE (fixedValue is not read and may be null).  An option
 * bound to a property with VPROP_FLAG_ADVANCED is advanced whatever flags
 * say.  Returns 0; VRC_ARG_EXISTS (-51) when the option is defined;
 * VRC_PROP_NOT_FOUND (-40) when VPropMgrFind finds no such property;
 * VRC_TYPE_MISMATCH (-24) for a binary fixed value; EINVAL (22) for a
 * switch without a fixed value; ENOMEM (12).  An option of another kind is
 * accepted here and gives VRC_INTERNAL_ERROR (-16) when processed. */
VANTREL_API VRC VArgMgrDefineWithFlags(VArgMgr manager, const char *option,
                                       const char *propertyName,
                                       const char *help, int32_t kind,
                                       const VTypedValue *fixedValue,
                                       uint32_t flags);

/* Defines count rows in order with VArgMgrDefineWithFlags; the first
 * failure is returned at once (rows before it stay defined).  EINVAL (22)
 * for a negative count. */
VANTREL_API VRC VArgMgrTableDefine(VArgMgr manager, const VArgTableRow *rows,
                                   int32_t count);

/* Has processing call callback(manager, value, argument) with the value
 * after the first "-name" on the command line, before anything else is
 * applied; a non-zero result stops processing and is returned.  Returns 0,
 * or VRC_FAILURE (-19) when "-name" is not a defined option. */
VANTREL_API VRC VArgMgrInterlock(VArgMgr manager,
                                 VArgInterlockCallback callback,
                                 void *argument);

/* From now on processing ends at the first argument that does not begin
 * with '-' (see VArgMgrGetUserStartPosition).  Returns 0. */
VANTREL_API VRC VArgMgrEnableUndefinedArgProcessing(VArgMgr manager);

/* The index of the first argument that belongs to the program: the one
 * after "--", or the first argument not beginning with '-' once
 * VArgMgrEnableUndefinedArgProcessing was called; -1 when there is none or
 * before processing.  -1 for a null manager. */
VANTREL_API int32_t VArgMgrGetUserStartPosition(VArgMgr manager);

/* VArgMgrProcessWithDumpProps with dumpProps 1. */
VANTREL_API VRC VArgMgrProcess(VArgMgr manager, int argc, char *const *argv);

/* Processes argv[1] to argv[argc - 1] (a null entry ends the vector early;
 * argv[0] is never read), as the file comment says.  A value option's
 * argument is converted by the property's type: SHORT, INTEGER, UNSIGNED
 * and INTEGER64 must be decimal integers and BOOLEAN one of true, false,
 * yes, no, 1, 0 in any case (else VRC_TYPE_MISMATCH (-24)); REAL, UTC,
 * STRING and BINARY are taken as they are; an UNSIGNED64 property gives
 * VRC_INTERNAL_ERROR (-16).  The bound property is marked as specified
 * even when its set fails.
 * The properties file: a missing file is logged ("Failed to load
 * properties file PATH: TEXT") as a fatal message, which ends the process,
 * when it was named on the command line or is an include file, and as a
 * warning otherwise; processing then goes on.  Any other failure of the
 * file is logged as an error and returned.  A syntax error in the file is
 * not reported here (VPropMgrParseFile).
 * With dumpProps 1 and "-dumpprops" among the arguments, the properties
 * are written to standard error in write mode and the process exits with
 * status 0.
 * Returns 0 (also when arguments were undefined); 0 at once for argc below
 * 1 or a null argv; VRC_ARG_NO_VALUE (-50) when a value option is the last
 * argument; the code of the interlock callback, of the properties file, of
 * a set, or of decrypting a value (ENOMEM (12) among them). */
VANTREL_API VRC VArgMgrProcessWithDumpProps(VArgMgr manager, int argc,
                                            char *const *argv,
                                            int32_t dumpProps);

/* Writes the usage text to standard error: "Usage: PROGRAM [options]",
 * a blank line, "where options can be:", a blank line, then one line per
 * option with help text (advanced ones only after "-advanced"), in strcmp
 * order: a tab, the option padded to the longest shown option, a space,
 * the formatted help, and " (ADVANCED)" for an advanced option.
 * Returns 0, or the code of a failed value fetch, which ends the list. */
VANTREL_API VRC VArgHelp(VArgMgr manager, const char *programName);

/* Initialises *buffer (vb_init) and appends, for every option with help
 * text in strcmp order, advanced or not, the option on a line of its own
 * and the formatted help (at most 1023 characters) on the next.  Returns 0,
 * the code of a failed value fetch, or ENOMEM (12). */
VANTREL_API VRC VArgHelpAsString(VArgMgr manager, vb_buffer *buffer);

VANTREL_END_DECLS

#endif /* VANTREL_VARGS_H */
