// The stream and file drivers: line format, size and daily rotation, the
// pool, the fall-backs to standard error, and many threads on one file.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>

#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "log_test_support.h"
#include "support/alloc_sweep.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using vantrel::platform::FileFailArm;
using vantrel::platform::FileOp;
using vtest::Exists;
using vtest::ReadFile;
using vtest::ReadLines;
using vtest::ScopedEnv;

constexpr char kStamp[] = "01/02/24 03:04:05";  // kNow in the C locale
const time_t kNow = vtest::Utc(2024, 1, 2, 3, 4, 5);

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kLoadLines = 3000;
#else
constexpr int kLoadLines = 25000;
#endif

class VLogFileTest : public vtest::LogTest {
 protected:
  void SetUp() override {
    // Headers are logged through the manager: keep it off the files.
    ASSERT_EQ(vantrel::internal::LogMgrInitialise("eventlog:"), 0);
    path_ = dir_.File("app.log");
  }
  VLogFile Open(const std::string &spec) {
    VLogFile log = nullptr;
    EXPECT_EQ(VLogFileOpen(spec.c_str(), &log), 0);
    return log;
  }
  static void Write(VLogFile log, const std::string &text) {
    EXPECT_EQ(VLogToFile(log, 3, 0, nullptr, 103, 0, "%s", text.c_str()), 0);
  }
  // The line a warning becomes under the fake clock.
  static std::string Line(const std::string &text) {
    return std::string(kStamp) + ": Warning: " + text;
  }
  std::string PoolFile(int index) const {
    char suffix[8];
    snprintf(suffix, sizeof suffix, "_%02d", index);
    return path_ + suffix;
  }
  std::string path_;
};

TEST_F(VLogFileTest, LinesCarryDateLevelWordAndText) {
  UseFakeClock(kNow);
  const char *words[] = {"Unknown", "Debug", "Information",
                         "Warning", "Error", "Fatal"};
  for (const std::string spec : {"stdout", "file"}) {
    SCOPED_TRACE(spec);
    VLogFile log = Open(spec == "file" ? path_ : spec);
    VLogFileSetLevel(log, 0);
    VLogFileSetFatalDoesNotExit(log, 1);
    CaptureStdout();
    std::string expected;
    for (int level : {1, 2, 3, 4, 5, 0, 9}) {
      VLogToFile(log, level, 1, nullptr, 7, 7, "text %d", level);
      expected += std::string(kStamp) + ": " + words[level <= 5 ? level : 0] +
                  ": text " + std::to_string(level) + "\n";
    }
    std::string out = GetCapturedStdout();
    EXPECT_EQ(spec == "file" ? ReadFile(path_) : out, expected);
    EXPECT_EQ(VLogFileClose(log), 0);
  }
}

// Lines of random lengths against a model: rotate when the size plus the
// line's length passes the limit.  The file starts with earlier content,
// which is kept, and each rotation replaces the one older file.
TEST_F(VLogFileTest, SizeRotationHappensAtTheLineThatWouldPassTheLimit) {
  UseFakeClock(kNow);
  constexpr long long kLimit = 500;
  ScopedEnv max("VDE_LOGFILE_MAXSIZE", std::to_string(kLimit).c_str());
  vtest::WriteFile(path_, std::string(450, 'x') + "\n");
  vtest::WriteFile(path_ + "_old", "stale\n");
  VLogFile log = Open(path_);
  std::mt19937 random(7);
  long long size = 451;
  long long old_size = 6;
  for (int i = 0; i < 300; ++i) {
    std::string text(random() % 120, char('a' + i % 26));
    long long length = static_cast<long long>(Line(text).size());
    if (size + length > kLimit) old_size = std::exchange(size, 0);
    Write(log, text);
    size += length + 1;
    ASSERT_EQ(static_cast<long long>(ReadFile(path_).size()), size) << i;
    ASSERT_EQ(static_cast<long long>(ReadFile(path_ + "_old").size()), old_size)
        << i;
  }
  EXPECT_EQ(VLogFileClose(log), 0);
}

// Checks that the lines open with a header block holding the given headers
// (earlier tests of the process may have added more) and returns the index
// of the first line after it.
size_t SkipHeaders(const std::vector<std::string> &lines,
                   const std::vector<std::string> &headers) {
  if (lines.empty() || !lines[0].ends_with(": *** Log Header Begin ***")) {
    ADD_FAILURE() << "no header block";
    return lines.size();
  }
  size_t found = 0;
  for (size_t i = 1; i < lines.size(); ++i) {
    EXPECT_NE(lines[i].find(": Debug: "), std::string::npos) << lines[i];
    if (lines[i].ends_with(": Debug: *** Log Header End ***")) {
      EXPECT_EQ(found, headers.size());
      return i + 1;
    }
    if (found < headers.size() && lines[i].ends_with(": " + headers[found])) {
      ++found;
    }
  }
  ADD_FAILURE() << "header block not ended";
  return lines.size();
}

