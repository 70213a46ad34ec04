// Proves the harness itself: the scripted servers keep their scripts and records, and every
// real-server launcher brings up a server that answers on loopback.
#include "harness/Chrony.h"
#include "harness/Dnsmasq.h"
#include "harness/FtpServer.h"
#include "harness/Nginx.h"
#include "harness/Ports.h"
#include "harness/Process.h"
#include "harness/ScriptedServer.h"
#include "harness/SmtpServer.h"
#include "harness/TcpClient.h"
#include "harness/TempDir.h"
#include "harness/TinyProxy.h"
#include "harness/UdpScriptedServer.h"
#include "harness/XinetdDaytime.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <regex>

using namespace std::chrono_literals;
using namespace qninet::harness;

namespace {

std::string http_get(std::uint16_t port, const std::string& request) {
  TcpClient client(port);
  client.Send(request);
  return client.ReadAll();
}

std::string status_line(const std::string& answer) { return answer.substr(0, answer.find("\r\n")); }

std::string body_of(const std::string& answer) {
  auto at = answer.find("\r\n\r\n");
  return at == std::string::npos ? std::string() : answer.substr(at + 4);
}

}  // namespace

TEST(HarnessTempDir, WritesFilesAndRemovesEverything) {
  std::filesystem::path kept;
  {
    TempDir dir;
    kept = dir.Path();
    auto file = dir.Write("sub/a.txt", "abc");
    EXPECT_EQ(ReadFileText(file), "abc");
    EXPECT_EQ(file, dir.File("sub/a.txt"));
  }
  EXPECT_FALSE(std::filesystem::exists(kept));
}

TEST(HarnessProcess, MissingProgramThrows) {
  EXPECT_THROW(Process({"qninet-no-such-program-xyz"}), std::runtime_error);
}

TEST(HarnessProcess, CapturesOutputAndEnvironment) {
  auto r = RunToCompletion({"/bin/sh", "-c", "echo out=$QNINET_HARNESS_X; echo err >&2"}, 10s);
  // RunToCompletion has no env parameter; check the environment through Process.
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_NE(r.Output.find("err"), std::string::npos);
  Process p({"/bin/sh", "-c", "echo out=$QNINET_HARNESS_X"}, {{"QNINET_HARNESS_X", "42"}});
  ASSERT_TRUE(p.WaitExit(10s).has_value());
  EXPECT_EQ(p.StdoutText(), "out=42\n");
}

TEST(HarnessProcess, StopEndsTheWholeGroup) {
  TempDir dir;
  // The shell's child writes its pid; it must die with the group.
  Process p({"/bin/sh", "-c", "sleep 100 & echo $! > " + dir.File("child").string() + "; wait"});
  std::string child;
  for (int i = 0; i < 200 && child.find('\n') == std::string::npos; ++i) {
    std::this_thread::sleep_for(10ms);
    child = ReadFileText(dir.File("child"));
  }
  ASSERT_FALSE(child.empty());
  ASSERT_TRUE(p.Running());
  p.Stop();
  EXPECT_FALSE(p.Running());
  EXPECT_EQ(p.ExitCode(), -SIGTERM);
  pid_t pid = std::stoi(child);
  // The orphaned sleep may linger as a zombie until init reaps it: dead either way.
  auto dead = [pid] {
    auto stat = ReadFileText("/proc/" + std::to_string(pid) + "/stat");
    auto close = stat.rfind(')');
    return stat.empty() || (close != std::string::npos && stat.size() > close + 2 && stat[close + 2] == 'Z');
  };
  bool gone = false;
  for (int i = 0; i < 300 && !gone; ++i) {
    gone = dead();
    if (!gone) std::this_thread::sleep_for(10ms);
  }
  EXPECT_TRUE(gone);
}

TEST(HarnessPorts, FreePortIsBindableAndWaitSeesListener) {
  std::uint16_t port = FreePort();
  EXPECT_NE(port, 0);
  EXPECT_FALSE(WaitForTcpPort(port, 100ms));
  ScriptedServer server(Script().Close());
  EXPECT_TRUE(WaitForTcpPort(server.Port(), 2s));
}

TEST(HarnessScriptedServer, RecordsBytesAndSendsChunks) {
  ScriptedServer server(
      Script().ReadLine().Send("hello\r\n").ExpectBytes(3).SendChunks("abcdefghij", 3, 5ms));
  {
    TcpClient client(server.Port());
    client.Send("HELO x\r\n");
    EXPECT_EQ(client.ReadLine(), "hello\r\n");
    client.Send("xyz");
    EXPECT_EQ(client.ReadAll(), "abcdefghij");
  }
  EXPECT_EQ(server.Received(0), "HELO x\r\nxyz");
  EXPECT_TRUE(server.Problems().empty());
}

