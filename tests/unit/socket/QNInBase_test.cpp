// The socket query engine against scripted loopback servers: the cycle, the status check, the
// header block, the doors to the server setting and the notifications, read as transcripts.

#include "qninet/socket/QNInBase.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "harness/Ports.h"
#include "harness/ScriptedServer.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/rtl/TypInfo.h"

using namespace qninet;
using testing::StrEq;
using testing::ThrowsMessage;
using namespace std::chrono_literals;
using harness::Script;
using harness::ScriptedServer;

namespace {

/// A descendant as the protocol clients are: a fixed query, its asks counted.
class TQueryClient : public TQNInetBase {
public:
  explicit TQueryClient(TComponent* owner, String query = u"query")
      : TQNInetBase(owner), FQuery(std::move(query)) {}
  String GetQuery() override {
    ++Queries;
    return FQuery;
  }
  Integer Send(const String& s) { return SendToSocket(s); }
  String FQuery;
  int Queries = 0;
};

void point_at(TQNInetBase& c, const ScriptedServer& server) {
  c.SetAddress(FromUtf8(server.Host()));
  c.SetPort(server.Port());
}

/// A connection that reads the query with its header block, then sends `bytes`.
Script answers(std::string bytes) { return Script().ReadUntil("\r\n\r\n").Send(std::move(bytes)); }

/// A query client pointed at a scripted server of its own.
struct Served {
  explicit Served(Script script, String query = u"query") : Server(std::move(script)), C(nullptr, query) {
    point_at(C, Server);
  }
  ScriptedServer Server;
  TQueryClient C;
};

/// A handler of any notification that notes `word` in `seen`.
auto note(std::vector<std::string>& seen, const char* word) {
  return [&seen, word](auto&&...) { seen.push_back(word); };
}

}  // namespace

TEST(InetBaseDoors, AddrIsIPDecidesWhichDoorTheValueLandsIn) {
  // "1.2.3.4.x": a fifth piece that is no number; "::1" is a name for the door, the resolver reads it
  const char16_t* ips[] = {u"192.168.0.1", u"0.0.0.0", u"255.255.255.255", u"1.2.3.4.x"};
  const char16_t* names[] = {u"example.com", u"192.168.0", u"192.168.0.256", u"1.2.3.4.5", u"1.2.3.4.",
                             u"1..3.4",      u"",          u"-1.2.3.4",      u"::1"};
  TQNInetBase c(nullptr);
  for (std::size_t i = 0; i < std::size(names); ++i) {
    // by either door, and each value must clear the other door
    const String ip = ips[i % std::size(ips)], name = names[i];
    SCOPED_TRACE(ToUtf8(ip + u" " + name));
    EXPECT_TRUE(TQNInetBase::AddrIsIP(ip));
    EXPECT_FALSE(TQNInetBase::AddrIsIP(name));
    i % 2 ? c.SetHost(ip) : c.SetAddress(ip);
    EXPECT_EQ(c.Address() + u"|" + c.Host(), ip + u"|");
    i % 2 ? c.SetAddress(name) : c.SetHost(name);
    EXPECT_EQ(c.Address() + u"|" + c.Host(), u"|" + name);
  }
}

TEST(InetBaseCycle, NoServerRaisesTheCurrentTextAfterBeforeExecuteWithoutSocketActivity) {
  const String saved = strQNInEHost;
  strQNInEHost = u"Kein Server.";  // read at the moment of use
  TQueryClient c(nullptr);
  std::vector<std::string> seen;
  c.SetOnBeforeExecute(note(seen, "before"));
  // not the socket's complaint: it was never asked
  EXPECT_THAT([&] { c.Execute(); }, ThrowsMessage<Exception>(StrEq("Kein Server.")));
  strQNInEHost = saved;
  EXPECT_EQ(seen, std::vector<std::string>{"before"});
  EXPECT_EQ(c.Queries, 0);
  EXPECT_THROW(c.Connect(), Exception);
}

// An empty query sends nothing, not even the header block, and only reads; each byte of the
// answer is one unit, never a sign-extended one. (The query with its header block, and an answer
// in small chunks: the program's whois rows; a large answer over many reads: Framing_test.)
TEST(InetBaseCycle, AnEmptyQuerySendsNothingAndEachByteIsOneUnit) {
  const std::string answer("Tue Mar  5 10:00:00 2024\r\n\xE9\xFF\0\x80", 30);
  Served empty(Script().Send(answer), u"");
  EXPECT_EQ(empty.C.Execute(), FromBytes(answer));
  EXPECT_EQ(empty.Server.Received(0), "");
}

