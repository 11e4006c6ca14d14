// The IP driver modules on their own: each staged module is opened as the
// library would open it and its table is called directly.  Only loopback
// addresses are used; nothing is looked up beyond the hosts file.
#include <arpa/inet.h>
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "net/socket_test_support.h"
#include "vantrel/vsocket.h"
#include "vipdrv.h"

namespace {

// A driver module opened for the test's lifetime.
class Driver {
 public:
  explicit Driver(const std::string &name) {
    module_ = dlopen(vtest::StagedModule(name).c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module_ == nullptr) return;
    auto entry = reinterpret_cast<VSocketIPDriverEntry>(
        dlsym(module_, VSOCKET_IPDRV_ENTRY));
    table_ = entry != nullptr ? entry() : nullptr;
  }
  ~Driver() {
    if (module_ != nullptr) dlclose(module_);
  }
  const VSocketIPDriver *operator->() const { return table_; }
  const VSocketIPDriver *table() const { return table_; }

 private:
  void *module_ = nullptr;
  const VSocketIPDriver *table_ = nullptr;
};

// A handle released at the end of the scope.
class Handle {
 public:
  explicit Handle(const Driver &driver) : driver_(driver) {}
  ~Handle() { driver_->destroy(hdl_); }
  VSocketIPAddrHdl *out() { return &hdl_; }
  VSocketIPAddrHdl get() const { return hdl_; }
  std::string Address() const {
    char text[VSOCKET_IPADDR_ADDRESS_SIZE];
    return driver_->getAddress(hdl_, text) == 0 ? text : "<failed>";
  }
  std::string Name() const {
    char text[VSOCKET_IPADDR_NAME_SIZE];
    return driver_->getName(hdl_, text) == 0 ? text : "<failed>";
  }
  int Family() const {
    return static_cast<const sockaddr *>(hdl_->sockAddr)->sa_family;
  }

