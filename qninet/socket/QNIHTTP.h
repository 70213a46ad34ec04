#pragma once
// A minimal HTTP/1.0 client on the socket engine: one request text, the whole answer split
// into the response header lines and the body.

#include <functional>
#include <memory>

#include "qninet/rtl/Strings.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/socket/QNInBase.h"

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
  String Host;  ///< the target: a name, a dotted address or an IPv6 literal
  Integer Port = 80;
  String Request;             ///< the path (and query), verbatim
  String ProxyServer;         ///< when set, the request line carries the absolute form
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

/// Closes a connection that a failed cycle left open when `KeepConnection` is off, so the next
/// `Execute` connects afresh (the HTTP client and the page scrapers call it first in each cycle).
QNINET_API void drop_stale_connection(TQNInetBase& Component);

/// An HTTP/1.0 client. `Execute` returns the body (or, without `RemoveHeaders`, the whole
/// answer); `ResponseHeaders` holds the status line and the header lines.
class QNINET_API TQNIHTTPClient : public TQNInetBase {
  QNINET_OBJECT(TQNIHTTPClient, TQNInetBase)
public:
  /// Port 80, HEAD, `RemoveHeaders` true.
  explicit TQNIHTTPClient(TComponent* AOwner);
  ~TQNIHTTPClient() override;

  /// The request text for `Action`, `Host`/`Address`, `Port`, `Request`, `Headers` and the proxy.
  String GetQuery() override;
  /// The first response line beginning with `Value` (any case), whole, or empty.
  String GetResponse(const String& Value) const;

  TQNIHTTPAction Action() const { return FAction; }
  void SetAction(TQNIHTTPAction value) { FAction = value; }
  const String& Request() const { return FRequest; }
  void SetRequest(const String& value) { FRequest = value; }
  TStrings* Headers() const { return FHeaders.get(); }
  /// Copies the lines of `value` into the component's own list.
  void SetHeaders(const TStrings* value) { FHeaders->Assign(value); }
  bool RemoveHeaders() const { return FRemoveHeaders; }
  void SetRemoveHeaders(bool value) { FRemoveHeaders = value; }
  TStrings* ResponseHeaders() const { return FResponseHeaders.get(); }
  const TQNIHTTPRedirectEvent& OnRedirect() const { return FOnRedirect; }
  void SetOnRedirect(TQNIHTTPRedirectEvent handler) { FOnRedirect = std::move(handler); }

  /// Redirects followed within one `Execute` at most; a further `Location` is returned as is.
  static constexpr int MaxRedirects = 10;

protected:
  void BeforeExecute() override;
  /// Splits the answer; a `Location` the redirect handler accepts is followed on a new
  /// connection, and that answer replaces this one.
  void AfterExecute(String& Text) override;

private:
  TQNIHTTPAction FAction = haHead;
  String FRequest;
  std::unique_ptr<TStringList> FHeaders;
  bool FRemoveHeaders = true;
  std::unique_ptr<TStringList> FResponseHeaders;
  TQNIHTTPRedirectEvent FOnRedirect;
  int FRedirects = 0;
};

}  // namespace qninet
