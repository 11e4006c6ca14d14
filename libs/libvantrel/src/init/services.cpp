// Library start-up, the program's identity and the installation paths.
// Every answer is worked out once and kept in static storage, so callers get
// constant strings that live as long as the process.
#include <errno.h>
#include <locale.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

#include "core/retcode.h"
#include "internal/alloc.h"
#include "log/log_internal.h"
#include "platform/system.h"
#include "threads/thr.h"
#include "vantrel/venv.h"
#include "vantrel/vi18n.h"
#include "vantrel/vrc.h"
#include "vantrel/vservices.h"

// The home used when the environment names none, fixed when the library is
// configured so that an installed library finds its own files.
#ifndef VANTREL_DEFAULT_HOME
#define VANTREL_DEFAULT_HOME "/usr/local/lib/vantrel"
#endif

namespace vantrel::internal {
namespace {

constexpr size_t kHomeSize = 261;      // 260 characters and a NUL
constexpr size_t kHostNameSize = 256;  // 255 characters and a NUL
constexpr size_t kDirSize = 261;
constexpr char kPathSeparator = '/';
constexpr char kDefaultPlatform[] = "linux";
constexpr char kProductSubdir[] = "Kessaly";

// Start-up is run by one thread before others use the library; the flag
// and the names are atomic only so that later readers on other threads see
// them published.
std::atomic<int> g_initialised{0};
std::atomic<const char *> g_appName{nullptr};
std::atomic<char *> g_procName{nullptr};

// A retry after a failed start-up keeps the locale and catalog of the
// earlier attempt: catalogs cannot be closed, so opening again would leak.
VI18nLocale g_locale = nullptr;
bool g_localeCreated = false;
bool g_catalogOpened = false;

VRC CreateLocaleAndCatalog() {
  if (!g_localeCreated) {
    VRC rc = VI18nLocaleCreate(nullptr, nullptr, nullptr, nullptr, &g_locale);
    if (rc != 0) return rc;
    g_localeCreated = true;
  }
  if (!g_catalogOpened) {
    // Without a catalog the library renders its built-in texts.
    VI18nCatalog catalog = nullptr;
    if (VI18nCatalogOpen(g_locale, "libvantrel", &catalog) != 0) {
      catalog = nullptr;
    }
    SetLibraryCatalog(catalog);
    g_catalogOpened = true;
  }
  return 0;
}

VRC PrepareLocalisation() {
  VRC rc = VI18nInitialize();
  if (rc != 0) return rc;
  rc = VI18nSetLangCode();
  if (rc != 0) return rc;
  return CreateLocaleAndCatalog();
}

VRC Initialise(const char *appName, const char *logDestination) {
  if (g_initialised.load(std::memory_order_acquire)) return 0;
  g_appName.store(appName, std::memory_order_release);
  (void)setlocale(LC_ALL, "");
  VRC rc = PrepareLocalisation();
  if (rc != 0) {
    // The caller can still turn the code into text.
    (void)RegisterBuiltinReturnCodes(nullptr);
    return rc;
  }
  rc = RegisterBuiltinReturnCodes(LibraryCatalog());
  if (rc != 0) return rc;
  rc = ThreadSubsystemInit();
  if (rc != 0) return rc;
  rc = LogMgrInitialise(logDestination);
  if (rc != 0) return rc;
  g_initialised.store(1, std::memory_order_release);
  return 0;
}

VRC SetProcName(const char *name) {
  Free(g_procName.exchange(nullptr));
  if (name == nullptr) return 0;
  char *copy = Strdup(name);
  if (copy == nullptr) return ENOMEM;
  g_procName.store(copy);
  return 0;
}

const char *ProcName() {
  const char *name = g_procName.load();
  return name != nullptr ? name : g_appName.load(std::memory_order_acquire);
}

// Copies at most size - 1 bytes of text into dest and terminates it.
void CopyCut(char *dest, size_t size, const char *text) {
  size_t length = strnlen(text, size - 1);
  memcpy(dest, text, length);
  dest[length] = '\0';
}

// A home: the environment variable, else the built-in default (with
// `below` appended when given), without one trailing separator.
const char *WorkOutHome(char *buffer, const char *variable, const char *below) {
  const char *value = VEnvGet(variable);
  CopyCut(buffer, kHomeSize, value != nullptr ? value : "");
  if (buffer[0] == '\0' && below == nullptr) {
    CopyCut(buffer, kHomeSize, VANTREL_DEFAULT_HOME);
  } else if (buffer[0] == '\0') {
    snprintf(buffer, kHomeSize, "%s%c%s", VANTREL_DEFAULT_HOME, kPathSeparator,
             below);
  }
  size_t length = strlen(buffer);
  if (length > 0 && buffer[length - 1] == kPathSeparator) {
    buffer[length - 1] = '\0';
  }
  return buffer;
}

const char *VtHome() {
  static char buffer[kHomeSize];
  static const char *const home = WorkOutHome(buffer, "VTHOME", nullptr);
  return home;
}

const char *KessHome() {
  static char buffer[kHomeSize];
  static const char *const home =
      WorkOutHome(buffer, "KESSHOME", kProductSubdir);
  return home;
}

const char *Platform() {
  static const char *const platform = [] {
    const char *value = VEnvGet("VTPLATFORM");
    return value != nullptr ? value : kDefaultPlatform;
  }();
  return platform;
}

const char *FormatPlatformDir(char *buffer, const char *name) {
  snprintf(buffer, kDirSize, "%s%c%s", name, kPathSeparator, Platform());
  return buffer;
}

const char *HostName() {
  static char buffer[kHostNameSize];
  static const char *const name = [] {
    if (!platform::HostName(buffer, sizeof buffer)) {
      CopyCut(buffer, sizeof buffer, "localhost");
    }
    return static_cast<const char *>(buffer);
  }();
  return name;
}

void ConstructPath(char *dest, const char *first, va_list pieces) {
  size_t used = 0;
  for (const char *piece = first; piece != nullptr;
       piece = va_arg(pieces, const char *)) {
    size_t length = strlen(piece);
    memcpy(dest + used, piece, length);
    used += length;
  }
  dest[used] = '\0';
}

// Appends pieces while they fit in size bytes with the NUL; the piece that
// does not fit is cut so that the result fills the buffer exactly.
VRC ConstructPathWithLength(char *dest, uint32_t size, const char *first,
                            va_list pieces) {
  if (size == 0) return VRC_FAILURE;
  size_t used = 0;
  for (const char *piece = first; piece != nullptr;
       piece = va_arg(pieces, const char *)) {
    size_t length = strlen(piece);
    if (used + length >= size) {
      memcpy(dest + used, piece, size - 1 - used);
      dest[size - 1] = '\0';
      return VRC_FAILURE;
    }
    memcpy(dest + used, piece, length);
    used += length;
  }
  dest[used] = '\0';
  return 0;
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VInitialise(const char *app_name, const char *log_destination) {
  return vi::Initialise(app_name, log_destination);
}

void VShutdown(void) {}

const char *VGetAppName(void) {
  return vi::g_appName.load(std::memory_order_acquire);
}

const char *VGetProcName(void) { return vi::ProcName(); }

VRC VSetProcName(const char *name) { return vi::SetProcName(name); }

const char *VGetVTHOME(void) { return vi::VtHome(); }

const char *VGetKESSHOME(void) { return vi::KessHome(); }

const char *VGetBinDir(void) { return "BIN"; }
const char *VGetLibDir(void) { return "DLL"; }
const char *VGetEtcDir(void) { return "ETC"; }
const char *VGetVarDir(void) { return "VAR"; }
const char *VGetLogDir(void) { return "LOG"; }
const char *VGetGateDir(void) { return "GATES"; }

const char *VGetProbeDir(void) {
  static char buffer[vi::kDirSize];
  static const char *const dir = vi::FormatPlatformDir(buffer, "PROBES");
  return dir;
}

const char *VGetMonitorDir(void) {
  static char buffer[vi::kDirSize];
  static const char *const dir = vi::FormatPlatformDir(buffer, "MONITORS");
  return dir;
}

const char *VGetTsmDir(void) {
  static char buffer[vi::kDirSize];
  static const char *const dir = vi::FormatPlatformDir(buffer, "TSM");
  return dir;
}

const char *VGetPlatform(void) { return vi::Platform(); }

const char *VGetHostName(void) { return vi::HostName(); }

void VConstructPath(char *dest, const char *first, ...) {
  if (dest == nullptr) return;
  va_list pieces;
  va_start(pieces, first);
  vi::ConstructPath(dest, first, pieces);
  va_end(pieces);
}

VRC VConstructPathWithLength(char *dest, uint32_t size, const char *first,
                             ...) {
  if (dest == nullptr) return EINVAL;
  va_list pieces;
  va_start(pieces, first);
  VRC rc = vi::ConstructPathWithLength(dest, size, first, pieces);
  va_end(pieces);
  return rc;
}
