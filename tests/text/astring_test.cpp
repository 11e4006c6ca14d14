#include "text/astring.h"

#include <gtest/gtest.h>
#include <limits.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <random>
#include <string>

#include "support/alloc_sweep.h"
#include "vantrel/vastring.h"

namespace {

namespace vi = vantrel::internal;

class VAStringTest : public testing::Test {
 protected:
  void SetUp() override { vi::AStrTrackerReset(); }
};

FILE *Stream(std::string &text) {
  return fmemopen(text.data(), text.size(), "r");
}

// Tracked strings grow in 1024-byte steps once the need reaches the
// capacity; static ones (length 0 below: astrstatic) to the exact need.
TEST_F(VAStringTest, TrackedStringsGrowIn1024StepsUntrackedExactly) {
  char *s = nullptr;
  ASSERT_STREQ(astrcpy(&s, "abc"), "abc");
  EXPECT_EQ(vi::AStrTrackedCapacity(s), 1024);
  const std::pair<uint32_t, int32_t> steps[] = {
      {1022, 1024}, {1023, 2048}, {2047, 3072},
      {0, -1},      {1500, 1501}, {1500, 2048},
  };
  for (const auto &[length, capacity] : steps) {
    length == 0 ? astrstatic(&s) : (void)astrensure(&s, length);
    EXPECT_EQ(vi::AStrTrackedCapacity(s), capacity) << length;
    EXPECT_STREQ(s, "abc");
  }
  // Sources inside the string itself survive its moves.
  for (int i = 0; i < 10; ++i) ASSERT_NE(astrcat(&s, s), nullptr);
  EXPECT_EQ(strlen(s), 3072u);
  EXPECT_STREQ(astrn0cpy(&s, s + 3069, 9), "abc");
  astrfree(&s);
  EXPECT_EQ(s, nullptr);
  astrfree(&s);
  // A block that would pass INT32_MAX bytes fails like exhausted memory.
  ASSERT_NE(astrcpy(&s, "abc"), nullptr);
  EXPECT_EQ(astrensure(&s, UINT32_MAX - 1), nullptr);
  EXPECT_EQ(s, nullptr);
}

TEST_F(VAStringTest, EleventhStringEvictsLeastRecentlyLookedUp) {
  char *s[11] = {};
  for (int i = 0; i < 10; ++i) ASSERT_NE(astrcpy(&s[i], "x"), nullptr);
  for (int i = 0; i < 10; ++i) EXPECT_EQ(vi::AStrTrackedAge(s[i]), 9 - i);
  astrcat(&s[0], "y");  // s[1] is now the oldest
  ASSERT_NE(astrcpy(&s[10], "z"), nullptr);
  EXPECT_EQ(vi::AStrTrackedCapacity(s[1]), -1);
  for (int i : {0, 2, 9, 10}) EXPECT_EQ(vi::AStrTrackedCapacity(s[i]), 1024);
  EXPECT_STREQ(s[1], "x");  // evicted, not released
  for (char *&p : s) astrfree(&p);
}

// Random copies and appends on twelve strings, more than the tracker holds,
// against a string model; limited calls stop at the limit or a NUL.
TEST_F(VAStringTest, RandomEditsOnManyStringsMatchModel) {
  std::mt19937 rng(7);
  char *s[12] = {};
  std::string model[12];
  for (int step = 0; step < 4000; ++step) {
    int k = rng() % 12;
    std::string piece(rng() % 700, static_cast<char>('a' + step % 26));
    int n = static_cast<int>(rng() % 800) - 50;
    switch (rng() % 5) {
      case 0:
        astrcpy(&s[k], piece.c_str());
        model[k] = piece;
        break;
      case 1:
        astrcat(&s[k], piece.c_str());
        model[k] += piece;
        break;
      case 2:
        astrn0cat(&s[k], piece.c_str(), n);
        if (n >= 0) model[k] += piece.substr(0, n);
        break;
      case 3:
        astrn0cpy(&s[k], piece.c_str(), n);
        model[k] = piece.substr(0, n >= 0 ? n : 0);
        break;
      default:
        if (model[k].size() > 30000) astrfree(&s[k]), model[k].clear();
        continue;
    }
    ASSERT_EQ(std::string(s[k] != nullptr ? s[k] : ""), model[k]) << step;
    int32_t capacity = vi::AStrTrackedCapacity(s[k]);
    ASSERT_TRUE(capacity < 0 || capacity > (int32_t)model[k].size()) << step;
  }
  for (char *&p : s) astrfree(&p);
}

TEST_F(VAStringTest, LineAndStopReadersReplaceContents) {
  std::string text = std::string("x\ny\0z", 5);
  FILE *f = Stream(text);
  char *s = nullptr;
  EXPECT_STREQ(afgets(&s, f), "x\n");
  EXPECT_STREQ(afgets(&s, f), "y");  // a NUL byte ends the line too
  EXPECT_STREQ(afgets(&s, f), "z");
  EXPECT_EQ(afgets(&s, f), nullptr);
  EXPECT_EQ(s, nullptr);
  fclose(f);

  std::string fields =
      "a,bc,," + std::string(3000, 'L') + std::string(1, '\0') + "z";
  f = Stream(fields);
  for (int expected : {2, 3, 1, 3002})
    EXPECT_EQ(afgettoch(&s, f, ','), expected);
  EXPECT_EQ(s[3000], '\0');
  EXPECT_EQ(afgettoch(&s, f, ','), 0);
  EXPECT_EQ(s, nullptr);
  fclose(f);
}

// Every allocating call, failed at each allocation: the caller's string is
// null afterwards (and LeakSanitizer sees nothing leak), or the call worked.
TEST_F(VAStringTest, FailedAllocationReleasesTheString) {
  std::string line = std::string(700, 'l') + "\n";
  std::string big(3000, 'b');
  auto read = [&](char **s, bool to_stop) {
    FILE *f = Stream(line);
    bool ok = to_stop ? afgettoch(s, f, '\n') == 701 : afgets(s, f) != nullptr;
    fclose(f);
    return ok;
  };
  const std::function<bool(char **)> ops[] = {
      [&](char **s) { return astrcpy(s, big.c_str()) != nullptr; },
      [&](char **s) { return astrcat(s, big.c_str()) != nullptr; },
      [&](char **s) { return astrn0cpy(s, big.c_str(), 2000) != nullptr; },
      [&](char **s) { return astrn0cat(s, big.c_str(), 2000) != nullptr; },
      [&](char **s) { return astrensure(s, 5000) != nullptr; },
      [&](char **s) { return read(s, false); },
      [&](char **s) { return read(s, true); },
      [&](char **s) {
        return v_asprintf(s, "%s %5d %.500f", big.c_str(), 1, 1e300) > 3000;
      },
  };
  for (bool start_null : {true, false}) {
    for (const auto &op : ops) {
      vtest::SweepAllocations([&](vtest::Fault &f) {
        vi::AStrTrackerReset();
        char *s = nullptr;
        if (!start_null) astrcpy(&s, "seed");
        f.Arm();
        bool ok = op(&s);
        EXPECT_TRUE(f.Disarm() ? ok || s == nullptr : ok);
        astrfree(&s);
      });
    }
  }
}

}  // namespace
