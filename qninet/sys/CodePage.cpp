#include "qninet/sys/CodePage.h"

#include "qninet/sys/Utf8.h"

#include <iconv.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace qninet::sys {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

enum class CharsetKind : std::uint8_t { Utf8, Utf16LE, Utf16BE, SingleByte, MultiByte };

struct Charset {
  CharsetKind Kind = CharsetKind::MultiByte;
  std::string IconvName;
  std::array<char16_t, 256> Table{};
  std::unordered_map<char16_t, unsigned char> Reverse;  // non-identity entries of Table
};

std::string upper_ascii(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return r;
}

class IconvHandle {
public:
  IconvHandle(const char* to, const char* from) : FCd(iconv_open(to, from)) {}
  ~IconvHandle() {
    if (ok()) iconv_close(FCd);
  }
  IconvHandle(const IconvHandle&) = delete;
  IconvHandle& operator=(const IconvHandle&) = delete;
  bool ok() const { return FCd != reinterpret_cast<iconv_t>(-1); }
  iconv_t get() const { return FCd; }

private:
  iconv_t FCd;
};

// A charset is single-byte when every byte alone converts to one UTF-16 unit or is refused
// as invalid; a lead byte of a multi-byte charset reads as an incomplete sequence instead.
bool probe_single_byte(const std::string& name, Charset& cs) {
  IconvHandle cd("UTF-16LE", name.c_str());
  if (!cd.ok()) return false;
  for (int b = 0; b < 256; ++b) {
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
    char in = static_cast<char>(b);
    char out[8];
    char* ip = &in;
    char* op = out;
    std::size_t il = 1, ol = sizeof out;
    const std::size_t r = iconv(cd.get(), &ip, &il, &op, &ol);
    if (r == static_cast<std::size_t>(-1)) {
      if (errno != EILSEQ) return false;
      cs.Table[static_cast<std::size_t>(b)] = kReplacement;
      continue;
    }
    if (op - out != 2) return false;
    const char16_t u =
        static_cast<char16_t>(static_cast<unsigned char>(out[0]) | static_cast<unsigned char>(out[1]) << 8);
    cs.Table[static_cast<std::size_t>(b)] = u;
  }
  for (int b = 255; b >= 0; --b) {
    const char16_t u = cs.Table[static_cast<std::size_t>(b)];
    if (u != kReplacement && u != static_cast<char16_t>(b)) cs.Reverse[u] = static_cast<unsigned char>(b);
  }
  return true;
}

// Known charsets are cached for the program's life; unknown names are never stored, so
// names read from documents cannot grow the cache.
const Charset* find_charset(std::string_view charset) {
  static std::mutex mutex;
  static std::map<std::string, std::unique_ptr<Charset>> cache;
  std::string key = upper_ascii(charset);
  if (key == "UTF8") key = "UTF-8";
  const std::lock_guard<std::mutex> lock(mutex);
  if (auto it = cache.find(key); it != cache.end()) return it->second.get();
  auto cs = std::make_unique<Charset>();
  if (key == "UTF-8") {
    cs->Kind = CharsetKind::Utf8;
  } else if (key == "UTF-16LE" || key == "UTF-16" || key == "UCS-2LE") {
    cs->Kind = CharsetKind::Utf16LE;
  } else if (key == "UTF-16BE" || key == "UCS-2BE") {
    cs->Kind = CharsetKind::Utf16BE;
  } else {
    if (key.empty()) return nullptr;
    cs->IconvName = key;
    if (probe_single_byte(key, *cs)) {
      cs->Kind = CharsetKind::SingleByte;
    } else {
      IconvHandle cd("UTF-16LE", key.c_str());
      if (!cd.ok()) return nullptr;
      cs->Kind = CharsetKind::MultiByte;
    }
  }
  return cache.emplace(key, std::move(cs)).first->second.get();
}

void append_utf16(std::u16string& out, std::string_view bytes, bool bigEndian) {
  const std::size_t n = bytes.size() / 2;
  out.reserve(out.size() + n + 1);
  for (std::size_t i = 0; i < n; ++i) {
    const auto a = static_cast<unsigned char>(bytes[2 * i]);
    const auto b = static_cast<unsigned char>(bytes[2 * i + 1]);
    out.push_back(static_cast<char16_t>(bigEndian ? (a << 8 | b) : (b << 8 | a)));
  }
  if (bytes.size() % 2) out.push_back(kReplacement);
}

std::u16string decode_with_iconv(std::string_view bytes, const std::string& name) {
  IconvHandle cd("UTF-16LE", name.c_str());
  std::u16string out;
  if (!cd.ok()) return out;
  std::string buf(bytes.size() * 4 + 16, '\0');
  char* ip = const_cast<char*>(bytes.data());
  std::size_t il = bytes.size();
  while (il > 0) {
    char* op = buf.data();
    std::size_t ol = buf.size();
    const std::size_t r = iconv(cd.get(), &ip, &il, &op, &ol);
    append_utf16(out, std::string_view(buf.data(), static_cast<std::size_t>(op - buf.data())), false);
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    out.push_back(kReplacement);  // EILSEQ: skip the byte; EINVAL: a truncated tail
    if (errno == EINVAL) break;
    ++ip;
    --il;
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
  }
  return out;
}

