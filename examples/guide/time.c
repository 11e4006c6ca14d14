/* Time: the current time, its text, parsing a date, and microsecond
 * arithmetic on time-of-day pairs. */
#include <stdio.h>
#include <string.h>
#include <vantrel.h>

int main(void) {
  char text[26];
  struct tm when;
  VTimeval start, end;
  time_t now = VGetCurrentUTC(NULL);
  const char *rest;

  /* ctime's 26-byte form, into your buffer. */
  printf("now: %s", v_ctime(&now, text));

  /* The library's parser, with a fixed English month table. */
  memset(&when, 0, sizeof when);
  rest = v_strptime("2024-03-09 17:45:00", "%Y-%m-%d %H:%M:%S", &when);
  if (rest == NULL) return 1;
  printf("parsed: year %d, month %d, day %d\n", when.tm_year + 1900,
         when.tm_mon + 1, when.tm_mday);

  /* Pairs of seconds and microseconds, always passed by pointer. */
  if (v_gettimeofday(&start) != 0) return 1;
  end = start;
  VTimevalIncrement(&end, 1500000); /* 1.5 s later */
  printf("difference: %d microseconds\n", VTimevalDifference(&start, &end));

  return when.tm_year == 124 && when.tm_mday == 9 &&
                 VTimevalDifference(&start, &end) == 1500000 && now > 0
             ? 0
             : 1;
}
