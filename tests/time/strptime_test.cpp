// Parsing text into broken-down times with the fixed English table.
#include <limits.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "gtest/gtest.h"
#include "vantrel/vtime.h"

namespace {

constexpr int kUnset = -77;  // marks fields no conversion should touch

struct tm Blank() {
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  tm.tm_sec = tm.tm_min = tm.tm_hour = tm.tm_mday = kUnset;
  tm.tm_mon = tm.tm_year = tm.tm_wday = tm.tm_yday = tm.tm_isdst = kUnset;
  return tm;
}

// Parses copies of input and format held in blocks of exactly their size,
// so AddressSanitizer reports any read past a terminator.  Returns the
// number of input bytes consumed, or -1 for a mismatch.
long Parse(const std::string &input, const std::string &format, struct tm *tm) {
  char *in = static_cast<char *>(malloc(input.size() + 1));
  char *fmt = static_cast<char *>(malloc(format.size() + 1));
  memcpy(in, input.c_str(), input.size() + 1);
  memcpy(fmt, format.c_str(), format.size() + 1);
  char *end = v_strptime(in, fmt, tm);
  long consumed = end == nullptr ? -1 : end - in;
  free(in);
  free(fmt);
  return consumed;
}

// The fields that differ from kUnset, e.g. "mon=11 mday=31".
std::string Describe(const struct tm &tm) {
  static const std::pair<const char *, int tm::*> kFields[] = {
      {"sec", &tm::tm_sec},   {"min", &tm::tm_min},   {"hour", &tm::tm_hour},
      {"mday", &tm::tm_mday}, {"mon", &tm::tm_mon},   {"year", &tm::tm_year},
      {"wday", &tm::tm_wday}, {"yday", &tm::tm_yday}, {"isdst", &tm::tm_isdst}};
  std::string text;
  for (const auto &[name, field] : kFields) {
    if (tm.*field == kUnset) continue;
    if (!text.empty()) text += ' ';
    text += name + ("=" + std::to_string(tm.*field));
  }
  return text;
}

struct Case {
  const char *input;
  const char *format;
  long consumed;       // -1: no match
  const char *fields;  // as Describe shows them
};

template <size_t N>
void RunCases(const Case (&cases)[N]) {
  for (const Case &c : cases) {
    struct tm tm = Blank();
    long consumed = Parse(c.input, c.format, &tm);
    EXPECT_EQ(consumed, c.consumed) << "'" << c.input << "' with " << c.format;
    EXPECT_EQ(Describe(tm), c.fields)
        << "'" << c.input << "' with " << c.format;
  }
}

TEST(VStrptimeTest, DocumentedExamples) {
  const Case cases[] = {
      {"12/31/99", "%m/%d/%y", 8, "mday=31 mon=11 year=99"},
      {"13", "%m", -1, ""},
      {"Thursday", "%a", 8, "wday=4"},
      {"5", "%d %H", 1, "mday=5"},
  };
  RunCases(cases);
}

TEST(VStrptimeTest, MeridiemAdjustsTheHour) {
  const Case cases[] = {
      {"10:30 pm", "%I:%M %p", 8, "min=30 hour=22"},
      {"12:15 am", "%I:%M %p", 8, "min=15 hour=0"},
      {"12:15 pm", "%I:%M %p", 8, "min=15 hour=12"},
      {"0 PM", "%H %p", 4, "hour=12"},
      {"7 aM", "%H %p", 4, "hour=7"},
      {"13 am", "%H %p", -1, "hour=13"},
      {"13 pm", "%H %p", -1, "hour=13"},
      {"11 xm", "%H %p", -1, "hour=11"},
  };
  RunCases(cases);
}

TEST(VStrptimeTest, EachNumericConversionSetsItsField) {
  const Case cases[] = {
      {"07", "%d", 2, "mday=7"},
      {"31", "%e", 2, "mday=31"},
      {"23", "%H", 2, "hour=23"},
      {"9", "%k", 1, "hour=9"},
      {"12", "%I", 2, "hour=12"},
      {"0", "%l", 1, "hour=0"},
      {"001", "%j", 3, "yday=1"},  // stored as read
      {"365", "%j", 3, "yday=365"},
      {"59", "%M", 2, "min=59"},
      {"59", "%S", 2, "sec=59"},
      {"1", "%m", 1, "mon=0"},
      {"1900", "%Y", 4, "year=0"},
      {"2024", "%Y", 4, "year=124"},
      {"08", "%y", 2, "year=8"},  // no century pivot
      {"2024", "%y", 4, "year=2024"},
      {"00000000000000000000000000007", "%d", 29, "mday=7"},
  };
  RunCases(cases);
}

TEST(VStrptimeTest, OutOfRangeAndOverlongNumbersFail) {
  const Case cases[] = {
      {"32", "%d", -1, ""},
      {"24", "%H", -1, ""},
      {"24", "%k", -1, ""},
      {"13", "%I", -1, ""},
      {"13", "%l", -1, ""},
      {"366", "%j", -1, ""},
      {"60", "%M", -1, ""},
      {"60", "%S", -1, ""},
      {"61", "%S", -1, ""},
      {"0", "%m", -1, ""},
      {"13", "%m", -1, ""},
      {"1899", "%Y", -1, ""},
      {"0", "%Y", -1, ""},
      {"x1", "%d", -1, ""},
      {"-1", "%d", -1, ""},
      {"+1", "%H", -1, ""},
      {"99999999999999999999999", "%d", -1, ""},
      {"4294967297", "%j", -1, ""},  // would be 1 after a 32-bit wrap
  };
  RunCases(cases);
}

TEST(VStrptimeTest, OverlongYearsSaturateInsteadOfWrapping) {
  struct tm tm = Blank();
  EXPECT_EQ(Parse("99999999999999999999", "%y", &tm), 20);
  EXPECT_EQ(tm.tm_year, INT_MAX);
  EXPECT_EQ(Parse("99999999999999999999", "%Y", &tm), 20);
  EXPECT_EQ(tm.tm_year, INT_MAX - 1900);
}

TEST(VStrptimeTest, NamesMatchFullThenAbbreviatedIgnoringCase) {
  const Case cases[] = {
      {"THURSDAY", "%A", 8, "wday=4"}, {"thu", "%a", 3, "wday=4"},
      {"Mond", "%a", 3, "wday=1"},  // "Monday" fails, "Mon" matches
      {"sat", "%A", 3, "wday=6"},      {"Sunday,", "%a,", 7, "wday=0"},
      {"December", "%B", 8, "mon=11"}, {"may", "%b", 3, "mon=4"},
      {"Sept", "%h", 3, "mon=8"},      {"Th", "%a", -1, ""},
      {"Jux", "%b", -1, ""},
  };
  RunCases(cases);
}

TEST(VStrptimeTest, CompositeConversionsUseTheFixedTable) {
  const char *full = "sec=58 min=59 hour=23";
  const Case cases[] = {
      {"Thursday, January, 1, 1970", "%C", 26, "mday=1 mon=0 year=70 wday=4"},
      {"31/12/99 23:59:58", "%c", 17,
       "sec=58 min=59 hour=23 mday=31 mon=11 year=99"},
      {"12/31/99", "%D", 8, "mday=31 mon=11 year=99"},
      {"23:59", "%R", 5, "min=59 hour=23"},
      {"11:59:58 PM", "%r", 11, full},
      {"23:59:58", "%T", 8, full},
      {"23:59:58", "%X", 8, full},
      {"31/12/99", "%x", 8, "mday=31 mon=11 year=99"},
      {"12/31/99", "%x", -1, "mday=12"},  // day/month order
      {"23:59:58 31/12/99", "%X %x", 17,
       "sec=58 min=59 hour=23 mday=31 mon=11 year=99"},
  };
  RunCases(cases);
}

TEST(VStrptimeTest, WhiteSpaceAfterANumberAlignsTheFormat) {
  const Case cases[] = {
      // The rest of "%H:%M:%S" is passed over to reach the blank.
      {"10 2024", "%H:%M:%S %Y", 7, "hour=10 year=124"},
      // No blank left in the format: parsing ends with input left over.
      {"5 12/99", "%d/%m/%y", 1, "mday=5"},
      {"7\t\n 3", "%d %m", 5, "mday=7 mon=2"},
      // A format blank matches any amount of input blank, including none.
      {"   7", " %d", 4, "mday=7"},
      {"7/3", "%d /%m", 3, "mday=7 mon=2"},
  };
  RunCases(cases);
}

TEST(VStrptimeTest, MinutesSecondsAndYearsMayBeAbsent) {
  const Case cases[] = {
      {" 5", "%M", 0, ""},
      {"10: 30", "%H:%M", 3, "hour=10"},
      {"1:\t", "%H:%S", 2, "hour=1"},
      {" 99", "%y", 0, ""},
      {" 1999", "%Y", 0, ""},
      {" 5", "%d", -1, ""},  // other numbers must be there
      {"x", "%M", -1, ""},
  };
  RunCases(cases);
}

TEST(VStrptimeTest, OrdinaryCharactersAndPercentSigns) {
  const Case cases[] = {
      {"at 5", "at %d", 4, "mday=5"},
      {"on 5", "at %d", -1, ""},
      {"100%", "%d%%", -1, ""},
      {"10%", "%d%%", 3, "mday=10"},
      {"10x", "%d%%", -1, "mday=10"},
      {"abc%x", "abc%", 4, ""},  // a final "%" needs one and ends
      {"abcx", "abc%", -1, ""},
      {"", "%d", 0, ""},   // empty input: nothing to match
      {"xyz", "", 0, ""},  // empty format
  };
  RunCases(cases);
}

TEST(VStrptimeTest, UnknownConversionsConsumeNothing) {
  const Case cases[] = {
      {"5", "%Z%d", 1, "mday=5"},
      {"d5", "%Ed%d", 2, "mday=5"},  // 'E' skipped, 'd' is ordinary
      {"5", "%z%d", 1, "mday=5"},    // past 'y'
      {"5", "%{%d", 1, "mday=5"},
      {"5", "%\xff%d", 1, "mday=5"},
      {"5", "%n%t%U%W%w%d", 1, "mday=5"},
  };
  RunCases(cases);
}

// Switches the C library's locale for one test and restores "C".
class ScopedLocale {
 public:
  explicit ScopedLocale(const char *name)
      : ok_(setlocale(LC_ALL, name) != nullptr) {}
  ~ScopedLocale() { setlocale(LC_ALL, "C"); }
  bool ok() const { return ok_; }

