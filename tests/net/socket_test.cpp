// Socket operations over loopback with each IP driver.  Each test runs in
// its own process and starts the library with the driver it names.
#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "net/socket_test_support.h"
#include "support/alloc_sweep.h"
#include "support/os_fault.h"
#include "vantrel/vrc.h"
#include "vantrel/vsocket.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Loopback {
  const char *driver;
  const char *host;
};

void PrintTo(const Loopback &l, std::ostream *os) {
  *os << l.driver << " " << l.host;
}

std::string Name(const testing::TestParamInfo<Loopback> &info) {
  std::string host = strchr(info.param.host, ':') != nullptr ? "Ipv6" : "Ipv4";
  return std::string(info.param.driver) + "_" + host;
}

class SocketLoopbackTest : public testing::TestWithParam<Loopback> {
 protected:
  void SetUp() override {
    if (!vtest::StartWithDriver(GetParam().driver)) {
      GTEST_SKIP() << "driver " << GetParam().driver
                   << " not in use: this host has no usable IPv6";
    }
    if (!vtest::CanBind(GetParam().host)) {
      GTEST_SKIP() << "no loopback address " << GetParam().host << " here";
    }
    before_ = vtest::OpenDescriptors();
    c.Open(host());
  }
  void TearDown() override {
    if (IsSkipped()) return;
    c.Close();
    EXPECT_EQ(vtest::OpenDescriptors(), before_);
  }
  const char *host() const { return GetParam().host; }
  vtest::Connection c;  // a connected pair over the parameter's loopback

 private:
  std::set<std::string> before_;
};

INSTANTIATE_TEST_SUITE_P(Drivers, SocketLoopbackTest,
                         testing::Values(Loopback{"ipv4_r", "127.0.0.1"},
                                         Loopback{"ipv6_r", "127.0.0.1"},
                                         Loopback{"ipv6_r", "::1"}),
                         Name);

std::vector<char> Pattern(size_t size, unsigned seed) {
  std::vector<char> bytes(size);
  for (size_t i = 0; i < size; ++i) {
    bytes[i] = static_cast<char>((i * 131 + seed) & 0xff);
  }
  return bytes;
}

TEST_P(SocketLoopbackTest, WholeBuffersTravelBothWays) {
  EXPECT_NE(c.port, 0);
  // Larger than the socket buffers, so both sides loop over partial moves.
  std::vector<char> sent = Pattern(3 << 20, 7);
  std::vector<char> got(sent.size());
  std::thread writer([&] {
    EXPECT_EQ(VSocketSend(c.client, sent.data(), int32_t(sent.size())), 0);
  });
  EXPECT_EQ(VSocketRecv(c.server, got.data(), int32_t(got.size())), 0);
  writer.join();
  EXPECT_EQ(got, sent);

  char reply[] = "reply";
  ASSERT_EQ(VSocketSend(c.server, reply, 5), 0);
  ASSERT_EQ(VSocketWait(c.client, 5000), 0);
  uint32_t readable = 0;
  EXPECT_EQ(VSocketGetNRecv(c.client, &readable), 0);
  EXPECT_EQ(readable, 5u);
  char back[5];
  EXPECT_EQ(VSocketRecv(c.client, back, 5), 0);
  EXPECT_EQ(std::string(back, 5), "reply");

  // The server's peer is the client, in the family the host names.
  VSocketIPAddrHdl peer = nullptr;
  ASSERT_EQ(VSocketIPAddrGetPeerName(c.server, &peer), 0);
  char text[VSOCKET_IPADDR_ADDRESS_SIZE];
  EXPECT_EQ(VSocketIPAddrGetAddress(peer, text), 0);
  EXPECT_STREQ(text, host());
  VSocketIPAddrHdlDestroy(peer);
}

TEST_P(SocketLoopbackTest, ZeroLengthsAndShutdownsReportAClosedConnection) {
  char buffer[10] = {};
  EXPECT_EQ(VSocketSend(c.client, buffer, 0), VRC_CONNECTION_CLOSED);
  EXPECT_EQ(VSocketRecv(c.server, buffer, 0), VRC_CONNECTION_CLOSED);
  EXPECT_EQ(VSocketSend(c.client, buffer, -1), EINVAL);
  EXPECT_EQ(VSocketRecv(c.server, buffer, -1), EINVAL);

  // The stream ends early: what came first is there, and the half-closed
  // client can no longer send.
  ASSERT_EQ(VSocketSend(c.client, "abc", 3), 0);
  EXPECT_EQ(VSocketShutdown(c.client), 0);
  EXPECT_EQ(VSocketWait(c.server, 5000), 0);
  EXPECT_EQ(VSocketRecv(c.server, buffer, 10), VRC_CONNECTION_CLOSED);
  EXPECT_STREQ(buffer, "abc");
  EXPECT_EQ(VSocketRecv(c.server, buffer, 1), VRC_CONNECTION_CLOSED);
  EXPECT_EQ(VSocketSend(c.client, "x", 1), vtest::kPeerGone);
}

