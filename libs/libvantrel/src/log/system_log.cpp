// The syslog and journal drivers.  Both speak their daemon's datagram
// protocol over a local socket themselves rather than through the C
// library's syslog or the journal's client library: each log object gets
// its own socket, identifier and facility (openlog's are process-wide and
// shared with the program), every call goes through the platform layer, a
// failed send is seen and the line goes to standard error instead, and the
// library keeps no run-time dependency beyond the C library.
//
// Lines are formatted by the default driver ("W-COMP-SSS-NNN: text"), so a
// line formatted just before a switch reads the same whichever of the
// three writes it; the writers take the message identity back out of it.
#include "log/system_log.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <atomic>
#include <string_view>

#include "internal/alloc.h"
#include "log/destination.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/socket.h"
#include "platform/system.h"
#include "threads/thr.h"

namespace vantrel::internal {
namespace {

enum class Service { kSyslog, kJournal };

constexpr const char *kDefaultSocket[] = {"/dev/log",
                                          "/run/systemd/journal/socket"};
constexpr const char *kServiceName[] = {"syslog", "the journal"};
constinit std::atomic<const char *> g_socketPath[2] = {nullptr, nullptr};

// Identifiers of up to 127 characters; longer ones are refused.
constexpr size_t kIdentSize = 128;
// The whole syslog datagram is cut to this, which every syslog daemon
// takes; journal messages are cut well below a datagram's limit.
constexpr size_t kMaxSyslogDatagram = 8192;
constexpr size_t kMaxJournalMessage = 65536;

constexpr int kUserFacility = 1;
struct FacilityName {
  std::string_view name;
  int code;
};
constexpr FacilityName kFacilities[] = {
    {"kern", 0},    {"user", 1},    {"mail", 2},      {"daemon", 3},
    {"auth", 4},    {"syslog", 5},  {"lpr", 6},       {"news", 7},
    {"uucp", 8},    {"cron", 9},    {"authpriv", 10}, {"ftp", 11},
    {"local0", 16}, {"local1", 17}, {"local2", 18},   {"local3", 19},
    {"local4", 20}, {"local5", 21}, {"local6", 22},   {"local7", 23},
};

struct SystemLog {
  Service service;
  int sock;
  platform::SocketAddress address;
  int facility;  // -1: not given (syslog then uses user)
  bool failing;  // the last send failed and its line went to stderr
  char ident[kIdentSize];
  time_t stampSecond;  // syslog's time stamp, remade once a second
  char stamp[16];      // "Mmm dd hh:mm:ss"
};

// ---- Opening.

const char *SocketPath(Service service) {
  const char *path = g_socketPath[int(service)].load(std::memory_order_acquire);
  return path != nullptr ? path : kDefaultSocket[int(service)];
}

int FacilityOf(std::string_view name) {
  for (const FacilityName &f : kFacilities) {
    if (f.name == name) return f.code;
  }
  return -1;
}

// The program's own name, as the system reports it.
void ProgramName(char *ident) {
  size_t length = 0;
  if (platform::FileReadSmall("/proc/self/comm", ident, kIdentSize - 1,
                              &length) != 0) {
    length = 0;
  }
  while (length > 0 && (ident[length - 1] == '\n' || ident[length - 1] == 0)) {
    --length;
  }
  if (length == 0) {
    memcpy(ident, "log", 4);
  } else {
    ident[length] = '\0';
  }
}

// "IDENT" or "IDENT?facility=NAME"; an empty IDENT is the program's name.
// EINVAL for anything else, a control character or an overlong IDENT.
VRC ParseSpec(const char *spec, SystemLog *log) {
  // The destination parser hands over "scheme://" less "scheme:/".
  if (spec[0] == '/') ++spec;
  std::string_view text(spec);
  size_t query = text.find('?');
  std::string_view ident(spec,
                         query == std::string_view::npos ? text.size() : query);
  if (ident.size() >= kIdentSize) return EINVAL;
  for (char c : ident) {
    if (static_cast<unsigned char>(c) < 0x20) return EINVAL;
  }
  if (ident.empty()) {
    ProgramName(log->ident);
  } else {
    memcpy(log->ident, ident.data(), ident.size());
    log->ident[ident.size()] = '\0';
  }
  log->facility = -1;
  if (query == std::string_view::npos) return 0;
  constexpr std::string_view kKey = "facility=";
  std::string_view rest(spec + query + 1);
  if (rest.size() < kKey.size() ||
      memcmp(rest.data(), kKey.data(), kKey.size()) != 0) {
    return EINVAL;
  }
  log->facility = FacilityOf(
      std::string_view(rest.data() + kKey.size(), rest.size() - kKey.size()));
  return log->facility < 0 ? EINVAL : 0;
}

void ReportUnreachable(Service service, const char *path, int error) {
  char text[128];
  fprintf(stderr, "Cannot reach %s at %s (%s) - logging to stderr\n",
          kServiceName[int(service)], path,
          platform::ErrorText(error, text, sizeof text));
}

// A datagram socket connected to the service; the service's absence is
// reported on standard error.
VRC Connect(SystemLog *log) {
  const char *path = SocketPath(log->service);
  int error = platform::LocalSocketAddressMake(path, &log->address);
  if (error == 0) {
    error =
        platform::LocalSocketOpen(platform::SocketType::kDatagram, &log->sock);
  }
  if (error == 0) {
    error = platform::SocketConnect(log->sock, log->address.bytes,
                                    log->address.length);
    if (error != 0) platform::SocketClose(log->sock);
  }
  if (error != 0) ReportUnreachable(log->service, path, error);
  return error;
}

VRC Open(Service service, const char *spec, void **handle) {
  auto *log = static_cast<SystemLog *>(Calloc(1, sizeof(SystemLog)));
  if (log == nullptr) return ENOMEM;
  log->service = service;
  log->sock = platform::kInvalidSocket;
  log->stampSecond = -1;
  VRC rc = ParseSpec(spec, log);
  if (rc == 0) rc = Connect(log);
  if (rc != 0) {
    Free(log);
    return rc;
  }
  *handle = log;
  return 0;
}

VRC SyslogOpen(const char *spec, void **handle) {
  return Open(Service::kSyslog, spec, handle);
}

VRC JournalOpen(const char *spec, void **handle) {
  return Open(Service::kJournal, spec, handle);
}

VRC SystemClose(void *handle) {
  auto *log = static_cast<SystemLog *>(handle);
  platform::SocketClose(log->sock);
  Free(log);
  return 0;
}

// ---- What a line carries.

int Priority(int level) {
  switch (level) {
    case VLOG_DEBUG:
      return 7;  // LOG_DEBUG
    case VLOG_INFO:
      return 6;  // LOG_INFO
    case VLOG_WARN:
      return 4;  // LOG_WARNING
    case VLOG_ERROR:
      return 3;  // LOG_ERR
    case VLOG_FATAL:
      return 2;  // LOG_CRIT
    default:
      return 5;  // LOG_NOTICE for levels outside the table
  }
}

// The default driver's "L-COMP-SSS-NNN: text" taken apart; a line of
// another shape is all text.
struct LineParts {
  std::string_view id;  // "COMP-SSS-NNN", or empty
  std::string_view text;
};

LineParts SplitLine(const char *line, size_t length) {
  std::string_view whole(line, length);
  size_t colon = whole.find(": ");
  if (length < 2 || line[1] != '-' || colon == std::string_view::npos) {
    return {{}, whole};
  }
  // Without substr, whose bounds check calls into the C++ runtime.
  return {std::string_view(line + 2, colon - 2),
          std::string_view(line + colon + 2, length - colon - 2)};
}

// The writing thread's name, or null for a thread without a record.
const char *ThreadName() {
  VThreadData *self = CurrentThread();
  return self != nullptr ? self->name : nullptr;
}

// ---- Syslog: "<PRI>Mmm dd hh:mm:ss IDENT[PID]: [THREAD] line".

void UpdateStamp(SystemLog *log) {
  time_t now = LogNow();
  if (now == log->stampSecond) return;
  static constexpr char kMonths[][4] = {"Jan", "Feb", "Mar", "Apr",
                                        "May", "Jun", "Jul", "Aug",
                                        "Sep", "Oct", "Nov", "Dec"};
  struct tm tm;
  if (platform::LocalTimeZoneOncePerSecond(now, now, &tm) != 0 ||
      tm.tm_mon < 0 || tm.tm_mon > 11) {
    tm = {};
    tm.tm_mday = 1;
  }
  memcpy(log->stamp, kMonths[tm.tm_mon], 3);
  snprintf(log->stamp + 3, sizeof log->stamp - 3, " %2u %02u:%02u:%02u",
           unsigned(tm.tm_mday) % 100, unsigned(tm.tm_hour) % 100,
           unsigned(tm.tm_min) % 100, unsigned(tm.tm_sec) % 100);
  log->stampSecond = now;
}

size_t SyslogPieces(SystemLog *log, int level, const char *line, size_t length,
                    char *header, size_t header_size,
                    platform::SendPiece *pieces) {
  UpdateStamp(log);
  int facility = log->facility < 0 ? kUserFacility : log->facility;
  const char *thread = ThreadName();
  int n = snprintf(header, header_size,
                   "<%d>%s %s[%u]: ", facility * 8 + Priority(level),
                   log->stamp, log->ident, unsigned(platform::ProcessId()));
  size_t used = size_t(n) < header_size ? size_t(n) : header_size - 1;
  if (thread != nullptr) {
    n = snprintf(header + used, header_size - used, "[%s] ", thread);
    used += size_t(n) < header_size - used ? size_t(n) : 0;
  }
  size_t room = kMaxSyslogDatagram - used;
  pieces[0] = {header, used};
  pieces[1] = {line, length < room ? length : room};
  return 2;
}

// ---- The journal: "KEY=value\n" fields, or "KEY\n", the value's length
// as 64-bit little-endian, the value and "\n" for a value with a line feed.

class Fields {
 public:
  Fields(char *buffer, size_t size) : buffer_(buffer), size_(size) {}

