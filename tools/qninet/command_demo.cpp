// `qninet demo`: a tour of the components against loopback servers the steps start themselves.

#include <cctype>
#include <iostream>
#include <sstream>

#include "Options.h"
#include "qninet/core/QNILogOn.h"
#include "qninet/core/qniutil.h"
#include "qninet/rtl/Strings.h"

namespace qninet::tool {
namespace {

std::string lower(std::string s) { return ToUtf8(LowerCase(FromUtf8(s))); }

int list_steps(Run& run) {
  auto titles = nlohmann::ordered_json::array();
  for (const auto& step : demo_steps()) {
    titles.push_back(step.Title);
    if (!run.Options().Json) std::cout << step.Title << '\n';
  }
  run.Json()["Steps"] = titles;
  return exOk;
}

int run_demo(Run& run, const std::string& only, bool list) {
  if (list) return list_steps(run);
  int failed = 0, ran = 0;
  std::ostringstream quiet;  // with --json the steps' stories are not shown
  std::ostream& out = run.Options().Json ? quiet : std::cout;
  auto steps = nlohmann::ordered_json::array();
  out << "QNInet demo: every step talks to servers on this machine only.\n";
  for (const auto& step : demo_steps()) {
    if (!only.empty() && lower(step.Title).find(lower(only)) == std::string::npos) continue;
    ++ran;
    out << "\n== " << step.Title << " ==\n";
    bool ok = false;
    try {
      ok = step.Run(out);
    } catch (const std::exception& e) {
      out << "error: " << e.what() << '\n';
    }
    out << (ok ? "-> ok\n" : "-> FAILED\n");
    if (!ok) ++failed;
    steps.push_back({{"Title", step.Title}, {"Passed", ok}});
  }
  out << "\n" << ran - failed << " passed, " << failed << " failed\n";
  run.Json()["Steps"] = steps;
  if (ran == 0) return run.Fail(exBadInput, "", "no step title contains \"" + only + "\"");
  return failed == 0 ? exOk : run.Fail(exFailed, "", std::to_string(failed) + " step(s) failed");
}

// The framework under everything else: text decoding, entities, Base64, string lists, and the
// logon prompt, which answers Cancel at once when there is no terminal to ask on.
bool demo_framework(std::ostream& out) {
  String utf8;
  for (unsigned char c : std::string("gr\xC3\xBC\xC3\x9F \xF0\x9F\x8C\x8D")) utf8.push_back(c);
  const String decoded = Utf8Decode(utf8);
  out << "Utf8Decode: " << utf8.size() << " byte-characters -> \"" << ToUtf8(decoded) << "\" ("
      << decoded.size() << " UTF-16 units)\n";
  String page = u"20&deg; &plusmn;1 &amp;lt; stays escaped &lt;b&gt;";
  ReplaceHTMLChars(page);
  out << "ReplaceHTMLChars: " << ToUtf8(page) << "\n";
  out << "Encode64(\"user:pass\"): " << ToUtf8(Encode64(u"user:pass")) << "\n";
  TStringList list;
  list.SetText(u"Host=whois.example\r\nPort=43\nProtocol=WHOIS");
  out << "TStringList: " << list.Count() << " lines, Values[Port] = " << ToUtf8(list.Values(u"Port")) << "\n";
  return decoded == u"gr\u00FC\u00DF \U0001F30D" && page == u"20\u00B0 +1 &lt; stays escaped <b>" &&
         list.Values(u"Port") == u"43";
}

const DemoRegistrar framework_step(DemoStep{10, "Framework and text utilities", demo_framework});

const CommandRegistrar registrar(1000, [](CLI::App& app, RunState& state) {
  auto only = std::make_shared<std::string>();
  auto list = std::make_shared<bool>(false);
  auto* cmd = add_command(app, state, "demo", "Tour the components against loopback servers (no internet)",
                          Offer{}, [only, list](Run& run) { return run_demo(run, *only, *list); });
  cmd->add_option("--only", *only, "Run only the steps whose title contains this text (case ignored)");
  cmd->add_flag("--list", *list, "List the steps' titles, one a line, and run none");
  set_help_footer(
      *cmd,
      "Each step starts a small server of its own on loopback, runs one component against it and\n"
      "says what happened; the last line counts the steps that showed what they should. Exit 0\n"
      "when all did, 1 otherwise. --json gives {\"status\", \"Steps\": [{Title, Passed}]}.",
      {"qninet demo", "qninet demo --only whois"});
});

}  // namespace
}  // namespace qninet::tool
