// The DNS resolver against a real server on loopback (the time clients: peers_time_test.cpp).

#include <gtest/gtest.h>

#include "harness/Dnsmasq.h"
#include "qninet/socket/QNIDNS.h"

using namespace qninet;

class DnsmasqServer : public ::testing::Test {
protected:
  static void SetUpTestSuite() {
    server =
        new harness::Dnsmasq({"--address=/www.test/10.1.2.3", "--host-record=host.test,10.0.0.5,fd00::5",
                              "--mx-host=test,mail.test,10", "--txt-record=test,v=spf1 -all",
                              "--ptr-record=3.2.1.10.in-addr.arpa,www.test", "--cname=alias.test,host.test"});
  }
  static void TearDownTestSuite() {
    delete server;
    server = nullptr;
  }

  // The answer lines for one request about one name.
  static std::vector<std::string> Ask(TQNIDNSRequest request, const String& name) {
    TQNIDNSResolver r(nullptr);
    r.SetHost(u"127.0.0.1");
    r.SetPort(server->Port());
    r.SetTimeout(5000);
    r.SetRequests({request});
    r.SetDomain(name);
    const String reply = r.Execute();
    EXPECT_TRUE(r.LastError().empty()) << ToUtf8(r.LastError());
    TQNIDNSReply decoded;
    String error;
    EXPECT_TRUE(DNSDecodeReply(reply, decoded, error)) << ToUtf8(error);
    EXPECT_EQ(decoded.ID, 0x125E);
    std::vector<std::string> lines;
    for (const auto& rec : decoded.Answers) {
      String line = DNSRecordLine(rec);
      // Drop the TTL, which dnsmasq chooses.
      const auto first = line.find(u' '), second = line.find(u' ', first + 1);
      lines.push_back(ToUtf8(line.substr(0, first) + line.substr(second)));
    }
    return lines;
  }

  static harness::Dnsmasq* server;
};
harness::Dnsmasq* DnsmasqServer::server = nullptr;

TEST_F(DnsmasqServer, AnswerOfEachRequestType) {
  struct Case {
    TQNIDNSRequest request;
    const char16_t* name;
    const char* line;  // an answer line without the TTL
    bool only;         // the one answer, or one among others
  };
  const Case cases[] = {
      {irA, u"www.test", "www.test. IN A 10.1.2.3", true},
      {irAll, u"host.test", "host.test. IN AAAA fd00::5", false},
      {irMX, u"test", "test. IN MX 10 mail.test.", true},
      {irText, u"test", "test. IN TXT \"v=spf1 -all\"", true},
      {irPTR, u"10.1.2.3", "3.2.1.10.in-addr.arpa. IN PTR www.test.",
       true},  // the address in its usual order
      {irName, u"alias.test.", "alias.test. IN CNAME host.test.", false},
  };
  for (const Case& c : cases) {
    const auto lines = Ask(c.request, c.name);
    if (c.only)
      EXPECT_EQ(lines, std::vector<std::string>{c.line});
    else
      EXPECT_NE(std::find(lines.begin(), lines.end(), c.line), lines.end())
          << c.line << " in " << ::testing::PrintToString(lines) << server->LogText();
  }
}
