#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "support/alloc_sweep.h"
#include "vantrel/vtypes.h"
#include "vantrel/vvalue.h"

namespace {

TEST(VTypesTest, DataTypeTableLookups) {
  struct Row {
    const char *name, *lower;
    size_t size;
    char letter;
    VColumnType column;
  };
  // clang-format off
  const Row rows[] = {  // indexed by type number
      {"INVALID", "invalid", 0, 'N', VCT_INVALID}, {"SHORT", "Short", 2, 'T', 11},
      {"INTEGER", "integer", 4, 'I', 0}, {"UNSIGNED", "unsigned", 4, 'D', 12},
      {"BOOLEAN", "boolean", 4, 'B', 13}, {"REAL", "real", 8, 'R', 14},
      {"UTC", "utc", 4, 'U', 1}, {"STRING", "string", sizeof(char *), 'S', 10},
      {"BINARY", "Binary", 4 + sizeof(void *), 'Y', 15},
      {"INTEGER64", "integer64", 8, 'L', 16}, {"UNSIGNED64", "unsigned64", 8, 'K', 17}};
  // clang-format on
  for (VDataType type = 0; type <= 10; ++type) {
    const Row &row = rows[type];
    EXPECT_STREQ(VDataTypeName(type), row.name);
    EXPECT_EQ(VDataTypeSize(type), static_cast<int32_t>(row.size));
    EXPECT_EQ(VDataTypeEncode(type), row.letter);
    EXPECT_EQ(VDataTypeDecode(row.letter), type);
    EXPECT_EQ(VDataTypeToVColumnType(type), row.column);
    EXPECT_EQ(VStringToDataType(row.lower), type);
  }
  for (VDataType unknown : {11, -1, 1000}) {
    EXPECT_STREQ(VDataTypeName(unknown), "****");
    EXPECT_EQ(VDataTypeSize(unknown) + VDataTypeEncode(unknown), 0);
    EXPECT_EQ(VDataTypeToVColumnType(unknown), VCT_INVALID);
  }
  for (const char *text : {"****", "", "INT", "STRING "}) {
    EXPECT_EQ(VStringToDataType(text), VDT_INVALID) << text;
  }
  for (char letter : {'s', 'i', '*', '\0'}) {
    EXPECT_EQ(VDataTypeDecode(letter), VDT_INVALID) << letter;
  }
}

TEST(VTypesTest, ColumnAndStorageTypeTables) {
  // clang-format off
  const std::pair<VDataType, const char *> columns[] = {  // 0 to 18
      {2, "INTEGER"}, {6, "UTC"}, {7, "VARCHAR"}, {0, nullptr}, {0, nullptr},
      {3, "INCR"}, {0, nullptr}, {0, nullptr}, {0, nullptr}, {0, nullptr},
      {7, "CHARACTER"}, {1, "SHORT"}, {3, "UNSIGNED"}, {4, "BOOLEAN"},
      {5, "REAL"}, {8, nullptr}, {9, "INTEGER64"}, {10, "UNSIGNED64"}, {0, nullptr}};
  const std::pair<const char *, VColumnType> spellings[] = {
      {"Int", VCT_INTEGER}, {"varcharacter", VCT_VARCHAR}, {"char", VCT_CHARACTER},
      {"Bool", VCT_BOOLEAN}, {"double", VCT_REAL}, {"int64", VCT_INTEGER64},
      {"BINARY", VCT_INVALID}, {"", VCT_INVALID}, {"INTEGER ", VCT_INVALID}};
  // clang-format on
  for (VColumnType column = 0; column <= 18; ++column) {
    EXPECT_EQ(VColumnTypeToVDataType(column), columns[column].first);
    const char *text = VColumnTypeToString(column);
    EXPECT_EQ(text == nullptr, columns[column].second == nullptr) << column;
    if (text == nullptr) continue;
    EXPECT_STREQ(text, columns[column].second);
    EXPECT_EQ(VStringToColumnType(text), column);
  }
  EXPECT_EQ(VColumnTypeToString(19), VColumnTypeToString(-1));
  for (const auto &[text, column] : spellings) {
    EXPECT_EQ(VStringToColumnType(text), column) << text;
  }
  const char *storage[] = {"", "PERSISTENT", "VIRTUAL", "TEMPORARY"};
  for (VStorageType type = 0; type <= 3; ++type) {
    EXPECT_STREQ(VStorageTypeToString(type), storage[type]);
    EXPECT_EQ(VStringToStorageType(storage[type]), type);
  }
  EXPECT_TRUE(VStorageTypeToString(4) == nullptr &&
              VStorageTypeToString(-1) == nullptr);
  EXPECT_EQ(VStringToStorageType("temp"), VST_TEMPORARY);
  EXPECT_EQ(VStringToStorageType("Virtual"), VST_VIRTUAL);
  EXPECT_EQ(VStringToStorageType("TEMPO"), VST_NONE);
}

TEST(VTypesTest, CompatibilityTableIsExact) {
  const VDataType kWant[11][11] = {
      {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},     {0, 1, 2, 3, 4, 5, 6, 0, 0, 9, 10},
      {0, 2, 2, 3, 4, 5, 6, 0, 0, 9, 10},    {0, 3, 3, 3, 4, 5, 6, 0, 0, 9, 10},
      {0, 4, 4, 4, 4, 4, 4, 0, 0, 4, 4},     {0, 5, 5, 5, 4, 5, 5, 0, 0, 5, 5},
      {0, 6, 6, 6, 4, 5, 6, 0, 0, 6, 6},     {0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0},
      {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},     {0, 9, 9, 9, 4, 5, 6, 0, 0, 9, 10},
      {0, 10, 10, 10, 4, 5, 6, 0, 0, 10, 10}};
  for (VDataType a = 0; a <= 10; ++a) {
    for (VDataType b = 0; b <= 10; ++b) {
      EXPECT_EQ(VDataTypeCompatibilityCheck(a, b), kWant[a][b]) << a << b;
    }
    EXPECT_EQ(VDataTypeCompatibilityCheck(a, 11), VDT_INVALID);
    EXPECT_EQ(VDataTypeCompatibilityCheck(-1, a), VDT_INVALID);
  }
}

// A default with garbage past its first word; texts and binary data point
// at bytes.
VValue Given(VDataType type, uint32_t word, char *bytes = nullptr) {
  VValue v;
  memset(&v, 0x5A, sizeof v);
  v.unsignedValue = word;
  if (type == VDT_STRING) v.stringValue.text = bytes;
  if (type == VDT_STRING) v.stringValue.length = word;
  if (type == VDT_BINARY) v.binaryValue.data = bytes;
  return v;
}

const void *Owned(const VValue &v, VDataType type) {
  return type == VDT_STRING ? v.stringValue.text : v.binaryValue.data;
}

VColumnDef *Create(VColumnType column, const VValue *value) {
  VColumnDef *def = nullptr;
  EXPECT_EQ(VColumnDefCreate("col", {column, 77}, 5, value, malloc, &def), 0);
  return def;
}

TEST(VColumnDefTest, CreateAndCopyEveryColumnType) {
  // From a default of ones: the first 16, 32 or 64 bits (64-bit columns
  // widen the first 32 bits); texts and binary data are copied.
  // clang-format off
  const uint64_t kWant[19] = {
      0xFFFFFFFFu, 0xFFFFFFFFu, 0, 0, 0, 0xFFFFFFFFu, 0, 0, 0, 0, 0, 0xFFFFu,
      0xFFFFFFFFu, 0xFFFFFFFFu, 0x5A5A5A5AFFFFFFFFu, 0, UINT64_MAX, 0xFFFFFFFFu, 0};
  // clang-format on
  char text[] = "abc";
  for (VColumnType column = 0; column <= 18; ++column) {
    SCOPED_TRACE(column);
    VDataType type = VColumnTypeToVDataType(column);
    bool owned = type == VDT_STRING || type == VDT_BINARY;
    VValue given = Given(type, owned ? 3 : 0xFFFFFFFFu, text);
    VColumnDef *src = Create(column, &given), *none = Create(column, nullptr);
    ASSERT_TRUE(src != nullptr && none != nullptr);
    EXPECT_TRUE(strcmp(src->name, "col") == 0 && src->columnType == column);
    EXPECT_TRUE(src->dataType == type && src->typeParam == 77);
    EXPECT_TRUE(src->attributes == 5 && src->extra == 0 && src->owner[0] == 0);
    if (owned) {
      const void *copy = Owned(src->defaultValue, type);
      const void *empty = Owned(none->defaultValue, type);
      EXPECT_EQ(memcmp(copy, "abc", 3 + (type == VDT_STRING)), 0);
      // No default: an allocated empty text, or no binary data.
      EXPECT_EQ(empty == nullptr, type == VDT_BINARY);
      EXPECT_TRUE(empty == nullptr || *static_cast<const char *>(empty) == 0);
    } else {
      EXPECT_EQ(src->defaultValue.unsigned64Value, kWant[column]);
      EXPECT_EQ(none->defaultValue.unsigned64Value, 0u);
    }
    VColumnDef dst{};
    src->extra = 9;
    src->owner[1] = 4;
    ASSERT_EQ(VColumnDefCopy(&dst, src), 0);
    EXPECT_TRUE(dst.extra == 9 && dst.owner[1] == 0);  // owners not copied
    // Columns without a data type have no comparable default.
    EXPECT_EQ(VColumnDefCompare(&dst, src), type != VDT_INVALID);
    if (owned) VColumnDefDestroy(&dst, [](void *) {});  // its own copy
    VColumnDefDestroy(src, free);
    VColumnDefDestroy(none, free);
  }
  VValue empty = Given(VDT_BINARY, 0, text);
  VColumnDef *def = Create(VCT_BINARY, &empty);
  EXPECT_EQ(def->defaultValue.binaryValue.data, nullptr);
  VColumnDefDestroy(def, free);
}

TEST(VColumnDefTest, CompareChecksAllButOwnersAndNamesAreNeverCut) {
  VValue one = Given(VDT_INTEGER, 1);
  VColumnDef *a = Create(VCT_INTEGER, &one);
  void (*changes[])(VColumnDef *) = {
      [](VColumnDef *d) { d->owner[0] = 8; },  // the only field not compared
      [](VColumnDef *d) { d->name[0] = 'C'; },
      [](VColumnDef *d) { d->columnType = VCT_UTC; },
      [](VColumnDef *d) { d->typeParam++; },
      [](VColumnDef *d) { d->attributes++; },
      [](VColumnDef *d) { d->extra++; },
      [](VColumnDef *d) { d->defaultValue.integerValue = 2; }};
  for (auto change : changes) {
    VColumnDef b = *a;
    change(&b);
    EXPECT_EQ(VColumnDefCompare(a, &b), change == changes[0]);
  }
  VColumnDefDestroy(a, free);
  // 44 bytes and more are refused before allocating.
  std::string longest(43, 'n'), too_long(44, 'n');
  vtest::AllocCounter allocations;
  EXPECT_EQ(VColumnDefCreate(too_long.c_str(), {VCT_VARCHAR, 0}, 0, nullptr,
                             vtest::FunnelMalloc, &a),
            EINVAL);
  EXPECT_TRUE(a == nullptr && allocations.count() == 0);
  ASSERT_EQ(
      VColumnDefCreate(longest.c_str(), {VCT_SHORT, 0}, 0, nullptr, malloc, &a),
      0);
  EXPECT_EQ(a->name, longest);
  VColumnDefDestroy(a, free);
}

// Create then copy under one sweep: 12 and nothing left allocated.
TEST(VColumnDefTest, AllocationFailuresLeaveNothingBehind) {
  char text[] = "text";
  VValue str = Given(VDT_STRING, 4, text), bin = Given(VDT_BINARY, 4, text);
  const std::pair<VColumnType, const VValue *> cases[] = {
      {VCT_VARCHAR, &str}, {VCT_VARCHAR, nullptr}, {VCT_BINARY, &bin}};
  for (const auto &entry : cases) {
    // Plain names: clang 14 lambdas cannot capture structured bindings.
    VColumnType column = entry.first;
    const VValue *value = entry.second;
    vtest::SweepAllocations([&](vtest::Fault &f) {
      VColumnDef *def = reinterpret_cast<VColumnDef *>(1), copy{};
      f.Arm();
      VRC rc = VColumnDefCreate("c", {column, 0}, 0, value, vtest::FunnelMalloc,
                                &def);
      VRC copied = rc == 0 ? VColumnDefCopy(&copy, def) : ENOMEM;
      bool failed = f.Disarm();
      EXPECT_TRUE(rc == 0 || (rc == ENOMEM && def == nullptr));
      EXPECT_TRUE(copied == 0 || copied == ENOMEM);
      EXPECT_EQ(failed, copied != 0);
      if (def == nullptr) return;
      EXPECT_EQ(VColumnDefCompare(&copy, def), copied == 0);
      VColumnDefDestroy(&copy, [](void *) {});  // also when partly filled
      VColumnDefDestroy(def, vtest::FunnelFree);
    });
  }
}

}  // namespace
