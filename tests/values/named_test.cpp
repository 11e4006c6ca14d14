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

// Texts are heap copies whose length word is `bits`.
VTypedValue Typed(VDataType type, uint64_t bits, const char *bytes = nullptr) {
  VTypedValue t;
  memset(&t, 0, sizeof t);
  t.type = type;
  t.value.unsigned64Value = bits;
  if (type == VDT_STRING) {
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
VNamedValue *Create(const char *name, const VTypedValue &t) {
  return VNamedValueCreateFromValue(name, t.type, &t.value, malloc, free);
}

TEST(VTypedValueTest, CompareConvertAndFree) {
  // The first operand's type rules: a text cell holding 5 compares as 5.
  VTypedValue five = Typed(VDT_INTEGER, 5), text_five = five;
  text_five.type = VDT_STRING;
  EXPECT_EQ(VTypedValueComp(five, text_five), 0);
  VTypedValue t = Text("12");
  ASSERT_EQ(VTypedValueConvert(&t, VDT_INTEGER), 0);  // the text is freed
  EXPECT_TRUE(t.type == VDT_INTEGER && t.value.integerValue == 12);
  VTypedValue before = t;
  EXPECT_EQ(VTypedValueConvert(&t, VDT_BINARY), VRC_TYPE_MISMATCH);
  EXPECT_EQ(memcmp(&t, &before, sizeof t), 0);
  char *out = nullptr;
  ASSERT_EQ(VTypedValueToString(&t, &out), 0);
  EXPECT_STREQ(out, "12");
  free(out);
  ASSERT_EQ(VTypedValueSetDefault(&t, 1), 0);
  EXPECT_EQ(t.value.integerValue, 0);
  // Only texts and binary data are released, and only when present.
  static std::vector<void *> released;
  char data[] = "d";
  VTypedValue owned[] = {Text("x"), Typed(VDT_BINARY, 1, data),
                         Typed(VDT_BINARY, 0), Typed(VDT_REAL, 99)};
  for (VTypedValue &v : owned) {
    VTypedValueFreeValueWith(&v, [](void *p) { released.push_back(p); });
  }
  EXPECT_EQ(released,
            (std::vector<void *>{owned[0].value.stringValue.text, data}));
  VTypedValueFreeValue(&owned[0]);
  ASSERT_EQ(VTypedValueSetDefault(&owned[0], 1), 0);  // allocates the text
  VTypedValueFreeValue(&owned[0]);
}

// Shared texts, names or data would show as invalid or double frees.
TEST(VNamedValueTest, CreateCopyAndSetOwnTheirData) {
  char data[] = "\x01\x02\x03";
  VNamedValue *source = Create("blob", Typed(VDT_BINARY, 3, data));
  ASSERT_NE(source, nullptr);
  EXPECT_STREQ(source->name, "blob");
  EXPECT_TRUE(source->type == VDT_BINARY && source->ownerWord == 0);
  source->ownerWord = 42;
  VNamedValue *copy = VNamedValueCopy(source, malloc, free);
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(copy->ownerWord, 42u);
  VNamedValueDestroy(source, free);  // the copy keeps its own data
  EXPECT_EQ(copy->value.binaryValue.length, 3u);
  EXPECT_EQ(memcmp(copy->value.binaryValue.data, data, 3), 0);
  VNamedValueDestroy(copy, free);
  // No data for an empty binary value.
  VNamedValue *named = Create("e", Typed(VDT_BINARY, 0, data));
  EXPECT_EQ(named->value.binaryValue.data, nullptr);
  VNamedValueDestroy(named, free);

  // Texts are copied with the length word as given; setting copies too.
  VTypedValue text = Typed(VDT_STRING, 2, "value"), other = Text("new");
  named = Create("t", text);
  EXPECT_STREQ(named->value.stringValue.text, "value");
  EXPECT_EQ(named->value.stringValue.length, 2u);
  ASSERT_EQ(VNamedValueSetTypedValue(named, &other), 0);
  char *out = nullptr;
  ASSERT_EQ(VNamedValueToString(named, &out), 0);
  EXPECT_STREQ(out, "new");
  free(out);
  VNamedValueDestroy(named, free);
  VTypedValueFreeValue(&text);
  VTypedValueFreeValue(&other);
  // Scalars are read and written under the record's own type, by its width;
  // unknown types copy nothing.
  VValue wide;
  wide.unsigned64Value = 0x1234567800050009u;
  for (VDataType type : {1, 11}) {  // short and unknown
    named = Create("i", Typed(type, 0xFFFFFFFFFFFF0007u));
    EXPECT_EQ(named->value.unsigned64Value, type == VDT_SHORT ? 7u : 0u);
    ASSERT_EQ(VNamedValueSetValue(named, &wide), 0);
    EXPECT_EQ(named->value.unsigned64Value, type == VDT_SHORT ? 9u : 0u);
    named->value.unsigned64Value = 0x700070007u;
    ASSERT_EQ(VNamedValueSetDefault(named, 0), 0);
    EXPECT_EQ(named->value.unsigned64Value,
              type == 11 ? 0x700070007u : 0x700070000u);
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
  char sixteen[16] = {};
  // clang-format off
  const std::pair<VTypedValue, const char *> cases[] = {
      {Typed(VDT_INTEGER, 4100), "4100"}, {Typed(VDT_SHORT, 0xFFFE), "-2"},
      {Typed(VDT_UNSIGNED, 0xFFFFFFFF), "4294967295"},
      {Typed(VDT_REAL, 0x3FF8000000000000u), "1.500000"},  // 1.5
      {Typed(VDT_BOOLEAN, 7), "TRUE"}, {Typed(VDT_BOOLEAN, 0), "FALSE"},
      {Typed(VDT_UTC, 0xFFFFFFFF), "-1"}, {Text("abc"), "\"abc\""},
      {Typed(VDT_STRING, 5, "abc"), "\"  abc\""},  // the length is the width
      {Typed(VDT_BINARY, 16, sixteen), "16 bytes binary data"},
      {Typed(VDT_INTEGER64, -(1ull << 40)), "-1099511627776"},
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

// Records come from the swept allocator too: null or 12, nothing left over,
// a record whose setting failed unchanged.
TEST(VNamedValueTest, AllocationFailuresLeaveNothingBehind) {
  char data[] = "bytes";
  VTypedValue values[] = {Text("text"), Typed(VDT_BINARY, 5, data),
                          Typed(VDT_REAL, 1)};
  for (VTypedValue &value : values) {
    VNamedValue *source = Create("name", value);
    vtest::SweepAllocations([&](vtest::Fault &f) {
      VNamedValue before = *source;
      f.Arm();
      VNamedValue *made = VNamedValueCreateFromTypedValue(
          "name", &value, vtest::FunnelMalloc, vtest::FunnelFree);
      VNamedValue *copy =
          VNamedValueCopy(source, vtest::FunnelMalloc, vtest::FunnelFree);
      VRC rc = VNamedValueSetTypedValue(source, &value);
      bool failed = f.Disarm();
      EXPECT_EQ(failed, made == nullptr || copy == nullptr || rc != 0);
      EXPECT_TRUE(rc == 0 || (rc == ENOMEM &&
                              memcmp(&before, source, sizeof before) == 0));
      if (made != nullptr) VNamedValueDestroy(made, vtest::FunnelFree);
      if (copy != nullptr) VNamedValueDestroy(copy, vtest::FunnelFree);
    });
    VNamedValueDestroy(source, free);
  }
  VTypedValueFreeValue(&values[0]);
}

// A null record or name sorts before every name and hashes to 0, so the
// compare functions order a table's keys totally; a null value creates a
// zero value; other nulls are refused.
TEST(VNamedValueTest, NullsSortFirstAndRequiredPointersAreRefused) {
  const char *name = "b";
  const char *none = nullptr;
  EXPECT_LT(VNamedValueComp(nullptr, &name, nullptr), 0);
  EXPECT_GT(VNamedValueCIComp(&name, &none, nullptr), 0);
  EXPECT_EQ(VNamedValueComp(&none, nullptr, nullptr), 0);
  EXPECT_EQ(VNamedValueHash(nullptr, nullptr), 0u);
  VNamedValue *nv =
      VNamedValueCreateFromValue("n", VDT_INTEGER, nullptr, malloc, free);
  ASSERT_NE(nv, nullptr);
  EXPECT_EQ(nv->value.integerValue, 0);
  EXPECT_EQ(
      VNamedValueCreateFromValue(nullptr, VDT_INTEGER, nullptr, malloc, free),
      nullptr);
  EXPECT_EQ(VNamedValueSetValue(nv, nullptr), EINVAL);
  EXPECT_EQ(VNamedValueToString(nv, nullptr), EINVAL);
  EXPECT_EQ(VValueConvert(nullptr, VDT_INTEGER, VDT_STRING), EINVAL);
  VNamedValueDestroy(nv, nullptr);  // refused: nv is still whole
  EXPECT_STREQ(nv->name, "n");
  VNamedValueDestroy(nv, free);
}

}  // namespace
