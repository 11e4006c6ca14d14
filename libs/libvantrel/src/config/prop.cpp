// The property manager: definitions, lookups through names and aliases,
// the set pipeline with its callbacks, and the accessors.
#include <errno.h>
#include <stdarg.h>
#include <string.h>
#include <strings.h>

#include <bit>

#include "config/prop_internal.h"
#include "core/retcode.h"
#include "internal/alloc.h"
#include "internal/scope.h"
#include "values/values.h"
#include "vantrel/venv.h"
#include "vantrel/vi18n.h"
#include "vantrel/vlog.h"
#include "vantrel/vrc.h"
#include "vantrel/vtypes.h"

namespace vi = vantrel::internal;

namespace vantrel::internal {
namespace {

// Both tables have a fixed 127 chains: the walk order of an unsorted walk
// is that of these chains.
constexpr uint32_t kBuckets = 127;
// A table of this many items gets an index (chains of about half their
// length have been walked by then).
constexpr uint32_t kIndexFrom = 64;

constexpr char kCheckNames[] = "Props.CheckNames";
constexpr char kCheckNamesText[] =
    "Cause program to abort if any property is not understood at the time "
    "it is read";
constexpr char kDefaultGroup[] = "Default";

// What a null text stands for; never written.
char g_emptyText[] = "";

struct CallbackRecord {
  VPropertyCallback function;
  void *argument;
};

// The table hashes names with VHashStringIC into 127 chains and compares
// them ignoring case; the hash is kept in each item (and in the key), so
// that a search compares names only where the hashes agree.
uint32_t StoredHash(const void *item) {
  uint32_t hash = 0;
  memcpy(&hash, static_cast<const char *>(item) + offsetof(NameHead, hash),
         sizeof hash);
  return hash;
}

uint32_t NameHash(const void *item, void *) { return StoredHash(item); }

int NameCompare(const void *a, const void *b, void *) {
  if (StoredHash(a) != StoredHash(b)) return 1;
  return VNamedValueCIComp(a, b, nullptr);
}

bool TableInit(NameTable *table) {
  table->slots = nullptr;
  table->capacity = 0;
  table->hash = VHashCreateWith(Malloc, kBuckets, NameHash, nullptr,
                                NameCompare, nullptr);
  return table->hash != nullptr;
}

void TableRelease(NameTable *table) {
  Free(table->slots);
  table->slots = nullptr;
  table->capacity = 0;
}

const char *ItemName(const void *item) {
  const char *name = nullptr;
  memcpy(&name, item, sizeof name);
  return name;
}

// The home slot of a hash: its high bits after a multiplication by the
// golden ratio, because the name hash differs mostly in its low bits for
// names that differ at the end, and probing would run in clusters.
uint32_t HomeSlot(uint32_t hash, uint32_t capacity) {
  return (hash * 2654435769u) >> (32 - std::countr_zero(capacity));
}

void IndexPut(void **slots, uint32_t capacity, void *item) {
  uint32_t mask = capacity - 1;
  uint32_t i = HomeSlot(StoredHash(item), capacity);
  while (slots[i] != nullptr) i = (i + 1) & mask;
  slots[i] = item;
}

int IndexPutVisit(void *item, void *argument) {
  auto *table = static_cast<NameTable *>(argument);
  IndexPut(table->slots, table->capacity, item);
  return 0;
}

// Makes room in the index for one more item (at most three quarters full),
// building it once the table is big enough to need one.  0 or ENOMEM, with
// the table unchanged.
VRC TableReserve(NameTable *table) {
  uint32_t count = VHashNumItems(table->hash) + 1;
  if (count < kIndexFrom) return 0;
  if (table->capacity != 0 && count * 4 <= table->capacity * 3) return 0;
  uint32_t capacity =
      table->capacity == 0 ? kIndexFrom * 2 : table->capacity * 2;
  auto **slots = static_cast<void **>(Calloc(capacity, sizeof(void *)));
  if (slots == nullptr) return ENOMEM;
  Free(table->slots);
  table->slots = slots;
  table->capacity = capacity;
  VHashWalk(table->hash, IndexPutVisit, table, 0, nullptr);
  return 0;
}

// Inserts an item whose room TableReserve made.
void TableInsert(NameTable *table, void *item) {
  uint32_t hash = VHashStringIC(ItemName(item), nullptr);
  memcpy(static_cast<char *>(item) + offsetof(NameHead, hash), &hash,
         sizeof hash);
  VHashInsert(table->hash, item);
  if (table->capacity != 0) IndexPut(table->slots, table->capacity, item);
}

// Takes the item out of the chains and the index; linear probing closes
// the gap by moving later entries back.
void TableDelete(NameTable *table, void *item) {
  VHashDelete(table->hash, item);
  if (table->capacity == 0) return;
  uint32_t mask = table->capacity - 1;
  uint32_t i = HomeSlot(StoredHash(item), table->capacity);
  while (table->slots[i] != item) i = (i + 1) & mask;
  for (uint32_t j = (i + 1) & mask; table->slots[j] != nullptr;
       j = (j + 1) & mask) {
    uint32_t home = HomeSlot(StoredHash(table->slots[j]), table->capacity);
    // The entry at j may fill the gap at i when its home is not in (i, j].
    bool movable = i <= j ? (home <= i || home > j) : (home <= i && home > j);
    if (movable) {
      table->slots[i] = table->slots[j];
      i = j;
    }
  }
  table->slots[i] = nullptr;
}

template <typename T>
T *TableFind(const NameTable &table, const char *name) {
  // Most managers have no aliases: their table need not hash the name.
  if (VHashNumItems(table.hash) == 0) return nullptr;
  NameHead key{const_cast<char *>(name), VHashStringIC(name, nullptr)};
  if (table.capacity == 0) {
    return static_cast<T *>(VHashFind(table.hash, &key));
  }
  uint32_t mask = table.capacity - 1;
  for (uint32_t i = HomeSlot(key.hash, table.capacity);
       table.slots[i] != nullptr; i = (i + 1) & mask) {
    if (NameCompare(table.slots[i], &key, nullptr) == 0) {
      return static_cast<T *>(table.slots[i]);
    }
  }
  return nullptr;
}

// Descriptions are often empty (every property a file creates): those
// share one empty text instead of a copy each.
char *CopyDescription(const char *description) {
  if (description == nullptr || description[0] == '\0') return g_emptyText;
  return Strdup(description);
}

void FreeDescription(char *description) {
  if (description != g_emptyText) Free(description);
}

void FreeProperty(VProperty property) {
  Free(property->name);
  FreeDescription(property->description);
  FreeOwnedData(property->value, property->type);
  VPropertyRemoveAllCallbacks(property);
  VHashFree(property);
}

int FreePropertyVisit(void *item, void *) {
  FreeProperty(static_cast<VProperty>(item));
  return 0;
}

void FreeAlias(AliasRecord *alias) {
  Free(alias->alias);
  VHashFree(alias);
}

int FreeAliasVisit(void *item, void *) {
  FreeAlias(static_cast<AliasRecord *>(item));
  return 0;
}

int FreeIncludeVisit(void *item, void *) {
  Free(static_cast<IncludeRecord *>(item)->text);
  VListFree(item);
  return 0;
}

int FreeListItem(void *item, void *) {
  VListFree(item);
  return 0;
}

// The caller's value with a null text read as the empty text.
VTypedValue Normalised(const VTypedValue &value) {
  VTypedValue out = value;
  if (out.type == VDT_STRING && out.value.stringValue.text == nullptr) {
    out.value.stringValue.text = g_emptyText;
    out.value.stringValue.length = 0;
  }
  return out;
}

// The first value of a new property, owned by the property.  A text's
// length is measured rather than trusted.
VRC CopyFirstValue(const VTypedValue &given, uint32_t flags, VValue *out) {
  *out = ZeroValue();
  if (given.type == VDT_STRING) {
    const char *text = given.value.stringValue.text;
    char *copy = nullptr;
    if ((flags & VPROP_FLAG_EXPAND) != 0) {
      VRC rc = VEnvExpandString(text, &copy);
      if (rc != 0) return rc;
    } else {
      copy = Strdup(text);
      if (copy == nullptr) return ENOMEM;
    }
    out->stringValue.text = copy;
    out->stringValue.length = static_cast<uint32_t>(strlen(copy));
    return 0;
  }
  if (given.type == VDT_BINARY && given.value.binaryValue.length > 0 &&
      given.value.binaryValue.data == nullptr) {
    return EINVAL;
  }
  if (CloneOwnedData(out, given.value, given.type) != 0) return ENOMEM;
  CopyScalar(out, given.value, given.type);
  return 0;
}

// DefineProperty for a name known to be free.
VRC AddProperty(VPropMgr manager, const char *name, const char *description,
                const VTypedValue &firstValue, uint32_t flags, VProperty *out) {
  if (!IsKnownDataType(firstValue.type)) return VRC_INVALID_DATATYPE;
  VTypedValue given = Normalised(firstValue);
  auto *property =
      static_cast<VProperty>(VHashAlloc(sizeof(struct VPropertyData)));
  if (property == nullptr) return ENOMEM;
  memset(property, 0, sizeof *property);
  ScopeExit release([property] {
    Free(property->name);
    FreeDescription(property->description);
    VHashFree(property);
  });
  property->owner = manager;
  property->order = -1;
  property->name = Strdup(name);
  property->description = CopyDescription(description);
  if (property->name == nullptr || property->description == nullptr ||
      TableReserve(&manager->properties) != 0) {
    return ENOMEM;
  }
  strcpy(property->group, kDefaultGroup);
  property->flags = flags;
  property->type = given.type;
  VRC rc = CopyFirstValue(given, flags, &property->value);
  if (rc != 0) return rc;
  release.Dismiss();
  TableInsert(&manager->properties, property);
  ConfigLog(VLOG_DEBUG, "Added property %s", property->name);
  if (out != nullptr) *out = property;
  return 0;
}

VRC DefineProperty(VPropMgr manager, const char *name, const char *description,
                   const VTypedValue &firstValue, uint32_t flags,
                   VProperty *out) {
  if (VPropMgrFind(manager, name) != nullptr) return VRC_PROP_EXISTS;
  return AddProperty(manager, name, description, firstValue, flags, out);
}

// Runs the callbacks in order; the first veto is returned.  The successor
// is read first, so a callback may remove itself.
VRC RunCallbacks(VProperty property, const VTypedValue &newValue) {
  if (property->callbacks == nullptr) return 0;
  void *item = VListFirst(property->callbacks);
  while (item != nullptr) {
    void *next = VListNext(item);
    const auto *record = static_cast<const CallbackRecord *>(item);
    VRC rc = record->function(property, &newValue, record->argument);
    if (rc != 0) return rc;
    item = next;
  }
  return 0;
}

// Stores a converted value; a text of the conversion becomes the
// property's own (expanded first when the property asks for it).
VRC StoreValue(VProperty property, VValue converted) {
  if (property->type != VDT_STRING) {
    property->value = converted;
    return 0;
  }
  char *text = converted.stringValue.text;
  if ((property->flags & VPROP_FLAG_EXPAND) != 0) {
    char *expanded = nullptr;
    VRC rc = VEnvExpandString(text, &expanded);
    Free(text);
    if (rc != 0) return rc;
    text = expanded;
  }
  Free(property->value.stringValue.text);
  property->value.stringValue.text = text;
  property->value.stringValue.length = static_cast<uint32_t>(strlen(text));
  return 0;
}

VRC SetProperty(VProperty property, const VTypedValue &value, bool callbacks) {
  if ((property->flags & VPROP_FLAG_READONLY) != 0) return VRC_PROP_READ_ONLY;
  VTypedValue given = Normalised(value);
  if (VDataTypeCompatibilityCheck(property->type, given.type) == VDT_INVALID) {
    return VRC_TYPE_MISMATCH;
  }
  VValue converted{};
  VRC rc = VValueCopyAndConvert(&converted, property->type, &given.value,
                                given.type);
  if (rc != 0) return rc;
  if (callbacks) {
    rc = RunCallbacks(property, VTypedValue{property->type, converted});
    if (rc != 0) {
      FreeOwnedData(converted, property->type);
      return rc;
    }
  }
  return StoreValue(property, converted);
}

// A copy of the property's value for the caller: text measured anew.
VRC CopyValueOut(VProperty property, VTypedValue *out) {
  VValue copy{};
  if (property->type == VDT_STRING) {
    copy.stringValue.text = Strdup(property->value.stringValue.text);
    if (copy.stringValue.text == nullptr) return ENOMEM;
    copy.stringValue.length =
        static_cast<uint32_t>(strlen(copy.stringValue.text));
  } else if (CloneOwnedData(&copy, property->value, property->type) != 0) {
    return ENOMEM;
  } else {
    CopyScalar(&copy, property->value, property->type);
  }
  out->type = property->type;
  out->value = copy;
  return 0;
}

// The built-in callback of "Props.CheckNames": checking names is the
// opposite of creating unknown properties on the fly.
VRC CheckNamesChanged(VProperty, const VTypedValue *newValue, void *argument) {
  auto *manager = static_cast<VPropMgr>(argument);
  if (newValue->value.booleanValue != 0) {
    manager->flags &= ~VPROPMGR_FLAG_DYNAMIC;
  } else {
    manager->flags |= VPROPMGR_FLAG_DYNAMIC;
  }
  return 0;
}

VRC DefineCheckNames(VPropMgr manager) {
  char description[1024];
  VI18nMessageGet(LibraryCatalog(), 0, 0, kCheckNamesText, description,
                  sizeof description);
  VTypedValue first{VDT_BOOLEAN, VValue{}};
  first.value.booleanValue =
      (manager->flags & VPROPMGR_FLAG_DYNAMIC) != 0 ? 0 : 1;
  VProperty property = nullptr;
  VRC rc = DefineProperty(manager, kCheckNames, description, first,
                          VPROP_FLAG_CHECKNAMES, &property);
  if (rc != 0) return rc;
  return VPropertyAddCallback(property, CheckNamesChanged, manager);
}

}  // namespace

void ConfigLog(int level, const char *format, ...) {
  va_list args;
  va_start(args, format);
  // Sets 101 (fatal) to 105 (debug) hold the messages without a number.
  VLogAP(level, 1, LibraryCatalog(), VLOG_SET_FATAL + VLOG_FATAL - level, 0,
         format, args);
  va_end(args);
}

VProperty FindQuietly(VPropMgr manager, const char *name) {
  VProperty property = TableFind<VPropertyData>(manager->properties, name);
  if (property != nullptr) return property;
  AliasRecord *alias = TableFind<AliasRecord>(manager->aliases, name);
  return alias != nullptr ? alias->property : nullptr;
}

VRC SetValueByName(VPropMgr manager, const char *name, const VTypedValue *value,
                   bool callbacks, VProperty *set) {
  if (manager == nullptr || name == nullptr || value == nullptr) return EINVAL;
  VProperty property = VPropMgrFind(manager, name);
  if (property == nullptr) {
    if ((manager->flags & VPROPMGR_FLAG_DYNAMIC) == 0) {
      return VRC_PROP_NOT_FOUND;
    }
    ConfigLog(VLOG_INFO, "Dynamically creating property \"%s\"", name);
    VRC rc =
        AddProperty(manager, name, "", *value, VPROP_FLAG_EXPAND, &property);
    if (rc != 0) return rc;
    if (set != nullptr) *set = property;
    // The new property holds the value already, as its first: setting it
    // again would give the same.  Only a type that no value can be set on
    // (binary) is refused, and the property stays.
    return VDataTypeCompatibilityCheck(property->type, property->type) ==
                   VDT_INVALID
               ? VRC_TYPE_MISMATCH
               : 0;
  }
  if (set != nullptr) *set = property;
  return SetProperty(property, *value, callbacks);
}

void MarkSetByFile(VProperty property, int32_t line, bool topLevel) {
  property->specified = 1;
  property->order = topLevel ? line : -1;
}

VRC AppendInclude(VPropMgr manager, const char *text, int32_t line) {
  auto *record =
      static_cast<IncludeRecord *>(VListAlloc(sizeof(IncludeRecord)));
  if (record == nullptr) return ENOMEM;
  record->text = Strdup(text);
  if (record->text == nullptr) {
    VListFree(record);
    return ENOMEM;
  }
  record->line = line;
  record->written = false;
  VListInsertAfter(manager->includes, record, VListTail(manager->includes));
  return 0;
}

}  // namespace vantrel::internal

