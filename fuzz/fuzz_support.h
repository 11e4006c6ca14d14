// Helpers shared by the fuzz targets: a reader that turns the fuzzer's
// bytes into typed choices, a check that aborts (so that libFuzzer and the
// corpus replay both report it), and the allocation-failure hook armed at
// an input-chosen point.
#ifndef VANTREL_FUZZ_SUPPORT_H
#define VANTREL_FUZZ_SUPPORT_H

#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "internal/alloc.h"
#include "platform/oscall.h"

#define FUZZ_CHECK(condition)                                          \
  do {                                                                 \
    if (!(condition)) {                                                \
      fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, \
              #condition);                                             \
      abort();                                                         \
    }                                                                  \
  } while (0)

namespace vfuzz {

// Reads from the front of the input; past its end every read gives zeros,
// so any input is a complete program of choices.
class Input {
 public:
  Input(const uint8_t *data, size_t size) : data_(data), size_(size) {}

  bool empty() const { return size_ == 0; }
  size_t left() const { return size_; }

  uint8_t Byte() {
    if (size_ == 0) return 0;
    --size_;
    return *data_++;
  }

  // Little-endian, as many bytes as T holds.
  template <typename T>
  T Take() {
    uint64_t bits = 0;
    for (size_t i = 0; i < sizeof(T) && i < 8; ++i) {
      bits |= uint64_t{Byte()} << (8 * i);
    }
    T value;
    memcpy(&value, &bits, sizeof value < 8 ? sizeof value : 8);
    return value;
  }

  // A value in [0, n); 0 when n is 0.
  uint32_t Below(uint32_t n) {
    if (n == 0) return 0;
    uint32_t v = n <= 256 ? Byte() : Take<uint32_t>();
    return v % n;
  }

  bool Bool() { return Byte() & 1; }

  // Up to `max` bytes, the count given by the next byte; NUL bytes kept.
  std::string Bytes(size_t max) {
    size_t n = Byte();
    if (n > max) n = max;
    if (n > size_) n = size_;
    std::string out(reinterpret_cast<const char *>(data_), n);
    data_ += n;
    size_ -= n;
    return out;
  }

  // As Bytes, cut at the first NUL: a C text.
  std::string Text(size_t max) {
    std::string out = Bytes(max);
    return out.substr(0, strlen(out.c_str()));
  }

  // Everything left, cut at the first NUL.
  std::string Rest() {
    std::string out(reinterpret_cast<const char *>(data_), size_);
    data_ += size_;
    size_ = 0;
    return out.substr(0, strlen(out.c_str()));
  }

 private:
  const uint8_t *data_;
  size_t size_;
};

// Arms the allocation-failure hook from one input byte: 0 leaves it
// disarmed; otherwise the low 5 bits choose the failing attempt (1 to 31)
// and bit 5 whether every later attempt fails too.
class AllocFault {
 public:
  explicit AllocFault(uint8_t choice)
      : nth_(choice & 0x1f), repeat_((choice & 0x20) != 0) {}
  void Arm() {
    if (nth_ != 0) vantrel::internal::AllocFailArm(nth_, repeat_);
    armed_ = nth_ != 0;
  }
  // Whether a failure was injected since Arm.
  bool Disarm() {
    bool fired = armed_ && vantrel::internal::AllocFailDisarm();
    armed_ = false;
    return fired;
  }

 private:
  uint64_t nth_;
  bool repeat_;
  bool armed_ = false;
};

// Serves the library's open, read and close from the given functions (a
// file in memory); returns the close they replaced, for the descriptors
// that are not theirs.
template <typename Open, typename Read, typename Close>
int (*ServeFiles(Open open, Read read, Close close))(int) {
  namespace vp = vantrel::platform;
  vp::OsFunction previous = nullptr;
  vp::OsCallReplace("open", reinterpret_cast<vp::OsFunction>(open), &previous);
  vp::OsCallReplace("read", reinterpret_cast<vp::OsFunction>(read), &previous);
  vp::OsCallReplace("close", reinterpret_cast<vp::OsFunction>(close),
                    &previous);
  return reinterpret_cast<int (*)(int)>(previous);
}

}  // namespace vfuzz

#endif  // VANTREL_FUZZ_SUPPORT_H
