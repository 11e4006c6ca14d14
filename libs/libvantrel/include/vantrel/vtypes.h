/* Data types, column types and storage types: their numbers, names, sizes
 * and code letters, the column definition record, and the table that says
 * which data types meet.
 *
 * Lookups are pure table reads and never fail; column definitions are
 * caller-held records.  Nothing here locks or keeps state. */
#ifndef VANTREL_VTYPES_H
#define VANTREL_VTYPES_H

#include "vantrel/vbase.h"

VANTREL_BEGIN_DECLS

/* The three enumerations are exactly 32 bits wide whatever the compiler
 * makes of an enum, and any 32-bit number may be passed to the lookups
 * (unknown numbers give the documented fallbacks). */
typedef int32_t VDataType;
enum VDataTypeValues {
  VDT_INVALID = 0,
  VDT_SHORT = 1,
  VDT_INTEGER = 2,
  VDT_UNSIGNED = 3,
  VDT_BOOLEAN = 4,
  VDT_REAL = 5,
  VDT_UTC = 6,
  VDT_STRING = 7,
  VDT_BINARY = 8,
  VDT_INTEGER64 = 9,
  VDT_UNSIGNED64 = 10
};

/* Column types: how a column stores its data type. */
typedef int32_t VColumnType;
enum VColumnTypeValues {
  VCT_INTEGER = 0,
  VCT_UTC = 1,
  VCT_VARCHAR = 2,
  VCT_INCR = 5,
  VCT_CHARACTER = 10,
  VCT_SHORT = 11,
  VCT_UNSIGNED = 12,
  VCT_BOOLEAN = 13,
  VCT_REAL = 14,
  VCT_BINARY = 15,
  VCT_INTEGER64 = 16,
  VCT_UNSIGNED64 = 17,
  VCT_INVALID = 18
};

/* Storage types of a table. */
typedef int32_t VStorageType;
enum VStorageTypeValues {
  VST_NONE = 0,
  VST_PERSISTENT = 1,
  VST_VIRTUAL = 2,
  VST_TEMPORARY = 3
};

VANTREL_END_DECLS

/* The column definition holds a value cell; vvalue.h defines the cell
 * before it reads this header, so either header may be included first. */
#include "vantrel/vvalue.h"

VANTREL_BEGIN_DECLS

/* What a caller passes to VColumnDefCreate: the column type and a type
 * parameter that the record stores without giving it a meaning. */
typedef struct VColumnTypeInfo {
  VColumnType columnType; /* the column type */
  uint32_t typeParam;     /* stored, not interpreted */
} VColumnTypeInfo;

/* Bytes of a column name, terminator included. */
#define VCOLUMN_NAME_SIZE 44

/* A column definition.  The record is the caller's (allocated with the
 * caller's allocator, released through VColumnDefDestroy); a string
 * default's text and a binary default's data belong to the record and
 * live on the C heap. */
typedef struct VColumnDef {
  char name[VCOLUMN_NAME_SIZE]; /* NUL-terminated, at most 43 characters */
  VColumnType columnType;       /* the column type */
  VDataType dataType;           /* VColumnTypeToVDataType(columnType) */
  uint32_t typeParam;           /* as given, not interpreted */
  uint32_t attributes;          /* as given, not interpreted */
  uint32_t extra;               /* 0 after creation */
  VValue defaultValue;          /* in the representation of dataType */
  /* For the owner: owner[0] is 0 after creation; neither is copied or
   * compared. */
  uint32_t owner[2];
} VColumnDef;

/* The type's name ("INTEGER", ...); "****" for an unknown type.  Static
 * text. */
VANTREL_API const char *VDataTypeName(VDataType type);
/* Bytes the type occupies in a value cell (a text pointer for STRING, a
 * 32-bit length and a pointer for BINARY); 0 for an unknown type. */
VANTREL_API int32_t VDataTypeSize(VDataType type);
/* The type whose name equals text ignoring case; VDT_INVALID when none
 * does or text is null. */
