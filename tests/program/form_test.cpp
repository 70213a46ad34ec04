// `qninet save` writes a one-component form and `qninet run` executes it against loopback servers;
// `qninet palette` against the built package, and `qninet props`.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "program/Qninet.h"
#include "qninet/design/Palette.h"

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

// What the package registers reaches the program through dlopen: the palette table's classes
// with their pictures, and the editors with what they show.
TEST(PaletteProgram, LoadsThePackageAndShowsEveryRegistration) {
  auto r = Qninet({"palette", "--package", QNINET_PACKAGE, "--json"});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  const auto j = nlohmann::json::parse(r.Stdout);
  EXPECT_EQ(j["Package"], "Veltraxon Internet components");
  EXPECT_EQ(j["Page"], "QN-Internet");
  auto table = nlohmann::json::array();
  for (const qninet::TPaletteEntry& e : qninet::QNInetPalette()) {
    std::string picture = e.Ref.Class->Name();
    for (char& c : picture) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if (e.Registered)
      table.push_back(
          {{"Class", e.Ref.Class->Name()}, {"Picture", e.Fill ? nlohmann::json(picture) : nlohmann::json()}});
  }
  EXPECT_EQ(j["Classes"], table);
  EXPECT_EQ(j["ComponentEditors"][1]["Verbs"], nlohmann::json::parse(R"(["About QNInternet"])"));
  EXPECT_EQ(j["PropertyEditors"][0]["Value"], "About QNInternet...");
  r = Qninet({"palette"});  // the text form, from the copy the program runs with
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_TRUE(
      r.Stdout.starts_with("package: Veltraxon Internet components\npage QN-Internet\n  TQNWhoIs  "
                           "picture TQNWHOIS\n"))
      << r.Stdout;
}

// Nested objects' properties follow their owner, events and read-only values show no value
// (reading the daytime client's DateTime would run a query), value names are bare.
TEST(PropsProgram, ListsNestedPropertiesAndReadsNoReadOnlyValue) {
  auto r = Qninet({"props", "tqnwhois", "--json"});  // case ignored
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  auto j = nlohmann::json::parse(r.Stdout);
  EXPECT_EQ(j["Class"], "TQNWhoIs");
  std::vector<std::string> names;
  for (const auto& p : j["Properties"]) {
    names.push_back(p["Name"]);
    if (p["Type"] == "Event") {
      EXPECT_TRUE(p["Default"].is_null()) << p;
    }
  }
  const auto proxy = std::find(names.begin(), names.end(), "Proxy");
  ASSERT_NE(proxy, names.end());
  EXPECT_EQ(proxy[1].rfind("Proxy.", 0), 0u) << "the nested object's properties follow it";
  r = Qninet({"props", "TQNInetDateTime", "--json", "--quiet"});
  j = nlohmann::json::parse(r.Stdout)["Properties"].back();
  EXPECT_EQ(j["Name"], "DateTime");
  EXPECT_TRUE(j["Default"].is_null()) << j;
  r = Qninet({"props", "TQNRemoteFiles"});
  EXPECT_NE(r.Stdout.find(" isHTTP\n"), std::string::npos) << r.Stdout;
  EXPECT_NE(r.Stdout.find(" \"\"\n"), std::string::npos) << "an empty text shows in quotes";
}

TEST(PaletteProgram, UnknownClassesAndUnloadablePackagesExitTwo) {
  const std::pair<std::vector<std::string>, std::string> cases[] = {
      {{"palette", "--package", "/nonexistent/libQNInetXE.so"}, "/nonexistent/libQNInetXE.so"},
      {{"palette", "--package", "libm.so.6"}, "exports no Register"},
  };
  for (const auto& [args, message] : cases) {
    const auto r = Qninet(args);
    EXPECT_EQ(r.ExitCode, 2) << args[1];
    EXPECT_NE(r.Output.find(message), std::string::npos) << r.Output;
    EXPECT_TRUE(r.Stdout.empty()) << r.Stdout;
  }
}
