// The translator and the UPS tracker against the loopback HTTPS service fixture, old APIs (v2, UPS
// XML) and current (v3 JSON, UPS REST): requests byte for byte, every mapped field of the answers,
// errors as failures that leave no stale result behind.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <regex>

#include "harness/ServiceFixture.h"
#include "harness/TempDir.h"
#include "qninet/rtl/DateUtils.h"
#include "qninet/web/QNIMSTranslator.h"
#include "qninet/web/QNIUPS.h"
#include "support/NoSystemProxy.h"

namespace fs = std::filesystem;
using namespace qninet;
using harness::ServiceFixture;

namespace {

constexpr const char* kAppId = "5F0B2D9E81C4A6370E9D2B5C8A1F4E6D03B7C9A2";

class Services : public ::testing::Test {
protected:
  static void SetUpTestSuite() { fixture = new ServiceFixture(); }
  static void TearDownTestSuite() { delete fixture, fixture = nullptr; }
  static inline ServiceFixture* fixture = nullptr;
  test_support::NoSystemProxy noProxy;

  static std::unique_ptr<TQNMSTranslator> translator(const std::string& appId = kAppId) {
    auto t = std::make_unique<TQNMSTranslator>(nullptr);
    t->SetHost(FromUtf8(fixture->Url("/v2/Http.svc")));
    t->SetBingAppId(FromUtf8(appId));
    t->SetCAFile(FromUtf8(fixture->CaFile()));
    t->SetTimeout(15000);
    return t;
  }
  static std::unique_ptr<TQNUPSTracker> tracker(const std::string& number) {
    auto t = std::make_unique<TQNUPSTracker>(nullptr);
    t->SetHost(u"127.0.0.1");
    t->SetPort(fixture->Port());
    t->SetCAFile(FromUtf8(fixture->CaFile()));
    t->SetTimeout(15000);
    t->SetTrackingNumber(FromUtf8(number));
    return t;
  }
  static std::size_t requests() { return fixture->Exchanges().size(); }
  static harness::Exchange last() { return fixture->Exchanges().back(); }
};

// The target with the hex digits of its escapes in capitals: libcurl writes them in either case.
std::string upper_escapes(std::string target) {
  for (std::size_t i = target.find('%'); i != std::string::npos && i + 2 < target.size();
       i = target.find('%', i + 1))
    for (std::size_t k = i + 1; k <= i + 2; ++k) target[k] = static_cast<char>(std::toupper(target[k]));
  return target;
}

using Call = std::function<String(TQNMSTranslator&)>;

// A language list as one text; the list held a stale entry that the answer must replace.
Call languages(bool speak) {
  return [speak](TQNMSTranslator& t) {
    TStringList list;
    list.Add(u"stale");
    speak ? t.GetLanguagesForSpeak(&list) : t.GetLanguagesForTranslate(&list);
    std::string out;
    for (int i = 0; i < list.Count(); ++i) out.append(i ? "," : "").append(ToUtf8(list.Strings(i)));
    return FromUtf8(out);
  };
}

// Every mapped field of a shipment as text: the shipment, then one line per activity.
std::string render(const TQNUPSTracker& t) {
  String out = t.IdentificationNumber() + u"|" + t.ServiceCode() + u" " + t.ServiceDescription() + u"|" +
               t.ShipmentWeight() + u" " + t.ShipmentWeightUnits() + u"|" + t.ShipperAddress()->Text() +
               u"|" + t.ShipToAddress()->Text() + u"\n";
  for (int i = 0; i < t.Activities()->Count(); ++i) {
    const TQNInetActivity& a = *t.Activities()->GetActivity(i);
    out += a.LocationCode() + u"|" + a.Location()->Text() + u"|" + a.LocationDescription() + u"|" +
           a.LocationSignedForByName() + u"|" + a.StatusTypeCode() + u"|" + a.StatusTypeDescription() + u"|" +
           a.StatusCode() + u"|" +
           (a.DateTime() == 0 ? u"0" : FormatDateTime(u"yyyymmdd hhnnss", a.DateTime())) + u"\n";
  }
  return ToUtf8(out);
}

// A request as it must have gone, its header values patterns ("": not sent).
using Expected = harness::Exchange;

void check(const std::vector<harness::Exchange>& all, std::size_t from, const std::vector<Expected>& want) {
  ASSERT_EQ(all.size() - from, want.size());
  for (std::size_t i = 0; i < want.size(); ++i) {
    const harness::Exchange& got = all[from + i];
    SCOPED_TRACE(got.Method + " " + got.Path);
    EXPECT_EQ(got.Method + " " + got.Path + "?" + got.Query + " " + got.Body,
              want[i].Method + " " + want[i].Path + "?" + want[i].Query + " " + want[i].Body);
    for (const auto& [name, pattern] : want[i].Headers)
      EXPECT_TRUE(pattern.empty() ? !got.Header(name)
                                  : std::regex_match(got.Header(name).value_or("-"), std::regex(pattern)))
          << name << ": " << got.Header(name).value_or("(none)");
  }
}

// clang-format off
Expected v3_post(const std::string& op, const std::string& query, const std::string& key, const std::string& text,
                 const std::string& region = "") {
  return {"POST", "/" + op, "api-version=3.0" + query, {{"Ocp-Apim-Subscription-Key", key},
          {"Ocp-Apim-Subscription-Region", region}, {"Content-Type", "application/json; charset=UTF-8"}},
          "[{\"Text\":\"" + text + "\"}]"};
}
Expected token(const std::string& basic) {
  return {"POST", kQNUPSTokenPath, "", {{"Authorization", "Basic " + basic},
          {"Content-Type", "application/x-www-form-urlencoded"}}, "grant_type=client_credentials"};
}
Expected track(const std::string& client, const std::string& number) {
  return {"GET", kQNUPSDetailsPath + number, "", {{"Authorization", "Bearer tok-" + client + "-[0-9]+"},
          {"transId", "[0-9a-f]{32}"}, {"transactionSrc", "Veltraxon Tracker"}}, ""};
}
// clang-format on

}  // namespace

