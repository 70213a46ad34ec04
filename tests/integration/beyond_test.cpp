// WHOIS referrals between loopback WHOIS-like servers.

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "harness/ScriptedServer.h"
#include "qninet/socket/QNWhoIs.h"

using namespace qninet;
using harness::Script;
using harness::ScriptedServer;

namespace {

// A WHOIS-like server answering `answer()`, made when the query arrives (naming later servers).
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

// Referrals are followed only when asked (following itself: the program's whois rows); two servers
// that refer to each other, and a chain longer than the hops allowed.
TEST(WhoIsReferralChain, ALoopStopsAtTheServerAskedBeforeAndAChainAfterThreeHops) {
  std::atomic<int> first_port{0};
  ScriptedServer second(whois_answer(
      [&] { return "ReferralServer: whois://127.0.0.1:" + std::to_string(first_port.load()) + "\n"; }));
  ScriptedServer first(std::vector<Script>(
      3, whois_answer([&] { return "refer: 127.0.0.1:" + std::to_string(second.Port()) + "\n"; })));
  first_port = first.Port();
  TQNWhoIs w(nullptr);
  w.SetDomain(u"loop.test");
  w.SetAddress(u"127.0.0.1");
  w.SetPort(first.Port());
  w.SetTimeout(5000);
  EXPECT_EQ(ToUtf8(w.Execute()), "refer: 127.0.0.1:" + std::to_string(second.Port()) + "\n");  // not followed
  EXPECT_EQ(w.ReferralChain()->Count(), 0);
  EXPECT_EQ(second.ConnectionCount(), 0u);
  w.SetFollowReferrals(true);
  EXPECT_EQ(ToUtf8(w.Execute()), "ReferralServer: whois://127.0.0.1:" + std::to_string(first.Port()) + "\n");
  EXPECT_EQ(chain_of(w), (std::vector<String>{endpoint(first), endpoint(second)}));
  EXPECT_EQ(first.ConnectionCount(), 2u);  // the unfollowed run, then once in the loop
  EXPECT_EQ(second.Received(0), "loop.test\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(w.Port(), first.Port());  // the component's own server stays

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