  void Add(std::string_view key, std::string_view value) {
    bool binary = value.find('\n') != std::string_view::npos;
    if (used_ + key.size() + value.size() + 10 > size_) return;
    Put(key);
    if (binary) {
      Put("\n");
      PutLength(value.size());
    } else {
      Put("=");
    }
    Put(value);
    Put("\n");
  }

  void AddNumber(std::string_view key, long value) {
    char digits[24];
    int n = snprintf(digits, sizeof digits, "%ld", value);
    Add(key, std::string_view(digits, size_t(n)));
  }

  // The start of a field whose value is sent as a separate piece.
  void Open(std::string_view key, std::string_view value) {
    Put(key);
    if (value.find('\n') != std::string_view::npos) {
      Put("\n");
      PutLength(value.size());
    } else {
      Put("=");
    }
  }

  size_t used() const { return used_; }

 private:
  void Put(std::string_view text) {
    memcpy(buffer_ + used_, text.data(), text.size());
    used_ += text.size();
  }
  void PutLength(uint64_t length) {
    for (int i = 0; i < 8; ++i) buffer_[used_++] = char(length >> (8 * i));
  }

  char *buffer_;
  size_t size_;
  size_t used_ = 0;
};

// Room for every field and the message's start: the identifier, the
// thread name and the message id are bounded, each field costs at most its
// key, nine bytes of framing and its value.
constexpr size_t kMaxMessageId = 64;
constexpr size_t kJournalHeaderSize = 512;
static_assert(kJournalHeaderSize >= 7 * (sizeof "SYSLOG_IDENTIFIER" + 9) +
                                        kIdentSize + kThreadNameSize +
                                        kMaxMessageId + 3 * 24);

size_t JournalPieces(SystemLog *log, int level, const char *line, size_t length,
                     char *header, size_t header_size,
                     platform::SendPiece *pieces) {
  LineParts parts = SplitLine(line, length);
  if (parts.text.size() > kMaxJournalMessage) {
    parts.text = std::string_view(parts.text.data(), kMaxJournalMessage);
  }
  Fields fields(header, header_size);
  fields.AddNumber("PRIORITY", Priority(level));
  if (log->facility >= 0) fields.AddNumber("SYSLOG_FACILITY", log->facility);
  fields.Add("SYSLOG_IDENTIFIER", log->ident);
  fields.AddNumber("SYSLOG_PID", long(platform::ProcessId()));
  if (const char *thread = ThreadName(); thread != nullptr) {
    fields.Add("THREAD_NAME", thread);
  }
  if (!parts.id.empty() && parts.id.size() <= kMaxMessageId) {
    fields.Add("VANTREL_MSGID", parts.id);
  }
  fields.Open("MESSAGE", parts.text);
  pieces[0] = {header, fields.used()};
  pieces[1] = {parts.text.data(), parts.text.size()};
  pieces[2] = {"\n", 1};
  return 3;
}

// ---- Writing.

bool PeerGone(int error) {
  return error == ECONNREFUSED || error == ENOTCONN || error == ENOENT ||
         error == ECONNRESET;
}

// One datagram; a daemon that went away and came back is connected to
// again once.
int Send(SystemLog *log, const platform::SendPiece *pieces, size_t count) {
  bool reconnected = false;
  for (;;) {
    size_t sent;
    int error = platform::SocketSendPieces(log->sock, pieces, count, 0, nullptr,
                                           0, &sent);
    if (error == EINTR) continue;
    if (error == 0 || reconnected || !PeerGone(error)) return error;
    reconnected = true;
    error = platform::SocketConnect(log->sock, log->address.bytes,
                                    log->address.length);
    if (error != 0) return error;
  }
}

// The line goes to standard error as the default driver writes it; the
// first failure of a run of them says why.
void FallBack(SystemLog *log, int level, const char *line, int error) {
  if (!log->failing) {
    ReportUnreachable(log->service, SocketPath(log->service), error);
  }
  log->failing = true;
  fprintf(stderr, "%s: %s\n", VLogLevelToString(level), line);
}

VRC SystemWrite(void *handle, int level, char *line, size_t length) {
  auto *log = static_cast<SystemLog *>(handle);
  char header[kJournalHeaderSize];
  platform::SendPiece pieces[3];
  size_t count = log->service == Service::kSyslog
                     ? SyslogPieces(log, level, line, length, header,
                                    sizeof header, pieces)
                     : JournalPieces(log, level, line, length, header,
                                     sizeof header, pieces);
  int error = Send(log, pieces, count);
  if (error != 0) {
    FallBack(log, level, line, error);
  } else {
    log->failing = false;
  }
  return 0;
}

}  // namespace

constinit const LogDriver kLogSyslogDriver{SyslogOpen, LogDefaultFormat,
                                           SystemWrite, SystemClose};
constinit const LogDriver kLogJournalDriver{JournalOpen, LogDefaultFormat,
                                            SystemWrite, SystemClose};

void LogRegisterSystemSchemes() {
  // Registration refuses a scheme that has a driver, so repeats are
  // harmless; the look-up keeps them off the registry's lock.
  if (LogSchemeDriver("journal") != nullptr) return;
  LogSchemeRegister("syslog", &kLogSyslogDriver);
  LogSchemeRegister("journal", &kLogJournalDriver);
}

void LogSetSystemSocketPaths(const char *syslog, const char *journal) {
  g_socketPath[int(Service::kSyslog)].store(syslog, std::memory_order_release);
  g_socketPath[int(Service::kJournal)].store(journal,
                                             std::memory_order_release);
}

}  // namespace vantrel::internal
