// Loading: how a stream's bytes are read as text (byte-order marks, UTF-8 declared or
// detected, else the system code page) before the parser sees them.

#include <cstring>
#include <optional>
#include <string>
#include <typeinfo>

#include "qninet/sys/AsciiText.h"
#include "qninet/sys/CodePage.h"
#include "qninet/xml/QNInetXML.h"

namespace qninet {

namespace {

std::string read_bytes(TStream& stream, Integer count) {
  std::string bytes;
  if (count <= 0) return bytes;
  bytes.resize(static_cast<std::size_t>(count));
  std::size_t got = 0;
  while (got < bytes.size()) {
    const Int64 n = stream.Read(bytes.data() + got, static_cast<Int64>(bytes.size() - got));
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  bytes.resize(got);
  return bytes;
}

String decode_utf16(std::string_view bytes, bool bigEndian) {
  return sys::decode_bytes(bytes.substr(0, bytes.size() & ~std::size_t{1}),
                           bigEndian ? "UTF-16BE" : "UTF-16LE");
}

// The system code page when it is single-byte and keeps ASCII as it is, else none.
const char16_t* ascii_compatible_table(const std::string& charset) {
  const char16_t* t = sys::single_byte_table(charset);
  if (!t) return nullptr;
  for (char16_t b = 0; b < 0x80; ++b)
    if (t[b] != b) return nullptr;
  return t;
}

bool same_ascii(std::string_view a, std::string_view b) { return sys::equal_ascii_nocase(a, b); }

constexpr std::string_view kBlanks = " \t\r\n";

// The encoding a declaration at the very start names (after blanks): "<?xml", and within its
// text up to the first ">" the word "encoding", blanks, "=", blanks and a name in double or
// single quotes. ASCII case is ignored, as the parser ignores it. None when there is none.
std::optional<std::string_view> declared_encoding(std::string_view bytes) {
  const std::size_t at = bytes.find_first_not_of(kBlanks);
  if (at == std::string_view::npos || !same_ascii(bytes.substr(at, 5), "<?xml")) return std::nullopt;
  std::string_view decl = bytes.substr(at + 5);
  decl = decl.substr(0, decl.find('>'));
  constexpr std::string_view kWord = "encoding";
  for (std::size_t i = 0; i + kWord.size() <= decl.size(); ++i) {
    if (!same_ascii(decl.substr(i, kWord.size()), kWord)) continue;
    std::size_t j = i + kWord.size();
    while (j < decl.size() && kBlanks.find(decl[j]) != std::string_view::npos) ++j;
    if (j == decl.size() || decl[j] != '=') continue;
    j = decl.find_first_not_of(kBlanks, j + 1);
    if (j == std::string_view::npos || (decl[j] != '"' && decl[j] != '\'')) continue;
    const std::size_t close = decl.find(decl[j], j + 1);
    if (close == std::string_view::npos) continue;
    return decl.substr(j + 1, close - j - 1);
  }
  return std::nullopt;
}

// Well-formed UTF-8: no stray or missing continuation bytes, no over-long forms, no
// surrogates, nothing beyond U+10FFFF.
bool valid_utf8(std::string_view bytes) {
  const auto* s = reinterpret_cast<const unsigned char*>(bytes.data());
  const std::size_t n = bytes.size();
  std::size_t i = 0;
  while (i < n) {
    // ASCII runs, 32 bytes and then 8 at a time.
    while (i + 32 <= n) {
      std::uint64_t w[4];
      std::memcpy(w, s + i, 32);
      if (((w[0] | w[1] | w[2] | w[3]) & 0x8080808080808080u) != 0) break;
      i += 32;
    }
    if (i == n) break;
    if (i + 8 <= n) {
      std::uint64_t w;
      std::memcpy(&w, s + i, 8);
      if ((w & 0x8080808080808080u) == 0) {
        i += 8;
        continue;
      }
    }
    const unsigned c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len = 0;
    unsigned lo = 0x80, hi = 0xBF;  // the range of the second byte
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      if (c == 0xE0) lo = 0xA0;
      if (c == 0xED) hi = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      if (c == 0xF0) lo = 0x90;
      if (c == 0xF4) hi = 0x8F;
    } else {
      return false;
    }
    if (i + len > n || s[i + 1] < lo || s[i + 1] > hi) return false;
    for (std::size_t k = 2; k < len; ++k)
      if ((s[i + k] & 0xC0) != 0x80) return false;
    i += len;
  }
  return true;
}

}  // namespace

void TQNXMLEngine::LoadFromStream(Integer AStreamSize, TStream* AStream) {
  if (!FRootItem) FRootItem = new TQNXMLItem(this);
  FRootItem->Items()->Clear();
  if (!AStream) return;
  // Sizes are 32-bit, as the stream interface of this engine has always taken them.
  const Integer size =
      static_cast<Integer>(AStreamSize != 0 ? AStreamSize : static_cast<Integer>(AStream->Size())) -
      static_cast<Integer>(AStream->Position());
  unsigned mark = 0;
  Int64 probed = 0;
  if (AStreamSize == 0) {
    unsigned char b[2] = {0, 0};
    probed = AStream->Read(b, 2);
    if (probed == 2) mark = static_cast<unsigned>(b[0] | b[1] << 8);
  }
  UTF8Processed = false;

  String text;
  if (mark == 0xFEFF || mark == 0xFFFE) {
    const Integer n = size - 2;
    if (n <= 0) return;
    text = decode_utf16(read_bytes(*AStream, n), mark == 0xFFFE);
    UTF8Processed = true;
  } else {
    if (AStreamSize == 0 && probed > 0) AStream->Seek(-probed, soCurrent);
    // A memory stream is parsed where it lies, unless a handler could change it meanwhile.
    std::string bytes;
    std::string_view body;
    const std::type_info& kind = typeid(*AStream);
    if ((kind == typeid(TMemoryStream) || kind == typeid(TStringStream)) && !FOnTag && !FOnAfterTag) {
      auto* memory = static_cast<TMemoryStream*>(AStream);
      const std::string_view all = memory->Bytes();
      const auto at = static_cast<std::size_t>(memory->Position());
      if (size > 0 && at < all.size()) body = all.substr(at, static_cast<std::size_t>(size));
      memory->Seek(static_cast<Int64>(body.size()), soCurrent);
    } else {
      bytes = read_bytes(*AStream, size);
      body = bytes;
    }
    auto starts = [&](std::string_view m) { return body.substr(0, m.size()) == m; };
    if (starts("\xFF\xFE") || starts("\xFE\xFF")) {
      // As when the mark is probed: the text is decoded here, so a declaration naming UTF-8
      // must not make the parser decode it again.
      text = decode_utf16(body.substr(2), starts("\xFE\xFF"));
      UTF8Processed = body.size() > 2;
    } else {
      const bool marked = starts("\xEF\xBB\xBF");
      if (marked) body.remove_prefix(3);
      const std::optional<std::string_view> declared = marked ? std::nullopt : declared_encoding(body);
      if (marked || (declared ? same_ascii(*declared, "utf-8") : valid_utf8(body))) {
        // UTF-8 is scanned as bytes and each text decoded once, straight into its item.
        UTF8Processed = true;
        if (!body.empty() && body.back() == '\x1B') body.remove_suffix(1);
        if (!body.empty()) parse_bytes(body, nullptr);
        return;
      }
      const std::string ansi = sys::ansi_code_page();
      if (const char16_t* table = ascii_compatible_table(ansi)) {
        if (!body.empty() && body.back() == '\x1B') body.remove_suffix(1);
        if (!body.empty()) parse_bytes(body, table);
        return;
      }
      text = sys::decode_bytes(body, ansi);
    }
  }
  if (!text.empty() && text.back() == 27) text.pop_back();
  if (!text.empty()) ParseXMLFromString(text, static_cast<Integer>(text.size()));
}

void TQNXMLEngine::LoadFromFile(const String& AFileName) {
  TFileStream stream(AFileName, fmOpenRead);
  stream.SetPosition(0);
  LoadFromStream(0, &stream);
}

}  // namespace qninet
