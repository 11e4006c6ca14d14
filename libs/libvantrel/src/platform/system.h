// Facts about the machine and the process the library runs in.
#ifndef VANTREL_PLATFORM_SYSTEM_H
#define VANTREL_PLATFORM_SYSTEM_H

#include <stddef.h>
#include <stdint.h>

namespace vantrel::platform {

// Copies the machine's host name into buffer (size bytes, terminated).  0;
// ENAMETOOLONG when it does not fit, ENOENT when it is empty, or the
// system's error number; buffer then holds the empty string.
int HostName(char *buffer, size_t size);

// The C runtime's environment as "NAME=value" entries, null-terminated: the
// same strings getenv searches, so setenv and putenv show at once.
char **EnvironmentEntries();

// The C library's text for an error number: a constant text for a known
// number, else one written into buf (size bytes).  Allocates nothing.
const char *ErrorText(int error, char *buf, size_t size);

// True when the C library has a text of its own for the number.
bool HasErrorText(int error);

// The system's description of itself, each field terminated (and cut to
// fit).
struct SystemName {
  char system[65];   // "Linux"
  char node[65];     // the network node name
  char release[65];  // "6.1.0-18-amd64"
  char version[65];  // the kernel build's version text
  char machine[65];  // "x86_64"
};

// Fills *name.  0, or the system's error number.
int SystemNameGet(SystemName *name);

// The calling process's identifier.
uint32_t ProcessId();

// Ticks per second of the clock the system's process times are counted in
// (the start times in /proc).  0, or the system's error number.
int ClockTicksPerSecond(int64_t *ticks);

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_SYSTEM_H
