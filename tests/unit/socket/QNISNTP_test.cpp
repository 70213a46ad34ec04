#include "qninet/socket/QNISNTP.h"

#include <gtest/gtest.h>

#include <cmath>

#include "harness/ScriptedServer.h"
#include "qninet/sys/TimeZone.h"
#include "support/Overrides.h"

using namespace qninet;
using qninet::harness::Script;
using qninet::harness::ScriptedServer;
using qninet::test_support::ZoneOverride;

namespace {

constexpr double kMs = 1.0 / 86400000.0;

sys::TTimeZoneInfo Zone(std::int32_t bias, sys::TTimeZoneState state, std::int32_t standard = 0,
                        std::int32_t daylight = 0) {
  return {bias, standard, daylight, state};
}

ZoneOverride Utc() { return ZoneOverride(Zone(0, sys::tzsUnknown)); }

TDateTime At(int y, int mo, int d, int h, int mi, int s, int ms = 0) {
  return EncodeDate(y, mo, d) + EncodeTime(h, mi, s, ms);
}

// Seconds since 1900 of a UTC date-time.
std::uint32_t NtpSeconds(TDateTime utc) {
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(std::llround((utc - 2.0) * 86400.0)));
}

std::string Reply(unsigned leap, unsigned stratum, std::uint32_t seconds, std::uint32_t fraction,
                  std::size_t size = 48) {
  std::string p(48, '\0');
  p[0] = static_cast<char>((leap << 6) | (4 << 3) | 4);
  p[1] = static_cast<char>(stratum);
  for (int i = 0; i < 4; ++i) {
    p[40 + i] = static_cast<char>((seconds >> (24 - 8 * i)) & 0xFF);
    p[44 + i] = static_cast<char>((fraction >> (24 - 8 * i)) & 0xFF);
  }
  p.resize(size);
  return p;
}

// The big-endian 32-bit value at offset i of a packet.
double U32At(const String& p, std::size_t i) {
  return static_cast<double>((static_cast<std::uint32_t>(p[i]) << 24) | (p[i + 1] << 16) | (p[i + 2] << 8) |
                             p[i + 3]);
}

}  // namespace

// (SwapBytes: the request's layout on the wire.)
TEST(SntpHelpers, TheBiasFollowsTheStateOfTheZone) {
  const std::pair<sys::TTimeZoneInfo, int> cases[] = {
      {Zone(300, sys::tzsUnknown, 7, 9), 300},
      {Zone(-60, sys::tzsStandard, 0, -60), -60},
      {Zone(-60, sys::tzsDaylight, 0, -60), -120},
      {Zone(-60, sys::tzsFailed, 0, -60), 0},
  };
  for (const auto& [zone, minutes] : cases) {
    ZoneOverride z(zone);
    EXPECT_DOUBLE_EQ(TimeZoneBias(), minutes / 1440.0) << "state " << static_cast<int>(zone.State);
  }
}

// A set top bit is read unsigned, a clear one is era one (after 7 February 2036); the fraction
// gives whole milliseconds.
TEST(SntpTimestamp, ErasAndMilliseconds) {
  auto z = Utc();
  const TDateTime when = At(2026, 1, 1, 0, 0, 0);
  const std::uint32_t s = NtpSeconds(when);
  ASSERT_TRUE(s & 0x80000000u);
  const std::tuple<std::uint32_t, std::uint32_t, TDateTime, double> cases[] = {
      {s, 0, when, kMs / 2},
      // 2^31 seconds after 1900, the first moment with the top bit set
      {0x80000000u, 0, At(1968, 1, 20, 3, 14, 8), kMs / 2},
      {0, 0, At(2036, 2, 7, 6, 28, 16), kMs / 2},
      {86400, 0, At(2036, 2, 8, 6, 28, 16), kMs / 2},
      {s, 0x7FFFFFFF, when + 499 * kMs, kMs / 1000},   // just under a half second: 499, not 499.99
      {s, 0xFFFFFFFFu, when + 999 * kMs, kMs / 1000},  // the largest fraction stays in its second
  };
  for (const auto& [seconds, fraction, expected, within] : cases)
    EXPECT_NEAR(NTPTimestamp2DateTime(static_cast<Integer>(seconds), static_cast<Integer>(fraction)),
                expected, within)
        << seconds << " " << fraction;
}

