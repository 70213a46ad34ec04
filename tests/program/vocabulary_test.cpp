// Every sub-command speaks one vocabulary: --host/--port/--timeout SECONDS, exit codes 0 to 3,
// messages on standard error that start with "qninet SUB:" and name the endpoint, --json with
// a status.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <string>
#include <vector>

#include "harness/Ports.h"
#include "harness/Process.h"
#include "harness/ScriptedServer.h"
#include "harness/UdpScriptedServer.h"

using namespace qninet::harness;
using namespace std::chrono_literals;

namespace {

const char* const kNetworkCommands[] = {"whois", "daytime", "sntp",    "dns", "http",
                                        "mail",  "fedex",   "weather", "rdap"};

/// The command line of a network sub-command aimed at 127.0.0.1:port.
std::vector<std::string> aimed(const std::string& sub, std::uint16_t port,
                               std::vector<std::string> extra = {}) {
  const std::string p = std::to_string(port);
  std::vector<std::string> argv{QNINET_PROGRAM, sub};
  if (sub == "http") {
    argv.push_back("http://127.0.0.1:" + p + "/");
  } else {
    argv.insert(argv.end(), {"--host", "127.0.0.1", "--port", p});
    if (sub == "whois") argv.push_back("example.co.uk");
    if (sub == "dns") argv.insert(argv.end(), {"--tcp", "www.test"});  // the servers here speak TCP
    if (sub == "rdap") argv.push_back("example.com");
    if (sub == "fedex" || sub == "weather") argv.push_back("1234");
    if (sub == "mail")
      argv.insert(argv.end(), {"--from", "a@qninet.test", "--to", "b@qninet.test", "--body", "x"});
  }
  argv.insert(argv.end(), extra.begin(), extra.end());
  return argv;
}

}  // namespace

// A silent server meets --timeout, a trickle that meets each wait meets --max-time, a refused
// connection names the endpoint; each exits 1, and --json carries the status instead.
TEST(ProgramVocabulary, SilentTricklingAndRefusedServersGiveUpInTimeAndNameTheEndpoint) {
  const std::uint16_t refused = FreeTcpAndUdpPort();
  for (const std::string sub : kNetworkCommands) {
    SCOPED_TRACE(sub);
    ScriptedServer silent(Script().HoldOpen());
    UdpScriptedServer udp(std::vector<std::vector<std::string>>{});
    ScriptedServer trickle({Script().SendChunks(std::string(100, 'x'), 1, 100ms)},
                           ScriptedServer::Family::IPv4, 10s, true);
    const std::uint16_t quiet = sub == "sntp" ? udp.Port() : silent.Port();
    const struct {
      std::uint16_t Port;
      std::vector<std::string> Extra;
      std::chrono::milliseconds Min, Max;
      std::string InOutput;
    } cases[] = {
        {quiet,
         {"--timeout", "1"},
         900ms,
         3s,
         "qninet " + sub + ": 127.0.0.1:" + std::to_string(quiet) + ": "},
        {trickle.Port(),
         {"--timeout", "5", "--max-time", "1"},
         0ms,
         2s,
         "(MaxTime)"},  // sntp: nothing to trickle; rdap: TLS refuses the first byte
        {refused, {}, 0ms, 30s, "qninet " + sub + ": 127.0.0.1:" + std::to_string(refused) + ": "},
    };
    for (const auto& c : cases) {
      if ((sub == "sntp" || sub == "rdap") && c.Port == trickle.Port()) continue;
      const auto start = std::chrono::steady_clock::now();
      const auto r = RunToCompletion(aimed(sub, c.Port, c.Extra), 30s);
      const auto took = std::chrono::steady_clock::now() - start;
      EXPECT_EQ(r.ExitCode, 1) << r.Output;
      EXPECT_GE(took, c.Min);
      EXPECT_LE(took, c.Max);
      if (c.Port == refused) {
        EXPECT_EQ(r.Stdout, "");
      }
      EXPECT_NE(r.Output.find(c.InOutput), std::string::npos) << r.Output;
    }
    const auto r = RunToCompletion(aimed(sub, refused, {"--json", "--quiet"}));
    EXPECT_EQ(r.ExitCode, 1) << r.Output;
    EXPECT_EQ(r.Output.find("qninet " + sub), std::string::npos) << "--quiet printed: " << r.Output;
    const auto j = nlohmann::json::parse(r.Stdout, nullptr, false);
    ASSERT_TRUE(j.is_object()) << r.Stdout;
    EXPECT_EQ(j["status"], "failed");
    EXPECT_NE(j["error"].get<std::string>().find("127.0.0.1:" + std::to_string(refused)), std::string::npos);
  }
}

TEST(ProgramVocabulary, UsageErrorsExitTwoAndNameTheCulprit) {
  const struct {
    std::vector<std::string> Args;
    const char* Message;
  } cases[] = {
      {{"bogus"}, "qninet: unknown sub-command 'bogus'"},
      {{"--bogus"}, "qninet: unknown option '--bogus'"},
      {{}, "qninet: a sub-command is required"},
      {{"whois", "--bogus", "x"}, "qninet whois: The following argument was not expected: --bogus"},
      {{"daytime", "--timeout", "-1"}, "qninet daytime: --timeout"},
      {{"whois", "--timeout", "abc", "x"}, "qninet whois: --timeout: 'abc' is not a number of seconds"},
      {{"whois", "--no-auto-select", "x"}, "qninet whois: no server given (--host)"},
      {{"whois", "--proxy", "no-port-here", "x"},
       "qninet whois: --proxy wants HOST:PORT, got \"no-port-here\""},
      {{"daytime", "--host", "[::1"}, "qninet daytime: --host [::1: "},
      {{"sntp", "--proxy", "127.0.0.1:3128"}, "qninet sntp: --proxy needs --tcp"},
      {{"dns", "--type", "BOGUS", "x"}, "qninet dns: unknown record type BOGUS"},
      {{"dns", "--raw", "--json", "x"}, "qninet dns: --json excludes --raw"},
      {{"http", "http://127.0.0.1:99999/"}, "qninet http: http://127.0.0.1:99999/: Port number"},
      {{"http", "ftp://127.0.0.1/x"}, "qninet http: ftp://127.0.0.1/x: only http:// URLs"},
      {{"http", "-i", "--json", "http://127.0.0.1/"}, "qninet http: --json excludes --include"},
      {{"mail", "--host", "127.0.0.1", "--from", "a@b", "--to", "c@d", "--attach", "/nonexistent/r.pdf"},
       "qninet mail: /nonexistent/r.pdf: no such file"},
      {{"xml", "/nonexistent/qninet.xml"}, "qninet xml: /nonexistent/qninet.xml: no such file"},
      {{"demo", "--only", "no such step"}, "qninet demo: no step title contains"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Message);
    std::vector<std::string> argv{QNINET_PROGRAM};
    argv.insert(argv.end(), k.Args.begin(), k.Args.end());
    const auto r = RunToCompletion(argv);
    EXPECT_EQ(r.ExitCode, 2);
    // With --json the error is an object on standard output too.
    if (std::find(k.Args.begin(), k.Args.end(), "--json") != k.Args.end()) {
      EXPECT_TRUE(r.Stdout.starts_with(R"({"status":"bad-input","error":")")) << r.Stdout;
    } else if (k.Args.empty() || k.Args[0] != "demo") {
      EXPECT_EQ(r.Stdout, "");
    }
    EXPECT_NE(r.Output.find(k.Message), std::string::npos) << r.Output;
  }
}