TEST(HarnessScriptedServer, PlaysOneScriptPerConnectionInOrder) {
  ScriptedServer server(
      {Script::LineDialogue("220 hi\r\n", {"250 one\r\n", "221 bye\r\n"}), Script().Send("second\r\n")});
  {
    TcpClient first(server.Port());
    EXPECT_EQ(first.ReadLine(), "220 hi\r\n");
    first.Send("A\r\n");
    EXPECT_EQ(first.ReadLine(), "250 one\r\n");
    first.Send("B\r\n");
    EXPECT_EQ(first.ReadLine(), "221 bye\r\n");
  }
  {
    TcpClient second(server.Port());
    EXPECT_EQ(second.ReadAll(), "second\r\n");
  }
  EXPECT_TRUE(server.WaitForConnections(2, 2s));
  EXPECT_EQ(server.ConnectionCount(), 2u);
  EXPECT_EQ(server.Received(0), "A\r\nB\r\n");
  EXPECT_EQ(server.Received(1), "");
}

TEST(HarnessScriptedServer, ReportsReadTimeOutAndUnscriptedConnection) {
  ScriptedServer server({Script().ReadLine()}, ScriptedServer::Family::IPv4, 200ms);
  {
    TcpClient client(server.Port());
    client.Send("no end of line");
    EXPECT_EQ(client.ReadAll(), "");
  }
  {
    TcpClient extra(server.Port());
    EXPECT_EQ(extra.ReadAll(), "");
  }
  server.WaitUntilSettled(1, 3s);
  auto problems = server.Problems();
  ASSERT_EQ(problems.size(), 2u);
  EXPECT_NE(problems[0].find("timed out"), std::string::npos) << problems[0];
  EXPECT_NE(problems[1].find("not scripted"), std::string::npos) << problems[1];
}

TEST(HarnessScriptedServer, HoldOpenKeepsSilentUntilClientCloses) {
  ScriptedServer server(Script().HoldOpen());
  {
    TcpClient client(server.Port(), "127.0.0.1", 300ms);
    client.Send("GET / HTTP/1.0\r\n\r\n");
    EXPECT_THROW(client.ReadExactly(1), std::runtime_error);
  }
  EXPECT_TRUE(server.WaitUntilSettled(0, 3s));
  EXPECT_EQ(server.Received(0), "GET / HTTP/1.0\r\n\r\n");
}

TEST(HarnessScriptedServer, ListensOnIPv6Loopback) {
  if (!HaveIPv6Loopback()) GTEST_SKIP() << "no ::1 here";
  ScriptedServer server(Script().Send("six\r\n"), ScriptedServer::Family::IPv6);
  TcpClient client(server.Port(), "::1");
  EXPECT_EQ(client.ReadAll(), "six\r\n");
  EXPECT_EQ(server.Authority(), "[::1]:" + std::to_string(server.Port()));
}

TEST(HarnessUdpScriptedServer, RecordsDatagramAndReplies) {
  UdpScriptedServer server({{"reply-1"}});
  EXPECT_EQ(UdpExchange(server.Port(), "ping", 2s).value_or("none"), "reply-1");
  EXPECT_FALSE(UdpExchange(server.Port(), "again", 200ms).has_value());
  ASSERT_TRUE(server.WaitForDatagrams(2, 2s));
  EXPECT_EQ(server.Received(), (std::vector<std::string>{"ping", "again"}));
}

