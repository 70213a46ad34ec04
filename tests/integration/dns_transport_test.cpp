// The resolver's transports against dnsmasq (UDP, TCP) and unbound (UDP, DNS over TLS, DNS over
// HTTPS), each answer compared record for record with dig's over the same transport to the same
// server. 60 TXT records of 1000 bytes are more than a UDP answer holds: the server sets TC and
// both clients ask again over TCP. Forged UDP replies sent before the true one must be passed over.

#include <algorithm>
#include <sstream>

#include <gtest/gtest.h>

#include "harness/ServerLaunch.h"
#include "harness/UdpScriptedServer.h"
#include "qninet/socket/QNIDNS.h"

using namespace qninet;

namespace {

std::vector<std::string> sorted_lines(const std::string& text) {
  std::istringstream in(text);
  std::vector<std::string> lines;
  for (std::string line; std::getline(in, line);) {
    std::istringstream words(line);  // dig separates with tabs
    std::string word, joined;
    while (words >> word) joined += (joined.empty() ? "" : " ") + word;
    if (!joined.empty()) lines.push_back(joined);
  }
  std::sort(lines.begin(), lines.end());
  return lines;
}

}  // namespace

TEST(DnsTransports, EachTransportAnswersAsDigDoes) {
  std::vector<std::string> masq{"--host-record=www.test,10.1.2.3", "--mx-host=test,mail.test,10"};
  std::vector<std::string> local{R"(local-zone: "test." static)",
                                 R"(local-data: "www.test. 300 IN A 10.1.2.3")",
                                 R"(local-data: "test. 300 IN MX 10 mail.test.")"};
  for (int i = 0; i < 60; ++i) {
    const std::string text = std::to_string(i) + std::string(1000, 'a' + i % 26);
    masq.push_back("--txt-record=many.test," + text.substr(0, 250) + "," + text.substr(250, 250) + "," +
                   text.substr(500, 250) + "," + text.substr(750));
    local.push_back("local-data: 'many.test. 300 IN TXT \"" + text.substr(0, 250) + "\" \"" +
                    text.substr(250, 250) + "\" \"" + text.substr(500, 250) + "\" \"" + text.substr(750) +
                    "\"'");
  }
  const harness::Dnsmasq dnsmasq(masq);
  const harness::UnboundTls unbound(local);
  const harness::DnsSpoofer spoofer(dnsmasq.Port());
  const std::string ca = unbound.CA().CaCert().string(), doh = "+https=/dns-query", tlsCa = "+tls-ca=" + ca;
  const struct {
    TQNIDNSTransport Transport;
    std::uint16_t Port, DigPort;
    std::vector<std::string> Dig;  // dig's transport
    const char* Name;
    const char* Type;
    TQNIDNSRequest Request;
    const char16_t* AuthName = u"";
    TQNIDoHMethod Method = dmPOST;
  } rows[] = {
      {dtUDP, dnsmasq.Port(), dnsmasq.Port(), {}, "www.test", "A", irA},
      {dtUDP, dnsmasq.Port(), dnsmasq.Port(), {}, "many.test", "TXT", irText},
      {dtTCP, dnsmasq.Port(), dnsmasq.Port(), {"+tcp"}, "test", "MX", irMX},
      {dtUDP, spoofer.Port(), dnsmasq.Port(), {}, "www.test", "A", irA},
      {dtUDP, unbound.Port(), unbound.Port(), {}, "many.test", "TXT", irText},
      {dtTLS, unbound.TlsPort(), unbound.TlsPort(), {"+tls", tlsCa}, "www.test", "A", irA},
      {dtTLS,
       unbound.TlsPort(),
       unbound.TlsPort(),
       {"+tls", tlsCa},
       "many.test",
       "TXT",
       irText,
       u"localhost"},
      {dtHTTPS, unbound.HttpsPort(), unbound.HttpsPort(), {doh, tlsCa}, "test", "MX", irMX},
      {dtHTTPS,
       unbound.HttpsPort(),
       unbound.HttpsPort(),
       {"+https-get=/dns-query", tlsCa},
       "many.test",
       "TXT",
       irText,
       u"",
       dmGET},
  };
  for (const auto& row : rows) {
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
    const String bytes = r.Execute();
    TQNIDNSReply reply;
    String error;
    std::string ours;
    EXPECT_TRUE(DNSDecodeReply(bytes, reply, error)) << ToUtf8(error + r.LastError());
    for (const auto& rec : reply.Answers) ours += ToUtf8(DNSRecordLine(rec)) + "\n";
    std::vector<std::string> dig{harness::RequireProgram("dig", "bind9-dnsutils"),
                                 "+noall",
                                 "+answer",
                                 "+time=5",
                                 "+tries=1",
                                 "@127.0.0.1",
                                 "-p",
                                 std::to_string(row.DigPort)};
    dig.insert(dig.end(), row.Dig.begin(), row.Dig.end());
    dig.insert(dig.end(), {row.Name, row.Type});
    const auto expected = sorted_lines(harness::RunOrThrow(dig));
    SCOPED_TRACE(ToUtf8(EnumInfoOf(static_cast<TQNIDNSTransport*>(nullptr)).NameOf(row.Transport)) + " :" +
                 std::to_string(row.Port) + " " + row.Name + "\n" + unbound.LogText());
    EXPECT_EQ(sorted_lines(ours), expected);
    EXPECT_FALSE(expected.empty());
  }
  // The certificate is checked against TLSAuthName, not the address it was reached at.
  TQNIDNSResolver r(nullptr);
  r.SetTransport(dtTLS);
  r.SetHost(u"127.0.0.1");
  r.SetPort(unbound.TlsPort());
  r.SetTLSAuthName(u"wrong.test");
  r.SetCAFile(FromUtf8(ca));
  r.SetRequests({irA});
  r.SetDomain(u"www.test");
  EXPECT_THROW(r.Execute(), ESocketError);
}
