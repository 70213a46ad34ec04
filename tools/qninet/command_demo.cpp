// `qninet demo`: a tour of the components against loopback servers the steps start themselves.

#include <iostream>

#include "Command.h"

namespace qninet::tool {
namespace {

int run_demo(const std::string& only) {
  int failed = 0, ran = 0;
  std::cout << "QNInet demo: every step talks to servers on this machine only.\n";
  for (const auto& step : demo_steps()) {
    if (!only.empty() && step.Title.find(only) == std::string::npos) continue;
    ++ran;
    std::cout << "\n== " << step.Title << " ==\n";
    bool ok = false;
    try {
      ok = step.Run(std::cout);
    } catch (const std::exception& e) {
      std::cout << "error: " << e.what() << '\n';
    }
    std::cout << (ok ? "-> ok\n" : "-> FAILED\n");
    if (!ok) ++failed;
  }
  std::cout << "\n" << ran - failed << " passed, " << failed << " failed\n";
  return failed == 0 ? 0 : 1;
}

const CommandRegistrar registrar(1000, [](CLI::App& app, RunState& state) {
  auto* cmd = app.add_subcommand("demo", "Tour the components against loopback servers (no internet)");
  auto only = std::make_shared<std::string>();
  cmd->add_option("--only", *only, "Run only the steps whose title contains this text");
  cmd->callback([&state, only] { state.ExitCode = run_demo(*only); });
});

}  // namespace
}  // namespace qninet::tool
