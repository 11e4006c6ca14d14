// Time helpers shared inside the library.
#ifndef VANTREL_TIME_TIME_INTERNAL_H
#define VANTREL_TIME_TIME_INTERNAL_H

#include <stddef.h>

namespace vantrel::internal {

// English day and month abbreviations, shared by the fixed 26-byte time
// text and the parser's locale table.
inline constexpr const char *kWeekdayAbbrev[7] = {"Sun", "Mon", "Tue", "Wed",
                                                  "Thu", "Fri", "Sat"};
inline constexpr const char *kMonthAbbrev[12] = {"Jan", "Feb", "Mar", "Apr",
                                                 "May", "Jun", "Jul", "Aug",
                                                 "Sep", "Oct", "Nov", "Dec"};

// Writes the current local date and time in the locale's "%x %X" form into
// buf (size bytes, terminator included).  When that form cannot be made or
// does not fit, writes the v_timestring form cut to fit instead.  Nothing is
// written when size is 0.
void FormatLocalDateTime(char *buf, size_t size);

}  // namespace vantrel::internal

#endif  // VANTREL_TIME_TIME_INTERNAL_H
