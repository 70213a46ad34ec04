#pragma once
// A minimal HTTP/1.0 client on the socket engine: one request text, the whole answer split
// into the response header lines and the body.

#include <functional>
#include <memory>

#include "qninet/rtl/Strings.h"
#include "qninet/rtl/TypInfo.h"

namespace qninet {

/// The method of the request line.
enum TQNIHTTPAction : std::uint8_t { haHead, haGet, haPost };
QNINET_DECLARE_ENUM_INFO(TQNIHTTPAction)

/// Offered when an answer carries a `Location` header: `URL` is that whole header line; clear
/// `Abort` (and give a host name, an http URL or a path in `URL`) to follow it.
using TQNIHTTPRedirectEvent = std::function<void(TObject* Sender, String& URL, bool& Abort)>;

/// "HEAD", "GET" or "POST".
QNINET_API const String& HTTPMethodWord(TQNIHTTPAction Action);

/// What a request text is made of.
struct TQNIHTTPRequestParts {
  TQNIHTTPAction Action = haHead;
  String Host;      ///< the target: a name, a dotted address or an IPv6 literal
  Integer Port = 80;
  String Request;   ///< the path (and query), verbatim
  String ProxyServer;  ///< when set, the request line carries the absolute form
  bool ThroughProxy = false;  ///< the connection goes to the proxy (credentials are sent)
  String ProxyUser;
  String ProxyPassword;
  const TStrings* Headers = nullptr;  ///< extra lines, verbatim
};

/// The request text: the request line (origin form, or with a proxy server the absolute form
/// "http://host[:port]path"), "Host: " with the target (and its port when not 80), a
/// "Proxy-Authorization: Basic" line when the request goes through a proxy with a user, the
/// extra lines, and the empty line.
QNINET_API String HTTPBuildRequest(const TQNIHTTPRequestParts& Parts);

/// Splits an answer at its first empty line: the lines before it go to `ResponseHeaders`; with
/// `RemoveHeaders` the answer becomes the body's lines, each followed by CRLF (an answer without
/// an empty line then has an empty body and its last line is dropped from the headers).
QNINET_API void HTTPSplitAnswer(String& Answer, TStrings& ResponseHeaders, bool RemoveHeaders);

/// The first line of `ResponseHeaders` that begins with `Value` (any case), whole; empty when
/// none does.
QNINET_API String HTTPFindResponse(const TStrings& ResponseHeaders, const String& Value);

/// The parts of an http URL: false when `URL` is no "http://host[:port][/path]" text.
QNINET_API bool HTTPParseURL(const String& URL, String& Host, Integer& Port, String& Path);


}  // namespace qninet
