#pragma once
// JSON text from files and the network, parsed with a bound on its nesting: nlohmann's values
// copy and compare themselves recursively, so a document nested deep enough to overflow the
// stack is refused while it is parsed, before any such walk can run.

#include <functional>
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

/// Parses `text` as `ParseJsonBounded` does, but hands each element of a top-level array to
/// `each` as soon as it is read and then drops it, so only one element's value is held at a time
/// (a text that is no array is handed over whole, once). The text's syntax and depth are checked
/// to its end even after `each` raised, and their error wins, as when the whole text is parsed
/// before any element is used; otherwise what `each` raised is raised again.
QNINET_API void ForEachJsonBounded(std::string_view text, std::string_view name, std::string_view kind,
                                   const std::function<void(nlohmann::json&&)>& each);

}  // namespace qninet
