/* Sockets and IP addresses.
 *
 * Everything that depends on the IP version lives in an IP driver: a module
 * file loaded by VInitialise ("ipv4_r.so" or "ipv6_r.so" below
 * <VTHOME>/platform/<platform>/module/network/) that hands the library a
 * table of address operations, VSocketIPDriver.  The VSocketIPAddr...
 * functions pass their arguments to the loaded driver unchanged and return
 * its result.  When no driver could be loaded (start-up logs why), each
 * returns the value its comment gives "without a driver" and calls nothing.
 *
 * Driver choice: "ipv6_r" when IPv6 is usable here (an IPv6 socket can be
 * made and an interface has an IPv6 address that is neither link-local nor
 * site-local), else "ipv4_r".
 *
 * Environment (read once by VInitialise; unset: the default in brackets):
 *   VDE_SOCKET_IPDRV_NAME  name of the driver module to load instead of
 *       "ipv6_r"; consulted only when IPv6 is usable ["ipv6_r"].
 *
 * Codes: 0 on success; C-library error numbers (ENOMEM (12), EINVAL (22));
 * socket-layer numbers (10000 and above: 10047 address family not
 * supported, 11001 host not found, 11002 try again, 11004 no data);
 * VRC_INTERNAL_ERROR (-16) from every address operation without a driver. */
#ifndef VANTREL_VSOCKET_H
#define VANTREL_VSOCKET_H

#include <stdarg.h>

#include "vantrel/vbase.h"
#include "vantrel/vlist.h"

/* Lets the compiler warn about an argument list without its closing null. */
#ifndef VANTREL_SENTINEL
#if defined(__GNUC__) && __GNUC__ >= 4
#define VANTREL_SENTINEL __attribute__((sentinel))
#else
#define VANTREL_SENTINEL
#endif
#endif

VANTREL_BEGIN_DECLS

/* The system's socket address structure; the drivers fill and read it. */
struct sockaddr;

/* A socket: the system's descriptor.  VSOCKET_INVALID is none. */
typedef int VSocket;
#define VSOCKET_INVALID (-1)

/* An IP address with a port, made and owned by the driver and released
 * with VSocketIPAddrHdlDestroy.  Every driver's record starts with these
 * fields, the only ones the library reads; the rest is the driver's. */
typedef struct VSocketIPAddrRecord {
  void *driverData; /* the driver's own field */
  /* The address in the system's form (a struct sockaddr of the handle's
   * family), writable. */
  void *sockAddr;
  /* Bytes of *sockAddr: the full size of its family's structure, so that an
   * accepted peer's address fits in a handle made for the any-address. */
  int32_t sockAddrLength;
} VSocketIPAddrRecord;
typedef VSocketIPAddrRecord *VSocketIPAddrHdl;

/* VSocketIPAddrGetSockAddrType results. */
#define VSOCKET_ADDR_TYPE_IPV4 1
#define VSOCKET_ADDR_TYPE_IPV4_MAPPED 2 /* an IPv4 address as IPv6 */
#define VSOCKET_ADDR_TYPE_IPV6 3

/* Flags of VSocketIPAddrHdlCreate: the host must be a numeric address; no
 * name is looked up (11001 for a name). */
#define VSOCKET_IPADDR_NUMERIC_HOST 1u

/* Room VSocketIPAddrGetName needs: a host name of up to 255 characters. */
#define VSOCKET_IPADDR_NAME_SIZE 256
/* Room VSocketIPAddrGetAddress needs: the longest numeric IPv6 text with a
 * scope ("ffff:...%interface"). */
#define VSOCKET_IPADDR_ADDRESS_SIZE 64

/* ---- Driver information. */

/* The loaded driver's name ("IPv4 Socket Address Library", "IPv6 Socket
 * Address Library"); without a driver "No Socket Address Library".
 * Constant; never freed. */
VANTREL_API const char *VSocketIPDriverGetName(void);
/* The loaded driver's version text; without a driver "0.0". */
VANTREL_API const char *VSocketIPDriverGetVersion(void);

