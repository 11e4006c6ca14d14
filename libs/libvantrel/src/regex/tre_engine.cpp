// The TRE engine behind VRegexp: its POSIX compile, execute and free
// functions with extended syntax, and the substitution language over the
// recorded match.
//
// The expression's storage comes from the library's funnel, so the
// allocation sweeps cover the library's part; the engine allocates its
// compiled automaton from the C heap on its own, outside the funnel, and
// reports running out of memory as REG_ESPACE, which becomes ENOMEM here
// (tests/regex/regexp_engine_oom_test.cpp fails the C heap itself to show
// it).  Its matcher takes its scratch from the stack (see MatchStackOf).
#include <errno.h>
#include <string.h>
#include <tre/tre.h>

#include <algorithm>
#include <atomic>
#include <type_traits>

#include "internal/alloc.h"
#include "platform/thread.h"
#include "regex/pattern_screen.h"
#include "regex/regexp.h"
#include "vantrel/vrc.h"

namespace vantrel::internal {
namespace {

constexpr int kSlots = VREGEXP_SUBEXPRESSIONS;

// The engine-private part: the compiled expression (zeroed when there is
// none), the offsets of the last successful match, and its subject (null
// before the first match and after a failed one); then the stack the
// engine's matcher takes for this expression.
struct TrePrivate {
  regex_t compiled;
  regmatch_t offsets[kSlots];
  const char *subject;
  size_t match_stack;
};

// One allocation, in this order, so that the header stands immediately in
// front of the public part the handle points at.
struct TreStorage {
  TrePrivate engine_private;
  RegexpHeader header;
  VRegexpRecord pub;
};
static_assert(std::is_standard_layout_v<TreStorage>);
static_assert(offsetof(TreStorage, engine_private) == 0);
static_assert(offsetof(TreStorage, pub) ==
              offsetof(TreStorage, header) + sizeof(RegexpHeader));
static_assert(sizeof(VRegexpRecord) == 2 * kSlots * sizeof(char *));

TrePrivate *PrivateOf(VRegexp re) {
  return static_cast<TrePrivate *>(HeaderOf(re)->engine_private);
}

VRC TrePrepare(VRegexp *out) {
  auto *storage = static_cast<TreStorage *>(Calloc(1, sizeof(TreStorage)));
  if (storage == nullptr) return ENOMEM;
  storage->header.engine = TreEngine();
  storage->header.self = &storage->pub;
  storage->header.engine_private = &storage->engine_private;
  *out = &storage->pub;
  return 0;
}

// The engine's matcher keeps its per-state scratch on the stack
// (alloca), sized by the automaton's states and tags, which its interface
// does not tell.  They are read from the head of its automaton (tnfa in
// its 0.8 sources), but only once two known patterns have read back as
// expected; otherwise the screen's estimate from above stands in.
struct TnfaHead {
  void *transitions;
  unsigned int num_transitions;
  void *initial;
  void *final;
  void *submatch_data;
  char *firstpos_chars;
  int first_char;
  unsigned int num_submatches;
  void *tag_directions;
  int *minimal_tags;
  int num_tags;
  int num_minimals;
  int end_tag;
  int num_states;
  int cflags;
};

enum Layout : int { kLayoutUnknown, kLayoutKnown, kLayoutForeign };
constinit std::atomic<int> g_layout{kLayoutUnknown};

const TnfaHead *HeadOf(const regex_t &compiled) {
  return static_cast<const TnfaHead *>(compiled.value);
}

// Compiles the known patterns and compares; unknown when the engine could
// not compile them (out of memory), so that a later compile asks again.
Layout CheckLayout() {
  struct Known {
    const char *pattern;
    int states, tags;
    unsigned int submatches;
  };
  constexpr Known kKnown[] = {{"(a)(b)", 3, 2, 3}, {"a|b|c", 4, 3, 1}};
  for (const Known &k : kKnown) {
    regex_t compiled{};
    if (tre_regcomp(&compiled, k.pattern, REG_EXTENDED) != REG_OK) {
      return kLayoutUnknown;
    }
    const TnfaHead *head = HeadOf(compiled);
    bool same = head->num_states == k.states && head->num_tags == k.tags &&
                head->num_submatches == k.submatches &&
                head->cflags == REG_EXTENDED;
    tre_regfree(&compiled);
    if (!same) return kLayoutForeign;
  }
  return kLayoutKnown;
}

size_t MatchStackOf(const regex_t &compiled, const PatternCost &cost) {
  int layout = g_layout.load(std::memory_order_relaxed);
  if (layout == kLayoutUnknown) {
    layout = CheckLayout();
    g_layout.store(layout, std::memory_order_relaxed);
  }
  const TnfaHead *head = HeadOf(compiled);
  if (layout == kLayoutKnown && head->num_states > 0 && head->num_tags >= 0) {
    return MatcherStackBytes(static_cast<uint64_t>(head->num_states),
                             static_cast<uint64_t>(head->num_tags));
  }
  return MatchStackBytes(cost);
}

// Half the calling thread's stack, the most a match may take of it; asked
// of the system once per thread (which may allocate in the C library, for
// the main thread), and taken as the library's default size while the
// system cannot tell.
constinit thread_local size_t t_stack_budget VANTREL_FAST_TLS = 0;

size_t StackBudget() {
  if (t_stack_budget != 0) return t_stack_budget;
  size_t size = 0;
  if (platform::CurrentThreadStackSize(&size) != 0 || size == 0) {
    return platform::kDefaultStackSize / 2;
  }
  t_stack_budget = size / 2;
  return t_stack_budget;
}

VRC TreCompile(VRegexp re, const char *pattern) {
  PatternCost cost;
  VRC rc = ScreenPattern(pattern, &cost);
  if (rc != 0) return rc;
  TrePrivate *p = PrivateOf(re);
  int result = tre_regcomp(&p->compiled, pattern, REG_EXTENDED);
  if (result != REG_OK) {
    // A failed compile leaves a released automaton behind in the record.
    p->compiled = regex_t{};
    return MapCompileResult(result);
  }
  p->match_stack = MatchStackOf(p->compiled, cost);
  return 0;
}

// Records a successful match: offsets, subject, and the public pointers.
void Record(VRegexp re, TrePrivate *p, const char *subject,
            const regmatch_t *found) {
  p->subject = subject;
  for (int i = 0; i < kSlots; ++i) {
    p->offsets[i] = found[i];
    bool took_part = found[i].rm_so >= 0 && found[i].rm_eo >= 0;
    re->start[i] = took_part ? subject + found[i].rm_so : nullptr;
    re->end[i] = took_part ? subject + found[i].rm_eo : nullptr;
  }
}

VRC TreMatch(VRegexp re, const char *subject, size_t length) {
  TrePrivate *p = PrivateOf(re);
  if (p->match_stack > StackBudget()) {
    p->subject = nullptr;
    return ENOMEM;  // rather than overflow this thread's stack
  }
  regmatch_t found[kSlots];
  int result =
      length == kWholeSubject
          ? tre_regexec(&p->compiled, subject, kSlots, found, 0)
          : tre_regnexec(&p->compiled, subject, length, kSlots, found, 0);
  if (result != REG_OK) {
    p->subject = nullptr;
    return MapMatchResult(result);
  }
  Record(re, p, subject, found);
  return 0;
}

// Writes the substitution of tmpl into buffer, reading sub-expressions
// from the remembered subject.
class Expansion {
 public:
  Expansion(const TrePrivate &p, char *buffer) : p_(p), out_(buffer) {}

