// The UPS tracker on the REST API: an OAuth token by client credentials, then one tracking GET
// whose JSON answer fills the same result properties as the XML answer does.

#include <random>

#include "qninet/core/qniutil.h"
#include "qninet/rtl/JsonText.h"
#include "qninet/sys/UrlParser.h"
#include "qninet/web/QNIUPS.h"
#include "qninet/web/ServiceRequest.h"
#include "qninet/web/UPSScans.h"

namespace qninet {

namespace {

using Json = nlohmann::json;

// A token answer and an error answer are small; a tracking answer has the service's bound.
constexpr std::uint64_t kTokenAnswerLimit = 64 * 1024;
// A token this close to its end is asked anew rather than sent to expire on the way.
constexpr std::chrono::seconds kTokenMargin{60};

// A member as text: strings trimmed, numbers as written; empty otherwise.
String text(const Json* j, const char* key) { return Trim(JsonText(j, key, true)); }

String with_status(int status, const String& why) {
  if (status < 400) return why;
  const String head = u"HTTP " + IntToStr(static_cast<Integer>(status));
  return why.empty() ? head : head + u": " + why;
}

void fill_address(const Json* a, TQNInetActivityAddress& to) {
  if (!a) return;
  to.SetAddressLine1(text(a, "addressLine1"));
  to.SetAddressLine2(text(a, "addressLine2"));
  to.SetAddressLine3(text(a, "addressLine3"));
  to.SetCity(text(a, "city"));
  to.SetStateProvince(text(a, "stateProvince"));
  to.SetPostalCode(text(a, "postalCode"));
  const String code = text(a, "countryCode");
  to.SetCountry(code.empty() ? text(a, "country") : code);
}

void fill_address(const Json* a, ups_detail::Scan& to) {
  using namespace ups_detail;
  if (!a) return;
  to.Texts[sfAddressLine1] = text(a, "addressLine1");
  to.Texts[sfAddressLine2] = text(a, "addressLine2");
  to.Texts[sfAddressLine3] = text(a, "addressLine3");
  to.Texts[sfCity] = text(a, "city");
  to.Texts[sfStateProvince] = text(a, "stateProvince");
  to.Texts[sfPostalCode] = text(a, "postalCode");
  const String code = text(a, "countryCode");
  to.Texts[sfCountry] = code.empty() ? text(a, "country") : code;
}

// --- what the reader takes of an answer ---------------------------------------------------------

enum : int { kErrors = 1, kWarnings, kShipments, kPackages, kAddresses, kActivities };

TJsonShape scalar(const char* name) { return {name, TJsonShape::jkScalar}; }
TJsonShape object(const char* name, std::vector<TJsonShape> members) {
  return {name, TJsonShape::jkObject, std::move(members)};
}
// An array whose elements are handed out one at a time: an object as `members` keeps it, any
// other value as null (it still counts, as an empty scan or message does).
TJsonShape each(const char* name, int id, std::vector<TJsonShape> members) {
  return {name,
          TJsonShape::jkEach,
          {{"", TJsonShape::jkEither, {object("", std::move(members)), {"", TJsonShape::jkNone}}}},
          id};
}
TJsonShape address(const char* name) {
  return object(name,
                {scalar("addressLine1"), scalar("addressLine2"), scalar("addressLine3"), scalar("city"),
                 scalar("stateProvince"), scalar("postalCode"), scalar("countryCode"), scalar("country")});
}

// The tracking answer; the token answer is read with it too (its members lie at the root).
const TJsonShape& answer_shape() {
  static const TJsonShape package =
      object("", {object("service", {scalar("code"), scalar("description")}),
                  object("weight", {scalar("weight"), scalar("unitOfMeasurement")}),
                  each("packageAddress", kAddresses, {scalar("type"), address("address")}),
                  object("deliveryInformation", {scalar("location"), scalar("receivedBy")}),
                  each("activity", kActivities,
                       {object("location", {scalar("slic"), address("address")}),
                        object("status", {scalar("type"), scalar("description"), scalar("code")}),
                        scalar("date"), scalar("time")})});
  static const TJsonShape shape = object(
      "",
      {object("response", {each("errors", kErrors, {scalar("message"), scalar("code")})}),
       scalar("access_token"), scalar("expires_in"),
       object("trackResponse", {each("shipment", kShipments,
                                     {scalar("inquiryNumber"),
                                      each("warnings", kWarnings, {scalar("message"), scalar("code")}),
                                      TJsonShape{"package", TJsonShape::jkEach, {package}, kPackages}})})});
  return shape;
}

}  // namespace

// Reads an answer as it is parsed, a scan at a time, into the tracker (only with `Apply`); the
// service's errors and the first shipment without a package are kept for the end.
struct TQNUPSTracker::TRestReader {
  TRestReader(TQNUPSTracker& t, bool apply) : T(t), Apply(apply) {}
  TQNUPSTracker& T;
  bool Apply;
  String Errors, Warnings, Why;
  std::size_t Shipments = 0;
  std::vector<int> Delivered;  // the current package's delivery scans, by index
  ups_detail::Scan Scan;       // the scan being read, its room kept for the next

