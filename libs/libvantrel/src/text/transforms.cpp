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

VRC NameCase(const char *text, char **name, int32_t case_mode) {
  char *copy = Strndup(text, kNameMaxLength);
  if (copy == nullptr) return ENOMEM;
  if (case_mode == 1) {
    for (char *p = copy; *p != '\0'; ++p) {
      *p = static_cast<char>(toupper(static_cast<unsigned char>(*p)));
    }
  }
  *name = copy;
  return 0;
}

VRC LTrim(const char *text, char **trimmed) {
  while (IsSpace(*text)) ++text;
  return CopyOut(text, strlen(text), trimmed);
}

VRC RTrim(const char *text, char **trimmed) {
  size_t length = strlen(text);
  while (length > 0 && IsSpace(text[length - 1])) --length;
  return CopyOut(text, length, trimmed);
}

int AllLetters(const char *text, int (*classify)(int)) {
  for (; *text != '\0'; ++text) {
    if (!classify(static_cast<unsigned char>(*text))) return 0;
  }
  return 1;
}

VRC Quote(const char *text, char **quoted) {
  size_t length = 2;
  for (const char *p = text; *p != '\0'; ++p) length += QuoteEscape(*p) ? 2 : 1;
  auto *out = static_cast<char *>(Malloc(length + 1));
  if (out == nullptr) return ENOMEM;
  char *q = out;
  *q++ = '\'';
  for (const char *p = text; *p != '\0'; ++p) {
    char escape = QuoteEscape(*p);
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

VRC Unquote(const char *text, char **unquoted) {
  size_t length = strlen(text);
  // The inner text lies between the first and the last character; a text
  // too short to hold two quotes has none.
  const char *p = text + (length >= 2 ? 1 : length);
  const char *end = text + (length >= 2 ? length - 1 : length);
  auto *out = static_cast<char *>(Malloc(static_cast<size_t>(end - p) + 1));
  if (out == nullptr) return ENOMEM;
  char *q = out;
  while (p < end) {
    if (*p == '\\' && p + 1 < end) {
      *q++ = Unescape(p[1]);
      p += 2;
    } else {
      *q++ = *p++;
    }
  }
  *q = '\0';
  *unquoted = out;
  return 0;
}

int32_t WordWrap(char *text, int32_t width) {
  size_t w = width < 0 ? 0 : static_cast<size_t>(width);
  char *rest = text;
  size_t rest_length = strlen(text);
  while (rest_length > w) {
    char *limit = rest + w;
    char *cut = static_cast<char *>(memchr(rest, '\n', w + 1));
    if (cut == nullptr) {
      cut = LastSpaceAfterFirst(rest, limit);
      if (cut == nullptr) cut = FirstSpaceFrom(limit);
      if (cut == nullptr) return 0;
      *cut = '\n';
    }
    rest_length -= static_cast<size_t>(cut + 1 - rest);
    rest = cut + 1;
  }
  return static_cast<int32_t>(rest_length);
}

}  // namespace

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

extern "C" VANTREL_API VRC VStringToNameCase(const char *text, char **name,
                                             int32_t case_mode) {
  return vi::NameCase(text, name, case_mode);
}

extern "C" VANTREL_API void VStringUpper(char *text) {
  for (; *text != '\0'; ++text) {
    *text = static_cast<char>(toupper(static_cast<unsigned char>(*text)));
  }
}

extern "C" VANTREL_API void VStringLower(char *text) {
  for (; *text != '\0'; ++text) {
    *text = static_cast<char>(tolower(static_cast<unsigned char>(*text)));
  }
}

extern "C" VANTREL_API VRC VStringLTrim(const char *text, char **trimmed) {
  return vi::LTrim(text, trimmed);
}

extern "C" VANTREL_API VRC VStringRTrim(const char *text, char **trimmed) {
  return vi::RTrim(text, trimmed);
}

extern "C" VANTREL_API int VStringIsUpper(const char *text) {
  return vi::AllLetters(text, isupper);
}

extern "C" VANTREL_API int VStringIsLower(const char *text) {
  return vi::AllLetters(text, islower);
}

extern "C" VANTREL_API VRC VStringQuoted(const char *text, char **quoted) {
  return vi::Quote(text, quoted);
}

extern "C" VANTREL_API VRC VStringUnquoted(const char *text, char **unquoted) {
  return vi::Unquote(text, unquoted);
}

extern "C" VANTREL_API int32_t VStringWordWrap(char *text, int32_t width) {
  return vi::WordWrap(text, width);
}
