// The UPS tracker's XML answer: the shipment and every scan of its packages, read in walks of
// the parser's node table that make no item.

#include <span>
#include <vector>

#include "qninet/web/QNIUPS.h"
#include "qninet/web/UPSScans.h"
#include "qninet/xml/QNInetXML.h"

namespace qninet {

namespace {

bool all_digits(const String& s, std::size_t count) {
  if (s.size() != count) return false;
  for (char16_t c : s)
    if (c < u'0' || c > u'9') return false;
  return true;
}

int number(const String& s, std::size_t from, std::size_t count) {
  int n = 0;
  for (std::size_t i = from; i < from + count; ++i) n = n * 10 + (s[i] - u'0');
  return n;
}

// YYYYMMDD.
bool read_ups_date(const String& s, TDateTime& out) {
  return all_digits(s, 8) && TryEncodeDate(number(s, 0, 4), number(s, 4, 2), number(s, 6, 2), out);
}

// HHMMSS.
bool read_ups_time(const String& s, TDateTime& out) {
  return all_digits(s, 6) && TryEncodeTime(number(s, 0, 2), number(s, 2, 2), number(s, 4, 2), 0, out);
}

// "The value of the first X under the first Y under ... the scope", for a fixed list of such
// questions, answered in one walk of the tree: no item is made and nothing but the answers kept.
// Each question names its tag (compared ignoring ASCII case) and the question it lies under (-1:
// the scope); a question comes after the one it lies under, so that an element can answer both.
struct Question {
  const char16_t* Tag;
  int Under;
};

class FirstMatches {
public:
  explicit FirstMatches(std::span<const Question> questions)
      : FQuestions(questions), FFound(questions.size()) {}