// (StepCount steps, each with its AfterExecute and the answers joined in order: the resolver's
// several types, one message each, against dnsmasq and unbound in the peers' rows.)
TEST(InetBaseCycle, OnAfterExecuteRewritesTheAnswerAndItsExceptionBecomesTheResult) {
  Served s(answers("raw"));
  TObject* sender = nullptr;
  s.C.SetOnAfterExecute([&](TObject* from, String& t) {
    sender = from;
    t = u"<" + t + u">";
  });
  EXPECT_EQ(s.C.Execute(), u"<raw>");
  EXPECT_EQ(sender, &s.C);
  Served t(answers("raw"));
  t.C.SetOnAfterExecute([&](TObject*, String&) { throw EConvertError(u"bad record"); });
  EXPECT_EQ(t.C.Execute(), u"bad record");
  EXPECT_EQ(t.C.LastError(), u"bad record");
  t.C.Disconnect();
}

TEST(InetBaseCycle, KeepConnectionReusesTheOpenSocket) {
  ScriptedServer server(answers("A").ReadUntil("\r\n\r\n").Send("B"));
  class TTwoQueries : public TQueryClient {
  public:
    using TQueryClient::TQueryClient;
    String InternalExecute() override {  // reads one byte: the server never closes between runs
      Send(GetQuery() + GetRawHeaders());
      char buf[1];
      return ReceiveFromSocket(buf, 1) > 0 ? String(1, static_cast<unsigned char>(buf[0])) : String();
    }
  };
  TTwoQueries c(nullptr, u"first\r\n");
  point_at(c, server);
  c.SetKeepConnection(true);
  int connects = 0;
  c.SetOnConnect([&](TObject*, platform::TClientSocket*) { ++connects; });
  EXPECT_EQ(c.Execute(), u"A");
  EXPECT_TRUE(c.Connected());
  c.FQuery = u"second\r\n";
  c.SetKeepConnection(false);
  EXPECT_EQ(c.Execute(), u"B");
  EXPECT_EQ(connects, 1);
  EXPECT_FALSE(c.Connected());
  EXPECT_EQ(server.ConnectionCount(), 1u);
  EXPECT_EQ(server.Received(0),
            "first\r\nProxy-Connection: Keep-Alive\r\n\r\nsecond\r\nProxy-Connection: Keep-Alive\r\n\r\n");
}

TEST(InetBaseStatus, ThreeCharactersAfterTheFirstBlank) {
  const std::pair<const char16_t*, int> cases[] = {{u"HTTP/1.0 404 Not Found", 404},
                                                   {u"Domain Name: EXAMPLE.COM", 200},
                                                   {u"nothing-without-blank", 200},
                                                   {u"x 40", 40},
                                                   {u"x ", 200},
                                                   {u" 4071", 407}};
  for (const auto& [chunk, status] : cases) EXPECT_EQ(first_chunk_status(chunk), status) << ToUtf8(chunk);
}

// An error status in the first chunk is the result and leaves the connection open; a later
// chunk, or a first one that is no status line, is the answer as it came. (The texts of 401 and
// 407: the HTTP client's rows against nginx and tinyproxy.)
TEST(InetBaseStatus, OnlyAFirstChunkThatIsAStatusLineIsExamined) {
  const std::tuple<Script, const char16_t*, bool> cases[] = {
      {answers("HTTP/1.0 404 Not Found\r\n\r\n").HoldOpen(), u"File not found", true},
      {answers("HTTP/1.0 200 OK\r\n").Sleep(150ms).Send("HTTP/1.0 404 x"),
       u"HTTP/1.0 200 OK\r\nHTTP/1.0 404 x", false},
      {answers("Domain 404-example.com is available\r\n"), u"Domain 404-example.com is available\r\n", false},
      {answers("% 401 is a number here"), u"% 401 is a number here", false}};
  for (const auto& [script, result, error] : cases) {
    SCOPED_TRACE(ToUtf8(result));
    Served s(script);
    s.C.SetTimeout(5000);
    EXPECT_EQ(s.C.Execute(), result);
    EXPECT_EQ(s.C.LastError(), error ? result : u"");
    EXPECT_EQ(s.C.Connected(), error);
    s.C.Disconnect();
  }
}

// (The credential lines after a prompt confirmed or cancelled, and without one: the prompted
// proxy rows against tinyproxy and the program's whois proxy row.)

