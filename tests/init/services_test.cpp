// Each test runs in its own process (gtest_discover_tests), so every test
// sees the library before start-up and before any home or name was kept.
#include <errno.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <random>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "internal/alloc.h"
#include "support/alloc_sweep.h"
#include "threads/thr.h"
#include "vantrel/vrc.h"
#include "vantrel/vservices.h"
#include "vantrel/vthread.h"

namespace {

namespace vi = vantrel::internal;

TEST(VServicesTest, InitialiseRunsEveryStepOnceAndKeepsNames) {
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  unsetenv("LANG");
  setenv("LC_CTYPE", "C.UTF-8", 1);
  EXPECT_EQ(VGetAppName(), nullptr);
  EXPECT_EQ(VGetProcName(), nullptr);
  EXPECT_EQ(VSetProcName("early"), 0);

  ASSERT_EQ(VInitialise("app", "stderr"), 0);
  EXPECT_STREQ(setlocale(LC_CTYPE, nullptr), "C.UTF-8");
  EXPECT_STREQ(getenv("LC_ALL"), "enu");
  EXPECT_STREQ(VThreadGetName(VThreadGetID()), "MAIN");
  EXPECT_STREQ(VGetAppName(), "app");
  // The process name falls back to the application name.
  EXPECT_STREQ(VGetProcName(), "early");
  EXPECT_EQ(VSetProcName(nullptr), 0);
  EXPECT_STREQ(VGetProcName(), "app");

  // Later calls, also after VShutdown, keep the first name and the record.
  uint32_t records = vi::ThreadTableCount();
  VShutdown();
  EXPECT_EQ(VInitialise("other", "stdout"), 0);
  EXPECT_STREQ(VGetAppName(), "app");
  EXPECT_EQ(vi::ThreadTableCount(), records);

  vtest::SweepAllocations([&](vtest::Fault &f) {
    ASSERT_EQ(VSetProcName("old"), 0);
    f.Arm();
    VRC rc = VSetProcName("proc");
    bool failed = f.Disarm();
    EXPECT_EQ(rc, failed ? ENOMEM : 0);
    // A failure loses the old name too.
    EXPECT_STREQ(VGetProcName(), failed ? "app" : "proc");
  });
}

// Outcomes of one start-up attempt with an injected allocation failure.
enum Outcome {
  kCompleted,   // nothing was failed and start-up succeeded
  kTolerated,   // a failure the sequence is built to survive
  kNoMemory,    // ended with 12
  kFailure,     // ended with -19
  kWrongResult  // any other result, or a code without its text
};

Outcome TryInitialise(uint64_t nth, bool repeat) {
  unsetenv("LC_ALL");
  vi::AllocFailArm(nth, repeat);
  VRC rc = VInitialise("app", "stderr");
  bool fired = vi::AllocFailDisarm();
  if (!fired) return rc == 0 ? kCompleted : kWrongResult;
  if (rc == 0) return kTolerated;
  if (rc != ENOMEM && rc != VRC_FAILURE) return kWrongResult;
  // The first table to hold a code wins, so the built-ins must be in
  // already for -19 to keep its own text.
  static const VRCEntry kLate[] = {{VRC_FAILURE, 3, 1, "late"}};
  VRCRegister(nullptr, 1, kLate);
  const char *text = rc == ENOMEM ? strerror(ENOMEM) : "General failure";
  if (strcmp(VRCToString(rc), text) != 0) return kWrongResult;
  // The next call runs the sequence again.
  if (rc == VRC_FAILURE && (VInitialise("again", "stderr") != 0 ||
                            strcmp(VGetAppName(), "again") != 0)) {
    return kWrongResult;
  }
  return rc == ENOMEM ? kNoMemory : kFailure;
}

// A failure to make the thread subsystem's first lock is kept for the
// process's life, so each attempt runs in a fresh child process.
Outcome TryInitialiseInChild(uint64_t nth, bool repeat) {
  fflush(nullptr);
  pid_t child = fork();
  if (child == 0) _exit(TryInitialise(nth, repeat));
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return kWrongResult;
  }
  return static_cast<Outcome>(WEXITSTATUS(status));
}

TEST(VServicesTest, InitialiseReturnsTheFailingStepsCode) {
  std::set<Outcome> seen;
  for (bool repeat : {false, true}) {
    Outcome outcome = kWrongResult;
    for (uint64_t nth = 1; nth < 200 && outcome != kCompleted; ++nth) {
      outcome = TryInitialiseInChild(nth, repeat);
      ASSERT_NE(outcome, kWrongResult) << nth << (repeat ? " and later" : "");
      seen.insert(outcome);
    }
    EXPECT_EQ(outcome, kCompleted);
  }
  // Setting LC_ALL (-19) and the thread subsystem (12) both failed.
  EXPECT_TRUE(seen.count(kFailure) && seen.count(kNoMemory));
}

