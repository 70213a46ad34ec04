// The HTTP client and the page scrapers against nginx on loopback (redirects are read in the unit
// transcripts, which see every byte of both requests), and the socket engine through a real HTTP
// proxy (tinyproxy).

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "harness/Nginx.h"
#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "harness/TinyProxy.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/socket/QNIFedEx.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/socket/QNIWeath.h"
#include "qninet/socket/QNWhoIs.h"

using namespace qninet;
using harness::Script;
using harness::ScriptedServer;
using harness::TinyProxy;

namespace {

constexpr std::uint64_t k100MiB = 100ull * 1024 * 1024;
const std::string kTrackingPath = "/cgi-bin/tracking";

std::string Fixture(const std::string& name) {
  std::ifstream in(std::string(QNINET_FIXTURES_DIR) + "/scrapers/" + name, std::ios::binary);
  std::ostringstream s;
  s << in.rdbuf();
  return s.str();
}

class NginxServer : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    web = new harness::Nginx();
    web->WriteFile("index.html", "<html>hello\nworld</html>\n");
    web->WriteLargeFile("large.bin", k100MiB);
    web->AddStatusLocation("/missing", 404);
    web->AddBasicAuthLocation("/private/", "joe", "secret");
    web->WriteFile("private/x.html", "secret\n");
    web->AddLocation("location = /post { return 200 \"posted\\n\"; }");
    // The scrapers' pages at the paths the components ask for.
    web->WriteFile("cgi-bin/tracking", Fixture("tracking.html"));
    web->WriteFile("weather/local/72", Fixture("weather_72.html"));
    web->WriteFile("weather/local/minus5", Fixture("weather_minus5.html"));
    web->WriteFile("weather/local/none", Fixture("weather_none.html"));
    web->Start();
  }
  static void TearDownTestSuite() {
    delete web;
    web = nullptr;
  }

  static void Point(TQNInetBase& c) {
    c.SetHost(u"127.0.0.1");
    c.SetPort(web->Port());
    c.SetTimeout(20000);
  }

  // A client of the server asking for path.
  static std::unique_ptr<TQNIHTTPClient> Client(const String& path, TQNIHTTPAction action = haGet) {
    auto c = std::make_unique<TQNIHTTPClient>(nullptr);
    Point(*c);
    c->SetAction(action);
    c->SetRequest(path);
    return c;
  }

  static harness::Nginx* web;
};
harness::Nginx* NginxServer::web = nullptr;

}  // namespace

