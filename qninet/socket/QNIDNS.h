#pragma once
// The DNS resolver: builds one RFC 1035 query about one name, sends it over TCP and returns the
// server's reply; a decoder reads such a reply into records rendered as dig renders them.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
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

/// The bytes of one decoded message, shared by the questions and records read from it, so that
/// each of them stays valid on its own (a record copied out of its reply keeps the bytes alive).
class QNINET_API TQNIDNSMessage {
public:
  TQNIDNSMessage() = default;
  explicit TQNIDNSMessage(std::string Bytes);            ///< takes the bytes over, shared by every copy
  TQNIDNSMessage(const TQNIDNSMessage& other) noexcept;  ///< shares the bytes (no copy)
  /// Takes the share of `other`, which is left empty.
  TQNIDNSMessage(TQNIDNSMessage&& other) noexcept : FShared(other.FShared) { other.FShared = nullptr; }
  TQNIDNSMessage& operator=(TQNIDNSMessage other) noexcept {  ///< shares `other`'s bytes, lets go of its own
    std::swap(FShared, other.FShared);
    return *this;
  }
  ~TQNIDNSMessage();
  /// The message's bytes; empty for a default-made one.
  std::string_view Bytes() const;

private:
  struct Shared;
  Shared* FShared = nullptr;  // one pointer, not a shared_ptr's two: a record stays small
};

/// One question of a reply.
class QNINET_API TQNIDNSQuestion {
public:
  std::uint16_t Type = 0;   ///< the record type asked for (1 A, 28 AAAA...)
  std::uint16_t Class = 0;  ///< the class (1 IN)
  /// Absolute, with the final dot, labels escaped as dig writes them.
  String Name() const;

private:
  friend struct TQNIDNSReplyReader;
  std::uint32_t FNameAt = 0;
  TQNIDNSMessage FMessage;
};

/// An A or AAAA record's address.
struct TQNIDNSAddress {
  bool IPv6 = false;                     ///< AAAA (16 bytes); otherwise A (4 bytes)
  std::array<std::uint8_t, 16> Bytes{};  ///< network order; an IPv4 address in the first four
  String Text;                           ///< "10.1.2.3", "fd00::5" (RFC 5952), as dig writes it
};
/// An MX record's data.
struct TQNIDNSMX {
  std::uint16_t Preference = 0;  ///< lower is tried first
  String Exchange;               ///< absolute, with the final dot
};
/// An SRV record's data (RFC 2782).
struct TQNIDNSSRV {
  std::uint16_t Priority = 0;  ///< lower is tried first
  std::uint16_t Weight = 0;    ///< the share among targets of one priority
  std::uint16_t Port = 0;      ///< the service's port on `Target`
  String Target;               ///< absolute, with the final dot; "." when the service is not offered
};
/// An SOA record's data (RFC 1035 section 3.3.13); the times in seconds.
struct TQNIDNSSOA {
  String MName;               ///< the primary name server
  String RName;               ///< the mailbox of the zone's administrator, as a name
  std::uint32_t Serial = 0;   ///< the zone's version
  std::uint32_t Refresh = 0;  ///< between a secondary's checks for a new serial
  std::uint32_t Retry = 0;    ///< before a failed check is tried again
  std::uint32_t Expire = 0;   ///< how long a secondary serves the zone without reaching the primary
  std::uint32_t Minimum = 0;  ///< how long a negative answer may be cached (RFC 2308)
};

