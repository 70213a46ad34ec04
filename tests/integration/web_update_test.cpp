// The web updater against real servers on loopback: nginx (HTTP and HTTPS with the harness's
// CA), pyftpdlib, tinyproxy with basic authentication, and folders as network paths.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "harness/FtpServer.h"
#include "harness/Nginx.h"
#include "harness/ServiceFixture.h"
#include "harness/TempDir.h"
#include "harness/TinyProxy.h"
#include "qninet/sys/Files.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/sys/Settings.h"
#include "qninet/web/qniupdate.h"
#include "support/NoSystemProxy.h"

namespace fs = std::filesystem;
using namespace qninet;
using harness::ReadFileText;

using qninet::test_support::NoSystemProxy;

namespace {

std::string pattern_bytes(std::size_t n) {
  std::string s(n, '\0');
  for (std::size_t i = 0; i < n; ++i) s[i] = harness::Nginx::PatternByte(i);
  return s;
}

// Keeps the machine's http_proxy out of the tests unless a test names a proxy.
struct CaFile {
  explicit CaFile(const fs::path& p) { ::setenv("QNINET_CA_FILE", p.c_str(), 1); }
  ~CaFile() { ::unsetenv("QNINET_CA_FILE"); }
};

std::unique_ptr<TQNWebUpdater> make_updater(TQNIService service, std::uint16_t port,
                                            const std::string& remote, const fs::path& local) {
  auto u = std::make_unique<TQNWebUpdater>(nullptr);
  u->SetService(service);
  u->SetHost(u"127.0.0.1");
  u->SetPort(port);
  u->SetRemoteFileName(FromUtf8(remote));
  u->SetLocalFileName(FromUtf8(local.string()));
  u->SetLoginPrompt(false);
  u->SetTimeout(15000);
  return u;
}

std::vector<std::string> folder_names(const fs::path& dir) {
  std::vector<std::string> names;
  for (const auto& e : fs::directory_iterator(dir)) names.push_back(e.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class HttpUpdate : public ::testing::Test {
protected:
  NoSystemProxy noProxy;
  harness::TempDir dir{"qninet-web"};
  harness::Nginx nginx{true};
  std::unique_ptr<TQNWebUpdater> http(const std::string& remote, const fs::path& local) {
    return make_updater(isHTTP, nginx.Port(), remote, local);
  }
};

}  // namespace

TEST_F(HttpUpdate, DownloadsWithTheActionSequenceThenSkips) {
  const std::string body = pattern_bytes(10000);
  const fs::path served = nginx.WriteFile("pub/file.bin", body);
  nginx.Start();
  const fs::path local = dir.File("file.bin");
  auto u = http("/pub/file.bin", local);
  std::vector<TQNIAction> actions;
  u->SetOnActionChange([&](TObject*) { actions.push_back(u->Action()); });

  EXPECT_TRUE(u->Execute());
  EXPECT_EQ(u->Status(), isFinished);
  EXPECT_EQ(ReadFileText(local), body);
  EXPECT_EQ(u->RemoteFileSize(), 10000u);
  // Last-Modified has whole seconds: the served file's time, truncated.
  const TFileTime servedTime = *sys::file_write_time(served.string());
  EXPECT_EQ(u->RemoteFileCreated(), servedTime - servedTime % 10000000);
  EXPECT_EQ(*sys::file_write_time(local.string()), u->RemoteFileCreated());
  EXPECT_EQ(actions, (std::vector<TQNIAction>{iaConnecting, iaConnected, iaFileSearch, iaFileFound,
                                              iaComparing, iaCompared, iaDownloading, iaDownloaded,
                                              iaDisconnecting, iaDisconnected}));
  EXPECT_EQ(folder_names(dir.Path()), std::vector<std::string>{"file.bin"});

  actions.clear();
  EXPECT_TRUE(u->Execute());
  EXPECT_EQ(u->Status(), isSkipped);
  EXPECT_EQ(std::count(actions.begin(), actions.end(), iaDownloading), 0);
  // The up-to-date check asked with a HEAD: no byte of the body was sent.
  const std::string log = nginx.AccessLog();
  EXPECT_NE(log.find("\"HEAD /pub/file.bin HTTP/1.0\" 200 0 "), std::string::npos) << log;
  EXPECT_EQ(log.find("\"GET /pub/file.bin HTTP/1.0\" 200 10000 "), log.rfind("\"GET ")) << log;
}

TEST_F(HttpUpdate, ErrorAnswersAndEmptyFilesNeverReplaceTheLocalFile) {
  nginx.AddStatusLocation("/broken.bin", 500);
  nginx.WriteFile("empty.bin", "");
  nginx.Start();
  const fs::path local = dir.Write("file.bin", "precious old content");
  auto missing = http("/missing.bin", local);
  EXPECT_TRUE(missing->Execute());
  EXPECT_EQ(missing->Status(), isNotFound);
  auto broken = http("/broken.bin", local);
  EXPECT_FALSE(broken->Execute());
  EXPECT_EQ(broken->Status(), isFailed);
  EXPECT_EQ(ReadFileText(local), "precious old content");
  // A remote size of 0 is never downloaded.
  auto empty = http("/empty.bin", dir.File("empty.bin"));
  EXPECT_TRUE(empty->Execute());
  EXPECT_EQ(empty->Status(), isSkipped);
  EXPECT_EQ(folder_names(dir.Path()), std::vector<std::string>{"file.bin"});
}

TEST_F(HttpUpdate, OnFileCompareForcesAndPreventsTheDownload) {
  nginx.WriteFile("a.txt", "new content");
  nginx.Start();
  const fs::path local = dir.File("a.txt");
  auto u = http("/a.txt", local);
  ASSERT_TRUE(u->Execute());
  ASSERT_EQ(u->Status(), isFinished);

  harness::WriteFileBytes(local, "local edit!");  // same size, newer time: equal by the rules
  EXPECT_TRUE(sys::set_file_write_time(local.string(), u->RemoteFileCreated() + 10000000));
  bool seenEqual = false;
  u->SetOnFileCompare([&](TObject*, bool& equal) {
    seenEqual = equal;
    equal = false;
  });
  EXPECT_TRUE(u->Execute());
  EXPECT_TRUE(seenEqual);
  EXPECT_EQ(u->Status(), isFinished);
  EXPECT_EQ(ReadFileText(local), "new content");

  fs::remove(local);
  u->SetOnFileCompare([](TObject*, bool& equal) { equal = true; });
  EXPECT_TRUE(u->Execute());
  EXPECT_EQ(u->Status(), isSkipped);
  EXPECT_FALSE(fs::exists(local));
}

TEST_F(HttpUpdate, ProgressOncePerBlockAndCancelFromItKeepsTheOldFile) {
  const std::uint64_t size = 1024 * 1024 + 777;
  nginx.WriteLargeFile("big.bin", size);
  nginx.Start();
  const fs::path local = dir.Write("big.bin", "old version");
  auto u = http("/big.bin", local);
  std::uint64_t calls = 0, last = 0, max = 0;
  u->SetOnProgress([&](TObject*, std::uint64_t, std::uint64_t, bool& abort) { abort = ++calls == 3; });
  EXPECT_FALSE(u->Execute());
  EXPECT_EQ(u->Status(), isFailed);
  EXPECT_EQ(calls, 3u);
  EXPECT_EQ(ReadFileText(local), "old version");
  EXPECT_EQ(folder_names(dir.Path()), std::vector<std::string>{"big.bin"});

  calls = 0;
  u->SetOnProgress(
      [&](TObject*, std::uint64_t cur, std::uint64_t m, bool&) { ++calls, last = cur, max = m; });
  EXPECT_TRUE(u->Execute());
  EXPECT_EQ(calls, (size + kQNIBlockSize - 1) / kQNIBlockSize);
  EXPECT_EQ(last, size);
  EXPECT_EQ(max, size);
  EXPECT_EQ(ReadFileText(local), pattern_bytes(size));
}

TEST_F(HttpUpdate, CancelButtonOfTheStatusFormStopsTheTransfer) {
  nginx.WriteLargeFile("big.bin", 300000);
  nginx.Start();
  gui::TScriptedGui gui;
  int clicks = 0;
  gui.SetOnMessages([&](TForm& form) {
    auto* f = dynamic_cast<TfrmQNInetUpdate*>(&form);
    if (f && f->pbStatus->Position() > 10000 && clicks == 0) {
      ++clicks;
      f->btnCancel->Click();
    }
  });
  const fs::path local = dir.File("big.bin");
  auto u = http("/big.bin", local);
  u->StatusDialog()->SetEnabled(true);
  std::uint64_t lastProgress = 0;
  u->SetOnProgress([&](TObject*, std::uint64_t cur, std::uint64_t, bool&) { lastProgress = cur; });
  EXPECT_FALSE(u->Execute());
  EXPECT_EQ(clicks, 1);
  EXPECT_EQ(u->Status(), isFailed);
  EXPECT_LT(lastProgress, 300000u);
  EXPECT_FALSE(fs::exists(local));
  EXPECT_TRUE(gui.ModelessForms().empty());
  ASSERT_FALSE(gui.ShownForms().empty());
  EXPECT_EQ(gui.ShownForms().back().Caption, u"Software update");
}

TEST_F(HttpUpdate, CancelledResumableDownloadContinuesWithARange) {
  const std::uint64_t size = 120000;
  nginx.WriteLargeFile("big.bin", size);
  nginx.Start();
  const fs::path local = dir.Write("big.bin", "old");
  auto u = http("/big.bin", local);
  u->SetResumeDownload(true);
  u->SetOnProgress([](TObject*, std::uint64_t cur, std::uint64_t, bool& abort) { abort = cur >= 20000; });
  EXPECT_FALSE(u->Execute());
  EXPECT_EQ(ReadFileText(local), "old");
  ASSERT_TRUE(fs::exists(dir.File("big.bin.part")));
  const auto kept = fs::file_size(dir.File("big.bin.part"));
  EXPECT_GE(kept, 20000u);

  std::uint64_t first = 0, last = 0;
  u->SetOnProgress([&](TObject*, std::uint64_t cur, std::uint64_t, bool&) {
    if (first == 0) first = cur;
    last = cur;
  });
  EXPECT_TRUE(u->Execute());
  EXPECT_EQ(u->Status(), isFinished);
  EXPECT_EQ(ReadFileText(local), pattern_bytes(size));
  EXPECT_LE(first, kQNIBlockSize);
  EXPECT_EQ(last, size - kept);  // this run's bytes only
  EXPECT_FALSE(fs::exists(dir.File("big.bin.part")));
  EXPECT_NE(nginx.AccessLog().find("\" 206 "), std::string::npos) << nginx.AccessLog();
}

TEST_F(HttpUpdate, BasicAuthWithStoredCredentialsAndTheLogonPrompt) {
  nginx.AddBasicAuthLocation("/private/", "joe", "s3cret");
  nginx.WriteFile("private/f.txt", "members only");
  nginx.Start();
  const fs::path local = dir.File("f.txt");
  auto u = http("/private/f.txt", local);
  u->SetUser(u"joe");
  u->SetPassword(u"wrong");
  EXPECT_FALSE(u->Execute());
  EXPECT_EQ(u->Status(), isFailed);
  EXPECT_EQ(u->LastErrorText(), u"HTTP Server authorization required");
  EXPECT_FALSE(fs::exists(local));
  u->SetPassword(u"s3cret");
  EXPECT_TRUE(u->Execute());
  EXPECT_EQ(u->Status(), isFinished);
  EXPECT_EQ(ReadFileText(local), "members only");
  // Each run's first request goes without credentials; they follow the 401 (the log's third
  // field is the user the request named, "-" for none).
  std::vector<std::pair<std::string, std::string>> seen;  // user, status
  std::istringstream log(nginx.AccessLog());
  for (std::string line; std::getline(log, line);) {
    std::istringstream fields(line);
    std::string addr, dash, user, when, zone, method, target, version, status;
    fields >> addr >> dash >> user >> when >> zone >> method >> target >> version >> status;
    seen.emplace_back(user, status);
  }
  ASSERT_GE(seen.size(), 4u) << nginx.AccessLog();
  const std::pair<std::string, std::string> bare{"-", "401"}, wrong{"joe", "401"}, right{"joe", "200"};
  EXPECT_EQ(seen[0], bare);
  EXPECT_EQ(seen[1], wrong);
  EXPECT_EQ(seen[2], bare);
  EXPECT_EQ(seen.back(), right);

  // The prompt on the 401: confirmed, the retry succeeds; cancelled, the run fails.
  for (const bool confirm : {true, false}) {
    SCOPED_TRACE(confirm);
    fs::remove(local);
    gui::TScriptedGui gui;  // with no answer queued the prompt is cancelled
    if (confirm) gui.AnswerNextModal({mrOk, {{u"edLogin", u"joe"}, {u"edPassword", u"s3cret"}}, {}});
    auto prompted = http("/private/f.txt", local);
    prompted->SetLoginPrompt(true);
    EXPECT_EQ(prompted->Execute(), confirm);
    EXPECT_EQ(prompted->Status(), confirm ? isFinished : isFailed);
    ASSERT_EQ(gui.ShownForms().size(), 1u);
    EXPECT_EQ(gui.ShownForms()[0].Caption, u"HTTP Server authorization");
    EXPECT_EQ(fs::exists(local), confirm);
    if (confirm) {
      EXPECT_EQ(prompted->User(), u"joe");
    }
  }
}

// Digest is answered as the server asks, with the challenge's nonce; the first request carries
// no credentials and a wrong password fails without a file.
TEST(AuthUpdate, DigestChallengeIsAnswered) {
  NoSystemProxy noProxy;
  harness::TempDir dir{"qninet-web"};
  harness::ServiceFixture server;
  const struct {
    const char16_t* Password;
    bool Done;
  } cases[] = {{u"pw", true}, {u"wrong", false}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.Done);
    const std::size_t before = server.Requests().size();
    const fs::path local = dir.File("d.txt");
    fs::remove(local);
    auto u = make_updater(isHTTPS, server.Port(), "/auth/digest/d.txt", local);
    u->SetCAFile(FromUtf8(server.CaFile()));
    u->SetUser(u"joe");
    u->SetPassword(k.Password);
    EXPECT_EQ(u->Execute(), k.Done) << ToUtf8(u->LastErrorText());
    EXPECT_EQ(u->Status(), k.Done ? isFinished : isFailed);
    EXPECT_EQ(fs::exists(local), k.Done);
    EXPECT_EQ(u->LastErrorText(), k.Done ? u"" : u"HTTP Server authorization required");
    if (k.Done) {
      EXPECT_EQ(ReadFileText(local), "protected /auth/digest/d.txt");
    }
    const auto requests = server.Requests();
    ASSERT_GE(requests.size(), before + 2);
    EXPECT_EQ(requests[before].Authorization, "");
    EXPECT_EQ(requests[before + 1].Authorization.rfind("Digest username=\"joe\"", 0), 0u)
        << requests[before + 1].Authorization;
  }
}

TEST_F(HttpUpdate, HttpsVerifiesAgainstTheNamedCA) {
  nginx.WriteFile("secure.txt", "over TLS");
  nginx.Start();
  const fs::path local = dir.File("secure.txt");
  auto u = make_updater(isHTTPS, nginx.HttpsPort(), "/secure.txt", local);
  // Without the test CA the server is not trusted: a failure, never a silent download.
  EXPECT_FALSE(u->Execute());
  EXPECT_EQ(u->Status(), isFailed);
  EXPECT_FALSE(fs::exists(local));
  // The CA named by the environment, then by the component's own property.
  for (const bool property : {false, true}) {
    SCOPED_TRACE(property);
    fs::remove(local);
    std::optional<CaFile> ca;
    if (property)
      u->SetCAFile(FromUtf8(nginx.CA()->CaCert().string()));
    else
      ca.emplace(nginx.CA()->CaCert());
    EXPECT_TRUE(u->Execute());
    EXPECT_EQ(u->Status(), isFinished);
    EXPECT_EQ(ReadFileText(local), "over TLS");
  }
}

// ---------------------------------------------------------------------------------------------

class ProxyUpdate : public ::testing::Test {
protected:
  harness::TempDir dir{"qninet-web"};
  harness::Nginx nginx{false};
  harness::TinyProxy proxy{harness::TinyProxy::Options{"pxuser", "pxpass", {}}};
  void SetUp() override {
    nginx.WriteFile("via.txt", "through the proxy");
    nginx.Start();
    sys::set_proxy_setting_override(
        sys::ProxySetting{FromUtf8("127.0.0.1:" + std::to_string(proxy.Port())), true});
  }
  void TearDown() override { sys::set_proxy_setting_override(std::nullopt); }
};

TEST_F(ProxyUpdate, ProxyCredentialsAnswerThe407) {
  const fs::path local = dir.File("via.txt");
  auto u = make_updater(isHTTP, nginx.Port(), "/via.txt", local);
  EXPECT_FALSE(u->Execute());
  EXPECT_EQ(u->Status(), isFailed);
  EXPECT_EQ(u->LastErrorText(), u"Proxy Server authorization required");
  EXPECT_FALSE(fs::exists(local));

  u->Proxy()->SetUser(u"pxuser");
  u->Proxy()->SetPassword(u"pxpass");
  EXPECT_TRUE(u->Execute());
  EXPECT_EQ(u->Status(), isFinished);
  EXPECT_EQ(ReadFileText(local), "through the proxy");
  // The system setting was loaded into the component, port apart.
  EXPECT_TRUE(u->Proxy()->UseProxy());
  EXPECT_EQ(u->Proxy()->Server(), u"127.0.0.1");
  EXPECT_EQ(u->Proxy()->Port(), proxy.Port());
  EXPECT_NE(proxy.LogText().find("via.txt"), std::string::npos) << proxy.LogText();
}

// ---------------------------------------------------------------------------------------------

class FtpUpdate : public ::testing::Test {
protected:
  NoSystemProxy noProxy;
  harness::TempDir dir{"qninet-web"};
  harness::FtpServer ftp;
};

TEST_F(FtpUpdate, DownloadsWithTheAccountSkipsThenResumesWithRest) {
  const std::string body = pattern_bytes(60000);
  fs::create_directories(ftp.Root() / "pub");
  harness::WriteFileBytes(ftp.Root() / "pub" / "file.bin", body);
  const fs::path local = dir.File("file.bin");
  auto u = make_updater(isFTP, ftp.Port(), "/pub/file.bin", local);
  u->SetUser(FromUtf8(ftp.User()));
  u->SetPassword(FromUtf8(ftp.Password()));
  EXPECT_TRUE(u->Execute());
  EXPECT_EQ(u->Status(), isFinished) << ToUtf8(u->LastErrorText());
  EXPECT_EQ(u->RemoteFileSize(), body.size());
  EXPECT_EQ(ReadFileText(local), body);
  EXPECT_NE(u->RemoteFileCreated(), 0);
  EXPECT_TRUE(u->Execute());
  EXPECT_EQ(u->Status(), isSkipped);

  // A partial file of this version: only a transfer that starts at byte 25000 gives 35000
  // new bytes and the whole file.
  fs::remove(local);
  harness::WriteFileBytes(dir.File("file.bin.part"), body.substr(0, 25000));
  EXPECT_TRUE(sys::set_file_write_time(dir.File("file.bin.part").string(), u->RemoteFileCreated()));
  u->SetResumeDownload(true);
  std::uint64_t last = 0;
  u->SetOnProgress([&](TObject*, std::uint64_t cur, std::uint64_t, bool&) { last = cur; });
  EXPECT_TRUE(u->Execute());
  EXPECT_EQ(u->Status(), isFinished) << ToUtf8(u->LastErrorText());
  EXPECT_EQ(last, 35000u);
  EXPECT_EQ(ReadFileText(local), body);
  EXPECT_FALSE(fs::exists(dir.File("file.bin.part")));
}

TEST_F(FtpUpdate, AnonymousMissingFileAndRefusedLogin) {
  harness::WriteFileBytes(ftp.Root() / "open.txt", "for everyone");
  const fs::path local = dir.File("open.txt");
  auto anon = make_updater(isFTP, ftp.Port(), "/open.txt", local);
  EXPECT_TRUE(anon->Execute());
  EXPECT_EQ(anon->Status(), isFinished) << ToUtf8(anon->LastErrorText());
  EXPECT_EQ(ReadFileText(local), "for everyone");

  auto missing = make_updater(isFTP, ftp.Port(), "/nothing.txt", local);
  EXPECT_TRUE(missing->Execute());
  EXPECT_EQ(missing->Status(), isNotFound);

  auto refused = make_updater(isFTP, ftp.Port(), "/open.txt", local);
  refused->SetUser(FromUtf8(ftp.User()));
  refused->SetPassword(u"wrong");
  EXPECT_FALSE(refused->Execute());
  EXPECT_EQ(refused->Status(), isFailed);
  EXPECT_EQ(ReadFileText(local), "for everyone");
}

// ---------------------------------------------------------------------------------------------

TEST(NetworkUpdate, CopiesAFolderFileAndResumesBySeeking) {
  harness::TempDir share{"qninet-share"};
  harness::TempDir dir{"qninet-web"};
  const std::string body = pattern_bytes(30000);
  const fs::path source = share.Write("tool.bin", body);
  const fs::path local = dir.File("tool.bin");
  TQNWebUpdater u(nullptr);
  u.SetService(isNetwork);
  u.SetRemoteFileName(FromUtf8(source.string()));
  u.SetLocalFileName(FromUtf8(local.string()));
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isFinished);
  EXPECT_EQ(ReadFileText(local), body);
  EXPECT_EQ(*sys::file_write_time(local.string()), *sys::file_write_time(source.string()));
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isSkipped);

  fs::remove(local);
  harness::WriteFileBytes(dir.File("tool.bin.part"), body.substr(0, 10000));
  EXPECT_TRUE(
      sys::set_file_write_time(dir.File("tool.bin.part").string(), *sys::file_write_time(source.string())));
  u.SetResumeDownload(true);
  std::uint64_t last = 0;
  u.SetOnProgress([&](TObject*, std::uint64_t cur, std::uint64_t, bool&) { last = cur; });
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(last, 20000u);
  EXPECT_EQ(ReadFileText(local), body);

  u.SetRemoteFileName(FromUtf8((share.Path() / "absent.bin").string()));
  EXPECT_TRUE(u.Execute());
  EXPECT_EQ(u.Status(), isNotFound);
}
