// TQNISMTP over STARTTLS and implicit TLS, with each login method, against aiosmtpd holding a
// certificate of the harness CA.

#include "qninet/socket/QNISMTP.h"

#include <gtest/gtest.h>

#include "harness/SmtpServer.h"
#include "harness/TestCA.h"

using namespace qninet;
using harness::SmtpServer;

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
    try {
      smtp.Execute();
      ADD_FAILURE() << "sent";
    } catch (const Exception& e) {
      EXPECT_NE(ToUtf8(e.Message()).find(k.Error), std::string::npos) << ToUtf8(e.Message());
    }
    EXPECT_FALSE(smtp.Connected());
    const std::string seen = server.Commands();
    EXPECT_EQ(seen.find("AUTH"), std::string::npos) << seen;
    EXPECT_EQ(seen.find("MAIL"), std::string::npos) << seen;
  }
}
