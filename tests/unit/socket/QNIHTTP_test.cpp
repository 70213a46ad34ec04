#include "qninet/socket/QNIHTTP.h"

#include <gtest/gtest.h>

#include "harness/ScriptedServer.h"

using namespace qninet;
using qninet::harness::Script;
using qninet::harness::ScriptedServer;

namespace {

TQNIHTTPClient& Local(TQNIHTTPClient& c, const ScriptedServer& server) {
  c.SetHost(u"127.0.0.1");
  c.SetPort(server.Port());
  return c;
}

// Reads the request, sends the answer, closes.
Script Answer(std::string reply) { return Script().ReadUntil("\r\n\r\n").Send(std::move(reply)).Close(); }

}  // namespace

// Extra headers follow verbatim in order; a proxy server gives the absolute form, and Basic
// credentials come only with UseProxy on.
TEST(HttpRequest, ExtraHeadersAndTheProxysAbsoluteForm) {
  TQNIHTTPClient c(nullptr);
  c.SetAction(haGet);
  c.SetHost(u"www.example.com");
  c.SetRequest(u"/a b?x=1");
  TStringList extra;
  extra.Add(u"Accept: */*");
  extra.Add(u" X-Odd:  spaced ");
  c.SetHeaders(&extra);
  extra.Clear();
  const std::string rest = " HTTP/1.0\r\nHost: www.example.com\r\nAccept: */*\r\n X-Odd:  spaced \r\n\r\n";
  EXPECT_EQ(ToUtf8(c.GetQuery()), "GET /a b?x=1" + rest);
  c.Proxy()->SetServer(u"proxy.local");
  c.Proxy()->SetUser(u"joe");
  c.Proxy()->SetPassword(u"pw");
  EXPECT_EQ(ToUtf8(c.GetQuery()), "GET http://www.example.com/a b?x=1" + rest);
  c.Proxy()->SetUseProxy(true);
  EXPECT_NE(c.GetQuery().find(u"\r\nProxy-Authorization: Basic am9lOnB3\r\n"), String::npos);
}

TEST(HttpUrl, PartsOfHttpUrls) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"http://127.0.0.1:8080/a?b", u"127.0.0.1 8080 /a?b"},
      {u"HTTP://[::1]", u"::1 80 /"},
      {u" http://x ", u"x 80 /"},
      // the fragment is never sent, the account is no part of the host, a blank is encoded
      {u"http://u:p@h:81/p#frag", u"h 81 /p"},
      {u"http://x/a b", u"x 80 /a%20b"},
      {u"https://x/", nullptr},
      {u"http://x:99999/", nullptr},
      {u"http://:80/", nullptr},
      {u"x/y", nullptr},
      {u"http://[::1/", nullptr},
      {u"http:/%7fn45? 2", nullptr}};  // a host that decodes to a control character
  for (const auto& [url, parts] : cases) {
    SCOPED_TRACE(ToUtf8(url));
    String host, path;
    Integer port = 0;
    ASSERT_EQ(HTTPParseURL(url, host, port, path), parts != nullptr);
    if (parts) {
      EXPECT_EQ(host + u" " + IntToStr(port) + u" " + path, parts);
    }
  }
}

// (A GET's body, its status line and GetResponse without regard to case: the nginx rows; the
// request's bytes: the GetQuery tests above.)

// Without a handler, or with one that keeps Abort, the redirect's own answer is the result.
TEST(HttpClient, RedirectNotFollowedIsReturnedAsIs) {
  for (bool handler : {false, true}) {
    ScriptedServer server(Answer("HTTP/1.0 301 Moved\r\nLocation: http://127.0.0.1:1/x\r\n\r\ngone"));
    TQNIHTTPClient c(nullptr);
    Local(c, server).SetRequest(u"/old");
    String offered;
    if (handler) {
      c.SetOnRedirect([&](TObject* sender, String& url, bool& abort) {
        EXPECT_EQ(sender, &c);
        EXPECT_TRUE(abort);
        offered = url;
      });
    }
    EXPECT_EQ(ToUtf8(c.Execute()), "gone\r\n");
    EXPECT_EQ(c.GetResponse(u"location"), u"Location: http://127.0.0.1:1/x");
    EXPECT_EQ(offered, handler ? c.GetResponse(u"location") : u"");
    EXPECT_EQ(server.ConnectionCount(), 1u);
  }
}