 private:
  const Driver &driver_;
  VSocketIPAddrHdl hdl_ = nullptr;
};

// A numeric address with a port; its length.
socklen_t Address(const char *text, uint16_t port, sockaddr_storage *out) {
  socklen_t length = vtest::AddressOf(text, out);
  reinterpret_cast<sockaddr_in *>(out)->sin_port = htons(port);  // also v6
  return length;
}

sockaddr *Sa(void *address) { return static_cast<sockaddr *>(address); }

// A listening socket on a loopback address and a client connected to it.
struct Connection {
  int listener = -1;
  int client = -1;
  int accepted = -1;
  ~Connection() {
    for (int fd : {listener, client, accepted}) {
      if (fd >= 0) close(fd);
    }
  }
  bool Open(const char *host) {
    sockaddr_storage address;
    socklen_t length = Address(host, 0, &address);
    listener = socket(address.ss_family, SOCK_STREAM, 0);
    if (listener < 0 || bind(listener, Sa(&address), length) != 0 ||
        listen(listener, 1) != 0 ||
        getsockname(listener, Sa(&address), &length) != 0) {
      return false;
    }
    client = socket(address.ss_family, SOCK_STREAM, 0);
    return client >= 0 && connect(client, Sa(&address), length) == 0;
  }
};

class IpDriverTest : public testing::TestWithParam<const char *> {
 protected:
  void SetUp() override { ASSERT_NE(driver_.table(), nullptr) << dlerror(); }
  bool IsIpv6() const { return std::string(GetParam()) == "ipv6_r"; }
  int Family() const { return IsIpv6() ? AF_INET6 : AF_INET; }
  Driver driver_{GetParam()};
};

INSTANTIATE_TEST_SUITE_P(Drivers, IpDriverTest,
                         testing::Values("ipv4_r", "ipv6_r"));

// (That it exports only its entry is checked on the file by
// IpDriverBuildTest.*ExportsItsEntryAndNeedsOnlyLibc.)
TEST_P(IpDriverTest, DescribesItself) {
  EXPECT_STREQ(driver_->name(), IsIpv6() ? "IPv6 Socket Address Library"
                                         : "IPv4 Socket Address Library");
  EXPECT_STREQ(driver_->version(), "1.0");
  EXPECT_EQ(driver_->protoFormat(), Family());
}

TEST_P(IpDriverTest, AnyAddressHasRoomForEitherPeer) {
  Handle any(driver_);
  ASSERT_EQ(driver_->create(nullptr, 0, any.out()), 0);
  VSocketIPAddrHdl hdl = any.get();
  EXPECT_EQ(hdl->sockAddr, &reinterpret_cast<VIPDrvAddr *>(hdl)->storage);
  EXPECT_EQ(any.Family(), Family());
  EXPECT_EQ(hdl->sockAddrLength, IsIpv6() ? int32_t(sizeof(sockaddr_in6))
                                          : int32_t(sizeof(sockaddr_in)));
  EXPECT_EQ(driver_->addrFormat(hdl), Family());
  EXPECT_EQ(driver_->sockAddrType(hdl), IsIpv6() ? 3 : 1);
  EXPECT_EQ(any.Address(), IsIpv6() ? "::" : "0.0.0.0");
  EXPECT_EQ(any.Name(), any.Address());
  EXPECT_EQ(driver_->getPort(hdl), 0);

  // Accepting into it, as the socket layer does, makes it the peer's.
  Connection c;
  ASSERT_TRUE(c.Open("127.0.0.1"));
  socklen_t length = static_cast<socklen_t>(hdl->sockAddrLength);
  c.accepted =
      accept(c.listener, static_cast<sockaddr *>(hdl->sockAddr), &length);
  ASSERT_GE(c.accepted, 0);
  sockaddr_in client{};
  socklen_t client_length = sizeof client;
  getsockname(c.client, Sa(&client), &client_length);
  EXPECT_EQ(any.Address(), "127.0.0.1");
  EXPECT_EQ(any.Name(), "127.0.0.1");
  EXPECT_EQ(driver_->sockAddrType(hdl), 1);
  EXPECT_EQ(driver_->addrFormat(hdl), AF_INET);
  EXPECT_EQ(driver_->getPort(hdl), ntohs(client.sin_port));
}

TEST_P(IpDriverTest, HandlesFromHostTexts) {
  constexpr uint32_t kNumeric = VSOCKET_IPADDR_NUMERIC_HOST;
  const std::string overlong(VSOCKET_IPADDR_NAME_SIZE, 'a');
  struct Case {
    const char *host;
    uint32_t flags;
    const char *address;  // null: the call fails with `fails`
    int type;             // IPv6 types fail on the IPv4 driver with `fails`
    VRC fails;
  };
  const Case cases[] = {
      {"127.0.0.1", 0, "127.0.0.1", 1, 0},
      {"127.0.0.1", kNumeric, "127.0.0.1", 1, 0},
      {"127.1", kNumeric, "127.0.0.1", 1, 0},
      {"localhost", 0, "127.0.0.1", 1, 0},
      {"localhost", kNumeric, nullptr, 0, vtest::kHostNotFound},
      {"999.0.0.1", kNumeric, nullptr, 0, vtest::kHostNotFound},
      {"127.0.0.1", 2, nullptr, 0, EINVAL},  // unknown flag
      {overlong.c_str(), 0, nullptr, 0, vtest::kNameTooLong},
      {"::1", kNumeric, "::1", 3, vtest::kNoData},
      {"::ffff:127.0.0.1", 0, "::ffff:127.0.0.1", 2, vtest::kNoData},
      {"fe80::1%lo", kNumeric, "fe80::1%lo", 3, vtest::kNoData},  // scoped
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.host);
    Handle h(driver_);
    VRC rc = driver_->create(c.host, c.flags, h.out());
    if (c.address == nullptr || (c.type > 1 && !IsIpv6())) {
      EXPECT_EQ(rc, c.fails);
      EXPECT_EQ(h.get(), nullptr);
      continue;
    }
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(h.Address(), c.address);
    EXPECT_EQ(h.Name(), c.host);  // the text it was made from
    EXPECT_EQ(driver_->sockAddrType(h.get()), c.type);
    int family = c.type == 1 ? AF_INET : AF_INET6;
    EXPECT_EQ(driver_->addrFormat(h.get()), family);
    EXPECT_EQ(h.get()->sockAddrLength, family == AF_INET
                                           ? int32_t(sizeof(sockaddr_in))
                                           : int32_t(sizeof(sockaddr_in6)));
    uint8_t raw[16];
    std::string bare =
        std::string(c.address).substr(0, strcspn(c.address, "%"));
    inet_pton(family, bare.c_str(), raw);
    EXPECT_EQ(memcmp(driver_->rawAddress(h.get()), raw, c.type == 1 ? 4 : 16),
              0);
    if (c.type != 1) continue;
    Handle by_name(driver_);
    ASSERT_EQ(driver_->hostByName(c.host, by_name.out()), 0);
    EXPECT_EQ(by_name.Address(), c.address);
  }
  EXPECT_EQ(driver_->create("127.0.0.1", 0, nullptr), EINVAL);
  Handle none(driver_);
  EXPECT_EQ(driver_->hostByName(nullptr, none.out()), EINVAL);
}

