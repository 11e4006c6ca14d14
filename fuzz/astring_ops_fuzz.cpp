// Operation sequences on twelve allocated strings (more than the growth
// tracker holds) against std::string models, sources inside the strings
// themselves included, with allocation failures at input-chosen points:
// a failed operation releases its string (null afterwards).
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_support.h"
#include "text/astring.h"
#include "vantrel/vastring.h"

namespace {

constexpr int kStrings = 12;

struct State {
  char *s[kStrings] = {};
  std::string model[kStrings];
  bool live[kStrings] = {};  // the pointer is not null
};

// The string after an operation: on failure released, else the model.
void Settle(State &st, int k, bool ok, bool fired, const std::string &after) {
  if (!ok) {
    FUZZ_CHECK(fired && st.s[k] == nullptr);
    st.model[k].clear();
    st.live[k] = false;
    return;
  }
  FUZZ_CHECK(st.s[k] != nullptr && after == st.s[k]);
  st.model[k] = after;
  st.live[k] = true;
  int32_t capacity = vantrel::internal::AStrTrackedCapacity(st.s[k]);
  FUZZ_CHECK(capacity < 0 || size_t(capacity) > after.size());
}

// Reads one line (or up to `stop`) from a stream over `bytes`.
void Read(State &st, int k, const std::string &bytes, int stop,
          vfuzz::AllocFault &fault) {
  FILE *f = fmemopen(const_cast<char *>(bytes.data()), bytes.size(), "r");
  if (f == nullptr) return;  // fmemopen refuses an empty buffer
  size_t end = 0;
  while (end < bytes.size()) {
    char c = bytes[end++];
    if (stop < 0 ? (c == '\n' || c == '\0') : c == char(stop)) break;
  }
  fault.Arm();
  int count = stop < 0 ? (afgets(&st.s[k], f) != nullptr ? int(end) : 0)
                       : afgettoch(&st.s[k], f, char(stop));
  bool fired = fault.Disarm();
  fclose(f);
  bool got = count > 0;
  FUZZ_CHECK(!got || count == int(end));
  if (end == 0) {  // end of file at once: released, nothing read
    FUZZ_CHECK(!got && st.s[k] == nullptr);
    st.model[k].clear();
    st.live[k] = false;
    return;
  }
  // A NUL byte read ends the text as a C string.
  Settle(st, k, got, fired, bytes.substr(0, end).c_str());
}

void Step(State &st, vfuzz::Input &in) {
  int op = in.Below(10);
  int k = in.Below(kStrings);
  vfuzz::AllocFault fault(in.Byte());
  std::string piece = in.Text(in.Bool() ? 255 : 16);
  int n = static_cast<int8_t>(in.Byte()) * (in.Bool() ? 32 : 1);
  std::string &m = st.model[k];
  // A source inside the string itself, where there is one.
  size_t offset = m.empty() ? 0 : in.Below(uint32_t(m.size()) + 1);
  bool inside = in.Bool() && st.live[k];
  const char *source = inside ? st.s[k] + offset : piece.c_str();
  std::string text = inside ? m.substr(offset) : piece;
  size_t limit = n < 0 ? 0 : size_t(n);
  char *result = nullptr;
  std::string after;
  fault.Arm();
  switch (op) {
    case 0:
      result = astrcpy(&st.s[k], source);
      after = text;
      break;
    case 1:
      result = astrcat(&st.s[k], source);
      after = m + text;
      break;
    case 2:
      result = astrn0cpy(&st.s[k], source, n < 0 ? 0 : n);
      after = text.substr(0, limit);
      break;
    case 3:
      result = astrn0cat(&st.s[k], source, n);
      after = n < 0 ? m : m + text.substr(0, limit);
      if (n < 0) {
        // Changes nothing, not even a null string.
        FUZZ_CHECK(fault.Disarm() == false && result == st.s[k]);
        FUZZ_CHECK(!st.live[k] || after == st.s[k]);
        return;
      }
      break;
    case 4: {
      uint32_t length = static_cast<uint8_t>(n) * (in.Bool() ? 40u : 1u);
      result = astrensure(&st.s[k], length);
      after = m;
      break;
    }
    case 5: {
      // Arguments inside the string itself are not allowed here: the
      // string is emptied first, as sprintf's target would be.
      int got = v_asprintf(&st.s[k], "%s|%d|%.*s", piece.c_str(), n, n,
                           piece.c_str());
      result = got >= 0 ? st.s[k] : nullptr;
      after = piece + "|" + std::to_string(n) + "|" +
              piece.substr(0, n < 0 ? piece.size() : limit);
      FUZZ_CHECK(got < 0 || size_t(got) == after.size());
      break;
    }
    case 6:
      fault.Disarm();
      astrstatic(&st.s[k]);
      FUZZ_CHECK(vantrel::internal::AStrTrackedCapacity(st.s[k]) == -1);
      FUZZ_CHECK(!st.live[k] || m == st.s[k]);
      return;
    case 7:
      fault.Disarm();
      astrfree(&st.s[k]);
      FUZZ_CHECK(st.s[k] == nullptr);
      m.clear();
      st.live[k] = false;
      return;
    default:
      fault.Disarm();
      Read(st, k, piece + (in.Bool() ? "\n" : "") + in.Text(32),
           op == 8 ? -1 : static_cast<unsigned char>(in.Byte()), fault);
      return;
  }
  bool fired = fault.Disarm();
  Settle(st, k, result != nullptr, fired, after);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  vfuzz::Input in(data, size);
  vantrel::internal::AStrTrackerReset();
  State st;
  for (int step = 0; step < 200 && !in.empty(); ++step) {
    Step(st, in);
    // Evictions from the tracker leave the other strings intact.
    for (int k = 0; k < kStrings; ++k) {
      FUZZ_CHECK(st.live[k] == (st.s[k] != nullptr));
      FUZZ_CHECK(!st.live[k] || st.model[k] == st.s[k]);
    }
  }
  for (char *&s : st.s) astrfree(&s);
  return 0;
}
