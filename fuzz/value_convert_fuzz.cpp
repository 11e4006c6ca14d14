// Value conversions from text: the result must be what the named parser
// gives, and a failed conversion (the parser's code, 12 after an injected
// allocation failure) must leave the cell as it was.  Numbers rendered as
// text must read back as the same number.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>

#include "fuzz_support.h"
#include "vantrel/vrc.h"
#include "vantrel/vstring.h"
#include "vantrel/vvalue.h"

namespace {

bool Same(const VValue &a, const VValue &b) {
  return memcmp(&a, &b, sizeof a) == 0;
}

// What the parser of `type` makes of text, in a cell, and its code.
VRC Parse(const char *text, VDataType type, VValue *cell) {
  switch (type) {
    case VDT_SHORT:
      return VStringToShort(text, &cell->shortValue);
    case VDT_INTEGER:
      return VStringToInteger(text, &cell->integerValue);
    case VDT_UNSIGNED:
      return VStringToUnsigned(text, &cell->unsignedValue);
    case VDT_BOOLEAN:
      return VStringToBoolean(text, &cell->booleanValue);
    case VDT_REAL:
      return VStringToReal(text, &cell->realValue);
    case VDT_INTEGER64:
      return VStringToInteger64(text, &cell->integer64Value);
    case VDT_UNSIGNED64:
      return VStringToUnsigned64(text, &cell->unsigned64Value);
    default:
      return -1;
  }
}

// The bytes of a cell of `type` that carry its value.
size_t Width(VDataType type) {
  switch (type) {
    case VDT_SHORT:
      return 2;
    case VDT_INTEGER:
    case VDT_UNSIGNED:
    case VDT_BOOLEAN:
    case VDT_UTC:
      return 4;
    default:
      return 8;
  }
}

void FromText(const std::string &text, VDataType to, vfuzz::AllocFault &fault,
              bool copying) {
  char *owned = strdup(text.c_str());
  VValue cell;
  memset(&cell, 0xa5, sizeof cell);
  cell.stringValue.text = owned;
  cell.stringValue.length = uint32_t(text.size());
  const VValue before = cell;
  VValue dst;
  memset(&dst, 0x5a, sizeof dst);
  const VValue dst_before = dst;
  fault.Arm();
  VRC rc = copying ? VValueCopyAndConvert(&dst, to, &cell, VDT_STRING)
                   : VValueConvert(&cell, VDT_STRING, to);
  bool fired = fault.Disarm();
  VValue result = copying ? dst : cell;
  if (copying) FUZZ_CHECK(Same(cell, before));  // the source is read only
  if (rc != 0) {
    FUZZ_CHECK(Same(copying ? dst : cell, copying ? dst_before : before));
    FUZZ_CHECK(strcmp(owned, text.c_str()) == 0);
    FUZZ_CHECK(rc != ENOMEM || fired);
  }
  if (to == VDT_BINARY) FUZZ_CHECK(rc == VRC_TYPE_MISMATCH);
  if (to < 1 || to > 10) FUZZ_CHECK(rc == 0 || rc == VRC_INVALID_DATATYPE);
  if (rc == 0 && to >= 1 && to <= 10 && to != VDT_UTC) {
    if (to == VDT_STRING) {
      if (copying) {  // a duplicate
        FUZZ_CHECK(result.stringValue.text != owned &&
                   strcmp(result.stringValue.text, owned) == 0 &&
                   result.stringValue.length == text.size());
        free(result.stringValue.text);
      }
    } else {
      VValue parsed;
      memset(&parsed, 0, sizeof parsed);
      FUZZ_CHECK(Parse(text.c_str(), to, &parsed) == 0);
      size_t width = Width(to);
      if (to == VDT_BOOLEAN || to == VDT_REAL || width == 8) {
        FUZZ_CHECK(memcmp(&parsed, &result, width) == 0 ||
                   (to == VDT_REAL && result.realValue != result.realValue));
      } else {
        FUZZ_CHECK(memcmp(&parsed, &result, width) == 0);
      }
    }
  } else if (rc != 0 && to >= 1 && to <= 10 && to != VDT_UTC &&
             to != VDT_STRING && to != VDT_BINARY && !fired) {
    // Rejected: exactly the parser's code.
    VValue parsed;
    FUZZ_CHECK(Parse(text.c_str(), to, &parsed) == rc);
  }
  // In place, success consumed the text; otherwise it is still ours.
  if (copying || rc != 0 || to == VDT_STRING) free(owned);
}

// A number rendered as text reads back as the same number.
void ToTextAndBack(vfuzz::Input &in, VDataType from, vfuzz::AllocFault &fault) {
  VValue cell;
  uint64_t bits = in.Take<uint64_t>();
  memcpy(&cell, &bits, sizeof bits);
  const VValue before = cell;
  bool copying = in.Bool();
  VValue text;
  memset(&text, 0, sizeof text);
  fault.Arm();
  VRC rc = copying ? VValueCopyAndConvert(&text, VDT_STRING, &cell, from)
                   : VValueConvert(&(text = cell), from, VDT_STRING);
  bool fired = fault.Disarm();
  if (rc != 0) {
    FUZZ_CHECK(rc == ENOMEM && fired);
    FUZZ_CHECK(copying || Same(text, before));
    return;
  }
  const char *t = text.stringValue.text;
  FUZZ_CHECK(t != nullptr && strlen(t) == text.stringValue.length);
  char expected[512];
  switch (from) {
    case VDT_SHORT:
      snprintf(expected, sizeof expected, "%d", before.shortValue);
      break;
    case VDT_INTEGER:
    case VDT_UTC:
      snprintf(expected, sizeof expected, "%d", before.integerValue);
      break;
    case VDT_UNSIGNED:
      snprintf(expected, sizeof expected, "%u", before.unsignedValue);
      break;
    case VDT_BOOLEAN:
      snprintf(expected, sizeof expected, "%s",
               copying ? (before.booleanValue != 0 ? "1" : "0")
                       : (before.booleanValue != 0 ? "TRUE" : "FALSE"));
      break;
    case VDT_REAL:
      snprintf(expected, sizeof expected, "%f", before.realValue);
      break;
    case VDT_INTEGER64:
      snprintf(expected, sizeof expected, "%lld",
               (long long)before.integer64Value);
      break;
    default:
      snprintf(expected, sizeof expected, "%llu",
               (unsigned long long)before.unsigned64Value);
      break;
  }
  FUZZ_CHECK(strcmp(t, expected) == 0);
  if (from != VDT_REAL && from != VDT_UTC) {
    VValue back;
    memset(&back, 0, sizeof back);
    FUZZ_CHECK(VValueCopyAndConvert(&back, from, &text, VDT_STRING) == 0);
    if (from == VDT_BOOLEAN) {
      FUZZ_CHECK(back.booleanValue == (before.booleanValue != 0));
    } else {
      FUZZ_CHECK(memcmp(&back, &before, Width(from)) == 0);
    }
  }
  free(text.stringValue.text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  vfuzz::Input in(data, size);
  uint8_t mode = in.Byte();
  VDataType type = static_cast<VDataType>(in.Below(12));
  vfuzz::AllocFault fault(in.Byte());
  if ((mode & 1) != 0 && type >= 1 && type <= 10 && type != VDT_STRING &&
      type != VDT_BINARY) {
    ToTextAndBack(in, type, fault);
  } else {
    FromText(in.Rest(), type, fault, (mode & 2) != 0);
  }
  return 0;
}
