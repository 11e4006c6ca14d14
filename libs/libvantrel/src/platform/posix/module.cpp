// POSIX modules: dlopen with RTLD_NOW | RTLD_LOCAL, dlsym, dlclose, dlerror.
#include "platform/module.h"

#include <errno.h>
#include <limits.h>
#include <string.h>

#include "platform/posix/os_table.h"
#include "platform/system.h"

namespace vantrel::platform {
namespace {

// The loader reports through dlerror and sets errno only by the way; an
// errno value it left is still the best number there is.
int LoaderError(int saved_errno, int fallback) {
  return saved_errno != 0 ? saved_errno : fallback;
}

}  // namespace

int ModuleOpen(const char *path, ModuleHandle *module) {
  VOS(dlerror)();  // forget an older failure
  errno = 0;
  void *handle = VOS(dlopen)(path, RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) return LoaderError(errno, ENOEXEC);
  module->value = handle;
  return 0;
}

int ModuleSymbol(ModuleHandle module, const char *name, void **address) {
  VOS(dlerror)();  // forget an older failure
  void *found = VOS(dlsym)(module.value, name);
  if (found == nullptr) return ENOENT;
  *address = found;
  return 0;
}

int ModuleClose(ModuleHandle module) {
  errno = 0;
  if (VOS(dlclose)(module.value) == 0) return 0;
  return LoaderError(errno, EINVAL);
}

void ModuleErrorText(int error, char *buffer, size_t size) {
  if (size == 0) return;
  const char *text = VOS(dlerror)();
  if (text == nullptr) text = ErrorText(error, buffer, size);
  if (text != buffer) {
    strncpy(buffer, text, size - 1);
    buffer[size - 1] = '\0';
  }
}

int ModuleOwnPath(char *buffer, size_t size) {
  Dl_info info{};
  // Any function of the library's own image will do: this one.
  if (VOS(dladdr)(reinterpret_cast<const void *>(&ModuleOwnPath), &info) != 0) {
    return errno != 0 ? errno : ENOENT;
  }
  if (info.dli_fname == nullptr || info.dli_fname[0] == '\0') return ENOENT;
  char resolved[PATH_MAX];
  if (VOS(realpath)(info.dli_fname, resolved) == nullptr) return errno;
  size_t length = strlen(resolved);
  if (length >= size) return ENAMETOOLONG;
  memcpy(buffer, resolved, length + 1);
  return 0;
}

}  // namespace vantrel::platform
