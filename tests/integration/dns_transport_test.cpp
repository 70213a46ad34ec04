// Each transport against dnsmasq (UDP, TCP) and unbound (UDP, TLS, HTTPS), compared record for
// record with dig over the same transport. 60 TXT records of 1000 bytes overflow a UDP answer
// (TC: both ask again over TCP). A lost UDP query is sent again; forged UDP replies that come
// before the true one are passed over.

#include <algorithm>
#include <sstream>

#include <gtest/gtest.h>

#include "harness/ServerLaunch.h"
#include "harness/UdpScriptedServer.h"
#include "qninet/socket/QNIDNS.h"

using namespace qninet;

// "name TTL class type data" lines, sorted (dig separates with tabs).
static std::vector<std::string> lines_of(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line, word, joined; std::getline(in, line); joined.clear()) {
    for (std::istringstream words(line); words >> word;) joined += (joined.empty() ? "" : " ") + word;
    if (!joined.empty()) lines.push_back(joined);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

TEST(DnsTransports, EachTransportAnswersAsDigDoes) {
  std::vector<std::string> masq{"--host-record=www.test,10.1.2.3", "--mx-host=test,mail.test,10"};
  std::vector<std::string> local{R"(local-zone: "test." static)",
                                 R"(local-data: "www.test. 300 IN A 10.1.2.3")",
                                 R"(local-data: "test. 300 IN MX 10 mail.test.")"};
  for (int i = 0; i < 60; ++i) {
    const std::string s = std::to_string(i) + std::string(240, static_cast<char>('a' + i % 26));
    masq.push_back("--txt-record=many.test," + s + "," + s + "," + s + "," + s);
    local.push_back("local-data: 'many.test. 300 IN TXT \"" + s + "\" \"" + s + "\" \"" + s + "\" \"" + s +
                    "\"'");
  }
  const harness::Dnsmasq dnsmasq(masq);
  const harness::UnboundTls unbound(local);
  const harness::DnsSpoofer spoofer(dnsmasq.Port());
  const std::string ca = unbound.CA().CaCert().string(), tlsCa = "+tls-ca=" + ca;
  const std::uint16_t masqPort = dnsmasq.Port(), tlsPort = unbound.TlsPort(), dohPort = unbound.HttpsPort();
  const struct {
    TQNIDNSTransport Transport;
    std::uint16_t Port;
    std::vector<std::string> Dig;  // dig's transport
    const char* Name;
    TQNIDNSRequest Request;
    const char16_t* AuthName = u"";  // "wrong.test": the certificate must be refused
    TQNIDoHMethod Method = dmPOST;
  } rows[] = {
      {dtUDP, masqPort, {}, "www.test", irA},
      {dtUDP, masqPort, {}, "many.test", irText},
      {dtTCP, masqPort, {"+tcp"}, "test", irMX},
      {dtUDP, spoofer.Port(), {}, "www.test", irA},  // dig asks dnsmasq itself
      {dtUDP, unbound.Port(), {}, "many.test", irText},
      {dtTLS, tlsPort, {"+tls", tlsCa}, "www.test", irA},
      {dtTLS, tlsPort, {"+tls", tlsCa}, "many.test", irText, u"localhost"},
      {dtTLS, tlsPort, {}, "www.test", irA, u"wrong.test"},
      {dtHTTPS, dohPort, {"+https=/dns-query", tlsCa}, "test", irMX},
      {dtHTTPS, dohPort, {"+https-get=/dns-query", tlsCa}, "many.test", irText, u"", dmGET},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(ToUtf8(EnumInfoOf(static_cast<TQNIDNSTransport*>(nullptr)).NameOf(row.Transport)) + " " +
                 row.Name);
    TQNIDNSResolver r(nullptr);
    r.SetTransport(row.Transport);
    r.SetHost(u"127.0.0.1");
    r.SetPort(row.Port);
    if (row.Transport == dtHTTPS)
      r.SetDoHURL(FromUtf8(harness::LoopbackUrl("https", row.Port, "/dns-query")));
    r.SetDoHMethod(row.Method);
    r.SetTLSAuthName(row.AuthName);
    r.SetCAFile(FromUtf8(ca));
    r.SetTimeout(5000);
    r.SetRequests({row.Request});
    r.SetDomain(FromUtf8(row.Name));
    if (String(row.AuthName) == u"wrong.test") {
      EXPECT_THROW(r.Execute(), ESocketError);
      continue;
    }
    TQNIDNSReply reply;
    String error;
    EXPECT_TRUE(DNSDecodeReply(r.Execute(), reply, error)) << ToUtf8(error + r.LastError());
    std::string ours;
    for (const auto& rec : reply.Answers) ours += ToUtf8(DNSRecordLine(rec)) + "\n";
    std::vector<std::string> dig{harness::RequireProgram("dig", "bind9-dnsutils"),
                                 "+noall",
                                 "+answer",
                                 "+tries=1",
                                 "@127.0.0.1",
                                 "-p",
                                 std::to_string(row.Port == spoofer.Port() ? masqPort : row.Port)};
    dig.insert(dig.end(), row.Dig.begin(), row.Dig.end());
    dig.insert(dig.end(), {row.Name, ToUtf8(DNSTypeName(DNSRequestTypeCode(row.Request)))});
    const auto expected = lines_of(harness::RunOrThrow(dig));
    EXPECT_EQ(lines_of(ours), expected);
    EXPECT_FALSE(expected.empty());
  }
}