// Each method and answer kind against nginx: the status line, a header, and the body with CRLF lines
// or the component's own text for a refusal.
TEST_F(NginxServer, MethodsAndAnswersGiveTheirStatusAndBody) {
  const struct {
    TQNIHTTPAction Action;
    const char16_t* Path;
    const char16_t* Header;  // sent with the request
    const char* Status;      // the status line's start (empty: the answer is the component's own text)
    const char* Body;
  } cases[] = {
      {haHead, u"/index.html", nullptr, "HTTP/1.1 200", ""},
      {haGet, u"/index.html", nullptr, "HTTP/1.1 200", "<html>hello\r\nworld</html>\r\n"},
      {haPost, u"/post", u"Content-Length: 0", "HTTP/1.1 200", "posted\r\n"},
      {haGet, u"/missing", nullptr, "", "File not found"},
      {haGet, u"/private/x.html", nullptr, "", "HTTP Server authorization required"},
      {haGet, u"/private/x.html", u"Authorization: Basic am9lOnNlY3JldA==", "HTTP/1.1 200", "secret\r\n"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(ToUtf8(c.Path) + " " + c.Body);
    auto client = Client(c.Path, c.Action);
    if (c.Header) client->Headers()->Add(c.Header);
    EXPECT_EQ(ToUtf8(client->Execute()), c.Body) << ToUtf8(client->LastError());
    if (*c.Status) {
      ASSERT_GT(client->ResponseHeaders()->Count(), 0);
      EXPECT_EQ(ToUtf8(client->ResponseHeaders()->Strings(0).substr(0, 12)), c.Status);
    }
  }
  auto head = Client(u"/index.html", haHead);
  head->Execute();
  EXPECT_EQ(head->GetResponse(u"content-length"), u"Content-Length: 25");  // no body read after it
}

TEST_F(NginxServer, HundredMebibytePageArrivesWhole) {
  auto c = Client(u"/large.bin");
  c->SetMaxAnswerSize(0);  // past the default cap of 64 MiB
  const String body = c->Execute();
  ASSERT_TRUE(c->LastError().empty()) << ToUtf8(c->LastError());
  // The pattern has no line ends: one line, which gains a CRLF.
  ASSERT_EQ(body.size(), k100MiB + 2);
  for (std::uint64_t i : {std::uint64_t{0}, std::uint64_t{12345}, k100MiB / 2, k100MiB - 1})
    EXPECT_EQ(body[i], static_cast<char16_t>(harness::Nginx::PatternByte(i))) << i;
}

TEST_F(NginxServer, FedExTrackerReadsTheFixturePage) {
  TQNFedExTracker t(nullptr);
  Point(t);
  t.SetTrackingNumber(u"1234 5678");
  t.Execute();
  ASSERT_TRUE(t.LastError().empty()) << ToUtf8(t.LastError());
  EXPECT_EQ(t.ShipmentInfo()->Values(u"Status"), u"Delivered");
  EXPECT_EQ(t.ShipmentInfo()->Values(u"Weight"), u"2 lbs");
  EXPECT_EQ(t.ShipmentInfo()->Values(u"Signed for by"), u"J. SMITH & CO");
  ASSERT_EQ(t.Activity()->Count(), 2);
  EXPECT_EQ(t.Activity()->Strings(0), u"Dec 4, 2026 9:15 am=Delivered=NEW YORK, NY");
  EXPECT_NE(web->AccessLog().find("tracknumbers=1234%205678"), std::string::npos);
}

TEST_F(NginxServer, WeatherReadsTheFixturePages) {
  TQNWeatherInfo w(nullptr);
  Point(w);
  for (const auto& [zip, degrees] : {std::pair{u"72", 72}, {u"minus5", -5}, {u"none", 0}}) {
    w.SetZip(zip);
    w.Execute();
    EXPECT_EQ(w.Temperature(), degrees) << ToUtf8(zip) << ToUtf8(w.LastError());
  }
}

namespace {

void use_proxy(TQNInetBase& c, const TinyProxy& proxy) {
  c.Proxy()->SetUseProxy(true);
  c.Proxy()->SetServer(u"127.0.0.1");
  c.Proxy()->SetPort(proxy.Port());
  c.SetLoginPrompt(false);
  c.SetTimeout(10000);
}

}  // namespace

TEST(SocketProxy, WhoisQueryReachesTheProxyNotTheServer) {
  TinyProxy proxy;
  TQNWhoIs w(nullptr);
  w.SetDomain(u"example.co.uk");  // chooses whois.nic.uk, which must not be contacted
  use_proxy(w, proxy);
  const String answer = w.Execute();
  // tinyproxy does not speak WHOIS: it answers the line with an HTTP error page of its own
  EXPECT_EQ(answer.rfind(u"HTTP/1.0 400", 0), 0u) << ToUtf8(answer);
  EXPECT_NE(proxy.LogText().find("example.co.uk"), std::string::npos) << proxy.LogText();
}

// The logon prompt runs before the request is built: what the user confirms is in the first
// request's Proxy-Authorization line, so a proxy that wants Basic credentials passes it at once.
TEST(SocketProxy, PromptedProxyCredentialsReachTheFirstRequest) {
  const struct {
    const char16_t *User, *Password;  // typed into the prompt; null: the prompt is cancelled
    const char16_t* Result;
    std::size_t OriginConnections;
  } cases[] = {{u"joe", u"pw", u"secret\r\n", 1},
               {nullptr, nullptr, u"Proxy Server authorization required", 0}};
  TinyProxy proxy(TinyProxy::Options{"joe", "pw", {}});
  for (const auto& k : cases) {
    SCOPED_TRACE(ToUtf8(k.Result));
    ScriptedServer origin(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\n\r\nsecret").Close());
    gui::TScriptedGui gui;  // with no answer queued the prompt is cancelled
    if (k.User) gui.AnswerNextModal({mrOk, {{u"edLogin", k.User}, {u"edPassword", k.Password}}, {}});
    TQNIHTTPClient c(nullptr);
    c.SetAction(haGet);
    c.SetRequest(u"/");
    c.SetAddress(u"127.0.0.1");
    c.SetPort(origin.Port());
    use_proxy(c, proxy);
    c.SetLoginPrompt(true);
    EXPECT_EQ(c.Execute(), k.Result);
    EXPECT_EQ(gui.ShownForms().size(), 1u);
    c.Disconnect();
    origin.Stop();
    EXPECT_EQ(origin.ConnectionCount(), k.OriginConnections);
  }
}
