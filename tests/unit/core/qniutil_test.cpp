#include <gtest/gtest.h>

#include "qninet/core/qniutil.h"
#include "qninet/sys/Settings.h"

using namespace qninet;

namespace {
String units(std::initializer_list<unsigned> us) {
  String s;
  for (unsigned u : us) s.push_back(static_cast<char16_t>(u));
  return s;
}
}  // namespace

TEST(Utf8Decoding, TwoAndThreeUnitSequences) {
  EXPECT_EQ(Utf8Decode(units({0xC3, 0xA9})), u"\u00E9");
  EXPECT_EQ(Utf8Decode(units({0xE2, 0x82, 0xAC})), u"\u20AC");
  EXPECT_EQ(Utf8Decode(u"plain ASCII"), u"plain ASCII");
  EXPECT_EQ(Utf8Decode(u""), u"");
}

TEST(Utf8Decoding, FourUnitSequencesBecomeSurrogatePairs) {
  EXPECT_EQ(Utf8Decode(units({0xF0, 0x9F, 0x98, 0x80})), u"\U0001F600");
  EXPECT_EQ(Utf8Decode(units({'a', 0xF0, 0x90, 0x80, 0x80, 'b'})), u"a\U00010000b");
  EXPECT_EQ(Utf8Decode(units({0xF0, 0x9F, 0x98})), u"");        // cut short
  EXPECT_EQ(Utf8Decode(units({0xF4, 0x90, 0x80, 0x80})), u"");  // beyond U+10FFFF
}

TEST(Utf8Decoding, MalformedInputGivesEmptyNotPartial) {
  EXPECT_EQ(Utf8Decode(units({'a', 'b', 0xC3})), u"");
  EXPECT_EQ(Utf8Decode(units({0xC3, 'x'})), u"");
  EXPECT_EQ(Utf8Decode(units({0xE2, 0x82})), u"");
  // A stray continuation unit starts a two-unit sequence.
  EXPECT_EQ(Utf8Decode(units({0x81, 0x81})), String(1, char16_t(0x41)));
  // Characters above 255 with a clear bit 7 pass whole.
  EXPECT_EQ(Utf8Decode(u"\u0141"), u"\u0141");
}

TEST(Base64Encoding, PaddingAndLowBytes) {
  EXPECT_EQ(Encode64(u""), u"");
  EXPECT_EQ(Encode64(u"a"), u"YQ==");
  EXPECT_EQ(Encode64(u"ab"), u"YWI=");
  EXPECT_EQ(Encode64(u"abc"), u"YWJj");
  EXPECT_EQ(Encode64(u"user:pass"), u"dXNlcjpwYXNz");
  EXPECT_EQ(Encode64(u"\u0161"), Encode64(units({0x61})));  // only the low byte counts
  const String long_text(100, u'x');
  EXPECT_EQ(Encode64(long_text).find(u'\n'), String::npos);
  EXPECT_EQ(Encode64(long_text).size(), 136u);
}

TEST(ReverseText, ReversesUnitsIncludingSurrogates) {
  EXPECT_EQ(Reverse(u"abc"), u"cba");
  EXPECT_EQ(Reverse(u""), u"");
  EXPECT_EQ(Reverse(u"\U0001F600"), units({0xDE00, 0xD83D}));
}

TEST(ColumnPicking, CountsDelimitersFromZero) {
  EXPECT_EQ(GetColumn(u"a;b;c", 1, u';'), u"b");
  EXPECT_EQ(GetColumn(u"a;;c", 1, u';'), u"");
  EXPECT_EQ(GetColumn(u"abc", 1, u';'), u"");
  EXPECT_EQ(GetColumn(u"abc", 0, u';'), u"abc");
  EXPECT_EQ(GetColumn(u"a;b;c", 2, u';'), u"c");
  EXPECT_EQ(GetColumn(u"\t", 0, u';'), u"");
  EXPECT_EQ(GetColumn(u"x\ty", 1, u'\t'), u"y");
}

TEST(HtmlEntities, TableEntitiesAreReplaced) {
  String s =
      u"&lt;b&gt; 20&deg; &plusmn;1 &copy; &trade; &quot;q&quot; &apos;a&apos; x&nbsp;y &brvbar; &para;";
  ReplaceHTMLChars(s);
  EXPECT_EQ(s, u"<b> 20\u00B0 +1 c T \"q\" 'a' xy | \u00B6");
}

TEST(HtmlEntities, OnePassNeverRescansAReplacement) {
  String s = u"&amp;lt;";
  ReplaceHTMLChars(s);
  EXPECT_EQ(s, u"&lt;");
  s = u"&amp;amp; &amp; b";
  ReplaceHTMLChars(s);
  EXPECT_EQ(s, u"&amp; & b");
}

TEST(HtmlEntities, UnknownEntitiesStayAndLaterOnesAreStillDecoded) {
  String s = u"&#60;x&#62; then &lt;y&gt;";
  ReplaceHTMLChars(s);
  EXPECT_EQ(s, u"&#60;x&#62; then <y>");
  s = u"Fish & Chips &amp; more";
  ReplaceHTMLChars(s);
  EXPECT_EQ(s, u"Fish & Chips & more");
  s = u"no entity here";
  ReplaceHTMLChars(s);
  EXPECT_EQ(s, u"no entity here");
  s = u"tail &amp";  // without ";" the entity runs to the end of the text
  ReplaceHTMLChars(s);
  EXPECT_EQ(s, u"tail &");
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

TEST(ProxySettingRendering, EnvironmentUrlsBecomeHostAndPort) {
  EXPECT_EQ(sys::render_proxy_setting(u"http://user:pw@proxy.local:3128/"), u"proxy.local:3128");
  EXPECT_EQ(sys::render_proxy_setting(u"proxy.local:8080"), u"proxy.local:8080");
  EXPECT_EQ(sys::render_proxy_setting(u"http://[::1]:3128"), u"[::1]:3128");
  EXPECT_EQ(sys::render_proxy_setting(u"http://proxy.local"), u"proxy.local");
}

TEST(ProxySettingRendering, BracketedIPv6ServerGivesAddressAndPort) {
  sys::set_proxy_setting_override(sys::ProxySetting{u"[::1]:3128", true});
  String server;
  bool use = false;
  Integer port = 0;
  ReadProxyInfo(server, use, port);
  sys::set_proxy_setting_override(std::nullopt);
  EXPECT_EQ(server, u"::1");
  EXPECT_EQ(port, 3128);
}
