#include "qninet/socket/QNISMTP.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <optional>

#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "qninet/core/TextEncoding.h"
#include "qninet/core/qniutil.h"
#include "qninet/socket/MimeMessage.h"
#include "qninet/sys/TimeZone.h"
#include "support/Overrides.h"

using namespace qninet;
using qninet::harness::Script;
using qninet::harness::ScriptedServer;
using qninet::test_support::ZoneOverride;
using Lines = std::vector<std::string>;

namespace {

// Opens the sender's protected helpers to the tests.
class SmtpProbe : public TQNISMTP {
public:
  using TQNISMTP::EMailFormatDate;
  using TQNISMTP::GetTimeZoneString;
  using TQNISMTP::TQNISMTP;
  String LocalHostName() { return GetLocalHost(); }
};

// The pieces of a header value between its CRLF folds; each fold must go on with a blank.
Lines folds(const std::string& s) {
  Lines out{{}};
  for (std::size_t i = 0; i < s.size(); ++i)
    s.compare(i, 2, "\r\n") ? void(out.back() += s[i]) : (out.emplace_back(), void(++i));
  for (std::size_t i = 1; i < out.size(); ++i) EXPECT_EQ(out[i][0], ' ') << i;
  return out;
}

}  // namespace

// Each row: the text, the name and address parsed from it, and the text read back (null: not
// checked).
TEST(MailAddressText, ParsedNameAddressAndReadBack) {
  const std::tuple<const char*, std::u16string, std::u16string, const char16_t*> cases[] = {
      {"\"Joe Doe\" <joe@example.com>", u"Joe Doe", u"joe@example.com", u"Joe Doe <joe@example.com>"},
      {"joe@example.com (Joe Doe)", u"Joe Doe", u"joe@example.com", u"Joe Doe <joe@example.com>"},
      {"  joe@example.com ", u"", u"  joe@example.com ", nullptr},  // a bare address keeps its blanks
      {"joe@example.com>", u"", u"", nullptr},  // a closing bracket without an opening one
      {"joe@example.com)", u"", u"", nullptr},
      {"\"'Joe'\" <j@x.org>", u"Joe", u"j@x.org", nullptr},  // nested quote pairs are all stripped
      {"\" <j@x.org>", u"\"", u"j@x.org", nullptr},
      {"'\"Joe' <j@x.org>", u"\"Joe", u"j@x.org", nullptr}};
  for (const auto& [text, name, address, readBack] : cases) {
    SCOPED_TRACE(text);
    TQNIEMailAddress a;
    a.SetText(S(text));
    EXPECT_EQ(a.Name(), name);
    EXPECT_EQ(a.Address(), address);
    if (readBack) {
      EXPECT_EQ(a.Text(), readBack);
    }
  }
  TQNIEMailAddress a;
  a.SetAddress(u"joe@example.com");
  a.SetName(u"JOE@EXAMPLE.COM");  // the name in capitals of the address reads as the bare address
  EXPECT_EQ(a.Text(), u"joe@example.com");
  a.SetName(u"joe@example.com");
  EXPECT_EQ(a.Text(), u"joe@example.com <joe@example.com>");
  a.SetText(u"k@x.org");  // setting the text clears the previous name
  EXPECT_TRUE(a.Name().empty());
  a.SetText(a.Address());  // its own field as the text: read before the fields are cleared
  EXPECT_EQ(a.Text(), u"k@x.org");
}

TEST(MailAddressList, SplitAtCommasOutsideQuotes) {
  const std::tuple<const char16_t*, int, const char16_t*> cases[] = {
      {u"\"A\" <a@x.org>, \"B\" <b@x.org>", 2, u"A <a@x.org>, B <b@x.org>"},
      {u"a@x.org; b@y.org", 1, u"a@x.org; b@y.org"},  // semicolons separate nothing
      {u",a@x.org,, ,b@y.org,", 2, u"a@x.org, b@y.org"},
      {u"", 0, u""}};
  for (const auto& [text, count, readBack] : cases) {
    SCOPED_TRACE(ToUtf8(text));
    TQNIEMailAddresses list(nullptr);
    list.SetEMailAddresses(u"old@x.org");  // writing replaces
    list.SetEMailAddresses(text);
    EXPECT_EQ(list.Count(), count);
    EXPECT_EQ(list.EMailAddresses(), readBack);
  }
}

