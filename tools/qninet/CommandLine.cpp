// The CLI11 side of the shared options: each sub-command's common options, their value names
// as the help and the manual page show them, the help footers, and the secret options.

#include "Options.h"

#include <iostream>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <utility>

#include "qninet/rtl/Forms.h"

namespace qninet::tool {

namespace {

// Seconds as typed: a decimal number from 0 to 2000000, else exBadInput naming the option.
int read_seconds(Run& run, const char* name, const std::string& text, double& out) {
  if (text.empty()) return exOk;
  std::size_t used = 0;
  double v = -1;
  try {
    v = std::stod(text, &used);
  } catch (const std::logic_error&) {
    used = 0;
  }
  if (used != text.size() || !(v >= 0 && v <= 2000000))
    return run.Fail(exBadInput, "",
                    std::string(name) + ": '" + text + "' is not a number of seconds (0 to 2000000)");
  out = v;
  return exOk;
}

}  // namespace

CLI::App* add_command(CLI::App& app, RunState& state, const std::string& name, const std::string& description,
                      const Offer& offer, RunBody body) {
  auto* cmd = app.add_subcommand(name, description);
  auto o = std::make_shared<CommonOptions>();
  if (offer.Host) {
    cmd->add_option(
        offer.HostNames, o->Host,
        std::string("Server: NAME, ADDRESS, HOST:PORT or [v6]:PORT (default ") + offer.Host + ")");
    cmd->add_option("--port", o->Port, "Port; overrides one given with --host")
        ->check(CLI::Range(1, 65535).description(""));
  }
  if (offer.Timeout >= 0) {
    std::ostringstream help;
    help << "Seconds that connecting and each wait for data may take, decimals allowed (default "
         << offer.Timeout << "; 0: no limit)";
    cmd->add_option("--timeout", o->TimeoutText, help.str());
    cmd->add_option("--max-time", o->MaxTimeText,
                    "Seconds that the whole exchange may take, decimals allowed (rounded up to whole "
                    "seconds; default 0: no limit)");
  }
  if (offer.Proxy) {
    cmd->add_option("--proxy", o->Proxy, "Connect through this proxy, HOST:PORT ([v6]:PORT for IPv6)");
    cmd->add_option("--proxy-user", o->ProxyUser, "Credentials for the proxy, USER[:PASSWORD]");
  }
  if (offer.CaCert)
    cmd->add_option("--cacert", o->CaCert, "One more CA file to trust for TLS (as QNINET_CA_FILE)");
  if (offer.OAuthToken) {
    auto* token =
        cmd->add_option("--oauth-token", o->OAuthToken, "An OAuth 2.0 bearer token (XOAUTH2, OAUTHBEARER)");
    cmd->add_option("--oauth-token-file", o->OAuthTokenFile,
                    "Read the bearer token from the first line of FILE (keeps it out of the process list)")
        ->excludes(token);
  }
  cmd->add_flag("-v,--verbose", o->Verbose,
                "Show the exchange on standard error as curl -v does: the endpoint, the lines sent (> ) "
                "and received (< ), TLS, redirects; passwords masked");
  cmd->add_flag("-q,--quiet", o->Quiet, "Print no error messages (the exit code still tells)");
  cmd->add_flag("--json", o->Json, "Print one JSON object with \"status\" and the results");
  cmd->callback([&state, name, o, body = std::move(body)] {
    // Messages the library shows in a window name the sub-command on the console.
    Application().SetTitle(FromUtf8("qninet " + name));
    Run run(name, *o);
    int code = read_seconds(run, "--timeout", o->TimeoutText, o->Timeout);
    if (code == exOk) code = read_seconds(run, "--max-time", o->MaxTimeText, o->MaxTime);
    try {
      if (code == exOk) code = body(run);
    } catch (const std::exception& e) {
      code = run.Fail(exFailed, "", e.what());
    }
    std::cout.flush();
    state.ExitCode = run.Finish(code);
  });
  return cmd;
}

void set_help_footer(CLI::App& cmd, const std::string& text, std::initializer_list<const char*> examples) {
  std::string footer = text;
  if (!footer.empty() && footer.back() != '\n') footer += '\n';
  footer += examples.size() == 1 ? "Example:\n" : "Examples:\n";
  for (const char* e : examples) footer += std::string("  ") + e + '\n';
  footer.pop_back();
  cmd.footer(footer);
}

void add_examples(CLI::App& cmd, std::initializer_list<const char*> examples) {
  set_help_footer(cmd, cmd.get_footer(), examples);
}

void name_option_values(CLI::App& app) {
  // The value's name by the option's long name; numbers by their type.
  static const std::pair<const char*, const char*> kByName[] = {{"--host", "HOST"},
                                                                {"--proxy", "HOST:PORT"},
                                                                {"--proxy-user", "USER[:PASSWORD]"},
                                                                {"--timeout", "SECONDS"},
                                                                {"--max-time", "SECONDS"},
                                                                {"--interval", "SECONDS"},
                                                                {"--cacert", "FILE"},
                                                                {"--output", "FILE"},
                                                                {"--body-file", "FILE"},
                                                                {"--attach", "FILE[:TYPE[:ENCODING]]"},
                                                                {"--data", "TEXT|@FILE"},
                                                                {"--header", "'NAME: VALUE'"},
                                                                {"--user", "USER"},
                                                                {"--password", "PASSWORD"},
                                                                {"--oauth-token", "TOKEN"},
                                                                {"--oauth-token-file", "FILE"},
                                                                {"--base", "URL"},
                                                                {"--signature-url", "URL"},
                                                                {"--sha256", "HEX"},
                                                                {"--minisign-key", "KEY"},
                                                                {"--from", "ADDR"},
                                                                {"--to", "LIST"},
                                                                {"--cc", "LIST"},
                                                                {"--bcc", "LIST"},
                                                                {"--reply-to", "LIST"},
                                                                {"--wildcard", "PATTERN"}};
  for (CLI::App* cmd : app.get_subcommands({})) {
    for (CLI::Option* opt : cmd->get_options()) {
      if (opt->get_type_size() == 0) continue;  // a flag
      std::string value;
      const std::string lname = opt->get_lnames().empty() ? "" : "--" + opt->get_lnames().front();
      for (const auto& [n, v] : kByName)
        if (lname == n) value = v;
      // The translator's --from and --to are language codes, not addresses.
      if ((value == "LIST" || value == "ADDR") && cmd->get_name() != "mail") value = "CODE";
      if (value.empty() && lname.ends_with("-file")) value = "FILE";
      if (opt->get_positional()) {
        opt->type_name("");  // a positional's name says what it is
        continue;
      }
      if (value.empty()) {
        const std::string type = opt->get_type_name();
        value = type.starts_with("INT") ? "N" : type.starts_with("FLOAT") ? "NUMBER" : "";
      }
      if (!value.empty()) opt->type_name(value);
      // A range reads "INT in [1 - 5]" after the name; the help text gives the bounds in words.
      for (int i = 0;; ++i) {
        CLI::Validator* v = nullptr;
        try {
          v = opt->get_validator(i);
        } catch (const CLI::OptionNotFound&) {
          break;
        }
        if (v->get_description().find(" in [") != std::string::npos) v->description("");
      }
    }
  }
}

void add_secret_option(CLI::App& cmd, const std::string& name, const std::string& what, SecretOption& o) {
  auto* value = cmd.add_option("--" + name, o.Value, what);
  cmd.add_option("--" + name + "-file", o.File, what + ", read from the first line of this file")
      ->excludes(value);
}

}  // namespace qninet::tool
