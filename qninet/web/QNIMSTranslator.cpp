#include "qninet/web/QNIMSTranslator.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "qninet/rtl/JsonText.h"
#include "qninet/sys/FileReplace.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/Memory.h"
#include "qninet/sys/TextDecoding.h"
#include "qninet/sys/UrlParser.h"
#include "qninet/web/ServiceRequest.h"
#include "qninet/web/WebDownload.h"
#include "qninet/xml/QNInetXML.h"
#include "qninet/xml/XMLDocument.h"

namespace qninet {

QNINET_DEFINE_ENUM_INFO(TQNTranslatorApi, "taV2", "taV3")
QNINET_CLASS_INFO(TQNMSTranslator,
                  Published("Agent", &Self::Agent, &Self::SetAgent, String(u"Veltraxon Tracker")),
                  Published("Port", &Self::Port, &Self::SetPort, 443),
                  Published("Service", &Self::Service, &Self::SetService, isHTTPS),
                  Published("Host", &Self::Host, &Self::SetHost, String(kQNMSTranslatorBaseURL)),
                  Published("BingAppId", &Self::BingAppId, &Self::SetBingAppId,
                            String(u"5F0B2D9E81C4A6370E9D2B5C8A1F4E6D03B7C9A2")),
                  Published("ApiVersion", &Self::ApiVersion, &Self::SetApiVersion, taV2),
                  Published("SubscriptionKey", &Self::SubscriptionKey, &Self::SetSubscriptionKey),
                  Published("Region", &Self::Region, &Self::SetRegion))

namespace {

// An error page is read for its message, never kept whole.
constexpr std::size_t kErrorBodyLimit = 64 * 1024;

// An element's text as one line of a message: line breaks and runs of blanks become one blank.
String element_text(const TQNXMLItem& item) {
  String out;
  for (char16_t c : DecodeXMLEntities(item.ValueText())) {
    const bool blank = c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
    if (!blank)
      out += c;
    else if (!out.empty() && out.back() != u' ')
      out += u' ';
  }
  return Trim(out);
}

// Pre-order, without recursion: error pages nest as deep as they like.
template <class Visit>
void walk(TQNXMLItem* root, Visit visit) {
  std::vector<TQNXMLItem*> stack{root};
  while (!stack.empty()) {
    TQNXMLItem* item = stack.back();
    stack.pop_back();
    if (visit(*item)) return;
    for (int i = item->Items()->Count() - 1; i >= 0; --i) stack.push_back((*item->Items())[i]);
  }
}

// The message of an error answer: the "Message:" paragraph of the service's error page, else
// the reason of a fault document, else the page's heading or title.
String service_message(const TQNXMLEngine& engine) {
  String message;
  walk(engine.RootItem(), [&](const TQNXMLItem& item) {
    const String text = element_text(item);
    if (SameText(item.TagName(), u"p") && text.rfind(u"Message:", 0) == 0) message = Trim(text.substr(8));
    return !message.empty();
  });
  for (const char16_t* tag : {u"faultstring", u"Text", u"Message", u"h1", u"title"}) {
    if (!message.empty()) break;
    if (const TQNXMLItem* item = engine.GetItemByTag(nullptr, tag)) message = element_text(*item);
  }
  return message;
}

// "HTTP 400: the service's message" for an answer with an error status; reads its body.
String refusal(TQNWebSource& answer) {
  TMemoryStream body;
  std::vector<char> buffer(kQNIBlockSize);
  std::size_t got = 0;
  while (body.Size() < static_cast<Int64>(kErrorBodyLimit) &&
         answer.Read(buffer.data(), buffer.size(), got) && got > 0)
    body.WriteBuffer(buffer.data(), static_cast<Int64>(got));
  const String message = TQNMSTranslator::ErrorMessage(body.Bytes());
  const String status = u"HTTP " + IntToStr(static_cast<Integer>(answer.StatusCode()));
  return message.empty() ? status : status + u": " + message;
}

// The audio answer as the download's source: the request goes out when the temporary file
// beside the destination exists, and an error status fails before a byte is written.
class SpeechSource final : public TQNWebSource {
public:
  explicit SpeechSource(TQNServiceCall& call) : TQNWebSource(call.Source().Connection()), FCall(call) {}
  TQNIOutcome Connect() override { return {}; }
  TQNIOutcome Lookup(std::uint64_t&, TFileTime&) override { return TQNIOutcome::Failed({}); }
  TQNIOutcome Open(std::uint64_t) override {
    if (auto sent = FCall.Send({}); !sent) return sent;
    if (FCall.Source().StatusCode() >= 400) return TQNIOutcome::Failed(refusal(FCall.Source()));
    return {};
  }
  TQNIOutcome Read(char* buffer, std::size_t size, std::size_t& read) override {
    return FCall.Bounded(FCall.Source().Read(buffer, size, read));
  }

private:
  TQNServiceCall& FCall;
};

// "MESSAGE (CODE)" of the service's error object; its code is a number in the documents.
String error_object_text(const nlohmann::json& error) {
  const String message = JsonText(&error, "message");
  String code;
  if (const nlohmann::json* c = JsonMember(&error, "code"); c && !c->is_null())
    code = c->is_string() ? FromUtf8(c->get_ref<const std::string&>()) : FromUtf8(c->dump());
  if (code.empty()) return message.empty() ? String(u"The service refused the request") : message;
  return message.empty() ? u"Error " + code : message + u" (" + code + u")";
}

// What the JSON answers are read for: an error object, the language codes (the keys of
// "translation"), or the first element of the list that translate and detect give, with the
// first of its translations. Every other value is checked and dropped, and the lists are read
// an element at a time.
enum : int { kAnswers = 1, kTranslations, kLanguages };
const TJsonShape& v3_shape() {
  using S = TJsonShape;
  static const S element{"", S::jkEither, {{"", S::jkObject, {{"text", S::jkScalar}}}, {"", S::jkNone}}};
  static const S answer{"",
                        S::jkEither,
                        {{"",
                          S::jkObject,
                          {{"language", S::jkScalar},
                           {"translations", S::jkEach, {element}, kTranslations},
                           {"detectedLanguage", S::jkObject, {{"language", S::jkScalar}}}}},
                         {"", S::jkNone}}};
  static const S shape{"",
                       S::jkEither,
                       {{"",
                         S::jkObject,
                         {{"error", S::jkObject, {{"message", S::jkScalar}, {"code", S::jkScalar}}},
                          {"translation", S::jkEachMember, {{"", S::jkNone}}, kLanguages}}},
                        {"", S::jkEach, {answer}, kAnswers}}};
  return shape;
}

}  // namespace

TQNMSTranslator::TQNMSTranslator(TComponent* AOwner)
    : TQNCustomWebComponent(AOwner), FBingAppId(u"5F0B2D9E81C4A6370E9D2B5C8A1F4E6D03B7C9A2") {
  SetAgent(u"Veltraxon Tracker");
  SetService(isHTTPS);
  SetPort(443);
  SetHost(kQNMSTranslatorBaseURL);
}

// The service's base URL (the Host property) with the operation and its query as parts.
std::optional<Url> TQNMSTranslator::request_url(const char* operation,
                                                const std::vector<std::pair<const char*, String>>& query) {
  String why;
  auto url = Url::Parse(ToUtf8(Host()), &why);
  if (!url) {
    end_call(false, why);
    return std::nullopt;
  }
  url->SetPath(url->Path() + (url->Path().ends_with('/') ? "" : "/") + operation);
  std::string text;
  for (const auto& [name, value] : query)
    text.append(text.empty() ? "" : "&")
        .append(name)
        .append(1, '=')
        .append(sys::percent_encode(ToUtf8(value)));
  url->SetQuery(std::move(text));
  return url;
}

void TQNMSTranslator::begin_call() {
  SetLastErrorText({});
  SetStatus(isInProgress);
}

void TQNMSTranslator::end_call(bool ok, const String& why) {
  if (!ok) SetLastErrorText(why);
  SetStatus(ok ? isFinished : isFailed);
}

void TQNMSTranslator::SetApiVersion(TQNTranslatorApi value) {
  RefuseWriteWhileRunning(*this);
  // A host left at one version's default follows the version; one the user chose stays.
  if (Host() == (value == taV3 ? kQNMSTranslatorBaseURL : kQNMSTranslatorV3BaseURL))
    SetHost(value == taV3 ? kQNMSTranslatorV3BaseURL : kQNMSTranslatorBaseURL);
  FApiVersion = value;
}

bool TQNMSTranslator::refuse_on_v3(const char* method) {
  if (FApiVersion != taV3) return false;
  end_call(false, FromUtf8(method) + u" is not offered by this API version (3)");
  return true;
}

// One exchange with the JSON API: the text (when `method` is POST) as the body, the key in its
// headers; the answer's values, or the service's error object as the failure.
bool TQNMSTranslator::call_v3(const char* method, const char* operation, const String& text, const String& to,
                              const String& from, TStrings* values) {
  std::vector<std::pair<const char*, String>> query{{"api-version", u"3.0"}};
  if (std::string_view(operation) == "translate") {
    query.emplace_back("to", to);
    if (!from.empty()) query.emplace_back("from", from);
  } else if (std::string_view(operation) == "languages") {
    query.emplace_back("scope", u"translation");
  }
  auto url = request_url(operation, query);
  if (!url) return false;
  const std::string endpoint = ToUtf8(Host()) + "/" + operation;
  TQNWebRequest request;
  request.Method = method;
  if (request.Method == "POST") {
    request.ContentType = "application/json; charset=UTF-8";
    nlohmann::json body = nlohmann::json::array();
    body.push_back({{"Text", ToUtf8(text)}});
    request.Body = body.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
    // The language list needs no key; the operations that cost one send it.
    request.Headers.emplace_back("Ocp-Apim-Subscription-Key", ToUtf8(FSubscriptionKey));
    if (!FRegion.empty()) request.Headers.emplace_back("Ocp-Apim-Subscription-Region", ToUtf8(FRegion));
    request.FollowRedirects = false;
  }
  TQNServiceCall call(*this, std::move(*url));
  if (const auto sent = call.Send(request); !sent) return (end_call(false, sent.Text()), false);
  const std::uint32_t status = call.Source().StatusCode();
  // A redirect is not followed (the key stays on its host): it is an answer of no use too.
  const bool refused = status < 200 || status >= 300;
  const auto progress = [this](std::uint64_t current, std::uint64_t maximum, bool& abort) {
    UpdateProgress(current, maximum, abort);
  };
  TMemoryStream body;
  const auto whole = call.ReadAll(body, progress, refused ? kErrorBodyLimit : kQNServiceAnswerLimit);
  String why;
  bool read = false;
  if (whole) {
    try {
      read = ReadJsonAnswer(body.Bytes(), operation, endpoint, values, why);
    } catch (const EReadError& e) {
      why = refused ? String() : e.Message();
    }
  } else if (!refused) {
    why = whole.Text();
  }
  if (refused) {
    read = false;
    why = u"HTTP " + IntToStr(static_cast<Integer>(status)) + (why.empty() ? String() : u": " + why);
  }
  end_call(read, why);
  return read;
}

bool TQNMSTranslator::ReadJsonAnswer(std::string_view Body, const char* Operation,
                                     const std::string& Endpoint, TStrings* Values, String& Why) {
  std::size_t answers = 0;
  nlohmann::json first, translation;
  bool translated = false;
  std::vector<std::string> codes;
  const nlohmann::json root =
      ReadJsonShaped(Body, Endpoint, "Invalid JSON answer", v3_shape(),
                     [&](const TJsonShape& from, std::string_view key, nlohmann::json&& value) {
                       if (from.Id == kLanguages) {
                         codes.emplace_back(key);
                       } else if (from.Id == kTranslations) {
                         if (answers == 0 && !translated) translation = std::move(value), translated = true;
                       } else if (answers++ == 0) {
                         first = std::move(value);
                       }
                     });
  if (const nlohmann::json* error = JsonMember(&root, "error"); error && error->is_object()) {
    Why = error_object_text(*error);
    return false;
  }
  const std::string_view op(Operation);
  if (op == "languages") {
    const nlohmann::json* listed = JsonMember(&root, "translation");
    if (!listed || !listed->is_object()) return (Why = u"The answer holds no translation languages", false);
    // As an object's members are: in byte order, each name once.
    std::sort(codes.begin(), codes.end());
    codes.erase(std::unique(codes.begin(), codes.end()), codes.end());
    for (const std::string& code : codes) Values->Add(FromUtf8(code));
    return true;
  }
  const std::string* value = op == "detect" ? JsonString(answers ? &first : nullptr, "language")
                                            : JsonString(translated ? &translation : nullptr, "text");
  if (!value) {
    Why = op == "detect" ? u"The answer holds no language" : u"The answer holds no translation";
    return false;
  }
  Values->Add(FromUtf8(*value));
  if (op == "translate") {
    const std::string* detected = JsonString(JsonMember(&first, "detectedLanguage"), "language");
    Values->Add(detected ? FromUtf8(*detected) : String());
  }
  return true;
}

// Fetches `url` and adds the text of the answer's `tag` element to `values`: the element itself
// for "string", each of its "string" children for "ArrayOfstring".
bool TQNMSTranslator::fetch_element(std::optional<Url> url, const char16_t* tag, TStrings* values) {
  if (!url) return false;
  TQNServiceCall call(*this, std::move(*url));
  TMemoryStream body;
  if (const auto sent = call.Send({}); !sent) return (end_call(false, sent.Text()), false);
  if (call.Source().StatusCode() >= 400) return (end_call(false, refusal(call.Source())), false);
  const auto progress = [this](std::uint64_t current, std::uint64_t maximum, bool& abort) {
    UpdateProgress(current, maximum, abort);
  };
  if (const auto whole = call.ReadAll(body, progress, kQNServiceAnswerLimit); !whole)
    return (end_call(false, whole.Text()), false);
  String why;
  const bool read = read_answer(body, tag, values, why);
  end_call(read, why);
  return read;
}

bool TQNMSTranslator::ReadAnswer(std::string_view Body, const char16_t* Tag, TStrings* Values, String& Why) {
  TStringStream body(Body);
  return read_answer(body, Tag, Values, Why);
}

bool TQNMSTranslator::read_answer(TMemoryStream& body, const char16_t* Tag, TStrings* Values, String& Why) {
  // The values are gathered compactly (their texts end to end, and their lengths) and the tree
  // is let go before the list is filled, so that the list's lines (40 bytes each) and the
  // engine's nodes (24 bytes an element) are never held at once.
  String texts;
  std::vector<std::uint32_t> lengths;  // the engine reads no text past 2 GiB
  {
    TQNXMLEngine engine;
    body.SetPosition(0);  // parsed where it lies, not copied
    engine.LoadFromStream(0, &body);
    // Walks of the tree that make no item: the first element named `Tag`, then (for a list) its
    // "string" children as they come, to `take`. A list is counted first, so that the lengths
    // are kept without the slack of doubling.
    constexpr std::size_t kNone = static_cast<std::size_t>(-1);
    const bool list = !SameText(Tag, u"string");
    std::size_t found = kNone;
    const auto walk = [&](const auto& take) {
      std::size_t open = 0;
      bool done = false;
      found = kNone;
      if (engine.RootItem())
        TQNXMLEngine::WalkTree(
            *engine.RootItem(),
            [&](const TQNXMLNodeView& node, std::size_t depth) {
              open = depth + 1;
              if (done) return;
              if (found == kNone && SameStrings(false, node.TagName, Tag)) {
                found = depth;
                if (!list) take(node);
                done = !list;
              } else if (found != kNone && depth == found + 1 && node.Kind == ikProperty &&
                         SameStrings(false, node.TagName, u"string")) {
                take(node);
              }
            },
            [&] {
              if (--open == found) done = true;
            });
    };
    std::size_t count = 0;
    if (list) walk([&](const TQNXMLNodeView&) { ++count; });
    lengths.reserve(count);
    walk([&](const TQNXMLNodeView& node) {
      const String text = DecodeXMLEntities(node.Value);
      texts += text;
      lengths.push_back(static_cast<std::uint32_t>(text.size()));
    });
    if (found == kNone) {
      const String message = service_message(engine);
      Why = !message.empty() ? message : u"The answer holds no " + String(Tag) + u" element";
      return false;
    }
  }
  // The engine's chunks would stay in the thread's pool, and their pages with the process, so
  // the list would not reuse them; a small answer leaves the pool to the next parse.
  const bool large = body.Size() >= (Int64{256} << 10);
  body.Clear();
  if (large) {
    XMLChunkPool::release();
    sys::return_free_memory();
  }
  if (auto* lines = dynamic_cast<TStringList*>(Values); lines && !lengths.empty())
    lines->SetCapacity(lines->Count() + static_cast<int>(lengths.size()));
  std::size_t at = 0;
  for (const std::uint32_t n : lengths) {
    Values->Add(texts.substr(at, n));
    at += n;
  }
  return true;
}

String TQNMSTranslator::ErrorMessage(std::string_view Body) {
  TStringStream body(Body);
  TQNXMLEngine engine;
  engine.LoadFromStream(0, &body);
  String message = service_message(engine);
  if (message.empty()) {
    // A plain-text answer says it in its first line.
    const String text = Trim(sys::decode_page_text(Body));
    if (!text.empty() && text.front() != u'<')
      message = text.substr(0, text.find_first_of(u"\r\n")).substr(0, 200);
  }
  return message;
}

String TQNMSTranslator::TranslateText(const String& AText, const String& SourceLng, const String& DestLng) {
  begin_call();
  TStringList result;
  FDetectedLanguage.clear();
  if (FApiVersion == taV3) {
    if (!call_v3("POST", "translate", AText, DestLng, SourceLng, &result)) return {};
    FDetectedLanguage = result.Strings(1);
    return result.Strings(0);
  }
  auto url = request_url("Translate",
                         {{"appId", FBingAppId}, {"text", AText}, {"from", SourceLng}, {"to", DestLng}});
  return fetch_element(std::move(url), u"string", &result) ? result.Strings(0) : String();
}

String TQNMSTranslator::DetectLanguage(const String& AText) {
  begin_call();
  TStringList result;
  if (FApiVersion == taV3)
    return call_v3("POST", "detect", AText, {}, {}, &result) ? result.Strings(0) : String();
  return fetch_element(request_url("Detect", {{"appId", FBingAppId}, {"text", AText}}), u"string", &result)
             ? result.Strings(0)
             : String();
}

void TQNMSTranslator::GetLanguagesForTranslate(TStrings* AList) {
  if (!AList) return;
  begin_call();
  AList->Clear();
  TStringList codes;
  if (FApiVersion == taV3) {
    if (call_v3("GET", "languages", {}, {}, {}, &codes)) AList->Assign(&codes);
    return;
  }
  if (fetch_element(request_url("GetLanguagesForTranslate", {{"appId", FBingAppId}}), u"ArrayOfstring",
                    &codes))
    AList->Assign(&codes);
}

void TQNMSTranslator::GetLanguagesForSpeak(TStrings* AList) {
  if (!AList) return;
  begin_call();
  AList->Clear();
  if (refuse_on_v3("GetLanguagesForSpeak")) return;
  TStringList codes;
  if (fetch_element(request_url("GetLanguagesForSpeak", {{"appId", FBingAppId}}), u"ArrayOfstring", &codes))
    AList->Assign(&codes);
}

void TQNMSTranslator::SpeakText(const String& Language, const String& DestFileName, const String& AText) {
  begin_call();
  if (refuse_on_v3("SpeakText")) return;
  auto url = request_url("Speak", {{"appId", FBingAppId}, {"text", AText}, {"language", Language}});
  if (!url) return;
  TQNServiceCall call(*this, std::move(*url));
  SpeechSource source(call);
  TQNDownloadJob job;
  job.Progress = [&](std::uint64_t current, std::uint64_t, bool& abort) {
    UpdateProgress(current, call.Source().AnnouncedSize(), abort);
  };
  // The download goes to a file this call makes beside the destination, which then replaces
  // the destination: what the download clears away beside its target (a partial file of an
  // earlier run) is never a file of the user's, such as a DEST.part of their own.
  const std::string dest = ToUtf8(DestFileName);
  std::string own;
  try {
    auto made = sys::create_temp_beside(dest);
    if (!made) throw EFCreateError(String(made.failure().Text));
    own = *made;
    job.LocalFileName = FromUtf8(own);
    const TQNIOutcome result = DownloadToLocalFile(source, job);
    if (result) {
      static_cast<void>(sys::copy_file_permissions(dest, own));
      if (const auto renamed = sys::rename_file(own, dest); !renamed)
        throw EFCreateError(Format(u"Cannot replace file \"%s\". %s", DestFileName, renamed.failure().Text));
      own.clear();
    }
    if (!own.empty()) static_cast<void>(sys::remove_file(own));
    end_call(bool(result), result.Text());
  } catch (const Exception& e) {
    if (!own.empty()) static_cast<void>(sys::remove_file(own));
    end_call(false, e.Message());
    throw;
  }
}

TQNMSTranslator::~TQNMSTranslator() { StopAsyncRun(); }

}  // namespace qninet
