// `qninet dns`: ask a DNS server over UDP (as dig does), TCP, TLS or HTTPS and print the answer
// as dig prints its records.

#include <algorithm>
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

std::string dump(const nlohmann::ordered_json& j) {
  return j.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
}

const std::vector<TQNIDNSRecord>& section(const TQNIDNSReply& reply, int s) {
  return s == 0 ? reply.Answers : s == 1 ? reply.Authority : reply.Additional;
}

// The JSON object Run::Finish would write (status, error, the fields, then the three record
// lists of every type), written a record at a time: no reply is held as its whole rendering.
// With several types, "Types" gives each its own reply code.
void write_json(Run& run, int code, const TQNIDNSResolver& c) {
  nlohmann::ordered_json head = {{"status", status_word(code)}};
  if (code != exOk && !run.Error().empty()) head["error"] = run.Error();
  for (auto& [key, value] : run.Json().items()) head[key] = value;
  std::string text = dump(head);
  text.pop_back();  // the closing brace: the lists follow
  std::cout << text;
  const char* names[] = {"Answers", "Authority", "Additional"};
  for (int s = 0; s < 3; ++s) {
    std::cout << ',' << dump(names[s]) << ":[";
    bool first = true;
    for (const TQNIDNSResult& result : c.Results())
      for (const TQNIDNSRecord& r : section(result.Reply, s)) {
        // The EDNS(0) record is no record of the answer (dig shows it apart, as a pseudo-section).
        if (r.Type == 41) continue;
        std::cout << (first ? "" : ",")
                  << dump({{"Name", ToUtf8(r.Name())},
                           {"Type", ToUtf8(DNSTypeName(r.Type))},
                           {"Class", ToUtf8(DNSClassName(r.Class))},
                           {"TTL", r.TTL},
                           {"Data", ToUtf8(r.Data())}});
        first = false;
      }
    std::cout << ']';
  }
  if (c.Results().size() > 1) {
    nlohmann::ordered_json types = nlohmann::ordered_json::array();
    for (const TQNIDNSResult& result : c.Results())
      types.push_back({{"Type", ToUtf8(DNSTypeName(DNSRequestTypeCode(result.Request)))},
                       {"RCode", ToUtf8(DNSRCodeName(result.RCode()))}});
    std::cout << ",\"Types\":" << dump(types);
  }
  std::cout << "}\n";
  run.WroteJson();
}

// Whether `text` is an IPv4 address in dotted form: four decimal numbers 0 to 255.
bool dotted_ipv4(const std::string& text) {
  int parts = 0;
  for (std::size_t at = 0; at <= text.size(); ++parts) {
    const std::size_t dot = std::min(text.find('.', at), text.size());
    const std::string part = text.substr(at, dot - at);
    if (part.empty() || part.size() > 3 || part.find_first_not_of("0123456789") != std::string::npos ||
        std::stoi(part) > 255)
      return false;
    at = dot + 1;
  }
  return parts == 4;
}

// The types of --type, in the enumeration's order; exBadInput after reporting a name no request
// asks for, or a PTR question about something that is no address.
int parse_types(Run& run, const Options& o, TQNIDNSRequests& requests) {
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
    requests.Include(r);
  }
  if (requests.Empty()) requests.Include(irA);
  // A PTR question reverses an address under in-addr.arpa or ip6.arpa: anything else would ask
  // the server about a name made of its labels turned round.
  std::uint8_t v6[16];
  if (requests.Contains(irPTR) && !dotted_ipv4(o.Name) && !DNSParseIPv6(FromUtf8(o.Name), v6))
    return run.Fail(exBadInput, "", "--type PTR needs an IPv4 or IPv6 address, not '" + o.Name + "'");
  return exOk;
}

int run(Run& run, const Options& o) {
  TQNIDNSRequests requests;
  if (const int code = parse_types(run, o, requests)) return code;
  TQNIDNSResolver c(nullptr);
  c.SetHost(FromUtf8(system_name_server()));
  c.SetTransport(!o.Https.empty() ? dtHTTPS : o.Tls ? dtTLS : o.Tcp || o.NoLengthPrefix ? dtTCP : dtUDP);
  c.SetLengthPrefix(!o.NoLengthPrefix);
  c.SetRequests(requests);
  c.SetDomain(FromUtf8(o.Name));
  c.SetTLSAuthName(FromUtf8(o.TlsAuthName));
  c.SetDoHMethod(o.HttpsGet ? dmGET : dmPOST);
  if (const int code = run.Configure(c)) return code;
  try {
    c.SetDoHURL(FromUtf8(o.Https));
  } catch (const Exception& e) {
    return run.Fail(exBadInput, "--https", e.what());
  }
  String replies;
  if (const int code = run.Execute(c, replies)) return code;
  if (o.Raw) {
    std::cout << ToBytes(replies);
    return exOk;
  }
  unsigned rcode = 0;
  int result = exOk;
  for (const TQNIDNSResult& r : c.Results()) {
    if (!r.Error.empty())
      return run.Fail(exFailed, Run::Endpoint(c), "the reply cannot be read: " + ToUtf8(r.Error));
    if (r.RCode() != 0 && rcode == 0) {
      rcode = r.RCode();
      // NXDOMAIN: the name does not exist; any other code is the server's refusal or failure.
      result = run.Fail(rcode == 3 ? exNotFound : exFailed, Run::Endpoint(c),
                        ToUtf8(DNSTypeName(DNSRequestTypeCode(r.Request))) + " " + o.Name + ": status " +
                            ToUtf8(DNSRCodeName(rcode)));
    }
  }
  if (run.Options().Json) {
    run.Json()["RCode"] = ToUtf8(DNSRCodeName(rcode));
    write_json(run, result, c);
  } else {
    for (const TQNIDNSResult& r : c.Results())
      for (const TQNIDNSRecord& rec : r.Reply.Answers) std::cout << ToUtf8(DNSRecordLine(rec)) << '\n';
  }
  return result;
}

const CommandRegistrar registrar(210, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<Options>();
  auto* cmd = add_command(app, state, "dns",
                          "Ask a DNS server over UDP, TCP, TLS or HTTPS and print the answer records",
                          Offer{.Host = "the first name server of /etc/resolv.conf, port 53 (853 with --tls)",
                                .Timeout = 60,
                                .Proxy = true,
                                .HostNames = "--host,--server",
                                .CaCert = true},
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
                  "IPv4 or IPv6 address); several are asked one message each, answered in this order")
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
      "Type, Class, TTL and Data; with several types also \"Types\", one {\"Type\", \"RCode\"} each.\n"
      "Example: qninet dns --type A,MX example.org");
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
      return decoded.Answers.size() == 1 && decoded.Answers[0].Data() == u"10.1.2.3";
    }});

}  // namespace
}  // namespace qninet::tool
