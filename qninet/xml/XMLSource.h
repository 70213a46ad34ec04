#pragma once
// The two texts the XML parser scans, with the same small interface so that one parser serves
// both: UTF-16 text as given, or the loaded bytes read as they are. Internal to the engine (not
// installed).

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>

#include "qninet/rtl/SysUtils.h"

namespace qninet::xml_source {

constexpr bool is_blank(char16_t c) { return c == 9 || c == 10 || c == 13 || c == 32; }

constexpr std::array<bool, 256> make_name_table() {
  std::array<bool, 256> t{};
  for (int c = '0'; c <= '9'; ++c) t[static_cast<std::size_t>(c)] = true;
  for (int c = 'A'; c <= 'Z'; ++c) t[static_cast<std::size_t>(c)] = true;
  for (int c = 'a'; c <= 'z'; ++c) t[static_cast<std::size_t>(c)] = true;
  t['!'] = t['-'] = t[':'] = t['?'] = t['_'] = true;
  return t;
}
constexpr std::array<bool, 256> kNameChar = make_name_table();
constexpr bool is_name_char(char16_t c) { return c < 256 && kNameChar[c]; }
constexpr bool is_text_stop(char16_t c) { return c == u'<' || c == u'/' || c == 0; }

inline bool all_ascii(StringView s) {
  for (char16_t c : s)
    if (c >= 0x80) return false;
  return true;
}

// The text as UTF-16 units.
struct WideSource {
  const char16_t* Data;
  std::size_t Size;
  char16_t at(std::size_t i) const { return Data[i]; }
  String slice(std::size_t from, std::size_t to) const { return String(Data + from, Data + to); }
  bool last_char(std::size_t i, std::size_t end) const { return i + 1 == end; }
  // The first index in [from, to) that holds "<", "/" or NUL; `to` when none does.
  std::size_t find_stop(std::size_t from, std::size_t to) const {
    while (from < to && !is_text_stop(Data[from])) ++from;
    return from;
  }
};

// Bytes whose markup is ASCII: in UTF-8 and in ASCII-based single-byte code pages no byte of
// a non-ASCII character is a markup character, so the scan reads the bytes as they are and
// only the texts taken out are decoded.
struct ByteSource {
  const unsigned char* Data;
  std::size_t Size;
  const char16_t* Table;  // the code page's 256 characters; none for UTF-8

  char16_t at(std::size_t i) const { return Data[i]; }

  String slice(std::size_t from, std::size_t to) const {
    unsigned high = 0;
    for (std::size_t i = from; i < to; ++i) high |= Data[i];
    if (high < 0x80) return String(Data + from, Data + to);  // ASCII maps to itself
    if (!Table) return FromUtf8(std::string_view(reinterpret_cast<const char*>(Data) + from, to - from));
    String s(to - from, u'\0');
    for (std::size_t i = from; i < to; ++i) s[i - from] = Table[Data[i]];
    return s;
  }

  // Whether the character that starts at `i` is the last one before `end`. A UTF-8 lead byte
  // claims its continuation bytes as the decoder does, valid or not.
  bool last_char(std::size_t i, std::size_t end) const {
    const unsigned c = Data[i];
    const std::size_t len = Table || c < 0xC0 ? 1 : c < 0xE0 ? 2 : c < 0xF0 ? 3 : c < 0xF8 ? 4 : 1;
    std::size_t got = 1;
    while (got < len && i + got < end && (Data[i + got] & 0xC0) == 0x80) ++got;
    // A character beyond U+FFFF is two units of the decoded text, so the first is never the last.
    if (got == 4 && c <= 0xF4 && !(c == 0xF0 && Data[i + 1] < 0x90) && !(c == 0xF4 && Data[i + 1] > 0x8F))
      return false;
    return i + got == end;
  }

  // Eight bytes at a time: a byte equal to "<", "/" or 0 leaves a high bit in `found`. The
  // lowest flagged byte is always a true hit (only bytes above a hit can be false ones).
  std::size_t find_stop(std::size_t from, std::size_t to) const {
    if constexpr (std::endian::native == std::endian::little) {
      constexpr std::uint64_t ones = 0x0101010101010101u, highs = 0x8080808080808080u;
      auto zero_bytes = [](std::uint64_t v) { return (v - ones) & ~v & highs; };
      while (from + 8 <= to) {
        std::uint64_t w;
        std::memcpy(&w, Data + from, 8);
        const std::uint64_t found =
            zero_bytes(w) | zero_bytes(w ^ (ones * '<')) | zero_bytes(w ^ (ones * '/'));
        if (found) return from + static_cast<std::size_t>(std::countr_zero(found) / 8);
        from += 8;
      }
    }
    while (from < to && !is_text_stop(Data[from])) ++from;
    return from;
  }
};

}  // namespace qninet::xml_source
