// Socket operations when the system's calls fail, injected through the
// platform layer's table of calls: each failure comes back in the socket
// layer's numbering (or as the library's own code), interrupted calls are
// resumed where the operation promises it, an output socket stays invalid,
// and no descriptor is left open.
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
  uint64_t nth;    // which of its calls
  int error;       // with this error number
  bool repeat;     // and every later call too
  VRC expected;    // what the operation returns
  VRC (*run)(Scene &scene);
  bool resetsOut;  // the operation stores VSOCKET_INVALID in scene.out
};

VRC Listen(Scene &s) { return VSocketListen(kHost, 0, &s.out); }
VRC ListenAnyPort(Scene &s) {
  uint16_t port = 0;
  return VSocketListenAnyPort(kHost, &port, &s.out);
}
VRC Connect(Scene &s) {
  return VSocketConnect(kHost, s.connection.port, &s.out);
}
VRC ConnectWithLimit(Scene &s) {
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
  *os << c.op << " call " << c.nth << " fails with " << c.error;
}

const FaultCase kCases[] = {
    {"ListenSocket", "socket", 1, EMFILE, false, vtest::kTooManyOpen, Listen,
     true},
    {"ListenOption", "setsockopt", 1, ENOBUFS, false, vtest::kNoBuffers, Listen,
     true},
    {"ListenBind", "bind", 1, EADDRINUSE, false, vtest::kAddressInUse, Listen,
     true},
    {"ListenListen", "listen", 1, EOPNOTSUPP, false, 10045, Listen, true},
    {"ListenAnyPortBind", "bind", 1, EACCES, false, 10013, ListenAnyPort, true},
    {"ConnectSocket", "socket", 1, ENOBUFS, false, vtest::kNoBuffers, Connect,
     true},
    {"ConnectConnect", "connect", 1, ECONNRESET, false, vtest::kReset, Connect,
     true},
    {"ConnectInterrupted", "connect", 1, EINTR, false, vtest::kInterrupted,
     Connect, true},
    {"LimitedNonBlocking", "fcntl", 1, EBADF, false, vtest::kBadDescriptor,
     ConnectWithLimit, true},
    {"LimitedConnect", "connect", 1, ENETUNREACH, false, 10051,
     ConnectWithLimit, true},
    {"LimitedPoll", "poll", 1, ENOMEM, false, ENOMEM, ConnectWithLimit, true},
    {"LimitedPollInterrupted", "poll", 1, EINTR, false, 0, ConnectWithLimit,
     false},
    {"LimitedPendingError", "getsockopt", 1, EBADF, false,
     vtest::kBadDescriptor, ConnectWithLimit, true},
    {"LimitedBlockingAgain", "fcntl", 4, EINVAL, false, vtest::kInvalidArgument,
     ConnectWithLimit, true},
    {"AcceptAccept", "accept4", 1, ECONNABORTED, false, vtest::kAborted, Accept,
     true},
    {"AcceptInterruptedOnce", "accept4", 1, EINTR, false, 0, Accept, false},
    {"AcceptAlwaysInterrupted", "accept4", 1, EINTR, true, VRC_FAILURE, Accept,
     true},
    {"SendSend", "send", 1, EPIPE, false, vtest::kPeerGone, Send, false},
    {"SendInterrupted", "send", 1, EINTR, false, 0, Send, false},
    {"RecvRecv", "recv", 1, ECONNRESET, false, vtest::kReset, Recv, false},
    {"RecvInterrupted", "recv", 1, EINTR, false, 0, Recv, false},
    {"WaitPoll", "poll", 1, ENOMEM, false, ENOMEM, WaitForData, false},
    {"WaitInterrupted", "poll", 1, EINTR, false, 0, WaitForData, false},
    {"WaitMultipleInterrupted", "poll", 1, EINTR, false, vtest::kInterrupted,
     WaitMultiple, false},
    {"SetBlockingState", "fcntl", 1, EBADF, false, vtest::kBadDescriptor,
     SetBlocking, false},
    {"GetNRecv", "ioctl", 1, EINVAL, false, vtest::kInvalidArgument,
     BytesReadable, false},
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
    vtest::OsFault fault(c.op, c.nth, c.error, c.repeat);
    rc = c.run(scene);
    calls = fault.calls();
    EXPECT_TRUE(fault.fired()) << c.op << " was called " << calls << " times";
  }
  EXPECT_EQ(rc, c.expected);
  if (c.resetsOut) {
    EXPECT_EQ(scene.out, VSOCKET_INVALID);
  }
  if (strcmp(c.name, "AcceptAlwaysInterrupted") == 0) {
    EXPECT_EQ(calls, 10u);
  }
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
