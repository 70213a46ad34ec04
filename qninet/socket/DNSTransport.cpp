// The resolver's transports: TCP with or without the length field, UDP with its checks and the
// TCP retry, TLS (RFC 7858) and HTTPS (RFC 8484).

#include <algorithm>
#include <chrono>
#include <random>

#include "qninet/core/TextEncoding.h"
#include "qninet/platform/ClientSocket.h"
#include "qninet/socket/Framing.h"
#include "qninet/socket/QNIDNS.h"
#include "qninet/sys/FailureText.h"
#include "qninet/sys/InetClient.h"
#include "qninet/sys/UdpSocket.h"

namespace qninet {

namespace {

// DNS Flag Day 2020: a payload that an answer carries without IP fragmentation.
constexpr std::uint16_t kUdpPayload = 1232;
constexpr std::size_t kMaxMessage = 65535;
constexpr int kFirstRetryMs = 1000;

std::uint16_t random_id() {
  // RFC 5452 section 4.3: an identifier an off-path forger cannot guess.
  static thread_local std::mt19937 engine{std::random_device{}()};
  return static_cast<std::uint16_t>(std::uniform_int_distribution<unsigned>(0, 0xFFFF)(engine));
}

// RFC 4648 section 5, without padding (RFC 8484 section 4.1).
std::string base64url(std::string_view bytes) {
  std::string text = base64_encode(bytes);
  while (!text.empty() && text.back() == '=') text.pop_back();
  std::replace(text.begin(), text.end(), '+', '-');
  std::replace(text.begin(), text.end(), '/', '_');
  return text;
}

}  // namespace

void TQNIDNSResolver::SetTransport(TQNIDNSTransport value) {
  RefuseWriteWhileRunning(*this);
  const bool was = FTransport == dtTLS, now = value == dtTLS;
  FTransport = value;
  // RFC 7858 section 3.1: port 853 unless the user chose another; a form being loaded keeps
  // the port it stored.
  if (ComponentState().Contains(csLoading)) return;
  if (!was && now && Port() == 53) SetPort(853);
  if (was && !now && Port() == 853) SetPort(53);
}

void TQNIDNSResolver::SetDoHURL(const String& value) {
  RefuseWriteWhileRunning(*this);
  if (value.empty()) {
    FDoHURL.clear();
    FDoHTarget.reset();
    return;
  }
  String why;
  auto url = Url::Parse(ToUtf8(value), &why);
  if (!url) throw EConvertError(Format(u"Invalid URL \"%s\": %s", value, why));
  if (url->Scheme() != "https")
    throw EConvertError(Format(u"Cannot use \"%s\": DNS over HTTPS needs an https URL", value));
  FDoHURL = value;
  FDoHTarget = std::move(url);
  // The server check and every failure then name the URL's server; a form being loaded keeps
  // the Host and Port it stored.
  if (!ComponentState().Contains(csLoading)) {
    SetHost(FromUtf8(FDoHTarget->Host()));
    SetPort(FDoHTarget->Port());
  }
}

void TQNIDNSResolver::Connect() {
  if (FTransport == dtUDP || FTransport == dtHTTPS) return;
  if (FTransport == dtTLS && Proxy()->UseProxy() && !Proxy()->Server().empty())
    throw Exception(u"TLS through a proxy is not supported.");
  const bool fresh = !Connected();
  TQNInetBase::Connect();
  // The name to verify may differ from the server's address (RFC 7858 section 4.2 / RFC 8310).
  if (FTransport == dtTLS && fresh && !TLSActive()) {
    try {
      ClientSocket()->StartTLS(!FTLSAuthName.empty() ? FTLSAuthName
                               : !Host().empty()     ? Host()
                                                     : Address(),
                               CAFile());
    } catch (...) {
      ConnectionNotMade();  // a server that fails verification was never reached
      throw;
    }
  }
}

String TQNIDNSResolver::InternalExecute() {
  if (FTransport == dtTCP && !FLengthPrefix) return TQNInetBase::InternalExecute();
  const auto types = asked();
  if (types.empty() || FDomain.empty() || CurrentStep >= static_cast<Integer>(types.size())) return String();
  const TQNIDNSRequests type{types[static_cast<std::size_t>(CurrentStep)]};
  if (FTransport == dtTCP) return exchange_framed(DNSBuildQuery(type, FDomain));
  if (FTransport == dtHTTPS) return exchange_https(DNSBuildQuery(type, FDomain, 0, kUdpPayload));
  const String query = DNSBuildQuery(type, FDomain, random_id(), kUdpPayload);
  return FTransport == dtUDP ? exchange_udp(query) : exchange_framed(query);
}

String TQNIDNSResolver::exchange_framed(const String& query) {
  if (query.empty()) return String();
  // RFC 1035 section 4.2.2: on TCP each message is preceded by its length, high byte first.
  String framed;
  framed += static_cast<char16_t>((query.size() >> 8) & 0xFF);
  framed += static_cast<char16_t>(query.size() & 0xFF);
  framed += query;
  // The server keeps the connection open for more queries: one frame is the whole answer. It
  // may still close an idle connection between two queries (RFC 7766 section 6.2.3, dnsmasq
  // does): a query that drew nothing on a used connection is asked again on a fresh one.
  for (bool fresh = CurrentStep == 0;; fresh = true) {
    if (SendToSocket(framed) <= 0) return u"No answer from server";
    TLengthPrefixedFrame reply;
    if (ReceiveFramed(reply) == reComplete) return reply.Message();
    if (fresh || reply.Received() > 0)
      throw ESocketError(
          AtSocketEndpoint(FromUtf8(sys::closed_early_text(reply.Received(), reply.Expected()))));
    Disconnect();
    Connect();
  }
}

String TQNIDNSResolver::exchange_udp(const String& query) {
  const String server = !Address().empty() ? Address() : Host();
  if (Port() < 1 || Port() > 65535) throw ESocketError(u"Invalid port " + IntToStr(Port()));
  // The whole exchange, retries included, within Timeout; MaxTime bounds it too.
  int limit = Timeout() > 0 ? Timeout() : 5000;
  if (MaxTime() > 0) limit = std::min<int>(limit, MaxTime() * 1000);
  sys::UdpAwait await;
  await.RetryMs = std::min(kFirstRetryMs, limit);
  await.Accept = [&query](std::string_view bytes) { return DNSReplyMatches(query, FromBytes(bytes)); };
  const auto reply =
      sys::udp_exchange(ToUtf8(server), static_cast<std::uint16_t>(Port()), ToBytes(query), limit, await);
  if (!reply) throw ESocketError(AtSocketEndpoint(String(reply.failure().Text)));
  String message = FromBytes(*reply);
  // RFC 7766 section 5 / RFC 1035 section 4.2.1: a truncated answer is asked again over TCP.
  if (message.size() > 2 && (message[2] & 0x02)) {
    TQNInetBase::Connect();
    message = exchange_framed(query);
  }
  return message;
}

String TQNIDNSResolver::exchange_https(const String& query) {
  if (!FDoHTarget) throw Exception(u"DoHURL is not defined.");
  sys::InetOptions options;
  options.Agent = "QNInet";
  if (Proxy()->UseProxy() && !Proxy()->Server().empty()) {
    options.ProxyHost = ToUtf8(Proxy()->Server());
    options.ProxyPort = static_cast<std::uint16_t>(Proxy()->Port());
  }
  options.TimeoutMs = static_cast<std::uint32_t>(std::max<Integer>(Timeout(), 0));
  if (MaxTime() > 0) options.Deadline = std::chrono::steady_clock::now() + std::chrono::seconds(MaxTime());
  options.CaFile = ToUtf8(CAFile());
  sys::HttpRequest request;
  request.Target = {FDoHTarget->Scheme(), FDoHTarget->Host(), FDoHTarget->Port(), FDoHTarget->Path(),
                    FDoHTarget->Query()};
  if (request.Target.Path.empty()) request.Target.Path.push_back('/');
  request.Http2 = true;
  request.Headers = "Accept: application/dns-message";
  const std::string bytes = ToBytes(query);
  if (FDoHMethod == dmGET) {
    // RFC 8484 section 4.1: the message in Base64url as the "dns" variable of the URI template.
    std::string& q = request.Target.Query;
    q += q.empty() ? "dns=" : "&dns=";
    q += base64url(bytes);
  } else {
    request.Method = "POST";
    request.Headers += "\r\nContent-Type: application/dns-message";
    request.Body = bytes;
  }
  sys::HttpTransfer transfer(options);
  if (auto sent = transfer.Send(request); !sent) throw ESocketError(String(sent.failure().Text));
  const String endpoint = FromUtf8(HostPort{FDoHTarget->Host(), FDoHTarget->Port()}.ToString());
  if (transfer.StatusCode() != 200)
    throw ESocketError(endpoint + u": the server answered HTTP status " + IntToStr(transfer.StatusCode()));
  std::string body;
  char buffer[16384];
  for (;;) {
    auto n = transfer.Read(buffer, sizeof buffer);
    if (!n) throw ESocketError(String(n.failure().Text));
    if (*n == 0) break;
    body.append(buffer, *n);
    if (body.size() > kMaxMessage)
      throw ESocketError(endpoint + u": " + FromUtf8(sys::too_large_text(kMaxMessage)));
  }
  return FromBytes(body);
}

}  // namespace qninet
