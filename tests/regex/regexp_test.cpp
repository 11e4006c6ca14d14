#include "regex/regexp.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <thread>
#include <vector>

#include "internal/alloc.h"
#include "platform/thread.h"
#include "support/alloc_sweep.h"
#include "vantrel/vregexp.h"

// The engine's compile and free functions, with its record as opaque
// storage: its header cannot be included next to the test framework,
// which includes the C library's <regex.h>.
extern "C" int tre_regcomp(void *compiled, const char *pattern, int flags);
extern "C" void tre_regfree(void *compiled);

namespace {

namespace vi = vantrel::internal;

// The engine's results, in its POSIX numbering.
// clang-format off
enum EngineResult { kOk, kNoMatch, kBadPat, kECollate, kECtype, kEEscape,
                    kESubreg, kEBrack, kEParen, kEBrace, kBadBr, kERange,
                    kESpace, kBadRpt };
// clang-format on
constexpr int kExtended = 1;

int EngineCompile(const char *pattern) {
  alignas(16) unsigned char compiled[64] = {};
  int result = tre_regcomp(compiled, pattern, kExtended);
  if (result == kOk) tre_regfree(compiled);
  return result;
}

// A compiled expression freed at the end of the scope.
class Regexp {
 public:
  explicit Regexp(const char *pattern) : rc_(VRegexpCompile(pattern, &re_)) {}
  ~Regexp() { VRegexpFree(re_); }
  Regexp(const Regexp &) = delete;
  Regexp &operator=(const Regexp &) = delete;
  VRegexp get() const { return re_; }
  VRC rc() const { return rc_; }

