// `qninet news` and `qninet image` as a user runs them on the console, against nginx on
// loopback. The program runs from a copy in a test folder, where its news file then goes.

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <filesystem>

#include "harness/Nginx.h"
#include "Qninet.h"
#include "harness/TempDir.h"

using namespace qninet::harness;
namespace fs = std::filesystem;

TEST(ProgramNews, PrintsTheTreeWithNewEntriesAsTheShowModeSays) {
  Nginx nginx;
  nginx.WriteFile("news.nwf", "[News]\nhttp://n/1=One\nhttp://n/2=Two\n[Tips]\nhttp://t/1=Tip\n");
  nginx.Start();
  TempDir dir("qninet-news-prog");
  const fs::path program = dir.File("qninet");
  fs::copy_file(QNINET_PROGRAM, program);
  const std::string url = nginx.Url("/news.nwf"), summary = dir.File("qninet.nwf").string() + ": ";
  const struct {
    const char* Remote;  // null: unchanged
    std::vector<std::string> Args;
    int Exit;
    std::string Stdout;
  } steps[] = {
      {nullptr,
       {url},
       0,
       "Veltraxon WebDirect\nNews\n  * One\n  * Two\nTips\n  * Tip\n" + summary +
           "2 sections, 3 entries, 3 new\n"},
      {nullptr, {"--show", "changed", url}, 0, summary + "2 sections, 3 entries, 0 new\n"},
      {nullptr,
       {url},
       0,
       "Veltraxon WebDirect\nNews\n    One\n    Two\nTips\n    Tip\n" + summary +
           "2 sections, 3 entries, 0 new\n"},
      {"[News]\nhttp://n/4=Four\n", {"--show", "never", url}, 0, summary + "1 sections, 1 entries, 1 new\n"},
      {nullptr, {"--show", "sometimes", url}, 2, ""},
      {nullptr, {nginx.Url("/missing.nwf")}, 3, ""},
  };
  for (const auto& s : steps) {
    if (s.Remote) nginx.WriteFile("news.nwf", s.Remote);
    std::vector<std::string> argv = {program.string(), "news"};
    argv.insert(argv.end(), s.Args.begin(), s.Args.end());
    const RunResult r = RunToCompletion(argv, std::chrono::seconds(60));
    SCOPED_TRACE(r.Output);
    EXPECT_EQ(r.ExitCode, s.Exit);
    if (s.Exit == 0) {
      EXPECT_EQ(r.Stdout, s.Stdout);
    }
  }
  EXPECT_TRUE(fs::exists(dir.File("qninet.~nwf")));
  const RunResult r = RunToCompletion({program.string(), "news", "--json", url}, std::chrono::seconds(60));
  ASSERT_EQ(r.ExitCode, 0) << r.Output;
  const auto j = nlohmann::json::parse(r.Stdout);
  EXPECT_EQ(j["sections"],
            nlohmann::json::parse(
                R"([{"Name":"News","Entries":[{"Key":"http://n/4","Text":"Four","New":false}]}])"));
}

TEST(ProgramImage, PrintsWhatEachRunLoaded) {
  Nginx nginx;
  nginx.WriteFile("pic.png", kPng);
  nginx.WriteFile("pic.xyz", kPng);
  nginx.Start();
  const std::string png = nginx.Url("/pic.png");
  const ProgramRun runs[] = {
      {{"image", "--count", "2", "--interval", "0.05", png},
       0,
       "run 1: isFinished, png 4x5, 32 bytes\nrun 2: isSkipped, png 4x5, 32 bytes\n"},
      {{"image", nginx.Url("/pic.xyz")}, 1, "", {"Unknown picture file extension (.xyz)"}},
      {{"image", nginx.Url("/missing.png")}, 3, "run 1: isNotFound, no picture\n", {"404"}},
      {{"image", "--interval", "0", png}, 2, "", {"--interval"}},
      {{"image", "--json", png},
       0,
       R"({"status":"ok","runs":[{"status":"isFinished","format":"png","width":4,"height":5,"bytes":32}]})"
       "\n"},
  };
  for (const ProgramRun& run : runs) ExpectRun(run);
}
