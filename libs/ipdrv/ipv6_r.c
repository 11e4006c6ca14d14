/* The IPv6 driver: AF_INET6 addresses, and IPv4 ones as AF_INET, so that
 * names with only IPv4 addresses still resolve.  Its any-address is "::",
 * which a dual-stack listener serves both versions on. */
#include "vipdrv.h"

const VIPDrvKind vipdrv_kind = {AF_INET6, "IPv6 Socket Address Library", "1.0"};