 private:
  VRegexp re_ = nullptr;
  VRC rc_;
};

std::string Sub(VRegexp re, int n) {
  char buffer[256];
  memset(buffer, '#', sizeof buffer);
  VRC rc = VRegexpGetSub(re, n, buffer);
  return rc == 0 ? std::string(buffer) : "rc " + std::to_string(rc);
}

// Every engine error a pattern can provoke, with the number the engine
// gives for it, so the table is checked against the engine itself.
struct CompileCase {
  const char *pattern;
  int engine;
  VRC expected;
};
constexpr CompileCase kCompileCases[] = {
    {"(?", kBadPat, VRC_REGEXP_BAD_PATTERN},
    {"[[.foo.]]", kECollate, VRC_REGEXP_BAD_PATTERN},
    {"[[:foo:]]", kECtype, VRC_REGEXP_BAD_PATTERN},
    {"a\\", kEEscape, VRC_REGEXP_BAD_PATTERN},
    {"[", kEBrack, VRC_REGEXP_BAD_PATTERN},
    {"[]", kEBrack, VRC_REGEXP_BAD_PATTERN},
    {"(", kEParen, VRC_FAILURE},
    {"a(b", kEParen, VRC_FAILURE},
    {"a{1", kEBrace, VRC_REGEXP_BAD_PATTERN},
    {"a{2,1}", kBadBr, VRC_REGEXP_BAD_PATTERN},
    {"a{256}", kBadBr, VRC_REGEXP_BAD_PATTERN},
    {"[z-a]", kERange, VRC_FAILURE},
    {"a**", kBadRpt, VRC_REGEXP_BAD_PATTERN},
    {"", kOk, 0},
    {"a)", kOk, 0},  // an unmatched ) is an ordinary character
    {"^[[:alpha:]_][[:alnum:]_]*$", kOk, 0},
};

TEST(VRegexpTest, CompileMapsEachEngineResult) {
  for (const CompileCase &c : kCompileCases) {
    SCOPED_TRACE(c.pattern);
    ASSERT_EQ(EngineCompile(c.pattern), c.engine)
        << "the engine's own result changed";

    VRegexpRecord stale;
    VRegexp re = &stale;  // overwritten
    EXPECT_EQ(VRegexpCompile(c.pattern, &re), c.expected);
    EXPECT_EQ(re == nullptr, c.expected != 0);
    VRegexpFree(re);
  }
}

TEST(VRegexpTest, ResultMappingsFollowTheEngineNumbers) {
  // Compile: 2..7, 9, 10, 13 are invalid patterns; 12 is out of memory;
  // 8, 11 and anything else are other failures.
  const VRC compile[] = {0,   VRC_FAILURE, -70, -70, -70, -70, -70, -70,
                         -19, -70,         -70, -19, 12,  -70, -19};
  for (int result = 0; result < 15; ++result) {
    EXPECT_EQ(vi::MapCompileResult(result), compile[result]) << result;
  }
  EXPECT_EQ(vi::MapCompileResult(-1), VRC_FAILURE);
  EXPECT_EQ(vi::MapMatchResult(kOk), 0);
  EXPECT_EQ(vi::MapMatchResult(kNoMatch), VRC_REGEXP_NO_MATCH);
  EXPECT_EQ(vi::MapMatchResult(kESpace), ENOMEM);
  EXPECT_EQ(vi::MapMatchResult(kBadPat), VRC_FAILURE);
  EXPECT_EQ(vi::MapMatchResult(-1), VRC_FAILURE);
}

TEST(VRegexpTest, MatchIsALeftmostLongestCaseSensitiveSearch) {
  struct Case {
    const char *pattern, *subject;
    VRC rc;
    const char *whole;
  } cases[] = {
      {"abc", "ABC", VRC_REGEXP_NO_MATCH, nullptr},
      {"^abc$", "xabc", VRC_REGEXP_NO_MATCH, nullptr},
      {"abc$", "xabc", 0, "abc"},
      {"a|ab|abc", "xabcd", 0, "abc"},
      {"[0-9]+", "port 4100 open", 0, "4100"},
      {"x*", "abc", 0, ""},
      {"", "", 0, ""},
      {"^$", "", 0, ""},
      {"a.c", "a\nc", 0, "a\nc"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " on " + c.subject);
    Regexp re(c.pattern);
    ASSERT_EQ(re.rc(), 0);
    EXPECT_EQ(VRegexpMatch(re.get(), c.subject), c.rc);
    if (c.whole != nullptr) {
      EXPECT_EQ(Sub(re.get(), 0), c.whole);
    }
  }
}

TEST(VRegexpTest, GroupsThatDidNotTakePartAreNullRefusedAndSkipped) {
  Regexp re("(a)|(b)(x*)");
  const char *subject = "b";
  ASSERT_EQ(VRegexpMatch(re.get(), subject), 0);
  EXPECT_EQ(re.get()->start[1], nullptr);
  EXPECT_EQ(re.get()->end[1], nullptr);
  EXPECT_EQ(re.get()->start[2], subject);
  EXPECT_EQ(re.get()->start[3], subject + 1);  // empty, but took part
  EXPECT_EQ(re.get()->end[3], subject + 1);
  EXPECT_EQ(Sub(re.get(), 1), "rc -19");
  EXPECT_EQ(Sub(re.get(), 2), "b");
  EXPECT_EQ(Sub(re.get(), 3), "");
  EXPECT_EQ(Sub(re.get(), 4), "rc -19");  // no such group
  char buffer[32];
  EXPECT_EQ(VRegexpSubst(re.get(), "[\\1][\\2][\\3]", buffer), 0);
  EXPECT_STREQ(buffer, "[][b][]");
}

TEST(VRegexpTest, MatchRecordsTheWholeMatchAndTheFirstNineGroups) {
  Regexp re("(a)(b)(c)(d)(e)(f)(g)(h)(i)(j)(k)(l)");
  ASSERT_EQ(re.rc(), 0);
  const char *subject = "_abcdefghijkl_";
  ASSERT_EQ(VRegexpMatch(re.get(), subject), 0);
  EXPECT_EQ(Sub(re.get(), 0), "abcdefghijkl");
  for (int i = 1; i < VREGEXP_SUBEXPRESSIONS; ++i) {
    EXPECT_EQ(Sub(re.get(), i), std::string(1, static_cast<char>('a' + i - 1)));
    EXPECT_EQ(re.get()->start[i], subject + i);
  }
  EXPECT_EQ(Sub(re.get(), 10), "rc 22");
  // Groups the pattern does not have stay null.
  Regexp plain("b+");
  const char *text = "abbbc";
  ASSERT_EQ(VRegexpMatch(plain.get(), text), 0);
  EXPECT_EQ(plain.get()->start[0], text + 1);
  EXPECT_EQ(plain.get()->end[0], text + 4);
  for (int i = 1; i < VREGEXP_SUBEXPRESSIONS; ++i) {
    EXPECT_EQ(plain.get()->start[i], nullptr);
    EXPECT_EQ(plain.get()->end[i], nullptr);
  }
  EXPECT_EQ(Sub(plain.get(), 0), "bbb");
}

TEST(VRegexpTest, GetSubChecksTheMatchBeforeTheNumber) {
  Regexp re("(a)(b)?");
  // No match yet: every number, valid or not, gives -19.
  for (int n : {-1, 0, 9, 10}) EXPECT_EQ(Sub(re.get(), n), "rc -19") << n;
  ASSERT_EQ(VRegexpMatch(re.get(), "a"), 0);
  EXPECT_EQ(Sub(re.get(), -1), "rc 22");
  EXPECT_EQ(Sub(re.get(), 10), "rc 22");
  EXPECT_EQ(Sub(re.get(), 2), "rc -19");
  EXPECT_EQ(Sub(re.get(), 1), "a");

  char buffer[8] = "keep";
  ASSERT_EQ(VRegexpMatch(re.get(), "zzz"), VRC_REGEXP_NO_MATCH);
  for (int n : {-1, 0, 1, 10}) {
    EXPECT_EQ(VRegexpGetSub(re.get(), n, buffer), VRC_FAILURE) << n;
  }
  EXPECT_STREQ(buffer, "keep");
}

TEST(VRegexpTest, FailedMatchKeepsThePointersButForgetsTheSubject) {
  Regexp re("^abc");
  char keep[8] = "keep";  // nothing matched yet: nothing written
  EXPECT_EQ(VRegexpSubst(re.get(), "plain", keep), VRC_FAILURE);
  EXPECT_STREQ(keep, "keep");
  const char *first = "abcdef";
  ASSERT_EQ(VRegexpMatch(re.get(), first), 0);
  ASSERT_EQ(VRegexpMatch(re.get(), "xabc"), VRC_REGEXP_NO_MATCH);
  EXPECT_EQ(re.get()->start[0], first);
  EXPECT_EQ(re.get()->end[0], first + 3);
  char buffer[16];
  EXPECT_EQ(VRegexpSubst(re.get(), "&", buffer), VRC_FAILURE);
  // A later success reads the new subject.
  ASSERT_EQ(VRegexpMatch(re.get(), "abc!"), 0);
  EXPECT_EQ(Sub(re.get(), 0), "abc");
}

// The substitution language, rule by rule, after ([a-z]+)=([0-9]+) has
// matched "key=42" inside a longer subject.
TEST(VRegexpTest, SubstitutionFollowsEveryTemplateRule) {
  struct Case {
    const char *tmpl, *expanded;
  } cases[] = {
      {"\\2:\\1 (&)", "42:key (key=42)"},  // references and the whole match
      {"&&", "key=42key=42"},
      {"\\0", "key=42"},      // \0 is the whole match too
      {"\\\\&", "\\key=42"},  // \\ then &
      {"\\&", "&"},           // a literal ampersand
      {"\\\\", "\\"},         // a literal backslash
      {"\\\\1", "\\1"},       // \\ then an ordinary 1
      {"\\\\\\1", "\\key"},   // \\ then \1
      {"\\3\\9", ""},         // groups that do not exist
      {"\\q\\n", "\\q\\n"},   // other escapes stay as written
      {"a\\", "a\\"},         // a trailing backslash
      {"\\\\\\", "\\\\"},     // \\ then a trailing backslash
      {"\\&\\2", "&42"},
      {"\\a&", "\\akey=42"},  // \a, then & on its own
      {"", ""},
      {"plain text", "plain text"},
  };
  Regexp re("([a-z]+)=([0-9]+)");
  ASSERT_EQ(VRegexpMatch(re.get(), "set key=42;"), 0);
  for (const Case &c : cases) {
    char buffer[64];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(VRegexpSubst(re.get(), c.tmpl, buffer), 0) << c.tmpl;
    EXPECT_STREQ(buffer, c.expanded) << c.tmpl;
  }
}

// The subject string is shortened after the match: the expansion stops at
// its new end, and what it wrote is terminated.
TEST(VRegexpTest, SubstitutionNoticesAShortenedSubject) {
  struct Case {
    size_t cut;
    const char *tmpl;
    VRC rc;
    const char *expanded;
  } cases[] = {
      {4, "<\\1>", 0, "<key>"},                            // before the cut
      {5, "<&>", VRC_REGEXP_SUBJECT_SHORTENED, "<key=4"},  // inside
      {4, "<\\2>", VRC_REGEXP_SUBJECT_SHORTENED, "<"},     // right at start
      {1, "<\\2>", VRC_REGEXP_SUBJECT_SHORTENED, "<"},     // before the start
      {1, "x\\1\\2", VRC_REGEXP_SUBJECT_SHORTENED, "xk"},  // first reference
      {6, "&", 0, "key=42"},                               // cut at the end
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.tmpl);
    char subject[] = "key=42";
    Regexp re("([a-z]+)=([0-9]+)");
    ASSERT_EQ(VRegexpMatch(re.get(), subject), 0);
    subject[c.cut] = '\0';
    char buffer[32];
    memset(buffer, '#', sizeof buffer);
    EXPECT_EQ(VRegexpSubst(re.get(), c.tmpl, buffer), c.rc);
    EXPECT_STREQ(buffer, c.expanded);
  }
}

