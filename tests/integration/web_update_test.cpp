// The web updater against nginx (HTTP, HTTPS), pyftpdlib, tinyproxy, the service fixture's Digest
// path and a folder as a share, and a scripted server for answers no real server gives: one table
// of (server and file, properties, local file before, each run's Status, file after, requests).

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <functional>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "harness/FtpServer.h"
#include "harness/Nginx.h"
#include "harness/ScriptedServer.h"
#include "harness/ServiceFixture.h"
#include "harness/TempDir.h"
#include "harness/TinyProxy.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/sys/Files.h"
#include "qninet/sys/Settings.h"
#include "qninet/web/qniupdate.h"
#include "support/NoSystemProxy.h"

namespace fs = std::filesystem;
using namespace qninet;
using harness::ReadFileText;
using harness::Script;
using harness::ScriptedServer;
using namespace std::chrono_literals;

namespace {

std::string pattern(std::size_t n) { return harness::WebServer::Pattern(n); }

std::vector<std::string> names_in(const fs::path& dir) {
  std::vector<std::string> n;
  for (const auto& e : fs::directory_iterator(dir)) n.push_back(e.path().filename().string());
  std::sort(n.begin(), n.end());
  return n;
}

// A file's time cut to whole seconds, as Last-Modified and MDTM carry it, set on both files.
std::int64_t same_time(const fs::path& remote, const fs::path& local) {
  std::int64_t t = *sys::file_write_time(remote.string());
  t -= t % 10000000;
  for (const fs::path& f : {remote, local})
    EXPECT_TRUE(!fs::exists(f) || sys::set_file_write_time(f.string(), t));
  return t;
}

const std::string kDate = "Last-Modified: Sat, 01 Jun 2024 10:00:00 GMT\r\n";
const std::string kChallenge =
    "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Basic realm=\"f\"\r\nContent-Length: 0\r\n\r\n";
const std::string k404 = "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n";

Script answer(const std::string& reply) { return Script().ReadUntil("\r\n\r\n").Send(reply).Close(); }
std::string head(const std::string& length) {
  return "HTTP/1.0 200 OK\r\n" + (length.empty() ? "" : "Content-Length: " + length + "\r\n") + kDate +
         "\r\n";
}

enum Peer { kHttp, kHttps, kFtp, kShare, kDigest, kScripted };

struct Peers {
  harness::Nginx Nginx{true};
  harness::FtpServer Ftp;
  harness::ServiceFixture Fixture;
  harness::TinyProxy Proxy{harness::TinyProxy::Options{"pxuser", "pxpass", {}}};
  harness::TempDir Share{"qninet-share"};
  Peers() {
    Nginx.WriteFile("pub/file.bin", pattern(10000));
    Nginx.WriteFile("empty.bin", "");
    Nginx.WriteFile("a.txt", "new content");
    Nginx.WriteLargeFile("big.bin", 1024 * 1024 + 777);
    Nginx.AddBasicAuthLocation("/private/", "joe", "s3cret");
    Nginx.WriteFile("private/f.txt", "members only");
    Nginx.Start();
    harness::WriteFileBytes(Ftp.Root() / "pub/file.bin", pattern(60000));
    harness::WriteFileBytes(Ftp.Root() / "open.txt", "for everyone");
    Share.Write("tool.bin", pattern(30000));
  }
};

// One row's run: the component, its folder and what its events saw.
struct Ctx {
  TQNWebUpdater& U;
  Peers& P;
  ScriptedServer* S;
  fs::path Local;
  gui::TScriptedGui& Gui;
  std::vector<TQNIAction> Actions = {};
  std::vector<TQNIStatus> Statuses = {};          // each OnStatusChange
  std::uint64_t Calls = 0, Last = 0, Max = 0;     // progress of the last run
  std::function<bool(std::uint64_t)> Abort = {};  // from the progress event
  std::thread Canceller = {};
  std::size_t Mark = 0;  // the requests a peer had seen before the row
};

struct Want {
  const char* Name;
  Peer On;
  std::string Remote;
  std::vector<TQNIStatus> Runs;       // each run's Status, one Execute each
  std::optional<std::string> After;   // the local file after the last run (none: no file)
  std::optional<std::string> Before;  // the local file before the first run
  std::vector<Script> Scripts = {};
  std::vector<std::pair<const char*, const char*>> Sent = {};  // method and Authorization per request
  const char16_t* Error = nullptr;  // the component's own text for the last run's failure
};

struct Row {
  Want W;
  std::function<void(Ctx&)> Set = {};
  std::function<void(Ctx&)> Check = {};
};

const std::string kRequest = " /file.bin HTTP/1.0\r\nHost: 127.0.0.1:";
const char16_t* kServerAuth = u"HTTP Server authorization required";

void creds(Ctx& r, const char16_t* user, const char16_t* pw) { r.U.SetUser(user), r.U.SetPassword(pw); }

// The system's proxy and the named one; the server is asked for 127.0.0.1:9 through either.
void proxies(Ctx& r, const std::string& system, std::uint16_t named, bool load) {
  sys::set_proxy_setting_override(sys::ProxySetting{FromUtf8(system), true});
  r.U.Proxy()->SetUseProxy(true);
  r.U.Proxy()->SetServer(u"127.0.0.1");
  r.U.Proxy()->SetPort(named);
  r.U.SetLoadSystemProxy(load);
  r.U.SetPort(9);
}

// A partial file of `kept` bytes of the served file, both stamped alike, and a resumed run.
void resume_from(Ctx& r, const fs::path& served, std::size_t kept) {
  harness::WriteFileBytes(r.Local.string() + ".part", pattern(kept));
  same_time(served, r.Local.string() + ".part");
  r.U.SetResumeDownload(true);
}

// The access log's user and status per line ("-" for a request without credentials).
std::vector<std::string> auth_log(const std::string& log) {
  std::vector<std::string> seen;
  std::istringstream in(log);
  for (std::string line; std::getline(in, line);) {
    std::istringstream f(line);
    std::string addr, dash, user, when, zone, method, target, version, status;
    f >> addr >> dash >> user >> when >> zone >> method >> target >> version >> status;
    seen.push_back(user + " " + status);
  }
  return seen;
}

const std::size_t kBig = 1024 * 1024 + 777;

// clang-format off
const Row kRows[] = {
    {{"download, then skip after a HEAD", kHttp, "/pub/file.bin", {isFinished, isSkipped}, pattern(10000), {}}, {},
     [](Ctx& r) {
       const TFileTime served = *sys::file_write_time((r.P.Nginx.DocRoot() / "pub/file.bin").string());
       EXPECT_EQ(r.U.RemoteFileCreated(), served - served % 10000000);  // whole seconds
       EXPECT_EQ(*sys::file_write_time(r.Local.string()), r.U.RemoteFileCreated());
       EXPECT_EQ(r.U.RemoteFileSize(), 10000u);
       const std::vector<TQNIAction> skip{iaConnecting, iaConnected, iaFileSearch, iaFileFound, iaComparing,
                                          iaCompared, iaDisconnecting, iaDisconnected};
       auto download = skip;
       download.insert(download.begin() + 6, {iaDownloading, iaDownloaded});
       download.insert(download.end(), skip.begin(), skip.end());
       EXPECT_EQ(r.Actions, download);
       const std::string log = r.P.Nginx.AccessLog();
       EXPECT_NE(log.find("\"HEAD /pub/file.bin HTTP/1.0\" 200 0 "), std::string::npos) << log;
       EXPECT_EQ(log.find("\"GET /pub/file.bin HTTP/1.0\" 200 10000 "), log.rfind("\"GET ")) << log;
     }},
    {{"a remote size of 0 is never downloaded", kHttp, "/empty.bin", {isSkipped}, {}, {}}},
    {{"OnFileCompare forces a download", kHttp, "/a.txt", {isFinished}, "new content", "local edit!"},
     [](Ctx& r) {
       EXPECT_TRUE(sys::set_file_write_time(r.Local.string(), same_time(r.P.Nginx.DocRoot() / "a.txt", {}) + 10000000));
       r.U.SetOnFileCompare([](TObject*, bool& equal) { equal = !equal; });
     }},
    {{"OnFileCompare prevents a download", kHttp, "/a.txt", {isSkipped}, {}, {}},
     [](Ctx& r) { r.U.SetOnFileCompare([](TObject*, bool& equal) { equal = true; }); }},
    {{"progress once per block", kHttp, "/big.bin", {isFinished}, pattern(kBig), "old"}, {},
     [](Ctx& r) { EXPECT_EQ(std::tuple(r.Calls, r.Last, r.Max), std::tuple((kBig + kQNIBlockSize - 1) / kQNIBlockSize, kBig, kBig)); }},
    {{"cancel from the progress event", kHttp, "/big.bin", {isFailed}, "old", "old"},
     [](Ctx& r) { r.Abort = [&r](std::uint64_t) { return r.Calls == 3; }; }, [](Ctx& r) { EXPECT_EQ(r.Calls, 3u); }},
    {{"the status form's Cancel button", kHttp, "/big.bin", {isFailed}, {}, {}},
     [](Ctx& r) {
       r.U.StatusDialog()->SetEnabled(true);
       r.Gui.SetOnMessages([](TForm& form) {
         auto* f = dynamic_cast<TfrmQNInetUpdate*>(&form);
         if (f && f->pbStatus->Position() > 10000) f->btnCancel->Click();
       });
     },
     [](Ctx& r) {
       EXPECT_LT(r.Last, kBig);
       EXPECT_TRUE(r.Gui.ModelessForms().empty());
       ASSERT_FALSE(r.Gui.ShownForms().empty());
       EXPECT_EQ(r.Gui.ShownForms().back().Caption, u"Software update");
     }},
    {{"HTTP resumes with a Range", kHttp, "/big.bin", {isFinished}, pattern(kBig), {}},
     [](Ctx& r) { resume_from(r, r.P.Nginx.DocRoot() / "big.bin", 20000); }, [](Ctx& r) { EXPECT_EQ(r.Last, kBig - 20000); }},
    {{"Basic: wrong, then right", kHttp, "/private/f.txt", {isFailed, isFinished}, "members only", {}},
     [](Ctx& r) {
       creds(r, u"joe", u"wrong");
       r.Mark = auth_log(r.P.Nginx.AccessLog()).size();
       r.U.SetOnAfterExecute([&r](TObject*) { r.U.SetPassword(u"s3cret"); });
     },
     [](Ctx& r) {  // each run's first request goes without credentials; they follow the 401
       const auto seen = auth_log(r.P.Nginx.AccessLog());
       ASSERT_GE(seen.size(), r.Mark + 4);
       EXPECT_EQ(std::vector<std::string>(seen.begin() + r.Mark, seen.begin() + r.Mark + 4),
                 (std::vector<std::string>{"- 401", "joe 401", "- 401", "joe 200"}));
       EXPECT_EQ(seen.back(), "joe 200");
     }},
    {{"Basic: the prompt confirmed", kHttp, "/private/f.txt", {isFinished}, "members only", {}},
     [](Ctx& r) {
       r.U.SetLoginPrompt(true);
       r.Gui.AnswerNextModal({mrOk, {{u"edLogin", u"joe"}, {u"edPassword", u"s3cret"}}, {}});
     },
     [](Ctx& r) {
       ASSERT_EQ(r.Gui.ShownForms().size(), 1u);
       EXPECT_EQ(r.Gui.ShownForms()[0].Caption, u"HTTP Server authorization");
       EXPECT_EQ(r.U.User(), u"joe");
     }},
    {{"Basic: the prompt cancelled", kHttp, "/private/f.txt", {isFailed}, {}, {}},
     [](Ctx& r) { r.U.SetLoginPrompt(true); }, [](Ctx& r) { EXPECT_EQ(r.Gui.ShownForms().size(), 1u); }},
    {{"Digest: wrong, then right", kDigest, "/auth/digest/d.txt", {isFailed, isFinished}, "protected /auth/digest/d.txt", {}},
     [](Ctx& r) {
       creds(r, u"joe", u"wrong");
       r.Mark = r.P.Fixture.Exchanges().size();
       r.U.SetOnAfterExecute([&r](TObject*) { r.U.SetPassword(u"pw"); });
     },
     [](Ctx& r) {
       const auto requests = r.P.Fixture.Exchanges();
       ASSERT_GE(requests.size(), r.Mark + 2);
       EXPECT_FALSE(requests[r.Mark].Header("Authorization"));
       EXPECT_EQ(requests[r.Mark + 1].Header("Authorization").value_or("").rfind("Digest username=\"joe\"", 0), 0u);
     }},
    {{"HTTPS: the CA in the environment", kHttps, "/pub/file.bin", {isFinished}, pattern(10000), {}},
     [](Ctx& r) { ::setenv("QNINET_CA_FILE", r.P.Nginx.CA()->CaCert().c_str(), 1); }, [](Ctx&) { ::unsetenv("QNINET_CA_FILE"); }},
    {{"proxy: 407, then credentials", kHttp, "/a.txt", {isFailed, isFinished}, "new content", {}},
     [](Ctx& r) {
       sys::set_proxy_setting_override(sys::ProxySetting{FromUtf8("127.0.0.1:" + std::to_string(r.P.Proxy.Port())), true});
       r.U.SetOnAfterExecute([&r](TObject*) {
         if (r.U.Status() != isFailed) return;
         EXPECT_EQ(r.U.LastErrorText(), u"Proxy Server authorization required");
         r.U.Proxy()->SetUser(u"pxuser");
         r.U.Proxy()->SetPassword(u"pxpass");
       });
     },
     [](Ctx& r) {
       EXPECT_TRUE(r.U.Proxy()->UseProxy());  // the system setting was loaded, port apart
       EXPECT_EQ(r.U.Proxy()->Port(), r.P.Proxy.Port());
       EXPECT_NE(r.P.Proxy.LogText().find("a.txt"), std::string::npos);
     }},
    {{"FTP resumes with REST", kFtp, "/pub/file.bin", {isFinished}, pattern(60000), {}},
     [](Ctx& r) { resume_from(r, r.P.Ftp.Root() / "pub/file.bin", 25000); }, [](Ctx& r) { EXPECT_EQ(r.Last, 35000u); }},
    {{"FTP login refused", kFtp, "/open.txt", {isFailed}, "old", "old"}, [](Ctx& r) { creds(r, u"tester", u"no"); }},
    {{"share: copy, then skip", kShare, "tool.bin", {isFinished, isSkipped}, pattern(30000), {}}, {},
     [](Ctx& r) {  // the first run fires no change for isInProgress, the status it starts in
       EXPECT_EQ(r.Statuses, (std::vector<TQNIStatus>{isFinished, isInProgress, isSkipped}));
       EXPECT_EQ(*sys::file_write_time(r.Local.string()), *sys::file_write_time((r.P.Share.Path() / "tool.bin").string()));
     }},
    {{"a share resumes by seeking", kShare, "tool.bin", {isFinished}, pattern(30000), {}},
     [](Ctx& r) { resume_from(r, r.P.Share.Path() / "tool.bin", 10000); }, [](Ctx& r) { EXPECT_EQ(r.Last, 20000u); }},
    {{"a share without the file", kShare, "absent.bin", {isNotFound}, {}, {}}},
    // Credentials go only in answer to a challenge, once.
    {{"a challenge answered once, then refused", kScripted, "", {isFailed}, {}, {}, {answer(kChallenge), answer(kChallenge)},
      {{"HEAD", ""}, {"HEAD", "am9lOnB3"}}, kServerAuth}, [](Ctx& r) { creds(r, u"joe", u"pw"); }},
    {{"a challenge without credentials", kScripted, "", {isFailed}, {}, {}, {answer(kChallenge)}, {{"HEAD", ""}}, kServerAuth}},
    {{"a 401 without a challenge", kScripted, "", {isFailed}, {}, {}, {answer("HTTP/1.0 401 No\r\nContent-Length: 0\r\n\r\n")},
      {{"HEAD", ""}}, kServerAuth}, [](Ctx& r) { creds(r, u"joe", u"pw"); }},
    {{"up to date after a HEAD alone", kScripted, "", {isSkipped}, "fresh", "fresh", {answer(head("5"))}, {{"HEAD", ""}}}},
    {{"a refused HEAD falls back to GET", kScripted, "", {isSkipped}, "fresh", "fresh",
      {answer("HTTP/1.0 405 No\r\nContent-Length: 0\r\n\r\n"), answer(head("5") + "fresh")}, {{"HEAD", ""}, {"GET", ""}}}},
    {{"an unreadable status is retried once", kScripted, "", {isFailed}, {}, {},
      {Script().ReadUntil("\r\n\r\n").Close(), Script().ReadUntil("\r\n\r\n").Close()}, {{"HEAD", ""}, {"HEAD", ""}}}},
    {{"a length that is no number", kScripted, "", {isFinished}, "abc", "kept", {answer(head("lots")), answer(head("lots") + "abc")}},
     {}, [](Ctx& r) { EXPECT_EQ(r.U.RemoteFileSize(), kQNIUnknownSize); }},
    {{"no length is size 0: skipped", kScripted, "", {isSkipped}, {}, {}, {answer(head("") + "zz")}}},
    {{"no length, forced: no percentages", kScripted, "", {isFinished}, std::string(5000, 'z'), {},
      {answer(head("")), answer(head("") + std::string(5000, 'z'))}},
     [](Ctx& r) { r.U.SetOnFileCompare([](TObject*, bool& equal) { equal = false; }); },
     [](Ctx& r) { EXPECT_EQ(std::pair(r.Max, r.Last), std::pair(std::uint64_t{0}, std::uint64_t{5000})); }},
    {{"410 is not found", kScripted, "", {isNotFound}, {}, {}, {answer("HTTP/1.0 410 Gone\r\n\r\ngone")}}},
    {{"403 fails", kScripted, "", {isFailed}, "old", "old", {answer("HTTP/1.0 403 No\r\n\r\nno")}}},
    {{"Cancel from a thread", kScripted, "", {isFailed}, "old", "old",
      {answer(head("90000")), Script().ReadUntil("\r\n\r\n").Send(head("90000") + std::string(5000, 'y')).HoldOpen()}},
     [](Ctx& r) {
       r.U.SetTimeout(0);
       r.Abort = [&r](std::uint64_t) {
         if (!r.Canceller.joinable()) r.Canceller = std::thread([&r] { std::this_thread::sleep_for(200ms), r.U.Cancel(); });
         return false;
       };
     }},
    // The system's proxy replaces the named one unless LoadSystemProxy keeps it out.
    {{"system proxy over the named one", kScripted, "", {isNotFound}, {}, {}, {answer(k404)}},
     [](Ctx& r) { proxies(r, r.S->Authority(), 1, true); }, [](Ctx& r) { EXPECT_EQ(r.U.Proxy()->Port(), r.S->Port()); }},
    {{"LoadSystemProxy false keeps the named proxy", kScripted, "", {isNotFound}, {}, {}, {answer(k404)}},
     [](Ctx& r) { proxies(r, "127.0.0.1:1", r.S->Port(), false); }},
};
// clang-format on

}  // namespace

