/* Allocated strings: NUL-terminated strings on the C heap that grow as they
 * are filled.
 *
 * The caller keeps a plain `char *` (null at first) and passes its address
 * to every call, which may move the string.  A process-wide tracker
 * remembers the real capacity of the ten most recently used strings, so
 * that repeated appends grow them in steps of 1024 bytes instead of
 * reallocating each time.  Release such a string with astrfree, or finish it
 * with astrstatic and keep it as an ordinary heap string.
 *
 * When memory runs out, the caller's string is released and its pointer set
 * to null; the call returns null (afgettoch 0, the formatters -1).  The
 * tracker is not locked: callers on several threads serialise these calls.
 * The copy and append calls accept a source that points into the string
 * itself. */
#ifndef VANTREL_VASTRING_H
#define VANTREL_VASTRING_H

#include <stdarg.h>
#include <stdio.h>

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* Makes room for length characters and a terminator; a null string becomes
 * an empty one.  The contents survive.  Returns the (possibly moved)
 * string, or null (the string released) when memory runs out or the block
 * would exceed INT32_MAX bytes. */
VANTREL_API char *astrensure(char **s, uint32_t length);
/* Ends the string's growth: it leaves the tracker and is reallocated to its
 * exact size when that succeeds.  A null string is left alone. */
VANTREL_API void astrstatic(char **s);
/* Releases the string and sets the pointer to null; null is allowed. */
VANTREL_API void astrfree(char **s);

/* The string becomes a copy of source.  Returns the string or null. */
VANTREL_API char *astrcpy(char **s, const char *source);
/* The string becomes the characters of buffer up to its first NUL, at most
 * n of them (a negative n counts as 0).  Returns the string or null. */
VANTREL_API char *astrn0cpy(char **s, const char *buffer, int n);
/* Appends source.  Returns the string or null. */
VANTREL_API char *astrcat(char **s, const char *source);
/* Appends the characters of source up to its first NUL, at most n; a
 * negative n leaves the string as it is.  Returns the string or null. */
VANTREL_API char *astrn0cat(char **s, const char *source, int n);

/* Reads one line of any length, its line feed included, replacing the
 * string's contents; a NUL byte also ends the line, and a read error ends
 * it as the end of file does.  At end of file with nothing read the string
 * is released and the result is null. */
VANTREL_API char *afgets(char **s, FILE *stream);
/* Reads up to and including the first byte equal to stop, replacing the
 * contents.  Returns the number of bytes read; 0, with the string released,
 * at end of file with nothing read or when memory runs out. */
VANTREL_API int afgettoch(char **s, FILE *stream, char stop);

/* The string becomes the formatted text.  Each conversion is rendered by
 * the C library's formatter, its argument taken with the type that its
 * letter and size letter name (hh, h, l, ll, q, L, j, z, Z, t; ll and q on
 * a real take a long double, as L does).  Where this layer differs:
 * - a null string argument prints as "(null)", also under a precision;
 * - "C" and "S" take a char (as an int) and a char string, not wide ones
 *   (the compiler's format check expects wide ones: prefer c and s);
 * - "%n" stores the length so far through the type its size letter names,
 *   and nothing through a null pointer; the C formatter never sees it;
 * - numbered arguments ("%2$s") are taken by this layer, which refuses a
 *   format that mixes numbered and unnumbered arguments, leaves a number
 *   out or gives one number two types;
 * - a letter without meaning takes no argument and appears as written.
 * Returns the length of the text, or -1: with the string null when memory
 * ran out; with the text so far when the C formatter failed or the text
 * would exceed INT_MAX; with the empty text when the format was refused. */
VANTREL_API int avsprintf(char **s, const char *format, va_list args)
    VANTREL_PRINTF(2, 0);
/* avsprintf with the arguments given directly.  Linked under its own name
 * so that the C library's function of the same name stays intact for the
 * rest of the process; a client that defines VANTREL_LIBC_NAMES before
 * including reaches it as asprintf. */
VANTREL_API int v_asprintf(char **s, const char *format, ...)
    VANTREL_PRINTF(2, 3);

VANTREL_END_DECLS

/* Opt-in for code written against the library's own asprintf contract. */
#ifdef VANTREL_LIBC_NAMES
#define asprintf v_asprintf
#endif

#endif /* VANTREL_VASTRING_H */
