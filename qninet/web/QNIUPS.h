#pragma once
// The UPS tracker: posts the XML tracking request for one parcel and copies the shipment, its
// addresses and every scan event of its packages out of the answer.

#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qninet/rtl/Collections.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

class TQNXMLEngine;
namespace ups_detail {
struct Scan;
}

/// The UPS online tools host; the XML tracking interface there has been retired by its
/// operator, so an application points `Host` and `Port` at a compatible service.
inline constexpr const char16_t* kQNUPSHost = u"onlinetools.ups.com";
/// The request's path on that host.
inline constexpr const char* kQNUPSTrackPath = "/ups.app/xml/Track";
/// The REST API's token path (OAuth client credentials) and tracking path (the number follows).
inline constexpr const char* kQNUPSTokenPath = "/security/v1/oauth/token";
inline constexpr const char* kQNUPSDetailsPath = "/api/track/v1/details/";

/// Which of the service's interfaces the tracker speaks: the XML tracking request with an
/// access license number, or the REST API with OAuth client credentials.
enum TQNUPSApi : std::uint8_t { uaXML, uaREST };
QNINET_DECLARE_ENUM_INFO(TQNUPSApi)

/// An address of a shipment or a scan location.
class QNINET_API TQNInetActivityAddress : public TPersistent {
  QNINET_OBJECT(TQNInetActivityAddress, TPersistent)
public:
  /// Copies the fields from another address; anything else is refused.
  void Assign(const TPersistent* Source) override;
  /// The non-empty fields (address lines, city, state or province, postal code, country)
  /// joined by one blank.
  String Text() const;

  /// The first line of the street address.
  const String& AddressLine1() const { return FAddressLine1; }
  /// Sets `AddressLine1`.
  void SetAddressLine1(const String& value) { FAddressLine1 = value; }
  /// The second line of the street address.
  const String& AddressLine2() const { return FAddressLine2; }
  /// Sets `AddressLine2`.
  void SetAddressLine2(const String& value) { FAddressLine2 = value; }
  /// The third line of the street address.
  const String& AddressLine3() const { return FAddressLine3; }
  /// Sets `AddressLine3`.
  void SetAddressLine3(const String& value) { FAddressLine3 = value; }
  /// The city.
  const String& City() const { return FCity; }
  /// Sets `City`.
  void SetCity(const String& value) { FCity = value; }
  /// The postal code.
  const String& PostalCode() const { return FPostalCode; }
  /// Sets `PostalCode`.
  void SetPostalCode(const String& value) { FPostalCode = value; }
  /// The country code.
  const String& Country() const { return FCountry; }
  /// Sets `Country`.
  void SetCountry(const String& value) { FCountry = value; }
  /// The state or province (the REST API gives it; the XML answer's is not read).
  const String& StateProvince() const { return FStateProvince; }
  /// Sets `StateProvince`.
  void SetStateProvince(const String& value) { FStateProvince = value; }

private:
  String FAddressLine1, FAddressLine2, FAddressLine3, FCity, FPostalCode, FCountry, FStateProvince;
};

/// One scan event of a package.
class QNINET_API TQNInetActivity : public TCollectionItem {
  QNINET_OBJECT(TQNInetActivity, TCollectionItem)
public:
  /// Creates an activity, added to `Collection` when one is given.
  explicit TQNInetActivity(TCollection* Collection = nullptr);
  ~TQNInetActivity() override;
  /// Copies every field from another activity (inside the collection's update bracket);
  /// anything else is refused.
  void Assign(const TPersistent* Source) override;

