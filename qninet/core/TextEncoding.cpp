#include "qninet/core/TextEncoding.h"

#include <algorithm>
#include <cstdint>

namespace qninet {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
// 57 bytes make one line of 76 characters.
constexpr std::size_t kLineBytes = 57;

void append_base64(std::string& out, std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size(); i += 3) {
    const std::size_t n = std::min<std::size_t>(3, bytes.size() - i);
    std::uint32_t v = static_cast<unsigned char>(bytes[i]) << 16;
    if (n > 1) v |= static_cast<unsigned char>(bytes[i + 1]) << 8;
    if (n > 2) v |= static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += n > 1 ? kAlphabet[(v >> 6) & 63] : '=';
    out += n > 2 ? kAlphabet[v & 63] : '=';
  }
}

}  // namespace

std::string base64_encode(std::string_view bytes) {
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  append_base64(out, bytes);
  return out;
}

std::vector<std::string> base64_lines(std::string_view bytes) {
  std::vector<std::string> lines;
  lines.reserve((bytes.size() + kLineBytes - 1) / kLineBytes);
  for (std::size_t at = 0; at < bytes.size(); at += kLineBytes)
    lines.push_back(base64_encode(bytes.substr(at, kLineBytes)));
  return lines;
}

bool is_ascii(StringView text) {
  return std::all_of(text.begin(), text.end(), [](char16_t c) { return c < 0x80; });
}

}  // namespace qninet
