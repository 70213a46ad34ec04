#pragma once
// Process-wide settings a test changes for its own life: an environment variable, the time zone.

#include <cstdlib>
#include <optional>
#include <string>

#include "qninet/sys/TimeZone.h"

namespace qninet::test_support {

// Sets (or, given null, clears) a variable and puts the old value back.
class ScopedEnv {
public:
  ScopedEnv(const char* name, const char* value) : FName(name) {
    if (const char* old = std::getenv(name)) FOld = old;
    value ? ::setenv(name, value, 1) : ::unsetenv(name);
  }
  ~ScopedEnv() { FOld ? ::setenv(FName, FOld->c_str(), 1) : ::unsetenv(FName); }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

private:
  const char* FName;
  std::optional<std::string> FOld;
};

// Puts a zone in place of the machine's.
struct ZoneOverride {
  explicit ZoneOverride(sys::TTimeZoneInfo zone) { sys::set_time_zone_override(zone); }
  ~ZoneOverride() { sys::set_time_zone_override(std::nullopt); }
};

}  // namespace qninet::test_support
