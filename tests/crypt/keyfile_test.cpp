// Key files and whole-file reads: every format failure with its code and
// log line, the keys that come out of good files, and the failures of the
// system's file calls.
#include <errno.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <optional>

#include "crypt_test_support.h"
#include "support/os_fault.h"

namespace {

using vtest::Bytes;
using vtest::Error;
using vtest::LogLine;
using vtest::LogOf;
using vtest::Warning;

using VDataCryptKeyFileTest = vtest::CryptTest;

// A key of `length` bytes that holds a colon, a line end and a NUL, so
// that nothing reads the key as text.
Bytes AwkwardKey(size_t length) {
  Bytes key = vtest::RandomBytes(length, static_cast<uint32_t>(length));
  key[1] = ':';
  key[2] = '\n';
  key[3] = '\0';
  return key;
}

struct KeyFileCase {
  const char *name;
  Bytes contents;
  VRC code;
  std::string line;  // the error line, "%s" for the path; "" for none
  Bytes key = {};    // the key a good file gives
};

// What each contents gives: the code, the log line, and the key.
std::vector<KeyFileCase> KeyFileCases() {
  Bytes k16 = AwkwardKey(16), k24 = AwkwardKey(24), k32 = AwkwardKey(32);
  const std::string kLength =
      "Key file formatted incorrectly, length mismatch %s";
  const std::string kNumeric =
      "Key file formatted incorrectly, non numeric characters in length: %s";
  const std::string kSeparator =
      "Key file formatted incorrectly, no separator found %s";
  return {
      {"exact", "128:" + k16, 0, "", k16},
      {"line end after", "128:" + k16 + "\n", 0, "", k16},
      {"more bytes after", "128:" + k32, 0, "", k32.substr(0, 16)},
      {"192 bits", "192:" + k24, 0, "", k24},
      {"256 bits", "256:" + k32 + "\r\n", 0, "", k32},
      {"one byte short", "128:" + k16.substr(0, 15), VRC_CRYPT_KEY_LENGTH,
       kLength},
      {"nothing after", "128:", VRC_CRYPT_KEY_LENGTH, kLength},
      {"zero bits", "0:" + k16, VRC_CRYPT_KEY_LENGTH, kLength},
      {"seven bits", "7:" + k16, VRC_CRYPT_KEY_LENGTH, kLength},
      {"letters first", "abc:" + k16, VRC_CRYPT_KEY_LENGTH, kLength},
      {"colon first", ":" + k16, VRC_CRYPT_KEY_LENGTH, kLength},
      {"beyond any file", "99999999999999999999999:" + k16,
       VRC_CRYPT_KEY_LENGTH, kLength},
      {"2^32 + 128 bits", "4294967424:" + k16, VRC_CRYPT_KEY_LENGTH, kLength},
      {"letter in length", "12a:" + k16, VRC_CRYPT_KEY_NOT_NUMERIC, kNumeric},
      {"blank first", " 128:" + k16, VRC_CRYPT_KEY_NOT_NUMERIC, kNumeric},
      {"plus sign", "+128:" + k16, VRC_CRYPT_KEY_NOT_NUMERIC, kNumeric},
      {"minus sign", "-128:" + k16, VRC_CRYPT_KEY_NOT_NUMERIC, kNumeric},
      {"NUL in length", Bytes("12\0008:", 5) + k16, VRC_CRYPT_KEY_NOT_NUMERIC,
       kNumeric},
      // A length the format allows but AES does not: the crypto library's.
      {"96 bits", "96:" + AwkwardKey(12), VTKCRYPT_E_KEY_LENGTH,
       "libvcrypt error: 'Unknown error -5003'"},
      {"no colon", "128" + Bytes(16, 'k'), VRC_CRYPT_KEY_NO_SEPARATOR,
       kSeparator},
      {"semicolon", "128;" + Bytes(16, 'k'), VRC_CRYPT_KEY_NO_SEPARATOR,
       kSeparator},
  };
}

TEST_F(VDataCryptKeyFileTest, EveryFormatGivesItsCodeLineAndKey) {
  int n = 0;
  for (const KeyFileCase &c : KeyFileCases()) {
    SCOPED_TRACE(c.name);
    std::string path = WriteFile("key" + std::to_string(n++), c.contents);
    auto sentinel = reinterpret_cast<VDataCryptContext>(0x1);
    VDataCryptContext out = sentinel;
    vtest::Lines log = LogOf([&] {
      EXPECT_EQ(VDataCryptSetupContextWithFile("AES_CBC", path.c_str(), &out),
                c.code);
    });
    vtest::Lines expected;
    if (size_t at = c.line.find("%s"); at != std::string::npos) {
      expected.push_back(Error(c.line.substr(0, at) + path));
    } else if (!c.line.empty()) {
      expected.push_back(Error(c.line));
    }
    EXPECT_EQ(log, expected);
    if (c.code != 0) {
      EXPECT_EQ(out, sentinel);
      continue;
    }
    vtest::Context context(out);
    bool ok = false;
    std::string text = vtest::Encrypt(out, "value");
    EXPECT_EQ(
        vtest::ReferenceDecrypt("AES_CBC", c.key, vtest::CipherOf(text), &ok),
        "value");
  }
}

TEST_F(VDataCryptKeyFileTest, KeyFileIsReadBeforeTheAlgorithmIsLookedUp) {
  std::string bad = WriteFile("bad", "128" + Bytes(16, 'k'));
  std::string good = KeyFile("good", AwkwardKey(16));
  VDataCryptContext out = nullptr;
  LogOf([&] {
    EXPECT_EQ(VDataCryptSetupContextWithFile("aes", bad.c_str(), &out),
              VRC_CRYPT_KEY_NO_SEPARATOR);
    EXPECT_EQ(VDataCryptSetupContextWithFile("aes", good.c_str(), &out),
              VRC_CRYPT_NO_ALGORITHM);
  });
  EXPECT_EQ(out, nullptr);
}

// Reads the file through the library: the code, and the bytes in *out.
VRC LibraryRead(const std::string &path, Bytes *out) {
  char *data = nullptr;
  uint32_t length = 99;
  VRC rc = VDataCryptReadFile(path.c_str(), &data, &length);
  if (rc == 0) {
    EXPECT_EQ(data[length], '\0');
    out->assign(data, length);
  } else {
    EXPECT_EQ(length, 0u) << "the length is cleared first";
    EXPECT_EQ(data, nullptr) << "no data on failure";
  }
  VDataCryptFreeFileData(data);
  return rc;
}

TEST_F(VDataCryptKeyFileTest, ReadFileGivesEveryByteAndATerminator) {
  for (size_t size : {size_t{1}, size_t{4095}, size_t{4096}, size_t{70000}}) {
    Bytes contents = vtest::RandomBytes(size, static_cast<uint32_t>(size));
    std::string path = WriteFile("data" + std::to_string(size), contents);
    Bytes back;
    EXPECT_TRUE(LogOf([&] { EXPECT_EQ(LibraryRead(path, &back), 0); }).empty());
    EXPECT_EQ(back, contents);
  }
}

struct FileFailureCase {
  std::string path;
  VRC code;
  std::string line;  // "%s" stands for the path
  bool counted;      // the status failed first, with its warning
};

TEST_F(VDataCryptKeyFileTest, FilesThatCannotBeReadGiveTheirCodeAndLine) {
  const std::string kOpen = "Could not open file %s for reading, Error: ";
  std::string dir = Path("dir");
  mkdir(dir.c_str(), 0700);
  const FileFailureCase cases[] = {
      {Path("none"), VRC_CRYPT_FILE_OPEN, kOpen + strerror(ENOENT), true},
      {dir, VRC_CRYPT_FILE_OPEN, kOpen + strerror(EISDIR), false},
      {WriteFile("empty", ""), VRC_CRYPT_FILE_EMPTY,
       "Attempt made to read data from empty file: %s", false},
  };
  for (const FileFailureCase &c : cases) {
    const std::string &path = c.path;
    SCOPED_TRACE(path);
    std::string line = c.line;
    line.replace(line.find("%s"), 2, path);
    vtest::Lines expected;
    if (c.counted) {
      expected.push_back(Warning("Failed to get file statistics on file " +
                                 path + ", trying to read as ascii."));
    }
    expected.push_back(Error(line));
    Bytes back;
    EXPECT_EQ(LogOf([&] { EXPECT_EQ(LibraryRead(path, &back), c.code); }),
              expected);
    // A key file read the same way fails the same way.
    VDataCryptContext out = nullptr;
    EXPECT_EQ(LogOf([&] {
                EXPECT_EQ(
                    VDataCryptSetupContextWithFile("AES", path.c_str(), &out),
                    c.code);
              }),
              expected);
    LogOf([&] { EXPECT_EQ(VAesDataCryptSetKeyFile(path.c_str()), c.code); });
  }
}

TEST_F(VDataCryptKeyFileTest, WithoutFileStatusTheBytesAreCounted) {
  Bytes contents = vtest::RandomBytes(10000, 1);
  std::string path = WriteFile("data", contents);
  vtest::OsFault noStatus("stat", 1, EACCES, true);
  vtest::OsCallCounter opens("open");
  Bytes back;
  vtest::Lines log = LogOf([&] { EXPECT_EQ(LibraryRead(path, &back), 0); });
  EXPECT_EQ(back, contents);
  EXPECT_EQ(opens.calls(), 2u) << "once to count, once to read";
  EXPECT_EQ(log, vtest::Lines{Warning("Failed to get file statistics on file " +
                                      path + ", trying to read as ascii.")});
}

struct OsFailureCase {
  const char *name;
  bool statFails;
  const char *op;
  uint64_t nth;
  int error;
};

TEST_F(VDataCryptKeyFileTest, FailingOpensAndReadsGiveTheOpenCode) {
  const OsFailureCase kCases[] = {
      {"open", false, "open", 1, EACCES},
      {"read", false, "read", 1, EIO},
      {"open to count", true, "open", 1, EMFILE},
      {"read to count", true, "read", 1, EIO},
      {"open after counting", true, "open", 2, ENFILE},
      {"read after counting", true, "read", 3, EIO},
  };
  std::string path = KeyFile("key", AwkwardKey(16));
  for (const OsFailureCase &c : kCases) {
    SCOPED_TRACE(c.name);
    std::optional<vtest::OsFault> noStatus;
    if (c.statFails) noStatus.emplace("stat", 1, EACCES, true);
    vtest::OsFault failing(c.op, c.nth, c.error);
    Bytes back;
    vtest::Lines log = LogOf(
        [&] { EXPECT_EQ(LibraryRead(path, &back), VRC_CRYPT_FILE_OPEN); });
    EXPECT_TRUE(failing.fired());
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), Error("Could not open file " + path +
                                " for reading, Error: " + strerror(c.error)));
  }
}