TEST_P(IpDriverTest, PortsRoundTripInNetworkOrder) {
  Handle h(driver_);
  ASSERT_EQ(driver_->create("127.0.0.1", 0, h.out()), 0);
  for (uint16_t port : {0, 1, 80, 8080, 65535}) {
    driver_->setPort(h.get(), port);
    EXPECT_EQ(driver_->getPort(h.get()), port);
    EXPECT_EQ(static_cast<sockaddr_in *>(h.get()->sockAddr)->sin_port,
              htons(port));
  }
}

TEST_P(IpDriverTest, HandlesFromSocketAddressesWithAndWithoutTheName) {
  sockaddr_storage v4, v6;
  Address("127.0.0.1", 8080, &v4);
  Handle h(driver_);
  ASSERT_EQ(driver_->createViaSockAddr(Sa(&v4), h.out()), 0);
  EXPECT_EQ(h.Address(), "127.0.0.1");
  EXPECT_EQ(h.Name(), "127.0.0.1");  // no name: the numeric address
  EXPECT_EQ(driver_->getPort(h.get()), 8080);
  EXPECT_EQ(memcmp(h.get()->sockAddr, &v4, sizeof(sockaddr_in)), 0);

  Address("::ffff:127.0.0.1", 7, &v6);
  Handle h6(driver_);
  VRC rc = driver_->createViaSockAddr(Sa(&v6), h6.out());
  if (IsIpv6()) {
    ASSERT_EQ(rc, 0);
    EXPECT_EQ(driver_->sockAddrType(h6.get()), 2);
    EXPECT_EQ(driver_->getPort(h6.get()), 7);
  } else {
    EXPECT_EQ(rc, vtest::kFamilyNotSupported);
  }
  sockaddr_un local{};
  local.sun_family = AF_UNIX;
  Handle other(driver_);
  EXPECT_EQ(driver_->createViaSockAddr(Sa(&local), other.out()),
            vtest::kFamilyNotSupported);
  EXPECT_EQ(driver_->createViaSockAddr(nullptr, other.out()), EINVAL);
  EXPECT_EQ(driver_->createViaSockAddr(Sa(&v4), nullptr), EINVAL);

  // By address, the hosts file gives the loopback's name.
  Handle named(driver_);
  ASSERT_EQ(driver_->hostByAddr(Sa(&v4), named.out()), 0);
  EXPECT_EQ(named.Name(), "localhost");
  EXPECT_EQ(named.Address(), "127.0.0.1");
  EXPECT_EQ(driver_->hostByAddr(nullptr, named.out()), EINVAL);
}

TEST_P(IpDriverTest, SocketAndPeerNames) {
  for (const char *host : {"127.0.0.1", "::1"}) {
    SCOPED_TRACE(host);
    bool v6 = host[0] == ':';
    if (v6 && !vtest::CanBind(host)) continue;  // no IPv6 loopback here
    Connection c;
    ASSERT_TRUE(c.Open(host));
    Handle local(driver_), peer(driver_);
    VRC rc = driver_->sockName(c.listener, local.out());
    if (v6 && !IsIpv6()) {
      EXPECT_EQ(rc, vtest::kFamilyNotSupported);
      continue;
    }
    ASSERT_EQ(rc, 0);
    ASSERT_EQ(driver_->peerName(c.client, peer.out()), 0);
    EXPECT_EQ(local.Address(), host);
    EXPECT_EQ(driver_->sockAddrType(local.get()), v6 ? 3 : 1);
    EXPECT_NE(driver_->getPort(local.get()), 0);
    EXPECT_EQ(driver_->getPort(peer.get()), driver_->getPort(local.get()));
    EXPECT_EQ(peer.Name(), host);
  }

  Connection c;
  ASSERT_TRUE(c.Open("127.0.0.1"));
  auto before = vtest::OpenDescriptors();
  Handle none(driver_);
  EXPECT_EQ(driver_->sockName(-1, none.out()), vtest::kBadDescriptor);
  int file = open("/dev/null", O_RDONLY);
  EXPECT_EQ(driver_->sockName(file, none.out()), vtest::kNotASocket);
  close(file);
  EXPECT_EQ(driver_->peerName(c.listener, none.out()), vtest::kNotConnected);
  EXPECT_EQ(driver_->sockName(c.listener, nullptr), EINVAL);
  EXPECT_EQ(none.get(), nullptr);
  EXPECT_EQ(vtest::OpenDescriptors(), before);

  int unix_socket = socket(AF_UNIX, SOCK_STREAM, 0);
  EXPECT_EQ(driver_->sockName(unix_socket, none.out()),
            vtest::kFamilyNotSupported);
  close(unix_socket);
}

