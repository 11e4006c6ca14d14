#include <errno.h>
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <memory>
#include <string>

#include "support/alloc_sweep.h"
#include "text/conversions_internal.h"
#include "vantrel/vstring.h"

namespace {

// A copy of text in a heap block of exactly its size, so that reading past
// the terminator is caught by the address sanitizer.
std::unique_ptr<char, decltype(&free)> Exact(const std::string &text) {
  char *p = static_cast<char *>(malloc(text.size() + 1));
  memcpy(p, text.c_str(), text.size() + 1);
  return {p, free};
}

template <typename T>
struct NumberCase {
  const char *text;
  T value;
  VRC rc;
};

template <typename T>
void CheckNumbers(VRC (*convert)(const char *, T *),
                  std::initializer_list<NumberCase<T>> cases) {
  for (const auto &c : cases) {
    T value{};
    EXPECT_EQ(convert(Exact(c.text).get(), &value), c.rc) << c.text;
    EXPECT_EQ(value, c.value) << c.text;
  }
}

TEST(VStringTest, IntegerConversionsAndTheirRanges) {
  CheckNumbers<int16_t>(VStringToShort, {{"-5", -5, 0},
                                         {"  42abc", 42, 0},
                                         {"0x10", 0, 0},
                                         {"70000", 4464, 0},
                                         {"99999999999", -1, 0},
                                         {"-99999999999", 0, 0}});
  CheckNumbers<int32_t>(VStringToInteger,
                        {{"0x1f", 31, 0},
                         {"017", 15, 0},
                         {" +7 ", 7, 0},
                         {"", 0, 0},
                         {"-2147483648", INT32_MIN, 0},
                         {"2147483648", INT32_MAX, ERANGE},
                         {"-2147483649", INT32_MIN, ERANGE},
                         {"0xFFFFFFFF", INT32_MAX, ERANGE},
                         {"-99999999999999999999999", INT32_MIN, ERANGE}});
  CheckNumbers<int64_t>(VStringToInteger64,
                        {{" -12x", -12, 0},
                         {"+5", 5, 0},
                         {"0x10", 0, 0},
                         {"9223372036854775807", INT64_MAX, 0},
                         {"9223372036854775808", INT64_MAX, 0},
                         {"-9223372036854775809", INT64_MIN, 0}});
  CheckNumbers<uint32_t>(VStringToUnsigned,
                         {{"4294967295", UINT32_MAX, 0},
                          {" 12abc", 12, 0},
                          {"-1", UINT32_MAX, 0},
                          {"-4294967295", 1, 0},
                          {"4294967296", UINT32_MAX, ERANGE},
                          {"-4294967296", UINT32_MAX, ERANGE},
                          {"99999999999999999999999", UINT32_MAX, ERANGE}});
  CheckNumbers<uint64_t>(VStringToUnsigned64,
                         {{"18446744073709551615", UINT64_MAX, 0},
                          {" \t42z", 42, 0},
                          {"+5", 0, 0},
                          {"18446744073709551616", UINT64_MAX, ERANGE},
                          {"-0", UINT64_MAX, ERANGE},
                          {" -7", UINT64_MAX, ERANGE}});
  CheckNumbers<uint32_t>(VIpAddrToUnsigned, {{"192.168.1.2", 0xC0A80102u, 0},
                                             {"10.1", 0x0A010000u, 0},
                                             {"1.2.3.4.5", 0x01020304u, 0},
                                             {"1.2.300.4", 0x01032C04u, 0},
                                             {"1.x.3.4", 0x01000000u, 0},
                                             {"", 0, 0}});
}

TEST(VStringTest, BooleanRealAndTime) {
  CheckNumbers<int32_t>(VStringToBoolean, {{"yes", 1, 0},
                                           {"ON", 1, 0},
                                           {"oN", 1, 0},
                                           {"Tuesday", 1, 0},
                                           {"1000", 1, 0},
                                           {"off", 0, 0},
                                           {"no", 0, 0},
                                           {"false", 0, 0},
                                           {"", 0, 0},
                                           {"o", 0, 0},
                                           {" true", 0, 0}});
  CheckNumbers<double>(VStringToReal, {{"-2.5e3", -2500.0, 0},
                                       {"abc", 0.0, 0},
                                       {"1e999", HUGE_VAL, ERANGE},
                                       {"1e-999", 0.0, ERANGE}});
  // A non-zero leading number is taken as seconds, even before a time.
  CheckNumbers<time_t>(VStringToUTC,
                       {{"~1234", 1234, 0}, {"12:30:45 01/02/99", 12, 0}});
  struct tm expected = {};
  expected.tm_sec = 45, expected.tm_min = 30, expected.tm_mday = 1;
  expected.tm_mon = 1, expected.tm_year = 99, expected.tm_isdst = -1;
  CheckNumbers<time_t>(VStringToUTC,
                       {{"00:30:45 01/02/99", mktime(&expected), 0}});
  // Without a date, today's; text that matches nothing gives now.
  time_t now = time(nullptr), value = 0;
  VStringToUTC("~00:07:08", &value);
  struct tm got;
  localtime_r(&value, &got);
  EXPECT_EQ(got.tm_hour * 3600 + got.tm_min * 60 + got.tm_sec, 428);
  EXPECT_LE(llabs(static_cast<long long>(value - now)), 86400);
  VStringToUTC("garbage", &value);
  EXPECT_LE(llabs(static_cast<long long>(value - now)), 5);
}

TEST(VStringTest, ToBinaryReadsHexPairsUpToTheFirstNonDigit) {
  const std::pair<const char *, std::string> cases[] = {
      {"0x0a1B", "\x0a\x1b"},
      {"0XfF", "\xff"},
      {"abc", "\xab\x0c"},
      {"0", std::string(1, '\0')},
      {"12zz34", "\x12"},
      {"", ""},
      {"0xg1", ""}};
  for (const auto &[text, bytes] : cases) {
    VBinary value = {99, &value};
    EXPECT_EQ(VStringToBinary(Exact(text).get(), &value), 0);
    EXPECT_EQ(std::string(static_cast<char *>(value.data), value.length),
              bytes);
    EXPECT_EQ(value.data == nullptr, bytes.empty()) << text;
    free(value.data);
  }
  vtest::SweepAllocations([&](vtest::Fault &f) {
    VBinary value = {7, &value};
    f.Arm();
    VRC rc = VStringToBinary("0xdeadbeef", &value);
    bool failed = f.Disarm();
    EXPECT_EQ(rc, failed ? ENOMEM : 0);
    EXPECT_EQ(value.length, failed ? 0u : 4u);
    EXPECT_EQ(value.data == nullptr, failed);
    free(value.data);
  });
}

TEST(VStringTest, CaseInPlaceAndCaseTests) {
  char text[] = "aBc1_z";
  VStringUpper(text);
  EXPECT_STREQ(text, "ABC1_Z");
  VStringLower(text);
  EXPECT_STREQ(text, "abc1_z");
  EXPECT_EQ(VStringIsUpper("") + VStringIsLower(""), 2);
  EXPECT_EQ(VStringIsUpper("ABC") + VStringIsLower("abc"), 2);
  EXPECT_EQ(VStringIsUpper("AB1") + VStringIsUpper("ABc"), 0);
  EXPECT_EQ(VStringIsLower("ab c"), 0);
}

struct CopyCase {
  VRC (*fn)(const char *, char **);
  std::string text;
  std::string expected;
};

VRC NameUpper(const char *t, char **o) { return VStringToNameCase(t, o, 1); }
VRC NameKeep(const char *t, char **o) { return VStringToNameCase(t, o, 0); }

const CopyCase kCopyCases[] = {
    {NameKeep, std::string(50, 'n'), std::string(40, 'n')},
    {NameUpper, "Port_1", "PORT_1"},
    {VStringLTrim, " \t\n a b  ", "a b  "},
    {VStringLTrim, "   ", ""},
    {VStringRTrim, "  a b \t\r\n", "  a b"},
    {VStringQuoted, "a'", "'a\\''"},
    {VStringQuoted, "\t\n\r\"'\\x", "'\\t\\n\\r\\\"\\'\\\\x'"},
    {VStringQuoted, "", "''"},
    {VStringUnquoted, "'a\\''", "a'"},
    {VStringUnquoted, "'\\t\\n\\r\\q\\\\'", "\t\n\rq\\"},
    {VStringUnquoted, "'a\\'", "a\\"},  // a backslash ending the inner text
    {VStringUnquoted, "'", ""},
    {VStringUnquoted, "", ""}};

TEST(VStringTest, CopyingTransformations) {
  for (const auto &c : kCopyCases) {
    char *out = nullptr;
    EXPECT_EQ(c.fn(Exact(c.text).get(), &out), 0);
    EXPECT_EQ(std::string(out), c.expected) << c.text;
    free(out);
  }
}

TEST(VStringTest, CopyingTransformationsFailCleanlyWithoutMemory) {
  for (const auto &c : kCopyCases) {
    vtest::SweepAllocations([&](vtest::Fault &f) {
      char sentinel;
      char *out = &sentinel;
      f.Arm();
      VRC rc = c.fn(c.text.c_str(), &out);
      if (f.Disarm()) {
        EXPECT_EQ(rc, ENOMEM);
        EXPECT_EQ(out, &sentinel) << c.text;
      } else {
        EXPECT_EQ(rc, 0);
        EXPECT_EQ(out, c.expected);
        free(out);
      }
    });
  }
}

TEST(VStringTest, WordWrapBreaksAtWhiteSpace) {
  struct Case {
    const char *text;
    int32_t width;
    const char *wrapped;
    int32_t result;
  };
  const Case cases[] = {
      {"hello world abcdefghijkl", 10, "hello\nworld\nabcdefghijkl", 0},
      {"aaa bbb ccc", 20, "aaa bbb ccc", 11},
      {"aaaa bbbb cccc dddd", 9, "aaaa bbbb\ncccc dddd", 9},
      {"ab\ncd efgh ijkl", 5, "ab\ncd\nefgh\nijkl", 4},
      {"abc\nd\ne", 4, "abc\nd\ne", 3},       // the whole rest that fits
      {"abcde fgh", 5, "abcde\nfgh", 3},      // white space at the limit
      {"abcdefgh ij", 5, "abcdefgh\nij", 2},  // first white space after it
      {" abcdefg", 3, " abcdefg", 0},  // the first character never breaks
      {"a b", -4, "a\nb", 0},
      {"", 3, "", 0}};
  for (const auto &c : cases) {
    auto text = Exact(c.text);
    EXPECT_EQ(VStringWordWrap(text.get(), c.width), c.result) << c.text;
    EXPECT_STREQ(text.get(), c.wrapped) << c.text;
  }
}

TEST(VStringTest, ValidatorsAcceptExactlyTheirForms) {
  std::string forty(40, 'n'), forty_one(41, 'n');
  const struct {
    int (*check)(const char *);
    const char *valid[6];
    const char *invalid[6];
  } cases[] = {{VStringIsValidName,
                {"a", "A_1b", forty.c_str()},
                {forty_one.c_str(), "", "1a", "_a", "a-b"}},
               {VStringIsValidInteger,
                {"", "-12", " 12", "99999999999999999999"},
                {"12 ", "1.5", "0x10", "-"}},
               {VStringIsValidReal, {"", "1.5e3", "-7"}, {"1.5 ", "abc"}},
               {VStringIsValidBoolean,
                {"true", "FaLsE", "Yes", "NO", "1", "0"},
                {"on", "t", "", "yes "}},
               {vantrel::internal::IsValidInteger64Text,
                {"", " \t-12", "-", "123456789012345678901"},
                {"12 ", "+1", "1-"}}};
  for (const auto &c : cases) {
    for (int valid = 0; valid < 2; ++valid) {
      for (const char *text : valid ? c.valid : c.invalid) {
        if (text == nullptr) break;
        EXPECT_EQ(c.check(Exact(text).get()), valid) << '"' << text << '"';
      }
    }
  }
}

}  // namespace
