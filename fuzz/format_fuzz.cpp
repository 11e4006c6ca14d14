// The allocated-string formatter (v_asprintf, avsprintf) and the string
// buffer's formatter (vb_sprintf) against the C library's snprintf, on
// formats of up to three conversions built from the input: flags, width
// and precision as digits or stars, every size letter, every letter, and
// numbered arguments in any order.  Arguments are passed with the C type
// each conversion names.  Allocation failures at input-chosen points must
// give -1 with the string released, or 12 with the buffer unchanged.
#include <errno.h>
#include <locale.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "text/astring.h"
#include "vantrel/vastring.h"
#include "vantrel/vstrbuf.h"

// The formats are built at run time on purpose, some without arguments.
#pragma GCC diagnostic ignored "-Wformat-security"

namespace {

// The C type a conversion takes, from the C standard's table; each class
// is passed as one type of its ABI width (LP64: long, long long, size_t,
// intmax_t and ptrdiff_t are all 64-bit integers).
enum class Class : uint8_t { kNone, kInt, kWide64, kDouble, kLongDouble, kPtr };

constexpr int kMaxSlots = 3;

struct Slot {
  std::string spec;  // without the leading text
  Class type;
  int width, precision;  // star values, passed before the value
  int64_t integer;
  double real;
  std::string text;   // for %s
  std::wstring wide;  // for %ls
  bool count;         // %n: the value is a pointer to a counter
  bool is_wide_text;
};

struct Plan {
  bool stars;
  bool numbered;
  int count = 0;
  Slot slots[kMaxSlots];
  std::string format;
  long long counters[kMaxSlots];  // %n targets
};

const char kFlags[] = "#0 +-'I";
const char *const kSizes[] = {"",  "hh", "h", "l", "ll", "q",
                              "L", "j",  "z", "Z", "t"};
const char kLetters[] = "diouxXbBeEfFgGaAcspnm%";

Class ClassOf(char letter, const std::string &size) {
  if (strchr("diouxXbB", letter) != nullptr) {
    bool wide = size == "l" || size == "ll" || size == "q" || size == "L" ||
                size == "j" || size == "z" || size == "Z" || size == "t";
    return wide ? Class::kWide64 : Class::kInt;
  }
  if (strchr("eEfFgGaA", letter) != nullptr) {
    bool extended = size == "L" || size == "ll" || size == "q";
    return extended ? Class::kLongDouble : Class::kDouble;
  }
  switch (letter) {
    case 'c':
      return Class::kInt;  // an int, or a wint_t with "l": both 32 bits
    case 's':
    case 'p':
    case 'n':
      return Class::kPtr;
    default:
      return Class::kNone;  // "%%", "%m"
  }
}

// Sizes the C library takes with each letter (others are undefined).
bool SizeFits(char letter, const std::string &size) {
  if (strchr("diouxXbBn", letter) != nullptr) return true;
  if (strchr("eEfFgGaA", letter) != nullptr) {
    return size.empty() || size == "l" || size == "L" || size == "ll" ||
           size == "q";
  }
  if (letter == 'c' || letter == 's') return size.empty() || size == "l";
  return size.empty();
}

std::string Literal(vfuzz::Input &in) {
  std::string text = in.Text(12);
  for (char &c : text) {
    if (c == '%') c = '_';
  }
  return text;
}

// Slot i's conversion; in a numbered format its value is argument i + 1,
// or with stars 3i + 3 after its width 3i + 1 and precision 3i + 2.
void ReadSlot(vfuzz::Input &in, Plan *plan, int i) {
  Slot &slot = plan->slots[i];
  char letter = kLetters[in.Below(sizeof kLetters - 1)];
  std::string size = kSizes[in.Below(sizeof kSizes / sizeof *kSizes)];
  if (!SizeFits(letter, size)) size.clear();
  // The C library reads "L" and "q" on an integer as long long, but as int
  // when the argument is numbered; the formatter keeps long long.
  bool integer = strchr("diouxXbBn", letter) != nullptr;
  if (plan->numbered && integer && (size == "L" || size == "q")) size = "ll";
  std::string spec = "%";
  auto number = [](int n) { return std::to_string(n) + "$"; };
  if (plan->numbered) spec += number(plan->stars ? 3 * i + 3 : i + 1);
  // The C library pads numbered reals with zeros on the right under "0"
  // and a negative star width; the formatter hands it unnumbered
  // conversions, which pad with blanks there.  Numbered ones get no "0".
  for (int f = in.Below(4); f > 0; --f) {
    char flag = kFlags[in.Below(7)];
    if (flag != '0' || !plan->numbered) spec += flag;
  }
  uint8_t fields = in.Byte();
  slot.width = static_cast<int8_t>(in.Byte()) * ((fields & 4) ? 40 : 1);
  slot.precision = static_cast<int8_t>(in.Byte()) * ((fields & 8) ? 40 : 1);
  if (plan->stars) {
    spec += plan->numbered ? "*" + number(3 * i + 1) : "*";
    spec += plan->numbered ? ".*" + number(3 * i + 2) : ".*";
  } else {
    int width = slot.width < 0 ? -slot.width : slot.width;
    int precision = slot.precision < 0 ? 0 : slot.precision;
    if (fields & 1) spec += std::to_string(width);
    if (fields & 2) spec += "." + std::to_string(precision);
  }
  spec += size;
  spec += letter;
  slot.spec = spec;
  slot.type = ClassOf(letter, size);
  slot.count = letter == 'n';
  slot.is_wide_text = letter == 's' && size == "l";
  slot.integer = in.Take<int64_t>();
  uint64_t bits = in.Take<uint64_t>();
  memcpy(&slot.real, &bits, sizeof slot.real);
  if (fields & 16) {
    slot.real = double(slot.integer) / double(1 + (bits & 0xffff));
  }
  slot.text = in.Text(40);
  for (char c : in.Text(8)) slot.wide += wchar_t(static_cast<unsigned char>(c));
  if (fields & 32) slot.wide += wchar_t(0x20ac);  // no form in the C locale
}

void ReadPlan(vfuzz::Input &in, Plan *plan) {
  uint8_t mode = in.Byte();
  plan->stars = (mode & 1) != 0;
  plan->numbered = (mode & 2) != 0;
  plan->count = 1 + in.Below(kMaxSlots);
  for (int i = 0; i < plan->count; ++i) ReadSlot(in, plan, i);
  // A numbered format may name its arguments in any order.
  int order[kMaxSlots] = {0, 1, 2};
  for (int i = plan->count - 1; plan->numbered && i > 0; --i) {
    int j = in.Below(i + 1);
    int t = order[i];
    order[i] = order[j];
    order[j] = t;
  }
  for (int k = 0; k < plan->count; ++k) {
    plan->format += Literal(in);
    plan->format += plan->slots[order[k]].spec;
  }
  plan->format += Literal(in);
}

// Numbered formats need every argument named; one that a "%%" or "%m"
// leaves unnamed has no type the callee could know.
bool NumberedComplete(const Plan &plan) {
  for (int i = 0; i < plan.count; ++i) {
    if (plan.slots[i].type == Class::kNone) return false;
  }
  return true;
}

int VCall(char **s, const char *format, ...) {
  va_list args;
  va_start(args, format);
  int n = avsprintf(s, format, args);
  va_end(args);
  return n;
}

// Runs the three formatters with the same arguments and compares.
template <typename... Args>
void Compare(Plan &plan, vfuzz::Input &in, Args... args) {
  const char *format = plan.format.c_str();
  int saved_errno = static_cast<int>(in.Below(140));
  memset(plan.counters, 0, sizeof plan.counters);
  errno = saved_errno;
  int n = snprintf(nullptr, 0, format, args...);
  std::vector<char> expected(n >= 0 ? n + 1 : 1);
  long long c_counters[kMaxSlots];
  if (n >= 0) {
    memset(plan.counters, 0, sizeof plan.counters);
    errno = saved_errno;
    FUZZ_CHECK(snprintf(expected.data(), n + 1, format, args...) == n);
  }
  memcpy(c_counters, plan.counters, sizeof c_counters);

  vfuzz::AllocFault fault(in.Byte());
  char *s = nullptr;
  if (in.Bool()) astrcpy(&s, "previous text");
  memset(plan.counters, 0, sizeof plan.counters);
  errno = saved_errno;
  fault.Arm();
  int got =
      in.Bool() ? v_asprintf(&s, format, args...) : VCall(&s, format, args...);
  bool fired = fault.Disarm();
  if (fired && got == -1 && s == nullptr) {
    // Out of memory: released, nothing else to compare.
  } else if (n < 0) {
    FUZZ_CHECK(got == -1 && s != nullptr);
  } else {
    if (got != n || s == nullptr || memcmp(s, expected.data(), n + 1) != 0) {
      fprintf(stderr,
              "format \"%s\": %d \"%s\" from the C library, %d \"%s\"\n",
              format, n, expected.data(), got, s != nullptr ? s : "(null)");
    }
    FUZZ_CHECK(got == n && s != nullptr &&
               memcmp(s, expected.data(), n + 1) == 0);
    FUZZ_CHECK(memcmp(plan.counters, c_counters, sizeof c_counters) == 0);
  }
  astrfree(&s);

  vb_buffer b;
  vb_init(&b);
  std::string prefix = in.Text(200);
  FUZZ_CHECK(vb_strcat(&b, prefix.c_str()) == 0);
  uint32_t capacity = b.capacity;
  errno = saved_errno;
  fault.Arm();
  VRC rc = vb_sprintf(&b, format, args...);
  fired = fault.Disarm();
  if (rc == ENOMEM && fired) {
    FUZZ_CHECK(b.length == prefix.size() && b.capacity == capacity &&
               memcmp(b.data, prefix.c_str(), prefix.size() + 1) == 0);
  } else if (n < 0) {
    FUZZ_CHECK(rc != 0 && b.length == prefix.size());
  } else {
    FUZZ_CHECK(rc == 0 && b.length == prefix.size() + n);
    FUZZ_CHECK(memcmp(b.data + prefix.size(), expected.data(), n + 1) == 0);
  }
  vb_free(&b);
}

// Appends slot i's arguments (star values first) and goes on with the
// next slot.
template <bool kStars, int kLeft, typename... Args>
void Build(Plan &plan, vfuzz::Input &in, int i, Args... args) {
  if constexpr (kLeft == 0) {
    Compare(plan, in, args...);
  } else {
    if (i == plan.count) {
      Compare(plan, in, args...);
      return;
    }
    Slot &slot = plan.slots[i];
    auto next = [&](auto... value) {
      if constexpr (kStars) {
        Build<kStars, kLeft - 1>(plan, in, i + 1, args..., slot.width,
                                 slot.precision, value...);
      } else {
        Build<kStars, kLeft - 1>(plan, in, i + 1, args..., value...);
      }
    };
    const void *pointer = reinterpret_cast<const void *>(slot.integer);
    if (slot.count) pointer = &plan.counters[i];
    if (slot.is_wide_text) pointer = slot.wide.c_str();
    if (slot.spec.back() == 's' && !slot.is_wide_text) {
      pointer = slot.text.c_str();
    }
    switch (slot.type) {
      case Class::kInt:
        next(static_cast<int>(slot.integer));
        break;
      case Class::kWide64:
        next(static_cast<long long>(slot.integer));
        break;
      case Class::kDouble:
        next(slot.real);
        break;
      case Class::kLongDouble:
        next(static_cast<long double>(slot.real));
        break;
      case Class::kPtr:
        next(pointer);
        break;
      case Class::kNone:
        next();  // "%%" and "%m" take no value
        break;
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  vfuzz::Input in(data, size);
  uint8_t locale = in.Byte();
  Plan plan;
  ReadPlan(in, &plan);
  if (plan.numbered && !NumberedComplete(plan)) return 0;
  setlocale(LC_ALL, (locale & 1) != 0 ? "C.UTF-8" : "C");
  vantrel::internal::AStrTrackerReset();
  if (plan.stars) {
    Build<true, kMaxSlots>(plan, in, 0);
  } else {
    Build<false, kMaxSlots>(plan, in, 0);
  }
  setlocale(LC_ALL, "C");
  return 0;
}
