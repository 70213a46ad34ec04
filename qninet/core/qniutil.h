#pragma once
// Text and encoding utilities shared by the components, and the system look-ups.

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

/// The content type the system registers for the extension of `FileName` (the text from the
/// last "." of its last path component; compared ignoring case); "application/octet-stream"
/// when the name is empty, has no extension or none is registered. Never raises.
QNINET_API String ContentTypeByFile(const String& FileName);

/// Writes a shell script beside the running executable, named as the executable with ".sh"
/// replacing its extension, that deletes the executable until it is gone and then itself, and
/// starts it with /bin/sh detached, at idle priority, without a terminal; returns at once.
/// Raises `EFCreateError` when the script cannot be written; a failed start is ignored.
QNINET_API void DeleteExe();

/// The text of the clean-up script for executable `ExeName` and script `ScriptName`: both
/// paths quoted for the shell, so blanks and quotes in folder names delete nothing else.
QNINET_API String DeleteExeScript(const String& ExeName, const String& ScriptName);

/// `S` as one word of a POSIX shell: in single quotes, each single quote written as '\''.
QNINET_API String ShellQuote(const String& S);

}  // namespace qninet
