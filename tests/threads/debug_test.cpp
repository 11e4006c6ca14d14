// Thread exception records.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <memory>
#include <string>

#include "support/alloc_sweep.h"
#include "threads/thr.h"
#include "vantrel/vexcept.h"

namespace {

constexpr char kAnonymous[] = "'(null)' exception occured:\n";

VTypedValue Text(const char *text) {
  VTypedValue v{VDT_STRING, {}};
  v.value.stringValue.text = const_cast<char *>(text);
  v.value.stringValue.length = static_cast<uint32_t>(strlen(text));
  return v;
}

// The reserved slots are never read, so an invalid pointer is harmless.
const auto *const kBogus = reinterpret_cast<const VTypedValue *>(8);

void Add(VThread t, const char *text, const VTypedValue *arg = nullptr) {
  VThreadExceptionAdd(t, nullptr, 3, 99, text, arg, kBogus, kBogus, kBogus);
}

void Raise(VThread t, const char *name, const char *text,
           const VTypedValue *arg = nullptr) {
  VThreadExceptionRaise(t, name, nullptr, 3, 5, text, arg, kBogus, kBogus,
                        kBogus);
}

std::string ToBuffer(VThread t) {
  char *text = nullptr;
  VThreadExceptionToBuffer(t, &text);
  std::string result = text != nullptr ? text : "<null>";
  free(text);
  return result;
}

// Through a stream of its own, so that writing to any other shows.
std::string Printed(VThread t) {
  char *data = nullptr;
  size_t size = 0;
  FILE *stream = open_memstream(&data, &size);
  VThreadExceptionPrint(t, stream);
  fclose(stream);
  std::string result(data, size);
  free(data);
  return result;
}

// A zero-filled record, as the thread table makes one.
class VThreadExceptionTest : public testing::Test {
 protected:
  std::unique_ptr<VThreadData> rec_ = std::make_unique<VThreadData>();
  VThread t = rec_.get();
};

// Raising and adding work on the record alone; a null thread holds no chain.
TEST_F(VThreadExceptionTest, RaiseStartsANewChainWithoutAllocating) {
  vtest::AllocCounter raising;
  VTypedValue word = Text("-bogus"), flag{VDT_BOOLEAN, {.booleanValue = 1}};
  Add(t, "first", &word);
  EXPECT_EQ(VThreadExceptionRaised(t), 1);
  static const char kName[] = "ModuleLoad";
  VTypedValue path = Text("/opt/mods/ipv4_r.so");
  Raise(t, kName, "LoadLibrary() failed", &path);
  EXPECT_EQ(t->exceptionName, kName);  // kept, not copied
  EXPECT_EQ(t->poolUsed, strlen("/opt/mods/ipv4_r.so") + 1);
  Add(t, "second", &flag);
  EXPECT_EQ(raising.count(), 0u);
  const std::string want =
      "'ModuleLoad' exception occured:\n"
      "\tLoadLibrary() failed: /opt/mods/ipv4_r.so\n"
      "\tsecond: TRUE\n";
  EXPECT_EQ(ToBuffer(t), want);
  EXPECT_EQ(Printed(t), want);
  VThreadExceptionClear(t);
  EXPECT_EQ(VThreadExceptionRaised(t), 0);
  EXPECT_TRUE(t->exceptionName == nullptr && t->poolUsed == 0);
  EXPECT_EQ(ToBuffer(t), "<null>");
  EXPECT_EQ(Printed(t), "");

  vtest::AllocCounter on_null;
  Raise(nullptr, "N", "m", &word);
  Add(nullptr, "m", &word);
  VThreadExceptionClear(nullptr);
  VThreadExceptionLog(nullptr);
  VThreadExceptionLog(t);  // empty chain: renders nothing
  EXPECT_EQ(on_null.count(), 0u);
  EXPECT_EQ(VThreadExceptionRaised(nullptr), 0);
  EXPECT_EQ(ToBuffer(nullptr), "<null>");
  EXPECT_EQ(VThreadGetErrorBuffer(nullptr), nullptr);
  EXPECT_EQ(VThreadGetErrorBuffer(t), rec_->errorBuffer);
}

TEST_F(VThreadExceptionTest, RendersEveryArgumentTypeExactly) {
  static char bytes[4];
  const struct {
    VTypedValue arg;
    const char *line;
  } cases[] = {
      // clang-format off
      {{VDT_SHORT, {.shortValue = INT16_MIN}}, "-32768"},
      {{VDT_INTEGER, {.integerValue = INT32_MIN}}, "-2147483648"},
      {{VDT_UNSIGNED, {.unsignedValue = UINT32_MAX}}, "4294967295"},
      {{VDT_BOOLEAN, {.booleanValue = 0}}, "FALSE"},
      {{VDT_BOOLEAN, {.booleanValue = -1}}, "TRUE"},
      {{VDT_REAL, {.realValue = 2.5}}, "2.500000"},
      {{VDT_UTC, {.utcValue = 0}}, "Thu Jan  1 00:00:00 1970"},
      {{VDT_UTC, {.utcValue = INT32_MAX}}, "Tue Jan 19 03:14:07 2038"},
      {{VDT_UTC, {.utcValue = -5}}, "Invalid time: -5"},
      {{VDT_BINARY, {.binaryValue = {4, bytes}}}, nullptr},
      {{VDT_INTEGER64, {.integer64Value = INT64_MIN}}, "-9223372036854775808"},
      {{VDT_UNSIGNED64, {.unsigned64Value = UINT64_MAX}}, "18446744073709551615"},
      {Text("a %s path"), "a %s path"},
      {{42, {.integerValue = 9}}, nullptr},
      // clang-format on
  };
  for (const auto &c : cases) {
    VThreadExceptionClear(t);
    Add(t, "m", &c.arg);
    std::string line = c.line ? std::string(": ") + c.line : "";
    EXPECT_EQ(ToBuffer(t), kAnonymous + ("\tm" + line + "\n")) << c.arg.type;
  }
}

TEST_F(VThreadExceptionTest, MessagesAreCutAndTheSeventeenthEntryDropped) {
  std::string long_text(2000, 'x');
  VTypedValue one{VDT_INTEGER, {.integerValue = 1}};
  Add(t, long_text.c_str(), &one);
  Add(t, nullptr);
  EXPECT_EQ(ToBuffer(t),
            kAnonymous + ("\t" + std::string(1023, 'x')) + ": 1\n\t\n");

  Raise(t, "Many", "e0");
  std::string expected = "'Many' exception occured:\n\te0\n";
  for (int i = 1; i <= 20; ++i) {
    std::string number = std::to_string(i);
    VTypedValue arg = Text(number.c_str());
    Add(t, "e", &arg);
    if (i < 16) expected += "\te: " + number + "\n";
  }
  EXPECT_EQ(ToBuffer(t), expected);
  EXPECT_EQ(t->poolUsed, 9u * 2 + 6u * 3);  // dropped entries use no pool
}

TEST_F(VThreadExceptionTest, StringsFillThePoolExactlyThenAreDropped) {
  char word[] = "-verbose";
  VTypedValue arg = Text(word), no_text{VDT_STRING, {}}, empty = Text("");
  arg.value.stringValue.length = 2;  // the length word rules, not the NUL
  Add(t, "Undefined argument", &arg);
  word[1] = 'X';  // the entry holds a copy
  Add(t, "m", &no_text);
  std::string big(1020, 'q');  // 3 + 1021 = 1024 bytes, terminators included
  VTypedValue vbig = Text(big.c_str());
  Add(t, "big", &vbig);
  Add(t, "full", &empty);  // even an empty text needs its terminator
  EXPECT_EQ(ToBuffer(t),
            kAnonymous + ("\tUndefined argument: -v\n\tm\n\tbig: " + big +
                          "\n\tfull\n"));
}

TEST_F(VThreadExceptionTest, LogWritesTheRenderingAsOneErrorMessage) {
  VTypedValue word = Text("100%s");  // must reach the log as it is
  Raise(t, "Logged", "bad word", &word);
  testing::internal::CaptureStderr();
  VThreadExceptionLog(t);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "error: E-UNK-000-000: 'Logged' exception occured:\n"
            "\tbad word: 100%s\n\n");
  EXPECT_EQ(VThreadExceptionRaised(t), 1);

  // Out of memory, the text is cut short (a strict prefix) or null, and
  // logging leaks nothing.  Renderings here need several buffer growths.
  static const std::string kWord(150, 'w');
  word = Text(kWord.c_str());
  Raise(t, "Long", "first message", &word);
  for (int i = 0; i < 5; ++i) Add(t, "a further message", &word);
  const std::string full = ToBuffer(t);
  ASSERT_GT(full.size(), 512u);
  testing::internal::CaptureStderr();
  vtest::SweepAllocations([&](vtest::Fault &f) {
    char *text = reinterpret_cast<char *>(1);
    f.Arm();
    VThreadExceptionToBuffer(t, &text);
    bool cut = f.Disarm();
    f.Arm();
    VThreadExceptionLog(t);
    f.Disarm();
    if (!cut) {
      EXPECT_EQ(full, text);
    } else if (text != nullptr) {
      EXPECT_LT(strlen(text), full.size());
      EXPECT_EQ(full.compare(0, strlen(text), text), 0) << text;
    }
    free(text);
  });
  testing::internal::GetCapturedStderr();
  EXPECT_EQ(ToBuffer(t), full);
}

}  // namespace
