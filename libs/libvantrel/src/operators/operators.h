// Shared internals of the comparison operators.
#ifndef VANTREL_OPERATORS_OPERATORS_H
#define VANTREL_OPERATORS_OPERATORS_H

#include "vantrel/voperator.h"

namespace vantrel::internal {

// The ordering of VTypedValueOrderEQ: -1, 0 or 1 (strcmp's result for two
// texts); -1 when the types cannot be ordered.
int TypedValueOrder(const VTypedValue &a, const VTypedValue &b);

// The equality test behind VOP_EQ and VOP_NE: 1 when a equals b, 0 when
// not, -1 when the types cannot be compared.
int TypedValueEqual(const VTypedValue &a, const VTypedValue &b);

}  // namespace vantrel::internal

#endif  // VANTREL_OPERATORS_OPERATORS_H
