// The qninet program's daytime, sntp, dns, fedex and weather sub-commands, run as a user runs
// them, against loopback servers; the demo's client steps.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <regex>

#include "harness/Dnsmasq.h"
#include "harness/Nginx.h"
#include "Qninet.h"
#include "harness/Process.h"
#include "harness/ScriptedServer.h"
#include "harness/UdpScriptedServer.h"

using namespace qninet::harness;

namespace {

std::string SntpReply(unsigned stratum, std::uint32_t seconds) {
  std::string p(48, '\0');
  p[0] = 0x24;
  p[1] = static_cast<char>(stratum);
  for (int i = 0; i < 4; ++i) p[40 + i] = static_cast<char>((seconds >> (24 - 8 * i)) & 0xFF);
  return p;
}

}  // namespace

// A cut line or another protocol's greeting is an error that shows what arrived, never a time.
TEST(ProgramDaytime, RefusesAnAnswerThatIsNoDaytimeLine) {
  ScriptedServer server(
      {Script().Send("61378 26-12-04 23:1").Close(), Script().Send("220 smtp ready\r\n").Close()});
  const std::vector<std::string> args{"daytime", "--host", "127.0.0.1", "--port",
                                      std::to_string(server.Port())};
  for (const ProgramRun& run : {ProgramRun{args, 1, "", {"Not a daytime answer: \"61378 26-12-04 23:1\""}},
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
  };
  for (const ProgramRun& run : runs) ExpectRun(run);
  const auto both = nlohmann::json::parse(
      ExpectRun({{"dns", "--host", host, "--type", "MX,A", "--json", "www.test"}, 3}).Stdout);
  std::string types;  // "TYPE RCODE" of each entry, in the order asked
  for (const auto& entry : both["Types"])
    types += entry["Type"].get<std::string>() + " " + entry["RCode"].get<std::string>() + ",";
  EXPECT_EQ(types, "A NOERROR,MX NXDOMAIN,");
  const struct {
    const char* Name;
    int ExitCode;
    const char* Status;
    const char* RCode;
  } codes[] = {{"nothing.test", 3, "not-found", "NXDOMAIN"}, {"example.org", 1, "failed", "REFUSED"}};
  for (const auto& k : codes) {
    SCOPED_TRACE(k.Name);
    const RunResult r = Qninet({"dns", "--host", host, "--json", k.Name});
    EXPECT_EQ(r.ExitCode, k.ExitCode) << r.Output;
    const auto j = nlohmann::json::parse(r.Stdout);
    EXPECT_EQ(j["status"], k.Status);
    EXPECT_EQ(j["RCode"], k.RCode);
    EXPECT_NE(
        r.Output.find(std::string("qninet dns: 127.0.0.1:") + port + ": A " + k.Name + ": status " + k.RCode),
        std::string::npos)
        << r.Output;
  }
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
