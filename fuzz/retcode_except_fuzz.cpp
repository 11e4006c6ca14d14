// Return-code texts for any code, operating-system texts into buffers of
// exact size, and exception chains built from the input, rendered to a
// stream and to a new string against a model of the rendering.  Rendering
// into a string under allocation failures gives null or a prefix.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <deque>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "vantrel/vexcept.h"
#include "vantrel/vrc.h"
#include "vantrel/vservices.h"
#include "vantrel/vthread.h"
#include "vantrel/vtime.h"

namespace {

// A client table registered once: a code the built-in table holds (which
// must not win), a new code, and a C-library number (never consulted).
const VRCEntry kClientTable[] = {
    {VRC_FAILURE, 1, 1, "client failure"},
    {-5000, 1, 2, "client text"},
    {5, 1, 3, "client five"},
};

// The thread subsystem gives the calling thread its record, which holds
// the error buffer and the exception chain.
bool Setup() {
  FUZZ_CHECK(VInitialise("retcode_except_fuzz", "stderr") == 0);
  VRCToString(0);  // the built-in table goes first
  FUZZ_CHECK(VRCRegister(nullptr, 3, kClientTable) == 0);
  return true;
}

bool KnownCode(VRC code) {
  if (code == 0 || (code <= -16 && code >= -32) || code == -5000) return true;
  const VRC ranges[][2] = {{10004, 10004}, {10009, 10009}, {10013, 10014},
                           {10022, 10022}, {10024, 10024}, {10035, 10071},
                           {10091, 10093}, {10101, 10112}, {11001, 11004}};
  for (const auto &r : ranges) {
    if (code >= r[0] && code <= r[1]) return true;
  }
  return false;
}

void CheckCodes(vfuzz::Input &in) {
  VRC code = in.Take<int32_t>();
  if (in.Bool()) code = static_cast<int16_t>(code);
  // Turning a code into text allocates nothing.
  vfuzz::AllocFault fault(in.Byte() | 1);
  fault.Arm();
  const char *text = VRCToString(code);
  FUZZ_CHECK(!fault.Disarm() && text != nullptr);
  if (code >= 1 && code <= 9999) {
    FUZZ_CHECK(strcmp(text, strerror(code)) == 0);
  } else {
    FUZZ_CHECK(text == VThreadGetErrorBuffer(VThreadGetID()));
    std::string unknown = "Unknown error " + std::to_string(code);
    FUZZ_CHECK(KnownCode(code) ? text[0] != '\0' && unknown != text
                               : unknown == text);
  }
  FUZZ_CHECK(strcmp(VRCToString(VRC_FAILURE), "General failure") == 0);
  FUZZ_CHECK(strcmp(VRCToString(-5000), "client text") == 0);

  uint32_t size = in.Below(300);
  char *buffer = static_cast<char *>(malloc(size + 1));
  VRC rc = VRCFormatWin32Message(static_cast<uint32_t>(code), buffer, size);
  if (rc == 0) {
    size_t n = strnlen(buffer, size);
    FUZZ_CHECK(n > 0 && n < size);
    FUZZ_CHECK(n <= 2 || buffer[n - 1] != '\n');
  } else {
    FUZZ_CHECK(rc == VRC_FAILURE);
    for (uint32_t i = 0; i < size; ++i) FUZZ_CHECK(buffer[i] == '\0');
  }
  free(buffer);
  const char *os = VRCWin32ErrorCodeToString(static_cast<uint32_t>(code));
  FUZZ_CHECK(os == VThreadGetErrorBuffer(VThreadGetID()) && os[0] != '\0');
}

struct Entry {
  std::string text;      // as rendered: the default text, at most 1023
  std::string argument;  // rendered argument, with its ": "
};

struct Model {
  const char *name = nullptr;
  std::vector<Entry> entries;
  uint32_t pool = 0;

