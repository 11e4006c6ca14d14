// The table of operating-system calls.  Every call the POSIX units make
// goes through an entry of this table, read with one relaxed load, so that a
// test can fail or count any of them (platform/oscall.h) without a broken
// disk, network or loader.  An entry is one line of VANTREL_OS_CALLS: the
// call's name, its default function and how an injected failure is returned.
#ifndef VANTREL_PLATFORM_POSIX_OS_TABLE_H
#define VANTREL_PLATFORM_POSIX_OS_TABLE_H

#include <dlfcn.h>
#include <fcntl.h>
#include <ifaddrs.h>
#include <linux/futex.h>
#include <netdb.h>
#include <poll.h>
#include <pthread.h>
#include <sched.h>
#include <stdio.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <sys/stat.h>
#include <sys/utsname.h>
#include <time.h>
#include <unistd.h>

#include <atomic>

namespace vantrel::platform::posix {

// How an injected failure reaches the caller, as the real call reports it.
enum class FailForm {
  kNever,   // the call cannot fail: it is only counted
  kErrno,   // returns -1 and sets errno
  kNull,    // returns null and sets errno
  kReturn,  // returns the error number itself (pthread, resolver)
};

// The variadic calls get fixed signatures, as the library calls them.
int DefaultOpen(const char *path, int flags, mode_t mode);
int DefaultFcntl(int descriptor, int command, int argument);
int DefaultIoctlInt(int descriptor, unsigned long request, int *value);
// The futex system call, which has no C library wrapper.
long DefaultFutex(uint32_t *word, int op, uint32_t value,
                  const struct timespec *timeout, uint32_t *word2,
                  uint32_t value3);
// dladdr in the usual form: 0, or -1 with errno (ENOENT when the address
// lies in no loaded file).
int DefaultDladdr(const void *address, Dl_info *info);

// X(name, default function, failure form)
#define VANTREL_OS_CALLS(X)                                              \
  X(open, DefaultOpen, kErrno)                                           \
  X(close, ::close, kErrno)                                              \
  X(read, ::read, kErrno)                                                \
  X(write, ::write, kErrno)                                              \
  X(fsync, ::fsync, kErrno)                                              \
  X(rename, ::rename, kErrno)                                            \
  X(unlink, ::unlink, kErrno)                                            \
  X(stat, ::stat, kErrno)                                                \
  X(fstat, ::fstat, kErrno)                                              \
  X(ftruncate, ::ftruncate, kErrno)                                      \
  X(lseek, ::lseek, kErrno)                                              \
  X(fflush_unlocked, ::fflush_unlocked, kErrno)                          \
  X(freopen, ::freopen, kNull)                                           \
  X(pthread_create, ::pthread_create, kReturn)                           \
  X(pthread_join, ::pthread_join, kReturn)                               \
  X(pthread_attr_init, ::pthread_attr_init, kReturn)                     \
  X(pthread_attr_setstacksize, ::pthread_attr_setstacksize, kReturn)     \
  X(pthread_attr_setdetachstate, ::pthread_attr_setdetachstate, kReturn) \
  X(pthread_attr_getstacksize, ::pthread_attr_getstacksize, kReturn)     \
  X(pthread_attr_destroy, ::pthread_attr_destroy, kReturn)               \
  X(pthread_getattr_np, ::pthread_getattr_np, kReturn)                   \
  X(pthread_self, ::pthread_self, kNever)                                \
  X(pthread_setname_np, ::pthread_setname_np, kReturn)                   \
  X(gettid, ::gettid, kNever)                                            \
  X(sched_yield, ::sched_yield, kErrno)                                  \
  X(clock_nanosleep, ::clock_nanosleep, kReturn)                         \
  X(pthread_key_create, ::pthread_key_create, kReturn)                   \
  X(pthread_key_delete, ::pthread_key_delete, kReturn)                   \
  X(pthread_getspecific, ::pthread_getspecific, kNever)                  \
  X(pthread_setspecific, ::pthread_setspecific, kReturn)                 \
  X(pthread_mutexattr_init, ::pthread_mutexattr_init, kReturn)           \
  X(pthread_mutexattr_settype, ::pthread_mutexattr_settype, kReturn)     \
  X(pthread_mutexattr_destroy, ::pthread_mutexattr_destroy, kReturn)     \
  X(pthread_mutex_init, ::pthread_mutex_init, kReturn)                   \
  X(pthread_mutex_destroy, ::pthread_mutex_destroy, kReturn)             \
  X(pthread_mutex_lock, ::pthread_mutex_lock, kReturn)                   \
  X(pthread_mutex_unlock, ::pthread_mutex_unlock, kReturn)               \
  X(pthread_mutex_trylock, ::pthread_mutex_trylock, kReturn)             \
  X(pthread_condattr_init, ::pthread_condattr_init, kReturn)             \
  X(pthread_condattr_setclock, ::pthread_condattr_setclock, kReturn)     \
  X(pthread_condattr_destroy, ::pthread_condattr_destroy, kReturn)       \
  X(pthread_cond_init, ::pthread_cond_init, kReturn)                     \
  X(pthread_cond_destroy, ::pthread_cond_destroy, kReturn)               \
  X(pthread_cond_wait, ::pthread_cond_wait, kReturn)                     \
  X(pthread_cond_timedwait, ::pthread_cond_timedwait, kReturn)           \
  X(pthread_cond_signal, ::pthread_cond_signal, kReturn)                 \
  X(pthread_cond_broadcast, ::pthread_cond_broadcast, kReturn)           \
  X(futex, DefaultFutex, kErrno)                                         \
  X(clock_gettime, ::clock_gettime, kErrno)                              \
  X(localtime_r, ::localtime_r, kNull)                                   \
  X(mktime, ::mktime, kErrno)                                            \
  X(tzset, ::tzset, kNever)                                              \
  X(gethostname, ::gethostname, kErrno)                                  \
  X(uname, ::uname, kErrno)                                              \
  X(getpid, ::getpid, kNever)                                            \
  X(sysconf, ::sysconf, kErrno)                                          \
  X(strerror_r, ::strerror_r, kNever)                                    \
  X(strerrordesc_np, ::strerrordesc_np, kNever)                          \
  X(getrandom, ::getrandom, kErrno)                                      \
  X(socket, ::socket, kErrno)                                            \
  X(bind, ::bind, kErrno)                                                \
  X(listen, ::listen, kErrno)                                            \
  X(accept4, ::accept4, kErrno)                                          \
  X(connect, ::connect, kErrno)                                          \
  X(send, ::send, kErrno)                                                \
  X(recv, ::recv, kErrno)                                                \
  X(sendto, ::sendto, kErrno)                                            \
  X(recvfrom, ::recvfrom, kErrno)                                        \
  X(shutdown, ::shutdown, kErrno)                                        \
  X(getsockopt, ::getsockopt, kErrno)                                    \
  X(setsockopt, ::setsockopt, kErrno)                                    \
  X(fcntl, DefaultFcntl, kErrno)                                         \
  X(ioctl, DefaultIoctlInt, kErrno)                                      \
  X(poll, ::poll, kErrno)                                                \
  X(getsockname, ::getsockname, kErrno)                                  \
  X(getpeername, ::getpeername, kErrno)                                  \
  X(getaddrinfo, ::getaddrinfo, kReturn)                                 \
  X(freeaddrinfo, ::freeaddrinfo, kNever)                                \
  X(getnameinfo, ::getnameinfo, kReturn)                                 \
  X(getservbyname_r, ::getservbyname_r, kReturn)                         \
  X(gethostbyname_r, ::gethostbyname_r, kReturn)                         \
  X(gethostbyaddr_r, ::gethostbyaddr_r, kReturn)                         \
  X(getifaddrs, ::getifaddrs, kErrno)                                    \
  X(freeifaddrs, ::freeifaddrs, kNever)                                  \
  X(dlopen, ::dlopen, kNull)                                             \
  X(dlsym, ::dlsym, kNull)                                               \
  X(dlclose, ::dlclose, kErrno)                                          \
  X(dlerror, ::dlerror, kNever)                                          \
  VANTREL_OS_CALLS_LOG(X)                                                \
  VANTREL_OS_CALLS_SELF(X)

// Local (AF_UNIX) datagrams to the system's log sockets.
#define VANTREL_OS_CALLS_LOG(X) X(sendmsg, ::sendmsg, kErrno)

// Where the library's own file lies, for the home it falls back on.
#define VANTREL_OS_CALLS_SELF(X) \
  X(dladdr, DefaultDladdr, kErrno) X(realpath, ::realpath, kNull)

// Entry numbers, in table order.
enum OsOp : int {
#define VANTREL_OS_ENUM(name, function, form) kOp_##name,
  VANTREL_OS_CALLS(VANTREL_OS_ENUM)
#undef VANTREL_OS_ENUM
      kOsOpCount
};

// The entries themselves, typed as their default functions.  The types
// drop the declarations' checking attributes (nonnull, warn_unused_result),
// which say nothing about how to call through the entry.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-attributes"
struct OsTable {
#define VANTREL_OS_MEMBER(name, function, form) \
  std::atomic<decltype(&function)> name;
  VANTREL_OS_CALLS(VANTREL_OS_MEMBER)
#undef VANTREL_OS_MEMBER
};
#pragma GCC diagnostic pop

extern OsTable g_os;

}  // namespace vantrel::platform::posix

// The function an entry holds now; call it like the system call.  Unarmed,
// this is a relaxed load and an indirect call.
#define VOS(name) \
  (::vantrel::platform::posix::g_os.name.load(std::memory_order_relaxed))

#endif  // VANTREL_PLATFORM_POSIX_OS_TABLE_H