TEST_F(Services, TranslatorEncodesEveryValueDecodesTheAnswerOnceAndFailsOnErrors) {
  const std::string base = "/v2/Http.svc/";
  const std::string id = std::string("?appId=") + kAppId;
  const Call translate = [](TQNMSTranslator& t) { return t.TranslateText(u"hello", u"en", u"de"); };
  const struct {
    std::string AppId;
    Call Run;
    std::string Target;  // empty for a failure
    std::string Result;  // for a failure, how the error starts (empty: any text)
  } cases[] = {
      {kAppId, [](TQNMSTranslator& t) { return t.TranslateText(u"a & b#c", u"en", u"de"); },
       base + "Translate" + id + "&text=a%20%26%20b%23c&from=en&to=de", "c#b & a"},
      {kAppId,
       [](TQNMSTranslator& t) { return t.TranslateText(u"Gr\u00FC\u00DFe \U0001F600", u"de", u"pt-BR"); },
       base + "Translate" + id + "&text=Gr%C3%BC%C3%9Fe%20%F0%9F%98%80&from=de&to=pt-BR",
       "\xF0\x9F\x98\x80 e\xC3\x9F\xC3\xBCrG"},
      // The element's text stays whole: no quote or blank is stripped, entities decode once.
      {kAppId, [](TQNMSTranslator& t) { return t.TranslateText(u"  x<y;tl&\"", u"en", u"fr"); },
       base + "Translate" + id + "&text=%20%20x%3Cy%3Btl%26%22&from=en&to=fr", "\"&lt;y<x  "},
      {"declared", [](TQNMSTranslator& t) { return t.TranslateText(u"\u00E9t\u00E9", u"fr", u"en"); },
       base + "Translate?appId=declared&text=%C3%A9t%C3%A9&from=fr&to=en", "\xC3\xA9t\xC3\xA9"},
      {kAppId, [](TQNMSTranslator& t) { return t.DetectLanguage(u"gr\u00FC\u00DF dich"); },
       base + "Detect" + id + "&text=gr%C3%BC%C3%9F%20dich", "de"},
      {"declared", [](TQNMSTranslator& t) { return t.DetectLanguage(u"hello?"); },
       base + "Detect?appId=declared&text=hello%3F", "en"},
      {kAppId, languages(false), base + "GetLanguagesForTranslate" + id, "de,en,fr,pt-BR"},
      {"declared", languages(true), base + "GetLanguagesForSpeak?appId=declared", "de,en"},
      {"empty", languages(false), base + "GetLanguagesForTranslate?appId=empty", ""},
      // Failures: the service's message on one line; no result, not even a stale list.
      {"server-fault", translate, "", "HTTP 500: The service is temporarily overloaded & cannot answer."},
      {"no-element", translate, "", "Service Unavailable"},
      {"huge", translate, "", ""},  // past 8 MiB; a refused connection or certificate: failures_test.cpp
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.AppId + " " + c.Target);
    auto t = translator(c.AppId);
    if (!c.Target.empty()) {
      EXPECT_EQ(ToUtf8(c.Run(*t)), c.Result);
      EXPECT_EQ(upper_escapes(last().Target()), c.Target);
      EXPECT_EQ(last().Method, "GET");
      EXPECT_EQ(t->Status(), isFinished) << ToUtf8(t->LastErrorText());
      continue;
    }
    for (const Call& call :
         {translate, Call([](TQNMSTranslator& t) { return t.DetectLanguage(u"x"); }), languages(false)}) {
      EXPECT_EQ(call(*t), u"");
      EXPECT_EQ(t->Status(), isFailed);
      EXPECT_FALSE(t->LastErrorText().empty());
      EXPECT_EQ(ToUtf8(t->LastErrorText()).substr(0, c.Result.size()), c.Result);
    }
  }
  const std::size_t before = requests();
  translator()->GetLanguagesForSpeak(nullptr);
  EXPECT_EQ(requests(), before);
}

