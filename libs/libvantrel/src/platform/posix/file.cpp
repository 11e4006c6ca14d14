// POSIX files for the log drivers: open/fdopen in append mode, fstat,
// ftruncate and lseek, rename, unlink, freopen onto /dev/null.
#include "platform/file.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio_ext.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>

namespace vantrel::platform {
namespace {

// The failure hook.  `armed` is checked first so that an unarmed process
// pays one relaxed load per call.
std::atomic<bool> g_armed{false};
std::atomic<int> g_op{0};
std::atomic<uint64_t> g_calls{0};
std::atomic<uint64_t> g_nth{0};
std::atomic<bool> g_repeat{false};
std::atomic<int> g_error{0};

// True when this call of `op` is to fail; errno is then set.
bool Injected(FileOp op) {
  if (!g_armed.load(std::memory_order_relaxed)) return false;
  if (g_op.load(std::memory_order_acquire) != static_cast<int>(op)) {
    return false;
  }
  uint64_t call = g_calls.fetch_add(1, std::memory_order_acq_rel) + 1;
  uint64_t nth = g_nth.load(std::memory_order_relaxed);
  bool fail = call == nth || (call > nth && g_repeat.load());
  if (fail) errno = g_error.load(std::memory_order_relaxed);
  return fail;
}

// Writes all `count` bytes, resuming after short writes.  0, or errno.
int WriteAll(int descriptor, const char *bytes, size_t count) {
  while (count > 0) {
    ssize_t written = write(descriptor, bytes, count);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return EIO;
    bytes += written;
    count -= static_cast<size_t>(written);
  }
  return 0;
}

}  // namespace

void FileFailArm(FileOp op, uint64_t nth, bool repeat, int error) {
  g_nth.store(nth);
  g_repeat.store(repeat);
  g_error.store(error);
  g_calls.store(0);
  g_op.store(static_cast<int>(op), std::memory_order_release);
  g_armed.store(true, std::memory_order_release);
}

void FileFailDisarm() { g_armed.store(false, std::memory_order_release); }

FILE *FileOpenAppend(const char *path, int *descriptor) {
  if (Injected(FileOp::kOpen)) return nullptr;
  int fd;
  do {
    fd = open(path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return nullptr;
  FILE *stream = fdopen(fd, "a");
  if (stream == nullptr) {
    int saved = errno;
    close(fd);
    errno = saved;
    return nullptr;
  }
  *descriptor = fd;
  return stream;
}

int FileClose(FILE *stream) { return fclose(stream) == 0 ? 0 : errno; }

int FileWriteLine(FILE *stream, char *line, size_t length) {
  if (Injected(FileOp::kWrite)) return errno;
  int rc = 0;
  flockfile(stream);
  if (__fpending(stream) == 0) {
    // Nothing buffered: one write(2) of the line and its line feed, without
    // the copy into the stream's buffer.
    line[length] = '\n';
    rc = WriteAll(fileno(stream), line, length + 1);
    line[length] = '\0';
  } else {
    fwrite_unlocked(line, 1, length, stream);
    putc_unlocked('\n', stream);
    if (fflush_unlocked(stream) != 0 || ferror_unlocked(stream)) {
      rc = errno != 0 ? errno : EIO;
      clearerr_unlocked(stream);  // report the next failure afresh
    }
  }
  funlockfile(stream);
  return rc;
}

int FileSize(FILE *stream, int64_t *size) {
  if (Injected(FileOp::kSize)) return errno;
  struct stat st;
  if (fstat(fileno(stream), &st) != 0) return errno;
  *size = st.st_size;
  return 0;
}

int FileEmpty(int descriptor) {
  if (Injected(FileOp::kEmpty)) return errno;
  if (ftruncate(descriptor, 0) != 0) return errno;
  if (lseek(descriptor, 0, SEEK_SET) < 0) return errno;
  return 0;
}

int FileRename(const char *from, const char *to) {
  if (Injected(FileOp::kRename)) return errno;
  return rename(from, to) == 0 ? 0 : errno;
}

int FileRemove(const char *path) { return unlink(path) == 0 ? 0 : errno; }

int StderrToNullDevice() {
  if (Injected(FileOp::kStderrToNull)) return errno;
  return freopen("/dev/null", "w", stderr) != nullptr ? 0 : errno;
}

}  // namespace vantrel::platform
