// Fixtures shared by the log tests: temporary directories, environment
// overrides, file reading, a settable clock and descriptor counts.
#ifndef VANTREL_TESTS_LOG_LOG_TEST_SUPPORT_H
#define VANTREL_TESTS_LOG_LOG_TEST_SUPPORT_H

#include <dirent.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <list>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "log/log_internal.h"
#include "platform/file.h"
#include "vantrel/vlog.h"
#include "vantrel/vrc.h"

namespace vtest {

// Every variable the log code reads; tests start with all of them unset.
inline constexpr const char *kLogVariables[] = {
    "VDE_DEFAULT_LOG_LEVEL",     "VDE_FORCE_LOG_MODULE",
    "VDE_LOGFILE_MAXSIZE",       "VDE_LOGFILE_ROTATION_FORMAT",
    "VDE_LOGFILE_ROTATION_TIME", "VDE_LOGFILE_USESTDERR",
    "VDE_LOGFILE_USEPOOL",       "VDE_LOGFILE_POOLSIZE",
};

// Made on first use, so that death-test children that never use it (and
// exit without running destructors) leave nothing behind.
class TempDir {
 public:
  TempDir() = default;
  TempDir(const TempDir &) = delete;
  TempDir &operator=(const TempDir &) = delete;
  ~TempDir() {
    if (path_.empty()) return;
    nftw(
        path_.c_str(),
        [](const char *p, const struct stat *, int, struct FTW *) {
          return remove(p);
        },
        16, FTW_DEPTH | FTW_PHYS);
  }
  std::string File(const std::string &name) const {
    return path() + "/" + name;
  }
  const std::string &path() const {
    if (path_.empty()) {
      char pattern[] = "/tmp/vlogtest.XXXXXX";
      if (mkdtemp(pattern) != nullptr) path_ = pattern;
    }
    return path_;
  }

 private:
  mutable std::string path_;
};

// Sets (or, with null, unsets) a variable for the scope.
class ScopedEnv {
 public:
  ScopedEnv(const char *name, const char *value) : name_(name) {
    if (const char *old = getenv(name)) old_ = old;
    Set(value);
  }
  ScopedEnv(const ScopedEnv &) = delete;
  ScopedEnv &operator=(const ScopedEnv &) = delete;
  ~ScopedEnv() { Set(old_ ? old_->c_str() : nullptr); }

 private:
  void Set(const char *value) {
    if (value != nullptr) {
      setenv(name_.c_str(), value, 1);
    } else {
      unsetenv(name_.c_str());
    }
  }
  std::string name_;
  std::optional<std::string> old_;
};

inline std::string ReadFile(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string &path, const std::string &text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::vector<std::string> ReadLines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline bool Exists(const std::string &path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

inline int OpenDescriptorCount() {
  int count = 0;
  if (DIR *dir = opendir("/proc/self/fd")) {
    while (readdir(dir) != nullptr) ++count;
    closedir(dir);
  }
  return count;
}

// True when the line opens with "date time: " in the C locale's form.
inline bool StartsWithStamp(const std::string &line) {
  static const char kShape[] = "##/##/## ##:##:##: ";
  if (line.size() < sizeof kShape - 1) return false;
  for (size_t i = 0; i < sizeof kShape - 1; ++i) {
    bool digit = line[i] >= '0' && line[i] <= '9';
    if (kShape[i] == '#' ? !digit : line[i] != kShape[i]) return false;
  }
  return true;
}

// Parses "date time: Warning: writer T line N" and nothing more.
inline bool ParseWriterLine(const std::string &line, int *writer, int *number) {
  static const std::string kWord = "Warning: writer ";
  if (!StartsWithStamp(line) || line.compare(19, kWord.size(), kWord) != 0) {
    return false;
  }
  char tail;
  return sscanf(line.c_str() + 19 + kWord.size(), "%d line %d%c", writer,
                number, &tail) == 2;
}

// A clock the tests move by hand.
inline std::atomic<time_t> g_fake_now{0};
inline time_t FakeNow() { return g_fake_now.load(); }

// A UTC calendar time as seconds since the epoch.
inline time_t Utc(int year, int month, int day, int hour, int minute,
                  int second) {
  struct tm tm = {};
  tm.tm_year = year - 1900;
  tm.tm_mon = month - 1;
  tm.tm_mday = day;
  tm.tm_hour = hour;
  tm.tm_min = minute;
  tm.tm_sec = second;
  return timegm(&tm);
}

// Clears the log variables, sets TZ=UTC, and puts the real clock and the
// file operations back afterwards.
class LogTest : public ::testing::Test {
 protected:
  LogTest() {
    for (const char *name : kLogVariables) env_.emplace_back(name, nullptr);
    env_.emplace_back("TZ", "UTC");
    tzset();
  }
  ~LogTest() override {
    vantrel::internal::LogSetClockForTest(nullptr);
    vantrel::platform::FileFailDisarm();
  }
  void UseFakeClock(time_t now) {
    g_fake_now = now;
    vantrel::internal::LogSetClockForTest(FakeNow);
  }

  TempDir dir_;
  std::list<ScopedEnv> env_;
};

}  // namespace vtest

#endif  // VANTREL_TESTS_LOG_LOG_TEST_SUPPORT_H
