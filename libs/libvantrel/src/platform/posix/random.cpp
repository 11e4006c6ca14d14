// POSIX random bytes: getrandom, or /dev/urandom on a kernel without it.
#include "platform/random.h"

#include <errno.h>

#include "platform/file.h"
#include "platform/posix/os_table.h"

namespace vantrel::platform {
namespace {

int FillFromDevice(unsigned char *bytes, size_t size) {
  int fd;
  int rc = FileOpen("/dev/urandom", kFileRead, 0, &fd);
  if (rc != 0) return rc;
  while (rc == 0 && size > 0) {
    size_t got = 0;
    rc = FileRead(fd, bytes, size, &got);
    if (rc == 0 && got == 0) rc = EIO;
    bytes += got;
    size -= got;
  }
  FileClose(fd);
  return rc;
}

}  // namespace

int RandomFill(void *buffer, size_t size) {
  auto *bytes = static_cast<unsigned char *>(buffer);
  while (size > 0) {
    ssize_t got = VOS(getrandom)(bytes, size, 0);
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == ENOSYS) return FillFromDevice(bytes, size);
    if (got < 0) return errno;
    bytes += got;
    size -= static_cast<size_t>(got);
  }
  return 0;
}

}  // namespace vantrel::platform
