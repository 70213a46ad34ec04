// `qninet extract`: the addresses of one scheme that a page or file holds.

#include <iostream>
#include <map>

#include "Loopback.h"
#include "WebContentRun.h"
#include "qninet/web/qnixtract.h"

namespace qninet::tool {
namespace {

const std::map<std::string, TQNIExtract> kKinds{
    {"mailto", ieMailTo}, {"http", ieHTTP}, {"https", itHTTPS},   {"ftp", itFTP},  {"file", itFile},
    {"telnet", itTelnet}, {"news", itNews}, {"gopher", itGopher}, {"wais", itWais}};

int run_extract(Run& run, const std::string& kind, const std::string& target) {
  TQNInfoExtractor x(nullptr);
  x.SetExtract(kKinds.at(kind));
  if (const int code = configure_web(run, x, target)) return code;
  if (const int code = execute_web(run, x, target)) return code;
  auto list = nlohmann::ordered_json::array();
  for (int i = 0; i < x.ExtractedInfo()->Count(); ++i) {
    const std::string line = ToUtf8(x.ExtractedInfo()->Strings(i));
    list.push_back(line);
    if (!run.Options().Json) std::cout << line << '\n';
  }
  run.Json()["ExtractedInfo"] = std::move(list);
  return exOk;
}

const CommandRegistrar registrar(420, [](CLI::App& app, RunState& state) {
  auto kind = std::make_shared<std::string>("mailto");
  auto target = std::make_shared<std::string>();
  auto* cmd =
      add_command(app, state, "extract", "List the mail addresses or links of one scheme in a page or file",
                  Offer{.Timeout = 60, .Proxy = true, .CaCert = true},
                  [kind, target](Run& run) { return run_extract(run, *kind, *target); });
  cmd->add_option("--kind", *kind, "The scheme: mailto, http, https, ftp, file, telnet, news, gopher or wais")
      ->check(CLI::IsMember({"mailto", "http", "https", "ftp", "file", "telnet", "news", "gopher", "wais"}))
      ->capture_default_str();
  cmd->add_option("URL_OR_PATH", *target,
                  "http://, https://, ftp:// or file:// URL of the page, or a file path")
      ->required();
  cmd->footer(
      "Prints each address as found, one a line, in text order (duplicates too); an address ends at\n"
      "white space, a quote or one of # % < > [ \\ ] ^ ` { | } ~. --json gives {\"status\", "
      "\"ExtractedInfo\": [...]}.");
  add_examples(*cmd, {"qninet extract http://127.0.0.1:8080/contacts.html",
                      "qninet extract --kind https --json page.html"});
});

const char* kDemoPage =
    "<html><body><h1>Contacts</h1>\n<p><a href=\"mailto:sales@example.test\">Sales</a>,\n"
    "<a href='mailto:help@example.test'>Help</a> and <a href=\"http://example.test/team\">the team</a></p>\n"
    "</body></html>\n";

const DemoRegistrar demo(DemoStep{
    420, "Information extractor: mail addresses of a loopback page", [](std::ostream& out) {
      const auto server = loopback::ServeFile("/contacts.html", kDemoPage, "text/html");
      const loopback::DirectConnections direct;
      TQNInfoExtractor x(nullptr);
      x.SetURL(FromUtf8("http://127.0.0.1:" + std::to_string(server->Port()) + "/contacts.html"));
      x.SetTimeout(5000);
      const bool ok = x.Execute();
      out << "mailto: addresses of http://127.0.0.1:" << server->Port() << "/contacts.html:\n";
      for (int i = 0; i < x.ExtractedInfo()->Count(); ++i)
        out << "  " << ToUtf8(x.ExtractedInfo()->Strings(i)) << '\n';
      return ok && x.ExtractedInfo()->Count() == 2 &&
             x.ExtractedInfo()->Strings(1) == u"mailto:help@example.test";
    }});

}  // namespace
}  // namespace qninet::tool
