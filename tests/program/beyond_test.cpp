// `qninet whois --follow`, `qninet dns` with the newer types and `qninet rss` on decoded and
// Atom feeds, as a user runs them against loopback servers.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>
#include <vector>

#include "harness/Process.h"
#include "harness/ScriptedServer.h"

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