// ---- Managers.

VRC VPropMgrCreateWithFlags(VPropMgr *out, uint32_t flags) {
  if (out == nullptr) return EINVAL;
  *out = nullptr;
  auto *manager =
      static_cast<VPropMgr>(vi::Calloc(1, sizeof(struct VPropMgrData)));
  if (manager == nullptr) return ENOMEM;
  vi::ScopeExit release([manager] { VPropMgrDestroy(manager); });
  manager->flags = flags;
  manager->includes = VListCreateWith(vi::Malloc);
  if (!vi::TableInit(&manager->properties) ||
      !vi::TableInit(&manager->aliases) || manager->includes == nullptr) {
    return ENOMEM;
  }
  VRC rc = vi::DefineCheckNames(manager);
  if (rc != 0) return rc;
  release.Dismiss();
  *out = manager;
  return 0;
}

VRC VPropMgrDestroy(VPropMgr manager) {
  if (manager == nullptr) return 0;
  if (manager->properties.hash != nullptr) {
    VHashDestroyWith(manager->properties.hash, vi::FreePropertyVisit, nullptr,
                     vi::Free);
  }
  vi::TableRelease(&manager->properties);
  vi::TableRelease(&manager->aliases);
  if (manager->aliases.hash != nullptr) {
    VHashDestroyWith(manager->aliases.hash, vi::FreeAliasVisit, nullptr,
                     vi::Free);
  }
  if (manager->includes != nullptr) {
    VListDestroyWith(manager->includes, vi::FreeIncludeVisit, nullptr,
                     vi::Free);
  }
  VDataCryptCipherContextDestroy(manager->cipher);
  vi::Free(manager);
  return 0;
}