// Subjects shortened by the length argument: only `length` bytes are
// searched, anchors see the end of the length, and NUL bytes inside it are
// ordinary characters.
TEST(VRegexpTest, MatchLengthSearchesOnlyTheGivenBytes) {
  struct Case {
    const char *pattern;
    size_t length;
    VRC rc;
    int start, end;
  } cases[] = {
      {"c$", 3, 0, 2, 3},
      {"b$", 5, 0, 4, 5},
      {"abc", 2, VRC_REGEXP_NO_MATCH, -1, -1},
      {"^$", 0, 0, 0, 0},
      {"a+", 0, VRC_REGEXP_NO_MATCH, -1, -1},
      {"b.b", 7, 0, 4, 7},  // the NUL in the middle is a character
      {"x", 9, 0, 8, 9},    // past the first NUL
  };
  static const char subject[] = "abcab\0bcx";  // NUL at offset 5
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.pattern) + " length " +
                 std::to_string(c.length));
    Regexp re(c.pattern);
    ASSERT_EQ(re.rc(), 0);
    ASSERT_EQ(VRegexpMatchLength(re.get(), subject, c.length), c.rc);
    if (c.rc != 0) continue;
    EXPECT_EQ(re.get()->start[0] - subject, c.start);
    EXPECT_EQ(re.get()->end[0] - subject, c.end);
  }
  // Whole-text matching stops at the first NUL.
  Regexp x("x");
  EXPECT_EQ(VRegexpMatch(x.get(), subject), VRC_REGEXP_NO_MATCH);
  // A length beyond the engine's offsets is refused; the last match stays.
  ASSERT_EQ(VRegexpMatch(x.get(), "x"), 0);
  EXPECT_EQ(VRegexpMatchLength(x.get(), "x", size_t{1} << 31), EINVAL);
  EXPECT_EQ(Sub(x.get(), 0), "x");
}

