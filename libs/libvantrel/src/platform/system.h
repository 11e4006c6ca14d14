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

// The C library's text for an error number: a constant text for a known
// number, else one written into buf (size bytes).  Allocates nothing.
const char *ErrorText(int error, char *buf, size_t size);

// True when the C library has a text of its own for the number.
bool HasErrorText(int error);

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_SYSTEM_H