// The second case has headers longer than the limit: they still land whole
// at the top of each file, and rotation waits for the next ordinary line.
TEST_F(VLogFileTest, EveryNewFileStartsWithTheHeaders) {
  for (auto [limit, header] : {std::pair{"600", std::string("App demo")},
                               std::pair{"60", std::string(100, 'h')}}) {
    ScopedEnv max("VDE_LOGFILE_MAXSIZE", limit);
    ASSERT_EQ(vantrel::internal::LogMgrInitialise(path_.c_str()), 0);
    VLogMgrSetLevel(1);
    ASSERT_EQ(VLogHeaderAdd("%s", header.c_str()), 0);
    for (int i = 0; i < 40; ++i) VLog(3, 0, nullptr, 103, 0, "line %d", i);
    ASSERT_EQ(VLogMgrSwitch("eventlog:"), 0);
    for (const std::string &file : {path_, path_ + "_old"}) {
      SCOPED_TRACE(file);
      std::vector<std::string> lines = ReadLines(file);
      size_t body = SkipHeaders(lines, {header});
      ASSERT_LT(body, lines.size());
      EXPECT_NE(lines[body].find(": Warning: line "), std::string::npos);
    }
  }
}

TEST_F(VLogFileTest, DailyRotationAtMidnightAndAtTheRotationTime) {
  ScopedEnv format("VDE_LOGFILE_ROTATION_FORMAT", "%Y%m%d");
  ScopedEnv max("VDE_LOGFILE_MAXSIZE", "1");  // not looked at
  UseFakeClock(vtest::Utc(2024, 3, 10, 23, 59, 50));
  VLogFile log = Open(path_);
  Write(log, "a");
  Write(log, "a2");
  vtest::g_fake_now = vtest::Utc(2024, 3, 11, 0, 0, 5);
  Write(log, "b");
  // Named after the moment of rotation, not the day of its lines.
  EXPECT_EQ(ReadLines(path_ + "_20240311").size(), 2u);
  EXPECT_EQ(ReadLines(path_).size(), 1u);

  ScopedEnv at("VDE_LOGFILE_ROTATION_TIME", "0230");
  vtest::g_fake_now = vtest::Utc(2024, 3, 11, 2, 29, 59);
  Write(log, "c");
  EXPECT_EQ(ReadLines(path_).size(), 2u);
  vtest::g_fake_now = vtest::Utc(2024, 3, 11, 2, 30, 0);
  Write(log, "d");
  // The earlier file of the same name is replaced.
  std::vector<std::string> rotated = ReadLines(path_ + "_20240311");
  ASSERT_EQ(rotated.size(), 2u);
  EXPECT_TRUE(rotated[0].ends_with("Warning: b"));
  EXPECT_EQ(ReadLines(path_).size(), 1u);
  EXPECT_EQ(VLogFileClose(log), 0);
}

TEST_F(VLogFileTest, PoolFilesAreUsedInTurnAndEmptied) {
  UseFakeClock(kNow);
  ScopedEnv pool("VDE_LOGFILE_USEPOOL", "TRUE");
  ScopedEnv size("VDE_LOGFILE_POOLSIZE", "3");
  // One line fits a pool file, a second one does not.
  std::string limit = std::to_string(Line("p0").size() + 1);
  ScopedEnv max("VDE_LOGFILE_MAXSIZE", limit.c_str());
  vtest::WriteFile(PoolFile(1), "junk\n");
  int descriptors = vtest::OpenDescriptorCount();
  VLogFile log = Open(path_);
  EXPECT_EQ(vtest::OpenDescriptorCount(), descriptors + 3);
  EXPECT_EQ(ReadFile(PoolFile(1)), "");
  EXPECT_FALSE(Exists(PoolFile(4)));
  const int expected[] = {1, 2, 3, 1, 2};
  for (int i = 0; i < 5; ++i) {
    Write(log, "p" + std::to_string(i));
    EXPECT_EQ(ReadFile(PoolFile(expected[i])),
              Line("p" + std::to_string(i)) + "\n");
  }
  EXPECT_EQ(ReadFile(PoolFile(3)), Line("p2") + "\n");
  EXPECT_FALSE(Exists(path_));
  EXPECT_EQ(VLogFileClose(log), 0);
  EXPECT_EQ(vtest::OpenDescriptorCount(), descriptors);

  for (const char *outside : {"1", "150", "many"}) {
    ScopedEnv env("VDE_LOGFILE_POOLSIZE", outside);
    path_ = dir_.File(std::string("pool") + outside);
    log = Open(path_);
    EXPECT_TRUE(Exists(PoolFile(10)) && !Exists(PoolFile(11))) << outside;
    EXPECT_EQ(VLogFileClose(log), 0);
  }
}

