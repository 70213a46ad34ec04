// The blocking TCP client socket against loopback peers.

#include "qninet/platform/ClientSocket.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>
#include <vector>

#include "harness/Ports.h"
#include "harness/ScriptedServer.h"

using namespace qninet;
using namespace qninet::platform;
using namespace std::chrono_literals;
using harness::Script;
using harness::ScriptedServer;

namespace {

/// Records the notifications of a socket as words.
struct Recorder {
  std::vector<std::string> Seen;
  void hook(TClientSocket& s) {
    s.SetOnLookup([this](TObject*, TClientSocket*) { Seen.push_back("lookup"); });
    s.SetOnConnecting([this](TObject*, TClientSocket*) { Seen.push_back("connecting"); });
    s.SetOnConnect([this](TObject*, TClientSocket*) { Seen.push_back("connect"); });
    s.SetOnDisconnect([this](TObject*, TClientSocket*) { Seen.push_back("disconnect"); });
    s.SetOnError([this](TObject*, TClientSocket*, TErrorEvent e, Integer& code) {
      Seen.push_back("error " + std::to_string(e) + " " + std::to_string(code));
    });
  }
};

/// A listening socket whose accept queue is full, so a further connect is never answered.
class SilentListener {
public:
  SilentListener() {
    FListen = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(FListen, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(FListen, 0);
    socklen_t len = sizeof a;
    ::getsockname(FListen, reinterpret_cast<sockaddr*>(&a), &len);
    FPort = ntohs(a.sin_port);
    // fill the queue: this one completes, later SYNs are dropped
    FFiller = ::socket(AF_INET, SOCK_STREAM, 0);
    ::connect(FFiller, reinterpret_cast<sockaddr*>(&a), sizeof a);
  }
  ~SilentListener() {
    ::close(FFiller);
    ::close(FListen);
  }
  int Port() const { return FPort; }

private:
  int FListen = -1, FFiller = -1, FPort = 0;
};

}  // namespace

TEST(ClientSocketOpen, NotificationsByAddressAndByName) {
  ScriptedServer server({Script().ReadUntilClose(), Script().ReadUntilClose()});
  TClientSocket s(nullptr);
  Recorder r;
  r.hook(s);
  s.SetAddress(u"127.0.0.1");
  s.SetPort(server.Port());
  s.Open();
  EXPECT_TRUE(s.Active());
  EXPECT_EQ(s.RemoteAddress(), u"127.0.0.1");
  s.Open();  // already open: nothing
  s.Close();
  s.Close();  // already closed: nothing
  EXPECT_EQ(r.Seen, (std::vector<std::string>{"connecting", "connect", "disconnect"}));
  r.Seen.clear();
  s.SetAddress(u"");
  s.SetHost(u"localhost");
  s.Open();
  s.Close();
  EXPECT_EQ(r.Seen, (std::vector<std::string>{"lookup", "connecting", "connect", "disconnect"}));
}

TEST(ClientSocketOpen, AddressWinsOverHost) {
  ScriptedServer server(Script().ReadUntilClose());
  TClientSocket s(nullptr);
  s.SetHost(String(70, u'a') + u".invalid");
  s.SetAddress(u"127.0.0.1");
  s.SetPort(server.Port());
  EXPECT_NO_THROW(s.Open());
}

TEST(ClientSocketOpen, IPv6LiteralAsHost) {
  if (!harness::HaveIPv6Loopback()) GTEST_SKIP() << "no ::1 here";
  ScriptedServer server(Script().ReadUntilClose(), ScriptedServer::Family::IPv6);
  TClientSocket s(nullptr);
  s.SetHost(u"::1");
  s.SetPort(server.Port());
  s.Open();
  EXPECT_EQ(s.RemoteAddress(), u"::1");
}

TEST(ClientSocketOpen, RefusedRaisesTheSystemTextAfterTheErrorNotification) {
  TClientSocket s(nullptr);
  Recorder r;
  r.hook(s);
  s.SetAddress(u"127.0.0.1");
  s.SetPort(harness::FreePort());
  try {
    s.Open();
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Message(), u"Connection refused");
  }
  EXPECT_EQ(r.Seen, (std::vector<std::string>{"connecting", "error 3 111"}));
  EXPECT_FALSE(s.Active());
}

TEST(ClientSocketOpen, UnknownNameRaisesTheResolverText) {
  TClientSocket s(nullptr);
  Recorder r;
  r.hook(s);
  s.SetHost(String(70, u'a') + u".invalid");  // refused by the resolver before any query
  s.SetPort(43);
  try {
    s.Open();
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Message(), u"Name or service not known");
  }
  ASSERT_EQ(r.Seen.size(), 2u);
  EXPECT_EQ(r.Seen[0], "lookup");
  EXPECT_EQ(r.Seen[1].rfind("error 6 ", 0), 0u) << r.Seen[1];
}

TEST(ClientSocketOpen, NoEndpointRaises) {
  TClientSocket s(nullptr);
  EXPECT_THROW(s.Open(), ESocketError);
}

