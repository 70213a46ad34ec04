// TQNISMTP's bearer-token logins (XOAUTH2, OAUTHBEARER) and addresses and bodies outside ASCII
// (SMTPUTF8, 8BITMIME) against aiosmtpd, which records every byte it receives: each transcript
// is compared byte for byte. OpenSMTPD 6.8 offers 8BITMIME but neither SMTPUTF8 nor OAuth (and
// AUTH only under TLS, which its OpenSSL 3 build cannot do): it checks what arrives of the
// A-label and 8BITMIME paths.

#include <unistd.h>

#include <regex>

#include <gtest/gtest.h>

#include "harness/SmtpServer.h"
#include "qninet/core/TextEncoding.h"
#include "qninet/socket/QNISMTP.h"
#include "qninet/sys/TimeZone.h"

using namespace qninet;
using harness::ExtendedSmtpServer;

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
