// TQNISMTP against a real SMTP server (aiosmtpd) on loopback; the stored messages are read
// with Python's email package, a real MIME parser. Whole messages (every header, each transfer
// encoding, the envelope, the blind copy, a kept connection) are read against two servers in
// peers_smtp_test.cpp.

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

}  // namespace

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

// Each refusal of a login is the server's own reply; nothing is stored, and the component sends the
// next message on a new connection. (A refused recipient is read against two servers in
// peers_smtp_test.cpp.)
TEST(SmtpServerRefusals, RefusalsAreTheResultAndNothingIsStored) {
  SmtpServer server(account());
  TQNISMTP smtp(nullptr);
  point_at(smtp, server);
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
