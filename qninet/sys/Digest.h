#pragma once
// Keyed digests over OpenSSL, for challenge-response logins.

#include <string>
#include <string_view>

namespace qninet::sys {

/// HMAC-MD5 of `data` under `key`, as 32 lower-case hex digits (RFC 2104).
std::string hmac_md5_hex(std::string_view key, std::string_view data);

}  // namespace qninet::sys
