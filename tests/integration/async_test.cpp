// Asynchronous runs under the console and scripted backends against nginx and a scripted WHOIS
// server, and the synchronous run on fifty threads at once: the ThreadSanitizer job's tests.

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "harness/Nginx.h"
#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "qninet/core/QNILogOn.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/rtl/TypInfo.h"
#include "qninet/socket/QNIHTTP.h"
#include "qninet/socket/QNWhoIs.h"
#include "qninet/web/qniimage.h"
#include "qninet/web/qniupdate.h"
#include "support/NoSystemProxy.h"

namespace fs = std::filesystem;
using namespace qninet;
using namespace std::chrono_literals;
using harness::ReadFileText;
using harness::Script;
using harness::ScriptedServer;

namespace {

// A WHOIS server that answers each query line with a text naming it.
ScriptedServer whois_server() {
  return ScriptedServer(
      std::vector<Script>{Script().Reply(
          [](const std::string& r) { return r.find("\r\n") != std::string::npos; },
          [](const std::string& r) { return "Domain: " + r.substr(0, r.find("\r\n")) + "\r\n"; })},
      ScriptedServer::Family::IPv4, 10s, true);
}

std::unique_ptr<TQNWhoIs> whois_for(const ScriptedServer& server, const std::string& domain) {
  auto w = std::make_unique<TQNWhoIs>(nullptr);
  w->SetAutoSelectServer(false);
  w->SetHost(u"127.0.0.1");
  w->SetPort(server.Port());
  w->SetDomain(FromUtf8(domain));
  return w;
}

std::unique_ptr<TQNWebUpdater> updater_for(const harness::Nginx& nginx, const std::string& path,
                                           const fs::path& local) {
  auto u = std::make_unique<TQNWebUpdater>(nullptr);
  u->SetURL(FromUtf8(nginx.Url(path)));
  u->SetLocalFileName(FromUtf8(local.string()));
  u->SetLoadSystemProxy(false);
  return u;
}

bool until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
  return gui::Services().RunUntil(done, static_cast<std::uint32_t>(limit.count()));
}

struct AsyncPeers : ::testing::Test {
  static void SetUpTestSuite() {
    try {
      nginx = std::make_unique<harness::Nginx>();
      nginx->AddLocation("location /slow/ { limit_rate 2m; }");
      nginx->AddLocation("location /trickle/ { limit_rate 1k; }");
      nginx->WriteLargeFile("a.bin", 300000);
      nginx->WriteLargeFile("slow/big.bin", 32 << 20);
      nginx->WriteFile("trickle/key.bmp", key_bitmap());
      for (int i = 0; i < 50; i += 2) nginx->WriteFile(std::to_string(i), "file " + std::to_string(i));
      nginx->Start();
    } catch (const harness::Unavailable& e) {
      reason = e.what();
      nginx.reset();
    }
  }
  static void TearDownTestSuite() { nginx.reset(); }
  void SetUp() override {
    if (!nginx) GTEST_SKIP() << reason;
  }
  static inline std::unique_ptr<harness::Nginx> nginx;
  static inline std::string reason;
  test_support::NoSystemProxy noProxy;
  harness::TempDir dir;
};

// What a run leaves readable is the same whether it ran synchronously or asynchronously (two
// components at once here); the asynchronous runs raise every event on this thread and OnDone once.
TEST_F(AsyncPeers, ExecuteAsyncAndWaitGiveWhatExecuteGives) {
  ScriptedServer whois = whois_server();
  std::vector<std::thread::id> events;
  int done = 0;
  const auto outcome = [&](bool async) {
    const fs::path local = dir.File(async ? "async.bin" : "sync.bin");
    auto u = updater_for(*nginx, "/a.bin", local);
    auto w = whois_for(whois, "example.test");
    u->SetOnProgress(
        [&](TObject*, std::uint64_t, std::uint64_t, bool&) { events.push_back(std::this_thread::get_id()); });
    w->SetOnAfterExecute([&](TObject*, String&) { events.push_back(std::this_thread::get_id()); });
    const auto ended = [&](TObject*, bool ok) { done += ok ? 1 : 100; };
    u->SetOnDone(ended);
    w->SetOnDone(ended);
    String answer;
    if (async) {
      u->ExecuteAsync();
      w->ExecuteAsync();
      u->Wait();
      w->Wait();
      answer = w->Answer();
    } else {
      EXPECT_TRUE(u->Execute());
      answer = w->Execute();
    }
    return std::to_string(u->Status()) + ReadFileText(local) + ToUtf8(answer);
  };
  const std::string expected = outcome(false);
  const std::size_t syncEvents = events.size();
  events.clear();
  EXPECT_EQ(outcome(true), expected);
  EXPECT_EQ(done, 2);
  EXPECT_EQ(events.size(), syncEvents);
  for (const auto& id : events) EXPECT_EQ(id, std::this_thread::get_id());
}

