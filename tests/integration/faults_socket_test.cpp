// Hostile and broken servers against the socket clients: each pair of client and fault must end
// in an error (never a success), within the client's bounds plus a second.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "harness/ScriptedServer.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/socket/QNIFedEx.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/socket/QNITime.h"
#include "qninet/socket/QNIWeath.h"

using namespace qninet;
using namespace std::chrono_literals;
using harness::Script;
using harness::ScriptedServer;

namespace {

/// A bare engine client with a one-line query, as the line protocols are.
class TLineQuery : public TQNInetBase {
public:
  explicit TLineQuery(TComponent* owner) : TQNInetBase(owner) {}
  String GetQuery() override { return u"query\r\n"; }
};

struct Client {
  const char* Name;
  std::function<std::unique_ptr<TQNInetBase>()> Make;
  bool Sends;  ///< whether a query goes out before the answer
  bool Http;   ///< whether the answer is an HTTP answer
};

std::unique_ptr<TQNInetBase> http_get() {
  auto c = std::make_unique<TQNIHTTPClient>(nullptr);
  c->SetAction(haGet);
  c->SetRequest(u"/");
  return c;
}

const Client kClients[] = {
    {"engine", [] { return std::make_unique<TLineQuery>(nullptr); }, true, false},
    {"daytime", [] { return std::make_unique<TQNInetDateTime>(nullptr); }, false, false},
    {"http", http_get, true, true},
    {"fedex", [] { return std::make_unique<TQNFedExTracker>(nullptr); }, true, true},
    {"weather", [] { return std::make_unique<TQNWeatherInfo>(nullptr); }, true, true},
};

constexpr Integer kCap = 1 << 20;

struct Fault {
  const char* Name;
  std::function<Script(Script)> Play;  ///< what the server does after the query
  bool HttpOnly;
  std::function<String()> Error;  ///< the error reported
  std::chrono::milliseconds Bound;
};

const Fault kFaults[] = {
    {"endless answer",
     [](Script s) {
       return s.SendChunks("HTTP/1.0 200 OK\r\n\r\n" + std::string(6 * kCap, 'x'), 64 * 1024, 0ms);
     },
     false, [] { return Format(strQNInEAnswerTooLarge, kCap); }, 5s},
    // every wait is met, so only the total bound ends it
    {"trickle",
     [](Script s) { return s.SendChunks("HTTP/1.0 200 OK\r\n\r\n" + std::string(100, 'x'), 1, 100ms); },
     false, [] { return Format(strQNInETimeLimit, 1); }, 1s},
    {"cut answer",
     [](Script s) { return s.Send("HTTP/1.0 200 OK\r\nContent-Length: 100012\r\n\r\nlin").Close(); }, true,
     [] { return String(u"The answer ended after 3 of 100012 announced bytes"); }, 3s},
    {"never answers", [](Script s) { return s.HoldOpen(); }, false,
     [] { return Format(strQNInETimeLimit, 1); }, 1s},
};

}  // namespace

TEST(SocketFaults, EveryClientReportsEachFaultWithinItsBound) {
  for (const Client& client : kClients) {
    for (const Fault& fault : kFaults) {
      if (fault.HttpOnly && !client.Http) continue;
      SCOPED_TRACE(std::string(client.Name) + " / " + fault.Name);
      Script script;
      if (client.Sends) script.ReadUntil("\r\n");
      ScriptedServer server(fault.Play(std::move(script)));
      auto c = client.Make();
      c->SetAddress(FromUtf8(server.Host()));
      c->SetPort(server.Port());
      c->SetTimeout(3000);
      c->SetMaxAnswerSize(kCap);
      c->SetMaxTime(1);
      const auto start = std::chrono::steady_clock::now();
      const String result = c->Execute();
      const auto took = std::chrono::steady_clock::now() - start;
      EXPECT_EQ(ToUtf8(c->LastError()), ToUtf8(fault.Error()));
      EXPECT_EQ(result, c->LastError());
      EXPECT_LT(took, fault.Bound + 1s);
      c->Disconnect();
    }
  }
}
