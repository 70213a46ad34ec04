// `qninet whois`: asks a WHOIS server for a domain or an IPv4 address (TQNWhoIs), and the demo
// step that queries a WHOIS-like server of its own on loopback.

#include <chrono>
#include <cmath>
#include <iostream>
#include <memory>
#include <optional>
#include <string>

#include "Command.h"
#include "Loopback.h"
#include "qninet/socket/QNWhoIs.h"

namespace qninet::tool {
namespace {

struct Options {
  std::string Host;
  int Port = 0;
  bool NoAutoSelect = false;
  bool ShowServer = false;
  double TimeoutSeconds = 60;
  std::string Proxy;
  std::string ProxyUser;
  std::string ProxyPassword;
  bool Verbose = false;
  std::string Domain;
};

const char* error_event_name(TErrorEvent e) {
  switch (e) {
    case eeSend:
      return "send";
    case eeReceive:
      return "receive";
    case eeConnect:
      return "connect";
    case eeDisconnect:
      return "disconnect";
    case eeAccept:
      return "accept";
    case eeLookup:
      return "lookup";
    default:
      return "general";
  }
}

std::string endpoint_of(const platform::TClientSocket* s) {
  const String where = s->Address().empty() ? s->Host() : s->Address();
  return ToUtf8(where) + ":" + std::to_string(s->Port());
}

/// Each socket notification as one line on standard error.
void hook_verbose(TQNWhoIs& w) {
  w.SetOnLookup([](TObject*, platform::TClientSocket* s) {
    std::cerr << "* looking up " << ToUtf8(s->Host()) << '\n';
  });
  w.SetOnConnecting([](TObject*, platform::TClientSocket* s) {
    std::cerr << "* connecting to " << endpoint_of(s) << '\n';
  });
  w.SetOnConnect([](TObject*, platform::TClientSocket* s) {
    std::cerr << "* connected to " << ToUtf8(s->RemoteAddress()) << '\n';
  });
  w.SetOnDisconnect([](TObject*, platform::TClientSocket*) { std::cerr << "* disconnected\n"; });
  w.SetOnError([](TObject*, platform::TClientSocket*, TErrorEvent e, Integer& code) {
    std::cerr << "* error during " << error_event_name(e) << " (code " << code << ")\n";
  });
}

/// Splits "host:port" or "[v6]:port"; nothing when the port is missing or no number.
std::optional<std::pair<std::string, int>> split_host_port(const std::string& text) {
  std::string host;
  std::string port;
  if (!text.empty() && text.front() == '[') {
    const auto close = text.find(']');
    if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return std::nullopt;
    host = text.substr(1, close - 1);
    port = text.substr(close + 2);
  } else {
    const auto colon = text.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    host = text.substr(0, colon);
    port = text.substr(colon + 1);
  }
  const Integer n = StrToIntDef(FromUtf8(port), -1);
  if (host.empty() || n < 1 || n > 65535) return std::nullopt;
  return std::make_pair(host, static_cast<int>(n));
}

int run(const Options& o) {
  TQNWhoIs w(nullptr);
  w.SetAutoSelectServer(!o.NoAutoSelect);
  w.SetDomain(FromUtf8(o.Domain));
  if (!o.Host.empty()) w.SetHost(FromUtf8(o.Host));
  if (o.Port > 0) w.SetPort(o.Port);
  if (o.ShowServer) {
    const String server = w.Host().empty() ? w.Address() : w.Host();
    std::cout << ToUtf8(server) << '\n';
    return 0;
  }
  if (!(o.TimeoutSeconds >= 0) || o.TimeoutSeconds > 2'000'000) {
    std::cerr << "qninet whois: --timeout must be from 0 to 2000000 seconds\n";
    return 2;
  }
  w.SetTimeout(static_cast<Integer>(std::llround(o.TimeoutSeconds * 1000)));
  w.SetLoginPrompt(false);
  if (!o.Proxy.empty()) {
    const auto hp = split_host_port(o.Proxy);
    if (!hp) {
      std::cerr << "qninet whois: --proxy wants HOST:PORT, got \"" << o.Proxy << "\"\n";
      return 2;
    }
    w.Proxy()->SetUseProxy(true);
    w.Proxy()->SetServer(FromUtf8(hp->first));
    w.Proxy()->SetPort(hp->second);
    w.Proxy()->SetUser(FromUtf8(o.ProxyUser));
    w.Proxy()->SetPassword(FromUtf8(o.ProxyPassword));
  }
  if (o.Verbose) hook_verbose(w);
  try {
    const String answer = w.Execute();
    if (!w.LastError().empty()) {
      std::cerr << ToUtf8(w.LastError()) << '\n';
      return 1;
    }
    const std::string bytes = ToBytes(answer);
    std::cout.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    std::cout.flush();
    return 0;
  } catch (const Exception& e) {
    std::cerr << e.what() << '\n';
    return 2;
  }
}

const CommandRegistrar registrar(100, [](CLI::App& app, RunState& state) {
  auto* cmd = app.add_subcommand("whois",
                                 "Ask a WHOIS server (TCP 43) for the record of a domain or an IPv4 address");
  cmd->footer(
      "The server is chosen from the domain's last label (RIPE's server for an IPv4 address);\n"
      "--host overrides it. The answer goes to standard output byte for byte.\n"
      "Exit codes: 0 answer written; 1 the query failed inside the exchange (the message goes\n"
      "to standard error: status 401/404/407 in the first chunk, a read time-out, a reset);\n"
      "2 no server, connection refused, unknown name, connect time-out or bad options.\n"
      "Example: qninet whois --host 127.0.0.1 --port 4343 example.co.uk");
  auto o = std::make_shared<Options>();
  cmd->add_option("--host", o->Host, "Ask this server (name or dotted address) instead of the chosen one");
  cmd->add_option("--port", o->Port, "TCP port of the server (default 43)")->check(CLI::Range(1, 65535));
  cmd->add_flag("--no-auto-select", o->NoAutoSelect,
                "Do not choose the server from the domain (use with --host)");
  cmd->add_flag("--show-server", o->ShowServer,
                "Print the server that the domain selects, one line, and query nothing");
  cmd->add_option("--timeout", o->TimeoutSeconds,
                  "Seconds that connecting and each wait for data may take (default 60; 0 waits "
                  "as long as the system does)");
  cmd->add_option("--proxy", o->Proxy, "Connect through this proxy, HOST:PORT ([v6]:PORT for IPv6)");
  cmd->add_option("--proxy-user", o->ProxyUser, "User name sent to the proxy (\"Username: \" line)");
  cmd->add_option("--proxy-password", o->ProxyPassword, "Password sent to the proxy (\"Password: \" line)");
  cmd->add_flag("-v,--verbose", o->Verbose, "Print each socket notification on standard error");
  cmd->add_option("DOMAIN", o->Domain, "The domain name or IPv4 address to look up")->required();
  cmd->callback([&state, o] { state.ExitCode = run(*o); });
});

// --- the demo step: a WHOIS-like server thread on loopback ---------------------------------

const DemoRegistrar demo(DemoStep{
    100, "WHOIS query", [](std::ostream& out) {
      const std::string record =
          "\r\n    Domain name:\r\n        example.co.uk\r\n\r\n    Registrar:\r\n        Demo Registrar "
          "Ltd\r\n"
          "\r\n    Registration status:\r\n        Registered until expiry date.\r\n";
      std::string sent;
      // Like a WHOIS server: read the query with its header block, answer, close (RFC 3912).
      loopback::TcpServer server(1, loopback::TcpServer::HeaderComplete, [&](const std::string& query) {
        sent = query;
        return record;
      });
      TQNWhoIs w(nullptr);
      w.SetDomain(u"example.co.uk");
      out << "Domain example.co.uk selects " << ToUtf8(w.Host()) << " (port " << w.Port() << ")\n";
      const bool chose = w.Host() == WhoIsServerOf(*w.ServerList(), u"uk");
      w.SetAddress(u"127.0.0.1");
      w.SetPort(server.Port());
      w.SetTimeout(5000);
      out << "Asking the loopback WHOIS server on port " << server.Port() << " instead...\n";
      const String answer = w.Execute();
      server.Join();
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
