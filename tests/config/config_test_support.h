// Shared by the configuration tests: a started library, a temporary
// directory with file helpers, typed values, managers owned by a test, and
// the log lines of a call captured from standard error.
#ifndef VANTREL_TESTS_CONFIG_CONFIG_TEST_SUPPORT_H
#define VANTREL_TESTS_CONFIG_CONFIG_TEST_SUPPORT_H

#include <ftw.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <fstream>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "vantrel/vargs.h"
#include "vantrel/vlog.h"
#include "vantrel/vprop.h"
#include "vantrel/vservices.h"

namespace vtest {

// ---- Typed values (texts point at the caller's storage).

inline VTypedValue Int(int32_t v) {
  VTypedValue t{VDT_INTEGER, VValue{}};
  t.value.integerValue = v;
  return t;
}
inline VTypedValue Int64(int64_t v) {
  VTypedValue t{VDT_INTEGER64, VValue{}};
  t.value.integer64Value = v;
  return t;
}
inline VTypedValue Bool(bool v) {
  VTypedValue t{VDT_BOOLEAN, VValue{}};
  t.value.booleanValue = v ? 1 : 0;
  return t;
}
inline VTypedValue Real(double v) {
  VTypedValue t{VDT_REAL, VValue{}};
  t.value.realValue = v;
  return t;
}
inline VTypedValue Text(const char *v) {
  VTypedValue t{VDT_STRING, VValue{}};
  t.value.stringValue.text = const_cast<char *>(v);
  t.value.stringValue.length =
      v != nullptr ? static_cast<uint32_t>(strlen(v)) : 0;
  return t;
}
inline VTypedValue Binary(const void *data, uint32_t length) {
  VTypedValue t{VDT_BINARY, VValue{}};
  t.value.binaryValue.data = const_cast<void *>(data);
  t.value.binaryValue.length = length;
  return t;
}
inline VTypedValue Typed(VDataType type, VValue value) {
  return VTypedValue{type, value};
}

// ---- Managers owned by a test.

struct PropMgrFree {
  void operator()(VPropMgrData *m) const { VPropMgrDestroy(m); }
};
using PropMgr = std::unique_ptr<VPropMgrData, PropMgrFree>;

struct ArgMgrFree {
  void operator()(VArgMgrData *m) const { VArgMgrDestroy(m); }
};
using ArgMgr = std::unique_ptr<VArgMgrData, ArgMgrFree>;

inline PropMgr MakePropMgr(uint32_t flags = 0) {
  VPropMgr m = nullptr;
  EXPECT_EQ(VPropMgrCreateWithFlags(&m, flags), 0);
  return PropMgr(m);
}

// Defines a property described "d", or sets one: the code.
inline VRC Define(VPropMgr m, const char *name, VTypedValue v,
                  uint32_t flags = 0) {
  return VPropMgrDefineWithFlags(m, name, "d", &v, flags);
}
inline VRC Set(VPropMgr m, const char *name, VTypedValue v) {
  return VPropMgrSetValue(m, name, &v);
}

// The property's value rendered as text ("" and a failure when absent).
inline std::string ValueText(VPropMgr m, const char *name) {
  char *text = nullptr;
  VRC rc = VPropMgrGetStringValue(m, name, &text);
  EXPECT_EQ(rc, 0) << name;
  std::string out = text != nullptr ? text : "";
  free(text);
  return out;
}

inline VTypedValue Get(VPropMgr m, const char *name) {
  VTypedValue v{};
  EXPECT_EQ(VPropMgrGetValue(m, name, &v), 0) << name;
  return v;
}

// ---- Log lines: "LEVEL: L-COMP-SET-NUMBER: text"; only the text and the
// level letter are kept.

struct LogLine {
  char letter;
  std::string text;
  bool operator==(const LogLine &) const = default;
};

inline std::ostream &operator<<(std::ostream &os, const LogLine &line) {
  return os << line.letter << ": " << line.text;
}

inline std::vector<LogLine> ParseLog(const std::string &captured) {
  std::vector<LogLine> lines;
  std::istringstream in(captured);
  std::string line;
  while (std::getline(in, line)) {
    char letter = '?';
    int text = -1;
    if (sscanf(line.c_str(), "%*[a-z!]: %c-%*[^-]-%*d-%*d: %n", &letter,
               &text) >= 1 &&
        text > 0) {
      lines.push_back({letter, line.substr(static_cast<size_t>(text))});
    } else {
      lines.push_back({'?', line});
    }
  }
  return lines;
}

// Runs fn and returns the log lines (and any other lines) it wrote to
// standard error.
inline std::vector<LogLine> LogOf(const std::function<void()> &fn) {
  testing::internal::CaptureStderr();
  fn();
  return ParseLog(testing::internal::GetCapturedStderr());
}

inline std::string StderrOf(const std::function<void()> &fn) {
  testing::internal::CaptureStderr();
  fn();
  return testing::internal::GetCapturedStderr();
}

// ---- The fixture: the library started with its default destination, and
// a temporary directory removed afterwards.

class ConfigTest : public testing::Test {
 public:
  void SetUp() override { ASSERT_EQ(VInitialise("config_test", nullptr), 0); }
  ~ConfigTest() override {
    auto rm = [](const char *p, const struct stat *, int, FTW *) {
      return remove(p);
    };
    if (!dir_.empty()) nftw(dir_.c_str(), rm, 16, FTW_DEPTH | FTW_PHYS);
  }
  std::string Path(const std::string &name) {
    char pattern[] = "/tmp/vproptest.XXXXXX";
    if (dir_.empty() && mkdtemp(pattern) != nullptr) dir_ = pattern;
    return dir_ + "/" + name;
  }
  std::string WriteFile(const std::string &name, const std::string &bytes) {
    std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  static std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string dir_;
};

// The text a writer produces, from its "# Written" line's end to the end:
// the part that does not depend on the time.
inline std::string Body(const std::string &written) {
  size_t at = written.find("# Written: ");
  if (at == std::string::npos) return written;
  size_t end = written.find('\n', at);
  return end == std::string::npos ? "" : written.substr(end + 1);
}

// Writes the manager in write (or reproduce) mode into a string.
inline std::string Written(VPropMgr m, bool reproduce = false) {
  char *data = nullptr;
  size_t size = 0;
  FILE *f = open_memstream(&data, &size);
  VRC rc =
      reproduce ? VPropMgrReproduceToStream(m, f) : VPropMgrWriteToStream(m, f);
  EXPECT_EQ(rc, 0);
  fclose(f);
  std::string out(data, size);
  free(data);
  return out;
}

}  // namespace vtest

#endif  // VANTREL_TESTS_CONFIG_CONFIG_TEST_SUPPORT_H
