// Size rotation keeping VDE_LOGFILE_MAXFILES numbered files.
#include <errno.h>
#include <sys/stat.h>

#include <algorithm>
#include <map>

#include "log_test_support.h"
#include "support/alloc_sweep.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
using vtest::Exists;
using vtest::ReadFile;
using vtest::ReadLines;
using vtest::SetEnv;

#if defined(__SANITIZE_THREAD__) || defined(__SANITIZE_ADDRESS__)
constexpr int kThreadLines = 1500;
#else
constexpr int kThreadLines = 6000;
#endif

class RetentionTest : public vtest::LogTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(vantrel::internal::LogMgrInitialise("eventlog:"), 0);
    path_ = File("app.log");
  }
  void TearDown() override {
    if (log_ != nullptr) {
      EXPECT_EQ(VLogFileClose(log_), 0);
    }
  }
  void Open() { ASSERT_EQ(VLogFileOpen(path_.c_str(), &log_), 0); }
  void Write(int n) {
    EXPECT_EQ(VLogToFile(log_, 3, 0, nullptr, 103, 0, "line %04d", n), 0);
  }
  std::string Kept(int k) const { return path_ + "_old" + std::to_string(k); }
  // The "line NNNN" numbers of a file, in order.
  static std::vector<int> Numbers(const std::string &file) {
    std::vector<int> numbers;
    for (const std::string &line : ReadLines(file)) {
      numbers.push_back(std::stoi(line.substr(line.rfind(' ') + 1)));
    }
    return numbers;
  }
  std::string path_;
  VLogFile log_ = nullptr;
};

// One line per file: after 25 lines with N kept files, _old1 holds the
// line before the current one, _oldN the oldest kept, and nothing older;
// values outside 1..99 mean the single "_old" file.
TEST_F(RetentionTest, KeepsTheNewestFilesOrTheSingleOldFile) {
  SetEnv("VDE_LOGFILE_MAXSIZE", "40");  // a second line passes it
  int file = 0;
  for (const char *value :
       {"1", "3", "99", "0", "100", "-3", "3x", "", " 3", "many"}) {
    SCOPED_TRACE(value);
    int kept = atoi(value);
    bool numbered = kept >= 1 && kept <= 99 && std::to_string(kept) == value;
    path_ = File("keep" + std::to_string(++file) + ".log");
    SetEnv("VDE_LOGFILE_MAXFILES", value);
    Open();
    for (int i = 0; i < 25; ++i) Write(i);
    EXPECT_EQ(Numbers(path_), std::vector<int>{24});
    EXPECT_EQ(Exists(path_ + "_old"), !numbered);
    EXPECT_FALSE(Exists(Kept(0)));
    if (!numbered) {
      EXPECT_EQ(Numbers(path_ + "_old"), std::vector<int>{23});
      kept = 0;
    }
    for (int k = 1; k <= std::min(kept, 24); ++k) {
      EXPECT_EQ(Numbers(Kept(k)), std::vector<int>{24 - k}) << k;
    }
    EXPECT_FALSE(Exists(Kept(std::min(kept, 24) + 1)));
    EXPECT_EQ(VLogFileClose(log_), 0);
    log_ = nullptr;
  }
}

// Changing N between rotations: files beyond the new N stay untouched, the
// series goes on.
TEST_F(RetentionTest, TheLimitIsReadAtEveryWrite) {
  SetEnv("VDE_LOGFILE_MAXSIZE", "40");
  path_ = File("changing.log");
  SetEnv("VDE_LOGFILE_MAXFILES", "4");
  Open();
  for (int i = 0; i < 6; ++i) Write(i);
  SetEnv("VDE_LOGFILE_MAXFILES", "2");
  Write(6);
  EXPECT_EQ(Numbers(Kept(1)), std::vector<int>{5});
  EXPECT_EQ(Numbers(Kept(2)), std::vector<int>{4});
  EXPECT_EQ(Numbers(Kept(3)), std::vector<int>{2});  // left as it was
  SetEnv("VDE_LOGFILE_MAXFILES", nullptr);
  Write(7);
  EXPECT_EQ(Numbers(path_ + "_old"), std::vector<int>{6});
  EXPECT_EQ(Numbers(Kept(1)), std::vector<int>{5});
}

