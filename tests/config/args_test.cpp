// The argument manager: options and their conversions, the built-in
// options, undefined arguments in the exception chain, the properties file
// beside the command line, the usage texts, and the paths that end the
// process.
#include <errno.h>

#include "config_test_support.h"
#include "vantrel/vexcept.h"
#include "vantrel/vthread.h"

namespace {

using vtest::LogLine;
using vtest::LogOf;

// A vector of arguments for processing; argv[0] is the program.
class Argv {
 public:
  Argv(std::initializer_list<const char *> words) {
    strings_.push_back("prog");
    for (const char *w : words) strings_.push_back(w);
    for (std::string &s : strings_) pointers_.push_back(s.data());
    pointers_.push_back(nullptr);
  }
  int argc() const { return static_cast<int>(strings_.size()); }
  char **argv() { return pointers_.data(); }

 private:
  std::vector<std::string> strings_;
  std::vector<char *> pointers_;
};

class VArgMgrTest : public vtest::ConfigTest {
 public:
  void SetUp() override {
    vtest::ConfigTest::SetUp();
    props_ = vtest::MakePropMgr();
    Define("port", vtest::Int(4000));
    Define("debug", vtest::Bool(false));
    Define("host", vtest::Text("localhost"));
    Define("ratio", vtest::Real(0.5));
    // An empty default file, so that processing is quiet about it.
    Define("PropsFile", vtest::Text(WriteFile("default.props", "").c_str()));
    VArgMgr args = nullptr;
    ASSERT_EQ(VArgMgrCreate(props_.get(), &args), 0);
    args_.reset(args);
    ASSERT_EQ(Option("-port", "port", "port to listen on (default %d)"), 0);
    VTypedValue on = vtest::Bool(true);
    ASSERT_EQ(Switch("-debug", "debug", "debugging %s", &on), 0);
    ASSERT_EQ(Option("-host", "host", "host [%s]"), 0);
    ASSERT_EQ(Option("-propsfile", "PropsFile", "properties file %s"), 0);
  }

  void Define(const char *name, VTypedValue v, uint32_t flags = 0) {
    ASSERT_EQ(VPropMgrDefineWithFlags(props_.get(), name, "d", &v, flags), 0);
  }
  VRC Option(const char *option, const char *property, const char *help,
             uint32_t flags = 0) {
    return VArgMgrDefineWithFlags(args_.get(), option, property, help,
                                  VARG_KIND_VALUE, nullptr, flags);
  }
  VRC Switch(const char *option, const char *property, const char *help,
             const VTypedValue *value, int kind = VARG_KIND_SWITCH) {
    return VArgMgrDefineWithFlags(args_.get(), option, property, help, kind,
                                  value, 0);
  }
  // Processes the words: where the program's own arguments start.
  int UserStart(Argv argv) {
    EXPECT_EQ(Process(std::move(argv)), 0);
    return VArgMgrGetUserStartPosition(args_.get());
  }
  static int Raised() { return VThreadExceptionRaised(VThreadGetID()); }
  VRC Process(Argv argv) {
    return VArgMgrProcess(args_.get(), argv.argc(), argv.argv());
  }
  bool Specified(const char *name) {
    return VPropertyWasSpecified(VPropMgrFind(props_.get(), name)) == 1;
  }
  std::string Value(const char *name) {
    return vtest::ValueText(props_.get(), name);
  }
  static std::string Chain() {
    char *text = nullptr;
    VThreadExceptionToBuffer(VThreadGetID(), &text);
    std::string out = text != nullptr ? text : "";
    free(text);
    return out;
  }

