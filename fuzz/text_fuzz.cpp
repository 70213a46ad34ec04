// Checks Utf8Decode and ReplaceHTMLChars against straightforward reference versions, and that
// an element's GetTagValue never lengthens its text and reads an escaped text back whole.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "FuzzCheck.h"
#include "qninet/core/qniutil.h"
#include "qninet/xml/QNInetXML.h"

using qninet::String;
using qninet::TQNXMLItem;

namespace {

// UTF-8 read one unit per character, written for clarity rather than speed.
String reference_utf8(const String& s) {
  String out;
  std::size_t i = 0;
  auto u = [&](std::size_t k) { return static_cast<unsigned>(s[k] & 0xFF); };
  auto cont = [&](std::size_t k) { return k < s.size() && (u(k) & 0xC0) == 0x80; };
  while (i < s.size()) {
    if ((s[i] & 0x80) == 0) {
      out.push_back(s[i++]);
      continue;
    }
    const unsigned lead = u(i);
    if ((lead & 0xF8) == 0xF0) {
      if (!cont(i + 1) || !cont(i + 2) || !cont(i + 3)) return {};
      char32_t cp = (lead & 7) << 18 | (u(i + 1) & 0x3F) << 12 | (u(i + 2) & 0x3F) << 6 | (u(i + 3) & 0x3F);
      if (cp > 0x10FFFF) return {};
      if (cp >= 0x10000) {
        cp -= 0x10000;
        out.push_back(static_cast<char16_t>(0xD800 | (cp >> 10)));
        out.push_back(static_cast<char16_t>(0xDC00 | (cp & 0x3FF)));
      } else {
        out.push_back(static_cast<char16_t>(cp));
      }
      i += 4;
    } else if (lead & 0x20) {
      if (!cont(i + 1) || !cont(i + 2)) return {};
      out.push_back(
          static_cast<char16_t>(((lead & 0x3F) << 12 | (u(i + 1) & 0x3F) << 6 | (u(i + 2) & 0x3F)) & 0xFFFF));
      i += 3;
    } else {
      if (!cont(i + 1)) return {};
      out.push_back(static_cast<char16_t>((lead & 0x3F) << 6 | (u(i + 1) & 0x3F)));
      i += 2;
    }
  }
  return out;
}

const std::pair<const char16_t*, const char16_t*> kTable[] = {
    {u"&brvbar", u"|"}, {u"&deg", u"\u00B0"}, {u"&plusmn", u"+"}, {u"&para", u"\u00B6"},
    {u"&amp", u"&"},    {u"&lt", u"<"},       {u"&gt", u">"},     {u"&copy", u"c"},
    {u"&quot", u"\""},  {u"&apos", u"'"},     {u"&trade", u"T"},  {u"&nbsp", u""}};

String reference_entities(const String& s) {
  String out;
  std::size_t i = 0;
  while (i < s.size()) {
    if (s[i] != u'&') {
      out.push_back(s[i++]);
      continue;
    }
    std::size_t end = s.find(u';', i + 1);
    if (end == String::npos) end = s.size();
    const String entity = s.substr(i, end - i);
    bool hit = false;
    for (const auto& [name, replacement] : kTable)
      if (entity == name) {
        out += replacement;
        i = end < s.size() ? end + 1 : end;
        hit = true;
        break;
      }
    if (!hit) out.push_back(s[i++]);
  }
  return out;
}

// `s` with every "&" and double quote as a reference and, by `pick`, other characters (a
// surrogate pair as one) as decimal or hexadecimal references.
String escaped(const String& s, std::uint8_t pick) {
  String out;
  auto reference = [&](char32_t cp, bool hex) {
    std::string digits = hex ? "&#x" : "&#";
    char buffer[16];
    std::snprintf(buffer, sizeof buffer, hex ? "%X;" : "%u;", static_cast<unsigned>(cp));
    for (const char c : digits + buffer) out.push_back(static_cast<char16_t>(c));
  };
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t c = s[i];
    const bool chosen = ((c + i) & 3) < (pick & 3);
    if (c == u'&' && !(pick & 4)) {
      out += u"&amp;";
    } else if (c == u'&' || c == u'"') {
      reference(c, pick & 8);
    } else if (chosen && c >= 0xD800 && c < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 &&
               s[i + 1] < 0xE000) {
      reference(0x10000 + ((c - 0xD800) << 10) + (s[i + 1] - 0xDC00), pick & 16);
      ++i;
    } else if (chosen && c != 0 && (c < 0xD800 || c >= 0xE000) && c < 0xFFFE) {
      reference(c, pick & 16);
    } else {
      out.push_back(c);
    }
  }
  return out;
}

void check_tag_value(const String& text, std::uint8_t pick) {
  TQNXMLItem item(nullptr);
  item.SetValue(text);
  const String value = item.GetTagValue();
  FUZZ_CHECK(value.size() <= item.GetTagXMLValue().size());
  item.SetValue(escaped(text, pick));
  FUZZ_CHECK(item.GetTagValue() == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  String bytes;
  for (std::size_t i = 0; i < size; ++i) bytes.push_back(data[i]);
  FUZZ_CHECK(qninet::Utf8Decode(bytes) == reference_utf8(bytes));

  // Read the input as UTF-16 too, so entities meet characters beyond Latin-1.
  String wide;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    wide.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  for (const String* s : {&bytes, &wide}) {
    String t = *s;
    qninet::ReplaceHTMLChars(t);
    FUZZ_CHECK(t == reference_entities(*s));
  }
  const std::uint8_t pick = size > 0 ? data[0] : 0;
  check_tag_value(bytes, pick);
  check_tag_value(wide, pick);
  return 0;
}
