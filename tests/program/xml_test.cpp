// `qninet xml`: the printed tree, plain and JSON, and the failure for a missing file.

#include <gtest/gtest.h>

#include <string>

#include "harness/Process.h"
#include "harness/TempDir.h"

using namespace qninet::harness;

namespace {

RunResult xml(const std::vector<std::string>& args) {
  TempDir dir("qninet-xml-prog");
  const std::string path =
      dir.Write("feed.xml",
                "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
                "<feed lang=\"fr\">\t<t>Caf\xC3\xA9 &amp; \"th\\e\"</t><!-- c --><e/></feed>")
          .string();
  std::vector<std::string> argv{QNINET_PROGRAM, "xml"};
  argv.insert(argv.end(), args.begin(), args.end());
  argv.push_back(path);
  return RunToCompletion(argv);
}

}  // namespace

TEST(XmlProgram, PlainTree) {
  const RunResult r = xml({});
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

TEST(XmlProgram, JsonTree) {
  const RunResult r = xml({"--json"});
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  const std::string empty = "\"Attributes\":\"\",\"Items\":[]}";
  EXPECT_EQ(r.Stdout,
            "{\"Kind\":\"ikProperty\",\"TagName\":\"?xml\",\"Value\":\"\\n\",\"Attributes\":\"\",\"Items\":["
            "{\"Kind\":\"ikAttribute\",\"TagName\":\"version\",\"Value\":\"1.0\"," +
                empty + ",{\"Kind\":\"ikAttribute\",\"TagName\":\"encoding\",\"Value\":\"utf-8\"," + empty +
                ",{\"Kind\":\"ikProperty\",\"TagName\":\"feed\",\"Value\":\"\\t\","
                "\"Attributes\":\" lang=\\\"fr\\\"\",\"Items\":["
                "{\"Kind\":\"ikProperty\",\"TagName\":\"t\",\"Value\":\"Caf\xC3\xA9 & \\\"th\\\\e\\\"\"," +
                empty + ",{\"Kind\":\"ikComment\",\"TagName\":\"Comment\",\"Value\":\"Comment c --\"," +
                empty + ",{\"Kind\":\"ikProperty\",\"TagName\":\"e\",\"Value\":null," + empty + "]}]}\n");
}

TEST(XmlProgram, MissingFileExitsWithOne) {
  const RunResult r = RunToCompletion({QNINET_PROGRAM, "xml", "/nonexistent/qninet.xml"});
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Output.find("cannot open /nonexistent/qninet.xml"), std::string::npos) << r.Output;
}
