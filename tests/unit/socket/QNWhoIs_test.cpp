// The WHOIS client: the server choice from the table and the query on the wire.

#include "qninet/socket/QNWhoIs.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "harness/ScriptedServer.h"
#include "qninet/rtl/TypInfo.h"

using namespace qninet;
using harness::Script;
using harness::ScriptedServer;

namespace {

String server_of(const TQNWhoIs& w, const String& key) { return WhoIsServerOf(*w.ServerList(), key); }

}  // namespace

// Every one-label key has a server of its own, apart from the shared second-level zones.
TEST(WhoIsTable, SixtyNineEntriesInOrderAndTheShapeOfTheValues) {
  TQNWhoIs w(nullptr);
  const char* keys[] = {
      "*",  "ac", "am", "as", "at", "au", "be", "br", "ca",     "cc",     "ch",     "ck",     "cl", "cn",
      "cr", "cz", "de", "dk", "ec", "ee", "es", "fi", "fr",     "gb",     "gb.com", "gb.net", "gs", "hk",
      "hm", "in", "is", "it", "jp", "kg", "kr", "kz", "li",     "lk",     "lu",     "mm",     "ms", "mx",
      "nl", "no", "nu", "nz", "pe", "pl", "pt", "ru", "sc",     "se",     "sg",     "sh",     "sk", "st",
      "tc", "tf", "th", "tj", "to", "tr", "tw", "uk", "uk.com", "uk.net", "us",     "vg",     "za"};
  ASSERT_EQ(w.ServerList()->Count(), 69);
  EXPECT_EQ(server_of(w, u"*"), QNWhoIsFallbackServer);
  const String zones = server_of(w, u"gb.com");
  for (const char16_t* key : {u"gb.net", u"uk.com", u"uk.net"}) EXPECT_EQ(server_of(w, key), zones);
  std::set<String> seen;
  for (int i = 0; i < 69; ++i) {
    EXPECT_EQ(w.ServerList()->Names(i), FromUtf8(keys[i])) << i;
    EXPECT_FALSE(w.ServerList()->ValueFromIndex(i).empty()) << i;
    if (w.ServerList()->Names(i).find(u'.') != String::npos) continue;
    EXPECT_TRUE(seen.insert(w.ServerList()->ValueFromIndex(i)).second) << ToUtf8(w.ServerList()->Strings(i));
  }
  EXPECT_EQ(seen.count(zones), 0u);
}

TEST(WhoIsTable, PublishedWithPort43AsTheDefault) {
  TQNWhoIs w(nullptr);
  EXPECT_EQ(w.Port(), 43);
  EXPECT_TRUE(w.AutoSelectServer());
  std::vector<std::string> names;
  for (const auto& p : GetPropList(w)) names.push_back(p.Name);
  ASSERT_GE(names.size(), 3u);
  EXPECT_EQ(std::vector<std::string>(names.end() - 3, names.end()),
            (std::vector<std::string>{"AutoSelectServer", "Domain", "ServerList"}));
  const TPropInfo* port = FindPropInfo(w, "Port");
  ASSERT_NE(port, nullptr);
  EXPECT_FALSE(port->IsStored(w));  // 43 is this class's default
  const TPropInfo* autoSelect = FindPropInfo(w, "AutoSelectServer");
  ASSERT_NE(autoSelect, nullptr);
  EXPECT_TRUE(autoSelect->IsStored(w));  // always stored
}

