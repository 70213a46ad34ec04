// The remote directory lister on local folders: joins, wildcards, "." and "..", depth-first
// order, links that loop, the depth bound, and the outcomes of a run.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "harness/TempDir.h"
#include "qninet/web/qnidir.h"
#include "support/StringLists.h"

namespace fs = std::filesystem;
using namespace qninet;
using test_support::lines_of;
using test_support::sorted;

namespace {

class LocalListing : public ::testing::Test {
protected:
  // root/a.txt, root/b.log, root/empty/, root/sub/c.txt, root/sub/deeper/d.txt
  void SetUp() override {
    dir.Write("root/a.txt", "a");
    dir.Write("root/b.log", "b");
    dir.Write("root/sub/c.txt", "c");
    dir.Write("root/sub/deeper/d.txt", "d");
    fs::create_directory(dir.Path() / "root/empty");
    root = (dir.Path() / "root").string();
  }
  std::vector<std::string> list(const std::string& directory, const char16_t* wildcard, bool sub) {
    TQNRemoteFiles files(nullptr);
    files.SetService(isNetwork);
    files.SetDirectory(FromUtf8(directory));
    files.SetWildCard(wildcard);
    files.SetSubFolders(sub);
    EXPECT_TRUE(files.Execute());
    return lines_of(*files.FileList());
  }
  harness::TempDir dir{"qninet-dir"};
  std::string root;
};

}  // namespace

TEST_F(LocalListing, JoinsWildcardsAndRecursion) {
  const std::string r = root;
  // A Latin-1 name in a UTF-8 folder: each part is decoded on its own.
  const std::string cafe = dir.Path().string() + "/caf\xC3\xA9";
  dir.Write("caf\xC3\xA9/\xE9t\xE9.txt", "x");
  const struct {
    std::string directory;
    const char16_t* wildcard;
    bool sub;
    std::vector<std::string> expected;
  } cases[] = {
      {r, u"*.*", false, {r + "/.", r + "/..", r + "/a.txt", r + "/b.log", r + "/empty", r + "/sub"}},
      {r + "/", u"*", false, {r + "/.", r + "/..", r + "/a.txt", r + "/b.log", r + "/empty", r + "/sub"}},
      // The wildcard selects what is listed; every folder is entered all the same.
      {r, u"*.txt", true, {r + "/a.txt", r + "/sub/c.txt", r + "/sub/deeper/d.txt"}},
      {cafe, u"*.txt", false, {cafe + "/\xC3\xA9t\xC3\xA9.txt"}},
      {r + "/sub",
       u"*.*",
       true,
       {r + "/sub/.", r + "/sub/..", r + "/sub/c.txt", r + "/sub/deeper", r + "/sub/deeper/.",
        r + "/sub/deeper/..", r + "/sub/deeper/d.txt"}},
  };
  for (const auto& c : cases)
    EXPECT_EQ(sorted(list(c.directory, c.wildcard, c.sub)), sorted(c.expected))
        << c.directory << " " << ToUtf8(c.wildcard);
}

TEST_F(LocalListing, DescendsAtOnceIntoEachFolder) {
  const auto got = list(root, u"*.*", true);
  ASSERT_EQ(got.size(), 6u + 4u + 3u + 2u);  // root, sub, sub/deeper, empty ("." and ".." each)
  // Every folder has "." at least: its entries follow its own line directly.
  for (std::size_t i = 0; i + 1 < got.size(); ++i) {
    if (fs::is_directory(got[i]) && !got[i].ends_with("/.") && !got[i].ends_with("/..")) {
      EXPECT_EQ(got[i + 1].rfind(got[i] + "/", 0), 0u) << got[i] << " then " << got[i + 1];
    }
  }
}

TEST_F(LocalListing, LinksThatLoopAndDeepTreesEnd) {
  fs::create_directory_symlink(root, root + "/sub/up");
  fs::create_directory_symlink(root + "/sub", root + "/sub/deeper/back");
  auto got = list(root, u"*", true);
  EXPECT_EQ(got.size(), 6u + 5u + 4u + 2u);  // the links are listed, not entered

  // 70 nested folders: the listing enters 64 levels below the directory and lists their entries.
  const std::string top = dir.Path().string() + "/deep";
  std::string deep = top;
  for (int i = 0; i < 70; ++i) deep += "/d";
  fs::create_directories(deep);
  got = list(top, u"d", true);
  ASSERT_EQ(got.size(), 65u);
  EXPECT_EQ(got.back().size(), top.size() + 65 * 2);
}

TEST_F(LocalListing, Outcomes) {
  TQNRemoteFiles files(nullptr);
  EXPECT_EQ(files.WildCard(), u"*.*");
  files.SetService(isNetwork);
  files.SetDirectory(FromUtf8(root));
  ASSERT_TRUE(files.Execute());
  EXPECT_EQ(files.Status(), isFinished);

  files.SetDirectory(FromUtf8(root + "/missing"));
  EXPECT_TRUE(files.Execute());
  EXPECT_EQ(files.Status(), isNotFound);
  EXPECT_EQ(files.FileList()->Count(), 0);
  // The listing appends: a list that held a line counts as found.
  TStringList held;
  held.Add(u"kept");
  EXPECT_TRUE(files.ReadDirFromInet(FromUtf8(root + "/missing"), u"*.*", false, &held));
  EXPECT_EQ(held.Count(), 1);

  // HTTP lists nothing.
  files.SetService(isHTTP);
  files.SetHost(u"127.0.0.1");
  EXPECT_TRUE(files.Execute());
  EXPECT_EQ(files.Status(), isNotFound);
}
