#include "qninet/socket/QNIDNS.h"

#include <array>
#include <cstdio>

#include "qninet/core/TextEncoding.h"

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

String hex_upper(StringView bytes) {
  static const char16_t* kDigits = u"0123456789ABCDEF";
  String out;
  for (char16_t b : bytes) {
    out += kDigits[(b >> 4) & 0xF];
    out += kDigits[b & 0xF];
  }
  return out;
}

String decimal3(unsigned v) {
  String out = u"\\";
  out += static_cast<char16_t>(u'0' + v / 100);
  out += static_cast<char16_t>(u'0' + (v / 10) % 10);
  out += static_cast<char16_t>(u'0' + v % 10);
  return out;
}

// A reader over the message that never steps outside it.
class Reader {
public:
  explicit Reader(const String& bytes) : FBytes(bytes) {}
  std::size_t Size() const { return FBytes.size(); }
  unsigned At(std::size_t i) const { return FBytes[i] & 0xFFu; }
  bool U16(std::size_t& at, std::uint16_t& v) const {
    if (at + 2 > FBytes.size()) return false;
    v = static_cast<std::uint16_t>((At(at) << 8) | At(at + 1));
    at += 2;
    return true;
  }
  bool U32(std::size_t& at, std::uint32_t& v) const {
    std::uint16_t hi = 0, lo = 0;
    if (!U16(at, hi) || !U16(at, lo)) return false;
    v = (static_cast<std::uint32_t>(hi) << 16) | lo;
    return true;
  }
  // A name at `at` (compression pointers followed, RFC 1035 section 4.1.4); `at` moves past the
  // name's own bytes. Labels are escaped as dig writes them.
  bool Name(std::size_t& at, String& name, String& error) const {
    name.clear();
    std::size_t pos = at;
    bool jumped = false;
    unsigned jumps = 0, length = 0;
    for (;;) {
      if (pos >= FBytes.size()) return fail(error, u"a name runs past the end of the message");
      const unsigned len = At(pos);
      if ((len & 0xC0) == 0xC0) {
        if (pos + 1 >= FBytes.size()) return fail(error, u"a compression pointer is cut short");
        const std::size_t target = ((len & 0x3F) << 8) | At(pos + 1);
        if (!jumped) at = pos + 2;
        jumped = true;
        if (++jumps > 128 || target >= FBytes.size())
          return fail(error, u"a compression pointer loops or points outside the message");
        pos = target;
        continue;
      }
      if ((len & 0xC0) != 0) return fail(error, u"a label of an unknown kind");
      ++pos;
      if (len == 0) break;
      if (pos + len > FBytes.size()) return fail(error, u"a label runs past the end of the message");
      length += len + 1;
      if (length > 255) return fail(error, u"a name is longer than 255 bytes");
      for (std::size_t i = 0; i < len; ++i) name += escape_name_byte(At(pos + i));
      name += u'.';
      pos += len;
    }
    if (!jumped) at = pos;
    if (name.empty()) name = u".";
    return true;
  }
  String Slice(std::size_t at, std::size_t n) const { return FBytes.substr(at, n); }

private:
  static bool fail(String& error, const char16_t* text) {
    error = text;
    return false;
  }
  static String escape_name_byte(unsigned b) {
    switch (b) {
      case '.':
      case '\\':
      case '"':
      case '(':
      case ')':
      case ';':
      case '@':
      case '$':
        return String(u"\\") + static_cast<char16_t>(b);
      default:
        if (b <= 0x20 || b >= 0x7F) return decimal3(b);
        return String(1, static_cast<char16_t>(b));
    }
  }
  const String& FBytes;
};

String character_string(const Reader& r, std::size_t at, std::size_t len) {
  String out = u"\"";
  for (std::size_t i = 0; i < len; ++i) {
    const unsigned b = r.At(at + i);
    if (b == '"' || b == '\\') {
      out += u'\\';
      out += static_cast<char16_t>(b);
    } else if (b < 0x20 || b >= 0x7F) {
      out += decimal3(b);
    } else {
      out += static_cast<char16_t>(b);
    }
  }
  return out + u"\"";
}

