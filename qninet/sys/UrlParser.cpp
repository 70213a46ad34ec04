#include "qninet/sys/UrlParser.h"

#include <curl/curl.h>

#include <algorithm>
#include <memory>

namespace qninet::sys {
namespace {

struct UrlDeleter {
  void operator()(CURLU* u) const { curl_url_cleanup(u); }
};

std::u16string ascii16(const char* s) {
  std::u16string out;
  for (; s && *s; ++s) out.push_back(static_cast<unsigned char>(*s));
  return out;
}

// Reads one part; a part the URL does not have gives an empty text.
std::string part(CURLU* u, CURLUPart which, unsigned flags, bool* present = nullptr) {
  char* value = nullptr;
  const CURLUcode rc = curl_url_get(u, which, &value, flags);
  if (present) *present = rc == CURLUE_OK;
  std::string out = rc == CURLUE_OK && value ? value : "";
  curl_free(value);
  return out;
}

int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

}  // namespace

Result<UrlParts> parse_url(std::string_view text) {
  std::unique_ptr<CURLU, UrlDeleter> u(curl_url());
  if (!u) return Failure{CURLUE_OUT_OF_MEMORY, u"out of memory"};
  const std::string s(text);
  const CURLUcode rc =
      curl_url_set(u.get(), CURLUPART_URL, s.c_str(), CURLU_NON_SUPPORT_SCHEME | CURLU_URLENCODE);
  if (rc != CURLUE_OK) return Failure{rc, ascii16(curl_url_strerror(rc))};
  UrlParts p;
  p.Scheme = part(u.get(), CURLUPART_SCHEME, 0);
  p.User = part(u.get(), CURLUPART_USER, CURLU_URLDECODE, &p.HasUser);
  p.Password = part(u.get(), CURLUPART_PASSWORD, CURLU_URLDECODE);
  p.Host = part(u.get(), CURLUPART_HOST, 0);
  // libcurl decodes a percent-encoded host; one that decodes to a control character or a blank
  // names no host, and written out again it would be no URL at all.
  if (std::any_of(p.Host.begin(), p.Host.end(), [](unsigned char c) { return c <= ' ' || c == 0x7F; }))
    return Failure{CURLUE_BAD_HOSTNAME, ascii16(curl_url_strerror(CURLUE_BAD_HOSTNAME))};
  if (p.Host.size() >= 2 && p.Host.front() == '[' && p.Host.back() == ']')
    p.Host = p.Host.substr(1, p.Host.size() - 2);
  const std::string explicitPort = part(u.get(), CURLUPART_PORT, 0, &p.ExplicitPort);
  const std::string port = p.ExplicitPort ? explicitPort : part(u.get(), CURLUPART_PORT, CURLU_DEFAULT_PORT);
  p.Port = port.empty() ? 0 : std::stoi(port);
  p.Path = part(u.get(), CURLUPART_PATH, 0);
  p.Query = part(u.get(), CURLUPART_QUERY, 0);
  return p;
}

std::string percent_encode(std::string_view text, std::string_view keep) {
  static constexpr char hex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(text.size());
  for (const unsigned char c : text) {
    const bool plain = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
                       c == '-' || c == '.' || c == '_' || c == '~' ||
                       (c != 0 && keep.find(static_cast<char>(c)) != keep.npos);
    if (plain) {
      out.push_back(static_cast<char>(c));
    } else {
      out.push_back('%');
      out.push_back(hex[c >> 4]);
      out.push_back(hex[c & 15]);
    }
  }
  return out;
}

std::string percent_decode(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hex_value(text[i + 1]) >= 0 && hex_value(text[i + 2]) >= 0) {
      out.push_back(static_cast<char>(hex_value(text[i + 1]) * 16 + hex_value(text[i + 2])));
      i += 2;
    } else {
      out.push_back(text[i]);
    }
  }
  return out;
}

}  // namespace qninet::sys
