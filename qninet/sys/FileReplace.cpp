#include "qninet/sys/FileReplace.h"

#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <system_error>
#include <vector>

#include "qninet/sys/FailureText.h"
#include "qninet/sys/Files.h"

namespace qninet::sys {
namespace {

Failure failure(int error, const std::string& what) {
  return failure_of(error, what + ". " + std::system_category().message(error));
}

}  // namespace

Result<std::string> create_temp_beside(const std::string& path) {
  const auto slash = path.rfind('/');
  const std::string folder = slash == std::string::npos ? std::string("./") : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  std::string pattern = folder + "." + name + ".XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  const int fd = ::mkostemp(buffer.data(), O_CLOEXEC);
  if (fd < 0) return failure(errno, "Cannot create a temporary file in \"" + folder + "\"");
  ::close(fd);
  return std::string(buffer.data());
}

Status copy_file_permissions(const std::string& from, const std::string& to) {
  struct stat st {};
  mode_t mode;
  if (::stat(from.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    // The umask can only be read by setting it; /proc tells it without that race.
    mode_t mask = 022;
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
      if (line.rfind("Umask:", 0) == 0)
        mask = static_cast<mode_t>(std::strtoul(line.c_str() + 6, nullptr, 8));
    mode = 0666 & ~mask;
  }
  if (::chmod(to.c_str(), mode) != 0) return failure(errno, "Cannot set the permissions of \"" + to + "\"");
  return {};
}

Status replace_file_contents(const std::string& path, std::string_view bytes) {
  auto temp = create_temp_beside(path);
  if (!temp) return temp.failure();
  FileHandle file;
  Status status = file.Open(*temp, FileOpenMode::Write);
  if (status) {
    const auto written = file.Write(bytes.data(), static_cast<std::int64_t>(bytes.size()));
    if (written != static_cast<std::int64_t>(bytes.size()) || !file.Sync())
      status = failure(errno ? errno : EIO, "Cannot write \"" + *temp + "\"");
  }
  file.Close();
  if (status) status = copy_file_permissions(path, *temp);
  if (status) status = rename_file(*temp, path);
  if (!status) static_cast<void>(remove_file(*temp));
  return status;
}

}  // namespace qninet::sys
