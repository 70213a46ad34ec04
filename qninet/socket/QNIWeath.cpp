#include "qninet/socket/QNIWeath.h"

#include "qninet/socket/QNIFedEx.h"
#include "qninet/socket/QNIHTTP.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNWeatherTrackingType, "wttZip")

const char16_t* const QNIWeatherHost = u"www.weather.com";

namespace {
constexpr StringView kTemperatureMarker = u"CLASS=obsTempTextA>";
}

String WeatherPagePath(const String& Zip) {
  const String z = EncodeBlanks(Zip);
  return u"/weather/local/" + z + u"?lswe=" + z + u"&lswa=WeatherLocalUndeclared&GO=GO&whatprefs=";
}

Integer WeatherTemperature(const String& Page) {
  const std::size_t at = Page.find(kTemperatureMarker);
  if (at == String::npos) return 0;
  String digits;
  for (std::size_t i = at + kTemperatureMarker.size(); i < Page.size(); ++i) {
    const char16_t c = Page[i];
    if ((c < u'0' || c > u'9') && c != u'-') break;
    digits += c;
  }
  return StrToIntDef(digits, 0);
}

QNINET_CLASS_INFO(TQNWeatherInfo, Published("Zip", &Self::Zip, &Self::SetZip),
                  Published("TrackingType", &Self::TrackingType, &Self::SetTrackingType, wttZip))

TQNWeatherInfo::TQNWeatherInfo(TComponent* AOwner) : TQNInetBase(AOwner) {
  SetTrackingType(wttZip);
  SetPort(80);
  SetHost(QNIWeatherHost);
}

TQNWeatherInfo::~TQNWeatherInfo() = default;

void TQNWeatherInfo::BeforeExecute() {
  drop_stale_connection(*this);
  TQNInetBase::BeforeExecute();
}

String TQNWeatherInfo::GetQuery() {
  String url = WeatherPagePath(FTrackingType == wttZip ? FZip : String());
  // What the application wrote: a dotted address makes `Host` read empty, and an empty Host line
  // is refused by HTTP servers.
  String host = !FHost.empty() ? FHost : FAddress;
  if (Proxy()->UseProxy() && !Proxy()->Server().empty()) {
    String target = host;
    if (FPort != 80 && FPort > 0) target.append(1, u':').append(IntToStr(FPort));
    url = u"http://" + target + url;
  }
  return u"GET " + url + u" HTTP/1.0\r\nHost: " + host + u"\r\n\r\n";
}

void TQNWeatherInfo::AfterExecute(String& Text) {
  FTemperature = 0;
  TQNInetBase::AfterExecute(Text);
  FTemperature = WeatherTemperature(Text);
}

}  // namespace qninet
