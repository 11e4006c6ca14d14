// The properties-file reader and writer.  Property: what was read, written
// back and read again is the same, as far as the format carries it (reals
// at six decimals, times coming back as integers, texts expanded once
// more); binary values, which no file can set, and include statements,
// which the second reading cannot open, end the second reading where they
// stand.  Also: the error record is well formed, and a reading with an
// allocation failing at an input-chosen point returns ENOMEM or finishes,
// leaving nothing behind.
//
// Files are served from memory through the platform's table of system
// calls: "top" is the input up to a line "@@@", every other name (an
// include file) the rest, except names beginning with "fail".
// Input: one byte choosing the allocation failure, one byte whose low bit
// chooses the C.UTF-8 locale (else C) and whose other bits the bytes each
// read returns (0: as many as asked for), then the text.
#include <errno.h>
#include <fcntl.h>
#include <locale.h>
#include <math.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <sys/types.h>
#include <wchar.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "vantrel/venv.h"
#include "vantrel/vlog.h"
#include "vantrel/vprop.h"
#include "vantrel/vservices.h"

namespace {

// ---- Files in memory.

constexpr int kFirstDescriptor = 10000;

struct Memory {
  std::string top;
  std::string include;
  bool includesFail = false;  // every file but the top-level one
  size_t chunk = 0;           // bytes per read; 0: as many as asked for
  struct Open {
    const std::string *content;
    size_t at;
    bool used;
  };
  std::vector<Open> open;
};

Memory g_memory;
int (*g_close)(int) = nullptr;

int MemoryOpen(const char *path, int flags, mode_t) {
  if ((flags & O_ACCMODE) != O_RDONLY) {
    errno = EACCES;
    return -1;
  }
  bool nested = false;  // an include file: the top one is open already
  for (const Memory::Open &open : g_memory.open) nested = nested || open.used;
  if ((nested && g_memory.includesFail) || strncmp(path, "fail", 4) == 0) {
    errno = ENOENT;
    return -1;
  }
  const std::string *content =
      strcmp(path, "top") == 0 ? &g_memory.top : &g_memory.include;
  for (size_t i = 0;; ++i) {
    if (i == g_memory.open.size()) g_memory.open.push_back({});
    if (!g_memory.open[i].used) {
      g_memory.open[i] = {content, 0, true};
      return kFirstDescriptor + static_cast<int>(i);
    }
  }
}

Memory::Open *OpenFile(int descriptor) {
  size_t i = static_cast<size_t>(descriptor - kFirstDescriptor);
  if (descriptor < kFirstDescriptor || i >= g_memory.open.size() ||
      !g_memory.open[i].used) {
    return nullptr;
  }
  return &g_memory.open[i];
}

ssize_t MemoryRead(int descriptor, void *buffer, size_t size) {
  Memory::Open *file = OpenFile(descriptor);
  if (file == nullptr) {
    errno = EBADF;
    return -1;
  }
  size_t n = std::min(size, file->content->size() - file->at);
  if (g_memory.chunk != 0) n = std::min(n, g_memory.chunk);
  memcpy(buffer, file->content->data() + file->at, n);
  file->at += n;
  return static_cast<ssize_t>(n);
}

int MemoryClose(int descriptor) {
  Memory::Open *file = OpenFile(descriptor);
  if (file == nullptr) return g_close(descriptor);
  file->used = false;
  return 0;
}

void Serve() {
  g_close = vfuzz::ServeFiles(MemoryOpen, MemoryRead, MemoryClose);
}

// ---- Managers.

// A manager that creates what it reads; its own property can be neither
// set from a file (so that creating stays on) nor written.
VPropMgr NewManager() {
  VPropMgr manager = nullptr;
  FUZZ_CHECK(VPropMgrCreateWithFlags(&manager, VPROPMGR_FLAG_DYNAMIC) == 0);
  VPropertySetFlags(
      VPropMgrFind(manager, "Props.CheckNames"),
      VPROP_FLAG_CHECKNAMES | VPROP_FLAG_READONLY | VPROP_FLAG_NOWRITE);
  return manager;
}

// The record after a reading; under an allocation failure the state may
// not have been made (record untouched) or the record's copy of the file
// name may have failed.
void CheckRecord(VRC rc, const VPropParseError &error, bool faulty) {
  FUZZ_CHECK(memchr(error.text, 0, sizeof error.text) != nullptr);
  bool untouched = error.text[0] == '\0' && error.file == nullptr &&
                   error.code == 0 && error.line == 0;
  if (rc == 0 && error.text[0] == '\0') {
    FUZZ_CHECK(error.file == nullptr);
    return;
  }
  if (untouched) {
    FUZZ_CHECK(faulty && rc == ENOMEM);
    return;
  }
  FUZZ_CHECK(error.code == rc);
  FUZZ_CHECK(error.line >= 1);
  FUZZ_CHECK(error.file != nullptr || faulty);
  // A stop that leaves the code at 0: a syntax error, or an include
  // statement short of memory.
  if (rc == 0) {
    FUZZ_CHECK(strcmp(error.text, "syntax error") == 0 ||
               (faulty && strcmp(error.text, "Out of memory") == 0));
  }
}

VRC Read(VPropMgr manager, VPropParseError *error, bool faulty = false) {
  *error = VPropParseError{};
  VRC rc = VPropMgrParseFile(manager, "top", error);
  CheckRecord(rc, *error, faulty);
  return rc;
}

std::string Write(VPropMgr manager) {
  char *data = nullptr;
  size_t size = 0;
  FILE *stream = open_memstream(&data, &size);
  FUZZ_CHECK(VPropMgrWriteToStream(manager, stream) == 0);
  fclose(stream);
  std::string out(data, size);
  free(data);
  return out;
}

struct Property {
  std::string name;
  VTypedValue value;  // owned copy
};

int Collect(void *item, void *argument) {
  auto *all = static_cast<std::vector<Property> *>(argument);
  auto property = static_cast<VProperty>(item);
  if ((VPropertyGetFlags(property) & VPROP_FLAG_NOWRITE) != 0) return 0;
  Property p{VPropertyGetName(property), {}};
  FUZZ_CHECK(VPropertyGetValue(property, &p.value) == 0);
  all->push_back(p);
  return 0;
}

std::vector<Property> Properties(VPropMgr manager) {
  std::vector<Property> all;
  FUZZ_CHECK(VPropMgrWalk(manager, Collect, &all, 1) == 0);
  return all;
}

void Release(std::vector<Property> *all) {
  for (Property &p : *all) VTypedValueFreeValue(&p.value);
}

// What a value becomes when written and read back.
bool SameAfterRoundTrip(const VTypedValue &first, const VTypedValue &again) {
  const VValue &a = first.value;
  const VValue &b = again.value;
  switch (first.type) {
    case VDT_REAL: {
      char text[512];
      snprintf(text, sizeof text, "%f", a.realValue);
      return again.type == VDT_REAL && b.realValue == strtod(text, nullptr);
    }
    case VDT_UTC:
      return again.type == VDT_INTEGER64 && b.integer64Value == a.utcValue;
    case VDT_STRING: {
      char *expanded = nullptr;
      FUZZ_CHECK(VEnvExpandString(a.stringValue.text, &expanded) == 0);
      bool same =
          again.type == VDT_STRING && strcmp(b.stringValue.text, expanded) == 0;
      free(expanded);
      return same;
    }
    case VDT_BINARY:
      return again.type == VDT_BINARY &&
             a.binaryValue.length == b.binaryValue.length &&
             memcmp(a.binaryValue.data, b.binaryValue.data,
                    a.binaryValue.length) == 0;
    default:
      return again.type == first.type && VValueComp(a, b, first.type) == 0;
  }
}

// Whether a text is whole characters of the current locale.  An escape
// may make a byte that is none (a lone continuation byte in UTF-8); the
// writer puts such a byte as it is, and reading it back in that locale
// stops at its value.
bool WholeCharacters(const char *text) {
  if (MB_CUR_MAX == 1) return true;
  mbstate_t state{};
  for (size_t left = strlen(text); left > 0;) {
    size_t n = static_cast<unsigned char>(*text) < 0x80
                   ? 1
                   : mbrlen(text, left, &state);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2)) {
      return false;
    }
    text += n;
    left -= n;
  }
  return true;
}