TEST_F(Services, SpeechReplacesTheFileOnlyWithAWholeAnswer) {
  std::string audio = "RIFF";
  for (int i = 0; audio.size() < 100000; ++i) audio.push_back(static_cast<char>(i * 31 % 251));
  fixture->SetAudio(audio);
  harness::TempDir dir("qninet-speak");
  const std::string file = dir.Write("hello.wav", "old sound").string();
  const std::string mine = dir.Write("hello.wav.part", "the user's own").string();
  auto t = translator();
  std::uint64_t lastCurrent = 0, lastMaximum = 0;
  t->SetOnProgress([&](TObject*, std::uint64_t current, std::uint64_t maximum, bool&) {
    lastCurrent = current, lastMaximum = maximum;
  });
  t->SpeakText(u"en", FromUtf8(file), u"hello world");
  EXPECT_EQ(t->Status(), isFinished) << ToUtf8(t->LastErrorText());
  EXPECT_EQ(upper_escapes(last().Target()),
            std::string("/v2/Http.svc/Speak?appId=") + kAppId + "&text=hello%20world&language=en");
  EXPECT_EQ(harness::ReadFileText(file), audio);
  EXPECT_EQ(harness::ReadFileText(mine), "the user's own");  // not the call's to remove
  fs::remove(mine);
  EXPECT_EQ(lastCurrent, audio.size());
  EXPECT_EQ(lastMaximum, audio.size());

  const struct {
    const char* AppId;
    const char* Host;
    int Cancel;  // 1: the progress event aborts, 2: Cancel() from the progress event
  } failures[] = {{"bad-app-id", "", 0},
                  {"truncated", "", 0},
                  {kAppId, "https://127.0.0.1:1/v2/Http.svc", 0},
                  {kAppId, "", 1},
                  {kAppId, "", 2}};
  for (const auto& f : failures) {
    SCOPED_TRACE(std::string(f.AppId) + f.Host + std::to_string(f.Cancel));
    dir.Write("hello.wav", "old sound");
    auto s = translator(f.AppId);
    if (*f.Host) s->SetHost(FromUtf8(f.Host));
    s->SetOnProgress([&s, &f](TObject*, std::uint64_t, std::uint64_t, bool& abort) {
      if (f.Cancel == 1) abort = true;
      if (f.Cancel == 2) s->Cancel();
    });
    s->SpeakText(u"en", FromUtf8(file), u"hello");
    EXPECT_EQ(s->Status(), isFailed);
    EXPECT_EQ(harness::ReadFileText(file), "old sound");
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
  }
  // A cancel ends one call, not the component's next one.
  auto again = translator();
  again->Cancel();
  again->SpeakText(u"en", FromUtf8(file), u"hello");
  EXPECT_EQ(again->Status(), isFailed);
  again->SpeakText(u"en", FromUtf8(file), u"hello");
  EXPECT_EQ(again->Status(), isFinished) << ToUtf8(again->LastErrorText());
  const std::size_t before = requests();
  EXPECT_THROW(t->SpeakText(u"en", u"/nonexistent-folder/x.wav", u"hello"), EFCreateError);
  EXPECT_EQ(requests(), before);
  EXPECT_EQ(t->Status(), isFailed);
}

