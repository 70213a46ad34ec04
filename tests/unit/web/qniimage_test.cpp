// The remote image with the scripted backend: pictures by extension, the timer's re-arming, the
// private temporary file, and the image control going away.

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <utility>

#include "harness/ScriptedServer.h"
#include "harness/TempDir.h"
#include "qninet/rtl/GuiScripted.h"
#include "qninet/socket/QNWhoIs.h"
#include "qninet/web/qniimage.h"

using namespace qninet;
using qninet::harness::Script;
using qninet::harness::ScriptedServer;
using qninet::harness::TempDir;
namespace fs = std::filesystem;

namespace {

// The smallest PNG head the picture reader needs: signature and IHDR with the size.
std::string png(unsigned w, unsigned h) {
  std::string b("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16);
  for (unsigned v : {w, h})
    for (int shift = 24; shift >= 0; shift -= 8) b.push_back(static_cast<char>(v >> shift & 0xFF));
  return b + std::string(8, '\0');
}

}  // namespace

// A picture file is read by the reader its extension names, in any case (its size from the
// header); other bytes are refused and leave the picture empty; a copy holds its own graphic.
// Each row expects "format WxH", or a piece of the error. (An unknown extension: the program's
// image rows.)
TEST(Picture, FormatFollowsTheExtension) {
  TempDir dir("qninet-picture");
  const std::string gif = "GIF89a" + std::string("\x10\x00\x20\x00", 4);
  const std::tuple<const char*, std::string, const char*> cases[] = {
      {"b.PNG", png(3, 2), "png 3x2"},
      {"g.gif", gif, "gif 16x32"},
      {"c.jpg", png(3, 2), "holds no jpeg picture"},
      {"e.png", "not a picture", "holds no png picture"},
  };
  for (const auto& [name, bytes, expected] : cases) {
    TPicture p;
    std::string got;
    try {
      p.LoadFromFile(FromUtf8(dir.Write(name, bytes).string()));
      got = p.Graphic()->Format() + " " + std::to_string(p.Graphic()->Width()) + "x" +
            std::to_string(p.Graphic()->Height());
    } catch (const EInvalidGraphic& e) {
      got = e.what();
      EXPECT_TRUE(p.Empty()) << name;
    }
    EXPECT_NE(got.find(expected), std::string::npos) << name << ": " << got;
  }
  TGraphic g;  // from bytes the format is sniffed
  EXPECT_THROW(g.LoadFromBytes("not an image"), EInvalidGraphic);
  EXPECT_TRUE(g.Empty());
  g.LoadFromBytes(gif);
  EXPECT_EQ(g.Format() + " " + std::to_string(g.Width() * 100 + g.Height()), "gif 1632");
  TPicture p, q;
  p.SetGraphic(&g);
  q.Assign(&p);
  EXPECT_EQ(q.Graphic()->Data(), gif);
  EXPECT_NE(q.Graphic(), p.Graphic());
}

TEST(RemoteImage, TimerRunsOneIntervalAfterEachRunAndKeepsOnAFailedOne) {
  gui::TScriptedGui gui;
  TempDir dir("qninet-remote-image");
  const fs::path remote = dir.Write("pic.png", png(4, 5));
  TForm form(nullptr);
  auto* control = new TImage(&form);
  TQNRemoteImage image(nullptr);
  image.SetService(isNetwork);
  image.SetRemoteFileName(FromUtf8(remote.string()));
  image.SetImage(control);
  image.SetInterval(50);
  EXPECT_EQ(gui.Timers().Count(), 0u);

  int runs = 0;
  image.SetOnAfterExecute([&](TObject*) { ++runs; });
  image.Start();
  image.Start();  // hooked once
  EXPECT_EQ(gui.Timers().Count(), 1u);
  EXPECT_EQ(runs, 0);  // the first run comes one interval later
  // Before each tick, and the width shown after it: a failure reported through Status keeps the
  // repetition and the last picture. (A run that raises stops it, with its message: the Qt
  // remote image test and the program's image rows.)
  const std::pair<std::function<void()>, Integer> ticks[] = {
      {[] {}, 4}, {[&] { dir.Write("pic.png", png(7, 5) + "x"); }, 7}, {[&] { fs::remove(remote); }, 7}};
  for (int i = 0; i < 3; ++i) {
    SCOPED_TRACE(i);
    ticks[i].first();
    gui.Timers().FireAll();
    image.Wait();  // the tick's run is asynchronous
    EXPECT_EQ(runs, i + 1);
    EXPECT_EQ(gui.Timers().Count(), 1u);
    EXPECT_EQ(control->Picture()->Graphic()->Width(), ticks[i].second);
  }
  EXPECT_TRUE(gui.Messages().empty());
  image.Stop();
  image.Start();
  EXPECT_EQ(gui.Timers().Count(), 1u);
  image.Stop();
  EXPECT_EQ(gui.Timers().Count(), 0u);
}

TEST(RemoteImage, KeepsAPrivateTemporaryFileAndForgetsADestroyedControl) {
  gui::TScriptedGui gui;
  TempDir dir("qninet-remote-image-files");
  const String remote = FromUtf8(dir.Write("pic.png", png(2, 2)).string());
  auto a = std::make_unique<TQNRemoteImage>(nullptr);
  TQNRemoteImage b(nullptr);
  for (TQNRemoteImage* i : {a.get(), &b}) {
    i->SetService(isNetwork);
    i->SetRemoteFileName(remote);
    ASSERT_TRUE(i->Execute());
  }
  // Two components with the same extension no longer share (and delete) one file.
  ASSERT_NE(a->LocalFileName(), b.LocalFileName());
  EXPECT_TRUE(ToUtf8(a->LocalFileName()).ends_with(".png"));
  const fs::path fileA = ToUtf8(a->LocalFileName()), fileB = ToUtf8(b.LocalFileName());
  a->SetRemoteFileName(remote + u"2");
  EXPECT_FALSE(fs::exists(fileA));
  EXPECT_TRUE(fs::exists(fileB));
  a.reset();
  EXPECT_TRUE(fs::exists(fileB));

  auto control = std::make_unique<TImage>(nullptr);
  b.SetImage(control.get());
  control.reset();
  EXPECT_EQ(b.Image(), nullptr);
  fs::remove(fileB);
  EXPECT_TRUE(b.Execute());  // downloads, loads nothing
  EXPECT_TRUE(fs::exists(fileB));
}

// A download longer than the interval, with the status window processing messages (and so
// due timers) all along: the image's own timer must not start a second run inside it.
TEST(RemoteImage, ARunLongerThanTheIntervalIsNotEnteredAgain) {
  gui::TScriptedGui gui;
  const std::string body = png(4, 5) + std::string(20000, 'x');
  const std::string head = "HTTP/1.0 200 OK\r\nContent-Length: " + std::to_string(body.size()) +
                           "\r\nLast-Modified: Sat, 01 Jun 2024 10:00:00 GMT\r\n\r\n";
  ScriptedServer server(
      {Script().ReadUntil("\r\n\r\n").Sleep(std::chrono::milliseconds(50)).Send(head).Close(),
       Script()
           .ReadUntil("\r\n\r\n")
           .Send(head)
           .SendChunks(body, 1000, std::chrono::milliseconds(15))
           .Close()});
  TForm form(nullptr);
  auto* control = new TImage(&form);
  TQNRemoteImage image(nullptr);
  image.SetURL(FromUtf8("http://127.0.0.1:" + std::to_string(server.Port()) + "/pic.png"));
  image.SetImage(control);
  image.StatusDialog()->SetEnabled(true);
  image.SetInterval(5);
  int runs = 0;
  image.SetOnBeforeExecute([&](TObject*) { ++runs; });
  image.Start();
  EXPECT_TRUE(image.Execute());
  EXPECT_EQ(runs, 1);
  EXPECT_GT(gui.ProcessMessagesCount(), 5);
  EXPECT_EQ(control->Picture()->Graphic()->Width(), 4);
  EXPECT_TRUE(image.TimerEnabled());  // armed again after the run
  EXPECT_TRUE(gui.Messages().empty());
  image.Stop();
}

// A handler that runs its own component again is refused with an error naming it, and the
// running cycle goes on to its end: one guard for the socket and the web families.
TEST(BusyComponent, NestedExecuteFromAHandlerIsRefused) {
  TempDir dir("qninet-busy");
  const Script answer = Script().ReadUntil("\r\n\r\n").Send("Domain: example.com\r\n").Close();
  ScriptedServer server(std::vector<Script>{answer, answer});
  std::string refused;
  const auto nested = [&](auto& c) {
    try {
      c.Execute();
    } catch (const EInvalidOperation& e) {
      refused = e.what();
    }
  };
  TQNWhoIs whois(nullptr);
  whois.SetName(u"QNWhoIs1");
  whois.SetDomain(u"example.com");
  whois.SetHost(u"127.0.0.1");
  whois.SetPort(server.Port());
  whois.SetOnAfterExecute([&](TObject*, String&) { nested(whois); });
  TQNRemoteImage image(nullptr);
  image.SetService(isNetwork);
  image.SetRemoteFileName(FromUtf8(dir.Write("pic.png", png(2, 2) + std::string(9000, 'x')).string()));
  image.SetOnProgress([&](TObject*, std::uint64_t, std::uint64_t, bool&) { nested(image); });
  const std::pair<const char*, std::function<bool()>> cases[] = {
      {"QNWhoIs1 is already running", [&] { return whois.Execute() == u"Domain: example.com\r\n"; }},
      {"TQNRemoteImage is already running", [&] { return image.Execute(); }},
  };
  for (const auto& [refusal, run] : cases) {
    SCOPED_TRACE(refusal);
    refused.clear();
    EXPECT_TRUE(run());
    EXPECT_EQ(refused, refusal);
    EXPECT_TRUE(run());  // the guard ends with the run
  }
}
