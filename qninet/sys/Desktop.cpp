#include "qninet/sys/Desktop.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <mutex>
#include <thread>
#include <vector>

#include "qninet/sys/Files.h"
#include "qninet/sys/Utf8.h"

extern char** environ;

namespace qninet::sys {

namespace {

std::mutex g_hook_mutex;
ShellOpenHook g_hook;

Failure failure(int code, const std::string& text) { return Failure{code, utf8_to_utf16(text)}; }

Status spawn_opener(const std::string& target) {
  // posix_spawnp searches PATH; the child gets the target as its one argument.
  std::vector<char*> args = {const_cast<char*>("xdg-open"), const_cast<char*>(target.c_str()), nullptr};
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t none, all;
  sigemptyset(&none);
  sigfillset(&all);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setsigdefault(&attr, &all);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = -1;
  const int rc = posix_spawnp(&pid, "xdg-open", &actions, &attr, args.data(), environ);
  posix_spawnattr_destroy(&attr);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return failure(rc, "xdg-open: " + utf16_to_utf8(system_error_text(rc)));
  std::thread([pid] {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
  }).detach();
  return {};
}

}  // namespace

Status shell_open(const std::string& target) {
  if (target.empty()) return failure(EINVAL, "nothing to open");
  if (target[0] == '-')
    return failure(EINVAL, "refused to open '" + target + "': it would read as an option");
  for (const unsigned char c : target)
    if (c < 0x20 || c == 0x7F) return failure(EINVAL, "refused to open a target with a control character");
  ShellOpenHook hook;
  {
    const std::lock_guard lock(g_hook_mutex);
    hook = g_hook;
  }
  return hook ? hook(target) : spawn_opener(target);
}

ShellOpenHook set_shell_open_hook(ShellOpenHook hook) {
  const std::lock_guard lock(g_hook_mutex);
  std::swap(g_hook, hook);
  return hook;
}

bool directory_writable(const std::string& path) {
  return directory_exists(path) && ::access(path.c_str(), W_OK | X_OK) == 0;
}

std::string user_data_directory() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  return home_directory() + "/.local/share";
}

std::string user_cache_directory() {
  const char* xdg = std::getenv("XDG_CACHE_HOME");
  if (xdg && xdg[0] == '/') return xdg;
  return home_directory() + "/.cache";
}

Status make_directories(const std::string& path) {
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (!part.empty() && ::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
      return failure(errno, part + ": " + utf16_to_utf8(system_error_text(errno)));
    if (slash == std::string::npos) break;
  }
  if (!directory_exists(path)) return failure(ENOTDIR, path + ": not a folder");
  return {};
}

// The folder of the object this function is in (the package, or a program linking its
// archive), with a trailing slash; empty when the loader cannot say.
std::string own_folder() {
  Dl_info info{};
  if (!::dladdr(reinterpret_cast<void*>(&call_library_function), &info) || !info.dli_fname) return {};
  const std::string path = info.dli_fname;
  const std::size_t slash = path.rfind('/');
  return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

Result<int> call_library_function(const std::string& name, const char* symbol) {
  void* lib = ::dlopen(name.c_str(), RTLD_NOW | RTLD_GLOBAL);
  if (!lib) {
    const char* error = ::dlerror();
    const std::string why = error ? error : name + ": cannot be loaded";
    // A plug-in beside the package is found too: a search from inside a library does not
    // use the program's run path, and the package itself needs none.
    const std::string beside = name.find('/') == std::string::npos ? own_folder() : std::string();
    if (beside.empty() || !(lib = ::dlopen((beside + name).c_str(), RTLD_NOW | RTLD_GLOBAL)))
      return failure(0, why);
  }
  auto* fn = reinterpret_cast<int (*)()>(::dlsym(lib, symbol));
  if (!fn) return failure(0, name + " has no " + symbol);
  return fn();
}

}  // namespace qninet::sys
