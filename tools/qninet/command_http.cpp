// `qninet http`: one HTTP/1.0 request with the socket engine's HTTP client.

#include <iostream>

#include "Command.h"
#include "Loopback.h"
#include "qninet/socket/QNIHTTP.h"

namespace qninet::tool {
namespace {

struct Options {
  std::string Method = "GET";
  std::vector<std::string> Headers;
  bool Include = false;
  bool Location = false;
  std::string Proxy;
  std::string ProxyUser;
  int Timeout = 0;
  std::string Url;
};

int run(const Options& o) {
  String host, path;
  Integer port = 80;
  if (!HTTPParseURL(FromUtf8(o.Url), host, port, path)) {
    std::cerr << "qninet http: not an http:// URL: " << o.Url << '\n';
    return 2;
  }
  TQNIHTTPClient c(nullptr);
  c.SetAction(o.Method == "HEAD" ? haHead : o.Method == "POST" ? haPost : haGet);
  c.SetHost(host);
  c.SetPort(port);
  c.SetRequest(path);
  c.SetRemoveHeaders(!o.Include);
  c.SetLoginPrompt(false);
  if (o.Timeout > 0) c.SetTimeout(o.Timeout);
  for (const auto& h : o.Headers) c.Headers()->Add(FromUtf8(h));
  if (!o.Proxy.empty()) {
    const auto colon = o.Proxy.rfind(':');
    c.Proxy()->SetServer(FromUtf8(o.Proxy.substr(0, colon)));
    c.Proxy()->SetPort(colon == std::string::npos ? 8080
                                                  : StrToIntDef(FromUtf8(o.Proxy.substr(colon + 1)), 8080));
    c.Proxy()->SetUseProxy(true);
    if (!o.ProxyUser.empty()) {
      const auto sep = o.ProxyUser.find(':');
      c.Proxy()->SetUser(FromUtf8(o.ProxyUser.substr(0, sep)));
      if (sep != std::string::npos) c.Proxy()->SetPassword(FromUtf8(o.ProxyUser.substr(sep + 1)));
    }
  }
  if (o.Location) c.SetOnRedirect([](TObject*, String&, bool& abort) { abort = false; });
  try {
    const String answer = c.Execute();
    if (!c.LastError().empty()) {
      std::cerr << "qninet http: " << ToUtf8(c.LastError()) << '\n';
      return 1;
    }
    std::cout << ToBytes(answer);
    std::cout.flush();
    return 0;
  } catch (const Exception& e) {
    std::cerr << "qninet http: " << e.what() << '\n';
    return 1;
  }
}

const CommandRegistrar registrar(220, [](CLI::App& app, RunState& state) {
  auto* cmd = app.add_subcommand("http", "Send one HTTP/1.0 request and write the answer's body");
  auto o = std::make_shared<Options>();
  cmd->add_option("-X,--request", o->Method, "Method")
      ->check(CLI::IsMember({"HEAD", "GET", "POST"}))
      ->capture_default_str();
  cmd->add_option("-H,--header", o->Headers, "Extra request header line 'Name: value' (repeatable)");
  cmd->add_flag("-i,--include", o->Include, "Write the whole answer, status and header lines included");
  cmd->add_flag("-L,--location", o->Location, "Follow a Location header (up to 10 times)");
  cmd->add_option("--proxy", o->Proxy, "HTTP proxy as HOST:PORT");
  cmd->add_option("--proxy-user", o->ProxyUser, "Proxy credentials as USER:PASSWORD (sent as Basic)");
  cmd->add_option("--timeout", o->Timeout, "Milliseconds the connect and each read may take (default 60000)")
      ->check(CLI::NonNegativeNumber);
  cmd->add_option("URL", o->Url, "http://host[:port]/path")->required();
  cmd->footer("Errors (a status of 401, 404 or 407, a failed connection) go to standard error, exit 1.");
  cmd->callback([&state, o] { state.ExitCode = run(*o); });
});

const DemoRegistrar demo(DemoStep{
    220, "HTTP client: a redirect followed to its page", [](std::ostream& out) {
      std::uint16_t port = 0;
      loopback::TcpServer server(2, loopback::TcpServer::HeaderComplete, [&port](const std::string& request) {
        if (request.rfind("GET /old ", 0) == 0)
          return "HTTP/1.0 301 Moved Permanently\r\nLocation: http://127.0.0.1:" + std::to_string(port) +
                 "/new\r\n\r\n";
        return std::string("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nYou have arrived.\n");
      });
      port = server.Port();
      TQNIHTTPClient c(nullptr);
      c.SetAction(haGet);
      c.SetAddress(u"127.0.0.1");
      c.SetPort(port);
      c.SetRequest(u"/old");
      c.SetTimeout(5000);
      c.SetOnRedirect([&out](TObject*, String& url, bool& abort) {
        out << "redirect offered: " << ToUtf8(url) << " -> followed\n";
        abort = false;
      });
      const String body = c.Execute();
      out << "GET http://127.0.0.1:" << port << "/old -> "
          << ToUtf8(c.ResponseHeaders()->Count() ? c.ResponseHeaders()->Strings(0) : String())
          << ", body: " << ToUtf8(body);
      return body == u"You have arrived.\r\n";
    }});

}  // namespace
}  // namespace qninet::tool
