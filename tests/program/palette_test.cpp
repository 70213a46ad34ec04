// `qninet palette` against the built package, and `qninet props`.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "program/Qninet.h"
#include "qninet/design/Palette.h"

using namespace qninet::harness;

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
  const ProgramRun runs[] = {
      {{"palette", "--package", "/nonexistent/libQNInetXE.so"}, 2, "", {"/nonexistent/libQNInetXE.so"}},
      {{"palette", "--package", "libm.so.6"}, 2, "", {"exports no Register"}}};
  for (const ProgramRun& run : runs) ExpectRun(run);
}
