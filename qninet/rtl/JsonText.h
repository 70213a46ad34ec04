#pragma once
// JSON text from files and the network, parsed with a bound on its nesting: nlohmann's values
// copy and compare themselves recursively, so a document nested deep enough to overflow the
// stack is refused while it is parsed, before any such walk can run.

#include <string_view>

#include <nlohmann/json.hpp>

#include "qninet/rtl/SysUtils.h"

namespace qninet {

/// The deepest nesting of arrays and objects a JSON text read by the library may have.
inline constexpr int kMaxJsonDepth = 256;

/// Parses `text`. Raises `EReadError` "NAME: KIND: WHY" for text that is no JSON or whose arrays
/// and objects nest deeper than `kMaxJsonDepth`, `name` being the file or endpoint read (empty
/// omits it) and `kind` what the text was to be (e.g. "Invalid form file").
QNINET_API nlohmann::json ParseJsonBounded(std::string_view text, std::string_view name,
                                           std::string_view kind = "Invalid JSON");

}  // namespace qninet
