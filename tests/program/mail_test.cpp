// `qninet mail` as a user runs it, against a real SMTP server (aiosmtpd) on loopback; the message
// that arrives is read with Python's email package. The envelope and the blind copy are read
// against two servers in peers_smtp_test.cpp; --tls and the logins inside it in verbose_test.cpp.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Qninet.h"
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
  const struct {
    const char* Name;
    std::vector<std::string> Args;
    int Exit;
    std::string Says;  // for a refusal
  } rows[] = {
      {"german texts, priority, attachments and a login by --auth",
       {"--auth", "cram-md5", "--from", "Jörg <joerg@qninet.test>", "--to", "Ann <ann@qninet.test>", "--bcc",
        "hidden@qninet.test", "--subject", subject, "--body", "Hallo Ann,\nanbei die Dateien.\n.\nGruß",
        "--attach", bin.string(), "--attach", txt.string() + ":text/plain:quoted-printable", "--priority",
        "2"},
       0,
       ""},
      // A refusal goes to standard error with exit 1.
      {"refused recipient",
       {"--from", "a@qninet.test", "--to", "nobody@qninet.test", "--body", "x"},
       1,
       "Error 250: 550 5.1.1 <nobody@qninet.test>: Recipient address rejected"},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    SmtpServer server({.User = "mailer",
                       .Password = "pw",
                       .RequireAuth = true,
                       .RefusedRecipients = {"nobody@qninet.test"}});
    std::vector<std::string> args{"mail",   "--host", "127.0.0.1:" + std::to_string(server.Port()),
                                  "--user", "mailer", "--password",
                                  "pw"};
    args.insert(args.end(), row.Args.begin(), row.Args.end());
    ExpectRun({args, row.Exit, row.Exit == 0 ? kAnyOutput : "", {row.Says}});
    const auto messages = server.Messages(row.Exit == 0 ? 1 : 0, row.Exit == 0 ? 10s : 300ms);
    ASSERT_EQ(messages.size(), row.Exit == 0 ? 1u : 0u) << server.LogText();
    if (row.Exit != 0) continue;
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
  }
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
