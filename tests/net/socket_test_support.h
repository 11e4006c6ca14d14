// Shared by the socket tests: start-up with a chosen driver, loopback
// addresses and connections, wait lists, socket-layer error numbers.
#ifndef VANTREL_TESTS_NET_SOCKET_TEST_SUPPORT_H
#define VANTREL_TESTS_NET_SOCKET_TEST_SUPPORT_H

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <string>

#include "net/net_test_support.h"
#include "vantrel/vrc.h"
#include "vantrel/vservices.h"
#include "vantrel/vsocket.h"

namespace vtest {

// Socket-layer numbers of the system's and the resolver's errors.
constexpr VRC kInterrupted = 10004;
constexpr VRC kBadDescriptor = 10009;
constexpr VRC kInvalidArgument = 10022;
constexpr VRC kTooManyOpen = 10024;
constexpr VRC kWouldBlock = 10035;
constexpr VRC kNotASocket = 10038;
constexpr VRC kFamilyNotSupported = 10047;
constexpr VRC kAddressInUse = 10048;
constexpr VRC kAborted = 10053;
constexpr VRC kReset = 10054;
constexpr VRC kNoBuffers = 10055;
constexpr VRC kNotConnected = 10057;
constexpr VRC kPeerGone = 10058;  // EPIPE, ESHUTDOWN
constexpr VRC kRefused = 10061;
constexpr VRC kNameTooLong = 10063;
constexpr VRC kHostNotFound = 11001;
constexpr VRC kNoData = 11004;

constexpr char kIpv4Loopback[] = "127.0.0.1";
constexpr char kIpv6Loopback[] = "::1";

// The numeric host as a socket address with port 0; returns its length.
inline socklen_t AddressOf(const char *host, sockaddr_storage *address) {
  *address = {};
  if (strchr(host, ':') != nullptr) {
    auto *in6 = reinterpret_cast<sockaddr_in6 *>(address);
    in6->sin6_family = AF_INET6;
    inet_pton(AF_INET6, host, &in6->sin6_addr);
    return sizeof *in6;
  }
  auto *in = reinterpret_cast<sockaddr_in *>(address);
  in->sin_family = AF_INET;
  inet_pton(AF_INET, host, &in->sin_addr);
  return sizeof *in;
}

// True when a socket can be bound to host here.
inline bool CanBind(const char *host) {
  sockaddr_storage address;
  socklen_t length = AddressOf(host, &address);
  int s = socket(address.ss_family, SOCK_STREAM, 0);
  bool ok =
      s >= 0 && bind(s, reinterpret_cast<sockaddr *>(&address), length) == 0;
  if (s >= 0) close(s);
  return ok;
}

// Starts the library with VTHOME at the staged drivers, asking for driver
// (consulted only where IPv6 is usable).  True when that driver was loaded.
inline bool StartWithDriver(const char *driver) {
  setenv("VTHOME", VTEST_STAGE_DIR, 1);
  setenv("VDE_SOCKET_IPDRV_NAME", driver, 1);
  if (VInitialise("sockettest", "stderr") != 0) return false;
  std::string wanted = strcmp(driver, "ipv6_r") == 0 ? "IPv6" : "IPv4";
  return std::string(VSocketIPDriverGetName()).rfind(wanted, 0) == 0;
}

// Frees a list made by VSocketEntryListCreate.
inline void DestroyEntryList(VList *list) {
  VListDestroyWith(
      list,
      [](void *item, void *) {
        VListFree(item);
        return 0;
      },
      nullptr, free);
}

// Appends a wait entry for s as it is, without the pairing the list
// constructor adds.
inline void AppendEntry(VList *list, VSocket s) {
  auto *entry = static_cast<VSocketEntry *>(VListAlloc(sizeof(VSocketEntry)));
  *entry = {s, 0};
  VListInsertAfter(list, entry, VListTail(list));
}

// Entry n of a wait list.
inline VSocketEntry *Entry(VList *list, int n) {
  return static_cast<VSocketEntry *>(VListNth(list, n));
}

// A connection over loopback: a listener, the client and the server's side.
struct Connection {
  VSocket listener = VSOCKET_INVALID;
  VSocket client = VSOCKET_INVALID;
  VSocket server = VSOCKET_INVALID;
  uint16_t port = 0;

  // Listens on host (any port), connects and accepts.
  void Open(const char *host) {
    ASSERT_EQ(VSocketListenAnyPort(host, &port, &listener), 0);
    ASSERT_EQ(VSocketConnect(host, port, &client), 0);
    ASSERT_EQ(VSocketAccept(listener, &server), 0);
  }
  void Close() {
    for (VSocket *s : {&client, &server, &listener}) {
      if (*s != VSOCKET_INVALID) VSocketClose(*s);
      *s = VSOCKET_INVALID;
    }
  }
  ~Connection() { Close(); }
};

// Connects to port at host, accepts on listener, checks the peer's address
// type the server sees and moves two bytes.
inline void ConnectAndAccept(const char *host, uint16_t port, VSocket listener,
                             int type) {
  VSocket client = VSOCKET_INVALID;
  VSocket server = VSOCKET_INVALID;
  ASSERT_EQ(VSocketConnect(host, port, &client), 0) << host;
  ASSERT_EQ(VSocketWait(listener, 5000), 0) << host;
  ASSERT_EQ(VSocketAccept(listener, &server), 0) << host;
  VSocketIPAddrHdl peer = nullptr;
  ASSERT_EQ(VSocketIPAddrGetPeerName(server, &peer), 0);
  EXPECT_EQ(VSocketIPAddrGetSockAddrType(peer), type) << host;
  VSocketIPAddrHdlDestroy(peer);
  EXPECT_EQ(VSocketSend(client, "ok", 2), 0);
  char got[2];
  EXPECT_EQ(VSocketRecv(server, got, 2), 0);
  VSocketClose(server);
  VSocketClose(client);
}

}  // namespace vtest

#endif  // VANTREL_TESTS_NET_SOCKET_TEST_SUPPORT_H
