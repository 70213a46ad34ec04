// `qninet rss`, `extract`, `fetch`, `ls` and `http` over TLS as a user runs them, against nginx and
// pyftpdlib on loopback: what the program adds to the components (options, output, JSON, exit
// codes); and `qninet xml`: the printed tree from a file, as JSON from standard input, and the
// depth as a number past 64 levels.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sstream>

#include <unistd.h>

#include "harness/FtpServer.h"
#include "harness/Nginx.h"
#include "harness/Process.h"
#include "harness/TempDir.h"
#include "Qninet.h"

using namespace qninet::harness;

namespace {

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
  const std::string printed =
      "channel T & C\n  Link: http://t/\n  Ttl: 5\n  item A\n    Link: http://t/a\n"
      "    Creator: Ann\n";
  const struct {
    std::vector<std::string> Args;
    int Code;
    std::string Stdout;  // sorted lines for ls; "*" when any
    std::string Says = {};
  } cases[] = {
      {{"rss", nginx.Url("/feed.xml")}, 0, printed},
      // --decode decodes the texts; pubDate fills the date.
      {{"rss", "--decode", entities},
       0,
       "channel Tom & Jerry\n  item Caf\xC3\xA9 \xE2\x82\xAC\n    Date: Mon, 01 Jan 2024\n"},
      {{"rss", "--raw", entities},
       0,
       "channel Tom &amp; Jerry\n  item Caf&eacute; &#8364;\n    Date: Mon, 01 Jan 2024\n"},
      {{"rss", atom}, 0, "channel A\n  item E\n    Link: http://e/\n    Description: S\n"},
      {{"rss", "--json", nginx.Url("/feed.xml")},
       0,
       R"({"status":"ok","channels":[{"Title":"T & C","Link":"http://t/","Description":"","Language":"",)"
       R"("Copyright":"","Rating":"","ManagingEditor":"","WebMaster":"","PubDate":"","LastBuildDate":"",)"
       R"("Category":"","Generator":"","Docs":"","Ttl":"5","Items":[{"Title":"A","Link":"http://t/a",)"
       R"("Description":"","Creator":"Ann","Date":""}]}]})"
       "\n"},
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
      {{"fetch", "--json", nginx.Url("/body.html")},
       0,
       "{\"status\":\"ok\",\"Body\":\"caf\xC3\xA9\\u0000end\"}\n"},
      {{"fetch", "--json", "http://127.0.0.1:1/"}, 1, "*"},
      {{"fetch", "not a url"}, 2, "*"},
      {{"ls", ftp.Url("/")}, 0, "a.txt\npub\n"},
      {{"ls", "-r", "--wildcard", "*.txt", ftp.Url("/pub")}, 0, "b.txt\nsub/d.txt\n"},
      {{"ls", "--json", "-r", ftp.Url("/pub/sub")}, 0, "{\"status\":\"ok\",\"files\":[\"d.txt\"]}\n"},
      {{"ls", "--user", "tester", "--password", "wrong", ftp.Url("/")}, 1, ""},
      {{"ls", "http://127.0.0.1:1/"}, 2, ""},
      // The CA comes from --cacert; without it the certificate is refused with the reason.
      {{"http", "--cacert", nginx.CA()->CaCert().string(), nginx.HttpsUrl("/page.html")},
       0,
       "<a href=\"mailto:ann@x.test\">Ann</a> <a href=\"http://x.test/a\">a</a>\n"
       "<a href=\"https://x.test/b\">b</a> mailto:bob@x.test\n"},
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
}

TEST(XmlProgram, PlainFromAFileJsonFromStandardInput) {
  TempDir dir("qninet-xml-prog");
  const std::string path =
      dir.Write("feed.xml",
                "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
                "<feed lang=\"fr\">\t<t>Caf\xC3\xA9 &amp; \"th\\e\"</t><!-- c --><e/></feed>")
          .string();
  const std::string item = R"({"Kind":"ik%s","TagName":"%s","Value":%s,"Attributes":"%s","Items":[)";
  auto node = [&](const char* kind, const char* name, const char* value, const char* attrs) {
    char out[200];
    std::snprintf(out, sizeof out, item.c_str(), kind, name, value, attrs);
    return std::string(out);
  };
  const std::string json = R"({"status":"ok","RootItem":)" + node("Property", "?xml", R"("\n")", "") +
                           node("Attribute", "version", R"("1.0")", "") + "]}," +
                           node("Attribute", "encoding", R"("utf-8")", "") + "]}," +
                           node("Property", "feed", R"("\t")", R"( lang=\"fr\")") +
                           node("Property", "t", "\"Caf\xC3\xA9 & \\\"th\\\\e\\\"\"", "") + "]}," +
                           node("Comment", "Comment", R"("Comment c --")", "") + "]}," +
                           node("Property", "e", "null", "") + "]}]}]}}\n";
  const struct {
    std::vector<std::string> Command;
    std::string Stdout;
  } cases[] = {
      {{QNINET_PROGRAM, "xml", "--quiet", path},
       "ikProperty ?xml = \"\\n\"\n  ikAttribute version = \"1.0\"\n  ikAttribute encoding = \"utf-8\"\n"
       "  ikProperty feed = \"\\t\" [ lang=\\\"fr\\\"]\n    ikProperty t = \"Caf\xC3\xA9 & "
       "\\\"th\\\\e\\\"\"\n"
       "    ikComment Comment = \"Comment c --\"\n    ikProperty e\n"},
      {{"/bin/sh", "-c",
        std::string("'").append(QNINET_PROGRAM).append("' xml --json - < '").append(path) + "'"},
       json},
  };
  for (const auto& c : cases) {
    const RunResult r = RunToCompletion(c.Command);
    EXPECT_EQ(r.ExitCode, 0) << r.Output;
    EXPECT_EQ(r.Stdout, c.Stdout);
  }
}

// Nesting deeper than 64 levels writes the depth as a number, so no line grows with the depth.
TEST(XmlProgram, DeepNestingWritesTheDepthAsANumber) {
  TempDir dir("qninet-xml-deep");
  std::string doc;
  for (int i = 0; i < 70; ++i) doc = "<a>" + doc + "</a>";
  const RunResult deep =
      RunToCompletion({QNINET_PROGRAM, "xml", "--quiet", dir.Write("deep.xml", doc).string()});
  ASSERT_EQ(deep.ExitCode, 0) << deep.Output;
  std::vector<std::string> lines;
  for (std::size_t at = 0, nl; (nl = deep.Stdout.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(deep.Stdout.substr(at, nl - at));
  ASSERT_EQ(lines.size(), 70u) << deep.Stdout.substr(0, 400);
  const std::pair<std::size_t, std::string> cases[] = {{0, "ikProperty a"},
                                                       {64, std::string(128, ' ') + "ikProperty a"},
                                                       {65, "65 ikProperty a"},
                                                       {69, "69 ikProperty a"}};
  for (const auto& [depth, line] : cases) EXPECT_EQ(lines[depth], line) << depth;
}

// A local sub-folder that cannot be read leaves the listing incomplete: the names found are
// printed, but the run fails and names the folder. Root reads every folder, so as root the
// program runs as nobody.
TEST(ProgramContent, AListingMissingAnUnreadableFolderFails) {
  TempDir dir("qninet-ls-locked");
  const std::filesystem::path tree = dir.Path() / "tree";
  dir.Write("tree/open/a.txt", "a");
  dir.Write("tree/shut/b.txt", "b");
  for (const auto& p : {dir.Path(), tree, tree / "open"})
    std::filesystem::permissions(p, std::filesystem::perms(0755));
  std::filesystem::permissions(tree / "shut", std::filesystem::perms::none);
  std::vector<std::string> command{QNINET_PROGRAM, "ls", "-r", "--wildcard", "*.txt", tree.string()};
  if (::geteuid() == 0)
    command.insert(command.begin(), {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
  const RunResult r = RunToCompletion(command, std::chrono::seconds(60));
  std::filesystem::permissions(tree / "shut", std::filesystem::perms(0755));
  EXPECT_EQ(r.ExitCode, 1) << r.Output;
  EXPECT_EQ(r.Stdout, "open/a.txt\n");
  EXPECT_NE(r.Output.find("Cannot enter \"" + (tree / "shut").string() + "\""), std::string::npos)
      << r.Output;
}
