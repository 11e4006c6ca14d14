// Writing properties files: the header and the line of every type, write
// and reproduce modes, round trips through the reader, and the failures of
// every destination.
#include <errno.h>
#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <string>

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
  const std::string header =
      "# Vantrel Properties File\n#\n# libvantrel: 1.0.0\n\n# Written: ";
  ASSERT_EQ(written.substr(0, header.size()), header) << written;
  // The time, as asctime writes it, and an empty line.
  struct tm when {};
  const char *at = written.c_str() + header.size();
  const char *end = strptime(at, "%a %b %e %H:%M:%S %Y", &when);
  ASSERT_NE(end, nullptr) << written;
  EXPECT_EQ(std::string(at, end + 2), std::string(at, 24) + "\n\n");
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

// Reals keep six decimals.  Integers are read as signed 64-bit numbers: a
// larger unsigned value is written in full but comes back clamped.
TEST_F(VPropMgrWriteTest, RealsKeepSixDecimalsAndBigUnsignedComesBackClamped) {
  auto m = vtest::MakePropMgr();
  VValue u64{};
  u64.unsigned64Value = UINT64_MAX;
  ASSERT_EQ(vtest::Define(m.get(), "u", VTypedValue{VDT_UNSIGNED64, u64}), 0);
  ASSERT_EQ(vtest::Define(m.get(), "r", vtest::Real(0.0000001)), 0);
  std::string path = Path("u.props");
  ASSERT_EQ(VPropMgrWriteToFile(m.get(), path.c_str()), 0);
  EXPECT_NE(ReadFile(path).find("r: 0.000000 # REAL (d)\n"
                                "u: 18446744073709551615 # UNSIGNED64 (d)"),
            std::string::npos);
  ASSERT_EQ(VPropMgrParseFile(m.get(), path.c_str(), nullptr), 0);
  EXPECT_EQ(vtest::ValueText(m.get(), "u"), "9223372036854775807");
}

TEST_F(VPropMgrWriteTest, BinaryIsWrittenButCannotBeReadBack) {
  auto m = vtest::MakePropMgr();
  uint8_t bytes[] = {0x0a, 0x1b, 0xff};
  ASSERT_EQ(vtest::Define(m.get(), "blob", vtest::Binary(bytes, 3)), 0);
  ASSERT_EQ(vtest::Define(m.get(), "empty", vtest::Binary(nullptr, 0)), 0);
  ASSERT_EQ(vtest::Define(m.get(), "later", vtest::Int(1)), 0);
  std::string body = vtest::Body(vtest::Written(m.get()));
  EXPECT_NE(body.find("blob: 0x0a1bff# BINARY (3 bytes) (d)\n"
                      "empty: # BINARY (0 bytes) (d)\n"
                      "later: 1 # INTEGER (d)\n"),
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
  for (const char *name : {"a", "b", "c", "d", "e", "x", "z"}) {
    ASSERT_EQ(vtest::Define(m.get(), name, vtest::Int(0)), 0);
  }
  ASSERT_EQ(vtest::Define(m.get(), "hidden", vtest::Int(0), VPROP_FLAG_NOWRITE),
            0);
  std::string inc1 = WriteFile("inc1.props", "x: 5\n");
  std::string inc2 = WriteFile("inc2.props", "d: 4\n");
  std::string inc1Line = "include '" + inc1 + "'\n";
  std::string inc2Line = "include \"" + inc2 + "\"\n";
  std::string top = WriteFile(
      "top.props", "c: 3\n" + inc1Line + "a: 1 b: 2\nhidden: 9\n" + inc2Line);
  ASSERT_EQ(VPropMgrParseFile(m.get(), top.c_str(), nullptr), 0);
  VTypedValue v = vtest::Int(7);
  ASSERT_EQ(VPropMgrSetValueForWrite(m.get(), "e", &v), 0);
  ASSERT_EQ(VPropMgrSetValueForWrite(m.get(), "c", &v), 0);  // keeps line 1
  ASSERT_EQ(VPropMgrSetValue(m.get(), "z", &v), 0);          // not reproduced
  EXPECT_EQ(vtest::Body(vtest::Written(m.get(), true)),
            "\nc: 7 # INTEGER (d)\n" + inc1Line +
                "a: 1 # INTEGER (d)\nb: 2 # INTEGER (d)\n" + inc2Line +
                "e: 7 # INTEGER (d)\n\n# End of File\n");
  // Write mode has every property, then every include statement.
  std::string body = vtest::Body(vtest::Written(m.get(), false));
  EXPECT_NE(body.find("x: 5 # INTEGER (d)\nz: 7 # INTEGER (d)\n" + inc1Line +
                      inc2Line + "\n# End of File\n"),
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