// A send to a peer that has gone returns an error; SIGPIPE (whose default
// action would end this process) is never raised.
TEST_P(SocketLoopbackTest, SendingToAClosedPeerFailsWithoutASignal) {
  VSocketClose(c.server);
  c.server = VSOCKET_INVALID;
  std::vector<char> chunk(65536, 'x');
  VRC rc = 0;
  for (int i = 0; i < 100 && rc == 0; ++i) {
    rc = VSocketSend(c.client, chunk.data(), int32_t(chunk.size()));
  }
  EXPECT_TRUE(rc == vtest::kPeerGone || rc == vtest::kReset) << rc;
}

TEST_P(SocketLoopbackTest, RefusedListensAndConnectsLeaveNothingOpen) {
  VSocket s = 123;
  EXPECT_EQ(VSocketListen(host(), c.port, &s), vtest::kAddressInUse);
  EXPECT_EQ(s, VSOCKET_INVALID);
  VSocketClose(c.listener);
  c.listener = VSOCKET_INVALID;
  s = 123;
  EXPECT_EQ(VSocketConnect(host(), c.port, &s), vtest::kRefused);
  EXPECT_EQ(s, VSOCKET_INVALID);
  s = 123;
  EXPECT_EQ(VSocketConnectWithTimeout(host(), c.port, 5, &s), vtest::kRefused);
  EXPECT_EQ(s, VSOCKET_INVALID);
}

TEST_P(SocketLoopbackTest, ConnectWithALimitGivesABlockingSocket) {
  for (int32_t seconds : {5, 0, -1}) {
    VSocket client = VSOCKET_INVALID;
    VSocket server = VSOCKET_INVALID;
    ASSERT_EQ(VSocketConnectWithTimeout(host(), c.port, seconds, &client), 0);
    EXPECT_EQ(fcntl(client, F_GETFL) & O_NONBLOCK, 0);
    ASSERT_EQ(VSocketAccept(c.listener, &server), 0);
    EXPECT_EQ(VSocketSend(client, "hi", 2), 0);
    char got[2];
    EXPECT_EQ(VSocketRecv(server, got, 2), 0);
    VSocketClose(client);
    VSocketClose(server);
  }
}

// A listener whose queue is full drops new connection requests, so the
// connection neither completes nor is refused until the limit passes.
TEST_P(SocketLoopbackTest, ConnectWithALimitTimesOutOnAFullQueue) {
  // A listener with the shortest queue, filled by one connection.
  sockaddr_storage address;
  socklen_t length = vtest::AddressOf(host(), &address);
  int listener = socket(address.ss_family, SOCK_STREAM, 0);
  auto *sa = reinterpret_cast<sockaddr *>(&address);
  ASSERT_EQ(bind(listener, sa, length), 0);
  ASSERT_EQ(listen(listener, 0), 0);
  ASSERT_EQ(getsockname(listener, sa, &length), 0);
  uint16_t port = ntohs(reinterpret_cast<sockaddr_in *>(sa)->sin_port);
  VSocket first = VSOCKET_INVALID;
  ASSERT_EQ(VSocketConnectWithTimeout(host(), port, 5, &first), 0);

  VSocket s = 123;
  auto start = Clock::now();
  EXPECT_EQ(VSocketConnectWithTimeout(host(), port, 1, &s), VRC_TIMEOUT);
  auto waited = Clock::now() - start;
  EXPECT_EQ(s, VSOCKET_INVALID);
  EXPECT_GE(waited, std::chrono::milliseconds(900));
  EXPECT_LT(waited, std::chrono::seconds(10));
  VSocketClose(first);
  close(listener);
}

TEST_P(SocketLoopbackTest, WaitsTimeOutAndWakeForData) {
  auto start = Clock::now();
  EXPECT_EQ(VSocketWait(c.server, 0), VRC_TIMEOUT);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  start = Clock::now();
  EXPECT_EQ(VSocketWait(c.server, 30), VRC_TIMEOUT);
  EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(29));
  std::thread sender([&] { EXPECT_EQ(VSocketSend(c.client, "!", 1), 0); });
  EXPECT_EQ(VSocketWait(c.server, -1), 0);
  sender.join();
}

