#include "qninet/web/QNIRdap.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <optional>
#include <vector>

#include "qninet/core/Url.h"
#include "qninet/rtl/JsonText.h"
#include "qninet/sys/Desktop.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/Idna.h"
#include "qninet/sys/InetClient.h"
#include "qninet/sys/UrlParser.h"
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

namespace {

using json = nlohmann::json;

// Bootstrap registries are small (IANA's dns.json is some 40 KiB); answers are bounded as every
// service answer is.
constexpr std::uint64_t kRegistryLimit = 4 << 20;
constexpr std::int64_t kDefaultRegistryLifetime = 24 * 60 * 60;

// --- addresses, without the system's parser: the web layer reaches no socket header ----------

__extension__ typedef unsigned __int128 u128;

struct Address {
  bool V6 = false;
  u128 Value = 0;
  int Bits() const { return V6 ? 128 : 32; }
};

std::optional<std::uint32_t> parse_v4(std::string_view s) {
  std::uint32_t out = 0;
  int parts = 0;
  while (parts < 4) {
    std::size_t n = 0;
    unsigned v = 0;
    while (n < s.size() && n < 3 && s[n] >= '0' && s[n] <= '9') v = v * 10 + (s[n++] - '0');
    if (n == 0 || v > 255 || (n > 1 && s[0] == '0')) return std::nullopt;
    out = out << 8 | v;
    s.remove_prefix(n);
    if (++parts < 4) {
      if (s.empty() || s[0] != '.') return std::nullopt;
      s.remove_prefix(1);
    }
  }
  if (!s.empty()) return std::nullopt;
  return out;
}

// RFC 4291 2.2: eight groups of up to four hex digits, one "::" at most, an IPv4 tail allowed.
std::optional<u128> parse_v6(std::string_view s) {
  std::vector<std::uint16_t> head, tail;
  bool gap = false;
  if (s.starts_with("::")) {
    gap = true;
    s.remove_prefix(2);
  }
  while (!s.empty()) {
    auto& groups = gap ? tail : head;
    const std::size_t end = s.find(':');
    const std::string_view part = s.substr(0, end);
    if (end == std::string_view::npos && part.find('.') != std::string_view::npos) {
      const auto v4 = parse_v4(part);
      if (!v4) return std::nullopt;
      groups.push_back(static_cast<std::uint16_t>(*v4 >> 16));
      groups.push_back(static_cast<std::uint16_t>(*v4 & 0xffff));
      s = {};
      break;
    }
    if (part.empty() || part.size() > 4) return std::nullopt;
    unsigned v = 0;
    for (char c : part) {
      const int d = c >= '0' && c <= '9'                     ? c - '0'
                    : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                             : -1;
      if (d < 0) return std::nullopt;
      v = v * 16 + static_cast<unsigned>(d);
    }
    groups.push_back(static_cast<std::uint16_t>(v));
    if (end == std::string_view::npos) {
      s = {};
    } else if (s.substr(end).starts_with("::")) {
      if (gap) return std::nullopt;
      gap = true;
      s.remove_prefix(end + 2);
    } else {
      s.remove_prefix(end + 1);
      if (s.empty()) return std::nullopt;
    }
  }
  const std::size_t count = head.size() + tail.size();
  if (gap ? count > 7 : count != 8) return std::nullopt;
  head.resize(8 - tail.size(), 0);
  head.insert(head.end(), tail.begin(), tail.end());
  u128 out = 0;
  for (std::uint16_t g : head) out = out << 16 | g;
  return out;
}

std::optional<Address> parse_address(std::string_view s) {
  if (s.find(':') != std::string_view::npos) {
    if (auto v = parse_v6(s)) return Address{true, *v};
  } else if (auto v = parse_v4(s)) {
    return Address{false, *v};
  }
  return std::nullopt;
}

// "ADDRESS" or "ADDRESS/LENGTH"; a bare address is its own full-length prefix.
std::optional<std::pair<Address, int>> parse_prefix(std::string_view s) {
  const std::size_t slash = s.find('/');
  auto a = parse_address(s.substr(0, slash));
  if (!a) return std::nullopt;
  int length = a->Bits();
  if (slash != std::string_view::npos) {
    const std::string_view digits = s.substr(slash + 1);
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    length = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      length = length * 10 + (c - '0');
    }
    if (length > a->Bits()) return std::nullopt;
  }
  return std::pair{*a, length};
}

