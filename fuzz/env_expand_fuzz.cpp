// Environment expansion against a model written from its contract, in the
// C locale and in C.UTF-8, with allocation failures at input-chosen points:
// a failed expansion returns 12 and leaves the result alone.
#include <errno.h>
#include <locale.h>
#include <stdlib.h>
#include <wchar.h>
#include <wctype.h>

#include <string>

#include "fuzz_support.h"
#include "vantrel/venv.h"

namespace {

// Values that look like references (never expanded again), an empty one,
// a long one, and names that only the closed forms can reach.
void SetVariables() {
  setenv("A", "1", 1);
  setenv("HOME", "/h", 1);
  setenv("EMPTY", "", 1);
  setenv("X_1", "under", 1);
  setenv("PCT", "%A%", 1);
  setenv("DOL", "${A}$A\\", 1);
  setenv("LONG", std::string(300, 'L').c_str(), 1);
  setenv("a}b", "brace", 1);
  setenv("s p", "space", 1);
  setenv("\xc3\xa9t\xc3\xa9", "summer", 1);  // a name with letters beyond ASCII
  setenv(std::string(200, 'N').c_str(), "long name", 1);
}

// One character of the text: its bytes and, when it decodes, its value.
struct Char {
  size_t width;
  wint_t value;  // WEOF for a byte that starts no valid character
};

Char Decode(const std::string &text, size_t at) {
  unsigned char byte = static_cast<unsigned char>(text[at]);
  if (byte < 0x80) return {1, byte};
  mbstate_t state{};
  wchar_t wc;
  size_t n = mbrtowc(&wc, text.data() + at, text.size() - at, &state);
  if (n == size_t(-1) || n == size_t(-2) || n == 0) return {1, WEOF};
  return {n, static_cast<wint_t>(wc)};
}

bool IsNameChar(wint_t c) {
  if (c == WEOF) return false;
  if (c < 0x80) return isalnum(static_cast<int>(c)) || c == '_';
  return iswalnum(c);
}

std::string Value(const std::string &name) {
  const char *value = name.empty() ? nullptr : getenv(name.c_str());
  return value != nullptr ? value : "";
}

// Position of `closer` at or after `from`, or the end.
size_t Find(const std::string &text, size_t from, char closer) {
  size_t at = text.find(closer, from);
  return at == std::string::npos ? text.size() : at;
}

std::string Model(const std::string &text) {
  std::string out;
  size_t i = 0;
  while (i < text.size()) {
    Char c = Decode(text, i);
    if (c.value == '\\') {
      size_t end =
          i + 1 < text.size() ? i + 1 + Decode(text, i + 1).width : i + 1;
      out.append(text, i, end - i);
      i = end;
    } else if (c.value == '%' ||
               (c.value == '$' && i + 1 < text.size() && text[i + 1] == '{')) {
      size_t start = i + (c.value == '%' ? 1 : 2);
      size_t close = Find(text, start, c.value == '%' ? '%' : '}');
      out += Value(text.substr(start, close - start));
      i = close < text.size() ? close + 1 : close;
    } else if (c.value == '$') {
      size_t end = i + 1;
      while (end < text.size() && IsNameChar(Decode(text, end).value)) {
        end += Decode(text, end).width;
      }
      out += Value(text.substr(i + 1, end - i - 1));
      bool swallow =
          end < text.size() && (text[end] == '}' || text[end] == '%');
      i = swallow ? end + 1 : end;
    } else {
      out.append(text, i, c.width);
      i += c.width;
    }
  }
  return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = (SetVariables(), true);
  (void)ready;
  vfuzz::Input in(data, size);
  uint8_t mode = in.Byte();
  vfuzz::AllocFault fault(in.Byte());
  std::string text = in.Rest();
  setlocale(LC_CTYPE, (mode & 1) != 0 ? "C.UTF-8" : "C");

  char *sentinel = reinterpret_cast<char *>(&fault);
  char *result = sentinel;
  fault.Arm();
  VRC rc = VEnvExpandString(text.c_str(), &result);
  bool fired = fault.Disarm();
  if (rc == 0) {
    FUZZ_CHECK(result != sentinel && result != nullptr);
    FUZZ_CHECK(Model(text) == result);
    free(result);
  } else {
    // Every allocation of an expansion is needed: a failure fails it.
    FUZZ_CHECK(fired && rc == ENOMEM && result == sentinel);
  }
  FUZZ_CHECK(fired == (rc == ENOMEM));
  setlocale(LC_CTYPE, "C");
  return 0;
}