/* The address family of the driver's sockets (AF_INET for "ipv4_r",
 * AF_INET6 for "ipv6_r"); without a driver 2 (AF_INET). */
VANTREL_API int VSocketIPGetProtoFormat(void);
/* Non-zero when text is a numeric address the driver accepts (dotted IPv4;
 * "ipv6_r" also IPv6), 0 otherwise and for null; without a driver 0. */
VANTREL_API int VSocketIPIsIPAddress(const char *text);

/* ---- Address handles.  Every function returning a handle through out
 * stores it only on success; the caller releases it. */

/* A handle for host: a numeric address or a name to look up (the first
 * address found, port 0).  A null host gives the driver's any-address
 * (0.0.0.0 or ::), which also serves to receive an accepted peer's
 * address.  flags: 0 or VSOCKET_IPADDR_NUMERIC_HOST; other bits give
 * EINVAL.  0; EINVAL for a null out; ENOMEM; the lookup's code (11001 for
 * an unknown host); without a driver VRC_INTERNAL_ERROR (-16). */
VANTREL_API VRC VSocketIPAddrHdlCreate(const char *host, uint32_t flags,
                                       VSocketIPAddrHdl *out);
/* A handle holding a copy of the socket address (struct sockaddr_in or
 * sockaddr_in6, told apart by its family field), without a name.  0;
 * EINVAL for a null argument; 10047 for a family the driver does not
 * handle; ENOMEM; without a driver -16. */
VANTREL_API VRC VSocketIPAddrHdlCreateViaSockAddr(
    const struct sockaddr *address, VSocketIPAddrHdl *out);
/* Releases the handle; null does nothing; without a driver nothing
 * happens. */
VANTREL_API void VSocketIPAddrHdlDestroy(VSocketIPAddrHdl hdl);

/* Looks up a host name or takes a numeric address, as
 * VSocketIPAddrHdlCreate(name, 0, out) but a null name is refused (EINVAL).
 * Without a driver -16. */
VANTREL_API VRC VSocketIPAddrGetHostByName(const char *name,
                                           VSocketIPAddrHdl *out);
/* The reverse lookup: a handle for the socket address (as
 * VSocketIPAddrHdlCreateViaSockAddr) whose name is the host name found for
 * it.  The lookup's code (11001) when the address has no name.  Without a
 * driver -16. */
VANTREL_API VRC VSocketIPAddrGetHostByAddr(const struct sockaddr *address,
                                           VSocketIPAddrHdl *out);
/* The local (peer) address of a socket.  0, or the system's error in the
 * socket layer's numbering (10009 for a closed descriptor, 10038 for one
 * that is no socket, 10057 for an unconnected one).  Without a driver -16. */
VANTREL_API VRC VSocketIPAddrGetSockName(VSocket s, VSocketIPAddrHdl *out);
VANTREL_API VRC VSocketIPAddrGetPeerName(VSocket s, VSocketIPAddrHdl *out);

/* ---- Reading and changing a handle. */

/* VSOCKET_ADDR_TYPE_IPV4, _IPV4_MAPPED or _IPV6; 0 for null; without a
 * driver 0. */
VANTREL_API int VSocketIPAddrGetSockAddrType(VSocketIPAddrHdl hdl);
/* The family to make a socket for the handle with (AF_INET or AF_INET6); 0
 * for null; without a driver 2. */
VANTREL_API int VSocketIPAddrGetAddrFormat(VSocketIPAddrHdl hdl);
/* Copies the handle's host name into name, which has room for
 * VSOCKET_IPADDR_NAME_SIZE bytes: the host text it was made from or the
 * name found for it, else its numeric address.  0; EINVAL for a null
 * argument.  Without a driver -16. */
VANTREL_API VRC VSocketIPAddrGetName(VSocketIPAddrHdl hdl, char *name);
/* Copies the numeric address text ("127.0.0.1", "::1") into address,
 * which has room for VSOCKET_IPADDR_ADDRESS_SIZE bytes.  0; EINVAL for a
 * null argument.  Without a driver -16. */
