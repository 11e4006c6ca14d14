// Ordering and equality across the numeric, boolean and UTC types, checked
// two ways: a table of hand-worked pairs, and a generated grid of every
// type pair over edge values against the two tables of cells as they are
// written ("signed 32", "truncate a, low word, signed 32", ...), each cell
// term worked out on the values by its definition.
#include <gtest/gtest.h>
#include <math.h>
#include <stdint.h>

#include <limits>
#include <string>
#include <vector>

#include "operators/operators.h"

namespace {

namespace vi = vantrel::internal;

VTypedValue S(int16_t v) { return {VDT_SHORT, {.shortValue = v}}; }
VTypedValue I(int32_t v) { return {VDT_INTEGER, {.integerValue = v}}; }
VTypedValue U(uint32_t v) { return {VDT_UNSIGNED, {.unsignedValue = v}}; }
VTypedValue B(int32_t v) { return {VDT_BOOLEAN, {.booleanValue = v}}; }
VTypedValue R(double v) { return {VDT_REAL, {.realValue = v}}; }
VTypedValue T(int32_t v) { return {VDT_UTC, {.utcValue = v}}; }
VTypedValue L(int64_t v) { return {VDT_INTEGER64, {.integer64Value = v}}; }
VTypedValue K(uint64_t v) { return {VDT_UNSIGNED64, {.unsigned64Value = v}}; }

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr uint64_t k2To32 = uint64_t{1} << 32;
constexpr uint64_t k2To63 = uint64_t{1} << 63;

std::string Describe(const VTypedValue &v);

// Worked by hand, one row per pair: the ordering and the equality test.
struct Pair {
  VTypedValue a, b;
  int order, equal;
};

TEST(CompareTablesTest, HandWorkedPairs) {
  const Pair pairs[] = {
      {I(-1), U(1), 1, 0},                // unsigned 32: -1 is 4294967295
      {I(-1), L(1), -1, 0},               // signed 64
      {U(4294967295u), T(0), -1, 0},      // UNSIGNED against UTC: signed
      {U(4294967295u), T(1), -1, 0},      // ... and both orders say "less":
      {T(1), U(4294967295u), -1, 0},      // UTC against UNSIGNED is unsigned
      {R(2.9), T(2), 0, 1},               // the real truncated
      {R(2.9), I(2), 1, 0},               // compared as doubles
      {L(int64_t{k2To32}), T(0), 0, 1},   // only the low word counts
      {T(0), L(int64_t{k2To32}), -1, 0},  // but not the other way round
      {R(kNaN), I(5), 1, 1},
      {I(5), R(kNaN), 1, 1},
      {K(UINT64_MAX), I(-1), 0, 1},    // -1 sign-extended to 64 bits
      {L(-1), U(4294967295u), -1, 0},  // UNSIGNED zero-extended
      {U(1), L(-1), 1, 0},
      {R(-1.5), K(5), 1, 0},       // -1 as unsigned 64 is the largest
      {K(5), R(5.7), 0, 1},        // truncate b
      {R(1e30), K(k2To63), 0, 1},  // out of range: INT64_MIN
      {R(kNaN), T(0), 0, 1},       // NaN truncates to INT64_MIN too
      {R(kInf), T(0), 0, 1},
      {R(4294967296.0), T(0), 0, 1},  // 2^32 cut to its low word
      {R(-0.0), I(0), 0, 1},
      {S(-1), U(65535), 1, 0},  // the short sign-extended first
      {S(-1), S(-1), 0, 1},
      {S(INT16_MIN), I(-32768), 0, 1},
      {B(2), B(1), 1, 0},  // booleans are their words
      {B(1), R(1.0), 0, 1},
      {L(INT64_MAX), R(9223372036854775807.0), 0, 1},  // rounded
      {L((int64_t{1} << 53) + 1), R(9007199254740992.0), 0, 1},
      {K(k2To63), L(-1), -1, 0},
      {K(k2To63), L(INT64_MIN), 0, 1},  // the same 64 bits
      {R(-1.0), U(4294967295u), -1, 0},
      {U(4294967295u), R(-1.0), 1, 0},
      {T(INT32_MIN), I(INT32_MAX), -1, 0},
      {K(4294967295u), U(4294967295u), 0, 1},
      {U(4294967295u), K(k2To32 + 4294967295u), -1, 0},
  };
  for (const Pair &p : pairs) {
    SCOPED_TRACE(Describe(p.a) + " against " + Describe(p.b));
    EXPECT_EQ(vi::TypedValueOrder(p.a, p.b), p.order);
    EXPECT_EQ(vi::TypedValueEqual(p.a, p.b), p.equal);
    EXPECT_EQ(VTypedValueOrderEQ(&p.a, &p.b), p.order);
  }
}

// ---------------------------------------------------------------------------
// The generated grid.

// Rows and columns in this order.
constexpr VDataType kNumeric[] = {VDT_SHORT,     VDT_INTEGER,   VDT_UNSIGNED,
                                  VDT_BOOLEAN,   VDT_REAL,      VDT_UTC,
                                  VDT_INTEGER64, VDT_UNSIGNED64};

// The ordering table, cell by cell as written.
const char *const kOrderCells[8][8] = {
    {"signed 32", "signed 32", "unsigned 32", "signed 32", "double",
     "signed 32", "signed 64", "unsigned 64"},
    {"signed 32", "signed 32", "unsigned 32", "signed 32", "double",
     "signed 32", "signed 64", "unsigned 64"},
    {"unsigned 32", "unsigned 32", "unsigned 32", "unsigned 32", "double",
     "signed 32", "signed 64", "unsigned 64"},
    {"signed 32", "signed 32", "unsigned 32", "signed 32", "double",
     "signed 32", "signed 64", "unsigned 64"},
    {"double", "double", "double", "double", "double",
     "truncate a, low word, signed 32", "double", "truncate a, unsigned 64"},
    {"signed 32", "signed 32", "unsigned 32", "signed 32", "double",
     "signed 32", "signed 64", "unsigned 64"},
    {"signed 64", "signed 64", "signed 64", "signed 64", "double",
     "low word, signed 32", "signed 64", "unsigned 64"},
    {"unsigned 64", "unsigned 64", "unsigned 64", "unsigned 64",
     "truncate b, unsigned 64", "low word, signed 32", "unsigned 64",
     "unsigned 64"},
};

// The equality table, cell by cell as written.
const char *const kEqualCells[8][8] = {
    {"the 16 bits", "32 bits", "32 bits", "32 bits", "double", "32 bits",
     "signed 64", "signed 64"},
    {"32 bits", "32 bits", "32 bits", "32 bits", "double", "32 bits",
     "signed 64", "signed 64"},
    {"32 bits", "32 bits", "32 bits", "32 bits", "double", "32 bits",
     "zero-extended 64", "zero-extended 64"},
    {"32 bits", "32 bits", "32 bits", "32 bits", "double", "32 bits",
     "signed 64", "signed 64"},
    {"double", "double", "double", "double", "double", "truncate a, low word",
     "double", "truncate a, 64 bits"},
    {"32 bits", "32 bits", "32 bits", "32 bits", "double", "32 bits",
     "signed 64", "signed 64"},
    {"signed 64", "signed 64", "zero-extended 64", "signed 64", "double",
     "low word", "64 bits", "64 bits"},
    {"signed 64", "signed 64", "zero-extended 64", "signed 64",
     "truncate b, 64 bits", "low word", "64 bits", "64 bits"},
};

// The values, read by the terms' definitions.  A value's 32-bit word is
// the type's own 32 bits with a SHORT sign-extended; its 64 bits are a
// signed source sign-extended, an UNSIGNED zero-extended.
bool IsSignedSource(VDataType t) {
  return t == VDT_SHORT || t == VDT_INTEGER || t == VDT_BOOLEAN || t == VDT_UTC;
}
int32_t Word32(const VTypedValue &v) {
  switch (v.type) {
    case VDT_SHORT:
      return v.value.shortValue;
    case VDT_UNSIGNED:
      return static_cast<int32_t>(v.value.unsignedValue);
    default:
      return v.value.integerValue;
  }
}
uint64_t Bits64(const VTypedValue &v) {
  if (v.type == VDT_INTEGER64 || v.type == VDT_UNSIGNED64) {
    return v.value.unsigned64Value;
  }
  if (v.type == VDT_UNSIGNED) return v.value.unsignedValue;
  return static_cast<uint64_t>(static_cast<int64_t>(Word32(v)));
}
// Exact for 32-bit values; a 64-bit integer rounded to nearest.
double AsDouble(const VTypedValue &v) {
  switch (v.type) {
    case VDT_REAL:
      return v.value.realValue;
    case VDT_UNSIGNED:
      return v.value.unsignedValue;
    case VDT_INTEGER64:
      return static_cast<double>(v.value.integer64Value);
    case VDT_UNSIGNED64:
      return static_cast<double>(v.value.unsigned64Value);
    default:
      return Word32(v);
  }
}
// Toward zero to a signed 64-bit integer; INT64_MIN when out of range.
int64_t Truncated(double x) {
  long double t = truncl(static_cast<long double>(x));
  if (isnan(x) || t < -9223372036854775808.0L || t > 9223372036854775807.0L) {
    return INT64_MIN;
  }
  return static_cast<int64_t>(t);
}

std::string Describe(const VTypedValue &v) {
  static const char *const kNames[] = {
      "",    "SHORT", "INTEGER", "UNSIGNED",  "BOOLEAN",   "REAL",
      "UTC", "",      "",        "INTEGER64", "UNSIGNED64"};
  if (v.type < 1 || v.type > 10 || *kNames[v.type] == '\0') {
    return "type " + std::to_string(v.type);
  }
  std::string value = v.type == VDT_REAL ? std::to_string(v.value.realValue)
                      : v.type == VDT_UNSIGNED || v.type == VDT_UNSIGNED64
                          ? std::to_string(Bits64(v))
                          : std::to_string(static_cast<int64_t>(Bits64(v)));
  return kNames[v.type] + (" " + value);
}

template <typename N>
int Sign(N a, N b) {
  return a < b ? -1 : a > b ? 1 : 0;
}

int OrderByCell(const std::string &cell, const VTypedValue &a,
                const VTypedValue &b) {
  if (cell == "signed 32") return Sign(Word32(a), Word32(b));
  if (cell == "unsigned 32") {
    return Sign(static_cast<uint32_t>(Word32(a)),
                static_cast<uint32_t>(Word32(b)));
  }
  if (cell == "signed 64") {
    return Sign(static_cast<int64_t>(Bits64(a)),
                static_cast<int64_t>(Bits64(b)));
  }
  if (cell == "unsigned 64") return Sign(Bits64(a), Bits64(b));
  if (cell == "double") {
    double x = AsDouble(a), y = AsDouble(b);
    if (isnan(x) || isnan(y)) return 1;
    return Sign(x, y);
  }
  if (cell == "truncate a, low word, signed 32") {
    return Sign(static_cast<int32_t>(Truncated(a.value.realValue)), Word32(b));
  }
  if (cell == "truncate a, unsigned 64") {
    return Sign(static_cast<uint64_t>(Truncated(a.value.realValue)), Bits64(b));
  }
  if (cell == "truncate b, unsigned 64") {
    return Sign(Bits64(a), static_cast<uint64_t>(Truncated(b.value.realValue)));
  }
  if (cell == "low word, signed 32") {
    return Sign(static_cast<int32_t>(Bits64(a)), Word32(b));
  }
  ADD_FAILURE() << "no such cell: " << cell;
  return 2;
}

int EqualByCell(const std::string &cell, const VTypedValue &a,
                const VTypedValue &b) {
  if (cell == "the 16 bits") return a.value.shortValue == b.value.shortValue;
  if (cell == "32 bits") return Word32(a) == Word32(b);
  if (cell == "double") {
    double x = AsDouble(a), y = AsDouble(b);
    return isnan(x) || isnan(y) || x == y;
  }
  if (cell == "signed 64") {
    // The 32-bit side sign-extended against the 64-bit side's both words.
    const VTypedValue &narrow = IsSignedSource(a.type) ? a : b;
    const VTypedValue &wide = IsSignedSource(a.type) ? b : a;
    return static_cast<int64_t>(Word32(narrow)) ==
           static_cast<int64_t>(wide.value.unsigned64Value);
  }
  if (cell == "zero-extended 64") {
    const VTypedValue &u = a.type == VDT_UNSIGNED ? a : b;
    const VTypedValue &other = a.type == VDT_UNSIGNED ? b : a;
    uint64_t bits = other.value.unsigned64Value;
    return u.value.unsignedValue == static_cast<uint32_t>(bits) &&
           (bits >> 32) == 0;
  }
  if (cell == "64 bits") {
    return a.value.unsigned64Value == b.value.unsigned64Value;
  }
  if (cell == "truncate a, low word") {
    return static_cast<uint32_t>(Truncated(a.value.realValue)) ==
           static_cast<uint32_t>(b.value.utcValue);
  }
  if (cell == "truncate a, 64 bits") {
    return static_cast<uint64_t>(Truncated(a.value.realValue)) ==
           b.value.unsigned64Value;
  }
  if (cell == "truncate b, 64 bits") {
    return a.value.unsigned64Value ==
           static_cast<uint64_t>(Truncated(b.value.realValue));
  }
  if (cell == "low word") {
    return static_cast<uint32_t>(a.value.unsigned64Value) ==
           static_cast<uint32_t>(b.value.utcValue);
  }
  ADD_FAILURE() << "no such cell: " << cell;
  return 2;
}

// Edge values of each type: 0, -1, the limits, NaN and infinities for
// reals, and values that tell the representations apart (2^32, 2^63,
// fractions, reals beyond 64 bits).
std::vector<VTypedValue> EdgeValues(VDataType type) {
  switch (type) {
    case VDT_SHORT:
      return {S(0), S(-1), S(1), S(2), S(INT16_MIN), S(INT16_MAX)};
    case VDT_INTEGER:
      return {I(0), I(-1), I(1), I(2), I(65535), I(INT32_MIN), I(INT32_MAX)};
    case VDT_UNSIGNED:
      return {U(0), U(1), U(2), U(65535), U(0x80000000u), U(UINT32_MAX)};
    case VDT_BOOLEAN:
      return {B(0), B(1), B(2), B(-1)};
    case VDT_REAL:
      return {R(0.0),          R(-0.0),   R(1.0),     R(-1.0),
              R(2.9),          R(-2.9),   R(65535.0), R(4294967295.0),
              R(4294967296.0), R(9.3e18), R(-9.3e18), R(1.8446744073709552e19),
              R(-1e300),       R(kInf),   R(-kInf),   R(kNaN),
              R(-2147483648.5)};
    case VDT_UTC:
      return {T(0), T(-1), T(1), T(2), T(INT32_MIN), T(INT32_MAX)};
    case VDT_INTEGER64:
      return {L(0),          L(-1),        L(1),          L(2),
              L(INT64_MIN),  L(INT64_MAX), L(4294967295), L(k2To32),
              L(k2To32 + 1), L(-k2To32)};
    case VDT_UNSIGNED64:
      return {K(0),          K(1),           K(2),
              K(UINT64_MAX), K(k2To63),      K(k2To32),
              K(k2To32 + 1), K(4294967295u), K(UINT64_MAX - 1)};
    default:
      return {};
  }
}

TEST(CompareTablesTest, GridOfEveryNumericPairFollowsTheTables) {
  int checked = 0, failures = 0;
  for (int row = 0; row < 8; ++row) {
    for (int column = 0; column < 8; ++column) {
      for (const VTypedValue &a : EdgeValues(kNumeric[row])) {
        for (const VTypedValue &b : EdgeValues(kNumeric[column])) {
          int order = OrderByCell(kOrderCells[row][column], a, b);
          int equal = EqualByCell(kEqualCells[row][column], a, b);
          int got_order = vi::TypedValueOrder(a, b);
          int got_equal = vi::TypedValueEqual(a, b);
          ++checked;
          if (got_order == order && got_equal == equal) continue;
          if (++failures <= 20) {
            ADD_FAILURE() << Describe(a) << " against " << Describe(b)
                          << ": order " << got_order << " (" << order
                          << " by \"" << kOrderCells[row][column]
                          << "\"), equal " << got_equal << " (" << equal
                          << " by \"" << kEqualCells[row][column] << "\")";
          }
        }
      }
    }
  }
  EXPECT_EQ(failures, 0);
  EXPECT_GT(checked, 4000);
}

// Every pair the tables do not cover cannot be ordered or compared: BINARY
// on either side, exactly one text, or a type outside 1 to 10.
TEST(CompareTablesTest, PairsOutsideTheTablesGiveMinusOne) {
  VTypedValue text{VDT_STRING, {}};
  text.value.stringValue = {const_cast<char *>("1"), 1};
  VTypedValue binary{VDT_BINARY, {}};
  std::vector<VTypedValue> others = {text, binary};
  for (VDataType t : {0, 11, -1, 1000}) others.push_back(VTypedValue{t, {}});
  std::vector<VTypedValue> all = others;
  for (VDataType t : kNumeric) all.push_back(EdgeValues(t)[1]);
  for (const VTypedValue &odd : others) {
    for (const VTypedValue &any : all) {
      if (odd.type == VDT_STRING && any.type == VDT_STRING) continue;
      SCOPED_TRACE(Describe(odd) + " / " + Describe(any));
      EXPECT_EQ(vi::TypedValueOrder(odd, any), -1);
      EXPECT_EQ(vi::TypedValueOrder(any, odd), -1);
      EXPECT_EQ(vi::TypedValueEqual(odd, any), -1);
      EXPECT_EQ(vi::TypedValueEqual(any, odd), -1);
    }
  }
}

}  // namespace
