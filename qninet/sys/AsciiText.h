#pragma once
// ASCII case and white space of protocol text (header names, listing facts, charset and tag
// names). The one case fold of the tree: everything that compares or lowers ASCII text without
// regard to case goes through here.

#include <string>
#include <string_view>
#include <type_traits>

namespace qninet::sys {

/// One character in ASCII lower case; anything but "A" to "Z" is returned as it is.
template <class Ch>
requires std::is_same_v<Ch, char> || std::is_same_v<Ch, char16_t>
constexpr Ch lower_ascii(Ch c) {
  return c >= Ch('A') && c <= Ch('Z') ? static_cast<Ch>(c - Ch('A') + Ch('a')) : c;
}

inline std::string lower_ascii(std::string_view s) {
  std::string out(s);
  for (char& c : out) c = lower_ascii(c);
  return out;
}

/// Whether `a` and `b` are equal once ASCII letters are folded to one case.
template <class Ch>
constexpr bool equal_ascii_nocase(std::basic_string_view<Ch> a, std::basic_string_view<Ch> b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i)
    if (lower_ascii(a[i]) != lower_ascii(b[i])) return false;
  return true;
}

/// Without leading and trailing spaces, tabs, CR and LF (a NUL byte is kept).
inline std::string_view trim_ascii(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r\n";
  while (!s.empty() && kBlanks.find(s.front()) != std::string_view::npos) s.remove_prefix(1);
  while (!s.empty() && kBlanks.find(s.back()) != std::string_view::npos) s.remove_suffix(1);
  return s;
}

}  // namespace qninet::sys
