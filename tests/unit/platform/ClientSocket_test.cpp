// The blocking TCP client socket against loopback peers.

#include "qninet/platform/ClientSocket.h"

#include <gmock/gmock.h>
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
using testing::StrEq;
using testing::ThrowsMessage;
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

void open_on(TClientSocket& s, int port, Integer timeout) {
  s.SetAddress(u"127.0.0.1");
  s.SetPort(port);
  s.SetTimeout(timeout);
  s.Open();
}

}  // namespace

// No endpoint raises; the address wins over a host name the resolver would refuse.
TEST(ClientSocketOpen, NotificationsOnceEachByAddressWhichWinsOverTheHost) {
  ScriptedServer server(Script().ReadUntilClose());
  TClientSocket s(nullptr);
  // with no endpoint there is none to name
  EXPECT_THAT([&] { s.Open(); }, ThrowsMessage<ESocketError>(StrEq("Destination address required")));
  Recorder r;
  r.hook(s);
  s.SetHost(String(70, u'a') + u".invalid");
  open_on(s, server.Port(), 5000);
  EXPECT_TRUE(s.Active());
  EXPECT_EQ(s.RemoteAddress(), u"127.0.0.1");
  s.Open();  // already open: nothing
  s.Close();
  s.Close();  // already closed: nothing
  // no look-up for an address; by name, the engine's order is read in QNInBase_test
  EXPECT_EQ(r.Seen, (std::vector<std::string>{"connecting", "connect", "disconnect"}));
}

TEST(ClientSocketOpen, IPv6LiteralAsHost) {
  if (!harness::HaveIPv6Loopback()) GTEST_SKIP() << "no ::1 here";
  ScriptedServer server(Script().ReadUntilClose(), ScriptedServer::Family::IPv6);
  TClientSocket s(nullptr);
  s.SetHost(u"::1");
  s.SetPort(server.Port());
  s.Open();
  EXPECT_EQ(s.RemoteAddress(), u"::1");
  // A failure names the endpoint with the literal in brackets.
  TClientSocket refused(nullptr);
  refused.SetHost(u"::1");
  refused.SetPort(harness::FreePort());
  EXPECT_THAT(
      [&] { refused.Open(); },
      ThrowsMessage<ESocketError>(StrEq("[::1]:" + std::to_string(refused.Port()) + ": Connection refused")));
}

TEST(ClientSocketTransfer, SendLoopsOverPartialSendsAndReturnsTheCount) {
  // 8 MiB is far beyond the socket buffers: the kernel takes it in pieces
  const std::string big(8u << 20, 'x');
  ScriptedServer server(Script().ExpectBytes(big.size()).Send("ok"));
  TClientSocket s(nullptr);
  std::vector<std::string> seen;  // the ready notifications, before each send and receive
  s.SetOnRead([&](TObject*, TClientSocket*) { seen.push_back("read"); });
  s.SetOnWrite([&](TObject*, TClientSocket*) { seen.push_back("write"); });
  open_on(s, server.Port(), 10000);
  EXPECT_EQ(s.SendBuf(big.data(), static_cast<Integer>(big.size())), static_cast<Integer>(big.size()));
  char buf[8] = {};
  EXPECT_EQ(s.ReceiveBuf(buf, 8), 2);
  EXPECT_EQ(std::string(buf, 2), "ok");
  EXPECT_EQ(s.ReceiveBuf(buf, 8), 0);  // the peer closed
  s.Close();
  EXPECT_EQ(server.Received(0).size(), big.size());
  ASSERT_GE(seen.size(), 2u);
  EXPECT_EQ(seen.front(), "write");
  EXPECT_EQ(seen.back(), "read");
}

// A connect never answered and a read that gets nothing both time out and name the endpoint; the
// read's error ends the connection, without a disconnect, and a handler that clears the code
// makes the read return -1 instead. (A refused port and an unknown name: QNInBase_test.)
TEST(ClientSocketTransfer, ConnectAndReadTimeOut) {
  SilentListener silent;
  ScriptedServer server({Script().HoldOpen(), Script().HoldOpen()});
  TClientSocket c(nullptr), s(nullptr), quiet(nullptr);
  Recorder rc, r;
  rc.hook(c);
  r.hook(s);
  const auto timedOut = [](int port) {
    return ThrowsMessage<ESocketError>(StrEq("127.0.0.1:" + std::to_string(port) + ": Connection timed out"));
  };
  EXPECT_THAT([&] { open_on(c, silent.Port(), 300); }, timedOut(silent.Port()));
  EXPECT_EQ(rc.Seen.back(), "error 3 110");
  open_on(s, server.Port(), 200);
  char buf[8];
  EXPECT_THAT([&] { s.ReceiveBuf(buf, 8); }, timedOut(server.Port()));
  EXPECT_EQ(r.Seen.back(), "error 2 110");
  EXPECT_FALSE(s.Active());
  EXPECT_THROW(s.ReceiveBuf(buf, 8), ESocketError);
  quiet.SetOnError([](TObject*, TClientSocket*, TErrorEvent, Integer& code) { code = 0; });
  open_on(quiet, server.Port(), 150);
  EXPECT_EQ(quiet.ReceiveBuf(buf, 4), -1);
}

TEST(ClientSocketTransfer, SendToAResetPeerNeitherKillsNorHangs) {
  // The pause keeps the reset out of the connect, which would report it as a failed open.
  ScriptedServer server(Script().Sleep(300ms).Reset());
  TClientSocket s(nullptr);
  open_on(s, server.Port(), 5000);
  ASSERT_TRUE(server.WaitUntilSettled(0, 5s));
  const std::string data(1 << 16, 'y');
  bool raised = false;
  // SIGPIPE would end this test program; the failure comes back as an exception instead
  for (int i = 0; i < 50 && !raised; ++i) {
    try {
      s.SendBuf(data.data(), static_cast<Integer>(data.size()));
    } catch (const ESocketError& e) {
      raised = true;
      const String at = u"127.0.0.1:" + IntToStr(server.Port()) + u": ";
      EXPECT_TRUE(e.Message() == at + u"Broken pipe" || e.Message() == at + u"Connection reset by peer")
          << e.what();
    }
  }
  EXPECT_TRUE(raised);
}
