#pragma once
// minisign public keys and signatures (Ed25519 over a file, or over its BLAKE2b-512 digest) and
// the file digests an update is pinned to, over OpenSSL. Files are read in bounded chunks.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "qninet/sys/Result.h"

namespace qninet::sys {

/// A minisign public key: the key id the signatures name and the Ed25519 key.
struct MinisignKey {
  std::array<std::uint8_t, 8> KeyId{};
  std::array<std::uint8_t, 32> Key{};
};

/// A minisign signature file: the signature of the file (prehashed "ED" or legacy "Ed"), the key
/// id it names, the trusted comment and the global signature over both.
struct MinisignSignature {
  bool Prehashed = true;
  std::array<std::uint8_t, 8> KeyId{};
  std::array<std::uint8_t, 64> Signature{};
  std::string TrustedComment;
  std::array<std::uint8_t, 64> GlobalSignature{};
};

/// Reads a public key: the Base64 line minisign prints, or the whole .pub file (its untrusted
/// comment line first). The failure says what is wrong with it.
Result<MinisignKey> parse_minisign_key(std::string_view text);
/// Reads a .minisig file: untrusted comment, signature, trusted comment, global signature.
Result<MinisignSignature> parse_minisign_signature(std::string_view text);
/// The key id as minisign prints it (16 upper-case hex digits).
std::string minisign_key_id_text(const std::array<std::uint8_t, 8>& id);

/// Why a file does not verify.
enum class SignatureCheck : std::uint8_t { Good, OtherKey, BadGlobal, BadSignature, Unreadable };
/// Checks the signature of the file at `path` under `key`: the key id, the global signature over
/// the signature and the trusted comment, then the file's (its BLAKE2b-512 digest, read in
/// chunks, for "ED"; its bytes, mapped, for "Ed").
SignatureCheck verify_minisign_file(const std::string& path, const MinisignKey& key,
                                    const MinisignSignature& signature);

/// SHA-256 of the file at `path` as 64 lower-case hex digits, read in chunks.
Result<std::string> file_sha256_hex(const std::string& path);

}  // namespace qninet::sys
