#pragma once
// The WHOIS client (TCP port 43, RFC 3912): asks the registry's server for the record of a
// domain name or an IPv4 address and returns the answer unchanged.

#include <atomic>
#include <memory>
#include <vector>

#include "qninet/rtl/Strings.h"
#include "qninet/socket/QNInBase.h"

namespace qninet {

/// The server used when the list yields none: the general registry's (the built-in "*").
QNINET_API extern const String QNWhoIsFallbackServer;
/// The server for IPv4 addresses: RIPE's.
QNINET_API extern const String QNWhoIsRIPEServer;
/// The most referrals one `Execute` follows.
inline constexpr int QNWhoIsMaxReferrals = 3;

/// Asks a WHOIS server for a domain or an IPv4 address.
///
/// Writing `Domain` chooses `Host` from `ServerList` by the domain's last label (RIPE's server
/// for a dotted address; the "*" entry, then the built-in fallback, when the label has no
/// entry), unless `AutoSelectServer` is false or the domain is empty or unchanged. A list
/// value of dotted-address form lands in `Address`, as the engine's doors sort it. `Execute` sends the
/// domain, CRLF and the engine's header block, and returns the server's whole answer.
///
/// With `FollowReferrals` an IPv4 address goes to the regional registry its /8 is delegated to,
/// and `Execute` follows the referral an answer names (see `WhoIsReferralOf`) up to
/// `QNWhoIsMaxReferrals` times, asking the same query each time; it stops at a server already
/// asked, and returns the last answer. `ReferralChain` lists the servers asked, "host:port" each.
/// Referrals are not followed through a proxy (the proxy would only be asked again).
class QNINET_API TQNWhoIs : public TQNInetBase {
  QNINET_OBJECT(TQNWhoIs, TQNInetBase)
public:
  /// The engine's construction, then Port 43, AutoSelectServer true and the 69-entry list.
  explicit TQNWhoIs(TComponent* AOwner);
  ~TQNWhoIs() override;

  /// `Domain` followed by CRLF; empty for an empty `Domain` (then nothing is sent and the
  /// engine only reads).
  String GetQuery() override;

  /// Whether the server is chosen from the domain's last label.
  bool AutoSelectServer() const { return FAutoSelectServer; }
  /// Sets `AutoSelectServer`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetAutoSelectServer(bool value) {
    RefuseWriteWhileRunning(*this);
    FAutoSelectServer = value;
  }
  /// The domain name or IPv4 address to look up.
  const String& Domain() const { return FDomain; }
  /// Stores the domain and, when it changed, chooses the server (see the class comment).
  void SetDomain(const String& Value);
  /// "key=server" lines; the key is a top-level domain or "*". The component's own list, made
  /// from the default table on first ask (safe from several threads at once); until then the
  /// server is chosen from the one table all components share.
  TStrings* ServerList() const;
  /// Copies the given lines into the component's own list.
  void SetServerList(const TStrings* value);
  /// Whether referrals in the answers are followed to the last server.
  bool FollowReferrals() const { return FFollowReferrals; }
  /// Chooses the server again when `Domain` is an address (RIPE's or its registry's).
  void SetFollowReferrals(bool value);
  /// The servers the last `Execute` asked, in order, when following referrals; else empty.
  TStrings* ReferralChain() const { return FReferralChain.get(); }

protected:
  /// Refuses, before connecting, a `Domain` holding CR or LF: it would add a query line.
  void BeforeExecute() override;
  /// The engine's step, then the referrals when `FollowReferrals` is set.
  String InternalExecute() override;

private:
  void choose_server();
  String server_of(const String& Key) const;
  bool list_edited() const;

  String FDomain;
  mutable std::atomic<TStringList*> FServerList{nullptr};  // owned; none while the default serves
  bool FAutoSelectServer = true;
  bool FFollowReferrals = false;
  std::unique_ptr<TStringList> FReferralChain;
};

/// The 69 "key=server" lines that a new `TQNWhoIs` starts with, in their order.
QNINET_API const std::vector<String>& WhoIsDefaultServers();
/// Whether `S` is exactly four dot-separated numbers from 0 to 255 (stricter than
/// `TQNInetBase::AddrIsIP`: no fifth part of any kind).
QNINET_API bool IsWhoIsAddress(const String& S);
/// The key that chooses the server: the text after the last "." (all of `S` without a dot,
/// empty when `S` ends with a dot).
QNINET_API String WhoIsKeyOf(const String& S);
/// The server of the entry named `Key` (case ignored) in `List`, or empty.
QNINET_API String WhoIsServerOf(const TStrings& List, const String& Key);
/// The WHOIS server of the regional registry that IANA delegated the /8 of the strict IPv4
/// address `Address` to (ARIN, RIPE, APNIC, LACNIC or AFRINIC); IANA's own server for the
/// blocks no registry holds (private, loopback, multicast, reserved) and for a non-address.
QNINET_API String WhoIsRegistryOf(const String& Address);

/// A server that a WHOIS answer refers to.
struct TQNWhoIsReferral {
  String Host;  ///< a host name or an address (IPv6 without brackets)
  /// The server's port.
  Integer Port = 43;
};
/// The first referral in `Answer`: a line "refer:" or "whois:" (IANA), "Registrar WHOIS
/// Server:" (thin registries) or "ReferralServer: whois://" (ARIN), keys in any case, the value
/// a host with an optional ":port". A value that is not a plain host name or address (other
/// characters, over 253 characters, another URL scheme) or whose port is neither 43 nor from
/// 1024 to 65535 is skipped, so an answer cannot send the client to a mail or web port or put
/// a line break into the next connection.
QNINET_API bool WhoIsReferralOf(const String& Answer, TQNWhoIsReferral& Referral);

}  // namespace qninet