// Assign copies a login's three values and refuses the other classes. (The attachment's name from
// its path: the two-attachment transcript; its type by DetectContentType: the peers' notes.txt
// arriving as text/plain, the look-up's own rows in qniutil_system_test.)
TEST(MailAssign, LoginCopiesItsValuesOthersAreRefused) {
  TQNIEMailAddress a;
  TQNILogin login, other;
  TQNIEMailAttachment att;
  for (auto [to, from] : {std::pair<TPersistent*, TPersistent*>{&a, &login}, {&login, &a}, {&att, &a}})
    EXPECT_THROW(to->Assign(from), EConvertError);
  other.SetUserID(u"u");
  other.SetPassword(u"p");
  other.SetUseLogin(true);
  login.Assign(&other);
  EXPECT_EQ(login.UserID() + u"|" + login.Password() + (login.UseLogin() ? u"|on" : u"|off"), u"u|p|on");
}

// How a reply is delimited is read in Framing_test.
TEST(SmtpReplyReader, CodeOfTheLastLineTheLinesJoinedAndTheExpectedCode) {
  const auto r = smtp::parse_reply("250-qninet.test\r\n250-AUTH LOGIN PLAIN\r\n250 HELP\r\n");
  EXPECT_EQ(r.Code, "250");
  EXPECT_EQ(r.Text, "250-qninet.test 250-AUTH LOGIN PLAIN 250 HELP");
  EXPECT_EQ(smtp::parse_reply("250\r\n").Code, "250");
  EXPECT_TRUE(smtp::reply_matches(smtp::parse_reply("550 no\r\n"), ""));
  EXPECT_FALSE(smtp::reply_matches(smtp::parse_reply("550 no\r\n"), "250"));
  EXPECT_TRUE(smtp::reply_matches(smtp::parse_reply("250 ok\r\n"), "250"));
  EXPECT_FALSE(smtp::reply_matches(smtp::parse_reply("garbage\r\n"), "250"));
}

// Fed in blocks of any size, each encoder gives the lines that the whole text gives, the encoded
// ones none past 76: pairs, blanks before a break and soft breaks may fall across a block's edge.
// (Texts decoded again by a receiver: the peers' quoted-printable attachment with trailing
// blanks, a lone LF, "=", a long line and no final break, intact at aiosmtpd and OpenSMTPD.)
TEST(MimeLines, BlocksGiveTheLinesOfTheWholeText) {
  // CRLF is a line break, a lone LF or CR is encoded, trailing blanks are encoded; the raw
  // encoder splits at every break. Encoding names ignore case.
  const std::tuple<const char*, const char*, Lines> whole[] = {
      {"quoted-printable", "a b \r\nc=d\r\n", {"a b=20", "c=3Dd"}},
      {"quoted-printable", "x\ny", {"x=0Ay="}},
      {"quoted-printable", "x \r\n", {"x=20"}},
      {"quoted-printable", "a\r", {"a=0D="}},
      {"Quoted-Printable", "a=b\r\n", {"a=3Db"}},
      {"BASE64", "ab", {"YWI="}},
      {"7bit", "a\r\nb\nc\rd\r\n", {"a", "b", "c", "d"}},
      {"7bit", "a\r\n\r\nb", {"a", "", "b"}},
      {"7bit", "a\r", {"a"}}};
  for (const auto& [encoding, text, expected] : whole)
    EXPECT_EQ(smtp::encoded_lines(text, encoding), expected) << text;
  EXPECT_EQ(smtp::raw_lines("a\r\nb\nc\rd\r\n"), (Lines{"a", "b", "c", "d"}));
  const std::pair<const char*, const char*> stuffed[] = {
      {".", ".."}, {"..x", "...x"}, {"a.b", "a.b"}, {"", ""}};
  for (const auto& [line, sent] : stuffed) EXPECT_EQ(smtp::dot_stuff(line), sent);

  std::string mixed;
  for (int i = 0; i < 512; ++i) mixed += static_cast<char>(i * 7);
  mixed += "tail with blank ";
  const std::string texts[] = {"",
                               "a",
                               "a b \r\nc=d\r\n",
                               "x \r\n\r\n \t\r\r\n\n.",
                               std::string(200, 'q') + " \r\n" + std::string(75, '='),
                               "ends with a lone CR\r",
                               mixed};
  for (const std::string& text : texts) {
    for (const char* encoding : {"base64", "quoted-printable", "7bit"}) {
      const Lines expected = smtp::encoded_lines(text, encoding);
      for (const auto& l : expected)
        EXPECT_TRUE(encoding[0] == '7' || l.size() <= 76u) << encoding << ": " << l;
      for (std::size_t block : {1, 2, 3, 57, 58}) {
        Lines fed;
        const smtp::LineSink sink = [&](std::string_view line) { fed.emplace_back(line); };
        smtp::LineEncoder encoder(smtp::LineEncoder::KindOf(encoding));
        for (std::size_t at = 0; at < text.size(); at += block)
          encoder.Feed(std::string_view(text).substr(at, block), sink);
        encoder.Finish(sink);
        EXPECT_EQ(fed, expected) << encoding << " in blocks of " << block << ": " << text.substr(0, 40);
      }
    }
  }
}

