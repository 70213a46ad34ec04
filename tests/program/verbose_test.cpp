// What -v shows of a socket component (the TLS session, the mail dialogue with its secrets
// masked) and what `run` prints for a feed or a picture, against aiosmtpd, unbound and nginx.

#include <gtest/gtest.h>

#include "Qninet.h"
#include "harness/Nginx.h"
#include "harness/SmtpServer.h"
#include "harness/TempDir.h"

using namespace qninet::harness;

TEST(ProgramVerbose, ShowsTlsDialogueAndResultsWithoutSecrets) {
  TestCA ca;
  const std::string token = "ya29.tok3n-XyZ", password = "Tr0ub4dor-3";
  const SmtpServer::Options account{.User = "mailer",
                                    .Password = password,
                                    .RequireAuth = true,
                                    .RefusedRecipients = {},
                                    .CertFile = ca.ServerCert(),
                                    .KeyFile = ca.ServerKey(),
                                    .ExcludedAuth = {}};
  auto starttls = account, implicit = account;
  starttls.TlsMode = SmtpServer::Tls::StartTls;
  implicit.TlsMode = SmtpServer::Tls::Implicit;
  SmtpServer upgrading(starttls, token), sealed(implicit);
  UnboundTls dns({R"(local-zone: "test." static)", R"(local-data: "www.test. 300 IN A 10.1.2.3")"});
  Nginx web;
  web.WriteFile("news.rss",
                "<rss version=\"2.0\"><channel><title>Loopback news</title><item><title>First story</title>"
                "</item><item><title>Second story</title></item></channel></rss>");
  const std::string png(
      "\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR\0\0\0\x08\0\0\0\x08\x08\x02\0\0\0\x4b\x6d\x29\xdc\0\0\0\x11IDAT"
      "\x78\xda\x63\x30\x4e\x3b\x83\x15\x31\x0c\x2d\x09\0\xb9\x86\x59\x41\x6e\x26\x84\xfc\0\0\0\0IEND\xae\x42"
      "\x60\x82",
      74);
  web.WriteFile("logo.png", png);
  web.Start();
  TempDir dir("qninet-verbose");
  const auto form = [&](const char* cls, const std::string& path) {
    return dir.Write(std::string(cls) + ".json", Qninet({"save", cls, "URL=" + web.Url(path)}).Stdout)
        .string();
  };
  const auto mail = [&](const SmtpServer& server, std::vector<std::string> more) {
    std::vector<std::string> args{"mail",     "-v",
                                  "--host",   "127.0.0.1:" + std::to_string(server.Port()),
                                  "--cacert", ca.CaCert().string(),
                                  "--from",   "ann@qninet.test",
                                  "--to",     "bob@qninet.test",
                                  "--body",   "a private line",
                                  "--user",   "mailer"};
    args.insert(args.end(), more.begin(), more.end());
    return args;
  };
  const std::vector<std::string> tls = {"* TLS 1.", " connection using ",
                                        "* Server certificate: subject: CN=server",
                                        "* Server certificate: issuer: CN=QNInet Test CA"};
  // Base64 of the user, the password, PLAIN's and XOAUTH2's responses: what would travel unmasked.
  const std::vector<std::string> secrets = {password,
                                            token,
                                            "a private line",
                                            "bWFpbGVy",
                                            "VHIwdWI0ZG9yLTM=",
                                            "AG1haWxlcgBUcjB1YjRkb3ItMw==",
                                            "dXNlcj1tYWlsZXIBYXV0aD1CZWFyZXIgeWEyOS50b2szbi1YeVoBAQ=="};
  const auto then = [](std::vector<std::string> a, const std::vector<std::string>& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
  };
  const struct {
    const char* Name;
    std::vector<std::string> Args, Says;
    bool Secret = false;  // the output must hold none of `secrets`
  } rows[] = {
      {"starttls, login", mail(upgrading, {"--password", password, "--tls", "starttls", "--auth", "login"}),
       then({"> EHLO ", "< 250-", "> STARTTLS", "< 220"},
            then(tls, {"> EHLO ", "> auth LOGIN", "< 334", "> ***", "< 334", "> ***", "< 235",
                       "> MAIL FROM:<ann@qninet.test>", "< 250", "> RCPT TO:<bob@qninet.test>", "> DATA",
                       "< 354", "> (message: ", " bytes)", "> .", "< 250", "> QUIT", "< 221"})),
       true},
      {"implicit, plain", mail(sealed, {"--password", password, "--tls", "implicit", "--auth", "plain"}),
       then(tls, {"< 220", "> EHLO ", "> AUTH PLAIN ***", "< 235"}), true},
      {"starttls, token", mail(upgrading, {"--oauth-token", token, "--tls", "starttls", "--auth", "xoauth2"}),
       then(tls, {"> AUTH XOAUTH2 ***", "< 235"}), true},
      {"dns over tls",
       {"dns", "-v", "--tls", "--host", "127.0.0.1:" + std::to_string(dns.TlsPort()), "--cacert",
        dns.CA().CaCert().string(), "www.test"},
       then({"www.test. 300 IN A 10.1.2.3"}, tls)},
      {"run a feed",
       {"run", form("TQNIRSSParser", "/news.rss")},
       {"channel Loopback news", "  item First story", "  item Second story"}},
      {"run a picture", {"run", form("TQNRemoteImage", "/logo.png")}, {"run 1: ", ", png 8x8, 74 bytes"}},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    const RunResult r = ExpectRun({row.Args, 0, kAnyOutput, row.Says});
    if (getenv("SHOW")) std::cerr << r.Output;
    for (const std::string& secret : row.Secret ? secrets : std::vector<std::string>{})
      EXPECT_EQ(r.Output.find(secret), std::string::npos) << secret << "\n" << r.Output;
  }
}
