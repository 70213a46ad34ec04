#include "qninet/web/QNIUPS.h"

#include <cstring>

#include "qninet/core/Url.h"
#include "qninet/sys/TextDecoding.h"
#include "qninet/web/ServiceRequest.h"
#include "qninet/web/UPSScans.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNUPSApi, "uaXML", "uaREST")
QNINET_CLASS_INFO(TQNInetActivityAddress,
                  Published("AddressLine1", &Self::AddressLine1, &Self::SetAddressLine1),
                  Published("AddressLine2", &Self::AddressLine2, &Self::SetAddressLine2),
                  Published("AddressLine3", &Self::AddressLine3, &Self::SetAddressLine3),
                  Published("City", &Self::City, &Self::SetCity),
                  Published("PostalCode", &Self::PostalCode, &Self::SetPostalCode),
                  Published("Country", &Self::Country, &Self::SetCountry),
                  Published("StateProvince", &Self::StateProvince, &Self::SetStateProvince))
QNINET_CLASS_INFO(TQNInetActivity, Published("LocationCode", &Self::LocationCode, &Self::SetLocationCode),
                  Published("Location", &Self::Location),
                  Published("LocationDescription", &Self::LocationDescription, &Self::SetLocationDescription),
                  Published("LocationSignedForByName", &Self::LocationSignedForByName,
                            &Self::SetLocationSignedForByName),
                  Published("StatusTypeCode", &Self::StatusTypeCode, &Self::SetStatusTypeCode),
                  Published("StatusTypeDescription", &Self::StatusTypeDescription,
                            &Self::SetStatusTypeDescription),
                  Published("StatusCode", &Self::StatusCode, &Self::SetStatusCode),
                  Published("DateTime", &Self::DateTime, &Self::SetDateTime, 0.0))
QNINET_CLASS_INFO(TQNInetActivities)
QNINET_CLASS_INFO(TQNUPSTracker,
                  Published("Agent", &Self::Agent, &Self::SetAgent, String(u"Veltraxon Tracker")),
                  Published("Port", &Self::Port, &Self::SetPort, 443),
                  Published("Service", &Self::Service, &Self::SetService, isHTTPS),
                  Published("Host", &Self::Host, &Self::SetHost, String(kQNUPSHost)),
                  Published("AccessLicenseNumber", &Self::AccessLicenseNumber, &Self::SetAccessLicenseNumber,
                            String(u"E61A0C9D37B5F248")),
                  Published("TrackingNumber", &Self::TrackingNumber, &Self::SetTrackingNumber),
                  PublishedReadOnly("LastXMLResponse", &Self::LastXMLResponse),
                  Published("ApiVersion", &Self::ApiVersion, &Self::SetApiVersion, uaXML),
                  Published("ClientID", &Self::ClientID, &Self::SetClientID),
                  Published("ClientSecret", &Self::ClientSecret, &Self::SetClientSecret))

// ---------------------------------------------------------------------------------------------

void TQNInetActivityAddress::Assign(const TPersistent* Source) {
  if (const auto* s = dynamic_cast<const TQNInetActivityAddress*>(Source)) {
    FAddressLine1 = s->FAddressLine1;
    FAddressLine2 = s->FAddressLine2;
    FAddressLine3 = s->FAddressLine3;
    FCity = s->FCity;
    FPostalCode = s->FPostalCode;
    FCountry = s->FCountry;
    FStateProvince = s->FStateProvince;
    return;
  }
  TPersistent::Assign(Source);
}

String TQNInetActivityAddress::Text() const {
  String out;
  for (const String* part :
       {&FAddressLine1, &FAddressLine2, &FAddressLine3, &FCity, &FStateProvince, &FPostalCode, &FCountry}) {
    if (part->empty()) continue;
    if (!out.empty()) out += u' ';
    out += *part;
  }
  return out;
}

TQNInetActivity::TQNInetActivity(TCollection* Collection)
    : TCollectionItem(Collection), FLocation(std::make_unique<TQNInetActivityAddress>()) {}