// UseProxy with no server goes to the server without prompt or credentials; a proxied run carries
// them and the socket keeps the proxy's endpoint, as the engine reads it back; a later run without
// the proxy goes back to the server.
TEST(InetBaseProxy, EmptyServerThenProxiedThenDirectAgain) {
  ScriptedServer proxy(answers("via proxy"));
  ScriptedServer direct({answers("ok"), answers("direct")});
  gui::TScriptedGui gui;
  TQueryClient c(nullptr, u"q\r\n");
  point_at(c, direct);
  c.Proxy()->SetUseProxy(true);
  c.Proxy()->SetUser(u"joe");
  c.Proxy()->SetPassword(u"pw");
  EXPECT_EQ(c.Execute(), u"ok");
  EXPECT_EQ(direct.Received(0), "q\r\n\r\n");
  c.SetLoginPrompt(false);
  c.Proxy()->SetServer(u"localhost");
  c.Proxy()->SetPort(proxy.Port());
  EXPECT_EQ(c.Execute(), u"via proxy");
  EXPECT_EQ(proxy.Received(0), "q\r\nUsername: joe\r\nPassword: pw\r\n\r\n");
  EXPECT_EQ(c.Host(), u"localhost");
  EXPECT_EQ(c.Port(), proxy.Port());
  EXPECT_TRUE(gui.ShownForms().empty());
  c.Proxy()->SetUseProxy(false);
  EXPECT_EQ(c.Execute(), u"direct");
  EXPECT_EQ(direct.Received(1), "q\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(c.Address(), u"127.0.0.1");
  EXPECT_EQ(c.Port(), direct.Port());
}

TEST(InetBaseFailure, RefusedPortAndUnknownNameReachTheCallerAfterOnError) {
  const std::tuple<String, const char16_t*, std::vector<std::string>> cases[] = {
      {u"127.0.0.1", u"Connection refused", {"connecting", "error 3 111"}},
      // a label longer than 63 characters is refused by the resolver itself, nothing is sent
      {String(70, u'a') + u".invalid", u"Name or service not known", {"lookup", "error 6 -2"}}};
  for (const auto& [host, reason, wantSeen] : cases) {
    SCOPED_TRACE(ToUtf8(reason));
    TQueryClient c(nullptr);
    c.SetHost(host);
    c.SetPort(harness::FreePort());
    const String message = host + u":" + IntToStr(c.Port()) + u": " + reason;
    std::vector<std::string> seen;
    c.SetOnLookup(note(seen, "lookup"));
    c.SetOnConnecting(note(seen, "connecting"));
    c.SetOnError([&](TObject* sender, platform::TClientSocket* socket, TErrorEvent e, Integer& code) {
      EXPECT_EQ(sender, socket);  // the socket notifications come from the platform socket
      EXPECT_NE(sender, &c);
      seen.push_back("error " + std::to_string(e) + " " + std::to_string(code));
    });
    EXPECT_THAT([&] { c.Execute(); }, ThrowsMessage<ESocketError>(StrEq(ToUtf8(message))));
    EXPECT_EQ(seen, wantSeen);
    EXPECT_EQ(c.LastError(), message);
    EXPECT_FALSE(c.Connected());
  }
}

TEST(InetBaseFailure, ServerThatNeverAnswersOrNeverClosesEndsWithTheTimeOut) {
  for (const Script& script : {Script().HoldOpen(), answers("partial record").HoldOpen()}) {
    Served s(script);
    s.C.SetTimeout(300);
    const String message =
        u"127.0.0.1:" + IntToStr(s.Server.Port()) + u": timed out waiting for data after 300 ms";
    EXPECT_EQ(s.C.Execute(), message);
    EXPECT_EQ(s.C.LastError(), message);
    EXPECT_FALSE(s.C.Connected());  // the next run connects afresh
  }
}

TEST(InetBaseFailure, FailedSendGivesNoAnswerFromServer) {
  // the pause keeps the reset out of the connect, which would report a connection failure
  Served s(Script().Sleep(300ms).Reset(), u"q\r\n");
  // let the reset arrive before the query goes out
  s.C.SetOnConnect([&](TObject*, platform::TClientSocket*) { s.Server.WaitUntilSettled(0, 5s); });
  std::vector<TErrorEvent> errors;
  s.C.SetOnError([&](TObject*, platform::TClientSocket*, TErrorEvent e, Integer& code) {
    errors.push_back(e);
    code = 0;  // carry on: the send reports failure by its count
  });
  String seenByHandler;
  s.C.SetOnAfterExecute([&](TObject*, String& t) { seenByHandler = t; });
  EXPECT_EQ(s.C.Execute(), u"No answer from server");
  EXPECT_EQ(seenByHandler, u"No answer from server");
  EXPECT_EQ(errors, std::vector<TErrorEvent>{eeSend});
  EXPECT_EQ(s.C.LastError(), u"");
}

// (The notifications in order, by name: the program's whois --verbose row. SendToSocket is ToBytes
// and SendBuf: a zero and high values one unit each, only the low byte on the wire, in
// SysUtils_test's text conversion; the query's bytes on the wire: the program's whois rows.)
