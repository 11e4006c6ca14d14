#include <errno.h>
#include <fcntl.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <random>

#include "log_test_support.h"
#include "support/alloc_sweep.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using vtest::Exists;
using vtest::ReadFile;
using vtest::ReadLines;
using vtest::SetEnv;

using vtest::g_now;
using vtest::kStamp;

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
    path_ = File("app.log");
  }
  static VLogFile Open(const std::string &dest) {
    VLogFile log = nullptr;
    EXPECT_EQ(VLogFileOpen(dest.c_str(), &log), 0);
    return log;
  }
  static void Write(VLogFile log, const std::string &text) {
    EXPECT_EQ(VLogToFile(log, 3, 0, nullptr, 103, 0, "%s", text.c_str()), 0);
  }
  std::string Pool(int index) const {
    return path_ + (index < 10 ? "_0" : "_") + std::to_string(index);
  }
  std::string path_;
};

TEST_F(VLogFileTest, LinesCarryDateLevelWordAndText) {
  const char *words[] = {"Unknown", "Debug", "Information",
                         "Warning", "Error", "Fatal"};
  for (const std::string dest : {"stdout", "file"}) {
    VLogFile log = Open(dest == "file" ? path_ : dest);
    VLogFileSetLevel(log, 0);
    VLogFileSetFatalDoesNotExit(log, 1);
    testing::internal::CaptureStdout();
    std::string expected;
    for (int level : {1, 2, 3, 4, 5, 0, 9}) {
      VLogToFile(log, level, 1, nullptr, 7, 7, "text %d", level);
      expected += std::string(kStamp) + ": " + words[level <= 5 ? level : 0] +
                  ": text " + std::to_string(level) + "\n";
    }
    // Texts around the size kept on the stack, and one far beyond it.
    for (size_t length : {2047, 2048, 2049, 70000}) {
      std::string text(length, char('a' + length % 26));
      VLogToFile(log, 3, 0, nullptr, 7, 7, "%s", text.c_str());
      expected += std::string(kStamp) + ": Warning: " + text + "\n";
    }
    VLogToFile(log, 3, 0, nullptr, 7, 7, "cut%chere", 0);
    expected += std::string(kStamp) + ": Warning: cut\n";
    {
      vtest::OsCallCounter writes("write");
      VLogToFile(log, 3, 0, nullptr, 7, 7, "whole");
      EXPECT_EQ(writes.calls(), 1u) << dest;  // one write(2) per line
    }
    expected += std::string(kStamp) + ": Warning: whole\n";
    // Output the program left in the stream's buffer comes first.
    if (dest == "stdout") {
      fputs("pending ", stdout);
      expected += "pending ";
    }
    VLogToFile(log, 3, 0, nullptr, 7, 7, "last");
    expected += std::string(kStamp) + ": Warning: last\n";
    std::string out = testing::internal::GetCapturedStdout();
    EXPECT_EQ(dest == "file" ? ReadFile(path_) : out, expected) << dest;
    EXPECT_EQ(VLogFileClose(log), 0);
  }
}

