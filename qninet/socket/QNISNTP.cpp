#include "qninet/socket/QNISNTP.h"

#include <cmath>

#include "qninet/sys/TimeZone.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/sys/UdpSocket.h"
#include "qninet/rtl/TypInfo.h"

namespace qninet {

const char16_t* const QNIDefaultSNTPHost = u"pool.ntp.org";

namespace {

constexpr std::size_t kPacketSize = 48;
constexpr double kSecondsPerDay = 86400.0;
constexpr double kTwoTo32 = 4294967296.0;

Cardinal read_be32(const String& s, std::size_t at) {
  return (static_cast<Cardinal>(s[at] & 0xFF) << 24) | (static_cast<Cardinal>(s[at + 1] & 0xFF) << 16) |
         (static_cast<Cardinal>(s[at + 2] & 0xFF) << 8) | static_cast<Cardinal>(s[at + 3] & 0xFF);
}

void write_be32(String& s, std::size_t at, Cardinal v) {
  s[at] = static_cast<char16_t>((v >> 24) & 0xFF);
  s[at + 1] = static_cast<char16_t>((v >> 16) & 0xFF);
  s[at + 2] = static_cast<char16_t>((v >> 8) & 0xFF);
  s[at + 3] = static_cast<char16_t>(v & 0xFF);
}

}  // namespace

double TimeZoneBias() {
  const auto zone = sys::time_zone_info();
  Integer minutes = 0;
  switch (zone.State) {
    case sys::tzsUnknown:
      minutes = zone.Bias;
      break;
    case sys::tzsStandard:
      minutes = zone.Bias + zone.StandardBias;
      break;
    case sys::tzsDaylight:
      minutes = zone.Bias + zone.DaylightBias;
      break;
    case sys::tzsFailed:
      minutes = 0;
      break;
  }
  return minutes / 1440.0;
}

Cardinal SwapBytes(Cardinal Value) {
  return ((Value & 0xFFu) << 24) | ((Value & 0xFF00u) << 8) | ((Value >> 8) & 0xFF00u) | (Value >> 24);
}

TDateTime NTPTimestamp2DateTime(Integer Seconds, Integer Fraction) {
  // Both fields are unsigned on the wire. The top bit of the seconds is set from 20 January 1968
  // until era 0 ends in February 2036; a clear top bit means era 1 (RFC 4330 section 3).
  double s = static_cast<double>(static_cast<Cardinal>(Seconds));
  if (Seconds >= 0) s += kTwoTo32;
  const double f = static_cast<double>(static_cast<Cardinal>(Fraction));
  const auto milliseconds = static_cast<Int64>(f / QNISNTPScale * 1000.0);
  return (s + static_cast<double>(milliseconds) / 1000.0) / kSecondsPerDay - TimeZoneBias() + 2.0;
}

String SNTPRequestPacket(TDateTime LocalNow, double Bias) {
  String packet(kPacketSize, u'\0');
  packet[0] = 0x1B;
  // The date-time origin, 30 December 1899, lies two days before the NTP origin.
  const double t = (LocalNow + Bias - 2.0) * kSecondsPerDay;
  double x = t;
  if (x > QNISNTPScale) x -= QNISNTPScale;
  const auto seconds = static_cast<Cardinal>(static_cast<std::uint64_t>(static_cast<Int64>(x)));
  const auto fraction = static_cast<Cardinal>(static_cast<std::uint64_t>((t - std::floor(t)) * QNISNTPScale));
  write_be32(packet, 40, seconds);
  write_be32(packet, 44, fraction);
  return packet;
}

TDateTime SNTPReplyToDateTime(const String& Answer) {
  if (Answer.size() < kPacketSize) return 0;
  const unsigned leap = (Answer[0] & 0xFF) >> 6;
  const unsigned stratum = Answer[1] & 0xFF;
  const Cardinal seconds = read_be32(Answer, 40);
  const Cardinal fraction = read_be32(Answer, 44);
  if (leap == 3) return 0;
  if (stratum == 0 || stratum > 15) return 0;
  // A server that never set its transmit time sends zeros (RFC 4330 section 5).
  if (seconds == 0 && fraction == 0) return 0;
  const TDateTime t = NTPTimestamp2DateTime(static_cast<Integer>(seconds), static_cast<Integer>(fraction));
  if (t == 0) return 0;
  return t;
}

QNINET_CLASS_INFO(TQNInetSNTP, Published("Timeout", &Self::Timeout, &Self::SetTimeout, 5000),
                  PublishedReadOnly("DateTime", &Self::DateTime).StoredWhen([](const TObject&) {
                    return false;
                  }),
                  Published("UseUDP", &Self::UseUDP, &Self::SetUseUDP, true))

TQNInetSNTP::TQNInetSNTP(TComponent* AOwner) : TQNInetBase(AOwner) {
  SetPort(123);
  SetHost(QNIDefaultSNTPHost);
  SetTimeout(5000);
}

TQNInetSNTP::~TQNInetSNTP() { StopAsyncRun(); }

String TQNInetSNTP::GetQuery() { return SNTPRequestPacket(Now(), qninet::TimeZoneBias()); }

TDateTime TQNInetSNTP::GetDateTime() { return SNTPReplyToDateTime(Execute()); }

TDateTime TQNInetSNTP::DateTime() const { return const_cast<TQNInetSNTP*>(this)->GetDateTime(); }

void TQNInetSNTP::Connect() {
  if (!FUseUDP) TQNInetBase::Connect();
}

void TQNInetSNTP::Disconnect() {
  if (!FUseUDP) TQNInetBase::Disconnect();
}

String TQNInetSNTP::InternalExecute() {
  if (!FUseUDP) return TQNInetBase::InternalExecute();
  const String server = !FAddress.empty() ? FAddress : FHost;
  if (server.empty()) throw Exception(strQNInEHost);
  if (FPort < 1 || FPort > 65535) throw ESocketError(u"Invalid port " + IntToStr(FPort));
  const auto reply =
      sys::udp_exchange(ToUtf8(server), static_cast<std::uint16_t>(FPort), ToBytes(GetQuery()), Timeout());
  if (!reply)
    throw ESocketError(platform::AtEndpoint(platform::EndpointText(server, FPort), reply.failure().Text));
  return FromBytes(*reply);
}

}  // namespace qninet