VANTREL_API VRC VSocketIPAddrGetAddress(VSocketIPAddrHdl hdl, char *address);
/* The address bytes inside the handle, in network order: 4 for an IPv4
 * handle, 16 for an IPv6 one (see VSocketIPAddrGetSockAddrType).  Valid
 * while the handle lives.  Null for null; without a driver null. */
VANTREL_API const void *VSocketIPAddrGetRawAddress(VSocketIPAddrHdl hdl);
/* Writes the IPv4-mapped IPv6 text of the handle's IPv4 address
 * ("::ffff:127.0.0.1") into buffer of size bytes; an IPv4-mapped handle
 * gives its own address.  0; EINVAL for a null argument; 10047 for an IPv6
 * address that has no IPv4 form; ENOSPC (28) when size is too small.
 * Without a driver -16. */
VANTREL_API VRC VSocketIPAddrGetIPv4MapAddr(VSocketIPAddrHdl hdl, char *buffer,
                                            size_t size);
/* The handle's port in host byte order; 0 for null; without a driver 0. */
VANTREL_API uint16_t VSocketIPAddrGetPort(VSocketIPAddrHdl hdl);
/* Sets the handle's port (host byte order); null, or no driver: nothing
 * happens. */
VANTREL_API void VSocketIPAddrSetPort(VSocketIPAddrHdl hdl, uint16_t port);

/* "IPv4" (1), "IPv4 Mapped" (2), "IPv6" (3), "Unknown" for any other
 * value.  Constant; needs no driver. */
VANTREL_API const char *VSocketIPAddrSockAddrTypeToString(int type);

/* ---- The driver interface: what a driver module provides.
 *
 * A driver module exports VSOCKET_IPDRV_ENTRY, a VSocketIPDriverEntry that
 * returns its table (or null when it cannot work).  The table and every
 * handle it makes stay valid while the module is loaded.  Each entry has
 * the contract of the exported function of the same role above. */

/* The name of a driver module's entry function. */
#define VSOCKET_IPDRV_ENTRY "_VSockIpDrvDefGet"

/* A driver's table of address operations. */
typedef struct VSocketIPDriver {
  const char *(*name)(void);    /* VSocketIPDriverGetName */
  const char *(*version)(void); /* VSocketIPDriverGetVersion */
  /* VSocketIPAddrHdlCreate */
  VRC (*create)(const char *host, uint32_t flags, VSocketIPAddrHdl *out);
  /* VSocketIPAddrHdlCreateViaSockAddr */
  VRC (*createViaSockAddr)
  (const struct sockaddr *address, VSocketIPAddrHdl *out);
  void (*destroy)(VSocketIPAddrHdl hdl); /* VSocketIPAddrHdlDestroy */
  /* VSocketIPAddrGetHostByName */
  VRC (*hostByName)(const char *name, VSocketIPAddrHdl *out);
  /* VSocketIPAddrGetHostByAddr */
  VRC (*hostByAddr)(const struct sockaddr *address, VSocketIPAddrHdl *out);
  VRC (*sockName)(VSocket s, VSocketIPAddrHdl *out); /* ...GetSockName */
  VRC (*peerName)(VSocket s, VSocketIPAddrHdl *out); /* ...GetPeerName */
  int (*protoFormat)(void);                  /* VSocketIPGetProtoFormat */
  int (*isIPAddress)(const char *text);      /* VSocketIPIsIPAddress */
  int (*sockAddrType)(VSocketIPAddrHdl hdl); /* ...GetSockAddrType */
  int (*addrFormat)(VSocketIPAddrHdl hdl);   /* ...GetAddrFormat */
  VRC (*getName)(VSocketIPAddrHdl hdl, char *name); /* ...GetName */
  /* VSocketIPAddrGetAddress */
  VRC (*getAddress)(VSocketIPAddrHdl hdl, char *address);
  const void *(*rawAddress)(VSocketIPAddrHdl hdl); /* ...GetRawAddress */
  /* VSocketIPAddrGetIPv4MapAddr */
  VRC (*ipv4MapAddr)(VSocketIPAddrHdl hdl, char *buffer, size_t size);
  uint16_t (*getPort)(VSocketIPAddrHdl hdl);            /* ...GetPort */
  void (*setPort)(VSocketIPAddrHdl hdl, uint16_t port); /* ...SetPort */
} VSocketIPDriver;

