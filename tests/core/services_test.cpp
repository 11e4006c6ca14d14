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

const char *MainThreadName() { return VThreadGetName(VThreadGetID()); }

TEST(VServicesTest, InitialiseRunsEveryStepOnce) {
  unsetenv("LC_ALL");
  unsetenv("LC_MESSAGES");
  unsetenv("LANG");
  setenv("LC_CTYPE", "C.UTF-8", 1);
  EXPECT_EQ(VGetAppName(), nullptr);

  ASSERT_EQ(VInitialise("app", "stderr"), 0);
  EXPECT_STREQ(setlocale(LC_CTYPE, nullptr), "C.UTF-8");
  EXPECT_STREQ(getenv("LC_ALL"), "enu");
  EXPECT_STREQ(MainThreadName(), "MAIN");
  EXPECT_STREQ(VGetAppName(), "app");
  EXPECT_STREQ(VRCToString(VRC_FAILURE), "General failure");

  // Later calls, also after VShutdown, keep the first name and the record.
  uint32_t records = vantrel::internal::ThreadTableCount();
  EXPECT_EQ(VInitialise("other", "stdout"), 0);
  VShutdown();
  EXPECT_EQ(VInitialise("third", "stdout"), 0);
  EXPECT_STREQ(VGetAppName(), "app");
  EXPECT_EQ(vantrel::internal::ThreadTableCount(), records);
}

TEST(VServicesTest, FailedLocalisationStillRegistersBuiltinTexts) {
  unsetenv("LC_ALL");
  // Setting LC_ALL is the first allocation of start-up.
  vantrel::internal::AllocFailArm(1, false);
  VRC rc = VInitialise("app", "stderr");
  ASSERT_TRUE(vantrel::internal::AllocFailDisarm());
  EXPECT_EQ(rc, VRC_FAILURE);
  EXPECT_STREQ(VGetAppName(), "app");
  EXPECT_EQ(vantrel::internal::ThreadTableCount(), 0u);

  // The first table to hold a code wins, so the built-ins must be in
  // already for -19 to keep its own text.
  static const VRCEntry kLate[] = {{VRC_FAILURE, 3, 1, "late"}};
  ASSERT_EQ(VRCRegister(nullptr, 1, kLate), 0);
  EXPECT_STREQ(VRCToString(VRC_FAILURE), "General failure");

  // The flag stayed clear: the next call runs the sequence again.
  EXPECT_EQ(VInitialise("again", "stderr"), 0);
  EXPECT_STREQ(VGetAppName(), "again");
  EXPECT_STREQ(MainThreadName(), "MAIN");
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
  vantrel::internal::AllocFailArm(nth, repeat);
  VRC rc = VInitialise("app", "stderr");
  bool fired = vantrel::internal::AllocFailDisarm();
  if (!fired) return rc == 0 ? kCompleted : kWrongResult;
  if (rc == 0) return kTolerated;
  if (rc != ENOMEM && rc != VRC_FAILURE) return kWrongResult;
  const char *text = rc == ENOMEM ? strerror(ENOMEM) : "General failure";
  if (strcmp(VRCToString(rc), text) != 0) return kWrongResult;
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
  EXPECT_TRUE(seen.count(kFailure));
  EXPECT_TRUE(seen.count(kNoMemory));
}

TEST(VServicesTest, ProcessNameFallsBackToTheApplicationName) {
  EXPECT_EQ(VGetProcName(), nullptr);
  EXPECT_EQ(VSetProcName("early"), 0);
  EXPECT_STREQ(VGetProcName(), "early");
  ASSERT_EQ(VInitialise("app", "stderr"), 0);
  EXPECT_STREQ(VGetProcName(), "early");
  EXPECT_EQ(VSetProcName(nullptr), 0);
  EXPECT_STREQ(VGetProcName(), "app");

  vtest::SweepAllocations([&](vtest::Fault &f) {
    ASSERT_EQ(VSetProcName("old"), 0);
    f.Arm();
    VRC rc = VSetProcName("proc");
    if (f.Disarm()) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_STREQ(VGetProcName(), "app");  // the old name is gone too
    } else {
      EXPECT_EQ(rc, 0);
      EXPECT_STREQ(VGetProcName(), "proc");
    }
  });
  EXPECT_EQ(VSetProcName(nullptr), 0);
}

TEST(VServicesTest, HomesComeFromTheEnvironmentAndAreKept) {
  std::string longHome = "/" + std::string(300, 'k') + "/";
  setenv("VTHOME", "/opt/vt//", 1);
  setenv("KESSHOME", longHome.c_str(), 1);
  const char *vt = VGetVTHOME();
  EXPECT_STREQ(vt, "/opt/vt/");  // one separator removed
  EXPECT_EQ(std::string(VGetKESSHOME()), longHome.substr(0, 260));
  setenv("VTHOME", "/elsewhere", 1);
  EXPECT_EQ(VGetVTHOME(), vt);
  EXPECT_STREQ(VGetVTHOME(), "/opt/vt/");
}

