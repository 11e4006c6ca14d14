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

struct Expected {
  VRC code;
  const char *text;
};

#define WS "WinSock error. "
// Every row of the built-in table, in table order.
// clang-format off
const Expected kBuiltin[] = {
  {0, "No error"}, {-16, "Internal Error: Please contact support"},
  {-17, "Unsupported"}, {-18, "Timeout"}, {-19, "General failure"},
  {-20, "Cursor finished successfully"}, {-21, "Parse failure"},
  {-22, "Object not found"}, {-23, "Object exists"}, {-24, "Type mismatch"},
  {-25, "Invalid datatype"}, {-26, "Invalid module"},
  {-27, "Connection closed"}, {-28, "Exception"}, {-29, "Open Failed"},
  {-30, "Read Failed"}, {-31, "Write Failed"}, {-32, "Not ready"},
  {10004, WS "Interrupted function call."},
  {10009, WS "File handle is not valid."}, {10013, WS "Permission denied."},
  {10014, WS "Bad address."}, {10022, WS "Invalid argument."},
  {10024, "Too many open sockets."},
  {10035, WS "Resource temporarily unavailable."},
  {10036, WS "Operation now in progress."},
  {10037, WS "Operation already in progress."},
  {10038, "Socket operation on nonsocket."},
  {10039, WS "Destination address required."}, {10040, WS "Message too long."},
  {10041, "Protocol wrong type for socket."},
  {10042, WS "Bad protocol option."}, {10043, WS "Protocol not supported."},
  {10044, "Socket type not supported."}, {10045, WS "Operation not supported."},
  {10046, WS "Protocol family not supported."},
  {10047, WS "Address family not supported by protocol family."},
  {10048, WS "Address already in use."},
  {10049, WS "Cannot assign requested address."}, {10050, "Network is down."},
  {10051, "Network is unreachable."},
  {10052, "Network dropped connection on reset."},
  {10053, "Software caused connection abort."},
  {10054, "Connection reset by peer."},
  {10055, WS "No buffer space available."},
  {10056, "Socket is already connected."}, {10057, "Socket is not connected."},
  {10058, "Cannot send after socket shutdown."},
  {10059, WS "Too many references to kernal object."},
  {10060, "Connection timed out."}, {10061, "Connection refused."},
  {10062, "Cannot translate name."}, {10063, WS "Name too long."},
  {10064, "Destination host is down."}, {10065, "No route to host."},
  {10066, WS "Directory not empty."}, {10067, WS "Too many processes."},
  {10068, WS "User quota exceeded."}, {10069, WS "Disk quota exceeded."},
  {10070, WS "Stale file handle reference."}, {10071, WS "Item is remote."},
  {10091, "Network subsystem is unavailable."},
  {10092, "Winsock.dll version out of range."},
  {10093, "Successful WSAStartup not yet performed."},
  {10101, WS "Remote graceful shutdown in progress."},
  {10102, WS "No more results."}, {10103, WS "Call has been canceled."},
  {10104, WS "Procedure call table is invalid."},
  {10105, WS "Service provider is invalid."},
  {10106, WS "Service provider failed to initialize."},
  {10107, WS "System call failure."}, {10108, WS "Service not found."},
  {10109, WS "Class type not found."}, {10110, WS "No more results."},
  {10111, "WinSock call was canceled."},
  {10112, WS "Database query was refused."}, {11001, WS "Host not found."},
  {11002, "Name server has a temporary error."},
  {11003, WS "Nonrecoverable database lookup error."},
  {11004, "Valid host name, but no data record of requested type."},
};
// clang-format on
#undef WS

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
  uint64_t before = vtest::AllocationCount();
  ASSERT_EQ(sizeof(kBuiltin) / sizeof(kBuiltin[0]), 80u);
  for (const Expected &row : kBuiltin) {
    EXPECT_STREQ(VRCToString(row.code), row.text) << "code " << row.code;
  }
  for (VRC code = 1; code <= 9999; ++code) {
    ASSERT_STREQ(VRCToString(code), strerror(code)) << "code " << code;
  }
  for (VRC code : {-40, 10000, -1, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(VRCToString(code), "Unknown error " + std::to_string(code));
  }
  char buffer[64];
  VRCWin32ErrorCodeToString(2);
  VRCWin32ErrorCodeToString(5000);
  VRCFormatWin32Message(2, buffer, sizeof buffer);
  EXPECT_EQ(vtest::AllocationCount(), before);
}

