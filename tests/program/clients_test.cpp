// The qninet program's whois, daytime, sntp, dns, fedex and weather sub-commands, run as a user
// runs them, against scripted servers and dnsmasq on loopback; the demo's client steps.

#include <gtest/gtest.h>

#include <regex>

#include "harness/Dnsmasq.h"
#include "harness/Nginx.h"
#include "harness/Ports.h"
#include "Qninet.h"
#include "harness/Process.h"
#include "harness/ScriptedServer.h"
#include "harness/UdpScriptedServer.h"

using namespace qninet::harness;
using namespace std::chrono_literals;

namespace {

std::string at(const ScriptedServer& s) { return "127.0.0.1:" + std::to_string(s.Port()); }
Script answer(const std::string& text) { return Script().ReadUntil("\r\n\r\n").SendChunks(text, 5, 1ms); }

}  // namespace

// A cut line or another protocol's greeting is an error that shows what arrived, never a time.
TEST(ProgramDaytime, PrintsTheServersDateAndTimeOrRefusesTheAnswer) {
  ScriptedServer server({Script().Send("06 DEC 2026 20:51:52 UTC\r\n").Close(),
                         Script().Send("61378 26-12-04 23:1").Close(),
                         Script().Send("220 smtp ready\r\n").Close()});
  const std::vector<std::string> args{"daytime", "--host", "127.0.0.1", "--port",
                                      std::to_string(server.Port())};
  for (const ProgramRun& run : {ProgramRun{args, 0, "2026-12-06 20:51:52\n"},
                                ProgramRun{args, 1, "", {"Not a daytime answer: \"61378 26-12-04 23:1\""}},
                                ProgramRun{args, 1, "", {"Not a daytime answer: \"220 smtp ready\\r\\n\""}}})
    ExpectRun(run);
}

// 0xEC000000 seconds after 1900 is in 2025; the exact local text depends on the zone, the form
// does not. A rejected answer (stratum 16) says so and exits 1.
TEST(ProgramSntp, PrintsLocalTimeOrRejects) {
  UdpScriptedServer server({{SntpReply(2, 0xEC000000u)}, {SntpReply(16, 0xEC000000u)}});
  const std::vector<std::string> args{"sntp", "--host", "127.0.0.1", "--port", std::to_string(server.Port())};
  const std::string shown = ExpectRun({args, 0}).Stdout;
  EXPECT_TRUE(std::regex_match(shown, std::regex("202\\d-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\n"))) << shown;
  ExpectRun({args, 1, "", {"no valid answer"}});
}

// NXDOMAIN is the name's absence (exit 3); any other status is a failure (exit 1); --json
// carries the reply code either way. Several types give one reply code each (dnsmasq's --address
// answers an A question and calls the name absent for any other type). A PTR question about a
// name is refused before anything is sent (the closed port would refuse the datagram, exit 1).
TEST(ProgramDns, AnswerLinesJsonAndReplyCodes) {
  Dnsmasq dns({"--address=/www.test/10.1.2.3", "--mx-host=test,mail.test,10", "--local=/test/"});
  const std::string port = std::to_string(dns.Port()), host = "127.0.0.1:" + port;
  const auto code = [&](const std::string& name, int exit, const std::string& status,
                        const std::string& rcode) {
    const std::string error = host + ": A " + name + ": status " + rcode;
    return ProgramRun{{"dns", "--host", host, "--json", name},
                      exit,
                      R"({"status":")" + status + R"(","error":")" + error + R"(","RCode":")" + rcode +
                          R"(","Answers":[],"Authority":[],"Additional":[]})"
                          "\n",
                      {"qninet dns: " + error}};
  };
  const ProgramRun runs[] = {
      {{"dns", "--server", "127.0.0.1", "--port", port, "www.test"}, 0, "www.test. 0 IN A 10.1.2.3\n"},
      {{"dns", "--host", host, "--type", "MX", "--json", "test"},
       0,
       "{\"status\":\"ok\",\"RCode\":\"NOERROR\",\"Answers\":[{\"Name\":\"test.\",\"Type\":\"MX\","
       "\"Class\":\"IN\",\"TTL\":0,\"Data\":\"10 mail.test.\"}],\"Authority\":[],\"Additional\":[]}\n"},
      {{"dns", "--host", host, "--type", "MX,A", "www.test"}, 3, "www.test. 0 IN A 10.1.2.3\n"},
      {{"dns", "--host", "127.0.0.1:1", "--type", "A,PTR", "notanip"},
       2,
       "",
       {"qninet dns: --type PTR needs an IPv4 or IPv6 address, not 'notanip'"}},
      {{"dns", "--host", host, "--type", "MX,A", "--json", "www.test"},
       3,
       kAnyOutput,
       {R"("Types":[{"Type":"A","RCode":"NOERROR"},{"Type":"MX","RCode":"NXDOMAIN"}]})"}},
      code("nothing.test", 3, "not-found", "NXDOMAIN"),
      code("example.org", 1, "failed", "REFUSED"),
  };
  for (const ProgramRun& run : runs) ExpectRun(run);
}

