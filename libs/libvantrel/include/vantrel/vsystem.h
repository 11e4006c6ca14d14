/* System and process information: a uname-style description of the
 * machine and its operating system, and handles on running processes from
 * which their start times are read.  Nothing here logs. */
#ifndef VANTREL_VSYSTEM_H
#define VANTREL_VSYSTEM_H

#include <time.h>

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* Bytes of each field of VSystemName, terminator included. */
#define VSYSTEM_NAME_FIELD_SIZE 256

/* The description VSystemUname fills; every field is terminated. */
typedef struct VSystemName {
  char sysname[VSYSTEM_NAME_FIELD_SIZE];  /* the system's name: "Linux" */
  char nodename[VSYSTEM_NAME_FIELD_SIZE]; /* the host name, or "localhost" */
  char release[VSYSTEM_NAME_FIELD_SIZE];  /* major version, "%d": "6" */
  char version[VSYSTEM_NAME_FIELD_SIZE];  /* minor version, "%02d": "01" */
  char machine[VSYSTEM_NAME_FIELD_SIZE];  /* the processor: "x86_64" */
} VSystemName;

/* A handle on a process, from VProcessGet until VProcessFree. */
typedef struct VProcessData *VProcess;

/* Fills *name (for Linux the kernel's major and minor release numbers).
 * 0; VRC_FAILURE (-19) when the system does not describe itself; EINVAL
 * (22) for a null name. */
VANTREL_API VRC VSystemUname(VSystemName *name);

/* A handle on the running process pid (a zombie still counts).  0 and the
 * handle in *out; VRC_FAILURE (-19) for a negative pid (*out untouched) or
 * one that no process has (*out null); ENOMEM (12); EINVAL for a null out.
 * The handle keeps what it needs, so it still answers after the process has
 * ended. */
VANTREL_API VRC VProcessGet(int32_t pid, VProcess *out);

/* When the process started, in seconds since the epoch, into *start.  0, or
 * VRC_FAILURE (-19) for a null handle or start, or a time before 1970. */
VANTREL_API VRC VProcessGetStartTime(VProcess process, time_t *start);

/* Releases the handle; null is accepted.  Always 0. */
VANTREL_API VRC VProcessFree(VProcess process);

VANTREL_END_DECLS

#endif /* VANTREL_VSYSTEM_H */
