#include "qninet/socket/QNWhoIs.h"

#include "qninet/rtl/TypInfo.h"

namespace qninet {

const String QNWhoIsFallbackServer = u"whois.internic.net";
const String QNWhoIsRIPEServer = u"whois.ripe.net";

QNINET_CLASS_INFO(TQNWhoIs, Published("Port", &Self::Port, &Self::SetPort, 43),
                  Published("AutoSelectServer", &Self::AutoSelectServer, &Self::SetAutoSelectServer),
                  Published("Domain", &Self::Domain, &Self::SetDomain, u""),
                  Published("ServerList", &Self::ServerList))

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

String WhoIsServerOf(const TStrings& List, const String& Key) {
  for (int i = 0; i < List.Count(); ++i)
    if (SameText(List.Names(i), Key)) return List.ValueFromIndex(i);
  return String();
}

TQNWhoIs::TQNWhoIs(TComponent* AOwner) : TQNInetBase(AOwner), FServerList(std::make_unique<TStringList>()) {
  SetPort(43);
  FAutoSelectServer = true;
  for (const auto& line : WhoIsDefaultServers()) FServerList->Add(line);
}

TQNWhoIs::~TQNWhoIs() = default;

String TQNWhoIs::GetQuery() { return FDomain.empty() ? String() : FDomain + u"\r\n"; }

void TQNWhoIs::SetServerList(const TStrings* value) { FServerList->Assign(value); }

void TQNWhoIs::SetDomain(const String& Value) {
  if (Value == FDomain) return;
  FDomain = Value;
  if (!FAutoSelectServer || Value.empty()) return;
  if (IsWhoIsAddress(Value)) {
    SetHost(QNWhoIsRIPEServer);
    return;
  }
  // Only the last label counts, so the two-label keys of the list are never chosen here.
  const String key = WhoIsKeyOf(Value);
  SetHost(key.empty() ? String() : WhoIsServerOf(*FServerList, key));
  // An entry of dotted-address form reads back through Address, not Host: it is a server too.
  if (Host().empty() && Address().empty()) SetHost(WhoIsServerOf(*FServerList, u"*"));
  if (Host().empty() && Address().empty()) SetHost(QNWhoIsFallbackServer);
}

}  // namespace qninet
