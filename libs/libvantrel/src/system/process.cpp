// Handles on running processes and their start times.  Opening a process
// reads everything its start time needs -- its start in clock ticks after
// boot from /proc/<pid>/stat, the boot time from /proc/stat, the ticks per
// second -- so that a handle keeps answering for the process it was opened
// on, as a process handle does, even after that process has ended and its
// id has been given to another.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <atomic>

#include "internal/alloc.h"
#include "internal/scope.h"
#include "platform/clock.h"
#include "platform/file.h"
#include "platform/system.h"
#include "vantrel/vrc.h"
#include "vantrel/vsystem.h"

namespace vantrel::internal {

// What the system needs to answer for one process.
struct ProcessPlatform {
  uint64_t startTicks;     // clock ticks from boot to the process's start
  int64_t bootTime;        // seconds since the epoch
  int64_t ticksPerSecond;  // of startTicks
};

}  // namespace vantrel::internal

struct VProcessData {
  int32_t pid;
  vantrel::internal::ProcessPlatform platform;
};

namespace vantrel::internal {
namespace {

namespace vp = vantrel::platform;

constexpr char kSystemStat[] = "/proc/stat";
constexpr char kBootTimeKey[] = "btime ";
// The field of /proc/<pid>/stat that holds the start time, counted from
// the state, the first field after the command name.
constexpr int kStartTimeField = 22 - 3;
constexpr size_t kProcessStatSize = 1024;
constexpr size_t kSystemStatFirstSize = 4096;
constexpr size_t kSystemStatLargest = size_t{1} << 20;
constexpr int kEpochYear = 70;  // years since 1900

// The boot time does not change while the system runs: read once (0 until
// then).
std::atomic<int64_t> g_bootTime{0};

// The value of the complete "btime" line of text, or 0.
int64_t BootTimeIn(const char *text) {
  for (const char *line = text; line != nullptr && *line != '\0';) {
    const char *end = strchr(line, '\n');
    if (end == nullptr) return 0;  // cut off: not known to be whole
    if (strncmp(line, kBootTimeKey, sizeof kBootTimeKey - 1) == 0) {
      return strtoll(line + sizeof kBootTimeKey - 1, nullptr, 10);
    }
    line = end + 1;
  }
  return 0;
}

// /proc/stat is read into a buffer grown until its "btime" line is in it
// (the interrupt counts before it grow with the machine).  0, ENOMEM, or
// VRC_FAILURE when it cannot be read or has no boot time.
VRC ReadBootTime(int64_t *boot) {
  *boot = g_bootTime.load(std::memory_order_relaxed);
  if (*boot > 0) return 0;
  for (size_t size = kSystemStatFirstSize; size <= kSystemStatLargest;
       size *= 2) {
    HeapPtr<char> text(static_cast<char *>(Malloc(size)));
    if (!text) return ENOMEM;
    int error = vp::FileReadSmall(kSystemStat, text.get(), size, nullptr);
    if (error != 0 && error != EFBIG) return VRC_FAILURE;
    *boot = BootTimeIn(text.get());
    if (*boot > 0) {
      g_bootTime.store(*boot, std::memory_order_relaxed);
      return 0;
    }
    if (error == 0) return VRC_FAILURE;
  }
  return VRC_FAILURE;
}

// The start time field of a /proc/<pid>/stat text; false when it has none.
// The command name in parentheses may hold blanks and parentheses, so the
// fields are counted from its last closing parenthesis.
bool StartTicksIn(const char *text, uint64_t *ticks) {
  const char *p = strrchr(text, ')');
  if (p == nullptr) return false;
  ++p;
  for (int field = 0; field < kStartTimeField; ++field) {
    p = strchr(p + 1, ' ');
    if (p == nullptr) return false;
  }
  char *end = nullptr;
  errno = 0;
  *ticks = strtoull(p + 1, &end, 10);
  return end != p + 1 && errno == 0;
}

// Fills the platform part for pid: 0, ENOMEM, or VRC_FAILURE when there is
// no such process or the system does not say when it started.
VRC OpenProcess(int32_t pid, ProcessPlatform *platform) {
  char path[32];
  snprintf(path, sizeof path, "/proc/%d/stat", static_cast<int>(pid));
  char text[kProcessStatSize];
  if (vp::FileReadSmall(path, text, sizeof text, nullptr) != 0 ||
      !StartTicksIn(text, &platform->startTicks)) {
    return VRC_FAILURE;
  }
  if (vp::ClockTicksPerSecond(&platform->ticksPerSecond) != 0) {
    return VRC_FAILURE;
  }
  return ReadBootTime(&platform->bootTime);
}

// The start as a calendar time in the local zone and back, which refuses
// times before 1970.
VRC StartTime(const ProcessPlatform &platform, time_t *start) {
  time_t t = static_cast<time_t>(
      platform.bootTime +
      static_cast<int64_t>(platform.startTicks /
                           static_cast<uint64_t>(platform.ticksPerSecond)));
  struct tm local;
  if (vp::LocalTime(t, &local) != 0 || local.tm_year < kEpochYear) {
    return VRC_FAILURE;
  }
  struct tm broken {};
  broken.tm_year = local.tm_year;
  broken.tm_mon = local.tm_mon;
  broken.tm_mday = local.tm_mday;
  broken.tm_hour = local.tm_hour;
  broken.tm_min = local.tm_min;
  broken.tm_sec = local.tm_sec;
  broken.tm_isdst = -1;  // let the conversion decide
  return vp::MakeTime(&broken, start) == 0 ? 0 : VRC_FAILURE;
}

}  // namespace
}  // namespace vantrel::internal

namespace vi = vantrel::internal;

VRC VProcessGet(int32_t pid, VProcess *out) {
  if (out == nullptr) return EINVAL;
  if (pid < 0) return VRC_FAILURE;
  *out = nullptr;
  vi::HeapPtr<VProcessData> process(
      static_cast<VProcessData *>(vi::Calloc(1, sizeof(VProcessData))));
  if (!process) return ENOMEM;
  process->pid = pid;
  VRC rc = vi::OpenProcess(pid, &process->platform);
  if (rc != 0) return rc;
  *out = process.Release();
  return 0;
}

VRC VProcessGetStartTime(VProcess process, time_t *start) {
  if (process == nullptr || start == nullptr) return VRC_FAILURE;
  return vi::StartTime(process->platform, start);
}

VRC VProcessFree(VProcess process) {
  vi::Free(process);
  return 0;
}
