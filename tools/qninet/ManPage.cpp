// qninet(1), written from the same CLI::App tree and formatter that print `--help`.

#include "ManPage.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

namespace qninet::tool {

namespace {

/// The formatter `--help` uses, so that value names and defaults read as there.
std::shared_ptr<CLI::Formatter> formatter_of(const CLI::App& app) {
  auto f = std::dynamic_pointer_cast<CLI::Formatter>(app.get_formatter());
  return f ? f : std::make_shared<CLI::Formatter>();
}

/// One line of text as roff input: backslashes and hyphens escaped, characters beyond ASCII as
/// \[uXXXX] (groff reads its input as Latin-1), and a line that would start with a request
/// character kept as text.
std::string roff_line(const std::string& line) {
  std::string out;
  if (!line.empty() && (line[0] == '.' || line[0] == '\'')) out = "\\&";
  for (std::size_t i = 0; i < line.size(); ++i) {
    const auto c = static_cast<unsigned char>(line[i]);
    if (c == '\\') {
      out += "\\e";
    } else if (c == '-') {
      out += "\\-";
    } else if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      // A UTF-8 sequence: its code point; a stray byte reads as Latin-1.
      int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
      unsigned code = c;
      if (extra == 0 || i + static_cast<std::size_t>(extra) >= line.size()) {
        extra = 0;
      } else {
        code = extra == 3 ? c & 0x07u : extra == 2 ? c & 0x0Fu : c & 0x1Fu;
        for (int k = 1; k <= extra; ++k) code = code << 6 | (static_cast<unsigned char>(line[i + k]) & 0x3Fu);
      }
      i += static_cast<std::size_t>(extra);
      char hex[16];
      std::snprintf(hex, sizeof hex, "\\[u%04X]", code);
      out += hex;
    }
  }
  return out;
}

/// A block of text (a description or a footer): its lines as filled text, a blank line as a
/// new paragraph; a line that starts with blanks (an example) starts a line of its own.
void write_text(std::ostream& out, const std::string& text) {
  std::istringstream lines(text);
  bool paragraph = false;
  for (std::string line; std::getline(lines, line);) {
    while (!line.empty() && line.back() == ' ') line.pop_back();
    if (line.empty()) {
      paragraph = true;
      continue;
    }
    if (paragraph) out << ".PP\n";
    paragraph = false;
    if (line[0] == ' ') {
      const auto text_start = line.find_first_not_of(' ');
      out << ".br\n\\h'" << text_start << "n'" << roff_line(line.substr(text_start)) << "\n";
    } else {
      out << roff_line(line) << "\n";
    }
  }
}

/// "-o,--output" as "-o, --output".
std::string spaced(const std::string& names) {
  std::string out;
  for (char c : names) out += c == ',' ? std::string(", ") : std::string(1, c);
  return out;
}

void write_options(std::ostream& out, CLI::App& app) {
  const auto f = formatter_of(app);
  // The positionals first, as --help lists them.
  auto options = listed_options(app);
  std::stable_partition(options.begin(), options.end(), [](CLI::Option* o) { return !o->nonpositional(); });
  for (CLI::Option* o : options) {
    const bool positional = !o->nonpositional();
    out << ".TP\n";
    if (positional)
      out << "\\fI" << roff_line(f->make_option_name(o, true)) << "\\fR\n";
    else
      out << "\\fB" << roff_line(spaced(f->make_option_name(o, false))) << "\\fR"
          << roff_line(f->make_option_opts(o)) << "\n";
    write_text(out, f->make_option_desc(o));
  }
}

std::string synopsis(CLI::App& sub) {
  const auto f = formatter_of(sub);
  std::string line = sub.get_parent() ? sub.get_parent()->get_name() + " " + sub.get_name() : sub.get_name();
  bool options = false;
  std::string positionals;
  for (CLI::Option* o : listed_options(sub)) {
    if (o->nonpositional())
      options = true;
    else
      positionals += " " + f->make_option_usage(o);
  }
  return line + (options ? " [OPTIONS]" : "") + positionals;
}

}  // namespace

