// Reading properties files: tokens and grammar from hostile input, include
// trees, loops and depth, the error record, multibyte text, and failures
// of the system's file calls.
#include <errno.h>
#include <locale.h>
#include <sys/stat.h>

#include "config_test_support.h"
#include "support/alloc_sweep.h"
#include "support/os_fault.h"

namespace {

using VPropMgrParseTest = vtest::ConfigTest;

// A manager with one property of each kind the cases set.
vtest::PropMgr Standard() {
  auto m = vtest::MakePropMgr();
  const std::pair<const char *, VTypedValue> kProperties[] = {
      {"port", vtest::Int(0)},       {"ratio", vtest::Real(0)},
      {"debug", vtest::Bool(false)}, {"when", {VDT_UTC, {}}},
      {"big", vtest::Int64(0)},      {"blob", {VDT_BINARY, {}}},
      {"a.b-c_d", vtest::Int(0)},    {"tiny", {VDT_SHORT, {}}},
      {"host", vtest::Text("")},     {"on", vtest::Text("")},
      {"include", vtest::Text("")},  {"onward", vtest::Text("")}};
  for (const auto &[name, value] : kProperties) {
    EXPECT_EQ(vtest::Define(m.get(), name, value), 0) << name;
  }
  return m;
}

// Values afterwards are "name=text" pairs split by '|'.  A null record
// text means no record is filled.
struct ParseCase {
  std::string contents;
  const char *values;
  VRC code = 0;
  const char *text = nullptr;
  int32_t line = 0;
};

// A grammar error: reading stops, 0 comes back with the record filled.
ParseCase Syntax(std::string contents, const char *values, int32_t line) {
  return {std::move(contents), values, 0, "syntax error", line};
}

const std::string kLongName(100, 'n');
const std::string kLongNameCut(49, 'n');

std::vector<ParseCase> Cases() {
  return {
      {"", "port=0"},
      {"# one\n   # two\n\t#three\n", ""},
      {"Port: 4100\n", "port=4100"},
      {"port:1 host:'h' ratio: 1.5 debug:on",
       "port=1|host=h|ratio=1.500000|debug=TRUE"},
      {"port: 5host: 'x'", "port=5|host=x"},
      {"port\n:\n\n4100\n", "port=4100"},
      {"port: 1 # the port\nhost: 'x' #\n", "port=1|host=x"},
      {"\r\nport: 5\r\n", "port=5"},
      {"port: 1\nport: 2\n", "port=2"},
      {"a.b-c_d: 7", "a.b-c_d=7"},
      {"port: -12", "port=-12"},
      {"port: 99999999999", "port=1215752191"},  // the low 32 bits
      {"big: -9223372036854775808", "big=-9223372036854775808"},
      {"big: 99999999999999999999", "big=9223372036854775807"},
      {"tiny: 65537", "tiny=1"},
      {"ratio: 2", "ratio=2.000000"},
      {"ratio: -0.25", "ratio=-0.250000"},
      {"debug: YES", "debug=TRUE"},
      {"debug: Off", "debug=FALSE"},
      {"debug: 2", "debug=TRUE"},
      {"when: ~1700000000", "when=1700000000"},
      {"when: 86400", "when=86400"},
      {"host: \"a\\\"b\"", "host=a\"b"},
      {"host: 'C:\\temp'", "host=C:\temp"},
      {"host: 'it\\'s'", "host=it's"},
      {"host: \"it's\"", "host=it's"},
      {"host: \"\\101\\102\"", "host=AB"},
      {"host: '\\12x'", "host=12x"},  // short octal: the digits
      {"host: '\\q\\\\'", "host=q\\"},
      {"host: '\\a\\b\\e\\f\\n\\r\\t\\v'", "host=\a\b\x1b\f\n\r\t\v"},
      {"host: 'x\\\\' port: 3", "host=x\\|port=3"},
      {"host: 'a\nb'", "host=a\nb"},
      {"host: ''", "host="},
      {"host: 'ab\\000cd'", "host=ab"},  // NUL ends the text
      Syntax("port: 1\n# last", "port=1", 2),
      Syntax("port: 1\nhost: bare\nport: 2", "port=1|host=", 2),
      Syntax("port: +5", "port=0", 1),
      Syntax("on: 'x'", "on=", 1),
      Syntax("port 4100", "", 1),
      Syntax(": 5", "", 1),
      Syntax("-5: 1", "", 1),
      Syntax("port: ~", "", 1),
      Syntax("port: --5", "", 1),
      Syntax("port: 1 host:\n\n\n", "port=1", 4),
      Syntax("ratio: 1.", "ratio=1.000000", 1),
      Syntax("ratio: 1e5", "ratio=1.000000", 1),
      Syntax("host: 'open\nport: 5\n", "port=0", 1),
      Syntax("host: 'x\\'", "", 1),
      Syntax("port: 0x1", "port=0", 1),
      Syntax(std::string("port: 5\0host: 'x'", 17), "port=5|host=", 1),
      Syntax("host: 'a\nb\nc'\nport: x", "host=a\nb\nc", 2),
      // Rejected entries: the code and the property name.
      {"port: 1\nnosuch: 1", "port=1", VRC_PROP_NOT_FOUND, "nosuch", 2},
      {"onward: 'x'", "onward=x"},  // longer than the keyword "on"
      {"port: 1\nport: '2'\n", "port=1", VRC_TYPE_MISMATCH, "port", 2},
      {"debug: 'true'", "", VRC_TYPE_MISMATCH, "debug", 1},
      {"blob: 0x0a1B", "", VRC_TYPE_MISMATCH, "blob", 1},
      {"port: 0x10", "port=0", VRC_TYPE_MISMATCH, "port", 1},
      {"when: ~99999999999", "when=0", ERANGE, "when", 1},
      {kLongName + ": 1", "", VRC_PROP_NOT_FOUND, kLongNameCut.c_str(), 1},
      // Include statements that are not: code -21 and the offending text.
      {"port: 1 include", "port=1", VRC_PARSE_FAILURE, "", 1},
      {"include foo.props\n", "", VRC_PARSE_FAILURE, "foo.props", 1},
      {"include\n'x'", "", VRC_PARSE_FAILURE, "\n", 1},
      {"include: 'x'", "", VRC_PARSE_FAILURE, ":", 1},
      {"include 'x\ny", "", VRC_PARSE_FAILURE, "'x", 1},
      {std::string("port: 1\ninclude 'case.props\0x'", 30), "port=1",
       VRC_PARSE_FAILURE, "'case.props", 2},
  };
}

TEST_F(VPropMgrParseTest, TokensAndGrammar) {
  for (const ParseCase &c : Cases()) {
    SCOPED_TRACE(c.contents);
    auto m = Standard();
    std::string path = WriteFile("case.props", c.contents);
    VPropParseError error{};
    error.line = -7;
    EXPECT_EQ(VPropMgrParseFile(m.get(), path.c_str(), &error), c.code);
    if (c.text == nullptr) {
      EXPECT_EQ(error.file, nullptr);
      EXPECT_EQ(error.line, -7);
    } else {
      EXPECT_STREQ(error.file, path.c_str());
      EXPECT_EQ(error.line, c.line);
      EXPECT_STREQ(error.text, c.text);
      EXPECT_EQ(error.code, c.code);
    }
    free(error.file);
    std::stringstream values(c.values);
    for (std::string pair; std::getline(values, pair, '|');) {
      size_t eq = pair.find('=');
      EXPECT_EQ(vtest::ValueText(m.get(), pair.substr(0, eq).c_str()),
                pair.substr(eq + 1))
          << pair;
    }
  }
}

// (Where each entry stands shows in reproduce mode: prop_writer_test.)
TEST_F(VPropMgrParseTest, EntriesMarkTheirPropertiesAsSpecified) {
  auto m = Standard();
  std::string inc = WriteFile("inc.props", "host: 'h'\n");
  std::string top = WriteFile(
      "top.props", "\n\nport: 1\ninclude '" + inc + "'\n  debug: on ratio: 2");
  ASSERT_EQ(VPropMgrParseFile(m.get(), top.c_str(), nullptr), 0);
  for (const char *set : {"port", "host", "debug", "ratio"}) {
    EXPECT_EQ(VPropertyWasSpecified(VPropMgrFind(m.get(), set)), 1) << set;
  }
  EXPECT_EQ(VPropertyWasSpecified(VPropMgrFind(m.get(), "big")), 0);
}

TEST_F(VPropMgrParseTest, IncludeTreesApplyInReadingOrder) {
  auto m = Standard();
  setenv("VPROPTEST_DIR", Path("").c_str(), 1);
  WriteFile("c.props", "port: 3 host: 'from c'\n");
  WriteFile("a.props", "port: 1\ninclude \"${VPROPTEST_DIR}c.props\"\n");
  WriteFile("b.props", "ratio: 0.5 port: 2\n");
  WriteFile("value.props", "4100\n");
  std::string top = WriteFile("top.props",
                              "include '$VPROPTEST_DIR/a.props'\n"
                              "host: 'top' include '%VPROPTEST_DIR%b.props'\n"
                              "big:\ninclude 'VPROPTEST_MISSING${NOPE}'");
  // The last include is missing: everything before it is applied.
  VPropParseError error{};
  EXPECT_EQ(VPropMgrParseFile(m.get(), top.c_str(), &error), ENOENT);
  EXPECT_STREQ(error.file, "VPROPTEST_MISSING");
  EXPECT_STREQ(error.text, "Could not open include file");
  EXPECT_EQ(error.line, 4);
  free(error.file);
  EXPECT_EQ(vtest::ValueText(m.get(), "port"), "2");
  EXPECT_EQ(vtest::ValueText(m.get(), "host"), "top");
  EXPECT_EQ(vtest::ValueText(m.get(), "ratio"), "0.500000");

  // A value may come from the next file: tokens flow across includes.
  auto again = Standard();
  std::string split = WriteFile(
      "split.props", "port:\ninclude '" + Path("value.props") + "'\nbig: 5");
  ASSERT_EQ(VPropMgrParseFile(again.get(), split.c_str(), nullptr), 0);
  EXPECT_EQ(vtest::ValueText(again.get(), "port"), "4100");
  EXPECT_EQ(vtest::ValueText(again.get(), "big"), "5");

  // Include names keep their backslashes.
  WriteFile("a\\tb.props", "port: 77\n");
  std::string tab =
      WriteFile("tab.props", "include '" + Path("a\\tb.props") + "'\n");
  ASSERT_EQ(VPropMgrParseFile(again.get(), tab.c_str(), nullptr), 0);
  EXPECT_EQ(vtest::ValueText(again.get(), "port"), "77");
}

// A chain of `depth` files, each including the next; the last sets port.
std::string Chain(vtest::ConfigTest *t, int depth) {
  std::string next = t->WriteFile("leaf.props", "port: 10\n");
  for (int i = depth; i > 0; --i) {
    next = t->WriteFile("level" + std::to_string(i) + ".props",
                        "include '" + next + "'\n");
  }
  return t->WriteFile("top.props", "include '" + next + "'\nhost: 'after'");
}

TEST_F(VPropMgrParseTest, IncludesNestTenDeepAndNoDeeperNorIntoThemselves) {
  // top -> level1 .. level9 -> leaf: ten include files open at once.
  auto m = Standard();
  ASSERT_EQ(VPropMgrParseFile(m.get(), Chain(this, 9).c_str(), nullptr), 0);
  EXPECT_EQ(vtest::ValueText(m.get(), "port"), "10");
  EXPECT_EQ(vtest::ValueText(m.get(), "host"), "after");

  auto deeper = Standard();
  VPropParseError error{};
  ASSERT_EQ(VPropMgrParseFile(deeper.get(), Chain(this, 10).c_str(), &error),
            VRC_PROP_INCLUDE_DEPTH);
  EXPECT_EQ(std::string(error.file), Path("level10.props"));
  EXPECT_STREQ(error.text, "");
  EXPECT_EQ(error.line, 1);
  free(error.file);
  EXPECT_EQ(vtest::ValueText(deeper.get(), "port"), "0");

  auto loop = Standard();  // a file including itself stops there too
  std::string self = Path("self.props");
  WriteFile("self.props", "port: 1\ninclude '" + self + "'\n");
  error = VPropParseError{};
  EXPECT_EQ(VPropMgrParseFile(loop.get(), self.c_str(), &error),
            VRC_PROP_INCLUDE_DEPTH);
  EXPECT_EQ(std::string(error.file), self);
  EXPECT_EQ(error.line, 2);
  free(error.file);
  // Only the top-level statement was recorded.
  std::string written = vtest::Written(loop.get(), false);
  size_t first = written.find("include '" + self + "'\n");
  EXPECT_NE(first, std::string::npos);
  EXPECT_EQ(written.find("include '", first + 1), std::string::npos);
}

TEST_F(VPropMgrParseTest, LongTokensAndCommentsOutgrowTheBuffer) {
  auto m = Standard();
  std::string big(100000, 'x');
  big[50000] = '\\';
  big[50001] = 't';
  std::string comment = "#" + std::string(70000, 'c') + "\n";
  std::string path = WriteFile(
      "long.props", comment + "host: '" + big + "'\n" + comment + "port: 9");
  ASSERT_EQ(VPropMgrParseFile(m.get(), path.c_str(), nullptr), 0);
  std::string expected = big;
  expected.replace(50000, 2, "\t");
  EXPECT_EQ(vtest::ValueText(m.get(), "host"), expected);
  EXPECT_EQ(vtest::ValueText(m.get(), "port"), "9");
}

TEST_F(VPropMgrParseTest, QuotedTextMustBeValidInAMultibyteLocale) {
  auto m = Standard();
  std::string good = WriteFile("good.props", "host: 'caf\xc3\xa9\\t'");
  std::string bad = WriteFile("bad.props", "port: 1 host: 'x\xff' port: 2");
  // A single-byte locale takes every byte.
  ASSERT_NE(setlocale(LC_ALL, "C"), nullptr);
  ASSERT_EQ(VPropMgrParseFile(m.get(), bad.c_str(), nullptr), 0);
  EXPECT_EQ(vtest::ValueText(m.get(), "host"), "x\xff");
  ASSERT_NE(setlocale(LC_ALL, "C.UTF-8"), nullptr);
  VPropParseError error{};
  VRC rc = VPropMgrParseFile(m.get(), bad.c_str(), &error);
  VRC good_rc = VPropMgrParseFile(m.get(), good.c_str(), nullptr);
  std::string host = vtest::ValueText(m.get(), "host");
  setlocale(LC_ALL, "C");
  EXPECT_EQ(rc, EILSEQ);
  EXPECT_EQ(error.line, 1);
  free(error.file);
  EXPECT_EQ(good_rc, 0);
  EXPECT_EQ(host, "caf\xc3\xa9\t");
}

TEST_F(VPropMgrParseTest, TheTopLevelFilesFailuresLeaveTheRecordAlone) {
  auto m = Standard();
  VPropParseError error{};
  EXPECT_EQ(VPropMgrParseFile(m.get(), Path("none.props").c_str(), &error),
            ENOENT);
  EXPECT_EQ(error.file, nullptr);
  std::string path = WriteFile("p.props", "port: 5");
  {
    vtest::OsFault fault("open", 1, EACCES);
    EXPECT_EQ(VPropMgrParseFile(m.get(), path.c_str(), &error), EACCES);
  }
  EXPECT_EQ(error.file, nullptr);
  EXPECT_EQ(vtest::ValueText(m.get(), "port"), "0");
  // A directory opens, and fails to read.
  EXPECT_EQ(VPropMgrParseFile(m.get(), Path("").c_str(), &error), EISDIR);
  EXPECT_EQ(std::string(error.file), Path(""));
  free(error.file);
  EXPECT_EQ(VPropMgrParseFile(nullptr, "x", nullptr), EINVAL);
  EXPECT_EQ(VPropMgrParseFile(m.get(), nullptr, nullptr), EINVAL);
}

TEST_F(VPropMgrParseTest, ReadFailuresStopWhereTheyHappen) {
  // The second read of a file longer than one buffer fails: the entries of
  // the first buffer are applied, the token it cut is not.
  std::string body;
  for (int i = 0; body.size() < 20000; ++i)
    body += "port: " + std::to_string(i) + "\n";
  std::string path = WriteFile("long.props", body);
  auto m = Standard();
  VPropParseError error{};
  {
    vtest::OsFault fault("read", 2, EIO);
    EXPECT_EQ(VPropMgrParseFile(m.get(), path.c_str(), &error), EIO);
  }
  EXPECT_EQ(error.code, EIO);
  EXPECT_STREQ(error.text, "");
  EXPECT_GT(error.line, 1000);
  free(error.file);
  int port = std::stoi(vtest::ValueText(m.get(), "port"));
  EXPECT_EQ(port, error.line - 2);

  // An include file that cannot be opened is reported as missing, whatever
  // the reason.
  std::string inc = WriteFile("inc.props", "port: 1");
  std::string top = WriteFile("top.props", "\ninclude '" + inc + "'");
  error = VPropParseError{};
  {
    vtest::OsFault fault("open", 2, EMFILE);
    EXPECT_EQ(VPropMgrParseFile(m.get(), top.c_str(), &error), ENOENT);
  }
  EXPECT_EQ(std::string(error.file), inc);
  EXPECT_EQ(error.line, 2);
  free(error.file);
  // Every descriptor was closed.
  vtest::OsCallCounter opens("open"), closes("close");
  EXPECT_EQ(VPropMgrParseFile(m.get(), Chain(this, 3).c_str(), nullptr), 0);
  EXPECT_EQ(opens.calls(), 5u);
  EXPECT_EQ(closes.calls(), 5u);
}

}  // namespace
