// `qninet http`: one HTTP/1.0 request with the socket engine's HTTP client.

#include <fstream>
#include <iostream>

#include "Loopback.h"
#include "Options.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/core/Url.h"
#include "qninet/socket/QNIHTTP.h"

namespace qninet::tool {
namespace {

struct Options {
  std::string Method = "GET";
  std::vector<std::string> Headers;
  bool Include = false;
  bool Location = false;
  bool Fail = false;
  std::string Output;
  std::string Url;
};

int run(Run& run, const Options& o) {
  String why;
  const auto url = Url::Parse(o.Url, &why);
  if (!url) return run.Fail(exBadInput, o.Url, ToUtf8(why));
  if (url->Scheme() != "http" && url->Scheme() != "https")
    return run.Fail(exBadInput, o.Url, "only http:// URLs (and https://) are served here");
  TQNIHTTPClient c(nullptr);
  if (url->Scheme() == "https") c.SetUseTLS(tlsImplicit);
  c.SetAction(o.Method == "HEAD" ? haHead : o.Method == "POST" ? haPost : haGet);
  c.SetHost(FromUtf8(url->Host()));
  c.SetPort(url->Port());
  c.SetRequest(FromUtf8(url->Target()));
  c.SetRemoveHeaders(!o.Include);
  for (const auto& h : o.Headers) c.Headers()->Add(FromUtf8(h));
  if (o.Location) c.SetOnRedirect([](TObject*, String&, bool& abort) { abort = false; });
  if (const int code = run.Configure(c)) return code;
  String answer;
  if (const int code = run.Execute(c, answer)) {
    // The engine reports a 404 in the first chunk as its error "File not found".
    return o.Fail && c.LastError() == strQNInEFileNotFound ? exNotFound : code;
  }
  const String statusLine = c.ResponseHeaders()->Count() ? c.ResponseHeaders()->Strings(0) : String();
  const Integer status = first_chunk_status(statusLine);
  run.Json()["StatusCode"] = status;
  run.Json()["ResponseHeaders"] = lines_json(*c.ResponseHeaders());
  if (o.Fail && status >= 400)
    return run.Fail(status == 404 || status == 410 ? exNotFound : exFailed, o.Url, ToUtf8(statusLine));
  if (!o.Output.empty()) return run.Save(o.Output, ToBytes(answer));
  return run.PrintAnswer(answer);
}

const CommandRegistrar registrar(220, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<Options>();
  auto* cmd = add_command(app, state, "http", "Send one HTTP/1.0 request and write the answer's body",
                          Offer{.Timeout = 60, .Proxy = true, .Verbose = true, .CaCert = true},
                          [o](Run& r) { return run(r, *o); });
  cmd->add_option("-X,--request", o->Method, "Method")
      ->check(CLI::IsMember({"HEAD", "GET", "POST"}))
      ->capture_default_str();
  cmd->add_option("-H,--header", o->Headers, "Extra request header line 'Name: value' (repeatable)");
  cmd->add_flag("-i,--include", o->Include,
                "Write the whole answer as it came, status and header lines included")
      ->excludes(cmd->get_option("--json"));
  cmd->add_flag("-L,--location", o->Location, "Follow a Location header (up to 10 times)");
  cmd->add_flag("-f,--fail", o->Fail,
                "Fail on an HTTP error status: exit 3 for 404 and 410, 1 for the others");
  cmd->add_option("-o,--output", o->Output, "Write the body to this file instead of standard output");
  cmd->add_option("URL", o->Url, "http[s]://host[:port]/path ([v6] for an IPv6 host)")->required();
  cmd->footer(
      "The body is given as the component returns it: split into lines, each ended with CRLF\n"
      "(a body without a final line end gains one). -i writes the answer byte for byte as it came.\n"
      "Without -f an error status still writes its body and exits 0, except 401, 404 and 407,\n"
      "which the component reports as errors (exit 1, or 3 for 404 with -f).\n"
      "https:// URLs speak TLS; the server's certificate must be valid for the host under the\n"
      "system's store, --cacert and QNINET_CA_FILE.\n"
      "--json gives {\"status\", \"StatusCode\", \"ResponseHeaders\", \"Answer\"} (no Answer with -o).");
});

const DemoRegistrar demo(DemoStep{
    220, "HTTP client: a redirect followed to its page", [](std::ostream& out) {
      std::uint16_t port = 0;
      const auto reply =
          loopback::Script().Reply(loopback::HeaderComplete, [&port](const std::string& request) {
            if (request.rfind("GET /old ", 0) == 0)
              return "HTTP/1.0 301 Moved Permanently\r\nLocation: http://127.0.0.1:" + std::to_string(port) +
                     "/new\r\n\r\n";
            return std::string("HTTP/1.0 200 OK\r\nContent-Type: text/plain\r\n\r\nYou have arrived.\n");
          });
      loopback::ScriptedServer server({reply, reply});
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
