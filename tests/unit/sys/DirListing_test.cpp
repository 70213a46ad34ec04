// Reading a folder whose path is longer than the system's limit: its entries, not an error.

#include "qninet/sys/DirListing.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "harness/TempDir.h"

using namespace qninet;

TEST(DirListing, FolderDeeperThanThePathLimitIsRead) {
  harness::TempDir dir("qninet-deepdir");
  const std::string name(200, 'd');
  std::string path = dir.Path().string();
  std::vector<int> levels{::open(path.c_str(), O_RDONLY | O_DIRECTORY)};
  for (int level = 0; level < 30; ++level, path += "/" + name) {  // 6,000 bytes of path
    ASSERT_EQ(::mkdirat(levels.back(), name.c_str(), 0700), 0);
    levels.push_back(::openat(levels.back(), name.c_str(), O_RDONLY | O_DIRECTORY));
  }
  ::close(::openat(levels.back(), "leaf", O_CREAT | O_WRONLY, 0600));
  ASSERT_EQ(::symlinkat("..", levels.back(), "up"), 0);
  const auto read = sys::read_directory(path);
  std::string got = read ? "" : "failed: " + std::to_string(read.failure().Code);
  for (const auto& e : read ? read->Entries : std::vector<sys::DirEntry>{})
    if (e.Name != "." && e.Name != "..") got += e.Name + (e.Directory ? "/ " : " ");
  EXPECT_TRUE(got == "leaf up/ " || got == "up/ leaf ") << got;
  // Removed here: the temporary folder's own removal takes whole paths.
  ::unlinkat(levels.back(), "leaf", 0);
  ::unlinkat(levels.back(), "up", 0);
  for (std::size_t level = levels.size() - 1; level > 0; --level) {
    ::close(levels[level]);
    ::unlinkat(levels[level - 1], name.c_str(), AT_REMOVEDIR);
  }
  ::close(levels[0]);
}
