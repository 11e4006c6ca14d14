// Test hooks into the allocated strings' growth tracker.  None of them
// counts as a lookup, so they leave the records' ages alone.
#ifndef VANTREL_TEXT_ASTRING_H
#define VANTREL_TEXT_ASTRING_H

#include <stdint.h>

namespace vantrel::internal {

// Capacity recorded for the string, or -1 when it is not tracked.
int32_t AStrTrackedCapacity(const char *string);
// Age of the string's record, or -1 when it is not tracked.
int32_t AStrTrackedAge(const char *string);
// Releases the tracker table without touching the strings, so that a test
// starts from an empty tracker whose table is allocated again on first use.
void AStrTrackerReset();

}  // namespace vantrel::internal

#endif  // VANTREL_TEXT_ASTRING_H
