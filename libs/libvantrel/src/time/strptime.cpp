// strptime with one fixed English locale table.  Digits and white space
// follow the C library's classification for the current locale, decoded
// one (possibly multibyte) character at a time; the parser never looks
// past the terminator of the input or of the format.
#include <ctype.h>
#include <limits.h>
#include <stddef.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include "time/time_internal.h"
#include "vantrel/vtime.h"

namespace vantrel::internal {
namespace {

struct LocaleTable {
  const char *const *abbrev_months;
  const char *full_months[12];
  const char *const *abbrev_weekdays;
  const char *full_weekdays[7];
  const char *time_format;
  const char *date_format;
  const char *date_time_format;
  const char *am;
  const char *pm;
  const char *long_date_format;
};

constexpr LocaleTable kLocale = {
    kMonthAbbrev,
    {"January", "February", "March", "April", "May", "June", "July", "August",
     "September", "October", "November", "December"},
    kWeekdayAbbrev,
    {"Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday",
     "Saturday"},
    "%H:%M:%S",
    "%d/%m/%y",
    "%a %b %e %T %Z %Y",
    "AM",
    "PM",
    "%A, %B, %e, %Y",
};

// One character of text: its length in bytes (0 at the terminator) and its
// class.  Invalid or truncated multibyte sequences count as one byte that
// is neither a digit nor white space.
struct Char {
  size_t length;
  bool digit;
  bool space;
  int value;  // the digit's value when digit is set
};

Char ClassifySingleByte(unsigned char b) {
  bool digit = isdigit(b) != 0 && b >= '0' && b <= '9';
  return Char{1, digit, isspace(b) != 0, b - '0'};
}

Char Classify(const char *p) {
  if (*p == '\0') return Char{0, false, false, 0};
  size_t max = MB_CUR_MAX;
  if (max == 1) return ClassifySingleByte(static_cast<unsigned char>(*p));
  // Offer mbrtowc only the bytes before the terminator, so a truncated
  // sequence at the end is reported as incomplete rather than read past.
  size_t available = strnlen(p, max);
  mbstate_t state;
  memset(&state, 0, sizeof state);
  wchar_t wc;
  size_t n = mbrtowc(&wc, p, available, &state);
  if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) || n == 0) {
    return Char{1, false, false, 0};
  }
  bool digit =
      iswdigit(static_cast<wint_t>(wc)) != 0 && wc >= L'0' && wc <= L'9';
  bool space = iswspace(static_cast<wint_t>(wc)) != 0;
  return Char{n, digit, space, static_cast<int>(wc - L'0')};
}

const char *SkipSpace(const char *p) {
  for (Char c = Classify(p); c.space; c = Classify(p)) p += c.length;
  return p;
}

// Moves the format to its next white-space character (or its end).
const char *NextFormatSpace(const char *fmt) {
  for (Char c = Classify(fmt); c.length != 0 && !c.space; c = Classify(fmt)) {
    fmt += c.length;
  }
  return fmt;
}

char FoldAscii(char c) { return (c >= 'A' && c <= 'Z') ? c - 'A' + 'a' : c; }

// Length of word when the input starts with it regardless of case, else 0.
// A shorter input differs at its terminator, so nothing past it is read.
size_t MatchNoCase(const char *in, const char *word) {
  size_t i = 0;
  for (; word[i] != '\0'; ++i) {
    if (FoldAscii(in[i]) != FoldAscii(word[i])) return 0;
  }
  return i;
}

// Reads a run of digits of any length.  The value saturates at INT_MAX so
// that an overlong run fails the range check instead of overflowing.
// Returns the position after the run, or null when no digit starts it.
const char *ReadNumber(const char *in, int *value) {
  Char c = Classify(in);
  if (!c.digit) return nullptr;
  int v = 0;
  for (; c.digit; c = Classify(in)) {
    v = (v > (INT_MAX - c.value) / 10) ? INT_MAX : v * 10 + c.value;
    in += c.length;
  }
  *value = v;
  return in;
}

// A numeric conversion: accepted range of the number read, the field it
// sets and what is subtracted before storing.
struct NumericRule {
  int min;
  int max;
  int tm::*field;
  int bias;
  bool blank_skips;  // end of input or white space: read nothing, succeed
};

bool NumericRuleFor(unsigned char conv, NumericRule *rule) {
  switch (conv) {
    case 'd':
    case 'e':
      *rule = {0, 31, &tm::tm_mday, 0, false};
      return true;
    case 'H':
    case 'k':
      *rule = {0, 23, &tm::tm_hour, 0, false};
      return true;
    case 'I':
    case 'l':
      *rule = {0, 12, &tm::tm_hour, 0, false};
      return true;
    case 'j':
      *rule = {0, 365, &tm::tm_yday, 0, false};
      return true;
    case 'M':
      *rule = {0, 59, &tm::tm_min, 0, true};
      return true;
    case 'S':
      *rule = {0, 59, &tm::tm_sec, 0, true};
      return true;
    case 'm':
      *rule = {1, 12, &tm::tm_mon, 1, false};
      return true;
    case 'Y':
      *rule = {1900, INT_MAX, &tm::tm_year, 1900, true};
      return true;
    case 'y':
      *rule = {0, INT_MAX, &tm::tm_year, 0, true};
      return true;
    default:
      return false;
  }
}

