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
#include "net/module.h"
#include "net/socket_layer.h"
#include "platform/file.h"
#include "platform/module.h"
#include "platform/system.h"
#include "platform/thread.h"
#include "threads/thr.h"
#include "vantrel/venv.h"
#include "vantrel/vi18n.h"
#include "vantrel/vrc.h"
#include "vantrel/vservices.h"

// The home used when the environment names none and the library's own
// directory holds no "vantrel" directory: fixed when the library is
// configured, <libdir>/vantrel of the install prefix.
#ifndef VANTREL_DEFAULT_HOME
#define VANTREL_DEFAULT_HOME "/usr/local/lib/vantrel"
#endif

namespace vantrel::internal {
namespace {

constexpr size_t kHomeSize = 261;      // 260 characters and a NUL
constexpr size_t kHostNameSize = 256;  // 255 characters and a NUL
constexpr size_t kDirSize = 261;
constexpr size_t kAnswerSize = 261;  // room for any of the three above
static_assert(kAnswerSize >= kHomeSize && kAnswerSize >= kHostNameSize &&
              kAnswerSize >= kDirSize);
constexpr char kPathSeparator = '/';
constexpr char kDefaultPlatform[] = "linux";
constexpr char kProductSubdir[] = "Kessaly";
// The home's directory beside the installed library.
constexpr char kHomeDir[] = "vantrel";

// Start-up is run by one thread before others use the library; the flag
// and the names are atomic only so that later readers on other threads see
// them published.
std::atomic<int> g_initialised{0};
std::atomic<const char *> g_appName{nullptr};
std::atomic<char *> g_procName{nullptr};

// An answer worked out by its first caller (into `text` when it needs
// room) and then kept for the life of the process.  Function-local statics
// would do the same, but their guards come from the C++ runtime, which the
// library does not link.
struct KeptAnswer {
  std::atomic<int> state{0};    // 0: not yet, 1: being worked out, 2: ready
  const char *value = nullptr;  // written before state becomes 2
  char text[kAnswerSize] = {};
};

KeptAnswer g_vtHome;
KeptAnswer g_kessHome;
KeptAnswer g_platform;
KeptAnswer g_hostName;
KeptAnswer g_probeDir;
KeptAnswer g_monitorDir;
KeptAnswer g_tsmDir;

// The kept value; the first caller works it out with work_out(text) while
// any others arriving at the same time wait for it.
template <typename WorkOut>
const char *Kept(KeptAnswer &answer, WorkOut work_out) {
  if (answer.state.load(std::memory_order_acquire) == 2) return answer.value;
  int expected = 0;
  if (answer.state.compare_exchange_strong(expected, 1,
                                           std::memory_order_acquire)) {
    answer.value = work_out(answer.text);
    answer.state.store(2, std::memory_order_release);
    return answer.value;
  }
  while (answer.state.load(std::memory_order_acquire) != 2) {
    platform::ThreadYield();
  }
  return answer.value;
}

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

const char *VtHome();
const char *KessHome();
const char *Platform();

// The socket layer finds its driver module below the installation homes, in
// the directory of this platform.
VRC StartSocketLayer() {
  ModuleSetPlatformQuery(Platform);
  return VSocketInitialise(VtHome(), KessHome());
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
  rc = StartSocketLayer();
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

// Appends as much of text as fits behind the text in dest (size bytes).
void AppendCut(char *dest, size_t size, const char *text) {
  size_t used = strlen(dest);
  CopyCut(dest + used, size - used, text);
}

// The home an installation brings along: "vantrel" beside the library's
// own file (<libdir>/vantrel, where the driver modules are installed), so
// that a copy installed into any prefix finds its files without a setting.
// Null when the library cannot tell where it lies or nothing is there, as
// in the build tree or when the library is linked into a program.
const char *HomeBesideLibrary(char *buffer) {
  if (platform::ModuleOwnPath(buffer, kHomeSize) != 0) return nullptr;
  char *slash = strrchr(buffer, kPathSeparator);
  if (slash == nullptr) return nullptr;
  size_t directory = static_cast<size_t>(slash - buffer) + 1;
  if (directory + sizeof kHomeDir > kHomeSize) return nullptr;
  memcpy(buffer + directory, kHomeDir, sizeof kHomeDir);
  platform::FileInfo info{};
  if (platform::FileStat(buffer, &info) != 0 || !info.isDirectory) {
    return nullptr;
  }
  return buffer;
}

// The home when the environment names none: beside the library, else the
// one fixed at configuration.
const char *DefaultHome(char *buffer) {
  const char *home = HomeBesideLibrary(buffer);
  return home != nullptr ? home : VANTREL_DEFAULT_HOME;
}

// A home: the environment variable, else the default (with `below`
// appended when given), without one trailing separator.
const char *WorkOutHome(char *buffer, const char *variable, const char *below) {
  const char *value = VEnvGet(variable);
  CopyCut(buffer, kHomeSize, value != nullptr ? value : "");
  if (buffer[0] == '\0') {
    char fallback[kHomeSize];
    const char *home = DefaultHome(fallback);
    CopyCut(buffer, kHomeSize, home);
    if (below != nullptr) {
      const char separator[] = {kPathSeparator, '\0'};
      AppendCut(buffer, kHomeSize, separator);
      AppendCut(buffer, kHomeSize, below);
    }
  }
  size_t length = strlen(buffer);
  if (length > 0 && buffer[length - 1] == kPathSeparator) {
    buffer[length - 1] = '\0';
  }
  return buffer;
}

const char *VtHome() {
  return Kept(g_vtHome,
              [](char *text) { return WorkOutHome(text, "VTHOME", nullptr); });
}

const char *KessHome() {
  return Kept(g_kessHome, [](char *text) {
    return WorkOutHome(text, "KESSHOME", kProductSubdir);
  });
}

const char *Platform() {
  return Kept(g_platform, [](char *) {
    const char *value = VEnvGet("VTPLATFORM");
    return value != nullptr ? value : kDefaultPlatform;
  });
}

const char *FormatPlatformDir(char *buffer, const char *name) {
  snprintf(buffer, kDirSize, "%s%c%s", name, kPathSeparator, Platform());
  return buffer;
}

const char *PlatformDir(KeptAnswer &answer, const char *name) {
  return Kept(answer,
              [name](char *text) { return FormatPlatformDir(text, name); });
}

const char *HostName() {
  return Kept(g_hostName, [](char *text) {
    if (platform::HostName(text, kHostNameSize) != 0) {
      CopyCut(text, kHostNameSize, "localhost");
    }
    return static_cast<const char *>(text);
  });
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
  return vi::PlatformDir(vi::g_probeDir, "PROBES");
}

const char *VGetMonitorDir(void) {
  return vi::PlatformDir(vi::g_monitorDir, "MONITORS");
}

const char *VGetTsmDir(void) {
  return vi::PlatformDir(vi::g_tsmDir, "TSM");
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
