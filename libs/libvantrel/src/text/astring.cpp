// Allocated strings: caller-held heap strings that grow in place, a line
// reader, and a formatter that renders one conversion at a time with the C
// library's own formatter.
#include "text/astring.h"

#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

#include <type_traits>

#include "internal/alloc.h"
#include "vantrel/vastring.h"

namespace vantrel::internal {
namespace {

// ---------------------------------------------------------------------------
// Growth tracker

constexpr int kTrackerSize = 10;
constexpr uint64_t kQuantum = 1024;
// Capacities are recorded as signed 32-bit sizes.
constexpr uint64_t kMaxBlock = INT32_MAX;

struct GrowthRecord {
  char *string;       // null for a free record
  int32_t capacity;   // size of the string's heap block
  int32_t requested;  // length + 1 asked for at the latest ensure
  int32_t age;        // lookups of other strings since the last of this one
};

static_assert(std::is_standard_layout_v<GrowthRecord>);
static_assert(offsetof(GrowthRecord, string) == 0);
static_assert(offsetof(GrowthRecord, capacity) == sizeof(void *));
static_assert(offsetof(GrowthRecord, requested) == sizeof(void *) + 4);
static_assert(offsetof(GrowthRecord, age) == sizeof(void *) + 8);

// Allocated zeroed on first use and never released.  Not locked: the family
// is documented as single-threaded.
GrowthRecord *g_tracker;

GrowthRecord *Tracker() {
  if (g_tracker == nullptr) {
    g_tracker =
        static_cast<GrowthRecord *>(Calloc(kTrackerSize, sizeof(GrowthRecord)));
  }
  return g_tracker;
}

GrowthRecord *FindRecord(const char *string) {
  if (g_tracker == nullptr || string == nullptr) return nullptr;
  for (int i = 0; i < kTrackerSize; ++i) {
    if (g_tracker[i].string == string) return &g_tracker[i];
  }
  return nullptr;
}

// Every other record in use grows one lookup older; the string's own record,
// if any, becomes the youngest and is returned.
GrowthRecord *Lookup(const char *string) {
  if (g_tracker == nullptr) return nullptr;
  GrowthRecord *found = nullptr;
  for (int i = 0; i < kTrackerSize; ++i) {
    GrowthRecord &record = g_tracker[i];
    bool self = record.string == string;
    if (self && string != nullptr) found = &record;
    // Branch-free: this runs on every growth check of every string.
    record.age = self ? 0
                      : record.age + (record.string != nullptr &&
                                      record.age < INT32_MAX);
  }
  return found;
}

// The C heap offers no shrink that is guaranteed not to move the block, and
// the evicted string's owner still holds its pointer, so the block keeps its
// size: the string simply stops being tracked.
void TrimInPlace(char *, int32_t) {}

// Takes the first free record, or else the oldest one (the first of equal
// ages), whose string is trimmed and forgotten.  Without a table nothing is
// tracked, which costs only growth speed.
void TrackNew(char *string, int32_t capacity, int32_t requested) {
  GrowthRecord *table = Tracker();
  if (table == nullptr) return;
  GrowthRecord *slot = nullptr;
  for (int i = 0; i < kTrackerSize && slot == nullptr; ++i) {
    if (table[i].string == nullptr) slot = &table[i];
  }
  if (slot == nullptr) {
    slot = &table[0];
    for (int i = 1; i < kTrackerSize; ++i) {
      if (table[i].age > slot->age) slot = &table[i];
    }
    TrimInPlace(slot->string, slot->requested);
  }
  *slot = GrowthRecord{string, capacity, requested, 0};
}

void Forget(GrowthRecord *record) {
  if (record != nullptr) *record = GrowthRecord{};
}

// The documented failure: the string and its record go, the pointer is null.
char *Fail(char **s, GrowthRecord *record) {
  Forget(record);
  Free(*s);
  *s = nullptr;
  return nullptr;
}

// Block size for a string that needs `need` bytes: tracked strings grow to
// the next multiple of 1024 strictly above the need, others get exactly the
// need; never less than 1024.
uint64_t BlockSize(const GrowthRecord *record, uint64_t need) {
  uint64_t size = record != nullptr ? need + kQuantum - need % kQuantum : need;
  return size < kQuantum ? kQuantum : size;
}

char *Ensure(char **s, uint64_t length) {
  uint64_t need = length + 1;
  GrowthRecord *record = Lookup(*s);
  if (record != nullptr && uint64_t(record->capacity) > need) {
    record->requested = static_cast<int32_t>(need);
    return *s;
  }
  uint64_t size = BlockSize(record, need);
  if (size > kMaxBlock) return Fail(s, record);
  char *old = *s;
  char *grown = static_cast<char *>(Realloc(old, size));
  if (grown == nullptr) return Fail(s, record);
  if (old == nullptr) grown[0] = '\0';
  *s = grown;
  auto capacity = static_cast<int32_t>(size);
  auto requested = static_cast<int32_t>(need);
  if (record != nullptr) {
    *record = GrowthRecord{grown, capacity, requested, 0};
  } else {
    TrackNew(grown, capacity, requested);
  }
  return grown;
}

void Static(char **s) {
  if (*s == nullptr) return;
  Forget(Lookup(*s));
  char *exact = static_cast<char *>(Realloc(*s, strlen(*s) + 1));
  if (exact != nullptr) *s = exact;
}

void Release(char **s) {
  if (*s == nullptr) return;
  Forget(Lookup(*s));
  Free(*s);
  *s = nullptr;
}

// ---------------------------------------------------------------------------
// Copy and append

// Where a source lies inside the string's current text, its offset, so that
// it can be found again after the string has moved; -1 otherwise.
ptrdiff_t OffsetInside(const char *string, size_t length, const char *source) {
  if (string == nullptr) return -1;
  auto base = reinterpret_cast<uintptr_t>(string);
  auto at = reinterpret_cast<uintptr_t>(source);
  if (at < base || at > base + length) return -1;
  return static_cast<ptrdiff_t>(at - base);
}

// Writes n characters of source at `start` after making room for them.
char *Place(char **s, size_t start, const char *source, size_t n) {
  size_t current = *s != nullptr ? strlen(*s) : 0;
  ptrdiff_t offset = OffsetInside(*s, current, source);
  // A copy starts from an empty string, so nothing of the old one survives
  // a move.
  if (start == 0 && offset < 0 && *s != nullptr) (*s)[0] = '\0';
  if (Ensure(s, uint64_t{start} + n) == nullptr) return nullptr;
  memmove(*s + start, offset >= 0 ? *s + offset : source, n);
  (*s)[start + n] = '\0';
  return *s;
}

char *CopyN(char **s, const char *source, size_t n) {
  return Place(s, 0, source, n);
}

char *AppendN(char **s, const char *source, size_t n) {
  return Place(s, *s != nullptr ? strlen(*s) : 0, source, n);
}

// ---------------------------------------------------------------------------
// Readers

constexpr uint64_t kReadStep = 256;

// Reads from position 0 until a byte that `ends` accepts (kept) or the end
// of the stream, growing the room by 256 bytes at a time.  Returns the bytes
// stored; 0 when there were none (the string is then released) or when
// memory ran out.
template <typename Ends>
int ReadInto(char **s, FILE *stream, Ends ends) {
  uint64_t position = 0;
  uint64_t room = 0;
  while (!feof(stream)) {
    if (position + 1 >= room) {
      room += kReadStep;
      if (Ensure(s, room) == nullptr) return 0;
    }
    int c = getc(stream);
    // A read error ends the text as the end of file does; going on would
    // retry the failing read for ever.
    if (c == EOF) break;
    (*s)[position++] = static_cast<char>(c);
    (*s)[position] = '\0';
    if (ends(c)) return static_cast<int>(position);
  }
  if (position == 0) Release(s);
  return static_cast<int>(position);
}

// ---------------------------------------------------------------------------
// Formatter

// The output length stays below INT_MAX with room for the tracker's rounding.
constexpr uint64_t kMaxOutput = kMaxBlock - 2 * kQuantum;

enum class SizeLetter : uint8_t {
  kNone,
  kShort,
  kLong,
  kLongLong,
  kLongDouble,
  kSize,
  kIntMax,
  kPtrDiff
};

// One conversion specification as read from the format.
struct Conversion {
  const char *start;  // the "%"
  const char *end;    // past the conversion letter, or the format's end
  char flags[6];      // each of "#0 +-" at most once, terminated
  bool has_width;
  bool has_precision;
  bool width_star;
  bool precision_star;
  int64_t width;  // digits or star value; 0 when absent
  int64_t precision;
  int stars[2];  // star values in argument order
  int star_count;
  SizeLetter size;
  char letter;  // '\0' when the format ends inside the specification
};

// Width and precision digits saturate here; the C formatter then rejects
// the value, which ends formatting.
constexpr int64_t kDigitsLimit = int64_t{INT_MAX} + 1;

const char *ReadNumber(const char *p, int64_t *value) {
  int64_t n = 0;
  for (; *p >= '0' && *p <= '9'; ++p) {
    n = n * 10 + (*p - '0');
    if (n > kDigitsLimit) n = kDigitsLimit;
  }
  *value = n;
  return p;
}

bool IsFlag(char ch) {
  return ch == '#' || ch == '0' || ch == ' ' || ch == '+' || ch == '-';
}

const char *ReadFlags(const char *p, Conversion *c) {
  int count = 0;
  for (; IsFlag(*p); ++p) {
    if (memchr(c->flags, *p, count) == nullptr) c->flags[count++] = *p;
  }
  c->flags[count] = '\0';
  return p;
}

// Reads a width or a precision: digits, or "*" taking the next int.
const char *ReadField(const char *p, va_list *args, Conversion *c, bool *star,
                      int64_t *value) {
  if (*p != '*') return ReadNumber(p, value);
  *star = true;
  *value = c->stars[c->star_count++] = va_arg(*args, int);
  return p + 1;
}

const char *ReadSize(const char *p, SizeLetter *size) {
  switch (*p) {
    case 'h':
      *size = SizeLetter::kShort;
      return p + 1;
    case 'l':
      if (p[1] == 'l') {
        *size = SizeLetter::kLongLong;
        return p + 2;
      }
      *size = SizeLetter::kLong;
      return p + 1;
    case 'q':
      *size = SizeLetter::kLongLong;
      return p + 1;
    case 'L':
      *size = SizeLetter::kLongDouble;
      return p + 1;
    case 'z':
      *size = SizeLetter::kSize;
      return p + 1;
    case 'j':
      *size = SizeLetter::kIntMax;
      return p + 1;
    case 't':
      *size = SizeLetter::kPtrDiff;
      return p + 1;
    default:
      *size = SizeLetter::kNone;
      return p;
  }
}

// Reads the specification at p (a "%"), taking star values from args.
void ReadConversion(const char *p, va_list *args, Conversion *c) {
  *c = Conversion{};
  c->start = p;
  p = ReadFlags(p + 1, c);
  c->has_width = *p == '*' || (*p >= '0' && *p <= '9');
  p = ReadField(p, args, c, &c->width_star, &c->width);
  if (*p == '.') {
    c->has_precision = true;
    p = ReadField(p + 1, args, c, &c->precision_star, &c->precision);
  }
  p = ReadSize(p, &c->size);
  c->letter = *p;
  c->end = *p != '\0' ? p + 1 : p;
}

enum class Kind : uint8_t {
  kInteger,
  kPointer,
  kReal,
  kChar,
  kString,
  kPercent,
  kCount,
  kOther
};

Kind KindOf(char letter) {
  switch (letter) {
    case 'd':
    case 'i':
    case 'o':
    case 'u':
    case 'x':
    case 'X':
      return Kind::kInteger;
    case 'e':
    case 'E':
    case 'f':
    case 'g':
    case 'G':
      return Kind::kReal;
    case 'p':
      return Kind::kPointer;
    case 'c':
    case 'C':
      return Kind::kChar;
    case 's':
    case 'S':
      return Kind::kString;
    case '%':
      return Kind::kPercent;
    case 'n':
      return Kind::kCount;
    default:
      return Kind::kOther;
  }
}

// The argument of one conversion, taken once so that a retry renders the
// same value.
struct Argument {
  enum Type : uint8_t {
    kNone,
    kInt,
    kLong,
    kLongLong,
    kSizeT,
    kIntMax,
    kPtrDiff,
    kDouble,
    kLongDouble,
    kPointer,
    kText
  };
  Type type = kNone;
  union {
    int i;
    long l;
    long long ll;
    size_t z;
    intmax_t j;
    ptrdiff_t t;
    double d;
    long double ld;
    void *p;
    const char *text;
  };
};

void TakeInteger(SizeLetter size, va_list *args, Argument *a) {
  switch (size) {
    case SizeLetter::kNone:
      a->type = Argument::kInt;
      a->i = va_arg(*args, int);
      break;
    case SizeLetter::kShort:
      a->type = Argument::kInt;
      a->i = static_cast<int16_t>(va_arg(*args, int));
      break;
    case SizeLetter::kLong:
      a->type = Argument::kLong;
      a->l = va_arg(*args, long);
      break;
    // "L" on an integer conversion means long long to the C formatter.
    case SizeLetter::kLongLong:
    case SizeLetter::kLongDouble:
      a->type = Argument::kLongLong;
      a->ll = va_arg(*args, long long);
      break;
    case SizeLetter::kSize:
      a->type = Argument::kSizeT;
      a->z = va_arg(*args, size_t);
      break;
    case SizeLetter::kIntMax:
      a->type = Argument::kIntMax;
      a->j = va_arg(*args, intmax_t);
      break;
    case SizeLetter::kPtrDiff:
      a->type = Argument::kPtrDiff;
      a->t = va_arg(*args, ptrdiff_t);
      break;
  }
}

void TakeArgument(const Conversion &c, Kind kind, va_list *args, Argument *a) {
  switch (kind) {
    case Kind::kInteger:
      TakeInteger(c.size, args, a);
      break;
    case Kind::kPointer:
      a->type = Argument::kPointer;
      a->p = va_arg(*args, void *);
      break;
    case Kind::kReal:
      if (c.size == SizeLetter::kLongDouble) {
        a->type = Argument::kLongDouble;
        a->ld = va_arg(*args, long double);
      } else {
        a->type = Argument::kDouble;
        a->d = va_arg(*args, double);
      }
      break;
    case Kind::kChar:
      a->type = Argument::kInt;
      a->i = static_cast<signed char>(va_arg(*args, int));
      break;
    case Kind::kString:
      a->type = Argument::kText;
      a->text = va_arg(*args, const char *);
      if (a->text == nullptr) a->text = "(null)";
      break;
    default:
      break;
  }
}

const char *SizeText(SizeLetter size) {
  switch (size) {
    case SizeLetter::kShort:
      return "h";
    case SizeLetter::kLong:
      return "l";
    case SizeLetter::kLongLong:
      return "ll";
    case SizeLetter::kSize:
      return "z";
    case SizeLetter::kIntMax:
      return "j";
    case SizeLetter::kPtrDiff:
      return "t";
    default:
      return "";
  }
}

// Writes the specification the C formatter gets: flags, width, precision,
// the size letter where it changes the argument's type, and the letter.
// "C" and "S" take narrow arguments here, so they are rendered as "c" and
// "s" (to the C library they would mean wide ones).  Flags appear once and
// numbers saturate, so the text fits in 48 bytes.
void SpecText(const Conversion &c, Kind kind, char *out) {
  char *p = out;
  *p++ = '%';
  p = stpcpy(p, c.flags);
  if (c.width_star) {
    *p++ = '*';
  } else if (c.has_width) {
    p += sprintf(p, "%lld", static_cast<long long>(c.width));
  }
  if (c.precision_star) {
    p = stpcpy(p, ".*");
  } else if (c.has_precision) {
    p += sprintf(p, ".%lld", static_cast<long long>(c.precision));
  }
  if (kind == Kind::kInteger) {
    p = stpcpy(p, c.size == SizeLetter::kLongDouble ? "ll" : SizeText(c.size));
  } else if (kind == Kind::kReal && c.size == SizeLetter::kLongDouble) {
    *p++ = 'L';
  }
  *p++ = c.letter == 'C' ? 'c' : c.letter == 'S' ? 's' : c.letter;
  *p = '\0';
}

// Room reserved for one conversion's output, margin included.
uint64_t Reservation(const Conversion &c, Kind kind, const Argument &a) {
  uint64_t width = static_cast<uint64_t>(c.width < 0 ? -c.width : c.width);
  uint64_t precision = static_cast<uint64_t>(c.precision < 0 ? 0 : c.precision);
  uint64_t extra = 0;
  switch (kind) {
    case Kind::kInteger:
    case Kind::kPointer:
      extra = width + precision + 64;
      break;
    case Kind::kReal:
      extra = width + precision + 1024;
      break;
    case Kind::kChar:
      extra = width + precision + 16;
      break;
    case Kind::kString: {
      size_t length = c.has_precision && c.precision >= 0
                          ? strnlen(a.text, static_cast<size_t>(c.precision))
                          : strlen(a.text);
      extra = length + width + precision + 1;
      break;
    }
    default:
      break;
  }
  return extra + 10;
}

template <typename T>
int RenderValue(char *out, size_t room, const char *spec, const Conversion &c,
                T value) {
  switch (c.star_count) {
    case 0:
      return snprintf(out, room, spec, value);
    case 1:
      return snprintf(out, room, spec, c.stars[0], value);
    default:
      return snprintf(out, room, spec, c.stars[0], c.stars[1], value);
  }
}

int Render(char *out, size_t room, const char *spec, const Conversion &c,
           const Argument &a) {
  switch (a.type) {
    case Argument::kInt:
      return RenderValue(out, room, spec, c, a.i);
    case Argument::kLong:
      return RenderValue(out, room, spec, c, a.l);
    case Argument::kLongLong:
      return RenderValue(out, room, spec, c, a.ll);
    case Argument::kSizeT:
      return RenderValue(out, room, spec, c, a.z);
    case Argument::kIntMax:
      return RenderValue(out, room, spec, c, a.j);
    case Argument::kPtrDiff:
      return RenderValue(out, room, spec, c, a.t);
    case Argument::kDouble:
      return RenderValue(out, room, spec, c, a.d);
    case Argument::kLongDouble:
      return RenderValue(out, room, spec, c, a.ld);
    case Argument::kPointer:
      return RenderValue(out, room, spec, c, a.p);
    case Argument::kText:
      return RenderValue(out, room, spec, c, a.text);
    // "%%" takes nothing; the extra 0 is never read.
    case Argument::kNone:
      return RenderValue(out, room, spec, c, 0);
  }
  return -1;
}

enum class Status : uint8_t { kOk, kNoMemory, kFailed };

// Formatting state: the caller's string and the length written so far.
struct Output {
  char **s;
  uint64_t length;
};

Status AppendRaw(Output *o, const char *text, size_t n) {
  if (n == 0) return Status::kOk;
  if (o->length + n > kMaxOutput) return Status::kFailed;
  if (Ensure(o->s, o->length + n) == nullptr) return Status::kNoMemory;
  memcpy(*o->s + o->length, text, n);
  o->length += n;
  (*o->s)[o->length] = '\0';
  return Status::kOk;
}

// Renders one conversion into reserved room, retrying with 256 more bytes
// while the output comes within 5 bytes of the reservation.  The C formatter
// is bounded by the reservation, so a low estimate can only cost a retry.
Status RenderConversion(Output *o, const Conversion &c, Kind kind,
                        const Argument &a) {
  char spec[48];
  SpecText(c, kind, spec);
  uint64_t reservation = Reservation(c, kind, a);
  for (;;) {
    if (o->length + reservation > kMaxOutput) return Status::kFailed;
    if (Ensure(o->s, o->length + reservation) == nullptr) {
      return Status::kNoMemory;
    }
    int count = Render(*o->s + o->length, reservation, spec, c, a);
    // A bounded formatter fails only on values it cannot render at all
    // (an overlong width), which more room would not cure.
    if (count < 0) return Status::kFailed;
    uint64_t written = static_cast<uint64_t>(count);
    if (written + 5 < reservation) {
      o->length += written;
      return Status::kOk;
    }
    reservation += kReadStep * ((written + 5 - reservation) / kReadStep + 1);
  }
}

void StoreCount(SizeLetter size, va_list *args, uint64_t length) {
  switch (size) {
    case SizeLetter::kShort:
      *va_arg(*args, short *) = static_cast<short>(length);
      break;
    case SizeLetter::kLong:
      *va_arg(*args, long *) = static_cast<long>(length);
      break;
    case SizeLetter::kLongLong:
    case SizeLetter::kLongDouble:
      *va_arg(*args, long long *) = static_cast<long long>(length);
      break;
    case SizeLetter::kSize:
      *va_arg(*args, size_t *) = length;
      break;
    case SizeLetter::kIntMax:
      *va_arg(*args, intmax_t *) = static_cast<intmax_t>(length);
      break;
    case SizeLetter::kPtrDiff:
      *va_arg(*args, ptrdiff_t *) = static_cast<ptrdiff_t>(length);
      break;
    case SizeLetter::kNone:
      *va_arg(*args, int *) = static_cast<int>(length);
      break;
  }
}

bool IsPlain(const Conversion &c) {
  return c.flags[0] == '\0' && !c.has_width && !c.has_precision;
}

Status Convert(Output *o, const Conversion &c, va_list *args) {
  Kind kind = KindOf(c.letter);
  switch (kind) {
    case Kind::kCount:
      StoreCount(c.size, args, o->length);
      return Status::kOk;
    // A letter the layer does not know takes no argument and is output as
    // written, as the C library itself does with unknown conversions; the
    // same for a specification cut short by the end of the format.
    case Kind::kOther:
      return AppendRaw(o, c.start, c.end - c.start);
    default:
      break;
  }
  Argument a;
  TakeArgument(c, kind, args, &a);
  // Plain "%s" and "%%" need no formatter: copying gives the same text.
  if (kind == Kind::kString && IsPlain(c)) {
    return AppendRaw(o, a.text, strlen(a.text));
  }
  if (kind == Kind::kPercent && IsPlain(c)) return AppendRaw(o, "%", 1);
  return RenderConversion(o, c, kind, a);
}

int Format(char **s, const char *format, va_list *args) {
  if (CopyN(s, "", 0) == nullptr) return -1;
  Output o{s, 0};
  const char *p = format;
  Status status = Status::kOk;
  while (status == Status::kOk) {
    const char *percent = strchr(p, '%');
    size_t run = percent != nullptr ? size_t(percent - p) : strlen(p);
    status = AppendRaw(&o, p, run);
    if (status != Status::kOk || percent == nullptr) break;
    Conversion c;
    ReadConversion(percent, args, &c);
    status = Convert(&o, c, args);
    p = c.end;
  }
  return status == Status::kOk ? static_cast<int>(o.length) : -1;
}

}  // namespace

int32_t AStrTrackedCapacity(const char *string) {
  GrowthRecord *record = FindRecord(string);
  return record != nullptr ? record->capacity : -1;
}

int32_t AStrTrackedAge(const char *string) {
  GrowthRecord *record = FindRecord(string);
  return record != nullptr ? record->age : -1;
}

void AStrTrackerReset() {
  Free(g_tracker);
  g_tracker = nullptr;
}

}  // namespace vantrel::internal

