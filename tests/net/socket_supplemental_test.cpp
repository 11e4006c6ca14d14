// Supplemental mode (forced by the test hook; needs the IPv6 driver): an
// any-address listener and its IPv4 partner act as one socket, and failed
// pairings leave neither a descriptor nor a pair.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_layer.h"
#include "net/socket_test_support.h"
#include "support/alloc_sweep.h"
#include "support/os_fault.h"
#include "vantrel/vrc.h"
#include "vantrel/vsocket.h"

namespace {

namespace vi = vantrel::internal;

// Descriptor numbers a leftover pair could name.
constexpr int kLowDescriptors = 256;

class SupplementalSocketTest : public testing::Test {
 protected:
  void SetUp() override {
    vi::SocketForceSupplementalMode(true);
    if (!vtest::StartWithDriver("ipv6_r")) {
      GTEST_SKIP() << "this host has no usable IPv6";
    }
    ASSERT_TRUE(vi::SocketSupplementalMode());
    before_ = vtest::OpenDescriptors();
  }
  void TearDown() override {
    if (IsSkipped()) return;
    if (listener_ != VSOCKET_INVALID) VSocketClose(listener_);
    EXPECT_EQ(vtest::OpenDescriptors(), before_);
    EXPECT_TRUE(NoPairs());
  }
  static VSocket PartnerOf(VSocket s) {
    VSocket partner = VSOCKET_INVALID;
    return vi::SupplementalLookupPartner(s, &partner) == 0 ? partner
                                                           : VSOCKET_INVALID;
  }
  static bool NoPairs() {
    for (int fd = 0; fd < kLowDescriptors; ++fd) {
      if (PartnerOf(fd) != VSOCKET_INVALID) return false;
    }
    return true;
  }
  static int Option(int s, int level, int name) {
    int value = -1;
    socklen_t length = sizeof value;
    getsockopt(s, level, name, &value, &length);
    return value;
  }
  // The family and port s is bound to.
  static std::pair<int, uint16_t> Local(int s) {
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    getsockname(s, reinterpret_cast<sockaddr *>(&address), &length);
    auto *in = reinterpret_cast<sockaddr_in *>(&address);  // port as in v6
    return {address.ss_family, ntohs(in->sin_port)};
  }
  // Opens listener_, for the any-address on port_.
  void ListenAny() {
    ASSERT_EQ(VSocketListenAnyPort(nullptr, &port_, &listener_), 0);
    ASSERT_NE(port_, 0);
  }
  VSocket listener_ = VSOCKET_INVALID;
  uint16_t port_ = 0;