TEST_F(Services, TrackerSendsTheEscapedRequestAndReadsTheShipment) {
  auto t = tracker("1Z<&>\u00E9");
  t->SetAccessLicenseNumber(u"LIC\"1'");
  std::uint64_t lastCurrent = 0, lastMaximum = 0;
  t->SetOnProgress([&](TObject*, std::uint64_t current, std::uint64_t maximum, bool&) {
    lastCurrent = current, lastMaximum = maximum;
  });
  ASSERT_TRUE(t->Execute()) << ToUtf8(t->LastErrorText());
  ASSERT_TRUE(t->Execute());  // a second run starts afresh instead of listing every activity twice
  const auto r = last();
  EXPECT_EQ(r.Method + " " + r.Target() + " " + r.Header("Content-Type").value_or(""),
            "POST /ups.app/xml/Track application/x-www-form-urlencoded");
  // The request's texts are escaped for XML, the number with a character reference.
  for (const char* part : {"<AccessLicenseNumber>LIC&quot;1&apos;</AccessLicenseNumber>",
                           "<TrackingNumber>#1Z&lt;&amp;&gt;&#233;</TrackingNumber></TrackRequest>"})
    EXPECT_NE(r.Body.find(part), std::string::npos) << r.Body;
  EXPECT_EQ(lastMaximum, ToUtf8(t->LastXMLResponse()).size());
  EXPECT_EQ(lastCurrent, lastMaximum);
  EXPECT_EQ(t->ShipperNumber(), u"A1B2C3");
  EXPECT_EQ(t->PickupDate(), EncodeDate(2012, 5, 15));
  EXPECT_EQ(render(*t),
            "1Z<&>\xC3\xA9|002 2ND DAY AIR|5.50 LBS|12 Dock Road Unit 4 TIMONIUM 21093 US|MONTREAL CA\n"
            "ML|ANYTOWN US|FRONT DOOR|JONES|D|DELIVERED|KB|20120517 140309\n"
            "|BALTIMORE US|||I|ARRIVAL SCAN|AR|0\n"  // a time of four digits does not read
            "|TIMONIUM US|||M|BILLING INFORMATION RECEIVED|MP|20120515 093000\n");
}

TEST_F(Services, TrackerOutcomesStartFromEmptyResults) {
  const struct {
    const char* Number;
    bool Ok;
    const char* Error;
    const char* Statuses;  // each activity's status type, in order
    const char* Shipper;
  } cases[] = {
      {"1ZTWOPACKAGES", true, "", "DIM", "A1B2C3"},
      {"1ZNOPACKAGE", true, "", "", "A1B2C3"},
      {"1ZINVALID", false, "Invalid tracking number (151018)", "", ""},
      {"1Z500", false, "HTTP 500", "", ""},
  };
  auto t = tracker("1Z999");
  for (const auto& c : cases) {
    // Each case follows a successful run, whose results must not survive it.
    t->SetTrackingNumber(u"1Z999");
    ASSERT_TRUE(t->Execute());
    t->SetTrackingNumber(FromUtf8(c.Number));
    EXPECT_EQ(t->Execute(), c.Ok) << c.Number;
    EXPECT_EQ(ToUtf8(t->LastErrorText()), c.Error) << c.Number;
    String statuses;
    for (int i = 0; i < t->Activities()->Count(); ++i)
      statuses += t->Activities()->GetActivity(i)->StatusTypeCode();
    EXPECT_EQ(ToUtf8(statuses), c.Statuses) << c.Number;
    EXPECT_EQ(ToUtf8(t->ShipperNumber()), c.Shipper) << c.Number;
    EXPECT_EQ(t->PickupDate(), c.Ok ? EncodeDate(2012, 5, 15) : 0) << c.Number;
  }
  // The same number keeps the results; another one clears them.
  t->SetTrackingNumber(u"1Z999");
  ASSERT_TRUE(t->Execute());
  t->SetTrackingNumber(u"1Z999");
  EXPECT_EQ(t->Activities()->Count(), 3);
  t->SetTrackingNumber(u"1Z998");
  EXPECT_EQ(t->Activities()->Count(), 0);
  EXPECT_TRUE(t->LastXMLResponse().empty());
  // A failed run of the same number does not show the last answer's data either.
  ASSERT_TRUE(t->Execute());
  t->SetPort(1);
  EXPECT_FALSE(t->Execute());
  EXPECT_FALSE(t->LastErrorText().empty());
  EXPECT_EQ(t->ShipperNumber() + t->ShipToAddress()->Text(), u"");
  EXPECT_EQ(t->PickupDate(), 0);
  EXPECT_EQ(t->Activities()->Count(), 0);
}

