// Record data as dig writes it, one renderer per type in a table, and the typed readers of the
// common types that the renderers of those types write from.
#include <algorithm>
#include <array>
#include <cstdio>

#include "qninet/core/TextEncoding.h"
#include "qninet/socket/DNSWire.h"

namespace qninet::dns {

String decimal3(unsigned v) {
  String out = u"\\";
  out += static_cast<char16_t>(u'0' + v / 100);
  out += static_cast<char16_t>(u'0' + (v / 10) % 10);
  out += static_cast<char16_t>(u'0' + v % 10);
  return out;
}

namespace {

String hex_upper(const Reader& r, std::size_t at, std::size_t n) {
  static const char16_t* kDigits = u"0123456789ABCDEF";
  String out;
  out.reserve(2 * n);
  for (std::size_t i = at; i < at + n; ++i) {
    out += kDigits[r.At(i) >> 4];
    out += kDigits[r.At(i) & 0xF];
  }
  return out;
}

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

String dotted(const Reader& r, std::size_t from) {
  return IntToStr(r.At(from)) + u"." + IntToStr(r.At(from + 1)) + u"." + IntToStr(r.At(from + 2)) + u"." +
         IntToStr(r.At(from + 3));
}

// A group in lower-case hex without leading zeros.
String hex_group(unsigned v) {
  static const char16_t* kDigits = u"0123456789abcdef";
  String s;
  for (int shift = 12; shift >= 0; shift -= 4)
    if (const unsigned d = (v >> shift) & 0xF; d || !s.empty() || shift == 0) s += kDigits[d];
  return s;
}

// RFC 5952: the longest run of two or more zero groups (the first of equal runs) becomes "::".
String ipv6_text(const Reader& r, std::size_t at) {
  std::array<unsigned, 8> group{};
  for (std::size_t i = 0; i < 8; ++i) group[i] = (r.At(at + 2 * i) << 8) | r.At(at + 2 * i + 1);
  int best = -1, bestLen = 0;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && group[j] == 0) ++j;
    if (j - i > bestLen && j - i >= 2) {
      best = i;
      bestLen = j - i;
    }
    i = j == i ? i + 1 : j;
  }
  // An IPv4-mapped address, and an IPv4-compatible one (six zero groups, then anything but
  // 0.0.0.0 and 0.0.0.1, whose zero run is longer), keep the dotted tail, as inet_ntop writes it.
  if (best == 0 && (bestLen == 6 || (bestLen == 5 && group[5] == 0xFFFF)))
    return String(bestLen == 5 ? u"::ffff:" : u"::") + dotted(r, at + 12);
  String out;
  for (int i = 0; i < 8; ++i) {
    if (i == best) {
      out += u"::";
      i += bestLen - 1;
      continue;
    }
    if (!out.empty() && out.back() != u':') out += u':';
    out += hex_group(group[i]);
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

String hex_words(const Reader& r, std::size_t at, std::size_t n) {
  return split56(ToUtf8(hex_upper(r, at, n)));
}

String base64_words(const Reader& r, std::size_t at, std::size_t n) {
  return split56(base64_encode(ToBytes(r.Slice(at, n))));
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

// Each renderer writes one type's data as dig does; false when the data does not have the
// type's form.
using Renderer = bool (*)(const Data&, String&);

bool render_a(const Data& d, String& out) {
  if (d.Len != 4) return false;
  out = dotted(d.R, d.At);
  return true;
}

bool render_aaaa(const Data& d, String& out) {
  if (d.Len != 16) return false;
  out = ipv6_text(d.R, d.At);
  return true;
}

// WKS: address, protocol number, then the port of each bit set, most significant first. The text
// is sized before it is written: a map of 8 KiB lists up to 65,536 ports, and neither a string
// per port nor the slack of a growing one may multiply what the record holds.
bool render_wks(const Data& d, String& out) {
  if (d.Len < 5 || d.Len > 5 + 8192) return false;
  const auto digits = [](std::size_t v) {
    return v < 10 ? 1 : v < 100 ? 2 : v < 1000 ? 3 : v < 10000 ? 4 : 5;
  };
  const String head = dotted(d.R, d.At) + u" " + IntToStr(d.R.At(d.At + 4));
  std::size_t size = head.size();
  for (std::size_t i = 5; i < d.Len; ++i)
    for (unsigned bit = 0; bit < 8; ++bit)
      if (d.R.At(d.At + i) & (0x80u >> bit)) size += 1 + digits((i - 5) * 8 + bit);
  out.clear();
  out.reserve(size);
  out += head;
  for (std::size_t i = 5; i < d.Len; ++i)
    for (unsigned bit = 0; bit < 8; ++bit)
      if (d.R.At(d.At + i) & (0x80u >> bit)) {
        std::size_t port = (i - 5) * 8 + bit;
        char16_t text[6];
        const int n = digits(port);
        for (int k = n; k > 0; port /= 10) text[--k] = static_cast<char16_t>(u'0' + port % 10);
        out += u' ';
        out.append(text, n);
      }
  return true;
}

// NS, MD, MF, CNAME, MB, MG, MR, PTR, DNAME: one name.
bool render_name(const Data& d, String& out) {
  std::size_t p = d.At;
  return d.R.NameWithin(p, d.End(), out) && p == d.End();
}

bool render_minfo(const Data& d, String& out) {
  String a, b;
  std::size_t p = d.At;
  if (!d.R.NameWithin(p, d.End(), a) || !d.R.NameWithin(p, d.End(), b) || p != d.End()) return false;
  out = a + u" " + b;
  return true;
}

bool render_mx(const Data& d, String& out) {
  const auto mx = read_mx(d);
  if (mx) out = IntToStr(mx->Preference) + u" " + mx->Exchange;
  return mx.has_value();
}

bool render_srv(const Data& d, String& out) {
  const auto s = read_srv(d);
  if (s)
    out = IntToStr(s->Priority) + u" " + IntToStr(s->Weight) + u" " + IntToStr(s->Port) + u" " + s->Target;
  return s.has_value();
}

bool render_soa(const Data& d, String& out) {
  const auto s = read_soa(d);
  if (!s) return false;
  out = s->MName + u" " + s->RName;
  for (auto x : {s->Serial, s->Refresh, s->Retry, s->Expire, s->Minimum}) {
    out += u' ';
    out += IntToStr(x);
  }
  return true;
}

// TXT, SPF: one or more character-strings; `strings` counts them.
bool character_strings(const Data& d, String& out, unsigned& strings) {
  if (d.Len == 0) return false;
  out.clear();
  strings = 0;
  for (std::size_t p = d.At; p < d.End(); ++strings) {
    const std::size_t n = d.R.At(p);
    if (p + 1 + n > d.End()) return false;
    if (!out.empty()) out += u' ';
    out += character_string(d.R, p + 1, n);
    p += 1 + n;
  }
  return true;
}

bool render_text(const Data& d, String& out) {
  unsigned strings = 0;
  return character_strings(d, out, strings);
}

// HINFO: exactly two character-strings, CPU and OS.
bool render_hinfo(const Data& d, String& out) {
  unsigned strings = 0;
  return character_strings(d, out, strings) && strings == 2;
}

// NAPTR: order, preference, flags, services, regexp, replacement.
bool render_naptr(const Data& d, String& out) {
  String a;
  std::size_t p = d.At;
  std::uint16_t order = 0, preference = 0;
  if (!d.R.U16(p, order) || !d.R.U16(p, preference) || p > d.End()) return false;
  out = IntToStr(order) + u" " + IntToStr(preference);
  for (int i = 0; i < 3; ++i) {
    if (p >= d.End() || p + 1 + d.R.At(p) > d.End()) return false;
    out += u' ';
    out += character_string(d.R, p + 1, d.R.At(p));
    p += 1 + d.R.At(p);
  }
  if (!d.R.NameWithin(p, d.End(), a) || p != d.End()) return false;
  out += u" " + a;
  return true;
}

// DS and DNSKEY: a 16-bit field, two octets, then a digest in hex or a key in Base64.
template <String (*Words)(const Reader&, std::size_t, std::size_t)>
bool render_key_like(const Data& d, String& out) {
  std::size_t p = d.At;
  std::uint16_t first = 0;
  if (d.Len <= 4 || !d.R.U16(p, first)) return false;
  out = IntToStr(first) + u" " + IntToStr(d.R.At(d.At + 2)) + u" " + IntToStr(d.R.At(d.At + 3)) + u" " +
        Words(d.R, d.At + 4, d.Len - 4);
  return true;
}

bool render_rrsig(const Data& d, String& out) {
  String signer;
  std::size_t p = d.At;
  std::uint16_t covered = 0, tag = 0;
  std::uint32_t ttl = 0, expiration = 0, inception = 0;
  if (!d.R.U16(p, covered) || p + 2 > d.End()) return false;
  const unsigned algorithm = d.R.At(p), labels = d.R.At(p + 1);
  p += 2;
  if (!d.R.U32(p, ttl) || !d.R.U32(p, expiration) || !d.R.U32(p, inception) || !d.R.U16(p, tag) ||
      !d.R.NameWithin(p, d.End(), signer) || p >= d.End())
    return false;
  out = DNSTypeName(covered) + u" " + IntToStr(algorithm) + u" " + IntToStr(labels) + u" " + IntToStr(ttl) +
        u" " + dnssec_time(expiration) + u" " + dnssec_time(inception) + u" " + IntToStr(tag) + u" " +
        signer + u" " + base64_words(d.R, p, d.End() - p);
  return true;
}

// CAA: flags, tag, value (RFC 8659).
bool render_caa(const Data& d, String& out) {
  if (d.Len < 2) return false;
  const unsigned flags = d.R.At(d.At), tagLength = d.R.At(d.At + 1);
  if (tagLength == 0 || 2 + tagLength > d.Len) return false;
  String tag;
  for (std::size_t i = 0; i < tagLength; ++i) {
    const unsigned c = d.R.At(d.At + 2 + i);
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return false;
    tag += static_cast<char16_t>(c);
  }
  out = IntToStr(flags) + u" " + tag + u" " +
        character_string(d.R, d.At + 2 + tagLength, d.Len - 2 - tagLength);
  return true;
}

struct RendererOf {
  std::uint16_t Type;
  Renderer Render;
};
constexpr RendererOf kRenderers[] = {{1, render_a},      {2, render_name},
                                     {3, render_name},   {4, render_name},
                                     {5, render_name},   {6, render_soa},
                                     {7, render_name},   {8, render_name},
                                     {9, render_name},   {11, render_wks},
                                     {12, render_name},  {13, render_hinfo},
                                     {14, render_minfo}, {15, render_mx},
                                     {16, render_text},  {28, render_aaaa},
                                     {33, render_srv},   {35, render_naptr},
                                     {39, render_name},  {43, render_key_like<hex_words>},
                                     {46, render_rrsig}, {48, render_key_like<base64_words>},
                                     {99, render_text},  {257, render_caa}};

}  // namespace

std::optional<TQNIDNSAddress> read_address(const Data& d) {
  if (d.Len != 4 && d.Len != 16) return std::nullopt;
  TQNIDNSAddress a;
  a.IPv6 = d.Len == 16;
  for (std::size_t i = 0; i < d.Len; ++i) a.Bytes[i] = static_cast<std::uint8_t>(d.R.At(d.At + i));
  a.Text = a.IPv6 ? ipv6_text(d.R, d.At) : dotted(d.R, d.At);
  return a;
}

std::optional<TQNIDNSMX> read_mx(const Data& d) {
  TQNIDNSMX mx;
  std::size_t p = d.At;
  if (!d.R.U16(p, mx.Preference) || !d.R.NameWithin(p, d.End(), mx.Exchange) || p != d.End())
    return std::nullopt;
  return mx;
}

std::optional<TQNIDNSSRV> read_srv(const Data& d) {
  TQNIDNSSRV s;
  std::size_t p = d.At;
  if (!d.R.U16(p, s.Priority) || !d.R.U16(p, s.Weight) || !d.R.U16(p, s.Port) ||
      !d.R.NameWithin(p, d.End(), s.Target) || p != d.End())
    return std::nullopt;
  return s;
}

std::optional<TQNIDNSSOA> read_soa(const Data& d) {
  TQNIDNSSOA s;
  std::size_t p = d.At;
  if (!d.R.NameWithin(p, d.End(), s.MName) || !d.R.NameWithin(p, d.End(), s.RName)) return std::nullopt;
  for (std::uint32_t* x : {&s.Serial, &s.Refresh, &s.Retry, &s.Expire, &s.Minimum})
    if (!d.R.U32(p, *x)) return std::nullopt;
  if (p != d.End()) return std::nullopt;
  return s;
}

std::optional<std::vector<String>> read_strings(const Data& d) {
  if (d.Len == 0) return std::nullopt;
  std::vector<String> strings;
  for (std::size_t p = d.At; p < d.End();) {
    const std::size_t n = d.R.At(p);
    if (p + 1 + n > d.End()) return std::nullopt;
    strings.push_back(d.R.Slice(p + 1, n));
    p += 1 + n;
  }
  return strings;
}

String render_data(const Data& d, std::uint16_t type) {
  String out;
  for (const auto& k : kRenderers)
    if (k.Type == type) {
      if (k.Render(d, out)) return out;
      break;
    }
  out = u"\\# " + IntToStr(d.Len);
  if (d.Len) {
    out += u' ';
    out += hex_upper(d.R, d.At, d.Len);
  }
  return out;
}

}  // namespace qninet::dns
