#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

#include "support/alloc_sweep.h"
#include "vantrel/vi18n.h"
#include "vantrel/vrc.h"

namespace {

// LC_ALL strings set by the library belong to the environment and are never
// released: keep each reachable before unsetting it, for the leak checker.
std::vector<const char *> *g_retired = new std::vector<const char *>;

void ClearLcAll() {
  const char *value = getenv("LC_ALL");
  if (value != nullptr) g_retired->push_back(value - strlen("LC_ALL="));
  unsetenv("LC_ALL");
}

TEST(VI18nTest, SetLangCodeDerivesThreeLowerCaseLetters) {
  const std::pair<const char *, const char *> cases[] = {
      {"en_US.UTF-8", "enu"}, {"", "enu"},       {"C", "enu"},
      {"C.UTF-8", "enu"},     {"POSIX", "enu"},  {"DE_CH.ISO-8859-1", "dec"},
      {"sr_RS@latin", "srr"}, {"ast_ES", "ast"}, {"it", "iti"},
      {"x", "enu"},           {"_US", "enu"},
  };
  setenv("LC_MESSAGES", "", 1);  // empty values do not count
  for (const auto &[lang, expected] : cases) {
    ClearLcAll();
    setenv("LANG", lang, 1);
    EXPECT_EQ(VI18nSetLangCode(), 0);
    EXPECT_STREQ(getenv("LC_ALL"), expected) << lang;
  }
  ClearLcAll();
  setenv("LC_MESSAGES", "fr_FR.UTF-8", 1);  // messages before LANG
  EXPECT_EQ(VI18nSetLangCode(), 0);
  EXPECT_STREQ(getenv("LC_ALL"), "frf");
  ClearLcAll();
  for (const char *existing : {"de_DE.UTF-8", ""}) {  // left alone
    setenv("LC_ALL", existing, 1);
    EXPECT_EQ(VI18nSetLangCode(), 0);
    EXPECT_STREQ(getenv("LC_ALL"), existing);
  }
}

TEST(VI18nTest, SetLangCodeReportsWhenLcAllCannotBeSet) {
  unsetenv("LC_MESSAGES");
  unsetenv("LANG");
  vtest::SweepAllocations([&](vtest::Fault &f) {
    ClearLcAll();
    testing::internal::CaptureStderr();
    f.Arm();
    VRC rc = VI18nSetLangCode();
    bool failed = f.Disarm();
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(rc, failed ? VRC_FAILURE : 0);
    EXPECT_STREQ(getenv("LC_ALL"), failed ? nullptr : "enu");
    EXPECT_EQ(err, failed ? "ERROR: Failed to set LC_ALL. System error no: " +
                                std::to_string(ENOMEM) + "\n"
                          : "");
  });
}

// No catalog is read: every message is its default text, cut to fit.
TEST(VI18nTest, MessagesAreTheDefaultTextCutToTheBuffer) {
  char dest[8] = "#######";
  EXPECT_EQ(VI18nMessageGet(nullptr, 3, 12, "exact7!", dest, 8), 0);
  EXPECT_STREQ(dest, "exact7!");
  VI18nMessageGet(nullptr, 100, 1, "abcdefghij", dest, 4);
  EXPECT_EQ(std::string(dest, 8), std::string("abc\0t7!\0", 8));
  VI18nMessageGet(nullptr, 1, 1, "text", dest, 1);
  EXPECT_STREQ(dest, "");
  VI18nMessageGet(nullptr, 1, 1, nullptr, dest, sizeof dest);
  EXPECT_STREQ(dest, "");
  dest[0] = '#';
  VI18nMessageGet(nullptr, 1, 1, "text", dest, 0);
  EXPECT_EQ(dest[0], '#');
}

}  // namespace