 private:
  bool ok_;
};

TEST(VStrptimeTest, MultibyteWhiteSpaceAndInvalidSequences) {
  ScopedLocale utf8("C.UTF-8");
  if (!utf8.ok()) GTEST_SKIP() << "C.UTF-8 is not available";
  const Case cases[] = {
      // An em space (E2 80 83) is white space: it aligns and is skipped.
      {"7\xE2\x80\x83 3", "%d %m", 6, "mday=7 mon=2"},
      {"7\xE2\x80\x83", "%d\xE2\x80\x83", 4, "mday=7"},
      {"\xD9\xA1", "%d", -1, ""},  // Arabic-Indic one is not a digit
      {"\xE2\x80", "%d", -1, ""},  // truncated at the end
      {"12\xE2", "%d", 2, "mday=12"},
      {"\xE2\x80", " ", 0, ""},  // not white space: nothing skipped
      {"\xFF\xFE", "\xFF\xFE", 2, ""},
      {"t", "%\xC3\xA9t", 1, ""},  // the whole character is skipped
  };
  RunCases(cases);
}

TEST(VStrptimeTest, SingleByteLocaleSkipsOnlyOneByteAfterPercent) {
  struct tm tm = Blank();
  EXPECT_EQ(Parse("t", "%\xC3\xA9t", &tm), -1);
  EXPECT_EQ(Parse("\xA9t", "%\xC3\xA9t", &tm), 2);
}

}  // namespace
