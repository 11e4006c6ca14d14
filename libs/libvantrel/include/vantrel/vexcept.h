/* Thread exception records: a chain of messages that a failing operation
 * leaves in the calling thread's record for its caller to inspect.
 *
 * A chain has a name (the kind of exception) and up to 16 entries, each a
 * catalog-addressed message with at most one typed argument.  Nothing
 * unwinds: the chain is data that stays until the thread clears it or
 * raises again.  Raising and adding never allocate (string arguments are
 * copied into a 1024-byte pool inside the record), so a failure caused by
 * exhausted memory can still be reported; only rendering into a string or
 * into the log allocates.
 *
 * Callers pass their own record, VThreadGetID().  No lock guards a chain:
 * reading another thread's chain is safe only while that thread leaves it
 * alone.  A null thread is accepted everywhere and holds no chain. */
#ifndef VANTREL_VEXCEPT_H
#define VANTREL_VEXCEPT_H

#include <stdio.h>

#include "vantrel/vbase.h"
#include "vantrel/vi18n.h"
#include "vantrel/vthread.h"
#include "vantrel/vvalue.h"

VANTREL_BEGIN_DECLS

/* Entries a chain holds; further adds are dropped. */
#define VTHREAD_EXCEPTION_MAX_ENTRIES 16
/* Bytes of the pool that holds copies of string arguments, terminators
 * included. */
#define VTHREAD_EXCEPTION_POOL_SIZE 1024
/* Characters of a thread's error buffer. */
#define VTHREAD_ERROR_BUFFER_SIZE 1024

/* The thread's 1024-character scratch buffer into which return-code texts
 * are written.  Null for a null thread. */
VANTREL_API char *VThreadGetErrorBuffer(VThread thread);

/* Starts a new chain: clears the old one, keeps `name` (not copied: pass a
 * string that outlives the chain, normally a literal) and adds the first
 * entry as VThreadExceptionAdd does.  The three reserved slots are not
 * read; pass null. */
VANTREL_API void VThreadExceptionRaise(VThread thread, const char *name,
                                       VI18nCatalog catalog, int32_t set,
                                       int32_t number, const char *text,
                                       const VTypedValue *argument,
                                       const VTypedValue *reserved1,
                                       const VTypedValue *reserved2,
                                       const VTypedValue *reserved3);

/* Appends an entry: message (set, number) of catalog with `text` as its
 * default (kept, not copied) and an optional argument (null for none).
 * Scalars are copied; a STRING's text (its length word must be its
 * strlen) is copied into the pool, or dropped, leaving the entry without
 * argument, when the pool lacks room; BINARY keeps the caller's pointer.
 * A 17th entry is dropped without notice.  The reserved slots are not
 * read; pass null. */
VANTREL_API void VThreadExceptionAdd(
    VThread thread, VI18nCatalog catalog, int32_t set, int32_t number,
    const char *text, const VTypedValue *argument, const VTypedValue *reserved1,
    const VTypedValue *reserved2, const VTypedValue *reserved3);

/* Empties the chain: no name, no entries, the whole pool free again. */
VANTREL_API void VThreadExceptionClear(VThread thread);

/* 1 when the chain holds at least one entry, else 0. */
VANTREL_API int VThreadExceptionRaised(VThread thread);

/* Writes the rendering to stream: a heading "'<name>' exception occured:"
 * and one tab-indented line per entry with its argument.  Writes nothing
 * for an empty chain. */
VANTREL_API void VThreadExceptionPrint(VThread thread, FILE *stream);

/* Stores in *out a new string holding the same characters that
 * VThreadExceptionPrint writes, or null for an empty chain.  The caller
 * releases it with free.  When memory runs out the text is cut short
 * (null when nothing could be allocated). */
VANTREL_API void VThreadExceptionToBuffer(VThread thread, char **out);

/* Renders the chain as VThreadExceptionToBuffer does and writes it to the
 * library log as one error message (level 4, facility 1).  Does nothing
 * for an empty chain. */
VANTREL_API void VThreadExceptionLog(VThread thread);

VANTREL_END_DECLS

#endif /* VANTREL_VEXCEPT_H */
