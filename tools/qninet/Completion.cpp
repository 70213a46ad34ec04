// The bash completion script, written from the CLI::App tree that prints `--help`: the words it
// offers are the sub-commands, their options, the sets of values their validators accept, and
// files where a value names one.

#include <functional>
#include <map>
#include <ostream>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "ManPage.h"
#include "qninet/rtl/Strings.h"
#include "qninet/socket/QNIDNS.h"

namespace qninet::tool {

namespace {

/// The record types `dns --type` takes, as the library names them: the sub-command checks the
/// names itself (DNSRequestFromName), so no CLI11 validator lists them.
std::vector<std::string> dns_types() {
  std::vector<std::string> names;
  const auto count = EnumInfoOf(static_cast<TQNIDNSRequest*>(nullptr)).Values.size();
  for (std::size_t r = 0; r < count; ++r)
    names.push_back(ToUtf8(DNSTypeName(DNSRequestTypeCode(static_cast<TQNIDNSRequest>(r)))));
  return names;
}

/// Values that the sub-command checks by itself, keyed by "SUB --option"; such an option takes
/// a comma-separated list.
const std::map<std::string, std::function<std::vector<std::string>()>>& value_hooks() {
  static const std::map<std::string, std::function<std::vector<std::string>()>> hooks{
      {"dns --type", dns_types}};
  return hooks;
}

/// The words of the first set a validator describes: CLI::IsMember gives "{a,b,c}",
/// CLI::CheckedTransformer "value in {a->1,b->2} OR {1,2}" (the names before "->").
std::vector<std::string> validator_words(CLI::Option& option) {
  std::vector<std::string> words;
  for (int i = 0;; ++i) {
    std::string text;
    try {
      text = option.get_validator(i)->get_description();
    } catch (const CLI::OptionNotFound&) {
      break;  // past the last validator
    }
    const auto open = text.find('{');
    const auto close = text.find('}', open);
    if (open == std::string::npos || close == std::string::npos) continue;
    std::string item;
    const std::string set = text.substr(open + 1, close - open - 1) + ",";
    for (char c : set) {
      if (c != ',') {
        item += c;
        continue;
      }
      if (const auto arrow = item.find("->"); arrow != std::string::npos) item.erase(arrow);
      if (!item.empty()) words.push_back(item);
      item.clear();
    }
    if (!words.empty()) break;
  }
  return words;
}

/// Words for a bash single-quoted string.
std::string quoted(const std::vector<std::string>& words) {
  std::string out = "'";
  for (const auto& w : words) {
    if (out.size() > 1) out += ' ';
    for (char c : w) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  }
  return out + "'";
}

std::vector<std::string> option_names(const CLI::Option& o) {
  std::vector<std::string> names;
  for (const auto& s : o.get_snames()) names.push_back("-" + s);
  for (const auto& l : o.get_lnames()) names.push_back("--" + l);
  return names;
}

std::string joined(const std::vector<std::string>& names, const char* between) {
  std::string out;
  for (const auto& n : names) out += (out.empty() ? "" : between) + n;
  return out;
}

/// The case arms of one command: what follows an option that takes a value, then the options
/// or the positional's values.
void write_command(std::ostream& out, CLI::App& cmd, const std::string& key) {
  std::vector<std::string> options;
  std::string positional = "none";
  std::vector<std::string> positional_words;
  out << "        case $prev in\n";
  for (CLI::Option* o : listed_options(cmd)) {
    if (!o->nonpositional()) {
      if (takes_file(*o)) positional = "files";
      if (auto words = validator_words(*o); !words.empty()) {
        positional = "words";
        positional_words = words;
      }
      continue;
    }
    const auto names = option_names(*o);
    options.insert(options.end(), names.begin(), names.end());
    if (!takes_value(*o)) continue;  // a flag
    out << "            " << joined(names, "|") << ") ";
    const auto hook = value_hooks().find(key + " " + o->get_name());
    if (hook != value_hooks().end())
      out << "_qninet_words " << quoted(hook->second()) << " list";
    else if (auto words = validator_words(*o); !words.empty())
      out << "_qninet_words " << quoted(words);
    else if (o->get_type_name().find("@FILE") != std::string::npos)
      out << "_qninet_files @";  // TEXT|@FILE: files after the "@" only
    else if (takes_file(*o))
      out << "_qninet_files";
    else
      out << ":";  // free text: nothing to offer
    out << "; return ;;\n";
  }
  out << "        esac\n";
  out << "        if [[ $cur == -* ]]; then _qninet_words " << quoted(options) << "\n";
  if (positional == "files")
    out << "        else _qninet_files\n";
  else if (positional == "words")
    out << "        else _qninet_words " << quoted(positional_words) << "\n";
  out << "        fi\n";
}

}  // namespace

void write_bash_completion(CLI::App& app, std::ostream& out) {
  const std::string name = app.get_name();
  std::vector<std::string> commands;
  for (CLI::App* sub : listed_commands(app)) commands.push_back(sub->get_name());

  out << "# bash completion for " << name << "(1), written by `" << name
      << " --bash-completion` from the\n"
         "# option tables that --help prints.\n"
         "\n"
         "# COMPREPLY: the words of $1 that start with $cur; with $2 = list, after the last comma\n"
         "# of a comma-separated list.\n"
         "_qninet_words()\n"
         "{\n"
         "    local head= word=$cur\n"
         "    if [[ ${2-} == list && $cur == *,* ]]; then head=${cur%,*},; word=${cur##*,}; fi\n"
         "    local IFS=$' \\t\\n'\n"
         "    COMPREPLY=($(compgen -P \"$head\" -W \"$1\" -- \"$word\"))\n"
         "}\n"
         "\n"
         "# COMPREPLY: the files that start with $cur; with $1, only after that prefix (@FILE).\n"
         "_qninet_files()\n"
         "{\n"
         "    local IFS=$'\\n' head=${1-}\n"
         "    [[ $cur == \"$head\"* ]] || return 0\n"
         "    compopt -o filenames 2>/dev/null || :\n"
         "    COMPREPLY=($(compgen -P \"$head\" -f -- \"${cur#\"$head\"}\"))\n"
         "}\n"
         "\n"
         "_qninet()\n"
         "{\n"
         "    local cur=${COMP_WORDS[COMP_CWORD]} prev= sub= i\n"
         "    ((COMP_CWORD > 0)) && prev=${COMP_WORDS[COMP_CWORD - 1]}\n"
         "    # bash splits --option=value at the '='.\n"
         "    if [[ $cur == = ]]; then\n"
         "        cur=\n"
         "    elif [[ $prev == = ]] && ((COMP_CWORD > 1)); then\n"
         "        prev=${COMP_WORDS[COMP_CWORD - 2]}\n"
         "    fi\n"
         "    COMPREPLY=()\n"
         "    for ((i = 1; i < COMP_CWORD; i++)); do\n"
         "        case ${COMP_WORDS[i]} in\n"
         "            "
      << joined(commands, "|")
      << ") sub=${COMP_WORDS[i]}; break ;;\n"
         "        esac\n"
         "    done\n"
         "    case $sub in\n"
         "    '')\n";
  // The program itself: its options, else the sub-commands.
  std::vector<std::string> options;
  for (CLI::Option* o : listed_options(app)) {
    const auto names = option_names(*o);
    options.insert(options.end(), names.begin(), names.end());
  }
  out << "        if [[ $cur == -* ]]; then _qninet_words " << quoted(options) << "\n"
      << "        else _qninet_words " << quoted(commands) << "\n"
      << "        fi ;;\n";
  for (CLI::App* sub : listed_commands(app)) {
    out << "    " << sub->get_name() << ")\n";
    write_command(out, *sub, sub->get_name());
    out << "        ;;\n";
  }
  out << "    esac\n"
         "}\n"
         "complete -F _qninet "
      << name << "\n";
}

}  // namespace qninet::tool
