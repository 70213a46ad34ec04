// `qninet xml`: the printed tree from a file, as JSON from standard input, and the depth as a
// number past 64 levels.

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "harness/Process.h"
#include "harness/TempDir.h"

using namespace qninet::harness;

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
      {{"/bin/sh", "-c", "'" + std::string(QNINET_PROGRAM) + "' xml --json - < '" + path + "'"}, json},
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
