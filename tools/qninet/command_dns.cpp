// `qninet dns`: ask a DNS server over TCP and print the answer as dig prints its records.

#include <fstream>
#include <iostream>
#include <sstream>

#include <nlohmann/json.hpp>

#include "Command.h"
#include "Loopback.h"
#include "qninet/socket/QNIDNS.h"

namespace qninet::tool {
namespace {

struct Options {
  std::string Server;
  int Port = 53;
  std::string Types = "A";
  bool Raw = false;
  bool Json = false;
  bool NoLengthPrefix = false;
  int Timeout = 0;
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
    list.push_back({{"name", ToUtf8(r.Name)},
                    {"type", ToUtf8(DNSTypeName(r.Type))},
                    {"class", ToUtf8(DNSClassName(r.Class))},
                    {"ttl", r.TTL},
                    {"data", ToUtf8(r.Data)}});
  return list;
}

int run(const Options& o) {
  std::vector<TQNIDNSRequest> requests;
  std::stringstream types(o.Types);
  for (std::string t; std::getline(types, t, ',');) {
    if (t.empty()) continue;
    TQNIDNSRequest r = irA;
    if (!DNSRequestFromName(FromUtf8(t), r)) {
      std::cerr << "qninet dns: unknown record type " << t
                << " (A NS CNAME SOA MB MG MR NULL WKS PTR HINFO MINFO MX TXT AXFR MAILB ANY)\n";
      return 2;
    }
    requests.push_back(r);
  }
  if (requests.empty()) requests.push_back(irA);

  TQNIDNSReply all;
  std::string raw;
  for (TQNIDNSRequest r : requests) {
    // One question per message: servers answer the first question of a message only.
    TQNIDNSResolver c(nullptr);
    c.SetHost(FromUtf8(o.Server.empty() ? system_name_server() : o.Server));
    c.SetPort(o.Port);
    c.SetLengthPrefix(!o.NoLengthPrefix);
    if (o.Timeout > 0) c.SetTimeout(o.Timeout);
    c.SetRequests({r});
    c.SetDomain(FromUtf8(o.Name));
    String reply;
    try {
      reply = c.Execute();
    } catch (const Exception& e) {
      std::cerr << "qninet dns: " << e.what() << '\n';
      return 1;
    }
    if (!c.LastError().empty()) {
      std::cerr << "qninet dns: " << ToUtf8(c.LastError()) << '\n';
      return 1;
    }
    raw += ToBytes(reply);
    if (o.Raw) continue;
    TQNIDNSReply decoded;
    String error;
    if (!DNSDecodeReply(reply, decoded, error)) {
      std::cerr << "qninet dns: the reply cannot be read: " << ToUtf8(error) << '\n';
      return 1;
    }
    if (decoded.RCode() != 0)
      std::cerr << "qninet dns: " << ToUtf8(DNSTypeName(DNSRequestTypeCode(r))) << " " << o.Name
                << ": status " << ToUtf8(DNSRCodeName(decoded.RCode())) << '\n';
    for (auto part : {&TQNIDNSReply::Answers, &TQNIDNSReply::Authority, &TQNIDNSReply::Additional})
      for (auto& rec : decoded.*part) (all.*part).push_back(rec);
  }
  if (o.Raw) {
    std::cout << raw;
  } else if (o.Json) {
    const nlohmann::ordered_json j = {{"answers", records_json(all.Answers)},
                                      {"authority", records_json(all.Authority)},
                                      {"additional", records_json(all.Additional)}};
    std::cout << j.dump() << '\n';
  } else {
    for (const auto& rec : all.Answers) std::cout << ToUtf8(DNSRecordLine(rec)) << '\n';
  }
  return 0;
}

const CommandRegistrar registrar(210, [](CLI::App& app, RunState& state) {
  auto* cmd = app.add_subcommand("dns", "Ask a DNS server over TCP and print the answer records");
  auto o = std::make_shared<Options>();
  cmd->add_option("--server", o->Server,
                  "DNS server name or address (default: the first of /etc/resolv.conf)");
  cmd->add_option("--port", o->Port, "TCP port")->check(CLI::Range(1, 65535))->capture_default_str();
  cmd->add_option("--type", o->Types,
                  "Record types, comma-separated: A NS CNAME SOA MB MG MR NULL WKS PTR "
                  "HINFO MINFO MX TXT AXFR MAILB ANY (PTR takes an IPv4 address)")
      ->capture_default_str();
  cmd->add_flag("--raw", o->Raw, "Write the reply bytes (without the length field) to standard output");
  cmd->add_flag("--json", o->Json, "Print the answer, authority and additional records as JSON");
  cmd->add_flag("--no-length-prefix", o->NoLengthPrefix,
                "Send the query without the TCP length field, followed by the engine's header block");
  cmd->add_option("--timeout", o->Timeout, "Milliseconds the connect and each read may take (default 60000)")
      ->check(CLI::NonNegativeNumber);
  cmd->add_option("NAME", o->Name, "The name to ask about")->required();
  cmd->footer(
      "Prints one record a line: name TTL class type data. A status other than NOERROR is\n"
      "reported on standard error.");
  cmd->callback([&state, o] { state.ExitCode = run(*o); });
});

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
      loopback::TcpServer server(1, loopback::TcpServer::FramedComplete, demo_dns_answer);
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
