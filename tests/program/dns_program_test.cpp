// `qninet dns` with several types and with a PTR question about something that is no address.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "Qninet.h"
#include "harness/Dnsmasq.h"

using namespace qninet::harness;

// A PTR question about a name is refused before anything is sent (the closed port would
// otherwise refuse the datagram, exit 1); several types give one reply code each (dnsmasq's --address
// answers an A question and calls the name absent for any other type).
TEST(ProgramDnsTypes, PointerNeedsAnAddressAndEachTypeHasItsReplyCode) {
  Dnsmasq dns({"--address=/www.test/10.1.2.3", "--local=/test/"});
  const std::string host = "127.0.0.1:" + std::to_string(dns.Port());
  ExpectRun({{"dns", "--host", "127.0.0.1:1", "--type", "A,PTR", "notanip"},
             2,
             "",
             {"qninet dns: --type PTR needs an IPv4 or IPv6 address, not 'notanip'"}});
  ExpectRun({{"dns", "--host", host, "--type", "MX,A", "www.test"}, 3, "www.test. 0 IN A 10.1.2.3\n"});
  const struct {
    const char* Name;
    int Exit;
    const char* Types;  // "TYPE RCODE" of each entry, in the order asked
  } rows[] = {{"www.test", 3, "A NOERROR,MX NXDOMAIN,"}, {"nothing.test", 3, "A NXDOMAIN,MX NXDOMAIN,"}};
  for (const auto& row : rows) {
    SCOPED_TRACE(row.Name);
    const auto r = ExpectRun({{"dns", "--host", host, "--type", "MX,A", "--json", row.Name}, row.Exit});
    const auto j = nlohmann::json::parse(r.Stdout);
    std::string types;
    for (const auto& entry : j["Types"])
      types += entry["Type"].get<std::string>() + " " + entry["RCode"].get<std::string>() + ",";
    EXPECT_EQ(types, row.Types);
  }
}
