// `qninet ls`: the names in a folder of an FTP server or of a path, optionally with every folder
// below it.

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "Options.h"
#include "qninet/web/qnidir.h"

namespace qninet::tool {
namespace {

struct LsOptions {
  bool Recursive = false;
  bool All = false;
  bool Full = false;
  std::string WildCard = "*.*";
  std::string User, Password;
  std::string Target;
};

// An ftp:// or file:// URL, or a path.
int configure(Run& run, TQNRemoteFiles& files, const LsOptions& o) {
  if (const int code = run.Target(files, o.Target, [&](const String& path) { files.SetDirectory(path); }))
    return code;
  if (files.Service() != isFTP && files.Service() != isNetwork)
    return run.Fail(exBadInput, o.Target, "lists ftp:// and file:// URLs and paths only");
  if (!o.User.empty()) files.SetUser(FromUtf8(o.User));
  if (!o.Password.empty()) files.SetPassword(FromUtf8(o.Password));
  files.SetWildCard(FromUtf8(o.WildCard));
  files.SetSubFolders(o.Recursive);
  return run.Configure(files);
}

bool any_name(const std::string& wildcard) { return wildcard == "*" || wildcard == "*.*"; }

// The folder the component lists, as it starts the names below it: "/" or "FOLDER/".
std::string name_prefix(const TQNRemoteFiles& files) {
  std::string dir = ToUtf8(files.Directory());
  while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
  if (dir.empty()) return "";
  return dir == "/" ? dir : dir + "/";
}

int run_ls(Run& run, const LsOptions& o) {
  if (o.Target.find("://") == std::string::npos) {
    if (const int code = run.Input(o.Target)) return code;
  }
  TQNRemoteFiles files(nullptr);
  if (const int code = configure(run, files, o)) return code;
  const std::string prefix = name_prefix(files);
  try {
    files.Execute();
  } catch (const Exception& e) {
    return run.Fail(exFailed, o.Target, e.what());
  }
  // The component names a login directory's entries bare and the others by their path: each
  // name is made relative to the folder listed, or with --full starts with it.
  auto list = nlohmann::ordered_json::array();
  for (int i = 0; i < files.FileList()->Count(); ++i) {
    std::string name = ToUtf8(files.FileList()->Strings(i));
    const std::string leaf = name.substr(name.rfind('/') + 1);
    if (!o.All && (leaf == "." || leaf == "..")) continue;
    const bool full = !prefix.empty() && name.starts_with(prefix);
    if (o.Full && !full) name = prefix + name;
    if (!o.Full && full) name.erase(0, prefix.size());
    list.push_back(name);
    if (!run.Options().Json) std::cout << name << '\n';
  }
  const bool none = list.empty();
  run.Json()["files"] = std::move(list);
  const std::string why = files.LastErrorText().empty() ? "" : ": " + ToUtf8(files.LastErrorText());
  if (files.Status() == isFailed) return run.Fail(exFailed, o.Target, "failed" + why);
  // An empty folder lists nothing and succeeds, as ls does; a folder that is not there, or a
  // wildcard that matches no name, is not found.
  if (files.Status() == isNotFound && (!why.empty() || !any_name(o.WildCard)))
    return run.Fail(exNotFound, o.Target, "nothing found" + why);
  if (none && !any_name(o.WildCard)) return run.Fail(exNotFound, o.Target, "no name matches " + o.WildCard);
  return exOk;
}

const CommandRegistrar registrar(430, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<LsOptions>();
  auto* cmd = add_command(app, state, "ls", "List the names in a folder of an FTP server or of a path",
                          Offer{.Timeout = 60}, [o](Run& run) { return run_ls(run, *o); });
  cmd->add_flag("-r,--recursive", o->Recursive, "List every folder below it too");
  cmd->add_flag("-a,--all", o->All, "List . and .. too");
  cmd->add_flag("--full", o->Full, "Name each entry by its whole path, not relative to the folder listed");
  cmd->add_option("--wildcard", o->WildCard, "The names to list: * and ? (case-sensitive; *.* lists all)")
      ->capture_default_str();
  cmd->add_option("--user", o->User, "User name for the server (overrides the URL's)");
  cmd->add_option("--password", o->Password, "Password for the server (overrides the URL's)");
  cmd->add_option("URL_OR_PATH", o->Target,
                  "ftp://[user[:password]@]host[:port]/folder, file:// URL or a path")
      ->required();
  set_help_footer(
      *cmd,
      "Prints one name a line in the order the server or the file system gives them, relative to\n"
      "the folder listed (sub/d.txt), or with --full by its whole path; . and .. only with -a.\n"
      "With -r each sub-folder is entered (at most 64 levels deep, 10000 folders in all) whatever\n"
      "--wildcard selects; a walk cut short (--max-time, the bound) fails. --json gives\n"
      "{\"status\", \"files\": [...]}. An empty folder exits 0; a folder that is not there, or a\n"
      "--wildcard that matches nothing, exits 3; a missing local folder exits 2.",
      {"qninet ls -r --wildcard '*.txt' ftp://127.0.0.1:2121/pub", "qninet ls --full /var/log"});
});

const DemoRegistrar demo(DemoStep{
    430, "Remote directory lister: the text files of a local folder tree", [](std::ostream& out) {
      const std::filesystem::path dir =
          std::filesystem::temp_directory_path() /
          ("qninet-demo-ls-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
      std::filesystem::create_directories(dir / "notes/old");
      for (const char* name : {"readme.txt", "logo.png", "notes/today.txt", "notes/old/2019.txt"})
        std::ofstream(dir / name) << name << '\n';
      TQNRemoteFiles files(nullptr);
      files.SetService(isNetwork);
      files.SetDirectory(FromUtf8(dir.string()));
      files.SetWildCard(u"*.txt");
      files.SetSubFolders(true);
      const bool ok = files.Execute();
      out << "*.txt in " << dir.string() << " and below:\n";
      for (int i = 0; i < files.FileList()->Count(); ++i)
        out << "  " << ToUtf8(files.FileList()->Strings(i)) << '\n';
      std::filesystem::remove_all(dir);
      return ok && files.FileList()->Count() == 3;
    }});

}  // namespace
}  // namespace qninet::tool
