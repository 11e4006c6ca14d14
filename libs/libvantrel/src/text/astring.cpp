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
#include <wchar.h>

#include <array>
#include <string_view>
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
//
// Each conversion is read, its argument taken with the type that its letter
// and size letter name, and the conversion rendered by the C library's own
// formatter from a specification text that this layer writes itself.  So
// the output is the C library's, while "%n" and numbered arguments ("%2$s")
// never reach it: the layer stores counts and takes arguments itself.

// The output length stays below INT_MAX with room for the tracker's rounding.
constexpr uint64_t kMaxOutput = kMaxBlock - 2 * kQuantum;
// Highest argument number of a numbered format, the C library's own limit.
constexpr int kMaxPosition = 4096;

enum class SizeLetter : uint8_t {
  kNone,
  kChar,        // hh
  kShort,       // h
  kLong,        // l
  kLongLong,    // ll, q
  kLongDouble,  // L
  kSize,        // z, Z
  kIntMax,      // j
  kPtrDiff      // t
};

// Where a width or precision comes from.
enum class Field : uint8_t { kAbsent, kDigits, kStar };

// One conversion specification as read from the format.  Reading takes no
// argument; star values and the value are fetched afterwards.
struct Spec {
  const char *start;  // the "%"
  const char *end;    // past the conversion letter, or the format's end
  char flags[8];      // each of "#0 +-'I" at most once, terminated
  int position;       // m of "%m$"; 0 when the value is taken in order
  Field width_field;
  Field precision_field;
  int width_position;  // m of "*m$"; 0 for a star taken in order
  int precision_position;
  int64_t width;  // digits; 0 when absent or a star
  int64_t precision;
  SizeLetter size;
  char letter;  // '\0' when the format ends inside the specification
};

// Width and precision digits saturate here; the C formatter then rejects
// the value, which ends formatting.
constexpr int64_t kDigitsLimit = int64_t{INT_MAX} + 1;

bool IsDigit(char ch) { return ch >= '0' && ch <= '9'; }

const char *ReadNumber(const char *p, int64_t *value) {
  int64_t n = 0;
  for (; IsDigit(*p); ++p) {
    n = n * 10 + (*p - '0');
    if (n > kDigitsLimit) n = kDigitsLimit;
  }
  *value = n;
  return p;
}

// Reads "m$" at p: the argument number m, or 0 (and p unchanged) when the
// text there is not a number from 1 followed by "$".
const char *ReadPosition(const char *p, int *position) {
  int64_t n = 0;
  const char *q = ReadNumber(p, &n);
  if (q == p || *q != '$' || n == 0) {
    *position = 0;
    return p;
  }
  *position = n > kMaxPosition ? kMaxPosition + 1 : static_cast<int>(n);
  return q + 1;
}

bool IsFlag(char ch) {
  switch (ch) {
    case '#':
    case '0':
    case ' ':
    case '+':
    case '-':
    case '\'':
    case 'I':
      return true;
    default:
      return false;
  }
}

const char *ReadFlags(const char *p, Spec *c) {
  int count = 0;
  for (; IsFlag(*p); ++p) {
    if (memchr(c->flags, *p, count) == nullptr) c->flags[count++] = *p;
  }
  c->flags[count] = '\0';
  return p;
}

// Reads a width or a precision: digits, "*" (the next argument, an int) or
// "*m$" (argument m).
const char *ReadField(const char *p, Field *field, int64_t *value,
                      int *position) {
  if (*p == '*') {
    *field = Field::kStar;
    return ReadPosition(p + 1, position);
  }
  *field = IsDigit(*p) ? Field::kDigits : Field::kAbsent;
  return ReadNumber(p, value);
}

