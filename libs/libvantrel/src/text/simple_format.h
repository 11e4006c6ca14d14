// A formatter for the conversions log messages mostly use, several times
// faster than vsnprintf for them and with exactly its output.
#ifndef VANTREL_TEXT_SIMPLE_FORMAT_H
#define VANTREL_TEXT_SIMPLE_FORMAT_H

#include <stdarg.h>
#include <stddef.h>

namespace vantrel::internal {

// Formats into out (size bytes, terminated) when the format holds only
// literal text, %% and the conversions d, i, u, x and s (with no length
// modifier or with l, ll or z) and c, none with flags, width or precision.
// Returns the length of the text, or -1 when the format holds anything
// else, a %s argument is null, or the text does not fit; the caller then
// formats with vsnprintf.  `args` is read through a copy and stays usable.
int FormatSimple(char *out, size_t size, const char *format, va_list args);

}  // namespace vantrel::internal

#endif  // VANTREL_TEXT_SIMPLE_FORMAT_H
