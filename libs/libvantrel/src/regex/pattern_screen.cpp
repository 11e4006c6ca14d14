// The pattern screen: one pass over the bytes with a small stack of group
// frames.  Each frame sums the cost of what its group holds so far and
// keeps the cost of its last item, to which a following bound applies.
#include "regex/pattern_screen.h"

#include <string.h>

#include <algorithm>

#include "vantrel/vrc.h"

namespace vantrel::internal {
namespace {

// Costs saturate here, far above every bound, so nothing overflows.
constexpr uint64_t kSaturated = uint64_t{1} << 40;

uint64_t Add(uint64_t a, uint64_t b) { return std::min(a + b, kSaturated); }
uint64_t Times(uint64_t a, uint64_t b) {
  if (a == 0 || b == 0) return 0;
  return a > kSaturated / b ? kSaturated : a * b;
}

// What a part of the pattern costs once its repetitions are expanded.
struct Cost {
  uint64_t items = 0;
  uint64_t positions = 0;
  uint64_t groups = 0;
  uint64_t product = 0;  // largest multiplicity inside

  void Plus(const Cost &other) {
    items = Add(items, other.items);
    positions = Add(positions, other.positions);
    groups = Add(groups, other.groups);
    product = std::max(product, other.product);
  }
  Cost Scaled(uint64_t count) const {
    return Cost{Times(items, count), Times(positions, count),
                Times(groups, count), Times(product, count)};
  }
  // This cost with `part` (a part of it) replaced by `by`.
  void Replace(const Cost &part, const Cost &by) {
    items = Add(items - part.items, by.items);
    positions = Add(positions - part.positions, by.positions);
    groups = Add(groups - part.groups, by.groups);
    product = std::max(product, by.product);
  }
};

constexpr uint64_t kCharacterWeight = 2;
constexpr uint64_t kMaxCount = 255;  // the engine's RE_DUP_MAX
constexpr uint64_t kClassEscapeWeight = 6;

struct Frame {
  Cost total;
  Cost last;
  bool has_last = false;
};

// Deeper nesting than this is folded into the deepest frame: a bound after
// a folded group then applies to the whole frame, which only overestimates.
constexpr int kFrames = 32;

class Screen {
 public:
  explicit Screen(const char *pattern) : p_(pattern) {}

  VRC Run(PatternCost *out);

 private:
  Frame &Top() { return frames_[depth_]; }
  void Item(const Cost &cost);
  void Atom(uint64_t weight);
  void Operator(bool postfix);
  void Open();
  VRC Close(size_t at);
  VRC Bound(size_t *at);
  void Fold();
  size_t Bracket(size_t at);
  size_t Escape(size_t at);
  VRC Step(size_t *at);

