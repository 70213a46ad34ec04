#pragma once
// URLs through libcurl's URL interface: parsing into parts and the one percent-encoder.

#include <string>
#include <string_view>

#include "qninet/sys/Result.h"

namespace qninet::sys {

/// The parts of an absolute URL as libcurl reads them. `Host` has no brackets; `User`,
/// `Password` are percent-decoded; `Path` and `Query` stay encoded as they go on the wire.
struct UrlParts {
  std::string Scheme;  ///< lower case
  std::string User, Password;
  bool HasUser = false;
  std::string Host;
  int Port = 0;  ///< the explicit port, else the scheme's default, else 0
  bool ExplicitPort = false;
  std::string Path;   ///< "/" at least for hierarchical schemes
  std::string Query;  ///< without "?"
};

/// Parses an absolute URL of any scheme; spaces and bytes outside ASCII are percent-encoded.
Result<UrlParts> parse_url(std::string_view text);

/// Percent-encodes every byte that is not an unreserved character and not in `keep`.
std::string percent_encode(std::string_view text, std::string_view keep = {});

/// Decodes "%XX" escapes; a "%" not followed by two hex digits stays as it is.
std::string percent_decode(std::string_view text);

}  // namespace qninet::sys
