#include "qninet/rtl/SysUtils.h"
#include "qninet/sys/UdpSocket.h"

#include <gtest/gtest.h>

#include "harness/Ports.h"
#include "harness/UdpScriptedServer.h"

using namespace qninet;
using namespace qninet::sys;
using qninet::harness::UdpScriptedServer;

TEST(UdpExchange, SendsOneDatagramAndReturnsTheFirstReply) {
  UdpScriptedServer server({{std::string("first\0reply", 11), "second"}});
  // by name: the exchange finds the server on whichever loopback address it listens
  const auto r = udp_exchange("localhost", server.Port(), std::string("ask\0me", 6), 2000);
  ASSERT_TRUE(r.Ok()) << ToUtf8(r.Error);
  EXPECT_EQ(r.Reply, std::string("first\0reply", 11));
  ASSERT_EQ(server.Received().size(), 1u);
  EXPECT_EQ(server.Received()[0], std::string("ask\0me", 6));
}

TEST(UdpExchange, SilentServerTimesOutAndClosedPortIsRefused) {
  UdpScriptedServer silent(std::vector<std::vector<std::string>>{{}});
  auto r = udp_exchange("127.0.0.1", silent.Port(), "ping", 150);
  EXPECT_EQ(r.Status, usTimeout);
  EXPECT_FALSE(r.Error.empty());
  r = udp_exchange("127.0.0.1", harness::FreeUdpPort(), "ping", 2000);
  EXPECT_EQ(r.Status, usRefused);
  EXPECT_FALSE(r.Error.empty());
}

TEST(UdpSocket, ReceiveWithoutOpenFails) {
  TUdpSocket s;
  std::string d;
  String e;
  EXPECT_EQ(s.Receive(d, 10, e), usReceive);
  EXPECT_EQ(s.Send("x", e), usSend);
}
