#include "qninet/rtl/DateUtils.h"

#include <chrono>
#include <cmath>

#include "qninet/sys/Files.h"
#include "qninet/sys/TimeZone.h"

namespace qninet {

namespace {

constexpr double kMsPerDay = 86400000.0;
// Days from 0001-01-01 to 1899-12-30 in the proleptic Gregorian calendar.
constexpr std::int64_t kDateDelta = 693594;
// File times count from 1601-01-01: 109205 days before 1899-12-30.
constexpr std::int64_t kFileTimeEpochDays = 109205;
constexpr std::int64_t kUnixEpochDays = 25569;  // 1970-01-01

constexpr int kMonthDays[2][12] = {{31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31},
                                   {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31}};

// Whole milliseconds since the origin, with the classic rule for negative values: the integral
// part is the day, the fraction (taken without sign) the time of day.
std::int64_t to_ms(TDateTime dt) {
  const double day = std::trunc(dt);
  const double frac = std::fabs(dt - day);
  return static_cast<std::int64_t>(day) * 86400000LL + std::llround(frac * kMsPerDay);
}

}  // namespace

bool IsLeapYear(int year) { return (year % 4 == 0) && (year % 100 != 0 || year % 400 == 0); }

int DaysInMonth(int year, int month) {
  if (month < 1 || month > 12) return 0;
  return kMonthDays[IsLeapYear(year) ? 1 : 0][month - 1];
}

bool TryEncodeDate(int year, int month, int day, TDateTime& result) {
  if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
    return false;
  std::int64_t d = day;
  for (int m = 1; m < month; ++m) d += DaysInMonth(year, m);
  const std::int64_t y = year - 1;
  d += y * 365 + y / 4 - y / 100 + y / 400 - kDateDelta;
  result = static_cast<double>(d);
  return true;
}

TDateTime EncodeDate(int year, int month, int day) {
  TDateTime r;
  if (!TryEncodeDate(year, month, day, r)) throw EConvertError(u"Invalid argument to date encode");
  return r;
}

TDateTime ComposeDateTime(TDateTime date, TDateTime time) { return date < 0 ? date - time : date + time; }

bool TryEncodeTime(int hour, int min, int sec, int msec, TDateTime& result) {
  if (hour < 0 || hour > 23 || min < 0 || min > 59 || sec < 0 || sec > 59 || msec < 0 || msec > 999)
    return false;
  result = (hour * 3600000.0 + min * 60000.0 + sec * 1000.0 + msec) / kMsPerDay;
  return true;
}

TDateTime EncodeTime(int hour, int min, int sec, int msec) {
  TDateTime r;
  if (!TryEncodeTime(hour, min, sec, msec, r)) throw EConvertError(u"Invalid argument to time encode");
  return r;
}

void DecodeDate(TDateTime dt, int& year, int& month, int& day) {
  std::int64_t ms = to_ms(dt);
  std::int64_t days = ms / 86400000LL;
  if (ms < 0 && ms % 86400000LL != 0) --days;
  std::int64_t t = days + kDateDelta - 1;  // days since 0001-01-01, 0-based
  if (t < 0) {
    year = month = day = 0;
    return;
  }
  // Civil-from-days over 400-year cycles.
  std::int64_t y400 = t / 146097;
  t %= 146097;
  std::int64_t y100 = t / 36524;
  if (y100 == 4) y100 = 3;
  t -= y100 * 36524;
  std::int64_t y4 = t / 1461;
  t %= 1461;
  std::int64_t y1 = t / 365;
  if (y1 == 4) y1 = 3;
  t -= y1 * 365;
  year = static_cast<int>(y400 * 400 + y100 * 100 + y4 * 4 + y1 + 1);
  month = 1;
  while (t >= DaysInMonth(year, month)) {
    t -= DaysInMonth(year, month);
    ++month;
  }
  day = static_cast<int>(t) + 1;
}

void DecodeTime(TDateTime dt, int& hour, int& min, int& sec, int& msec) {
  std::int64_t ms = to_ms(dt) % 86400000LL;
  if (ms < 0) ms += 86400000LL;
  hour = static_cast<int>(ms / 3600000);
  min = static_cast<int>(ms / 60000 % 60);
  sec = static_cast<int>(ms / 1000 % 60);
  msec = static_cast<int>(ms % 1000);
}

int DayOfWeek(TDateTime dt) {
  std::int64_t ms = to_ms(dt);
  std::int64_t days = ms / 86400000LL;
  if (ms < 0 && ms % 86400000LL != 0) --days;
  // 1899-12-30 was a Saturday (7).
  std::int64_t r = (days + 6) % 7;
  if (r < 0) r += 7;
  return static_cast<int>(r) + 1;
}

TDateTime UnixToDateTime(std::int64_t seconds) {
  return static_cast<double>(kUnixEpochDays) + static_cast<double>(seconds) / 86400.0;
}

std::int64_t DateTimeToUnix(TDateTime dt) {
  return static_cast<std::int64_t>(std::llround((dt - kUnixEpochDays) * 86400.0));
}

TFileTime DateTimeToFileTime(TDateTime utc) {
  return (to_ms(utc) + kFileTimeEpochDays * 86400000LL) * 10000LL;
}

TDateTime FileTimeToDateTime(TFileTime ft) {
  const std::int64_t ms = ft / 10000LL - kFileTimeEpochDays * 86400000LL;
  return static_cast<double>(ms) / kMsPerDay;
}

TFileTime UnixToFileTime(std::int64_t seconds, std::int64_t nanoseconds) {
  return sys::unix_to_file_time(seconds, nanoseconds);
}

std::int64_t FileTimeToUnix(TFileTime ft) { return sys::file_time_to_unix(ft); }

TDateTime NowUTC() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
  return static_cast<double>(kUnixEpochDays) + static_cast<double>(ms) / kMsPerDay;
}

