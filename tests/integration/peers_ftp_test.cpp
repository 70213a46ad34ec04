// The FTP client against pyftpdlib (MLSD; and LIST alone in the DOS/IIS dialect), vsftpd (LIST,
// links as links), proftpd (MLSD; and LIST with MLSD denied) and pure-ftpd (MLSD): odd names, links
// back up a tree, the login folder as a sub-folder, the updater's compare and download. vsftpd's
// anonymous login starts at "/" (no login-folder case); proftpd and pure-ftpd need root (chroot).

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "harness/ServerLaunch.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/sys/Files.h"
#include "qninet/web/qnidir.h"
#include "support/NoSystemProxy.h"
#include "support/StringLists.h"

namespace fs = std::filesystem;
using namespace qninet;
using harness::FtpPeerKind;
using test_support::lines_of;
using test_support::sorted;

namespace {

constexpr std::int64_t kRemoteTime = 1577880000;  // 2020-01-01 12:00 UTC: a LIST shows the day only

void fill_tree(const fs::path& root) {
  for (const char* name : {"pub/blank name.txt", "pub/trailing ", "pub/gr\u00FC\u00DFe.txt",
                           "pub/sub/deep.txt", "home/u/file1", "home/u/docs/d.txt"})
    harness::WriteFileBytes(root / name, name);
  // Two links back up in one folder: each path through them is new, the folder is not.
  fs::create_directory_symlink("..", root / "pub/sub/a");
  fs::create_directory_symlink("..", root / "pub/sub/b");
  fs::create_symlink("blank name.txt", root / "pub/file-link");
  harness::WriteFileBytes(root / "pub/file.bin", std::string(40000, 'x'));
  EXPECT_TRUE(
      sys::set_file_write_time((root / "pub/file.bin").string(), sys::unix_to_file_time(kRemoteTime)));
}

template <class C>
void connect(C& c, const harness::FtpPeer& peer) {
  c.SetService(isFTP);
  c.SetHost(u"127.0.0.1");
  c.SetPort(peer.Port());
  c.SetUser(FromUtf8(peer.User()));
  c.SetPassword(FromUtf8(peer.Password()));
  c.SetTimeout(15000);
  c.SetMaxTime(60);
}

std::vector<std::string> walk(const harness::FtpPeer& peer, const char* directory) {
  TQNRemoteFiles files(nullptr);
  connect(files, peer);
  files.SetDirectory(FromUtf8(directory));
  files.SetSubFolders(true);
  EXPECT_TRUE(files.Execute()) << ToUtf8(files.LastErrorText());
  return sorted(lines_of(*files.FileList()));
}

void run_cases(const harness::FtpPeer& peer) {
  fill_tree(peer.Root());
  // Every name whole, and an end: a folder reached again through a link is not listed again.
  std::vector<std::string> tree{
      "/pub/blank name.txt", "/pub/trailing ", "/pub/gr\u00FC\u00DFe.txt", "/pub/sub", "/pub/sub/deep.txt",
      "/pub/file-link",      "/pub/file.bin"};
  // proftpd's LIST leaves links to a folder above out; the others list them.
  if (peer.Name() != "proftpd-list") tree.insert(tree.end(), {"/pub/sub/a", "/pub/sub/b"});
  EXPECT_EQ(walk(peer, "/pub"), sorted(tree));
  // Only the folder named gives bare names; the login folder below it is named by its path.
  const auto all = walk(peer, "/");
  EXPECT_NE(std::find(all.begin(), all.end(), "/home/u/file1"), all.end()) << all.size();
  if (peer.LoginFolder() != "/") {
    EXPECT_EQ(walk(peer, "/home"),
              sorted({"/home/u", "/home/u/file1", "/home/u/docs", "/home/u/docs/d.txt"}));
    EXPECT_EQ(walk(peer, peer.LoginFolder().c_str()), sorted({"file1", "docs", "/home/u/docs/d.txt"}));
  }
  // The updater: compared by size, then by time; a name with a trailing blank is fetched whole.
  harness::TempDir dir{"qninet-peer-local"};
  const fs::path local = dir.File("file.bin");
  const struct {
    const char* Remote;
    std::size_t LocalSize;  // 0: no local file
    std::int64_t LocalTime;
    TQNIStatus Expected;
  } updates[] = {
      {"/pub/file.bin", 0, 0, isFinished},
      {"/pub/file.bin", 40000, kRemoteTime + 86400, isSkipped},
      {"/pub/file.bin", 40000, kRemoteTime - 86400 * 2, isFinished},
      {"/pub/file.bin", 39999, kRemoteTime + 86400, isFinished},
      {"/pub/trailing ", 0, 0, isFinished},
      {"/pub/missing", 0, 0, isNotFound},
  };
  for (const auto& c : updates) {
    SCOPED_TRACE(std::string(c.Remote) + " " + std::to_string(c.LocalSize) + " " +
                 std::to_string(c.LocalTime));
    fs::remove(local);
    if (c.LocalSize > 0) {
      harness::WriteFileBytes(local, std::string(c.LocalSize, 'o'));
      EXPECT_TRUE(sys::set_file_write_time(local.string(), sys::unix_to_file_time(c.LocalTime)));
    }
    TQNWebUpdater u(nullptr);
    connect(u, peer);
    u.SetRemoteFileName(FromUtf8(c.Remote));
    u.SetLocalFileName(FromUtf8(local.string()));
    u.Execute();
    EXPECT_EQ(u.Status(), c.Expected) << ToUtf8(u.LastErrorText());
    const std::string served = harness::ReadFileText(peer.Root() / fs::path(c.Remote).relative_path());
    EXPECT_TRUE(c.Expected != isFinished ||
                harness::ReadFileText(local) == served);  // compared, never printed
  }
}

}  // namespace

TEST(FtpPeers, ListingAndUpdatesAgainstEachServer) {
  test_support::NoSystemProxy noProxy;
  gui::TScriptedGui gui;
  std::string skipped;
  for (FtpPeerKind kind : {FtpPeerKind::Pyftpdlib, FtpPeerKind::PyftpdlibDos, FtpPeerKind::Vsftpd,
                           FtpPeerKind::Proftpd, FtpPeerKind::ProftpdList, FtpPeerKind::PureFtpd}) {
    try {
      harness::FtpPeer peer(kind);
      SCOPED_TRACE(peer.Name());
      const bool failedBefore = HasFailure();
      run_cases(peer);
      if (HasFailure() && !failedBefore) std::cerr << peer.LogText() << '\n';
    } catch (const harness::Unavailable& e) {
      skipped += std::string("\n") + e.what();
    } catch (const std::exception& e) {
      ADD_FAILURE() << e.what();
    }
  }
  EXPECT_TRUE(gui.Messages().empty());
  if (!skipped.empty()) GTEST_SKIP() << "cannot run here (CI runs as root with every peer):" << skipped;
}