struct Cursor {
  const char *in;
  const char *fmt;
};

const char *Parse(const char *in, const char *fmt, struct tm *tm);

// Reads a number for rule; when white space follows it, moves the format
// to its next white space so that the two stay aligned.
bool ParseNumeric(const NumericRule &rule, Cursor *cur, struct tm *tm) {
  if (rule.blank_skips) {
    Char c = Classify(cur->in);
    if (c.length == 0 || c.space) return true;
  }
  int value;
  const char *end = ReadNumber(cur->in, &value);
  if (end == nullptr || value < rule.min || value > rule.max) return false;
  tm->*rule.field = value - rule.bias;
  cur->in = end;
  if (Classify(end).space) cur->fmt = NextFormatSpace(cur->fmt);
  return true;
}

// Tries each full name, then its abbreviation, in table order; stores the
// index of the first match.
const char *ParseName(const char *in, const char *const *full,
                      const char *const *abbrev, int count, int *index) {
  for (int i = 0; i < count; ++i) {
    size_t n = MatchNoCase(in, full[i]);
    if (n == 0) n = MatchNoCase(in, abbrev[i]);
    if (n != 0) {
      *index = i;
      return in + n;
    }
  }
  return nullptr;
}

const char *ParseMeridiem(const char *in, struct tm *tm) {
  if (size_t n = MatchNoCase(in, kLocale.am)) {
    if (tm->tm_hour > 12) return nullptr;
    if (tm->tm_hour == 12) tm->tm_hour = 0;
    return in + n;
  }
  if (size_t n = MatchNoCase(in, kLocale.pm)) {
    if (tm->tm_hour > 12) return nullptr;
    if (tm->tm_hour != 12) tm->tm_hour += 12;
    return in + n;
  }
  return nullptr;
}

// The format a composite conversion stands for, or null.
const char *CompositeFormat(unsigned char conv) {
  switch (conv) {
    case 'C':
      return kLocale.long_date_format;
    case 'c':
      return "%x %X";
    case 'D':
      return "%m/%d/%y";
    case 'R':
      return "%H:%M";
    case 'r':
      return "%I:%M:%S %p";
    case 'T':
    case 'X':
      return kLocale.time_format;
    case 'x':
      return kLocale.date_format;
    default:
      return nullptr;
  }
}

// Conversions that are neither numeric nor composite.  Unknown ones match
// without consuming input.
const char *ParseOther(unsigned char conv, const char *in, struct tm *tm) {
  switch (conv) {
    case '%':
      return *in == '%' ? in + 1 : nullptr;
    case 'A':
    case 'a':
      return ParseName(in, kLocale.full_weekdays, kLocale.abbrev_weekdays, 7,
                       &tm->tm_wday);
    case 'B':
    case 'b':
    case 'h':
      return ParseName(in, kLocale.full_months, kLocale.abbrev_months, 12,
                       &tm->tm_mon);
    case 'p':
      return ParseMeridiem(in, tm);
    default:
      return in;
  }
}

// Runs the conversion named by conv (the format already stands after it).
bool Convert(unsigned char conv, Cursor *cur, struct tm *tm) {
  NumericRule rule;
  if (NumericRuleFor(conv, &rule)) return ParseNumeric(rule, cur, tm);
  if (const char *sub = CompositeFormat(conv)) {
    cur->in = Parse(cur->in, sub, tm);
  } else {
    cur->in = ParseOther(conv, cur->in, tm);
  }
  return cur->in != nullptr;
}

// An ordinary format character: white space skips any white space of the
// input; anything else must be the next input character.
bool MatchOrdinary(Cursor *cur) {
  Char f = Classify(cur->fmt);
  if (f.space) {
    cur->in = SkipSpace(cur->in);
  } else {
    for (size_t i = 0; i < f.length; ++i) {
      if (cur->in[i] != cur->fmt[i]) return false;
    }
    cur->in += f.length;
  }
  cur->fmt += f.length;
  return true;
}

const char *Parse(const char *in, const char *fmt, struct tm *tm) {
  Cursor cur{in, fmt};
  while (*cur.fmt != '\0' && *cur.in != '\0') {
    if (*cur.fmt != '%') {
      if (!MatchOrdinary(&cur)) return nullptr;
      continue;
    }
    unsigned char conv = static_cast<unsigned char>(*++cur.fmt);
    if (conv == '\0') return *cur.in == '%' ? cur.in + 1 : nullptr;
    if (conv > 'y') {
      // Outside the table: the whole (possibly multibyte) character goes.
      cur.fmt += Classify(cur.fmt).length;
      continue;
    }
    ++cur.fmt;
    if (!Convert(conv, &cur, tm)) return nullptr;
  }
  return cur.in;
}

}  // namespace
}  // namespace vantrel::internal

char *v_strptime(const char *input, const char *format, struct tm *tm) {
  if (input == nullptr || format == nullptr || tm == nullptr) return nullptr;
  return const_cast<char *>(vantrel::internal::Parse(input, format, tm));
}
