// The WHOIS client: the server choice from the table and the query on the wire.

#include "qninet/socket/QNWhoIs.h"

#include <gtest/gtest.h>

#include <string>

#include "harness/ScriptedServer.h"

using namespace qninet;
using harness::Script;
using harness::ScriptedServer;

namespace {

String server_of(const TQNWhoIs& w, const String& key) { return WhoIsServerOf(*w.ServerList(), key); }

}  // namespace

TEST(WhoIsServerChoice, LastLabelThenStarThenRIPEForStrictAddressesOnly) {
  const auto chosen = [](const char16_t* domain) {
    TQNWhoIs w(nullptr);
    w.SetDomain(domain);
    return w.Host();
  };
  // (A last label, an address and "*": the program's --show-server rows.)
  const TQNWhoIs table(nullptr);
  EXPECT_EQ(chosen(u"EXAMPLE.DE"), server_of(table, u"de"));  // case ignored
  EXPECT_EQ(chosen(u"jp"), server_of(table, u"jp"));          // no dot: the whole text is the key
  // "example.": an empty key; "shop.uk.com": only the last label counts, never a two-label key;
  // "1.2.3.4.x": the engine's looser test would call this an address
  for (const char16_t* d :
       {u"example.", u"shop.uk.com", u"10.1.2", u"10.1.2.3.4", u"10.1.2.3x", u"1.2.3.4.x"})
    EXPECT_EQ(chosen(d), server_of(table, u"*")) << ToUtf8(d);
  for (const char16_t* a : {u"0.0.0.0", u"255.255.255.255"}) EXPECT_TRUE(IsWhoIsAddress(a)) << ToUtf8(a);
  for (const char16_t* a : {u"256.1.1.1", u"1.2.3.256", u"1.2.3", u"1.2.3.4.5", u"1.2.3.", u"1..2.3",
                            u"a.b.c.d", u"", u"-1.2.3.4"})
    EXPECT_FALSE(IsWhoIsAddress(a)) << ToUtf8(a);
  const std::pair<const char16_t*, const char16_t*> keys[] = {
      {u"a.b.c", u"c"}, {u"abc", u"abc"}, {u"abc.", u""}, {u"", u""}};
  for (const auto& [domain, key] : keys) EXPECT_EQ(WhoIsKeyOf(domain), key) << ToUtf8(domain);
}

// A list without "*" falls back to the built-in server; an entry with a dotted address is used
// as the address; only a new, non-empty domain with AutoSelectServer chooses.
TEST(WhoIsServerChoice, ReplacedListAndOnlyANewNonEmptyDomainChooses) {
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
  w.SetDomain(u"example.xy");
  w.SetHost(u"whois.by-hand.example");
  w.SetDomain(u"example.xy");  // the same domain twice
  EXPECT_EQ(w.Host(), u"whois.by-hand.example");
  w.SetDomain(u"");
  EXPECT_EQ(w.Host(), u"whois.by-hand.example");
  w.SetAutoSelectServer(false);
  w.SetDomain(u"example.fr");
  EXPECT_EQ(w.Domain(), u"example.fr");
  EXPECT_EQ(w.Host(), u"whois.by-hand.example");
}

// A line break would add a query line: refused before connecting.
TEST(WhoIsQuery, DomainWithALineBreakIsRefused) {
  ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send("x\r\n"));
  TQNWhoIs w(nullptr);
  for (const char16_t* domain : {u"example.com\r\nsecond.com", u"example.com\n", u"\rexample.com"}) {
    w.SetDomain(domain);
    w.SetAddress(FromUtf8(server.Host()));
    w.SetPort(server.Port());
    EXPECT_THROW(w.Execute(), Exception);
    EXPECT_EQ(w.LastError(), u"The domain holds a line break; nothing was sent");
  }
  EXPECT_EQ(server.ConnectionCount(), 0u);
}

// What an answer may refer to (no host: nothing), and what a hostile one may not.
TEST(WhoIsReferrals, TheFirstUsableReferralOfAnAnswer) {
  const std::string long_host(254, 'a');
  const std::tuple<std::string, const char16_t*, Integer> cases[] = {
      {"% IANA WHOIS server\nrefer:        whois.verisign-grs.com\n\ndomain: COM\n",
       u"whois.verisign-grs.com", 43},
      {"domain: COM\r\nwhois:        whois.nic.example\r\n", u"whois.nic.example", 43},
      {"   Domain Name: EXAMPLE.COM\r\n   Registrar WHOIS Server: whois.markmonitor.com\r\n",
       u"whois.markmonitor.com", 43},
      {"ReferralServer:  whois://whois.ripe.net\n", u"whois.ripe.net", 43},
      {"referralserver: WHOIS://127.0.0.1:4343/\n", u"127.0.0.1", 4343},
      {"ReferralServer: whois://[::1]:4343\n", u"::1", 4343},
      {"REFER: whois.example:43\n", u"whois.example", 43},
      // an empty or unusable value is passed over for a later one
      {"Registrar WHOIS Server: \nrefer: whois.later.example\n", u"whois.later.example", 43},
      {"ReferralServer: rwhois://rwhois.example:4321\nwhois: whois.after.example\n", u"whois.after.example",
       43},
      {"Registrar WHOIS Server: http://www.example/whois\n", nullptr, 0},
      {"refer: whois.example:25\n", nullptr, 0},  // a mail server
      {"refer: whois.example:80\n", nullptr, 0},
      {"refer: whois.example:0\n", nullptr, 0},
      {"refer: whois.example:65536\n", nullptr, 0},
      {"refer: whois.example:\n", nullptr, 0},
      {"refer: whois.example\rMAIL FROM:<x@example>\n", nullptr, 0},  // a line break into the query
      {"refer: who is.example\n", nullptr, 0},
      {"refer: -whois.example\n", nullptr, 0},
      {"refer: " + long_host + "\n", nullptr, 0},
      {"ReferralServer: whois://[::1\n", nullptr, 0},
      {"domain: EXAMPLE\nstatus: ACTIVE\n", nullptr, 0},
      {"remarks: refer to whois.example for more\n", nullptr, 0}};
  for (const auto& [answer, host, port] : cases) {
    TQNWhoIsReferral r;
    const bool found = WhoIsReferralOf(FromUtf8(answer), r);
    ASSERT_EQ(found, host != nullptr) << answer;
    if (!found) continue;
    EXPECT_EQ(r.Host, host) << answer;
    EXPECT_EQ(r.Port, port) << answer;
  }
}

// A registry's block, the last block and the blocks none holds, not the block table again. (The
// choice following FollowReferrals: the program's --show-server rows.)
TEST(WhoIsReferrals, AnAddressGoesToTheRegistryOfItsBlockWhenFollowing) {
  const std::pair<const char16_t*, const char16_t*> cases[] = {
      {u"199.5.26.46", u"whois.arin.net"}, {u"223.255.255.255", u"whois.apnic.net"},
      {u"10.0.0.1", u"whois.iana.org"},    {u"224.0.0.1", u"whois.iana.org"},
      {u"0.1.2.3", u"whois.iana.org"},     {u"example.com", u"whois.iana.org"}};
  for (const auto& [address, server] : cases) EXPECT_EQ(WhoIsRegistryOf(address), server) << ToUtf8(address);
}
