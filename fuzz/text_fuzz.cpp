// Checks Utf8Decode and ReplaceHTMLChars against straightforward reference versions.

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "qninet/core/qniutil.h"

using qninet::String;

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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  String bytes;
  for (std::size_t i = 0; i < size; ++i) bytes.push_back(data[i]);
  if (qninet::Utf8Decode(bytes) != reference_utf8(bytes)) std::abort();

  // Read the input as UTF-16 too, so entities meet characters beyond Latin-1.
  String wide;
  for (std::size_t i = 0; i + 1 < size; i += 2)
    wide.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  for (const String* s : {&bytes, &wide}) {
    String t = *s;
    qninet::ReplaceHTMLChars(t);
    if (t != reference_entities(*s)) std::abort();
  }
  return 0;
}
