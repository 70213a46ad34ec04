#pragma once
// The translator client: translate, detect the language, list the languages and speak a text
// through a service that keeps the wire contract of the Microsoft Translator V2 HTTP API.

#include <string_view>
#include <utility>
#include <vector>

#include "qninet/rtl/Strings.h"
#include <optional>

#include "qninet/core/Url.h"
#include "qninet/web/qniupdate.h"

namespace qninet {

/// Which of the service's interfaces the translator speaks: the V2 HTTP API or the JSON API
/// (version 3).
enum TQNTranslatorApi : std::uint8_t { taV2, taV3 };
QNINET_DECLARE_ENUM_INFO(TQNTranslatorApi)

/// The service's default base URL; that service has been retired by its operator, so an
/// application points `Host` at a compatible one.
inline constexpr const char16_t* kQNMSTranslatorBaseURL = u"https://api.microsofttranslator.com/v2/Http.svc";
/// The base URL of the service's current JSON API (version 3), `Host`'s default there.
inline constexpr const char16_t* kQNMSTranslatorV3BaseURL = u"https://api.cognitive.microsofttranslator.com";

/// A client of the translator's HTTP interface. `Host` holds the whole base URL (no trailing
/// slash); each method sends one GET to the base URL followed by the operation and its query,
/// every query value percent-encoded as UTF-8. Each method sets `Status` to `isFinished` or,
/// when the service cannot be reached, answers with an HTTP status of 400 or more, or answers
/// with something else than the expected element, to `isFailed` with the service's message in
/// `LastErrorText`. `Execute` does nothing.
///
/// With `ApiVersion` `taV3` the same methods speak the current JSON API: a POST of
/// `[{"Text": ...}]` to "/translate?api-version=3.0&to=...[&from=...]" or
/// "/detect?api-version=3.0" with the key in `Ocp-Apim-Subscription-Key` (and `Region` in
/// `Ocp-Apim-Subscription-Region` when set), and a GET of
/// "/languages?api-version=3.0&scope=translation". The service's error object fails the call
/// with "HTTP STATUS: MESSAGE (CODE)". That API speaks nothing: `SpeakText` and
/// `GetLanguagesForSpeak` fail before anything is sent.
class QNINET_API TQNMSTranslator : public TQNCustomWebComponent {
  QNINET_OBJECT(TQNMSTranslator, TQNCustomWebComponent)
public:
  /// Creates the component; `AOwner` (or none) owns it and destroys it with itself.
  explicit TQNMSTranslator(TComponent* AOwner);
  ~TQNMSTranslator() override;

  /// The application identifier sent as `appId`.
  const String& BingAppId() const { return FBingAppId; }
  /// Sets `BingAppId`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetBingAppId(const String& value) {
    RefuseWriteWhileRunning(*this);
    FBingAppId = value;
  }
  /// The interface spoken. Switching moves a `Host` still at one version's default to the
  /// other's.
  TQNTranslatorApi ApiVersion() const { return FApiVersion; }
  /// Sets `ApiVersion`.
  void SetApiVersion(TQNTranslatorApi value);
  /// Version 3: the resource's key, sent as `Ocp-Apim-Subscription-Key`.
  const String& SubscriptionKey() const { return FSubscriptionKey; }
  /// Sets `SubscriptionKey`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetSubscriptionKey(const String& value) {
    RefuseWriteWhileRunning(*this);
    FSubscriptionKey = value;
  }
  /// Version 3: the resource's region, sent as `Ocp-Apim-Subscription-Region` when not empty.
  const String& Region() const { return FRegion; }
  /// Sets `Region`. Raises `EInvalidOperation` while an asynchronous run is in progress.
  void SetRegion(const String& value) {
    RefuseWriteWhileRunning(*this);
    FRegion = value;
  }
  /// Version 3: the language the service found for the last `TranslateText` without a source
  /// language; empty otherwise.
  const String& DetectedLanguage() const { return FDetectedLanguage; }

  /// The text translated from `SourceLng` to `DestLng`; empty on a failure.
  String TranslateText(const String& AText, const String& SourceLng, const String& DestLng);
  /// The code of the text's language; empty on a failure.
  String DetectLanguage(const String& AText);
  /// Replaces the entries of `AList` by the codes the service translates; a null list makes
  /// no request. On a failure the list is left empty.
  void GetLanguagesForTranslate(TStrings* AList);
  /// The same for the languages the service speaks.
  void GetLanguagesForSpeak(TStrings* AList);
  /// Writes the spoken text (the service's audio bytes) to `DestFileName`. The audio goes to a
  /// temporary file beside it first, which replaces the file only when the whole answer came
  /// with a success status; on a failure the file stays as it was. Raises `EFCreateError`
  /// before any request when no file can be created in that folder.
  void SpeakText(const String& Language, const String& DestFileName, const String& AText);

  /// Reads an answer body that came whole with a success status: adds the text of its `Tag`
  /// element ("string"), or of each "string" child of it ("ArrayOfstring"), to `Values`. False
  /// with the service's message, or a note that the element is missing, in `Why`.
  static bool ReadAnswer(std::string_view Body, const char16_t* Tag, TStrings* Values, String& Why);
  /// The service's message in an error answer's body, as one line; empty when it says none.
  static String ErrorMessage(std::string_view Body);
  /// Version 3: the values a JSON answer body of `Operation` ("translate", "detect",
  /// "languages") gives: the translation and the detected language, the language, or every
  /// language code. False with why in `Why` for an error object or another shape; raises
  /// `EReadError` naming `Endpoint` for text that is no JSON or nests too deep.
  static bool ReadJsonAnswer(std::string_view Body, const char* Operation, const std::string& Endpoint,
                             TStrings* Values, String& Why);

protected:
  /// The methods are the component's whole function.
  void InternalExecute() override {}

private:
  std::optional<Url> request_url(const char* operation,
                                 const std::vector<std::pair<const char*, String>>& query);
  bool fetch_element(std::optional<Url> url, const char16_t* tag, TStrings* values);
  // Empties `body` once the answer is read: the callers' copy of it is done with by then.
  static bool read_answer(TMemoryStream& body, const char16_t* Tag, TStrings* Values, String& Why);
  void begin_call();
  void end_call(bool ok, const String& why = {});
  bool call_v3(const char* method, const char* operation, const String& text, const String& to,
               const String& from, TStrings* values);
  bool refuse_on_v3(const char* method);

  String FBingAppId;
  TQNTranslatorApi FApiVersion = taV2;
  String FSubscriptionKey, FRegion, FDetectedLanguage;
};

}  // namespace qninet
