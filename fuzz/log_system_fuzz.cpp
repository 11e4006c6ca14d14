// The syslog and journal destinations: a specification and a message from
// the input, sent to a socket bound here.  An accepted specification names
// a known facility and a printable identifier of at most 127 characters;
// every datagram is whole, and a journal datagram's fields parse back to
// the message as logged.
#include <errno.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>

#include "fuzz_support.h"
#include "log/system_log.h"
#include "vantrel/vlog.h"

namespace {

std::string g_path;
int g_sock = -1;

void BindOnce() {
  if (g_sock >= 0) return;
  g_path = "/tmp/vantrel_log_system_fuzz." + std::to_string(getpid());
  unlink(g_path.c_str());
  g_sock = socket(AF_UNIX, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  snprintf(address.sun_path, sizeof address.sun_path, "%s", g_path.c_str());
  FUZZ_CHECK(bind(g_sock, reinterpret_cast<sockaddr *>(&address),
                  sizeof address) == 0);
  atexit([] { unlink(g_path.c_str()); });
  vantrel::internal::LogSetSystemSocketPaths(g_path.c_str(), g_path.c_str());
  vantrel::internal::LogRegisterSystemSchemes();
}

// The MESSAGE field of a journal datagram; aborts on a malformed one.
std::string JournalMessage(const std::string &d) {
  std::string message;
  size_t at = 0;
  while (at < d.size()) {
    size_t end = d.find_first_of("=\n", at);
    FUZZ_CHECK(end != std::string::npos);
    std::string key = d.substr(at, end - at);
    std::string value;
    if (d[end] == '=') {
      size_t line_end = d.find('\n', end);
      FUZZ_CHECK(line_end != std::string::npos);
      value = d.substr(end + 1, line_end - end - 1);
      at = line_end + 1;
    } else {
      FUZZ_CHECK(end + 9 <= d.size());
      uint64_t length = 0;
      for (int i = 7; i >= 0; --i) length = length << 8 | uint8_t(d[end + 1 + i]);
      FUZZ_CHECK(length <= d.size() - end - 9 && end + 9 + length < d.size());
      value = d.substr(end + 9, length);
      FUZZ_CHECK(d[end + 9 + length] == '\n');
      at = end + 10 + length;
    }
    if (key == "MESSAGE") message = value;
  }
  return message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  BindOnce();
  vfuzz::Input input(data, size);
  bool journal = input.Byte() & 1;
  std::string spec = journal ? "journal://" : "syslog://";
  std::string message;
  for (uint8_t n = input.Byte(); n > 0 && !input.empty(); --n) {
    char c = char(input.Byte());
    if (c != 0) spec += c;
  }
  while (!input.empty()) {
    char c = char(input.Byte());
    if (c != 0) message += c;
  }
  VLogFile log = nullptr;
  VRC rc = VLogFileOpen(spec.c_str(), &log);
  FUZZ_CHECK(log != nullptr && (rc == 0 || rc == EINVAL));
  if (rc == 0) {
    VLogToFile(log, 3, 0, nullptr, 103, 0, "%s", message.c_str());
    std::string datagram(256 * 1024, '\0');
    ssize_t n = recv(g_sock, datagram.data(), datagram.size(), MSG_DONTWAIT);
    FUZZ_CHECK(n > 0);
    datagram.resize(size_t(n));
    if (journal) {
      FUZZ_CHECK(JournalMessage(datagram) == message.substr(0, 65536));
    } else {
      FUZZ_CHECK(datagram[0] == '<' && datagram.size() <= 8192);
      FUZZ_CHECK(datagram.find('\n') == std::string::npos ||
                 message.find('\n') != std::string::npos);
    }
  } else {
    VLogToFile(log, 1, 0, nullptr, 105, 0, "dropped");  // below threshold
  }
  FUZZ_CHECK(VLogFileClose(log) == 0);
  return 0;
}