// The system's read, except that every call from the `shortFrom`th on finds
// the end of the file: the file shrinks while it is read.
using ReadFn = ssize_t (*)(int, void *, size_t);
std::atomic<int> g_reads{0};
std::atomic<int> g_shortFrom{0};
ssize_t ShrinkingRead(int fd, void *buffer, size_t size) {
  if (++g_reads >= g_shortFrom) return 0;
  return read(fd, buffer, size);
}

TEST_F(VDataCryptKeyFileTest, FileThatShrinksWhileReadIsShort) {
  std::string path = KeyFile("key", AwkwardKey(32));
  const std::string line =
      "File length found does not match expected file length: " + path;
  // Counted: two reads count the bytes, the third finds the end early.
  // From the status: the first read finds the end.
  for (bool counted : {true, false}) {
    SCOPED_TRACE(counted ? "counted" : "from the status");
    std::optional<vtest::OsFault> noStatus;
    if (counted) noStatus.emplace("stat", 1, EACCES, true);
    g_reads = 0;
    g_shortFrom = counted ? 3 : 1;
    vtest::OsOverride<ReadFn> shrinking("read", ShrinkingRead);
    VDataCryptContext out = nullptr;
    vtest::Lines log = LogOf([&] {
      EXPECT_EQ(VDataCryptSetupContextWithFile("AES", path.c_str(), &out),
                VRC_CRYPT_FILE_SHORT);
    });
    EXPECT_EQ(out, nullptr);
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), Error(line));
  }
}

}  // namespace
