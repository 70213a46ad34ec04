// `qninet daytime` and `qninet sntp`: the date and time from a daytime or an SNTP server.

#include <cmath>
#include <iostream>

#include "Command.h"
#include "Loopback.h"
#include "qninet/rtl/DateUtils.h"
#include "qninet/socket/QNISNTP.h"
#include "qninet/socket/QNITime.h"

namespace qninet::tool {
namespace {

struct Options {
  std::string Host;
  int Port = 0;
  bool Tcp = false;
  int Timeout = 0;
};

std::string stamp(TDateTime dt) { return ToUtf8(FormatDateTime(u"yyyy-mm-dd hh:nn:ss", dt)); }

int run_daytime(const Options& o) {
  TQNInetDateTime c(nullptr);
  if (!o.Host.empty()) c.SetHost(FromUtf8(o.Host));
  if (o.Port > 0) c.SetPort(o.Port);
  if (o.Timeout > 0) c.SetTimeout(o.Timeout);
  try {
    // Execute and parse apart, so an engine failure is reported instead of parsed as a date.
    const String answer = c.Execute();
    if (!c.LastError().empty()) {
      std::cerr << "qninet daytime: " << ToUtf8(c.LastError()) << '\n';
      return 1;
    }
    std::cout << stamp(DaytimeToDateTime(answer)) << '\n';
    return 0;
  } catch (const Exception& e) {
    std::cerr << "qninet daytime: " << e.what() << '\n';
    return 1;
  }
}

int run_sntp(const Options& o) {
  TQNInetSNTP c(nullptr);
  c.SetUseUDP(!o.Tcp);
  if (!o.Host.empty()) c.SetHost(FromUtf8(o.Host));
  if (o.Port > 0) c.SetPort(o.Port);
  if (o.Timeout > 0) c.SetTimeout(o.Timeout);
  try {
    const TDateTime t = c.GetDateTime();
    if (t == 0) {
      std::cerr << "no valid answer\n";
      if (!c.LastError().empty()) std::cerr << "qninet sntp: " << ToUtf8(c.LastError()) << '\n';
      return 1;
    }
    std::cout << stamp(t) << '\n';
    return 0;
  } catch (const Exception& e) {
    std::cerr << "qninet sntp: " << e.what() << '\n';
    return 1;
  }
}

const CommandRegistrar registrar(200, [](CLI::App& app, RunState& state) {
  auto* day = app.add_subcommand("daytime", "Read the date and time from a daytime server (TCP, RFC 867)");
  auto d = std::make_shared<Options>();
  day->add_option("--host", d->Host, "Server name or address (default time.nist.gov)");
  day->add_option("--port", d->Port, "TCP port (default 13)")->check(CLI::Range(1, 65535));
  day->add_option("--timeout", d->Timeout, "Milliseconds the connect and each read may take (default 60000)")
      ->check(CLI::NonNegativeNumber);
  day->footer("Prints YYYY-MM-DD HH:MM:SS as the server wrote it (no time-zone conversion).");
  day->callback([&state, d] { state.ExitCode = run_daytime(*d); });

  auto* sntp = app.add_subcommand("sntp", "Read the time from an SNTP server, in local time (RFC 4330)");
  auto s = std::make_shared<Options>();
  sntp->add_option("--host", s->Host, "Server name or address (default pool.ntp.org)");
  sntp->add_option("--port", s->Port, "Port (default 123)")->check(CLI::Range(1, 65535));
  sntp->add_flag("--tcp", s->Tcp, "Send the request over TCP instead of UDP (few servers answer there)");
  sntp->add_option("--timeout", s->Timeout, "Milliseconds to wait for the reply (default 5000)")
      ->check(CLI::NonNegativeNumber);
  sntp->footer(
      "Prints YYYY-MM-DD HH:MM:SS in local time; exit 1 with \"no valid answer\" when the\n"
      "reply is missing, short, or from an unsynchronised server.");
  sntp->callback([&state, s] { state.ExitCode = run_sntp(*s); });
});

// The demo's SNTP server answers with this machine's clock, as a stratum 2 server would.
std::string sntp_reply_now() {
  std::string p(48, '\0');
  p[0] = static_cast<char>((0 << 6) | (4 << 3) | 4);
  p[1] = 2;
  const double t = (NowUTC() - 2.0) * 86400.0;
  const auto seconds = static_cast<std::uint32_t>(static_cast<std::uint64_t>(t));
  const auto fraction = static_cast<std::uint32_t>((t - std::floor(t)) * 4294967296.0);
  for (int i = 0; i < 4; ++i) {
    p[40 + i] = static_cast<char>((seconds >> (24 - 8 * i)) & 0xFF);
    p[44 + i] = static_cast<char>((fraction >> (24 - 8 * i)) & 0xFF);
  }
  return p;
}

const DemoRegistrar demo(DemoStep{
    200, "Time clients: daytime and SNTP", [](std::ostream& out) {
      loopback::TcpServer daytime(
          1, nullptr, [](const std::string&) { return std::string("06 DEC 2026 20:51:52 UTC\r\n"); });
      TQNInetDateTime d(nullptr);
      d.SetHost(u"127.0.0.1");
      d.SetPort(daytime.Port());
      d.SetTimeout(5000);
      const TDateTime day = d.GetDateTime();
      out << "daytime server on 127.0.0.1:" << daytime.Port() << " said 06 DEC 2026 20:51:52 UTC -> "
          << stamp(day) << '\n';

      loopback::UdpServer ntp(1, [](const std::string&) { return sntp_reply_now(); });
      TQNInetSNTP s(nullptr);
      s.SetHost(u"127.0.0.1");
      s.SetPort(ntp.Port());
      const TDateTime t = s.GetDateTime();
      const double off = std::fabs(t - Now()) * 86400.0;
      out << "SNTP server on udp 127.0.0.1:" << ntp.Port() << " -> "
          << (t == 0 ? std::string("no valid answer") : stamp(t)) << " local time ("
          << (off < 2 ? "matches" : "differs from") << " this clock)\n";
      return day == EncodeDate(2026, 12, 6) + EncodeTime(20, 51, 52, 0) && t != 0 && off < 2;
    }});

}  // namespace
}  // namespace qninet::tool
