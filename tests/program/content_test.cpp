// `qninet rss`, `extract`, `fetch` and `ls` as a user runs them, against nginx and pyftpdlib on
// loopback.

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <nlohmann/json.hpp>

#include "harness/FtpServer.h"
#include "harness/Nginx.h"
#include "Qninet.h"
#include "harness/Process.h"
#include "harness/TempDir.h"

using namespace qninet::harness;

namespace {

std::string sorted_lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  std::sort(lines.begin(), lines.end());
  std::string out;
  for (const auto& l : lines) out += l + "\n";
  return out;
}

const char* kFeed =
    "<rss version=\"2.0\"><channel><title>T &amp; C</title><link>http://t/</link><ttl>5</ttl>"
    "<item><title>A</title><link>http://t/a</link><dc:creator>Ann</dc:creator></item></channel></rss>";

}  // namespace

TEST(ProgramRss, PrintsChannelsAndItemsOrJson) {
  Nginx nginx;
  nginx.WriteFile("feed.xml", kFeed);
  nginx.Start();
  TempDir dir("qninet-rss-prog");
  const std::string local = dir.Write("local.rss", kFeed).string();

  for (const std::string& target : {nginx.Url("/feed.xml"), local}) {
    auto r = Qninet({"rss", target});
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(r.Stdout,
              "channel T &amp; C\n  Link: http://t/\n  Ttl: 5\n  item A\n    Link: http://t/a\n"
              "    Creator: Ann\n");
  }
  auto r = Qninet({"rss", "--json", nginx.Url("/feed.xml")});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  const auto j = nlohmann::json::parse(r.Stdout);
  EXPECT_EQ(j["status"], "ok");
  ASSERT_EQ(j["channels"].size(), 1u);
  EXPECT_EQ(j["channels"][0]["Ttl"], "5");
  EXPECT_EQ(j["channels"][0]["Generator"], "");
  EXPECT_EQ(
      j["channels"][0]["Items"][0],
      nlohmann::json(
          {{"Title", "A"}, {"Link", "http://t/a"}, {"Description", ""}, {"Creator", "Ann"}, {"Date", ""}}));

  const struct {
    std::vector<std::string> args;
    int code;
    const char* status;
  } failures[] = {{{"rss", "--json", nginx.Url("/missing.xml")}, 3, "not-found"},
                  {{"rss", "--json", "gopher://h/x"}, 2, "bad-input"},
                  {{"rss", "--json", "http://127.0.0.1:1/feed.xml"}, 1, "failed"}};
  for (const auto& f : failures) {
    r = Qninet(f.args);
    EXPECT_EQ(r.ExitCode, f.code) << r.Output;
    EXPECT_EQ(nlohmann::json::parse(r.Stdout)["status"], f.status) << r.Output;
  }
}

TEST(ProgramExtract, PrintsTheAddressesOfOneKind) {
  Nginx nginx;
  nginx.WriteFile("page.html",
                  "<a href=\"mailto:ann@x.test\">Ann</a> <a href=\"http://x.test/a\">a</a>\n"
                  "<a href=\"https://x.test/b\">b</a> mailto:bob@x.test\n");
  nginx.Start();
  const struct {
    std::vector<std::string> args;
    int code;
    std::string stdout_text;
  } cases[] = {
      {{"extract", nginx.Url("/page.html")}, 0, "mailto:ann@x.test\nmailto:bob@x.test\n"},
      {{"extract", "--kind", "https", nginx.Url("/page.html")}, 0, "https://x.test/b\n"},
      {{"extract", "--kind", "http", "--json", nginx.Url("/page.html")},
       0,
       "{\"status\":\"ok\",\"ExtractedInfo\":[\"http://x.test/a\"]}\n"},
      {{"extract", "--json", nginx.Url("/gone.html")},
       3,
       "{\"status\":\"not-found\",\"error\":\"" + nginx.Url("/gone.html") + ": not found\"}\n"},
      {{"extract", "--kind", "smtp", nginx.Url("/page.html")}, 2, ""},
  };
  for (const auto& c : cases) {
    const auto r = Qninet(c.args);
    EXPECT_EQ(r.ExitCode, c.code) << r.Output;
    EXPECT_EQ(r.Stdout, c.stdout_text) << r.Output;
  }
}

TEST(ProgramFetch, WritesTheBodyAsItCame) {
  Nginx nginx;
  nginx.WriteFile("page.html", std::string("caf\xC3\xA9\0end", 9));
  nginx.Start();
  TempDir dir("qninet-fetch-prog");
  const std::string saved = dir.File("saved.html").string();
  const struct {
    std::vector<std::string> args;
    int code;
    std::string stdout_text;
  } cases[] = {
      {{"fetch", nginx.Url("/page.html")}, 0, std::string("caf\xC3\xA9\0end", 9)},
      {{"fetch", "-o", saved, nginx.Url("/page.html")}, 0, ""},
      {{"fetch", "--json", nginx.Url("/page.html")},
       0,
       "{\"status\":\"ok\",\"Body\":\"caf\xC3\xA9\\u0000end\"}\n"},
      {{"fetch", "--json", "http://127.0.0.1:1/"}, 1, ""},
      {{"fetch", "not a url"}, 2, ""},
  };
  for (const auto& c : cases) {
    const auto r = Qninet(c.args);
    EXPECT_EQ(r.ExitCode, c.code) << r.Output;
    if (c.code == 0) {
      EXPECT_EQ(r.Stdout, c.stdout_text) << r.Output;
    }
  }
  EXPECT_EQ(ReadFileText(saved), std::string("caf\xC3\xA9\0end", 9));
}

TEST(ProgramLs, ListsFtpFoldersAndPaths) {
  FtpServer ftp;
  for (const char* name : {"a.txt", "pub/b.txt", "pub/c.log", "pub/sub/d.txt"}) {
    std::filesystem::create_directories((ftp.Root() / name).parent_path());
    WriteFileBytes(ftp.Root() / name, name);
  }
  TempDir dir("qninet-ls-prog");
  dir.Write("x.txt", "x");
  const std::string local = dir.Path().string();
  const struct {
    std::vector<std::string> args;
    int code;
    std::string sorted_stdout;
  } cases[] = {
      {{"ls", ftp.Url("/")}, 0, "a.txt\npub\n"},
      {{"ls", "-r", "--wildcard", "*.txt", ftp.Url("/pub")}, 0, "/pub/b.txt\n/pub/sub/d.txt\n"},
      {{"ls", local}, 0, local + "/.\n" + local + "/..\n" + local + "/x.txt\n"},
      {{"ls", ftp.Url("/missing")}, 3, ""},
      {{"ls", "--user", "tester", "--password", "wrong", ftp.Url("/")}, 1, ""},
      {{"ls", "http://127.0.0.1:1/"}, 2, ""},
  };
  for (const auto& c : cases) {
    const auto r = Qninet(c.args);
    EXPECT_EQ(r.ExitCode, c.code) << r.Output;
    EXPECT_EQ(sorted_lines(r.Stdout), c.sorted_stdout) << r.Output;
  }
  // The folder that cannot be entered is named on standard error.
  auto r = Qninet({"ls", ftp.Url("/missing")});
  EXPECT_NE(r.Output.find("Cannot enter \"/missing\""), std::string::npos) << r.Output;

  r = Qninet({"ls", "--json", "-r", ftp.Url("/pub/sub")});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(nlohmann::json::parse(r.Stdout),
            nlohmann::json({{"status", "ok"}, {"files", {"/pub/sub/d.txt"}}}));
}
