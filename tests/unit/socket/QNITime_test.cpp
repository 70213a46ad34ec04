#include "qninet/socket/QNITime.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <vector>

using namespace qninet;
using testing::HasSubstr;
using testing::ThrowsMessage;

namespace {

TDateTime At(int y, int mo, int d, int h, int mi, int s) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, 0);
}

String Text(const char* s) { return FromBytes(s); }

}  // namespace

// (NIST's line, with and without its leading line feed, and xinetd's: peers_time_test, the socket
// fault table's line-end row and the program's daytime rows.)
TEST(DaytimeParse, RecognisedWholeLineForms) {
  const std::pair<const char*, TDateTime> cases[] = {
      {"1 1999-07-31 01:02:03\r\n", At(1999, 7, 31, 1, 2, 3)},  // a four-digit year is kept
      {"1 5-1-2 3:4:5\n", At(2005, 1, 2, 3, 4, 5)},             // shorter ones are in the 2000s
      {"29 feb 2028 00:00:00 UTC\r\n", At(2028, 2, 29, 0, 0, 0)},
      {"Sun Dec  6 20:51:52 2026\r\n", At(2026, 12, 6, 20, 51, 52)},         // ctime
      {"06 DEC 2026 20:51:52 UTC\r\ngarbage", At(2026, 12, 6, 20, 51, 52)},  // first line only
      {"\r\n\r\n06 DEC 2026 20:51:52 UTC\r\n\r\n", At(2026, 12, 6, 20, 51, 52)}};
  for (const auto& [answer, expected] : cases) EXPECT_EQ(DaytimeToDateTime(Text(answer)), expected) << answer;
  // Before 1899-12-30 the value is negative; the date and the time still read back as written.
  for (const char* early : {"1 1013-12-06 20:51:51\n", "Fri Dec  6 20:51:51 1013\r\n"}) {
    const TDateTime t = DaytimeToDateTime(Text(early));
    int y = 0, mo = 0, d = 0, h = 0, mi = 0, s = 0, ms = 0;
    DecodeDate(t, y, mo, d);
    DecodeTime(t, h, mi, s, ms);
    EXPECT_EQ(std::vector<int>({y, mo, d, h, mi, s}), std::vector<int>({1013, 12, 6, 20, 51, 51})) << early;
  }
}

// Anything but a whole recognised line is refused, and the message shows what arrived. (A line
// cut by a close and a mail server's greeting: the program's daytime rows.)
TEST(DaytimeParse, IncompleteForeignOrImpossibleAnswersRaise) {
  const std::pair<const char*, const char16_t*> cases[] = {
      {"61378 26-12-04 23:15:07", u"\"61378 26-12-04 23:15:07\""},  // no line end
      {"\n61378 26-12-04 23:15:07", u"\"\\n61378 26-12-04 23:15:07\""},
      {"\r\n\n", u"\"\\r\\n\\n\""},
      {"61378 26-12-04\n", u"\"61378 26-12-04\\n\""},
      {"x 26-12-04 23:15:07 \n", u"x 26-12-04"},  // no day number
      {"1 26--04 10:11:12\n", u"26--04"},
      {"SSH-2.0-OpenSSH_9.2\r\n", u"\"SSH-2.0-OpenSSH_9.2\\r\\n\""},  // another protocol
      {"06 DEC\n", u"06 DEC"},
      {"06 DEC 2026 20:51 UTC\n", u"20:51 UTC"},
      {"\x01\x02", u"\\x01\\x02"},
      {"", u"the server sent nothing"},
      {"1 26-13-04 23:15:07\n", u"date encode"},  // impossible dates and times
      {"1 26-02-30 23:15:07\n", u"date encode"},
      {"1 26-12-04 25:15:07\n", u"time encode"},
      {"31 APR 2026 20:51:52 UTC\r\n", u"date encode"}};
  for (const auto& [answer, shown] : cases) {
    EXPECT_THAT([&answer = answer] { DaytimeToDateTime(Text(answer)); },
                ThrowsMessage<EConvertError>(HasSubstr(ToUtf8(shown))))
        << answer;
  }
}
