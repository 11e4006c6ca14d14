#include "platform/system.h"

#include <string.h>
#include <unistd.h>

namespace vantrel::platform {

bool HostName(char *buffer, size_t size) {
  if (size == 0) return false;
  // gethostname need not terminate a name it had to cut, so a name that
  // fills the whole buffer counts as too long.
  if (gethostname(buffer, size) != 0 || memchr(buffer, '\0', size) == nullptr ||
      buffer[0] == '\0') {
    buffer[0] = '\0';
    return false;
  }
  return true;
}

char **EnvironmentEntries() { return environ; }

// The GNU strerror_r returns a constant text for known numbers and writes
// buf only for unknown ones.
const char *ErrorText(int error, char *buf, size_t size) {
  return strerror_r(error, buf, size);
}

bool HasErrorText(int error) { return strerrordesc_np(error) != nullptr; }

}  // namespace vantrel::platform
