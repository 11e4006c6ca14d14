// The module facility: loading, symbols, unloading, the paths it composes,
// its limits, its exception records and its allocation failures.
#include "net/module.h"

#include <errno.h>
#include <gtest/gtest.h>

#include <string>

#include "net/net_test_support.h"
#include "support/alloc_sweep.h"
#include "support/os_fault.h"
#include "threads/thr.h"
#include "vantrel/vlog.h"
#include "vantrel/vrc.h"

namespace {

namespace vi = vantrel::internal;
using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;

const std::string kDriver = vtest::StagedModule("ipv4_r");

// The same file under a path of exactly `length` characters, padded with
// "./" steps.
std::string PathOfLength(const std::string &path, size_t length) {
  size_t pad = length - path.size();
  std::string padded = pad % 2 != 0 ? "//" : "/";
  for (size_t i = 0; i < pad / 2; ++i) padded += "./";
  return padded + path.substr(1);
}

// Exception records live in thread records, which need the thread
// subsystem; the rest of start-up stays out of these tests.
class VModuleTest : public testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(vi::ThreadSubsystemInit(), 0); }
};

std::string LoadFailure(const std::string &path) {
  return "'ModuleLoad' exception occured:\n\tLoadLibrary() failed: " + path +
         "\n";
}

TEST_F(VModuleTest, LoadsFindsSymbolsAndUnloadsOnceTheSystemLetsIt) {
  VThreadExceptionAdd(VThreadGetID(), nullptr, 3, 1, "older", nullptr, nullptr,
                      nullptr, nullptr);
  vi::VModule module = nullptr;
  ASSERT_EQ(vi::VModuleLoad("ipv4_r", kDriver.c_str(), &module), 0);
  EXPECT_FALSE(VThreadExceptionRaised(VThreadGetID()));  // cleared
  EXPECT_STREQ(module->name, "ipv4_r");
  EXPECT_EQ(module->path, kDriver);
  EXPECT_NE(vi::VModuleSymbolGet(module, "_VSockIpDrvDefGet"), nullptr);

  // A missing symbol neither raises nor clears.
  VThreadExceptionAdd(VThreadGetID(), nullptr, 3, 1, "kept", nullptr, nullptr,
                      nullptr, nullptr);
  EXPECT_EQ(vi::VModuleSymbolGet(module, "vtest_missing"), nullptr);
  EXPECT_NE(vtest::ExceptionText().find("\tkept\n"), std::string::npos);

  // A failed unload keeps the module and raises a record; a retry works.
  {
    vtest::OsFault busy("dlclose", 1, EBUSY);
    EXPECT_EQ(vi::VModuleUnload(module), VRC_MODULE_UNLOAD_FAILED);
  }
  EXPECT_EQ(vtest::ExceptionText(),
            "'ModuleUnload' exception occured:\n\tFreeLibrary() failed\n");
  EXPECT_STREQ(module->name, "ipv4_r");
  EXPECT_NE(vi::VModuleSymbolGet(module, "_VSockIpDrvDefGet"), nullptr);
  EXPECT_EQ(vi::VModuleUnload(module), 0);
  EXPECT_FALSE(VThreadExceptionRaised(VThreadGetID()));
}

TEST_F(VModuleTest, MissingFileRaisesModuleLoadWithThePath) {
  auto before = vtest::OpenDescriptors();
  auto *sentinel = reinterpret_cast<vi::VModule>(0x1);
  vi::VModule module = sentinel;
  const char *path = "/nonexistent/dir/nothere.so";
  EXPECT_EQ(vi::VModuleLoad("nothere", path, &module), VRC_MODULE_LOAD_FAILED);
  EXPECT_EQ(module, sentinel);
  EXPECT_EQ(vtest::ExceptionText(), LoadFailure(path));
  // The code has no text of its own.
  EXPECT_STREQ(VRCToString(VRC_MODULE_LOAD_FAILED), "Unknown error -60");

  // A refused dlopen of a real file reads the same.
  {
    vtest::OsFault refused("dlopen", 1, EACCES);
    EXPECT_EQ(vi::VModuleLoad("ipv4_r", kDriver.c_str(), &module),
              VRC_MODULE_LOAD_FAILED);
  }
  EXPECT_EQ(module, sentinel);
  EXPECT_EQ(vtest::ExceptionText(), LoadFailure(kDriver));
  EXPECT_EQ(vtest::OpenDescriptors(), before);
}

TEST_F(VModuleTest, LoadFromDirComposesThePlatformsModulePath) {
  vi::VModule module = nullptr;
  EXPECT_EQ(vi::VModuleLoadFromDir("/x", "ipv4_r", "network", &module),
            VRC_MODULE_LOAD_FAILED);
  EXPECT_EQ(vtest::ExceptionText(),
            LoadFailure("/x/platform/linux/module/network/ipv4_r.so"));

  vtest::TempHome home;
  home.Install(kDriver, "ipv4_r");
  ASSERT_EQ(
      vi::VModuleLoadFromDir(home.path().c_str(), "ipv4_r", "network", &module),
      0);
  EXPECT_EQ(std::string(module->path),
            home.path() + "/platform/linux/module/network/ipv4_r.so");
  EXPECT_EQ(vi::VModuleUnload(module), 0);

  // Start-up hands over the installation's platform name.
  vi::ModuleSetPlatformQuery([] { return "sparc"; });
  EXPECT_EQ(vi::VModuleLoadFromDir("/x", "ipv6_r", "other", &module),
            VRC_MODULE_LOAD_FAILED);
  EXPECT_EQ(vtest::ExceptionText(),
            LoadFailure("/x/platform/sparc/module/other/ipv6_r.so"));
  vi::ModuleSetPlatformQuery(nullptr);
}

