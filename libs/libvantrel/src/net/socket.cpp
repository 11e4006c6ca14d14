// Opening and closing TCP sockets: listen (with the supplemental IPv4
// partner), connect with and without a time limit, accept, shutdown and
// close, and the per-socket settings.  Addresses come from the IP driver;
// the operations use only its handles' two socket-address fields.
#include "platform/socket.h"

#include <errno.h>

#include <utility>

#include "net/socket_layer.h"
#include "net/socket_ops.h"
#include "vantrel/vrc.h"
#include "vantrel/vsocket.h"

namespace vantrel::internal {
namespace {

namespace vp = vantrel::platform;

constexpr int kAcceptAttempts = 10;
constexpr int64_t kMillisPerSecond = 1000;

VRC Code(int error) { return vp::SocketErrorCode(error); }

// An address handle of the driver, released with the scope.
class Address {
 public:
  Address() : driver_(SocketIPDriver()) {}
  ~Address() {
    if (hdl_ != nullptr) driver_->destroy(hdl_);
  }
  Address(const Address &) = delete;
  Address &operator=(const Address &) = delete;

  // The driver's address of host (null: the any-address).
  VRC Create(const char *host) {
    return driver_ != nullptr ? driver_->create(host, 0, &hdl_)
                              : VRC_INTERNAL_ERROR;
  }
  // The first address found for a host name or numeric text.
  VRC Resolve(const char *host) {
    return driver_ != nullptr ? driver_->hostByName(host, &hdl_)
                              : VRC_INTERNAL_ERROR;
  }
  void SetPort(uint16_t port) { driver_->setPort(hdl_, port); }
  uint16_t Port() const { return driver_->getPort(hdl_); }
  vp::AddressFamily Family() const {
    return vp::AddressFamilyOf(driver_->addrFormat(hdl_));
  }
  const void *SockAddr() const { return hdl_->sockAddr; }
  void *WritableSockAddr() { return hdl_->sockAddr; }
  uint32_t Length() const {
    return static_cast<uint32_t>(hdl_->sockAddrLength);
  }

 private:
  const VSocketIPDriver *driver_;
  VSocketIPAddrHdl hdl_ = nullptr;
};

// A socket closed (with its partner) at the end of the scope unless
// released to the caller.
class OwnedSocket {
 public:
  OwnedSocket() = default;
  ~OwnedSocket() {
    if (s_ != vp::kInvalidSocket) SocketCloseWithPartner(s_);
  }
  OwnedSocket(const OwnedSocket &) = delete;
  OwnedSocket &operator=(const OwnedSocket &) = delete;

  VRC Open(vp::AddressFamily family) {
    int error = vp::SocketOpen(family, vp::SocketType::kStream, 0, &s_);
    return Code(error);
  }
  VSocket get() const { return s_; }
  VSocket Release() { return std::exchange(s_, vp::kInvalidSocket); }

