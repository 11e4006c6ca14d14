// The log manager: levels, log objects, the message path from VLog to a
// driver, the default standard-error driver, destinations and headers.
#include <errno.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>

#include <new>
#include <string_view>

#include "internal/alloc.h"
#include "log/destination.h"
#include "log/log_internal.h"
#include "log/log_record.h"
#include "log/system_log.h"
#include "platform/clock.h"
#include "text/simple_format.h"
#include "threads/log_hook.h"
#include "vantrel/venv.h"
#include "vantrel/vlist.h"
#include "vantrel/vrc.h"
#include "vantrel/vstrbuf.h"

namespace vantrel::internal {
namespace {

// Catalog texts are fetched into buffers of this size.
constexpr size_t kMessageSize = 1024;
// The component code: message 1 of set 100, at most 7 characters.
constexpr int kComponentSet = 100;
constexpr int kComponentNumber = 1;
constexpr size_t kComponentSize = 8;
// Set of the header lines, which have no catalog number.
constexpr int kHeaderSet = 105;

struct LevelRow {
  int32_t level;
  std::string_view name;
  char letter;
};

// Searched in this order; the last row answers for anything unmatched.
constexpr LevelRow kLevels[] = {
    {VLOG_FATAL, "fatal", 'F'}, {VLOG_ERROR, "error", 'E'},
    {VLOG_WARN, "warn", 'W'},   {VLOG_INFO, "info", 'I'},
    {VLOG_DEBUG, "debug", 'D'}, {VLOG_UNKNOWN, "unknown!", 'X'},
};
constexpr size_t kKnownLevels = sizeof kLevels / sizeof kLevels[0] - 1;

const LevelRow &RowOfLevel(int level) {
  for (size_t i = 0; i < kKnownLevels; ++i) {
    if (kLevels[i].level == level) return kLevels[i];
  }
  return kLevels[kKnownLevels];
}

// A name matches when the text starts with it, ignoring case.
int LevelOfName(const char *text) {
  if (text == nullptr) return VLOG_UNKNOWN;
  for (size_t i = 0; i < kKnownLevels; ++i) {
    if (strncasecmp(text, kLevels[i].name.data(), kLevels[i].name.size()) ==
        0) {
      return kLevels[i].level;
    }
  }
  return VLOG_UNKNOWN;
}

// ---- The default driver: standard error, "L-COMP-SET-NUM: text".

VRC DefaultOpen(const char *, void **handle) {
  *handle = nullptr;
  return 0;
}

VRC DefaultWrite(void *, int level, char *line, size_t) {
  fprintf(stderr, "%s: %s\n", RowOfLevel(level).name.data(), line);
  return 0;
}

constexpr LogDriver kDefaultDriver{DefaultOpen, LogDefaultFormat, DefaultWrite,
                                   LogDefaultClose};

// ---- Process-wide state.

// The manager's object: usable before initialisation, without a lock.
constinit VLogFileData g_manager{
    nullptr, {VLOG_WARN}, {0}, kDefaultDriver, nullptr};
// Header texts (list nodes hold the text itself); guarded by the manager's
// lock, null until initialisation.
VList *g_headers = nullptr;
bool g_exitHandlerSet = false;

VMutex LockOf(VLogFile log) {
  return std::atomic_ref<VMutex>(log->lock).load(std::memory_order_acquire);
}

// Holds an object's lock, when it has one, for the scope.
class LogLock {
 public:
  explicit LogLock(VLogFile log) : mutex_(LockOf(log)) {
    if (mutex_ != nullptr) VMutexLock(mutex_);
  }
  LogLock(const LogLock &) = delete;
  LogLock &operator=(const LogLock &) = delete;
  ~LogLock() {
    if (mutex_ != nullptr) VMutexUnlock(mutex_);
  }

