// `qninet whois` as a user runs it, against scripted loopback WHOIS servers.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <chrono>
#include <string>
#include <vector>

#include "harness/Ports.h"
#include "harness/Process.h"
#include "harness/ScriptedServer.h"

using namespace qninet::harness;
using namespace std::chrono_literals;

namespace {

RunResult whois(std::vector<std::string> args) {
  std::vector<std::string> argv{QNINET_PROGRAM, "whois"};
  argv.insert(argv.end(), args.begin(), args.end());
  return RunToCompletion(argv, 30s);
}

}  // namespace

// Standard output gets the bytes; --json reads them as Latin-1 when they are no UTF-8.
TEST(WhoisProgram, WritesTheAnswerByteForByteOrAsJson) {
  const std::string record("Domain name:\r\n  example.co.uk\r\n\0\xe9\xff end\n", 36);
  const Script answer = Script().ReadUntil("\r\n\r\n").SendChunks(record, 5, 1ms);
  ScriptedServer server(std::vector<Script>{answer, answer});
  const std::vector<std::string> args{"--host", "127.0.0.1", "--port", std::to_string(server.Port()),
                                      "example.co.uk"};
  auto r = whois(args);
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, record);
  EXPECT_EQ(server.Received(0), "example.co.uk\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  auto json_args = args;
  json_args.push_back("--json");
  r = whois(json_args);
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  const auto j = nlohmann::json::parse(r.Stdout);
  EXPECT_EQ(j["status"], "ok");
  EXPECT_EQ(j["Domain"], "example.co.uk");
  EXPECT_EQ(j["Answer"], std::string("Domain name:\r\n  example.co.uk\r\n\0\u00e9\u00ff end\n", 38));
}

TEST(WhoisProgram, ShowServerPrintsTheChoiceAndQueriesNothing) {
  auto r = whois({"--show-server", "example.co.uk"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "whois.nic.uk\n");
  EXPECT_EQ(whois({"--show-server", "10.1.2.3"}).Stdout, "whois.ripe.net\n");
  EXPECT_EQ(whois({"--show-server", "example.com"}).Stdout, "whois.internic.net\n");
  EXPECT_EQ(whois({"--show-server", "--host", "127.0.0.1", "example.com"}).Stdout, "127.0.0.1\n");
}

TEST(WhoisProgram, VerboseShowsTheNotifications) {
  ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send("record\n"));
  const auto r =
      whois({"--verbose", "--host", "localhost", "--port", std::to_string(server.Port()), "example.de"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "record\n");
  std::size_t at = 0;  // each notification after the one before
  for (const char* text : {"* looking up localhost", "* connecting to localhost:", "* connected to 127.0.0.1",
                           "* disconnected"}) {
    at = r.Output.find(text, at);
    ASSERT_NE(at, std::string::npos) << text << "\n" << r.Output;
  }
}

TEST(WhoisProgram, ProxyGetsTheQueryAndTheCredentials) {
  ScriptedServer proxy(Script().ReadUntil("\r\n\r\n").Send("via proxy\n"));
  const auto r = whois({"--host", "whois.server.invalid", "--proxy",
                        "127.0.0.1:" + std::to_string(proxy.Port()), "--proxy-user", "joe:pw", "example.at"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "via proxy\n");
  EXPECT_EQ(proxy.Received(0), "example.at\r\nUsername: joe\r\nPassword: pw\r\n\r\n");
}

// The socket names its endpoint in the failure; the program says it once.
TEST(WhoisProgram, RefusedConnectionNamesTheEndpointOnce) {
  const std::string port = std::to_string(FreePort());
  const auto r = whois({"--host", "127.0.0.1", "--port", port, "example.co.uk"});
  EXPECT_EQ(r.ExitCode, 1);
  const std::string said = "qninet whois: 127.0.0.1:" + port + ": Connection refused";
  const auto at = r.Output.find(said);
  EXPECT_NE(at, std::string::npos) << r.Output;
  EXPECT_EQ(r.Output.find("127.0.0.1:" + port, at + said.size()), std::string::npos) << r.Output;
}
