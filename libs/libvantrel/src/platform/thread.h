// The operating system's threads: starting and joining them, their
// identifiers and names, and thread-local storage keys.
#ifndef VANTREL_PLATFORM_THREAD_H
#define VANTREL_PLATFORM_THREAD_H

#include <stddef.h>
#include <stdint.h>

namespace vantrel::platform {

// Stack size of a thread started without an explicit size.
inline constexpr size_t kDefaultStackSize = 65536;

// Entry of a started thread; the thread ends when it returns.
using ThreadEntry = void (*)(void *arg);

// A started thread, for ThreadJoin.  Meaningless for a detached thread.
struct ThreadHandle {
  uintptr_t value;
};

// Starts entry(arg) on a new thread with a stack of stack_size bytes (0 for
// kDefaultStackSize; raised to the system's minimum when below it).  A
// detached thread (joinable false) releases its resources when entry
// returns; a joinable one must be passed to ThreadJoin exactly once.  When
// id is not null the new thread stores its identifier there before entry
// runs and before this returns, so both sides may read it.  handle may be
// null.
// Returns 0, or the system's error number (EAGAIN when out of resources).
int ThreadStart(ThreadEntry entry, void *arg, size_t stack_size, bool joinable,
                ThreadHandle *handle, uint32_t *id);

// Waits without limit for a joinable thread to end; 0 or an error number.
int ThreadJoin(ThreadHandle handle);

// Initial-exec TLS is read straight off the thread pointer instead of
// through __tls_get_addr, which would cost as much as the rest of a lock;
// a few bytes of static TLS stay available even when the library is
// loaded late.
#if defined(__GNUC__) && !defined(_WIN32)
#define VANTREL_FAST_TLS __attribute__((tls_model("initial-exec")))
#else
#define VANTREL_FAST_TLS
#endif

namespace detail {
// Cache behind CurrentThreadId: 0 until the thread first asks.
extern constinit thread_local uint32_t t_thread_id VANTREL_FAST_TLS;
// Asks the system and fills the cache.
uint32_t FetchThreadId();
}  // namespace detail

// The calling thread's system identifier (never 0).  Inline and served
// from the per-thread cache after the first call: lock paths record it.
inline uint32_t CurrentThreadId() {
  uint32_t id = detail::t_thread_id;
  return id != 0 ? id : detail::FetchThreadId();
}

// Gives the calling thread's name to the system (debuggers, process
// listings), cut to what the system keeps (15 characters here).  0, or the
// system's error number.
int SetCurrentThreadName(const char *name);

// Size of the calling thread's stack in bytes.
int CurrentThreadStackSize(size_t *size);

// Lets other runnable threads go first.
void ThreadYield();

// Sleeps at least `milliseconds` on the monotonic clock.
void SleepMilliseconds(uint32_t milliseconds);

// Sleeps until the monotonic clock (MonotonicNanoseconds) reaches
// `deadline`; returns at once when it has passed.
void SleepUntil(int64_t deadline);

// Thread-local storage: one slot per key and thread, null until set.
struct TlsKey {
  uintptr_t value;
};

// Makes a key; destructor (may be null) runs at thread exit for each thread
// whose value is not null.  0, or EAGAIN when the system has no key left.
int TlsKeyCreate(TlsKey *key, void (*destructor)(void *value));
// 0, or the system's error number when it refuses to delete the key.
int TlsKeyDelete(TlsKey key);
void *TlsGet(TlsKey key);
// 0, or the system's error number when it cannot store the value.
int TlsSet(TlsKey key, void *value);

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_THREAD_H