TEST(HarnessNginx, ServesFilesAuthRedirectAndErrors) {
  Nginx nginx(true);
  nginx.AddBasicAuthLocation("/private/", "alice", "wonder");
  nginx.AddRedirect("/old", "http://127.0.0.1:" + std::to_string(nginx.Port()) + "/a.txt");
  nginx.AddStatusLocation("/broken", 500);
  nginx.WriteFile("a.txt", "file body\n");
  nginx.WriteFile("private/s.txt", "secret\n");
  nginx.Start();

  auto answer = http_get(nginx.Port(), "GET /a.txt HTTP/1.0\r\n\r\n");
  EXPECT_EQ(status_line(answer), "HTTP/1.1 200 OK");
  EXPECT_EQ(body_of(answer), "file body\n");
  EXPECT_NE(answer.find("Last-Modified: "), std::string::npos);

  EXPECT_EQ(status_line(http_get(nginx.Port(), "GET /private/s.txt HTTP/1.0\r\n\r\n")),
            "HTTP/1.1 401 Unauthorized");
  // alice:wonder
  auto authorised =
      http_get(nginx.Port(), "GET /private/s.txt HTTP/1.0\r\nAuthorization: Basic YWxpY2U6d29uZGVy\r\n\r\n");
  EXPECT_EQ(status_line(authorised), "HTTP/1.1 200 OK");
  EXPECT_EQ(body_of(authorised), "secret\n");

  auto moved = http_get(nginx.Port(), "GET /old HTTP/1.0\r\n\r\n");
  EXPECT_EQ(status_line(moved), "HTTP/1.1 301 Moved Permanently");
  EXPECT_NE(moved.find("Location: " + nginx.Url("/a.txt") + "\r\n"), std::string::npos);
  EXPECT_EQ(
      status_line(http_get(nginx.Port(), "GET /broken HTTP/1.1\r\nHost: x\r\nConnection: close\r\n\r\n")),
      "HTTP/1.1 500 Internal Server Error");

  // The TLS port presents a certificate the test CA vouches for, for the IP address.
  auto tls = RunToCompletion(
      {"openssl", "s_client", "-connect", "127.0.0.1:" + std::to_string(nginx.HttpsPort()), "-CAfile",
       nginx.CA()->CaCert().string(), "-verify_ip", "127.0.0.1", "-verify_return_error"},
      20s);
  EXPECT_EQ(tls.ExitCode, 0) << tls.Output;
  EXPECT_NE(tls.Output.find("Verify return code: 0 (ok)"), std::string::npos) << tls.Output;
}

TEST(HarnessNginx, BadConfigurationThrowsWithLogTail) {
  Nginx nginx;
  nginx.AddLocation("qninet_no_such_directive on;");
  try {
    nginx.Start();
    FAIL() << "nginx started with a broken configuration";
  } catch (const std::runtime_error& e) {
    EXPECT_NE(std::string(e.what()).find("qninet_no_such_directive"), std::string::npos) << e.what();
  }
}

TEST(HarnessNginx, ServesLargeFileWhole) {
  Nginx nginx;
  const std::uint64_t size = 3 * 1024 * 1024 + 17;
  nginx.WriteLargeFile("big.bin", size);
  nginx.Start();
  auto body = body_of(http_get(nginx.Port(), "GET /big.bin HTTP/1.0\r\n\r\n"));
  ASSERT_EQ(body.size(), size);
  for (std::uint64_t i : std::vector<std::uint64_t>{0, 1, 65535, 65536, size - 1})
    EXPECT_EQ(body[i], Nginx::PatternByte(i)) << "byte " << i;
}

TEST(HarnessTinyProxy, ForwardsAndLogsRequests) {
  Nginx nginx;
  nginx.WriteFile("p.txt", "through the proxy\n");
  nginx.Start();
  TinyProxy proxy;
  auto answer = http_get(proxy.Port(), "GET " + nginx.Url("/p.txt") + " HTTP/1.0\r\n\r\n");
  EXPECT_TRUE(std::regex_match(status_line(answer), std::regex(R"(HTTP/1\.[01] 200 OK)"))) << answer;
  EXPECT_EQ(body_of(answer), "through the proxy\n");
  EXPECT_NE(proxy.LogText().find(nginx.Url("/p.txt")), std::string::npos) << proxy.LogText();
}

TEST(HarnessTinyProxy, BasicAuthRefusesWithoutCredentials) {
  TinyProxy proxy({"bob", "builder", {}});
  auto answer = http_get(proxy.Port(), "GET http://127.0.0.1:1/ HTTP/1.0\r\n\r\n");
  EXPECT_EQ(status_line(answer).substr(0, 12), "HTTP/1.0 407") << answer;
}

TEST(HarnessSmtpServer, StoresMessageAndRefusesChosenRecipient) {
  SmtpServer::Options options;
  options.User = "mailer";
  options.Password = "pw";
  options.RequireAuth = true;
  options.RefusedRecipients = {"nobody@example.test"};
  SmtpServer smtp(options);

  TcpClient c(smtp.Port());
  auto expect_reply = [&](const std::string& code) {
    std::string line;
    do {
      line = c.ReadLine();
    } while (line.size() > 3 && line[3] == '-');
    EXPECT_EQ(line.substr(0, 3), code) << line;
    return line;
  };
  expect_reply("220");
  c.Send("EHLO client.test\r\n");
  expect_reply("250");
  c.Send("MAIL FROM:<a@example.test>\r\n");
  expect_reply("530");
  c.Send("AUTH LOGIN\r\n");
  expect_reply("334");
  c.Send("bWFpbGVy\r\n");  // mailer
  expect_reply("334");
  c.Send("d3Jvbmc=\r\n");  // wrong
  expect_reply("535");
  c.Send("AUTH PLAIN AG1haWxlcgBwdw==\r\n");  // \0mailer\0pw
  expect_reply("235");
  c.Send("MAIL FROM:<a@example.test>\r\n");
  expect_reply("250");
  c.Send("RCPT TO:<nobody@example.test>\r\n");
  EXPECT_EQ(expect_reply("550"), "550 5.1.1 <nobody@example.test>: Recipient address rejected\r\n");
  c.Send("RCPT TO:<b@example.test>\r\n");
  expect_reply("250");
  c.Send("DATA\r\n");
  expect_reply("354");
  c.Send("Subject: t\r\n\r\n..dotted\r\nbody\r\n.\r\n");
  expect_reply("250");
  c.Send("QUIT\r\n");
  expect_reply("221");

  auto messages = smtp.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(ReadFileText(messages[0]), "Subject: t\r\n\r\n.dotted\r\nbody\r\n");
  EXPECT_EQ(SmtpServer::Envelope(messages[0]),
            "{\"mail_from\": \"a@example.test\", \"rcpt_tos\": [\"b@example.test\"]}");
}

