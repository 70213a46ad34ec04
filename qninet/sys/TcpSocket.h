#pragma once
// A blocking TCP client over POSIX sockets: name look-up (IPv4 and IPv6), a connect bounded by
// a time-out, sends that never raise SIGPIPE, receives bounded by the same time-out. Failures
// come back as results with the system's code and text. Once `StartTls` succeeded, sends and
// receives go through the TLS session.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "qninet/sys/Result.h"
#include "qninet/sys/TlsSession.h"

namespace qninet::sys {

/// The addresses that a look-up found, in the resolver's order.
class TcpAddresses {
public:
  TcpAddresses();
  ~TcpAddresses();
  TcpAddresses(TcpAddresses&&) noexcept;
  TcpAddresses& operator=(TcpAddresses&&) noexcept;

private:
  friend Result<TcpAddresses> resolve_tcp(const std::string&, int, bool);
  friend class TcpSocket;
  struct List;
  std::unique_ptr<List> FList;
};

/// Looks `node` up for a TCP connection to `port`: a name (through the resolver, IPv4 and IPv6)
/// or, with `numeric`, only an address literal. The failure's code is the resolver's (negative)
/// or, for an empty node, the system's; its text is fit to show.
Result<TcpAddresses> resolve_tcp(const std::string& node, int port, bool numeric);

/// One connection; closed by the destructor.
class TcpSocket {
public:
  TcpSocket();
  ~TcpSocket();
  TcpSocket(const TcpSocket&) = delete;
  TcpSocket& operator=(const TcpSocket&) = delete;

  /// Connects to the first address that accepts, within `timeout_ms` for all of them (0 or
  /// less: as long as the system waits). The failure is the last address's.
  Status Connect(const TcpAddresses& addresses, int timeout_ms);
  /// Milliseconds that each later send or receive may wait (0: as long as the system waits).
  void SetTimeout(int timeout_ms);
  bool IsOpen() const { return FFd >= 0; }
  /// Sends all `count` bytes, looping over partial sends; a wait past the time-out fails with
  /// the code of "Connection timed out".
  Result<std::size_t> Send(const void* data, std::size_t count);
  /// Reads up to `count` bytes: the count read, 0 when the peer has closed.
  Result<std::size_t> Receive(void* data, std::size_t count);
  /// Whether data (or the peer's close) is ready within the time-out.
  bool WaitReadable();
  /// Shakes hands as a TLS client of `host` on the open connection (see `TlsSession`); a
  /// failure closes the connection.
  Status StartTls(const std::string& host, const std::string& ca_file);
  bool IsTls() const { return FTls != nullptr; }
  /// The TLS session once `StartTls` succeeded, else null.
  const TlsSession* Tls() const { return FTls.get(); }
  /// Ends the TLS session (close_notify) if any, then closes.
  void Close();
  /// The numeric address of the peer ("127.0.0.1", "::1"); empty when closed.
  std::string PeerAddress() const;

  /// The failure of an operation on a closed socket.
  static Failure NotConnected();

private:
  int FFd = -1;
  int FTimeoutMs = 0;
  std::unique_ptr<TlsSession> FTls;
};

/// The local host name; empty when the system gives none.
std::string local_host_name();
/// The resolver's text for one of its codes ("Name or service not known").
std::u16string resolver_error_text(int code);

}  // namespace qninet::sys
