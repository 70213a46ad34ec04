// `qninet fedex` and `qninet weather`: the page scrapers.

#include <iostream>

#include "Command.h"
#include "Loopback.h"
#include "qninet/socket/QNIFedEx.h"
#include "qninet/socket/QNIWeath.h"

namespace qninet::tool {
namespace {

struct Options {
  std::string Host;
  int Port = 0;
  int Timeout = 0;
  std::string Value;
};

template <class C>
void point(C& c, const Options& o) {
  if (!o.Host.empty()) c.SetHost(FromUtf8(o.Host));
  if (o.Port > 0) c.SetPort(o.Port);
  if (o.Timeout > 0) c.SetTimeout(o.Timeout);
}

template <class C>
bool fetch(C& c, const char* name) {
  try {
    c.Execute();
  } catch (const Exception& e) {
    std::cerr << "qninet " << name << ": " << e.what() << '\n';
    return false;
  }
  if (!c.LastError().empty()) {
    std::cerr << "qninet " << name << ": " << ToUtf8(c.LastError()) << '\n';
    return false;
  }
  return true;
}

int run_fedex(const Options& o) {
  TQNFedExTracker t(nullptr);
  point(t, o);
  t.SetTrackingNumber(FromUtf8(o.Value));
  if (!fetch(t, "fedex")) return 1;
  for (int i = 0; i < t.ShipmentInfo()->Count(); ++i)
    std::cout << ToUtf8(t.ShipmentInfo()->Strings(i)) << '\n';
  for (int i = 0; i < t.Activity()->Count(); ++i) std::cout << ToUtf8(t.Activity()->Strings(i)) << '\n';
  return 0;
}

int run_weather(const Options& o) {
  TQNWeatherInfo w(nullptr);
  point(w, o);
  w.SetZip(FromUtf8(o.Value));
  if (!fetch(w, "weather")) return 1;
  std::cout << w.Temperature() << '\n';
  return 0;
}

void common_options(CLI::App* cmd, Options& o, const char* host) {
  cmd->add_option("--host", o.Host, std::string("Web server name or address (default ") + host + ")");
  cmd->add_option("--port", o.Port, "TCP port (default 80)")->check(CLI::Range(1, 65535));
  cmd->add_option("--timeout", o.Timeout, "Milliseconds the connect and each read may take (default 60000)")
      ->check(CLI::NonNegativeNumber);
}

const CommandRegistrar registrar(230, [](CLI::App& app, RunState& state) {
  auto* fedex = app.add_subcommand("fedex", "Track FedEx parcels: shipment lines, then scan activity lines");
  auto f = std::make_shared<Options>();
  common_options(fedex, *f, "www.fedex.com");
  fedex->add_option("NUMBER", f->Value, "Tracking number(s); blanks are sent as %20")->required();
  fedex->footer("Prints the shipment table, then the scan activity, one name=value line per row.");
  fedex->callback([&state, f] { state.ExitCode = run_fedex(*f); });

  auto* weather = app.add_subcommand("weather", "Read the current temperature for a postal code");
  auto w = std::make_shared<Options>();
  common_options(weather, *w, "www.weather.com");
  weather->add_option("ZIP", w->Value, "Postal code")->required();
  weather->footer("Prints the temperature as a whole number; 0 when the page has none.");
  weather->callback([&state, w] { state.ExitCode = run_weather(*w); });
});

const char* kDemoTracking =
    "HTTP/1.0 200 OK\r\n\r\n<html><!-- shipment info --><table>\n"
    "<tr><td>Status</td><td>Delivered</td></tr>\n<tr><td>Weight</td><td></td><td>2 lbs</td></tr>\n"
    "</table><!-- BEGIN Scan Activity --><table>\n<tr><td>Dec 4 9:15</td><td>Memphis, TN</td></tr>\n"
    "</table><!-- END Scan Activity --></html>\n";
const char* kDemoWeather = "HTTP/1.0 200 OK\r\n\r\n<td CLASS=obsTempTextA>72&deg;F</td>\n";

const DemoRegistrar demo(DemoStep{
    230, "Page scrapers: FedEx tracking and weather", [](std::ostream& out) {
      loopback::TcpServer server(2, loopback::TcpServer::HeaderComplete, [](const std::string& request) {
        return std::string(request.rfind("GET /cgi-bin/tracking?", 0) == 0 ? kDemoTracking : kDemoWeather);
      });
      TQNFedExTracker t(nullptr);
      t.SetHost(u"127.0.0.1");
      t.SetPort(server.Port());
      t.SetTimeout(5000);
      t.SetTrackingNumber(u"1234 5678 9012");
      t.Execute();
      out << "tracking page from 127.0.0.1:" << server.Port() << ":\n";
      for (int i = 0; i < t.ShipmentInfo()->Count(); ++i)
        out << "  " << ToUtf8(t.ShipmentInfo()->Strings(i)) << '\n';
      for (int i = 0; i < t.Activity()->Count(); ++i) out << "  " << ToUtf8(t.Activity()->Strings(i)) << '\n';
      TQNWeatherInfo w(nullptr);
      w.SetHost(u"127.0.0.1");
      w.SetPort(server.Port());
      w.SetTimeout(5000);
      w.SetZip(u"10001");
      w.Execute();
      out << "weather page: temperature " << w.Temperature() << '\n';
      return t.ShipmentInfo()->Values(u"Status") == u"Delivered" && t.Activity()->Count() == 1 &&
             w.Temperature() == 72;
    }});

}  // namespace
}  // namespace qninet::tool