TEST(ProgramScrapers, FedExLinesAndWeatherTemperature) {
  Nginx web;
  web.WriteFile(
      "cgi-bin/tracking",
      "<!-- shipment info --><table><tr><td>Status</td><td>Delivered</td></tr></table>"
      "<!-- BEGIN Scan Activity --><tr><td>Dec 4</td><td>Memphis</td></tr><!-- END Scan Activity -->");
  web.WriteFile("weather/local/10001", "<td CLASS=obsTempTextA>72&deg;F</td>");
  web.Start();
  const std::string port = std::to_string(web.Port());
  ExpectRun(
      {{"fedex", "--host", "127.0.0.1", "--port", port, "1234"}, 0, "Status=Delivered\nDec 4=Memphis\n"});
  ExpectRun({{"weather", "--host", "127.0.0.1", "--port", port, "10001"}, 0, "72\n"});
  // A page of another site: no lines and no reading are "not found", never an empty success.
  web.WriteFile("cgi-bin/tracking", "<html>maintenance</html>");
  web.WriteFile("weather/local/10001", "<html>maintenance</html>");
  for (const std::string sub : {"fedex", "weather"})
    ExpectRun({{sub, "--host", "127.0.0.1", "--port", port, "10001"},
               3,
               "",
               {"qninet " + sub + ": 127.0.0.1:" + port + ": the page holds no"}});
}

TEST(ProgramDemo, ListsTheStepsInOrderAndTheClientStepsPass) {
  const auto r = Qninet({"demo", "--list"});
  EXPECT_TRUE(r.Stdout.starts_with("Framework and text utilities\n")) << r.Stdout;
  std::string mail;  // the last step's output; "web updater" as the user types it, case ignored
  for (const char* step :
       {"web updater", "WHOIS", "Time clients", "DNS resolver", "HTTP client", "Page scrapers", "Mail"}) {
    const auto r = Qninet({"demo", "--only", step});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_NE(r.Stdout.find("-> ok"), std::string::npos) << r.Stdout;
    mail = r.Stdout;
  }
  EXPECT_NE(mail.find("RCPT TO:<archive@qninet.test>"), std::string::npos)
      << mail;  // its own server's dialogue
}

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
      // The server it would ask, and nothing asked.
      {{"whois", "--show-server", "10.1.2.3"}, 0, "whois.ripe.net\n"},
      {{"whois", "--show-server", "example.com"}, 0, "whois.internic.net\n"},
      {{"whois", "--show-server", "--host", "127.0.0.1", "example.com"}, 0, "127.0.0.1\n"},
  };
  for (const ProgramRun& run : runs) {
    SCOPED_TRACE(run.Args.back() + " " + run.Args[1]);
    const RunResult r = ExpectRun(run);
    EXPECT_EQ(r.Output.find("127.0.0.1:" + closed), r.Output.rfind("127.0.0.1:" + closed));
  }
  EXPECT_EQ(server.Received(0), "example.co.uk\r\nProxy-Connection: Keep-Alive\r\n\r\n");
  EXPECT_EQ(proxy.Received(0), "example.at\r\nUsername: joe\r\nPassword: pw\r\n\r\n");
}
