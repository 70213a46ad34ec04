// `qninet xml`: the printed tree, plain and JSON, and the failure for a missing file.

#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

namespace {

struct ProgramRun {
  int ExitCode = -1;
  std::string Output;
};

ProgramRun run_program(const std::string& args) {
  ProgramRun r;
  const std::string command = std::string("'") + QNINET_PROGRAM + "' " + args;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return r;
  char buf[4096];
  std::size_t n;
  while ((n = fread(buf, 1, sizeof buf, pipe)) > 0) r.Output.append(buf, n);
  const int status = pclose(pipe);
  r.ExitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

class XmlProgram : public ::testing::Test {
protected:
  void SetUp() override {
    Path =
        std::filesystem::temp_directory_path() /
        ("qninet_xml_program_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".xml");
    std::ofstream f(Path, std::ios::binary);
    f << "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"
         "<feed lang=\"fr\">\t<t>Caf\xC3\xA9 &amp; \"th\\e\"</t><!-- c --><e/></feed>";
  }
  void TearDown() override { std::filesystem::remove(Path); }
  std::filesystem::path Path;
};

}  // namespace

TEST_F(XmlProgram, PlainTree) {
  const ProgramRun r = run_program("xml '" + Path.string() + "'");
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(r.Output,
            "ikProperty ?xml = \"\\n\"\n"
            "  ikAttribute version = \"1.0\"\n"
            "  ikAttribute encoding = \"utf-8\"\n"
            "  ikProperty feed = \"\\t\" [ lang=\\\"fr\\\"]\n"
            "    ikProperty t = \"Caf\xC3\xA9 & \\\"th\\\\e\\\"\"\n"
            "    ikComment Comment = \"Comment c --\"\n"
            "    ikProperty e\n");
}

TEST_F(XmlProgram, JsonTree) {
  const ProgramRun r = run_program("xml --json '" + Path.string() + "'");
  EXPECT_EQ(r.ExitCode, 0);
  EXPECT_EQ(
      r.Output,
      "{\"Kind\":\"ikProperty\",\"TagName\":\"?xml\",\"Value\":\"\\n\",\"Attributes\":\"\",\"Items\":["
      "{\"Kind\":\"ikAttribute\",\"TagName\":\"version\",\"Value\":\"1.0\",\"Attributes\":\"\",\"Items\":[]},"
      "{\"Kind\":\"ikAttribute\",\"TagName\":\"encoding\",\"Value\":\"utf-8\",\"Attributes\":\"\",\"Items\":["
      "]},"
      "{\"Kind\":\"ikProperty\",\"TagName\":\"feed\",\"Value\":\"\\t\",\"Attributes\":\" "
      "lang=\\\"fr\\\"\",\"Items\":["
      "{\"Kind\":\"ikProperty\",\"TagName\":\"t\",\"Value\":\"Caf\xC3\xA9 & "
      "\\\"th\\\\e\\\"\",\"Attributes\":\"\","
      "\"Items\":[]},"
      "{\"Kind\":\"ikComment\",\"TagName\":\"Comment\",\"Value\":\"Comment c "
      "--\",\"Attributes\":\"\",\"Items\":[]},"
      "{\"Kind\":\"ikProperty\",\"TagName\":\"e\",\"Value\":null,\"Attributes\":\"\",\"Items\":[]}]}]}\n");
}

TEST(XmlProgramErrors, MissingFileExitsWithOne) {
  const ProgramRun r = run_program("xml /nonexistent/qninet.xml 2>&1");
  EXPECT_EQ(r.ExitCode, 1);
  EXPECT_NE(r.Output.find("cannot open /nonexistent/qninet.xml"), std::string::npos) << r.Output;
}
