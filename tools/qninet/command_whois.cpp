// `qninet whois`: asks a WHOIS server for a domain or an IPv4 address (TQNWhoIs), and the demo
// step that queries a WHOIS-like server of its own on loopback.

#include <iostream>

#include "Loopback.h"
#include "Options.h"
#include "qninet/socket/QNWhoIs.h"

namespace qninet::tool {
namespace {

struct Options {
  bool NoAutoSelect = false;
  bool ShowServer = false;
  bool Follow = false;
  std::string Domain;
};

int run(Run& run, const Options& o) {
  TQNWhoIs w(nullptr);
  w.SetAutoSelectServer(!o.NoAutoSelect);
  w.SetFollowReferrals(o.Follow);
  w.SetDomain(FromUtf8(o.Domain));
  if (const int code = run.Configure(w)) return code;
  run.Json()["Domain"] = o.Domain;
  if (o.ShowServer) {
    const std::string server = ToUtf8(w.Host().empty() ? w.Address() : w.Host());
    run.Json()["Host"] = server;
    run.Json()["Port"] = w.Port();
    if (!run.Options().Json) std::cout << server << '\n';
    return exOk;
  }
  String answer;
  const int code = run.Execute(w, answer);
  if (o.Follow) {
    run.Json()["ReferralChain"] = lines_json(*w.ReferralChain());
    if (run.Options().Verbose && !run.Options().Quiet)
      for (int i = 0; i < w.ReferralChain()->Count(); ++i)
        std::cerr << "qninet whois: asked " << ToUtf8(w.ReferralChain()->Strings(i)) << '\n';
  }
  if (code) return code;
  return run.PrintAnswer(answer);
}

const CommandRegistrar registrar(100, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<Options>();
  auto* cmd = add_command(
      app, state, "whois", "Ask a WHOIS server (TCP 43) for the record of a domain or an IPv4 address",
      Offer{"chosen from the domain, port 43", 60, true}, [o](Run& r) { return run(r, *o); });
  cmd->footer(
      "The server is chosen from the domain's last label (RIPE's server for an IPv4 address);\n"
      "--host overrides it. With --follow an IPv4 address goes to the regional registry of its\n"
      "/8, and up to 3 referrals in the answers (IANA's refer:/whois:, Registrar WHOIS Server:,\n"
      "ReferralServer: whois://) are followed; the last answer is written, -v lists the servers.\n"
      "The answer goes to standard output byte for byte; with --json its\n"
      "bytes are read as UTF-8 when they are UTF-8, else as Latin-1.\n"
      "Exit codes: 0 answer written; 1 the query failed (refused, unknown name, time-out, status\n"
      "401/404/407 in the first chunk, a reset); 2 bad options or no server.\n"
      "Example: qninet whois --host 127.0.0.1 --port 4343 example.co.uk");
  cmd->add_flag("--no-auto-select", o->NoAutoSelect,
                "Do not choose the server from the domain (use with --host)");
  cmd->add_flag("--show-server", o->ShowServer,
                "Print the server that the domain selects, one line, and query nothing");
  cmd->add_flag("--follow", o->Follow,
                "Follow the referrals in the answers (up to 3) and print the last answer");
  cmd->add_option("DOMAIN", o->Domain, "The domain name or IPv4 address to look up")->required();
});

// --- the demo step: a WHOIS-like server thread on loopback ---------------------------------

const DemoRegistrar demo(DemoStep{
    100, "WHOIS query", [](std::ostream& out) {
      const std::string record =
          "\r\n    Domain name:\r\n        example.co.uk\r\n\r\n    Registrar:\r\n        Demo Registrar "
          "Ltd\r\n"
          "\r\n    Registration status:\r\n        Registered until expiry date.\r\n";
      // Like a WHOIS server: read the query with its header block, answer, close (RFC 3912).
      loopback::ScriptedServer server(loopback::Script().ReadUntil("\r\n\r\n").Send(record));
      TQNWhoIs w(nullptr);
      w.SetDomain(u"example.co.uk");
      out << "Domain example.co.uk selects " << ToUtf8(w.Host()) << " (port " << w.Port() << ")\n";
      const bool chose = w.Host() == WhoIsServerOf(*w.ServerList(), u"uk");
      w.SetAddress(u"127.0.0.1");
      w.SetPort(server.Port());
      w.SetTimeout(5000);
      out << "Asking the loopback WHOIS server on port " << server.Port() << " instead...\n";
      const String answer = w.Execute();
      const std::string sent = server.Received(0);
      out << "Sent: "
          << (sent == "example.co.uk\r\nProxy-Connection: Keep-Alive\r\n\r\n"
                  ? "the domain, CRLF and the header block"
                  : "unexpected bytes")
          << '\n';
      out << "Answer (" << answer.size() << " bytes):" << ToBytes(answer);
      return chose && w.LastError().empty() && ToBytes(answer) == record &&
             sent == "example.co.uk\r\nProxy-Connection: Keep-Alive\r\n\r\n";
    }});

}  // namespace
}  // namespace qninet::tool
