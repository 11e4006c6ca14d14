// VRegexp: the exported calls, each dispatching through the engine named
// in the expression's hidden header.
#include "regex/regexp.h"

#include <errno.h>
#include <limits.h>

#include "vantrel/vregexp.h"

namespace vi = vantrel::internal;

namespace vantrel::internal {

VRC RegexpCompile(const char *pattern, VRegexp *out) {
  *out = nullptr;
  const RegexpEngine *engine = TreEngine();
  VRegexp re = nullptr;
  VRC rc = engine->prepare(&re);
  if (rc != 0) return rc;
  rc = engine->compile(re, pattern);
  if (rc != 0) {
    engine->release(re);
    return rc;
  }
  *out = re;
  return 0;
}

VRC RegexpMatch(VRegexp re, const char *subject, size_t length) {
  return HeaderOf(re)->engine->match(re, subject, length);
}

void RegexpFree(VRegexp re) { HeaderOf(re)->engine->release(re); }

}  // namespace vantrel::internal

VRC VRegexpCompile(const char *pattern, VRegexp *out) {
  if (out == nullptr) return EINVAL;
  *out = nullptr;
  if (pattern == nullptr) return EINVAL;
  return vi::RegexpCompile(pattern, out);
}

VRC VRegexpMatch(VRegexp re, const char *subject) {
  if (re == nullptr || subject == nullptr) return EINVAL;
  return vi::RegexpMatch(re, subject, vi::kWholeSubject);
}

VRC VRegexpMatchLength(VRegexp re, const char *subject, size_t length) {
  if (re == nullptr || subject == nullptr || length > INT_MAX) return EINVAL;
  return vi::RegexpMatch(re, subject, length);
}

VRC VRegexpGetSub(VRegexp re, int n, char *buffer) {
  if (re == nullptr || buffer == nullptr) return EINVAL;
  return vi::HeaderOf(re)->engine->get_sub(re, n, buffer);
}

VRC VRegexpSubst(VRegexp re, const char *tmpl, char *buffer) {
  if (re == nullptr || tmpl == nullptr || buffer == nullptr) return EINVAL;
  return vi::HeaderOf(re)->engine->substitute(re, tmpl, buffer);
}

void VRegexpFree(VRegexp re) {
  if (re != nullptr) vi::RegexpFree(re);
}

void VRegexpDump(VRegexp re) {
  if (re != nullptr) vi::HeaderOf(re)->engine->dump(re);
}
