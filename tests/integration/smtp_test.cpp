// TQNISMTP against a real SMTP server (aiosmtpd) on loopback; the stored messages are read
// with Python's email package, a real MIME parser. The envelope, the blind copy and a kept
// connection are read against two servers in peers_smtp_test.cpp.

#include "qninet/socket/QNISMTP.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "harness/Process.h"
#include "harness/SmtpServer.h"
#include "harness/TempDir.h"

using namespace qninet;
using harness::SmtpServer;
using nlohmann::json;

namespace {

json read_message(const std::filesystem::path& eml) { return json::parse(harness::ReadStoredMessage(eml)); }

SmtpServer::Options account() {
  SmtpServer::Options o;
  o.User = "mailer";
  o.Password = "s3cret";
  o.RequireAuth = true;
  o.RefusedRecipients = {"nobody@qninet.test"};
  return o;
}

void point_at(TQNISMTP& smtp, const SmtpServer& server) {
  smtp.SetHost(u"127.0.0.1");
  smtp.SetPort(server.Port());
  smtp.SetTimeout(10000);
  smtp.SetLoginPrompt(false);
  smtp.Login()->SetUseLogin(true);
  smtp.Login()->SetUserID(u"mailer");
  smtp.Login()->SetPassword(u"s3cret");
  smtp.From()->SetText(u"Ann Sender <ann@qninet.test>");
  smtp.Recipients()->SetEMailAddresses(u"bob@qninet.test");
}

std::string all_bytes() {
  std::string s;
  for (int round = 0; round < 3; ++round)
    for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s;
}

}  // namespace

TEST(SmtpServerDelivery, WholeMessageArrivesIntact) {
  SmtpServer server(account());
  harness::TempDir dir("qninet-smtp-it");
  const std::string binary = all_bytes();
  const std::string qp = "Zeile mit Leerzeichen am Ende   \r\nlone\nfeed and = sign\r\n.leading period\r\n" +
                         std::string(200, 'x') + "\r\nno final break";
  const std::string text7 = "first line\r\n.\r\n..x\r\nlast line\r\n";
  const auto binFile = dir.Write("all bytes.bin", binary);
  const auto qpFile = dir.Write("notes.txt", qp);
  const auto txtFile = dir.Write("plain.txt", text7);

  TQNISMTP smtp(nullptr);
  point_at(smtp, server);
  smtp.Recipients()->SetEMailAddresses(u"Bob <bob@qninet.test>, \"Doe, Jane\" <jane@qninet.test>");
  smtp.CC()->SetEMailAddresses(u"cy@qninet.test (Cy Copy)");
  smtp.BCC()->SetEMailAddresses(u"hidden@qninet.test");
  smtp.ReplyTo()->SetEMailAddresses(u"replies@qninet.test, other@qninet.test");
  smtp.SetSubject(S("Grüße: Änderungen für nächste Woche"));
  smtp.SetCharSet(u"utf-8");
  smtp.SetEncoding(u"quoted-printable");
  smtp.SetPriority(spHighest);
  smtp.Body()->SetText(S("Hallo Bob,\r\n.\r\n..x\r\nschöne Grüße"));
  smtp.SetDate(EncodeDate(2024, 3, 5) + EncodeTime(9, 7, 3, 0));
  const std::pair<std::filesystem::path, const char*> files[] = {
      {binFile, "base64"}, {qpFile, "quoted-printable"}, {txtFile, "7bit"}};
  for (const auto& [path, encoding] : files) {
    auto* a = smtp.Attachments()->Add();
    a->SetFileName(FromUtf8(path.string()));
    a->DetectContentType();
    a->SetEncoding(FromUtf8(encoding));
  }
  smtp.Attachments()->Items(0)->SetContentType(u"application/octet-stream");

  ASSERT_EQ(smtp.Execute(), u"") << server.LogText();
  EXPECT_EQ(smtp.LastError(), u"");
  const auto messages = server.Messages(1);
  ASSERT_EQ(messages.size(), 1u);
  const json m = read_message(messages[0]);
  EXPECT_EQ(m["defects"], json::array());
  EXPECT_EQ(m["Cc"], "Cy Copy <cy@qninet.test>");
  EXPECT_EQ(m["Reply-To"], "replies@qninet.test, other@qninet.test");
  EXPECT_EQ(m["X-Priority"], "1");
  EXPECT_EQ(m["Subject"], "Grüße: Änderungen für nächste Woche");
  EXPECT_TRUE(m["date_parsed"].get<std::string>().starts_with("2024-03-05T09:07:03")) << m["date_parsed"];

  ASSERT_EQ(m["parts"].size(), 4u);
  const json& text = m["parts"][0];
  EXPECT_EQ(text["type"], "text/plain");
  EXPECT_EQ(text["charset"], "utf-8");
  EXPECT_EQ(text["hex"], harness::HexOf("Hallo Bob,\r\n.\r\n..x\r\nsch\xC3\xB6ne Gr\xC3\xBC\xC3\x9F"
                                        "e"));
  const std::string expected[] = {binary, qp, text7};
  const char* names[] = {"all bytes.bin", "notes.txt", "plain.txt"};
  for (int i = 0; i < 3; ++i) {
    const json& part = m["parts"][i + 1];
    EXPECT_TRUE(part["attachment"].get<bool>());
    EXPECT_EQ(part["filename"], names[i]);
    EXPECT_EQ(part["hex"], harness::HexOf(expected[i])) << names[i];
  }
  EXPECT_EQ(m["parts"][2]["type"], "text/plain");
}

