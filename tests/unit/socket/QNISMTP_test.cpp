#include "qninet/socket/QNISMTP.h"

#include <gtest/gtest.h>

#include <optional>
#include <algorithm>

#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "qninet/core/qniutil.h"
#include "qninet/sys/ContentTypes.h"
#include "qninet/sys/TimeZone.h"

using namespace qninet;
using qninet::harness::Script;
using qninet::harness::ScriptedServer;

namespace {

// Opens the sender's protected helpers to the tests.
class SmtpProbe : public TQNISMTP {
public:
  using TQNISMTP::EMailFormatDate;
  using TQNISMTP::GetTimeZoneString;
  using TQNISMTP::LeadZero;
  using TQNISMTP::TQNISMTP;
  using TQNISMTP::UniqueMessageID;
  String LocalHostName() { return GetLocalHost(); }
};

struct ZoneOverride {
  explicit ZoneOverride(sys::TTimeZoneInfo zone) { sys::set_time_zone_override(zone); }
  ~ZoneOverride() { sys::set_time_zone_override(std::nullopt); }
};

sys::TTimeZoneInfo zone(std::int32_t bias, std::int32_t standard, std::int32_t daylight,
                        sys::TTimeZoneState state, std::int32_t current = 0) {
  return {bias, standard, daylight, state, current};
}

std::unique_ptr<TQNIEMailAddress> parsed(const char* text) {
  auto a = std::make_unique<TQNIEMailAddress>();
  a->SetText(S(text));
  return a;
}

// Decodes quoted-printable lines as a receiver does: each line break is CRLF unless the line
// ends with a soft break.
std::string decode_qp(const std::vector<std::string>& lines) {
  std::string out;
  for (const std::string& line : lines) {
    std::string l = line;
    const bool soft = !l.empty() && l.back() == '=';
    if (soft) l.pop_back();
    for (std::size_t i = 0; i < l.size(); ++i) {
      if (l[i] == '=' && i + 2 < l.size()) {
        out += static_cast<char>(std::stoi(l.substr(i + 1, 2), nullptr, 16));
        i += 2;
      } else {
        out += l[i];
      }
    }
    if (!soft) out += "\r\n";
  }
  return out;
}

std::string all_bytes() {
  std::string s;
  for (int i = 0; i < 256; ++i) s += static_cast<char>(i);
  return s;
}

}  // namespace

// --- addresses ------------------------------------------------------------------------------

TEST(MailAddressText, ParsedNameAddressAndReadBack) {
  struct Case {
    const char* text;
    std::u16string name, address;
    const char16_t* readBack;  // nullptr: not checked
  };
  const Case cases[] = {
      {"\"Joe Doe\" <joe@example.com>", u"Joe Doe", u"joe@example.com", u"Joe Doe <joe@example.com>"},
      {"joe@example.com (Joe Doe)", u"Joe Doe", u"joe@example.com", u"Joe Doe <joe@example.com>"},
      {"  joe@example.com ", u"", u"  joe@example.com ", nullptr},  // a bare address keeps its blanks
      {"joe@example.com>", u"", u"", nullptr},  // a closing bracket without an opening one
      {"joe@example.com)", u"", u"", nullptr},
      {"\"'Joe'\" <j@x.org>", u"Joe", u"j@x.org", nullptr},  // nested quote pairs are all stripped
      {"\" <j@x.org>", u"\"", u"j@x.org", nullptr},
      {"'\"Joe' <j@x.org>", u"\"Joe", u"j@x.org", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const auto a = parsed(c.text);
    EXPECT_EQ(a->Name(), c.name);
    EXPECT_EQ(a->Address(), c.address);
    if (c.readBack) {
      EXPECT_EQ(a->Text(), c.readBack);
    }
  }
}

TEST(MailAddressText, NameInCapitalsOfTheAddressReadsAsBareAddress) {
  TQNIEMailAddress a;
  a.SetAddress(u"joe@example.com");
  a.SetName(u"JOE@EXAMPLE.COM");
  EXPECT_EQ(a.Text(), u"joe@example.com");
  a.SetName(u"joe@example.com");
  EXPECT_EQ(a.Text(), u"joe@example.com <joe@example.com>");
  a.SetText(u"k@x.org");  // setting the text clears the previous name
  EXPECT_TRUE(a.Name().empty());
}

TEST(MailAddressList, SplitAtCommasOutsideQuotes) {
  struct Case {
    const char16_t* text;
    int count;
    const char16_t* readBack;
  };
  const Case cases[] = {
      {u"\"Doe, Joe\" <joe@x.org>, ann@y.org", 2, u"Doe, Joe <joe@x.org>, ann@y.org"},
      {u"\"A\" <a@x.org>, \"B\" <b@x.org>", 2, u"A <a@x.org>, B <b@x.org>"},
      {u"a@x.org; b@y.org", 1, u"a@x.org; b@y.org"},  // semicolons separate nothing
      {u",a@x.org,, ,b@y.org,", 2, u"a@x.org, b@y.org"},
      {u"", 0, u""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text));
    TQNIEMailAddresses list(nullptr);
    list.SetEMailAddresses(u"old@x.org");  // writing replaces
    list.SetEMailAddresses(c.text);
    EXPECT_EQ(list.Count(), c.count);
    EXPECT_EQ(list.EMailAddresses(), c.readBack);
  }
}

