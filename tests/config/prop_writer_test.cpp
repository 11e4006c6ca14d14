// Writing properties files: the header and the line of every type, write
// and reproduce modes, round trips through the reader, and the failures of
// every destination.
#include <errno.h>
#include <fcntl.h>
#include <unistd.h>

// gcc 12 reports maybe-uninitialized members inside libstdc++'s <regex>
// when it inlines it into the sanitizer build; the warning is not ours.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include <regex>

#include "config_test_support.h"
#include "support/os_fault.h"

namespace {

using VPropMgrWriteTest = vtest::ConfigTest;

// Every type with a value that exercises its format.
vtest::PropMgr AllTypes(bool alternative = false) {
  auto m = vtest::MakePropMgr();
  int k = alternative ? 2 : 1;
  auto define = [&](const char *name, VTypedValue v, uint32_t flags = 0) {
    EXPECT_EQ(VPropMgrDefineWithFlags(m.get(), name, name, &v, flags), 0);
  };
  VValue shortValue{};
  shortValue.shortValue = static_cast<int16_t>(-300 * k);
  define("aShort", VTypedValue{VDT_SHORT, shortValue});
  define("anInteger", vtest::Int(-2000000000 / k));
  VValue unsignedValue{};
  unsignedValue.unsignedValue = 4000000000u / k;
  define("anUnsigned", VTypedValue{VDT_UNSIGNED, unsignedValue});
  define("aBoolean", vtest::Bool(k == 1));
  define("aReal", vtest::Real(k == 1 ? -1234.5678905 : 0.0000001));
  VValue utc{};
  utc.utcValue = 1700000000 / k;
  define("aTime", VTypedValue{VDT_UTC, utc});
  define("aText",
         vtest::Text(k == 1 ? "tab\tnl\ncr\rdq\"sq'bs\\ # not a comment"
                            : "caf\xc3\xa9 $NOT_EXPANDED"));
  define("anInteger64", vtest::Int64(k == 1 ? INT64_MIN : INT64_MAX));
  VValue u64{};
  u64.unsigned64Value = k == 1 ? uint64_t{INT64_MAX} : 1;
  define("anUnsigned64", VTypedValue{VDT_UNSIGNED64, u64});
  return m;
}

TEST_F(VPropMgrWriteTest, HeaderThenOneLinePerPropertyByName) {
  auto m = AllTypes();
  std::string written = vtest::Written(m.get());
  EXPECT_TRUE(std::regex_match(
      written.substr(0, written.find("\n\n", written.find("# Written")) + 2),
      std::regex("# Vantrel Properties File\n#\n# libvantrel: 1\\.0\\.0\n\n"
                 "# Written: [A-Z][a-z]{2} [A-Z][a-z]{2} [ 0-9]\\d "
                 "\\d\\d:\\d\\d:\\d\\d \\d{4}\n\n")))
      << written;
  EXPECT_EQ(vtest::Body(written),
            "\n"
            "aBoolean: TRUE # BOOLEAN (aBoolean)\n"
            "anInteger: -2000000000 # INTEGER (anInteger)\n"
            "anInteger64: -9223372036854775808 # INTEGER64 (anInteger64)\n"
            "anUnsigned: 4000000000 # UNSIGNED (anUnsigned)\n"
            "anUnsigned64: 9223372036854775807 # UNSIGNED64 (anUnsigned64)\n"
            "aReal: -1234.567890 # REAL (aReal)\n"
            "aShort: -300 # SHORT (aShort)\n"
            "aText: 'tab\\tnl\\ncr\\rdq\\\"sq\\'bs\\\\ # not a comment' # "
            "STRING (aText)\n"
            "aTime: 1700000000 # UTC Tue Nov 14 22:13:20 2023 (aTime)\n"
            "Props.CheckNames: TRUE # BOOLEAN (Cause program to abort if any "
            "property is not understood at the time it is read)\n"
            "\n# End of File\n");
}

TEST_F(VPropMgrWriteTest, EveryTypeSurvivesAWriteAndARead) {
  for (bool alternative : {false, true}) {
    auto source = AllTypes(alternative);
    auto target = AllTypes(!alternative);
    std::string path = Path("round.props");
    ASSERT_EQ(VPropMgrWriteToFile(source.get(), path.c_str()), 0);
    VPropParseError error{};
    ASSERT_EQ(VPropMgrParseFile(target.get(), path.c_str(), &error), 0)
        << error.text << " at " << error.line;
    EXPECT_EQ(error.file, nullptr);
    EXPECT_EQ(vtest::Body(vtest::Written(target.get())),
              vtest::Body(vtest::Written(source.get())));
  }
}

// Integers are read as signed 64-bit numbers: a larger unsigned value is
// written in full but comes back as the largest signed one.
TEST_F(VPropMgrWriteTest, UnsignedBeyondTheSignedRangeComesBackClamped) {
  auto m = vtest::MakePropMgr();
  VValue u64{};
  u64.unsigned64Value = UINT64_MAX;
  VTypedValue v{VDT_UNSIGNED64, u64};
  ASSERT_EQ(VPropMgrDefineWithFlags(m.get(), "u", "d", &v, 0), 0);
  std::string path = Path("u.props");
  ASSERT_EQ(VPropMgrWriteToFile(m.get(), path.c_str()), 0);
  EXPECT_NE(ReadFile(path).find("u: 18446744073709551615 # UNSIGNED64 (d)"),
            std::string::npos);
  ASSERT_EQ(VPropMgrParseFile(m.get(), path.c_str(), nullptr), 0);
  EXPECT_EQ(vtest::ValueText(m.get(), "u"), "9223372036854775807");
}

TEST_F(VPropMgrWriteTest, RealsKeepSixDecimals) {
  auto m = vtest::MakePropMgr();
  VTypedValue v = vtest::Real(0.0000001);
  ASSERT_EQ(VPropMgrDefineWithFlags(m.get(), "r", "d", &v, 0), 0);
  EXPECT_NE(vtest::Written(m.get()).find("r: 0.000000 # REAL (d)\n"),
            std::string::npos);
}

TEST_F(VPropMgrWriteTest, BinaryIsWrittenButCannotBeReadBack) {
  auto m = vtest::MakePropMgr();
  uint8_t bytes[] = {0x0a, 0x1b, 0xff};
  VTypedValue bin{VDT_BINARY, VValue{}};
  bin.value.binaryValue.length = 3;
  bin.value.binaryValue.data = bytes;
  VTypedValue empty{VDT_BINARY, VValue{}};
  VTypedValue after = vtest::Int(1);
  ASSERT_EQ(VPropMgrDefineWithFlags(m.get(), "blob", "b", &bin, 0), 0);
  ASSERT_EQ(VPropMgrDefineWithFlags(m.get(), "empty", "e", &empty, 0), 0);
  ASSERT_EQ(VPropMgrDefineWithFlags(m.get(), "later", "l", &after, 0), 0);
  std::string body = vtest::Body(vtest::Written(m.get()));
  EXPECT_NE(body.find("blob: 0x0a1bff# BINARY (3 bytes) (b)\n"
                      "empty: # BINARY (0 bytes) (e)\n"
                      "later: 1 # INTEGER (l)\n"),
            std::string::npos)
      << body;
  std::string path = Path("bin.props");
  ASSERT_EQ(VPropMgrWriteToFile(m.get(), path.c_str()), 0);
  VPropParseError error{};
  EXPECT_EQ(VPropMgrParseFile(m.get(), path.c_str(), &error),
            VRC_TYPE_MISMATCH);
  EXPECT_STREQ(error.text, "blob");
  free(error.file);
  // Without a value token the entry runs into the next line's name.
  VPropertySetFlags(VPropMgrFind(m.get(), "blob"), VPROP_FLAG_NOWRITE);
  ASSERT_EQ(VPropMgrWriteToFile(m.get(), path.c_str()), 0);
  error = VPropParseError{};
  EXPECT_EQ(VPropMgrParseFile(m.get(), path.c_str(), &error), 0);
  EXPECT_STREQ(error.text, "syntax error");
  EXPECT_EQ(error.line, 8);  // the header takes six
  free(error.file);
}

TEST_F(VPropMgrWriteTest, ReproduceFollowsTheTopLevelFile) {
  auto m = vtest::MakePropMgr();
  auto define = [&](const char *name, uint32_t flags = 0) {
    VTypedValue v = vtest::Int(0);
    ASSERT_EQ(VPropMgrDefineWithFlags(m.get(), name, "d", &v, flags), 0);
  };
  for (const char *name : {"a", "b", "c", "d", "e", "x", "z"}) define(name);
  define("hidden", VPROP_FLAG_NOWRITE);
  std::string inc1 = WriteFile("inc1.props", "x: 5\n");
  std::string inc2 = WriteFile("inc2.props", "d: 4\n");
  std::string top = WriteFile("top.props",
                              "c: 3\n"
                              "include '" +
                                  inc1 +
                                  "'\n"
                                  "a: 1 b: 2\n"
                                  "hidden: 9\n"
                                  "include \"" +
                                  inc2 + "\"\n");
  ASSERT_EQ(VPropMgrParseFile(m.get(), top.c_str(), nullptr), 0);
  VTypedValue v = vtest::Int(7);
  ASSERT_EQ(VPropMgrSetValueForWrite(m.get(), "e", &v), 0);
  ASSERT_EQ(VPropMgrSetValueForWrite(m.get(), "c", &v), 0);  // keeps line 1
  ASSERT_EQ(VPropMgrSetValue(m.get(), "z", &v), 0);          // not reproduced
  EXPECT_EQ(vtest::Body(vtest::Written(m.get(), true)),
            "\n"
            "c: 7 # INTEGER (d)\n"
            "include '" +
                inc1 +
                "'\n"
                "a: 1 # INTEGER (d)\n"
                "b: 2 # INTEGER (d)\n"
                "include \"" +
                inc2 +
                "\"\n"
                "e: 7 # INTEGER (d)\n"
                "\n# End of File\n");
  // Write mode has every property, then every include statement.
  std::string body = vtest::Body(vtest::Written(m.get(), false));
  EXPECT_NE(body.find("x: 5 # INTEGER (d)\nz: 7 # INTEGER (d)\ninclude '" +
                      inc1 + "'\ninclude \"" + inc2 + "\"\n\n# End of File\n"),
            std::string::npos)
      << body;
  EXPECT_EQ(body.find("hidden"), std::string::npos);
}

TEST_F(VPropMgrWriteTest, DestinationsAndTheirFailures) {
  auto m = AllTypes();
  std::string expected = vtest::Body(vtest::Written(m.get()));
  std::string path = WriteFile("out.props", std::string(100000, 'x'));
  ASSERT_EQ(VPropMgrWriteToFile(m.get(), path.c_str()), 0);
  EXPECT_EQ(vtest::Body(ReadFile(path)), expected);  // emptied first

  int fd = open(path.c_str(), O_WRONLY | O_APPEND);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(VPropMgrReproduceToFD(m.get(), fd), 0);
  ASSERT_EQ(VPropMgrWriteToFD(m.get(), fd), 0);
  EXPECT_EQ(write(fd, "!", 1), 1);  // still open
  close(fd);
  std::string all = ReadFile(path);
  ASSERT_EQ(all.back(), '!');
  size_t headers = 0;
  for (size_t at = all.find("# Vantrel"); at != std::string::npos;
       at = all.find("# Vantrel", at + 1)) {
    ++headers;
  }
  EXPECT_EQ(headers, 3u);
  // Nothing came from a file, so reproduce mode wrote no property.
  EXPECT_NE(all.find("\n\n\n# End of File\n# Vantrel"), std::string::npos);
  EXPECT_EQ(all.substr(all.size() - 1 - expected.size(), expected.size()),
            expected);

  EXPECT_EQ(VPropMgrWriteToFile(m.get(), Path("no/such/dir").c_str()), ENOENT);
  EXPECT_EQ(VPropMgrWriteToFD(m.get(), -1), EBADF);
  EXPECT_EQ(VPropMgrReproduceToFD(m.get(), fd), EBADF);  // closed
  {
    vtest::OsFault fault("write", 1, EIO);
    EXPECT_EQ(VPropMgrWriteToFile(m.get(), path.c_str()), EIO);
  }
  {
    vtest::OsFault fault("write", 2, ENOSPC);
    EXPECT_EQ(VPropMgrWriteToFile(m.get(), path.c_str()), ENOSPC);
  }
  cookie_io_functions_t full{};
  full.write = [](void *, const char *, size_t) -> ssize_t {
    errno = ENOSPC;
    return -1;
  };
  FILE *stream = fopencookie(nullptr, "w", full);
  ASSERT_NE(stream, nullptr);
  EXPECT_EQ(VPropMgrWriteToStream(m.get(), stream), ENOSPC);
  fclose(stream);
  FILE *readOnly = fopen(path.c_str(), "r");
  EXPECT_EQ(VPropMgrReproduceToStream(m.get(), readOnly), EBADF);
  fclose(readOnly);
  EXPECT_EQ(VPropMgrWriteToStream(nullptr, stdout), EINVAL);
  EXPECT_EQ(VPropMgrWriteToStream(m.get(), nullptr), EINVAL);
}

}  // namespace
