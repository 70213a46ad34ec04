// `qninet dns`: ask a DNS server over UDP (as dig does), TCP, TLS or HTTPS and print the answer
// as dig prints its records.

#include <fstream>
#include <iostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "Loopback.h"
#include "Options.h"
#include "qninet/socket/QNIDNS.h"

namespace qninet::tool {
namespace {

struct Options {
  std::string Types = "A";
  bool Raw = false;
  bool NoLengthPrefix = false;
  bool Tcp = false;
  bool Tls = false;
  std::string Https;  ///< the DNS-over-HTTPS URL
  bool HttpsGet = false;
  std::string TlsAuthName;
  std::string Name;
};

// The first name server of /etc/resolv.conf, else the local host.
std::string system_name_server() {
  std::ifstream in("/etc/resolv.conf");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream words(line);
    std::string key, value;
    if (words >> key >> value && key == "nameserver") return value;
  }
  return "127.0.0.1";
}

nlohmann::ordered_json records_json(const std::vector<TQNIDNSRecord>& records) {
  auto list = nlohmann::ordered_json::array();
  for (const auto& r : records)
    // The EDNS(0) record is no record of the answer (dig shows it apart, as a pseudo-section).
    if (r.Type != 41)
      list.push_back({{"Name", ToUtf8(r.Name)},
                      {"Type", ToUtf8(DNSTypeName(r.Type))},
                      {"Class", ToUtf8(DNSClassName(r.Class))},
                      {"TTL", r.TTL},
                      {"Data", ToUtf8(r.Data)}});
  return list;
}

int run(Run& run, const Options& o) {
  std::vector<TQNIDNSRequest> requests;
  std::stringstream types(o.Types);
  for (std::string t; std::getline(types, t, ',');) {
    if (t.empty()) continue;
    TQNIDNSRequest r = irA;
    if (!DNSRequestFromName(FromUtf8(t), r))
      return run.Fail(
          exBadInput, "",
          "unknown record type " + t +
              " (A NS CNAME SOA MB MG MR NULL WKS PTR HINFO MINFO MX TXT AXFR MAILB ANY AAAA SRV NAPTR "
              "DS RRSIG DNSKEY CAA)");
    requests.push_back(r);
  }
  if (requests.empty()) requests.push_back(irA);

  TQNIDNSReply all;
  std::string raw;
  unsigned rcode = 0;
  int result = exOk;
  for (TQNIDNSRequest r : requests) {
    // One question per message: servers answer the first question of a message only.
    TQNIDNSResolver c(nullptr);
    c.SetHost(FromUtf8(system_name_server()));
    c.SetTransport(!o.Https.empty() ? dtHTTPS : o.Tls ? dtTLS : o.Tcp || o.NoLengthPrefix ? dtTCP : dtUDP);
    c.SetLengthPrefix(!o.NoLengthPrefix);
    c.SetRequests({r});
    c.SetDomain(FromUtf8(o.Name));
    c.SetTLSAuthName(FromUtf8(o.TlsAuthName));
    c.SetDoHMethod(o.HttpsGet ? dmGET : dmPOST);
    String reply;
    if (const int code = run.Configure(c)) return code;
    try {
      c.SetDoHURL(FromUtf8(o.Https));
    } catch (const Exception& e) {
      return run.Fail(exBadInput, "--https", e.what());
    }
    if (const int code = run.Execute(c, reply)) return code;
    raw += ToBytes(reply);
    if (o.Raw) continue;
    TQNIDNSReply decoded;
    String error;
    if (!DNSDecodeReply(reply, decoded, error))
      return run.Fail(exFailed, Run::Endpoint(c), "the reply cannot be read: " + ToUtf8(error));
    if (decoded.RCode() != 0 && rcode == 0) {
      rcode = decoded.RCode();
      // NXDOMAIN: the name does not exist; any other code is the server's refusal or failure.
      result = run.Fail(rcode == 3 ? exNotFound : exFailed, Run::Endpoint(c),
                        ToUtf8(DNSTypeName(DNSRequestTypeCode(r))) + " " + o.Name + ": status " +
                            ToUtf8(DNSRCodeName(rcode)));
    }
    for (auto part : {&TQNIDNSReply::Answers, &TQNIDNSReply::Authority, &TQNIDNSReply::Additional})
      for (auto& rec : decoded.*part) (all.*part).push_back(rec);
  }
  if (o.Raw) {
    std::cout << raw;
  } else if (run.Options().Json) {
    run.Json()["RCode"] = ToUtf8(DNSRCodeName(rcode));
    run.Json()["Answers"] = records_json(all.Answers);
    run.Json()["Authority"] = records_json(all.Authority);
    run.Json()["Additional"] = records_json(all.Additional);
  } else {
    for (const auto& rec : all.Answers) std::cout << ToUtf8(DNSRecordLine(rec)) << '\n';
  }
  return result;
}

const CommandRegistrar registrar(210, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<Options>();
  auto* cmd = add_command(app, state, "dns",
                          "Ask a DNS server over UDP, TCP, TLS or HTTPS and print the answer records",
                          Offer{"the first name server of /etc/resolv.conf, port 53 (853 with --tls)", 60,
                                true, true, "--host,--server", true},
                          [o](Run& r) { return run(r, *o); });
  auto* tcp = cmd->add_flag("--tcp", o->Tcp, "Ask over TCP instead of UDP");
  auto* tls = cmd->add_flag("--tls", o->Tls, "Ask over TLS (DNS over TLS, port 853)")->excludes(tcp);
  cmd->add_option("--https", o->Https,
                  "Ask over HTTPS (DNS over HTTPS) at this URL, e.g. https://host/dns-query")
      ->excludes(tcp)
      ->excludes(tls);
  cmd->add_flag("--https-get", o->HttpsGet, "With --https: a GET with ?dns= instead of a POST")
      ->needs(cmd->get_option("--https"));
  cmd->add_option("--tls-auth-name", o->TlsAuthName,
                  "With --tls: the name the server's certificate must carry (default: the server's)")
      ->needs(tls);
  cmd->add_option("--type", o->Types,
                  "Record types, comma-separated: A NS CNAME SOA MB MG MR NULL WKS PTR "
                  "HINFO MINFO MX TXT AXFR MAILB ANY AAAA SRV NAPTR DS RRSIG DNSKEY CAA (PTR takes an "
                  "IPv4 or IPv6 address)")
      ->capture_default_str();
  cmd->add_flag("--raw", o->Raw, "Write the reply bytes (without the length field) to standard output")
      ->excludes(cmd->get_option("--json"));
  cmd->add_flag("--no-length-prefix", o->NoLengthPrefix,
                "TCP: send the query without the length field, followed by the engine's header block")
      ->excludes(tls)
      ->excludes(cmd->get_option("--https"));
  cmd->add_option("NAME", o->Name, "The name to ask about")->required();
  cmd->footer(
      "Asks over UDP with EDNS(0) and again over TCP when the answer is truncated, as dig does.\n"
      "Prints one record a line: name TTL class type data. A status other than NOERROR is\n"
      "reported on standard error: NXDOMAIN exits 3, any other status 1. --json gives\n"
      "{\"status\", \"RCode\", \"Answers\", \"Authority\", \"Additional\"}, each record with Name,\n"
      "Type, Class, TTL and Data.");
});

