// `qninet rdap`: asks RDAP about a domain, an address, an AS number, an entity or a name server
// (TQNRdapClient), the service found through IANA's bootstrap registries.

#include <cctype>
#include <iostream>
#include <map>

#include "WebContentRun.h"
#include "qninet/core/Url.h"
#include "qninet/rtl/JsonText.h"
#include "qninet/web/QNIRdap.h"

namespace qninet::tool {
namespace {

struct Options {
  std::string Kind = "auto";
  bool Follow = false;
  std::string BaseUrl;
  std::string BootstrapUrl = ToUtf8(kQNRdapBootstrapURL);
  std::string Query;
};

const std::map<std::string, TQNRdapQueryKind> kKinds{{"auto", rqAuto},     {"domain", rqDomain},
                                                     {"ip", rqIP},         {"autnum", rqAutnum},
                                                     {"entity", rqEntity}, {"nameserver", rqNameserver}};

template <class Item, class Fill>
nlohmann::ordered_json items_json(const TCollectionOf<Item>& list, Fill fill) {
  auto out = nlohmann::ordered_json::array();
  for (int i = 0; i < list.Count(); ++i) {
    nlohmann::ordered_json item;
    fill(*list.Items(i), item);
    out.push_back(std::move(item));
  }
  return out;
}

void put_results(Run& run, const TQNRdapClient& c) {
  auto& j = run.Json();
  j["RequestURL"] = ToUtf8(c.RequestURL());
  for (const auto& [name, value] : {std::pair{"Handle", &c.Handle()},
                                    {"LdhName", &c.LdhName()},
                                    {"UnicodeName", &c.UnicodeName()},
                                    {"NetworkName", &c.NetworkName()}})
    j[name] = ToUtf8(*value);
  j["RdapStatus"] = lines_json(*c.RdapStatus());
  j["Events"] = items_json(*c.Events(), [](const TQNRdapEvent& e, auto& o) {
    o = {{"Action", ToUtf8(e.Action())}, {"Date", ToUtf8(e.Date())}, {"Actor", ToUtf8(e.Actor())}};
  });
  j["Entities"] = items_json(*c.Entities(), [](const TQNRdapEntity& e, auto& o) {
    o = {{"Handle", ToUtf8(e.Handle())},     {"Roles", lines_json(*e.Roles())},
         {"FullName", ToUtf8(e.FullName())}, {"Organization", ToUtf8(e.Organization())},
         {"Email", ToUtf8(e.Email())},       {"Telephone", ToUtf8(e.Telephone())},
         {"Address", ToUtf8(e.Address())},   {"Depth", e.Depth()}};
  });
  j["Nameservers"] = lines_json(*c.Nameservers());
  j["DelegationSigned"] = c.DelegationSigned();
  j["Links"] = items_json(*c.Links(), [](const TQNRdapLink& l, auto& o) {
    o = {{"Rel", ToUtf8(l.Rel())}, {"Href", ToUtf8(l.Href())}, {"Type", ToUtf8(l.Type())}};
  });
  j["Notices"] = items_json(*c.Notices(), [](const TQNRdapNotice& n, auto& o) {
    o = {{"Title", ToUtf8(n.Title())}, {"Description", ToUtf8(n.Description())}};
  });
  j["Port43"] = ToUtf8(c.Port43());
  j["StartAddress"] = ToUtf8(c.StartAddress());
  j["EndAddress"] = ToUtf8(c.EndAddress());
  j["CIDR"] = lines_json(*c.CIDR());
  j["Country"] = ToUtf8(c.Country());
  // The answers were read whole once already; they are JSON objects within the bound.
  j["Answer"] = ParseJsonBounded(ToUtf8(c.Answer()), ToUtf8(c.RequestURL()));
  if (!c.RelatedAnswer().empty()) j["RelatedAnswer"] = ParseJsonBounded(ToUtf8(c.RelatedAnswer()), {});
}

// The first entity with `role`, or none.
const TQNRdapEntity* with_role(const TQNRdapClient& c, const char16_t* role) {
  for (int i = 0; i < c.Entities()->Count(); ++i)
    if (c.Entities()->Items(i)->HasRole(role)) return c.Entities()->Items(i);
  return nullptr;
}

std::string joined(const TStrings& list) {
  std::string out;
  for (int i = 0; i < list.Count(); ++i) out += (i ? ", " : "") + ToUtf8(list.Strings(i));
  return out;
}

// A few readable lines; a line without a value is left out.
void print_results(const TQNRdapClient& c) {
  const auto line = [](const char* label, const std::string& value) {
    if (!value.empty()) std::cout << label << ": " << value << '\n';
  };
  std::string name = ToUtf8(!c.UnicodeName().empty() ? c.UnicodeName() : c.LdhName());
  if (name.empty()) name = ToUtf8(c.NetworkName());
  line("Name", name);
  line("Handle", ToUtf8(c.Handle()));
  line("Status", joined(*c.RdapStatus()));
  if (!c.StartAddress().empty())
    line("Network", ToUtf8(c.StartAddress()) + " - " + ToUtf8(c.EndAddress()) +
                        (c.CIDR()->Count() ? " (" + joined(*c.CIDR()) + ")" : ""));
  line("Country", ToUtf8(c.Country()));
  for (int i = 0; i < c.Events()->Count(); ++i) {
    std::string action = ToUtf8(c.Events()->Items(i)->Action());
    if (!action.empty()) action[0] = static_cast<char>(std::toupper(static_cast<unsigned char>(action[0])));
    line(action.c_str(), ToUtf8(c.Events()->Items(i)->Date()));
  }
  if (const TQNRdapEntity* r = with_role(c, u"registrar"))
    line("Registrar", ToUtf8(!r->FullName().empty() ? r->FullName() : r->Organization()) +
                          (r->Handle().empty() ? "" : " (" + ToUtf8(r->Handle()) + ")"));
  line("Name servers", joined(*c.Nameservers()));
  if (const TQNRdapEntity* a = with_role(c, u"abuse")) {
    std::string contact = ToUtf8(a->Email());
    if (!a->Telephone().empty()) contact += (contact.empty() ? "" : ", ") + ToUtf8(a->Telephone());
    line("Abuse contact", contact);
  }
}

int run(Run& run, const Options& o) {
  TQNRdapClient c(nullptr);
  c.SetQuery(FromUtf8(o.Query));
  c.SetQueryKind(kKinds.at(o.Kind));
  c.SetFollowRelated(o.Follow);
  c.SetBootstrapURL(FromUtf8(o.BootstrapUrl));
  std::string base = o.BaseUrl;
  if (const CommonOptions& common = run.Options(); !common.Host.empty()) {
    String why;
    auto hp = HostPort::Parse(common.Host, 443, &why);
    if (!hp) return run.Fail(exBadInput, "--host " + common.Host, ToUtf8(why));
    if (common.Port > 0) hp->Port = static_cast<std::uint16_t>(common.Port);
    base = "https://" + hp->ToString() + "/";
  }
  if (!base.empty()) {
    String why;
    const auto url = Url::Parse(base, &why);
    if (!url) return run.Fail(exBadInput, base, ToUtf8(why));
    if (url->Scheme() != "http" && url->Scheme() != "https")
      return run.Fail(exBadInput, base, "--base-url wants an http:// or https:// URL");
    c.SetBaseURL(FromUtf8(base));
  }
  if (const int code = run.Configure(c)) return code;
  run.Json()["Query"] = o.Query;
  c.Execute();
  for (const auto& [word, kind] : kKinds)
    if (kind == c.AskedKind()) run.Json()["Kind"] = word;
  if (c.Status() == isFailed || c.Status() == isNotFound) {
    // A failure that names the server's endpoint is said after it; any other after the URL.
    const std::string text = ToUtf8(c.LastErrorText());
    std::string about = ToUtf8(c.RequestURL());
    if (const auto url = Url::Parse(about); url && text.starts_with(url->Endpoint().ToString() + ": "))
      about = url->Endpoint().ToString();
    if (c.Status() == isNotFound) return run.Fail(exNotFound, about, text);
    // Nothing was asked: the query itself was refused.
    return run.Fail(c.RequestURL().empty() ? exBadInput : exFailed, about, text);
  }
  if (!c.LastErrorText().empty() && !run.Options().Quiet)
    std::cerr << "qninet rdap: " << ToUtf8(c.LastErrorText()) << '\n';
  report_rdap(run, c);
  return exOk;
}

}  // namespace

void report_rdap(Run& run, const TQNRdapClient& c) {
  put_results(run, c);
  if (!run.Options().Json) print_results(c);
}

namespace {

const CommandRegistrar registrar(110, [](CLI::App& app, RunState& state) {
  auto o = std::make_shared<Options>();
  auto* cmd = add_command(app, state, "rdap",
                          "Ask RDAP (JSON over HTTPS) about a domain, an IP address or prefix, an AS number, "
                          "an entity or a name server",
                          Offer{.Host = "found through the bootstrap registries, port 443",
                                .Timeout = 60,
                                .Proxy = true,
                                .CaCert = true},
                          [o](Run& r) { return run(r, *o); });
  cmd->footer(
      "The service comes from IANA's bootstrap registries (dns.json, ipv4.json, ipv6.json,\n"
      "asn.json; cached in $XDG_CACHE_HOME/qninet/rdap, else ~/.cache/qninet/rdap) unless --base-url\n"
      "or --host names it. Unicode domains go out as A-labels. Prints name, status, dates,\n"
      "registrar, name servers and abuse contact; --json gives the typed fields and \"Answer\".\n"
      "Exit codes: 0 found; 1 the query failed (unreachable, 429 with its Retry-After, an error\n"
      "answer, no RDAP JSON); 2 bad options or query; 3 not found (404, no RDAP service for it).\n"
      "Example: qninet rdap --base-url https://rdap.example/ example.com");
  cmd->add_option("--kind", o->Kind, "What QUERY is: auto (default), domain, ip, autnum, entity, nameserver")
      ->check(CLI::IsMember({"auto", "domain", "ip", "autnum", "entity", "nameserver"}));
  cmd->add_flag("--follow", o->Follow, "Ask the registrar's RDAP service too (a \"related\" link), once");
  cmd->add_option("--base-url", o->BaseUrl, "The RDAP service to ask, skipping the bootstrap");
  cmd->add_option("--bootstrap-url", o->BootstrapUrl,
                  "Where the bootstrap registries lie (default " + o->BootstrapUrl + ")");
  cmd->add_option("QUERY", o->Query,
                  "Domain, IP address or prefix, AS number (AS15169), entity handle, name server")
      ->required();
});

}  // namespace
}  // namespace qninet::tool
