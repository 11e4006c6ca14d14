/* Time utilities: the current time as seconds and as a seconds-and-
 * microseconds pair, fixed-width time texts, local broken-down time,
 * arithmetic on time-of-day pairs and a strptime with a fixed English
 * locale table.  Nothing here logs or raises an exception record. */
#ifndef VANTREL_VTIME_H
#define VANTREL_VTIME_H

#include <stdint.h>
#include <time.h>

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* Time-of-day pair: seconds since the epoch and microseconds.  Every
 * operation takes pairs by pointer. */
typedef struct VTimeval {
  int64_t tv_sec;  /* seconds since the epoch */
  int32_t tv_usec; /* microseconds, 0 to 999999 when normalised */
} VTimeval;

/* The current time in seconds since the epoch, also stored in *now when
 * now is not null. */
VANTREL_API time_t VGetCurrentUTC(time_t *now);

/* Stores the current time with millisecond resolution (the microseconds
 * are milliseconds * 1000); both fields are 0 when the clock cannot be
 * read.  Returns 0. */
VANTREL_API int v_gettimeofday(VTimeval *tv);

/* Writes the 26-byte form of the local time of *t ("Thu Jan  1 00:00:00
 * 1970\n") into buf, which holds at least 26 bytes.  A negative time gives
 * "Invalid time: %d" with the value; a time that cannot be converted (or
 * whose year needs more than four digits) gives an empty string.
 * Returns buf. */
VANTREL_API char *v_ctime(const time_t *t, char *buf);

/* As v_ctime, then cut after 24 characters, which removes the newline.
 * buf holds at least 26 bytes.  Returns buf. */
VANTREL_API char *v_ctimex(const time_t *t, char *buf);

/* Writes the current time in the v_ctimex form into buf (at least 26
 * bytes). */
VANTREL_API void v_timestring(char *buf);

/* Copies the local broken-down time of *t into *out and returns out;
 * returns null and leaves *out alone when the time cannot be converted. */
VANTREL_API struct tm *v_localtime(const time_t *t, struct tm *out);

/* The C library's mktime of *tm (which it normalises); -1, its failure
 * result, for a null tm. */
VANTREL_API time_t v_mktime(struct tm *tm);

/* a := a + b, carrying one second when the microseconds exceed 999999.
 * The result is normalised when both inputs have microseconds within
 * 0 .. 999999. */
VANTREL_API void VTimevalAdd(VTimeval *a, const VTimeval *b);

/* a := a - b, borrowing one second when the microseconds fall below 0. */
VANTREL_API void VTimevalSubtract(VTimeval *a, const VTimeval *b);

/* Adds (Increment) or subtracts (Decrement) a signed microsecond count,
 * converted with VTimevalFromMicroseconds, with VTimevalAdd or
 * VTimevalSubtract. */
VANTREL_API void VTimevalIncrement(VTimeval *tv, int32_t microseconds);
VANTREL_API void VTimevalDecrement(VTimeval *tv, int32_t microseconds);

/* Microseconds of b - a, wrapped to signed 32 bits (about +-2147 s). */
VANTREL_API int32_t VTimevalDifference(const VTimeval *a, const VTimeval *b);

/* tv_sec * 1000000 + tv_usec, wrapped to signed 32 bits. */
VANTREL_API int32_t VTimevalToMicroseconds(const VTimeval *tv);

/* tv_sec = microseconds / 1000000 and tv_usec = microseconds % 1000000,
 * both truncated toward zero. */
VANTREL_API void VTimevalFromMicroseconds(VTimeval *tv, int32_t microseconds);

/* Parses input against format into *tm with a fixed English locale table
 * and returns a pointer to the first input character not consumed, or
 * null when the input does not match.  Parsing stops with success as soon
 * as the format or the input is exhausted; fields that no conversion sets
 * are left untouched.  Unlike the C library's strptime, %y stores the
 * number read as years since 1900 ("24" is 1924).  A client that defines
 * VANTREL_LIBC_NAMES before including reaches it as strptime (see below). */
VANTREL_API char *v_strptime(const char *input, const char *format,
                             struct tm *tm);

VANTREL_END_DECLS

/* strptime stays the C library's unless the client asks for the
 * library's parser under that name. */
#ifdef VANTREL_LIBC_NAMES
#define strptime v_strptime
#endif

#endif /* VANTREL_VTIME_H */
