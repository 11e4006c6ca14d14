/* The IPv4 driver: addresses of the AF_INET family only. */
#include "vipdrv.h"

const VIPDrvKind vipdrv_kind = {AF_INET, "IPv4 Socket Address Library", "1.0"};
