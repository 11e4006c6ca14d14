#include <errno.h>
#include <gtest/gtest.h>
#include <locale.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "support/alloc_sweep.h"
#include "vantrel/venv.h"

namespace {

// Expands a copy of text held in a block of exactly its size, so that
// reading past the terminator is caught by the address sanitizer.
std::string Expand(const std::string &text) {
  char *exact = strdup(text.c_str());
  char *result = nullptr;
  EXPECT_EQ(VEnvExpandString(exact, &result), 0);
  free(exact);
  std::string out = result != nullptr ? result : "<null>";
  free(result);
  return out;
}

// Each case reads "text -> expansion".
void ExpectExpansions(std::initializer_list<std::string> cases) {
  for (const std::string &c : cases) {
    size_t arrow = c.find(" -> ");
    EXPECT_EQ(Expand(c.substr(0, arrow)), c.substr(arrow + 4)) << c;
  }
}

class VEnvTest : public testing::Test {
 protected:
  void SetUp() override {
    setenv("XH", "/h", 1);
    setenv("A", "1", 1);
    setenv("A_B9", "ab", 1);
    setenv("EMPTY", "", 1);
    setenv("REF", "$A%A%${A}", 1);
    unsetenv("UNSET_VAR");
  }
};

TEST_F(VEnvTest, GetSetAndIsSet) {
  EXPECT_STREQ(VEnvGet("XH"), "/h");
  EXPECT_EQ(VEnvGet("UNSET_VAR"), nullptr);
  EXPECT_STREQ(VEnvGetWithDefault("UNSET_VAR", "d"), "d");
  EXPECT_STREQ(VEnvGetWithDefault("EMPTY", "d"), "");
  EXPECT_EQ(VEnvIsSet("EMPTY"), 1);
  EXPECT_EQ(VEnvIsSet("UNSET_VAR"), 0);
}

TEST_F(VEnvTest, SetFailsWithoutMemoryAndLeavesTheEnvironment) {
  int round = 0;  // a new name each time: set strings are never released
  vtest::SweepAllocations([&](vtest::Fault &f) {
    std::string name = "VT_SWEEP_" + std::to_string(round++);
    f.Arm();
    VRC rc = VEnvSet(name.c_str(), "v");
    bool failed = f.Disarm();
    EXPECT_EQ(rc, failed ? ENOMEM : 0);
    EXPECT_STREQ(getenv(name.c_str()), failed ? nullptr : "v");
  });
}

TEST_F(VEnvTest, ExpandsReferencesByTheRules) {
  ExpectExpansions({"$XH/x -> /h/x", "${XH}/x -> /h/x", "%XH%/x -> /h/x",
                    "$A$A -> 11", "$A_B9- -> ab-", "$A} -> 1", "$A%x% -> 1x",
                    "${A B} -> ", "$EMPTY| -> |",
                    "%UNSET_VAR%$UNSET_VAR/y -> /y", " -> "});
  EXPECT_EQ(Expand("[%REF%]"), "[$A%A%${A}]");  // values go in as they are
  // Empty names vanish; unterminated references run to the end.
  ExpectExpansions({"50% -> 50", "cost $ 5 -> cost  5", "$ -> ", "a%%b -> ab",
                    "${} -> ", "$}x -> x", "$%x -> x", "${A -> 1", "%A -> 1",
                    "${A% -> "});
  // A backslash takes the next character with it; in "\\%XH%" the last
  // "%" opens an empty name.
  ExpectExpansions({"\\${XH} -> \\${XH}", "\\%XH% -> \\%XH", "\\\\$A -> \\\\1",
                    "end\\ -> end\\", "\\ -> \\", "$\\A -> \\A"});
  for (size_t length : {127, 128, 5000}) {  // around the stack copy's size
    std::string name(length, 'N');
    setenv(name.c_str(), "long", 1);
    EXPECT_EQ(Expand("$" + name + "!x%" + name), "long!xlong");
    unsetenv(name.c_str());
  }
}

TEST_F(VEnvTest, ExpandFailsWithoutMemoryAndStoresNoResult) {
  std::string name(300, 'L');  // too long for the stack copy of a name
  setenv(name.c_str(), "value", 1);
  std::string tail(400, 'z');
  std::string text = "a $A b ${" + name + "} %A% " + tail;
  vtest::SweepAllocations([&](vtest::Fault &f) {
    char sentinel = 0;
    char *result = &sentinel;
    f.Arm();
    VRC rc = VEnvExpandString(text.c_str(), &result);
    bool failed = f.Disarm();
    EXPECT_EQ(rc, failed ? ENOMEM : 0);
    EXPECT_EQ(result == &sentinel, failed);
    if (failed) return;
    EXPECT_EQ(result, "a 1 b value 1 " + tail);
    free(result);
  });
  unsetenv(name.c_str());
}

TEST_F(VEnvTest, ReadsMultibyteCharactersOfTheLocale) {
  setenv("A\xc3\xa9", "accent", 1);
  EXPECT_EQ(Expand("$A\xc3\xa9!"), "1\xc3\xa9!");  // C: 'A' ends the name
  if (setlocale(LC_CTYPE, "C.UTF-8") == nullptr) GTEST_SKIP();
  // Invalid and incomplete sequences are copied byte by byte.
  ExpectExpansions({"$A\xc3\xa9! -> accent!", "\xff$XH\xfe -> \xff/h\xfe",
                    "$A\xe2\x82 -> 1\xe2\x82", "\xc3$XH -> \xc3/h",
                    "\\\xe2\x82 -> \\\xe2\x82", "\\\xc3\xa9$XH -> \\\xc3\xa9/h",
                    "${\xff} -> ", "%\xe2\x82 -> "});
  setlocale(LC_CTYPE, "C");
}

// A null name reads as a variable that is not set; setting or expanding
// with a null is refused.
TEST_F(VEnvTest, NullNameIsNeverSetAndNullsAreRefused) {
  EXPECT_EQ(VEnvGet(nullptr), nullptr);
  EXPECT_STREQ(VEnvGetWithDefault(nullptr, "default"), "default");
  EXPECT_EQ(VEnvIsSet(nullptr), 0);
  EXPECT_EQ(VEnvSet(nullptr, "x"), EINVAL);
  EXPECT_EQ(VEnvSet("VANTREL_TEST_NULL", nullptr), EINVAL);
  EXPECT_EQ(VEnvIsSet("VANTREL_TEST_NULL"), 0);
  char *out = nullptr;
  EXPECT_EQ(VEnvExpandString(nullptr, &out), EINVAL);
  EXPECT_EQ(VEnvExpandString("$HOME", nullptr), EINVAL);
  EXPECT_EQ(out, nullptr);
}

}  // namespace
