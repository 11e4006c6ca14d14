// The operating system's locks and condition variables, embedded by value
// in the library's synchronisation records.  The storage is opaque here so
// that portable code never sees the system headers; each implementation
// checks that its objects fit.
#ifndef VANTREL_PLATFORM_SYNC_H
#define VANTREL_PLATFORM_SYNC_H

#include <stddef.h>
#include <stdint.h>

namespace vantrel::platform {

inline constexpr size_t kMutexBytes = sizeof(void *) == 8 ? 40 : 24;
inline constexpr size_t kCondVarBytes = 48;

struct Mutex {
  alignas(8) unsigned char opaque[kMutexBytes];
};

struct CondVar {
  alignas(8) unsigned char opaque[kCondVarBytes];
};

enum class MutexKind {
  kPlain,      // may not be locked again by its holder
  kRecursive,  // its holder may lock it again and unlocks as often
};

// Makes the mutex.  0, or the system's error number (EAGAIN, ENOMEM).
int MutexInit(Mutex *m, MutexKind kind);
// The remaining mutex calls cannot fail on a mutex that MutexInit made and
// that is used as its kind allows.
void MutexDestroy(Mutex *m);
void MutexLock(Mutex *m);
void MutexUnlock(Mutex *m);
// 0 when the mutex was obtained without waiting, else EBUSY.
int MutexTryLock(Mutex *m);

// A recursive mutex that exists for the whole process without set-up; for
// the rare path that must lock something when nothing could be made.
Mutex *ProcessMutex();

// Condition variables wait on the monotonic clock.  0, or the system's
// error number.
int CondInit(CondVar *c);
void CondDestroy(CondVar *c);
// m is held exactly once by the caller; it is released while waiting and
// held again on return.  Wake-ups may be spurious.
void CondWait(CondVar *c, Mutex *m);
// As CondWait, until the monotonic time `deadline` (from DeadlineAfter).
// 0, or ETIMEDOUT when the deadline passed.
int CondTimedWait(CondVar *c, Mutex *m, int64_t deadline);
void CondSignal(CondVar *c);
void CondBroadcast(CondVar *c);

// The monotonic deadline `milliseconds` from now, in nanoseconds.
int64_t DeadlineAfter(uint32_t milliseconds);

// Tells the processor that the caller is in a spin-wait loop (x86 pause),
// so that a sibling hardware thread runs and the loop's exit is not
// mispredicted; no system call.
inline void SpinPause() {
#if defined(__x86_64__) || defined(__i386__)
  __builtin_ia32_pause();
#elif defined(__aarch64__)
  __asm__ __volatile__("yield");
#endif
}

// Waits on a 32-bit word of this process (a futex here, WaitOnAddress on
// Windows): sleeps while *word still holds `expected`, with the test and
// the start of the sleep one step against AddressWake, so a wake that
// follows a change of the word is never lost.  deadline is a monotonic
// time from DeadlineAfter, or kNoDeadline.  Returns 0 when woken, when the
// word did not hold `expected` or when a signal interrupted the sleep (the
// caller tests its word again in every case), ETIMEDOUT once the deadline
// has passed.  Wake-ups may be spurious.
inline constexpr int64_t kNoDeadline = -1;
int AddressWait(const uint32_t *word, uint32_t expected, int64_t deadline);
// Wakes up to `count` threads sleeping in AddressWait on word.  Safe on a
// word whose memory has been released meanwhile: the address is only a
// key, never read.
void AddressWake(const uint32_t *word, int count);

}  // namespace vantrel::platform

#endif  // VANTREL_PLATFORM_SYNC_H
