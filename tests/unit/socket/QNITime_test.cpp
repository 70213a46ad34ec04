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

TEST(DaytimeParse, DigitWalkAndMonthNameForms) {
  struct Case {
    const char* answer;
    TDateTime expected;
  };
  const Case cases[] = {
      {"61234 26-12-04 23:15:07 00 0 0 50.0 UTC(NIST) * \n",
       At(2026, 12, 4, 23, 15, 7)},                              // skips the day number
      {"x 1999-07-31 01:02:03 \r\n", At(1999, 7, 31, 1, 2, 3)},  // a four-digit year is kept
      {"x 5-1-2 3:4:5 \n", At(2005, 1, 2, 3, 4, 5)},             // short years gain a 2 and zeros
      {"x 126-1-2 3:4:5 \n", At(2126, 1, 2, 3, 4, 5)},
      // "26--04": the empty month field counts as one, and the day moves one field on.
      {"x 26--04 10:11:12 \n", At(2026, 1, 4, 10, 11, 12)},
      {"no time here\n", At(2001, 1, 1, 1, 1, 1)},  // no digits: 1 January 2001
      {"", At(2001, 1, 1, 1, 1, 1)},
      // The last character is never examined: without a line end the last digit is lost.
      {"x 26-12-04 23:15:47", At(2026, 12, 4, 23, 15, 4)},
      {"06 DEC 2026 20:51:52 UTC\r\n", At(2026, 12, 6, 20, 51, 52)},  // xinetd
      {"29 feb 2028 00:00:00 UTC\r\n", At(2028, 2, 29, 0, 0, 0)},
      {"Sun Dec  6 20:51:52 2026\r\n", At(2026, 12, 6, 20, 51, 52)},  // ctime
      {"06 DEC\n", At(2001, 1, 1, 1, 1, 1)},  // a month name alone falls back to the digit walk
  };
  for (const Case& c : cases) EXPECT_EQ(DaytimeToDateTime(Text(c.answer)), c.expected) << c.answer;
}

TEST(DaytimeParse, ImpossibleDateRaisesConvertError) {
  for (const char* answer : {"x 26-13-04 23:15:07 \n", "x 26-02-30 23:15:07 \n", "x 26-12-04 25:15:07 \n",
                             "31 APR 2026 20:51:52 UTC\r\n"})
    EXPECT_THROW(DaytimeToDateTime(Text(answer)), EConvertError) << answer;
}

// Nothing is sent: the server speaks first. Reading the published property asks the server.
TEST(InetDateTime, DefaultsAndReadingTheServersLine) {
  TQNInetDateTime c(nullptr);
  EXPECT_EQ(c.Port(), 13);
  EXPECT_EQ(c.Host(), u"time.nist.gov");
  ScriptedServer server({Script().Send("61234 26-12-04 23:15:07 00 0 0 50.0 UTC(NIST) * \r\n").Close(),
                         Script().Send("06 DEC 2026 20:51:52 UTC\r\n").Close()});
  c.SetHost(u"127.0.0.1");
  c.SetPort(server.Port());
  EXPECT_EQ(c.GetDateTime(), At(2026, 12, 4, 23, 15, 7));
  EXPECT_EQ(GetPropValue(c, "DateTime").AsFloat(), At(2026, 12, 6, 20, 51, 52));
  EXPECT_EQ(server.ConnectionCount(), 2u);
  EXPECT_EQ(server.Received(0) + server.Received(1), "");
}
