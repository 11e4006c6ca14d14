// Facts about the machine the library runs on.
#ifndef VANTREL_PLATFORM_SYSTEM_H
#define VANTREL_PLATFORM_SYSTEM_H

#include <stddef.h>

namespace vantrel::platform {

// Copies the machine's host name into buffer (size bytes, terminated).
// False, with buffer holding the empty string, when the name cannot be
// read, is empty, or does not fit.
bool HostName(char *buffer, size_t size);

// The C runtime's environment as "NAME=value" entries, null-terminated: the
// same strings getenv searches, so setenv and putenv show at once.
char **EnvironmentEntries();

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_SYSTEM_H
