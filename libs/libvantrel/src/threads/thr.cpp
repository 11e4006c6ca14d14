// The thread manager: named threads, the process-wide table of thread
// records keyed by system thread id, cooperative stop, joinable threads and
// thread-local data keys.
//
// The table is the source of truth and is only touched under
// "ThreadTableLock".  Each thread also caches its own record in a
// thread-local pointer so that VThreadGetID costs no lock once the record
// is known; the cache is cleared before a thread's record is released, and
// records of foreign threads and "MAIN" are never released.
#include "threads/thr.h"

#include <errno.h>
#include <string.h>

#include <atomic>

#include "internal/alloc.h"
#include "platform/thread.h"
#include "threads/error_buffer.h"
#include "threads/log_hook.h"
#include "vantrel/vhash.h"
#include "vantrel/vrc.h"
#include "vantrel/vsync.h"

// A thread-data key: one platform thread-local-storage key.
struct VThreadDataKeyData {
  vantrel::platform::TlsKey key;
};

namespace vantrel::internal {
namespace {

constexpr uint32_t kTableBuckets = 127;
constexpr const char *kMainName = "MAIN";
constexpr const char *kUnknownName = "UNKNOWN!";
constexpr int kExitLogLevel = 4;
constexpr int kExitLogFacility = 1;
constexpr int kExitLogSet = 4;
constexpr int kExitLogNumber = 8;

// Process-wide state; plain globals, made on first use and never released.
VOneTime g_initOnce = VONETIME_INIT;
VRC g_initLockResult = 0;  // written once inside the one-time routine
VMutex g_initLock = nullptr;
std::atomic<bool> g_initialised{false};
VHash *g_table = nullptr;  // written before g_initialised becomes true
VMutex g_tableLock = nullptr;

constinit thread_local VThreadData *t_self = nullptr;

uint32_t HashId(const void *item_or_key, void *) {
  return *static_cast<const uint32_t *>(item_or_key);
}

// Keys and items both begin with the thread id.
int CompareIds(const void *a, const void *b, void *) {
  uint32_t x = *static_cast<const uint32_t *>(a);
  uint32_t y = *static_cast<const uint32_t *>(b);
  return static_cast<int>(x - y);
}

void CreateInitLock() {
  g_initLockResult = VMutexCreate("_VThreadInitialise lock", &g_initLock);
}

void CopyName(char *dest, const char *name) {
  size_t n = name != nullptr ? strnlen(name, kThreadNameSize - 1) : 0;
  if (n > 0) memcpy(dest, name, n);
  dest[n] = '\0';
}

// A zeroed table item with its name, id and continue flag 1; null when it
// cannot be allocated.
VThreadData *NewRecord(const char *name, uint32_t id) {
  auto *record = static_cast<VThreadData *>(VHashAlloc(sizeof(VThreadData)));
  if (record == nullptr) return nullptr;
  memset(record, 0, sizeof(*record));
  record->threadId = id;
  CopyName(record->name, name);
  std::atomic_ref<int32_t>(record->continueFlag)
      .store(1, std::memory_order_relaxed);
  return record;
}

void InsertRecord(VThreadData *record) {
  VMutexLock(g_tableLock);
  VHashInsert(g_table, record);
  VMutexUnlock(g_tableLock);
}

void RemoveRecord(VThreadData *record) {
  VMutexLock(g_tableLock);
  VHashDelete(g_table, record);
  VMutexUnlock(g_tableLock);
}

// Releases a record that is not (or no longer) in the table.
void ReleaseRecord(VThreadData *record) {
  if (record->startSemaphore != nullptr) {
    VSemaphoreDestroy(record->startSemaphore);
  }
  if (record->exitSemaphore != nullptr) {
    VSemaphoreDestroy(record->exitSemaphore);
  }
  VHashFree(record);
}

// Makes the table, its lock and the caller's "MAIN" record, under the
// initialisation lock: either all of them are kept, or nothing is and the
// next initialisation tries again.
VRC BuildTable() {
  VHash *table = VHashCreateWith(Malloc, kTableBuckets, HashId, nullptr,
                                 CompareIds, nullptr);
  if (table == nullptr) return ENOMEM;
  VMutex lock = nullptr;
  VRC rc = VMutexCreate("ThreadTableLock", &lock);
  VThreadData *main = nullptr;
  if (rc == 0) {
    main = NewRecord(kMainName, platform::CurrentThreadId());
    if (main == nullptr) rc = ENOMEM;
  }
  if (rc != 0) {
    if (lock != nullptr) VMutexDestroy(lock);
    VHashDestroyWith(
        table, [](void *, void *) { return 0; }, nullptr, Free);
    return rc;
  }
  VHashInsert(table, main);
  g_table = table;
  g_tableLock = lock;
  g_initialised.store(true, std::memory_order_release);
  return 0;
}

// The message written when a routine ends with a failure code.
void LogThreadExit(VThreadData *record) {
  LogThroughHook(kExitLogLevel, kExitLogFacility, LibraryCatalog(), kExitLogSet,
                 kExitLogNumber, "THREAD MGR: thread %s (%p) *EXIT*: %s",
                 record->name, static_cast<void *>(record),
                 VRCToString(record->exitCode));
}

// Runs in the new thread.  The spawner posts the start semaphore only once
// the record is in the table and the caller's handle is set.
void ThreadBody(void *arg) {
  auto *record = static_cast<VThreadData *>(arg);
  VSemaphoreWait(record->startSemaphore);
  t_self = record;
  platform::SetCurrentThreadName(record->name);
  record->exitCode = record->routine(record, record->argument);
  if (record->exitCode != 0) LogThreadExit(record);
  t_self = nullptr;
  if (record->releaseAtExit != 0) {
    RemoveRecord(record);
    ReleaseRecord(record);
    return;
  }
  // The record now belongs to VThreadDestroy; it must not be touched after
  // this post.
  VSemaphorePost(record->exitSemaphore);
}

size_t ChooseStackSize(const VThreadAttr *attributes) {
  if (attributes != nullptr && (attributes->flags & VTHREAD_ATTR_STACK_SIZE)) {
    return attributes->stackSize;
  }
  return VTHREAD_DEFAULT_STACK_SIZE;
}

// The record and both semaphores of a thread about to be spawned.
VRC PrepareRecord(const char *name, VThreadRoutine routine, void *argument,
                  const VThreadAttr *attributes, VThreadData **out) {
  VThreadData *record = NewRecord(name, 0);
  if (record == nullptr) return ENOMEM;
  record->routine = routine;
  record->argument = argument;
  record->releaseAtExit = 1;
  VRC rc = VSemaphoreCreateN(0, &record->startSemaphore);
  if (rc == 0) rc = VSemaphoreCreateN(0, &record->exitSemaphore);
  if (rc != 0) {
    ReleaseRecord(record);
    return rc;
  }
  if (attributes != nullptr && (attributes->flags & VTHREAD_ATTR_JOINABLE)) {
    record->releaseAtExit = 0;
  }
  *out = record;
  return 0;
}

// The calling thread's record from the table, made as "UNKNOWN!" when it
// has none; null when that allocation fails.
VThreadData *LookUpOrAddSelf() {
  uint32_t id = platform::CurrentThreadId();
  VMutexLock(g_tableLock);
  auto *record = static_cast<VThreadData *>(VHashFind(g_table, &id));
  if (record == nullptr) {
    record = NewRecord(kUnknownName, id);
    if (record != nullptr) VHashInsert(g_table, record);
  }
  VMutexUnlock(g_tableLock);
  return record;
}

VRC SpawnThread(const char *name, VThreadRoutine routine, void *argument,
                const VThreadAttr *attributes, VThreadData **out) {
  VRC rc = ThreadSubsystemInit();
  if (rc != 0) return rc;
  VThreadData *record = nullptr;
  rc = PrepareRecord(name, routine, argument, attributes, &record);
  if (rc != 0) return rc;
  if (platform::ThreadStart(ThreadBody, record, ChooseStackSize(attributes),
                            false, nullptr, &record->threadId) != 0) {
    ReleaseRecord(record);
    return VRC_FAILURE;
  }
  InsertRecord(record);
  *out = record;
  VSemaphorePost(record->startSemaphore);
  return 0;
}

VRC DestroyThread(VThreadData *record) {
  VSemaphoreWait(record->exitSemaphore);
  VRC rc = record->exitCode;
  RemoveRecord(record);
  ReleaseRecord(record);
  return rc;
}

}  // namespace

VRC ThreadSubsystemInit() {
  VOneTimeInitialise(&g_initOnce, CreateInitLock);
  if (g_initLockResult != 0) return g_initLockResult;
  VMutexLock(g_initLock);
  VRC rc = 0;
  if (!g_initialised.load(std::memory_order_relaxed)) rc = BuildTable();
  VMutexUnlock(g_initLock);
  return rc;
}

uint32_t ThreadTableCount() {
  if (!g_initialised.load(std::memory_order_acquire)) return 0;
  VMutexLock(g_tableLock);
  uint32_t count = VHashNumItems(g_table);
  VMutexUnlock(g_tableLock);
  return count;
}

VThreadData *CurrentThread() {
  VThreadData *self = t_self;
  if (self != nullptr) return self;
  if (!g_initialised.load(std::memory_order_acquire)) return nullptr;
  self = LookUpOrAddSelf();
  t_self = self;
  return self;
}

char *CurrentErrorBuffer(size_t *size) {
  VThreadData *self = CurrentThread();
  if (self == nullptr) return nullptr;
  *size = kThreadErrorBufferSize;
  return self->errorBuffer;
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;
namespace vp = vantrel::platform;

VRC VThreadSpawn(const char *name, VThreadRoutine routine, void *argument,
                 const VThreadAttr *attributes, VThread *out) {
  if (routine == nullptr || out == nullptr) return EINVAL;
  *out = nullptr;
  return vi::SpawnThread(name, routine, argument, attributes, out);
}

VRC VThreadDestroy(VThread thread) {
  if (thread == nullptr) return EINVAL;
  return vi::DestroyThread(thread);
}

void VThreadScheduleStop(VThread thread) {
  if (thread == nullptr) return;
  std::atomic_ref<int32_t>(thread->continueFlag)
      .store(0, std::memory_order_relaxed);
}

int VThreadShouldContinue(VThread thread) {
  if (thread == nullptr) return 0;
  return std::atomic_ref<int32_t>(thread->continueFlag)
      .load(std::memory_order_relaxed);
}

const char *VThreadGetName(VThread thread) {
  return thread != nullptr ? thread->name : nullptr;
}

VThread VThreadGetID(void) { return vi::CurrentThread(); }

VRC VThreadDataKeyCreate(VThreadDataKey *out) {
  if (out == nullptr) return EINVAL;
  *out = nullptr;
  auto *key =
      static_cast<VThreadDataKeyData *>(vi::Malloc(sizeof(VThreadDataKeyData)));
  if (key == nullptr) return ENOMEM;
  if (vp::TlsKeyCreate(&key->key, nullptr) != 0) {
    vi::Free(key);
    return VRC_FAILURE;
  }
  *out = key;
  return 0;
}

VRC VThreadDataKeyDestroy(VThreadDataKey key) {
  if (key == nullptr) return EINVAL;
  if (vp::TlsKeyDelete(key->key) != 0) return VRC_FAILURE;
  vi::Free(key);
  return 0;
}

VRC VThreadDataSet(VThreadDataKey key, void *value) {
  if (key == nullptr) return EINVAL;
  return vp::TlsSet(key->key, value) == 0 ? 0 : VRC_FAILURE;
}

VRC VThreadDataGet(VThreadDataKey key, void **out) {
  if (key == nullptr || out == nullptr) return EINVAL;
  *out = vp::TlsGet(key->key);
  return 0;
}
