// The content components against real servers on loopback: the feed parser and the information
// extractor against nginx (feeds in several encodings, pages with links, private temporary
// files, pages that vanish), and the page fetch against nginx and pyftpdlib.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "harness/FtpServer.h"
#include "harness/Nginx.h"
#include "harness/TempDir.h"
#include "qninet/sys/PrivateTemp.h"
#include "qninet/sys/Settings.h"
#include "qninet/web/QNIRSS.h"
#include "qninet/web/qnixtract.h"

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
    if (c > 0) out += " | ";
    out.append(ToUtf8(ch.Title)).append(" <").append(ToUtf8(ch.Link)).append(">:");
    for (int i = 0; i < ch.Items()->Count(); ++i) {
      const TQNIRSSItem& it = *ch.Items()->GetItem(i);
      out.append(" ")
          .append(ToUtf8(it.Title))
          .append(" (")
          .append(ToUtf8(it.Link))
          .append(ToUtf8(it.Creator));
      out += ')';
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

namespace {

const char* kPage =
    "<html><body>\n<a href=\"mailto:ann@example.test\">Ann</a>\n"
    "<a href='mailto:bob@example.test'>Bob</a> write to mailto:zo\xC3\xAB@example.test\n"
    "<a href=\"http://example.test/a?x=1#top\">a</a> <a href=\"https://example.test/b\">b</a>\n"
    "<p>http://example.test/plain\nnext line</p></body></html>\n";

std::string lines(const TStrings& list) {
  std::string out;
  for (int i = 0; i < list.Count(); ++i) out += ToUtf8(list.Strings(i)) + "\n";
  return out;
}

}  // namespace

TEST(ExtractFromPages, LinksOfEachKindThenSkippedThenGone) {
  NoSystemProxy noProxy;
  harness::Nginx nginx;
  const fs::path served = nginx.WriteFile("site/index.html", kPage);
  nginx.Start();

  const struct {
    TQNIExtract kind;
    const char* expected;
  } cases[] = {
      {ieMailTo, "mailto:ann@example.test\nmailto:bob@example.test\nmailto:zo\xC3\xAB@example.test\n"},
      {ieHTTP, "http://example.test/a?x=1\nhttp://example.test/plain\n"},
      {itHTTPS, "https://example.test/b\n"},
      {itFTP, ""},
  };
  TQNInfoExtractor x(nullptr);
  x.SetURL(FromUtf8(nginx.Url("/site/index.html")));
  x.SetTimeout(15000);
  const std::string local = ToUtf8(x.LocalFileName());
  EXPECT_EQ(fs::path(local).extension(), ".html");
  for (const auto& c : cases) {
    x.SetExtract(c.kind);
    ASSERT_TRUE(x.Execute()) << ToUtf8(x.LastErrorText());
    // The first run downloads; later ones find the private copy current and read it again.
    EXPECT_EQ(x.Status(), c.kind == ieMailTo ? isFinished : isSkipped);
    EXPECT_EQ(lines(*x.ExtractedInfo()), c.expected) << static_cast<int>(c.kind);
  }
  EXPECT_TRUE(fs::exists(local));

  fs::remove(served);
  x.SetExtract(ieMailTo);
  EXPECT_TRUE(x.Execute());
  EXPECT_EQ(x.Status(), isNotFound);
  EXPECT_EQ(x.ExtractedInfo()->Count(), 0);
  EXPECT_FALSE(fs::exists(local));
}

TEST(PageFetch, BodiesIntoUsedStreamsAndFailuresLeaveThemEmpty) {
  NoSystemProxy noProxy;
  harness::Nginx nginx;
  nginx.WriteFile("short.txt", "new");
  nginx.WriteFile("404.html", "no such page here");
  nginx.AddLocation("error_page 404 /404.html;");
  nginx.Start();
  TQNWebUpdater web(nullptr);
  web.SetTimeout(15000);

  const struct {
    std::string url;
    bool ok;
    std::string body;
  } cases[] = {
      {nginx.Url("/short.txt"), true, "new"},
      {nginx.Url("/gone.html"), true, "no such page here"},  // the status is not examined
      {"http://127.0.0.1:1/x", false, ""},
      {"gopher://127.0.0.1/x", false, ""},
  };
  for (const auto& c : cases) {
    TStringStream stream(std::string_view("an older and longer content"));
    EXPECT_EQ(web.ReadHTTPGetResponse(FromUtf8(c.url), &stream), c.ok) << c.url;
    EXPECT_EQ(std::string(stream.Bytes()), c.body) << c.url;
    EXPECT_EQ(stream.Position(), 0);
    EXPECT_EQ(web.LastErrorText().empty(), c.ok) << c.url << ": " << ToUtf8(web.LastErrorText());
  }
}

TEST(PageFetch, TextByMarkCharsetOrBytes) {
  NoSystemProxy noProxy;
  harness::Nginx nginx;
  // Bytes that would pass for UTF-8: only the answer's charset tells that they are Latin-1.
  nginx.WriteFile("latin/page.txt", "caf\xC3\xA9 mailto:z\xC3\xB6@x.test");
  nginx.WriteFile("utf8.txt", "caf\xC3\xA9");
  nginx.WriteFile("wide.txt", std::string("\xFF\xFE\xE9\0", 4));
  nginx.WriteFile("ansi.txt", "caf\xE9 \x80");
  nginx.AddLocation("location /latin/ { types { } default_type \"text/plain; charset=ISO-8859-1\"; }");
  nginx.Start();
  ::setenv("QNINET_ANSI_CODEPAGE", "windows-1252", 1);
  TQNWebUpdater web(nullptr);
  const std::pair<const char*, const char16_t*> cases[] = {
      {"/latin/page.txt", u"caf\u00C3\u00A9 mailto:z\u00C3\u00B6@x.test"},
      {"/utf8.txt", u"caf\u00E9"},
      {"/wide.txt", u"\u00E9"},
      {"/ansi.txt", u"caf\u00E9 \u20AC"}};
  for (const auto& [path, text] : cases)
    EXPECT_EQ(web.ReadHTTPGetResponseString(FromUtf8(nginx.Url(path))), text) << path;
  ::unsetenv("QNINET_ANSI_CODEPAGE");
  // The extractor reads its download in the charset of the answer too, also when it skips it.
  TQNInfoExtractor x(nullptr);
  x.SetURL(FromUtf8(nginx.Url("/latin/page.txt")));
  for (const TQNIStatus status : {isFinished, isSkipped}) {
    ASSERT_TRUE(x.Execute()) << ToUtf8(x.LastErrorText());
    EXPECT_EQ(x.Status(), status);
    ASSERT_EQ(x.ExtractedInfo()->Count(), 1);
    EXPECT_EQ(x.ExtractedInfo()->Strings(0), u"mailto:z\u00C3\u00B6@x.test");
  }
}

TEST(PageFetch, FtpFile) {
  harness::FtpServer ftp;
  std::filesystem::create_directories(ftp.Root() / "pub");
  harness::WriteFileBytes(ftp.Root() / "pub/notes.txt", "ftp body");
  TQNWebUpdater web(nullptr);
  TMemoryStream stream;
  ASSERT_TRUE(web.ReadHTTPGetResponse(FromUtf8(ftp.Url("/pub/notes.txt")), &stream))
      << ToUtf8(web.LastErrorText());
  EXPECT_EQ(std::string(stream.Bytes()), "ftp body");
}
