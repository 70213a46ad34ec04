// `qninet mail` as a user runs it, against a real SMTP server (aiosmtpd) on loopback; the
// message that arrives is read with Python's email package.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "harness/Process.h"
#include "harness/ScriptedServer.h"
#include "harness/SmtpServer.h"
#include "harness/TempDir.h"

using namespace std::chrono_literals;
using nlohmann::json;
using qninet::harness::RunToCompletion;
using qninet::harness::SmtpServer;

namespace {

SmtpServer::Options account() {
  SmtpServer::Options o;
  o.User = "mailer";
  o.Password = "pw";
  o.RequireAuth = true;
  o.RefusedRecipients = {"nobody@qninet.test"};
  return o;
}

}  // namespace

// The envelope and the blind copy of `qninet mail` are read against two servers in peers_smtp_test.cpp.
TEST(MailCommand, GermanTextsPriorityAndAttachmentsArriveIntact) {
  SmtpServer server(account());
  qninet::harness::TempDir dir("qninet-mail-prog");
  std::string binary;
  for (int i = 0; i < 1024; ++i) binary += static_cast<char>((i * 31 + 7) & 0xFF);
  const std::string text = "Übersicht\r\n.\r\nEnde\r\n";
  const auto bin = dir.Write("bericht.bin", binary);
  const auto txt = dir.Write("übersicht.txt", text);
  const std::string subject = "Größere Änderungen für Übermorgen";
  const auto r = RunToCompletion({QNINET_PROGRAM, "mail",
                                  "--host",       "127.0.0.1",
                                  "--port",       std::to_string(server.Port()),
                                  "--from",       "Jörg <joerg@qninet.test>",
                                  "--to",         "Ann <ann@qninet.test>",
                                  "--bcc",        "hidden@qninet.test",
                                  "--subject",    subject,
                                  "--body",       "Hallo Ann,\nanbei die Dateien.\n.\nGruß",
                                  "--attach",     bin.string(),
                                  "--attach",     txt.string() + ":text/plain:quoted-printable",
                                  "--user",       "mailer",
                                  "--password",   "pw",
                                  "--priority",   "2"},
                                 60s);
  ASSERT_EQ(r.ExitCode, 0) << r.Output << server.LogText();
  const auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  const json m = json::parse(qninet::harness::ReadStoredMessage(messages[0]));
  EXPECT_EQ(m["defects"], json::array());
  EXPECT_EQ(m["Subject"], subject);
  EXPECT_EQ(m["From"], "Jörg <joerg@qninet.test>");
  EXPECT_EQ(m["X-Priority"], "2");
  ASSERT_EQ(m["parts"].size(), 3u);
  EXPECT_EQ(m["parts"][0]["text"], "Hallo Ann,\r\nanbei die Dateien.\r\n.\r\nGruß");
  EXPECT_EQ(m["parts"][2]["filename"], "übersicht.txt");
  EXPECT_EQ(m["parts"][2]["type"], "text/plain");
  EXPECT_EQ(m["parts"][2]["hex"], qninet::harness::HexOf(text));
}

TEST(MailCommand, RefusalGoesToStandardErrorWithExitOne) {
  SmtpServer server(account());
  const auto r = RunToCompletion(
      {QNINET_PROGRAM, "mail", "--host", "127.0.0.1", "--port", std::to_string(server.Port()), "--from",
       "a@qninet.test", "--to", "nobody@qninet.test", "--user", "mailer", "--password", "pw", "--body", "x"},
      60s);
  EXPECT_EQ(r.ExitCode, 1) << r.Output;
  EXPECT_TRUE(r.Stdout.empty()) << r.Stdout;
  EXPECT_NE(r.Output.find("Error 250: 550 5.1.1 <nobody@qninet.test>: Recipient address rejected"),
            std::string::npos)
      << r.Output;
  EXPECT_TRUE(server.Messages(0, 300ms).empty());
}

// The message was accepted; a close without the line end of the 221 is only a warning.
TEST(MailCommand, AcceptedMessageWithCutQuitReplyExitsZero) {
  using qninet::harness::Script;
  qninet::harness::ScriptedServer server(
      Script::LineDialogue("220 t\r\n", {"250 t\r\n", "250 Ok\r\n", "250 Ok\r\n", "250 Ok\r\n", "354 go\r\n"})
          .ReadUntil("\r\n.\r\n")
          .Send("250 queued\r\n")
          .ReadUntil("QUIT\r\n")
          .Send("221 Bye")
          .Close());
  const auto r =
      RunToCompletion({QNINET_PROGRAM, "mail", "--host", "127.0.0.1", "--port", std::to_string(server.Port()),
                       "--from", "a@qninet.test", "--to", "b@qninet.test", "--body", "x"},
                      60s);
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_NE(r.Output.find("Warning: the message was accepted, but the reply to QUIT failed"),
            std::string::npos)
      << r.Output;
}
