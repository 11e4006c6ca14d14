/* Properties: a program's typed configuration settings, their properties
 * files, and the writers that produce such files.
 *
 * A VPropMgr holds properties by name; names are compared ignoring letter
 * case.  Each property (VProperty) has a data type fixed at definition, a
 * value (the default given at definition is simply its first value), a
 * description, a group ("Default" unless set; at most 40 characters),
 * flags, optional change callbacks, and a record of whether a properties
 * file or the command line set it.  Properties may also be reached through
 * aliases (old names), which log a warning on every use.
 *
 * Setting a value (VPropertySetValue and the operations built on it):
 *   1. a read-only property (VPROP_FLAG_READONLY) refuses with
 *      VRC_PROP_READ_ONLY (-42);
 *   2. the value's type must meet the property's (VDataTypeCompatibility-
 *      Check: text meets only text, binary nothing, numbers, booleans and
 *      times each other), else VRC_TYPE_MISMATCH (-24); so a VDT_BINARY
 *      property can never be set;
 *   3. the value is converted to the property's type (VValueCopyAndConvert:
 *      a real 2.7 gives the integer 2, a boolean true the integer 1), and
 *      the conversion's code is returned when it fails;
 *   4. each callback runs in the order added with the converted value; the
 *      first non-zero result vetoes the change and is returned as it is;
 *   5. the value is stored (a text expanded with VEnvExpandString when the
 *      property has VPROP_FLAG_EXPAND).
 * On any failure the old value stays.  Every allocation failure returns
 * ENOMEM (12) and leaves the manager as it was.
 *
 * Names that are not found give VRC_PROP_NOT_FOUND (-40), except where a
 * function says VRC_NOT_FOUND (-22).  A text value whose text pointer is
 * null counts as the empty text.
 *
 * Log lines (process log, message number 0 of the set of their level):
 * "Accessing property NAME via alias ALIAS - this alias may be removed in a
 * future version" (warning) whenever a name resolves through an alias,
 * "Dynamically creating property \"NAME\"" (information), and debug lines
 * for definitions, aliases and callbacks.
 *
 * Threads: nothing here locks.  A manager is used from one thread at a
 * time, normally the start-up thread; different managers are independent,
 * so several may be read from files at once on different threads. */
#ifndef VANTREL_VPROP_H
#define VANTREL_VPROP_H

#include <stdio.h>

#include "vantrel/vbase.h"
#include "vantrel/vrc.h"
#include "vantrel/vtypes.h"
#include "vantrel/vvalue.h"

VANTREL_BEGIN_DECLS

/* Handles of a property manager and of one of its properties. */
typedef struct VPropMgrData *VPropMgr;
typedef struct VPropertyData *VProperty;

/* Manager flags. */
/* A set operation on an unknown name creates the property. */
#define VPROPMGR_FLAG_DYNAMIC 1u

/* Property flags. */
/* Text values pass through VEnvExpandString when defined, set or
 * decrypted. */
#define VPROP_FLAG_EXPAND 1u
/* Left out when the manager is written to a properties file. */
#define VPROP_FLAG_NOWRITE 2u
/* Every set operation fails with VRC_PROP_READ_ONLY (-42). */
#define VPROP_FLAG_READONLY 4u
/* Carried by "Props.CheckNames"; nothing in the library tests it. */
#define VPROP_FLAG_CHECKNAMES 16u
/* Command-line options bound to the property are advanced options
 * (vargs.h). */
#define VPROP_FLAG_ADVANCED 32u

/* Characters a group name keeps. */
#define VPROP_GROUP_SIZE 40

/* A change callback: called with the property and the new value, already
 * converted to the property's type, before the value is stored.  A
 * non-zero result vetoes the change and is returned to the setter.  The
 * callback must not undefine the property or destroy its manager. */
typedef VRC (*VPropertyCallback)(VProperty property,
                                 const VTypedValue *newValue, void *argument);

/* One row of VPropMgrTableDefine.  value points to a cell read under type
 * (null: the type's zero value, the empty text for VDT_STRING); group may
 * be null for "Default". */
typedef struct VPropTableRow {
  const char *name;        /* the property's name */
  const char *description; /* its description */
  const char *group;       /* its group; null for "Default" */
  VDataType type;          /* its data type */
  const VValue *value;     /* its default value, read under type */
  uint32_t flags;          /* VPROP_FLAG_... bits */
} VPropTableRow;