// Four writers through the manager with headers: every file starts with
// them, and each writer's lines in the kept files and the current one are,
// in file order, a run without gaps that ends at its last line (a writer
// that finished early may have nothing left).
TEST_F(RetentionTest, ManyWritersLoseNothingWithinTheKeptFiles) {
  SetEnv("VDE_LOGFILE_MAXSIZE", "20000");
  SetEnv("VDE_LOGFILE_MAXFILES", "6");
  ASSERT_EQ(vantrel::internal::LogMgrInitialise(path_.c_str()), 0);
  VLogMgrSetLevel(1);
  ASSERT_EQ(VLogHeaderAdd("retention"), 0);
  vtest::RunWriters(nullptr, 4, kThreadLines);
  ASSERT_EQ(VLogMgrSwitch("eventlog:"), 0);

  std::vector<std::string> files;
  for (int k = 6; k >= 1; --k) files.push_back(Kept(k));
  files.push_back(path_);
  EXPECT_FALSE(Exists(Kept(7)));
  size_t seen = vtest::CountWriterLines(files, "retention");
  EXPECT_GT(seen, 4u * 20000 / 60);
  std::map<int, std::vector<int>> by_writer;
  for (const std::string &file : files) {
    EXPECT_LE(ReadFile(file).size(), 20000u + 1) << file;
    for (const std::string &line : ReadLines(file)) {
      int t, i;
      if (sscanf(line.c_str() + strlen(vtest::kStamp),
                 ": Warning: writer %d line %d", &t, &i) == 2) {
        by_writer[t].push_back(i);
      }
    }
  }
  ASSERT_FALSE(by_writer.empty());
  for (auto &[writer, numbers] : by_writer) {
    EXPECT_EQ(numbers.back(), kThreadLines - 1) << writer;
    for (size_t n = 1; n < numbers.size(); ++n) {
      ASSERT_EQ(numbers[n], numbers[n - 1] + 1) << writer;
    }
  }
}

// Each rename or removal of a rotation failing in turn: the rotation ends
// as a failed rename does (pool or standard error), and no kept line is
// lost or duplicated.
TEST_F(RetentionTest, FailedRenamesAndRemovalsFallBackAsAFailedRotation) {
  SetEnv("VDE_LOGFILE_MAXSIZE", "40");
  SetEnv("VDE_LOGFILE_MAXFILES", "3");
  struct Case {
    const char *op;
    int nth;  // of the rotation that fails: remove _old3, then renames
    const char *use_stderr;
  } cases[] = {
      {"unlink", 1, nullptr}, {"rename", 1, nullptr}, {"rename", 2, "TRUE"},
      {"rename", 3, nullptr}, {"unlink", 1, "TRUE"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(std::string(c.op) + " " + std::to_string(c.nth));
    path_ = File(std::string(c.op) + std::to_string(c.nth) +
                 (c.use_stderr ? "e" : "") + ".log");
    SetEnv("VDE_LOGFILE_USESTDERR", c.use_stderr);
    Open();
    for (int i = 0; i < 4; ++i) Write(i);  // _old1.._old3 hold 2, 1, 0
    CaptureStderr();
    {
      vtest::OsFault fail(c.op, c.nth, EACCES);
      Write(4);
      EXPECT_TRUE(fail.fired());
    }
    std::string err = GetCapturedStderr();
    std::string expected =
        "Rename Failed - Error = " + std::to_string(EACCES) + "\n";
    if (c.use_stderr) {
      expected += "Switching logging to stderr\n" + std::string(vtest::kStamp) +
                  ": Warning: line 0004\n";
      EXPECT_FALSE(Exists(path_ + "_01"));
    } else {
      EXPECT_EQ(Numbers(path_ + "_01"), std::vector<int>{4});
    }
    EXPECT_EQ(err, expected);
    // Every line is in exactly one place.
    std::vector<int> all;
    for (const std::string &file :
         {Kept(3), Kept(2), Kept(1), Kept(4), path_, path_ + "_01"}) {
      for (int n : Numbers(file)) all.push_back(n);
    }
    std::sort(all.begin(), all.end());
    // Once the oldest file is removed its line is gone, as it would be
    // after a rotation that succeeds.
    std::vector<int> want = {1, 2, 3};
    if (c.op == std::string("unlink")) want.insert(want.begin(), 0);
    if (!c.use_stderr) want.push_back(4);
    EXPECT_EQ(all, want);
    EXPECT_EQ(VLogFileClose(log_), 0);
    log_ = nullptr;
  }
}

// The kept files' names cost one allocation per rotation; without it the
// file is kept and the next line tries again.
TEST_F(RetentionTest, RotationWithoutMemoryKeepsTheFileForTheNextLine) {
  SetEnv("VDE_LOGFILE_MAXSIZE", "40");
  SetEnv("VDE_LOGFILE_MAXFILES", "2");
  path_ = File("sweep.log");
  vtest::SweepAllocations([&](vtest::Fault &f) {
    Open();
    Write(0);
    f.Arm();
    Write(1);
    if (f.Disarm()) {
      EXPECT_EQ(Numbers(path_), (std::vector<int>{0, 1}));
      EXPECT_FALSE(Exists(Kept(1)));
      Write(2);
      EXPECT_EQ(Numbers(Kept(1)), (std::vector<int>{0, 1}));
    } else {
      EXPECT_EQ(Numbers(Kept(1)), std::vector<int>{0});
      EXPECT_EQ(Numbers(path_), std::vector<int>{1});
    }
    EXPECT_EQ(VLogFileClose(log_), 0);
    log_ = nullptr;
    for (const std::string &file : {path_, Kept(1), Kept(2)}) {
      remove(file.c_str());
    }
  });
}

}  // namespace
