// TQNISMTP against a real SMTP server (aiosmtpd) on loopback: over STARTTLS and implicit TLS with
// each login method (the server holding a certificate of the harness CA), boundary texts inside
// attachments, and refused logins. The stored messages are read with Python's email package, a
// real MIME parser; whole messages (every header, each transfer encoding, the envelope, the blind
// copy, a kept connection) are read against two servers in peers_smtp_test.cpp.

#include "qninet/socket/QNISMTP.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "harness/SmtpServer.h"
#include "harness/TempDir.h"
#include "harness/TestCA.h"

using namespace qninet;
using harness::SmtpServer;
using nlohmann::json;

namespace {

using Tls = SmtpServer::Tls;

harness::TestCA& ca() {
  static harness::TestCA* authority = [] {
    auto* made = new harness::TestCA();
    made->IssueServerCert("wrong", "DNS:wrong.test");
    return made;
  }();
  return *authority;
}

SmtpServer::Options secured(Tls mode, std::vector<std::string> excluded = {},
                            const std::string& cert = "server") {
  SmtpServer::Options o;
  o.User = "mailer";
  o.Password = "s3cret";
  o.RequireAuth = true;
  o.TlsMode = mode;
  o.CertFile = ca().Dir() / (cert + ".crt");
  o.KeyFile = ca().Dir() / (cert + ".key");
  o.ExcludedAuth = std::move(excluded);
  return o;
}

void point_at(TQNISMTP& smtp, const SmtpServer& server, TQNITLSMode mode, TQNISMTPAuthMethod method) {
  smtp.SetHost(u"127.0.0.1");
  smtp.SetUseTLS(mode);
  smtp.SetPort(server.Port());
  smtp.SetCAFile(FromUtf8(ca().CaCert().string()));
  smtp.SetAuthMethod(method);
  smtp.SetTimeout(10000);
  smtp.SetLoginPrompt(false);
  smtp.Login()->SetUseLogin(true);
  smtp.Login()->SetUserID(u"mailer");
  smtp.Login()->SetPassword(u"s3cret");
  smtp.From()->SetText(u"ann@qninet.test");
  smtp.Recipients()->SetEMailAddresses(u"bob@qninet.test");
  smtp.SetSubject(u"over tls");
  smtp.Body()->SetText(u"sealed\r\n.dot line\r\n");
}

json read_message(const std::filesystem::path& eml) { return json::parse(harness::ReadStoredMessage(eml)); }

}  // namespace

// Each login method over each kind of TLS: the message arrives, and the server saw the login
// (of the expected mechanism) and the transaction only inside TLS; the auto method takes the
// strongest that the server offers.
TEST(SmtpOverTls, EachLoginMethodInsideEachKindOfTls) {
  struct Case {
    Tls Server;
    TQNITLSMode Mode;
    TQNISMTPAuthMethod Method;
    std::vector<std::string> Excluded;
    const char* Mechanism;
  };
  for (const Case& k : {Case{Tls::StartTls, tlsStartTLS, amLogin, {}, "LOGIN"},
                        Case{Tls::StartTls, tlsStartTLS, amPlain, {}, "PLAIN"},
                        Case{Tls::StartTls, tlsStartTLS, amAuto, {}, "CRAM-MD5"},
                        Case{Tls::Implicit, tlsImplicit, amCramMD5, {}, "CRAM-MD5"},
                        Case{Tls::Implicit, tlsImplicit, amAuto, {"CRAM-MD5"}, "PLAIN"},
                        Case{Tls::Implicit, tlsImplicit, amPlain, {}, "PLAIN"}}) {
    SCOPED_TRACE(k.Mechanism);
    SmtpServer server(secured(k.Server, k.Excluded));
    TQNISMTP smtp(nullptr);
    point_at(smtp, server, k.Mode, k.Method);
    EXPECT_EQ(ToUtf8(smtp.Execute()), "");
    const auto messages = server.Messages(1);
    ASSERT_EQ(messages.size(), 1u) << server.LogText();
    EXPECT_NE(harness::ReadFileText(messages[0]).find("sealed\r\n.dot line\r\n"), std::string::npos);
    const std::string seen = server.Commands();
    EXPECT_NE(seen.find(std::string("AUTH ") + k.Mechanism + " tls=yes"), std::string::npos) << seen;
    EXPECT_NE(seen.find("MAIL  tls=yes"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("AUTH " + std::string(k.Mechanism) + " tls=no"), std::string::npos) << seen;
  }
}

// When TLS cannot be had — no STARTTLS offered, or a certificate for another name — the
// connection ends before anything secret is sent.
TEST(SmtpOverTls, NoLoginWithoutTheSession) {
  struct Case {
    Tls Server;
    const char* Cert;
    TQNITLSMode Mode;
    const char* Error;
  };
  for (const Case& k : {Case{Tls::None, "server", tlsStartTLS, "Error: the server does not offer STARTTLS"},
                        Case{Tls::StartTls, "wrong", tlsStartTLS, "IP address mismatch"},
                        Case{Tls::Implicit, "wrong", tlsImplicit, "IP address mismatch"}}) {
    SCOPED_TRACE(k.Error);
    SmtpServer server(secured(k.Server, {}, k.Cert));
    TQNISMTP smtp(nullptr);
    point_at(smtp, server, k.Mode, amPlain);
    String message;  // reported once connected, raised when the connection cannot be made
    try {
      message = smtp.Execute();
    } catch (const Exception& e) {
      message = e.Message();
    }
    EXPECT_NE(ToUtf8(message).find(k.Error), std::string::npos) << ToUtf8(message);
    EXPECT_FALSE(smtp.Connected());
    const std::string seen = server.Commands();
    EXPECT_EQ(seen.find("AUTH"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("MAIL"), std::string::npos) << seen;
  }
}

// A text attachment may hold the fixed boundary text, or the whole delimiter of an earlier
// message: each message draws its own, and the parser still sees every part whole.
TEST(SmtpServerDelivery, AttachmentHoldingBoundaryTextsHidesNoPart) {
  SmtpServer server(secured(Tls::None));
  harness::TempDir dir("qninet-smtp-it");
  std::string earlier = "------------VeltraxonSMTP\r\n";
  for (std::size_t n = 1; n <= 2; ++n) {
    SCOPED_TRACE(n);
    const std::string trap = "before\r\n" + earlier + "------------VeltraxonSMTP--\r\nafter\r\n";
    TQNISMTP smtp(nullptr);
    point_at(smtp, server, tlsNone, amAuto);
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
  SmtpServer server(secured(Tls::None));
  TQNISMTP smtp(nullptr);
  point_at(smtp, server, tlsNone, amAuto);
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