  std::string Render() const {
    if (entries.empty()) return "";
    std::string out =
        std::string("'") + (name ? name : "(null)") + "' exception occured:\n";
    for (const Entry &e : entries) out += "\t" + e.text + e.argument + "\n";
    return out;
  }
};

std::string Format(const char *format, ...)
    __attribute__((format(printf, 1, 2)));
std::string Format(const char *format, ...) {
  char text[512];
  va_list args;
  va_start(args, format);
  vsnprintf(text, sizeof text, format, args);
  va_end(args);
  return text;
}

// An argument of an input-chosen type (0: none, 11: unknown) and what the
// rendering shows of it.
std::string Argument(vfuzz::Input &in, std::deque<std::string> &texts,
                     Model &model, VTypedValue *arg, bool *has) {
  arg->type = static_cast<VDataType>(in.Below(12));
  uint64_t bits = in.Take<uint64_t>();
  memcpy(&arg->value, &bits, sizeof bits);
  *has = arg->type != 0;
  const VValue &v = arg->value;
  switch (arg->type) {
    case VDT_SHORT:
      return Format(": %d", v.shortValue);
    case VDT_INTEGER:
      return Format(": %d", v.integerValue);
    case VDT_UNSIGNED:
      return Format(": %u", v.unsignedValue);
    case VDT_BOOLEAN:
      return v.booleanValue != 0 ? ": TRUE" : ": FALSE";
    case VDT_REAL:
      return Format(": %f", v.realValue);
    case VDT_UTC: {
      time_t t = v.utcValue;
      char text[26];
      return std::string(": ") + v_ctimex(&t, text);
    }
    case VDT_STRING: {
      texts.push_back(in.Text(in.Bool() ? 255 : 20));
      arg->value.stringValue.text = texts.back().data();
      arg->value.stringValue.length = uint32_t(texts.back().size());
      uint32_t need = arg->value.stringValue.length + 1;
      if (model.pool + need > VTHREAD_EXCEPTION_POOL_SIZE) return "";
      model.pool += need;
      return ": " + texts.back();
    }
    case VDT_INTEGER64:
      return Format(": %lld", (long long)v.integer64Value);
    case VDT_UNSIGNED64:
      return Format(": %llu", (unsigned long long)v.unsigned64Value);
    default:
      return "";  // binary data and unknown types show nothing
  }
}

void CheckExceptions(vfuzz::Input &in, VThread self) {
  static const char *const kNames[] = {"ModuleLoad", "UndefinedArgument",
                                       "%s%n%d", ""};
  std::deque<std::string> texts;  // kept, not copied, by the chain
  Model model;
  VThreadExceptionClear(self);
  for (int step = in.Below(40); step > 0; --step) {
    int op = in.Below(8);
    if (op == 0) {
      VThreadExceptionClear(self);
      model = Model{};
      continue;
    }
    bool raise = op == 1;
    if (raise) model = Model{}, model.name = kNames[in.Below(4)];
    texts.push_back(in.Text(in.Bool() ? 255 : 24));
    if (in.Below(16) == 0) texts.back() = std::string(1100, 'T');
    const char *text = texts.back().c_str();
    VTypedValue arg;
    bool has = false;
    std::string shown = Argument(in, texts, model, &arg, &has);
    int32_t set = static_cast<int32_t>(in.Byte());
    int32_t number = static_cast<int32_t>(in.Byte());
    const VTypedValue *argument = has ? &arg : nullptr;
    if (raise) {
      VThreadExceptionRaise(self, model.name, nullptr, set, number, text,
                            argument, nullptr, nullptr, nullptr);
    } else {
      VThreadExceptionAdd(self, nullptr, set, number, text, argument, nullptr,
                          nullptr, nullptr);
    }
    if (model.entries.size() < VTHREAD_EXCEPTION_MAX_ENTRIES) {
      model.entries.push_back({std::string(text).substr(0, 1023), shown});
    } else if (arg.type == VDT_STRING && !shown.empty()) {
      model.pool -= arg.value.stringValue.length + 1;  // dropped entry
    }
  }
  std::string expected = model.Render();
  FUZZ_CHECK(VThreadExceptionRaised(self) == !model.entries.empty());

  char *printed = nullptr;
  size_t printed_size = 0;
  FILE *stream = open_memstream(&printed, &printed_size);
  VThreadExceptionPrint(self, stream);
  fclose(stream);
  FUZZ_CHECK(expected == std::string(printed, printed_size));
  free(printed);

  vfuzz::AllocFault fault(in.Byte());
  char *out = reinterpret_cast<char *>(&fault);
  fault.Arm();
  VThreadExceptionToBuffer(self, &out);
  bool fired = fault.Disarm();
  if (expected.empty()) {
    FUZZ_CHECK(out == nullptr);
  } else if (fired) {
    FUZZ_CHECK(out == nullptr || expected.compare(0, strlen(out), out) == 0);
  } else {
    FUZZ_CHECK(out != nullptr && expected == out);
  }
  free(out);
  VThreadExceptionClear(self);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = Setup();
  (void)ready;
  VThread self = VThreadGetID();
  FUZZ_CHECK(self != nullptr);
  vfuzz::Input in(data, size);
  if (in.Bool()) {
    CheckCodes(in);
  } else {
    CheckExceptions(in, self);
  }
  return 0;
}
