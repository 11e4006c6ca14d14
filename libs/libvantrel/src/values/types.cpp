// Data type, column type and storage type tables, the compatibility table,
// and column definitions.
#include <errno.h>
#include <string.h>
#include <strings.h>

#include <array>

#include "internal/alloc.h"
#include "values/values.h"
#include "vantrel/vtypes.h"

namespace vantrel::internal {
namespace {

struct DataTypeRow {
  VDataType type;
  int32_t size;
  const char *name;
};

constexpr int32_t kStringSize = sizeof(char *);
constexpr int32_t kBinarySize = 4 + sizeof(void *);
constexpr VDataType kEndOfTypes = 11;

// Searched from the first row; the last row ends the table and answers for
// every unknown type.
constexpr std::array<DataTypeRow, 12> kDataTypes = {{
    {VDT_SHORT, 2, "SHORT"},
    {VDT_INTEGER, 4, "INTEGER"},
    {VDT_INTEGER64, 8, "INTEGER64"},
    {VDT_UNSIGNED, 4, "UNSIGNED"},
    {VDT_UNSIGNED64, 8, "UNSIGNED64"},
    {VDT_BOOLEAN, 4, "BOOLEAN"},
    {VDT_STRING, kStringSize, "STRING"},
    {VDT_REAL, 8, "REAL"},
    {VDT_UTC, 4, "UTC"},
    {VDT_BINARY, kBinarySize, "BINARY"},
    {VDT_INVALID, 0, "INVALID"},
    {kEndOfTypes, 0, "****"},
}};

const DataTypeRow &FindDataType(VDataType type) {
  for (const DataTypeRow &row : kDataTypes) {
    if (row.type == type) return row;
  }
  return kDataTypes.back();
}

// Code letters by type number.
constexpr char kCodeLetters[] = "NTIDBRUSYLK";

constexpr VDataType kColumnToData[] = {
    VDT_INTEGER,  VDT_UTC,       VDT_STRING,     VDT_INVALID, VDT_INVALID,
    VDT_UNSIGNED, VDT_INVALID,   VDT_INVALID,    VDT_INVALID, VDT_INVALID,
    VDT_STRING,   VDT_SHORT,     VDT_UNSIGNED,   VDT_BOOLEAN, VDT_REAL,
    VDT_BINARY,   VDT_INTEGER64, VDT_UNSIGNED64, VDT_INVALID};

constexpr VColumnType kDataToColumn[] = {
    VCT_INVALID, VCT_SHORT,     VCT_INTEGER,   VCT_UNSIGNED,
    VCT_BOOLEAN, VCT_REAL,      VCT_UTC,       VCT_CHARACTER,
    VCT_BINARY,  VCT_INTEGER64, VCT_UNSIGNED64};

constexpr const char *kColumnNames[] = {
    "INTEGER",  "UTC",     "VARCHAR", nullptr, nullptr,     "INCR",
    nullptr,    nullptr,   nullptr,   nullptr, "CHARACTER", "SHORT",
    "UNSIGNED", "BOOLEAN", "REAL",    nullptr, "INTEGER64", "UNSIGNED64"};

struct NamedNumber {
  const char *text;
  int32_t number;
};

// Reading order of column type texts, alternative spellings included.
constexpr NamedNumber kColumnSpellings[] = {
    {"SHORT", VCT_SHORT},          {"INTEGER", VCT_INTEGER},
    {"INT", VCT_INTEGER},          {"INCR", VCT_INCR},
    {"UNSIGNED", VCT_UNSIGNED},    {"BOOLEAN", VCT_BOOLEAN},
    {"BOOL", VCT_BOOLEAN},         {"REAL", VCT_REAL},
    {"DOUBLE", VCT_REAL},          {"UTC", VCT_UTC},
    {"CHARACTER", VCT_CHARACTER},  {"CHAR", VCT_CHARACTER},
    {"VARCHAR", VCT_VARCHAR},      {"VARCHARACTER", VCT_VARCHAR},
    {"INTEGER64", VCT_INTEGER64},  {"INT64", VCT_INTEGER64},
    {"UNSIGNED64", VCT_UNSIGNED64}};

constexpr const char *kStorageNames[] = {"", "PERSISTENT", "VIRTUAL",
                                         "TEMPORARY"};

constexpr NamedNumber kStorageSpellings[] = {{"PERSISTENT", VST_PERSISTENT},
                                             {"VIRTUAL", VST_VIRTUAL},
                                             {"TEMP", VST_TEMPORARY},
                                             {"TEMPORARY", VST_TEMPORARY}};

template <size_t N>
int32_t FindSpelling(const NamedNumber (&table)[N], const char *text,
                     int32_t none) {
  if (text == nullptr) return none;
  for (const NamedNumber &entry : table) {
    if (strcasecmp(text, entry.text) == 0) return entry.number;
  }
  return none;
}

// Rows and columns in type order 0 to 10; 0 means the types never meet.
constexpr VDataType kMeet[11][11] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},     {0, 1, 2, 3, 4, 5, 6, 0, 0, 9, 10},
    {0, 2, 2, 3, 4, 5, 6, 0, 0, 9, 10},    {0, 3, 3, 3, 4, 5, 6, 0, 0, 9, 10},
    {0, 4, 4, 4, 4, 4, 4, 0, 0, 4, 4},     {0, 5, 5, 5, 4, 5, 5, 0, 0, 5, 5},
    {0, 6, 6, 6, 4, 5, 6, 0, 0, 6, 6},     {0, 0, 0, 0, 0, 0, 0, 7, 0, 0, 0},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},     {0, 9, 9, 9, 4, 5, 6, 0, 0, 9, 10},
    {0, 10, 10, 10, 4, 5, 6, 0, 0, 10, 10}};

