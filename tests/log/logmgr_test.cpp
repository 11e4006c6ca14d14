#include <errno.h>
#include <wchar.h>

#include <algorithm>
#include <thread>

#include "log_test_support.h"
#include "support/alloc_sweep.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using vantrel::internal::LogMgrInitialise;
using vtest::SetEnv;

class VLogMgrTest : public vtest::LogTest {
 protected:
  void SetUp() override { ASSERT_EQ(LogMgrInitialise("eventlog:"), 0); }
};

TEST(VLogLevelTest, NamesMatchTheirPrefixIgnoringCase) {
  const std::pair<const char *, int> cases[] = {
      {"WARNING", 3},   {"warn", 3},      {"informational", 2}, {"errors", 4},
      {"Fatal", 5},     {"debugging", 1}, {"err", -1},          {"", -1},
      {"unknown!", -1}, {nullptr, -1}};
  for (auto [text, level] : cases) {
    EXPECT_EQ(VLogLevelFromString(text), level) << (text ? text : "null");
  }
  const char *names[] = {"unknown!", "debug", "info",    "warn",
                         "error",    "fatal", "unknown!"};
  for (int level = 0; level <= 6; ++level) {
    EXPECT_STREQ(VLogLevelToString(level), names[level]);
  }
}

TEST_F(VLogMgrTest, LevelsFilterTheDefaultDriversCodedLines) {
  EXPECT_EQ(VLogMgrGetLevel(), 3);
  CaptureStderr();
  EXPECT_EQ(VLog(2, 1, nullptr, 104, 0, "below"), 0);
  EXPECT_EQ(VLog(4, 0, nullptr, 102, 0, "Failed: %d", 7), 0);
  EXPECT_EQ(VLogLog(3, 0, nullptr, 4, 66, "Attempting %s", "x"), 0);
  VLogMgrSetLevel(1);
  EXPECT_EQ(VLog(1, 0, nullptr, 105, 0, "no facility"), 0);
  EXPECT_EQ(VLog(1, 1, nullptr, 105, 0, "traced"), 0);
  EXPECT_EQ(VLog(9, 0, nullptr, 7, 1234, "odd"), 0);
  EXPECT_EQ(GetCapturedStderr(),
            "error: E-UNK-102-000: Failed: 7\n"
            "warn: W-UNK-004-066: Attempting x\n"
            "debug: D-UNK-105-000: traced\n"
            "unknown!: X-UNK-007-1234: odd\n");

  EXPECT_EQ(VLogMgrSetLevelFromString("Information"), 0);
  EXPECT_EQ(VLogMgrGetLevel(), 2);
  EXPECT_EQ(VLogMgrSetLevelFromString("bogus"), VRC_FAILURE);
  EXPECT_EQ(VLogMgrGetLevel(), 2);
  SetEnv("VDE_DEFAULT_LOG_LEVEL", "ERROR");
  ASSERT_EQ(LogMgrInitialise("eventlog:"), 0);
  EXPECT_EQ(VLogMgrGetLevel(), 4);
  VLogFile log = nullptr;
  ASSERT_EQ(VLogFileOpen("eventlog:", &log), 0);
  EXPECT_EQ(VLogFileGetLevel(log), 4);
  EXPECT_EQ(VLogFileSetLevelFromString(log, "debug"), 0);
  EXPECT_EQ(VLogFileGetLevel(log), 1);
  EXPECT_EQ(VLogFileClose(log), 0);
  SetEnv("VDE_DEFAULT_LOG_LEVEL", "loud");
  ASSERT_EQ(LogMgrInitialise("eventlog:"), 0);
  EXPECT_EQ(VLogMgrGetLevel(), 3);
}

TEST_F(VLogMgrTest, EveryDestinationFormSelectsItsDriver) {
  const std::string dated = Line("probe 1");
  const std::string coded = "warn: W-UNK-103-000: probe 1\n";
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(File("").c_str()), 0);  // for the relative names
  struct Case {
    std::string dest, out, err, file;
    VRC rc;
  } cases[] = {
      {"stdout", dated, "", "", 0},
      {"stdout:", dated, "", "", 0},
      {"stderr", "", dated, "", 0},
      {"stderr:", "", dated, "", 0},
      {"system:", "", coded, "", 0},
      {"eventlog:", "", coded, "", 0},
      {"ldap://host/x", "", coded, "", 0},
      {"stdout://x", "", coded, "", VRC_FAILURE},
      {"file:" + File("a.log"), "", "", File("a.log"), 0},
      {File("b.log"), "", "", File("b.log"), 0},
      {"file:/" + File("c.log"), "", "", File("c.log"), 0},
      {"Stdout", "", "", File("Stdout"), 0},
      {"EVENTLOG:", "", "", File("EVENTLOG:"), 0},
  };
  for (const Case &c : cases) {
    VLogFile log = nullptr;
    CaptureStdout();
    CaptureStderr();
    EXPECT_EQ(VLogFileOpen(c.dest.c_str(), &log), c.rc) << c.dest;
    EXPECT_EQ(VLogToFile(log, 3, 0, nullptr, 103, 0, "probe %d", 1), 0);
    EXPECT_EQ(VLogFileClose(log), 0);
    EXPECT_EQ(GetCapturedStderr(), c.err) << c.dest;
    EXPECT_EQ(GetCapturedStdout(), c.out) << c.dest;
    EXPECT_EQ(vtest::ReadFile(c.file), c.file.empty() ? "" : dated) << c.dest;
  }
  ASSERT_EQ(chdir(cwd), 0);
}

