// The home the library falls back on when VTHOME is unset: "vantrel" beside
// the library's own file when that directory exists, else the home fixed at
// configuration.  The library's place is faked through the loader entry
// (dladdr) in a temporary tree.  Each test runs in its own process, so every
// test sees the homes before they are kept.
#include <dlfcn.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "support/os_fault.h"
#include "vantrel/vservices.h"

namespace {

namespace fs = std::filesystem;

// The file the fake loader names as the library's own.
std::string g_libraryFile;

int FakeDladdr(const void *, Dl_info *info) {
  *info = Dl_info{};
  info->dli_fname = g_libraryFile.c_str();
  return 0;
}

class DefaultHomeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    unsetenv("VTHOME");
    unsetenv("KESSHOME");
    char pattern[] = "/tmp/vantrel-home-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    // Resolved, as the library resolves its own path.
    top_ = fs::canonical(pattern);
    fs::create_directories(top_ / "lib");
    std::ofstream(top_ / "lib" / "libvantrel.so.1.0.0") << "";
    g_libraryFile = (top_ / "lib" / "libvantrel.so.1.0.0").string();
  }
  void TearDown() override { fs::remove_all(top_); }

  // The home a library that cannot place itself falls back on: the one
  // fixed at configuration.
  static std::string ConfiguredHome() { return VANTREL_TEST_CONFIGURED_HOME; }

  fs::path top_;
};

TEST_F(DefaultHomeTest, DirectoryBesideTheLibraryIsTheHome) {
  fs::create_directories(top_ / "lib" / "vantrel");
  vtest::OsOverride loader("dladdr", &FakeDladdr);
  EXPECT_EQ(std::string(VGetVTHOME()), (top_ / "lib" / "vantrel").string());
  EXPECT_EQ(std::string(VGetKESSHOME()),
            (top_ / "lib" / "vantrel" / "Kessaly").string());
}

TEST_F(DefaultHomeTest, LinkToTheLibraryIsFollowedToItsInstallation) {
  fs::create_directories(top_ / "lib" / "vantrel");
  fs::create_directories(top_ / "elsewhere");
  fs::create_symlink(top_ / "lib" / "libvantrel.so.1.0.0",
                     top_ / "elsewhere" / "libvantrel.so.1");
  g_libraryFile = (top_ / "elsewhere" / "libvantrel.so.1").string();
  vtest::OsOverride loader("dladdr", &FakeDladdr);
  EXPECT_EQ(std::string(VGetVTHOME()), (top_ / "lib" / "vantrel").string());
}

TEST_F(DefaultHomeTest, WithoutTheDirectoryTheConfiguredHomeHolds) {
  vtest::OsOverride loader("dladdr", &FakeDladdr);
  EXPECT_EQ(std::string(VGetVTHOME()), ConfiguredHome());
  EXPECT_EQ(std::string(VGetKESSHOME()), ConfiguredHome() + "/Kessaly");
}

TEST_F(DefaultHomeTest, AFileNamedLikeTheHomeIsNotTheHome) {
  std::ofstream(top_ / "lib" / "vantrel") << "";
  vtest::OsOverride loader("dladdr", &FakeDladdr);
  EXPECT_EQ(std::string(VGetVTHOME()), ConfiguredHome());
}

TEST_F(DefaultHomeTest, LoaderThatCannotTellLeavesTheConfiguredHome) {
  fs::create_directories(top_ / "lib" / "vantrel");
  vtest::OsFault no_answer("dladdr", 1, ENOENT, true);
  EXPECT_EQ(std::string(VGetVTHOME()), ConfiguredHome());
  EXPECT_TRUE(no_answer.fired());
}

TEST_F(DefaultHomeTest, UnresolvablePathLeavesTheConfiguredHome) {
  fs::create_directories(top_ / "lib" / "vantrel");
  vtest::OsOverride loader("dladdr", &FakeDladdr);
  vtest::OsFault no_path("realpath", 1, EACCES, true);
  EXPECT_EQ(std::string(VGetVTHOME()), ConfiguredHome());
}

TEST_F(DefaultHomeTest, EnvironmentWinsOverTheDirectoryBesideTheLibrary) {
  fs::create_directories(top_ / "lib" / "vantrel");
  setenv("VTHOME", "/opt/family/", 1);
  setenv("KESSHOME", "/opt/product", 1);
  vtest::OsCallCounter loader("dladdr");
  EXPECT_STREQ(VGetVTHOME(), "/opt/family");
  EXPECT_STREQ(VGetKESSHOME(), "/opt/product");
  EXPECT_EQ(loader.calls(), 0u);
}

TEST_F(DefaultHomeTest, KesshomeAloneFallsBackBesideTheLibrary) {
  fs::create_directories(top_ / "lib" / "vantrel");
  setenv("VTHOME", "/opt/family", 1);
  vtest::OsOverride loader("dladdr", &FakeDladdr);
  EXPECT_STREQ(VGetVTHOME(), "/opt/family");
  EXPECT_EQ(std::string(VGetKESSHOME()),
            (top_ / "lib" / "vantrel" / "Kessaly").string());
}

// Linked into this test program, the library finds no home beside the
// program and keeps the configured one, as in the build tree.
TEST(DefaultHomeBuildTreeTest, ProgramWithoutAHomeBesideItKeepsTheConfigured) {
  unsetenv("VTHOME");
  EXPECT_STREQ(VGetVTHOME(), VANTREL_TEST_CONFIGURED_HOME);
}

}  // namespace
