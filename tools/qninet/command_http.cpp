// `qninet http`: one HTTP/1.0 request with the socket engine's HTTP client.

#include <cstring>
#include <fstream>
#include <iostream>
#include <sstream>

#include "Loopback.h"
#include "Options.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/core/Url.h"
#include "qninet/socket/Framing.h"
#include "qninet/socket/QNIHTTP.h"

namespace qninet::tool {
namespace {

struct Options {
  std::string Method;
  std::string Data;
  std::vector<std::string> Headers;
  bool Include = false;
  bool Location = false;
  bool Fail = false;
  std::string Output;
  std::string Url;
};

// The HTTP client with a request body after its head, as curl's -d sends it. Its step reads
// every answer whole: the engine's own step raises "File not found" on a 404 and drops the
// status line, which the program names.
class BodyClient : public TQNIHTTPClient {
public:
  using TQNIHTTPClient::TQNIHTTPClient;
  std::string Body;

protected:
  String InternalExecute() override {
    AskProxyLogon();
    // The body follows the head at once: the engine's trailing block would be read as its end.
    String query = GetQuery();
    query += Body.empty() ? GetRawHeaders() : FromBytes(Body);
    if (SendToSocket(query) <= 0) return u"No answer from server";
    TReadToClose answer;
    ReceiveFramed(answer);
    return answer.TakeText();
  }
};

// -d TEXT, or -d @FILE (the file's bytes); exBadInput for a file that cannot be read.
int read_data(Run& run, const std::string& data, std::string& body) {
  if (!data.starts_with("@")) {
    body = data;
    return exOk;
  }
  const std::string file = data.substr(1);
  if (const int code = run.Input(file)) return code;
  std::ifstream in(file, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  if (!in) return run.Fail(exBadInput, file, "cannot read it");
  body = bytes.str();
  return exOk;
}

// The body of a whole answer: what follows its first empty line, byte for byte.
std::string body_of(const std::string& answer) {
  for (const char* end : {"\r\n\r\n", "\n\n"})
    if (const auto at = answer.find(end); at != std::string::npos)
      return answer.substr(at + std::strlen(end));
  return std::string();
}

int run(Run& run, const Options& o) {
  String why;
  const auto url = Url::Parse(o.Url, &why);
  if (!url) return run.Fail(exBadInput, o.Url, ToUtf8(why));
  if (url->Scheme() != "http" && url->Scheme() != "https")
    return run.Fail(exBadInput, o.Url, "only http:// URLs (and https://) are served here");
  if (const int code = run.Destination(o.Output)) return code;
  BodyClient c(nullptr);
  if (const int code = read_data(run, o.Data, c.Body)) return code;
  const std::string method = !o.Method.empty() ? o.Method : o.Data.empty() ? "GET" : "POST";
  if (method == "HEAD" && !o.Data.empty())
    return run.Fail(exBadInput, "", "-d sends a body: not with -X HEAD");
  if (url->Scheme() == "https") c.SetUseTLS(tlsImplicit);
  c.SetAction(method == "HEAD" ? haHead : method == "POST" ? haPost : haGet);
  c.SetHost(FromUtf8(url->Host()));
  c.SetPort(url->Port());
  c.SetRequest(FromUtf8(url->Target()));
  // The whole answer is kept: the component's line form would turn every LF of a body into CRLF.
  c.SetRemoveHeaders(false);
  bool typed = false;
  for (const auto& h : o.Headers) {
    typed = typed || (h.size() > 13 && SameText(FromUtf8(h.substr(0, 13)), u"Content-Type:"));
    c.Headers()->Add(FromUtf8(h));
  }
  if (!o.Data.empty() || method == "POST") {
    if (!typed) c.Headers()->Add(u"Content-Type: application/x-www-form-urlencoded");
    c.Headers()->Add(FromUtf8("Content-Length: " + std::to_string(c.Body.size())));
  }
  if (o.Location) c.SetOnRedirect([](TObject*, String&, bool& abort) { abort = false; });
  if (const int code = run.Configure(c)) return code;
  String answer;
  if (c.Host().empty() && c.Address().empty()) return run.Fail(exBadInput, "", "no server given");
  try {
    answer = c.Execute();
  } catch (const Exception& e) {
    return run.Fail(exFailed, Run::Endpoint(c), e.what());
  }
  if (!c.LastError().empty()) return run.Fail(exFailed, Run::Endpoint(c), ToUtf8(c.LastError()));
  const String statusLine = c.ResponseHeaders()->Count() ? c.ResponseHeaders()->Strings(0) : String();
  const Integer status = first_chunk_status(statusLine);
  run.Json()["StatusCode"] = status;
  run.Json()["ResponseHeaders"] = lines_json(*c.ResponseHeaders());
  // 401, 404 and 407 fail as the component reports them; with -f every error status does.
  if ((o.Fail && status >= 400) || status == 401 || status == 404 || status == 407)
    return run.Fail(o.Fail && (status == 404 || status == 410) ? exNotFound : exFailed, o.Url,
                    ToUtf8(statusLine));
  const std::string bytes = ToBytes(answer);
  const std::string out = o.Include ? bytes : body_of(bytes);
  if (!o.Output.empty()) return run.Save(o.Output, out);
  return run.PrintAnswer(FromBytes(out));
}

const CommandRegistrar registrar(220, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<Options>();
  auto* cmd =
      add_command(app, state, "http", "Send one HTTP/1.0 request and write the answer's body",
                  Offer{.Timeout = 60, .Proxy = true, .CaCert = true}, [o](Run& r) { return run(r, *o); });
  cmd->add_option("-X,--request", o->Method, "Method (default GET, POST with -d)")
      ->check(CLI::IsMember({"HEAD", "GET", "POST"}));
  cmd->add_option("-d,--data", o->Data,
                  "Send TEXT, or the bytes of FILE with @FILE, as the request body (POST unless -X says "
                  "otherwise; Content-Type application/x-www-form-urlencoded unless -H gives one)");
  cmd->add_option("-H,--header", o->Headers, "Extra request header line 'Name: value' (repeatable)");
  cmd->add_flag("-i,--include", o->Include,
                "Write the whole answer as it came, status and header lines included")
      ->excludes(cmd->get_option("--json"));
  cmd->add_flag("-L,--location", o->Location, "Follow a Location header (up to 10 times)");
  cmd->add_flag("-f,--fail", o->Fail,
                "Fail on an HTTP error status: exit 3 for 404 and 410, 1 for the others");
  cmd->add_option("-o,--output", o->Output,
                  "Write the body to this file instead of standard output (- is standard output)");
  cmd->add_option("URL", o->Url, "http[s]://host[:port]/path ([v6] for an IPv6 host)")->required();
  set_help_footer(
      *cmd,
      "The body is written byte for byte as it came; -i writes the whole answer, status and\n"
      "header lines included. Without -f an error status still writes its body and exits 0,\n"
      "except 401, 404 and 407, which the component reports as errors (exit 1, or 3 for 404\n"
      "with -f), naming the URL and the status line.\n"
      "https:// URLs speak TLS; the server's certificate must be valid for the host under the\n"
      "system's store, --cacert and QNINET_CA_FILE.\n"
      "--json gives {\"status\", \"StatusCode\", \"ResponseHeaders\", \"Answer\"} (no Answer with -o).",
      {"qninet http -o page.html http://127.0.0.1:8080/index.html",
       "qninet http -d 'name=Ann' -H 'Accept: text/plain' http://127.0.0.1:8080/form"});
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
