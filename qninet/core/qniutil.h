#pragma once
// Text and encoding utilities shared by the components.

#include "qninet/rtl/SysUtils.h"

namespace qninet {

/// Decodes UTF-8 carried one code unit (0..255) per character. A four-unit sequence becomes a
/// surrogate pair. Returns empty for an empty or malformed input (never a partial text).
QNINET_API String Utf8Decode(const String& S);

/// Standard Base64 of the low 8 bits of each character, one line, padded with "=".
QNINET_API String Encode64(const String& S);

/// The characters of `S` in reverse order, one UTF-16 unit at a time.
QNINET_API String Reverse(const String& S);

/// Column `N` (from 0) of `S` split at `D`; empty for a column beyond the last.
QNINET_API String GetColumn(const String& S, Integer N, char16_t D);

/// Replaces the named HTML entities of the fixed table in one pass from left to right; a
/// replacement is never scanned again and an unknown entity stays as it is.
QNINET_API void ReplaceHTMLChars(String& S);

/// Fills the three outputs from the current user's proxy setting where values exist: an
/// enabled setting is reduced to one host and port (its "http=" entry of a per-protocol list).
/// Never raises; missing values leave the outputs unchanged.
QNINET_API void ReadProxyInfo(String& ProxyServer, bool& UseProxy, Integer& ProxyPort);

}  // namespace qninet