  /// The code of the scan's location.
  const String& LocationCode() const { return FLocationCode; }
  /// Sets `LocationCode`.
  void SetLocationCode(const String& value) { FLocationCode = value; }
  /// The address of the scan's location, owned by the activity.
  TQNInetActivityAddress* Location() const { return FLocation.get(); }
  /// Copies the given address into the owned one.
  void SetLocation(const TQNInetActivityAddress* value) { FLocation->Assign(value); }
  /// The description of the scan's location.
  const String& LocationDescription() const { return FLocationDescription; }
  /// Sets `LocationDescription`.
  void SetLocationDescription(const String& value) { FLocationDescription = value; }
  /// The name of who signed for the parcel, on a delivery scan.
  const String& LocationSignedForByName() const { return FLocationSignedForByName; }
  /// Sets `LocationSignedForByName`.
  void SetLocationSignedForByName(const String& value) { FLocationSignedForByName = value; }
  /// The code of the status type (delivered, in transit, exception...).
  const String& StatusTypeCode() const { return FStatusTypeCode; }
  /// Sets `StatusTypeCode`.
  void SetStatusTypeCode(const String& value) { FStatusTypeCode = value; }
  /// The description of the status type.
  const String& StatusTypeDescription() const { return FStatusTypeDescription; }
  /// Sets `StatusTypeDescription`.
  void SetStatusTypeDescription(const String& value) { FStatusTypeDescription = value; }
  /// The status code of the scan.
  const String& StatusCode() const { return FStatusCode; }
  /// Sets `StatusCode`.
  void SetStatusCode(const String& value) { FStatusCode = value; }
  /// The scan's date and time; 0 when the answer gave none that reads.
  TDateTime DateTime() const { return FDateTime; }
  /// Sets `DateTime`.
  void SetDateTime(TDateTime value) { FDateTime = value; }

private:
  String FLocationCode;
  std::unique_ptr<TQNInetActivityAddress> FLocation;
  String FLocationDescription, FLocationSignedForByName, FStatusTypeCode, FStatusTypeDescription, FStatusCode;
  TDateTime FDateTime = 0;
};

/// The activities of a tracker, owned, in document order. A run keeps each scan as a lean
/// record (only the texts the answer gave) and makes its `TQNInetActivity` when it is first
/// asked for; several threads may ask at once.
class QNINET_API TQNInetActivities : public TCollectionOf<TQNInetActivity> {
  QNINET_OBJECT(TQNInetActivities, TCollection)
public:
  /// Creates the list for the tracker `QNInetCntrl`, which owns it.
  explicit TQNInetActivities(TComponent* QNInetCntrl)
      : TCollectionOf(QNInetCntrl), FQNInetControl(QNInetCntrl) {}
  /// The tracker that owns the list.
  TComponent* QNInetControl() const { return FQNInetControl; }
  /// The activity at `Index`; raises `EListError` when out of range.
  TQNInetActivity* GetActivity(int Index) const { return Items(Index); }
  /// Copies `Value` into the activity at `Index`.
  void SetActivity(int Index, const TQNInetActivity* Value) { Items(Index)->Assign(Value); }

protected:
  /// The activity of a scan kept as a record.
  TCollectionItem* MakeItem(std::uintptr_t Token) const override;
  /// Drops the records once the list is empty.
  void Update(TCollectionItem* Item) override;

private:
  friend class TQNUPSTracker;
  void add_scan(const ups_detail::Scan& scan);               // appends it as a record
  void read_scan(int index, ups_detail::Scan& scan) const;   // the record or activity at `index`
  void write_scan(int index, const ups_detail::Scan& scan);  // replaces it
  std::uintptr_t keep(const ups_detail::Scan& scan);         // its record's token (0: empty)
  TComponent* FQNInetControl;
  // The records, one after another: a mask of the fields given, the time when given, then each
  // text behind its length. An empty scan keeps nothing here.
  std::vector<char16_t> FRecords;
};