VANTREL_API VDataType VStringToDataType(const char *text);
/* The type's code letter ('T', 'I', ...); NUL for an unknown type. */
VANTREL_API char VDataTypeEncode(VDataType type);
/* The type of an upper-case code letter; VDT_INVALID for anything else. */
VANTREL_API VDataType VDataTypeDecode(char letter);

/* The data type a column type holds; VDT_INVALID for the unused numbers 3,
 * 4, 6 to 9, for VCT_INVALID and for anything outside 0 to 18. */
VANTREL_API VDataType VColumnTypeToVDataType(VColumnType columnType);
/* The column type a data type is stored in (STRING gives VCT_CHARACTER,
 * UNSIGNED gives VCT_UNSIGNED); VCT_INVALID for an unknown type. */
VANTREL_API VColumnType VDataTypeToVColumnType(VDataType type);
/* The column type's text, or null for the numbers without one (3, 4, 6 to
 * 9, VCT_BINARY, VCT_INVALID and anything outside 0 to 17).  Static. */
VANTREL_API const char *VColumnTypeToString(VColumnType columnType);
/* The column type whose text (or alternative spelling: "INT", "CHAR",
 * "VARCHARACTER", "BOOL", "DOUBLE", "INT64") equals text ignoring case;
 * VCT_INVALID when none does or text is null. */
VANTREL_API VColumnType VStringToColumnType(const char *text);

/* "" for VST_NONE, "PERSISTENT", "VIRTUAL", "TEMPORARY"; null otherwise.
 * Static. */
VANTREL_API const char *VStorageTypeToString(VStorageType storageType);
/* The storage type of "PERSISTENT", "VIRTUAL", "TEMP" or "TEMPORARY"
 * ignoring case; VST_NONE for anything else, null included. */
VANTREL_API VStorageType VStringToStorageType(const char *text);

/* Allocates a definition with alloc, fills it and stores it in *out (null
 * on failure).  The default is taken by column type from *defaultValue:
 * the first 16 bits for SHORT, the first 32-bit word for INTEGER, UTC,
 * INCR, UNSIGNED and BOOLEAN, all of a REAL, a copy of a text (with the
 * given length word) or of binary data; INTEGER64 and UNSIGNED64 columns
 * take the first 32-bit word and widen it with sign or with zeros.  With
 * defaultValue null the default is zero, an allocated empty text for text
 * columns, and no data for binary columns.
 * Returns 0; EINVAL (22) when name is null or has 44 or more characters
 * (names are never cut; nothing is allocated then); ENOMEM (12) when alloc
 * or a copy of the default fails (nothing is left allocated). */
VANTREL_API VRC VColumnDefCreate(const char *name, VColumnTypeInfo typeInfo,
                                 uint32_t attributes,
                                 const VValue *defaultValue, VAllocFunc alloc,
                                 VColumnDef **out);
/* Copies src into the caller's record dst: name, columnType, dataType,
 * typeParam, attributes, extra, then the default (text and binary data
 * duplicated; a null text stays null).  Column types above 17 stop after
 * the scalar fields; the owner words are not copied.  Returns 0, or ENOMEM
 * (12) when a copy fails: dst is then partly filled and the failed
 * pointer is null, so VColumnDefDestroy may still be called on it. */
VANTREL_API VRC VColumnDefCopy(VColumnDef *dst, const VColumnDef *src);
/* Frees the default's text or binary data, then gives the record to
 * release.  Returns 0. */
VANTREL_API VRC VColumnDefDestroy(VColumnDef *def, VReleaseFunc release);
/* 1 when the names, columnType, typeParam, attributes and extra are equal
 * and VValueComp of the defaults under a's dataType is 0; else 0.  So
 * definitions whose data type is VDT_INVALID never compare equal. */
VANTREL_API int VColumnDefCompare(const VColumnDef *a, const VColumnDef *b);

/* The type in which values of the two types meet, or VDT_INVALID (0) when
 * they cannot be compared or assigned.  Symmetric.  Text meets only text,
 * binary nothing; any number outside 0 to 10 gives 0. */
VANTREL_API VDataType VDataTypeCompatibilityCheck(VDataType first,
                                                  VDataType second);

VANTREL_END_DECLS

#endif /* VANTREL_VTYPES_H */
