#include "qninet/sys/TimeZone.h"

#include <ctime>
#include <mutex>

namespace qninet::sys {

namespace {

std::mutex g_mutex;
std::optional<TTimeZoneInfo> g_override;

}  // namespace

void set_time_zone_override(std::optional<TTimeZoneInfo> zone) {
  std::lock_guard lock(g_mutex);
  g_override = zone;
}

TTimeZoneInfo time_zone_info(std::optional<std::int64_t> unix_seconds) {
  {
    std::lock_guard lock(g_mutex);
    if (g_override) return *g_override;
  }
  TTimeZoneInfo info;
  const std::time_t t = unix_seconds ? static_cast<std::time_t>(*unix_seconds) : std::time(nullptr);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) {
    info.State = tzsFailed;
    return info;
  }
  tzset();
  info.CurrentOffsetMinutes = static_cast<std::int32_t>(local.tm_gmtoff / 60);
  // glibc's `timezone` is the standard offset in seconds west of UTC; `daylight` says whether
  // the zone has daylight-saving rules at all.
  info.Bias = static_cast<std::int32_t>(::timezone / 60);
  if (!::daylight) {
    info.Bias = -info.CurrentOffsetMinutes;
    info.State = tzsUnknown;
  } else if (local.tm_isdst > 0) {
    info.State = tzsDaylight;
    info.DaylightBias = -info.CurrentOffsetMinutes - info.Bias;
  } else {
    info.State = tzsStandard;
    info.Bias = -info.CurrentOffsetMinutes;
    info.DaylightBias = -60;
  }
  return info;
}

std::int64_t utc_offset_seconds(std::int64_t unix_seconds) {
  {
    std::lock_guard lock(g_mutex);
    if (g_override) return static_cast<std::int64_t>(g_override->CurrentOffsetMinutes) * 60;
  }
  const std::time_t t = static_cast<std::time_t>(unix_seconds);
  std::tm local{};
  if (localtime_r(&t, &local) == nullptr) return 0;
  return local.tm_gmtoff;
}

}  // namespace qninet::sys
