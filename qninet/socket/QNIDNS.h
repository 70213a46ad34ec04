#pragma once
// The DNS resolver: builds one RFC 1035 query about one name, sends it over TCP and returns the
// server's reply; a decoder reads such a reply into records rendered as dig renders them.

#include <cstdint>
#include <functional>
#include <optional>
#include <vector>

#include "qninet/core/Url.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/socket/QNInBase.h"

namespace qninet {

/// What one question asks for; the ordinal order is the order of the questions in a query. The
/// types after `irMailB` came later and were appended so that stored sets keep their bits.
enum TQNIDNSRequest : std::uint8_t {
  irAll,
  irA,
  irNS,
  irName,
  irSOA,
  irMB,
  irMG,
  irMR,
  irRR,
  irWKS,
  irPTR,
  irHostInfo,
  irMailInfo,
  irMX,
  irText,
  irTransferRequest,
  irMailB,
  irAAAA,
  irSRV,
  irNAPTR,
  irDS,
  irRRSIG,
  irDNSKEY,
  irCAA
};
QNINET_DECLARE_ENUM_INFO(TQNIDNSRequest)
/// Bit n stands for the request of ordinal n.
using TQNIDNSRequests = TSet<TQNIDNSRequest>;

/// The record type code a request asks for (irAll 255, irA 1, ... irMailB 253, irAAAA 28 ...
/// irCAA 257).
QNINET_API std::uint16_t DNSRequestTypeCode(TQNIDNSRequest Request);
/// The request for a record type's name as dig writes it ("A", "MX", "CNAME", "ANY", "*",
/// "NULL", "AXFR"...), any case; false for a name no request asks for.
QNINET_API bool DNSRequestFromName(const String& Name, TQNIDNSRequest& Request);
/// The query message, one character per byte: the header (identifier 0x125E, recursion desired,
/// one question per request) and the questions in request order, the PTR question about the
/// reversed name under in-addr.arpa (an IPv6 address: its nibbles reversed under ip6.arpa). Empty when
/// `Requests` or `Domain` is empty. Labels are written as given: nothing is checked or escaped.
QNINET_API String DNSBuildQuery(TQNIDNSRequests Requests, const String& Domain);
/// The same query with message identifier `ID` and, when `UDPPayload` is not 0, an EDNS(0) OPT
/// record offering that UDP payload size (RFC 6891 section 6.1): how the UDP, TLS and HTTPS
/// transports ask.
QNINET_API String DNSBuildQuery(TQNIDNSRequests Requests, const String& Domain, std::uint16_t ID,
                                std::uint16_t UDPPayload);
/// Whether `Reply` answers `Query` (RFC 5452 section 9.1): the same identifier, the response
/// bit set, and the query's questions echoed in order (the first ones at least), names compared
/// without regard to ASCII case; a reply with an error code may echo none. False for anything that is no DNS
/// message.
QNINET_API bool DNSReplyMatches(const String& Query, const String& Reply);
/// The 16 bytes of an IPv6 address in its text forms (RFC 4291 section 2.2: "::", a dotted
/// IPv4 tail); false for anything else.
QNINET_API bool DNSParseIPv6(StringView Text, std::uint8_t (&Bytes)[16]);

/// One question of a reply.
struct TQNIDNSQuestion {
  String Name;  ///< absolute, with the final dot
  /// The record type asked for (1 A, 28 AAAA...).
  std::uint16_t Type = 0;
  /// The class (1 IN).
  std::uint16_t Class = 0;
};

/// One resource record of a reply.
struct TQNIDNSRecord {
  String Name;  ///< absolute, with the final dot
  /// The record's type (1 A, 28 AAAA...).
  std::uint16_t Type = 0;
  /// The record's class (1 IN).
  std::uint16_t Class = 0;
  /// Seconds the record may be cached.
  std::uint32_t TTL = 0;
  String RawData;  ///< the record data's bytes, one character each
  String Data;     ///< the data as dig renders it (RFC 3597 generic form for other types)
};

/// A decoded reply.
struct TQNIDNSReply {
  /// The message identifier.
  std::uint16_t ID = 0;
  /// The header's flags and codes (RFC 1035 section 4.1.1).
  std::uint16_t Flags = 0;
  /// The questions echoed.
  std::vector<TQNIDNSQuestion> Questions;
  /// The answer section.
  std::vector<TQNIDNSRecord> Answers;
  /// The authority section.
  std::vector<TQNIDNSRecord> Authority;
  /// The additional section.
  std::vector<TQNIDNSRecord> Additional;
  /// The response code (RFC 1035 section 4.1.1): 0 no error, 3 name error...
  unsigned RCode() const { return Flags & 0x0Fu; }
  /// Whether the server cut the reply short (TC): ask again over TCP.
  bool Truncated() const { return (Flags & 0x0200u) != 0; }
};

/// Decodes a reply message (without the TCP length field), following name compression.
/// Returns false with `Error` set for a message that is cut short or malformed (a pointer loop,
/// a name over 255 bytes, a record running past the end); never reads outside `Bytes`.
QNINET_API bool DNSDecodeReply(const String& Bytes, TQNIDNSReply& Reply, String& Error);
/// Takes each record as it is read, with its section: 0 the answers, 1 authority, 2 additional.
using TQNIDNSRecordSink = std::function<void(int Section, TQNIDNSRecord& Record)>;
/// The same, handing each record to `OnRecord` as it is read instead of keeping it (`Reply` gets
/// the header and the questions), so a reply of any size is rendered in the memory of one
/// record. A reply found malformed past some records returns false after handing those out.
QNINET_API bool DNSDecodeReply(const String& Bytes, TQNIDNSReply& Reply, String& Error,
                               const TQNIDNSRecordSink& OnRecord);
/// "A", "MX", "AAAA"... or "TYPEn" (RFC 3597).
QNINET_API String DNSTypeName(std::uint16_t Type);
/// "IN", "CH", "HS", or "CLASSn".
QNINET_API String DNSClassName(std::uint16_t Class);
/// "NOERROR", "FORMERR", "SERVFAIL", "NXDOMAIN", "NOTIMP", "REFUSED"... or the number.
QNINET_API String DNSRCodeName(unsigned RCode);
/// "name TTL CLASS TYPE data", one record as one line.
QNINET_API String DNSRecordLine(const TQNIDNSRecord& Record);

/// How the resolver reaches its server: DNS over TCP (RFC 7766), over UDP (RFC 1035 section
/// 4.2.1), over TLS (RFC 7858) or over HTTPS (RFC 8484).
enum TQNIDNSTransport : std::uint8_t { dtTCP, dtUDP, dtTLS, dtHTTPS };
QNINET_DECLARE_ENUM_INFO(TQNIDNSTransport)
/// How a DNS-over-HTTPS query travels: in a POST body, or Base64url in a GET's `dns` parameter.
enum TQNIDoHMethod : std::uint8_t { dmPOST, dmGET };
QNINET_DECLARE_ENUM_INFO(TQNIDoHMethod)

/// A DNS client. `Transport` `dtTCP` (the default, port 53): with `LengthPrefix` (the default)
/// the query carries the two-byte length field that DNS over TCP expects and no header block,
/// and `Execute` returns the reply without its length field; without it the query goes out as
/// the engine sends every query, followed by the engine's header block, and the answer is
/// everything the server sends until it closes.
/// The other transports ask with a random identifier (0 over HTTPS) and an EDNS(0) record
/// offering 1232 bytes, and return the reply message:
/// - `dtUDP`: a datagram to `Host`:`Port`, sent again after 1, 2, 4... seconds of silence within
///   `Timeout` (and `MaxTime`); datagrams from another address or port, with another identifier
///   or about another question are dropped and the wait goes on; a truncated reply (TC) is
///   asked again over TCP. The proxy is not used.
/// - `dtTLS`: TCP (port 853 when the port was 53) under TLS, the certificate valid for
///   `TLSAuthName` (`Host`, else `Address`, when empty) under the system's store, `CAFile` and
///   the file QNINET_CA_FILE names; then one length-prefixed exchange.
/// - `dtHTTPS`: the message POSTed as application/dns-message to `DoHURL` (or, with `DoHMethod`
///   `dmGET`, sent in its `dns` parameter), HTTP/2 when libcurl offers it, the certificate checked
///   as for TLS against the URL's host; a status other than 200 fails.
class QNINET_API TQNIDNSResolver : public TQNInetBase {
  QNINET_OBJECT(TQNIDNSResolver, TQNInetBase)
public:
  /// Port 53, no host.
  explicit TQNIDNSResolver(TComponent* AOwner);
  ~TQNIDNSResolver() override;
  /// The query message for `Requests` and `Domain`; empty when either is empty or when neither
  /// `Host` nor `Address` is set.
  String GetQuery() override;

