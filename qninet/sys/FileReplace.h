#pragma once
// The helpers for replacing a file by a new one written beside it: a temporary file in the
// same folder (so the rename is one step) and the old file's permission bits.

#include <string>

#include "qninet/sys/Result.h"

namespace qninet::sys {

/// Creates a new empty file beside `path` (same folder, a hidden name starting with the file's
/// name) and returns its path. The failure names the folder it tried.
Result<std::string> create_temp_beside(const std::string& path);

/// Gives `to` the permission bits of `from` (or, when `from` does not exist, the usual bits of
/// a new file: 0666 less the umask).
Status copy_file_permissions(const std::string& from, const std::string& to);

}  // namespace qninet::sys