// Values are read once and kept.
TEST(VServicesTest, HomesAndPlatformComeFromTheEnvironment) {
  std::string long_home = "/" + std::string(300, 'k') + "/";
  setenv("VTHOME", "/opt/vt//", 1);
  setenv("KESSHOME", long_home.c_str(), 1);
  setenv("VTPLATFORM", "sparc", 1);
  const char *vt = VGetVTHOME();
  EXPECT_STREQ(vt, "/opt/vt/");  // one separator removed
  EXPECT_EQ(std::string(VGetKESSHOME()), long_home.substr(0, 260));
  EXPECT_STREQ(VGetProbeDir(), "PROBES/sparc");  // asks for the platform
  setenv("VTHOME", "/elsewhere", 1);
  setenv("VTPLATFORM", "other", 1);
  EXPECT_STREQ(VGetVTHOME(), "/opt/vt/");
  EXPECT_STREQ(VGetPlatform(), "sparc");
  EXPECT_STREQ(VGetTsmDir(), "TSM/sparc");
  char host[256] = {};
  ASSERT_EQ(gethostname(host, sizeof host - 1), 0);
  const char *name = VGetHostName();
  EXPECT_STREQ(name, host[0] != '\0' ? host : "localhost");
  EXPECT_EQ(VGetHostName(), name);
}

TEST(VServicesTest, HomesAndPlatformHaveBuiltInDefaults) {
  setenv("VTHOME", "", 1);  // empty counts as not set
  unsetenv("KESSHOME");
  unsetenv("VTPLATFORM");
  std::vector<std::thread> threads;
  std::vector<const char *> seen(4);
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = VGetVTHOME(); });
  }
  for (auto &t : threads) t.join();
  std::string vt = VGetVTHOME();
  for (const char *home : seen) EXPECT_EQ(home, VGetVTHOME());
  ASSERT_GT(vt.size(), 1u);
  EXPECT_TRUE(vt.front() == '/' && vt.back() != '/');
  EXPECT_EQ(std::string(VGetKESSHOME()), vt + "/Kessaly");
  EXPECT_STREQ(VGetPlatform(), "linux");
  const std::pair<const char *, const char *> dirs[] = {
      {VGetProbeDir(), "PROBES/linux"},
      {VGetMonitorDir(), "MONITORS/linux"},
      {VGetTsmDir(), "TSM/linux"},
      {VGetBinDir(), "BIN"},
      {VGetLibDir(), "DLL"},
      {VGetEtcDir(), "ETC"},
      {VGetVarDir(), "VAR"},
      {VGetLogDir(), "LOG"},
      {VGetGateDir(), "GATES"}};
  for (const auto &[got, want] : dirs) EXPECT_STREQ(got, want);
}

// Writes into a larger buffer filled with a marker, so that any byte
// written at or beyond `size` shows up.
std::string WithLength(uint32_t size, const char *a, const char *b,
                       const char *c, VRC *rc) {
  char buffer[64];
  memset(buffer, '#', sizeof buffer);
  *rc = VConstructPathWithLength(buffer, size, a, b, c, nullptr);
  for (size_t i = size; i < sizeof buffer; ++i) {
    if (buffer[i] != '#') return "<overrun>";
  }
  bool terminated = size > 0 && memchr(buffer, '\0', size) != nullptr;
  return terminated ? std::string(buffer) : "<unterminated>";
}

TEST(VServicesTest, ConstructPathJoinsPiecesAndCutsAtTheLimit) {
  char path[64];
  VConstructPath(path, "only", nullptr);
  EXPECT_STREQ(path, "only");
  VConstructPath(path, "/home", "/", "", "BIN", "/", "tool", nullptr);
  EXPECT_STREQ(path, "/home/BIN/tool");
  char untouched = '#';
  EXPECT_EQ(VConstructPathWithLength(&untouched, 0, "a", nullptr), VRC_FAILURE);
  EXPECT_EQ(untouched, '#');
  // Against a model: the joined text, or its first size - 1 bytes and -19.
  std::mt19937 random(7);
  auto piece = [&] { return std::string(random() % 7, 'a' + random() % 26); };
  for (int round = 0; round < 2000; ++round) {
    std::string a = piece(), b = piece(), c = piece(), whole = a + b + c;
    uint32_t size = 1 + random() % 24;
    VRC rc = 0;
    std::string got = WithLength(size, a.c_str(), b.c_str(), c.c_str(), &rc);
    bool fits = whole.size() < size;
    ASSERT_EQ(rc, fits ? 0 : VRC_FAILURE) << whole << " " << size;
    ASSERT_EQ(got, fits ? whole : whole.substr(0, size - 1));
  }
}

}  // namespace