TEST(MailHeaderText, LineBreaksBlankedAndCharsetsChecked) {
  const std::tuple<String, const char*, const char*> cases[] = {
      {u"Hi\r\nBcc: evil@x.org", "us-ascii", "Hi  Bcc: evil@x.org"},
      {S("Grüße"), "utf-8", "=?utf-8?B?R3LDvMOfZQ==?="},
      {S("Grüße"), "iso-8859-1", "=?iso-8859-1?B?R3L832U=?="},
      {S("Grüße"), "us-ascii", nullptr}};  // the charset cannot hold the text
  for (const auto& [text, charset, expected] : cases) {
    std::string out;
    ASSERT_EQ(smtp::header_text(text, charset, out), expected != nullptr) << charset;
    if (expected) {
      EXPECT_EQ(out, expected);
    }
  }
  // Quotes in a name are escaped. (A name with a comma, quoted: the peers' To header.)
  TQNIEMailAddress a;
  a.SetAddress(u"q@x.org");
  a.SetName(u"say \"hi\"");
  std::string out;
  ASSERT_TRUE(smtp::header_mailbox(a, "us-ascii", out));
  EXPECT_EQ(out, "\"say \\\"hi\\\"\" <q@x.org>");
}

// A long text becomes encoded words of at most 75 characters, a long address list is folded
// after its commas; each fold goes on with a blank.
TEST(MailHeaderText, LongTextsAreFolded) {
  std::string out;
  ASSERT_TRUE(
      smtp::header_text(S("Größenänderung der Übersichtsdarstellung für alle Benutzer äöü"), "utf-8", out));
  const Lines words = folds(out);
  EXPECT_GE(words.size(), 2u);
  for (std::size_t i = 0; i < words.size(); ++i) {
    const std::string word = words[i].substr(i ? 1 : 0);
    EXPECT_LE(word.size(), 75u);
    EXPECT_TRUE(word.starts_with("=?utf-8?B?") && word.ends_with("?=")) << word;
  }
  TQNIEMailAddresses list(nullptr);
  String text;
  for (int i = 0; i < 8; ++i) text += u"recipient" + IntToStr(i) + u"@example.com, ";
  list.SetEMailAddresses(text);
  ASSERT_TRUE(smtp::header_mailbox_list(list, "us-ascii", 4, out));
  const Lines lines = folds(out);
  EXPECT_GE(lines.size(), 2u);
  std::string joined;
  for (std::size_t i = 0; i < lines.size(); ++i) {
    EXPECT_LE(lines[i].size() + (i ? 0 : 4), 78u) << i;  // the first line follows the field name
    joined += lines[i];
  }
  EXPECT_EQ(FromBytes(joined), list.EMailAddresses());
}

