// Signed and pinned updates against nginx and pyftpdlib, files signed by the real minisign: one
// table over HTTP and FTP; a refused download leaves the old bytes and nothing else.

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "harness/FtpServer.h"
#include "harness/Nginx.h"
#include "harness/Process.h"
#include "harness/TempDir.h"
#include "qninet/sys/Files.h"
#include "qninet/web/qniupdate.h"
#include "support/NoSystemProxy.h"

namespace fs = std::filesystem;
using namespace qninet;
using harness::ReadFileText;

namespace {

const std::string kBody(70000, 'b');
const std::string kOld = "old application bytes";
enum Local { kOldFile, kSame, kChanged, kGoodPart, kBadPart };

struct Case {
  const char* Remote;
  bool Key;
  const char* Sha256;  // "" none, "ok" the body's
  Local Before;
  TQNIStatus Want;
  const char16_t* Error = nullptr;    // the start of LastErrorText
  const char* SignatureAt = nullptr;  // on nginx, instead of beside the file
};

TEST(SignedUpdate, OnlyWhatThePublisherSignedReplacesTheLocalFile) {
  const test_support::NoSystemProxy noProxy;
  harness::TempDir keys{"qninet-minisign"}, files{"qninet-signed"};
  for (const char* name : {"good", "other"})
    harness::RunOrThrow({"minisign", "-G", "-W", "-p", keys.File(name).string() + ".pub", "-s",
                         keys.File(name).string() + ".key"});
  // name, signing key, legacy, what changes after signing: 1 the file, 2 the trusted comment, 3 all
  const std::tuple<const char*, const char*, bool, int> signing[] = {
      {"good.bin", "good", false, 0},    {"legacy.bin", "good", true, 0},  {"tampered.bin", "good", false, 1},
      {"comment.bin", "good", false, 2}, {"other.bin", "other", false, 0}, {"nosig.bin", nullptr, false, 0},
      {"broken.bin", "good", false, 3}};
  for (const auto& [name, by, legacy, change] : signing) {
    const std::string f = files.Write(name, kBody).string(), sig = f + ".minisig";
    if (by)
      harness::RunOrThrow({"minisign", "-S", legacy ? "-l" : "-S", "-s", keys.File(by).string() + ".key",
                           "-m", f, "-t", "release 1.2"});
    if (change == 1) harness::WriteFileBytes(f, kBody.substr(1));
    if (std::string text = ReadFileText(sig); change == 2) {  // "release 1.3": no longer the signed comment
      text[text.find("release 1.2") + 10] = '3';
      harness::WriteFileBytes(sig, text);
    }
    if (change == 3) harness::WriteFileBytes(sig, "untrusted comment: x\nnot base64\n");
  }
  const std::string pub = ReadFileText(keys.File("good").string() + ".pub");
  harness::Nginx nginx;
  nginx.Start();
  harness::FtpServer ftp;
  for (const auto& e : fs::directory_iterator(files.Path())) {
    fs::copy_file(e.path(), nginx.DocRoot() / e.path().filename());
    fs::copy_file(e.path(), ftp.Root() / e.path().filename());
  }
  const auto sha = harness::RunOrThrow({"sha256sum", files.File("good.bin").string()}).substr(0, 64);
  const std::string wrong(64, 'a');
  const char16_t* kBad = u"The signature does not verify with the given public key";
  const Case cases[] = {
      {"good.bin", true, "ok", kOldFile, isFinished},
      {"legacy.bin", true, "", kOldFile, isFinished},
      {"good.bin", false, "ok", kOldFile, isFinished},
      {"good.bin", true, "", kSame, isSkipped},
      {"good.bin", true, "", kChanged, isFinished},  // a local file that no longer verifies
      {"good.bin", true, "", kGoodPart, isFinished},
      {"good.bin", true, "", kBadPart, isFailed, kBad},  // the resumed file is checked whole
      {"good.bin", false, wrong.c_str(), kOldFile, isFailed, u"The SHA-256 digest of the file is"},
      {"tampered.bin", true, "", kOldFile, isFailed, kBad},
      {"comment.bin", true, "", kOldFile, isFailed, kBad},
      {"other.bin", true, "", kOldFile, isFailed, kBad},
      {"nosig.bin", true, "", kOldFile, isFailed, u"No signature at URL: "},
      {"broken.bin", true, "", kOldFile, isFailed, u"Malformed signature at "},
      {"nosig.bin", true, "", kOldFile, isFinished, nullptr, "/good.bin.minisig"},
  };
  for (const bool overFtp : {false, true}) {
    for (const Case& c : cases) {
      const std::string url =
          overFtp ? ftp.Url(std::string("/") + c.Remote) : nginx.Url(std::string("/") + c.Remote);
      SCOPED_TRACE(url + " " + std::to_string(&c - cases));
      harness::TempDir dir{"qninet-app"};
      const fs::path local = dir.File("app.bin");
      const auto remoteTime = *sys::file_write_time((files.Path() / c.Remote).string()) / 10000000 * 10000000;
      for (const fs::path& served : {nginx.DocRoot() / c.Remote, ftp.Root() / c.Remote})
        ASSERT_TRUE(sys::set_file_write_time(served.string(), remoteTime));
      std::string before = c.Before == kSame || c.Before == kChanged ? kBody : kOld;
      if (c.Before == kChanged) before[9] = 'c';
      harness::WriteFileBytes(local, before);
      ASSERT_TRUE(sys::set_file_write_time(local.string(), remoteTime));
      if (c.Before >= kGoodPart) {
        harness::WriteFileBytes(local.string() + ".part",
                                std::string(30000, c.Before == kGoodPart ? 'b' : 'z'));
        ASSERT_TRUE(sys::set_file_write_time(local.string() + ".part", remoteTime));
      }
      TQNWebUpdater u(nullptr);
      u.SetURL(FromUtf8(url));
      u.SetLocalFileName(FromUtf8(local.string()));
      u.SetResumeDownload(c.Before >= kGoodPart);
      u.SetExpectedSHA256(FromUtf8(std::string(c.Sha256) == "ok" ? sha : c.Sha256));
      if (c.Key) u.SetPublicKey(FromUtf8(pub));
      if (c.SignatureAt) u.SetSignatureURL(FromUtf8(nginx.Url(c.SignatureAt)));
      EXPECT_EQ(u.Execute(), c.Want != isFailed);
      EXPECT_EQ(u.Status(), c.Want) << ToUtf8(u.LastErrorText());
      EXPECT_EQ(ReadFileText(local), c.Want == isFinished ? kBody : before);
      EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), {}), 1);  // nothing beside it
      EXPECT_EQ(u.TrustedComment(), c.Key && c.Want != isFailed ? u"release 1.2" : u"");
      String error = c.Error ? c.Error : u"";  // "URL": the signature's
      if (const auto at = error.find(u"URL"); at != String::npos)
        error.replace(at, 3, FromUtf8(url + ".minisig"));
      EXPECT_TRUE(u.LastErrorText().starts_with(error)) << ToUtf8(u.LastErrorText());
    }
  }
}

}  // namespace
