// The HTTP client and the page scrapers against nginx over HTTP and TLS (redirects within one
// scheme: the unit transcripts), and the prompted login to a real HTTP proxy (tinyproxy).

#include <cstdlib>
#include <tuple>

#include <gtest/gtest.h>

#include "harness/Nginx.h"
#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "harness/TinyProxy.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/socket/QNIFedEx.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/socket/QNIWeath.h"

using namespace qninet;
using harness::Script;
using harness::ScriptedServer;
using harness::TinyProxy;

namespace {

constexpr std::uint64_t k100MiB = 100ull * 1024 * 1024, k5MiB = 5ull * 1024 * 1024;

std::string Fixture(const std::string& name) {
  return harness::ReadFileText(QNINET_FIXTURES_DIR "/scrapers/" + name);
}

class NginxServer : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    web = new harness::Nginx(true);
    web->WriteFile("index.html", "<html>hello\nworld</html>\n");
    web->WriteLargeFile("large.bin", k100MiB);
    web->WriteLargeFile("tls.bin", k5MiB);
    web->AddRedirect("/to-tls", web->HttpsUrl("/index.html"), 302);
    web->AddRedirect("/to-clear", web->Url("/index.html"), 302);
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
  static void TearDownTestSuite() { delete web, web = nullptr; }

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

  // A client of the server's TLS port, trusting the harness CA unless `trust` is false.
  static std::unique_ptr<TQNIHTTPClient> TlsClient(const String& path, bool trust = true) {
    auto c = Client(path);
    c->SetUseTLS(tlsImplicit);
    c->SetPort(web->HttpsPort());
    if (trust) c->SetCAFile(FromUtf8(web->CA()->CaCert().string()));
    return c;
  }

  static inline harness::Nginx* web = nullptr;
};

}  // namespace

