#include <gtest/gtest.h>

#include <tuple>

#include "qninet/rtl/DateUtils.h"

using namespace qninet;

// (Month 13, 30 February and 31 April with the date encode message: the daytime parser's
// impossible rows.)
TEST(DateEncoding, KnownDaysFromTheOriginAndImpossibleValues) {
  const std::tuple<int, int, int, double> days[] = {{1899, 12, 30, 0.0},
                                                    {1900, 1, 1, 2.0},
                                                    {1970, 1, 1, 25569.0},
                                                    {2000, 2, 29, 36585.0},
                                                    {2036, 2, 7, 49712.0}};
  for (const auto& [y, m, d, n] : days) EXPECT_DOUBLE_EQ(EncodeDate(y, m, d), n) << y;
  EXPECT_THROW(EncodeDate(2023, 2, 29), EConvertError);
  EXPECT_THROW(EncodeDate(0, 1, 1), EConvertError);
  EXPECT_THROW(EncodeTime(24, 0, 0, 0), EConvertError);
  EXPECT_THROW(EncodeTime(23, 60, 0, 0), EConvertError);
}

// Round trips across centuries and leap days; the time of day to the millisecond; the week
// starts on Sunday, before the origin too.
TEST(DateDecoding, RoundTripsTimeOfDayAndDayOfWeek) {
  for (int y : {1, 1600, 1899, 1900, 2000, 2024, 2100, 9999})
    for (int m : {1, 2, 12}) {
      const int d = m == 2 ? DaysInMonth(y, 2) : 31;
      int yy, mm, dd;
      DecodeDate(EncodeDate(y, m, d), yy, mm, dd);
      EXPECT_EQ(std::tie(yy, mm, dd), std::tie(y, m, d));
    }
  int h, n, s, ms;
  DecodeTime(EncodeDate(2026, 12, 6) + EncodeTime(23, 59, 59, 999), h, n, s, ms);
  EXPECT_EQ(std::tie(h, n, s, ms), std::make_tuple(23, 59, 59, 999));
  for (int y : {1601, 1899, 1900, 2026}) {  // both sides of the origin
    const TDateTime v = ComposeDateTime(EncodeDate(y, 3, 1), EncodeTime(18, 30, 5, 0));
    int yy, mm, dd;
    DecodeDate(v, yy, mm, dd);
    DecodeTime(v, h, n, s, ms);
    EXPECT_EQ(std::make_tuple(yy, mm, dd, h, n, s), std::make_tuple(y, 3, 1, 18, 30, 5)) << y;
  }
  EXPECT_EQ(DayOfWeek(EncodeDate(2026, 12, 6)), 1);  // a Sunday
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 30)), 7);
  EXPECT_EQ(DayOfWeek(EncodeDate(1899, 12, 25)), 2);
}

TEST(DateFormatting, LibraryPatternsAndFileTimes) {
  const TDateTime t = EncodeDate(2026, 3, 4) + EncodeTime(5, 6, 7, 8);
  EXPECT_EQ(FormatDateTime(u"yyyymmddhhnn", t), u"202603040506");
  EXPECT_EQ(DateTimeToISO8601(t), u"2026-03-04T05:06:07");
  EXPECT_EQ(FormatDateTime(u"hh:mm", t), u"05:06");  // mm after an hour is minutes
  EXPECT_EQ(FormatDateTime(u"d/m/yy 'at' h.zzz", t), u"4/3/26 at 5.008");
  const std::int64_t unix_time = 1796594512;  // 2026-12-06 22:01:52 UTC
  const TFileTime ft = UnixToFileTime(unix_time);
  EXPECT_EQ(FileTimeToUnix(ft), unix_time);
  EXPECT_EQ(DateTimeToFileTime(UnixToDateTime(unix_time)), ft);
  EXPECT_EQ(UnixToFileTime(0), 116444736000000000LL);
  EXPECT_EQ(DateTimeToUnix(FileTimeToDateTime(ft)), unix_time);
}
