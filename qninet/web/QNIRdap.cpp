#include "qninet/web/QNIRdap.h"

#include "qninet/core/Url.h"
#include "qninet/rtl/JsonText.h"
#include "qninet/sys/Idna.h"
#include "qninet/sys/UrlParser.h"
#include "qninet/web/QNIRdapParts.h"
#include "qninet/web/ServiceRequest.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNRdapQueryKind, "rqAuto", "rqDomain", "rqIP", "rqAutnum", "rqEntity",
                        "rqNameserver")

QNINET_CLASS_INFO(TQNRdapEvent, Published("Action", &Self::Action, &Self::SetAction),
                  Published("Date", &Self::Date, &Self::SetDate),
                  Published("Actor", &Self::Actor, &Self::SetActor))
QNINET_CLASS_INFO(TQNRdapEntity, Published("Handle", &Self::Handle, &Self::SetHandle),
                  Published("Roles", &Self::Roles),
                  Published("FullName", &Self::FullName, &Self::SetFullName),
                  Published("Organization", &Self::Organization, &Self::SetOrganization),
                  Published("Email", &Self::Email, &Self::SetEmail),
                  Published("Telephone", &Self::Telephone, &Self::SetTelephone),
                  Published("Address", &Self::Address, &Self::SetAddress),
                  Published("Depth", &Self::Depth, &Self::SetDepth, 0))
QNINET_CLASS_INFO(TQNRdapLink, Published("Rel", &Self::Rel, &Self::SetRel),
                  Published("Href", &Self::Href, &Self::SetHref),
                  Published("Type", &Self::Type, &Self::SetType))
QNINET_CLASS_INFO(TQNRdapNotice, Published("Title", &Self::Title, &Self::SetTitle),
                  Published("Description", &Self::Description, &Self::SetDescription))
QNINET_CLASS_INFO(
    TQNRdapClient, Published("Agent", &Self::Agent, &Self::SetAgent, String(u"Veltraxon RDAP")),
    Published("Query", &Self::Query, &Self::SetQuery),
    Published("QueryKind", &Self::QueryKind, &Self::SetQueryKind, rqAuto),
    Published("BaseURL", &Self::BaseURL, &Self::SetBaseURL),
    Published("BootstrapURL", &Self::BootstrapURL, &Self::SetBootstrapURL, String(kQNRdapBootstrapURL)),
    Published("FollowRelated", &Self::FollowRelated, &Self::SetFollowRelated, false),
    PublishedReadOnly("RequestURL", &Self::RequestURL), PublishedReadOnly("Handle", &Self::Handle),
    PublishedReadOnly("LdhName", &Self::LdhName), PublishedReadOnly("UnicodeName", &Self::UnicodeName),
    PublishedReadOnly("NetworkName", &Self::NetworkName),
    PublishedReadOnly("DelegationSigned", &Self::DelegationSigned),
    PublishedReadOnly("Port43", &Self::Port43), PublishedReadOnly("StartAddress", &Self::StartAddress),
    PublishedReadOnly("EndAddress", &Self::EndAddress), PublishedReadOnly("Country", &Self::Country))

using rdap::format_address;
using rdap::parse_address;
using rdap::parse_prefix;
using rdap::refusal;
using rdap::u128;

void TQNRdapEvent::Assign(const TPersistent* Source) {
  if (const auto* s = dynamic_cast<const TQNRdapEvent*>(Source)) {
    FAction = s->FAction, FDate = s->FDate, FActor = s->FActor;
    return;
  }
  TCollectionItem::Assign(Source);
}

TQNRdapEntity::TQNRdapEntity(TCollection* Collection)
    : TCollectionItem(Collection), FRoles(std::make_unique<TStringList>()) {}
TQNRdapEntity::~TQNRdapEntity() = default;

void TQNRdapEntity::Assign(const TPersistent* Source) {
  if (const auto* s = dynamic_cast<const TQNRdapEntity*>(Source)) {
    FHandle = s->FHandle, FFullName = s->FFullName, FOrganization = s->FOrganization, FEmail = s->FEmail;
    FTelephone = s->FTelephone, FAddress = s->FAddress, FDepth = s->FDepth;
    FRoles->Assign(s->FRoles.get());
    return;
  }
  TCollectionItem::Assign(Source);
}

bool TQNRdapEntity::HasRole(const String& Role) const {
  for (int i = 0; i < FRoles->Count(); ++i)
    if (SameText(FRoles->Strings(i), Role)) return true;
  return false;
}