/* Where reading a properties file stopped; filled by VPropMgrParseFile.
 * Set file to null before the call. */
#define VPROP_ERROR_TEXT_SIZE 50
typedef struct VPropParseError {
  /* New text, the caller's to free: the include file that could not be
   * opened, or else the file being read when reading stopped.  Null when
   * that copy could not be made. */
  char *file;
  /* The line in the file being read (for an include file that could not
   * be opened, the line of its include statement). */
  int32_t line;
  /* The property name of a rejected entry, the offending text of a bad
   * include statement, "syntax error", "Could not open include file",
   * "Out of memory", or empty; cut to 49 characters. */
  char text[VPROP_ERROR_TEXT_SIZE];
  /* The code VPropMgrParseFile returned (0 after a syntax error). */
  VRC code;
} VPropParseError;

/* ---- Managers. */

/* Creates a manager with the given manager flags and stores it in *out
 * (null on failure).  The manager starts with the property
 * "Props.CheckNames" (VDT_BOOLEAN, flags VPROP_FLAG_CHECKNAMES): true, or
 * false when VPROPMGR_FLAG_DYNAMIC is given; setting it to false turns
 * dynamic creation on and true turns it off.  Returns 0 or ENOMEM (12). */
VANTREL_API VRC VPropMgrCreateWithFlags(VPropMgr *out, uint32_t flags);

/* Releases every property, alias and include record, the decryption key
 * if there is one, and the manager.  Returns 0; null does nothing. */
VANTREL_API VRC VPropMgrDestroy(VPropMgr manager);

/* The property of that name (ignoring case), else the property that the
 * alias of that name stands for (logging the alias warning), else null. */
VANTREL_API VProperty VPropMgrFind(VPropMgr manager, const char *name);

/* 1 when VPropMgrFind finds something, else 0. */
VANTREL_API int VPropMgrExists(VPropMgr manager, const char *name);

/* Calls visitor(property, argument) for every property until it returns
 * non-zero, and returns that result (0 when all returned 0).  With sorted
 * non-zero the properties come in order of name ignoring case; ENOMEM (12)
 * when the sort array cannot be had.  The visitor must not define or
 * undefine properties.  EINVAL (22) for a null visitor. */
VANTREL_API int VPropMgrWalk(VPropMgr manager, VVisitFunc visitor,
                             void *argument, int sorted);

/* ---- Defining. */

/* Defines a property whose type and first value are those of
 * *defaultValue: scalars copied, a text duplicated with its length word
 * (or, with VPROP_FLAG_EXPAND, expanded and measured with strlen), binary
 * data copied into a new block (none for length 0).  Group "Default", not
 * specified.  A null description is the empty text.  Returns 0;
 * VRC_PROP_EXISTS (-41) when the name is used by a
 * property or an alias; VRC_INVALID_DATATYPE (-25) for a type outside 1 to
 * 10; EINVAL (22) for binary data of non-zero length without a pointer;
 * ENOMEM (12). */
VANTREL_API VRC VPropMgrDefineWithFlags(VPropMgr manager, const char *name,
                                        const char *description,
                                        const VTypedValue *defaultValue,
                                        uint32_t flags);

/* Defines count rows in order, each as VPropMgrDefineWithFlags and then
 * its group when not null.  The first failure is returned at once; rows
 * before it stay defined.  Returns 0, or EINVAL (22) for a negative count
 * or a row without a name. */
VANTREL_API VRC VPropMgrTableDefine(VPropMgr manager, const VPropTableRow *rows,
                                    int32_t count);

/* Removes the property of that name (aliases are not looked at) together
 * with every alias that stands for it, and releases it.  Returns 0;
 * VRC_PROP_NOT_FOUND (-40); ENOMEM (12), with nothing removed. */
VANTREL_API VRC VPropMgrUndefine(VPropMgr manager, const char *name);

/* ---- Setting and getting. */

/* Finds the property and sets it (see the file comment).  When nothing is
 * found and the manager has VPROPMGR_FLAG_DYNAMIC, the property is first
 * defined with this value, an empty description and VPROP_FLAG_EXPAND
 * (and stays defined even when the set then fails, as it does for binary
 * values); the definition's failure code is returned.  Returns 0,
 * VRC_PROP_NOT_FOUND (-40) or the set's code. */
VANTREL_API VRC VPropMgrSetValue(VPropMgr manager, const char *name,
                                 const VTypedValue *value);