TEST_P(IpDriverTest, TellsNumericAddressesFromNames) {
  struct Case {
    const char *text;
    bool ipv4, ipv6;  // accepted by each driver
  };
  const Case cases[] = {
      {"127.0.0.1", true, true},   {"0.0.0.0", true, true},
      {"10.1", true, true},        {"::1", false, true},
      {"fe80::1%lo", false, true}, {"::ffff:1.2.3.4", false, true},
      {"localhost", false, false}, {"", false, false},
      {"1.2.3.4.5", false, false}, {"::g", false, false},
  };
  for (const Case &c : cases) {
    EXPECT_EQ(driver_->isIPAddress(c.text) != 0, IsIpv6() ? c.ipv6 : c.ipv4)
        << c.text;
  }
  EXPECT_EQ(driver_->isIPAddress(nullptr), 0);
}

TEST_P(IpDriverTest, Ipv4MappedTexts) {
  Handle v4(driver_);
  ASSERT_EQ(driver_->create("127.0.0.1", 0, v4.out()), 0);
  char text[32];
  ASSERT_EQ(driver_->ipv4MapAddr(v4.get(), text, sizeof text), 0);
  EXPECT_STREQ(text, "::ffff:127.0.0.1");
  // Exactly the text and its terminator fit; one byte less does not.
  EXPECT_EQ(driver_->ipv4MapAddr(v4.get(), text, 17), 0);
  memset(text, '#', sizeof text);
  EXPECT_EQ(driver_->ipv4MapAddr(v4.get(), text, 16), ENOSPC);
  EXPECT_EQ(text[0], '#');
  EXPECT_EQ(driver_->ipv4MapAddr(v4.get(), nullptr, 32), EINVAL);
  if (!IsIpv6()) return;
  Handle mapped(driver_), v6(driver_);
  ASSERT_EQ(driver_->create("::ffff:10.0.0.1", 0, mapped.out()), 0);
  ASSERT_EQ(driver_->ipv4MapAddr(mapped.get(), text, sizeof text), 0);
  EXPECT_STREQ(text, "::ffff:10.0.0.1");
  ASSERT_EQ(driver_->create("::1", 0, v6.out()), 0);
  EXPECT_EQ(driver_->ipv4MapAddr(v6.get(), text, sizeof text),
            vtest::kFamilyNotSupported);
}

TEST_P(IpDriverTest, NullAndForeignHandlesAreRefused) {
  Driver other(IsIpv6() ? "ipv4_r" : "ipv6_r");
  ASSERT_NE(other.table(), nullptr);
  Handle foreign(other);
  ASSERT_EQ(other->create("127.0.0.1", 0, foreign.out()), 0);
  char text[VSOCKET_IPADDR_NAME_SIZE];
  for (VSocketIPAddrHdl bad : {VSocketIPAddrHdl(nullptr), foreign.get()}) {
    EXPECT_EQ(driver_->sockAddrType(bad), 0);
    EXPECT_EQ(driver_->addrFormat(bad), 0);
    EXPECT_EQ(driver_->getName(bad, text), EINVAL);
    EXPECT_EQ(driver_->getAddress(bad, text), EINVAL);
    EXPECT_EQ(driver_->rawAddress(bad), nullptr);
    EXPECT_EQ(driver_->ipv4MapAddr(bad, text, sizeof text), EINVAL);
    EXPECT_EQ(driver_->getPort(bad), 0);
    driver_->setPort(bad, 99);
    driver_->destroy(bad);  // not this driver's to free
  }
  EXPECT_EQ(other->getPort(foreign.get()), 0);
}

}  // namespace
