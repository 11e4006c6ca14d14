/* The IP driver modules "ipv4_r" and "ipv6_r": the record behind their
 * address handles and the code they share.
 *
 * Each module is a separate component that libvantrel loads at start-up:
 * it exports only VSOCKET_IPDRV_ENTRY and links only the C library.  Both
 * are built from ipdrv_common.c, which implements every entry of the
 * VSocketIPDriver table (vantrel/vsocket.h) for the driver's kind below;
 * each module's own file defines that kind.
 *
 * What the words the library passes through unchanged mean here:
 *   create(host, flags, out)        flags: 0 or VSOCKET_IPADDR_NUMERIC_HOST
 *   createViaSockAddr(address, out) a struct sockaddr_in or sockaddr_in6
 *                                   (by its family field), and the out
 *                                   handle
 *   hostByAddr(address, out)        the same, and the name is looked up
 *   getName(hdl, name)              a caller buffer of at least
 *                                   VSOCKET_IPADDR_NAME_SIZE bytes
 *   getAddress(hdl, address)        a caller buffer of at least
 *                                   VSOCKET_IPADDR_ADDRESS_SIZE bytes
 *   ipv4MapAddr(hdl, buffer, size)  a caller buffer and its size in bytes
 * Errors are in the socket layer's numbering, as the library's own. */
#ifndef VANTREL_VIPDRV_H
#define VANTREL_VIPDRV_H

#include <netinet/in.h>
#include <stddef.h>
#include <sys/socket.h>

#include "vantrel/vsocket.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A handle's record.  head.driverData points at the table of the driver
 * that made it (so a handle of another kind is refused), head.sockAddr at
 * storage and head.sockAddrLength is the full size of the family's
 * structure.  Everything is read from storage's family field, because an
 * accepted connection may write an address of either family into it. */
typedef struct VIPDrvAddr {
  VSocketIPAddrRecord head;
  struct sockaddr_storage storage;
  /* The host text the handle was made from or the name found for it; empty
   * when it has none (its numeric address stands in). */
  char name[VSOCKET_IPADDR_NAME_SIZE];
} VIPDrvAddr;

/* What sets the two drivers apart. */
typedef struct VIPDrvKind {
  int family;          /* AF_INET: IPv4 only; AF_INET6: IPv6 and IPv4 */
  const char *name;    /* the driver's name text */
  const char *version; /* its version text */
} VIPDrvKind;

/* Defined by each module's own file. */
extern const VIPDrvKind vipdrv_kind;

/* The table of the module, built over vipdrv_kind. */
const VSocketIPDriver *VIPDrvTable(void);

/* The socket layer's number of a system error number (EBADF 10009,
 * ENOTSOCK 10038, ...); other numbers pass unchanged. */
int VIPDrvSocketError(int error);
/* The socket layer's number of a getaddrinfo/getnameinfo result (EAI_NONAME
 * 11001, EAI_AGAIN 11002, ...). */
int VIPDrvResolverError(int result, int system_error);

#ifdef __cplusplus
}
#endif

#endif /* VANTREL_VIPDRV_H */
