// Return codes: the registry of code tables, the built-in table and the
// conversions of codes into text.
//
// Texts are written into the calling thread's error buffer (or come from
// the C library), so no conversion allocates.  The registry is append-only:
// a writer fills a slot and then publishes the new count, so readers never
// need a lock.
#include "core/retcode.h"

#include <errno.h>
#include <string.h>

#include <atomic>
#include <climits>
#include <cstdio>

#include "platform/system.h"
#include "platform/thread.h"
#include "threads/error_buffer.h"
#include "vantrel/vrc.h"

namespace vantrel::internal {
namespace {

constexpr int32_t kMaxRegistrations = 64;
constexpr size_t kFallbackFormatSize = 1024;
constexpr size_t kScratchSize = 256;
constexpr const char *kUnknownErrorFormat = "Unknown error %ld";
constexpr int32_t kGeneralSet = 1;
constexpr int32_t kUnknownErrorNumber = 1;

struct Registration {
  VI18nCatalog catalog;
  int32_t count;
  const VRCEntry *table;
};

// The general codes from the list in vrc_codes.h, then the socket-layer
// texts (message set 11).  Texts are the library's own and are kept
// exactly as shipped.
constexpr VRCEntry kBuiltinCodes[] = {
#define VRC_GENERAL_CODE(name, code, message_number, default_text) \
  {name, kGeneralSet, message_number, default_text},
#include "vantrel/vrc_codes.h"
    {10004, 11, 7, "WinSock error. Interrupted function call."},
    {10009, 11, 8, "WinSock error. File handle is not valid."},
    {10013, 11, 9, "WinSock error. Permission denied."},
    {10014, 11, 10, "WinSock error. Bad address."},
    {10022, 11, 11, "WinSock error. Invalid argument."},
    {10024, 11, 12, "Too many open sockets."},
    {10035, 11, 13, "WinSock error. Resource temporarily unavailable."},
    {10036, 11, 14, "WinSock error. Operation now in progress."},
    {10037, 11, 15, "WinSock error. Operation already in progress."},
    {10038, 11, 16, "Socket operation on nonsocket."},
    {10039, 11, 17, "WinSock error. Destination address required."},
    {10040, 11, 18, "WinSock error. Message too long."},
    {10041, 11, 19, "Protocol wrong type for socket."},
    {10042, 11, 20, "WinSock error. Bad protocol option."},
    {10043, 11, 21, "WinSock error. Protocol not supported."},
    {10044, 11, 22, "Socket type not supported."},
    {10045, 11, 23, "WinSock error. Operation not supported."},
    {10046, 11, 24, "WinSock error. Protocol family not supported."},
    {10047, 11, 25,
     "WinSock error. Address family not supported by protocol family."},
    {10048, 11, 26, "WinSock error. Address already in use."},
    {10049, 11, 27, "WinSock error. Cannot assign requested address."},
    {10050, 11, 28, "Network is down."},
    {10051, 11, 29, "Network is unreachable."},
    {10052, 11, 30, "Network dropped connection on reset."},
    {10053, 11, 31, "Software caused connection abort."},
    {10054, 11, 32, "Connection reset by peer."},
    {10055, 11, 33, "WinSock error. No buffer space available."},
    {10056, 11, 34, "Socket is already connected."},
    {10057, 11, 35, "Socket is not connected."},
    {10058, 11, 36, "Cannot send after socket shutdown."},
    {10059, 11, 37, "WinSock error. Too many references to kernal object."},
    {10060, 11, 38, "Connection timed out."},
    {10061, 11, 39, "Connection refused."},
    {10062, 11, 40, "Cannot translate name."},
    {10063, 11, 41, "WinSock error. Name too long."},
    {10064, 11, 42, "Destination host is down."},
    {10065, 11, 43, "No route to host."},
    {10066, 11, 44, "WinSock error. Directory not empty."},
    {10067, 11, 45, "WinSock error. Too many processes."},
    {10068, 11, 46, "WinSock error. User quota exceeded."},
    {10069, 11, 47, "WinSock error. Disk quota exceeded."},
    {10070, 11, 48, "WinSock error. Stale file handle reference."},
    {10071, 11, 49, "WinSock error. Item is remote."},
    {10091, 11, 50, "Network subsystem is unavailable."},
    {10092, 11, 51, "Winsock.dll version out of range."},
    {10093, 11, 52, "Successful WSAStartup not yet performed."},
    {10101, 11, 53, "WinSock error. Remote graceful shutdown in progress."},
    {10102, 11, 54, "WinSock error. No more results."},
    {10103, 11, 55, "WinSock error. Call has been canceled."},
    {10104, 11, 56, "WinSock error. Procedure call table is invalid."},
    {10105, 11, 57, "WinSock error. Service provider is invalid."},
    {10106, 11, 58, "WinSock error. Service provider failed to initialize."},
    {10107, 11, 59, "WinSock error. System call failure."},
    {10108, 11, 60, "WinSock error. Service not found."},
    {10109, 11, 61, "WinSock error. Class type not found."},
    {10110, 11, 62, "WinSock error. No more results."},
    {10111, 11, 63, "WinSock call was canceled."},
    {10112, 11, 64, "WinSock error. Database query was refused."},
    {11001, 11, 65, "WinSock error. Host not found."},
    {11002, 11, 66, "Name server has a temporary error."},
    {11003, 11, 67, "WinSock error. Nonrecoverable database lookup error."},
    {11004, 11, 68, "Valid host name, but no data record of requested type."},
};

// Process-wide registry state: plain storage, no constructors.
Registration g_registrations[kMaxRegistrations];
std::atomic<int32_t> g_registrationCount{0};
std::atomic_flag g_registerBusy = ATOMIC_FLAG_INIT;  // serialises writers
char g_fallbackFormat[kFallbackFormatSize];
VI18nCatalog g_libraryCatalog = nullptr;

// 0: built-ins not registered; 1: a thread is registering them; 2: done.
std::atomic<int32_t> g_builtinState{0};
VRC g_builtinResult = 0;  // written before the state becomes 2

// Used when the calling thread has no record (before initialisation), and
// for the C library's text of an error number it does not know.
constinit thread_local char t_scratch[kScratchSize];

void CopyText(char *dest, size_t size, const char *text) {
  if (size == 0) return;
  size_t n = text != nullptr ? strnlen(text, size - 1) : 0;
  if (n > 0) memcpy(dest, text, n);
  dest[n] = '\0';
}

// The calling thread's error buffer, or the scratch buffer when it has no
// record yet.
char *ErrorBuffer(size_t *size) {
  char *buffer = CurrentErrorBuffer(size);
  if (buffer != nullptr) return buffer;
  *size = kScratchSize;
  return t_scratch;
}

const VRCEntry *FindEntry(VRC code, VI18nCatalog *catalog) {
  int32_t count = g_registrationCount.load(std::memory_order_acquire);
  for (int32_t i = 0; i < count; ++i) {
    const Registration &reg = g_registrations[i];
    for (int32_t row = 0; row < reg.count; ++row) {
      if (reg.table[row].code != code) continue;
      *catalog = reg.catalog;
      return &reg.table[row];
    }
  }
  return nullptr;
}

// The "Unknown error" format with the code, in signed decimal.
void FormatUnknown(char *dest, size_t size, const char *format, VRC code) {
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  snprintf(dest, size, format, static_cast<long>(code));
#pragma GCC diagnostic pop
}

void FillFallbackFormat(VI18nCatalog catalog) {
  if (catalog == nullptr) {
    CopyText(g_fallbackFormat, sizeof(g_fallbackFormat), kUnknownErrorFormat);
    return;
  }
  VI18nMessageGet(catalog, kGeneralSet, kUnknownErrorNumber,
                  kUnknownErrorFormat, g_fallbackFormat,
                  sizeof(g_fallbackFormat));
}

// Writers are serialised by a spin flag; the slot is filled before the new
// count is published, so readers that load the count see complete slots.
VRC Register(VI18nCatalog catalog, int count, const VRCEntry *table) {
  while (g_registerBusy.test_and_set(std::memory_order_acquire)) {
    platform::ThreadYield();
  }
  VRC rc = VRC_FAILURE;
  int32_t n = g_registrationCount.load(std::memory_order_relaxed);
  if (n < kMaxRegistrations) {
    g_registrations[n] = {catalog, count, table};
    g_registrationCount.store(n + 1, std::memory_order_release);
    rc = 0;
  }
  g_registerBusy.clear(std::memory_order_release);
  return rc;
}

VRC RegisterBuiltinsOnce(VI18nCatalog catalog) {
  constexpr int count = sizeof(kBuiltinCodes) / sizeof(kBuiltinCodes[0]);
  VRC rc = Register(catalog, count, kBuiltinCodes);
  if (rc == 0) FillFallbackFormat(catalog);
  return rc;
}

}  // namespace

VRC RegisterBuiltinReturnCodes(VI18nCatalog catalog) {
  int32_t state = g_builtinState.load(std::memory_order_acquire);
  if (state == 2) return 0;
  int32_t expected = 0;
  if (g_builtinState.compare_exchange_strong(expected, 1,
                                             std::memory_order_acquire)) {
    g_builtinResult = RegisterBuiltinsOnce(catalog);
    g_builtinState.store(2, std::memory_order_release);
    return g_builtinResult;
  }
  // Another thread is registering: wait so that no lookup runs against a
  // half-made registry.
  while (g_builtinState.load(std::memory_order_acquire) != 2) {
    platform::ThreadYield();
  }
  return 0;
}

VI18nCatalog LibraryCatalog() {
  return __atomic_load_n(&g_libraryCatalog, __ATOMIC_ACQUIRE);
}

void SetLibraryCatalog(VI18nCatalog catalog) {
  __atomic_store_n(&g_libraryCatalog, catalog, __ATOMIC_RELEASE);
}

size_t RemoveOneLineEnd(char *text) {
  size_t n = strlen(text);
  if (n <= 2) return n;
  if (text[n - 2] == '\r') {
    text[n - 2] = '\0';
    return n - 2;
  }
  if (text[n - 1] == '\n') {
    text[n - 1] = '\0';
    return n - 1;
  }
  return n;
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VRCRegister(VI18nCatalog catalog, int count, const VRCEntry *table) {
  if (table == nullptr) return EINVAL;
  return vi::Register(catalog, count, table);
}

const char *VRCToString(VRC code) {
  vi::RegisterBuiltinReturnCodes(nullptr);
  if (code >= 1 && code <= 9999) {
    return vantrel::platform::ErrorText(code, vi::t_scratch,
                                        sizeof(vi::t_scratch));
  }
  size_t size = 0;
  char *buffer = vi::ErrorBuffer(&size);
  VI18nCatalog catalog = nullptr;
  const VRCEntry *entry = vi::FindEntry(code, &catalog);
  if (entry == nullptr) {
    vi::FormatUnknown(buffer, size, vi::g_fallbackFormat, code);
  } else if (catalog != nullptr) {
    VI18nMessageGet(catalog, entry->set, entry->number, entry->text, buffer,
                    size);
  } else {
    vi::CopyText(buffer, size, entry->text);
  }
  return buffer;
}

// The system's texts here are the C library's error texts; the home
// platform's separate table of network-management texts has no counterpart,
// so those codes share the same lookup.
VRC VRCFormatWin32Message(uint32_t code, char *buffer, uint32_t size) {
  if (buffer == nullptr) return EINVAL;
  if (size == 0) return VRC_FAILURE;
  memset(buffer, 0, size);
  if (code > static_cast<uint32_t>(INT_MAX)) return VRC_FAILURE;
  int errnum = static_cast<int>(code);
  if (!vantrel::platform::HasErrorText(errnum)) return VRC_FAILURE;
  const char *text = vantrel::platform::ErrorText(errnum, buffer, size);
  if (text != buffer) vi::CopyText(buffer, size, text);
  if (buffer[0] == '\0') return VRC_FAILURE;
  vi::RemoveOneLineEnd(buffer);
  return 0;
}

char *VRCWin32ErrorCodeToString(uint32_t code) {
  size_t size = 0;
  char *buffer = vi::ErrorBuffer(&size);
  if (VRCFormatWin32Message(code, buffer, static_cast<uint32_t>(size)) == 0) {
    return buffer;
  }
  char format[vi::kScratchSize];
  VI18nMessageGet(vi::LibraryCatalog(), vi::kGeneralSet,
                  vi::kUnknownErrorNumber, vi::kUnknownErrorFormat, format,
                  sizeof(format));
  vi::FormatUnknown(buffer, size, format, static_cast<VRC>(code));
  return buffer;
}
