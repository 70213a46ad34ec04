#include "Command.h"

#include <algorithm>
#include <vector>

namespace qninet::tool {

namespace {

struct Entry {
  int Order;
  CommandInstaller Installer;
};

std::vector<Entry>& commands() {
  static std::vector<Entry> list;
  return list;
}

std::vector<DemoStep>& steps() {
  static std::vector<DemoStep> list;
  return list;
}

}  // namespace

CommandRegistrar::CommandRegistrar(int order, CommandInstaller installer) {
  commands().push_back({order, std::move(installer)});
}

DemoRegistrar::DemoRegistrar(DemoStep step) { steps().push_back(std::move(step)); }

void install_commands(CLI::App& app, RunState& state) {
  auto& list = commands();
  std::stable_sort(list.begin(), list.end(),
                   [](const Entry& a, const Entry& b) { return a.Order < b.Order; });
  for (auto& e : list) e.Installer(app, state);
}

const std::vector<DemoStep>& demo_steps() {
  auto& list = steps();
  std::stable_sort(list.begin(), list.end(),
                   [](const DemoStep& a, const DemoStep& b) { return a.Order < b.Order; });
  return list;
}

}  // namespace qninet::tool
