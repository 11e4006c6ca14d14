// The argument manager: options bound to properties, processing of a
// command line with its built-in options, and the usage texts.
#include <ctype.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "config/prop_internal.h"
#include "core/retcode.h"
#include "internal/alloc.h"
#include "internal/scope.h"
#include "values/values.h"
#include "vantrel/vargs.h"
#include "vantrel/vexcept.h"
#include "vantrel/vi18n.h"
#include "vantrel/vlog.h"
#include "vantrel/vstring.h"
#include "vantrel/vthread.h"
#include "vantrel/vtime.h"

namespace vi = vantrel::internal;

namespace vantrel::internal {

// An option.  The text comes first: the table hashes and compares the
// first field of what it is given.
struct OptionRecord {
  char *option;
  char *propertyName;
  char *help;  // null: not in the usage text
  int32_t kind;
  VTypedValue fixedValue;  // switches only; a text is owned
  uint32_t flags;
};

}  // namespace vantrel::internal

struct VArgMgrData {
  VPropMgr properties;
  VHash *options;  // OptionRecord, case-sensitive
  int32_t userStart;
  int32_t interlock;
  VArgInterlockCallback interlockCallback;
  void *interlockArgument;
  int32_t hasAdvanced;
  int32_t showAdvanced;
  int32_t undefinedArgs;
};

