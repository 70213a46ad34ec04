// `qninet xml`: the printed tree from a file, and as JSON from standard input.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "harness/Process.h"
#include "harness/TempDir.h"

using namespace qninet::harness;

namespace {

// The document from a file, or with `piped` through standard input ("-").
RunResult xml(const std::string& option, bool piped) {
  TempDir dir("qninet-xml-prog");
  const std::string path =
      dir.Write("feed.xml",
                "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
                "<feed lang=\"fr\">\t<t>Caf\xC3\xA9 &amp; \"th\\e\"</t><!-- c --><e/></feed>")
          .string();
  if (!piped) return RunToCompletion({QNINET_PROGRAM, "xml", option, path});
  return RunToCompletion(
      {"/bin/sh", "-c", "'" + std::string(QNINET_PROGRAM) + "' xml " + option + " - < '" + path + "'"});
}

}  // namespace

TEST(XmlProgram, PlainTreeFromAFile) {
  const RunResult r = xml("--quiet", false);
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(r.Stdout,
            "ikProperty ?xml = \"\\n\"\n"
            "  ikAttribute version = \"1.0\"\n"
            "  ikAttribute encoding = \"utf-8\"\n"
            "  ikProperty feed = \"\\t\" [ lang=\\\"fr\\\"]\n"
            "    ikProperty t = \"Caf\xC3\xA9 & \\\"th\\\\e\\\"\"\n"
            "    ikComment Comment = \"Comment c --\"\n"
            "    ikProperty e\n");
}

TEST(XmlProgram, JsonTreeFromStandardInput) {
  const RunResult r = xml("--json", true);
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  const std::string empty = "\"Attributes\":\"\",\"Items\":[]}";
  EXPECT_EQ(r.Stdout,
            "{\"status\":\"ok\",\"RootItem\":{\"Kind\":\"ikProperty\",\"TagName\":\"?xml\",\"Value\":\"\\n\","
            "\"Attributes\":\"\",\"Items\":["
            "{\"Kind\":\"ikAttribute\",\"TagName\":\"version\",\"Value\":\"1.0\"," +
                empty + ",{\"Kind\":\"ikAttribute\",\"TagName\":\"encoding\",\"Value\":\"utf-8\"," + empty +
                ",{\"Kind\":\"ikProperty\",\"TagName\":\"feed\",\"Value\":\"\\t\","
                "\"Attributes\":\" lang=\\\"fr\\\"\",\"Items\":["
                "{\"Kind\":\"ikProperty\",\"TagName\":\"t\",\"Value\":\"Caf\xC3\xA9 & \\\"th\\\\e\\\"\"," +
                empty + ",{\"Kind\":\"ikComment\",\"TagName\":\"Comment\",\"Value\":\"Comment c --\"," +
                empty + ",{\"Kind\":\"ikProperty\",\"TagName\":\"e\",\"Value\":null," + empty + "]}]}}\n");
}

// Nesting deeper than 64 levels writes the depth as a number, so no line grows with the depth.
TEST(XmlProgram, DeepNestingWritesTheDepthAsANumber) {
  TempDir dir("qninet-xml-deep");
  std::string doc;
  for (int i = 0; i < 70; ++i) doc += "<a>";
  for (int i = 0; i < 70; ++i) doc += "</a>";
  const RunResult r =
      RunToCompletion({QNINET_PROGRAM, "xml", "--quiet", dir.Write("deep.xml", doc).string()});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  std::vector<std::string> lines;
  for (std::size_t at = 0, nl; (nl = r.Stdout.find('\n', at)) != std::string::npos; at = nl + 1)
    lines.push_back(r.Stdout.substr(at, nl - at));
  ASSERT_EQ(lines.size(), 70u) << r.Stdout.substr(0, 400);
  const std::pair<std::size_t, std::string> cases[] = {
      {0, "ikProperty a"},     {1, "  ikProperty a"},   {64, std::string(128, ' ') + "ikProperty a"},
      {65, "65 ikProperty a"}, {69, "69 ikProperty a"},
  };
  for (const auto& [depth, line] : cases) EXPECT_EQ(lines[depth], line) << depth;
}