TEST(VRegexpTest, NullArgumentsAreRefused) {
  VRegexp re = nullptr;
  EXPECT_EQ(VRegexpCompile(nullptr, &re), EINVAL);
  EXPECT_EQ(VRegexpCompile("a", nullptr), EINVAL);
  Regexp ok("a");
  char buffer[4];
  EXPECT_EQ(VRegexpMatch(nullptr, "a"), EINVAL);
  EXPECT_EQ(VRegexpMatch(ok.get(), nullptr), EINVAL);
  EXPECT_EQ(VRegexpGetSub(ok.get(), 0, nullptr), EINVAL);
  EXPECT_EQ(VRegexpSubst(ok.get(), nullptr, buffer), EINVAL);
  VRegexpFree(nullptr);
  VRegexpDump(nullptr);
}

// Patterns the engine cannot be trusted with are refused before it sees
// them; each of these would otherwise loop, or take memory or time without
// useful bound.
TEST(VRegexpTest, PatternsBeyondTheEnginesReachAreRefused) {
  struct Case {
    const char *pattern;
    VRC rc;
  } cases[] = {
      {"(a)\\1", VRC_REGEXP_BAD_PATTERN},  // back references
      {"(a)\\2", VRC_REGEXP_BAD_PATTERN},
      {"(\\0|x)+", VRC_REGEXP_BAD_PATTERN},
      {"\\\\)", VRC_FAILURE},  // the parser's endless loop
      {"a\\\\)((", VRC_FAILURE},
      {"(a{0,32}){0,32}", VRC_FAILURE},  // 1024 copies of one item
      {"x?{100}{100}", VRC_FAILURE},     // chained bounds multiply
      {"(({81}){81}){81}", VRC_FAILURE},
      {"a{1,2~1}", VRC_REGEXP_BAD_PATTERN},   // approximate matching
      {"[[:alpha:", VRC_REGEXP_BAD_PATTERN},  // read past the end
      {"(a{0,250}){0,4}", 0},
      {"[\\1]", 0},    // inside brackets: literal
      {"(\\\\)", 0},   // the ) closes its group
      {"\\\\\\)", 0},  // \\ then an escaped )
      {"(a{0,31}){0,31}", 0},
      {"[0-9]{1,3}(\\.[0-9]{1,3}){3}", 0},
  };
  for (const Case &c : cases) {
    Regexp re(c.pattern);
    EXPECT_EQ(re.rc(), c.rc) << c.pattern;
  }
}

