// `qninet fedex` and `qninet weather`: the page scrapers.

#include <iostream>

#include "Loopback.h"
#include "Options.h"
#include "qninet/socket/QNIFedEx.h"
#include "qninet/socket/QNIWeath.h"

namespace qninet::tool {
namespace {

int run_fedex(Run& run, const std::string& number) {
  TQNFedExTracker t(nullptr);
  t.SetTrackingNumber(FromUtf8(number));
  String page;
  if (const int code = run.Configure(t)) return code;
  if (const int code = run.Execute(t, page)) return code;
  run.Json()["ShipmentInfo"] = lines_json(*t.ShipmentInfo());
  run.Json()["Activity"] = lines_json(*t.Activity());
  // An empty page and a page of another site look alike to the library: both read as no lines.
  if (t.ShipmentInfo()->Count() == 0 && t.Activity()->Count() == 0)
    return run.Fail(exNotFound, Run::Endpoint(t), "the page holds no shipment");
  if (run.Options().Json) return exOk;
  for (const auto* list : {t.ShipmentInfo(), t.Activity()})
    for (int i = 0; i < list->Count(); ++i) std::cout << ToUtf8(list->Strings(i)) << '\n';
  return exOk;
}

int run_weather(Run& run, const std::string& zip) {
  TQNWeatherInfo w(nullptr);
  w.SetZip(FromUtf8(zip));
  String page;
  if (const int code = run.Configure(w)) return code;
  if (const int code = run.Execute(w, page)) return code;
  // 0 degrees is a reading; a page without one is not.
  if (!WeatherReading(page)) return run.Fail(exNotFound, Run::Endpoint(w), "the page holds no temperature");
  run.Json()["Temperature"] = w.Temperature();
  if (!run.Options().Json) std::cout << w.Temperature() << '\n';
  return exOk;
}

const CommandRegistrar registrar(230, [](CLI::App& app, RunState& state) {
  auto number = std::make_shared<std::string>();
  auto* fedex = add_command(
      app, state, "fedex", "Track FedEx parcels: shipment lines, then scan activity lines",
      Offer{"www.fedex.com, port 80", 60, true}, [number](Run& run) { return run_fedex(run, *number); });
  fedex->add_option("NUMBER", *number, "Tracking number(s); blanks are sent as %20")->required();
  fedex->footer(
      "Prints the shipment table, then the scan activity, one name=value line per row; exit 3 when the "
      "page holds neither.");
  add_examples(*fedex, {"qninet fedex --host 127.0.0.1:8080 123456789012"});

  auto zip = std::make_shared<std::string>();
  auto* weather = add_command(app, state, "weather", "Read the current temperature for a postal code",
                              Offer{"www.weather.com, port 80", 60, true},
                              [zip](Run& run) { return run_weather(run, *zip); });
  weather->add_option("ZIP", *zip, "Postal code")->required();
  set_help_footer(*weather, "Prints the temperature as a whole number; exit 3 when the page holds none.",
                  {"qninet weather --host 127.0.0.1:8080 10001"});
});

const char* kDemoTracking =
    "HTTP/1.0 200 OK\r\n\r\n<html><!-- shipment info --><table>\n"
    "<tr><td>Status</td><td>Delivered</td></tr>\n<tr><td>Weight</td><td></td><td>2 lbs</td></tr>\n"
    "</table><!-- BEGIN Scan Activity --><table>\n<tr><td>Dec 4 9:15</td><td>Memphis, TN</td></tr>\n"
    "</table><!-- END Scan Activity --></html>\n";
const char* kDemoWeather = "HTTP/1.0 200 OK\r\n\r\n<td CLASS=obsTempTextA>72&deg;F</td>\n";

const DemoRegistrar demo(DemoStep{230, "Page scrapers: FedEx tracking and weather", [](std::ostream& out) {
                                    loopback::ScriptedServer server(
                                        {loopback::Script().ReadUntil("\r\n\r\n").Send(kDemoTracking),
                                         loopback::Script().ReadUntil("\r\n\r\n").Send(kDemoWeather)});
                                    TQNFedExTracker t(nullptr);
                                    t.SetHost(u"127.0.0.1");
                                    t.SetPort(server.Port());
                                    t.SetTimeout(5000);
                                    t.SetTrackingNumber(u"1234 5678 9012");
                                    t.Execute();
                                    out << "tracking page from 127.0.0.1:" << server.Port() << ":\n";
                                    for (int i = 0; i < t.ShipmentInfo()->Count(); ++i)
                                      out << "  " << ToUtf8(t.ShipmentInfo()->Strings(i)) << '\n';
                                    for (int i = 0; i < t.Activity()->Count(); ++i)
                                      out << "  " << ToUtf8(t.Activity()->Strings(i)) << '\n';
                                    TQNWeatherInfo w(nullptr);
                                    w.SetHost(u"127.0.0.1");
                                    w.SetPort(server.Port());
                                    w.SetTimeout(5000);
                                    w.SetZip(u"10001");
                                    w.Execute();
                                    out << "weather page: temperature " << w.Temperature() << '\n';
                                    return t.ShipmentInfo()->Values(u"Status") == u"Delivered" &&
                                           t.Activity()->Count() == 1 && w.Temperature() == 72;
                                  }});

}  // namespace
}  // namespace qninet::tool
