// The library's one way to the C heap.  Every allocation goes through these
// functions so that tests can make the Nth one fail and count them; results
// live on the C heap, so callers may release them with free().
#ifndef VANTREL_INTERNAL_ALLOC_H
#define VANTREL_INTERNAL_ALLOC_H

#include <stddef.h>
#include <stdint.h>

namespace vantrel::internal {

void *Malloc(size_t size);
void *Calloc(size_t count, size_t size);
// Like realloc, but a failed call leaves the old block untouched and
// returns null; a size of 0 is served as 1 so null always means failure.
void *Realloc(void *block, size_t size);
char *Strdup(const char *text);
// Copies at most `length` bytes of text and terminates the copy.
char *Strndup(const char *text, size_t length);
void Free(void *block);

// Test hooks.  None of them costs an unwatched allocation more than one
// relaxed load.
//
// Arming counts allocation attempts made by the arming thread from then
// on; attempt number `nth` fails (1 is the next one), and with `repeat` so
// does every later attempt.  Other threads are never failed, so the
// library's service threads do not disturb a sweep.
void AllocFailArm(uint64_t nth, bool repeat);
// Disarms and tells whether at least one failure was injected.
bool AllocFailDisarm();

// Counting of the calling thread's allocation attempts, for the promises
// that an operation allocates nothing or once.  Begin and End nest; the
// count only grows while at least one Begin is open.
void AllocCountBegin();
void AllocCountEnd();
// Attempts counted on the calling thread so far.
uint64_t AllocThreadCount();

}  // namespace vantrel::internal

#endif  // VANTREL_INTERNAL_ALLOC_H
