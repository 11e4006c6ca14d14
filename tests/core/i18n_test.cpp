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

// LC_ALL strings set by the library belong to the environment; keep each
// reachable before the test unsets it again, so the leak checker stays
// quiet about strings the library is meant never to release.
std::vector<const char *> *g_retired = new std::vector<const char *>;

void ClearLcAll() {
  const char *value = getenv("LC_ALL");
  if (value != nullptr) g_retired->push_back(value - strlen("LC_ALL="));
  unsetenv("LC_ALL");
}

TEST(VI18nTest, SetLangCodeLeavesAnExistingLcAllAlone) {
  setenv("LANG", "fr_FR.UTF-8", 1);
  for (const char *existing : {"de_DE.UTF-8", ""}) {
    setenv("LC_ALL", existing, 1);
    EXPECT_EQ(VI18nSetLangCode(), 0);
    EXPECT_STREQ(getenv("LC_ALL"), existing);
  }
}

TEST(VI18nTest, SetLangCodeDerivesThreeLowerCaseLetters) {
  const struct {
    const char *lc_messages, *lang, *expected;
  } cases[] = {{"", "en_US.UTF-8", "enu"},
               {"", "", "enu"},
               {"", "C", "enu"},
               {"", "C.UTF-8", "enu"},
               {"", "POSIX", "enu"},
               {"fr_FR.UTF-8", "en_US", "frf"},  // messages before LANG
               {"", "DE_CH.ISO-8859-1", "dec"},
               {"", "sr_RS@latin", "srr"},
               {"", "ast_ES", "ast"},
               {"", "it", "iti"},
               {"", "x", "enu"},
               {"", "_US", "enu"}};
  for (const auto &c : cases) {
    ClearLcAll();
    setenv("LC_MESSAGES", c.lc_messages, 1);  // empty values do not count
    setenv("LANG", c.lang, 1);
    EXPECT_EQ(VI18nSetLangCode(), 0);
    ASSERT_NE(getenv("LC_ALL"), nullptr);
    EXPECT_STREQ(getenv("LC_ALL"), c.expected) << c.lang;
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
    if (failed) {
      EXPECT_EQ(rc, VRC_FAILURE);
      EXPECT_EQ(err, "ERROR: Failed to set LC_ALL. System error no: " +
                         std::to_string(ENOMEM) + "\n");
      EXPECT_EQ(getenv("LC_ALL"), nullptr);
    } else {
      EXPECT_EQ(rc, 0);
      EXPECT_EQ(err, "");
      EXPECT_STREQ(getenv("LC_ALL"), "enu");
    }
  });
}

TEST(VI18nTest, HandlesAreAlwaysNull) {
  EXPECT_EQ(VI18nInitialize(), 0);
  VI18nLocale locale = reinterpret_cast<VI18nLocale>(&locale);
  EXPECT_EQ(VI18nLocaleCreate(nullptr, nullptr, nullptr, nullptr, &locale), 0);
  EXPECT_EQ(locale, nullptr);
  VI18nCatalog catalog = reinterpret_cast<VI18nCatalog>(&catalog);
  EXPECT_EQ(VI18nCatalogOpen(locale, "libvantrel", &catalog), 0);
  EXPECT_EQ(catalog, nullptr);
  EXPECT_EQ(VI18nLocaleDestroy(locale), 0);
}

TEST(VI18nTest, MessageGetCopiesTheDefaultTextWithinTheDestination) {
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