  const char *p_;
  Frame frames_[kFrames];
  int depth_ = 0;
  int folded_ = 0;  // open groups beyond the frames
  uint64_t raw_positions_ = 0;
  uint64_t tags_ = 2;
  bool bad_ = false;  // a bracket expression the engine would overrun
};

void Screen::Item(const Cost &cost) {
  Frame &f = Top();
  f.total.Plus(cost);
  f.last = cost;
  f.has_last = true;
}

void Screen::Atom(uint64_t weight) {
  raw_positions_ = Add(raw_positions_, weight);
  Item(Cost{1, weight, 0, 1});
}

// A postfix repetition belongs to the item before it; an alternative ends
// the item a bound could repeat.  A repetition with nothing before it is an
// ordinary character.
void Screen::Operator(bool postfix) {
  if (postfix && !Top().has_last) {
    Atom(kCharacterWeight);
    return;
  }
  tags_ = Add(tags_, 2);
  if (!postfix) Top().has_last = false;
}

void Screen::Open() {
  tags_ = Add(tags_, 2);
  if (depth_ + 1 < kFrames) {
    frames_[++depth_] = Frame{};
  } else {
    ++folded_;
    Top().has_last = false;
  }
}

// Ends the innermost group; an unmatched parenthesis is an ordinary
// character, except right after an escaped backslash.
VRC Screen::Close(size_t at) {
  if (folded_ > 0) {
    --folded_;
    Frame &f = Top();
    f.total.groups = Add(f.total.groups, 1);
    f.last = f.total;
    f.has_last = true;
    return 0;
  }
  if (depth_ == 0) {
    if (at > 0 && p_[at - 1] == '\\') return VRC_FAILURE;
    Atom(kCharacterWeight);
    return 0;
  }
  Cost group = frames_[depth_--].total;
  if (group.items == 0) {
    raw_positions_ = Add(raw_positions_, kCharacterWeight);
    group = Cost{1, kCharacterWeight, 0, 1};
  }
  group.groups = Add(group.groups, 1);
  Item(group);
  return 0;
}

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Reads {m}, {m,}, {m,n} or {,n} and multiplies the last item by it.
// Anything else inside braces is an approximate-matching cost (or an
// error the engine reports).
VRC Screen::Bound(size_t *at) {
  size_t i = *at + 1;
  uint64_t low = 0, high = 0;
  bool comma = false, has_high = false, has_low = IsDigit(p_[i]);
  for (; IsDigit(p_[i]); ++i) {
    low = Add(Times(low, 10), static_cast<uint64_t>(p_[i] - '0'));
  }
  if (p_[i] == ',') {
    comma = true;
    for (++i; IsDigit(p_[i]); ++i) {
      has_high = true;
      high = Add(Times(high, 10), static_cast<uint64_t>(p_[i] - '0'));
    }
  }
  if (p_[i] != '}' && p_[i] != '\0') return VRC_REGEXP_BAD_PATTERN;
  // The engine refuses counts above 255, but reads them into an int
  // first: a longer number wraps around and is taken as a huge count.
  if (low > kMaxCount || high > kMaxCount) return VRC_REGEXP_BAD_PATTERN;
  *at = p_[i] == '}' ? i + 1 : i;

  // The engine makes n + 1 copies for {,n}: one more than for {0,n}.
  uint64_t count = has_high ? Add(high, has_low ? 0 : 1)
                   : comma  ? Add(low, 1)
                            : low;
  count = std::max<uint64_t>(count, 1);
  tags_ = Add(tags_, 2);
  Frame &f = Top();
  if (!f.has_last) Atom(kCharacterWeight);  // repeats nothing
  Cost repeated = f.last.Scaled(count);
  f.total.Replace(f.last, repeated);
  f.last = repeated;
  return 0;
}

// Folds open frames into their parents, as if their groups were closed.
void Screen::Fold() {
  while (depth_ > 0) Close(0);
}

// One item for a bracket expression, weighed by its elements (a range, a
// class, a collating element or a character each); returns the index just
// behind it, or the end of an unterminated one (which the engine refuses).
// Elements are read as the engine reads them, a range first.
size_t Screen::Bracket(size_t at) {
  size_t i = at + 1;
  uint64_t elements = 0;
  if (p_[i] == '^') ++i;
  if (p_[i] == ']') {  // a leading ] is an element
    ++i;
    ++elements;
  }
  while (p_[i] != '\0' && p_[i] != ']') {
    char kind = p_[i + 1];
    if (p_[i] == '[' && kind == ':' && p_[i + 2] != '\0') {
      // A class name runs to the next colon, and the engine steps two
      // characters past it: past the pattern's end when it is the last.
      const char *colon = strchr(p_ + i + 2, ':');
      if (colon == nullptr) break;
      if (colon[1] == '\0') {
        bad_ = true;
        break;
      }
      i = static_cast<size_t>(colon - p_) + 2;
    } else if (p_[i] == '[' && (kind == '.' || kind == '=')) {
      size_t j = i + 2;
      while (p_[j] != '\0' && !(p_[j] == kind && p_[j + 1] == ']')) ++j;
      i = p_[j] == '\0' ? j : j + 2;
    } else if (p_[i + 1] == '-' && p_[i + 2] != ']' && p_[i + 2] != '\0') {
      i += 3;  // a range
    } else {
      ++i;
    }
    elements = Add(elements, 1);
  }
  tags_ = Add(tags_, 2);
  Atom(Times(2, Add(elements, 1)));
  return p_[i] == ']' ? i + 1 : i;
}

// One item for an escape: \x{...} is one character, \w and its kin are
// classes; returns the index just behind it.
size_t Screen::Escape(size_t at) {
  char c = p_[at + 1];
  if (c == '\0') {
    Atom(kCharacterWeight);
    return at + 1;
  }
  if (c == 'x' && p_[at + 2] == '{') {
    size_t j = at + 3;
    while (p_[j] != '\0' && p_[j] != '}') ++j;
    Atom(kCharacterWeight);
    return p_[j] == '}' ? j + 1 : j;
  }
  bool is_class =
      c == 'w' || c == 'W' || c == 's' || c == 'S' || c == 'd' || c == 'D';
  if (is_class) tags_ = Add(tags_, 2);
  Atom(is_class ? kClassEscapeWeight : kCharacterWeight);
  return at + 2;
}

VRC Screen::Step(size_t *at) {
  size_t i = *at;
  switch (p_[i]) {
    case '\\':
      if (IsDigit(p_[i + 1])) return VRC_REGEXP_BAD_PATTERN;
      *at = Escape(i);
      return 0;
    case '[':
      *at = Bracket(i);
      return bad_ ? VRC_REGEXP_BAD_PATTERN : 0;
    case '(':
      Open();
      break;
    case ')':
      if (VRC rc = Close(i); rc != 0) return rc;
      break;
    case '{':
      return Bound(at);
    case '|':
      Operator(false);
      break;
    case '*':
    case '+':
    case '?':
      Operator(true);
      break;
    default:
      Atom(kCharacterWeight);
      break;
  }
  *at = i + 1;
  return 0;
}

VRC Screen::Run(PatternCost *out) {
  VRC rc = 0;
  for (size_t i = 0; rc == 0 && p_[i] != '\0';) rc = Step(&i);
  Fold();
  const Cost &total = frames_[0].total;
  out->items = total.items;
  out->positions = total.positions;
  out->added_positions =
      total.positions > raw_positions_ ? total.positions - raw_positions_ : 0;
  out->groups = total.groups;
  out->max_product = total.product;
  out->tags = tags_;
  return rc;
}

}  // namespace

VRC MeasurePattern(const char *pattern, PatternCost *cost) {
  *cost = PatternCost{};
  return Screen(pattern).Run(cost);
}

VRC ScreenPattern(const char *pattern, PatternCost *cost) {
  VRC rc = MeasurePattern(pattern, cost);
  if (rc != 0) return rc;
  if (cost->max_product > kMaxRepeatProduct ||
      cost->added_positions > kMaxAddedPositions ||
      Times(cost->positions, Add(cost->groups, 1)) > kMaxPositionsTimesGroups) {
    return VRC_FAILURE;
  }
  return 0;
}

// The matcher's scratch: two reach tables of 16 bytes per state (and one
// more entry) with a tag array per state each, a position table of 16
// bytes per state, one more tag array and alignment.  The rest covers the
// engine's frames and ours.
size_t MatcherStackBytes(uint64_t states, uint64_t tags) {
  uint64_t tag_bytes = Times(4, tags);
  uint64_t reach = Add(Times(16, Add(states, 1)), Times(tag_bytes, states));
  uint64_t bytes = Add(Add(Times(2, reach), Times(16, states)), tag_bytes);
  return static_cast<size_t>(Add(bytes, 4096 + 32));
}

// The engine makes at most a state per position, and a final state.
size_t MatchStackBytes(const PatternCost &cost) {
  return MatcherStackBytes(Add(cost.positions, 2), cost.tags);
}

}  // namespace vantrel::internal
