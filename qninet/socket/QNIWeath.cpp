#include "qninet/socket/QNIWeath.h"

#include "qninet/socket/QNIFedEx.h"

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


}  // namespace qninet
