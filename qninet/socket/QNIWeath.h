#pragma once
// The weather reader: asks a weather site's local-weather page for a postal code and reads the
// current temperature after the page's CSS class marker.

#include "qninet/rtl/TypInfo.h"

namespace qninet {

/// How the place is named; postal codes only.
enum TQNWeatherTrackingType : std::uint8_t { wttZip };
QNINET_DECLARE_ENUM_INFO(TQNWeatherTrackingType)

/// The weather site's host, the default `Host`.
extern QNINET_API const char16_t* const QNIWeatherHost;

/// The request path of the local-weather page for a postal code (blanks encoded as "%20").
QNINET_API String WeatherPagePath(const String& Zip);
/// The whole number of digits and "-" right after "CLASS=obsTempTextA>" in `Page`; 0 when the
/// marker is missing or the text there is no whole number.
QNINET_API Integer WeatherTemperature(const String& Page);


}  // namespace qninet
