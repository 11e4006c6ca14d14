// The grammar of properties files, and applying each entry as soon as it
// is complete:
//   file:  entry*
//   entry: NAME ':' value
//   value: INTEGER | BOOLEAN | STRING | REAL | UTC | BINARY
#include <errno.h>
#include <math.h>
#include <string.h>

#include "config/prop_internal.h"
#include "config/prop_lexer.h"
#include "internal/alloc.h"
#include "vantrel/vstring.h"

namespace vi = vantrel::internal;

namespace vantrel::internal {
namespace {

constexpr char kSyntaxError[] = "syntax error";

struct Parser {
  PropLexer lexer;
  PropText name;  // the NAME of the entry being read
};

bool IsValue(PropToken token) {
  switch (token) {
    case PropToken::kInteger:
    case PropToken::kReal:
    case PropToken::kBoolean:
    case PropToken::kString:
    case PropToken::kBinary:
    case PropToken::kUtc:
      return true;
    default:
      return false;
  }
}

// The typed value of a value token.  A real or a time that does not fit
// its type gives ERANGE; binary data needs memory (the caller frees it).
VRC ValueOf(PropLexer *lexer, PropToken token, VTypedValue *out) {
  const char *text = lexer->text.data;
  *out = VTypedValue{};
  switch (token) {
    case PropToken::kInteger:
      out->type = VDT_INTEGER64;
      return VStringToInteger64(text, &out->value.integer64Value);
    case PropToken::kReal:
      out->type = VDT_REAL;
      VStringToReal(text, &out->value.realValue);
      // Underflow to a tiny or zero value is accepted; what the writer
      // could not write back is not.
      return isfinite(out->value.realValue) ? 0 : ERANGE;
    case PropToken::kBoolean:
      out->type = VDT_BOOLEAN;
      out->value.booleanValue = lexer->boolean;
      return 0;
    case PropToken::kString:
      out->type = VDT_STRING;
      out->value.stringValue.text = lexer->text.data;
      out->value.stringValue.length = static_cast<uint32_t>(strlen(text));
      return 0;
    case PropToken::kUtc: {
      out->type = VDT_UTC;
      time_t seconds = 0;
      VStringToUTC(text, &seconds);
      if (seconds < INT32_MIN || seconds > INT32_MAX) return ERANGE;
      out->value.utcValue = static_cast<int32_t>(seconds);
      return 0;
    }
    default: {
      out->type = VDT_BINARY;
      VBinary binary{};
      VRC rc = VStringToBinary(text + 2, &binary);
      out->value.binaryValue.length = binary.length;
      out->value.binaryValue.data = binary.data;
      return rc;
    }
  }
}

// Sets the property and marks it as set from this file.
VRC Apply(Parser *parser, PropToken token) {
  PropLexer *lexer = &parser->lexer;
  VTypedValue value{};
  VRC rc = ValueOf(lexer, token, &value);
  VProperty property = nullptr;
  if (rc == 0) {
    rc = SetValueByName(lexer->manager, parser->name.data, &value, true,
                        &property);
  }
  if (value.type == VDT_BINARY) Free(value.value.binaryValue.data);
  if (rc == 0) MarkSetByFile(property, lexer->input->line, lexer->depth == 0);
  return rc;
}

void SyntaxError(Parser *parser) {
  PropLexerStop(&parser->lexer, 0, kSyntaxError);
}

// One entry; false when the reading ends here.
bool Entry(Parser *parser) {
  PropLexer *lexer = &parser->lexer;
  PropToken token = PropLexerNext(lexer);
  if (token == PropToken::kEnd) return false;
  if (token != PropToken::kName) {
    SyntaxError(parser);
    return false;
  }
  parser->name.length = 0;
  if (PropTextAppend(&parser->name, lexer->text.data, lexer->text.length) !=
      0) {
    PropLexerStop(lexer, ENOMEM, "Out of memory");
    return false;
  }
  if (PropLexerNext(lexer) == PropToken::kColon) token = PropLexerNext(lexer);
  if (!IsValue(token)) {
    if (!lexer->stopped) SyntaxError(parser);
    return false;
  }
  VRC rc = Apply(parser, token);
  if (rc != 0) {
    PropLexerStop(lexer, rc, parser->name.data);
    return false;
  }
  return true;
}

void FillRecord(const Parser &parser, VPropParseError *error) {
  const PropLexer &lexer = parser.lexer;
  const char *file =
      lexer.errorFile != nullptr ? lexer.errorFile : lexer.input->name;
  error->file = Strdup(file);
  error->line = lexer.input->line;
  memcpy(error->text, lexer.errorText, sizeof error->text);
  error->code = lexer.code;
}

}  // namespace
}  // namespace vantrel::internal

VRC VPropMgrParseFile(VPropMgr manager, const char *path,
                      VPropParseError *error) {
  if (manager == nullptr || path == nullptr) return EINVAL;
  vi::Parser parser{};
  VRC rc = vi::PropLexerOpen(&parser.lexer, manager, path);
  if (rc != 0) return rc;
  while (vi::Entry(&parser)) {
  }
  vi::PropLexer &lexer = parser.lexer;
  // Any early stop fills the record, also one that leaves the code at 0
  // (a syntax error, an include statement short of memory).
  if (error != nullptr && (lexer.stopped || lexer.code != 0)) {
    vi::FillRecord(parser, error);
  }
  rc = lexer.code;
  vi::PropLexerClose(&lexer);
  vi::Free(parser.name.data);
  return rc;
}