TEST(MailAddressList, FillTStringsAppendsAndSetItemsAssigns) {
  TQNILogin owner;
  TQNIEMailAddresses list(&owner);
  EXPECT_EQ(list.GetOwner(), &owner);
  EXPECT_EQ(list.QNIControl(), &owner);
  list.SetEMailAddresses(u"Ann <a@x.org>, b@y.org");
  TStringList strings;
  strings.Add(u"first");
  list.FillTStrings(&strings);
  ASSERT_EQ(strings.Count(), 3);
  EXPECT_EQ(strings.Strings(1), u"Ann <a@x.org>");
  EXPECT_EQ(strings.Strings(2), u"b@y.org");
  const auto other = parsed("Bo <b@y.org>");
  list.SetItems(0, other.get());
  EXPECT_EQ(list.Items(0)->Text(), u"Bo <b@y.org>");
  EXPECT_THROW(list.SetItems(3, other.get()), EListError);
}

TEST(MailAssign, ForeignClassesAreRefused) {
  TQNIEMailAddress a;
  TQNILogin login, other;
  TQNIEMailAttachment att;
  EXPECT_THROW(a.Assign(&login), EConvertError);
  EXPECT_THROW(login.Assign(&a), EConvertError);
  EXPECT_THROW(att.Assign(&a), EConvertError);
  other.SetUserID(u"u");
  other.SetPassword(u"p");
  other.SetUseLogin(true);
  login.Assign(&other);
  EXPECT_EQ(login.UserID(), u"u");
  EXPECT_EQ(login.Password(), u"p");
  EXPECT_TRUE(login.UseLogin());
}

// --- attachments ----------------------------------------------------------------------------

TEST(MailAttachment, NameFromThePathAndTypeFromTheExtension) {
  TQNIEMailAttachment a;
  a.SetFileName(u"/home/joe/reports/q1.pdf");
  EXPECT_EQ(a.GetAttachmentName(), u"q1.pdf");
  // DetectContentType replaces the old value.
  harness::TempDir dir("qninet-types");
  const auto types = dir.Write("mime.types", "application/pdf pdf\n");
  sys::set_content_type_files_override(std::vector<std::string>{types.string()});
  a.SetContentType(u"text/plain");
  a.SetFileName(u"/tmp/A.PDF");
  a.DetectContentType();
  EXPECT_EQ(a.ContentType(), u"application/pdf");
  sys::set_content_type_files_override(std::nullopt);
}

// --- the reply reader -----------------------------------------------------------------------

