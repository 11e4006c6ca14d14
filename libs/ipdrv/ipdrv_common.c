/* The address operations of both IP drivers, over the C library's
 * resolver and socket calls.  Every entry refuses a null or foreign handle
 * with the failure result of its kind (EINVAL, 0, null, or nothing). */
#define _GNU_SOURCE /* EAI_NODATA, EAI_ADDRFAMILY */
#include <arpa/inet.h>
#include <errno.h>
#include <netdb.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vipdrv.h"

/* Socket-layer numbers the drivers produce themselves. */
enum {
  kFamilyNotSupported = 10047, /* as EAFNOSUPPORT */
  kNameTooLong = 10063,        /* as ENAMETOOLONG */
  kNoRecovery = 11003,
  kNoData = 11004,
};

typedef struct ErrorRow {
  int error;
  int code;
} ErrorRow;

/* The same numbering as the library's socket calls use. */
static const ErrorRow kSocketErrors[] = {
#define VSOCKET_ERROR(error, code) {error, code},
#include "socket_errors.def"
#undef VSOCKET_ERROR
};

static const ErrorRow kResolverErrors[] = {
#define VRESOLVER_ERROR(error, code) {error, code},
#include "socket_errors.def"
#undef VRESOLVER_ERROR
};

#define COUNT_OF(a) (sizeof(a) / sizeof((a)[0]))

int VIPDrvSocketError(int error) {
  for (size_t i = 0; i < COUNT_OF(kSocketErrors); ++i) {
    if (kSocketErrors[i].error == error) return kSocketErrors[i].code;
  }
  return error;
}

int VIPDrvResolverError(int result, int system_error) {
  if (result == 0) return 0;
  if (result == EAI_SYSTEM && system_error != 0) {
    return VIPDrvSocketError(system_error);
  }
  for (size_t i = 0; i < COUNT_OF(kResolverErrors); ++i) {
    if (kResolverErrors[i].error == result) return kResolverErrors[i].code;
  }
  return kNoRecovery;
}

/* ---- Families and records. */

static int Handles(int family) {
  return family == AF_INET ||
         (family == AF_INET6 && vipdrv_kind.family == AF_INET6);
}

static socklen_t FamilyLength(int family) {
  if (family == AF_INET) return sizeof(struct sockaddr_in);
  if (family == AF_INET6) return sizeof(struct sockaddr_in6);
  return 0;
}

static struct sockaddr_in *In4(VIPDrvAddr *a) {
  return (struct sockaddr_in *)&a->storage;
}

static struct sockaddr_in6 *In6(VIPDrvAddr *a) {
  return (struct sockaddr_in6 *)&a->storage;
}

static int FamilyOf(const VIPDrvAddr *a) { return a->storage.ss_family; }

/* The record behind a handle of this driver, or null. */
static VIPDrvAddr *Of(VSocketIPAddrHdl hdl) {
  if (hdl == NULL || hdl->driverData != (void *)VIPDrvTable()) return NULL;
  return (VIPDrvAddr *)hdl;
}

/* A zeroed record (the any-address of every family, port 0). */
static VIPDrvAddr *NewAddr(void) {
  VIPDrvAddr *a = calloc(1, sizeof *a);
  if (a == NULL) return NULL;
  a->head.driverData = (void *)VIPDrvTable();
  a->head.sockAddr = &a->storage;
  return a;
}

static void SetFamily(VIPDrvAddr *a, int family) {
  a->storage.ss_family = (sa_family_t)family;
  a->head.sockAddrLength = (int32_t)FamilyLength(family);
}

/* Hands a finished record to the caller, or releases it after a failure. */
static VRC Deliver(VIPDrvAddr *a, VRC rc, VSocketIPAddrHdl *out) {
  if (rc != 0) {
    free(a);
    return rc;
  }
  *out = &a->head;
  return 0;
}

/* ---- Building addresses. */

/* The dotted IPv4 or (for the IPv6 driver) plain IPv6 text, without a
 * lookup: 1 when host is one. */
static int ParseNumeric(VIPDrvAddr *a, const char *host) {
  if (inet_pton(AF_INET, host, &In4(a)->sin_addr) == 1) {
    SetFamily(a, AF_INET);
    return 1;
  }
  if (vipdrv_kind.family == AF_INET6 &&
      inet_pton(AF_INET6, host, &In6(a)->sin6_addr) == 1) {
    SetFamily(a, AF_INET6);
    return 1;
  }
  memset(&a->storage, 0, sizeof a->storage);
  return 0;
}

/* The first stream address the resolver gives for host. */
static VRC Lookup(VIPDrvAddr *a, const char *host, int numeric) {
  struct addrinfo hints;
  memset(&hints, 0, sizeof hints);
  hints.ai_family = vipdrv_kind.family == AF_INET ? AF_INET : AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = numeric ? AI_NUMERICHOST : 0;
  struct addrinfo *list = NULL;
  int result = getaddrinfo(host, NULL, &hints, &list);
  if (result != 0) return VIPDrvResolverError(result, errno);
  VRC rc = kNoData;
  for (const struct addrinfo *e = list; e != NULL; e = e->ai_next) {
    if (Handles(e->ai_family) && e->ai_addrlen == FamilyLength(e->ai_family)) {
      memcpy(&a->storage, e->ai_addr, e->ai_addrlen);
      SetFamily(a, e->ai_family);
      rc = 0;
      break;
    }
  }
  freeaddrinfo(list);
  return rc;
}

