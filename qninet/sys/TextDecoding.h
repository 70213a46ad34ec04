#pragma once
// Bytes of a downloaded document as text: the character set comes from a byte-order mark, then
// from what the document or its answer declares, then from the bytes themselves. Bytes that
// are not valid in the chosen set become U+FFFD; decoding never fails.

#include <string>
#include <string_view>

namespace qninet::sys {

/// The charset a byte-order mark at the start of `bytes` names ("UTF-8", "UTF-16LE",
/// "UTF-16BE"), with the mark's length in `length`; empty (and 0) without a mark.
std::string_view bom_charset(std::string_view bytes, std::size_t& length);

/// The `encoding` of an XML declaration at the very start of `bytes`, or empty.
std::string xml_declared_encoding(std::string_view bytes);

/// The charset parameter of a Content-Type value ("text/html; charset=\"utf-8\"" gives
/// "utf-8"), without quotes; empty when there is none.
std::string content_type_charset(std::string_view contentType);

/// Whether `bytes` is well-formed UTF-8.
bool valid_utf8(std::string_view bytes);

/// The charset of an XML document: its byte-order mark's (`skip` is the mark's length), else
/// the declaration's encoding when known, else "UTF-8".
std::string xml_text_charset(std::string_view bytes, std::size_t& skip);

/// The charset of a feed as served: its byte-order mark's (`skip` is the mark's length), else
/// the declaration's encoding, else `answerCharset` (from the answer's Content-Type), each when
/// known; else "UTF-8" when the bytes are valid UTF-8, else the system's ANSI code page.
std::string feed_text_charset(std::string_view bytes, std::string_view answerCharset, std::size_t& skip);

/// An XML document (a feed): the mark, else the declaration's encoding when known, else UTF-8.
std::u16string decode_xml_text(std::string_view bytes);

/// A page: the mark, else `charset` (from the answer's Content-Type) when known, else UTF-8
/// when the bytes are valid UTF-8, else the system's ANSI code page.
std::u16string decode_page_text(std::string_view bytes, std::string_view charset = {});

}  // namespace qninet::sys
