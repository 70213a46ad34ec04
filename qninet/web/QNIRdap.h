#pragma once
// The RDAP client: asks a registry's RDAP service (JSON over HTTPS, RFC 9082/9083) about a
// domain, an address block, an AS number, an entity or a name server, the service found through
// IANA's bootstrap registries (RFC 9224), and copies the answer into typed results.

#include <memory>
#include <string_view>

#include "qninet/rtl/Collections.h"
#include "qninet/rtl/Strings.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

/// What `Query` names; `rqAuto` tells it from its form.
enum TQNRdapQueryKind : std::uint8_t { rqAuto, rqDomain, rqIP, rqAutnum, rqEntity, rqNameserver };
QNINET_DECLARE_ENUM_INFO(TQNRdapQueryKind)

/// IANA's bootstrap registries; `dns.json`, `ipv4.json`, `ipv6.json` and `asn.json` lie below.
inline constexpr const char16_t* kQNRdapBootstrapURL = u"https://data.iana.org/rdap/";
/// The most redirects one request follows (RFC 7480 5.2 leaves the bound to the client).
inline constexpr long kQNRdapMaxRedirects = 5;

/// One event of an object: "registration", "expiration", "last changed"... and its date as the
/// answer gives it (RFC 3339).
class QNINET_API TQNRdapEvent : public TCollectionItem {
  QNINET_OBJECT(TQNRdapEvent, TCollectionItem)
public:
  /// Creates an event, added to `Collection` when one is given.
  explicit TQNRdapEvent(TCollection* Collection = nullptr) : TCollectionItem(Collection) {}
  void Assign(const TPersistent* Source) override;
  /// What happened: "registration", "expiration", "last changed"...
  const String& Action() const { return FAction; }
  /// Sets `Action`.
  void SetAction(const String& value) { FAction = value; }
  /// When, as the answer gives it (RFC 3339).
  const String& Date() const { return FDate; }
  /// Sets `Date`.
  void SetDate(const String& value) { FDate = value; }
  /// Who did it, when the answer says.
  const String& Actor() const { return FActor; }
  /// Sets `Actor`.
  void SetActor(const String& value) { FActor = value; }

private:
  String FAction, FDate, FActor;
};

/// One entity (registrant, registrar, abuse contact...), with what its jCard says. An entity
/// nested in another follows it, with `Depth` one more; an entity asked for is itself the first.
class QNINET_API TQNRdapEntity : public TCollectionItem {
  QNINET_OBJECT(TQNRdapEntity, TCollectionItem)
public:
  /// Creates an entity, added to `Collection` when one is given.
  explicit TQNRdapEntity(TCollection* Collection = nullptr);
  ~TQNRdapEntity() override;
  void Assign(const TPersistent* Source) override;
  /// Whether `Roles` holds `Role` (ASCII case ignored).
  bool HasRole(const String& Role) const;

  /// The entity's handle in the registry.
  const String& Handle() const { return FHandle; }
  /// Sets `Handle`.
  void SetHandle(const String& value) { FHandle = value; }
  /// The entity's roles ("registrar", "registrant", "abuse"...), owned.
  TStrings* Roles() const { return FRoles.get(); }
  /// The vCard's fn, org, first email and tel, and its adr as one line (its non-empty parts
  /// joined by ", ", or its label).
  const String& FullName() const { return FFullName; }
  /// Sets `FullName`.
  void SetFullName(const String& value) { FFullName = value; }
  /// The organisation of the entity's contact card.
  const String& Organization() const { return FOrganization; }
  /// Sets `Organization`.
  void SetOrganization(const String& value) { FOrganization = value; }
  /// The e-mail address of the entity's contact card.
  const String& Email() const { return FEmail; }
  /// Sets `Email`.
  void SetEmail(const String& value) { FEmail = value; }
  /// The telephone number of the entity's contact card.
  const String& Telephone() const { return FTelephone; }
  /// Sets `Telephone`.
  void SetTelephone(const String& value) { FTelephone = value; }
  /// The postal address of the entity's contact card, its parts joined.
  const String& Address() const { return FAddress; }
  /// Sets `Address`.
  void SetAddress(const String& value) { FAddress = value; }
  /// 0 for an entity of the object itself, 1 for one inside it, and so on.
  Integer Depth() const { return FDepth; }
  /// Sets `Depth`.
  void SetDepth(Integer value) { FDepth = value; }

private:
  String FHandle, FFullName, FOrganization, FEmail, FTelephone, FAddress;
  std::unique_ptr<TStringList> FRoles;
  Integer FDepth = 0;
};

