#pragma once
// The blocking TCP client socket that the socket query engine owns: the framework's face of the
// system layer's TCP socket, with the notifications look-up, connecting, connected,
// disconnected, error, ready-to-read and ready-to-write, and failures raised as exceptions.

#include <cstdint>
#include <functional>
#include <memory>

#include "qninet/rtl/Classes.h"

namespace qninet {

namespace platform {
class TClientSocket;
}
namespace sys {
class TcpSocket;
}

/// The socket operation that failed, as the error notification reports it.
enum TErrorEvent : std::uint8_t { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };

/// Socket notification: `Sender` is the platform socket, `Socket` its connection object (the
/// same `TClientSocket` here).
using TSocketNotifyEvent = std::function<void(TObject* Sender, platform::TClientSocket* Socket)>;
/// Socket error notification; `ErrorCode` is the system's error number (the resolver's code
/// for a failed look-up) and may be changed by the handler.
using TSocketErrorEvent = std::function<void(TObject* Sender, platform::TClientSocket* Socket,
                                             TErrorEvent ErrorEvent, Integer& ErrorCode)>;

namespace platform {

/// Blocking or not; this socket always blocks (each wait bounded by `Timeout`), the value is
/// kept for the component's `ClientType`.
enum TClientType : std::uint8_t { ctNonBlocking, ctBlocking };

/// What the open TLS session negotiated, for a log; every text is empty without TLS.
struct TTLSDetails {
  String Version;  ///< "TLS 1.3", "TLS 1.2"
  String Cipher;   ///< the cipher suite, "TLS_AES_256_GCM_SHA384"
  String Subject;  ///< the server certificate's subject, "CN=mail.example.com"
  String Issuer;   ///< the certificate's issuer, in the same form
};

/// A blocking TCP client.
///
/// The endpoint is a server name (`Host`, looked up with getaddrinfo, IPv4 or IPv6, IPv6
/// literals included) or a numeric `Address`; `Address` wins when both are set. A failed
/// `Open` fires the error notification and raises `ESocketError` with the system's text after
/// the endpoint ("127.0.0.1:43: Connection refused", see `AtEndpoint`). A failed send or receive fires the
/// error notification, closes the descriptor (the connection is gone) and raises `ESocketError`, unless the
/// handler set the error code to 0: then the call returns -1. SIGPIPE is never raised.
class QNINET_API TClientSocket : public TComponent {
  QNINET_OBJECT(TClientSocket, TComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TClientSocket(TComponent* AOwner);
  /// Closes the descriptor without notifications.
  ~TClientSocket() override;

  /// The server's host name; empty when `Address` is used.
  const String& Host() const { return FHost; }
  /// Sets `Host`.
  void SetHost(const String& value) { FHost = value; }
  /// The server's dotted address; empty when `Host` is used.
  const String& Address() const { return FAddress; }
  /// Sets `Address`.
  void SetAddress(const String& value) { FAddress = value; }
  /// The server's port.
  Integer Port() const { return FPort; }
  /// Sets `Port`.
  void SetPort(Integer value) { FPort = value; }
  /// Whether the socket blocks (`ctBlocking`) or not.
  TClientType ClientType() const { return FClientType; }
  /// Sets `ClientType`.
  void SetClientType(TClientType value) { FClientType = value; }
  /// Milliseconds that the connect and each wait to send or receive may take; 0 waits as long
  /// as the system does.
  Integer Timeout() const { return FTimeout; }
  /// Sets `Timeout`.
  void SetTimeout(Integer value);
  /// Whether a connection is open.
  bool Active() const;

  /// Looks the endpoint up and connects: notifications look-up (by name only), connecting,
  /// then connected. Does nothing when already open. Raises `ESocketError` with the system's
  /// text ("Connection refused", "Connection timed out", the resolver's text) after the
  /// endpoint, once the error notification has fired.
  void Open();
  /// Turns the open connection into a TLS session as a client of `HostName` (a name, sent as
  /// SNI, or an address), whose certificate must be valid for it under the system's store,
  /// `CAFile` (PEM, when not empty) and the file that QNINET_CA_FILE names. A failure fires the
  /// error notification (eeConnect), closes, and raises `ESocketError` naming the reason.
  void StartTLS(const String& HostName, const String& CAFile);
  /// Whether sends and receives go through a TLS session.
  bool TLSActive() const;
  /// The protocol, cipher and server certificate of the open TLS session (all empty without).
  TTLSDetails TLSDetails() const;
  /// Closes an open connection (then the disconnected notification); nothing when closed.
  void Close();
  /// Sends all `Count` bytes (looping over partial sends); returns `Count`, or -1 after an
  /// error whose code the handler cleared. Raises `ESocketError` otherwise, and when closed.
  Integer SendBuf(const void* Buffer, Integer Count);
  /// Reads up to `Count` bytes; returns the count read, 0 when the peer has closed, -1 after
  /// an error whose code the handler cleared. Raises `ESocketError` otherwise ("Connection
  /// timed out" when no data came within `Timeout`), and when closed.
  Integer ReceiveBuf(void* Buffer, Integer Count);
  /// The local host name (gethostname); empty when the system gives none.
  String LocalHost() const;
  /// The numeric address of the peer of the open connection ("127.0.0.1", "::1"), else empty.
  String RemoteAddress() const;

  /// Called before the host name is looked up.
  const TSocketNotifyEvent& OnLookup() const { return FOnLookup; }
  /// Sets the `OnLookup` handler.
  void SetOnLookup(TSocketNotifyEvent value) { FOnLookup = std::move(value); }
  /// Called when connecting to the looked-up address starts.
  const TSocketNotifyEvent& OnConnecting() const { return FOnConnecting; }
  /// Sets the `OnConnecting` handler.
  void SetOnConnecting(TSocketNotifyEvent value) { FOnConnecting = std::move(value); }
  /// Called when the connection is made.
  const TSocketNotifyEvent& OnConnect() const { return FOnConnect; }
  /// Sets the `OnConnect` handler.
  void SetOnConnect(TSocketNotifyEvent value) { FOnConnect = std::move(value); }
  /// Called when the connection closes.
  const TSocketNotifyEvent& OnDisconnect() const { return FOnDisconnect; }
  /// Sets the `OnDisconnect` handler.
  void SetOnDisconnect(TSocketNotifyEvent value) { FOnDisconnect = std::move(value); }
  /// Called when an error occurs; the handler may clear the error code.
  const TSocketErrorEvent& OnError() const { return FOnError; }
  /// Sets the `OnError` handler.
  void SetOnError(TSocketErrorEvent value) { FOnError = std::move(value); }
  /// Fired after each handshake of `StartTLS` that succeeded (`TLSDetails` then says what it
  /// negotiated).
  const TSocketNotifyEvent& OnTLSStart() const { return FOnTLSStart; }
  /// Sets the `OnTLSStart` handler.
  void SetOnTLSStart(TSocketNotifyEvent value) { FOnTLSStart = std::move(value); }
  /// Fired when data is ready to read, before each receive.
  const TSocketNotifyEvent& OnRead() const { return FOnRead; }
  /// Sets the `OnRead` handler.
  void SetOnRead(TSocketNotifyEvent value) { FOnRead = std::move(value); }
  /// Fired when the socket is ready to write, before each send.
  const TSocketNotifyEvent& OnWrite() const { return FOnWrite; }
  /// Sets the `OnWrite` handler.
  void SetOnWrite(TSocketNotifyEvent value) { FOnWrite = std::move(value); }

private:
  void notify(const TSocketNotifyEvent& event);
  /// Fires the error notification and closes; returns the code the handler left.
  Integer fail(TErrorEvent event, Integer code);
  [[noreturn]] void raise_failure(TErrorEvent event, Integer code, const String& text);
  /// The endpoint as failures name it: the address or name and the port.
  String endpoint() const;

  String FHost;
  String FAddress;
  Integer FPort = 0;
  TClientType FClientType = ctBlocking;
  Integer FTimeout = 0;
  std::unique_ptr<sys::TcpSocket> FSocket;
  TSocketNotifyEvent FOnLookup, FOnConnecting, FOnConnect, FOnDisconnect, FOnRead, FOnWrite, FOnTLSStart;
  TSocketErrorEvent FOnError;
};

/// The resolver's text for a getaddrinfo code ("Name or service not known").
QNINET_API String resolver_error_text(int code);

/// "host:port", an IPv6 literal in brackets ("[::1]:123"): how a failure names its endpoint.
QNINET_API String EndpointText(const String& Host, Integer Port);
/// "ENDPOINT: TEXT", as every transfer's failure reads, whichever engine saw it.
QNINET_API String AtEndpoint(const String& Endpoint, const String& Text);

}  // namespace platform
}  // namespace qninet