 private:
  VMutex mutex_;
};

// The formatter is fetched outside the lock, so it is replaced atomically.
void SetDriver(VLogFile log, const LogDriver &driver, void *handle) {
  log->driver.open = driver.open;
  std::atomic_ref<LogFormatFunc>(log->driver.format)
      .store(driver.format, std::memory_order_relaxed);
  log->driver.write = driver.write;
  log->driver.close = driver.close;
  log->handle = handle;
}

void ApplyLevelFromEnvironment(VLogFile log) {
  int level = LevelOfName(VEnvGet("VDE_DEFAULT_LOG_LEVEL"));
  if (level != VLOG_UNKNOWN) log->level.store(level, std::memory_order_relaxed);
}

// Opens the destination with the driver registered for its scheme (the
// default one for a scheme without a driver) and installs both; when the open
// fails the default driver is installed instead.  A null specification keeps
// the default. The driver is replaced only once it is open, so a formatter
// fetched outside the lock is the old one or the new one, never a stop-gap.
VRC SwitchTo(VLogFile log, const char *spec) {
  LogDestination dest{"", ""};
  if (spec != nullptr) dest = LogDestinationParse(spec);
  const LogDriver *registered = LogSchemeDriver(dest.scheme);
  const LogDriver &driver =
      registered != nullptr ? *registered : kDefaultDriver;
  void *handle = nullptr;
  VRC rc = driver.open(dest.path, &handle);
  if (rc != 0) {
    SetDriver(log, kDefaultDriver, nullptr);
    return rc;
  }
  SetDriver(log, driver, handle);
  return 0;
}

// Closes the current destination (whatever its close returns) and opens
// another; the caller holds the lock, so no write sees the closed handle.
VRC ReplaceDestination(VLogFile log, const char *spec) {
  log->driver.close(log->handle);
  log->handle = nullptr;
  return SwitchTo(log, spec);
}

// Runs when the process exits or the library is unloaded.  The close runs
// after the lock is released: writers that come later already see the
// default driver.
void CloseManagerAtExit() {
  LogCloseFunc close;
  void *handle;
  {
    LogLock lock(&g_manager);
    close = g_manager.driver.close;
    handle = g_manager.handle;
    SetDriver(&g_manager, kDefaultDriver, nullptr);
  }
  close(handle);
}

// ---- The message path.

[[noreturn]] void FatalExit() { exit(1); }

// Room for the message text on the stack; longer texts go to the heap.
constexpr size_t kLocalText = 2048;

// Formats the message text after kLogPrefixRoom free bytes, in `local` when
// it fits and otherwise in a heap buffer left in *heap.  On failure reports
// it and returns the code.
VRC FormatText(char (&local)[kLogPrefixRoom + kLocalText], char **heap,
               LogLine *line, const char *format, va_list args) {
  va_list again;
  va_copy(again, args);
  int count = FormatSimple(local + kLogPrefixRoom, kLocalText, format, args);
  if (count < 0) {
    errno = 0;
    count = vsnprintf(local + kLogPrefixRoom, kLocalText, format, args);
  }
  VRC rc = 0;
  if (count < 0) {
    rc = errno != 0 ? errno : EINVAL;
  } else if (size_t(count) < kLocalText) {
    line->text = local + kLogPrefixRoom;
  } else {
    *heap = static_cast<char *>(Malloc(kLogPrefixRoom + size_t(count) + 1));
    if (*heap == nullptr) {
      rc = ENOMEM;
    } else {
      vsnprintf(*heap + kLogPrefixRoom, size_t(count) + 1, format, again);
      line->text = *heap + kLogPrefixRoom;
    }
  }
  va_end(again);
  if (rc != 0) {
    fprintf(stderr, "Log message format error [Msg=%s]. (%d:%s)\n", format, rc,
            VRCToString(rc));
  }
  // A line is a string: a %c of 0 ends it.
  if (rc == 0) line->textLength = strlen(line->text);
  return rc;
}

// Everything after the threshold test; kept out of line so that a
// discarded message costs a load and a comparison.
[[gnu::noinline]] VRC WriteMessage(VLogFile log, int level,
                                   VI18nCatalog catalog, int set, int number,
                                   const char *format, va_list args) {
  // Catalogs hand back the default text, cut to kMessageSize bytes; without
  // a catalog a format that fits is used where it is.
  char message[kMessageSize];
  if (catalog != nullptr || strnlen(format, kMessageSize) == kMessageSize) {
    VI18nMessageGet(catalog, set, number, format, message, sizeof message);
    format = message;
  }
  char local[kLogPrefixRoom + kLocalText];
  char *heap = nullptr;
  LogLine line{};
  VRC rc = FormatText(local, &heap, &line, format, args);
  if (rc != 0) return rc;
  LogFormatFunc formatter = std::atomic_ref<LogFormatFunc>(log->driver.format)
                                .load(std::memory_order_relaxed);
  if (formatter == nullptr) {
    fprintf(stderr, "No log formatter! %s", line.text);
    Free(heap);
    return VRC_FAILURE;
  }
  formatter(log, level, catalog, set, number, &line);
  {
    LogLock lock(log);
    rc = log->driver.write(log->handle, level, line.start, line.length);
  }
  Free(heap);
  if (level == VLOG_FATAL &&
      log->fatalDoesNotExit.load(std::memory_order_relaxed) == 0) {
    FatalExit();
  }
  return rc;
}

inline VRC LogMessage(VLogFile log, int level, int facility,
                      VI18nCatalog catalog, int set, int number,
                      const char *format, va_list args) {
  if (level < log->level.load(std::memory_order_relaxed)) return 0;
  if (level == VLOG_DEBUG && facility == 0) return 0;
  return WriteMessage(log, level, catalog, set, number, format, args);
}

// The thread manager's lines come in here once the manager is up.
VRC LogFromThreads(int level, int facility, VI18nCatalog catalog, int set,
                   int number, const char *format, va_list args) {
  return LogMessage(&g_manager, level, facility, catalog, set, number, format,
                    args);
}

// ---- Log objects.

VRC LogFileOpen(const char *destination, VLogFile *out) {
  *out = nullptr;
  LogRegisterSystemSchemes();
  void *memory = Calloc(1, sizeof(VLogFileData));
  if (memory == nullptr) return ENOMEM;
  VMutex mutex;
  VRC rc = VMutexCreate("LogFileHandle", &mutex);
  if (rc != 0) {
    Free(memory);
    return rc;
  }
  VLogFile log = new (memory)
      VLogFileData{mutex, {VLOG_WARN}, {0}, kDefaultDriver, nullptr};
  ApplyLevelFromEnvironment(log);
  rc = SwitchTo(log, destination);
  *out = log;
  return rc;
}

VRC LogFileClose(VLogFile log) {
  VRC rc = log->driver.close(log->handle);
  if (rc != 0) return rc;
  VMutexDestroy(log->lock);
  log->~VLogFileData();
  Free(log);
  return 0;
}

void SetLevel(VLogFile log, int level) {
  LogLock lock(log);
  log->level.store(level, std::memory_order_relaxed);
}

VRC SetLevelFromString(VLogFile log, const char *text) {
  int level = LevelOfName(text);
  if (level == VLOG_UNKNOWN) return VRC_FAILURE;
  SetLevel(log, level);
  return 0;
}

// ---- Headers.

// Appends a copy of the text to the header list and logs it; the caller
// holds the manager's lock.
VRC StoreHeader(const char *text, size_t length) {
  char *node = static_cast<char *>(VListAllocWith(Malloc, length + 1));
  if (node == nullptr) return VRC_FAILURE;
  memcpy(node, text, length + 1);
  VLog(VLOG_DEBUG, 1, nullptr, kHeaderSet, 0, "%s", node);
  VListInsertAfter(g_headers, node, VListTail(g_headers));
  return 0;
}

VRC HeaderAdd(const char *format, va_list args) {
  LogLock lock(&g_manager);
  if (g_headers == nullptr) return 0;
  vb_buffer text;
  vb_init_with(&text, Malloc, Free);
  VRC rc = vb_vsprintf(&text, format, args);
  if (rc == 0 && vb_strval(&text) == nullptr) rc = ENOMEM;
  if (rc == 0) rc = StoreHeader(vb_strval(&text), vb_strlen(&text));
  vb_free(&text);
  return rc;
}

VRC HeaderLog() {
  LogLock lock(&g_manager);
  if (g_headers == nullptr) return 0;
  VLog(VLOG_DEBUG, 1, nullptr, kHeaderSet, 0, "*** Log Header Begin ***");
  for (void *node = VListFirst(g_headers); node != nullptr;
       node = VListNext(node)) {
    VLog(VLOG_DEBUG, 1, nullptr, kHeaderSet, 0, "%s",
         static_cast<const char *>(node));
  }
  VLog(VLOG_DEBUG, 1, nullptr, kHeaderSet, 0, "*** Log Header End ***");
  return 0;
}

VRC CreateManagerLock() {
  if (LockOf(&g_manager) != nullptr) return 0;
  VMutex mutex;
  VRC rc = VMutexCreate("LogFileSubsystem", &mutex);
  if (rc != 0) return rc;
  std::atomic_ref<VMutex>(g_manager.lock)
      .store(mutex, std::memory_order_release);
  return 0;
}

VRC CreateHeaderList() {
  LogLock lock(&g_manager);
  if (g_headers != nullptr) return 0;
  g_headers = VListCreateWith(Malloc);
  if (g_headers != nullptr) return 0;
  fputs("Failed to create log header list\n", stderr);
  return VRC_FAILURE;
}

}  // namespace

VRC LogDefaultClose(void *) { return 0; }

VRC LogDefaultFormat(VLogFile, int level, VI18nCatalog catalog, int set,
                     int number, LogLine *line) {
  char component[kComponentSize];
  VI18nMessageGet(catalog, kComponentSet, kComponentNumber, "UNK", component,
                  sizeof component);
  char prefix[64];
  int n = snprintf(prefix, sizeof prefix,
                   "%c-%s-%03d-%03d: ", RowOfLevel(level).letter, component,
                   set, number);
  LogLinePrefix(line, prefix, size_t(n));
  return 0;
}

time_t LogNow() {
  platform::WallTime now;
  platform::WallClockNow(&now);  // zeroed when unreadable
  return static_cast<time_t>(now.seconds);
}

VRC LogMgrInitialise(const char *destination) {
  LogRegisterSystemSchemes();
  VRC rc = CreateManagerLock();
  if (rc != 0) return rc;
  {
    LogLock lock(&g_manager);
    g_manager.level.store(VLOG_WARN, std::memory_order_relaxed);
    ApplyLevelFromEnvironment(&g_manager);
    g_manager.fatalDoesNotExit.store(0, std::memory_order_relaxed);
    const char *forced = VEnvGet("VDE_FORCE_LOG_MODULE");
    ReplaceDestination(&g_manager, forced != nullptr ? forced : destination);
  }
  if (!g_exitHandlerSet) g_exitHandlerSet = atexit(CloseManagerAtExit) == 0;
  SetLogHook(LogFromThreads);
  return CreateHeaderList();
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VLog(int level, int facility, VI18nCatalog catalog, int set, int number,
         const char *format, ...) {
  if (format == nullptr) return EINVAL;
  va_list args;
  va_start(args, format);
  VRC rc = vi::LogMessage(&vi::g_manager, level, facility, catalog, set, number,
                          format, args);
  va_end(args);
  return rc;
}

VRC VLogLog(int level, int facility, VI18nCatalog catalog, int set, int number,
            const char *format, ...) {
  if (format == nullptr) return EINVAL;
  va_list args;
  va_start(args, format);
  VRC rc = vi::LogMessage(&vi::g_manager, level, facility, catalog, set, number,
                          format, args);
  va_end(args);
  return rc;
}

VRC VLogAP(int level, int facility, VI18nCatalog catalog, int set, int number,
           const char *format, va_list args) {
  if (format == nullptr) return EINVAL;
  return vi::LogMessage(&vi::g_manager, level, facility, catalog, set, number,
                        format, args);
}

VRC VLogToFile(VLogFile log, int level, int facility, VI18nCatalog catalog,
               int set, int number, const char *format, ...) {
  if (log == nullptr || format == nullptr) return EINVAL;
  va_list args;
  va_start(args, format);
  VRC rc =
      vi::LogMessage(log, level, facility, catalog, set, number, format, args);
  va_end(args);
  return rc;
}

VRC VLogToFileAP(VLogFile log, int level, int facility, VI18nCatalog catalog,
                 int set, int number, const char *format, va_list args) {
  if (log == nullptr || format == nullptr) return EINVAL;
  return vi::LogMessage(log, level, facility, catalog, set, number, format,
                        args);
}

VRC VLogFileOpen(const char *destination, VLogFile *log) {
  if (log == nullptr) return EINVAL;
  return vi::LogFileOpen(destination, log);
}

VRC VLogFileClose(VLogFile log) {
  if (log == nullptr) return EINVAL;
  return vi::LogFileClose(log);
}

void VLogFileSetLevel(VLogFile log, int level) {
  if (log == nullptr) return;
  vi::SetLevel(log, level);
}

int VLogFileGetLevel(VLogFile log) {
  if (log == nullptr) return 0;
  return log->level.load(std::memory_order_relaxed);
}

VRC VLogFileSetLevelFromString(VLogFile log, const char *text) {
  if (log == nullptr || text == nullptr) return EINVAL;
  return vi::SetLevelFromString(log, text);
}

void VLogFileSetFatalDoesNotExit(VLogFile log, int flag) {
  if (log == nullptr) return;
  log->fatalDoesNotExit.store(flag != 0, std::memory_order_relaxed);
}

void VLogMgrSetLevel(int level) { vi::SetLevel(&vi::g_manager, level); }

int VLogMgrGetLevel(void) {
  return vi::g_manager.level.load(std::memory_order_relaxed);
}

VRC VLogMgrSetLevelFromString(const char *text) {
  if (text == nullptr) return EINVAL;
  return vi::SetLevelFromString(&vi::g_manager, text);
}

void VLogMgrSetFatalDoesNotExit(int flag) {
  VLogFileSetFatalDoesNotExit(&vi::g_manager, flag);
}

VRC VLogMgrSwitch(const char *destination) {
  vi::LogLock lock(&vi::g_manager);
  return vi::ReplaceDestination(&vi::g_manager, destination);
}

int VLogLevelFromString(const char *text) { return vi::LevelOfName(text); }

const char *VLogLevelToString(int level) {
  return vi::RowOfLevel(level).name.data();
}

VRC VLogHeaderAdd(const char *format, ...) {
  if (format == nullptr) return EINVAL;
  va_list args;
  va_start(args, format);
  VRC rc = vi::HeaderAdd(format, args);
  va_end(args);
  return rc;
}

VRC VLogHeaderAddAP(const char *format, va_list args) {
  if (format == nullptr) return EINVAL;
  return vi::HeaderAdd(format, args);
}

VRC VLogHeaderLog(void) { return vi::HeaderLog(); }
