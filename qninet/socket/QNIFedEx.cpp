#include "qninet/socket/QNIFedEx.h"

#include "qninet/core/qniutil.h"
#include "qninet/rtl/TypInfo.h"

namespace qninet {

const char16_t* const QNIFedExHost = u"www.fedex.com";

namespace {

constexpr StringView kShipmentMarker = u"<!-- shipment info -->";
constexpr StringView kBeginActivity = u"<!-- BEGIN Scan Activity -->";
constexpr StringView kEndActivity = u"<!-- END Scan Activity -->";

bool is_line_end(char16_t c) { return c == u'\n' || c == u'\r'; }

}  // namespace

String HTMLTableToLines(const String& Html) {
  String o;
  bool inTag = false;
  const std::size_t n = Html.size();
  for (std::size_t i = 0; i < n; ++i) {
    const char16_t c = Html[i];
    if (is_line_end(c)) continue;
    if (c == u'<') {
      inTag = true;
      // An end-of-cell tag closes a cell: its text and the next are joined by "=".
      if (!o.empty() && i + 3 < n && Html[i + 1] == u'/' && Html[i + 2] == u't' && Html[i + 3] == u'd' &&
          !is_line_end(o.back()) && o.back() != u'=')
        o += u'=';
      continue;
    }
    if (c == u'>') {
      inTag = false;
      // The end of a row tag (start or end) ends the line.
      if (!o.empty() && i >= 2 && Html[i - 2] == u't' && Html[i - 1] == u'r' && !is_line_end(o.back())) {
        if (o.back() == u'=') o.pop_back();
        o += u"\r\n";
      }
      continue;
    }
    if (inTag) continue;
    if ((c == u'\t' || c == u' ') && i + 1 < n) {
      const char16_t next = Html[i + 1];
      if (next == u'\t' || next == u'\n' || next == u'\r' || next == u' ' || next == u'<') continue;
    }
    o += c;
  }
  ReplaceHTMLChars(o);
  for (std::size_t p = o.find(u"=="); p != String::npos; p = o.find(u"==", p)) o.erase(p, 1);
  return o;
}

String TextBetweenMarkers(const String& Page, const String& Begin, const String& End) {
  const std::size_t b = Page.find(Begin);
  const std::size_t e = Page.find(End);
  if (b == String::npos || e == String::npos) return String();
  const std::size_t start = b + Begin.size();
  if (e <= start) return String();
  return Page.substr(start, e - start);
}

QNINET_CLASS_INFO(TQNFedExTracker,
                  Published("TrackingNumber", &Self::TrackingNumber, &Self::SetTrackingNumber))

TQNFedExTracker::TQNFedExTracker(TComponent* AOwner)
    : TQNInetBase(AOwner),
      FShipmentInfo(std::make_unique<TStringList>()),
      FActivity(std::make_unique<TStringList>()) {
  SetPort(80);
  SetHost(QNIFedExHost);
}

TQNFedExTracker::~TQNFedExTracker() { StopAsyncRun(); }

void TQNFedExTracker::BeforeExecute() {
  drop_stale_connection(*this);
  TQNInetBase::BeforeExecute();
}

String TQNFedExTracker::GetQuery() {
  FShipmentInfo->Clear();
  FActivity->Clear();
  TQNIHTTPRequestParts parts;
  parts.Action = haGet;
  parts.Host = QNIFedExHost;
  parts.Request =
      u"/cgi-bin/tracking?template_type=plugin&action=track&language=english&cntry_code=us&tracknumbers=" +
      EncodeBlanks(FTrackingNumber);
  parts.AbsoluteForm = Proxy()->UseProxy();
  // The engine's header block ends the header section.
  parts.EndOfHeaders = false;
  return HTTPBuildRequest(parts);
}

void TQNFedExTracker::AfterExecute(String& Text) {
  HTTPHoldToContentLength(Text, false);
  FShipmentInfo->SetText(
      HTMLTableToLines(TextBetweenMarkers(Text, String(kShipmentMarker), String(kBeginActivity))));
  FActivity->SetText(
      HTMLTableToLines(TextBetweenMarkers(Text, String(kBeginActivity), String(kEndActivity))));
}

}  // namespace qninet
