#include <gtest/gtest.h>

#include "qninet/core/qniutil.h"

using namespace qninet;

// (Utf8Decode and ReplaceHTMLChars against reference versions: fuzz/text_fuzz.cpp, on arbitrary
// text and a corpus of broken UTF-8 and entities; declared UTF-8: the XML trees; a page's entities:
// the scrapers' nginx rows; Encode64: TextEncoding_test and the Basic credentials rows.)

TEST(TextPicking, ReverseKeepsUnitsAndColumnsCountFromZero) {
  EXPECT_EQ(Reverse(u"abc"), u"cba");
  EXPECT_EQ(Reverse(u""), u"");
  EXPECT_EQ(Reverse(u"\U0001F600"), String(u"\xDE00\xD83D"));
  const std::tuple<const char16_t*, int, char16_t, const char16_t*> cases[] = {
      {u"a;b;c", 1, u';', u"b"}, {u"a;;c", 1, u';', u""}, {u"abc", 1, u';', u""},   {u"abc", 0, u';', u"abc"},
      {u"a;b;c", 2, u';', u"c"}, {u"\t", 0, u';', u""},   {u"x\ty", 1, u'\t', u"y"}};
  for (const auto& [text, column, delimiter, picked] : cases)
    EXPECT_EQ(GetColumn(text, column, delimiter), picked) << ToUtf8(text) << " " << column;
}

TEST(HtmlEntities, LongInputsStayLinear) {
  String s(4 * 1024 * 1024, u'&');
  ReplaceHTMLChars(s);
  EXPECT_EQ(s.size(), 4u * 1024 * 1024);
  String t;
  for (int i = 0; i < 200000; ++i) t += u"&lt;";
  ReplaceHTMLChars(t);
  EXPECT_EQ(t, String(200000, u'<'));
}
