// The DNS resolver against dnsmasq and unbound serving the same records, every answer checked
// against dig's reading of the same question to the same server (lines sorted: a server may rotate
// a record set): each record type, each transport (dnsmasq: UDP, TCP; unbound: UDP, TLS, HTTPS),
// several types in one run. 60 TXT records of 1000 bytes overflow a UDP answer (TC: asked again
// over TCP); a lost UDP query is sent again, forged replies before the true one passed over.

#include <algorithm>
#include <functional>
#include <memory>
#include <sstream>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "harness/ServerLaunch.h"
#include "harness/UdpScriptedServer.h"
#include "qninet/socket/QNIDNS.h"

using namespace qninet;

namespace {

// The DNSKEY's public key: the bytes 0 to 63.
constexpr const char* kKeyHex =
    "000102030405060708090A0B0C0D0E0F101112131415161718191A1B1C1D1E1F202122232425262728292A2B2C2D2E2F"
    "303132333435363738393A3B3C3D3E3F";

// Three TXT strings at their size limit and a short one: over 512 bytes, more than a UDP answer holds.
const std::string kLong =
    std::string(255, 'a') + "," + std::string(255, 'b') + "," + std::string(255, 'c') + ",tail";

// Many records whose answer spans many TCP segments: 60 TXT records of about 1000 bytes each.
std::vector<std::string> big_txt() {
  std::vector<std::string> records;
  for (int i = 0; i < 60; ++i) {
    std::string strings;
    for (int k = 0; k < 4; ++k)
      ((strings += k ? "," : "") += std::to_string(i)) += std::string(245, static_cast<char>('a' + k));
    records.push_back(strings);
  }
  return records;
}

std::vector<std::string> dnsmasq_records() {
  std::vector<std::string> all{
      "--auth-server=ns1.test,127.0.0.1", "--auth-zone=test,10.1.2.0/24,fd00::/64,::/96",
      "--auth-soa=2024010101,hostmaster.test,3600,900,604800", "--host-record=www.test,10.1.2.3,fd00::3",
      "--host-record=host.test,fd00::5", "--host-record=compat.test,::1.2.3.4", "--cname=alias.test,www.test",
      "--mx-host=test,mail.test,10", "--txt-record=test,v=spf1 -all,second part",
      "--txt-record=long.test," + kLong, "--txt-record=esc.test,say \"hi\" \\ caf\xC3\xA9",
      "--srv-host=_sip._tcp.test,sip.test,5060,10,60",
      // CAA (one value with a quote, a backslash, a control and a Latin-1
      // byte), NAPTR, DS and DNSKEY as raw data
      "--dns-rr=test,257,8005697373756563612E746573743B20613D22625C632207E9",
      "--dns-rr=test,257,0005697373756563612E74657374",
      "--dns-rr=test,35,0064000A0175074532552B73697014215E2E2A24217369703A696E666F40746573742104"
      "5F736970047465737400",
      "--dns-rr=ds.test,43,EC450D01000102030405060708090A0B0C0D0E0F10111213",
      "--dns-rr=test,48,0100030D" + std::string(kKeyHex)};
  for (const auto& r : big_txt()) all.push_back("--txt-record=many.test," + r);
  return all;
}

// "a,b" as unbound's zone-file form "a" "b" (without the outer quotes).
std::string quoted_strings(std::string list) {
  for (auto at = list.find(','); at != std::string::npos; at = list.find(',', at))
    list.replace(at, 1, "\" \"");
  return list;
}

std::vector<std::string> unbound_records() {
  std::vector<std::string> all{
      R"(local-zone: "test." static)",
      R"(local-zone: "2.1.10.in-addr.arpa." static)",
      R"(local-zone: "0.0.0.0.0.0.0.0.0.0.0.0.0.0.d.f.ip6.arpa." static)",
      R"(local-data: "test. 300 IN SOA ns1.test. hostmaster.test. 2024010101 3600 900 604800 600")",
      R"(local-data: "test. 300 IN NS ns1.test.")",
      R"(local-data: "www.test. 300 IN A 10.1.2.3")",
      R"(local-data: "www.test. 300 IN AAAA fd00::3")",
      R"(local-data-ptr: "10.1.2.3 www.test.")",
      R"(local-data: "host.test. 300 IN AAAA fd00::5")",
      R"(local-data: "compat.test. 300 IN AAAA ::1.2.3.4")",
      R"(local-data-ptr: "fd00::5 host.test.")",
      R"(local-data: "alias.test. 300 IN CNAME www.test.")",
      R"(local-data: "test. 300 IN MX 10 mail.test.")",
      R"(local-data: 'test. 300 IN TXT "v=spf1 -all" "second part"')",
      "local-data: 'long.test. 300 IN TXT \"" + quoted_strings(kLong) + "\"'",
      "local-data: 'esc.test. 300 IN TXT \"say \\\"hi\\\" \\\\ caf\\195\\169\"'",
      R"(local-data: "_sip._tcp.test. 300 IN SRV 10 60 5060 sip.test.")",
      R"(local-data: 'test. 300 IN CAA 128 issue "ca.test; a=\"b\\c\"\007\233"')",
      R"(local-data: 'test. 300 IN CAA 0 issue "ca.test"')",
      R"(local-data: 'test. 300 IN NAPTR 100 10 "u" "E2U+sip" "!^.*$!sip:info@test!" _sip.test.')",
      R"(local-data: "ds.test. 300 IN DS 60485 13 1 000102030405060708090A0B0C0D0E0F10111213")",
      "local-data: \"test. 300 IN DNSKEY 256 3 13 "
      "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4OTo7PD0+Pw==\""};
  for (const auto& r : big_txt())
    all.push_back("local-data: 'many.test. 300 IN TXT \"" + quoted_strings(r) + "\"'");
  return all;
}

// The resolver's answer records, each as `render` gives it, sorted (a server may rotate a record set).
std::vector<std::string> ask(TQNIDNSResolver& r, const std::function<String(const TQNIDNSRecord&)>& render,
                             std::string& error) {
  r.SetHost(u"127.0.0.1");
  r.SetTimeout(5000);
  const String bytes = r.Execute();
  error = ToUtf8(r.LastError());
  TQNIDNSReply reply;
  String decodeError;
  if (!DNSDecodeReply(bytes, reply, decodeError)) error += " undecodable: " + ToUtf8(decodeError);
  std::vector<std::string> lines;
  for (const auto& rec : reply.Answers) lines.push_back(ToUtf8(render(rec)));
  std::sort(lines.begin(), lines.end());
  return lines;
}

// The words of a line joined by one blank (dig separates fields with tabs).
std::string words_of(const std::string& line) {
  std::istringstream in(line);
  std::string joined;
  for (std::string word; in >> word;) joined += (joined.empty() ? "" : " ") + word;
  return joined;
}

// dig's lines (as words_of gives them when `words`), sorted.
std::vector<std::string> dig(std::uint16_t port, const std::vector<std::string>& question, bool words) {
  std::vector<std::string> argv{harness::RequireProgram("dig", "bind9-dnsutils"), "+tries=1", "+time=5",
                                "@127.0.0.1", "-p" + std::to_string(port)};
  argv.insert(argv.end(), question.begin(), question.end());
  std::istringstream out(harness::RunOrThrow(argv));
  std::vector<std::string> lines;
  for (std::string line; std::getline(out, line);)
    if (!(words ? line = words_of(line) : line).empty()) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  return lines;
}

// A record's typed fields written as dig +short writes its data.
std::string typed(const TQNIDNSRecord& r) {
  std::string out;
  const auto n = [](auto v) { return std::string(" ").append(std::to_string(v)); };
  if (const auto a = r.Address())
    out = a->IPv6 ? ToUtf8(a->Text)
                  : std::to_string(a->Bytes[0]) + "." + std::to_string(a->Bytes[1]) + "." +
                        std::to_string(a->Bytes[2]) + "." + std::to_string(a->Bytes[3]);
  if (const auto mx = r.MX()) out = std::to_string(mx->Preference) + " " + ToUtf8(mx->Exchange);
  if (const auto s = r.SRV())
    out = std::to_string(s->Priority) + n(s->Weight) + n(s->Port) + " " + ToUtf8(s->Target);
  for (const String& s : r.TXT().value_or(std::vector<String>{}))
    out += (out.empty() ? "\"" : " \"") + ToUtf8(s) + "\"";
  if (const auto s = r.SOA())
    out = ToUtf8(s->MName + u" " + s->RName) + n(s->Serial) + n(s->Refresh) + n(s->Retry) + n(s->Expire) +
          n(s->Minimum);
  return out + "\n";
}

class DnsPeers : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    dnsmasq = std::make_unique<harness::Dnsmasq>(dnsmasq_records());
    unbound = std::make_unique<harness::UnboundTls>(unbound_records());
  }
  static void TearDownTestSuite() { dnsmasq.reset(), unbound.reset(); }
  static inline std::unique_ptr<harness::Dnsmasq> dnsmasq;
  static inline std::unique_ptr<harness::UnboundTls> unbound;
};

}  // namespace

