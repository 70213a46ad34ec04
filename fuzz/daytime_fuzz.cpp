// The daytime answer on arbitrary text: either a conversion error, or a date and time that a
// line in each recognised form gives back exactly.

#include <cstddef>
#include <cstdint>
#include <cstdio>

#include "FuzzCheck.h"
#include "qninet/socket/QNITime.h"

using namespace qninet;

namespace {

const char* const kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                               "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
const char* const kDays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};

TDateTime read(const char* line) { return DaytimeToDateTime(FromUtf8(line)); }

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  TDateTime t = 0;
  try {
    t = DaytimeToDateTime(FromBytes(fuzz::bytes_of(data, size)));
  } catch (const EConvertError&) {
    return 0;
  }
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, msec = 0;
  DecodeDate(t, year, month, day);
  DecodeTime(t, hour, minute, second, msec);
  FUZZ_CHECK(year >= 1 && year <= 9999 && msec == 0);
  char line[96];
  std::snprintf(line, sizeof line, "61378 %04d-%02d-%02d %02d:%02d:%02d 00 0 0 50.0 UTC(NIST) *\r\n", year,
                month, day, hour, minute, second);
  FUZZ_CHECK(read(line) == t);
  std::snprintf(line, sizeof line, "%02d %s %04d %02d:%02d:%02d UTC\n", day, kMonths[month - 1], year, hour,
                minute, second);
  FUZZ_CHECK(read(line) == t);
  std::snprintf(line, sizeof line, "%s %s %2d %02d:%02d:%02d %04d\n", kDays[DayOfWeek(t) - 1],
                kMonths[month - 1], day, hour, minute, second, year);
  FUZZ_CHECK(read(line) == t);
  return 0;
}
