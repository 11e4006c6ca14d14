// Files, random bytes and system facts through the platform layer.
#include <errno.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/utsname.h>
#include <unistd.h>

#include <string>

#include "platform/file.h"
#include "platform/random.h"
#include "platform/system.h"
#include "support/os_fault.h"

namespace {

namespace vp = vantrel::platform;

class PlatformFileTest : public testing::Test {
 protected:
  PlatformFileTest() {
    char pattern[] = "/tmp/vplatform.XXXXXX";
    dir_ = mkdtemp(pattern);
  }
  ~PlatformFileTest() override {
    std::string command = "rm -rf " + dir_;
    EXPECT_EQ(system(command.c_str()), 0);
  }
  std::string Path(const char *name) const { return dir_ + "/" + name; }
  std::string Contents(const std::string &path) const {
    char buffer[256];
    size_t length = 0;
    EXPECT_EQ(vp::FileReadSmall(path.c_str(), buffer, sizeof buffer, &length),
              0);
    return std::string(buffer, length);
  }
  std::string dir_;
};

TEST_F(PlatformFileTest, OpensWritesReadsStatsAndMovesFiles) {
  const std::string path = Path("a");
  const uint32_t create = vp::kFileWrite | vp::kFileCreate | vp::kFileExclusive;
  int fd;
  ASSERT_EQ(vp::FileOpen(path.c_str(), create, 0600, &fd), 0);
  EXPECT_EQ(fcntl(fd, F_GETFD) & FD_CLOEXEC, FD_CLOEXEC);
  EXPECT_EQ(vp::FileOpen(path.c_str(), create, 0600, &fd), EEXIST);
  EXPECT_EQ(vp::FileWriteAll(fd, "hello world", 11), 0);
  EXPECT_EQ(vp::FileSync(fd), 0);
  vp::FileInfo info;
  ASSERT_EQ(vp::FileStatDescriptor(fd, &info), 0);
  EXPECT_TRUE(info.size == 11 && info.mode == 0600 && !info.isDirectory);
  EXPECT_NEAR(info.modifiedSeconds, time(nullptr), 60);
  EXPECT_EQ(vp::FileTruncate(fd, 5), 0);
  EXPECT_EQ(vp::FileClose(fd), 0);

  // Appends land at the end whatever the position.
  ASSERT_EQ(vp::FileOpen(path.c_str(), vp::kFileAppend | vp::kFileRead, 0, &fd),
            0);
  int64_t at = -1;
  EXPECT_EQ(vp::FileSeek(fd, 1, vp::SeekFrom::kStart, &at), 0);
  EXPECT_EQ(at, 1);
  char line[] = "!";
  EXPECT_EQ(vp::FileWriteLine(fd, line, 1), 0);
  EXPECT_EQ(std::string(line, sizeof line), std::string("!\0", 2));
  EXPECT_EQ(vp::FileSeek(fd, -3, vp::SeekFrom::kEnd, &at), 0);
  char got[8] = {};
  size_t n = 0;
  EXPECT_EQ(vp::FileRead(fd, got, sizeof got, &n), 0);
  EXPECT_EQ(std::string(got, n), "o!\n");
  EXPECT_EQ(vp::FileRead(fd, got, sizeof got, &n), 0);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(vp::FileClose(fd), 0);
  EXPECT_EQ(Contents(path), "hello!\n");

  EXPECT_EQ(vp::FileRename(path.c_str(), Path("b").c_str()), 0);
  EXPECT_EQ(vp::FileStat(path.c_str(), &info), ENOENT);
  EXPECT_EQ(vp::FileStat(dir_.c_str(), &info), 0);
  EXPECT_TRUE(info.isDirectory);
  EXPECT_EQ(vp::FileRemove(Path("b").c_str()), 0);
  EXPECT_EQ(vp::FileRemove(Path("b").c_str()), ENOENT);
  EXPECT_EQ(vp::FileOpen(path.c_str(), vp::kFileRead, 0, &fd), ENOENT);
}

// Every write takes at most three bytes, after an interruption each time.
ssize_t ShortWrite(int fd, const void *bytes, size_t count) {
  static bool interrupt = false;
  if ((interrupt = !interrupt)) {
    errno = EINTR;
    return -1;
  }
  return write(fd, bytes, count < 3 ? count : 3);
}

TEST_F(PlatformFileTest, WriteAllResumesShortAndInterruptedWrites) {
  int fd;
  ASSERT_EQ(vp::FileOpen(Path("w").c_str(), vp::kFileWrite | vp::kFileCreate,
                         0644, &fd),
            0);
  {
    vtest::OsOverride shortened("write", ShortWrite);
    vtest::OsCallCounter writes("write");
    EXPECT_EQ(vp::FileWriteAll(fd, "0123456789", 10), 0);
    EXPECT_EQ(writes.calls(), 8u);  // four of them interrupted
    vtest::OsFault full("fsync", 1, ENOSPC);
    EXPECT_EQ(vp::FileSync(fd), ENOSPC);
  }
  EXPECT_EQ(vp::FileClose(fd), 0);
  EXPECT_EQ(Contents(Path("w")), "0123456789");
}

TEST_F(PlatformFileTest, ReadSmallFillsTheBufferOrSaysItIsTooBig) {
  const std::string path = Path("s");
  int fd;
  ASSERT_EQ(
      vp::FileOpen(path.c_str(), vp::kFileWrite | vp::kFileCreate, 0644, &fd),
      0);
  ASSERT_EQ(vp::FileWriteAll(fd, "12345", 5), 0);
  vp::FileClose(fd);
  char buffer[6];
  size_t length = 0;
  EXPECT_EQ(vp::FileReadSmall(path.c_str(), buffer, 6, &length), 0);
  EXPECT_STREQ(buffer, "12345");
  EXPECT_EQ(vp::FileReadSmall(path.c_str(), buffer, 5, &length), EFBIG);
  EXPECT_STREQ(buffer, "1234");
  // /proc files report no size; the whole text is read all the same.
  ASSERT_EQ(
      vp::FileReadSmall("/proc/self/stat", buffer, sizeof buffer, nullptr),
      EFBIG);
  EXPECT_EQ((std::to_string(getpid()) + " (").substr(0, 5), buffer);
}

TEST(PlatformRandomTest, FillsFromGetrandomOrTheDevice) {
  unsigned char a[64] = {}, b[64] = {};
  ASSERT_EQ(vp::RandomFill(a, sizeof a), 0);
  {
    vtest::OsFault old_kernel("getrandom", 1, ENOSYS, true);
    vtest::OsCallCounter opens("open");
    ASSERT_EQ(vp::RandomFill(b, sizeof b), 0);
    EXPECT_EQ(opens.calls(), 1u);  // /dev/urandom
  }
  EXPECT_NE(memcmp(a, b, sizeof a), 0);
  EXPECT_EQ(vp::RandomFill(b, 0), 0);
}

TEST(PlatformSystemTest, NamesTheSystemTheHostAndTheProcess) {
  struct utsname u;
  ASSERT_EQ(uname(&u), 0);
  vp::SystemName name;
  ASSERT_EQ(vp::SystemNameGet(&name), 0);
  EXPECT_STREQ(name.system, u.sysname);
  EXPECT_STREQ(name.release, u.release);
  EXPECT_STREQ(name.machine, u.machine);
  char host[256];
  ASSERT_EQ(vp::HostName(host, sizeof host), 0);
  EXPECT_STREQ(host, u.nodename);
  EXPECT_EQ(vp::HostName(host, 1), ENAMETOOLONG);
  EXPECT_STREQ(host, "");
  EXPECT_EQ(vp::ProcessId(), static_cast<uint32_t>(getpid()));
  int64_t ticks = 0;
  ASSERT_EQ(vp::ClockTicksPerSecond(&ticks), 0);
  EXPECT_EQ(ticks, sysconf(_SC_CLK_TCK));
}

}  // namespace
