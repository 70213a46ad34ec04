#include "qninet/sys/PrivateTemp.h"

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
  ~Folder() {
    if (Path.empty()) return;
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
  return f.Path;
}

}  // namespace qninet::sys