TEST_F(VLogMgrTest, SwitchClosesTheOldDestinationAndFallsBack) {
  std::string a = File("a.log"), b = File("b.log");
  int before = vtest::OpenDescriptorCount();
  SetEnv("VDE_FORCE_LOG_MODULE", a.c_str());
  ASSERT_EQ(LogMgrInitialise("eventlog:"), 0);
  VLog(3, 0, nullptr, 103, 0, "to a");
  ASSERT_EQ(VLogMgrSwitch(("file:" + b).c_str()), 0);
  EXPECT_EQ(vtest::OpenDescriptorCount(), before + 1);
  VLog(3, 0, nullptr, 103, 0, "to b");
  EXPECT_EQ(VLogMgrSwitch("stdout://nowhere"), VRC_FAILURE);
  EXPECT_EQ(vtest::OpenDescriptorCount(), before);
  CaptureStderr();
  VLog(3, 0, nullptr, 103, 0, "fallback");
  EXPECT_EQ(GetCapturedStderr(), "warn: W-UNK-103-000: fallback\n");
  EXPECT_EQ(vtest::ReadFile(a) + vtest::ReadFile(b),
            Line("to a") + Line("to b"));
}

TEST_F(VLogMgrTest, FormatFailureIsReportedAndReturned) {
  CaptureStderr();
  // An unpaired surrogate has no multibyte form in the C locale.
  const wchar_t bad[] = {static_cast<wchar_t>(0xd800), 0};
  EXPECT_EQ(VLog(4, 0, nullptr, 102, 0, "%ls", bad), EILSEQ);
  std::string err = GetCapturedStderr();
  EXPECT_TRUE(err.starts_with("Log message format error [Msg=%ls]. (" +
                              std::to_string(EILSEQ) + ":"))
      << err;
  EXPECT_EQ(err.find("E-UNK"), std::string::npos);
}

// The header list lives as long as the process, so earlier tests may have
// added headers: compare listings before and after.
TEST_F(VLogMgrTest, HeadersAreLoggedAtDebugWithFacilityOne) {
  const std::string begin = "debug: D-UNK-105-000: *** Log Header Begin ***\n";
  const std::string end = "debug: D-UNK-105-000: *** Log Header End ***\n";
  VLogMgrSetLevel(1);
  CaptureStderr();
  ASSERT_EQ(VLogHeaderLog(), 0);
  std::string before = GetCapturedStderr();
  ASSERT_TRUE(before.starts_with(begin) && before.ends_with(end)) << before;

  CaptureStderr();
  EXPECT_EQ(VLogHeaderAdd("Build %d", 7), 0);
  EXPECT_EQ(VLogHeaderLog(), 0);
  EXPECT_EQ(GetCapturedStderr(),
            "debug: D-UNK-105-000: Build 7\n" +
                before.substr(0, before.size() - end.size()) +
                "debug: D-UNK-105-000: Build 7\n" + end);

  VLogMgrSetLevel(3);
  CaptureStderr();
  EXPECT_EQ(VLogHeaderAdd("%s", "quiet"), 0);
  EXPECT_EQ(VLogHeaderLog(), 0);
  EXPECT_EQ(GetCapturedStderr(), "");
}

// Threadsafe death tests run in a fresh process, where nothing has
// initialised the manager yet.  Exit handlers run in reverse order, so one
// registered before the manager starts runs after it closed its destination.
TEST(VLogMgrStartTest, StderrWithoutHeadersBeforeStartAndAfterExit) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        bool ok = VLogMgrGetLevel() == 3 && VLogHeaderAdd("h%d", 1) == 0;
        VLogMgrSetLevel(1);
        VLog(1, 1, nullptr, 105, 0, "early");
        _exit(ok && VLogHeaderLog() == 0 ? 0 : 2);  // no list: writes nothing
      },
      testing::ExitedWithCode(0), "^debug: D-UNK-105-000: early\n$");
  EXPECT_EXIT(
      {
        atexit([] { VLog(3, 0, nullptr, 103, 0, "after"); });
        LogMgrInitialise("stdout");
        exit(0);
      },
      testing::ExitedWithCode(0), "^warn: W-UNK-103-000: after\n$");
}

