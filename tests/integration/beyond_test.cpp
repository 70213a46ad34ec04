// WHOIS referrals between loopback WHOIS-like servers, the newer DNS record types from dnsmasq,
// and Atom feeds served by nginx.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <sstream>
#include <memory>
#include <string>
#include <vector>

#include "harness/Dnsmasq.h"
#include "harness/Nginx.h"
#include "harness/Process.h"
#include "harness/ScriptedServer.h"
#include "harness/ServerLaunch.h"
#include "qninet/socket/QNIDNS.h"
#include "qninet/socket/QNWhoIs.h"
#include "qninet/web/QNIRSS.h"
#include "support/NoSystemProxy.h"

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
// the record data must read alike, word for word (the TTL left out, as dnsmasq chooses it).
TEST(DnsmasqNewerTypes, AnswersReadAsDigReadsThem) {
  const std::string dig = harness::RequireProgram("dig", "bind9-dnsutils");
  harness::Dnsmasq server(
      {"--host-record=v6.test,fd00::5", "--srv-host=_sip._tcp.test,sip.test,5060,10,20",
       "--dns-rr=test,257,8005697373756563612E746573743B20613D22625C632207E9",
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
      {irAAAA, u"v6.test", {"v6.test", "AAAA"}, 1}, {irSRV, u"_sip._tcp.test", {"_sip._tcp.test", "SRV"}, 1},
      {irCAA, u"test", {"test", "CAA"}, 2},         {irNAPTR, u"test", {"test", "NAPTR"}, 1},
      {irDS, u"test", {"test", "DS"}, 1},           {irDNSKEY, u"test", {"test", "DNSKEY"}, 1},
      {irPTR, u"fd00::5", {"-x", "fd00::5"}, 1},
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

// Atom feeds downloaded from nginx and read with their texts decoded.
TEST(AtomFeeds, ReadFromNginxWithTheirVariants) {
  test_support::NoSystemProxy noProxy;
  harness::Nginx nginx;
  const std::string head =
      "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n<feed xmlns=\"http://www.w3.org/2005/Atom\">\n"
      "<title>Caf&#233; news</title>\n<link rel=\"self\" href=\"/feed.atom\"/>\n"
      "<link href=\"http://n.test/\"/>\n<updated>2024-03-01T10:00:00Z</updated>\n";
  nginx.WriteFile("xhtml.atom",
                  head +
                      "<entry>\n<title>X</title>\n<link rel=\"alternate\" href=\"http://n.test/x\"/>\n"
                      "<content type=\"xhtml\"><div xmlns=\"http://www.w3.org/1999/xhtml\"><p>Rich "
                      "&amp; <em>bold</em></p></div></content>\n<updated>2024-03-01</updated>\n"
                      "<author><name>Zo&#235;</name></author>\n</entry>\n</feed>\n");
  nginx.WriteFile("links.atom",
                  head +
                      "<entry>\n<title>L</title>\n<link rel=\"replies\" href=\"http://n.test/c\"/>\n"
                      "<link rel=\"alternate\" type=\"text/html\" href=\"http://n.test/l\"/>\n"
                      "<link rel=\"alternate\" type=\"application/pdf\" href=\"http://n.test/l.pdf\"/>\n"
                      "<summary>Short</summary>\n<content>Long</content>\n</entry>\n</feed>\n");
  nginx.WriteFile("nosummary.atom",
                  head +
                      "<entry>\n<title>N</title>\n<content type=\"html\">&lt;p&gt;Only "
                      "content&lt;/p&gt;</content>\n<published>2024-02-29</published>\n</entry>\n"
                      "<entry>\n<title>Bare</title>\n</entry>\n</feed>\n");
  nginx.Start();
  const struct {
    const char* Path;
    std::vector<std::vector<std::string>> Items;  // title, link, description, creator, date
  } cases[] = {
      {"/xhtml.atom",
       {{"X", "http://n.test/x", "<p>Rich &amp; <em>bold</em></p>", "Zo\xC3\xAB", "2024-03-01"}}},
      {"/links.atom", {{"L", "http://n.test/l", "Short", "", ""}}},
      {"/nosummary.atom", {{"N", "", "<p>Only content</p>", "", "2024-02-29"}, {"Bare", "", "", "", ""}}},
  };
  for (const auto& c : cases) {
    TQNIRSSParser p(nullptr);
    p.SetURL(FromUtf8(nginx.Url(c.Path)));
    p.SetTimeout(15000);
    p.SetDecodeEntities(true);
    ASSERT_TRUE(p.Execute()) << c.Path << ": " << ToUtf8(p.LastErrorText());
    ASSERT_EQ(p.Channels()->Count(), 1) << c.Path;
    const TQNIRSSChannel& ch = *p.Channels()->GetItem(0);
    EXPECT_EQ(ToUtf8(ch.Title), "Caf\xC3\xA9 news");
    EXPECT_EQ(ToUtf8(ch.Link), "http://n.test/");
    EXPECT_EQ(ToUtf8(ch.LastBuildDate), "2024-03-01T10:00:00Z");
    std::vector<std::vector<std::string>> items;
    for (int i = 0; i < ch.Items()->Count(); ++i) {
      const TQNIRSSItem& it = *ch.Items()->GetItem(i);
      items.push_back(
          {ToUtf8(it.Title), ToUtf8(it.Link), ToUtf8(it.Description), ToUtf8(it.Creator), ToUtf8(it.Date)});
    }
    EXPECT_EQ(items, c.Items) << c.Path;
    EXPECT_FALSE(std::filesystem::exists(ToUtf8(p.LocalFileName()))) << c.Path;  // the temporary file is gone
  }
}
