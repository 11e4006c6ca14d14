/* An IP driver module whose entry function reports that it cannot work. */
#include <stddef.h>

const void *_VSockIpDrvDefGet(void);

const void *_VSockIpDrvDefGet(void) { return NULL; }
