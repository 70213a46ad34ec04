#pragma once
// Date-time values: days since 1899-12-30, the fraction being the time of day.

#include <cstdint>

#include "qninet/rtl/SysUtils.h"

namespace qninet {

using TDateTime = double;
/// 100-nanosecond units since 1601-01-01 00:00 UTC.
using TFileTime = std::int64_t;

/// Raises `EConvertError` "Invalid argument to date encode" for an impossible date.
QNINET_API TDateTime EncodeDate(int year, int month, int day);
/// Raises `EConvertError` "Invalid argument to time encode" for an impossible time.
QNINET_API TDateTime EncodeTime(int hour, int min, int sec, int msec);
/// A date and a time of day as one value. Before 1899-12-30 a value is negative and its fraction,
/// taken without sign, is the time, so the time is subtracted there.
QNINET_API TDateTime ComposeDateTime(TDateTime date, TDateTime time);
/// Like `EncodeDate`, but returns false instead of raising.
QNINET_API bool TryEncodeDate(int year, int month, int day, TDateTime& result);
QNINET_API bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result);
QNINET_API void DecodeDate(TDateTime dt, int& year, int& month, int& day);
/// The time of day, rounded to the nearest millisecond.
QNINET_API void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec);
/// 1 = Sunday ... 7 = Saturday.
QNINET_API int DayOfWeek(TDateTime dt);
QNINET_API bool IsLeapYear(int year);
QNINET_API int DaysInMonth(int year, int month);

/// The local date and time.
QNINET_API TDateTime Now();
/// The date and time in UTC.
QNINET_API TDateTime NowUTC();

/// Formats with the tokens yyyy, yy, mm, m, dd, d, hh, h, nn, n, ss, s, zzz; text in double or
/// single quotes is copied; any other character is copied. "mm" right after an hour token is
/// minutes, as in the classic formatter.
QNINET_API String FormatDateTime(StringView pattern, TDateTime dt);
/// "yyyy-mm-ddThh:nn:ss".
QNINET_API String DateTimeToISO8601(TDateTime dt);

/// Seconds since 1970-01-01 UTC to a date-time (UTC) and back.
QNINET_API TDateTime UnixToDateTime(std::int64_t seconds);
QNINET_API std::int64_t DateTimeToUnix(TDateTime dt);
/// A UTC date-time to a file time and back.
QNINET_API TFileTime DateTimeToFileTime(TDateTime utc);
QNINET_API TDateTime FileTimeToDateTime(TFileTime ft);
QNINET_API TFileTime UnixToFileTime(std::int64_t seconds, std::int64_t nanoseconds = 0);
QNINET_API std::int64_t FileTimeToUnix(TFileTime ft);

}  // namespace qninet
