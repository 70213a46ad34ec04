// HTTP transfers against scripted servers: wire transcripts, ranges, and heads that never end.

#include <gtest/gtest.h>

#include <string>

#include "harness/ScriptedServer.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/InetClient.h"
#include "qninet/sys/Settings.h"
#include "support/NoSystemProxy.h"

using namespace qninet;
using namespace qninet::sys;
using harness::Script;
using harness::ScriptedServer;

using qninet::test_support::NoSystemProxy;

namespace {

std::string body_of(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 13 + i / 97) % 26);
  return s;
}

InetOptions options(const char* agent, std::uint32_t timeoutMs = 5000) {
  InetOptions o;
  o.Agent = agent;
  o.TimeoutMs = timeoutMs;
  return o;
}

HttpRequest request(const char* method, std::uint16_t port, const char* path, const char* query = "") {
  HttpRequest r;
  r.Method = method;
  r.Target = InetTarget{"http", "127.0.0.1", port, path, query};
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

// Header lines that keep coming, each well within the stall time-out.
Script trickle(const std::string& status) {
  std::string lines;
  for (int i = 0; i < 200; ++i) lines += "X-Pad: 1\r\n";
  return Script().ReadUntil("\r\n\r\n").Send(status).SendChunks(lines, 10, std::chrono::milliseconds(50));
}

}  // namespace