TEST(WhoIsServerChoice, LastLabelThenStarThenRIPEForStrictAddresses) {
  const auto chosen = [](const char16_t* domain) {
    TQNWhoIs w(nullptr);
    w.SetDomain(domain);
    return w.Host();
  };
  const TQNWhoIs table(nullptr);
  EXPECT_EQ(chosen(u"example.co.uk"), server_of(table, u"uk"));
  EXPECT_EQ(chosen(u"EXAMPLE.DE"), server_of(table, u"de"));  // case ignored
  EXPECT_EQ(chosen(u"jp"), server_of(table, u"jp"));          // no dot: the whole text is the key
  EXPECT_EQ(chosen(u"10.1.2.3"), QNWhoIsRIPEServer);
  // "example.": an empty key; "shop.uk.com": only the last label counts, never a two-label key;
  // "1.2.3.4.x": the engine's looser test would call this an address
  for (const char16_t* d :
       {u"example.com", u"example.", u"shop.uk.com", u"10.1.2", u"10.1.2.3.4", u"10.1.2.3x", u"1.2.3.4.x"})
    EXPECT_EQ(chosen(d), server_of(table, u"*")) << ToUtf8(d);
}

TEST(WhoIsServerChoice, StrictAddressTestAndKeyOfTheDomain) {
  for (const char16_t* a : {u"0.0.0.0", u"255.255.255.255"}) EXPECT_TRUE(IsWhoIsAddress(a)) << ToUtf8(a);
  for (const char16_t* a : {u"256.1.1.1", u"1.2.3.256", u"1.2.3", u"1.2.3.4.5", u"1.2.3.", u"1..2.3",
                            u"a.b.c.d", u"", u"-1.2.3.4"})
    EXPECT_FALSE(IsWhoIsAddress(a)) << ToUtf8(a);
  EXPECT_EQ(WhoIsKeyOf(u"a.b.c"), u"c");
  EXPECT_EQ(WhoIsKeyOf(u"abc"), u"abc");
  EXPECT_EQ(WhoIsKeyOf(u"abc."), u"");
  EXPECT_EQ(WhoIsKeyOf(u""), u"");
}

TEST(WhoIsServerChoice, OnlyANewNonEmptyDomainWithAutoSelectChooses) {
  TQNWhoIs w(nullptr);
  w.SetDomain(u"example.nl");
  w.SetHost(u"whois.by-hand.example");
  w.SetDomain(u"example.nl");  // the same domain twice
  EXPECT_EQ(w.Host(), u"whois.by-hand.example");
  w.SetDomain(u"");
  EXPECT_EQ(w.Host(), u"whois.by-hand.example");
  w.SetAutoSelectServer(false);
  w.SetDomain(u"example.fr");
  EXPECT_EQ(w.Domain(), u"example.fr");
  EXPECT_EQ(w.Host(), u"whois.by-hand.example");
}

// A list without "*" falls back to the built-in server; an entry with a dotted address is used
// as the address.
TEST(WhoIsServerChoice, ReplacedList) {
  TQNWhoIs w(nullptr);
  TStringList list;
  list.Add(u"xy=whois.xy.example");
  list.Add(u"test=127.0.0.1");
  w.SetServerList(&list);
  w.SetDomain(u"example.xy");
  EXPECT_EQ(w.Host(), u"whois.xy.example");
  w.SetDomain(u"example.uk");
  EXPECT_EQ(w.Host(), QNWhoIsFallbackServer);
  w.SetDomain(u"example.test");
  EXPECT_EQ(w.Address(), u"127.0.0.1");
  EXPECT_EQ(w.Host(), u"");
  list.Add(u"zz=other");
  EXPECT_EQ(w.ServerList()->Count(), 2);  // the component kept its own copy
}

TEST(WhoIsQuery, DomainLineThenHeaderBlock) {
  ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send("Domain name:\r\n    example.co.uk\r\n"));
  TQNWhoIs w(nullptr);
  w.SetDomain(u"example.co.uk");
  w.SetAddress(FromUtf8(server.Host()));
  w.SetPort(server.Port());
  EXPECT_EQ(w.Execute(), u"Domain name:\r\n    example.co.uk\r\n");
  EXPECT_EQ(server.Received(0), "example.co.uk\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  w.SetDomain(u"");
  EXPECT_EQ(w.GetQuery(), u"");  // the engine then sends nothing and only reads
}
