// The UPS tracker on the REST API: an OAuth token by client credentials, then one tracking GET
// whose JSON answer fills the same result properties as the XML answer does.

#include <random>

#include "qninet/core/qniutil.h"
#include "qninet/rtl/JsonText.h"
#include "qninet/sys/UrlParser.h"
#include "qninet/web/QNIUPS.h"
#include "qninet/web/ServiceRequest.h"

namespace qninet {

namespace {

using Json = nlohmann::json;

// A token answer and an error answer are small; a tracking answer has the service's bound.
constexpr std::uint64_t kTokenAnswerLimit = 64 * 1024;
// A token this close to its end is asked anew rather than sent to expire on the way.
constexpr std::chrono::seconds kTokenMargin{60};

const Json* member(const Json* j, const char* key) {
  if (!j || !j->is_object()) return nullptr;
  const auto it = j->find(key);
  return it == j->end() ? nullptr : &*it;
}

const Json* array_member(const Json* j, const char* key) {
  const Json* a = member(j, key);
  return a && a->is_array() ? a : nullptr;
}

// A member as text: strings as they are, numbers as written; empty otherwise.
String text(const Json* j, const char* key) {
  const Json* v = member(j, key);
  if (!v) return {};
  if (v->is_string()) return Trim(FromUtf8(v->get_ref<const std::string&>()));
  return v->is_number() ? FromUtf8(v->dump()) : String();
}

// "MESSAGE (CODE)" for each entry of `response.errors[]`, joined by "; "; empty when none.
String errors_text(const Json& answer) {
  String out;
  if (const Json* errors = array_member(member(&answer, "response"), "errors"))
    for (const Json& e : *errors) {
      const String message = text(&e, "message"), code = text(&e, "code");
      if (!out.empty()) out += u"; ";
      out += code.empty() ? message : message.empty() ? u"Error " + code : message + u" (" + code + u")";
    }
  return out;
}

String with_status(int status, const String& why) {
  if (status < 400) return why;
  const String head = u"HTTP " + IntToStr(static_cast<Integer>(status));
  return why.empty() ? head : head + u": " + why;
}

// The answer as JSON, or why not (a failure names the endpoint).
bool parse(std::string_view body, const std::string& endpoint, Json& out, String& why) {
  try {
    out = ParseJsonBounded(body, endpoint, "Invalid JSON answer");
    return true;
  } catch (const EReadError& e) {
    why = e.Message();
    return false;
  }
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
  Json answer;
  String why;
  if (!parse(body.Bytes(), endpoint, answer, why)) return with_status(status, status >= 400 ? String() : why);
  const String token = text(&answer, "access_token");
  if (status >= 400 || token.empty())
    return with_status(status, !errors_text(answer).empty() ? errors_text(answer)
                               : status >= 400              ? String()
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
  Json answer;
  String why;
  if (!parse(Body, Endpoint, answer, why)) return with_status(StatusCode, StatusCode >= 400 ? String() : why);
  if (const String errors = errors_text(answer); !errors.empty() || StatusCode >= 400)
    return with_status(StatusCode, errors);
  const Json* shipments = array_member(member(&answer, "trackResponse"), "shipment");
  if (!shipments || shipments->empty()) return u"The answer is no tracking response";
  for (const Json& shipment : *shipments) {
    const Json* packages = array_member(&shipment, "package");
    if (!packages) {
      // No package: the shipment's warnings say why ("Tracking Information Not Found").
      String warnings;
      if (const Json* list = array_member(&shipment, "warnings"))
        for (const Json& w : *list)
          warnings +=
              (warnings.empty() ? u"" : u"; ") + text(&w, "message") + u" (" + text(&w, "code") + u")";
      return warnings.empty() ? String(u"The answer holds no package") : warnings;
    }
    if (FIdentificationNumber.empty()) FIdentificationNumber = text(&shipment, "inquiryNumber");
    for (const Json& package : *packages) {
      if (const Json* service = member(&package, "service"); service && FServiceCode.empty()) {
        FServiceCode = text(service, "code");
        FServiceDescription = text(service, "description");
      }
      if (const Json* weight = member(&package, "weight"); weight && FShipmentWeight.empty()) {
        FShipmentWeight = text(weight, "weight");
        FShipmentWeightUnits = text(weight, "unitOfMeasurement");
      }
      if (const Json* addresses = array_member(&package, "packageAddress"))
        for (const Json& a : *addresses) {
          const String type = text(&a, "type");
          if (type == u"ORIGIN" || type == u"DESTINATION")
            fill_address(member(&a, "address"), type == u"ORIGIN" ? *FShipperAddress : *FShipToAddress);
        }
      // Where and to whom the package was delivered belongs to its delivery scan.
      const Json* delivery = member(&package, "deliveryInformation");
      const Json* activities = array_member(&package, "activity");
      if (!activities) continue;
      for (const Json& scan : *activities) {
        TQNInetActivity& a = *FActivities->Add();
        const Json* location = member(&scan, "location");
        a.SetLocationCode(text(location, "slic"));
        fill_address(member(location, "address"), *a.Location());
        const Json* status = member(&scan, "status");
        a.SetStatusTypeCode(text(status, "type"));
        a.SetStatusTypeDescription(text(status, "description"));
        a.SetStatusCode(text(status, "code"));
        if (a.StatusTypeCode() == u"D") {
          a.SetLocationDescription(text(delivery, "location"));
          a.SetLocationSignedForByName(text(delivery, "receivedBy"));
        }
        TDateTime when = 0;
        if (ReadDateTime(text(&scan, "date"), text(&scan, "time"), when)) a.SetDateTime(when);
      }
    }
  }
  return {};
}

}  // namespace qninet