TEST_P(SocketLoopbackTest, NonBlockingSocketsSayWhenTheyWouldWait) {
  ASSERT_EQ(VSocketSetBlockingState(c.server, 1), 0);
  char byte;
  EXPECT_EQ(VSocketRecv(c.server, &byte, 1), vtest::kWouldBlock);
  uint32_t readable = 99;
  EXPECT_EQ(VSocketGetNRecv(c.server, &readable), 0);
  EXPECT_EQ(readable, 0u);
  ASSERT_EQ(VSocketSetBlockingState(c.server, 0), 0);
  EXPECT_EQ(fcntl(c.server, F_GETFL) & O_NONBLOCK, 0);

  // A non-blocking listener with nothing waiting; then a connection that
  // the wait reports and the accept takes.
  ASSERT_EQ(VSocketSetBlockingState(c.listener, 1), 0);
  VSocket s = 123;
  EXPECT_EQ(VSocketAccept(c.listener, &s), vtest::kWouldBlock);
  EXPECT_EQ(s, VSOCKET_INVALID);
  VSocket client = VSOCKET_INVALID;
  ASSERT_EQ(VSocketConnect(host(), c.port, &client), 0);
  EXPECT_EQ(VSocketWait(c.listener, 5000), 0);
  EXPECT_EQ(VSocketAccept(c.listener, &s), 0);
  VSocketClose(s);
  VSocketClose(client);
}

TEST_P(SocketLoopbackTest, IntegerOptionsAreSetAndRead) {
  EXPECT_EQ(VSocketSetOptInt(c.client, SOL_SOCKET, SO_KEEPALIVE, 1), 0);
  int value = -5;
  EXPECT_EQ(VSocketGetOptInt(c.client, SOL_SOCKET, SO_KEEPALIVE, &value), 0);
  EXPECT_EQ(value, 1);
  EXPECT_EQ(VSocketGetOptInt(c.client, SOL_SOCKET, SO_ERROR, &value), 0);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(VSocketGetOptInt(c.listener, SOL_SOCKET, SO_REUSEADDR, &value), 0);
  EXPECT_EQ(value, 1);
  // Failures give -1, not an error number, and a value of 0.
  value = 7;
  EXPECT_EQ(VSocketGetOptInt(c.client, SOL_SOCKET, 12345, &value), -1);
  EXPECT_EQ(value, 0);
  EXPECT_EQ(VSocketSetOptInt(c.client, SOL_SOCKET, 12345, 1), -1);
  EXPECT_EQ(VSocketGetOptInt(c.client, SOL_SOCKET, SO_ERROR, nullptr), -1);
}

TEST_P(SocketLoopbackTest, GatheredPiecesGoOutInOneSend) {
  std::vector<char> p1 = Pattern(1000, 1);
  std::vector<char> p2 = Pattern(2000, 2);
  {
    vtest::OsCallCounter sends("send");
    ASSERT_EQ(VSocketSendVa(c.client, p1.data(), 1000, p2.data(), 2000,
                            static_cast<void *>(nullptr)),
              0);
    EXPECT_EQ(sends.calls(), 1u);
  }
  std::vector<char> got(3000);
  ASSERT_EQ(VSocketRecv(c.server, got.data(), 3000), 0);
  EXPECT_TRUE(std::equal(p1.begin(), p1.end(), got.begin()));
  EXPECT_TRUE(std::equal(p2.begin(), p2.end(), got.begin() + 1000));

  // Many pieces grow the buffer several times; empty pieces add nothing.
  std::vector<char> p3 = Pattern(700, 3);
  ASSERT_EQ(VSocketSendVa(c.client, p3.data(), 700, p1.data(), 0, p3.data(),
                          700, p3.data(), 700, static_cast<void *>(nullptr)),
            0);
  got.resize(2100);
  ASSERT_EQ(VSocketRecv(c.server, got.data(), 2100), 0);
  for (int i = 0; i < 3; ++i) {
    EXPECT_TRUE(std::equal(p3.begin(), p3.end(), got.begin() + 700 * i));
  }

  // A bad length sends nothing.
  EXPECT_EQ(VSocketSendVa(c.client, p1.data(), 10, p2.data(), -1,
                          static_cast<void *>(nullptr)),
            EINVAL);
  EXPECT_EQ(VSocketWait(c.server, 50), VRC_TIMEOUT);
}

