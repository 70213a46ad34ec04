// Every `qninet` line of the README runs against loopback servers, with the example ports
// replaced by the servers' own. A comment "# → TEXT" is looked for on standard output,
// "# exit N" is the exit code (0 otherwise).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "Qninet.h"
#include "harness/Dnsmasq.h"
#include "harness/FtpServer.h"
#include "harness/Nginx.h"
#include "harness/Process.h"
#include "harness/ScriptedServer.h"
#include "harness/ServiceFixture.h"
#include "harness/SmtpServer.h"
#include "harness/TempDir.h"
#include "harness/TinyProxy.h"
#include "harness/UdpScriptedServer.h"

using namespace qninet::harness;
using namespace std::chrono_literals;

namespace {

/// The `qninet` command lines of the README's code blocks, continuations joined.
std::vector<std::string> readme_commands() {
  std::ifstream in(std::string(QNINET_FIXTURES_DIR) + "/../../README.md");
  std::vector<std::string> out;
  bool inBlock = false;
  std::string pending;
  for (std::string line; std::getline(in, line);) {
    if (line.rfind("```", 0) == 0) {
      inBlock = !inBlock;
      continue;
    }
    if (!inBlock) continue;
    if (pending.empty() && line.rfind("qninet ", 0) != 0) continue;
    const bool continues = !line.empty() && line.back() == '\\';
    pending += continues ? line.substr(0, line.size() - 1) : line;
    if (!continues) {
      out.push_back(pending);
      pending.clear();
    }
  }
  return out;
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (auto at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

}  // namespace

TEST(ReadmeExamples, EveryQninetLineRunsAsDocumented) {
  const auto commands = readme_commands();
  ASSERT_GE(commands.size(), 15u);

  const auto repeating = [](Script s) {
    return std::make_unique<ScriptedServer>(std::vector<Script>{std::move(s)}, ScriptedServer::Family::IPv4,
                                            std::chrono::seconds(10), true);
  };
  const auto whois = repeating(Script().ReadUntil("\r\n\r\n").Send("Domain name: example.co.uk\r\n"));
  const auto proxy = repeating(Script().ReadUntil("\r\n\r\n").Send("Domain name: example.at\r\n"));
  const auto daytime = repeating(Script().Send("06 DEC 2026 20:51:52 UTC\r\n").Close());
  UdpScriptedServer sntp(
      [](std::size_t, const std::string&) { return std::vector<std::string>{SntpReply(2, 0xEC000000u)}; });
  Dnsmasq dns({"--address=/www.example.test/10.1.2.3", "--mx-host=example.test,mail.example.test,10",
               "--local=/example.test/"});
  UnboundTls resolver({R"(local-zone: "example.test." static)",
                       R"(local-data: "www.example.test. A 10.1.2.3")",
                       R"(local-data: "example.test. MX 10 mail.example.test.")"});
  Nginx web;
  web.WriteFile("index.html", "<html>hello</html>\n");
  web.WriteFile(
      "cgi-bin/tracking",
      "<!-- shipment info --><table><tr><td>Status</td><td>Delivered</td></tr></table>"
      "<!-- BEGIN Scan Activity --><tr><td>Dec 4</td><td>Memphis</td></tr><!-- END Scan Activity -->");
  web.WriteFile("weather/local/10001", "<td CLASS=obsTempTextA>72&deg;F</td>");
  web.AddLocation("location = /form { return 200 \"thanks\\n\"; }");
  web.WriteFile("pub/notes.txt", "release notes\n");
  // A release signed with minisign (-t "app 1.1") under the key the README pins.
  web.WriteFile("pub/app.bin", "app 1.1\n");
  web.WriteFile(
      "pub/app.bin.minisig",
      "untrusted comment: signature from minisign secret key\n"
      "RUQQ7elHpXf6vvcRYZyfN9G9TCGsrUfbTBnIU8JrTek+ASHwvLnbQh3Pe+oRFScMsLxWFMK8kCmv7Rset/ABJV/wejihsmO1Ugg=\n"
      "trusted comment: app 1.1\n"
      "yGUWeX8WNoAWr8th9AHbw/srToxmBmZPBYKLXGD8WR/qfXgI94S4+EsC3A2qwfXAumo0/wf0vadE7z6X3dFlDA==\n");
  web.Start();
  FtpServer ftp("joe", "pw");
  std::filesystem::create_directories(ftp.Root() / "pub");
  std::ofstream(ftp.Root() / "pub" / "tool.bin") << "tool\n";
  TinyProxy webProxy(TinyProxy::Options{"joe", "secret", {}});
  SmtpServer::Options account;
  account.User = "joerg";
  account.Password = "secret";
  SmtpServer mail(account);
  ExtendedSmtpServer modernMail({"joe", "tok-readme", true});
  ServiceFixture services;
  // RDAP over HTTPS: the fixture tree, "{BASE}" standing for the server's own URL.
  Nginx rdap(true);
  const std::filesystem::path rdapFixtures = std::string(QNINET_FIXTURES_DIR) + "/rdap";
  for (const auto& entry : std::filesystem::recursive_directory_iterator(rdapFixtures))
    if (entry.is_regular_file())
      rdap.WriteFile(std::filesystem::relative(entry.path(), rdapFixtures).string(),
                     replace_all(ReadFileText(entry.path()), "{BASE}", rdap.HttpsUrl("")));
  rdap.Start();

  TempDir dir("qninet-readme");
  dir.Write("report.pdf", "%PDF-1.4 not really\n");
  dir.Write("notes.txt", "Notes\n");
  dir.Write("token.txt", "tok-readme\n");
  dir.Write("services-ca.pem", ReadFileText(services.CaFile()));
  dir.Write("rdap-ca.pem", ReadFileText(rdap.CA()->CaCert()));
  ::setenv("XDG_CACHE_HOME", dir.File("cache").c_str(), 1);  // the bootstrap registries' cache
  dir.Write("resolver-ca.pem", ReadFileText(resolver.CA().CaCert()));
  dir.Write("translator.key", "K\n");
  dir.Write("ups.secret", "s3cret\n");
  dir.Write("feed.xml", "<rss><channel><title>News</title></channel></rss>");
  dir.Write(
      "contacts.html",
      "<a href=\"mailto:sales@example.test\">Sales</a> <a href=\"https://example.test/shop\">Shop</a>\n");
  // clang-format off
  const std::map<std::string, std::uint16_t> ports{
      {"4343", whois->Port()},   {"3128", proxy->Port()},  {"1313", daytime->Port()}, {"12300", sntp.Port()},
      {"5353", dns.Port()},      {"8080", web.Port()},     {"2525", mail.Port()},     {"2121", ftp.Port()},
      {"8888", webProxy.Port()}, {"8443", services.Port()}, {"2587", modernMail.Port()},
      {"8853", resolver.TlsPort()}, {"4443", resolver.HttpsPort()}, {"8444", rdap.HttpsPort()}};
  // clang-format on

  for (const std::string& line : commands) {
    SCOPED_TRACE(line);
    std::string command = "'" + std::string(QNINET_PROGRAM) + "'" + line.substr(6);
    for (const auto& [example, real] : ports) {
      command = replace_all(command, "127.0.0.1:" + example, "127.0.0.1:" + std::to_string(real));
      command = replace_all(command, "--port " + example, "--port " + std::to_string(real));
    }
    const auto hash = line.find(" # ");
    const std::string note = hash == std::string::npos ? "" : line.substr(hash + 3);
    int expected = 0;
    if (note.rfind("exit ", 0) == 0) expected = std::stoi(note.substr(5));
    const auto r = RunToCompletion({"/bin/sh", "-c", "cd '" + dir.Path().string() + "' && " + command}, 60s);
    EXPECT_EQ(r.ExitCode, expected) << r.Output;
    if (const auto arrow = note.find("→ "); arrow != std::string::npos) {
      EXPECT_NE(r.Stdout.find(note.substr(arrow + std::string("→ ").size())), std::string::npos) << r.Stdout;
    }
  }
  EXPECT_EQ(ReadFileText(dir.File("page.html")), "<html>hello</html>\n");
  EXPECT_EQ(mail.Messages(1).size(), 1u);
  EXPECT_EQ(WaitForFiles(modernMail.Dir() / "messages", ".eml", 2, 5s).size(), 2u);
  EXPECT_EQ(ReadFileText(dir.File("tool.bin")), "tool\n");
  EXPECT_NE(webProxy.LogText().find("notes.txt"), std::string::npos) << webProxy.LogText();
}
