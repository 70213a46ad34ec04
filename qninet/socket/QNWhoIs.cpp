#include "qninet/socket/QNWhoIs.h"

#include <mutex>

#include "qninet/rtl/TypInfo.h"

namespace qninet {

const String QNWhoIsFallbackServer = u"whois.internic.net";
const String QNWhoIsRIPEServer = u"whois.ripe.net";

namespace {
const String QNWhoIsIANAServer = u"whois.iana.org";

String endpoint_text(const String& host, Integer port) {
  const bool v6 = host.find(u':') != String::npos;
  return (v6 ? u"[" + host + u"]" : host) + u":" + IntToStr(port);
}

// Making a component's own list is rare (at most once per component): one lock serves all.
std::mutex g_making_list;

// The server of the first "key=server" line named `Key` (case ignored); a line without "=" has
// an empty name and an empty value, as `TStrings::Names` reads it.
template <class Lines>
String server_in(const Lines& lines, const String& Key) {
  for (const String& line : lines) {
    const auto eq = line.find(u'=');
    if (SameText(StringView(line).substr(0, eq == String::npos ? 0 : eq), Key))
      return eq == String::npos ? String() : line.substr(eq + 1);
  }
  return String();
}
}  // namespace

// FollowReferrals comes before Domain so that a stored form chooses an address's server with it.
QNINET_CLASS_INFO(TQNWhoIs, Published("Port", &Self::Port, &Self::SetPort, 43),
                  Published("FollowReferrals", &Self::FollowReferrals, &Self::SetFollowReferrals, false),
                  Published("AutoSelectServer", &Self::AutoSelectServer, &Self::SetAutoSelectServer),
                  Published("Domain", &Self::Domain, &Self::SetDomain, u""),
                  // A list equal to the default table is not kept: reading gives it back.
                  Published("ServerList", &Self::ServerList).StoredWhen([](const TObject& o) {
                    return static_cast<const TQNWhoIs&>(o).list_edited();
                  }))

const std::vector<String>& WhoIsDefaultServers() {
  // The registries' own servers as they are published today. The second-level zones under
  // com and net (gb.com, gb.net, uk.com, uk.net) are all CentralNic's. The zones gs, ms, tc,
  // tf and vg once shared one server of a registrar that no longer runs it; each has its own
  // registry's server now.
  static const std::vector<String> servers{
      u"*=" + QNWhoIsFallbackServer,
      u"ac=whois.nic.ac",
      u"am=whois.amnic.net",
      u"as=whois.nic.as",
      u"at=whois.nic.at",
      u"au=whois.auda.org.au",
      u"be=whois.dns.be",
      u"br=whois.registro.br",
      u"ca=whois.cira.ca",
      u"cc=ccwhois.verisign-grs.com",
      u"ch=whois.nic.ch",
      u"ck=whois.nic.ck",
      u"cl=whois.nic.cl",
      u"cn=whois.cnnic.cn",
      u"cr=whois.nic.cr",
      u"cz=whois.nic.cz",
      u"de=whois.denic.de",
      u"dk=whois.punktum.dk",
      u"ec=whois.nic.ec",
      u"ee=whois.tld.ee",
      u"es=whois.nic.es",
      u"fi=whois.fi",
      u"fr=whois.nic.fr",
      u"gb=whois.ja.net",
      u"gb.com=whois.centralnic.com",
      u"gb.net=whois.centralnic.com",
      u"gs=whois.nic.gs",
      u"hk=whois.hkirc.hk",
      u"hm=whois.registry.hm",
      u"in=whois.registry.in",
      u"is=whois.isnic.is",
      u"it=whois.nic.it",
      u"jp=whois.jprs.jp",
      u"kg=whois.kg",
      u"kr=whois.kr",
      u"kz=whois.nic.kz",
      u"li=whois.nic.li",
      u"lk=whois.nic.lk",
      u"lu=whois.dns.lu",
      u"mm=whois.registry.gov.mm",
      u"ms=whois.nic.ms",
      u"mx=whois.mx",
      u"nl=whois.domain-registry.nl",
      u"no=whois.norid.no",
      u"nu=whois.iis.nu",
      u"nz=whois.irs.net.nz",
      u"pe=kero.yachay.pe",
      u"pl=whois.dns.pl",
      u"pt=whois.dns.pt",
      u"ru=whois.tcinet.ru",
      u"sc=whois.nic.sc",
      u"se=whois.iis.se",
      u"sg=whois.sgnic.sg",
      u"sh=whois.nic.sh",
      u"sk=whois.sk-nic.sk",
      u"st=whois.nic.st",
      u"tc=whois.nic.tc",
      u"tf=whois.nic.tf",
      u"th=whois.thnic.co.th",
      u"tj=whois.nic.tj",
      u"to=whois.tonic.to",
      u"tr=whois.trabis.gov.tr",
      u"tw=whois.twnic.net.tw",
      u"uk=whois.nic.uk",
      u"uk.com=whois.centralnic.com",
      u"uk.net=whois.centralnic.com",
      u"us=whois.nic.us",
      u"vg=whois.nic.vg",
      u"za=whois.registry.net.za",
  };
  return servers;
}

bool IsWhoIsAddress(const String& S) {
  StringView rest(S);
  for (int i = 0; i < 3; ++i) {
    const auto dot = rest.find(u'.');
    if (dot == StringView::npos) return false;
    const Integer n = StrToIntDef(rest.substr(0, dot), -1);
    rest = rest.substr(dot + 1);
    if (n < 0 || n > 255) return false;
  }
  const Integer n = StrToIntDef(rest, -1);
  return n >= 0 && n <= 255;
}

String WhoIsKeyOf(const String& S) {
  const auto dot = S.rfind(u'.');
  if (dot == String::npos) return S;
  return S.substr(dot + 1);
}

String WhoIsServerOf(const TStrings& List, const String& Key) { return server_in(List, Key); }

String WhoIsRegistryOf(const String& Address) {
  // The IANA IPv4 address space registry, one letter per /8: ARIN, RIPE NCC, APNIC (P),
  // LACNIC, AFRINIC (F), and "-" for the blocks no registry holds.
  static constexpr std::u16string_view kBlocks =
      u"-PRAARAAAA-AAAPAAAAAAAAAARAPAAARAAAAPRAPAFPPAARAAPARARAAARPPPPRA"
      u"AAAAAAAAAAAAARRRRRRRRRRRRRRRRRRRAAAAAPFPAFPAARPPPPPPPPPPPPPPPPP-"
      u"AAAAAPAAAAAAARAAARAAAAPRAPFAAAAAAAAPAAAAAAAPAAAPRLRLPLPPARLLRLLL"
      u"ARRRFFAALLPPAAAAAAPPRRAAARPPPPPP--------------------------------";
  static_assert(kBlocks.size() == 256);
  if (!IsWhoIsAddress(Address)) return QNWhoIsIANAServer;
  const Integer first = StrToIntDef(Address.substr(0, Address.find(u'.')), -1);
  switch (kBlocks[static_cast<std::size_t>(first)]) {
    case u'A':
      return u"whois.arin.net";
    case u'R':
      return QNWhoIsRIPEServer;
    case u'P':
      return u"whois.apnic.net";
    case u'L':
      return u"whois.lacnic.net";
    case u'F':
      return u"whois.afrinic.net";
    default:
      return QNWhoIsIANAServer;
  }
}

namespace {

bool is_host_char(char16_t c) {
  return (c >= u'a' && c <= u'z') || (c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9') || c == u'.' ||
         c == u'-';
}

// "host", "host:port" or "[v6]:port", checked character by character.
bool parse_referral_target(StringView v, TQNWhoIsReferral& out) {
  StringView host, port;
  bool v6 = false;
  if (!v.empty() && v.front() == u'[') {
    const auto close = v.find(u']');
    if (close == StringView::npos) return false;
    host = v.substr(1, close - 1);
    const StringView rest = v.substr(close + 1);
    if (!rest.empty() && rest.front() != u':') return false;
    if (!rest.empty()) port = rest.substr(1);
    v6 = true;
  } else {
    const auto colon = v.find(u':');
    host = v.substr(0, colon);
    if (colon != StringView::npos) port = v.substr(colon + 1);
  }
  if (host.empty() || host.size() > 253 || host.front() == u'-' || host.front() == u'.') return false;
  for (char16_t c : host)
    if (v6 ? !((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F') ||
               c == u':' || c == u'.')
           : !is_host_char(c))
      return false;
  Integer number = 43;
  if (!port.empty() || v.back() == u':') {
    if (port.empty() || port.size() > 5) return false;
    for (char16_t c : port)
      if (c < u'0' || c > u'9') return false;
    number = StrToIntDef(port, -1);
    // Only the WHOIS port or an unprivileged one: an answer must not aim the query at a
    // mail, web or other system service.
    if (number != 43 && (number < 1024 || number > 65535)) return false;
  }
  out.Host = String(host);
  out.Port = number;
  return true;
}

}  // namespace

bool WhoIsReferralOf(const String& Answer, TQNWhoIsReferral& Referral) {
  static const char16_t* kKeys[] = {u"refer", u"whois", u"Registrar WHOIS Server", u"ReferralServer"};
  StringView rest(Answer);
  while (!rest.empty()) {
    const auto eol = rest.find(u'\n');
    StringView line = rest.substr(0, eol);
    rest = eol == StringView::npos ? StringView() : rest.substr(eol + 1);
    const auto colon = line.find(u':');
    if (colon == StringView::npos) continue;
    const String key = Trim(String(line.substr(0, colon)));
    bool known = false;
    for (const char16_t* k : kKeys) known = known || SameText(key, k);
    if (!known) continue;
    String value = Trim(String(line.substr(colon + 1)));
    if (SameText(key, u"ReferralServer")) {
      // ARIN also refers to rwhois:// servers, which speak another protocol.
      if (!SameText(value.substr(0, 8), u"whois://")) continue;
      value.erase(0, 8);
      if (!value.empty() && value.back() == u'/') value.pop_back();
    }
    TQNWhoIsReferral found;
    if (!value.empty() && parse_referral_target(value, found)) {
      Referral = std::move(found);
      return true;
    }
  }
  return false;
}

// The 69 lines take about 8.6 KiB: a component makes its own copy only when
// asked for it, so a form of many clients costs no table each.
TQNWhoIs::TQNWhoIs(TComponent* AOwner)
    : TQNInetBase(AOwner), FReferralChain(std::make_unique<TStringList>()) {
  SetPort(43);
  FAutoSelectServer = true;
}

TQNWhoIs::~TQNWhoIs() {
  StopAsyncRun();
  delete FServerList.load(std::memory_order_relaxed);
}

TStrings* TQNWhoIs::ServerList() const {
  if (TStringList* list = FServerList.load(std::memory_order_acquire)) return list;
  const std::lock_guard lock(g_making_list);
  TStringList* list = FServerList.load(std::memory_order_relaxed);
  if (!list) {
    auto made = std::make_unique<TStringList>();
    for (const auto& line : WhoIsDefaultServers()) made->Add(line);
    list = made.release();
    FServerList.store(list, std::memory_order_release);
  }
  return list;
}

String TQNWhoIs::server_of(const String& Key) const {
  if (const TStringList* list = FServerList.load(std::memory_order_acquire)) return server_in(*list, Key);
  return server_in(WhoIsDefaultServers(), Key);
}

bool TQNWhoIs::list_edited() const {
  const TStringList* list = FServerList.load(std::memory_order_acquire);
  if (!list) return false;
  const auto& table = WhoIsDefaultServers();
  if (list->Count() != static_cast<int>(table.size())) return true;
  for (int i = 0; i < list->Count(); ++i)
    if (list->Strings(i) != table[static_cast<std::size_t>(i)]) return true;
  return false;
}

void TQNWhoIs::BeforeExecute() {
  if (FDomain.find_first_of(u"\r\n") != String::npos)
    throw Exception(u"The domain holds a line break; nothing was sent");
  inherited::BeforeExecute();
}

String TQNWhoIs::GetQuery() { return FDomain.empty() ? String() : FDomain + u"\r\n"; }

void TQNWhoIs::SetServerList(const TStrings* value) {
  RefuseWriteWhileRunning(*this);
  ServerList()->Assign(value);
}

void TQNWhoIs::SetDomain(const String& Value) {
  RefuseWriteWhileRunning(*this);
  if (Value == FDomain) return;
  FDomain = Value;
  // A stored component keeps its stored server: Domain loads after Host and Address.
  if (ComponentState().Contains(csLoading)) return;
  choose_server();
}

void TQNWhoIs::SetFollowReferrals(bool value) {
  RefuseWriteWhileRunning(*this);
  if (value == FFollowReferrals) return;
  FFollowReferrals = value;
  if (IsWhoIsAddress(FDomain)) choose_server();
}

void TQNWhoIs::choose_server() {
  const String& Value = FDomain;
  if (!FAutoSelectServer || Value.empty()) return;
  if (IsWhoIsAddress(Value)) {
    SetHost(FFollowReferrals ? WhoIsRegistryOf(Value) : QNWhoIsRIPEServer);
    return;
  }
  // Only the last label counts, so the two-label keys of the list are never chosen here.
  const String key = WhoIsKeyOf(Value);
  SetHost(key.empty() ? String() : server_of(key));
  // An entry of dotted-address form reads back through Address, not Host: it is a server too.
  if (Host().empty() && Address().empty()) SetHost(server_of(u"*"));
  if (Host().empty() && Address().empty()) SetHost(QNWhoIsFallbackServer);
}

String TQNWhoIs::InternalExecute() {
  FReferralChain->Clear();
  String answer = TQNInetBase::InternalExecute();
  if (!FFollowReferrals || (Proxy()->UseProxy() && !Proxy()->Server().empty())) return answer;
  const String host = Host().empty() ? Address() : Host();
  const Integer port = Port();
  FReferralChain->Add(endpoint_text(host, port));
  // The component's own server comes back whatever happens on the way.
  struct Restore {
    TQNWhoIs& W;
    String Host;
    Integer Port;
    ~Restore() {
      W.SetHost(Host);
      W.SetPort(Port);
    }
  } const restore{*this, host, port};
  TQNWhoIsReferral next;
  for (int hop = 0; hop < QNWhoIsMaxReferrals && WhoIsReferralOf(answer, next); ++hop) {
    const String target = endpoint_text(next.Host, next.Port);
    bool seen = false;
    for (int i = 0; i < FReferralChain->Count(); ++i)
      seen = seen || SameText(FReferralChain->Strings(i), target);
    if (seen) break;  // a loop
    Disconnect();
    SetHost(next.Host);
    SetPort(next.Port);
    FReferralChain->Add(target);
    Connect();
    answer = TQNInetBase::InternalExecute();
  }
  // The connection, if still open, is to the last server, not to the component's own.
  if (FReferralChain->Count() > 1) Disconnect();
  return answer;
}

}  // namespace qninet
