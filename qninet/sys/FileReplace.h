#pragma once
// The helpers for replacing a file by a new one written beside it: a temporary file in the
// same folder (so the rename is one step) and the old file's permission bits.

#include <string>
#include <string_view>

#include "qninet/sys/Result.h"

namespace qninet::sys {

/// Creates a new empty file beside `path` (same folder, a hidden name starting with the file's
/// name) and returns its path. The failure names the folder it tried.
Result<std::string> create_temp_beside(const std::string& path);

/// Gives `to` the permission bits of `from` (or, when `from` does not exist, the usual bits of
/// a new file: 0666 less the umask).
Status copy_file_permissions(const std::string& from, const std::string& to);

/// Makes `bytes` the content of `path` through a file beside it, synced and then renamed over
/// `path` with its permission bits, so that `path` holds either its old or its whole new
/// content, never a part. On failure the file beside is removed and `path` is untouched.
Status replace_file_contents(const std::string& path, std::string_view bytes);

}  // namespace qninet::sys
