// Line stamps from many threads across second boundaries: the time zone is
// read once a second for the whole process, under the library's lock, so
// the run is clean under ThreadSanitizer; every line's stamp is its second.
#include <atomic>
#include <map>

#include "log_test_support.h"
#include "vantrel/vtime.h"

namespace {

using vtest::SetEnv;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kLines = 1500;
#else
constexpr int kLines = 5000;
#endif
// Clock readings per second: a run spans a dozen seconds or more.
constexpr int64_t kReadsPerSecond = 1000;

std::atomic<int64_t> g_reads{0};

// A wall clock that moves a second every kReadsPerSecond readings.
int SteppingClock(clockid_t id, struct timespec *ts) noexcept {
  if (id != CLOCK_REALTIME) return clock_gettime(id, ts);
  ts->tv_sec = vtest::kNow + g_reads.fetch_add(1) / kReadsPerSecond;
  ts->tv_nsec = 0;
  return 0;
}

class StampTest : public vtest::LogTest {};

// Four writers through the manager onto a file with daily rotation (two
// more conversions per line) while this thread converts times as well.
TEST_F(StampTest, FourThreadsAcrossSecondsReadTheZoneOnceASecond) {
  vtest::OsOverride<decltype(&SteppingClock)> clock("clock_gettime",
                                                    SteppingClock);
  SetEnv("VDE_LOGFILE_ROTATION_FORMAT", "%Y%m%d");
  std::string path = File("stamps.log");
  ASSERT_EQ(vantrel::internal::LogMgrInitialise(path.c_str()), 0);
  vtest::OsCallCounter tzsets("tzset");
  vtest::RunWriters(nullptr, 4, kLines, [&] {
    time_t t = vtest::kNow;
    struct tm tm;
    for (int i = 0; i < 200; ++i) {
      ASSERT_NE(v_localtime(&t, &tm), nullptr);
      ASSERT_EQ(tm.tm_hour, 3);
    }
  });
  uint64_t calls = tzsets.calls();
  ASSERT_EQ(VLogMgrSwitch("eventlog:"), 0);
  int64_t seconds = g_reads.load() / kReadsPerSecond + 1;
  EXPECT_GE(seconds, 10);
  // Each second once, and each of this thread's own conversions, which
  // read the zone every time.
  EXPECT_LE(calls, uint64_t(seconds) + 200 + 1);

  // Per writer, stamps never go back and every line is there once.
  std::map<int, std::pair<std::string, int>> last;  // stamp, line
  size_t count = 0;
  for (const std::string &line : vtest::ReadLines(path)) {
    char date[9], time[9];
    int t, i, end = 0;
    ASSERT_EQ(sscanf(line.c_str(), "%8s %8s: Warning: writer %d line %d%n",
                     date, time, &t, &i, &end),
              4)
        << line;
    ASSERT_EQ(end, int(line.size())) << line;
    EXPECT_STREQ(date, "01/02/24");
    auto [it, first] = last.try_emplace(t, time, i);
    if (!first) {
      EXPECT_LE(it->second.first, std::string(time)) << line;
      EXPECT_EQ(it->second.second + 1, i) << line;
      it->second = {time, i};
    }
    ++count;
  }
  EXPECT_EQ(count, size_t{4} * kLines);
}

// A changed TZ is seen at once, even within the second it was read in
// (a thread that has not stamped a line this second shows it).
TEST_F(StampTest, ChangedTimeZoneIsSeenAtOnce) {
  std::string path = File("zone.log");
  ASSERT_EQ(vantrel::internal::LogMgrInitialise(path.c_str()), 0);
  VLog(3, 0, nullptr, 103, 0, "utc");
  SetEnv("TZ", "EST5");
  std::thread([] { VLog(3, 0, nullptr, 103, 0, "east"); }).join();
  ASSERT_EQ(VLogMgrSwitch("eventlog:"), 0);
  EXPECT_EQ(vtest::ReadFile(path), std::string(vtest::kStamp) +
                                       ": Warning: utc\n"
                                       "01/01/24 22:04:05: Warning: east\n");
}

}  // namespace
