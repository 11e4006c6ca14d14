/* Value cells, typed values and named values.
 *
 * A VValue means nothing without the VDataType that travels beside it.
 * Cells are passed by value where an operation only reads them and by
 * pointer where it writes them.  Texts and binary data held by typed and
 * named values live on the C heap and are released with free.  Nothing
 * here locks or keeps state. */
#ifndef VANTREL_VVALUE_H
#define VANTREL_VVALUE_H

#include "vantrel/vbase.h"

/* Cells are aligned for a double on every platform, so typed and named
 * values have one layout on 32-bit builds as well. */
#if defined(__GNUC__)
#define VANTREL_VALUE_ALIGN __attribute__((aligned(8)))
#elif defined(_MSC_VER)
#define VANTREL_VALUE_ALIGN __declspec(align(8))
#else
#define VANTREL_VALUE_ALIGN
#endif

VANTREL_BEGIN_DECLS

/* The value cell.  Which member is meaningful depends on the data type;
 * bytes beyond a type's width carry no meaning.  Text is a pointer then a
 * length, binary data a length then a pointer.  A text's length word must
 * equal strlen of the text.  16 bytes on LP64, 8 on 32-bit builds. */
typedef union VANTREL_VALUE_ALIGN VValue {
  int16_t shortValue;     /* VDT_SHORT */
  int32_t integerValue;   /* VDT_INTEGER */
  uint32_t unsignedValue; /* VDT_UNSIGNED */
  int32_t booleanValue;   /* VDT_BOOLEAN: 0 false, anything else true */
  double realValue;       /* VDT_REAL */
  int32_t utcValue;       /* VDT_UTC: seconds since 1970-01-01 UTC */
  struct {
    char *text;
    uint32_t length; /* bytes before the NUL */
  } stringValue;     /* VDT_STRING */
  struct {
    uint32_t length;
    void *data;             /* null when length is 0 */
  } binaryValue;            /* VDT_BINARY */
  int64_t integer64Value;   /* VDT_INTEGER64 */
  uint64_t unsigned64Value; /* VDT_UNSIGNED64 */
} VValue;

VANTREL_END_DECLS

/* The data type enumeration; see vtypes.h for why the order matters. */
#include "vantrel/vtypes.h"

VANTREL_BEGIN_DECLS

/* A data type beside its value.  Owns a text or binary data held in the
 * value; the record itself belongs to whoever embeds it. */
typedef struct VTypedValue {
  VDataType type; /* how value is read */
  VValue value;   /* the value under type */
} VTypedValue;

/* A named value, allocated by the caller's allocator.  Owns its name (never
 * changed after creation) and its value's text or data.  ownerWord is for
 * the owner: 0 when created from a value, carried over by a copy. */
typedef struct VNamedValue {
  char *name;         /* the name, on the C heap */
  VDataType type;     /* the type, fixed at creation */
  uint32_t ownerWord; /* the owner's */
  VValue value;       /* the value under type */
} VNamedValue;

/* A function returning an allocated copy of text, or null (the shape of
 * strdup). */
typedef char *(*VStringDupFunc)(const char *text);

/* ---- Cells ---- */

/* Negative, 0 or positive as a sorts before, equal to or after b under
 * type.  Integer types and UTC give -1, 0 or 1; booleans give -1 only for
 * (0, 1), 0 for equal words and 1 otherwise; reals give -1 when either is
 * a NaN; texts give strcmp's result (a null text sorts first); binary data
 * compares by memcmp over the shorter length (a null pointer sorts first),
 * so a prefix equals the longer value.  -1 for an unknown type. */
VANTREL_API int VValueComp(VValue a, VValue b, VDataType type);
/* Hash of the cell under type: the integer's low 32 bits (a short
 * sign-extended), the signed-byte sum of a real, VHashString2 of a text
 * (0 for a null text), the unsigned-byte sum of binary data; 0 for an
 * unknown type. */
VANTREL_API uint32_t VValueHash(VValue value, VDataType type);
/* Copies src into *dst.  A text is copied into a block of length + 1 bytes
 * from alloc (a null text stays null); everything else, binary included,
 * is copied as it is, so a binary copy shares the source's data.
 * Returns 0, or ENOMEM (12) with *dst unchanged when alloc fails. */
VANTREL_API VRC VValueCopyWith(VValue *dst, VValue src, VDataType type,
                               VAllocFunc alloc);
/* Converts *value from fromType to toType in place.  Equal types return 0
 * at once.  Reals become integers by truncation toward zero to 64 bits
 * (INT64_MIN when out of range or NaN) and keep the low bits; narrowing
 * keeps the low bits; booleans become 0 or 1; texts are parsed with the
 * VStringTo... conversion of the target type; numbers become new texts
 * ("%d", "%u", "%f", booleans "TRUE"/"FALSE").  A text source is freed on
 * success.  On failure the cell is exactly as it was.
 * Returns 0; VRC_TYPE_MISMATCH (-24) when either type is VDT_BINARY;
 * VRC_INVALID_DATATYPE (-25) when either type is outside 1 to 10; the
 * parser's code (ERANGE (34) among others; also for a UTC text whose time
 * does not fit in 32 bits); ENOMEM (12). */
VANTREL_API VRC VValueConvert(VValue *value, VDataType fromType,
                              VDataType toType);
/* Writes the conversion of *src (srcType) into *dst (dstType), leaving
 * *src alone.  Same rules as VValueConvert, except that equal types are
 * copied (text duplicated, booleans normalised to 0 or 1, binary refused)
 * and booleans become the texts "1" and "0".  A text produced is the
 * caller's.  *dst is written only on success.
 * Returns 0 (also, writing nothing, when either type is outside 1 to 10);
 * VRC_TYPE_MISMATCH (-24) for VDT_BINARY; the parser's code; ENOMEM (12).
 */
