// Shared by the log tests: a clean environment, a stopped clock, a temporary
// directory and file helpers.
#ifndef VANTREL_TESTS_LOG_LOG_TEST_SUPPORT_H
#define VANTREL_TESTS_LOG_LOG_TEST_SUPPORT_H

#include <dirent.h>
#include <ftw.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "log/log_internal.h"
#include "support/os_fault.h"
#include "vantrel/vlog.h"
#include "vantrel/vrc.h"

namespace vtest {

inline constexpr time_t kNow = 1704164645;             // 2024-01-02 03:04:05
inline constexpr char kStamp[] = "01/02/24 03:04:05";  // kNow, C locale, UTC
inline std::atomic<time_t> g_now{kNow};                // the wall clock

// The system's clock_gettime, with the wall clock stopped at g_now.
inline int StoppedWallClock(clockid_t id, struct timespec *ts) noexcept {
  if (id != CLOCK_REALTIME) return clock_gettime(id, ts);
  ts->tv_sec = g_now.load();
  ts->tv_nsec = 0;
  return 0;
}

// Whether a file (or anything) stands at path.
inline bool Exists(const std::string &path) {
  return access(path.c_str(), F_OK) == 0;
}

inline void SetEnv(const char *name, const char *value) {
  value != nullptr ? setenv(name, value, 1) : unsetenv(name);
}

inline std::string ReadFile(const std::string &path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

inline std::vector<std::string> ReadLines(const std::string &path) {
  std::vector<std::string> lines;
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline int OpenDescriptorCount() {
  int count = 0;
  DIR *dir = opendir("/proc/self/fd");
  while (readdir(dir) != nullptr) ++count;
  closedir(dir);
  return count;
}

// Runs `threads` writers of `lines` "writer T line N" warnings each, to log
// or (when null) through the manager, while this thread runs meanwhile.
inline void RunWriters(
    VLogFile log, int threads, int lines,
    const std::function<void()> &meanwhile = [] {}) {
  std::vector<std::jthread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([=] {
      for (int i = 0; i < lines; ++i) {
        log ? VLogToFile(log, 3, 0, nullptr, 103, 0, "writer %d line %d", t, i)
            : VLog(3, 0, nullptr, 103, 0, "writer %d line %d", t, i);
      }
    });
  }
  meanwhile();
}

// Checks that each file opens with a header block holding header (when not
// null; earlier tests may have added more) and that every other line is a
// whole "writer T line N" warning seen once.  Returns how many were seen.
inline size_t CountWriterLines(const std::vector<std::string> &files,
                               const char *header = nullptr) {
  std::set<std::pair<int, int>> seen;
  const std::string prefix =
      std::string(kStamp) + ": Warning: writer %d line %d%n";
  for (const std::string &file : files) {
    std::vector<std::string> lines = ReadLines(file);
    size_t n = 0;
    bool found = false;
    while (header && n < lines.size() && lines[n].find(": Debug: ") < 20) {
      found |= lines[n++].ends_with(std::string(": ") + header);
    }
    if (header && !(found && lines[0].ends_with("*** Log Header Begin ***") &&
                    lines[n - 1].ends_with("*** Log Header End ***"))) {
      ADD_FAILURE() << file << " does not open with the headers";
      return 0;
    }
    for (int t, i, end = 0; n < lines.size(); ++n, end = 0) {
      if (sscanf(lines[n].c_str(), prefix.c_str(), &t, &i, &end) != 2 ||
          end != static_cast<int>(lines[n].size()) ||
          !seen.insert({t, i}).second) {
        ADD_FAILURE() << file << ": " << lines[n];
        return 0;
      }
    }
  }
  return seen.size();
}

// Starts every test with the log variables unset, TZ=UTC and the library's
// wall clock stopped at kNow; puts the real clock back.
// The directory is made on first use, so that death-test children that
// never use it leave nothing behind.
class LogTest : public ::testing::Test {
 protected:
  LogTest() {
    Reset();
    g_now = kNow;
  }
  ~LogTest() override {
    Reset();
    auto rm = [](const char *p, const struct stat *, int, FTW *) {
      return remove(p);
    };
    if (!dir_.empty()) nftw(dir_.c_str(), rm, 16, FTW_DEPTH | FTW_PHYS);
  }
  static void Reset() {
    for (const char *name :
         {"VDE_DEFAULT_LOG_LEVEL", "VDE_FORCE_LOG_MODULE",
          "VDE_LOGFILE_MAXSIZE", "VDE_LOGFILE_ROTATION_FORMAT",
          "VDE_LOGFILE_ROTATION_TIME", "VDE_LOGFILE_USESTDERR",
          "VDE_LOGFILE_USEPOOL", "VDE_LOGFILE_POOLSIZE",
          "VDE_LOGFILE_MAXFILES"}) {
      unsetenv(name);
    }
    setenv("TZ", "UTC", 1);
    tzset();
  }
  std::string File(const std::string &name) {
    char pattern[] = "/tmp/vlogtest.XXXXXX";
    if (dir_.empty() && mkdtemp(pattern) != nullptr) dir_ = pattern;
    return dir_ + "/" + name;
  }
  // The line a warning becomes.
  static std::string Line(const std::string &text) {
    return std::string(kStamp) + ": Warning: " + text + "\n";
  }
  std::string dir_;
  OsOverride<decltype(&StoppedWallClock)> clock_{"clock_gettime",
                                                 StoppedWallClock};
};

}  // namespace vtest

#endif  // VANTREL_TESTS_LOG_LOG_TEST_SUPPORT_H
