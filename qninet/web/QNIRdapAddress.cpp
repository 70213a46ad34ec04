// Addresses and prefixes of the RDAP client, read and written without the system's parser.

#include <optional>
#include <vector>

#include "qninet/web/QNIRdapParts.h"

namespace qninet::rdap {

namespace {

std::optional<std::uint32_t> parse_v4(std::string_view s) {
  std::uint32_t out = 0;
  int parts = 0;
  while (parts < 4) {
    std::size_t n = 0;
    unsigned v = 0;
    while (n < s.size() && n < 3 && s[n] >= '0' && s[n] <= '9') v = v * 10 + (s[n++] - '0');
    if (n == 0 || v > 255 || (n > 1 && s[0] == '0')) return std::nullopt;
    out = out << 8 | v;
    s.remove_prefix(n);
    if (++parts < 4) {
      if (s.empty() || s[0] != '.') return std::nullopt;
      s.remove_prefix(1);
    }
  }
  if (!s.empty()) return std::nullopt;
  return out;
}

// RFC 4291 2.2: eight groups of up to four hex digits, one "::" at most, an IPv4 tail allowed.
std::optional<u128> parse_v6(std::string_view s) {
  std::vector<std::uint16_t> head, tail;
  bool gap = false;
  if (s.starts_with("::")) {
    gap = true;
    s.remove_prefix(2);
  }
  while (!s.empty()) {
    auto& groups = gap ? tail : head;
    const std::size_t end = s.find(':');
    const std::string_view part = s.substr(0, end);
    if (end == std::string_view::npos && part.find('.') != std::string_view::npos) {
      const auto v4 = parse_v4(part);
      if (!v4) return std::nullopt;
      groups.push_back(static_cast<std::uint16_t>(*v4 >> 16));
      groups.push_back(static_cast<std::uint16_t>(*v4 & 0xffff));
      s = {};
      break;
    }
    if (part.empty() || part.size() > 4) return std::nullopt;
    unsigned v = 0;
    for (char c : part) {
      const int d = c >= '0' && c <= '9'                     ? c - '0'
                    : (c | 0x20) >= 'a' && (c | 0x20) <= 'f' ? (c | 0x20) - 'a' + 10
                                                             : -1;
      if (d < 0) return std::nullopt;
      v = v * 16 + static_cast<unsigned>(d);
    }
    groups.push_back(static_cast<std::uint16_t>(v));
    if (end == std::string_view::npos) {
      s = {};
    } else if (s.substr(end).starts_with("::")) {
      if (gap) return std::nullopt;
      gap = true;
      s.remove_prefix(end + 2);
    } else {
      s.remove_prefix(end + 1);
      if (s.empty()) return std::nullopt;
    }
  }
  const std::size_t count = head.size() + tail.size();
  if (gap ? count > 7 : count != 8) return std::nullopt;
  head.resize(8 - tail.size(), 0);
  head.insert(head.end(), tail.begin(), tail.end());
  u128 out = 0;
  for (std::uint16_t g : head) out = out << 16 | g;
  return out;
}

}  // namespace

std::optional<Address> parse_address(std::string_view s) {
  if (s.find(':') != std::string_view::npos) {
    if (auto v = parse_v6(s)) return Address{true, *v};
  } else if (auto v = parse_v4(s)) {
    return Address{false, *v};
  }
  return std::nullopt;
}

std::optional<std::pair<Address, int>> parse_prefix(std::string_view s) {
  const std::size_t slash = s.find('/');
  auto a = parse_address(s.substr(0, slash));
  if (!a) return std::nullopt;
  int length = a->Bits();
  if (slash != std::string_view::npos) {
    const std::string_view digits = s.substr(slash + 1);
    if (digits.empty() || digits.size() > 3) return std::nullopt;
    length = 0;
    for (char c : digits) {
      if (c < '0' || c > '9') return std::nullopt;
      length = length * 10 + (c - '0');
    }
    if (length > a->Bits()) return std::nullopt;
  }
  return std::pair{*a, length};
}

u128 network_of(const Address& a, int length) {
  const int host = a.Bits() - length;
  return host >= 128 ? 0 : a.Value >> host << host;
}

std::string format_address(const Address& a) {
  if (!a.V6) {
    const auto v = static_cast<std::uint32_t>(a.Value);
    return std::to_string(v >> 24) + "." + std::to_string(v >> 16 & 255) + "." +
           std::to_string(v >> 8 & 255) + "." + std::to_string(v & 255);
  }
  unsigned g[8];
  for (int i = 0; i < 8; ++i) g[i] = static_cast<unsigned>(a.Value >> (16 * (7 - i)) & 0xffff);
  int best = -1, bestLength = 1;
  for (int i = 0; i < 8;) {
    int j = i;
    while (j < 8 && g[j] == 0) ++j;
    if (j - i > bestLength) best = i, bestLength = j - i;
    i = j == i ? i + 1 : j;
  }
  std::string out;
  static const char* hex = "0123456789abcdef";
  for (int i = 0; i < 8; ++i) {
    if (i == best) {
      out += "::";
      i += bestLength - 1;
      continue;
    }
    if (!out.empty() && out.back() != ':') out += ':';
    std::string group;
    for (unsigned v = g[i]; v || group.empty(); v >>= 4) group.insert(group.begin(), hex[v & 15]);
    out += group;
  }
  return out;
}

}  // namespace qninet::rdap
