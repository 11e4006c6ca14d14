// The writers of properties files: write mode (every property by name) and
// reproduce mode (what the top-level file set, in its order, with its
// include statements where they stood).  Lines are gathered in a buffer
// and handed to a stream or a descriptor in large pieces.
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <strings.h>

#include <algorithm>

#include "config/prop_internal.h"
#include "internal/alloc.h"
#include "internal/scope.h"
#include "platform/file.h"
#include "vantrel/version.h"
#include "vantrel/vstrbuf.h"
#include "vantrel/vstring.h"
#include "vantrel/vtime.h"

namespace vi = vantrel::internal;

namespace vantrel::internal {
namespace {

constexpr uint32_t kFlushAt = 16384;

// Where the text goes: a stream, or else a descriptor.
class Sink {
 public:
  Sink(FILE *stream, int descriptor)
      : stream_(stream), descriptor_(descriptor) {
    vb_init(&buffer_);
  }
  Sink(const Sink &) = delete;
  Sink &operator=(const Sink &) = delete;
  ~Sink() { vb_free(&buffer_); }

  vb_buffer *buffer() { return &buffer_; }

  // Hands the gathered text on when there is enough of it (or always).
  VRC Flush(bool always) {
    if (buffer_.length == 0 || (!always && buffer_.length < kFlushAt)) return 0;
    VRC rc = stream_ != nullptr ? ToStream() : ToDescriptor();
    buffer_.length = 0;
    return rc;
  }

 private:
  VRC ToStream() {
    errno = 0;
    if (fwrite(buffer_.data, 1, buffer_.length, stream_) == buffer_.length) {
      return 0;
    }
    return errno != 0 ? errno : EIO;
  }
  VRC ToDescriptor() {
    return platform::FileWriteAll(descriptor_, buffer_.data, buffer_.length);
  }

