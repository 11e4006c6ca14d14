#include <errno.h>
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/alloc_sweep.h"
#include "vantrel/vhash.h"
#include "vantrel/vrc.h"
#include "vantrel/vvalue.h"

namespace {

VTypedValue Typed(VDataType type, uint64_t bits, const char *bytes = nullptr) {
  VTypedValue t;
  memset(&t, 0, sizeof t);
  t.type = type;
  t.value.unsigned64Value = bits;
  if (type == VDT_STRING) {  // a heap copy; bits give the length word
    t.value.stringValue.text = strdup(bytes != nullptr ? bytes : "");
    t.value.stringValue.length = static_cast<uint32_t>(bits);
  } else if (type == VDT_BINARY) {
    t.value.binaryValue.data = const_cast<char *>(bytes);
  }
  return t;
}

VTypedValue Text(const char *text) {
  return Typed(VDT_STRING, strlen(text), text);
}

TEST(VTypedValueTest, CompareConvertAndFree) {
  // The first operand's type rules: a text cell holding 5 compares as 5.
  VTypedValue five = Typed(VDT_INTEGER, 5), text_five = five;
  text_five.type = VDT_STRING;
  EXPECT_EQ(VTypedValueComp(five, text_five), 0);
  VTypedValue t = Text("12");
  ASSERT_EQ(VTypedValueConvert(&t, VDT_INTEGER), 0);  // the text is freed
  EXPECT_TRUE(t.type == VDT_INTEGER && t.value.integerValue == 12);
  VTypedValue before = t, big = Text("99999999999");
  EXPECT_EQ(VTypedValueConvert(&t, VDT_BINARY), VRC_TYPE_MISMATCH);
  EXPECT_EQ(memcmp(&t, &before, sizeof t), 0);
  EXPECT_EQ(VTypedValueConvert(&big, VDT_INTEGER), ERANGE);
  char *out = nullptr;
  ASSERT_EQ(VTypedValueToString(&big, &out), 0);
  EXPECT_STREQ(out, "99999999999");
  free(out);
  // Only texts and binary data are released, and only when present.
  static std::vector<void *> released;
  char data[] = "d";
  VTypedValue owned[] = {big, Typed(VDT_BINARY, 1, data), Typed(VDT_BINARY, 0),
                         Typed(VDT_REAL, 99)};
  for (VTypedValue &v : owned) {
    VTypedValueFreeValueWith(&v, [](void *p) { released.push_back(p); });
  }
  EXPECT_EQ(released, (std::vector<void *>{big.value.stringValue.text, data}));
  VTypedValueFreeValue(&big);
  VTypedValue fresh = Typed(VDT_STRING, 0, "");
  VTypedValueFreeValue(&fresh);
  ASSERT_EQ(VTypedValueSetDefault(&fresh, 1), 0);
  VTypedValueFreeValue(&fresh);  // an allocated empty text
}

// ---- Named values ----

VNamedValue *Create(const char *name, const VTypedValue &t) {
  return VNamedValueCreateFromTypedValue(name, &t, malloc, free);
}

TEST(VNamedValueTest, CreateAndCopyOwnTheirData) {
  char data[] = "\x01\x02\x03";
  VNamedValue *source = Create("blob", Typed(VDT_BINARY, 3, data));
  ASSERT_NE(source, nullptr);
  EXPECT_STREQ(source->name, "blob");
  EXPECT_TRUE(source->type == VDT_BINARY && source->ownerWord == 0);
  EXPECT_NE(source->value.binaryValue.data, data);
  source->ownerWord = 42;
  VNamedValue *copy = VNamedValueCopy(source, malloc, free);
  ASSERT_NE(copy, nullptr);
  EXPECT_TRUE(copy->ownerWord == 42 && copy->name != source->name);
  VNamedValueDestroy(source, free);  // the copy keeps its own data
  EXPECT_EQ(copy->value.binaryValue.length, 3u);
  EXPECT_EQ(memcmp(copy->value.binaryValue.data, data, 3), 0);
  VNamedValueDestroy(copy, free);

  VTypedValue text = Typed(VDT_STRING, 2, "value");  // length word as given
  VNamedValue *named = Create("t", text);
  EXPECT_NE(named->value.stringValue.text, text.value.stringValue.text);
  EXPECT_STREQ(named->value.stringValue.text, "value");
  EXPECT_EQ(named->value.stringValue.length, 2u);
  VNamedValueDestroy(named, free);
  VTypedValueFreeValue(&text);
  // Scalars take only their width; no data for an empty binary value.
  named = Create("s", Typed(VDT_SHORT, 0xFFFFFFFFFFFF0007u));
  EXPECT_EQ(named->value.unsigned64Value, 7u);
  VNamedValueDestroy(named, free);
  named = Create("e", Typed(VDT_BINARY, 0, data));
  EXPECT_EQ(named->value.binaryValue.data, nullptr);
  VNamedValueDestroy(named, free);
}

TEST(VNamedValueTest, SetValueKeepsTheRecordsType) {
  VTypedValue old_text = Text("old"), new_text = Text("new");
  VNamedValue *named = Create("n", old_text);
  ASSERT_EQ(VNamedValueSetTypedValue(named, &new_text), 0);
  EXPECT_NE(named->value.stringValue.text, new_text.value.stringValue.text);
  char *out = nullptr;
  ASSERT_EQ(VNamedValueToString(named, &out), 0);
  EXPECT_STREQ(out, "new");
  free(out);
  VNamedValueDestroy(named, free);
  VTypedValueFreeValue(&old_text);
  VTypedValueFreeValue(&new_text);

  VValue wide;
  wide.unsigned64Value = 0x1234567800000009u;
  for (VDataType type : {2, 11}) {  // unknown types copy no value
    named = Create("i", Typed(type, 1));
    ASSERT_EQ(VNamedValueSetValue(named, &wide), 0);
    EXPECT_EQ(named->value.unsigned64Value, type == VDT_INTEGER ? 9u : 0u);
    named->value.unsigned64Value = 0x700000007u;
    ASSERT_EQ(VNamedValueSetDefault(named, 0), 0);
    EXPECT_EQ(named->value.unsigned64Value,
              type == 11 ? 0x700000007u : 0x700000000u);
    VNamedValueDestroy(named, free);
  }
}

TEST(VNamedValueTest, HashAndCompareByName) {
  VNamedValue *lower = Create("port", Typed(VDT_INTEGER, 1));
  VNamedValue *upper = Create("PORT", Typed(VDT_INTEGER, 2));
  EXPECT_EQ(VNamedValueCIComp(lower, upper, nullptr), 0);
  EXPECT_EQ(VNamedValueCIHash(lower, nullptr), VNamedValueCIHash(upper, 0));
  EXPECT_NE(VNamedValueComp(lower, upper, nullptr), 0);
  EXPECT_EQ(VNamedValueHash(lower, nullptr), VHashString2("port", nullptr));
  // A pointer to a variable holding a name serves as a key.
  const char *key = "port";
  EXPECT_EQ(VNamedValueComp(&key, lower, nullptr), 0);
  EXPECT_EQ(VNamedValueHash(&key, nullptr), VNamedValueHash(lower, nullptr));
  VNamedValueDestroy(lower, free);
  VNamedValueDestroy(upper, free);
}

TEST(VNamedValueTest, PrintWritesOneLinePerType) {
  VTypedValue real = Typed(VDT_REAL, 0);
  real.value.realValue = 1.5;
  char sixteen[16] = {};
  // clang-format off
  const std::pair<VTypedValue, const char *> cases[] = {
      {Typed(VDT_INTEGER, 4100), "4100"}, {Typed(VDT_SHORT, 0xFFFE), "-2"},
      {Typed(VDT_UNSIGNED, 0xFFFFFFFF), "4294967295"}, {real, "1.500000"},
      {Typed(VDT_BOOLEAN, 7), "TRUE"}, {Typed(VDT_BOOLEAN, 0), "FALSE"},
      {Typed(VDT_UTC, 0xFFFFFFFF), "-1"}, {Text("abc"), "\"abc\""},
      {Typed(VDT_STRING, 5, "abc"), "\"  abc\""},  // the length is the width
      {Typed(VDT_BINARY, 16, sixteen), "16 bytes binary data"},
      {Typed(VDT_INTEGER64, 1ull << 40), "1099511627776"},
      {Typed(VDT_INTEGER64, static_cast<uint64_t>(-5)), "-5"},
      {Typed(VDT_UNSIGNED64, UINT64_MAX), "18446744073709551615"},
      {Typed(VDT_INVALID, 3), ""}};
  // clang-format on
  for (auto [typed, want] : cases) {
    VNamedValue *named = Create("port", typed);
    fflush(stdout);
    testing::internal::CaptureStdout();
    VNamedValuePrint(named);
    fflush(stdout);
    EXPECT_EQ(testing::internal::GetCapturedStdout(),
              std::string("port = ") + want + "\n");
    VNamedValueDestroy(named, free);
    if (typed.type == VDT_STRING) VTypedValueFreeValue(&typed);
  }
}

// The record comes from the swept allocator too, so its failure is covered.
TEST(VNamedValueTest, AllocationFailuresLeaveNothingBehind) {
  char data[] = "bytes";
  VTypedValue values[] = {Text("text"), Typed(VDT_BINARY, 5, data),
                          Typed(VDT_REAL, 1)};
  for (VTypedValue &value : values) {
    vtest::SweepAllocations([&](vtest::Fault &f) {
      f.Arm();
      VNamedValue *named = VNamedValueCreateFromTypedValue(
          "name", &value, vtest::FunnelMalloc, vtest::FunnelFree);
      EXPECT_EQ(named == nullptr, f.Disarm());
      if (named != nullptr) VNamedValueDestroy(named, vtest::FunnelFree);
    });
    VNamedValue *source = Create("name", value);
    vtest::SweepAllocations([&](vtest::Fault &f) {
      f.Arm();
      VNamedValue *copy =
          VNamedValueCopy(source, vtest::FunnelMalloc, vtest::FunnelFree);
      EXPECT_EQ(copy == nullptr, f.Disarm());
      if (copy != nullptr) VNamedValueDestroy(copy, vtest::FunnelFree);
    });
    vtest::SweepAllocations([&](vtest::Fault &f) {
      VNamedValue before = *source;
      f.Arm();
      VRC rc = VNamedValueSetTypedValue(source, &value);
      bool failed = f.Disarm();
      EXPECT_EQ(rc, failed ? ENOMEM : 0);
      EXPECT_TRUE(!failed || memcmp(&before, source, sizeof before) == 0);
    });
    VNamedValueDestroy(source, free);
  }
  VTypedValueFreeValue(&values[0]);
}

}  // namespace
