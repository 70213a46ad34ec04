#pragma once
// ASCII case and white space of protocol text (header names, listing facts).

#include <string>
#include <string_view>

namespace qninet::sys {

inline std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return out;
}

/// Without leading and trailing spaces, tabs, CR and LF (a NUL byte is kept).
inline std::string_view trim_ascii(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\n";
  while (!s.empty() && kBlanks.find(s.front()) != std::string_view::npos) s.remove_prefix(1);
  while (!s.empty() && kBlanks.find(s.back()) != std::string_view::npos) s.remove_suffix(1);
  return s;
}

}  // namespace qninet::sys
