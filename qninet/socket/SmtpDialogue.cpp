// The SMTP dialogue's pure pieces: replies, the EHLO extensions, the login method and its
// answers, and dot-stuffing, all tested without a socket.
#include "qninet/socket/QNISMTP.h"

#include <nlohmann/json.hpp>

#include "qninet/sys/Digest.h"

namespace qninet {

namespace smtp {

namespace {

bool is_digit(char c) { return c >= '0' && c <= '9'; }

std::string_view without_break(std::string_view line) {
  if (!line.empty() && line.back() == '\n') line.remove_suffix(1);
  if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
  return line;
}

}  // namespace

Reply parse_reply(std::string_view reply) {
  Reply result;
  std::size_t pos = 0;
  std::string_view last;
  while (pos < reply.size()) {
    auto nl = reply.find('\n', pos);
    if (nl == std::string_view::npos) nl = reply.size() - 1;
    const auto line = without_break(reply.substr(pos, nl + 1 - pos));
    pos = nl + 1;
    if (!result.Text.empty()) result.Text += ' ';
    result.Text += line;
    last = line;
  }
  if (last.size() >= 3 && is_digit(last[0]) && is_digit(last[1]) && is_digit(last[2]))
    result.Code = std::string(last.substr(0, 3));
  return result;
}

bool reply_matches(const Reply& reply, std::string_view expected) {
  return expected.empty() || reply.Code == expected;
}

Extensions parse_ehlo(std::string_view reply) {
  Extensions found;
  std::size_t pos = 0;
  while (pos < reply.size()) {
    auto nl = reply.find('\n', pos);
    if (nl == std::string_view::npos) nl = reply.size() - 1;
    std::string_view line = without_break(reply.substr(pos, nl + 1 - pos));
    pos = nl + 1;
    if (line.size() < 4) continue;
    line.remove_prefix(4);  // "250-" or "250 "
    std::vector<std::string> words;
    std::string word;
    for (char c : line) {
      if (c == ' ' || c == '=') {
        if (!word.empty()) words.push_back(std::move(word));
        word.clear();
      } else {
        word += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
      }
    }
    if (!word.empty()) words.push_back(std::move(word));
    if (words.empty()) continue;
    if (words[0] == "STARTTLS") found.StartTLS = true;
    if (words[0] == "SMTPUTF8") found.Smtputf8 = true;
    if (words[0] == "8BITMIME") found.EightBitMime = true;
    if (words[0] == "AUTH") {
      found.Auth = true;
      for (std::size_t i = 1; i < words.size(); ++i) found.AuthMechanisms.push_back(words[i]);
    }
  }
  return found;
}

std::optional<TQNISMTPAuthMethod> strongest_auth(const Extensions& offered, bool withToken) {
  if (!offered.Auth) return amLogin;
  const auto has = [&](std::string_view m) {
    return std::find(offered.AuthMechanisms.begin(), offered.AuthMechanisms.end(), m) !=
           offered.AuthMechanisms.end();
  };
  if (withToken && has("OAUTHBEARER")) return amOAuthBearer;
  if (withToken && has("XOAUTH2")) return amXOAuth2;
  if (has("CRAM-MD5")) return amCramMD5;
  if (has("PLAIN")) return amPlain;
  if (has("LOGIN")) return amLogin;
  return std::nullopt;
}

std::optional<std::string> base64_decode(std::string_view text) {
  std::string out;
  unsigned value = 0;
  int bits = 0;
  std::size_t padding = 0;
  for (char c : text) {
    int v;
    if (c >= 'A' && c <= 'Z')
      v = c - 'A';
    else if (c >= 'a' && c <= 'z')
      v = c - 'a' + 26;
    else if (c >= '0' && c <= '9')
      v = c - '0' + 52;
    else if (c == '+')
      v = 62;
    else if (c == '/')
      v = 63;
    else if (c == '=') {
      ++padding;
      continue;
    } else if (c == ' ' || c == '\r' || c == '\n' || c == '\t')
      continue;
    else
      return std::nullopt;
    if (padding) return std::nullopt;  // nothing may follow the padding
    value = (value << 6) | static_cast<unsigned>(v);
    bits += 6;
    if (bits >= 8) {
      bits -= 8;
      out += static_cast<char>((value >> bits) & 0xFF);
    }
  }
  if (padding > 2 || bits >= 6) return std::nullopt;
  return out;
}

std::string cram_md5_answer(std::string_view user, std::string_view password, std::string_view challenge) {
  return std::string(user) + " " + sys::hmac_md5_hex(password, challenge);
}

std::string xoauth2_response(std::string_view user, std::string_view token) {
  return "user=" + std::string(user) +
         "\x01"
         "auth=Bearer " +
         std::string(token) + "\x01\x01";
}

std::string oauthbearer_response(std::string_view user, std::string_view host, int port,
                                 std::string_view token) {
  // RFC 5801 section 4: a saslname writes "," as "=2C" and "=" as "=3D".
  std::string authzid;
  for (char c : user) authzid += c == ',' ? "=2C" : c == '=' ? "=3D" : std::string(1, c);
  return "n," + (user.empty() ? std::string() : "a=" + authzid) + ",\x01host=" + std::string(host) +
         "\x01port=" + std::to_string(port) +
         "\x01"
         "auth=Bearer " +
         std::string(token) + "\x01\x01";
}

std::string bearer_error_status(std::string_view challenge) {
  const auto text = base64_decode(challenge);
  if (!text) return {};
  const auto error = nlohmann::json::parse(*text, nullptr, false);
  if (!error.is_object() || !error.contains("status")) return {};
  const auto& status = error["status"];
  // Google's XOAUTH2 sends the HTTP status as a text ("401"); RFC 7628 a word ("invalid_token").
  return status.is_string() ? status.get<std::string>() : status.is_number() ? status.dump() : std::string();
}

std::string dot_stuff(std::string_view line) {
  std::string out;
  if (!line.empty() && line.front() == '.') out.push_back('.');
  return out.append(line);
}

}  // namespace smtp

}  // namespace qninet
