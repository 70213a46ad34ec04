// The remote directory lister against pyftpdlib on loopback: bare and joined names, the root,
// "/pub", relative and trailing-slash directories, recursion with a wildcard, folders that
// cannot be entered, links back up a tree, a cancelled walk, and FTP kept away from the HTTP proxy.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "harness/FtpServer.h"
#include "harness/TempDir.h"
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
class FtpListing : public ::testing::Test {
protected:
  FtpListing() {
    for (const char* name : {"a.txt", "pub/b.txt", "pub/c.log", "pub/sub/d.txt", "pub/sub/e.log"}) {
      fs::create_directories((ftp.Root() / name).parent_path());
      harness::WriteFileBytes(ftp.Root() / name, name);
    }
  }
  void SetUp() override {
    files.SetURL(FromUtf8(ftp.Url("/")));
    files.SetTimeout(15000);
  }
  std::vector<std::string> list(const char16_t* directory, const char16_t* wildcard, bool sub) {
    files.SetDirectory(directory);
    files.SetWildCard(wildcard);
    files.SetSubFolders(sub);
    EXPECT_TRUE(files.Execute()) << ToUtf8(files.LastErrorText());
    return lines_of(*files.FileList());
  }
  harness::FtpServer ftp;
  gui::TScriptedGui gui;
  TQNRemoteFiles files{nullptr};
};

}  // namespace

TEST_F(FtpListing, NamesJoinedUnlessTheDirectoryIsTheCurrentOne) {
  const struct {
    const char16_t* directory;
    const char16_t* wildcard;
    bool sub;
    std::vector<std::string> expected;
  } cases[] = {
      // The login directory is "/": names come back bare, those below it joined.
      {u"", u"*.*", false, {"a.txt", "pub"}},
      {u"/",
       u"*.*",
       true,
       {"a.txt", "pub", "/pub/b.txt", "/pub/c.log", "/pub/sub", "/pub/sub/d.txt", "/pub/sub/e.log"}},
      {u"/pub", u"*.*", false, {"/pub/b.txt", "/pub/c.log", "/pub/sub"}},
      {u"/pub/", u"*.*", false, {"/pub/b.txt", "/pub/c.log", "/pub/sub"}},
      {u"pub", u"?.*", false, {"pub/b.txt", "pub/c.log"}},
      {u"pub/sub/", u"*", false, {"pub/sub/d.txt", "pub/sub/e.log"}},
      // A recursive wildcard finds what sub-folders hold whatever their own names are.
      {u"/pub", u"*.txt", true, {"/pub/b.txt", "/pub/sub/d.txt"}},
      {u"/missing", u"*.*", false, {}},
  };
  for (const auto& c : cases) {
    const auto got = list(c.directory, c.wildcard, c.sub);
    EXPECT_EQ(sorted(got), sorted(c.expected)) << ToUtf8(c.directory) << " " << ToUtf8(c.wildcard);
    EXPECT_EQ(files.Status(), c.expected.empty() ? isNotFound : isFinished) << ToUtf8(c.directory);
  }
  // Only the folder that cannot be entered was reported, and why.
  ASSERT_EQ(gui.Messages().size(), 1u);
  EXPECT_NE(ToUtf8(gui.Messages()[0].Text).find("\"/missing\": "), std::string::npos);
  EXPECT_FALSE(files.LastErrorText().empty());
  // Each folder is listed whole before the folders below it.
  const auto all = list(u"/pub", u"*.*", true);
  ASSERT_EQ(all.size(), 5u);
  EXPECT_EQ(sorted({all[3], all[4]}), sorted({"/pub/sub/d.txt", "/pub/sub/e.log"}));
  // A second run starts from an empty list.
  EXPECT_EQ(list(u"/pub", u"*.*", true).size(), 5u);
}

TEST_F(FtpListing, LinksBackUpEndTheWalkAtOnce) {
  // Two links back up in one folder: paths never repeat, so only the bound of 64 levels would
  // end this walk, after some 2^32 folders.
  fs::create_directory_symlink(ftp.Root() / "pub", ftp.Root() / "pub/sub/again");
  fs::create_directory_symlink(ftp.Root() / "pub", ftp.Root() / "pub/sub/more");
  files.SetMaxTime(20);
  EXPECT_EQ(list(u"/pub", u"d.txt", true), std::vector<std::string>{"/pub/sub/d.txt"});
}

TEST_F(FtpListing, ACancelEndsTheWalkAsAFailure) {
  for (const char* name : {"pub/s1/x", "pub/s2/x", "pub/s3/x", "pub/s4/x"}) {
    fs::create_directories((ftp.Root() / name).parent_path());
    harness::WriteFileBytes(ftp.Root() / name, name);
  }
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

TEST_F(FtpListing, NeverThroughTheHttpProxy) {
  harness::TinyProxy proxy;
  sys::set_proxy_setting_override(
      sys::ProxySetting{FromUtf8("127.0.0.1:" + std::to_string(proxy.Port())), true});
  EXPECT_EQ(sorted(list(u"/pub", u"*.*", false)), sorted({"/pub/b.txt", "/pub/c.log", "/pub/sub"}));
  TMemoryStream page;
  EXPECT_TRUE(files.ReadHTTPGetResponse(FromUtf8(ftp.Url("/pub/b.txt")), &page))
      << ToUtf8(files.LastErrorText());
  EXPECT_EQ(std::string(page.Bytes()), "pub/b.txt");
  sys::set_proxy_setting_override(std::nullopt);
  EXPECT_EQ(proxy.LogText().find("127.0.0.1:" + std::to_string(ftp.Port())), std::string::npos)
      << proxy.LogText();
  EXPECT_EQ(files.Proxy()->Port(), proxy.Port());  // the run did load the proxy
}
