#pragma once
// UTF-8 <-> UTF-16, the conversion every layer needs; invalid sequences become U+FFFD.

#include <string>
#include <string_view>

namespace qninet::sys {

std::u16string utf8_to_utf16(std::string_view s);
std::string utf16_to_utf8(std::u16string_view s);

}  // namespace qninet::sys
