#pragma once
// Byte encodings of text that several components share: Base64 (RFC 4648 section 4) for
// credentials, encoded header words and mail attachments, and the US-ASCII test.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "qninet/rtl/SysUtils.h"

namespace qninet {

/// `bytes` in Base64, padded with "=", in one line.
QNINET_API std::string base64_encode(std::string_view bytes);
/// `bytes` in Base64 in lines of 76 characters (RFC 2045 section 6.8), the last one shorter,
/// without line breaks; none for no bytes.
QNINET_API std::vector<std::string> base64_lines(std::string_view bytes);

/// Whether every character is US-ASCII.
QNINET_API bool is_ascii(StringView text);

}  // namespace qninet
