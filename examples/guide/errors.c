/* Return codes and exception records.  Every fallible call returns a VRC:
 * 0 for success, 1 to 9999 the C library's error numbers, 10000 and above
 * socket errors, negative numbers the library's own.  Where a caller
 * should learn more than the code, a chain of exception records in the
 * calling thread tells what failed and with which argument. */
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantrel.h>

/* Your own call in the library's style: a code, and the details on the
 * thread's chain. */
static VRC OpenSpool(const char *path) {
  VTypedValue where;
  where.type = VDT_STRING;
  where.value.stringValue.text = (char *)path;
  where.value.stringValue.length = (uint32_t)strlen(path);
  VThreadExceptionRaise(VThreadGetID(), "SpoolOpen", NULL, 0, 0,
                        "Cannot open the spool directory", &where, NULL, NULL,
                        NULL);
  return VRC_OPEN_FAILED;
}

int main(void) {
  VRC rc;
  char *details = NULL;
  int ok;
  if (VInitialise("errors", "stderr") != 0) return 1;

  /* Codes render as text without allocating (the thread's own buffer). */
  printf("%d: %s\n", ENOMEM, VRCToString(ENOMEM));
  printf("%d: %s\n", VRC_TIMEOUT, VRCToString(VRC_TIMEOUT));

  rc = OpenSpool("/var/spool/vtecho");
  if (rc != 0 && VThreadExceptionRaised(VThreadGetID())) {
    printf("%d: %s\n", rc, VRCToString(rc));
    VThreadExceptionToBuffer(VThreadGetID(), &details); /* yours to free */
    fputs(details, stdout);
  }
  ok = details != NULL && strstr(details, "'SpoolOpen' exception") != NULL &&
       strstr(details, "/var/spool/vtecho") != NULL &&
       strcmp(VRCToString(VRC_TIMEOUT), "Timeout") == 0;
  free(details);
  VThreadExceptionClear(VThreadGetID());
  return ok && !VThreadExceptionRaised(VThreadGetID()) ? 0 : 1;
}