 private:
  std::set<std::string> before_;
};

// The partner shares the port; accept serves both families, blocking until
// either has a connection or (non-blocking) looking once; closing the
// listener closes the partner.
TEST_F(SupplementalSocketTest, AnyAddressListenerGetsAnIpv4PartnerOnItsPort) {
  ListenAny();
  VSocket partner = PartnerOf(listener_);
  ASSERT_NE(partner, VSOCKET_INVALID);
  EXPECT_EQ(PartnerOf(partner), listener_);
  EXPECT_EQ(Local(partner), std::make_pair(AF_INET, port_));
  EXPECT_EQ(Local(listener_), std::make_pair(AF_INET6, port_));
  EXPECT_EQ(Option(listener_, IPPROTO_IPV6, IPV6_V6ONLY), 1);
  EXPECT_EQ(Option(partner, SOL_SOCKET, SO_ACCEPTCONN), 1);

  vtest::ConnectAndAccept("127.0.0.1", port_, listener_,
                          VSOCKET_ADDR_TYPE_IPV4);
  vtest::ConnectAndAccept("::1", port_, listener_, VSOCKET_ADDR_TYPE_IPV6);
  for (const char *host : {"127.0.0.1", "::1"}) {
    VSocket client = VSOCKET_INVALID, server = VSOCKET_INVALID;
    std::thread connector(
        [&] { EXPECT_EQ(VSocketConnect(host, port_, &client), 0); });
    EXPECT_EQ(VSocketAccept(listener_, &server), 0) << host;
    connector.join();
    VSocketClose(server);
    VSocketClose(client);
  }
  ASSERT_EQ(VSocketSetBlockingState(listener_, 1), 0);
  VSocket server = 123;
  EXPECT_EQ(VSocketAccept(listener_, &server), vtest::kWouldBlock);
  EXPECT_EQ(server, VSOCKET_INVALID);
  vtest::ConnectAndAccept("127.0.0.1", port_, listener_,
                          VSOCKET_ADDR_TYPE_IPV4);

  EXPECT_EQ(VSocketClose(listener_), 0);
  EXPECT_EQ(PartnerOf(listener_), VSOCKET_INVALID);
  EXPECT_EQ(PartnerOf(partner), VSOCKET_INVALID);
  EXPECT_EQ(fcntl(partner, F_GETFD), -1);
  VSocket s = VSOCKET_INVALID;
  EXPECT_EQ(VSocketConnect("127.0.0.1", port_, &s), vtest::kRefused);
  listener_ = VSOCKET_INVALID;
}

TEST_F(SupplementalSocketTest, WaitListsCarryThePartner) {
  ListenAny();
  vtest::Connection other;
  other.Open("::1");
  EXPECT_EQ(PartnerOf(other.listener), VSOCKET_INVALID);  // not the any-address
  VList *list = VSocketEntryListCreate(listener_, other.server, 0);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(VListNumItems(list), 3);
  auto entry = [&](int n) { return vtest::Entry(list, n); };
  EXPECT_EQ(entry(0)->socket, listener_);
  EXPECT_EQ(entry(1)->socket, PartnerOf(listener_));
  EXPECT_EQ(entry(2)->socket, other.server);
  EXPECT_EQ(VSocketWaitMultiple(list, 0), VRC_TIMEOUT);

  // A connection waiting on the IPv4 partner makes both entries ready.
  VSocket client = VSOCKET_INVALID;
  ASSERT_EQ(VSocketConnect("127.0.0.1", port_, &client), 0);
  ASSERT_EQ(VSocketWaitMultiple(list, 5000), 0);
  EXPECT_EQ(entry(0)->ready, 1);
  EXPECT_EQ(entry(1)->ready, 1);
  EXPECT_EQ(entry(2)->ready, 0);
  vtest::DestroyEntryList(list);

  // A list without the partner's own entry does not watch the partner.
  VList *alone = VSocketEntryListCreate(0);
  vtest::AppendEntry(alone, listener_);
  EXPECT_EQ(VSocketWaitMultiple(alone, 0), VRC_TIMEOUT);
  vtest::DestroyEntryList(alone);
  VSocketClose(client);
}

struct PairingFault {
  const char *name;
  const char *op;
  uint64_t nth;
  int error;
  VRC expected;
};

// The calls of a paired listen, in order: socket (IPv6, then the IPv4
// partner), setsockopt (the partner's SO_REUSEADDR, the IPv6 socket's
// IPV6_V6ONLY and SO_REUSEADDR), bind, listen and getsockname of the
// partner, then bind and listen of the IPv6 socket.
const PairingFault kPairingFaults[] = {
    {"PartnerSocket", "socket", 2, EMFILE, vtest::kTooManyOpen},
    {"PartnerOption", "setsockopt", 1, ENOBUFS, vtest::kNoBuffers},
    {"PartnerBind", "bind", 1, EADDRINUSE, vtest::kAddressInUse},
    {"PartnerListen", "listen", 1, EOPNOTSUPP, 10045},
    {"PartnerPort", "getsockname", 1, ENOBUFS, vtest::kNoBuffers},
    {"V6Only", "setsockopt", 2, ENOPROTOOPT, 10042},
    {"Ipv6Option", "setsockopt", 3, ENOBUFS, vtest::kNoBuffers},
    {"Ipv6Bind", "bind", 2, EADDRINUSE, vtest::kAddressInUse},
    {"Ipv6Listen", "listen", 2, EOPNOTSUPP, 10045},
};

TEST_F(SupplementalSocketTest, PairingFailuresLeaveNeitherSocketNorPair) {
  for (const PairingFault &f : kPairingFaults) {
    SCOPED_TRACE(f.name);
    VSocket listener = 123;
    {
      vtest::OsFault fault(f.op, f.nth, f.error);
      EXPECT_EQ(VSocketListen(nullptr, 0, &listener), f.expected);
      EXPECT_TRUE(fault.fired());
    }
    EXPECT_EQ(listener, VSOCKET_INVALID);
    EXPECT_TRUE(NoPairs());
  }
}

TEST_F(SupplementalSocketTest, PairingWithoutMemoryLeavesNothing) {
  vtest::SweepAllocations([&](vtest::Fault &f) {
    VSocket listener = VSOCKET_INVALID;
    f.Arm();
    VRC rc = VSocketListen(nullptr, 0, &listener);
    bool failed = f.Disarm();
    if (failed) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(listener, VSOCKET_INVALID);
      EXPECT_TRUE(NoPairs());
      return;
    }
    ASSERT_EQ(rc, 0);
    EXPECT_NE(PartnerOf(listener), VSOCKET_INVALID);
    VSocketClose(listener);
  });
}

// Threads open and close paired listeners at once: every pair stays
// whole, and at the end nothing is left.
TEST_F(SupplementalSocketTest, ConcurrentListenersKeepTheirPairs) {
  constexpr int kThreads = 4;
  constexpr int kRounds = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([] {
      for (int i = 0; i < kRounds; ++i) {
        VSocket listener = VSOCKET_INVALID;
        ASSERT_EQ(VSocketListen(nullptr, 0, &listener), 0);
        VSocket partner = PartnerOf(listener);
        ASSERT_NE(partner, VSOCKET_INVALID);
        EXPECT_EQ(PartnerOf(partner), listener);
        EXPECT_EQ(VSocketWait(listener, 0), VRC_TIMEOUT);
        VSocketClose(listener);
      }
    });
  }
  for (std::thread &t : threads) t.join();
}

}  // namespace
