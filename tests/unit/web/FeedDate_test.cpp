#include "qninet/web/FeedDate.h"

#include <gtest/gtest.h>

using namespace qninet;

// Each form a feed writes, read as the same moment in UTC; anything else reads as no date.
TEST(FeedDate, ReadsRfc822AndRfc3339AsUtc) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"Tue, 10 Jun 2003 04:00:00 GMT", u"2003-06-10 04:00:00"},
      {u"10 Jun 03 06:30 +0230", u"2003-06-10 04:00:00"},
      {u"Mon, 9 Jun 2003 21:00:00 PDT", u"2003-06-10 04:00:00"},
      {u" Sat, 31 Dec 1960 23:59:60 EST\n", u"1961-01-01 04:59:59"},
      {u"2003-06-10T04:00:00Z", u"2003-06-10 04:00:00"},
      {u"2003-06-10t06:00:00.123456789012+02:00", u"2003-06-10 04:00:00"},
      {u"2003-06-09 23:00:00-05:00", u"2003-06-10 04:00:00"},
      {u"2003-06-10", u"2003-06-10 00:00:00"},
      {u"31 Feb 2003 04:00:00 GMT", nullptr},
      {u"2003-06-10T04:00:00", nullptr},
      {u"Tue 10 Jun 2003 04:00:00 GMT", nullptr},
      {u"10 Jun 2003 04:00:00 GMT and more", nullptr},
      {u"yesterday", nullptr}};
  for (const auto& [text, utc] : cases) {
    const auto got = ParseFeedDate(text);
    ASSERT_EQ(got.has_value(), utc != nullptr) << ToUtf8(text);
    if (got) {
      EXPECT_EQ(FormatDateTime(u"yyyy-mm-dd hh:nn:ss", *got + 0.5 / 86400000), utc) << ToUtf8(text);
    }
  }
}
