// `qninet daytime` and `qninet sntp`: the date and time from a daytime or an SNTP server.

#include <cmath>
#include <iostream>
#include <limits>

#include "Loopback.h"
#include "Options.h"
#include "qninet/rtl/DateUtils.h"
#include "qninet/socket/QNISNTP.h"
#include "qninet/socket/QNITime.h"

namespace qninet::tool {
namespace {

struct SntpOptions {
  bool Tcp = false;
};

std::string stamp(TDateTime dt) { return ToUtf8(FormatDateTime(u"yyyy-mm-dd hh:nn:ss", dt)); }

int report_time(Run& run, TDateTime t) {
  run.Json()["DateTime"] = stamp(t);
  if (!run.Options().Json) std::cout << stamp(t) << '\n';
  return exOk;
}

int run_daytime(Run& run) {
  TQNInetDateTime c(nullptr);
  if (const int code = run.Configure(c)) return code;
  // Execute and parse apart, so an engine failure is reported instead of parsed as a date.
  String answer;
  if (const int code = run.Execute(c, answer)) return code;
  run.Json()["Answer"] = json_text(answer);
  try {
    return report_time(run, DaytimeToDateTime(answer));
  } catch (const Exception& e) {
    return run.Fail(exFailed, Run::Endpoint(c), e.what());
  }
}

int run_sntp(Run& run, const SntpOptions& o) {
  TQNInetSNTP c(nullptr);
  c.SetUseUDP(!o.Tcp);
  if (!o.Tcp && !run.Options().Proxy.empty()) return run.Fail(exBadInput, "", "--proxy needs --tcp");
  if (const int code = run.Configure(c)) return code;
  // Over UDP the platform takes 0 as its default wait; "no limit" is the longest one.
  if (!o.Tcp && c.Timeout() == 0) c.SetTimeout(std::numeric_limits<Integer>::max());
  try {
    const TDateTime t = c.GetDateTime();
    if (t == 0)
      return run.Fail(exFailed, Run::Endpoint(c),
                      "no valid answer" + (c.LastError().empty() ? "" : ": " + ToUtf8(c.LastError())));
    return report_time(run, t);
  } catch (const Exception& e) {
    return run.Fail(exFailed, Run::Endpoint(c), e.what());
  }
}

const CommandRegistrar registrar(200, [](CLI::App& app, RunState& state) {
  auto* day =
      add_command(app, state, "daytime", "Read the date and time from a daytime server (TCP, RFC 867)",
                  Offer{"time.nist.gov, port 13", 60, true}, run_daytime);
  set_help_footer(*day, "Prints YYYY-MM-DD HH:MM:SS as the server wrote it (no time-zone conversion).",
                  {"qninet daytime --host 127.0.0.1:1313", "qninet daytime --json"});

  auto s = std::make_shared<SntpOptions>();
  auto* sntp =
      add_command(app, state, "sntp", "Read the time from an SNTP server, in local time (RFC 4330)",
                  Offer{"pool.ntp.org, port 123", 5, true}, [s](Run& run) { return run_sntp(run, *s); });
  sntp->add_flag("--tcp", s->Tcp, "Send the request over TCP instead of UDP (few servers answer there)");
  sntp->footer(
      "Prints YYYY-MM-DD HH:MM:SS in local time; exit 1 with \"no valid answer\" when the\n"
      "reply is missing, short, or from an unsynchronised server. --proxy needs --tcp.");
  add_examples(*sntp, {"qninet sntp --host 127.0.0.1:1123", "qninet sntp --tcp --proxy 127.0.0.1:3128"});
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
      loopback::ScriptedServer daytime(loopback::Script().Send("06 DEC 2026 20:51:52 UTC\r\n").Close());
      TQNInetDateTime d(nullptr);
      d.SetHost(u"127.0.0.1");
      d.SetPort(daytime.Port());
      d.SetTimeout(5000);
      const TDateTime day = d.GetDateTime();
      out << "daytime server on 127.0.0.1:" << daytime.Port() << " said 06 DEC 2026 20:51:52 UTC -> "
          << stamp(day) << '\n';

      loopback::UdpScriptedServer ntp(
          [](std::size_t, const std::string&) { return std::vector<std::string>{sntp_reply_now()}; });
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