// (A followed redirect's answer replacing the first: the nginx redirect into TLS.)
TEST(HttpClient, HandlerGivingAHostNameReconnectsForTheSamePath) {
  ScriptedServer server(std::vector<Script>{Answer("HTTP/1.0 301 Moved\r\nLocation: elsewhere\r\n\r\n"),
                                            Answer("HTTP/1.0 200 OK\r\n\r\nsecond")});
  TQNIHTTPClient c(nullptr);
  Local(c, server).SetRequest(u"/page");
  c.SetOnRedirect([](TObject*, String& url, bool& abort) {
    url = u"127.0.0.1";
    abort = false;
  });
  EXPECT_EQ(ToUtf8(c.Execute()), "second\r\n");
  EXPECT_EQ(server.Received(1).substr(0, 25), "HEAD /page HTTP/1.0\r\nHost");
}

TEST(HttpClient, EndlessRedirectsStopAfterTheLimit) {
  std::vector<Script> scripts;
  for (int i = 0; i <= TQNIHTTPClient::MaxRedirects; ++i)
    scripts.push_back(Answer("HTTP/1.0 302 Found\r\nLocation: /again\r\n\r\n"));
  ScriptedServer server(std::move(scripts));
  TQNIHTTPClient c(nullptr);
  Local(c, server).SetRequest(u"/loop");
  c.SetOnRedirect([](TObject*, String&, bool& abort) { abort = false; });
  c.Execute();
  EXPECT_EQ(server.ConnectionCount(), static_cast<std::size_t>(TQNIHTTPClient::MaxRedirects) + 1);
  EXPECT_EQ(c.GetResponse(u"Location"), u"Location: /again");
  EXPECT_TRUE(server.Problems().empty());
}

TEST(HttpClient, NotFoundIsTheMessageAndTheNextRequestConnectsAfresh) {
  ScriptedServer server(
      std::vector<Script>{Answer("HTTP/1.0 404 Not Found\r\n\r\n"), Answer("HTTP/1.0 200 OK\r\n\r\nthere")});
  TQNIHTTPClient c(nullptr);
  Local(c, server).SetAction(haGet);
  c.SetRequest(u"/missing");
  EXPECT_EQ(c.Execute(), u"File not found");
  c.SetRequest(u"/present");
  EXPECT_EQ(ToUtf8(c.Execute()), "there\r\n");
  EXPECT_EQ(server.ConnectionCount(), 2u);
}

// The Host line names host names, dotted addresses and IPv6 literals in brackets, with a port
// other than the scheme's; implicit TLS moves a default port to https's and back and leaves a
// chosen one alone.
TEST(HttpRequest, HostLineAndTheHttpsDefaultPort) {
  const std::tuple<const char16_t*, Integer, TQNITLSMode, Integer, const char*> cases[] = {
      {u"10.0.0.1", 80, tlsNone, 80, "10.0.0.1"},
      {u"10.0.0.1", 8080, tlsNone, 8080, "10.0.0.1:8080"},
      {u"::1", 8080, tlsNone, 8080, "[::1]:8080"},
      {u"www.test", 80, tlsImplicit, 443, "www.test"},
      {u"www.test", 8443, tlsImplicit, 8443, "www.test:8443"},
      {u"www.test", 80, tlsStartTLS, 80, "www.test"},
      {u"www.test", 443, tlsNone, 443, "www.test:443"}};
  for (const auto& [host, portBefore, mode, portAfter, hostLine] : cases) {
    SCOPED_TRACE(hostLine);
    TQNIHTTPClient c(nullptr);
    c.SetHost(host);
    c.SetPort(portBefore);
    c.SetUseTLS(mode);
    c.SetRequest(u"/");
    EXPECT_EQ(c.Port(), portAfter);
    EXPECT_EQ(ToUtf8(c.GetQuery()), "HEAD / HTTP/1.0\r\nHost: " + std::string(hostLine) + "\r\n\r\n");
    if (mode == tlsImplicit && portBefore == 80) {
      c.SetUseTLS(tlsNone);
      EXPECT_EQ(c.Port(), 80);
    }
  }
}