TEST_P(SocketLoopbackTest, WaitMultipleFlagsTheReadyEntries) {
  vtest::Connection &a = c, b;
  b.Open(host());
  VList *list = VSocketEntryListCreate(a.server, b.server, a.server, 0);
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(VListNumItems(list), 3);
  auto entry = [&](int n) { return vtest::Entry(list, n); };
  EXPECT_EQ(entry(0)->socket, a.server);
  EXPECT_EQ(entry(1)->socket, b.server);

  auto start = Clock::now();
  EXPECT_EQ(VSocketWaitMultiple(list, 0), VRC_TIMEOUT);
  EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
  EXPECT_EQ(VSocketWaitMultiple(list, 20), VRC_TIMEOUT);

  ASSERT_EQ(VSocketSend(b.client, "b", 1), 0);
  ASSERT_EQ(VSocketWaitMultiple(list, 5000), 0);
  EXPECT_EQ(entry(0)->ready, 0);
  EXPECT_EQ(entry(1)->ready, 1);
  EXPECT_EQ(entry(2)->ready, 0);

  // A socket listed twice is flagged in both entries.
  ASSERT_EQ(VSocketSend(a.client, "a", 1), 0);
  char byte;
  ASSERT_EQ(VSocketRecv(b.server, &byte, 1), 0);
  ASSERT_EQ(VSocketWaitMultiple(list, 5000), 0);
  EXPECT_EQ(entry(0)->ready, 1);
  EXPECT_EQ(entry(1)->ready, 0);
  EXPECT_EQ(entry(2)->ready, 1);
  vtest::DestroyEntryList(list);
}

// A listener for the any-address takes IPv4 and (with the IPv6 driver)
// IPv6 connections on one socket.
TEST(SocketAnyAddressTest, OneListenerServesBothFamilies) {
  bool v6 = vtest::StartWithDriver("ipv6_r");
  auto before = vtest::OpenDescriptors();
  uint16_t port = 0;
  VSocket listener = VSOCKET_INVALID;
  ASSERT_EQ(VSocketListenAnyPort(nullptr, &port, &listener), 0);
  vtest::ConnectAndAccept(
      "127.0.0.1", port, listener,
      v6 ? VSOCKET_ADDR_TYPE_IPV4_MAPPED : VSOCKET_ADDR_TYPE_IPV4);
  if (v6 && vtest::CanBind("::1")) {
    vtest::ConnectAndAccept("::1", port, listener, VSOCKET_ADDR_TYPE_IPV6);
  }
  VSocketClose(listener);
  EXPECT_EQ(vtest::OpenDescriptors(), before);
}

class SocketTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(vtest::StartWithDriver("ipv4_r"));
    before_ = vtest::OpenDescriptors();
  }
  void TearDown() override { EXPECT_EQ(vtest::OpenDescriptors(), before_); }

 private:
  std::set<std::string> before_;
};

TEST_F(SocketTest, SocketsThatAreNotOpenAreRefused) {
  int closed = dup(0);
  close(closed);
  for (VSocket s : {VSOCKET_INVALID, closed}) {
    char byte = 0;
    uint32_t count = 0;
    VSocket out = 123;
    EXPECT_EQ(VSocketSend(s, &byte, 1), vtest::kBadDescriptor);
    EXPECT_EQ(VSocketRecv(s, &byte, 1), vtest::kBadDescriptor);
    EXPECT_EQ(VSocketGetNRecv(s, &count), vtest::kBadDescriptor);
    EXPECT_EQ(VSocketSetBlockingState(s, 1), vtest::kBadDescriptor);
    EXPECT_EQ(VSocketWait(s, -1), vtest::kBadDescriptor);
    EXPECT_EQ(VSocketAccept(s, &out), vtest::kBadDescriptor);
    EXPECT_EQ(out, VSOCKET_INVALID);
    EXPECT_EQ(VSocketShutdown(s), 0);
    EXPECT_EQ(VSocketClose(s), 0);
    VList *list = VSocketEntryListCreate(s, 0);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(VSocketWaitMultiple(list, -1), vtest::kBadDescriptor);
    vtest::DestroyEntryList(list);
  }
  // A connected socket does not accept.
  vtest::Connection c;
  c.Open("127.0.0.1");
  VSocket out = 123;
  EXPECT_EQ(VSocketAccept(c.client, &out), vtest::kInvalidArgument);
  EXPECT_EQ(out, VSOCKET_INVALID);
}

