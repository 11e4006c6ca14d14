/* Logging: levelled, catalog-numbered messages written through a log
 * object's driver.
 *
 * The process's log (the log manager) is one VLogFile owned by the library;
 * VLog writes to it.  Until VInitialise brings it up it writes to standard
 * error with threshold 3 (warn) and without locking.  Programs may open log
 * objects of their own with VLogFileOpen and write to them with VLogToFile.
 *
 * A message is written when its level is at least the object's threshold;
 * debug messages (level 1) are also dropped when their facility is 0.
 * Formatting and the catalog lookup run outside the object's lock; only the
 * driver's write is serialised.  A fatal message (level 5) ends the process
 * with exit status 1 after it has been written, unless the object's fatal
 * flag was set with ...SetFatalDoesNotExit.
 *
 * Destinations: "stdout"/"stdout:" and "stderr"/"stderr:" write dated lines
 * to that stream; "file:PATH", or any other text, writes to the file PATH
 * (with the rotation and pool settings read from VDE_LOGFILE_...);
 * "system:", "eventlog:" and "TYPE://..." keep the standard-error default.
 *
 * Environment (unset: the default in brackets):
 *   VDE_DEFAULT_LOG_LEVEL  initial threshold of the process's log and of
 *       each VLogFileOpen: a value starting with a level name, case
 *       ignored; others are ignored [warn].
 *   VDE_FORCE_LOG_MODULE   destination used by VInitialise instead of the
 *       caller's [the caller's].
 * Read by log files at every write:
 *   VDE_LOGFILE_MAXSIZE    bytes past which the file is renamed to
 *       PATH_old and a new one started; 0 or less: never [never].
 *   VDE_LOGFILE_ROTATION_FORMAT  when set, rotation is daily instead, and
 *       this strftime format makes the rotated file's suffix [by size,
 *       suffix "old"].
 *   VDE_LOGFILE_ROTATION_TIME    time of day of the daily rotation, HHMM
 *       [0000].
 * Read by log files when they open:
 *   VDE_LOGFILE_USESTDERR  any value but exactly "TRUE" sends the whole
 *       process's standard error to the null device; after a failed
 *       rename, any value but "FALSE" switches logging to standard error
 *       [standard error left alone; a failed rename falls back to the
 *       pool].
 *   VDE_LOGFILE_USEPOOL    any value but "FALSE" logs into the pool files
 *       PATH_01, PATH_02, ... from the start [no pool].
 *   VDE_LOGFILE_POOLSIZE   number of pool files, 2 to 99 [10]. */
#ifndef VANTREL_VLOG_H
#define VANTREL_VLOG_H

#include <stdarg.h>

#include "vantrel/vbase.h"
#include "vantrel/vi18n.h"

VANTREL_BEGIN_DECLS

/* Levels. */
#define VLOG_DEBUG 1
#define VLOG_INFO 2
#define VLOG_WARN 3
#define VLOG_ERROR 4
#define VLOG_FATAL 5
#define VLOG_UNKNOWN (-1)

/* Message sets of messages without a catalog number (number 0). */
#define VLOG_SET_FATAL 101
#define VLOG_SET_ERROR 102
#define VLOG_SET_WARN 103
#define VLOG_SET_INFO 104
#define VLOG_SET_DEBUG 105

/* Handle of a log object. */
typedef struct VLogFileData *VLogFile;

/* Writes a message to the process's log.  The text is the catalog's text of
 * (set, number), `format` by default, formatted with the arguments.
 * Returns 0 (also for a discarded message); the formatter's code (the
 * failure is reported on standard error and nothing is written); VRC_FAILURE
 * (-19) when the object has no formatter; or the driver's write
 * code.  Does not return for a fatal message unless the fatal flag is
 * set. */
VANTREL_API VRC VLog(int level, int facility, VI18nCatalog catalog, int set,
                     int number, const char *format, ...) VANTREL_PRINTF(6, 7);
/* VLog under a second name. */
VANTREL_API VRC VLogLog(int level, int facility, VI18nCatalog catalog, int set,
                        int number, const char *format, ...)
    VANTREL_PRINTF(6, 7);
