// The socket engine through a real HTTP proxy (tinyproxy) on loopback; the HTTP client through
// it with and without credentials is read in http_test.cpp.

#include <gtest/gtest.h>

#include <string>

#include "harness/ScriptedServer.h"
#include "harness/TinyProxy.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/socket/QNWhoIs.h"

using namespace qninet;
using harness::Script;
using harness::ScriptedServer;
using harness::TinyProxy;

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
