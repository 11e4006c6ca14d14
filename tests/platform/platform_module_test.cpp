// Loading the small test module, its symbols, and the loader's texts.
#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <string>

#include "platform/module.h"
#include "support/os_fault.h"

namespace {

namespace vp = vantrel::platform;

std::string LoaderText(int error) {
  char text[512];
  vp::ModuleErrorText(error, text, sizeof text);
  return text;
}

TEST(PlatformModuleTest, LoadsFindsSymbolsAndReleases) {
  vp::ModuleHandle module;
  ASSERT_EQ(vp::ModuleOpen(VTEST_MODULE_PATH, &module), 0);
  void *address = nullptr;
  ASSERT_EQ(vp::ModuleSymbol(module, "vtest_module_answer", &address), 0);
  EXPECT_EQ(reinterpret_cast<int (*)()>(address)(), 42);
  EXPECT_EQ(vp::ModuleSymbol(module, "vtest_missing", &address), ENOENT);
  EXPECT_NE(LoaderText(ENOENT).find("vtest_missing"), std::string::npos);
  // Local binding: the module's symbols stay out of the global namespace.
  vp::ModuleHandle self;
  ASSERT_EQ(vp::ModuleOpen(nullptr, &self), 0);
  EXPECT_EQ(vp::ModuleSymbol(self, "vtest_module_answer", &address), ENOENT);
  EXPECT_EQ(vp::ModuleClose(self), 0);
  EXPECT_EQ(vp::ModuleClose(module), 0);
}

TEST(PlatformModuleTest, FailuresCarryTheLoadersTextOrTheErrorsText) {
  vp::ModuleHandle module{nullptr};
  const char *missing = "/nonexistent/vtest_module.so";
  int rc = vp::ModuleOpen(missing, &module);
  EXPECT_NE(rc, 0);
  EXPECT_EQ(module.value, nullptr);
  EXPECT_NE(LoaderText(rc).find(missing), std::string::npos);

  vtest::OsFault refused("dlopen", 1, EACCES);
  EXPECT_EQ(vp::ModuleOpen(VTEST_MODULE_PATH, &module), EACCES);
  EXPECT_EQ(LoaderText(EACCES), strerror(EACCES));
  vtest::OsFault stuck("dlclose", 1, EBUSY);
  ASSERT_EQ(vp::ModuleOpen(VTEST_MODULE_PATH, &module), 0);
  EXPECT_EQ(vp::ModuleClose(module), EBUSY);
  EXPECT_EQ(vp::ModuleClose(module), 0);  // still loaded until now
}

}  // namespace
