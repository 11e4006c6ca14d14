/* Regular expressions (POSIX extended syntax): compile once, match many
 * subjects, read sub-expressions and build text from a template. */
#include <stdio.h>
#include <string.h>
#include <vantrel.h>

int main(void) {
  const char *lines[] = {"GET /index.html HTTP/1.1", "QUIT",
                         "PUT /upload HTTP/1.0"};
  VRegexp request = NULL;
  char method[16], rewritten[128];
  size_t i;
  int matched = 0;
  VRC rc = VRegexpCompile("^([A-Z]{1,15}) (/[^ ]*) HTTP/(1\\.[01])$", &request);
  if (rc != 0) {
    printf("pattern refused: %s\n", VRCToString(rc));
    return 1;
  }

  for (i = 0; i < sizeof lines / sizeof lines[0]; ++i) {
    rc = VRegexpMatch(request, lines[i]);
    if (rc == VRC_REGEXP_NO_MATCH) {
      printf("%-26s no match\n", lines[i]);
      continue;
    }
    if (rc != 0) break;
    /* Sub-expression 1: at most 15 letters, so method holds it. */
    VRegexpGetSub(request, 1, method);
    VRegexpSubst(request, "\\2 via \\1 (version \\3)", rewritten);
    printf("%-26s %s: %s\n", lines[i], method, rewritten);
    ++matched;
  }
  VRegexpFree(request);
  return matched == 2 ? 0 : 1;
}
