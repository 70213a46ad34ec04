// Hostile and broken servers against the socket clients: each pair of client and fault ends in the
// user's error within MaxTime plus a second, memory near the answer cap (each in a forked child).

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <regex>
#include <string>

#include "harness/Forked.h"
#include "harness/ScriptedServer.h"
#include "qninet/core/QNInCnst.h"
#include "qninet/socket/QNIDNS.h"
#include "qninet/socket/QNIFedEx.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/socket/QNISMTP.h"
#include "qninet/socket/QNISNTP.h"
#include "qninet/socket/QNITime.h"
#include "qninet/socket/QNIWeath.h"
#include "qninet/socket/QNWhoIs.h"

using namespace qninet;
using namespace std::chrono_literals;
using harness::CaseResult;
using harness::Script;
using harness::ScriptedServer;

namespace {

constexpr Integer kCap = 1 << 20;
constexpr Integer kMaxTime = 1;

/// A bare engine client with a one-line query, as the line protocols are.
class TLineQuery : public TQNInetBase {
public:
  explicit TLineQuery(TComponent* owner) : TQNInetBase(owner) {}
  String GetQuery() override { return u"query\r\n"; }
};

CaseResult executed(TQNInetBase& c) {
  const String answer = c.Execute();
  if (!c.LastError().empty()) return {false, ToUtf8(c.LastError())};
  return {true, ToUtf8(answer)};
}

// A message accepted is a success, though a missing reply to QUIT leaves a warning.
CaseResult mailed(TQNInetBase& c) {
  const String result = c.Execute();
  return {result.empty(), ToUtf8(c.LastError())};
}

CaseResult daytime(TQNInetBase& c) {
  try {
    return {true,
            ToUtf8(FormatDateTime(u"yyyy-mm-dd hh:nn:ss", static_cast<TQNInetDateTime&>(c).GetDateTime()))};
  } catch (const Exception& e) {
    return {false, ToUtf8(e.Message())};
  }
}

CaseResult sntp(TQNInetBase& c) {
  const TDateTime t = static_cast<TQNInetSNTP&>(c).GetDateTime();
  return {t != 0, t != 0 ? "a time" : "no time: " + ToUtf8(c.LastError())};
}

CaseResult dns(TQNInetBase& c) {
  const String answer = c.Execute();
  if (!c.LastError().empty()) return {false, ToUtf8(c.LastError())};
  TQNIDNSReply reply;
  String error;
  if (!DNSDecodeReply(answer, reply, error)) return {false, "undecodable: " + ToUtf8(error)};
  return {true, std::to_string(reply.Answers.size()) + " answers"};
}

std::string dns_framed(const std::string& message) {
  return std::string{static_cast<char>(message.size() >> 8), static_cast<char>(message.size() & 0xFF)} +
         message;
}
// A reply to "a." with one A record whose owner name is the pointer `owner`.
std::string dns_reply(const std::string& owner) {
  using namespace std::string_literals;
  return "\x12\x5E\x81\x80\0\1\0\1\0\0\0\0"s + "\1a\0\0\1\0\1"s + owner + "\0\1\0\1\0\0\0\x3C\0\4\x7F\0\0\1"s;
}

// A client of class C with `set` applied.
template <class C>
std::function<std::unique_ptr<TQNInetBase>()> made(std::function<void(C&)> set = {}) {
  return [set] {
    std::unique_ptr<TQNInetBase> c = std::make_unique<C>(nullptr);
    if (set) set(static_cast<C&>(*c));
    return c;
  };
}

constexpr const char* kCutDns =
    "^127\\.0\\.0\\.1:[0-9]+: The connection closed after [0-9]+ of [0-9]+ bytes$";
constexpr const char* kCutHttp = "^The answer ended after 3 of 100012 announced bytes$";

struct Client {
  const char* Name;
  std::function<std::unique_ptr<TQNInetBase>()> Make;
  std::function<CaseResult(TQNInetBase&)> Run;
  bool Sends;           ///< whether a query line goes out before the answer
  std::string Partial;  ///< the start of a valid answer, cut before it is whole
  /// The error for an answer cut by a close (a regular expression); null when the protocol ends
  /// an answer with the close, so a cut one cannot be told from a whole one.
  const char* CutGives;
  /// A whole answer with LF-only line ends and none at its end; an empty script when line ends
  /// do not apply, and the outcome expected of it (a regular expression; "ok: ..." a success).
  std::function<Script()> LineEnds;
  const char* LineEndsGive;
};

const std::string kCutPage = "HTTP/1.0 200 OK\r\nContent-Length: 100012\r\n\r\nlin";

// clang-format off
const Client kClients[] = {
    {"engine", made<TLineQuery>(), executed, true, "partial answer", nullptr,
     [] { return Script().ReadLine().Send("line one\nline two"); }, "ok: line one\nline two"},
    {"whois", made<TQNWhoIs>([](TQNWhoIs& c) { c.SetAutoSelectServer(false), c.SetDomain(u"example.com"); }),
     executed, true, "Domain Name: EXAMPLE.COM\r\n", nullptr,
     [] { return Script().ReadLine().Send("Domain Name: EXAMPLE.COM\nRegistrar: X"); }, "ok: Domain Name: EXAMPLE.COM\nRegistrar: X"},
    {"daytime", made<TQNInetDateTime>(), daytime, false, "61378 26-12-04 23:1",
     "^Not a daytime answer: \"61378 26-12-04 23:1\"$",
     [] { return Script().Send("61378 26-12-04 23:10:09 00 0 0 50.0 UTC(NIST) *\n"); }, "ok: 2026-12-04 23:10:09"},
    {"http", made<TQNIHTTPClient>([](TQNIHTTPClient& c) { c.SetAction(haGet), c.SetRequest(u"/"); }),
     executed, true, kCutPage, kCutHttp,
     [] { return Script().ReadLine().Send("HTTP/1.0 200 OK\nContent-Length: 5\n\nhello"); }, "ok: hello\r\n$"},
    {"fedex", made<TQNFedExTracker>(), executed, true, kCutPage, kCutHttp, {}, ""},
    {"weather", made<TQNWeatherInfo>(), executed, true, kCutPage, kCutHttp, {}, ""},
    {"dns", made<TQNIDNSResolver>([](TQNIDNSResolver& c) { c.SetRequests({irA}), c.SetDomain(u"a"); }), dns, false,
      dns_framed(dns_reply("\xC0\x0C")).substr(0, 20), kCutDns, {}, ""},
    {"sntp/tcp", made<TQNInetSNTP>([](TQNInetSNTP& c) { c.SetUseUDP(false); }), sntp, false,
     std::string(20, '\x1C'), "^no time", {}, ""},
    {"smtp", made<TQNISMTP>([](TQNISMTP& c) {
       c.From()->SetText(u"a@q.test"), c.Recipients()->SetEMailAddresses(u"b@q.test"), c.Body()->Add(u"hello"); }),
     mailed, false, "220-hello\r\n", "^Error 220: the server closed the connection$",
     [] { return Script().Send("220 hi\n").ReplyToLines({"250 ok\n", "250 ok\n", "250 ok\n", "250 ok\n", "354 go\n"})
                  .ReadUntil("\r\n.\r\n").Send("250 queued\n").ReadLine().Send("221 bye"); },
     "ok: Warning: the message was accepted, but the reply to QUIT failed"},
};
// clang-format on

struct Fault {
  const char* Name;
  std::function<Script(const Client&, Script)> Play;  ///< what the server does after the lead
  const char* Only;                                   ///< the one client it applies to, or null for all
  /// The error the user sees (a regular expression); null: the client's own, for a cut answer
  /// (`CutGives`) or for the line-end case (`LineEndsGive`).
  const char* Expect;
  bool Cut = false;
};

const std::string kTooLarge = ToUtf8(Format(strQNInEAnswerTooLarge, kCap));
const std::string kTimeLimit = ToUtf8(Format(strQNInETimeLimit, kMaxTime));

// clang-format off
const Fault kFaults[] = {
    {"reset at accept", [](const Client&, Script) { return Script().Reset(); }, nullptr, "reset by peer"},
    {"reset mid-answer", [](const Client& c, Script s) { return s.Send(c.Partial).Sleep(100ms).Reset(); }, nullptr,
     "reset by peer"},
    {"close mid-answer", [](const Client& c, Script s) { return s.Send(c.Partial).Close(); }, nullptr, nullptr, true},
    {"never answers", [](const Client&, Script s) { return s.HoldOpen(); }, nullptr, kTimeLimit.c_str()},
    // every wait is met, so only the total bound ends it
    {"trickle", [](const Client& c, Script s) { return s.SendChunks(c.Partial + std::string(100, 'x'), 1, 100ms); },
     nullptr, kTimeLimit.c_str()},
    {"endless answer", [](const Client& c, Script s) { return s.Send(c.Partial).SendRepeated('x', 1ull << 40); }, nullptr,
     kTooLarge.c_str()},
    {"100 MiB line",
     [](const Client& c, Script s) { return s.Send(c.Partial).SendRepeated('x', 100 << 20).Send("\r\n").Close(); },
     nullptr, kTooLarge.c_str()},
    {"LF-only, no final line end", [](const Client& c, Script) { return c.LineEnds(); }, nullptr, nullptr},
    {"compression loop", [](const Client&, Script s) { return s.Send(dns_framed(dns_reply("\xC0\x13"))).Close(); },
     "dns", "undecodable: .*loop"},
    {"pointer out of range", [](const Client&, Script s) { return s.Send(dns_framed(dns_reply("\xC0\xF0"))).Close(); },
     "dns", "undecodable: .*"},
    {"truncated reply",
     [](const Client&, Script s) { return s.Send(dns_framed(dns_reply("\xC0\x0C")).substr(0, 25)).Close(); }, "dns",
     kCutDns},
    {"garbage reply", [](const Client&, Script s) { return s.Send("220 hi\r\n").ReadLine().Send("xyzzy\r\n"); },
     "smtp", "^Error 250: xyzzy"},
    {"close mid-dialogue",
     [](const Client&, Script s) {
       return s.Send("220 hi\r\n").ReplyToLines({"250 ok\r\n", "250 ok\r\n", "250 ok\r\n"}).ReadLine().Close();
     },
     "smtp", "^Error 250: the server closed the connection$"},
};
// clang-format on

}  // namespace

