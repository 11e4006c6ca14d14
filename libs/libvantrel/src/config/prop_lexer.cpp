// Tokens of properties files, include statements and the input buffers.
//
// Among the token patterns the longest match wins, and at equal length the
// earlier one: keywords before names, integers before the single '-'.
// Bytes are classified in ASCII (a letter is A-Z or a-z); only the text
// between quotes is read as multibyte characters of the current locale.
#include "config/prop_lexer.h"

#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <strings.h>
#include <wchar.h>

#include "config/prop_internal.h"
#include "internal/alloc.h"
#include "platform/file.h"
#include "vantrel/venv.h"
#include "vantrel/vrc.h"

namespace vantrel::internal {
namespace {

constexpr char kOutOfMemory[] = "Out of memory";
constexpr char kIncludeOpenFailed[] = "Could not open include file";
constexpr size_t kFirstTextCapacity = 256;

bool IsLetter(int c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}
bool IsDigit(int c) { return c >= '0' && c <= '9'; }
bool IsHexDigit(int c) {
  return IsDigit(c) || (c >= 'A' && c <= 'F') || (c >= 'a' && c <= 'f');
}
bool IsOctalDigit(int c) { return c >= '0' && c <= '7'; }
bool IsNameChar(int c) {
  return IsLetter(c) || IsDigit(c) || c == '-' || c == '.' || c == '_';
}
bool IsBlank(int c) { return c == ' ' || c == '\t' || c == '\r'; }

// ---- Input files.

void FreeInput(PropInput *input) {
  if (input == nullptr) return;
  if (input->descriptor != platform::kNoFile) {
    platform::FileClose(input->descriptor);
  }
  Free(input->name);
  Free(input->buffer);
  Free(input);
}

// A new input over an open descriptor; the descriptor is closed when this
// fails.
PropInput *NewInput(int descriptor, const char *name) {
  auto *input = static_cast<PropInput *>(Calloc(1, sizeof(PropInput)));
  if (input == nullptr) {
    platform::FileClose(descriptor);
    return nullptr;
  }
  input->descriptor = descriptor;
  input->line = 1;
  input->capacity = kInputBufferSize;
  input->name = Strdup(name);
  input->buffer = static_cast<char *>(Malloc(kInputBufferSize));
  if (input->name == nullptr || input->buffer == nullptr) {
    FreeInput(input);
    return nullptr;
  }
  return input;
}

// Makes more bytes available behind those not consumed: moves them to the
// front, grows the buffer when they fill it, and reads.  False at the end
// of the file, after a read error, or when the buffer cannot grow (which
// stops the reading).
bool Fill(PropLexer *lexer) {
  PropInput *in = lexer->input;
  if (in->atEnd) return false;
  if (in->start > 0) {
    memmove(in->buffer, in->buffer + in->start, in->end - in->start);
    in->end -= in->start;
    in->start = 0;
  }
  if (in->end == in->capacity) {
    auto *wider = static_cast<char *>(Realloc(in->buffer, in->capacity * 2));
    if (wider == nullptr) {
      PropLexerStop(lexer, ENOMEM, kOutOfMemory);
      return false;
    }
    in->buffer = wider;
    in->capacity *= 2;
  }
  size_t got = 0;
  int rc = platform::FileRead(in->descriptor, in->buffer + in->end,
                              in->capacity - in->end, &got);
  if (rc != 0) {
    in->readError = rc;
    PropLexerStop(lexer, rc, "");
  }
  if (rc != 0 || got == 0) {
    in->atEnd = true;
    return false;
  }
  in->end += got;
  return true;
}

// The byte i places after the first one not consumed, or -1 past the end.
int PeekSlow(PropLexer *lexer, size_t i) {
  for (;;) {
    PropInput *in = lexer->input;
    if (in->start + i < in->end) {
      return static_cast<unsigned char>(in->buffer[in->start + i]);
    }
    if (lexer->stopped || !Fill(lexer)) return -1;
  }
}

inline int Peek(PropLexer *lexer, size_t i) {
  PropInput *in = lexer->input;
  if (in->start + i < in->end) {
    return static_cast<unsigned char>(in->buffer[in->start + i]);
  }
  return PeekSlow(lexer, i);
}

// The first n bytes not consumed; valid until the next Peek past them.
const char *Bytes(PropLexer *lexer) {
  return lexer->input->buffer + lexer->input->start;
}

void Consume(PropLexer *lexer, size_t n) { lexer->input->start += n; }

// Leaves an included file at its end: back to the file that included it.
void PopInput(PropLexer *lexer) {
  PropInput *done = lexer->input;
  lexer->input = done->outer;
  --lexer->depth;
  FreeInput(done);
}

// ---- Token text.

VRC SetText(PropLexer *lexer, const char *bytes, size_t count) {
  lexer->text.length = 0;
  VRC rc = PropTextAppend(&lexer->text, bytes, count);
  if (rc != 0) PropLexerStop(lexer, rc, kOutOfMemory);
  return rc;
}

// Length of the quoted text starting at the quote (closing quote
// included), or 0 when no closing quote follows.  A quote preceded by an
// odd number of backslashes belongs to the text.
size_t QuotedLength(PropLexer *lexer) {
  int quote = Peek(lexer, 0);
  size_t backslashes = 0;
  for (size_t i = 1;; ++i) {
    int c = Peek(lexer, i);
    if (c < 0) return 0;
    if (c == quote && backslashes % 2 == 0) return i + 1;
    backslashes = c == '\\' ? backslashes + 1 : 0;
  }
}

// Bytes of the character at p (at most n bytes), or 0 when they do not
// make a valid character.  In a locale of single-byte characters every
// byte is one.
size_t CharLength(const char *p, size_t n, mbstate_t *state) {
  if (static_cast<unsigned char>(*p) < 0x80 || MB_CUR_MAX == 1) return 1;
  size_t length = mbrlen(p, n, state);
  if (length == static_cast<size_t>(-1) || length == static_cast<size_t>(-2)) {
    return 0;
  }
  return length == 0 ? 1 : length;
}

// The byte a backslash escape stands for, or -1 when the character after
// the backslash is not one of the named escapes.
int NamedEscape(char c) {
  switch (c) {
    case '"':
    case '\'':
    case '\\':
      return c;
    case 'a':
      return 7;
    case 'b':
      return 8;
    case 'e':
      return 27;
    case 'f':
      return 12;
    case 'n':
      return 10;
    case 'r':
      return 13;
    case 't':
      return 9;
    case 'v':
      return 11;
    default:
      return -1;
  }
}

// Replaces the escapes of n bytes of quoted text into out, stepping over
// whole characters so that a backslash byte inside one is not an escape.
// Returns 0, EILSEQ or ENOMEM.
VRC Unescape(const char *p, size_t n, PropText *out) {
  out->length = 0;
  VRC rc = PropTextAppend(out, "", 0);
  bool singleByte = MB_CUR_MAX == 1;
  mbstate_t state{};
  size_t i = 0;
  while (rc == 0 && i < n) {
    // Runs of characters that need no look are copied at once.
    size_t j = i;
    while (j < n && p[j] != '\\' &&
           (singleByte || static_cast<unsigned char>(p[j]) < 0x80)) {
      ++j;
    }
    if (j > i) {
      rc = PropTextAppend(out, p + i, j - i);
      i = j;
      continue;
    }
    if (p[i] != '\\' || i + 1 == n) {
      size_t k = CharLength(p + i, n - i, &state);
      if (k == 0) return EILSEQ;
      rc = PropTextAppend(out, p + i, k);
      i += k;
      continue;
    }
    int named = NamedEscape(p[i + 1]);
    if (named >= 0) {
      char c = static_cast<char>(named);
      rc = PropTextAppend(out, &c, 1);
      i += 2;
    } else if (i + 3 < n && IsOctalDigit(p[i + 1]) && IsOctalDigit(p[i + 2]) &&
               IsOctalDigit(p[i + 3])) {
      char c = static_cast<char>(((p[i + 1] - '0') << 6) |
                                 ((p[i + 2] - '0') << 3) | (p[i + 3] - '0'));
      rc = PropTextAppend(out, &c, 1);
      i += 4;
    } else {
      ++i;  // the backslash goes; the character after it stays
    }
  }
  return rc;
}

// ---- Include statements.

void StopAt(PropLexer *lexer, VRC code, const char *text, size_t length) {
  char cut[VPROP_ERROR_TEXT_SIZE];
  if (length >= sizeof cut) length = sizeof cut - 1;
  memcpy(cut, text, length);
  cut[length] = '\0';
  PropLexerStop(lexer, code, cut);
}

// What follows "include" when it is not a quoted name: a newline, or the
// run of characters up to the next blank, line end or quote.
void BadIncludeName(PropLexer *lexer) {
  if (Peek(lexer, 0) == '\n') {
    StopAt(lexer, VRC_PARSE_FAILURE, "\n", 1);
    return;
  }
  size_t n = 0;
  for (int c = Peek(lexer, 0);
       c >= 0 && !IsBlank(c) && c != '\n' && c != '"' && c != '\'' && n < 64;
       c = Peek(lexer, ++n)) {
  }
  if (n == 0) {
    // An unterminated quote: the text from it to the end of its line.
    for (int c = Peek(lexer, 0); c >= 0 && c != '\n' && n < 64;
         c = Peek(lexer, ++n)) {
    }
  }
  StopAt(lexer, VRC_PARSE_FAILURE, Bytes(lexer), n);
}

// Opens the named file and makes it the one being read.
void EnterInclude(PropLexer *lexer, const char *path) {
  int descriptor = platform::kNoFile;
  if (platform::FileOpen(path, platform::kFileRead, 0, &descriptor) != 0) {
    PropLexerStop(lexer, ENOENT, kIncludeOpenFailed);
    lexer->errorFile = Strdup(path);
    return;
  }
  PropInput *input = NewInput(descriptor, path);
  if (input == nullptr) {
    PropLexerStop(lexer, ENOMEM, kOutOfMemory);
    return;
  }
  input->outer = lexer->input;
  lexer->input = input;
  ++lexer->depth;
}

// The file name between the quotes of an include statement, environment
// references expanded (escapes are not replaced: backslashes stay).
void IncludeQuoted(PropLexer *lexer, size_t length) {
  if (lexer->depth == kMaxIncludeDepth) {
    PropLexerStop(lexer, VRC_PROP_INCLUDE_DEPTH, "");
    return;
  }
  if (SetText(lexer, Bytes(lexer), length) != 0) return;
  int32_t line = lexer->input->line;
  Consume(lexer, length);
  if (lexer->depth == 0 &&
      AppendInclude(lexer->manager, lexer->text.data, line) != 0) {
    PropLexerStop(lexer, ENOMEM, kOutOfMemory);
    return;
  }
  lexer->text.data[length - 1] = '\0';
  char *path = nullptr;
  if (VEnvExpandString(lexer->text.data + 1, &path) != 0) {
    PropLexerStop(lexer, ENOMEM, kOutOfMemory);
    return;
  }
  EnterInclude(lexer, path);
  Free(path);
}

// After the keyword: blanks, then a quoted file name.
void Include(PropLexer *lexer) {
  size_t n = 0;
  while (IsBlank(Peek(lexer, n))) ++n;
  Consume(lexer, n);
  int c = Peek(lexer, 0);
  size_t length = (c == '"' || c == '\'') ? QuotedLength(lexer) : 0;
  if (lexer->stopped) return;
  if (length == 0) {
    BadIncludeName(lexer);
    return;
  }
  // A NUL byte would cut the name: another file would be opened than the
  // one written, and the include record could not hold what was written.
  if (memchr(Bytes(lexer), '\0', length) != nullptr) {
    StopAt(lexer, VRC_PARSE_FAILURE, Bytes(lexer), length);
    return;
  }
  IncludeQuoted(lexer, length);
}

// ---- Tokens.

struct Keyword {
  const char *text;
  size_t length;
  int value;  // boolean value, or -1 for include
};

constexpr Keyword kKeywords[] = {
    {"TRUE", 4, 1}, {"YES", 3, 1}, {"ON", 2, 1},       {"FALSE", 5, 0},
    {"NO", 2, 0},   {"OFF", 3, 0}, {"INCLUDE", 7, -1},
};

const Keyword *KeywordOf(const char *text, size_t length) {
  for (const Keyword &k : kKeywords) {
    if (k.length == length && strncasecmp(text, k.text, length) == 0) return &k;
  }
  return nullptr;
}

// A NAME, a boolean keyword, or an include statement (kEnd when it was
// handled, which the caller takes as "read on").
PropToken Word(PropLexer *lexer, bool *handled) {
  size_t n = 1;
  while (IsNameChar(Peek(lexer, n))) ++n;
  *handled = false;
  const Keyword *keyword = n <= 7 ? KeywordOf(Bytes(lexer), n) : nullptr;
  if (keyword != nullptr && keyword->value >= 0) {
    Consume(lexer, n);
    lexer->boolean = keyword->value;
    return PropToken::kBoolean;
  }
  if (keyword != nullptr) {
    Consume(lexer, n);
    Include(lexer);
    *handled = true;
    return PropToken::kEnd;
  }
  if (SetText(lexer, Bytes(lexer), n) != 0) return PropToken::kEnd;
  Consume(lexer, n);
  return PropToken::kName;
}

size_t DigitsFrom(PropLexer *lexer, size_t i) {
  size_t n = 0;
  while (IsDigit(Peek(lexer, i + n))) ++n;
  return n;
}

// Integer, real or binary data, starting at a digit or a '-' before one.
PropToken Number(PropLexer *lexer) {
  size_t sign = Peek(lexer, 0) == '-' ? 1 : 0;
  size_t n = sign + DigitsFrom(lexer, sign);
  PropToken token = PropToken::kInteger;
  if (Peek(lexer, n) == '.') {
    size_t fraction = DigitsFrom(lexer, n + 1);
    if (fraction > 0) {
      n += 1 + fraction;
      token = PropToken::kReal;
    }
  }
  int x = Peek(lexer, 1);
  if (sign == 0 && Peek(lexer, 0) == '0' && (x == 'x' || x == 'X')) {
    size_t pairs = 0;
    while (IsHexDigit(Peek(lexer, 2 + 2 * pairs)) &&
           IsHexDigit(Peek(lexer, 3 + 2 * pairs))) {
      ++pairs;
    }
    if (pairs > 0 && 2 + 2 * pairs > n) {
      n = 2 + 2 * pairs;
      token = PropToken::kBinary;
    }
  }
  if (SetText(lexer, Bytes(lexer), n) != 0) return PropToken::kEnd;
  Consume(lexer, n);
  return token;
}

PropToken Quoted(PropLexer *lexer) {
  size_t length = QuotedLength(lexer);
  if (lexer->stopped) return PropToken::kEnd;
  if (length == 0) {
    Consume(lexer, 1);  // an unterminated quote is a character
    return PropToken::kChar;
  }
  VRC rc = Unescape(Bytes(lexer) + 1, length - 2, &lexer->text);
  if (rc != 0) {
    PropLexerStop(lexer, rc, rc == ENOMEM ? kOutOfMemory : "");
    return PropToken::kEnd;
  }
  Consume(lexer, length);
  return PropToken::kString;
}

PropToken Single(PropLexer *lexer, int c) {
  Consume(lexer, 1);
  char ch = static_cast<char>(c);
  if (SetText(lexer, &ch, 1) != 0) return PropToken::kEnd;
  return c == ':' ? PropToken::kColon : PropToken::kChar;
}

// A comment runs to the line end, which stays for the line count.  One
// that the file ends without a line end is no comment: its '#' is a
// character.
bool SkipComment(PropLexer *lexer) {
  size_t n = 1;
  for (;;) {
    int c = Peek(lexer, n);
    if (c == '\n') break;
    if (c < 0) return false;
    ++n;
    // Long comments are dropped as they are read, so the buffer never has
    // to hold one whole; what stays in front is a comment byte.
    if (n >= kInputBufferSize / 2) {
      Consume(lexer, n - 1);
      n = 1;
    }
  }
  Consume(lexer, n);
  return true;
}

// The end of a file: an included one returns to its includer.
PropToken EndOfInput(PropLexer *lexer, bool *again) {
  *again = false;
  PropInput *in = lexer->input;
  if (lexer->stopped) return PropToken::kEnd;
  if (in->readError != 0) {
    PropLexerStop(lexer, in->readError, "");
    return PropToken::kEnd;
  }
  if (lexer->depth == 0) return PropToken::kEnd;
  PopInput(lexer);
  *again = true;
  return PropToken::kEnd;
}

PropToken Scan(PropLexer *lexer) {
  for (;;) {
    if (lexer->stopped) return PropToken::kEnd;
    int c = Peek(lexer, 0);
    if (c < 0) {
      bool again = false;
      PropToken token = EndOfInput(lexer, &again);
      if (again) continue;
      return token;
    }
    if (IsBlank(c)) {
      Consume(lexer, 1);
    } else if (c == '\n') {
      Consume(lexer, 1);
      ++lexer->input->line;
    } else if (c == '#') {
      if (!SkipComment(lexer)) return Single(lexer, c);
    } else if (IsLetter(c)) {
      bool handled = false;
      PropToken token = Word(lexer, &handled);
      if (!handled) return token;
    } else if (IsDigit(c) || (c == '-' && IsDigit(Peek(lexer, 1)))) {
      return Number(lexer);
    } else if (c == '~' && IsDigit(Peek(lexer, 1))) {
      size_t n = 1 + DigitsFrom(lexer, 1);
      if (SetText(lexer, Bytes(lexer), n) != 0) return PropToken::kEnd;
      Consume(lexer, n);
      return PropToken::kUtc;
    } else if (c == '"' || c == '\'') {
      return Quoted(lexer);
    } else {
      return Single(lexer, c);
    }
  }
}

}  // namespace

VRC PropTextAppend(PropText *text, const char *bytes, size_t count) {
  if (text->length + count + 1 > text->capacity) {
    size_t capacity = text->capacity != 0 ? text->capacity : kFirstTextCapacity;
    while (capacity < text->length + count + 1) capacity *= 2;
    auto *wider = static_cast<char *>(Realloc(text->data, capacity));
    if (wider == nullptr) return ENOMEM;
    text->data = wider;
    text->capacity = capacity;
  }
  memcpy(text->data + text->length, bytes, count);
  text->length += count;
  text->data[text->length] = '\0';
  return 0;
}

VRC PropLexerOpen(PropLexer *lexer, VPropMgr manager, const char *path) {
  memset(lexer, 0, sizeof *lexer);
  lexer->manager = manager;
  if (PropTextAppend(&lexer->text, "", 0) != 0) return ENOMEM;
  auto *input = static_cast<PropInput *>(Calloc(1, sizeof(PropInput)));
  if (input != nullptr) {
    input->descriptor = platform::kNoFile;
    input->line = 1;
    input->capacity = kInputBufferSize;
    input->name = Strdup(path);
    input->buffer = static_cast<char *>(Malloc(kInputBufferSize));
  }
  if (input == nullptr || input->name == nullptr || input->buffer == nullptr) {
    FreeInput(input);
    Free(lexer->text.data);
    return ENOMEM;
  }
  int rc = platform::FileOpen(path, platform::kFileRead, 0, &input->descriptor);
  if (rc != 0) {
    FreeInput(input);
    Free(lexer->text.data);
    return rc;
  }
  lexer->input = input;
  return 0;
}

PropToken PropLexerNext(PropLexer *lexer) {
  // A token cut short by a failed read or allocation is not handed on.
  PropToken token = Scan(lexer);
  return lexer->stopped ? PropToken::kEnd : token;
}

void PropLexerStop(PropLexer *lexer, VRC code, const char *text) {
  if (lexer->stopped) return;
  lexer->stopped = true;
  lexer->code = code;
  // Cut by hand: gcc's truncation warning (an error with -Werror in the
  // sanitizer build) cannot tell that cutting is intended here.
  size_t length = 0;
  while (length < sizeof lexer->errorText - 1 && text[length] != '\0') {
    ++length;
  }
  memset(lexer->errorText, 0, sizeof lexer->errorText);
  memcpy(lexer->errorText, text, length);
}

void PropLexerClose(PropLexer *lexer) {
  while (lexer->input != nullptr) {
    PropInput *outer = lexer->input->outer;
    FreeInput(lexer->input);
    lexer->input = outer;
  }
  Free(lexer->text.data);
  lexer->text = PropText{};
  Free(lexer->errorFile);
  lexer->errorFile = nullptr;
}

}  // namespace vantrel::internal
