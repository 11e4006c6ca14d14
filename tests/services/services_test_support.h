// Helpers shared by the service tests: soak sizes that shrink under the
// sanitizers, and waits that yield instead of sleeping.
#ifndef VANTREL_TESTS_SERVICES_SUPPORT_H
#define VANTREL_TESTS_SERVICES_SUPPORT_H

#include <chrono>
#include <thread>

namespace vtest {

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
inline constexpr bool kSanitized = true;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer) || __has_feature(address_sanitizer)
inline constexpr bool kSanitized = true;
#else
inline constexpr bool kSanitized = false;
#endif
#else
inline constexpr bool kSanitized = false;
#endif

// `full` in a plain build, `full / divisor` under a sanitizer.
constexpr int SoakSize(int full, int divisor) {
  return kSanitized ? full / divisor : full;
}

// Yields until done() holds or `limit` passes; returns done().
template <typename Done>
bool YieldUntil(Done done,
                std::chrono::milliseconds limit = std::chrono::seconds(60)) {
  auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() > end) return done();
    std::this_thread::yield();
  }
  return true;
}

}  // namespace vtest

#endif  // VANTREL_TESTS_SERVICES_SUPPORT_H
