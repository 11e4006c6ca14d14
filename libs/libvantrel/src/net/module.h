// Loadable modules: a shared library opened at run time, with a small
// record of its name, its path and the system's handle.  Internal: the
// socket layer loads its IP driver with it.
//
// Module files live at <home>/platform/<platform>/module/<subdir>/<name>.so.
// Load and unload start by clearing the calling thread's exception chain
// and leave at most the one record they raise: "ModuleLoad" (set 3, message
// 5, "LoadLibrary() failed", the path as a STRING argument) or
// "ModuleUnload" (set 3, message 7, "FreeLibrary() failed").
#ifndef VANTREL_NET_MODULE_H
#define VANTREL_NET_MODULE_H

#include <stddef.h>

#include <type_traits>

#include "platform/module.h"
#include "vantrel/vbase.h"

namespace vantrel::internal {

inline constexpr size_t kModuleNameSize = 41;   // 40 characters and a NUL
inline constexpr size_t kModulePathSize = 260;  // 259 characters and a NUL

// The module record, a VListAlloc item owned by the caller from a
// successful load until a successful unload.
struct VModuleRecord {
  char name[kModuleNameSize];
  char path[kModulePathSize];
  platform::ModuleHandle handle;
};
static_assert(std::is_standard_layout_v<VModuleRecord>);
static_assert(offsetof(VModuleRecord, name) == 0);
static_assert(offsetof(VModuleRecord, path) == kModuleNameSize);
static_assert(offsetof(VModuleRecord, handle) >=
              kModuleNameSize + kModulePathSize);

using VModule = VModuleRecord *;

// Loads the module file at path under the logical name.  0 with *out set;
// ENOMEM when the record cannot be allocated; ENAMETOOLONG (nothing
// raised) when name has more than 40 characters or path more than 259;
// EINVAL for a null argument; VRC_MODULE_LOAD_FAILED (-60), with the
// "ModuleLoad" record raised, when the loader refuses.  *out changes only
// on success.
VRC VModuleLoad(const char *name, const char *path, VModule *out);

// Releases the module and frees its record: 0.  VRC_MODULE_UNLOAD_FAILED
// (-61), with the "ModuleUnload" record raised, when the system refuses;
// the record then stays valid and the module loaded.  EINVAL for null.
VRC VModuleUnload(VModule module);

// The address of the module's exported symbol, or null when it has none of
// that name.  Touches no exception record.
void *VModuleSymbolGet(VModule module, const char *symbol);

// Loads <home>/platform/<platform>/module/<subdir>/<name>.so as VModuleLoad
// does; ENAMETOOLONG when the composed path has more than 259 characters.
VRC VModuleLoadFromDir(const char *home, const char *name, const char *subdir,
                       VModule *out);

// The platform directory level of module paths: start-up installs the
// installation's answer (VGetPlatform); until then it is "linux".
using ModulePlatformQuery = const char *(*)();
void ModuleSetPlatformQuery(ModulePlatformQuery query);

// The debug facility of the modules' trace line ("Attempting to load module
// ..."); 0, and so silent, unless a test assigns one.
void ModuleSetDebugFacility(int facility);

}  // namespace vantrel::internal

#endif  // VANTREL_NET_MODULE_H
