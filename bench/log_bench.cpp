// Lines per second into a file with a flush per line: the file driver
// without and with a size limit, against spdlog's basic_file_sink_mt
// flushed on every message and against plain fprintf + fflush (the floor).
// Also the cost of a message below the threshold.
#include <benchmark/benchmark.h>
#include <stdio.h>
#include <stdlib.h>
#include <time.h>
#include <unistd.h>

#include <chrono>
#include <mutex>
#include <string>

#include "vantrel/vlog.h"

#if __has_include(<spdlog/spdlog.h>)
#define VANTREL_BENCH_SPDLOG 1
#ifndef FMT_HEADER_ONLY
#define FMT_HEADER_ONLY  // header-only use: nothing to link
#endif
#include <spdlog/sinks/basic_file_sink.h>
#include <spdlog/spdlog.h>
#endif

namespace {

std::string TempFile(const char *name) {
  return std::string("/tmp/vantrel_log_bench_") + std::to_string(getpid()) +
         "_" + name;
}

// Shared between the threads of one run; made by thread 0 before the
// timed loop, which every thread enters together.
VLogFile g_log = nullptr;
std::string g_path;

void OpenLog(benchmark::State &state, const char *max_size) {
  if (state.thread_index() != 0) return;
  if (max_size != nullptr) {
    setenv("VDE_LOGFILE_MAXSIZE", max_size, 1);
  } else {
    unsetenv("VDE_LOGFILE_MAXSIZE");
  }
  g_path = TempFile("vlog.log");
  if (VLogFileOpen(g_path.c_str(), &g_log) != 0) state.SkipWithError("open");
}

void CloseLog(benchmark::State &state) {
  if (state.thread_index() != 0) return;
  VLogFileClose(g_log);
  unsetenv("VDE_LOGFILE_MAXSIZE");
  remove(g_path.c_str());
  remove((g_path + "_old").c_str());
}

void RunVLog(benchmark::State &state, const char *max_size) {
  OpenLog(state, max_size);
  int i = 0;
  for (auto _ : state) {
    VLogToFile(g_log, VLOG_WARN, 0, nullptr, VLOG_SET_WARN, 0,
               "message %d with some text %s", ++i, "abc");
  }
  state.SetItemsProcessed(state.iterations());
  CloseLog(state);
}

void BM_VLogFile(benchmark::State &state) { RunVLog(state, nullptr); }
BENCHMARK(BM_VLogFile)->Threads(1)->Threads(4)->UseRealTime();

// A limit far above what a run writes: the cost of watching the size.
void BM_VLogFileMaxSize(benchmark::State &state) {
  RunVLog(state, "1073741824");
}
BENCHMARK(BM_VLogFileMaxSize)->Threads(1)->Threads(4)->UseRealTime();

#ifdef VANTREL_BENCH_SPDLOG
std::shared_ptr<spdlog::logger> g_spdlog;

void BM_Spdlog(benchmark::State &state) {
  if (state.thread_index() == 0) {
    g_path = TempFile("spdlog.log");
    g_spdlog = spdlog::basic_logger_mt("bench", g_path);
    g_spdlog->set_pattern("%D %T: %l: %v");  // the same line shape
    g_spdlog->flush_on(spdlog::level::trace);
  }
  int i = 0;
  for (auto _ : state) {
    g_spdlog->warn("message {} with some text {}", ++i, "abc");
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    spdlog::drop("bench");
    g_spdlog.reset();
    remove(g_path.c_str());
  }
}
BENCHMARK(BM_Spdlog)->Threads(1)->Threads(4)->UseRealTime();

// A line's write(2) costs as much as everything else and drifts on a shared
// machine, so separate runs disagree by more than the two loggers differ.
// Here each iteration writes a batch through each logger in turn, and
// "spdlog_per_vlog" is spdlog's time over VLog's (above 1: VLog is faster),
// which the drift does not bias.  Argument 1 sets a size limit.
void BM_VLogAgainstSpdlogInterleaved(benchmark::State &state) {
  constexpr int kBatch = 1000;
  using Clock = std::chrono::steady_clock;
  OpenLog(state, state.range(0) != 0 ? "1073741824" : nullptr);
  std::string spdlog_path = TempFile("mixed_spdlog.log");
  auto logger = spdlog::basic_logger_mt("mixed", spdlog_path);
  logger->set_pattern("%D %T: %l: %v");
  logger->flush_on(spdlog::level::trace);
  Clock::duration vlog{}, spdlog{};
  int i = 0;
  for (auto _ : state) {
    auto start = Clock::now();
    for (int k = 0; k < kBatch; ++k) {
      VLogToFile(g_log, VLOG_WARN, 0, nullptr, VLOG_SET_WARN, 0,
                 "message %d with some text %s", ++i, "abc");
    }
    auto middle = Clock::now();
    for (int k = 0; k < kBatch; ++k) {
      logger->warn("message {} with some text {}", ++i, "abc");
    }
    vlog += middle - start;
    spdlog += Clock::now() - middle;
  }
  auto per_line = [&](Clock::duration d) {
    return std::chrono::duration<double, std::nano>(d).count() /
           (static_cast<double>(state.iterations()) * kBatch);
  };
  state.counters["vlog_ns"] = per_line(vlog);
  state.counters["spdlog_ns"] = per_line(spdlog);
  state.counters["spdlog_per_vlog"] = per_line(spdlog) / per_line(vlog);
  spdlog::drop("mixed");
  remove(spdlog_path.c_str());
  CloseLog(state);
}
BENCHMARK(BM_VLogAgainstSpdlogInterleaved)
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMillisecond);
#endif

FILE *g_file = nullptr;
std::mutex g_file_lock;

void BM_FprintfFlush(benchmark::State &state) {
  if (state.thread_index() == 0) {
    g_path = TempFile("stdio.log");
    g_file = fopen(g_path.c_str(), "a");
  }
  int i = 0;
  for (auto _ : state) {
    char stamp[64];
    time_t now = time(nullptr);
    struct tm tm;
    localtime_r(&now, &tm);
    strftime(stamp, sizeof stamp, "%x %X", &tm);
    std::lock_guard<std::mutex> lock(g_file_lock);
    fprintf(g_file, "%s: Warning: message %d with some text %s\n", stamp, ++i,
            "abc");
    fflush(g_file);
  }
  state.SetItemsProcessed(state.iterations());
  if (state.thread_index() == 0) {
    fclose(g_file);
    remove(g_path.c_str());
  }
}
BENCHMARK(BM_FprintfFlush)->Threads(1)->Threads(4)->UseRealTime();

// Threshold 3, an information message: discarded after one comparison.
void BM_VLogBelowThreshold(benchmark::State &state) {
  VLogMgrSetLevel(VLOG_WARN);
  int i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        VLog(VLOG_INFO, 0, nullptr, VLOG_SET_INFO, 0, "dropped %d", ++i));
  }
}
BENCHMARK(BM_VLogBelowThreshold);

}  // namespace
