// Start-up of the socket layer inside VInitialise: the IPv6 probe, the
// driver choice and the address functions with and without a driver.  Each
// test runs in its own process, so each sees a library not yet started.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>

#include <fstream>
#include <string>
#include <vector>

#include "internal/alloc.h"
#include "log/log_internal.h"
#include "net/socket_layer.h"
#include "net/socket_test_support.h"
#include "support/os_fault.h"
#include "threads/thr.h"
#include "vantrel/vlog.h"

namespace {

namespace vi = vantrel::internal;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

constexpr char kNoDriverName[] = "No Socket Address Library";
constexpr char kIpv4Driver[] = "IPv4 Socket Address Library";
constexpr char kIpv6Driver[] = "IPv6 Socket Address Library";

// The fake interface list; every list handed out must be freed.
std::vector<sockaddr_storage> g_addresses;
std::vector<ifaddrs> g_interfaces;
int g_listsOut = 0;

int FakeGetifaddrs(ifaddrs **out) noexcept {
  for (size_t i = 0; i < g_interfaces.size(); ++i) {
    g_interfaces[i] = {};
    g_interfaces[i].ifa_name = const_cast<char *>("fake0");
    g_interfaces[i].ifa_flags = IFF_UP;
    g_interfaces[i].ifa_addr = reinterpret_cast<sockaddr *>(&g_addresses[i]);
    if (i > 0) g_interfaces[i - 1].ifa_next = &g_interfaces[i];
  }
  *out = g_interfaces.empty() ? nullptr : g_interfaces.data();
  ++g_listsOut;
  return 0;
}

void FakeFreeifaddrs(ifaddrs *) noexcept { --g_listsOut; }

// While it lives the interface list holds just these numeric addresses.
class FakeInterfaces {
 public:
  explicit FakeInterfaces(const std::vector<const char *> &addresses) {
    g_addresses.resize(addresses.size());
    g_interfaces.resize(addresses.size());
    for (size_t i = 0; i < addresses.size(); ++i) {
      vtest::AddressOf(addresses[i], &g_addresses[i]);
    }
  }
  ~FakeInterfaces() { EXPECT_EQ(g_listsOut, 0); }