TEST_F(VModuleTest, NamesOfFortyAndPathsOf259CharactersAreTheLongest) {
  vi::VModule module = nullptr;
  std::string name(40, 'n');
  std::string longest = PathOfLength(kDriver, 259);
  ASSERT_EQ(longest.size(), 259u);
  ASSERT_EQ(vi::VModuleLoad(name.c_str(), longest.c_str(), &module), 0);
  EXPECT_EQ(module->name, name);
  EXPECT_EQ(module->path, longest);
  EXPECT_EQ(vi::VModuleUnload(module), 0);

  // Longer texts are refused without a record, leaving no older one.
  vi::VModule untouched = nullptr;
  std::string longer = PathOfLength(kDriver, 260);
  VThreadExceptionAdd(VThreadGetID(), nullptr, 3, 1, "older", nullptr, nullptr,
                      nullptr, nullptr);
  EXPECT_EQ(vi::VModuleLoad((name + "n").c_str(), kDriver.c_str(), &untouched),
            ENAMETOOLONG);
  EXPECT_EQ(vi::VModuleLoad("ipv4_r", longer.c_str(), &untouched),
            ENAMETOOLONG);
  EXPECT_FALSE(VThreadExceptionRaised(VThreadGetID()));

  // The composed path has the same limit: a home that makes it 259 long
  // works, one character more does not.
  vtest::TempHome home;
  home.Install(kDriver, "ipv4_r");
  size_t rest = std::string("/platform/linux/module/network/ipv4_r.so").size();
  std::string fits = PathOfLength(home.path(), 259 - rest);
  ASSERT_EQ(vi::VModuleLoadFromDir(fits.c_str(), "ipv4_r", "network", &module),
            0);
  EXPECT_EQ(strlen(module->path), 259u);
  EXPECT_EQ(vi::VModuleUnload(module), 0);
  std::string over = PathOfLength(home.path(), 260 - rest);
  EXPECT_EQ(
      vi::VModuleLoadFromDir(over.c_str(), "ipv4_r", "network", &untouched),
      ENAMETOOLONG);
  EXPECT_EQ(untouched, nullptr);
}

TEST_F(VModuleTest, NullArgumentsAreRefused) {
  vi::VModule module = nullptr;
  EXPECT_EQ(vi::VModuleLoad(nullptr, kDriver.c_str(), &module), EINVAL);
  EXPECT_EQ(vi::VModuleLoad("n", nullptr, &module), EINVAL);
  EXPECT_EQ(vi::VModuleLoad("n", kDriver.c_str(), nullptr), EINVAL);
  EXPECT_EQ(vi::VModuleLoadFromDir(nullptr, "n", "network", &module), EINVAL);
  EXPECT_EQ(vi::VModuleUnload(nullptr), EINVAL);
  EXPECT_EQ(vi::VModuleSymbolGet(nullptr, "x"), nullptr);
  EXPECT_EQ(module, nullptr);
}

TEST_F(VModuleTest, TraceLineIsWrittenOnlyUnderADebugFacility) {
  VLogMgrSetLevel(VLOG_DEBUG);
  vi::VModule module = nullptr;
  CaptureStderr();
  ASSERT_EQ(vi::VModuleLoad("ipv4_r", kDriver.c_str(), &module), 0);
  EXPECT_EQ(vi::VModuleUnload(module), 0);
  EXPECT_EQ(GetCapturedStderr(), "");

  vi::ModuleSetDebugFacility(9);
  CaptureStderr();
  ASSERT_EQ(vi::VModuleLoad("ipv4_r", kDriver.c_str(), &module), 0);
  std::string written = GetCapturedStderr();
  EXPECT_NE(written.find("Attempting to load module 'ipv4_r' from path: " +
                         kDriver + "\n"),
            std::string::npos)
      << written;
  EXPECT_NE(written.find("-004-032: "), std::string::npos) << written;
  EXPECT_EQ(vi::VModuleUnload(module), 0);
  vi::ModuleSetDebugFacility(0);
}

TEST_F(VModuleTest, AllocationFailureLoadsNothing) {
  auto before = vtest::OpenDescriptors();
  vtest::SweepAllocations([&](vtest::Fault &f) {
    vi::VModule module = nullptr;
    f.Arm();
    VRC rc =
        vi::VModuleLoadFromDir(VTEST_STAGE_DIR, "ipv4_r", "network", &module);
    if (f.Disarm()) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(module, nullptr);
      EXPECT_FALSE(VThreadExceptionRaised(VThreadGetID()));
    } else {
      ASSERT_EQ(rc, 0);
      EXPECT_EQ(vi::VModuleUnload(module), 0);
    }
  });
  EXPECT_EQ(vtest::OpenDescriptors(), before);
}

}  // namespace
