// `qninet save` writes a one-component form and `qninet run` executes it against loopback servers.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "program/Qninet.h"

using namespace qninet::harness;

namespace {

// Saves a form into `dir` and returns its path; the save must succeed.
std::string save(const TempDir& dir, std::vector<std::string> args) {
  args.insert(args.begin(), "save");
  const auto r = Qninet(args);
  EXPECT_EQ(r.ExitCode, 0) << r.Output;
  return dir.Write("form.json", r.Stdout).string();
}

}  // namespace

TEST(FormProgram, SavedWhoisRunsAgainstItsServer) {
  ScriptedServer server(Script().ReadUntil("\r\n\r\n").Send("Domain: example.com\r\n"));
  TempDir dir("qninet-form");
  const std::string form = save(dir, {"TQNWhoIs", "Domain=example.com", "Timeout=5000", "--host", "127.0.0.1",
                                      "--port", std::to_string(server.Port())});
  const auto r = Qninet({"run", form, "qnwhois1", "--json"});  // named, case ignored
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  const auto j = nlohmann::json::parse(r.Stdout);
  EXPECT_EQ(j["Component"], "QNWhoIs1");
  EXPECT_EQ(j["Answer"], "Domain: example.com\r\n");
}

TEST(FormProgram, BadClassesPropertiesValuesAndFormsAreNamed) {
  TempDir dir("qninet-form");
  const auto broken =
      dir.Write("broken.json", R"({"Class":"TQNWhoIs","Properties":{"Name":"W1","Port":"x"}})");
  const auto unknown = dir.Write("unknown.json", R"({"Class":"TQNGopher","Properties":{"Name":"G"}})");
  const auto text = dir.Write("text.json", "not json");
  const auto wrapped =
      dir.Write("wrapped.json", R"({"Class":"TQNWebUpdater","Properties":{"Name":"W1","Timeout":-1}})");
  const ProgramRun runs[] = {
      {{"save", "TNothing"}, 2, "", {"TNothing: no such class on the palette"}},
      {{"save", "TQNWhoIs", "Proxy.Nope=1"}, 2, "", {"Proxy.Nope: no such property"}},
      {{"save", "TQNWhoIs", "AutoSelectServer=maybe"}, 2, "", {"property AutoSelectServer: true or false"}},
      {{"save", "TQNRemoteImage", "Port=70000"}, 2, "", {"property Port: 70000 is out of range"}},
      {{"save", "TQNRemoteImage", "Interval=-1000"}, 2, "", {"property Interval: -1000 is out of range"}},
      {{"run", wrapped.string()}, 2, "", {"W1: property Timeout: -1 is out of range"}},
      {{"run", broken.string()},
       2,
       "",
       {broken.string() + ": W1: property Port: a whole number is expected"}},
      {{"run", unknown.string()}, 2, "", {unknown.string() + ": G: unknown class TQNGopher"}},
      {{"run", text.string()}, 2, "", {text.string() + ": Invalid form file"}},
      {{"run", dir.File("none.json").string()}, 2, "", {"cannot read the form file"}},
      {{"run", broken.string(), "Other"}, 2, "", {": W1: property Port"}},  // read whole before choosing
  };
  for (const ProgramRun& run : runs) {
    SCOPED_TRACE(run.Args[1]);
    ExpectRun(run);
  }
  // A component that fails exits 1 with its error.
  const std::string form =
      save(dir, {"TQNWhoIs", "Domain=example.com", "--host", "127.0.0.1", "--port", "1"});
  const auto r = Qninet({"run", form});
  EXPECT_EQ(r.ExitCode, 1) << r.Output;
  EXPECT_NE(r.Output.find("127.0.0.1:1"), std::string::npos) << r.Output;
}
