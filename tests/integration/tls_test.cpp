// TLS under the socket engine, against nginx serving https on loopback with the harness CA.

#include <cstdlib>

#include <gtest/gtest.h>

#include "harness/Nginx.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/sys/TcpSocket.h"

using namespace qninet;

namespace {

constexpr std::uint64_t k5MiB = 5ull * 1024 * 1024;

class HttpsServer : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    web = new harness::Nginx(true);
    web->WriteFile("index.html", "<html>hello\nworld</html>\n");
    web->WriteLargeFile("large.bin", k5MiB);
    web->AddRedirect("/to-tls", web->HttpsUrl("/index.html"), 302);
    web->AddRedirect("/to-clear", web->Url("/index.html"), 302);
    web->Start();
  }
  static void TearDownTestSuite() {
    delete web;
    web = nullptr;
  }

  static std::unique_ptr<TQNIHTTPClient> Client(const String& path, bool trust = true) {
    auto c = std::make_unique<TQNIHTTPClient>(nullptr);
    c->SetHost(u"127.0.0.1");
    c->SetUseTLS(tlsImplicit);
    c->SetPort(web->HttpsPort());
    c->SetTimeout(20000);
    c->SetAction(haGet);
    c->SetRequest(path);
    if (trust) c->SetCAFile(FromUtf8(web->CA()->CaCert().string()));
    return c;
  }

  static harness::Nginx* web;
};
harness::Nginx* HttpsServer::web = nullptr;

}  // namespace

// A multi-record answer arrives whole through the session (a small page is the HTTP peers' row);
// the CA can come from QNINET_CA_FILE.
TEST_F(HttpsServer, GetsPagesThroughTheSession) {
  auto c = Client(u"/large.bin");
  const String body = c->Execute();
  ASSERT_EQ(body.size(), k5MiB + 2) << ToUtf8(c->LastError());
  for (std::uint64_t i : {std::uint64_t{0}, std::uint64_t{16386}, k5MiB / 2 + 7, k5MiB - 1})
    EXPECT_EQ(body[i], static_cast<char16_t>(harness::Nginx::PatternByte(i))) << i;

  auto fromEnvironment = Client(u"/index.html", false);
  ::setenv("QNINET_CA_FILE", web->CA()->CaCert().c_str(), 1);
  const String answer = fromEnvironment->Execute();
  ::unsetenv("QNINET_CA_FILE");
  EXPECT_EQ(ToUtf8(answer), "<html>hello\r\nworld</html>\r\n");
}

// A refused handshake raises from Execute with the reason, fires the error notification and
// leaves the component disconnected.
TEST_F(HttpsServer, RefusedHandshakesNameTheReason) {
  struct Case {
    bool Trust;
    const char* CAFile;  // instead of the harness CA when set
    bool PlainPort;
    const char* Reason;
  };
  for (const Case& k :
       {Case{false, nullptr, false,
             "TLS certificate verification failed: unable to get local issuer certificate"},
        Case{true, "/nonexistent/ca.pem", false, "Cannot load the CA file /nonexistent/ca.pem"},
        Case{true, nullptr, true, "TLS handshake failed: "}}) {
    SCOPED_TRACE(k.Reason);
    auto c = Client(u"/index.html", k.Trust);
    if (k.CAFile) c->SetCAFile(FromUtf8(k.CAFile));
    if (k.PlainPort) c->SetPort(web->Port());
    Integer code = 0;
    c->SetOnError([&](TObject*, platform::TClientSocket*, TErrorEvent e, Integer& c) {
      EXPECT_EQ(e, eeConnect);
      code = c;
    });
    try {
      c->Execute();
      ADD_FAILURE() << "no error";
    } catch (const ESocketError& e) {
      // after the endpoint, as every transfer's failure reads
      const std::string said = ToUtf8(e.Message()), at = "127.0.0.1:" + std::to_string(c->Port()) + ": ";
      EXPECT_TRUE(said.starts_with(at + k.Reason)) << said;
    }
    EXPECT_NE(code, 0);
    EXPECT_FALSE(c->Connected());
    EXPECT_FALSE(c->TLSActive());
  }
}

// The certificate names 127.0.0.1, ::1 and localhost: any other name or address is refused
// even though the CA is trusted.
TEST_F(HttpsServer, CertificateMustNameTheHost) {
  for (const auto& [host, verdict] : {std::pair{"127.0.0.1", ""},
                                      {"localhost", ""},
                                      {"wrong.test", "hostname mismatch"},
                                      {"127.0.0.2", "IP address mismatch"}}) {
    SCOPED_TRACE(host);
    auto addresses = sys::resolve_tcp("127.0.0.1", web->HttpsPort(), true);
    ASSERT_TRUE(addresses);
    sys::TcpSocket s;
    s.SetTimeout(20000);
    ASSERT_TRUE(s.Connect(*addresses, 20000));
    const sys::Status shaken = s.StartTls(host, web->CA()->CaCert().string());
    if (*verdict == '\0') {
      ASSERT_TRUE(shaken) << ToUtf8(shaken.failure().Text);
      EXPECT_TRUE(s.IsTls());
      const std::string request = "HEAD / HTTP/1.0\r\n\r\n";
      ASSERT_TRUE(s.Send(request.data(), request.size()));
      char reply[12];
      const auto got = s.Receive(reply, sizeof reply);
      ASSERT_TRUE(got);
      EXPECT_EQ(std::string(reply, *got).substr(0, 5), "HTTP/");
    } else {
      ASSERT_FALSE(shaken);
      EXPECT_EQ(ToUtf8(shaken.failure().Text),
                std::string("TLS certificate verification failed: ") + verdict);
      EXPECT_FALSE(s.IsOpen());
    }
  }
}

// A move to https takes TLS along; a move from https back to clear text is not followed.
TEST_F(HttpsServer, RedirectsIntoTlsButNotOutOfIt) {
  auto c = Client(u"/to-clear");
  c->SetOnRedirect([](TObject*, String&, bool& abort) { abort = false; });
  c->Execute();
  EXPECT_EQ(c->ResponseHeaders()->Strings(0).substr(0, 12), u"HTTP/1.1 302");

  TQNIHTTPClient clear(nullptr);
  clear.SetHost(u"127.0.0.1");
  clear.SetPort(web->Port());
  clear.SetAction(haGet);
  clear.SetRequest(u"/to-tls");
  clear.SetCAFile(FromUtf8(web->CA()->CaCert().string()));
  clear.SetOnRedirect([](TObject*, String&, bool& abort) { abort = false; });
  EXPECT_EQ(ToUtf8(clear.Execute()), "<html>hello\r\nworld</html>\r\n") << ToUtf8(clear.LastError());
  EXPECT_EQ(clear.UseTLS(), tlsImplicit);
  EXPECT_EQ(clear.Port(), web->HttpsPort());
}
