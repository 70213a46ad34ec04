// The HTTP/FTP client layer: listing parsers, and transcripts against scripted servers.

#include <gtest/gtest.h>

#include <string>

#include "harness/ScriptedServer.h"
#include "qninet/sys/InetClient.h"
#include "qninet/sys/Settings.h"

using namespace qninet;
using namespace qninet::sys;
using harness::Script;
using harness::ScriptedServer;

namespace {

// A root handle, closed at the end of the test.
struct Root {
  explicit Root(const String& agent) : root(inet_open(agent, u"", 5000)) {}
  ~Root() { inet_close(root); }
  InetHandle root;
};

struct NoSystemProxy {
  NoSystemProxy() { set_proxy_setting_override(ProxySetting{}); }
  ~NoSystemProxy() { set_proxy_setting_override(std::nullopt); }
};

std::string body_of(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = static_cast<char>('A' + (i * 13 + i / 97) % 26);
  return s;
}

}  // namespace

TEST(FtpListing, MlsdLinesGiveNameTypeSizeAndUtcTime) {
  FtpFindData d;
  ASSERT_TRUE(parse_mlsd_line("type=file;size=5000000000;modify=20240601100000;perm=r; big file.bin\r", d));
  EXPECT_EQ(d.Name, u"big file.bin");
  EXPECT_EQ(d.Size, 5000000000u);
  EXPECT_EQ(d.Attributes, kFileAttributeNormal);
  EXPECT_EQ(d.LastWriteTime, UnixToFileTime(1717236000));
  ASSERT_TRUE(parse_mlsd_line("Type=dir;Modify=20240601100000.5; sub", d));
  EXPECT_EQ(d.Attributes, kFileAttributeDirectory);
  EXPECT_EQ(d.LastWriteTime, UnixToFileTime(1717236000, 500000000));
  EXPECT_FALSE(parse_mlsd_line("type=cdir;modify=20240601100000; /pub", d));
  EXPECT_FALSE(parse_mlsd_line("type=pdir; ..", d));
  EXPECT_FALSE(parse_mlsd_line("garbage", d));
}

TEST(FtpListing, UnixListLines) {
  FtpFindData d;
  ASSERT_TRUE(parse_list_line("-rw-r--r--   1 owner group     12345 Mar  5  2021 notes.txt", d, 2024));
  EXPECT_EQ(d.Name, u"notes.txt");
  EXPECT_EQ(d.Size, 12345u);
  EXPECT_EQ(d.LastWriteTime, UnixToFileTime(1614902400));
  ASSERT_TRUE(parse_list_line("drwxr-xr-x 2 o g 4096 Jan  1 12:30 my dir", d, 2020));
  EXPECT_EQ(d.Name, u"my dir");
  EXPECT_EQ(d.Attributes, kFileAttributeDirectory);
  ASSERT_TRUE(parse_list_line("lrwxrwxrwx 1 o g 7 Jan  1  2020 link -> target", d, 2020));
  EXPECT_EQ(d.Name, u"link");
  EXPECT_FALSE(parse_list_line("total 12", d, 2020));
  EXPECT_FALSE(parse_list_line("drwxr-xr-x 2 o g 4096 Jan  1 12:30 .", d, 2020));
}

TEST(FtpListing, Wildcards) {
  EXPECT_TRUE(ftp_wildcard_match(u"*.*", u"README"));
  EXPECT_TRUE(ftp_wildcard_match(u"*.txt", u"a.b.txt"));
  EXPECT_FALSE(ftp_wildcard_match(u"*.txt", u"a.txt.bak"));
  EXPECT_TRUE(ftp_wildcard_match(u"f?le*", u"file-1"));
  EXPECT_FALSE(ftp_wildcard_match(u"file", u"File"));
}

TEST(InetHandles, FailuresAreNoneOrFalseNeverExceptions) {
  std::size_t read = 1;
  char buf[4];
  EXPECT_EQ(inet_connect(nullptr, u"h", 80, u"", u"", InetService::Http), nullptr);
  EXPECT_EQ(http_open_request(nullptr, u"GET", u"/", u"HTTP/1.0", 0), nullptr);
  EXPECT_FALSE(http_send_request(nullptr, u"", nullptr, 0));
  EXPECT_FALSE(inet_read(nullptr, buf, sizeof buf, read));
  EXPECT_EQ(read, 0u);
  EXPECT_FALSE(inet_close(nullptr));
  Root h(u"agent");
  ASSERT_NE(h.root, nullptr);
  // A root is no connection, and an HTTP connection offers no FTP operations.
  EXPECT_EQ(http_open_request(h.root, u"GET", u"/", u"", 0), nullptr);
  InetHandle c = inet_connect(h.root, u"127.0.0.1", 9, u"", u"", InetService::Http);
  ASSERT_NE(c, nullptr);
  FtpFindData d;
  EXPECT_EQ(ftp_find_first(c, u"*", d), nullptr);
  String dir;
  EXPECT_FALSE(ftp_get_current_directory(c, dir));
}

