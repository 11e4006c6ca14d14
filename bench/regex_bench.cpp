// Regular expressions and comparison operators against their floors:
// VRegexpMatch of a log-line pattern against the engine's own execute
// call with the same expression and slots; LIKE (compile, match, free on
// every call) against doing the same with the engine directly; and
// VTypedValueOperatorComp per operator against the plain C comparison.
// Inputs cycle through a small table so no call sees the same operands
// twice in a row.
#include <benchmark/benchmark.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>
#include <tre/tre.h>

#include <array>

#include "vantrel/voperator.h"
#include "vantrel/vregexp.h"

namespace {

constexpr size_t kLines = 16;  // a power of two, for the cheap wrap-around

// A typical log-line filter: time stamp, level, facility and message.
constexpr const char *kLogPattern =
    "^([0-9]{4}-[0-9]{2}-[0-9]{2}) ([0-9:]{8}) \\[(ERROR|WARN|INFO)\\] "
    "([a-z]+): (.*)$";

// Log lines of 60 to 90 characters; every fourth one does not match.
const std::array<std::array<char, 128>, kLines> &Lines() {
  static auto *lines = [] {
    auto *all = new std::array<std::array<char, 128>, kLines>();
    const char *levels[] = {"ERROR", "WARN", "INFO", "DEBUG"};
    for (size_t i = 0; i < kLines; ++i) {
      snprintf((*all)[i].data(), (*all)[i].size(),
               "2024-03-%02zu 12:%02zu:%02zu [%s] storage: volume %zu at %zu%% "
               "of its capacity",
               i + 1, i * 3 % 60, i * 7 % 60, levels[i % 4], i * 13, 80 + i);
    }
    return all;
  }();
  return *lines;
}

void BM_VRegexpMatch(benchmark::State &state) {
  VRegexp re = nullptr;
  if (VRegexpCompile(kLogPattern, &re) != 0) {
    state.SkipWithError("compile failed");
    return;
  }
  const auto &lines = Lines();
  size_t i = 0, matched = 0;
  for (auto _ : state) {
    matched += VRegexpMatch(re, lines[i++ % kLines].data()) == 0;
  }
  benchmark::DoNotOptimize(matched);
  VRegexpFree(re);
}
BENCHMARK(BM_VRegexpMatch);

void BM_TreRegexec(benchmark::State &state) {
  regex_t compiled;
  if (tre_regcomp(&compiled, kLogPattern, REG_EXTENDED) != REG_OK) {
    state.SkipWithError("compile failed");
    return;
  }
  const auto &lines = Lines();
  size_t i = 0, matched = 0;
  regmatch_t found[VREGEXP_SUBEXPRESSIONS];
  for (auto _ : state) {
    matched += tre_regexec(&compiled, lines[i++ % kLines].data(),
                           VREGEXP_SUBEXPRESSIONS, found, 0) == REG_OK;
    benchmark::DoNotOptimize(found);
  }
  benchmark::DoNotOptimize(matched);
  tre_regfree(&compiled);
}
BENCHMARK(BM_TreRegexec);

VTypedValue Text(const char *text) {
  VTypedValue v{VDT_STRING, {}};
  v.value.stringValue.text = const_cast<char *>(text);
  v.value.stringValue.length = static_cast<uint32_t>(strlen(text));
  return v;
}

// LIKE compiles the pattern on every call.
void BM_VTypedValueLIKE(benchmark::State &state) {
  const auto &lines = Lines();
  std::array<VTypedValue, kLines> subjects;
  for (size_t i = 0; i < kLines; ++i) subjects[i] = Text(lines[i].data());
  VTypedValue pattern = Text(kLogPattern);
  size_t i = 0, matched = 0;
  for (auto _ : state) {
    matched += VTypedValueLIKE(&subjects[i++ % kLines], &pattern);
  }
  benchmark::DoNotOptimize(matched);
}
BENCHMARK(BM_VTypedValueLIKE);

void BM_TreCompileExecFree(benchmark::State &state) {
  const auto &lines = Lines();
  size_t i = 0, matched = 0;
  regmatch_t found[VREGEXP_SUBEXPRESSIONS];
  for (auto _ : state) {
    regex_t compiled;
    if (tre_regcomp(&compiled, kLogPattern, REG_EXTENDED) == REG_OK) {
      matched += tre_regexec(&compiled, lines[i++ % kLines].data(),
                             VREGEXP_SUBEXPRESSIONS, found, 0) == REG_OK;
      tre_regfree(&compiled);
    }
  }
  benchmark::DoNotOptimize(matched);
}
BENCHMARK(BM_TreCompileExecFree);

// Operands: integers for the ordering operators, texts differing in
// letter case for the case-insensitive ones.
struct Operands {
  std::array<VTypedValue, kLines> integers, texts;
  std::array<char[16], kLines> words;
};

const Operands &OperandTable() {
  static auto *table = [] {
    auto *t = new Operands();
    const char *words[] = {"Alpha", "beta", "GAMMA", "delta"};
    for (size_t i = 0; i < kLines; ++i) {
      t->integers[i] = VTypedValue{VDT_INTEGER, {}};
      t->integers[i].value.integerValue =
          static_cast<int32_t>(i * 2654435761u) >> 8;
      snprintf(t->words[i], sizeof t->words[i], "%s%zu", words[i % 4], i % 3);
      t->texts[i] = Text(t->words[i]);
    }
    return t;
  }();
  return *table;
}

const char *const kOperatorNames[] = {"EQ",  "NE",   "LT",      "GT",  "LTE",
                                      "GTE", "LIKE", "NOTLIKE", "IEQ", "INE",
                                      "ILT", "IGT",  "ILTE",    "IGTE"};

void BM_VTypedValueOperatorComp(benchmark::State &state) {
  VOperator op = static_cast<VOperator>(state.range(0));
  const Operands &t = OperandTable();
  const auto &operands = op >= VOP_IEQ ? t.texts : t.integers;
  size_t i = 0;
  int sum = 0;
  for (auto _ : state) {
    sum += VTypedValueOperatorComp(&operands[i % kLines],
                                   &operands[(i + 1) % kLines], op);
    ++i;
  }
  benchmark::DoNotOptimize(sum);
  state.SetLabel(kOperatorNames[op]);
}
BENCHMARK(BM_VTypedValueOperatorComp)
    ->DenseRange(VOP_EQ, VOP_GTE)
    ->DenseRange(VOP_IEQ, VOP_IGTE);

// The floors: the comparison itself on the same operands.
int PlainCompare(int op, int32_t a, int32_t b) {
  switch (op) {
    case VOP_EQ:
      return a == b;
    case VOP_NE:
      return a != b;
    case VOP_LT:
      return a < b;
    case VOP_GT:
      return a > b;
    case VOP_LTE:
      return a <= b;
    default:
      return a >= b;
  }
}

void BM_PlainIntegerCompare(benchmark::State &state) {
  int op = static_cast<int>(state.range(0));
  const auto &integers = OperandTable().integers;
  size_t i = 0;
  int sum = 0;
  for (auto _ : state) {
    int32_t a = integers[i % kLines].value.integerValue;
    int32_t b = integers[(i + 1) % kLines].value.integerValue;
    benchmark::DoNotOptimize(a);
    sum += PlainCompare(op, a, b);
    ++i;
  }
  benchmark::DoNotOptimize(sum);
  state.SetLabel(kOperatorNames[op]);
}
BENCHMARK(BM_PlainIntegerCompare)->DenseRange(VOP_EQ, VOP_GTE);

void BM_PlainStrcasecmp(benchmark::State &state) {
  const auto &words = OperandTable().words;
  size_t i = 0;
  int sum = 0;
  for (auto _ : state) {
    sum += strcasecmp(words[i % kLines], words[(i + 1) % kLines]) < 0;
    ++i;
  }
  benchmark::DoNotOptimize(sum);
}
BENCHMARK(BM_PlainStrcasecmp);

}  // namespace
