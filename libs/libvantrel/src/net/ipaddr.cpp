// The IP driver: loading its module, and the exported address functions,
// each of which hands its arguments to the driver's table unchanged.
#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

#include "net/module.h"
#include "net/socket_layer.h"
#include "vantrel/vlog.h"
#include "vantrel/vrc.h"
#include "vantrel/vsocket.h"

namespace vantrel::internal {
namespace {

static_assert(sizeof(VSocketIPDriver) == 19 * sizeof(void *),
              "the driver table is 19 pointer-sized entries");
static_assert(offsetof(VSocketIPDriver, setPort) == 18 * sizeof(void *));
static_assert(offsetof(VSocketIPAddrRecord, sockAddr) == sizeof(void *));
static_assert(offsetof(VSocketIPAddrRecord, sockAddrLength) ==
              2 * sizeof(void *));

constexpr char kDriverSubdir[] = "network";
constexpr char kPathSeparator = '/';
constexpr int kLogFacility = 1;

// Set once at start-up and only read afterwards.  The module is kept even
// when it yielded no table but refused to be released.  (Nothing reads the
// module back: it stays loaded for the life of the process.  Atomic, so
// that the store is kept and the record stays reachable.)
std::atomic<const VSocketIPDriver *> g_driver{nullptr};
std::atomic<VModule> g_driverModule{nullptr};

void LogDriverProblem(const char *format, const char *name) {
  VLog(VLOG_WARN, kLogFacility, nullptr, VLOG_SET_WARN, 0, format, name);
}

// From vt_home, and when the two homes are one, from kess_home's parent.
VRC LoadDriverModule(const char *name, const char *vt_home,
                     const char *kess_home, VModule *module) {
  VRC rc = VModuleLoadFromDir(vt_home, name, kDriverSubdir, module);
  if (rc == 0 || strcmp(vt_home, kess_home) != 0) return rc;
  char parent[kModulePathSize];
  int length =
      snprintf(parent, sizeof parent, "%s%c..", kess_home, kPathSeparator);
  if (length < 0 || static_cast<size_t>(length) >= sizeof parent) {
    return ENAMETOOLONG;
  }
  return VModuleLoadFromDir(parent, name, kDriverSubdir, module);
}

// Releases a module that gave no table; one that will not go is kept.
void DropModule(VModule module) {
  if (VModuleUnload(module) != 0) g_driverModule.store(module);
}

}  // namespace

void SocketLoadIPDriver(const char *name, const char *vt_home,
                        const char *kess_home) {
  VModule module = nullptr;
  VRC rc = LoadDriverModule(name, vt_home, kess_home, &module);
  if (rc != 0) {
    VLog(VLOG_WARN, kLogFacility, nullptr, VLOG_SET_WARN, 0,
         "Failed to load IP address network module '%s'. (%d:%s)", name,
         static_cast<int>(rc), VRCToString(rc));
    return;
  }
  auto entry = reinterpret_cast<VSocketIPDriverEntry>(
      VModuleSymbolGet(module, VSOCKET_IPDRV_ENTRY));
  if (entry == nullptr) {
    LogDriverProblem(
        "Failed to lookup access function in IP address network module '%s'.",
        name);
    DropModule(module);
    return;
  }
  const VSocketIPDriver *table = entry();
  if (table == nullptr) {
    LogDriverProblem(
        "Failed to successfully call access function in IP address network "
        "module '%s'.",
        name);
    DropModule(module);
    return;
  }
  g_driverModule.store(module);
  g_driver.store(table, std::memory_order_release);
}

const VSocketIPDriver *SocketIPDriver() {
  return g_driver.load(std::memory_order_acquire);
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

const char *VSocketIPDriverGetName(void) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->name() : "No Socket Address Library";
}

const char *VSocketIPDriverGetVersion(void) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->version() : "0.0";
}

int VSocketIPGetProtoFormat(void) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->protoFormat() : 2;
}

int VSocketIPIsIPAddress(const char *text) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->isIPAddress(text) : 0;
}

VRC VSocketIPAddrHdlCreate(const char *host, uint32_t flags,
                           VSocketIPAddrHdl *out) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->create(host, flags, out) : VRC_INTERNAL_ERROR;
}

VRC VSocketIPAddrHdlCreateViaSockAddr(const struct sockaddr *address,
                                      VSocketIPAddrHdl *out) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->createViaSockAddr(address, out) : VRC_INTERNAL_ERROR;
}

void VSocketIPAddrHdlDestroy(VSocketIPAddrHdl hdl) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  if (d != nullptr) d->destroy(hdl);
}

VRC VSocketIPAddrGetHostByName(const char *name, VSocketIPAddrHdl *out) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->hostByName(name, out) : VRC_INTERNAL_ERROR;
}

VRC VSocketIPAddrGetHostByAddr(const struct sockaddr *address,
                               VSocketIPAddrHdl *out) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->hostByAddr(address, out) : VRC_INTERNAL_ERROR;
}

VRC VSocketIPAddrGetSockName(VSocket s, VSocketIPAddrHdl *out) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->sockName(s, out) : VRC_INTERNAL_ERROR;
}

VRC VSocketIPAddrGetPeerName(VSocket s, VSocketIPAddrHdl *out) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->peerName(s, out) : VRC_INTERNAL_ERROR;
}

int VSocketIPAddrGetSockAddrType(VSocketIPAddrHdl hdl) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->sockAddrType(hdl) : 0;
}

int VSocketIPAddrGetAddrFormat(VSocketIPAddrHdl hdl) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->addrFormat(hdl) : 2;
}

VRC VSocketIPAddrGetName(VSocketIPAddrHdl hdl, char *name) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->getName(hdl, name) : VRC_INTERNAL_ERROR;
}

VRC VSocketIPAddrGetAddress(VSocketIPAddrHdl hdl, char *address) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->getAddress(hdl, address) : VRC_INTERNAL_ERROR;
}

const void *VSocketIPAddrGetRawAddress(VSocketIPAddrHdl hdl) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->rawAddress(hdl) : nullptr;
}

VRC VSocketIPAddrGetIPv4MapAddr(VSocketIPAddrHdl hdl, char *buffer,
                                size_t size) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->ipv4MapAddr(hdl, buffer, size) : VRC_INTERNAL_ERROR;
}

uint16_t VSocketIPAddrGetPort(VSocketIPAddrHdl hdl) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  return d != nullptr ? d->getPort(hdl) : 0;
}

void VSocketIPAddrSetPort(VSocketIPAddrHdl hdl, uint16_t port) {
  const VSocketIPDriver *d = vi::SocketIPDriver();
  if (d != nullptr) d->setPort(hdl, port);
}

const char *VSocketIPAddrSockAddrTypeToString(int type) {
  switch (type) {
    case VSOCKET_ADDR_TYPE_IPV4:
      return "IPv4";
    case VSOCKET_ADDR_TYPE_IPV4_MAPPED:
      return "IPv4 Mapped";
    case VSOCKET_ADDR_TYPE_IPV6:
      return "IPv6";
    default:
      return "Unknown";
  }
}