// A text attachment may hold the fixed boundary text, or the whole delimiter of an earlier
// message: each message draws its own, and the parser still sees every part whole.
TEST(SmtpServerDelivery, AttachmentHoldingBoundaryTextsHidesNoPart) {
  SmtpServer server(account());
  harness::TempDir dir("qninet-smtp-it");
  std::string earlier = "------------VeltraxonSMTP\r\n";
  for (std::size_t n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    const std::string trap = "before\r\n" + earlier + "------------VeltraxonSMTP--\r\nafter\r\n";
    TQNISMTP smtp(nullptr);
    point_at(smtp, server);
    smtp.Body()->SetText(u"body");
    for (const auto& [name, content] :
         {std::pair<const char*, std::string>{"trap.txt", trap}, {"next.txt", "next\r\n"}}) {
      auto* a = smtp.Attachments()->Add();
      a->SetFileName(FromUtf8(dir.Write(name, content).string()));
      a->SetEncoding(u"7bit");
    }
    ASSERT_EQ(smtp.Execute(), u"") << server.LogText();
    const auto messages = server.Messages(n);
    ASSERT_EQ(messages.size(), n);
    const json m = read_message(messages[n - 1]);
    EXPECT_EQ(m["defects"], json::array());
    ASSERT_EQ(m["parts"].size(), 3u) << m.dump();
    EXPECT_EQ(m["parts"][1]["hex"], harness::HexOf(trap));
    EXPECT_EQ(m["parts"][2]["hex"], harness::HexOf("next\r\n"));
    // The next message's trap holds this message's delimiter line.
    const std::string raw = harness::ReadFileText(messages[n - 1]);
    const auto at = raw.find("boundary=\"") + 10;
    earlier = "--" + raw.substr(at, raw.find('"', at) - at) + "\r\n";
    EXPECT_TRUE(earlier.starts_with("------------VeltraxonSMTP_")) << earlier;
  }
}

// Each refusal is the server's own reply; nothing is stored, and the component sends the next
// message on a new connection.
TEST(SmtpServerRefusals, RefusalsAreTheResultAndNothingIsStored) {
  SmtpServer server(account());
  TQNISMTP smtp(nullptr);
  point_at(smtp, server);
  smtp.Recipients()->SetEMailAddresses(u"bob@qninet.test, nobody@qninet.test");
  EXPECT_EQ(smtp.Execute(), u"Error 250: 550 5.1.1 <nobody@qninet.test>: Recipient address rejected");
  smtp.Recipients()->SetEMailAddresses(u"bob@qninet.test");
  smtp.Login()->SetPassword(u"wrong");
  String result = smtp.Execute();
  EXPECT_TRUE(result.starts_with(u"Error 235: 535")) << ToUtf8(result);
  smtp.Login()->SetUseLogin(false);
  result = smtp.Execute();
  EXPECT_TRUE(result.starts_with(u"Error 250: 530")) << ToUtf8(result);
  EXPECT_TRUE(server.Messages(0, std::chrono::milliseconds(300)).empty());
  smtp.Login()->SetUseLogin(true);
  smtp.Login()->SetPassword(u"s3cret");
  EXPECT_EQ(smtp.Execute(), u"");
  EXPECT_EQ(server.Messages(1).size(), 1u);
}
