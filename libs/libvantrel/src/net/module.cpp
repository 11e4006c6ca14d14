// Loadable modules over the platform seam's loader.
#include "net/module.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>

#include <atomic>

#include "core/retcode.h"
#include "vantrel/vexcept.h"
#include "vantrel/vlist.h"
#include "vantrel/vlog.h"
#include "vantrel/vrc.h"
#include "vantrel/vthread.h"

namespace vantrel::internal {
namespace {

constexpr char kPathSeparator = '/';
constexpr char kModuleSuffix[] = ".so";
constexpr char kDefaultPlatform[] = "linux";

// Catalog addresses of the module messages.
constexpr int kExceptionSet = 3;
constexpr int kLoadFailedNumber = 5;
constexpr int kUnloadFailedNumber = 7;
constexpr int kTraceSet = 4;
constexpr int kTraceNumber = 32;

std::atomic<ModulePlatformQuery> g_platformQuery{nullptr};
std::atomic<int> g_debugFacility{0};

const char *ModulePlatform() {
  ModulePlatformQuery query = g_platformQuery.load(std::memory_order_acquire);
  const char *platform = query != nullptr ? query() : nullptr;
  return platform != nullptr ? platform : kDefaultPlatform;
}

// <home>/platform/<platform>/module/<subdir>/<name>.so into path.
VRC ComposeModulePath(char (&path)[kModulePathSize], const char *home,
                      const char *name, const char *subdir) {
  if (home == nullptr || name == nullptr || subdir == nullptr) return EINVAL;
  const char sep = kPathSeparator;
  int length = snprintf(path, sizeof path, "%s%cplatform%c%s%cmodule%c%s%c%s%s",
                        home, sep, sep, ModulePlatform(), sep, sep, subdir, sep,
                        name, kModuleSuffix);
  if (length < 0 || static_cast<size_t>(length) >= sizeof path) {
    return ENAMETOOLONG;
  }
  return 0;
}

// A STRING argument over text, which the exception record copies.
VTypedValue StringArgument(const char *text) {
  VTypedValue argument{};
  argument.type = VDT_STRING;
  argument.value.stringValue.text = const_cast<char *>(text);
  argument.value.stringValue.length = static_cast<uint32_t>(strlen(text));
  return argument;
}

void RaiseLoadFailed(const char *path) {
  VTypedValue argument = StringArgument(path);
  VThreadExceptionRaise(VThreadGetID(), "ModuleLoad", LibraryCatalog(),
                        kExceptionSet, kLoadFailedNumber,
                        "LoadLibrary() failed", &argument, nullptr, nullptr,
                        nullptr);
}

void RaiseUnloadFailed() {
  VThreadExceptionRaise(VThreadGetID(), "ModuleUnload", LibraryCatalog(),
                        kExceptionSet, kUnloadFailedNumber,
                        "FreeLibrary() failed", nullptr, nullptr, nullptr,
                        nullptr);
}

}  // namespace

VRC VModuleLoad(const char *name, const char *path, VModule *out) {
  VThreadExceptionClear(VThreadGetID());
  if (name == nullptr || path == nullptr || out == nullptr) return EINVAL;
  // The record's fields have these sizes; longer texts are refused rather
  // than cut, so a record never names a file other than the one loaded.
  if (strnlen(name, kModuleNameSize) == kModuleNameSize ||
      strnlen(path, kModulePathSize) == kModulePathSize) {
    return ENAMETOOLONG;
  }
  auto *module = static_cast<VModule>(VListAlloc(sizeof(VModuleRecord)));
  if (module == nullptr) return ENOMEM;
  strcpy(module->name, name);
  strcpy(module->path, path);
  VLog(VLOG_DEBUG, g_debugFacility.load(std::memory_order_relaxed),
       LibraryCatalog(), kTraceSet, kTraceNumber,
       "Attempting to load module '%s' from path: %s", name, path);
  if (platform::ModuleOpen(path, &module->handle) != 0) {
    RaiseLoadFailed(path);
    VListFree(module);
    return VRC_MODULE_LOAD_FAILED;
  }
  *out = module;
  return 0;
}

VRC VModuleUnload(VModule module) {
  VThreadExceptionClear(VThreadGetID());
  if (module == nullptr) return EINVAL;
  if (platform::ModuleClose(module->handle) != 0) {
    RaiseUnloadFailed();
    return VRC_MODULE_UNLOAD_FAILED;
  }
  VListFree(module);
  return 0;
}

void *VModuleSymbolGet(VModule module, const char *symbol) {
  if (module == nullptr || symbol == nullptr) return nullptr;
  void *address = nullptr;
  if (platform::ModuleSymbol(module->handle, symbol, &address) != 0) {
    return nullptr;
  }
  return address;
}

VRC VModuleLoadFromDir(const char *home, const char *name, const char *subdir,
                       VModule *out) {
  char path[kModulePathSize];
  VRC rc = ComposeModulePath(path, home, name, subdir);
  if (rc != 0) {
    // As a load would, the call leaves no older record behind.
    VThreadExceptionClear(VThreadGetID());
    return rc;
  }
  return VModuleLoad(name, path, out);
}

void ModuleSetPlatformQuery(ModulePlatformQuery query) {
  g_platformQuery.store(query, std::memory_order_release);
}

void ModuleSetDebugFacility(int facility) {
  g_debugFacility.store(facility, std::memory_order_relaxed);
}

}  // namespace vantrel::internal
