// A look at a pattern before the engine compiles it, for the patterns the
// engine cannot be trusted with:
//  - back references: its backtracking matcher can loop forever or take
//    exponential time;
//  - approximate-matching costs inside braces ({~2}, {+1-1}): its
//    approximate matcher keeps a fixed ring of 512 states and large
//    per-state scratch on the stack;
//  - a repetition count above 255 (which it refuses) written with enough
//    digits to overflow its int and wrap into a huge count;
//  - an unmatched closing parenthesis right after an escaped backslash: its
//    parser loops, taking memory without end;
//  - a bracket expression ending in an unterminated class name whose colon
//    is the pattern's last character ("[[:alpha:"): its parser reads past
//    the end of the pattern;
//  - bounded repetitions that expand beyond what can be compiled and
//    matched in bounded memory and time (the engine copies the repeated
//    part once per count, and counts nested or chained multiply).
// It also estimates the stack the engine's matcher takes (the matcher keeps
// per-state scratch on the stack), so that a match can be refused on a
// thread whose stack is too small for it rather than overflow it.
//
// The screen reads bytes, as the engine does in single-byte and UTF-8
// locales, and estimates from above: it never needs the pattern to be
// valid (the engine reports invalid ones) and refuses only what it is sure
// the engine would take too far.
#ifndef VANTREL_REGEX_PATTERN_SCREEN_H
#define VANTREL_REGEX_PATTERN_SCREEN_H

#include <stddef.h>
#include <stdint.h>

#include "vantrel/vbase.h"

namespace vantrel::internal {

// An item is a character, an escape, a bracket expression or an anchor; an
// empty group or a bound without an operand counts as one.  Its
// multiplicity is the product of the repetition counts applying to it
// ({m,n} counts n, {,n} n + 1, {m,} m + 1, {m} m, and *, + and ? 1),
// nested and chained.  Positions weigh items by the states the engine may
// make of them: 2 for a character (both letter cases), 2 * (elements + 1)
// for a bracket expression, 6 for a class escape such as \w.  Matching
// work per subject character grows with positions times groups; compile
// memory with the positions the repetitions add.
inline constexpr uint64_t kMaxRepeatProduct = 1000;
inline constexpr uint64_t kMaxAddedPositions = 8192;
inline constexpr uint64_t kMaxPositionsTimesGroups = 262144;

struct PatternCost {
  uint64_t items = 0;            // after expansion
  uint64_t positions = 0;        // after expansion
  uint64_t added_positions = 0;  // by the repetitions
  uint64_t groups = 0;           // after expansion
  uint64_t max_product = 0;      // largest multiplicity of one item
  uint64_t tags = 0;             // the engine's tags, estimated from above
};

// Measures pattern.  Returns 0; VRC_REGEXP_BAD_PATTERN for a back
// reference, approximate-matching costs, a count above 255 or the
// overrunning class name;
// VRC_FAILURE for the looping parenthesis.  *cost is filled as far as the
// pattern was read.
VRC MeasurePattern(const char *pattern, PatternCost *cost);

// 0 when the engine may compile pattern, else the code to return:
// MeasurePattern's, or VRC_FAILURE when the cost passes a bound.  *cost is
// filled as by MeasurePattern.
VRC ScreenPattern(const char *pattern, PatternCost *cost);

// Bytes of stack the engine's matcher takes for an automaton of `states`
// states and `tags` tags: its scratch, plus room for its frames and ours.
size_t MatcherStackBytes(uint64_t states, uint64_t tags);

// MatcherStackBytes for a pattern of this cost, from above.
size_t MatchStackBytes(const PatternCost &cost);

}  // namespace vantrel::internal

#endif  // VANTREL_REGEX_PATTERN_SCREEN_H
