// Parsing text into broken-down times with the fixed English table.
#include <limits.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "gtest/gtest.h"
#include "vantrel/vtime.h"

namespace {

// Parses copies of input and format held in blocks of exactly their size,
// so AddressSanitizer reports any read past a terminator.  Returns the
// number of input bytes consumed, or -1 for a mismatch.
long Parse(const std::string &input, const std::string &format, struct tm *tm) {
  char *in = strdup(input.c_str());
  char *fmt = strdup(format.c_str());
  char *end = v_strptime(in, fmt, tm);
  long consumed = end == nullptr ? -1 : end - in;
  free(in);
  free(fmt);
  return consumed;
}

// Each case reads "input | format -> consumed fields": the bytes consumed
// (-1 for a mismatch), then the fields the parse set, e.g. "mday=5".
void Check(std::initializer_list<std::string> cases) {
  constexpr int kUnset = -77;
  static const std::pair<const char *, int tm::*> kFields[] = {
      {"sec", &tm::tm_sec},   {"min", &tm::tm_min},   {"hour", &tm::tm_hour},
      {"mday", &tm::tm_mday}, {"mon", &tm::tm_mon},   {"year", &tm::tm_year},
      {"wday", &tm::tm_wday}, {"yday", &tm::tm_yday}, {"isdst", &tm::tm_isdst}};
  for (const std::string &c : cases) {
    size_t bar = c.find(" | "), arrow = c.rfind(" -> ");
    struct tm tm = {};
    for (const auto &field : kFields) tm.*field.second = kUnset;
    std::string got = std::to_string(
        Parse(c.substr(0, bar), c.substr(bar + 3, arrow - bar - 3), &tm));
    for (const auto &[name, field] : kFields) {
      if (tm.*field != kUnset)
        got += ' ' + (name + ("=" + std::to_string(tm.*field)));
    }
    EXPECT_EQ(got, c.substr(arrow + 4)) << c;
  }
}

TEST(VStrptimeTest, NumericConversionsSetTheirFieldWithinRange) {
  // "%j" is stored as read, "%y" has no century pivot.
  Check({"31 | %e -> 2 mday=31", "23 | %H -> 2 hour=23", "9 | %k -> 1 hour=9",
         "12 | %I -> 2 hour=12", "0 | %l -> 1 hour=0", "001 | %j -> 3 yday=1",
         "365 | %j -> 3 yday=365", "59 | %M -> 2 min=59", "59 | %S -> 2 sec=59",
         "1 | %m -> 1 mon=0", "1900 | %Y -> 4 year=0", "08 | %y -> 2 year=8",
         "2024 | %y -> 4 year=2024", "5 | %d %H -> 1 mday=5",
         "12/31/99 | %m/%d/%y -> 8 mday=31 mon=11 year=99"});
  Check({"32 | %d -> -1", "24 | %H -> -1", "24 | %k -> -1", "13 | %I -> -1",
         "13 | %l -> -1", "366 | %j -> -1", "60 | %M -> -1", "60 | %S -> -1",
         "0 | %m -> -1", "13 | %m -> -1", "1899 | %Y -> -1", "-1 | %d -> -1",
         "+1 | %H -> -1"});
  // Overlong numbers: leading zeros are fine, no 32-bit wrap to 1 for "%j".
  Check({"00000000000000000000000000007 | %d -> 29 mday=7",
         "99999999999999999999999 | %d -> -1", "4294967297 | %j -> -1"});
  // The meridiem adjusts an hour of at most 12.
  Check({"10:30 pm | %I:%M %p -> 8 min=30 hour=22",
         "12:15 am | %I:%M %p -> 8 min=15 hour=0",
         "12:15 pm | %I:%M %p -> 8 min=15 hour=12", "0 PM | %H %p -> 4 hour=12",
         "7 aM | %H %p -> 4 hour=7", "13 pm | %H %p -> -1 hour=13",
         "11 xm | %H %p -> -1 hour=11"});
  // Overlong years saturate instead of wrapping.
  Check({"99999999999999999999 | %y -> 20 year=" + std::to_string(INT_MAX),
         "99999999999999999999 | %Y -> 20 year=" +
             std::to_string(INT_MAX - 1900)});
}

TEST(VStrptimeTest, NamesAndCompositeConversionsUseTheFixedTable) {
  // Full names first, then abbreviations ("Mond" is "Mon"), ignoring case.
  Check({"THURSDAY | %A -> 8 wday=4", "Mond | %a -> 3 wday=1",
         "sat | %A -> 3 wday=6", "Sunday, | %a, -> 7 wday=0",
         "December | %B -> 8 mon=11", "may | %b -> 3 mon=4",
         "Sept | %h -> 3 mon=8", "Th | %a -> -1", "Jux | %b -> -1"});
  // "%x" is day/month/year.
  Check({"Thursday, January, 1, 1970 | %C -> 26 mday=1 mon=0 year=70 wday=4",
         "31/12/99 23:59:58 | %c -> 17 sec=58 min=59 hour=23 mday=31 mon=11 "
         "year=99",
         "12/31/99 | %D -> 8 mday=31 mon=11 year=99",
         "23:59 | %R -> 5 min=59 hour=23",
         "11:59:58 PM | %r -> 11 sec=58 min=59 hour=23",
         "23:59:58 | %T -> 8 sec=58 min=59 hour=23",
         "23:59:58 | %X -> 8 sec=58 min=59 hour=23",
         "31/12/99 | %x -> 8 mday=31 mon=11 year=99",
         "12/31/99 | %x -> -1 mday=12"});
}

TEST(VStrptimeTest, WhiteSpaceOrdinaryAndUnknownCharacters) {
  // White space after a number passes over the format to its next blank; a
  // format blank matches any amount of input blank, including none.
  Check({"10 2024 | %H:%M:%S %Y -> 7 hour=10 year=124",
         "5 12/99 | %d/%m/%y -> 1 mday=5", "7\t\n 3 | %d %m -> 5 mday=7 mon=2",
         "   7 |  %d -> 4 mday=7", "7/3 | %d /%m -> 3 mday=7 mon=2"});
  // Minutes, seconds and years may be absent; other numbers may not.
  Check({" 5 | %M -> 0", "10: 30 | %H:%M -> 3 hour=10",
         "1:\t | %H:%S -> 2 hour=1", " 1999 | %Y -> 0", " 5 | %d -> -1",
         "x | %M -> -1"});
  // Ordinary characters match themselves; a final "%" needs one and ends.
  Check({"at 5 | at %d -> 4 mday=5", "on 5 | at %d -> -1",
         "10% | %d%% -> 3 mday=10", "10x | %d%% -> -1 mday=10",
         "abc%x | abc% -> 4", "abcx | abc% -> -1", " | %d -> 0",
         "xyz |  -> 0"});
  // Unknown conversions consume nothing; after "%E" the 'd' is ordinary.
  Check({"d5 | %Ed%d -> 2 mday=5", "5 | %z%{%\xff%n%t%U%W%w%Z%d -> 1 mday=5"});
}

TEST(VStrptimeTest, MultibyteWhiteSpaceAndInvalidSequences) {
  // In a single-byte locale only one byte is skipped after "%".
  Check({"t | %\xC3\xA9t -> -1", "\xA9t | %\xC3\xA9t -> 2"});
  if (setlocale(LC_ALL, "C.UTF-8") == nullptr) GTEST_SKIP() << "no C.UTF-8";
  // An em space (E2 80 83) is white space: it aligns and is skipped.  An
  // Arabic-Indic one is no digit; truncated sequences are no white space.
  Check({"7\xE2\x80\x83 3 | %d %m -> 6 mday=7 mon=2",
         "7\xE2\x80\x83 | %d\xE2\x80\x83 -> 4 mday=7", "\xD9\xA1 | %d -> -1",
         "\xE2\x80 | %d -> -1", "12\xE2 | %d -> 2 mday=12", "\xE2\x80 |   -> 0",
         "\xFF\xFE | \xFF\xFE -> 2", "t | %\xC3\xA9t -> 1"});
  setlocale(LC_ALL, "C");
}

}  // namespace