/// One link: its relation, target and media type.
class QNINET_API TQNRdapLink : public TCollectionItem {
  QNINET_OBJECT(TQNRdapLink, TCollectionItem)
public:
  /// Creates a link, added to `Collection` when one is given.
  explicit TQNRdapLink(TCollection* Collection = nullptr) : TCollectionItem(Collection) {}
  void Assign(const TPersistent* Source) override;
  /// The link's relation ("self", "related"...).
  const String& Rel() const { return FRel; }
  /// Sets `Rel`.
  void SetRel(const String& value) { FRel = value; }
  /// The URL the link points to.
  const String& Href() const { return FHref; }
  /// Sets `Href`.
  void SetHref(const String& value) { FHref = value; }
  /// The media type of the target, when given.
  const String& Type() const { return FType; }
  /// Sets `Type`.
  void SetType(const String& value) { FType = value; }

private:
  String FRel, FHref, FType;
};

/// One notice (or remark) of the service: its title and its description lines joined by CR LF.
class QNINET_API TQNRdapNotice : public TCollectionItem {
  QNINET_OBJECT(TQNRdapNotice, TCollectionItem)
public:
  /// Creates a notice, added to `Collection` when one is given.
  explicit TQNRdapNotice(TCollection* Collection = nullptr) : TCollectionItem(Collection) {}
  void Assign(const TPersistent* Source) override;
  /// The notice's title.
  const String& Title() const { return FTitle; }
  /// Sets `Title`.
  void SetTitle(const String& value) { FTitle = value; }
  /// The notice's text, its lines joined.
  const String& Description() const { return FDescription; }
  /// Sets `Description`.
  void SetDescription(const String& value) { FDescription = value; }

private:
  String FTitle, FDescription;
};

