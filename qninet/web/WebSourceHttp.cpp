// The HTTP and HTTPS source: the look-up asks with HEAD and the logon loop, the download with a
// GET that continues from an offset with a Range.

#include "qninet/core/QNILogOn.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/sys/InetClient.h"
#include "qninet/sys/UrlParser.h"
#include "qninet/web/WebSource.h"

namespace qninet {
namespace {

class HttpSource final : public TQNWebSource {
public:
  explicit HttpSource(const TQNWebEndpoint& endpoint) : TQNWebSource(endpoint) {}

  bool Connect() override {
    if (FEndpoint.Host.empty()) return Fail(u"No host");
    sys::InetOptions o;
    o.Agent = ToUtf8(FEndpoint.Agent);
    o.ProxyHost = ToUtf8(FEndpoint.ProxyHost);
    o.ProxyPort = FEndpoint.ProxyPort;
    o.TimeoutMs = FEndpoint.Timeout;
    o.CaFile = ToUtf8(FEndpoint.CAFile);
    o.Cancel = FEndpoint.Cancel;
    FTransfer = std::make_unique<sys::HttpTransfer>(std::move(o));
    return true;
  }

  TQNWebLookup Lookup(const String& name, std::uint64_t& size, TFileTime& time) override {
    size = 0;
    if (!FTransfer) return failed(u"Not connected");
    sys::HttpRequest request = request_for(u"HEAD", name);
    int unreadable = 0;
    for (;;) {
      if (auto sent = FTransfer->Send(request); !sent) {
        // A connection that closed before any answer is asked once more; an answer that began,
        // a time-out or a cancel is final (asking again would only double the wait).
        const int code = sent.failure().Code;
        if (!FTransfer->AnswerBegan() && code != sys::kInetTimedOut && code != sys::kInetCancelled &&
            ++unreadable <= 1)
          continue;
        return failed(sent.failure().Text);
      }
      const std::uint32_t code = FTransfer->StatusCode();
      if (code == 401 || code == 407) {
        // The transfer already answered the challenge with the credentials it had: only new
        // ones from the user are worth another request.
        const bool proxy = code == 407;
        String& user = proxy ? FEndpoint.ProxyUser : FEndpoint.User;
        String& password = proxy ? FEndpoint.ProxyPassword : FEndpoint.Password;
        String u = user, p = password;
        if (!FEndpoint.LoginPrompt || !QNInAskLogon(proxy ? strQNInProxyLogon : strQNInLogon, u, p))
          return failed(proxy ? strQNInEProxyAuth : strQNInEAuthRequired);
        user = u;
        password = p;
        request.Credentials = credentials();
        continue;
      }
      // A server that does not know HEAD is asked with a GET, and its body left unread.
      if ((code == 405 || code == 501) && request.Method == "HEAD") {
        request.Method = "GET";
        continue;
      }
      if (code >= 400) {
        Fail(Format(u"HTTP status %d", static_cast<Integer>(code)));
        return code == 404 || code == 410 ? wlNotFound : wlFailed;
      }
      break;
    }
    FContentType = FromUtf8(FTransfer->Header("Content-Type").value_or(""));
    if (auto length = FTransfer->Header("Content-Length")) size = parse_content_length(FromBytes(*length));
    if (auto modified = FTransfer->Header("Last-Modified"))
      if (auto t = sys::parse_http_date(*modified)) time = *t;
    return wlFound;
  }

  bool Open(const String& name, std::uint64_t offset) override {
    if (!FTransfer) return Fail(u"Not connected");
    sys::HttpRequest request = request_for(u"GET", name);
    request.RangeFrom = offset;
    if (auto sent = FTransfer->Send(request); !sent) return Fail(sent.failure().Text);
    const std::uint32_t code = FTransfer->StatusCode();
    if (code == 200 || (offset > 0 && code == 206)) {
      FContentType = FromUtf8(FTransfer->Header("Content-Type").value_or(""));
      return true;
    }
    return Fail(Format(u"HTTP status %d", static_cast<Integer>(code)));
  }

  bool Read(char* buffer, std::size_t size, std::size_t& read) override {
    read = 0;
    if (!FTransfer) return Fail(u"Not connected");
    auto n = FTransfer->Read(buffer, size);
    if (!n) return Fail(n.failure().Text);
    read = *n;
    return true;
  }

private:
  TQNWebLookup failed(const String& text) {
    Fail(text.empty() ? String(u"No answer from the server") : text);
    return wlFailed;
  }

  sys::InetCredentials credentials() const {
    return {ToUtf8(FEndpoint.User), ToUtf8(FEndpoint.Password), ToUtf8(FEndpoint.ProxyUser),
            ToUtf8(FEndpoint.ProxyPassword)};
  }

  // The remote name is the path and query as the request names them; escapes it already has
  // are kept, a fragment is not sent.
  sys::HttpRequest request_for(const char16_t* method, const String& name) const {
    std::string text = ToUtf8(name);
    text = text.substr(0, text.find('#'));
    const auto q = text.find('?');
    std::string path = text.substr(0, q);
    if (path.empty() || path.front() != '/') path.insert(path.begin(), '/');
    sys::HttpRequest r;
    r.Method = ToUtf8(method);
    r.Target.Scheme = FEndpoint.Service == isHTTPS ? "https" : "http";
    r.Target.Host = ToUtf8(FEndpoint.Host);
    r.Target.Port = FEndpoint.Port;
    r.Target.Path = sys::percent_encode(path, "!$&'()*+,;=:@%/");
    if (q != std::string::npos) r.Target.Query = sys::percent_encode(text.substr(q + 1), "!$&'()*+,;=:@%/?");
    r.Http10 = true;
    r.Credentials = credentials();
    return r;
  }

  std::unique_ptr<sys::HttpTransfer> FTransfer;
};

}  // namespace

std::unique_ptr<TQNWebSource> MakeHttpSource(const TQNWebEndpoint& endpoint) {
  return std::unique_ptr<TQNWebSource>(new HttpSource(endpoint));
}

}  // namespace qninet