// How a reply is delimited is read in Framing_test.
TEST(SmtpReplyReader, CodeOfTheLastLineAndTheLinesJoined) {
  const auto r = smtp::parse_reply("250-qninet.test\r\n250-AUTH LOGIN PLAIN\r\n250 HELP\r\n");
  EXPECT_EQ(r.Code, "250");
  EXPECT_EQ(r.Text, "250-qninet.test 250-AUTH LOGIN PLAIN 250 HELP");
  EXPECT_EQ(smtp::parse_reply("250\r\n").Code, "250");
}

TEST(SmtpReplyReader, ExpectedCodeComparison) {
  EXPECT_TRUE(smtp::reply_matches(smtp::parse_reply("550 no\r\n"), ""));
  EXPECT_FALSE(smtp::reply_matches(smtp::parse_reply("550 no\r\n"), "250"));
  EXPECT_TRUE(smtp::reply_matches(smtp::parse_reply("250 ok\r\n"), "250"));
  EXPECT_FALSE(smtp::reply_matches(smtp::parse_reply("garbage\r\n"), "250"));
}

// --- transfer encodings ---------------------------------------------------------------------

TEST(MimeQuotedPrintable, EveryByteRoundTripsAndLinesStayShort) {
  const std::string data = all_bytes() + all_bytes() + "tail with blank ";
  const auto lines = smtp::quoted_printable_lines(data);
  for (const auto& l : lines) EXPECT_LE(l.size(), 76u) << l;
  EXPECT_EQ(decode_qp(lines), data);
  // CRLF is a line break, a lone LF is encoded, trailing blanks are encoded.
  EXPECT_EQ(smtp::quoted_printable_lines("a b \r\nc=d\r\n"), (std::vector<std::string>{"a b=20", "c=3Dd"}));
  EXPECT_EQ(smtp::quoted_printable_lines("x\ny"), (std::vector<std::string>{"x=0Ay="}));
  EXPECT_EQ(decode_qp(smtp::quoted_printable_lines("no final break")), "no final break");
}

TEST(MimeRawLines, SplitsAtEveryKindOfLineBreak) {
  EXPECT_EQ(smtp::raw_lines("a\r\nb\nc\rd\r\n"), (std::vector<std::string>{"a", "b", "c", "d"}));
  EXPECT_EQ(smtp::raw_lines("a\r\n\r\nb"), (std::vector<std::string>{"a", "", "b"}));
  EXPECT_EQ(smtp::encoded_lines("ab", "BASE64"), std::vector<std::string>{"YWI="});
  EXPECT_EQ(smtp::encoded_lines("a=b\r\n", "Quoted-Printable"), std::vector<std::string>{"a=3Db"});
}

TEST(SmtpDotStuffing, LeadingPeriodIsDoubled) {
  EXPECT_EQ(smtp::dot_stuff("."), "..");
  EXPECT_EQ(smtp::dot_stuff("..x"), "...x");
  EXPECT_EQ(smtp::dot_stuff("a.b"), "a.b");
  EXPECT_EQ(smtp::dot_stuff(""), "");
}

// --- header texts ---------------------------------------------------------------------------

TEST(MailHeaderText, LineBreaksBlankedAndCharsetsChecked) {
  std::string out;
  ASSERT_TRUE(smtp::header_text(u"Hi\r\nBcc: evil@x.org", "us-ascii", out));
  EXPECT_EQ(out, "Hi  Bcc: evil@x.org");
  ASSERT_TRUE(smtp::header_text(S("Grüße"), "utf-8", out));
  EXPECT_EQ(out, "=?utf-8?B?R3LDvMOfZQ==?=");
  ASSERT_TRUE(smtp::header_text(S("Grüße"), "iso-8859-1", out));
  EXPECT_EQ(out, "=?iso-8859-1?B?R3L832U=?=");
  EXPECT_FALSE(smtp::header_text(S("Grüße"), "us-ascii", out));
  EXPECT_FALSE(smtp::header_text(S("Привет"), "iso-8859-1", out));
}

