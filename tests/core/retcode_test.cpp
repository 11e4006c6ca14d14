#include "core/retcode.h"

#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "support/alloc_sweep.h"
#include "threads/thr.h"
#include "vantrel/vrc.h"
#include "vantrel/vthread.h"

namespace {

namespace vi = vantrel::internal;

std::string Unknown(VRC code) {
  return "Unknown error " + std::to_string(code);
}

// Every general code, and the socket-layer rows whose texts stand out: the
// first and last, one without the common prefix, a repeated text and a
// misspelling that callers may match on.
// clang-format off
const std::pair<VRC, const char *> kBuiltin[] = {
  {0, "No error"}, {-16, "Internal Error: Please contact support"},
  {-17, "Unsupported"}, {-18, "Timeout"}, {-19, "General failure"},
  {-20, "Cursor finished successfully"}, {-21, "Parse failure"},
  {-22, "Object not found"}, {-23, "Object exists"}, {-24, "Type mismatch"},
  {-25, "Invalid datatype"}, {-26, "Invalid module"},
  {-27, "Connection closed"}, {-28, "Exception"}, {-29, "Open Failed"},
  {-30, "Read Failed"}, {-31, "Write Failed"}, {-32, "Not ready"},
  {10004, "WinSock error. Interrupted function call."},
  {10024, "Too many open sockets."},
  {10059, "WinSock error. Too many references to kernal object."},
  {10102, "WinSock error. No more results."},
  {10110, "WinSock error. No more results."},
  {11004, "Valid host name, but no data record of requested type."},
};
// clang-format on

// The socket-layer codes the built-in table holds.
bool IsSocketCode(VRC c) {
  return c == 10004 || c == 10009 || c == 10013 || c == 10014 || c == 10022 ||
         c == 10024 || (c >= 10035 && c <= 10071) ||
         (c >= 10091 && c <= 10093) || (c >= 10101 && c <= 10112) ||
         (c >= 11001 && c <= 11004);
}

class VRCTest : public testing::Test {
 protected:
  // As library initialisation does: built-in codes, then the threads.
  void SetUp() override {
    ASSERT_EQ(vi::RegisterBuiltinReturnCodes(nullptr), 0);
    ASSERT_EQ(vi::ThreadSubsystemInit(), 0);
  }
};

// Built-in rows, then the C library's texts, then the unknown-error format;
// none of it allocates once the thread's record exists.
TEST_F(VRCTest, EveryCodeHasItsTextWithoutAllocating) {
  VRCToString(-19);
  vtest::AllocCounter allocations;
  for (const auto &[code, text] : kBuiltin) {
    EXPECT_STREQ(VRCToString(code), text) << "code " << code;
  }
  for (VRC code = 10000; code <= 11010; ++code) {
    ASSERT_EQ(VRCToString(code) != Unknown(code), IsSocketCode(code)) << code;
  }
  for (VRC code = 1; code <= 9999; ++code) {
    ASSERT_STREQ(VRCToString(code), strerror(code)) << "code " << code;
  }
  for (VRC code : {-40, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(VRCToString(code), Unknown(code));
  }
  char buffer[64];
  VRCWin32ErrorCodeToString(2);
  VRCWin32ErrorCodeToString(5000);
  VRCFormatWin32Message(2, buffer, sizeof buffer);
  EXPECT_EQ(allocations.count(), 0u);
}

// The names and the texts come from one list: every general name has its
// text, and a subsystem name has none, so it renders as unknown.
TEST_F(VRCTest, NamesFromTheCodeListMatchTheTable) {
  static_assert(VRC_OK == 0 && VRC_INTERNAL_ERROR == -16 &&
                VRC_TIMEOUT == -18 && VRC_FAILURE == -19 &&
                VRC_NOT_READY == -32 && VRC_MUTEX_BUSY == -80);
  int general = 0;
#define VRC_GENERAL_CODE(name, code, number, text) \
  EXPECT_STREQ(VRCToString(name), text) << #name;  \
  ++general;
#define VRC_SUBSYSTEM_CODE(name, code) \
  EXPECT_EQ(VRCToString(name), Unknown(code)) << #name;
#include "vantrel/vrc_codes.h"
  EXPECT_EQ(general, 18);
}

TEST_F(VRCTest, TextsLiveInTheCallingThreadsErrorBuffer) {
  const char *mine = VRCToString(-22);
  EXPECT_EQ(mine, VThreadGetID()->errorBuffer);
  const char *theirs = nullptr;
  std::thread other([&] { theirs = VRCToString(-18); });
  other.join();
  EXPECT_NE(theirs, mine);
  EXPECT_STREQ(mine, "Object not found");
  EXPECT_EQ(VRCWin32ErrorCodeToString(EACCES), mine);
  EXPECT_STREQ(mine, strerror(EACCES));
  EXPECT_STREQ(VRCWin32ErrorCodeToString(0xFFFFFFFFu), "Unknown error -1");
}

// Without the fixture: in a fresh process the threads race to register the
// built-in codes, and without thread records they write per-thread scratch.
TEST(VRCConcurrencyTest, ThreadsConvertAtTheSameTime) {
  std::atomic<int> ready{0}, mismatches{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      ready.fetch_add(1);
      while (ready.load() < 4) std::this_thread::yield();
      for (int i = 0; i < 500; ++i) {
        VRC code = -1000 - t * 1000 - i;
        if (Unknown(code) != VRCToString(code)) mismatches.fetch_add(1);
        if (strcmp(VRCToString(10054), "Connection reset by peer.") != 0) {
          mismatches.fetch_add(1);
        }
      }
    });
  }
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(mismatches.load(), 0);
}

