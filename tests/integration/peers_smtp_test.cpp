// TQNISMTP and `qninet mail` against aiosmtpd and OpenSMTPD, the same rows to each, what arrives
// read with Python's email package. STARTTLS with a login: aiosmtpd only (smtp_test.cpp), as
// Debian 12's OpenSMTPD 6.8.0p2 aborts every TLS handshake under OpenSSL 3 ("missing private key",
// upstream issue 1171) and takes AUTH only with TLS.

#include <unistd.h>

#include <algorithm>
#include <functional>
#include <set>
#include <string_view>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "harness/ServerLaunch.h"
#include "qninet/socket/QNISMTP.h"

using namespace qninet;
using nlohmann::json;

namespace {

// One message as it arrived: the envelope and a stored copy that names no blind recipient.
struct Arrival {
  std::string MailFrom;
  std::set<std::string> Recipients;
  std::filesystem::path Copy;
};

struct Peer {
  std::string Name;
  const harness::Peer* Server;
  bool LineFeeds;                            // stores lines ending in LF alone, as a Unix mailbox does
  std::function<Arrival(std::size_t)> Next;  // the next message, waited for with those after it
  std::string Log() const { return Server->LogText(); }
};

// The value of a header that the delivering server put at the top of its copy.
std::string delivery_header(const std::string& text, const std::string& name) {
  const auto at = text.find(name + ": ");
  if (at == std::string::npos || at > text.find("\n\n")) return {};
  const auto from = at + name.size() + 2;
  std::string value = text.substr(from, text.find('\n', from) - from);
  if (value.size() > 1 && value.front() == '<') value = value.substr(1, value.size() - 2);
  return value;
}

const std::string kBody = "Hello Bob,\r\n.\r\n..x\r\n.leading period\r\nsch\u00F6ne Gr\u00FC\u00DFe";

}  // namespace