// A busy component refuses a second run and every property write; deleted mid-download it cancels
// and joins at once, the old file staying, no temporary file left, nginx seeing the connection end.
TEST_F(AsyncPeers, BusyComponentRefusesAndItsDeletionEndsTheTransfer) {
  const fs::path local = dir.File("big.bin");
  harness::WriteFileBytes(local, "old");
  auto* u = updater_for(*nginx, "/slow/big.bin", local).release();
  std::uint64_t received = 0;
  u->SetOnProgress([&](TObject*, std::uint64_t cur, std::uint64_t, bool&) { received = cur; });
  u->ExecuteAsync();
  ASSERT_TRUE(until([&] { return received > (1 << 20); }, 20s));
  // A socket client and a remote image, busy too: the setters of derived classes guard as well.
  TQNIHTTPClient http(nullptr);
  http.SetAction(haGet);
  http.SetHost(u"127.0.0.1");
  http.SetPort(nginx->Port());
  http.SetRequest(u"/slow/big.bin");
  http.ExecuteAsync();
  TQNRemoteImage image(nullptr);
  image.SetURL(FromUtf8(nginx->Url("/trickle/key.bmp")));
  image.ExecuteAsync();
  const std::function<void()> refused[] = {
      [&] { u->ExecuteAsync(); },
      [&] { u->Execute(); },
      [&] { u->SetHost(u"other"); },
      [&] { SetPropValue(*u, "Timeout", Variant(Int64(5))); },
      // the derived classes' own setters
      [&] { u->SetExpectedSHA256(u""); },
      [&] { http.SetRequest(u"/a.bin"); },
      [&] { image.SetInterval(5); },
  };
  for (std::size_t row = 0; row < std::size(refused); ++row)
    EXPECT_THROW(refused[row](), EInvalidOperation) << "row " << row;
  const auto before = std::chrono::steady_clock::now();
  delete u;
  EXPECT_LT(std::chrono::steady_clock::now() - before, 3s);
  EXPECT_EQ(ReadFileText(local), "old");
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.Path()), fs::directory_iterator()), 1);
  // nginx writes the request's line when the connection has ended, with the bytes it sent.
  EXPECT_TRUE(until([&] { return nginx->AccessLog().find("/slow/big.bin") != std::string::npos; }, 10s));
  EXPECT_EQ(nginx->AccessLog().find(std::to_string(32 << 20)), std::string::npos);
}

// The remote image's timer ticks far faster than a run lasts: runs follow one another, never
// overlap, and no tick finds its component running (that would show a message box).
TEST_F(AsyncPeers, RemoteImageRunsNeverOverlap) {
  gui::TScriptedGui gui;
  TForm form(nullptr);
  auto* image = new TImage(&form);
  TQNRemoteImage remote(nullptr);
  remote.SetURL(FromUtf8(nginx->Url("/trickle/key.bmp")));
  remote.SetLoadSystemProxy(false);
  remote.SetImage(image);
  remote.SetOnFileCompare([](TObject*, bool& equal) { equal = false; });  // every run downloads
  int running = 0, most = 0, finished = 0;
  remote.SetOnBeforeExecute([&](TObject*) { most = std::max(most, ++running); });
  remote.SetOnDone([&](TObject*, bool ok) {
    --running;
    finished += ok;
  });
  remote.SetInterval(10);
  remote.Start();
  EXPECT_TRUE(until([&] { return finished >= 2; }, 20s));
  remote.Stop();
  EXPECT_TRUE(until([&] { return !remote.Busy(); }, 10s));
  EXPECT_EQ(most, 1);
  EXPECT_TRUE(gui.Messages().empty());
  ASSERT_FALSE(image->Picture()->Empty());
  EXPECT_EQ(image->Picture()->Graphic()->Width(), 24);
}

// Fifty threads with a component each, half fetching from nginx, half asking WHOIS: own answers.
TEST_F(AsyncPeers, FiftyThreadsEachWithItsOwnComponent) {
  ScriptedServer whois = whois_server();
  std::vector<std::string> answers(50);
  std::vector<std::thread> threads;
  for (int i = 0; i < 50; ++i)
    threads.emplace_back([&, i] {
      const std::string n = std::to_string(i);
      if (i % 2) return void(answers[i] = ToUtf8(whois_for(whois, "host" + n)->Execute()));
      auto u = updater_for(*nginx, "/" + n, dir.File(n));
      answers[i] = u->Execute() ? ReadFileText(dir.File(n)) : ToUtf8(u->LastErrorText());
    });
  for (auto& t : threads) t.join();
  for (int i = 0; i < 50; ++i)
    EXPECT_EQ(answers[i], (i % 2 ? "Domain: host" : "file ") + std::to_string(i) + (i % 2 ? "\r\n" : ""));
}

}  // namespace
