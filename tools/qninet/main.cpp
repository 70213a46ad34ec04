// qninet: drives every component of the library from the command line.

#include <csignal>
#include <iostream>

#include "Command.h"
#include "Options.h"

namespace {

/// Usage errors name what was wrong and exit 2, whichever part of the line they are in.
int usage_error(const std::string& where, const std::string& what) {
  std::cerr << "qninet" << (where.empty() ? "" : " " + where) << ": " << what << " (see qninet "
            << (where.empty() ? "" : where + " ") << "--help)\n";
  return qninet::tool::exBadInput;
}

}  // namespace

int main(int argc, char** argv) {
  // A peer that closes early must give an error result, not end the program.
  std::signal(SIGPIPE, SIG_IGN);
  CLI::App app{
      "qninet - internet client components from the command line.\n"
      "Every sub-command wraps one component; `qninet demo` tours them against\n"
      "loopback servers of its own, with no internet.",
      "qninet"};
  app.set_version_flag("-V,--version", std::string("qninet ") + QNINET_VERSION);
  app.require_subcommand(1);
  app.fallthrough(false);
  app.footer(
      "Every sub-command takes -q/--quiet and --json; those that talk to a server take --host,\n"
      "--port, --timeout SECONDS (0: no limit) and -v/--verbose, and --proxy HOST:PORT with\n"
      "--proxy-user USER[:PASSWORD] where the component has a proxy.\n"
      "Exit codes: 0 success; 1 the operation failed (network, protocol, a server's refusal);\n"
      "2 usage or bad input (unknown option or sub-command, bad URL, missing local file);\n"
      "3 the remote thing does not exist.");
  qninet::tool::RunState state;
  qninet::tool::install_commands(app, state);

  const std::string first = argc > 1 ? argv[1] : "";
  if (first.empty()) return usage_error("", "a sub-command is required");
  if (first[0] == '-') {
    if (first != "-h" && first != "--help" && first != "-V" && first != "--version")
      return usage_error("", "unknown option '" + first + "'");
  } else {
    try {
      app.get_subcommand(first);
    } catch (const CLI::OptionNotFound&) {
      return usage_error("", "unknown sub-command '" + first + "'");
    }
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    return usage_error(first[0] == '-' ? "" : first, e.what());
  }
  return state.ExitCode;
}
