// POSIX sockets: SOCK_CLOEXEC everywhere, MSG_NOSIGNAL on every send,
// poll() for readiness (so descriptors above 1023 work), getaddrinfo and
// getnameinfo for lookups, getifaddrs for the interface list.
#include "platform/socket.h"

#include <errno.h>
#include <net/if.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stddef.h>
#include <string.h>
#include <sys/uio.h>
#include <sys/un.h>

#include "platform/posix/os_table.h"

namespace vantrel::platform {
namespace {

static_assert(sizeof(sockaddr_storage) == kSocketAddressBytes);

// PollEntry is laid out as struct pollfd with the same event bits, so an
// array of them is handed to poll() as it is.
static_assert(sizeof(PollEntry) == sizeof(pollfd));
static_assert(offsetof(PollEntry, sock) == offsetof(pollfd, fd));
static_assert(offsetof(PollEntry, events) == offsetof(pollfd, events));
static_assert(offsetof(PollEntry, revents) == offsetof(pollfd, revents));
static_assert(kPollIn == POLLIN && kPollPriority == POLLPRI &&
              kPollOut == POLLOUT && kPollError == POLLERR &&
              kPollHangUp == POLLHUP && kPollInvalid == POLLNVAL);

int Result(int rc) { return rc == 0 ? 0 : errno; }

int TypeNumber(SocketType type) {
  return type == SocketType::kStream ? SOCK_STREAM : SOCK_DGRAM;
}

SocketType TypeOf(int number) {
  return number == SOCK_DGRAM ? SocketType::kDatagram : SocketType::kStream;
}

int MessageFlags(uint32_t flags) {
  int native = 0;
  if ((flags & kMessagePeek) != 0) native |= MSG_PEEK;
  if ((flags & kMessageOutOfBand) != 0) native |= MSG_OOB;
  if ((flags & kMessageWaitAll) != 0) native |= MSG_WAITALL;
  if ((flags & kMessageDontWait) != 0) native |= MSG_DONTWAIT;
  return native;
}

int Transferred(ssize_t n, size_t *count) {
  if (n < 0) return errno;
  *count = static_cast<size_t>(n);
  return 0;
}

sockaddr *Native(void *address) { return static_cast<sockaddr *>(address); }
const sockaddr *Native(const void *address) {
  return static_cast<const sockaddr *>(address);
}

// ---- Options.

struct OptionRow {
  int level;
  int name;
};

OptionRow RowOf(SocketOption option) {
  switch (option) {
    case SocketOption::kReuseAddress:
      return {SOL_SOCKET, SO_REUSEADDR};
    case SocketOption::kKeepAlive:
      return {SOL_SOCKET, SO_KEEPALIVE};
    case SocketOption::kBroadcast:
      return {SOL_SOCKET, SO_BROADCAST};
    case SocketOption::kError:
      return {SOL_SOCKET, SO_ERROR};
    case SocketOption::kReceiveBuffer:
      return {SOL_SOCKET, SO_RCVBUF};
    case SocketOption::kSendBuffer:
      return {SOL_SOCKET, SO_SNDBUF};
    case SocketOption::kNoDelay:
      return {IPPROTO_TCP, TCP_NODELAY};
    case SocketOption::kIpv6Only:
      return {IPPROTO_IPV6, IPV6_V6ONLY};
    case SocketOption::kLinger:
      return {SOL_SOCKET, SO_LINGER};
    case SocketOption::kReceiveTimeout:
      return {SOL_SOCKET, SO_RCVTIMEO};
    case SocketOption::kSendTimeout:
      return {SOL_SOCKET, SO_SNDTIMEO};
  }
  return {SOL_SOCKET, SO_ERROR};
}

bool IsTimeout(SocketOption option) {
  return option == SocketOption::kReceiveTimeout ||
         option == SocketOption::kSendTimeout;
}

// Linger and the timeouts are records in the system's form; the rest ints.
union OptionValue {
  int number;
  struct linger linger;
  struct timeval time;
};

socklen_t Encode(SocketOption option, int value, OptionValue *out) {
  if (option == SocketOption::kLinger) {
    out->linger.l_onoff = value >= 0;
    out->linger.l_linger = value >= 0 ? value : 0;
    return sizeof out->linger;
  }
  if (IsTimeout(option)) {
    out->time.tv_sec = value / 1000;
    out->time.tv_usec = static_cast<suseconds_t>(value % 1000) * 1000;
    return sizeof out->time;
  }
  out->number = value;
  return sizeof out->number;
}

int Decode(SocketOption option, const OptionValue &in) {
  if (option == SocketOption::kLinger) {
    return in.linger.l_onoff != 0 ? in.linger.l_linger : -1;
  }
  if (IsTimeout(option)) {
    return static_cast<int>(in.time.tv_sec * 1000 + in.time.tv_usec / 1000);
  }
  return in.number;
}

// ---- Lookups.

const addrinfo *NodeOf(const AddressList *list) {
  return reinterpret_cast<const addrinfo *>(list);
}

int ResolveFlags(uint32_t flags) {
  int native = 0;
  if ((flags & kResolvePassive) != 0) native |= AI_PASSIVE;
  if ((flags & kResolveNumericHost) != 0) native |= AI_NUMERICHOST;
  if ((flags & kResolveNumericService) != 0) native |= AI_NUMERICSERV;
  if ((flags & kResolveCanonicalName) != 0) native |= AI_CANONNAME;
  if ((flags & kResolveAddressConfig) != 0) native |= AI_ADDRCONFIG;
  if ((flags & kResolveV4Mapped) != 0) native |= AI_V4MAPPED;
  if ((flags & kResolveAll) != 0) native |= AI_ALL;
  return native;
}

addrinfo NativeHints(const ResolveHints &hints) {
  addrinfo native{};
  native.ai_family = AddressFamilyNumber(hints.family);
  native.ai_socktype = TypeNumber(hints.type);
  native.ai_protocol = hints.protocol;
  native.ai_flags = ResolveFlags(hints.flags);
  return native;
}

int NameFlags(uint32_t flags) {
  int native = 0;
  if ((flags & kNameNumericHost) != 0) native |= NI_NUMERICHOST;
  if ((flags & kNameNumericService) != 0) native |= NI_NUMERICSERV;
  if ((flags & kNameRequired) != 0) native |= NI_NAMEREQD;
  if ((flags & kNameDatagram) != 0) native |= NI_DGRAM;
  if ((flags & kNameNoDomain) != 0) native |= NI_NOFQDN;
  return native;
}

// ---- The network database.

// The outcome of a host lookup: the record copied out, or why not.  The
// resolver's h_errno values take the socket layer's numbers; an internal
// failure keeps the error number that came with it.
int HostFound(int rc, const hostent *result, int herror, hostent *record) {
  if (rc == 0 && result != nullptr) {
    *record = *result;
    return 0;
  }
  if (rc == ERANGE) return ERANGE;
  switch (herror) {
    case HOST_NOT_FOUND:
      return kResolveHostNotFound;
    case TRY_AGAIN:
      return kResolveTryAgain;
    case NO_RECOVERY:
      return kResolveNoRecovery;
    case NO_DATA:
      return kResolveNoData;
    default:  // NETDB_INTERNAL: the error number says why
      return rc != 0 ? rc : kResolveNoRecovery;
  }
}

// ---- Interfaces.

uint32_t AddressFlags(const ifaddrs &entry, AddressFamily family,
                      const uint8_t *ip) {
  uint32_t flags = 0;
  if ((entry.ifa_flags & IFF_UP) != 0) flags |= kInterfaceUp;
  if ((entry.ifa_flags & IFF_LOOPBACK) != 0) flags |= kInterfaceLoopback;
  if (family == AddressFamily::kIpv6 && ip[0] == 0xfe) {
    if ((ip[1] & 0xc0) == 0x80) flags |= kAddressLinkLocal;
    if ((ip[1] & 0xc0) == 0xc0) flags |= kAddressSiteLocal;
  }
  return flags;
}

// Describes an IP entry of the system's list; false for any other.
bool DescribeInterface(const ifaddrs &entry, InterfaceAddress *out) {
  if (entry.ifa_addr == nullptr) return false;
  uint32_t length = entry.ifa_addr->sa_family == AF_INET6 ? sizeof(sockaddr_in6)
                                                          : sizeof(sockaddr_in);
  uint16_t port;
  if (SocketAddressParts(entry.ifa_addr, length, &out->family, out->ip,
                         &port) != 0) {
    return false;
  }
  strncpy(out->name, entry.ifa_name, sizeof out->name - 1);
  out->name[sizeof out->name - 1] = '\0';
  out->flags = AddressFlags(entry, out->family, out->ip);
  return true;
}

// ---- Error numbering.

struct ErrorRow {
  int error;
  int code;
};

constexpr ErrorRow kSocketErrors[] = {
#define VSOCKET_ERROR(error, code) {error, code},
#include "platform/posix/socket_errors.def"
#undef VSOCKET_ERROR
};

constexpr ErrorRow kResolverErrors[] = {
#define VRESOLVER_ERROR(error, code) {error, code},
#include "platform/posix/socket_errors.def"
#undef VRESOLVER_ERROR
};

}  // namespace

// ---- Sockets and addresses.

int AddressFamilyNumber(AddressFamily family) {
  switch (family) {
    case AddressFamily::kIpv4:
      return AF_INET;
    case AddressFamily::kIpv6:
      return AF_INET6;
    default:
      return AF_UNSPEC;
  }
}

AddressFamily AddressFamilyOf(int number) {
  if (number == AF_INET) return AddressFamily::kIpv4;
  if (number == AF_INET6) return AddressFamily::kIpv6;
  return AddressFamily::kUnspecified;
}

int SocketAddressMake(AddressFamily family, const uint8_t *ip, uint16_t port,
                      SocketAddress *address) {
  memset(address, 0, sizeof *address);
  if (family == AddressFamily::kIpv4) {
    sockaddr_in in{};
    in.sin_family = AF_INET;
    in.sin_port = htons(port);
    if (ip != nullptr) memcpy(&in.sin_addr, ip, 4);
    memcpy(address->bytes, &in, sizeof in);
    address->length = sizeof in;
    return 0;
  }
  if (family == AddressFamily::kIpv6) {
    sockaddr_in6 in6{};
    in6.sin6_family = AF_INET6;
    in6.sin6_port = htons(port);
    if (ip != nullptr) memcpy(&in6.sin6_addr, ip, 16);
    memcpy(address->bytes, &in6, sizeof in6);
    address->length = sizeof in6;
    return 0;
  }
  return EAFNOSUPPORT;
}

int SocketAddressParts(const void *address, uint32_t length,
                       AddressFamily *family, uint8_t *ip, uint16_t *port) {
  sa_family_t native;
  if (length < sizeof native) return EINVAL;
  memcpy(&native,
         static_cast<const char *>(address) + offsetof(sockaddr, sa_family),
         sizeof native);
  if (native == AF_INET && length >= sizeof(sockaddr_in)) {
    sockaddr_in in;
    memcpy(&in, address, sizeof in);
    memcpy(ip, &in.sin_addr, 4);
    *port = ntohs(in.sin_port);
  } else if (native == AF_INET6 && length >= sizeof(sockaddr_in6)) {
    sockaddr_in6 in6;
    memcpy(&in6, address, sizeof in6);
    memcpy(ip, &in6.sin6_addr, 16);
    *port = ntohs(in6.sin6_port);
  } else {
    return native == AF_INET || native == AF_INET6 ? EINVAL : EAFNOSUPPORT;
  }
  *family = AddressFamilyOf(native);
  return 0;
}

int SocketOpen(AddressFamily family, SocketType type, int protocol, int *sock) {
  int s = VOS(socket)(AddressFamilyNumber(family),
                      TypeNumber(type) | SOCK_CLOEXEC, protocol);
  if (s < 0) return errno;
  *sock = s;
  return 0;
}

// As with files, Linux has released the descriptor even after EINTR.
int SocketClose(int sock) {
  if (VOS(close)(sock) == 0 || errno == EINTR) return 0;
  return errno;
}

int SocketBind(int sock, const void *address, uint32_t length) {
  return Result(VOS(bind)(sock, Native(address), length));
}

int SocketListen(int sock, int backlog) {
  return Result(VOS(listen)(sock, backlog));
}

int SocketAccept(int sock, void *address, uint32_t *length, int *accepted) {
  socklen_t room = address != nullptr ? *length : 0;
  int s = VOS(accept4)(sock, address != nullptr ? Native(address) : nullptr,
                       address != nullptr ? &room : nullptr, SOCK_CLOEXEC);
  if (s < 0) return errno;
  if (address != nullptr) *length = room;
  *accepted = s;
  return 0;
}

int SocketConnect(int sock, const void *address, uint32_t length) {
  return Result(VOS(connect)(sock, Native(address), length));
}

int SocketSend(int sock, const void *data, size_t size, uint32_t flags,
               size_t *sent) {
  return Transferred(
      VOS(send)(sock, data, size, MessageFlags(flags) | MSG_NOSIGNAL), sent);
}

int SocketReceive(int sock, void *buffer, size_t size, uint32_t flags,
                  size_t *received) {
  return Transferred(VOS(recv)(sock, buffer, size, MessageFlags(flags)),
                     received);
}

int SocketSendTo(int sock, const void *data, size_t size, uint32_t flags,
                 const void *address, uint32_t length, size_t *sent) {
  return Transferred(
      VOS(sendto)(sock, data, size, MessageFlags(flags) | MSG_NOSIGNAL,
                  Native(address), length),
      sent);
}

int SocketReceiveFrom(int sock, void *buffer, size_t size, uint32_t flags,
                      void *address, uint32_t *length, size_t *received) {
  socklen_t room = address != nullptr ? *length : 0;
  ssize_t n = VOS(recvfrom)(sock, buffer, size, MessageFlags(flags),
                            address != nullptr ? Native(address) : nullptr,
                            address != nullptr ? &room : nullptr);
  if (n >= 0 && address != nullptr) *length = room;
  return Transferred(n, received);
}

int SocketShutdown(int sock, ShutdownMode mode) {
  int how = mode == ShutdownMode::kReceive ? SHUT_RD
            : mode == ShutdownMode::kSend  ? SHUT_WR
                                           : SHUT_RDWR;
  return Result(VOS(shutdown)(sock, how));
}

int SocketGetOption(int sock, SocketOption option, int *value) {
  OptionRow row = RowOf(option);
  OptionValue v{};
  socklen_t length = Encode(option, 0, &v);
  if (VOS(getsockopt)(sock, row.level, row.name, &v, &length) != 0) {
    return errno;
  }
  *value = Decode(option, v);
  return 0;
}

int SocketSetOption(int sock, SocketOption option, int value) {
  OptionRow row = RowOf(option);
  OptionValue v{};
  socklen_t length = Encode(option, value, &v);
  return Result(VOS(setsockopt)(sock, row.level, row.name, &v, length));
}

int SocketGetOptionRaw(int sock, int level, int name, void *value,
                       uint32_t *length) {
  socklen_t room = *length;
  if (VOS(getsockopt)(sock, level, name, value, &room) != 0) return errno;
  *length = room;
  return 0;
}

int SocketSetOptionRaw(int sock, int level, int name, const void *value,
                       uint32_t length) {
  return Result(VOS(setsockopt)(sock, level, name, value, length));
}

int SocketSetNonBlocking(int sock, bool on) {
  int flags = VOS(fcntl)(sock, F_GETFL, 0);
  if (flags < 0) return errno;
  int wanted = on ? flags | O_NONBLOCK : flags & ~O_NONBLOCK;
  if (wanted == flags) return 0;
  return Result(VOS(fcntl)(sock, F_SETFL, wanted));
}

int SocketGetNonBlocking(int sock, bool *on) {
  int flags = VOS(fcntl)(sock, F_GETFL, 0);
  if (flags < 0) return errno;
  *on = (flags & O_NONBLOCK) != 0;
  return 0;
}

int SocketBytesReadable(int sock, uint32_t *bytes) {
  int count = 0;
  if (VOS(ioctl)(sock, FIONREAD, &count) != 0) return errno;
  *bytes = static_cast<uint32_t>(count);
  return 0;
}

int SocketPoll(PollEntry *entries, size_t count, int milliseconds, int *ready) {
  int n =
      VOS(poll)(reinterpret_cast<pollfd *>(entries), static_cast<nfds_t>(count),
                milliseconds < 0 ? -1 : milliseconds);
  if (n < 0) return errno;
  *ready = n;
  return 0;
}

int SocketLocalAddress(int sock, SocketAddress *address) {
  socklen_t length = sizeof address->bytes;
  if (VOS(getsockname)(sock, Native(address->bytes), &length) != 0) {
    return errno;
  }
  address->length = length;
  return 0;
}

int SocketPeerAddress(int sock, SocketAddress *address) {
  socklen_t length = sizeof address->bytes;
  if (VOS(getpeername)(sock, Native(address->bytes), &length) != 0) {
    return errno;
  }
  address->length = length;
  return 0;
}

// ---- Host and service lookup.

int AddressResolve(const char *host, const char *service,
                   const ResolveHints *hints, AddressList **list) {
  addrinfo native_hints{};
  if (hints != nullptr) native_hints = NativeHints(*hints);
  addrinfo *result = nullptr;
  errno = 0;
  int rc = VOS(getaddrinfo)(
      host, service, hints != nullptr ? &native_hints : nullptr, &result);
  if (rc != 0) return ResolverErrorCode(rc, errno);
  *list = reinterpret_cast<AddressList *>(result);
  return 0;
}

void AddressListDescribe(const AddressList *node, AddressEntry *entry) {
  const addrinfo *ai = NodeOf(node);
  entry->family = AddressFamilyOf(ai->ai_family);
  entry->type = TypeOf(ai->ai_socktype);
  entry->protocol = ai->ai_protocol;
  entry->address = ai->ai_addr;
  entry->length = ai->ai_addrlen;
  entry->canonicalName = ai->ai_canonname;
}

const AddressList *AddressListNext(const AddressList *node) {
  return reinterpret_cast<const AddressList *>(NodeOf(node)->ai_next);
}

void AddressListFree(AddressList *list) {
  if (list != nullptr) VOS(freeaddrinfo)(reinterpret_cast<addrinfo *>(list));
}

int AddressName(const void *address, uint32_t length, char *host,
                size_t host_size, char *service, size_t service_size,
                uint32_t flags) {
  errno = 0;
  int rc = VOS(getnameinfo)(
      Native(address), length, host_size != 0 ? host : nullptr, host_size,
      service_size != 0 ? service : nullptr, service_size, NameFlags(flags));
  return rc == 0 ? 0 : ResolverErrorCode(rc, errno);
}

// ---- The network database.

int ServiceByName(const char *name, const char *protocol, servent *record,
                  char *buffer, size_t size) {
  servent found;
  servent *result = nullptr;
  int rc = VOS(getservbyname_r)(name, protocol, &found, buffer, size, &result);
  if (rc != 0) return rc;
  if (result == nullptr) return ENOENT;
  *record = found;
  return 0;
}

int HostByName(const char *name, hostent *record, char *buffer, size_t size) {
  hostent found;
  hostent *result = nullptr;
  int herror = 0;
  int rc = VOS(gethostbyname_r)(name, &found, buffer, size, &result, &herror);
  return HostFound(rc, result, herror, record);
}

int HostByAddress(const void *address, uint32_t length, int type,
                  hostent *record, char *buffer, size_t size) {
  hostent found;
  hostent *result = nullptr;
  int herror = 0;
  int rc = VOS(gethostbyaddr_r)(address, length, type, &found, buffer, size,
                                &result, &herror);
  return HostFound(rc, result, herror, record);
}

// ---- Interfaces.

int InterfaceAddresses(InterfaceAddress *entries, size_t capacity,
                       size_t *count) {
  ifaddrs *list = nullptr;
  if (VOS(getifaddrs)(&list) != 0) return errno;
  size_t n = 0;
  for (const ifaddrs *entry = list; entry != nullptr; entry = entry->ifa_next) {
    InterfaceAddress described;
    if (!DescribeInterface(*entry, &described)) continue;
    if (n < capacity) entries[n] = described;
    ++n;
  }
  VOS(freeifaddrs)(list);
  *count = n;
  return 0;
}

// ---- Error numbering.

int SocketErrorCode(int error) {
  for (const ErrorRow &row : kSocketErrors) {
    if (row.error == error) return row.code;
  }
  return error;
}

int ResolverErrorCode(int resolver_error, int system_error) {
  if (resolver_error == 0) return 0;
  if (resolver_error == EAI_SYSTEM && system_error != 0) {
    return SocketErrorCode(system_error);
  }
  for (const ErrorRow &row : kResolverErrors) {
    if (row.error == resolver_error) return row.code;
  }
  return kResolveNoRecovery;
}

// ---- Local sockets and gathered sends.

int LocalSocketOpen(SocketType type, int *sock) {
  int s = VOS(socket)(AF_UNIX, TypeNumber(type) | SOCK_CLOEXEC, 0);
  if (s < 0) return errno;
  *sock = s;
  return 0;
}

int LocalSocketAddressMake(const char *path, SocketAddress *address) {
  static_assert(sizeof(sockaddr_un) <= kSocketAddressBytes);
  size_t length = strlen(path);
  if (length == 0) return EINVAL;
  sockaddr_un local{};
  if (length >= sizeof local.sun_path) return ENAMETOOLONG;
  local.sun_family = AF_UNIX;
  memcpy(local.sun_path, path, length + 1);
  memcpy(address->bytes, &local, sizeof local);
  address->length =
      static_cast<uint32_t>(offsetof(sockaddr_un, sun_path) + length + 1);
  return 0;
}

int SocketSendPieces(int sock, const SendPiece *pieces, size_t count,
                     uint32_t flags, const void *address, uint32_t length,
                     size_t *sent) {
  // SendPiece has struct iovec's layout, so the pieces go as they are.
  static_assert(sizeof(SendPiece) == sizeof(iovec) &&
                offsetof(SendPiece, data) == offsetof(iovec, iov_base) &&
                offsetof(SendPiece, size) == offsetof(iovec, iov_len));
  msghdr message{};
  message.msg_name = const_cast<void *>(address);
  message.msg_namelen = address != nullptr ? length : 0;
  message.msg_iov = reinterpret_cast<iovec *>(const_cast<SendPiece *>(pieces));
  message.msg_iovlen = count;
  return Transferred(
      VOS(sendmsg)(sock, &message, MessageFlags(flags) | MSG_NOSIGNAL), sent);
}

}  // namespace vantrel::platform
