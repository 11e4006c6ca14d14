// The tokenizer of properties files.  It reads the top-level file and the
// files its include statements name (through the platform's file calls),
// and hands the grammar one stream of tokens: include statements are
// handled here and never reach the grammar.
#ifndef VANTREL_CONFIG_PROP_LEXER_H
#define VANTREL_CONFIG_PROP_LEXER_H

#include <stddef.h>
#include <stdint.h>

#include "vantrel/vprop.h"

namespace vantrel::internal {

enum class PropToken {
  kEnd,   // end of the input, or reading stopped (see PropLexer::stopped)
  kName,  // text: the name
  kColon,
  kInteger,  // text: the digits, with their sign
  kReal,     // text: the number
  kBoolean,  // boolean: the value
  kString,   // text: the text between the quotes, escapes replaced
  kBinary,   // text: the token, "0x" included
  kUtc,      // text: the token, '~' included
  kChar,     // any other single character
};

// Input files nested inside one another at most.
inline constexpr int kMaxIncludeDepth = 10;
// Buffer of each file; grows for a token longer than it.
inline constexpr size_t kInputBufferSize = 16384;

// A growable text; data is terminated whenever it is not null.
struct PropText {
  char *data;
  size_t length;
  size_t capacity;
};

// One open file.
struct PropInput {
  int descriptor;
  char *name;  // the path it was opened with
  char *buffer;
  size_t capacity;
  size_t start;  // first byte not consumed
  size_t end;    // end of the bytes read
  bool atEnd;
  int readError;
  int32_t line;
  PropInput *outer;  // the file whose include statement opened this one
};

struct PropLexer {
  VPropMgr manager;
  PropInput *input;  // the file being read; its outer chain is the stack
  int depth;         // include files open
  PropText text;     // the current token's text
  int32_t boolean;
  // Set when reading stops: the code (which may stay 0), the record's text
  // and, for an include file that could not be opened, its name.
  bool stopped;
  VRC code;
  char errorText[VPROP_ERROR_TEXT_SIZE];
  char *errorFile;
};

// Opens path as the top-level file of a new lexer.  Returns 0; ENOMEM
// (12) when its state cannot be allocated; the system's error number when
// the file cannot be opened.  Nothing is left allocated on failure.
VRC PropLexerOpen(PropLexer *lexer, VPropMgr manager, const char *path);

// The next token.  kEnd at the end of the top-level file, and whenever
// reading has stopped.
PropToken PropLexerNext(PropLexer *lexer);

// Stops the reading with a code and a record text (cut to fit).
void PropLexerStop(PropLexer *lexer, VRC code, const char *text);

// Closes every file still open and releases the lexer's state; the stop
// information stays readable (errorFile is released too).
void PropLexerClose(PropLexer *lexer);

// Appends bytes to a text, keeping it terminated.  0 or ENOMEM.
VRC PropTextAppend(PropText *text, const char *bytes, size_t count);

}  // namespace vantrel::internal

#endif  // VANTREL_CONFIG_PROP_LEXER_H