// The second reading against the first: the same properties in name
// order up to the first binary one (which it creates, then refuses) or
// the first text that is not whole characters (which it does not reach),
// and an include statement, if any, as the end.
void CheckRoundTrip(VPropMgr first, const std::string &written) {
  std::vector<Property> before = Properties(first);
  VPropMgr second = NewManager();
  g_memory.top = written;
  g_memory.includesFail = true;
  VPropParseError error;
  VRC rc = Read(second, &error);
  std::vector<Property> after = Properties(second);
  size_t expected = before.size();
  VRC expectedRc = written.find("\ninclude ") != std::string::npos ? ENOENT : 0;
  for (size_t i = 0; i < before.size(); ++i) {
    const VTypedValue &v = before[i].value;
    if (v.type == VDT_STRING && !WholeCharacters(v.value.stringValue.text)) {
      expected = i;
      expectedRc = EILSEQ;
      break;
    }
    if (v.type != VDT_BINARY) continue;
    expected = i + 1;
    expectedRc = VRC_TYPE_MISMATCH;
    FUZZ_CHECK(strncmp(error.text, before[i].name.c_str(),
                       VPROP_ERROR_TEXT_SIZE - 1) == 0);
    break;
  }
  FUZZ_CHECK(rc == expectedRc);
  FUZZ_CHECK(after.size() == expected);
  for (size_t i = 0; i < expected; ++i) {
    FUZZ_CHECK(after[i].name == before[i].name);
    FUZZ_CHECK(SameAfterRoundTrip(before[i].value, after[i].value));
  }
  free(error.file);
  Release(&before);
  Release(&after);
  VPropMgrDestroy(second);
}