  // Appends sub-expression n; false when the subject ended before the
  // recorded end (then what it had is appended).
  bool Reference(int n) {
    regoff_t so = p_.offsets[n].rm_so, eo = p_.offsets[n].rm_eo;
    if (so < 0 || eo < 0 || eo <= so) return true;
    // Every sub-expression lies inside the whole match, so one look for
    // the subject's end up to the match's end serves every reference.
    if (available_ < 0) {
      regoff_t whole = std::max<regoff_t>(p_.offsets[0].rm_eo, eo);
      available_ = static_cast<regoff_t>(
          strnlen(p_.subject, static_cast<size_t>(whole)));
    }
    regoff_t stop = std::min(eo, available_);
    if (stop > so) {
      memcpy(out_, p_.subject + so, static_cast<size_t>(stop - so));
      out_ += stop - so;
    }
    return stop == eo;
  }
  void Put(char c) { *out_++ = c; }
  void End() { *out_ = '\0'; }

 private:
  const TrePrivate &p_;
  char *out_;
  regoff_t available_ = -1;
};

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

VRC TreSubstitute(VRegexp re, const char *tmpl, char *buffer) {
  const TrePrivate *p = PrivateOf(re);
  if (p->subject == nullptr) return VRC_FAILURE;
  Expansion out(*p, buffer);
  for (const char *t = tmpl; *t != '\0'; ++t) {
    int n = -1;
    if (*t == '&') {
      n = 0;
    } else if (*t == '\\' && IsDigit(t[1])) {
      n = *++t - '0';
    } else if (*t == '\\' && (t[1] == '\\' || t[1] == '&')) {
      out.Put(*++t);
      continue;
    } else {
      out.Put(*t);
      continue;
    }
    if (!out.Reference(n)) {
      out.End();
      return VRC_REGEXP_SUBJECT_SHORTENED;
    }
  }
  out.End();
  return 0;
}

VRC TreGetSub(VRegexp re, int n, char *buffer) {
  const TrePrivate *p = PrivateOf(re);
  if (p->subject == nullptr) return VRC_FAILURE;
  if (n < 0 || n >= kSlots) return EINVAL;
  regoff_t so = p->offsets[n].rm_so, eo = p->offsets[n].rm_eo;
  if (so < 0 || eo < so) return VRC_FAILURE;
  size_t length = static_cast<size_t>(eo - so);
  memcpy(buffer, p->subject + so, length);
  buffer[length] = '\0';
  return 0;
}

void TreRelease(VRegexp re) {
  TrePrivate *p = PrivateOf(re);
  if (p->compiled.value != nullptr) tre_regfree(&p->compiled);
  Free(p);
}

void TreDump(VRegexp) {}

constexpr RegexpEngine kTre = {
    "TRE Regular Expression Library",
    TrePrepare,
    TreCompile,
    TreMatch,
    TreSubstitute,
    TreGetSub,
    TreRelease,
    TreDump,
};

}  // namespace

const RegexpEngine *TreEngine() { return &kTre; }

VRC MapCompileResult(int result) {
  switch (result) {
    case REG_OK:
      return 0;
    case REG_BADPAT:
    case REG_ECOLLATE:
    case REG_ECTYPE:
    case REG_EESCAPE:
    case REG_ESUBREG:
    case REG_EBRACK:
    case REG_EBRACE:
    case REG_BADBR:
    case REG_BADRPT:
      return VRC_REGEXP_BAD_PATTERN;
    case REG_ESPACE:
      return ENOMEM;
    default:  // REG_EPAREN, REG_ERANGE and anything unknown
      return VRC_FAILURE;
  }
}

VRC MapMatchResult(int result) {
  switch (result) {
    case REG_OK:
      return 0;
    case REG_NOMATCH:
      return VRC_REGEXP_NO_MATCH;
    case REG_ESPACE:
      return ENOMEM;
    default:
      return VRC_FAILURE;
  }
}

}  // namespace vantrel::internal
