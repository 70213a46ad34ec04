// Replacing a file's content in one step: a failed write must leave the old file whole and no
// file beside it.

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <filesystem>
#include <string>

#include "harness/Forked.h"
#include "harness/TempDir.h"
#include "qninet/rtl/Streams.h"
#include "qninet/rtl/SysUtils.h"

using namespace qninet;
namespace fs = std::filesystem;

namespace {

std::size_t entries(const fs::path& dir) {
  return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

}  // namespace

TEST(ReplaceFileContents, NewContentKeepsPermissionsAndLeavesNothingBeside) {
  harness::TempDir dir;
  const fs::path file = dir.File("a.txt");
  ReplaceFileContents(FromUtf8(file.string()), "first");
  ::chmod(file.c_str(), 0640);
  ReplaceFileContents(FromUtf8(file.string()), "second, longer");
  EXPECT_EQ(harness::ReadFileText(file), "second, longer");
  struct stat st {};
  ASSERT_EQ(::stat(file.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0640U);
  EXPECT_EQ(entries(dir.Path()), 1U);

  EXPECT_THROW(ReplaceFileContents(FromUtf8(dir.File("no/such/folder.txt").string()), "x"), EFCreateError);
}

TEST(ReplaceFileContents, AWriteCutShortLeavesTheOldFileWhole) {
  harness::TempDir dir;
  const fs::path file = dir.File("keep.txt");
  ReplaceFileContents(FromUtf8(file.string()), "old content");
  // A child whose files may not grow past 4 bytes: the write fails as on a full disk.
  const auto outcome = harness::RunForked(
      [&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4, 4};
        ::setrlimit(RLIMIT_FSIZE, &limit);
        try {
          ReplaceFileContents(FromUtf8(file.string()), std::string(1000, 'n'));
        } catch (const EFCreateError&) {
          return harness::CaseResult{true, ""};
        }
        return harness::CaseResult{false, "the failed write was not reported"};
      },
      4);
  EXPECT_TRUE(outcome.Ran && outcome.Success) << outcome.Text;
  EXPECT_EQ(harness::ReadFileText(file), "old content");
  EXPECT_EQ(entries(dir.Path()), 1U);
}