TQNInetActivity::~TQNInetActivity() = default;

void TQNInetActivity::Assign(const TPersistent* Source) {
  const auto* s = dynamic_cast<const TQNInetActivity*>(Source);
  if (!s) return TCollectionItem::Assign(Source);
  if (Collection()) Collection()->BeginUpdate();
  FLocationCode = s->FLocationCode;
  FLocation->Assign(s->FLocation.get());
  FLocationDescription = s->FLocationDescription;
  FLocationSignedForByName = s->FLocationSignedForByName;
  FStatusTypeCode = s->FStatusTypeCode;
  FStatusTypeDescription = s->FStatusTypeDescription;
  FStatusCode = s->FStatusCode;
  FDateTime = s->FDateTime;
  if (Collection()) Collection()->EndUpdate();
}

// ---------------------------------------------------------------------------------------------

namespace {

using ups_detail::kScanFields;
using ups_detail::Scan;

// A scan's texts in an activity, in the record's order.
constexpr const String& (TQNInetActivity::*kActivityTexts[])() const = {
    &TQNInetActivity::LocationCode,
    &TQNInetActivity::LocationDescription,
    &TQNInetActivity::LocationSignedForByName,
    &TQNInetActivity::StatusTypeCode,
    &TQNInetActivity::StatusTypeDescription,
    &TQNInetActivity::StatusCode};
constexpr void (TQNInetActivity::*kActivitySetters[])(const String&) = {
    &TQNInetActivity::SetLocationCode,
    &TQNInetActivity::SetLocationDescription,
    &TQNInetActivity::SetLocationSignedForByName,
    &TQNInetActivity::SetStatusTypeCode,
    &TQNInetActivity::SetStatusTypeDescription,
    &TQNInetActivity::SetStatusCode};
constexpr const String& (TQNInetActivityAddress::*kAddressTexts[])() const = {
    &TQNInetActivityAddress::AddressLine1, &TQNInetActivityAddress::AddressLine2,
    &TQNInetActivityAddress::AddressLine3, &TQNInetActivityAddress::City,
    &TQNInetActivityAddress::PostalCode,   &TQNInetActivityAddress::Country,
    &TQNInetActivityAddress::StateProvince};
constexpr void (TQNInetActivityAddress::*kAddressSetters[])(const String&) = {
    &TQNInetActivityAddress::SetAddressLine1, &TQNInetActivityAddress::SetAddressLine2,
    &TQNInetActivityAddress::SetAddressLine3, &TQNInetActivityAddress::SetCity,
    &TQNInetActivityAddress::SetPostalCode,   &TQNInetActivityAddress::SetCountry,
    &TQNInetActivityAddress::SetStateProvince};
constexpr std::size_t kActivityFields = std::size(kActivityTexts);
static_assert(kActivityFields + std::size(kAddressTexts) == kScanFields);
constexpr unsigned kHasTime = 1u << kScanFields;  // the mask's bit for a time given

void fill(TQNInetActivity& a, const Scan& scan) {
  for (std::size_t f = 0; f < kActivityFields; ++f) (a.*kActivitySetters[f])(scan.Texts[f]);
  for (std::size_t f = kActivityFields; f < kScanFields; ++f)
    (a.Location()->*kAddressSetters[f - kActivityFields])(scan.Texts[f]);
  a.SetDateTime(scan.When);
}

void read(const TQNInetActivity& a, Scan& scan) {
  for (std::size_t f = 0; f < kActivityFields; ++f) scan.Texts[f] = (a.*kActivityTexts[f])();
  for (std::size_t f = kActivityFields; f < kScanFields; ++f)
    scan.Texts[f] = (a.Location()->*kAddressTexts[f - kActivityFields])();
  scan.When = a.DateTime();
}

// The record whose token is `token` (its place in `records` plus one; 0: an empty scan).
void read(const std::vector<char16_t>& records, std::uintptr_t token, Scan& scan) {
  scan.Reset();
  if (token == 0) return;
  const char16_t* at = records.data() + (token - 1);
  const unsigned mask = *at++;
  if (mask & kHasTime) {
    std::memcpy(&scan.When, at, sizeof scan.When);
    at += sizeof scan.When / sizeof *at;
  }
  for (std::size_t f = 0; f < kScanFields; ++f) {
    if (!(mask & (1u << f))) continue;
    const std::size_t length = at[0] | static_cast<std::size_t>(at[1]) << 16;
    scan.Texts[f].assign(at + 2, length);
    at += 2 + length;
  }
}

}  // namespace