void Setup() {
  clearenv();
  setenv("A", "1", 1);
  setenv("HOME", "/h", 1);
  setenv("VDE_DEFAULT_LOG_LEVEL", "fatal", 1);
  FUZZ_CHECK(VInitialise("prop_reader_fuzz", "stderr") == 0);
  VLogMgrSetLevel(VLOG_FATAL + 1);  // nothing to say here
  Serve();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = false;
  if (!ready) {
    Setup();
    ready = true;
  }
  vfuzz::Input in(data, size);
  vfuzz::AllocFault fault(in.Byte());
  uint8_t reading = in.Byte();
  g_memory.chunk = reading >> 1;
  // Quoted texts must be valid characters in a multibyte locale.
  FUZZ_CHECK(setlocale(LC_ALL, (reading & 1) != 0 ? "C.UTF-8" : "C") !=
             nullptr);
  std::string text(reinterpret_cast<const char *>(data) + (size - in.left()),
                   in.left());
  size_t split = text.find("\n@@@\n");
  g_memory.top = text.substr(0, split);
  g_memory.include = split == std::string::npos ? "" : text.substr(split + 5);
  g_memory.includesFail = false;

  // Under an allocation failure: ENOMEM, or done; nothing left behind.
  VPropMgr manager = NewManager();
  VPropParseError error;
  fault.Arm();
  VRC rc = Read(manager, &error, /*faulty=*/true);
  bool fired = fault.Disarm();
  if (rc == ENOMEM) FUZZ_CHECK(fired);
  free(error.file);
  VPropMgrDestroy(manager);

  manager = NewManager();
  Read(manager, &error);
  free(error.file);
  CheckRoundTrip(manager, Write(manager));
  VPropMgrDestroy(manager);
  for (const Memory::Open &open : g_memory.open) FUZZ_CHECK(!open.used);
  return 0;
}
