// POSIX threads.  Identifiers are the kernel's thread ids (gettid), cached
// per thread because the system call costs far more than a lock.
#include "platform/thread.h"

#include <errno.h>
#include <limits.h>
#include <pthread.h>
#include <sched.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

#include "platform/clock.h"

namespace vantrel::platform {
namespace {

// The new thread's identifier travels back to the starter through this
// block on the starter's stack, which stays alive until `reported` is set.
struct StartBlock {
  ThreadEntry entry;
  void *arg;
  uint32_t *id;  // may be null
  bool reported;
  pthread_mutex_t lock;
  pthread_cond_t cond;
};

void *ThreadMain(void *raw) {
  auto *block = static_cast<StartBlock *>(raw);
  ThreadEntry entry = block->entry;
  void *arg = block->arg;
  pthread_mutex_lock(&block->lock);
  // Written by the new thread itself, so that entry sees it in program
  // order and the starter through the lock.
  if (block->id != nullptr) *block->id = CurrentThreadId();
  block->reported = true;
  pthread_cond_signal(&block->cond);
  pthread_mutex_unlock(&block->lock);  // block may be gone after this
  entry(arg);
  return nullptr;
}

size_t ChooseStackSize(size_t requested) {
  size_t size = requested == 0 ? kDefaultStackSize : requested;
  size_t minimum = static_cast<size_t>(PTHREAD_STACK_MIN);
  return size < minimum ? minimum : size;
}

int PrepareAttributes(pthread_attr_t *attr, size_t stack_size, bool joinable) {
  int rc = pthread_attr_init(attr);
  if (rc != 0) return rc;
  rc = pthread_attr_setstacksize(attr, ChooseStackSize(stack_size));
  if (rc == 0) {
    rc = pthread_attr_setdetachstate(
        attr, joinable ? PTHREAD_CREATE_JOINABLE : PTHREAD_CREATE_DETACHED);
  }
  if (rc != 0) pthread_attr_destroy(attr);
  return rc;
}

void WaitForReport(StartBlock *block) {
  pthread_mutex_lock(&block->lock);
  while (!block->reported) pthread_cond_wait(&block->cond, &block->lock);
  pthread_mutex_unlock(&block->lock);
}

}  // namespace

int ThreadStart(ThreadEntry entry, void *arg, size_t stack_size, bool joinable,
                ThreadHandle *handle, uint32_t *id) {
  pthread_attr_t attr;
  int rc = PrepareAttributes(&attr, stack_size, joinable);
  if (rc != 0) return rc;
  StartBlock block = {entry,
                      arg,
                      id,
                      false,
                      PTHREAD_MUTEX_INITIALIZER,
                      PTHREAD_COND_INITIALIZER};
  pthread_t thread;
  rc = pthread_create(&thread, &attr, ThreadMain, &block);
  pthread_attr_destroy(&attr);
  if (rc == 0) {
    WaitForReport(&block);
    if (handle != nullptr) handle->value = static_cast<uintptr_t>(thread);
  }
  pthread_cond_destroy(&block.cond);
  pthread_mutex_destroy(&block.lock);
  return rc;
}

int ThreadJoin(ThreadHandle handle) {
  return pthread_join(static_cast<pthread_t>(handle.value), nullptr);
}

namespace detail {

constinit thread_local uint32_t t_thread_id VANTREL_FAST_TLS = 0;

uint32_t FetchThreadId() {
  t_thread_id = static_cast<uint32_t>(gettid());
  return t_thread_id;
}

}  // namespace detail

void SetCurrentThreadName(const char *name) {
  char shortName[16];  // the kernel keeps 15 characters and a NUL
  strncpy(shortName, name, sizeof shortName - 1);
  shortName[sizeof shortName - 1] = '\0';
  pthread_setname_np(pthread_self(), shortName);
}

size_t CurrentThreadStackSize() {
  pthread_attr_t attr;
  if (pthread_getattr_np(pthread_self(), &attr) != 0) return 0;
  size_t size = 0;
  if (pthread_attr_getstacksize(&attr, &size) != 0) size = 0;
  pthread_attr_destroy(&attr);
  return size;
}

void ThreadYield() { sched_yield(); }

void SleepMilliseconds(uint32_t milliseconds) {
  struct timespec ts;
  ts.tv_sec = static_cast<time_t>(milliseconds / 1000);
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000;
  while (clock_nanosleep(CLOCK_MONOTONIC, 0, &ts, &ts) == EINTR) {
  }
}

static_assert(sizeof(pthread_key_t) <= sizeof(uintptr_t));

bool TlsKeyCreate(TlsKey *key, void (*destructor)(void *value)) {
  pthread_key_t native;
  if (pthread_key_create(&native, destructor) != 0) return false;
  key->value = static_cast<uintptr_t>(native);
  return true;
}

bool TlsKeyDelete(TlsKey key) {
  return pthread_key_delete(static_cast<pthread_key_t>(key.value)) == 0;
}

void *TlsGet(TlsKey key) {
  return pthread_getspecific(static_cast<pthread_key_t>(key.value));
}

bool TlsSet(TlsKey key, void *value) {
  return pthread_setspecific(static_cast<pthread_key_t>(key.value), value) == 0;
}

}  // namespace vantrel::platform
