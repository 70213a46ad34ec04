// Reading a DNS reply: the header, the questions and the records of each section, with the
// record data written as dig writes it.
#include "qninet/socket/QNIDNS.h"

#include <algorithm>
#include <array>
#include <cstdio>

#include "qninet/core/TextEncoding.h"

namespace qninet {

namespace {

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

// Each renderer writes one type's data as dig does; false when the data does not have the
// type's form, and the record then reads as unknown data ("\# N HEX", RFC 3597).
struct Data {
  const Reader& R;
  std::size_t At, Len;
  std::size_t End() const { return At + Len; }
  String dotted(std::size_t from) const {
    return IntToStr(R.At(from)) + u"." + IntToStr(R.At(from + 1)) + u"." + IntToStr(R.At(from + 2)) + u"." +
           IntToStr(R.At(from + 3));
  }
};
using Renderer = bool (*)(const Data&, String&);

bool render_a(const Data& d, String& out) {
  if (d.Len != 4) return false;
  out = d.dotted(d.At);
  return true;
}

// WKS: address, protocol number, then the port of each bit set, most significant first.
bool render_wks(const Data& d, String& out) {
  if (d.Len < 5 || d.Len > 5 + 8192) return false;
  out = d.dotted(d.At) + u" " + IntToStr(d.R.At(d.At + 4));
  for (std::size_t i = 5; i < d.Len; ++i)
    for (unsigned bit = 0; bit < 8; ++bit)
      if (d.R.At(d.At + i) & (0x80u >> bit))
        out.append(u" ").append(IntToStr(static_cast<int>((i - 5) * 8 + bit)));
  return true;
}

bool render_aaaa(const Data& d, String& out) {
  if (d.Len != 16) return false;
  out = ipv6_text(d.R, d.At);
  return true;
}

// NS, MD, MF, CNAME, MB, MG, MR, PTR, DNAME: one name.
bool render_name(const Data& d, String& out) {
  String error;
  std::size_t p = d.At;
  return d.R.Name(p, out, error) && p == d.End();
}

bool render_minfo(const Data& d, String& out) {
  String error, a, b;
  std::size_t p = d.At;
  if (!d.R.Name(p, a, error) || !d.R.Name(p, b, error) || p != d.End()) return false;
  out = a + u" " + b;
  return true;
}

bool render_mx(const Data& d, String& out) {
  String error, a;
  std::size_t p = d.At;
  std::uint16_t preference = 0;
  if (!d.R.U16(p, preference) || p > d.End() || !d.R.Name(p, a, error) || p != d.End()) return false;
  out = IntToStr(preference) + u" " + a;
  return true;
}

bool render_srv(const Data& d, String& out) {
  String error, a;
  std::size_t p = d.At;
  std::uint16_t priority = 0, weight = 0, port = 0;
  if (!d.R.U16(p, priority) || !d.R.U16(p, weight) || !d.R.U16(p, port) || p > d.End() ||
      !d.R.Name(p, a, error) || p != d.End())
    return false;
  out = IntToStr(priority) + u" " + IntToStr(weight) + u" " + IntToStr(port) + u" " + a;
  return true;
}

bool render_soa(const Data& d, String& out) {
  String error, a, b;
  std::size_t p = d.At;
  if (!d.R.Name(p, a, error) || p > d.End() || !d.R.Name(p, b, error)) return false;
  std::uint32_t v[5] = {};
  for (auto& x : v)
    if (!d.R.U32(p, x)) return false;
  if (p != d.End()) return false;
  out = a + u" " + b;
  for (auto x : v) out += u" " + IntToStr(x);
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
  String error, a;
  std::size_t p = d.At;
  std::uint16_t order = 0, preference = 0;
  if (!d.R.U16(p, order) || !d.R.U16(p, preference) || p > d.End()) return false;
  out = IntToStr(order) + u" " + IntToStr(preference);
  for (int i = 0; i < 3; ++i) {
    if (p >= d.End() || p + 1 + d.R.At(p) > d.End()) return false;
    out += u" " + character_string(d.R, p + 1, d.R.At(p));
    p += 1 + d.R.At(p);
  }
  if (!d.R.Name(p, a, error) || p != d.End()) return false;
  out += u" " + a;
  return true;
}

// DS and DNSKEY: a 16-bit field, two octets, then a digest in hex or a key in Base64.
template <String (*Words)(StringView)>
bool render_key_like(const Data& d, String& out) {
  std::size_t p = d.At;
  std::uint16_t first = 0;
  if (d.Len <= 4 || !d.R.U16(p, first)) return false;
  out = IntToStr(first) + u" " + IntToStr(d.R.At(d.At + 2)) + u" " + IntToStr(d.R.At(d.At + 3)) + u" " +
        Words(d.R.Slice(d.At + 4, d.Len - 4));
  return true;
}

bool render_rrsig(const Data& d, String& out) {
  String error, signer;
  std::size_t p = d.At;
  std::uint16_t covered = 0, tag = 0;
  std::uint32_t ttl = 0, expiration = 0, inception = 0;
  if (!d.R.U16(p, covered) || p + 2 > d.End()) return false;
  const unsigned algorithm = d.R.At(p), labels = d.R.At(p + 1);
  p += 2;
  if (!d.R.U32(p, ttl) || !d.R.U32(p, expiration) || !d.R.U32(p, inception) || !d.R.U16(p, tag) ||
      p > d.End() || !d.R.Name(p, signer, error) || p >= d.End())
    return false;
  out = DNSTypeName(covered) + u" " + IntToStr(algorithm) + u" " + IntToStr(labels) + u" " + IntToStr(ttl) +
        u" " + dnssec_time(expiration) + u" " + dnssec_time(inception) + u" " + IntToStr(tag) + u" " +
        signer + u" " + base64_words(d.R.Slice(p, d.End() - p));
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

// The record data as dig writes it; false when the data does not have its type's form.
bool render_data(const Reader& r, std::uint16_t type, std::size_t at, std::size_t len, String& out) {
  for (const auto& k : kRenderers)
    if (k.Type == type) return k.Render(Data{r, at, len}, out);
  return false;
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

namespace {

// The header and the questions into `Reply`, then each record to `onRecord`; `keep` reserves
// the record lists of `Reply` first, up to what the rest of the message can hold (a record
// takes at least 11 bytes), so they never hold the slack of doubling.
// The header and the questions; `at` moves past them.
bool read_head(const Reader& r, std::size_t& at, TQNIDNSReply& Reply, std::uint16_t (&counts)[4],
               String& Error) {
  Reply = TQNIDNSReply();
  Error.clear();
  at = 0;
  if (!r.U16(at, Reply.ID) || !r.U16(at, Reply.Flags) || !r.U16(at, counts[0]) || !r.U16(at, counts[1]) ||
      !r.U16(at, counts[2]) || !r.U16(at, counts[3])) {
    Error = u"the reply is shorter than a DNS header";
    return false;
  }
  Reply.Questions.reserve(std::min<std::size_t>(counts[0], (r.Size() - at) / 5));
  for (unsigned i = 0; i < counts[0]; ++i) {
    TQNIDNSQuestion q;
    if (!r.Name(at, q.Name, Error)) return false;
    if (!r.U16(at, q.Type) || !r.U16(at, q.Class)) {
      Error = u"a question is cut short";
      return false;
    }
    Reply.Questions.push_back(std::move(q));
  }
  return true;
}

bool decode_reply(const String& Bytes, TQNIDNSReply& Reply, String& Error, bool keep,
                  const TQNIDNSRecordSink& onRecord) {
  const Reader r(Bytes);
  std::size_t at = 0;
  std::uint16_t counts[4] = {};
  if (!read_head(r, at, Reply, counts, Error)) return false;
  std::vector<TQNIDNSRecord>* sections[3] = {&Reply.Answers, &Reply.Authority, &Reply.Additional};
  for (int s = 0; s < 3; ++s) {
    if (keep) sections[s]->reserve(std::min<std::size_t>(counts[s + 1], (r.Size() - at) / 11));
    for (unsigned i = 0; i < counts[s + 1]; ++i) {
      TQNIDNSRecord rec;
      if (!read_record(r, at, rec, Error)) return false;
      onRecord(s, rec);
    }
  }
  return true;
}

}  // namespace

bool DNSReplyMatches(const String& Query, const String& Reply) {
  TQNIDNSReply asked, got;
  std::uint16_t counts[4] = {};
  std::size_t at = 0;
  String error;
  if (!read_head(Reader(Query), at, asked, counts, error) ||
      !read_head(Reader(Reply), at, got, counts, error))
    return false;
  if (got.ID != asked.ID || !(got.Flags & 0x8000u)) return false;
  if (got.Questions.empty()) return got.RCode() != 0;
  // A server that answers only the first of several questions echoes only that one.
  if (got.Questions.size() > asked.Questions.size()) return false;
  for (std::size_t i = 0; i < got.Questions.size(); ++i) {
    const TQNIDNSQuestion &a = asked.Questions[i], &g = got.Questions[i];
    // Names may come back in another case (RFC 4343; the 0x20 trick of resolvers).
    if (a.Type != g.Type || a.Class != g.Class || UpperCase(a.Name) != UpperCase(g.Name)) return false;
  }
  return true;
}

bool DNSDecodeReply(const String& Bytes, TQNIDNSReply& Reply, String& Error) {
  std::vector<TQNIDNSRecord>* sections[3] = {&Reply.Answers, &Reply.Authority, &Reply.Additional};
  return decode_reply(Bytes, Reply, Error, true,
                      [&](int s, TQNIDNSRecord& rec) { sections[s]->push_back(std::move(rec)); });
}

bool DNSDecodeReply(const String& Bytes, TQNIDNSReply& Reply, String& Error,
                    const TQNIDNSRecordSink& OnRecord) {
  return decode_reply(Bytes, Reply, Error, false, OnRecord);
}

}  // namespace qninet