  // The scope opens at `depth`: every question is asked afresh.
  void Open(std::size_t depth) {
    for (Found& f : FFound) f = Found{};
    FScope = depth;
    FInScope = true;
  }
  void Enter(const TQNXMLNodeView& node, std::size_t depth) {
    if (!FInScope) return;
    for (std::size_t i = 0; i < FQuestions.size(); ++i) {
      Found& f = FFound[i];
      const int under = FQuestions[i].Under;
      if (f.Now != sWaiting || (under >= 0 && FFound[static_cast<std::size_t>(under)].Now != sOpen) ||
          !SameStrings(false, node.TagName, FQuestions[i].Tag))
        continue;
      f = Found{sOpen, depth, XMLTagValue(node.Value)};
    }
  }
  void Leave(std::size_t depth) {
    if (!FInScope) return;
    for (Found& f : FFound)
      if (f.Now == sOpen && f.Depth == depth) f.Now = sDone;
    if (depth == FScope) FInScope = false;
  }
  bool Has(int i) const { return FFound[static_cast<std::size_t>(i)].Now != sWaiting; }
  // The value of question `i`; empty when no element answered it.
  const String& Value(int i) const { return FFound[static_cast<std::size_t>(i)].Value; }

private:
  enum State : std::uint8_t { sWaiting, sOpen, sDone };
  struct Found {
    State Now = sWaiting;
    std::size_t Depth = 0;
    String Value;
  };
  std::span<const Question> FQuestions;
  std::vector<Found> FFound;
  std::size_t FScope = 0;
  bool FInScope = false;
};

// An address's six elements under the question `at`, in the order `fill_address` reads them.
#define QNI_ADDRESS(at)                                                                                      \
  {u"AddressLine1", at}, {u"AddressLine2", at}, {u"AddressLine3", at}, {u"City", at}, {u"PostalCode", at}, { \
    u"CountryCode", at                                                                                       \
  }

// Asked of the whole document.
enum : int {
  dError,
  dErrorDescription,
  dErrorCode,
  dStatusCode,
  dStatusDescription,
  dShipment,
  dShipper,
  dShipperNumber,
  dShipperAddress,
  dShipTo = dShipperAddress + 7,
  dShipToAddress,
  dIdentification = dShipToAddress + 7,
  dPickupDate,
  dService,
  dServiceCode,
  dServiceDescription,
  dWeight,
  dWeightValue,
  dWeightUnits,
  dWeightUnitsCode
};
constexpr Question kDocument[] = {{u"Error", -1},
                                  {u"ErrorDescription", dError},
                                  {u"ErrorCode", dError},
                                  {u"ResponseStatusCode", -1},
                                  {u"ResponseStatusDescription", -1},
                                  {u"Shipment", -1},
                                  {u"Shipper", dShipment},
                                  {u"ShipperNumber", dShipper},
                                  {u"Address", dShipper},
                                  QNI_ADDRESS(dShipperAddress),
                                  {u"ShipTo", dShipment},
                                  {u"Address", dShipTo},
                                  QNI_ADDRESS(dShipToAddress),
                                  {u"ShipmentIdentificationNumber", dShipment},
                                  {u"PickupDate", dShipment},
                                  {u"Service", dShipment},
                                  {u"Code", dService},
                                  {u"Description", dService},
                                  {u"ShipmentWeight", dShipment},
                                  {u"Weight", dWeight},
                                  {u"UnitOfMeasurement", dWeight},
                                  {u"Code", dWeightUnits}};

// Asked of each activity.
enum : int {
  aLocation,
  aLocationCode,
  aLocationDescription,
  aSignedFor,
  aAddress,
  aStatus = aAddress + 7,
  aStatusType,
  aTypeCode,
  aTypeDescription,
  aStatusCode,
  aCode,
  aDate,
  aTime
};
constexpr Question kActivity[] = {{u"ActivityLocation", -1},
                                  {u"Code", aLocation},
                                  {u"Description", aLocation},
                                  {u"SignedForByName", aLocation},
                                  {u"Address", -1},
                                  QNI_ADDRESS(aAddress),
                                  {u"Status", -1},
                                  {u"StatusType", -1},
                                  {u"Code", aStatusType},
                                  {u"Description", aStatusType},
                                  {u"StatusCode", -1},
                                  {u"Code", aStatusCode},
                                  {u"Date", -1},
                                  {u"Time", -1}};
#undef QNI_ADDRESS

// Fills `a` from the six answers after question `at` (the address element's), only when that
// element was found.
void fill_address(const FirstMatches& m, int at, TQNInetActivityAddress& a) {
  if (!m.Has(at)) return;
  a.SetAddressLine1(m.Value(at + 1));
  a.SetAddressLine2(m.Value(at + 2));
  a.SetAddressLine3(m.Value(at + 3));
  a.SetCity(m.Value(at + 4));
  a.SetPostalCode(m.Value(at + 5));
  a.SetCountry(m.Value(at + 6));
}

void fill_scan(const FirstMatches& m, ups_detail::Scan& s) {
  using namespace ups_detail;
  s.Reset();
  if (m.Has(aLocation)) {
    s.Texts[sfLocationCode] = m.Value(aLocationCode);
    s.Texts[sfLocationDescription] = m.Value(aLocationDescription);
    s.Texts[sfSignedForByName] = m.Value(aSignedFor);
    if (m.Has(aAddress))
      for (int f = 0; f < 6; ++f) s.Texts[sfAddressLine1 + f] = m.Value(aAddress + 1 + f);
  }
  if (m.Has(aStatus)) {
    if (m.Has(aStatusType)) {
      s.Texts[sfStatusTypeCode] = m.Value(aTypeCode);
      s.Texts[sfStatusTypeDescription] = m.Value(aTypeDescription);
    }
    if (m.Has(aStatusCode)) s.Texts[sfStatusCode] = m.Value(aCode);
  }
  TDateTime when = 0;
  if (TQNUPSTracker::ReadDateTime(m.Value(aDate), m.Value(aTime), when)) s.When = when;
}

// The HTTP status with the service's error description when its error document says one.
String error_of(const FirstMatches& m) {
  const String& description = m.Value(dErrorDescription);
  const String& code = m.Value(dErrorCode);
  if (description.empty()) return code.empty() ? String() : u"Error " + code;
  return code.empty() ? description : description + u" (" + code + u")";
}

// Walks the whole tree, telling `enter` and `leave` each item's depth.
template <class Enter, class Leave>
void walk(const TQNXMLEngine& xml, Enter enter, Leave leave) {
  if (!xml.RootItem()) return;
  std::size_t open = 0;
  TQNXMLEngine::WalkTree(
      *xml.RootItem(),
      [&](const TQNXMLNodeView& node, std::size_t depth) {
        open = depth + 1;
        enter(node, depth);
      },
      [&] { leave(--open); });
}

}  // namespace

bool TQNUPSTracker::ReadDateTime(const String& Date, const String& Time, TDateTime& Out) {
  TDateTime date = 0, time = 0;
  if (!read_ups_date(Date, date) || !read_ups_time(Time, time)) return false;
  Out = ComposeDateTime(date, time);
  return true;
}

String TQNUPSTracker::ReadAnswer(std::string_view Body, int StatusCode) {
  TStringStream body(Body);
  return read_answer(body, StatusCode);
}

String TQNUPSTracker::read_answer(TMemoryStream& body, int StatusCode) {
  TQNXMLEngine xml;
  body.SetPosition(0);  // parsed where it lies, not copied
  xml.LoadFromStream(0, &body);
  FirstMatches document(kDocument);
  document.Open(0);
  walk(
      xml, [&](const TQNXMLNodeView& node, std::size_t depth) { document.Enter(node, depth); },
      [&](std::size_t depth) { document.Leave(depth); });
  const String why = error_of(document);
  const String status = u"HTTP " + IntToStr(static_cast<Integer>(StatusCode));
  if (StatusCode >= 400) return why.empty() ? status : status + u": " + why;
  if (!document.Has(dStatusCode)) return u"The answer is no tracking response";
  if (document.Value(dStatusCode) != u"1") {
    const String& description = document.Value(dStatusDescription);
    return !why.empty()           ? why
           : !description.empty() ? description
                                  : String(u"The service refused the request");
  }
  if (document.Has(dShipment)) {
    if (document.Has(dShipper)) {
      FShipperNumber = document.Value(dShipperNumber);
      fill_address(document, dShipperAddress, *FShipperAddress);
    }
    if (document.Has(dShipTo)) fill_address(document, dShipToAddress, *FShipToAddress);
    FIdentificationNumber = document.Value(dIdentification);
    TDateTime pickup = 0;
    if (read_ups_date(document.Value(dPickupDate), pickup)) FPickupDate = pickup;
    if (document.Has(dService)) {
      FServiceCode = document.Value(dServiceCode);
      FServiceDescription = document.Value(dServiceDescription);
    }
    if (document.Has(dWeight)) {
      FShipmentWeight = document.Value(dWeightValue);
      FShipmentWeightUnits = document.Has(dWeightUnits) ? document.Value(dWeightUnitsCode) : String();
    }
  }
  read_activities(xml);
  return {};
}

// Every "Activity" child (the name exact) of every package, in document order; a package inside
// a package is part of it, not one of its own.
void TQNUPSTracker::read_activities(const TQNXMLEngine& xml) {
  constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  std::size_t package = kNone, activity = kNone;
  FirstMatches m(kActivity);
  ups_detail::Scan scan;
  walk(
      xml,
      [&](const TQNXMLNodeView& node, std::size_t depth) {
        if (package == kNone) {
          if (SameStrings(false, node.TagName, u"Package")) package = depth;
          return;
        }
        if (activity == kNone && depth == package + 1 && node.TagName == u"Activity") {
          activity = depth;
          m.Open(depth);
        }
        m.Enter(node, depth);
      },
      [&](std::size_t depth) {
        m.Leave(depth);
        if (depth == activity) {
          fill_scan(m, scan);
          FActivities->add_scan(scan);
          activity = kNone;
        } else if (depth == package) {
          package = kNone;
        }
      });
}

}  // namespace qninet