std::vector<CLI::App*> listed_commands(CLI::App& app) {
  return app.get_subcommands(
      [](CLI::App* s) { return !s->get_name().empty() && !s->get_group().empty() && !s->get_disabled(); });
}

std::vector<CLI::Option*> listed_options(CLI::App& app) {
  return app.get_options([](CLI::Option* o) { return !o->get_group().empty(); });
}

bool takes_value(const CLI::Option& option) {
  return option.get_expected_max() != 0 && option.get_type_size_max() != 0;
}

bool takes_file(const CLI::Option& option) {
  if (!takes_value(option)) return false;
  // What --help shows for the value: the value name, or a positional's own name.
  const std::string shown = option.get_option_text() + " " + option.get_type_name() + " " +
                            (option.nonpositional() ? "" : option.get_name());
  for (const char* word : {"FILE", "PATH", "DIR", "FOLDER"})
    if (shown.find(word) != std::string::npos) return true;
  for (const std::string& name : option.get_lnames())
    if (name == "output" || name.ends_with("-file") || name.ends_with("-dir")) return true;
  return false;
}

void write_man_page(CLI::App& app, std::ostream& out) {
  const std::string name = app.get_name();
  std::string upper = name;
  for (char& c : upper) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  // The description's first line is the NAME line ("qninet - what it is"), the rest prose.
  const std::string description = app.get_description();
  const auto cut = description.find('\n');
  std::string summary = description.substr(0, cut);
  const std::string lead = name + " - ";
  if (summary.starts_with(lead)) summary.erase(0, lead.size());
  while (!summary.empty() && summary.back() == '.') summary.pop_back();

  out << ".\\\" Written by `" << name << " --man-page` from the option tables that --help prints.\n"
      << ".TH " << upper << " 1 \"\" \"" << roff_line(name + " " + QNINET_VERSION) << "\" \"User Commands\"\n"
      << ".SH NAME\n"
      << roff_line(name) << " \\- " << roff_line(summary) << "\n"
      << ".SH SYNOPSIS\n"
      << ".B " << roff_line(name) << "\n"
      << ".RI [ OPTIONS ]\n"
      << ".I SUB\\-COMMAND\n"
      << ".RI [ OPTIONS ] \" \" [ ARGUMENTS ]\n"
      << ".SH DESCRIPTION\n";
  if (cut != std::string::npos) write_text(out, description.substr(cut + 1));
  if (!app.get_footer().empty()) {
    out << ".PP\n";
    write_text(out, app.get_footer());
  }
  out << ".SH OPTIONS\n";
  write_options(out, app);
  out << ".SH SUB-COMMANDS\n";
  for (CLI::App* sub : listed_commands(app)) {
    out << ".SS \"" << roff_line(synopsis(*sub)) << "\"\n";
    write_text(out, sub->get_description());
    if (!listed_options(*sub).empty()) {
      out << ".PP\n";
      write_options(out, *sub);
    }
    // A sub-command without a footer of its own repeats the program's, written above.
    if (!sub->get_footer().empty() && sub->get_footer() != app.get_footer()) {
      out << ".PP\n";
      write_text(out, sub->get_footer());
    }
  }
}

int write_generated(CLI::App& app, int argc, char** argv) {
  if (argc < 2 || argc > 3) return -1;
  void (*writer)(CLI::App&, std::ostream&) = nullptr;
  if (std::strcmp(argv[1], "--man-page") == 0) writer = write_man_page;
  if (std::strcmp(argv[1], "--bash-completion") == 0) writer = write_bash_completion;
  if (!writer) return -1;
  std::ostringstream text;
  writer(app, text);
  if (argc == 2) {
    std::cout << text.str() << std::flush;
    return std::cout ? 0 : 1;
  }
  std::ofstream file(argv[2], std::ios::binary | std::ios::trunc);
  file << text.str();
  file.close();
  if (file) return 0;
  std::cerr << app.get_name() << ": cannot write " << argv[2] << "\n";
  return 1;
}

}  // namespace qninet::tool
