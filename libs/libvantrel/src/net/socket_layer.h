// The socket layer's process-wide state and its entry points for the rest
// of the library: start-up (the last step of VInitialise), the loaded IP
// driver, and the supplemental socket table that pairs an IPv6 listener
// with an IPv4 one where the system cannot give dual-stack sockets.
//
// Everything is set once by VSocketInitialise, before other threads use
// the library, and only read afterwards (the table's contents change under
// its own lock).
#ifndef VANTREL_NET_SOCKET_LAYER_H
#define VANTREL_NET_SOCKET_LAYER_H

#include "vantrel/vbase.h"
#include "vantrel/vsocket.h"

namespace vantrel::internal {

// Starts the socket layer once; later calls return 0 at once.
//  1. Probes IPv6: an IPv6 stream socket (a resource failure -- out of
//     memory, descriptors, buffers, quota -- ends start-up with its code in
//     the socket layer's numbering; any other failure means no IPv6), then
//     the interface list, where an IPv6 address that is neither link-local
//     nor site-local makes IPv6 usable.  A failed list query is logged
//     ("IPv6 interface list query failed: %s") and ends start-up with its
//     code; ENOMEM when the list's buffer cannot be allocated.
//  2. Supplemental mode when the IPv6 socket could be made but refuses to
//     serve IPv4 too (IPV6_V6ONLY cannot be switched off, or the system
//     forces v6-only), or when a test forced it: the table and its lock
//     "supplemental_sockets" are made (ENOMEM, or the lock's code).
//  3. Loads the driver "ipv4_r", or when IPv6 is usable the one named by
//     VDE_SOCKET_IPDRV_NAME, else "ipv6_r": from the "network" module
//     directory of vt_home, and when vt_home and kess_home are the same
//     text, next from that of kess_home's parent.  Every failure here is
//     logged (warning, facility 1, set 103) and leaves no driver.
// Returns 0 or the code of the failed step above.
VRC VSocketInitialise(const char *vt_home, const char *kess_home);

// The loaded driver's table, or null.
const VSocketIPDriver *SocketIPDriver();

// Outcomes of the probe (false before start-up).
bool SocketIpv6Usable();
bool SocketSupplementalMode();

// ---- The supplemental socket table: pairs (socket, partner), each pair
// stored under both sockets.  Outside supplemental mode there is no table.

// Records the pair under both sockets.  0, or the lock release's code;
// ENOMEM (nothing recorded); the lock's code; VRC_NOT_READY outside
// supplemental mode.
VRC SupplementalRecordPair(VSocket socket, VSocket partner);
// Forgets the pair of socket (both entries).  0 (also when socket has no
// partner, or outside supplemental mode) or the lock's code.
VRC SupplementalRemovePair(VSocket socket);
// Stores socket's partner in *partner: 0, or the lock release's code.
// VRC_NOT_FOUND (-22), with *partner untouched, when it has none (always
// outside supplemental mode).
VRC SupplementalLookupPartner(VSocket socket, VSocket *partner);

// ---- Between the layer's own units.

// Loads the driver module `name` and takes its table, as step 3 above
// says; failures are logged and leave no driver.
void SocketLoadIPDriver(const char *name, const char *vt_home,
                        const char *kess_home);
// Makes the supplemental table and its lock and turns supplemental mode
// on: 0, ENOMEM, or the lock's code (nothing is left behind).
VRC SupplementalStart();

// ---- Test hooks; call them before start-up.

// Forces supplemental mode on whatever the system can do, so that the
// pairing paths run on dual-stack hosts too.
void SocketForceSupplementalMode(bool on);

}  // namespace vantrel::internal

#endif  // VANTREL_NET_SOCKET_LAYER_H
