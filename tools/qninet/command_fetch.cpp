// `qninet fetch`: one URL's whole body, whatever the answer's status.

#include <fstream>
#include <iostream>

#include "WebContentRun.h"
#include "qninet/core/Url.h"
#include "qninet/web/qniupdate.h"

namespace qninet::tool {
namespace {

int run_fetch(Run& run, const std::string& url, const std::string& output) {
  String why;
  const auto parsed = Url::Parse(url, &why);
  if (!parsed) return run.Fail(exBadInput, url, ToUtf8(why));
  if (parsed->Scheme() != "http" && parsed->Scheme() != "https" && parsed->Scheme() != "ftp")
    return run.Fail(exBadInput, url, "not an http, https or ftp URL");
  if (const int code = run.Destination(output)) return code;
  TQNWebUpdater web(nullptr);
  web.SetLoginPrompt(false);
  if (const int code = run.Configure(web)) return code;
  const bool toFile = !output.empty() && output != "-";
  if (run.Options().Json && !toFile) {
    const String text = web.ReadHTTPGetResponseString(FromUtf8(url));
    if (!web.LastErrorText().empty()) return run.Fail(exFailed, url, ToUtf8(web.LastErrorText()));
    run.Json()["Body"] = ToUtf8(text);
    return exOk;
  }
  TMemoryStream body;
  if (!web.ReadHTTPGetResponse(FromUtf8(url), &body))
    return run.Fail(exFailed, url, ToUtf8(web.LastErrorText()));
  if (!toFile) return run.Save("-", body.Bytes());
  if (const int code = run.Save(output, body.Bytes())) return code;
  run.Json()["File"] = output;
  run.Json()["Size"] = body.Bytes().size();
  return exOk;
}

const CommandRegistrar registrar(430, [](CLI::App& app, RunState& state) {
  auto url = std::make_shared<std::string>();
  auto output = std::make_shared<std::string>();
  auto* cmd = add_command(app, state, "fetch", "Fetch the whole body of one http://, https:// or ftp:// URL",
                          Offer{.Timeout = 60, .Proxy = true, .CaCert = true},
                          [url, output](Run& run) { return run_fetch(run, *url, *output); });
  cmd->add_option("-o,--output", *output,
                  "Write the body to this file instead of standard output (- is standard output)");
  cmd->add_option("URL", *url, "http://, https:// or ftp://[user[:password]@]host[:port]/path")->required();
  set_help_footer(*cmd,
                  "Writes the body as it came, whatever the status (an error page too). --json gives\n"
                  "{\"status\", \"Body\"} with the body decoded as text (byte-order mark, Content-Type\n"
                  "charset, UTF-8, else the ANSI code page); with -o FILE the file is written and the\n"
                  "JSON gives {\"status\", \"File\", \"Size\"} instead of the body.",
                  {"qninet fetch -o page.html http://127.0.0.1:8080/index.html"});
});

}  // namespace
}  // namespace qninet::tool
