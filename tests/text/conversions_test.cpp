#include <errno.h>
#include <gtest/gtest.h>
#include <math.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <memory>
#include <sstream>
#include <string>

#include "support/alloc_sweep.h"
#include "text/conversions_internal.h"
#include "vantrel/vstring.h"

namespace {

// A copy of text in a heap block of exactly its size, so that reading past
// the terminator is caught by the address sanitizer.
std::unique_ptr<char, decltype(&free)> Exact(const std::string &text) {
  return {strdup(text.c_str()), free};
}

// Each case reads "text -> value", with " ERANGE" after the value when the
// conversion reports a range error.
template <typename T>
void CheckNumbers(VRC (*convert)(const char *, T *),
                  std::initializer_list<std::string> cases) {
  for (const std::string &c : cases) {
    size_t arrow = c.find(" -> ");
    T value{};
    VRC rc = convert(Exact(c.substr(0, arrow)).get(), &value);
    std::ostringstream got;
    got << value;
    if (rc != 0) got << (rc == ERANGE ? " ERANGE" : " error");
    EXPECT_EQ(got.str(), c.substr(arrow + 4)) << c;
  }
}

TEST(VStringTest, IntegerConversionsAndTheirRanges) {
  CheckNumbers(VStringToShort, {"  42abc -> 42", "0x10 -> 0", "70000 -> 4464",
                                "-99999999999 -> 0"});
  CheckNumbers(
      VStringToInteger,
      {"0x1f -> 31", "017 -> 15", " -> 0", "-2147483648 -> -2147483648",
       "2147483648 -> 2147483647", "-99999999999999999999999 -> -2147483648"});
  CheckNumbers(VStringToInteger64,
               {" -12x -> -12", "0x10 -> 0",
                "9223372036854775808 -> 9223372036854775807",
                "-9223372036854775809 -> -9223372036854775808"});
  CheckNumbers(
      VStringToUnsigned,
      {"-4294967295 -> 1", "4294967295 -> 4294967295",
       "4294967296 -> 4294967295 ERANGE", "-4294967296 -> 4294967295 ERANGE"});
  CheckNumbers(VStringToUnsigned64,
               {"18446744073709551615 -> 18446744073709551615", "+5 -> 0",
                "18446744073709551616 -> 18446744073709551615 ERANGE",
                " -0 -> 18446744073709551615 ERANGE"});
  const std::pair<const char *, uint32_t> addresses[] = {
      {"192.168.1.2", 0xC0A80102u}, {"10.1", 0x0A010000u},
      {"1.2.3.4.5", 0x01020304u},   {"1.2.300.4", 0x01032C04u},
      {"1.x.3.4", 0x01000000u},
  };
  for (const auto &[text, expected] : addresses) {
    uint32_t value = 7;
    EXPECT_EQ(VIpAddrToUnsigned(Exact(text).get(), &value), 0);
    EXPECT_EQ(value, expected) << text;
  }
}

TEST(VStringTest, BooleanRealAndTime) {
  CheckNumbers(VStringToBoolean,
               {"oN -> 1", "Tuesday -> 1", "1000 -> 1", "false -> 0", " -> 0",
                "o -> 0", " true -> 0"});
  CheckNumbers(VStringToReal, {"-2.5e3 -> -2500", "abc -> 0",
                               "1e999 -> inf ERANGE", "1e-999 -> 0 ERANGE"});
  // A non-zero leading number is taken as seconds, even before a time.
  CheckNumbers(VStringToUTC, {"~1234 -> 1234", "12:30:45 01/02/99 -> 12"});
  struct tm expected = {};
  expected.tm_sec = 45, expected.tm_min = 30, expected.tm_mday = 1;
  expected.tm_mon = 1, expected.tm_year = 99, expected.tm_isdst = -1;
  time_t now = time(nullptr), value = 0;
  VStringToUTC("00:30:45 01/02/99", &value);
  EXPECT_EQ(value, mktime(&expected));
  // Without a date, today's; text that matches nothing gives now.
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
      {"0x0a1B", "\x0a\x1b"}, {"0XfF", "\xff"}, {"abc", "\xab\x0c"},
      {"12zz34", "\x12"},     {"", ""},         {"0xg1", ""},
  };
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

void ExpectValid(int (*check)(const char *), int valid,
                 std::initializer_list<std::string> texts) {
  for (const std::string &text : texts) {
    EXPECT_EQ(check(Exact(text).get()), valid) << '"' << text << '"';
  }
}

VRC NameUpper(const char *t, char **o) { return VStringToNameCase(t, o, 1); }
VRC NameKeep(const char *t, char **o) { return VStringToNameCase(t, o, 0); }

// Every copying transformation, also failed at each allocation: 12 and the
// caller's pointer untouched, or the expected copy.
TEST(VStringTest, CopyingTransformations) {
  const struct {
    VRC (*fn)(const char *, char **);
    std::string text, expected;
  } cases[] = {
      {NameKeep, std::string(50, 'n'), std::string(40, 'n')},
      {NameUpper, "Port_1", "PORT_1"},
      {VStringLTrim, " \t\n a b  ", "a b  "},
      {VStringLTrim, "   ", ""},
      {VStringRTrim, "  a b \t\r\n", "  a b"},
      {VStringQuoted, "\t\n\r\"'\\x", "'\\t\\n\\r\\\"\\'\\\\x'"},
      {VStringQuoted, "", "''"},
      {VStringUnquoted, "'\\t\\n\\r\\q\\\\\\''", "\t\n\rq\\'"},
      {VStringUnquoted, "'a\\'", "a\\"},  // a backslash ending the inner text
      {VStringUnquoted, "'", ""},
      {VStringUnquoted, "", ""},
  };
  for (const auto &c : cases) {
    vtest::SweepAllocations([&](vtest::Fault &f) {
      auto text = Exact(c.text);
      char sentinel;
      char *out = &sentinel;
      f.Arm();
      VRC rc = c.fn(text.get(), &out);
      bool failed = f.Disarm();
      EXPECT_EQ(rc, failed ? ENOMEM : 0);
      EXPECT_EQ(out == &sentinel, failed) << c.text;
      if (failed) return;
      EXPECT_EQ(std::string(out), c.expected) << c.text;
      free(out);
    });
  }
}

TEST(VStringTest, WordWrapBreaksAtWhiteSpace) {
  const struct {
    const char *text;
    int32_t width;
    const char *wrapped;
    int32_t result;
  } cases[] = {
      {"hello world abcdefghijkl", 10, "hello\nworld\nabcdefghijkl", 0},
      {"aaaa bbbb cccc dddd", 9, "aaaa bbbb\ncccc dddd", 9},
      {"ab\ncd efgh ijkl", 5, "ab\ncd\nefgh\nijkl", 4},
      {"abc\nd\ne", 4, "abc\nd\ne", 3},       // the whole rest that fits
      {"abcde fgh", 5, "abcde\nfgh", 3},      // white space at the limit
      {"abcdefgh ij", 5, "abcdefgh\nij", 2},  // first white space after it
      {" abcdefg", 3, " abcdefg", 0},  // the first character never breaks
      {"a b", -4, "a\nb", 0},
      {"x", -1, "x", 0},
      {"", 3, "", 0},
      {"ab\ncd", 10, "ab\ncd", 5},  // newlines count in the rest
      {"aaaaa bbbbb cc", 10, "aaaaa\nbbbbb cc", 8},
      {"abc\ndefgh ij", 4, "abc\ndefgh\nij", 2},
  };
  for (const auto &c : cases) {
    auto text = Exact(c.text);
    EXPECT_EQ(VStringWordWrap(text.get(), c.width), c.result) << c.text;
    EXPECT_STREQ(text.get(), c.wrapped) << c.text;
  }
}

TEST(VStringTest, ValidatorsAndCaseChecksAcceptExactlyTheirForms) {
  ExpectValid(VStringIsValidName, 1, {"A_1b", std::string(40, 'n')});
  ExpectValid(VStringIsValidName, 0,
              {std::string(41, 'n'), "", "1a", "_a", "a-b"});
  ExpectValid(VStringIsValidInteger, 1,
              {"", "-12", " 12", "99999999999999999999"});
  ExpectValid(VStringIsValidInteger, 0, {"12 ", "1.5", "0x10", "-"});
  ExpectValid(VStringIsValidReal, 1, {"", "1.5e3", "-7"});
  ExpectValid(VStringIsValidReal, 0, {"1.5 ", "abc"});
  ExpectValid(VStringIsValidBoolean, 1,
              {"true", "FaLsE", "Yes", "NO", "1", "0"});
  ExpectValid(VStringIsValidBoolean, 0, {"on", "t", "", "yes "});
  ExpectValid(vantrel::internal::IsValidInteger64Text, 1,
              {"", " \t-12", "-", "123456789012345678901"});
  ExpectValid(vantrel::internal::IsValidInteger64Text, 0, {"12 ", "+1", "1-"});
  ExpectValid(VStringIsUpper, 1, {"", "ABC"});
  ExpectValid(VStringIsUpper, 0, {"AB1", "ABc"});
  ExpectValid(VStringIsLower, 1, {"", "abc"});
  ExpectValid(VStringIsLower, 0, {"ab c"});
  char text[] = "aBc1_z";
  VStringUpper(text);
  EXPECT_STREQ(text, "ABC1_Z");
  VStringLower(text);
  EXPECT_STREQ(text, "abc1_z");
}

// Null texts and outputs are refused with EINVAL and write nothing; the
// validators and case checks answer 0.
TEST(VStringTest, NullArgumentsAreRefusedAndWriteNothing) {
  int32_t i = 7;
  uint64_t u = 7;
  double d = 7;
  char *out = nullptr;
  const VRC refused[] = {
      VStringToInteger(nullptr, &i),       VStringToInteger("1", nullptr),
      VStringToUnsigned64(nullptr, &u),    VStringToReal(nullptr, &d),
      VStringToBoolean(nullptr, &i),       VIpAddrToUnsigned(nullptr, nullptr),
      VStringLTrim(nullptr, &out),         VStringQuoted("x", nullptr),
      VStringToNameCase(nullptr, &out, 1),
  };
  for (VRC rc : refused) EXPECT_EQ(rc, EINVAL);
  EXPECT_EQ(i, 7);
  EXPECT_EQ(u, 7u);
  EXPECT_EQ(d, 7);
  EXPECT_EQ(out, nullptr);
  EXPECT_EQ(VStringIsValidName(nullptr) + VStringIsValidInteger(nullptr) +
                VStringIsValidReal(nullptr) + VStringIsValidBoolean(nullptr) +
                VStringIsUpper(nullptr) + VStringIsLower(nullptr),
            0);
  EXPECT_EQ(VStringWordWrap(nullptr, 10), 0);
}

}  // namespace
