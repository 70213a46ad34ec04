// `qninet whois` as a user runs it, against scripted loopback WHOIS servers.

#include <gtest/gtest.h>

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

const std::string kQuery = "example.co.uk\r\nProxy-Connection: Keep-Alive\r\n\r\n";

}  // namespace

TEST(WhoisProgram, WritesTheAnswerByteForByte) {
  const std::string record("Domain name:\r\n  example.co.uk\r\n\0\xe9\xff end\n", 36);
  ScriptedServer server(Script().ReadUntil("\r\n\r\n").SendChunks(record, 5, 1ms));
  const auto r = whois({"--host", "127.0.0.1", "--port", std::to_string(server.Port()), "example.co.uk"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, record);
  EXPECT_EQ(server.Received(0), kQuery);
}

TEST(WhoisProgram, ShowServerPrintsTheChoiceAndQueriesNothing) {
  auto r = whois({"--show-server", "example.co.uk"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "whois.nic.uk\n");
  r = whois({"--show-server", "10.1.2.3"});
  EXPECT_EQ(r.Stdout, "whois.ripe.net\n");
  r = whois({"--show-server", "example.com"});
  EXPECT_EQ(r.Stdout, "whois.internic.net\n");
  r = whois({"--show-server", "--host", "127.0.0.1", "example.com"});
  EXPECT_EQ(r.Stdout, "127.0.0.1\n");
}

TEST(WhoisProgram, NoAutoSelectWithoutHostIsNoServer) {
  const auto r = whois({"--no-auto-select", "example.co.uk"});
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_NE(r.Output.find("Host/Address is not defined."), std::string::npos) << r.Output;
  EXPECT_EQ(r.Stdout, "");
}

TEST(WhoisProgram, StatusInTheFirstChunkIsAnErrorOfTheExchange) {
  ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 404 Not Found\r\n\r\n"));
  const auto r = whois({"--host", "127.0.0.1", "--port", std::to_string(server.Port()), "example.co.uk"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Stdout, "");
  EXPECT_NE(r.Output.find("File not found"), std::string::npos) << r.Output;
}

TEST(WhoisProgram, ServerThatNeverClosesTimesOut) {
  ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send("partial").HoldOpen());
  const auto r = whois(
      {"--host", "127.0.0.1", "--port", std::to_string(server.Port()), "--timeout", "0.3", "example.co.uk"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Output.find("Connection timed out"), std::string::npos) << r.Output;
}

TEST(WhoisProgram, RefusedPortReachesTheCaller) {
  const auto r = whois({"--host", "127.0.0.1", "--port", std::to_string(FreePort()), "example.co.uk"});
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_NE(r.Output.find("Connection refused"), std::string::npos) << r.Output;
}

TEST(WhoisProgram, VerboseShowsTheNotifications) {
  ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send("record\n"));
  const auto r =
      whois({"--verbose", "--host", "localhost", "--port", std::to_string(server.Port()), "example.de"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "record\n");
  const auto at = [&](const char* text) { return r.Output.find(text); };
  ASSERT_NE(at("* looking up localhost"), std::string::npos) << r.Output;
  ASSERT_NE(at("* connecting to localhost:"), std::string::npos) << r.Output;
  ASSERT_NE(at("* connected to 127.0.0.1"), std::string::npos) << r.Output;
  ASSERT_NE(at("* disconnected"), std::string::npos) << r.Output;
  EXPECT_LT(at("* looking up"), at("* connecting"));
  EXPECT_LT(at("* connecting"), at("* connected"));
  EXPECT_LT(at("* connected"), at("* disconnected"));
}

TEST(WhoisProgram, ProxyGetsTheQueryAndTheCredentials) {
  ScriptedServer proxy(Script().ReadUntil("\r\n\r\n").Send("via proxy\n"));
  const auto r =
      whois({"--host", "whois.server.invalid", "--proxy", "127.0.0.1:" + std::to_string(proxy.Port()),
             "--proxy-user", "joe", "--proxy-password", "pw", "example.at"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "via proxy\n");
  EXPECT_EQ(proxy.Received(0), "example.at\r\nUsername: joe\r\nPassword: pw\r\n\r\n");
}

TEST(WhoisProgram, BadProxyTextIsRefused) {
  const auto r = whois({"--proxy", "no-port-here", "example.at"});
  EXPECT_EQ(r.ExitCode, 2);
  EXPECT_NE(r.Output.find("--proxy wants HOST:PORT"), std::string::npos) << r.Output;
}

TEST(WhoisProgram, DemoStepRunsWithoutInternet) {
  const auto r = RunToCompletion({QNINET_PROGRAM, "demo", "--only", "WHOIS"}, 30s);
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_NE(r.Stdout.find("selects whois.nic.uk"), std::string::npos) << r.Stdout;
}
