// The content components against real servers on loopback: the feed parser and the information
// extractor against nginx (downloads into private temporary files, answers' charsets, pages
// that vanish), and the page fetch against nginx and pyftpdlib. How feeds and pages are read
// from their bytes is the unit tests' part.

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

const char* kFeed =
    "<rss version=\"2.0\"><channel><title>News</title><item><title>One</title></item></channel></rss>";

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

TEST_F(RssFeeds, OutcomesAndThePrivateTemporaryFile) {
  nginx.WriteFile("news/feed.rss", kFeed);
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
      {itHTTPS, "https://example.test/b\n"},
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
  harness::FtpServer ftp;
  harness::WriteFileBytes(ftp.Root() / "notes.txt", "ftp body");
  TQNWebUpdater web(nullptr);
  web.SetTimeout(15000);
  const struct {
    std::string url;
    bool ok;
    std::string body;
  } cases[] = {
      {nginx.Url("/short.txt"), true, "new"},
      {nginx.Url("/gone.html"), true, "no such page here"},  // the status is not examined
      {ftp.Url("/notes.txt"), true, "ftp body"},
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
  nginx.WriteFile("ansi.txt", "caf\xE9 \x80");
  nginx.AddLocation("location /latin/ { types { } default_type \"text/plain; charset=ISO-8859-1\"; }");
  nginx.Start();
  ::setenv("QNINET_ANSI_CODEPAGE", "windows-1252", 1);
  TQNWebUpdater web(nullptr);
  const std::pair<const char*, const char16_t*> cases[] = {
      {"/latin/page.txt", u"caf\u00C3\u00A9 mailto:z\u00C3\u00B6@x.test"},
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
