// v_strptime on arbitrary input and format (it must stay inside both and
// answer null or a position in the input), on texts that strftime wrote
// from a broken-down time (every field must come back, and no other field
// may change), and the fixed-width time texts against the C library; none
// of them may allocate.
#include <locale.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <string>

#include "fuzz_support.h"
#include "vantrel/vtime.h"

namespace {

constexpr int kUnset = -7777;

struct tm Unset() {
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  tm.tm_sec = tm.tm_min = tm.tm_hour = tm.tm_mday = tm.tm_mon = kUnset;
  tm.tm_year = tm.tm_wday = tm.tm_yday = tm.tm_isdst = kUnset;
  return tm;
}

// Conversions whose strftime text in the C locale the parser reads back,
// and the fields each sets.  %e, %k and %l are left out (strftime pads them
// with a blank, which a number may not start with), and so are %x, %c and
// %C, which mean other layouts to the parser.
struct Conversion {
  const char *text;
  int fields;  // bits: sec min hour mday mon year wday yday
};
constexpr int kSec = 1, kMin = 2, kHour = 4, kMday = 8, kMon = 16, kYear = 32,
              kWday = 64, kYday = 128;
constexpr Conversion kConversions[] = {
    {"%Y", kYear},
    {"%y", kYear},
    {"%m", kMon},
    {"%d", kMday},
    {"%H", kHour},
    {"%M", kMin},
    {"%S", kSec},
    {"%j", kYday},
    {"%b", kMon},
    {"%B", kMon},
    {"%h", kMon},
    {"%a", kWday},
    {"%A", kWday},
    {"%r", kHour | kMin | kSec},
    {"%T", kHour | kMin | kSec},
    {"%R", kHour | kMin},
    {"%D", kMon | kMday | kYear},
    {"%X", kHour | kMin | kSec},
    {"%%", 0},
};
constexpr const char *kSeparators[] = {" ", "/", ":", "-", ", ", "T", "  "};

void RoundTrip(vfuzz::Input &in) {
  struct tm tm;
  memset(&tm, 0, sizeof tm);
  tm.tm_sec = in.Below(60);
  tm.tm_min = in.Below(60);
  tm.tm_hour = in.Below(24);
  tm.tm_mday = 1 + in.Below(31);
  tm.tm_mon = in.Below(12);
  tm.tm_year = in.Bool() ? in.Below(100) : in.Below(8100);
  tm.tm_wday = in.Below(7);
  tm.tm_yday = in.Below(365);  // %j prints it plus one, at most 365
  std::string format;
  int fields = 0;
  for (int n = 1 + in.Below(6); n > 0; --n) {
    const Conversion &c =
        kConversions[in.Below(sizeof kConversions / sizeof *kConversions)];
    // %y reads its two digits as years since 1900.
    if (strcmp(c.text, "%y") == 0 || strcmp(c.text, "%D") == 0) {
      if (tm.tm_year >= 100) continue;
    }
    if (!format.empty()) format += kSeparators[in.Below(7)];
    format += c.text;
    fields |= c.fields;
  }
  if (format.empty()) return;
  char text[512];
  if (strftime(text, sizeof text, format.c_str(), &tm) == 0) return;
  struct tm parsed = Unset();
  const char *end = v_strptime(text, format.c_str(), &parsed);
  FUZZ_CHECK(end == text + strlen(text));
  const std::pair<int, int> expect[] = {
      {kSec, tm.tm_sec},   {kMin, tm.tm_min},      {kHour, tm.tm_hour},
      {kMday, tm.tm_mday}, {kMon, tm.tm_mon},      {kYear, tm.tm_year},
      {kWday, tm.tm_wday}, {kYday, tm.tm_yday + 1}};
  const int got[] = {parsed.tm_sec,  parsed.tm_min, parsed.tm_hour,
                     parsed.tm_mday, parsed.tm_mon, parsed.tm_year,
                     parsed.tm_wday, parsed.tm_yday};
  for (size_t i = 0; i < 8; ++i) {
    FUZZ_CHECK(got[i] ==
               ((fields & expect[i].first) ? expect[i].second : kUnset));
  }
  FUZZ_CHECK(parsed.tm_isdst == kUnset);
}

// Arbitrary input and format, each in a block of its exact size.
void Arbitrary(vfuzz::Input &in) {
  std::string format = in.Text(64);
  std::string input = in.Rest();
  char *f = static_cast<char *>(malloc(format.size() + 1));
  char *t = static_cast<char *>(malloc(input.size() + 1));
  memcpy(f, format.c_str(), format.size() + 1);
  memcpy(t, input.c_str(), input.size() + 1);
  struct tm tm = Unset();
  const char *end = v_strptime(t, f, &tm);
  FUZZ_CHECK(end == nullptr || (end >= t && end <= t + input.size()));
  free(f);
  free(t);
}

// The 26-byte text of a time, as the contract builds it from localtime.
std::string ModelText(time_t t) {
  char text[64];
  if (t < 0) {
    snprintf(text, sizeof text, "Invalid time: %lld", (long long)t);
    return std::string(text).substr(0, 25);
  }
  struct tm tm;
  if (localtime_r(&t, &tm) == nullptr) return "";
  static const char *const kDays[] = {"Sun", "Mon", "Tue", "Wed",
                                      "Thu", "Fri", "Sat"};
  static const char *const kMonths[] = {"Jan", "Feb", "Mar", "Apr",
                                        "May", "Jun", "Jul", "Aug",
                                        "Sep", "Oct", "Nov", "Dec"};
  int n = snprintf(text, sizeof text, "%.3s %.3s%3d %.2d:%.2d:%.2d %lld\n",
                   kDays[tm.tm_wday], kMonths[tm.tm_mon], tm.tm_mday,
                   tm.tm_hour, tm.tm_min, tm.tm_sec, tm.tm_year + 1900LL);
  return n < 26 ? std::string(text) : "";
}

void TimeTexts(vfuzz::Input &in) {
  time_t t = in.Take<int64_t>();
  if (in.Bool()) t = static_cast<int32_t>(t);  // mostly 32-bit times
  char *buf = static_cast<char *>(malloc(26));
  std::string expected = ModelText(t);
  FUZZ_CHECK(v_ctime(&t, buf) == buf && expected == buf);
  FUZZ_CHECK(v_ctimex(&t, buf) == buf && expected.substr(0, 24) == buf);
  struct tm mine, theirs;
  bool ok = localtime_r(&t, &theirs) != nullptr;
  FUZZ_CHECK((v_localtime(&t, &mine) != nullptr) == ok);
  FUZZ_CHECK(!ok ||
             (mine.tm_sec == theirs.tm_sec && mine.tm_yday == theirs.tm_yday &&
              mine.tm_year == theirs.tm_year));
  free(buf);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  vfuzz::Input in(data, size);
  uint8_t mode = in.Byte();
  setlocale(LC_CTYPE, (mode & 4) != 0 ? "C.UTF-8" : "C");
  // Parsing and the time texts allocate nothing: an allocation failure
  // armed at any point never fires.
  vfuzz::AllocFault fault(static_cast<uint8_t>(mode >> 3 | 0x20));
  fault.Arm();
  switch (mode & 3) {
    case 0:
      RoundTrip(in);
      break;
    case 1:
      TimeTexts(in);
      break;
    default:
      Arbitrary(in);
      break;
  }
  FUZZ_CHECK(!fault.Disarm());
  setlocale(LC_CTYPE, "C");
  return 0;
}
