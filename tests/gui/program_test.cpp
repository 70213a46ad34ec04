// The program's --gui option: the console by default, the Qt windows through libQNInetQt
// loaded at run time, and a clear error where no display can be reached. (The Qt timer and
// Qt's picture readers are the content windows' test.)
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "harness/Nginx.h"
#include "harness/Process.h"
#include "harness/TempDir.h"

using namespace qninet::harness;

TEST(ProgramGui, GuiOptionPicksTheBackendOrSaysWhyNot) {
  Nginx nginx;
  nginx.WriteLargeFile("big.bin", 300000);
  nginx.Start();
  TempDir dir("qninet-gui-program");
  const std::string local = dir.File("big.bin").string();
  const std::vector<std::string> noDisplay = {"/usr/bin/env", "-u", "QT_QPA_PLATFORM", "-u",
                                              "DISPLAY",      "-u", "WAYLAND_DISPLAY"};
  const std::vector<std::string> offscreen = {"/usr/bin/env", "QT_QPA_PLATFORM=offscreen"};
  struct Case {
    std::vector<std::string> Env;
    std::vector<std::string> Args;
    int Exit;
    std::string InStdout, InOutput;
  };
  const std::vector<Case> cases = {
      {{}, {"about"}, 0, "\nTQNWhoIs - ", ""},
      {{}, {"--gui=console", "about"}, 0, "\nTQNMSTranslator - ", ""},
      {{}, {"about", "--json"}, 0, "{\"status\":\"ok\",\"Text\":\"", ""},
      {{}, {"about", "--gui", "nope"}, 2, "", "unknown --gui 'nope'"},
      {noDisplay, {"--gui", "qt", "about"}, 2, "", "no display"},
      {noDisplay, {"QNINET_GUI=qt", "about"}, 0, "\nTQNWhoIs - ", "QNINET_GUI=qt ignored"},
      // The status window is a Qt window here: the run goes through it to the end.
      {offscreen, {"--gui", "qt", "update", "--status", nginx.Url("/big.bin"), local}, 0, "isFinished", ""},
  };
  for (const Case& c : cases) {
    std::vector<std::string> argv = c.Env;
    if (!argv.empty() && c.Args[0].starts_with("QNINET_GUI=")) argv.push_back(c.Args[0]);
    argv.push_back(QNINET_PROGRAM);
    for (const std::string& a : c.Args)
      if (!a.starts_with("QNINET_GUI=")) argv.push_back(a);
    const RunResult r = RunToCompletion(argv);
    SCOPED_TRACE(r.Output);
    EXPECT_EQ(r.ExitCode, c.Exit);
    EXPECT_NE(r.Stdout.find(c.InStdout), std::string::npos);
    EXPECT_NE(r.Output.find(c.InOutput), std::string::npos);
  }
  EXPECT_EQ(std::filesystem::file_size(local), 300000u);
}
