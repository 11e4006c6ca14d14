// The destination parser and the scheme registry.  The registry is a fixed
// array so that switching a destination never allocates and works before
// the library has started; the built-in schemes are in it from the start.
#include "log/destination.h"

#include <errno.h>
#include <string.h>

#include <atomic>

#include "platform/sync.h"
#include "vantrel/vrc.h"

namespace vantrel::internal {
namespace {

struct SchemeEntry {
  char name[kLogSchemeNameSize];
  const LogDriver *driver;
};

constexpr size_t kMaxSchemes = 16;
constexpr size_t kBuiltinSchemes = 3;

// Entries below g_schemeCount are complete: a registration fills its entry
// before publishing the new count.
constinit SchemeEntry g_schemes[kMaxSchemes] = {
    {"file", &kLogFileDriver},
    {"stdout", &kLogStreamDriver},
    {"stderr", &kLogStreamDriver},
};
constinit std::atomic<size_t> g_schemeCount{kBuiltinSchemes};

// Without substr and starts_with, whose bounds checks call into the C++
// runtime when they are not inlined.
LogDestination Split(const char *spec) {
  std::string_view text(spec);
  if (text == "stdout" || text == "stdout:") return {"stdout", "stdout"};
  if (text == "stderr" || text == "stderr:") return {"stderr", "stderr"};
  // The home platform's system destinations have no driver here.
  if (text == "system:" || text == "eventlog:") return {"", ""};
  if (text.find("://") != std::string_view::npos) {
    size_t colon = text.find(':');
    return {std::string_view(spec, colon), spec + colon + 2};
  }
  if (strncmp(spec, "file:", 5) == 0) return {"file", spec + 5};
  return {"file", spec};
}

}  // namespace

LogDestination LogDestinationParse(const char *spec) { return Split(spec); }

const LogDriver *LogSchemeDriver(std::string_view scheme) {
  if (scheme.empty()) return nullptr;
  size_t count = g_schemeCount.load(std::memory_order_acquire);
  for (size_t i = 0; i < count; ++i) {
    if (scheme == g_schemes[i].name) return g_schemes[i].driver;
  }
  return nullptr;
}

VRC LogSchemeRegister(const char *scheme, const LogDriver *driver) {
  if (scheme == nullptr || driver == nullptr) return EINVAL;
  size_t length = strlen(scheme);
  if (length == 0 || length >= kLogSchemeNameSize) return EINVAL;
  platform::Mutex *lock = platform::ProcessMutex();
  platform::MutexLock(lock);
  VRC rc = 0;
  size_t count = g_schemeCount.load(std::memory_order_relaxed);
  if (LogSchemeDriver(std::string_view(scheme, length)) != nullptr) {
    rc = VRC_EXISTS;
  } else if (count == kMaxSchemes) {
    rc = VRC_FAILURE;
  } else {
    memcpy(g_schemes[count].name, scheme, length + 1);
    g_schemes[count].driver = driver;
    g_schemeCount.store(count + 1, std::memory_order_release);
  }
  platform::MutexUnlock(lock);
  return rc;
}

}  // namespace vantrel::internal