VProperty VPropMgrFind(VPropMgr manager, const char *name) {
  if (manager == nullptr || name == nullptr) return nullptr;
  VProperty property = vi::TableFind<VPropertyData>(manager->properties, name);
  if (property != nullptr) return property;
  auto *alias = vi::TableFind<vi::AliasRecord>(manager->aliases, name);
  if (alias == nullptr) return nullptr;
  vi::ConfigLog(VLOG_WARN,
                "Accessing property %s via alias %s - this alias may be "
                "removed in a future version",
                alias->property->name, alias->alias);
  return alias->property;
}

int VPropMgrExists(VPropMgr manager, const char *name) {
  return VPropMgrFind(manager, name) != nullptr ? 1 : 0;
}

int VPropMgrWalk(VPropMgr manager, VVisitFunc visitor, void *argument,
                 int sorted) {
  if (manager == nullptr || visitor == nullptr) return EINVAL;
  return VHashWalk(manager->properties.hash, visitor, argument, sorted,
                   VNamedValueCIComp);
}

// ---- Defining.

VRC VPropMgrDefineWithFlags(VPropMgr manager, const char *name,
                            const char *description,
                            const VTypedValue *defaultValue, uint32_t flags) {
  if (manager == nullptr || name == nullptr || defaultValue == nullptr) {
    return EINVAL;
  }
  return vi::DefineProperty(manager, name, description, *defaultValue, flags,
                            nullptr);
}