void TQNRdapLink::Assign(const TPersistent* Source) {
  if (const auto* s = dynamic_cast<const TQNRdapLink*>(Source)) {
    FRel = s->FRel, FHref = s->FHref, FType = s->FType;
    return;
  }
  TCollectionItem::Assign(Source);
}

void TQNRdapNotice::Assign(const TPersistent* Source) {
  if (const auto* s = dynamic_cast<const TQNRdapNotice*>(Source)) {
    FTitle = s->FTitle, FDescription = s->FDescription;
    return;
  }
  TCollectionItem::Assign(Source);
}

// ---------------------------------------------------------------------------------------------

TQNRdapClient::TQNRdapClient(TComponent* AOwner)
    : TQNCustomWebComponent(AOwner),
      FBootstrapURL(kQNRdapBootstrapURL),
      FRdapStatus(std::make_unique<TStringList>()),
      FNameservers(std::make_unique<TStringList>()),
      FCIDR(std::make_unique<TStringList>()),
      FEvents(std::make_unique<TCollectionOf<TQNRdapEvent>>(this)),
      FEntities(std::make_unique<TCollectionOf<TQNRdapEntity>>(this)),
      FLinks(std::make_unique<TCollectionOf<TQNRdapLink>>(this)),
      FNotices(std::make_unique<TCollectionOf<TQNRdapNotice>>(this)) {
  SetAgent(u"Veltraxon RDAP");
  SetService(isHTTPS);
}

TQNRdapClient::~TQNRdapClient() { StopAsyncRun(); }

void TQNRdapClient::Clear() {
  FRequestURL.clear();
  FHandle.clear(), FLdhName.clear(), FUnicodeName.clear(), FNetworkName.clear(), FPort43.clear();
  FStartAddress.clear(), FEndAddress.clear(), FCountry.clear(), FAnswer.clear(), FRelatedAnswer.clear();
  FDelegationSigned = false;
  FRdapStatus->Clear(), FNameservers->Clear(), FCIDR->Clear();
  FEvents->Clear(), FEntities->Clear(), FLinks->Clear(), FNotices->Clear();
}

TQNRdapQueryKind TQNRdapClient::KindOf(const String& Query) {
  const std::string q = ToUtf8(Trim(Query));
  std::string_view digits = q;
  if (digits.size() > 2 && (digits[0] | 0x20) == 'a' && (digits[1] | 0x20) == 's') digits.remove_prefix(2);
  if (!digits.empty() && digits.find_first_not_of("0123456789") == std::string_view::npos) return rqAutnum;
  if (parse_prefix(q)) return rqIP;
  return q.find('.') != std::string::npos ? rqDomain : rqEntity;
}

void TQNRdapClient::RangeToCIDR(const String& First, const String& Last, TStrings* Prefixes) {
  const auto lo = parse_address(ToUtf8(First)), hi = parse_address(ToUtf8(Last));
  if (!lo || !hi || lo->V6 != hi->V6 || lo->Value > hi->Value) return;
  const int width = lo->Bits();
  for (u128 at = lo->Value;;) {
    // The largest block aligned here that ends by the last address.
    int host = 0;
    while (host < width && ((at >> host) & 1) == 0) {
      const u128 end = host + 1 == 128 ? ~u128(0) : at + ((u128(1) << (host + 1)) - 1);
      if (end > hi->Value) break;
      ++host;
    }
    Prefixes->Add(FromUtf8(format_address({lo->V6, at}) + "/" + std::to_string(width - host)));
    const u128 last = host == 128 ? ~u128(0) : at + ((u128(1) << host) - 1);
    if (last >= hi->Value) break;
    at = last + 1;
  }
}

