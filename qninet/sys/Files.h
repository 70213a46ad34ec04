#pragma once
// Files and their times, over POSIX. Failures come back as results, never as exceptions.

#include <cstdint>
#include <optional>
#include <string>

#include "qninet/rtl/SysUtils.h"

namespace qninet::sys {

enum class FileOpenMode : std::uint8_t { Read, Write, ReadWrite, Create };

/// An open file descriptor; closed by the destructor. Reads and writes retry after EINTR.
class QNINET_API FileHandle {
public:
  FileHandle() = default;
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  ~FileHandle();
  /// `Create` truncates or creates the file (mode 0666 less the umask). On failure `reason`
  /// holds the system's text.
  bool Open(const std::string& path, FileOpenMode mode, String& reason);
  bool IsOpen() const { return FFd >= 0; }
  /// The byte count, or -1 on error.
  std::int64_t Read(void* buffer, std::int64_t count);
  std::int64_t Write(const void* buffer, std::int64_t count);
  /// `origin` 0, 1, 2 as the beginning, the current position, the end; -1 on error.
  std::int64_t Seek(std::int64_t offset, int origin);
  bool Truncate(std::int64_t size);
  bool Sync();
  void Close();

private:
  int FFd = -1;
};

/// The system's text for an error number.
QNINET_API String system_error_text(int error);
QNINET_API bool file_exists(const std::string& path);
QNINET_API bool directory_exists(const std::string& path);
/// The size in bytes, or std::nullopt when the file cannot be read.
QNINET_API std::optional<std::int64_t> file_size(const std::string& path);
/// The last-write time as 100-ns units since 1601 UTC.
QNINET_API std::optional<std::int64_t> file_write_time(const std::string& path);
QNINET_API bool set_file_write_time(const std::string& path, std::int64_t file_time);
/// Replaces `to` by `from` in one step (same file system).
QNINET_API bool rename_file(const std::string& from, const std::string& to, String* reason = nullptr);
QNINET_API bool remove_file(const std::string& path);
/// The folder for temporary files: TMPDIR, else /tmp; with a trailing slash.
QNINET_API std::string temp_directory();
/// Creates a new empty file in `dir` with a unique name starting with `prefix`; empty on failure.
QNINET_API std::string make_temp_file(const std::string& dir, const std::string& prefix);
/// The full path of the running executable.
QNINET_API std::string executable_path();
QNINET_API std::string home_directory();
/// Whether standard input and standard error are terminals.
QNINET_API bool stdin_is_terminal();
QNINET_API bool stderr_is_terminal();

}  // namespace qninet::sys