TEST(ClientSocketOpen, ConnectThatIsNeverAnsweredTimesOut) {
  SilentListener silent;
  TClientSocket s(nullptr);
  Recorder r;
  r.hook(s);
  s.SetAddress(u"127.0.0.1");
  s.SetPort(silent.Port());
  s.SetTimeout(300);
  try {
    s.Open();
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Message(), u"Connection timed out");
  }
  EXPECT_EQ(r.Seen.back(), "error 3 110");
}

TEST(ClientSocketTransfer, SendLoopsOverPartialSendsAndReturnsTheCount) {
  // 8 MiB is far beyond the socket buffers: the kernel takes it in pieces
  const std::string big(8u << 20, 'x');
  ScriptedServer server(Script().ExpectBytes(big.size()).Send("ok"));
  TClientSocket s(nullptr);
  s.SetAddress(u"127.0.0.1");
  s.SetPort(server.Port());
  s.SetTimeout(10000);
  s.Open();
  EXPECT_EQ(s.SendBuf(big.data(), static_cast<Integer>(big.size())), static_cast<Integer>(big.size()));
  char buf[8] = {};
  EXPECT_EQ(s.ReceiveBuf(buf, 8), 2);
  EXPECT_EQ(std::string(buf, 2), "ok");
  EXPECT_EQ(s.ReceiveBuf(buf, 8), 0);  // the peer closed
  s.Close();
  EXPECT_EQ(server.Received(0).size(), big.size());
}

TEST(ClientSocketTransfer, ReadTimesOutWhenNothingComes) {
  ScriptedServer server(Script().HoldOpen());
  TClientSocket s(nullptr);
  Recorder r;
  r.hook(s);
  s.SetAddress(u"127.0.0.1");
  s.SetPort(server.Port());
  s.SetTimeout(200);
  s.Open();
  char buf[8];
  try {
    s.ReceiveBuf(buf, 8);
    FAIL() << "no exception";
  } catch (const ESocketError& e) {
    EXPECT_EQ(e.Message(), u"Connection timed out");
  }
  EXPECT_EQ(r.Seen.back(), "error 2 110");
  EXPECT_FALSE(s.Active());  // the error ended the connection, without a disconnect
  EXPECT_THROW(s.ReceiveBuf(buf, 8), ESocketError);
}

TEST(ClientSocketTransfer, SendToAResetPeerNeitherKillsNorHangs) {
  ScriptedServer server(Script().Reset());
  TClientSocket s(nullptr);
  s.SetAddress(u"127.0.0.1");
  s.SetPort(server.Port());
  s.SetTimeout(5000);
  s.Open();
  ASSERT_TRUE(server.WaitUntilSettled(0, 5s));
  const std::string data(1 << 16, 'y');
  bool raised = false;
  // SIGPIPE would end this test program; the failure comes back as an exception instead
  for (int i = 0; i < 50 && !raised; ++i) {
    try {
      s.SendBuf(data.data(), static_cast<Integer>(data.size()));
    } catch (const ESocketError& e) {
      raised = true;
      EXPECT_TRUE(e.Message() == u"Broken pipe" || e.Message() == u"Connection reset by peer") << e.what();
    }
  }
  EXPECT_TRUE(raised);
}

TEST(ClientSocketTransfer, ClearedErrorCodeReturnsMinusOne) {
  ScriptedServer server(Script().HoldOpen());
  TClientSocket s(nullptr);
  s.SetOnError([](TObject*, TClientSocket*, TErrorEvent, Integer& code) { code = 0; });
  s.SetAddress(u"127.0.0.1");
  s.SetPort(server.Port());
  s.SetTimeout(150);
  s.Open();
  char buf[4];
  EXPECT_EQ(s.ReceiveBuf(buf, 4), -1);
}

TEST(ClientSocketTransfer, ReadyNotificationsBeforeReadAndWrite) {
  ScriptedServer server(Script().ExpectBytes(3).Send("abc"));
  TClientSocket s(nullptr);
  std::vector<std::string> seen;
  s.SetOnRead([&](TObject*, TClientSocket*) { seen.push_back("read"); });
  s.SetOnWrite([&](TObject*, TClientSocket*) { seen.push_back("write"); });
  s.SetAddress(u"127.0.0.1");
  s.SetPort(server.Port());
  s.SetTimeout(5000);
  s.Open();
  s.SendBuf("123", 3);
  char buf[8];
  std::string got;
  for (Integer n; (n = s.ReceiveBuf(buf, 8)) > 0;) got.append(buf, static_cast<std::size_t>(n));
  EXPECT_EQ(got, "abc");
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen[0], "write");
  EXPECT_EQ(seen[1], "read");
}

TEST(ClientSocketHost, LocalHostIsTheSystemName) {
  char name[256] = {};
  ::gethostname(name, sizeof name - 1);
  TClientSocket s(nullptr);
  EXPECT_EQ(s.LocalHost(), FromUtf8(name));
  EXPECT_FALSE(s.LocalHost().empty());
}
