// The qninet program's daytime, sntp, dns, http, fedex and weather sub-commands, run as a user
// runs them, against loopback servers.

#include <gtest/gtest.h>

#include "harness/Dnsmasq.h"
#include "harness/Nginx.h"
#include "harness/Process.h"
#include "harness/ScriptedServer.h"
#include "harness/UdpScriptedServer.h"

using namespace qninet::harness;

namespace {

RunResult Qninet(std::vector<std::string> args) {
  args.insert(args.begin(), QNINET_PROGRAM);
  return RunToCompletion(args, std::chrono::seconds(60));
}

std::string SntpReply(unsigned stratum, std::uint32_t seconds) {
  std::string p(48, '\0');
  p[0] = 0x24;
  p[1] = static_cast<char>(stratum);
  for (int i = 0; i < 4; ++i) p[40 + i] = static_cast<char>((seconds >> (24 - 8 * i)) & 0xFF);
  return p;
}

}  // namespace

TEST(ProgramDaytime, PrintsTheServersDateAndTime) {
  ScriptedServer server(Script().Send("06 DEC 2026 20:51:52 UTC\r\n").Close());
  const auto r = Qninet({"daytime", "--host", "127.0.0.1", "--port", std::to_string(server.Port())});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "2026-12-06 20:51:52\n");
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

TEST(ProgramDns, AnswerLinesAndJson) {
  Dnsmasq dns({"--address=/www.test/10.1.2.3", "--mx-host=test,mail.test,10"});
  const std::string port = std::to_string(dns.Port());
  auto r = Qninet({"dns", "--server", "127.0.0.1", "--port", port, "www.test"});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_NE(r.Stdout.find(" IN A 10.1.2.3\n"), std::string::npos) << r.Stdout;
  EXPECT_EQ(r.Stdout.substr(0, 10), "www.test. ");
  r = Qninet({"dns", "--server", "127.0.0.1", "--port", port, "--type", "MX", "--json", "test"});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout,
            "{\"answers\":[{\"name\":\"test.\",\"type\":\"MX\",\"class\":\"IN\",\"ttl\":0,"
            "\"data\":\"10 mail.test.\"}],\"authority\":[],\"additional\":[]}\n");
  r = Qninet({"dns", "--server", "127.0.0.1", "--port", port, "--type", "BOGUS", "test"});
  EXPECT_EQ(r.ExitCode, 2);
}

TEST(ProgramHttp, BodyHeadersAndErrors) {
  Nginx web;
  web.WriteFile("hello.txt", "hello\n");
  web.Start();
  const std::string base = "http://127.0.0.1:" + std::to_string(web.Port());
  auto r = Qninet({"http", base + "/hello.txt"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "hello\r\n");
  r = Qninet({"http", "-X", "HEAD", "--include", "-H", "X-Test: 1", base + "/hello.txt"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout.substr(0, 15), "HTTP/1.1 200 OK");
  r = Qninet({"http", base + "/nothing-here"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Output.find("File not found"), std::string::npos) << r.Output;
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
}

TEST(ProgramDemo, ClientStepsPass) {
  for (const char* step : {"Time clients", "DNS resolver", "HTTP client", "Page scrapers"}) {
    const auto r = Qninet({"demo", "--only", step});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_NE(r.Stdout.find("-> ok"), std::string::npos) << r.Stdout;
  }
}
