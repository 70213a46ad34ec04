// One failure vocabulary for every web transfer: each component meets each fault and names it
// with the same text after the same endpoint, whichever engine saw it.

#include <gtest/gtest.h>

#include <functional>
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

// Points a component at `url` (SetURL: the service, host and port, and the updater's file) and
// runs it: its failure text, or "succeeded".
std::string failure(TQNCustomWebComponent& c, const std::string& url, const std::function<bool()>& run) {
  c.SetTimeout(400);
  c.SetLoadSystemProxy(false);
  c.SetURL(FromUtf8(url));
  return run() ? "succeeded" : ToUtf8(c.LastErrorText());
}

std::string update(const std::string& url) {
  harness::TempDir dir("qninet-failures");
  TQNWebUpdater u(nullptr);
  u.SetLocalFileName(FromUtf8((dir.Path() / "f.bin").string()));
  return failure(u, url, [&] { return u.Execute(); });
}

std::string fetch(const std::string& url) {
  TQNWebUpdater u(nullptr);
  TMemoryStream body;
  return failure(u, url, [&] { return u.ReadHTTPGetResponse(FromUtf8(url), &body); });
}

std::string track(const std::string& url) {
  TQNUPSTracker t(nullptr);
  return failure(t, url, [&] { return t.Execute(); });
}

const std::string kHead = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n";
std::string host(std::uint16_t port) { return "127.0.0.1:" + std::to_string(port); }
Script cut(const std::string& body) { return Script().ReadUntil("\r\n\r\n").Send(kHead + body).Close(); }

struct Row {
  const char* Name;
  std::function<std::string(const std::string& url)> Run;
  std::string Scheme;
  std::vector<Script> Cut;  ///< a body cut after 3 of 100 bytes (HTTP, and TLS then too)
};

}  // namespace

TEST(Failures, EveryWebTransferNamesItsFaultAfterItsEndpoint) {
  test_support::NoSystemProxy noProxy;
  harness::Nginx tls(true);
  tls.Start();
  const Row rows[] = {{"updater", update, "http", {cut(""), cut("abc")}},  // the look-up, then the download
                      {"page fetch", fetch, "http", {cut("abc")}},
                      {"service call", track, "http", {cut("abc")}},
                      {"ftp updater", update, "ftp", {}}};
  for (const Row& r : rows) {
    SCOPED_TRACE(r.Name);
    const auto run = [&r](const std::string& scheme, std::uint16_t p) {
      return r.Run(scheme + "://" + host(p));
    };
    const std::uint16_t closed = harness::FreePort();
    EXPECT_EQ(run(r.Scheme, closed), host(closed) + ": Connection refused");
    ScriptedServer stalls(Script().HoldOpen());
    const std::string late = run(r.Scheme, stalls.Port());
    EXPECT_EQ(late.rfind(host(stalls.Port()) + ": Connection timed out", 0), 0u) << late;
    if (r.Cut.empty()) continue;
    ScriptedServer cuts(r.Cut);
    EXPECT_EQ(run(r.Scheme, cuts.Port()), host(cuts.Port()) + ": The connection closed after 3 of 100 bytes");
    // Over TLS, the certificate from a CA nobody told the client of.
    const std::string tlsText =
        ": TLS certificate verification failed: unable to get local issuer certificate";
    EXPECT_EQ(run("https", tls.HttpsPort()), host(tls.HttpsPort()) + tlsText);
  }
}
