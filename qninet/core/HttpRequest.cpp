#include "qninet/core/HttpRequest.h"

#include <array>

#include "qninet/core/Url.h"
#include "qninet/core/qniutil.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNIHTTPAction, "haHead", "haGet", "haPost")

namespace {

// The host as it stands in a URL or a Host line: an IPv6 literal in brackets.
String url_host(const String& host) {
  if (!host.empty() && host.front() == u'[') return host;
  return FromUtf8(HostPort{ToUtf8(host)}.UrlHost());
}

String authority(const String& host, Integer port) {
  String a = url_host(host);
  if (port != 80 && port > 0) a.append(1, u':').append(IntToStr(port));
  return a;
}

}  // namespace

const String& HTTPMethodWord(TQNIHTTPAction Action) {
  static const std::array<String, 3> kWords = {u"HEAD", u"GET", u"POST"};
  return kWords[Action < 3 ? Action : haHead];
}

String HTTPBuildRequest(const TQNIHTTPRequestParts& Parts) {
  const String target = authority(Parts.Host, Parts.Port);
  String r = HTTPMethodWord(Parts.Action) + u" ";
  // A proxy reads the target from the absolute form of the request line (RFC 7230 section
  // 5.3.2); the Host line names the target in either case (section 5.4).
  if (Parts.AbsoluteForm || !Parts.ProxyServer.empty()) r += u"http://" + target;
  r += Parts.Request + u" HTTP/1.0\r\nHost: " + (Parts.PortInHostLine ? target : url_host(Parts.Host)) +
       u"\r\n";
  if (Parts.ThroughProxy && !Parts.ProxyUser.empty())
    r += u"Proxy-Authorization: Basic " + Encode64(Parts.ProxyUser + u":" + Parts.ProxyPassword) + u"\r\n";
  if (Parts.Headers)
    for (int i = 0; i < Parts.Headers->Count(); ++i) r += Parts.Headers->Strings(i) + u"\r\n";
  if (Parts.EndOfHeaders) r += u"\r\n";
  return r;
}

String EncodeBlanks(const String& Value) {
  String out;
  out.reserve(Value.size());
  for (char16_t c : Value) {
    if (c == u' ')
      out += u"%20";
    else
      out += c;
  }
  return out;
}

}  // namespace qninet