TEST(MailHeaderText, LongTextBecomesEncodedWordsOfAtMost75) {
  std::string out;
  ASSERT_TRUE(
      smtp::header_text(S("Größenänderung der Übersichtsdarstellung für alle Benutzer äöü"), "utf-8", out));
  std::size_t start = 0;
  int words = 0;
  for (;;) {
    const auto end = out.find("\r\n ", start);
    const std::string word = out.substr(start, end == std::string::npos ? end : end - start);
    EXPECT_LE(word.size(), 75u);
    EXPECT_TRUE(word.starts_with("=?utf-8?B?") && word.ends_with("?=")) << word;
    ++words;
    if (end == std::string::npos) break;
    start = end + 3;
  }
  EXPECT_GE(words, 2);
}

TEST(MailHeaderText, NamesWithSpecialsAreQuoted) {
  TQNIEMailAddress q;
  q.SetAddress(u"q@x.org");
  q.SetName(u"say \"hi\"");
  const std::pair<std::unique_ptr<TQNIEMailAddress>, const char*> cases[] = {
      {parsed("\"Doe, Joe\" <joe@x.org>"), "\"Doe, Joe\" <joe@x.org>"},
      {parsed("Joe Doe <joe@x.org>"), "Joe Doe <joe@x.org>"},
      {parsed("joe@x.org"), "joe@x.org"},
  };
  std::string out;
  for (const auto& [address, expected] : cases) {
    ASSERT_TRUE(smtp::header_mailbox(*address, "us-ascii", out));
    EXPECT_EQ(out, expected);
  }
  ASSERT_TRUE(smtp::header_mailbox(q, "us-ascii", out));
  EXPECT_EQ(out, "\"say \\\"hi\\\"\" <q@x.org>");
}

TEST(MailHeaderText, LongAddressListsAreFoldedAfterCommas) {
  TQNIEMailAddresses list(nullptr);
  String text;
  for (int i = 0; i < 8; ++i) text += u"recipient" + IntToStr(i) + u"@example.com, ";
  list.SetEMailAddresses(text);
  std::string out;
  ASSERT_TRUE(smtp::header_mailbox_list(list, "us-ascii", 4, out));
  std::size_t start = 0;
  for (;;) {
    const auto end = out.find("\r\n", start);
    EXPECT_LE((end == std::string::npos ? out.size() : end) - start + (start == 0 ? 4 : 0), 78u);
    if (end == std::string::npos) break;
    EXPECT_EQ(out[end + 2], ' ');
    start = end + 2;
  }
  std::string joined = out;
  for (std::size_t p; (p = joined.find("\r\n")) != std::string::npos;) joined.erase(p, 2);
  EXPECT_EQ(FromBytes(joined), list.EMailAddresses());
}

// --- dates and zones ------------------------------------------------------------------------

TEST(SmtpDateTexts, LeadZeroAndTheDateHeader) {
  EXPECT_EQ(SmtpProbe::LeadZero(5, 2), u"05");
  EXPECT_EQ(SmtpProbe::LeadZero(123, 2), u"123");
  EXPECT_EQ(SmtpProbe::LeadZero(0, 3), u"000");
  ZoneOverride z(zone(-330, 0, -60, sys::tzsStandard, 330));
  const TDateTime t = EncodeDate(2024, 3, 5) + EncodeTime(9, 7, 3, 0);
  EXPECT_EQ(SmtpProbe::EMailFormatDate(t), u"Tue, 5 Mar 2024 09:07:03 +0530");
  const TDateTime u = EncodeDate(1999, 12, 26) + EncodeTime(23, 59, 59, 0);
  EXPECT_EQ(smtp::format_date(u, u"GMT"), u"Sun, 26 Dec 1999 23:59:59 GMT");
}

