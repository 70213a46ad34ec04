// One failure vocabulary for every web transfer: each component meets each fault and names it
// with the same text after the same endpoint, whichever engine saw it.

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "harness/Nginx.h"
#include "harness/Ports.h"
#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "qninet/rtl/Streams.h"
#include "qninet/web/QNIUPS.h"
#include "support/NoSystemProxy.h"

using namespace qninet;
using harness::Script;
using harness::ScriptedServer;

namespace {

// Each component is pointed at scheme://127.0.0.1:port and reports its failure text.
using Component = std::function<std::string(const std::string& scheme, std::uint16_t port)>;

template <class C>
C& bounded(std::unique_ptr<C>& c) {
  c->SetTimeout(400);
  c->SetLoadSystemProxy(false);
  c->SetLoginPrompt(false);
  return *c;
}

std::string update(const std::string& scheme, std::uint16_t port) {
  harness::TempDir dir("qninet-failures");
  auto u = std::make_unique<TQNWebUpdater>(nullptr);
  bounded(u).SetURL(FromUtf8(scheme + "://127.0.0.1:" + std::to_string(port) + "/f.bin"));
  u->SetLocalFileName(FromUtf8((dir.Path() / "f.bin").string()));
  return u->Execute() ? "succeeded" : ToUtf8(u->LastErrorText());
}

std::string fetch(const std::string& scheme, std::uint16_t port) {
  auto u = std::make_unique<TQNWebUpdater>(nullptr);
  TMemoryStream body;
  const String url = FromUtf8(scheme + "://127.0.0.1:" + std::to_string(port) + "/page");
  return bounded(u).ReadHTTPGetResponse(url, &body) ? "succeeded" : ToUtf8(u->LastErrorText());
}

std::string track(const std::string& scheme, std::uint16_t port) {
  auto t = std::make_unique<TQNUPSTracker>(nullptr);
  bounded(t).SetService(scheme == "https" ? isHTTPS : isHTTP);
  t->SetHost(u"127.0.0.1");
  t->SetPort(port);
  return t->Execute() ? "succeeded" : ToUtf8(t->LastErrorText());
}

const std::string kCut = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\nabc";

struct Row {
  const char* Name;
  Component Run;
  std::string Scheme;
  std::vector<Script> Cut;  ///< the connections of a body cut after 3 of 100 bytes; none: no row
};

}  // namespace

TEST(Failures, EveryWebTransferNamesItsFaultAfterItsEndpoint) {
  test_support::NoSystemProxy noProxy;
  harness::Nginx tls(true);
  tls.Start();
  const Script head = Script().ReadUntil("\r\n\r\n").Send(kCut.substr(0, kCut.size() - 3));
  const Row rows[] = {
      {"updater", update, "http", {Script(head).Close(), Script().ReadUntil("\r\n\r\n").Send(kCut).Close()}},
      {"page fetch", fetch, "http", {Script().ReadUntil("\r\n\r\n").Send(kCut).Close()}},
      {"service call", track, "http", {Script().ReadUntil("\r\n\r\n").Send(kCut).Close()}},
      {"ftp updater", update, "ftp", {}},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Name);
    const std::uint16_t closed = harness::FreePort();
    EXPECT_EQ(r.Run(r.Scheme, closed), "127.0.0.1:" + std::to_string(closed) + ": Connection refused");
    {
      ScriptedServer stalls(Script().HoldOpen());
      const std::string seen = r.Run(r.Scheme, stalls.Port());
      EXPECT_EQ(seen.rfind("127.0.0.1:" + std::to_string(stalls.Port()) + ": Connection timed out", 0), 0u)
          << seen;
    }
    if (!r.Cut.empty()) {
      ScriptedServer cuts(r.Cut);
      EXPECT_EQ(r.Run(r.Scheme, cuts.Port()),
                "127.0.0.1:" + std::to_string(cuts.Port()) + ": The connection closed after 3 of 100 bytes");
      // The same service over TLS, its certificate from a CA nobody told the client of.
      EXPECT_EQ(r.Run("https", tls.HttpsPort()),
                "127.0.0.1:" + std::to_string(tls.HttpsPort()) +
                    ": TLS certificate verification failed: unable to get local issuer certificate");
    }
  }
}