TEST(PeersSmtp, EachMessageArrivesIntactAtEachServer) {
  if (::geteuid() != 0) GTEST_SKIP() << "OpenSMTPD must be started as root";
  struct Row {
    const char* Name;
    bool Attach;   // a binary, a quoted-printable and a 7bit text attachment
    bool Program;  // sent by `qninet mail`
    bool Kept;     // twice over one kept connection
    bool Refused;  // one more recipient, whom the server refuses: nothing is sent
  };
  const Row rows[] = {{"refused-recipient", false, false, false, true},
                      {"plain", false, false, false, false},
                      {"attachments", true, false, false, false},
                      {"qninet-mail", true, true, false, false},
                      {"kept-connection", false, false, true, false}};

  harness::TempDir dir("qninet-peers-smtp");
  std::string binary(1024, '\0');  // every byte value
  for (std::size_t i = 0; i < binary.size(); ++i) binary[i] = static_cast<char>(i);
  const std::string text7 = "first line\r\n.\r\n..x\r\nlast line\r\n";
  const std::string text =
      "Zeile mit Leerzeichen am Ende   \r\nlone\nfeed and = sign \xC3\xBC\r\n.leading period\r\n" +
      std::string(200, 'x') + "\r\nno final break";
  const auto binFile = dir.Write("all bytes.bin", binary);
  const auto txtFile = dir.Write("notes.txt", text), txt7File = dir.Write("plain.txt", text7);

  const std::vector<std::string> refused{"nobody@qninet.test"};
  harness::SmtpServer aiosmtpd({.User = "mailer", .Password = "s3cret", .RefusedRecipients = refused});
  harness::OpenSmtpd opensmtpd(refused);
  std::size_t aioSeen = 0;
  std::set<std::filesystem::path> openSeen;
  const Peer peers[] = {
      {"aiosmtpd", &aiosmtpd, false,
       [&](std::size_t pending) {
         const auto all = aiosmtpd.Messages(aioSeen + pending);
         if (all.size() <= aioSeen) return Arrival{};
         const auto& eml = all[aioSeen++];
         const json envelope = json::parse(harness::SmtpServer::Envelope(eml));
         return Arrival{envelope["mail_from"], envelope["rcpt_tos"].get<std::set<std::string>>(), eml};
       }},
      // One copy per recipient, each opened by the envelope's sender and its own recipient;
      // the copies of one message share its Message-Id.
      {"opensmtpd", &opensmtpd, true,
       [&](std::size_t pending) {
         Arrival a;
         std::string id;
         for (const auto& copy : opensmtpd.Deliveries(openSeen.size() + 4 * pending)) {
           const std::string stored = harness::ReadFileText(copy);
           if (openSeen.contains(copy) || !(id.empty() || delivery_header(stored, "Message-Id") == id))
             continue;
           id = delivery_header(stored, "Message-Id");
           openSeen.insert(copy);
           a.MailFrom = delivery_header(stored, "Return-Path");
           const std::string to = delivery_header(stored, "Delivered-To");
           a.Recipients.insert(to);
           if (to == "bob@qninet.test") a.Copy = copy;
         }
         return a;
       }},
  };

  for (const Peer& peer : peers) {
    for (const Row& row : rows) {
      SCOPED_TRACE(peer.Name + ": " + row.Name);
      const std::string subject = std::string("Peers ") + row.Name + ": Gr\u00FC\u00DFe";
      if (row.Program) {
        if (std::string_view(QNINET_PROGRAM).empty()) continue;  // a library-only build
        // clang-format off
        const auto r = harness::RunToCompletion(
            {QNINET_PROGRAM, "mail", "--host", "127.0.0.1", "--port", std::to_string(peer.Server->Port()),
             "--from", "Ann Sender <ann@qninet.test>", "--to", "Bob <bob@qninet.test>, \"Doe, Jane\" <jane@other.test>",
             "--cc", "cy@qninet.test", "--bcc", "hidden@qninet.test", "--subject", subject, "--body", kBody,
             "--attach", binFile.string(), "--attach", txtFile.string() + ":text/plain:quoted-printable",
             "--attach", txt7File.string() + ":text/plain:7bit"});
        // clang-format on
        ASSERT_EQ(r.ExitCode, 0) << r.Output << peer.Log();
      } else {
        TQNISMTP smtp(nullptr);
        smtp.SetHost(u"127.0.0.1");
        smtp.SetPort(peer.Server->Port());
        smtp.SetTimeout(10000);
        smtp.SetLoginPrompt(false);
        smtp.From()->SetText(u"Ann Sender <ann@qninet.test>");
        smtp.Recipients()->SetEMailAddresses(u"Bob <bob@qninet.test>, \"Doe, Jane\" <jane@other.test>");
        smtp.CC()->SetEMailAddresses(u"cy@qninet.test");
        smtp.BCC()->SetEMailAddresses(row.Refused ? u"hidden@qninet.test, nobody@qninet.test"
                                                  : u"hidden@qninet.test");
        smtp.SetSubject(FromUtf8(subject));
        smtp.SetCharSet(u"utf-8");
        smtp.SetEncoding(u"quoted-printable");
        smtp.Body()->SetText(FromUtf8(kBody));
        smtp.ReplyTo()->SetEMailAddresses(u"replies@qninet.test, other@qninet.test");
        smtp.SetPriority(spHighest);
        smtp.SetDate(EncodeDate(2024, 3, 5) + EncodeTime(9, 7, 3, 0));
        if (row.Attach) {
          const std::pair<std::filesystem::path, const char*> files[] = {
              {binFile, "base64"}, {txtFile, "quoted-printable"}, {txt7File, "7bit"}};
          for (const auto& [path, encoding] : files) {
            auto* a = smtp.Attachments()->Add();
            a->SetFileName(FromUtf8(path.string()));
            a->DetectContentType();
            a->SetEncoding(FromUtf8(encoding));
          }
        }
        smtp.SetKeepConnection(row.Kept);
        if (row.Refused) {
          // The refusal is the result; the next row would find any message that went anyway.
          EXPECT_TRUE(ToUtf8(smtp.Execute()).starts_with("Error 250: 550 ")) << ToUtf8(smtp.LastError());
          continue;
        }
        for (int i = 0; i < (row.Kept ? 2 : 1); ++i) {
          ASSERT_EQ(ToUtf8(smtp.Execute()), "") << peer.Log();
          EXPECT_EQ(ToUtf8(smtp.LastError()), "");
        }
        if (row.Kept) smtp.Disconnect();
      }

      // Text as the server stores it; only that representation of line ends differs.
      const auto local = [&](std::string t) {
        for (auto at = t.find("\r\n"); peer.LineFeeds && at != std::string::npos; at = t.find("\r\n", at))
          t.erase(at, 1);
        return t;
      };
      for (int i = 0; i < (row.Kept ? 2 : 1); ++i) {
        const Arrival a = peer.Next(row.Kept ? 2 - i : 1);
        ASSERT_FALSE(a.Copy.empty()) << "nothing arrived\n" << peer.Log();
        EXPECT_EQ(a.MailFrom, "ann@qninet.test");
        EXPECT_EQ(a.Recipients, (std::set<std::string>{"bob@qninet.test", "jane@other.test", "cy@qninet.test",
                                                       "hidden@qninet.test"}));
        EXPECT_EQ(harness::ReadFileText(a.Copy).find("hidden@"), std::string::npos);
        const json m = json::parse(harness::ReadStoredMessage(a.Copy));
        EXPECT_EQ(m["defects"], json::array());
        EXPECT_EQ(m["From"], "Ann Sender <ann@qninet.test>");
        EXPECT_EQ(m["To"], "Bob <bob@qninet.test>, \"Doe, Jane\" <jane@other.test>");
        EXPECT_EQ(m["Cc"], "cy@qninet.test");
        EXPECT_EQ(m["Subject"], subject);
        if (!row.Program) {
          EXPECT_EQ(m["Reply-To"], "replies@qninet.test, other@qninet.test");
          EXPECT_EQ(m["X-Priority"], "1");
          EXPECT_TRUE(m["date_parsed"].get<std::string>().starts_with("2024-03-05T09:07:03"))
              << m["date_parsed"];
        }
        ASSERT_EQ(m["parts"].size(), row.Attach ? 4u : 1u) << m.dump(1);
        EXPECT_EQ(m["parts"][0]["type"], "text/plain");
        EXPECT_EQ(m["parts"][0]["charset"], "utf-8");
        // The sender ends the text with an empty line before the final period.
        std::string body = harness::Unhex(m["parts"][0]["hex"]);
        while (body.ends_with('\n') || body.ends_with('\r')) body.pop_back();
        EXPECT_EQ(body, local(kBody));
        if (row.Attach) {
          EXPECT_EQ(m["parts"][1]["filename"], "all bytes.bin");
          EXPECT_EQ(m["parts"][1]["hex"], harness::HexOf(binary));
          EXPECT_EQ(m["parts"][2]["filename"], "notes.txt");
          EXPECT_EQ(m["parts"][2]["type"], "text/plain");
          EXPECT_EQ(harness::Unhex(m["parts"][2]["hex"]), local(text));
          EXPECT_EQ(m["parts"][3]["filename"], "plain.txt");
          EXPECT_EQ(harness::Unhex(m["parts"][3]["hex"]), local(text7));
        }
      }
    }
  }
}
