// qninet: drives every component of the library from the command line.

#include <csignal>
#include <cstdlib>
#include <iostream>
#include <string>
#include <vector>

#include "Command.h"
#include "ManPage.h"
#include "Options.h"
#include "qninet/rtl/Forms.h"

namespace {

/// Usage errors name what was wrong and exit 2, whichever part of the line they are in.
int usage_error(const std::string& where, const std::string& what) {
  std::cerr << "qninet" << (where.empty() ? "" : " " + where) << ": " << what << " (see qninet "
            << (where.empty() ? "" : where + " ") << "--help)\n";
  return qninet::tool::exBadInput;
}

// Takes `--gui console|qt` (or `--gui=...`) out of the arguments, wherever it stands, and picks
// the backend; QNINET_GUI gives the default. Returns an exit code, or -1 to go on.
int choose_gui(std::vector<char*>& args) {
  const char* env = std::getenv("QNINET_GUI");
  std::string gui = env ? env : "";
  bool given = false;
  for (std::size_t i = 1; i < args.size(); ++i) {
    const std::string a = args[i];
    if (a == "--") break;
    if (a != "--gui" && !a.starts_with("--gui=")) continue;
    if (a == "--gui") {
      if (i + 1 >= args.size()) return usage_error("", "--gui needs a value: console or qt");
      gui = args[i + 1];
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i),
                 args.begin() + static_cast<std::ptrdiff_t>(i) + 2);
    } else {
      gui = a.substr(6);
      args.erase(args.begin() + static_cast<std::ptrdiff_t>(i));
    }
    given = true;
    --i;
  }
  // The choice is made here, so the library does not read QNINET_GUI again.
  if (gui.empty() || gui == "console") {
    qninet::gui::SetServices(nullptr);
    return -1;
  }
  if (gui != "qt") return usage_error("", "unknown --gui '" + gui + "' (console or qt)");
  // The Qt windows come from libQNInetQt, which the library loads at run time: the program
  // runs where Qt is not installed, and only `--gui qt` (or QNINET_GUI=qt) needs it.
  const std::string why = qninet::ToUtf8(qninet::gui::LoadQtBackend());
  if (why.empty()) return -1;
  // Asked on the command line, it is an error; from the environment, the console serves.
  if (given) {
    std::cerr << "qninet: the Qt windows are not available: " << why << "\n";
    return qninet::tool::exBadInput;
  }
  std::cerr << "qninet: QNINET_GUI=qt ignored: " << why << "\n";
  qninet::gui::SetServices(nullptr);
  return -1;
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
      "3 the remote thing does not exist.\n"
      "--gui console|qt (default: $QNINET_GUI, else console) shows prompts and the status\n"
      "window on the terminal or as Qt windows (libQNInetQt).");
  qninet::tool::RunState state;
  qninet::tool::install_commands(app, state);
  if (const int code = qninet::tool::write_generated(app, argc, argv); code >= 0) return code;

  std::vector<char*> args(argv, argv + argc);
  if (const int code = choose_gui(args); code >= 0) return code;
  argc = static_cast<int>(args.size());
  args.push_back(nullptr);
  argv = args.data();

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
