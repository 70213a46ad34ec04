#include "qninet/sys/Signature.h"

#include <fcntl.h>
#include <openssl/evp.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <memory>
#include <vector>

#include "qninet/sys/Utf8.h"

namespace qninet::sys {
namespace {

constexpr std::size_t kChunk = 256 * 1024;

Failure bad(const std::string& why) { return Failure{0, utf8_to_utf16(why)}; }

// Strict Base64 (RFC 4648 section 4): padded, no other characters.
bool base64_decode(std::string_view text, std::vector<std::uint8_t>& out) {
  if (text.empty() || text.size() % 4 != 0) return false;
  auto value = [](char c) -> int {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return -1;
  };
  out.clear();
  for (std::size_t i = 0; i < text.size(); i += 4) {
    const bool last = i + 4 == text.size();
    int v[4];
    int pad = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = text[i + k];
      if (c == '=' && last && k >= 2) {
        v[k] = 0;
        ++pad;
      } else if (pad > 0 || (v[k] = value(c)) < 0) {
        return false;
      }
    }
    const std::uint32_t n = (v[0] << 18) | (v[1] << 12) | (v[2] << 6) | v[3];
    out.push_back(static_cast<std::uint8_t>(n >> 16));
    if (pad < 2) out.push_back(static_cast<std::uint8_t>(n >> 8));
    if (pad < 1) out.push_back(static_cast<std::uint8_t>(n));
  }
  return true;
}

// The lines of a text, without their line ends ("\n" or "\r\n").
std::vector<std::string_view> lines_of(std::string_view text) {
  std::vector<std::string_view> lines;
  while (!text.empty()) {
    const auto end = text.find('\n');
    std::string_view line = text.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    lines.push_back(line);
    if (end == std::string_view::npos) break;
    text.remove_prefix(end + 1);
  }
  return lines;
}

std::string_view trimmed(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t')) s.remove_prefix(1);
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t')) s.remove_suffix(1);
  return s;
}

bool ed25519_verify(const std::array<std::uint8_t, 32>& key, const std::uint8_t* signature,
                    const unsigned char* message, std::size_t size) {
  std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)> pkey(
      EVP_PKEY_new_raw_public_key(EVP_PKEY_ED25519, nullptr, key.data(), key.size()), EVP_PKEY_free);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (!pkey || !ctx || EVP_DigestVerifyInit(ctx.get(), nullptr, nullptr, nullptr, pkey.get()) != 1)
    return false;
  return EVP_DigestVerify(ctx.get(), signature, 64, message, size) == 1;
}

class OpenFile {
public:
  explicit OpenFile(const std::string& path) : FFd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~OpenFile() {
    if (FFd >= 0) ::close(FFd);
  }
  OpenFile(const OpenFile&) = delete;
  OpenFile& operator=(const OpenFile&) = delete;
  int Fd() const { return FFd; }

private:
  int FFd;
};

// Feeds the file to `md` in chunks; false when it cannot be read.
bool digest_file(const std::string& path, const EVP_MD* md, std::vector<unsigned char>& out) {
  const OpenFile file(path);
  std::unique_ptr<EVP_MD_CTX, decltype(&EVP_MD_CTX_free)> ctx(EVP_MD_CTX_new(), EVP_MD_CTX_free);
  if (file.Fd() < 0 || !ctx || EVP_DigestInit_ex(ctx.get(), md, nullptr) != 1) return false;
  std::vector<char> buffer(kChunk);
  for (;;) {
    const ssize_t n = ::read(file.Fd(), buffer.data(), buffer.size());
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) break;
    if (EVP_DigestUpdate(ctx.get(), buffer.data(), static_cast<std::size_t>(n)) != 1) return false;
  }
  out.resize(EVP_MAX_MD_SIZE);
  unsigned int size = 0;
  if (EVP_DigestFinal_ex(ctx.get(), out.data(), &size) != 1) return false;
  out.resize(size);
  return true;
}

// A legacy signature covers the bytes themselves, which Ed25519 reads twice: the file is mapped,
// so its pages stay the page cache's and are never copied into the process.
bool verify_whole_file(const std::string& path, const MinisignKey& key, const std::uint8_t* signature,
                       bool& readable) {
  const OpenFile file(path);
  struct stat st {};
  readable = file.Fd() >= 0 && ::fstat(file.Fd(), &st) == 0;
  if (!readable) return false;
  const auto size = static_cast<std::size_t>(st.st_size);
  if (size == 0) return ed25519_verify(key.Key, signature, reinterpret_cast<const unsigned char*>(""), 0);
  void* map = ::mmap(nullptr, size, PROT_READ, MAP_PRIVATE, file.Fd(), 0);
  readable = map != MAP_FAILED;
  if (!readable) return false;
  ::madvise(map, size, MADV_SEQUENTIAL);
  const bool good = ed25519_verify(key.Key, signature, static_cast<const unsigned char*>(map), size);
  ::munmap(map, size);
  return good;
}

}  // namespace