const char *ReadSize(const char *p, SizeLetter *size) {
  switch (*p) {
    case 'h':
      *size = p[1] == 'h' ? SizeLetter::kChar : SizeLetter::kShort;
      return p + (p[1] == 'h' ? 2 : 1);
    case 'l':
      *size = p[1] == 'l' ? SizeLetter::kLongLong : SizeLetter::kLong;
      return p + (p[1] == 'l' ? 2 : 1);
    case 'q':
      *size = SizeLetter::kLongLong;
      return p + 1;
    case 'L':
      *size = SizeLetter::kLongDouble;
      return p + 1;
    case 'z':
    case 'Z':
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

// Reads the specification at p (a "%").
void ReadSpec(const char *p, Spec *c) {
  *c = Spec{};
  c->start = p;
  p = ReadPosition(p + 1, &c->position);
  p = ReadFlags(p, c);
  p = ReadField(p, &c->width_field, &c->width, &c->width_position);
  if (*p == '.') {
    p = ReadField(p + 1, &c->precision_field, &c->precision,
                  &c->precision_position);
    if (c->precision_field == Field::kAbsent)
      c->precision_field = Field::kDigits;
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
  kErrno,  // "%m": the text of errno, no argument
  kCount,
  kOther
};

// What each conversion letter is, looked up once per conversion on every
// call of the formatter.
constexpr std::array<Kind, 256> kKinds = [] {
  std::array<Kind, 256> kinds{};
  kinds.fill(Kind::kOther);
  for (unsigned char c : std::string_view("diouxXbB"))
    kinds[c] = Kind::kInteger;
  for (unsigned char c : std::string_view("eEfFgGaA")) kinds[c] = Kind::kReal;
  kinds['p'] = Kind::kPointer;
  kinds['c'] = kinds['C'] = Kind::kChar;
  kinds['s'] = kinds['S'] = Kind::kString;
  kinds['%'] = Kind::kPercent;
  kinds['m'] = Kind::kErrno;
  kinds['n'] = Kind::kCount;
  return kinds;
}();

Kind KindOf(char letter) { return kKinds[static_cast<unsigned char>(letter)]; }

// The C type of an argument, as it is taken from the argument list.
enum class ArgType : uint8_t {
  kNone,
  kInt,
  kWideChar,  // wint_t
  kLong,
  kLongLong,
  kIntMax,
  kSize,
  kPtrDiff,
  kDouble,
  kLongDouble,
  kPointer,
  kText,
  kWideText,
  kCount  // a pointer that "%n" stores through
};

ArgType IntegerType(SizeLetter size) {
  switch (size) {
    case SizeLetter::kLong:
      return ArgType::kLong;
    // "L" on an integer conversion means long long to the C formatter.
    case SizeLetter::kLongLong:
    case SizeLetter::kLongDouble:
      return ArgType::kLongLong;
    case SizeLetter::kIntMax:
      return ArgType::kIntMax;
    case SizeLetter::kSize:
      return ArgType::kSize;
    case SizeLetter::kPtrDiff:
      return ArgType::kPtrDiff;
    default:
      return ArgType::kInt;
  }
}

// The type of the value a conversion takes.  "C" and "S" take narrow
// arguments here (to the C library they would be wide ones); "ll" and "q"
// on a real take a long double, as the C library reads them.
ArgType ValueType(const Spec &c) {
  bool wide = c.size == SizeLetter::kLong;
  switch (KindOf(c.letter)) {
    case Kind::kInteger:
      return IntegerType(c.size);
    case Kind::kReal:
      return c.size == SizeLetter::kLongDouble ||
                     c.size == SizeLetter::kLongLong
                 ? ArgType::kLongDouble
                 : ArgType::kDouble;
    case Kind::kChar:
      return wide && c.letter == 'c' ? ArgType::kWideChar : ArgType::kInt;
    case Kind::kString:
      return wide && c.letter == 's' ? ArgType::kWideText : ArgType::kText;
    case Kind::kPointer:
      return ArgType::kPointer;
    case Kind::kCount:
      return ArgType::kCount;
    default:
      return ArgType::kNone;
  }
}

// One argument, taken once so that a retry renders the same value.
struct Argument {
  ArgType type;
  union {
    int i;
    wint_t wc;
    long l;
    long long ll;
    intmax_t j;
    size_t z;
    ptrdiff_t t;
    double d;
    long double ld;
    void *p;
    const char *text;
    const wchar_t *wtext;
  };
};

Argument Take(ArgType type, va_list *args) {
  Argument a{};
  a.type = type;
  switch (type) {
    case ArgType::kNone:
      break;
    case ArgType::kInt:
      a.i = va_arg(*args, int);
      break;
    case ArgType::kWideChar:
      a.wc = va_arg(*args, wint_t);
      break;
    case ArgType::kLong:
      a.l = va_arg(*args, long);
      break;
    case ArgType::kLongLong:
      a.ll = va_arg(*args, long long);
      break;
    case ArgType::kIntMax:
      a.j = va_arg(*args, intmax_t);
      break;
    case ArgType::kSize:
      a.z = va_arg(*args, size_t);
      break;
    case ArgType::kPtrDiff:
      a.t = va_arg(*args, ptrdiff_t);
      break;
    case ArgType::kDouble:
      a.d = va_arg(*args, double);
      break;
    case ArgType::kLongDouble:
      a.ld = va_arg(*args, long double);
      break;
    case ArgType::kPointer:
    case ArgType::kCount:
      a.p = va_arg(*args, void *);
      break;
    case ArgType::kText:
      a.text = va_arg(*args, const char *);
      break;
    case ArgType::kWideText:
      a.wtext = va_arg(*args, const wchar_t *);
      break;
  }
  return a;
}

// Where arguments come from: the list in order, or for a numbered format
// the table that was filled from it beforehand (argument m at m - 1).
struct Source {
  va_list *args;
  const Argument *table;
  bool numbered;
};

// A numbered argument here was type-checked when the table was built.
Argument Fetch(Source *from, int position, ArgType type) {
  if (type == ArgType::kNone) return Argument{};
  if (from->numbered) return from->table[position - 1];
  return Take(type, from->args);
}

// ---- numbered formats

// What a numbered format needs of its arguments, argument m at m - 1.
struct Needs {
  ArgType *types;  // kMaxPosition entries
  int highest;
  bool refused;  // mixed or conflicting use; the format is not rendered
};

void Need(Needs *needs, int position, ArgType type) {
  if (position == 0 || position > kMaxPosition) {
    needs->refused = true;
    return;
  }
  ArgType &slot = needs->types[position - 1];
  if (slot != ArgType::kNone && slot != type) needs->refused = true;
  slot = type;
  if (position > needs->highest) needs->highest = position;
}

void NeedAll(Needs *needs, const Spec &c) {
  if (c.width_field == Field::kStar) {
    Need(needs, c.width_position, ArgType::kInt);
  }
  if (c.precision_field == Field::kStar) {
    Need(needs, c.precision_position, ArgType::kInt);
  }
  ArgType type = ValueType(c);
  if (type != ArgType::kNone) Need(needs, c.position, type);
}

// True when any conversion of the format names its argument by number.
bool IsNumbered(const char *format) {
  if (strchr(format, '$') == nullptr) return false;
  for (const char *p = strchr(format, '%'); p != nullptr; p = strchr(p, '%')) {
    Spec c;
    ReadSpec(p, &c);
    if (c.position != 0 || c.width_position != 0 || c.precision_position != 0) {
      return true;
    }
    p = c.end;
  }
  return false;
}

enum class Status : uint8_t { kOk, kNoMemory, kFailed };

// Every argument of a numbered format is taken in order, with the type its
// conversions name, into a new table.  Formats that mix numbered and
// unnumbered arguments, leave a number unused (its type is unknown, so the
// arguments after it cannot be reached) or use one number with two types
// are refused before any argument is read.
Status TakeNumbered(const char *format, va_list *args, Argument **table) {
  auto *types = static_cast<ArgType *>(Calloc(kMaxPosition, sizeof(ArgType)));
  if (types == nullptr) return Status::kNoMemory;
  Needs needs{types, 0, false};
  for (const char *p = strchr(format, '%'); p != nullptr; p = strchr(p, '%')) {
    Spec c;
    ReadSpec(p, &c);
    NeedAll(&needs, c);
    p = c.end;
  }
  for (int i = 0; i < needs.highest; ++i) {
    if (types[i] == ArgType::kNone) needs.refused = true;
  }
  Status status = needs.refused ? Status::kFailed : Status::kOk;
  *table = nullptr;
  if (status == Status::kOk && needs.highest > 0) {
    *table = static_cast<Argument *>(Malloc(needs.highest * sizeof(Argument)));
    if (*table == nullptr) status = Status::kNoMemory;
  }
  for (int i = 0; status == Status::kOk && i < needs.highest; ++i) {
    (*table)[i] = Take(types[i], args);
  }
  Free(types);
  return status;
}

// ---- rendering

// Flags, width, precision, the size letter that the argument's type needs,
// and the letter.  Stars stay stars: their values are passed as ints.
// Flags appear once and numbers saturate, so the text fits in 48 bytes.
void SpecText(const Spec &c, ArgType type, char *out) {
  static constexpr const char *kSizeText[] = {"",  "", "l", "l", "ll", "j", "z",
                                              "t", "", "L", "",  "",   "l", ""};
  static_assert(sizeof kSizeText / sizeof *kSizeText ==
                size_t(ArgType::kCount) + 1);
  char *p = out;
  *p++ = '%';
  p = stpcpy(p, c.flags);
  if (c.width_field == Field::kStar) {
    *p++ = '*';
  } else if (c.width_field == Field::kDigits) {
    p += sprintf(p, "%lld", static_cast<long long>(c.width));
  }
  if (c.precision_field == Field::kStar) {
    p = stpcpy(p, ".*");
  } else if (c.precision_field == Field::kDigits) {
    p += sprintf(p, ".%lld", static_cast<long long>(c.precision));
  }
  if (type == ArgType::kInt && KindOf(c.letter) == Kind::kInteger) {
    if (c.size == SizeLetter::kChar) p = stpcpy(p, "hh");
    if (c.size == SizeLetter::kShort) p = stpcpy(p, "h");
  }
  p = stpcpy(p, kSizeText[static_cast<int>(type)]);
  *p++ = c.letter == 'C' ? 'c' : c.letter == 'S' ? 's' : c.letter;
  *p = '\0';
}

// A conversion ready to render: its specification with star values.
struct Conversion {
  const Spec *spec;
  Kind kind;
  int stars[2];  // width first, then precision, each only when a star
  int star_count;
  int64_t width;  // digits or star value, for the reservation
  int64_t precision;
};

// Room reserved for one conversion's output, margin included.
uint64_t Reservation(const Conversion &c, const Argument &a) {
  uint64_t width = static_cast<uint64_t>(c.width < 0 ? -c.width : c.width);
  uint64_t precision = static_cast<uint64_t>(c.precision < 0 ? 0 : c.precision);
  uint64_t extra = width + precision;
  switch (c.kind) {
    case Kind::kInteger:
    case Kind::kPointer:
      extra += 64;
      break;
    case Kind::kReal:
    case Kind::kErrno:
      extra += 1024;
      break;
    case Kind::kChar:
      extra += 16;
      break;
    case Kind::kString:
      if (a.type == ArgType::kText) {
        bool limited =
            c.spec->precision_field != Field::kAbsent && c.precision >= 0;
        extra +=
            1 + (limited ? strnlen(a.text, static_cast<size_t>(c.precision))
                         : strlen(a.text));
      } else {
        extra += 64;  // a wide text: the retry finds its real size
      }
      break;
    default:
      extra = 0;
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
    case ArgType::kInt:
      return RenderValue(out, room, spec, c, a.i);
    case ArgType::kWideChar:
      return RenderValue(out, room, spec, c, a.wc);
    case ArgType::kLong:
      return RenderValue(out, room, spec, c, a.l);
    case ArgType::kLongLong:
      return RenderValue(out, room, spec, c, a.ll);
    case ArgType::kIntMax:
      return RenderValue(out, room, spec, c, a.j);
    case ArgType::kSize:
      return RenderValue(out, room, spec, c, a.z);
    case ArgType::kPtrDiff:
      return RenderValue(out, room, spec, c, a.t);
    case ArgType::kDouble:
      return RenderValue(out, room, spec, c, a.d);
    case ArgType::kLongDouble:
      return RenderValue(out, room, spec, c, a.ld);
    case ArgType::kPointer:
      return RenderValue(out, room, spec, c, a.p);
    case ArgType::kText:
      return RenderValue(out, room, spec, c, a.text);
    case ArgType::kWideText:
      return RenderValue(out, room, spec, c, a.wtext);
    // "%%" and "%m" take nothing; the extra 0 is never read.
    case ArgType::kNone:
    case ArgType::kCount:
      return RenderValue(out, room, spec, c, 0);
  }
  return -1;
}

// Formatting state: the caller's string, the length written so far, and
// the caller's errno, which "%m" renders although growing may change it.
struct Output {
  char **s;
  uint64_t length;
  int saved_errno;
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

// Renders one conversion into reserved room, retrying with more room while
// the output comes within 5 bytes of the reservation.  The C formatter is
// bounded by the reservation, so a low estimate can only cost a retry.
Status RenderConversion(Output *o, const Conversion &c, const Argument &a) {
  char spec[48];
  SpecText(*c.spec, a.type, spec);
  uint64_t reservation = Reservation(c, a);
  for (;;) {
    if (o->length + reservation > kMaxOutput) return Status::kFailed;
    if (Ensure(o->s, o->length + reservation) == nullptr) {
      return Status::kNoMemory;
    }
    errno = o->saved_errno;
    int count = Render(*o->s + o->length, reservation, spec, c, a);
    // A bounded formatter fails only on what it cannot render at all (an
    // overlong width, a wide character without a multibyte form), which
    // more room would not cure.
    if (count < 0) return Status::kFailed;
    uint64_t written = static_cast<uint64_t>(count);
    if (written + 5 < reservation) {
      o->length += written;
      return Status::kOk;
    }
    reservation += kReadStep * ((written + 5 - reservation) / kReadStep + 1);
  }
}

// "%n" stores the length so far through a pointer to the type its size
// letter names.
void StoreCount(SizeLetter size, void *target, uint64_t length) {
  switch (size) {
    case SizeLetter::kChar:
      *static_cast<signed char *>(target) = static_cast<signed char>(length);
      break;
    case SizeLetter::kShort:
      *static_cast<short *>(target) = static_cast<short>(length);
      break;
    case SizeLetter::kLong:
      *static_cast<long *>(target) = static_cast<long>(length);
      break;
    case SizeLetter::kLongLong:
    case SizeLetter::kLongDouble:
      *static_cast<long long *>(target) = static_cast<long long>(length);
      break;
    case SizeLetter::kSize:
      *static_cast<size_t *>(target) = length;
      break;
    case SizeLetter::kIntMax:
      *static_cast<intmax_t *>(target) = static_cast<intmax_t>(length);
      break;
    case SizeLetter::kPtrDiff:
      *static_cast<ptrdiff_t *>(target) = static_cast<ptrdiff_t>(length);
      break;
    case SizeLetter::kNone:
      *static_cast<int *>(target) = static_cast<int>(length);
      break;
  }
}

// Takes the star values, width before precision, as the C formatter does.
void TakeStars(const Spec &spec, Source *from, Conversion *c) {
  c->width = spec.width;
  c->precision = spec.precision;
  if (spec.width_field == Field::kStar) {
    c->width = c->stars[c->star_count++] =
        Fetch(from, spec.width_position, ArgType::kInt).i;
  }
  if (spec.precision_field == Field::kStar) {
    c->precision = c->stars[c->star_count++] =
        Fetch(from, spec.precision_position, ArgType::kInt).i;
  }
}

bool IsPlain(const Spec &c) {
  return c.flags[0] == '\0' && c.width_field == Field::kAbsent &&
         c.precision_field == Field::kAbsent;
}

// In a format read in order no conversion has a number (IsNumbered saw to
// that), so every argument comes from the list.
Status Convert(Output *o, const Spec &spec, Source *from) {
  Conversion c{&spec, KindOf(spec.letter), {0, 0}, 0, 0, 0};
  TakeStars(spec, from, &c);
  Argument a = Fetch(from, spec.position, ValueType(spec));
  switch (c.kind) {
    // Never handed to the C formatter; a null target stores nothing.
    case Kind::kCount:
      if (a.p != nullptr) StoreCount(spec.size, a.p, o->length);
      return Status::kOk;
    // A letter the layer does not know takes no argument and is output as
    // written, as the C library itself does with unknown conversions; the
    // same for a specification cut short by the end of the format.
    case Kind::kOther:
      return AppendRaw(o, spec.start, spec.end - spec.start);
    case Kind::kString:
      if (a.type == ArgType::kText && a.text == nullptr) a.text = "(null)";
      // Plain "%s" needs no formatter: copying gives the same text.
      if (a.type == ArgType::kText && IsPlain(spec)) {
        return AppendRaw(o, a.text, strlen(a.text));
      }
      break;
    case Kind::kPercent:
      if (IsPlain(spec)) return AppendRaw(o, "%", 1);
      break;
    default:
      break;
  }
  if (spec.size == SizeLetter::kShort && a.type == ArgType::kInt) {
    a.i = static_cast<int16_t>(a.i);
  }
  if (c.kind == Kind::kChar && a.type == ArgType::kInt) {
    a.i = static_cast<signed char>(a.i);
  }
  return RenderConversion(o, c, a);
}

Status FormatInto(Output *o, const char *format, Source *from) {
  const char *p = format;
  for (;;) {
    const char *percent = strchr(p, '%');
    size_t run = percent != nullptr ? size_t(percent - p) : strlen(p);
    Status status = AppendRaw(o, p, run);
    if (status != Status::kOk || percent == nullptr) return status;
    Spec spec;
    ReadSpec(percent, &spec);
    status = Convert(o, spec, from);
    if (status != Status::kOk) return status;
    p = spec.end;
  }
}

// Returns the length, or -1; the string is null when memory ran out.
int Format(char **s, const char *format, va_list *args) {
  Output o{s, 0, errno};
  if (CopyN(s, "", 0) == nullptr) return -1;
  Argument *table = nullptr;
  Status status = Status::kOk;
  bool numbered = IsNumbered(format);
  if (numbered) status = TakeNumbered(format, args, &table);
  Source from{args, table, numbered};
  if (status == Status::kOk) status = FormatInto(&o, format, &from);
  Free(table);
  if (status == Status::kNoMemory) Release(s);
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
