// What -v shows of a socket component (the TLS session, the mail dialogue with its secrets
// masked) and what `run` prints for a feed or a picture, against aiosmtpd, unbound and nginx.

#include <gtest/gtest.h>

#include <sstream>

#include "Qninet.h"
#include "harness/Nginx.h"
#include "harness/SmtpServer.h"
#include "harness/TempDir.h"

using namespace qninet::harness;

TEST(ProgramVerbose, ShowsTlsDialogueAndResultsWithoutSecrets) {
  TestCA ca;
  const std::string token = "ya29.tok3n-XyZ", password = "Tr0ub4dor-3";
  SmtpServer::Options account{"mailer",        password,       true, {}, SmtpServer::Tls::StartTls,
                              ca.ServerCert(), ca.ServerKey(), {}};
  SmtpServer upgrading(account, token);
  account.TlsMode = SmtpServer::Tls::Implicit;
  SmtpServer sealed(account);
  UnboundTls dns({R"(local-zone: "test." static)", R"(local-data: "www.test. 300 IN A 10.1.2.3")"});
  Nginx web;
  web.WriteFile("news.rss",
                "<rss version=\"2.0\"><channel><title>Loopback news</title><item><title>First story"
                "</title></item><item><title>Second story</title></item></channel></rss>");
  web.WriteFile("logo.png",
                std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x04\0\0\0\x05", 24) + std::string(8, 0));
  web.Start();
  TempDir dir("qninet-verbose");
  const auto form = [&](const char* cls, const std::string& path) {
    return dir.Write(std::string(cls) + ".json", Qninet({"save", cls, "URL=" + web.Url(path)}).Stdout)
        .string();
  };
  const auto mail = [&](const SmtpServer& server, const std::string& more) {
    std::vector<std::string> args{"mail", "-v", "--host", "127.0.0.1:" + std::to_string(server.Port())};
    std::istringstream words(
        "--cacert " + ca.CaCert().string() +
        " --from ann@qninet.test --to bob@qninet.test --body private-line --user mailer " + more);
    for (std::string word; words >> word;) args.push_back(word);
    return args;
  };
  const std::vector<std::string> tls{"* TLS 1.", " connection using ",
                                     "* Server certificate: subject: CN=server",
                                     "* Server certificate: issuer: CN=QNInet Test CA"};
  // Then base64 of the user, the password, PLAIN's and XOAUTH2's responses: what would travel unmasked.
  const std::string secrets = password + " " + token +
                              " private-line bWFpbGVy VHIwdWI0ZG9yLTM= AG1haWxlcgBUcjB1YjRkb3ItMw== "
                              "dXNlcj1tYWlsZXIBYXV0aD1CZWFyZXIgeWEyOS50b2szbi1YeVoBAQ==";
  const struct {
    const char* Name;
    std::vector<std::string> Args, Says;
  } rows[] = {
      {"starttls, login",
       mail(upgrading, "--password " + password + " --tls starttls --auth login"),
       {"> STARTTLS", "TLS", "> auth LOGIN", "< 334", "> ***", "< 334", "> ***", "< 235",
        "> MAIL FROM:<ann@qninet.test>", "> DATA", "< 354", "> (message: ", "> .", "< 250", "> QUIT",
        "< 221"}},
      {"implicit, plain",
       mail(sealed, "--password " + password + " --tls implicit --auth plain"),
       {"TLS", "< 220", "> EHLO ", "> AUTH PLAIN ***", "< 235"}},
      {"starttls, token",
       mail(upgrading, "--oauth-token " + token + " --tls starttls --auth xoauth2"),
       {"> EHLO ", "< 250-", "> STARTTLS", "< 220", "TLS", "> AUTH XOAUTH2 ***", "< 235"}},
      {"dns over tls",
       {"dns", "-v", "--tls", "--host", "127.0.0.1:" + std::to_string(dns.TlsPort()), "--cacert",
        dns.CA().CaCert().string(), "www.test"},
       {"TLS", "* Sending a "}},
      {"run a feed",
       {"run", form("TQNIRSSParser", "/news.rss")},
       {"channel Loopback news", "  item First story", "  item Second story"}},
      {"run a picture",
       {"run", form("TQNRemoteImage", "/logo.png")},
       {"run 1: isFinished, png 4x5, 32 bytes"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    std::vector<std::string> says;  // "TLS" stands for the TLS lines
    for (const std::string& line : row.Says)
      says.insert(says.end(), line == "TLS" ? tls.data() : &line,
                  line == "TLS" ? tls.data() + tls.size() : &line + 1);
    const RunResult r = ExpectRun({row.Args, 0, kAnyOutput, says});
    std::istringstream each(secrets);
    for (std::string secret; each >> secret;)
      EXPECT_EQ(r.Output.find(secret), std::string::npos) << secret << "\n" << r.Output;
  }
}
