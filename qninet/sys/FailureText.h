#pragma once
// Failure texts of this layer are written in UTF-8 (paths, libcurl's and the system's
// messages) and shown as UTF-16.

#include <string>
#include <string_view>

#include "qninet/sys/Result.h"

namespace qninet::sys {

/// UTF-8 to UTF-16; a byte that starts no valid sequence becomes U+FFFD.
inline std::u16string utf8_to_utf16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (std::size_t i = 0; i < s.size();) {
    const auto c = static_cast<unsigned char>(s[i]);
    const std::size_t len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    bool ok = len != 0 && i + len <= s.size();
    for (std::size_t k = 1; ok && k < len; ++k) {
      const auto d = static_cast<unsigned char>(s[i + k]);
      ok = (d >> 6) == 2;
      cp = (cp << 6) | (d & 0x3F);
    }
    if (!ok) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    i += len;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(cp));
    }
  }
  return out;
}

/// A failure with a code and a UTF-8 text.
inline Failure failure_of(int code, std::string_view text) { return Failure{code, utf8_to_utf16(text)}; }

}  // namespace qninet::sys