namespace vantrel::internal {
namespace {

constexpr uint32_t kOptionBuckets = 127;
constexpr char kName[] = "-name";
constexpr char kPropsFile[] = "-propsfile";
constexpr char kAdvanced[] = "-advanced";
constexpr char kDumpProps[] = "-dumpprops";
constexpr char kEndOfOptions[] = "--";
constexpr char kNameProperty[] = "Name";
// The longest properties-file path taken from the property.
constexpr size_t kMaxPath = 259;
constexpr size_t kHelpBlock = 1024;

// Catalog addresses.
constexpr int kExceptionSet = 3;
constexpr int kUndefinedNumber = 11;
constexpr int kUsageSet = 4;
constexpr int kUsageNumber = 3;
constexpr int kAdvancedNumber = 64;

OptionRecord *FindOption(VArgMgr manager, const char *option) {
  return static_cast<OptionRecord *>(VHashFind(manager->options, &option));
}

void FreeOption(OptionRecord *record) {
  Free(record->option);
  Free(record->propertyName);
  Free(record->help);
  FreeOwnedData(record->fixedValue.value, record->fixedValue.type);
  VHashFree(record);
}

int FreeOptionVisit(void *item, void *) {
  FreeOption(static_cast<OptionRecord *>(item));
  return 0;
}

// The fixed value of a switch, owned by the record.
VRC CopyFixedValue(const VTypedValue &given, VTypedValue *out) {
  if (given.type == VDT_BINARY) return VRC_TYPE_MISMATCH;
  out->type = given.type;
  if (given.type == VDT_STRING) {
    const char *text = given.value.stringValue.text;
    out->value.stringValue.text = Strdup(text != nullptr ? text : "");
    if (out->value.stringValue.text == nullptr) return ENOMEM;
    out->value.stringValue.length =
        static_cast<uint32_t>(strlen(out->value.stringValue.text));
    return 0;
  }
  CopyScalar(&out->value, given.value, given.type);
  return 0;
}

OptionRecord *NewOption(const char *option, const char *propertyName,
                        const char *help) {
  auto *record = static_cast<OptionRecord *>(VHashAlloc(sizeof(OptionRecord)));
  if (record == nullptr) return nullptr;
  memset(record, 0, sizeof *record);
  record->option = Strdup(option);
  record->propertyName = Strdup(propertyName);
  record->help = help != nullptr ? Strdup(help) : nullptr;
  if (record->option == nullptr || record->propertyName == nullptr ||
      (help != nullptr && record->help == nullptr)) {
    FreeOption(record);
    return nullptr;
  }
  return record;
}

// ---- Processing.

bool Is(const char *argument, const char *text) {
  return strcmp(argument, text) == 0;
}

// The arguments before the first null entry (argv[0] is not read).
int VectorLength(int argc, char *const *argv) {
  for (int i = 1; i < argc; ++i) {
    if (argv[i] == nullptr) return i;
  }
  return argc;
}

// Decimal text with optional leading white space and an optional '-'.
bool IsValidInteger64(const char *text) {
  while (isspace(static_cast<unsigned char>(*text))) ++text;
  if (*text == '-') ++text;
  while (*text >= '0' && *text <= '9') ++text;
  return *text == '\0';
}

// The command-line text as a value of the property's type.
VRC ArgumentValue(const char *text, VDataType type, VTypedValue *out) {
  *out = VTypedValue{type, ZeroValue()};
  VValue &value = out->value;
  switch (type) {
    case VDT_SHORT:
    case VDT_INTEGER:
    case VDT_UNSIGNED:
      if (VStringIsValidInteger(text) == 0) return VRC_TYPE_MISMATCH;
      if (type == VDT_SHORT) VStringToShort(text, &value.shortValue);
      if (type == VDT_INTEGER) VStringToInteger(text, &value.integerValue);
      if (type == VDT_UNSIGNED) VStringToUnsigned(text, &value.unsignedValue);
      return 0;
    case VDT_BOOLEAN:
      if (VStringIsValidBoolean(text) == 0) return VRC_TYPE_MISMATCH;
      VStringToBoolean(text, &value.booleanValue);
      return 0;
    case VDT_REAL:
      VStringToReal(text, &value.realValue);
      return 0;
    case VDT_UTC: {
      time_t seconds = 0;
      VStringToUTC(text, &seconds);
      value.utcValue = static_cast<int32_t>(seconds);
      return 0;
    }
    case VDT_STRING:
      value.stringValue.text = const_cast<char *>(text);
      value.stringValue.length = static_cast<uint32_t>(strlen(text));
      return 0;
    case VDT_BINARY: {
      VBinary binary{};
      VStringToBinary(text, &binary);
      value.binaryValue.length = binary.length;
      value.binaryValue.data = binary.data;
      return 0;
    }
    case VDT_INTEGER64:
      if (!IsValidInteger64(text)) return VRC_TYPE_MISMATCH;
      VStringToInteger64(text, &value.integer64Value);
      return 0;
    default:
      return VRC_INTERNAL_ERROR;
  }
}

// Applies the defined option at argv[i]; *used receives the number of
// arguments it took.
VRC ProcessOption(VArgMgr manager, const OptionRecord &record, int i, int n,
                  char *const *argv, int *used) {
  *used = 1;
  VProperty property = VPropMgrFind(manager->properties, record.propertyName);
  if (property == nullptr) return VRC_PROP_NOT_FOUND;
  VPropertySetWasSpecified(property, 1);
  if (record.kind == VARG_KIND_SWITCH) {
    return VPropMgrSetValue(manager->properties, record.propertyName,
                            &record.fixedValue);
  }
  if (record.kind != VARG_KIND_VALUE) return VRC_INTERNAL_ERROR;
  if (i + 1 >= n) return VRC_ARG_NO_VALUE;
  *used = 2;
  VTypedValue value{};
  VRC rc = ArgumentValue(argv[i + 1], VPropertyGetType(property), &value);
  if (rc != 0) return rc;
  rc =
      VPropMgrSetValue(manager->properties, VPropertyGetName(property), &value);
  if (value.type == VDT_BINARY) Free(value.value.binaryValue.data);
  return rc;
}

// The first "-name" (before "--"), processed and handed to the interlock.
VRC Interlock(VArgMgr manager, int n, char *const *argv) {
  if (manager->interlock == 0) return 0;
  for (int i = 1; i < n && !Is(argv[i], kEndOfOptions); ++i) {
    if (!Is(argv[i], kName)) continue;
    const OptionRecord *record = FindOption(manager, kName);
    if (record == nullptr) return VRC_FAILURE;
    int used = 1;
    VRC rc = ProcessOption(manager, *record, i, n, argv, &used);
    if (rc != 0) return rc;
    const char *value = used == 2 ? argv[i + 1] : "";
    return manager->interlockCallback(manager, value,
                                      manager->interlockArgument);
  }
  return 0;
}

// The first "-propsfile" (before "--"), when the option is defined.
VRC EarlyPropsFile(VArgMgr manager, int n, char *const *argv, bool *named) {
  for (int i = 1; i < n && !Is(argv[i], kEndOfOptions); ++i) {
    if (!Is(argv[i], kPropsFile)) continue;
    const OptionRecord *record = FindOption(manager, kPropsFile);
    if (record == nullptr) return 0;
    int used = 1;
    VRC rc = ProcessOption(manager, *record, i, n, argv, &used);
    if (rc != 0) return rc;
    *named = true;
    return 0;
  }
  return 0;
}

// The path of the properties file: at most kMaxPath characters of the
// property bound to "-propsfile".
VRC PropsFilePath(VArgMgr manager, const OptionRecord &record,
                  char (&path)[kMaxPath + 1]) {
  VTypedValue value{};
  VRC rc = VPropMgrGetValue(manager->properties, record.propertyName, &value);
  if (rc != 0) return rc;
  if (value.type != VDT_STRING) {
    FreeOwnedData(value.value, value.type);
    return VRC_TYPE_MISMATCH;
  }
  strncpy(path, value.value.stringValue.text, kMaxPath);
  path[kMaxPath] = '\0';
  Free(value.value.stringValue.text);
  return 0;
}

// Logs what reading the file gave; returns what processing returns.
VRC ReportPropsFile(VRC rc, const char *path, const VPropParseError &error,
                    bool named) {
  const char *where = error.file != nullptr ? error.file : path;
  if (rc == 0) return 0;
  if (rc == ENOENT) {
    bool other = error.file != nullptr && strcmp(error.file, path) != 0;
    ConfigLog(named || other ? VLOG_FATAL : VLOG_WARN,
              "Failed to load properties file %s: %s", where,
              VRCToString(ENOENT));
    return 0;
  }
  if (error.text[0] != '\0') {
    ConfigLog(VLOG_ERROR, "%s in %s, line %d near %s", VRCToString(rc), where,
              error.line, error.text);
  } else {
    ConfigLog(VLOG_ERROR, "%s in %s, line %d", VRCToString(rc), where,
              error.line);
  }
  return rc;
}

VRC PropsFile(VArgMgr manager, bool named) {
  const OptionRecord *record = FindOption(manager, kPropsFile);
  if (record == nullptr) return 0;
  VRC rc = DefineCryptoProperties(manager->properties);
  if (rc != 0) return rc;
  char path[kMaxPath + 1];
  rc = PropsFilePath(manager, *record, path);
  if (rc != 0) return rc;
  VPropParseError error{};
  rc = VPropMgrParseFile(manager->properties, path, &error);
  rc = ReportPropsFile(rc, path, error, named);
  Free(error.file);
  return rc;
}

// Every undefined word joins the chain that the first one started.
void Undefined(const char *argument, bool *first) {
  VTypedValue word{VDT_STRING, VValue{}};
  word.value.stringValue.text = const_cast<char *>(argument);
  word.value.stringValue.length = static_cast<uint32_t>(strlen(argument));
  if (*first) {
    VThreadExceptionRaise(VThreadGetID(), "UndefinedArgument", LibraryCatalog(),
                          kExceptionSet, kUndefinedNumber, "Undefined argument",
                          &word, nullptr, nullptr, nullptr);
    *first = false;
  } else {
    VThreadExceptionAdd(VThreadGetID(), LibraryCatalog(), kExceptionSet,
                        kUndefinedNumber, "Undefined argument", &word, nullptr,
                        nullptr, nullptr);
  }
  ConfigLog(VLOG_WARN, "Undefined argument: %s", argument);
}

// "-name VALUE" sets "Name" without its callbacks; a failure is ignored.
void SetName(VArgMgr manager, const char *text) {
  VTypedValue value{VDT_STRING, VValue{}};
  value.value.stringValue.text = const_cast<char *>(text);
  value.value.stringValue.length = static_cast<uint32_t>(strlen(text));
  SetValueByName(manager->properties, kNameProperty, &value, false, nullptr);
}

// How many arguments a built-in option at argv[i] takes (0: not one).
int BuiltIn(VArgMgr manager, int i, int n, char *const *argv) {
  const char *argument = argv[i];
  bool hasValue = i + 1 < n;
  if (Is(argument, kName)) {
    if (hasValue) SetName(manager, argv[i + 1]);
    return hasValue ? 2 : 1;
  }
  if (Is(argument, kPropsFile)) return hasValue ? 2 : 1;
  if (manager->hasAdvanced != 0 && Is(argument, kAdvanced)) {
    manager->showAdvanced = 1;
    return 1;
  }
  return 0;
}

VRC MainPass(VArgMgr manager, int n, char *const *argv, bool *dump) {
  bool first = true;
  for (int i = 1; i < n;) {
    int used = BuiltIn(manager, i, n, argv);
    if (used > 0) {
      i += used;
      continue;
    }
    const char *argument = argv[i];
    if (Is(argument, kDumpProps)) *dump = true;
    if (Is(argument, kEndOfOptions)) {
      manager->userStart = i + 1;
      return 0;
    }
    if (manager->undefinedArgs != 0 && argument[0] != '-') {
      manager->userStart = i;
      return 0;
    }
    const OptionRecord *record = FindOption(manager, argument);
    if (record == nullptr) {
      Undefined(argument, &first);
      ++i;
      continue;
    }
    VRC rc = ProcessOption(manager, *record, i, n, argv, &used);
    if (rc != 0) return rc;
    i += used;
  }
  return 0;
}

// ---- Usage texts.

bool Shown(const OptionRecord &record, bool all, int32_t showAdvanced) {
  return record.help != nullptr &&
         (all || (record.flags & VARG_FLAG_ADVANCED) == 0 || showAdvanced != 0);
}

struct NextOption {
  const char *after;  // null: from the first
  bool all;
  int32_t showAdvanced;
  const OptionRecord *found;
};

int ConsiderOption(void *item, void *argument) {
  const auto *record = static_cast<const OptionRecord *>(item);
  auto *next = static_cast<NextOption *>(argument);
  if (!Shown(*record, next->all, next->showAdvanced)) return 0;
  if (next->after != nullptr && strcmp(record->option, next->after) <= 0) {
    return 0;
  }
  if (next->found == nullptr ||
      strcmp(record->option, next->found->option) < 0) {
    next->found = record;
  }
  return 0;
}

// The shown option that follows `after` in strcmp order, or null.  The
// usage texts walk their few options this way and allocate nothing.
const OptionRecord *OptionAfter(VArgMgr manager, const OptionRecord *after,
                                bool all) {
  NextOption next{after != nullptr ? after->option : nullptr, all,
                  manager->showAdvanced, nullptr};
  VHashWalk(manager->options, ConsiderOption, &next, 0, nullptr);
  return next.found;
}

// Applies the help text as a format to the value through print, which
// takes a format and its arguments as printf does.
template <typename Print>
void FormatHelp(const char *help, const VTypedValue &value, Print print) {
  const VValue &v = value.value;
  switch (value.type) {
    case VDT_SHORT:
      print(help, static_cast<int>(v.shortValue));
      break;
    case VDT_INTEGER:
      print(help, static_cast<int>(v.integerValue));
      break;
    case VDT_UNSIGNED:
      print(help, static_cast<int>(v.unsignedValue));
      break;
    case VDT_BOOLEAN:
      print(help, v.booleanValue != 0 ? "TRUE" : "FALSE");
      break;
    case VDT_REAL:
      print(help, v.realValue);
      break;
    case VDT_UTC: {
      time_t seconds = v.utcValue;
      char date[32];
      print(help, v_ctimex(&seconds, date));
      break;
    }
    case VDT_STRING:
      print(help, v.stringValue.text);
      break;
    case VDT_INTEGER64:
      print(help, static_cast<long long>(v.integer64Value));
      break;
    default:
      print("%s", help);
  }
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
#pragma GCC diagnostic ignored "-Wformat-security"

// One line of the usage text on standard error.
VRC HelpLine(VArgMgr manager, const OptionRecord &record, int width) {
  fprintf(stderr, "\t%-*s ", width, record.option);
  VTypedValue value{};
  VRC rc = VPropMgrGetValue(manager->properties, record.propertyName, &value);
  if (rc != 0) return rc;
  FormatHelp(record.help, value, [](const char *format, auto... arguments) {
    fprintf(stderr, format, arguments...);
  });
  FreeOwnedData(value.value, value.type);
  if ((record.flags & VARG_FLAG_ADVANCED) != 0) {
    char mark[kHelpBlock];
    VI18nMessageGet(LibraryCatalog(), kUsageSet, kAdvancedNumber, " (ADVANCED)",
                    mark, sizeof mark);
    fputs(mark, stderr);
  }
  fputs("\n", stderr);
  return 0;
}

// One option of the usage string: its text, then its formatted help.
VRC HelpEntry(VArgMgr manager, const OptionRecord &record, vb_buffer *buffer) {
  VTypedValue value{};
  VRC rc = VPropMgrGetValue(manager->properties, record.propertyName, &value);
  if (rc != 0) return rc;
  char block[kHelpBlock];
  block[0] = '\0';
  FormatHelp(record.help, value,
             [&block](const char *format, auto... arguments) {
               snprintf(block, sizeof block, format, arguments...);
             });
  FreeOwnedData(value.value, value.type);
  return vb_sprintf(buffer, "%s\n%s\n", record.option, block);
}

void Usage(const char *programName) {
  char usage[kHelpBlock];
  VI18nMessageGet(LibraryCatalog(), kUsageSet, kUsageNumber,
                  "Usage: %s [options]\n\nwhere options can be:\n\n", usage,
                  sizeof usage);
  fprintf(stderr, usage, programName);
}

#pragma GCC diagnostic pop

}  // namespace
}  // namespace vantrel::internal

// ---- Managers and options.

VRC VArgMgrCreate(VPropMgr properties, VArgMgr *out) {
  if (out == nullptr) return EINVAL;
  *out = nullptr;
  if (properties == nullptr) return EINVAL;
  auto *manager =
      static_cast<VArgMgr>(vi::Calloc(1, sizeof(struct VArgMgrData)));
  if (manager == nullptr) return ENOMEM;
  manager->options =
      VHashCreateWith(vi::Malloc, vi::kOptionBuckets, VNamedValueHash, nullptr,
                      VNamedValueComp, nullptr);
  if (manager->options == nullptr) {
    vi::Free(manager);
    return ENOMEM;
  }
  manager->properties = properties;
  manager->userStart = -1;
  *out = manager;
  return 0;
}

VRC VArgMgrDestroy(VArgMgr manager) {
  if (manager == nullptr) return 0;
  VHashDestroyWith(manager->options, vi::FreeOptionVisit, nullptr, vi::Free);
  vi::Free(manager);
  return 0;
}

VRC VArgMgrDefineWithFlags(VArgMgr manager, const char *option,
                           const char *propertyName, const char *help,
                           int32_t kind, const VTypedValue *fixedValue,
                           uint32_t flags) {
  if (manager == nullptr || option == nullptr || propertyName == nullptr ||
      (kind == VARG_KIND_SWITCH && fixedValue == nullptr)) {
    return EINVAL;
  }
  if (vi::FindOption(manager, option) != nullptr) return VRC_ARG_EXISTS;
  VProperty property = VPropMgrFind(manager->properties, propertyName);
  if (property == nullptr) return VRC_PROP_NOT_FOUND;
  if ((VPropertyGetFlags(property) & VPROP_FLAG_ADVANCED) != 0) {
    flags |= VARG_FLAG_ADVANCED;
  }
  vi::OptionRecord *record = vi::NewOption(option, propertyName, help);
  if (record == nullptr) return ENOMEM;
  record->kind = kind;
  if (kind == VARG_KIND_SWITCH) {
    VRC rc = vi::CopyFixedValue(*fixedValue, &record->fixedValue);
    if (rc != 0) {
      vi::FreeOption(record);
      return rc;
    }
  }
  record->flags = flags;
  if ((flags & VARG_FLAG_ADVANCED) != 0) manager->hasAdvanced = 1;
  VHashInsert(manager->options, record);
  return 0;
}

VRC VArgMgrTableDefine(VArgMgr manager, const VArgTableRow *rows,
                       int32_t count) {
  if (manager == nullptr || rows == nullptr || count < 0) return EINVAL;
  for (int32_t i = 0; i < count; ++i) {
    const VArgTableRow &row = rows[i];
    VTypedValue fixed{row.type,
                      row.value != nullptr ? *row.value : vi::ZeroValue()};
    VRC rc = VArgMgrDefineWithFlags(manager, row.option, row.propertyName,
                                    row.help, row.kind, &fixed, row.flags);
    if (rc != 0) return rc;
  }
  return 0;
}

VRC VArgMgrInterlock(VArgMgr manager, VArgInterlockCallback callback,
                     void *argument) {
  if (manager == nullptr || callback == nullptr) return EINVAL;
  if (vi::FindOption(manager, vi::kName) == nullptr) return VRC_FAILURE;
  manager->interlockCallback = callback;
  manager->interlockArgument = argument;
  manager->interlock = 1;
  return 0;
}

VRC VArgMgrEnableUndefinedArgProcessing(VArgMgr manager) {
  if (manager == nullptr) return EINVAL;
  manager->undefinedArgs = 1;
  return 0;
}

int32_t VArgMgrGetUserStartPosition(VArgMgr manager) {
  return manager != nullptr ? manager->userStart : -1;
}

// ---- Processing.

VRC VArgMgrProcess(VArgMgr manager, int argc, char *const *argv) {
  return VArgMgrProcessWithDumpProps(manager, argc, argv, 1);
}

VRC VArgMgrProcessWithDumpProps(VArgMgr manager, int argc, char *const *argv,
                                int32_t dumpProps) {
  if (manager == nullptr) return EINVAL;
  if (argc < 1 || argv == nullptr) return 0;
  manager->userStart = -1;
  VThreadExceptionClear(VThreadGetID());
  int n = vi::VectorLength(argc, argv);
  VRC rc = vi::Interlock(manager, n, argv);
  bool named = false;
  if (rc == 0) rc = vi::EarlyPropsFile(manager, n, argv, &named);
  if (rc == 0) rc = vi::PropsFile(manager, named);
  bool dump = false;
  if (rc == 0) rc = vi::MainPass(manager, n, argv, &dump);
  if (rc != 0) return rc;
  if (dump && dumpProps == 1) {
    VPropMgrWriteToStream(manager->properties, stderr);
    exit(0);
  }
  return vi::DecryptValues(manager->properties);
}

// ---- Usage texts.

VRC VArgHelp(VArgMgr manager, const char *programName) {
  if (manager == nullptr || programName == nullptr) return EINVAL;
  int width = 0;
  for (const vi::OptionRecord *o = vi::OptionAfter(manager, nullptr, false);
       o != nullptr; o = vi::OptionAfter(manager, o, false)) {
    int length = static_cast<int>(strlen(o->option));
    if (length > width) width = length;
  }
  vi::Usage(programName);
  for (const vi::OptionRecord *o = vi::OptionAfter(manager, nullptr, false);
       o != nullptr; o = vi::OptionAfter(manager, o, false)) {
    VRC rc = vi::HelpLine(manager, *o, width);
    if (rc != 0) return rc;
  }
  return 0;
}

VRC VArgHelpAsString(VArgMgr manager, vb_buffer *buffer) {
  if (manager == nullptr || buffer == nullptr) return EINVAL;
  vb_init(buffer);
  for (const vi::OptionRecord *o = vi::OptionAfter(manager, nullptr, true);
       o != nullptr; o = vi::OptionAfter(manager, o, true)) {
    VRC rc = vi::HelpEntry(manager, *o, buffer);
    if (rc != 0) return rc;
  }
  return 0;
}