TEST(SmtpDateTexts, ZoneTextsOfInjectedZones) {
  struct Case {
    sys::TTimeZoneInfo zone;
    const char16_t* text;
  };
  const Case cases[] = {
      {zone(-330, 0, -60, sys::tzsStandard, 330), u"+0530"},
      {zone(0, 0, -60, sys::tzsStandard, 0), u"GMT"},
      {zone(480, 0, -60, sys::tzsStandard, -480), u"-0800"},
      {zone(480, 0, -60, sys::tzsDaylight, -420), u"-0700"},
      {zone(-60, 0, 0, sys::tzsUnknown, 60), u"+0100"},  // no daylight rules: the real offset
      {zone(0, 0, 0, sys::tzsFailed, 0), u"GMT"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(ToUtf8(c.text));
    ZoneOverride z(c.zone);
    EXPECT_EQ(SmtpProbe::GetTimeZoneString(), c.text);
  }
}

namespace {
// "<", twelve digits (the time), eight letters a to t, "@", the host, ">".
bool id_shaped(const std::string& id, const std::string& host) {
  auto in = [&](std::size_t from, std::size_t to, char lo, char hi) {
    return std::all_of(id.begin() + from, id.begin() + to, [=](char c) { return c >= lo && c <= hi; });
  };
  return id.size() == 23 + host.size() && id.front() == '<' && in(1, 13, '0', '9') && in(13, 21, 'a', 't') &&
         id.substr(21) == "@" + host + ">";
}
}  // namespace

TEST(SmtpMessageId, FormOfTheIdentifier) {
  const std::string id = ToUtf8(SmtpProbe::UniqueMessageID(u"host.example"));
  EXPECT_TRUE(id_shaped(id, "host.example")) << id;
}

// --- wire transcripts -----------------------------------------------------------------------

namespace {

struct Transcript {
  std::string Text;
  std::string Id;
};

// The bytes sent, with the message identifier taken out (it holds the time and random letters).
Transcript normalised(std::string received) {
  Transcript t;
  const std::string key = "Message-Id: ";
  const auto at = received.find(key);
  const auto end = at == std::string::npos ? at : received.find(">\r\n", at);
  if (end != std::string::npos) {
    const auto from = at + key.size();
    t.Id = received.substr(from, end + 1 - from);
    received.replace(from, end + 1 - from, "<ID>");
  }
  t.Text = received;
  return t;
}

void point_at(SmtpProbe& smtp, std::uint16_t port) {
  smtp.SetHost(u"127.0.0.1");
  smtp.SetPort(port);
  smtp.SetTimeout(10000);
}

void fill_message(SmtpProbe& smtp, std::uint16_t port) {
  point_at(smtp, port);
  smtp.From()->SetText(u"Ann Sender <ann@example.com>");
  smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
  smtp.CC()->SetEMailAddresses(u"Cy <cy@example.com>");
  smtp.BCC()->SetEMailAddresses(u"dee@example.com");
  smtp.SetSubject(u"Status");
  smtp.Body()->SetText(u"Hello\r\n.\r\n..x\r\n");
  smtp.SetDate(EncodeDate(2024, 3, 5) + EncodeTime(9, 7, 3, 0));
}

// Reads the message up to its final period, accepts it and answers QUIT.
Script data_then_quit(Script s) {
  return s.ReadUntil("\r\n.\r\n").Send("250 2.0.0 Ok: queued\r\n").ReplyToLines({"221 Bye\r\n"}).Close();
}

// Greeting, HELO, RSET, MAIL, the recipients, DATA, the message, QUIT.
Script plain_dialogue(std::size_t recipients) {
  std::vector<std::string> replies{"250 test\r\n", "250 2.0.0 Ok\r\n", "250 2.1.0 Ok\r\n"};
  replies.insert(replies.end(), recipients, "250 2.1.5 Ok\r\n");
  replies.push_back("354 End data with <CR><LF>.<CR><LF>\r\n");
  return data_then_quit(Script::LineDialogue("220 test ESMTP\r\n", replies));
}

// A server that greets, answers HELO and then only QUIT.
Script helo_then_quit() {
  return Script::LineDialogue("220 test\r\n", {"250 test\r\n", "221 Bye\r\n"}).Close();
}

std::string head(const std::string& host) {
  return "HELO " + host +
         "\r\n"
         "RSET\r\n"
         "MAIL FROM:<ann@example.com>\r\n"
         "RCPT TO:<bob@example.com>\r\n"
         "RCPT TO:<cy@example.com>\r\n"
         "RCPT TO:<dee@example.com>\r\n"
         "DATA\r\n"
         "Message-Id: <ID>\r\n"
         "Date: Tue, 5 Mar 2024 09:07:03 +0530\r\n"
         "From: Ann Sender <ann@example.com>\r\n"
         "To: bob@example.com\r\n"
         "Cc: Cy <cy@example.com>\r\n"
         "X-Priority: 3\r\n"
         "X-Mailer: Veltraxon mailer (https://qninet.example.org/)\r\n"
         "Subject: Status\r\n"
         "MIME-Version: 1.0\r\n";
}

}  // namespace

TEST(SmtpTranscript, MessageWithoutAttachments) {
  ZoneOverride z(zone(-330, 0, -60, sys::tzsStandard, 330));
  ScriptedServer server(plain_dialogue(3));
  SmtpProbe smtp(nullptr);
  fill_message(smtp, server.Port());
  EXPECT_EQ(smtp.Execute(), u"");
  EXPECT_EQ(smtp.LastError(), u"");
  const auto t = normalised(server.Received(0));
  const std::string host = ToUtf8(smtp.LocalHostName());
  EXPECT_EQ(t.Text, head(host) +
                        "Content-Type: Text/Plain; charset=us-ascii\r\n"
                        "Content-Transfer-Encoding: 7bit\r\n"
                        "\r\n"
                        "Hello\r\n"
                        "..\r\n"
                        "...x\r\n"
                        "\r\n"
                        ".\r\n"
                        "QUIT\r\n");
  EXPECT_TRUE(id_shaped(t.Id, host)) << t.Id;
  EXPECT_TRUE(server.Problems().empty());
}

TEST(SmtpTranscript, MessageWithTwoAttachments) {
  ZoneOverride z(zone(-330, 0, -60, sys::tzsStandard, 330));
  harness::TempDir dir("qninet-smtp-unit");
  const auto first = dir.Write("notes.txt", "line one\r\n.dot line\r\n");
  const auto second = dir.Write("data.bin", std::string("\x00\x01\xFF", 3));
  ScriptedServer server(plain_dialogue(3));
  SmtpProbe smtp(nullptr);
  fill_message(smtp, server.Port());
  smtp.Body()->SetText(u"See the files.");
  smtp.SetPriority(spHigh);
  auto* a = smtp.Attachments()->Add();
  a->SetFileName(FromUtf8(first.string()));
  a->SetContentType(u"text/plain");
  a->SetEncoding(u"7bit");
  auto* b = smtp.Attachments()->Add();
  b->SetFileName(FromUtf8(second.string()));
  b->SetAttachmentName(u"Data \"1\".bin");
  b->SetContentType(u"application/octet-stream");
  b->SetEncoding(u"base64");
  EXPECT_EQ(smtp.Execute(), u"");
  std::string expected = head(ToUtf8(smtp.LocalHostName()));
  expected.replace(expected.find("X-Priority: 3"), 13, "X-Priority: 2");
  expected +=
      "Content-Type: multipart/mixed; boundary=\"----------VeltraxonSMTP\"\r\n"
      "\r\n"
      "------------VeltraxonSMTP\r\n"
      "Content-Type: Text/Plain; charset=us-ascii\r\n"
      "Content-Transfer-Encoding: 7bit\r\n"
      "\r\n"
      "See the files.\r\n"
      "------------VeltraxonSMTP\r\n"
      "Content-Type: text/plain; name=\"notes.txt\"\r\n"
      "Content-Transfer-Encoding: 7bit\r\n"
      "Content-Disposition: attachment; filename=\"notes.txt\"\r\n"
      "\r\n"
      "line one\r\n"
      "..dot line\r\n"
      "\r\n"
      "------------VeltraxonSMTP\r\n"
      "Content-Type: application/octet-stream; name=\"Data \\\"1\\\".bin\"\r\n"
      "Content-Transfer-Encoding: base64\r\n"
      "Content-Disposition: attachment; filename=\"Data \\\"1\\\".bin\"\r\n"
      "\r\n"
      "AAH/\r\n"
      "\r\n"
      "------------VeltraxonSMTP--\r\n"
      "\r\n"
      ".\r\n"
      "QUIT\r\n";
  EXPECT_EQ(normalised(server.Received(0)).Text, expected);
}

TEST(SmtpTranscript, LoginGreetsWithEhloAndWaitsForPrompts) {
  ScriptedServer server(data_then_quit(Script::LineDialogue(
      "220 test\r\n", {"250-test\r\n250-AUTH LOGIN\r\n250 8BITMIME\r\n", "250 Ok\r\n", "334 VXNlcm5hbWU6\r\n",
                       "334 UGFzc3dvcmQ6\r\n", "235 2.7.0 Authentication successful\r\n", "250 Ok\r\n",
                       "250 Ok\r\n", "354 go\r\n"})));
  SmtpProbe smtp(nullptr);
  point_at(smtp, server.Port());
  smtp.From()->SetAddress(u"ann@example.com");
  smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
  smtp.Login()->SetUseLogin(true);
  smtp.Login()->SetUserID(u"joe");
  smtp.Login()->SetPassword(u"secret");
  EXPECT_EQ(smtp.Execute(), u"");
  const std::string got = server.Received(0);
  EXPECT_TRUE(got.starts_with("EHLO " + ToUtf8(smtp.LocalHostName()) +
                              "\r\nRSET\r\nauth LOGIN\r\nam9l\r\nc2VjcmV0\r\n"
                              "MAIL FROM:<ann@example.com>\r\nRCPT TO:<bob@example.com>\r\nDATA\r\n"))
      << got;
  EXPECT_TRUE(got.ends_with("\r\n.\r\nQUIT\r\n")) << got;
}

TEST(SmtpTranscript, HeloFollowsARefusedEhlo) {
  ScriptedServer server(
      Script::LineDialogue("220 old server\r\n",
                           {"502 5.5.2 Error: command not recognized\r\n", "250 old\r\n", "250 Ok\r\n",
                            "504 5.7.4 Unrecognized authentication type\r\n", "221 Bye\r\n"})
          .Close());
  SmtpProbe smtp(nullptr);
  point_at(smtp, server.Port());
  smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
  smtp.Login()->SetUseLogin(true);
  EXPECT_EQ(smtp.Execute(), u"Error 334: 504 5.7.4 Unrecognized authentication type");
  EXPECT_EQ(smtp.LastError(), u"Error 334: 504 5.7.4 Unrecognized authentication type");
  const std::string host = ToUtf8(smtp.LocalHostName());
  EXPECT_EQ(server.Received(0), "EHLO " + host + "\r\nHELO " + host + "\r\nRSET\r\nauth LOGIN\r\nQUIT\r\n");
  EXPECT_FALSE(smtp.Connected());
}

TEST(SmtpTranscript, RefusedRecipientStopsTheMessageWithTheServersText) {
  ScriptedServer server(
      Script::LineDialogue("220 test\r\n",
                           {"250 test\r\n", "250 Ok\r\n", "250 Ok\r\n",
                            "550 5.1.1 <x@example.com>: Recipient address rejected\r\n", "221 Bye\r\n"})
          .Close());
  SmtpProbe smtp(nullptr);
  point_at(smtp, server.Port());
  smtp.From()->SetAddress(u"ann@example.com");
  smtp.Recipients()->SetEMailAddresses(u"x@example.com, y@example.com");
  EXPECT_EQ(smtp.Execute(), u"Error 250: 550 5.1.1 <x@example.com>: Recipient address rejected");
  EXPECT_TRUE(server.Received(0).ends_with("RCPT TO:<x@example.com>\r\nQUIT\r\n"));
}

TEST(SmtpTranscript, RefusedGreetingReachesTheCaller) {
  ScriptedServer server(Script::LineDialogue("554 5.3.2 no service\r\n", {"221 Bye\r\n"}).Close());
  SmtpProbe smtp(nullptr);
  point_at(smtp, server.Port());
  try {
    smtp.Execute();
    FAIL() << "no exception";
  } catch (const Exception& e) {
    EXPECT_EQ(e.Message(), u"Error 220: 554 5.3.2 no service");
  }
  EXPECT_EQ(server.Received(0), "QUIT\r\n");
}

// An unreadable file or a body the charset cannot hold: nothing of the message is sent.
TEST(SmtpTranscript, MessageThatCannotBeWrittenSendsNothing) {
  for (bool attachment : {true, false}) {
    SCOPED_TRACE(attachment);
    ScriptedServer server(helo_then_quit());
    SmtpProbe smtp(nullptr);
    point_at(smtp, server.Port());
    smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
    if (attachment)
      smtp.Attachments()->Add()->SetFileName(u"/nonexistent/folder/file.txt");
    else
      smtp.Body()->SetText(S("Grüße"));
    const String result = smtp.Execute();
    if (attachment)
      EXPECT_TRUE(result.starts_with(u"Attachment /nonexistent/folder/file.txt cannot be read"))
          << ToUtf8(result);
    else
      EXPECT_EQ(result, u"Body text cannot be written in us-ascii; set CharSet");
    EXPECT_EQ(server.Received(0), "HELO " + ToUtf8(smtp.LocalHostName()) + "\r\nQUIT\r\n");
  }
}

TEST(SmtpTranscript, HeaderInjectionIsBlanked) {
  ZoneOverride z(zone(0, 0, 0, sys::tzsStandard, 0));
  ScriptedServer server(plain_dialogue(1));
  SmtpProbe smtp(nullptr);
  point_at(smtp, server.Port());
  smtp.From()->SetAddress(u"ann@example.com");
  smtp.Recipients()->SetEMailAddresses(u"bob@example.com");
  smtp.SetSubject(u"Hi\r\nBcc: eve@example.com");
  smtp.SetCharSet(u"utf-8\r\nX-Evil: 1");
  EXPECT_EQ(smtp.Execute(), u"");
  const std::string got = server.Received(0);
  EXPECT_NE(got.find("Subject: Hi  Bcc: eve@example.com\r\n"), std::string::npos) << got;
  EXPECT_NE(got.find("charset=utf-8  X-Evil: 1\r\n"), std::string::npos) << got;
  EXPECT_EQ(got.find("\r\nBcc:"), std::string::npos);
}

TEST(SmtpComponent, DefaultsAndPublishedOrder) {
  TQNISMTP smtp(nullptr);
  EXPECT_EQ(smtp.Port(), 25);  // CharSet, Encoding and Priority show in the transcripts
  EXPECT_NEAR(smtp.Date(), Now(), 1.0 / 24);
  EXPECT_EQ(smtp.Recipients()->GetOwner(), &smtp);
  std::vector<std::string> names;
  for (const auto& p : GetPropList(smtp)) names.emplace_back(p.Name);
  const std::vector<std::string> tail{"From",    "Recipients", "CC",         "BCC",      "ReplyTo",
                                      "Subject", "Body",       "CharSet",    "Encoding", "Priority",
                                      "Date",    "Login",      "Attachments"};
  ASSERT_GE(names.size(), tail.size());
  EXPECT_EQ(std::vector<std::string>(names.end() - static_cast<long>(tail.size()), names.end()), tail);
  EXPECT_EQ(GetPropValue(smtp, "Priority").AsInt64(), 2);  // spNormal
}