TEST(SmtpDateTexts, TheDateHeaderAndTheZoneTexts) {
  const std::pair<sys::TTimeZoneInfo, const char16_t*> cases[] = {
      {{-330, 0, -60, sys::tzsStandard, 330}, u"+0530"},
      {{0, 0, -60, sys::tzsStandard, 0}, u"GMT"},
      {{480, 0, -60, sys::tzsStandard, -480}, u"-0800"},
      {{480, 0, -60, sys::tzsDaylight, -420}, u"-0700"},
      {{-60, 0, 0, sys::tzsUnknown, 60}, u"+0100"},  // no daylight rules: the real offset
      {{0, 0, 0, sys::tzsFailed, 0}, u"GMT"}};
  for (const auto& [info, text] : cases) {
    SCOPED_TRACE(ToUtf8(text));
    ZoneOverride z(info);
    EXPECT_EQ(SmtpProbe::GetTimeZoneString(), text);
    EXPECT_EQ(SmtpProbe::EMailFormatDate(EncodeDate(2024, 3, 5) + EncodeTime(9, 7, 3, 0)),
              u"Tue, 5 Mar 2024 09:07:03 " + String(text));
  }
}

namespace {

const std::string& host() {
  static const std::string name = ToUtf8(SmtpProbe(nullptr).LocalHostName());
  return name;
}

void point_at(SmtpProbe& smtp, std::uint16_t port) {
  smtp.SetHost(u"127.0.0.1");
  smtp.SetPort(port);
  smtp.SetTimeout(10000);
}

// A sender from ann@example.com to `to`, pointed at a server of its own.
struct Dialogue {
  explicit Dialogue(Script script, const char16_t* to = u"bob@example.com") : Server(std::move(script)) {
    point_at(Smtp, Server.Port());
    Smtp.From()->SetAddress(u"ann@example.com");
    Smtp.Recipients()->SetEMailAddresses(to);
  }
  void LogIn() {
    Smtp.Login()->SetUseLogin(true);
    Smtp.Login()->SetUserID(u"joe");
    Smtp.Login()->SetPassword(u"secret");
  }
  ScriptedServer Server;
  SmtpProbe Smtp{nullptr};
};

// The replies from the greeting's answer up to DATA, for one recipient.
const Lines kToData{"250 test\r\n", "250 Ok\r\n", "250 Ok\r\n", "250 Ok\r\n", "354 go\r\n"};

// A whole dialogue for one recipient: the message up to its final period accepted, QUIT answered.
Script plain_dialogue() {
  return Script::LineDialogue("220 test\r\n", kToData)
      .ReadUntil("\r\n.\r\n")
      .Send("250 2.0.0 Ok: queued\r\n")
      .ReplyToLines({"221 Bye\r\n"})
      .Close();
}

}  // namespace

// What only the bytes show: the message identifier's form ("<", twelve digits of the time, eight
// letters a to t, "@", the host, ">"), the priority's number, and quotes in an attachment's name
// escaped in both parameters. (Whole messages, every header, the envelope, the blind copy,
// dot-stuffing and each encoding reach aiosmtpd and OpenSMTPD in peers_smtp_test; a boundary of
// its own per message: smtp_test.)
TEST(SmtpTranscript, IdentifierPriorityAndQuotedAttachmentNames) {
  harness::TempDir dir("qninet-smtp-unit");
  Dialogue d(plain_dialogue());
  d.Smtp.SetPriority(spHigh);
  auto* a = d.Smtp.Attachments()->Add();
  a->SetFileName(FromUtf8(dir.Write("data.bin", std::string("\x00\x01\xFF", 3)).string()));
  a->SetAttachmentName(u"Data \"1\".bin");
  EXPECT_EQ(d.Smtp.Execute(), u"");
  const std::string got = d.Server.Received(0);
  const auto at = got.find("DATA\r\nMessage-Id: <") + 19;
  const std::string id = got.substr(at, got.find(">\r\n", at) - at);
  EXPECT_EQ(id.find_first_not_of("0123456789"), 12u) << id;
  EXPECT_EQ(id.find_first_not_of("abcdefghijklmnopqrst", 12), 20u) << id;
  EXPECT_EQ(id.substr(20), "@" + host());
  for (const char* line : {"\r\nX-Priority: 2\r\n", "; name=\"Data \\\"1\\\".bin\"\r\n",
                           "; filename=\"Data \\\"1\\\".bin\"\r\n", "\r\n\r\nAAH/\r\n"})
    EXPECT_NE(got.find(line), std::string::npos) << line << got;
}

