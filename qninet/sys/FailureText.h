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
/// Only the connect: a peer that accepted and then stays silent is a wait, named as such.
inline constexpr std::string_view kConnectionTimedOut = "Connection timed out";

/// A time-out as people read it: "5 s", "1.5 s", "250 ms".
inline std::string duration_text(std::int64_t ms) {
  if (ms < 1000) return std::to_string(ms) + " ms";
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) {
    std::string fraction = std::to_string(1000 + ms % 1000).substr(1);
    while (fraction.back() == '0') fraction.pop_back();
    text += "." + fraction;
  }
  return text + " s";
}
/// "timed out waiting for data after 5 s": a connected peer sent nothing within the time-out.
inline std::string waiting_for_data_text(std::int64_t ms) {
  return "timed out waiting for data after " + duration_text(ms);
}
/// "timed out sending data after 5 s": a connected peer took nothing within the time-out.
inline std::string sending_data_text(std::int64_t ms) {
  return "timed out sending data after " + duration_text(ms);
}
/// "timed out waiting for a complete answer after 5 s": an answer's head that trickles.
inline std::string whole_answer_text(std::int64_t ms) {
  return "timed out waiting for a complete answer after " + duration_text(ms);
}
/// "no greeting from 127.0.0.1:2525 within 5 s": a server that accepted and never greeted.
inline std::string no_greeting_text(std::string_view endpoint, std::int64_t ms) {
  return "no greeting from " + std::string(endpoint) + " within " + duration_text(ms);
}

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
