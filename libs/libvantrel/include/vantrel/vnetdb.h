/* Host and service lookup: reentrant-style wrappers over the system's
 * network database (the services file and the hosts resolver), for code
 * written against the C library's ..._r functions, and the dotted-quad text
 * of an IPv4 address.  IPv4 only, and independent of the IP drivers of
 * vsocket.h.
 *
 * Each lookup copies the record it finds into the caller's record.  The
 * strings and lists the record points to live in storage the library keeps
 * for the calling thread: they stay valid until that thread's next lookup
 * here and are never freed by the caller.  The out buffer argument (may be
 * null) is always set to null; it is there for code that frees it.
 *
 * Codes: 0; ENOMEM (12) when the thread's storage cannot be made or grown;
 * ERANGE (34) for a record too large for it (1 MiB); EINVAL (22) for a null
 * name, address or record; for a host that is not found the resolver's
 * number in the socket layer's numbering (11001 host not found, 11002 try
 * again, 11003 no recovery, 11004 no address); VRC_FAILURE (-19) for a
 * service that is not found.  On failure the caller's record is left as it
 * was. */
#ifndef VANTREL_VNETDB_H
#define VANTREL_VNETDB_H

#include <netdb.h>

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* The service of that name and protocol ("tcp", "udp"; null: the first of
 * any protocol).  out->s_port is in network byte order. */
VANTREL_API VRC v_getservbyname_r(const char *name, const char *protocol,
                                  struct servent *out, char **buffer);

/* The IPv4 host of that name or dotted address (the hosts file first). */
VANTREL_API VRC v_gethostbyname_r(const char *name, struct hostent *out,
                                  char **buffer);

/* The host of an address: length bytes in network order of the system's
 * address family type (AF_INET with 4 bytes).  EINVAL for a negative
 * length. */
VANTREL_API VRC v_gethostbyaddr_r(const void *address, int length, int type,
                                  struct hostent *out, char **buffer);

/* The port of a service in host byte order ("ftp", "tcp" gives 21): 0, or
 * the code of v_getservbyname_r.  EINVAL for a null port. */
VANTREL_API VRC v_getservport(const char *name, const char *protocol,
                              uint32_t *port);

/* Writes the dotted-quad text of an IPv4 address given in network byte
 * order ("192.168.1.2") into buffer of size bytes: 0, or -1 (writing
 * nothing) for a size below 16 or a null buffer. */
VANTREL_API int v_inet_ntoa_r(uint32_t address, char *buffer, size_t size);

VANTREL_END_DECLS

#endif /* VANTREL_VNETDB_H */
