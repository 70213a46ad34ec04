#pragma once
// Failure texts of this layer are written in UTF-8 (paths, libcurl's and the system's
// messages) and shown as UTF-16.
//
// Every transfer, whether libcurl or our own socket saw it fail, speaks one vocabulary, each
// text after the endpoint it concerns: "127.0.0.1:8080: Connection refused". A user reading a
// failure then never has to know which engine ran underneath.

#include <cstdint>
#include <string>
#include <string_view>

#include "qninet/sys/Result.h"
#include "qninet/sys/Utf8.h"

namespace qninet::sys {

/// A failure with a code and a UTF-8 text.
inline Failure failure_of(int code, std::string_view text) { return Failure{code, utf8_to_utf16(text)}; }

inline constexpr std::string_view kConnectionRefused = "Connection refused";
inline constexpr std::string_view kConnectionTimedOut = "Connection timed out";

/// "The connection closed after N of M bytes"; M unknown (0) leaves " of M" out.
inline std::string closed_early_text(std::uint64_t got, std::uint64_t expected) {
  std::string text = "The connection closed after " + std::to_string(got);
  if (expected != 0) text += " of " + std::to_string(expected);
  return text + " bytes";
}
/// "The answer is larger than N bytes".
inline std::string too_large_text(std::uint64_t limit) {
  return "The answer is larger than " + std::to_string(limit) + " bytes";
}
/// "TLS certificate verification failed: DETAIL".
inline std::string certificate_text(std::string_view detail) {
  return "TLS certificate verification failed: " + std::string(detail);
}
/// "ENDPOINT: TEXT", the endpoint as "host:port" ("[v6]:port") or a URL.
inline std::string at_endpoint(std::string_view endpoint, std::string_view text) {
  return std::string(endpoint) + ": " + std::string(text);
}

}  // namespace qninet::sys
