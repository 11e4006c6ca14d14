// The stream driver (stdout, stderr) and the file driver with size and
// daily rotation, the pool of files used in turn, and the fall-backs to
// standard error.  Driver functions run under the log object's lock; the
// file driver's state is not locked otherwise.
#include "platform/file.h"

#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <utility>

#include "internal/alloc.h"
#include "log/log_record.h"
#include "platform/clock.h"
#include "platform/system.h"
#include "platform/thread.h"
#include "time/time_internal.h"
#include "vantrel/vlist.h"
#include "vantrel/vrc.h"
#include "vantrel/vstring.h"

namespace vantrel::internal {
namespace {

constexpr size_t kStampSize = 64;
// The stamp, the longest level word and two separators.
static_assert(kStampSize - 1 + sizeof "Information" - 1 + 4 <= kLogPrefixRoom);
// Rotation suffixes are cut to 260 bytes.
constexpr size_t kSuffixSize = 261;
// Size rotation may keep up to 99 numbered files, "path_old1" the newest.
constexpr int32_t kMaxKeptFiles = 99;
constexpr size_t kKeptSuffixRoom = sizeof "_old99";
constexpr int32_t kDefaultPoolSize = 10;
constexpr int32_t kMinPoolSize = 2;
constexpr int32_t kMaxPoolSize = 99;
// Pool files are numbered 1 to 99.
constexpr int kPoolIndexLimit = 100;

// ---- Line format shared by both drivers: "date time: Word: text".

// The date-and-time text changes once a second; each thread keeps the last
// one it made, so most lines skip the local-time conversion.
struct StampCache {
  time_t second;
  size_t length;
  char text[kStampSize];
};
thread_local constinit StampCache t_stamp VANTREL_FAST_TLS{-1, 0, {}};

const StampCache &CurrentStamp() {
  time_t now = LogNow();
  StampCache &cache = t_stamp;
  if (cache.second == now && cache.length != 0) return cache;
  struct tm tm;
  size_t n = 0;
  if (platform::LocalTimeZoneOncePerSecond(now, now, &tm) == 0) {
    n = strftime(cache.text, sizeof cache.text, "%x %X", &tm);
  }
  if (n == 0) {
    FormatLocalDateTime(cache.text, sizeof cache.text);
    n = strlen(cache.text);
  }
  cache.second = now;
  cache.length = n;
  return cache;
}

// "stamp: Word: " goes right before the text.
VRC FormatLine(VLogFile, int level, VI18nCatalog, int, int, LogLine *line) {
  const StampCache &stamp = CurrentStamp();
  const char *word = LogLevelWord(level);
  size_t word_length = strlen(word);
  size_t prefix_length = stamp.length + word_length + 4;
  char *p = line->text - prefix_length;
  line->start = p;
  line->length = prefix_length + line->textLength;
  memcpy(p, stamp.text, stamp.length);
  p += stamp.length;
  memcpy(p, ": ", 2);
  memcpy(p + 2, word, word_length);
  memcpy(p + 2 + word_length, ": ", 2);
  return 0;
}

// ---- Stream driver.

// The stream driver's handles point here.
constinit platform::StdStream g_streams[] = {platform::StdStream::kOutput,
                                             platform::StdStream::kError};

VRC StreamOpen(const char *path, void **handle) {
  if (strcmp(path, "stdout") == 0) {
    *handle = &g_streams[0];
  } else if (strcmp(path, "stderr") == 0) {
    *handle = &g_streams[1];
  } else {
    return VRC_FAILURE;
  }
  return 0;
}

VRC StreamWrite(void *handle, int, char *line, size_t length) {
  platform::StdStreamWriteLine(*static_cast<platform::StdStream *>(handle),
                               line, length);
  return 0;
}

// ---- File driver state.

// What the file driver writes to besides a log file's descriptor.
constexpr int kNoTarget = platform::kNoFile;
constexpr int kStderrTarget = -2;

struct PoolEntry {
  int descriptor;
};

struct FileState {
  time_t openedTime;  // when the current file was opened or switched to
  char *path;
  int current;  // a descriptor, kNoTarget or kStderrTarget
  VList *pool;  // of PoolEntry, or null without a pool
  int32_t poolSize;
  int32_t rotated;  // the next write moves to the next pool file
  // Bytes in the current file as far as this driver knows (-1: unknown).
  // Only this driver appends to the file in the usual case, so the size is
  // confirmed with the system only when a line would pass the limit.
  int64_t knownSize;
  int32_t loggingHeaders;  // writes made while logging the headers
};

// Set to anything but `value`; unset does not count.
bool EnvSetOtherThan(const char *name, const char *value) {
  const char *text = getenv(name);
  return text != nullptr && strcmp(text, value) != 0;
}

int32_t PoolSizeFromEnvironment() {
  const char *text = getenv("VDE_LOGFILE_POOLSIZE");
  if (text == nullptr) return kDefaultPoolSize;
  long size = strtol(text, nullptr, 10);
  return size >= kMinPoolSize && size <= kMaxPoolSize ? int32_t(size)
                                                      : kDefaultPoolSize;
}

// The variables rotation looks at, as the environment holds them now.
struct RotationSettings {
  const char *format;
  const char *time;
  const char *maxSize;
  const char *maxFiles;
};

// Rotation reads the environment at every write, so the three variables
// are found in one pass over it rather than a getenv each; as with getenv
// the first entry of a name counts.
RotationSettings ReadRotationSettings() {
  static constexpr char kPrefix[] = "VDE_LOGFILE_";
  constexpr size_t kPrefixLength = sizeof kPrefix - 1;
  RotationSettings found{nullptr, nullptr, nullptr, nullptr};
  auto take = [](const char *rest, const char *name, const char **value) {
    size_t length = strlen(name);
    if (*value != nullptr || strncmp(rest, name, length) != 0) return;
    *value = rest + length;
  };
  char **entries = platform::EnvironmentEntries();
  for (size_t i = 0; entries != nullptr && entries[i] != nullptr; ++i) {
    const char *entry = entries[i];
    if (entry[0] != 'V' || strncmp(entry, kPrefix, kPrefixLength) != 0) {
      continue;
    }
    const char *rest = entry + kPrefixLength;
    take(rest, "ROTATION_FORMAT=", &found.format);
    take(rest, "ROTATION_TIME=", &found.time);
    take(rest, "MAXSIZE=", &found.maxSize);
    take(rest, "MAXFILES=", &found.maxFiles);
  }
  return found;
}

int64_t MaxSize(const RotationSettings &settings) {
  int64_t size = 0;
  if (settings.maxSize == nullptr ||
      VStringToInteger64(settings.maxSize, &size) != 0) {
    return 0;
  }
  return size;
}

// How many numbered files size rotation keeps: a whole number from 1 to
// 99, else 0 (the single "_old" file).
int32_t KeptFiles(const RotationSettings &settings) {
  const char *text = settings.maxFiles;
  if (text == nullptr || text[0] < '0' || text[0] > '9') return 0;
  char *end = nullptr;
  long count = strtol(text, &end, 10);
  if (*end != '\0' || count < 1 || count > kMaxKeptFiles) return 0;
  return int32_t(count);
}

// Seconds after midnight of the daily boundary, from "HHMM".
time_t RotationOffset(const RotationSettings &settings) {
  if (settings.time == nullptr) return 0;
  long hhmm = strtol(settings.time, nullptr, 10);
  return time_t((hhmm / 100) * 60 + hhmm % 100) * 60;
}

bool IsFile(int target) { return target >= 0; }

void MakeCurrent(FileState *state, int target) {
  state->current = target;
  state->knownSize = -1;
}

// Created when missing (0644), kept and appended to when present.  The
// descriptor, or kNoTarget.
int OpenLogFile(const char *name) {
  int descriptor;
  if (platform::FileOpen(name, platform::kFileAppend | platform::kFileCreate,
                         0644, &descriptor) == 0) {
    return descriptor;
  }
  fprintf(stderr, "Error Opening Log File %s\n", name);
  return kNoTarget;
}

int WriteLine(int target, char *line, size_t length) {
  if (target == kStderrTarget) {
    return platform::StdStreamWriteLine(platform::StdStream::kError, line,
                                        length);
  }
  return platform::FileWriteLine(target, line, length);
}

// Empties a pool file and starts it over.
int EmptyFile(int descriptor) {
  int rc = platform::FileTruncate(descriptor, 0);
  if (rc == 0) {
    rc = platform::FileSeek(descriptor, 0, platform::SeekFrom::kStart, nullptr);
  }
  return rc;
}

// ---- The pool.

PoolEntry *EntryOfTarget(const FileState *state, int target) {
  if (state->pool == nullptr || !IsFile(target)) return nullptr;
  for (void *item = VListFirst(state->pool); item != nullptr;
       item = VListNext(item)) {
    auto *entry = static_cast<PoolEntry *>(item);
    if (entry->descriptor == target) return entry;
  }
  return nullptr;
}

int CloseEntry(void *item, void *) {
  platform::FileClose(static_cast<PoolEntry *>(item)->descriptor);
  VListFreeWith(item, Free);
  return 0;
}

void ReleasePool(FileState *state) {
  if (state->pool == nullptr) return;
  if (EntryOfTarget(state, state->current) != nullptr)
    MakeCurrent(state, kNoTarget);
  VListDestroyWith(state->pool, CloseEntry, nullptr, Free);
  state->pool = nullptr;
}

// Opens pool file `index` and appends it; false only when its entry cannot
// be allocated.
bool AddPoolFile(FileState *state, char *name, size_t path_length, int index) {
  snprintf(name + path_length, 4, "_%02d", index);
  int descriptor = OpenLogFile(name);
  if (descriptor == kNoTarget) return true;
  auto *entry =
      static_cast<PoolEntry *>(VListAllocWith(Malloc, sizeof(PoolEntry)));
  if (entry == nullptr) {
    platform::FileClose(descriptor);
    return false;
  }
  *entry = PoolEntry{descriptor};
  VListInsertAfter(state->pool, entry, VListTail(state->pool));
  return true;
}

// Opens up to poolSize files "path_NN".  With fewer than two the pool is
// given up for standard error.  ENOMEM when memory runs out (standard error is
// then current).
VRC SetUpPool(FileState *state) {
  if (state->pool == nullptr) state->pool = VListCreateWith(Malloc);
  if (state->pool == nullptr) return ENOMEM;
  size_t path_length = strlen(state->path);
  char *name = static_cast<char *>(Malloc(path_length + 4));
  bool ok = name != nullptr;
  if (ok) memcpy(name, state->path, path_length);
  for (int i = 1; ok && VListNumItems(state->pool) < state->poolSize &&
                  i < kPoolIndexLimit;
       ++i) {
    ok = AddPoolFile(state, name, path_length, i);
  }
  Free(name);
  if (!ok) {
    MakeCurrent(state, kStderrTarget);
    return ENOMEM;
  }
  if (VListNumItems(state->pool) < 2) {
    fputs("Failed to open enough files, using stderr\n", stderr);
    ReleasePool(state);
    MakeCurrent(state, kStderrTarget);
  }
  return 0;
}

// Moves to the pool file after the current one (the first after the last,
// or when none is current) and empties it.
void MoveToNextPoolFile(FileState *state) {
  PoolEntry *entry = EntryOfTarget(state, state->current);
  void *next = entry != nullptr ? VListNext(entry) : nullptr;
  if (next == nullptr) next = VListFirst(state->pool);
  entry = static_cast<PoolEntry *>(next);
  if (entry == nullptr || EmptyFile(entry->descriptor) != 0) {
    fprintf(stderr,
            "Failed trying to change to file pool - switching to stderr - "
            "%d\n",
            VRC_FAILURE);
    MakeCurrent(state, kStderrTarget);
    return;
  }
  MakeCurrent(state, entry->descriptor);
  state->knownSize = 0;
}

void OpenCurrentFile(FileState *state) {
  if (state->pool != nullptr) {
    MoveToNextPoolFile(state);
  } else {
    int descriptor = OpenLogFile(state->path);
    if (descriptor != kNoTarget) {
      MakeCurrent(state, descriptor);
    } else {
      SetUpPool(state);  // the next write moves into the first pool file
    }
  }
  state->openedTime = LogNow();
}

void ReleaseState(FileState *state) {
  if (IsFile(state->current) &&
      EntryOfTarget(state, state->current) == nullptr) {
    platform::FileClose(state->current);
  }
  ReleasePool(state);
  Free(state->path);
  Free(state);
}

// ---- Rotation.

bool SameLocalDate(time_t a, time_t b, time_t now) {
  struct tm ta;
  struct tm tb;
  if (platform::LocalTimeZoneOncePerSecond(a, now, &ta) != 0 ||
      platform::LocalTimeZoneOncePerSecond(b, now, &tb) != 0) {
    return true;
  }
  return ta.tm_mday == tb.tm_mday && ta.tm_mon == tb.tm_mon &&
         ta.tm_year == tb.tm_year;
}

bool SizeLimitReached(FileState *state, int64_t limit, size_t length) {
  if (limit <= 0) return false;
  int64_t needed = static_cast<int64_t>(length);
  if (state->knownSize < 0 || state->knownSize + needed > limit) {
    platform::FileInfo info;
    int error = platform::FileStatDescriptor(state->current, &info);
    if (error != 0) {
      char text[128];
      fprintf(stderr, "_VLogFileCheckRotate: fstat failed: %s\n",
              platform::ErrorText(error, text, sizeof text));
      return false;
    }
    state->knownSize = info.size;
  }
  return state->knownSize + needed > limit;
}

bool RotationDue(FileState *state, const RotationSettings &settings,
                 size_t length) {
  if (!IsFile(state->current)) return false;
  if (settings.format != nullptr) {
    time_t offset = RotationOffset(settings);
    time_t now = LogNow();
    return !SameLocalDate(now - offset, state->openedTime - offset, now);
  }
  return SizeLimitReached(state, MaxSize(settings), length);
}

// "path_suffix" in new storage, or null.
char *RotatedName(const FileState *state, const char *format) {
  char suffix[kSuffixSize] = "old";
  if (format != nullptr) {
    struct tm tm;
    time_t now = LogNow();
    if (platform::LocalTimeZoneOncePerSecond(now, now, &tm) != 0 ||
        strftime(suffix, sizeof suffix, format, &tm) == 0) {
      suffix[0] = '\0';
    }
  }
  size_t path_length = strlen(state->path);
  size_t suffix_length = strlen(suffix);
  char *name = static_cast<char *>(Malloc(path_length + suffix_length + 2));
  if (name == nullptr) return nullptr;
  memcpy(name, state->path, path_length);
  name[path_length] = '_';
  memcpy(name + path_length + 1, suffix, suffix_length + 1);
  return name;
}

void RenameFailed(FileState *state, int error) {
  fprintf(stderr, "Rename Failed - Error = %d\n", error);
  if (EnvSetOtherThan("VDE_LOGFILE_USESTDERR", "FALSE")) {
    fputs("Switching logging to stderr\n", stderr);
    MakeCurrent(state, kStderrTarget);
    return;
  }
  VRC rc = SetUpPool(state);
  if (rc != 0) {
    fprintf(stderr, "Failed to initialise file pool - Error = %d\n", rc);
    fputs("Stderr is disabled - stopped logging", stderr);
  }
}

// A log that is a device, a pipe or a socket (/dev/null, /dev/stdout, a
// FIFO) is never rotated: renaming it would move the device node itself.
bool IsPlainFile(int descriptor) {
  platform::FileInfo info;
  return platform::FileStatDescriptor(descriptor, &info) == 0 && info.isRegular;
}

// "path_oldK" into name, which has room for the path and kKeptSuffixRoom.
void KeptName(const FileState *state, char *name, int32_t k) {
  snprintf(name, strlen(state->path) + kKeptSuffixRoom, "%s_old%d", state->path,
           int(k));
}

// A missing file is no failure: earlier runs may have kept fewer.
int Absent(int error) { return error == ENOENT ? 0 : error; }

// Makes room for "path_old1": removes "path_oldN" and moves each older
// file one number up, the oldest first.  0, or the first failure.
int ShiftKeptFiles(const FileState *state, int32_t kept, char *from, char *to) {
  KeptName(state, to, kept);
  int error = Absent(platform::FileRemove(to));
  for (int32_t k = kept - 1; error == 0 && k >= 1; --k) {
    KeptName(state, from, k);
    error = Absent(platform::FileRename(from, to));
    std::swap(from, to);  // "from" is free now: it names the next target
  }
  return error;
}

// Size rotation keeping `kept` numbered files; a failure on the way ends
// as a failed rename does.  Without memory for the names the file is kept
// and the next write tries again.
void RotateKeeping(FileState *state, int32_t kept) {
  size_t size = strlen(state->path) + kKeptSuffixRoom;
  char *names = static_cast<char *>(Malloc(2 * size));
  if (names == nullptr) return;
  int error = ShiftKeptFiles(state, kept, names, names + size);
  platform::FileClose(state->current);
  MakeCurrent(state, kNoTarget);
  if (error == 0) {
    KeptName(state, names, 1);
    error = platform::FileRename(state->path, names);
  }
  Free(names);
  if (error != 0) RenameFailed(state, error);
}

// Without memory for the new name the file is kept and the next write
// tries again.
void Rotate(FileState *state, const char *format, int32_t kept) {
  if (!IsFile(state->current) || !IsPlainFile(state->current)) return;
  if (kept > 0 && format == nullptr && state->pool == nullptr) {
    RotateKeeping(state, kept);
    return;
  }
  char *rotated = RotatedName(state, format);
  if (rotated == nullptr) return;
  platform::FileRemove(rotated);
  if (state->pool != nullptr) {
    state->rotated = 1;
    Free(rotated);
    return;
  }
  platform::FileClose(state->current);
  MakeCurrent(state, kNoTarget);
  int error = platform::FileRename(state->path, rotated);
  Free(rotated);
  if (error != 0) RenameFailed(state, error);
}

// ---- File driver functions.

VRC FileOpen(const char *path, void **handle) {
  auto *state = static_cast<FileState *>(Calloc(1, sizeof(FileState)));
  if (state == nullptr) return ENOMEM;
  state->path = Strdup(path);
  if (state->path == nullptr) {
    Free(state);
    return ENOMEM;
  }
  state->current = kNoTarget;
  state->knownSize = -1;
  if (EnvSetOtherThan("VDE_LOGFILE_USESTDERR", "TRUE")) {
    platform::StdErrorToNullDevice();
  }
  state->poolSize = PoolSizeFromEnvironment();
  if (EnvSetOtherThan("VDE_LOGFILE_USEPOOL", "FALSE")) {
    VRC rc = SetUpPool(state);
    if (rc != 0) {
      ReleaseState(state);
      return rc;
    }
  }
  OpenCurrentFile(state);
  *handle = state;
  return 0;
}

// Headers go through the log manager, which may come back here: those
// nested writes neither rotate nor reopen, so the headers land whole at the
// top of the new file.
void StartNewFile(FileState *state) {
  state->rotated = 0;
  OpenCurrentFile(state);
  // A file that could not be opened has made way for the pool: carry on in
  // it now, so that neither the headers nor this line are lost.
  if (state->current == kNoTarget && state->pool != nullptr) {
    OpenCurrentFile(state);
  }
  state->loggingHeaders = 1;
  VLogHeaderLog();
  state->loggingHeaders = 0;
}

VRC FileWrite(void *handle, int, char *line, size_t length) {
  auto *state = static_cast<FileState *>(handle);
  if (state->loggingHeaders == 0) {
    RotationSettings settings = ReadRotationSettings();
    if (RotationDue(state, settings, length)) {
      Rotate(state, settings.format, KeptFiles(settings));
    }
    if (state->current == kNoTarget || state->rotated != 0) {
      StartNewFile(state);
    }
  }
  if (state->current == kNoTarget) return 0;
  if (WriteLine(state->current, line, length) != 0) {
    state->knownSize = -1;
  } else if (state->knownSize >= 0) {
    state->knownSize += static_cast<int64_t>(length) + 1;
  }
  return 0;
}

VRC FileClose(void *handle) {
  ReleaseState(static_cast<FileState *>(handle));
  return 0;
}

}  // namespace

const char *LogLevelWord(int level) {
  switch (level) {
    case VLOG_DEBUG:
      return "Debug";
    case VLOG_INFO:
      return "Information";
    case VLOG_WARN:
      return "Warning";
    case VLOG_ERROR:
      return "Error";
    case VLOG_FATAL:
      return "Fatal";
    default:
      return "Unknown";
  }
}

constinit const LogDriver kLogStreamDriver{StreamOpen, FormatLine, StreamWrite,
                                           LogDefaultClose};
constinit const LogDriver kLogFileDriver{FileOpen, FormatLine, FileWrite,
                                         FileClose};

}  // namespace vantrel::internal
