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

TEST(WhoIsTable, SixtyNineEntriesInOrder) {
  TQNWhoIs w(nullptr);
  const char* keys[] = {
      "*",  "ac", "am", "as", "at", "au", "be", "br", "ca",     "cc",     "ch",     "ck",     "cl", "cn",
      "cr", "cz", "de", "dk", "ec", "ee", "es", "fi", "fr",     "gb",     "gb.com", "gb.net", "gs", "hk",
      "hm", "in", "is", "it", "jp", "kg", "kr", "kz", "li",     "lk",     "lu",     "mm",     "ms", "mx",
      "nl", "no", "nu", "nz", "pe", "pl", "pt", "ru", "sc",     "se",     "sg",     "sh",     "sk", "st",
      "tc", "tf", "th", "tj", "to", "tr", "tw", "uk", "uk.com", "uk.net", "us",     "vg",     "za"};
  ASSERT_EQ(w.ServerList()->Count(), 69);
  for (int i = 0; i < 69; ++i) {
    EXPECT_EQ(w.ServerList()->Names(i), FromUtf8(keys[i])) << i;
    EXPECT_FALSE(w.ServerList()->ValueFromIndex(i).empty()) << i;
  }
}

TEST(WhoIsTable, ShapeOfTheValues) {
  TQNWhoIs w(nullptr);
  EXPECT_EQ(server_of(w, u"*"), QNWhoIsFallbackServer);
  const String zones = server_of(w, u"gb.com");
  EXPECT_EQ(server_of(w, u"gb.net"), zones);
  EXPECT_EQ(server_of(w, u"uk.com"), zones);
  EXPECT_EQ(server_of(w, u"uk.net"), zones);
  // every one-label key has a server of its own, apart from the shared second-level zones
  std::set<String> seen;
  for (int i = 0; i < w.ServerList()->Count(); ++i) {
    if (w.ServerList()->Names(i).find(u'.') != String::npos) continue;
    EXPECT_TRUE(seen.insert(w.ServerList()->ValueFromIndex(i)).second) << ToUtf8(w.ServerList()->Strings(i));
  }
  EXPECT_EQ(seen.count(zones), 0u);
  EXPECT_NE(QNWhoIsRIPEServer, QNWhoIsFallbackServer);
}