static VRC Resolve(VIPDrvAddr *a, const char *host, int numeric) {
  size_t length = strnlen(host, sizeof a->name);
  if (length == sizeof a->name) return kNameTooLong;
  /* The resolver would turn an IPv4-mapped text into its IPv4 address;
   * the IPv4 driver takes no IPv6 text at all. */
  if (vipdrv_kind.family == AF_INET && strchr(host, ':') != NULL) {
    return kNoData;
  }
  if (!ParseNumeric(a, host)) {
    VRC rc = Lookup(a, host, numeric);
    if (rc != 0) return rc;
  }
  memcpy(a->name, host, length + 1);
  return 0;
}

static VRC CopySockAddr(VIPDrvAddr *a, const struct sockaddr *address) {
  if (!Handles(address->sa_family)) return kFamilyNotSupported;
  memcpy(&a->storage, address, FamilyLength(address->sa_family));
  SetFamily(a, address->sa_family);
  return 0;
}

/* ---- Texts. */

/* The numeric text of the address, with its scope when it has one. */
static VRC NumericText(VIPDrvAddr *a, char *text, size_t size) {
  int family = FamilyOf(a);
  if (family == AF_INET6 && In6(a)->sin6_scope_id != 0) {
    int result =
        getnameinfo((struct sockaddr *)&a->storage, sizeof(struct sockaddr_in6),
                    text, (socklen_t)size, NULL, 0, NI_NUMERICHOST);
    return VIPDrvResolverError(result, errno);
  }
  const void *raw = family == AF_INET    ? (const void *)&In4(a)->sin_addr
                    : family == AF_INET6 ? (const void *)&In6(a)->sin6_addr
                                         : NULL;
  if (raw == NULL) return kFamilyNotSupported;
  if (inet_ntop(family, raw, text, (socklen_t)size) == NULL) {
    return VIPDrvSocketError(errno);
  }
  return 0;
}

/* ---- The table's entries. */

static const char *Name(void) { return vipdrv_kind.name; }

static const char *Version(void) { return vipdrv_kind.version; }

static VRC Create(const char *host, uint32_t flags, VSocketIPAddrHdl *out) {
  if (out == NULL || (flags & ~VSOCKET_IPADDR_NUMERIC_HOST) != 0) return EINVAL;
  VIPDrvAddr *a = NewAddr();
  if (a == NULL) return ENOMEM;
  if (host == NULL) {
    SetFamily(a, vipdrv_kind.family);
    return Deliver(a, 0, out);
  }
  return Deliver(a, Resolve(a, host, flags & VSOCKET_IPADDR_NUMERIC_HOST), out);
}

static VRC CreateViaSockAddr(const struct sockaddr *address,
                             VSocketIPAddrHdl *out) {
  if (address == NULL || out == NULL) return EINVAL;
  VIPDrvAddr *a = NewAddr();
  if (a == NULL) return ENOMEM;
  return Deliver(a, CopySockAddr(a, address), out);
}

static void Destroy(VSocketIPAddrHdl hdl) {
  VIPDrvAddr *a = Of(hdl);
  if (a != NULL) free(a);
}

static VRC HostByName(const char *name, VSocketIPAddrHdl *out) {
  if (name == NULL) return EINVAL;
  return Create(name, 0, out);
}

static VRC HostByAddr(const struct sockaddr *address, VSocketIPAddrHdl *out) {
  if (address == NULL || out == NULL) return EINVAL;
  VIPDrvAddr *a = NewAddr();
  if (a == NULL) return ENOMEM;
  VRC rc = CopySockAddr(a, address);
  if (rc == 0) {
    int result = getnameinfo((struct sockaddr *)&a->storage,
                             (socklen_t)a->head.sockAddrLength, a->name,
                             sizeof a->name, NULL, 0, NI_NAMEREQD);
    rc = VIPDrvResolverError(result, errno);
  }
  return Deliver(a, rc, out);
}

typedef int (*NameCall)(int, struct sockaddr *, socklen_t *);

static VRC EndpointName(NameCall call, VSocket s, VSocketIPAddrHdl *out) {
  if (out == NULL) return EINVAL;
  VIPDrvAddr *a = NewAddr();
  if (a == NULL) return ENOMEM;
  socklen_t length = sizeof a->storage;
  VRC rc = 0;
  if (call(s, (struct sockaddr *)&a->storage, &length) != 0) {
    rc = VIPDrvSocketError(errno);
  } else if (!Handles(a->storage.ss_family)) {
    rc = kFamilyNotSupported;
  } else {
    SetFamily(a, a->storage.ss_family);
  }
  return Deliver(a, rc, out);
}

