// The hook between the thread manager and the log manager, and the
// standard-error fallback used until the log manager installs itself.
#include "threads/log_hook.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

namespace vantrel::internal {
namespace {

std::atomic<LogHookFunc> g_hook{nullptr};

// The log manager's threshold and level words before it is started.
constexpr int kDefaultThreshold = 3;
constexpr int kFatalLevel = 5;
constexpr size_t kMessageSize = 1024;
constexpr size_t kTextSize = 2048;

struct LevelWord {
  const char *word;
  char letter;
};

constexpr LevelWord kWords[] = {{"debug", 'D'},
                                {"info", 'I'},
                                {"warn", 'W'},
                                {"error", 'E'},
                                {"fatal", 'F'}};

LevelWord WordOf(int level) {
  if (level >= 1 && level <= kFatalLevel) return kWords[level - 1];
  return {"unknown!", 'X'};
}

// The log manager's default destination: the catalog text when there is a
// catalog, the component code of the catalog ("UNK" without one), one
// write to standard error.
void WriteToStandardError(int level, VI18nCatalog catalog, int set, int number,
                          const char *format, va_list args) {
  char message[kMessageSize];
  if (catalog != nullptr || strnlen(format, kMessageSize) == kMessageSize) {
    VI18nMessageGet(catalog, set, number, format, message, sizeof message);
    format = message;
  }
  char text[kTextSize];
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
  if (vsnprintf(text, sizeof text, format, args) < 0) return;
#pragma GCC diagnostic pop
  char component[8];
  VI18nMessageGet(catalog, 100, 1, "UNK", component, sizeof component);
  LevelWord word = WordOf(level);
  fprintf(stderr, "%s: %c-%s-%03d-%03d: %s\n", word.word, word.letter,
          component, set, number, text);
}

}  // namespace

void SetLogHook(LogHookFunc hook) {
  g_hook.store(hook, std::memory_order_release);
}

void LogThroughHook(int level, int facility, VI18nCatalog catalog, int set,
                    int number, const char *format, ...) {
  va_list args;
  va_start(args, format);
  LogHookFunc hook = g_hook.load(std::memory_order_acquire);
  if (hook != nullptr) {
    hook(level, facility, catalog, set, number, format, args);
  } else if (level >= kDefaultThreshold) {
    WriteToStandardError(level, catalog, set, number, format, args);
  }
  va_end(args);
  if (hook == nullptr && level == kFatalLevel) exit(1);
}

}  // namespace vantrel::internal