Result<MinisignKey> parse_minisign_key(std::string_view text) {
  // The .pub file's last line, or the line alone.
  std::string_view line;
  for (const auto l : lines_of(text))
    if (!trimmed(l).empty()) line = trimmed(l);
  std::vector<std::uint8_t> bytes;
  if (line.empty()) return bad("the public key is empty");
  if (!base64_decode(line, bytes)) return bad("the public key is not Base64");
  if (bytes.size() != 42 || bytes[0] != 'E' || bytes[1] != 'd')
    return bad("the public key is not a minisign Ed25519 key (42 bytes starting with \"Ed\")");
  MinisignKey key;
  std::copy(bytes.begin() + 2, bytes.begin() + 10, key.KeyId.begin());
  std::copy(bytes.begin() + 10, bytes.end(), key.Key.begin());
  return key;
}

Result<MinisignSignature> parse_minisign_signature(std::string_view text) {
  const auto lines = lines_of(text);
  constexpr std::string_view kUntrusted = "untrusted comment: ", kTrusted = "trusted comment: ";
  if (lines.size() < 4 || !lines[0].starts_with(kUntrusted) || !lines[2].starts_with(kTrusted))
    return bad("not a minisign signature (untrusted comment, signature, trusted comment, global signature)");
  for (std::size_t i = 4; i < lines.size(); ++i)
    if (!trimmed(lines[i]).empty()) return bad("more than four lines");
  std::vector<std::uint8_t> sig, global;
  if (!base64_decode(trimmed(lines[1]), sig) || sig.size() != 74)
    return bad("the signature line is not 74 bytes of Base64");
  if (!base64_decode(trimmed(lines[3]), global) || global.size() != 64)
    return bad("the global signature line is not 64 bytes of Base64");
  MinisignSignature s;
  if (sig[0] != 'E' || (sig[1] != 'D' && sig[1] != 'd'))
    return bad("the signature algorithm is neither \"ED\" nor \"Ed\"");
  s.Prehashed = sig[1] == 'D';
  std::copy(sig.begin() + 2, sig.begin() + 10, s.KeyId.begin());
  std::copy(sig.begin() + 10, sig.end(), s.Signature.begin());
  s.TrustedComment = std::string(lines[2].substr(kTrusted.size()));
  std::copy(global.begin(), global.end(), s.GlobalSignature.begin());
  return s;
}

std::string minisign_key_id_text(const std::array<std::uint8_t, 8>& id) {
  // minisign prints the little-endian number the bytes make.
  static const char digits[] = "0123456789ABCDEF";
  std::string text;
  for (auto b = id.rbegin(); b != id.rend(); ++b) {
    text += digits[*b >> 4];
    text += digits[*b & 15];
  }
  return text;
}

SignatureCheck verify_minisign_file(const std::string& path, const MinisignKey& key,
                                    const MinisignSignature& signature) {
  if (signature.KeyId != key.KeyId) return SignatureCheck::OtherKey;
  std::string signed_part(signature.Signature.begin(), signature.Signature.end());
  signed_part += signature.TrustedComment;
  if (!ed25519_verify(key.Key, signature.GlobalSignature.data(),
                      reinterpret_cast<const unsigned char*>(signed_part.data()), signed_part.size()))
    return SignatureCheck::BadGlobal;
  bool good = false, readable = true;
  if (signature.Prehashed) {
    std::vector<unsigned char> hash;
    readable = digest_file(path, EVP_blake2b512(), hash);
    good = readable && ed25519_verify(key.Key, signature.Signature.data(), hash.data(), hash.size());
  } else {
    good = verify_whole_file(path, key, signature.Signature.data(), readable);
  }
  if (!readable) return SignatureCheck::Unreadable;
  return good ? SignatureCheck::Good : SignatureCheck::BadSignature;
}

Result<std::string> file_sha256_hex(const std::string& path) {
  std::vector<unsigned char> hash;
  if (!digest_file(path, EVP_sha256(), hash)) return bad("Cannot read \"" + path + "\"");
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char b : hash) {
    hex += digits[b >> 4];
    hex += digits[b & 15];
  }
  return hex;
}

}  // namespace qninet::sys