TEST_F(VRCTest, SystemMessagesAreCLibraryTextsCutToTheBuffer) {
  char buffer[64];
  memset(buffer, 'x', sizeof buffer);
  EXPECT_EQ(VRCFormatWin32Message(ENOENT, buffer, sizeof buffer), 0);
  EXPECT_STREQ(buffer, strerror(ENOENT));
  EXPECT_EQ(buffer[sizeof buffer - 1], '\0');
  EXPECT_EQ(VRCFormatWin32Message(ENOENT, buffer, 5), 0);
  EXPECT_EQ(std::string(buffer), std::string(strerror(ENOENT)).substr(0, 4));
  // No text: -19 and every byte zero.
  for (uint32_t code : {5000u, 0x80000000u}) {
    memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(VRCFormatWin32Message(code, buffer, sizeof buffer), VRC_FAILURE);
    EXPECT_EQ(std::string(buffer, sizeof buffer),
              std::string(sizeof buffer, '\0'));
  }
  EXPECT_EQ(VRCFormatWin32Message(ENOENT, buffer, 0), VRC_FAILURE);
  EXPECT_EQ(VRCFormatWin32Message(ENOENT, buffer, 1), VRC_FAILURE);
}

TEST(VRCLineEndTest, OneFinalLineEndIsRemoved) {
  // clang-format off
  const std::pair<const char *, const char *> cases[] = {
      {"abc\r\n", "abc"}, {"abc\n\n", "abc\n"}, {"ab\rx", "ab"},
      {"abc", "abc"}, {"\r\n", "\r\n"}, {"a\n", "a\n"}, {"ab\r", "ab\r"}};
  // clang-format on
  for (const auto &[in, out] : cases) {
    char text[16];
    strcpy(text, in);
    EXPECT_EQ(vi::RemoveOneLineEnd(text), strlen(out)) << in;
    EXPECT_STREQ(text, out);
  }
}

// Registrations are process-wide and permanent: one test adds every table.
TEST_F(VRCTest, FirstRegisteredTableWinsAndSixtyFourAreHeld) {
  static const VRCEntry kClient[] = {{VRC_FAILURE, 1, 1, "Client failure"},
                                     {-5000, 1, 2, "Client code"},
                                     {ENOMEM, 1, 3, "Client out of memory"}};
  static const VRCEntry kLater[] = {{-5000, 1, 1, "Later code"},
                                    {-5001, 1, 2, "Later only"}};
  ASSERT_EQ(VRCRegister(nullptr, 3, kClient), 0);
  ASSERT_EQ(VRCRegister(nullptr, 2, kLater), 0);
  EXPECT_STREQ(VRCToString(VRC_FAILURE), "General failure");
  EXPECT_STREQ(VRCToString(ENOMEM), strerror(ENOMEM));
  EXPECT_STREQ(VRCToString(-5000), "Client code");
  EXPECT_STREQ(VRCToString(-5001), "Later only");

  static VRCEntry rows[64];
  for (int i = 0; i < 61; ++i) {  // the built-in table and two above
    rows[i] = {-6000 - i, 1, 1, "Client row"};
    ASSERT_EQ(VRCRegister(nullptr, 1, &rows[i]), 0) << i;
  }
  rows[61] = {-6061, 1, 1, "Refused"};
  EXPECT_EQ(VRCRegister(nullptr, 1, &rows[61]), VRC_FAILURE);
  EXPECT_STREQ(VRCToString(-6060), "Client row");
  EXPECT_EQ(VRCToString(-6061), Unknown(-6061));
}

}  // namespace
