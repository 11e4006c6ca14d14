// Argument vectors against a model of processing written from its
// contract: the "-name" interlock, the early "-propsfile" and its file,
// the main pass with the built-in options, "--", undefined arguments and
// the program's own arguments; the properties' values, the code, the
// program's start position and the undefined words in the exception chain
// must agree.  Then the usage string, and processing under an allocation
// failure at an input-chosen point (ENOMEM or done, nothing left behind).
//
// Input: a byte of switches (undefined-argument processing, "-name"
// defined, an interlock, null entries after the vector), a byte choosing
// the allocation failure, then the words, separated by NUL bytes.
// Properties files are served from memory: any path but the empty one and
// those beginning with "fail" holds "port: 7 host: 'file'".
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>

#include <string>
#include <vector>

#include "fuzz_support.h"
#include "vantrel/vargs.h"
#include "vantrel/vexcept.h"
#include "vantrel/vlog.h"
#include "vantrel/vservices.h"
#include "vantrel/vstring.h"
#include "vantrel/vthread.h"

namespace {

// ---- The properties file, from memory.

constexpr char kFile[] = "port: 7 host: 'file'\n";
constexpr int kDescriptor = 20000;
size_t g_fileAt = 0;
int (*g_close)(int) = nullptr;

int MemoryOpen(const char *path, int flags, mode_t) {
  if ((flags & O_ACCMODE) != O_RDONLY || path[0] == '\0' ||
      strncmp(path, "fail", 4) == 0) {
    errno = ENOENT;
    return -1;
  }
  g_fileAt = 0;
  return kDescriptor;
}

ssize_t MemoryRead(int, void *buffer, size_t size) {
  size_t n = std::min(size, sizeof kFile - 1 - g_fileAt);
  memcpy(buffer, kFile + g_fileAt, n);
  g_fileAt += n;
  return static_cast<ssize_t>(n);
}

int MemoryClose(int descriptor) {
  return descriptor == kDescriptor ? 0 : g_close(descriptor);
}

void Serve() {
  g_close = vfuzz::ServeFiles(MemoryOpen, MemoryRead, MemoryClose);
}

// ---- What processing should leave.

struct State {
  int32_t port = 0;
  int32_t debug = 0;
  std::string host;
  int64_t big = 0;
  double ratio = 0;
  int32_t level = 0;
  std::string propsFile;
  std::string name;
  int32_t userStart = -1;
  std::vector<std::string> undefined;
  std::vector<std::string> interlocked;
};

struct Switches {
  bool undefinedArgs;
  bool nameOption;
  bool interlock;
  bool trailingNulls;
};

constexpr VRC kVeto = 99;

bool Is(const std::string &word, const char *text) { return word == text; }

bool ValidInteger(const std::string &text) {
  char *end = nullptr;
  strtol(text.c_str(), &end, 10);
  return *end == '\0';
}

int32_t AsInteger(const std::string &text) {
  long v = strtol(text.c_str(), nullptr, 0);
  return v > INT32_MAX ? INT32_MAX : v < INT32_MIN ? INT32_MIN : int32_t(v);
}

bool ValidInteger64(const std::string &text) {
  size_t i = 0;
  while (i < text.size() && isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && text[i] == '-') ++i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  return i == text.size();
}

// The model of processing the words (argv[1] onward).
class Model {
 public:
  Model(const std::vector<std::string> &words, Switches s) : w_(words), s_(s) {}

  VRC Run(State *state) {
    st_ = state;
    st_->userStart = -1;
    int n = static_cast<int>(w_.size());
    if (s_.interlock && s_.nameOption) {
      for (int i = 0; i < n && !Is(w_[i], "--"); ++i) {
        if (!Is(w_[i], "-name")) continue;
        int used = 1;
        VRC rc = Option(i, &used);
        if (rc != 0) return rc;
        std::string value = used == 2 ? w_[i + 1] : "";
        st_->interlocked.push_back(value);
        if (value == "veto") return kVeto;
        break;
      }
    }
    for (int i = 0; i < n && !Is(w_[i], "--"); ++i) {
      if (!Is(w_[i], "-propsfile")) continue;
      int used = 1;
      VRC rc = Option(i, &used);
      if (rc != 0) return rc;
      break;
    }
    std::string path = st_->propsFile.substr(0, 259);
    if (!path.empty() && path.compare(0, 4, "fail") != 0) {
      st_->port = 7;
      st_->host = "file";
    }
    return MainPass(n);
  }