bool InTypeRange(VDataType type) { return type >= 0 && type <= VDT_UNSIGNED64; }

// ---- Column definitions ----

// The default a new definition of the data type starts with when the
// caller gives none: zero, except for an allocated empty text.
int32_t EmptyDefault(VValue *value, VDataType type) {
  if (type != VDT_STRING) return 0;
  char *text = Strdup("");
  if (text == nullptr) return ENOMEM;
  value->stringValue.text = text;
  value->stringValue.length = 0;
  return 0;
}

// The default of a new definition taken from the caller's cell.  64-bit
// columns take a 32-bit default and widen it.
int32_t GivenDefault(VValue *value, const VValue &given, VDataType type) {
  switch (type) {
    case VDT_INTEGER64:
      value->integer64Value = given.integerValue;
      return 0;
    case VDT_UNSIGNED64:
      value->unsigned64Value = given.unsignedValue;
      return 0;
    case VDT_STRING:
    case VDT_BINARY:
      return CloneOwnedData(value, given, type);
    default:
      CopyScalar(value, given, type);
      return 0;
  }
}

void FillDefinition(VColumnDef *def, const char *name, VColumnTypeInfo info,
                    uint32_t attributes, const VValue &defaultValue) {
  memset(def, 0, sizeof *def);
  strcpy(def->name, name);
  def->columnType = info.columnType;
  def->dataType = VColumnTypeToVDataType(info.columnType);
  def->typeParam = info.typeParam;
  def->attributes = attributes;
  def->defaultValue = defaultValue;
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;

const char *VDataTypeName(VDataType type) {
  return vi::FindDataType(type).name;
}

int32_t VDataTypeSize(VDataType type) { return vi::FindDataType(type).size; }

VDataType VStringToDataType(const char *text) {
  if (text == nullptr) return VDT_INVALID;
  for (const vi::DataTypeRow &row : vi::kDataTypes) {
    if (row.type == vi::kEndOfTypes) break;
    if (strcasecmp(text, row.name) == 0) return row.type;
  }
  return VDT_INVALID;
}

char VDataTypeEncode(VDataType type) {
  return vi::InTypeRange(type) ? vi::kCodeLetters[type] : '\0';
}

VDataType VDataTypeDecode(char letter) {
  if (letter == '\0') return VDT_INVALID;
  const char *found = strchr(vi::kCodeLetters, letter);
  return found != nullptr ? static_cast<VDataType>(found - vi::kCodeLetters)
                          : VDT_INVALID;
}

VDataType VColumnTypeToVDataType(VColumnType columnType) {
  if (columnType < 0 || columnType > VCT_INVALID) return VDT_INVALID;
  return vi::kColumnToData[columnType];
}

VColumnType VDataTypeToVColumnType(VDataType type) {
  return vi::InTypeRange(type) ? vi::kDataToColumn[type] : VCT_INVALID;
}

const char *VColumnTypeToString(VColumnType columnType) {
  if (columnType < 0 || columnType > VCT_UNSIGNED64) return nullptr;
  return vi::kColumnNames[columnType];
}

VColumnType VStringToColumnType(const char *text) {
  return vi::FindSpelling(vi::kColumnSpellings, text, VCT_INVALID);
}

const char *VStorageTypeToString(VStorageType storageType) {
  if (storageType < VST_NONE || storageType > VST_TEMPORARY) return nullptr;
  return vi::kStorageNames[storageType];
}

VStorageType VStringToStorageType(const char *text) {
  return vi::FindSpelling(vi::kStorageSpellings, text, VST_NONE);
}

VRC VColumnDefCreate(const char *name, VColumnTypeInfo typeInfo,
                     uint32_t attributes, const VValue *defaultValue,
                     VAllocFunc alloc, VColumnDef **out) {
  if (out == nullptr || alloc == nullptr) return EINVAL;
  *out = nullptr;
  if (name == nullptr || strlen(name) >= VCOLUMN_NAME_SIZE) return EINVAL;
  // The default's text or data is made first: without a release function
  // for the record, nothing may fail after the record exists.
  VDataType type = VColumnTypeToVDataType(typeInfo.columnType);
  VValue value;
  memset(&value, 0, sizeof value);
  int32_t rc = defaultValue != nullptr
                   ? vi::GivenDefault(&value, *defaultValue, type)
                   : vi::EmptyDefault(&value, type);
  if (rc != 0) return rc;
  auto *def = static_cast<VColumnDef *>(alloc(sizeof(VColumnDef)));
  if (def == nullptr) {
    vi::FreeOwnedData(value, type);
    return ENOMEM;
  }
  vi::FillDefinition(def, name, typeInfo, attributes, value);
  *out = def;
  return 0;
}

VRC VColumnDefCopy(VColumnDef *dst, const VColumnDef *src) {
  if (dst == nullptr || src == nullptr) return EINVAL;
  memcpy(dst->name, src->name, sizeof dst->name);
  dst->columnType = src->columnType;
  dst->dataType = src->dataType;
  dst->typeParam = src->typeParam;
  dst->attributes = src->attributes;
  dst->extra = src->extra;
  if (src->columnType < 0 || src->columnType > VCT_UNSIGNED64) return 0;
  VDataType type = VColumnTypeToVDataType(src->columnType);
  if (type != VDT_STRING && type != VDT_BINARY) {
    dst->defaultValue = src->defaultValue;
    return 0;
  }
  int32_t rc = vi::CloneOwnedData(&dst->defaultValue, src->defaultValue, type);
  if (rc != 0) {
    // The failed pointer is left null so that the record can be destroyed.
    if (type == VDT_STRING) dst->defaultValue.stringValue.text = nullptr;
    if (type == VDT_BINARY) dst->defaultValue.binaryValue.data = nullptr;
  }
  return rc;
}

VRC VColumnDefDestroy(VColumnDef *def, VReleaseFunc release) {
  if (def == nullptr) return 0;
  if (release == nullptr) return EINVAL;
  vi::FreeOwnedData(def->defaultValue, VColumnTypeToVDataType(def->columnType));
  release(def);
  return 0;
}

int VColumnDefCompare(const VColumnDef *a, const VColumnDef *b) {
  if (a == nullptr || b == nullptr) return 0;
  return strncmp(a->name, b->name, sizeof a->name) == 0 &&
         a->columnType == b->columnType && a->typeParam == b->typeParam &&
         a->attributes == b->attributes && a->extra == b->extra &&
         VValueComp(a->defaultValue, b->defaultValue, a->dataType) == 0;
}

VDataType VDataTypeCompatibilityCheck(VDataType first, VDataType second) {
  if (!vi::InTypeRange(first) || !vi::InTypeRange(second)) return VDT_INVALID;
  return vi::kMeet[first][second];
}
