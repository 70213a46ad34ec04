// The web components and the socket HTTP client against nginx and lighttpd, each over HTTP and
// HTTPS; a page fetch and an update through tinyproxy and squid; and the socket client against
// Python's HTTPS server, which closes without a TLS close_notify.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <thread>

#include "harness/ServerLaunch.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/web/QNIRSS.h"
#include "qninet/web/qniupdate.h"
#include "support/NoSystemProxy.h"

namespace fs = std::filesystem;
using namespace qninet;
using harness::ReadFileText;
using harness::WriteFileBytes;

namespace {

const std::string kPage = "line one\nline two\n";
// Latin-1 without a declaration: only the answer's charset names the encoding.
const std::string kFeed =
    "<rss version=\"2.0\">\n<channel>\n<title>R\xE9sum\xE9</title>\n<item>\n<title>Caf\xE9"
    "</title>\n</item>\n</channel>\n</rss>\n";
const std::string kLatin = "application/rss+xml; charset=ISO-8859-1";

/// One server on one scheme, with a folder of its own (a server may keep a file's date of a run).
struct Peer {
  std::string Name;
  const harness::WebServer* Server;
  std::string Scheme = "http";
  bool Tls() const { return Scheme == "https"; }
  std::uint16_t Port() const { return Tls() ? Server->HttpsPort() : Server->Port(); }
  std::string CaFile() const { return Tls() ? Server->CA()->CaCert().string() : ""; }
  std::string Url(const std::string& path) const {
    return Scheme + "://127.0.0.1:" + std::to_string(Port()) + "/" + Scheme + path;
  }
  fs::path Write(const std::string& path, const std::string& bytes) const {
    return Server->WriteFile(Scheme + path, bytes);
  }
};

// Whether the log holds the text within a few seconds: a line is written once a request ends.
bool logged(const std::function<std::string()>& log, const std::string& text) {
  for (int i = 0; i < 50 && log().find(text) == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  return log().find(text) != std::string::npos;
}

template <class C>
C& bound(C& c, const Peer& p) {
  c.SetTimeout(15000);
  c.SetCAFile(FromUtf8(p.CaFile()));
  return c;
}

std::unique_ptr<TQNWebUpdater> updater(const Peer& p, const std::string& path, const fs::path& local) {
  auto u = std::make_unique<TQNWebUpdater>(nullptr);
  u->SetURL(FromUtf8(p.Url(path)));
  u->SetLocalFileName(FromUtf8(local.string()));
  bound(*u, p);
  return u;
}

void update_then_skip(const Peer& p, const fs::path& dir) {
  const std::string body = harness::WebServer::Pattern(30000);
  p.Write("/file.bin", body);
  auto u = updater(p, "/file.bin", dir / "file.bin");
  ASSERT_TRUE(u->Execute()) << ToUtf8(u->LastErrorText());
  EXPECT_EQ(u->Status(), isFinished);
  EXPECT_EQ(ReadFileText(dir / "file.bin"), body);
  EXPECT_TRUE(u->Execute());
  EXPECT_EQ(u->Status(), isSkipped);  // the look-up found the same date and size
}

void resume_with_range(const Peer& p, const fs::path& dir) {
  const std::string body = harness::WebServer::Pattern(200000);
  const fs::path served = p.Write("/big.bin", body);
  const auto stamp = std::chrono::floor<std::chrono::seconds>(fs::last_write_time(served));
  fs::last_write_time(served, stamp);
  // What a killed run left of this version: marked bytes, so that only a range keeps them.
  const std::string kept(50000, 'Z');
  WriteFileBytes(dir / "big.bin.part", kept);
  fs::last_write_time(dir / "big.bin.part", stamp);
  auto u = updater(p, "/big.bin", dir / "big.bin");
  u->SetResumeDownload(true);
  ASSERT_TRUE(u->Execute()) << ToUtf8(u->LastErrorText());
  EXPECT_TRUE(ReadFileText(dir / "big.bin") == kept + body.substr(kept.size()));
  EXPECT_TRUE(logged([&] { return p.Server->AccessLog(); }, "GET /" + p.Scheme + "/big.bin HTTP/1.1\" 206 "))
      << p.Server->AccessLog();
}

void page_fetch(const Peer& p, const fs::path&) {
  p.Write("/page.txt", kPage);
  TQNWebUpdater web(nullptr);
  TMemoryStream body;
  ASSERT_TRUE(bound(web, p).ReadHTTPGetResponse(FromUtf8(p.Url("/page.txt")), &body))
      << ToUtf8(web.LastErrorText());
  EXPECT_EQ(std::string(body.Bytes()), kPage);
}

void feed_in_the_answers_charset(const Peer& p, const fs::path&) {
  // A system code page other than Latin-1: only the answer's charset gives the accents.
  struct Cyrillic {
    Cyrillic() { ::setenv("QNINET_ANSI_CODEPAGE", "windows-1251", 1); }
    ~Cyrillic() { ::unsetenv("QNINET_ANSI_CODEPAGE"); }
  } const ansi;
  p.Write("/latin/feed.rss", kFeed);
  TQNIRSSParser r(nullptr);
  r.SetURL(FromUtf8(p.Url("/latin/feed.rss")));
  ASSERT_TRUE(bound(r, p).Execute()) << ToUtf8(r.LastErrorText());
  const TQNIRSSChannel* channel = r.Channels()->GetItem(0);
  ASSERT_TRUE(channel && channel->Items()->Count() == 1);
  EXPECT_EQ(channel->Title + u" " + channel->Items()->GetItem(0)->Title, u"R\u00E9sum\u00E9 Caf\u00E9");
}

TQNIHTTPClient& socket_client(TQNIHTTPClient& c, bool tls, const std::string& caFile, std::uint16_t port,
                              const std::string& request) {
  if (tls) c.SetUseTLS(tlsImplicit);
  c.SetCAFile(FromUtf8(caFile));
  c.SetAction(haGet);
  c.SetHost(u"127.0.0.1");
  c.SetPort(port);
  c.SetRequest(FromUtf8(request));
  c.SetTimeout(15000);
  return c;
}

void socket_get(const Peer& p, const fs::path&) {
  p.Write("/page.txt", kPage);
  TQNIHTTPClient c(nullptr);
  EXPECT_EQ(socket_client(c, p.Tls(), p.CaFile(), p.Port(), "/" + p.Scheme + "/page.txt").Execute(),
            u"line one\r\nline two\r\n");
  EXPECT_EQ(c.LastError(), u"");
}

}  // namespace

TEST(PeersHttp, EachCaseAgainstNginxAndLighttpdOverHttpAndHttps) {
  test_support::NoSystemProxy noProxy;
  harness::Nginx nginx(true);
  nginx.AddLocation("location ~ /latin/ { types { } default_type \"" + kLatin + "\"; }");
  nginx.Start();
  harness::Lighttpd lighttpd(true);
  lighttpd.AddConfig("$HTTP[\"url\"] =~ \"/latin/\" { mimetype.assign = (\"\" => \"" + kLatin + "\") }");
  lighttpd.Start();
  const Peer peers[] = {{"nginx", &nginx},
                        {"nginx", &nginx, "https"},
                        {"lighttpd", &lighttpd},
                        {"lighttpd", &lighttpd, "https"}};
  const std::pair<const char*, void (*)(const Peer&, const fs::path&)> rows[] = {
      {"updater skips by the look-up", update_then_skip},
      {"updater resumes with a range", resume_with_range},
      {"page fetch", page_fetch},
      {"feed in the answer's charset", feed_in_the_answers_charset},
      {"socket client", socket_get},
  };
  for (const Peer& peer : peers)
    for (const auto& [name, run] : rows) {
      SCOPED_TRACE(peer.Name + " " + peer.Scheme + ": " + name);
      harness::TempDir dir("qninet-peers");
      run(peer, dir.Path());
    }
}

// squid stands beside tinyproxy: two proxies nobody here wrote, one page fetch and one update each.
TEST(PeersHttp, PageFetchAndUpdateThroughTinyproxyAndSquid) {
  test_support::NoSystemProxy noProxy;
  harness::Nginx nginx;
  nginx.Start();
  const Peer server{"nginx", &nginx};
  server.Write("/file.bin", kPage);
  server.Write("/page.txt", kPage);
  harness::TinyProxy tinyproxy;
  harness::Squid squid;
  const std::pair<std::uint16_t, std::function<std::string()>> proxies[] = {
      {tinyproxy.Port(), [&] { return tinyproxy.LogText(); }},
      {squid.Port(), [&] { return squid.AccessLog(); }}};
  for (const auto& [port, log] : proxies) {
    SCOPED_TRACE(port == squid.Port() ? "squid" : "tinyproxy");
    harness::TempDir dir("qninet-peers");
    auto u = updater(server, "/file.bin", dir.File("file.bin"));
    u->SetLoadSystemProxy(false);
    u->Proxy()->SetServer(u"127.0.0.1");
    u->Proxy()->SetPort(port);
    u->Proxy()->SetUseProxy(true);
    EXPECT_TRUE(u->Execute()) << ToUtf8(u->LastErrorText());
    EXPECT_EQ(ReadFileText(dir.File("file.bin")), kPage);
    TMemoryStream body;
    EXPECT_TRUE(u->ReadHTTPGetResponse(FromUtf8(server.Url("/page.txt")), &body))
        << ToUtf8(u->LastErrorText());
    EXPECT_EQ(std::string(body.Bytes()), kPage);
    EXPECT_TRUE(logged(log, "/file.bin") && logged(log, "/page.txt")) << log();
  }
}

// Without close_notify a body whole by its Content-Length is the answer, a cut one an error.
TEST(PeersHttp, SocketClientWithoutCloseNotify) {
  test_support::NoSystemProxy noProxy;
  harness::ServiceFixture python;
  python.SetAudio("RIFF sound");
  const std::pair<const char*, std::u16string> cases[] = {
      {"/v2/Http.svc/Detect?appId=a&text=hello", u""},
      {"/v2/Http.svc/Speak?appId=truncated&text=a&language=en",
       u"The answer ended after 10 of 20 announced bytes"},
  };
  for (const auto& [request, error] : cases) {
    TQNIHTTPClient c(nullptr);
    const String answer = socket_client(c, true, python.CaFile(), python.Port(), request).Execute();
    EXPECT_EQ(c.LastError(), error) << request;
    EXPECT_EQ(answer.find(u">en</string>") != String::npos, error.empty()) << ToUtf8(answer);
  }
}
