#pragma once
// ASCII case and white space of protocol text (header names, listing facts).

#include <cstring>
#include <string>
#include <string_view>

namespace qninet::sys {

inline std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

/// Without leading and trailing spaces, tabs, CR and LF.
inline std::string_view trim_ascii(std::string_view s) {
  while (!s.empty() && std::strchr(" \t\r\n", s.front()) != nullptr) s.remove_prefix(1);
  while (!s.empty() && std::strchr(" \t\r\n", s.back()) != nullptr) s.remove_suffix(1);
  return s;
}

}  // namespace qninet::sys