/* VPropMgrSetValue, then VPropertySetValueSave with save 1: the property
 * is written in reproduce mode after those set from the file. */
VANTREL_API VRC VPropMgrSetValueForWrite(VPropMgr manager, const char *name,
                                         const VTypedValue *value);

/* Sets the property (see the file comment).  Neither the specified mark
 * nor the file position changes. */
VANTREL_API VRC VPropertySetValue(VProperty property, const VTypedValue *value);

/* VPropertySetValue; on success with save 1, a property that no
 * properties file set is marked for reproduce mode as set last. */
VANTREL_API VRC VPropertySetValueSave(VProperty property,
                                      const VTypedValue *value, int32_t save);

/* Fills *out with the type and a copy of the value (text duplicated with
 * its strlen length, binary data in a new block, none for length 0); free
 * it with VTypedValueFreeValue.  Returns 0 or ENOMEM (12), leaving *out
 * unchanged. */
VANTREL_API VRC VPropertyGetValue(VProperty property, VTypedValue *out);

/* VPropMgrFind, then VPropertyGetValue.  VRC_PROP_NOT_FOUND (-40). */
VANTREL_API VRC VPropMgrGetValue(VPropMgr manager, const char *name,
                                 VTypedValue *out);

/* The value rendered by VTypedValueToString into a new text in *out,
 * which the caller frees.  VRC_PROP_NOT_FOUND (-40), ENOMEM (12), or the
 * rendering's code. */
VANTREL_API VRC VPropMgrGetStringValue(VPropMgr manager, const char *name,
                                       char **out);

/* ---- Accessors.  Texts stay the property's; null for a null property. */

/* The property's name and description. */
VANTREL_API const char *VPropertyGetName(VProperty property);
VANTREL_API const char *VPropertyGetDescription(VProperty property);
/* VDT_INVALID for a null property. */
VANTREL_API VDataType VPropertyGetType(VProperty property);
VANTREL_API uint32_t VPropertyGetFlags(VProperty property);
VANTREL_API void VPropertySetFlags(VProperty property, uint32_t flags);
/* 1 once a properties file or the command line gave the property a value,
 * else 0. */
VANTREL_API int32_t VPropertyWasSpecified(VProperty property);
VANTREL_API void VPropertySetWasSpecified(VProperty property, int32_t value);
/* 1 once the value was decrypted after processing the command line. */
VANTREL_API int32_t VPropertyWasEncrypted(VProperty property);
VANTREL_API const char *VPropertyGetGroup(VProperty property);
/* Copies at most VPROP_GROUP_SIZE (40) characters of group. */
VANTREL_API void VPropertySetGroup(VProperty property, const char *group);
/* VPropertySetGroup on the property VPropMgrFind finds.  Returns 0, or
 * VRC_NOT_FOUND (-22). */
VANTREL_API VRC VPropMgrSetGroup(VPropMgr manager, const char *name,
                                 const char *group);

/* ---- Callbacks. */

/* Appends a callback; the same pair may be added twice and then runs
 * twice.  Returns 0 or ENOMEM (12). */
VANTREL_API VRC VPropertyAddCallback(VProperty property,
                                     VPropertyCallback function,
                                     void *argument);
/* Removes the first callback with this function and this argument.
 * Returns 0; VRC_PROP_NOT_FOUND (-40) when the property never had a
 * callback list; VRC_NOT_FOUND (-22) when no callback matches. */
VANTREL_API VRC VPropertyRemoveCallback(VProperty property,
                                        VPropertyCallback function,
                                        void *argument);
/* Removes every callback.  Returns 0. */
VANTREL_API VRC VPropertyRemoveAllCallbacks(VProperty property);
/* The same on the property VPropMgrFind finds; VRC_PROP_NOT_FOUND (-40)
 * when there is none. */
VANTREL_API VRC VPropMgrAddCallback(VPropMgr manager, const char *name,
                                    VPropertyCallback function, void *argument);
VANTREL_API VRC VPropMgrRemoveCallback(VPropMgr manager, const char *name,
                                       VPropertyCallback function,
                                       void *argument);

/* ---- Aliases. */

/* Makes alias another name of the property that name finds (an alias
 * given as name stands for its property, so aliases never chain).
 * Returns 0; VRC_PROP_EXISTS (-41) when alias is used by a property or an
 * alias; VRC_PROP_NOT_FOUND (-40); ENOMEM (12). */
