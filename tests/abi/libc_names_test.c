/* Including the library's header leaves the C library's asprintf and
 * strptime alone; a client that defines VANTREL_LIBC_NAMES first gets the
 * library's versions under those names.  Built once each way. */
#define _GNU_SOURCE /* the C library's asprintf and strptime */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <vantrel.h>

typedef int (*FormatFunc)(char **, const char *, ...);
typedef char *(*ParseFunc)(const char *, const char *, struct tm *);

static int Fail(const char *what) {
  fprintf(stderr, "FAILED: %s\n", what);
  return 1;
}

int main(void) {
  FormatFunc format = asprintf;
  ParseFunc parse = strptime;
  struct tm tm;
  char *p;
  memset(&tm, 0, sizeof tm);
#ifdef VANTREL_LIBC_NAMES
  if (format != v_asprintf) return Fail("asprintf is not the library's");
  if (parse != v_strptime) return Fail("strptime is not the library's");
  p = NULL; /* the library's asprintf grows the string it is given */
  if (asprintf(&p, "%d", 5) != 1 || strcmp(p, "5") != 0) {
    return Fail("asprintf(&p, \"%d\", 5)");
  }
  if (strptime("24", "%y", &tm) == NULL || tm.tm_year != 24) {
    return Fail("the library's %y reads 24 as 1924");
  }
#else
  if (format == v_asprintf) return Fail("asprintf was mapped");
  if (parse == v_strptime) return Fail("strptime was mapped");
  p = (char *)1; /* the C library's asprintf never reads it */
  if (asprintf(&p, "%d", 5) != 1 || strcmp(p, "5") != 0) {
    return Fail("asprintf(&p, \"%d\", 5)");
  }
  if (strptime("24", "%y", &tm) == NULL || tm.tm_year != 124) {
    return Fail("the C library's %y reads 24 as 2024");
  }
#endif
  free(p);
  puts("ok");
  return 0;
}
