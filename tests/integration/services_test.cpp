// The translator client and the UPS tracker against the loopback HTTPS service fixture: the
// requests byte for byte, the answers in the services' shapes, and error answers as failures.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>

#include "harness/ServiceFixture.h"
#include "harness/TempDir.h"
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
  static void TearDownTestSuite() {
    delete fixture;
    fixture = nullptr;
  }
  static ServiceFixture* fixture;
  test_support::NoSystemProxy noProxy;

  std::unique_ptr<TQNMSTranslator> translator(const std::string& appId = kAppId) const {
    auto t = std::make_unique<TQNMSTranslator>(nullptr);
    t->SetHost(FromUtf8(fixture->Url("/v2/Http.svc")));
    t->SetBingAppId(FromUtf8(appId));
    t->SetCAFile(FromUtf8(fixture->CaFile()));
    t->SetTimeout(15000);
    return t;
  }
  std::unique_ptr<TQNUPSTracker> tracker(const std::string& number) const {
    auto t = std::make_unique<TQNUPSTracker>(nullptr);
    t->SetHost(u"127.0.0.1");
    t->SetPort(fixture->Port());
    t->SetCAFile(FromUtf8(fixture->CaFile()));
    t->SetTimeout(15000);
    t->SetTrackingNumber(FromUtf8(number));
    return t;
  }
  static std::size_t requests() { return fixture->Requests().size(); }
  static ServiceFixture::Request last() { return fixture->Requests().back(); }
};

ServiceFixture* Services::fixture = nullptr;

// The target with the hex digits of its escapes in capitals: libcurl writes them in either case.
std::string upper_escapes(std::string target) {
  for (std::size_t i = target.find('%'); i != std::string::npos && i + 2 < target.size();
       i = target.find('%', i + 1))
    for (std::size_t k = i + 1; k <= i + 2; ++k) target[k] = static_cast<char>(std::toupper(target[k]));
  return target;
}

std::string joined(const TStrings& list) {
  std::string out;
  for (int i = 0; i < list.Count(); ++i) out += (i ? "," : "") + ToUtf8(list.Strings(i));
  return out;
}

}  // namespace

TEST_F(Services, TranslatorEncodesEveryValueAndDecodesTheAnswerOnce) {
  const std::string base = "/v2/Http.svc";
  const struct {
    const char* appId;
    std::function<String(TQNMSTranslator&)> call;
    std::string target;
    const char* result;
  } cases[] = {
      {kAppId, [](TQNMSTranslator& t) { return t.TranslateText(u"a & b#c", u"en", u"de"); },
       base + "/Translate?appId=" + kAppId + "&text=a%20%26%20b%23c&from=en&to=de", "c#b & a"},
      {kAppId,
       [](TQNMSTranslator& t) { return t.TranslateText(u"Gr\u00FC\u00DFe \U0001F600", u"de", u"pt-BR"); },
       base + "/Translate?appId=" + kAppId + "&text=Gr%C3%BC%C3%9Fe%20%F0%9F%98%80&from=de&to=pt-BR",
       "\xF0\x9F\x98\x80 e\xC3\x9F\xC3\xBCrG"},
      // The element's text stays whole: no quote or blank is stripped, entities decode once.
      {kAppId, [](TQNMSTranslator& t) { return t.TranslateText(u"  x<y;tl&\"", u"en", u"fr"); },
       base + "/Translate?appId=" + kAppId + "&text=%20%20x%3Cy%3Btl%26%22&from=en&to=fr", "\"&lt;y<x  "},
      {"declared", [](TQNMSTranslator& t) { return t.TranslateText(u"\u00E9t\u00E9", u"fr", u"en"); },
       base + "/Translate?appId=declared&text=%C3%A9t%C3%A9&from=fr&to=en", "\xC3\xA9t\xC3\xA9"},
      {kAppId, [](TQNMSTranslator& t) { return t.DetectLanguage(u"gr\u00FC\u00DF dich"); },
       base + "/Detect?appId=" + kAppId + "&text=gr%C3%BC%C3%9F%20dich", "de"},
      {"declared", [](TQNMSTranslator& t) { return t.DetectLanguage(u"hello?"); },
       base + "/Detect?appId=declared&text=hello%3F", "en"},
  };
  for (const auto& c : cases) {
    auto t = translator(c.appId);
    const String result = c.call(*t);
    EXPECT_EQ(last().Method, "GET");
    EXPECT_EQ(upper_escapes(last().Target), c.target);
    EXPECT_EQ(ToUtf8(result), c.result) << c.target;
    EXPECT_EQ(t->Status(), isFinished) << ToUtf8(t->LastErrorText());
  }
}

