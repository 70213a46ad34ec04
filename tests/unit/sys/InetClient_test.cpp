// HTTP transfers against scripted servers: wire transcripts, ranges, and heads that never end.

#include <gtest/gtest.h>

#include "harness/ScriptedServer.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/InetClient.h"
#include "support/NoSystemProxy.h"

using namespace qninet;
using namespace qninet::sys;
using harness::Script;
using harness::ScriptedServer;
using qninet::test_support::NoSystemProxy;
using namespace std::chrono_literals;

namespace {

std::string body_of(std::size_t n) {
  std::string s;
  for (std::size_t i = 0; i < n; ++i) s += static_cast<char>('A' + (i * 13 + i / 97) % 26);
  return s;
}

InetOptions options(const char* agent, std::uint32_t timeoutMs = 5000) {
  InetOptions o;
  o.Agent = agent;
  o.TimeoutMs = timeoutMs;
  return o;
}

HttpRequest request(const char* method, std::uint16_t port, const char* path, bool http10 = true) {
  HttpRequest r;
  r.Method = method;
  r.Target = {"http", "127.0.0.1", port, path, {}};
  r.Http10 = http10;
  return r;
}

std::string read_all(HttpTransfer& t, std::size_t block, std::size_t* shortReads = nullptr) {
  std::string got;
  std::vector<char> buffer(block);
  for (;;) {
    auto n = t.Read(buffer.data(), block);
    if (!n || *n == 0) break;
    if (shortReads && *n < block) ++*shortReads;
    got.append(buffer.data(), *n);
  }
  return got;
}

}  // namespace

TEST(HttpTransfer, PostTranscriptAndSmallBlockReads) {
  NoSystemProxy noProxy;
  const std::string body = body_of(100000);
  const std::string head = "HTTP/1.1 200 OK\r\nContent-Length: 100000\r\nConnection: close\r\n\r\n";
  ScriptedServer server(Script().ReadUntil("\r\n\r\n").ExpectBytes(9).SendChunks(head + body, 7000, 1ms));
  HttpTransfer t(options("Probe/1"));
  HttpRequest r = request("POST", server.Port(), "/api/track", false);
  r.Target.Query = "x=1";
  r.Headers = "Content-Type: text/xml\r\nX-Test: 1";
  r.Body = "<a>1</a>\n";
  ASSERT_TRUE(t.Send(r));
  EXPECT_EQ(t.StatusCode(), 200u);
  std::size_t shortReads = 0;
  EXPECT_TRUE(read_all(t, 2050, &shortReads) == body);
  EXPECT_LE(shortReads, 1u);  // every block is full but the last
  server.Stop();
  EXPECT_EQ(server.Received(0),
            "POST /api/track?x=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                "\r\nUser-Agent: Probe/1\r\nAccept: */*\r\nContent-Type: text/xml\r\nX-Test: 1\r\n"
                "Content-Length: 9\r\n\r\n<a>1</a>\n");
}

// (A range honoured: nginx's 206 in the updater's resume rows.)
TEST(HttpTransfer, RangeIsCheckedOrSkippedWhenIgnored) {
  NoSystemProxy noProxy;
  const std::string body = body_of(5000);
  const std::string partial = "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes ";
  const std::pair<std::string, bool> cases[] = {
      {"HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + body, true},  // ignored
      {partial + "0-4999/5000\r\n\r\n" + body, false}};                  // another range
  for (const auto& [reply, sends] : cases) {
    SCOPED_TRACE(reply.substr(0, 60));
    ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send(reply).Close());
    HttpTransfer t(options("A"));
    HttpRequest r = request("GET", server.Port(), "/f");
    r.RangeFrom = 3000;
    const auto sent = t.Send(r);
    ASSERT_EQ(sent.ok(), sends);
    if (sends) {
      EXPECT_TRUE(read_all(t, 700) == body.substr(3000));
    }
    server.Stop();
    EXPECT_NE(server.Received(0).find("\r\nRange: bytes=3000-\r\n"), std::string::npos) << server.Received(0);
  }
}

// (A silent server is the failure table's stall row, with its text and endpoint; a cancel that
// stops a stalled body, the updater's "Cancel from a thread" row.)
TEST(HttpTransfer, AHeadThatNeverEndsIsNoAnswer) {
  NoSystemProxy noProxy;
  const std::string status = "HTTP/1.0 200 OK\r\n";
  const auto asked = [] { return Script().ReadUntil("\r\n\r\n"); };
  struct {
    Script Server;
    bool Began, TimedOut;
  } cases[] = {
      {asked().Send(status + "Content-Length: 5\r\n").Close(), true, false},  // closed before the empty line
      {asked().Send(status).Close(), true, false},
      {asked().Send(status + "X-Big: " + std::string(4 << 20, 'b')), true, false},
      // lines that keep coming, each well within the stall time-out
      {asked().Send(status).SendChunks(std::string(200, 'X') + ": 1\r\n", 10, 50ms), true, true},
      {asked().Close(), false, false}};
  for (const auto& c : cases) {
    ScriptedServer server(std::move(c.Server));
    HttpTransfer t(options("A", 400));
    const auto sent = t.Send(request("HEAD", server.Port(), "/f"));
    ASSERT_FALSE(sent.ok());
    EXPECT_FALSE(sent.failure().Text.empty());
    EXPECT_EQ(t.AnswerBegan(), c.Began);
    EXPECT_EQ(sent.failure().Code == kInetTimedOut, c.TimedOut);
  }
}

// Credentials answer a proxy's NTLM challenge on the same connection, and the challenge's own
// body never becomes the answer. (Basic after a 401, and a 401 final without credentials: the
// updater's rows against nginx.)
TEST(HttpTransfer, CredentialsFollowTheChallenge) {
  ScriptedServer server(Script()
                            .ReadUntil("\r\n\r\n")
                            .Send("HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: NTLM\r\n"
                                  "Content-Length: 6\r\n\r\ndenied")
                            .ReadUntil("\r\n\r\n")
                            .Send("HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nwelcome")
                            .Close());
  InetOptions o = options("auth");
  o.ProxyHost = "127.0.0.1", o.ProxyPort = server.Port();
  HttpTransfer t(o);
  HttpRequest r = request("GET", 9, "/p", false);
  r.Credentials = {"", "", "joe", "pw"};
  ASSERT_TRUE(t.Send(r));
  EXPECT_EQ(t.StatusCode(), 200u);
  EXPECT_EQ(read_all(t, 64), "welcome");
  const std::string received = server.Received(0);
  const auto second = received.find("\r\n\r\n") + 4;
  EXPECT_EQ(received.substr(0, second).find("Authorization: "), std::string::npos) << received;
  EXPECT_NE(received.find("\r\nProxy-Authorization: NTLM TlRMTVNTUAAB", second), std::string::npos)
      << received;
}

// (The usual form: nginx's Last-Modified in the updater's rows.)
TEST(HttpDate, ReadsTheFormsServersSendAndRefusesWhatNoFileTimeHolds) {
  EXPECT_EQ(parse_http_date("Monday, 07-Dec-26 09:00:00 GMT"), unix_to_file_time(1796634000));
  EXPECT_EQ(parse_http_date("Fri, 31 Dec 9999 23:59:59 GMT"), unix_to_file_time(253402300799));
  for (const char* text : {"", "yesterday", "Sat, 01 Jan 10000 00:00:00 GMT", "S~555555Nov-3"})
    EXPECT_EQ(parse_http_date(text), std::nullopt) << text;
}