TQNIOutcome TQNRdapClient::fetch(const std::string& url, TFetch& out) {
  FRequestURL = FromUtf8(url);
  String why;
  auto target = Url::Parse(url, &why);
  if (!target) return TQNIOutcome::Failed(FRequestURL + u": " + why);
  TQNServiceCall call(*this, std::move(*target));
  TQNWebRequest request;
  request.Headers = {{"Accept", "application/rdap+json"}};
  request.MaxRedirects = kQNRdapMaxRedirects;
  SetAction(iaConnecting);
  if (const TQNIOutcome sent = call.Send(request); !sent) return sent;
  SetAction(iaDownloading);
  TMemoryStream body;
  const auto progress = [this](std::uint64_t current, std::uint64_t maximum, bool& abort) {
    UpdateProgress(current, maximum, abort);
  };
  if (const TQNIOutcome whole = call.ReadAll(body, progress, kQNServiceAnswerLimit); !whole) return whole;
  SetAction(iaDownloaded);
  out.Body = body.Bytes();
  const std::uint32_t code = call.Source().StatusCode();
  if (code >= 400) {
    String text = refusal(code, out.Body);
    if (code == 404) return TQNIOutcome::NotFound(text);
    if (const String after = call.Source().Header("Retry-After"); code == 429 && !after.empty())
      text += u" (Retry-After: " + after + u")";
    return TQNIOutcome::Failed(text);
  }
  try {
    out.Object = ParseJsonBounded(out.Body, url, "Invalid RDAP answer");
  } catch (const Exception& e) {
    return TQNIOutcome::Failed(e.Message());
  }
  if (!out.Object.is_object())
    return TQNIOutcome::Failed(FRequestURL + u": Invalid RDAP answer: no JSON object");
  return {};
}

void TQNRdapClient::InternalExecute() {
  Clear();
  const auto finish = [this](const TQNIOutcome& o) {
    if (o) return;
    SetLastErrorText(o.Text());
    SetStatus(o.Kind() == TQNIOutcomeKind::NotFound ? isNotFound : isFailed);
  };
  const String query = Trim(FQuery);
  FAskedKind = FQueryKind == rqAuto ? KindOf(query) : FQueryKind;
  std::string key = ToUtf8(query);
  if (key.empty()) return finish(TQNIOutcome::Failed(u"No query"));
  // RFC 9082 3.1: domains and name servers as A-labels, AS numbers as plain numbers.
  if (FAskedKind == rqDomain || FAskedKind == rqNameserver) {
    if (key.size() > 1 && key.back() == '.') key.pop_back();
    auto ascii = sys::to_ascii_domain(key);
    if (!ascii) return finish(TQNIOutcome::Failed(query + u": " + ascii.failure().Text));
    key = *ascii;
  } else if (FAskedKind == rqAutnum) {
    if (key.size() > 2 && (key[0] | 0x20) == 'a' && (key[1] | 0x20) == 's') key.erase(0, 2);
    if (key.empty() || key.size() > 10 || key.find_first_not_of("0123456789") != std::string::npos ||
        std::stoull(key) > 0xffffffffULL)
      return finish(TQNIOutcome::Failed(query + u": not an AS number"));
  } else if (FAskedKind == rqIP) {
    // In the canonical form, so that a server that serves its answers as files finds them.
    const auto prefix = parse_prefix(key);
    if (!prefix) return finish(TQNIOutcome::Failed(query + u": not an IP address or prefix"));
    const bool bare = key.find('/') == std::string::npos;
    key = format_address(prefix->first) + (bare ? "" : "/" + std::to_string(prefix->second));
  }
  std::string base = ToUtf8(FBaseURL);
  if (base.empty())
    if (const TQNIOutcome found = service_for(FAskedKind, key, base); !found) return finish(found);
  static const char* const segment[] = {"", "domain/", "ip/", "autnum/", "entity/", "nameserver/"};
  const std::string url = base + (base.ends_with('/') ? "" : "/") + segment[FAskedKind] +
                          sys::percent_encode(key, FAskedKind == rqIP ? "/:" : "");
  TFetch answer;
  const TQNIOutcome asked = fetch(url, answer);
  SetAction(iaDisconnected);
  if (!asked) return finish(asked);
  FAnswer = FromUtf8(answer.Body);
  TReader::Read(*this, answer.Object);
  if (!FFollowRelated) return;
  // A thin registry names the registrar's record as a related RDAP link (RFC 9083 4.2).
  for (int i = 0; i < FLinks->Count(); ++i) {
    const TQNRdapLink& link = *FLinks->Items(i);
    if (!SameText(link.Rel(), u"related") || !SameText(link.Type(), u"application/rdap+json") ||
        link.Href() == FRequestURL)
      continue;
    TFetch related;
    const TQNIOutcome registrar = fetch(ToUtf8(link.Href()), related);
    SetAction(iaDisconnected);
    // The registry's record stands without the registrar's; why it is missing is told.
    if (!registrar) return SetLastErrorText(registrar.Text());
    FRelatedAnswer = FromUtf8(related.Body);
    rdap::read_entities(related.Object, *FEntities);
    return;
  }
}

}  // namespace qninet