// After the 250 to the message's end the message is delivered: a wrong reply to QUIT leaves the
// result empty and only a warning in LastError. (A reply missing or cut by the close: the socket
// fault table's line-end row and the program's mail rows.)
TEST(SmtpTranscript, AcceptedMessageStaysSentWhateverQuitGets) {
  Dialogue d(Script::LineDialogue("220 test\r\n", kToData)
                 .ReadUntil("\r\n.\r\n")
                 .Send("250 2.0.0 Ok: queued\r\n")
                 .ReadUntil("QUIT\r\n")
                 .Send("500 5.5.1 what?\r\n")
                 .Close());
  EXPECT_EQ(d.Smtp.Execute(), u"");
  EXPECT_EQ(d.Smtp.LastError(),
            u"Warning: the message was accepted, but the reply to QUIT failed: 500 5.5.1 what?");
  EXPECT_FALSE(d.Smtp.Connected());
}

// A refused step ends the dialogue with QUIT, its reply in the server's words is the result, and
// the connection is closed: a refused EHLO is followed by HELO, and a refused greeting, or
// STARTTLS refused or answered together with bytes that would be read as if they came inside
// TLS, ends it before any login. (A refused recipient: the peers' row, against two servers;
// STARTTLS not offered: smtp_tls_test against aiosmtpd.)
TEST(SmtpTranscript, RefusalIsTheResultWithTheServersText) {
  const std::string ehlo = "EHLO " + host() + "\r\nSTARTTLS\r\nQUIT\r\n";
  // clang-format off
  const struct { const char* Greeting; Lines Replies; bool Tls; const char16_t* Message; std::string Sent; } cases[] = {
      {"220 test\r\n", {"502 5.5.2 Error: command not recognized\r\n", "250 old\r\n", "250 Ok\r\n",
       "504 5.7.4 Unrecognized authentication type\r\n", "221 Bye\r\n"}, false,
       u"Error 334: 504 5.7.4 Unrecognized authentication type",
       "EHLO " + host() + "\r\nHELO " + host() + "\r\nRSET\r\nauth LOGIN\r\nQUIT\r\n"},
      {"554 5.3.2 no service\r\n", {"221 Bye\r\n"}, true, u"Error 220: 554 5.3.2 no service", "QUIT\r\n"},
      {"220 test\r\n", {"250-test\r\n250 STARTTLS\r\n", "454 4.7.0 TLS not available\r\n", "221 Bye\r\n"}, true,
       u"Error 220: 454 4.7.0 TLS not available", ehlo},
      {"220 test\r\n", {"250-test\r\n250 STARTTLS\r\n", "220 go\r\n250-injected\r\n", "221 Bye\r\n"}, true,
       u"Error: the server sent data before the TLS handshake", ehlo}
  };
  // clang-format on
  for (const auto& k : cases) {
    SCOPED_TRACE(ToUtf8(k.Message));
    Dialogue d(Script::LineDialogue(k.Greeting, k.Replies).Close());
    d.Smtp.SetUseTLS(k.Tls ? tlsStartTLS : tlsNone);
    d.LogIn();
    EXPECT_EQ(d.Smtp.Execute(), k.Message);
    EXPECT_EQ(d.Smtp.LastError(), k.Message);
    EXPECT_EQ(d.Server.Received(0), k.Sent);
    EXPECT_FALSE(d.Smtp.Connected());
  }
}

// An unreadable file or a body the charset cannot hold raises before connecting. An
// attachment that opens but cannot be read (the process's memory at address 0 gives EIO) fails
// inside the message data: the server never sees the final period, so nothing is delivered.
TEST(SmtpTranscript, MessageThatCannotBeWrittenIsNotDelivered) {
  for (bool attachment : {true, false}) {
    SCOPED_TRACE(attachment);
    Dialogue d(Script::LineDialogue("220 test\r\n", {"250 test\r\n", "221 Bye\r\n"}).Close());
    if (attachment)
      d.Smtp.Attachments()->Add()->SetFileName(u"/nonexistent/folder/file.txt");
    else
      d.Smtp.Body()->SetText(S("Grüße"));
    EXPECT_THAT([&] { d.Smtp.Execute(); },
                testing::ThrowsMessage<Exception>(testing::StartsWith(
                    attachment ? "Attachment /nonexistent/folder/file.txt cannot be read"
                               : "Body text cannot be written in us-ascii; set CharSet")));
    EXPECT_EQ(d.Server.ConnectionCount(), 0u);
  }
  Dialogue d(Script::LineDialogue("220 test\r\n", kToData).ReadUntilClose());
  d.Smtp.Attachments()->Add()->SetFileName(u"/proc/self/mem");
  EXPECT_EQ(d.Smtp.Execute(), u"Attachment /proc/self/mem cannot be read");
  const std::string got = d.Server.Received(0);
  EXPECT_NE(got.find("DATA\r\n"), std::string::npos) << got;
  EXPECT_EQ(got.find("\r\n.\r\n"), std::string::npos) << got;
  EXPECT_FALSE(d.Smtp.Connected());
}

