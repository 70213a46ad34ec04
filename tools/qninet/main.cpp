// qninet: drives every component of the library from the command line.

#include <csignal>
#include <iostream>

#include "Command.h"
#include "qninet/rtl/SysUtils.h"

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
  qninet::tool::RunState state;
  qninet::tool::install_commands(app, state);
  try {
    app.parse(argc, argv);
  } catch (const CLI::ParseError& e) {
    return app.exit(e);
  } catch (const qninet::Exception& e) {
    std::cerr << "qninet: " << e.what() << '\n';
    return 2;
  } catch (const std::exception& e) {
    std::cerr << "qninet: " << e.what() << '\n';
    return 2;
  }
  return state.ExitCode;
}