/* VLog with the arguments as a va_list. */
VANTREL_API VRC VLogAP(int level, int facility, VI18nCatalog catalog, int set,
                       int number, const char *format, va_list args)
    VANTREL_PRINTF(6, 0);

/* VLog on the given object. */
VANTREL_API VRC VLogToFile(VLogFile log, int level, int facility,
                           VI18nCatalog catalog, int set, int number,
                           const char *format, ...) VANTREL_PRINTF(7, 8);
VANTREL_API VRC VLogToFileAP(VLogFile log, int level, int facility,
                             VI18nCatalog catalog, int set, int number,
                             const char *format, va_list args)
    VANTREL_PRINTF(7, 0);

/* Opens a log object on the destination (a null one is the standard-error
 * default), threshold 3 or
 * VDE_DEFAULT_LOG_LEVEL.  *log is set to null first.  Returns 0; ENOMEM
 * (12) or the lock's code, with *log left null; or the destination's
 * code, in which case *log still receives an object that writes to
 * standard error. */
VANTREL_API VRC VLogFileOpen(const char *destination, VLogFile *log);
/* Closes the destination and releases the object.  Returns 0, or the
 * driver's close code, in which case the object is left as it was. */
VANTREL_API VRC VLogFileClose(VLogFile log);
/* Sets or reads the object's threshold (VLOG_DEBUG to VLOG_FATAL). */
VANTREL_API void VLogFileSetLevel(VLogFile log, int level);
VANTREL_API int VLogFileGetLevel(VLogFile log);
/* Sets the threshold of the level whose name the text starts with, ignoring
 * case ("Warning" and "WARN" give 3).  Returns 0, or VRC_FAILURE (-19)
 * when no name matches (the threshold is unchanged). */
VANTREL_API VRC VLogFileSetLevelFromString(VLogFile log, const char *text);
/* Non-zero keeps the process alive after fatal messages. */
VANTREL_API void VLogFileSetFatalDoesNotExit(VLogFile log, int flag);

/* The same operations on the process's log. */
VANTREL_API void VLogMgrSetLevel(int level);
VANTREL_API int VLogMgrGetLevel(void);
VANTREL_API VRC VLogMgrSetLevelFromString(const char *text);
VANTREL_API void VLogMgrSetFatalDoesNotExit(int flag);
/* Closes the process's destination and opens the given one (a null one is
 * the standard-error default).  Returns 0, or the destination's code; the
 * log then writes to standard error. */
VANTREL_API VRC VLogMgrSwitch(const char *destination);

/* The level whose name the text starts with (ignoring case), or -1. */
VANTREL_API int VLogLevelFromString(const char *text);
/* "fatal", "error", "warn", "info", "debug", or "unknown!". */
VANTREL_API const char *VLogLevelToString(int level);

/* Adds a header line to the process's log and logs it at debug level with
 * facility 1.  Headers are logged again at the top of every new log file.
 * Returns 0 (also before VInitialise, when nothing is done), the
 * formatter's code, or VRC_FAILURE (-19) when the line cannot be stored. */
VANTREL_API VRC VLogHeaderAdd(const char *format, ...) VANTREL_PRINTF(1, 2);
VANTREL_API VRC VLogHeaderAddAP(const char *format, va_list args)
    VANTREL_PRINTF(1, 0);
/* Logs every header line again between begin and end markers.  Returns 0. */
VANTREL_API VRC VLogHeaderLog(void);

/* Debug facilities and assertions: kept for compatibility; they do nothing.
 * Register stores 0 (no facility) in *facility and returns 0. */
VANTREL_API VRC VDebugFacilityRegister(const char *name, int *facility);
VANTREL_API VRC VDebugFacilityUnregister(int facility);
VANTREL_API VRC VDebugFacilitySet(const char *name, int enabled);
VANTREL_API VRC VDebugFacilityPrint(void);
VANTREL_API void _v_DebugAssert(const char *expression, const char *file,
                                int line);

VANTREL_END_DECLS

#endif /* VANTREL_VLOG_H */
