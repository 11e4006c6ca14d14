// The one way the return codes (core, below threads) reach into the thread
// records: a code's text is written into the calling thread's error
// buffer, so turning a code into text allocates nothing.  Listed as a
// deliberate upward include in the layer check; keep it to this accessor.
#ifndef VANTREL_THREADS_ERROR_BUFFER_H
#define VANTREL_THREADS_ERROR_BUFFER_H

#include <stddef.h>

namespace vantrel::internal {

// The calling thread's error buffer with its size in *size, or null when
// the thread has no record (the thread subsystem is not started, or the
// record could not be made).
char *CurrentErrorBuffer(size_t *size);

}  // namespace vantrel::internal

#endif  // VANTREL_THREADS_ERROR_BUFFER_H
