// The feed scanner on texts (no network), the lists that own the channels and items, and the
// temporary names of the content components.

#include <gtest/gtest.h>

#include <string>

#include "harness/Forked.h"
#include "qninet/web/QNIRSS.h"
#include "qninet/web/WebContent.h"

using namespace qninet;

namespace {

// The non-empty fields named in `names` (blank-separated, in the order of `fields`).
template <class T>
void add_fields(std::string& out, const T& object, std::string_view names,
                std::initializer_list<String T::*> fields) {
  for (String T::*field : fields) {
    const std::size_t blank = names.find(' ');
    if (!(object.*field).empty())
      out.append(" ").append(names.substr(0, blank)).append("=").append(ToUtf8(object.*field));
    names.remove_prefix(blank == names.npos ? names.size() : blank + 1);
  }
}

// Every non-empty field, channel by channel: "C title=T link=L / I title=A".
std::string describe(const TQNIRSSChannels& channels) {
  using C = TQNIRSSChannel;
  using I = TQNIRSSItem;
  std::string out;
  for (int c = 0; c < channels.Count(); ++c) {
    const C& ch = *channels.GetItem(c);
    out.append(out.empty() ? "C" : " | C");
    add_fields(
        out, ch,
        "title link description language copyright rating managingEditor webMaster pubDate lastBuildDate "
        "category generator docs ttl",
        {&C::Title, &C::Link, &C::Description, &C::Language, &C::Copyright, &C::Rating, &C::ManagingEditor,
         &C::WebMaster, &C::PubDate, &C::LastBuildDate, &C::Category, &C::Generator, &C::Docs, &C::Ttl});
    for (int i = 0; i < ch.Items()->Count(); ++i) {
      out.append(" / I");
      add_fields(out, *ch.Items()->GetItem(i), "title link description creator date",
                 {&I::Title, &I::Link, &I::Description, &I::Creator, &I::Date});
    }
  }
  return out;
}

// The feed scanned as bytes and as decoded text; both must agree.
std::string parse(const std::string& feed, bool decode = false) {
  TQNIRSSChannels channels;
  ParseRSSText(FromUtf8(feed), channels, decode);
  const std::string fromText = describe(channels);
  ParseRSSBytes(feed, channels, decode);
  const std::string fromBytes = describe(channels);
  EXPECT_EQ(fromText, fromBytes) << feed;
  return fromBytes;
}

}  // namespace

