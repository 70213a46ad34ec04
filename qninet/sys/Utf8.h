#pragma once
// UTF-8 <-> UTF-16, the conversion every layer needs; invalid sequences become U+FFFD.

#include <string>
#include <string_view>

namespace qninet::sys {

std::u16string utf8_to_utf16(std::string_view s);
std::string utf16_to_utf8(std::u16string_view s);

/// Appends the code point `cp` (at most U+10FFFF, no surrogate) in UTF-8; the one writer of
/// UTF-8 sequences in the tree.
void append_utf8(std::string& out, char32_t cp);
/// Appends the code point `cp` (at most U+10FFFF) in UTF-16: a surrogate pair beyond U+FFFF.
void append_utf16(std::u16string& out, char32_t cp);

}  // namespace qninet::sys