TEST_F(VLogFileTest, UnopenableFileContinuesInThePool) {
  UseFakeClock(kNow);
  FileFailArm(FileOp::kOpen, 1, false, EACCES);
  CaptureStderr();
  VLogFile log = Open(path_);
  EXPECT_EQ(GetCapturedStderr(), "Error Opening Log File " + path_ + "\n");
  Write(log, "pooled");
  EXPECT_EQ(ReadFile(PoolFile(1)), Line("pooled") + "\n");
  EXPECT_TRUE(Exists(PoolFile(10)));
  EXPECT_EQ(VLogFileClose(log), 0);
}

// Directories stand in the way of the file and of every pool file but one.
TEST_F(VLogFileTest, OnePoolFileIsNotEnoughAndStderrTakesOver) {
  ASSERT_EQ(mkdir(path_.c_str(), 0755), 0);
  for (int i = 2; i < 100; ++i) ASSERT_EQ(mkdir(PoolFile(i).c_str(), 0755), 0);
  int descriptors = vtest::OpenDescriptorCount();
  CaptureStderr();
  VLogFile log = Open(path_);
  Write(log, "to stderr");
  std::string err = GetCapturedStderr();
  EXPECT_TRUE(err.starts_with("Error Opening Log File " + path_ + "\n"));
  EXPECT_NE(err.find("Error Opening Log File " + PoolFile(99) +
                     "\nFailed to open enough files, using stderr\n"),
            std::string::npos);
  EXPECT_TRUE(err.ends_with(": Warning: to stderr\n"));
  EXPECT_EQ(vtest::OpenDescriptorCount(), descriptors);
  EXPECT_EQ(VLogFileClose(log), 0);
}

// Two lines with a limit that rotates before the second; the rename fails
// because the new name is a non-empty directory, which fails even for root.
TEST_F(VLogFileTest, FailedRenameFallsBackToThePoolOrToStderr) {
  UseFakeClock(kNow);
  ScopedEnv max("VDE_LOGFILE_MAXSIZE", "40");
  const std::string renamed =
      "Rename Failed - Error = " + std::to_string(EISDIR) + "\n";
  struct Case {
    const char *use_stderr;
    std::string err;
    bool pooled;
  } cases[] = {
      {nullptr, renamed, true},
      {"TRUE",
       renamed + "Switching logging to stderr\n" + Line("second") + "\n",
       false},
      {"FALSE", "", true},  // stderr goes to the null device at open
  };
  ASSERT_EQ(mkdir((path_ + "_old").c_str(), 0755), 0);
  vtest::WriteFile(path_ + "_old/keep", "x");
  for (const Case &c : cases) {
    SCOPED_TRACE(c.use_stderr ? c.use_stderr : "unset");
    ScopedEnv use("VDE_LOGFILE_USESTDERR", c.use_stderr);
    remove(path_.c_str());
    remove(PoolFile(1).c_str());
    CaptureStderr();
    VLogFile log = Open(path_);
    Write(log, "first");
    Write(log, "second");
    EXPECT_EQ(GetCapturedStderr(), c.err);
    EXPECT_EQ(Exists(PoolFile(1)), c.pooled);
    EXPECT_EQ(ReadFile(PoolFile(1)), c.pooled ? Line("second") + "\n" : "");
    EXPECT_EQ(VLogFileClose(log), 0);
  }
}

TEST_F(VLogFileTest, PoolThatCannotBeMadeAfterAFailedRenameStopsLogging) {
  ScopedEnv max("VDE_LOGFILE_MAXSIZE", "40");
  FileFailArm(FileOp::kRename, 1, true, EXDEV);
  bool stopped = false;
  vtest::SweepAllocations([&](vtest::Fault &f) {
    VLogFile log = Open(path_);
    Write(log, "first");
    CaptureStderr();
    f.Arm();
    VRC rc = VLogToFile(log, 3, 0, nullptr, 103, 0, "second");
    f.Disarm();
    std::string err = GetCapturedStderr();
    EXPECT_TRUE(rc == 0 || rc == ENOMEM) << rc;
    stopped |= err.find(
                   "Failed to initialise file pool - Error = 12\n"
                   "Stderr is disabled - stopped logging") != std::string::npos;
    EXPECT_EQ(VLogFileClose(log), 0);
    for (int i = 0; i <= 10; ++i)
      remove(i ? PoolFile(i).c_str() : path_.c_str());
  });
  EXPECT_TRUE(stopped);
}

