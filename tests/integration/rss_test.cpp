// The feed parser against nginx on loopback: RSS 2.0 and RDF feeds in several encodings, and
// the outcomes of a run (not found, failed) with its private temporary file.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "harness/Nginx.h"
#include "qninet/sys/PrivateTemp.h"
#include "qninet/sys/Settings.h"
#include "qninet/web/QNIRSS.h"

namespace fs = std::filesystem;
using namespace qninet;

namespace {

struct NoSystemProxy {
  NoSystemProxy() { sys::set_proxy_setting_override(sys::ProxySetting{}); }
  ~NoSystemProxy() { sys::set_proxy_setting_override(std::nullopt); }
};

// "channel title: item title (link), ..." for each channel.
std::string summary(const TQNIRSSChannels& channels) {
  std::string out;
  for (int c = 0; c < channels.Count(); ++c) {
    const TQNIRSSChannel& ch = *channels.GetItem(c);
    out += (c ? " | " : "") + ToUtf8(ch.Title) + " <" + ToUtf8(ch.Link) + ">:";
    for (int i = 0; i < ch.Items()->Count(); ++i) {
      const TQNIRSSItem& it = *ch.Items()->GetItem(i);
      out += " " + ToUtf8(it.Title) + " (" + ToUtf8(it.Link) + ToUtf8(it.Creator) + ")";
    }
  }
  return out;
}

const char* kRss2 =
    "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
    "<!-- it's the feed of the \"loopback\" site -->\n"
    "<rss version=\"2.0\" xmlns:atom=\"http://www.w3.org/2005/Atom\">\n<!--nospace-->\n<channel>\n"
    "<title><![CDATA[Caf\xC3\xA9 & News]]></title>\n<link>http://n.test/</link>\n"
    "<atom:link href=\"http://n.test/feed\" rel=\"self\" type=\"application/rss+xml\"/>\n"
    "<item>\n<title>Gr\xC3\xBC\xC3\x9F"
    "e</title>\n<link>http://n.test/1</link>\n"
    "<description><![CDATA[<p>Hello</p>]]></description>\n</item>\n"
    "<item><title>Two</title><link>http://n.test/2</link></item>\n"
    "<image>\n<url>http://n.test/logo.png</url>\n<title>Logo</title>\n<link>http://n.test/home</link>\n</"
    "image>\n"
    "</channel>\n</rss>\n";

const char* kRdf =
    "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?>\n"
    "<rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\" xmlns=\"http://purl.org/rss/1.0/\"\n"
    " xmlns:dc=\"http://purl.org/dc/elements/1.1/\">\n"
    "<channel rdf:about=\"http://r.test/\">\n<title>R\xE9sum\xE9</title>\n<link>http://r.test/</link>\n"
    "<items><rdf:Seq><rdf:li rdf:resource=\"http://r.test/a\"/></rdf:Seq></items>\n</channel>\n"
    "<item rdf:about=\"http://r.test/a\">\n<title>A</title>\n<link>http://r.test/a</link>\n"
    "<dc:creator>Zo\xEB</dc:creator>\n</item>\n</rdf:RDF>\n";

std::string utf16le(const std::u16string& s) {
  std::string out = "\xFF\xFE";
  for (char16_t c : s) {
    out.push_back(static_cast<char>(c & 0xFF));
    out.push_back(static_cast<char>(c >> 8));
  }
  return out;
}

class RssFeeds : public ::testing::Test {
protected:
  NoSystemProxy noProxy;
  harness::Nginx nginx;
  std::unique_ptr<TQNIRSSParser> parser(const std::string& path) {
    auto p = std::make_unique<TQNIRSSParser>(nullptr);
    p->SetURL(FromUtf8(nginx.Url(path)));
    p->SetTimeout(15000);
    return p;
  }
};

}  // namespace

TEST_F(RssFeeds, ReadsFeedsInTheirOwnEncodings) {
  const struct {
    const char* path;
    std::string bytes;
    const char* expected;
  } cases[] = {
      {"/rss2.xml", kRss2,
       "Logo <http://n.test/home>: Gr\xC3\xBC\xC3\x9F"
       "e (http://n.test/1) Two (http://n.test/2)"},
      {"/feed.rdf", kRdf, "R\xC3\xA9sum\xC3\xA9 <http://r.test/>: A (http://r.test/aZo\xC3\xAB)"},
      {"/wide.rss", utf16le(u"<rss>\n<channel>\n<title>\u0416</title>\n</channel></rss>"), "\xD0\x96 <>:"},
  };
  for (const auto& c : cases) nginx.WriteFile(c.path + 1, c.bytes);
  nginx.Start();
  for (const auto& c : cases) {
    auto p = parser(c.path);
    EXPECT_TRUE(p->Execute()) << c.path << ": " << ToUtf8(p->LastErrorText());
    EXPECT_EQ(p->Status(), isFinished) << c.path;
    EXPECT_EQ(summary(*p->Channels()), c.expected) << c.path;
  }
  auto p = parser("/rss2.xml");
  ASSERT_TRUE(p->Execute());
  const TQNIRSSItem* first = p->Channels()->GetItem(0)->Items()->GetItem(0);
  EXPECT_EQ(first->Description, u"<p>Hello</p>");
}

TEST_F(RssFeeds, OutcomesAndThePrivateTemporaryFile) {
  nginx.WriteFile("news/feed.rss", kRss2);
  nginx.AddStatusLocation("/news/broken.rss", 500);
  nginx.Start();
  const fs::path folder = *sys::private_temp_folder();
  auto p = parser("/news/feed.rss");
  std::string seen;
  p->SetOnAfterExecute([&](TObject*) {
    for (const auto& e : fs::directory_iterator(folder))
      if (e.path().extension() == ".rss") seen = e.path().string();
  });
  ASSERT_TRUE(p->Execute());
  ASSERT_EQ(p->Channels()->Count(), 1);
  // The download lived in the private folder with the feed's extension, and is gone now.
  EXPECT_EQ(fs::path(seen).parent_path(), folder.parent_path());
  EXPECT_FALSE(fs::exists(seen));

  // A failed run keeps the channels; a feed that is gone has none.
  p->SetRemoteFileName(u"/news/broken.rss");
  EXPECT_FALSE(p->Execute());
  EXPECT_EQ(p->Channels()->Count(), 1);
  p->SetRemoteFileName(u"/news/gone.rss");
  EXPECT_TRUE(p->Execute());
  EXPECT_EQ(p->Status(), isNotFound);
  EXPECT_EQ(p->Channels()->Count(), 0);
  EXPECT_FALSE(fs::exists(seen));
}
