// Environment variables: lookup, setting, and expansion of references.
#include <errno.h>
#include <stdlib.h>
#include <string.h>
#include <wchar.h>
#include <wctype.h>

#include <array>

#include "internal/alloc.h"
#include "internal/scope.h"
#include "vantrel/venv.h"
#include "vantrel/vstrbuf.h"

namespace vantrel::internal {
namespace {

// Names shorter than this are looked up from a stack copy; longer ones are
// copied to the heap, so a name of any length works.
constexpr size_t kScratchName = 128;

// Bytes that stand for themselves and play no part in a reference: ASCII
// other than "\\", "$", "%" and the terminator.
constexpr std::array<bool, 256> kPlain = [] {
  std::array<bool, 256> table{};
  for (int c = 1; c < 0x80; ++c) table[c] = c != '\\' && c != '$' && c != '%';
  return table;
}();

// Steps through a text character by character in the current locale.
// ASCII bytes stand for themselves in every locale the C runtime offers,
// and all the syntax characters are ASCII, so only other bytes need
// decoding.  A byte that does not start a complete, valid character counts
// as one character of its own that matches nothing.
class CharReader {
 public:
  CharReader(const char *text, const char *end) : pos_(text), end_(end) {}

  const char *pos() const { return pos_; }
  bool AtEnd() const { return pos_ >= end_; }

  // The character at pos(), or WEOF for an undecodable byte.  Only valid
  // when not AtEnd().
  wint_t Peek() {
    if (width_ == 0) Decode();
    return char_;
  }

  // Moves past a run of plain bytes.
  void SkipPlain() {
    const char *p = pos_;
    while (p < end_ && kPlain[static_cast<unsigned char>(*p)]) ++p;
    if (p != pos_) {
      pos_ = p;
      width_ = 0;
    }
  }

  // Moves past the character at pos().
  void Advance() {
    if (width_ == 0) Decode();
    pos_ += width_;
    state_ = next_state_;
    width_ = 0;
  }

 private:
  void Decode() {
    unsigned char c = static_cast<unsigned char>(*pos_);
    next_state_ = state_;
    width_ = 1;
    char_ = c;
    if (c < 0x80) return;
    wchar_t wc;
    size_t n =
        mbrtowc(&wc, pos_, static_cast<size_t>(end_ - pos_), &next_state_);
    if (n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) ||
        n == 0) {
      // The byte stands alone and decoding starts afresh after it.
      memset(&next_state_, 0, sizeof next_state_);
      char_ = WEOF;
      return;
    }
    width_ = n;
    char_ = static_cast<wint_t>(wc);
  }

  const char *pos_;
  const char *end_;
  mbstate_t state_{};
  mbstate_t next_state_{};
  size_t width_ = 0;  // 0 while the character at pos_ is not decoded
  wint_t char_ = 0;
};

bool IsNameChar(wint_t wc) {
  if (wc == WEOF) return false;
  if (wc < 0x80) {
    return (wc >= 'a' && wc <= 'z') || (wc >= 'A' && wc <= 'Z') ||
           (wc >= '0' && wc <= '9') || wc == '_';
  }
  return iswalnum(wc);
}

VRC AppendBytes(vb_buffer *out, const char *from, const char *to) {
  return from == to ? 0 : vb_append(out, from, static_cast<size_t>(to - from));
}

// Appends the value of the variable named by [name, name + length): nothing
// when the name is empty or the variable is not set.
VRC AppendValue(vb_buffer *out, const char *name, size_t length) {
  if (length == 0) return 0;
  char scratch[kScratchName];
  bool small = length < kScratchName;
  char *copy = small ? scratch : Strndup(name, length);
  if (copy == nullptr) return ENOMEM;
  HeapPtr<char> heap(small ? nullptr : copy);
  if (small) {
    memcpy(scratch, name, length);
    scratch[length] = '\0';
  }
  const char *value = getenv(copy);
  return value == nullptr ? 0 : vb_strcat(out, value);
}

// Reads the name of a reference whose introducer has been consumed and
// moves the reader past the reference.  `closer` ends the name and belongs
// to the reference; with closer 0 the name is the run of name characters,
// and a "}" or "%" right behind it belongs to the reference.
void ReadName(CharReader &in, wint_t closer, const char **name,
              size_t *length) {
  *name = in.pos();
  while (!in.AtEnd()) {
    wint_t wc = in.Peek();
    if (closer != 0 ? wc == closer : !IsNameChar(wc)) break;
    in.Advance();
  }
  *length = static_cast<size_t>(in.pos() - *name);
  if (in.AtEnd()) return;
  wint_t wc = in.Peek();
  if (closer != 0 || wc == L'}' || wc == L'%') in.Advance();
}

// Expands the reference starting at the reader's "$" or "%".
VRC ExpandReference(CharReader &in, vb_buffer *out) {
  wint_t introducer = in.Peek();
  in.Advance();
  wint_t closer = L'%';
  if (introducer == L'$') {
    closer = 0;
    if (!in.AtEnd() && in.Peek() == L'{') {
      in.Advance();
      closer = L'}';
    }
  }
  const char *name;
  size_t length;
  ReadName(in, closer, &name, &length);
  return AppendValue(out, name, length);
}

VRC Expand(const char *text, vb_buffer *out) {
  const char *end = text + strlen(text);
  CharReader in(text, end);
  const char *literal = text;  // start of the bytes still to be copied
  while (!in.AtEnd()) {
    wint_t wc = in.Peek();
    if (wc == L'\\') {
      in.Advance();
      if (!in.AtEnd()) in.Advance();
      continue;
    }
    if (wc != L'$' && wc != L'%') {
      in.Advance();
      in.SkipPlain();
      continue;
    }
    VRC rc = AppendBytes(out, literal, in.pos());
    if (rc == 0) rc = ExpandReference(in, out);
    if (rc != 0) return rc;
    literal = in.pos();
  }
  return AppendBytes(out, literal, end);
}

}  // namespace

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

const char *VEnvGet(const char *name) {
  return name != nullptr ? getenv(name) : nullptr;
}

const char *VEnvGetWithDefault(const char *name, const char *default_value) {
  const char *value = VEnvGet(name);
  return value != nullptr ? value : default_value;
}

int VEnvIsSet(const char *name) { return VEnvGet(name) != nullptr; }

VRC VEnvSet(const char *name, const char *value) {
  if (name == nullptr || value == nullptr) return EINVAL;
  size_t name_length = strlen(name);
  size_t value_length = strlen(value);
  auto *entry = static_cast<char *>(vi::Malloc(name_length + value_length + 2));
  if (entry == nullptr) return ENOMEM;
  memcpy(entry, name, name_length);
  entry[name_length] = '=';
  memcpy(entry + name_length + 1, value, value_length + 1);
  if (putenv(entry) != 0) {
    // Refused, so the environment does not hold it.
    VRC rc = errno;
    vi::Free(entry);
    return rc;
  }
  return 0;
}

VRC VEnvExpandString(const char *text, char **result) {
  if (text == nullptr || result == nullptr) return EINVAL;
  vb_buffer out;
  vb_init_with(&out, vi::Malloc, vi::Free);
  vi::ScopeExit release([&] { vb_free(&out); });
  VRC rc = vi::Expand(text, &out);
  if (rc != 0) return rc;
  char *expanded = vb_strval(&out);
  if (expanded == nullptr) return ENOMEM;
  release.Dismiss();
  *result = expanded;
  return 0;
}
