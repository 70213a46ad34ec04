// `qninet whois` as a user runs it, against scripted loopback WHOIS servers: the answer byte for
// byte or as JSON, the server it would choose, the notifications, a proxy, referrals and a
// refused connection.

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "Qninet.h"
#include "harness/Ports.h"
#include "harness/ScriptedServer.h"

using namespace qninet::harness;
using namespace std::chrono_literals;

namespace {

std::string at(const ScriptedServer& s) { return "127.0.0.1:" + std::to_string(s.Port()); }
Script answer(const std::string& text) { return Script().ReadUntil("\r\n\r\n").SendChunks(text, 5, 1ms); }

}  // namespace

TEST(WhoisProgram, AnswersChoicesNotificationsProxiesReferralsAndRefusals) {
  // --json reads the bytes as Latin-1 when they are no UTF-8.
  const std::string record("Domain name:\r\n  example.co.uk\r\n\0\xe9\xff e", 36);
  ScriptedServer server(std::vector<Script>(3, answer(record)));
  ScriptedServer proxy(answer("via proxy\n"));
  ScriptedServer registrar(std::vector<Script>(2, answer("Registrant: Example\r\n")));
  ScriptedServer registry(std::vector<Script>(2, answer("refer: " + at(registrar) + "\n")));
  const std::string port = std::to_string(server.Port()), closed = std::to_string(FreePort());
  const std::vector<std::string> follow{
      "whois", "--follow", "--host", "127.0.0.1", "--port", std::to_string(registry.Port()), "example.com"};
  auto with = [](std::vector<std::string> args, const std::string& more) {
    args.insert(args.begin() + 1, more);
    return args;
  };
  const ProgramRun runs[] = {
      {{"whois", "--host", "127.0.0.1", "--port", port, "example.co.uk"}, 0, record},
      {{"whois", "--json", "--host", "127.0.0.1", "--port", port, "example.co.uk"},
       0,
       "{\"status\":\"ok\",\"Domain\":\"example.co.uk\",\"Answer\":\"Domain name:\\r\\n  example.co.uk\\r\\n"
       "\\u0000\xC3\xA9\xC3\xBF e\"}\n"},
      {{"whois", "--verbose", "--host", "localhost", "--port", port, "example.de"},
       0,
       record,
       {"* Resolving localhost", "* Trying localhost:", "* Connected to localhost:", "(127.0.0.1)",
        "> example.de", "* Received 36 bytes", "* Closed the connection"}},
      {{"whois", "--host", "whois.server.invalid", "--proxy", at(proxy), "--proxy-user", "joe:pw",
        "example.at"},
       0,
       "via proxy\n"},
      {with(follow, "-v"), 0, "Registrant: Example\r\n", {"asked " + at(registrar)}},
      {with(follow, "--json"), 0,
       "{\"status\":\"ok\",\"Domain\":\"example.com\",\"ReferralChain\":[\"" + at(registry) + "\",\"" +
           at(registrar) + "\"],\"Answer\":\"Registrant: Example\\r\\n\"}\n"},
      // The socket names its endpoint in the failure; the program says it once.
      {{"whois", "--host", "127.0.0.1", "--port", closed, "example.co.uk"},
       1,
       "",
       {"qninet whois: 127.0.0.1:" + closed + ": Connection refused"}},
      {{"whois", "--show-server", "--host", "127.0.0.1", "example.com"}, 0, "127.0.0.1\n"},  // nothing asked
  };
  for (const ProgramRun& run : runs) {
    SCOPED_TRACE(run.Args.back() + " " + run.Args[1]);
    const RunResult r = ExpectRun(run);
    EXPECT_EQ(r.Output.find("127.0.0.1:" + closed), r.Output.rfind("127.0.0.1:" + closed));
  }
  EXPECT_EQ(server.Received(0), "example.co.uk\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(proxy.Received(0), "example.at\r\nUsername: joe\r\nPassword: pw\r\n\r\n");
}