std::uintptr_t TQNInetActivities::keep(const Scan& scan) {
  unsigned mask = scan.When != 0 ? kHasTime : 0;
  for (std::size_t f = 0; f < kScanFields; ++f)
    if (!scan.Texts[f].empty()) mask |= 1u << f;
  if (mask == 0) return 0;
  const std::uintptr_t token = FRecords.size() + 1;
  FRecords.push_back(static_cast<char16_t>(mask));
  if (mask & kHasTime) {
    char16_t when[sizeof scan.When / sizeof(char16_t)];
    std::memcpy(when, &scan.When, sizeof scan.When);
    FRecords.insert(FRecords.end(), std::begin(when), std::end(when));
  }
  for (const String& text : scan.Texts) {
    if (text.empty()) continue;
    FRecords.push_back(static_cast<char16_t>(text.size() & 0xFFFF));
    FRecords.push_back(static_cast<char16_t>(text.size() >> 16));
    FRecords.insert(FRecords.end(), text.begin(), text.end());
  }
  return token;
}

void TQNInetActivities::add_scan(const Scan& scan) { AddUnmade(keep(scan)); }

void TQNInetActivities::read_scan(int index, Scan& scan) const {
  std::uintptr_t token = 0;
  if (UnmadeToken(index, token))
    read(FRecords, token, scan);
  else
    read(*Items(index), scan);
}

void TQNInetActivities::write_scan(int index, const Scan& scan) {
  // The old record stays where it is, unread: a scan is rewritten at most once per package.
  std::uintptr_t token = 0;
  if (UnmadeToken(index, token))
    SetUnmadeToken(index, keep(scan));
  else
    fill(*Items(index), scan);
}

TCollectionItem* TQNInetActivities::MakeItem(std::uintptr_t Token) const {
  Scan scan;
  read(FRecords, Token, scan);
  auto* a = new TQNInetActivity(nullptr);
  fill(*a, scan);
  return a;
}

void TQNInetActivities::Update(TCollectionItem* Item) {
  if (Count() == 0) std::vector<char16_t>().swap(FRecords);
  TCollectionOf::Update(Item);
}

// ---------------------------------------------------------------------------------------------

namespace {

// The value as XML character data: markup characters as entities, and every character beyond
// ASCII as a character reference, so the body is the same whatever encoding the peer assumes.
std::string xml_escape(const String& value) {
  std::string out;
  for (std::size_t i = 0; i < value.size(); ++i) {
    char32_t c = value[i];
    if (c >= 0xD800 && c < 0xDC00 && i + 1 < value.size() && value[i + 1] >= 0xDC00 && value[i + 1] < 0xE000)
      c = 0x10000 + ((c - 0xD800) << 10) + (value[++i] - 0xDC00);
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&apos;";
        break;
      default:
        if (c < 0x80)
          out.push_back(static_cast<char>(c));
        else
          out += "&#" + std::to_string(static_cast<std::uint32_t>(c)) + ";";
    }
  }
  return out;
}

}  // namespace

// ---------------------------------------------------------------------------------------------

