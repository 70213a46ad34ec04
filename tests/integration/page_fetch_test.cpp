// The page fetch against nginx and pyftpdlib on loopback: the body into a used stream, error
// pages, failures, and the body as text.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "harness/FtpServer.h"
#include "harness/Nginx.h"
#include "harness/TempDir.h"
#include "qninet/sys/Settings.h"
#include "qninet/web/qniupdate.h"

using namespace qninet;

namespace {

struct NoSystemProxy {
  NoSystemProxy() { sys::set_proxy_setting_override(sys::ProxySetting{}); }
  ~NoSystemProxy() { sys::set_proxy_setting_override(std::nullopt); }
};

}  // namespace

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
  nginx.WriteFile("latin/page.txt", "caf\xE9");
  nginx.WriteFile("utf8.txt", "caf\xC3\xA9");
  nginx.WriteFile("wide.txt", std::string("\xFF\xFE\xE9\0", 4));
  nginx.WriteFile("ansi.txt", "caf\xE9 \x80");
  nginx.AddLocation("location /latin/ { types { } default_type \"text/plain; charset=ISO-8859-1\"; }");
  nginx.Start();
  ::setenv("QNINET_ANSI_CODEPAGE", "windows-1252", 1);
  TQNWebUpdater web(nullptr);
  const std::pair<const char*, const char16_t*> cases[] = {{"/latin/page.txt", u"caf\u00E9"},
                                                           {"/utf8.txt", u"caf\u00E9"},
                                                           {"/wide.txt", u"\u00E9"},
                                                           {"/ansi.txt", u"caf\u00E9 \u20AC"}};
  for (const auto& [path, text] : cases)
    EXPECT_EQ(web.ReadHTTPGetResponseString(FromUtf8(nginx.Url(path))), text) << path;
  ::unsetenv("QNINET_ANSI_CODEPAGE");
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
