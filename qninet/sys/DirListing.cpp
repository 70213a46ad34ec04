#include "qninet/sys/DirListing.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cerrno>

#include "qninet/sys/Files.h"

namespace qninet::sys {

Result<DirContents> read_directory(const std::string& path) {
  const std::string folder = path.empty() ? "." : path;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir) return Failure{errno, system_error_text(errno)};
  DirContents out;
  struct stat st {};
  if (::fstat(::dirfd(dir), &st) == 0)
    out.Identity = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  const std::string prefix = folder.back() == '/' ? folder : folder + "/";
  errno = 0;
  while (const dirent* e = ::readdir(dir)) {
    DirEntry entry;
    entry.Name = e->d_name;
    if (e->d_type == DT_DIR) {
      entry.Directory = true;
    } else if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
      // A link counts as what it points to, as a folder search sees it.
      struct stat target {};
      entry.Directory = ::stat((prefix + entry.Name).c_str(), &target) == 0 && S_ISDIR(target.st_mode);
    }
    out.Entries.push_back(std::move(entry));
    errno = 0;
  }
  const int failed = errno;
  ::closedir(dir);
  if (failed != 0) return Failure{failed, system_error_text(failed)};
  return out;
}

}  // namespace qninet::sys
