// Debug facilities and assertions.  They stay in the interface for the
// programs that call them, but no facility is ever enabled: every module's
// facility handle is 0, so its debug messages are dropped by VLog.
#include "vantrel/vlog.h"

extern "C" {

VANTREL_API VRC VDebugFacilityRegister(const char *, int *facility) {
  if (facility != nullptr) *facility = 0;
  return 0;
}

VANTREL_API VRC VDebugFacilityUnregister(int) { return 0; }

VANTREL_API VRC VDebugFacilitySet(const char *, int) { return 0; }

VANTREL_API VRC VDebugFacilityPrint(void) { return 0; }

VANTREL_API void _v_DebugAssert(const char *, const char *, int) {}

}  // extern "C"
