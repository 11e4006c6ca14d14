#include "core/retcode.h"

#include <gtest/gtest.h>
#include <string.h>

#include <atomic>
#include <cstring>
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

// Every row of the built-in table, in table order.
const Expected kBuiltin[] = {
    {0, "No error"},
    {-16, "Internal Error: Please contact support"},
    {-17, "Unsupported"},
    {-18, "Timeout"},
    {-19, "General failure"},
    {-20, "Cursor finished successfully"},
    {-21, "Parse failure"},
    {-22, "Object not found"},
    {-23, "Object exists"},
    {-24, "Type mismatch"},
    {-25, "Invalid datatype"},
    {-26, "Invalid module"},
    {-27, "Connection closed"},
    {-28, "Exception"},
    {-29, "Open Failed"},
    {-30, "Read Failed"},
    {-31, "Write Failed"},
    {-32, "Not ready"},
    {10004, "WinSock error. Interrupted function call."},
    {10009, "WinSock error. File handle is not valid."},
    {10013, "WinSock error. Permission denied."},
    {10014, "WinSock error. Bad address."},
    {10022, "WinSock error. Invalid argument."},
    {10024, "Too many open sockets."},
    {10035, "WinSock error. Resource temporarily unavailable."},
    {10036, "WinSock error. Operation now in progress."},
    {10037, "WinSock error. Operation already in progress."},
    {10038, "Socket operation on nonsocket."},
    {10039, "WinSock error. Destination address required."},
    {10040, "WinSock error. Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "WinSock error. Bad protocol option."},
    {10043, "WinSock error. Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "WinSock error. Operation not supported."},
    {10046, "WinSock error. Protocol family not supported."},
    {10047, "WinSock error. Address family not supported by protocol family."},
    {10048, "WinSock error. Address already in use."},
    {10049, "WinSock error. Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Network dropped connection on reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "WinSock error. No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send after socket shutdown."},
    {10059, "WinSock error. Too many references to kernal object."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Cannot translate name."},
    {10063, "WinSock error. Name too long."},
    {10064, "Destination host is down."},
    {10065, "No route to host."},
    {10066, "WinSock error. Directory not empty."},
    {10067, "WinSock error. Too many processes."},
    {10068, "WinSock error. User quota exceeded."},
    {10069, "WinSock error. Disk quota exceeded."},
    {10070, "WinSock error. Stale file handle reference."},
    {10071, "WinSock error. Item is remote."},
    {10091, "Network subsystem is unavailable."},
    {10092, "Winsock.dll version out of range."},
    {10093, "Successful WSAStartup not yet performed."},
    {10101, "WinSock error. Remote graceful shutdown in progress."},
    {10102, "WinSock error. No more results."},
    {10103, "WinSock error. Call has been canceled."},
    {10104, "WinSock error. Procedure call table is invalid."},
    {10105, "WinSock error. Service provider is invalid."},
    {10106, "WinSock error. Service provider failed to initialize."},
    {10107, "WinSock error. System call failure."},
    {10108, "WinSock error. Service not found."},
    {10109, "WinSock error. Class type not found."},
    {10110, "WinSock error. No more results."},
    {10111, "WinSock call was canceled."},
    {10112, "WinSock error. Database query was refused."},
    {11001, "WinSock error. Host not found."},
    {11002, "Name server has a temporary error."},
    {11003, "WinSock error. Nonrecoverable database lookup error."},
    {11004, "Valid host name, but no data record of requested type."},
};

class VRCTest : public testing::Test {
 protected:
  // As library initialisation does: built-in codes, then the threads.
  void SetUp() override {
    ASSERT_EQ(vi::RegisterBuiltinReturnCodes(nullptr), 0);
    ASSERT_EQ(vi::ThreadSubsystemInit(), 0);
  }
};

TEST_F(VRCTest, EveryBuiltinCodeHasItsText) {
  ASSERT_EQ(sizeof(kBuiltin) / sizeof(kBuiltin[0]), 80u);
  for (const Expected &row : kBuiltin) {
    EXPECT_STREQ(VRCToString(row.code), row.text) << "code " << row.code;
  }
}

TEST_F(VRCTest, CLibraryRangeUsesTheCLibraryTexts) {
  for (VRC code = 1; code <= 9999; ++code) {
    ASSERT_STREQ(VRCToString(code), strerror(code)) << "code " << code;
  }
}

TEST_F(VRCTest, CodesWithoutRowUseTheUnknownErrorFormat) {
  EXPECT_STREQ(VRCToString(-40), "Unknown error -40");
  EXPECT_STREQ(VRCToString(10000), "Unknown error 10000");
  EXPECT_STREQ(VRCToString(-1), "Unknown error -1");
  EXPECT_STREQ(VRCToString(INT32_MIN), "Unknown error -2147483648");
  EXPECT_STREQ(VRCToString(INT32_MAX), "Unknown error 2147483647");
}

TEST_F(VRCTest, TextsLiveInTheCallingThreadsErrorBuffer) {
  const char *first = VRCToString(-19);
  EXPECT_EQ(first, VThreadGetID()->errorBuffer);
  const char *second = VRCToString(-22);
  EXPECT_EQ(first, second);
  EXPECT_STREQ(first, "Object not found");
  const char *theirs = nullptr;
  std::thread other([&] { theirs = VRCToString(-18); });
  other.join();
  EXPECT_NE(theirs, first);
  EXPECT_STREQ(first, "Object not found");
  EXPECT_STREQ(theirs, "Timeout");
}

// Without the fixture: in a fresh process the threads race to register the
// built-in codes, and without thread records they write per-thread scratch.
TEST(VRCConcurrencyTest, ThreadsConvertAtTheSameTime) {
  std::atomic<int> ready{0};
  std::vector<std::thread> threads;
  std::atomic<int> mismatches{0};
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

TEST_F(VRCTest, TurningCodesIntoTextAllocatesNothing) {
  char buffer[64];
  VRCToString(-19);  // the calling thread's record exists from here on
  uint64_t before = vtest::AllocationCount();
  for (const Expected &row : kBuiltin) VRCToString(row.code);
  VRCToString(-40);
  VRCToString(12);
  VRCToString(5000);
  VRCWin32ErrorCodeToString(2);
  VRCWin32ErrorCodeToString(5000);
  VRCFormatWin32Message(2, buffer, sizeof buffer);
  EXPECT_EQ(vtest::AllocationCount(), before);
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

TEST_F(VRCTest, Win32CodeToStringFallsBackToUnknownError) {
  char *text = VRCWin32ErrorCodeToString(EACCES);
  EXPECT_EQ(text, VThreadGetID()->errorBuffer);
  EXPECT_STREQ(text, strerror(EACCES));
  EXPECT_STREQ(VRCWin32ErrorCodeToString(5000), "Unknown error 5000");
  EXPECT_STREQ(VRCWin32ErrorCodeToString(0xFFFFFFFFu), "Unknown error -1");
}

TEST(VRCLineEndTest, OneFinalLineEndIsRemoved) {
  struct Case {
    const char *in;
    const char *out;
  } cases[] = {
      {"abc\r\n", "abc"},       {"abc\n", "abc"}, {"abc\n\n", "abc\n"},
      {"a\r\nb\r\n", "a\r\nb"}, {"ab\rx", "ab"},  {"abc", "abc"},
      {"\r\n", "\r\n"},         {"a\n", "a\n"},   {"", ""},
      {"ab\r", "ab\r"},
  };
  for (const Case &c : cases) {
    char text[16];
    strcpy(text, c.in);
    EXPECT_EQ(vi::RemoveOneLineEnd(text), strlen(c.out)) << c.in;
    EXPECT_STREQ(text, c.out);
  }
}

// Registrations are process-wide and permanent, so the tests that add
// tables come last and use codes no other test looks at.
const VRCEntry kClientTable[] = {
    {VRC_FAILURE, 1, 1, "Client failure"},
    {-5000, 1, 2, "Client code"},
    {ENOMEM, 1, 3, "Client out of memory"},
};
const VRCEntry kLaterTable[] = {{-5000, 1, 1, "Later code"},
                                {-5001, 1, 2, "Later only"}};
int g_clientTables = 0;  // registered by the tests of this process
bool g_registryFull = false;

TEST_F(VRCTest, FirstRegisteredTableWins) {
  if (g_clientTables != 0 || g_registryFull) GTEST_SKIP() << "repeated run";
  ASSERT_EQ(VRCRegister(nullptr, 3, kClientTable), 0);
  ASSERT_EQ(VRCRegister(nullptr, 2, kLaterTable), 0);
  g_clientTables += 2;
  EXPECT_STREQ(VRCToString(VRC_FAILURE), "General failure");
  EXPECT_STREQ(VRCToString(ENOMEM), strerror(ENOMEM));
  EXPECT_STREQ(VRCToString(-5000), "Client code");
  EXPECT_STREQ(VRCToString(-5001), "Later only");
}

TEST_F(VRCTest, RegistryHoldsSixtyFourTables) {
  if (g_registryFull) GTEST_SKIP() << "repeated run";
  g_registryFull = true;
  static VRCEntry rows[80];
  int added = 0;
  VRC rc = 0;
  for (; added < 80; ++added) {
    rows[added] = {-6000 - added, 1, 1, "Client row"};
    rc = VRCRegister(nullptr, 1, &rows[added]);
    if (rc != 0) break;
  }
  ASSERT_EQ(rc, VRC_FAILURE);
  EXPECT_EQ(added, 64 - 1 - g_clientTables);  // the built-in table is one
  EXPECT_STREQ(VRCToString(-6000 - (added - 1)), "Client row");
  EXPECT_EQ(std::string(VRCToString(-6000 - added)),
            "Unknown error " + std::to_string(-6000 - added));
  EXPECT_EQ(VRCRegister(nullptr, 1, rows), VRC_FAILURE);
}

}  // namespace
