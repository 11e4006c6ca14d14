// The clock service's state, for tests.
#ifndef VANTREL_SERVICES_CLOCK_H
#define VANTREL_SERVICES_CLOCK_H

#include <stdint.h>

#include "vantrel/vsync.h"

namespace vantrel::internal {

// Successful starts not yet matched by stops (read under the lock).
int32_t ClockInstanceCount();

// The service lock "ClockSubsystem", made on the first call (null when
// that failed); holding it keeps the "CLOCK" thread from delivering.
VMutex ClockServiceLock();

}  // namespace vantrel::internal

#endif  // VANTREL_SERVICES_CLOCK_H