TEST_F(Services, LanguageListsAreReplacedByTheAnswer) {
  const struct {
    const char* appId;
    bool speak;
    const char* operation;
    const char* codes;
  } cases[] = {
      {kAppId, false, "GetLanguagesForTranslate", "de,en,fr,pt-BR"},
      {"declared", true, "GetLanguagesForSpeak", "de,en"},
      {"empty", false, "GetLanguagesForTranslate", ""},
  };
  for (const auto& c : cases) {
    auto t = translator(c.appId);
    TStringList list;
    list.Add(u"stale");
    c.speak ? t->GetLanguagesForSpeak(&list) : t->GetLanguagesForTranslate(&list);
    EXPECT_EQ(last().Target, std::string("/v2/Http.svc/") + c.operation + "?appId=" + c.appId);
    EXPECT_EQ(joined(list), c.codes);
    EXPECT_EQ(t->Status(), isFinished);
  }
  const std::size_t before = requests();
  translator()->GetLanguagesForSpeak(nullptr);
  EXPECT_EQ(requests(), before);
}

TEST_F(Services, TranslatorErrorAnswersAreFailuresWithTheServicesMessage) {
  const struct {
    std::string appId;
    std::string host;
    const char* error;
  } cases[] = {
      {"bad-app-id", "", "HTTP 400: Invalid appId Parameter name: appId"},
      {"server-fault", "", "HTTP 500: The service is temporarily overloaded & cannot answer."},
      {"no-element", "", "Service Unavailable"},
      {"huge", "", ": The answer is larger than 8388608 bytes"},
      {kAppId, "https://127.0.0.1:1/v2/Http.svc", ""},
  };
  for (const auto& c : cases) {
    auto t = translator(c.appId);
    if (!c.host.empty()) t->SetHost(FromUtf8(c.host));
    EXPECT_EQ(t->TranslateText(u"hello", u"en", u"de"), u"") << c.appId;
    EXPECT_EQ(t->Status(), isFailed) << c.appId;
    if (*c.error)
      EXPECT_NE(ToUtf8(t->LastErrorText()).find(c.error), std::string::npos) << c.error;
    else
      EXPECT_FALSE(t->LastErrorText().empty());
    EXPECT_EQ(t->DetectLanguage(u"hello"), u"");
    EXPECT_EQ(t->Status(), isFailed);
    TStringList list;
    list.Add(u"stale");
    t->GetLanguagesForTranslate(&list);
    EXPECT_EQ(list.Count(), 0) << c.appId;
    EXPECT_EQ(t->Status(), isFailed);
  }
  // Without the fixture's CA the certificate is refused.
  auto t = translator();
  t->SetCAFile(u"");
  EXPECT_EQ(t->DetectLanguage(u"hello"), u"");
  EXPECT_EQ(t->Status(), isFailed);
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
    lastCurrent = current;
    lastMaximum = maximum;
  });
  t->SpeakText(u"en", FromUtf8(file), u"hello world");
  EXPECT_EQ(t->Status(), isFinished) << ToUtf8(t->LastErrorText());
  EXPECT_EQ(upper_escapes(last().Target),
            std::string("/v2/Http.svc/Speak?appId=") + kAppId + "&text=hello%20world&language=en");
  EXPECT_EQ(harness::ReadFileText(file), audio);
  EXPECT_EQ(harness::ReadFileText(mine), "the user's own");  // not the call's to remove
  fs::remove(mine);
  EXPECT_EQ(lastCurrent, audio.size());
  EXPECT_EQ(lastMaximum, audio.size());

  const struct {
    const char* appId;
    std::string host;
    int cancel;  // 1: the progress event aborts, 2: Cancel() from the progress event
  } failures[] = {
      {"bad-app-id", "", 0}, {"truncated", "", 0}, {kAppId, "https://127.0.0.1:1/v2/Http.svc", 0},
      {kAppId, "", 1},       {kAppId, "", 2},
  };
  for (const auto& f : failures) {
    dir.Write("hello.wav", "old sound");
    auto s = translator(f.appId);
    if (!f.host.empty()) s->SetHost(FromUtf8(f.host));
    if (f.cancel)
      s->SetOnProgress([&s, &f](TObject*, std::uint64_t, std::uint64_t, bool& abort) {
        if (f.cancel == 1)
          abort = true;
        else
          s->Cancel();
      });
    s->SpeakText(u"en", FromUtf8(file), u"hello");
    EXPECT_EQ(s->Status(), isFailed) << f.appId;
    EXPECT_EQ(harness::ReadFileText(file), "old sound") << f.appId;
    EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1) << f.appId;
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
    lastCurrent = current;
    lastMaximum = maximum;
  });
  for (int run = 0; run < 2; ++run) {
    ASSERT_TRUE(t->Execute()) << ToUtf8(t->LastErrorText());
    // A second run starts afresh instead of listing every activity twice.
    ASSERT_EQ(t->Activities()->Count(), 3) << run;
  }
  const auto r = last();
  EXPECT_EQ(r.Method, "POST");
  EXPECT_EQ(r.Target, "/ups.app/xml/Track");
  EXPECT_EQ(r.ContentType, "application/x-www-form-urlencoded");
  EXPECT_EQ(r.Body,
            "<?xml version=\"1.0\"?><AccessRequest xml:lang=\"en-US\"><AccessLicenseNumber>LIC&quot;1&apos;"
            "</AccessLicenseNumber>\r\n"
            "<UserId>qzq</UserId><Password>qzq</Password></AccessRequest>\r\n"
            "<?xml version=\"1.0\"?><TrackRequest xml:lang=\"en-US\"><Request><TransactionReference>\r\n"
            "<CustomerContext>Veltraxon Tracker</CustomerContext><XpciVersion>1.0</XpciVersion>"
            "</TransactionReference>\r\n"
            "<RequestAction>Track</RequestAction><RequestOption>activity</RequestOption></Request>\r\n"
            "<TrackingNumber>#1Z&lt;&amp;&gt;&#233;</TrackingNumber></TrackRequest>");
  EXPECT_EQ(lastMaximum, ToUtf8(t->LastXMLResponse()).size());
  EXPECT_EQ(lastCurrent, lastMaximum);

  EXPECT_EQ(t->IdentificationNumber(), u"1Z<&>\u00E9");
  EXPECT_EQ(t->ShipperNumber(), u"A1B2C3");
  EXPECT_EQ(t->ShipperAddress()->Text(), u"12 Dock Road Unit 4 TIMONIUM 21093 US");
  EXPECT_EQ(t->ShipToAddress()->Text(), u"MONTREAL CA");
  EXPECT_EQ(t->PickupDate(), EncodeDate(2012, 5, 15));
  EXPECT_EQ(t->ServiceCode() + u"/" + t->ServiceDescription(), u"002/2ND DAY AIR");
  EXPECT_EQ(t->ShipmentWeight() + u" " + t->ShipmentWeightUnits(), u"5.50 LBS");
  const struct {
    const char* location;
    const char* description;
    const char* signedBy;
    const char* status;
    TDateTime when;
  } activities[] = {
      {"ANYTOWN US", "FRONT DOOR", "JONES", "D DELIVERED KB",
       EncodeDate(2012, 5, 17) + EncodeTime(14, 3, 9, 0)},
      {"BALTIMORE US", "", "", "I ARRIVAL SCAN AR", 0},  // a time of four digits does not read
      {"TIMONIUM US", "", "", "M BILLING INFORMATION RECEIVED MP",
       EncodeDate(2012, 5, 15) + EncodeTime(9, 30, 0, 0)},
  };
  for (int i = 0; i < 3; ++i) {
    const TQNInetActivity& a = *t->Activities()->GetActivity(i);
    const auto& e = activities[i];
    EXPECT_EQ(ToUtf8(a.Location()->Text()), e.location) << i;
    EXPECT_EQ(ToUtf8(a.LocationDescription()), e.description) << i;
    EXPECT_EQ(ToUtf8(a.LocationSignedForByName()), e.signedBy) << i;
    EXPECT_EQ(ToUtf8(a.StatusTypeCode() + u" " + a.StatusTypeDescription() + u" " + a.StatusCode()), e.status)
        << i;
    EXPECT_DOUBLE_EQ(a.DateTime(), e.when) << i;
  }
}

