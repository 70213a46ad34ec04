// The qninet program's daytime, sntp, dns, http, fedex and weather sub-commands, run as a user
// runs them, against loopback servers.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "harness/Dnsmasq.h"
#include "harness/Nginx.h"
#include "Qninet.h"
#include "harness/Process.h"
#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
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
TEST(ProgramDaytime, PrintsTheServersDateAndTimeOrRefusesTheAnswer) {
  ScriptedServer server({Script().Send("06 DEC 2026 20:51:52 UTC\r\n").Close(),
                         Script().Send("61378 26-12-04 23:1").Close(),
                         Script().Send("220 smtp ready\r\n").Close()});
  const std::vector<std::string> args{"daytime", "--host", "127.0.0.1", "--port",
                                      std::to_string(server.Port())};
  auto r = Qninet(args);
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "2026-12-06 20:51:52\n");
  for (const char* shown : {"\"61378 26-12-04 23:1\"", "\"220 smtp ready\\r\\n\""}) {
    r = Qninet(args);
    EXPECT_EQ(r.ExitCode, 1) << r.Output;
    EXPECT_EQ(r.Stdout, "");
    EXPECT_NE(r.Output.find(std::string("Not a daytime answer: ") + shown), std::string::npos) << r.Output;
  }
}

// 0xEC000000 seconds after 1900 is in 2025; the exact local text depends on the zone, the form
// does not. A rejected answer (stratum 16) says so and exits 1.
TEST(ProgramSntp, PrintsLocalTimeOrRejects) {
  UdpScriptedServer server({{SntpReply(2, 0xEC000000u)}, {SntpReply(16, 0xEC000000u)}});
  const std::vector<std::string> args{"sntp", "--host", "127.0.0.1", "--port", std::to_string(server.Port())};
  auto r = Qninet(args);
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  ASSERT_EQ(r.Stdout.size(), 20u) << r.Stdout;
  EXPECT_EQ(r.Stdout.substr(0, 3), "202");
  EXPECT_EQ(r.Stdout[4], '-');
  EXPECT_EQ(r.Stdout[13], ':');
  r = Qninet(args);
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Stdout, "");
  EXPECT_NE(r.Output.find("no valid answer"), std::string::npos) << r.Output;
}

// NXDOMAIN is the name's absence (exit 3); any other status is a failure (exit 1); --json
// carries the reply code either way.
TEST(ProgramDns, AnswerLinesJsonAndReplyCodes) {
  Dnsmasq dns({"--address=/www.test/10.1.2.3", "--mx-host=test,mail.test,10", "--local=/test/"});
  const std::string port = std::to_string(dns.Port());
  auto r = Qninet({"dns", "--server", "127.0.0.1", "--port", port, "www.test"});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_NE(r.Stdout.find(" IN A 10.1.2.3\n"), std::string::npos) << r.Stdout;
  EXPECT_EQ(r.Stdout.substr(0, 10), "www.test. ");
  r = Qninet({"dns", "--host", "127.0.0.1:" + port, "--type", "MX", "--json", "test"});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout,
            "{\"status\":\"ok\",\"RCode\":\"NOERROR\",\"Answers\":[{\"Name\":\"test.\",\"Type\":\"MX\","
            "\"Class\":\"IN\",\"TTL\":0,\"Data\":\"10 mail.test.\"}],\"Authority\":[],\"Additional\":[]}\n");
  const struct {
    const char* Name;
    int ExitCode;
    const char* Status;
    const char* RCode;
  } codes[] = {{"nothing.test", 3, "not-found", "NXDOMAIN"}, {"example.org", 1, "failed", "REFUSED"}};
  for (const auto& k : codes) {
    SCOPED_TRACE(k.Name);
    r = Qninet({"dns", "--host", "127.0.0.1:" + port, "--json", k.Name});
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

TEST(ProgramHttp, BodyOutputFailAndJson) {
  Nginx web;
  web.WriteFile("hello.txt", "hello\nworld");
  web.AddStatusLocation("/gone", 410);
  web.AddStatusLocation("/broken", 500);
  web.Start();
  TempDir dir("qninet-http-prog");
  const std::string base = "http://127.0.0.1:" + std::to_string(web.Port());
  const struct {
    std::vector<std::string> Args;
    int ExitCode;
    const char* Stdout;  // its beginning
  } cases[] = {
      {{base + "/hello.txt"}, 0, "hello\nworld"},
      {{"-i", base + "/hello.txt"}, 0, "HTTP/1.1 200 OK\r\n"},
      {{"-o", dir.File("no/such/dir").string(), base + "/hello.txt"}, 2, ""},
      {{"-f", base + "/nothing-here"}, 3, ""},
      {{"-f", base + "/gone"}, 3, ""},
      {{"-f", base + "/broken"}, 1, ""},
      {{base + "/broken"}, 0, "<html>"},  // without -f an error page is a page
      {{"-X", "HEAD", "--json", base + "/hello.txt"}, 0, "{\"status\":\"ok\",\"StatusCode\":200,"},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Args[k.Args.size() - 1]);
    std::vector<std::string> args{"http"};
    args.insert(args.end(), k.Args.begin(), k.Args.end());
    const auto r = Qninet(args);
    EXPECT_EQ(r.ExitCode, k.ExitCode) << r.Output;
    EXPECT_EQ(r.Stdout.substr(0, std::string(k.Stdout).size()), k.Stdout) << r.Stdout;
    if (k.ExitCode != 0) {
      EXPECT_NE(r.Output.find("qninet http: "), std::string::npos) << r.Output;
    }
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
  auto r = Qninet({"fedex", "--host", "127.0.0.1", "--port", port, "1234"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "Status=Delivered\nDec 4=Memphis\n");
  r = Qninet({"weather", "--host", "127.0.0.1", "--port", port, "10001"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "72\n");
  // A page of another site: no lines and no reading are "not found", never an empty success.
  web.WriteFile("cgi-bin/tracking", "<html>maintenance</html>");
  web.WriteFile("weather/local/10001", "<html>maintenance</html>");
  for (const char* sub : {"fedex", "weather"}) {
    r = Qninet({sub, "--host", "127.0.0.1", "--port", port, "10001"});
    EXPECT_EQ(r.ExitCode, 3) << r.Output;
    EXPECT_EQ(r.Stdout, "");
    EXPECT_NE(r.Output.find("qninet " + std::string(sub) + ": 127.0.0.1:" + port + ": the page holds no"),
              std::string::npos)
        << r.Output;
  }
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
