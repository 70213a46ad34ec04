// `qninet about`: the package's about box; on the console its text goes to standard output.

#include <iostream>

#include "Options.h"
#include "qninet/design/QNInAbout.h"
#include "qninet/rtl/GuiConsole.h"

namespace qninet::tool {
namespace {

const CommandRegistrar registrar(900, [](CLI::App& app, RunState& state) {
  auto* cmd = add_command(app, state, "about", "Show the about box: every component and what it does",
                          Offer{}, [](Run& run) {
                            if (run.Options().Json)
                              run.Json()["Text"] = ToUtf8(AboutQNInetText());
                            else if (&gui::Services() == &gui::console_services())
                              std::cout << ToUtf8(AboutQNInetText()) << '\n';
                            else
                              AboutQNInet();
                            return exOk;
                          });
  set_help_footer(*cmd,
                  "Prints the about box's text: the package, its version and one line per component;\n"
                  "with --gui qt it shows as a window. --json gives {\"status\", \"Text\"}.",
                  {"qninet about", "qninet about --gui qt"});
});

}  // namespace
}  // namespace qninet::tool