// The body is held to its announced length; a shorter one is an error, never a success. Each row
// expects the answer afterwards, or the error. (A body cut short: the socket fault table.)
TEST(HttpContentLength, LongerIsCutShorterFailsAndBodilessAnswersPass) {
  const std::tuple<const char*, bool, const char*> cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabcdef", false,
       "HTTP/1.0 200 OK\r\nContent-Length: 3\r\n\r\nabc"},
      {"HTTP/1.0 200 OK\ncontent-length:  4 \n\nab\r\nzz", false,
       "HTTP/1.0 200 OK\ncontent-length:  4 \n\nab\r\n"},
      {"HTTP/1.0 200 OK\r\nContent-Length: 10737418240\r\n\r\nx", false,
       "The answer ended after 1 of 10737418240 announced bytes"},
      {"HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\n", true, "HTTP/1.0 200 OK\r\nContent-Length: 9\r\n\r\n"},
      {"HTTP/1.0 304 Not Modified\r\nContent-Length: 9\r\n\r\n", false,
       "HTTP/1.0 304 Not Modified\r\nContent-Length: 9\r\n\r\n"},
      {"HTTP/1.0 200 OK\r\nContent-Length: x9\r\n\r\nab", false,
       "HTTP/1.0 200 OK\r\nContent-Length: x9\r\n\r\nab"},
      {"HTTP/1.0 200 OK\r\n\r\nno length", false, "HTTP/1.0 200 OK\r\n\r\nno length"}};
  for (const auto& [raw, head, result] : cases) {
    SCOPED_TRACE(raw);
    String answer = FromUtf8(raw);
    try {
      HTTPHoldToContentLength(answer, head);
      EXPECT_EQ(ToUtf8(answer), result);
    } catch (const Exception& e) {
      EXPECT_EQ(ToUtf8(e.Message()), result);
    }
  }
}

TEST(HttpClient, LineBreakInAnyRequestValueIsRefusedBeforeSending) {
  const std::tuple<const char16_t*, const char16_t*, const char16_t*, const char16_t*> cases[] = {
      {u"/a\r\nX-Evil: 1", u"", u"", u"Request holds a line break (CR or LF)"},
      {u"/", u"X-A: 1\nX-Evil: 1", u"", u"Headers holds a line break (CR or LF)"},
      {u"/", u"", u"joe\r\n", u"Proxy.User holds a line break (CR or LF)"}};
  for (const auto& [request, header, proxyUser, error] : cases) {
    SCOPED_TRACE(ToUtf8(error));
    ScriptedServer server(Script().HoldOpen());
    TQNIHTTPClient c(nullptr);
    Local(c, server).SetAction(haGet);
    c.SetRequest(request);
    if (*header) c.Headers()->Add(header);
    if (*proxyUser) {
      // a proxy that is this server: the credentials go into the request
      c.Proxy()->SetUseProxy(true);
      c.Proxy()->SetServer(u"127.0.0.1");
      c.Proxy()->SetPort(server.Port());
      c.Proxy()->SetUser(proxyUser);
      c.SetLoginPrompt(false);
    }
    EXPECT_EQ(c.Execute(), error);
    EXPECT_EQ(c.LastError(), error);
    c.Disconnect();
    server.Stop();
    EXPECT_EQ(server.Received(0), "");
  }
}
