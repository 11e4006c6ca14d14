/* Comparison operators on typed values: equality and ordering across the
 * numeric, boolean and UTC types, text comparisons with and without
 * letter case, and LIKE, a POSIX extended regular-expression search (not
 * an SQL wildcard match).
 *
 * Every operation is a pure function of its arguments: it keeps no state,
 * locks nothing, and reads the typed values only.  A null typed value is
 * refused with the function's failure result (see vbase.h). */
#ifndef VANTREL_VOPERATOR_H
#define VANTREL_VOPERATOR_H

#include "vantrel/vbase.h"
#include "vantrel/vvalue.h"

VANTREL_BEGIN_DECLS

/* A 32-bit enumeration whatever the compiler makes of an enum. */
typedef int32_t VOperator;
enum VOperatorValues {
  VOP_EQ = 0,      /* equal */
  VOP_NE = 1,      /* not equal */
  VOP_LT = 2,      /* less than */
  VOP_GT = 3,      /* greater than */
  VOP_LTE = 4,     /* less than or equal */
  VOP_GTE = 5,     /* greater than or equal */
  VOP_LIKE = 6,    /* text matches the pattern */
  VOP_NOTLIKE = 7, /* text does not match the pattern */
  VOP_IEQ = 8,     /* texts equal ignoring case */
  VOP_INE = 9,     /* texts differ ignoring case */
  VOP_ILT = 10,    /* text less ignoring case */
  VOP_IGT = 11,    /* text greater ignoring case */
  VOP_ILTE = 12,   /* text less or equal ignoring case */
  VOP_IGTE = 13    /* text greater or equal ignoring case */
};

/* The operator that holds exactly when op does not: EQ and NE, LT and GTE,
 * GT and LTE, LIKE and NOTLIKE, and the same pairs of the case-insensitive
 * operators.  A number outside 0 to 13 is given back unchanged, so negating
 * twice always gives the operator back. */
VANTREL_API VOperator VOperatorNegate(VOperator op);

/* Where the numeric, boolean and UTC types meet, by a's type (rows) and
 * b's type (columns): T SHORT, I INTEGER, D UNSIGNED, B BOOLEAN, R REAL,
 * U UTC, L INTEGER64, K UNSIGNED64.
 *
 *   ordering  T    I    D    B    R    U    L    K
 *   T,I,B,U   s32  s32  u32  s32  dbl  s32  s64  u64
 *   D         u32  u32  u32  u32  dbl  s32  s64  u64
 *   R         dbl  dbl  dbl  dbl  dbl  tlw  dbl  ta64
 *   L         s64  s64  s64  s64  dbl  lw   s64  u64
 *   K         u64  u64  u64  u64  tb64 lw   u64  u64
 *
 *   equality  T    I    D    B    R    U    L    K
 *   T         16   32   32   32   dbl  32   s64  s64
 *   I,D,B,U   32   32   32   32   dbl  32   *64  *64   (*: z for D, s else)
 *   R         dbl  dbl  dbl  dbl  dbl  tlw  dbl  ta64
 *   L,K       s64  s64  z64  s64  **   lw   64   64    (**: dbl for L,
 *                                                        tb64 for K)
 *
 * s32/u32: both as 32-bit integers, signed or unsigned (a SHORT
 * sign-extended); s64/u64: both widened to 64 bits (signed types
 * sign-extended, UNSIGNED zero-extended) and compared with that
 * signedness; dbl: both as doubles (64-bit integers rounded); ta64/tb64:
 * the real (a or b) truncated toward zero to a signed 64-bit integer
 * (INT64_MIN when out of range or a NaN), then 64 bits; tlw: that
 * truncated real's low 32 bits against the UTC, signed; lw: the 64-bit
 * value's low 32 bits against the UTC, signed; 16, 32, 64: those bits
 * equal; z64: the UNSIGNED equals the other side's 64 bits zero-extended.
 * As doubles, a NaN orders after everything (1 either way) and equals
 * everything. */

/* The order of a against b: -1 when a is less, 0 when equal, 1 when
 * greater, by the table above.  Two texts give strcmp's result unchanged
 * (a null text sorts before every text).  -1 also when the types cannot
 * be ordered: a type outside 1 to 10, BINARY on either side, or a text
 * against a non-text (so LT and LTE hold for such pairs, and a null a or
 * b gives -1 too). */
VANTREL_API int VTypedValueOrderEQ(const VTypedValue *a, const VTypedValue *b);

/* 1 when b's text, compiled as a POSIX extended regular expression
 * (case-sensitive), matches anywhere in a's text (unless anchored with ^
 * or $); 0 when it does not, when the pattern does not compile (memory
 * running out included), or when either value is not a text or holds a
 * null text.  The expression is compiled, used once and freed. */
VANTREL_API int VTypedValueLIKE(const VTypedValue *a, const VTypedValue *b);

/* The texts compared ignoring letter case (strcasecmp, current locale):
 * 1 when equal, different, less, greater, less or equal, greater or equal
 * respectively, else 0.  A null text sorts before every text and equals
 * another null text.  When either value is not a text there is nothing to
 * compare and every one of them gives 0. */
VANTREL_API int VTypedValueIEQ(const VTypedValue *a, const VTypedValue *b);
VANTREL_API int VTypedValueINE(const VTypedValue *a, const VTypedValue *b);
VANTREL_API int VTypedValueILT(const VTypedValue *a, const VTypedValue *b);
VANTREL_API int VTypedValueIGT(const VTypedValue *a, const VTypedValue *b);
VANTREL_API int VTypedValueILTE(const VTypedValue *a, const VTypedValue *b);
VANTREL_API int VTypedValueIGTE(const VTypedValue *a, const VTypedValue *b);

/* Applies op to a and b:
 *   VOP_EQ   1 when equal by the table above, 0 when not, -1 when the
 *            types cannot be compared (as for VTypedValueOrderEQ).  Two
 *            texts are equal when their length words are equal and strcmp
 *            gives 0.
 *   VOP_NE   1 unless VOP_EQ gives 1.
 *   VOP_LT, VOP_GT, VOP_LTE, VOP_GTE  the order below 0, above 0, below
 *            1, 0 or above: 1 or 0.
 *   VOP_LIKE  VTypedValueLIKE;  VOP_NOTLIKE  1 unless LIKE gives 1.
 *   VOP_IEQ to VOP_IGTE  the case-insensitive comparisons.
 * Any other operator, or a null a or b, gives 0. */
VANTREL_API int VTypedValueOperatorComp(const VTypedValue *a,
                                        const VTypedValue *b, VOperator op);

VANTREL_END_DECLS

#endif /* VANTREL_VOPERATOR_H */