namespace vi = vantrel::internal;

char *astrensure(char **s, uint32_t length) {
  if (s == nullptr) return nullptr;
  return vi::Ensure(s, length);
}

void astrstatic(char **s) {
  if (s != nullptr) vi::Static(s);
}

void astrfree(char **s) {
  if (s != nullptr) vi::Release(s);
}

char *astrcpy(char **s, const char *source) {
  if (s == nullptr || source == nullptr) return nullptr;
  return vi::CopyN(s, source, strlen(source));
}

char *astrn0cpy(char **s, const char *buffer, int n) {
  if (s == nullptr || buffer == nullptr) return nullptr;
  size_t limit = n > 0 ? static_cast<size_t>(n) : 0;
  return vi::CopyN(s, buffer, strnlen(buffer, limit));
}

char *astrcat(char **s, const char *source) {
  if (s == nullptr || source == nullptr) return nullptr;
  return vi::AppendN(s, source, strlen(source));
}

char *astrn0cat(char **s, const char *source, int n) {
  if (s == nullptr || source == nullptr) return nullptr;
  if (n < 0) return *s;
  return vi::AppendN(s, source, strnlen(source, static_cast<size_t>(n)));
}

char *afgets(char **s, FILE *stream) {
  if (s == nullptr || stream == nullptr) return nullptr;
  int read = vi::ReadInto(s, stream, [](int c) { return c == '\n' || c == 0; });
  return read > 0 ? *s : nullptr;
}

int afgettoch(char **s, FILE *stream, char stop) {
  if (s == nullptr || stream == nullptr) return 0;
  return vi::ReadInto(s, stream,
                      [stop](int c) { return static_cast<char>(c) == stop; });
}

int avsprintf(char **s, const char *format, va_list args) {
  if (s == nullptr || format == nullptr) return -1;
  va_list own;
  va_copy(own, args);
  int length = vi::Format(s, format, &own);
  va_end(own);
  return length;
}

int v_asprintf(char **s, const char *format, ...) {
  if (s == nullptr || format == nullptr) return -1;
  va_list args;
  va_start(args, format);
  int length = vi::Format(s, format, &args);
  va_end(args);
  return length;
}