TEST(WebUpdate, EachAnswerGivesItsStatusAndLocalFile) {
  test_support::NoSystemProxy noProxy;
  Peers peers;
  for (const Row& row : kRows) {
    const Want& w = row.W;
    SCOPED_TRACE(w.Name);
    harness::TempDir dir{"qninet-web"};
    const fs::path local = dir.File("file.bin");
    if (w.Before) harness::WriteFileBytes(local, *w.Before);
    std::optional<ScriptedServer> server;
    if (w.On == kScripted) server.emplace(w.Scripts);
    const std::uint16_t ports[] = {peers.Nginx.Port(),   peers.Nginx.HttpsPort(),
                                   peers.Ftp.Port(),     0,
                                   peers.Fixture.Port(), server ? server->Port() : std::uint16_t{0}};
    const TQNIService services[] = {isHTTP, isHTTPS, isFTP, isNetwork, isHTTPS, isHTTP};
    TQNWebUpdater u(nullptr);
    u.SetService(services[w.On]);
    u.SetHost(u"127.0.0.1");
    u.SetPort(ports[w.On]);
    u.SetRemoteFileName(FromUtf8(w.On == kShare ? (peers.Share.Path() / w.Remote).string()
                                                : (w.On == kScripted ? "/file.bin" : w.Remote)));
    if (w.On == kDigest) u.SetCAFile(FromUtf8(peers.Fixture.CaFile()));
    u.SetLocalFileName(FromUtf8(local.string()));
    u.SetLoginPrompt(false);
    u.SetTimeout(w.On == kScripted ? 3000 : 15000);
    gui::TScriptedGui gui;  // with no answer queued a prompt is cancelled
    Ctx r{u, peers, server ? &*server : nullptr, local, gui};
    u.SetOnActionChange([&](TObject*) { r.Actions.push_back(u.Action()); });
    u.SetOnStatusChange([&](TObject*) { r.Statuses.push_back(u.Status()); });
    u.SetOnProgress([&](TObject*, std::uint64_t cur, std::uint64_t max, bool& abort) {
      ++r.Calls, r.Last = cur, r.Max = max;
      if (r.Abort) abort = r.Abort(cur);
    });
    if (row.Set) row.Set(r);
    for (const TQNIStatus want : w.Runs) {
      r.Calls = 0;
      EXPECT_EQ(u.Execute(), want != isFailed);
      EXPECT_EQ(u.Status(), want);
      if (want == isFailed) {
        EXPECT_FALSE(u.LastErrorText().empty());
      }
    }
    if (r.Canceller.joinable()) r.Canceller.join();
    if (w.Error != nullptr) {
      EXPECT_EQ(u.LastErrorText(), w.Error);
    }
    if (row.Check) row.Check(r);
    sys::set_proxy_setting_override(sys::ProxySetting{});
    EXPECT_EQ(fs::exists(local) ? std::optional(ReadFileText(local)) : std::nullopt, w.After);
    // Nothing beside the target: no temporary file, no partial file of a finished run.
    EXPECT_EQ(names_in(dir.Path()),
              fs::exists(local) ? std::vector<std::string>{"file.bin"} : std::vector<std::string>{});
    if (!server) continue;
    server->Stop();
    if (!w.Sent.empty()) {
      EXPECT_EQ(server->ConnectionCount(), w.Sent.size());
    }
    for (std::size_t i = 0; i < w.Sent.size(); ++i) {
      const std::string auth = w.Sent[i].second;
      EXPECT_EQ(server->Received(i), w.Sent[i].first + kRequest + std::to_string(server->Port()) + "\r\n" +
                                         (auth.empty() ? "" : "Authorization: Basic " + auth + "\r\n") +
                                         "User-Agent: Veltraxon WebUpdater\r\nAccept: */*\r\n\r\n");
    }
  }
}