// RSS 0.9x/2.0, RDF and Atom feeds, each scanned as bytes and as text; with decoding on, the
// character references outside CDATA are decoded once. (A plain RSS 2.0 feed, decoded and raw,
// and a plain Atom entry: the program's rss rows.)
TEST(RSSScanner, FeedsAndTheirEdgeCases) {
  const std::string head = "<?xml version=\"1.0\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">\n";
  const std::tuple<const char*, bool, std::string, std::string> cases[] = {
      // clang-format off
      {"RDF: items beside the channel", false,
       "<rdf:RDF xmlns:rdf=\"r\" xmlns:dc=\"d\">\n<channel rdf:about=\"x\">\n<title>R</title>\n<items>"
       "<rdf:Seq><rdf:li resource=\"a\"/></rdf:Seq></items>\n</channel>\n<item rdf:about=\"a\">\n"
       "<title>A</title>\n<dc:creator>Ann</dc:creator>\n<dc:date>2024-01-01</dc:date>\n</item>\n"
       "<item rdf:about=\"b\">\n<title>B</title>\n</item>\n</rdf:RDF>",
       "C title=R / I title=A creator=Ann date=2024-01-01 / I title=B"},
      {"CDATA is text, joined with the blanks around it; entities stay", false,
       "<rss>\n<channel>\n<title> <![CDATA[Tom & <b>Jerry</b>]]> </title>\n"
       "<description>a &amp; <![CDATA[b]]>c</description>\n</channel></rss>",
       "C title=Tom & <b>Jerry</b> description=a &amp; bc"},
      {"a CDATA section without its end ends the parse", false,
       "<rss>\n<channel>\n<title>T</title>\n<link><![CDATA[http://x/</link>\n</channel>", "C title=T"},
      {"the image's fields overwrite the channel's", false,
       "<rss>\n<channel>\n<title>C</title>\n<link>http://c/</link>\n<image>\n<title>Logo</title>\n"
       "<url>http://c/l.png</url>\n<link>http://c/img</link>\n</image>\n</channel>\n</rss>",
       "C title=Logo link=http://c/img"},
      {"an apostrophe in a comment does not swallow the feed; blank comments are ignored", false,
       "<rss>\n<!-- it's the feed -->\n<channel>\n<title>T</title>\n<!-- a \"quoted\" > sign -->\n"
       "<item>\n<title>A</title>\n</item>\n</channel>\n</rss>", "C title=T / I title=A"},
      {"a comment without a blank is a level of the path: above the channel the tests still match", false,
       "<rss>\n<!--x-->\n<channel>\n<title>T</title>\n<item>\n<title>A</title>\n</item>\n</channel>\n</rss>",
       "C title=T / I title=A"},
      {"... inside the channel it moves item fields to the channel", false,
       "<rss>\n<channel>\n<!--x-->\n<title>T</title>\n<item>\n<title>A</title>\n</item>\n</channel>\n</rss>",
       "C title=A / I"},
      {"a quoted '>' does not end a tag; a self-closing tag changes nothing", false,
       "<rss>\n<channel a=\"1>2\">\n<atom:link href=\"x\" rel=\"self\"/>\n<title>T</title>\n</channel>\n"
       "</rss>",
       "C title=T"},
      {"text before the first channel and after the last tag is dropped", false,
       "<rss>\n<title>lost</title>\n<channel>\n<title>T</title>\n</channel>\ntrailing", "C title=T"},
      {"a tag without '>' ends the parse", false, "<rss>\n<channel>\n<title>T</title>\n<link a=\"x>",
       "C title=T"},
      {"an item title before any item goes nowhere", false,
       "<rss>\n<channel>\n<item><title>A</title>\n</item></channel></rss>", "C / I title=A"},
      {"two channels", false,
       "<rss>\n<channel>\n<title>A</title>\n</channel>\n<channel>\n<title>B</title>\n</channel>\n</rss>",
       "C title=A | C title=B"},
      {"invalid bytes of a UTF-8 feed become U+FFFD", false,
       "<?xml version=\"1.0\" encoding=\"UTF-8\"?><rss>\n<channel>\n<title>a\xFF\xC3"
       "b</title>\n</channel></rss>",
       "C title=a\xEF\xBF\xBD\xEF\xBF\xBD" "b"},
      {"XML, numeric and HTML references, once; unknown ones and a bare & stay", true,
       "<rss><channel><title>Tom &amp; Jerry &lt;3 &#233;&#xE9;&eacute;&Eacute;&apos;&hellip;&#x1F600; "
       "&bogus; &amp;lt; AT&T &#;&#x;</title></channel></rss>",
       "C title=Tom & Jerry <3 \xC3\xA9\xC3\xA9\xC3\xA9\xC3\x89'\xE2\x80\xA6\xF0\x9F\x98\x80 &bogus; &lt; "
       "AT&T &#;&#x;"},
      {"numbers that name no character", true,
       "<rss><channel><title>&#0;&#xD800;&#1114112;&#99999999999;</title>",
       "C title=\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
      {"CDATA keeps its text; the text around it is decoded", true,
       "<rss><channel><description>a &amp; <![CDATA[&amp;<b>]]> &gt;</description></channel></rss>",
       "C description=a & &amp;<b> >"},
      {"a reference at the edge is decoded after the trim", true,
       "<rss><channel><title> &#32;x&#160; </title>",
       "C title= x\xC2\xA0"},
      {"pubDate and author fill date and creator; the Dublin Core names win wherever they stand", false,
       "<rss><channel>\n<item>\n<author>a@x (A)</author>\n<pubDate>Tue</pubDate>\n</item>\n<item>\n"
       "<dc:date>2024</dc:date>\n<pubDate>Wed</pubDate>\n<author>b@x</author>\n<dc:creator>B</dc:creator>\n"
       "</item>\n<item>\n<pubDate>Thu</pubDate>\n<dc:date></dc:date>\n</item>\n</channel></rss>",
       "C / I creator=a@x (A) date=Tue / I creator=B date=2024 / I date=Thu"},
      {"RDF items too, decoded", true,
       "<rdf:RDF><channel>\n<title>R</title>\n</channel>\n<item>\n<title>&quot;A&quot;</title>\n"
       "<pubDate>Fri</pubDate>\n</item>\n</rdf:RDF>", "C title=R / I title=\"A\" date=Fri"},
      {"the feed's fields; the alternate link after a self link", false,
       head + "<title>Site</title>\n<subtitle>All of it</subtitle>\n<link rel=\"self\" "
       "href=\"http://s/feed\"/>\n<link rel='alternate' href='http://s/'/>\n"
       "<updated>2024-01-02T00:00:00Z</updated>\n<rights>(c) S</rights>\n<generator uri=\"http://g/\">Gen"
       "</generator>\n<id>urn:x</id>\n</feed>",
       "C title=Site link=http://s/ description=All of it copyright=(c) S lastBuildDate=2024-01-02T00:00:00Z "
       "generator=Gen"},
      {"an entry: several links, summary over content, updated over published, the author's name", false,
       head + "<entry>\n<title>One</title>\n<link rel=\"enclosure\" href=\"http://s/1.mp3\"/>\n"
       "<link href=\"http://s/1\" />\n<link rel=\"alternate\" href=\"http://s/1b\"/>\n"
       "<published>2024-01-01</published>\n<updated>2024-01-03</updated>\n<content>Long</content>\n"
       "<summary>Short</summary>\n<author>\n<name>Ann</name>\n<email>a@s</email>\n</author>\n"
       "<source>\n<title>Elsewhere</title>\n<updated>1999</updated>\n</source>\n</entry>\n</feed>",
       "C / I title=One link=http://s/1 description=Short creator=Ann date=2024-01-03"},
      {"no summary: the content; no updated: the published; the first alternate link", true,
       head + "<entry><title>Two</title><content type=\"html\">&lt;p&gt;Hi &amp;amp; bye&lt;/p&gt;</content>"
       "<published>2024-02-01</published><link rel=\"alternate\" href=\"http://s/2?a=1&amp;b=2\"/>"
       "<link rel=\"alternate\" type=\"text/plain\" href=\"http://s/2.txt\"/></entry></feed>",
       "C / I title=Two link=http://s/2?a=1&b=2 description=<p>Hi &amp; bye</p> date=2024-02-01"},
      {"xhtml content: the markup inside the div, kept as it is", true,
       head + "<entry>\n<title type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\">A <b>bold</b> "
       "one</div></title>\n<content type=\"xhtml\">\n<div xmlns=\"http://www.w3.org/1999/xhtml\">\n"
       "<p>Tom &amp; <i>Jerry</i></p><div>inner</div>\n</div>\n</content>\n<updated>2024</updated>\n"
       "</entry>\n</feed>",
       "C / I title=A <b>bold</b> one description=<p>Tom &amp; <i>Jerry</i></p><div>inner</div> date=2024"},
      {"CDATA and entities as in RSS", true,
       head + "<title><![CDATA[A & B]]></title>\n<entry>\n<title>&#233;t&eacute;</title>\n</entry>\n</feed>",
       "C title=A & B / I title=\xC3\xA9t\xC3\xA9"},
      {"off: the entity stays", false,
       head + "<entry>\n<title>&#233;</title>\n<link href=\"http://s/?a&amp;b\"/></entry>\n</feed>",
       "C / I title=&#233; link=http://s/?a&amp;b"},
      {"the feed's author stands for the entries without their own", true,
       head + "<entry><title>A</title></entry>\n<author><name>Feed &amp; Co</name></author>\n"
       "<entry><title>B</title><author><name>Bob</name></author></entry>\n</feed>",
       "C / I title=A creator=Feed & Co / I title=B creator=Bob"},
      {"comments without a blank between and inside entries", false,
       head + "<!--generated-->\n<entry><title>A</title></entry>\n<!--x--><entry><title>B</title><!--y-->"
       "<link href=\"http://s/b\"/></entry>\n</feed>", "C / I title=A / I title=B link=http://s/b"},
      {"a feed element inside an RSS channel is no Atom feed", false,
       "<rss><channel>\n<title>T</title>\n<feed>\n<title>F</title>\n</feed>\n</channel></rss>", "C title=F"},
      // clang-format on
  };
  for (const auto& [what, decode, feed, expected] : cases) EXPECT_EQ(parse(feed, decode), expected) << what;
}

// Bytes decoded as the feed says: a mark, else the declaration, else the answer's charset, else
// UTF-8 when valid, else the ANSI code page.
TEST(RSSScanner, FeedBytesInTheirOwnEncodings) {
  std::string wide = "\xFF\xFE";
  for (char16_t c : std::u16string(u"<rss><channel>\n<title>\u0416</title>"))
    wide += {char(c & 0xFF), char(c >> 8)};
  const std::tuple<std::string, const char*, std::string> cases[] = {
      {"<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n<rdf:RDF><channel>\n<title>R\xE9sum\xE9</title>\n"
       "</channel>\n<item>\n<dc:creator>Zo\xEB</dc:creator>\n</item></rdf:RDF>",
       "", "C title=R\xC3\xA9sum\xC3\xA9 / I creator=Zo\xC3\xAB"},
      {wide, "utf-8", "C title=\xD0\x96"},
      {"<rss><channel>\n<title>caf\xC3\xA9</title>", "ISO-8859-1", "C title=caf\xC3\x83\xC2\xA9"},
      {"<rss><channel>\n<title>caf\xE9 \x80</title>", "", "C title=caf\xC3\xA9 \xE2\x82\xAC"}};
  for (const auto& [bytes, charset, expected] : cases) {
    TQNIRSSChannels channels;
    ParseRSSBytes(bytes, channels, false, charset);
    EXPECT_EQ(describe(channels), expected) << bytes;
  }
}

// Feeds shaped to be hard, each in a child with a few seconds of processor time: every tag
// copied and searched the whole path of open elements, however deep or long it had grown. Each
// row expects the last item's title and the count.
TEST(RSSScanner, EveryShapeIsReadInLinearWork) {
  std::string items, nested;
  for (int i = 0; i < 20000; ++i) items += "<item><title>t</title></item>";
  for (int i = 0; i < 1000000; ++i) nested += "<x>";
  for (int i = 0; i < 1000000; ++i) nested += "</x>";
  const std::pair<std::string, std::string> cases[] = {
      {"<rss><channel>" + nested + "<item><title>t</title></item></channel></rss>", "t 1"},
      {"<rss><channel><" + std::string(3000000, 'y') + ">" + items, " 20000"},  // one unclosed name
  };
  for (const auto& [feed, expected] : cases) {
    const auto outcome = harness::RunForked(
        [&feed = feed, &expected = expected] {
          TQNIRSSChannels channels;
          ParseRSSBytes(feed, channels, false);
          const auto* list = channels.Count() == 1 ? channels.GetItem(0)->Items() : nullptr;
          const std::string got = !list || !list->Count()
                                      ? "none"
                                      : ToUtf8(list->Last()->Title) + " " + std::to_string(list->Count());
          return harness::CaseResult{got == expected, got};
        },
        4);
    EXPECT_TRUE(outcome.Ran && outcome.Success) << expected << ": " << outcome.Text;
  }
}

TEST(RSSLists, OwnAssignAndDelete) {
  TQNIRSSChannels channels;
  ParseRSSText(
      u"<rss>\n<channel>\n<title>T</title>\n<language>de</language>\n<item>\n<title>A</title>\n"
      u"</item>\n<item>\n<title>B</title>\n</item>\n</channel></rss>",
      channels);
  ASSERT_EQ(channels.Count(), 1);
  EXPECT_TRUE(channels.GetItem(-1) == nullptr && channels.GetItem(1) == nullptr);
  TQNIRSSChannel copy;
  copy.Items()->Add()->Title = u"old";
  copy.Assign(channels.GetItem(0));
  TQNIRSSItem stranger;
  copy.Assign(&stranger);  // not a channel: nothing changes
  TQNIRSSChannels one;
  one.Add()->Assign(&copy);
  EXPECT_EQ(describe(one), "C title=T language=de / I title=A / I title=B");
  one.GetItem(0)->Items()->DeleteItem(0);
  EXPECT_EQ(describe(one), "C title=T language=de / I title=B");
  EXPECT_THROW(one.GetItem(0)->Items()->DeleteItem(1), EListError);
  EXPECT_EQ(channels.GetItem(0)->Items()->Count(), 2);  // the copy is deep
}

TEST(ContentTempNames, ExtensionsOnlyFromTheLastSegment) {
  // (A plain name's extension: the content downloads against nginx.)
  const std::pair<const char16_t*, const char16_t*> cases[] = {{u"/feed.rss?x=1.2", u".rss"},
                                                               {u"/a.dir/feed", u""},
                                                               {u"/feed.php?path=../../x.html", u".php"},
                                                               {u"/page.12345678901", u""},
                                                               {u"/x.h-t", u""},
                                                               {u"/x.", u""},
                                                               {u"dir\\p.HTM#a.b", u".HTM"},
                                                               {u"", u""}};
  for (const auto& [remote, ext] : cases) EXPECT_EQ(TempFileExtension(remote), ext) << ToUtf8(remote);
  const int a = NewTempFileSlot();
  EXPECT_EQ(PrivateTempFileName(a, u"/f.xml"), PrivateTempFileName(a, u"/g.xml"));
}