// The current APIs.

TEST_F(Services, TranslatorSendsTheDocumentedRequestsAndReadsAnswersAndErrorObjects) {
  const Call en_de = [](TQNMSTranslator& t) { return t.TranslateText(u"a & \"b\" \u00fc", u"en", u"de"); };
  const Call gruss = [](TQNMSTranslator& t) { return t.DetectLanguage(u"Gr\u00fc\u00df"); };
  const std::string body = "a & \\\"b\\\" \xC3\xBC", gr = "Gr\xC3\xBC\xC3\x9F";
  // clang-format off
  struct Row {
    const char* Name;
    std::string Key, Region;
    Call Run;
    std::string Shown, Error;  // Shown: the result "|" DetectedLanguage; Error empty: a success
    std::vector<Expected> Requests;
  } const rows[] = {
      {"translate with region", "k1", "westeurope", en_de, "\xC3\xBC \"b\" & a|", "",
       {v3_post("translate", "&to=de&from=en", "k1", body, "westeurope")}},
      {"source detected", "k1", "", [](TQNMSTranslator& t) { return t.TranslateText(u"Gr\u00fc\u00df", u"", u"fr"); },
       "\xC3\x9F\xC3\xBCrG|de", "", {v3_post("translate", "&to=fr", "k1", gr)}},
      {"detect", "k1", "", gruss, "de|", "", {v3_post("detect", "", "k1", gr)}},
      {"languages, no key sent", "k1", "r", languages(false), "de,en,fr,pt-pt|",
       "", {{"GET", "/languages", "api-version=3.0&scope=translation", {{"Ocp-Apim-Subscription-Key", ""}}, ""}}},
      {"refused key", "bad-key", "", en_de, "|",
       "HTTP 401: The request is not authorized because credentials are missing or invalid. (401000)",
       {v3_post("translate", "&to=de&from=en", "bad-key", body)}},
      {"nested too deep", "deep", "", gruss, "|", "/detect: Invalid JSON answer: nested deeper than 256 levels",
       {v3_post("detect", "", "deep", gr)}},
      {"a redirect to another host keeps the key", "moved", "", en_de, "|", "HTTP 307",
       {v3_post("translate", "&to=de&from=en", "moved", body)}},
      {"key with a line break", "k\r\nX-Injected: 1", "", en_de, "|",
       "A request header holds a line break: Ocp-Apim-Subscription-Key", {}},
      {"speech, before anything is sent", "k1", "", [](TQNMSTranslator& t) {
         t.SpeakText(u"en", FromUtf8((fixture->Dir() / "never.wav").string()), u"Hello");
         const String spoken = t.LastErrorText() + (std::filesystem::exists(fixture->Dir() / "never.wav") ? u"+file" : u"");
         TStringList voices;
         t.GetLanguagesForSpeak(&voices);
         return spoken; },
       "SpeakText is not offered by this API version (3)|", "GetLanguagesForSpeak is not offered by this API version (3)", {}},
  };
  // clang-format on
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    const std::size_t before = fixture->Exchanges().size();
    TQNMSTranslator t(nullptr);
    t.SetApiVersion(taV3);
    t.SetHost(FromUtf8(fixture->Url("")));
    t.SetSubscriptionKey(FromUtf8(row.Key));
    t.SetRegion(FromUtf8(row.Region));
    t.SetCAFile(FromUtf8(fixture->CaFile()));
    const std::string result = ToUtf8(row.Run(t)) + "|";
    EXPECT_EQ(result + ToUtf8(t.DetectedLanguage()), row.Shown);
    EXPECT_EQ(t.Status(), row.Error.empty() ? isFinished : isFailed);
    EXPECT_NE(ToUtf8(t.LastErrorText()).find(row.Error), std::string::npos) << ToUtf8(t.LastErrorText());
    check(fixture->Exchanges(), before, row.Requests);
  }
}