String ipv6_text(const Reader& r, std::size_t at) {
  std::array<unsigned, 8> group{};
  for (std::size_t i = 0; i < 8; ++i) group[i] = (r.At(at + 2 * i) << 8) | r.At(at + 2 * i + 1);
  // RFC 5952: the longest run of two or more zero groups (the first of equal runs) becomes "::".
  int best = -1, bestLen = 0;
  for (int i = 0; i < 8;) {
    if (group[i] != 0) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && group[j] == 0) ++j;
    if (j - i > bestLen && j - i >= 2) {
      best = i;
      bestLen = j - i;
    }
    i = j;
  }
  static const char16_t* kDigits = u"0123456789abcdef";
  auto hex = [](unsigned v) {
    String s;
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const unsigned d = (v >> shift) & 0xF;
      if (d || started || shift == 0) {
        s += kDigits[d];
        started = true;
      }
    }
    return s;
  };
  // An IPv4-mapped address, and an IPv4-compatible one (six zero groups, then anything but
  // 0.0.0.0 and 0.0.0.1, whose zero run is longer), keep the dotted tail, as inet_ntop writes it.
  if (best == 0 && (bestLen == 6 || (bestLen == 5 && group[5] == 0xFFFF))) {
    return String(bestLen == 5 ? u"::ffff:" : u"::") + IntToStr(r.At(at + 12)) + u"." +
           IntToStr(r.At(at + 13)) + u"." + IntToStr(r.At(at + 14)) + u"." + IntToStr(r.At(at + 15));
  }
  String out;
  for (int i = 0; i < 8; ++i) {
    if (i == best) {
      out += u"::";
      i += bestLen - 1;
      continue;
    }
    if (!out.empty() && out.back() != u':') out += u':';
    out += hex(group[i]);
  }
  return out;
}

// dig's default presentation splits long hex and Base64 fields into words of 56 characters.
String split56(const std::string& text) {
  String out;
  for (std::size_t i = 0; i < text.size(); i += 56) {
    if (i) out += u' ';
    out += FromUtf8(text.substr(i, 56));
  }
  return out;
}

String hex_words(StringView bytes) {
  const String hex = hex_upper(bytes);
  return split56(ToUtf8(hex));
}

String base64_words(StringView bytes) {
  std::string raw;
  for (char16_t b : bytes) raw += static_cast<char>(b & 0xFF);
  return split56(base64_encode(raw));
}

// A DNSSEC time (RFC 4034 section 3.2): seconds since 1970 written YYYYMMDDHHmmSS in UTC.
String dnssec_time(std::uint32_t t) {
  // Days to the civil date (proleptic Gregorian), after Howard Hinnant's algorithm.
  const std::int64_t z = t / 86400 + 719468;
  const std::int64_t era = z / 146097, doe = z - era * 146097;
  const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
  const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100), mp = (5 * doy + 2) / 153;
  const std::int64_t day = doy - (153 * mp + 2) / 5 + 1, month = mp < 10 ? mp + 3 : mp - 9;
  const std::int64_t year = yoe + era * 400 + (month <= 2);
  const std::uint32_t secs = t % 86400;
  char text[32];
  std::snprintf(text, sizeof text, "%04d%02d%02d%02u%02u%02u", static_cast<int>(year),
                static_cast<int>(month), static_cast<int>(day), secs / 3600, secs / 60 % 60, secs % 60);
  return FromUtf8(text);
}

