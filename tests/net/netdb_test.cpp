// Host and service lookup into caller records, and the dotted-quad text.
// Real lookups read only local files; stand-ins give failures and big records.
#include <arpa/inet.h>
#include <errno.h>
#include <gtest/gtest.h>
#include <netdb.h>
#include <string.h>

#include <barrier>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/alloc_sweep.h"
#include "support/os_fault.h"
#include "vantrel/vnetdb.h"
#include "vantrel/vrc.h"

namespace {

// A line of the file at path has the first word `first` and `word` after it.
bool FileHasEntry(const char *path, const char *first, const char *word) {
  std::ifstream in(path);
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);
    std::string w;
    if (!(words >> w) || w != first) continue;
    while (words >> w) {
      if (w == word) return true;
    }
  }
  return false;
}

// The services file has ftp and domain (the netbase package).
bool HaveServices() {
  return FileHasEntry("/etc/services", "ftp", "21/tcp") &&
         FileHasEntry("/etc/services", "domain", "53/udp");
}

bool HaveLocalhost() {
  return FileHasEntry("/etc/hosts", "127.0.0.1", "localhost");
}

// A record filled with a pattern, to see that a failure leaves it alone.
template <typename Record>
Record Untouched() {
  Record record;
  memset(&record, 0x5a, sizeof record);
  return record;
}

template <typename Record>
bool IsUntouched(const Record &record) {
  Record expected = Untouched<Record>();
  return memcmp(&record, &expected, sizeof record) == 0;
}

char *const kStaleBuffer = reinterpret_cast<char *>(0x1);

TEST(NetdbTest, DottedQuadNeedsSixteenBytes) {
  const uint8_t bytes[4] = {192, 168, 1, 2};
  uint32_t address;
  memcpy(&address, bytes, sizeof address);
  char text[16];
  EXPECT_EQ(v_inet_ntoa_r(address, text, sizeof text), 0);
  EXPECT_STREQ(text, "192.168.1.2");
  EXPECT_EQ(v_inet_ntoa_r(0xffffffffu, text, sizeof text), 0);
  EXPECT_STREQ(text, "255.255.255.255");
  char small[15];
  memset(small, 'z', sizeof small);
  EXPECT_EQ(v_inet_ntoa_r(address, small, sizeof small), -1);
  EXPECT_EQ(std::string(small, sizeof small), std::string(15, 'z'));
  EXPECT_EQ(v_inet_ntoa_r(address, nullptr, 16), -1);
}

TEST(NetdbTest, ServicesAreFoundByNameAndProtocolOrLeaveTheRecord) {
  auto record = Untouched<servent>();
  char *buffer = kStaleBuffer;
  EXPECT_EQ(v_getservbyname_r("no-such-service", "tcp", &record, &buffer),
            VRC_FAILURE);
  EXPECT_TRUE(IsUntouched(record));
  EXPECT_EQ(buffer, nullptr);
  uint32_t port = 77;
  EXPECT_EQ(v_getservport("no-such-service", nullptr, &port), VRC_FAILURE);
  EXPECT_EQ(port, 77u);
  EXPECT_EQ(v_getservport(nullptr, nullptr, &port), EINVAL);
  EXPECT_EQ(v_getservport("ftp", nullptr, nullptr), EINVAL);

  if (!HaveServices()) GTEST_SKIP() << "no standard services file here";
  buffer = kStaleBuffer;
  ASSERT_EQ(v_getservbyname_r("ftp", "tcp", &record, &buffer), 0);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_STREQ(record.s_name, "ftp");
  EXPECT_STREQ(record.s_proto, "tcp");
  EXPECT_EQ(ntohs(static_cast<uint16_t>(record.s_port)), 21);
  ASSERT_EQ(v_getservbyname_r("domain", nullptr, &record, nullptr), 0);
  EXPECT_EQ(ntohs(static_cast<uint16_t>(record.s_port)), 53);
  EXPECT_EQ(v_getservport("ftp", "tcp", &port), 0);
  EXPECT_EQ(port, 21u);
  EXPECT_EQ(v_getservport("domain", "udp", &port), 0);
  EXPECT_EQ(port, 53u);
}

TEST(NetdbTest, LocalhostIsFoundByNameAndByAddress) {
  if (!HaveLocalhost()) GTEST_SKIP() << "the hosts file has no localhost";
  hostent record{};
  char *buffer = kStaleBuffer;
  ASSERT_EQ(v_gethostbyname_r("localhost", &record, &buffer), 0);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_EQ(record.h_addrtype, AF_INET);
  ASSERT_EQ(record.h_length, 4);
  ASSERT_NE(record.h_addr_list[0], nullptr);
  in_addr loopback{htonl(INADDR_LOOPBACK)};
  EXPECT_EQ(memcmp(record.h_addr_list[0], &loopback, 4), 0);

  buffer = kStaleBuffer;
  ASSERT_EQ(v_gethostbyaddr_r(&loopback, 4, AF_INET, &record, &buffer), 0);
  EXPECT_EQ(buffer, nullptr);
  EXPECT_STREQ(record.h_name, "localhost");

  // A dotted address is taken as it is.
  ASSERT_EQ(v_gethostbyname_r("127.0.0.1", &record, nullptr), 0);
  EXPECT_EQ(memcmp(record.h_addr_list[0], &loopback, 4), 0);
  EXPECT_EQ(v_gethostbyaddr_r(&loopback, -1, AF_INET, &record, nullptr),
            EINVAL);
}

