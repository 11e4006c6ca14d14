// Control of the table of operating-system calls, for tests.  Every call the
// platform layer makes to the system goes through a named entry ("open",
// "rename", "connect", "dlopen", "clock_gettime", ...; the names are the
// system's own).  A test can make the Nth call of an entry fail with an
// error number, count its calls, or put a function of its own in its place;
// unarmed, an entry costs the library one relaxed load and one indirect call.
#ifndef VANTREL_PLATFORM_OSCALL_H
#define VANTREL_PLATFORM_OSCALL_H

#include <stdint.h>

namespace vantrel::platform {

// Any entry's function, type-erased; cast back to the entry's exact type.
using OsFunction = void (*)();

// True when the table has an entry of that name.
bool OsCallExists(const char *name);

// From now on counts the calls of the named entry from every thread; call
// `nth` (1 is the next one) fails as the system would report `error`, and
// with `repeat` so does every later call.  nth 0 only counts.  Entries
// whose call cannot fail (gettid, freeaddrinfo, ...) only count.  0;
// ENOENT for an unknown name; EINVAL when asked to fail a call that cannot;
// EBUSY when the entry is armed already.
int OsCallArm(const char *name, uint64_t nth, bool repeat, int error);

// Disarms the entry and hands back the calls counted since it was armed (0
// when it was not armed).
uint64_t OsCallDisarm(const char *name);

// Calls of the entry since it was armed, from every thread.
uint64_t OsCallCount(const char *name);

// Puts fn in the entry's place and gives the function it replaces through
// *previous; put that back to restore.  fn must have the entry's exact type
// (the system call's, or the fixed form of a variadic one: open(path, flags,
// mode), fcntl(fd, command, int), ioctl(fd, request, int *)).  On an armed
// entry the replacement takes effect behind the armed failure.  0, or
// ENOENT for an unknown name.
int OsCallReplace(const char *name, OsFunction fn, OsFunction *previous);

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_OSCALL_H
