#pragma once
// A small blocking UDP client: one datagram out, the first reply from that endpoint back.
// Failures come back as results, never as exceptions; a failure's code is the system's error
// number (ETIMEDOUT when no reply came, ECONNREFUSED for "port unreachable") or, for a failed
// look-up, the resolver's (negative) code, so a caller can tell the kinds apart.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>

#include "qninet/sys/Result.h"

namespace qninet::sys {

/// A UDP socket connected to one endpoint, so the system delivers datagrams from that endpoint
/// only. Closed by the destructor.
class TUdpSocket {
public:
  TUdpSocket();
  ~TUdpSocket();
  TUdpSocket(const TUdpSocket&) = delete;
  TUdpSocket& operator=(const TUdpSocket&) = delete;

  /// Resolves `host` (a name, an IPv4 or an IPv6 literal, with getaddrinfo) and connects to the
  /// first address it can; `NextAddress` moves on to the next one.
  Status Open(const std::string& host, std::uint16_t port);
  /// Connects to the next resolved address; fails when there is none left.
  Status NextAddress();
  /// Sends one datagram.
  Status Send(std::string_view datagram);
  /// Waits up to `timeout_ms` (poll, EINTR resumed against the same deadline) for one datagram.
  Result<std::string> Receive(int timeout_ms);
  void Close();
  bool IsOpen() const;

private:
  struct Impl;
  std::unique_ptr<Impl> FImpl;
};

/// Sends `request` as one datagram to host:port and returns the first reply from that endpoint,
/// waiting at most `timeout_ms` in all (a value of 0 or less waits 5000 ms: a UDP wait is never
/// unbounded). An address that answers "port unreachable" gives way to the next resolved one.
/// The failure reads "Connection timed out" or "Connection refused" for those two kinds.
Result<std::string> udp_exchange(const std::string& host, std::uint16_t port, std::string_view request,
                                 int timeout_ms);

/// How an exchange tells its reply from stray or forged datagrams, and when it asks again.
struct UdpAwait {
  /// Whether a datagram answers the request; one refused is dropped and the wait goes on.
  /// Unset: the first datagram is the reply.
  std::function<bool(std::string_view reply)> Accept;
  /// Milliseconds of silence after which the request is sent again, the pause doubling each
  /// time, all within the exchange's time-out; 0 sends it once.
  int RetryMs = 0;
};
/// The same exchange, waiting for a datagram that `await.Accept` takes and sending again as
/// `await.RetryMs` says. Only the connected endpoint's datagrams reach it at all (the system
/// drops those of any other address or port).
Result<std::string> udp_exchange(const std::string& host, std::uint16_t port, std::string_view request,
                                 int timeout_ms, const UdpAwait& await);

}  // namespace qninet::sys
