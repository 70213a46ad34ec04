// `qninet mail` as a user runs it, against a real SMTP server (aiosmtpd) on loopback; the message
// that arrives is read with Python's email package (the envelope and the blind copy are read against
// two servers in peers_smtp_test.cpp). What -v shows of a socket component: the TLS session, the
// mail dialogue with its secrets masked; and what `run` prints for a feed or a picture.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <sstream>

#include "Qninet.h"
#include "harness/Nginx.h"
#include "harness/ScriptedServer.h"
#include "harness/SmtpServer.h"
#include "harness/TempDir.h"

using namespace std::chrono_literals;
using namespace qninet::harness;
using nlohmann::json;

TEST(MailCommand, EachRunArrivesIntactOrSaysWhyNot) {
  TempDir dir("qninet-mail-prog");
  std::string binary;
  for (int i = 0; i < 1024; ++i) binary += static_cast<char>((i * 31 + 7) & 0xFF);
  const std::string text = "Übersicht\r\n.\r\nEnde\r\n", subject = "Größere Änderungen für Übermorgen";
  const auto bin = dir.Write("bericht.bin", binary), txt = dir.Write("übersicht.txt", text);
  SmtpServer server(SmtpServer::Options{"mailer", "pw", true, {"nobody@qninet.test"}, {}, {}, {}, {}});
  const auto mail = [&](std::vector<std::string> args) {
    args.insert(args.begin(), {"mail", "--host", "127.0.0.1:" + std::to_string(server.Port()), "--user",
                               "mailer", "--password", "pw"});
    return args;
  };
  // German texts, priority, attachments and a login by --auth.
  ExpectRun({mail({"--auth", "cram-md5", "--from", "Jörg <joerg@qninet.test>", "--to",
                   "Ann <ann@qninet.test>", "--bcc", "hidden@qninet.test", "--subject", subject, "--body",
                   "Hallo Ann,\nanbei die Dateien.\n.\nGruß", "--attach", bin.string(), "--attach",
                   txt.string() + ":text/plain:quoted-printable", "--priority", "2"}),
             0});
  const auto messages = server.Messages(1, 10s);
  ASSERT_EQ(messages.size(), 1u) << server.LogText();
  EXPECT_NE(server.Commands().find("AUTH CRAM-MD5"), std::string::npos) << server.Commands();
  const json m = json::parse(ReadStoredMessage(messages[0]));
  EXPECT_EQ(m["defects"], json::array());
  EXPECT_EQ(m["Subject"], subject);
  EXPECT_EQ(m["From"], "Jörg <joerg@qninet.test>");
  EXPECT_EQ(m["X-Priority"], "2");
  ASSERT_EQ(m["parts"].size(), 3u);
  EXPECT_EQ(m["parts"][0]["text"], "Hallo Ann,\r\nanbei die Dateien.\r\n.\r\nGruß");
  EXPECT_EQ(m["parts"][1]["hex"], HexOf(binary));
  EXPECT_EQ(m["parts"][2]["filename"], "übersicht.txt");
  EXPECT_EQ(m["parts"][2]["type"], "text/plain");
  EXPECT_EQ(m["parts"][2]["hex"], HexOf(text));
  // A refusal goes to standard error with exit 1, and nothing more arrives.
  ExpectRun({mail({"--from", "a@qninet.test", "--to", "nobody@qninet.test", "--body", "x"}),
             1,
             "",
             {"Error 250: 550 5.1.1 <nobody@qninet.test>: Recipient address rejected"}});
  EXPECT_EQ(server.Messages(2, 300ms).size(), 1u);
}

// The message was accepted; a close without the line end of the 221 is only a warning.
TEST(MailCommand, AcceptedMessageWithCutQuitReplyExitsZero) {
  ScriptedServer server(
      Script::LineDialogue("220 t\r\n", {"250 t\r\n", "250 Ok\r\n", "250 Ok\r\n", "250 Ok\r\n", "354 go\r\n"})
          .ReadUntil("\r\n.\r\n")
          .Send("250 queued\r\n")
          .ReadUntil("QUIT\r\n")
          .Send("221 Bye")
          .Close());
  ExpectRun({{"mail", "--host", "127.0.0.1", "--port", std::to_string(server.Port()), "--from",
              "a@qninet.test", "--to", "b@qninet.test", "--body", "x"},
             0,
             kAnyOutput,
             {"Warning: the message was accepted, but the reply to QUIT failed"}});
}

