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

}  // namespace vantrel::platform
