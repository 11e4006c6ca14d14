// The system description: the host name and the operating system's own
// account of itself, in the fixed fields of VSystemName.
#include "platform/system.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "vantrel/vrc.h"
#include "vantrel/vsystem.h"

namespace vantrel::internal {
namespace {

namespace vp = vantrel::platform;

constexpr char kNoHostName[] = "localhost";

void CopyField(char (&field)[VSYSTEM_NAME_FIELD_SIZE], const char *text) {
  snprintf(field, sizeof field, "%s", text);
}

// The major and minor numbers at the start of a release text such as
// "6.1.0-18-amd64"; false when it does not start with them.
bool ReleaseNumbers(const char *release, long *major, long *minor) {
  char *end = nullptr;
  errno = 0;
  *major = strtol(release, &end, 10);
  if (end == release || *end != '.' || errno != 0) return false;
  const char *rest = end + 1;
  *minor = strtol(rest, &end, 10);
  return end != rest && errno == 0 && *major >= 0 && *minor >= 0;
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;
namespace vp = vantrel::platform;

VRC VSystemUname(VSystemName *name) {
  if (name == nullptr) return EINVAL;
  vp::SystemName system;
  long major = 0;
  long minor = 0;
  if (vp::SystemNameGet(&system) != 0 ||
      !vi::ReleaseNumbers(system.release, &major, &minor)) {
    return VRC_FAILURE;
  }
  if (vp::HostName(name->nodename, sizeof name->nodename) != 0) {
    vi::CopyField(name->nodename, vi::kNoHostName);
  }
  vi::CopyField(name->sysname, system.system);
  snprintf(name->release, sizeof name->release, "%ld", major);
  snprintf(name->version, sizeof name->version, "%02ld", minor);
  vi::CopyField(name->machine, system.machine);
  return 0;
}