// ---- Stand-ins for the resolver.

int g_herror = 0;
int g_result = 0;
size_t g_fitsFrom = 0;  // the buffer size from which a record fits
std::vector<size_t> g_sizes;

// Writes the name it is asked for into the buffer as the host's name.
int FakeNamedHost(const char *name, hostent *record, char *buffer, size_t size,
                  hostent **result, int *) noexcept {
  snprintf(buffer, size, "%s", name);
  memset(record, 0, sizeof *record);
  record->h_name = buffer;
  record->h_addrtype = AF_INET;
  *result = record;
  return 0;
}

// Fails as configured, or (with g_fitsFrom) answers as FakeNamedHost once
// the buffer is large enough.
int FakeHostByName(const char *name, hostent *record, char *buffer, size_t size,
                   hostent **result, int *herror) noexcept {
  g_sizes.push_back(size);
  if (g_fitsFrom != 0 && size >= g_fitsFrom) {
    return FakeNamedHost(name, record, buffer, size, result, herror);
  }
  *result = nullptr;
  *herror = g_fitsFrom == 0 ? g_herror : NETDB_INTERNAL;
  return g_fitsFrom == 0 ? g_result : ERANGE;
}

using HostByNameFn = decltype(&gethostbyname_r);

TEST(NetdbTest, ResolverFailuresHaveSocketLayerNumbers) {
  vtest::OsOverride<HostByNameFn> fake("gethostbyname_r", FakeHostByName);
  struct Row {
    int herror;
    int result;
    VRC expected;
  };
  const Row rows[] = {
      {HOST_NOT_FOUND, 0, 11001}, {TRY_AGAIN, EAGAIN, 11002},
      {NO_RECOVERY, 0, 11003},    {NO_DATA, 0, 11004},
      {NETDB_INTERNAL, EIO, EIO}, {NETDB_INTERNAL, 0, 11003},
  };
  for (const Row &row : rows) {
    g_herror = row.herror;
    g_result = row.result;
    auto record = Untouched<hostent>();
    char *buffer = kStaleBuffer;
    EXPECT_EQ(v_gethostbyname_r("nowhere", &record, &buffer), row.expected)
        << row.herror;
    EXPECT_TRUE(IsUntouched(record));
    EXPECT_EQ(buffer, nullptr);
  }
}

TEST(NetdbTest, RecordsThatDoNotFitGetALargerBuffer) {
  vtest::OsOverride<HostByNameFn> fake("gethostbyname_r", FakeHostByName);
  g_fitsFrom = 5000;
  hostent record{};
  ASSERT_EQ(v_gethostbyname_r("big", &record, nullptr), 0);
  EXPECT_STREQ(record.h_name, "big");
  EXPECT_EQ(g_sizes, (std::vector<size_t>{1024, 2048, 4096, 8192}));
  // The thread keeps the larger buffer for its next lookups.
  g_sizes.clear();
  ASSERT_EQ(v_gethostbyname_r("again", &record, nullptr), 0);
  EXPECT_EQ(g_sizes, (std::vector<size_t>{8192}));

  // A record that fits nowhere gives ERANGE once the buffer is 1 MiB.
  g_fitsFrom = SIZE_MAX;
  g_sizes.clear();
  auto untouched = Untouched<hostent>();
  EXPECT_EQ(v_gethostbyname_r("huge", &untouched, nullptr), ERANGE);
  EXPECT_TRUE(IsUntouched(untouched));
  EXPECT_EQ(g_sizes.back(), size_t{1} << 20);
  g_fitsFrom = 0;
}

// Each thread's records point into its own storage, which lasts until that
// thread's next lookup: lookups made meanwhile by other threads leave it.
TEST(NetdbTest, EachThreadKeepsItsOwnRecords) {
  vtest::OsOverride<HostByNameFn> fake("gethostbyname_r", FakeNamedHost);
  constexpr int kThreads = 4;
  std::barrier sync(kThreads);
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures, &sync] {
      std::string name = "host" + std::to_string(t);
      for (int i = 0; i < 50; ++i) {
        hostent record{};
        if (v_gethostbyname_r(name.c_str(), &record, nullptr) != 0) {
          ++failures[t];
        }
        sync.arrive_and_wait();  // every thread has looked up its name
        if (name != record.h_name) ++failures[t];
        sync.arrive_and_wait();
      }
    });
  }
  for (std::thread &t : threads) t.join();
  EXPECT_EQ(failures, std::vector<int>(kThreads, 0));
}

TEST(NetdbTest, FirstLookupOfAThreadWithoutMemoryFails) {
  if (!HaveServices()) GTEST_SKIP() << "no standard services file here";
  vtest::SweepAllocations([](vtest::Fault &f) {
    // A new thread has no storage yet, so its first lookup allocates.
    std::thread([&f] {
      auto record = Untouched<servent>();
      char *buffer = kStaleBuffer;
      f.Arm();
      VRC rc = v_getservbyname_r("ftp", "tcp", &record, &buffer);
      bool failed = f.Disarm();
      EXPECT_EQ(buffer, nullptr);
      if (failed) {
        EXPECT_EQ(rc, ENOMEM);
        EXPECT_TRUE(IsUntouched(record));
      } else {
        EXPECT_EQ(rc, 0);
        EXPECT_STREQ(record.s_name, "ftp");
      }
    }).join();
  });
}

}  // namespace
