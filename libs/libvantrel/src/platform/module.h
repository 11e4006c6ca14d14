// Loadable modules: shared libraries opened at run time, their symbols, and
// the loader's own account of a failure.
#ifndef VANTREL_PLATFORM_MODULE_H
#define VANTREL_PLATFORM_MODULE_H

#include <stddef.h>

namespace vantrel::platform {

// A loaded module, as the system's loader knows it.
struct ModuleHandle {
  void *value;
};

// Loads the module file at path, binding all its symbols now and keeping
// them out of the process's global namespace.  0, or an error number (the
// loader's, else ENOEXEC); ModuleErrorText tells why.
int ModuleOpen(const char *path, ModuleHandle *module);

// The address of the module's symbol `name` through *address.  0, or
// ENOENT when the module has none of that name.
int ModuleSymbol(ModuleHandle module, const char *name, void **address);

// Releases the module; its symbols' addresses are invalid afterwards unless
// it is loaded elsewhere too.  0, or an error number (the module then stays
// loaded).
int ModuleClose(ModuleHandle module);

// Copies the loader's text about the calling thread's last failed module
// call into buffer (terminated, cut to fit), or the text of `error` when
// the loader has none.  Call it right after the failure, on that thread.
void ModuleErrorText(int error, char *buffer, size_t size);

// Copies the absolute path, symbolic links resolved, of the file the
// library's own code was loaded from into buffer (terminated): the shared
// library, or the program when the library is linked into it.  0; ENOENT
// when the loader cannot tell; ENAMETOOLONG when it does not fit; or the
// system's error number from resolving the path.
int ModuleOwnPath(char *buffer, size_t size);

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_MODULE_H
