#include <gtest/gtest.h>

#include "qninet/core/qniutil.h"

using namespace qninet;

namespace {
String units(std::initializer_list<unsigned> us) {
  String s;
  for (unsigned u : us) s.push_back(static_cast<char16_t>(u));
  return s;
}
}  // namespace

// Four-unit sequences become surrogate pairs; malformed input gives an empty text, not a part.
TEST(Utf8Decoding, SequencesOfEveryLengthAndMalformedInput) {
  const std::pair<String, String> cases[] = {
      {units({0xC3, 0xA9}), u"\u00E9"},
      {units({0xE2, 0x82, 0xAC}), u"\u20AC"},
      {u"plain ASCII", u"plain ASCII"},
      {u"", u""},
      {units({0xF0, 0x9F, 0x98, 0x80}), u"\U0001F600"},
      {units({'a', 0xF0, 0x90, 0x80, 0x80, 'b'}), u"a\U00010000b"},
      {units({0xF0, 0x9F, 0x98}), u""},        // cut short
      {units({0xF4, 0x90, 0x80, 0x80}), u""},  // beyond U+10FFFF
      {units({'a', 'b', 0xC3}), u""},
      {units({0xC3, 'x'}), u""},
      {units({0xE2, 0x82}), u""},
      {units({0x81, 0x81}), String(1, char16_t(0x41))},  // a stray continuation unit starts a pair
      {u"\u0141", u"\u0141"},                            // characters above 255 with a clear bit 7 pass whole
  };
  for (const auto& [in, out] : cases) EXPECT_EQ(Utf8Decode(in), out) << ::testing::PrintToString(in);
}

// (Encode64 is base64_encode of the low bytes: TextEncoding_test and the Basic credentials rows.)

TEST(TextPicking, ReverseKeepsUnitsAndColumnsCountFromZero) {
  EXPECT_EQ(Reverse(u"abc"), u"cba");
  EXPECT_EQ(Reverse(u""), u"");
  EXPECT_EQ(Reverse(u"\U0001F600"), units({0xDE00, 0xD83D}));
  const std::tuple<const char16_t*, int, char16_t, const char16_t*> cases[] = {
      {u"a;b;c", 1, u';', u"b"}, {u"a;;c", 1, u';', u""}, {u"abc", 1, u';', u""},   {u"abc", 0, u';', u"abc"},
      {u"a;b;c", 2, u';', u"c"}, {u"\t", 0, u';', u""},   {u"x\ty", 1, u'\t', u"y"}};
  for (const auto& [text, column, delimiter, picked] : cases)
    EXPECT_EQ(GetColumn(text, column, delimiter), picked) << ToUtf8(text) << " " << column;
}

// One pass that never rescans a replacement; unknown entities stay and later ones are still
// decoded; without ";" the entity runs to the end of the text.
TEST(HtmlEntities, TableEntitiesReplacedInOnePass) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"&lt;b&gt; 20&deg; &plusmn;1 &copy; &trade; &quot;q&quot; &apos;a&apos; x&nbsp;y &brvbar; &para;",
       u"<b> 20\u00B0 +1 c T \"q\" 'a' xy | \u00B6"},
      {u"&amp;lt;", u"&lt;"},
      {u"&amp;amp; &amp; b", u"&amp; & b"},
      {u"&#60;x&#62; then &lt;y&gt;", u"&#60;x&#62; then <y>"},
      {u"Fish & Chips &amp; more", u"Fish & Chips & more"},
      {u"no entity here", u"no entity here"},
      {u"tail &amp", u"tail &"}};
  for (const auto& [in, out] : cases) {
    String s = in;
    ReplaceHTMLChars(s);
    EXPECT_EQ(s, out) << ToUtf8(in);
  }
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