// The address with the lowest `bits - length` bits cleared.
u128 network_of(const Address& a, int length) {
  const int host = a.Bits() - length;
  return host >= 128 ? 0 : a.Value >> host << host;
}

// RFC 5952: lower case, the longest run of two or more zero groups as "::".
std::string format_address(const Address& a) {
  if (!a.V6) {
    const auto v = static_cast<std::uint32_t>(a.Value);
    return std::to_string(v >> 24) + "." + std::to_string(v >> 16 & 255) + "." +
           std::to_string(v >> 8 & 255) + "." + std::to_string(v & 255);
  }
  unsigned g[8];
  for (int i = 0; i < 8; ++i) g[i] = static_cast<unsigned>(a.Value >> (16 * (7 - i)) & 0xffff);
  int best = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && g[j] == 0) ++j;
    if (j - i > bestLength) best = i, bestLength = j - i;
    i = j == i ? i + 1 : j;
  }
  std::string out;
  static const char* hex = "0123456789abcdef";
  for (int i = 0; i < 8; ++i) {
    if (i == best) {
      out += "::";
      i += bestLength - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':') out += ':';
    std::string group;
    for (unsigned v = g[i]; v || group.empty(); v >>= 4) group.insert(group.begin(), hex[v & 15]);
    out += group;
  }
  return out;
}

// --- JSON members, read without trusting their types -----------------------------------------

String text_of(const json& object, const char* key) {
  const auto it = object.find(key);
  return it != object.end() && it->is_string() ? FromUtf8(it->get_ref<const std::string&>()) : String();
}

const json& array_of(const json& object, const char* key) {
  static const json empty = json::array();
  const auto it = object.find(key);
  return it != object.end() && it->is_array() ? *it : empty;
}

// A jCard value as one line: a text, or the non-empty texts of a structured value (one level of
// lists inside, as a street of several lines is) joined by ", ".
String vcard_text(const json& value) {
  if (value.is_string()) return FromUtf8(value.get_ref<const std::string&>());
  String out;
  if (!value.is_array()) return out;
  for (const json& part : value) {
    for (const json& piece : part.is_array() ? part : json::array({part})) {
      if (!piece.is_string() || piece.get_ref<const std::string&>().empty()) continue;
      out.append(out.empty() ? u"" : u", ").append(FromUtf8(piece.get_ref<const std::string&>()));
    }
  }
  return out;
}

// RFC 7095: ["vcard", [[name, parameters, type, value...], ...]].
void read_vcard(const json& card, TQNRdapEntity& entity) {
  if (!card.is_array() || card.size() < 2 || !card[1].is_array()) return;
  for (const json& property : card[1]) {
    if (!property.is_array() || property.size() < 4 || !property[0].is_string()) continue;
    const std::string& name = property[0].get_ref<const std::string&>();
    String value = vcard_text(property[3]);
    if (name == "fn" && entity.FullName().empty()) {
      entity.SetFullName(value);
    } else if (name == "org" && entity.Organization().empty()) {
      entity.SetOrganization(value);
    } else if (name == "email" && entity.Email().empty()) {
      entity.SetEmail(value);
    } else if (name == "tel" && entity.Telephone().empty()) {
      if (value.starts_with(u"tel:")) value.erase(0, 4);
      entity.SetTelephone(value);
    } else if (name == "adr" && entity.Address().empty()) {
      // A label parameter stands for the whole address when the parts are empty (RFC 6350 6.3.1).
      if (value.empty() && property[1].is_object()) value = text_of(property[1], "label");
      for (auto& c : value)
        if (c == u'\n') c = u',';
      entity.SetAddress(value);
    }
  }
}

