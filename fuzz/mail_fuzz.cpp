// Mail address lists and single addresses on arbitrary text: the parts come from the input,
// an address reads back from its own text, and a joined list joins again to itself.

#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "FuzzCheck.h"
#include "qninet/socket/MailTypes.h"

using namespace qninet;

namespace {

// Whether the list text can carry the address: it has a text, and no bracket, quote or comma
// in its parts, which the unquoted "Name <Address>" form would read differently.
bool plain(const TQNIEMailAddress& a) {
  return !a.Text().empty() && a.Name() == Trim(a.Name()) && a.Name() != UpperCase(a.Address()) &&
         (a.Name() + a.Address()).find_first_of(u"<>()\"',") == String::npos;
}

void check_address(const String& text) {
  TQNIEMailAddress a;
  a.SetText(text);
  FUZZ_CHECK(a.Address().size() + a.Name().size() <= text.size());
  FUZZ_CHECK(a.Address().empty() || text.find(a.Address()) != String::npos);
  FUZZ_CHECK(a.Name().empty() || text.find(a.Name()) != String::npos);
  if (!plain(a)) return;
  TQNIEMailAddress again;
  again.SetText(a.Text());
  FUZZ_CHECK(again.Address() == a.Address() && again.Name() == a.Name());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  // Half the inputs read as UTF-16, so characters beyond Latin-1 are met too.
  String text;
  if (size > 0 && (data[0] & 1)) {
    for (std::size_t i = 1; i + 1 < size; i += 2)
      text.push_back(static_cast<char16_t>(data[i] | data[i + 1] << 8));
  } else {
    text = FromBytes(fuzz::bytes_of(data, size));
  }
  TQNIEMailAddresses list(nullptr);
  list.SetEMailAddresses(text);
  std::size_t parts = 0;
  for (int i = 0; i < list.Count(); ++i)
    parts += list.Items(i)->Address().size() + list.Items(i)->Name().size();
  FUZZ_CHECK(parts <= text.size());
  FUZZ_CHECK(static_cast<std::size_t>(list.Count()) <=
             static_cast<std::size_t>(std::count(text.begin(), text.end(), u',')) + 1);
  // A list of plain addresses reads back from its text item by item.
  bool allPlain = true;
  for (int i = 0; i < list.Count(); ++i) allPlain = allPlain && plain(*list.Items(i));
  TQNIEMailAddresses again(nullptr);
  again.SetEMailAddresses(list.EMailAddresses());
  if (allPlain) {
    FUZZ_CHECK(again.Count() == list.Count());
    for (int i = 0; i < list.Count(); ++i)
      FUZZ_CHECK(again.Items(i)->Address() == list.Items(i)->Address() &&
                 again.Items(i)->Name() == list.Items(i)->Name());
  }
  check_address(text.substr(0, text.find(u',')));
  return 0;
}
