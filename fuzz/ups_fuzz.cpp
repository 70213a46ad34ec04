// The UPS tracker's answer reader on arbitrary bodies and statuses: an error status never reads
// as success, a read answer gives no more activities than the body can hold, and the request
// body carries any tracking number back whole.

#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "qninet/web/QNIUPS.h"
#include "qninet/xml/QNInetXML.h"

using namespace qninet;

namespace {

// The shortest activity: "<Activity/>".
constexpr std::size_t kMinActivity = 11;

void check_request(std::string_view bytes) {
  const String number = FromUtf8(bytes.substr(0, bytes.find('\n')));
  const std::string request = TQNUPSTracker::BuildRequest(u"key", u"ctx", number);
  TQNXMLEngine xml;
  TStringStream stream(request);
  xml.LoadFromStream(0, &stream);
  const TQNXMLItem* item = xml.GetItemByTag(nullptr, u"TrackingNumber");
  FUZZ_CHECK(item != nullptr);
  // The engine keeps a text's inner blanks but not those at its ends; XML has no NUL.
  if (!number.empty() && number.back() > u' ' && number.find(u'\0') == String::npos)
    FUZZ_CHECK(item->GetTagValue() == u"#" + number);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  const int status = data[0] < 0x80 ? 200 : 300 + data[0];
  const std::string_view body = fuzz::bytes_of(data + 1, size - 1);
  TQNUPSTracker tracker(nullptr);
  const String why = tracker.ReadAnswer(body, status);
  if (status >= 400) FUZZ_CHECK(!why.empty());
  FUZZ_CHECK(why.empty() || tracker.Activities()->Count() == 0);
  FUZZ_CHECK(static_cast<std::size_t>(tracker.Activities()->Count()) * kMinActivity <= body.size());
  FUZZ_CHECK(tracker.ServiceDescription().size() <= body.size() &&
             tracker.ShipperNumber().size() <= body.size());
  check_request(body);
  return 0;
}
