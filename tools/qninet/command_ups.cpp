// `qninet ups`: a parcel's shipment and its scan events from a UPS-compatible tracking service.

#include <iostream>

#include "Loopback.h"
#include "WebContentRun.h"
#include "qninet/core/Url.h"
#include "qninet/web/QNIMSTranslator.h"
#include "qninet/web/QNIUPS.h"

namespace qninet::tool {
namespace {

struct UpsOptions {
  std::string License;
  std::string Number;
  std::string Api = "xml";
  std::string ClientId;
  SecretOption ClientSecret;
};

std::string date_text(TDateTime d, bool withTime) {
  if (d == 0) return {};
  return ToUtf8(FormatDateTime(withTime ? u"yyyy-mm-dd hh:nn:ss" : u"yyyy-mm-dd", d));
}

nlohmann::ordered_json address_json(const TQNInetActivityAddress& a) {
  return {{"AddressLine1", ToUtf8(a.AddressLine1())}, {"AddressLine2", ToUtf8(a.AddressLine2())},
          {"AddressLine3", ToUtf8(a.AddressLine3())}, {"City", ToUtf8(a.City())},
          {"PostalCode", ToUtf8(a.PostalCode())},     {"Country", ToUtf8(a.Country())}};
}

// The shipment by the component's property names.
void put_shipment(nlohmann::ordered_json& j, const TQNUPSTracker& t) {
  j["TrackingNumber"] = ToUtf8(t.TrackingNumber());
  j["ShipperNumber"] = ToUtf8(t.ShipperNumber());
  j["ShipperAddress"] = address_json(*t.ShipperAddress());
  j["ShipToAddress"] = address_json(*t.ShipToAddress());
  j["IdentificationNumber"] = ToUtf8(t.IdentificationNumber());
  j["PickupDate"] = date_text(t.PickupDate(), false);
  j["ServiceCode"] = ToUtf8(t.ServiceCode());
  j["ServiceDescription"] = ToUtf8(t.ServiceDescription());
  j["ShipmentWeight"] = ToUtf8(t.ShipmentWeight());
  j["ShipmentWeightUnits"] = ToUtf8(t.ShipmentWeightUnits());
  auto list = nlohmann::ordered_json::array();
  for (int i = 0; i < t.Activities()->Count(); ++i) {
    const TQNInetActivity& a = *t.Activities()->GetActivity(i);
    list.push_back({{"LocationCode", ToUtf8(a.LocationCode())},
                    {"Location", address_json(*a.Location())},
                    {"LocationDescription", ToUtf8(a.LocationDescription())},
                    {"LocationSignedForByName", ToUtf8(a.LocationSignedForByName())},
                    {"StatusTypeCode", ToUtf8(a.StatusTypeCode())},
                    {"StatusTypeDescription", ToUtf8(a.StatusTypeDescription())},
                    {"StatusCode", ToUtf8(a.StatusCode())},
                    {"DateTime", date_text(a.DateTime(), true)}});
  }
  j["Activities"] = std::move(list);
}

// "Name: value" for each shipment property that has one, then one line per activity: when,
// status, place, and who signed, the empty ones left out.
void print_shipment(std::ostream& out, const TQNUPSTracker& t) {
  const std::pair<const char*, std::string> fields[] = {
      {"ShipperNumber", ToUtf8(t.ShipperNumber())},
      {"ShipperAddress", ToUtf8(t.ShipperAddress()->Text())},
      {"ShipToAddress", ToUtf8(t.ShipToAddress()->Text())},
      {"IdentificationNumber", ToUtf8(t.IdentificationNumber())},
      {"PickupDate", date_text(t.PickupDate(), false)},
      {"Service", ToUtf8(Trim(t.ServiceCode() + u" " + t.ServiceDescription()))},
      {"ShipmentWeight", ToUtf8(Trim(t.ShipmentWeight() + u" " + t.ShipmentWeightUnits()))}};
  for (const auto& [name, value] : fields)
    if (!value.empty()) out << name << ": " << value << '\n';
  for (int i = 0; i < t.Activities()->Count(); ++i) {
    const TQNInetActivity& a = *t.Activities()->GetActivity(i);
    const std::string parts[] = {date_text(a.DateTime(), true), ToUtf8(a.StatusTypeDescription()),
                                 ToUtf8(a.Location()->Text()), ToUtf8(a.LocationDescription()),
                                 a.LocationSignedForByName().empty()
                                     ? std::string()
                                     : "signed for by " + ToUtf8(a.LocationSignedForByName())};
    std::string line;
    for (const std::string& p : parts)
      if (!p.empty()) line += (line.empty() ? "" : "  ") + p;
    out << line << '\n';
  }
}

int run_ups(Run& run, const UpsOptions& o) {
  TQNUPSTracker t(nullptr);
  const CommonOptions& c = run.Options();
  if (!c.Host.empty()) {
    String why;
    const auto hp = HostPort::Parse(c.Host, 0, &why);
    if (!hp) return run.Fail(exBadInput, "--host " + c.Host, ToUtf8(why));
    t.SetHost(FromUtf8(hp->Host));
    if (hp->Port != 0) t.SetPort(hp->Port);
  }
  if (c.Port > 0) t.SetPort(static_cast<std::uint16_t>(c.Port));
  if (!o.License.empty()) t.SetAccessLicenseNumber(FromUtf8(o.License));
  if (o.Api == "rest") {
    std::string secret;
    if (const int code = o.ClientSecret.Read(run, secret)) return code;
    if (o.ClientId.empty() || secret.empty())
      return run.Fail(exBadInput, "", "--api rest needs --client-id and --client-secret(-file)");
    t.SetApiVersion(uaREST);
    t.SetClientID(FromUtf8(o.ClientId));
    t.SetClientSecret(FromUtf8(secret));
  }
  if (const int code = run.Configure(t)) return code;
  t.SetTrackingNumber(FromUtf8(o.Number));
  if (!t.Execute())
    return run.Fail(exFailed, HostPort{ToUtf8(t.Host()), t.Port()}.ToString(), ToUtf8(t.LastErrorText()));
  report_shipment(run, t);
  return exOk;
}

}  // namespace

void report_shipment(Run& run, const TQNUPSTracker& t) {
  put_shipment(run.Json(), t);
  if (!run.Options().Json) print_shipment(std::cout, t);
}

namespace {

const CommandRegistrar registrar(450, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<UpsOptions>();
  static const std::string host = ToUtf8(kQNUPSHost);
  auto* cmd = add_command(app, state, "ups", "Track a parcel through the UPS tracking service (XML or REST)",
                          Offer{.Host = host.c_str(), .Timeout = 60, .Proxy = true, .CaCert = true},
                          [o](Run& run) { return run_ups(run, *o); });
  cmd->add_option("--license", o->License, "Access license number (default the component's)");
  cmd->add_option("--api", o->Api, "The interface: xml (the XML tracking request, default) or rest (OAuth)")
      ->check(CLI::IsMember({"xml", "rest"}));
  cmd->add_option("--client-id", o->ClientId, "OAuth client id (--api rest)");
  add_secret_option(*cmd, "client-secret", "OAuth client secret (--api rest)", o->ClientSecret);
  cmd->add_option("NUMBER", o->Number, "The tracking number")->required();
  cmd->footer(
      "Posts to https://HOST:PORT/ups.app/xml/Track (port 443 unless given); --api rest asks a token at\n"
      "/security/v1/oauth/token and GETs /api/track/v1/details/NUMBER. Prints the shipment's\n"
      "properties as \"Name: value\" and one line per scan event; --json gives {\"status\", "
      "\"TrackingNumber\",\n"
      "\"ShipperNumber\", \"ShipperAddress\", ..., \"Activities\": [...]} by the component's property "
      "names.");
  add_examples(*cmd, {"qninet ups --host 127.0.0.1:8443 1Z999AA10123456784"});
});

// A stand-in for both retired services, shaped as they answered.
const char* kDemoTrack =
    "<?xml version=\"1.0\"?><TrackResponse><Response><ResponseStatusCode>1</ResponseStatusCode>"
    "<ResponseStatusDescription>Success</ResponseStatusDescription></Response><Shipment><Shipper>"
    "<ShipperNumber>A1B2C3</ShipperNumber><Address><City>TIMONIUM</City><CountryCode>US</CountryCode>"
    "</Address></Shipper><Service><Code>002</Code><Description>2ND DAY AIR</Description></Service>"
    "<ShipmentIdentificationNumber>1ZDEMO</ShipmentIdentificationNumber><Package>"
    "<Activity><ActivityLocation><Address><City>ANYTOWN</City></Address></ActivityLocation><Status>"
    "<StatusType><Code>D</Code><Description>DELIVERED</Description></StatusType></Status>"
    "<Date>20120517</Date><Time>140309</Time></Activity>"
    "<Activity><ActivityLocation><Address><City>BALTIMORE</City></Address></ActivityLocation><Status>"
    "<StatusType><Code>I</Code><Description>ARRIVAL SCAN</Description></StatusType></Status>"
    "<Date>20120516</Date><Time>083000</Time></Activity></Package></Shipment></TrackResponse>";

// A whole request: its head and as many body bytes as it announced.
bool request_complete(const std::string& r) {
  const auto end = r.find("\r\n\r\n");
  if (end == std::string::npos) return false;
  const auto at = r.find("Content-Length: ");
  const std::size_t length = at == std::string::npos || at > end ? 0 : std::stoul(r.substr(at + 16));
  return r.size() >= end + 4 + length;
}

std::string service_answer(const std::string& request) {
  std::string body;
  if (request.rfind("GET /v2/Http.svc/Translate?", 0) == 0)
    body = "<string xmlns=\"http://schemas.microsoft.com/2003/10/Serialization/\">Guten Morgen</string>";
  else if (request.rfind("POST /ups.app/xml/Track ", 0) == 0)
    body = kDemoTrack;
  else
    return "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";
  return "HTTP/1.0 200 OK\r\nContent-Type: application/xml\r\nContent-Length: " +
         std::to_string(body.size()) + "\r\n\r\n" + body;
}

const DemoRegistrar demo(DemoStep{
    440, "Web services: a translation and a parcel's scans from a loopback stand-in", [](std::ostream& out) {
      loopback::ScriptedServer server({loopback::Script().Reply(request_complete, service_answer)},
                                      loopback::ScriptedServer::Family::IPv4, std::chrono::seconds(10), true);
      const loopback::DirectConnections direct;
      const std::string base = "http://127.0.0.1:" + std::to_string(server.Port());
      TQNMSTranslator translator(nullptr);
      translator.SetHost(FromUtf8(base + "/v2/Http.svc"));
      translator.SetTimeout(5000);
      const String german = translator.TranslateText(u"Good morning", u"en", u"de");
      out << "\"Good morning\" in German: " << ToUtf8(german) << '\n';
      TQNUPSTracker tracker(nullptr);
      tracker.SetService(isHTTP);
      tracker.SetHost(u"127.0.0.1");
      tracker.SetPort(server.Port());
      tracker.SetTimeout(5000);
      tracker.SetTrackingNumber(u"1ZDEMO");
      const bool tracked = tracker.Execute();
      out << "Parcel 1ZDEMO (" << ToUtf8(tracker.ServiceDescription()) << "):\n";
      print_shipment(out, tracker);
      if (!tracked) out << "  " << ToUtf8(tracker.LastErrorText()) << '\n';
      return german == u"Guten Morgen" && tracked && tracker.Activities()->Count() == 2;
    }});

}  // namespace
}  // namespace qninet::tool
