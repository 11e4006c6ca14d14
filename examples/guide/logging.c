/* Logging: every diagnostic goes through VLog, which filters by level,
 * formats the line and hands it to the destination: standard error by
 * default, or a log file that rotates by size or by day (VDE_LOGFILE_...
 * settings).  Here the process's log goes to a file, and a second log
 * object of the program's own writes to standard output. */
#include <stdio.h>
#include <string.h>
#include <vantrel.h>

int main(void) {
  VLogFile audit = NULL;
  char line[256];
  FILE *file;
  int found = 0;

  remove("guide.log");
  /* The destination is given at start-up: a bare path is a log file. */
  if (VInitialise("logging", "file:guide.log") != 0) return 1;
  VLogMgrSetLevel(VLOG_INFO);
  /* Headers are logged (at debug level) at the top of every new file. */
  VLogHeaderAdd("logging example %s", VANTREL_VERSION_STRING);

  /* Messages without a catalog number use number 0 and the set of their
   * level (VLOG_SET_INFO, VLOG_SET_ERROR, ...). */
  VLog(VLOG_INFO, 0, NULL, VLOG_SET_INFO, 0, "listening on port %d", 8080);
  VLog(VLOG_DEBUG, 1, NULL, VLOG_SET_DEBUG, 0, "below the threshold: dropped");
  VLog(VLOG_ERROR, 0, NULL, VLOG_SET_ERROR, 0, "client %s went away",
       "10.0.0.7");

  /* A log object of your own, with its own threshold. */
  if (VLogFileOpen("stdout", &audit) != 0) return 1;
  VLogFileSetLevel(audit, VLOG_WARN);
  VLogToFile(audit, VLOG_WARN, 0, NULL, VLOG_SET_WARN, 0, "audit: %d lines", 2);
  VLogFileClose(audit);

  /* A log file's lines: date, time, level name, text. */
  file = fopen("guide.log", "r");
  if (file == NULL) return 1;
  while (fgets(line, sizeof line, file) != NULL) {
    fputs(line, stdout);
    found += strstr(line, "listening on port 8080") != NULL ||
             strstr(line, "client 10.0.0.7 went away") != NULL;
    if (strstr(line, "dropped") != NULL) return 1;
  }
  fclose(file);
  return found == 2 ? 0 : 1;
}