VRC VPropMgrTableDefine(VPropMgr manager, const VPropTableRow *rows,
                        int32_t count) {
  if (manager == nullptr || rows == nullptr || count < 0) return EINVAL;
  for (int32_t i = 0; i < count; ++i) {
    const VPropTableRow &row = rows[i];
    VTypedValue first{row.type,
                      row.value != nullptr ? *row.value : vi::ZeroValue()};
    VRC rc = VPropMgrDefineWithFlags(manager, row.name, row.description, &first,
                                     row.flags);
    if (rc != 0) return rc;
    if (row.group != nullptr) VPropMgrSetGroup(manager, row.name, row.group);
  }
  return 0;
}

VRC VPropMgrUndefine(VPropMgr manager, const char *name) {
  if (manager == nullptr || name == nullptr) return EINVAL;
  VProperty property = vi::TableFind<VPropertyData>(manager->properties, name);
  if (property == nullptr) return VRC_PROP_NOT_FOUND;
  VHashCursor *cursor = VHashCursorOpen(manager->aliases.hash);
  if (cursor == nullptr) return ENOMEM;
  while (void *item = VHashCursorNext(cursor)) {
    auto *alias = static_cast<vi::AliasRecord *>(item);
    if (alias->property != property) continue;
    vi::TableDelete(&manager->aliases, alias);
    vi::FreeAlias(alias);
  }
  VHashCursorClose(cursor);
  vi::TableDelete(&manager->properties, property);
  vi::ConfigLog(VLOG_DEBUG, "Removed property %s", property->name);
  vi::FreeProperty(property);
  return 0;
}