TEST(HttpTransfer, PostTranscriptAndSmallBlockReads) {
  NoSystemProxy noProxy;
  const std::string body = body_of(100000);
  Script s;
  s.ReadUntil("\r\n\r\n")
      .ExpectBytes(9)
      .SendChunks("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body,
                  7000, std::chrono::milliseconds(1));
  ScriptedServer server(std::move(s));
  HttpTransfer t(options("Probe/1"));
  HttpRequest r = request("POST", server.Port(), "/api/track", "x=1");
  r.Headers = "Content-Type: text/xml\r\nX-Test: 1";
  r.Body = "<a>1</a>\n";
  ASSERT_TRUE(t.Send(r));
  EXPECT_EQ(t.StatusCode(), 200u);
  std::size_t shortReads = 0;
  const std::string got = read_all(t, 2050, &shortReads);
  EXPECT_TRUE(got == body) << got.size();
  EXPECT_LE(shortReads, 1u);  // every block is full but the last
  server.Stop();
  EXPECT_EQ(server.Received(0),
            "POST /api/track?x=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                "\r\nUser-Agent: Probe/1\r\nAccept: */*\r\nContent-Type: text/xml\r\nX-Test: 1\r\n"
                "Content-Length: 9\r\n\r\n<a>1</a>\n");
}

TEST(HttpTransfer, RangeIsHonouredCheckedOrSkippedWhenIgnored) {
  NoSystemProxy noProxy;
  const std::string body = body_of(5000);
  struct Case {
    const char* Name;
    std::string Reply;
    bool Sends;
  } cases[] = {
      {"honoured",
       "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 3000-4999/5000\r\nContent-Length: 2000\r\n\r\n" +
           body.substr(3000),
       true},
      {"ignored", "HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + body, true},
      {"another range", "HTTP/1.0 206 Partial Content\r\nContent-Range: bytes 0-4999/5000\r\n\r\n" + body,
       false},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send(c.Reply).Close());
    HttpTransfer t(options("A"));
    HttpRequest r = request("GET", server.Port(), "/f");
    r.Http10 = true;
    r.RangeFrom = 3000;
    const auto sent = t.Send(r);
    ASSERT_EQ(sent.ok(), c.Sends);
    if (c.Sends) {
      EXPECT_TRUE(read_all(t, 700) == body.substr(3000));
    }
    server.Stop();
    EXPECT_NE(server.Received(0).find("\r\nRange: bytes=3000-\r\n"), std::string::npos) << server.Received(0);
  }
}

TEST(HttpTransfer, AHeadThatNeverEndsIsNoAnswer) {
  NoSystemProxy noProxy;
  const std::string status = "HTTP/1.0 200 OK\r\n";
  struct Case {
    const char* Name;
    Script Server;
    bool Began;
    int Code;  // 0: any failure but a time-out
  } cases[] = {
      {"closed before the empty line",
       Script().ReadUntil("\r\n\r\n").Send(status + "Content-Length: 5\r\n").Close(), true, 0},
      {"status line alone", Script().ReadUntil("\r\n\r\n").Send(status).Close(), true, 0},
      {"huge header line",
       Script().ReadUntil("\r\n\r\n").Send(status + "X-Big: " + std::string(4 << 20, 'b')), true, 0},
      {"head trickles on", trickle(status), true, kInetTimedOut},
      {"silent", Script().ReadUntil("\r\n\r\n").HoldOpen(), false, kInetTimedOut},
      {"closed at once", Script().ReadUntil("\r\n\r\n").Close(), false, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.Name);
    ScriptedServer server(std::move(c.Server));
    HttpTransfer t(options("A", 400));
    HttpRequest r = request("HEAD", server.Port(), "/f");
    r.Http10 = true;
    const auto sent = t.Send(r);
    ASSERT_FALSE(sent.ok());
    EXPECT_FALSE(sent.failure().Text.empty());
    EXPECT_EQ(t.AnswerBegan(), c.Began);
    if (c.Code != 0) {
      EXPECT_EQ(sent.failure().Code, c.Code);
    } else {
      EXPECT_NE(sent.failure().Code, kInetTimedOut);
    }
  }
}

TEST(HttpTransfer, CancelFlagStopsAStalledBody) {
  NoSystemProxy noProxy;
  ScriptedServer server(
      Script().ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\nContent-Length: 9000\r\n\r\nabc").HoldOpen());
  std::atomic<bool> cancel{false};
  InetOptions o = options("A", 0);
  o.Cancel = &cancel;
  HttpTransfer t(o);
  HttpRequest r = request("GET", server.Port(), "/f");
  r.Http10 = true;
  ASSERT_TRUE(t.Send(r));
  char buffer[3];
  ASSERT_EQ(*t.Read(buffer, 3), 3u);
  cancel = true;
  const auto n = t.Read(buffer, 3);
  ASSERT_FALSE(n.ok());
  EXPECT_EQ(n.failure().Code, kInetCancelled);
}

// Credentials answer a 401 or 407 in the scheme it asks for, on the same connection, and the
// challenge's own body never becomes the answer; without credentials the challenge is final.
TEST(HttpTransfer, CredentialsFollowTheChallenge) {
  const std::string basic =
      "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"r\"\r\n"
      "Content-Length: 6\r\n\r\ndenied";
  const std::string ntlm =
      "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: NTLM\r\n"
      "Content-Length: 6\r\n\r\ndenied";
  const std::string welcome = "HTTP/1.1 200 OK\r\nContent-Length: 7\r\n\r\nwelcome";
  const struct {
    const char* Name;
    bool Proxy;
    InetCredentials Credentials;
    std::string First, Second;            // the server's answers
    std::uint32_t Status;                 // of the final answer
    const char* Body;                     // of the final answer
    std::vector<std::string> Authorized;  // the line each request begins its credentials with
  } cases[] = {
      {"basic",
       false,
       {"joe", "pw", "", ""},
       basic,
       welcome,
       200,
       "welcome",
       {"", "Authorization: Basic am9lOnB3"}},
      {"no credentials", false, {}, basic, "", 401, "denied", {""}},
      {"proxy ntlm",
       true,
       {"", "", "joe", "pw"},
       ntlm,
       welcome,
       200,
       "welcome",
       {"", "Proxy-Authorization: NTLM TlRMTVNTUAAB"}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Name);
    Script script = Script().ReadUntil("\r\n\r\n").Send(k.First);
    if (!k.Second.empty()) script.ReadUntil("\r\n\r\n").Send(k.Second);
    ScriptedServer server(script.Close());
    InetOptions o = options("auth");
    if (k.Proxy) {
      o.ProxyHost = "127.0.0.1";
      o.ProxyPort = server.Port();
    }
    HttpTransfer t(o);
    HttpRequest r = request("GET", k.Proxy ? 9 : server.Port(), "/p");
    r.Credentials = k.Credentials;
    ASSERT_TRUE(t.Send(r));
    EXPECT_EQ(t.StatusCode(), k.Status);
    EXPECT_EQ(read_all(t, 64), k.Body);
    const std::string received = server.Received(0);
    std::vector<std::string> requests;
    for (std::size_t at = 0; at < received.size();) {
      const std::size_t end = received.find("\r\n\r\n", at);
      requests.push_back(received.substr(at, end == std::string::npos ? std::string::npos : end + 4 - at));
      at = end == std::string::npos ? received.size() : end + 4;
    }
    ASSERT_EQ(requests.size(), k.Authorized.size()) << received;
    for (std::size_t i = 0; i < requests.size(); ++i) {
      const auto at = requests[i].find("Authorization: ");
      if (k.Authorized[i].empty())
        EXPECT_EQ(at, std::string::npos) << requests[i];
      else
        EXPECT_NE(requests[i].find("\r\n" + k.Authorized[i]), std::string::npos) << requests[i];
    }
  }
}

TEST(HttpDate, ReadsTheFormsServersSendAndRefusesWhatNoFileTimeHolds) {
  EXPECT_EQ(parse_http_date("Mon, 07 Dec 2026 09:00:00 GMT"), unix_to_file_time(1796634000));
  EXPECT_EQ(parse_http_date("Monday, 07-Dec-26 09:00:00 GMT"), unix_to_file_time(1796634000));
  EXPECT_EQ(parse_http_date("Fri, 31 Dec 9999 23:59:59 GMT"), unix_to_file_time(253402300799));
  for (const char* text : {"", "yesterday", "Sat, 01 Jan 10000 00:00:00 GMT", "S~555555Nov-3"})
    EXPECT_EQ(parse_http_date(text), std::nullopt) << text;
}
