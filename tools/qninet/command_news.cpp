// `qninet news`: the news browser. It fetches a news file (sections of "link=headline" lines),
// keeps the previous copy beside it, and shows the tree with the new entries marked.

#include <filesystem>
#include <iostream>
#include <map>
#include <memory>

#include "WebContentRun.h"
#include "qninet/rtl/GuiConsole.h"
#include "qninet/web/qnidirect.h"

namespace qninet::tool {
namespace {

struct NewsArgs {
  std::string Target;
  std::string Show = "always";
};

const std::map<std::string, TQNIShowMode> kShowModes = {
    {"always", omAlways}, {"never", omNever}, {"changed", omIfChanged}};

int run_news(Run& run, const NewsArgs& args) {
  const auto mode = kShowModes.find(args.Show);
  if (mode == kShowModes.end())
    return run.Fail(exBadInput, "", "--show must be always, never or changed, not '" + args.Show + "'");
  TQNWebDirect news(nullptr);
  if (const int code = configure_web(run, news, args.Target)) return code;
  // On the console the window is printed on standard output, where --json writes its object.
  const bool console = &gui::Services() == &gui::console_services();
  news.SetShowMode(run.Options().Json && console ? omNever : mode->second);
  if (const int code = execute_web(run, news, args.Target)) return code;
  report_news(run, news);
  return exOk;
}

}  // namespace

void report_news(Run& run, const TQNWebDirect& news) {
  const String previousFile = news.PreviousFileName();
  const bool hasPrevious = std::filesystem::exists(ToUtf8(previousFile));
  const auto previous = hasPrevious ? ReadNewsFile(previousFile) : TQNINewsFile{};
  const TQNINewsSeen seen(hasPrevious ? &previous : nullptr);
  int entries = 0, fresh = 0;
  auto sections = nlohmann::ordered_json::array();
  const auto current = ReadNewsFile(news.LocalFileName());
  for (const TQNINewsSection& s : current) {
    auto list = nlohmann::ordered_json::array();
    for (const TQNINewsEntry& e : s.Entries) {
      const bool isNew = seen.IsNew(s.Name, e.Key);
      ++entries;
      fresh += isNew;
      list.push_back({{"Key", ToUtf8(e.Key)}, {"Text", ToUtf8(e.Value)}, {"New", isNew}});
    }
    sections.push_back({{"Name", ToUtf8(s.Name)}, {"Entries", std::move(list)}});
  }
  run.Json()["file"] = ToUtf8(news.LocalFileName());
  run.Json()["sections"] = std::move(sections);
  if (!run.Options().Json && !run.Options().Quiet)
    std::cout << ToUtf8(news.LocalFileName()) << ": " << current.size() << " sections, " << entries
              << " entries, " << fresh << " new" << std::endl;
}

namespace {

const CommandRegistrar registrar(440, [](CLI::App& app, RunState& state) {
  auto args = std::make_shared<NewsArgs>();
  auto* cmd =
      add_command(app, state, "news", "Fetch a news file and show its tree with the new entries marked",
                  Offer{nullptr, 60, true}, [args](Run& run) { return run_news(run, *args); });
  cmd->add_option("URL_OR_PATH", args->Target,
                  "http://, https://, ftp:// or file:// URL of the news file (.nwf), or a file path")
      ->required();
  cmd->add_option("--show", args->Show,
                  "always, never, or changed (only when a new file came); default always");
  cmd->footer(
      "The news file goes beside the program when its folder is writable, else under\n"
      "$XDG_DATA_HOME/qninet (default ~/.local/share/qninet), with the previous copy as qninet.~nwf.\n"
      "On the console the window is printed: sections, then their entries, new ones marked \"*\"; the\n"
      "last line says \"FILE: S sections, E entries, N new\". --json gives {\"status\", \"file\",\n"
      "\"sections\": [{Name, Entries: [{Key, Text, New}]}]}. With --gui qt a click opens the entry's link.");
  add_examples(
      *cmd, {"qninet news http://127.0.0.1:8080/qninet.nwf", "qninet news --show changed --json news.nwf"});
});

}  // namespace
}  // namespace qninet::tool