// Each method and answer kind against nginx: the status line, a header, and the body with CRLF lines
// or the component's own text for a refusal (a plain GET: the HTTP peers' rows).
TEST_F(NginxServer, MethodsAndAnswersGiveTheirStatusAndBody) {
  const struct {
    TQNIHTTPAction Action;
    const char16_t* Path;
    const char16_t* Header;  // sent with the request
    const char* Status;      // the status line's start (empty: the answer is the component's own text)
    const char* Body;
  } cases[] = {
      {haHead, u"/index.html", nullptr, "HTTP/1.1 200", ""},
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

// Pages arrive whole: 100 MiB in clear text (past the default cap of 64 MiB) and 5 MiB in many
// TLS records (a small page is the HTTP peers' row); the CA can come from QNINET_CA_FILE.
TEST_F(NginxServer, LargePagesArriveWholeInClearTextAndThroughTheSession) {
  for (const auto& [path, size, tls] :
       {std::tuple{u"/large.bin", k100MiB, false}, {u"/tls.bin", k5MiB, true}}) {
    auto c = tls ? TlsClient(path) : Client(path);
    c->SetMaxAnswerSize(0);
    const String body = c->Execute();
    // The pattern has no line ends: one line, which gains a CRLF.
    ASSERT_EQ(body.size(), size + 2) << ToUtf8(c->LastError());
    for (std::uint64_t i : {std::uint64_t{0}, std::uint64_t{16386}, size / 2 + 7, size - 1})
      EXPECT_EQ(body[i], static_cast<char16_t>(harness::Nginx::Pattern(1, i)[0])) << i;
  }
  auto fromEnvironment = TlsClient(u"/index.html", false);
  ::setenv("QNINET_CA_FILE", web->CA()->CaCert().c_str(), 1);
  const String answer = fromEnvironment->Execute();
  ::unsetenv("QNINET_CA_FILE");
  EXPECT_EQ(ToUtf8(answer), "<html>hello\r\nworld</html>\r\n");
}

TEST_F(NginxServer, ScrapersReadTheFixturePages) {
  TQNFedExTracker t(nullptr);
  Point(t);
  t.SetTrackingNumber(u"1234 5678");
  t.Execute();
  ASSERT_TRUE(t.LastError().empty()) << ToUtf8(t.LastError());
  EXPECT_EQ(t.ShipmentInfo()->Values(u"Status") + u"|" + t.ShipmentInfo()->Values(u"Weight") + u"|" +
                t.ShipmentInfo()->Values(u"Signed for by"),
            u"Delivered|2 lbs|J. SMITH & CO");
  ASSERT_EQ(t.Activity()->Count(), 2);
  EXPECT_EQ(t.Activity()->Strings(0), u"Dec 4, 2026 9:15 am=Delivered=NEW YORK, NY");
  EXPECT_NE(web->AccessLog().find("tracknumbers=1234%205678"), std::string::npos);
  TQNWeatherInfo w(nullptr);
  Point(w);
  for (const auto& [zip, degrees] : {std::pair{u"72", 72}, {u"minus5", -5}, {u"none", 0}}) {
    w.SetZip(zip);
    w.Execute();
    EXPECT_EQ(w.Temperature(), degrees) << ToUtf8(zip) << ToUtf8(w.LastError());
  }
}

// A refused handshake raises from Execute with the reason, fires the error notification and
// leaves the component disconnected.
TEST_F(NginxServer, RefusedHandshakesNameTheReason) {
  struct Case {
    bool Trust;
    const char* CAFile;  // instead of the harness CA when set
    bool PlainPort;
    const char* Reason;
  };
  // clang-format off
  for (const Case& k : {Case{false, nullptr, false, "TLS certificate verification failed: unable to get local issuer certificate"},
                        Case{true, "/nonexistent/ca.pem", false, "Cannot load the CA file /nonexistent/ca.pem"},
                        Case{true, nullptr, true, "TLS handshake failed: "}}) {  // clang-format on
    SCOPED_TRACE(k.Reason);
    auto c = TlsClient(u"/index.html", k.Trust);
    if (k.CAFile) c->SetCAFile(FromUtf8(k.CAFile));
    if (k.PlainPort) c->SetPort(web->Port());
    Integer code = 0;
    c->SetOnError([&](TObject*, platform::TClientSocket*, TErrorEvent e, Integer& c) {
      EXPECT_EQ(e, eeConnect);
      code = c;
    });
    try {
      c->Execute();
      ADD_FAILURE() << "no error";
    } catch (const ESocketError& e) {
      // after the endpoint, as every transfer's failure reads
      const std::string said = ToUtf8(e.Message()), at = "127.0.0.1:" + std::to_string(c->Port()) + ": ";
      EXPECT_TRUE(said.starts_with(at + k.Reason)) << said;
    }
    EXPECT_NE(code, 0);
    EXPECT_FALSE(c->Connected());
    EXPECT_FALSE(c->TLSActive());
  }
}

// A move to https takes TLS along; a move from https back to clear text is not followed.
TEST_F(NginxServer, RedirectsIntoTlsButNotOutOfIt) {
  auto c = TlsClient(u"/to-clear");
  c->SetOnRedirect([](TObject*, String&, bool& abort) { abort = false; });
  c->Execute();
  EXPECT_EQ(c->ResponseHeaders()->Strings(0).substr(0, 12), u"HTTP/1.1 302");

  auto clear = Client(u"/to-tls");
  clear->SetCAFile(FromUtf8(web->CA()->CaCert().string()));
  clear->SetOnRedirect([](TObject*, String&, bool& abort) { abort = false; });
  EXPECT_EQ(ToUtf8(clear->Execute()), "<html>hello\r\nworld</html>\r\n") << ToUtf8(clear->LastError());
  EXPECT_EQ(clear->UseTLS(), tlsImplicit);
  EXPECT_EQ(clear->Port(), web->HttpsPort());
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
    c.Proxy()->SetUseProxy(true);
    c.Proxy()->SetServer(u"127.0.0.1");
    c.Proxy()->SetPort(proxy.Port());
    c.SetTimeout(10000);
    c.SetLoginPrompt(true);
    EXPECT_EQ(c.Execute(), k.Result);
    EXPECT_EQ(gui.ShownForms().size(), 1u);
    c.Disconnect();
    origin.Stop();
    EXPECT_EQ(origin.ConnectionCount(), k.OriginConnections);
  }
}
