#include "vantrel/vvalue.h"

#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <functional>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "internal/alloc.h"
#include "support/alloc_sweep.h"
#include "vantrel/vhash.h"
#include "vantrel/vrc.h"

namespace {

VValue Str(const char *text, uint32_t n) {
  VValue v{};
  v.stringValue.text = const_cast<char *>(text);
  v.stringValue.length = n;
  return v;
}
VValue Bin(const char *data, uint32_t n) {
  VValue v{};
  v.binaryValue.length = n;
  v.binaryValue.data = const_cast<char *>(data);
  return v;
}

// A typed cell whose bytes past the type's width are garbage; texts keep
// their text beside the cell.
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
Cell Text(const char *t, uint32_t n) { return {VDT_STRING, Str(t, n), t}; }
Cell Text(const char *t) { return Text(t, static_cast<uint32_t>(strlen(t))); }
Cell B(const char *data, uint32_t n) { return {VDT_BINARY, Bin(data, n), 0}; }
Cell Type(VDataType type) { return Cell{type, {}, nullptr}; }
// clang-format on

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
const double kLowest = std::numeric_limits<double>::lowest();

// clang-format off
std::vector<Row> Matrix() {
  // "%f" of the largest doubles runs past 300 characters; nothing is cut.
  static const std::string kHuge = std::to_string(kLowest);
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
    {Bool(7), Text("TRUE"), 0, kInPlace}, {Bool(0), Text("FALSE"), 0, kInPlace},
    {Bool(7), Text("1"), 0, kCopying}, {Bool(-1), I64(-1)},
    {Bool(-1), U64(UINT64_MAX)},
    // Reals truncate to 64 bits, then keep the low bits.
    {Real(3.9), Short(3)}, {Real(70000.7), Short(4464)}, {Real(3.9), Int(3)},
    {Real(-3.9), Int(-3)}, {Real(1e30), Int(0)}, {Real(-3.9), Uns(0xFFFFFFFDu)},
    {Real(0.5), Bool(1)}, {Real(-0.0), Bool(0)}, {Real(kNaN), Bool(0)},
    {Real(kNaN), Real(kNaN), 0, kCopying}, {Real(1e9), Utc(1000000000)},
    {Real(2.5), Text("2.500000")}, {Real(kLowest), Text(kHuge.c_str())},
    {Real(-kTwoTo63), I64(INT64_MIN)}, {Real(kTwoTo63), I64(INT64_MIN)},
    {Real(kNaN), I64(INT64_MIN)},
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
    {Text("~100"), Utc(100)}, {Text("abc"), Text("abc")},
    {Text("-9000000000"), I64(-9000000000)},
    {Text("18446744073709551615"), U64(UINT64_MAX)},
    {Text("99999999999"), Int(INT32_MAX)},  // clamped, as strtol does
    {Text("~99999999999"), Type(VDT_UTC), ERANGE},
  };
}
// clang-format on

// In place: the result replaces the cell (a source text is freed); on
// failure every byte stays.  Copying: the source is never touched.  The text
// form of a value is the one the in-place conversion makes.
void CheckRow(const Row &row) {
  VDataType from = row.from.type, to = row.to.type;
  if (to == VDT_STRING && row.variant != kCopying) {
    char *out = nullptr;
    ASSERT_EQ(VValueToStringWith(row.from.value, from, &out, strdup), 0);
    EXPECT_STREQ(out, row.to.text);
    free(out);
  }
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

TEST(VValueTest, ConversionMatrixInPlaceCopyingAndAsText) {
  for (const Row &row : Matrix()) {
    SCOPED_TRACE(testing::Message() << row.from.type << " -> " << row.to.type);
    CheckRow(row);
  }
}

// Binary data only becomes text; unknown types do not even do that.
TEST(VValueTest, BinaryAndUnknownTypesNeverConvert) {
  vtest::AllocCounter allocations;
  for (VDataType other = 0; other <= 11; ++other) {
    bool unknown = other == 0 || other == 11;
    for (auto [from, to] : {std::pair<VDataType, VDataType>{VDT_BINARY, other},
                            {other, VDT_BINARY}}) {
      VValue cell = Garbage(VDT_INVALID).value, before = cell, dst = cell;
      EXPECT_EQ(VValueConvert(&cell, from, to),
                from == to ? 0  // equal types return at once
                : unknown  ? VRC_INVALID_DATATYPE
                           : VRC_TYPE_MISMATCH);
      EXPECT_EQ(VValueCopyAndConvert(&dst, to, &cell, from),
                unknown ? 0 : VRC_TYPE_MISMATCH);
      EXPECT_TRUE(Same(cell, before) && Same(dst, before)) << from << to;
    }
  }
  EXPECT_EQ(allocations.count(), 0u);

  char *out = nullptr;
  for (auto [data, want] :
       {std::pair<const char *, const char *>{"\x0a\x1b\xff", "0x0a1bff"},
        {nullptr, ""}}) {
    ASSERT_EQ(
        VValueToStringWith(Bin(data, data ? 3 : 0), VDT_BINARY, &out, strdup),
        0);
    EXPECT_STREQ(out, want);
    free(out);
  }
  out = nullptr;
  EXPECT_EQ(VValueToStringWith(Int(1).value, VDT_INVALID, &out, strdup),
            VRC_INVALID_DATATYPE);
  EXPECT_EQ(out, nullptr);
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
    {Text("abc", 1), Text("abc", 3), 0}, {B("ab", 2), B("abc", 3), 0},
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
    {Real(-1.0), static_cast<uint32_t>(-16 - 65)},  // F0 BF
    {B("abc", 3), 294}, {B("\xff", 1), 255},
    {Text("key"), VHashString2("key", 0)},
    {Make(VDT_INVALID, &VValue::integerValue, 9), 0}};
  // clang-format on
  for (auto [cell, want] : hashes) {
    EXPECT_EQ(VValueHash(cell.value, cell.type), want) << cell.type;
  }
}

