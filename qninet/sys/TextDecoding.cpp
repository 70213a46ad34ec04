#include "qninet/sys/TextDecoding.h"

#include "qninet/sys/AsciiText.h"
#include "qninet/sys/CodePage.h"

namespace qninet::sys {
namespace {

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

std::string_view bom_charset(std::string_view bytes, std::size_t& length) {
  if (bytes.substr(0, 3) == "\xEF\xBB\xBF") {
    length = 3;
    return "UTF-8";
  }
  if (bytes.substr(0, 2) == "\xFF\xFE") {
    length = 2;
    return "UTF-16LE";
  }
  if (bytes.substr(0, 2) == "\xFE\xFF") {
    length = 2;
    return "UTF-16BE";
  }
  length = 0;
  return {};
}

std::string xml_declared_encoding(std::string_view bytes) {
  if (bytes.substr(0, 6) != "<?xml " && bytes.substr(0, 6) != "<?xml\t" && bytes.substr(0, 6) != "<?xml\n" &&
      bytes.substr(0, 6) != "<?xml\r")
    return {};
  const std::string_view decl = bytes.substr(0, bytes.find("?>"));
  std::size_t at = 0;
  while ((at = decl.find("encoding", at)) != std::string_view::npos) {
    std::size_t i = at + 8;
    at = i;
    if (!is_blank(decl[at - 9])) continue;
    while (i < decl.size() && is_blank(decl[i])) ++i;
    if (i >= decl.size() || decl[i] != '=') continue;
    ++i;
    while (i < decl.size() && is_blank(decl[i])) ++i;
    if (i >= decl.size() || (decl[i] != '"' && decl[i] != '\'')) continue;
    const std::size_t end = decl.find(decl[i], i + 1);
    if (end == std::string_view::npos) return {};
    return std::string(decl.substr(i + 1, end - i - 1));
  }
  return {};
}

std::string content_type_charset(std::string_view contentType) {
  // Parameters follow the media type after ";" as name=value (RFC 9110 8.3).
  std::size_t at = contentType.find(';');
  while (at != std::string_view::npos) {
    std::size_t name = at + 1;
    while (name < contentType.size() && is_blank(contentType[name])) ++name;
    const std::size_t eq = contentType.find('=', name);
    const std::size_t next = contentType.find(';', name);
    if (eq != std::string_view::npos && (next == std::string_view::npos || eq < next)) {
      std::string key(contentType.substr(name, eq - name));
      while (!key.empty() && is_blank(key.back())) key.pop_back();
      if (lower_ascii(key) == "charset") {
        std::string_view value =
            contentType.substr(eq + 1, next == std::string_view::npos ? next : next - eq - 1);
        while (!value.empty() && is_blank(value.front())) value.remove_prefix(1);
        while (!value.empty() && is_blank(value.back())) value.remove_suffix(1);
        if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
          value = value.substr(1, value.size() - 2);
        return std::string(value);
      }
    }
    at = next;
  }
  return {};
}

bool valid_utf8(std::string_view s) {
  const auto* p = reinterpret_cast<const unsigned char*>(s.data());
  const std::size_t n = s.size();
  for (std::size_t i = 0; i < n;) {
    const unsigned c = p[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    unsigned min;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2, min = 0x80;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3, min = 0x800;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4, min = 0x10000;
    } else {
      return false;
    }
    if (i + len > n) return false;
    unsigned cp = c & (0x7F >> len);
    for (std::size_t k = 1; k < len; ++k) {
      if ((p[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (p[i + k] & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (cp < min || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) return false;
    i += len;
  }
  return true;
}

std::string xml_text_charset(std::string_view bytes, std::size_t& skip) {
  if (const std::string_view bom = bom_charset(bytes, skip); !bom.empty()) return std::string(bom);
  const std::string declared = xml_declared_encoding(bytes);
  if (declared.empty() || !charset_known(declared)) return "UTF-8";
  std::string upper = declared;
  for (char& c : upper)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return upper == "UTF-8" || upper == "UTF8" ? "UTF-8" : declared;
}

std::string feed_text_charset(std::string_view bytes, std::string_view answerCharset, std::size_t& skip) {
  if (const std::string_view bom = bom_charset(bytes, skip); !bom.empty()) return std::string(bom);
  const std::string declared = xml_declared_encoding(bytes);
  if (!declared.empty() && charset_known(declared)) return xml_text_charset(bytes, skip);
  if (!answerCharset.empty() && charset_known(answerCharset)) {
    std::string upper(answerCharset);
    for (char& c : upper)
      if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return upper == "UTF-8" || upper == "UTF8" ? "UTF-8" : std::string(answerCharset);
  }
  return valid_utf8(bytes) ? "UTF-8" : ansi_code_page();
}

std::u16string decode_xml_text(std::string_view bytes) {
  std::size_t skip = 0;
  const std::string charset = xml_text_charset(bytes, skip);
  return decode_bytes(bytes.substr(skip), charset);
}

std::u16string decode_page_text(std::string_view bytes, std::string_view charset) {
  std::size_t mark = 0;
  if (const std::string_view bom = bom_charset(bytes, mark); !bom.empty())
    return decode_bytes(bytes.substr(mark), bom);
  if (!charset.empty() && charset_known(charset)) return decode_bytes(bytes, charset);
  if (valid_utf8(bytes)) return decode_bytes(bytes, "UTF-8");
  return decode_bytes(bytes, ansi_code_page());
}

}  // namespace qninet::sys