// ---- Setting and getting.

VRC VPropMgrSetValue(VPropMgr manager, const char *name,
                     const VTypedValue *value) {
  return vi::SetValueByName(manager, name, value, true, nullptr);
}

VRC VPropMgrSetValueForWrite(VPropMgr manager, const char *name,
                             const VTypedValue *value) {
  VProperty property = nullptr;
  VRC rc = vi::SetValueByName(manager, name, value, true, &property);
  if (rc == 0 && property->order < 0) property->order = vi::kOrderForWrite;
  return rc;
}

VRC VPropertySetValue(VProperty property, const VTypedValue *value) {
  if (property == nullptr || value == nullptr) return EINVAL;
  return vi::SetProperty(property, *value, true);
}

VRC VPropertySetValueSave(VProperty property, const VTypedValue *value,
                          int32_t save) {
  VRC rc = VPropertySetValue(property, value);
  if (rc == 0 && save == 1 && property->order < 0) {
    property->order = vi::kOrderForWrite;
  }
  return rc;
}

VRC VPropertyGetValue(VProperty property, VTypedValue *out) {
  if (property == nullptr || out == nullptr) return EINVAL;
  return vi::CopyValueOut(property, out);
}

VRC VPropMgrGetValue(VPropMgr manager, const char *name, VTypedValue *out) {
  if (manager == nullptr || name == nullptr || out == nullptr) return EINVAL;
  VProperty property = VPropMgrFind(manager, name);
  if (property == nullptr) return VRC_PROP_NOT_FOUND;
  return vi::CopyValueOut(property, out);
}

