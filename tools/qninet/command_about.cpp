// `qninet about`: the package's about box; on the console its text goes to standard output.

#include <iostream>

#include "Command.h"
#include "qninet/core/QNInAbout.h"
#include "qninet/rtl/GuiConsole.h"

namespace qninet::tool {
namespace {

const CommandRegistrar registrar(900, [](CLI::App& app, RunState& state) {
  CLI::App* cmd = app.add_subcommand("about", "Show the about box: every component and what it does");
  cmd->callback([&state] {
    if (&gui::Services() == &gui::console_services())
      std::cout << ToUtf8(AboutQNInetText()) << '\n';
    else
      AboutQNInet();
    state.ExitCode = 0;
  });
});

}  // namespace
}  // namespace qninet::tool
