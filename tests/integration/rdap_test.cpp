// The RDAP client against nginx and lighttpd over HTTPS, serving IANA-style bootstrap files and
// RFC 9083's example objects (tests/fixtures/rdap, "{BASE}" for the server's URL), and from each
// server's own configuration a 429 with Retry-After, a 418 with an error object, redirect chains
// of 5 and 6, and a 406 without the RDAP Accept.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>

#include "harness/ServerLaunch.h"
#include "qninet/web/QNIRdap.h"
#include "support/NoSystemProxy.h"

namespace fs = std::filesystem;
using namespace qninet;
using harness::ReadFileText;

namespace {

const std::string kFixtures = std::string(QNINET_FIXTURES_DIR) + "/rdap";

std::unique_ptr<harness::WebServer> configured(const std::string& name) {
  const auto one_line = [](std::string s) { return std::erase(s, '\n'), s; };
  const std::string busy = one_line(ReadFileText(kFixtures + "/errors/busy.json"));
  const std::string teapot = one_line(ReadFileText(kFixtures + "/errors/teapot.json"));
  if (name == "nginx") {
    auto web = std::make_unique<harness::Nginx>(true);
    web->AddLocation(R"(location /rdap/ { if ($http_accept !~* "application/rdap\+json") { return 406; } }
    location = /rdap/domain/busy.example { add_header Retry-After 120 always; return 429 ')" +
                     busy + R"('; }
    location = /rdap/domain/teapot.example { return 418 ')" +
                     teapot + R"('; }
    location /hop/ { rewrite ^/hop/a(a*b)/(.*)$ /hop/$1/$2 redirect; rewrite ^/hop/b/(.*)$ /rdap/$1 redirect; })");
    return web;
  }
  auto web = std::make_unique<harness::Lighttpd>(true);
  web->AddConfig(R"(server.modules += ("mod_redirect", "mod_cgi")
url.redirect = ("^/hop/a(a*b)/(.*)$" => "/hop/$1/$2", "^/hop/b/(.*)$" => "/rdap/$1")
url.redirect-code = 302
$HTTP["url"] =~ "^/rdap/" {
  $REQUEST_HEADER["Accept"] !~ "application/rdap\+json" { url.access-deny = ("") }
  $HTTP["url"] =~ "^/rdap/domain/(busy|teapot)\.example$" { cgi.assign = ("" => "/bin/sh") }
})");
  web->WriteFile("rdap/domain/busy.example",
                 "printf 'Status: 429\\r\\nRetry-After: 120\\r\\n\\r\\n%s' '" + busy + "'\n");
  web->WriteFile("rdap/domain/teapot.example", "printf 'Status: 418\\r\\n\\r\\n%s' '" + teapot + "'\n");
  return web;
}

// Each result in one line, so a row names what it expects as pieces of it.
std::string summary(const TQNRdapClient& c) {
  std::ostringstream s;
  const auto list = [](const TStrings& l) {
    std::string out;
    for (int i = 0; i < l.Count(); ++i) out.append(i ? "," : "").append(ToUtf8(l.Strings(i)));
    return out;
  };
  s << "handle=" << ToUtf8(c.Handle()) << " ldh=" << ToUtf8(c.LdhName())
    << " unicode=" << ToUtf8(c.UnicodeName()) << " name=" << ToUtf8(c.NetworkName())
    << " status=" << list(*c.RdapStatus()) << " ns=" << list(*c.Nameservers())
    << " signed=" << c.DelegationSigned() << " cidr=" << list(*c.CIDR())
    << " start=" << ToUtf8(c.StartAddress()) << " end=" << ToUtf8(c.EndAddress())
    << " country=" << ToUtf8(c.Country()) << " port43=" << ToUtf8(c.Port43());
  for (int i = 0; i < c.Events()->Count(); ++i)
    s << " " << ToUtf8(c.Events()->Items(i)->Action()) << "=" << ToUtf8(c.Events()->Items(i)->Date());
  for (int i = 0; i < c.Links()->Count(); ++i) s << " link:" << ToUtf8(c.Links()->Items(i)->Rel());
  for (int i = 0; i < c.Notices()->Count(); ++i) s << " notice:" << ToUtf8(c.Notices()->Items(i)->Title());
  for (int i = 0; i < c.Entities()->Count(); ++i) {
    const TQNRdapEntity& e = *c.Entities()->Items(i);
    s << " " << std::string(e.Depth(), '>') << ToUtf8(e.Handle()) << "[" << list(*e.Roles()) << "]"
      << ToUtf8(e.FullName()) << "|" << ToUtf8(e.Organization()) << "|" << ToUtf8(e.Email()) << "|"
      << ToUtf8(e.Telephone()) << "|" << ToUtf8(e.Address());
  }
  return s.str();
}

}  // namespace

TEST(RdapPeers, BootstrapAnswersRedirectsAndRefusalsAgainstNginxAndLighttpd) {
  test_support::NoSystemProxy noProxy;
  harness::TempDir cache("qninet-rdap-cache");
  ::setenv("XDG_CACHE_HOME", cache.Path().c_str(), 1);
  const std::string registrant =
      "XXXX[registrant]Joe User|Example|joe.user@example.com|+1-555-555-1234;ext=102|Suite 1234, 4321 Rue "
      "Somewhere, Quebec, QC, G1V 2M2, Canada";
  const struct {
    const char* Query;
    TQNRdapQueryKind Kind;
    const char* Base;  // a path on the server; none: the bootstrap
    bool Follow;
    TQNIStatus Status;
    std::vector<std::string> Pieces;  // of the summary, or of LastErrorText
  } rows[] = {
      // clang-format off
      {"f\xC3\xB3o.example", rqAuto, nullptr, false, isFinished,
       {"handle=XXXX ldh=xn--fo-5ja.example unicode=f\xC3\xB3o.example", "status=locked,transfer prohibited",
        "ns=ns1.example.com,ns2.example.com signed=1", "port43=whois.example.net",
        "registration=1990-12-31T23:59:59Z last changed=1991-12-31T23:59:59Z",
        "expiration=2016-12-31T23:59:59Z link:self link:related notice:Terms of Use notice: " + registrant}},
      {"F\xC3\x93O.example.", rqDomain, nullptr, true, isFinished,
       {"Canada 292[registrar]Example Registrar Inc.||||",
        ">[abuse]Abuse Desk||abuse@registrar.example|+1.5555551111|1 Main St,Springfield"}},
      {"192.0.2.7", rqAuto, nullptr, false, isFinished,
       {"handle=XXXX-RIR", "name=NET-RTR-1 status=active", "cidr=192.0.2.0/24 start=192.0.2.0 end=192.0.2.255 country=AU"}},
      {"2001:DB8::1", rqAuto, nullptr, false, isFinished,
       {"cidr=2001:db8::/48 start=2001:db8:: end=2001:db8:0:ffff:ffff:ffff:ffff:ffff", "link:up notice: XXXX[registrant]"}},
      {"AS65536", rqAuto, nullptr, false, isFinished, {"handle=XXXX-RIR", "name=AS-RTR-1", "XXXX[registrant]Joe User|Example"}},
      {"XXXX", rqAuto, "/rdap", false, isFinished,
       {"XXXX[registrar]Joe User|Example|joe.user@example.com|+1-555-555-1234;ext=102|Suite 1234"}},
      {"ns1.f\xC3\xB3o.example", rqNameserver, nullptr, false, isFinished,
       {"ldh=ns1.xn--fo-5ja.example unicode=ns1.f\xC3\xB3o.example"}},
      {"f\xC3\xB3o.example", rqAuto, "/hop/aaaab/", false, isFinished, {"ldh=xn--fo-5ja.example"}},
      {"f\xC3\xB3o.example", rqAuto, "/hop/aaaaab/", false, isFailed, {"edirect"}},
      {"busy.example", rqAuto, "/rdap/", false, isFailed, {"HTTP 429: Too Many Requests: Slow down. (Retry-After: 120)"}},
      {"teapot.example", rqAuto, "/rdap/", false, isFailed,
       {"HTTP 418: Your Beverage Choice is Not Available: I know coffee has more ummppphhh. Sorry, dude!"}},
      {"deep.example", rqAuto, "/rdap/", false, isFailed, {"/rdap/domain/deep.example: Invalid RDAP answer"}},
      {"missing.example", rqAuto, "/rdap/", false, isNotFound, {"HTTP 404"}},
      {"example.org", rqAuto, nullptr, false, isNotFound, {"no RDAP service for example.org"}},
      {"64500", rqAuto, nullptr, false, isNotFound, {"HTTP 404"}},  // the shorter range's service
      {"AS4294967296", rqAuto, nullptr, false, isFailed, {"not an AS number"}},
      // clang-format on
  };
  for (const std::string name : {"nginx", "lighttpd"}) {
    SCOPED_TRACE(name);
    auto web = configured(name);
    const std::string base = web->HttpsUrl("");
    for (const auto& entry : fs::recursive_directory_iterator(kFixtures)) {
      if (!entry.is_regular_file()) continue;
      std::string text = ReadFileText(entry.path());
      for (auto at = text.find("{BASE}"); at != std::string::npos; at = text.find("{BASE}"))
        text.replace(at, 6, base);
      web->WriteFile(fs::relative(entry.path(), kFixtures).string(), text);
    }
    web->WriteFile("rdap/domain/deep.example",
                   "{\"a\":" + std::string(300, '[') + std::string(300, ']') + "}");
    try {
      web->Start();
    } catch (const harness::Unavailable& e) {
      GTEST_SKIP() << e.what();
    }
    for (const auto& row : rows) {
      SCOPED_TRACE(row.Query);
      TQNRdapClient c(nullptr);
      c.SetQuery(FromUtf8(row.Query));
      c.SetQueryKind(row.Kind);
      c.SetFollowRelated(row.Follow);
      c.SetBootstrapURL(FromUtf8(base + "/bootstrap/"));
      if (row.Base) c.SetBaseURL(FromUtf8(base + row.Base));
      c.SetCAFile(FromUtf8(web->CA()->CaCert().string()));
      c.SetTimeout(10000);
      c.Execute();
      EXPECT_EQ(c.Status(), row.Status) << ToUtf8(c.LastErrorText());
      const std::string got = row.Status == isFinished ? summary(c) : ToUtf8(c.LastErrorText());
      for (const std::string& piece : row.Pieces)
        EXPECT_NE(got.find(piece), std::string::npos) << piece << "\n" << got;
    }
    // Each registry was fetched once, then read from the cache (the log is whole once stopped).
    web->Stop();
    const std::string log = web->AccessLog();
    for (const char* file : {"dns.json", "ipv4.json", "ipv6.json", "asn.json"}) {
      std::size_t n = 0;
      for (auto at = log.find(file); at != std::string::npos; at = log.find(file, at + 1)) ++n;
      EXPECT_EQ(n, 1u) << file << "\n" << log;
    }
  }
}