 private:
  // A defined option at index i; kinds and conversions as processing does.
  VRC Option(int i, int *used) {
    const std::string &o = w_[i];
    *used = 1;
    if (Is(o, "-debug") || Is(o, "-nodebug")) {
      st_->debug = Is(o, "-debug");
      return 0;
    }
    if (i + 1 >= static_cast<int>(w_.size())) return VRC_ARG_NO_VALUE;
    *used = 2;
    const std::string &v = w_[i + 1];
    if (Is(o, "-port") || Is(o, "-level")) {
      if (!ValidInteger(v)) return VRC_TYPE_MISMATCH;
      (Is(o, "-port") ? st_->port : st_->level) = AsInteger(v);
    } else if (Is(o, "-big")) {
      if (!ValidInteger64(v)) return VRC_TYPE_MISMATCH;
      st_->big = strtoll(v.c_str(), nullptr, 10);
    } else if (Is(o, "-ratio")) {
      st_->ratio = strtod(v.c_str(), nullptr);
    } else if (Is(o, "-u64")) {
      return VRC_INTERNAL_ERROR;
    } else if (Is(o, "-host")) {
      st_->host = v;
    } else if (Is(o, "-propsfile")) {
      st_->propsFile = v;
    } else {  // -name
      st_->name = v;
    }
    return 0;
  }

  bool Defined(const std::string &word) const {
    for (const char *o : {"-port", "-debug", "-nodebug", "-host", "-big",
                          "-ratio", "-level", "-u64", "-propsfile"}) {
      if (word == o) return true;
    }
    return s_.nameOption && word == "-name";
  }

  VRC MainPass(int n) {
    for (int i = 0; i < n;) {
      const std::string &a = w_[i];
      bool hasValue = i + 1 < n;
      if (Is(a, "-name")) {
        if (hasValue) st_->name = w_[i + 1];
        i += hasValue ? 2 : 1;
        continue;
      }
      if (Is(a, "-propsfile")) {
        i += hasValue ? 2 : 1;
        continue;
      }
      if (Is(a, "-advanced")) {  // "-level" is advanced
        ++i;
        continue;
      }
      if (Is(a, "--")) {
        st_->userStart = i + 2;  // argv counts the program first
        return 0;
      }
      if (s_.undefinedArgs && (a.empty() || a[0] != '-')) {
        st_->userStart = i + 1;
        return 0;
      }
      if (!Defined(a)) {
        st_->undefined.push_back(a);
        ++i;
        continue;
      }
      int used = 1;
      VRC rc = Option(i, &used);
      if (rc != 0) return rc;
      i += used;
    }
    return 0;
  }