VRC VPropMgrGetStringValue(VPropMgr manager, const char *name, char **out) {
  if (out == nullptr) return EINVAL;
  VTypedValue value{};
  VRC rc = VPropMgrGetValue(manager, name, &value);
  if (rc != 0) return rc;
  rc = VTypedValueToString(&value, out);
  VTypedValueFreeValue(&value);
  return rc;
}

// ---- Accessors.

const char *VPropertyGetName(VProperty property) {
  return property != nullptr ? property->name : nullptr;
}

const char *VPropertyGetDescription(VProperty property) {
  return property != nullptr ? property->description : nullptr;
}

VDataType VPropertyGetType(VProperty property) {
  return property != nullptr ? property->type : VDT_INVALID;
}

uint32_t VPropertyGetFlags(VProperty property) {
  return property != nullptr ? property->flags : 0;
}

void VPropertySetFlags(VProperty property, uint32_t flags) {
  if (property != nullptr) property->flags = flags;
}

int32_t VPropertyWasSpecified(VProperty property) {
  return property != nullptr ? property->specified : 0;
}

void VPropertySetWasSpecified(VProperty property, int32_t value) {
  if (property != nullptr) property->specified = value;
}

int32_t VPropertyWasEncrypted(VProperty property) {
  return property != nullptr ? property->wasEncrypted : 0;
}

const char *VPropertyGetGroup(VProperty property) {
  return property != nullptr ? property->group : nullptr;
}

void VPropertySetGroup(VProperty property, const char *group) {
  if (property == nullptr || group == nullptr) return;
  strncpy(property->group, group, VPROP_GROUP_SIZE);
  property->group[VPROP_GROUP_SIZE] = '\0';
}

VRC VPropMgrSetGroup(VPropMgr manager, const char *name, const char *group) {
  if (manager == nullptr || name == nullptr || group == nullptr) return EINVAL;
  VProperty property = VPropMgrFind(manager, name);
  if (property == nullptr) return VRC_NOT_FOUND;
  VPropertySetGroup(property, group);
  return 0;
}

// ---- Callbacks.

