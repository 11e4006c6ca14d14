// Sockets over loopback, lookups, interface addresses and the socket
// layer's error numbering, through the platform layer.
#include <arpa/inet.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netdb.h>
#include <netinet/in.h>
#include <string.h>

#include <string>

#include "platform/socket.h"
#include "support/os_fault.h"

namespace {

namespace vp = vantrel::platform;

constexpr uint8_t kLoopback[4] = {127, 0, 0, 1};

int Open(vp::SocketType type = vp::SocketType::kStream) {
  int s = vp::kInvalidSocket;
  EXPECT_EQ(vp::SocketOpen(vp::AddressFamily::kIpv4, type, 0, &s), 0);
  return s;
}

// A socket bound to a system-chosen loopback port, and that address.
int Bound(vp::SocketType type, vp::SocketAddress *address) {
  int s = Open(type);
  EXPECT_EQ(vp::SocketSetOption(s, vp::SocketOption::kReuseAddress, 1), 0);
  vp::SocketAddressMake(vp::AddressFamily::kIpv4, kLoopback, 0, address);
  EXPECT_EQ(vp::SocketBind(s, address->bytes, address->length), 0);
  EXPECT_EQ(vp::SocketLocalAddress(s, address), 0);
  return s;
}

int16_t PollOne(int s, int16_t events, int milliseconds) {
  vp::PollEntry entry{s, events, 0};
  int ready = -1;
  EXPECT_EQ(vp::SocketPoll(&entry, 1, milliseconds, &ready), 0);
  EXPECT_EQ(ready, entry.revents != 0 ? 1 : 0);
  return entry.revents;
}

// A connected pair over loopback, made the way a connect with a time limit
// makes it: non-blocking connect, poll, the pending error.
struct Pair {
  int client;
  int server;
};

Pair Connect() {
  vp::SocketAddress address;
  int listener = Bound(vp::SocketType::kStream, &address);
  EXPECT_EQ(vp::SocketListen(listener, 5), 0);
  int client = Open();
  EXPECT_EQ(vp::SocketSetNonBlocking(client, true), 0);
  int rc = vp::SocketConnect(client, address.bytes, address.length);
  EXPECT_TRUE(rc == 0 || rc == EINPROGRESS) << rc;
  EXPECT_EQ(PollOne(listener, vp::kPollIn, 5000), vp::kPollIn);
  vp::SocketAddress peer;
  peer.length = sizeof peer.bytes;
  int server = vp::kInvalidSocket;
  EXPECT_EQ(vp::SocketAccept(listener, peer.bytes, &peer.length, &server), 0);
  EXPECT_EQ(fcntl(server, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(PollOne(client, vp::kPollOut, 5000), vp::kPollOut);
  int pending = -1;
  EXPECT_EQ(vp::SocketGetOption(client, vp::SocketOption::kError, &pending), 0);
  EXPECT_EQ(pending, 0);
  EXPECT_EQ(vp::SocketSetNonBlocking(client, false), 0);
  vp::SocketAddress local;
  EXPECT_EQ(vp::SocketLocalAddress(client, &local), 0);
  EXPECT_EQ(std::string(reinterpret_cast<char *>(peer.bytes), peer.length),
            std::string(reinterpret_cast<char *>(local.bytes), local.length));
  vp::SocketClose(listener);
  return {client, server};
}

TEST(PlatformSocketTest, LoopbackPairSendsReceivesPollsAndShutsDown) {
  Pair p = Connect();
  size_t n = 0;
  EXPECT_EQ(PollOne(p.server, vp::kPollIn, 0), 0);  // nothing yet
  ASSERT_EQ(vp::SocketSend(p.client, "hello", 5, 0, &n), 0);
  EXPECT_EQ(n, 5u);
  EXPECT_EQ(PollOne(p.server, vp::kPollIn, 5000), vp::kPollIn);
  uint32_t readable = 0;
  EXPECT_EQ(vp::SocketBytesReadable(p.server, &readable), 0);
  EXPECT_EQ(readable, 5u);
  char buffer[16];
  EXPECT_EQ(vp::SocketReceive(p.server, buffer, 2, vp::kMessagePeek, &n), 0);
  EXPECT_EQ(n, 2u);
  EXPECT_EQ(vp::SocketReceive(p.server, buffer, sizeof buffer, 0, &n), 0);
  EXPECT_EQ(std::string(buffer, n), "hello");

  // Non-blocking and empty: would block.
  EXPECT_EQ(vp::SocketSetNonBlocking(p.server, true), 0);
  EXPECT_EQ(vp::SocketSetNonBlocking(p.server, true), 0);  // already
  EXPECT_EQ(vp::SocketReceive(p.server, buffer, 1, 0, &n), EAGAIN);
  EXPECT_EQ(vp::SocketErrorCode(EAGAIN), 10035);

  // The client stops sending: the server reads the end.
  EXPECT_EQ(vp::SocketShutdown(p.client, vp::ShutdownMode::kSend), 0);
  EXPECT_EQ(PollOne(p.server, vp::kPollIn, 5000), vp::kPollIn);
  EXPECT_EQ(vp::SocketReceive(p.server, buffer, 1, 0, &n), 0);
  EXPECT_EQ(n, 0u);

  // Sending after that fails without raising a signal.
  EXPECT_EQ(vp::SocketSend(p.client, "x", 1, 0, &n), EPIPE);
  EXPECT_EQ(vp::SocketClose(p.server), 0);
  EXPECT_EQ(vp::SocketClose(p.client), 0);
  EXPECT_EQ(PollOne(p.client, vp::kPollIn, 0), vp::kPollInvalid);
}

TEST(PlatformSocketTest, RefusedConnectionsAndDatagrams) {
  vp::SocketAddress address;
  int gone = Bound(vp::SocketType::kStream, &address);
  vp::SocketClose(gone);  // nobody listens there now
  int client = Open();
  EXPECT_EQ(vp::SocketConnect(client, address.bytes, address.length),
            ECONNREFUSED);
  vp::SocketClose(client);

  vp::SocketAddress to, from;
  int receiver = Bound(vp::SocketType::kDatagram, &to);
  int sender = Open(vp::SocketType::kDatagram);
  size_t n = 0;
  ASSERT_EQ(vp::SocketSendTo(sender, "ping", 4, 0, to.bytes, to.length, &n), 0);
  char buffer[8];
  from.length = sizeof from.bytes;
  ASSERT_EQ(vp::SocketReceiveFrom(receiver, buffer, sizeof buffer, 0,
                                  from.bytes, &from.length, &n),
            0);
  EXPECT_EQ(std::string(buffer, n), "ping");
  vp::AddressFamily family;
  uint8_t ip[16];
  uint16_t port;
  ASSERT_EQ(vp::SocketAddressParts(from.bytes, from.length, &family, ip, &port),
            0);
  EXPECT_TRUE(family == vp::AddressFamily::kIpv4 && port != 0 &&
              memcmp(ip, kLoopback, 4) == 0);
  vp::SocketClose(sender);
  vp::SocketClose(receiver);
}

TEST(PlatformSocketTest, OptionsReadBackAsSet) {
  int s = Open();
  struct Case {
    vp::SocketOption option;
    int value;
  } cases[] = {{vp::SocketOption::kKeepAlive, 1},
               {vp::SocketOption::kNoDelay, 1},
               {vp::SocketOption::kLinger, 7},
               {vp::SocketOption::kLinger, -1},
               {vp::SocketOption::kReceiveTimeout, 1500},
               {vp::SocketOption::kSendTimeout, 0}};
  for (const Case &c : cases) {
    int value = -2;
    EXPECT_EQ(vp::SocketSetOption(s, c.option, c.value), 0);
    EXPECT_EQ(vp::SocketGetOption(s, c.option, &value), 0);
    EXPECT_EQ(value, c.value) << static_cast<int>(c.option);
  }
  int raw = 0;
  uint32_t length = sizeof raw;
  EXPECT_EQ(vp::SocketGetOptionRaw(s, SOL_SOCKET, SO_KEEPALIVE, &raw, &length),
            0);
  EXPECT_TRUE(raw == 1 && length == sizeof raw);
  EXPECT_EQ(vp::SocketSetOption(s, vp::SocketOption::kIpv6Only, 1),
            ENOPROTOOPT);  // an IPv4 socket
  vp::SocketClose(s);
  EXPECT_EQ(vp::SocketSetOptionRaw(s, SOL_SOCKET, SO_KEEPALIVE, &raw, 4),
            EBADF);
}

TEST(PlatformSocketTest, AddressesResolveAndNameNumerically) {
  struct Case {
    const char *host;
    vp::AddressFamily family;
    size_t ipLength;
  } cases[] = {{"127.0.0.1", vp::AddressFamily::kIpv4, 4},
               {"::1", vp::AddressFamily::kIpv6, 16}};
  for (const Case &c : cases) {
    vp::ResolveHints hints{
        vp::AddressFamily::kUnspecified, vp::SocketType::kStream, 0,
        vp::kResolveNumericHost | vp::kResolveNumericService};
    vp::AddressList *list = nullptr;
    ASSERT_EQ(vp::AddressResolve(c.host, "8080", &hints, &list), 0) << c.host;
    vp::AddressEntry entry;
    vp::AddressListDescribe(list, &entry);
    EXPECT_EQ(entry.family, c.family);
    EXPECT_EQ(entry.type, vp::SocketType::kStream);
    EXPECT_EQ(vp::AddressListNext(list), nullptr);
    vp::AddressFamily family;
    uint8_t ip[16];
    uint16_t port = 0;
    ASSERT_EQ(
        vp::SocketAddressParts(entry.address, entry.length, &family, ip, &port),
        0);
    EXPECT_EQ(port, 8080);
    // Made from its parts, the address is the same bytes.
    vp::SocketAddress made;
    ASSERT_EQ(vp::SocketAddressMake(family, ip, port, &made), 0);
    EXPECT_EQ(made.length, entry.length);
    EXPECT_EQ(memcmp(made.bytes, entry.address, made.length), 0);
    char host[64], service[16];
    ASSERT_EQ(vp::AddressName(made.bytes, made.length, host, sizeof host,
                              service, sizeof service,
                              vp::kNameNumericHost | vp::kNameNumericService),
              0);
    EXPECT_STREQ(host, c.host);
    EXPECT_STREQ(service, "8080");
    vp::AddressListFree(list);
  }
  vp::ResolveHints numeric{vp::AddressFamily::kIpv4, vp::SocketType::kStream, 0,
                           vp::kResolveNumericHost};
  vp::AddressList *list = nullptr;
  EXPECT_EQ(vp::AddressResolve("not.an.address", nullptr, &numeric, &list),
            vp::kResolveHostNotFound);
  EXPECT_EQ(vp::SocketAddressParts(kLoopback, 1, nullptr, nullptr, nullptr),
            EINVAL);
  vp::SocketAddress none;
  EXPECT_EQ(
      vp::SocketAddressMake(vp::AddressFamily::kUnspecified, nullptr, 0, &none),
      EAFNOSUPPORT);
}

// A fixed interface list: the flags decide whether IPv6 is usable beyond
// the link.
ifaddrs g_entries[5];
sockaddr_in6 g_v6[3];
sockaddr_in g_v4;

int FakeInterfaces(ifaddrs **list) noexcept {
  const char *v6[] = {"fe80::1", "fec0::2", "2001:db8::3"};
  for (int i = 0; i < 3; ++i) {
    g_v6[i] = sockaddr_in6{};
    g_v6[i].sin6_family = AF_INET6;
    inet_pton(AF_INET6, v6[i], &g_v6[i].sin6_addr);
    g_entries[i] = ifaddrs{};
    g_entries[i].ifa_name = const_cast<char *>("eth0");
    g_entries[i].ifa_flags = IFF_UP;
    g_entries[i].ifa_addr = reinterpret_cast<sockaddr *>(&g_v6[i]);
  }
  g_v4 = sockaddr_in{};
  g_v4.sin_family = AF_INET;
  memcpy(&g_v4.sin_addr, kLoopback, 4);
  g_entries[3] = ifaddrs{};
  g_entries[3].ifa_name = const_cast<char *>("a-very-long-interface-name");
  g_entries[3].ifa_flags = IFF_UP | IFF_LOOPBACK;
  g_entries[3].ifa_addr = reinterpret_cast<sockaddr *>(&g_v4);
  g_entries[4] = ifaddrs{};  // no address: left out
  g_entries[4].ifa_name = const_cast<char *>("tun0");
  for (int i = 0; i < 4; ++i) g_entries[i].ifa_next = &g_entries[i + 1];
  *list = g_entries;
  return 0;
}

void KeepInterfaces(ifaddrs *) noexcept {}

TEST(PlatformSocketTest, InterfaceAddressesCarryLinkAndSiteFlags) {
  size_t count = 0;
  ASSERT_EQ(vp::InterfaceAddresses(nullptr, 0, &count), 0);  // the real list
  vtest::OsOverride fake("getifaddrs", FakeInterfaces);
  vtest::OsOverride keep("freeifaddrs", KeepInterfaces);
  vp::InterfaceAddress entries[2];
  ASSERT_EQ(vp::InterfaceAddresses(entries, 2, &count), 0);
  EXPECT_EQ(count, 4u);
  vp::InterfaceAddress all[4];
  ASSERT_EQ(vp::InterfaceAddresses(all, 4, &count), 0);
  const uint32_t up = vp::kInterfaceUp;
  EXPECT_EQ(all[0].flags, up | vp::kAddressLinkLocal);
  EXPECT_EQ(all[1].flags, up | vp::kAddressSiteLocal);
  EXPECT_EQ(all[2].flags, up);
  EXPECT_EQ(all[2].ip[0], 0x20);
  EXPECT_EQ(all[3].family, vp::AddressFamily::kIpv4);
  EXPECT_EQ(all[3].flags, up | vp::kInterfaceLoopback);
  EXPECT_STREQ(all[3].name, "a-very-long-int");
  EXPECT_EQ(memcmp(all[0].name, entries[0].name, sizeof all[0].name), 0);
}

TEST(PlatformSocketTest, ErrorNumbersMapToTheSocketLayersNumbering) {
  // clang-format off
  const int table[][2] = {
      {EINTR, 10004}, {EBADF, 10009}, {EACCES, 10013}, {EFAULT, 10014},
      {EINVAL, 10022}, {EMFILE, 10024}, {EWOULDBLOCK, 10035}, {EAGAIN, 10035},
      {EINPROGRESS, 10036}, {EALREADY, 10037}, {ENOTSOCK, 10038},
      {EDESTADDRREQ, 10039}, {EMSGSIZE, 10040}, {EPROTOTYPE, 10041},
      {ENOPROTOOPT, 10042}, {EPROTONOSUPPORT, 10043},
      {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045}, {EPFNOSUPPORT, 10046},
      {EAFNOSUPPORT, 10047}, {EADDRINUSE, 10048}, {EADDRNOTAVAIL, 10049},
      {ENETDOWN, 10050}, {ENETUNREACH, 10051}, {ENETRESET, 10052},
      {ECONNABORTED, 10053}, {ECONNRESET, 10054}, {ENOBUFS, 10055},
      {EISCONN, 10056}, {ENOTCONN, 10057}, {ESHUTDOWN, 10058}, {EPIPE, 10058},
      {ETOOMANYREFS, 10059}, {ETIMEDOUT, 10060}, {ECONNREFUSED, 10061},
      {ELOOP, 10062}, {ENAMETOOLONG, 10063}, {EHOSTDOWN, 10064},
      {EHOSTUNREACH, 10065}, {ENOTEMPTY, 10066}, {EUSERS, 10068},
      {EDQUOT, 10069}, {ESTALE, 10070}, {EREMOTE, 10071},
      // Unmapped numbers, and numbers already translated, stay as they are.
      {0, 0}, {ENOMEM, ENOMEM}, {ENOENT, ENOENT}, {10061, 10061},
      {11001, 11001}};
  const int resolver[][3] = {
      {0, 0, 0}, {EAI_NONAME, 0, 11001}, {EAI_AGAIN, 0, 11002},
      {EAI_FAIL, 0, 11003}, {EAI_NODATA, 0, 11004}, {EAI_ADDRFAMILY, 0, 11004},
      {EAI_SERVICE, 0, 10109}, {EAI_FAMILY, 0, 10047},
      {EAI_SOCKTYPE, 0, 10044}, {EAI_BADFLAGS, 0, 10022},
      {EAI_OVERFLOW, 0, 10014}, {EAI_MEMORY, 0, ENOMEM},
      {EAI_SYSTEM, ECONNREFUSED, 10061}, {EAI_SYSTEM, 0, 11003},
      {-9999, 0, 11003}};
  // clang-format on
  for (const auto &row : table) {
    EXPECT_EQ(vp::SocketErrorCode(row[0]), row[1]) << strerror(row[0]);
  }
  for (const auto &row : resolver) {
    EXPECT_EQ(vp::ResolverErrorCode(row[0], row[1]), row[2]) << row[0];
  }
}

}  // namespace