static VRC SockName(VSocket s, VSocketIPAddrHdl *out) {
  return EndpointName(getsockname, s, out);
}

static VRC PeerName(VSocket s, VSocketIPAddrHdl *out) {
  return EndpointName(getpeername, s, out);
}

static int ProtoFormat(void) { return vipdrv_kind.family; }

static int IsIPAddress(const char *text) {
  if (text == NULL) return 0;
  VIPDrvAddr scratch;
  memset(&scratch, 0, sizeof scratch);
  return Resolve(&scratch, text, 1) == 0;
}

static int SockAddrType(VSocketIPAddrHdl hdl) {
  VIPDrvAddr *a = Of(hdl);
  if (a == NULL) return 0;
  if (FamilyOf(a) == AF_INET) return VSOCKET_ADDR_TYPE_IPV4;
  if (FamilyOf(a) != AF_INET6) return 0;
  return IN6_IS_ADDR_V4MAPPED(&In6(a)->sin6_addr)
             ? VSOCKET_ADDR_TYPE_IPV4_MAPPED
             : VSOCKET_ADDR_TYPE_IPV6;
}

static int AddrFormat(VSocketIPAddrHdl hdl) {
  VIPDrvAddr *a = Of(hdl);
  return a != NULL && FamilyLength(FamilyOf(a)) != 0 ? FamilyOf(a) : 0;
}

static VRC GetName(VSocketIPAddrHdl hdl, char *name) {
  VIPDrvAddr *a = Of(hdl);
  if (a == NULL || name == NULL) return EINVAL;
  if (a->name[0] == '\0') return NumericText(a, name, VSOCKET_IPADDR_NAME_SIZE);
  memcpy(name, a->name, strlen(a->name) + 1);
  return 0;
}

static VRC GetAddress(VSocketIPAddrHdl hdl, char *address) {
  VIPDrvAddr *a = Of(hdl);
  if (a == NULL || address == NULL) return EINVAL;
  return NumericText(a, address, VSOCKET_IPADDR_ADDRESS_SIZE);
}

static const void *RawAddress(VSocketIPAddrHdl hdl) {
  VIPDrvAddr *a = Of(hdl);
  if (a == NULL) return NULL;
  if (FamilyOf(a) == AF_INET) return &In4(a)->sin_addr;
  if (FamilyOf(a) == AF_INET6) return &In6(a)->sin6_addr;
  return NULL;
}

static VRC IPv4MapAddr(VSocketIPAddrHdl hdl, char *buffer, size_t size) {
  VIPDrvAddr *a = Of(hdl);
  if (a == NULL || buffer == NULL) return EINVAL;
  char text[VSOCKET_IPADDR_ADDRESS_SIZE];
  if (FamilyOf(a) == AF_INET) {
    char v4[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &In4(a)->sin_addr, v4, sizeof v4);
    snprintf(text, sizeof text, "::ffff:%s", v4);
  } else if (FamilyOf(a) == AF_INET6 &&
             IN6_IS_ADDR_V4MAPPED(&In6(a)->sin6_addr)) {
    inet_ntop(AF_INET6, &In6(a)->sin6_addr, text, sizeof text);
  } else {
    return kFamilyNotSupported;
  }
  size_t length = strlen(text);
  if (length >= size) return ENOSPC;
  memcpy(buffer, text, length + 1);
  return 0;
}

static uint16_t GetPort(VSocketIPAddrHdl hdl) {
  VIPDrvAddr *a = Of(hdl);
  if (a == NULL) return 0;
  if (FamilyOf(a) == AF_INET) return ntohs(In4(a)->sin_port);
  if (FamilyOf(a) == AF_INET6) return ntohs(In6(a)->sin6_port);
  return 0;
}

static void SetPort(VSocketIPAddrHdl hdl, uint16_t port) {
  VIPDrvAddr *a = Of(hdl);
  if (a == NULL) return;
  if (FamilyOf(a) == AF_INET) In4(a)->sin_port = htons(port);
  if (FamilyOf(a) == AF_INET6) In6(a)->sin6_port = htons(port);
}

static const VSocketIPDriver kTable = {
    .name = Name,
    .version = Version,
    .create = Create,
    .createViaSockAddr = CreateViaSockAddr,
    .destroy = Destroy,
    .hostByName = HostByName,
    .hostByAddr = HostByAddr,
    .sockName = SockName,
    .peerName = PeerName,
    .protoFormat = ProtoFormat,
    .isIPAddress = IsIPAddress,
    .sockAddrType = SockAddrType,
    .addrFormat = AddrFormat,
    .getName = GetName,
    .getAddress = GetAddress,
    .rawAddress = RawAddress,
    .ipv4MapAddr = IPv4MapAddr,
    .getPort = GetPort,
    .setPort = SetPort,
};

const VSocketIPDriver *VIPDrvTable(void) { return &kTable; }

/* The module's one exported name. */
__attribute__((visibility("default"))) const VSocketIPDriver *_VSockIpDrvDefGet(
    void);

const VSocketIPDriver *_VSockIpDrvDefGet(void) { return &kTable; }
