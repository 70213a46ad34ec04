#include "qninet/socket/QNIDNS.h"

#include <algorithm>
#include <array>

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNIDNSRequest, "irAll", "irA", "irNS", "irName", "irSOA", "irMB", "irMG", "irMR",
                        "irRR", "irWKS", "irPTR", "irHostInfo", "irMailInfo", "irMX", "irText",
                        "irTransferRequest", "irMailB", "irAAAA", "irSRV", "irNAPTR", "irDS", "irRRSIG",
                        "irDNSKEY", "irCAA")

namespace {

constexpr std::array<std::uint16_t, 24> kTypeCodes = {255, 1,  2,  5,   6,   7,  8,  9,  10, 11, 12, 13,
                                                      14,  15, 16, 252, 253, 28, 33, 35, 43, 46, 48, 257};

struct TypeName {
  std::uint16_t Code;
  const char16_t* Name;
};
constexpr TypeName kTypeNames[] = {
    {1, u"A"},      {2, u"NS"},     {3, u"MD"},     {4, u"MF"},      {5, u"CNAME"},   {6, u"SOA"},
    {7, u"MB"},     {8, u"MG"},     {9, u"MR"},     {10, u"NULL"},   {11, u"WKS"},    {12, u"PTR"},
    {13, u"HINFO"}, {14, u"MINFO"}, {15, u"MX"},    {16, u"TXT"},    {17, u"RP"},     {18, u"AFSDB"},
    {24, u"SIG"},   {25, u"KEY"},   {28, u"AAAA"},  {29, u"LOC"},    {33, u"SRV"},    {35, u"NAPTR"},
    {39, u"DNAME"}, {41, u"OPT"},   {43, u"DS"},    {46, u"RRSIG"},  {47, u"NSEC"},   {48, u"DNSKEY"},
    {50, u"NSEC3"}, {52, u"TLSA"},  {64, u"SVCB"},  {65, u"HTTPS"},  {99, u"SPF"},    {249, u"TKEY"},
    {250, u"TSIG"}, {251, u"IXFR"}, {252, u"AXFR"}, {253, u"MAILB"}, {254, u"MAILA"}, {255, u"ANY"},
    {256, u"URI"},  {257, u"CAA"}};

void put16(String& out, unsigned v) {
  out += static_cast<char16_t>((v >> 8) & 0xFF);
  out += static_cast<char16_t>(v & 0xFF);
}

// The labels of a domain split at each "."; a final "." ends the name without an extra label.
std::vector<String> labels_of(const String& domain) {
  std::vector<String> labels{String()};
  for (char16_t c : domain) {
    if (c == u'.')
      labels.emplace_back();
    else
      labels.back() += c;
  }
  if (labels.size() > 1 && labels.back().empty()) labels.pop_back();
  return labels;
}

void put_label(String& out, const String& label) {
  out += static_cast<char16_t>(label.size() & 0xFF);
  for (char16_t c : label) out += static_cast<char16_t>(c & 0xFF);
}

}  // namespace

std::uint16_t DNSRequestTypeCode(TQNIDNSRequest Request) {
  return Request < kTypeCodes.size() ? kTypeCodes[Request] : 0;
}

bool DNSRequestFromName(const String& Name, TQNIDNSRequest& Request) {
  const String upper = UpperCase(Trim(Name));
  if (upper == u"*" || upper == u"ANY") {
    Request = irAll;
    return true;
  }
  for (std::size_t i = 0; i < kTypeCodes.size(); ++i)
    if (DNSTypeName(kTypeCodes[i]) == upper) {
      Request = static_cast<TQNIDNSRequest>(i);
      return true;
    }
  return false;
}

String DNSBuildQuery(TQNIDNSRequests Requests, const String& Domain) {
  return DNSBuildQuery(Requests, Domain, 0x125E, 0);
}