  /// The record types to ask for, one question each.
  TQNIDNSRequests Requests() const { return FRequests; }
  /// Sets `Requests`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetRequests(TQNIDNSRequests value) {
    RefuseWriteWhileRunning(*this);
    FRequests = value;
  }
  /// The name to ask about; for PTR, an IPv4 or IPv6 address.
  const String& Domain() const { return FDomain; }
  /// Sets `Domain`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetDomain(const String& value) {
    RefuseWriteWhileRunning(*this);
    FDomain = value;
  }
  /// TCP only: whether the query goes with its two-byte length field (true by default).
  bool LengthPrefix() const { return FLengthPrefix; }
  /// Sets `LengthPrefix`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetLengthPrefix(bool value) {
    RefuseWriteWhileRunning(*this);
    FLengthPrefix = value;
  }
  /// How the query travels: UDP, TCP, TLS (DNS over TLS) or HTTPS (DNS over HTTPS).
  TQNIDNSTransport Transport() const { return FTransport; }
  /// Switching to or from `dtTLS` moves the port between 53 and 853 when it holds the other's.
  void SetTransport(TQNIDNSTransport value);
  /// The DNS-over-HTTPS address ("https://dns.example/dns-query"). Writing it points `Host` and
  /// `Port` at its server; raises `EConvertError` for a text that is no https URL. Empty clears.
  const String& DoHURL() const { return FDoHURL; }
  /// Sets `DoHURL`.
  void SetDoHURL(const String& value);
  /// DNS over HTTPS: POST the query, or GET it as the "dns" parameter.
  TQNIDoHMethod DoHMethod() const { return FDoHMethod; }
  /// Sets `DoHMethod`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetDoHMethod(TQNIDoHMethod value) {
    RefuseWriteWhileRunning(*this);
    FDoHMethod = value;
  }
  /// The name the TLS server's certificate must carry; empty: `Host`, else `Address`.
  const String& TLSAuthName() const { return FTLSAuthName; }
  /// Sets `TLSAuthName`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetTLSAuthName(const String& value) {
    RefuseWriteWhileRunning(*this);
    FTLSAuthName = value;
  }

protected:
  /// Connects for TCP and TLS only (with TLS, shakes hands against `TLSAuthName`).
  void Connect() override;
  /// With `LengthPrefix`: sends the framed query and reads exactly one framed reply (the
  /// server keeps the connection open for more, so reading until it closes would wait for its
  /// idle time-out). Raises `ESocketError` when the reply is cut short. An empty query sends
  /// and reads nothing. Over UDP, TLS and HTTPS, the exchange of that transport; its failures
  /// raise `ESocketError` after the endpoint ("127.0.0.1:53: Connection timed out").
  String InternalExecute() override;

private:
  String exchange_framed(const String& query);
  String exchange_udp(const String& query);
  String exchange_https(const String& query);

  TQNIDNSRequests FRequests;
  String FDomain;
  bool FLengthPrefix = true;
  TQNIDNSTransport FTransport = dtTCP;
  String FDoHURL;
  std::optional<Url> FDoHTarget;  ///< FDoHURL parsed
  TQNIDoHMethod FDoHMethod = dmPOST;
  String FTLSAuthName;
};

}  // namespace qninet
