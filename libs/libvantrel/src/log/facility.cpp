// Debug facilities and assertions.  They stay in the interface for the
// programs that call them, but no facility is ever enabled: every module's
// facility handle is 0, so its debug messages are dropped by VLog.
#include "vantrel/vlog.h"

VRC VDebugFacilityRegister(const char *, int *facility) {
  if (facility != nullptr) *facility = 0;
  return 0;
}

VRC VDebugFacilityUnregister(int) { return 0; }

VRC VDebugFacilitySet(const char *, int) { return 0; }

VRC VDebugFacilityPrint(void) { return 0; }

void _v_DebugAssert(const char *, const char *, int) {}
