// The operator dispatcher, negation, LIKE and the case-insensitive text
// comparisons.
#include "operators/operators.h"

#include <strings.h>

#include "regex/regexp.h"

namespace vi = vantrel::internal;

namespace {

constexpr VOperator kNegation[] = {
    VOP_NE,   VOP_EQ,  VOP_GTE, VOP_LTE,  VOP_GT,   VOP_LT,  VOP_NOTLIKE,
    VOP_LIKE, VOP_INE, VOP_IEQ, VOP_IGTE, VOP_ILTE, VOP_IGT, VOP_ILT,
};
constexpr VOperator kOperators = sizeof kNegation / sizeof kNegation[0];
static_assert(kOperators == VOP_IGTE + 1);

bool IsText(const VTypedValue *v) {
  return v != nullptr && v->type == VDT_STRING;
}

const char *TextOf(const VTypedValue *v) { return v->value.stringValue.text; }

// strcasecmp of two texts as the case-insensitive operators see them: a
// null text sorts first.
int CaseCompare(const char *a, const char *b) {
  if (a == nullptr || b == nullptr) return (a != nullptr) - (b != nullptr);
  return strcasecmp(a, b);
}

enum class Test { kEq, kNe, kLt, kGt, kLte, kGte };

bool Holds(Test test, int order) {
  switch (test) {
    case Test::kEq:
      return order == 0;
    case Test::kNe:
      return order != 0;
    case Test::kLt:
      return order < 0;
    case Test::kGt:
      return order > 0;
    case Test::kLte:
      return order <= 0;
    case Test::kGte:
      return order >= 0;
  }
  return false;
}

// Non-texts have nothing to compare: every test is 0 for them.
int CaseTest(const VTypedValue *a, const VTypedValue *b, Test test) {
  if (!IsText(a) || !IsText(b)) return 0;
  return Holds(test, CaseCompare(TextOf(a), TextOf(b))) ? 1 : 0;
}

int Like(const VTypedValue *a, const VTypedValue *b) {
  if (!IsText(a) || !IsText(b) || TextOf(a) == nullptr ||
      TextOf(b) == nullptr) {
    return 0;
  }
  VRegexp re = nullptr;
  if (vi::RegexpCompile(TextOf(b), &re) != 0) return 0;
  VRC rc = vi::RegexpMatch(re, TextOf(a), vi::kWholeSubject);
  vi::RegexpFree(re);
  return rc == 0 ? 1 : 0;
}

}  // namespace

VOperator VOperatorNegate(VOperator op) {
  return op >= 0 && op < kOperators ? kNegation[op] : op;
}

int VTypedValueLIKE(const VTypedValue *a, const VTypedValue *b) {
  return Like(a, b);
}

int VTypedValueIEQ(const VTypedValue *a, const VTypedValue *b) {
  return CaseTest(a, b, Test::kEq);
}
int VTypedValueINE(const VTypedValue *a, const VTypedValue *b) {
  return CaseTest(a, b, Test::kNe);
}
int VTypedValueILT(const VTypedValue *a, const VTypedValue *b) {
  return CaseTest(a, b, Test::kLt);
}
int VTypedValueIGT(const VTypedValue *a, const VTypedValue *b) {
  return CaseTest(a, b, Test::kGt);
}
int VTypedValueILTE(const VTypedValue *a, const VTypedValue *b) {
  return CaseTest(a, b, Test::kLte);
}
int VTypedValueIGTE(const VTypedValue *a, const VTypedValue *b) {
  return CaseTest(a, b, Test::kGte);
}

int VTypedValueOperatorComp(const VTypedValue *a, const VTypedValue *b,
                            VOperator op) {
  if (a == nullptr || b == nullptr) return 0;
  switch (op) {
    case VOP_EQ:
      return vi::TypedValueEqual(*a, *b);
    case VOP_NE:
      return vi::TypedValueEqual(*a, *b) == 1 ? 0 : 1;
    case VOP_LT:
      return vi::TypedValueOrder(*a, *b) < 0;
    case VOP_GT:
      return vi::TypedValueOrder(*a, *b) > 0;
    case VOP_LTE:
      return vi::TypedValueOrder(*a, *b) < 1;
    case VOP_GTE:
      return vi::TypedValueOrder(*a, *b) >= 0;
    case VOP_LIKE:
      return Like(a, b);
    case VOP_NOTLIKE:
      return Like(a, b) == 1 ? 0 : 1;
    case VOP_IEQ:
      return CaseTest(a, b, Test::kEq);
    case VOP_INE:
      return CaseTest(a, b, Test::kNe);
    case VOP_ILT:
      return CaseTest(a, b, Test::kLt);
    case VOP_IGT:
      return CaseTest(a, b, Test::kGt);
    case VOP_ILTE:
      return CaseTest(a, b, Test::kLte);
    case VOP_IGTE:
      return CaseTest(a, b, Test::kGte);
    default:
      return 0;
  }
}
