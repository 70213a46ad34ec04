// The HTTP answer on arbitrary bytes: splitting the header block from the body, holding the
// body to its Content-Length, the status and header look-ups, the Content-Length and date
// values, and the redirect URL. Each result is checked against a bound or read back.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "qninet/core/HttpRequest.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/sys/InetClient.h"
#include "qninet/web/WebSource.h"

using namespace qninet;

namespace {

constexpr std::int64_t kUnixEpochIn1601Units = 116444736000000000;

// The IMF-fixdate of an instant in 100-ns units since 1601, or empty when gmtime refuses it.
std::string imf_date(std::int64_t units) {
  const std::time_t seconds = static_cast<std::time_t>((units - kUnixEpochIn1601Units) / 10000000);
  std::tm tm{};
  if (!gmtime_r(&seconds, &tm) || tm.tm_year + 1900 < 1601 || tm.tm_year + 1900 > 9999) return {};
  char text[64];
  return std::strftime(text, sizeof text, "%a, %d %b %Y %H:%M:%S GMT", &tm) ? text : "";
}

void check_hold(const String& answer, bool head) {
  String held = answer;
  try {
    HTTPHoldToContentLength(held, head);
  } catch (const Exception&) {
    return;  // a body shorter than announced
  }
  FUZZ_CHECK(held.size() <= answer.size() && answer.compare(0, held.size(), held) == 0);
  // A held answer already has the length it announces.
  String again = held;
  HTTPHoldToContentLength(again, head);
  FUZZ_CHECK(again == held);
}

// The answer's lines, ended by CRLF, LF or a lone CR.
std::vector<String> lines_of(const String& text) {
  std::vector<String> lines;
  std::size_t at = 0;
  while (at < text.size()) {
    const std::size_t end = std::min(text.find_first_of(u"\r\n", at), text.size());
    lines.push_back(text.substr(at, end - at));
    at = end + (text.compare(end, 2, u"\r\n") == 0 ? 2 : 1);
  }
  return lines;
}

// Split as written down: the lines before the first empty one are the headers, the lines after
// it the body, each followed by CRLF; without an empty line the last line goes too.
void check_split(const String& answer) {
  const std::vector<String> lines = lines_of(answer);
  const auto blank = std::find(lines.begin(), lines.end(), String());
  std::vector<String> expectedHeaders(lines.begin(), blank);
  String expectedBody;
  if (blank == lines.end()) {
    if (!expectedHeaders.empty()) expectedHeaders.pop_back();
  } else {
    for (auto it = blank + 1; it != lines.end(); ++it) expectedBody += *it + u"\r\n";
  }
  for (const bool remove : {false, true}) {
    TStringList headers;
    String text = answer;
    HTTPSplitAnswer(text, headers, remove);
    FUZZ_CHECK(text == (remove ? expectedBody : answer));
    FUZZ_CHECK(headers.Count() == static_cast<int>(expectedHeaders.size()));
    for (int i = 0; i < headers.Count(); ++i) FUZZ_CHECK(headers.Strings(i) == expectedHeaders[i]);
    for (const char16_t* name : {u"HTTP/", u"Content-Length:", u"location:"}) {
      const String found = HTTPFindResponse(headers, name);
      FUZZ_CHECK(found.empty() || SameText(StringView(found).substr(0, StringView(name).size()), name));
    }
  }
}

void check_length(const String& text) {
  const std::uint64_t n = parse_content_length(text);
  if (n != kQNIUnknownSize) {
    String digits = Trim(text);
    digits.erase(0, std::min(digits.find_first_not_of(u'0'), digits.size() - 1));
    FUZZ_CHECK(digits == FromUtf8(std::to_string(n)));
  }
}

void check_date(const std::string& text) {
  const auto units = sys::parse_http_date(text);
  if (!units) return;
  const std::string again = imf_date(*units);
  if (again.empty()) return;
  FUZZ_CHECK(sys::parse_http_date(again) == units);
}

void check_url(const String& text) {
  String host, path;
  Integer port = 0;
  if (!HTTPParseURL(text, host, port, path)) return;
  // A host is percent-decoded, so one holding "%" once decoded reads differently again.
  if (host.find(u'%') != String::npos) return;
  // An explicit port 0 is kept; connecting to it fails.
  FUZZ_CHECK(!host.empty() && port >= 0 && port < 65536 && !path.empty() && path[0] == u'/');
  const auto again = [](const String& h, Integer p, const String& pa, String& h2, Integer& p2, String& pa2) {
    const String bracketed = h.find(u':') != String::npos ? u"[" + h + u"]" : h;
    return HTTPParseURL(u"http://" + bracketed + u":" + IntToStr(p) + pa, h2, p2, pa2);
  };
  String host2, path2;
  Integer port2 = 0;
  FUZZ_CHECK(again(host, port, path, host2, port2, path2));
  FUZZ_CHECK(port2 == port && path2 == path);
  if (host2 == host) return;
  // Only a percent-encoded host may read differently once decoded ("%31" makes "183345", which
  // the second reading takes for the IPv4 address 0.2.204.49); from then on it stays as it is.
  FUZZ_CHECK(text.find(u'%') != String::npos);
  String host3, path3;
  Integer port3 = 0;
  FUZZ_CHECK(again(host2, port2, path2, host3, port3, path3) && host3 == host2);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view bytes = fuzz::bytes_of(data, size);
  const String answer = FromBytes(bytes);
  check_hold(answer, false);
  check_hold(answer, true);
  check_split(answer);
  // The values read from one header line: the first line of the input.
  const std::string line(bytes.substr(0, bytes.find_first_of("\r\n")));
  check_length(FromBytes(line));
  check_date(line);
  check_url(FromBytes(line));
  return 0;
}
