#include "qninet/socket/QNIHTTP.h"

#include "qninet/core/Url.h"

namespace qninet {

namespace {

// One line of the answer: [start, end) and where the next one starts, splitting at CR, LF or
// CRLF as `TStrings::SetText` does.
struct LineCursor {
  const String& Text;
  std::size_t Next = 0;
  bool Read(std::size_t& start, std::size_t& end) {
    if (Next >= Text.size()) return false;
    start = Next;
    std::size_t i = Next;
    while (i < Text.size() && Text[i] != u'\r' && Text[i] != u'\n') ++i;
    end = i;
    if (i < Text.size()) {
      if (Text[i] == u'\r' && i + 1 < Text.size() && Text[i + 1] == u'\n') ++i;
      ++i;
    }
    Next = i;
    return true;
  }
};

}  // namespace

void HTTPSplitAnswer(String& Answer, TStrings& ResponseHeaders, bool RemoveHeaders) {
  // Same result as loading the whole answer into the list and cutting it at the first empty
  // line, without copying a large body line by line.
  ResponseHeaders.BeginUpdate();
  ResponseHeaders.Clear();
  LineCursor cursor{Answer};
  std::size_t start = 0, end = 0;
  bool found = false;
  while (cursor.Read(start, end)) {
    if (start == end) {
      found = true;
      break;
    }
    ResponseHeaders.Add(Answer.substr(start, end - start));
  }
  if (!found) {
    // Without an empty line the last line plays its part: it and everything after go.
    if (ResponseHeaders.Count() > 0) ResponseHeaders.Delete(ResponseHeaders.Count() - 1);
    ResponseHeaders.EndUpdate();
    if (RemoveHeaders) Answer.clear();
    return;
  }
  ResponseHeaders.EndUpdate();
  if (!RemoveHeaders) return;
  String body;
  body.reserve(Answer.size() - cursor.Next + 64);
  while (cursor.Read(start, end)) {
    body.append(Answer, start, end - start);
    body += u"\r\n";
  }
  Answer = std::move(body);
}

String HTTPFindResponse(const TStrings& ResponseHeaders, const String& Value) {
  for (int i = 0; i < ResponseHeaders.Count(); ++i) {
    const String line = ResponseHeaders.Strings(i);
    if (line.size() >= Value.size() && SameText(StringView(line).substr(0, Value.size()), Value)) return line;
  }
  return String();
}

bool HTTPParseURL(const String& URL, String& Host, Integer& Port, String& Path) {
  const auto url = Url::Parse(ToUtf8(Trim(URL)));
  if (!url || url->Scheme() != "http" || url->Host().empty()) return false;
  Host = FromUtf8(url->Host());
  Port = url->Port();
  Path = FromUtf8(url->Target());
  return true;
}

QNINET_CLASS_INFO(TQNIHTTPClient, Published("Action", &Self::Action, &Self::SetAction, haHead),
                  Published("Request", &Self::Request, &Self::SetRequest),
                  Published("Headers", &Self::Headers),
                  Published("RemoveHeaders", &Self::RemoveHeaders, &Self::SetRemoveHeaders, true),
                  PublishedEvent("OnRedirect", &Self::OnRedirect))

TQNIHTTPClient::TQNIHTTPClient(TComponent* AOwner)
    : TQNInetBase(AOwner),
      FHeaders(std::make_unique<TStringList>()),
      FResponseHeaders(std::make_unique<TStringList>()) {
  SetPort(80);
}

TQNIHTTPClient::~TQNIHTTPClient() { StopAsyncRun(); }

String TQNIHTTPClient::GetQuery() {
  TQNIHTTPRequestParts parts;
  parts.Action = FAction;
  // What the application wrote, not what the socket holds: after a proxied connection the
  // socket points at the proxy.
  parts.Host = !FHost.empty() ? FHost : FAddress;
  parts.Port = FPort;
  parts.Request = FRequest;
  parts.ProxyServer = Proxy()->Server();
  parts.ThroughProxy = Proxy()->UseProxy() && !Proxy()->Server().empty();
  parts.ProxyUser = Proxy()->User();
  parts.ProxyPassword = Proxy()->Password();
  parts.Headers = FHeaders.get();
  // 443 is the default port of https, so the Host line names the host alone.
  if (UseTLS() == tlsImplicit && FPort == 443) parts.PortInHostLine = false;
  return HTTPBuildRequest(parts);
}

void TQNIHTTPClient::SetUseTLS(TQNITLSMode value) {
  RefuseWriteWhileRunning(*this);
  SetUseTLSMovingPort(value, 80, 443);
}

String TQNIHTTPClient::GetResponse(const String& Value) const {
  return HTTPFindResponse(*FResponseHeaders, Value);
}

void TQNIHTTPClient::BeforeExecute() {
  FRedirects = 0;
  drop_stale_connection(*this);
  TQNInetBase::BeforeExecute();
}

void TQNIHTTPClient::AfterExecute(String& Text) {
  HTTPHoldToContentLength(Text, FAction == haHead);
  TQNInetBase::AfterExecute(Text);
  HTTPSplitAnswer(Text, *FResponseHeaders, FRemoveHeaders);
  String url = GetResponse(u"Location");
  if (url.empty()) return;
  bool abort = true;
  if (FOnRedirect) OnStartingThread([&] { FOnRedirect(this, url, abort); });
  if (abort || url.empty() || FRedirects >= MaxRedirects) return;
  ++FRedirects;
  // The handler may hand back a host name (the classic contract), an http URL, the header line
  // itself or a path on the same server.
  String target = Trim(url);
  if (StartsText(u"Location:", target)) target = Trim(StringView(target).substr(9));
  String host, path;
  Integer port = 80;
  const auto https = Url::Parse(ToUtf8(target));
  if (https && https->Scheme() == "https" && !https->Host().empty()) {
    // A move to https takes TLS along; the certificate is checked for the new host.
    TQNInetBase::SetUseTLS(tlsImplicit);
    SetHost(FromUtf8(https->Host()));
    SetPort(https->Port());
    FRequest = FromUtf8(https->Target());
  } else if (HTTPParseURL(target, host, port, path)) {
    // A move from https to plain http is refused rather than sent in clear.
    if (UseTLS() == tlsImplicit) return;
    SetHost(host);
    SetPort(port);
    FRequest = path;
  } else if (!target.empty() && target.front() == u'/') {
    FRequest = target;
  } else {
    SetHost(target);
  }
  Disconnect();
  Connect();
  String next = InternalExecute();
  AfterExecute(next);
  Text = std::move(next);
}

}  // namespace qninet
