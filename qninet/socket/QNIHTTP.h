#pragma once
// A minimal HTTP/1.0 client on the socket engine: one request text, the whole answer split
// into the response header lines and the body.

#include <functional>
#include <memory>

#include "qninet/core/HttpRequest.h"
#include "qninet/rtl/Strings.h"
#include "qninet/socket/QNInBase.h"

namespace qninet {

/// Offered when an answer carries a `Location` header: `URL` is that whole header line; clear
/// `Abort` (and give a host name, an http URL or a path in `URL`) to follow it.
using TQNIHTTPRedirectEvent = std::function<void(TObject* Sender, String& URL, bool& Abort)>;

/// Splits an answer at its first empty line: the lines before it go to `ResponseHeaders`; with
/// `RemoveHeaders` the answer becomes the body's lines, each followed by CRLF (an answer without
/// an empty line then has an empty body and its last line is dropped from the headers).
QNINET_API void HTTPSplitAnswer(String& Answer, TStrings& ResponseHeaders, bool RemoveHeaders);

/// The first line of `ResponseHeaders` that begins with `Value` (any case), whole; empty when
/// none does.
QNINET_API String HTTPFindResponse(const TStrings& ResponseHeaders, const String& Value);

/// The parts of an http URL (scheme in any case, blanks around it ignored): the host without
/// brackets, the port (80 when none is given) and the path with its query ("/" at least).
/// False when `URL` is no "http://host[:port][/path]" text.
QNINET_API bool HTTPParseURL(const String& URL, String& Host, Integer& Port, String& Path);

/// An HTTP/1.0 client. `Execute` returns the body (or, without `RemoveHeaders`, the whole
/// answer); `ResponseHeaders` holds the status line and the header lines. With `UseTLS` at
/// `tlsImplicit` it speaks HTTPS (`tlsStartTLS` has no meaning for HTTP and acts as `tlsNone`).
class QNINET_API TQNIHTTPClient : public TQNInetBase {
  QNINET_OBJECT(TQNIHTTPClient, TQNInetBase)
public:
  /// Port 80, HEAD, `RemoveHeaders` true.
  explicit TQNIHTTPClient(TComponent* AOwner);
  ~TQNIHTTPClient() override;

  /// The request text for `Action`, `Host`/`Address`, `Port`, `Request`, `Headers` and the proxy.
  String GetQuery() override;
  /// Switching to or from `tlsImplicit` moves the port between 80 and 443 when it holds the
  /// other scheme's default.
  void SetUseTLS(TQNITLSMode value) override;
  /// The first response line beginning with `Value` (any case), whole, or empty.
  String GetResponse(const String& Value) const;

  /// The request's method: HEAD, GET or POST.
  TQNIHTTPAction Action() const { return FAction; }
  /// Sets `Action`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetAction(TQNIHTTPAction value) {
    RefuseWriteWhileRunning(*this);
    FAction = value;
  }
  /// The path (and query) asked for.
  const String& Request() const { return FRequest; }
  /// Sets `Request`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetRequest(const String& value) {
    RefuseWriteWhileRunning(*this);
    FRequest = value;
  }
  /// Extra request header lines, sent verbatim; owned.
  TStrings* Headers() const { return FHeaders.get(); }
  /// Copies the lines of `value` into the component's own list.
  void SetHeaders(const TStrings* value) {
    RefuseWriteWhileRunning(*this);
    FHeaders->Assign(value);
  }
  /// Whether `Execute` returns the body alone, the header lines going to `ResponseHeaders` only.
  bool RemoveHeaders() const { return FRemoveHeaders; }
  /// Sets `RemoveHeaders`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetRemoveHeaders(bool value) {
    RefuseWriteWhileRunning(*this);
    FRemoveHeaders = value;
  }
  /// The status line and header lines of the last answer; owned.
  TStrings* ResponseHeaders() const { return FResponseHeaders.get(); }
  /// Offered when an answer carries a Location header; clearing `Abort` follows it.
  const TQNIHTTPRedirectEvent& OnRedirect() const { return FOnRedirect; }
  /// Sets the `OnRedirect` handler. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetOnRedirect(TQNIHTTPRedirectEvent handler) {
    RefuseWriteWhileRunning(*this);
    FOnRedirect = std::move(handler);
  }

  /// Redirects followed within one `Execute` at most; a further `Location` is returned as is.
  static constexpr int MaxRedirects = 10;

protected:
  void BeforeExecute() override;
  /// Holds the answer to its Content-Length (a shorter one fails the cycle) and splits it; a `Location` the
  /// redirect handler accepts is followed on a new connection, and that answer replaces this one.
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
