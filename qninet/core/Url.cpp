#include "qninet/core/Url.h"

#include <charconv>

#include "qninet/sys/UrlParser.h"

namespace qninet {
namespace {

std::optional<HostPort> refuse(String* error, const char16_t* why, std::string_view text) {
  if (error) *error = String(why) + u" \"" + FromUtf8(text) + u"\"";
  return std::nullopt;
}

}  // namespace

std::optional<HostPort> HostPort::Parse(std::string_view text, std::uint16_t defaultPort, String* error) {
  HostPort hp;
  std::string_view portText;
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find(']');
    if (close == text.npos) return refuse(error, u"missing \"]\" in", text);
    hp.Host = std::string(text.substr(1, close - 1));
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return refuse(error, u"unexpected text after \"]\" in", text);
      portText = rest.substr(1);
      if (portText.empty()) return refuse(error, u"missing port in", text);
    }
  } else if (const auto colon = text.find(':');
             colon != text.npos && text.find(':', colon + 1) != text.npos) {
    hp.Host = std::string(text);  // a bare IPv6 literal: several colons and no brackets
  } else if (colon != text.npos) {
    hp.Host = std::string(text.substr(0, colon));
    portText = text.substr(colon + 1);
    if (portText.empty()) return refuse(error, u"missing port in", text);
  } else {
    hp.Host = std::string(text);
  }
  if (hp.Host.empty()) return refuse(error, u"missing host in", text);
  if (hp.Host.find_first_of("[]/ \t\r\n") != std::string::npos) return refuse(error, u"bad host", text);
  if (portText.empty()) {
    hp.Port = defaultPort;
  } else {
    unsigned value = 0;
    const auto [end, ec] = std::from_chars(portText.data(), portText.data() + portText.size(), value);
    if (ec != std::errc() || end != portText.data() + portText.size() || value == 0 || value > 65535)
      return refuse(error, u"bad port in", text);
    hp.Port = static_cast<std::uint16_t>(value);
  }
  return hp;
}

std::string HostPort::UrlHost() const {
  if (Host.find(':') != std::string::npos) return "[" + Host + "]";
  return Host;
}

std::string HostPort::ToString() const {
  std::string out = UrlHost();
  if (Port != 0)
    out.append(":").append(std::to_string(Port));
  else if (Host.find(':') == std::string::npos)
    return Host;
  return out;
}

std::optional<Url> Url::Parse(std::string_view text, String* error) {
  auto parsed = sys::parse_url(text);
  if (!parsed) {
    if (error) *error = parsed.failure().Text + u": \"" + FromUtf8(text) + u"\"";
    return std::nullopt;
  }
  Url url;
  url.FScheme = parsed->Scheme;
  url.FHasUser = parsed->HasUser;
  url.FUser = parsed->User;
  url.FPassword = parsed->Password;
  url.FHost.Host = parsed->Host;
  url.FHost.Port = static_cast<std::uint16_t>(parsed->Port);
  url.FExplicitPort = parsed->ExplicitPort;
  url.FPath = parsed->Path;
  url.FQuery = parsed->Query;
  return url;
}

std::string Url::DecodedPath() const { return sys::percent_decode(FPath); }

std::string Url::Target() const { return FQuery.empty() ? FPath : FPath + "?" + FQuery; }

}  // namespace qninet