TEST(SmtpTranscript, LineBreakInACommandOrHeaderValueIsRefused) {
  const std::pair<std::function<void(TQNISMTP&)>, const char16_t*> cases[] = {
      {[](TQNISMTP& s) { s.SetSubject(u"Hi\r\nBcc: eve@example.com"); }, u"The subject"},
      {[](TQNISMTP& s) { s.SetCharSet(u"utf-8\nX-Evil: 1"); }, u"The charset"},
      {[](TQNISMTP& s) { s.From()->SetAddress(u"ann@example.com>\r\nRCPT TO:<eve@example.com"); },
       u"The sender's address \"ann@example.com>\""},
      {[](TQNISMTP& s) { s.BCC()->Add()->SetAddress(u"x@example.com\r"); },
       u"A BCC recipient's address \"x@example.com\""},
      {[](TQNISMTP& s) { s.Recipients()->Items(0)->SetName(u"Bob\nX: y"); }, u"A recipient's name"},
      {[](TQNISMTP& s) { s.Attachments()->Add()->SetContentType(u"text/plain\r\nX: y"); },
       u"An attachment's content type"}};
  for (const auto& [set, message] : cases) {
    SCOPED_TRACE(ToUtf8(message));
    Dialogue d(plain_dialogue());
    set(d.Smtp);
    EXPECT_THAT([&] { d.Smtp.Execute(); }, testing::ThrowsMessage<Exception>(testing::StrEq(ToUtf8(
                                               String(message) + u" holds a line break; nothing was sent"))));
    EXPECT_EQ(d.Server.ConnectionCount(), 0u);
  }
}

TEST(SmtpExtensions, StartTlsAuthMechanismsAndTheStrongest) {
  const std::tuple<const char*, bool, Lines, std::optional<TQNISMTPAuthMethod>> cases[] = {
      {"250-mx\r\n250-STARTTLS\r\n250 AUTH LOGIN PLAIN\r\n", true, {"LOGIN", "PLAIN"}, amPlain},
      {"250-mx\r\n250-auth=login cram-md5\r\n250 8BITMIME\r\n", false, {"LOGIN", "CRAM-MD5"}, amCramMD5},
      {"250-mx\r\n250-AUTH LOGIN\n250 starttls\n", true, {"LOGIN"}, amLogin},
      {"250-mx\r\n250 AUTH XOAUTH2 GSSAPI\r\n", false, {"XOAUTH2", "GSSAPI"}, std::nullopt},
      {"250-mx STARTTLS\r\n250 SIZE 1000\r\n", false, {}, amLogin}};
  for (const auto& [answer, startTLS, mechanisms, strongest] : cases) {
    SCOPED_TRACE(answer);
    const smtp::Extensions e = smtp::parse_ehlo(answer);
    EXPECT_EQ(e.StartTLS, startTLS);
    EXPECT_EQ(e.AuthMechanisms, mechanisms);
    EXPECT_EQ(smtp::strongest_auth(e), strongest);
  }
}

// Base64 that is not. (CRAM-MD5's answer: the login against aiosmtpd in smtp_test.)
TEST(SmtpExtensions, Base64Decoding) {
  for (const char* bytes : {"", "f", "fo", "foo", "\xff\x80 z"})
    EXPECT_EQ(smtp::base64_decode(base64_encode(bytes)), std::string(bytes)) << bytes;
  for (const char* bad : {"ab$c", "Zm9v=Zg==", "Zg===", "Z"}) EXPECT_FALSE(smtp::base64_decode(bad)) << bad;
}