/* The shape of a driver module's entry function. */
typedef const VSocketIPDriver *(*VSocketIPDriverEntry)(void);

/* ---- Socket operations.
 *
 * TCP stream sockets that never show the IP version: every address is made,
 * read and released through the driver.  Codes: 0; the socket layer's
 * numbers of the system's errors (10004 interrupted, 10009 no open socket,
 * 10035 would block, 10038 not a socket, 10048 address in use, 10054 reset
 * by the peer, 10058 sent after the peer went, 10061 refused, ...); the
 * driver's codes (11001 unknown host; VRC_INTERNAL_ERROR (-16) without a
 * driver); VRC_TIMEOUT (-18); VRC_FAILURE (-19); VRC_CONNECTION_CLOSED
 * (-27); ENOMEM (12); EINVAL (22).  No operation writes a log line or an
 * exception record.
 *
 * An operation that hands a socket out through out stores VSOCKET_INVALID
 * there first and the socket only on success; a failed operation leaves no
 * descriptor of its own open.  Sends never raise SIGPIPE: writing to a
 * connection the peer has closed returns 10058 or 10054.
 *
 * Supplemental mode (on hosts whose IPv6 sockets cannot also serve IPv4):
 * a listener for the IPv6 any-address gets an IPv4 partner on the same
 * port, which VSocketAccept, VSocketWait, VSocketEntryListCreate and
 * VSocketClose take into account, so callers still see one socket. */

/* The backlog of every listening socket. */
#define VSOCKET_LISTEN_BACKLOG 5
/* The most distinct sockets one wait watches; further ones are left out. */
#define VSOCKET_WAIT_MAX 512

/* An entry of a wait list: a VList (vlist.h) of these, made by
 * VSocketEntryListCreate. */
typedef struct VSocketEntry {
  VSocket socket; /* the socket to watch */
  /* 1 when the last VSocketWaitMultiple found the socket readable, else 0. */
  int32_t ready;
} VSocketEntry;

/* A listening socket (backlog VSOCKET_LISTEN_BACKLOG, SO_REUSEADDR on) bound
 * to host -- a numeric address or a name; null for the any-address, where
 * an IPv6 socket also takes IPv4 connections -- and port (host byte order;
 * 0 lets the system choose).  EINVAL for a null out. */
VANTREL_API VRC VSocketListen(const char *host, uint16_t port, VSocket *out);
/* VSocketListen on a port the system chooses, reported through *port (never
 * 0).  EINVAL for a null port or out. */
VANTREL_API VRC VSocketListenAnyPort(const char *host, uint16_t *port,
                                     VSocket *out);
/* A blocking socket connected to host (a name, looked up, or a numeric
 * address) at port.  10061 when nothing listens there.  EINVAL for a null
 * host or out. */
VANTREL_API VRC VSocketConnect(const char *host, uint16_t port, VSocket *out);
/* VSocketConnect that gives up after `seconds` (measured on the monotonic
 * clock) with VRC_TIMEOUT; 0 or a negative number waits until the system
 * gives up.  The connected socket is blocking. */
VANTREL_API VRC VSocketConnectWithTimeout(const char *host, uint16_t port,
                                          int32_t seconds, VSocket *out);
/* The next connection on a listening socket; waits for one unless the
 * listener is non-blocking (10035 then when none waits).  In supplemental
 * mode a connection waiting on the IPv4 partner is taken first, and the
 * wait is for a connection on either socket.  The peer's
 * address is read with VSocketIPAddrGetPeerName.  VRC_FAILURE when the wait
 * was interrupted ten times in a row; EINVAL for a null out. */
