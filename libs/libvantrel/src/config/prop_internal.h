// The property manager's records and the operations its other units (the
// properties-file reader and writers, the encryption properties, the
// argument manager) share.
#ifndef VANTREL_CONFIG_PROP_INTERNAL_H
#define VANTREL_CONFIG_PROP_INTERNAL_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "vantrel/vdatacrypt.h"
#include "vantrel/vhash.h"
#include "vantrel/vlist.h"
#include "vantrel/vprop.h"

namespace vantrel::internal {

// A VHash keyed by the name at the start of its items, hashed and compared
// ignoring case.  Beside the 127 chains, a table of many items keeps an
// open-addressing index by the names' hashes, so that a lookup need not
// walk a long chain; the chains alone decide what a walk sees.
struct NameTable {
  VHash *hash;
  void **slots;       // null until the table holds kIndexFrom items
  uint32_t capacity;  // a power of two, 0 without an index
};

// A value with every byte zero.  VValue{} need not be: it zeroes the first
// member of the union, a 16-bit one, and clang leaves the rest as it was.
inline VValue ZeroValue() {
  VValue value;
  memset(&value, 0, sizeof value);
  return value;
}

}  // namespace vantrel::internal

// A property.  The name comes first: the tables hash and compare the first
// field of what they are given, so a key is the address of a name pointer.
struct VPropertyData {
  char *name;
  uint32_t nameHash;  // set by the table: see NameHead
  VPropMgr owner;
  char *description;
  VDataType type;
  VValue value;  // text or binary data owned
  uint32_t flags;
  char group[VPROP_GROUP_SIZE + 1];
  int32_t specified;
  // Line of the top-level file that set it, -1 when never set from there
  // (or set from an include file), kOrderForWrite after
  // VPropMgrSetValueForWrite.
  int32_t order;
  VList *callbacks;  // null until the first callback
  int32_t wasEncrypted;
};

struct VPropMgrData {
  vantrel::internal::NameTable properties;  // VPropertyData
  vantrel::internal::NameTable aliases;     // AliasRecord
  VList *includes;  // IncludeRecord, in the order the top-level file named them
  uint32_t flags;
  VDataCryptContext cipher;  // null when no key file is set
  // Which of the encryption properties (and their callbacks) the library
  // defined, so that processing a command line again, or after a failure,
  // finds them in place.
  uint32_t cryptoDefined;
};

namespace vantrel::internal {

inline constexpr int32_t kOrderForWrite = 2147483647;

struct AliasRecord {
  char *alias;  // first two fields: see NameHead
  uint32_t aliasHash;
  VProperty property;
};

// How every item of a NameTable begins: its name, then the name's hash,
// kept so that a chain is searched by comparing hashes before names.
struct NameHead {
  char *name;
  uint32_t hash;
};
static_assert(offsetof(VPropertyData, nameHash) == offsetof(NameHead, hash));
static_assert(offsetof(AliasRecord, aliasHash) == offsetof(NameHead, hash));

struct IncludeRecord {
  char *text;  // as written in the file, quotes included
  int32_t line;
  bool written;  // scratch of the writer
};

// Log lines of the configuration units: message number 0 of the set of
// their level, facility 1 so that debug lines show at the debug threshold.
void ConfigLog(int level, const char *format, ...)
    __attribute__((format(printf, 2, 3)));

// The property of that name or alias without the alias warning, or null.
VProperty FindQuietly(VPropMgr manager, const char *name);

// VPropMgrSetValue's resolution and set; *set (may be null) receives the
// property that was set or created.  With callbacks false the change
// callbacks are skipped.
VRC SetValueByName(VPropMgr manager, const char *name, const VTypedValue *value,
                   bool callbacks, VProperty *set);

// Marks a property as set by a properties file: specified 1, order `line`
// (or -1 for an include file).
void MarkSetByFile(VProperty property, int32_t line, bool topLevel);

// Appends an include record holding a copy of text.  0 or ENOMEM.
VRC AppendInclude(VPropMgr manager, const char *text, int32_t line);

// Defines "ConfigKeyFile" and "ConfigCryptoAlg" with their callbacks,
// unless this manager defined them before and they are still there.
VRC DefineCryptoProperties(VPropMgr manager);

// Decrypts every text value in the encrypted form with the manager's key;
// 0 at once when there is no key.
VRC DecryptValues(VPropMgr manager);

}  // namespace vantrel::internal

#endif  // VANTREL_CONFIG_PROP_INTERNAL_H
