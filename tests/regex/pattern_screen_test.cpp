#include "regex/pattern_screen.h"

#include <gtest/gtest.h>

#include <string>

#include "vantrel/vrc.h"

namespace {

namespace vi = vantrel::internal;

std::string Repeat(const std::string &piece, int times) {
  std::string out;
  for (int i = 0; i < times; ++i) out += piece;
  return out;
}

// What the screen measures, pattern by pattern: items and positions after
// expansion, groups after expansion, and the largest multiplicity of one
// item.
struct Measure {
  std::string pattern;
  uint64_t items, positions, groups, product;
};

TEST(PatternScreenTest, MeasuresExpansionOfBoundedRepetitions) {
  const Measure cases[] = {
      {"abc", 3, 6, 0, 1},
      {"a*b+c?", 3, 6, 0, 1},  // unbounded repetitions add nothing
      {"a{3}", 3, 6, 0, 3},
      {"a{2,5}", 5, 10, 0, 5},  // {m,n} counts n
      {"a{2,}", 3, 6, 0, 3},    // {m,} counts m + 1
      {"a{,4}", 5, 10, 0, 5},   // {,n} counts n + 1
      {"a{0}", 1, 2, 0, 1},     // the item is still compiled
      {"(ab){3}", 6, 12, 3, 3},
      {"(a{2}){3}", 6, 12, 3, 6},  // nested bounds multiply
      {"a{2}{3}", 6, 12, 0, 6},    // and so do chained ones
      {"x?{5}{5}", 25, 50, 0, 25},
      {"()", 1, 2, 1, 1},  // an empty group counts one item
      {"(){4}", 4, 8, 4, 4},
      {"{3}", 3, 6, 0, 3},  // a bound without an operand
      {"a|{3}", 4, 8, 0, 3},
      {"(a)(b)c", 3, 6, 2, 1},
      {"((a))", 1, 2, 2, 1},
      {"[a-z]{2}", 2, 8, 0, 2},  // one item, weighed by its elements
      {"[a-zA-Z0-9_]", 1, 10, 0, 1},
      {"[a-]", 1, 6, 0, 1},       // a - before ] is a character
      {"[]{}]{2}", 2, 16, 0, 2},  // a leading ] is an element
      {"[^]a]x", 2, 8, 0, 1},
      {"[[:alpha:]]{2}", 2, 8, 0, 2},
      {"[[.].]]x", 2, 6, 0, 1},
      {"[ab", 1, 6, 0, 1},           // unterminated: the engine refuses it
      {"\\w\\d.", 3, 14, 0, 1},      // class escapes weigh more
      {"\\x{263a}{2}", 2, 4, 0, 2},  // \x{...} is one character
      {"\\{3}", 3, 6, 0, 1},         // an escaped brace is a character
      {"\\)a", 2, 4, 0, 1},
      {"a)", 2, 4, 0, 1},     // an unmatched ) is a character
      {"*a", 2, 4, 0, 1},     // so is a leading *
      {"(a{2}", 2, 4, 1, 2},  // an unclosed group still counts
  };
  for (const Measure &c : cases) {
    SCOPED_TRACE(c.pattern);
    vi::PatternCost cost;
    ASSERT_EQ(vi::MeasurePattern(c.pattern.c_str(), &cost), 0);
    EXPECT_EQ(cost.items, c.items);
    EXPECT_EQ(cost.positions, c.positions);
    EXPECT_EQ(cost.groups, c.groups);
    EXPECT_EQ(cost.max_product, c.product);
  }
}

TEST(PatternScreenTest, CountsAddedPositionsAndTags) {
  const struct {
    const char *pattern;
    uint64_t added, tags;
  } cases[] = {
      {"abc", 0, 2},        {"(a)", 0, 4},        {"a|b", 0, 4}, {"a*", 0, 4},
      {"a{3}", 4, 4},       {"[ab]", 0, 4},       {"\\w", 0, 4}, {"\\.", 0, 2},
      {"(a|b){0,3}", 8, 8}, {"(a{2}){3}", 10, 8},
  };
  for (const auto &c : cases) {
    vi::PatternCost cost;
    ASSERT_EQ(vi::MeasurePattern(c.pattern, &cost), 0);
    EXPECT_EQ(cost.added_positions, c.added) << c.pattern;
    EXPECT_EQ(cost.tags, c.tags) << c.pattern;
  }
}

// Nesting deeper than the screen's frames is folded, which may only
// overestimate.
TEST(PatternScreenTest, DeepNestingIsFoldedNotLost) {
  std::string pattern = Repeat("(", 100) + "a" + Repeat(")", 100) + "{2}";
  vi::PatternCost cost;
  ASSERT_EQ(vi::MeasurePattern(pattern.c_str(), &cost), 0);
  EXPECT_EQ(cost.items, 2u);
  EXPECT_EQ(cost.groups, 200u);
  EXPECT_EQ(cost.max_product, 2u);

  pattern = Repeat("(a{10}", 70) + Repeat(")", 70);
  ASSERT_EQ(vi::MeasurePattern(pattern.c_str(), &cost), 0);
  EXPECT_GE(cost.items, 700u);
  EXPECT_EQ(vi::ScreenPattern(pattern.c_str(), &cost), 0);
  pattern = Repeat("(a{10}", 70) + Repeat("){2}", 70);
  EXPECT_EQ(vi::ScreenPattern(pattern.c_str(), &cost), VRC_FAILURE);
}

TEST(PatternScreenTest, RefusesWhatTheEngineWouldTakeTooFar) {
  const struct {
    const char *pattern;
    VRC rc;
  } cases[] = {
      {"a\\1", VRC_REGEXP_BAD_PATTERN},
      {"\\0", VRC_REGEXP_BAD_PATTERN},
      {"(a)\\9", VRC_REGEXP_BAD_PATTERN},
      {"[\\1]", 0},
      {"\\\\1", 0},  // an escaped backslash, then 1
      {"\\\\)", VRC_FAILURE},
      {"\\\\\\\\)", VRC_FAILURE},
      {"ab\\\\)", VRC_FAILURE},
      {"(?i)\\\\)", VRC_FAILURE},  // the flag group is closed by then
      {"(\\\\)", 0},               // a ) that closes a group
      {"\\\\\\)", 0},              // an escaped )
      {"[\\\\])", 0},              // a bracket ends with ], not \ .
      {")", 0},
      {"a{1,2~1}", VRC_REGEXP_BAD_PATTERN},  // approximate-matching costs
      {"a{~}", VRC_REGEXP_BAD_PATTERN},
      {"a{#2}", VRC_REGEXP_BAD_PATTERN},
      {"a{1,2,3}", VRC_REGEXP_BAD_PATTERN},
      {"a{,}", 0},
      {"a{256}", VRC_REGEXP_BAD_PATTERN},             // counts above 255, which
      {"a{2555555555,255}", VRC_REGEXP_BAD_PATTERN},  // could wrap around
      {"a{1,99999999999999999999}", VRC_REGEXP_BAD_PATTERN},
      {"a{0000000000000000255}", 0},
      {"[[:alpha:", VRC_REGEXP_BAD_PATTERN},  // the parser would read past
      {"[a[:x:", VRC_REGEXP_BAD_PATTERN},     // the end of the pattern
      {"[[:alpha:]", 0},                      // the engine reports these
      {"[[:alpha:x", 0},
      {"x[:", 0},
  };
  for (const auto &c : cases) {
    vi::PatternCost cost;
    EXPECT_EQ(vi::MeasurePattern(c.pattern, &cost), c.rc) << c.pattern;
    EXPECT_EQ(vi::ScreenPattern(c.pattern, &cost), c.rc) << c.pattern;
  }
}

TEST(PatternScreenTest, BoundsAreInclusive) {
  const struct {
    std::string pattern;
    VRC rc;
  } cases[] = {
      {"a{250}{4}", 0},  // a multiplicity of exactly 1000
      {"a{251}{4}", VRC_FAILURE},
      {"(a{0,31}){0,31}", 0},
      {"(a{0,32}){0,32}", VRC_FAILURE},
      {Repeat("a{255}", 16) + "b{33}", 0},  // 8192 added positions
      {Repeat("a{255}", 16) + "b{34}", VRC_FAILURE},
      {"(a|b){0,255}", 0},  // 1020 positions times 256
      {"(a|b|c){0,255}", VRC_FAILURE},
      {std::string(131072, 'a'), 0},  // positions times (groups + 1)
      {std::string(131073, 'a'), VRC_FAILURE},
      {std::string(65535, 'a') + "()", 0},
      {std::string(65536, 'a') + "()", VRC_FAILURE},
  };
  for (const auto &c : cases) {
    vi::PatternCost cost;
    EXPECT_EQ(vi::ScreenPattern(c.pattern.c_str(), &cost), c.rc)
        << c.pattern.substr(0, 40);
  }
}

// The estimate of the matcher's stack follows its tables: two reach
// tables and a position table of 16 bytes per state, tag arrays per state.
TEST(PatternScreenTest, MatcherStackGrowsWithStatesTimesTags) {
  size_t base = vi::MatcherStackBytes(0, 0);
  EXPECT_EQ(vi::MatcherStackBytes(10, 0) - base, 10u * (16 * 2 + 16));
  EXPECT_EQ(vi::MatcherStackBytes(10, 3) - vi::MatcherStackBytes(10, 0),
            2u * 10 * 12 + 12);
  vi::PatternCost cost;
  ASSERT_EQ(vi::MeasurePattern("([^ ]{1,255}) ([^ ]{1,255})", &cost), 0);
  EXPECT_GT(vi::MatchStackBytes(cost), size_t{65536});
}

}  // namespace
