#pragma once
// The one table of character entities the library decodes. The XML engine tries every row
// at an "&" (the ";" optional); the page scrapers' HTML clean-up takes only the rows marked
// for HTML, each written out up to its ";". The feed parser decodes the HTML 4 named references
// and "apos" by `decode_references`. Internal to the library.

#include <string>
#include <string_view>

namespace qninet::entities {

struct Entity {
  std::u16string_view Name;  // with the "&", without the ";"
  std::u16string_view Replacement;
  bool Html;  // one of the HTML entities the page scrapers replace
};

/// The first row, in table order, whose name begins `text`; none when no row does.
const Entity* match_prefix(std::u16string_view text);

/// The HTML row whose name is exactly `name`; none when there is none.
const Entity* find_html(std::u16string_view name);

/// The code point of the HTML 4 named character reference `name` (without "&" and ";", case
/// significant: "Eacute" and "eacute" differ) or of XML's "apos"; 0 when there is none.
char32_t find_named(std::u16string_view name);

/// The text (UTF-8 or UTF-16) with its character references decoded once: "&#N;", "&#xH;", an
/// HTML 4 name or "apos", each up to its ";" ("&amp;lt;" gives "&lt;"). A number that names no
/// character (zero, a surrogate, beyond U+10FFFF) gives U+FFFD; a "&" that starts no known
/// reference stays as it is.
std::string decode_references(std::string_view text);
std::u16string decode_references(std::u16string_view text);

}  // namespace qninet::entities
