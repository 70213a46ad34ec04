// The service answers read as they are parsed (a scan, a language, a string at a time): what
// arrives late in an answer still decides the outcome as when the answer was read whole.

#include <gtest/gtest.h>

#include <functional>

#include "qninet/rtl/DateUtils.h"
#include "qninet/web/QNIMSTranslator.h"
#include "qninet/web/QNIUPS.h"

using namespace qninet;

namespace {

// The outcome, the shipment, then one line per scan.
std::string tracked(const std::function<String(TQNUPSTracker&)>& read) {
  TQNUPSTracker t(nullptr);
  String out = read(t);
  out += u"|" + t.IdentificationNumber() + u"|" + t.ServiceCode() + u"|" + t.ShipperAddress()->Text() + u"\n";
  for (int i = 0; i < t.Activities()->Count(); ++i) {
    const TQNInetActivity& a = *t.Activities()->GetActivity(i);
    out += a.LocationCode() + u"|" + a.Location()->Text() + u"|" + a.LocationDescription() + u"|" +
           a.LocationSignedForByName() + u"|" + a.StatusTypeCode() + u"|" + a.StatusCode() + u"|" +
           (a.DateTime() == 0 ? u"0" : FormatDateTime(u"yyyymmdd hhnnss", a.DateTime())) + u"\n";
  }
  return ToUtf8(out);
}

std::string rest(const std::string& body, int status = 200) {
  return tracked([&](TQNUPSTracker& t) { return t.ReadJsonAnswer(body, status, "ups"); });
}

std::string xml(const std::string& body) {
  return tracked([&](TQNUPSTracker& t) { return t.ReadAnswer(body, 200); });
}

std::string translated(const std::function<bool(TStrings*, String&)>& read) {
  TStringList values;
  String why;
  const bool ok = read(&values, why);
  std::string out = (ok ? "" : "failed: ") + ToUtf8(why) + "|";
  for (int i = 0; i < values.Count(); ++i) {
    if (i) out += ',';
    out += ToUtf8(values.Strings(i));
  }
  return out;
}

std::string v3(const char* operation, const std::string& body) {
  return translated([&](TStrings* v, String& why) {
    return TQNMSTranslator::ReadJsonAnswer(body, operation, "mt", v, why);
  });
}

const std::string kScans = R"({"status":{"type":"D","code":"KB"},"date":"20120517","time":"140309"},)"
                           R"({"location":{"slic":"80I1","address":{"city":"X"}},"status":{"type":"I"}})";

}  // namespace

TEST(ServiceAnswers, LateMembersDecideAsWhenReadWhole) {
  const std::string shipment =
      R"({"trackResponse":{"shipment":[{"inquiryNumber":"1Z","package":[{"activity":[)" + kScans +
      R"(],"deliveryInformation":{"location":"DOOR","receivedBy":"JONES"}}]})";
  // clang-format off
  const std::tuple<const char*, std::string, std::string> rows[] = {
      {"delivery told after the scans", rest(shipment + "]}}"),
       "|1Z||\n||DOOR|JONES|D|KB|20120517 140309\n80I1|X|||I||0\n"},
      {"the service's errors after the scans", rest(shipment + R"(]},"response":{"errors":[{"code":"1","message":"No"}]}})"),
       "No (1)|||\n"},
      {"a syntax error after the scans", rest(shipment + "]}}}"),
       "ups: Invalid JSON answer: [json.exception.parse_error.101] parse error at line 1, column " +
       std::to_string(shipment.size() + 4) + ": syntax error while parsing value - unexpected '}'; expected end of input|||\n"},
      {"an error status", rest(shipment + "]}}", 404), "HTTP 404|||\n"},
      {"a later shipment without a package", rest(shipment + R"(,{"warnings":[{"code":"W1","message":"Gone"}]},)" +
                                                  R"({"package":[{"activity":[{}]}]}]}})"),
       "Gone (W1)|1Z||\n||DOOR|JONES|D|KB|20120517 140309\n80I1|X|||I||0\n"},
      {"a scan that is no object counts, an address that is none fills nothing",
       rest(R"({"trackResponse":{"shipment":[{"package":[{"activity":[7],"packageAddress":[1,)"
            R"({"type":"ORIGIN","address":{"city":"T"}}],"service":{"code":"002"}}]}]}})"),
       "||002|T\n||||||0\n"},
      {"XML: the first address of the scan, a nested package and activity in lower case not scans",
       xml("<TrackResponse><Response><ResponseStatusCode>1</ResponseStatusCode></Response><Package><Activity>"
           "<Address><City>A</City></Address><ActivityLocation><Code>L</Code><Address><City>B</City></Address>"
           "</ActivityLocation><Package><Activity/></Package></Activity><activity/></Package></TrackResponse>"),
       "|||\nL|A|||||0\n"},
      {"languages in byte order, each once", v3("languages", R"({"translation":{"fr":{},"de":1,"en":[],"de":{}}})"),
       "|de,en,fr"},
      {"the first answer's first translation", v3("translate", R"([{"translations":[{"text":"a"},{"text":"b"}],)"
                                                   R"("detectedLanguage":{"language":"en"}},{"translations":[{"text":"c"}]}])"),
       "|a,en"},
      {"an error object after the list", v3("detect", R"({"translation":{"de":{}},"error":{"code":400,"message":"Bad"}})"),
       "failed: Bad (400)|"},
      {"XML: the list's own strings only", translated([](TStrings* v, String& why) {
         return TQNMSTranslator::ReadAnswer("<ArrayOfstring><string>a</string><x><string>no</string></x>"
                                            "<!-- c --><String>b</String></ArrayOfstring>", u"ArrayOfstring", v, why); }),
       "|a,b"}
  };
  // clang-format on
  for (const auto& [name, got, want] : rows) {
    SCOPED_TRACE(name);
    EXPECT_EQ(got, want);
  }
}
