// The HTTP and HTTPS source: the look-up asks with HEAD and the logon loop, the download with a
// GET that continues from an offset with a Range, and a request sends any method with a body.

#include "qninet/core/QNILogOn.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/sys/InetClient.h"
#include "qninet/web/WebSource.h"

namespace qninet {

sys::InetOptions transfer_options(const TQNWebConnection& connection);  // WebSource.cpp

namespace {

TQNIOutcome failed(const sys::Failure& f) {
  if (f.Code == sys::kInetCancelled) return TQNIOutcome::Cancelled(f.Text);
  return TQNIOutcome::Failed(f.Text.empty() ? String(u"No answer from the server") : f.Text);
}

class HttpSource final : public TQNWebSource {
public:
  explicit HttpSource(TQNWebConnection& connection) : TQNWebSource(connection) {}

  TQNIOutcome Connect() override {
    if (FConnection.Target.Host().empty()) return TQNIOutcome::Failed(u"No host");
    FTransfer = std::make_unique<sys::HttpTransfer>(transfer_options(FConnection));
    return {};
  }

  TQNIOutcome Lookup(std::uint64_t& size, TFileTime& time) override {
    size = 0;
    if (!FTransfer) return TQNIOutcome::Failed(u"Not connected");
    sys::HttpRequest request = request_for("HEAD");
    int unreadable = 0;
    for (;;) {
      if (auto sent = FTransfer->Send(request); !sent) {
        // A connection that closed before any answer is asked once more; an answer that began,
        // a time-out or a cancel is final (asking again would only double the wait).
        const int code = sent.failure().Code;
        if (!FTransfer->AnswerBegan() && code != sys::kInetTimedOut && code != sys::kInetCancelled &&
            ++unreadable <= 1)
          continue;
        return failed(sent.failure());
      }
      const std::uint32_t code = FTransfer->StatusCode();
      if (code == 401 || code == 407) {
        // The transfer already answered the challenge with the credentials it had: only new
        // ones from the user are worth another request. They go into the connection itself.
        if (!ask_logon(code == 407))
          return TQNIOutcome::Failed(code == 407 ? strQNInEProxyAuth : strQNInEAuthRequired);
        request.Credentials = credentials();
        continue;
      }
      // A server that does not know HEAD is asked with a GET, and its body left unread.
      if ((code == 405 || code == 501) && request.Method == "HEAD") {
        request.Method = "GET";
        continue;
      }
      if (code >= 400) {
        const String why = Format(u"HTTP status %d", static_cast<Integer>(code));
        return code == 404 || code == 410 ? TQNIOutcome::NotFound(why) : TQNIOutcome::Failed(why);
      }
      break;
    }
    if (auto length = FTransfer->Header("Content-Length")) size = parse_content_length(FromBytes(*length));
    if (auto modified = FTransfer->Header("Last-Modified"))
      if (auto t = sys::parse_http_date(*modified)) time = *t;
    return {};
  }

  TQNIOutcome Open(std::uint64_t offset) override {
    if (!FTransfer) return TQNIOutcome::Failed(u"Not connected");
    sys::HttpRequest request = request_for("GET");
    request.RangeFrom = offset;
    if (auto sent = FTransfer->Send(request); !sent) return failed(sent.failure());
    const std::uint32_t code = FTransfer->StatusCode();
    if (code == 200 || (offset > 0 && code == 206)) return {};
    return TQNIOutcome::Failed(Format(u"HTTP status %d", static_cast<Integer>(code)));
  }

  TQNIOutcome Send(const TQNWebRequest& r) override {
    if (!FTransfer) return TQNIOutcome::Failed(u"Not connected");
    sys::HttpRequest request = request_for(r.Method.c_str());
    request.Http10 = false;
    if (!r.ContentType.empty()) request.Headers = "Content-Type: " + r.ContentType;
    // The system layer splits its header text at line breaks: a value holding one would add a
    // header of the caller's text, so it is refused whole (a NUL too: the lengths below count it).
    for (const auto& [name, value] : r.Headers) {
      if (name.empty() || name.find_first_of(":\r\n", 0, 4) != std::string::npos ||
          value.find_first_of("\r\n", 0, 3) != std::string::npos)
        return TQNIOutcome::Failed(u"A request header holds a line break: " + FromUtf8(name));
      request.Headers.append(request.Headers.empty() ? "" : "\r\n").append(name).append(": ").append(value);
    }
    request.MaxRedirects = r.MaxRedirects;
    request.Body = r.Body;
    request.FollowRedirects = r.FollowRedirects;
    if (auto sent = FTransfer->Send(request); !sent) return failed(sent.failure());
    return {};
  }

  TQNIOutcome Read(char* buffer, std::size_t size, std::size_t& read) override {
    read = 0;
    if (!FTransfer) return TQNIOutcome::Failed(u"Not connected");
    auto n = FTransfer->Read(buffer, size);
    if (!n) return failed(n.failure());
    read = *n;
    return {};
  }

  std::uint32_t StatusCode() const override { return FTransfer ? FTransfer->StatusCode() : 0; }

  String Header(const char* name) const override {
    return FTransfer ? FromUtf8(FTransfer->Header(name).value_or("")) : String();
  }

private:
  // A 401 or 407 with the prompt allowed: the user's new credentials go into the connection
  // (the proxy's into its proxy), where the next run finds them too.
  bool ask_logon(bool proxy) {
    TQNInetProxy* p = FConnection.Proxy;
    if (!FConnection.LoginPrompt || (proxy && !p)) return false;
    Url& target = FConnection.Target;
    String user = proxy ? p->User() : FromUtf8(target.User());
    String password = proxy ? p->Password() : FromUtf8(target.Password());
    if (!QNInAskLogon(proxy ? strQNInProxyLogon : strQNInLogon, user, password)) return false;
    if (proxy) {
      p->SetUser(user);
      p->SetPassword(password);
    } else {
      target.SetUser(ToUtf8(user));
      target.SetPassword(ToUtf8(password));
    }
    return true;
  }

  sys::InetCredentials credentials() const {
    const Url& t = FConnection.Target;
    const TQNInetProxy* p = FConnection.Proxy;
    return {t.User(), t.Password(), p ? ToUtf8(p->User()) : std::string(),
            p ? ToUtf8(p->Password()) : std::string()};
  }

  // The target goes to libcurl part by part, as the connection holds it.
  sys::HttpRequest request_for(const char* method) const {
    const Url& t = FConnection.Target;
    sys::HttpRequest r;
    r.Method = method;
    r.Target = {FConnection.Service == isHTTPS ? "https" : "http", t.Host(), t.Port(), t.Path(), t.Query()};
    if (r.Target.Path.empty() || r.Target.Path.front() != '/') r.Target.Path = "/" + r.Target.Path;
    r.Http10 = true;
    r.Credentials = credentials();
    return r;
  }

  std::unique_ptr<sys::HttpTransfer> FTransfer;
};

}  // namespace

std::unique_ptr<TQNWebSource> MakeHttpSource(TQNWebConnection& connection) {
  return std::unique_ptr<TQNWebSource>(new HttpSource(connection));
}

}  // namespace qninet
