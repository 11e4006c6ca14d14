// The syslog and journal destinations against datagram sockets the test
// binds itself.
#include "log/system_log.h"

#include <errno.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>

#include <map>

#include "log_test_support.h"
#include "support/alloc_sweep.h"
#include "threads/thr.h"

namespace {

using testing::internal::CaptureStderr;
using testing::internal::GetCapturedStderr;
namespace vi = vantrel::internal;

// A bound datagram socket standing in for a log daemon.
class Daemon {
 public:
  explicit Daemon(std::string path) : path_(std::move(path)) { Bind(); }
  ~Daemon() { Stop(); }
  void Bind() {
    sock_ = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    snprintf(address.sun_path, sizeof address.sun_path, "%s", path_.c_str());
    EXPECT_EQ(
        bind(sock_, reinterpret_cast<sockaddr *>(&address), sizeof address), 0)
        << strerror(errno);
  }
  void Stop() {
    if (sock_ >= 0) close(sock_);
    sock_ = -1;
    unlink(path_.c_str());
  }
  // The next datagram, or "" when none comes within a generous limit.
  std::string Receive() {
    pollfd entry{sock_, POLLIN, 0};
    if (poll(&entry, 1, 5000) != 1) return "";
    std::string buffer(256 * 1024, '\0');
    ssize_t n = recv(sock_, buffer.data(), buffer.size(), 0);
    buffer.resize(n > 0 ? size_t(n) : 0);
    return buffer;
  }
  // True when nothing waits.
  bool Empty() {
    pollfd entry{sock_, POLLIN, 0};
    return poll(&entry, 1, 0) == 0;
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
  int sock_ = -1;
};

// A journal datagram's fields; a key seen twice fails the test.
std::map<std::string, std::string> Fields(const std::string &datagram) {
  std::map<std::string, std::string> fields;
  size_t at = 0;
  while (at < datagram.size()) {
    size_t end = datagram.find_first_of("=\n", at);
    if (end == std::string::npos) break;
    std::string key = datagram.substr(at, end - at);
    std::string value;
    if (datagram[end] == '=') {
      size_t line_end = datagram.find('\n', end);
      value = datagram.substr(end + 1, line_end - end - 1);
      at = line_end + 1;
    } else {
      uint64_t length = 0;
      for (int i = 7; i >= 0; --i) {
        length = length << 8 | uint8_t(datagram[end + 1 + i]);
      }
      value = datagram.substr(end + 9, length);
      EXPECT_EQ(datagram[end + 9 + length], '\n');
      at = end + 10 + length;
    }
    EXPECT_TRUE(fields.emplace(key, value).second) << key;
  }
  return fields;
}

class SystemLogTest : public vtest::LogTest {
 protected:
  void SetUp() override {
    ASSERT_EQ(vi::ThreadSubsystemInit(), 0);
    ASSERT_EQ(vi::LogMgrInitialise("eventlog:"), 0);
    syslog_path_ = File("log");
    journal_path_ = File("journal");
    vi::LogSetSystemSocketPaths(syslog_path_.c_str(), journal_path_.c_str());
  }
  void TearDown() override { vi::LogSetSystemSocketPaths(nullptr, nullptr); }
  static VLogFile Open(const std::string &dest, VRC expected = 0) {
    VLogFile log = nullptr;
    EXPECT_EQ(VLogFileOpen(dest.c_str(), &log), expected) << dest;
    if (log != nullptr) {
      VLogFileSetLevel(log, 0);
      VLogFileSetFatalDoesNotExit(log, 1);
    }
    return log;
  }
  std::string syslog_path_;
  std::string journal_path_;
};

struct LevelCase {
  int level;
  int priority;
  char letter;
};
constexpr LevelCase kLevels[] = {{1, 7, 'D'}, {2, 6, 'I'}, {3, 4, 'W'},
                                 {4, 3, 'E'}, {5, 2, 'F'}, {9, 5, 'X'}};

TEST_F(SystemLogTest, SyslogDatagramsCarryPriorityIdentityAndThread) {
  Daemon daemon(syslog_path_);
  const std::string pid = std::to_string(getpid());
  for (auto [query, facility] :
       {std::pair{"", 1}, std::pair{"?facility=local0", 16},
        std::pair{"?facility=daemon", 3}}) {
    VLogFile log = Open(std::string("syslog://myapp") + query);
    for (const LevelCase &c : kLevels) {
      ASSERT_EQ(VLogToFile(log, c.level, 1, nullptr, 4, 66, "text %d", 7), 0);
      std::string letter(1, c.letter);
      EXPECT_EQ(daemon.Receive(),
                "<" + std::to_string(facility * 8 + c.priority) +
                    ">Jan  2 03:04:05 myapp[" + pid + "]: [MAIN] " + letter +
                    "-UNK-004-066: text 7")
          << query << c.level;
    }
    EXPECT_EQ(VLogFileClose(log), 0);
  }
  // Another thread, a long text cut to the datagram limit, a day below 10.
  VLogFile log = Open("syslog://myapp");
  std::thread([&] {
    VLogToFile(log, 3, 0, nullptr, 103, 0, "%s",
               std::string(9000, 'x').c_str());
  }).join();
  std::string datagram = daemon.Receive();
  EXPECT_EQ(datagram.size(), 8192u);
  EXPECT_TRUE(datagram.starts_with("<12>Jan  2 03:04:05 myapp[" + pid +
                                   "]: [UNKNOWN!] W-UNK-103-000: xxx"))
      << datagram.substr(0, 80);
  vtest::g_now = 1710115200 + 13 * 3600;  // 2024-03-11 13:00:00 UTC
  VLogToFile(log, 4, 0, nullptr, 102, 0, "later");
  EXPECT_EQ(daemon.Receive(), "<11>Mar 11 13:00:00 myapp[" + pid +
                                  "]: [MAIN] E-UNK-102-000: later");
  EXPECT_EQ(VLogFileClose(log), 0);
}

TEST_F(SystemLogTest, JournalDatagramsCarryFields) {
  Daemon daemon(journal_path_);
  VLogFile log = Open("journal://myapp");
  for (const LevelCase &c : kLevels) {
    ASSERT_EQ(VLogToFile(log, c.level, 1, nullptr, 4, 66, "text %d", 7), 0);
    std::map<std::string, std::string> expected = {
        {"PRIORITY", std::to_string(c.priority)},
        {"SYSLOG_IDENTIFIER", "myapp"},
        {"SYSLOG_PID", std::to_string(getpid())},
        {"THREAD_NAME", "MAIN"},
        {"VANTREL_MSGID", "UNK-004-066"},
        {"MESSAGE", "text 7"}};
    EXPECT_EQ(Fields(daemon.Receive()), expected) << c.level;
  }
  // Line feeds make the message binary; long messages are cut.
  VLogToFile(log, 3, 0, nullptr, 103, 0, "two\nlines=");
  EXPECT_EQ(Fields(daemon.Receive())["MESSAGE"], "two\nlines=");
  VLogToFile(log, 3, 0, nullptr, 103, 0, "%s", std::string(70000, 'y').c_str());
  EXPECT_EQ(Fields(daemon.Receive())["MESSAGE"], std::string(65536, 'y'));
  EXPECT_EQ(VLogFileClose(log), 0);

  log = Open("journal://?facility=local7");
  VLogToFile(log, 3, 0, nullptr, 103, 0, "x");
  std::map<std::string, std::string> fields = Fields(daemon.Receive());
  EXPECT_EQ(fields["SYSLOG_FACILITY"], "23");
  std::string comm = vtest::ReadFile("/proc/self/comm");
  EXPECT_EQ(fields["SYSLOG_IDENTIFIER"] + "\n", comm);
  EXPECT_EQ(VLogFileClose(log), 0);
  EXPECT_TRUE(daemon.Empty());
}

// Malformed destinations fail the open and the object writes to standard
// error through the default driver; only these two schemes are new.
TEST_F(SystemLogTest, MalformedDestinationsAreRefused) {
  Daemon syslog(syslog_path_);
  Daemon journal(journal_path_);
  for (auto [spec, rc] : std::vector<std::pair<std::string, VRC>>{
           {"syslog://x?facility=local8", EINVAL},
           {"syslog://x?facility=", EINVAL},
           {"syslog://x?", EINVAL},
           {"journal://x?level=3", EINVAL},
           {"journal://a\tb", EINVAL},
           {"syslog://" + std::string(128, 'i'), EINVAL},
           {"Syslog://x", 0}}) {  // schemes are case-sensitive
    VLogFile log = Open(spec, rc);
    CaptureStderr();
    VLogToFile(log, 3, 0, nullptr, 103, 0, "here");
    EXPECT_EQ(GetCapturedStderr(), "warn: W-UNK-103-000: here\n") << spec;
    EXPECT_EQ(VLogFileClose(log), 0);
  }
  EXPECT_EQ(VLogFileClose(Open("syslog://" + std::string(127, 'i'))), 0);
  EXPECT_TRUE(syslog.Empty() && journal.Empty());
}

// Without a daemon the open fails with one line on standard error and the
// default driver writes; a daemon that goes away later is reported once,
// its lines go to standard error, and it is found again when it is back.
TEST_F(SystemLogTest, AbsentOrVanishingDaemonFallsBackToStderr) {
  for (const std::string service : {"syslog", "journal"}) {
    const std::string &path =
        service == "syslog" ? syslog_path_ : journal_path_;
    const std::string name = service == "syslog" ? "syslog" : "the journal";
    CaptureStderr();
    VLogFile log = Open(service + "://app", ENOENT);
    VLogToFile(log, 3, 0, nullptr, 103, 0, "alone");
    EXPECT_EQ(GetCapturedStderr(), "Cannot reach " + name + " at " + path +
                                       " (" + strerror(ENOENT) +
                                       ") - logging to stderr\n"
                                       "warn: W-UNK-103-000: alone\n");
    EXPECT_EQ(VLogFileClose(log), 0);

    Daemon daemon(path);
    log = Open(service + "://app");
    VLogToFile(log, 3, 0, nullptr, 103, 0, "one");
    EXPECT_NE(daemon.Receive(), "");
    daemon.Stop();
    CaptureStderr();
    VLogToFile(log, 3, 0, nullptr, 103, 0, "two");
    VLogToFile(log, 4, 0, nullptr, 102, 0, "three");
    EXPECT_EQ(GetCapturedStderr(), "Cannot reach " + name + " at " + path +
                                       " (" + strerror(ENOENT) +
                                       ") - logging to stderr\n"
                                       "warn: W-UNK-103-000: two\n"
                                       "error: E-UNK-102-000: three\n");
    daemon.Bind();
    CaptureStderr();
    VLogToFile(log, 3, 0, nullptr, 103, 0, "four");
    EXPECT_EQ(GetCapturedStderr(), "");
    EXPECT_NE(daemon.Receive().find("four"), std::string::npos);
    EXPECT_EQ(VLogFileClose(log), 0);
  }
}

TEST_F(SystemLogTest, FailedSystemCallsAndMemory) {
  Daemon daemon(journal_path_);
  for (const char *op : {"socket", "connect"}) {
    vtest::OsFault fail(op, 1, EMFILE);
    CaptureStderr();
    VLogFile log = Open("journal://app", EMFILE);
    EXPECT_EQ(GetCapturedStderr(), "Cannot reach the journal at " +
                                       journal_path_ + " (" + strerror(EMFILE) +
                                       ") - logging to stderr\n");
    EXPECT_EQ(VLogFileClose(log), 0);
  }
  int descriptors = vtest::OpenDescriptorCount();
  VLogFile log = Open("journal://app");
  {
    vtest::OsFault interrupted("sendmsg", 1, EINTR);  // sent again
    VLogToFile(log, 3, 0, nullptr, 103, 0, "kept");
  }
  EXPECT_EQ(Fields(daemon.Receive())["MESSAGE"], "kept");
  {
    vtest::OsFault full("sendmsg", 1, ENOBUFS);
    CaptureStderr();
    VLogToFile(log, 3, 0, nullptr, 103, 0, "lost");
    EXPECT_TRUE(
        GetCapturedStderr().ends_with(") - logging to stderr\n"
                                      "warn: W-UNK-103-000: lost\n"));
  }
  EXPECT_EQ(VLogFileClose(log), 0);
  EXPECT_EQ(vtest::OpenDescriptorCount(), descriptors);

  vtest::SweepAllocations([&](vtest::Fault &f) {
    VLogFile swept = nullptr;
    CaptureStderr();
    f.Arm();
    VRC rc = VLogFileOpen("journal://app?facility=user", &swept);
    bool failed = f.Disarm();
    EXPECT_EQ(rc, failed ? ENOMEM : 0);
    if (swept != nullptr) {
      VLogToFile(swept, 3, 0, nullptr, 103, 0, "swept");
      EXPECT_EQ(VLogFileClose(swept), 0);
    }
    std::string err = GetCapturedStderr();
    if (failed) {
      EXPECT_EQ(err, swept ? "warn: W-UNK-103-000: swept\n" : "");
    } else {
      EXPECT_EQ(Fields(daemon.Receive())["MESSAGE"], "swept");
    }
  });
  EXPECT_EQ(vtest::OpenDescriptorCount(), descriptors);
}

}  // namespace
