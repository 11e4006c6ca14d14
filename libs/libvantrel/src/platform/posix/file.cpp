// POSIX files: descriptors opened with O_CLOEXEC; the standard streams
// through stdio only where the program has left bytes in their buffers.
#include "platform/file.h"

#include <errno.h>
#include <stdio_ext.h>

#include "platform/posix/os_table.h"

namespace vantrel::platform {
namespace {

int OpenFlags(uint32_t flags) {
  bool write = (flags & (kFileWrite | kFileAppend)) != 0;
  int native = O_CLOEXEC;
  if (write) native |= (flags & kFileRead) != 0 ? O_RDWR : O_WRONLY;
  if ((flags & kFileAppend) != 0) native |= O_APPEND;
  if ((flags & kFileCreate) != 0) native |= O_CREAT;
  if ((flags & kFileExclusive) != 0) native |= O_EXCL;
  if ((flags & kFileTruncate) != 0) native |= O_TRUNC;
  return native;
}

void Describe(const struct stat &st, FileInfo *info) {
  info->size = st.st_size;
  info->mode = static_cast<uint32_t>(st.st_mode & 07777);
  info->isDirectory = S_ISDIR(st.st_mode);
  info->isRegular = S_ISREG(st.st_mode);
  info->modifiedSeconds = st.st_mtim.tv_sec;
}

FILE *StreamOf(StdStream stream) {
  return stream == StdStream::kOutput ? stdout : stderr;
}

// Appends through the stream's buffer, behind what the program left there,
// and flushes.  The caller holds the stream's lock.
int WriteBuffered(FILE *stream, const char *line, size_t length) {
  fwrite_unlocked(line, 1, length, stream);
  putc_unlocked('\n', stream);
  if (VOS(fflush_unlocked)(stream) == 0 && !ferror_unlocked(stream)) return 0;
  int rc = errno != 0 ? errno : EIO;
  clearerr_unlocked(stream);  // report the next failure afresh
  return rc;
}

}  // namespace

int FileOpen(const char *path, uint32_t flags, uint32_t mode, int *descriptor) {
  int fd;
  do {
    fd = VOS(open)(path, OpenFlags(flags), static_cast<mode_t>(mode));
  } while (fd < 0 && errno == EINTR);
  if (fd < 0) return errno;
  *descriptor = fd;
  return 0;
}

// Linux releases the descriptor even when close reports EINTR, so that is
// no failure here (and a retry could close someone else's new file).
int FileClose(int descriptor) {
  if (VOS(close)(descriptor) == 0 || errno == EINTR) return 0;
  return errno;
}

int FileRead(int descriptor, void *buffer, size_t size, size_t *got) {
  for (;;) {
    ssize_t n = VOS(read)(descriptor, buffer, size);
    if (n >= 0) {
      *got = static_cast<size_t>(n);
      return 0;
    }
    if (errno != EINTR) return errno;
  }
}

int FileWriteAll(int descriptor, const void *bytes, size_t count) {
  auto *p = static_cast<const char *>(bytes);
  while (count > 0) {
    ssize_t written = VOS(write)(descriptor, p, count);
    if (written < 0 && errno == EINTR) continue;
    if (written < 0) return errno;
    if (written == 0) return EIO;
    p += written;
    count -= static_cast<size_t>(written);
  }
  return 0;
}

int FileWriteLine(int descriptor, char *line, size_t length) {
  line[length] = '\n';
  int rc = FileWriteAll(descriptor, line, length + 1);
  line[length] = '\0';
  return rc;
}

int FileSync(int descriptor) { return VOS(fsync)(descriptor) == 0 ? 0 : errno; }

int FileRename(const char *from, const char *to) {
  return VOS(rename)(from, to) == 0 ? 0 : errno;
}

int FileRemove(const char *path) { return VOS(unlink)(path) == 0 ? 0 : errno; }

int FileStat(const char *path, FileInfo *info) {
  struct stat st;
  if (VOS(stat)(path, &st) != 0) return errno;
  Describe(st, info);
  return 0;
}

int FileStatDescriptor(int descriptor, FileInfo *info) {
  struct stat st;
  if (VOS(fstat)(descriptor, &st) != 0) return errno;
  Describe(st, info);
  return 0;
}

int FileTruncate(int descriptor, int64_t length) {
  return VOS(ftruncate)(descriptor, static_cast<off_t>(length)) == 0 ? 0
                                                                     : errno;
}

int FileSeek(int descriptor, int64_t offset, SeekFrom from, int64_t *position) {
  int whence = from == SeekFrom::kStart     ? SEEK_SET
               : from == SeekFrom::kCurrent ? SEEK_CUR
                                            : SEEK_END;
  off_t at = VOS(lseek)(descriptor, static_cast<off_t>(offset), whence);
  if (at < 0) return errno;
  if (position != nullptr) *position = at;
  return 0;
}

int FileReadSmall(const char *path, char *buffer, size_t size, size_t *length) {
  if (size == 0) return EINVAL;
  int fd;
  int rc = FileOpen(path, kFileRead, 0, &fd);
  if (rc != 0) return rc;
  size_t used = 0;
  size_t got = 1;
  while (rc == 0 && got != 0 && used < size - 1) {
    rc = FileRead(fd, buffer + used, size - 1 - used, &got);
    if (rc == 0) used += got;
  }
  char probe;
  if (rc == 0 && used == size - 1) {
    rc = FileRead(fd, &probe, 1, &got);
    if (rc == 0 && got != 0) rc = EFBIG;
  }
  FileClose(fd);
  buffer[used] = '\0';
  if (length != nullptr) *length = used;
  return rc;
}

int StdStreamWriteLine(StdStream which, char *line, size_t length) {
  FILE *stream = StreamOf(which);
  flockfile(stream);
  // Nothing buffered: one write(2) of the line and its line feed, without
  // the copy into the stream's buffer.
  int rc = __fpending(stream) == 0 ? FileWriteLine(fileno(stream), line, length)
                                   : WriteBuffered(stream, line, length);
  funlockfile(stream);
  return rc;
}

int StdErrorToNullDevice() {
  return VOS(freopen)("/dev/null", "w", stderr) != nullptr ? 0 : errno;
}

}  // namespace vantrel::platform
