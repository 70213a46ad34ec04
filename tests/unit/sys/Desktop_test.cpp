// The desktop opener: xdg-open gets the target as one argument, never through a shell, and
// targets that would read as options or carry control characters are refused.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "harness/TempDir.h"
#include "qninet/sys/Desktop.h"
#include "support/Overrides.h"

using namespace qninet;
namespace fs = std::filesystem;

TEST(ShellOpen, PassesTheTargetAsOneArgumentToXdgOpenOnThePath) {
  harness::TempDir dir("qninet-shell-open");
  // A stand-in opener that records its arguments, one per line.
  const fs::path opener =
      dir.Write("bin/xdg-open", "#!/bin/sh\nfor a in \"$@\"; do echo \"$a\"; done > \"$0.args\"\n");
  fs::permissions(opener, fs::perms::owner_all);
  const std::string target = "http://h/a b?x=$(touch pwned);'q'";
  {
    const test_support::ScopedEnv path("PATH",
                                       (dir.File("bin").string() + ":" + std::getenv("PATH")).c_str());
    ASSERT_TRUE(sys::shell_open(target).ok());
  }
  const fs::path args = dir.File("bin/xdg-open.args");
  for (int i = 0; i < 500 && harness::ReadFileText(args).empty(); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  EXPECT_EQ(harness::ReadFileText(args), target + "\n");
  EXPECT_FALSE(fs::exists("pwned"));  // no shell ran the substitution

  for (const std::string& refused : {std::string(), std::string("--help"), std::string("http://h/\nx")})
    EXPECT_FALSE(sys::shell_open(refused).ok()) << refused;
}
