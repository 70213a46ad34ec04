// The extractor's scan on texts (no network).

#include <gtest/gtest.h>

#include <string>

#include "qninet/rtl/Strings.h"
#include "qninet/web/qnixtract.h"

using namespace qninet;

// Each row expects the entries joined by " , ". (Links in a page's markup, mailto and https: the
// content rows against nginx.)
TEST(ExtractLinks, PrefixesAndDelimiters) {
  const std::tuple<TQNIExtract, std::u16string, const char*> cases[] = {
      {ieMailTo, u"mailto:a@b.test\nnext line", "mailto:a@b.test"},
      {ieMailTo, u"mailto:a@b.test\r\nmailto:c@d.test\tx 'mailto:e@f.test'",
       "mailto:a@b.test , mailto:c@d.test , mailto:e@f.test"},
      {ieHTTP, u"http://h.test/p#frag http://h.test/q%20r", "http://h.test/p , http://h.test/q"},
      {ieHTTP, u"HTTP://CAPS.test https://secure.test", ""},
      {ieHTTP, u"http://a.test/?u=http://b.test/", "http://a.test/?u=http://b.test/"},
      {ieHTTP, u"text that ends with http:/", ""},
      {ieHTTP, std::u16string(u"x http://a.test/\0 http://b.test/", 32), "http://a.test/ , http://b.test/"},
      {ieHTTP, u"http://a.test/[1]{2}|3~4^5`6\\7", "http://a.test/"},
      {ieHTTP, u"http://caf\u00E9.test/\u20AC", "http://caf\xC3\xA9.test/\xE2\x82\xAC"},
      {itFTP, u"ftp://f.test/pub", "ftp://f.test/pub"},
      {itNews, u"news:comp.lang", "news:comp.lang"},
      // sentence punctuation and unpaired closing brackets end a link; paired ones stay
      {ieHTTP,
       u"see http://h.test/plain, http://h.test/a. (http://h.test/b) http://h.test/w_(x)! http://h.test/q?;:",
       "http://h.test/plain , http://h.test/a , http://h.test/b , http://h.test/w_(x) , http://h.test/q"},
      {itFTP, u"get ftp://f.test/file.tgz.", "ftp://f.test/file.tgz"},
      {ieMailTo, u"(write to mailto:a@b.test).", "mailto:a@b.test"},
      {itNews, u"news:comp.lang:", "news:comp.lang"}};
  for (const auto& [kind, text, expected] : cases) {
    // The text as decoded text and as UTF-8 bytes.
    TStringList fromText, fromBytes;
    ExtractLinks(text, kind, fromText);
    ExtractLinksFromBytes(ToUtf8(text), kind, fromBytes);
    std::string joined;
    for (int i = 0; i < fromText.Count(); ++i) joined += (i ? " , " : "") + ToUtf8(fromText.Strings(i));
    EXPECT_EQ(joined, expected) << ToUtf8(text);
    EXPECT_EQ(fromBytes.Text(), fromText.Text()) << ToUtf8(text);
  }
}

// Bytes that are not UTF-8 are read in the ANSI code page (windows-1252) unless the answer names
// a charset. (Marks and charset names: sys/TextDecoding_test.cpp.)
TEST(ExtractLinks, TheAnswersCharsetDecidesAfterTheMark) {
  const std::tuple<std::string, const char*, const char16_t*> cases[] = {
      {"mailto:caf\xE9@x.test mailto:\xEF\xBB\xBF", "",
       u"mailto:caf\u00E9@x.test\r\nmailto:\u00EF\u00BB\u00BF\r\n"},
      {"mailto:caf\xC3\xA9@x.test", "ISO-8859-1", u"mailto:caf\u00C3\u00A9@x.test\r\n"}};
  for (const auto& [bytes, charset, found] : cases) {
    TStringList out;
    ExtractLinksFromBytes(bytes, ieMailTo, out, charset);
    EXPECT_EQ(out.Text(), found) << charset;
  }
}
