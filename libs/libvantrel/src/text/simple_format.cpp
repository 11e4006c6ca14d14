#include "text/simple_format.h"

#include <stdint.h>
#include <string.h>

#include <type_traits>

namespace vantrel::internal {
namespace {

enum class Width { kInt, kLong, kLongLong, kSize };

uintmax_t UnsignedArgument(Width width, va_list *args) {
  switch (width) {
    case Width::kLong:
      return va_arg(*args, unsigned long);
    case Width::kLongLong:
      return va_arg(*args, unsigned long long);
    case Width::kSize:
      return va_arg(*args, size_t);
    default:
      return va_arg(*args, unsigned int);
  }
}

intmax_t SignedArgument(Width width, va_list *args) {
  switch (width) {
    case Width::kLong:
      return va_arg(*args, long);
    case Width::kLongLong:
      return va_arg(*args, long long);
    case Width::kSize:
      return va_arg(*args, std::make_signed_t<size_t>);
    default:
      return va_arg(*args, int);
  }
}

// Digits of `value` in `base` (10 or 16, lower case), written backwards
// from `end`; returns the first digit.
char *Digits(uintmax_t value, unsigned base, char *end) {
  do {
    *--end = "0123456789abcdef"[value % base];
    value /= base;
  } while (value != 0);
  return end;
}

class Output {
 public:
  Output(char *out, size_t size) : p_(out), left_(size) {}
  bool Put(const char *bytes, size_t count) {
    if (count >= left_) return false;  // the terminator needs room too
    memcpy(p_, bytes, count);
    p_ += count;
    left_ -= count;
    return true;
  }
  char *End() {
    *p_ = '\0';
    return p_;
  }

 private:
  char *p_;
  size_t left_;
};

// Formats from `args` as FormatSimple describes; false when it cannot.
bool Format(Output *output, const char *format, va_list *args) {
  const char *p = format;
  for (;;) {
    const char *percent = strchrnul(p, '%');
    if (!output->Put(p, size_t(percent - p))) return false;
    if (*percent == '\0') return true;
    p = percent + 1;
    Width width = Width::kInt;
    if (*p == 'l') {
      ++p;
      width = Width::kLong;
      if (*p == 'l') {
        ++p;
        width = Width::kLongLong;
      }
    } else if (*p == 'z') {
      ++p;
      width = Width::kSize;
    }
    char digits[3 * sizeof(uintmax_t) + 1];
    char *end = digits + sizeof digits;
    const char *text;
    size_t length;
    char c = *p++;
    switch (c) {
      case '%':
      case 'c':
        if (width != Width::kInt) return false;
        digits[0] = c == '%' ? '%' : static_cast<char>(va_arg(*args, int));
        text = digits;
        length = 1;
        break;
      case 'd':
      case 'i': {
        intmax_t value = SignedArgument(width, args);
        uintmax_t magnitude =
            value < 0 ? 0 - static_cast<uintmax_t>(value) : uintmax_t(value);
        char *first = Digits(magnitude, 10, end);
        if (value < 0) *--first = '-';
        text = first;
        length = size_t(end - first);
        break;
      }
      case 'u':
      case 'x':
        text = Digits(UnsignedArgument(width, args), c == 'u' ? 10 : 16, end);
        length = size_t(end - text);
        break;
      case 's':
        if (width != Width::kInt) return false;
        text = va_arg(*args, const char *);
        if (text == nullptr) return false;
        length = strlen(text);
        break;
      default:
        return false;
    }
    if (!output->Put(text, length)) return false;
  }
}

}  // namespace

int FormatSimple(char *out, size_t size, const char *format, va_list args) {
  if (size == 0) return -1;
  Output output(out, size);
  // Helpers take the list by pointer, which is portable only for a copy.
  va_list copy;
  va_copy(copy, args);
  bool done = Format(&output, format, &copy);
  va_end(copy);
  if (!done) return -1;
  size_t length = size_t(output.End() - out);
  return length <= size_t(INT32_MAX) ? static_cast<int>(length) : -1;
}

}  // namespace vantrel::internal