// Failures of the system calls are reported where the driver reports them
// and never stop the caller.
TEST_F(VLogFileTest, SystemFailuresAreReportedAndLoggingGoesOn) {
  UseFakeClock(kNow);
  ScopedEnv max("VDE_LOGFILE_MAXSIZE", "10");
  VLogFile log = Open(path_);
  FileFailArm(FileOp::kSize, 1, true, EIO);
  CaptureStderr();
  Write(log, "one");
  Write(log, "two");
  std::string report =
      "_VLogFileCheckRotate: fstat failed: " + std::string(strerror(EIO)) +
      "\n";
  EXPECT_EQ(GetCapturedStderr(), report + report);
  EXPECT_EQ(ReadLines(path_).size(), 2u);  // no rotation without a size
  EXPECT_EQ(VLogFileClose(log), 0);

  {
    ScopedEnv pool("VDE_LOGFILE_USEPOOL", "TRUE");
    FileFailArm(FileOp::kEmpty, 1, false, EIO);
    CaptureStderr();
    log = Open(path_);
    Write(log, "on stderr");
    EXPECT_EQ(GetCapturedStderr(),
              "Failed trying to change to file pool - switching to stderr - "
              "-19\n" +
                  Line("on stderr") + "\n");
    EXPECT_EQ(VLogFileClose(log), 0);
  }

  FileFailArm(FileOp::kWrite, 1, true, EIO);
  for (const char *spec : {"/dev/full", "stdout"}) {
    log = Open(spec);
    CaptureStderr();
    Write(log, "lost");
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(VLogFileClose(log), 0);
  }
}

// ---- Many threads on one file.

void RunWriters(VLogFile log, int threads, int lines) {
  std::vector<std::thread> writers;
  for (int t = 0; t < threads; ++t) {
    writers.emplace_back([=] {
      for (int i = 0; i < lines; ++i) {
        if (log != nullptr) {
          VLogToFile(log, 3, 0, nullptr, 103, 0, "writer %d line %d", t, i);
        } else {
          VLog(3, 0, nullptr, 103, 0, "writer %d line %d", t, i);
        }
      }
    });
  }
  for (std::thread &w : writers) w.join();
}

TEST_F(VLogFileTest, EightThreadsWriteEveryLineOnceAndWhole) {
  VLogFile log = Open(path_);
  RunWriters(log, 8, kLoadLines);
  EXPECT_EQ(VLogFileClose(log), 0);
  std::vector<std::vector<bool>> seen(8, std::vector<bool>(kLoadLines));
  size_t count = 0;
  for (const std::string &line : ReadLines(path_)) {
    int t = -1;
    int i = -1;
    ASSERT_TRUE(vtest::ParseWriterLine(line, &t, &i)) << line;
    ASSERT_TRUE(t >= 0 && t < 8 && i >= 0 && i < kLoadLines) << line;
    ASSERT_FALSE(seen[t][i]) << line;
    seen[t][i] = true;
    ++count;
  }
  EXPECT_EQ(count, size_t{8} * kLoadLines);
}

TEST_F(VLogFileTest, EightThreadsWithSizeRotationKeepLinesWholeAndHeaders) {
  ScopedEnv max("VDE_LOGFILE_MAXSIZE", "262144");
  ASSERT_EQ(vantrel::internal::LogMgrInitialise(path_.c_str()), 0);
  VLogMgrSetLevel(1);
  ASSERT_EQ(VLogHeaderAdd("load test"), 0);
  RunWriters(nullptr, 8, kLoadLines);
  ASSERT_EQ(VLogMgrSwitch("eventlog:"), 0);
  std::set<std::pair<int, int>> seen;
  for (const std::string &file : {path_ + "_old", path_}) {
    SCOPED_TRACE(file);
    std::vector<std::string> lines = ReadLines(file);
    for (size_t n = SkipHeaders(lines, {"load test"}); n < lines.size(); ++n) {
      int t = -1;
      int i = -1;
      ASSERT_TRUE(vtest::ParseWriterLine(lines[n], &t, &i)) << lines[n];
      ASSERT_TRUE(seen.insert({t, i}).second) << lines[n];
    }
    EXPECT_LE(ReadFile(file).size(), 262144u + 1);
  }
}

}  // namespace
