#pragma once
// A private folder for the components' temporary files. It is made once per process with
// mkdtemp under TMPDIR (mode 0700), so no other user can plant a link or read a download
// there, and it is removed with its content when the program ends.

#include <string>

#include "qninet/sys/Result.h"

namespace qninet::sys {

/// The folder, with a trailing slash; made at the first call.
Result<std::string> private_temp_folder();

}  // namespace qninet::sys
