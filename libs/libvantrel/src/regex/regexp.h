// Compiled expressions: the engine descriptor, the hidden header in front
// of every handle, and the calls the rest of the library uses (the LIKE
// operator) without going through the exported names.
//
// One allocation holds an expression: the engine's private part, then the
// hidden header, then the public part the handle points at.  Every public
// function finds the header at a fixed distance in front of the handle and
// dispatches through the descriptor it names.
#ifndef VANTREL_REGEX_REGEXP_H
#define VANTREL_REGEX_REGEXP_H

#include <stddef.h>
#include <stdint.h>

#include "vantrel/vregexp.h"

namespace vantrel::internal {

// A regular-expression engine: its name and seven operations, in this
// order.  Codes are the library's (the engine's results already mapped).
struct RegexpEngine {
  const char *name;
  // Allocates the zero-filled storage for one expression, fills the hidden
  // header and stores the public part in *out.  0 or ENOMEM.
  VRC (*prepare)(VRegexp *out);
  // Compiles pattern into prepared storage; on failure the storage is
  // still allocated and holds no compiled expression, and release may
  // still be called on it.
  VRC (*compile)(VRegexp re, const char *pattern);
  // Matches the subject: `length` bytes, or up to its NUL when length is
  // kWholeSubject.
  VRC (*match)(VRegexp re, const char *subject, size_t length);
  VRC (*substitute)(VRegexp re, const char *tmpl, char *buffer);
  VRC (*get_sub)(VRegexp re, int n, char *buffer);
  // Releases the compiled expression, if any, and the storage.
  void (*release)(VRegexp re);
  void (*dump)(VRegexp re);
};

inline constexpr size_t kWholeSubject = SIZE_MAX;

// Stands immediately in front of the public part.
struct RegexpHeader {
  const RegexpEngine *engine;
  VRegexpRecord *self;
  void *engine_private;
};

inline RegexpHeader *HeaderOf(VRegexp re) {
  return reinterpret_cast<RegexpHeader *>(reinterpret_cast<char *>(re) -
                                          sizeof(RegexpHeader));
}

// The library's one engine, "TRE Regular Expression Library".
const RegexpEngine *TreEngine();

// Engine results as return codes (the engine's POSIX numbering).
VRC MapCompileResult(int result);
VRC MapMatchResult(int result);

// What the exported calls do, for callers inside the library.
VRC RegexpCompile(const char *pattern, VRegexp *out);
VRC RegexpMatch(VRegexp re, const char *subject, size_t length);
void RegexpFree(VRegexp re);

}  // namespace vantrel::internal

#endif  // VANTREL_REGEX_REGEXP_H