TEST(VValueTest, CopyWithAndSetDefault) {
  // A length word shorter than the text still gives a terminated copy.
  VValue dst{};
  ASSERT_EQ(VValueCopyWith(&dst, Str("hello", 2), VDT_STRING, malloc), 0);
  ExpectCell(dst, Text("he"));
  free(dst.stringValue.text);
  VValue binary = Bin("xyz", 3);
  ASSERT_EQ(VValueCopyWith(&dst, binary, VDT_BINARY, vtest::NullMalloc), 0);
  EXPECT_TRUE(Same(dst, binary));  // shares the data

  for (VDataType type : {1, 2, 3, 4, 5, 6, 9, 10}) {
    VValue cell = Garbage(type).value;
    ASSERT_EQ(VValueSetDefault(&cell, type, 1), 0);
    ExpectCell(cell, Type(type));
  }
  ASSERT_EQ(VValueSetDefault(&binary, VDT_BINARY, 1), 0);
  EXPECT_TRUE(Same(binary, Bin(nullptr, 0)));
  // Without allocating, every empty text is the same shared one.
  VValue shared1 = Str("x", 1), shared2 = shared1;
  ASSERT_EQ(VValueSetDefault(&shared1, VDT_STRING, 0), 0);
  ASSERT_EQ(VValueSetDefault(&shared2, VDT_STRING, 0), 0);
  EXPECT_EQ(shared1.stringValue.text, shared2.stringValue.text);
  ExpectCell(shared1, Text(""));
  VValue cell = Garbage(VDT_INVALID).value, before = cell;
  EXPECT_EQ(VValueSetDefault(&cell, 11, 1), 0);
  EXPECT_TRUE(Same(cell, before));
}

// Every allocating operation, swept on its own: it makes a text (freed
// here, so a shared one would show), or returns 12 with the cell untouched.
TEST(VValueTest, AllocationFailuresLeaveCellsUnchanged) {
  using Op = std::function<VRC(VValue *)>;
  auto in_place = [](VDataType from) -> Op {
    return [from](VValue *v) { return VValueConvert(v, from, VDT_STRING); };
  };
  auto copying = [](const VValue &src, VDataType from) -> Op {
    return [&src, from](VValue *v) {
      return VValueCopyAndConvert(v, VDT_STRING, &src, from);
    };
  };
  auto as_text = [](VValue value, VDataType type) -> Op {
    return [=](VValue *v) {
      return VValueToStringWith(value, type, &v->stringValue.text,
                                vantrel::internal::Strdup);
    };
  };
  // A huge real's text goes to the heap, a boolean's stays on the stack.
  const VValue real = Real(1e308).value, yes = Bool(1).value;
  const VValue text = Str("12345", 5), blank = Garbage(VDT_INVALID).value;
  const std::pair<VValue, Op> ops[] = {
      {real, in_place(VDT_REAL)},
      {yes, in_place(VDT_BOOLEAN)},
      {blank, copying(real, VDT_REAL)},
      {blank, copying(yes, VDT_BOOLEAN)},
      {blank, copying(text, VDT_STRING)},
      {blank, as_text(real, VDT_REAL)},
      {blank, as_text(Bin("\x01", 1), VDT_BINARY)},
      {blank, [](VValue *v) { return VValueSetDefault(v, VDT_STRING, 1); }},
      {blank, [&](VValue *v) {
         return VValueCopyWith(v, text, VDT_STRING, vtest::FunnelMalloc);
       }}};
  for (const auto &entry : ops) {
    // Plain names: clang 14 lambdas cannot capture structured bindings.
    const VValue &start = entry.first;
    const auto &op = entry.second;
    vtest::SweepAllocations([&](vtest::Fault &f) {
      VValue cell = start;
      f.Arm();
      VRC rc = op(&cell);
      EXPECT_EQ(rc, f.Disarm() ? ENOMEM : 0);
      EXPECT_TRUE(rc == 0 || Same(cell, start));
      if (rc == 0) free(cell.stringValue.text);
    });
  }
}

}  // namespace
