#include "qninet/socket/QNIWeath.h"

#include "qninet/core/HttpRequest.h"

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

std::optional<Integer> WeatherReading(const String& Page) {
  const std::size_t at = Page.find(kTemperatureMarker);
  if (at == String::npos) return std::nullopt;
  String digits;
  for (std::size_t i = at + kTemperatureMarker.size(); i < Page.size(); ++i) {
    const char16_t c = Page[i];
    if ((c < u'0' || c > u'9') && c != u'-') break;
    digits += c;
  }
  try {
    return StrToInt(digits);
  } catch (const EConvertError&) {  // empty, a lone "-" or a "-" after a digit
    return std::nullopt;
  }
}

Integer WeatherTemperature(const String& Page) { return WeatherReading(Page).value_or(0); }

QNINET_CLASS_INFO(TQNWeatherInfo, Published("Zip", &Self::Zip, &Self::SetZip),
                  Published("TrackingType", &Self::TrackingType, &Self::SetTrackingType, wttZip))

TQNWeatherInfo::TQNWeatherInfo(TComponent* AOwner) : TQNInetBase(AOwner) {
  SetTrackingType(wttZip);
  SetPort(80);
  SetHost(QNIWeatherHost);
}

TQNWeatherInfo::~TQNWeatherInfo() { StopAsyncRun(); }

void TQNWeatherInfo::BeforeExecute() {
  drop_stale_connection(*this);
  TQNInetBase::BeforeExecute();
}

String TQNWeatherInfo::GetQuery() {
  TQNIHTTPRequestParts parts;
  parts.Action = haGet;
  // What the application wrote: a dotted address makes `Host` read empty, and an empty Host line
  // is refused by HTTP servers.
  parts.Host = !FHost.empty() ? FHost : FAddress;
  parts.Port = FPort;
  parts.Request = WeatherPagePath(FTrackingType == wttZip ? FZip : String());
  parts.AbsoluteForm = Proxy()->UseProxy() && !Proxy()->Server().empty();
  parts.PortInHostLine = false;
  return HTTPBuildRequest(parts);
}

void TQNWeatherInfo::AfterExecute(String& Text) {
  FTemperature = 0;
  HTTPHoldToContentLength(Text, false);
  TQNInetBase::AfterExecute(Text);
  FTemperature = WeatherTemperature(Text);
}

}  // namespace qninet