// The engine's matcher takes scratch on the stack in proportion to the
// expression; a thread whose stack cannot hold it gets ENOMEM instead of
// an overflow, and ordinary patterns still match on small stacks.  (Thread
// sanitizer builds give threads a larger stack than asked for; the thread
// reports the size it got.)
TEST(VRegexpTest, MatchOnASmallStackIsRefusedNotOverflowed) {
  struct Case {
    std::string pattern;
    const char *subject;
    VRC small_stack, main_stack;
  };
  const Case cases[] = {
      {"^([0-9]{4}-[0-9]{2}-[0-9]{2}) ([0-9:]{8}) \\[([A-Z]+)\\] (.*)$",
       "2024-01-02 03:04:05 [WARN] disk", 0, 0},
      {"([^ ]{1,255}) ([^ ]{1,255})", "aa bb", ENOMEM, 0},
      {std::string(1200, 'x'), "xx", ENOMEM, VRC_REGEXP_NO_MATCH},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.pattern.substr(0, 30));
    Regexp re(c.pattern.c_str());
    ASSERT_EQ(re.rc(), 0);
    struct Work {
      VRegexp re;
      const char *subject;
      VRC rc, sub;
      size_t stack;
    } work{re.get(), c.subject, -1, -1, 0};
    vantrel::platform::ThreadHandle handle;
    ASSERT_EQ(vantrel::platform::ThreadStart(
                  [](void *arg) {
                    auto *w = static_cast<Work *>(arg);
                    vantrel::platform::CurrentThreadStackSize(&w->stack);
                    w->rc = VRegexpMatch(w->re, w->subject);
                    char buffer[64];
                    w->sub = VRegexpGetSub(w->re, 0, buffer);
                  },
                  &work, 65536, true, &handle, nullptr),
              0);
    ASSERT_EQ(vantrel::platform::ThreadJoin(handle), 0);
    VRC expected = work.stack <= 65536 ? c.small_stack : c.main_stack;
    EXPECT_EQ(work.rc, expected) << "stack " << work.stack;
    EXPECT_EQ(work.sub, expected == 0 ? 0 : VRC_FAILURE);
    EXPECT_EQ(VRegexpMatch(re.get(), c.subject), c.main_stack);
  }
}