// The record data as dig writes it; false when the data does not have its type's form.
bool render_data(const Reader& r, std::uint16_t type, std::size_t at, std::size_t len, String& out) {
  const std::size_t end = at + len;
  String error, a, b;
  std::size_t p = at;
  switch (type) {
    case 1:  // A
      if (len != 4) return false;
      out = IntToStr(r.At(at)) + u"." + IntToStr(r.At(at + 1)) + u"." + IntToStr(r.At(at + 2)) + u"." +
            IntToStr(r.At(at + 3));
      return true;
    case 11: {  // WKS: address, protocol number, then the port of each bit set, most significant first
      if (len < 5 || len > 5 + 8192) return false;
      out = IntToStr(r.At(at)) + u"." + IntToStr(r.At(at + 1)) + u"." + IntToStr(r.At(at + 2)) + u"." +
            IntToStr(r.At(at + 3)) + u" " + IntToStr(r.At(at + 4));
      for (std::size_t i = 5; i < len; ++i)
        for (unsigned bit = 0; bit < 8; ++bit)
          if (r.At(at + i) & (0x80u >> bit)) out += u" " + IntToStr(static_cast<int>((i - 5) * 8 + bit));
      return true;
    }
    case 28:  // AAAA
      if (len != 16) return false;
      out = ipv6_text(r, at);
      return true;
    case 2:
    case 3:
    case 4:
    case 5:
    case 7:
    case 8:
    case 9:
    case 12:
    case 39:
      if (!r.Name(p, a, error) || p != end) return false;
      out = a;
      return true;
    case 14:  // MINFO
      if (!r.Name(p, a, error) || !r.Name(p, b, error) || p != end) return false;
      out = a + u" " + b;
      return true;
    case 15: {  // MX
      std::uint16_t preference = 0;
      if (!r.U16(p, preference) || p > end || !r.Name(p, a, error) || p != end) return false;
      out = IntToStr(preference) + u" " + a;
      return true;
    }
    case 33: {  // SRV
      std::uint16_t priority = 0, weight = 0, port = 0;
      if (!r.U16(p, priority) || !r.U16(p, weight) || !r.U16(p, port) || p > end || !r.Name(p, a, error) ||
          p != end)
        return false;
      out = IntToStr(priority) + u" " + IntToStr(weight) + u" " + IntToStr(port) + u" " + a;
      return true;
    }
    case 6: {  // SOA
      if (!r.Name(p, a, error) || p > end || !r.Name(p, b, error)) return false;
      std::uint32_t v[5] = {};
      for (auto& x : v)
        if (!r.U32(p, x)) return false;
      if (p != end) return false;
      out = a + u" " + b;
      for (auto x : v) out += u" " + IntToStr(x);
      return true;
    }
    case 13:
    case 16:
    case 99: {  // HINFO, TXT, SPF: character-strings
      if (len == 0) return false;
      String text;
      unsigned strings = 0;
      while (p < end) {
        const std::size_t n = r.At(p);
        if (p + 1 + n > end) return false;
        if (!text.empty()) text += u' ';
        text += character_string(r, p + 1, n);
        p += 1 + n;
        ++strings;
      }
      if (type == 13 && strings != 2) return false;
      out = text;
      return true;
    }
    case 35: {  // NAPTR: order, preference, flags, services, regexp, replacement
      std::uint16_t order = 0, preference = 0;
      if (!r.U16(p, order) || !r.U16(p, preference) || p > end) return false;
      out = IntToStr(order) + u" " + IntToStr(preference);
      for (int i = 0; i < 3; ++i) {
        if (p >= end || p + 1 + r.At(p) > end) return false;
        out += u" " + character_string(r, p + 1, r.At(p));
        p += 1 + r.At(p);
      }
      if (!r.Name(p, a, error) || p != end) return false;
      out += u" " + a;
      return true;
    }
    case 43: {  // DS: key tag, algorithm, digest type, digest
      std::uint16_t tag = 0;
      if (len <= 4 || !r.U16(p, tag)) return false;
      out = IntToStr(tag) + u" " + IntToStr(r.At(at + 2)) + u" " + IntToStr(r.At(at + 3)) + u" " +
            hex_words(r.Slice(at + 4, len - 4));
      return true;
    }
    case 48: {  // DNSKEY: flags, protocol, algorithm, key
      std::uint16_t flags = 0;
      if (len <= 4 || !r.U16(p, flags)) return false;
      out = IntToStr(flags) + u" " + IntToStr(r.At(at + 2)) + u" " + IntToStr(r.At(at + 3)) + u" " +
            base64_words(r.Slice(at + 4, len - 4));
      return true;
    }
    case 46: {  // RRSIG
      std::uint16_t covered = 0, tag = 0;
      std::uint32_t ttl = 0, expiration = 0, inception = 0;
      if (!r.U16(p, covered) || p + 2 > end) return false;
      const unsigned algorithm = r.At(p), labels = r.At(p + 1);
      p += 2;
      if (!r.U32(p, ttl) || !r.U32(p, expiration) || !r.U32(p, inception) || !r.U16(p, tag) || p > end ||
          !r.Name(p, a, error) || p >= end)
        return false;
      out = DNSTypeName(covered) + u" " + IntToStr(algorithm) + u" " + IntToStr(labels) + u" " +
            IntToStr(ttl) + u" " + dnssec_time(expiration) + u" " + dnssec_time(inception) + u" " +
            IntToStr(tag) + u" " + a + u" " + base64_words(r.Slice(p, end - p));
      return true;
    }
    case 257: {  // CAA: flags, tag, value (RFC 8659)
      if (len < 2) return false;
      const unsigned flags = r.At(at), tagLength = r.At(at + 1);
      if (tagLength == 0 || 2 + tagLength > len) return false;
      String tag;
      for (std::size_t i = 0; i < tagLength; ++i) {
        const unsigned c = r.At(at + 2 + i);
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
        tag += static_cast<char16_t>(c);
      }
      out =
          IntToStr(flags) + u" " + tag + u" " + character_string(r, at + 2 + tagLength, len - 2 - tagLength);
      return true;
    }
    default:
      return false;
  }
}