TQNUPSTracker::TQNUPSTracker(TComponent* AOwner)
    : TQNCustomWebComponent(AOwner),
      FAccessLicenseNumber(u"E61A0C9D37B5F248"),
      FShipperAddress(std::make_unique<TQNInetActivityAddress>()),
      FShipToAddress(std::make_unique<TQNInetActivityAddress>()),
      FActivities(std::make_unique<TQNInetActivities>(this)) {
  SetAgent(u"Veltraxon Tracker");
  SetService(isHTTPS);
  SetPort(443);
  SetHost(kQNUPSHost);
}

TQNUPSTracker::~TQNUPSTracker() { StopAsyncRun(); }

void TQNUPSTracker::SetTrackingNumber(const String& value) {
  RefuseWriteWhileRunning(*this);
  if (value == FTrackingNumber) return;
  FTrackingNumber = value;
  Clear();
}

void TQNUPSTracker::Clear() {
  FActivities->Clear();
  FLastXMLResponse.clear();
  FShipperNumber.clear();
  const TQNInetActivityAddress empty;
  FShipperAddress->Assign(&empty);
  FShipToAddress->Assign(&empty);
  FIdentificationNumber.clear();
  FPickupDate = 0;
  FServiceCode.clear();
  FServiceDescription.clear();
  FShipmentWeight.clear();
  FShipmentWeightUnits.clear();
}

std::string TQNUPSTracker::BuildRequest(const String& AccessLicenseNumber, const String& CustomerContext,
                                        const String& TrackingNumber) {
  return "<?xml version=\"1.0\"?><AccessRequest xml:lang=\"en-US\"><AccessLicenseNumber>" +
         xml_escape(AccessLicenseNumber) +
         "</AccessLicenseNumber>\r\n"
         "<UserId>qzq</UserId><Password>qzq</Password></AccessRequest>\r\n"
         "<?xml version=\"1.0\"?><TrackRequest xml:lang=\"en-US\"><Request><TransactionReference>\r\n"
         "<CustomerContext>" +
         xml_escape(CustomerContext) +
         "</CustomerContext><XpciVersion>1.0</XpciVersion></TransactionReference>\r\n"
         "<RequestAction>Track</RequestAction><RequestOption>activity</RequestOption></Request>\r\n"
         "<TrackingNumber>#" +
         xml_escape(TrackingNumber) + "</TrackingNumber></TrackRequest>";
}

void TQNUPSTracker::InternalExecute() {
  Clear();
  const auto fail = [this](const String& why) {
    SetLastErrorText(why);
    SetStatus(isFailed);
  };
  if (FApiVersion == uaREST) {
    if (const String why = execute_rest(); !why.empty()) fail(why);
    return;
  }
  SetAction(iaConnecting);
  // The connection's own target (host, port, scheme) with the tracking path.
  Url target = Connection().Target;
  target.SetScheme(Service() == isHTTP ? "http" : "https");
  target.SetPath(kQNUPSTrackPath);
  target.SetQuery({});
  TQNServiceCall call(*this, std::move(target));
  TQNWebRequest request;
  request.Method = "POST";
  request.ContentType = "application/x-www-form-urlencoded";
  request.Body = BuildRequest(FAccessLicenseNumber, Agent(), FTrackingNumber);
  const TQNIOutcome sent = Host().empty() ? TQNIOutcome::Failed(u"No host") : call.Send(request);
  SetAction(iaConnected);
  if (!sent) {
    fail(sent.Text());
  } else {
    SetAction(iaDownloading);
    TMemoryStream body;
    const auto progress = [this](std::uint64_t current, std::uint64_t maximum, bool& abort) {
      UpdateProgress(current, maximum, abort);
    };
    const TQNIOutcome whole = call.ReadAll(body, progress, kQNServiceAnswerLimit);
    FLastXMLResponse = sys::decode_xml_text(body.Bytes());
    SetAction(iaDownloaded);
    const String why = whole ? read_answer(body, call.Source().StatusCode()) : whole.Text();
    if (!why.empty()) fail(why);
  }
  SetAction(iaDisconnecting);
  SetAction(iaDisconnected);
}

}  // namespace qninet