TEST_F(VRCTest, TextsLiveInTheCallingThreadsErrorBuffer) {
  const char *first = VRCToString(-19);
  EXPECT_EQ(first, VThreadGetID()->errorBuffer);
  EXPECT_EQ(VRCToString(-22), first);
  const char *theirs = nullptr;
  std::thread other([&] { theirs = VRCToString(-18); });
  other.join();
  EXPECT_NE(theirs, first);
  EXPECT_STREQ(first, "Object not found");
  EXPECT_STREQ(theirs, "Timeout");
  EXPECT_EQ(VRCWin32ErrorCodeToString(EACCES), first);
  EXPECT_STREQ(first, strerror(EACCES));
  EXPECT_STREQ(VRCWin32ErrorCodeToString(5000), "Unknown error 5000");
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
        std::string expected = "Unknown error " + std::to_string(code);
        if (expected != VRCToString(code)) mismatches.fetch_add(1);
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
  for (uint32_t code : {5000u, 2100u, 2999u, 0x80000000u}) {
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
      {"abc\r\n", "abc"}, {"abc\n", "abc"}, {"abc\n\n", "abc\n"},
      {"a\r\nb\r\n", "a\r\nb"}, {"ab\rx", "ab"}, {"abc", "abc"},
      {"\r\n", "\r\n"}, {"a\n", "a\n"}, {"", ""}, {"ab\r", "ab\r"}};
  // clang-format on
  for (const auto &[in, out] : cases) {
    char text[16];
    strcpy(text, in);
    EXPECT_EQ(vi::RemoveOneLineEnd(text), strlen(out)) << in;
    EXPECT_STREQ(text, out);
  }
}

// Registrations are process-wide and permanent, so the tests that add
// tables come last and use codes no other test looks at.
const VRCEntry kClientTable[] = {{VRC_FAILURE, 1, 1, "Client failure"},
                                 {-5000, 1, 2, "Client code"},
                                 {ENOMEM, 1, 3, "Client out of memory"}};
const VRCEntry kLaterTable[] = {{-5000, 1, 1, "Later code"},
                                {-5001, 1, 2, "Later only"}};
int g_client_tables = 0;  // registered by the tests of this process
bool g_registry_full = false;

TEST_F(VRCTest, FirstRegisteredTableWins) {
  if (g_client_tables != 0 || g_registry_full) GTEST_SKIP() << "repeated run";
  ASSERT_EQ(VRCRegister(nullptr, 3, kClientTable), 0);
  ASSERT_EQ(VRCRegister(nullptr, 2, kLaterTable), 0);
  g_client_tables += 2;
  EXPECT_STREQ(VRCToString(VRC_FAILURE), "General failure");
  EXPECT_STREQ(VRCToString(ENOMEM), strerror(ENOMEM));
  EXPECT_STREQ(VRCToString(-5000), "Client code");
  EXPECT_STREQ(VRCToString(-5001), "Later only");
}

TEST_F(VRCTest, RegistryHoldsSixtyFourTables) {
  if (g_registry_full) GTEST_SKIP() << "repeated run";
  g_registry_full = true;
  static VRCEntry rows[80];
  int added = 0;
  VRC rc = 0;
  for (; added < 80 && rc == 0; ++added) {
    rows[added] = {-6000 - added, 1, 1, "Client row"};
    rc = VRCRegister(nullptr, 1, &rows[added]);
  }
  ASSERT_EQ(rc, VRC_FAILURE);
  --added;                                     // the refused one
  EXPECT_EQ(added, 64 - 1 - g_client_tables);  // the built-in table is one
  EXPECT_STREQ(VRCToString(-6000 - (added - 1)), "Client row");
  EXPECT_EQ(VRCToString(-6000 - added),
            "Unknown error " + std::to_string(-6000 - added));
  EXPECT_EQ(VRCRegister(nullptr, 1, rows), VRC_FAILURE);
}

}  // namespace
