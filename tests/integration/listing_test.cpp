// The remote directory lister on one tree over pyftpdlib and as a local folder: names, wildcards,
// recursion, "." and "..", missing folders, links back up, the depth bound, a cancel, no proxy.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "harness/FtpServer.h"
#include "harness/TinyProxy.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/sys/Settings.h"
#include "qninet/web/qnidir.h"
#include "support/StringLists.h"

namespace fs = std::filesystem;
using namespace qninet;
using test_support::lines_of;
using test_support::sorted;

namespace {

// root/a.txt, root/pub/b.txt, root/pub/c.log, root/pub/sub/d.txt, root/pub/sub/e.log
class Listing : public ::testing::Test {
protected:
  Listing() {
    for (const char* name : {"a.txt", "pub/b.txt", "pub/c.log", "pub/sub/d.txt", "pub/sub/e.log"})
      harness::WriteFileBytes(ftp.Root() / name, name);
    root = ftp.Root().string();
    files.SetURL(FromUtf8(ftp.Url("/")));
    files.SetTimeout(15000);
  }
  // The listing of `directory` (with "~" for the tree's local path) over FTP or as a folder.
  std::vector<std::string> list(bool local, std::string directory, const char16_t* wildcard, bool sub) {
    if (directory.starts_with("~")) directory = root + directory.substr(1);
    files.SetService(local ? isNetwork : isFTP);
    files.SetDirectory(FromUtf8(directory));
    files.SetWildCard(wildcard);
    files.SetSubFolders(sub);
    EXPECT_TRUE(files.Execute()) << ToUtf8(files.LastErrorText());
    return lines_of(*files.FileList());
  }
  harness::FtpServer ftp;
  gui::TScriptedGui gui;
  TQNRemoteFiles files{nullptr};
  std::string root;
};

}  // namespace

TEST_F(Listing, NamesJoinedUnlessTheDirectoryIsTheCurrentOne) {
  // A Latin-1 name in a UTF-8 folder: each part is decoded on its own.
  const std::string cafe = ftp.Root().parent_path().string() + "/caf\xC3\xA9";
  harness::WriteFileBytes(cafe + "/\xE9t\xE9.txt", "x");
  const struct {
    bool Local;
    std::string Directory;
    const char16_t* WildCard;
    bool Sub;
    std::vector<std::string> Names;  // "~" for the tree's local path; none: isNotFound
  } cases[] = {
      // clang-format off
      // The login directory is "/": names come back bare, those below it joined.
      {false, "", u"*.*", false, {"a.txt", "pub"}},
      {false, "/", u"*.*", true, {"a.txt", "pub", "/pub/b.txt", "/pub/c.log", "/pub/sub", "/pub/sub/d.txt", "/pub/sub/e.log"}},
      {false, "/pub", u"*.*", false, {"/pub/b.txt", "/pub/c.log", "/pub/sub"}},
      {false, "/pub/", u"*.*", false, {"/pub/b.txt", "/pub/c.log", "/pub/sub"}},
      {false, "pub", u"?.*", false, {"pub/b.txt", "pub/c.log"}},
      {false, "pub/sub/", u"*", false, {"pub/sub/d.txt", "pub/sub/e.log"}},
      // A recursive wildcard finds what sub-folders hold whatever their own names are.
      {false, "/pub", u"*.txt", true, {"/pub/b.txt", "/pub/sub/d.txt"}},
      {false, "/missing", u"*.*", false, {}},
      {true, "~", u"*.*", false, {"~/.", "~/..", "~/a.txt", "~/pub"}},
      {true, "~/", u"*", false, {"~/.", "~/..", "~/a.txt", "~/pub"}},
      {true, "~", u"*.txt", true, {"~/a.txt", "~/pub/b.txt", "~/pub/sub/d.txt"}},
      {true, cafe, u"*.txt", false, {cafe + "/\xC3\xA9t\xC3\xA9.txt"}},
      {true, "~/pub", u"*.*", true, {"~/pub/.", "~/pub/..", "~/pub/b.txt", "~/pub/c.log", "~/pub/sub", "~/pub/sub/.",
                                     "~/pub/sub/..", "~/pub/sub/d.txt", "~/pub/sub/e.log"}},
      {true, "~/missing", u"*.*", false, {}},
      // clang-format on
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Directory + " " + ToUtf8(c.WildCard));
    std::vector<std::string> want;
    for (const auto& name : c.Names) want.push_back(name.starts_with("~") ? root + name.substr(1) : name);
    const auto got = list(c.Local, c.Directory, c.WildCard, c.Sub);  // a second run starts afresh
    EXPECT_EQ(sorted(got), sorted(want));
    EXPECT_EQ(files.Status(), want.empty() ? isNotFound : isFinished);
    // A folder's entries come right after it, or (over FTP) once the folder above is whole.
    for (std::size_t i = 0; c.Sub && i + 1 < got.size(); ++i)
      if (got[i].ends_with("/sub")) {
        EXPECT_EQ(got[i + 1].rfind(got[i] + "/", 0), 0u);
      }
  }
  // Only the folder that cannot be entered over FTP was reported, and why.
  ASSERT_EQ(gui.Messages().size(), 1u);
  EXPECT_NE(ToUtf8(gui.Messages()[0].Text).find("\"/missing\": "), std::string::npos);
  // The listing appends: a list that held a line counts as found. HTTP lists nothing.
  TStringList held;
  held.Add(u"kept");
  EXPECT_TRUE(files.ReadDirFromInet(FromUtf8(root + "/missing"), u"*.*", false, &held));
  EXPECT_EQ(held.Count(), 1);
  files.SetService(isHTTP);
  EXPECT_TRUE(files.Execute());
  EXPECT_EQ(files.Status(), isNotFound);
}