/// One resource record of a reply. It keeps only where its name and data lie in the shared
/// message: the name and the data are read and rendered when asked, so a reply kept whole costs
/// a few bytes per record whatever its data renders to. The typed readers give the data of the
/// common types; each is empty for a record of another type or data that does not have its
/// type's form (which `Data` then writes in the generic form).
class QNINET_API TQNIDNSRecord {
public:
  std::uint16_t Type = 0;  ///< the record's type (1 A, 28 AAAA...)
  /// The record's class (1 IN).
  std::uint16_t Class = 0;
  /// Seconds the record may be cached.
  std::uint32_t TTL = 0;
  /// Absolute, with the final dot, labels escaped as dig writes them.
  String Name() const;
  /// The record data's bytes, one character each.
  String RawData() const;
  /// The data as dig renders it (RFC 3597 generic form for other types and malformed data).
  String Data() const;
  /// A (4 bytes) and AAAA (16 bytes).
  std::optional<TQNIDNSAddress> Address() const;
  std::optional<TQNIDNSMX> MX() const;    ///< MX: the preference and the exchange
  std::optional<TQNIDNSSRV> SRV() const;  ///< SRV: priority, weight, port and target
  /// TXT (and SPF): the character-strings in order, each one character per byte, unescaped
  /// (`Utf8Decode` for UTF-8 text).
  std::optional<std::vector<String>> TXT() const;
  std::optional<TQNIDNSSOA> SOA() const;  ///< SOA: the zone's primary, mailbox, serial and times

private:
  friend struct TQNIDNSReplyReader;
  std::uint32_t FNameAt = 0;
  std::uint32_t FDataAt = 0;
  std::uint16_t FDataLength = 0;
  TQNIDNSMessage FMessage;
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

/// Decodes a reply message (without the TCP length field), following name compression. The
/// reply keeps one copy of the message, a byte per byte, that its questions and records refer
/// into. Returns false with `Error` set for a message that is cut short or malformed (a pointer
/// loop, a name over 255 bytes, a record running past the end); never reads outside `Bytes`.
/// Bytes after the message (a second message, say) are not read.
QNINET_API bool DNSDecodeReply(const String& Bytes, TQNIDNSReply& Reply, String& Error);
/// Takes each record as it is read, with its section: 0 the answers, 1 authority, 2 additional.
using TQNIDNSRecordSink = std::function<void(int Section, TQNIDNSRecord& Record)>;
/// The same, handing each record to `OnRecord` as it is read instead of keeping it (`Reply` gets
/// the header and the questions), so a reply of any size is rendered in the memory of one
/// record besides the message's copy. A reply found malformed past some records returns false after handing
/// those out.
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

/// What the server answered to one request type of a run.
struct TQNIDNSResult {
  TQNIDNSRequest Request = irA;  ///< the type asked for
  TQNIDNSReply Reply;            ///< decoded; as far as it read when `Error` is set
  String Error;                  ///< why the reply could not be decoded; empty when it could
  unsigned RCode() const { return Reply.RCode(); }  ///< the reply's response code (`DNSRCodeName`)
};

/// How the resolver reaches its server: DNS over TCP (RFC 7766), over UDP (RFC 1035 section
/// 4.2.1), over TLS (RFC 7858) or over HTTPS (RFC 8484).
enum TQNIDNSTransport : std::uint8_t { dtTCP, dtUDP, dtTLS, dtHTTPS };
QNINET_DECLARE_ENUM_INFO(TQNIDNSTransport)
/// How a DNS-over-HTTPS query travels: in a POST body, or Base64url in a GET's `dns` parameter.
enum TQNIDoHMethod : std::uint8_t { dmPOST, dmGET };
QNINET_DECLARE_ENUM_INFO(TQNIDoHMethod)

/// A DNS client. Several `Requests` are asked one message per type, in the order of the
/// enumeration, over one connection where the transport has one (servers answer only the first
/// question of a message): `Results` then holds each type's decoded reply and reply code,
/// `AnswerText` the answers of all as dig prints them, and `Execute` returns the reply
/// messages one after the other. `Transport` `dtTCP` (the default, port 53): with `LengthPrefix` (the
/// default) the query carries the two-byte length field that DNS over TCP expects and no header block, and
/// `Execute` returns the reply without its length field; without it the query goes out as the engine sends
/// every query, followed by the engine's header block, and the answer is everything the server sends until it
/// closes (that one message asks every type, as `GetQuery` builds it, and `Results` holds its reply under the
/// first type). The other transports ask with a random identifier (0 over HTTPS) and an EDNS(0) record
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
  /// The query message for `Requests` and `Domain`, one question per type (what goes out
  /// without `LengthPrefix`); empty when either is empty or when neither `Host` nor `Address`
  /// is set.
  String GetQuery() override;
  /// The replies of the last run, one per type asked, in the order asked; cleared when a run
  /// starts. A run that failed midway keeps the replies that came before the failure.
  const std::vector<TQNIDNSResult>& Results() const { return FResults; }
  /// The answer records of every result, in the order of `Results`.
  std::vector<TQNIDNSRecord> Answers() const;
  /// The answer records as dig prints them: one "name TTL CLASS TYPE data" line each, ended by
  /// a line feed.
  String AnswerText() const;

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
  /// Sets the steps of the run (one per type asked), clears `Results`, then `OnBeforeExecute`.
  void BeforeExecute() override;
  /// `OnAfterExecute`, then decodes the step's reply (as the handler left it) into `Results`.
  void AfterExecute(String& Text) override;
  /// Connects for TCP and TLS only (with TLS, shakes hands against `TLSAuthName`).
  void Connect() override;
  /// With `LengthPrefix`: sends the framed query and reads exactly one framed reply (the
  /// server keeps the connection open for more, so reading until it closes would wait for its
  /// idle time-out). Raises `ESocketError` when the reply is cut short. An empty query sends
  /// and reads nothing. Each step asks about the step's type. Over UDP, TLS and HTTPS, the exchange of that
  /// transport; its failures raise `ESocketError` after the endpoint ("127.0.0.1:53: Connection timed out").
  String InternalExecute() override;

private:
  String exchange_framed(const String& query);
  String exchange_udp(const String& query);
  String exchange_https(const String& query);
  /// The types asked, in order: one per step.
  std::vector<TQNIDNSRequest> asked() const;

  TQNIDNSRequests FRequests;
  String FDomain;
  bool FLengthPrefix = true;
  TQNIDNSTransport FTransport = dtTCP;
  String FDoHURL;
  std::optional<Url> FDoHTarget;  ///< FDoHURL parsed
  TQNIDoHMethod FDoHMethod = dmPOST;
  String FTLSAuthName;
  std::vector<TQNIDNSResult> FResults;
};

}  // namespace qninet
