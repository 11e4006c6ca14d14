// Socket operations when an injected system call fails: the code returned,
// resumed interrupted calls, output sockets left invalid, nothing left open.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>

#include <functional>
#include <string>
#include <vector>

#include "net/socket_test_support.h"
#include "support/os_fault.h"
#include "vantrel/vrc.h"
#include "vantrel/vsocket.h"

namespace {

constexpr char kHost[] = "127.0.0.1";

// What a case works on: a connection over loopback and a live listener.
struct Scene {
  vtest::Connection connection;
  VSocket out = 123;  // an output socket the operation must reset
};

struct FaultCase {
  const char *name;
  const char *op;  // the system call that fails
  uint64_t nth;    // which of its calls; 0: every call
  int error;       // with this error number
  VRC expected;    // what the operation returns
  VRC (*run)(Scene &scene);
};

VRC Listen(Scene &s) { return VSocketListen(kHost, 0, &s.out); }
VRC ListenAnyPort(Scene &s) {
  uint16_t port = 0;
  return VSocketListenAnyPort(kHost, &port, &s.out);
}
VRC Connect(Scene &s) {
  return VSocketConnect(kHost, s.connection.port, &s.out);
}
VRC Limited(Scene &s) {
  return VSocketConnectWithTimeout(kHost, s.connection.port, 5, &s.out);
}
VRC Accept(Scene &s) {
  VSocket client = VSOCKET_INVALID;
  if (VSocketConnect(kHost, s.connection.port, &client) != 0) return -1000;
  VRC rc = VSocketAccept(s.connection.listener, &s.out);
  VSocketClose(client);
  return rc;
}
VRC Send(Scene &s) {
  VRC rc = VSocketSend(s.connection.client, "ping", 4);
  char got[4];
  if (rc == 0 && VSocketRecv(s.connection.server, got, 4) != 0) return -1000;
  return rc;
}
VRC Recv(Scene &s) {
  if (VSocketSend(s.connection.client, "ping", 4) != 0) return -1000;
  char got[4];
  return VSocketRecv(s.connection.server, got, 4);
}
VRC WaitForData(Scene &s) {
  if (VSocketSend(s.connection.client, "!", 1) != 0) return -1000;
  return VSocketWait(s.connection.server, 5000);
}
VRC WaitMultiple(Scene &s) {
  VList *list = VSocketEntryListCreate(s.connection.server, 0);
  VRC rc = VSocketWaitMultiple(list, 5000);
  vtest::DestroyEntryList(list);
  return rc;
}
VRC SetBlocking(Scene &s) {
  return VSocketSetBlockingState(s.connection.client, 1);
}
VRC BytesReadable(Scene &s) {
  uint32_t count = 0;
  return VSocketGetNRecv(s.connection.client, &count);
}

void PrintTo(const FaultCase &c, std::ostream *os) {
  *os << c.op << (c.nth == 0 ? " always" : " call " + std::to_string(c.nth))
      << " fails with " << c.error;
}

const FaultCase kCases[] = {
    {"ListenSocket", "socket", 1, EMFILE, vtest::kTooManyOpen, Listen},
    {"ListenOption", "setsockopt", 1, ENOBUFS, vtest::kNoBuffers, Listen},
    {"ListenBind", "bind", 1, EADDRINUSE, vtest::kAddressInUse, Listen},
    {"ListenListen", "listen", 1, EOPNOTSUPP, 10045, Listen},
    {"ListenAnyPortBind", "bind", 1, EACCES, 10013, ListenAnyPort},
    {"ConnectSocket", "socket", 1, ENOBUFS, vtest::kNoBuffers, Connect},
    {"ConnectConnect", "connect", 1, ECONNRESET, vtest::kReset, Connect},
    {"ConnectInterrupted", "connect", 1, EINTR, vtest::kInterrupted, Connect},
    {"LimitedNonBlocking", "fcntl", 1, EBADF, vtest::kBadDescriptor, Limited},
    {"LimitedConnect", "connect", 1, ENETUNREACH, 10051, Limited},
    {"LimitedPoll", "poll", 1, ENOMEM, ENOMEM, Limited},
    {"LimitedPollInterrupted", "poll", 1, EINTR, 0, Limited},
    {"LimitedPendingError", "getsockopt", 1, EBADF, vtest::kBadDescriptor,
     Limited},
    {"LimitedBlockingAgain", "fcntl", 4, EINVAL, vtest::kInvalidArgument,
     Limited},
    {"AcceptAccept", "accept4", 1, ECONNABORTED, vtest::kAborted, Accept},
    {"AcceptInterruptedOnce", "accept4", 1, EINTR, 0, Accept},
    {"AcceptAlwaysInterrupted", "accept4", 0, EINTR, VRC_FAILURE, Accept},
    {"SendSend", "send", 1, EPIPE, vtest::kPeerGone, Send},
    {"SendInterrupted", "send", 1, EINTR, 0, Send},
    {"RecvRecv", "recv", 1, ECONNRESET, vtest::kReset, Recv},
    {"RecvInterrupted", "recv", 1, EINTR, 0, Recv},
    {"WaitPoll", "poll", 1, ENOMEM, ENOMEM, WaitForData},
    {"WaitInterrupted", "poll", 1, EINTR, 0, WaitForData},
    {"WaitMultipleInterrupted", "poll", 1, EINTR, vtest::kInterrupted,
     WaitMultiple},
    {"SetBlockingState", "fcntl", 1, EBADF, vtest::kBadDescriptor, SetBlocking},
    {"GetNRecv", "ioctl", 1, EINVAL, vtest::kInvalidArgument, BytesReadable},
};

// A non-blocking connect on loopback may complete at once; this makes every
// such connect report "in progress", so that the wait for it runs.
int (*g_connect)(int, const sockaddr *, socklen_t) = nullptr;
int ConnectInProgress(int s, const sockaddr *address, socklen_t length) {
  int rc = g_connect(s, address, length);
  if (rc == 0 && (fcntl(s, F_GETFL) & O_NONBLOCK) != 0) {
    errno = EINPROGRESS;
    return -1;
  }
  return rc;
}

class SocketFaultTest : public testing::TestWithParam<FaultCase> {
 protected:
  void SetUp() override { ASSERT_TRUE(vtest::StartWithDriver("ipv4_r")); }
};

TEST_P(SocketFaultTest, FailureIsReportedAndLeavesNothingOpen) {
  const FaultCase &c = GetParam();
  vtest::OsOverride<decltype(&connect)> pending("connect", ConnectInProgress);
  g_connect = pending.previous();
  Scene scene;
  scene.connection.Open(kHost);
  auto before = vtest::OpenDescriptors();
  VRC rc;
  uint64_t calls;
  {
    vtest::OsFault fault(c.op, c.nth == 0 ? 1 : c.nth, c.error, c.nth == 0);
    rc = c.run(scene);
    calls = fault.calls();
    EXPECT_TRUE(fault.fired()) << c.op << " was called " << calls << " times";
  }
  EXPECT_EQ(rc, c.expected);
  // A failed call that makes a socket hands out none.
  bool makes = c.run == Listen || c.run == ListenAnyPort || c.run == Connect ||
               c.run == Limited || c.run == Accept;
  EXPECT_TRUE(!makes || rc == 0 || scene.out == VSOCKET_INVALID);
  EXPECT_TRUE(c.nth != 0 || calls == 10u) << calls;  // ten tries, then gives up
  // A call that succeeded after all hands its socket out.
  if (rc == 0 && scene.out != 123) VSocketClose(scene.out);
  EXPECT_EQ(vtest::OpenDescriptors(), before);
}

INSTANTIATE_TEST_SUITE_P(Calls, SocketFaultTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<FaultCase> &info) {
                           return std::string(info.param.name);
                         });

// The IPv6 listener for the any-address must serve IPv4 too; when the
// system will not have that, nothing is left open.
TEST(SocketFaultIpv6Test, DualStackRefusalLeavesNothingOpen) {
  if (!vtest::StartWithDriver("ipv6_r")) {
    GTEST_SKIP() << "this host has no usable IPv6";
  }
  auto before = vtest::OpenDescriptors();
  VSocket s = 123;
  {
    vtest::OsFault fault("setsockopt", 1, ENOPROTOOPT);
    EXPECT_EQ(VSocketListen(nullptr, 0, &s), 10042);
    EXPECT_TRUE(fault.fired());
  }
  EXPECT_EQ(s, VSOCKET_INVALID);
  EXPECT_EQ(vtest::OpenDescriptors(), before);
}

}  // namespace
