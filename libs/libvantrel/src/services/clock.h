// The clock service's state, for tests.
#ifndef VANTREL_SERVICES_CLOCK_H
#define VANTREL_SERVICES_CLOCK_H

#include <stdint.h>

namespace vantrel::internal {

// Successful starts not yet matched by stops (read under the lock).
int32_t ClockInstanceCount();

}  // namespace vantrel::internal

#endif  // VANTREL_SERVICES_CLOCK_H
