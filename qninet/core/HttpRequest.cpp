#include "qninet/core/HttpRequest.h"

#include <algorithm>
#include <array>
#include <optional>

#include "qninet/core/QNInCnst.h"
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

void HTTPRefuseLineBreaks(const String& Value, const String& What) {
  if (Value.find_first_of(u"\r\n") != String::npos) throw Exception(Format(strQNInELineBreak, What));
}

String HTTPBuildRequest(const TQNIHTTPRequestParts& Parts) {
  // Checked before anything is built: a line break would let a value add lines of its own.
  HTTPRefuseLineBreaks(Parts.Host, u"Host");
  HTTPRefuseLineBreaks(Parts.Request, u"Request");
  HTTPRefuseLineBreaks(Parts.ProxyServer, u"Proxy.Server");
  HTTPRefuseLineBreaks(Parts.ProxyUser, u"Proxy.User");
  HTTPRefuseLineBreaks(Parts.ProxyPassword, u"Proxy.Password");
  if (Parts.Headers)
    for (int i = 0; i < Parts.Headers->Count(); ++i)
      HTTPRefuseLineBreaks(Parts.Headers->Strings(i), u"Headers");
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

void HTTPHoldToContentLength(String& Answer, bool HeadRequest) {
  if (HeadRequest) return;
  // The head's lines end at CRLF, LF or a lone CR, as the splitter reads them.
  std::size_t at = 0, bodyStart = String::npos;
  Int64 status = 0;
  std::optional<std::uint64_t> announced;
  bool first = true;
  while (at < Answer.size()) {
    std::size_t end = at;
    while (end < Answer.size() && Answer[end] != u'\r' && Answer[end] != u'\n') ++end;
    const StringView line = StringView(Answer).substr(at, end - at);
    std::size_t next = end;
    if (next < Answer.size()) {
      if (Answer[next] == u'\r' && next + 1 < Answer.size() && Answer[next + 1] == u'\n') ++next;
      ++next;
    }
    if (line.empty()) {
      bodyStart = next;
      break;
    }
    if (first && line.starts_with(u"HTTP/")) {
      const auto blank = line.find(u' ');
      if (blank != StringView::npos) status = StrToIntDef(line.substr(blank + 1, 3), 0);
    } else if (!announced && line.size() > 15 && SameText(line.substr(0, 15), u"Content-Length:")) {
      const String value = Trim(line.substr(15));
      std::uint64_t n = 0;
      bool digits = !value.empty() && value.size() <= 19;
      for (char16_t c : value) {
        if (c < u'0' || c > u'9') digits = false;
        if (digits) n = n * 10 + (c - u'0');
      }
      if (digits) announced = n;
    }
    first = false;
    at = next;
  }
  if (bodyStart == String::npos || !announced) return;
  if ((status >= 100 && status < 200) || status == 204 || status == 304) return;
  const std::uint64_t body = Answer.size() - std::min(bodyStart, Answer.size());
  if (body < *announced)
    throw Exception(
        Format(strQNInEAnswerCut, static_cast<Int64>(body), static_cast<std::uint64_t>(*announced)));
  Answer.resize(bodyStart + *announced);
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
