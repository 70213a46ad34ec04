#pragma once
// The desktop around the program: opening a document or link with the user's preferred
// application (xdg-open), and loading an optional plug-in library by name.

#include <functional>
#include <string>

#include "qninet/sys/Result.h"

namespace qninet::sys {

/// Opens `target` (a URL, a file path, a mailto: link) with xdg-open, found on PATH. Only an
/// argument vector reaches it, never a shell. A target that is empty, starts with "-" (xdg-open
/// would read it as an option) or holds a control character is refused. Returns once the opener
/// has started; a helper thread reaps it.
Status shell_open(const std::string& target);

using ShellOpenHook = std::function<Status(const std::string& target)>;
/// Replaces what `shell_open` runs (after its checks), for tests that record the call instead
/// of opening anything; an empty hook restores xdg-open. Returns the previous hook.
ShellOpenHook set_shell_open_hook(ShellOpenHook hook);

/// Whether the folder exists and this process may create files in it.
bool directory_writable(const std::string& path);
/// The folder for the user's application data: $XDG_DATA_HOME when it is an absolute path,
/// else ~/.local/share; without a trailing slash.
std::string user_data_directory();
/// The folder for the user's cached files: $XDG_CACHE_HOME when it is an absolute path, else
/// ~/.cache; without a trailing slash.
std::string user_cache_directory();
/// Makes a folder and its missing parents (mode 0700 for those it makes).
Status make_directories(const std::string& path);

/// Loads the shared library `name` (found as the dynamic loader finds libraries, else beside the
/// package) and calls its `int symbol()`. Returns that result, or a failure naming why the call
/// could not be made.
Result<int> call_library_function(const std::string& name, const char* symbol);

}  // namespace qninet::sys
