#pragma once
// The manual page and the bash completion are written from the CLI::App tree that `--help`
// prints, so the three never disagree. The build runs the two hidden options below.

#include <iosfwd>
#include <string>
#include <vector>

#include <CLI/CLI.hpp>

namespace qninet::tool {

/// Writes qninet(1) in man(7) markup: the program's description, options and footer, then a
/// section for each sub-command with its usage, options and footer.
void write_man_page(CLI::App& app, std::ostream& out);
/// Writes a bash completion script for the program: sub-commands, options, and the values of
/// options that take a fixed set of words or a file.
void write_bash_completion(CLI::App& app, std::ostream& out);

/// The build's hook: `qninet --man-page [FILE]` and `qninet --bash-completion [FILE]` (hidden
/// from the help) write their text to FILE or standard output. Returns the exit code, or -1
/// when the line asks for neither.
int write_generated(CLI::App& app, int argc, char** argv);

/// The sub-commands `--help` lists, in its order.
std::vector<CLI::App*> listed_commands(CLI::App& app);
/// The options and positionals `--help` lists for `app`.
std::vector<CLI::Option*> listed_options(CLI::App& app);
/// Whether an option takes a value (a flag takes none).
bool takes_value(const CLI::Option& option);
/// Whether an option's value is a local file or folder, as its value name or a positional's
/// name says (FILE, URL_OR_PATH, DIR...) or its long name (`--output`, `--body-file`).
bool takes_file(const CLI::Option& option);

}  // namespace qninet::tool
