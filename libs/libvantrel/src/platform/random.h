// The system's source of random bytes, fit for keys and initialisation
// vectors.
#ifndef VANTREL_PLATFORM_RANDOM_H
#define VANTREL_PLATFORM_RANDOM_H

#include <stddef.h>

namespace vantrel::platform {

// Fills size bytes of buffer from the system's random source.  0, or an
// error number (buffer may then be partly written).
int RandomFill(void *buffer, size_t size);

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_RANDOM_H
