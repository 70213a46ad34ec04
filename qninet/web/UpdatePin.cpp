#include "qninet/web/UpdatePin.h"

#include "qninet/core/Url.h"
#include "qninet/sys/Signature.h"
#include "qninet/web/WebSource.h"

namespace qninet {
namespace {

// A signature file is four short lines; anything much larger is not one.
constexpr std::uint64_t kMaxSignatureSize = 64 * 1024;

const char16_t* const kDoesNotVerify = u"The signature does not verify with the given public key";

// The URL as a user reads it, without credentials.
std::string shown(const Url& url) {
  if (url.Scheme() == "file") return "file://" + url.Path();
  return url.Scheme() + "://" + url.Endpoint().ToString() + url.Target();
}

}  // namespace

String TQNUpdatePin::Problem() const {
  for (const char16_t c : FExpectedSHA256)
    if (!((c >= u'0' && c <= u'9') || (c >= u'a' && c <= u'f') || (c >= u'A' && c <= u'F')))
      return Format(u"Invalid SHA-256 \"%s\": not a hex digit", FExpectedSHA256);
  if (!FExpectedSHA256.empty() && FExpectedSHA256.size() != 64)
    return Format(u"Invalid SHA-256 \"%s\": %d hex digits, not 64", FExpectedSHA256,
                  static_cast<Int64>(FExpectedSHA256.size()));
  if (!FPublicKey.empty())
    if (const auto key = sys::parse_minisign_key(ToUtf8(FPublicKey)); !key)
      return Format(u"Invalid minisign public key: %s", key.failure().Text);
  if (!FSignatureURL.empty()) {
    String why;
    const auto url = Url::Parse(ToUtf8(FSignatureURL), &why);
    if (!url) return Format(u"Invalid URL \"%s\": %s", FSignatureURL, why);
    if (!ServiceOfScheme(url->Scheme()))
      return Format(u"Cannot use \"%s\": unsupported scheme \"%s\" (http, https, ftp or file)", FSignatureURL,
                    FromUtf8(url->Scheme()));
  }
  return {};
}

TQNIOutcome TQNUpdatePin::Check(const TQNWebConnection& connection, const std::string& path) {
  FTrustedComment.clear();
  if (const String why = Problem(); !why.empty()) return TQNIOutcome::Failed(why);
  if (!FExpectedSHA256.empty()) {
    const auto digest = sys::file_sha256_hex(path);
    if (!digest) return TQNIOutcome::Failed(digest.failure().Text);
    if (!SameText(FromUtf8(*digest), FExpectedSHA256))
      return TQNIOutcome::Failed(Format(u"The SHA-256 digest of the file is %s, not the expected %s",
                                        FromUtf8(*digest), FExpectedSHA256));
  }
  if (FPublicKey.empty()) return {};
  const auto key = sys::parse_minisign_key(ToUtf8(FPublicKey));
  if (!key) return TQNIOutcome::Failed(key.failure().Text);

  // The signature comes over the same connection (proxy, credentials, time limits, cancel);
  // a URL of its own brings its own credentials, so none leak to another host.
  TQNWebConnection beside = connection;
  beside.Pin = nullptr;
  if (FSignatureURL.empty()) {
    beside.Target.SetPath(connection.Target.Path() + ".minisig");
    beside.Target.SetQuery({});
  } else {
    beside.Target = *Url::Parse(ToUtf8(FSignatureURL));
    beside.Service = *ServiceOfScheme(beside.Target.Scheme());
  }
  const String where = FromUtf8(shown(beside.Target));
  TStringStream body;
  const auto source = MakeWebSource(beside);
  TQNIOutcome fetched;
  try {
    fetched = source->Connect();
    if (fetched) fetched = source->Open(0);
    if (fetched) fetched = source->ReadAll(body, kMaxSignatureSize);
  } catch (const std::exception& e) {  // a path's source raises for a file it cannot open
    fetched = TQNIOutcome::Failed(FromUtf8(e.what()));
  }
  if (fetched.Kind() == TQNIOutcomeKind::Cancelled) return fetched;
  if (fetched.Kind() == TQNIOutcomeKind::NotFound || (fetched && body.Bytes().empty()))
    return TQNIOutcome::Failed(u"No signature at " + where);
  if (!fetched) return TQNIOutcome::Failed(u"No signature at " + where + u": " + fetched.Text());

  const auto signature = sys::parse_minisign_signature(body.Bytes());
  if (!signature)
    return TQNIOutcome::Failed(u"Malformed signature at " + where + u": " + signature.failure().Text);
  switch (sys::verify_minisign_file(path, *key, *signature)) {
    case sys::SignatureCheck::Good:
      FTrustedComment = FromUtf8(signature->TrustedComment);
      return {};
    case sys::SignatureCheck::OtherKey:
      return TQNIOutcome::Failed(Format(u"%s (the signature names key %s, the key is %s)",
                                        String(kDoesNotVerify),
                                        FromUtf8(sys::minisign_key_id_text(signature->KeyId)),
                                        FromUtf8(sys::minisign_key_id_text(key->KeyId))));
    case sys::SignatureCheck::Unreadable:
      return TQNIOutcome::Failed(Format(u"Cannot read \"%s\"", FromUtf8(path)));
    default:
      return TQNIOutcome::Failed(kDoesNotVerify);
  }
}

}  // namespace qninet