TEST_F(DnsPeers, EachRecordTypeReadsAsDigReadsIt) {
  // clang-format off
  const std::pair<TQNIDNSRequest, std::vector<std::string>> rows[] = {
      {irA, {"www.test", "A"}}, {irA, {"alias.test", "A"}},  // the CNAME and the address it leads to
      {irAAAA, {"host.test", "AAAA"}}, {irAAAA, {"compat.test", "AAAA"}},  // an IPv4-compatible address
      {irMX, {"test", "MX"}}, {irText, {"test", "TXT"}}, {irText, {"long.test", "TXT"}},
      {irText, {"esc.test", "TXT"}},  // quotes, a backslash and UTF-8 bytes escaped
      {irName, {"alias.test", "CNAME"}}, {irNS, {"test", "NS"}}, {irSOA, {"test", "SOA"}},
      {irPTR, {"-x", "10.1.2.3"}}, {irPTR, {"-x", "fd00::5"}}, {irSRV, {"_sip._tcp.test", "SRV"}},
      {irText, {"many.test", "TXT"}}, {irCAA, {"test", "CAA"}}, {irNAPTR, {"test", "NAPTR"}},
      {irDS, {"ds.test", "DS"}}, {irDNSKEY, {"test", "DNSKEY"}},
  };
  // clang-format on
  for (const harness::Peer* peer :
       std::initializer_list<const harness::Peer*>{dnsmasq.get(), unbound.get()}) {
    for (const auto& [request, question] : rows) {
      SCOPED_TRACE((peer == dnsmasq.get() ? "dnsmasq: " : "unbound: ") + question[0] + " " + question[1]);
      std::vector<std::string> args{"+tcp", "+short"};
      args.insert(args.end(), question.begin(), question.end());
      const std::vector<std::string> expected = dig(peer->Port(), args, false);
      TQNIDNSResolver r(nullptr);
      r.SetPort(peer->Port());
      r.SetRequests({request});
      r.SetDomain(FromUtf8(question[0] == "-x" ? question[1] : question[0]));
      std::string error;
      EXPECT_EQ(ask(
                    r, [](const TQNIDNSRecord& rec) { return rec.Data(); }, error),
                expected);
      EXPECT_EQ(error, "") << peer->LogText();
      ASSERT_FALSE(expected.empty()) << "the server has no such record\n" << peer->LogText();
    }
  }
}

