// Typed records of a decoded reply, and the lists a program walks with range-for.

#include <gtest/gtest.h>

#include "qninet/socket/MailTypes.h"
#include "qninet/socket/QNIDNS.h"
#include "qninet/web/QNIRSS.h"

using namespace qninet;

namespace {

std::string U16(unsigned v) { return {static_cast<char>(v >> 8), static_cast<char>(v & 0xFF)}; }

// The typed reading of one record, as "kind fields" ("-" when no reader gives anything).
std::string typed(const TQNIDNSRecord& r) {
  if (const auto a = r.Address()) return "address " + ToUtf8(a->Text) + " " + std::to_string(a->Bytes[15]);
  if (const auto mx = r.MX()) return "mx " + std::to_string(mx->Preference) + " " + ToUtf8(mx->Exchange);
  if (const auto t = r.TXT())
    return "txt " + std::to_string(t->size()) + " " + (t->empty() ? "" : ToUtf8(t->back()));
  return "-";
}

}  // namespace

// A reader gives nothing for another type or data out of form (which then renders in the generic
// form); a record outlives the reply its compressed names point into. (Each reader's fields from
// well-formed records: the peers' typed rows beside dig.)
TEST(DnsRecords, TypedReadersAndTheirLimits) {
  const std::tuple<unsigned, std::string, const char*> rows[] = {
      {1, std::string(15, '\0') + "\x01", "-"},  // an A record of 16 bytes is no IPv6 address
      {15, U16(10) + "\x04mail\xC0\x0C", "mx 10 mail.a."},
      {15, U16(10) + "\x04mail", "-"},  // the name runs past the data
      {16,
       std::string("\x00\x05"
                   "caf\xC3\xA9",
                   7),
       "txt 2 caf\xC3\x83\xC2\xA9"},
      {16, "\x06short", "-"},  // the string runs past the data
      {2, "\xC0\x0C", "-"}};
  for (const auto& [type, data, want] : rows) {
    SCOPED_TRACE(want);
    const std::string m = U16(1) + U16(0x8180) + U16(1) + U16(1) + U16(0) + U16(0) + std::string("\1a\0", 3) +
                          U16(type) + U16(1) + std::string("\xC0\x0C", 2) + U16(type) + U16(1) + U16(0) +
                          U16(60) + U16(static_cast<unsigned>(data.size())) + data;
    TQNIDNSRecord record;
    {
      TQNIDNSReply reply;
      String error;
      ASSERT_TRUE(DNSDecodeReply(FromBytes(m), reply, error)) << ToUtf8(error);
      record = reply.Answers.at(0);
    }
    EXPECT_EQ(typed(record), want);
    EXPECT_EQ(record.Name(), u"a.");
    EXPECT_EQ(std::string(want) == "-" && type != 2, record.Data().starts_with(u"\\# "))
        << ToUtf8(record.Data());
  }
}

// The range-for loop visits what index access gives, in order, and size() counts it; an owned
// list after a deletion walks its remaining objects.
TEST(ListWalk, RangeForVisitsEveryElementInOrder) {
  TStringList lines;
  lines.SetText(u"a\nb\nc");
  TQNIEMailAddresses addresses(nullptr);
  addresses.SetEMailAddresses(u"a@x, b@x, c@x");
  TQNIRSSChannels channels;
  for (const char16_t* title : {u"a", u"gone", u"b", u"c"}) channels.Add()->Title = title;
  channels.DeleteItem(1);
  String walked;
  for (const String& line : lines) walked += line;
  for (const TQNIEMailAddress& address : addresses) walked += address.Address().substr(0, 1);
  for (const TQNIRSSChannel& channel : channels) walked += channel.Title;
  EXPECT_EQ(ToUtf8(walked), "abcabcabc");
  EXPECT_EQ(lines.size() + addresses.size() + channels.size(), 9u);
}