TEST(HarnessFtpServer, AccountAndAnonymousLogIn) {
  FtpServer ftp("tester", "secret");
  {
    TcpClient c(ftp.Port());
    EXPECT_EQ(c.ReadLine().substr(0, 3), "220");
    c.Send("USER tester\r\n");
    EXPECT_EQ(c.ReadLine().substr(0, 3), "331");
    c.Send("PASS wrong\r\n");
    EXPECT_EQ(c.ReadLine().substr(0, 3), "530");
    c.Send("USER tester\r\n");
    EXPECT_EQ(c.ReadLine().substr(0, 3), "331");
    c.Send("PASS secret\r\n");
    EXPECT_EQ(c.ReadLine().substr(0, 3), "230");
  }
  TcpClient a(ftp.Port());
  EXPECT_EQ(a.ReadLine().substr(0, 3), "220");
  a.Send("USER anonymous\r\n");
  EXPECT_EQ(a.ReadLine().substr(0, 3), "331");
  a.Send("PASS guest@example.test\r\n");
  EXPECT_EQ(a.ReadLine().substr(0, 3), "230");
}

TEST(HarnessDnsmasq, AnswersTcpQueryWithLengthPrefix) {
  Dnsmasq dns({"--address=/www.test/10.1.2.3"});
  // ID 0x1234, RD, one question: www.test A IN.
  const std::string query(
      "\x12\x34\x01\x00\x00\x01\x00\x00\x00\x00\x00\x00"
      "\x03www\x04test\x00\x00\x01\x00\x01",
      26);
  TcpClient c(dns.Port());
  c.Send(std::string{'\0', static_cast<char>(query.size())} + query);
  auto prefix = c.ReadExactly(2);
  std::size_t length = (static_cast<unsigned char>(prefix[0]) << 8) | static_cast<unsigned char>(prefix[1]);
  auto answer = c.ReadExactly(length);
  ASSERT_GE(answer.size(), 12u + 14u + 16u);
  EXPECT_EQ(answer.substr(0, 2), "\x12\x34");
  EXPECT_TRUE(static_cast<unsigned char>(answer[2]) & 0x80) << "not a response";
  EXPECT_EQ(static_cast<unsigned char>(answer[3]) & 0x0F, 0) << "rcode";
  EXPECT_EQ(answer.substr(6, 2), std::string("\x00\x01", 2)) << "answer count";
  EXPECT_EQ(answer.substr(answer.size() - 4), "\x0a\x01\x02\x03");
}

TEST(HarnessChrony, AnswersSntpRequest) {
  Chrony chrony;
  auto request = SntpClientRequest();
  auto reply = UdpExchange(chrony.Port(), request, 3s);
  ASSERT_TRUE(reply.has_value());
  ASSERT_EQ(reply->size(), 48u);
  EXPECT_EQ(static_cast<unsigned char>((*reply)[0]) & 0x07, 4) << "mode";
  EXPECT_EQ(static_cast<unsigned char>((*reply)[1]), 10) << "stratum";
  // The originate timestamp echoes the request's transmit timestamp.
  EXPECT_EQ(reply->substr(24, 8), request.substr(40, 8));
}

TEST(HarnessXinetdDaytime, AnswersDaytime) {
  if (::geteuid() != 0) GTEST_SKIP() << "port 13 needs root";
  XinetdDaytime daytime;
  TcpClient c(daytime.Port());
  auto text = c.ReadAll();
  EXPECT_TRUE(std::regex_match(text, std::regex(R"(\d{2} [A-Z]{3} \d{4} \d{2}:\d{2}:\d{2} UTC\r\n)")))
      << text;
}
