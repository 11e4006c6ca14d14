// Encrypted property values: the two properties that name the key file and
// the algorithm, whose callbacks keep the manager's decryption key in step
// with them, and the pass that decrypts text values once every source of
// values has been applied.
#include <errno.h>
#include <string.h>

#include "config/prop_internal.h"
#include "internal/alloc.h"
#include "values/values.h"
#include "vantrel/vdatacrypt.h"
#include "vantrel/venv.h"
#include "vantrel/vlog.h"
#include "vantrel/vrc.h"

namespace vantrel::internal {
namespace {

constexpr char kKeyFile[] = "ConfigKeyFile";
constexpr char kAlgorithm[] = "ConfigCryptoAlg";
constexpr char kGroup[] = "Vantrel";

// A text property's current value, copied; VRC_TYPE_MISMATCH when a
// program replaced the property with one of another type.
VRC GetText(VPropMgr manager, const char *name, char **out) {
  VTypedValue value{};
  VRC rc = VPropMgrGetValue(manager, name, &value);
  if (rc != 0) return rc;
  if (value.type != VDT_STRING) {
    FreeOwnedData(value.value, value.type);
    return VRC_TYPE_MISMATCH;
  }
  *out = value.value.stringValue.text;
  return 0;
}

// Sets up the manager's key from the key file path (expanded here) for the
// algorithm.  The old key is gone whatever happens.
VRC SetUpKey(VPropMgr manager, const char *algorithm, const char *keyFile) {
  VDataCryptCipherContextDestroy(manager->cipher);
  manager->cipher = nullptr;
  char *path = nullptr;
  VRC rc = VEnvExpandString(keyFile, &path);
  if (rc != 0) return rc;
  rc = VDataCryptSetupContextWithFile(algorithm, path, &manager->cipher);
  Free(path);
  return rc;
}

const char *TextOf(const VTypedValue *value) {
  return value->value.stringValue.text;
}

bool IsEmpty(const VTypedValue *value) {
  return value->value.stringValue.length == 0;
}

// A new key file: a key made from it with the current algorithm, or a veto.
VRC KeyFileChanged(VProperty, const VTypedValue *newValue, void *argument) {
  if (IsEmpty(newValue)) return 0;
  auto *manager = static_cast<VPropMgr>(argument);
  VDataCryptCipherContextDestroy(manager->cipher);
  manager->cipher = nullptr;
  char *algorithm = nullptr;
  VRC rc = GetText(manager, kAlgorithm, &algorithm);
  if (rc != 0) return rc;
  rc = SetUpKey(manager, algorithm, TextOf(newValue));
  Free(algorithm);
  return rc;
}

// A new algorithm matters only once there is a key.
VRC AlgorithmChanged(VProperty, const VTypedValue *newValue, void *argument) {
  auto *manager = static_cast<VPropMgr>(argument);
  if (IsEmpty(newValue) || manager->cipher == nullptr) return 0;
  VDataCryptCipherContextDestroy(manager->cipher);
  manager->cipher = nullptr;
  char *keyFile = nullptr;
  VRC rc = GetText(manager, kKeyFile, &keyFile);
  if (rc != 0) return rc;
  rc = SetUpKey(manager, TextOf(newValue), keyFile);
  Free(keyFile);
  return rc;
}

struct CryptoRow {
  const char *name;
  const char *firstValue;
  const char *description;
  VPropertyCallback callback;
};

constexpr CryptoRow kRows[] = {
    {kKeyFile, "",
     "Location of the file containing the key for encrypted config values "
     "and files",
     KeyFileChanged},
    {kAlgorithm, "AES",
     "The cryptographic algorithm to use when encrypting and decrypting "
     "config values and files",
     AlgorithmChanged},
};

// Bits of VPropMgrData::cryptoDefined per row: defined, callback added.
constexpr uint32_t DefinedBit(size_t row) { return 1u << (2 * row); }
constexpr uint32_t CallbackBit(size_t row) { return 2u << (2 * row); }

VRC DefineRow(VPropMgr manager, size_t index) {
  const CryptoRow &row = kRows[index];
  if ((manager->cryptoDefined & DefinedBit(index)) == 0 ||
      FindQuietly(manager, row.name) == nullptr) {
    VTypedValue first{VDT_STRING, VValue{}};
    first.value.stringValue.text = const_cast<char *>(row.firstValue);
    first.value.stringValue.length =
        static_cast<uint32_t>(strlen(row.firstValue));
    VRC rc = VPropMgrDefineWithFlags(manager, row.name, row.description, &first,
                                     VPROP_FLAG_ADVANCED);
    if (rc != 0) {
      int error = errno;
      ConfigLog(VLOG_ERROR, "Failed to define property '%s'.(%d:%s)", row.name,
                rc, VRCToString(error));
      return rc;
    }
    VPropMgrSetGroup(manager, row.name, kGroup);
    manager->cryptoDefined =
        (manager->cryptoDefined | DefinedBit(index)) & ~CallbackBit(index);
  }
  if ((manager->cryptoDefined & CallbackBit(index)) != 0) return 0;
  VRC rc = VPropMgrAddCallback(manager, row.name, row.callback, manager);
  if (rc != 0) {
    int error = errno;
    ConfigLog(VLOG_ERROR, "Failed to define callback for property '%s'.(%d:%s)",
              row.name, rc, VRCToString(error));
    return rc;
  }
  manager->cryptoDefined |= CallbackBit(index);
  return 0;
}

// The decrypted text that replaces an encrypted one: expanded with the
// property's expansion flag, else exactly the plain bytes.
VRC PlainText(VProperty property, const char *plain, uint32_t length,
              VValue *out) {
  char *text = nullptr;
  if ((property->flags & VPROP_FLAG_EXPAND) != 0) {
    VRC rc = VEnvExpandString(plain, &text);
    if (rc != 0) return rc;
    length = static_cast<uint32_t>(strlen(text));
  } else {
    text = static_cast<char *>(Malloc(size_t{length} + 1));
    if (text == nullptr) return ENOMEM;
    memcpy(text, plain, length);
    text[length] = '\0';
  }
  out->stringValue.text = text;
  out->stringValue.length = length;
  return 0;
}

int DecryptOne(void *item, void *argument) {
  auto *property = static_cast<VProperty>(item);
  auto *manager = static_cast<VPropMgr>(argument);
  if (property->type != VDT_STRING ||
      property->value.stringValue.text == nullptr ||
      property->value.stringValue.length == 0) {
    return 0;
  }
  char *plain = nullptr;
  uint32_t length = 0;
  VRC rc = VDataCryptDecrypt(manager->cipher, property->value.stringValue.text,
                             &plain, &length);
  if (rc == VRC_CRYPT_NOT_ENCRYPTED) return 0;  // a plain value
  if (rc != 0) return rc;
  VValue text{};
  rc = PlainText(property, plain, length, &text);
  VDataCryptFreeDecryptedData(manager->cipher, plain);
  if (rc != 0) return rc;
  Free(property->value.stringValue.text);
  property->value = text;
  property->wasEncrypted = 1;
  return 0;
}

}  // namespace

VRC DefineCryptoProperties(VPropMgr manager) {
  for (size_t i = 0; i < sizeof kRows / sizeof kRows[0]; ++i) {
    VRC rc = DefineRow(manager, i);
    if (rc != 0) return rc;
  }
  return 0;
}

VRC DecryptValues(VPropMgr manager) {
  if (manager->cipher == nullptr) return 0;
  return VPropMgrWalk(manager, DecryptOne, manager, 1);
}

}  // namespace vantrel::internal