TEST_F(Services, TrackerOutcomesStartFromEmptyResults) {
  const struct {
    const char* number;
    bool ok;
    const char* error;
    const char* statuses;  // each activity's status type, in order
    const char* shipper;
  } cases[] = {
      {"1ZTWOPACKAGES", true, "", "D,I,M", "A1B2C3"},
      {"1ZNOPACKAGE", true, "", "", "A1B2C3"},
      {"1ZINVALID", false, "Invalid tracking number (151018)", "", ""},
      {"1Z500", false, "HTTP 500", "", ""},
  };
  auto t = tracker("1Z999");
  for (const auto& c : cases) {
    // Each case follows a successful run, whose results must not survive it.
    t->SetTrackingNumber(u"1Z999");
    ASSERT_TRUE(t->Execute());
    t->SetTrackingNumber(FromUtf8(c.number));
    EXPECT_EQ(t->Execute(), c.ok) << c.number;
    EXPECT_EQ(ToUtf8(t->LastErrorText()), c.error) << c.number;
    std::string statuses;
    for (int i = 0; i < t->Activities()->Count(); ++i)
      statuses += (i ? "," : "") + ToUtf8(t->Activities()->GetActivity(i)->StatusTypeCode());
    EXPECT_EQ(statuses, c.statuses) << c.number;
    EXPECT_EQ(ToUtf8(t->ShipperNumber()), c.shipper) << c.number;
    EXPECT_EQ(t->PickupDate(), c.ok ? EncodeDate(2012, 5, 15) : 0) << c.number;
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
  EXPECT_EQ(t->ShipperNumber(), u"");
  EXPECT_EQ(t->PickupDate(), 0);
  EXPECT_EQ(t->Activities()->Count(), 0);
}
