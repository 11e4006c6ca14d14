// Soak: 32 clients, 100 round trips each of 1 byte to 64 KiB, through an echo
// server with one library thread per connection; nothing lost or left open.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>
#include <chrono>
#include <random>
#include <thread>
#include <vector>

#include "net/socket_test_support.h"
#include "vantrel/vrc.h"
#include "vantrel/vsocket.h"
#include "vantrel/vthread.h"

namespace {

constexpr int kClients = 32;
constexpr int kLargest = 64 * 1024;
// Fewer round trips (same size range) under ThreadSanitizer's slow copies.
#if defined(__SANITIZE_THREAD__)
constexpr int kRoundTrips = 25;
#elif defined(__has_feature)
#if __has_feature(thread_sanitizer)
constexpr int kRoundTrips = 25;
#else
constexpr int kRoundTrips = 100;
#endif
#else
constexpr int kRoundTrips = 100;
#endif
// No single wait may take longer than this.
constexpr int32_t kWaitLimitMs = 20000;

constexpr VThreadAttr kJoinable = {VTHREAD_ATTR_JOINABLE, 0};

// Reads one framed message (a 4-byte length, then the bytes) and sends the
// bytes back, until the client closes.
VRC Echo(VThread, void *argument) {
  auto s = static_cast<VSocket>(reinterpret_cast<intptr_t>(argument));
  std::vector<char> buffer(kLargest);
  VRC rc = 0;
  for (;;) {
    uint32_t length = 0;
    rc = VSocketWait(s, kWaitLimitMs);
    if (rc == 0) rc = VSocketRecv(s, &length, sizeof length);
    if (rc != 0 || length == 0 || length > kLargest) break;
    rc = VSocketRecv(s, buffer.data(), int32_t(length));
    if (rc == 0) rc = VSocketSend(s, buffer.data(), int32_t(length));
    if (rc != 0) break;
  }
  VSocketClose(s);
  return rc == VRC_CONNECTION_CLOSED ? 0 : rc;
}

// Accepts kClients connections, one echo thread each, and waits for them.
struct Server {
  VSocket listener;
  std::atomic<int> accepted{0};
  std::atomic<int> failures{0};
};

VRC Accept(VThread, void *argument) {
  auto *server = static_cast<Server *>(argument);
  std::vector<VThread> handlers;
  for (int i = 0; i < kClients; ++i) {
    VSocket s = VSOCKET_INVALID;
    if (VSocketWait(server->listener, kWaitLimitMs) != 0 ||
        VSocketAccept(server->listener, &s) != 0) {
      ++server->failures;
      break;
    }
    ++server->accepted;
    VThread handler = nullptr;
    if (VThreadSpawn("echo", Echo, reinterpret_cast<void *>(intptr_t{s}),
                     &kJoinable, &handler) != 0) {
      VSocketClose(s);
      ++server->failures;
      continue;
    }
    handlers.push_back(handler);
  }
  for (VThread handler : handlers) {
    if (VThreadDestroy(handler) != 0) ++server->failures;
  }
  return 0;
}

// Connects one client and waits until the server has taken the connection:
// the listen backlog is five, and a burst of 32 handshakes would overflow it
// and leave clients waiting on retransmitted handshakes.
VSocket ConnectOne(Server *server, uint16_t port) {
  int before = server->accepted.load();
  VSocket s = VSOCKET_INVALID;
  if (VSocketConnect(vtest::kIpv4Loopback, port, &s) != 0) {
    return VSOCKET_INVALID;
  }
  auto limit = std::chrono::steady_clock::now() +
               std::chrono::milliseconds(kWaitLimitMs);
  while (server->accepted.load() == before &&
         std::chrono::steady_clock::now() < limit) {
    std::this_thread::yield();
  }
  return s;
}

// One client's round trips; the sizes come from a fixed seed and include
// both ends of the range.
int Client(VSocket s, int id) {
  std::mt19937 random(id);
  std::uniform_int_distribution<uint32_t> sizes(1, kLargest);
  std::vector<char> sent(kLargest);
  std::vector<char> got(kLargest);
  int failures = 0;
  for (int trip = 0; trip < kRoundTrips && failures == 0; ++trip) {
    uint32_t length = trip == 0 ? 1 : trip == 1 ? kLargest : sizes(random);
    for (uint32_t i = 0; i < length; ++i) {
      sent[i] = static_cast<char>(i * 7 + trip + id);
    }
    // One gathered send per frame: two small sends in a row would wait on
    // the peer's delayed acknowledgement every trip.
    if (VSocketSendVa(s, &length, int{sizeof length}, sent.data(), int(length),
                      static_cast<void *>(nullptr)) != 0 ||
        VSocketWait(s, kWaitLimitMs) != 0 ||
        VSocketRecv(s, got.data(), int32_t(length)) != 0 ||
        memcmp(sent.data(), got.data(), length) != 0) {
      ++failures;
    }
  }
  VSocketClose(s);
  return failures;
}

TEST(SocketSoakTest, ClientsEchoThroughAThreadPerConnection) {
  ASSERT_TRUE(vtest::StartWithDriver("ipv4_r"));
  auto before = vtest::OpenDescriptors();
  auto start = std::chrono::steady_clock::now();
  Server server;
  uint16_t port = 0;
  ASSERT_EQ(VSocketListenAnyPort(vtest::kIpv4Loopback, &port, &server.listener),
            0);
  VThread acceptor = nullptr;
  ASSERT_EQ(VThreadSpawn("acceptor", Accept, &server, &kJoinable, &acceptor),
            0);
  std::atomic<int> failures{0};
  std::vector<std::thread> clients;
  for (int id = 0; id < kClients; ++id) {
    VSocket s = ConnectOne(&server, port);
    if (s == VSOCKET_INVALID) {
      ++failures;
      continue;
    }
    clients.emplace_back([&failures, s, id] { failures += Client(s, id); });
  }
  for (std::thread &c : clients) c.join();
  EXPECT_EQ(VThreadDestroy(acceptor), 0);
  VSocketClose(server.listener);
  EXPECT_EQ(failures.load(), 0);
  EXPECT_EQ(server.failures.load(), 0);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::minutes(2));
  EXPECT_EQ(vtest::OpenDescriptors(), before);
}

}  // namespace
