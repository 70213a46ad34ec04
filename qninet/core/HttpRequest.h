#pragma once
// HTTP/1.0 request texts, for the HTTP client and the page scrapers alike.

#include <cstdint>

#include "qninet/rtl/Strings.h"
#include "qninet/rtl/TypInfo.h"

namespace qninet {

/// The method of the request line.
enum TQNIHTTPAction : std::uint8_t { haHead, haGet, haPost };
QNINET_DECLARE_ENUM_INFO(TQNIHTTPAction)

/// "HEAD", "GET" or "POST".
QNINET_API const String& HTTPMethodWord(TQNIHTTPAction Action);

/// What a request text is made of.
struct TQNIHTTPRequestParts {
  /// HEAD, GET or POST.
  TQNIHTTPAction Action = haHead;
  String Host;  ///< the target: a name, a dotted address or an IPv6 literal
  /// The target's port.
  Integer Port = 80;
  String Request;             ///< the path (and query), verbatim
  String ProxyServer;         ///< when set, the request line carries the absolute form
  bool ThroughProxy = false;  ///< the connection goes to the proxy (credentials are sent)
  /// The proxy's user name.
  String ProxyUser;
  /// The proxy's password.
  String ProxyPassword;
  const TStrings* Headers = nullptr;  ///< extra lines, verbatim
  bool AbsoluteForm = false;          ///< the absolute form even without `ProxyServer`
  bool PortInHostLine = true;         ///< false: the Host line names the host alone
  bool EndOfHeaders = true;           ///< false: no empty line (the caller's block ends the head)
};

/// The request text: the request line (origin form, or with a proxy server the absolute form
/// "http://host[:port]path"), "Host: " with the target (and its port when not 80), a
/// "Proxy-Authorization: Basic" line when the request goes through a proxy with a user, the
/// extra lines, and the empty line. Raises `Exception` (`strQNInELineBreak`) when the host, the
/// path, an extra line or a proxy credential holds a CR or LF, which would split the request.
QNINET_API String HTTPBuildRequest(const TQNIHTTPRequestParts& Parts);

/// Raises `Exception` (`strQNInELineBreak` naming `What`) when `Value` holds a CR or LF.
QNINET_API void HTTPRefuseLineBreaks(const String& Value, const String& What);

/// Holds an answer to the body length its Content-Length announces: a longer body is cut there,
/// a shorter one raises `Exception` (`strQNInEAnswerCut`). An answer to HEAD, one without the
/// header or without an end of its header block, and a status without a body (1xx, 204, 304)
/// stay as they are.
QNINET_API void HTTPHoldToContentLength(String& Answer, bool HeadRequest);

/// Each blank becomes "%20"; nothing else is encoded.
QNINET_API String EncodeBlanks(const String& Value);

}  // namespace qninet
