#include "qninet/socket/QNIHTTP.h"

#include <array>

#include "qninet/core/qniutil.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNIHTTPAction, "haHead", "haGet", "haPost")

namespace {

const std::array<String, 3>& method_words() {
  static const std::array<String, 3> kWords = {u"HEAD", u"GET", u"POST"};
  return kWords;
}

// The host as it stands in a URL or a Host line: an IPv6 literal in brackets.
String host_for_url(const String& host) {
  if (host.find(u':') == String::npos || host.front() == u'[') return host;
  // Appending rather than `u"[" + host`, which GCC 12 misreads as an overlapping copy.
  String bracketed(1, u'[');
  bracketed.append(host).push_back(u']');
  return bracketed;
}

String authority(const String& host, Integer port) {
  String a = host_for_url(host);
  if (port != 80 && port > 0) a.append(1, u':').append(IntToStr(port));
  return a;
}

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

const String& HTTPMethodWord(TQNIHTTPAction Action) { return method_words()[Action < 3 ? Action : haHead]; }

String HTTPBuildRequest(const TQNIHTTPRequestParts& Parts) {
  const String target = authority(Parts.Host, Parts.Port);
  String r = HTTPMethodWord(Parts.Action) + u" ";
  // A proxy reads the target from the absolute form of the request line (RFC 7230 section
  // 5.3.2); the Host line names the target in either case (section 5.4).
  if (!Parts.ProxyServer.empty()) r += u"http://" + target;
  r += Parts.Request + u" HTTP/1.0\r\nHost: " + target + u"\r\n";
  if (Parts.ThroughProxy && !Parts.ProxyUser.empty())
    r += u"Proxy-Authorization: Basic " + Encode64(Parts.ProxyUser + u":" + Parts.ProxyPassword) + u"\r\n";
  if (Parts.Headers)
    for (int i = 0; i < Parts.Headers->Count(); ++i) r += Parts.Headers->Strings(i) + u"\r\n";
  return r + u"\r\n";
}

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

void drop_stale_connection(TQNInetBase& Component) {
  // Without KeepConnection a connection open at the start of a cycle is what a failed cycle
  // (a 404, a read error) left behind; the server has closed its side, so reusing it would
  // send into a dead connection and read an empty answer.
  if (Component.Connected() && !Component.KeepConnection()) Component.Disconnect();
}

bool HTTPParseURL(const String& URL, String& Host, Integer& Port, String& Path) {
  const String u = Trim(URL);
  if (u.size() < 8 || !SameText(StringView(u).substr(0, 7), u"http://")) return false;
  const std::size_t slash = u.find(u'/', 7);
  const String auth = u.substr(7, slash == String::npos ? String::npos : slash - 7);
  Path = slash == String::npos ? String(u"/") : u.substr(slash);
  if (auth.empty()) return false;
  String host = auth, port;
  if (auth.front() == u'[') {
    const std::size_t close = auth.find(u']');
    if (close == String::npos) return false;
    host = auth.substr(1, close - 1);
    if (close + 1 < auth.size()) {
      if (auth[close + 1] != u':') return false;
      port = auth.substr(close + 2);
    }
  } else if (const std::size_t colon = auth.rfind(u':'); colon != String::npos) {
    host = auth.substr(0, colon);
    port = auth.substr(colon + 1);
  }
  if (host.empty()) return false;
  Integer p = 80;
  if (!port.empty()) {
    for (char16_t c : port)
      if (c < u'0' || c > u'9') return false;
    p = StrToIntDef(port, -1);
    if (p < 1 || p > 65535) return false;
  }
  Host = host;
  Port = p;
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

TQNIHTTPClient::~TQNIHTTPClient() = default;

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
  return HTTPBuildRequest(parts);
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
  TQNInetBase::AfterExecute(Text);
  HTTPSplitAnswer(Text, *FResponseHeaders, FRemoveHeaders);
  String url = GetResponse(u"Location");
  if (url.empty()) return;
  bool abort = true;
  if (FOnRedirect) FOnRedirect(this, url, abort);
  if (abort || url.empty() || FRedirects >= MaxRedirects) return;
  ++FRedirects;
  // The handler may hand back a host name (the classic contract), an http URL, the header line
  // itself or a path on the same server.
  String target = Trim(url);
  if (StartsText(u"Location:", target)) target = Trim(StringView(target).substr(9));
  String host, path;
  Integer port = 80;
  if (HTTPParseURL(target, host, port, path)) {
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
