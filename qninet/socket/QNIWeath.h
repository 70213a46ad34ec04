#pragma once
// The weather reader: asks a weather site's local-weather page for a postal code and reads the
// current temperature after the page's CSS class marker.

#include <optional>

#include "qninet/rtl/TypInfo.h"
#include "qninet/socket/QNInBase.h"

namespace qninet {

/// How the place is named; postal codes only.
enum TQNWeatherTrackingType : std::uint8_t { wttZip };
QNINET_DECLARE_ENUM_INFO(TQNWeatherTrackingType)

/// The weather site's host, the default `Host`.
extern QNINET_API const char16_t* const QNIWeatherHost;

/// The request path of the local-weather page for a postal code (blanks encoded as "%20").
QNINET_API String WeatherPagePath(const String& Zip);
/// The whole number of digits and "-" right after "CLASS=obsTempTextA>" in `Page`; none when the
/// marker is missing or the text there is no whole number.
QNINET_API std::optional<Integer> WeatherReading(const String& Page);
/// `WeatherReading`, 0 when there is none.
QNINET_API Integer WeatherTemperature(const String& Page);

/// Reads the current temperature for a postal code. `Execute` returns the raw page.
class QNINET_API TQNWeatherInfo : public TQNInetBase {
  QNINET_OBJECT(TQNWeatherInfo, TQNInetBase)
public:
  /// Port 80, the weather site's host, `wttZip`.
  explicit TQNWeatherInfo(TComponent* AOwner);
  ~TQNWeatherInfo() override;
  /// The GET request for the page (through a proxy the absolute address), with the empty line.
  String GetQuery() override;

  /// The ZIP code to ask the weather for.
  const String& Zip() const { return FZip; }
  /// A new value also sets `TrackingType` to `wttZip`.
  void SetZip(const String& value) {
    RefuseWriteWhileRunning(*this);
    if (value == FZip) return;
    FZip = value;
    FTrackingType = wttZip;
  }
  /// How the place is named; postal codes only (`wttZip`).
  TQNWeatherTrackingType TrackingType() const { return FTrackingType; }
  /// Sets `TrackingType`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetTrackingType(TQNWeatherTrackingType value) {
    RefuseWriteWhileRunning(*this);
    FTrackingType = value;
  }
  /// The temperature from the last answer.
  Integer Temperature() const { return FTemperature; }

protected:
  /// Drops a connection a failed cycle left open, then fires `OnBeforeExecute`.
  void BeforeExecute() override;
  /// Fires `OnAfterExecute` with the raw page, then reads `Temperature` from it.
  void AfterExecute(String& Text) override;

private:
  String FZip;
  TQNWeatherTrackingType FTrackingType = wttZip;
  Integer FTemperature = 0;
};

}  // namespace qninet