/// Tracks one parcel: `Execute` posts the access and track documents to `Host`:`Port`
/// (https unless `Service` is `isHTTP`) and fills the result properties from the answer.
/// Every run starts from empty results. The run fails (`Status` `isFailed`, the reason in
/// `LastErrorText`) when the service cannot be reached, answers with an HTTP status of 400 or
/// more, answers with an error (its description and code), or sends no tracking response.
class QNINET_API TQNUPSTracker : public TQNCustomWebComponent {
  QNINET_OBJECT(TQNUPSTracker, TQNCustomWebComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TQNUPSTracker(TComponent* AOwner);
  ~TQNUPSTracker() override;

  /// The access licence number sent with the XML API's access document.
  const String& AccessLicenseNumber() const { return FAccessLicenseNumber; }
  /// Sets `AccessLicenseNumber`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetAccessLicenseNumber(const String& value) {
    RefuseWriteWhileRunning(*this);
    FAccessLicenseNumber = value;
  }
  /// The tracking number to ask about.
  const String& TrackingNumber() const { return FTrackingNumber; }
  /// Stores a different number and clears the results; the same number changes nothing.
  void SetTrackingNumber(const String& value);
  /// Which API the run uses: the XML API or the REST API with OAuth client credentials.
  TQNUPSApi ApiVersion() const { return FApiVersion; }
  /// Sets `ApiVersion`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetApiVersion(TQNUPSApi value) {
    RefuseWriteWhileRunning(*this);
    FApiVersion = value;
  }
  /// The REST API's client credentials; a change drops the token kept.
  const String& ClientID() const { return FClientID; }
  /// Sets `ClientID`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetClientID(const String& value) {
    RefuseWriteWhileRunning(*this);
    FClientID = value;
  }
  /// The REST API's client secret; a change drops the token kept.
  const String& ClientSecret() const { return FClientSecret; }
  /// Sets `ClientSecret`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetClientSecret(const String& value) {
    RefuseWriteWhileRunning(*this);
    FClientSecret = value;
  }
  /// The text of the last answer (what was read of it when the run failed).
  const String& LastXMLResponse() const { return FLastXMLResponse; }

  /// The shipper's account number, from the last answer.
  const String& ShipperNumber() const { return FShipperNumber; }
  /// The shipper's address, from the last answer.
  TQNInetActivityAddress* ShipperAddress() const { return FShipperAddress.get(); }
  /// The address the parcel goes to, from the last answer.
  TQNInetActivityAddress* ShipToAddress() const { return FShipToAddress.get(); }
  /// The shipment's identification number, from the last answer.
  const String& IdentificationNumber() const { return FIdentificationNumber; }
  /// The pickup date, from the last answer; 0 when none was given.
  TDateTime PickupDate() const { return FPickupDate; }
  /// The code of the shipping service, from the last answer.
  const String& ServiceCode() const { return FServiceCode; }
  /// The description of the shipping service, from the last answer.
  const String& ServiceDescription() const { return FServiceDescription; }
  /// The shipment's weight as the answer gives it.
  const String& ShipmentWeight() const { return FShipmentWeight; }
  /// The unit of `ShipmentWeight` ("LBS", "KGS").
  const String& ShipmentWeightUnits() const { return FShipmentWeightUnits; }
  /// The scan events of the last answer, in document order.
  TQNInetActivities* Activities() const { return FActivities.get(); }

  /// Empties `Activities`, `LastXMLResponse` and every shipment property.
  void Clear();

  /// The request body: the access document, CR LF, the track document, each value
  /// XML-escaped and every character beyond ASCII written as a character reference.
  static std::string BuildRequest(const String& AccessLicenseNumber, const String& CustomerContext,
                                  const String& TrackingNumber);
  /// Reads an answer that came whole with HTTP status `StatusCode` into the result properties
  /// (expected empty, as `Clear` leaves them; `LastXMLResponse` is not set). Returns why the run
  /// fails (an error status, the service's error, no tracking response), or empty when the
  /// answer was read.
  String ReadAnswer(std::string_view Body, int StatusCode);
  /// The same for the REST API's JSON answer; raises nothing: a text that is no JSON or nests
  /// too deep is a failure naming `Endpoint`.
  String ReadJsonAnswer(std::string_view Body, int StatusCode, const std::string& Endpoint);
  /// A UPS date (YYYYMMDD) and time (HHMMSS) as one date-time; false when either does not read.
  static bool ReadDateTime(const String& Date, const String& Time, TDateTime& Out);

protected:
  /// One tracking request.
  void InternalExecute() override;

private:
  String read_answer(TMemoryStream& body, int StatusCode);
  void read_activities(const TQNXMLEngine& xml);
  struct TRestReader;  // the REST answer's values into the results, as they are parsed
  String execute_rest();
  String request_token(const Url& base);

  TQNUPSApi FApiVersion = uaXML;
  String FClientID, FClientSecret;
  // The token kept, for the service and credentials it was given for, until it expires.
  std::string FAccessToken, FTokenFor;
  std::chrono::steady_clock::time_point FTokenExpiry;

  String FAccessLicenseNumber;
  String FTrackingNumber;
  String FShipperNumber;
  std::unique_ptr<TQNInetActivityAddress> FShipperAddress;
  std::unique_ptr<TQNInetActivityAddress> FShipToAddress;
  String FIdentificationNumber;
  TDateTime FPickupDate = 0;
  String FServiceCode, FServiceDescription, FShipmentWeight, FShipmentWeightUnits;
  std::unique_ptr<TQNInetActivities> FActivities;
  String FLastXMLResponse;
};

}  // namespace qninet
