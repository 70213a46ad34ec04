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

// Set when --json stands anywhere on the line, so that a usage error is a JSON object too.
bool g_json = false;

/// Usage errors name what was wrong and exit 2, whichever part of the line they are in.
int usage_error(const std::string& where, const std::string& what) {
  std::cerr << "qninet" << (where.empty() ? "" : " " + where) << ": " << what << " (see qninet "
            << (where.empty() ? "" : where + " ") << "--help)\n";
  if (g_json)
    std::cout << nlohmann::ordered_json{{"status", "bad-input"}, {"error", what}}.dump(
                     -1, ' ', false, nlohmann::json::error_handler_t::replace)
              << '\n';
  return qninet::tool::exBadInput;
}

// CLI11's words for a value that is no number, in the program's.
std::string usage_text(const CLI::ParseError& e) {
  const std::string what = e.what();
  if (what.starts_with("Could not convert: ")) {
    const std::string rest = what.substr(19);
    const auto eq = rest.find(" = ");
    if (eq != std::string::npos)
      return rest.substr(0, eq) + ": '" + rest.substr(eq + 3) + "' is not a number";
  }
  return what;
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
      "Exit codes: 0 success; 2 usage or bad input, refused before any connection: an unknown\n"
      "option or sub-command, a bad URL, a missing or unreadable local input (a file to send,\n"
      "parse or attach), an impossible destination (a folder, a missing folder);\n"
      "3 the remote thing does not exist (a name, a file, a page); 1 a failure on the way\n"
      "(network, a server's refusal, a write that fails midway).\n"
      "--gui console|qt (default: $QNINET_GUI, else console) shows prompts and the status\n"
      "window on the terminal or as Qt windows (libQNInetQt).");
  qninet::tool::RunState state;
  qninet::tool::install_commands(app, state);
  qninet::tool::name_option_values(app);
  if (const int code = qninet::tool::write_generated(app, argc, argv); code >= 0) return code;

  std::vector<char*> args(argv, argv + argc);
  if (const int code = choose_gui(args); code >= 0) return code;
  argc = static_cast<int>(args.size());
  args.push_back(nullptr);
  argv = args.data();

  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--") break;
    if (std::string(argv[i]) == "--json") g_json = true;
  }
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
    return usage_error(first[0] == '-' ? "" : first, usage_text(e));
  }
  return state.ExitCode;
}