TEST_F(SocketTest, NullArgumentsAndEmptyWaitListsAreRefused) {
  VSocket s = 123;
  uint16_t port = 0;
  EXPECT_EQ(VSocketListen("127.0.0.1", 0, nullptr), EINVAL);
  EXPECT_EQ(VSocketListenAnyPort("127.0.0.1", nullptr, &s), EINVAL);
  EXPECT_EQ(s, 123);
  EXPECT_EQ(VSocketListenAnyPort("127.0.0.1", &port, nullptr), EINVAL);
  EXPECT_EQ(VSocketConnect(nullptr, 1, &s), EINVAL);
  EXPECT_EQ(VSocketConnectWithTimeout(nullptr, 1, 1, &s), EINVAL);
  EXPECT_EQ(s, 123);
  EXPECT_EQ(VSocketConnect("127.0.0.1", 1, nullptr), EINVAL);
  EXPECT_EQ(VSocketAccept(0, nullptr), EINVAL);
  EXPECT_EQ(VSocketSend(0, nullptr, 1), EINVAL);
  EXPECT_EQ(VSocketRecv(0, nullptr, 1), EINVAL);
  EXPECT_EQ(VSocketGetNRecv(0, nullptr), EINVAL);
  EXPECT_EQ(VSocketWaitMultiple(nullptr, 0), EINVAL);
  VList *list = VSocketEntryListCreate(0);
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(VListNumItems(list), 0);
  EXPECT_EQ(VSocketWaitMultiple(list, 0), EINVAL);
  free(list);
}

TEST_F(SocketTest, EntryListsWithoutMemoryAreNotMade) {
  int a = 7, b = 8;
  vtest::SweepAllocations([&](vtest::Fault &f) {
    f.Arm();
    VList *list = VSocketEntryListCreate(a, b, 0);
    bool failed = f.Disarm();
    if (failed) {
      EXPECT_EQ(list, nullptr);
      return;
    }
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(VListNumItems(list), 2);
    vtest::DestroyEntryList(list);
  });
}

TEST_F(SocketTest, GatheringWithoutMemorySendsNothing) {
  vtest::Connection c;
  c.Open("127.0.0.1");
  std::vector<char> big = Pattern(5000, 9);
  vtest::SweepAllocations([&](vtest::Fault &f) {
    f.Arm();
    VRC rc = VSocketSendVa(c.client, "head", 4, big.data(), 5000,
                           static_cast<void *>(nullptr));
    bool failed = f.Disarm();
    if (failed) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(VSocketWait(c.server, 0), VRC_TIMEOUT);
      return;
    }
    ASSERT_EQ(rc, 0);
    std::vector<char> got(5004);
    ASSERT_EQ(VSocketRecv(c.server, got.data(), 5004), 0);
    EXPECT_EQ(std::string(got.data(), 4), "head");
  });
}

// The waits watch at most 512 distinct sockets, whatever their numbers
// (poll(), so descriptors above 1023 work too).
TEST_F(SocketTest, WaitsWatchAtMost512DistinctSockets) {
  rlimit limit{};
  getrlimit(RLIMIT_NOFILE, &limit);
  if (limit.rlim_cur < 1200) {
    limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 1200);
    setrlimit(RLIMIT_NOFILE, &limit);
  }
  if (limit.rlim_cur < 1200) GTEST_SKIP() << "too few descriptors allowed";
  std::vector<std::pair<int, int>> pairs(VSOCKET_WAIT_MAX + 1);
  VList *list = VSocketEntryListCreate(0);
  for (auto &[mine, theirs] : pairs) {
    int fds[2];
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    mine = fds[0];
    theirs = fds[1];
    vtest::AppendEntry(list, mine);
    // The first socket again: a duplicate takes no place in the set.
    if (&mine == &pairs.front().first) vtest::AppendEntry(list, mine);
  }
  EXPECT_GT(pairs.back().first, 1023);
  // The 513th distinct socket is not watched...
  ASSERT_EQ(write(pairs.back().second, "x", 1), 1);
  EXPECT_EQ(VSocketWaitMultiple(list, 0), VRC_TIMEOUT);
  // ...the 512th is.
  ASSERT_EQ(write(pairs[VSOCKET_WAIT_MAX - 1].second, "y", 1), 1);
  ASSERT_EQ(VSocketWaitMultiple(list, 0), 0);
  int ready = 0;
  for (void *item = VListFirst(list); item != nullptr; item = VListNext(item)) {
    ready += static_cast<VSocketEntry *>(item)->ready;
  }
  EXPECT_EQ(ready, 1);
  EXPECT_EQ(static_cast<VSocketEntry *>(VListLast(list))->ready, 0);
  EXPECT_EQ(vtest::Entry(list, VSOCKET_WAIT_MAX)->ready, 1);
  vtest::DestroyEntryList(list);
  for (auto [mine, theirs] : pairs) {
    close(mine);
    close(theirs);
  }
}

}  // namespace
