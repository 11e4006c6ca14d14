// Text transformations: case, trimming, quoting and word wrapping.
#include <ctype.h>
#include <errno.h>
#include <string.h>

#include "internal/alloc.h"
#include "vantrel/vstring.h"

namespace vantrel::internal {
namespace {

constexpr size_t kNameMaxLength = 40;

inline bool IsSpace(char c) { return isspace(static_cast<unsigned char>(c)); }

// Hands a new copy of text[0, length) to *out: 0 or ENOMEM.
VRC CopyOut(const char *text, size_t length, char **out) {
  char *copy = Strndup(text, length);
  if (copy == nullptr) return ENOMEM;
  *out = copy;
  return 0;
}

// The escape letter that stands for c inside quotes, or 0.
char QuoteEscape(char c) {
  switch (c) {
    case '\t':
      return 't';
    case '\n':
      return 'n';
    case '\r':
      return 'r';
    case '"':
      return '"';
    case '\'':
      return '\'';
    case '\\':
      return '\\';
    default:
      return 0;
  }
}

// The character that backslash + c stands for inside quotes.
char Unescape(char c) {
  switch (c) {
    case 'n':
      return '\n';
    case 'r':
      return '\r';
    case 't':
      return '\t';
    default:
      return c;
  }
}

// Last white space in (first, last], or null.
char *LastSpaceAfterFirst(char *first, char *last) {
  for (char *p = last; p > first; --p) {
    if (IsSpace(*p)) return p;
  }
  return nullptr;
}

// First white space at or after p, or null at the end of the text.
char *FirstSpaceFrom(char *p) {
  for (; *p != '\0'; ++p) {
    if (IsSpace(*p)) return p;
  }
  return nullptr;
}

int AllLetters(const char *text, int (*classify)(int)) {
  for (; *text != '\0'; ++text) {
    if (!classify(static_cast<unsigned char>(*text))) return 0;
  }
  return 1;
}

}  // namespace

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VStringToNameCase(const char *text, char **name, int32_t case_mode) {
  if (text == nullptr || name == nullptr) return EINVAL;
  char *copy = vi::Strndup(text, vi::kNameMaxLength);
  if (copy == nullptr) return ENOMEM;
  if (case_mode == 1) VStringUpper(copy);
  *name = copy;
  return 0;
}

void VStringUpper(char *text) {
  if (text == nullptr) return;
  for (; *text != '\0'; ++text) {
    *text = static_cast<char>(toupper(static_cast<unsigned char>(*text)));
  }
}

void VStringLower(char *text) {
  if (text == nullptr) return;
  for (; *text != '\0'; ++text) {
    *text = static_cast<char>(tolower(static_cast<unsigned char>(*text)));
  }
}

VRC VStringLTrim(const char *text, char **trimmed) {
  if (text == nullptr || trimmed == nullptr) return EINVAL;
  while (vi::IsSpace(*text)) ++text;
  return vi::CopyOut(text, strlen(text), trimmed);
}

VRC VStringRTrim(const char *text, char **trimmed) {
  if (text == nullptr || trimmed == nullptr) return EINVAL;
  size_t length = strlen(text);
  while (length > 0 && vi::IsSpace(text[length - 1])) --length;
  return vi::CopyOut(text, length, trimmed);
}

int VStringIsUpper(const char *text) {
  return text != nullptr ? vi::AllLetters(text, isupper) : 0;
}

int VStringIsLower(const char *text) {
  return text != nullptr ? vi::AllLetters(text, islower) : 0;
}

VRC VStringQuoted(const char *text, char **quoted) {
  if (text == nullptr || quoted == nullptr) return EINVAL;
  size_t length = 2;
  for (const char *p = text; *p != '\0'; ++p) {
    length += vi::QuoteEscape(*p) ? 2 : 1;
  }
  auto *out = static_cast<char *>(vi::Malloc(length + 1));
  if (out == nullptr) return ENOMEM;
  char *q = out;
  *q++ = '\'';
  for (const char *p = text; *p != '\0'; ++p) {
    char escape = vi::QuoteEscape(*p);
    if (escape != 0) {
      *q++ = '\\';
      *q++ = escape;
    } else {
      *q++ = *p;
    }
  }
  *q++ = '\'';
  *q = '\0';
  *quoted = out;
  return 0;
}

VRC VStringUnquoted(const char *text, char **unquoted) {
  if (text == nullptr || unquoted == nullptr) return EINVAL;
  size_t length = strlen(text);
  // The inner text lies between the first and the last character; a text
  // too short to hold two quotes has none.
  const char *p = text + (length >= 2 ? 1 : length);
  const char *end = text + (length >= 2 ? length - 1 : length);
  auto *out = static_cast<char *>(vi::Malloc(static_cast<size_t>(end - p) + 1));
  if (out == nullptr) return ENOMEM;
  char *q = out;
  while (p < end) {
    if (*p == '\\' && p + 1 < end) {
      *q++ = vi::Unescape(p[1]);
      p += 2;
    } else {
      *q++ = *p++;
    }
  }
  *q = '\0';
  *unquoted = out;
  return 0;
}

int32_t VStringWordWrap(char *text, int32_t width) {
  if (text == nullptr) return 0;
  size_t w = width < 0 ? 0 : static_cast<size_t>(width);
  char *rest = text;
  size_t rest_length = strlen(text);
  while (rest_length > w) {
    char *limit = rest + w;
    char *cut = static_cast<char *>(memchr(rest, '\n', w + 1));
    if (cut == nullptr) {
      cut = vi::LastSpaceAfterFirst(rest, limit);
      if (cut == nullptr) cut = vi::FirstSpaceFrom(limit);
      if (cut == nullptr) return 0;
      *cut = '\n';
    }
    rest_length -= static_cast<size_t>(cut + 1 - rest);
    rest = cut + 1;
  }
  return static_cast<int32_t>(rest_length);
}
