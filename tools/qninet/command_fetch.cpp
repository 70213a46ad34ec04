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
  if (!Url::Parse(url, &why)) return run.Fail(exBadInput, url, ToUtf8(why));
  TQNWebUpdater web(nullptr);
  web.SetLoginPrompt(false);
  if (const int code = run.Configure(web)) return code;
  if (run.Options().Json) {
    const String text = web.ReadHTTPGetResponseString(FromUtf8(url));
    if (!web.LastErrorText().empty()) return run.Fail(exFailed, url, ToUtf8(web.LastErrorText()));
    run.Json()["Body"] = ToUtf8(text);
    return exOk;
  }
  TMemoryStream body;
  if (!web.ReadHTTPGetResponse(FromUtf8(url), &body))
    return run.Fail(exFailed, url, ToUtf8(web.LastErrorText()));
  if (output.empty()) {
    std::cout.write(body.Bytes().data(), static_cast<std::streamsize>(body.Bytes().size()));
    return exOk;
  }
  return run.Save(output, body.Bytes());
}

const CommandRegistrar registrar(430, [](CLI::App& app, RunState& state) {
  auto url = std::make_shared<std::string>();
  auto output = std::make_shared<std::string>();
  auto* cmd = add_command(app, state, "fetch", "Fetch the whole body of one http://, https:// or ftp:// URL",
                          Offer{.Timeout = 60, .Proxy = true, .CaCert = true},
                          [url, output](Run& run) { return run_fetch(run, *url, *output); });
  cmd->add_option("-o,--output", *output, "Write the body to this file instead of standard output");
  cmd->add_option("URL", *url, "http://, https:// or ftp://[user[:password]@]host[:port]/path")->required();
  cmd->footer(
      "Writes the body as it came, whatever the status (an error page too). --json gives\n"
      "{\"status\", \"Body\"} with the body decoded as text (byte-order mark, Content-Type charset,\n"
      "UTF-8, else the ANSI code page).");
});

}  // namespace
}  // namespace qninet::tool
