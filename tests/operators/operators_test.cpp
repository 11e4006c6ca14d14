#include <errno.h>
#include <gtest/gtest.h>
#include <string.h>

#include <limits>
#include <string>

#include "support/alloc_sweep.h"
#include "vantrel/voperator.h"

namespace {

VTypedValue Text(const char *text, uint32_t length) {
  return {VDT_STRING, {.stringValue = {const_cast<char *>(text), length}}};
}
VTypedValue Text(const char *text) {
  return Text(text, text != nullptr ? static_cast<uint32_t>(strlen(text)) : 0);
}
VTypedValue Int(int32_t n) { return {VDT_INTEGER, {.integerValue = n}}; }
VTypedValue Real(double x) { return {VDT_REAL, {.realValue = x}}; }
VTypedValue Utc(int32_t n) { return {VDT_UTC, {.utcValue = n}}; }

TEST(VOperatorTest, NegationPairsTheOperators) {
  const VOperator negation[] = {
      VOP_NE,   VOP_EQ,  VOP_GTE, VOP_LTE,  VOP_GT,   VOP_LT,  VOP_NOTLIKE,
      VOP_LIKE, VOP_INE, VOP_IEQ, VOP_IGTE, VOP_ILTE, VOP_IGT, VOP_ILT};
  for (VOperator op = VOP_EQ; op <= VOP_IGTE; ++op) {
    EXPECT_EQ(VOperatorNegate(op), negation[op]) << op;
  }
  for (VOperator op : {-1000, -1, 14, 15, 1 << 30, INT32_MIN, INT32_MAX}) {
    EXPECT_EQ(VOperatorNegate(op), op) << op;
  }
  for (VOperator op = -3; op < 20; ++op) {
    EXPECT_EQ(VOperatorNegate(VOperatorNegate(op)), op) << op;
  }
}

// Every operator on pairs that tell them apart.  Results in operator
// order, EQ NE LT GT LTE GTE LIKE NOTLIKE IEQ INE ILT IGT ILTE IGTE, with
// 'x' for -1.
struct Row {
  const char *what;
  VTypedValue a, b;
  const char *results;
};

TEST(VOperatorTest, OperatorCompAppliesEachOperator) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const VTypedValue bin{VDT_BINARY, {}}, line = Text("error: disk full");
  const Row rows[] = {
      {"int 1, text 1", Int(1), Text("1"), "x1101001000000"},
      {"abc and abd", Text("abc"), Text("abd"), "01101001011010"},
      {"ABC and abc", Text("ABC"), Text("abc"), "01101001100011"},
      {"abc and ab", Text("abc"), Text("ab"), "01010110010101"},
      {"lengths 3 and 4", Text("abc", 3), Text("abc", 4), "01001110100011"},
      {"equal texts", Text("abc"), Text("abc"), "10001110100011"},
      {"NaN and integer 5", Real(nan), Int(5), "10010101000000"},
      {"real 2.9 and UTC 2", Real(2.9), Utc(2), "10001101000000"},
      {"real 2.9 and integer 2", Real(2.9), Int(2), "01010101000000"},
      {"two binary values", bin, bin, "x1101001000000"},
      {"log line, ^error", line, Text("^error"), "01010110010101"},
      {"log line, [", line, Text("["), "01010101010101"},
  };
  for (const Row &row : rows) {
    for (VOperator op = VOP_EQ; op <= VOP_IGTE; ++op) {
      int expected = row.results[op] == 'x' ? -1 : row.results[op] - '0';
      EXPECT_EQ(VTypedValueOperatorComp(&row.a, &row.b, op), expected)
          << row.what << ", operator " << op;
    }
    EXPECT_EQ(VTypedValueOperatorComp(&row.a, &row.b, 14), 0) << row.what;
    EXPECT_EQ(VTypedValueOperatorComp(&row.a, &row.b, -1), 0) << row.what;
  }
}

// LIKE is a POSIX extended regular-expression search of b's pattern in
// a's text, case-sensitive, not an SQL wildcard match.
TEST(VOperatorTest, LikeSearchesTextsWithTheExtendedSyntax) {
  const struct {
    const char *text, *pattern;
    int like;
  } cases[] = {
      {"error: disk full", "^error", 1},
      {"error: disk full", "disk", 1},
      {"error: disk full", "disk.*full$", 1},
      {"error: disk full", "^disk", 0},
      {"error: disk full", "ERROR", 0},
      {"error: disk full", "%disk%", 0},  // no SQL wildcards
      {"error: disk full", "err_r", 0},
      {"error: disk full", "(warn|error):", 1},
      {"port 4100", "[0-9]{4}$", 1},
      {"", "^$", 1},
      {"", "", 1},
      {"anything", "", 1},
      {"aa", "(a)\\1", 0},  // back references do not compile
      {"x", "(", 0},
      {"x", "[", 0},
  };
  for (const auto &c : cases) {
    VTypedValue a = Text(c.text), b = Text(c.pattern);
    EXPECT_EQ(VTypedValueLIKE(&a, &b), c.like) << c.text << " / " << c.pattern;
    EXPECT_EQ(VTypedValueOperatorComp(&a, &b, VOP_NOTLIKE), 1 - c.like);
  }
  // Only texts are searched.
  VTypedValue number = Int(5), five = Text("5"), null_text = Text(nullptr);
  VTypedValue any = Text(".*");
  EXPECT_EQ(VTypedValueLIKE(&number, &any), 0);
  EXPECT_EQ(VTypedValueLIKE(&five, &number), 0);
  EXPECT_EQ(VTypedValueLIKE(&null_text, &any), 0);
  EXPECT_EQ(VTypedValueLIKE(&five, &null_text), 0);
  EXPECT_EQ(VTypedValueOperatorComp(&number, &any, VOP_NOTLIKE), 1);
}

