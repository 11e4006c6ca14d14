/* Conversions from text to the library's value types, validators, and a
 * few text transformations.
 *
 * Character classification (white space, digits, letters, case) follows
 * the C library's classification for the current locale.  Conversions
 * write their result through the second argument.  New texts and binary
 * data are allocated on the C heap; the caller releases them with free. */
#ifndef VANTREL_VSTRING_H
#define VANTREL_VSTRING_H

#include <time.h>

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* A binary value: length bytes at data (null when length is 0). */
typedef struct VBinary {
  uint32_t length; /* bytes at data */
  void *data;      /* the bytes, on the C heap */
} VBinary;

/* atoi of the text (clamped to the 32-bit range), truncated to 16 bits.
 * Returns 0. */
VANTREL_API VRC VStringToShort(const char *text, int16_t *value);

/* strtol with base 0: decimal, "0x" hexadecimal or leading-zero octal; a
 * number that does not fit in 32 bits gives INT32_MAX or INT32_MIN.
 * Returns 0. */
VANTREL_API VRC VStringToInteger(const char *text, int32_t *value);

/* Optional white space, optional sign, decimal digits; the value is
 * clamped to the 64-bit range.  Returns 0. */
VANTREL_API VRC VStringToInteger64(const char *text, int64_t *value);

/* strtoul with base 10 as it behaves where long is 32 bits: a negative
 * number of magnitude up to UINT32_MAX wraps ("-1" gives 4294967295).
 * Returns 0, or ERANGE (34) when out of range; the value is then
 * UINT32_MAX. */
VANTREL_API VRC VStringToUnsigned(const char *text, uint32_t *value);

/* Skips white space; a "-" makes the text out of range; then reads decimal
 * digits up to the first non-digit.  Returns 0, or ERANGE (34) with
 * UINT64_MAX when the text is negative or the number exceeds 64 bits. */
VANTREL_API VRC VStringToUnsigned64(const char *text, uint64_t *value);

/* 1 when the first character is "1", "t", "T", "y" or "Y" or the text
 * starts with "on" in any case, else 0.  Returns 0. */
VANTREL_API VRC VStringToBoolean(const char *text, int32_t *value);

/* strtod.  Returns the C library's error number after the conversion: 0,
 * or ERANGE (34) on overflow or underflow. */
VANTREL_API VRC VStringToReal(const char *text, double *value);

/* Seconds since the epoch.  One leading "~" is skipped; a non-zero atol
 * of the rest is the result.  Otherwise the text is parsed as "%X %x"
 * (time, then date) over the current local time, whose fields stay where
 * the text supplies none, and converted with mktime: 0 when that fails.
 * Returns 0. */
VANTREL_API VRC VStringToUTC(const char *text, time_t *value);

/* Hexadecimal text, with an optional "0x" or "0X" prefix, to bytes: each
 * pair of digits gives a byte, a final unpaired digit the last byte by
 * itself.  Reading stops at the first character that is not a hexadecimal
 * digit.  Returns 0, or ENOMEM (12) with length 0 and data null when
 * memory runs out.  Without digits the length is 0 and data null. */
VANTREL_API VRC VStringToBinary(const char *text, VBinary *value);

/* Dotted IPv4 text to an address in host byte order: the first number goes
 * to the top byte, each OR-ed in without a range check.  Missing numbers
 * ("10.1") count as 0; reading stops at the first character that is
 * neither a digit nor the expected dot.  Returns 0. */
VANTREL_API VRC VIpAddrToUnsigned(const char *text, uint32_t *address);

/* A new copy of at most the first 40 characters of text, upper-cased when
 * case_mode is 1.  Returns 0 or ENOMEM (12). */
VANTREL_API VRC VStringToNameCase(const char *text, char **name,
                                  int32_t case_mode);

/* Convert each lower-case (respectively upper-case) letter in place. */
VANTREL_API void VStringUpper(char *text);
VANTREL_API void VStringLower(char *text);

/* A new copy without leading (respectively trailing) white space.
 * Return 0 or ENOMEM (12). */
VANTREL_API VRC VStringLTrim(const char *text, char **trimmed);
VANTREL_API VRC VStringRTrim(const char *text, char **trimmed);

/* 1 when every character is an upper-case (respectively lower-case)
 * letter, also for the empty text; otherwise 0. */
VANTREL_API int VStringIsUpper(const char *text);
VANTREL_API int VStringIsLower(const char *text);

/* A new copy enclosed in single quotes, with tab, newline, carriage return,
 * double quote, single quote and backslash written as \t \n \r \" \' \\.
 * Returns 0 or ENOMEM (12). */
VANTREL_API VRC VStringQuoted(const char *text, char **quoted);

/* The reverse of VStringQuoted: drops the first and the last character;
 * in between \n, \r and \t give newline, carriage return and tab, and a
 * backslash before any other character gives that character.  A text
 * shorter than two characters gives the empty text; a backslash that ends
 * the inner text is kept.  Returns 0 or ENOMEM (12). */
VANTREL_API VRC VStringUnquoted(const char *text, char **unquoted);

/* Breaks text in place into lines of at most width characters by turning
 * white space into newlines.  While the rest of the text is longer than
 * width: a newline among its first width + 1 characters ends the line;
 * otherwise the last white space among them (not the first character)
 * becomes the newline, or else the first white space after them.
 * Returns the length of the rest that needed no break: everything after
 * the last newline made or kept, newlines of the text included
 * ("ab\ncd" with width 10 gives 5, the whole text).  Returns 0, leaving
 * that rest as it is, when it is longer than width and holds no white
 * space after its first character.  A negative width counts as 0. */
VANTREL_API int32_t VStringWordWrap(char *text, int32_t width);

/* 1 for 1 to 40 characters, a letter first, then letters, digits and
 * underscores; else 0. */
VANTREL_API int VStringIsValidName(const char *text);

/* 1 when a base-10 strtol consumes the whole text (the empty text too). */
VANTREL_API int VStringIsValidInteger(const char *text);

/* 1 when strtod consumes the whole text (the empty text too). */
VANTREL_API int VStringIsValidReal(const char *text);

/* 1 when the text is TRUE, FALSE, YES, NO, 1 or 0, ignoring case. */
VANTREL_API int VStringIsValidBoolean(const char *text);

VANTREL_END_DECLS

#endif /* VANTREL_VSTRING_H */
