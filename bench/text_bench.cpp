// String buffers and allocated strings against GLib's GString, std::string
// and the C library's asprintf.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <stdio.h>
#include <stdlib.h>

#include <random>
#include <string>
#include <vector>

#include "vantrel/vastring.h"
#include "vantrel/vstrbuf.h"

namespace {

constexpr int kPieces = 1000000;

// A million pieces of 8 to 16 characters, the same for every contender.
const std::vector<std::string> &Pieces() {
  static const std::vector<std::string> pieces = [] {
    std::mt19937 rng(42);
    std::vector<std::string> out(kPieces);
    for (auto &p : out)
      p.assign(8 + rng() % 9, static_cast<char>('a' + rng() % 26));
    return out;
  }();
  return pieces;
}

void BM_AppendVbStrcat(benchmark::State &state) {
  const auto &pieces = Pieces();
  for (auto _ : state) {
    vb_buffer b;
    vb_init(&b);
    for (const auto &p : pieces) vb_strcat(&b, p.c_str());
    benchmark::DoNotOptimize(b.data);
    vb_free(&b);
  }
  state.SetItemsProcessed(state.iterations() * kPieces);
}
BENCHMARK(BM_AppendVbStrcat)->Unit(benchmark::kMillisecond);

void BM_AppendGString(benchmark::State &state) {
  const auto &pieces = Pieces();
  for (auto _ : state) {
    GString *g = g_string_new(nullptr);
    for (const auto &p : pieces) g_string_append(g, p.c_str());
    benchmark::DoNotOptimize(g->str);
    g_string_free(g, TRUE);
  }
  state.SetItemsProcessed(state.iterations() * kPieces);
}
BENCHMARK(BM_AppendGString)->Unit(benchmark::kMillisecond);

void BM_AppendStdString(benchmark::State &state) {
  const auto &pieces = Pieces();
  for (auto _ : state) {
    std::string s;
    for (const auto &p : pieces) s.append(p.c_str());
    benchmark::DoNotOptimize(s.data());
  }
  state.SetItemsProcessed(state.iterations() * kPieces);
}
BENCHMARK(BM_AppendStdString)->Unit(benchmark::kMillisecond);

// A typical log line, formatted into fresh storage each time.
#define LOG_FORMAT "%s %5d [%s] %s: %s (code %d)\n"
#define LOG_ARGS                                                             \
  "2024-05-17 12:34:56.789", 4242, "Thread Pool Thread", "LogFileSubsystem", \
      "rotation of the log file finished after the size limit", -19

void BM_LogLineVbSprintf(benchmark::State &state) {
  for (auto _ : state) {
    vb_buffer b;
    vb_init(&b);
    vb_sprintf(&b, LOG_FORMAT, LOG_ARGS);
    benchmark::DoNotOptimize(b.data);
    vb_free(&b);
  }
}
BENCHMARK(BM_LogLineVbSprintf);

void BM_LogLineAvsprintf(benchmark::State &state) {
  for (auto _ : state) {
    char *s = nullptr;
    v_asprintf(&s, LOG_FORMAT, LOG_ARGS);
    benchmark::DoNotOptimize(s);
    astrfree(&s);
  }
}
BENCHMARK(BM_LogLineAvsprintf);

void BM_LogLineGlibcVasprintf(benchmark::State &state) {
  for (auto _ : state) {
    char *s = nullptr;
    if (asprintf(&s, LOG_FORMAT, LOG_ARGS) < 0) state.SkipWithError("failed");
    benchmark::DoNotOptimize(s);
    free(s);
  }
}
BENCHMARK(BM_LogLineGlibcVasprintf);

}  // namespace
