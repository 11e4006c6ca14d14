// Start-up of the socket layer: whether IPv6 is usable here, whether
// listeners need an IPv4 partner, and which IP driver to load.
#include <errno.h>
#include <string.h>

#include <atomic>

#include "internal/alloc.h"
#include "internal/scope.h"  // HeapPtr
#include "net/socket_layer.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "vantrel/venv.h"
#include "vantrel/vlog.h"
#include "vantrel/vrc.h"

namespace vantrel::internal {
namespace {

namespace vp = vantrel::platform;

constexpr char kIpv4Driver[] = "ipv4_r";
constexpr char kIpv6Driver[] = "ipv6_r";
constexpr char kDriverVariable[] = "VDE_SOCKET_IPDRV_NAME";
constexpr char kBindV6OnlyPath[] = "/proc/sys/net/ipv6/bindv6only";
constexpr int kLogFacility = 1;
// First guess at the length of the interface list; a longer one is read
// again into a buffer of its size.
constexpr size_t kInterfaceGuess = 32;

std::atomic<bool> g_started{false};
std::atomic<bool> g_ipv6Usable{false};
std::atomic<bool> g_forceSupplemental{false};

// What the IPv6 probe found.
struct Ipv6Probe {
  bool socketMade = false;    // an IPv6 stream socket could be made
  bool v6OnlyForced = false;  // ...but it cannot also serve IPv4
  bool usable = false;        // and an interface has a usable address
};

// Failures of the probe socket that say the process or the system ran out
// of something, rather than that there is no IPv6.
bool IsResourceError(int error) {
  switch (error) {
    case ENOMEM:
    case EMFILE:
    case ENFILE:
    case ENOBUFS:
    case ETOOMANYREFS:
    case EDQUOT:
      return true;
    default:
      return false;
  }
}

// True when the system makes IPv6 sockets v6-only by default, so that a
// listener for both versions needs an IPv4 partner.
bool SystemForcesV6Only() {
  char value[8];
  if (vp::FileReadSmall(kBindV6OnlyPath, value, sizeof value, nullptr) != 0) {
    return false;
  }
  return value[0] == '1';
}

bool IsUsableIpv6(const vp::InterfaceAddress &address) {
  return address.family == vp::AddressFamily::kIpv6 &&
         (address.flags & (vp::kAddressLinkLocal | vp::kAddressSiteLocal)) == 0;
}

// Logs a failed interface query and returns its code.
VRC InterfaceQueryFailed(int error) {
  VRC rc = vp::SocketErrorCode(error);
  VLog(VLOG_WARN, kLogFacility, nullptr, VLOG_SET_WARN, 0,
       "IPv6 interface list query failed: %s", VRCToString(rc));
  return rc;
}

// Looks for an IPv6 address that is neither link-local nor site-local in
// the interface list, read into a buffer that holds it whole.
VRC FindUsableIpv6(bool *usable) {
  size_t capacity = kInterfaceGuess;
  for (;;) {
    HeapPtr<vp::InterfaceAddress> list(static_cast<vp::InterfaceAddress *>(
        Malloc(capacity * sizeof(vp::InterfaceAddress))));
    if (!list) return ENOMEM;
    size_t count = 0;
    int error = vp::InterfaceAddresses(list.get(), capacity, &count);
    if (error != 0) return InterfaceQueryFailed(error);
    if (count <= capacity) {
      for (size_t i = 0; i < count && !*usable; ++i) {
        *usable = IsUsableIpv6(list.get()[i]);
      }
      return 0;
    }
    capacity = count;  // the list is longer: read it again whole
  }
}

VRC ProbeIpv6(Ipv6Probe *probe) {
  int sock = vp::kInvalidSocket;
  int error = vp::SocketOpen(vp::AddressFamily::kIpv6, vp::SocketType::kStream,
                             0, &sock);
  if (error != 0) {
    // Only running out of something ends start-up; otherwise no IPv6.
    return IsResourceError(error) ? vp::SocketErrorCode(error) : 0;
  }
  probe->socketMade = true;
  probe->v6OnlyForced =
      vp::SocketSetOption(sock, vp::SocketOption::kIpv6Only, 0) != 0 ||
      SystemForcesV6Only();
  (void)vp::SocketClose(sock);
  return FindUsableIpv6(&probe->usable);
}

}  // namespace

VRC VSocketInitialise(const char *vt_home, const char *kess_home) {
  if (g_started.load(std::memory_order_acquire)) return 0;
  Ipv6Probe probe;
  VRC rc = ProbeIpv6(&probe);
  if (rc != 0) return rc;
  if ((probe.socketMade && probe.v6OnlyForced) ||
      g_forceSupplemental.load(std::memory_order_relaxed)) {
    rc = SupplementalStart();
    if (rc != 0) return rc;
  }
  g_ipv6Usable.store(probe.usable, std::memory_order_release);
  const char *name = kIpv4Driver;
  if (probe.usable) {
    const char *chosen = VEnvGet(kDriverVariable);
    name = chosen != nullptr ? chosen : kIpv6Driver;
  }
  SocketLoadIPDriver(name, vt_home, kess_home);
  g_started.store(true, std::memory_order_release);
  return 0;
}

bool SocketIpv6Usable() { return g_ipv6Usable.load(std::memory_order_acquire); }

void SocketForceSupplementalMode(bool on) {
  g_forceSupplemental.store(on, std::memory_order_relaxed);
}

}  // namespace vantrel::internal
