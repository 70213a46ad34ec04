// The RDAP client's answer reader: an RDAP object (RFC 9083) into the typed results.

#include <vector>

#include "qninet/rtl/JsonText.h"
#include "qninet/web/QNIRdapParts.h"

namespace qninet {

namespace {

using json = nlohmann::json;

// A jCard value as one line: a text, or the non-empty texts of a structured value (one level of
// lists inside, as a street of several lines is) joined by ", ".
String vcard_text(const json& value) {
  if (value.is_string()) return FromUtf8(value.get_ref<const std::string&>());
  String out;
  if (!value.is_array()) return out;
  for (const json& part : value) {
    for (const json& piece : part.is_array() ? part : json::array({part})) {
      if (!piece.is_string() || piece.get_ref<const std::string&>().empty()) continue;
      out.append(out.empty() ? u"" : u", ").append(FromUtf8(piece.get_ref<const std::string&>()));
    }
  }
  return out;
}

// RFC 7095: ["vcard", [[name, parameters, type, value...], ...]].
void read_vcard(const json& card, TQNRdapEntity& entity) {
  if (!card.is_array() || card.size() < 2 || !card[1].is_array()) return;
  for (const json& property : card[1]) {
    if (!property.is_array() || property.size() < 4 || !property[0].is_string()) continue;
    const std::string& name = property[0].get_ref<const std::string&>();
    String value = vcard_text(property[3]);
    if (name == "fn" && entity.FullName().empty()) {
      entity.SetFullName(value);
    } else if (name == "org" && entity.Organization().empty()) {
      entity.SetOrganization(value);
    } else if (name == "email" && entity.Email().empty()) {
      entity.SetEmail(value);
    } else if (name == "tel" && entity.Telephone().empty()) {
      if (value.starts_with(u"tel:")) value.erase(0, 4);
      entity.SetTelephone(value);
    } else if (name == "adr" && entity.Address().empty()) {
      // A label parameter stands for the whole address when the parts are empty (RFC 6350 6.3.1).
      if (value.empty() && property[1].is_object()) value = JsonText(&property[1], "label");
      for (auto& c : value)
        if (c == u'\n') c = u',';
      entity.SetAddress(value);
    }
  }
}

void read_notices(const json& list, TCollectionOf<TQNRdapNotice>& out) {
  for (const json& n : list) {
    if (!n.is_object()) continue;
    TQNRdapNotice& notice = *out.Add();
    notice.SetTitle(JsonText(&n, "title"));
    String description;
    for (const json& line : JsonElements(&n, "description"))
      if (line.is_string())
        description.append(description.empty() ? u"" : u"\r\n")
            .append(FromUtf8(line.get_ref<const std::string&>()));
    notice.SetDescription(description);
  }
}

}  // namespace

// Entities nested in entities, in document order, without recursion: the depth of the answer is
// the parser's bound, the stack here is the heap's. An entity asked for is the first itself.
void rdap::read_entities(const json& object, TCollectionOf<TQNRdapEntity>& out) {
  std::vector<std::pair<const json*, int>> stack;
  const json& top = JsonElements(&object, "entities");
  if (JsonText(&object, "objectClassName") == u"entity")
    stack.emplace_back(&object, 0);
  else
    for (auto it = top.rbegin(); it != top.rend(); ++it) stack.emplace_back(&*it, 0);
  while (!stack.empty()) {
    const auto [item, depth] = stack.back();
    stack.pop_back();
    if (!item->is_object()) continue;
    TQNRdapEntity& entity = *out.Add();
    entity.SetHandle(JsonText(item, "handle"));
    entity.SetDepth(depth);
    for (const json& role : JsonElements(item, "roles"))
      if (role.is_string()) entity.Roles()->Add(FromUtf8(role.get_ref<const std::string&>()));
    if (const auto card = item->find("vcardArray"); card != item->end()) read_vcard(*card, entity);
    const json& inner = JsonElements(item, "entities");
    for (auto it = inner.rbegin(); it != inner.rend(); ++it) stack.emplace_back(&*it, depth + 1);
  }
}

String rdap::refusal(std::uint32_t code, const std::string& body) {
  String text = u"HTTP " + FromUtf8(std::to_string(code));
  try {
    const json error = ParseJsonBounded(body, {});
    if (!error.is_object()) return text;
    if (const String title = JsonText(&error, "title"); !title.empty()) text += u": " + title;
    String description;
    for (const json& line : JsonElements(&error, "description"))
      if (line.is_string())
        description.append(description.empty() ? u"" : u" ")
            .append(FromUtf8(line.get_ref<const std::string&>()));
    if (!description.empty()) text += u": " + description;
  } catch (const Exception&) {
    // An error page that is no JSON (a proxy's, a server's default) says only its status.
  }
  return text;
}

void TQNRdapClient::ReadAnswer(std::string_view Text, std::string_view Name) {
  const json answer = ParseJsonBounded(Text, Name, "Invalid RDAP answer");
  if (!answer.is_object())
    throw EReadError(FromUtf8(Name) + (Name.empty() ? u"" : u": ") + u"Invalid RDAP answer: no JSON object");
  TReader::Read(*this, answer);
}

void TQNRdapClient::TReader::Read(TQNRdapClient& c, const json& A) {
  c.FHandle = JsonText(&A, "handle");
  c.FLdhName = JsonText(&A, "ldhName");
  c.FUnicodeName = JsonText(&A, "unicodeName");
  c.FNetworkName = JsonText(&A, "name");
  c.FPort43 = JsonText(&A, "port43");
  c.FStartAddress = JsonText(&A, "startAddress");
  c.FEndAddress = JsonText(&A, "endAddress");
  c.FCountry = JsonText(&A, "country");
  for (const json& s : JsonElements(&A, "status"))
    if (s.is_string()) c.FRdapStatus->Add(FromUtf8(s.get_ref<const std::string&>()));
  for (const json& e : JsonElements(&A, "events")) {
    if (!e.is_object()) continue;
    TQNRdapEvent& event = *c.FEvents->Add();
    event.SetAction(JsonText(&e, "eventAction"));
    event.SetDate(JsonText(&e, "eventDate"));
    event.SetActor(JsonText(&e, "eventActor"));
  }
  rdap::read_entities(A, *c.FEntities);
  for (const json& n : JsonElements(&A, "nameservers"))
    if (n.is_object()) c.FNameservers->Add(JsonText(&n, "ldhName"));
  if (const auto dns = A.find("secureDNS"); dns != A.end() && dns->is_object())
    if (const auto s = dns->find("delegationSigned"); s != dns->end() && s->is_boolean())
      c.FDelegationSigned = s->get<bool>();
  for (const json& l : JsonElements(&A, "links")) {
    if (!l.is_object()) continue;
    TQNRdapLink& link = *c.FLinks->Add();
    link.SetRel(JsonText(&l, "rel"));
    link.SetHref(JsonText(&l, "href"));
    link.SetType(JsonText(&l, "type"));
  }
  read_notices(JsonElements(&A, "notices"), *c.FNotices);
  read_notices(JsonElements(&A, "remarks"), *c.FNotices);
  // The prefixes as the cidr0 extension lists them, else as the range covers them.
  for (const json& p : JsonElements(&A, "cidr0_cidrs")) {
    if (!p.is_object() || !p.contains("length") || !p["length"].is_number_unsigned()) continue;
    const String prefix =
        !JsonText(&p, "v4prefix").empty() ? JsonText(&p, "v4prefix") : JsonText(&p, "v6prefix");
    if (!prefix.empty()) c.FCIDR->Add(prefix + u"/" + FromUtf8(std::to_string(p["length"].get<unsigned>())));
  }
  if (c.FCIDR->Count() == 0 && !c.FStartAddress.empty())
    c.RangeToCIDR(c.FStartAddress, c.FEndAddress, c.FCIDR.get());
}

}  // namespace qninet
