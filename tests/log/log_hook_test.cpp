// The thread manager's lines: written as the log manager's default
// destination writes them until the manager starts, through the log after.
#include "threads/log_hook.h"

#include <string>

#include "log_test_support.h"
#include "threads/thr.h"
#include "vantrel/vthread.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStderr;
using testing::internal::GetCapturedStdout;
using vantrel::internal::LogThroughHook;

class LogHookTest : public vtest::LogTest {};

// Before the log manager starts, a line through the hook reads exactly as
// the same VLog call does.
TEST_F(LogHookTest, WithoutTheManagerLinesMatchTheDefaultDestination) {
  const std::string long_text(3000, 'x');
  struct Case {
    int level, set, number;
    const char *format, *arg;
  } cases[] = {{4, 4, 8, "THREAD MGR: thread %s *EXIT*", "t"},
               {3, 101, 0, "warned %s", ""},
               {2, 4, 1, "below the threshold %s", "x"},
               {9, 7, 1234, "odd %s", "level"},
               {4, 3, 2, "%s", long_text.c_str()}};
  for (const Case &c : cases) {
    CaptureStderr();
    VLog(c.level, 1, nullptr, c.set, c.number, c.format, c.arg);
    std::string expected = GetCapturedStderr();
    CaptureStderr();
    LogThroughHook(c.level, 1, nullptr, c.set, c.number, c.format, c.arg);
    std::string got = GetCapturedStderr();
    if (expected.size() > 2100) {  // the fallback cuts long texts
      EXPECT_EQ(got, expected.substr(0, got.size() - 1) + "\n");
      EXPECT_GT(got.size(), 2000u);
    } else {
      EXPECT_EQ(got, expected) << c.format;
    }
  }
}

VRC Fail(VThread, void *) { return VRC_FAILURE; }

// Once started, the manager receives a failing thread's exit line and
// writes it to its destination.
TEST_F(LogHookTest, ThreadExitLinesGoThroughTheStartedManager) {
  ASSERT_EQ(vantrel::internal::ThreadSubsystemInit(), 0);
  ASSERT_EQ(vantrel::internal::LogMgrInitialise("stdout"), 0);
  VThreadAttr attr = {VTHREAD_ATTR_JOINABLE, 0};
  VThread thread = nullptr;
  CaptureStdout();
  CaptureStderr();
  ASSERT_EQ(VThreadSpawn("failing", Fail, nullptr, &attr, &thread), 0);
  EXPECT_EQ(VThreadDestroy(thread), VRC_FAILURE);
  std::string err = GetCapturedStderr();
  std::string out = GetCapturedStdout();
  EXPECT_EQ(err, "");
  EXPECT_TRUE(out.starts_with(std::string(vtest::kStamp) +
                              ": Error: THREAD MGR: thread failing ("))
      << out;
  EXPECT_TRUE(out.ends_with(") *EXIT*: General failure\n")) << out;
}

}  // namespace
