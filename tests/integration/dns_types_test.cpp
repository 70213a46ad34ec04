// Several request types in one run of the resolver against dnsmasq and unbound over UDP and TCP:
// each type is its own message and reply (a server answers the first question of a message
// only), the answers merge in the order of the types, and the typed records carry what dig
// reads from the same server.

#include <sstream>

#include <gtest/gtest.h>

#include "harness/ServerLaunch.h"
#include "qninet/socket/QNIDNS.h"

using namespace qninet;

namespace {

// dig's answer ("+short" or "+answer") over UDP or TCP, blanks and tabs made single spaces.
std::string dig(std::uint16_t port, const char* transport, const char* form, const char* name,
                TQNIDNSRequest type) {
  std::istringstream out(harness::RunOrThrow(
      {harness::RequireProgram("dig", "bind9-dnsutils"), "+tries=1", "+noall", form, transport, "@127.0.0.1",
       "-p", std::to_string(port), name, ToUtf8(DNSTypeName(DNSRequestTypeCode(type)))}));
  std::string text;
  for (std::string line, word, joined; std::getline(out, line); joined.clear()) {
    for (std::istringstream words(line); words >> word;) joined += (joined.empty() ? "" : " ") + word;
    if (!joined.empty()) text += joined + "\n";
  }
  return text;
}

// A record's typed fields written as dig +short writes its data.
std::string typed(const TQNIDNSRecord& r) {
  std::string out;
  const auto n = [](auto v) { return " " + std::to_string(v); };
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

}  // namespace

TEST(DnsTypes, SeveralTypesOneMessageEachWithTypedRecords) {
  const harness::Dnsmasq dnsmasq(
      {"--auth-server=ns1.test,127.0.0.1", "--auth-zone=test,10.1.2.0/24,fd00::/64",
       "--auth-soa=2024010101,hostmaster.test,3600,900,604800", "--host-record=www.test,10.1.2.3,fd00::5",
       "--mx-host=test,mail.test,10", "--txt-record=test,v=spf1 -all,second part",
       "--srv-host=_sip._tcp.test,sip.test,5060,10,60"});
  const harness::Unbound unbound(
      {R"(local-zone: "test." static)",
       R"(local-data: "test. 300 IN SOA ns1.test. hostmaster.test. 2024010101 3600 900 604800 600")",
       R"(local-data: "www.test. 300 IN A 10.1.2.3")", R"(local-data: "www.test. 300 IN AAAA fd00::5")",
       R"(local-data: "test. 300 IN MX 10 mail.test.")",
       R"(local-data: 'test. 300 IN TXT "v=spf1 -all" "second part"')",
       R"(local-data: "_sip._tcp.test. 300 IN SRV 10 60 5060 sip.test.")"});
  const struct {
    const char* Name;
    std::vector<TQNIDNSRequest> Types;  // in the enumeration's order
    unsigned RCode;
  } rows[] = {{"www.test", {irA, irMX, irAAAA}, 0},  // MX: no such data, in a reply of its own
              {"test", {irSOA, irMX, irText}, 0},
              {"_sip._tcp.test", {irSRV}, 0},
              {"nothing.test", {irA, irMX}, 3}};
  for (const harness::Peer* peer : std::initializer_list<const harness::Peer*>{&dnsmasq, &unbound})
    for (const TQNIDNSTransport transport : {dtUDP, dtTCP})
      for (const auto& row : rows) {
        const char* via = transport == dtTCP ? "+tcp" : "+notcp";
        SCOPED_TRACE(std::string(peer == &dnsmasq ? "dnsmasq " : "unbound ") + via + " " + row.Name);
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
          std::string ours;
          for (const TQNIDNSRecord& rec : result.Reply.Answers) ours += typed(rec);
          EXPECT_EQ(ours, dig(peer->Port(), via, "+short", row.Name, row.Types[i]));
          merged += dig(peer->Port(), via, "+answer", row.Name, row.Types[i]);
        }
        EXPECT_EQ(ToUtf8(r.AnswerText()), merged);
      }
}
