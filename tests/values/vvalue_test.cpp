#include "vantrel/vvalue.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <limits>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "internal/alloc.h"
#include "support/alloc_sweep.h"
#include "vantrel/vhash.h"
#include "vantrel/vrc.h"

namespace {

// A typed cell whose bytes past the type's width are garbage; texts as text.
struct Cell {
  VDataType type;
  VValue value;
  const char *text;
};

Cell Garbage(VDataType type) {
  Cell cell{type, {}, nullptr};
  memset(&cell.value, 0xA5, sizeof cell.value);
  return cell;
}
template <typename T, typename U>
Cell Make(VDataType type, T VValue::*member, U v) {
  Cell cell = Garbage(type);
  cell.value.*member = static_cast<T>(v);
  return cell;
}
// clang-format off
Cell Short(int16_t v) { return Make(VDT_SHORT, &VValue::shortValue, v); }
Cell Int(int32_t v) { return Make(VDT_INTEGER, &VValue::integerValue, v); }
Cell Uns(uint32_t v) { return Make(VDT_UNSIGNED, &VValue::unsignedValue, v); }
Cell Bool(int32_t v) { return Make(VDT_BOOLEAN, &VValue::booleanValue, v); }
Cell Real(double v) { return Make(VDT_REAL, &VValue::realValue, v); }
Cell Utc(int32_t v) { return Make(VDT_UTC, &VValue::utcValue, v); }
Cell I64(int64_t v) { return Make(VDT_INTEGER64, &VValue::integer64Value, v); }
Cell U64(uint64_t v) { return Make(VDT_UNSIGNED64, &VValue::unsigned64Value, v); }
Cell Text(const char *text) { return Cell{VDT_STRING, {}, text}; }
Cell Type(VDataType type) { return Cell{type, {}, nullptr}; }
// clang-format on

VValue Bin(const char *data, uint32_t n) {
  VValue v{};
  v.binaryValue.length = n;
  v.binaryValue.data = const_cast<char *>(data);
  return v;
}
VValue Str(const char *text, uint32_t n) {
  VValue v{};
  v.stringValue.text = const_cast<char *>(text);
  v.stringValue.length = n;
  return v;
}
Cell B(const char *data, uint32_t n) { return {VDT_BINARY, Bin(data, n), 0}; }
Cell S(const char *text, uint32_t n) { return {VDT_STRING, Str(text, n), 0}; }

// The cell a conversion starts from: a heap text, as conversions free it.
VValue Source(const Cell &cell) {
  if (cell.type != VDT_STRING) return cell.value;
  return Str(strdup(cell.text), static_cast<uint32_t>(strlen(cell.text)));
}

bool Same(const VValue &a, const VValue &b) {
  return memcmp(&a, &b, sizeof a) == 0;
}

// Every bit of the type's width must match (reals included: NaN, -0.0).
void ExpectCell(const VValue &got, const Cell &want) {
  if (want.type == VDT_STRING) {
    ASSERT_NE(got.stringValue.text, nullptr);
    EXPECT_STREQ(got.stringValue.text, want.text);
    EXPECT_EQ(got.stringValue.length, strlen(want.text));
    return;
  }
  size_t width = want.type == VDT_SHORT ? 2 : VDataTypeSize(want.type);
  EXPECT_EQ(memcmp(&got, &want.value, width), 0) << got.unsigned64Value;
}

enum Variant { kBoth, kInPlace, kCopying };
struct Row {
  Cell from, to;
  VRC rc = 0;
  Variant variant = kBoth;
};

constexpr double kTwoTo63 = 9223372036854775808.0;
const double kNaN = std::numeric_limits<double>::quiet_NaN();

// clang-format off
std::vector<Row> Matrix() {
  return {
    {Short(-1), Short(-1)}, {Short(-1), Int(-1)}, {Short(-1), Uns(0xFFFFFFFFu)},
    {Short(-2), Bool(1)}, {Short(-32768), Real(-32768.0)}, {Short(-1), Utc(-1)},
    {Short(-32768), Text("-32768")}, {Short(-1), I64(-1)},
    {Short(-1), U64(UINT64_MAX)},
    {Int(70000), Short(4464)}, {Int(INT32_MIN), Int(INT32_MIN)},
    {Int(-1), Uns(0xFFFFFFFFu)}, {Int(2), Bool(1)},
    {Int(INT32_MIN), Real(-2147483648.0)}, {Int(-7), Utc(-7)},
    {Int(INT32_MIN), Text("-2147483648")}, {Int(-1), I64(-1)},
    {Int(-1), U64(UINT64_MAX)},
    {Uns(0xFFFFFFFFu), Short(-1)}, {Uns(0xFFFFFFFFu), Int(-1)}, {Uns(7), Uns(7)},
    {Uns(0x10000), Bool(1)}, {Uns(0xFFFFFFFFu), Real(4294967295.0)},
    {Uns(0xFFFFFFFFu), Utc(-1)}, {Uns(0xFFFFFFFFu), Text("4294967295")},
    {Uns(0xFFFFFFFFu), I64(4294967295)}, {Uns(0xFFFFFFFFu), U64(4294967295u)},
    // Any boolean word counts; texts differ by variant.
    {Bool(7), Short(7)}, {Bool(7), Int(7)}, {Bool(-1), Uns(0xFFFFFFFFu)},
    {Bool(7), Bool(1), 0, kCopying}, {Bool(7), Real(7.0)}, {Bool(1), Utc(1)},
    {Bool(1), Text("TRUE"), 0, kInPlace}, {Bool(7), Text("1"), 0, kCopying},
    {Bool(-1), I64(-1)}, {Bool(-1), U64(UINT64_MAX)},
    // Reals truncate to 64 bits, then keep the low bits.
    {Real(3.9), Short(3)}, {Real(70000.7), Short(4464)}, {Real(3.9), Int(3)},
    {Real(-3.9), Int(-3)}, {Real(1e30), Int(0)}, {Real(-3.9), Uns(0xFFFFFFFDu)},
    {Real(0.5), Bool(1)}, {Real(-0.0), Bool(0)}, {Real(kNaN), Bool(0)},
    {Real(kNaN), Real(kNaN), 0, kCopying}, {Real(1e9), Utc(1000000000)},
    {Real(2.5), Text("2.500000")}, {Real(-kTwoTo63), I64(INT64_MIN)},
    {Real(kTwoTo63), I64(INT64_MIN)}, {Real(kNaN), I64(INT64_MIN)},
    {Real(1e19), U64(0x8000000000000000u)}, {Real(-2.0), U64(UINT64_MAX - 1)},
    {Utc(-5), Short(-5)}, {Utc(-5), Int(-5)}, {Utc(-5), Uns(0xFFFFFFFBu)},
    {Utc(-5), Bool(1)}, {Utc(-5), Real(-5.0)}, {Utc(INT32_MAX), Utc(INT32_MAX)},
    {Utc(-5), Text("-5")}, {Utc(-5), I64(-5)}, {Utc(-5), U64(UINT64_MAX - 4)},
    {I64(-1), Short(-1)}, {I64(0x100000005), Int(5)}, {I64(-1), Uns(0xFFFFFFFFu)},
    {I64(0x100000000), Bool(1)}, {I64(INT64_MIN), Real(-kTwoTo63)},
    {I64(0x1FFFFFFFF), Utc(-1)}, {I64(INT64_MIN), Text("-9223372036854775808")},
    {I64(INT64_MIN), I64(INT64_MIN)}, {I64(-1), U64(UINT64_MAX)},
    // Unsigned 64-bit bytes read as signed for reals.
    {U64(UINT64_MAX), Short(-1)}, {U64(UINT64_MAX), Int(-1)},
    {U64(0x1FFFFFFFEu), Uns(0xFFFFFFFEu)}, {U64(0), Bool(0)},
    {U64(0x8000000000000000u), Real(-kTwoTo63)}, {U64(0x80000000u), Utc(INT32_MIN)},
    {U64(UINT64_MAX), Text("18446744073709551615")}, {U64(UINT64_MAX), I64(-1)},
    {U64(UINT64_MAX), U64(UINT64_MAX)},
    // Texts go through the target's parser; failures leave the target alone.
    {Text("70000"), Short(4464)}, {Text("0x10"), Int(16)},
    {Text("-1"), Uns(0xFFFFFFFFu)}, {Text("Yes"), Bool(1)}, {Text("2.5"), Real(2.5)},
    {Text("~100"), Utc(100)}, {Text("abc"), Text("abc"), 0, kCopying},
    {Text("-9000000000"), I64(-9000000000)},
    {Text("18446744073709551615"), U64(UINT64_MAX)},
    {Text("99999999999"), Type(VDT_INTEGER), ERANGE},
    {Text("1e999"), Type(VDT_REAL), ERANGE},
    {Text("-1"), Type(VDT_UNSIGNED64), ERANGE},
    {Text("~99999999999"), Type(VDT_UTC), ERANGE},
  };
}
// clang-format on

// In place: the result replaces the cell (a source text is freed); on
// failure every byte stays.  Copying: the source is never touched.
void CheckRow(const Row &row) {
  VDataType from = row.from.type, to = row.to.type;
  if (row.variant != kCopying && from != to) {
    VValue cell = Source(row.from), before = cell;
    EXPECT_EQ(VValueConvert(&cell, from, to), row.rc);
    ExpectCell(cell, row.rc == 0 ? row.to : row.from);
    EXPECT_TRUE(row.rc == 0 || Same(cell, before));
    if (row.rc == 0 ? to == VDT_STRING : from == VDT_STRING) {
      free(cell.stringValue.text);
    }
  }
  if (row.variant != kInPlace) {
    VValue src = Source(row.from), src_before = src;
    VValue dst = Garbage(VDT_INVALID).value, dst_before = dst;
    EXPECT_EQ(VValueCopyAndConvert(&dst, to, &src, from), row.rc);
    EXPECT_TRUE(Same(src, src_before));
    if (row.rc == 0) ExpectCell(dst, row.to);
    EXPECT_TRUE(row.rc == 0 || Same(dst, dst_before));
    if (row.rc == 0 && to == VDT_STRING) free(dst.stringValue.text);
    if (from == VDT_STRING) free(src.stringValue.text);
  }
}

TEST(VValueTest, ConversionMatrixInPlaceAndCopying) {
  std::set<std::pair<VDataType, VDataType>> covered;
  for (const Row &row : Matrix()) {
    SCOPED_TRACE(testing::Message() << row.from.type << " -> " << row.to.type);
    covered.insert({row.from.type, row.to.type});
    CheckRow(row);
  }
  for (VDataType from : {1, 2, 3, 4, 5, 6, 7, 9, 10}) {
    for (VDataType to : {1, 2, 3, 4, 5, 6, 7, 9, 10}) {
      EXPECT_TRUE(covered.count({from, to})) << from << " -> " << to;
    }
  }
}

TEST(VValueTest, BinaryAndUnknownTypesNeverConvert) {
  uint64_t allocations = vtest::AllocationCount();
  for (VDataType other = 0; other <= 11; ++other) {
    if (other == VDT_BINARY) continue;
    bool unknown = other == 0 || other == 11;
    for (auto [from, to] : {std::pair<VDataType, VDataType>{VDT_BINARY, other},
                            {other, VDT_BINARY}}) {
      VValue cell = Garbage(VDT_INVALID).value, before = cell, dst = cell;
      EXPECT_EQ(VValueConvert(&cell, from, to),
                unknown ? VRC_INVALID_DATATYPE : VRC_TYPE_MISMATCH);
      EXPECT_EQ(VValueCopyAndConvert(&dst, to, &cell, from),
                unknown ? 0 : VRC_TYPE_MISMATCH);
      EXPECT_TRUE(Same(cell, before) && Same(dst, before)) << from << to;
    }
  }
  EXPECT_EQ(vtest::AllocationCount(), allocations);
  VValue cell = Garbage(VDT_INVALID).value;
  EXPECT_EQ(VValueConvert(&cell, VDT_BINARY, VDT_BINARY), 0);  // equal types
  EXPECT_EQ(VValueConvert(&cell, 11, 11), 0);
  EXPECT_EQ(VValueCopyAndConvert(&cell, VDT_BINARY, &cell, VDT_BINARY),
            VRC_TYPE_MISMATCH);
}

TEST(VValueTest, CompareAndHashFollowEachTypesRules) {
  struct Case {
    Cell a, b;
    int want;
  };
  // clang-format off
  const Case cases[] = {
    {Short(-1), Short(1), -1}, {Int(5), Int(-5), 1}, {Utc(-5), Utc(-5), 0},
    {Uns(0xFFFFFFFFu), Uns(1), 1}, {I64(-1), I64(0), -1},
    {I64(0xFFFFFFFF), I64(0x100000000), -1}, {U64(UINT64_MAX), U64(0), 1},
    {Bool(0), Bool(1), -1}, {Bool(1), Bool(0), 1}, {Bool(0), Bool(2), 1},
    {Bool(2), Bool(1), 1}, {Bool(3), Bool(3), 0}, {Real(1.0), Real(2.0), -1},
    {Real(-0.0), Real(0.0), 0}, {Real(kNaN), Real(1.0), -1},
    {Real(1.0), Real(kNaN), -1}, {Real(kNaN), Real(kNaN), -1},
    {S("abc", 1), S("abc", 3), 0}, {B("ab", 2), B("abc", 3), 0},
    {B(nullptr, 0), B(nullptr, 0), 0}, {B(nullptr, 0), B("a", 1), -1},
    {B("a", 1), B(nullptr, 0), 1}, {Garbage(VDT_INVALID), Garbage(VDT_INVALID), -1},
    {Garbage(11), Int(1), -1},
  };
  // clang-format on
  for (const Case &c : cases) {
    EXPECT_EQ(VValueComp(c.a.value, c.b.value, c.a.type), c.want) << c.a.type;
  }
  // Texts and binary data give the C library's own result, not a clamped
  // one (called through pointers so that the compiler cannot fold it).
  int (*volatile text_compare)(const char *, const char *) = strcmp;
  int (*volatile data_compare)(const void *, const void *, size_t) = memcmp;
  EXPECT_EQ(VValueComp(Str("a", 1), Str("c", 1), VDT_STRING),
            text_compare("a", "c"));
  EXPECT_EQ(VValueComp(Bin("az", 2), Bin("ab", 2), VDT_BINARY),
            data_compare("az", "ab", 2));

  // clang-format off
  const std::pair<Cell, uint32_t> hashes[] = {
    {Short(-1), 4294967295u}, {Bool(7), 7}, {I64(0x700000005), 5},
    {Real(0.0), 0}, {Real(-1.0), static_cast<uint32_t>(-16 - 65)},  // F0 BF
    {B("ab", 2), 195}, {B("abc", 3), 294}, {B("\xff", 1), 255},
    {S("key", 3), VHashString2("key", 0)},
    {Make(VDT_INVALID, &VValue::integerValue, 9), 0}};
  // clang-format on
  for (auto [cell, want] : hashes) {
    EXPECT_EQ(VValueHash(cell.value, cell.type), want) << cell.type;
  }
}

TEST(VValueTest, CopyWithAndSetDefault) {
  VValue dst{};
  ASSERT_EQ(VValueCopyWith(&dst, Str("hello", 5), VDT_STRING, malloc), 0);
  ExpectCell(dst, Text("hello"));
  free(dst.stringValue.text);
  // A length word shorter than the text still gives a terminated copy.
  ASSERT_EQ(VValueCopyWith(&dst, Str("hello", 2), VDT_STRING, malloc), 0);
  EXPECT_STREQ(dst.stringValue.text, "he");
  free(dst.stringValue.text);
  VValue binary = Bin("xyz", 3), before = binary;
  ASSERT_EQ(VValueCopyWith(&dst, binary, VDT_BINARY, vtest::NullMalloc), 0);
  EXPECT_TRUE(Same(dst, binary));  // shares the data
  EXPECT_EQ(VValueCopyWith(&dst, Str("x", 1), VDT_STRING, vtest::NullMalloc),
            ENOMEM);
  EXPECT_TRUE(Same(dst, before));

  for (VDataType type : {1, 2, 3, 4, 5, 6, 9, 10}) {
    VValue cell = Garbage(type).value;
    ASSERT_EQ(VValueSetDefault(&cell, type, 1), 0);
    ExpectCell(cell, Type(type));
  }
  // Without allocating, every empty text is the same shared one.
  VValue shared1 = Str("x", 1), shared2 = shared1, owned = shared1;
  ASSERT_EQ(VValueSetDefault(&shared1, VDT_STRING, 0) +
                VValueSetDefault(&shared2, VDT_STRING, 0) +
                VValueSetDefault(&owned, VDT_STRING, 1),
            0);
  EXPECT_EQ(shared1.stringValue.text, shared2.stringValue.text);
  EXPECT_NE(owned.stringValue.text, shared1.stringValue.text);
  ExpectCell(shared1, Text(""));
  ExpectCell(owned, Text(""));
  free(owned.stringValue.text);
  VValue cell = Garbage(VDT_INVALID).value;
  before = cell;
  ASSERT_EQ(VValueSetDefault(&binary, VDT_BINARY, 1), 0);
  EXPECT_TRUE(Same(binary, Bin(nullptr, 0)));
  EXPECT_EQ(VValueSetDefault(&cell, 11, 1), 0);
  EXPECT_TRUE(Same(cell, before));
}

char *FailingDup(const char *) { return nullptr; }

TEST(VValueTest, ToStringWithRendersEveryType) {
  // clang-format off
  const std::pair<Cell, const char *> cases[] = {
    {Short(-3), "-3"}, {Int(INT32_MIN), "-2147483648"}, {Bool(2), "TRUE"},
    {Uns(4294967295u), "4294967295"}, {Bool(0), "FALSE"}, {Real(0.25), "0.250000"},
    {Utc(86400), "86400"}, {I64(INT64_MIN), "-9223372036854775808"},
    {U64(UINT64_MAX), "18446744073709551615"}, {S("text", 4), "text"},
    {B("\x0a\x1b\xff", 3), "0x0a1bff"}, {B(nullptr, 0), ""},
  };
  // clang-format on
  char *out = nullptr;
  for (const auto &[cell, want] : cases) {
    ASSERT_EQ(VValueToStringWith(cell.value, cell.type, &out, strdup), 0);
    EXPECT_STREQ(out, want);
    free(out);
  }
  // "%f" of the largest doubles runs past 300 characters; nothing is cut.
  for (double value : {1e308, -1.7976931348623157e308, 1e-300}) {
    std::string want(static_cast<size_t>(snprintf(nullptr, 0, "%f", value)), 0);
    snprintf(want.data(), want.size() + 1, "%f", value);
    VValue cell = Real(value).value;
    ASSERT_EQ(VValueConvert(&cell, VDT_REAL, VDT_STRING), 0);
    ExpectCell(cell, Text(want.c_str()));
    free(cell.stringValue.text);
    ASSERT_EQ(VValueToStringWith(Real(value).value, VDT_REAL, &out, strdup), 0);
    EXPECT_EQ(out, want);
    free(out);
  }
  out = nullptr;
  EXPECT_EQ(VValueToStringWith(Int(1).value, VDT_INVALID, &out, strdup),
            VRC_INVALID_DATATYPE);
  EXPECT_EQ(VValueToStringWith(Int(1).value, VDT_INTEGER, &out, FailingDup),
            ENOMEM);
  EXPECT_EQ(out, nullptr);
}

// Every allocating operation: 12 with the target untouched, and no leak.
TEST(VValueTest, AllocationFailuresLeaveCellsUnchanged) {
  const Cell from[3] = {Real(1e308), Bool(1), Text("12345")};
  auto dup = vantrel::internal::Strdup;
  vtest::SweepAllocations([&](vtest::Fault &f) {
    VValue blank = Garbage(VDT_INVALID).value, dflt = blank, text = Str("a", 1);
    VValue src[3], cell[3], dst[3] = {blank, blank, blank};
    for (int i = 0; i < 3; ++i) src[i] = cell[i] = Source(from[i]);
    char *out[2] = {};
    VRC rc[10];
    f.Arm();
    for (int i = 0; i < 3; ++i) {
      rc[i] = VValueConvert(&cell[i], from[i].type, VDT_STRING);
      rc[3 + i] =
          VValueCopyAndConvert(&dst[i], VDT_STRING, &src[i], from[i].type);
    }
    rc[6] = VValueSetDefault(&dflt, VDT_STRING, 1);
    rc[7] = VValueCopyWith(&text, text, VDT_STRING, vtest::FunnelMalloc);
    rc[8] = VValueToStringWith(Real(-1e300).value, VDT_REAL, &out[0], dup);
    rc[9] = VValueToStringWith(Bin("\x01\x02", 2), VDT_BINARY, &out[1], dup);
    bool failed = f.Disarm(), any = false;
    for (VRC r : rc) {
      EXPECT_TRUE(r == 0 || r == ENOMEM) << r;
      any |= r != 0;
    }
    EXPECT_EQ(failed, any);
    for (int i = 0; i < 3; ++i) {
      EXPECT_TRUE(rc[i] == 0 || Same(cell[i], src[i]));
      EXPECT_TRUE(rc[3 + i] == 0 || Same(dst[i], blank));
      if (rc[i] == 0 && i < 2) free(cell[i].stringValue.text);
      if (rc[3 + i] == 0) free(dst[i].stringValue.text);
    }
    free(src[2].stringValue.text);
    EXPECT_TRUE(rc[6] == 0 || Same(dflt, blank));
    if (rc[6] == 0) free(dflt.stringValue.text);
    if (rc[7] == 0) free(text.stringValue.text);
    for (int i = 0; i < 2; ++i) {
      EXPECT_EQ(rc[8 + i] == 0, out[i] != nullptr);
      free(out[i]);
    }
  });
}

}  // namespace
