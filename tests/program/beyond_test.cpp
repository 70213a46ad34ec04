// `qninet whois --follow` and `qninet rss` on decoded and Atom feeds, as a user runs them against
// loopback servers.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "harness/Process.h"
#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"

using namespace qninet::harness;
using namespace std::chrono_literals;

namespace {

RunResult run_qninet(std::vector<std::string> args) {
  args.insert(args.begin(), QNINET_PROGRAM);
  return RunToCompletion(args, 30s);
}

}  // namespace

TEST(BeyondProgram, WhoisFollowPrintsTheLastAnswerAndTheChain) {
  const Script last = Script().ReadUntil("\r\n\r\n").Send("Registrant: Example\r\n");
  ScriptedServer registrar(std::vector<Script>{last, last});
  const Script refer =
      Script().ReadUntil("\r\n\r\n").Send("refer: 127.0.0.1:" + std::to_string(registrar.Port()) + "\n");
  ScriptedServer registry(std::vector<Script>{refer, refer});
  const std::string first = "127.0.0.1:" + std::to_string(registry.Port());
  const std::string second = "127.0.0.1:" + std::to_string(registrar.Port());
  auto r = run_qninet({"whois", "--follow", "-v", "--host", "127.0.0.1", "--port",
                       std::to_string(registry.Port()), "example.com"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "Registrant: Example\r\n");
  EXPECT_NE(r.Output.find("asked " + second), std::string::npos) << r.Output;
  r = run_qninet({"whois", "--follow", "--json", "--host", "127.0.0.1", "--port",
                  std::to_string(registry.Port()), "example.com"});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  const auto j = nlohmann::json::parse(r.Stdout);
  EXPECT_EQ(j["Answer"], "Registrant: Example\r\n");
  EXPECT_EQ(j["ReferralChain"], nlohmann::json::array({first, second}));
  EXPECT_EQ(run_qninet({"whois", "--follow", "--show-server", "8.8.8.8"}).Stdout, "whois.arin.net\n");
}

TEST(BeyondProgram, RssDecodeDecodesTheTextsAndPubDateFillsTheDate) {
  TempDir dir("qninet-beyond");
  const std::string feed = dir.File("news.rss").string();
  std::ofstream(feed)
      << "<rss><channel><title>Tom &amp; Jerry</title>\n<item><title>Caf&eacute; &#8364;</title>\n"
         "<pubDate>Mon, 01 Jan 2024</pubDate></item>\n</channel></rss>\n";
  auto r = run_qninet({"rss", "--json", "--decode", feed});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  auto j = nlohmann::json::parse(r.Stdout)["channels"][0];
  EXPECT_EQ(j["Title"], "Tom & Jerry");
  EXPECT_EQ(j["Items"][0]["Title"], "Caf\u00e9 \u20ac");
  EXPECT_EQ(j["Items"][0]["Date"], "Mon, 01 Jan 2024");
  r = run_qninet({"rss", "--json", feed});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(nlohmann::json::parse(r.Stdout)["channels"][0]["Title"], "Tom &amp; Jerry");
  const std::string atom = dir.File("news.atom").string();
  std::ofstream(atom)
      << "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title>\n<entry><title>E</title>"
         "<link href=\"http://e/\"/><summary>S</summary></entry></feed>\n";
  r = run_qninet({"rss", atom});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "channel A\n  item E\n    Link: http://e/\n    Description: S\n");
}