TEST(InetRequests, PostTranscriptAndSmallBlockReads) {
  NoSystemProxy noProxy;
  const std::string body = body_of(100000);
  Script s;
  s.ReadUntil("\r\n\r\n")
      .ExpectBytes(9)
      .SendChunks("HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                      "\r\nConnection: close\r\n\r\n" + body,
                  7000, std::chrono::milliseconds(1));
  ScriptedServer server(std::move(s));
  Root h(u"Probe/1");
  InetHandle c = inet_connect(h.root, u"127.0.0.1", server.Port(), u"", u"", InetService::Http);
  InetHandle r = http_open_request(c, u"POST", u"/api/track?x=1", u"", 0);
  ASSERT_TRUE(http_send_request(r, u"Content-Type: text/xml\r\nX-Test: 1", "<a>1</a>\n", 9));
  std::uint32_t code = 0;
  ASSERT_TRUE(http_query_status_code(r, code));
  EXPECT_EQ(code, 200u);
  std::string got;
  char block[2050];
  std::size_t n = 0;
  std::size_t shortReads = 0;
  while (inet_read(r, block, sizeof block, n) && n > 0) {
    if (n < sizeof block) ++shortReads;
    got.append(block, n);
  }
  EXPECT_EQ(got.size(), body.size());
  EXPECT_TRUE(got == body);
  EXPECT_LE(shortReads, 1u);  // every block is full but the last
  server.Stop();
  EXPECT_EQ(server.Received(0),
            "POST /api/track?x=1 HTTP/1.1\r\nHost: 127.0.0.1:" + std::to_string(server.Port()) +
                "\r\nUser-Agent: Probe/1\r\nAccept: */*\r\nContent-Type: text/xml\r\nX-Test: 1\r\n"
                "Content-Length: 9\r\n\r\n<a>1</a>\n");
}

TEST(InetRequests, ReadPositionSendsARangeAndSkipsWhenIgnored) {
  NoSystemProxy noProxy;
  const std::string body = body_of(5000);
  Script first, second;
  first.ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + body).Close();
  // This server ignores the range and sends everything again.
  second.ReadUntil("\r\n\r\n").Send("HTTP/1.0 200 OK\r\nContent-Length: 5000\r\n\r\n" + body).Close();
  ScriptedServer server({first, second});
  Root h(u"A");
  InetHandle c = inet_connect(h.root, u"127.0.0.1", server.Port(), u"", u"", InetService::Http);
  InetHandle r = http_open_request(c, u"GET", u"/f", u"HTTP/1.0", inetFlagReload);
  ASSERT_TRUE(http_send_request(r, u"", nullptr, 0));
  ASSERT_TRUE(inet_set_read_position(r, 3000));
  std::string got;
  char block[700];
  std::size_t n = 0;
  while (inet_read(r, block, sizeof block, n) && n > 0) got.append(block, n);
  EXPECT_EQ(got.size(), 2000u);
  EXPECT_TRUE(got == body.substr(3000));
  server.Stop();
  EXPECT_NE(server.Received(1).find("\r\nRange: bytes=3000-\r\n"), std::string::npos) << server.Received(1);
}

TEST(InetRequests, OpenUrlReadsTheBodyOfAnErrorAnswerToo) {
  NoSystemProxy noProxy;
  Script s;
  s.ReadUntil("\r\n\r\n").Send("HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot here!").Close();
  ScriptedServer server(std::move(s));
  Root h(u"A");
  InetHandle u =
      inet_open_url(h.root, FromUtf8("http://127.0.0.1:" + std::to_string(server.Port()) + "/x"), u"", 0);
  ASSERT_NE(u, nullptr);
  char buf[64];
  std::size_t n = 0;
  ASSERT_TRUE(inet_read(u, buf, sizeof buf, n));
  EXPECT_EQ(std::string(buf, n), "not here!");
  EXPECT_TRUE(inet_close(u));
}
