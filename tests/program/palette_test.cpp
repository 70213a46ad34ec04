// `qninet palette` against the built package, and `qninet props`.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <map>
#include <string>
#include <vector>

#include "harness/Process.h"

using namespace qninet::harness;

namespace {

RunResult run_qninet(std::vector<std::string> args) {
  args.insert(args.begin(), QNINET_PROGRAM);
  return RunToCompletion(args);
}

}  // namespace

TEST(PaletteProgram, LoadsThePackageAndShowsEveryRegistration) {
  auto r = run_qninet({"palette", "--package", QNINET_PACKAGE, "--json"});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  const auto j = nlohmann::json::parse(r.Stdout);
  EXPECT_EQ(j["Package"], "Veltraxon Internet components");
  EXPECT_EQ(j["Page"], "QN-Internet");
  std::vector<std::string> classes, unpictured;
  for (const auto& c : j["Classes"]) {
    classes.push_back(c["Class"]);
    if (c["Picture"].is_null()) unpictured.push_back(c["Class"]);
  }
  // The order itself is the unit tests'; here: all of it reached the program through dlopen.
  EXPECT_EQ(classes.size(), 15u);
  EXPECT_EQ(classes.front() + " " + classes.back(), "TQNWhoIs TQNMSTranslator");
  EXPECT_EQ(unpictured, (std::vector<std::string>{"TQNIRSSParser", "TQNInetSNTP"}));
  EXPECT_EQ(j["Classes"][0]["Picture"], "TQNWHOIS");
  EXPECT_EQ(j["ComponentEditors"], nlohmann::json::parse(R"([
    {"Editor": "TQNInetComponentEditor", "Class": "TQNInetBase", "Verbs": ["About QNInternet"]},
    {"Editor": "TQNInetComponentEditor", "Class": "TQNCustomWebComponent", "Verbs": ["About QNInternet"]}])"));
  EXPECT_EQ(j["PropertyEditors"], nlohmann::json::parse(R"([
    {"Editor": "TQNInetAboutProperty", "Class": "TQNInetBase", "Type": "String", "Property": "About",
     "Value": "About QNInternet...", "Attributes": "dialog,read-only"}])"));

  // The text form, from the copy the program runs with.
  r = run_qninet({"palette"});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_EQ(
      r.Stdout.rfind(
          "package: Veltraxon Internet components\npage QN-Internet\n  TQNWhoIs  picture TQNWHOIS\n", 0),
      0u)
      << r.Stdout;
  EXPECT_NE(r.Stdout.find("  TQNInetSNTP  (no picture)\n"), std::string::npos);
}

TEST(PropsProgram, ListsTypesAndStartingValuesNestedObjectsIncluded) {
  auto r = run_qninet({"props", "tqnwhois", "--json"});  // case ignored
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  const auto j = nlohmann::json::parse(r.Stdout);
  EXPECT_EQ(j["Class"], "TQNWhoIs");
  std::map<std::string, nlohmann::json> props;
  for (const auto& p : j["Properties"]) props[p["Name"]] = p;
  const struct {
    const char* Name;
    const char* Type;
    nlohmann::json Default;
  } expected[] = {{"Port", "Integer", 43},
                  {"Timeout", "Integer", 60000},
                  {"UseTLS", "TQNITLSMode", "tlsNone"},
                  {"Proxy.Port", "Integer", 0},
                  {"About", "String", ""},
                  {"OnAfterExecute", "Event", nullptr},
                  {"AutoSelectServer", "Boolean", true}};
  for (const auto& e : expected) {
    ASSERT_TRUE(props.contains(e.Name)) << e.Name;
    EXPECT_EQ(props[e.Name]["Type"], e.Type) << e.Name;
    EXPECT_EQ(props[e.Name]["Default"], e.Default) << e.Name;
  }

  // A read-only value is shown without being read: reading the daytime client's runs a query.
  r = run_qninet({"props", "TQNInetDateTime", "--json", "--quiet"});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  const auto dt = nlohmann::json::parse(r.Stdout)["Properties"].back();
  EXPECT_EQ(dt["Name"], "DateTime");
  EXPECT_TRUE(dt["Default"].is_null()) << dt;

  r = run_qninet({"props", "TQNRemoteFiles"});
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  EXPECT_NE(r.Stdout.find("\nService "), std::string::npos) << r.Stdout;
  EXPECT_NE(r.Stdout.find(" isHTTP\n"), std::string::npos) << r.Stdout;  // value names bare
}

TEST(PaletteProgram, UnknownClassesAndUnloadablePackagesExitTwo) {
  const struct {
    std::vector<std::string> Args;
    const char* Message;
  } cases[] = {
      {{"props", "TQNIDNSResolver"}, "no such class on the palette"},  // not registered
      {{"props", "TNothing"}, "no such class on the palette"},
      {{"palette", "--package", "/nonexistent/libQNInetXE.so"}, "/nonexistent/libQNInetXE.so"},
      {{"palette", "--package", "libm.so.6"}, "exports no Register"},
  };
  for (const auto& c : cases) {
    auto r = run_qninet(c.Args);
    EXPECT_EQ(r.ExitCode, 2) << c.Args[1];
    EXPECT_NE(r.Output.find(c.Message), std::string::npos) << r.Output;
    EXPECT_TRUE(r.Stdout.empty()) << r.Stdout;
  }
}
