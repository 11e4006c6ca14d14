/* Regular expressions: compile a pattern once, match it against subjects,
 * read the matched sub-expressions and expand substitution templates from
 * the last match.
 *
 * Patterns use POSIX extended syntax and are case-sensitive; a match is a
 * search (the expression may match anywhere in the subject unless it is
 * anchored with ^ or $), leftmost and then longest.  The TRE engine does
 * the matching.
 *
 * A handle holds the state of its last match, so one handle must not be
 * matched by two threads at once; separate handles are independent, and
 * compiling and freeing need no lock.  Nothing here logs. */
#ifndef VANTREL_VREGEXP_H
#define VANTREL_VREGEXP_H

#include "vantrel/vbase.h"
#include "vantrel/vrc.h"

VANTREL_BEGIN_DECLS

/* Sub-expressions recorded per match: 0 is the whole match, 1 to 9 the
 * first nine parenthesised groups.  Further groups take part in matching
 * but are not reported. */
#define VREGEXP_SUBEXPRESSIONS 10

/* A compiled expression.  After a successful match start[i] points at the
 * first character of sub-expression i in the subject and end[i] just
 * behind its last one; both are null for a sub-expression that did not
 * take part.  They stay valid only as long as the subject does, and keep
 * their earlier values after a failed match.  Read-only for callers. */
typedef struct VRegexpRecord {
  const char *start[VREGEXP_SUBEXPRESSIONS]; /* first characters */
  const char *end[VREGEXP_SUBEXPRESSIONS];   /* just behind the last ones */
} VRegexpRecord;
typedef VRegexpRecord *VRegexp;

/* Compiles pattern and stores the new expression in *out (null on
 * failure, when nothing is left allocated).  One allocation of the
 * library's; the engine allocates the automaton itself.
 * Returns 0; VRC_REGEXP_BAD_PATTERN (-70) for an invalid expression (bad
 * escape, bracket, brace, interval, class or collating element, repetition
 * without an operand), for a back reference (\0 to \9), which is not part
 * of the extended syntax and whose matching can take exponential time, and
 * for approximate-matching costs inside braces; ENOMEM (12); VRC_FAILURE
 * (-19) for an unbalanced parenthesis, a bad range, an expression too big
 * to compile and match in bounded memory and time, and any other engine
 * failure.  Too big: the repetition counts applied to one item, nested or
 * chained, multiply to more than 1000 ({m,n} counts n, {,n} n + 1, {m,}
 * m + 1); or, weighing a character 2, a bracket expression 2 per element
 * plus 2 and a class escape (\w, \s, \d and their capitals) 6, the
 * repetitions add more than 8192 to the pattern's weight, or its weight
 * after expansion times its groups after expansion plus one exceeds
 * 262144. */
VANTREL_API VRC VRegexpCompile(const char *pattern, VRegexp *out);

/* Searches the subject (up to its NUL) for the expression and records the
 * match: the handle remembers the subject and fills start and end.
 * Allocates nothing (the first match on a thread may ask the C library
 * for the thread's stack size).
 * Returns 0; VRC_REGEXP_NO_MATCH (-73); ENOMEM (12) when the engine runs
 * out of memory, or when the engine's scratch for this expression (kept
 * on the stack, growing with the expression's size) would take more than
 * half of the calling thread's stack; VRC_FAILURE (-19) for any other
 * engine failure.  On every failure the remembered subject is cleared, so
 * sub-expressions and substitutions report VRC_FAILURE until the next
 * successful match.  Subjects must be shorter than 2 GiB (the engine's
 * offsets are 32-bit). */
VANTREL_API VRC VRegexpMatch(VRegexp re, const char *subject);

/* VRegexpMatch over the first `length` bytes of subject only, which need
 * not be NUL-terminated; a NUL among them is an ordinary character, and $
 * matches at the end of the length.  A NUL inside the matched text ends
 * the copy of VRegexpSubst as a shortened subject would.
 * Returns as VRegexpMatch, and EINVAL (22), changing nothing, when length
 * is 2 GiB or more. */
VANTREL_API VRC VRegexpMatchLength(VRegexp re, const char *subject,
                                   size_t length);

/* Copies sub-expression n of the last successful match into buffer and
 * terminates it; the buffer must hold its length plus one.
 * Returns 0; VRC_FAILURE (-19) when there is no successful match to read
 * from; then EINVAL (22) when n is not between 0 and 9; VRC_FAILURE (-19)
 * when sub-expression n did not take part.  The buffer is written only on
 * success. */
VANTREL_API VRC VRegexpGetSub(VRegexp re, int n, char *buffer);

/* Expands tmpl against the last successful match into buffer, reading tmpl
 * from left to right:
 *   &          the whole match;
 *   \d         sub-expression d (a decimal digit; \0 is the whole match);
 *   \\ and \&  a literal backslash and a literal ampersand;
 *   \c         for any other c: a backslash, then c is read on its own (a
 *              trailing backslash is written as it is);
 *   anything else is copied.
 * A sub-expression that did not take part, or is empty, writes nothing.
 * The buffer must hold the expansion and its NUL; nothing checks its size.
 * Returns 0 with the expansion terminated; VRC_REGEXP_SUBJECT_SHORTENED
 * (-72) when the subject has become shorter than the recorded match since
 * it was matched: the expansion stops at the subject's end and what was
 * written is terminated; VRC_FAILURE (-19), writing nothing, when there is
 * no successful match to read from. */
VANTREL_API VRC VRegexpSubst(VRegexp re, const char *tmpl, char *buffer);

/* Releases the expression and its storage.  A null handle is ignored. */
VANTREL_API void VRegexpFree(VRegexp re);

/* A diagnostic hook of the engine; the TRE engine writes nothing. */
VANTREL_API void VRegexpDump(VRegexp re);

VANTREL_END_DECLS

#endif /* VANTREL_VREGEXP_H */