 private:
  vtest::OsOverride<decltype(&getifaddrs)> list_{"getifaddrs", FakeGetifaddrs};
  vtest::OsOverride<decltype(&freeifaddrs)> free_{"freeifaddrs",
                                                  FakeFreeifaddrs};
};

class SocketStartupTest : public testing::Test {
 protected:
  SocketStartupTest() {
    for (const char *name : {"VTHOME", "KESSHOME", "VDE_SOCKET_IPDRV_NAME",
                             "VDE_DEFAULT_LOG_LEVEL", "VDE_FORCE_LOG_MODULE"}) {
      unsetenv(name);
    }
  }
  // Runs VInitialise, expecting `expected`; returns what it wrote to stderr.
  static std::string StartUp(VRC expected = 0) {
    CaptureStderr();
    VRC rc = VInitialise("nettest", "stderr");
    std::string written = GetCapturedStderr();
    EXPECT_EQ(rc, expected) << written;
    return written;
  }
  // VTHOME at the staged drivers, asking for `driver` if not null.
  static void UseStage(const char *driver = nullptr) {
    setenv("VTHOME", VTEST_STAGE_DIR, 1);
    if (driver != nullptr) setenv("VDE_SOCKET_IPDRV_NAME", driver, 1);
  }
  static void ExpectChoice(const std::string &written, bool ipv6,
                           const char *driver) {
    EXPECT_EQ(written, "");
    EXPECT_EQ(vi::SocketIpv6Usable(), ipv6);
    EXPECT_STREQ(VSocketIPDriverGetName(), driver);
  }
  static const char *Probed() {
    return vi::SocketIpv6Usable() ? "ipv6_r" : "ipv4_r";
  }
};

// The single line of standard error `written` is this warning.
void ExpectOnlyWarning(const std::string &written, const std::string &text) {
  EXPECT_EQ(written.find('\n'), written.size() - 1) << written;
  EXPECT_NE(written.find(": Warning: " + text + "\n"), std::string::npos)
      << written;
}

std::string LoadFailure(const std::string &driver) {
  return "Failed to load IP address network module '" + driver +
         "'. (-60:Unknown error -60)";
}

TEST_F(SocketStartupTest, WithoutADriverEveryAddressFunctionHasItsOwnResult) {
  vtest::TempHome empty;
  setenv("VTHOME", empty.path().c_str(), 1);
  auto before = vtest::OpenDescriptors();
  std::string written = StartUp();  // before Probed()
  ExpectOnlyWarning(written, LoadFailure(Probed()));
  EXPECT_STREQ(VSocketIPDriverGetName(), kNoDriverName);
  EXPECT_STREQ(VSocketIPDriverGetVersion(), "0.0");
  EXPECT_EQ(VSocketIPGetProtoFormat(), 2);
  EXPECT_EQ(VSocketIPIsIPAddress("127.0.0.1"), 0);
  // Nothing is read or written through the arguments.
  VSocketIPAddrRecord record{};
  VSocketIPAddrRecord *hdl = &record;
  VSocketIPAddrHdl out = hdl;
  sockaddr_in address{};
  auto *sa = reinterpret_cast<const sockaddr *>(&address);
  char text[VSOCKET_IPADDR_NAME_SIZE] = "untouched";
  EXPECT_EQ(VSocketIPAddrHdlCreate("127.0.0.1", 0, &out), VRC_INTERNAL_ERROR);
  EXPECT_EQ(VSocketIPAddrHdlCreateViaSockAddr(sa, &out), VRC_INTERNAL_ERROR);
  EXPECT_EQ(VSocketIPAddrGetHostByName("localhost", &out), VRC_INTERNAL_ERROR);
  EXPECT_EQ(VSocketIPAddrGetHostByAddr(sa, &out), VRC_INTERNAL_ERROR);
  EXPECT_EQ(VSocketIPAddrGetSockName(0, &out), VRC_INTERNAL_ERROR);
  EXPECT_EQ(VSocketIPAddrGetPeerName(0, &out), VRC_INTERNAL_ERROR);
  EXPECT_EQ(out, hdl);
  EXPECT_EQ(VSocketIPAddrGetSockAddrType(hdl), 0);
  EXPECT_EQ(VSocketIPAddrGetAddrFormat(hdl), 2);
  EXPECT_EQ(VSocketIPAddrGetName(hdl, text), VRC_INTERNAL_ERROR);
  EXPECT_EQ(VSocketIPAddrGetAddress(hdl, text), VRC_INTERNAL_ERROR);
  EXPECT_EQ(VSocketIPAddrGetIPv4MapAddr(hdl, text, sizeof text),
            VRC_INTERNAL_ERROR);
  EXPECT_STREQ(text, "untouched");
  EXPECT_EQ(VSocketIPAddrGetRawAddress(hdl), nullptr);
  EXPECT_EQ(VSocketIPAddrGetPort(hdl), 0);
  VSocketIPAddrSetPort(hdl, 80);
  VSocketIPAddrHdlDestroy(hdl);
  EXPECT_EQ(record.sockAddr, nullptr);
  EXPECT_EQ(record.sockAddrLength, 0);
  // Type names need no driver.
  const std::pair<int, const char *> names[] = {
      {0, "Unknown"}, {1, "IPv4"},    {2, "IPv4 Mapped"},
      {3, "IPv6"},    {4, "Unknown"}, {-1, "Unknown"}};
  for (const auto &[type, name] : names) {
    EXPECT_STREQ(VSocketIPAddrSockAddrTypeToString(type), name);
  }
  // Socket operations that need an address fail and open nothing.
  VSocket s = 123;
  uint16_t port = 0;
  EXPECT_EQ(VSocketListen(nullptr, 0, &s), VRC_INTERNAL_ERROR);
  EXPECT_EQ(s, VSOCKET_INVALID);
  EXPECT_EQ(VSocketListenAnyPort(nullptr, &port, &s), VRC_INTERNAL_ERROR);
  EXPECT_EQ(VSocketConnect("127.0.0.1", 1, &s), VRC_INTERNAL_ERROR);
  EXPECT_EQ(VSocketConnectWithTimeout("127.0.0.1", 1, 1, &s),
            VRC_INTERNAL_ERROR);
  EXPECT_EQ(VSocketAccept(0, &s), VRC_INTERNAL_ERROR);
  EXPECT_EQ(s, VSOCKET_INVALID);
  EXPECT_EQ(vtest::OpenDescriptors(), before);
}

// A module that is a driver in name only is logged, released, and leaves
// the library without a driver.
struct BrokenDriver {
  const char *file;
  const char *warning;  // %s: the driver's name
};

class BrokenDriverTest : public SocketStartupTest,
                         public testing::WithParamInterface<BrokenDriver> {};

INSTANTIATE_TEST_SUITE_P(
    Modules, BrokenDriverTest,
    testing::Values(
        BrokenDriver{VTEST_NO_ENTRY_MODULE,
                     "Failed to lookup access function in IP address network "
                     "module '%s'."},
        BrokenDriver{VTEST_NULL_ENTRY_MODULE,
                     "Failed to successfully call access function in IP "
                     "address network module '%s'."}));

TEST_P(BrokenDriverTest, IsLoggedReleasedAndLeavesNoDriver) {
  vtest::TempHome home;
  home.Install(GetParam().file, "ipv4_r");
  home.Install(GetParam().file, "ipv6_r");
  setenv("VTHOME", home.path().c_str(), 1);
  vtest::OsCallCounter unloads("dlclose");
  std::string written = StartUp();
  char warning[200];
  snprintf(warning, sizeof warning, GetParam().warning, Probed());
  ExpectOnlyWarning(written, warning);
  EXPECT_EQ(unloads.calls(), 1u);
  EXPECT_STREQ(VSocketIPDriverGetName(), kNoDriverName);
}

// The whole sequence with the staged driver; the exported functions hand
// everything to it.
TEST_F(SocketStartupTest, DriverFromTheStagePassesEverythingThrough) {
  UseStage();
  EXPECT_EQ(StartUp(), "");
  bool v6 = vi::SocketIpv6Usable();
  EXPECT_STREQ(VSocketIPDriverGetName(), v6 ? kIpv6Driver : kIpv4Driver);
  EXPECT_STREQ(VSocketIPDriverGetVersion(), "1.0");
  EXPECT_EQ(VSocketIPGetProtoFormat(), v6 ? AF_INET6 : AF_INET);
  EXPECT_NE(VSocketIPIsIPAddress("127.0.0.1"), 0);
  EXPECT_EQ(VSocketIPIsIPAddress("localhost"), 0);

  VSocketIPAddrHdl any = nullptr, loopback = nullptr, named = nullptr;
  ASSERT_EQ(VSocketIPAddrHdlCreate(nullptr, 0, &any), 0);
  EXPECT_EQ(VSocketIPAddrGetAddrFormat(any), v6 ? AF_INET6 : AF_INET);
  ASSERT_EQ(VSocketIPAddrHdlCreate("127.0.0.1", VSOCKET_IPADDR_NUMERIC_HOST,
                                   &loopback),
            0);
  VSocketIPAddrSetPort(loopback, 4242);
  EXPECT_EQ(VSocketIPAddrGetPort(loopback), 4242);
  EXPECT_EQ(VSocketIPAddrGetSockAddrType(loopback), VSOCKET_ADDR_TYPE_IPV4);
  char text[VSOCKET_IPADDR_NAME_SIZE];
  ASSERT_EQ(VSocketIPAddrGetAddress(loopback, text), 0);
  EXPECT_STREQ(text, "127.0.0.1");
  ASSERT_EQ(VSocketIPAddrGetIPv4MapAddr(loopback, text, sizeof text), 0);
  EXPECT_STREQ(text, "::ffff:127.0.0.1");
  const uint8_t bytes[4] = {127, 0, 0, 1};
  EXPECT_EQ(memcmp(VSocketIPAddrGetRawAddress(loopback), bytes, 4), 0);
  ASSERT_EQ(VSocketIPAddrGetHostByAddr(
                static_cast<const sockaddr *>(loopback->sockAddr), &named),
            0);
  ASSERT_EQ(VSocketIPAddrGetName(named, text), 0);
  EXPECT_STREQ(text, "localhost");
  EXPECT_EQ(VSocketIPAddrGetHostByName("no such host", nullptr), EINVAL);
  for (VSocketIPAddrHdl hdl : {any, loopback, named}) {
    VSocketIPAddrHdlDestroy(hdl);
  }
}

TEST_F(SocketStartupTest, NoIpv6SocketMeansTheIpv4DriverWhateverIsAsked) {
  UseStage("ipv6_r");
  vtest::OsFault no_ipv6("socket", 1, EAFNOSUPPORT);
  ExpectChoice(StartUp(), false, kIpv4Driver);
  EXPECT_FALSE(vi::SocketSupplementalMode());
}

TEST_F(SocketStartupTest, OnlyLinkAndSiteLocalIpv6MeansNoIpv6) {
  UseStage("missing_r");  // not consulted
  FakeInterfaces interfaces(
      {"127.0.0.1", "fe80::1", "febf::2", "fec0::1", "feff::3"});
  ExpectChoice(StartUp(), false, kIpv4Driver);
}

TEST_F(SocketStartupTest, UsableIpv6ChoosesTheIpv6Driver) {
  UseStage();
  // Beyond the first guess at the list's length, so it is read again.
  std::vector<const char *> many(40, "fe80::1");
  many.back() = "fd00::2";
  FakeInterfaces interfaces(many);
  ExpectChoice(StartUp(), true, kIpv6Driver);
}

TEST_F(SocketStartupTest, UsableIpv6HonoursTheDriverVariable) {
  UseStage("ipv4_r");
  FakeInterfaces interfaces({"2001:db8::1"});
  ExpectChoice(StartUp(), true, kIpv4Driver);
}

TEST_F(SocketStartupTest, UnknownDriverNameIsLoggedAndTolerated) {
  UseStage("ipx_r");
  FakeInterfaces interfaces({"::1"});  // the loopback counts
  ExpectOnlyWarning(StartUp(), LoadFailure("ipx_r"));
  EXPECT_STREQ(VSocketIPDriverGetName(), kNoDriverName);
}

TEST_F(SocketStartupTest, ResourceErrorsOfTheProbeEndStartUp) {
  UseStage();
  const std::pair<int, VRC> resource[] = {
      {ENOMEM, ENOMEM}, {EMFILE, 10024},       {ENFILE, ENFILE},
      {ENOBUFS, 10055}, {ETOOMANYREFS, 10059}, {EDQUOT, 10069}};
  for (const auto &[error, code] : resource) {
    vtest::OsFault fails("socket", 1, error);
    SCOPED_TRACE(strerror(error));
    EXPECT_EQ(StartUp(code), "");
    EXPECT_STREQ(VSocketIPDriverGetName(), kNoDriverName);
  }
  // Any other failure only means that there is no IPv6; start-up goes on.
  {
    vtest::OsFault refused("socket", 1, EACCES);
    EXPECT_EQ(StartUp(), "");
    EXPECT_STREQ(VSocketIPDriverGetName(), kIpv4Driver);
  }
  // The sequence is not run again once it has succeeded.
  vtest::OsFault later("socket", 1, EMFILE);
  EXPECT_EQ(VInitialise("nettest", "stderr"), 0);
  EXPECT_FALSE(later.fired());
}

TEST_F(SocketStartupTest, FailedInterfaceQueryIsLoggedAndEndsStartUp) {
  UseStage();
  auto before = vtest::OpenDescriptors();
  const std::pair<int, VRC> failures[] = {{ENOMEM, ENOMEM}, {EMFILE, 10024}};
  for (const auto &[error, code] : failures) {
    vtest::OsFault fails("getifaddrs", 1, error);
    ExpectOnlyWarning(StartUp(code), "IPv6 interface list query failed: " +
                                         std::string(VRCToString(code)));
  }
  StartUp();
  EXPECT_EQ(vtest::OpenDescriptors(), before);  // the probe's socket closed
}

// Drivers installed in top, VTHOME below it and KESSHOME at VTHOME + suffix.
void UseHomeBelowDrivers(const vtest::TempHome &top, const char *suffix) {
  top.Install(vtest::StagedModule("ipv4_r"), "ipv4_r");
  top.Install(vtest::StagedModule("ipv6_r"), "ipv6_r");
  std::string home = top.path() + "/kess";
  vtest::fs::create_directories(home);
  setenv("VTHOME", home.c_str(), 1);
  setenv("KESSHOME", (home + suffix).c_str(), 1);
}

TEST_F(SocketStartupTest, DriverIsFoundBelowTheParentOfASharedHome) {
  vtest::TempHome top;
  UseHomeBelowDrivers(top, "/");  // the same once cut
  EXPECT_EQ(StartUp(), "");
  EXPECT_STRNE(VSocketIPDriverGetName(), kNoDriverName);
}

TEST_F(SocketStartupTest, ParentIsNotSearchedWhenTheHomesDiffer) {
  vtest::TempHome top;
  UseHomeBelowDrivers(top, "/other");
  vtest::OsCallCounter loads("dlopen");
  std::string written = StartUp();  // before Probed()
  ExpectOnlyWarning(written, LoadFailure(Probed()));
  EXPECT_EQ(loads.calls(), 1u);
  EXPECT_STREQ(VSocketIPDriverGetName(), kNoDriverName);
}

// Installed programs find their driver without VTHOME (the build test
// IpDriverBuildTest.InstalledBelowTheDefaultHome installs it there).
TEST_F(SocketStartupTest, DefaultHomeIsWhereTheDriversAreInstalled) {
  EXPECT_STREQ(VGetVTHOME(), VTEST_INSTALL_HOME);
}

TEST_F(SocketStartupTest, DualStackHostsNeedNoSupplementalSockets) {
  UseStage();
  int s = socket(AF_INET6, SOCK_STREAM, 0);
  if (s < 0) GTEST_SKIP() << "no IPv6 sockets here";
  close(s);
  std::ifstream v6only("/proc/sys/net/ipv6/bindv6only");
  int forced = 0;
  if (!(v6only >> forced) || forced != 0) {
    GTEST_SKIP() << "this host makes IPv6 sockets v6-only";
  }
  StartUp();
  EXPECT_FALSE(vi::SocketSupplementalMode());
  VSocket partner = 7;
  EXPECT_EQ(vi::SupplementalLookupPartner(3, &partner), VRC_NOT_FOUND);
  EXPECT_EQ(vi::SupplementalRecordPair(3, 4), VRC_NOT_READY);
  EXPECT_EQ(vi::SupplementalRemovePair(3), 0);
  EXPECT_EQ(partner, 7);
}

TEST_F(SocketStartupTest, RefusedDualStackTurnsSupplementalModeOn) {
  UseStage();
  vtest::OsFault refused("setsockopt", 1, ENOPROTOOPT);
  StartUp();
  if (!refused.fired()) GTEST_SKIP() << "no IPv6 sockets here";
  EXPECT_TRUE(vi::SocketSupplementalMode());
  EXPECT_EQ(vi::SupplementalRecordPair(5, 6), 0);  // the table is up
}

// The system's v6-only default, read from /proc, as this test writes it.
std::string g_bindV6Only;

int OpenWithBindV6Only(const char *path, int flags, mode_t mode) {
  if (strcmp(path, "/proc/sys/net/ipv6/bindv6only") == 0) {
    path = g_bindV6Only.c_str();
  }
  return open(path, flags, mode);
}

TEST_F(SocketStartupTest, SystemWideV6OnlyTurnsSupplementalModeOn) {
  UseStage();
  vtest::TempHome dir;
  g_bindV6Only = dir.path() + "/bindv6only";
  std::ofstream(g_bindV6Only) << "1\n";
  vtest::OsOverride<decltype(&OpenWithBindV6Only)> open_call(
      "open", OpenWithBindV6Only);
  StartUp();
  int s = socket(AF_INET6, SOCK_STREAM, 0);
  if (s < 0) GTEST_SKIP() << "no IPv6 sockets here";
  close(s);
  EXPECT_TRUE(vi::SocketSupplementalMode());
}

TEST_F(SocketStartupTest, TestHookForcesSupplementalMode) {
  UseStage();
  vi::SocketForceSupplementalMode(true);
  vtest::OsFault no_ipv6("socket", 1, EAFNOSUPPORT);
  StartUp();
  EXPECT_TRUE(vi::SocketSupplementalMode());
  EXPECT_EQ(vi::SupplementalRecordPair(3, 4), 0);  // the table is up
}

// ---- Allocation failures: each attempt in a child process of its own,
// since a completed start-up is kept for the process's life.

enum Outcome { kDriver, kNoDriver, kNoMemory, kTolerated, kWrong };

bool HasDriver() {
  return strcmp(VSocketIPDriverGetName(), kNoDriverName) != 0;
}

// The socket step alone, after the steps before it have run.
Outcome TryStartUp(uint64_t nth, bool repeat) {
  vi::SocketForceSupplementalMode(true);
  if (vi::ThreadSubsystemInit() != 0 || vi::LogMgrInitialise("stderr") != 0) {
    return kWrong;
  }
  const char *vt_home = VGetVTHOME();
  const char *kess_home = VGetKESSHOME();
  vi::AllocFailArm(nth, repeat);
  VRC rc = vi::VSocketInitialise(vt_home, kess_home);
  bool fired = vi::AllocFailDisarm();
  if (!fired) return rc == 0 && HasDriver() ? kDriver : kWrong;
  if (rc == ENOMEM) {
    // Nothing was left half made: the next attempt completes.
    if (vi::SocketSupplementalMode()) return kWrong;
    rc = vi::VSocketInitialise(vt_home, kess_home);
    return rc == 0 && HasDriver() && vi::SocketSupplementalMode() ? kNoMemory
                                                                  : kWrong;
  }
  if (rc != 0 || !vi::SocketSupplementalMode()) return kWrong;
  VSocket partner = 0;
  if (vi::SupplementalLookupPartner(1, &partner) != VRC_NOT_FOUND) {
    return kWrong;
  }
  return HasDriver() ? kTolerated : kNoDriver;
}

Outcome TryStartUpInChild(uint64_t nth, bool repeat) {
  fflush(nullptr);
  pid_t child = fork();
  if (child == 0) {
    int null = open("/dev/null", O_WRONLY);
    dup2(null, 2);                  // the logged failures
    exit(TryStartUp(nth, repeat));  // exit, so that leaks are reported
  }
  int status = 0;
  if (child < 0 || waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
    return kWrong;
  }
  return static_cast<Outcome>(WEXITSTATUS(status));
}

TEST_F(SocketStartupTest, AllocationFailuresEndStartUpOrLeaveNoDriver) {
  UseStage();
  std::set<Outcome> seen;
  for (bool repeat : {false, true}) {
    Outcome outcome = kWrong;
    for (uint64_t nth = 1; nth < 100 && outcome != kDriver; ++nth) {
      outcome = TryStartUpInChild(nth, repeat);
      ASSERT_NE(outcome, kWrong) << nth << (repeat ? " and later" : "");
      seen.insert(outcome);
    }
    EXPECT_EQ(outcome, kDriver);
  }
  EXPECT_TRUE(seen.count(kNoMemory) && seen.count(kNoDriver));
}

}  // namespace
