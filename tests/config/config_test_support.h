// Shared by the configuration and data-encryption tests: a started library,
// a temporary directory, typed values, managers owned by a test, and the
// log lines a call writes to standard error.
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
  EXPECT_EQ(VPropMgrGetStringValue(m, name, &text), 0) << name;
  std::string out = text != nullptr ? text : "";
  free(text);
  return out;
}

inline VTypedValue Get(VPropMgr m, const char *name) {
  VTypedValue v{};
  EXPECT_EQ(VPropMgrGetValue(m, name, &v), 0) << name;
  return v;
}

// ---- Log lines: "LEVEL: L-COMP-SET-NUMBER: text".  An expected line with
// a negative set or number leaves that part unchecked.

struct LogLine;
using Lines = std::vector<LogLine>;
struct LogLine {
  char letter;
  std::string text;
  int set = -1;
  int number = -1;
  bool operator==(const LogLine &o) const {
    auto same = [](int a, int b) { return a < 0 || b < 0 || a == b; };
    return letter == o.letter && text == o.text && same(set, o.set) &&
           same(number, o.number);
  }
};

inline std::ostream &operator<<(std::ostream &os, const LogLine &line) {
  return os << line.letter << "/" << line.set << "/" << line.number << ": "
            << line.text;
}

inline std::vector<LogLine> ParseLog(const std::string &captured) {
  std::vector<LogLine> lines;
  std::istringstream in(captured);
  for (std::string line; std::getline(in, line);) {
    LogLine parsed{'?', line};
    int text = -1;
    if (sscanf(line.c_str(), "%*[a-z!]: %c-%*[^-]-%d-%d: %n", &parsed.letter,
               &parsed.set, &parsed.number, &text) == 3 &&
        text > 0) {
      parsed.text = line.substr(static_cast<size_t>(text));
    } else {
      parsed = LogLine{'?', line};
    }
    lines.push_back(parsed);
  }
  return lines;
}

// What fn wrote to standard error: raw, or as log lines (at the given log
// level, the default one restored afterwards).
inline std::string StderrOf(const std::function<void()> &fn) {
  testing::internal::CaptureStderr();
  fn();
  return testing::internal::GetCapturedStderr();
}
inline std::vector<LogLine> LogOf(const std::function<void()> &fn,
                                  int level = -1) {
  if (level >= 0) VLogMgrSetLevel(level);
  std::vector<LogLine> lines = ParseLog(StderrOf(fn));
  if (level >= 0) VLogMgrSetLevel(VLOG_WARN);
  return lines;
}

// ---- The fixture: the library started with its default destination, and
// a temporary directory removed afterwards.

class ConfigTest : public testing::Test {
 public:
  void SetUp() override { ASSERT_EQ(VInitialise("vtest", nullptr), 0); }
  ~ConfigTest() override {
    auto rm = [](const char *p, const struct stat *, int, FTW *) {
      return remove(p);
    };
    if (!dir_.empty()) nftw(dir_.c_str(), rm, 16, FTW_DEPTH | FTW_PHYS);
  }
  std::string Path(const std::string &name) {
    char pattern[] = "/tmp/vtest.XXXXXX";
    if (dir_.empty() && mkdtemp(pattern) != nullptr) dir_ = pattern;
    return dir_ + "/" + name;
  }
  // Writes the bytes to a new file in the directory: its path.
  std::string WriteFile(const std::string &name, const std::string &bytes) {
    std::string path = Path(name);
    std::ofstream(path, std::ios::binary) << bytes;
    return path;
  }
  std::string KeyFile(const std::string &name, const std::string &key) {
    return WriteFile(name, std::to_string(key.size() * 8) + ":" + key);
  }
  static std::string ReadFile(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }

  std::string dir_;
};

// The text a writer produces after its "# Written" line, which holds the
// time.
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
  EXPECT_EQ(
      reproduce ? VPropMgrReproduceToStream(m, f) : VPropMgrWriteToStream(m, f),
      0);
  fclose(f);
  std::string out(data, size);
  free(data);
  return out;
}

}  // namespace vtest

#endif  // VANTREL_TESTS_CONFIG_CONFIG_TEST_SUPPORT_H
