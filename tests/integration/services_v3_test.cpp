// The translator's JSON API and the UPS tracker's REST API against the loopback HTTPS service
// fixture: every request's method, path, query, headers and body, every mapped field, and the
// services' error objects as failures with their code and message.

#include <gtest/gtest.h>

#include <functional>
#include <regex>

#include "harness/ServiceFixture.h"
#include "qninet/rtl/DateUtils.h"
#include "qninet/web/QNIMSTranslator.h"
#include "qninet/web/QNIUPS.h"
#include "support/NoSystemProxy.h"

using namespace qninet;
using harness::ServiceFixture;

namespace {

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

class ServicesV3 : public ::testing::Test {
protected:
  static void SetUpTestSuite() { fixture = new ServiceFixture(); }
  static void TearDownTestSuite() { delete fixture, fixture = nullptr; }
  static ServiceFixture* fixture;
  test_support::NoSystemProxy noProxy;
};
ServiceFixture* ServicesV3::fixture = nullptr;

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

TEST_F(ServicesV3, TranslatorSendsTheDocumentedRequestsAndReadsAnswersAndErrorObjects) {
  using Call = std::function<String(TQNMSTranslator&)>;
  const Call en_de = [](TQNMSTranslator& t) { return t.TranslateText(u"a & \"b\" \u00fc", u"en", u"de"); };
  const Call gruss = [](TQNMSTranslator& t) { return t.DetectLanguage(u"Gr\u00fc\u00df"); };
  const auto list = [](void (TQNMSTranslator::*get)(TStrings*)) {
    return [get](TQNMSTranslator& t) {
      TStringList list;
      list.Add(u"stale");
      (t.*get)(&list);
      return list.Text();
    };
  };
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
      {"languages, no key sent", "k1", "r", list(&TQNMSTranslator::GetLanguagesForTranslate), "de\r\nen\r\nfr\r\npt-pt\r\n|",
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
    const std::size_t before = harness::Exchanges(*fixture).size();
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
    check(harness::Exchanges(*fixture), before, row.Requests);
  }
}

TEST_F(ServicesV3, UpsRestKeepsItsTokenAsksAgainOnceAndMapsEveryPackagesActivities) {
  // Every mapped field as text: the shipment, then one line per activity.
  const auto render = [](const TQNUPSTracker& t) {
    String out = t.IdentificationNumber() + u"|" + t.ServiceCode() + u" " + t.ServiceDescription() + u"|" +
                 t.ShipmentWeight() + u" " + t.ShipmentWeightUnits() + u"|" + t.ShipperAddress()->Text() +
                 u"|" + t.ShipToAddress()->Text() + u"\n";
    for (int i = 0; i < t.Activities()->Count(); ++i) {
      const TQNInetActivity& a = *t.Activities()->GetActivity(i);
      out += a.LocationCode() + u"|" + a.Location()->Text() + u"|" + a.LocationDescription() + u"|" +
             a.LocationSignedForByName() + u"|" + a.StatusTypeCode() + u"|" + a.StatusTypeDescription() +
             u"|" + a.StatusCode() + u"|" +
             (a.DateTime() == 0 ? u"0" : FormatDateTime(u"yyyymmdd hhnnss", a.DateTime())) + u"\n";
    }
    return ToUtf8(out);
  };
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
    const std::size_t before = harness::Exchanges(*fixture).size();
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
    check(harness::Exchanges(*fixture), before, row.Requests);
  }
}
