#pragma once
// Sub-commands and demo steps register themselves here from their own files.

#include <functional>
#include <iosfwd>
#include <string>

#include <CLI/CLI.hpp>

namespace qninet::tool {

/// What a sub-command's callback hands back to `main`.
struct RunState {
  int ExitCode = 0;
};

using CommandInstaller = std::function<void(CLI::App& app, RunState& state)>;

/// Adds a sub-command; `order` sorts `--help`'s list.
struct CommandRegistrar {
  CommandRegistrar(int order, CommandInstaller installer);
};

/// One step of `qninet demo`: it runs against loopback servers of its own and returns whether
/// it showed what it should. `out` is where it tells the user what happens.
struct DemoStep {
  int Order;
  std::string Title;
  std::function<bool(std::ostream& out)> Run;
};

struct DemoRegistrar {
  explicit DemoRegistrar(DemoStep step);
};

void install_commands(CLI::App& app, RunState& state);
const std::vector<DemoStep>& demo_steps();

}  // namespace qninet::tool
