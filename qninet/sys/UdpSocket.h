#pragma once
// A small blocking UDP client: one datagram out, the first reply from that endpoint back.
// Failures come back as results, never as exceptions.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include <string>
#include <string_view>

namespace qninet::sys {

/// How one exchange ended.
enum TUdpStatus : std::uint8_t {
  usOk,       ///< a reply arrived
  usLookup,   ///< the host name could not be resolved
  usSocket,   ///< no socket could be made or connected for any address
  usSend,     ///< sending failed
  usRefused,  ///< every address answered "port unreachable"
  usTimeout,  ///< no reply within the time-out
  usReceive   ///< receiving failed otherwise
};

/// The outcome of `udp_exchange`: the reply's bytes, or what went wrong in the system's words.
struct TUdpResult {
  TUdpStatus Status = usSocket;
  std::string Reply;
  std::u16string Error;
  bool Ok() const { return Status == usOk; }
};

/// A UDP socket connected to one endpoint, so the system delivers datagrams from that endpoint
/// only. Closed by the destructor.
class TUdpSocket {
public:
  TUdpSocket();
  ~TUdpSocket();
  TUdpSocket(const TUdpSocket&) = delete;
  TUdpSocket& operator=(const TUdpSocket&) = delete;

  /// Resolves `host` (a name, an IPv4 or an IPv6 literal, with getaddrinfo) and connects to the
  /// first address it can; `next_address` moves on to the next one. Returns usOk, usLookup or
  /// usSocket; `error` holds the system's text on failure.
  TUdpStatus Open(const std::string& host, std::uint16_t port, std::u16string& error);
  /// Connects to the next resolved address; false when there is none left.
  bool NextAddress(std::u16string& error);
  /// Sends one datagram. Returns usOk, usSend or usRefused.
  TUdpStatus Send(std::string_view datagram, std::u16string& error);
  /// Waits up to `timeout_ms` (poll, EINTR resumed against the same deadline) for one datagram
  /// and returns it in `datagram`. Returns usOk, usTimeout, usRefused or usReceive.
  TUdpStatus Receive(std::string& datagram, int timeout_ms, std::u16string& error);
  void Close();
  bool IsOpen() const;

private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

/// Sends `request` as one datagram to host:port and returns the first reply from that endpoint,
/// waiting at most `timeout_ms` in all (a value of 0 or less waits 5000 ms: a UDP wait is never
/// unbounded). An address that answers "port unreachable" gives way to the next resolved one.
TUdpResult udp_exchange(const std::string& host, std::uint16_t port, std::string_view request,
                        int timeout_ms);

}  // namespace qninet::sys