 private:
  VSocket s_ = vp::kInvalidSocket;
};

VRC SetOption(VSocket s, vp::SocketOption option, int value) {
  return Code(vp::SocketSetOption(s, option, value));
}

// Makes the IPv4 listener that stands beside the IPv6 any-address listener
// v6 and records the pair: it listens on address's port, and when that is
// 0 the port it got becomes address's, so both share it.  Once the pair is
// recorded, closing v6 closes the partner too.
VRC OpenIpv4Partner(VSocket v6, Address *address) {
  OwnedSocket partner;
  VRC rc = partner.Open(vp::AddressFamily::kIpv4);
  if (rc != 0) return rc;
  rc = SupplementalRecordPair(v6, partner.get());
  if (rc != 0) return rc;
  VSocket v4 = partner.Release();
  vp::SocketAddress any;
  vp::SocketAddress bound;
  vp::AddressFamily family;
  uint8_t ip[16];
  uint16_t port = address->Port();
  int error =
      vp::SocketAddressMake(vp::AddressFamily::kIpv4, nullptr, port, &any);
  if (error == 0)
    error = vp::SocketSetOption(v4, vp::SocketOption::kReuseAddress, 1);
  if (error == 0) error = vp::SocketBind(v4, any.bytes, any.length);
  if (error == 0) error = vp::SocketListen(v4, VSOCKET_LISTEN_BACKLOG);
  if (error == 0) error = vp::SocketLocalAddress(v4, &bound);
  if (error == 0) {
    error =
        vp::SocketAddressParts(bound.bytes, bound.length, &family, ip, &port);
  }
  if (error != 0) return Code(error);
  address->SetPort(port);
  // The IPv6 listener must leave the IPv4 side of the port to its partner.
  return SetOption(v6, vp::SocketOption::kIpv6Only, 1);
}

VRC ListenOn(const char *host, uint16_t port, VSocket *out) {
  Address address;
  VRC rc = address.Create(host);
  if (rc != 0) return rc;
  address.SetPort(port);
  vp::AddressFamily family = address.Family();
  OwnedSocket sock;
  rc = sock.Open(family);
  if (rc != 0) return rc;
  if (family == vp::AddressFamily::kIpv6) {
    rc = SocketSupplementalMode() && host == nullptr
             ? OpenIpv4Partner(sock.get(), &address)
             : SetOption(sock.get(), vp::SocketOption::kIpv6Only, 0);
    if (rc != 0) return rc;
  }
  rc = SetOption(sock.get(), vp::SocketOption::kReuseAddress, 1);
  if (rc != 0) return rc;
  rc = Code(vp::SocketBind(sock.get(), address.SockAddr(), address.Length()));
  if (rc != 0) return rc;
  rc = Code(vp::SocketListen(sock.get(), VSOCKET_LISTEN_BACKLOG));
  if (rc != 0) return rc;
  *out = sock.Release();
  return 0;
}

// The first steps of every connect: the peer's address and a socket of its
// family, which outside supplemental mode also serves IPv4 when it is IPv6.
VRC PrepareConnect(const char *host, uint16_t port, Address *address,
                   OwnedSocket *sock) {
  VRC rc = address->Resolve(host);
  if (rc != 0) return rc;
  address->SetPort(port);
  vp::AddressFamily family = address->Family();
  rc = sock->Open(family);
  if (rc != 0 || family != vp::AddressFamily::kIpv6 ||
      SocketSupplementalMode()) {
    return rc;
  }
  return SetOption(sock->get(), vp::SocketOption::kIpv6Only, 0);
}

// Waits for a started connection to end, until the deadline: 0 when it
// was made, VRC_TIMEOUT, or why it failed.
VRC AwaitConnection(VSocket s, const SocketDeadline &deadline) {
  vp::PollEntry entry{s, static_cast<int16_t>(vp::kPollIn | vp::kPollOut), 0};
  VRC rc = SocketPollUntil(&entry, 1, deadline, true);
  if (rc != 0) return rc;
  if (entry.revents == 0) return Code(ECONNREFUSED);
  int pending = 0;
  int error = vp::SocketGetOption(s, vp::SocketOption::kError, &pending);
  return Code(error != 0 ? error : pending);
}

VRC ConnectWithin(const char *host, uint16_t port, int32_t seconds,
                  VSocket *out) {
  Address address;
  OwnedSocket sock;
  VRC rc = PrepareConnect(host, port, &address, &sock);
  if (rc != 0) return rc;
  rc = Code(vp::SocketSetNonBlocking(sock.get(), true));
  if (rc != 0) return rc;
  int error =
      vp::SocketConnect(sock.get(), address.SockAddr(), address.Length());
  // EAGAIN is no "in progress" here: on Linux it means no local port.
  if (error != 0 && error != EINPROGRESS && error != EINTR) return Code(error);
  if (error != 0) {
    rc = AwaitConnection(sock.get(),
                         seconds > 0 ? SocketDeadline::AfterMilliseconds(
                                           int64_t{seconds} * kMillisPerSecond)
                                     : SocketDeadline::Never());
    if (rc != 0) return rc;
  }
  rc = Code(vp::SocketSetNonBlocking(sock.get(), false));
  if (rc != 0) return rc;
  *out = sock.Release();
  return 0;
}

// The listener to accept on: its supplemental partner when a connection
// waits there.  With a partner, a blocking listener waits for a connection
// on either (the partner first), and a non-blocking one looks once.
VRC AcceptFrom(VSocket listener, VSocket *from) {
  VSocket sockets[2] = {VSOCKET_INVALID, listener};
  *from = listener;
  if (SupplementalLookupPartner(listener, &sockets[0]) != 0) return 0;
  bool nonblocking = false;
  VRC rc = Code(vp::SocketGetNonBlocking(listener, &nonblocking));
  if (rc != 0) return rc;
  size_t ready = 0;
  rc = SocketWaitReadable(sockets, 2,
                          nonblocking ? SocketDeadline::AfterMilliseconds(0)
                                      : SocketDeadline::Never(),
                          &ready);
  if (rc == VRC_TIMEOUT) return 0;  // the listener's accept says none waits
  if (rc == 0) *from = sockets[ready];
  return rc;
}

VRC AcceptOn(VSocket listener, VSocket *out) {
  Address peer;
  VRC rc = peer.Create(nullptr);
  if (rc != 0) return rc;
  VSocket from = listener;
  rc = AcceptFrom(listener, &from);
  if (rc != 0) return rc;
  for (int attempt = 0; attempt < kAcceptAttempts; ++attempt) {
    uint32_t length = peer.Length();
    int error = vp::SocketAccept(from, peer.WritableSockAddr(), &length, out);
    if (error != EINTR) return Code(error);
  }
  return VRC_FAILURE;
}

}  // namespace

void SocketCloseWithPartner(VSocket s) {
  VSocket partner = VSOCKET_INVALID;
  if (SupplementalLookupPartner(s, &partner) == 0) {
    (void)SupplementalRemovePair(s);
    (void)vp::SocketClose(partner);
  }
  (void)vp::SocketClose(s);
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;
namespace vp = vantrel::platform;

VRC VSocketListen(const char *host, uint16_t port, VSocket *out) {
  if (out == nullptr) return EINVAL;
  *out = VSOCKET_INVALID;
  return vi::ListenOn(host, port, out);
}

VRC VSocketListenAnyPort(const char *host, uint16_t *port, VSocket *out) {
  if (port == nullptr || out == nullptr) return EINVAL;
  *out = VSOCKET_INVALID;
  VSocket s = VSOCKET_INVALID;
  VRC rc = vi::ListenOn(host, 0, &s);
  if (rc != 0) return rc;
  VSocketIPAddrHdl local = nullptr;
  const VSocketIPDriver *driver = vi::SocketIPDriver();
  rc = driver->sockName(s, &local);
  if (rc != 0) {
    vi::SocketCloseWithPartner(s);
    return rc;
  }
  *port = driver->getPort(local);
  driver->destroy(local);
  *out = s;
  return 0;
}

VRC VSocketConnect(const char *host, uint16_t port, VSocket *out) {
  if (host == nullptr || out == nullptr) return EINVAL;
  *out = VSOCKET_INVALID;
  vi::Address address;
  vi::OwnedSocket sock;
  VRC rc = vi::PrepareConnect(host, port, &address, &sock);
  if (rc != 0) return rc;
  rc = vi::Code(
      vp::SocketConnect(sock.get(), address.SockAddr(), address.Length()));
  if (rc != 0) return rc;
  *out = sock.Release();
  return 0;
}

VRC VSocketConnectWithTimeout(const char *host, uint16_t port, int32_t seconds,
                              VSocket *out) {
  if (host == nullptr || out == nullptr) return EINVAL;
  *out = VSOCKET_INVALID;
  return vi::ConnectWithin(host, port, seconds, out);
}

VRC VSocketAccept(VSocket listener, VSocket *out) {
  if (out == nullptr) return EINVAL;
  *out = VSOCKET_INVALID;
  VSocket accepted = VSOCKET_INVALID;
  VRC rc = vi::AcceptOn(listener, &accepted);
  if (rc == 0) *out = accepted;
  return rc;
}

VRC VSocketShutdown(VSocket s) {
  (void)vp::SocketShutdown(s, vp::ShutdownMode::kBoth);
  return 0;
}

VRC VSocketClose(VSocket s) {
  vi::SocketCloseWithPartner(s);
  return 0;
}

VRC VSocketGetNRecv(VSocket s, uint32_t *count) {
  if (count == nullptr) return EINVAL;
  return vi::Code(vp::SocketBytesReadable(s, count));
}

int VSocketGetOptInt(VSocket s, int level, int name, int *value) {
  if (value == nullptr) return -1;
  int option = 0;
  uint32_t length = sizeof option;
  int error = vp::SocketGetOptionRaw(s, level, name, &option, &length);
  *value = error == 0 ? option : 0;
  return error == 0 ? 0 : -1;
}

int VSocketSetOptInt(VSocket s, int level, int name, int value) {
  int error = vp::SocketSetOptionRaw(s, level, name, &value, sizeof value);
  return error == 0 ? 0 : -1;
}

VRC VSocketSetBlockingState(VSocket s, int nonblocking) {
  return vi::Code(vp::SocketSetNonBlocking(s, nonblocking != 0));
}