TEST(SocketFaults, EveryClientReportsEachFaultWithinItsBoundAndMemoryCap) {
  if (harness::kSanitized) GTEST_SKIP() << harness::kForkUnderSanitizer;
  for (const Client& client : kClients) {
    for (const Fault& fault : kFaults) {
      if (fault.Only != nullptr && client.Name != std::string(fault.Only)) continue;
      const char* expect = fault.Expect != nullptr ? fault.Expect
                           : fault.Cut             ? client.CutGives
                           : client.LineEnds       ? client.LineEndsGive
                                                   : nullptr;
      if (expect == nullptr) continue;
      SCOPED_TRACE(std::string(client.Name) + " / " + fault.Name);
      Script lead;
      if (client.Sends) lead.ReadLine();
      ScriptedServer server(fault.Play(client, std::move(lead)));
      const auto outcome = harness::RunForked([&] {
        auto c = client.Make();
        c->SetAddress(FromUtf8(server.Host()));
        c->SetPort(server.Port());
        c->SetTimeout(3000);
        c->SetMaxAnswerSize(kCap);
        c->SetMaxTime(kMaxTime);
        try {
          return client.Run(*c);
        } catch (const Exception& e) {  // what the component raises to its caller
          return CaseResult{false, ToUtf8(e.Message())};
        }
      });
      ASSERT_TRUE(outcome.Ran) << outcome.Text;
      const std::string seen = (outcome.Success ? "ok: " : "") + outcome.Text;
      EXPECT_TRUE(std::regex_search(seen, std::regex(expect))) << seen;
      EXPECT_EQ(outcome.Success, std::string_view(expect).starts_with("ok: ")) << seen;
      EXPECT_LT(outcome.Seconds, kMaxTime + 1.0);
      EXPECT_LT(outcome.GrowthKiB, (kCap >> 10) + 64 * 1024);  // measured: no sanitizer here
    }
  }
}
