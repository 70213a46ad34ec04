#pragma once
// What a downloaded file must be before it may replace a local file: the SHA-256 digest its
// publisher announced, and a minisign signature under the publisher's public key, fetched
// beside the file through the same connection.

#include "qninet/core/Outcome.h"
#include "qninet/rtl/SysUtils.h"

namespace qninet {

struct TQNWebConnection;

/// The digest and the key an updater is pinned to, and the trusted comment of the last
/// signature that verified.
class QNINET_API TQNUpdatePin {
public:
  const String& ExpectedSHA256() const { return FExpectedSHA256; }
  /// Stores 64 hex digits (in lower case; empty: no digest). Raises `EConvertError` for any
  /// other text, changing nothing.
  void SetExpectedSHA256(const String& value);
  const String& PublicKey() const { return FPublicKey; }
  /// Stores a minisign public key: the Base64 line minisign prints, or its whole .pub file
  /// (empty: no signature needed). Raises `EConvertError` saying what is wrong, changing nothing.
  void SetPublicKey(const String& value);
  const String& SignatureURL() const { return FSignatureURL; }
  /// Where the signature is (empty: the file's URL + ".minisig"). Raises `EConvertError` for a
  /// text that is no absolute http, https, ftp or file URL, changing nothing.
  void SetSignatureURL(const String& value);
  /// The trusted comment of the signature that verified in the last run; empty otherwise.
  const String& TrustedComment() const { return FTrustedComment; }
  void ClearTrustedComment() { FTrustedComment.clear(); }

  /// Whether a digest or a key is set.
  bool Active() const { return !FExpectedSHA256.empty() || !FPublicKey.empty(); }
  /// Checks the local file at `path` (UTF-8): its SHA-256, then its signature, fetched through
  /// a source over a copy of `connection` (for the file's own URL + ".minisig", or
  /// `SignatureURL`). Found when everything set holds, and the trusted comment is kept;
  /// otherwise Failed (or Cancelled) with a text that says why.
  TQNIOutcome Check(const TQNWebConnection& connection, const std::string& path);

private:
  String FExpectedSHA256;
  String FPublicKey;
  String FSignatureURL;
  String FTrustedComment;
};

}  // namespace qninet
