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

int run_ls(Run& run, const LsOptions& o) {
  TQNRemoteFiles files(nullptr);
  if (const int code = configure(run, files, o)) return code;
  try {
    files.Execute();
  } catch (const Exception& e) {
    return run.Fail(exFailed, o.Target, e.what());
  }
  auto list = nlohmann::ordered_json::array();
  for (int i = 0; i < files.FileList()->Count(); ++i) {
    const std::string line = ToUtf8(files.FileList()->Strings(i));
    list.push_back(line);
    if (!run.Options().Json) std::cout << line << '\n';
  }
  run.Json()["files"] = std::move(list);
  const std::string why = files.LastErrorText().empty() ? "" : ": " + ToUtf8(files.LastErrorText());
  if (files.Status() == isFailed) return run.Fail(exFailed, o.Target, "failed" + why);
  if (files.Status() == isNotFound) return run.Fail(exNotFound, o.Target, "nothing found" + why);
  return exOk;
}

const CommandRegistrar registrar(430, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<LsOptions>();
  auto* cmd = add_command(app, state, "ls", "List the names in a folder of an FTP server or of a path",
                          Offer{.Timeout = 60, .Verbose = true}, [o](Run& run) { return run_ls(run, *o); });
  cmd->add_flag("-r,--recursive", o->Recursive, "List every folder below it too");
  cmd->add_option("--wildcard", o->WildCard, "The names to list: * and ? (case-sensitive; *.* lists all)")
      ->capture_default_str();
  cmd->add_option("--user", o->User, "User name for the server (overrides the URL's)");
  cmd->add_option("--password", o->Password, "Password for the server (overrides the URL's)");
  cmd->add_option("URL_OR_PATH", o->Target,
                  "ftp://[user[:password]@]host[:port]/folder, file:// URL or a path")
      ->required();
  cmd->footer(
      "Prints one name a line in the order the server or the file system gives them. On FTP a name\n"
      "is bare when the folder named is the login directory, else the folder, \"/\" and the name; a\n"
      "path's names start with the path (\".\" and \"..\" included). With -r each sub-folder is\n"
      "entered (at most 64 levels deep, 10000 folders in all) whatever --wildcard selects; a walk\n"
      "cut short (--max-time, the bound) fails. --json gives {\"status\", \"files\": [...]};\n"
      "nothing found exits 3.");
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