VANTREL_API VRC VPropMgrAddAlias(VPropMgr manager, const char *name,
                                 const char *alias);
/* Removes an alias.  Returns 0 or VRC_PROP_NOT_FOUND (-40). */
VANTREL_API VRC VPropMgrRemoveAlias(VPropMgr manager, const char *alias);

/* ---- Properties files.
 *
 * The format, one entry per "NAME: VALUE" (entries may share a line or
 * span lines), with comments from '#' to the end of the line:
 *   NAME     a letter, then letters, digits, '-', '.', '_'.  The keywords
 *            true, yes, on, false, no, off and include (any letter case)
 *            are never names.
 *   VALUE    an integer (optional '-', decimal digits), a real (digits '.'
 *            digits, no exponent), a boolean keyword, a text in double or
 *            single quotes (a quote escaped by a backslash belongs to the
 *            text; \n \t \r \a \b \e \f \v \\ \" \' and three octal digits
 *            are replaced; before any other character the backslash is
 *            dropped), binary data ("0x" and pairs of hexadecimal digits),
 *            or a time ('~' and digits: seconds since the epoch).
 *   include "FILE" or include 'FILE'
 *            reads FILE (environment references expanded, backslashes
 *            kept) in place, up to 10 files deep.
 * Each entry is applied when read: VPropMgrSetValue converts the value to
 * the property's type, and the property is marked as specified.  An error
 * stops the reading and leaves the entries before it applied.
 *
 * Reads the file at path into the manager.  When reading stops early, the
 * record (may be null) is filled.  Returns:
 *   0 when all went well, and also after a syntax error (a NAME not
 *     followed by ':' and a value, an unquoted text, a '+' before a
 *     number, an unterminated quote): the record then says "syntax error"
 *     and the rest of the file is ignored; likewise when an include
 *     statement runs out of memory or its name cannot be expanded, with
 *     the record saying "Out of memory";
 *   the system's error number when path cannot be opened (ENOENT (2) when
 *     it does not exist; the record is not touched) or read;
 *   ENOENT (2) when an include file cannot be opened;
 *   VRC_PROP_INCLUDE_DEPTH (-43) for an eleventh nested include file;
 *   VRC_PARSE_FAILURE (-21) when include is not followed by a quoted name;
 *   VRC_PROP_NOT_FOUND (-40), VRC_PROP_READ_ONLY (-42), VRC_TYPE_MISMATCH
 *     (-24), a callback's veto or another code of VPropMgrSetValue for a
 *     rejected entry, whose property name is the record's text;
 *   ERANGE (34) for a real or a time that does not fit its type;
 *   EILSEQ for a quoted text that is not valid multibyte text in the
 *     current locale (in a locale of single-byte characters every byte is
 *     valid);
 *   ENOMEM (12). */
VANTREL_API VRC VPropMgrParseFile(VPropMgr manager, const char *path,
                                  VPropParseError *error);

/* Writers.  Both forms begin with a header ("# Vantrel Properties File",
 * the library version and the time of writing), end with "# End of File",
 * and write one line per property: "NAME: VALUE # TYPE (DESCRIPTION)",
 * texts in single quotes with backslash escapes, reals with six decimals,
 * times as seconds followed by the date, binary data as "0x" and
 * hexadecimal digits.  Properties with VPROP_FLAG_NOWRITE are left out.
 *   Write mode: every property, by name ignoring case, then every include
 *     statement that a properties file held.
 *   Reproduce mode: only the properties that the top-level properties file
 *     set, in the order of its lines, with its include statements where
 *     they stood, followed by those set with VPropMgrSetValueForWrite.
 * Return 0; the system's error number of the first write that fails (or
 * of opening the file); ENOMEM (12). */
VANTREL_API VRC VPropMgrWriteToStream(VPropMgr manager, FILE *stream);
/* Creates or empties the file at path (mode 0666 before the umask). */
VANTREL_API VRC VPropMgrWriteToFile(VPropMgr manager, const char *path);
/* Writes to the descriptor from its current position; it stays open. */
VANTREL_API VRC VPropMgrWriteToFD(VPropMgr manager, int descriptor);
VANTREL_API VRC VPropMgrReproduceToStream(VPropMgr manager, FILE *stream);
VANTREL_API VRC VPropMgrReproduceToFD(VPropMgr manager, int descriptor);

VANTREL_END_DECLS

#endif /* VANTREL_VPROP_H */