// Entities nested in entities, in document order, without recursion: the depth of the answer is
// the parser's bound, the stack here is the heap's. An entity asked for is the first itself.
void read_entities(const json& object, TCollectionOf<TQNRdapEntity>& out) {
  std::vector<std::pair<const json*, int>> stack;
  const json& top = array_of(object, "entities");
  if (text_of(object, "objectClassName") == u"entity")
    stack.emplace_back(&object, 0);
  else
    for (auto it = top.rbegin(); it != top.rend(); ++it) stack.emplace_back(&*it, 0);
  while (!stack.empty()) {
    const auto [item, depth] = stack.back();
    stack.pop_back();
    if (!item->is_object()) continue;
    TQNRdapEntity& entity = *out.Add();
    entity.SetHandle(text_of(*item, "handle"));
    entity.SetDepth(depth);
    for (const json& role : array_of(*item, "roles"))
      if (role.is_string()) entity.Roles()->Add(FromUtf8(role.get_ref<const std::string&>()));
    if (const auto card = item->find("vcardArray"); card != item->end()) read_vcard(*card, entity);
    const json& inner = array_of(*item, "entities");
    for (auto it = inner.rbegin(); it != inner.rend(); ++it) stack.emplace_back(&*it, depth + 1);
  }
}

void read_notices(const json& list, TCollectionOf<TQNRdapNotice>& out) {
  for (const json& n : list) {
    if (!n.is_object()) continue;
    TQNRdapNotice& notice = *out.Add();
    notice.SetTitle(text_of(n, "title"));
    String description;
    for (const json& line : array_of(n, "description"))
      if (line.is_string())
        description.append(description.empty() ? u"" : u"\r\n")
            .append(FromUtf8(line.get_ref<const std::string&>()));
    notice.SetDescription(description);
  }
}

// --- bootstrap (RFC 9224) -------------------------------------------------------------------

// How well `entry` covers the query: the number of labels, the prefix length or the inverse
// width of the AS range; below 0 when it does not.
long long match_of(TQNRdapQueryKind kind, const std::string& entry, const std::string& query) {
  if (kind == rqDomain || kind == rqNameserver) {
    std::string e = entry;
    for (char& c : e) c = static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c);
    if (e.empty()) return -1;
    if (query != e &&
        !(query.size() > e.size() && query.ends_with(e) && query[query.size() - e.size() - 1] == '.'))
      return -1;
    return 1 + static_cast<long long>(std::count(e.begin(), e.end(), '.'));
  }
  if (kind == rqIP) {
    const auto q = parse_prefix(query);
    const auto p = parse_prefix(entry);
    if (!q || !p || q->first.V6 != p->first.V6 || p->second > q->second) return -1;
    return network_of(q->first, p->second) == network_of(p->first, p->second) ? p->second : -1;
  }
  const auto dash = entry.find('-');
  const unsigned long long n = std::stoull(query);
  char* end = nullptr;
  const unsigned long long low = std::strtoull(entry.c_str(), &end, 10);
  const unsigned long long high =
      dash == std::string::npos ? low : std::strtoull(entry.c_str() + dash + 1, nullptr, 10);
  if (n < low || n > high) return -1;
  return (1LL << 33) - static_cast<long long>(high - low);
}

// The base URL of the longest match, https preferred (RFC 9224 3 and 5); empty when none.
std::string best_service(const json& registry, TQNRdapQueryKind kind, const std::string& query) {
  long long best = -1;
  std::string url;
  for (const json& service : array_of(registry, "services")) {
    if (!service.is_array() || service.size() < 2 || !service[0].is_array() || !service[1].is_array())
      continue;
    for (const json& entry : service[0]) {
      if (!entry.is_string()) continue;
      const long long m = match_of(kind, entry.get_ref<const std::string&>(), query);
      if (m <= best) continue;
      std::string chosen;
      for (const json& u : service[1])
        if (u.is_string() && (chosen.empty() || u.get_ref<const std::string&>().starts_with("https:")))
          if (chosen.empty() || !chosen.starts_with("https:")) chosen = u.get_ref<const std::string&>();
      if (chosen.empty()) continue;
      best = m;
      url = chosen;
    }
  }
  return url;
}

