// WHOIS referrals between loopback WHOIS-like servers, and the newer DNS record types from dnsmasq.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "harness/Dnsmasq.h"
#include "harness/Process.h"
#include "harness/ScriptedServer.h"
#include "harness/ServerLaunch.h"
#include "qninet/socket/QNIDNS.h"
#include "qninet/socket/QNWhoIs.h"

using namespace qninet;
using harness::Script;
using harness::ScriptedServer;

namespace {

// A WHOIS-like server that answers the query with `answer()`, made when the query arrives so
// that it can name a server started later.
Script whois_answer(std::function<std::string()> answer) {
  return Script().ReadUntil("\r\n\r\n").Reply({}, [answer](const std::string&) { return answer(); });
}

String endpoint(const ScriptedServer& s) { return u"127.0.0.1:" + IntToStr(s.Port()); }

std::vector<String> chain_of(const TQNWhoIs& w) {
  std::vector<String> chain;
  for (int i = 0; i < w.ReferralChain()->Count(); ++i) chain.push_back(w.ReferralChain()->Strings(i));
  return chain;
}

}  // namespace

// The registry refers, in its own words, to the registrar, which answers.
TEST(WhoIsReferralChain, FollowsToTheSecondServerAndReturnsItsAnswer) {
  ScriptedServer registrar(
      std::vector<Script>(2, whois_answer([] { return std::string("Registrant: Example\r\n"); })));
  const std::string referral =
      "Domain Name: EXAMPLE.COM\r\n   Registrar WHOIS Server: 127.0.0.1:" + std::to_string(registrar.Port()) +
      "\r\n";
  ScriptedServer registry(std::vector<Script>(2, whois_answer([&] { return referral; })));
  TQNWhoIs w(nullptr);
  w.SetDomain(u"example.com");
  w.SetAddress(u"127.0.0.1");
  w.SetPort(registry.Port());
  w.SetTimeout(5000);
  EXPECT_EQ(w.Execute(), FromUtf8(referral));  // off: the first answer, nothing followed
  EXPECT_EQ(w.ReferralChain()->Count(), 0);
  EXPECT_EQ(registrar.ConnectionCount(), 0u);
  w.SetFollowReferrals(true);
  EXPECT_EQ(w.Execute(), u"Registrant: Example\r\n") << ToUtf8(w.LastError());
  EXPECT_EQ(chain_of(w), (std::vector<String>{endpoint(registry), endpoint(registrar)}));
  EXPECT_EQ(registrar.Received(0), "example.com\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(w.Port(), registry.Port());  // the component's own server stays
  EXPECT_EQ(w.Address(), u"127.0.0.1");
}

// Two servers that refer to each other, and a chain longer than the hops allowed.
TEST(WhoIsReferralChain, ALoopStopsAtTheServerAskedBeforeAndAChainAfterThreeHops) {
  std::atomic<int> first_port{0};
  ScriptedServer second(whois_answer(
      [&] { return "ReferralServer: whois://127.0.0.1:" + std::to_string(first_port.load()) + "\n"; }));
  ScriptedServer first(std::vector<Script>(
      2, whois_answer([&] { return "refer: 127.0.0.1:" + std::to_string(second.Port()) + "\n"; })));
  first_port = first.Port();
  TQNWhoIs w(nullptr);
  w.SetFollowReferrals(true);
  w.SetDomain(u"loop.test");
  w.SetAddress(u"127.0.0.1");
  w.SetPort(first.Port());
  w.SetTimeout(5000);
  EXPECT_EQ(ToUtf8(w.Execute()), "ReferralServer: whois://127.0.0.1:" + std::to_string(first.Port()) + "\n");
  EXPECT_EQ(chain_of(w), (std::vector<String>{endpoint(first), endpoint(second)}));
  EXPECT_EQ(first.ConnectionCount(), 1u);

  // Five servers, each naming the next: the fifth is never asked.
  std::vector<std::unique_ptr<ScriptedServer>> servers;
  servers.push_back(std::make_unique<ScriptedServer>(whois_answer([] { return std::string("last\n"); })));
  for (int i = 0; i < 4; ++i) {
    const std::string next = "whois: 127.0.0.1:" + std::to_string(servers.back()->Port()) + "\n";
    servers.push_back(std::make_unique<ScriptedServer>(whois_answer([next] { return next; })));
  }
  w.SetPort(servers.back()->Port());
  const String answer = w.Execute();
  EXPECT_EQ(answer, u"whois: 127.0.0.1:" + IntToStr(servers[0]->Port()) + u"\n");
  ASSERT_EQ(w.ReferralChain()->Count(), QNWhoIsMaxReferrals + 1);
  EXPECT_EQ(w.ReferralChain()->Strings(3), endpoint(*servers[1]));
  EXPECT_EQ(servers[0]->ConnectionCount(), 0u);
}

// The resolver's decoded answers and dig's for the same question to the same dnsmasq, over TCP:
// the record data must read alike, word for word (the TTL left out, as dnsmasq chooses it). The
// types both dnsmasq and unbound serve are read in peers_dns_test.cpp.
TEST(DnsmasqNewerTypes, AnswersReadAsDigReadsThem) {
  const std::string dig = harness::RequireProgram("dig", "bind9-dnsutils");
  harness::Dnsmasq server(
      {"--dns-rr=test,257,8005697373756563612E746573743B20613D22625C632207E9",
       "--dns-rr=test,257,0005697373756563612E74657374",
       "--dns-rr=test,35,"
       "0064000A0175074532552B73697014215E2E2A24217369703A696E666F407465737421045F736970047465737400",
       "--dns-rr=test,43,EC450D01000102030405060708090A0B0C0D0E0F10111213",
       "--dns-rr=test,48,"
       "0100030D000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F20212223242526272829"
       "2A2B2C2D2E2F303132333435363738393A3B3C3D3E3F"});
  const auto words_without_ttl = [](const std::string& line) {
    std::istringstream in(line);
    std::vector<std::string> words;
    for (std::string w; in >> w;) words.push_back(w);
    if (words.size() > 1) words.erase(words.begin() + 1);
    return words;
  };
  const struct {
    TQNIDNSRequest Request;
    const char16_t* Name;
    std::vector<std::string> DigArgs;
    std::size_t Count;
  } cases[] = {
      {irCAA, u"test", {"test", "CAA"}, 2},
      {irNAPTR, u"test", {"test", "NAPTR"}, 1},
      {irDS, u"test", {"test", "DS"}, 1},
      {irDNSKEY, u"test", {"test", "DNSKEY"}, 1},
  };
  for (const auto& c : cases) {
    TQNIDNSResolver r(nullptr);
    r.SetHost(u"127.0.0.1");
    r.SetPort(server.Port());
    r.SetTimeout(5000);
    r.SetRequests({c.Request});
    r.SetDomain(c.Name);
    TQNIDNSReply reply;
    String error;
    ASSERT_TRUE(DNSDecodeReply(r.Execute(), reply, error)) << ToUtf8(error) << ToUtf8(r.LastError());
    std::vector<std::vector<std::string>> ours, theirs;
    for (const auto& rec : reply.Answers) ours.push_back(words_without_ttl(ToUtf8(DNSRecordLine(rec))));
    std::vector<std::string> argv{
        dig, "+tcp", "+noall", "+answer", "-p", std::to_string(server.Port()), "@127.0.0.1"};
    argv.insert(argv.end(), c.DigArgs.begin(), c.DigArgs.end());
    std::istringstream lines(harness::RunOrThrow(argv));
    for (std::string line; std::getline(lines, line);)
      if (!line.empty() && line[0] != ';') theirs.push_back(words_without_ttl(line));
    std::sort(ours.begin(), ours.end());
    std::sort(theirs.begin(), theirs.end());
    EXPECT_EQ(ours.size(), c.Count) << ToUtf8(c.Name) << server.LogText();
    EXPECT_EQ(ours, theirs) << ToUtf8(c.Name);
  }
}
