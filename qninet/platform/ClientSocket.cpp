#include "qninet/platform/ClientSocket.h"

#include "qninet/rtl/SysUtils.h"

#include "qninet/sys/FailureText.h"
#include "qninet/sys/TcpSocket.h"

namespace qninet {

namespace platform {

QNINET_CLASS_INFO(TClientSocket)

String resolver_error_text(int code) { return sys::resolver_error_text(code); }

String EndpointText(const String& Host, Integer Port) {
  const bool v6 = Host.find(u':') != String::npos && !Host.starts_with(u'[');
  return (v6 ? u"[" + Host + u"]" : Host) + u":" + IntToStr(Port);
}

String AtEndpoint(const String& Endpoint, const String& Text) {
  if (Endpoint.empty()) return Text;  // nothing to name: no server was set
  return FromUtf8(sys::at_endpoint(ToUtf8(Endpoint), ToUtf8(Text)));
}

String TClientSocket::endpoint() const {
  const String& node = FAddress.empty() ? FHost : FAddress;
  return node.empty() ? String() : EndpointText(node, FPort);
}

TClientSocket::TClientSocket(TComponent* AOwner)
    : TComponent(AOwner), FSocket(std::make_unique<sys::TcpSocket>()) {}

TClientSocket::~TClientSocket() = default;

bool TClientSocket::Active() const { return FSocket->IsOpen(); }

void TClientSocket::SetTimeout(Integer value) {
  FTimeout = value < 0 ? 0 : value;
  FSocket->SetTimeout(FTimeout);
}

void TClientSocket::notify(const TSocketNotifyEvent& event) {
  if (event) event(this, this);
}

Integer TClientSocket::fail(TErrorEvent event, Integer code) {
  FSocket->Close();
  if (FOnError) FOnError(this, this, event, code);
  return code;
}

void TClientSocket::raise_failure(TErrorEvent event, Integer code, const String& text) {
  fail(event, code);
  throw ESocketError(AtEndpoint(endpoint(), text));
}

void TClientSocket::Open() {
  if (Active()) return;
  const bool byName = FAddress.empty();
  const std::string node = ToUtf8(byName ? FHost : FAddress);
  if (byName && !node.empty()) notify(FOnLookup);
  auto addresses = sys::resolve_tcp(node, FPort, !byName);
  if (!addresses) raise_failure(eeLookup, addresses.failure().Code, addresses.failure().Text);
  notify(FOnConnecting);
  if (const sys::Status connected = FSocket->Connect(*addresses, FTimeout); !connected)
    raise_failure(eeConnect, connected.failure().Code, connected.failure().Text);
  notify(FOnConnect);
}

void TClientSocket::StartTLS(const String& HostName, const String& CAFile) {
  if (!Active()) throw ESocketError(sys::TcpSocket::NotConnected().Text);
  if (const sys::Status shaken = FSocket->StartTls(ToUtf8(HostName), ToUtf8(CAFile)); !shaken)
    raise_failure(eeConnect, shaken.failure().Code, shaken.failure().Text);
  notify(FOnTLSStart);
}

bool TClientSocket::TLSActive() const { return FSocket->IsTls(); }

TTLSDetails TClientSocket::TLSDetails() const {
  const sys::TlsSession* session = FSocket->Tls();
  if (!session) return {};
  const sys::TlsDetails d = session->Details();
  return {FromUtf8(d.Version), FromUtf8(d.Cipher), FromUtf8(d.Subject), FromUtf8(d.Issuer)};
}

void TClientSocket::Close() {
  if (!Active()) return;
  FSocket->Close();
  notify(FOnDisconnect);
}

Integer TClientSocket::SendBuf(const void* Buffer, Integer Count) {
  if (!Active()) throw ESocketError(sys::TcpSocket::NotConnected().Text);
  if (Count <= 0) return 0;
  notify(FOnWrite);
  const auto sent = FSocket->Send(Buffer, static_cast<std::size_t>(Count));
  if (sent) return static_cast<Integer>(*sent);
  if (fail(eeSend, sent.failure().Code) != 0) throw ESocketError(AtEndpoint(endpoint(), sent.failure().Text));
  return -1;
}

Integer TClientSocket::ReceiveBuf(void* Buffer, Integer Count) {
  if (!Active()) throw ESocketError(sys::TcpSocket::NotConnected().Text);
  if (Count <= 0) return 0;
  if (FOnRead) {
    // Only wait for readiness when someone listens: a plain read needs one system call.
    if (FSocket->WaitReadable()) notify(FOnRead);
    if (!Active()) return 0;  // the handler closed the socket
  }
  const auto got = FSocket->Receive(Buffer, static_cast<std::size_t>(Count));
  if (got) return static_cast<Integer>(*got);
  if (fail(eeReceive, got.failure().Code) != 0)
    throw ESocketError(AtEndpoint(endpoint(), got.failure().Text));
  return -1;
}

String TClientSocket::LocalHost() const { return FromUtf8(sys::local_host_name()); }

String TClientSocket::RemoteAddress() const { return FromUtf8(FSocket->PeerAddress()); }

}  // namespace platform
}  // namespace qninet
