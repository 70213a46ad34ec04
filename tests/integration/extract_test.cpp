// The information extractor against nginx on loopback: links of a page, the private temporary
// file kept between runs, and a page that vanishes.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "harness/Nginx.h"
#include "qninet/sys/Settings.h"
#include "qninet/web/qnixtract.h"

namespace fs = std::filesystem;
using namespace qninet;

namespace {

struct NoSystemProxy {
  NoSystemProxy() { sys::set_proxy_setting_override(sys::ProxySetting{}); }
  ~NoSystemProxy() { sys::set_proxy_setting_override(std::nullopt); }
};

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

  // Another extractor keeps a file of its own.
  {
    TQNInfoExtractor other(nullptr);
    other.SetURL(FromUtf8(nginx.Url("/site/index.html")));
    EXPECT_NE(other.LocalFileName(), x.LocalFileName());
  }

  fs::remove(served);
  x.SetExtract(ieMailTo);
  EXPECT_TRUE(x.Execute());
  EXPECT_EQ(x.Status(), isNotFound);
  EXPECT_EQ(x.ExtractedInfo()->Count(), 0);
  EXPECT_FALSE(fs::exists(local));
}
