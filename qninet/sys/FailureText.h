#pragma once
// Failure texts of this layer are written in UTF-8 (paths, libcurl's and the system's
// messages) and shown as UTF-16.

#include <string_view>

#include "qninet/sys/Result.h"
#include "qninet/sys/Utf8.h"

namespace qninet::sys {

/// A failure with a code and a UTF-8 text.
inline Failure failure_of(int code, std::string_view text) { return Failure{code, utf8_to_utf16(text)}; }

}  // namespace qninet::sys
