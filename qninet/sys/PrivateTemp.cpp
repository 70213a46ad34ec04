#include "qninet/sys/PrivateTemp.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <mutex>

#include "qninet/sys/Files.h"
#include "qninet/sys/Utf8.h"

namespace qninet::sys {
namespace {

struct Folder {
  std::mutex Lock;
  std::string Path;
  pid_t Owner = 0;
  ~Folder() {
    // A forked child that exits must not take its parent's folder with it.
    if (Path.empty() || Owner != ::getpid()) return;
    std::error_code ec;
    std::filesystem::remove_all(Path, ec);
  }
};

Folder& folder() {
  static Folder f;
  return f;
}

}  // namespace

Result<std::string> private_temp_folder() {
  Folder& f = folder();
  const std::lock_guard<std::mutex> hold(f.Lock);
  if (!f.Path.empty() && directory_exists(f.Path)) return f.Path;
  std::string pattern = temp_directory() + "qninet-XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) {
    const int error = errno;
    return Failure{error, u"cannot make a private folder in " + utf8_to_utf16(temp_directory()) + u": " +
                              system_error_text(error)};
  }
  f.Path = pattern + "/";
  f.Owner = ::getpid();
  return f.Path;
}

}  // namespace qninet::sys