// Lines of random lengths against a model: rotate when the size plus the
// line (without its newline) passes the limit.  Earlier content is kept and
// each rotation replaces the one older file.
TEST_F(VLogFileTest, SizeRotationHappensAtTheLineThatWouldPassTheLimit) {
  SetEnv("VDE_LOGFILE_MAXSIZE", "500");
  std::ofstream(path_) << std::string(450, 'x') << "\n";
  std::ofstream(path_ + "_old") << "stale\n";
  VLogFile log = Open(path_);
  std::mt19937 random(7);
  size_t size = 451, old_size = 6;
  for (int i = 0; i < 300; ++i) {
    std::string text(random() % 120, char('a' + i % 26));
    if (size + Line(text).size() - 1 > 500) old_size = std::exchange(size, 0);
    Write(log, text);
    size += Line(text).size();
    ASSERT_EQ(ReadFile(path_).size(), size) << i;
    ASSERT_EQ(ReadFile(path_ + "_old").size(), old_size) << i;
  }
  // The limit is read at every write: once it is gone the file only grows.
  SetEnv("VDE_LOGFILE_MAXSIZE", nullptr);
  std::string long_text(600, 'z');
  Write(log, long_text);
  EXPECT_EQ(ReadFile(path_).size(), size + Line(long_text).size());
  EXPECT_EQ(VLogFileClose(log), 0);

  // A pipe (like a device) is written to but never renamed, whatever the
  // limit and the daily setting say.
  SetEnv("VDE_LOGFILE_MAXSIZE", "10");
  std::string fifo = File("pipe");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  int reader = open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  log = Open(fifo);
  for (const char *rotation : {(const char *)nullptr, "%Y"}) {
    SetEnv("VDE_LOGFILE_ROTATION_FORMAT", rotation);
    Write(log, "through the pipe, longer than the limit");
  }
  EXPECT_EQ(VLogFileClose(log), 0);
  char bytes[4096];
  EXPECT_EQ(
      read(reader, bytes, sizeof bytes),
      ssize_t(2 * Line("through the pipe, longer than the limit").size()));
  close(reader);
  struct stat st;
  ASSERT_EQ(stat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
  EXPECT_FALSE(Exists(fifo + "_old"));
}

// With the second limit the header alone passes it: headers still land whole
// and rotation waits for the next ordinary line.
TEST_F(VLogFileTest, EveryNewFileStartsWithTheHeaders) {
  for (auto [limit, header] : {std::pair{"600", std::string("App demo")},
                               std::pair{"60", std::string(100, 'h')}}) {
    SetEnv("VDE_LOGFILE_MAXSIZE", limit);
    ASSERT_EQ(vantrel::internal::LogMgrInitialise(path_.c_str()), 0);
    VLogMgrSetLevel(1);
    ASSERT_EQ(VLogHeaderAdd("%s", header.c_str()), 0);
    for (int i = 0; i < 40; ++i) {
      VLog(3, 0, nullptr, 103, 0, "writer %s line %d", limit, i);
    }
    ASSERT_EQ(VLogMgrSwitch("eventlog:"), 0);
    for (const std::string &file : {path_, path_ + "_old"}) {
      EXPECT_GT(vtest::CountWriterLines({file}, header.c_str()), 0u) << limit;
    }
  }
  // A log file that cannot be opened: the first pool file starts with them.
  path_ = File("blocked.log");
  ASSERT_EQ(mkdir(path_.c_str(), 0755), 0);
  CaptureStderr();
  ASSERT_EQ(vantrel::internal::LogMgrInitialise(path_.c_str()), 0);
  VLogMgrSetLevel(1);
  VLog(3, 0, nullptr, 103, 0, "writer 0 line 0");
  ASSERT_EQ(VLogMgrSwitch("eventlog:"), 0);
  GetCapturedStderr();
  EXPECT_EQ(vtest::CountWriterLines({Pool(1)}, "App demo"), 1u);
}

// Rotated files are named after the moment of rotation, not the day of
// their lines, and replace an earlier file of the same name.
TEST_F(VLogFileTest, DailyRotationAtMidnightAndAtTheRotationTime) {
  const time_t midnight = 1710115200;  // 2024-03-11 00:00:00 UTC
  SetEnv("VDE_LOGFILE_ROTATION_FORMAT", "%Y%m%d");
  SetEnv("VDE_LOGFILE_MAXSIZE", "1");  // not looked at
  g_now = midnight - 10;
  VLogFile log = Open(path_);
  Write(log, "a");
  Write(log, "a2");
  g_now = midnight + 5;
  Write(log, "b");
  EXPECT_EQ(ReadLines(path_ + "_20240311").size(), 2u);
  SetEnv("VDE_LOGFILE_ROTATION_TIME", "0230");
  g_now = midnight + 9000 - 1;  // 02:29:59
  Write(log, "c");
  EXPECT_EQ(ReadLines(path_).size(), 2u);
  g_now = midnight + 9000;
  Write(log, "d");
  std::vector<std::string> rotated = ReadLines(path_ + "_20240311");
  EXPECT_TRUE(rotated.size() == 2 && rotated[0].ends_with("Warning: b"));
  EXPECT_EQ(ReadLines(path_).size(), 1u);
  EXPECT_EQ(VLogFileClose(log), 0);
}

TEST_F(VLogFileTest, PoolFilesAreUsedInTurnAndEmptied) {
  SetEnv("VDE_LOGFILE_USEPOOL", "TRUE");
  SetEnv("VDE_LOGFILE_POOLSIZE", "3");
  // One line fits a pool file, a second one does not.
  SetEnv("VDE_LOGFILE_MAXSIZE", std::to_string(Line("p0").size()).c_str());
  std::ofstream(Pool(1)) << "junk\n";
  int descriptors = vtest::OpenDescriptorCount();
  VLogFile log = Open(path_);
  EXPECT_EQ(vtest::OpenDescriptorCount(), descriptors + 3);
  EXPECT_EQ(ReadFile(Pool(1)), "");
  EXPECT_FALSE(Exists(Pool(4)));
  const int expected[] = {1, 2, 3, 1, 2};
  for (int i = 0; i < 5; ++i) {
    Write(log, "p" + std::to_string(i));
    EXPECT_EQ(ReadFile(Pool(expected[i])), Line("p" + std::to_string(i)));
  }
  EXPECT_EQ(ReadFile(Pool(3)), Line("p2"));
  EXPECT_FALSE(Exists(path_));
  EXPECT_EQ(VLogFileClose(log), 0);
  EXPECT_EQ(vtest::OpenDescriptorCount(), descriptors);

  for (const char *outside : {"1", "150", "many"}) {  // ten files instead
    SetEnv("VDE_LOGFILE_POOLSIZE", outside);
    path_ = File(std::string("pool") + outside);
    EXPECT_EQ(VLogFileClose(Open(path_)), 0);
    EXPECT_TRUE(Exists(Pool(10)) && !Exists(Pool(11))) << outside;
  }
}

TEST_F(VLogFileTest, UnopenableFileFallsBackToThePoolThenToStderr) {
  vtest::OsFault refused("open", 1, EACCES);
  CaptureStderr();
  VLogFile log = Open(path_);
  EXPECT_EQ(GetCapturedStderr(), "Error Opening Log File " + path_ + "\n");
  Write(log, "pooled");
  EXPECT_EQ(ReadFile(Pool(1)), Line("pooled"));
  EXPECT_TRUE(Exists(Pool(10)));
  EXPECT_EQ(VLogFileClose(log), 0);

  // Directories stand in the way of the file and of every pool file but one.
  path_ = File("blocked.log");
  ASSERT_EQ(mkdir(path_.c_str(), 0755), 0);
  for (int i = 2; i < 100; ++i) ASSERT_EQ(mkdir(Pool(i).c_str(), 0755), 0);
  int descriptors = vtest::OpenDescriptorCount();
  CaptureStderr();
  log = Open(path_);
  Write(log, "to stderr");
  std::string err = GetCapturedStderr();
  EXPECT_EQ(vtest::OpenDescriptorCount(), descriptors);
  EXPECT_EQ(VLogFileClose(log), 0);
  EXPECT_TRUE(err.starts_with("Error Opening Log File " + path_ + "\n"));
  EXPECT_TRUE(err.ends_with("Error Opening Log File " + Pool(99) +
                            "\nFailed to open enough files, using stderr\n" +
                            Line("to stderr")))
      << err;
}

// A limit that rotates before the second line; the rename fails because the
// new name is a non-empty directory (which fails even for root), and with
// the pool unmakeable as well logging stops.
TEST_F(VLogFileTest, FailedRenameFallsBackToThePoolOrToStderrOrStops) {
  SetEnv("VDE_LOGFILE_MAXSIZE", "40");
  const std::string renamed =
      "Rename Failed - Error = " + std::to_string(EISDIR) + "\n";
  struct Case {
    const char *use_stderr;
    std::string err;
    bool pooled;
  } cases[] = {
      {nullptr, renamed, true},
      {"TRUE", renamed + "Switching logging to stderr\n" + Line("second"),
       false},
      {"FALSE", "", true},  // stderr goes to the null device at open
  };
  ASSERT_EQ(mkdir((path_ + "_old").c_str(), 0755), 0);
  std::ofstream(path_ + "_old/keep") << "x";
  for (const Case &c : cases) {
    SetEnv("VDE_LOGFILE_USESTDERR", c.use_stderr);
    remove(path_.c_str());
    remove(Pool(1).c_str());
    CaptureStderr();
    VLogFile log = Open(path_);
    Write(log, "first");
    Write(log, "second");
    EXPECT_EQ(GetCapturedStderr(), c.err);
    EXPECT_EQ(ReadFile(Pool(1)), c.pooled ? Line("second") : "");
    EXPECT_EQ(Exists(Pool(1)), c.pooled);
    EXPECT_EQ(VLogFileClose(log), 0);
  }

  SetEnv("VDE_LOGFILE_USESTDERR", nullptr);
  path_ = File("sweep.log");
  vtest::OsFault cross_device("rename", 1, EXDEV, true);
  bool stopped = false;
  vtest::SweepAllocations([&](vtest::Fault &f) {
    VLogFile log = Open(path_);
    Write(log, "first");
    CaptureStderr();
    f.Arm();
    VRC rc = VLogToFile(log, 3, 0, nullptr, 103, 0, "second");
    f.Disarm();
    EXPECT_TRUE(rc == 0 || rc == ENOMEM) << rc;
    stopped |= GetCapturedStderr().find(
                   "Failed to initialise file pool - Error = 12\n"
                   "Stderr is disabled - stopped logging") != std::string::npos;
    EXPECT_EQ(VLogFileClose(log), 0);
    for (int i = 0; i <= 10; ++i) remove(i ? Pool(i).c_str() : path_.c_str());
  });
  EXPECT_TRUE(stopped);
}

// Failed system calls are reported where the driver reports them and never
// stop the caller.
TEST_F(VLogFileTest, SystemFailuresAreReportedAndLoggingGoesOn) {
  SetEnv("VDE_LOGFILE_MAXSIZE", "10");
  VLogFile log = Open(path_);
  {
    vtest::OsFault no_size("fstat", 1, EIO, true);
    CaptureStderr();
    Write(log, "one");
    Write(log, "two");
  }
  std::string report =
      "_VLogFileCheckRotate: fstat failed: " + std::string(strerror(EIO)) +
      "\n";
  EXPECT_EQ(GetCapturedStderr(), report + report);
  EXPECT_EQ(ReadLines(path_).size(), 2u);  // no rotation without a size
  EXPECT_EQ(VLogFileClose(log), 0);

  // A device that really fails the write, then an injected failure.
  SetEnv("VDE_LOGFILE_MAXSIZE", nullptr);
  for (const char *dest : {"/dev/full", "stdout"}) {
    std::optional<vtest::OsFault> failing;
    if (dest[0] == 's') failing.emplace("write", 1, EIO, true);
    log = Open(dest);
    CaptureStderr();
    Write(log, "lost");
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_EQ(VLogFileClose(log), 0);
  }

  SetEnv("VDE_LOGFILE_USEPOOL", "TRUE");
  vtest::OsFault no_truncate("ftruncate", 1, EIO);
  CaptureStderr();
  log = Open(path_);
  Write(log, "on stderr");
  EXPECT_EQ(GetCapturedStderr(),
            "Failed trying to change to file pool - switching to stderr - "
            "-19\n" +
                Line("on stderr"));
  EXPECT_EQ(VLogFileClose(log), 0);
}

// Eight writers on one file, then through the manager onto a file rotated
// by size: every line lands whole, at most once, after the headers.
TEST_F(VLogFileTest, EightThreadsWriteEveryLineOnceAndWhole) {
  VLogFile log = Open(path_);
  vtest::RunWriters(log, 8, kLoadLines);
  EXPECT_EQ(VLogFileClose(log), 0);
  EXPECT_EQ(vtest::CountWriterLines({path_}), size_t{8} * kLoadLines);

  path_ = File("rotated.log");
  SetEnv("VDE_LOGFILE_MAXSIZE", "262144");
  ASSERT_EQ(vantrel::internal::LogMgrInitialise(path_.c_str()), 0);
  VLogMgrSetLevel(1);
  ASSERT_EQ(VLogHeaderAdd("load test"), 0);
  vtest::RunWriters(nullptr, 8, kLoadLines);
  ASSERT_EQ(VLogMgrSwitch("eventlog:"), 0);
  EXPECT_GT(vtest::CountWriterLines({path_ + "_old", path_}, "load test"), 0u);
  EXPECT_LE(ReadFile(path_ + "_old").size(), 262144u + 1);
  EXPECT_LE(ReadFile(path_).size(), 262144u + 1);
}

}  // namespace
