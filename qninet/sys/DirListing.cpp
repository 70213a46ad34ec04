#include "qninet/sys/DirListing.h"

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>
#include <sys/stat.h>

#include <cerrno>

#include "qninet/sys/Files.h"

namespace qninet::sys {

namespace {

// A folder whose path is longer than the system takes (PATH_MAX) is opened one name at a
// time, each relative to the folder before it, so a deep walk is not cut at that length.
DIR* open_by_steps(const std::string& folder) {
  int fd = ::open(folder[0] == '/' ? "/" : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  for (std::size_t at = 0; fd >= 0 && at < folder.size();) {
    std::size_t slash = folder.find('/', at);
    if (slash == std::string::npos) slash = folder.size();
    if (slash > at) {
      const int next =
          ::openat(fd, folder.substr(at, slash - at).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      const int failed = errno;
      ::close(fd);
      fd = next;
      errno = failed;
    }
    at = slash + 1;
  }
  if (fd < 0) return nullptr;
  DIR* dir = ::fdopendir(fd);
  if (!dir) {
    const int failed = errno;
    ::close(fd);
    errno = failed;
  }
  return dir;
}

}  // namespace

Result<DirContents> read_directory(const std::string& path) {
  const std::string folder = path.empty() ? "." : path;
  DIR* dir = ::opendir(folder.c_str());
  if (!dir && errno == ENAMETOOLONG) dir = open_by_steps(folder);
  if (!dir) return Failure{errno, system_error_text(errno)};
  DirContents out;
  struct stat st {};
  if (::fstat(::dirfd(dir), &st) == 0)
    out.Identity = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  errno = 0;
  while (const dirent* e = ::readdir(dir)) {
    DirEntry entry;
    entry.Name = e->d_name;
    if (e->d_type == DT_DIR) {
      entry.Directory = true;
    } else if (e->d_type == DT_LNK || e->d_type == DT_UNKNOWN) {
      // A link counts as what it points to, as a folder search sees it.
      struct stat target {};
      entry.Directory = ::fstatat(::dirfd(dir), e->d_name, &target, 0) == 0 && S_ISDIR(target.st_mode);
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