TEST_F(Listing, LinksBackUpAndDeepTreesEndTheWalk) {
  // Two links back up in one folder: paths never repeat, so over FTP only the bound of 64
  // levels would end this walk, after some 2^32 folders; a folder lists them without entering.
  fs::create_directory_symlink(ftp.Root() / "pub", ftp.Root() / "pub/sub/again");
  fs::create_directory_symlink(ftp.Root() / "pub", ftp.Root() / "pub/sub/more");
  files.SetMaxTime(20);
  EXPECT_EQ(list(false, "/pub", u"d.txt", true), std::vector<std::string>{"/pub/sub/d.txt"});
  EXPECT_EQ(list(true, "~/pub", u"*", true).size(), 5u + 6u);
  // 70 nested folders: the listing enters 64 levels below the directory and lists their entries.
  std::string deep = root + "/deep";
  for (int i = 0; i < 70; ++i) deep += "/d";
  fs::create_directories(deep);
  const auto got = list(true, "~/deep", u"d", true);
  ASSERT_EQ(got.size(), 65u);
  EXPECT_EQ(got.back().size(), root.size() + 5 + 65 * 2);
}

TEST_F(Listing, ACancelEndsTheWalkAsAFailure) {
  for (const char* name : {"pub/s1/x", "pub/s2/x", "pub/s3/x", "pub/s4/x"})
    harness::WriteFileBytes(ftp.Root() / name, name);
  int entered = 0;
  files.SetOnActionChange([&](TObject*) {
    if (files.Action() == iaFileSearch && ++entered == 2) files.Cancel();
  });
  files.SetDirectory(u"/");
  files.SetSubFolders(true);
  EXPECT_FALSE(files.Execute());
  EXPECT_EQ(files.Status(), isFailed);
  EXPECT_EQ(entered, 2);
  EXPECT_FALSE(files.LastErrorText().empty());
  EXPECT_TRUE(gui.Messages().empty());  // no box for each folder the cancel left
}

TEST_F(Listing, FtpNeverGoesThroughTheHttpProxy) {
  harness::TinyProxy proxy;
  sys::set_proxy_setting_override(
      sys::ProxySetting{FromUtf8("127.0.0.1:" + std::to_string(proxy.Port())), true});
  EXPECT_EQ(sorted(list(false, "/pub", u"*.*", false)), sorted({"/pub/b.txt", "/pub/c.log", "/pub/sub"}));
  TMemoryStream page;
  EXPECT_TRUE(files.ReadHTTPGetResponse(FromUtf8(ftp.Url("/pub/b.txt")), &page))
      << ToUtf8(files.LastErrorText());
  EXPECT_EQ(std::string(page.Bytes()), "pub/b.txt");
  sys::set_proxy_setting_override(std::nullopt);
  EXPECT_EQ(proxy.LogText().find("127.0.0.1:" + std::to_string(ftp.Port())), std::string::npos)
      << proxy.LogText();
  EXPECT_EQ(files.Proxy()->Port(), proxy.Port());  // the run did load the proxy
}