  FILE *stream_;
  int descriptor_;
  vb_buffer buffer_;
};

VRC Header(vb_buffer *out) {
  char now[32];
  v_timestring(now);
  return vb_sprintf(out,
                    "# Vantrel Properties File\n#\n# libvantrel: %s\n"
                    "\n# Written: %s\n\n",
                    VANTREL_VERSION_STRING, now);
}

VRC BinaryValue(vb_buffer *out, const VValue &value) {
  uint32_t length = value.binaryValue.length;
  const auto *bytes =
      static_cast<const unsigned char *>(value.binaryValue.data);
  VRC rc = 0;
  if (length > 0 && bytes != nullptr) {
    rc = vb_strcat(out, "0x");
    for (uint32_t i = 0; rc == 0 && i < length; ++i) {
      rc = vb_sprintf(out, "%02x", bytes[i]);
    }
  }
  if (rc != 0) return rc;
  return vb_sprintf(out, "# %s (%u bytes)", VDataTypeName(VDT_BINARY), length);
}

VRC TextValue(vb_buffer *out, const char *text) {
  char *quoted = nullptr;
  VRC rc = VStringQuoted(text != nullptr ? text : "", &quoted);
  if (rc != 0) return rc;
  rc = vb_sprintf(out, "%s # %s", quoted, VDataTypeName(VDT_STRING));
  Free(quoted);
  return rc;
}

VRC Value(vb_buffer *out, VDataType type, const VValue &value) {
  const char *name = VDataTypeName(type);
  switch (type) {
    case VDT_SHORT:
      return vb_sprintf(out, "%d # %s", value.shortValue, name);
    case VDT_INTEGER:
      return vb_sprintf(out, "%d # %s", value.integerValue, name);
    case VDT_UNSIGNED:
      return vb_sprintf(out, "%u # %s", value.unsignedValue, name);
    case VDT_BOOLEAN:
      return vb_sprintf(out, "%s # %s",
                        value.booleanValue != 0 ? "TRUE" : "FALSE", name);
    case VDT_REAL:
      return vb_sprintf(out, "%f # %s", value.realValue, name);
    case VDT_UTC: {
      time_t seconds = value.utcValue;
      char date[32];
      return vb_sprintf(out, "%ld # %s %s", static_cast<long>(seconds), name,
                        v_ctimex(&seconds, date));
    }
    case VDT_STRING:
      return TextValue(out, value.stringValue.text);
    case VDT_BINARY:
      return BinaryValue(out, value);
    case VDT_INTEGER64:
      return vb_sprintf(out, "%lld # %s",
                        static_cast<long long>(value.integer64Value), name);
    default:
      return vb_sprintf(out, "%llu # %s",
                        static_cast<unsigned long long>(value.unsigned64Value),
                        name);
  }
}

VRC PropertyLine(vb_buffer *out, VProperty property) {
  VRC rc = vb_sprintf(out, "%s: ", property->name);
  if (rc == 0) rc = Value(out, property->type, property->value);
  if (rc == 0) rc = vb_sprintf(out, " (%s)\n", property->description);
  return rc;
}

// Include statements not written yet: those from before `order` (all of
// them for a negative order), in list order.
VRC Includes(Sink *sink, VPropMgr manager, int64_t order) {
  for (void *item = VListFirst(manager->includes); item != nullptr;
       item = VListNext(item)) {
    auto *include = static_cast<IncludeRecord *>(item);
    if (include->written || (order >= 0 && include->line >= order)) continue;
    VRC rc = vb_sprintf(sink->buffer(), "include %s\n", include->text);
    if (rc != 0) return rc;
    include->written = true;
  }
  return 0;
}

struct Collect {
  VProperty *fill;
};

int CollectOne(void *item, void *argument) {
  *static_cast<Collect *>(argument)->fill++ = static_cast<VProperty>(item);
  return 0;
}

bool ByName(VProperty a, VProperty b) {
  return strcasecmp(a->name, b->name) < 0;
}

bool ByOrder(VProperty a, VProperty b) {
  if (a->order != b->order) return a->order < b->order;
  return ByName(a, b);
}

VRC Properties(Sink *sink, VPropMgr manager, bool reproduce) {
  uint32_t count = VHashNumItems(manager->properties.hash);
  auto *all = static_cast<VProperty *>(Malloc(sizeof(VProperty) * (count + 1)));
  if (all == nullptr) return ENOMEM;
  ScopeExit release([all] { Free(all); });
  Collect collect{all};
  VHashWalk(manager->properties.hash, CollectOne, &collect, 0, nullptr);
  std::sort(all, all + count, reproduce ? ByOrder : ByName);
  for (uint32_t i = 0; i < count; ++i) {
    VProperty property = all[i];
    if ((property->flags & VPROP_FLAG_NOWRITE) != 0) continue;
    if (reproduce && property->order < 0) continue;
    VRC rc = reproduce ? Includes(sink, manager, property->order) : 0;
    if (rc == 0) rc = PropertyLine(sink->buffer(), property);
    if (rc == 0) rc = sink->Flush(false);
    if (rc != 0) return rc;
  }
  return 0;
}

VRC Write(VPropMgr manager, Sink *sink, bool reproduce) {
  for (void *item = VListFirst(manager->includes); item != nullptr;
       item = VListNext(item)) {
    static_cast<IncludeRecord *>(item)->written = false;
  }
  VRC rc = Header(sink->buffer());
  if (rc == 0) rc = sink->Flush(true);
  if (rc == 0) rc = Properties(sink, manager, reproduce);
  if (rc == 0) rc = Includes(sink, manager, -1);
  if (rc == 0) rc = vb_strcat(sink->buffer(), "\n# End of File\n");
  if (rc == 0) rc = sink->Flush(true);
  return rc;
}

VRC WriteStream(VPropMgr manager, FILE *stream, bool reproduce) {
  if (manager == nullptr || stream == nullptr) return EINVAL;
  Sink sink(stream, platform::kNoFile);
  VRC rc = Write(manager, &sink, reproduce);
  if (rc == 0 && fflush(stream) != 0) rc = errno != 0 ? errno : EIO;
  return rc;
}

VRC WriteDescriptor(VPropMgr manager, int descriptor, bool reproduce) {
  if (manager == nullptr) return EINVAL;
  if (descriptor < 0) return EBADF;
  Sink sink(nullptr, descriptor);
  return Write(manager, &sink, reproduce);
}

}  // namespace
}  // namespace vantrel::internal

VRC VPropMgrWriteToStream(VPropMgr manager, FILE *stream) {
  return vi::WriteStream(manager, stream, false);
}

VRC VPropMgrWriteToFile(VPropMgr manager, const char *path) {
  if (manager == nullptr || path == nullptr) return EINVAL;
  int descriptor = vantrel::platform::kNoFile;
  VRC rc = vantrel::platform::FileOpen(path,
                                       vantrel::platform::kFileWrite |
                                           vantrel::platform::kFileCreate |
                                           vantrel::platform::kFileTruncate,
                                       0666, &descriptor);
  if (rc != 0) return rc;
  rc = vi::WriteDescriptor(manager, descriptor, false);
  VRC closed = vantrel::platform::FileClose(descriptor);
  return rc != 0 ? rc : closed;
}

VRC VPropMgrWriteToFD(VPropMgr manager, int descriptor) {
  return vi::WriteDescriptor(manager, descriptor, false);
}

VRC VPropMgrReproduceToStream(VPropMgr manager, FILE *stream) {
  return vi::WriteStream(manager, stream, true);
}

VRC VPropMgrReproduceToFD(VPropMgr manager, int descriptor) {
  return vi::WriteDescriptor(manager, descriptor, true);
}