String DNSBuildQuery(TQNIDNSRequests Requests, const String& Domain, std::uint16_t ID,
                     std::uint16_t UDPPayload) {
  if (Requests.Empty() || Domain.empty()) return String();
  unsigned count = 0;
  for (std::size_t i = 0; i < kTypeCodes.size(); ++i)
    if (Requests.Contains(static_cast<TQNIDNSRequest>(i))) ++count;
  String out;
  put16(out, ID);
  put16(out, 0x0100);  // a standard query, recursion desired
  put16(out, count);
  put16(out, 0);
  put16(out, 0);
  put16(out, UDPPayload ? 1 : 0);
  const auto labels = labels_of(Domain);
  for (std::size_t i = 0; i < kTypeCodes.size(); ++i) {
    const auto request = static_cast<TQNIDNSRequest>(i);
    if (!Requests.Contains(request)) continue;
    std::uint8_t v6[16];
    if (request == irPTR && DNSParseIPv6(Domain, v6)) {
      // RFC 3596 section 2.5: the address's 32 nibbles, the last first, under ip6.arpa.
      static const char16_t* kNibbles = u"0123456789abcdef";
      for (int i = 15; i >= 0; --i) {
        put_label(out, String(1, kNibbles[v6[i] & 0xF]));
        put_label(out, String(1, kNibbles[v6[i] >> 4]));
      }
      put_label(out, u"ip6");
      put_label(out, u"arpa");
    } else if (request == irPTR) {
      for (auto it = labels.rbegin(); it != labels.rend(); ++it) put_label(out, *it);
      put_label(out, u"in-addr");
      put_label(out, u"arpa");
    } else {
      for (const auto& label : labels) put_label(out, label);
    }
    out += u'\0';
    put16(out, kTypeCodes[i]);
    put16(out, 1);
  }
  if (UDPPayload) {
    // RFC 6891 section 6.1.2: the root as owner, type OPT, the payload size in the class field,
    // extended code, version 0 and no flags in the TTL field, no options.
    out += u'\0';
    put16(out, 41);
    put16(out, UDPPayload);
    out.append(6, u'\0');
  }
  return out;
}

bool DNSParseIPv6(StringView Text, std::uint8_t (&Bytes)[16]) {
  // Up to eight groups of hex digits, at most one "::", and optionally a dotted IPv4 tail in
  // place of the last two groups.
  std::uint16_t head[8] = {}, tail[8] = {};
  int heads = 0, tails = 0;
  bool gap = false;
  std::size_t i = 0;
  if (Text.substr(0, 2) == u"::") {
    gap = true;
    i = 2;
  } else if (Text.empty() || Text[0] == u':') {
    return false;
  }
  while (i < Text.size()) {
    std::uint16_t* groups = gap ? tail : head;
    int& count = gap ? tails : heads;
    // A dotted tail: the rest of the text is an IPv4 address.
    const StringView rest = Text.substr(i);
    const auto colon = rest.find(u':');
    if (rest.find(u'.') != StringView::npos && colon == StringView::npos) {
      if (heads + tails + 2 > 8) return false;
      unsigned parts[4] = {}, n = 0, width = 0;
      for (char16_t c : rest) {
        if (c == u'.') {
          if (width == 0 || ++n > 3) return false;
          width = 0;
        } else if (c >= u'0' && c <= u'9' && ++width <= 3) {
          if (width > 1 && parts[n] == 0) return false;  // "00" or "01": as inet_pton, no octal look
          parts[n] = parts[n] * 10 + (c - u'0');
          if (parts[n] > 255) return false;
        } else {
          return false;
        }
      }
      if (width == 0) return false;
      if (n != 3) return false;
      groups[count++] = static_cast<std::uint16_t>(parts[0] << 8 | parts[1]);
      groups[count++] = static_cast<std::uint16_t>(parts[2] << 8 | parts[3]);
      i = Text.size();
      break;
    }
    const std::size_t digits = colon == StringView::npos ? rest.size() : colon;
    if (digits == 0 || digits > 4 || heads + tails >= 8) return false;
    unsigned v = 0;
    for (std::size_t k = 0; k < digits; ++k) {
      const char16_t c = rest[k];
      const int d = c >= u'0' && c <= u'9'   ? c - u'0'
                    : c >= u'a' && c <= u'f' ? c - u'a' + 10
                    : c >= u'A' && c <= u'F' ? c - u'A' + 10
                                             : -1;
      if (d < 0) return false;
      v = v << 4 | static_cast<unsigned>(d);
    }
    groups[count++] = static_cast<std::uint16_t>(v);
    i += digits;
    if (i == Text.size()) break;
    ++i;  // the ":"
    if (i < Text.size() && Text[i] == u':') {
      if (gap) return false;
      gap = true;
      ++i;
    } else if (i == Text.size()) {
      return false;  // a single trailing ":"
    }
  }
  if (gap ? heads + tails > 7 : heads != 8) return false;
  std::uint16_t all[8] = {};
  for (int k = 0; k < heads; ++k) all[k] = head[k];
  for (int k = 0; k < tails; ++k) all[8 - tails + k] = tail[k];
  for (int k = 0; k < 8; ++k) {
    Bytes[2 * k] = static_cast<std::uint8_t>(all[k] >> 8);
    Bytes[2 * k + 1] = static_cast<std::uint8_t>(all[k] & 0xFF);
  }
  return true;
}

