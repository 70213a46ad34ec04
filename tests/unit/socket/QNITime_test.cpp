#include "qninet/socket/QNITime.h"

#include <gtest/gtest.h>

#include "harness/ScriptedServer.h"
#include "qninet/rtl/TypInfo.h"

using namespace qninet;
using qninet::harness::Script;
using qninet::harness::ScriptedServer;

namespace {

TDateTime At(int y, int mo, int d, int h, int mi, int s) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, 0);
}

String Text(const char* s) { return FromBytes(s); }

}  // namespace

TEST(DaytimeParse, NistLineSkipsTheDayNumber) {
  EXPECT_EQ(DaytimeToDateTime(Text("61234 26-12-04 23:15:07 00 0 0 50.0 UTC(NIST) * \n")),
            At(2026, 12, 4, 23, 15, 7));
}

TEST(DaytimeParse, FourDigitYearIsKept) {
  EXPECT_EQ(DaytimeToDateTime(Text("x 1999-07-31 01:02:03 \r\n")), At(1999, 7, 31, 1, 2, 3));
}

TEST(DaytimeParse, ShortYearsGainTwoAndZeros) {
  EXPECT_EQ(DaytimeToDateTime(Text("x 5-1-2 3:4:5 \n")), At(2005, 1, 2, 3, 4, 5));
  EXPECT_EQ(DaytimeToDateTime(Text("x 126-1-2 3:4:5 \n")), At(2126, 1, 2, 3, 4, 5));
}

TEST(DaytimeParse, TwoSeparatorsInARowLeaveAFieldThatCountsAsOne) {
  // "26--04": the month field is empty, so it is 1, and the day moves one field on.
  EXPECT_EQ(DaytimeToDateTime(Text("x 26--04 10:11:12 \n")), At(2026, 1, 4, 10, 11, 12));
}

TEST(DaytimeParse, AnswerWithoutDigitsIsTheFirstOfJanuary2001) {
  EXPECT_EQ(DaytimeToDateTime(Text("no time here\n")), At(2001, 1, 1, 1, 1, 1));
  EXPECT_EQ(DaytimeToDateTime(String()), At(2001, 1, 1, 1, 1, 1));
}

TEST(DaytimeParse, LastCharacterIsNeverExamined) {
  // Without a line end the last digit of the seconds is lost.
  EXPECT_EQ(DaytimeToDateTime(Text("x 26-12-04 23:15:47")), At(2026, 12, 4, 23, 15, 4));
}

TEST(DaytimeParse, ImpossibleDateRaisesConvertError) {
  EXPECT_THROW(DaytimeToDateTime(Text("x 26-13-04 23:15:07 \n")), EConvertError);
  EXPECT_THROW(DaytimeToDateTime(Text("x 26-02-30 23:15:07 \n")), EConvertError);
  EXPECT_THROW(DaytimeToDateTime(Text("x 26-12-04 25:15:07 \n")), EConvertError);
}

TEST(DaytimeParse, XinetdFormWithMonthName) {
  EXPECT_EQ(DaytimeToDateTime(Text("06 DEC 2026 20:51:52 UTC\r\n")), At(2026, 12, 6, 20, 51, 52));
  EXPECT_EQ(DaytimeToDateTime(Text("29 feb 2028 00:00:00 UTC\r\n")), At(2028, 2, 29, 0, 0, 0));
}

TEST(DaytimeParse, CtimeFormWithMonthName) {
  EXPECT_EQ(DaytimeToDateTime(Text("Sun Dec  6 20:51:52 2026\r\n")), At(2026, 12, 6, 20, 51, 52));
}

TEST(DaytimeParse, MonthNameFormWithImpossibleDayRaises) {
  EXPECT_THROW(DaytimeToDateTime(Text("31 APR 2026 20:51:52 UTC\r\n")), EConvertError);
}

TEST(DaytimeParse, MonthNameWithoutTheOtherFieldsFallsBackToTheDigitWalk) {
  EXPECT_EQ(DaytimeToDateTime(Text("06 DEC\n")), At(2001, 1, 1, 1, 1, 1));
}

TEST(InetDateTime, DefaultsArePort13AndNist) {
  TQNInetDateTime c(nullptr);
  EXPECT_EQ(c.Port(), 13);
  EXPECT_EQ(c.Host(), u"time.nist.gov");
}

TEST(InetDateTime, SendsNothingAndReadsTheLine) {
  ScriptedServer server(Script().Send("61234 26-12-04 23:15:07 00 0 0 50.0 UTC(NIST) * \r\n").Close());
  TQNInetDateTime c(nullptr);
  c.SetHost(u"127.0.0.1");
  c.SetPort(server.Port());
  EXPECT_EQ(c.GetDateTime(), At(2026, 12, 4, 23, 15, 7));
  EXPECT_EQ(server.Received(0), "");
}

TEST(InetDateTime, ReadingThePublishedPropertyAsksTheServer) {
  ScriptedServer server(Script().Send("06 DEC 2026 20:51:52 UTC\r\n").Close());
  TQNInetDateTime c(nullptr);
  c.SetHost(u"127.0.0.1");
  c.SetPort(server.Port());
  EXPECT_EQ(GetPropValue(c, "DateTime").AsFloat(), At(2026, 12, 6, 20, 51, 52));
  EXPECT_EQ(server.ConnectionCount(), 1u);
}
