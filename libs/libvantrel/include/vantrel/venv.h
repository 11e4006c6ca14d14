/* Environment variables: lookup, setting, and expansion of variable
 * references inside a text.
 *
 * Nothing here locks: like the C runtime's own environment calls, these
 * must not race with each other or with getenv/putenv on other threads.
 * A null name reads as a variable that is not set. */
#ifndef VANTREL_VENV_H
#define VANTREL_VENV_H

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* The variable's value, or null when it is not set.  The value belongs to
 * the runtime's environment and may change with the next VEnvSet. */
VANTREL_API const char *VEnvGet(const char *name);

/* The variable's value, or default_value when it is not set. */
VANTREL_API const char *VEnvGetWithDefault(const char *name,
                                           const char *default_value);

/* 1 when the variable is set (also to the empty string), else 0. */
VANTREL_API int VEnvIsSet(const char *name);

/* Sets name to value by handing a newly allocated "name=value" string to
 * the runtime's environment, which keeps it: the library never releases
 * it.  Returns 0, ENOMEM (12) when the string cannot be allocated, or the
 * runtime's error number when it refuses the string. */
VANTREL_API VRC VEnvSet(const char *name, const char *value);

/* Stores in *result a new copy of text in which every variable reference
 * is replaced by the variable's value (nothing for a variable that is not
 * set).  Reference forms: ${NAME} (to the next "}" or the end of the
 * text), $NAME (the longest run of letters, digits and underscores; a "}"
 * or "%" right after the run is swallowed) and %NAME% (to the next "%" or
 * the end).  A backslash is copied together with the character after it,
 * which therefore never starts a reference.  Values are inserted as they
 * are, never expanded again.  The text is read as multibyte characters of
 * the current locale; a byte that does not start a valid character is
 * copied unchanged.
 * Returns 0, or ENOMEM (12) when memory runs out, in which case *result is
 * not written.  The caller releases the result with free. */
VANTREL_API VRC VEnvExpandString(const char *text, char **result);

VANTREL_END_DECLS

#endif /* VANTREL_VENV_H */