TEST(ProgramVerbose, ShowsTlsDialogueAndResultsWithoutSecrets) {
  TestCA ca;
  const std::string token = "ya29.tok3n-XyZ", password = "Tr0ub4dor-3";
  SmtpServer::Options account{"mailer",        password,       true, {}, SmtpServer::Tls::StartTls,
                              ca.ServerCert(), ca.ServerKey(), {}};
  SmtpServer upgrading(account, token);
  account.TlsMode = SmtpServer::Tls::Implicit;
  SmtpServer sealed(account);
  UnboundTls dns({R"(local-zone: "test." static)", R"(local-data: "www.test. 300 IN A 10.1.2.3")"});
  Nginx web;
  web.WriteFile("news.rss",
                "<rss version=\"2.0\"><channel><title>Loopback news</title><item><title>First story"
                "</title></item><item><title>Second story</title></item></channel></rss>");
  web.WriteFile("logo.png", kPng);
  web.Start();
  TempDir dir("qninet-verbose");
  const auto form = [&](const char* cls, const std::string& path) {
    return dir.Write(std::string(cls) + ".json", Qninet({"save", cls, "URL=" + web.Url(path)}).Stdout)
        .string();
  };
  const auto mail = [&](const SmtpServer& server, const std::string& more) {
    std::vector<std::string> args{"mail", "-v", "--host", "127.0.0.1:" + std::to_string(server.Port())};
    std::istringstream words(
        "--cacert " + ca.CaCert().string() +
        " --from ann@qninet.test --to bob@qninet.test --body private-line --user mailer " + more);
    for (std::string word; words >> word;) args.push_back(word);
    return args;
  };
  const std::vector<std::string> tls{"* TLS 1.", " connection using ",
                                     "* Server certificate: subject: CN=server",
                                     "* Server certificate: issuer: CN=QNInet Test CA"};
  // Then base64 of the user, the password, PLAIN's and XOAUTH2's responses: what would travel unmasked.
  const std::string secrets = password + " " + token +
                              " private-line bWFpbGVy VHIwdWI0ZG9yLTM= AG1haWxlcgBUcjB1YjRkb3ItMw== "
                              "dXNlcj1tYWlsZXIBYXV0aD1CZWFyZXIgeWEyOS50b2szbi1YeVoBAQ==";
  const struct {
    const char* Name;
    std::vector<std::string> Args, Says;
  } rows[] = {
      {"starttls, login",
       mail(upgrading, "--password " + password + " --tls starttls --auth login"),
       {"> STARTTLS", "TLS", "> auth LOGIN", "< 334", "> ***", "< 334", "> ***", "< 235",
        "> MAIL FROM:<ann@qninet.test>", "> DATA", "< 354", "> (message: ", "> .", "< 250", "> QUIT",
        "< 221"}},
      {"implicit, plain",
       mail(sealed, "--password " + password + " --tls implicit --auth plain"),
       {"TLS", "< 220", "> EHLO ", "> AUTH PLAIN ***", "< 235"}},
      {"starttls, token",
       mail(upgrading, "--oauth-token " + token + " --tls starttls --auth xoauth2"),
       {"> EHLO ", "< 250-", "> STARTTLS", "< 220", "TLS", "> AUTH XOAUTH2 ***", "< 235"}},
      {"dns over tls",
       {"dns", "-v", "--tls", "--host", "127.0.0.1:" + std::to_string(dns.TlsPort()), "--cacert",
        dns.CA().CaCert().string(), "www.test"},
       {"TLS", "* Sending a "}},
      {"run a feed",
       {"run", form("TQNIRSSParser", "/news.rss")},
       {"channel Loopback news", "  item First story", "  item Second story"}},
      {"run a picture",
       {"run", form("TQNRemoteImage", "/logo.png")},
       {"run 1: isFinished, png 4x5, 32 bytes"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    std::vector<std::string> says;  // "TLS" stands for the TLS lines
    for (const std::string& line : row.Says)
      says.insert(says.end(), line == "TLS" ? tls.data() : &line,
                  line == "TLS" ? tls.data() + tls.size() : &line + 1);
    const RunResult r = ExpectRun({row.Args, 0, kAnyOutput, says});
    std::istringstream each(secrets);
    for (std::string secret; each >> secret;)
      EXPECT_EQ(r.Output.find(secret), std::string::npos) << secret << "\n" << r.Output;
  }
}
