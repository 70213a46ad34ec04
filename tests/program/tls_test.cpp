// The qninet program's https and mail-over-TLS options, run as a user runs them, against
// loopback servers with the harness CA.

#include <gtest/gtest.h>

#include "harness/Nginx.h"
#include "Qninet.h"
#include "harness/Process.h"
#include "harness/SmtpServer.h"

using namespace qninet::harness;

// The CA comes from --cacert; without it the certificate is refused with the reason (exit 1).
TEST(ProgramHttps, FetchesWithTheGivenCaAndRefusesWithout) {
  Nginx web(true);
  web.WriteFile("page.txt", "over tls\n");
  web.Start();
  const std::string ca = web.CA()->CaCert().string();
  auto r = Qninet({"http", "--cacert", ca, web.HttpsUrl("/page.txt")});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout, "over tls\r\n");
  r = Qninet({"http", web.HttpsUrl("/page.txt")});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_EQ(r.Stdout, "");
  EXPECT_NE(r.Output.find("unable to get local issuer certificate"), std::string::npos) << r.Output;
  r = Qninet({"http", "--cacert", "/nonexistent/ca.pem", web.HttpsUrl("/page.txt")});
  EXPECT_EQ(r.ExitCode, 2) << r.Output;
  EXPECT_NE(r.Output.find("cannot read the CA file"), std::string::npos) << r.Output;
}

// --tls and --auth reach the sender: the login goes inside TLS by the mechanism asked for.
TEST(ProgramMailTls, StartTlsAndImplicitWithTheChosenLogin) {
  TestCA ca;
  for (const auto& [tls, auth, mechanism] :
       {std::tuple{"starttls", "cram-md5", "CRAM-MD5"}, std::tuple{"implicit", "plain", "PLAIN"}}) {
    SCOPED_TRACE(tls + std::string(" ") + auth);
    SmtpServer::Options o;
    o.User = "mailer";
    o.Password = "s3cret";
    o.RequireAuth = true;
    o.TlsMode = std::string(tls) == "implicit" ? SmtpServer::Tls::Implicit : SmtpServer::Tls::StartTls;
    o.CertFile = ca.ServerCert();
    o.KeyFile = ca.ServerKey();
    SmtpServer server(o);
    const auto r =
        Qninet({"mail", "--host", "127.0.0.1:" + std::to_string(server.Port()), "--tls", tls, "--auth", auth,
                "--cacert", ca.CaCert().string(), "--user", "mailer", "--password", "s3cret", "--from",
                "ann@qninet.test", "--to", "bob@qninet.test", "--body", "sealed"});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(server.Messages(1).size(), 1u);
    EXPECT_NE(server.Commands().find(std::string("AUTH ") + mechanism + " tls=yes"), std::string::npos)
        << server.Commands();
  }
}
