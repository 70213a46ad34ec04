#pragma once
// Internationalised domain names: the one door to libidn2 (IDNA2008 with the TR46 mapping, as
// browsers and curl apply it).

#include <string>
#include <string_view>

#include "qninet/sys/Result.h"

namespace qninet::sys {

/// True when `s` is all ASCII (a name that needs no conversion).
bool is_ascii(std::string_view s) noexcept;

/// The A-label form of the UTF-8 domain `utf8` ("bücher.example" -> "xn--bcher-kva.example");
/// an ASCII name comes back lower-cased as it is. Fails with libidn2's text for a name that is
/// no valid IDN.
Result<std::string> to_ascii_domain(std::string_view utf8);

/// The U-label form of `ascii` for display; the input itself when it holds no valid A-label.
std::string to_unicode_domain(std::string_view ascii);

}  // namespace qninet::sys