TEST_F(VLogMgrTest, FatalMessageEndsTheProcessUnlessTurnedOff) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(VLog(5, 0, nullptr, 101, 0, "boom %d", 1),
              testing::ExitedWithCode(1), "fatal: F-UNK-101-000: boom 1\n");
  VLogMgrSetFatalDoesNotExit(1);
  CaptureStderr();
  EXPECT_EQ(VLog(5, 0, nullptr, 101, 0, "survived"), 0);
  EXPECT_EQ(GetCapturedStderr(), "fatal: F-UNK-101-000: survived\n");
  VLogMgrSetFatalDoesNotExit(0);

  VLogFile log = nullptr;
  ASSERT_EQ(VLogFileOpen("stderr", &log), 0);
  EXPECT_EXIT(VLogToFile(log, 5, 0, nullptr, 101, 0, "last words"),
              testing::ExitedWithCode(1), ": Fatal: last words\n");
  VLogFileSetFatalDoesNotExit(log, 1);
  EXPECT_EQ(VLogToFile(log, 5, 0, nullptr, 101, 0, "still here"), 0);
  EXPECT_EQ(VLogFileClose(log), 0);
}

size_t HeaderCount() {
  VLogMgrSetLevel(1);
  CaptureStderr();
  VLogHeaderLog();
  std::string text = GetCapturedStderr();
  VLogMgrSetLevel(3);
  return std::count(text.begin(), text.end(), '\n');
}

// A failed allocation loses the one message or header, nothing else.
TEST_F(VLogMgrTest, AllocationFailuresLoseTheMessageOrHeaderOnly) {
  std::string path = File("sweep.log");
  VLogFile log = nullptr;
  ASSERT_EQ(VLogFileOpen(path.c_str(), &log), 0);
  size_t written = 0;
  vtest::SweepAllocations([&](vtest::Fault &f) {
    CaptureStderr();
    f.Arm();
    // Long enough to leave the stack for the heap.
    VRC rc = VLogToFile(log, 3, 0, nullptr, 103, 0, "line %zu %s", written,
                        std::string(5000, 'x').c_str());
    f.Disarm();
    GetCapturedStderr();
    EXPECT_EQ(rc, f.fired() ? ENOMEM : 0);
    written += rc == 0;
    EXPECT_EQ(vtest::ReadLines(path).size(), written);
  });
  EXPECT_EQ(VLogFileClose(log), 0);

  vtest::SweepAllocations([&](vtest::Fault &f) {
    size_t before = HeaderCount();
    f.Arm();
    VRC rc = VLogHeaderAdd("header %d", 5);
    f.Disarm();
    EXPECT_TRUE(rc == 0 || rc == ENOMEM || rc == VRC_FAILURE) << rc;
    EXPECT_EQ(HeaderCount(), before + (rc == 0));
  });
}

// A destination that failed leaves an object writing to stderr.
TEST_F(VLogMgrTest, OpenUnderAllocationFailureLeavesNothingBehind) {
  SetEnv("VDE_LOGFILE_USEPOOL", "TRUE");
  SetEnv("VDE_LOGFILE_POOLSIZE", "3");
  std::string path = File("pool.log");
  int descriptors = vtest::OpenDescriptorCount();
  vtest::SweepAllocations([&](vtest::Fault &f) {
    VLogFile log = nullptr;
    f.Arm();
    VRC rc = VLogFileOpen(path.c_str(), &log);
    f.Disarm();
    EXPECT_TRUE(rc == 0 || rc == ENOMEM) << rc;
    if (log == nullptr) return;
    CaptureStderr();
    EXPECT_EQ(VLogToFile(log, 3, 0, nullptr, 103, 0, "x"), 0);
    EXPECT_EQ(GetCapturedStderr(), rc == 0 ? "" : "warn: W-UNK-103-000: x\n");
    EXPECT_EQ(VLogFileClose(log), 0);
    EXPECT_EQ(vtest::OpenDescriptorCount(), descriptors);
  });
}

// Writers and a thread that keeps switching between two files: every line
// lands whole in one of them.
TEST_F(VLogMgrTest, SwitchingWhileOtherThreadsLog) {
  std::string files[2] = {File("one.log"), File("two.log")};
  ASSERT_EQ(VLogMgrSwitch(files[0].c_str()), 0);
  vtest::RunWriters(nullptr, 4, 1000, [&] {
    for (int s = 1; s <= 40; ++s) {
      VLogMgrSwitch(files[s % 2].c_str());
      VLogMgrSetLevel(3);
      std::this_thread::yield();
    }
  });
  ASSERT_EQ(VLogMgrSwitch("eventlog:"), 0);
  EXPECT_EQ(vtest::CountWriterLines({files[0], files[1]}), 4000u);
}

}  // namespace
