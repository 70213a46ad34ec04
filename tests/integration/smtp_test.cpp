// TQNISMTP against aiosmtpd: each login inside STARTTLS and implicit TLS, boundary texts inside
// attachments, refused logins, bearer tokens and addresses and bodies outside ASCII byte for byte
// (whole messages against two servers: peers_smtp_test.cpp). OpenSMTPD 6.8 has neither SMTPUTF8
// nor OAuth, and AUTH only under TLS, which its OpenSSL 3 build cannot do: it takes the A-label
// and 8BITMIME rows.

#include "qninet/socket/QNISMTP.h"

#include <unistd.h>

#include <regex>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "harness/SmtpServer.h"
#include "harness/TempDir.h"
#include "harness/TestCA.h"
#include "qninet/core/TextEncoding.h"
#include "qninet/sys/TimeZone.h"

using namespace qninet;
using harness::ExtendedSmtpServer;
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
  return {.User = "mailer",
          .Password = "s3cret",
          .RequireAuth = true,
          .TlsMode = mode,
          .CertFile = ca().Dir() / (cert + ".crt"),
          .KeyFile = ca().Dir() / (cert + ".key"),
          .ExcludedAuth = std::move(excluded)};
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

}  // namespace

// Each login method over each kind of TLS: the message arrives, the login (of the expected
// mechanism) and the transaction seen only inside TLS; amAuto takes the strongest offered.
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
    const json m = json::parse(harness::ReadStoredMessage(messages[n - 1]));
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

// A refused login is the server's own reply, nothing stored, the next message sent on a new
// connection; a silent server's time-out names the endpoint (a refused recipient: peers_smtp).
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
  // Frozen in place, the server still accepts but never greets: reported (not raised) with where.
  server.Pause(true);
  smtp.SetTimeout(500);
  EXPECT_EQ(ToUtf8(smtp.Execute()),
            "no greeting from 127.0.0.1:" + std::to_string(server.Port()) + " within 500 ms");
  EXPECT_EQ(smtp.Execute(), smtp.LastError());
  server.Pause(false);
}

namespace {

// The body "Grüße" from `from` to bob@example.com, dated in UTC; the result or what Execute raised.
std::string send(TQNISMTP& smtp, std::uint16_t port, const char* from, const char* to, bool eightBit) {
  smtp.SetHost(u"127.0.0.1");
  smtp.SetPort(port);
  smtp.From()->SetAddress(FromUtf8(from));
  smtp.Recipients()->SetEMailAddresses(FromUtf8(to));
  smtp.SetCharSet(u"utf-8");
  smtp.SetEncoding(eightBit ? u"8bit" : u"base64");
  smtp.Body()->SetText(FromUtf8("Grüße"));
  smtp.SetDate(EncodeDate(2024, 3, 5) + EncodeTime(9, 7, 3, 0));
  sys::set_time_zone_override(sys::TTimeZoneInfo{0, 0, 0, sys::tzsStandard, 0});
  try {
    return ToUtf8(smtp.Execute());
  } catch (const Exception& e) {
    return e.what();
  }
}

std::string replace(std::string s, const std::string& from, const std::string& to) {
  return std::regex_replace(s, std::regex(from), to);
}

}  // namespace

