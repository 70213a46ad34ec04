#include "qninet/sys/Files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace qninet::sys {

namespace {
// Days from 1601-01-01 to 1970-01-01.
constexpr std::int64_t kFileTimeToUnixDays = 134774;
}  // namespace

std::int64_t unix_to_file_time(std::int64_t seconds, std::int64_t nanoseconds) {
  return (seconds + kFileTimeToUnixDays * 86400LL) * 10000000LL + nanoseconds / 100;
}

std::int64_t file_time_to_unix(std::int64_t file_time) {
  return file_time / 10000000LL - kFileTimeToUnixDays * 86400LL;
}

FileHandle::~FileHandle() { Close(); }

Status FileHandle::Open(const std::string& path, FileOpenMode mode) {
  Close();
  int flags = O_CLOEXEC;
  switch (mode) {
    case FileOpenMode::Read:
      flags |= O_RDONLY;
      break;
    case FileOpenMode::Write:
      flags |= O_WRONLY;
      break;
    case FileOpenMode::ReadWrite:
      flags |= O_RDWR;
      break;
    case FileOpenMode::Create:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
  }
  do {
    FFd = ::open(path.c_str(), flags, 0666);
  } while (FFd < 0 && errno == EINTR);
  if (FFd < 0) return Failure{errno, system_error_text(errno)};
  if (mode == FileOpenMode::Read) {
    struct stat st {};
    if (::fstat(FFd, &st) == 0 && S_ISDIR(st.st_mode)) {
      Close();
      return Failure{EISDIR, system_error_text(EISDIR)};
    }
  }
  return {};
}

std::int64_t FileHandle::Read(void* buffer, std::int64_t count) {
  if (FFd < 0 || count < 0) return -1;
  ssize_t n;
  do {
    n = ::read(FFd, buffer, static_cast<std::size_t>(std::min<std::int64_t>(count, SSIZE_MAX)));
  } while (n < 0 && errno == EINTR);
  return n;
}

std::int64_t FileHandle::Write(const void* buffer, std::int64_t count) {
  if (FFd < 0 || count < 0) return -1;
  const auto* p = static_cast<const char*>(buffer);
  std::int64_t done = 0;
  while (done < count) {
    const ssize_t n =
        ::write(FFd, p + done, static_cast<std::size_t>(std::min<std::int64_t>(count - done, SSIZE_MAX)));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return done > 0 ? done : -1;
    done += n;
  }
  return done;
}

std::int64_t FileHandle::Seek(std::int64_t offset, int origin) {
  if (FFd < 0) return -1;
  const int whence = origin == 1 ? SEEK_CUR : origin == 2 ? SEEK_END : SEEK_SET;
  return ::lseek(FFd, static_cast<off_t>(offset), whence);
}

namespace {

// The outcome of a call that returned 0 on success, else the system's error.
Status status_of(bool done) {
  if (done) return {};
  return Failure{errno, system_error_text(errno)};
}

Status not_open() { return Failure{EBADF, system_error_text(EBADF)}; }

}  // namespace

Status FileHandle::Truncate(std::int64_t size) {
  return FFd < 0 ? not_open() : status_of(::ftruncate(FFd, size) == 0);
}

Status FileHandle::Sync() { return FFd < 0 ? not_open() : status_of(::fsync(FFd) == 0); }

void FileHandle::WriteBack(std::int64_t offset, std::int64_t count) {
  if (FFd >= 0) static_cast<void>(::sync_file_range(FFd, offset, count, SYNC_FILE_RANGE_WRITE));
}

void FileHandle::Close() {
  if (FFd >= 0) {
    ::close(FFd);
    FFd = -1;
  }
}

std::u16string system_error_text(int error) {
  char buf[256];
  // GNU strerror_r returns the text, which may or may not live in `buf`.
  const char* text = strerror_r(error, buf, sizeof buf);
  return std::u16string(text, text + std::strlen(text));
}

bool file_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool directory_exists(const std::string& path) {
  struct stat st {};
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

std::optional<std::int64_t> file_size(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0 || S_ISDIR(st.st_mode)) return std::nullopt;
  return static_cast<std::int64_t>(st.st_size);
}

std::optional<std::int64_t> file_write_time(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return std::nullopt;
  return unix_to_file_time(st.st_mtim.tv_sec, st.st_mtim.tv_nsec);
}

Status set_file_write_time(const std::string& path, std::int64_t file_time) {
  const std::int64_t secs = file_time_to_unix(file_time);
  const std::int64_t rest = file_time - unix_to_file_time(secs);
  struct timespec times[2];
  times[0].tv_sec = 0;
  times[0].tv_nsec = UTIME_OMIT;
  times[1].tv_sec = static_cast<time_t>(secs);
  times[1].tv_nsec = static_cast<long>(rest * 100);
  return status_of(::utimensat(AT_FDCWD, path.c_str(), times, 0) == 0);
}

Status rename_file(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return {};
  return Failure{errno, system_error_text(errno)};
}

Status remove_file(const std::string& path) { return status_of(::unlink(path.c_str()) == 0); }

std::string temp_directory() {
  const char* dir = std::getenv("TMPDIR");
  std::string d = (dir && *dir) ? dir : "/tmp";
  if (d.back() != '/') d.push_back('/');
  return d;
}

std::string executable_path() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

std::string home_directory() {
  if (const char* h = std::getenv("HOME"); h && *h) return h;
  if (const passwd* pw = ::getpwuid(::getuid()); pw && pw->pw_dir) return pw->pw_dir;
  return {};
}

}  // namespace qninet::sys
