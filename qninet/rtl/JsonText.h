#pragma once
// JSON text from files and the network, parsed with a bound on its nesting: nlohmann's values
// copy and compare themselves recursively, so a document nested deep enough to overflow the
// stack is refused while it is parsed, before any such walk can run.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

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

/// The part of a JSON text a reader takes: the members and elements it reads, each with the kind
/// of value it expects. Anything else is checked and skipped, never built, so what is held grows
/// with what the reader keeps, not with the text.
struct TJsonShape {
  enum TKind : std::uint8_t {
    jkScalar,      ///< a string, number, Boolean or null
    jkObject,      ///< an object holding the members named in `Members`
    jkEach,        ///< an array: each element, shaped by `Members[0]`, is handed out as it ends
    jkEachMember,  ///< an object: each member, its value shaped by `Members[0]`, handed out so
    jkNone,        ///< any value, checked and not built (handed out as null)
    jkEither,      ///< the first of `Members` whose kind fits the value
  };
  const char* Name;  ///< the member's name; unused for an element or an alternative
  TKind Kind;
  std::vector<TJsonShape> Members = {};
  int Id = 0;  ///< tells a reader which container handed a value out
};

/// What `ReadJsonShaped` hands out: the container's shape, the member's name (`jkEachMember`;
/// empty otherwise) and the value as its shape keeps it.
using TJsonShapedEach = std::function<void(const TJsonShape&, std::string_view, nlohmann::json&&)>;

/// Parses `text` as `ParseJsonBounded` does, keeping only what `shape` names: returns the root so
/// kept. A member of a kept object whose value is of another kind than its shape is kept as null;
/// a `jkEach` or `jkEachMember` container is kept empty while its values go to `each`, one at a
/// time, in document order (inner ones first), each dropped once handed out. The syntax and depth
/// are checked to the text's end even after `each` raised; their error wins, otherwise what
/// `each` raised is raised again.
QNINET_API nlohmann::json ReadJsonShaped(std::string_view text, std::string_view name, std::string_view kind,
                                         const TJsonShape& shape, const TJsonShapedEach& each);

// --- members, read without trusting their types ---------------------------------------------

/// The member `key` of `value`; null when `value` is null, no object or has no such member.
inline const nlohmann::json* JsonMember(const nlohmann::json* value, const char* key) {
  if (!value || !value->is_object()) return nullptr;
  const auto it = value->find(key);
  return it == value->end() ? nullptr : &*it;
}

/// The member `key` when it is an array; an empty array otherwise.
inline const nlohmann::json& JsonElements(const nlohmann::json* value, const char* key) {
  static const nlohmann::json empty = nlohmann::json::array();
  const nlohmann::json* member = JsonMember(value, key);
  return member && member->is_array() ? *member : empty;
}

/// The member `key` when it is a string; null otherwise.
inline const std::string* JsonString(const nlohmann::json* value, const char* key) {
  const nlohmann::json* member = JsonMember(value, key);
  return member && member->is_string() ? &member->get_ref<const std::string&>() : nullptr;
}

/// The member `key` as text when it is a string (a number too, as written, with `numbers`);
/// empty otherwise.
inline String JsonText(const nlohmann::json* value, const char* key, bool numbers = false) {
  const nlohmann::json* member = JsonMember(value, key);
  if (!member) return {};
  if (member->is_string()) return FromUtf8(member->get_ref<const std::string&>());
  return numbers && member->is_number() ? FromUtf8(member->dump()) : String();
}

}  // namespace qninet
