#include "platform/fileio.h"

#include <errno.h>
#include <unistd.h>

namespace vantrel::internal {

int FdReadByte(int descriptor, unsigned char *byte) {
  for (;;) {
    ssize_t got = read(descriptor, byte, 1);
    if (got >= 0) return static_cast<int>(got);
    if (errno != EINTR) return -1;
  }
}

}  // namespace vantrel::internal