  void operator()(const TJsonShape& from, std::string_view, Json&& v) {
    const bool apply = Apply && Why.empty();
    switch (from.Id) {
      case kErrors: {
        // "MESSAGE (CODE)" for each, joined by "; ".
        const String message = text(&v, "message"), code = text(&v, "code");
        if (!Errors.empty()) Errors += u"; ";
        Errors += code.empty() ? message : message.empty() ? u"Error " + code : message + u" (" + code + u")";
        break;
      }
      case kWarnings:
        Warnings += (Warnings.empty() ? u"" : u"; ") + text(&v, "message") + u" (" + text(&v, "code") + u")";
        break;
      case kAddresses:
        if (const String type = text(&v, "type"); apply && (type == u"ORIGIN" || type == u"DESTINATION"))
          fill_address(JsonMember(&v, "address"), type == u"ORIGIN" ? *T.FShipperAddress : *T.FShipToAddress);
        break;
      case kActivities:
        if (apply) scan(v);
        break;
      case kPackages:
        if (apply) package(v);
        Delivered.clear();
        break;
      case kShipments:
        ++Shipments;
        if (apply) shipment(v);
        Warnings.clear();
        break;
    }
  }

  void scan(const Json& v) {
    using namespace ups_detail;
    Scan.Reset();
    const Json* location = JsonMember(&v, "location");
    Scan.Texts[sfLocationCode] = text(location, "slic");
    fill_address(JsonMember(location, "address"), Scan);
    const Json* status = JsonMember(&v, "status");
    Scan.Texts[sfStatusTypeCode] = text(status, "type");
    Scan.Texts[sfStatusTypeDescription] = text(status, "description");
    Scan.Texts[sfStatusCode] = text(status, "code");
    TDateTime when = 0;
    if (ReadDateTime(text(&v, "date"), text(&v, "time"), when)) Scan.When = when;
    // Where and to whom it was delivered is told by the package, maybe after its scans.
    if (Scan.Texts[sfStatusTypeCode] == u"D") Delivered.push_back(T.FActivities->Count());
    T.FActivities->add_scan(Scan);
  }

  void package(const Json& v) {
    if (const Json* service = JsonMember(&v, "service"); service && T.FServiceCode.empty()) {
      T.FServiceCode = text(service, "code");
      T.FServiceDescription = text(service, "description");
    }
    if (const Json* weight = JsonMember(&v, "weight"); weight && T.FShipmentWeight.empty()) {
      T.FShipmentWeight = text(weight, "weight");
      T.FShipmentWeightUnits = text(weight, "unitOfMeasurement");
    }
    const Json* delivery = JsonMember(&v, "deliveryInformation");
    for (const int at : Delivered) {
      T.FActivities->read_scan(at, Scan);
      Scan.Texts[ups_detail::sfLocationDescription] = text(delivery, "location");
      Scan.Texts[ups_detail::sfSignedForByName] = text(delivery, "receivedBy");
      T.FActivities->write_scan(at, Scan);
    }
  }

  void shipment(const Json& v) {
    const Json* packages = JsonMember(&v, "package");
    if (!packages || !packages->is_array()) {
      // No package: the shipment's warnings say why ("Tracking Information Not Found").
      Why = Warnings.empty() ? String(u"The answer holds no package") : Warnings;
      return;
    }
    if (T.FIdentificationNumber.empty()) T.FIdentificationNumber = text(&v, "inquiryNumber");
  }