TDateTime Now() {
  const auto now = std::chrono::system_clock::now().time_since_epoch();
  const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(now).count();
  const std::int64_t offset = sys::utc_offset_seconds(ms / 1000);
  return static_cast<double>(kUnixEpochDays) + static_cast<double>(ms + offset * 1000) / kMsPerDay;
}

String FormatDateTime(StringView pattern, TDateTime dt) {
  int y, mo, d, h, mi, s, ms;
  DecodeDate(dt, y, mo, d);
  DecodeTime(dt, h, mi, s, ms);
  auto pad = [](int v, int width) {
    String t = IntToStr(v);
    while (static_cast<int>(t.size()) < width) t.insert(t.begin(), u'0');
    return t;
  };
  auto run_of = [&](std::size_t i, char16_t c) {
    std::size_t n = 0;
    while (i + n < pattern.size() && (pattern[i + n] | 0x20) == c) ++n;
    return n;
  };
  String out;
  bool after_hour = false;
  for (std::size_t i = 0; i < pattern.size();) {
    const char16_t c = pattern[i];
    const char16_t lc = c | 0x20;
    if (c == u'"' || c == u'\'') {
      const auto end = pattern.find(c, i + 1);
      const auto stop = end == StringView::npos ? pattern.size() : end;
      out.append(pattern.substr(i + 1, stop - i - 1));
      i = stop == pattern.size() ? stop : stop + 1;
      continue;
    }
    if (lc == u'y') {
      const auto n = run_of(i, u'y');
      out += n >= 3 ? pad(y, 4) : pad(y % 100, 2);
      i += n;
    } else if (lc == u'm') {
      const auto n = run_of(i, u'm');
      const int v = after_hour ? mi : mo;
      out += n >= 2 ? pad(v, 2) : IntToStr(v);
      after_hour = false;
      i += n;
    } else if (lc == u'd') {
      const auto n = run_of(i, u'd');
      out += n >= 2 ? pad(d, 2) : IntToStr(d);
      i += n;
    } else if (lc == u'h') {
      const auto n = run_of(i, u'h');
      out += n >= 2 ? pad(h, 2) : IntToStr(h);
      after_hour = true;
      i += n;
      continue;
    } else if (lc == u'n') {
      const auto n = run_of(i, u'n');
      out += n >= 2 ? pad(mi, 2) : IntToStr(mi);
      i += n;
    } else if (lc == u's') {
      const auto n = run_of(i, u's');
      out += n >= 2 ? pad(s, 2) : IntToStr(s);
      i += n;
    } else if (lc == u'z') {
      const auto n = run_of(i, u'z');
      out += n >= 3 ? pad(ms, 3) : IntToStr(ms);
      i += n;
    } else {
      out.push_back(c);
      ++i;
      continue;  // separators keep an hour's claim on a following "mm"
    }
    after_hour = false;
  }
  return out;
}

String DateTimeToISO8601(TDateTime dt) { return FormatDateTime(u"yyyy-mm-dd\"T\"hh:nn:ss", dt); }

}  // namespace qninet