TEST(VRegexpTest, CompileAllocatesOnceAndMatchingOrDumpingNothing) {
  VRegexp re = nullptr;
  {
    vtest::AllocCounter counter;
    ASSERT_EQ(VRegexpCompile("([a-z]+)=([0-9]+)", &re), 0);
    EXPECT_EQ(counter.count(), 1u);
  }
  char buffer[32];
  vtest::AllocCounter counter;
  EXPECT_EQ(VRegexpMatch(re, "key=42"), 0);
  EXPECT_EQ(VRegexpMatchLength(re, "key=42", 5), 0);
  EXPECT_EQ(VRegexpGetSub(re, 1, buffer), 0);
  EXPECT_EQ(VRegexpSubst(re, "\\2=\\1", buffer), 0);
  VRegexpDump(re);  // the engine's hook does nothing
  EXPECT_EQ(counter.count(), 0u);
  VRegexpFree(re);
}

// The library's part of compiling: the storage comes from the funnel;
// when it cannot be had the call returns ENOMEM and leaves nothing behind.
TEST(VRegexpTest, CompileSweepReturnsEnomemAndLeavesNothing) {
  for (const char *pattern : {"a", "(", "([a-z]+)=([0-9]+)"}) {
    vtest::SweepAllocations([&](vtest::Fault &fault) {
      VRegexp re = nullptr;
      fault.Arm();
      VRC rc = VRegexpCompile(pattern, &re);
      if (fault.Disarm()) {
        EXPECT_EQ(rc, ENOMEM);
        EXPECT_EQ(re, nullptr);
        return;
      }
      if (rc == 0) {
        EXPECT_EQ(VRegexpMatch(re, "a key=42"), 0);
        VRegexpFree(re);
      }
    });
  }
}

// Separate handles are independent: threads matching their own handles
// agree with a single-threaded run.
TEST(VRegexpTest, SeparateHandlesMatchInParallel) {
  constexpr int kThreads = 4;
  std::vector<std::thread> threads;
  int failures[kThreads] = {};
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      VRegexp re = nullptr;
      if (VRegexpCompile("^([a-z]+) ([0-9]+)$", &re) != 0) {
        failures[t] = -1;
        return;
      }
      char subject[32], buffer[32];
      for (int i = 0; i < 500; ++i) {
        snprintf(subject, sizeof subject, "thread %d", t * 1000 + i);
        if (VRegexpMatch(re, subject) != 0 ||
            VRegexpSubst(re, "\\2", buffer) != 0 ||
            atoi(buffer) != t * 1000 + i) {
          ++failures[t];
        }
      }
      VRegexpFree(re);
    });
  }
  for (std::thread &thread : threads) thread.join();
  for (int t = 0; t < kThreads; ++t) EXPECT_EQ(failures[t], 0) << t;
}

}  // namespace
