// Regular expressions on arbitrary patterns, subjects and substitution
// templates.  A pattern either compiles or is refused with one of its
// documented codes (ENOMEM only when an allocation was failed on purpose);
// a match's pointers lie inside the subject and the whole match; each
// sub-expression reads back as those bytes; a substitution writes exactly
// what the template rules give, no byte more; matching a text is matching
// its bytes up to the NUL; LIKE agrees with compiling and matching.
//
// Patterns are cut to 64 bytes and subjects to 255: the library bounds
// what one pattern may cost, and the fuzzer's -timeout and -rss_limit_mb
// report one that still takes too long or too much.
#include <errno.h>
#include <string.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "vantrel/voperator.h"
#include "vantrel/vrc.h"
#include "vantrel/vregexp.h"

namespace {

constexpr size_t kMaxPattern = 64;
constexpr size_t kMaxTemplate = 48;
constexpr size_t kMaxSubject = 255;

struct Offsets {
  long start[VREGEXP_SUBEXPRESSIONS];
  long end[VREGEXP_SUBEXPRESSIONS];
};

Offsets OffsetsOf(VRegexp re, const char *subject) {
  Offsets o;
  for (int i = 0; i < VREGEXP_SUBEXPRESSIONS; ++i) {
    o.start[i] = re->start[i] ? re->start[i] - subject : -1;
    o.end[i] = re->end[i] ? re->end[i] - subject : -1;
  }
  return o;
}

bool SameOffsets(const Offsets &a, const Offsets &b) {
  return memcmp(&a, &b, sizeof a) == 0;
}

void CheckRecorded(VRegexp re, const char *subject, size_t size) {
  const char *whole_start = re->start[0], *whole_end = re->end[0];
  FUZZ_CHECK(whole_start != nullptr && whole_end != nullptr);
  FUZZ_CHECK(subject <= whole_start && whole_start <= whole_end &&
             whole_end <= subject + size);
  for (int i = 0; i < VREGEXP_SUBEXPRESSIONS; ++i) {
    const char *s = re->start[i], *e = re->end[i];
    FUZZ_CHECK((s == nullptr) == (e == nullptr));
    std::vector<char> buffer(s ? static_cast<size_t>(e - s) + 1 : 1, '#');
    VRC rc = VRegexpGetSub(re, i, buffer.data());
    if (s == nullptr) {
      FUZZ_CHECK(rc == VRC_FAILURE);
      continue;
    }
    FUZZ_CHECK(whole_start <= s && s <= e && e <= whole_end);
    FUZZ_CHECK(rc == 0);
    FUZZ_CHECK(memcmp(buffer.data(), s, static_cast<size_t>(e - s)) == 0);
    FUZZ_CHECK(buffer.back() == '\0');
  }
  char spare[2];
  FUZZ_CHECK(VRegexpGetSub(re, VREGEXP_SUBEXPRESSIONS, spare) == EINVAL);
  FUZZ_CHECK(VRegexpGetSub(re, -1, spare) == EINVAL);
}

// The template rules, applied to the recorded match: the expansion and
// whether the subject (cut at its first NUL) was too short for it.
std::string Expand(VRegexp re, const char *subject, const std::string &tmpl,
                   bool *shortened) {
  size_t available =
      strnlen(subject, static_cast<size_t>(re->end[0] - subject));
  std::string out;
  *shortened = false;
  for (size_t i = 0; i < tmpl.size() && !*shortened; ++i) {
    int n = -1;
    char c = tmpl[i], next = i + 1 < tmpl.size() ? tmpl[i + 1] : '\0';
    if (c == '&') {
      n = 0;
    } else if (c == '\\' && next >= '0' && next <= '9') {
      n = next - '0';
      ++i;
    } else if (c == '\\' && (next == '\\' || next == '&')) {
      out += next;
      ++i;
    } else {
      out += c;
    }
    if (n < 0 || re->start[n] == nullptr || re->end[n] <= re->start[n]) {
      continue;
    }
    size_t from = static_cast<size_t>(re->start[n] - subject);
    size_t to = static_cast<size_t>(re->end[n] - subject);
    if (to > available) {
      *shortened = true;
      to = available;
    }
    if (to > from) out.append(subject + from, to - from);
  }
  return out;
}

void CheckSubstitution(VRegexp re, const char *subject,
                       const std::string &tmpl) {
  bool shortened = false;
  std::string expected = Expand(re, subject, tmpl, &shortened);
  // Exactly the room the expansion needs: a byte more written shows.
  std::vector<char> buffer(expected.size() + 1, '#');
  VRC rc = VRegexpSubst(re, tmpl.c_str(), buffer.data());
  FUZZ_CHECK(rc == (shortened ? VRC_REGEXP_SUBJECT_SHORTENED : 0));
  FUZZ_CHECK(memcmp(buffer.data(), expected.c_str(), expected.size() + 1) == 0);
}

VTypedValue Text(const std::string &text) {
  VTypedValue v{VDT_STRING, {}};
  v.value.stringValue.text = const_cast<char *>(text.c_str());
  v.value.stringValue.length = static_cast<uint32_t>(strlen(text.c_str()));
  return v;
}

void Run(vfuzz::Input &in) {
  vfuzz::AllocFault fault(in.Byte());
  std::string pattern = in.Text(kMaxPattern);
  std::string tmpl = in.Text(kMaxTemplate);
  std::string subject = in.Bytes(kMaxSubject);

  VRegexp re = nullptr;
  fault.Arm();
  VRC rc = VRegexpCompile(pattern.c_str(), &re);
  bool failed = fault.Disarm();
  FUZZ_CHECK(rc == 0 || rc == VRC_REGEXP_BAD_PATTERN || rc == VRC_FAILURE ||
             (rc == ENOMEM && failed));
  FUZZ_CHECK((re != nullptr) == (rc == 0));
  VTypedValue a = Text(subject), b = Text(pattern);
  if (rc != 0) {
    // A pattern that does not compile never matches; one that only ran
    // out of memory compiles the next time.
    if (!failed) FUZZ_CHECK(VTypedValueLIKE(&a, &b) == 0);
    return;
  }

  // Whole text: the bytes up to the first NUL.
  const char *text = subject.c_str();
  VRC whole = VRegexpMatch(re, text);
  FUZZ_CHECK(whole == 0 || whole == VRC_REGEXP_NO_MATCH || whole == ENOMEM);
  Offsets whole_offsets = OffsetsOf(re, text);
  FUZZ_CHECK(VTypedValueLIKE(&a, &b) == (whole == 0 ? 1 : 0));
  VRC prefix = VRegexpMatchLength(re, text, strlen(text));
  FUZZ_CHECK(prefix == whole);
  if (whole == 0) {
    FUZZ_CHECK(SameOffsets(OffsetsOf(re, text), whole_offsets));
  }

  // The bytes given by length, NUL bytes included.
  rc = VRegexpMatchLength(re, subject.data(), subject.size());
  FUZZ_CHECK(rc == 0 || rc == VRC_REGEXP_NO_MATCH || rc == ENOMEM);
  char spare[2];
  if (rc == 0) {
    CheckRecorded(re, subject.data(), subject.size());
    CheckSubstitution(re, subject.data(), tmpl);
  } else {
    FUZZ_CHECK(VRegexpGetSub(re, 0, spare) == VRC_FAILURE);
    FUZZ_CHECK(VRegexpSubst(re, tmpl.c_str(), spare) == VRC_FAILURE);
  }
  VRegexpFree(re);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  vfuzz::Input in(data, size);
  Run(in);
  return 0;
}