bool read_record(const Reader& r, std::size_t& at, TQNIDNSRecord& rec, String& error) {
  if (!r.Name(at, rec.Name, error)) return false;
  std::uint16_t length = 0;
  if (!r.U16(at, rec.Type) || !r.U16(at, rec.Class) || !r.U32(at, rec.TTL) || !r.U16(at, length)) {
    error = u"a record is cut short";
    return false;
  }
  if (at + length > r.Size()) {
    error = u"a record's data runs past the end of the message";
    return false;
  }
  rec.RawData = r.Slice(at, length);
  if (!render_data(r, rec.Type, at, length, rec.Data))
    rec.Data = u"\\# " + IntToStr(length) + (length ? u" " + hex_upper(rec.RawData) : String());
  at += length;
  return true;
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
  if (Requests.Empty() || Domain.empty()) return String();
  unsigned count = 0;
  for (std::size_t i = 0; i < kTypeCodes.size(); ++i)
    if (Requests.Contains(static_cast<TQNIDNSRequest>(i))) ++count;
  String out = {0x12, 0x5E, 0x01, 0x00};
  put16(out, count);
  out.append(6, u'\0');
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

bool DNSDecodeReply(const String& Bytes, TQNIDNSReply& Reply, String& Error) {
  Reply = TQNIDNSReply();
  Error.clear();
  const Reader r(Bytes);
  std::size_t at = 0;
  std::uint16_t counts[4] = {};
  if (!r.U16(at, Reply.ID) || !r.U16(at, Reply.Flags) || !r.U16(at, counts[0]) || !r.U16(at, counts[1]) ||
      !r.U16(at, counts[2]) || !r.U16(at, counts[3])) {
    Error = u"the reply is shorter than a DNS header";
    return false;
  }
  for (unsigned i = 0; i < counts[0]; ++i) {
    TQNIDNSQuestion q;
    if (!r.Name(at, q.Name, Error)) return false;
    if (!r.U16(at, q.Type) || !r.U16(at, q.Class)) {
      Error = u"a question is cut short";
      return false;
    }
    Reply.Questions.push_back(std::move(q));
  }
  std::vector<TQNIDNSRecord>* sections[3] = {&Reply.Answers, &Reply.Authority, &Reply.Additional};
  for (int s = 0; s < 3; ++s) {
    for (unsigned i = 0; i < counts[s + 1]; ++i) {
      TQNIDNSRecord rec;
      if (!read_record(r, at, rec, Error)) return false;
      sections[s]->push_back(std::move(rec));
    }
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
  return Record.Name + u" " + IntToStr(Record.TTL) + u" " + DNSClassName(Record.Class) + u" " +
         DNSTypeName(Record.Type) + u" " + Record.Data;
}

QNINET_CLASS_INFO(TQNIDNSResolver,
                  Published("Requests", &Self::Requests, &Self::SetRequests, TQNIDNSRequests()),
                  Published("Domain", &Self::Domain, &Self::SetDomain),
                  Published("LengthPrefix", &Self::LengthPrefix, &Self::SetLengthPrefix, true))

TQNIDNSResolver::TQNIDNSResolver(TComponent* AOwner) : TQNInetBase(AOwner) { SetPort(53); }

TQNIDNSResolver::~TQNIDNSResolver() = default;

String TQNIDNSResolver::GetQuery() {
  if (FRequests.Empty() || FDomain.empty()) return String();
  if (Host().empty() && Address().empty()) return String();
  return DNSBuildQuery(FRequests, FDomain);
}

String TQNIDNSResolver::InternalExecute() {
  if (!FLengthPrefix) return TQNInetBase::InternalExecute();
  const String query = GetQuery();
  if (query.empty()) return String();
  // RFC 1035 section 4.2.2: on TCP each message is preceded by its length, high byte first.
  String framed;
  put16(framed, static_cast<unsigned>(query.size() & 0xFFFF));
  framed += query;
  if (SendToSocket(framed) <= 0) return u"No answer from server";
  // The server keeps the connection open for more queries: one frame is the whole answer.
  TLengthPrefixedFrame reply;
  if (ReceiveFramed(reply) != reComplete)
    throw ESocketError(u"The DNS server closed the connection before its reply was complete");
  return reply.Message();
}

}  // namespace qninet
