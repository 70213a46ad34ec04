#pragma once
// A TLS client session over a connected TCP descriptor (OpenSSL): the handshake with SNI, the
// peer's certificate checked against the system's store (plus an extra CA file) and against the
// host name or address, then encrypted sends and receives. SIGPIPE is never raised.

#include <cstddef>
#include <memory>
#include <string>

#include "qninet/sys/Result.h"

namespace qninet::sys {

/// What an established session negotiated, for a log: empty texts before a handshake.
struct TlsDetails {
  std::string Version;  ///< "TLS 1.3", "TLS 1.2"
  std::string Cipher;   ///< the suite's IANA-style name as OpenSSL gives it
  std::string Subject;  ///< the peer certificate's subject, "CN=...,O=..." (RFC 2253, UTF-8)
  std::string Issuer;   ///< its issuer, in the same form
};

class TlsSession {
public:
  /// The session rides on `fd`, which stays the caller's to close.
  explicit TlsSession(int fd);
  ~TlsSession();
  TlsSession(const TlsSession&) = delete;
  TlsSession& operator=(const TlsSession&) = delete;

  /// Shakes hands as a client of `host` (a name, sent as SNI, or an address literal); the
  /// certificate must be valid for it. `ca_file` (PEM) and the file that the environment's
  /// QNINET_CA_FILE names, when given, are trusted besides the system's store. A refused
  /// certificate fails with OpenSSL's verification code and a text that names the reason.
  Status Handshake(const std::string& host, const std::string& ca_file);
  /// Sends all `count` bytes.
  Result<std::size_t> Send(const void* data, std::size_t count);
  /// Reads up to `count` bytes: the count read, 0 when the peer has closed.
  Result<std::size_t> Receive(void* data, std::size_t count);
  /// Whether decrypted bytes wait to be read (a poll on the descriptor would not see them).
  bool Pending() const;
  /// The protocol, cipher and peer certificate of the session (empty before a handshake).
  TlsDetails Details() const;
  /// Tells the peer that the session ends (one close_notify, no wait for its answer).
  void Shutdown();

private:
  struct State;
  std::unique_ptr<State> FState;
};

}  // namespace qninet::sys
