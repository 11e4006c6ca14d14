// Files and descriptors, and the process's standard streams.  Every
// function that can fail returns 0 or an error number and hands results
// back through out-parameters.  Descriptors are opened close-on-exec, so a
// program that starts another never leaks the library's files into it.
#ifndef VANTREL_PLATFORM_FILE_H
#define VANTREL_PLATFORM_FILE_H

#include <stddef.h>
#include <stdint.h>

namespace vantrel::platform {

// The value of no descriptor.
inline constexpr int kNoFile = -1;

// How FileOpen opens a file; combine with |.
enum FileOpenFlag : uint32_t {
  kFileRead = 1u << 0,
  kFileWrite = 1u << 1,
  kFileAppend = 1u << 2,     // every write lands at the end; implies write
  kFileCreate = 1u << 3,     // made with the given mode when missing
  kFileExclusive = 1u << 4,  // with kFileCreate: EEXIST when present
  kFileTruncate = 1u << 5,   // emptied when opened for writing
};

// Opens path as `flags` say; `mode` (permission bits such as 0644) applies
// to a file that kFileCreate makes.  *descriptor receives the descriptor.
int FileOpen(const char *path, uint32_t flags, uint32_t mode, int *descriptor);

// Closes the descriptor (which is gone afterwards whatever the result).
int FileClose(int descriptor);

// Reads up to size bytes; *got receives the count, 0 at the end of the
// file.  An interrupted read is resumed.
int FileRead(int descriptor, void *buffer, size_t size, size_t *got);

// Writes all count bytes, resuming after short and interrupted writes.
int FileWriteAll(int descriptor, const void *bytes, size_t count);

// Writes the line and a line feed with one write where the system takes it
// whole.  line[length] is the line's terminator: the line feed takes its
// place during the call.
int FileWriteLine(int descriptor, char *line, size_t length);

// Makes the file's data durable.
int FileSync(int descriptor);

// Renames a file, replacing the target.
int FileRename(const char *from, const char *to);

// Deletes a file (ENOENT when there is none).
int FileRemove(const char *path);

struct FileInfo {
  int64_t size;   // bytes
  uint32_t mode;  // permission bits (07777)
  bool isDirectory;
  bool isRegular;  // a plain file: not a directory, device, pipe or socket
  int64_t modifiedSeconds;  // last change of the data, seconds since the epoch
};

// Facts about the file at path (symbolic links followed), or behind an
// open descriptor.
int FileStat(const char *path, FileInfo *info);
int FileStatDescriptor(int descriptor, FileInfo *info);

// Cuts or extends the open file to length bytes.
int FileTruncate(int descriptor, int64_t length);

enum class SeekFrom { kStart, kCurrent, kEnd };

// Moves the descriptor's position; *position (may be null) receives the new
// one, counted from the start.
int FileSeek(int descriptor, int64_t offset, SeekFrom from, int64_t *position);

// Reads a small file whole (a /proc file, whose size the system does not
// report) into buffer, terminated; *length (may be null) receives the bytes
// read.  EFBIG when it holds more than size - 1 bytes (buffer then holds
// the first size - 1).
int FileReadSmall(const char *path, char *buffer, size_t size, size_t *length);

// ---- The standard streams, which the program shares with the library.

enum class StdStream { kOutput, kError };

// Writes the line and a line feed to the stream, as FileWriteLine does.
// When the program has left output in the stream's buffer, the line goes
// after it through the buffer, which is then flushed, so the program's
// output still comes first.
int StdStreamWriteLine(StdStream stream, char *line, size_t length);

// Reopens standard error on the null device.
int StdErrorToNullDevice();

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_FILE_H