// A DNS message behind its two-byte length.
bool framed_complete(const std::string& r) {
  return r.size() >= 2 &&
         r.size() >= 2u + ((static_cast<unsigned char>(r[0]) << 8) | static_cast<unsigned char>(r[1]));
}

// The demo's DNS server answers every A question with 10.1.2.3.
std::string demo_dns_answer(const std::string& framed) {
  if (framed.size() < 2 + 12) return std::string();
  const std::string q = framed.substr(2);
  std::size_t end = 12;
  while (end < q.size() && q[end] != 0) end += 1 + static_cast<unsigned char>(q[end]);
  end += 5;  // root label, type, class
  if (end > q.size()) return std::string();
  std::string m =
      q.substr(0, 2) + std::string("\x85\x80\x00\x01\x00\x01\x00\x00\x00\x00", 10) + q.substr(12, end - 12);
  m += std::string("\xC0\x0C\x00\x01\x00\x01\x00\x00\x0E\x10\x00\x04\x0A\x01\x02\x03", 16);
  return std::string{static_cast<char>(m.size() >> 8), static_cast<char>(m.size() & 0xFF)} + m;
}

const DemoRegistrar demo(DemoStep{
    210, "DNS resolver: a query over TCP, the reply decoded", [](std::ostream& out) {
      loopback::ScriptedServer server(loopback::Script().Reply(framed_complete, demo_dns_answer));
      TQNIDNSResolver r(nullptr);
      r.SetHost(u"127.0.0.1");
      r.SetPort(server.Port());
      r.SetTimeout(5000);
      r.SetRequests({irA});
      r.SetDomain(u"www.demo.test");
      const String reply = r.Execute();
      TQNIDNSReply decoded;
      String error;
      if (!DNSDecodeReply(reply, decoded, error)) {
        out << "reply not readable: " << ToUtf8(error.empty() ? r.LastError() : error) << '\n';
        return false;
      }
      out << "asked 127.0.0.1:" << server.Port() << " for www.demo.test A; " << reply.size()
          << " bytes back:\n";
      for (const auto& rec : decoded.Answers) out << "  " << ToUtf8(DNSRecordLine(rec)) << '\n';
      return decoded.Answers.size() == 1 && decoded.Answers[0].Data == u"10.1.2.3";
    }});

}  // namespace
}  // namespace qninet::tool