TEST(WhoIsTable, PortAndDefaults) {
  TQNWhoIs w(nullptr);
  EXPECT_EQ(w.Port(), 43);
  EXPECT_TRUE(w.AutoSelectServer());
  EXPECT_EQ(w.Domain(), u"");
  EXPECT_EQ(w.Host(), u"");
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

TEST(WhoIsServerChoice, LastLabelPicksTheEntry) {
  TQNWhoIs w(nullptr);
  w.SetDomain(u"example.co.uk");
  EXPECT_EQ(w.Host(), server_of(w, u"uk"));
  w.SetDomain(u"EXAMPLE.DE");  // names compared without regard to case
  EXPECT_EQ(w.Host(), server_of(w, u"de"));
  w.SetDomain(u"jp");  // no dot: the whole text is the key
  EXPECT_EQ(w.Host(), server_of(w, u"jp"));
}

TEST(WhoIsServerChoice, NoEntryOfItsOwnGetsTheStarEntry) {
  TQNWhoIs w(nullptr);
  w.SetDomain(u"example.com");
  EXPECT_EQ(w.Host(), server_of(w, u"*"));
  w.SetDomain(u"example.");  // empty key
  EXPECT_EQ(w.Host(), server_of(w, u"*"));
  // two-label keys are never chosen: only the last label counts
  w.SetDomain(u"shop.uk.com");
  EXPECT_EQ(w.Host(), server_of(w, u"*"));
}

TEST(WhoIsServerChoice, AddressesGoToRIPE) {
  TQNWhoIs w(nullptr);
  w.SetDomain(u"10.1.2.3");
  EXPECT_EQ(w.Host(), QNWhoIsRIPEServer);
  EXPECT_EQ(w.Address(), u"");
  w.SetDomain(u"10.1.2");
  EXPECT_EQ(w.Host(), server_of(w, u"*"));
  w.SetDomain(u"10.1.2.3.4");
  EXPECT_EQ(w.Host(), server_of(w, u"*"));
  w.SetDomain(u"10.1.2.3x");
  EXPECT_EQ(w.Host(), server_of(w, u"*"));
  w.SetDomain(u"1.2.3.4.x");  // the engine's looser test would call this an address
  EXPECT_EQ(w.Host(), server_of(w, u"*"));
}

TEST(WhoIsServerChoice, StrictAddressTest) {
  EXPECT_TRUE(IsWhoIsAddress(u"0.0.0.0"));
  EXPECT_TRUE(IsWhoIsAddress(u"255.255.255.255"));
  EXPECT_FALSE(IsWhoIsAddress(u"256.1.1.1"));
  EXPECT_FALSE(IsWhoIsAddress(u"1.2.3.256"));
  EXPECT_FALSE(IsWhoIsAddress(u"1.2.3"));
  EXPECT_FALSE(IsWhoIsAddress(u"1.2.3.4.5"));
  EXPECT_FALSE(IsWhoIsAddress(u"1.2.3."));
  EXPECT_FALSE(IsWhoIsAddress(u"1..2.3"));
  EXPECT_FALSE(IsWhoIsAddress(u"a.b.c.d"));
  EXPECT_FALSE(IsWhoIsAddress(u""));
  EXPECT_FALSE(IsWhoIsAddress(u"-1.2.3.4"));
}

TEST(WhoIsServerChoice, KeyOfTheDomain) {
  EXPECT_EQ(WhoIsKeyOf(u"a.b.c"), u"c");
  EXPECT_EQ(WhoIsKeyOf(u"abc"), u"abc");
  EXPECT_EQ(WhoIsKeyOf(u"abc."), u"");
  EXPECT_EQ(WhoIsKeyOf(u""), u"");
}

TEST(WhoIsServerChoice, SameDomainTwiceDoesNotChooseAgain) {
  TQNWhoIs w(nullptr);
  w.SetDomain(u"example.nl");
  w.SetHost(u"whois.by-hand.example");
  w.SetDomain(u"example.nl");
  EXPECT_EQ(w.Host(), u"whois.by-hand.example");
}

TEST(WhoIsServerChoice, AutoSelectOffLeavesHost) {
  TQNWhoIs w(nullptr);
  w.SetAutoSelectServer(false);
  w.SetHost(u"mine.example");
  w.SetDomain(u"example.fr");
  EXPECT_EQ(w.Domain(), u"example.fr");
  EXPECT_EQ(w.Host(), u"mine.example");
}

TEST(WhoIsServerChoice, EmptyDomainLeavesHost) {
  TQNWhoIs w(nullptr);
  w.SetDomain(u"example.se");
  const String chosen = w.Host();
  w.SetDomain(u"");
  EXPECT_EQ(w.Host(), chosen);
}

TEST(WhoIsServerChoice, ReplacedListWithoutStarFallsBackToBuiltIn) {
  TQNWhoIs w(nullptr);
  TStringList list;
  list.Add(u"xy=whois.xy.example");
  w.SetServerList(&list);
  EXPECT_EQ(w.ServerList()->Count(), 1);
  w.SetDomain(u"example.xy");
  EXPECT_EQ(w.Host(), u"whois.xy.example");
  w.SetDomain(u"example.uk");
  EXPECT_EQ(w.Host(), QNWhoIsFallbackServer);
  list.Add(u"zz=other");
  EXPECT_EQ(w.ServerList()->Count(), 1);  // the component kept its own copy
}

TEST(WhoIsServerChoice, EntryWithADottedAddressIsUsed) {
  TQNWhoIs w(nullptr);
  TStringList list;
  list.Add(u"test=127.0.0.1");
  list.Add(u"*=whois.star.example");
  w.SetServerList(&list);
  w.SetDomain(u"example.test");
  EXPECT_EQ(w.Address(), u"127.0.0.1");
  EXPECT_EQ(w.Host(), u"");
}

TEST(WhoIsQuery, DomainLineThenHeaderBlock) {
  ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send("Domain name:\r\n    example.co.uk\r\n"));
  TQNWhoIs w(nullptr);
  w.SetDomain(u"example.co.uk");
  w.SetAddress(FromUtf8(server.Host()));
  w.SetPort(server.Port());
  EXPECT_EQ(w.Execute(), u"Domain name:\r\n    example.co.uk\r\n");
  EXPECT_EQ(server.Received(0), "example.co.uk\r\nProxy-Connection: Keep-Alive\r\n\r\n");
}

TEST(WhoIsQuery, EmptyDomainSendsNothingAndReads) {
  ScriptedServer server(Script().Send("% no query given\r\n"));
  TQNWhoIs w(nullptr);
  w.SetAddress(u"127.0.0.1");
  w.SetPort(server.Port());
  EXPECT_EQ(w.GetQuery(), u"");
  EXPECT_EQ(w.Execute(), u"% no query given\r\n");
  EXPECT_EQ(server.Received(0), "");
}

TEST(WhoIsQuery, ThroughAProxyWithCredentials) {
  ScriptedServer proxy(Script().ReadUntil("\r\n\r\n").Send("record"));
  TQNWhoIs w(nullptr);
  w.SetDomain(u"example.at");
  w.SetLoginPrompt(false);
  w.Proxy()->SetUseProxy(true);
  w.Proxy()->SetServer(u"127.0.0.1");
  w.Proxy()->SetPort(proxy.Port());
  w.Proxy()->SetUser(u"joe");
  w.Proxy()->SetPassword(u"pw");
  EXPECT_EQ(w.Execute(), u"record");
  EXPECT_EQ(proxy.Received(0), "example.at\r\nUsername: joe\r\nPassword: pw\r\n\r\n");
}
