// `qninet ups`: a parcel's shipment and its scan events from a UPS-compatible tracking service.

#include <iostream>

#include "Options.h"
#include "qninet/core/Url.h"
#include "qninet/web/QNIUPS.h"

namespace qninet::tool {
namespace {

struct UpsOptions {
  std::string License;
  std::string Number;
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
  if (const int code = run.Configure(t)) return code;
  t.SetTrackingNumber(FromUtf8(o.Number));
  if (!t.Execute())
    return run.Fail(exFailed, HostPort{ToUtf8(t.Host()), t.Port()}.ToString(), ToUtf8(t.LastErrorText()));
  put_shipment(run.Json(), t);
  if (!c.Json) print_shipment(std::cout, t);
  return exOk;
}

const CommandRegistrar registrar(450, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<UpsOptions>();
  static const std::string host = ToUtf8(kQNUPSHost);
  auto* cmd = add_command(app, state, "ups", "Track a parcel through a UPS-compatible XML tracking service",
                          Offer{.Host = host.c_str(), .Timeout = 60, .Proxy = true, .CaCert = true},
                          [o](Run& run) { return run_ups(run, *o); });
  cmd->add_option("--license", o->License, "Access license number (default the component's)");
  cmd->add_option("NUMBER", o->Number, "The tracking number")->required();
  cmd->footer(
      "Posts to https://HOST:PORT/ups.app/xml/Track (port 443 unless given). Prints the shipment's\n"
      "properties as \"Name: value\" and one line per scan event; --json gives {\"status\", "
      "\"TrackingNumber\",\n"
      "\"ShipperNumber\", \"ShipperAddress\", ..., \"Activities\": [...]} by the component's property "
      "names.");
});

}  // namespace
}  // namespace qninet::tool
