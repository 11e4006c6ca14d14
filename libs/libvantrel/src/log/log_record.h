// The log object's record, its driver of four functions, and the pieces the
// manager and the stream and file drivers share.
#ifndef VANTREL_LOG_LOG_RECORD_H
#define VANTREL_LOG_LOG_RECORD_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>
#include <time.h>

#include <atomic>
#include <type_traits>

#include "vantrel/vi18n.h"
#include "vantrel/vlog.h"
#include "vantrel/vsync.h"

namespace vantrel::internal {

// A line being built.  The message text sits in a buffer with at least
// kLogPrefixRoom free bytes in front of it, so a format function puts its
// prefix right before the text and the text is never copied.
constexpr size_t kLogPrefixRoom = 128;
struct LogLine {
  char *text;  // the message text, terminated
  size_t textLength;
  char *start;  // the whole line, set by the format function
  size_t length;
};

// Makes the line `prefix` + text in place; the prefix fits kLogPrefixRoom.
inline void LogLinePrefix(LogLine *line, const char *prefix, size_t length) {
  char *start = line->text - length;
  memcpy(start, prefix, length);
  line->start = start;
  line->length = length + line->textLength;
}

// Opens the destination at `path`; *handle receives the driver's state.
using LogOpenFunc = VRC (*)(const char *path, void **handle);
// Fills in the line's start and length.
using LogFormatFunc = VRC (*)(VLogFile log, int level, VI18nCatalog catalog,
                              int set, int number, LogLine *line);
// line[length] is the line's terminator; a write may put the line feed
// there while it writes, so the line goes out in one piece without a copy.
using LogWriteFunc = VRC (*)(void *handle, int level, char *line,
                             size_t length);
using LogCloseFunc = VRC (*)(void *handle);

struct LogDriver {
  LogOpenFunc open;
  LogFormatFunc format;
  LogWriteFunc write;
  LogCloseFunc close;
};

}  // namespace vantrel::internal

// A log object.  The threshold and the fatal flag are read without the lock,
// and the formatter is fetched outside it, so those three are only touched
// atomically; the other driver fields and the handle change and are used
// under the lock.  The lock is null for the manager until initialisation.
struct VLogFileData {
  VMutex lock;
  std::atomic<int32_t> level;
  std::atomic<int32_t> fatalDoesNotExit;
  vantrel::internal::LogDriver driver;
  void *handle;
};

static_assert(std::is_standard_layout_v<VLogFileData>);
static_assert(offsetof(VLogFileData, lock) == 0);
static_assert(offsetof(VLogFileData, level) == sizeof(VMutex));
static_assert(offsetof(VLogFileData, fatalDoesNotExit) ==
              offsetof(VLogFileData, level) + 4);
static_assert(offsetof(VLogFileData, driver) >
              offsetof(VLogFileData, fatalDoesNotExit));
static_assert(offsetof(vantrel::internal::LogDriver, format) == sizeof(void *));
static_assert(offsetof(vantrel::internal::LogDriver, close) ==
              3 * sizeof(void *));
static_assert(offsetof(VLogFileData, handle) ==
              offsetof(VLogFileData, driver) +
                  sizeof(vantrel::internal::LogDriver));
static_assert(std::atomic<int32_t>::is_always_lock_free &&
              sizeof(std::atomic<int32_t>) == 4);

namespace vantrel::internal {

// The default driver's close, which the stream driver shares.
VRC LogDefaultClose(void *handle);

// The default driver's format, "L-COMP-SSS-NNN: " before the text, which
// the syslog and journal drivers share.
VRC LogDefaultFormat(VLogFile log, int level, VI18nCatalog catalog, int set,
                     int number, LogLine *line);

// The drivers of stdout/stderr and of files.
extern const LogDriver kLogStreamDriver;
extern const LogDriver kLogFileDriver;

// Seconds since the epoch from the wall clock.
time_t LogNow();

// "Debug", "Information", "Warning", "Error", "Fatal" or "Unknown".
const char *LogLevelWord(int level);

}  // namespace vantrel::internal

#endif  // VANTREL_LOG_LOG_RECORD_H