/// Asks RDAP about `Query`. `Execute` finds the service (`BaseURL`, else the bootstrap registry
/// of the query's kind below `BootstrapURL`, cached in the user's cache folder until the expiry
/// its answer gave, 24 hours when none), sends one GET with `Accept: application/rdap+json`
/// (redirects followed, at most 5) and fills the results; with `FollowRelated` the registrar's
/// service named by a "related" link is asked once more and its entities follow the registry's.
/// Every run starts from empty results. `Status` ends `isNotFound` for a 404 or a query no
/// registry serves ("no RDAP service for ..."), `isFailed` for any other failure (a 429 with its
/// Retry-After, an error answer with its title and description, an answer that is no RDAP JSON),
/// the reason in `LastErrorText`; `RequestURL` says what was asked last.
class QNINET_API TQNRdapClient : public TQNCustomWebComponent {
  QNINET_OBJECT(TQNRdapClient, TQNCustomWebComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TQNRdapClient(TComponent* AOwner);
  ~TQNRdapClient() override;

  /// A domain (Unicode names go out as A-labels), an IPv4/IPv6 address or prefix, an AS number
  /// ("AS15169" or "15169"), an entity handle or a name server.
  const String& Query() const { return FQuery; }
  /// Sets `Query`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetQuery(const String& value) {
    RefuseWriteWhileRunning(*this);
    FQuery = value;
  }
  /// What `Query` names: a domain, an IP network, an AS number, an entity, a name server, or `rqAuto` to tell
  /// from its form.
  TQNRdapQueryKind QueryKind() const { return FQueryKind; }
  /// Sets `QueryKind`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetQueryKind(TQNRdapQueryKind value) {
    RefuseWriteWhileRunning(*this);
    FQueryKind = value;
  }
  /// The service to ask ("https://rdap.example/"), skipping the bootstrap; empty: bootstrap.
  const String& BaseURL() const { return FBaseURL; }
  /// Sets `BaseURL`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetBaseURL(const String& value) {
    RefuseWriteWhileRunning(*this);
    FBaseURL = value;
  }
  /// Where the bootstrap registries lie (the folder, ending in "/").
  const String& BootstrapURL() const { return FBootstrapURL; }
  /// Sets `BootstrapURL`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetBootstrapURL(const String& value) {
    RefuseWriteWhileRunning(*this);
    FBootstrapURL = value;
  }
  /// Ask the registrar's service too (a thin registry's "related" link), once.
  bool FollowRelated() const { return FFollowRelated; }
  /// Sets `FollowRelated`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetFollowRelated(bool value) {
    RefuseWriteWhileRunning(*this);
    FFollowRelated = value;
  }

  /// The URL asked last (the registrar's after a followed link), empty before a request.
  const String& RequestURL() const { return FRequestURL; }
  /// `rqAuto` resolved: the kind the last run asked for.
  TQNRdapQueryKind AskedKind() const { return FAskedKind; }
  /// The object's handle in the registry.
  const String& Handle() const { return FHandle; }
  /// A domain's or name server's name in LDH form (A-labels).
  const String& LdhName() const { return FLdhName; }
  /// The same name in Unicode, when the answer gives one.
  const String& UnicodeName() const { return FUnicodeName; }
  /// A network's or an AS number's name.
  const String& NetworkName() const { return FNetworkName; }
  /// The object's status values ("active", "client transfer prohibited"...): RDAP's "status".
  TStrings* RdapStatus() const { return FRdapStatus.get(); }
  /// The object's events, owned.
  TCollectionOf<TQNRdapEvent>* Events() const { return FEvents.get(); }
  /// The entities the answer names (registrar, registrant, contacts), owned.
  TCollectionOf<TQNRdapEntity>* Entities() const { return FEntities.get(); }
  /// The name servers' LDH names.
  TStrings* Nameservers() const { return FNameservers.get(); }
  /// Whether the domain's delegation is signed with DNSSEC.
  bool DelegationSigned() const { return FDelegationSigned; }
  /// The object's links, owned.
  TCollectionOf<TQNRdapLink>* Links() const { return FLinks.get(); }
  /// The notices, then the object's remarks.
  TCollectionOf<TQNRdapNotice>* Notices() const { return FNotices.get(); }
  /// The registry's WHOIS server ("port43"), when the answer names one.
  const String& Port43() const { return FPort43; }
  /// An IP network's first and last address, its prefixes ("192.0.2.0/24") and country.
  const String& StartAddress() const { return FStartAddress; }
  /// The IP network's last address.
  const String& EndAddress() const { return FEndAddress; }
  /// The IP network's prefixes ("192.0.2.0/24"), owned.
  TStrings* CIDR() const { return FCIDR.get(); }
  /// The IP network's country code.
  const String& Country() const { return FCountry; }
  /// The registry's answer whole (JSON text).
  const String& Answer() const { return FAnswer; }
  /// The registrar's answer whole, when `FollowRelated` asked one.
  const String& RelatedAnswer() const { return FRelatedAnswer; }

  /// Empties every result.
  void Clear();
  /// The kind `Query` has by its form: an AS number, an address or prefix, a name with a dot
  /// (a domain), else an entity handle.
  static TQNRdapQueryKind KindOf(const String& Query);
  /// Copies an RDAP object (RFC 9083, as JSON text) into the results, entities after those
  /// there are. Raises `EReadError` "NAME: Invalid RDAP answer: WHY" for text that is no JSON
  /// object or nests too deep, `Name` being where it came from.
  void ReadAnswer(std::string_view Text, std::string_view Name = {});
  /// The covering prefixes of an address range ("10.0.0.0/8" for 10.0.0.0 to 10.255.255.255),
  /// empty when either end is no address or they are of two families.
  static void RangeToCIDR(const String& First, const String& Last, TStrings* Prefixes);

protected:
  void InternalExecute() override;

private:
  struct TFetch;
  struct TReader;  // the answer's members into the results
  friend struct TReader;
  TQNIOutcome fetch(const std::string& url, TFetch& out);
  TQNIOutcome registry(const char* file, TFetch& out);
  TQNIOutcome service_for(TQNRdapQueryKind kind, const std::string& query, std::string& base);

  String FQuery;
  TQNRdapQueryKind FQueryKind = rqAuto;
  String FBaseURL;
  String FBootstrapURL;
  bool FFollowRelated = false;

  String FRequestURL;
  TQNRdapQueryKind FAskedKind = rqAuto;
  String FHandle, FLdhName, FUnicodeName, FNetworkName, FPort43, FStartAddress, FEndAddress, FCountry;
  bool FDelegationSigned = false;
  std::unique_ptr<TStringList> FRdapStatus, FNameservers, FCIDR;
  std::unique_ptr<TCollectionOf<TQNRdapEvent>> FEvents;
  std::unique_ptr<TCollectionOf<TQNRdapEntity>> FEntities;
  std::unique_ptr<TCollectionOf<TQNRdapLink>> FLinks;
  std::unique_ptr<TCollectionOf<TQNRdapNotice>> FNotices;
  String FAnswer, FRelatedAnswer;
};

}  // namespace qninet
