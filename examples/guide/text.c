/* Strings and text: a string buffer grown in place, an allocated string
 * that the library grows through a pointer you keep, and conversions that
 * read numbers, flags and quoted text. */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <vantrel.h>

int main(void) {
  vb_buffer line;
  char *name = NULL; /* an allocated string starts as a null pointer */
  char *title = NULL;
  char *quoted = NULL;
  int32_t port = 0, verbose = 0;
  int ok;

  /* A string buffer lives in your storage and grows on the heap. */
  vb_init(&line);
  if (vb_strcat(&line, "listen") != 0 ||
      vb_sprintf(&line, " on port %d", 8080) != 0) {
    return 1;
  }
  printf("%s (%u bytes)\n", vb_strval(&line), vb_strlen(&line));

  /* Allocated strings: each call may move the string. */
  if (astrcpy(&name, "vt") == NULL || astrcat(&name, "echo") == NULL ||
      v_asprintf(&title, "%s-%d", name, 2) < 0) {
    return 1;
  }

  /* Conversions from text: base 0 reads "0x1F90"; flags read "yes". */
  VStringToInteger("0x1F90", &port);
  VStringToBoolean("yes", &verbose);
  if (VStringQuoted("it's\tdone", &quoted) != 0) return 1;
  printf("%s port=%d verbose=%d quoted=%s\n", title, port, verbose, quoted);

  ok = strcmp(vb_strval(&line), "listen on port 8080") == 0 &&
       strcmp(title, "vtecho-2") == 0 && port == 8080 && verbose == 1 &&
       strcmp(quoted, "'it\\'s\\tdone'") == 0 && VStringIsValidInteger("-12");
  free(quoted);
  astrfree(&title);
  astrfree(&name);
  vb_free(&line);
  return ok ? 0 : 1;
}
