// Logging a thread's exception chain: the threads layer renders it, the
// log manager writes it.
#include <stddef.h>

#include "internal/alloc.h"
#include "vantrel/vexcept.h"
#include "vantrel/vlog.h"

namespace {

// A rendered chain goes to the library log as one error message without
// catalog, set 0 and number 0.
constexpr int kLogFacility = 1;

}  // namespace

void VThreadExceptionLog(VThread thread) {
  char *text = nullptr;
  VThreadExceptionToBuffer(thread, &text);
  if (text == nullptr) return;
  VLog(VLOG_ERROR, kLogFacility, nullptr, 0, 0, "%s", text);
  vantrel::internal::Free(text);
}