TEST_F(DnsPeers, EachTransportAnswersAsDigDoes) {
  const harness::DnsSpoofer spoofer(dnsmasq->Port());
  const std::string ca = unbound->CA().CaCert().string(), tlsCa = "+tls-ca=" + ca;
  const std::uint16_t masqPort = dnsmasq->Port(), tlsPort = unbound->TlsPort(),
                      dohPort = unbound->HttpsPort();
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
      {dtUDP, unbound->Port(), {}, "many.test", irText},
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
    r.SetPort(row.Port);
    if (row.Transport == dtHTTPS)
      r.SetDoHURL(FromUtf8(harness::LoopbackUrl("https", row.Port, "/dns-query")));
    r.SetDoHMethod(row.Method);
    r.SetTLSAuthName(row.AuthName);
    r.SetCAFile(FromUtf8(ca));
    r.SetRequests({row.Request});
    r.SetDomain(FromUtf8(row.Name));
    std::string error;
    if (String(row.AuthName) == u"wrong.test") {  // the certificate names 127.0.0.1, ::1 and localhost
      EXPECT_THAT([&] { ask(r, DNSRecordLine, error); },
                  testing::ThrowsMessage<ESocketError>(testing::HasSubstr("hostname mismatch")));
      continue;
    }
    std::vector<std::string> args{"+noall", "+answer"};
    args.insert(args.end(), row.Dig.begin(), row.Dig.end());
    args.insert(args.end(), {row.Name, ToUtf8(DNSTypeName(DNSRequestTypeCode(row.Request)))});
    const auto expected = dig(row.Port == spoofer.Port() ? masqPort : row.Port, args, true);
    EXPECT_EQ(ask(
                  r, [](const TQNIDNSRecord& rec) { return FromUtf8(words_of(ToUtf8(DNSRecordLine(rec)))); },
                  error),
              expected);
    EXPECT_EQ(error, "");
    EXPECT_FALSE(expected.empty());
  }
}

