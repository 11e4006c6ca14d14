// The supplemental socket table: pairs recorded under both sockets, found
// and forgotten under its reader/writer lock, also by many threads at once.
#include <errno.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "internal/alloc.h"
#include "net/socket_layer.h"
#include "support/alloc_sweep.h"
#include "threads/thr.h"
#include "vantrel/vrc.h"

namespace {

namespace vi = vantrel::internal;

class SupplementalTest : public testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(vi::ThreadSubsystemInit(), 0);
    ASSERT_EQ(vi::SupplementalStart(), 0);
    ASSERT_TRUE(vi::SocketSupplementalMode());
  }
};

TEST_F(SupplementalTest, PairsAreFoundFromEitherSocketAndForgottenTogether) {
  VSocket partner = 1234;
  EXPECT_EQ(vi::SupplementalLookupPartner(7, &partner), VRC_NOT_FOUND);
  EXPECT_EQ(partner, 1234);  // untouched

  ASSERT_EQ(vi::SupplementalRecordPair(7, 8), 0);
  ASSERT_EQ(vi::SupplementalRecordPair(300, 427), 0);  // one bucket apart
  EXPECT_EQ(vi::SupplementalLookupPartner(7, &partner), 0);
  EXPECT_EQ(partner, 8);
  EXPECT_EQ(vi::SupplementalLookupPartner(8, &partner), 0);
  EXPECT_EQ(partner, 7);
  EXPECT_EQ(vi::SupplementalLookupPartner(427, &partner), 0);
  EXPECT_EQ(partner, 300);

  // Removing through either socket forgets both entries.
  EXPECT_EQ(vi::SupplementalRemovePair(8), 0);
  partner = -5;
  EXPECT_EQ(vi::SupplementalLookupPartner(7, &partner), VRC_NOT_FOUND);
  EXPECT_EQ(vi::SupplementalLookupPartner(8, &partner), VRC_NOT_FOUND);
  EXPECT_EQ(partner, -5);
  EXPECT_EQ(vi::SupplementalRemovePair(8), 0);  // nothing left to remove
  EXPECT_EQ(vi::SupplementalLookupPartner(300, &partner), 0);
  EXPECT_EQ(partner, 427);
  EXPECT_EQ(vi::SupplementalRemovePair(300), 0);
  EXPECT_EQ(vi::SupplementalLookupPartner(300, nullptr), EINVAL);
}

TEST_F(SupplementalTest, RecordingWithoutMemoryRecordsNothing) {
  vtest::SweepAllocations([](vtest::Fault &f) {
    f.Arm();
    VRC rc = vi::SupplementalRecordPair(20, 21);
    bool failed = f.Disarm();
    VSocket partner = -1;
    if (failed) {
      EXPECT_EQ(rc, ENOMEM);
      EXPECT_EQ(vi::SupplementalLookupPartner(20, &partner), VRC_NOT_FOUND);
      EXPECT_EQ(vi::SupplementalLookupPartner(21, &partner), VRC_NOT_FOUND);
    } else {
      ASSERT_EQ(rc, 0);
      EXPECT_EQ(vi::SupplementalLookupPartner(21, &partner), 0);
      EXPECT_EQ(partner, 20);
      EXPECT_EQ(vi::SupplementalRemovePair(20), 0);
    }
  });
}

// Writers record and remove pairs (s, s + kOffset) while readers look up
// those and lasting pairs: every partner found is right, lasting pairs are
// always found.  (The lock prefers writers: readers make fixed lookups.)
TEST_F(SupplementalTest, ConcurrentReadersAndWritersSeeWholePairs) {
  constexpr int kWriters = 4, kReaders = 4, kSockets = 64, kRounds = 50;
  constexpr int kLookups = 5000;
  constexpr VSocket kOffset = 100000;
  constexpr VSocket kLasting = kWriters * kSockets;  // first lasting socket
  constexpr int kLastingPairs = 16;
  for (VSocket s = kLasting; s < kLasting + kLastingPairs; ++s) {
    ASSERT_EQ(vi::SupplementalRecordPair(s, s + kOffset), 0);
  }
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  auto each_socket = [&](int w, auto operation) {
    for (int i = 0; i < kSockets; ++i) {
      if (operation(w * kSockets + i) != 0) wrong++;
    }
  };
  for (int w = 0; w < kWriters; ++w) {
    threads.emplace_back([&, w] {
      for (int round = 0; round < kRounds; ++round) {
        each_socket(w, [](VSocket s) {
          return vi::SupplementalRecordPair(s, s + kOffset);
        });
        each_socket(w, [](VSocket s) {
          return vi::SupplementalRemovePair(s + kOffset);
        });
      }
    });
  }
  for (int r = 0; r < kReaders; ++r) {
    threads.emplace_back([&, r] {
      unsigned next = static_cast<unsigned>(r);
      for (int i = 0; i < kLookups; ++i) {
        next = next * 1103515245u + 12345u;
        VSocket s =
            static_cast<VSocket>((next >> 8) % (kLasting + kLastingPairs));
        bool reverse = (next >> 24) % 2 != 0;
        VSocket partner = -1;
        VRC rc =
            vi::SupplementalLookupPartner(reverse ? s + kOffset : s, &partner);
        bool lasting = s >= kLasting;
        if (rc == 0) {
          if (partner != (reverse ? s : s + kOffset)) wrong++;
        } else if (rc != VRC_NOT_FOUND || partner != -1 || lasting) {
          wrong++;
        }
      }
    });
  }
  for (auto &t : threads) t.join();
  EXPECT_EQ(wrong.load(), 0);
  for (VSocket s = 0; s < kLasting + kLastingPairs; ++s) {
    VSocket partner = -1;
    bool lasting = s >= kLasting;
    EXPECT_EQ(vi::SupplementalLookupPartner(s + kOffset, &partner),
              lasting ? 0 : VRC_NOT_FOUND);
    EXPECT_EQ(partner, lasting ? s : -1);
  }
}

}  // namespace
