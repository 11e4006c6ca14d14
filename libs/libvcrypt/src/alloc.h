// libvcrypt's one way to the heap.  Every allocation goes through Malloc so
// that tests can make the Nth one fail; every buffer handed to a caller is a
// block that remembers its size, so its release can wipe all of it.
#ifndef VCRYPT_SRC_ALLOC_H
#define VCRYPT_SRC_ALLOC_H

#include <stddef.h>
#include <stdint.h>

namespace vcrypt::internal {

void *Malloc(size_t size);
void *Calloc(size_t count, size_t size);
void Free(void *block);

// A buffer of `size` usable bytes for a caller, or null.  Released only by
// FreeBlock, which wipes the whole block first.
unsigned char *AllocBlock(size_t size);
// Wipes and releases a block from AllocBlock; null does nothing.
void FreeBlock(void *payload);
// Wipes `size` bytes at `block` and releases it (a Malloc'd record that
// held something worth hiding); null does nothing.
void FreeWiped(void *block, size_t size);

// Test hooks.  Arming counts the allocation attempts of the arming thread
// from then on; attempt `nth` fails (1 is the next one), and with `repeat`
// every later one too.  Other threads are never failed.
void AllocFailArm(uint64_t nth, bool repeat);
// Disarms and returns the number of failures injected since arming.
uint64_t AllocFailDisarm();
// Counts one allocation attempt against the armed state and tells whether
// it must fail.  The funnel asks this; a test may route OpenSSL's allocator
// through it too, so that one sweep fails both kinds of allocation.
bool AllocAttemptFails();
// When set, the funnel also fails every attempt for which `hook` returns
// true: a program's own test build can drive this library's failures from
// its own counter.  Null removes it.
void SetAllocFailHook(bool (*hook)());
// Blocks allocated and not yet released, by every thread.
int64_t AllocLiveBlocks();
// When set, called with every wiped block right before it is released, so
// that a test can see it was wiped.  Null removes it.
void SetReleaseObserver(void (*observer)(const void *block, size_t size));

}  // namespace vcrypt::internal

#endif  // VCRYPT_SRC_ALLOC_H