TEST(SntpRequest, LayoutAndTransmitTimeInUtc) {
  const String p = SNTPRequestPacket(At(2026, 1, 1, 0, 0, 0) + 0.5 / 86400.0, 0.0);
  ASSERT_EQ(p.size(), 48u);
  EXPECT_EQ(p[0], 0x1B);
  for (int i = 1; i < 40; ++i) EXPECT_EQ(p[i], 0) << i;
  EXPECT_EQ(U32At(p, 40), NtpSeconds(At(2026, 1, 1, 0, 0, 0)));
  // Half a second in units of 1/4294967297.
  EXPECT_NEAR(U32At(p, 44), 0.5 * 4294967297.0, 4096.0);
  // Local 13:00 one hour ahead of UTC (bias -60 minutes) is 12:00 UTC on the wire.
  EXPECT_NEAR(U32At(SNTPRequestPacket(At(2026, 3, 1, 13, 0, 0), -60 / 1440.0), 40),
              NtpSeconds(At(2026, 3, 1, 12, 0, 0)), 1.0);
}

TEST(SntpReply, AcceptedAndRejectedReplies) {
  auto z = Utc();
  const TDateTime when = At(2026, 5, 5, 5, 5, 5);
  const std::uint32_t s = NtpSeconds(when);
  const std::pair<const char*, std::string> rejected[] = {
      {"stratum 16", Reply(0, 16, s, 0)},        {"stratum 0 (kiss of death)", Reply(0, 0, s, 0)},
      {"leap indicator 3", Reply(3, 2, s, 0)},   {"47 characters", Reply(0, 2, s, 0, 47)},
      {"zero transmit time", Reply(0, 2, 0, 0)},
  };
  for (const auto& [what, reply] : rejected) EXPECT_EQ(SNTPReplyToDateTime(FromBytes(reply)), 0.0) << what;
  EXPECT_NEAR(SNTPReplyToDateTime(FromBytes(Reply(0, 2, s, 0))), when, kMs / 2);
  EXPECT_GT(SNTPReplyToDateTime(FromBytes(Reply(1, 15, s, 0))), 0.0) << "leap 1, stratum 15 pass";
  // a longer answer is read by its first 48 characters
  EXPECT_NEAR(SNTPReplyToDateTime(FromBytes(Reply(0, 2, s, 0) + "Proxy-Connection")), when, kMs / 2);
}

// (The UDP exchange with a real server: chrony in peers_time_test; silence and a refusal that
// names its endpoint: the program's vocabulary rows; an IPv6 endpoint in brackets, through the
// same EndpointText: ClientSocket_test.)
// Over TCP the packet goes with the header block; a short answer gives zero; the time is local,
// here one hour ahead of UTC.
TEST(SntpClient, TcpSendsThePacketWithTheHeaderBlock) {
  ZoneOverride z(Zone(-60, sys::tzsStandard));
  const TDateTime utc = At(2026, 3, 1, 12, 0, 0);
  const std::string block = "Proxy-Connection: Keep-Alive\r\n\r\n";
  for (const std::size_t size : {48u, 47u}) {
    ScriptedServer server(
        Script().ExpectBytes(48 + block.size()).Send(Reply(0, 2, NtpSeconds(utc), 0, size)).Close());
    TQNInetSNTP c(nullptr);
    c.SetUseUDP(false);
    c.SetHost(u"127.0.0.1");
    c.SetPort(server.Port());
    EXPECT_NEAR(c.GetDateTime(), size == 48 ? At(2026, 3, 1, 13, 0, 0) : 0.0, kMs / 2);
    const std::string sent = server.Received(0);
    ASSERT_EQ(sent.size(), 48 + block.size());
    EXPECT_EQ(sent.substr(48), block);
  }
}
