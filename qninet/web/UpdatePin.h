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
  /// 64 hex digits, either case; empty: no digest.
  const String& ExpectedSHA256() const { return FExpectedSHA256; }
  /// Sets `ExpectedSHA256`.
  void SetExpectedSHA256(const String& value) { FExpectedSHA256 = value; }
  /// A minisign public key: the Base64 line minisign prints, or its whole .pub file; empty: no
  /// signature needed.
  const String& PublicKey() const { return FPublicKey; }
  /// Sets `PublicKey`.
  void SetPublicKey(const String& value) { FPublicKey = value; }
  /// Where the signature is; empty: the file's URL + ".minisig".
  const String& SignatureURL() const { return FSignatureURL; }
  /// Sets `SignatureURL`.
  void SetSignatureURL(const String& value) { FSignatureURL = value; }
  /// Why a value set above cannot be used (a digest that is not 64 hex digits, a text that is
  /// no minisign key, a signature URL that is not an absolute http, https, ftp or file URL);
  /// empty when all can. A run with such a value fails with this text.
  String Problem() const;
  /// The trusted comment of the signature that verified in the last run; empty otherwise.
  const String& TrustedComment() const { return FTrustedComment; }
  /// Forgets the trusted comment of the last run.
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