TEST_F(Services, UpsRestKeepsItsTokenAsksAgainOnceAndMapsEveryPackagesActivities) {
  // clang-format off
  const std::string shipment = "|002 UPS 2nd Day Air|5.50 LBS|12 Dock Road Unit 4 TIMONIUM MD 21093 US|MONTREAL QC CA\n",
      delivered = "80D1|ANYTOWN GA US|FRONT DOOR|JONES|D|DELIVERED|KB|20120517 140309\n",
      transit = "80I1|BALTIMORE MD US|||I|ARRIVAL SCAN|AR|20120516 083000\n",
      all = "1Z999" + shipment + delivered + transit + "80M1|TIMONIUM MD US|||M|BILLING INFORMATION RECEIVED|MP|0\n",
      none = "| | ||\n";
  struct Row {
    const char* Name;
    std::string Client, Secret, Number;
    int Runs;
    bool Rival;  // between the runs another tracker of the client takes a newer token
    std::string Error, Shown;
    std::vector<Expected> Requests;
  } const rows[] = {
      {"token kept, results fresh per run", "keep", "s3cret", "1Z999", 2, false, "", all,
       {token("a2VlcDpzM2NyZXQ="), track("keep", "1Z999"), track("keep", "1Z999")}},
      {"token about to expire asked anew", "brief", "s3cret", "1Z999", 2, false, "", all,
       {token("YnJpZWY6czNjcmV0"), track("brief", "1Z999"), token("YnJpZWY6czNjcmV0"), track("brief", "1Z999")}},
      {"a 401 asks once more", "rival", "s3cret", "1Z999", 2, true, "", all,
       {token("cml2YWw6czNjcmV0"), track("rival", "1Z999"), token("cml2YWw6czNjcmV0"), track("rival", "1Z999"),
        track("rival", "1Z999"), token("cml2YWw6czNjcmV0"), track("rival", "1Z999")}},
      {"a 401 to a new token fails", "refused", "s3cret", "1Z999", 1, false,
       "HTTP 401: Invalid Authentication Information. (250002)", none,
       {token("cmVmdXNlZDpzM2NyZXQ="), track("refused", "1Z999")}},
      {"refused client", "acme", "nope", "1Z999", 1, false, "HTTP 401: ClientId is Invalid (10401)", none,
       {token("YWNtZTpub3Bl")}},
      {"error object", "acme", "s3cret", "1ZINVALID", 1, false, "HTTP 400: Invalid tracking number (151018)", none,
       {token("YWNtZTpzM2NyZXQ="), track("acme", "1ZINVALID")}},
      {"warning, no package", "acme", "s3cret", "1ZNOTFOUND", 1, false, "Tracking Information Not Found (TW0001)",
       none, {track("acme", "1ZNOTFOUND")}},
      {"nested too deep", "acme", "s3cret", "1ZDEEP", 1, false,
       "/api/track/v1/details/1ZDEEP: Invalid JSON answer: nested deeper than 256 levels", none, {track("acme", "1ZDEEP")}},
      {"token nested too deep", "deep", "s3cret", "1Z999", 1, false,
       "/security/v1/oauth/token: Invalid JSON answer: nested deeper than 256 levels", none, {token("ZGVlcDpzM2NyZXQ=")}},
      {"every package's activities", "acme", "s3cret", "1ZTWOPACKAGES", 1, false, "",
       "1ZTWOPACKAGES" + shipment + delivered + transit, {track("acme", "1ZTWOPACKAGES")}},
  };
  // clang-format on
  TQNUPSTracker kept(nullptr);  // the rows of client "acme" share its token
  for (const Row& row : rows) {
    SCOPED_TRACE(row.Name);
    const std::size_t before = fixture->Exchanges().size();
    TQNUPSTracker own(nullptr), rival(nullptr);
    for (TQNUPSTracker* t : {&kept, &own, &rival}) {
      t->SetApiVersion(uaREST);
      t->SetURL(FromUtf8(fixture->Url("/")));
      t->SetCAFile(FromUtf8(fixture->CaFile()));
      t->SetClientID(FromUtf8(row.Client));
      t->SetClientSecret(FromUtf8(row.Secret));
      t->SetTrackingNumber(FromUtf8(row.Number));
    }
    TQNUPSTracker& t = row.Client == "acme" ? kept : own;
    for (int run = 0; run < row.Runs; ++run) {
      if (run == 1 && row.Rival) {
        EXPECT_TRUE(rival.Execute()) << ToUtf8(rival.LastErrorText());
      }
      t.Execute();
    }
    EXPECT_EQ(t.Status(), row.Error.empty() ? isFinished : isFailed);
    EXPECT_NE(ToUtf8(t.LastErrorText()).find(row.Error), std::string::npos) << ToUtf8(t.LastErrorText());
    EXPECT_EQ(render(t), row.Shown);
    check(fixture->Exchanges(), before, row.Requests);
  }
}
