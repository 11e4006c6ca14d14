// Environment expansion of a 1 KiB text holding ten references of every
// form, against what a program would otherwise use: wordexp(3) (shell
// rules, no command substitution) and a GLib regular expression with
// g_getenv.
#include <benchmark/benchmark.h>
#include <glib.h>
#include <stdlib.h>
#include <wordexp.h>

#include <string>

#include "vantrel/venv.h"

namespace {

// Ten references in the three forms, spread over plain words, 1024 bytes.
std::string MakeText(bool percent_forms) {
  const char *refs[] = {"$BENCH_HOME", "${BENCH_USER}", "%BENCH_DIR%",
                        "$BENCH_A",    "${BENCH_B}",    "%BENCH_C%",
                        "$BENCH_HOME", "${BENCH_USER}", "%BENCH_DIR%",
                        "$BENCH_A"};
  std::string text;
  for (const char *ref : refs) {
    std::string r = ref;
    if (!percent_forms && r[0] == '%') {
      r = "${" + r.substr(1, r.size() - 2) + "}";
    }
    text +=
        "lorem ipsum dolor sit amet consectetur adipiscing elit sed do "
        "eiusmod tempor incididunt ut labore et dolore magna ";
    text += r + " ";
  }
  text.resize(1024, 'x');
  return text;
}

void SetVariables() {
  setenv("BENCH_HOME", "/home/someone", 1);
  setenv("BENCH_USER", "someone", 1);
  setenv("BENCH_DIR", "/var/lib/application/data", 1);
  setenv("BENCH_A", "alpha", 1);
  setenv("BENCH_B", "beta", 1);
  setenv("BENCH_C", "gamma", 1);
}

void BM_VEnvExpandString(benchmark::State &state) {
  SetVariables();
  std::string text = MakeText(true);
  for (auto _ : state) {
    char *out = nullptr;
    VEnvExpandString(text.c_str(), &out);
    benchmark::DoNotOptimize(out);
    free(out);
  }
  state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_VEnvExpandString);

void BM_Wordexp(benchmark::State &state) {
  SetVariables();
  std::string text = MakeText(false);
  for (auto _ : state) {
    wordexp_t words;
    if (wordexp(text.c_str(), &words, WRDE_NOCMD) == 0) {
      benchmark::DoNotOptimize(words.we_wordv);
      wordfree(&words);
    }
  }
  state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_Wordexp);

gboolean ReplaceReference(const GMatchInfo *match, GString *out, gpointer) {
  for (int group = 1; group <= 3; ++group) {
    gchar *name = g_match_info_fetch(match, group);
    if (name != nullptr && name[0] != '\0') {
      const gchar *value = g_getenv(name);
      if (value != nullptr) g_string_append(out, value);
    }
    g_free(name);
  }
  return FALSE;
}

void BM_GRegexReplace(benchmark::State &state) {
  SetVariables();
  std::string text = MakeText(true);
  GRegex *regex =
      g_regex_new("\\$\\{([^}]*)\\}?|\\$(\\w*)[}%]?|%([^%]*)%?",
                  G_REGEX_OPTIMIZE, static_cast<GRegexMatchFlags>(0), nullptr);
  for (auto _ : state) {
    gchar *out = g_regex_replace_eval(regex, text.c_str(), -1, 0,
                                      static_cast<GRegexMatchFlags>(0),
                                      ReplaceReference, nullptr, nullptr);
    benchmark::DoNotOptimize(out);
    g_free(out);
  }
  g_regex_unref(regex);
  state.SetBytesProcessed(state.iterations() * text.size());
}
BENCHMARK(BM_GRegexReplace);

}  // namespace
