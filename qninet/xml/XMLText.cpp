// The engine's text functions: entity decoding, case-blind names, dates, attribute lists and
// tag values.

#include <cstdint>

#include "qninet/core/Entities.h"
#include "qninet/sys/AsciiText.h"
#include "qninet/sys/Utf8.h"
#include "qninet/xml/QNInetXML.h"

namespace qninet {

namespace {

constexpr bool is_blank(char16_t c) { return c == 9 || c == 10 || c == 13 || c == 32; }

// A value that starts with a double quote loses it, and its trailing blanks and quotes.
void strip_quotes(String& text) {
  if (!text.empty() && text[0] == u'"') {
    while (!text.empty() && (text.back() == 32 || text.back() == 34 || text.back() == 13 ||
                             text.back() == 10 || text.back() == 9))
      text.pop_back();
    if (!text.empty()) text.erase(0, 1);
  }
}

void append_code_point(String& out, char32_t cp) {
  if (cp == 0 || cp > 0x10FFFF || (cp >= 0xD800 && cp < 0xE000)) {
    out.push_back(0xFFFD);
  } else {
    sys::append_utf16(out, cp);
  }
}

int hex_digit(char16_t c) {
  if (c >= u'0' && c <= u'9') return c - u'0';
  if (c >= u'a' && c <= u'f') return c - u'a' + 10;
  if (c >= u'A' && c <= u'F') return c - u'A' + 10;
  return -1;
}

// A complete "&#N;" or "&#xH;" at `i`: its length and code point (over-long numbers give
// an out-of-range code point). 0 when there is none.
std::size_t numeric_reference(StringView s, std::size_t i, char32_t& cp) {
  std::size_t j = i + 2;
  if (j > s.size() || s[i + 1] != u'#') return 0;
  const bool hex = j < s.size() && (s[j] == u'x' || s[j] == u'X');
  if (hex) ++j;
  const std::size_t first = j;
  std::uint64_t v = 0;
  while (j < s.size()) {
    const int d = hex ? hex_digit(s[j]) : (s[j] >= u'0' && s[j] <= u'9' ? s[j] - u'0' : -1);
    if (d < 0) break;
    v = v * (hex ? 16 : 10) + static_cast<unsigned>(d);
    if (v > 0x10FFFF) v = 0x110000;
    ++j;
  }
  if (j == first || j >= s.size() || s[j] != u';') return 0;
  cp = static_cast<char32_t>(v);
  return j + 1 - i;
}

}  // namespace

String DecodeXMLEntities(StringView s) {
  String out;
  out.reserve(s.size());
  std::size_t i = 0;
  while (i < s.size()) {
    const std::size_t amp = s.find(u'&', i);
    if (amp == StringView::npos) {
      out.append(s.substr(i));
      break;
    }
    out.append(s.substr(i, amp - i));
    i = amp;
    char32_t cp = 0;
    if (const std::size_t n = numeric_reference(s, i, cp)) {
      append_code_point(out, cp);
      i += n;
      continue;
    }
    if (const entities::Entity* e = entities::match_prefix(s.substr(i))) {
      out.append(e->Replacement);
      i += e->Name.size();
      if (i < s.size() && s[i] == u';') ++i;
    } else {
      out.push_back(u'&');
      ++i;
    }
  }
  return out;
}

bool SameStrings(bool Exact, StringView S1, StringView S2) {
  if (Exact) return S1 == S2;
  return sys::equal_ascii_nocase(S1, S2);
}

TDateTime XMLStringToDateTime(const String& S) {
  if (S.empty()) return 0;
  // Fixed 1-based positions: yyyy-mm-ddThh:nn:ss; separators are not examined.
  auto field = [&](std::size_t pos, std::size_t len, int& out) {
    if (pos - 1 >= S.size()) return false;
    const StringView f = StringView(S).substr(pos - 1, len);
    if (f.empty()) return false;
    constexpr Integer kBad = -2147483647 - 1;
    out = StrToIntDef(f, kBad);
    return out != kBad;
  };
  int y = 0, mo = 0, d = 0, h = 0, mi = 0, sec = 0;
  if (!field(1, 4, y) || !field(6, 2, mo) || !field(9, 2, d) || !field(12, 2, h) || !field(15, 2, mi) ||
      !field(18, 2, sec))
    return 0;
  TDateTime date = 0, time = 0;
  if (!TryEncodeDate(y, mo, d, date) || !TryEncodeTime(h, mi, sec, 0, time)) return 0;
  return ComposeDateTime(date, time);
}

String TQNXMLItem::GetTagXMLValue() const {
  String text = FValueText;
  strip_quotes(text);
  return text;
}

String XMLTagValue(StringView Value) {
  String text(Value);
  strip_quotes(text);
  if (text.find(u'&') == String::npos) return text;
  return DecodeXMLEntities(text);
}

String TQNXMLItem::GetTagValue() const { return XMLTagValue(FValueText); }

void SplitXMLAttributes(StringView attrs, const std::function<void(String, String)>& Add) {
  String name, value;
  bool inQuote = false, inName = true;
  const std::size_t n = attrs.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = attrs[i];
    if (c == u'"') inQuote = !inQuote;
    if (!inQuote && c == u'=')
      inName = false;
    else
      (inName ? name : value).push_back(c);
    if (!inQuote && (is_blank(c) || i + 1 == n)) {
      if (!name.empty() && !value.empty()) Add(std::move(name), std::move(value));
      name.clear();
      value.clear();
      inName = true;
    }
  }
}

}  // namespace qninet
