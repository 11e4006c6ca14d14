// Files for the log drivers: append-mode streams over descriptors, renames,
// sizes and emptying through the descriptor.  Every call can be made to fail
// by a test hook, so the drivers' fall-backs are tested without a full disk
// or a broken file system.
#ifndef VANTREL_PLATFORM_FILE_H
#define VANTREL_PLATFORM_FILE_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>

namespace vantrel::platform {

// Opens the file for appending, created (mode 0644) when missing and kept
// when present, as a stdio stream; *descriptor receives the stream's
// descriptor.  Null with errno set on failure.
FILE *FileOpenAppend(const char *path, int *descriptor);

// Closes the stream.  0, or errno.
int FileClose(FILE *stream);

// Writes the line and a line feed and flushes the stream.  line[length] is
// the line's terminator: the line feed takes its place during the call.  0,
// or errno.
int FileWriteLine(FILE *stream, char *line, size_t length);

// The size of the open file.  0, or errno.
int FileSize(FILE *stream, int64_t *size);

// Truncates the file to length 0 and positions the descriptor at its start.
// 0, or errno.
int FileEmpty(int descriptor);

// Renames a file, replacing the target.  0, or errno.
int FileRename(const char *from, const char *to);

// Deletes a file.  0, or errno (ENOENT when there is none).
int FileRemove(const char *path);

// Reopens the process's standard error stream on the null device.  0, or
// errno.
int StderrToNullDevice();

// Test hook.  The nth call (1 is the next) of `op` from now on fails with
// `error`, and with `repeat` so does every later call, until
// FileFailDisarm().  Applies to calls from every thread.
enum class FileOp { kOpen, kWrite, kSize, kEmpty, kRename, kStderrToNull };
void FileFailArm(FileOp op, uint64_t nth, bool repeat, int error);
void FileFailDisarm();

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_FILE_H