  const std::vector<std::string> &w_;
  Switches s_;
  State *st_ = nullptr;
};

// ---- The library's managers.

VRC Interlock(VArgMgr, const char *name, void *argument) {
  static_cast<std::vector<std::string> *>(argument)->push_back(name);
  return strcmp(name, "veto") == 0 ? kVeto : 0;
}

struct Managers {
  VPropMgr props = nullptr;
  VArgMgr args = nullptr;
  std::vector<std::string> interlocked;
};

void Define(VPropMgr m, const char *name, VTypedValue v, uint32_t flags = 0) {
  FUZZ_CHECK(VPropMgrDefineWithFlags(m, name, "", &v, flags) == 0);
}

VTypedValue Text(const char *text) {
  VTypedValue v{VDT_STRING, VValue{}};
  v.value.stringValue.text = const_cast<char *>(text);
  v.value.stringValue.length = static_cast<uint32_t>(strlen(text));
  return v;
}

void Make(Managers *m, Switches s) {
  FUZZ_CHECK(VPropMgrCreateWithFlags(&m->props, 0) == 0);
  Define(m->props, "port", VTypedValue{VDT_INTEGER, VValue{}});
  Define(m->props, "debug", VTypedValue{VDT_BOOLEAN, VValue{}});
  Define(m->props, "host", Text(""));
  Define(m->props, "big", VTypedValue{VDT_INTEGER64, VValue{}});
  Define(m->props, "ratio", VTypedValue{VDT_REAL, VValue{}});
  Define(m->props, "level", VTypedValue{VDT_INTEGER, VValue{}},
         VPROP_FLAG_ADVANCED);
  Define(m->props, "u64", VTypedValue{VDT_UNSIGNED64, VValue{}});
  Define(m->props, "PropsFile", Text(""));
  Define(m->props, "Name", Text(""));
  FUZZ_CHECK(VArgMgrCreate(m->props, &m->args) == 0);
  struct Row {
    const char *option, *property, *help;
  };
  for (const Row &r :
       {Row{"-port", "port", "port %d"}, Row{"-host", "host", "host %s"},
        Row{"-big", "big", "big %lld"}, Row{"-ratio", "ratio", "ratio %f"},
        Row{"-level", "level", "level %d"}, Row{"-u64", "u64", "u64"},
        Row{"-propsfile", "PropsFile", "file %s"}}) {
    FUZZ_CHECK(VArgMgrDefineWithFlags(m->args, r.option, r.property, r.help,
                                      VARG_KIND_VALUE, nullptr, 0) == 0);
  }
  VTypedValue on{VDT_BOOLEAN, VValue{}};
  on.value.booleanValue = 1;
  FUZZ_CHECK(VArgMgrDefineWithFlags(m->args, "-debug", "debug", "debug %s",
                                    VARG_KIND_SWITCH, &on, 0) == 0);
  on.value.booleanValue = 0;
  FUZZ_CHECK(VArgMgrDefineWithFlags(m->args, "-nodebug", "debug", nullptr,
                                    VARG_KIND_SWITCH, &on, 0) == 0);
  if (s.nameOption) {
    FUZZ_CHECK(VArgMgrDefineWithFlags(m->args, "-name", "Name", "name %s",
                                      VARG_KIND_VALUE, nullptr, 0) == 0);
  }
  if (s.interlock) {
    FUZZ_CHECK(VArgMgrInterlock(m->args, Interlock, &m->interlocked) ==
               (s.nameOption ? 0 : VRC_FAILURE));
  }
  if (s.undefinedArgs) VArgMgrEnableUndefinedArgProcessing(m->args);
}

void Destroy(Managers *m) {
  VArgMgrDestroy(m->args);
  VPropMgrDestroy(m->props);
}

VTypedValue Value(VPropMgr m, const char *name) {
  VTypedValue v{};
  FUZZ_CHECK(VPropMgrGetValue(m, name, &v) == 0);
  return v;
}

std::string TextOf(VPropMgr m, const char *name) {
  VTypedValue v = Value(m, name);
  std::string out = v.value.stringValue.text;
  VTypedValueFreeValue(&v);
  return out;
}

// The chain the undefined words should leave: every word while the string
// pool has room, at most 16 entries.
std::string ExpectedChain(const std::vector<std::string> &undefined) {
  if (undefined.empty()) return "";
  std::string out = "'UndefinedArgument' exception occured:\n";
  size_t pool = 0;
  for (size_t i = 0; i < undefined.size() && i < 16; ++i) {
    out += "\tUndefined argument";
    if (pool + undefined[i].size() + 1 <= 1024) {
      out += ": " + undefined[i];
      pool += undefined[i].size() + 1;
    }
    out += "\n";
  }
  return out;
}

void Compare(const Managers &m, const State &want) {
  VPropMgr p = m.props;
  FUZZ_CHECK(Value(p, "port").value.integerValue == want.port);
  FUZZ_CHECK(Value(p, "debug").value.booleanValue == want.debug);
  FUZZ_CHECK(Value(p, "level").value.integerValue == want.level);
  FUZZ_CHECK(Value(p, "big").value.integer64Value == want.big);
  double ratio = Value(p, "ratio").value.realValue;
  FUZZ_CHECK(ratio == want.ratio ||
             (ratio != ratio && want.ratio != want.ratio));
  FUZZ_CHECK(TextOf(p, "host") == want.host);
  FUZZ_CHECK(TextOf(p, "PropsFile") == want.propsFile);
  FUZZ_CHECK(TextOf(p, "Name") == want.name);
  FUZZ_CHECK(VArgMgrGetUserStartPosition(m.args) == want.userStart);
  FUZZ_CHECK(m.interlocked == want.interlocked);
  char *chain = nullptr;
  VThreadExceptionToBuffer(VThreadGetID(), &chain);
  FUZZ_CHECK((chain != nullptr ? std::string(chain) : "") ==
             ExpectedChain(want.undefined));
  free(chain);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  static bool ready = false;
  if (!ready) {
    // The exception chain lives in the thread record that start-up makes.
    setenv("VDE_DEFAULT_LOG_LEVEL", "fatal", 1);
    FUZZ_CHECK(VInitialise("args_fuzz", "stderr") == 0);
    VLogMgrSetLevel(VLOG_FATAL + 1);  // nothing to say, nothing fatal
    Serve();
    ready = true;
  }
  vfuzz::Input in(data, size);
  uint8_t bits = in.Byte();
  Switches s{(bits & 1) != 0, (bits & 2) != 0, (bits & 4) != 0,
             (bits & 8) != 0};
  vfuzz::AllocFault fault(in.Byte());
  std::vector<std::string> words;
  std::string rest(reinterpret_cast<const char *>(data) + (size - in.left()),
                   in.left());
  for (size_t at = 0; at < rest.size() && words.size() < 64;) {
    size_t end = rest.find('\0', at);
    if (end == std::string::npos) end = rest.size();
    words.push_back(rest.substr(at, end - at));
    at = end + 1;
  }
  std::vector<char *> argv{const_cast<char *>("prog")};
  for (std::string &w : words) argv.push_back(w.data());
  int argc = static_cast<int>(argv.size()) + (s.trailingNulls ? 3 : 0);
  argv.resize(static_cast<size_t>(argc) + 1, nullptr);

  Managers m;
  Make(&m, s);
  State want;
  VRC expected = Model(words, s).Run(&want);
  VRC rc = VArgMgrProcessWithDumpProps(m.args, argc, argv.data(), 0);
  FUZZ_CHECK(rc == expected);
  if (rc == 0) Compare(m, want);
  vb_buffer help;
  FUZZ_CHECK(VArgHelpAsString(m.args, &help) == 0);
  vb_free(&help);
  Destroy(&m);

  Make(&m, s);
  fault.Arm();
  rc = VArgMgrProcessWithDumpProps(m.args, argc, argv.data(), 0);
  bool fired = fault.Disarm();
  if (!fired) FUZZ_CHECK(rc == expected);
  if (rc == ENOMEM) FUZZ_CHECK(fired);
  Destroy(&m);
  return 0;
}
