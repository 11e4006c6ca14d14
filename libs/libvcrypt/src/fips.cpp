// The FIPS-mode query: the kernel's boot-time flag or OpenSSL's default
// properties.
#include <fcntl.h>
#include <openssl/evp.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>

#include "internal.h"
#include "vcrypt.h"

namespace vcrypt::internal {
namespace {

constexpr const char *kKernelFlag = "/proc/sys/crypto/fips_enabled";
constinit std::atomic<const char *> g_flag_path{nullptr};
// -1 until the flag has been read, then 0 or 1.  The kernel sets it at
// boot, so one read per process is enough; racing readers store the same.
constinit std::atomic<int> g_kernel_fips{-1};

// Reads the first byte of the flag file with plain system calls: the query
// allocates nothing and leaves errno alone.  A missing or unreadable file
// means no FIPS mode.
int ReadKernelFlag() {
  int saved_errno = errno;
  const char *path = g_flag_path.load(std::memory_order_relaxed);
  int fd = open(path != nullptr ? path : kKernelFlag, O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    errno = saved_errno;
    return 0;
  }
  char first = '0';
  ssize_t got;
  do {
    got = read(fd, &first, 1);
  } while (got < 0 && errno == EINTR);
  close(fd);
  errno = saved_errno;
  return got == 1 && first == '1' ? 1 : 0;
}

}  // namespace

void SetFipsFlagPath(const char *path) {
  g_flag_path.store(path, std::memory_order_relaxed);
  g_kernel_fips.store(-1, std::memory_order_relaxed);
}

}  // namespace vcrypt::internal

extern "C" VTKCRYPT_API int VTKUTILSIsSystemFips(void) {
  namespace vi = vcrypt::internal;
  int kernel = vi::g_kernel_fips.load(std::memory_order_relaxed);
  if (kernel < 0) {
    kernel = vi::ReadKernelFlag();
    vi::g_kernel_fips.store(kernel, std::memory_order_relaxed);
  }
  if (kernel == 1) return 1;
  return EVP_default_properties_is_fips_enabled(nullptr) ? 1 : 0;
}