TEST(VServicesTest, HomesDefaultToTheBuiltInHome) {
  setenv("VTHOME", "", 1);  // empty counts as not set
  unsetenv("KESSHOME");
  std::vector<std::thread> threads;
  std::vector<const char *> seen(4);
  for (size_t i = 0; i < seen.size(); ++i) {
    threads.emplace_back([&seen, i] { seen[i] = VGetVTHOME(); });
  }
  for (auto &t : threads) t.join();
  std::string vt = VGetVTHOME();
  for (const char *home : seen) EXPECT_EQ(home, VGetVTHOME());
  ASSERT_GT(vt.size(), 1u);
  EXPECT_EQ(vt.front(), '/');
  EXPECT_NE(vt.back(), '/');
  EXPECT_EQ(std::string(VGetKESSHOME()), vt + "/Kessaly");
}

TEST(VServicesTest, PlatformDefaultsToLinuxAndIsKept) {
  unsetenv("VTPLATFORM");
  EXPECT_STREQ(VGetPlatform(), "linux");
  setenv("VTPLATFORM", "other", 1);
  EXPECT_STREQ(VGetPlatform(), "linux");
  EXPECT_STREQ(VGetProbeDir(), "PROBES/linux");
  EXPECT_STREQ(VGetMonitorDir(), "MONITORS/linux");
  EXPECT_STREQ(VGetTsmDir(), "TSM/linux");
  EXPECT_STREQ(VGetBinDir(), "BIN");
  EXPECT_STREQ(VGetLibDir(), "DLL");
  EXPECT_STREQ(VGetEtcDir(), "ETC");
  EXPECT_STREQ(VGetVarDir(), "VAR");
  EXPECT_STREQ(VGetLogDir(), "LOG");
  EXPECT_STREQ(VGetGateDir(), "GATES");
}

TEST(VServicesTest, PlatformComesFromTheEnvironment) {
  setenv("VTPLATFORM", "sparc", 1);
  EXPECT_STREQ(VGetProbeDir(), "PROBES/sparc");  // asks for the platform
  EXPECT_STREQ(VGetPlatform(), "sparc");
  EXPECT_STREQ(VGetTsmDir(), "TSM/sparc");
}

TEST(VServicesTest, HostNameIsTheMachinesAndIsKept) {
  char expected[256] = {};
  ASSERT_EQ(gethostname(expected, sizeof expected - 1), 0);
  const char *name = VGetHostName();
  EXPECT_STREQ(name, expected[0] != '\0' ? expected : "localhost");
  EXPECT_EQ(VGetHostName(), name);
}

TEST(VServicesTest, ConstructPathJoinsPiecesAsGiven) {
  char path[64];
  VConstructPath(path, "only", nullptr);
  EXPECT_STREQ(path, "only");
  VConstructPath(path, "/home", "/", "", "BIN", "/", "tool", nullptr);
  EXPECT_STREQ(path, "/home/BIN/tool");
}

// Writes into a larger buffer filled with a marker, so that any byte
// written at or beyond `size` shows up.
struct Bounded {
  VRC rc;
  std::string text;
  bool overrun;
};

Bounded WithLength(uint32_t size, const char *a, const char *b, const char *c) {
  char buffer[64];
  memset(buffer, '#', sizeof buffer);
  VRC rc = VConstructPathWithLength(buffer, size, a, b, c, nullptr);
  bool overrun = false;
  for (size_t i = size; i < sizeof buffer; ++i) overrun |= buffer[i] != '#';
  bool terminated = size > 0 && memchr(buffer, '\0', size) != nullptr;
  return {rc, terminated ? std::string(buffer) : "<unterminated>", overrun};
}

TEST(VServicesTest, ConstructPathWithLengthCutsAtTheLimit) {
  Bounded nine = WithLength(10, "abcd", "/", "efgh");
  EXPECT_EQ(nine.rc, 0);
  EXPECT_EQ(nine.text, "abcd/efgh");
  Bounded ten = WithLength(10, "abcd", "/", "efghi");
  EXPECT_EQ(ten.rc, VRC_FAILURE);
  EXPECT_EQ(ten.text, "abcd/efgh");
  char untouched = '#';
  EXPECT_EQ(VConstructPathWithLength(&untouched, 0, "a", nullptr), VRC_FAILURE);
  EXPECT_EQ(untouched, '#');

  std::mt19937 random(7);
  auto piece = [&] { return std::string(random() % 7, 'a' + random() % 26); };
  for (int round = 0; round < 2000; ++round) {
    std::string a = piece(), b = piece(), c = piece();
    uint32_t size = 1 + random() % 24;
    std::string whole = a + b + c;
    Bounded got = WithLength(size, a.c_str(), b.c_str(), c.c_str());
    bool fits = whole.size() < size;
    ASSERT_EQ(got.rc, fits ? 0 : VRC_FAILURE) << whole << " " << size;
    ASSERT_EQ(got.text, fits ? whole : whole.substr(0, size - 1));
    ASSERT_FALSE(got.overrun);
  }
}

}  // namespace
