/* Types shared by every family: the return code and the callback shapes
 * used by the containers, the sorts and the ...With allocator functions. */
#ifndef VANTREL_VBASE_H
#define VANTREL_VBASE_H

#include <stddef.h>
#include <stdint.h>

#include "vantrel/export.h"

VANTREL_BEGIN_DECLS

/* Return code of every fallible operation: 0 is success, 1..9999 are
 * C-library error numbers (ENOMEM (12) after a failed allocation), 10000
 * and above socket-layer numbers, negative numbers the library's own. */
typedef int32_t VRC;

/* Null arguments, for every function of the interface.  Where a function's
 * description says what a null means, that holds.  Otherwise a null
 * required pointer (a handle, an item, a buffer, an out-parameter, a
 * function) is refused with the function's own failure result: EINVAL (22)
 * where it returns a code, null or 0 where it returns a pointer or a value
 * (-1 where that is its only failure, as for v_mktime), and no effect where
 * it returns nothing.  A refused call changes nothing and never crashes.
 * Pointers the library only passes on to the caller's own functions (keys,
 * caller arguments) are not required: their null means whatever those
 * functions make of it.  Other misuse (a released handle, an item of
 * another container) remains the caller's error. */

/* Allocator and release function of the ...With calls: the shapes of
 * malloc and free, which are the defaults. */
typedef void *(*VAllocFunc)(size_t size);
typedef void (*VReleaseFunc)(void *block);

/* Visitor of walks, flushes and destroys: called with the item pointer and
 * the caller's argument.  Walks of hash tables stop at the first non-zero
 * result; elsewhere the result is ignored. */
typedef int (*VVisitFunc)(void *item, void *arg);

/* Comparison of two items (or a key and an item) with the caller's
 * argument: negative, zero or positive.  Hash containers only test for 0. */
typedef int (*VCompareFunc)(const void *a, const void *b, void *arg);

/* Hash of an item or a key with the caller's argument. */
typedef uint32_t (*VHashFunc)(const void *item_or_key, void *arg);

VANTREL_END_DECLS

#endif /* VANTREL_VBASE_H */