std::int64_t now_seconds() {
  return std::chrono::duration_cast<std::chrono::seconds>(std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// Until when an answer may be reused: Cache-Control's max-age, else Expires, else a day; 0 when
// it must not be kept (RFC 9111 5.2.2).
std::int64_t expiry_of(const TQNWebSource& answer) {
  const std::string control = ToUtf8(LowerCase(answer.Header("Cache-Control")));
  if (control.find("no-store") != std::string::npos || control.find("no-cache") != std::string::npos)
    return 0;
  if (const auto at = control.find("max-age="); at != std::string::npos)
    return now_seconds() + std::strtoll(control.c_str() + at + 8, nullptr, 10);
  if (const auto expires = sys::parse_http_date(ToUtf8(answer.Header("Expires"))))
    return sys::file_time_to_unix(*expires);
  return now_seconds() + kDefaultRegistryLifetime;
}

std::string cache_file(const std::string& bootstrap, const char* file) {
  std::string name;
  for (char c : bootstrap)
    name += std::isalnum(static_cast<unsigned char>(c)) || c == '.' || c == '-' ? c : '_';
  return sys::user_cache_directory() + "/qninet/rdap/" + name + file;
}

// "HTTP 418: TITLE: DESCRIPTION" from an RDAP error object (RFC 9083 6), whatever the body holds.
String refusal(std::uint32_t code, const std::string& body) {
  String text = u"HTTP " + FromUtf8(std::to_string(code));
  try {
    const json error = ParseJsonBounded(body, {});
    if (!error.is_object()) return text;
    if (const String title = text_of(error, "title"); !title.empty()) text += u": " + title;
    String description;
    for (const json& line : array_of(error, "description"))
      if (line.is_string())
        description.append(description.empty() ? u"" : u" ")
            .append(FromUtf8(line.get_ref<const std::string&>()));
    if (!description.empty()) text += u": " + description;
  } catch (const Exception&) {
    // An error page that is no JSON (a proxy's, a server's default) says only its status.
  }
  return text;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

struct TQNRdapClient::TFetch {
  std::string Body;
  json Object;
};

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

struct TQNRdapClient::TReader {
  static void Read(TQNRdapClient& c, const json& A);
};

void TQNRdapClient::ReadAnswer(std::string_view Text, std::string_view Name) {
  const json answer = ParseJsonBounded(Text, Name, "Invalid RDAP answer");
  if (!answer.is_object())
    throw EReadError(FromUtf8(Name) + (Name.empty() ? u"" : u": ") + u"Invalid RDAP answer: no JSON object");
  TReader::Read(*this, answer);
}

void TQNRdapClient::TReader::Read(TQNRdapClient& c, const json& A) {
  c.FHandle = text_of(A, "handle");
  c.FLdhName = text_of(A, "ldhName");
  c.FUnicodeName = text_of(A, "unicodeName");
  c.FNetworkName = text_of(A, "name");
  c.FPort43 = text_of(A, "port43");
  c.FStartAddress = text_of(A, "startAddress");
  c.FEndAddress = text_of(A, "endAddress");
  c.FCountry = text_of(A, "country");
  for (const json& s : array_of(A, "status"))
    if (s.is_string()) c.FRdapStatus->Add(FromUtf8(s.get_ref<const std::string&>()));
  for (const json& e : array_of(A, "events")) {
    if (!e.is_object()) continue;
    TQNRdapEvent& event = *c.FEvents->Add();
    event.SetAction(text_of(e, "eventAction"));
    event.SetDate(text_of(e, "eventDate"));
    event.SetActor(text_of(e, "eventActor"));
  }
  read_entities(A, *c.FEntities);
  for (const json& n : array_of(A, "nameservers"))
    if (n.is_object()) c.FNameservers->Add(text_of(n, "ldhName"));
  if (const auto dns = A.find("secureDNS"); dns != A.end() && dns->is_object())
    if (const auto s = dns->find("delegationSigned"); s != dns->end() && s->is_boolean())
      c.FDelegationSigned = s->get<bool>();
  for (const json& l : array_of(A, "links")) {
    if (!l.is_object()) continue;
    TQNRdapLink& link = *c.FLinks->Add();
    link.SetRel(text_of(l, "rel"));
    link.SetHref(text_of(l, "href"));
    link.SetType(text_of(l, "type"));
  }
  read_notices(array_of(A, "notices"), *c.FNotices);
  read_notices(array_of(A, "remarks"), *c.FNotices);
  // The prefixes as the cidr0 extension lists them, else as the range covers them.
  for (const json& p : array_of(A, "cidr0_cidrs")) {
    if (!p.is_object() || !p.contains("length") || !p["length"].is_number_unsigned()) continue;
    const String prefix = !text_of(p, "v4prefix").empty() ? text_of(p, "v4prefix") : text_of(p, "v6prefix");
    if (!prefix.empty()) c.FCIDR->Add(prefix + u"/" + FromUtf8(std::to_string(p["length"].get<unsigned>())));
  }
  if (c.FCIDR->Count() == 0 && !c.FStartAddress.empty())
    c.RangeToCIDR(c.FStartAddress, c.FEndAddress, c.FCIDR.get());
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

// A bootstrap registry from the cache while it is fresh, else from `BootstrapURL` (then cached
// until the expiry its answer gives).
TQNIOutcome TQNRdapClient::registry(const char* file, TFetch& out) {
  const std::string bootstrap = ToUtf8(FBootstrapURL);
  const std::string cached = cache_file(bootstrap, file);
  if (sys::file_exists(cached)) {
    try {
      TMemoryStream stream;
      stream.LoadFromFile(FromUtf8(cached));
      const std::string_view bytes = stream.Bytes();
      const std::size_t line = bytes.find('\n');
      if (line != std::string_view::npos && std::strtoll(bytes.data(), nullptr, 10) > now_seconds()) {
        out.Object = ParseJsonBounded(bytes.substr(line + 1), cached, "Invalid bootstrap registry");
        return {};
      }
    } catch (const Exception&) {
      // An unreadable or spoilt copy is fetched again.
    }
  }
  const std::string url = bootstrap + (bootstrap.ends_with('/') ? "" : "/") + file;
  String why;
  auto target = Url::Parse(url, &why);
  if (!target) return TQNIOutcome::Failed(FromUtf8(url) + u": " + why);
  FRequestURL = FromUtf8(url);
  TQNServiceCall call(*this, std::move(*target));
  TQNWebRequest request;
  request.MaxRedirects = kQNRdapMaxRedirects;
  if (const TQNIOutcome sent = call.Send(request); !sent) return sent;
  TMemoryStream body;
  if (const TQNIOutcome whole = call.ReadAll(body, {}, kRegistryLimit); !whole) return whole;
  if (const std::uint32_t code = call.Source().StatusCode(); code >= 400)
    return TQNIOutcome::Failed(FRequestURL + u": " + refusal(code, std::string(body.Bytes())));
  try {
    out.Object = ParseJsonBounded(body.Bytes(), url, "Invalid bootstrap registry");
  } catch (const Exception& e) {
    return TQNIOutcome::Failed(e.Message());
  }
  if (const std::int64_t expires = expiry_of(call.Source()); expires > now_seconds()) {
    try {
      if (sys::make_directories(cached.substr(0, cached.rfind('/'))))
        ReplaceFileContents(FromUtf8(cached), std::to_string(expires) + "\n" + std::string(body.Bytes()));
    } catch (const Exception&) {
      // A cache that cannot be written costs a fetch next time, nothing more.
    }
  }
  return {};
}

TQNIOutcome TQNRdapClient::service_for(TQNRdapQueryKind kind, const std::string& query, std::string& base) {
  const char* file = kind == rqAutnum ? "asn.json"
                     : kind == rqIP   ? (query.find(':') != std::string::npos ? "ipv6.json" : "ipv4.json")
                                      : "dns.json";
  if (kind == rqEntity)
    return TQNIOutcome::NotFound(u"no RDAP service for entity " + FromUtf8(query) + u" (BaseURL)");
  TFetch table;
  if (const TQNIOutcome read = registry(file, table); !read) return read;
  base = best_service(table.Object, kind, query);
  if (base.empty()) return TQNIOutcome::NotFound(u"no RDAP service for " + FromUtf8(query));
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
    read_entities(related.Object, *FEntities);
    return;
  }
}

}  // namespace qninet
