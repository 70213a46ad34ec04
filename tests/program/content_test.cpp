// `qninet rss`, `extract`, `fetch`, `ls` and `http` over TLS as a user runs them, against nginx and
// pyftpdlib on loopback: what the program adds to the components (options, output, JSON, exit codes).

#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>

#include "harness/FtpServer.h"
#include "harness/Nginx.h"
#include "harness/Process.h"
#include "harness/TempDir.h"
#include "Qninet.h"

using namespace qninet::harness;

namespace {

// The listing's lines sorted, so the order of the server's folder does not matter.
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
const std::string kBody("caf\xC3\xA9\0end", 9);

}  // namespace

TEST(ProgramContent, OutputJsonAndExitCodesOfEachSubCommand) {
  Nginx nginx(true);
  nginx.WriteFile("feed.xml", kFeed);
  nginx.WriteFile("page.html",
                  "<a href=\"mailto:ann@x.test\">Ann</a> <a href=\"http://x.test/a\">a</a>\n"
                  "<a href=\"https://x.test/b\">b</a> mailto:bob@x.test\n");
  nginx.WriteFile("body.html", kBody);
  nginx.Start();
  FtpServer ftp;
  for (const char* name : {"a.txt", "pub/b.txt", "pub/c.log", "pub/sub/d.txt"}) {
    std::filesystem::create_directories((ftp.Root() / name).parent_path());
    WriteFileBytes(ftp.Root() / name, name);
  }
  TempDir dir("qninet-content-prog");
  const std::string localFeed = dir.Write("local.rss", kFeed).string();
  const std::string entities =
      dir.Write("entities.rss",
                "<rss><channel><title>Tom &amp; Jerry</title>\n<item><title>Caf&eacute; "
                "&#8364;</title>\n<pubDate>Mon, 01 Jan 2024</pubDate></item>\n</channel></rss>\n")
          .string();
  const std::string atom =
      dir.Write("news.atom",
                "<feed xmlns=\"http://www.w3.org/2005/Atom\"><title>A</title>\n<entry><title>E</title>"
                "<link href=\"http://e/\"/><summary>S</summary></entry></feed>\n")
          .string();
  const std::string folder = dir.Write("list/x.txt", "x").parent_path().string();
  const std::string saved = dir.File("saved.html").string();
  const std::string printed =
      "channel T &amp; C\n  Link: http://t/\n  Ttl: 5\n  item A\n    Link: http://t/a\n"
      "    Creator: Ann\n";
  const struct {
    std::vector<std::string> Args;
    int Code;
    std::string Stdout;  // sorted lines for ls; "*" when any
    std::string Says = {};
  } cases[] = {
      {{"rss", nginx.Url("/feed.xml")}, 0, printed},
      {{"rss", localFeed}, 0, printed},
      // --decode decodes the texts; pubDate fills the date.
      {{"rss", "--decode", entities},
       0,
       "channel Tom & Jerry\n  item Caf\xC3\xA9 \xE2\x82\xAC\n    Date: Mon, 01 Jan 2024\n"},
      {{"rss", entities},
       0,
       "channel Tom &amp; Jerry\n  item Caf&eacute; &#8364;\n    Date: Mon, 01 Jan 2024\n"},
      {{"rss", atom}, 0, "channel A\n  item E\n    Link: http://e/\n    Description: S\n"},
      {{"rss", "--json", nginx.Url("/feed.xml")},
       0,
       R"({"status":"ok","channels":[{"Title":"T &amp; C","Link":"http://t/","Description":"","Language":"",)"
       R"("Copyright":"","Rating":"","ManagingEditor":"","WebMaster":"","PubDate":"","LastBuildDate":"",)"
       R"("Category":"","Generator":"","Docs":"","Ttl":"5","Items":[{"Title":"A","Link":"http://t/a",)"
       R"("Description":"","Creator":"Ann","Date":""}]}]})"
       "\n"},
      {{"rss", "--json", nginx.Url("/missing.xml")}, 3, "*"},
      {{"rss", "--json", "gopher://h/x"}, 2, "*"},
      {{"rss", "--json", "http://127.0.0.1:1/feed.xml"}, 1, "*"},
      {{"extract", nginx.Url("/page.html")}, 0, "mailto:ann@x.test\nmailto:bob@x.test\n"},
      {{"extract", "--kind", "https", nginx.Url("/page.html")}, 0, "https://x.test/b\n"},
      {{"extract", "--kind", "http", "--json", nginx.Url("/page.html")},
       0,
       "{\"status\":\"ok\",\"ExtractedInfo\":[\"http://x.test/a\"]}\n"},
      {{"extract", "--json", nginx.Url("/gone.html")},
       3,
       "{\"status\":\"not-found\",\"error\":\"" + nginx.Url("/gone.html") + ": not found\"}\n"},
      {{"extract", "--kind", "smtp", nginx.Url("/page.html")}, 2, ""},
      {{"fetch", nginx.Url("/body.html")}, 0, kBody},
      {{"fetch", "-o", saved, nginx.Url("/body.html")}, 0, ""},
      {{"fetch", "--json", nginx.Url("/body.html")},
       0,
       "{\"status\":\"ok\",\"Body\":\"caf\xC3\xA9\\u0000end\"}\n"},
      {{"fetch", "--json", "http://127.0.0.1:1/"}, 1, "*"},
      {{"fetch", "not a url"}, 2, "*"},
      {{"ls", ftp.Url("/")}, 0, "a.txt\npub\n"},
      {{"ls", "-r", "--wildcard", "*.txt", ftp.Url("/pub")}, 0, "/pub/b.txt\n/pub/sub/d.txt\n"},
      {{"ls", folder}, 0, folder + "/.\n" + folder + "/..\n" + folder + "/x.txt\n"},
      {{"ls", "--json", "-r", ftp.Url("/pub/sub")},
       0,
       "{\"status\":\"ok\",\"files\":[\"/pub/sub/d.txt\"]}\n"},
      {{"ls", ftp.Url("/missing")}, 3, ""},
      {{"ls", "--user", "tester", "--password", "wrong", ftp.Url("/")}, 1, ""},
      {{"ls", "http://127.0.0.1:1/"}, 2, ""},
      // The CA comes from --cacert; without it the certificate is refused with the reason.
      {{"http", "--cacert", nginx.CA()->CaCert().string(), nginx.HttpsUrl("/page.html")},
       0,
       "<a href=\"mailto:ann@x.test\">Ann</a> <a href=\"http://x.test/a\">a</a>\r\n"
       "<a href=\"https://x.test/b\">b</a> mailto:bob@x.test\r\n"},
      {{"http", nginx.HttpsUrl("/page.html")}, 1, "", "unable to get local issuer certificate"},
      {{"http", "--cacert", "/nonexistent/ca.pem", nginx.HttpsUrl("/page.html")},
       2,
       "*",
       "cannot read the CA file"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args[0] + " " + c.Args.back());
    const auto r = Qninet(c.Args);
    EXPECT_EQ(r.ExitCode, c.Code) << r.Output;
    EXPECT_NE(r.Output.find(c.Says), std::string::npos) << r.Output;
    if (c.Stdout != "*") {
      EXPECT_EQ(c.Args[0] == "ls" ? sorted_lines(r.Stdout) : r.Stdout, c.Stdout) << r.Output;
    }
    // A failure under --json names its kind in the status.
    const char* kinds[] = {"\"ok\"", "\"failed\"", "\"bad-input\"", "\"not-found\""};
    if (std::find(c.Args.begin(), c.Args.end(), "--json") != c.Args.end()) {
      EXPECT_NE(r.Stdout.find(std::string("{\"status\":") + kinds[c.Code]), std::string::npos) << r.Stdout;
    }
  }
  EXPECT_EQ(ReadFileText(saved), kBody);
  // The folder that cannot be entered is named on standard error.
  const auto r = Qninet({"ls", ftp.Url("/missing")});
  EXPECT_NE(r.Output.find("Cannot enter \"/missing\""), std::string::npos) << r.Output;
}
