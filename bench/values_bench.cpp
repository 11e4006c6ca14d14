// Value cells: comparison and hashing per type, and conversions between
// text and integers against the C library's strtol and snprintf as the
// floor.  Inputs cycle through a small table so that no call sees the same
// operands twice in a row.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <array>

#include "vantrel/vvalue.h"

namespace {

constexpr size_t kCells = 64;  // a power of two, for the cheap wrap-around

struct Inputs {
  std::array<VValue, kCells> integers, reals, texts, binaries;
  std::array<char[24], kCells> digits;
  std::array<char[40], kCells> blocks;
};

// Texts of 20 to 23 characters sharing a 16-character prefix, as keys in a
// table tend to; binary blocks of 32 bytes that differ in the last one.
const Inputs &Cells() {
  static Inputs *inputs = [] {
    auto *in = new Inputs();
    for (size_t i = 0; i < kCells; ++i) {
      int32_t n = static_cast<int32_t>(i * 2654435761u);
      in->integers[i].integerValue = n;
      in->reals[i].realValue = n / 7.0;
      snprintf(in->digits[i], sizeof in->digits[i], "%d", n);
      char *text = static_cast<char *>(malloc(32));
      snprintf(text, 32, "property.prefix.%zu", i * 977);
      in->texts[i].stringValue.text = text;
      in->texts[i].stringValue.length = static_cast<uint32_t>(strlen(text));
      memset(in->blocks[i], 'x', sizeof in->blocks[i]);
      in->blocks[i][31] = static_cast<char>(i);
      in->binaries[i].binaryValue.length = 32;
      in->binaries[i].binaryValue.data = in->blocks[i];
    }
    return in;
  }();
  return *inputs;
}

const std::array<VValue, kCells> &CellsOf(VDataType type) {
  const Inputs &in = Cells();
  switch (type) {
    case VDT_REAL:
      return in.reals;
    case VDT_STRING:
      return in.texts;
    case VDT_BINARY:
      return in.binaries;
    default:
      return in.integers;
  }
}

void BM_VValueComp(benchmark::State &state) {
  VDataType type = static_cast<VDataType>(state.range(0));
  const auto &cells = CellsOf(type);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(
        VValueComp(cells[i % kCells], cells[(i + 1) % kCells], type));
    ++i;
  }
  state.SetLabel(VDataTypeName(type));
}
BENCHMARK(BM_VValueComp)
    ->Arg(VDT_INTEGER)
    ->Arg(VDT_REAL)
    ->Arg(VDT_STRING)
    ->Arg(VDT_BINARY);

void BM_VValueHash(benchmark::State &state) {
  VDataType type = static_cast<VDataType>(state.range(0));
  const auto &cells = CellsOf(type);
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(VValueHash(cells[i++ % kCells], type));
  }
  state.SetLabel(VDataTypeName(type));
}
BENCHMARK(BM_VValueHash)
    ->Arg(VDT_INTEGER)
    ->Arg(VDT_REAL)
    ->Arg(VDT_STRING)
    ->Arg(VDT_BINARY);

// References for the text and binary cases.
void BM_Strcmp(benchmark::State &state) {
  const auto &cells = Cells().texts;
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(strcmp(cells[i % kCells].stringValue.text,
                                    cells[(i + 1) % kCells].stringValue.text));
    ++i;
  }
}
BENCHMARK(BM_Strcmp);

void BM_GStrHash(benchmark::State &state) {
  const auto &cells = Cells().texts;
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(g_str_hash(cells[i++ % kCells].stringValue.text));
  }
}
BENCHMARK(BM_GStrHash);

// Text to integer.  The in-place conversion frees its text, so each
// iteration makes a new one; the floor does the same around strtol.
void BM_VValueConvertTextToInteger(benchmark::State &state) {
  const auto &digits = Cells().digits;
  size_t i = 0;
  for (auto _ : state) {
    VValue cell;
    cell.stringValue.text = strdup(digits[i++ % kCells]);
    cell.stringValue.length = 0;
    VValueConvert(&cell, VDT_STRING, VDT_INTEGER);
    benchmark::DoNotOptimize(cell.integerValue);
  }
}
BENCHMARK(BM_VValueConvertTextToInteger);

void BM_StrdupStrtolFree(benchmark::State &state) {
  const auto &digits = Cells().digits;
  size_t i = 0;
  for (auto _ : state) {
    char *text = strdup(digits[i++ % kCells]);
    benchmark::DoNotOptimize(strtol(text, nullptr, 0));
    free(text);
  }
}
BENCHMARK(BM_StrdupStrtolFree);

// The copying conversion leaves the text alone: the parse alone.
void BM_VValueCopyAndConvertTextToInteger(benchmark::State &state) {
  const auto &digits = Cells().digits;
  size_t i = 0;
  for (auto _ : state) {
    VValue src, dst;
    src.stringValue.text = const_cast<char *>(digits[i++ % kCells]);
    src.stringValue.length = 0;
    VValueCopyAndConvert(&dst, VDT_INTEGER, &src, VDT_STRING);
    benchmark::DoNotOptimize(dst.integerValue);
  }
}
BENCHMARK(BM_VValueCopyAndConvertTextToInteger);

void BM_Strtol(benchmark::State &state) {
  const auto &digits = Cells().digits;
  size_t i = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(strtol(digits[i++ % kCells], nullptr, 0));
  }
}
BENCHMARK(BM_Strtol);

// Integer to a new text, released again.
void BM_VValueConvertIntegerToText(benchmark::State &state) {
  const auto &cells = Cells().integers;
  size_t i = 0;
  for (auto _ : state) {
    VValue cell = cells[i++ % kCells];
    VValueConvert(&cell, VDT_INTEGER, VDT_STRING);
    benchmark::DoNotOptimize(cell.stringValue.text);
    free(cell.stringValue.text);
  }
}
BENCHMARK(BM_VValueConvertIntegerToText);

void BM_SnprintfStrdupFree(benchmark::State &state) {
  const auto &cells = Cells().integers;
  size_t i = 0;
  for (auto _ : state) {
    char buffer[16];
    snprintf(buffer, sizeof buffer, "%d", cells[i++ % kCells].integerValue);
    char *text = strdup(buffer);
    benchmark::DoNotOptimize(text);
    free(text);
  }
}
BENCHMARK(BM_SnprintfStrdupFree);

void BM_Snprintf(benchmark::State &state) {
  const auto &cells = Cells().integers;
  size_t i = 0;
  for (auto _ : state) {
    char buffer[16];
    snprintf(buffer, sizeof buffer, "%d", cells[i++ % kCells].integerValue);
    benchmark::DoNotOptimize(buffer);
  }
}
BENCHMARK(BM_Snprintf);

}  // namespace
