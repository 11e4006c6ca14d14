// Sockets over loopback: the round trip of a 64-byte message and the
// transfer of 1 MiB through VSocketSend/VSocketRecv, against raw BSD
// sockets (the floor) and APR's apr_socket_send/apr_socket_recv (when APR
// is installed); both ends of each connection use the interface measured.
// Also a handle for a numeric address (VSocketIPAddrHdlCreate) against
// inet_pton and getaddrinfo(AI_NUMERICHOST).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <errno.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "vantrel/vservices.h"
#include "vantrel/vsocket.h"

#ifdef VANTREL_BENCH_APR
#include <apr_general.h>
#include <apr_network_io.h>
#include <apr_pools.h>
#endif

namespace {

constexpr char kLoopback[] = "127.0.0.1";
constexpr size_t kSmall = 64;
constexpr size_t kBulk = size_t{1} << 20;

// Start-up loads the IP driver from the build tree's stage unless VTHOME
// names another home.
bool StartLibrary() {
  static bool started = [] {
    setenv("VTHOME", VANTREL_BENCH_STAGE_DIR, 0);
    return VInitialise("net_bench", "stderr") == 0;
  }();
  return started;
}

void NoDelay(int s) {
  int on = 1;
  setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
}

// A connected pair of descriptors over loopback, made with the library.
bool ConnectDescriptors(int *client, int *server) {
  uint16_t port = 0;
  VSocket listener = VSOCKET_INVALID;
  if (!StartLibrary() ||
      VSocketListenAnyPort(kLoopback, &port, &listener) != 0) {
    return false;
  }
  bool ok = VSocketConnect(kLoopback, port, client) == 0 &&
            VSocketAccept(listener, server) == 0;
  VSocketClose(listener);
  if (ok) {
    NoDelay(*client);
    NoDelay(*server);
  }
  return ok;
}

// ---- The interfaces measured: whole-buffer send and receive.

struct Raw {
  using Socket = int;
  static bool Connect(Socket *client, Socket *server) {
    return ConnectDescriptors(client, server);
  }
  static bool SendAll(Socket s, const char *data, size_t size) {
    while (size > 0) {
      ssize_t n = send(s, data, size, MSG_NOSIGNAL);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  static bool RecvAll(Socket s, char *data, size_t size) {
    while (size > 0) {
      ssize_t n = recv(s, data, size, 0);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return false;
      data += n;
      size -= static_cast<size_t>(n);
    }
    return true;
  }
  static void Close(Socket s) { close(s); }
};

struct Ours {
  using Socket = VSocket;
  static bool Connect(Socket *client, Socket *server) {
    return ConnectDescriptors(client, server);
  }
  static bool SendAll(Socket s, const char *data, size_t size) {
    return VSocketSend(s, data, static_cast<int32_t>(size)) == 0;
  }
  static bool RecvAll(Socket s, char *data, size_t size) {
    return VSocketRecv(s, data, static_cast<int32_t>(size)) == 0;
  }
  static void Close(Socket s) { VSocketClose(s); }
};

#ifdef VANTREL_BENCH_APR
struct Apr {
  using Socket = apr_socket_t *;
  static apr_pool_t *Pool() {
    static apr_pool_t *pool = [] {
      apr_initialize();
      apr_pool_t *p = nullptr;
      apr_pool_create(&p, nullptr);
      return p;
    }();
    return pool;
  }
  static bool Connect(Socket *client, Socket *server) {
    apr_pool_t *pool = Pool();
    apr_sockaddr_t *any = nullptr;
    apr_socket_t *listener = nullptr;
    if (apr_sockaddr_info_get(&any, kLoopback, APR_INET, 0, 0, pool) != 0 ||
        apr_socket_create(&listener, APR_INET, SOCK_STREAM, APR_PROTO_TCP,
                          pool) != 0 ||
        apr_socket_bind(listener, any) != 0 ||
        apr_socket_listen(listener, 5) != 0) {
      return false;
    }
    apr_sockaddr_t *bound = nullptr;
    apr_socket_addr_get(&bound, APR_LOCAL, listener);
    apr_sockaddr_t *peer = nullptr;
    bool ok = apr_sockaddr_info_get(&peer, kLoopback, APR_INET, bound->port, 0,
                                    pool) == 0 &&
              apr_socket_create(client, APR_INET, SOCK_STREAM, APR_PROTO_TCP,
                                pool) == 0 &&
              apr_socket_connect(*client, peer) == 0 &&
              apr_socket_accept(server, listener, pool) == 0;
    apr_socket_close(listener);
    if (ok) {
      apr_socket_opt_set(*client, APR_TCP_NODELAY, 1);
      apr_socket_opt_set(*server, APR_TCP_NODELAY, 1);
    }
    return ok;
  }
  static bool SendAll(Socket s, const char *data, size_t size) {
    while (size > 0) {
      apr_size_t n = size;
      if (apr_socket_send(s, data, &n) != APR_SUCCESS) return false;
      data += n;
      size -= n;
    }
    return true;
  }
  static bool RecvAll(Socket s, char *data, size_t size) {
    while (size > 0) {
      apr_size_t n = size;
      if (apr_socket_recv(s, data, &n) != APR_SUCCESS) return false;
      data += n;
      size -= n;
    }
    return true;
  }
  static void Close(Socket s) { apr_socket_close(s); }
};
#endif

// A connection whose server side answers each message of `message` bytes
// with `reply` bytes on its own thread, until the client closes.
template <class Api>
class Echo {
 public:
  Echo(size_t message, size_t reply) {
    ok_ = Api::Connect(&client_, &server_);
    if (!ok_) return;
    thread_ = std::thread([this, message, reply] {
      std::vector<char> buffer(message);
      while (Api::RecvAll(server_, buffer.data(), message) &&
             Api::SendAll(server_, buffer.data(), reply)) {
      }
      Api::Close(server_);
    });
  }
  ~Echo() {
    if (!ok_) return;
    Api::Close(client_);
    thread_.join();
  }
  bool ok() const { return ok_; }
  typename Api::Socket client() const { return client_; }

 private:
  bool ok_ = false;
  typename Api::Socket client_{};
  typename Api::Socket server_{};
  std::thread thread_;
};

template <class Api>
void BM_RoundTrip64(benchmark::State &state) {
  Echo<Api> echo(kSmall, kSmall);
  if (!echo.ok()) {
    state.SkipWithError("no loopback connection");
    return;
  }
  char message[kSmall] = {};
  for (auto _ : state) {
    if (!Api::SendAll(echo.client(), message, kSmall) ||
        !Api::RecvAll(echo.client(), message, kSmall)) {
      state.SkipWithError("transfer failed");
      break;
    }
  }
  state.SetItemsProcessed(state.iterations());
}

template <class Api>
void BM_Transfer1MiB(benchmark::State &state) {
  Echo<Api> echo(kBulk, 1);
  if (!echo.ok()) {
    state.SkipWithError("no loopback connection");
    return;
  }
  std::vector<char> data(kBulk, 'x');
  for (auto _ : state) {
    if (!Api::SendAll(echo.client(), data.data(), kBulk) ||
        !Api::RecvAll(echo.client(), data.data(), 1)) {
      state.SkipWithError("transfer failed");
      break;
    }
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(kBulk));
}

BENCHMARK_TEMPLATE(BM_RoundTrip64, Ours)->UseRealTime();
BENCHMARK_TEMPLATE(BM_RoundTrip64, Raw)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Transfer1MiB, Ours)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Transfer1MiB, Raw)->UseRealTime();
#ifdef VANTREL_BENCH_APR
BENCHMARK_TEMPLATE(BM_RoundTrip64, Apr)->UseRealTime();
BENCHMARK_TEMPLATE(BM_Transfer1MiB, Apr)->UseRealTime();
#endif

// ---- A handle for a numeric address.

void BM_VSocketIPAddrHdlCreate(benchmark::State &state, const char *host) {
  if (!StartLibrary()) {
    state.SkipWithError("no library");
    return;
  }
  for (auto _ : state) {
    VSocketIPAddrHdl hdl = nullptr;
    if (VSocketIPAddrHdlCreate(host, 0, &hdl) != 0) {
      state.SkipWithError("the driver does not take this address");
      break;
    }
    benchmark::DoNotOptimize(hdl->sockAddr);
    VSocketIPAddrHdlDestroy(hdl);
  }
}

void BM_InetPton(benchmark::State &state, const char *host) {
  for (auto _ : state) {
    sockaddr_storage address{};
    auto *in = reinterpret_cast<sockaddr_in *>(&address);
    auto *in6 = reinterpret_cast<sockaddr_in6 *>(&address);
    if (inet_pton(AF_INET, host, &in->sin_addr) == 1) {
      in->sin_family = AF_INET;
    } else if (inet_pton(AF_INET6, host, &in6->sin6_addr) == 1) {
      in6->sin6_family = AF_INET6;
    }
    benchmark::DoNotOptimize(address);
  }
}

void BM_GetaddrinfoNumeric(benchmark::State &state, const char *host) {
  addrinfo hints{};
  hints.ai_flags = AI_NUMERICHOST;
  hints.ai_socktype = SOCK_STREAM;
  for (auto _ : state) {
    addrinfo *result = nullptr;
    if (getaddrinfo(host, nullptr, &hints, &result) != 0) {
      state.SkipWithError("getaddrinfo failed");
      break;
    }
    benchmark::DoNotOptimize(result->ai_addr);
    freeaddrinfo(result);
  }
}

BENCHMARK_CAPTURE(BM_VSocketIPAddrHdlCreate, ipv4, "127.0.0.1");
BENCHMARK_CAPTURE(BM_InetPton, ipv4, "127.0.0.1");
BENCHMARK_CAPTURE(BM_GetaddrinfoNumeric, ipv4, "127.0.0.1");
BENCHMARK_CAPTURE(BM_VSocketIPAddrHdlCreate, ipv6, "::1");
BENCHMARK_CAPTURE(BM_InetPton, ipv6, "::1");
BENCHMARK_CAPTURE(BM_GetaddrinfoNumeric, ipv6, "::1");

}  // namespace
