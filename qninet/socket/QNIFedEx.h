#pragma once
// The FedEx tracker: asks the tracking page for tracking numbers and reads the shipment and
// scan-activity tables between the page's comment markers into name=value lines.

#include <memory>

#include "qninet/core/HttpRequest.h"
#include "qninet/rtl/Strings.h"
#include "qninet/socket/QNInBase.h"

namespace qninet {

/// The FedEx web site's host: the default `Host`, the Host line and the proxy prefix.
extern QNINET_API const char16_t* const QNIFedExHost;

/// One line per table row, the row's cell texts joined by "=": tags are dropped, line ends in
/// the source dropped, white-space runs shrink, entities are replaced and doubled "=" collapse.
QNINET_API String HTMLTableToLines(const String& Html);
/// The text of `Page` after the first `Begin` marker and before the first `End` marker; empty
/// when either is missing or they are out of order.
QNINET_API String TextBetweenMarkers(const String& Page, const String& Begin, const String& End);

/// Tracks FedEx parcels. `Execute` returns the raw page; `ShipmentInfo` and `Activity` hold
/// the two tables as name=value lines.
class QNINET_API TQNFedExTracker : public TQNInetBase {
  QNINET_OBJECT(TQNFedExTracker, TQNInetBase)
public:
  /// Port 80, the FedEx host.
  explicit TQNFedExTracker(TComponent* AOwner);
  ~TQNFedExTracker() override;
  /// Clears both lists and returns the GET request for the tracking page (through a proxy the
  /// absolute address). The engine's header block completes it.
  String GetQuery() override;

  /// The tracking number to ask about.
  const String& TrackingNumber() const { return FTrackingNumber; }
  /// Sets `TrackingNumber`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetTrackingNumber(const String& value) {
    RefuseWriteWhileRunning(*this);
    if (value != FTrackingNumber) FTrackingNumber = value;
  }
  /// The shipment table of the last page, as name=value lines; owned.
  TStrings* ShipmentInfo() const { return FShipmentInfo.get(); }
  /// The activity table of the last page, as name=value lines; owned.
  TStrings* Activity() const { return FActivity.get(); }

protected:
  /// Drops a connection a failed cycle left open, then fires `OnBeforeExecute`.
  void BeforeExecute() override;
  /// Fills the two lists from the page; the page stays as it is. `OnAfterExecute` does not fire.
  void AfterExecute(String& Text) override;

private:
  String FTrackingNumber;
  std::unique_ptr<TStringList> FShipmentInfo;
  std::unique_ptr<TStringList> FActivity;
};

}  // namespace qninet
