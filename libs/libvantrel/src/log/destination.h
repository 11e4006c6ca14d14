// Log destinations: the specification a caller gives ("stderr", "file:x",
// "scheme://path", a bare path) split into a scheme and a path, and the
// registry that maps a scheme to the driver that writes there.
#ifndef VANTREL_LOG_DESTINATION_H
#define VANTREL_LOG_DESTINATION_H

#include <string_view>

#include "log/log_record.h"
#include "vantrel/vbase.h"

namespace vantrel::internal {

// A parsed specification.  `scheme` names the driver ("file", "stdout",
// ...), empty when the text names none; `path` is what the driver's open
// receives.
struct LogDestination {
  std::string_view scheme;
  const char *path;
};

// Splits a specification; the comparisons are exact and case-sensitive.
LogDestination LogDestinationParse(const char *spec);

// The driver registered for `scheme`, or null when none is, in which case
// the object keeps the default driver.
const LogDriver *LogSchemeDriver(std::string_view scheme);

// Registers `driver` for `scheme` (copied, at most kLogSchemeNameSize - 1
// characters); the driver must live as long as the process.  Meant for
// start-up: registration and lookups may race only in that a lookup made
// during a registration may not see it yet.
// Returns 0; EINVAL for an empty or overlong name or a null driver;
// VRC_EXISTS when the scheme has a driver already; VRC_FAILURE when the
// registry is full.
inline constexpr size_t kLogSchemeNameSize = 32;
VRC LogSchemeRegister(const char *scheme, const LogDriver *driver);

}  // namespace vantrel::internal

#endif  // VANTREL_LOG_DESTINATION_H
