// Every exported function, called with a null in each of its pointer
// parameters in turn, must return rather than crash (the rule stated in
// vbase.h).  The list of functions is generated from the public headers
// (null_functions.inc), so a new exported function is covered without an
// edit here; each call runs in a child process of its own, and the test
// fails when a child ends by a signal, exits with a status of its own or
// hangs.
//
// The other arguments come from the factories below, one per parameter
// type: real objects of the library and writable buffers, so that a crash
// is the null's fault and not that of a made-up handle.  A parameter type
// without a factory stops the build; a new handle type needs one line.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vantrel.h>

#include <filesystem>
#include <set>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

// The probes pass each function's type as a template argument, where its
// format and sentinel attributes are dropped; that is all this would report.
#pragma GCC diagnostic ignored "-Wignored-attributes"

namespace {

// Calls that may not take a null in the given (1-based) position, with the
// reason.  Position 0 exempts every position of the function.
struct Exemption {
  const char *function;
  size_t position;
  const char *reason;
};

constexpr Exemption kExemptions[] = {
    // None: every exported function honours the rule.  An entry here must
    // name a function of the interface, or the test fails.
    {nullptr, 0, nullptr},
};

// ---------------------------------------------------------------------------
// Factories: Make<T>::Get() returns a plausible argument of type T.

template <typename T>
struct Make {
  static_assert(sizeof(T) == 0,
                "no factory for this parameter type: add one to "
                "null_args_test.cpp");
};

// A factory returning an expression, and one for a handle `h` that a
// creating call fills in through its out-parameter.
#define MAKE(T, ...)                       \
  template <>                              \
  struct Make<T> {                         \
    static T Get() { return __VA_ARGS__; } \
  }
#define MAKE_OUT(T, ...) \
  template <>            \
  struct Make<T> {       \
    static T Get() {     \
      T h{};             \
      __VA_ARGS__;       \
      return h;          \
    }                    \
  }

// Numbers: small and positive, so that sizes, counts and log levels all
// make the call do its work (4 is the error level: messages are written).
template <typename T>
requires std::is_arithmetic_v<T>
struct Make<T> {
  static T Get() { return T(4); }
};

// Pointers to numbers and out-parameters of every handle type: fresh zeroed
// storage.  Out-parameters of pointers start out null, as an allocated
// string does.
template <typename T>
requires(std::is_arithmetic_v<T> && !std::is_const_v<T>) struct Make<T *> {
  static T *Get() { return new T{}; }
};

template <typename T>
struct Make<T **> {
  // Room for a few, so that a vector of them (argv) reads as empty.
  static T **Get() {
    return new T *[8] {};
  }
};

// What a read-only pointer gets is what the writable one would.
template <typename T>
struct Make<const T *> {
  static const T *Get() { return Make<T *>::Get(); }
};

// Untyped data and items: zeroed memory with room on both sides, so that a
// link header read in front of it stays inside the block.
MAKE(void *, static_cast<char *>(calloc(1, 4096)) + 1024);
MAKE(char *, static_cast<char *>(calloc(1, 4096)));
MAKE(const char *, "");
MAKE(FILE *, fopen("/dev/null", "r+"));

// va_list parameters are never given a null; they receive the argument
// list of the variadic frame every call runs in.  (The type is taken from
// an expression: naming it through va_list trips an attribute warning.)
va_list *g_args = nullptr;
using VaListArg = decltype(&(*g_args)[0]);

// Callbacks.  Items of the factories' containers begin with a text.
int CompareTexts(const void *a, const void *b, void *) {
  const char *x = static_cast<const char *>(a);
  const char *y = static_cast<const char *>(b);
  if (x == nullptr || y == nullptr) return (x != nullptr) - (y != nullptr);
  return strcmp(x, y);
}
int VisitNothing(void *, void *) { return 0; }
void *CopyNothing(const void *, void *) { return nullptr; }
void PrintNothing(FILE *, const void *, void *) {}
VRC RunBriefly(VThread, void *) { return 0; }
void InitialiseNothing(void) {}

MAKE(VAllocFunc, malloc);
MAKE(VReleaseFunc, free);
MAKE(VVisitFunc, VisitNothing);
MAKE(VCompareFunc, CompareTexts);
MAKE(VHashFunc, VHashString2);
MAKE(VHashCopyFunc, CopyNothing);
MAKE(VTreePrintFunc, PrintNothing);
MAKE(VStringDupFunc, strdup);
MAKE(VThreadRoutine, RunBriefly);
MAKE(VOneTimeRoutine, InitialiseNothing);

// Containers, each holding a few items.
constexpr const char *kTexts[] = {"alpha", "beta", "gamma"};

// The container c with the texts added as items from alloc.
template <typename C, typename Add>
C *WithTexts(C *c, void *(*alloc)(size_t), Add add) {
  for (const char *text : kTexts)
    add(c, strcpy(static_cast<char *>(alloc(16)), text));
  return c;
}

MAKE(VList *,
     WithTexts(VListCreateWith(malloc), VListAlloc, [](VList *c, void *item) {
       VListInsertAfter(c, item, VListTail(c));
     }));
MAKE(VHash *, WithTexts(VHashCreateWith(malloc, 7, VHashString2, nullptr,
                                        CompareTexts, nullptr),
                        VHashAlloc, VHashInsert));
MAKE(VHashCursor *, VHashCursorOpen(Make<VHash *>::Get()));
MAKE(VDHash *, WithTexts(VDHashCreateWith(malloc, 7, VHashString2, nullptr,
                                          CompareTexts, nullptr, VHashStringIC,
                                          nullptr, CompareTexts, nullptr),
                         VDHashAlloc, VDHashInsert));
MAKE(VDHashCursor *, VDHashCursorOpen(Make<VDHash *>::Get()));
MAKE(VHashList *, WithTexts(VHashListCreateWith(malloc, 7, VHashString2,
                                                nullptr, CompareTexts, nullptr),
                            VHashListAlloc, [](VHashList *c, void *item) {
                              VHashListInsertAfter(c, item, VHashListTail(c));
                            }));
MAKE(VTree *, WithTexts(VTreeCreateWith(malloc, CompareTexts, nullptr),
                        VTreeAlloc, VTreeInsert));
MAKE(VIncrAllocator *, VIncrAllocatorCreate(256));

// Values.
MAKE(VValue, VValue{});
MAKE(VValue *, new VValue{});
MAKE(VTypedValue, VTypedValue{VDT_INTEGER, VValue{}});
MAKE(VTypedValue *, new VTypedValue{Make<VTypedValue>::Get()});
MAKE(VNamedValue *, VNamedValueCreateFromValue("name", VDT_INTEGER,
                                               new VValue{}, malloc, free));
MAKE(VColumnTypeInfo, VColumnTypeInfo{VCT_INTEGER, 0});
MAKE_OUT(VColumnDef *, VColumnDefCreate("column", Make<VColumnTypeInfo>::Get(),
                                        0, nullptr, malloc, &h));
MAKE(VBinary *, new VBinary{});

// A compiled expression that has matched, so that its sub-expressions and
// substitutions have something to read.
MAKE_OUT(VRegexp, VRegexpCompile("(a+)(b*)", &h); VRegexpMatch(h, "xaab"));

// Text, time and return codes.
MAKE_OUT(vb_buffer *, h = new vb_buffer; vb_init(h));
MAKE(struct tm *, new ::tm{.tm_mday = 1, .tm_year = 100});
MAKE(VTimeval *, new VTimeval{1, 2});
template <>
struct Make<VRCEntry *> {
  static VRCEntry *Get() {
    auto *table = new VRCEntry[8];
    for (int i = 0; i < 8; ++i) table[i] = VRCEntry{-1000 - i, 1, 1, "text"};
    return table;
  }
};

// Localisation handles: null is every catalog's and locale's valid value.
MAKE(VI18nCatalog, nullptr);
MAKE(VI18nLocale, nullptr);

// Threads and synchronisation.
MAKE(VThread, (VInitialise("abi_null_args", "stderr"), VThreadGetID()));
MAKE(VThreadAttr *, new VThreadAttr{});
MAKE_OUT(VThreadDataKey, VThreadDataKeyCreate(&h));
MAKE_OUT(VMutex, VMutexCreate("abi_null_args", &h));
MAKE_OUT(VRWLock, VRWLockCreate("abi_null_args", &h));
MAKE_OUT(VCond, VCondCreate(&h));
MAKE_OUT(VEvent, VEventCreate(&h));
MAKE_OUT(VGate, VGateCreate(&h));
MAKE_OUT(VSemaphore, VSemaphoreCreateN(1, &h));
MAKE(VOneTime *, new VOneTime VONETIME_INIT);

// Services.
VRC RunJob(void *) { return 0; }
VRC JobDone(VThreadPoolJob, void *) { return 0; }
MAKE_OUT(VMsgQueue, VMsgQueueCreate(&h); VMsgQueuePut(h, &h));
MAKE_OUT(VThreadPool, VThreadPoolCreate(1, &h));
MAKE_OUT(VThreadPoolJob,
         VThreadPoolJobSubmit(Make<VThreadPool>::Get(), "job", RunJob, nullptr,
                              nullptr, nullptr, 0, &h));
MAKE(VThreadPoolRoutine, RunJob);
MAKE(VThreadPoolCallback, JobDone);
// Its handler has the job routines' type, whose factory serves both.
MAKE(VTimer, VTimerCreate(RunJob, nullptr, "timer"));
MAKE(VEvent *, new VEvent{Make<VEvent>::Get()});

// Logging.
MAKE_OUT(VLogFile, VLogFileOpen("stderr", &h));

// Sockets.  Address handles are made by the IP driver, which start-up loads
// from VTHOME (the test's environment names the staged modules).
MAKE(struct sockaddr *, reinterpret_cast<struct sockaddr *>(new sockaddr_in{
                            AF_INET, 0, {htonl(INADDR_LOOPBACK)}, {}}));
template <>
struct Make<VSocketIPAddrHdl> {
  static VSocketIPAddrHdl Get() {
    VInitialise("abi_null_args", "stderr");
    VSocketIPAddrHdl hdl = nullptr;
    if (VSocketIPAddrHdlCreate("127.0.0.1", 0, &hdl) != 0) {
      fprintf(stderr, "no IP driver loaded: VTHOME must name the stage\n");
      abort();
    }
    return hdl;
  }
};

// Data encryption.
const unsigned char kKey[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
MAKE_OUT(VDataCryptContext,
         VDataCryptSetupContextWithKey("AES_CBC", kKey, sizeof kKey, &h));

// A VSocket is an int, so it gets the numbers' 4: every socket operation
// refuses a null pointer before it touches the socket, and the calls that
// then run (a send of nothing, a wait list) never wait on any descriptor.

// Host and service lookup, system and process information.
MAKE(struct servent *, new servent{});
MAKE(struct hostent *, new hostent{});
MAKE(VSystemName *, new VSystemName{});
MAKE_OUT(VProcess, VProcessGet(getpid(), &h));

// Properties and arguments: a manager with a few properties, an alias and
// a callback, and an argument manager with options bound to them.
VRC AcceptChange(VProperty, const VTypedValue *, void *) { return 0; }
VRC AcceptName(VArgMgr, const char *, void *) { return 0; }
MAKE(VPropertyCallback, AcceptChange);
MAKE(VArgInterlockCallback, AcceptName);
template <>
struct Make<VPropMgr> {
  static VPropMgr Get() {
    VPropMgr manager = nullptr;
    VPropMgrCreateWithFlags(&manager, 0);
    VTypedValue port{VDT_INTEGER, VValue{}};
    port.value.integerValue = 4100;
    VPropMgrDefineWithFlags(manager, "port", "port", &port, 0);
    VTypedValue host{VDT_STRING, VValue{}};
    host.value.stringValue.text = const_cast<char *>("localhost");
    host.value.stringValue.length = 9;
    VPropMgrDefineWithFlags(manager, "host", "host", &host, VPROP_FLAG_EXPAND);
    VPropMgrAddAlias(manager, "port", "oldport");
    VPropMgrAddCallback(manager, "port", AcceptChange, nullptr);
    return manager;
  }
};
MAKE(VProperty, VPropMgrFind(Make<VPropMgr>::Get(), "port"));
MAKE(VPropParseError *, new VPropParseError{});
template <>
struct Make<VPropTableRow *> {
  static VPropTableRow *Get() {
    auto *rows = new VPropTableRow[4];
    const char *names[] = {"a", "b", "c", "d"};
    for (int i = 0; i < 4; ++i) {
      rows[i] = VPropTableRow{names[i], "row", "Rows", VDT_INTEGER, nullptr, 0};
    }
    return rows;
  }
};
template <>
struct Make<VArgMgr> {
  static VArgMgr Get() {
    VArgMgr manager = nullptr;
    VArgMgrCreate(Make<VPropMgr>::Get(), &manager);
    VArgMgrDefineWithFlags(manager, "-port", "port", "port (%d)",
                           VARG_KIND_VALUE, nullptr, 0);
    VTypedValue on{VDT_INTEGER, VValue{}};
    VArgMgrDefineWithFlags(manager, "-zero", "port", "zero the port",
                           VARG_KIND_SWITCH, &on, 0);
    return manager;
  }
};
template <>
struct Make<VArgTableRow *> {
  static VArgTableRow *Get() {
    auto *rows = new VArgTableRow[4];
    const char *options[] = {"-a", "-b", "-c", "-d"};
    for (int i = 0; i < 4; ++i) {
      rows[i] = VArgTableRow{options[i],  "port",  "%d", VARG_KIND_VALUE,
                             VDT_INTEGER, nullptr, 0};
    }
    return rows;
  }
};

// ---------------------------------------------------------------------------
// Probes: one case per function and pointer position.

using Call = void (*)();

struct Case {
  std::string function;
  size_t position;  // 1-based
  Call call;
};

std::vector<Case> g_cases;

template <typename T>
constexpr bool kTakesNull =
    std::is_pointer_v<T> && !std::is_same_v<T, VaListArg>;

template <typename T, size_t I, size_t Null>
T Arg() {
  if constexpr (I == Null) {
    return nullptr;
  } else if constexpr (std::is_same_v<T, VaListArg>) {
    return *g_args;
  } else {
    return Make<T>::Get();
  }
}

// The parameter types of a function, and whether it is variadic.
template <typename F>
struct Signature;
template <typename R, typename... A>
struct Signature<R(A...)> {
  using Params = std::tuple<A...>;
  static constexpr bool kVariadic = false;
};
template <typename R, typename... A>
struct Signature<R(A..., ...)> {
  using Params = std::tuple<A...>;
  static constexpr bool kVariadic = true;
};

// The cases of one function: the argument at each pointer position in turn
// is null.  Variadic functions get one null after their fixed arguments,
// which ends a list of path pieces and is ignored by an empty format.
template <auto Fn>
struct Probe {
  using Sig = Signature<std::remove_pointer_t<decltype(Fn)>>;
  using Params = typename Sig::Params;
  static constexpr size_t kCount = std::tuple_size_v<Params>;
  template <size_t I>
  using Param = std::tuple_element_t<I, Params>;

  template <size_t Null>
  static void Run() {
    [&]<size_t... I>(std::index_sequence<I...>) {
      if constexpr (Sig::kVariadic) {
        (void)Fn(Arg<Param<I>, I, Null>()..., static_cast<void *>(nullptr));
      } else {
        (void)Fn(Arg<Param<I>, I, Null>()...);
      }
    }
    (std::make_index_sequence<kCount>{});
  }

  static void Add(const char *name) {
    [&]<size_t... I>(std::index_sequence<I...>) {
      (AddIfPointer<I>(name), ...);
    }
    (std::make_index_sequence<kCount>{});
  }

  template <size_t I>
  static void AddIfPointer(const char *name) {
    if constexpr (kTakesNull<Param<I>>) {
      g_cases.push_back({name, I + 1, &Run<I>});
    }
  }
};

void AddAllCases() {
#define NULL_PROBE(name) Probe<&name>::Add(#name);
#include "null_functions.inc"
#undef NULL_PROBE
}

// ---------------------------------------------------------------------------
// Running the cases.

// The frame whose argument list the va_list parameters receive.
void RunInVariadicFrame(Call call, ...) {
  va_list args;
  va_start(args, call);
  g_args = &args;
  call();
  va_end(args);
}

constexpr unsigned kHangSeconds = 20;

// Runs one case in a child whose output goes to the null device; returns
// what went wrong, or an empty string.
std::string RunCase(const Case &c) {
  fflush(nullptr);
  pid_t child = fork();
  if (child < 0) return "fork failed";
  if (child == 0) {
    int devnull = open("/dev/null", O_RDWR);
    dup2(devnull, STDOUT_FILENO);
    dup2(devnull, STDERR_FILENO);
    alarm(kHangSeconds);
    RunInVariadicFrame(c.call, 0);
    _exit(0);
  }
  int status = 0;
  if (waitpid(child, &status, 0) != child) return "lost the child";
  if (WIFSIGNALED(status)) {
    int sig = WTERMSIG(status);
    return sig == SIGALRM ? std::string("hung")
                          : std::string("killed by ") + strsignal(sig);
  }
  if (WEXITSTATUS(status) != 0) {
    return "ended the process with status " +
           std::to_string(WEXITSTATUS(status));
  }
  return "";
}

const Exemption *ExemptionOf(const Case &c) {
  for (const Exemption &e : kExemptions) {
    if (e.function != nullptr && c.function == e.function &&
        (e.position == 0 || e.position == c.position)) {
      return &e;
    }
  }
  return nullptr;
}

// Every exemption must still name a function of the interface.
int CheckExemptions() {
  std::set<std::string> names;
  for (const Case &c : g_cases) names.insert(c.function);
  int stale = 0;
  for (const Exemption &e : kExemptions) {
    if (e.function == nullptr || names.count(e.function) != 0) continue;
    fprintf(stderr, "exemption of %s names no function with pointers\n",
            e.function);
    ++stale;
  }
  return stale;
}

}  // namespace

int main() {
  // Calls may create files (a log destination of "" opens a pool of log
  // files), so the children run in a directory of their own.
  std::filesystem::path dir =
      std::filesystem::temp_directory_path() / "vantrel_null_args_XXXXXX";
  std::string templ = dir.string();
  if (mkdtemp(templ.data()) == nullptr || chdir(templ.c_str()) != 0) {
    perror("temporary directory");
    return 1;
  }
  AddAllCases();
  int failures = CheckExemptions();
  size_t run = 0;
  for (const Case &c : g_cases) {
    if (ExemptionOf(c) != nullptr) continue;
    ++run;
    std::string problem = RunCase(c);
    if (problem.empty()) continue;
    fprintf(stderr, "%s with a null argument %zu: %s\n", c.function.c_str(),
            c.position, problem.c_str());
    ++failures;
  }
  printf("%zu calls with a null argument, %d failed\n", run, failures);
  std::filesystem::remove_all(templ);
  return failures == 0 ? 0 : 1;
}