TEST(SmtpToday, BearerLoginsAndAddressesOutsideAsciiByteForByte) {
  const std::string bearer =
      "n,a=joe,\x01host=127.0.0.1\x01port={PORT}\x01"
      "auth=Bearer tok-";
  const std::string mail = "MAIL FROM:<ann@example.com>\r\nRCPT TO:<bob@example.com>\r\nDATA\r\n{DATA}";
  const std::string refused =
      "Error 235: 535 5.7.8 Authentication credentials invalid (the token was refused: status ";
  // After "EHLO host\r\n": {AUTH:text} stands for the base64 of text, {DATA} for the message.
  // clang-format off
  const struct { const char* Name; ExtendedSmtpServer::Options Server; TQNISMTPAuthMethod Method; const char* Token;
                 const char* From; bool EightBit; std::string Result, Sent; } rows[] = {
      {"xoauth2", {"joe", "tok-good"}, amXOAuth2, "tok-good", "ann@example.com", false, "",
       "RSET\r\nAUTH XOAUTH2 {AUTH:user=joe\x01" "auth=Bearer tok-good\x01\x01}\r\n" + mail},
      {"auto takes oauthbearer", {"joe", "tok-good"}, amAuto, "tok-good", "ann@example.com", false, "",
       "RSET\r\nAUTH OAUTHBEARER {AUTH:" + bearer + "good\x01\x01}\r\n" + mail},
      {"xoauth2 refused", {"joe", "tok-good"}, amXOAuth2, "tok-bad", "ann@example.com", false, refused + "401)",
       "RSET\r\nAUTH XOAUTH2 {AUTH:user=joe\x01" "auth=Bearer tok-bad\x01\x01}\r\n\r\nQUIT\r\n"},
      {"oauthbearer refused", {"joe", "tok-good"}, amOAuthBearer, "tok-bad", "ann@example.com", false,
       refused + "invalid_token)", "RSET\r\nAUTH OAUTHBEARER {AUTH:" + bearer + "bad\x01\x01}\r\nAQ==\r\nQUIT\r\n"},
      {"no token", {}, amXOAuth2, "", "ann@example.com", false, "XOAUTH2 needs an AccessToken; nothing was sent", ""},
      {"utf8 with SMTPUTF8", {"joe", "", true}, amLogin, "", "jörg@bücher.example", false, "",
       "RSET\r\nMAIL FROM:<jörg@bücher.example> SMTPUTF8\r\nRCPT TO:<bob@example.com>\r\nDATA\r\n{DATA}"},
      {"A-labels without SMTPUTF8", {}, amLogin, "", "ann@bücher.example", false, "",
       "RSET\r\nMAIL FROM:<ann@xn--bcher-kva.example>\r\nRCPT TO:<bob@example.com>\r\nDATA\r\n{DATA}"},
      {"local part without SMTPUTF8", {}, amLogin, "", "jörg@example.com", false, "The address jörg@example.com has "
       "a local part outside ASCII and the server does not offer SMTPUTF8; nothing was sent", "QUIT\r\n"},
      {"8bit with 8BITMIME", {}, amLogin, "", "ann@example.com", true, "",
       "RSET\r\nMAIL FROM:<ann@example.com> BODY=8BITMIME\r\nRCPT TO:<bob@example.com>\r\nDATA\r\n{DATA}"},
      {"8bit without 8BITMIME", {"joe", "", false, false}, amLogin, "", "ann@example.com", true, "", "RSET\r\n" + mail},
  };
  // clang-format on
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    ExtendedSmtpServer server(row.Server);
    TQNISMTP smtp(nullptr);
    smtp.Login()->SetUseLogin(row.Method != amLogin);
    smtp.Login()->SetUserID(u"joe");
    smtp.SetAuthMethod(row.Method);
    smtp.SetAccessToken(FromUtf8(row.Token));
    EXPECT_EQ(send(smtp, server.Port(), row.From, "bob@example.com", row.EightBit), row.Result);
    std::string expected =
        replace(row.Sent.empty() ? "" : "EHLO H\r\n" + row.Sent, "\\{PORT\\}", std::to_string(server.Port()));
    for (auto at = expected.find("{AUTH:"); at != std::string::npos; at = expected.find("{AUTH:")) {
      const auto end = expected.find('}', at);
      expected.replace(at, end + 1 - at, base64_encode(expected.substr(at + 6, end - at - 6)));
    }
    const std::string part = !row.EightBit             ? "base64\r\n\r\nR3LDvMOfZQ0K"
                             : row.Server.EightBitMime ? "8bit\r\n\r\nGrüße"
                                                       : "quoted-printable\r\n\r\nGr=C3=BC=C3=9Fe";
    const std::string from = row.Server.Smtputf8 ? row.From : replace(row.From, "bücher", "xn--bcher-kva");
    expected = replace(expected, "\\{DATA\\}",
                       "Message-Id: <ID>\r\nDate: Tue, 5 Mar 2024 09:07:03 GMT\r\nFrom: " + from +
                           "\r\nTo: bob@example.com\r\nX-Priority: 3\r\nX-Mailer: Veltraxon mailer "
                           "(https://qninet.example.org/)\r\nMIME-Version: 1.0\r\nContent-Type: Text/Plain; "
                           "charset=utf-8\r\nContent-Transfer-Encoding: " +
                           part + "\r\n\r\n.\r\nQUIT\r\n");
    server.Stop();
    EXPECT_EQ(replace(replace(server.Received(), "Message-Id: <[^>]*>", "Message-Id: <ID>"), "^EHLO [^\r]*",
                      "EHLO H"),
              expected);
  }
  sys::set_time_zone_override(std::nullopt);
}

TEST(SmtpToday, OpenSmtpdTakesALabelsAnd8BitMime) {
  if (::geteuid() != 0) GTEST_SKIP() << "OpenSMTPD must be started as root";
  harness::OpenSmtpd server;
  TQNISMTP smtp(nullptr);
  ASSERT_EQ(send(smtp, server.Port(), "ann@bücher.example", "bob@bücher.example", true), "");
  sys::set_time_zone_override(std::nullopt);
  const auto copies = server.Deliveries(1);
  ASSERT_EQ(copies.size(), 1u) << server.LogText();
  const std::string copy = harness::ReadFileText(copies[0]);
  for (const char* line : {"Return-Path: <ann@xn--bcher-kva.example>\n", "To: bob@xn--bcher-kva.example\n",
                           "Content-Transfer-Encoding: 8bit\n\nGrüße\n"})
    EXPECT_NE(copy.find(line), std::string::npos) << copy;
}

// RFC 5801 section 4: "," and "=" in the authorisation identity would end or garble the header.
TEST(SmtpToday, OAuthBearerHeaderEscapesCommaAndEquals) {
  EXPECT_EQ(smtp::oauthbearer_response("a,b=c", "mx", 587, "t"),
            "n,a=a=2Cb=3Dc,\x01host=mx\x01port=587\x01"
            "auth=Bearer t\x01\x01");
}
