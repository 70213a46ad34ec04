// The feed parser, the information extractor and the page fetch against nginx: private temporary
// downloads, answers' charsets, pages that vanish (page fetch over FTP: listing_test).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <tuple>

#include "harness/Nginx.h"
#include "harness/TempDir.h"
#include "qninet/sys/PrivateTemp.h"
#include "qninet/web/QNIRSS.h"
#include "qninet/web/qnixtract.h"
#include "support/NoSystemProxy.h"

namespace fs = std::filesystem;
using namespace qninet;

namespace {

const char* kFeed =
    "<rss version=\"2.0\"><channel><title>News</title><item><title>One</title></item></channel></rss>";
const char* kPage =
    "<html><body>\n<a href=\"mailto:ann@example.test\">Ann</a>\n"
    "<a href='mailto:bob@example.test'>Bob</a> write to mailto:zo\xC3\xAB@example.test\n"
    "<a href=\"https://example.test/b\">b</a>\n<p>http://example.test/plain\nnext line</p></body></html>\n";

}  // namespace

// Downloads go to the private folder under the remote extension, the feed's gone after the run, the
// page's kept to be found current. A failed run keeps what was read; a gone file empties it.
TEST(ContentDownloads, PrivateFilesSkippedRunsAndGoneFiles) {
  test_support::NoSystemProxy noProxy;
  harness::Nginx nginx;
  nginx.WriteFile("news/feed.rss", kFeed);
  nginx.AddStatusLocation("/news/broken.rss", 500);
  const fs::path served = nginx.WriteFile("site/index.html", kPage);
  nginx.Start();
  const fs::path folder = *sys::private_temp_folder();
  TQNIRSSParser p(nullptr);
  p.SetURL(FromUtf8(nginx.Url("/news/feed.rss")));
  p.SetTimeout(15000);
  std::string seen;
  p.SetOnAfterExecute([&](TObject*) {
    for (const auto& e : fs::directory_iterator(folder))
      if (e.path().extension() == ".rss") seen = e.path().string();
  });
  ASSERT_TRUE(p.Execute());
  ASSERT_EQ(p.Channels()->Count(), 1);
  EXPECT_EQ(fs::path(seen).parent_path(), folder.parent_path());
  EXPECT_FALSE(fs::exists(seen));
  p.SetRemoteFileName(u"/news/broken.rss");
  EXPECT_FALSE(p.Execute());
  EXPECT_EQ(p.Channels()->Count(), 1);
  p.SetRemoteFileName(u"/news/gone.rss");
  EXPECT_TRUE(p.Execute());
  EXPECT_EQ(p.Status(), isNotFound);
  EXPECT_EQ(p.Channels()->Count(), 0);
  EXPECT_FALSE(fs::exists(seen));

  TQNInfoExtractor x(nullptr);
  x.SetURL(FromUtf8(nginx.Url("/site/index.html")));
  x.SetTimeout(15000);
  const std::string local = ToUtf8(x.LocalFileName());
  EXPECT_EQ(fs::path(local).extension(), ".html");
  const std::tuple<TQNIExtract, TQNIStatus, const char16_t*> runs[] = {
      {ieMailTo, isFinished,
       u"mailto:ann@example.test\r\nmailto:bob@example.test\r\nmailto:zo\u00EB@example.test\r\n"},
      {itHTTPS, isSkipped, u"https://example.test/b\r\n"}};
  for (const auto& [kind, status, found] : runs) {
    x.SetExtract(kind);
    ASSERT_TRUE(x.Execute()) << ToUtf8(x.LastErrorText());
    EXPECT_EQ(x.Status(), status);
    EXPECT_EQ(x.ExtractedInfo()->Text(), found);
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
  test_support::NoSystemProxy noProxy;
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
  test_support::NoSystemProxy noProxy;
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
