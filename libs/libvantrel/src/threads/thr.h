// The thread record and the thread manager's internals.  The record's field
// order is part of the library's documented layout; the exception chain
// fields are maintained by the exception operations.
#ifndef VANTREL_THREADS_THR_H
#define VANTREL_THREADS_THR_H

#include <stddef.h>
#include <stdint.h>

#include <type_traits>

#include "core/retcode.h"
#include "vantrel/vi18n.h"
#include "vantrel/vsync.h"
#include "vantrel/vthread.h"
#include "vantrel/vvalue.h"

namespace vantrel::internal {

inline constexpr size_t kThreadNameSize = 44;  // 43 characters and a NUL
inline constexpr size_t kThreadErrorBufferSize = 1024;
inline constexpr int32_t kThreadMaxExceptions = 16;
inline constexpr size_t kThreadStringPoolSize = 1024;

// One message of a thread's exception chain.  Texts are not copied except
// STRING arguments, whose copies live in the record's string pool.
struct ThreadExceptionEntry {
  VI18nCatalog catalog;     // may be null
  int32_t set;              // message set
  int32_t number;           // message number
  const char *defaultText;  // kept, not copied
  VDataType argType;        // VDT_INVALID (0): no argument
  VValue argValue;          // aligned for a double
};

}  // namespace vantrel::internal

// A thread's record: an item of the thread table, zero-filled when made.
// The continue flag is read and written without a lock from two threads,
// so it is only ever touched through relaxed atomic operations.
struct VThreadData {
  uint32_t threadId;  // system thread id; the table's key
  char name[vantrel::internal::kThreadNameSize];
  VThreadRoutine routine;
  void *argument;
  int32_t continueFlag;  // 1 while the thread should run
  char errorBuffer[vantrel::internal::kThreadErrorBufferSize];
  const char *exceptionName;  // null when no exception has been raised
  int32_t exceptionCount;     // 0 to 16
  int32_t releaseAtExit;      // 1: the thread releases its own record
  VRC exitCode;
  VSemaphore startSemaphore;  // posted once the record is complete
  VSemaphore exitSemaphore;   // posted by a joinable thread after its routine
  vantrel::internal::ThreadExceptionEntry
      exceptions[vantrel::internal::kThreadMaxExceptions];
  char stringPool[vantrel::internal::kThreadStringPoolSize];
  uint32_t poolUsed;  // bytes of stringPool in use
};

static_assert(std::is_standard_layout_v<VThreadData> &&
              std::is_trivially_copyable_v<VThreadData>);
static_assert(offsetof(VThreadData, threadId) == 0);
static_assert(offsetof(VThreadData, name) == 4);
static_assert(offsetof(VThreadData, routine) > offsetof(VThreadData, name));
static_assert(offsetof(VThreadData, argument) > offsetof(VThreadData, routine));
static_assert(offsetof(VThreadData, continueFlag) >
              offsetof(VThreadData, argument));
static_assert(offsetof(VThreadData, errorBuffer) >
              offsetof(VThreadData, continueFlag));
static_assert(offsetof(VThreadData, exceptionName) >
              offsetof(VThreadData, errorBuffer));
static_assert(offsetof(VThreadData, exceptionCount) >
              offsetof(VThreadData, exceptionName));
static_assert(offsetof(VThreadData, releaseAtExit) >
              offsetof(VThreadData, exceptionCount));
static_assert(offsetof(VThreadData, exitCode) >
              offsetof(VThreadData, releaseAtExit));
static_assert(offsetof(VThreadData, startSemaphore) >
              offsetof(VThreadData, exitCode));
static_assert(offsetof(VThreadData, exitSemaphore) >
              offsetof(VThreadData, startSemaphore));
static_assert(offsetof(VThreadData, exceptions) >
              offsetof(VThreadData, exitSemaphore));
static_assert(offsetof(VThreadData, stringPool) >
              offsetof(VThreadData, exceptions));
static_assert(offsetof(VThreadData, poolUsed) ==
              offsetof(VThreadData, stringPool) +
                  vantrel::internal::kThreadStringPoolSize);
static_assert(alignof(vantrel::internal::ThreadExceptionEntry) >=
              alignof(double));
static_assert(offsetof(vantrel::internal::ThreadExceptionEntry, argValue) %
                  alignof(double) ==
              0);

namespace vantrel::internal {

// Initialises the thread subsystem once: the thread table, its lock and
// the "MAIN" record for the calling thread.  Returns 0, the code of the
// first step that failed (ENOMEM when the table or record cannot be made), or
// the code of creating the initialisation lock (on every call).
VRC ThreadSubsystemInit();

// The calling thread's record, as VThreadGetID returns it.
VThreadData *CurrentThread();

// Number of records in the thread table (0 before initialisation).
uint32_t ThreadTableCount();

}  // namespace vantrel::internal

#endif  // VANTREL_THREADS_THR_H
