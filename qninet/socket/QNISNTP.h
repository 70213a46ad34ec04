#pragma once
// The SNTP client (RFC 4330): the transmit time of a time server in this computer's local time.

#include "qninet/rtl/DateUtils.h"
#include "qninet/socket/QNInBase.h"

namespace qninet {

/// The scale of the SNTP fraction field as this client reads and writes it.
inline constexpr double QNISNTPScale = 4294967297.0;

/// UTC minus local time in days (local = UTC − bias), from the platform's time-zone
/// information: the base bias, plus the standard or daylight bias in force; 0 when the query
/// fails.
QNINET_API double TimeZoneBias();
/// The four bytes of `Value` in reverse order.
QNINET_API Cardinal SwapBytes(Cardinal Value);
/// The local date-time of an NTP timestamp given as its two 32-bit fields. Both fields are read
/// unsigned; a seconds field whose top bit is clear lies in NTP era 1 (from 7 February 2036
/// 06:28:16 UTC, RFC 4330 section 3). The fraction counts in whole milliseconds only.
QNINET_API TDateTime NTPTimestamp2DateTime(Integer Seconds, Integer Fraction);
/// The 48-byte client request (leap 0, version 3, mode 3) as 48 characters, its transmit
/// timestamp being `LocalNow` shifted by `Bias` days to UTC.
QNINET_API String SNTPRequestPacket(TDateTime LocalNow, double Bias);
/// The local date-time of a server reply's transmit timestamp, or 0 when the answer is shorter
/// than 48 characters or rejected: leap indicator 3 (clock not synchronised), stratum 0 or
/// above 15, or a transmit timestamp of zero.
QNINET_API TDateTime SNTPReplyToDateTime(const String& Answer);

/// An SNTP client. Each read of `DateTime` runs one whole `Execute`. With `UseUDP` (the default)
/// the request travels as one datagram and the first reply from the server is read, bounded by
/// `Timeout` (default 5000 ms); without it the request goes over the engine's TCP connection,
/// followed by the engine's header block.
class QNINET_API TQNInetSNTP : public TQNInetBase {
  QNINET_OBJECT(TQNInetSNTP, TQNInetBase)
public:
  /// Port 123, the NTP pool host, UDP, a time-out of 5000 ms.
  explicit TQNInetSNTP(TComponent* AOwner);
  ~TQNInetSNTP() override;
  /// The 48-byte request for the current moment.
  String GetQuery() override;
  /// Asks the server and returns its transmit time as local time; 0 (30 December 1899) for a
  /// failed exchange, a short or a rejected reply. Raises what `Execute` lets through
  /// ("Host/Address is not defined.", TCP connection failures).
  TDateTime GetDateTime();
  /// The published reader: `GetDateTime`.
  TDateTime DateTime() const;

  /// Whether the exchange uses UDP (true) or the engine's TCP connection.
  bool UseUDP() const { return FUseUDP; }
  /// Sets `UseUDP`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetUseUDP(bool value) {
    RefuseWriteWhileRunning(*this);
    FUseUDP = value;
  }

  /// `qninet::TimeZoneBias`.
  static double TimeZoneBias() { return qninet::TimeZoneBias(); }
  /// `qninet::SwapBytes`.
  static Cardinal SwapBytes(Cardinal Value) { return qninet::SwapBytes(Value); }
  /// `qninet::NTPTimestamp2DateTime`.
  static TDateTime NTPTimestamp2DateTime(Integer Seconds, Integer Fraction) {
    return qninet::NTPTimestamp2DateTime(Seconds, Fraction);
  }

  /// Over TCP the engine's connection; over UDP nothing (each step makes its own socket).
  void Connect() override;
  void Disconnect() override;

protected:
  /// Over UDP: sends the request alone as one datagram and returns the reply's bytes, one
  /// character each; raises `ESocketError` with the system's text when no reply comes.
  String InternalExecute() override;

private:
  bool FUseUDP = true;
};

/// The NTP server used when none is set.
extern QNINET_API const char16_t* const QNIDefaultSNTPHost;

}  // namespace qninet
