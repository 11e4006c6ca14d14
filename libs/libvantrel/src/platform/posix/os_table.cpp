// The table of operating-system calls and its test controls.  An armed entry
// holds a wrapper that counts the call and either fails it the way the
// system reports that call's failures or hands it to the function the entry
// held before; disarming puts that function back.
#include "platform/posix/os_table.h"

#include <errno.h>
#include <string.h>

#include <type_traits>

#include "platform/oscall.h"

// Entry types drop the declarations' checking attributes (see os_table.h).
#pragma GCC diagnostic ignored "-Wignored-attributes"

namespace vantrel::platform::posix {

int DefaultOpen(const char *path, int flags, mode_t mode) {
  return ::open(path, flags, mode);
}

int DefaultFcntl(int descriptor, int command, int argument) {
  return ::fcntl(descriptor, command, argument);
}

int DefaultIoctlInt(int descriptor, unsigned long request, int *value) {
  return ::ioctl(descriptor, request, value);
}

long DefaultFutex(uint32_t *word, int op, uint32_t value,
                  const struct timespec *timeout, uint32_t *word2,
                  uint32_t value3) {
  return ::syscall(SYS_futex, word, op, value, timeout, word2, value3);
}

int DefaultDladdr(const void *address, Dl_info *info) {
  if (::dladdr(address, info) != 0) return 0;
  errno = ENOENT;
  return -1;
}

// Constant-initialised: usable before any constructor runs and until exit.
constinit OsTable g_os = {
#define VANTREL_OS_DEFAULT(name, function, form) &function,
    VANTREL_OS_CALLS(VANTREL_OS_DEFAULT)
#undef VANTREL_OS_DEFAULT
};

namespace {

// One entry's test state.  Read only by the armed wrapper, never on the
// unarmed path.
struct Fault {
  std::atomic<bool> armed;
  std::atomic<uint64_t> nth;
  std::atomic<bool> repeat;
  std::atomic<int> error;
  std::atomic<uint64_t> calls;
  std::atomic<OsFunction> next;  // what the wrapper hands a passing call to
};
constinit Fault g_faults[kOsOpCount] = {};

constexpr FailForm kForms[kOsOpCount] = {
#define VANTREL_OS_FORM(name, function, form) FailForm::form,
    VANTREL_OS_CALLS(VANTREL_OS_FORM)
#undef VANTREL_OS_FORM
};

// Counts the call; true (with the error to deliver) when it is to fail.
bool Fires(int op, int *error) {
  Fault &f = g_faults[op];
  uint64_t call = f.calls.fetch_add(1, std::memory_order_relaxed) + 1;
  uint64_t nth = f.nth.load(std::memory_order_acquire);
  if (nth == 0 || call < nth) return false;
  if (call > nth && !f.repeat.load(std::memory_order_relaxed)) return false;
  *error = f.error.load(std::memory_order_relaxed);
  return true;
}

template <class R>
R FailWith(FailForm form, int error) {
  if constexpr (std::is_void_v<R>) {
    return;
  } else if constexpr (std::is_pointer_v<R>) {
    errno = error;
    return nullptr;
  } else {
    if (form == FailForm::kReturn) return static_cast<R>(error);
    errno = error;
    return static_cast<R>(-1);
  }
}

template <int op, class F>
struct Armed;

template <int op, class R, class... A, bool kNoexcept>
struct Armed<op, R (*)(A...) noexcept(kNoexcept)> {
  using Function = R (*)(A...) noexcept(kNoexcept);
  static R Call(A... args) noexcept(kNoexcept) {
    int error = 0;
    if (Fires(op, &error)) return FailWith<R>(kForms[op], error);
    OsFunction next = g_faults[op].next.load(std::memory_order_acquire);
    return reinterpret_cast<Function>(next)(args...);
  }
};

// Type-erased access to one entry.
struct Entry {
  const char *name;
  OsFunction (*get)();
  void (*set)(OsFunction);
  OsFunction (*armed)();
};

#define VANTREL_OS_ENTRY(name, function, form)                           \
  {#name, [] { return reinterpret_cast<OsFunction>(g_os.name.load()); }, \
   [](OsFunction f) {                                                    \
     g_os.name.store(reinterpret_cast<decltype(&function)>(f),           \
                     std::memory_order_release);                         \
   },                                                                    \
   [] {                                                                  \
     return reinterpret_cast<OsFunction>(                                \
         &Armed<kOp_##name, decltype(&function)>::Call);                 \
   }},
constinit const Entry kEntries[kOsOpCount] = {
    VANTREL_OS_CALLS(VANTREL_OS_ENTRY)};
#undef VANTREL_OS_ENTRY

int Find(const char *name) {
  for (int i = 0; i < kOsOpCount; ++i) {
    if (strcmp(kEntries[i].name, name) == 0) return i;
  }
  return -1;
}

}  // namespace

}  // namespace vantrel::platform::posix

namespace vantrel::platform {

namespace px = posix;

bool OsCallExists(const char *name) { return px::Find(name) >= 0; }

int OsCallArm(const char *name, uint64_t nth, bool repeat, int error) {
  int op = px::Find(name);
  if (op < 0) return ENOENT;
  if (nth != 0 && px::kForms[op] == px::FailForm::kNever) return EINVAL;
  px::Fault &f = px::g_faults[op];
  if (f.armed.exchange(true)) return EBUSY;
  f.next.store(px::kEntries[op].get(), std::memory_order_relaxed);
  f.repeat.store(repeat, std::memory_order_relaxed);
  f.error.store(error, std::memory_order_relaxed);
  f.calls.store(0, std::memory_order_relaxed);
  f.nth.store(nth, std::memory_order_release);
  px::kEntries[op].set(px::kEntries[op].armed());
  return 0;
}

uint64_t OsCallDisarm(const char *name) {
  int op = px::Find(name);
  if (op < 0) return 0;
  px::Fault &f = px::g_faults[op];
  if (!f.armed.load()) return 0;
  px::kEntries[op].set(f.next.load());
  f.nth.store(0, std::memory_order_release);
  f.armed.store(false);
  return f.calls.load();
}

uint64_t OsCallCount(const char *name) {
  int op = px::Find(name);
  if (op < 0 || !px::g_faults[op].armed.load()) return 0;
  return px::g_faults[op].calls.load();
}

int OsCallReplace(const char *name, OsFunction fn, OsFunction *previous) {
  int op = px::Find(name);
  if (op < 0) return ENOENT;
  px::Fault &f = px::g_faults[op];
  if (f.armed.load()) {
    *previous = f.next.exchange(fn);
  } else {
    *previous = px::kEntries[op].get();
    px::kEntries[op].set(fn);
  }
  return 0;
}

}  // namespace vantrel::platform