bool encode_with_iconv(std::u16string_view text, const std::string& name, std::string& out) {
  IconvHandle cd(name.c_str(), "UTF-16LE");
  if (!cd.ok()) return false;
  std::string in;
  in.reserve(text.size() * 2);
  for (char16_t u : text) {
    in.push_back(static_cast<char>(u & 0xFF));
    in.push_back(static_cast<char>(u >> 8));
  }
  bool all = true;
  std::string buf(in.size() * 2 + 16, '\0');
  char* ip = in.data();
  std::size_t il = in.size();
  while (il > 0) {
    char* op = buf.data();
    std::size_t ol = buf.size();
    const std::size_t r = iconv(cd.get(), &ip, &il, &op, &ol);
    out.append(buf.data(), static_cast<std::size_t>(op - buf.data()));
    if (r != static_cast<std::size_t>(-1)) break;
    if (errno == E2BIG) continue;
    all = false;
    out.push_back('?');
    // Skip the unit, or the whole pair when it starts a valid surrogate pair.
    std::size_t skip = 2;
    const char16_t u =
        static_cast<char16_t>(static_cast<unsigned char>(ip[0]) | static_cast<unsigned char>(ip[1]) << 8);
    if (u >= 0xD800 && u < 0xDC00 && il >= 4) {
      const char16_t v =
          static_cast<char16_t>(static_cast<unsigned char>(ip[2]) | static_cast<unsigned char>(ip[3]) << 8);
      if (v >= 0xDC00 && v < 0xE000) skip = 4;
    }
    if (skip > il) skip = il;
    ip += skip;
    il -= skip;
    iconv(cd.get(), nullptr, nullptr, nullptr, nullptr);
  }
  // Flush a stateful encoding's shift state.
  char* op = buf.data();
  std::size_t ol = buf.size();
  iconv(cd.get(), nullptr, nullptr, &op, &ol);
  out.append(buf.data(), static_cast<std::size_t>(op - buf.data()));
  return all;
}

bool has_unpaired_surrogate(std::u16string_view s) {
  for (std::size_t i = 0; i < s.size(); ++i) {
    const char16_t u = s[i];
    if (u >= 0xD800 && u < 0xDC00) {
      if (i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
        ++i;
        continue;
      }
      return true;
    }
    if (u >= 0xDC00 && u < 0xE000) return true;
  }
  return false;
}

}  // namespace

std::u16string decode_bytes(std::string_view bytes, std::string_view charset) {
  const Charset* cs = find_charset(charset);
  std::u16string out;
  if (!cs) {
    out.reserve(bytes.size());
    for (char b : bytes)
      out.push_back(static_cast<unsigned char>(b) < 0x80 ? static_cast<char16_t>(b) : kReplacement);
    return out;
  }
  switch (cs->Kind) {
    case CharsetKind::Utf8:
      return utf8_to_utf16(bytes);
    case CharsetKind::Utf16LE:
      append_utf16(out, bytes, false);
      return out;
    case CharsetKind::Utf16BE:
      append_utf16(out, bytes, true);
      return out;
    case CharsetKind::SingleByte:
      out.resize(bytes.size());
      for (std::size_t i = 0; i < bytes.size(); ++i) out[i] = cs->Table[static_cast<unsigned char>(bytes[i])];
      return out;
    case CharsetKind::MultiByte:
      break;
  }
  return decode_with_iconv(bytes, cs->IconvName);
}

bool encode_text(std::u16string_view text, std::string_view charset, std::string& out) {
  out.clear();
  const Charset* cs = find_charset(charset);
  if (!cs) {
    for (char16_t u : text) out.push_back(u < 0x80 ? static_cast<char>(u) : '?');
    return false;
  }
  switch (cs->Kind) {
    case CharsetKind::Utf8:
      out = utf16_to_utf8(text);
      return !has_unpaired_surrogate(text);
    case CharsetKind::Utf16LE:
    case CharsetKind::Utf16BE: {
      const bool be = cs->Kind == CharsetKind::Utf16BE;
      out.reserve(text.size() * 2);
      for (char16_t u : text) {
        const char hi = static_cast<char>(u >> 8), lo = static_cast<char>(u & 0xFF);
        out.push_back(be ? hi : lo);
        out.push_back(be ? lo : hi);
      }
      return !has_unpaired_surrogate(text);
    }
    case CharsetKind::SingleByte: {
      bool all = true;
      out.reserve(text.size());
      for (char16_t u : text) {
        if (u < 256 && cs->Table[u] == u) {
          out.push_back(static_cast<char>(u));
        } else if (auto it = cs->Reverse.find(u); it != cs->Reverse.end()) {
          out.push_back(static_cast<char>(it->second));
        } else {
          out.push_back('?');
          all = false;
        }
      }
      return all;
    }
    case CharsetKind::MultiByte:
      break;
  }
  return encode_with_iconv(text, cs->IconvName, out);
}

bool charset_known(std::string_view charset) { return find_charset(charset) != nullptr; }

std::string ansi_code_page() {
  const char* env = std::getenv("QNINET_ANSI_CODEPAGE");
  if (!env || !*env) return "windows-1252";
  const std::string_view v(env);
  if (v.find_first_not_of("0123456789") == std::string_view::npos && v.size() <= 6)
    return code_page_name(std::atoi(env));
  return std::string(v);
}

std::string code_page_name(int codePage) {
  switch (codePage) {
    case 65001:
      return "UTF-8";
    case 1200:
      return "UTF-16LE";
    case 1201:
      return "UTF-16BE";
    case 20127:
      return "US-ASCII";
    default:
      break;
  }
  if (codePage >= 28591 && codePage <= 28606) return "ISO-8859-" + std::to_string(codePage - 28590);
  return "windows-" + std::to_string(codePage);
}

const char16_t* single_byte_table(std::string_view charset) {
  const Charset* cs = find_charset(charset);
  return cs && cs->Kind == CharsetKind::SingleByte ? cs->Table.data() : nullptr;
}

}  // namespace qninet::sys