// Several types in one run: a message and reply each (a server answers a message's first question
// only), merged in the types' order, the typed records as dig reads them.
TEST_F(DnsPeers, SeveralTypesOneMessageEachWithTypedRecords) {
  const struct {
    const char* Name;
    std::vector<TQNIDNSRequest> Types;  // in the enumeration's order
    unsigned RCode;
  } rows[] = {{"www.test", {irA, irMX, irAAAA}, 0},  // MX: no such data, in a reply of its own
              {"test", {irSOA, irMX, irText}, 0},
              {"_sip._tcp.test", {irSRV}, 0},
              {"nothing.test", {irA, irMX}, 3}};
  for (const harness::Peer* peer : std::initializer_list<const harness::Peer*>{dnsmasq.get(), unbound.get()})
    for (const TQNIDNSTransport transport : {dtUDP, dtTCP})
      for (const auto& row : rows) {
        const std::string via = transport == dtTCP ? "+tcp" : "+notcp";
        SCOPED_TRACE((peer == dnsmasq.get() ? "dnsmasq " : "unbound ") + via + " " + row.Name);
        TQNIDNSResolver r(nullptr);
        r.SetTransport(transport);
        r.SetHost(u"127.0.0.1");
        r.SetPort(peer->Port());
        r.SetTimeout(5000);
        r.SetRequests(TQNIDNSRequests::FromBits(0));
        for (const auto t : row.Types) r.SetRequests(r.Requests().Include(t));
        r.SetDomain(FromUtf8(row.Name));
        r.Execute();
        ASSERT_EQ(ToUtf8(r.LastError()), "") << peer->LogText();
        ASSERT_EQ(r.Results().size(), row.Types.size());
        std::string merged;
        for (std::size_t i = 0; i < row.Types.size(); ++i) {
          const TQNIDNSResult& result = r.Results()[i];
          EXPECT_EQ(result.Request, row.Types[i]);
          EXPECT_EQ(ToUtf8(result.Error) + ToUtf8(DNSRCodeName(result.RCode())),
                    ToUtf8(DNSRCodeName(row.RCode)));
          const std::string type = ToUtf8(DNSTypeName(DNSRequestTypeCode(row.Types[i])));
          std::string ours, theirs;
          for (const TQNIDNSRecord& rec : result.Reply.Answers) ours += typed(rec);
          for (const auto& line : dig(peer->Port(), {"+noall", "+short", via, row.Name, type}, true))
            theirs += line + "\n";
          EXPECT_EQ(ours, theirs);
          for (const auto& line : dig(peer->Port(), {"+noall", "+answer", via, row.Name, type}, true))
            merged += line + "\n";
        }
        EXPECT_EQ(ToUtf8(r.AnswerText()), merged);
      }
}
