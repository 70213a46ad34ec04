#pragma once
// Typed endpoints and URLs: a value is parsed once, where it enters, and passed on whole.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "qninet/rtl/SysUtils.h"

namespace qninet {

/// A host and a port: a name, a dotted IPv4 address or an IPv6 literal (kept without brackets).
struct QNINET_API HostPort {
  /// The host: a name, a dotted IPv4 address or an IPv6 literal without brackets.
  std::string Host;
  std::uint16_t Port = 0;  ///< 0: none given

  /// Reads "host", "host:port", "[v6]", "[v6]:port" or a bare IPv6 literal ("::1"), taking
  /// `defaultPort` when none is given. Empty hosts, ports outside 1..65535 and stray brackets
  /// give nothing; `error` (when given) then says why.
  static std::optional<HostPort> Parse(std::string_view text, std::uint16_t defaultPort = 0,
                                       String* error = nullptr);
  /// "host:port", "[v6]:port", or the host alone (bracketed when IPv6) when there is no port.
  std::string ToString() const;
  /// The host as it stands in a URL or a Host header: IPv6 literals in brackets.
  std::string UrlHost() const;
  /// Whether host and port are the same.
  bool operator==(const HostPort&) const = default;
};

/// An absolute URL parsed by libcurl's URL interface, or built from its parts (each setter
/// changes one part; nothing is joined into a text and parsed again).
class QNINET_API Url {
public:
  /// Parses `text`; a relative or malformed URL gives nothing and `error` says why.
  static std::optional<Url> Parse(std::string_view text, String* error = nullptr);

  /// Sets `Scheme`.
  void SetScheme(std::string value) { FScheme = std::move(value); }
  /// Sets `Host`.
  void SetHost(std::string value) { FHost.Host = std::move(value); }
  /// Sets `Port`.
  void SetPort(std::uint16_t value) { FHost.Port = value; }
  /// An empty user name is no user.
  void SetUser(std::string value) {
    FHasUser = !value.empty();
    FUser = std::move(value);
  }
  /// Sets `Password`.
  void SetPassword(std::string value) { FPassword = std::move(value); }
  /// Sets `Path`.
  void SetPath(std::string encoded) { FPath = std::move(encoded); }
  /// Sets `Query`.
  void SetQuery(std::string encoded) { FQuery = std::move(encoded); }

  const std::string& Scheme() const { return FScheme; }   ///< lower case: "http", "ftp", "file"
  const std::string& Host() const { return FHost.Host; }  ///< without brackets
  std::uint16_t Port() const { return FHost.Port; }       ///< explicit, else the scheme's default
  /// Whether the URL names a port of its own.
  bool ExplicitPort() const { return FExplicitPort; }
  /// The URL's host and port.
  HostPort Endpoint() const { return FHost; }
  /// Whether the URL carries a user name.
  bool HasUser() const { return FHasUser; }
  const std::string& User() const { return FUser; }          ///< decoded
  const std::string& Password() const { return FPassword; }  ///< decoded
  const std::string& Path() const { return FPath; }          ///< encoded, as it goes on the wire
  std::string DecodedPath() const;                           ///< the path's bytes, decoded
  const std::string& Query() const { return FQuery; }        ///< encoded, without "?"
  /// The path and the query as an HTTP request names them ("/a/b?x=1").
  std::string Target() const;

private:
  std::string FScheme = "http", FUser, FPassword, FPath, FQuery;
  HostPort FHost{{}, 80};
  bool FExplicitPort = false;
  bool FHasUser = false;
};

}  // namespace qninet