VANTREL_API VRC VValueCopyAndConvert(VValue *dst, VDataType dstType,
                                     const VValue *src, VDataType srcType);
/* Writes the type's zero value without freeing what the cell held: zero
 * numbers, no binary data, and for VDT_STRING an empty text, newly
 * allocated when allocate is non-zero and otherwise a shared static empty
 * text that must never be freed.  An unknown type changes nothing.
 * Returns 0, or ENOMEM (12) with the cell unchanged. */
VANTREL_API VRC VValueSetDefault(VValue *value, VDataType type,
                                 int32_t allocate);
/* Stores in *out dup of the cell's text: a text itself, numbers formatted
 * like VValueConvert does (booleans "TRUE"/"FALSE"), binary data as "0x"
 * and two lower-case hexadecimal digits per byte (the empty text for no
 * data).  *out is written only on success.
 * Returns 0; ENOMEM (12) when dup or a scratch allocation fails;
 * VRC_INVALID_DATATYPE (-25) for a type outside 1 to 10. */
VANTREL_API VRC VValueToStringWith(VValue value, VDataType type, char **out,
                                   VStringDupFunc dup);

/* ---- Typed values ---- */

/* VValueComp(a.value, b.value, a.type); b's type is not consulted. */
VANTREL_API int VTypedValueComp(VTypedValue a, VTypedValue b);
/* Gives a non-null text (VDT_STRING) or data pointer (VDT_BINARY) to
 * release (free for the short form).  The fields are left as they are;
 * the value must not be used afterwards. */
VANTREL_API void VTypedValueFreeValue(VTypedValue *typedValue);
VANTREL_API void VTypedValueFreeValueWith(VTypedValue *typedValue,
                                          VReleaseFunc release);
/* VValueConvert to newType; the type changes only on success.  Returns
 * VValueConvert's code. */
VANTREL_API VRC VTypedValueConvert(VTypedValue *typedValue, VDataType newType);
/* VValueSetDefault of the value under its type. */
VANTREL_API VRC VTypedValueSetDefault(VTypedValue *typedValue,
                                      int32_t allocate);
/* VValueToStringWith with strdup; the caller frees *out. */
VANTREL_API VRC VTypedValueToString(const VTypedValue *typedValue, char **out);

/* ---- Named values ---- */

/* A new record from alloc holding a copy of name and of *value under type
 * (text duplicated with its length word, binary data copied into a new
 * block, none for length 0; a type outside 1 to 10 or a null value copies
 * no value, leaving it zero).
 * Returns null when anything fails; what was allocated is freed and the
 * record given to release. */
VANTREL_API VNamedValue *VNamedValueCreateFromValue(const char *name,
                                                    VDataType type,
                                                    const VValue *value,
                                                    VAllocFunc alloc,
                                                    VReleaseFunc release);
/* VNamedValueCreateFromValue with the typed value's type and value. */
VANTREL_API VNamedValue *VNamedValueCreateFromTypedValue(
    const char *name, const VTypedValue *typedValue, VAllocFunc alloc,
    VReleaseFunc release);
/* Replaces the value with a copy of *value read under the record's own
 * type (which never changes).  The new text or data is copied before the
 * old one is freed.  Returns 0 (also, changing nothing, for a type outside
 * 1 to 10), or ENOMEM (12) with the old value untouched. */
VANTREL_API VRC VNamedValueSetValue(VNamedValue *namedValue,
                                    const VValue *value);
/* VNamedValueSetValue with the typed value's value; its type is not
 * compared with the record's. */
VANTREL_API VRC VNamedValueSetTypedValue(VNamedValue *namedValue,
                                         const VTypedValue *typedValue);
/* VValueSetDefault on the record's value; the old text or data is not
 * freed. */
VANTREL_API VRC VNamedValueSetDefault(VNamedValue *namedValue,
                                      int32_t allocate);
/* VValueToStringWith with strdup; the caller frees *out. */
VANTREL_API VRC VNamedValueToString(const VNamedValue *namedValue, char **out);
/* A new record from alloc with copies of source's name, type, value and
 * ownerWord; null when anything fails (nothing is left allocated). */
VANTREL_API VNamedValue *VNamedValueCopy(const VNamedValue *source,
                                         VAllocFunc alloc,
                                         VReleaseFunc release);
/* Frees the name and the text or binary data, then gives the record to
 * release. */
VANTREL_API void VNamedValueDestroy(VNamedValue *namedValue,
                                    VReleaseFunc release);

/* Hash and compare functions by name, shaped for a VHash; they read only
 * the first field of what they are given (a named value, or a pointer to a
 * variable holding a name) and ignore arg.  The case-insensitive pair must
 * be used together.  A null record or name hashes to 0 and sorts before
 * every name; two of them compare equal. */
VANTREL_API uint32_t VNamedValueHash(const void *namedValue, void *arg);
VANTREL_API uint32_t VNamedValueCIHash(const void *namedValue, void *arg);
VANTREL_API int VNamedValueComp(const void *a, const void *b, void *arg);
VANTREL_API int VNamedValueCIComp(const void *a, const void *b, void *arg);

/* Writes "name = value\n" to standard output; texts in double quotes,
 * booleans as TRUE or FALSE, binary values as "<n> bytes binary data".  A
 * type outside 1 to 10 writes only "name = " and the newline. */
VANTREL_API void VNamedValuePrint(const VNamedValue *namedValue);

VANTREL_END_DECLS

#endif /* VANTREL_VVALUE_H */
