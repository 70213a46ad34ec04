#pragma once
// Code pages over iconv: UTF-8, UTF-16 LE and BE, windows-NNNN and ISO-8859-N to and from
// std::u16string. Decoding never fails: bytes the charset does not define become U+FFFD.

#include <string>
#include <string_view>

#include <string>
#include <string_view>

namespace qninet::sys {

/// Decodes `bytes` written in `charset` (a name iconv knows, matched ignoring case; "utf-8",
/// "utf-16le", "utf-16be" and "utf-16" (little-endian) are handled here). Invalid or
/// undefined bytes, and every byte of an unknown charset beyond ASCII, become U+FFFD.
std::u16string decode_bytes(std::string_view bytes, std::string_view charset);

/// Encodes `text` in `charset` into `out` (replaced, not appended). Returns whether every
/// character could be represented; one that cannot is written as "?". An unknown charset
/// gives false and the ASCII characters only.
bool encode_text(std::u16string_view text, std::string_view charset, std::string& out);

/// Whether `charset` is known to this layer (and so to iconv).
bool charset_known(std::string_view charset);

/// The system's ANSI code page: `QNINET_ANSI_CODEPAGE` when set (a name such as
/// "windows-1251" or "ISO-8859-5", or a code page number), otherwise "windows-1252".
std::string ansi_code_page();

/// The charset name of a Windows code page number: 65001 "UTF-8", 1200 "UTF-16LE",
/// 1201 "UTF-16BE", 20127 "US-ASCII", 28591..28606 "ISO-8859-N", any other "windows-N".
std::string code_page_name(int codePage);

/// The 256 characters of a single-byte charset, one per byte value (U+FFFD for undefined
/// bytes), or nullptr when `charset` is unknown or not a single-byte charset. The table
/// lives as long as the program.
const char16_t* single_byte_table(std::string_view charset);

}  // namespace qninet::sys