TEST(VOperatorTest, CaseInsensitiveOperatorsCompareTextsOnly) {
  VTypedValue lower = Text("disk full"), upper = Text("DISK FULL");
  VTypedValue before = Text("Disk"), null_text = Text(nullptr);
  struct {
    const VTypedValue *a, *b;
    int ieq, ine, ilt, igt, ilte, igte;
  } cases[] = {
      {&lower, &upper, 1, 0, 0, 0, 1, 1},
      {&before, &lower, 0, 1, 1, 0, 1, 0},
      {&lower, &before, 0, 1, 0, 1, 0, 1},
      {&null_text, &lower, 0, 1, 1, 0, 1, 0},  // a null text sorts first
      {&null_text, &null_text, 1, 0, 0, 0, 1, 1},
  };
  for (const auto &c : cases) {
    EXPECT_EQ(VTypedValueIEQ(c.a, c.b), c.ieq);
    EXPECT_EQ(VTypedValueINE(c.a, c.b), c.ine);
    EXPECT_EQ(VTypedValueILT(c.a, c.b), c.ilt);
    EXPECT_EQ(VTypedValueIGT(c.a, c.b), c.igt);
    EXPECT_EQ(VTypedValueILTE(c.a, c.b), c.ilte);
    EXPECT_EQ(VTypedValueIGTE(c.a, c.b), c.igte);
  }
  // Numbers have no text: every case-insensitive test is 0.
  VTypedValue one = Int(1), text_one = Text("1");
  for (VOperator op = VOP_IEQ; op <= VOP_IGTE; ++op) {
    EXPECT_EQ(VTypedValueOperatorComp(&one, &one, op), 0) << op;
    EXPECT_EQ(VTypedValueOperatorComp(&text_one, &one, op), 0) << op;
  }
}

TEST(VOperatorTest, TextOrderIsStrcmpWithNullFirst) {
  VTypedValue abc = Text("abc"), abd = Text("abd"), null_text = Text(nullptr);
  EXPECT_EQ(VTypedValueOrderEQ(&abc, &abd), strcmp("abc", "abd"));
  EXPECT_EQ(VTypedValueOrderEQ(&abd, &abc), strcmp("abd", "abc"));
  EXPECT_EQ(VTypedValueOrderEQ(&null_text, &abc), -1);
  EXPECT_EQ(VTypedValueOrderEQ(&abc, &null_text), 1);
  EXPECT_EQ(VTypedValueOrderEQ(&null_text, &null_text), 0);
  EXPECT_EQ(VTypedValueOperatorComp(&null_text, &null_text, VOP_EQ), 1);
}

TEST(VOperatorTest, NullTypedValuesAreRefused) {
  VTypedValue one = Int(1);
  EXPECT_EQ(VTypedValueOrderEQ(nullptr, &one), -1);
  EXPECT_EQ(VTypedValueOrderEQ(&one, nullptr), -1);
  EXPECT_EQ(VTypedValueLIKE(nullptr, &one), 0);
  EXPECT_EQ(VTypedValueIEQ(&one, nullptr), 0);
  EXPECT_EQ(VTypedValueINE(nullptr, nullptr), 0);
  for (VOperator op = VOP_EQ; op <= VOP_IGTE; ++op) {
    EXPECT_EQ(VTypedValueOperatorComp(nullptr, &one, op), 0) << op;
    EXPECT_EQ(VTypedValueOperatorComp(&one, nullptr, op), 0) << op;
  }
}

// LIKE makes one allocation of the library's (the compiled expression);
// when it cannot be had, LIKE is false and nothing is left behind.
TEST(VOperatorTest, LikeSweepIsFalseWhenMemoryRunsOut) {
  VTypedValue a = Text("error: disk full"), b = Text("^(error|fatal):");
  {
    vtest::AllocCounter counter;
    ASSERT_EQ(VTypedValueLIKE(&a, &b), 1);
    EXPECT_EQ(counter.count(), 1u);
  }
  for (VOperator op : {VOP_LIKE, VOP_NOTLIKE}) {
    vtest::SweepAllocations([&](vtest::Fault &fault) {
      fault.Arm();
      int result = VTypedValueOperatorComp(&a, &b, op);
      bool failed = fault.Disarm();
      EXPECT_EQ(result, (op == VOP_LIKE) != failed ? 1 : 0) << op;
    });
  }
}

}  // namespace
