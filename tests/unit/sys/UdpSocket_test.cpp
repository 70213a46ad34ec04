#include "qninet/sys/UdpSocket.h"

#include <gtest/gtest.h>

#include <cerrno>

#include "harness/Ports.h"
#include "harness/UdpScriptedServer.h"
#include "qninet/rtl/SysUtils.h"

using namespace qninet;
using namespace qninet::sys;
using qninet::harness::UdpScriptedServer;

TEST(UdpExchange, SendsOneDatagramAndReturnsTheFirstReply) {
  UdpScriptedServer server({{std::string("first\0reply", 11), "second"}});
  // by name: the exchange finds the server on whichever loopback address it listens
  const auto r = udp_exchange("localhost", server.Port(), std::string("ask\0me", 6), 2000);
  ASSERT_TRUE(r) << ToUtf8(r.failure().Text);
  EXPECT_EQ(*r, std::string("first\0reply", 11));
  ASSERT_EQ(server.Received().size(), 1u);
  EXPECT_EQ(server.Received()[0], std::string("ask\0me", 6));
}

// A caller tells the kinds apart by the code; the text is the shared vocabulary's.
TEST(UdpExchange, FailuresCarryTheirKindAndText) {
  UdpScriptedServer silent(std::vector<std::vector<std::string>>{{}});
  const std::tuple<std::uint16_t, int, int, const char16_t*> cases[] = {
      {silent.Port(), 150, ETIMEDOUT, u"Connection timed out"},
      {harness::FreeUdpPort(), 2000, ECONNREFUSED, u"Connection refused"}};
  for (const auto& [port, timeout, code, text] : cases) {
    const auto r = udp_exchange("127.0.0.1", port, "ping", timeout);
    ASSERT_FALSE(r);
    EXPECT_EQ(r.failure().Code, code);
    EXPECT_EQ(r.failure().Text, text);
  }
  TUdpSocket closed;
  EXPECT_FALSE(closed.Receive(10));
  EXPECT_FALSE(closed.Send("x"));
}