String DNSTypeName(std::uint16_t Type) {
  for (const auto& t : kTypeNames)
    if (t.Code == Type) return t.Name;
  return u"TYPE" + IntToStr(Type);
}

String DNSClassName(std::uint16_t Class) {
  switch (Class) {
    case 1:
      return u"IN";
    case 3:
      return u"CH";
    case 4:
      return u"HS";
    case 254:
      return u"NONE";
    case 255:
      return u"ANY";
    default:
      return u"CLASS" + IntToStr(Class);
  }
}

String DNSRCodeName(unsigned RCode) {
  static const char16_t* kNames[] = {u"NOERROR",  u"FORMERR", u"SERVFAIL", u"NXDOMAIN", u"NOTIMP", u"REFUSED",
                                     u"YXDOMAIN", u"YXRRSET", u"NXRRSET",  u"NOTAUTH",  u"NOTZONE"};
  if (RCode < std::size(kNames)) return kNames[RCode];
  return u"RCODE" + IntToStr(RCode);
}

String DNSRecordLine(const TQNIDNSRecord& Record) {
  return Record.Name() + u" " + IntToStr(Record.TTL) + u" " + DNSClassName(Record.Class) + u" " +
         DNSTypeName(Record.Type) + u" " + Record.Data();
}

QNINET_DEFINE_ENUM_INFO(TQNIDNSTransport, "dtTCP", "dtUDP", "dtTLS", "dtHTTPS")
QNINET_DEFINE_ENUM_INFO(TQNIDoHMethod, "dmPOST", "dmGET")

QNINET_CLASS_INFO(TQNIDNSResolver,
                  Published("Requests", &Self::Requests, &Self::SetRequests, TQNIDNSRequests()),
                  Published("Domain", &Self::Domain, &Self::SetDomain),
                  Published("LengthPrefix", &Self::LengthPrefix, &Self::SetLengthPrefix, true),
                  Published("Transport", &Self::Transport, &Self::SetTransport, dtTCP),
                  Published("DoHURL", &Self::DoHURL, &Self::SetDoHURL, u""),
                  Published("DoHMethod", &Self::DoHMethod, &Self::SetDoHMethod, dmPOST),
                  Published("TLSAuthName", &Self::TLSAuthName, &Self::SetTLSAuthName, u""))

TQNIDNSResolver::TQNIDNSResolver(TComponent* AOwner) : TQNInetBase(AOwner) { SetPort(53); }

TQNIDNSResolver::~TQNIDNSResolver() { StopAsyncRun(); }

String TQNIDNSResolver::GetQuery() {
  if (FRequests.Empty() || FDomain.empty()) return String();
  if (Host().empty() && Address().empty()) return String();
  return DNSBuildQuery(FRequests, FDomain);
}

std::vector<TQNIDNSRequest> TQNIDNSResolver::asked() const {
  std::vector<TQNIDNSRequest> types;
  for (std::size_t i = 0; i < kTypeCodes.size(); ++i)
    if (FRequests.Contains(static_cast<TQNIDNSRequest>(i))) types.push_back(static_cast<TQNIDNSRequest>(i));
  return types;
}

void TQNIDNSResolver::BeforeExecute() {
  // One message per type: a server answers the first question of a message only. Without the
  // length field the engine reads to the close, so that form asks everything in one message.
  const bool oneMessage = FTransport == dtTCP && !FLengthPrefix;
  StepCount = oneMessage || FDomain.empty() ? 1 : std::max<Integer>(1, static_cast<Integer>(asked().size()));
  FResults.clear();
  TQNInetBase::BeforeExecute();
}

void TQNIDNSResolver::AfterExecute(String& Text) {
  TQNInetBase::AfterExecute(Text);
  const auto types = asked();
  if (types.empty() || FDomain.empty()) return;
  TQNIDNSResult result;
  result.Request = types[std::min<std::size_t>(static_cast<std::size_t>(CurrentStep), types.size() - 1)];
  DNSDecodeReply(Text, result.Reply, result.Error);
  FResults.push_back(std::move(result));
}

std::vector<TQNIDNSRecord> TQNIDNSResolver::Answers() const {
  std::vector<TQNIDNSRecord> all;
  for (const auto& result : FResults)
    all.insert(all.end(), result.Reply.Answers.begin(), result.Reply.Answers.end());
  return all;
}

String TQNIDNSResolver::AnswerText() const {
  String text;
  for (const auto& result : FResults)
    for (const auto& record : result.Reply.Answers) text += DNSRecordLine(record) + u"\n";
  return text;
}

}  // namespace qninet
