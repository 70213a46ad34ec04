// The HTTP client and the page scrapers against nginx and tinyproxy on loopback (redirects are
// read in the unit transcripts, which see every byte of both requests).

#include <fstream>
#include <sstream>

#include <gtest/gtest.h>

#include "harness/Nginx.h"
#include "harness/TempDir.h"
#include "harness/TinyProxy.h"
#include "qninet/socket/QNIFedEx.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/socket/QNIWeath.h"

using namespace qninet;

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

  static void ViaProxy(TQNIHTTPClient& c, std::uint16_t port) {
    c.SetLoginPrompt(false);
    c.Proxy()->SetServer(u"127.0.0.1");
    c.Proxy()->SetPort(port);
    c.Proxy()->SetUseProxy(true);
  }

  static harness::Nginx* web;
};
harness::Nginx* NginxServer::web = nullptr;

}  // namespace

TEST_F(NginxServer, HeadGivesHeadersAndNoBodyAndGetTheBodyWithCrLfLines) {
  auto c = Client(u"/index.html", haHead);
  EXPECT_EQ(c->Execute(), u"");
  ASSERT_GT(c->ResponseHeaders()->Count(), 1);
  EXPECT_EQ(c->ResponseHeaders()->Strings(0).substr(0, 12), u"HTTP/1.1 200");
  EXPECT_EQ(c->GetResponse(u"content-length"), u"Content-Length: 25");
  c->SetAction(haGet);
  EXPECT_EQ(ToUtf8(c->Execute()), "<html>hello\r\nworld</html>\r\n");
}

TEST_F(NginxServer, PostReachesTheHandler) {
  auto c = Client(u"/post", haPost);
  c->Headers()->Add(u"Content-Length: 0");
  EXPECT_EQ(ToUtf8(c->Execute()), "posted\r\n") << ToUtf8(c->LastError());
}

TEST_F(NginxServer, NotFoundAndAuthorizationRequired) {
  auto c = Client(u"/missing");
  EXPECT_EQ(c->Execute(), u"File not found");
  c->SetRequest(u"/private/x.html");
  EXPECT_EQ(c->Execute(), u"HTTP Server authorization required");
  c->Headers()->Add(u"Authorization: Basic am9lOnNlY3JldA==");
  EXPECT_EQ(c->Execute(), u"secret\r\n");
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

// The absolute request line through an open proxy and through one that wants Basic credentials.
TEST_F(NginxServer, ThroughTinyproxy) {
  for (const char* user : {"", "joe"}) {
    SCOPED_TRACE(user);
    harness::TinyProxy proxy(harness::TinyProxy::Options{user, *user ? "pw" : "", {}});
    auto c = Client(u"/index.html");
    ViaProxy(*c, proxy.Port());
    c->Proxy()->SetUser(FromUtf8(user));
    c->Proxy()->SetPassword(*user ? u"pw" : u"");
    EXPECT_EQ(ToUtf8(c->Execute()), "<html>hello\r\nworld</html>\r\n")
        << ToUtf8(c->LastError()) << proxy.LogText();
    EXPECT_NE(proxy.LogText().find("index.html"), std::string::npos);
  }
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