VRC VPropertyAddCallback(VProperty property, VPropertyCallback function,
                         void *argument) {
  if (property == nullptr || function == nullptr) return EINVAL;
  bool made = property->callbacks == nullptr;
  if (made) {
    property->callbacks = VListCreateWith(vi::Malloc);
    if (property->callbacks == nullptr) return ENOMEM;
  }
  auto *record =
      static_cast<vi::CallbackRecord *>(VListAlloc(sizeof(vi::CallbackRecord)));
  if (record == nullptr) {
    // The property is left as it was: without a list if it had none.
    if (made) {
      VListDestroyWith(property->callbacks, nullptr, nullptr, vi::Free);
      property->callbacks = nullptr;
    }
    return ENOMEM;
  }
  record->function = function;
  record->argument = argument;
  VListInsertAfter(property->callbacks, record, VListTail(property->callbacks));
  vi::ConfigLog(VLOG_DEBUG, "Added callback %p for property %s",
                reinterpret_cast<void *>(function), property->name);
  return 0;
}

VRC VPropertyRemoveCallback(VProperty property, VPropertyCallback function,
                            void *argument) {
  if (property == nullptr || function == nullptr) return EINVAL;
  if (property->callbacks == nullptr) return VRC_PROP_NOT_FOUND;
  for (void *item = VListFirst(property->callbacks); item != nullptr;
       item = VListNext(item)) {
    auto *record = static_cast<vi::CallbackRecord *>(item);
    if (record->function != function || record->argument != argument) continue;
    VListDelete(property->callbacks, record);
    VListFree(record);
    vi::ConfigLog(VLOG_DEBUG, "Removed callback %p for property %s",
                  reinterpret_cast<void *>(function), property->name);
    return 0;
  }
  return VRC_NOT_FOUND;
}

VRC VPropertyRemoveAllCallbacks(VProperty property) {
  if (property == nullptr) return EINVAL;
  if (property->callbacks == nullptr) return 0;
  vi::ConfigLog(VLOG_DEBUG, "Removing all callbacks for property %s",
                property->name);
  VListDestroyWith(property->callbacks, vi::FreeListItem, nullptr, vi::Free);
  property->callbacks = nullptr;
  return 0;
}

VRC VPropMgrAddCallback(VPropMgr manager, const char *name,
                        VPropertyCallback function, void *argument) {
  if (manager == nullptr || name == nullptr || function == nullptr) {
    return EINVAL;
  }
  VProperty property = VPropMgrFind(manager, name);
  if (property == nullptr) return VRC_PROP_NOT_FOUND;
  return VPropertyAddCallback(property, function, argument);
}

VRC VPropMgrRemoveCallback(VPropMgr manager, const char *name,
                           VPropertyCallback function, void *argument) {
  if (manager == nullptr || name == nullptr || function == nullptr) {
    return EINVAL;
  }
  VProperty property = VPropMgrFind(manager, name);
  if (property == nullptr) return VRC_PROP_NOT_FOUND;
  return VPropertyRemoveCallback(property, function, argument);
}

// ---- Aliases.

VRC VPropMgrAddAlias(VPropMgr manager, const char *name, const char *alias) {
  if (manager == nullptr || name == nullptr || alias == nullptr) return EINVAL;
  if (vi::FindQuietly(manager, alias) != nullptr) return VRC_PROP_EXISTS;
  VProperty property = VPropMgrFind(manager, name);
  if (property == nullptr) return VRC_PROP_NOT_FOUND;
  if (vi::TableReserve(&manager->aliases) != 0) return ENOMEM;
  auto *record =
      static_cast<vi::AliasRecord *>(VHashAlloc(sizeof(vi::AliasRecord)));
  if (record == nullptr) return ENOMEM;
  record->alias = vi::Strdup(alias);
  if (record->alias == nullptr) {
    VHashFree(record);
    return ENOMEM;
  }
  record->property = property;
  vi::TableInsert(&manager->aliases, record);
  vi::ConfigLog(VLOG_DEBUG, "Added alias %s for property %s", record->alias,
                property->name);
  return 0;
}

VRC VPropMgrRemoveAlias(VPropMgr manager, const char *alias) {
  if (manager == nullptr || alias == nullptr) return EINVAL;
  auto *record = vi::TableFind<vi::AliasRecord>(manager->aliases, alias);
  if (record == nullptr) return VRC_PROP_NOT_FOUND;
  vi::TableDelete(&manager->aliases, record);
  vi::ConfigLog(VLOG_DEBUG, "Removed alias %s for property %s", record->alias,
                record->property->name);
  vi::FreeAlias(record);
  return 0;
}
