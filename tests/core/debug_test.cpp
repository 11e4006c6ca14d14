// Thread exception records: chain building, the entry cap, the string pool
// and the byte-exact renderings.
#include <gtest/gtest.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>

#include <memory>
#include <string>
#include <thread>

#include "support/alloc_sweep.h"
#include "threads/thr.h"
#include "vantrel/vexcept.h"

namespace {

constexpr char kAnonymous[] = "'(null)' exception occured:\n";

// A zero-filled record, as the thread table makes one.
std::unique_ptr<VThreadData> NewRecord() {
  return std::make_unique<VThreadData>();
}

VTypedValue Text(const char *text) {
  VTypedValue v{VDT_STRING, {}};
  v.value.stringValue.text = const_cast<char *>(text);
  v.value.stringValue.length = static_cast<uint32_t>(strlen(text));
  return v;
}

void Add(VThread t, const char *text, const VTypedValue *arg = nullptr) {
  VThreadExceptionAdd(t, nullptr, 3, 99, text, arg, nullptr, nullptr, nullptr);
}

void Raise(VThread t, const char *name, const char *text,
           const VTypedValue *arg = nullptr) {
  VThreadExceptionRaise(t, name, nullptr, 3, 5, text, arg, nullptr, nullptr,
                        nullptr);
}

std::string ToBuffer(VThread t) {
  char *text = nullptr;
  VThreadExceptionToBuffer(t, &text);
  std::string result = text != nullptr ? text : "<null>";
  free(text);
  return result;
}

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

TEST(VThreadExceptionTest, RaiseStartsANewChainAndClearEmptiesIt) {
  auto rec = NewRecord();
  VThread t = rec.get();
  EXPECT_EQ(VThreadExceptionRaised(t), 0);
  VTypedValue word = Text("-bogus");
  Add(t, "first", &word);
  Add(t, "second", &word);
  EXPECT_EQ(VThreadExceptionRaised(t), 1);
  static const char kName[] = "ModuleLoad";
  VTypedValue path = Text("/opt/mods/ipv4_r.so");
  Raise(t, kName, "LoadLibrary() failed", &path);
  ASSERT_EQ(t->exceptionCount, 1);
  EXPECT_EQ(t->exceptionName, kName);  // kept, not copied
  EXPECT_EQ(t->poolUsed, strlen("/opt/mods/ipv4_r.so") + 1);
  EXPECT_EQ(ToBuffer(t),
            "'ModuleLoad' exception occured:\n"
            "\tLoadLibrary() failed: /opt/mods/ipv4_r.so\n");
  VThreadExceptionClear(t);
  EXPECT_EQ(VThreadExceptionRaised(t), 0);
  EXPECT_EQ(t->exceptionName, nullptr);
  EXPECT_EQ(t->poolUsed, 0u);
  EXPECT_EQ(ToBuffer(t), "<null>");
  EXPECT_EQ(Printed(t), "");
}

TEST(VThreadExceptionTest, RendersEveryArgumentTypeExactly) {
  setenv("TZ", "UTC", 1);
  tzset();
  static char bytes[4];
  const struct {
    VTypedValue arg;
    const char *line;
  } cases[] = {
      {{VDT_SHORT, {.shortValue = -5}}, "\tm: -5\n"},
      {{VDT_SHORT, {.shortValue = INT16_MIN}}, "\tm: -32768\n"},
      {{VDT_INTEGER, {.integerValue = INT32_MIN}}, "\tm: -2147483648\n"},
      {{VDT_UNSIGNED, {.unsignedValue = UINT32_MAX}}, "\tm: 4294967295\n"},
      {{VDT_BOOLEAN, {.booleanValue = 0}}, "\tm: FALSE\n"},
      {{VDT_BOOLEAN, {.booleanValue = 7}}, "\tm: TRUE\n"},
      {{VDT_BOOLEAN, {.booleanValue = -1}}, "\tm: TRUE\n"},
      {{VDT_REAL, {.realValue = 2.5}}, "\tm: 2.500000\n"},
      {{VDT_REAL, {.realValue = -1e-7}}, "\tm: -0.000000\n"},
      {{VDT_UTC, {.utcValue = 0}}, "\tm: Thu Jan  1 00:00:00 1970\n"},
      {{VDT_UTC, {.utcValue = INT32_MAX}}, "\tm: Tue Jan 19 03:14:07 2038\n"},
      {{VDT_UTC, {.utcValue = -5}}, "\tm: Invalid time: -5\n"},
      {{VDT_BINARY, {.binaryValue = {4, bytes}}}, "\tm\n"},
      {{VDT_INTEGER64, {.integer64Value = -1}}, "\tm: -1\n"},
      {{VDT_INTEGER64, {.integer64Value = INT64_MIN}},
       "\tm: -9223372036854775808\n"},
      {{VDT_UNSIGNED64, {.unsigned64Value = 1ull << 32}}, "\tm: 4294967296\n"},
      {{VDT_UNSIGNED64, {.unsigned64Value = UINT64_MAX}},
       "\tm: 18446744073709551615\n"},
      {Text("a %s path"), "\tm: a %s path\n"},
      {{VDT_INVALID, {.integerValue = 9}}, "\tm\n"},
      {{42, {.integerValue = 9}}, "\tm\n"},
  };
  for (const auto &c : cases) {
    auto rec = NewRecord();
    Add(rec.get(), "m", &c.arg);
    EXPECT_EQ(ToBuffer(rec.get()), kAnonymous + std::string(c.line))
        << "type " << c.arg.type;
  }
}

TEST(VThreadExceptionTest, MessagesAreLookedUpAndCutAt1023Bytes) {
  auto rec = NewRecord();
  std::string longText(2000, 'x');
  VTypedValue one{VDT_INTEGER, {.integerValue = 1}};
  Add(rec.get(), longText.c_str(), &one);
  Add(rec.get(), nullptr);
  EXPECT_EQ(ToBuffer(rec.get()),
            kAnonymous + ("\t" + std::string(1023, 'x')) + ": 1\n\t\n");
}

TEST(VThreadExceptionTest, SeventeenthEntryIsDropped) {
  auto rec = NewRecord();
  VThread t = rec.get();
  Raise(t, "Many", "e0");
  std::string expected = "'Many' exception occured:\n\te0\n";
  std::string texts[21];  // messages are kept by pointer
  for (int i = 1; i <= 20; ++i) {
    texts[i] = "e" + std::to_string(i);
    VTypedValue arg = Text(texts[i].c_str());
    Add(t, texts[i].c_str(), &arg);
    if (i < 16) expected += "\t" + texts[i] + ": " + texts[i] + "\n";
  }
  EXPECT_EQ(t->exceptionCount, 16);
  EXPECT_EQ(ToBuffer(t), expected);
  EXPECT_EQ(t->poolUsed, 9u * 3 + 6u * 4);  // dropped entries use no pool
}

TEST(VThreadExceptionTest, StringsFillThePoolExactlyThenAreDropped) {
  auto rec = NewRecord();
  VThread t = rec.get();
  // 3 * 256 + 253 + 3 = 1024 bytes, terminators included.
  std::string a(255, 'a'), b(252, 'b');
  VTypedValue va = Text(a.c_str()), vb = Text(b.c_str()), two = Text("zz");
  for (int i = 0; i < 3; ++i) Add(t, "a", &va);
  Add(t, "b", &vb);
  Add(t, "z", &two);
  EXPECT_EQ(t->poolUsed, 1024u);
  VTypedValue empty = Text("");
  Add(t, "full", &empty);  // even an empty text needs its terminator
  EXPECT_EQ(t->exceptionCount, 6);
  std::string text = ToBuffer(t);
  EXPECT_NE(text.find("\tb: " + b + "\n\tz: zz\n\tfull\n"), std::string::npos);

  VThreadExceptionClear(t);
  char word[] = "-verbose";
  VTypedValue arg = Text(word);
  arg.value.stringValue.length = 2;  // the length word rules, not the NUL
  Add(t, "Undefined argument", &arg);
  word[1] = 'X';  // the entry holds a copy
  EXPECT_EQ(t->poolUsed, 3u);
  VTypedValue noText{VDT_STRING, {}};
  Add(t, "m", &noText);
  std::string big(1020, 'q');
  VTypedValue vbig = Text(big.c_str());
  Add(t, "big", &vbig);
  EXPECT_EQ(t->poolUsed, 1024u);
  EXPECT_EQ(
      ToBuffer(t),
      kAnonymous + ("\tUndefined argument: -v\n\tm\n\tbig: " + big + "\n"));
}

TEST(VThreadExceptionTest, PrintWritesWhatToBufferReturns) {
  auto rec = NewRecord();
  VThread t = rec.get();
  VTypedValue word = Text("-x");
  VThreadExceptionRaise(t, "UndefinedArgument", nullptr, 3, 11,
                        "Undefined argument", &word, nullptr, nullptr, nullptr);
  VTypedValue flag{VDT_BOOLEAN, {.booleanValue = 1}};
  Add(t, "second", &flag);
  const std::string expected =
      "'UndefinedArgument' exception occured:\n"
      "\tUndefined argument: -x\n"
      "\tsecond: TRUE\n";
  EXPECT_EQ(Printed(t), expected);
  EXPECT_EQ(ToBuffer(t), expected);
  EXPECT_EQ(VThreadGetErrorBuffer(t), rec->errorBuffer);
}

TEST(VThreadExceptionTest, NullRecordHoldsNoChain) {
  VTypedValue arg = Text("x");
  Raise(nullptr, "N", "m", &arg);
  Add(nullptr, "m", &arg);
  VThreadExceptionClear(nullptr);
  VThreadExceptionLog(nullptr);
  EXPECT_EQ(VThreadExceptionRaised(nullptr), 0);
  EXPECT_EQ(ToBuffer(nullptr), "<null>");
  EXPECT_EQ(VThreadGetErrorBuffer(nullptr), nullptr);
}

TEST(VThreadExceptionTest, RaisingAndAddingAllocateNothing) {
  auto rec = NewRecord();
  VThread t = rec.get();
  VTypedValue word = Text("some/module/path.so");
  VTypedValue when{VDT_UTC, {.utcValue = 1}};
  // The reserved slots are never read: an invalid pointer is harmless.
  const auto *bogus = reinterpret_cast<const VTypedValue *>(8);
  uint64_t before = vtest::AllocationCount();
  VThreadExceptionRaise(t, "N", nullptr, 3, 5, "m", &word, bogus, bogus, bogus);
  for (int i = 0; i < 20; ++i) {
    VThreadExceptionAdd(t, nullptr, 3, 5, "m", i % 2 ? &word : &when, bogus,
                        bogus, bogus);
  }
  VThreadExceptionClear(t);
  VThreadExceptionLog(t);  // empty chain: renders nothing
  EXPECT_EQ(vtest::AllocationCount(), before);
}

// A chain whose rendering needs several growths of the string buffer.
void FillLongChain(VThread t) {
  static const std::string kWord(150, 'w');
  VTypedValue word = Text(kWord.c_str());
  Raise(t, "Long", "first message", &word);
  for (int i = 0; i < 5; ++i) Add(t, "a further message", &word);
}

TEST(VThreadExceptionTest, ToBufferCutsTheTextShortWhenMemoryRunsOut) {
  auto rec = NewRecord();
  VThread t = rec.get();
  FillLongChain(t);
  const std::string full = ToBuffer(t);
  ASSERT_GT(full.size(), 512u);
  vtest::SweepAllocations([&](vtest::Fault &f) {
    char *text = reinterpret_cast<char *>(1);
    f.Arm();
    VThreadExceptionToBuffer(t, &text);
    if (!f.Disarm()) {
      EXPECT_EQ(full, text);
    } else if (text != nullptr) {  // a strict prefix of the whole
      EXPECT_LT(strlen(text), full.size());
      EXPECT_EQ(full.compare(0, strlen(text), text), 0) << text;
    }
    free(text);
  });
  EXPECT_EQ(ToBuffer(t), full);
}

TEST(VThreadExceptionTest, LogWritesTheRenderingAsOneErrorMessage) {
  auto rec = NewRecord();
  VThread t = rec.get();
  VTypedValue word = Text("100%s");  // must reach the log as it is
  Raise(t, "Logged", "bad word", &word);
  testing::internal::CaptureStderr();
  VThreadExceptionLog(t);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "error: E-UNK-000-000: 'Logged' exception occured:\n"
            "\tbad word: 100%s\n\n");
  EXPECT_EQ(VThreadExceptionRaised(t), 1);

  FillLongChain(t);
  testing::internal::CaptureStderr();
  vtest::SweepAllocations([&](vtest::Fault &f) {
    f.Arm();
    VThreadExceptionLog(t);  // leaks nothing whatever fails
    f.Disarm();
  });
  testing::internal::GetCapturedStderr();
}

TEST(VThreadExceptionTest, EachThreadHasItsOwnChain) {
  ASSERT_EQ(vantrel::internal::ThreadSubsystemInit(), 0);
  VThread self = VThreadGetID();
  ASSERT_NE(self, nullptr);
  VThreadExceptionClear(self);
  std::string other;
  std::thread worker([&] {
    VThread mine = VThreadGetID();
    VTypedValue n{VDT_UNSIGNED, {.unsignedValue = 7}};
    Raise(mine, "Worker", "worker failed", &n);
    other = ToBuffer(mine);
  });
  worker.join();
  EXPECT_EQ(other, "'Worker' exception occured:\n\tworker failed: 7\n");
  EXPECT_EQ(VThreadExceptionRaised(self), 0);
}

}  // namespace
