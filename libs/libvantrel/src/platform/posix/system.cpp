// POSIX system facts: gethostname, uname, sysconf and the C library's error
// texts.
#include "platform/system.h"

#include <errno.h>

#include "platform/posix/os_table.h"

namespace vantrel::platform {
namespace {

void CopyField(char (&field)[65], const char *text) {
  size_t length = strnlen(text, sizeof field - 1);
  memcpy(field, text, length);
  field[length] = '\0';
}

}  // namespace

int HostName(char *buffer, size_t size) {
  if (size == 0) return EINVAL;
  int rc = 0;
  // gethostname need not terminate a name it had to cut, so a name that
  // fills the whole buffer counts as too long.
  if (VOS(gethostname)(buffer, size) != 0) {
    rc = errno;
  } else if (memchr(buffer, '\0', size) == nullptr) {
    rc = ENAMETOOLONG;
  } else if (buffer[0] == '\0') {
    rc = ENOENT;
  }
  if (rc != 0) buffer[0] = '\0';
  return rc;
}

char **EnvironmentEntries() { return environ; }

// The GNU strerror_r returns a constant text for known numbers and writes
// buf only for unknown ones.
const char *ErrorText(int error, char *buf, size_t size) {
  return VOS(strerror_r)(error, buf, size);
}

bool HasErrorText(int error) { return VOS(strerrordesc_np)(error) != nullptr; }

int SystemNameGet(SystemName *name) {
  struct utsname native;
  if (VOS(uname)(&native) != 0) return errno;
  CopyField(name->system, native.sysname);
  CopyField(name->node, native.nodename);
  CopyField(name->release, native.release);
  CopyField(name->version, native.version);
  CopyField(name->machine, native.machine);
  return 0;
}

uint32_t ProcessId() { return static_cast<uint32_t>(VOS(getpid)()); }

int ClockTicksPerSecond(int64_t *ticks) {
  errno = 0;
  long value = VOS(sysconf)(_SC_CLK_TCK);
  if (value <= 0) return errno != 0 ? errno : EINVAL;
  *ticks = value;
  return 0;
}

}  // namespace vantrel::platform