VANTREL_API VRC VSocketAccept(VSocket listener, VSocket *out);
/* Stops sending and receiving on a connected socket (the peer reads the end
 * of the stream).  Always 0. */
VANTREL_API VRC VSocketShutdown(VSocket s);
/* Closes the socket, and in supplemental mode its IPv4 partner.  Always 0,
 * also for a socket that is not open. */
VANTREL_API VRC VSocketClose(VSocket s);

/* Sends all length bytes of buffer, resuming after partial and interrupted
 * sends.  VRC_CONNECTION_CLOSED when the system takes nothing, which is
 * always the case for a length of 0.  EINVAL for a null buffer or a
 * negative length. */
VANTREL_API VRC VSocketSend(VSocket s, const void *buffer, int32_t length);
/* Gathers the pieces of args -- pairs of a const void * and an int length,
 * ended by a null pointer -- into one buffer and sends it with one
 * VSocketSend.  ENOMEM; EINVAL for a negative length or a total above
 * INT32_MAX (nothing is sent). */
VANTREL_API VRC VSocketSendAP(VSocket s, va_list args);
/* VSocketSendAP with the pairs as arguments:
 *   VSocketSendVa(s, head, 16, body, 1000, (void *)0); */
VANTREL_API VRC VSocketSendVa(VSocket s, ...) VANTREL_SENTINEL;
/* Receives exactly length bytes into buffer, waiting for the rest as it
 * comes.  VRC_CONNECTION_CLOSED when the peer closes first (what came
 * before is in buffer), and at once for a length of 0.  EINVAL for a null
 * buffer or a negative length. */
VANTREL_API VRC VSocketRecv(VSocket s, void *buffer, int32_t length);
/* The bytes that can be received now without waiting, into *count.  EINVAL
 * for a null count. */
VANTREL_API VRC VSocketGetNRecv(VSocket s, uint32_t *count);

/* getsockopt of an int option, with the system's level and name
 * (SOL_SOCKET, SO_RCVBUF, ...): 0, or -1 on any failure (not an error
 * number).  *value receives the option, 0 when the call failed; a null
 * value gives -1. */
VANTREL_API int VSocketGetOptInt(VSocket s, int level, int name, int *value);
/* setsockopt of an int option: 0, or -1 on failure. */
VANTREL_API int VSocketSetOptInt(VSocket s, int level, int name, int value);
/* A non-zero flag makes the socket non-blocking, 0 blocking again. */
VANTREL_API VRC VSocketSetBlockingState(VSocket s, int nonblocking);

/* Waits until the socket (or in supplemental mode its partner) is readable:
 * data, a connection to accept, or the peer's end of the stream or an
 * error waits.  milliseconds: negative waits without limit, 0 looks once.
 * VRC_TIMEOUT when the time passed; 10009 for a socket that is not open. */
VANTREL_API VRC VSocketWait(VSocket s, int32_t milliseconds);
/* Waits until at least one entry of list (VSocketEntry items) is readable,
 * as VSocketWait, and sets every entry's ready flag (an entry is also ready
 * when its supplemental partner is).  At most VSOCKET_WAIT_MAX distinct
 * sockets are watched; a socket listed twice is watched once.  EINVAL for a
 * null or empty list; 10009 when an entry's socket is not open; an
 * interrupted wait returns 10004. */
VANTREL_API VRC VSocketWaitMultiple(VList *list, int32_t milliseconds);
/* A new wait list with an entry for each socket argument up to the first 0
 * (so descriptor 0 cannot be listed), each followed in supplemental mode by
 * an entry for its partner.  Null when memory runs out.  Release it with
 * VListDestroyWith(list, visitor, arg, free) where the visitor releases
 * each entry with VListFree. */
VANTREL_API VList *VSocketEntryListCreate(VSocket s, ...);

VANTREL_END_DECLS

#endif /* VANTREL_VSOCKET_H */