  vtest::PropMgr props_;
  vtest::ArgMgr args_;
};

TEST_F(VArgMgrTest, OptionsSetAndMarkTheirPropertiesUntilAValueIsBad) {
  EXPECT_EQ(Process({"-port", "abc", "-debug"}), VRC_TYPE_MISMATCH);
  EXPECT_EQ(Value("port"), "4000");
  EXPECT_EQ(Value("debug"), "FALSE");
  EXPECT_TRUE(Specified("port"));  // marked before the value is looked at
  EXPECT_FALSE(Specified("debug"));
  EXPECT_EQ(Process({"-debug", "-port"}), VRC_ARG_NO_VALUE);
  EXPECT_EQ(Value("debug"), "TRUE");
  EXPECT_TRUE(Specified("debug"));
  EXPECT_EQ(Process({"-port", "4100", "-debug"}), 0);
  EXPECT_EQ(Value("port"), "4100");
  EXPECT_FALSE(Specified("host"));
  EXPECT_EQ(Raised(), 0);
  // A null entry ends the vector.
  char *argv[] = {nullptr, const_cast<char *>("-port"), nullptr,
                  const_cast<char *>("5")};
  EXPECT_EQ(VArgMgrProcess(args_.get(), 4, argv), VRC_ARG_NO_VALUE);
  argv[1] = nullptr;
  EXPECT_EQ(VArgMgrProcess(args_.get(), 4, argv), 0);
  EXPECT_EQ(VArgMgrProcess(args_.get(), 0, argv), 0);
  EXPECT_EQ(VArgMgrProcess(args_.get(), 4, nullptr), 0);
  EXPECT_EQ(VArgMgrProcess(nullptr, 4, argv), EINVAL);
}

// The text given to a value option, by the bound property's type.
struct ConversionCase {
  VDataType type;
  const char *text;
  VRC code;
  const char *value;  // afterwards, as text
};

TEST_F(VArgMgrTest, ValueTextsAreCheckedByThePropertysType) {
  const ConversionCase cases[] = {
      {VDT_SHORT, "70000", 0, "4464"},
      {VDT_SHORT, "1.5", VRC_TYPE_MISMATCH, "0"},
      {VDT_INTEGER, "-12", 0, "-12"},
      {VDT_INTEGER, "", 0, "0"},
      {VDT_INTEGER, "12 ", VRC_TYPE_MISMATCH, "0"},
      {VDT_INTEGER, "010", 0, "8"},  // checked as decimal, read as C reads it
      {VDT_UNSIGNED, "4294967295", 0, "4294967295"},
      {VDT_BOOLEAN, "Yes", 0, "TRUE"},
      {VDT_BOOLEAN, "0", 0, "FALSE"},
      {VDT_BOOLEAN, "maybe", VRC_TYPE_MISMATCH, "FALSE"},
      {VDT_REAL, "2.25", 0, "2.250000"},
      {VDT_REAL, "abc", 0, "0.000000"},
      {VDT_UTC, "~86400", 0, "86400"},
      {VDT_STRING, "-not-an-option", 0, "-not-an-option"},
      {VDT_INTEGER64, " -9000000000", 0, "-9000000000"},
      {VDT_INTEGER64, "9x", VRC_TYPE_MISMATCH, "0"},
      {VDT_BINARY, "0x0102", VRC_TYPE_MISMATCH, ""},
      {VDT_UNSIGNED64, "5", VRC_INTERNAL_ERROR, "0"},
  };
  for (const ConversionCase &c : cases) {
    SCOPED_TRACE(testing::Message() << c.type << " '" << c.text << "'");
    VTypedValue first{c.type, VValue{}};
    if (c.type == VDT_STRING) first = vtest::Text("");
    std::string name = "p" + std::to_string(&c - cases);
    std::string option = "-" + name;
    Define(name.c_str(), first);
    ASSERT_EQ(Option(option.c_str(), name.c_str(), nullptr), 0);
    EXPECT_EQ(Process({option.c_str(), c.text}), c.code);
    EXPECT_EQ(Value(name.c_str()), c.value);
  }
}

TEST_F(VArgMgrTest, UndefinedArgumentsAreChainedLoggedAndNotFatal) {
  VRC rc = -1;
  auto lines = LogOf([&] { rc = Process({"-Port", "4100", "-port", "1"}); });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(Value("port"), "1");
  EXPECT_EQ(lines, (vtest::Lines{{'W', "Undefined argument: -Port"},
                                 {'W', "Undefined argument: 4100"}}));
  EXPECT_EQ(Chain(),
            "'UndefinedArgument' exception occured:\n"
            "\tUndefined argument: -Port\n"
            "\tUndefined argument: 4100\n");
  // The next processing starts a new chain, or none.
  LogOf([&] { EXPECT_EQ(Process({"x"}), 0); });
  EXPECT_EQ(Chain(),
            "'UndefinedArgument' exception occured:\n"
            "\tUndefined argument: x\n");
  EXPECT_EQ(Process({}), 0);
  EXPECT_EQ(Raised(), 0);
  // "-advanced" means something only when an advanced option exists.
  LogOf([&] { EXPECT_EQ(Process({"-advanced"}), 0); });
  EXPECT_EQ(Raised(), 1);
}

TEST_F(VArgMgrTest, TheProgramsArgumentsStartAfterTheOptions) {
  EXPECT_EQ(VArgMgrGetUserStartPosition(args_.get()), -1);
  LogOf([&] { EXPECT_EQ(UserStart({"-port", "4100", "input.txt"}), -1); });
  ASSERT_EQ(VArgMgrEnableUndefinedArgProcessing(args_.get()), 0);
  EXPECT_EQ(UserStart({"-port", "4100", "input.txt", "-debug"}), 3);
  EXPECT_EQ(Value("debug"), "FALSE");
  EXPECT_EQ(UserStart({"-debug", "--", "-port", "1"}), 3);
  EXPECT_EQ(Value("port"), "4100");
  EXPECT_EQ(UserStart({"--"}), 2);
  EXPECT_EQ(UserStart({"-debug"}), -1);
}

TEST_F(VArgMgrTest, TheCommandLineWinsOverThePropertiesFile) {
  std::string file = WriteFile("app.props", "port: 1 host: 'from file'\n");
  EXPECT_EQ(Process({"-port", "2", "-propsfile", file.c_str()}), 0);
  EXPECT_EQ(Value("port"), "2");
  EXPECT_EQ(Value("host"), "from file");
  EXPECT_EQ(Value("PropsFile"), file);
  EXPECT_TRUE(Specified("PropsFile"));
  // "--" hides a later "-propsfile": the property still names the file
  // of the run before.
  std::string other = WriteFile("other.props", "port: 3\n");
  EXPECT_EQ(Process({"--", "-propsfile", other.c_str()}), 0);
  EXPECT_EQ(Value("port"), "1");
}

TEST_F(VArgMgrTest, TheDefaultFileMissingIsAWarning) {
  ASSERT_EQ(remove(Path("default.props").c_str()), 0);
  VRC rc = -1;
  auto lines = LogOf([&] { rc = Process({"-port", "7"}); });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(Value("port"), "7");
  EXPECT_EQ(lines, (vtest::Lines{{'W', "Failed to load properties file " +
                                           Path("default.props") +
                                           ": No such file or directory"}}));
}

TEST_F(VArgMgrTest, FileErrorsAreLoggedAndReturnedSyntaxErrorsAreNot) {
  std::string rejected = WriteFile("bad.props", "\nport: 'text'\n");
  VRC rc = 0;
  auto lines = LogOf([&] { rc = Process({"-propsfile", rejected.c_str()}); });
  EXPECT_EQ(rc, VRC_TYPE_MISMATCH);
  EXPECT_EQ(lines, (vtest::Lines{{'E', "Type mismatch in " + rejected +
                                           ", line 2 near port"}}));
  std::string depth =
      WriteFile("self.props", "include '" + Path("self.props") + "'");
  lines = LogOf([&] { rc = Process({"-propsfile", depth.c_str()}); });
  EXPECT_EQ(rc, VRC_PROP_INCLUDE_DEPTH);
  EXPECT_EQ(
      lines,
      (vtest::Lines{{'E', "Unknown error -43 in " + depth + ", line 1"}}));
  std::string syntax = WriteFile("syntax.props", "port: 5 host: bare port: 6");
  lines = LogOf([&] { rc = Process({"-propsfile", syntax.c_str()}); });
  EXPECT_EQ(rc, 0);
  EXPECT_TRUE(lines.empty());
  EXPECT_EQ(Value("port"), "5");
}

TEST_F(VArgMgrTest, AMissingNamedFileIsFatalAndDumpPropsExits) {
  EXPECT_EXIT(
      Process({"-port", "4242", "-dumpprops", "-debug"}),
      testing::ExitedWithCode(0),
      "# Vantrel Properties File(.|\n)*debug: TRUE # BOOLEAN \\(d\\)(.|\n)*"
      "port: 4242 # INTEGER \\(d\\)(.|\n)*# End of File");
  // Without dumpProps it is only an undefined argument.
  VRC rc = -1;
  auto lines = LogOf([&] {
    rc = VArgMgrProcessWithDumpProps(args_.get(), 2,
                                     Argv({"-dumpprops"}).argv(), 0);
  });
  EXPECT_EQ(rc, 0);
  EXPECT_EQ(lines, (vtest::Lines{{'W', "Undefined argument: -dumpprops"}}));
  // A missing file named on the command line is fatal.
  std::string missing = Path("missing.props");
  EXPECT_EXIT(Process({"-propsfile", missing.c_str()}),
              testing::ExitedWithCode(1),
              "Failed to load properties file " + missing +
                  ": No such file or directory");
  // So is a missing include file of the default file.
  WriteFile("default.props", "include '" + Path("gone.props") + "'\n");
  EXPECT_EXIT(Process({}), testing::ExitedWithCode(1),
              "Failed to load properties file " + Path("gone.props"));
  // Unless fatal messages are told not to end the process.
  VLogMgrSetFatalDoesNotExit(1);
  LogOf([&] {
    EXPECT_EQ(Process({"-propsfile", missing.c_str(), "-port", "9"}), 0);
  });
  VLogMgrSetFatalDoesNotExit(0);
  EXPECT_EQ(Value("port"), "9");
}

VRC CountCalls(VProperty, const VTypedValue *, void *arg) {
  ++*static_cast<int *>(arg);
  return 0;
}

struct Interlocked {
  std::vector<std::string> names;
  VRC result = 0;
};

VRC Interlock(VArgMgr, const char *name, void *arg) {
  auto *seen = static_cast<Interlocked *>(arg);
  seen->names.push_back(name);
  return seen->result;
}

TEST_F(VArgMgrTest, NameSetsItsPropertyQuietlyAndFeedsTheInterlock) {
  Define("Name", vtest::Text(""));
  int calls = 0;
  ASSERT_EQ(VPropMgrAddCallback(props_.get(), "Name", CountCalls, &calls), 0);
  EXPECT_EQ(Process({"-name", "alpha", "-port", "1"}), 0);
  EXPECT_EQ(Value("Name"), "alpha");
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(Process({"-name"}), 0);  // nothing after it: ignored
  Interlocked seen;
  EXPECT_EQ(VArgMgrInterlock(args_.get(), Interlock, &seen), VRC_FAILURE);
  ASSERT_EQ(Option("-name", "Name", "the name"), 0);
  ASSERT_EQ(VArgMgrInterlock(args_.get(), Interlock, &seen), 0);
  EXPECT_EQ(Process({"-port", "2", "-name", "beta", "-name", "gamma"}), 0);
  EXPECT_EQ(seen.names, (std::vector<std::string>{"beta"}));
  EXPECT_EQ(Value("Name"), "gamma");
  EXPECT_EQ(calls, 1);  // the interlock processed it as an option
  seen.result = 77;
  EXPECT_EQ(Process({"-port", "3", "-name", "delta"}), 77);
  EXPECT_EQ(Value("port"), "2");  // nothing else was applied
  EXPECT_EQ(Process({"--", "-name", "x"}), 0);
  EXPECT_EQ(Process({"-name"}), VRC_ARG_NO_VALUE);
}

TEST_F(VArgMgrTest, DefinitionsAreCheckedAndCopied) {
  EXPECT_EQ(Option("-port", "host", "again"), VRC_ARG_EXISTS);
  EXPECT_EQ(Option("-x", "nothing", "x"), VRC_PROP_NOT_FOUND);
  VTypedValue bin{VDT_BINARY, VValue{}};
  EXPECT_EQ(Switch("-b", "host", "b", &bin), VRC_TYPE_MISMATCH);
  EXPECT_EQ(Switch("-s", "host", "s", nullptr), EINVAL);
  // A switch keeps its own copy of a text.
  char text[] = "fixed";
  VTypedValue fixed = vtest::Text(text);
  ASSERT_EQ(Switch("-fixed", "host", nullptr, &fixed), 0);
  text[0] = 'X';
  EXPECT_EQ(Process({"-fixed"}), 0);
  EXPECT_EQ(Value("host"), "fixed");
  // Another kind is refused when it is used.
  ASSERT_EQ(Switch("-odd", "host", nullptr, nullptr, 3), 0);
  EXPECT_EQ(Process({"-odd"}), VRC_INTERNAL_ERROR);
  // Options are case-sensitive: -Port is another option.
  EXPECT_EQ(Option("-Port", "port", nullptr), 0);
  VValue five = vtest::Int(5).value;
  const VArgTableRow rows[] = {
      {"-t1", "port", "t1", VARG_KIND_SWITCH, VDT_INTEGER, &five, 0},
      {"-t2", "port", "t2", VARG_KIND_VALUE, VDT_INTEGER, nullptr, 0},
      {"-t1", "port", "again", VARG_KIND_SWITCH, VDT_INTEGER, &five, 0},
      {"-t3", "port", "never", VARG_KIND_SWITCH, VDT_INTEGER, &five, 0},
  };
  EXPECT_EQ(VArgMgrTableDefine(args_.get(), rows, 4), VRC_ARG_EXISTS);
  EXPECT_EQ(Process({"-t1"}), 0);
  EXPECT_EQ(Value("port"), "5");
  LogOf([&] { EXPECT_EQ(Process({"-t3"}), 0); });
  EXPECT_EQ(Raised(), 1);
}

// One line of the usage text: the option padded to the width, the help.
std::string Row(const char *option, int width, const std::string &help) {
  char head[64];
  snprintf(head, sizeof head, "\t%-*s ", width, option);
  return head + help + "\n";
}

// Usage texts: every type's format, the column width, the advanced mark.
class VArgHelpTest : public VArgMgrTest {
 public:
  void SetUp() override {
    VArgMgrTest::SetUp();
    VValue when{};
    when.utcValue = 86400;
    Define("when", VTypedValue{VDT_UTC, when});
    Define("big", vtest::Int64(-5000000000LL));
    Define("blob", VTypedValue{VDT_BINARY, VValue{}});
    Define("secret", vtest::Text("s"), VPROP_FLAG_ADVANCED);
    ASSERT_EQ(Option("-when", "when", "start at %s"), 0);
    ASSERT_EQ(Option("-big", "big", "big %lld"), 0);
    ASSERT_EQ(Option("-blob", "blob", "blob %d ignored"), 0);
    ASSERT_EQ(Option("-ratio", "ratio", "ratio %.2f"), 0);
    ASSERT_EQ(Option("-verylongoption", "ratio", "r %g", VARG_FLAG_ADVANCED),
              0);
    ASSERT_EQ(Option("-secret", "secret", "secret %s"), 0);
    ASSERT_EQ(Option("-hidden", "port", nullptr), 0);
  }
};

TEST_F(VArgHelpTest, UsageShowsValuesFormattedByTheirHelp) {
  std::string text =
      vtest::StderrOf([&] { EXPECT_EQ(VArgHelp(args_.get(), "prog"), 0); });
  EXPECT_EQ(text, "Usage: prog [options]\n\nwhere options can be:\n\n" +
                      Row("-big", 10, "big -5000000000") +
                      Row("-blob", 10, "blob %d ignored") +
                      Row("-debug", 10, "debugging FALSE") +
                      Row("-host", 10, "host [localhost]") +
                      Row("-port", 10, "port to listen on (default 4000)") +
                      Row("-propsfile", 10,
                          "properties file " + Path("default.props")) +
                      Row("-ratio", 10, "ratio 0.50") +
                      Row("-when", 10, "start at Fri Jan  2 00:00:00 1970"));
  // After "-advanced" the advanced options show, marked.
  LogOf([&] { EXPECT_EQ(Process({"-advanced", "-port", "4100"}), 0); });
  EXPECT_EQ(Raised(), 0);
  text = vtest::StderrOf([&] { EXPECT_EQ(VArgHelp(args_.get(), "p"), 0); });
  EXPECT_NE(text.find(Row("-port", 15, "port to listen on (default 4100)")),
            std::string::npos)
      << text;
  EXPECT_NE(text.find(Row("-secret", 15, "secret s (ADVANCED)") +
                      Row("-verylongoption", 15, "r 0.5 (ADVANCED)")),
            std::string::npos)
      << text;
}

TEST_F(VArgHelpTest, TheStringFormListsEveryOptionUnmarkedUpToAFailure) {
  vb_buffer buffer;
  ASSERT_EQ(VArgHelpAsString(args_.get(), &buffer), 0);
  std::string text(vb_strval(&buffer), vb_strlen(&buffer));
  vb_free(&buffer);
  EXPECT_EQ(text,
            "-big\nbig -5000000000\n"
            "-blob\nblob %d ignored\n"
            "-debug\ndebugging FALSE\n"
            "-host\nhost [localhost]\n"
            "-port\nport to listen on (default 4000)\n"
            "-propsfile\nproperties file " +
                Path("default.props") +
                "\n-ratio\nratio 0.50\n"
                "-secret\nsecret s\n"
                "-verylongoption\nr 0.5\n"
                "-when\nstart at Fri Jan  2 00:00:00 1970\n");
  // A value that cannot be fetched ends either list.
  ASSERT_EQ(VPropMgrUndefine(props_.get(), "host"), 0);
  text = vtest::StderrOf(
      [&] { EXPECT_EQ(VArgHelp(args_.get(), "prog"), VRC_PROP_NOT_FOUND); });
  std::string last = Row("-host", 10, "");
  EXPECT_EQ(text.substr(text.size() - last.size() + 1),
            last.substr(0, last.size() - 1));
  EXPECT_EQ(VArgHelpAsString(args_.get(), &buffer), VRC_PROP_NOT_FOUND);
  EXPECT_EQ(std::string(vb_strval(&buffer)),
            "-big\nbig -5000000000\n-blob\nblob %d ignored\n-debug\n"
            "debugging FALSE\n");
  vb_free(&buffer);
}

}  // namespace