  // The answer's root as the shape keeps it; false with why when it is no JSON or nests too deep.
  bool Read(std::string_view body, const std::string& endpoint, Json& root, String& why) {
    try {
      root = ReadJsonShaped(body, endpoint, "Invalid JSON answer", answer_shape(), std::ref(*this));
      return true;
    } catch (const EReadError& e) {
      why = e.Message();
      return false;
    }
  }
};

namespace {

// 32 hexadecimal digits: the service wants a fresh transaction id of at most 32 characters.
std::string transaction_id() {
  static thread_local std::mt19937_64 random{std::random_device{}()};
  static constexpr char digits[] = "0123456789abcdef";
  std::string out;
  for (int half = 0; half < 2; ++half)
    for (std::uint64_t n = random(), i = 0; i < 16; ++i, n >>= 4) out.push_back(digits[n & 15]);
  return out;
}

}  // namespace

String TQNUPSTracker::request_token(const Url& base) {
  Url target = base;
  target.SetPath(kQNUPSTokenPath);
  const std::string endpoint = target.Endpoint().ToString() + kQNUPSTokenPath;
  TQNServiceCall call(*this, std::move(target));
  TQNWebRequest request;
  request.Method = "POST";
  request.ContentType = "application/x-www-form-urlencoded";
  request.Body = "grant_type=client_credentials";
  request.Headers.emplace_back(
      "Authorization", "Basic " + ToBytes(Encode64(FromBytes(ToUtf8(FClientID + u":" + FClientSecret)))));
  request.FollowRedirects = false;
  if (const auto sent = call.Send(request); !sent) return sent.Text();
  const int status = static_cast<int>(call.Source().StatusCode());
  TMemoryStream body;
  if (const auto whole = call.ReadAll(body, {}, kTokenAnswerLimit); !whole)
    return with_status(status, whole.Text());
  TRestReader reader{*this, false};
  Json answer;
  String why;
  if (!reader.Read(body.Bytes(), endpoint, answer, why))
    return with_status(status, status >= 400 ? String() : why);
  const String token = text(&answer, "access_token");
  if (status >= 400 || token.empty())
    return with_status(status, !reader.Errors.empty() ? reader.Errors
                               : status >= 400        ? String()
                                                      : String(u"The token answer holds no access_token"));
  // "expires_in" is seconds, as a string in the service's documents; a number is read too.
  const long long seconds = StrToInt64Def(text(&answer, "expires_in"), 0);
  FAccessToken = ToUtf8(token);
  FTokenExpiry = std::chrono::steady_clock::now() + std::chrono::seconds(seconds) - kTokenMargin;
  return {};
}

String TQNUPSTracker::execute_rest() {
  SetAction(iaConnecting);
  if (Host().empty()) return u"No host";
  Url base = Connection().Target;
  base.SetScheme(Service() == isHTTP ? "http" : "https");
  base.SetQuery({});
  const std::string path = kQNUPSDetailsPath + sys::percent_encode(ToUtf8(FTrackingNumber));
  const std::string endpoint = base.Endpoint().ToString() + path;
  // A token is good for the service and the credentials it was given for, until it expires.
  const std::string identity = base.Endpoint().ToString() + '\n' + ToUtf8(FClientID + u"\n" + FClientSecret);
  if (identity != FTokenFor || std::chrono::steady_clock::now() >= FTokenExpiry) FAccessToken.clear();
  FTokenFor = identity;
  bool asked = false;
  for (;;) {
    if (FAccessToken.empty()) {
      asked = true;
      if (String why = request_token(base); !why.empty()) return why;
    }
    Url target = base;
    target.SetPath(path);
    TQNServiceCall call(*this, std::move(target));
    TQNWebRequest request;
    request.Headers = {{"Authorization", "Bearer " + FAccessToken},
                       {"transId", transaction_id()},
                       {"transactionSrc", Agent().empty() ? std::string("QNInet") : ToUtf8(Agent())}};
    request.FollowRedirects = false;
    const TQNIOutcome sent = call.Send(request);
    SetAction(iaConnected);
    if (!sent) return sent.Text();
    const int status = static_cast<int>(call.Source().StatusCode());
    // A token the service no longer takes is asked anew, once.
    if (status == 401 && !asked) {
      FAccessToken.clear();
      continue;
    }
    SetAction(iaDownloading);
    TMemoryStream body;
    const auto progress = [this](std::uint64_t current, std::uint64_t maximum, bool& abort) {
      UpdateProgress(current, maximum, abort);
    };
    const TQNIOutcome whole = call.ReadAll(body, progress, kQNServiceAnswerLimit);
    FLastXMLResponse = FromUtf8(body.Bytes());
    SetAction(iaDownloaded);
    if (status == 401) FAccessToken.clear();
    SetAction(iaDisconnecting);
    SetAction(iaDisconnected);
    return whole ? ReadJsonAnswer(body.Bytes(), status, endpoint) : whole.Text();
  }
}

String TQNUPSTracker::ReadJsonAnswer(std::string_view Body, int StatusCode, const std::string& Endpoint) {
  TRestReader reader{*this, StatusCode < 400};
  Json answer;
  String why;
  const bool read = reader.Read(Body, Endpoint, answer, why);
  String failed;
  if (!read)
    failed = with_status(StatusCode, StatusCode >= 400 ? String() : why);
  else if (!reader.Errors.empty() || StatusCode >= 400)
    failed = with_status(StatusCode, reader.Errors);
  else if (reader.Shipments == 0)
    failed = u"The answer is no tracking response";
  if (failed.empty()) return reader.Why;
  // Scans were taken as they came: an answer that fails as a whole leaves no result.
  String response = std::move(FLastXMLResponse);
  Clear();
  FLastXMLResponse = std::move(response);
  return failed;
}

}  // namespace qninet
