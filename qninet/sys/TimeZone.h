#pragma once
// The local time zone, over localtime_r. Tests inject a zone instead of the machine's.

#include <cstdint>
#include <optional>

namespace qninet::sys {

enum TTimeZoneState : std::uint8_t {
  tzsUnknown,   ///< the zone has no daylight-saving rules
  tzsStandard,  ///< standard time is in force
  tzsDaylight,  ///< daylight time is in force
  tzsFailed     ///< the query failed
};

/// Biases count minutes west of UTC: UTC = local time + bias.
struct TTimeZoneInfo {
  std::int32_t Bias = 0;          ///< the zone's base (standard) bias
  std::int32_t StandardBias = 0;  ///< added to `Bias` in standard time
  std::int32_t DaylightBias = 0;  ///< added to `Bias` in daylight time
  TTimeZoneState State = tzsUnknown;
  /// The offset from UTC in force at the queried moment, minutes east of UTC.
  std::int32_t CurrentOffsetMinutes = 0;
};

/// The zone information at the given moment (seconds since 1970, UTC), or now.
TTimeZoneInfo time_zone_info(std::optional<std::int64_t> unix_seconds = std::nullopt);
/// Local time minus UTC in seconds at the given moment.
std::int64_t utc_offset_seconds(std::int64_t unix_seconds);
/// Replaces the machine's zone for every later query (tests); `std::nullopt` restores it.
void set_time_zone_override(std::optional<TTimeZoneInfo> zone);

}  // namespace qninet::sys
