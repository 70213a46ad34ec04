#pragma once
// Files and their times, over POSIX. Failures come back as results, never as exceptions.

#include <cstdint>
#include <optional>

#include "qninet/sys/Result.h"
#include <string>

#include <string>
#include <string_view>

namespace qninet::sys {

/// File times are 100-ns units since 1601-01-01 UTC.
std::int64_t unix_to_file_time(std::int64_t seconds, std::int64_t nanoseconds = 0);
std::int64_t file_time_to_unix(std::int64_t file_time);

enum class FileOpenMode : std::uint8_t { Read, Write, ReadWrite, Create };

/// An open file descriptor; closed by the destructor. Reads and writes retry after EINTR.
class FileHandle {
public:
  FileHandle() = default;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle();
  /// `Create` truncates or creates the file (mode 0666 less the umask). On failure `reason`
  /// holds the system's text.
  Status Open(const std::string& path, FileOpenMode mode);
  bool IsOpen() const { return FFd >= 0; }
  /// The byte count, or -1 on error.
  std::int64_t Read(void* buffer, std::int64_t count);
  std::int64_t Write(const void* buffer, std::int64_t count);
  /// `origin` 0, 1, 2 as the beginning, the current position, the end; -1 on error.
  std::int64_t Seek(std::int64_t offset, int origin);
  Status Truncate(std::int64_t size);
  Status Sync();
  /// Starts writing the range to the disk without waiting for it, so a later `Sync` has less
  /// to do. A best effort: its failures show in `Sync`.
  void WriteBack(std::int64_t offset, std::int64_t count);
  void Close();

private:
  int FFd = -1;
};

/// The system's text for an error number.
std::u16string system_error_text(int error);
bool file_exists(const std::string& path);
bool directory_exists(const std::string& path);
/// The size in bytes, or std::nullopt when the file cannot be read.
std::optional<std::int64_t> file_size(const std::string& path);
/// The last-write time as 100-ns units since 1601 UTC.
std::optional<std::int64_t> file_write_time(const std::string& path);
Status set_file_write_time(const std::string& path, std::int64_t file_time);
/// Replaces `to` by `from` in one step (same file system).
Status rename_file(const std::string& from, const std::string& to);
Status remove_file(const std::string& path);
/// The folder for temporary files: TMPDIR, else /tmp; with a trailing slash.
std::string temp_directory();
/// The full path of the running executable.
std::string executable_path();
std::string home_directory();
/// Whether standard input and standard error are terminals.
}  // namespace qninet::sys
