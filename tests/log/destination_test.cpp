// The scheme registry: a driver registered for a scheme receives the
// destinations that name it; the built-in schemes cannot be taken over.
#include "log/destination.h"

#include <errno.h>

#include <string>
#include <vector>

#include "log_test_support.h"

namespace {

using vantrel::internal::LogDriver;
using vantrel::internal::LogLine;
using vantrel::internal::LogSchemeRegister;

// What the probe driver saw, in order.
std::vector<std::string> g_seen;

VRC ProbeOpen(const char *path, void **handle) {
  g_seen.push_back(std::string("open ") + path);
  *handle = &g_seen;
  return 0;
}

VRC ProbeFormat(VLogFile, int, VI18nCatalog, int, int, LogLine *line) {
  vantrel::internal::LogLinePrefix(line, "> ", 2);
  return 0;
}

VRC ProbeWrite(void *handle, int level, char *line, size_t length) {
  EXPECT_EQ(handle, &g_seen);
  g_seen.push_back(std::to_string(level) + " " + std::string(line, length));
  return 0;
}

VRC ProbeClose(void *) {
  g_seen.push_back("close");
  return 0;
}

constexpr LogDriver kProbeDriver{ProbeOpen, ProbeFormat, ProbeWrite,
                                 ProbeClose};

TEST(LogSchemeRegistryTest, RegisteredSchemeReceivesItsDestinations) {
  ASSERT_EQ(LogSchemeRegister("probe", &kProbeDriver), 0);
  VLogFile log = nullptr;
  // The path starts two characters after the colon, keeping one slash.
  ASSERT_EQ(VLogFileOpen("probe://somewhere/else", &log), 0);
  EXPECT_EQ(VLogToFile(log, VLOG_ERROR, 0, nullptr, 104, 0, "n=%d", 7), 0);
  EXPECT_EQ(VLogFileClose(log), 0);
  EXPECT_EQ(g_seen, (std::vector<std::string>{"open /somewhere/else", "4 > n=7",
                                              "close"}));
}

TEST(LogSchemeRegistryTest, RefusesTakenInvalidAndTooManySchemes) {
  EXPECT_EQ(LogSchemeRegister("file", &kProbeDriver), VRC_EXISTS);
  EXPECT_EQ(LogSchemeRegister("stderr", &kProbeDriver), VRC_EXISTS);
  EXPECT_EQ(LogSchemeRegister("", &kProbeDriver), EINVAL);
  EXPECT_EQ(LogSchemeRegister(nullptr, &kProbeDriver), EINVAL);
  EXPECT_EQ(LogSchemeRegister("probe", nullptr), EINVAL);
  EXPECT_EQ(LogSchemeRegister(
                std::string(vantrel::internal::kLogSchemeNameSize, 'x').c_str(),
                &kProbeDriver),
            EINVAL);
  int registered = 0;
  VRC rc = 0;
  while (rc == 0 && registered < 100) {
    rc = LogSchemeRegister(("s" + std::to_string(registered)).c_str(),
                           &kProbeDriver);
    if (rc == 0) ++registered;
  }
  EXPECT_EQ(rc, VRC_FAILURE);
  EXPECT_GT(registered, 0);
  EXPECT_EQ(LogSchemeRegister("s0", &kProbeDriver), VRC_EXISTS);
  // A scheme nobody registered keeps the default driver, as before.
  VLogFile log = nullptr;
  testing::internal::CaptureStderr();
  ASSERT_EQ(VLogFileOpen("nothere://x", &log), 0);
  EXPECT_EQ(VLogToFile(log, VLOG_WARN, 0, nullptr, 103, 0, "probe"), 0);
  EXPECT_EQ(VLogFileClose(log), 0);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "warn: W-UNK-103-000: probe\n");
}

}  // namespace
