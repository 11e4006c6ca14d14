// Sockets, host and service lookup, the machine's interface addresses, and
// the socket layer's error numbering.  BSD-shaped, but portable code never
// sees the system's records: addresses travel as opaque bytes with their
// length, and families, types, options, flags and events are this header's
// own.  Functions that can fail return 0 or the system's error number
// (interrupted calls return EINTR; callers decide whether to retry), and
// SocketErrorCode turns that number into the socket layer's numbering.
#ifndef VANTREL_PLATFORM_SOCKET_H
#define VANTREL_PLATFORM_SOCKET_H

#include <stddef.h>
#include <stdint.h>

// The C library's records of the network database (<netdb.h>).
struct servent;
struct hostent;

namespace vantrel::platform {

// ---- Sockets and addresses.

// A socket is the system's descriptor; this is none.
inline constexpr int kInvalidSocket = -1;

enum class AddressFamily { kUnspecified, kIpv4, kIpv6 };

// The system's number of the family (the library's interface hands the
// system's numbers to its callers), and the family of such a number
// (kUnspecified for any other).
int AddressFamilyNumber(AddressFamily family);
AddressFamily AddressFamilyOf(int number);

enum class SocketType { kStream, kDatagram };

// Room for any socket address the system has.
inline constexpr size_t kSocketAddressBytes = 128;

// A socket address in the system's form, and the bytes of it in use.
struct SocketAddress {
  alignas(8) unsigned char bytes[kSocketAddressBytes];
  uint32_t length;
};

// Builds the address of an IP endpoint: ip holds 4 (kIpv4) or 16 (kIpv6)
// bytes in network order, or is null for the any-address; port is in host
// order.  0, or EAFNOSUPPORT for kUnspecified.
int SocketAddressMake(AddressFamily family, const uint8_t *ip, uint16_t port,
                      SocketAddress *address);

// Takes an IP endpoint's address apart: its family, the 4 or 16 bytes of
// its IP (into ip, which has room for 16) and its port in host order.  0,
// EAFNOSUPPORT when it is no IP address, EINVAL when length is too short.
int SocketAddressParts(const void *address, uint32_t length,
                       AddressFamily *family, uint8_t *ip, uint16_t *port);

// Makes a socket (close-on-exec); protocol 0 picks the family's usual one.
int SocketOpen(AddressFamily family, SocketType type, int protocol, int *sock);

// Closes the socket (which is gone afterwards whatever the result).
int SocketClose(int sock);

int SocketBind(int sock, const void *address, uint32_t length);
int SocketListen(int sock, int backlog);

// Takes the next connection (close-on-exec) into *accepted.  When address
// is not null the peer's address is written there: *length gives its room
// on entry and the bytes used on return.
int SocketAccept(int sock, void *address, uint32_t *length, int *accepted);

// Connects; on a non-blocking socket EINPROGRESS means the connection goes
// on, and SocketOption::kError tells later how it ended.
int SocketConnect(int sock, const void *address, uint32_t length);

// Flags of a send or receive; combine with |.
enum SocketMessageFlag : uint32_t {
  kMessagePeek = 1u << 0,
  kMessageOutOfBand = 1u << 1,
  kMessageWaitAll = 1u << 2,
  kMessageDontWait = 1u << 3,
};

// Sends up to size bytes; *sent receives how many went.  A send never
// raises a signal when the peer has gone: it fails with EPIPE instead.
int SocketSend(int sock, const void *data, size_t size, uint32_t flags,
               size_t *sent);

// Receives up to size bytes; *received is 0 when the peer has closed.
int SocketReceive(int sock, void *buffer, size_t size, uint32_t flags,
                  size_t *received);

// The datagram forms, with the peer's address.  address may be null in
// SocketReceiveFrom; *length is as in SocketAccept.
int SocketSendTo(int sock, const void *data, size_t size, uint32_t flags,
                 const void *address, uint32_t length, size_t *sent);
int SocketReceiveFrom(int sock, void *buffer, size_t size, uint32_t flags,
                      void *address, uint32_t *length, size_t *received);

enum class ShutdownMode { kReceive, kSend, kBoth };
int SocketShutdown(int sock, ShutdownMode mode);

// Options with an int value.  kError reads (and clears) the socket's
// pending error number; kLinger is seconds, -1 when off; the timeouts are
// milliseconds, 0 without limit.
enum class SocketOption {
  kReuseAddress,
  kKeepAlive,
  kBroadcast,
  kError,
  kReceiveBuffer,
  kSendBuffer,
  kNoDelay,
  kIpv6Only,
  kLinger,
  kReceiveTimeout,
  kSendTimeout,
};
int SocketGetOption(int sock, SocketOption option, int *value);
int SocketSetOption(int sock, SocketOption option, int value);

// Options named by the system's own level and option numbers, for callers
// that hand those through: value has *length (or length) bytes.
int SocketGetOptionRaw(int sock, int level, int name, void *value,
                       uint32_t *length);
int SocketSetOptionRaw(int sock, int level, int name, const void *value,
                       uint32_t length);

// Switches the socket between non-blocking (on) and blocking.
int SocketSetNonBlocking(int sock, bool on);
// Whether the socket is non-blocking, into *on.
int SocketGetNonBlocking(int sock, bool *on);

// Bytes that can be received now without waiting.
int SocketBytesReadable(int sock, uint32_t *bytes);

// Readiness events; combine with |.  The last three are only reported.
enum PollEvent : int16_t {
  kPollIn = 0x1,        // data (or a connection, or the peer's close) waits
  kPollPriority = 0x2,  // out-of-band data waits
  kPollOut = 0x4,       // a send would not block
  kPollError = 0x8,
  kPollHangUp = 0x10,
  kPollInvalid = 0x20,  // the socket is not open
};

struct PollEntry {
  int32_t sock;     // ignored when negative
  int16_t events;   // asked for
  int16_t revents;  // found
};

// Waits until an entry is ready or `milliseconds` pass (negative: no limit;
// 0: look once).  Every entry's revents is set; *ready receives the number
// of entries with events found (0 after the time passed).
int SocketPoll(PollEntry *entries, size_t count, int milliseconds, int *ready);

// The socket's own address, and its peer's.
int SocketLocalAddress(int sock, SocketAddress *address);
int SocketPeerAddress(int sock, SocketAddress *address);

// ---- Host and service lookup.

enum ResolveFlag : uint32_t {
  kResolvePassive = 1u << 0,         // addresses to bind, not to connect to
  kResolveNumericHost = 1u << 1,     // host must be a numeric address
  kResolveNumericService = 1u << 2,  // service must be a port number
  kResolveCanonicalName = 1u << 3,   // the first entry names the host
  kResolveAddressConfig = 1u << 4,   // only families configured here
  kResolveV4Mapped = 1u << 5,        // IPv4 as mapped IPv6 when no IPv6
  kResolveAll = 1u << 6,             // with kResolveV4Mapped: both
};

struct ResolveHints {
  AddressFamily family;  // kUnspecified: any
  SocketType type;
  int protocol;  // 0: any
  uint32_t flags;
};

// The resolver's list of addresses; opaque, walked with the calls below.
struct AddressList;

struct AddressEntry {
  AddressFamily family;  // kUnspecified for one that is not IP
  SocketType type;
  int protocol;
  const void *address;  // valid until the list is freed
  uint32_t length;
  const char *canonicalName;  // or null
};

// The addresses of host (null: the local or any-address) and service (a
// name or a port number; may be null) through *list, which
// AddressListFree releases.  hints may be null.  0, or an error already in
// the socket layer's numbering (ResolverErrorCode).
int AddressResolve(const char *host, const char *service,
                   const ResolveHints *hints, AddressList **list);
void AddressListDescribe(const AddressList *node, AddressEntry *entry);
// The next entry, or null after the last.
const AddressList *AddressListNext(const AddressList *node);
void AddressListFree(AddressList *list);

enum NameFlag : uint32_t {
  kNameNumericHost = 1u << 0,
  kNameNumericService = 1u << 1,
  kNameRequired = 1u << 2,  // fail rather than give a numeric host
  kNameDatagram = 1u << 3,  // the service is a datagram one
  kNameNoDomain = 1u << 4,  // local hosts without their domain
};

// The host and service names of an address into the buffers (either may be
// null with size 0).  0, or an error in the socket layer's numbering.
int AddressName(const void *address, uint32_t length, char *host,
                size_t host_size, char *service, size_t service_size,
                uint32_t flags);

// ---- The network database: services and IPv4 hosts, as the C library's
// records (struct servent, struct hostent of <netdb.h>).  Each lookup
// writes the record into *record only when it finds one; the strings and
// lists the record points to are written into buffer (size bytes) and live
// as long as its contents.  0; ERANGE when buffer is too small (try a
// larger one); or the call's error number.  Not found: ENOENT for a
// service, and for a host the resolver's number in the socket layer's
// numbering (kResolveHostNotFound, kResolveTryAgain, kResolveNoRecovery,
// kResolveNoData).

// The service of that name (and protocol, when not null).
int ServiceByName(const char *name, const char *protocol,
                  struct ::servent *record, char *buffer, size_t size);
// The host of that name or dotted address.
int HostByName(const char *name, struct ::hostent *record, char *buffer,
               size_t size);
// The host of an address of `length` bytes in network order, of the
// system's address family `type`.
int HostByAddress(const void *address, uint32_t length, int type,
                  struct ::hostent *record, char *buffer, size_t size);

// ---- The machine's interface addresses.

enum InterfaceFlag : uint32_t {
  kInterfaceUp = 1u << 0,
  kInterfaceLoopback = 1u << 1,
  kAddressLinkLocal = 1u << 2,  // fe80::/10
  kAddressSiteLocal = 1u << 3,  // fec0::/10
};

struct InterfaceAddress {
  char name[16];  // the interface's, cut to 15 characters
  AddressFamily family;
  uint32_t flags;
  uint8_t ip[16];  // 4 or 16 bytes in network order
};

// The IP addresses of the machine's interfaces: the first `capacity` into
// entries (may be null when capacity is 0) and how many there are in all
// into *count.
int InterfaceAddresses(InterfaceAddress *entries, size_t capacity,
                       size_t *count);

// ---- Error numbering.

// The resolver's failures in the socket layer's numbering.
inline constexpr int kResolveHostNotFound = 11001;
inline constexpr int kResolveTryAgain = 11002;
inline constexpr int kResolveNoRecovery = 11003;
inline constexpr int kResolveNoData = 11004;

// The socket layer's number for an error number from a socket call (EINTR
// gives 10004, ECONNREFUSED 10061, ...); any other number is kept, so
// numbers already translated pass unchanged.
int SocketErrorCode(int error);

// The socket layer's number for a resolver result (an EAI_ value of the
// system's, with the error number that came with EAI_SYSTEM).
int ResolverErrorCode(int resolver_error, int system_error);

// ---- Local (file-system) sockets and gathered sends.

// Makes a local socket (close-on-exec), the kind the system's log daemons
// listen on.
int LocalSocketOpen(SocketType type, int *sock);

// The address of the local socket at `path`.  0, or ENAMETOOLONG when the
// path does not fit a socket address (EINVAL when it is empty).
int LocalSocketAddressMake(const char *path, SocketAddress *address);

// One piece of a gathered send.
struct SendPiece {
  const void *data;
  size_t size;
};

// Sends the pieces as one message (one datagram on a datagram socket) to
// address, or to the connected peer when address is null; *sent receives
// the bytes that went.  Never raises a signal (EPIPE instead).
int SocketSendPieces(int sock, const SendPiece *pieces, size_t count,
                     uint32_t flags, const void *address, uint32_t length,
                     size_t *sent);

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_SOCKET_H
