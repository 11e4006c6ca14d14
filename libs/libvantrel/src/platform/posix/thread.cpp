// POSIX threads.  Identifiers are the kernel's thread ids (gettid), cached
// per thread because the system call costs far more than a lock.
#include "platform/thread.h"

#include <errno.h>
#include <limits.h>

#include "platform/posix/os_table.h"
#include "platform/sync.h"

namespace vantrel::platform {
namespace {

// The new thread's identifier travels back to the starter through this
// block on the starter's stack, which stays alive until `reported` is set.
struct StartBlock {
  ThreadEntry entry;
  void *arg;
  uint32_t *id;  // may be null
  bool reported;
  Mutex lock;
  CondVar cond;
};

void *ThreadMain(void *raw) {
  auto *block = static_cast<StartBlock *>(raw);
  ThreadEntry entry = block->entry;
  void *arg = block->arg;
  MutexLock(&block->lock);
  // Written by the new thread itself, so that entry sees it in program
  // order and the starter through the lock.
  if (block->id != nullptr) *block->id = CurrentThreadId();
  block->reported = true;
  CondSignal(&block->cond);
  MutexUnlock(&block->lock);  // block may be gone after this
  entry(arg);
  return nullptr;
}

size_t ChooseStackSize(size_t requested) {
  size_t size = requested == 0 ? kDefaultStackSize : requested;
  size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
  return size < minimum ? minimum : size;
}

int PrepareAttributes(pthread_attr_t *attr, size_t stack_size, bool joinable) {
  int rc = VOS(pthread_attr_init)(attr);
  if (rc != 0) return rc;
  rc = VOS(pthread_attr_setstacksize)(attr, ChooseStackSize(stack_size));
  if (rc == 0) {
    rc = VOS(pthread_attr_setdetachstate)(
        attr, joinable ? PTHREAD_CREATE_JOINABLE : PTHREAD_CREATE_DETACHED);
  }
  if (rc != 0) VOS(pthread_attr_destroy)(attr);
  return rc;
}

int InitBlock(StartBlock *block) {
  int rc = MutexInit(&block->lock, MutexKind::kPlain);
  if (rc != 0) return rc;
  rc = CondInit(&block->cond);
  if (rc != 0) MutexDestroy(&block->lock);
  return rc;
}

void WaitForReport(StartBlock *block) {
  MutexLock(&block->lock);
  while (!block->reported) CondWait(&block->cond, &block->lock);
  MutexUnlock(&block->lock);
}

int Launch(StartBlock *block, size_t stack_size, bool joinable,
           ThreadHandle *handle) {
  pthread_attr_t attr;
  int rc = PrepareAttributes(&attr, stack_size, joinable);
  if (rc != 0) return rc;
  pthread_t thread;
  rc = VOS(pthread_create)(&thread, &attr, ThreadMain, block);
  VOS(pthread_attr_destroy)(&attr);
  if (rc != 0) return rc;
  WaitForReport(block);
  if (handle != nullptr) handle->value = static_cast<uintptr_t>(thread);
  return 0;
}

}  // namespace

int ThreadStart(ThreadEntry entry, void *arg, size_t stack_size, bool joinable,
                ThreadHandle *handle, uint32_t *id) {
  StartBlock block = {entry, arg, id, false, {}, {}};
  int rc = InitBlock(&block);
  if (rc != 0) return rc;
  rc = Launch(&block, stack_size, joinable, handle);
  CondDestroy(&block.cond);
  MutexDestroy(&block.lock);
  return rc;
}

int ThreadJoin(ThreadHandle handle) {
  return VOS(pthread_join)(static_cast<pthread_t>(handle.value), nullptr);
}

namespace detail {

constinit thread_local uint32_t t_thread_id VANTREL_FAST_TLS = 0;

uint32_t FetchThreadId() {
  t_thread_id = static_cast<uint32_t>(VOS(gettid)());
  return t_thread_id;
}

}  // namespace detail

int SetCurrentThreadName(const char *name) {
  char shortName[16];  // the kernel keeps 15 characters and a NUL
  strncpy(shortName, name, sizeof shortName - 1);
  shortName[sizeof shortName - 1] = '\0';
  return VOS(pthread_setname_np)(VOS(pthread_self)(), shortName);
}

int CurrentThreadStackSize(size_t *size) {
  pthread_attr_t attr;
  int rc = VOS(pthread_getattr_np)(VOS(pthread_self)(), &attr);
  if (rc != 0) return rc;
  rc = VOS(pthread_attr_getstacksize)(&attr, size);
  VOS(pthread_attr_destroy)(&attr);
  return rc;
}

void ThreadYield() { VOS(sched_yield)(); }

void SleepMilliseconds(uint32_t milliseconds) {
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(milliseconds / 1000);
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
  while (VOS(clock_nanosleep)(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
  }
}

void SleepUntil(int64_t deadline) {
  if (deadline < 0) return;
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(deadline / 1000000000);
  ts.tv_nsec = static_cast<long>(deadline % 1000000000);
  while (VOS(clock_nanosleep)(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) ==
         EINTR) {
  }
}

static_assert(sizeof(pthread_key_t) <= sizeof(uintptr_t));

int TlsKeyCreate(TlsKey *key, void (*destructor)(void *value)) {
  pthread_key_t native;
  int rc = VOS(pthread_key_create)(&native, destructor);
  if (rc != 0) return rc;
  key->value = static_cast<uintptr_t>(native);
  return 0;
}

int TlsKeyDelete(TlsKey key) {
  return VOS(pthread_key_delete)(static_cast<pthread_key_t>(key.value));
}

void *TlsGet(TlsKey key) {
  return VOS(pthread_getspecific)(static_cast<pthread_key_t>(key.value));
}

int TlsSet(TlsKey key, void *value) {
  return VOS(pthread_setspecific)(static_cast<pthread_key_t>(key.value), value);
}

}  // namespace vantrel::platform
